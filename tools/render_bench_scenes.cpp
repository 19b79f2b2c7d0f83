// The profile-development window's scenes of the render program; see
// render_bench_scenes.h.
#include "tools/render_bench_scenes.h"

#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <optional>

#include "bench/session.h"
#include "bench/worker.h"
#include "platform/files.h"
#include "ui/bench/bench_window.h"
#include "ui/main/main_window.h"

namespace {

constexpr int kStateTimeoutMs = 300000;

std::string LineText(ProfileDevelopmentWindow& window, int id) {
  const auto* line = qobject_cast<QLabel*>(window.ControlById(id));
  return line ? line->text().toStdString() : "";
}

void PrintState(ProfileDevelopmentWindow& window, const char* when) {
  std::printf("--- profile development, %s\n%s\n%s\n%s\n", when,
              LineText(window, kBenchIdStatusLine).c_str(),
              LineText(window, kBenchIdProgressLine).c_str(),
              LineText(window, kBenchIdCountsLine).c_str());
}

bool Save(ProfileDevelopmentWindow& window, const std::string& folder, const std::string& name,
          bool screen) {
  QCoreApplication::processEvents();
  const std::string path = JoinPath(folder, "bench-" + name + ".png");
  const bool saved = window.grab().save(QString::fromStdString(path));
  std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
  if (screen && QGuiApplication::primaryScreen()) {
    const std::string screenPath = JoinPath(folder, "screen-bench-" + name + ".png");
    QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(screenPath));
    std::printf("wrote %s\n", screenPath.c_str());
  }
  return saved;
}

// Points LOCALAPPDATA at a fresh temporary folder; restores it, the dialogs
// and the folder, and stops a run that is still going, however the scenes end.
struct SceneGuard {
  std::string data = JoinPath(TempFolder(), "orvel-render-data-XXXXXX");
  std::optional<std::string> previousData;
  SceneGuard() {
    if (!::mkdtemp(data.data())) data.clear();
    if (const char* old = ::getenv("LOCALAPPDATA")) previousData = old;
    if (!data.empty()) ::setenv("LOCALAPPDATA", data.c_str(), 1);
  }
  ~SceneGuard() {
    BenchmarkSession& session = CurrentBenchmarkSession();
    if (session.running.load()) CancelBenchmarkWorker(session, CurrentBenchmarkWorker());
    [[maybe_unused]] const bool ended = QTest::qWaitFor(
        []() { return !CurrentBenchmarkSession().running.load(); }, kStateTimeoutMs);
    JoinBenchmarkWorker(CurrentBenchmarkWorker());
    if (ProfileDevelopmentWindow* window = CurrentBenchWindow()) delete window;
    SetBenchWindowDialogs({});
    if (previousData) ::setenv("LOCALAPPDATA", previousData->c_str(), 1);
    else ::unsetenv("LOCALAPPDATA");
    if (!data.empty()) RemoveFolderTree(data);
  }
  SceneGuard(const SceneGuard&) = delete;
  SceneGuard& operator=(const SceneGuard&) = delete;
};

}  // namespace

bool RenderBenchWindowScenes(MainWindow& mainWindow, const std::string& outputFolder,
                             const std::string& imageFolder, bool screen) {
  SceneGuard guard;
  if (guard.data.empty()) return false;
  BenchWindowDialogs dialogs;
  dialogs.chooseFolder = [&imageFolder](const std::string&, std::string& folder) {
    folder = imageFolder;
    return true;
  };
  dialogs.showMessage = [](const std::string& title, const std::string& text, BenchMessageIcon) {
    std::printf("message box \"%s\": %s\n", title.c_str(), text.c_str());
  };
  dialogs.askYesNo = [](const std::string&, const std::string&) { return true; };
  SetBenchWindowDialogs(dialogs);

  mainWindow.activateWindow();
  if (!QTest::qWaitForWindowActive(&mainWindow, 5000)) {
    const QWidget* active = QApplication::activeWindow();
    std::printf("the main window did not become active (active: %s)\n",
                active ? active->objectName().toStdString().c_str() : "none");
  }
  // Through the platform window, the way a real key press arrives.
  QTest::keyClick(mainWindow.windowHandle(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
  QCoreApplication::processEvents();
  ProfileDevelopmentWindow* window = CurrentBenchWindow();
  if (window == nullptr) {
    std::printf("Ctrl+Shift+P opened no profile-development window\n");
    return false;
  }
  window->DispatchCommand(kBenchIdFolderButton);
  qobject_cast<QComboBox*>(window->ControlById(kBenchIdDepthBox))->setCurrentIndex(0);
  window->RefreshBenchWindow();
  PrintState(*window, "idle");
  bool ok = Save(*window, outputFolder, "idle", screen);

  const BenchmarkSession& session = CurrentBenchmarkSession();
  window->DispatchCommand(kBenchIdStartButton);
  const bool secondImage = QTest::qWaitFor(
      [&session]() {
        // Between images the last image's candidate figures stay for a
        // moment, always as n / n; a later candidate of the second image is
        // below its count.
        const std::int32_t candidate = session.currentCandidate.load();
        return session.running.load() && session.completed.load() >= 1 && candidate >= 3 &&
               candidate < session.candidateCount.load();
      },
      kStateTimeoutMs);
  if (!secondImage) {
    std::printf("the run did not reach its second image\n");
    return false;
  }
  window->RefreshBenchWindow();
  PrintState(*window, "during the run");
  ok = Save(*window, outputFolder, "run", screen) && ok;

  window->DispatchCommand(kBenchIdPauseButton);
  PrintState(*window, "paused");
  ok = Save(*window, outputFolder, "paused", screen) && ok;
  return ok;
}
