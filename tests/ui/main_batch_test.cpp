// The batch over real photos with the test encoder standing in for cjpegli
// and MozJPEG cjpeg and the real jpegtran: result lines, the busy window
// (refused close, ignored commands, drops and quit requests), the state
// afterwards, and the protection of the batch's own sources.
#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "core/result_line.h"
#include "platform/files.h"
#include "tests/ui/main_window_test_support.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window_state.h"

namespace {

class MainBatchTest : public MainWindowTest {
 protected:
  std::unique_ptr<TestEngineStore> engines;
  std::string sources;
  std::string output;

  void SetUp() override {
    MainWindowTest::SetUp();
    if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
    engines = std::make_unique<TestEngineStore>(TestTools{true, true, true});
    sources = Path("quelle");
    output = Path("ausgabe");
    ASSERT_TRUE(EnsureFolder(sources));
    ASSERT_TRUE(EnsureFolder(output));
  }
  void TearDown() override {
    engines.reset();
    MainWindowTest::TearDown();
  }

  // Copies photos of the test set into the source folder, in this order.
  std::vector<std::string> CopyPhotos(const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(CopyTestPhoto(name, JoinPath(sources, name)));
    EXPECT_EQ(std::count(paths.begin(), paths.end(), ""), 0) << "a test photo could not be copied";
    return paths;
  }

  // Starts the batch with F5 and runs `during` once, at the first event
  // pump of the running batch.
  void RunBatchWith(std::function<void()> during) {
    FocusWidget(window->ClientArea());
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&]() {
      if (!MainState().batchRunning) return;
      probe.stop();
      during();
    });
    probe.start();
    PressKey(Qt::Key_F5);
  }
};

