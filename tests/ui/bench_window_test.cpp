// Tests of the profile-development window with the main window, offscreen:
// the shortcuts and commands 2250 to 2252, starting, pausing, continuing and
// cancelling real runs at small depths over tiny generated images (in-process
// encoder and the real jpegtran), resuming a saved session, the start
// refusals and the close and batch refusals while a run is active.
//
// Every test has its own TMPDIR and LOCALAPPDATA; message boxes, the
// question and the folder chooser are recorded and answered here.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "bench/benchmark_grid.h"
#include "bench/raw_results.h"
#include "bench/summary.h"
#include "bench/worker.h"
#include "platform/files.h"
#include "tests/bench/bench_test_support.h"
#include "ui/bench/bench_window.h"
#include "ui/main/fonts.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window.h"

namespace {

// Found by the build; empty when not installed.
constexpr const char* kJpegtran = ORVEL_BENCH_TEST_JPEGTRAN;
constexpr int kRunTimeoutMs = 20000;

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    application_ = std::make_unique<QApplication>(argc_, argv_);
    application_->setQuitOnLastWindowClosed(false);
    CreateSharedFonts();
  }
  void TearDown() override {
    ReleaseSharedFonts();
    application_.reset();
  }

 private:
  int argc_ = 1;
  char name_[24] = "bench_window_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct Message {
  std::string title;
  std::string text;
  int icon = 0;  // BenchMessageIcon or MessageIcon as a number, per window
};

// Back to the state of a program start.
void ResetSession(BenchmarkSession& session) {
  session.sessionFilePath.clear();
  session.root.clear();
  session.sessionDir.clear();
  session.csvPath.clear();
  session.imageListPath.clear();
  session.images.clear();
  session.maxPerFolder = 5;
  session.maxTotal = 5000;
  session.depth = 1;
  session.foldersFound = 0;
  session.imagesFound = 0;
  session.nextIndex = 0;
  session.completed = 0;
  session.paused = false;
  session.cancelRequested = false;
  session.currentCandidate = 0;
  session.candidateCount = 0;
  session.startTick = 0;
}

// Image file name -> number of raw rows.
std::map<std::string, int> RowsPerImage(const std::string& csvPath) {
  std::map<std::string, int> rows;
  const std::vector<std::string> lines = SplitLines(ReadTextFile(csvPath));
  for (size_t i = 1; i < lines.size(); ++i) ++rows[SplitCsvLine(lines[i])[0]];
  return rows;
}

class BenchWindowTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;
  std::optional<ScopedEngines> engines;
  std::unique_ptr<MainWindow> mainWindow;
  std::vector<Message> benchMessages;
  std::vector<Message> mainMessages;
  std::deque<bool> answers;          // answers to the question; none = No
  std::vector<std::string> questions;
  std::deque<std::string> folderAnswers;  // empty = cancelled
  std::vector<std::string> folderDialogTitles;
  std::vector<std::string> openedFolders;
  BenchmarkSession& session = CurrentBenchmarkSession();

  void SetUp() override {
    ResetSession(session);
    engines.emplace(kJpegtran, "");
    BenchWindowDialogs dialogs;
    dialogs.showMessage = [this](const std::string& title, const std::string& text,
                                 BenchMessageIcon icon) {
      benchMessages.push_back({title, text, static_cast<int>(icon)});
    };
    dialogs.askYesNo = [this](const std::string&, const std::string& text) {
      questions.push_back(text);
      if (answers.empty()) return false;
      const bool answer = answers.front();
      answers.pop_front();
      return answer;
    };
    dialogs.chooseFolder = [this](const std::string& title, std::string& folder) {
      folderDialogTitles.push_back(title);
      if (folderAnswers.empty()) return false;
      folder = folderAnswers.front();
      folderAnswers.pop_front();
      return !folder.empty();
    };
    SetBenchWindowDialogs(dialogs);
    MainWindowDialogs mainDialogs;
    mainDialogs.showMessage = [this](const std::string& title, const std::string& text,
                                     MessageIcon icon) {
      mainMessages.push_back({title, text, static_cast<int>(icon)});
    };
    mainDialogs.openFolder = [this](const std::string& folder) { openedFolders.push_back(folder); };
    mainDialogs.beep = []() {};
    SetMainWindowDialogs(mainDialogs);
    mainWindow = std::make_unique<MainWindow>();
    InstallProfileDevelopmentWindow(*mainWindow);
    mainWindow->show();
    mainWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(mainWindow.get()));
  }

  void TearDown() override {
    StopBenchmarkWorker();
    QCoreApplication::processEvents();
    UninstallProfileDevelopmentWindow();
    mainWindow.reset();
    SetBenchWindowDialogs({});
    SetMainWindowDialogs({});
    engines.reset();
    ResetSession(session);
    EXPECT_TRUE(FolderEntries(folders.tmp, "TALV_").empty()) << "work folder left behind";
  }

  void SkipWithoutJpegtran() {
    if (std::string(kJpegtran).empty()) GTEST_SKIP() << "jpegtran not installed";
  }

  ProfileDevelopmentWindow* Window() const { return CurrentBenchWindow(); }

  QString Line(int id) const {
    return qobject_cast<QLabel*>(Window()->ControlById(id))->text();
  }
  std::string Status() const { return Line(kBenchIdStatusLine).toStdString(); }
  std::string Progress() const { return Line(kBenchIdProgressLine).toStdString(); }
  std::string Counts() const { return Line(kBenchIdCountsLine).toStdString(); }
  bool Enabled(int id) const { return Window()->ControlById(id)->isEnabled(); }
  QLineEdit* Field(int id) const { return qobject_cast<QLineEdit*>(Window()->ControlById(id)); }
  QComboBox* DepthBox() const { return qobject_cast<QComboBox*>(Window()->ControlById(kBenchIdDepthBox)); }

  // Ctrl+Shift+key on the active main window, through its platform window
  // as a real key press arrives.
  void PressOnMainWindow(Qt::Key key) {
    mainWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(mainWindow.get()));
    QTest::keyClick(mainWindow->windowHandle(), key, Qt::ControlModifier | Qt::ShiftModifier);
    QCoreApplication::processEvents();
  }

  // Tiny JPEGs img0.jpg, img1.jpg, ... in `folder`.
  std::vector<std::string> MakeJpegs(const std::string& folder, int count, int firstSeed = 0,
                                     const std::string& prefix = "img") {
    EXPECT_TRUE(MakeFolder(folder));
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      const std::string path = JoinPath(folder, prefix + std::to_string(i) + ".jpg");
      EXPECT_TRUE(WriteTestJpeg(path, 48, 40, firstSeed + i));
      paths.push_back(path);
    }
    return paths;
  }

  // Chooses the root folder through the folder button.
  void ChooseRoot(const std::string& folder) {
    folderAnswers.push_back(folder);
    Window()->DispatchCommand(kBenchIdFolderButton);
  }

  // The window's notifications, with a pause requested from the worker
  // itself when it begins the first candidate of image `pauseAt` (0-based),
  // so the run is paused at a known place whatever the machine's speed.
  std::shared_ptr<std::atomic<std::int64_t>> pauseAt = std::make_shared<std::atomic<std::int64_t>>(-1);
  void PauseWorkerAtImage(std::int64_t image) {
    pauseAt->store(image);
    BenchmarkNotifications notifications = MakeBenchWindowNotifications();
    const auto progress = notifications.progress;
    const auto target = pauseAt;
    BenchmarkSession* watched = &session;
    notifications.progress = [progress, target, watched]() {
      std::int64_t expected = static_cast<std::int64_t>(watched->nextIndex.load());
      if (watched->currentCandidate.load() == 1 && target->compare_exchange_strong(expected, -1)) {
        PauseBenchmarkWorker(*watched);
      }
      progress();
    };
    SetBenchmarkNotifications(CurrentBenchmarkWorker(), notifications);
  }

  // Waits until the run has ended and its thread was joined.
  bool WaitForRunEnd() {
    return QTest::qWaitFor(
        [this]() { return !session.running.load() && !CurrentBenchmarkWorker().thread.joinable(); },
        kRunTimeoutMs);
  }

  bool WaitForStatus(const char* status) {
    const bool seen = QTest::qWaitFor([&]() { return Window() && Status() == status; }, kRunTimeoutMs);
    if (!seen && Window()) ADD_FAILURE() << "status: " << Status() << "\nprogress: " << Progress();
    return seen;
  }

  ToolAvailability Tools() const { return ToolAvailability{false, false, true}; }
};

