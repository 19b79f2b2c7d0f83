// The main window driven through its command dispatch, offscreen: menus and
// check marks, the controls and their layout, painting, the image list and
// output folder, drops of files and folders, refused starts, the other
// windows' hooks, keys and closing.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <unistd.h>

#include "engines/engine_store.h"
#include "core/profiles.h"
#include "platform/files.h"
#include "tests/ui/main_window_test_support.h"
#include "ui/main/fonts.h"
#include "ui/main/live_status_text.h"
#include "ui/main/qt_translations.h"
#include "ui/main/main_layout.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window_state.h"
#include "ui/main/window_names.h"

namespace {

std::vector<int> CheckedItems(const MainWindow& window) {
  std::vector<int> checked;
  for (int id = 2300; id <= 2402; ++id) {
    if (QAction* action = window.MenuAction(id); action && action->isChecked()) checked.push_back(id);
  }
  return checked;
}

TEST_F(MainWindowTest, FreshStartChecksDefaultProfileAndModeAndSaysReady) {
  EXPECT_EQ(CheckedItems(*window), (std::vector<int>{2302, 2401}));
  EXPECT_EQ(window->StatusText().toStdString(), "Bereit");
  EXPECT_EQ(window->objectName(), QString::fromUtf8(kMainWindowName));
  EXPECT_EQ(window->size(), QSize(1380, 820));
  EXPECT_EQ(window->minimumSize(), QSize(1120, 720));
  EXPECT_TRUE(LiveStatusText().empty());
  EXPECT_EQ(window->ProgressBar()->minimum(), 0);
  EXPECT_EQ(window->ProgressBar()->maximum(), 1000);
  EXPECT_EQ(window->ProgressBar()->value(), 0);
  EXPECT_EQ(window->Preview()->objectName(), QString::fromUtf8(kPreviewPaneName));
  EXPECT_EQ(window->ControlById(1001)->font().pixelSize(), 17);
  EXPECT_EQ(window->ControlById(1009)->font().pixelSize(), 15);
  EXPECT_EQ(window->ControlById(1006)->font().pixelSize(), 15);
  EXPECT_EQ(window->ControlById(1007)->property("controlId").toInt(), 1007);
}

TEST_F(MainWindowTest, MenuBarShowsTheExactTexts) {
  QStringList titles;
  for (QAction* menu : window->menuBar()->actions()) titles << menu->text();
  EXPECT_EQ(titles, (QStringList{"Datei", "Funktionen", QString::fromUtf8("Qualitätsprofil"),
                                 "Rechenmodus", "Hilfe"}));
  EXPECT_EQ(window->MenuAction(2001)->text(), QString::fromUtf8("Bilder hinzufügen…\tStrg+O"));
  EXPECT_EQ(window->MenuAction(2101)->text(), QStringLiteral("Stapelbearbeitung starten\tF5"));
  // "&" is doubled so that Qt shows it instead of taking it for a mnemonic.
  EXPECT_EQ(window->MenuAction(2201)->text(), QString::fromUtf8("Anleitung && Erklärung"));
  QMenu* file = window->menuBar()->actions().at(0)->menu();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->actions().size(), 5);
  EXPECT_TRUE(file->actions().at(3)->isSeparator());
}

TEST_F(MainWindowTest, ControlsFollowTheLayoutOfTheClientArea) {
  const QSize client = window->ClientArea()->size();
  const MainWindowLayout layout = LayoutMainWindow(client.width(), client.height());
  const auto geometry = [](const PixelRect& r) { return QRect(r.x, r.y, r.width, r.height); };
  EXPECT_EQ(window->ControlById(1007)->geometry(), geometry(layout.startButton));
  EXPECT_EQ(window->ControlById(1001)->geometry(), geometry(layout.imageList));
  EXPECT_EQ(window->Preview()->geometry(), geometry(layout.previewPane));
  EXPECT_EQ(window->ControlById(1006)->geometry(), geometry(layout.statusBar));
  window->resize(1500, 900);
  QCoreApplication::processEvents();
  const QSize larger = window->ClientArea()->size();
  // The live-status box may have grown into the results list; the list
  // still ends where the layout ends it.
  const QRect results = window->ControlById(1002)->geometry();
  const QRect designed = geometry(LayoutMainWindow(larger.width(), larger.height()).resultsList);
  EXPECT_EQ(results.x(), designed.x());
  EXPECT_EQ(results.width(), designed.width());
  EXPECT_EQ(results.bottom(), designed.bottom());
  EXPECT_EQ(window->ControlById(1009)->geometry().bottom() + 59, results.top());
}

