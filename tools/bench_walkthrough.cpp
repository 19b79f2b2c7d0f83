// Walks the desktop program through an interrupted and resumed
// profile-development run and writes PNG files of every step, for a look at
// the window on a real X server (for example under xvfb-run):
//
//   orvel_bench_walkthrough OUTPUT_FOLDER IMAGE_FOLDER start
//       starts the program as usual, opens the window with Ctrl+Shift+P on
//       the main window, chooses IMAGE_FOLDER (through the folder chooser's
//       seam; everything else is clicked), selects "Kompakt", starts the run,
//       pauses it, tries to close the window (the refusal is shown), continues,
//       cancels, waits for the worker, closes both windows and ends the
//       program through its normal shutdown.
//   orvel_bench_walkthrough OUTPUT_FOLDER IMAGE_FOLDER resume
//       starts the program again, resumes with Ctrl+Shift+R, continues and
//       waits for the final message.
//
// Message boxes are the program's real ones; each is grabbed from the screen
// and then confirmed. The run's files go to the local data folder, so point
// LOCALAPPDATA at a temporary folder. Every step prints the window's lines.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>

#include "app/application.h"
#include "bench/session.h"
#include "platform/files.h"
#include "ui/bench/bench_window.h"
#include "ui/main/main_window.h"

namespace {

constexpr int kStepTimeoutMs = 600000;

struct Walkthrough {
  std::string outputFolder;
  int step = 0;
  int boxes = 0;

  std::string NextName(const std::string& what) {
    ++step;
    return (step < 10 ? "walk-0" : "walk-") + std::to_string(step) + "-" + what + ".png";
  }

  void GrabScreen(const std::string& what) {
    QCoreApplication::processEvents();
    const std::string path = JoinPath(outputFolder, NextName(what));
    QScreen* screen = QGuiApplication::primaryScreen();
    const bool saved = screen && screen->grabWindow(0).save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
  }

  // The window's own pixels and a grab of the whole screen. Without
  // `settle` the window is taken as it is, before any pending refresh.
  void Capture(ProfileDevelopmentWindow& window, const std::string& what, bool settle = true) {
    if (settle) QCoreApplication::processEvents();
    std::printf("--- %s\n", what.c_str());
    for (const int id : {kBenchIdStatusLine, kBenchIdProgressLine, kBenchIdCountsLine}) {
      std::printf("%s\n", qobject_cast<QLabel*>(window.ControlById(id))->text().toStdString().c_str());
    }
    const std::string path = JoinPath(outputFolder, NextName(what));
    const bool saved = window.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
    if (settle) GrabScreen(what + "-screen");
  }