TEST_F(BenchWindowTest, ShortcutsOpenTheWindowAndTheRunsFolder) {
  PressOnMainWindow(Qt::Key_B);
  ASSERT_EQ(openedFolders.size(), 1u);
  EXPECT_EQ(openedFolders[0], JoinPath(folders.data, "OrvelJpegOptimizer/BenchmarkRuns"));
  EXPECT_TRUE(IsDirectory(openedFolders[0]));

  // No session file: the resume shortcut does nothing.
  PressOnMainWindow(Qt::Key_R);
  EXPECT_EQ(Window(), nullptr);

  PressOnMainWindow(Qt::Key_P);
  ProfileDevelopmentWindow* window = Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->objectName().toStdString(), "TALV_BENCH");
  EXPECT_EQ(window->windowTitle().toStdString(), kBenchWindowTitle);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->parentWidget(), mainWindow.get());
  EXPECT_EQ(Status(), kBenchStatusReady);
  EXPECT_EQ(Progress(), "Bilder: 0 / 0");
  EXPECT_EQ(Counts(), "Gefunden: 0 Bilder in 0 Verzeichnissen   |   ausgew\u00e4hlt: 0");
  EXPECT_TRUE(Enabled(kBenchIdStartButton));
  EXPECT_TRUE(Enabled(kBenchIdFolderButton));
  EXPECT_FALSE(Enabled(kBenchIdPauseButton));
  EXPECT_FALSE(Enabled(kBenchIdContinueButton));
  EXPECT_FALSE(Enabled(kBenchIdCancelButton));
  EXPECT_EQ(Field(kBenchIdRootField)->text(), "");
  EXPECT_TRUE(Field(kBenchIdRootField)->isReadOnly());
  EXPECT_EQ(Field(kBenchIdPerFolderField)->text(), "5");
  EXPECT_EQ(Field(kBenchIdTotalField)->text(), "5000");
  ASSERT_EQ(DepthBox()->count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(DepthBox()->itemText(i).toStdString(), kBenchDepthItems[i]);
  EXPECT_EQ(DepthBox()->currentIndex(), 1);
  EXPECT_EQ(qobject_cast<QPushButton*>(window->ControlById(kBenchIdStartButton))->font().pixelSize(), 18);
  EXPECT_EQ(qobject_cast<QPushButton*>(window->ControlById(kBenchIdPauseButton))->font().pixelSize(), 17);
  // Laid out for the window's width.
  const QRect root = Field(kBenchIdRootField)->geometry();
  EXPECT_EQ(root, QRect(22, 86, window->width() - 194, 32));
  EXPECT_EQ(window->ControlById(kBenchIdFolderButton)->geometry(),
            QRect(window->width() - 160, 86, 138, 32));
  window->resize(900, 520);
  QCoreApplication::processEvents();
  EXPECT_EQ(window->ControlById(kBenchIdCountsLine)->geometry(), QRect(22, 386, 856, 46));
}

