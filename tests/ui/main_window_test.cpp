// The main window offscreen, driven through commands, keys and drops, and the batch over real photos
// (test encoder for cjpegli and cjpeg, the real jpegtran): result lines, busy window, protected sources.
#include <QAction>
#include <QClipboard>
#include <QActionGroup>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <algorithm>
#include <array>
#include <map>
#include <unistd.h>

#include "engines/engine_store.h"
#include "core/live_status.h"
#include "core/output_target.h"
#include "core/parallel_batch.h"
#include "core/profiles.h"
#include "core/result_line.h"
#include "platform/files.h"
#include "tests/support/file_system.h"
#include "tests/ui/main_window_test_support.h"
#include "ui/main/fonts.h"
#include "ui/main/live_status_text.h"
#include "ui/main/main_layout.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window_state.h"
#include "ui/main/qt_translations.h"
#include "ui/main/results_table.h"

namespace {

using Paths = std::vector<std::string>;

QColor ColourAt(QWidget* widget, int x, int y) { return widget->grab().toImage().pixelColor(x, y); }

TEST_F(MainWindowTest, CheckMarksFollowProfileAndModeCommands) {
  const auto checked = [this]() {
    std::vector<int> ids;
    for (int id = 2300; id <= 2402; ++id) {
      if (QAction* action = window->MenuAction(id); action && action->isChecked()) ids.push_back(id);
    }
    return ids;
  };
  EXPECT_EQ(checked(), (std::vector<int>{2302, 2401}));
  // "&" is doubled so that Qt shows it instead of taking it for a mnemonic.
  EXPECT_EQ(window->MenuAction(2201)->text(), QString::fromUtf8("Anleitung && Erklärung"));
  EXPECT_TRUE(window->menuBar()->actions().at(0)->menu()->actions().at(4)->isSeparator());
  window->DispatchCommand(2402);
  window->MenuAction(2305)->trigger();  // as a click would
  EXPECT_EQ(currentMode.load(), 2);
  EXPECT_EQ(currentProfile.load(), 5);
  EXPECT_EQ(checked(), (std::vector<int>{2305, 2402}));
  // One choice each: the items are exclusive members of one group per menu.
  EXPECT_TRUE(window->MenuAction(2300)->actionGroup()->isExclusive());
  EXPECT_EQ(window->MenuAction(2300)->actionGroup()->actions().size(), 6);
  EXPECT_EQ(window->MenuAction(2400)->actionGroup()->actions().size(), 3);
  EXPECT_EQ(window->SelectionText().toStdString(),
            SelectionStatus(ProfileAt(5).label, ComputeModeName(2)));
  currentProfile.store(9);  // out of range: back to the recommended profile
  window->UpdateSelectionMarks();
  EXPECT_EQ(currentProfile.load(), 2);
  EXPECT_EQ(checked(), (std::vector<int>{2302, 2402}));
}

TEST_F(MainWindowTest, ControlsFollowTheLayoutAndTheLongestLiveStatusFitsItsBox) {
  window->resize(1500, 900);
  QCoreApplication::processEvents();
  const auto rect = [](const PixelRect& r) { return QRect(r.x, r.y, r.width, r.height); };
  const QSize client = window->ClientArea()->size();
  const MainWindowLayout layout = LayoutMainWindow(client.width(), client.height());
  EXPECT_EQ(window->ControlById(1007)->geometry(), rect(layout.startButton));
  EXPECT_EQ(window->ControlById(1001)->geometry(), rect(layout.imageList));
  EXPECT_EQ(window->Preview()->geometry(), rect(layout.previewPane));
  // The live-status box may have grown into the results list, which still ends where laid out.
  const QRect results = window->ControlById(1002)->geometry();
  EXPECT_EQ((std::array{results.x(), results.width(), results.bottom()}),
            (std::array{layout.resultsList.x, layout.resultsList.width, rect(layout.resultsList).bottom()}));
  EXPECT_EQ(window->ControlById(1009)->geometry().bottom() + 59, results.top());
  EXPECT_EQ(ColourAt(window->ClientArea(), 5, 40), ToQColor(kHeaderColor));
  // In the chosen face the longest live status fits the box, line by line and in height.
  auto* box = qobject_cast<QPlainTextEdit*>(window->ControlById(1009));
  const QFontMetrics metrics(Fonts().smallFont);
  const int inner = box->width() - 2 * box->frameWidth() - 2 * static_cast<int>(box->document()->documentMargin());
  const std::vector<std::string> lines = WrapLiveStatusLines(
      LongestLiveStatusText("\n"), "\n", inner,
      [&](const std::string& part) { return metrics.horizontalAdvance(QString::fromUtf8(part)); });
  for (const std::string& line : lines) {
    EXPECT_LE(metrics.horizontalAdvance(QString::fromUtf8(KeepFiguresTogether(line))), inner) << line;
  }
  EXPECT_LE(static_cast<int>(lines.size()) * metrics.lineSpacing(), box->height() - 2 * box->frameWidth());
}

// Below the content's minimum the content scrolls whole and the status bar
// stays at the window's foot; at a size that holds it, nothing scrolls.
TEST_F(MainWindowTest, ASmallWindowScrollsItsContentAboveTheStatusBar) {
  window->setMinimumSize(0, 0);
  const auto* area = qobject_cast<QScrollArea*>(window->centralWidget()->findChild<QScrollArea*>());
  ASSERT_NE(area, nullptr);
  for (const QSize size : {QSize(900, 560), QSize(1400, 860)}) {
    window->resize(size);
    QCoreApplication::processEvents();
    const QSize frame = window->centralWidget()->size();
    const bool small = frame.width() < kMainContentMinimum.width;
    EXPECT_EQ(window->ControlById(1006)->geometry(), QRect(0, frame.height() - 26, frame.width(), 26));
    EXPECT_EQ(window->ClientArea()->size(),
              small ? QSize(kMainContentMinimum.width, kMainContentMinimum.height) : frame);
    EXPECT_EQ(area->verticalScrollBar()->maximum() > 0, small) << size.width();
    EXPECT_EQ(area->horizontalScrollBar()->maximum() > 0, small) << size.width();
  }
}

TEST_F(MainWindowTest, ChosenAndDroppedImagesJoinOneSortedListAndTheFirstSetsTheOutputFolder) {
  const std::string folder = Path("bilder");
  for (const std::string& made : {JoinPath(folder, "unter"), Path("fremd"), Path("lose")}) {
    ASSERT_TRUE(EnsureFolder(made));
  }
  for (const char* name : {"b.jpg", "a.jpg", "Z.jpg"}) ASSERT_TRUE(CopyTestPhoto(JoinPath(folder, name)));
  for (const std::string& file : {JoinPath(folder, "unter/A.JPEG"), JoinPath(folder, "notiz.txt"),
                                  Path("fremd/c.jpg"), Path("lose/d.png")}) {
    ASSERT_TRUE(WriteTextFile(file, file));
  }
  AddFiles({JoinPath(folder, "b.jpg")});
  EXPECT_EQ(Text(1005), folder);
  AddFiles({JoinPath(folder, "a.jpg"), JoinPath(folder, "b.jpg"), JoinPath(folder, "Z.jpg")});
  window->DispatchCommand(2001);  // cancelled: nothing changes
  EXPECT_EQ(fileChooserCalls, 3);
  EXPECT_EQ(ListLines(1001), (Paths{"Z.jpg   |   48.99 KB", "a.jpg   |   48.99 KB", "b.jpg   |   48.99 KB"}));
  // Line 0 is selected and previewed, not the newly added file.
  EXPECT_EQ(std::tuple(MainState().selectedImageRow, MainState().previewPath, MainState().previewImage.width),
            std::tuple(0, JoinPath(folder, "Z.jpg"), 451u));

  // Dropped folders are searched without linked folders; a lone file is taken whatever its type.
  ASSERT_EQ(::symlink(Path("fremd").c_str(), JoinPath(folder, "verweis").c_str()), 0);
  ASSERT_TRUE(DropPaths({folder, Path("lose/d.png"), JoinPath(folder, "unter/../b.jpg")}));
  EXPECT_EQ(MainState().imageList, (Paths{JoinPath(folder, "Z.jpg"), JoinPath(folder, "a.jpg"),
                                          JoinPath(folder, "b.jpg"), JoinPath(folder, "unter/A.JPEG"),
                                          Path("lose/d.png")}));
  EXPECT_EQ(Text(1005), folder);  // another folder does not replace the output folder
  EXPECT_EQ(window->StatusText().toStdString(), ImagesSelectedStatus(5));
}

TEST_F(MainWindowTest, PreviewShowsTheSelectedLineOrSaysWhyNotAndClearingEmptiesIt) {
  const std::string longName = std::string(120, 'n') + ".jpg";
  ASSERT_TRUE(CopyTestPhoto(Path("a.jpg")));
  ASSERT_TRUE(WriteTextFile(Path(longName), "kein JPEG"));
  ASSERT_TRUE(WriteTextFile(Path("z.jpg"), ""));
  AddFiles({Path("a.jpg"), Path(longName), Path("z.jpg")});
  ASSERT_TRUE(IsUsableImage(MainState().previewImage));
  const QImage withImage = window->Preview()->grab().toImage();
  // A long line loses the middle of its name, keeping extension and size: no horizontal scroll bar.
  auto* list = qobject_cast<QListWidget*>(window->ControlById(1001));
  const QString shown = list->item(1)->text();
  EXPECT_EQ(list->item(1)->toolTip(), QString::fromStdString(longName + "   |   9 B"));
  EXPECT_TRUE(shown.contains(QChar(0x2026)) && shown.endsWith(QStringLiteral(".jpg   |   9 B")));
  EXPECT_LE(list->fontMetrics().horizontalAdvance(shown), list->viewport()->width());
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
  list->setCurrentRow(1);
  EXPECT_EQ(MainState().selectedImageRow, 1);
  EXPECT_TRUE(MainState().previewPath.empty() && !IsUsableImage(MainState().previewImage));
  EXPECT_EQ(MainState().previewFailure, "Vorschau nicht m\u00f6glich.\n\n" + longName +
                                            " kann nicht angezeigt werden: kein Bild oder unbekanntes Format.");
  // The image sits in the middle of the pane; without one the pane is plain there.
  const QPoint middle(withImage.width() / 2, withImage.height() / 2);
  EXPECT_NE(withImage.pixelColor(middle), ToQColor(kPreviewBackgroundColor));
  EXPECT_EQ(ColourAt(window->Preview(), middle.x(), middle.y()), ToQColor(kPreviewBackgroundColor));
  list->setCurrentRow(2);
  EXPECT_EQ(MainState().previewFailure,
            "Vorschau nicht m\u00f6glich.\n\nz.jpg kann nicht angezeigt werden: Datei ist leer.");
  list->setCurrentRow(0);
  EXPECT_EQ(MainState().previewPath, Path("a.jpg"));

  // "Liste leeren" keeps the output folder.
  list->setCurrentRow(2);
  MainState().results.push_back(ImageResult{});
  window->DispatchCommand(2002);
  EXPECT_TRUE(MainState().imageList.empty() && MainState().results.empty() && ListLines(1001).empty() &&
              ListLines(1002).empty() && MainState().previewPath.empty() && MainState().previewFailure.empty() &&
              !IsUsableImage(MainState().previewImage));
  EXPECT_EQ(window->StatusText().toStdString(), kStatusListCleared);
  EXPECT_EQ(Text(1005), temp.path);
}

TEST_F(MainWindowTest, QtDialogsSpeakGerman) {
  ASSERT_TRUE(InstallQtGermanTranslations());
  QMessageBox box;
  EXPECT_EQ(box.addButton(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  const auto* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
  EXPECT_EQ(lookIn ? lookIn->text() : QString(), QStringLiteral("Suchen in:"));
  RemoveQtGermanTranslations();
}

TEST_F(MainWindowTest, RefusedStartsAndClosesSayWhy) {
  QSignalSpy closed(window.get(), &MainWindow::closed);
  MainState().results.push_back(ImageResult{});
  window->DispatchCommand(1007);  // no images
  ASSERT_TRUE(CopyTestPhoto(Path("a.jpg")));
  AddFiles({Path("a.jpg")});
  for (const std::string& typed : {Path("gibt-es-nicht"), Path("a.jpg"), std::string()}) {
    SetOutputEditText(typed);
    window->DispatchCommand(2101);
    EXPECT_EQ(MainState().outputFolder, typed);  // taken from the edit
  }
  EXPECT_FALSE(PathExists(Path("gibt-es-nicht")));  // never created
  SetOutputEditText(temp.path);
  {  // another batch (orvel-cli, another window) writes into the folder
    bool busy = false;
    const UniqueFd held = LockFolderExclusively(temp.path, busy);
    ASSERT_TRUE(held.Valid());
    window->DispatchCommand(2101);
  }
  benchmarkRunActive = true;
  window->DispatchCommand(2101);
  window->DispatchCommand(2004);
  QCoreApplication::processEvents();
  // A paused run asks to be continued or cancelled, batch and close alike.
  benchmarkRunPaused = true;
  window->DispatchCommand(2004);
  QCoreApplication::processEvents();
  window->DispatchCommand(2101);
  EXPECT_EQ(MessageTexts(), (Paths{kMessageNoImages, kMessageInvalidOutputFolder, kMessageInvalidOutputFolder,
                          kMessageInvalidOutputFolder, kMessageOutputFolderBusy, kMessageBenchmarkBlocksBatch,
                          kMessageBenchmarkBlocksClose, kMessagePausedBenchmarkBlocksClose,
                          kMessagePausedBenchmarkBlocksBatch}));
  EXPECT_EQ((Paths{messages[0].title, messages[4].title, messages[6].title}),
            (Paths{kTitleBatch, kTitleBatch, kProductName}));
  EXPECT_EQ(MainState().results.size(), 1u);  // the previous results stay
  EXPECT_TRUE(closed.count() == 0 && window->isVisible());
  benchmarkRunActive = false;
  window->DispatchCommand(2004);
  EXPECT_EQ(closed.count(), 0);  // posted, as from a menu
  QCoreApplication::processEvents();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, CommandsReachTheirDialogsAndTheOtherWindowsHooks) {
  folderAnswers = {Path("eins"), ""};
  window->DispatchCommand(1008);
  window->DispatchCommand(2003);  // cancelled
  EXPECT_EQ(Text(1005), Path("eins"));
  EXPECT_EQ(folderChooserCalls, 2);
  SetOutputEditText("");
  window->DispatchCommand(2103);  // empty edit: nothing
  SetOutputEditText(Path("irgendwo"));
  window->DispatchCommand(2103);
  window->DispatchCommand(2104);  // no engine folder in this test: a warning
  Engines().engineFolder = temp.path;
  window->DispatchCommand(2104);
  Engines().engineFolder.clear();
  EXPECT_EQ(openedFolders, (Paths{Path("irgendwo"), temp.path}));
  for (int command : {2202, 2203, 2102, 2201, 2250, 2251, 2252, 2999}) window->DispatchCommand(command);
  EXPECT_EQ(MessageTexts(), (Paths{kMessageEnginesMissing, AboutText(), BuildEncoderStatusReport()}));
  EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
  EXPECT_EQ(compareOpens, (std::vector<int>{-1}));
  EXPECT_EQ(guideOpens, 1);
  EXPECT_EQ(profileDevelopmentOpens, (std::vector<bool>{false, true}));
  EXPECT_EQ(benchmarkRunsOpens, 1);
}

TEST_F(MainWindowTest, MenuShortcutsWorkWhereverTheFocusIs) {
  fileAnswers.push_back({});  // the chooser is cancelled
  for (int control : {1001, 1002, 1005}) {
    FocusWidget(window->ControlById(control));
    PressKey(Qt::Key_F6);
    PressKey(Qt::Key_F5);  // the empty list is refused: the batch was asked
    PressKey(Qt::Key_O, Qt::ControlModifier);
  }
  // While a batch runs the keys are refused like the menu items.
  MainState().batchRunning = true;
  PressKey(Qt::Key_F6);
  PressKey(Qt::Key_O, Qt::ControlModifier);
  MainState().batchRunning = false;
  EXPECT_EQ(compareOpens, (std::vector<int>{-1, -1, -1}));
  EXPECT_EQ(std::pair(messages.size(), fileChooserCalls), std::pair(std::size_t{3}, 3));
}

// --- The batch ---------------------------------------------------------------------

class MainBatchTest : public MainWindowTest {
 protected:
  std::optional<TestEngineStore> engines;
  std::string sources;

  void SetUp() override {
    MainWindowTest::SetUp();
    if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
    engines.emplace(TestTools{true, true, true});
    sources = Path("quelle");
    ASSERT_TRUE(EnsureFolder(sources) && EnsureFolder(Path("ausgabe")));
  }

};

// Into the source folder: three photos; x_hoch.jpg, a source and x.jpg's output name; d1/p.jpg and
// d2/p.jpg, both named p_hoch.jpg on output; kaputt.jpg, no image.
TEST_F(MainBatchTest, BatchOverPhotosProtectsSourcesAndOutputsOfTheRunAndEndsIdle) {
  Paths photos;
  for (const char* name : {"skimage_chelsea_q95.jpg", "mate_GreenMeadow.jpg", "mate_FreshFlower.jpg"}) {
    photos.push_back(JoinPath(sources, name));
    ASSERT_TRUE(CopyTestPhoto(photos.back(), name));
  }
  const std::string x = JoinPath(sources, "x.jpg"), xHoch = JoinPath(sources, "x_hoch.jpg");
  ASSERT_TRUE(CopyTestPhoto(x) && CopyTestPhoto(xHoch));
  ASSERT_TRUE(WriteTextFile(JoinPath(sources, "kaputt.jpg"), std::string(700, 'x')));
  photos.insert(photos.end(), {x, xHoch, JoinPath(sources, "kaputt.jpg")});
  for (const std::string folder : {"d1", "d2"}) {
    photos.push_back(JoinPath(sources, folder + "/p.jpg"));
    ASSERT_TRUE(EnsureFolder(JoinPath(sources, folder)) &&
                WriteTestJpeg(photos.back(), MakeTestPicture(320, 240, folder == "d1" ? 3 : 4), 97));
  }
  std::map<std::string, std::string> sourceBytes;
  for (const std::string& path : photos) sourceBytes[path] = ReadTextFile(path);
  AddFiles(photos);
  ASSERT_EQ(MainState().outputFolder, JoinPath(sources, "d1"));
  SetOutputEditText(sources);
  MainState().batchJobs = 1;  // one image at a time: the status names each in turn
  bool busy = false, dropTaken = true;
  std::string status, liveStatus, statusAfterClose, statusAfterDrop;
  QColor startColour;
  // Started with F5; the probe looks in at the batch's first event pump.
  FocusWidget(window->ClientArea());
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&]() {
    if (!MainState().batchRunning || window->StatusText().toStdString().rfind("Optimiere", 0) != 0) return;
    probe.stop();
    busy = MainState().batchRunning && !window->ControlById(1007)->isEnabled() && MainState().results.empty();
    status = window->StatusText().toStdString();
    liveStatus = Text(1009);
    startColour = ColourAt(window->ControlById(1007), 3, 3);
    // Asked (and answered "Nein") or ignored while the batch runs.
    window->close();
    statusAfterClose = window->StatusText().toStdString();
    window->SetStatusText("");
    dropTaken = DropPaths({sources});
    statusAfterDrop = window->StatusText().toStdString();
    for (int command : {2101, 1007, 2002, 2305}) window->DispatchCommand(command);
    window->RunBatch();
    PressKey(Qt::Key_F6);
  });
  probe.start();
  PressKey(Qt::Key_F5);
  EXPECT_TRUE(busy);
  EXPECT_EQ(startColour, ToQColor(kStartDisabledColor));
  EXPECT_EQ(status, "Optimiere 1 von 8: p.jpg   |   Optimal (empfohlen)   |   WIC + Jpegli + MozJPEG + jpegtran");
  EXPECT_EQ(liveStatus.rfind("Bild 1 / 8: p.jpg\nPhase: ", 0), 0u) << liveStatus;
  EXPECT_NE(liveStatus.find("CPU gesamt: wird gemessen\u2026"), std::string::npos);
  EXPECT_EQ(beeps, 1);  // the drop
  EXPECT_EQ(questions, Paths{kQuestionStopBatchAndClose});
  EXPECT_EQ(statusAfterDrop, kStatusWaitForBatch);
  EXPECT_TRUE(!dropTaken && window->isVisible());

  // One batch, one result per image in list order, and the lines show them.
  const MainWindowState& state = MainState();
  const std::vector<ImageResult>& results = state.results;
  ASSERT_EQ(results.size(), 8u);
  Paths expectedLines;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const ImageResult& result = results[i];
    EXPECT_EQ(std::tuple(result.sourcePath, result.profileLabel),
              std::tuple(state.imageList[i], std::string("Hohe Qualit\u00e4t (empfohlen)")));
    EXPECT_EQ(result.optimized, IsRegularFile(result.outputPath)) << result.message;
    EXPECT_EQ(ReadTextFile(result.sourcePath), sourceBytes[result.sourcePath]) << result.sourcePath;
    expectedLines.push_back(FormatResultLine(result));
    if (i == 1 || i == 2 || i == 6) continue;  // the exceptions below
    EXPECT_EQ(result.candidatesPlanned, 2);  // Jpegli and jpegtran
    EXPECT_FALSE(result.message.empty() || result.message == "Fehler beim Verarbeiten");
    EXPECT_TRUE(!result.optimized || ParentFolder(result.outputPath) == sources);
  }
  EXPECT_EQ(ListLines(1002), expectedLines);
  ASSERT_TRUE(results[0].optimized) << results[0].message;
  EXPECT_EQ(FileSize(JoinPath(sources, "p_hoch.jpg")), results[0].resultBytes);
  EXPECT_EQ(std::tuple(results[1].message, results[1].optimized),
            std::tuple(std::string(kVerdictOutputWrittenThisRun), false));
  EXPECT_EQ(std::tuple(results[6].sourcePath, results[6].message, results[6].optimized),
            std::tuple(x, std::string(kVerdictProtectedSource), false));
  // The unreadable image ends as a processing error that keeps its own size.
  const ImageResult& failed = results[2];
  const std::string reason = "Fehler beim Verarbeiten \u2013 kein Bild oder unbekanntes Format";
  EXPECT_EQ(std::tuple(failed.failed, failed.message, failed.originalBytes, failed.resultBytes),
            std::tuple(true, reason, std::uint64_t{700}, std::uint64_t{700}));
  // The name's tooltip is the path, the other cells' the whole line; kept and failed rows are marked.
  auto* list = qobject_cast<ResultsTable*>(window->ControlById(1002));
  ASSERT_NE(list, nullptr);
  // Sizes, saving and figures next to the name, the profile last.
  QStringList headers;
  for (int column = 0; column < list->columnCount(); ++column) headers << list->horizontalHeaderItem(column)->text();
  EXPECT_EQ(headers.join(u'|').toStdString(),
            "Datei|Gr\u00f6\u00dfe|Ersparnis|Kennzahlen|Encoder|Kandidaten|Profil");
  for (int row = 0; row < list->rowCount(); ++row) {
    const ImageResult& result = results[static_cast<std::size_t>(row)];
    const RgbColor tint = result.failed ? kFailedRowColor : result.optimized ? kWhite : kKeptRowColor;
    const QBrush background = list->item(row, 4)->background();
    EXPECT_EQ(background.style() == Qt::NoBrush ? ToQColor(kWhite) : background.color(), ToQColor(tint)) << row;
    EXPECT_EQ(list->item(row, 0)->toolTip().toStdString(), result.sourcePath);
    EXPECT_EQ(list->item(row, 6)->toolTip().toStdString(), FormatResultLine(result));
  }
  list->scrollToTop();
  EXPECT_EQ(ColourAt(list->viewport(), 30, list->visualItemRect(list->item(2, 0)).top() + 1),
            ToQColor(kFailedRowColor));
  // Ctrl+C copies the selected rows' lines.
  list->setFocus();
  list->selectRow(2);
  list->selectionModel()->select(list->model()->index(0, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
            FormatResultLine(results[0]) + "\n" + FormatResultLine(results[2]) + "\n");
  EXPECT_EQ(state.selectedResultRow, 0);
  list->clearSelection();
  list->selectRow(0);
  EXPECT_EQ(state.selectedResultRow, 0);
  EXPECT_EQ(currentProfile.load(), 2);    // the profile command was ignored
  EXPECT_EQ(state.imageList.size(), 8u);  // and so were "Liste leeren" and the drop
  EXPECT_TRUE(!state.batchRunning && window->ControlById(1007)->isEnabled() && Text(1009).empty());
  EXPECT_EQ(ColourAt(window->ControlById(1007), 3, 3), ToQColor(kStartNormalColor));
  EXPECT_EQ(window->ProgressBar()->value(), 0);
  EXPECT_EQ(window->StatusText().toStdString(), BatchSummaryStatus(results));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // A double-click compares that line's image; the F6 during the batch did nothing.
  const QPoint inRow(10, list->visualItemRect(list->item(2, 0)).center().y());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, inRow);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, inRow);
  EXPECT_EQ(compareOpens, (std::vector<int>{0, 2}));
}