  // Grabs and confirms every message box that comes up.
  void WatchMessageBoxes(QTimer& timer) {
    QObject::connect(&timer, &QTimer::timeout, [this]() {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      ++boxes;
      std::printf("--- message box \"%s\":\n%s\n", box->windowTitle().toStdString().c_str(),
                  box->text().toStdString().c_str());
      GrabScreen("message");
      box->accept();
    });
    timer.start(700);
  }
};

void Click(ProfileDevelopmentWindow& window, int id, bool settle = true) {
  QTest::mouseClick(window.ControlById(id), Qt::LeftButton);
  if (settle) QCoreApplication::processEvents();
}

void PressOnMainWindow(MainWindow& mainWindow, Qt::Key key) {
  mainWindow.activateWindow();
  [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(&mainWindow, 5000);
  QTest::keyClick(mainWindow.windowHandle(), key, Qt::ControlModifier | Qt::ShiftModifier);
  QCoreApplication::processEvents();
}

bool WaitFor(const char* what, const std::function<bool()>& condition) {
  const bool reached = QTest::qWaitFor(condition, kStepTimeoutMs);
  if (!reached) std::printf("timed out waiting for: %s\n", what);
  return reached;
}

// The worker is measuring a candidate of image `image` (0-based), past its
// first two candidates.
bool MeasuringImage(std::uint64_t image) {
  const BenchmarkSession& session = CurrentBenchmarkSession();
  const std::int32_t candidate = session.currentCandidate.load();
  return session.running.load() && session.nextIndex.load() == image &&
         session.completed.load() == image && candidate >= 3 &&
         candidate < session.candidateCount.load();
}

bool RunFirstPart(Walkthrough& walk, MainWindow& mainWindow, const std::string& imageFolder) {
  BenchWindowDialogs dialogs;
  dialogs.chooseFolder = [&imageFolder](const std::string& title, std::string& folder) {
    std::printf("folder chooser \"%s\": %s\n", title.c_str(), imageFolder.c_str());
    folder = imageFolder;
    return true;
  };
  SetBenchWindowDialogs(dialogs);
  PressOnMainWindow(mainWindow, Qt::Key_P);
  ProfileDevelopmentWindow* window = CurrentBenchWindow();
  if (window == nullptr) {
    std::printf("Ctrl+Shift+P opened no window\n");
    return false;
  }
  window->move(40, 40);
  Click(*window, kBenchIdFolderButton);
  qobject_cast<QComboBox*>(window->ControlById(kBenchIdDepthBox))->setCurrentIndex(0);
  walk.Capture(*window, "opened");

  Click(*window, kBenchIdStartButton);
  if (!WaitFor("the second image", [] { return MeasuringImage(1); })) return false;
  walk.Capture(*window, "running");

  Click(*window, kBenchIdPauseButton);
  QTest::qWait(1500);
  walk.Capture(*window, "paused");
  std::printf("close while paused: %s\n", window->close() ? "closed" : "refused");
  std::printf("main window close while paused: %s\n", mainWindow.close() ? "closed" : "refused");

  Click(*window, kBenchIdContinueButton);
  if (!WaitFor("the third image", [] { return MeasuringImage(2); })) return false;
  walk.Capture(*window, "continued");

  // The cancel text shows until the next refresh.
  Click(*window, kBenchIdCancelButton, false);
  walk.Capture(*window, "cancel-requested", false);
  if (!WaitFor("the end of the run", [] { return !CurrentBenchmarkSession().running.load(); })) {
    return false;
  }
  QTest::qWait(500);
  walk.Capture(*window, "interrupted");
  std::printf("session file after the cancel:\n%s", ReadWholeFile(SessionFilePath()).c_str());
  const bool closed = window->close();
  std::printf("close after the cancel: %s\n", closed ? "closed" : "refused");
  return closed;
}

bool RunSecondPart(Walkthrough& walk, MainWindow& mainWindow) {
  PressOnMainWindow(mainWindow, Qt::Key_R);
  ProfileDevelopmentWindow* window = CurrentBenchWindow();
  if (window == nullptr) {
    std::printf("Ctrl+Shift+R opened no window\n");
    return false;
  }
  window->move(40, 40);
  walk.Capture(*window, "resumed");
  Click(*window, kBenchIdContinueButton);
  if (!WaitFor("the fourth image", [] { return MeasuringImage(3); })) return false;
  walk.Capture(*window, "resumed-running");
  const int boxesBefore = walk.boxes;
  if (!WaitFor("the final message", [&] { return walk.boxes > boxesBefore; })) return false;
  QTest::qWait(500);
  walk.Capture(*window, "finished");
  std::printf("session file exists: %s\n", SessionFileExists() ? "yes" : "no");
  std::printf("run folder: %s\n", CurrentBenchmarkSession().sessionDir.c_str());
  return window->close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[3]) != "start" && std::string(argv[3]) != "resume")) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER IMAGE_FOLDER start|resume\n", argv[0]);
    return 2;
  }
  Walkthrough walk;
  walk.outputFolder = argv[1];
  if (!EnsureFolder(walk.outputFolder)) return 1;
  const bool resume = std::string(argv[3]) == "resume";
  if (resume) walk.step = 20;

  ApplicationShell shell;
  int qtArgc = 1;
  StartApplication(shell, qtArgc, argv);
  MainWindow& mainWindow = *shell.mainWindow;
  mainWindow.move(300, 200);
  QTimer boxWatcher;
  walk.WatchMessageBoxes(boxWatcher);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();

  const bool ok = resume ? RunSecondPart(walk, mainWindow)
                         : RunFirstPart(walk, mainWindow, argv[2]);
  boxWatcher.stop();
  SetBenchWindowDialogs({});
  mainWindow.close();
  ShutDownApplication(shell);
  std::printf("%s\n", ok ? "walkthrough complete" : "walkthrough failed");
  return ok ? 0 : 1;
}