TEST_F(BenchWindowTest, OpeningTwiceKeepsTheOneWindowAlsoWithResume) {
  const std::vector<std::string> images = MakeJpegs(folders.images, 2);
  BenchmarkSession saved;
  saved.root = folders.images;
  saved.images = images;
  ASSERT_TRUE(CreateBenchmarkRun(saved));
  ASSERT_TRUE(SessionFileExists());

  mainWindow->DispatchCommand(2250);
  ProfileDevelopmentWindow* first = Window();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Field(kBenchIdRootField)->text(), "") << "a new window does not load the session";
  mainWindow->DispatchCommand(2251);
  EXPECT_EQ(Window(), first);
  EXPECT_EQ(Field(kBenchIdRootField)->text(), "") << "raising does not load either";
  mainWindow->DispatchCommand(2250);
  EXPECT_EQ(Window(), first);
  EXPECT_TRUE(session.images.empty());
}

TEST_F(BenchWindowTest, ResumedSessionWithFourOfTenDoneContinuesWithImageFive) {
  SkipWithoutJpegtran();
  const std::vector<std::string> images = MakeJpegs(folders.images, 10);
  {
    BenchmarkSession saved;
    saved.root = folders.images;
    saved.images = images;
    saved.maxPerFolder = 7;
    saved.maxTotal = 20;
    saved.depth = 0;
    saved.imagesFound = 10;
    saved.foldersFound = 1;
    ASSERT_TRUE(CreateBenchmarkRun(saved));
    saved.completed = 4;
    saved.nextIndex = 4;
    ASSERT_TRUE(SaveSession(saved));
  }
  // The main window became active before the file existed.
  RefreshResumeCommand();
  PressOnMainWindow(Qt::Key_R);
  ASSERT_NE(Window(), nullptr);
  EXPECT_EQ(Field(kBenchIdRootField)->text().toStdString(), folders.images);
  EXPECT_EQ(Field(kBenchIdPerFolderField)->text(), "7");
  EXPECT_EQ(Field(kBenchIdTotalField)->text(), "20");
  EXPECT_EQ(DepthBox()->currentIndex(), 0);
  EXPECT_EQ(Status(), kBenchStatusInterrupted);
  EXPECT_EQ(Progress(), "Bilder: 4 / 10");
  EXPECT_EQ(Counts(), "Gefunden: 10 Bilder in 1 Verzeichnissen   |   ausgew\u00e4hlt: 10");
  EXPECT_TRUE(Enabled(kBenchIdContinueButton));
  EXPECT_FALSE(Enabled(kBenchIdPauseButton));
  EXPECT_FALSE(Enabled(kBenchIdCancelButton));
  auto* bar = qobject_cast<QProgressBar*>(Window()->ControlById(kBenchIdProgressBar));
  EXPECT_EQ(bar->maximum(), 10);
  EXPECT_EQ(bar->value(), 4);

  QTest::mouseClick(Window()->ControlById(kBenchIdContinueButton), Qt::LeftButton);
  ASSERT_TRUE(WaitForRunEnd());
  QCoreApplication::processEvents();

  std::map<std::string, int> rows = RowsPerImage(session.csvPath);
  ASSERT_EQ(rows.size(), 6u);
  for (int i = 4; i < 10; ++i) EXPECT_EQ(rows["img" + std::to_string(i) + ".jpg"], 8) << i;
  EXPECT_EQ(Status(), kBenchStatusFinished);
  EXPECT_EQ(Progress(), "Bilder: 10 / 10");
  EXPECT_FALSE(Enabled(kBenchIdContinueButton));
  EXPECT_FALSE(Enabled(kBenchIdCancelButton));
  EXPECT_TRUE(Enabled(kBenchIdStartButton));
  EXPECT_FALSE(SessionFileExists());
  EXPECT_TRUE(IsRegularFile(JoinPath(session.sessionDir, kSummaryFileName)));
  ASSERT_EQ(benchMessages.size(), 1u);
  EXPECT_EQ(benchMessages[0].title, "Profilentwicklung");
  EXPECT_EQ(benchMessages[0].text, RunFinishedMessage(session.csvPath));
  EXPECT_EQ(benchMessages[0].icon, static_cast<int>(BenchMessageIcon::Information));
  EXPECT_NE(benchMessages[0].text.find(JoinPath(session.sessionDir, "quality_profile_raw.csv")),
            std::string::npos);

  // No session file any more: the resume shortcut only raises nothing new.
  Window()->close();
  ASSERT_TRUE(QTest::qWaitFor([this]() { return Window() == nullptr; }));
  PressOnMainWindow(Qt::Key_R);
  EXPECT_EQ(Window(), nullptr);
}