TEST_F(MainBatchTest, BatchOverPhotosRecordsOneLinePerImageAndEndsIdle) {
  const std::vector<std::string> photos =
      CopyPhotos({"skimage_chelsea_q95.jpg", "mate_GreenMeadow.jpg", "mate_FreshFlower.jpg"});
  std::vector<std::string> sourceBytes;
  for (const std::string& path : photos) sourceBytes.push_back(ReadTextFile(path));
  AddFiles(photos);
  SetOutputEditText(output);

  bool sawBusyWindow = false;
  std::string statusDuringBatch, liveStatusDuringBatch, statusAfterClose, statusAfterDrop;
  QColor startButtonColour;
  int resultsDuringFirstPump = -1;
  bool dropTaken = true;
  RunBatchWith([&]() {
    MainWindowState& state = MainState();
    sawBusyWindow = state.batchRunning && !window->ControlById(1007)->isEnabled();
    statusDuringBatch = window->StatusText().toStdString();
    liveStatusDuringBatch = Text(1009);
    startButtonColour = window->ControlById(1007)->grab().toImage().pixelColor(3, 3);
    resultsDuringFirstPump = static_cast<int>(state.results.size());
    // Refused or ignored while the batch runs.
    window->close();
    statusAfterClose = window->StatusText().toStdString();
    window->SetStatusText("");
    dropTaken = DropPaths({sources});
    statusAfterDrop = window->StatusText().toStdString();
    window->DispatchCommand(2101);
    window->DispatchCommand(1007);
    window->RunBatch();
    window->DispatchCommand(2002);
    window->DispatchCommand(2305);
    PressKey(Qt::Key_F6);
  });

  EXPECT_TRUE(sawBusyWindow);
  EXPECT_EQ(startButtonColour, ToQColor(kStartDisabledColor));
  EXPECT_EQ(statusDuringBatch,
            "Optimiere 1 von 3: mate_FreshFlower.jpg   |   Optimal (empfohlen)   |   "
            "WIC + Jpegli + MozJPEG + jpegtran");
  EXPECT_EQ(liveStatusDuringBatch.rfind("Bild 1 / 3: mate_FreshFlower.jpg\nPhase: Vorbereitung\n", 0), 0u)
      << liveStatusDuringBatch;
  EXPECT_NE(liveStatusDuringBatch.find("CPU gesamt: wird gemessen\u2026"), std::string::npos);
  EXPECT_EQ(resultsDuringFirstPump, 0);
  EXPECT_EQ(recorder->beeps, 2);  // the close and the drop
  EXPECT_EQ(statusAfterClose,
            "Bitte warten \u2013 die laufende Optimierung wird zuerst beendet.");
  EXPECT_FALSE(dropTaken);
  EXPECT_EQ(statusAfterDrop, statusAfterClose);
  EXPECT_TRUE(window->isVisible());

  // One batch, one result per image in list order, and the lines show them.
  MainWindowState& state = MainState();
  ASSERT_EQ(state.results.size(), 3u);
  std::vector<std::string> expectedLines;
  for (std::size_t i = 0; i < state.results.size(); ++i) {
    const ImageResult& result = state.results[i];
    EXPECT_EQ(result.sourcePath, state.imageList[i]);
    EXPECT_EQ(result.profileLabel, "Hohe Qualit\u00e4t (empfohlen)");
    EXPECT_FALSE(result.message.empty());
    EXPECT_NE(result.message, "Fehler beim Verarbeiten");
    EXPECT_EQ(result.candidatesPlanned, 2);  // Jpegli and jpegtran
    EXPECT_EQ(result.optimized, IsRegularFile(result.outputPath)) << result.message;
    if (result.optimized) { EXPECT_EQ(ParentFolder(result.outputPath), output); }
    expectedLines.push_back(FormatResultLine(result));
  }
  EXPECT_EQ(ListLines(1002), expectedLines);
  EXPECT_EQ(state.selectedResultRow, 0);
  EXPECT_EQ(currentProfile.load(), 2);  // the profile command was ignored
  EXPECT_EQ(state.imageList.size(), 3u);  // and so were "Liste leeren" and the drop
  for (std::size_t i = 0; i < photos.size(); ++i) EXPECT_EQ(ReadTextFile(photos[i]), sourceBytes[i]);

  // Idle again.
  EXPECT_FALSE(state.batchRunning);
  EXPECT_TRUE(window->ControlById(1007)->isEnabled());
  EXPECT_EQ(window->ControlById(1007)->grab().toImage().pixelColor(3, 3),
            ToQColor(kStartNormalColor));
  EXPECT_TRUE(Text(1009).empty());
  EXPECT_EQ(window->ProgressBar()->value(), 0);
  EXPECT_EQ(window->StatusText().toStdString(), BatchSummaryStatus(state.results));
  EXPECT_EQ(window->StatusText().toStdString().rfind("Stapelbearbeitung abgeschlossen   |   ", 0), 0u);
  EXPECT_EQ(recorder->compareOpens, (std::vector<int>{0}));  // the F6 during the batch did nothing
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainBatchTest, QuitRequestsDuringTheBatchAreDropped) {
  AddFiles(CopyPhotos({"skimage_chelsea_q95.jpg"}));
  SetOutputEditText(output);
  // The compare window opens at the end; the event loop must still be
  // running some time after that.
  bool loopRanAfterBatch = false;
  SetCompareWindowOpener([&](int) {
    QTimer::singleShot(100, [&]() {
      loopRanAfterBatch = true;
      QCoreApplication::exit(0);  // ends the loop without asking the windows
    });
  });
  // Another window of the program, as the compare window would be.
  QWidget otherWindow;
  otherWindow.show();
  QTimer::singleShot(0, window.get(), [&]() {
    QTimer::singleShot(0, []() { QCoreApplication::quit(); });  // arrives during the batch
    window->DispatchCommand(2101);
  });
  QApplication::exec();
  EXPECT_TRUE(loopRanAfterBatch);
  EXPECT_EQ(MainState().results.size(), 1u);
  // Dropped before it reached any window: none was asked to close.
  EXPECT_EQ(recorder->beeps, 0);
  EXPECT_TRUE(otherWindow.isVisible());
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainBatchTest, SourcesOfTheBatchAreNeverOverwritten) {
  // "x_hoch.jpg" is both a source and the output name of "x.jpg".
  const std::vector<std::string> photos = CopyPhotos({"skimage_chelsea_q95.jpg"});
  const std::string x = JoinPath(sources, "x.jpg");
  const std::string xHoch = JoinPath(sources, "x_hoch.jpg");
  ASSERT_TRUE(RenamePath(photos[0], x));
  ASSERT_TRUE(CopyFileBytes(x, xHoch));
  const std::string before = ReadTextFile(xHoch);
  AddFiles({x, xHoch});
  ASSERT_EQ(MainState().outputFolder, sources);  // the output folder is the sources' folder

  RunBatchWith([]() {});
  ASSERT_EQ(MainState().results.size(), 2u);
  EXPECT_EQ(ReadTextFile(xHoch), before);
  EXPECT_EQ(MainState().results[0].sourcePath, x);
  EXPECT_FALSE(MainState().results[0].optimized);
  EXPECT_EQ(MainState().results[0].message, kVerdictProtectedSource);
}

