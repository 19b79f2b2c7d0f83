// The compare and guide windows' rules without a display: texts, zoom, the
// rectangles, image placement and pan limits, the visible part, navigation,
// the browsed list, loading an entry, and the guide text's place.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "imaging/decode.h"
#include "platform/files.h"
#include "tests/core/core_test_support.h"
#include "ui/compare/compare_view.h"
#include "ui/guide/guide_text.h"
#include "ui/main/main_window_state.h"

namespace {

using Quad = std::array<long long, 4>;
Quad Edges(const EdgeRect& r) { return {r.left, r.top, r.right, r.bottom}; }
template <typename Place>
Quad Box(const Place& p) { return {p.left, p.top, p.width, p.height}; }

const EdgeRect kPane{20, 86, 650, 778};  // the left pane of a 1320 x 840 client area

TEST(CompareTexts, PositionZoomTitleAndCaption) {
  EXPECT_EQ((std::vector{ComparePositionText(2, 12), ComparePositionText(0, 0), CompareZoomText(250),
                         CompareWindowTitle(""), CompareWindowTitle("/fotos/Urlaub 2024/strand.jpg")}),
            (std::vector<std::string>{"Bild 3 von 12", "Kein Bild", "Zoom: 250 %",
                                      "Bildvergleich \u2013 Orvel JPEG Optimizer",
                                      "Bildvergleich \u2013 strand.jpg \u2013 Orvel JPEG Optimizer"}));
  EXPECT_EQ(CompareCaption("/a/b.jpg", 1536, "/out/b_hohe_qualitaet.jpg", 1000, true),
            "b.jpg   |   Original: 1.50 KB   \u2192   Optimiert: 1000 B");
  EXPECT_EQ(CompareCaption("/a/b.jpg", 1536, "", 0, true),
            "b.jpg   |   Original: 1.50 KB   |   Keine kleinere Variante \u2013 Original beibehalten");
  // Before any batch the image list is browsed: no verdict.
  EXPECT_EQ(CompareCaption("/a/b.jpg", 0, "", 0, false), "b.jpg   |   Original: 0 B");
}

TEST(CompareTexts, ControlsEnabledOnlyWhereThereIsAStep) {
  struct Case { int index, count; bool previous, next; };
  for (const Case c : {Case{0, 3, false, true}, Case{2, 3, true, false}, Case{0, 1, false, false},
                       Case{0, 0, false, false}}) {
    CompareState state;
    state.currentIndex = c.index;
    state.zoom = 375;
    const CompareControlsView view = ComputeCompareControls(state, c.count);
    EXPECT_EQ(std::pair(view.previousEnabled, view.nextEnabled), std::pair(c.previous, c.next))
        << c.index << " of " << c.count;
    EXPECT_EQ(std::pair(view.zoomText, view.trackbarPosition), std::pair(std::string("Zoom: 375 %"), 375));
  }
}

TEST(CompareZoom, WheelStepsOf25WithinTheRange) {
  EXPECT_EQ((std::array{WheelZoom(100, 120), WheelZoom(790, 120), WheelZoom(800, 120), WheelZoom(100, -120),
                         WheelZoom(225, -1), ClampZoom(50), ClampZoom(1000), ClampZoom(433)}),
            (std::array{125, 800, 800, 100, 200, 100, 800, 433}));
}

TEST(CompareGeometry, ControlsLabelsPanesAndCaption) {
  const CompareControlLayout controls = LayoutCompareControls(1305);  // centred on 652
  EXPECT_EQ((std::vector{Box(controls.previousButton), Box(controls.positionLabel), Box(controls.nextButton),
                         Box(controls.zoomLabel), Box(controls.zoomTrackbar)}),
            (std::vector<Quad>{{322, 12, 46, 34}, {377, 17, 150, 26}, {536, 12, 46, 34}, {602, 17, 105, 26},
                               {714, 14, 270, 34}}));
  const ComparePaintLayout layout = ComputeComparePaintLayout(1320, 840);
  EXPECT_EQ((std::vector{Edges(layout.originalLabel), Edges(layout.optimizedLabel), Edges(layout.leftPane),
                         Edges(layout.rightPane), Edges(layout.caption)}),
            (std::vector<Quad>{{20, 52, 650, 82}, {670, 52, 1300, 82}, Edges(kPane), {670, 86, 1300, 778},
                               {20, 792, 1300, 828}}));
  // The right edge, the gap between the panes and the control row are outside.
  EXPECT_EQ((std::array{InsideComparePane(layout, 20, 86), InsideComparePane(layout, 650, 300),
                        InsideComparePane(layout, 660, 300), InsideComparePane(layout, 1299, 777),
                        InsideComparePane(layout, 700, 30)}),
            (std::array{true, false, false, true, false}));
}

Quad Drawn(const DrawnImage& d) { return {d.left, d.top, d.width, d.height}; }

TEST(CompareDrawing, CentredWherePossibleAndStoppedAtThePaneEdges) {
  // A small image at full size is centred and ignores the pan.
  const Quad small{20 + (630 - 301) / 2, 86 + (692 - 200) / 2, 301, 200};
  EXPECT_EQ(Drawn(PlaceImageInPane(kPane, 301, 200, 100, 0, 0)), small);
  EXPECT_EQ(Drawn(PlaceImageInPane(kPane, 301, 200, 100, 400, -900)), small);
  // 1000 pixels at 250 %: centred vertically whatever the pan; dragged far
  // to either side an edge stops at the pane's edge.
  EXPECT_EQ(Drawn(PlaceImageInPane(kPane, 1000, 200, 250, 0, 300)),
            (Quad{20 + (630 - 2500) / 2, 86 + (692 - 500) / 2, 2500, 500}));
  EXPECT_EQ((std::array<long long, 3>{PlaceImageInPane(kPane, 1000, 200, 250, 100000, 0).left,
                        PlaceImageInPane(kPane, 1000, 200, 250, 935, 0).left,
                        PlaceImageInPane(kPane, 1000, 200, 250, 934, 0).left}),
            (std::array<long long, 3>{kPane.left, kPane.left, kPane.left - 1}));
  const DrawnImage left = PlaceImageInPane(kPane, 1000, 200, 250, -100000, 0);
  EXPECT_EQ(left.left + left.width, kPane.right);
  // (631 - 2500) / 2 = -934.5 is truncated to -934, not floored; sizes are
  // rounded (333 * 2.25 = 749.25, 334 * 2.25 = 751.5) and at least 1.
  const EdgeRect odd{0, 0, 631, 100};
  EXPECT_EQ((Quad{PlaceImageInPane(odd, 1000, 10, 250, 0, 0).left, PlaceImageInPane(odd, 333, 10, 225, 0, 0).width,
                  PlaceImageInPane(odd, 334, 10, 225, 0, 0).width, PlaceImageInPane(odd, 1, 1, 100, 0, 0).width}),
            (Quad{-934, 749, 752, 1}));
}

TEST(CompareDrawing, VisiblePartAt800PerCentIsSmallAndLandsWhereTheImageIsDrawn) {
  const DrawnImage wide = PlaceImageInPane(kPane, 400000000u, 1, 800, 0, 0);  // no overflow
  EXPECT_EQ(wide.width, 3200000000LL);
  EXPECT_EQ(wide.left, 20 + (630 - 3200000000LL) / 2);
  EXPECT_LE(ComputeVisiblePart(kPane, wide, 400000000u, 1).sourceWidth, 630 / 8 + 4);

  const DrawnImage drawn = PlaceImageInPane(kPane, 6000, 4000, 800, 1234, -567);
  const VisiblePart part = ComputeVisiblePart(kPane, drawn, 6000, 4000);
  ASSERT_FALSE(part.empty);
  // 630 x 692 pane pixels come from about 79 x 87 source pixels.
  EXPECT_LE(part.sourceWidth, 630 / 8 + 4);
  EXPECT_LE(part.sourceHeight, 692 / 8 + 4);
  EXPECT_TRUE(part.sourceLeft >= 0 && part.sourceLeft + part.sourceWidth <= 6000 &&
              part.sourceTop + part.sourceHeight <= 4000);
  // It covers the whole pane and agrees with the drawn position of the whole image.
  EXPECT_TRUE(part.targetLeft <= kPane.left && part.targetTop <= kPane.top &&
              part.targetLeft + part.targetWidth >= kPane.right && part.targetTop + part.targetHeight >= kPane.bottom);
  EXPECT_DOUBLE_EQ(part.targetLeft, drawn.left + part.sourceLeft * 8.0);
  EXPECT_DOUBLE_EQ(part.targetTop, drawn.top + part.sourceTop * 8.0);
  EXPECT_DOUBLE_EQ(part.targetWidth, part.sourceWidth * 8.0);
  // A window too small for any pane: its bottom lies above its top.
  const EdgeRect none{20, 86, 90, 40};
  EXPECT_TRUE(ComputeVisiblePart(none, PlaceImageInPane(none, 500, 500, 100, 0, 0), 500, 500).empty);
}

TEST(ComparePanning, ExcessBeyondTheEdgeMustBeDraggedBackFirst) {
  const ComparePaintLayout layout = ComputeComparePaintLayout(1320, 840);
  CompareState state;
  ASSERT_TRUE(BeginPanDrag(state, layout, 100, 300));
  // 1000 px at 250 %: the left edge reaches the pane's edge after 935 px.
  for (int x : {600, 1100, 1300}) ContinuePanDrag(state, x, 300);
  EXPECT_EQ(state.panX, 1200);  // stored without a limit
  const auto left = [&]() { return PlaceImageInPane(layout.leftPane, 1000, 200, 250, state.panX, 0).left; };
  EXPECT_EQ(left(), layout.leftPane.left);
  ContinuePanDrag(state, 1100, 300);  // 200 back: still 1000, beyond the edge
  EXPECT_EQ(left(), layout.leftPane.left);
  ContinuePanDrag(state, 900, 300);   // 800: moves again
  EXPECT_EQ(left(), layout.leftPane.left - 135);
  EXPECT_TRUE(EndPanDrag(state));
  EXPECT_FALSE(EndPanDrag(state));
  EXPECT_FALSE(ContinuePanDrag(state, 900, 200));
}

TEST(CompareNavigation, StepsStayInTheListAndStopAtItsEnds) {
  struct Case { int index, step, count, target; };
  for (const Case c : {Case{0, +1, 3, 1}, Case{1, -1, 3, 0}, Case{0, -1, 3, -1}, Case{2, +1, 3, -1},
                       Case{0, +1, 1, -1}, Case{0, +1, 0, -1},
                       Case{5, -1, 3, 2}, Case{5, +1, 3, 2}}) {  // the list shrank: back into it
    EXPECT_EQ(NavigationTarget(c.index, c.step, c.count), c.target) << c.index << c.step << c.count;
  }
}

TEST(CompareBrowsedList, ResultsBeforeTheImageListAndTheSelectedRows) {
  MainWindowState main;
  main.imageList = {"/a/1.jpg", "/a/2.jpg", "/a/3.jpg", "/a/4.jpg"};
  main.selectedImageRow = 3;
  main.selectedResultRow = 1;
  EXPECT_EQ(std::tuple(BrowsesResults(main), BrowsedCount(main), BrowsedEntry(main, 2).sourcePath,
                       BrowsedEntry(main, 2).optimizedPath),
            std::tuple(false, std::size_t{4}, std::string("/a/3.jpg"), std::string()));
  EXPECT_EQ(std::pair(ResolveCompareIndex(main, -1), ResolveCompareIndex(main, 2)), std::pair(3, 2));
  main.selectedImageRow = 4;
  EXPECT_EQ(ResolveCompareIndex(main, -1), 0);

  main.results = {{.sourcePath = "/a/1.jpg", .outputPath = "/o/1_x.jpg", .optimized = true},
                  {.sourcePath = "/a/2.jpg", .outputPath = "/o/stale.jpg"}};
  // Only an optimised result has an optimised path.
  EXPECT_EQ(std::tuple(BrowsesResults(main), BrowsedCount(main), BrowsedEntry(main, 0).optimizedPath,
                       BrowsedEntry(main, 1).optimizedPath),
            std::tuple(true, std::size_t{2}, std::string("/o/1_x.jpg"), std::string()));
  std::vector<int> resolved;
  for (int row : {1, -1, 2}) resolved.push_back((main.selectedResultRow = row, ResolveCompareIndex(main, -1)));
  EXPECT_EQ(resolved, (std::vector<int>{1, 0, 0}));
}

TEST(CompareLoad, KeptOptimisedAndUndecodableOutputsAndAMissingSource) {
  ScopedTempFolder temp;
  const auto jpeg = [&](const char* name, std::uint32_t width, std::uint32_t height) {
    EXPECT_TRUE(WriteTestJpeg(temp.Join(name), MakeTestPicture(width, height, width), 90));
    return temp.Join(name);
  };
  const std::string source = jpeg("quelle.jpg", 64, 48), output = jpeg("quelle_hoch.jpg", 32, 24);
  const std::string broken = temp.Join("kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "\xff\xd8 nicht mehr"));
  MainWindowState main;
  main.results = {{.sourcePath = source},
                  {.sourcePath = source, .outputPath = output, .optimized = true},
                  {.sourcePath = source, .outputPath = broken, .optimized = true}};
  // Kept: the source on both sides; the zoom stays, the pan is reset.
  CompareState state;
  state.zoom = 300;
  state.panX = 40;
  state.panY = -7;
  ASSERT_TRUE(LoadCompareImage(state, main, 0));
  EXPECT_EQ(std::tuple(state.sourcePath, state.optimizedPath, state.sourceImage.width),
            std::tuple(source, std::string(), 64u));
  EXPECT_EQ(state.optimizedImage.pixels, state.sourceImage.pixels);
  EXPECT_EQ((std::array{state.zoom, state.panX, state.panY}), (std::array{300, 0, 0}));
  ASSERT_TRUE(LoadCompareImage(state, main, 1));
  EXPECT_EQ(std::pair(state.optimizedPath, state.optimizedImage.width), std::pair(output, 32u));
  // An undecodable output falls back to the source; the caption still names its size.
  ASSERT_TRUE(LoadCompareImage(state, main, 2));
  EXPECT_EQ(state.optimizedPath, broken);
  EXPECT_EQ(state.optimizedImage.pixels, state.sourceImage.pixels);

  // The index is clamped; a source that fails empties both images.
  main.results.clear();
  main.imageList = {source, temp.Join("fehlt.jpg")};
  ASSERT_TRUE(LoadCompareImage(state, main, -3));
  EXPECT_EQ(state.currentIndex, 0);
  EXPECT_FALSE(LoadCompareImage(state, main, 7));
  EXPECT_EQ(state.currentIndex, 1);
  EXPECT_EQ(state.sourcePath, temp.Join("fehlt.jpg"));
  EXPECT_FALSE(IsUsableImage(state.sourceImage) || IsUsableImage(state.optimizedImage));
  EXPECT_FALSE(LoadCompareImage(state, MainWindowState{}, 0));
  EXPECT_EQ(state.currentIndex, 1);  // nothing touched
}

TEST(GuideTextPlace, FillsTheClientAreaLessSixteenPixelsAndKeeps100) {
  EXPECT_EQ((std::vector{Box(PlaceGuideText(1044, 761)), Box(PlaceGuideText(132, 132)),
                         Box(PlaceGuideText(131, 40)), Box(PlaceGuideText(0, 0)), Box(PlaceGuideText(133, 500))}),
            (std::vector<Quad>{{16, 16, 1012, 729}, {16, 16, 100, 100}, {16, 16, 100, 100}, {16, 16, 100, 100},
                               {16, 16, 101, 468}}));
}

}  // namespace
