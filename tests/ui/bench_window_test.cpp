// The profile-development window with the main window, offscreen: shortcuts, start refusals, and
// real small runs (in-process encoder, real jpegtran) paused, refused to close, cancelled and resumed.
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <array>
#include <atomic>
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>

#include "bench/raw_results.h"
#include "bench/summary.h"
#include "bench/worker.h"
#include "platform/files.h"
#include "tests/support/text_lines.h"
#include "tests/ui/main_window_test_support.h"
#include "ui/bench/bench_window.h"
#include "ui/main/main_texts.h"

namespace {

void ResetSession(BenchmarkSession& s) {
  s.sessionFilePath = s.root = s.sessionDir = s.csvPath = s.imageListPath = "";
  s.images.clear();
  s.maxPerFolder = 5;
  s.maxTotal = 5000;
  s.depth = 1;
  s.foldersFound = s.imagesFound = s.nextIndex = s.completed = s.startTick = 0;
  s.paused = s.cancelRequested = false;
  s.currentCandidate = s.candidateCount = 0;
}

// Image file name -> number of raw rows.
std::map<std::string, int> RowsPerImage(const std::string& csvPath) {
  std::map<std::string, int> rows;
  const std::vector<std::string> lines = SplitLines(ReadTextFile(csvPath));
  for (size_t i = 1; i < lines.size(); ++i) ++rows[SplitCsvLine(lines[i])[0]];
  return rows;
}

std::size_t RunFolderCount() {
  const std::filesystem::directory_iterator folders(BenchmarkRunsFolder());
  return std::count_if(begin(folders), end(folders),
                       [](const auto& entry) { return entry.path().filename().string().rfind("Run_", 0) == 0; });
}

using BenchMessage = std::pair<std::string, BenchMessageIcon>;
constexpr BenchMessageIcon kInfo = BenchMessageIcon::Information;
using Texts = std::vector<std::string>;

class BenchWindowTest : public MainWindowTest {
 protected:
  std::optional<ScopedEnv> localAppData;
  std::optional<TestEngineStore> engines;
  std::string images;  // the image collection
  std::vector<BenchMessage> benchMessages;
  std::deque<bool> answers;  // to the question; none = No
  std::vector<std::string> questions;
  std::string chosenFolder;  // the folder chooser's answer; empty = cancelled
  BenchmarkSession& session = CurrentBenchmarkSession();

  void SetUp() override {
    ASSERT_TRUE(EnsureFolder(Path("data")));
    localAppData.emplace("LOCALAPPDATA", Path("data").c_str());
    images = Path("images");
    ASSERT_TRUE(EnsureFolder(images));
    MainWindowTest::SetUp();
    ResetSession(session);
    engines.emplace(TestTools{false, false, true});
    BenchWindowDialogs dialogs;
    dialogs.showMessage = [this](const std::string&, const std::string& text, BenchMessageIcon icon) {
      benchMessages.emplace_back(text, icon);
    };
    dialogs.askYesNo = [this](const std::string&, const std::string& text) {
      questions.push_back(text);
      const bool answer = !answers.empty() && answers.front();
      if (!answers.empty()) answers.pop_front();
      return answer;
    };
    dialogs.chooseFolder = [this](const std::string&, std::string& folder) {
      if (!chosenFolder.empty()) folder = chosenFolder;
      return !std::exchange(chosenFolder, "").empty();
    };
    SetBenchWindowDialogs(dialogs);
    InstallProfileDevelopmentWindow(*window);
  }

  void TearDown() override {
    StopBenchmarkWorker();
    QCoreApplication::processEvents();
    UninstallProfileDevelopmentWindow();
    SetBenchWindowDialogs({});
    engines.reset();
    ResetSession(session);
    MainWindowTest::TearDown();
  }

