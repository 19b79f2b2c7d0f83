// Tests of the desktop program's start-up and shutdown: the bare main window,
// the shared fonts, the order of shutdown, and SIGTERM/SIGINT ending the real
// program cleanly. Run with QT_QPA_PLATFORM=offscreen.
#include "app/application.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "engines/engine_store.h"
#include "app/shutdown_hook.h"
#include "app/start_arguments.h"
#include "platform/files.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"
#include "ui/main/fonts.h"
#include "ui/main/main_window.h"
#include "ui/main/window_names.h"

extern char** environ;

namespace {

using Strings = std::vector<std::string>;

TEST(StartArgumentsTest, PathsOptionsAndWrongOptions) {
  const struct { Strings arguments; StartAction action; Strings paths; std::string bad; } cases[] = {
      {{"a.jpg", "Ordner", "-"}, StartAction::kRun, {"a.jpg", "Ordner", "-"}, ""},
      {{"--", "--version", "-x.jpg"}, StartAction::kRun, {"--version", "-x.jpg"}, ""},
      {{"a.jpg", "--version"}, StartAction::kVersion, {"a.jpg"}, ""},
      {{"-h"}, StartAction::kHelp, {}, ""},
      {{"a.jpg", "--help", "-platform", "x"}, StartAction::kUsageError, {"a.jpg"}, "-platform"},
  };
  for (const auto& c : cases) {
    const StartArguments parsed = ParseStartArguments(c.arguments);
    EXPECT_EQ(std::tuple(parsed.action, parsed.paths, parsed.badOption), std::tuple(c.action, c.paths, c.bad));
  }
  EXPECT_EQ(StartVersionText(), "Orvel JPEG Optimizer 1.3.3\n");
}

class ApplicationTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;  // TMPDIR while the test runs
  ScopedEnv tmpdir{"TMPDIR", temp.path.c_str()};
  const std::string engineParent = temp.Join("OrvelJpegOptimizer");

  void SetUp() override { ASSERT_FALSE(temp.path.empty()); }
  void TearDown() override { SetShutdownWorkerHook({}); }
};

TEST_F(ApplicationTest, StartsTheBareMainWindowAndShutdownStopsWorkersBeforeRemovingTheTools) {
  int argc = 1;
  char programName[] = "application_test";
  char* argv[] = {programName, nullptr};
  ApplicationShell shell;
  StartApplication(shell, argc, argv);
  ASSERT_TRUE(shell.mainWindow);
  MainWindow& window = *shell.mainWindow;
  EXPECT_EQ(window.objectName(), QString::fromUtf8(kMainWindowName));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Orvel JPEG Optimizer"));
  // The designed size, or what the screen holds (offscreen: 800 x 800).
  EXPECT_EQ(window.size(), QSize(1380, 820).boundedTo(window.screen()->availableGeometry().size()));
  EXPECT_TRUE(window.isVisible());
  ASSERT_TRUE(Fonts().created);
  const std::tuple<const QFont&, int, int> fonts[] = {{Fonts().bodyFont, 17, 400},  {Fonts().smallFont, 15, 400},
                                                      {Fonts().emphasisFont, 18, 600}, {Fonts().titleFont, 29, 700},
                                                      {Fonts().guideFont, 23, 400}};
  for (const auto& [font, pixelSize, weight] : fonts) {
    EXPECT_EQ(std::make_tuple(font.pixelSize(), font.weight(), font.families().value(0), font.styleHint()),
              std::make_tuple(pixelSize, weight, QStringLiteral("Segoe UI"), QFont::SansSerif));
  }
  // Materialised exactly once, before the window: the folder is there now.
  const std::string engineFolder = Engines().engineFolder;
  EXPECT_EQ(ParentFolder(engineFolder), engineParent);
  EXPECT_TRUE(IsDirectory(engineFolder));
  int hookRuns = 0;
  bool folderAndWindowDuringHook = false;
  SetShutdownWorkerHook([&]() {
    ++hookRuns;
    folderAndWindowDuringHook = IsDirectory(engineFolder) && shell.mainWindow;
  });
  QTimer::singleShot(0, &window, [&window]() { window.close(); });
  EXPECT_EQ(RunEventLoop(shell), 0);
  ShutDownApplication(shell);
  ShutDownApplication(shell);
  EXPECT_EQ(hookRuns, 1);
  EXPECT_TRUE(folderAndWindowDuringHook);
  EXPECT_FALSE(PathExists(engineFolder));
  EXPECT_TRUE(FolderEntries(engineParent).empty());
  EXPECT_FALSE(Fonts().created);
}

// Polls `done` every 20 ms for up to 30 s.
template <typename Done>
bool WaitFor(Done done) {
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);; ) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class ProgramSignalTest : public ApplicationTest, public ::testing::WithParamInterface<int> {};

TEST_P(ProgramSignalTest, ProgramEndsWithCodeZeroAndRemovesItsEngineFolder) {
  // The real program with this test's private TMPDIR and the offscreen platform.
  const ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
  char program[] = ORVEL_GUI_PROGRAM;
  char* childArgv[] = {program, nullptr};
  pid_t child = -1;
  ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, childArgv, environ), 0);
  const std::string stem = EngineFolderName(static_cast<std::uint32_t>(child)) + "_";
  std::string engineFolder;
  // The handlers are in place before the engine folder is made.
  const bool started = WaitFor([&]() {
    for (const std::string& name : FolderEntries(engineParent)) {
      if (name.rfind(stem, 0) == 0) engineFolder = JoinPath(engineParent, name);
    }
    return IsDirectory(engineFolder);
  });
  ::kill(child, started ? GetParam() : SIGKILL);
  int status = 0;
  const bool exited = WaitFor([&]() { return ::waitpid(child, &status, WNOHANG) == child; });
  if (!exited) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_TRUE(exited && started) << "started " << started;
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(PathExists(engineFolder));
  EXPECT_TRUE(FolderEntries(engineParent).empty());
}

INSTANTIATE_TEST_SUITE_P(TerminationSignals, ProgramSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return std::string(param.param == SIGTERM ? "Sigterm" : "Sigint");
                         });

}  // namespace
