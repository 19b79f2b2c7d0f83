// The compare window offscreen, opened through the main window's hooks as
// the program installs them: the refusals, the window's controls and
// painting, navigation with buttons and keys, the slider and the wheel,
// pan dragging with the mouse, reopening, closing, and the opening at the
// end of a batch. Painting a pane from the visible part alone is compared
// with drawing the whole image.
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

#include "core/live_status.h"
#include "platform/files.h"
#include "tests/ui/main_window_test_support.h"
#include "ui/compare/compare_painting.h"
#include "ui/compare/compare_view.h"
#include "ui/compare/compare_window.h"
#include "ui/main/main_window_state.h"
#include "ui/main/window_names.h"

namespace {

struct CompareMessage {
  std::string title;
  std::string text;
  CompareMessageIcon icon;
};

int VisibleCompareWindows() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QString::fromUtf8(kCompareWindowName) && widget->isVisible()) ++count;
  }
  return count;
}

class CompareWindowTest : public MainWindowTest {
 protected:
  std::vector<CompareMessage> messages;

  void SetUp() override {
    MainWindowTest::SetUp();
    ResetCompareState();
    SetCompareMessageSink([this](const std::string& title, const std::string& text,
                                 CompareMessageIcon icon) { messages.push_back({title, text, icon}); });
    // What start-up installs, in place of the recorder's stand-ins.
    InstallCompareAndGuideWindows(window.get());
  }
  void TearDown() override {
    window.reset();  // takes the compare window with it
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetCompareMessageSink({});
    ResetCompareState();
    MainWindowTest::TearDown();
  }

  std::string WriteJpeg(const std::string& name, std::uint32_t width, std::uint32_t height,
                        std::uint32_t seed = 1) {
    const std::string path = Path(name);
    EXPECT_TRUE(WriteTestJpeg(path, MakeTestPicture(width, height, seed), 92));
    return path;
  }

  // Results as a batch leaves them: `optimised[i]` says whether entry i has
  // an output file.
  void SetResults(const std::vector<std::string>& sources, const std::vector<std::string>& outputs) {
    MainWindowState& state = MainState();
    state.imageList = sources;
    state.results.clear();
    for (std::size_t i = 0; i < sources.size(); ++i) {
      ImageResult result;
      result.sourcePath = sources[i];
      result.outputPath = outputs[i];
      result.optimized = !outputs[i].empty();
      state.results.push_back(result);
    }
  }

  CompareWindow* OpenAndWait(int index) {
    OpenCompareWindow(window.get(), index);
    CompareWindow* compare = ActiveCompareWindow();
    if (compare) {
      EXPECT_TRUE(QTest::qWaitForWindowExposed(compare));
    }
    return compare;
  }

  static std::string LabelText(CompareWindow* compare, int id) {
    return qobject_cast<QLabel*>(compare->ControlById(id))->text().toStdString();
  }
  static bool Enabled(CompareWindow* compare, int id) { return compare->ControlById(id)->isEnabled(); }
  static QSlider* Trackbar(CompareWindow* compare) {
    return qobject_cast<QSlider*>(compare->ControlById(kIdCompareTrackbar));
  }

  static void SendWheel(QWidget* target, QPoint at, int delta) {
    QWheelEvent event(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
  }
  static void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
                        Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
  }
  // A left-button drag from `from` by (dx, dy) in one move.
  static void Drag(QWidget* target, QPoint from, int dx, int dy) {
    SendMouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    SendMouse(target, QEvent::MouseMove, from + QPoint(dx, dy), Qt::NoButton, Qt::LeftButton);
    SendMouse(target, QEvent::MouseButtonRelease, from + QPoint(dx, dy), Qt::LeftButton, Qt::NoButton);
  }
};

TEST_F(CompareWindowTest, NothingToBrowseShowsTheInformationAndNoWindow) {
  window->DispatchCommand(2102);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Bildvergleich");
  EXPECT_EQ(messages[0].text, "Bitte zuerst ein Bild laden oder eine Kompression durchf\u00fchren.");
  EXPECT_EQ(messages[0].icon, CompareMessageIcon::Information);
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
  EXPECT_EQ(VisibleCompareWindows(), 0);
}

