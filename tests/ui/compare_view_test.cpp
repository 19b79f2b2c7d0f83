// The compare window's rules without a display: texts, zoom steps, control
// and pane rectangles, where an image is drawn for a zoom and pan (and the
// pan limits), which source pixels reach a pane, navigation, the browsed
// list, loading an entry, and panning.
#include <gtest/gtest.h>

#include "imaging/decode.h"
#include "platform/files.h"
#include "tests/core/core_test_support.h"
#include "tests/support/scoped_temp.h"
#include "ui/compare/compare_view.h"
#include "ui/main/main_window_state.h"

namespace {

const EdgeRect kPane{20, 86, 650, 778};  // the left pane of a 1320 x 840 client area

// --- Texts -------------------------------------------------------------------------

TEST(CompareTexts, PositionZoomAndTitle) {
  EXPECT_EQ(ComparePositionText(2, 12), "Bild 3 von 12");
  EXPECT_EQ(ComparePositionText(0, 1), "Bild 1 von 1");
  EXPECT_EQ(ComparePositionText(0, 0), "Kein Bild");
  EXPECT_EQ(CompareZoomText(250), "Zoom: 250 %");
  EXPECT_EQ(CompareZoomText(100), "Zoom: 100 %");
  EXPECT_EQ(CompareWindowTitle(""), "Bildvergleich \u2013 Orvel JPEG Optimizer");
  EXPECT_EQ(CompareWindowTitle("/fotos/Urlaub 2024/strand.jpg"),
            "Bildvergleich \u2013 strand.jpg \u2013 Orvel JPEG Optimizer");
}

TEST(CompareTexts, CaptionForOptimisedKeptAndListedImages) {
  EXPECT_EQ(CompareCaption("/a/b.jpg", 1536, "/out/b_hohe_qualitaet.jpg", 1000, true),
            "b.jpg   |   Original: 1.50 KB   \u2192   Optimiert: 1000 B");
  EXPECT_EQ(CompareCaption("/a/b.jpg", 1536, "", 0, true),
            "b.jpg   |   Original: 1.50 KB   |   Keine kleinere Variante \u2013 Original beibehalten");
  // Before any batch the image list is browsed: no verdict.
  EXPECT_EQ(CompareCaption("/a/b.jpg", 0, "", 0, false), "b.jpg   |   Original: 0 B");
}

TEST(CompareTexts, ControlsEnabledOnlyWhereThereIsAStep) {
  CompareState state;
  state.zoom = 375;
  state.sourcePath = "/x/erstes.jpg";
  CompareControlsView view = ComputeCompareControls(state, 3);
  EXPECT_FALSE(view.previousEnabled);
  EXPECT_TRUE(view.nextEnabled);
  EXPECT_EQ(view.positionText, "Bild 1 von 3");
  EXPECT_EQ(view.zoomText, "Zoom: 375 %");
  EXPECT_EQ(view.trackbarPosition, 375);
  EXPECT_EQ(view.title, "Bildvergleich \u2013 erstes.jpg \u2013 Orvel JPEG Optimizer");

  state.currentIndex = 2;
  view = ComputeCompareControls(state, 3);
  EXPECT_TRUE(view.previousEnabled);
  EXPECT_FALSE(view.nextEnabled);

  state.currentIndex = 0;
  view = ComputeCompareControls(state, 1);
  EXPECT_FALSE(view.previousEnabled);
  EXPECT_FALSE(view.nextEnabled);

  view = ComputeCompareControls(state, 0);
  EXPECT_FALSE(view.nextEnabled);
  EXPECT_EQ(view.positionText, "Kein Bild");
}

// --- Zoom --------------------------------------------------------------------------

TEST(CompareZoom, WheelStepsOf25WithinTheRange) {
  int zoom = 100;
  for (int i = 0; i < 5; ++i) zoom = WheelZoom(zoom, 120);
  EXPECT_EQ(zoom, 225);
  EXPECT_EQ(WheelZoom(790, 120), 800);
  EXPECT_EQ(WheelZoom(800, 120), 800);
  EXPECT_EQ(WheelZoom(100, -120), 100);
  EXPECT_EQ(WheelZoom(225, -1), 200);
  EXPECT_EQ(ClampZoom(50), 100);
  EXPECT_EQ(ClampZoom(1000), 800);
  EXPECT_EQ(ClampZoom(433), 433);
}

// --- Rectangles --------------------------------------------------------------------

TEST(CompareGeometry, ControlsAreCentredOnHalfTheClientWidth) {
  const CompareControlLayout layout = LayoutCompareControls(1305);  // mid = 652
  const auto same = [](const ControlPlace& p, int l, int t, int w, int h) {
    return p.left == l && p.top == t && p.width == w && p.height == h;
  };
  EXPECT_TRUE(same(layout.previousButton, 322, 12, 46, 34));
  EXPECT_TRUE(same(layout.positionLabel, 377, 17, 150, 26));
  EXPECT_TRUE(same(layout.nextButton, 536, 12, 46, 34));
  EXPECT_TRUE(same(layout.zoomLabel, 602, 17, 105, 26));
  EXPECT_TRUE(same(layout.zoomTrackbar, 714, 14, 270, 34));
}

TEST(CompareGeometry, LabelsPanesAndCaption) {
  const ComparePaintLayout layout = ComputeComparePaintLayout(1320, 840);
  const auto same = [](const EdgeRect& r, int l, int t, int ri, int b) {
    return r.left == l && r.top == t && r.right == ri && r.bottom == b;
  };
  EXPECT_TRUE(same(layout.originalLabel, 20, 52, 650, 82));
  EXPECT_TRUE(same(layout.optimizedLabel, 670, 52, 1300, 82));
  EXPECT_TRUE(same(layout.leftPane, 20, 86, 650, 778));
  EXPECT_TRUE(same(layout.rightPane, 670, 86, 1300, 778));
  EXPECT_TRUE(same(layout.caption, 20, 792, 1300, 828));
  EXPECT_TRUE(InsideComparePane(layout, 20, 86));
  EXPECT_FALSE(InsideComparePane(layout, 650, 300));  // right edge is outside
  EXPECT_FALSE(InsideComparePane(layout, 660, 300));  // the gap between the panes
  EXPECT_TRUE(InsideComparePane(layout, 1299, 777));
  EXPECT_FALSE(InsideComparePane(layout, 700, 30));   // the control row
}

// --- Drawn position and size -------------------------------------------------------

TEST(CompareDrawing, SmallImageAtFullSizeIsCentredAndIgnoresThePan) {
  const DrawnImage centred = PlaceImageInPane(kPane, 301, 200, 100, 0, 0);
  EXPECT_EQ(centred.width, 301);
  EXPECT_EQ(centred.height, 200);
  EXPECT_EQ(centred.left, 20 + (630 - 301) / 2);
  EXPECT_EQ(centred.top, 86 + (692 - 200) / 2);
  const DrawnImage panned = PlaceImageInPane(kPane, 301, 200, 100, 400, -900);
  EXPECT_EQ(panned.left, centred.left);
  EXPECT_EQ(panned.top, centred.top);
}

TEST(CompareDrawing, ThousandPixelsAt250PerCentStopAtThePaneEdges) {
  const DrawnImage drawn = PlaceImageInPane(kPane, 1000, 200, 250, 0, 0);
  EXPECT_EQ(drawn.width, 2500);
  EXPECT_EQ(drawn.height, 500);
  EXPECT_EQ(drawn.left, 20 + (630 - 2500) / 2);
  EXPECT_EQ(drawn.top, 86 + (692 - 500) / 2);  // fits vertically: centred
  // Dragged far to the right the left edge stops at the pane's left edge.
  EXPECT_EQ(PlaceImageInPane(kPane, 1000, 200, 250, 100000, 0).left, kPane.left);
  EXPECT_EQ(PlaceImageInPane(kPane, 1000, 200, 250, 935, 0).left, kPane.left);
  EXPECT_EQ(PlaceImageInPane(kPane, 1000, 200, 250, 934, 0).left, kPane.left - 1);
  // Far to the left the right edge stops at the pane's right edge.
  const DrawnImage left = PlaceImageInPane(kPane, 1000, 200, 250, -100000, 0);
  EXPECT_EQ(left.left + left.width, kPane.right);
  // The vertical pan is ignored while the image fits vertically.
  EXPECT_EQ(PlaceImageInPane(kPane, 1000, 200, 250, 0, 300).top, drawn.top);
}

TEST(CompareDrawing, CentringTruncatesTowardZeroAndSizesRound) {
  const EdgeRect pane{0, 0, 631, 100};
  // (631 - 2500) / 2 = -934.5, truncated to -934 (not floored to -935).
  EXPECT_EQ(PlaceImageInPane(pane, 1000, 10, 250, 0, 0).left, -934);
  // lround: 333 * 2.25 = 749.25 -> 749; 334 * 2.25 = 751.5 -> 752.
  EXPECT_EQ(PlaceImageInPane(pane, 333, 10, 225, 0, 0).width, 749);
  EXPECT_EQ(PlaceImageInPane(pane, 334, 10, 225, 0, 0).width, 752);
  // A drawn size never falls below one pixel.
  EXPECT_EQ(PlaceImageInPane(pane, 1, 1, 100, 0, 0).width, 1);
}

TEST(CompareDrawing, VeryWideImageAt800PerCentDoesNotOverflow) {
  const DrawnImage drawn = PlaceImageInPane(kPane, 400000000u, 1, 800, 0, 0);
  EXPECT_EQ(drawn.width, 3200000000LL);
  EXPECT_EQ(drawn.left, 20 + (630 - 3200000000LL) / 2);
  const VisiblePart part = ComputeVisiblePart(kPane, drawn, 400000000u, 1);
  ASSERT_FALSE(part.empty);
  EXPECT_LE(part.sourceWidth, 630 / 8 + 4);
}

TEST(CompareDrawing, VisiblePartOf24MegapixelsAt800PerCentIsSmall) {
  const DrawnImage drawn = PlaceImageInPane(kPane, 6000, 4000, 800, 1234, -567);
  const VisiblePart part = ComputeVisiblePart(kPane, drawn, 6000, 4000);
  ASSERT_FALSE(part.empty);
  // 630 x 692 pane pixels come from about 79 x 87 source pixels.
  EXPECT_LE(part.sourceWidth, 630 / 8 + 4);
  EXPECT_LE(part.sourceHeight, 692 / 8 + 4);
  EXPECT_GE(part.sourceLeft, 0);
  EXPECT_LE(part.sourceLeft + part.sourceWidth, 6000);
  EXPECT_LE(part.sourceTop + part.sourceHeight, 4000);
  // Where that part lands covers the whole pane and agrees with the drawn
  // position of the whole image.
  EXPECT_LE(part.targetLeft, kPane.left);
  EXPECT_LE(part.targetTop, kPane.top);
  EXPECT_GE(part.targetLeft + part.targetWidth, kPane.right);
  EXPECT_GE(part.targetTop + part.targetHeight, kPane.bottom);
  EXPECT_DOUBLE_EQ(part.targetLeft, drawn.left + part.sourceLeft * 8.0);
  EXPECT_DOUBLE_EQ(part.targetTop, drawn.top + part.sourceTop * 8.0);
  EXPECT_DOUBLE_EQ(part.targetWidth, part.sourceWidth * 8.0);
}

TEST(CompareDrawing, NothingIsVisibleInAnEmptyPane) {
  // A window too small for any pane: the pane's bottom lies above its top.
  const EdgeRect pane{20, 86, 90, 40};
  const DrawnImage drawn = PlaceImageInPane(pane, 500, 500, 100, 0, 0);
  EXPECT_TRUE(ComputeVisiblePart(pane, drawn, 500, 500).empty);
}

// --- Panning -----------------------------------------------------------------------

TEST(ComparePanning, DragStartsOnlyInAPaneAndAddsTheMovement) {
  const ComparePaintLayout layout = ComputeComparePaintLayout(1320, 840);
  CompareState state;
  EXPECT_FALSE(BeginPanDrag(state, layout, 660, 300));
  EXPECT_FALSE(state.dragging);
  EXPECT_FALSE(ContinuePanDrag(state, 700, 300));
  EXPECT_EQ(state.panX, 0);

  ASSERT_TRUE(BeginPanDrag(state, layout, 700, 300));
  EXPECT_TRUE(ContinuePanDrag(state, 750, 280));
  EXPECT_TRUE(ContinuePanDrag(state, 760, 290));
  EXPECT_EQ(state.panX, 60);
  EXPECT_EQ(state.panY, -10);
  EXPECT_TRUE(EndPanDrag(state));
  EXPECT_FALSE(EndPanDrag(state));
  EXPECT_FALSE(ContinuePanDrag(state, 900, 300));
  EXPECT_EQ(state.panX, 60);
}

TEST(ComparePanning, ExcessBeyondTheEdgeMustBeDraggedBackFirst) {
  const ComparePaintLayout layout = ComputeComparePaintLayout(1320, 840);
  CompareState state;
  ASSERT_TRUE(BeginPanDrag(state, layout, 100, 300));
  // 1000 px at 250 %: the left edge reaches the pane's edge after 935 px.
  ContinuePanDrag(state, 600, 300);
  ContinuePanDrag(state, 1100, 300);
  ContinuePanDrag(state, 1300, 300);
  EXPECT_EQ(state.panX, 1200);  // stored without a limit
  const auto left = [&]() {
    return PlaceImageInPane(layout.leftPane, 1000, 200, 250, state.panX, state.panY).left;
  };
  EXPECT_EQ(left(), layout.leftPane.left);
  ContinuePanDrag(state, 1100, 300);  // 200 back: still 1000, beyond the edge
  EXPECT_EQ(left(), layout.leftPane.left);
  ContinuePanDrag(state, 900, 300);   // 800: moves again
  EXPECT_EQ(left(), layout.leftPane.left - 135);
}

// --- Navigation and the browsed list -----------------------------------------------

TEST(CompareNavigation, StepsStayInTheListAndStopAtItsEnds) {
  EXPECT_EQ(NavigationTarget(0, +1, 3), 1);
  EXPECT_EQ(NavigationTarget(1, -1, 3), 0);
  EXPECT_EQ(NavigationTarget(0, -1, 3), -1);
  EXPECT_EQ(NavigationTarget(2, +1, 3), -1);
  EXPECT_EQ(NavigationTarget(0, +1, 1), -1);
  EXPECT_EQ(NavigationTarget(0, +1, 0), -1);
  // The list shrank under the window: back into it.
  EXPECT_EQ(NavigationTarget(5, -1, 3), 2);
  EXPECT_EQ(NavigationTarget(5, +1, 3), 2);
}

ImageResult Result(const std::string& source, bool optimized, const std::string& output) {
  ImageResult result;
  result.sourcePath = source;
  result.optimized = optimized;
  result.outputPath = output;
  return result;
}

TEST(CompareBrowsedList, ResultsBeforeTheImageListAndTheSelectedRows) {
  MainWindowState main;
  main.imageList = {"/a/1.jpg", "/a/2.jpg", "/a/3.jpg", "/a/4.jpg"};
  main.selectedImageRow = 3;
  main.selectedResultRow = 1;
  EXPECT_FALSE(BrowsesResults(main));
  EXPECT_EQ(BrowsedCount(main), 4u);
  EXPECT_EQ(BrowsedEntry(main, 2).sourcePath, "/a/3.jpg");
  EXPECT_EQ(BrowsedEntry(main, 2).optimizedPath, "");
  EXPECT_EQ(ResolveCompareIndex(main, -1), 3);
  EXPECT_EQ(ResolveCompareIndex(main, 2), 2);
  main.selectedImageRow = 4;
  EXPECT_EQ(ResolveCompareIndex(main, -1), 0);

  main.results = {Result("/a/1.jpg", true, "/o/1_x.jpg"), Result("/a/2.jpg", false, "/o/stale.jpg")};
  EXPECT_TRUE(BrowsesResults(main));
  EXPECT_EQ(BrowsedCount(main), 2u);
  EXPECT_EQ(BrowsedEntry(main, 0).optimizedPath, "/o/1_x.jpg");
  // Only an optimised result has a right-hand file.
  EXPECT_EQ(BrowsedEntry(main, 1).optimizedPath, "");
  EXPECT_EQ(ResolveCompareIndex(main, -1), 1);
  main.selectedResultRow = -1;
  EXPECT_EQ(ResolveCompareIndex(main, -1), 0);
  main.selectedResultRow = 2;
  EXPECT_EQ(ResolveCompareIndex(main, -1), 0);
}

// Loading entries from real files in a private folder.
class CompareLoadTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  MainWindowState main;
  CompareState state;