TEST_F(BenchWindowTest, EmptiedAndTooSmallFieldsAndNoDepthSelection) {
  SkipWithoutJpegtran();
  for (int folder = 0; folder < 3; ++folder) {
    const std::string name = "ordner" + std::to_string(folder);
    MakeJpegs(JoinPath(folders.images, name), 4, folder * 10, name + "_bild");
  }
  mainWindow->DispatchCommand(2250);
  ASSERT_NE(Window(), nullptr);
  ChooseRoot(folders.images);
  ASSERT_EQ(folderDialogTitles.size(), 1u);
  EXPECT_EQ(folderDialogTitles[0], "Bildbestand f\u00fcr Profilentwicklung ausw\u00e4hlen");
  EXPECT_EQ(Field(kBenchIdRootField)->text().toStdString(), folders.images);
  Field(kBenchIdPerFolderField)->clear();
  Field(kBenchIdTotalField)->setText("3");
  DepthBox()->setCurrentIndex(-1);

  Window()->DispatchCommand(kBenchIdStartButton);
  EXPECT_TRUE(session.running.load() || CurrentBenchmarkWorker().thread.joinable());
  EXPECT_FALSE(Enabled(kBenchIdStartButton));
  EXPECT_FALSE(Enabled(kBenchIdFolderButton));
  ASSERT_TRUE(WaitForRunEnd());
  QCoreApplication::processEvents();

  EXPECT_EQ(session.maxPerFolder, 5);
  EXPECT_EQ(session.maxTotal, 10);
  EXPECT_EQ(session.depth, 1);
  EXPECT_EQ(Field(kBenchIdPerFolderField)->text(), "") << "clamped values are not written back";
  EXPECT_EQ(Field(kBenchIdTotalField)->text(), "3");
  const size_t standardGrid = BuildBenchmarkGrid(1, true, Tools()).size();
  // The last image's grid size stays; only the candidate number returns to 0.
  EXPECT_EQ(Counts(), "Gefunden: 12 Bilder in 4 Verzeichnissen   |   ausgew\u00e4hlt: 10   |   Kandidat 0 / " +
                          std::to_string(standardGrid));
  ASSERT_GT(standardGrid, BuildBenchmarkGrid(0, true, Tools()).size());
  const std::map<std::string, int> rows = RowsPerImage(session.csvPath);
  int total = 0;
  EXPECT_EQ(rows.size(), 10u);
  for (const auto& [image, count] : rows) {
    EXPECT_EQ(count, static_cast<int>(standardGrid)) << image;
    total += count;
  }
  EXPECT_EQ(total, static_cast<int>(standardGrid) * 10);
  EXPECT_EQ(Status(), kBenchStatusFinished);
  ASSERT_EQ(benchMessages.size(), 1u);
  EXPECT_EQ(benchMessages[0].text, RunFinishedMessage(session.csvPath));
}