TEST_F(CompareWindowTest, UndecodableSourceShowsTheErrorAndNoWindow) {
  const std::string broken = Path("kein_bild.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "nur Text"));
  MainState().imageList = {broken};
  window->DispatchCommand(2102);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Das Bild konnte f\u00fcr den Vergleich nicht geladen werden.");
  EXPECT_EQ(messages[0].icon, CompareMessageIcon::Error);
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
}

TEST_F(CompareWindowTest, F6OpensOnTheSelectedResultWithTheDescribedControls) {
  SetResults({WriteJpeg("a.jpg", 40, 30), WriteJpeg("b.jpg", 40, 30), WriteJpeg("c.jpg", 40, 30)},
             {"", "", ""});
  MainState().selectedResultRow = 1;
  FocusWidget(window->ClientArea());
  PressKey(Qt::Key_F6);
  CompareWindow* compare = ActiveCompareWindow();
  ASSERT_NE(compare, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(compare));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(compare->objectName(), QString::fromUtf8(kCompareWindowName));
  EXPECT_TRUE(compare->isWindow());
  EXPECT_EQ(compare->parentWidget(), window.get());  // owned by the main window
  EXPECT_EQ(compare->size(), QSize(1320, 840));
  EXPECT_EQ(compare->windowTitle(), QString::fromUtf8("Bildvergleich \u2013 b.jpg \u2013 Orvel JPEG Optimizer"));
  EXPECT_EQ(CompareViewState().currentIndex, 1);
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 2 von 3");
  EXPECT_EQ(LabelText(compare, kIdCompareZoomLabel), "Zoom: 100 %");
  EXPECT_EQ(qobject_cast<QPushButton*>(compare->ControlById(kIdComparePrevious))->text(),
            QString::fromUtf8("\u25c0"));
  EXPECT_EQ(qobject_cast<QPushButton*>(compare->ControlById(kIdCompareNext))->text(),
            QString::fromUtf8("\u25b6"));
  EXPECT_EQ(compare->ControlById(kIdComparePrevious)->font().pixelSize(), 18);
  EXPECT_EQ(compare->ControlById(kIdComparePrevious)->font().weight(), QFont::DemiBold);
  EXPECT_EQ(compare->ControlById(kIdCompareZoomLabel)->font().pixelSize(), 15);
  QSlider* slider = Trackbar(compare);
  EXPECT_EQ(slider->minimum(), 100);
  EXPECT_EQ(slider->maximum(), 800);
  EXPECT_EQ(slider->tickInterval(), 100);
  EXPECT_EQ(slider->singleStep(), 25);
  EXPECT_EQ(slider->pageStep(), 100);
  EXPECT_EQ(slider->value(), 100);

  const CompareControlLayout layout = LayoutCompareControls(compare->width());
  EXPECT_EQ(compare->ControlById(kIdComparePrevious)->geometry(),
            QRect(layout.previousButton.left, 12, 46, 34));
  EXPECT_EQ(compare->ControlById(kIdCompareTrackbar)->geometry(),
            QRect(layout.zoomTrackbar.left, 14, 270, 34));
  compare->resize(1500, 900);
  QCoreApplication::processEvents();
  EXPECT_EQ(compare->ControlById(kIdCompareZoomLabel)->geometry().left(), 1500 / 2 - 50);
}

TEST_F(CompareWindowTest, BeforeAnyBatchTheSelectedImageIsShown) {
  MainState().imageList = {WriteJpeg("eins.jpg", 20, 20), WriteJpeg("zwei.jpg", 20, 20)};
  MainState().selectedImageRow = 1;
  window->DispatchCommand(2102);
  CompareWindow* compare = ActiveCompareWindow();
  ASSERT_NE(compare, nullptr);
  EXPECT_EQ(CompareViewState().sourcePath, MainState().imageList[1]);
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 2 von 2");
}

// Pixels of the two panes at the same offsets, from a grab of the window.
void ExpectPanesEqual(CompareWindow* compare, bool equal) {
  const QImage shot = compare->grab().toImage();
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  int differing = 0, samples = 0;
  for (int dy = 2; dy < RectHeight(layout.leftPane) - 2; dy += 17) {
    for (int dx = 2; dx < RectWidth(layout.leftPane) - 2; dx += 13) {
      ++samples;
      if (shot.pixel(layout.leftPane.left + dx, layout.leftPane.top + dy) !=
          shot.pixel(layout.rightPane.left + dx, layout.rightPane.top + dy)) {
        ++differing;
      }
    }
  }
  ASSERT_GT(samples, 100);
  if (equal) {
    EXPECT_EQ(differing, 0);
  } else {
    EXPECT_GT(differing, samples / 20);
  }
}

TEST_F(CompareWindowTest, KeptResultShowsTheSourceInBothPanes) {
  const std::string source = WriteJpeg("behalten.jpg", 300, 200, 3);
  const std::string other = WriteJpeg("anders.jpg", 300, 200, 4);
  const std::string output = WriteJpeg("anders_out.jpg", 300, 200, 99);
  SetResults({source, other}, {"", output});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  EXPECT_EQ(CompareViewState().optimizedImage.pixels, CompareViewState().sourceImage.pixels);
  ExpectPanesEqual(compare, true);
  EXPECT_EQ(CompareCaption(CompareViewState().sourcePath, FileSize(source), "", 0,
                           BrowsesResults(MainState())),
            "behalten.jpg   |   Original: " + FormatBytes(FileSize(source)) +
                "   |   Keine kleinere Variante \u2013 Original beibehalten");

  compare->DispatchCommand(kIdCompareNext);
  QCoreApplication::processEvents();
  ExpectPanesEqual(compare, false);  // a different picture on the right
}

TEST_F(CompareWindowTest, AFailedImageOfTheBatchShowsItsReasonNotAKeptOriginal) {
  const std::string broken = Path("kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "kein JPEG"));
  const std::string good = WriteJpeg("gut.jpg", 300, 200, 5);
  SetResults({broken, good}, {"", ""});
  ImageResult partial;
  partial.failureReason = "kein Bild oder unbekanntes Format";
  MainState().results[0] = ProcessingErrorResult(partial, broken, "Ausgewogen");

  // The batch opens the window on its first result, which failed.
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  EXPECT_TRUE(messages.empty());
  const std::string reason = "Fehler beim Verarbeiten \u2013 kein Bild oder unbekanntes Format";
  EXPECT_EQ(CompareViewState().failureText, reason);
  EXPECT_EQ(CompareCaption(broken, 9, "", 0, true, CompareViewState().failureText),
            "kaputt.jpg   |   Original: 9 B   |   " + reason);
  // No dark panes: the reason stands on the window's background.
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  const QImage shot = compare->grab().toImage();
  EXPECT_EQ(shot.pixelColor(layout.leftPane.left + 5, layout.leftPane.top + 5),
            shot.pixelColor(2, 2));

  compare->DispatchCommand(kIdCompareNext);
  EXPECT_TRUE(CompareViewState().failureText.empty());
  EXPECT_TRUE(IsUsableImage(CompareViewState().sourceImage));
  // Before any batch an unreadable image is still refused with the message.
  MainState().results.clear();
  MainState().imageList = {broken};
  OpenCompareWindow(window.get(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(CompareViewState().failureText,
            "Das Bild kann nicht angezeigt werden: kein Bild oder unbekanntes Format.");
}

TEST_F(CompareWindowTest, ButtonsAndKeysStepThroughTheListAndStopAtItsEnds) {
  SetResults({WriteJpeg("1.jpg", 20, 20), WriteJpeg("2.jpg", 20, 20), WriteJpeg("3.jpg", 20, 20)},
             {"", "", ""});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  EXPECT_FALSE(Enabled(compare, kIdComparePrevious));
  EXPECT_TRUE(Enabled(compare, kIdCompareNext));

  compare->DispatchCommand(kIdCompareNext);
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 2 von 3");
  EXPECT_TRUE(Enabled(compare, kIdComparePrevious));
  qobject_cast<QPushButton*>(compare->ControlById(kIdCompareNext))->click();
  EXPECT_EQ(CompareViewState().currentIndex, 2);
  EXPECT_TRUE(Enabled(compare, kIdComparePrevious));
  EXPECT_FALSE(Enabled(compare, kIdCompareNext));
  EXPECT_EQ(compare->windowTitle(), QString::fromUtf8("Bildvergleich \u2013 3.jpg \u2013 Orvel JPEG Optimizer"));

  // The arrow keys reach the window, whatever was clicked.
  compare->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(compare));
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : compare, Qt::Key_Right);
  EXPECT_EQ(CompareViewState().currentIndex, 2);
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : compare, Qt::Key_Left);
  EXPECT_EQ(CompareViewState().currentIndex, 1);
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 2 von 3");

  // Zoom is kept while stepping, the pan is reset.
  Trackbar(compare)->setValue(300);
  CompareViewState().panX = 55;
  compare->DispatchCommand(kIdComparePrevious);
  EXPECT_EQ(CompareViewState().zoom, 300);
  EXPECT_EQ(CompareViewState().panX, 0);
  EXPECT_FALSE(Enabled(compare, kIdComparePrevious));
}

TEST_F(CompareWindowTest, OneImageDisablesBothButtons) {
  SetResults({WriteJpeg("allein.jpg", 20, 20)}, {""});
  CompareWindow* compare = OpenAndWait(-1);
  ASSERT_NE(compare, nullptr);
  EXPECT_FALSE(Enabled(compare, kIdComparePrevious));
  EXPECT_FALSE(Enabled(compare, kIdCompareNext));
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 1 von 1");
}

TEST_F(CompareWindowTest, UnreadableEntryWhileSteppingEmptiesThePanesAndLabelsFollow) {
  SetResults({WriteJpeg("gut.jpg", 20, 20), Path("weg.jpg"), WriteJpeg("auch_gut.jpg", 20, 20)},
             {"", "", ""});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  compare->DispatchCommand(kIdCompareNext);
  EXPECT_TRUE(messages.empty());  // stepping shows no message
  EXPECT_FALSE(IsUsableImage(CompareViewState().sourceImage));
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 2 von 3");
  EXPECT_EQ(compare->windowTitle(), QString::fromUtf8("Bildvergleich \u2013 weg.jpg \u2013 Orvel JPEG Optimizer"));
  compare->DispatchCommand(kIdCompareNext);
  EXPECT_TRUE(IsUsableImage(CompareViewState().sourceImage));
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 3 von 3");
}

TEST_F(CompareWindowTest, WheelStepsOf25AndTheSliderSetTheZoomAndResetThePan) {
  SetResults({WriteJpeg("rad.jpg", 1000, 200)}, {""});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  const QPoint inPane(300, 400);
  for (int i = 0; i < 5; ++i) SendWheel(compare, inPane, 120);
  EXPECT_EQ(CompareViewState().zoom, 225);
  EXPECT_EQ(LabelText(compare, kIdCompareZoomLabel), "Zoom: 225 %");
  EXPECT_EQ(Trackbar(compare)->value(), 225);
  SendWheel(compare, inPane, -15);  // any negative delta is one step down
  EXPECT_EQ(CompareViewState().zoom, 200);

  Trackbar(compare)->setValue(790);
  EXPECT_EQ(CompareViewState().zoom, 790);
  EXPECT_EQ(LabelText(compare, kIdCompareZoomLabel), "Zoom: 790 %");
  CompareViewState().panX = 123;
  // Over the slider the wheel zooms the same way.
  SendWheel(Trackbar(compare), QPoint(10, 10), 120);
  EXPECT_EQ(CompareViewState().zoom, 800);
  EXPECT_EQ(CompareViewState().panX, 0);
  SendWheel(compare, inPane, 120);
  EXPECT_EQ(CompareViewState().zoom, 800);
}

TEST_F(CompareWindowTest, DraggingPansBothPanesUntilTheImageEdgeReachesThePaneEdge) {
  // A 1000-pixel image with a red left column of 4 pixels.
  PixelImage picture = MakeTestPicture(1000, 300, 7);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    for (std::uint32_t x = 0; x < 4; ++x) {
      std::uint8_t* p = &picture.pixels[(static_cast<std::size_t>(y) * picture.width + x) * 4];
      p[0] = 0;
      p[1] = 0;
      p[2] = 255;
    }
  }
  const std::string source = Path("rand.jpg");
  ASSERT_TRUE(WriteTestJpeg(source, picture, 100));
  SetResults({source}, {""});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  Trackbar(compare)->setValue(250);
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());

  // Outside the panes nothing starts.
  Drag(compare, QPoint(660, 300), 200, 0);
  EXPECT_EQ(CompareViewState().panX, 0);

  SendMouse(compare, QEvent::MouseButtonPress, QPoint(100, 400), Qt::LeftButton, Qt::LeftButton);
  EXPECT_TRUE(CompareViewState().dragging);
  EXPECT_EQ(compare->cursor().shape(), Qt::SizeAllCursor);
  for (int x = 200; x <= 1200; x += 100) {
    SendMouse(compare, QEvent::MouseMove, QPoint(x, 420), Qt::NoButton, Qt::LeftButton);
  }
  SendMouse(compare, QEvent::MouseButtonRelease, QPoint(1200, 420), Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(CompareViewState().dragging);
  EXPECT_EQ(compare->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(CompareViewState().panX, 1100);
  EXPECT_EQ(CompareViewState().panY, 20);

  // 2500 pixels wide now; its left edge sits at each pane's left edge.
  const DrawnImage drawn = PlaceImageInPane(layout.leftPane, 1000, 300, 250, 1100, 20);
  EXPECT_EQ(drawn.width, 2500);
  EXPECT_EQ(drawn.left, layout.leftPane.left);
  QCoreApplication::processEvents();
  const QImage shot = compare->grab().toImage();
  const int y = layout.leftPane.top + RectHeight(layout.leftPane) / 2;
  for (const EdgeRect& pane : {layout.leftPane, layout.rightPane}) {
    const QColor edge = shot.pixelColor(pane.left + 3, y);
    EXPECT_GT(edge.red(), 200) << pane.left;
    EXPECT_LT(edge.green(), 60) << pane.left;
    EXPECT_LT(shot.pixelColor(pane.left + 20, y).red(), 200) << pane.left;
  }

  // A move without the button held does nothing.
  SendMouse(compare, QEvent::MouseMove, QPoint(300, 300), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(CompareViewState().panX, 1100);
}

TEST_F(CompareWindowTest, SmallImageAtFullSizeDoesNotMoveWhenDragged) {
  SetResults({WriteJpeg("mini.jpg", 120, 90)}, {""});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  const QImage before = compare->grab().toImage();
  Drag(compare, QPoint(300, 300), 150, 90);
  EXPECT_EQ(CompareViewState().panX, 150);  // stored, yet not drawn
  QCoreApplication::processEvents();
  EXPECT_EQ(compare->grab().toImage(), before);
}

TEST_F(CompareWindowTest, OpeningAgainResetsZoomAndPanAndRaisesTheSameWindow) {
  SetResults({WriteJpeg("x.jpg", 900, 700), WriteJpeg("y.jpg", 900, 700)}, {"", ""});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  Trackbar(compare)->setValue(400);
  Drag(compare, QPoint(300, 300), -80, 40);
  EXPECT_EQ(CompareViewState().panX, -80);
  compare->showMinimized();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

  MainState().selectedResultRow = 1;
  window->DispatchCommand(2102);
  EXPECT_EQ(ActiveCompareWindow(), compare);
  EXPECT_EQ(VisibleCompareWindows(), 1);
  EXPECT_FALSE(compare->isMinimized());
  EXPECT_TRUE(QTest::qWaitForWindowActive(compare));
  EXPECT_EQ(CompareViewState().zoom, 100);
  EXPECT_EQ(CompareViewState().panX, 0);
  EXPECT_EQ(CompareViewState().panY, 0);
  EXPECT_EQ(Trackbar(compare)->value(), 100);
  EXPECT_EQ(LabelText(compare, kIdCompareZoomLabel), "Zoom: 100 %");
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 2 von 2");
}

TEST_F(CompareWindowTest, EscapeDestroysTheWindowAndTheNextOpenMakesANewOne) {
  SetResults({WriteJpeg("e.jpg", 50, 50)}, {""});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  compare->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(compare));
  Trackbar(compare)->setValue(500);
  SendMouse(compare, QEvent::MouseButtonPress, QPoint(300, 300), Qt::LeftButton, Qt::LeftButton);
  QPointer<CompareWindow> guard(compare);
  QTest::keyClick(compare, Qt::Key_Escape);
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
  // The drag ends with the window; the images and the zoom stay.
  EXPECT_FALSE(CompareViewState().dragging);
  EXPECT_EQ(CompareViewState().zoom, 500);
  EXPECT_TRUE(IsUsableImage(CompareViewState().sourceImage));

  window->DispatchCommand(2102);
  ASSERT_NE(ActiveCompareWindow(), nullptr);
  EXPECT_EQ(VisibleCompareWindows(), 1);
  EXPECT_EQ(CompareViewState().zoom, 100);
}

TEST_F(CompareWindowTest, ClosingTheMainWindowTakesTheCompareWindowAlong) {
  SetResults({WriteJpeg("m.jpg", 50, 50)}, {""});
  ASSERT_NE(OpenAndWait(0), nullptr);
  window.reset();
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
}

// Pane painting from the visible part against drawing the whole image.
QImage PaintPane(const PixelImage& image, const EdgeRect& pane, int zoom, int panX, int panY,
                 bool wholeImage) {
  QImage canvas(700, 500, QImage::Format_RGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  if (!wholeImage) {
    PaintComparePane(painter, image, pane, zoom, panX, panY);
    return canvas;
  }
  const QRect paneRect(pane.left, pane.top, RectWidth(pane), RectHeight(pane));
  painter.fillRect(paneRect, ComparePaneColor());
  const DrawnImage drawn = PlaceImageInPane(pane, image.width, image.height, zoom, panX, panY);
  painter.setClipRect(paneRect);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(QRectF(drawn.left, drawn.top, drawn.width, drawn.height), WrapPixelImage(image));
  return canvas;
}

int LargestDifference(const QImage& a, const QImage& b) {
  int largest = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))});
    }
  }
  return largest;
}

