// Tests of the desktop program's start-up and shutdown: the bare main window,
// the shared fonts, the order of shutdown, and SIGTERM/SIGINT ending the real
// program cleanly. Run with QT_QPA_PLATFORM=offscreen.
#include "app/application.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "engines/engine_store.h"
#include "app/shutdown_hook.h"
#include "platform/files.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"
#include "ui/main/fonts.h"
#include "ui/main/main_window.h"
#include "ui/main/window_names.h"

extern char** environ;

namespace {

class ApplicationTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;  // TMPDIR while the test runs
  ScopedEnv tmpdir{"TMPDIR", temp.path.c_str()};
  const std::string engineParent = temp.Join("OrvelJpegOptimizer");
  int argc = 1;
  char programName[32] = "application_test";
  char* argv[2] = {programName, nullptr};

  void SetUp() override { ASSERT_FALSE(temp.path.empty()); }
  void TearDown() override { SetShutdownWorkerHook({}); }
};

void ExpectFont(const QFont& font, int pixelSize, int weight) {
  EXPECT_EQ(font.pixelSize(), pixelSize);
  EXPECT_EQ(font.weight(), weight);
  EXPECT_EQ(font.families().value(0), QStringLiteral("Segoe UI"));
  EXPECT_EQ(font.styleHint(), QFont::SansSerif);
}

TEST_F(ApplicationTest, StartsTheBareMainWindowAndANormalCloseLeavesNoEngineFolder) {
  ApplicationShell shell;
  StartApplication(shell, argc, argv);
  ASSERT_TRUE(shell.mainWindow);
  MainWindow& window = *shell.mainWindow;
  EXPECT_EQ(window.objectName(), QString::fromUtf8(kMainWindowName));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Orvel JPEG Optimizer"));
  EXPECT_EQ(window.size(), QSize(1380, 820));
  EXPECT_TRUE(window.isVisible());
  ASSERT_TRUE(Fonts().created);
  ExpectFont(Fonts().bodyFont, 17, 400);
  ExpectFont(Fonts().smallFont, 15, 400);
  ExpectFont(Fonts().emphasisFont, 18, 600);
  ExpectFont(Fonts().titleFont, 29, 700);
  ExpectFont(Fonts().guideFont, 23, 400);
  // Materialised exactly once, before the window: the folder is there now.
  const std::string engineFolder = Engines().engineFolder;
  EXPECT_EQ(ParentFolder(engineFolder), engineParent);
  EXPECT_TRUE(IsDirectory(engineFolder));
  if (const char* grabFolder = std::getenv("ORVEL_TEST_GRAB_FOLDER")) {
    window.grab().save(QString::fromUtf8(JoinPath(grabFolder, "main_window.png").c_str()));
  }
  QTimer::singleShot(0, &window, [&window]() { window.close(); });
  EXPECT_EQ(RunEventLoop(shell), 0);
  ShutDownApplication(shell);
  EXPECT_FALSE(PathExists(engineFolder));
  EXPECT_TRUE(FolderEntries(engineParent).empty());
  EXPECT_FALSE(Fonts().created);
}

TEST_F(ApplicationTest, ShutdownStopsWorkersBeforeTheirToolsAreRemoved) {
  ApplicationShell shell;
  StartApplication(shell, argc, argv);
  const std::string engineFolder = Engines().engineFolder;
  ASSERT_FALSE(engineFolder.empty());
  int hookRuns = 0;
  bool folderPresentDuringHook = false, windowPresentDuringHook = false;
  SetShutdownWorkerHook([&]() {
    ++hookRuns;
    folderPresentDuringHook = IsDirectory(engineFolder);
    windowPresentDuringHook = static_cast<bool>(shell.mainWindow);
  });
  QTimer::singleShot(0, shell.mainWindow.get(), [&shell]() { shell.mainWindow->close(); });
  EXPECT_EQ(RunEventLoop(shell), 0);
  ShutDownApplication(shell);
  ShutDownApplication(shell);
  EXPECT_EQ(hookRuns, 1);
  EXPECT_TRUE(folderPresentDuringHook && windowPresentDuringHook);
  EXPECT_FALSE(PathExists(engineFolder));
}

TEST_F(ApplicationTest, TerminationSignalClosesTheMainWindow) {
  ApplicationShell shell;
  StartApplication(shell, argc, argv);
  const std::string engineFolder = Engines().engineFolder;
  // Without the handler the default action would end this test process.
  QTimer::singleShot(0, shell.mainWindow.get(), []() { ::raise(SIGTERM); });
  EXPECT_EQ(RunEventLoop(shell), 0);
  EXPECT_FALSE(shell.mainWindow->isVisible());
  ShutDownApplication(shell);
  EXPECT_FALSE(PathExists(engineFolder));
}

// Starts the real program with a private TMPDIR and the offscreen platform.
pid_t StartProgram(const std::string& temporaryFolder) {
  std::vector<std::string> environment = {"TMPDIR=" + temporaryFolder, "QT_QPA_PLATFORM=offscreen"};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("TMPDIR=", 0) != 0 && text.rfind("QT_QPA_PLATFORM=", 0) != 0) environment.push_back(text);
  }
  std::vector<char*> envp;
  for (std::string& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  char program[] = ORVEL_GUI_PROGRAM;
  char* childArgv[] = {program, nullptr};
  pid_t child = -1;
  return ::posix_spawn(&child, program, nullptr, nullptr, childArgv, envp.data()) == 0 ? child : -1;
}

class ProgramSignalTest : public ApplicationTest, public ::testing::WithParamInterface<int> {};

TEST_P(ProgramSignalTest, ProgramEndsWithCodeZeroAndRemovesItsEngineFolder) {
  const pid_t child = StartProgram(temp.path);
  ASSERT_GT(child, 0);
  const std::string stem = EngineFolderName(static_cast<std::uint32_t>(child)) + "_";
  std::string engineFolder;
  // The handlers are in place before the engine folder is made.
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       engineFolder.empty() && std::chrono::steady_clock::now() < deadline;) {
    for (const std::string& name : FolderEntries(engineParent)) {
      if (name.rfind(stem, 0) == 0) engineFolder = JoinPath(engineParent, name);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const bool started = IsDirectory(engineFolder);
  ::kill(child, started ? GetParam() : SIGKILL);
  // Waits up to 30 s for the child; killed on timeout.
  int status = 0;
  bool exited = false;
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       !(exited = ::waitpid(child, &status, WNOHANG) == child) && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!exited) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_TRUE(exited);
  ASSERT_TRUE(started) << "the program made no engine folder";
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
