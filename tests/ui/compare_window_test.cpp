// The compare and guide windows offscreen, opened through the main window's hooks as start-up
// installs them: refusals, stepping, zoom, synchronised pan, reopening, closing, pane painting.
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>
#include <QWheelEvent>
#include <algorithm>
#include <array>

#include "core/profiles.h"
#include "imaging/quality.h"
#include "tests/ui/main_window_test_support.h"
#include "ui/compare/compare_painting.h"
#include "ui/compare/compare_view.h"
#include "ui/compare/compare_window.h"
#include "ui/guide/guide_text.h"
#include "ui/guide/guide_window.h"
#include "ui/main/main_window_state.h"
#include "ui/main/window_names.h"

namespace {

int VisibleWindowsNamed(const char* name) {
  const QWidgetList windows = QApplication::topLevelWidgets();
  return static_cast<int>(std::count_if(windows.begin(), windows.end(), [name](QWidget* widget) {
    return widget->objectName() == QString::fromUtf8(name) && widget->isVisible();
  }));
}

// Left-button events: press, move with the button held, release, move with none.
enum Mouse { kPress, kMove, kRelease, kHover };
void SendMouse(QWidget* target, Mouse kind, QPoint at) {
  static const QEvent::Type types[] = {QEvent::MouseButtonPress, QEvent::MouseMove, QEvent::MouseButtonRelease,
                                       QEvent::MouseMove};
  const Qt::MouseButton button = kind == kPress || kind == kRelease ? Qt::LeftButton : Qt::NoButton;
  const Qt::MouseButtons held = kind == kPress || kind == kMove ? Qt::LeftButton : Qt::NoButton;
  QMouseEvent event(types[kind], QPointF(at), QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void Drag(QWidget* target, QPoint from, QPoint by) {
  for (const auto& [kind, at] : {std::pair(kPress, from), {kMove, from + by}, {kRelease, from + by}}) {
    SendMouse(target, kind, at);
  }
}

void SendWheel(QWidget* target, QPoint at, int delta) {
  QWheelEvent event(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

class CompareWindowTest : public MainWindowTest {
 protected:
  std::vector<std::pair<std::string, CompareMessageIcon>> compareMessages;

  void SetUp() override {
    MainWindowTest::SetUp();
    ResetCompareState();
    SetCompareMessageSink([this](const std::string&, const std::string& text, CompareMessageIcon icon) {
      compareMessages.emplace_back(text, icon);
    });
    InstallCompareAndGuideWindows(window.get());
  }
  void TearDown() override {
    window.reset();  // takes the other windows with it
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetCompareMessageSink({});
    ResetCompareState();
    MainWindowTest::TearDown();
  }

  std::string WriteJpeg(const std::string& name, std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    EXPECT_TRUE(WriteTestJpeg(Path(name), MakeTestPicture(width, height, seed), 92));
    return Path(name);
  }

  // Results as a batch leaves them: source and output; no output = kept.
  void SetResults(const std::vector<std::pair<std::string, std::string>>& entries) {
    MainState().imageList.clear();
    MainState().results.clear();
    for (const auto& [source, output] : entries) {
      MainState().imageList.push_back(source);
      MainState().results.push_back({.sourcePath = source, .outputPath = output, .optimized = !output.empty()});
    }
  }

  CompareWindow* OpenAndWait(int index) {
    OpenCompareWindow(window.get(), index);
    CompareWindow* compare = ActiveCompareWindow();
    // The offscreen screen is smaller than the design; the tests measure the designed window.
    if (compare) compare->resize(kCompareWindowWidth, kCompareWindowHeight);
    if (compare) { EXPECT_TRUE(QTest::qWaitForWindowExposed(compare)); }
    return compare;
  }

  static std::string Label(CompareWindow* c, int id) { return ControlText(c->ControlById(id)); }
  static bool Enabled(CompareWindow* c, int id) { return c->ControlById(id)->isEnabled(); }
  static QSlider* Trackbar(CompareWindow* c) { return qobject_cast<QSlider*>(c->ControlById(kIdCompareTrackbar)); }
};

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

TEST_F(CompareWindowTest, F6OpensOnTheSelectedResultOpeningAgainResetsZoomAndPanAndEscapeDestroysIt) {
  SetResults({{WriteJpeg("a.jpg", 300, 200, 3), ""}, {WriteJpeg("b.jpg", 300, 200, 4), ""},
              {WriteJpeg("c.jpg", 300, 200, 5), WriteJpeg("c_out.jpg", 300, 200, 99)}});
  MainState().selectedResultRow = 1;
  FocusWidget(window->ClientArea());
  PressKey(Qt::Key_F6);
  CompareWindow* compare = ActiveCompareWindow();
  ASSERT_NE(compare, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(compare));
  EXPECT_EQ((QStringList{compare->windowTitle(), QString::fromStdString(Label(compare, kIdComparePosition))}),
            (QStringList{QString::fromStdString(CompareWindowTitle(Path("b.jpg"))), "Bild 2 von 3"}));
  ExpectPanesEqual(compare, true);
  compare->DispatchCommand(kIdCompareNext);
  QCoreApplication::processEvents();
  ExpectPanesEqual(compare, false);  // the optimised picture on the right
  Trackbar(compare)->setValue(400);
  Drag(compare, QPoint(300, 300), QPoint(-80, 40));
  EXPECT_EQ(CompareViewState().panX, -80);
  compare->showMinimized();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  // Raised, not made anew, on the selected line with zoom and pan reset.
  MainState().selectedResultRow = 0;
  window->DispatchCommand(2102);
  EXPECT_TRUE(ActiveCompareWindow() == compare && VisibleWindowsNamed(kCompareWindowName) == 1 &&
              !compare->isMinimized());
  EXPECT_TRUE(QTest::qWaitForWindowActive(compare));
  EXPECT_EQ((std::array{CompareViewState().zoom, CompareViewState().panX, CompareViewState().panY,
                        Trackbar(compare)->value()}),
            (std::array{100, 0, 0, 100}));
  EXPECT_EQ(Label(compare, kIdComparePosition), "Bild 1 von 3");
  // Escape during a drag destroys the window; the drag ends, images and zoom stay.
  Trackbar(compare)->setValue(500);
  SendMouse(compare, kPress, QPoint(300, 300));
  QPointer<CompareWindow> guard(compare);
  QTest::keyClick(compare, Qt::Key_Escape);
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull() && !CompareViewState().dragging && IsUsableImage(CompareViewState().sourceImage));
  EXPECT_EQ(CompareViewState().zoom, 500);
  window->DispatchCommand(2102);
  EXPECT_TRUE(ActiveCompareWindow() != nullptr && VisibleWindowsNamed(kCompareWindowName) == 1);
  EXPECT_EQ(CompareViewState().zoom, 100);
  window.reset();  // closing the main window takes the compare window along
  EXPECT_EQ(ActiveCompareWindow(), nullptr);
}

TEST_F(CompareWindowTest, StepsOverAFailedAndAnUnreadableEntryAndStopsAtTheEnds) {
  window->DispatchCommand(2102);  // nothing to browse: a message, no window
  EXPECT_EQ(VisibleWindowsNamed(kCompareWindowName), 0);
  const std::string broken = Path("kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "kein JPEG"));
  SetResults({{broken, ""}, {Path("weg.jpg"), ""}, {WriteJpeg("gut.jpg", 300, 200, 5), ""}});
  MainState().results[0] =
      ProcessingErrorResult({.failureReason = "kein Bild oder unbekanntes Format"}, broken, "Ausgewogen");
  // A failed first result: the window says why on its own background, not as a kept original.
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  const std::string reason = "Fehler beim Verarbeiten \u2013 kein Bild oder unbekanntes Format";
  EXPECT_EQ(CompareViewState().failureText, reason);
  EXPECT_EQ(CompareCaption(broken, 9, "", 0, true, CompareViewState().failureText),
            "kaputt.jpg   |   Original: 9 B   |   " + reason);
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  const QImage shot = compare->grab().toImage();
  EXPECT_EQ(shot.pixelColor(layout.leftPane.left + 5, layout.leftPane.top + 5), shot.pixelColor(2, 2));
  EXPECT_TRUE(!Enabled(compare, kIdComparePrevious) && Enabled(compare, kIdCompareNext));
  // An unreadable entry while stepping empties the panes.
  compare->DispatchCommand(kIdCompareNext);
  EXPECT_TRUE(!IsUsableImage(CompareViewState().sourceImage) && Enabled(compare, kIdComparePrevious));
  EXPECT_EQ((QStringList{compare->windowTitle(), QString::fromStdString(Label(compare, kIdComparePosition))}),
            (QStringList{QString::fromStdString(CompareWindowTitle(Path("weg.jpg"))), "Bild 2 von 3"}));
  qobject_cast<QPushButton*>(compare->ControlById(kIdCompareNext))->click();
  EXPECT_EQ(CompareViewState().currentIndex, 2);
  EXPECT_TRUE(CompareViewState().failureText.empty() && IsUsableImage(CompareViewState().sourceImage) &&
              !Enabled(compare, kIdCompareNext));
  // The arrow keys reach the window, whatever was clicked.
  compare->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(compare));
  std::vector<int> indexes;
  for (Qt::Key key : {Qt::Key_Right, Qt::Key_Left}) {
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : compare, key);
    indexes.push_back(CompareViewState().currentIndex);
  }
  EXPECT_EQ(indexes, (std::vector<int>{2, 1}));
  // Zoom is kept while stepping, the pan is reset.
  Trackbar(compare)->setValue(300);
  CompareViewState().panX = 55;
  compare->DispatchCommand(kIdCompareNext);
  EXPECT_EQ(std::pair(CompareViewState().zoom, CompareViewState().panX), std::pair(300, 0));
  EXPECT_EQ(Label(compare, kIdComparePosition), "Bild 3 von 3");
  // Before any batch an unreadable image is refused with the message; stepping showed none.
  MainState().results.clear();
  MainState().imageList = {broken};
  OpenCompareWindow(window.get(), 0);
  using Message = std::pair<std::string, CompareMessageIcon>;
  EXPECT_EQ(compareMessages, (std::vector<Message>{{kCompareMessageNothingToShow, CompareMessageIcon::Information},
                                                   {kCompareMessageLoadFailed, CompareMessageIcon::Error}}));
  EXPECT_EQ(CompareViewState().failureText,
            "Das Bild kann nicht angezeigt werden: kein Bild oder unbekanntes Format.");
}

TEST_F(CompareWindowTest, WheelAndSliderZoomAndDraggingPansBothPanesUpToTheImageEdge) {
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
  EXPECT_EQ(std::tuple(CompareViewState().zoom, Label(compare, kIdCompareZoomLabel), Trackbar(compare)->value()),
            std::tuple(225, std::string("Zoom: 225 %"), 225));
  SendWheel(compare, inPane, -15);  // any negative delta is one step down
  EXPECT_EQ(CompareViewState().zoom, 200);
  Trackbar(compare)->setValue(790);
  EXPECT_EQ(Label(compare, kIdCompareZoomLabel), "Zoom: 790 %");
  CompareViewState().panX = 123;
  SendWheel(Trackbar(compare), QPoint(10, 10), 120);  // over the slider the same
  EXPECT_EQ(std::pair(CompareViewState().zoom, CompareViewState().panX), std::pair(800, 0));

  Trackbar(compare)->setValue(250);
  Drag(compare, QPoint(660, 300), QPoint(200, 0));  // outside the panes nothing starts
  EXPECT_EQ(CompareViewState().panX, 0);
  SendMouse(compare, kPress, QPoint(100, 400));
  EXPECT_TRUE(CompareViewState().dragging);
  EXPECT_EQ(compare->cursor().shape(), Qt::SizeAllCursor);
  for (int x = 200; x <= 1200; x += 100) SendMouse(compare, kMove, QPoint(x, 420));
  SendMouse(compare, kRelease, QPoint(1200, 420));
  SendMouse(compare, kHover, QPoint(300, 300));  // button up: nothing
  EXPECT_FALSE(CompareViewState().dragging);
  EXPECT_EQ(compare->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(std::pair(CompareViewState().panX, CompareViewState().panY), std::pair(1100, 20));
  // 2500 pixels wide now; its left edge sits at each pane's left edge.
  QCoreApplication::processEvents();
  const QImage shot = compare->grab().toImage();
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  const int y = layout.leftPane.top + RectHeight(layout.leftPane) / 2;
  for (const EdgeRect& pane : {layout.leftPane, layout.rightPane}) {
    const QColor edge = shot.pixelColor(pane.left + 3, y);
    EXPECT_TRUE(edge.red() > 200 && edge.green() < 60) << pane.left;
    EXPECT_LT(shot.pixelColor(pane.left + 20, y).red(), 200) << pane.left;
  }
}

// Painting only the visible part must look like the whole image drawn clipped to the pane.
TEST_F(CompareWindowTest, PaneFromTheVisiblePartMatchesTheWholeImageDrawn) {
  const PixelImage image = MakeTestPicture(301, 203, 11);
  const EdgeRect pane{30, 40, 661, 471};
  const QRect paneRect(pane.left, pane.top, RectWidth(pane), RectHeight(pane));
  const auto paint = [&](const PixelImage& picture, std::array<int, 3> view, bool whole) {
    QImage canvas(700, 500, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    if (!whole) PaintComparePane(painter, picture, pane, view[0], view[1], view[2]);
    if (!whole) return canvas;
    const DrawnImage drawn = PlaceImageInPane(pane, picture.width, picture.height, view[0], view[1], view[2]);
    painter.fillRect(paneRect, ComparePaneColor());
    painter.setClipRect(paneRect);
    // From 200 % up the pane draws sharp pixels; the whole image is drawn the same way.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !DrawsSharpPixels(view[0] / 100.0, 1.0));
    painter.drawImage(QRectF(drawn.left, drawn.top, drawn.width, drawn.height), WrapPixelImage(picture));
    return canvas;
  };
  for (const std::array<int, 3> c : {std::array{800, 0, 0}, {800, -700, 250}, {800, 5000, -5000}, {250, 137, -61},
                                     {225, -33, 17}, {100, 0, 0}}) {
    const QImage part = paint(image, c, false), whole = paint(image, c, true);
    int largest = 0;  // of one colour channel
    for (qsizetype i = 0; i < part.sizeInBytes(); ++i) {
      largest = std::max(largest, std::abs(part.constBits()[i] - whole.constBits()[i]));
    }
    EXPECT_LE(largest, 2) << c[0] << " " << c[1] << " " << c[2];
    // Outside the pane nothing was drawn.
    EXPECT_EQ(part.pixelColor(pane.left - 1, pane.top + 5), QColor(Qt::white));
    EXPECT_EQ(part.pixelColor(pane.right, pane.bottom - 1), QColor(Qt::white));
  }
  // An empty image leaves the filled pane.
  const QImage empty = paint(PixelImage{}, {400, 0, 0}, false);
  EXPECT_EQ(empty.pixelColor(pane.left + 50, pane.top + 30), QColor(25, 31, 42));
  EXPECT_EQ(empty.pixelColor(pane.left - 1, pane.top + 30), QColor(Qt::white));
}

// Keys 0, Q and W on a written result with one weak window, and on a failed image.
TEST_F(CompareWindowTest, FitZoomQualityMapAndWorstWindowKeys) {
  const std::string source = WriteJpeg("gross.jpg", 1400, 900, 8);
  SetResults({{source, WriteJpeg("gross_stark.jpg", 1400, 900, 8)}, {Path("fehlt.jpg"), ""}});
  ImageResult& written = MainState().results[0];
  written.profileLabel = ProfileAt(4).label;
  written.analysedWidth = 1400;
  written.analysedHeight = 900;
  const std::vector<AnalysisWindow> windows = AnalysisWindows(1400, 900);
  written.windowScores.assign(windows.size(), 0.99);
  const std::size_t weak = 5 * 22 + 10;  // x 610..737, y 305..432
  written.windowScores[weak] = 0.5;
  MainState().results[1].failed = true;
  MainState().results[1].message = "Fehler beim Verarbeiten";
  CompareWindow* compare = OpenAndWait(0);
  ASSERT_NE(compare, nullptr);
  const auto fitButton = [&]() { return qobject_cast<QPushButton*>(compare->ControlById(kIdCompareFit)); };

  QTest::keyClick(compare, Qt::Key_0);  // 630 of 1400 pixels across: 45 %
  EXPECT_EQ(std::tuple(Label(compare, kIdCompareZoomLabel), fitButton()->isChecked(), Trackbar(compare)->value()),
            std::tuple(std::string("Einpassen: 45 %"), true, 100));
  fitButton()->click();  // back to the zoom before
  EXPECT_EQ(std::tuple(Label(compare, kIdCompareZoomLabel), fitButton()->isChecked()),
            std::tuple(std::string("Zoom: 100 %"), false));

  // The map tints the weak window red in the result pane only.
  QTest::keyClick(compare, Qt::Key_Q);
  ASSERT_TRUE(CompareViewState().qualityMapShown);
  const ComparePaintLayout layout = ComputeComparePaintLayout(compare->width(), compare->height());
  const auto at = [&](const EdgeRect& pane, const AnalysisWindow& w) {
    const DrawnImage drawn = PlaceImageInPane(pane, 1400, 900, CompareViewState().zoom, CompareViewState().panX,
                                              CompareViewState().panY);
    const ScreenRect r = ImageRectOnScreen(drawn, 1400, 900, w.x0, w.y0, w.x1, w.y1);
    return QPoint(static_cast<int>(r.left + r.width / 2), static_cast<int>(r.top + r.height / 2));
  };
  const auto redShift = [&](const AnalysisWindow& w) {
    const QImage shot = compare->grab().toImage();
    const QColor left = shot.pixelColor(at(layout.leftPane, w)), right = shot.pixelColor(at(layout.rightPane, w));
    return (right.red() - left.red()) - (right.blue() - left.blue());
  };
  EXPECT_GT(redShift(windows[weak]), 60);
  EXPECT_LT(std::abs(redShift(windows[weak - 3])), 12);  // a good window stays clear
  QTest::keyClick(compare, Qt::Key_Q);
  EXPECT_LT(std::abs(redShift(windows[weak])), 12);

  // W: the weak window in the middle of both panes, named in the label.
  QTest::keyClick(compare, Qt::Key_W);
  EXPECT_EQ(std::tuple(CompareViewState().zoom, CompareViewState().worstStep, Label(compare, kIdCompareZoomLabel)),
            std::tuple(175, 0, std::string("Zoom: 175 %")));
  EXPECT_EQ(CompareResultPaneLabel(CompareViewState(), true),
            "Optimiert \u2013 Schlechtestes Fenster: 0.500 bei x 610, y 305");
  EXPECT_LE((at(layout.rightPane, windows[weak]) - QPoint((layout.rightPane.left + layout.rightPane.right) / 2,
                                                          (layout.rightPane.top + layout.rightPane.bottom) / 2))
                .manhattanLength(), 2);

  // A failed image: no map, and the keys change nothing.
  compare->DispatchCommand(kIdCompareNext);
  for (Qt::Key key : {Qt::Key_Q, Qt::Key_W, Qt::Key_0}) QTest::keyClick(compare, key);
  EXPECT_EQ(std::tuple(CompareViewState().zoom, CompareViewState().fitZoom, CompareViewState().qualityMapShown,
                       CompareViewState().worstStep),
            std::tuple(175, false, false, -1));
}

// --- The guide window --------------------------------------------------------------

using GuideWindowTest = CompareWindowTest;

TEST_F(GuideWindowTest, ShowsTheWholeTextReadOnlyAndASecondRequestRaisesTheOneWindow) {
  window->DispatchCommand(2201);
  GuideWindow* guide = ActiveGuideWindow();
  ASSERT_NE(guide, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(guide));
  QTextEdit* text = guide->TextControl();
  EXPECT_EQ(text->toPlainText(), QString::fromUtf8(kGuideText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  EXPECT_TRUE(text->isReadOnly() && text->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
  EXPECT_EQ(guide->focusProxy(), text);  // the window hands its focus to the text
  guide->showMinimized();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->DispatchCommand(2201);
  EXPECT_TRUE(ActiveGuideWindow() == guide && VisibleWindowsNamed(kGuideWindowName) == 1 && !guide->isMinimized());
  EXPECT_TRUE(QTest::qWaitForWindowActive(guide));
  // Escape in its text closes it, and it is gone; the next request opens a new one.
  QPointer<GuideWindow> guard(guide);
  QTest::keyClick(text, Qt::Key_Escape);
  EXPECT_EQ(ActiveGuideWindow(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
  window->DispatchCommand(2201);
  EXPECT_TRUE(ActiveGuideWindow() != nullptr && VisibleWindowsNamed(kGuideWindowName) == 1);
}

}  // namespace