TEST_F(MainWindowTest, PaintsTheDecorationInItsColours) {
  const QImage image = window->ClientArea()->grab().toImage();
  const auto at = [&](int x, int y) { return image.pixelColor(x, y); };
  EXPECT_EQ(at(5, 40), ToQColor(kHeaderColor));
  EXPECT_EQ(at(5, 86), ToQColor(kAccentColor));
  EXPECT_EQ(at(5, 100), ToQColor(kBackgroundColor));
  EXPECT_EQ(at(26, 300), ToQColor(kWhite));                   // card 1 beside the list
  EXPECT_EQ(at(33, 150), ToQColor(kCaptionStripColors[0]));  // left end of strip 1
  EXPECT_EQ(window->ControlById(1007)->grab().toImage().pixelColor(3, 3),
            ToQColor(kStartNormalColor));
  EXPECT_EQ(window->ControlById(1008)->grab().toImage().pixelColor(3, 3),
            ToQColor(kChooseNormalColor));
}

TEST_F(MainWindowTest, ProfileAndModeCommandsMoveTheCheckMark) {
  window->DispatchCommand(2402);
  EXPECT_EQ(currentMode.load(), 2);
  EXPECT_EQ(CheckedItems(*window), (std::vector<int>{2302, 2402}));
  // Through the menu item itself, as a click would.
  window->MenuAction(2305)->trigger();
  EXPECT_EQ(currentProfile.load(), 5);
  EXPECT_EQ(CheckedItems(*window), (std::vector<int>{2305, 2402}));
  // A selection out of range falls back to the recommended profile.
  currentProfile.store(9);
  window->UpdateSelectionMarks();
  EXPECT_EQ(currentProfile.load(), 2);
  EXPECT_EQ(CheckedItems(*window), (std::vector<int>{2302, 2402}));
}

TEST_F(MainWindowTest, AddingImagesSortsDeduplicatesAndSetsTheOutputFolder) {
  const std::string folder = Path("bilder");
  ASSERT_TRUE(EnsureFolder(folder));
  for (const char* name : {"b.jpg", "a.jpg", "Z.jpg"}) {
    ASSERT_FALSE(CopyTestPhoto("skimage_chelsea_q95.jpg", JoinPath(folder, name)).empty());
  }
  AddFiles({JoinPath(folder, "b.jpg")});
  EXPECT_EQ(MainState().outputFolder, folder);
  EXPECT_EQ(OutputEditText(), folder);
  EXPECT_EQ(window->StatusText().toStdString(), "1 Bild(er) ausgew\u00e4hlt");

  AddFiles({JoinPath(folder, "a.jpg"), JoinPath(folder, "b.jpg"), JoinPath(folder, "Z.jpg")});
  EXPECT_EQ(MainState().imageList,
            (std::vector<std::string>{JoinPath(folder, "Z.jpg"), JoinPath(folder, "a.jpg"),
                                      JoinPath(folder, "b.jpg")}));
  EXPECT_EQ(ListLines(1001), (std::vector<std::string>{"Z.jpg   |   48.99 KB", "a.jpg   |   48.99 KB",
                                                       "b.jpg   |   48.99 KB"}));
  EXPECT_EQ(window->StatusText().toStdString(), "3 Bild(er) ausgew\u00e4hlt");
  // Line 0 is selected and previewed, not the newly added file.
  EXPECT_EQ(MainState().selectedImageRow, 0);
  EXPECT_EQ(MainState().previewPath, JoinPath(folder, "Z.jpg"));
  EXPECT_EQ(MainState().previewImage.width, 451u);

  // Another folder does not replace the output folder; a cancelled chooser changes nothing.
  const std::string other = Path("anderswo");
  ASSERT_TRUE(EnsureFolder(other));
  ASSERT_FALSE(CopyTestPhoto("skimage_chelsea_q95.jpg", JoinPath(other, "c.jpg")).empty());
  AddFiles({JoinPath(other, "c.jpg")});
  EXPECT_EQ(MainState().outputFolder, folder);
  EXPECT_EQ(MainState().imageList.size(), 4u);
  window->DispatchCommand(2001);
  EXPECT_EQ(recorder->fileChooserCalls, 4);
  EXPECT_EQ(MainState().imageList.size(), 4u);
  EXPECT_EQ(window->StatusText().toStdString(), "4 Bild(er) ausgew\u00e4hlt");
}