TEST_F(CompareWindowTest, PaneFromTheVisiblePartMatchesTheWholeImageDrawn) {
  const PixelImage image = MakeTestPicture(301, 203, 11);
  const EdgeRect pane{30, 40, 661, 471};
  struct Case { int zoom, panX, panY; };
  for (const Case c : {Case{800, 0, 0}, Case{800, -700, 250}, Case{800, 5000, -5000},
                       Case{250, 137, -61}, Case{225, -33, 17}, Case{100, 0, 0}}) {
    const QImage part = PaintPane(image, pane, c.zoom, c.panX, c.panY, false);
    const QImage whole = PaintPane(image, pane, c.zoom, c.panX, c.panY, true);
    EXPECT_LE(LargestDifference(part, whole), 2) << c.zoom << " " << c.panX << " " << c.panY;
    // Outside the pane nothing was drawn.
    EXPECT_EQ(part.pixelColor(pane.left - 1, pane.top + 5), QColor(Qt::white));
    EXPECT_EQ(part.pixelColor(pane.right, pane.bottom - 1), QColor(Qt::white));
  }
}

TEST_F(CompareWindowTest, EmptyImageLeavesTheFilledPane) {
  QImage canvas(200, 200, QImage::Format_RGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  PaintComparePane(painter, PixelImage{}, EdgeRect{10, 10, 110, 60}, 400, 0, 0);
  painter.end();
  EXPECT_EQ(canvas.pixelColor(50, 30), QColor(25, 31, 42));
  EXPECT_EQ(canvas.pixelColor(50, 70), QColor(Qt::white));
}

// --- The end of a batch ------------------------------------------------------------

TEST_F(CompareWindowTest, BatchWithResultsOpensTheWindowOnTheFirstResult) {
  if (JpegtranProgram().empty()) GTEST_SKIP() << "no jpegtran";
  const TestEngineStore engines(TestTools{true, true, true});
  const std::string sources = Path("quelle");
  const std::string output = Path("ausgabe");
  ASSERT_TRUE(EnsureFolder(sources));
  ASSERT_TRUE(EnsureFolder(output));
  std::vector<std::string> photos;
  for (const char* name : {"skimage_chelsea_q95.jpg", "mate_FreshFlower.jpg"}) {
    const std::string path = CopyTestPhoto(name, JoinPath(sources, name));
    ASSERT_FALSE(path.empty()) << name;
    photos.push_back(path);
  }
  AddFiles(photos);
  SetOutputEditText(output);
  window->DispatchCommand(2101);

  ASSERT_EQ(MainState().results.size(), 2u);
  CompareWindow* compare = ActiveCompareWindow();
  ASSERT_NE(compare, nullptr);
  EXPECT_TRUE(compare->isVisible());
  EXPECT_EQ(CompareViewState().currentIndex, 0);
  EXPECT_EQ(CompareViewState().sourcePath, MainState().results[0].sourcePath);
  EXPECT_EQ(CompareViewState().sourcePath, JoinPath(sources, "mate_FreshFlower.jpg"));
  EXPECT_EQ(LabelText(compare, kIdComparePosition), "Bild 1 von 2");
  const ImageResult& first = MainState().results[0];
  EXPECT_EQ(CompareViewState().optimizedPath, first.optimized ? first.outputPath : "");
  EXPECT_TRUE(IsUsableImage(CompareViewState().optimizedImage));
}

}  // namespace