TEST_F(BenchWindowTest, ClosingIsRefusedWhileRunningAndWhilePaused) {
  SkipWithoutJpegtran();
  MakeJpegs(folders.images, 10);
  mainWindow->DispatchCommand(2250);
  ChooseRoot(folders.images);
  Field(kBenchIdPerFolderField)->setText("10");
  DepthBox()->setCurrentIndex(0);
  PauseWorkerAtImage(2);
  Window()->DispatchCommand(kBenchIdStartButton);
  ASSERT_TRUE(WaitForStatus(kBenchStatusPaused));
  EXPECT_FALSE(Enabled(kBenchIdPauseButton));
  EXPECT_TRUE(Enabled(kBenchIdContinueButton));
  EXPECT_TRUE(Enabled(kBenchIdCancelButton));
  EXPECT_FALSE(Enabled(kBenchIdStartButton));
  EXPECT_FALSE(Enabled(kBenchIdFolderButton));
  EXPECT_TRUE(SessionFileExists());

  // Paused: the window, the main window and a batch all refuse.
  EXPECT_FALSE(Window()->close());
  ASSERT_NE(Window(), nullptr);
  ASSERT_EQ(benchMessages.size(), 1u);
  EXPECT_EQ(benchMessages[0].title, "Profilentwicklung");
  // They ask to continue the run, not to pause it again.
  EXPECT_EQ(benchMessages[0].text, "Der Profiltest ist pausiert. Bitte zuerst fortfahren oder abbrechen.");
  EXPECT_FALSE(mainWindow->close());
  EXPECT_TRUE(mainWindow->isVisible());
  mainWindow->DispatchCommand(2101);
  ASSERT_EQ(mainMessages.size(), 2u);
  EXPECT_EQ(mainMessages[0].title, "Orvel JPEG Optimizer");
  EXPECT_EQ(mainMessages[0].text, kMessagePausedBenchmarkBlocksClose);
  EXPECT_EQ(mainMessages[1].text, kMessagePausedBenchmarkBlocksBatch);

  // Running again (the worker pauses itself once more at image 6): refused.
  PauseWorkerAtImage(6);
  Window()->DispatchCommand(kBenchIdContinueButton);
  EXPECT_TRUE(session.running.load());
  EXPECT_FALSE(Window()->close());
  EXPECT_EQ(benchMessages.size(), 2u);
  ASSERT_TRUE(WaitForStatus(kBenchStatusPaused));
  EXPECT_TRUE(QTest::qWaitFor([this]() { return Progress().rfind("Bilder: 6 / 10", 0) == 0; }));

  Window()->DispatchCommand(kBenchIdCancelButton);
  EXPECT_EQ(Status(), kBenchStatusCancelRequested);
  ASSERT_TRUE(WaitForRunEnd());
  QCoreApplication::processEvents();
  EXPECT_EQ(Status(), kBenchStatusInterrupted);
  EXPECT_EQ(Progress(), "Bilder: 6 / 10");
  EXPECT_TRUE(Enabled(kBenchIdContinueButton));
  EXPECT_EQ(benchMessages.size(), 2u) << "no final message after a cancel";
  BenchmarkSession saved;
  ASSERT_TRUE(LoadSession(saved));
  EXPECT_EQ(saved.nextIndex.load(), 6u);
  EXPECT_EQ(RowsPerImage(session.csvPath).size(), 6u);

  // Not running any more: the window closes and the main window would too.
  EXPECT_TRUE(Window()->close());
  EXPECT_TRUE(QTest::qWaitFor([this]() { return Window() == nullptr; }));
  EXPECT_TRUE(SessionFileExists()) << "the interrupted session stays for a later resume";
}