TEST_F(MainBatchTest, ALaterImageOfTheSameNameLeavesTheFirstOutputInPlace) {
  // d1/p.jpg and d2/p.jpg share the output name p_hoch.jpg.
  std::vector<std::string> paths;
  for (const std::string folder : {"d1", "d2"}) {
    ASSERT_TRUE(EnsureFolder(JoinPath(sources, folder)));
    paths.push_back(JoinPath(sources, folder + "/p.jpg"));
    ASSERT_TRUE(WriteTestJpeg(paths.back(), MakeTestPicture(320, 240, folder == "d1" ? 3 : 4), 97));
  }
  AddFiles(paths);
  SetOutputEditText(output);
  RunBatchWith([]() {});
  const std::vector<ImageResult>& results = MainState().results;
  ASSERT_EQ(results.size(), 2u);
  ASSERT_TRUE(results[0].optimized) << results[0].message;
  EXPECT_EQ(results[1].message, kVerdictOutputWrittenThisRun);
  EXPECT_FALSE(results[1].optimized);
  EXPECT_EQ(FileSize(JoinPath(output, "p_hoch.jpg")), results[0].resultBytes);
}

TEST_F(MainBatchTest, AnImageThatCannotBeReadEndsAsProcessingErrorAndTheTotalsCountIt) {
  const std::string broken = JoinPath(sources, "kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, std::string(700, 'x')));
  const std::string good = JoinPath(sources, "gut.jpg");
  ASSERT_TRUE(WriteTestJpeg(good, MakeTestPicture(320, 240, 7), 98));
  AddFiles({broken, good});
  SetOutputEditText(output);
  RunBatchWith([]() {});
  ASSERT_EQ(MainState().results.size(), 2u);
  const ImageResult& result = MainState().results[1];
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.message, "Fehler beim Verarbeiten \u2013 kein Bild oder unbekanntes Format");
  EXPECT_EQ(result.originalBytes, 700u);
  EXPECT_EQ(result.resultBytes, 700u);
  const std::string line = "kaputt.jpg   |   Hohe Qualit\u00e4t (empfohlen)   |   Original behalten   |   "
                           "Fehler beim Verarbeiten \u2013 kein Bild oder unbekanntes Format   |   "
                           "Kandidaten 0/0";
  EXPECT_EQ(ListLines(1002).at(1), line);
  auto* results = qobject_cast<QListWidget*>(window->ControlById(1002));
  EXPECT_EQ(results->item(1)->toolTip().toStdString(), line);

  // The totals: the failed image counts with its own size before and after.
  const ImageResult& first = MainState().results[0];
  ASSERT_TRUE(first.optimized) << first.message;
  EXPECT_EQ(window->StatusText().toStdString(),
            BatchFinishedStatus(1, 2, first.originalBytes + 700, first.resultBytes + 700));
  EXPECT_EQ(recorder->compareOpens, (std::vector<int>{0}));

  // A double-click compares that line's image.
  const QRect row = results->visualItemRect(results->item(1));
  const QPoint inRow(10, row.center().y());
  QTest::mouseClick(results->viewport(), Qt::LeftButton, Qt::NoModifier, inRow);
  QTest::mouseDClick(results->viewport(), Qt::LeftButton, Qt::NoModifier, inRow);
  EXPECT_EQ(recorder->compareOpens, (std::vector<int>{0, 1}));
}

}  // namespace
