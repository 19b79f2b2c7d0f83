// How the profile-development window is reached and kept informed: opening
// (with resume), the runs folder, the worker's notifications as queued calls,
// the end of a run, and the main window's hooks and shortcuts; see
// bench_window.h. The widgets themselves are in bench_window.cpp.
#include <QApplication>
#include <QEvent>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <atomic>
#include <utility>

#include "bench/session.h"
#include "bench/worker.h"
#include "platform/clock.h"
#include "ui/bench/bench_window.h"
#include "ui/main/main_commands.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_hooks.h"
#include "ui/main/qt_helpers.h"

namespace {

// Refreshes the resume shortcut whenever the main window becomes active, so a
// session file written or removed meanwhile (by the command line, say) is
// noticed.
class ActivationWatcher : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowActivate) RefreshResumeCommand();
    return QObject::eventFilter(watched, event);
  }
};

// What Install added to the main window.
struct Installation {
  QPointer<MainWindow> owner;
  QPointer<QShortcut> newRun;
  QPointer<QShortcut> resume;
  QPointer<QShortcut> runsFolder;
  QPointer<ActivationWatcher> watcher;
};

Installation& Installed() {
  static Installation installation;
  return installation;
}

// Counts the window's worker starts; the end report carries the count read
// while its thread still runs, which is before any later start can happen.
std::atomic<std::uint64_t>& RunCounter() {
  static std::atomic<std::uint64_t> counter{0};
  return counter;
}

// Queues `call` on the UI thread; dropped when no application exists.
template <typename Call>
void PostToUiThread(Call call) {
  if (QCoreApplication* application = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(application, std::move(call), Qt::QueuedConnection);
  }
}

// Moves a session read by LoadSession into the process-wide one.
void TakeLoadedSession(BenchmarkSession& target, BenchmarkSession& loaded) {
  target.sessionFilePath = std::move(loaded.sessionFilePath);
  target.root = std::move(loaded.root);
  target.sessionDir = std::move(loaded.sessionDir);
  target.csvPath = std::move(loaded.csvPath);
  target.imageListPath = std::move(loaded.imageListPath);
  target.images = std::move(loaded.images);
  target.maxPerFolder = loaded.maxPerFolder;
  target.maxTotal = loaded.maxTotal;
  target.depth = loaded.depth;
  target.foldersFound = loaded.foldersFound;
  target.imagesFound = loaded.imagesFound;
  target.nextIndex.store(loaded.nextIndex.load());
  target.completed.store(loaded.completed.load());
  target.currentCandidate.store(0);
  target.candidateCount.store(0);
}

// Loads the saved session. It is read into a separate record first, so a
// file that turns out not to be resumable leaves the current session as it
// was; a running worker's session is never replaced.
bool LoadResumableSession(BenchmarkSession& session) {
  if (session.running.load()) return false;
  BenchmarkSession loaded;
  if (!LoadSession(loaded)) return false;
  TakeLoadedSession(session, loaded);
  return true;
}

void AddShortcuts(MainWindow& mainWindow, Installation& installation) {
  const auto makeShortcut = [&mainWindow](QKeyCombination keys) {
    auto* shortcut = new QShortcut(QKeySequence(keys), &mainWindow);
    shortcut->setContext(Qt::WindowShortcut);
    return shortcut;
  };
  QPointer<MainWindow> window(&mainWindow);
  installation.newRun = makeShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_P);
  QObject::connect(installation.newRun, &QShortcut::activated, &mainWindow,
                   [window]() { window->DispatchCommand(kCmdProfileDevelopment); });
  installation.resume = makeShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_R);
  QObject::connect(installation.resume, &QShortcut::activated, &mainWindow, [window]() {
    // The file may have gone since the shortcut was last enabled.
    if (SessionFileExists()) window->DispatchCommand(kCmdProfileDevelopmentResume);
    RefreshResumeCommand();
  });
  installation.runsFolder = makeShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_B);
  QObject::connect(installation.runsFolder, &QShortcut::activated, &mainWindow,
                   [window]() { window->DispatchCommand(kCmdOpenBenchmarkRuns); });
  installation.watcher = new ActivationWatcher(&mainWindow);
  mainWindow.installEventFilter(installation.watcher);
}

}  // namespace