TEST_F(MainWindowTest, DroppedFoldersAndFilesJoinTheListAsChosenOnesDo) {
  const std::string folder = Path("bilder");
  const std::string foreign = Path("fremd");
  for (const std::string& made : {JoinPath(folder, "unter"), foreign, Path("lose")}) {
    ASSERT_TRUE(EnsureFolder(made));
  }
  for (const std::string& file :
       {JoinPath(folder, "b.jpg"), JoinPath(folder, "unter/A.JPEG"), JoinPath(folder, "notiz.txt"),
        JoinPath(foreign, "c.jpg"), Path("lose/d.png")}) {
    ASSERT_TRUE(WriteTextFile(file, file));
  }
  // A linked folder inside the tree is not entered.
  ASSERT_EQ(::symlink(foreign.c_str(), JoinPath(folder, "verweis").c_str()), 0);
  // A file dropped by itself is taken whatever its type, as "Alle Dateien" would.
  ASSERT_TRUE(DropPaths({folder, Path("lose/d.png"), JoinPath(folder, "unter/../b.jpg")}));
  EXPECT_EQ(MainState().imageList,
            (std::vector<std::string>{JoinPath(folder, "b.jpg"), JoinPath(folder, "unter/A.JPEG"),
                                      Path("lose/d.png")}));
  EXPECT_EQ(MainState().outputFolder, folder);
  EXPECT_EQ(OutputEditText(), folder);
  EXPECT_EQ(ListLines(1001).size(), 3u);
  EXPECT_EQ(window->StatusText().toStdString(), "3 Bild(er) ausgew\u00e4hlt");
}

TEST_F(MainWindowTest, SelectingALinePreviewsItAndUndecodableFilesShowNoImage) {
  ASSERT_FALSE(CopyTestPhoto("skimage_chelsea_q95.jpg", Path("a.jpg")).empty());
  ASSERT_TRUE(WriteTextFile(Path("b.jpg"), "kein JPEG"));
  AddFiles({Path("a.jpg"), Path("b.jpg")});
  ASSERT_TRUE(IsUsableImage(MainState().previewImage));
  const QImage withImage = window->Preview()->grab().toImage();

  auto* list = qobject_cast<QListWidget*>(window->ControlById(1001));
  list->setCurrentRow(1);
  EXPECT_EQ(MainState().selectedImageRow, 1);
  EXPECT_TRUE(MainState().previewPath.empty());
  EXPECT_FALSE(IsUsableImage(MainState().previewImage));
  const QImage hint = window->Preview()->grab().toImage();
  // The image sits in the middle of the pane; without one the pane is plain there.
  const QPoint middle(withImage.width() / 2, withImage.height() / 2);
  EXPECT_NE(withImage.pixelColor(middle), ToQColor(kPreviewBackgroundColor));
  EXPECT_EQ(hint.pixelColor(middle), ToQColor(kPreviewBackgroundColor));

  list->setCurrentRow(0);
  EXPECT_EQ(MainState().previewPath, Path("a.jpg"));
}

