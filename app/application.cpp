// Start-up, event loop and shutdown of the desktop program; see application.h.
//
// Neighbours: engines/engine_store.cpp (MaterializeEngines, RemoveEngineFolder),
// shutdown_hook.cpp (the profile-development worker's stop), and the window
// modules under ui/ (fonts, main window).
#include "app/application.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>

#include "engines/engine_store.h"
#include "app/shutdown_hook.h"
#include "app/start_arguments.h"
#include "bench/worker.h"
#include "platform/files.h"
#include "platform/process.h"
#include "ui/bench/bench_window.h"
#include "ui/compare/compare_window.h"
#include "ui/main/app_icon.h"
#include "ui/main/fonts.h"
#include "ui/main/main_window.h"
#include "ui/main/qt_translations.h"

// SIGTERM and SIGINT through a self-pipe: the handler only writes one byte,
// and the event loop turns it into a close request of the main window.
struct TerminationSignals {
  UniqueFd readEnd;
  UniqueFd writeEnd;
  struct sigaction previousTerm{};
  struct sigaction previousInt{};
  bool installed = false;
  std::unique_ptr<QSocketNotifier> notifier;

  TerminationSignals() = default;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;
  ~TerminationSignals();
};

namespace {

// Read by the signal handler; set before the handler is installed and reset
// only after it has been removed.
volatile sig_atomic_t signalPipeWriteFd = -1;

void OnTerminationSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  // A full pipe already holds a pending request; nothing is lost.
  [[maybe_unused]] const ssize_t ignored = ::write(signalPipeWriteFd, &byte, 1);
  errno = savedErrno;
}

void DrainSignalPipe(int readFd) {
  char buffer[64];
  while (::read(readFd, buffer, sizeof buffer) > 0) {
  }
}

// Installs the handlers; false (and nothing installed) when the pipe cannot
// be made.
bool InstallTerminationSignals(TerminationSignals& signalsRecord) {
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  signalsRecord.readEnd = UniqueFd(ends[0]);
  signalsRecord.writeEnd = UniqueFd(ends[1]);
  signalPipeWriteFd = ends[1];

  struct sigaction action{};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, &signalsRecord.previousTerm);
  ::sigaction(SIGINT, &action, &signalsRecord.previousInt);
  signalsRecord.installed = true;
  return true;
}

// The close request goes through the main window's own close path: a
// running batch is stopped without a question, and a profile-development
// run still refuses the close as it does for the close button.
void WatchTerminationSignals(ApplicationShell& shell) {
  TerminationSignals& signalsRecord = *shell.terminationSignals;
  if (!signalsRecord.installed) return;
  const int readFd = signalsRecord.readEnd.fd;
  signalsRecord.notifier = std::make_unique<QSocketNotifier>(readFd, QSocketNotifier::Read);
  QObject::connect(signalsRecord.notifier.get(), &QSocketNotifier::activated,
                   [&shell, readFd]() {
                     DrainSignalPipe(readFd);
                     if (shell.mainWindow) shell.mainWindow->CloseForTermination();
                   });
}

}  // namespace

TerminationSignals::~TerminationSignals() {
  notifier.reset();
  if (installed) {
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    signalPipeWriteFd = -1;
  }
}

ApplicationShell::ApplicationShell() = default;

ApplicationShell::~ApplicationShell() { ShutDownApplication(*this); }

void StartApplication(ApplicationShell& shell, int& argc, char** argv,
                      const std::vector<std::string>& startPaths) {
  shell.shutDown = false;
  shell.application = std::make_unique<QApplication>(argc, argv);
  // The main window alone decides when the program ends, whatever other
  // windows are open.
  shell.application->setQuitOnLastWindowClosed(false);
  // Ties the windows to the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("de.orvel.JpegOptimizer"));
  QApplication::setWindowIcon(ApplicationIcon());

  // Before the engine folder exists, so a signal from here on ends the
  // program through shutdown and the folder is never left behind.
  shell.terminationSignals = std::make_unique<TerminationSignals>();
  InstallTerminationSignals(*shell.terminationSignals);

  InstallQtGermanTranslations();
  // Tools' exit statuses are lost when SIGCHLD was ignored by whoever
  // started us.
  RestoreDefaultChildSignal();
  RemoveAbandonedFoldersOfEarlierRuns();
  CreateSharedFonts();
  // The result only fills the availability flags; the program starts anyway.
  MaterializeEngines();
  // A profile-development run still going at shutdown is cancelled and joined
  // before its tools disappear with the engine folder.
  SetShutdownWorkerHook([] { StopBenchmarkWorker(); });

  shell.mainWindow = std::make_unique<MainWindow>();
  InstallProfileDevelopmentWindow(*shell.mainWindow);
  InstallCompareAndGuideWindows(shell.mainWindow.get());
  QObject::connect(shell.mainWindow.get(), &MainWindow::closed, shell.application.get(),
                   &QCoreApplication::quit);
  WatchTerminationSignals(shell);
  if (!startPaths.empty()) shell.mainWindow->AddStartImages(startPaths);
  shell.mainWindow->show();
}

int RunEventLoop(ApplicationShell& shell) {
  if (!shell.application) return 1;
  return shell.application->exec();
}

void ShutDownApplication(ApplicationShell& shell) {
  if (shell.shutDown || !shell.application) return;
  shell.shutDown = true;
  // Workers may still post to their windows, so they stop while the windows
  // exist, and they stop before their tools are deleted.
  RunShutdownWorkerHook();
  RemoveEngineFolder();
  ReleaseSharedFonts();
  RemoveQtGermanTranslations();
  shell.mainWindow.reset();
  // Signals stay routed to the pipe until the folder is gone; a second
  // SIGTERM during shutdown therefore cannot leave it behind.
  shell.terminationSignals.reset();
  shell.application.reset();
}

int RunApplication(int& argc, char** argv) {
  const StartArguments arguments = ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
  switch (arguments.action) {
    case StartAction::kVersion:
      std::fputs(StartVersionText().c_str(), stdout);
      return 0;
    case StartAction::kHelp:
      std::fputs(StartUsageText().c_str(), stdout);
      return 0;
    case StartAction::kUsageError:
      std::fputs(StartUsageErrorText(arguments.badOption).c_str(), stderr);
      return kStartExitUsage;
    case StartAction::kRun:
      break;
  }
  ApplicationShell shell;
  StartApplication(shell, argc, argv, arguments.paths);
  const int exitCode = RunEventLoop(shell);
  ShutDownApplication(shell);
  return exitCode;
}