  ProfileDevelopmentWindow* Bench() const { return CurrentBenchWindow(); }
  std::string Status() const { return ControlText(Bench()->ControlById(kBenchIdStatusLine)); }
  std::string Progress() const { return ControlText(Bench()->ControlById(kBenchIdProgressLine)); }
  // Pause, continue, cancel, start and folder buttons enabled, as "01100".
  std::string Buttons() const {
    std::string flags;
    for (int id : {kBenchIdPauseButton, kBenchIdContinueButton, kBenchIdCancelButton,
                   kBenchIdStartButton, kBenchIdFolderButton}) {
      flags += Bench()->ControlById(id)->isEnabled() ? '1' : '0';
    }
    return flags;
  }
  std::vector<std::string> View() const {
    return {Status(), Progress(), ControlText(Bench()->ControlById(kBenchIdCountsLine)), Buttons()};
  }
  QLineEdit* Field(int id) const { return qobject_cast<QLineEdit*>(Bench()->ControlById(id)); }
  QComboBox* DepthBox() const { return qobject_cast<QComboBox*>(Bench()->ControlById(kBenchIdDepthBox)); }
  void Command(int id) { Bench()->DispatchCommand(id); }

  // Ctrl+Shift+key through the main window's platform window, as a real key press arrives.
  void PressOnMainWindow(Qt::Key key) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window->windowHandle(), key, Qt::ControlModifier | Qt::ShiftModifier);
    QCoreApplication::processEvents();
  }

  std::vector<std::string> MakeJpegs(const std::string& folder, int count) {
    EXPECT_TRUE(EnsureFolder(folder));
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      paths.push_back(JoinPath(folder, "img" + std::to_string(i) + ".jpg"));
      EXPECT_TRUE(WriteTestJpeg(paths.back(), MakeTestPicture(48, 40, i), 90));
    }
    return paths;
  }

  void OpenWithRoot(const std::string& root) {
    window->DispatchCommand(2250);
    ASSERT_NE(Bench(), nullptr);
    chosenFolder = root;
    Command(kBenchIdFolderButton);
  }

  // The worker pauses itself at the first candidate of `image`: a known place whatever the speed.
  void PauseWorkerAtImage(std::uint64_t image) {
    BenchmarkNotifications notifications = MakeBenchWindowNotifications();
    notifications.progress = [progress = notifications.progress, image, watched = &session,
                              paused = std::make_shared<std::atomic<bool>>(false)]() {
      if (watched->nextIndex.load() == image && watched->currentCandidate.load() == 1 &&
          !paused->exchange(true)) {
        PauseBenchmarkWorker(*watched);
      }
      progress();
    };
    SetBenchmarkNotifications(CurrentBenchmarkWorker(), notifications);
  }

  bool WaitForRunEnd() {
    const bool ended = QTest::qWaitFor(
        [this]() { return !session.running.load() && !CurrentBenchmarkWorker().thread.joinable(); }, 20000);
    QCoreApplication::processEvents();
    return ended;
  }

  bool WaitForStatus(const char* status) {
    if (QTest::qWaitFor([&]() { return Bench() && Status() == status; }, 20000)) return true;
    if (Bench()) ADD_FAILURE() << Status() << "\n" << Progress();
    return false;
  }
};