bool StartBenchmarkRunFromWindow() {
  BenchmarkSession& session = CurrentBenchmarkSession();
  ++RunCounter();
  // The worker sets its own start tick once its thread runs; setting it now
  // keeps the first refresh from showing the previous run's time.
  session.startTick.store(TickCountMs());
  return StartBenchmarkWorker(session, CurrentBenchmarkWorker());
}

BenchmarkNotifications MakeBenchWindowNotifications() {
  BenchmarkNotifications notifications;
  notifications.progress = []() {
    PostToUiThread([]() {
      if (ProfileDevelopmentWindow* window = CurrentBenchWindow()) window->RefreshBenchWindow();
    });
  };
  notifications.finished = [](bool complete) {
    const std::uint64_t run = RunCounter().load();
    PostToUiThread([complete, run]() { HandleBenchmarkRunEnded(complete, run); });
  };
  return notifications;
}

void HandleBenchmarkRunEnded(bool complete, std::uint64_t run) {
  const bool current = run == RunCounter().load();
  // A later run was started meanwhile: its start joined this report's thread
  // already, and joining now would wait for the later run.
  if (current) JoinBenchmarkWorker(CurrentBenchmarkWorker());
  RefreshResumeCommand();
  ProfileDevelopmentWindow* window = CurrentBenchWindow();
  if (window == nullptr) return;
  if (current) {
    window->HandleRunEnded(complete);
  } else {
    window->RefreshBenchWindow();
  }
}

void OpenProfileDevelopmentWindow(bool resume) {
  if (ProfileDevelopmentWindow* existing = CurrentBenchWindow()) {
    existing->showNormal();
    existing->raise();
    existing->activateWindow();
    return;
  }
  BenchmarkSession& session = CurrentBenchmarkSession();
  const bool loaded = resume && LoadResumableSession(session);
  auto* window = new ProfileDevelopmentWindow(Installed().owner.data());
  window->show();
  if (loaded) window->ShowLoadedSession(session);
}

void OpenBenchmarkRunsFolder() { OpenFolderInFileManager(BenchmarkRunsFolder()); }

void RefreshResumeCommand() {
  if (QShortcut* resume = Installed().resume.data()) resume->setEnabled(SessionFileExists());
}

void InstallProfileDevelopmentWindow(MainWindow& mainWindow) {
  Installation& installation = Installed();
  installation.owner = &mainWindow;
  SetProfileDevelopmentOpener([](bool resume) { OpenProfileDevelopmentWindow(resume); });
  SetBenchmarkRunsOpener([]() { OpenBenchmarkRunsFolder(); });
  SetBenchmarkRunActiveQuery([]() { return CurrentBenchmarkSession().running.load(); });
  SetBenchmarkRunPausedQuery([]() { return CurrentBenchmarkSession().paused.load(); });
  SetBenchmarkNotifications(CurrentBenchmarkWorker(), MakeBenchWindowNotifications());
  AddShortcuts(mainWindow, installation);
  RefreshResumeCommand();
}

void UninstallProfileDevelopmentWindow() {
  SetBenchmarkNotifications(CurrentBenchmarkWorker(), BenchmarkNotifications{});
  SetProfileDevelopmentOpener({});
  SetBenchmarkRunsOpener({});
  SetBenchmarkRunActiveQuery({});
  SetBenchmarkRunPausedQuery({});
  delete CurrentBenchWindow();
  Installation& installation = Installed();
  delete installation.newRun.data();
  delete installation.resume.data();
  delete installation.runsFolder.data();
  delete installation.watcher.data();
  installation = Installation{};
}