TEST_F(MainBatchTest, QuitRequestsDuringTheBatchAreDropped) {
  ASSERT_TRUE(CopyTestPhoto(JoinPath(sources, "a.jpg")));
  AddFiles({JoinPath(sources, "a.jpg")});
  SetOutputEditText(Path("ausgabe"));
  // The compare window opens at the end; the loop must still run after that.
  bool loopRanAfterBatch = false;
  SetCompareWindowOpener([&](int) {
    QTimer::singleShot(100, [&]() {
      loopRanAfterBatch = true;
      QCoreApplication::exit(0);  // ends the loop without asking the windows
    });
  });
  QWidget otherWindow;  // as the compare window would be
  otherWindow.show();
  QTimer::singleShot(0, window.get(), [&]() {
    QTimer::singleShot(0, []() { QCoreApplication::quit(); });  // arrives during the batch
    window->DispatchCommand(2101);
  });
  QApplication::exec();
  EXPECT_TRUE(loopRanAfterBatch);
  EXPECT_EQ(MainState().results.size(), 1u);
  // Dropped before it reached any window: none was asked to close.
  EXPECT_EQ(beeps, 0);
  EXPECT_TRUE(otherWindow.isVisible() && window->isVisible());
}

// Esc during a batch of two images at once (its images given as the command line gives them), a close
// answered "Ja", or a termination signal (which does not ask): no new image starts, the images in flight end cancelled, the rest is listed as not
// processed, and an earlier output stays as it was.
TEST_F(MainBatchTest, AStopEndsTheImagesInFlightAndListsTheRestWithoutTouchingEarlierOutputs) {
  enum class Stop { kEscape, kClose, kTermination };
  for (const Stop stop : {Stop::kEscape, Stop::kClose, Stop::kTermination}) {
    const bool closes = stop != Stop::kEscape;
    window->show();  // again after the round that closed it
    Paths photos;
    for (int k = 0; k < 5; ++k) {
      photos.push_back(JoinPath(sources, "b" + std::to_string(k) + ".jpg"));
      ASSERT_TRUE(CopyTestPhoto(photos.back()));
    }
    const std::string earlier = JoinPath(Path("ausgabe"), "b4_hoch.jpg");
    ASSERT_TRUE(WriteTextFile(earlier, "an earlier run's output"));
    window->DispatchCommand(2002);
    // The Esc round takes its images as the program's command line gives them: the folder.
    if (stop == Stop::kEscape) window->AddStartImages({sources});
    else AddFiles(photos);
    ASSERT_EQ(MainState().imageList, photos);
    SetOutputEditText(Path("ausgabe"));
    MainState().batchJobs = 2;
    yesNoAnswers = {true};
    QSignalSpy closed(window.get(), &MainWindow::closed);
    QTimer probe;
    probe.setInterval(0);
    bool stopEnabled = false;
    QObject::connect(&probe, &QTimer::timeout, [&]() {
      if (!MainState().batchRunning || CurrentLiveStatus().imagesInFlight.load() < 1) return;
      probe.stop();
      stopEnabled = window->MenuAction(2005)->isEnabled();
      if (stop == Stop::kClose) window->close();
      else if (stop == Stop::kTermination) window->CloseForTermination();
      else PressKey(Qt::Key_Escape);
    });
    probe.start();
    window->DispatchCommand(2101);
    const std::vector<ImageResult>& results = MainState().results;
    ASSERT_EQ(results.size(), 5u);
    EXPECT_TRUE(stopEnabled && !window->MenuAction(2005)->isEnabled());
    std::size_t cancelled = 0, notStarted = 0;
    Paths expectedFiles{"b4_hoch.jpg"};
    for (std::size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(results[i].sourcePath, photos[i]);
      cancelled += results[i].failureReason == "abgebrochen";
      notStarted += results[i].message == kVerdictNotStarted;
      if (results[i].optimized && i != 4) expectedFiles.push_back("b" + std::to_string(i) + "_hoch.jpg");
    }
    EXPECT_GE(cancelled + notStarted, 3u);  // at most two images were in flight when it stopped
    EXPECT_GE(notStarted, 1u);
    EXPECT_EQ(results[4].message, kVerdictNotStarted);
    EXPECT_EQ(ReadTextFile(earlier), "an earlier run's output");
    Paths files = FolderEntries(Path("ausgabe"));
    std::sort(files.begin(), files.end());
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(files, expectedFiles);  // nothing half-written beside them
    EXPECT_EQ(window->StatusText().toStdString(), BatchStoppedStatus(results));
    EXPECT_EQ(window->StatusText().toStdString().rfind(kStatusBatchStopped, 0), 0u);
    EXPECT_TRUE(compareOpens.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(closed.count(), closes ? 1 : 0);
    EXPECT_EQ(questions.size(), stop == Stop::kClose ? 1u : 0u);
    questions.clear();
    ASSERT_TRUE(DeleteFileAt(earlier));
    for (const ImageResult& result : results) {
      if (result.optimized) {
        ASSERT_TRUE(DeleteFileAt(result.outputPath));
      }
    }
  }
}

}  // namespace