TEST_F(BenchWindowTest, ClosingIsRefusedWhileRunningAndWhilePausedAndACancelledRunResumesWhereItStopped) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
  MakeJpegs(images, 10);
  OpenWithRoot(images);
  Field(kBenchIdPerFolderField)->setText("999");
  Field(kBenchIdTotalField)->setText("3");
  DepthBox()->setCurrentIndex(0);
  PauseWorkerAtImage(2);
  Command(kBenchIdStartButton);
  ASSERT_TRUE(WaitForStatus(kBenchStatusPaused));
  EXPECT_EQ(Buttons(), "01100");
  EXPECT_TRUE(SessionFileExists());
  // The limits are clamped for the run, not in the fields.
  EXPECT_EQ((std::array{session.maxPerFolder, session.maxTotal, session.depth}), (std::array{50, 10, 0}));
  EXPECT_EQ((QStringList{Field(kBenchIdPerFolderField)->text(), Field(kBenchIdTotalField)->text()}),
            (QStringList{"999", "3"}));
  // Paused: the window, the main window and a batch all refuse, asking to continue the run.
  EXPECT_FALSE(Bench()->close());
  ASSERT_NE(Bench(), nullptr);
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  window->DispatchCommand(2101);
  EXPECT_EQ(benchMessages, (std::vector<BenchMessage>{{kBenchMessageCloseRefusedPaused, kInfo}}));
  EXPECT_EQ(MessageTexts(), (Texts{kMessagePausedBenchmarkBlocksClose, kMessagePausedBenchmarkBlocksBatch}));

  // Running again (the worker pauses itself once more at image 6): refused.
  PauseWorkerAtImage(6);
  Command(kBenchIdContinueButton);
  EXPECT_TRUE(session.running.load());
  EXPECT_FALSE(Bench()->close());
  EXPECT_EQ(benchMessages.back().first, kBenchMessageCloseRefused);
  ASSERT_TRUE(WaitForStatus(kBenchStatusPaused));
  EXPECT_TRUE(QTest::qWaitFor([this]() { return Progress().rfind("Bilder: 6 / 10", 0) == 0; }));
  Command(kBenchIdCancelButton);
  EXPECT_EQ(Status(), kBenchStatusCancelRequested);
  ASSERT_TRUE(WaitForRunEnd());
  const std::vector<std::string> view = View();
  EXPECT_EQ((Texts{view[0], view[1], view[3]}), (Texts{kBenchStatusInterrupted, "Bilder: 6 / 10", "01011"}));
  EXPECT_EQ(benchMessages.size(), 2u) << "no final message after a cancel";
  BenchmarkSession saved;
  ASSERT_TRUE(LoadSession(saved));
  EXPECT_EQ(std::pair(saved.nextIndex.load(), RowsPerImage(session.csvPath).size()), std::pair(6ul, 6ul));
  // Not running any more: the window closes; the session stays for a resume.
  EXPECT_TRUE(Bench()->close());
  ASSERT_TRUE(QTest::qWaitFor([this]() { return Bench() == nullptr; }));
  ASSERT_TRUE(SessionFileExists());

  // The resume shortcut loads the session's figures and continues with image 7.
  RefreshResumeCommand();
  PressOnMainWindow(Qt::Key_R);
  ASSERT_NE(Bench(), nullptr);
  EXPECT_EQ((QStringList{Field(kBenchIdRootField)->text(), Field(kBenchIdPerFolderField)->text(),
                         Field(kBenchIdTotalField)->text(), QString::number(DepthBox()->currentIndex())}),
            (QStringList{QString::fromStdString(images), "50", "10", "0"}));
  const std::string found = "Gefunden: 10 Bilder in 1 Verzeichnissen   |   ausgew\u00e4hlt: 10";
  EXPECT_EQ(View(), (Texts{kBenchStatusInterrupted, "Bilder: 6 / 10", found, "01011"}));
  const auto* bar = qobject_cast<QProgressBar*>(Bench()->ControlById(kBenchIdProgressBar));
  EXPECT_EQ(std::pair(bar->maximum(), bar->value()), std::pair(10, 6));
  QTest::mouseClick(Bench()->ControlById(kBenchIdContinueButton), Qt::LeftButton);
  ASSERT_TRUE(WaitForRunEnd());
  std::map<std::string, int> rows = RowsPerImage(session.csvPath);
  EXPECT_EQ(rows.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(rows["img" + std::to_string(i) + ".jpg"], 8) << i;
  // The last image's grid size stays; only the candidate number returns to 0.
  EXPECT_EQ(View(), (Texts{kBenchStatusFinished, "Bilder: 10 / 10", found + "   |   Kandidat 0 / 8", "00011"}));
  EXPECT_TRUE(!SessionFileExists() && IsRegularFile(JoinPath(session.sessionDir, kSummaryFileName)));
  const std::string csv = JoinPath(session.sessionDir, "quality_profile_raw.csv");
  EXPECT_EQ(benchMessages.back(), BenchMessage(RunFinishedMessage(csv), kInfo));
  // No session file any more: the resume shortcut opens nothing.
  Bench()->close();
  ASSERT_TRUE(QTest::qWaitFor([this]() { return Bench() == nullptr; }));
  PressOnMainWindow(Qt::Key_R);
  EXPECT_EQ(Bench(), nullptr);
}

