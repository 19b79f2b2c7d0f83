// orvel-window-batch-benchmark: the desktop program's batch against
// `orvel-cli optimize` (with its automatic --jobs) on the same photos, in the
// same run, and the time from the stop command until every tool has ended.
// Prints, never judges.
//
//   orvel-window-batch-benchmark [--mode 0-2] [--count N] [--stop-after-ms MS]
//                                FILE|FOLDER...
//
// The batch is `count` numbered copies of the given photos (default 12). The
// window is the real main window, started as the program starts (offscreen
// unless QT_QPA_PLATFORM says otherwise) with the photos as its command-line
// paths; both front-ends use the profile "hoch" and the given mode (default
// 1). Then the window runs the batch once more and, once `stop-after-ms` have
// passed since its start (default 1500) and a tool runs, triggers the Esc
// action; a watcher thread reports
// when the last tool process of ours has ended and the program prints that
// time and the time until the batch call returned. Shares its batch folder
// and timed orvel-cli run with orvel-cli-jobs-benchmark (batch_runs.h).
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/application.h"
#include "benchmarks/cli/batch_runs.h"
#include "core/parallel_batch.h"
#include "core/profiles.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/main/main_commands.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_hooks.h"
#include "ui/main/main_window_state.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int mode = 1;
  int count = 12;
  int stopAfterMs = 1500;
  std::vector<std::string> sources;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--mode" && hasValue) options.mode = std::atoi(argv[++i]);
    else if (argument == "--count" && hasValue) options.count = std::atoi(argv[++i]);
    else if (argument == "--stop-after-ms" && hasValue) options.stopAfterMs = std::atoi(argv[++i]);
    else if (!argument.empty() && argument[0] != '-') options.sources.push_back(argument);
    else return false;
  }
  return options.mode >= 0 && options.mode <= 2 && options.count > 0 && !options.sources.empty();
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Our live child processes (the tools); zombies have ended and do not count.
int LiveChildCount() {
  const std::string parent = std::to_string(::getpid());
  int count = 0;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return -1;
  while (const dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::string stat;
    if (!ReadFileBytes(std::string("/proc/") + entry->d_name + "/stat", stat)) continue;
    // "pid (comm) state ppid ...": the name may hold spaces, so read after ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 > stat.size()) continue;
    const char state = stat[close + 2];
    const size_t ppidAt = close + 4;
    const std::string ppid = stat.substr(ppidAt, stat.find(' ', ppidAt) - ppidAt);
    if (ppid == parent && state != 'Z') ++count;
  }
  ::closedir(proc);
  return count;
}

void SetOutputFolder(MainWindow& window, const std::string& folder) {
  auto* edit = qobject_cast<QLineEdit*>(window.ControlById(kIdOutputFolderEdit));
  if (edit != nullptr) edit->setText(QString::fromStdString(folder));
}

double TimeWindowBatch(MainWindow& window, const std::string& output) {
  SetOutputFolder(window, output);
  const Clock::time_point started = Clock::now();
  window.RunBatch();
  return SecondsSince(started);
}

struct StopFigures {
  int toolsAtStop = -1;          // our tool processes alive when the stop came
  double toolsEndedMs = -1;      // stop → the last tool ended
  double batchReturnedMs = -1;   // stop → RunBatch returned
  std::size_t notStarted = 0;    // images listed as not processed
};

StopFigures TimeStop(MainWindow& window, const std::string& output, int stopAfterMs) {
  StopFigures figures;
  std::atomic<bool> stopped{false};
  std::atomic<double> toolsEndedMs{-1};
  Clock::time_point stopTime;
  std::thread watcher;
  // From `stopAfterMs` on, the stop comes as soon as a tool runs (or after
  // five more seconds without one), so that a kill is part of what is timed.
  QTimer poll;
  poll.setInterval(2);
  const Clock::time_point batchStart = Clock::now();
  QObject::connect(&poll, &QTimer::timeout, [&]() {
    const double sinceStartMs = SecondsSince(batchStart) * 1000.0;
    const int tools = LiveChildCount();
    if (sinceStartMs < stopAfterMs || (tools == 0 && sinceStartMs < stopAfterMs + 5000)) return;
    poll.stop();
    figures.toolsAtStop = tools;
    stopTime = Clock::now();
    window.MenuAction(kCmdStopBatch)->trigger();  // what Esc does
    stopped = true;
    watcher = std::thread([&, stopTime]() {
      while (LiveChildCount() > 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
      toolsEndedMs = SecondsSince(stopTime) * 1000.0;
    });
  });
  poll.start();
  SetOutputFolder(window, output);
  window.RunBatch();
  if (stopped) figures.batchReturnedMs = SecondsSince(stopTime) * 1000.0;
  if (watcher.joinable()) watcher.join();
  figures.toolsEndedMs = toolsEndedMs;
  for (const ImageResult& result : MainState().results) {
    if (result.message == kVerdictNotStarted) ++figures.notStarted;
  }
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "Aufruf: orvel-window-batch-benchmark [--mode 0-2] [--count N] "
                 "[--stop-after-ms MS] DATEI|ORDNER...\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::string root = MakeBenchmarkFolder("orvel-window-batch-benchmark");
  const std::string images = JoinPath(root, "bilder");
  if (root.empty() || !FillBatchFolder(options.sources, options.count, images)) {
    std::fprintf(stderr, "Keine Bilder.\n");
    if (!root.empty()) RemoveFolderTree(root);
    return 1;
  }
  const std::string windowOutput = JoinPath(root, "fenster"), cliOutput = JoinPath(root, "cli");
  const std::string stopOutput = JoinPath(root, "abbruch");
  for (const std::string& folder : {windowOutput, cliOutput, stopOutput}) EnsureFolder(folder);

  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  ApplicationShell shell;
  StartApplication(shell, qtArgc, qtArgv, {images});
  SetCompareWindowOpener([](int) {});  // the batch's end would open it
  MainWindow& window = *shell.mainWindow;
  currentProfile.store(2);
  currentMode.store(static_cast<ComputeMode>(options.mode));
  const unsigned jobs = AutomaticJobCount(HardwareThreadCount());

  std::printf("%d Bilder, Rechenmodus %d, Profil hoch, %u Hardware-Threads, automatisch %u Bilder "
              "gleichzeitig\n",
              options.count, options.mode, HardwareThreadCount(), jobs);
  const CliRunFigures cli = RunCliTimed(
      ORVEL_CLI_PROGRAM,
      {"optimize", "--profile", "2", "--mode", std::to_string(options.mode), "--output", cliOutput, images},
      JoinPath(root, "cli.txt"));
  const double windowSeconds = TimeWindowBatch(window, windowOutput);
  const bool same = cli.ran && OutputBytes(windowOutput) == OutputBytes(cliOutput);
  std::printf("orvel-cli --jobs auto  %8.2f s%s\n", cli.wallSeconds, cli.ran ? "" : "  (exit status not 0)");
  std::printf("window batch           %8.2f s   ratio %.3f   same output bytes: %s\n", windowSeconds,
              cli.wallSeconds > 0 ? windowSeconds / cli.wallSeconds : 0.0, same ? "yes" : "NO");

  const StopFigures stop = TimeStop(window, stopOutput, options.stopAfterMs);
  std::printf("stop after %d ms: %d tools running; last tool ended %.1f ms later, batch returned "
              "%.1f ms later; %zu images not started\n",
              options.stopAfterMs, stop.toolsAtStop, stop.toolsEndedMs, stop.batchReturnedMs,
              stop.notStarted);
  ShutDownApplication(shell);
  RemoveFolderTree(root);
  return 0;
}