TEST_F(MainWindowTest, ImageListLinesFitTheListAndUnreadableFilesSayWhy) {
  const std::string longName = Path(std::string(120, 'n') + ".jpg");
  ASSERT_TRUE(WriteTextFile(longName, "kein JPEG"));
  ASSERT_TRUE(WriteTextFile(Path("z.jpg"), ""));
  AddFiles({longName, Path("z.jpg")});

  auto* list = qobject_cast<QListWidget*>(window->ControlById(1001));
  const QString whole = QString::fromStdString(std::string(120, 'n') + ".jpg   |   9 B");
  EXPECT_EQ(list->item(0)->toolTip(), whole);
  // The name loses its middle; its extension and the size stay visible, and
  // no line needs a horizontal scroll bar.
  const QString shown = list->item(0)->text();
  EXPECT_TRUE(shown.contains(QChar(0x2026)));
  EXPECT_TRUE(shown.endsWith(QStringLiteral(".jpg   |   9 B")));
  EXPECT_LE(list->fontMetrics().horizontalAdvance(shown), list->viewport()->width());
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible());

  // The preview says which file cannot be shown and why, not the empty-list hint.
  EXPECT_EQ(MainState().previewFailure,
            "Vorschau nicht m\u00f6glich.\n\n" + std::string(120, 'n') +
                ".jpg kann nicht angezeigt werden: kein Bild oder unbekanntes Format.");
  list->setCurrentRow(1);
  EXPECT_EQ(MainState().previewFailure,
            "Vorschau nicht m\u00f6glich.\n\nz.jpg kann nicht angezeigt werden: Datei ist leer.");
  window->DispatchCommand(2002);
  EXPECT_TRUE(MainState().previewFailure.empty());
}

TEST_F(MainWindowTest, QtDialogsSpeakGerman) {
  ASSERT_TRUE(InstallQtGermanTranslations());
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  const auto* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
  ASSERT_NE(lookIn, nullptr);
  EXPECT_EQ(lookIn->text(), QStringLiteral("Suchen in:"));
  RemoveQtGermanTranslations();
}

TEST_F(MainWindowTest, LiveStatusOfALongBatchFitsItsBoxWhole) {
  // The chosen face: every line of a batch's longest text is as wide as the
  // box at most, and the box at the default size is tall enough for all.
  auto* box = qobject_cast<QPlainTextEdit*>(window->ControlById(1009));
  const QFontMetrics metrics(Fonts().smallFont);
  const int inner = box->width() - 2 * box->frameWidth() - 2 * static_cast<int>(box->document()->documentMargin());
  const std::vector<std::string> lines = WrapLiveStatusLines(
      LongestLiveStatusText("\n"), "\n", inner,
      [&](const std::string& part) { return metrics.horizontalAdvance(QString::fromUtf8(part)); });
  for (const std::string& line : lines) {
    EXPECT_LE(metrics.horizontalAdvance(QString::fromUtf8(KeepFiguresTogether(line))), inner) << line;
  }
  EXPECT_LE(static_cast<int>(lines.size()) * metrics.lineSpacing(),
            box->height() - 2 * box->frameWidth());
}

TEST_F(MainWindowTest, ClearingTheListKeepsTheOutputFolder) {
  ASSERT_FALSE(CopyTestPhoto("skimage_chelsea_q95.jpg", Path("a.jpg")).empty());
  AddFiles({Path("a.jpg")});
  MainState().results.push_back(ImageResult{});
  window->DispatchCommand(2002);
  EXPECT_TRUE(MainState().imageList.empty());
  EXPECT_TRUE(MainState().results.empty());
  EXPECT_TRUE(ListLines(1001).empty());
  EXPECT_TRUE(ListLines(1002).empty());
  EXPECT_TRUE(MainState().previewPath.empty());
  EXPECT_FALSE(IsUsableImage(MainState().previewImage));
  EXPECT_EQ(window->StatusText().toStdString(), "Liste geleert");
  EXPECT_EQ(MainState().outputFolder, temp.path);
  EXPECT_EQ(OutputEditText(), temp.path);
}

