// The compare and guide windows offscreen, opened through the main window's
// hooks as start-up installs them: refusals, navigation by buttons and keys,
// zoom by slider and wheel, synchronised pan dragging, failed images,
// reopening and closing, pane painting against drawing the whole image; the
// guide's text, read-only but copyable, its place, one window at most.
#include <QClipboard>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTextDocument>
#include <QTextEdit>
#include <QWheelEvent>
#include <algorithm>
#include <array>

#include "platform/files.h"
#include "tests/ui/main_window_test_support.h"
#include "ui/compare/compare_painting.h"
#include "ui/compare/compare_view.h"
#include "ui/compare/compare_window.h"
#include "ui/guide/guide_text.h"
#include "ui/guide/guide_window.h"
#include "ui/main/main_window_state.h"
#include "ui/main/window_names.h"

namespace {

struct CompareMessage {
  std::string title;
  std::string text;
  CompareMessageIcon icon;
};

int VisibleWindowsNamed(const char* name) {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QString::fromUtf8(name) && widget->isVisible()) ++count;
  }
  return count;
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

// A left-button drag from `from` by (dx, dy) in one move.
void Drag(QWidget* target, QPoint from, int dx, int dy) {
  SendMouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  SendMouse(target, QEvent::MouseMove, from + QPoint(dx, dy), Qt::NoButton, Qt::LeftButton);
  SendMouse(target, QEvent::MouseButtonRelease, from + QPoint(dx, dy), Qt::LeftButton, Qt::NoButton);
}