  std::string WriteJpeg(const std::string& name, std::uint32_t width, std::uint32_t height) {
    const std::string path = temp.Join(name);
    EXPECT_TRUE(WriteTestJpeg(path, MakeTestPicture(width, height, width), 90));
    return path;
  }
};

TEST_F(CompareLoadTest, KeptResultShowsTheSourceOnBothSides) {
  const std::string source = WriteJpeg("quelle.jpg", 64, 48);
  main.results = {Result(source, false, "")};
  state.zoom = 300;
  state.panX = 40;
  state.panY = -7;
  ASSERT_TRUE(LoadCompareImage(state, main, 0));
  EXPECT_EQ(state.sourcePath, source);
  EXPECT_EQ(state.optimizedPath, "");
  EXPECT_EQ(state.sourceImage.width, 64u);
  EXPECT_EQ(state.optimizedImage.width, state.sourceImage.width);
  EXPECT_EQ(state.optimizedImage.pixels, state.sourceImage.pixels);
  EXPECT_EQ(state.zoom, 300);  // kept
  EXPECT_EQ(state.panX, 0);
  EXPECT_EQ(state.panY, 0);
}

TEST_F(CompareLoadTest, OptimisedResultShowsItsOwnFile) {
  const std::string source = WriteJpeg("quelle.jpg", 64, 48);
  const std::string output = WriteJpeg("quelle_hohe_qualitaet.jpg", 32, 24);
  main.results = {Result(source, true, output)};
  ASSERT_TRUE(LoadCompareImage(state, main, 0));
  EXPECT_EQ(state.optimizedPath, output);
  EXPECT_EQ(state.sourceImage.width, 64u);
  EXPECT_EQ(state.optimizedImage.width, 32u);
}