TEST_F(BenchWindowTest, StartRefusalsAndTheQuestionBeforeReplacingASession) {
  mainWindow->DispatchCommand(2250);
  Window()->DispatchCommand(kBenchIdStartButton);
  ASSERT_EQ(benchMessages.size(), 1u);
  EXPECT_EQ(benchMessages[0].text, "Bitte zuerst ein g\u00fcltiges Verzeichnis ausw\u00e4hlen.");
  EXPECT_EQ(benchMessages[0].icon, static_cast<int>(BenchMessageIcon::Information));

  // A chosen folder that has gone since.
  const std::string gone = JoinPath(folders.images, "weg");
  ASSERT_TRUE(MakeFolder(gone));
  ChooseRoot(gone);
  ASSERT_TRUE(RemoveFolderTree(gone));
  Window()->DispatchCommand(kBenchIdStartButton);
  ASSERT_EQ(benchMessages.size(), 2u);
  EXPECT_EQ(benchMessages[1].text, benchMessages[0].text);

  // Cancelling the chooser keeps the field.
  Window()->DispatchCommand(kBenchIdFolderButton);
  EXPECT_EQ(Field(kBenchIdRootField)->text().toStdString(), gone);

  // A folder without accepted images.
  const std::string empty = JoinPath(folders.images, "leer");
  ASSERT_TRUE(MakeFolder(empty));
  ASSERT_TRUE(WriteTextFile(JoinPath(empty, "notiz.txt"), "x"));
  ChooseRoot(empty);
  Window()->DispatchCommand(kBenchIdStartButton);
  ASSERT_EQ(benchMessages.size(), 3u);
  EXPECT_EQ(benchMessages[2].text, "Es wurden keine unterst\u00fctzten Bilder gefunden.");
  EXPECT_EQ(Status(), kBenchStatusReady);
  EXPECT_EQ(Counts(), "Gefunden: 0 Bilder in 1 Verzeichnissen   |   ausgew\u00e4hlt: 0");
  EXPECT_FALSE(SessionFileExists());
  EXPECT_TRUE(questions.empty());

  // An interrupted session exists: answering No changes nothing.
  const std::vector<std::string> images = MakeJpegs(JoinPath(folders.images, "fotos"), 2);
  BenchmarkSession saved;
  saved.root = folders.images;
  saved.images = images;
  ASSERT_TRUE(CreateBenchmarkRun(saved));
  const std::string sessionText = ReadTextFile(SessionFilePath());
  ChooseRoot(JoinPath(folders.images, "fotos"));
  answers.push_back(false);
  Window()->DispatchCommand(kBenchIdStartButton);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0],
            "Es existiert eine unterbrochene Profiltest-Sitzung. Mit einem neuen Test wird der "
            "Fortsetzungszeiger ersetzt; die bereits erzeugten CSV-Daten bleiben erhalten. Neuen "
            "Test starten?");
  EXPECT_EQ(ReadTextFile(SessionFilePath()), sessionText);
  EXPECT_FALSE(session.running.load());
  EXPECT_EQ(FolderEntries(BenchmarkRunsFolder(), "Run_").size(), 1u);

  // Yes: a new run in a new folder; the old folder stays.
  if (std::string(kJpegtran).empty()) return;
  answers.push_back(true);
  DepthBox()->setCurrentIndex(0);
  Window()->DispatchCommand(kBenchIdStartButton);
  EXPECT_EQ(questions.size(), 2u);
  ASSERT_TRUE(WaitForRunEnd());
  QCoreApplication::processEvents();
  EXPECT_EQ(FolderEntries(BenchmarkRunsFolder(), "Run_").size(), 2u);
  EXPECT_NE(session.sessionDir, saved.sessionDir);
  EXPECT_TRUE(IsRegularFile(saved.csvPath));
  EXPECT_EQ(Status(), kBenchStatusFinished);
}

TEST_F(BenchWindowTest, RunFolderThatCannotBeMadeIsReportedAsAnError) {
  MakeJpegs(folders.images, 2);
  // A file where the runs folder belongs.
  const std::string appFolder = JoinPath(folders.data, "OrvelJpegOptimizer");
  ASSERT_TRUE(MakeFolder(appFolder));
  ASSERT_TRUE(WriteTextFile(JoinPath(appFolder, "BenchmarkRuns"), "kein Ordner"));
  mainWindow->DispatchCommand(2250);
  ChooseRoot(folders.images);
  Window()->DispatchCommand(kBenchIdStartButton);
  ASSERT_EQ(benchMessages.size(), 1u);
  EXPECT_EQ(benchMessages[0].text, "Die Benchmark-Sitzung konnte nicht angelegt werden.");
  EXPECT_EQ(benchMessages[0].icon, static_cast<int>(BenchMessageIcon::Error));
  EXPECT_FALSE(session.running.load());
  EXPECT_FALSE(CurrentBenchmarkWorker().thread.joinable());
}

}  // namespace