void SendWheel(QWidget* target, QPoint at, int delta) {
  QWheelEvent event(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

class CompareWindowTest : public MainWindowTest {
 protected:
  std::vector<CompareMessage> compareMessages;

  void SetUp() override {
    MainWindowTest::SetUp();
    ResetCompareState();
    SetCompareMessageSink([this](const std::string& title, const std::string& text,
                                 CompareMessageIcon icon) { compareMessages.push_back({title, text, icon}); });
    // What start-up installs, in place of the recorder's stand-ins.
    InstallCompareAndGuideWindows(window.get());
  }
  void TearDown() override {
    window.reset();  // takes the other windows with it
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetCompareMessageSink({});
    ResetCompareState();
    MainWindowTest::TearDown();
  }

  std::string WriteJpeg(const std::string& name, std::uint32_t width, std::uint32_t height,
                        std::uint32_t seed = 1) {
    EXPECT_TRUE(WriteTestJpeg(Path(name), MakeTestPicture(width, height, seed), 92));
    return Path(name);
  }

  // Results as a batch leaves them: source and output; no output = kept.
  void SetResults(const std::vector<std::pair<std::string, std::string>>& entries) {
    MainState().imageList.clear();
    MainState().results.clear();
    for (const auto& [source, output] : entries) {
      MainState().imageList.push_back(source);
      MainState().results.push_back(
          {.sourcePath = source, .outputPath = output, .optimized = !output.empty()});
    }
  }

  CompareWindow* OpenAndWait(int index) {
    OpenCompareWindow(window.get(), index);
    CompareWindow* compare = ActiveCompareWindow();
    if (compare) { EXPECT_TRUE(QTest::qWaitForWindowExposed(compare)); }
    return compare;
  }

  static std::string Label(CompareWindow* c, int id) { return ControlText(c->ControlById(id)); }
  static bool Enabled(CompareWindow* c, int id) { return c->ControlById(id)->isEnabled(); }
  static QSlider* Trackbar(CompareWindow* compare) {
    return qobject_cast<QSlider*>(compare->ControlById(kIdCompareTrackbar));
  }
};

TEST_F(CompareWindowTest, NothingToBrowseOrAnUndecodableSourceShowsAMessageAndNoWindow) {
  window->DispatchCommand(2102);
  const std::string broken = Path("kein_bild.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "nur Text"));
  MainState().imageList = {broken};
  window->DispatchCommand(2102);
  ASSERT_EQ(compareMessages.size(), 2u);
  EXPECT_EQ(compareMessages[0].title, kCompareMessageTitle);
  EXPECT_EQ(compareMessages[0].text, kCompareMessageNothingToShow);
  EXPECT_EQ(compareMessages[0].icon, CompareMessageIcon::Information);
  EXPECT_EQ(compareMessages[1].text, kCompareMessageLoadFailed);
  EXPECT_EQ(compareMessages[1].icon, CompareMessageIcon::Error);
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
  EXPECT_EQ(VisibleWindowsNamed(kCompareWindowName), 0);
}

// Pixels of the two panes at the same offsets, from a grab of the window.
void ExpectPanesEqual(CompareWindow* compare, bool equal) {
  const QImage shot = compare->grab().toImage();
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  int differing = 0, samples = 0;
  for (int dy = 2; dy < RectHeight(layout.leftPane) - 2; dy += 17) {
    for (int dx = 2; dx < RectWidth(layout.leftPane) - 2; dx += 13, ++samples) {
      differing += shot.pixel(layout.leftPane.left + dx, layout.leftPane.top + dy) !=
                   shot.pixel(layout.rightPane.left + dx, layout.rightPane.top + dy);
    }
  }
  EXPECT_TRUE(equal ? differing == 0 : differing > samples / 20) << differing << " of " << samples;
}

TEST_F(CompareWindowTest, F6OpensOnTheSelectedResultAndAKeptOneShowsTheSourceInBothPanes) {
  SetResults({{WriteJpeg("a.jpg", 300, 200, 3), ""}, {WriteJpeg("b.jpg", 300, 200, 4), ""},
              {WriteJpeg("c.jpg", 300, 200, 5), WriteJpeg("c_out.jpg", 300, 200, 99)}});
  MainState().selectedResultRow = 1;
  FocusWidget(window->ClientArea());
  PressKey(Qt::Key_F6);
  CompareWindow* compare = ActiveCompareWindow();
  ASSERT_NE(compare, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(compare));
  EXPECT_TRUE(compareMessages.empty());
  EXPECT_EQ(compare->windowTitle(), QString::fromUtf8("Bildvergleich \u2013 b.jpg \u2013 Orvel JPEG Optimizer"));
  EXPECT_EQ(CompareViewState().currentIndex, 1);
  EXPECT_EQ(Label(compare, kIdComparePosition), "Bild 2 von 3");
  ExpectPanesEqual(compare, true);
  compare->DispatchCommand(kIdCompareNext);
  QCoreApplication::processEvents();
  ExpectPanesEqual(compare, false);  // the optimised picture on the right
  // The controls stay centred on half the width.
  compare->resize(1500, 900);
  QCoreApplication::processEvents();
  const CompareControlLayout layout = LayoutCompareControls(compare->width());
  const auto rect = [](const ControlPlace& p) { return QRect(p.left, p.top, p.width, p.height); };
  EXPECT_EQ(compare->ControlById(kIdComparePrevious)->geometry(), rect(layout.previousButton));
  EXPECT_EQ(compare->ControlById(kIdCompareTrackbar)->geometry(), rect(layout.zoomTrackbar));
  EXPECT_EQ(compare->ControlById(kIdCompareZoomLabel)->geometry().left(), 1500 / 2 - 50);
}

TEST_F(CompareWindowTest, AFailedImageOfTheBatchShowsItsReasonNotAKeptOriginal) {
  const std::string broken = Path("kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "kein JPEG"));
  SetResults({{broken, ""}, {WriteJpeg("gut.jpg", 300, 200, 5), ""}});
  ImageResult partial;
  partial.failureReason = "kein Bild oder unbekanntes Format";
  MainState().results[0] = ProcessingErrorResult(partial, broken, "Ausgewogen");

  // The batch opens the window on its first result, which failed.
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  EXPECT_TRUE(compareMessages.empty());
  const std::string reason = "Fehler beim Verarbeiten \u2013 kein Bild oder unbekanntes Format";
  EXPECT_EQ(CompareViewState().failureText, reason);
  EXPECT_EQ(CompareCaption(broken, 9, "", 0, true, CompareViewState().failureText),
            "kaputt.jpg   |   Original: 9 B   |   " + reason);
  // No dark panes: the reason stands on the window's background.
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  const QImage shot = compare->grab().toImage();
  EXPECT_EQ(shot.pixelColor(layout.leftPane.left + 5, layout.leftPane.top + 5), shot.pixelColor(2, 2));

  compare->DispatchCommand(kIdCompareNext);
  EXPECT_TRUE(CompareViewState().failureText.empty());
  EXPECT_TRUE(IsUsableImage(CompareViewState().sourceImage));
  // Before any batch an unreadable image is still refused with the message.
  MainState().results.clear();
  MainState().imageList = {broken};
  OpenCompareWindow(window.get(), 0);
  ASSERT_EQ(compareMessages.size(), 1u);
  EXPECT_EQ(CompareViewState().failureText,
            "Das Bild kann nicht angezeigt werden: kein Bild oder unbekanntes Format.");
}

TEST_F(CompareWindowTest, ButtonsAndKeysStepThroughTheListAndStopAtItsEnds) {
  SetResults({{WriteJpeg("1.jpg", 20, 20), ""}, {Path("weg.jpg"), ""},
              {WriteJpeg("3.jpg", 20, 20), ""}});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  EXPECT_FALSE(Enabled(compare, kIdComparePrevious));
  EXPECT_TRUE(Enabled(compare, kIdCompareNext));

  // An unreadable entry while stepping empties the panes without a message.
  compare->DispatchCommand(kIdCompareNext);
  EXPECT_TRUE(compareMessages.empty());
  EXPECT_FALSE(IsUsableImage(CompareViewState().sourceImage));
  EXPECT_EQ(Label(compare, kIdComparePosition), "Bild 2 von 3");
  EXPECT_EQ(compare->windowTitle(), QString::fromUtf8("Bildvergleich \u2013 weg.jpg \u2013 Orvel JPEG Optimizer"));
  EXPECT_TRUE(Enabled(compare, kIdComparePrevious));
  qobject_cast<QPushButton*>(compare->ControlById(kIdCompareNext))->click();
  EXPECT_EQ(CompareViewState().currentIndex, 2);
  EXPECT_TRUE(IsUsableImage(CompareViewState().sourceImage));
  EXPECT_FALSE(Enabled(compare, kIdCompareNext));

  // The arrow keys reach the window, whatever was clicked.
  compare->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(compare));
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : compare, Qt::Key_Right);
  EXPECT_EQ(CompareViewState().currentIndex, 2);
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : compare, Qt::Key_Left);
  EXPECT_EQ(CompareViewState().currentIndex, 1);

  // Zoom is kept while stepping, the pan is reset.
  Trackbar(compare)->setValue(300);
  CompareViewState().panX = 55;
  compare->DispatchCommand(kIdComparePrevious);
  EXPECT_EQ(CompareViewState().zoom, 300);
  EXPECT_EQ(CompareViewState().panX, 0);
  EXPECT_FALSE(Enabled(compare, kIdComparePrevious));
  EXPECT_EQ(Label(compare, kIdComparePosition), "Bild 1 von 3");
}

TEST_F(CompareWindowTest, WheelAndSliderZoomAndDraggingPansBothPanesUpToTheImageEdge) {
  // A 1000-pixel image with a red left column of 4 pixels.
  PixelImage picture = MakeTestPicture(1000, 300, 7);
  for (std::size_t i = 0; i < picture.pixels.size(); i += 4) {
    if (i / 4 % picture.width < 4) std::copy_n("\0\0\xff", 3, &picture.pixels[i]);
  }
  ASSERT_TRUE(WriteTestJpeg(Path("rand.jpg"), picture, 100));
  SetResults({{Path("rand.jpg"), ""}});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  const QPoint inPane(300, 400);
  for (int i = 0; i < 5; ++i) SendWheel(compare, inPane, 120);
  EXPECT_EQ(CompareViewState().zoom, 225);
  EXPECT_EQ(Label(compare, kIdCompareZoomLabel), "Zoom: 225 %");
  EXPECT_EQ(Trackbar(compare)->value(), 225);
  SendWheel(compare, inPane, -15);  // any negative delta is one step down
  EXPECT_EQ(CompareViewState().zoom, 200);
  Trackbar(compare)->setValue(790);
  EXPECT_EQ(Label(compare, kIdCompareZoomLabel), "Zoom: 790 %");
  CompareViewState().panX = 123;
  SendWheel(Trackbar(compare), QPoint(10, 10), 120);  // over the slider the same
  EXPECT_EQ(CompareViewState().zoom, 800);
  EXPECT_EQ(CompareViewState().panX, 0);
  SendWheel(compare, inPane, 120);
  EXPECT_EQ(CompareViewState().zoom, 800);

  Trackbar(compare)->setValue(250);
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());

  Drag(compare, QPoint(660, 300), 200, 0);  // outside the panes nothing starts
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

TEST_F(CompareWindowTest, OpeningAgainResetsZoomAndPanAndEscapeDestroysTheWindow) {
  SetResults({{WriteJpeg("x.jpg", 900, 700), ""}, {WriteJpeg("y.jpg", 900, 700), ""}});
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  Trackbar(compare)->setValue(400);
  Drag(compare, QPoint(300, 300), -80, 40);
  EXPECT_EQ(CompareViewState().panX, -80);
  compare->showMinimized();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  // Raised, not made anew, on the selected line with zoom and pan reset.
  MainState().selectedResultRow = 1;
  window->DispatchCommand(2102);
  EXPECT_EQ(ActiveCompareWindow(), compare);
  EXPECT_EQ(VisibleWindowsNamed(kCompareWindowName), 1);
  EXPECT_FALSE(compare->isMinimized());
  EXPECT_TRUE(QTest::qWaitForWindowActive(compare));
  EXPECT_EQ((std::array{CompareViewState().zoom, CompareViewState().panX, CompareViewState().panY}),
            (std::array{100, 0, 0}));
  EXPECT_EQ(Trackbar(compare)->value(), 100);
  EXPECT_EQ(Label(compare, kIdComparePosition), "Bild 2 von 2");

  // Escape during a drag destroys the window; the drag ends, images and zoom stay.
  Trackbar(compare)->setValue(500);
  SendMouse(compare, QEvent::MouseButtonPress, QPoint(300, 300), Qt::LeftButton, Qt::LeftButton);
  QPointer<CompareWindow> guard(compare);
  QTest::keyClick(compare, Qt::Key_Escape);
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
  EXPECT_FALSE(CompareViewState().dragging);
  EXPECT_EQ(CompareViewState().zoom, 500);
  EXPECT_TRUE(IsUsableImage(CompareViewState().sourceImage));
  window->DispatchCommand(2102);
  ASSERT_NE(ActiveCompareWindow(), nullptr);
  EXPECT_EQ(VisibleWindowsNamed(kCompareWindowName), 1);
  EXPECT_EQ(CompareViewState().zoom, 100);
  // Closing the main window takes the compare window along.
  window.reset();
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
}

// Pane painting from the visible part, or the whole image drawn clipped.
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

// The largest difference of one colour channel; both canvases are RGB32.
int LargestDifference(const QImage& a, const QImage& b) {
  int largest = 0;
  for (qsizetype i = 0; i < a.sizeInBytes(); ++i) {
    largest = std::max(largest, std::abs(a.constBits()[i] - b.constBits()[i]));
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
  // An empty image leaves the filled pane.
  const QImage empty = PaintPane(PixelImage{}, pane, 400, 0, 0, false);
  EXPECT_EQ(empty.pixelColor(pane.left + 50, pane.top + 30), QColor(25, 31, 42));
  EXPECT_EQ(empty.pixelColor(pane.left - 1, pane.top + 30), QColor(Qt::white));
}

// --- The guide window --------------------------------------------------------------

using GuideWindowTest = CompareWindowTest;

GuideWindow* OpenGuide(MainWindow& window) {
  window.DispatchCommand(2201);
  GuideWindow* guide = ActiveGuideWindow();
  if (guide) { EXPECT_TRUE(QTest::qWaitForWindowExposed(guide)); }
  return guide;
}

TEST_F(GuideWindowTest, ShowsTheWholeTextReadOnlyAndASecondRequestRaisesTheOneWindow) {
  GuideWindow* guide = OpenGuide(*window);
  ASSERT_NE(guide, nullptr);
  QTextEdit* text = guide->TextControl();
  QString expected = QString::fromUtf8(kGuideText);
  expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  EXPECT_EQ(text->toPlainText(), expected);
  EXPECT_EQ(text->document()->blockCount(), 27);
  EXPECT_EQ(guide->focusProxy(), text);  // the window hands its focus to the text
  EXPECT_EQ(text->geometry(), QRect(16, 16, guide->width() - 32, guide->height() - 32));
  guide->resize(120, 90);
  QCoreApplication::processEvents();
  EXPECT_EQ(text->geometry(), QRect(16, 16, 100, 100));
  // Typing changes nothing; the text can be selected and copied.
  guide->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(guide));
  text->setFocus();
  QTest::keyClicks(text, "abc");
  QTest::keyClick(text, Qt::Key_Backspace);
  EXPECT_EQ(text->toPlainText(), expected);
  text->selectAll();
  text->copy();
  EXPECT_EQ(QApplication::clipboard()->text(), expected);

  guide->showMinimized();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->DispatchCommand(2201);
  EXPECT_EQ(ActiveGuideWindow(), guide);
  EXPECT_EQ(VisibleWindowsNamed(kGuideWindowName), 1);
  EXPECT_FALSE(guide->isMinimized());
  EXPECT_TRUE(QTest::qWaitForWindowActive(guide));
  // Closed, it is gone; the next request opens a new one.
  QPointer<GuideWindow> guard(guide);
  guide->close();
  EXPECT_EQ(ActiveGuideWindow(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
  EXPECT_NE(OpenGuide(*window), nullptr);
  EXPECT_EQ(VisibleWindowsNamed(kGuideWindowName), 1);
}

}  // namespace