TEST_F(MainWindowTest, OutputFolderChooserFromButtonAndMenu) {
  recorder->folderAnswers = {Path("eins"), Path("zwei"), ""};
  window->DispatchCommand(1008);
  EXPECT_EQ(MainState().outputFolder, Path("eins"));
  EXPECT_EQ(OutputEditText(), Path("eins"));
  window->DispatchCommand(2003);
  EXPECT_EQ(OutputEditText(), Path("zwei"));
  window->DispatchCommand(2003);  // cancelled
  EXPECT_EQ(MainState().outputFolder, Path("zwei"));
  EXPECT_EQ(recorder->folderChooserCalls, 3);
}

TEST_F(MainWindowTest, RefusedStartsSayWhy) {
  MainState().results.push_back(ImageResult{});
  window->DispatchCommand(1007);
  ASSERT_EQ(recorder->messages.size(), 1u);
  EXPECT_EQ(recorder->messages[0].title, "Stapelbearbeitung");
  EXPECT_EQ(recorder->messages[0].text, "Bitte zuerst mindestens ein JPEG-Bild hinzuf\u00fcgen.");
  EXPECT_EQ(recorder->messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(MainState().results.size(), 1u);  // the previous results stay

  ASSERT_FALSE(CopyTestPhoto("skimage_chelsea_q95.jpg", Path("a.jpg")).empty());
  AddFiles({Path("a.jpg")});
  for (const std::string& typed : {Path("gibt-es-nicht"), Path("a.jpg"), std::string()}) {
    SetOutputEditText(typed);
    window->DispatchCommand(2101);
    ASSERT_FALSE(recorder->messages.empty());
    EXPECT_EQ(recorder->messages.back().text, "Bitte einen g\u00fcltigen Ausgabepfad ausw\u00e4hlen.");
    EXPECT_EQ(recorder->messages.back().title, "Stapelbearbeitung");
    EXPECT_EQ(MainState().outputFolder, typed);  // taken from the edit
  }
  EXPECT_FALSE(PathExists(Path("gibt-es-nicht")));  // never created

  SetOutputEditText(temp.path);
  recorder->benchmarkRunActive = true;
  window->DispatchCommand(2101);
  EXPECT_EQ(recorder->messages.back().title, "Orvel JPEG Optimizer");
  EXPECT_EQ(recorder->messages.back().text,
            "W\u00e4hrend der Profilentwicklung wird keine normale Stapelkompression gestartet. "
            "Bitte den Profiltest zuerst pausieren oder abbrechen.");
  EXPECT_EQ(MainState().results.size(), 1u);
  EXPECT_EQ(recorder->messages.size(), 5u);
}

TEST_F(MainWindowTest, AboutEncoderStatusAndFolders) {
  window->DispatchCommand(2202);
  ASSERT_EQ(recorder->messages.size(), 1u);
  EXPECT_EQ(recorder->messages[0].title, "\u00dcber");
  EXPECT_EQ(recorder->messages[0].text,
            "Orvel JPEG Optimizer\nVersion 1.3.3\nProfilkalibrierung: 5k-2026-08");

  window->DispatchCommand(2203);
  ASSERT_EQ(recorder->messages.size(), 2u);
  EXPECT_EQ(recorder->messages[1].title, "Encoder-Status");
  EXPECT_EQ(recorder->messages[1].text, BuildEncoderStatusReport());
  EXPECT_EQ(recorder->messages[1].icon, MessageIcon::Information);

  // No engine folder in this test.
  window->DispatchCommand(2104);
  ASSERT_EQ(recorder->messages.size(), 3u);
  EXPECT_EQ(recorder->messages[2].title, "Encoder");
  EXPECT_EQ(recorder->messages[2].text,
            "Die eingebetteten Encoder konnten nicht materialisiert werden.");
  EXPECT_EQ(recorder->messages[2].icon, MessageIcon::Warning);
  Engines().engineFolder = temp.path;
  window->DispatchCommand(2104);
  Engines().engineFolder.clear();
  EXPECT_EQ(recorder->openedFolders, (std::vector<std::string>{temp.path}));

  window->DispatchCommand(2103);  // empty edit: nothing
  SetOutputEditText(Path("irgendwo"));
  window->DispatchCommand(2103);
  EXPECT_EQ(recorder->openedFolders, (std::vector<std::string>{temp.path, Path("irgendwo")}));
  EXPECT_EQ(recorder->messages.size(), 3u);
}

TEST_F(MainWindowTest, CommandsOfOtherWindowsReachTheirHooks) {
  window->DispatchCommand(2102);
  window->DispatchCommand(2201);
  window->DispatchCommand(2250);
  window->DispatchCommand(2251);
  window->DispatchCommand(2252);
  window->DispatchCommand(2999);  // unknown: ignored
  EXPECT_EQ(recorder->compareOpens, (std::vector<int>{-1}));
  EXPECT_EQ(recorder->guideOpens, 1);
  EXPECT_EQ(recorder->profileDevelopmentOpens, (std::vector<bool>{false, true}));
  EXPECT_EQ(recorder->benchmarkRunsOpens, 1);
  EXPECT_TRUE(recorder->messages.empty());
}

TEST_F(MainWindowTest, MenuShortcutsWorkWhereverTheFocusIs) {
  recorder->fileAnswers.push_back({});  // the chooser is cancelled
  for (int control : {1001, 1002, 1005}) {
    FocusWidget(window->ControlById(control));
    PressKey(Qt::Key_F6);
    PressKey(Qt::Key_F5);  // the empty list is refused: the batch was asked
    PressKey(Qt::Key_O, Qt::ControlModifier);
  }
  EXPECT_EQ(recorder->compareOpens, (std::vector<int>{-1, -1, -1}));
  EXPECT_EQ(recorder->messages.size(), 3u);
  EXPECT_EQ(recorder->fileChooserCalls, 3);

  // While a batch runs the keys are refused like the menu items.
  MainState().batchRunning = true;
  PressKey(Qt::Key_F6);
  PressKey(Qt::Key_O, Qt::ControlModifier);
  MainState().batchRunning = false;
  EXPECT_EQ(recorder->compareOpens.size(), 3u);
  EXPECT_EQ(recorder->fileChooserCalls, 3);
}

TEST_F(MainWindowTest, ExitClosesUnlessAProfileRunIsActive) {
  QSignalSpy closed(window.get(), &MainWindow::closed);
  recorder->benchmarkRunActive = true;
  window->DispatchCommand(2004);
  QCoreApplication::processEvents();
  EXPECT_EQ(closed.count(), 0);
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(recorder->messages.size(), 1u);
  EXPECT_EQ(recorder->messages[0].title, "Orvel JPEG Optimizer");
  EXPECT_EQ(recorder->messages[0].text,
            "Der Profiltest l\u00e4uft noch. Bitte im Fenster 'Profilentwicklung' zuerst pausieren "
            "oder abbrechen.");

  // A paused run asks to be continued or cancelled, batch and close alike.
  recorder->benchmarkRunPaused = true;
  window->DispatchCommand(2004);
  QCoreApplication::processEvents();
  window->DispatchCommand(2101);
  ASSERT_EQ(recorder->messages.size(), 3u);
  EXPECT_EQ(recorder->messages[1].text,
            "Der Profiltest ist pausiert. Bitte im Fenster 'Profilentwicklung' zuerst fortfahren "
            "oder abbrechen.");
  EXPECT_EQ(recorder->messages[2].text,
            "W\u00e4hrend der Profilentwicklung wird keine normale Stapelkompression gestartet. "
            "Bitte den pausierten Profiltest zuerst fortsetzen oder abbrechen.");
  EXPECT_EQ(closed.count(), 0);

  recorder->benchmarkRunActive = false;
  window->DispatchCommand(2004);
  EXPECT_EQ(closed.count(), 0);  // posted, as from a menu
  QCoreApplication::processEvents();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