TEST_F(BenchWindowTest, ShortcutsOneWindowStartRefusalsAndTheQuestionBeforeReplacingASession) {
  PressOnMainWindow(Qt::Key_B);
  EXPECT_EQ(openedFolders, (std::vector<std::string>{Path("data/OrvelJpegOptimizer/BenchmarkRuns")}));
  EXPECT_TRUE(IsDirectory(Path("data/OrvelJpegOptimizer/BenchmarkRuns")));
  PressOnMainWindow(Qt::Key_R);  // no session file: nothing
  EXPECT_EQ(Bench(), nullptr);
  PressOnMainWindow(Qt::Key_P);
  ProfileDevelopmentWindow* first = Bench();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isVisible() && first->parentWidget() == window.get());
  EXPECT_EQ(View(), (Texts{kBenchStatusReady, "Bilder: 0 / 0",
                           "Gefunden: 0 Bilder in 0 Verzeichnissen   |   ausgew\u00e4hlt: 0", "00011"}));
  Command(kBenchIdStartButton);  // no folder chosen
  const std::string gone = JoinPath(images, "weg");  // a chosen folder that has gone since
  OpenWithRoot(gone);
  Command(kBenchIdFolderButton);  // cancelling the chooser keeps the field
  EXPECT_EQ(Field(kBenchIdRootField)->text().toStdString(), gone);
  Command(kBenchIdStartButton);
  ASSERT_TRUE(EnsureFolder(JoinPath(images, "leer")));  // no accepted images
  ASSERT_TRUE(WriteTextFile(JoinPath(images, "leer/notiz.txt"), "x"));
  OpenWithRoot(JoinPath(images, "leer"));
  Command(kBenchIdStartButton);
  EXPECT_EQ(View(), (Texts{kBenchStatusReady, "Bilder: 0 / 0",
                           "Gefunden: 0 Bilder in 1 Verzeichnissen   |   ausgew\u00e4hlt: 0", "00011"}));
  // A file where the runs folder belongs: the run cannot be made.
  ASSERT_TRUE(std::filesystem::remove(Path("data/OrvelJpegOptimizer/BenchmarkRuns")));
  ASSERT_TRUE(WriteTextFile(Path("data/OrvelJpegOptimizer/BenchmarkRuns"), "kein Ordner"));
  const std::vector<std::string> photos = MakeJpegs(JoinPath(images, "fotos"), 2);
  OpenWithRoot(JoinPath(images, "fotos"));
  Command(kBenchIdStartButton);
  EXPECT_FALSE(session.running.load() || CurrentBenchmarkWorker().thread.joinable());
  EXPECT_EQ(benchMessages, (std::vector<BenchMessage>{{kBenchMessageNoFolder, kInfo}, {kBenchMessageNoFolder, kInfo},
                                                      {kBenchMessageNoImages, kInfo},
                                                      {kBenchMessageRunNotCreated, BenchMessageIcon::Error}}));
  EXPECT_TRUE(!SessionFileExists() && questions.empty());
  ASSERT_TRUE(DeleteFileAt(Path("data/OrvelJpegOptimizer/BenchmarkRuns")));

  // An interrupted session exists: answering No changes nothing.
  BenchmarkSession saved{.root = images, .images = photos};
  ASSERT_TRUE(CreateBenchmarkRun(saved));
  const std::string sessionText = ReadTextFile(SessionFilePath());
  // Neither resume nor a new run loads it into the open window.
  window->DispatchCommand(2251);
  window->DispatchCommand(2250);
  EXPECT_TRUE(Bench() == first && Field(kBenchIdRootField)->text().toStdString() == JoinPath(images, "fotos"));
  OpenWithRoot(JoinPath(images, "fotos"));
  answers = {false, true};
  Command(kBenchIdStartButton);
  EXPECT_EQ(questions, (std::vector<std::string>{kBenchQuestionReplaceSession}));
  EXPECT_EQ(ReadTextFile(SessionFilePath()), sessionText);
  EXPECT_TRUE(!session.running.load() && RunFolderCount() == 1u);
  // Yes: a new run in a new folder; the old folder stays.
  if (JpegtranProgram().empty()) return;
  DepthBox()->setCurrentIndex(0);
  Command(kBenchIdStartButton);
  EXPECT_EQ(questions.size(), 2u);
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_TRUE(RunFolderCount() == 2u && session.sessionDir != saved.sessionDir && IsRegularFile(saved.csvPath));
  EXPECT_EQ(Status(), kBenchStatusFinished);
}

}  // namespace