TEST_F(CompareLoadTest, UndecodableOptimisedFileFallsBackToTheSource) {
  const std::string source = WriteJpeg("quelle.jpg", 64, 48);
  const std::string output = temp.Join("kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(output, "\xff\xd8 nicht mehr"));
  main.results = {Result(source, true, output)};
  ASSERT_TRUE(LoadCompareImage(state, main, 0));
  EXPECT_EQ(state.optimizedPath, output);  // the caption still names its size
  EXPECT_EQ(state.optimizedImage.pixels, state.sourceImage.pixels);
}

TEST_F(CompareLoadTest, IndexIsClampedAndAFailedSourceEmptiesBothImages) {
  const std::string first = WriteJpeg("a.jpg", 16, 16);
  main.imageList = {first, temp.Join("fehlt.jpg")};
  ASSERT_TRUE(LoadCompareImage(state, main, -3));
  EXPECT_EQ(state.currentIndex, 0);
  EXPECT_FALSE(LoadCompareImage(state, main, 7));
  EXPECT_EQ(state.currentIndex, 1);
  EXPECT_EQ(state.sourcePath, temp.Join("fehlt.jpg"));
  EXPECT_FALSE(IsUsableImage(state.sourceImage));
  EXPECT_FALSE(IsUsableImage(state.optimizedImage));

  const MainWindowState empty;
  state.currentIndex = 1;
  EXPECT_FALSE(LoadCompareImage(state, empty, 0));
  EXPECT_EQ(state.currentIndex, 1);  // nothing touched
}

}  // namespace
