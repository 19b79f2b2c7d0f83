// The compare and guide windows' rules without a display: texts, zoom, the
// rectangles, image placement and pan limits, the visible part, navigation,
// the browsed list, loading an entry, and the guide text's place.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
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
            "b.jpg   |   Original: 1.50 KB   \u2192   Optimiert: 1000 B (34.9 % kleiner)");
  EXPECT_EQ(CompareCaption("/a/b.jpg", 1536, "", 0, true),
            "b.jpg   |   Original: 1.50 KB   |   Keine kleinere Variante \u2013 Original beibehalten");
  // A kept original says why it was kept.
  EXPECT_EQ(CompareCaption("/a/b.jpg", 1536, "", 0, true, "", kVerdictGateFailed),
            std::string("b.jpg   |   Original: 1.50 KB   |   ") + kVerdictGateFailed);
  // Before any batch the image list is browsed: no verdict.
  EXPECT_EQ(CompareCaption("/a/b.jpg", 0, "", 0, false), "b.jpg   |   Original: 0 B");
}

// The window test steps through a list of three; here the lists without a step.
TEST(CompareTexts, ControlsWithoutAStepAndTheZoom) {
  const CompareState state{.zoom = 375};
  for (const int count : {1, 0}) {
    const CompareControlsView v = ComputeCompareControls(state, count);
    EXPECT_EQ(std::tuple(v.previousEnabled, v.nextEnabled, v.zoomText, v.trackbarPosition),
              std::tuple(false, false, std::string("Zoom: 375 %"), 375)) << count;
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
                               {20, 788, 1300, 809}}));
  EXPECT_EQ(Edges(layout.hint), (Quad{20, 811, 1300, 832}));
  // The right edge, the gap between the panes and the control row are outside.
  EXPECT_EQ((std::array{InsideComparePane(layout, 20, 86), InsideComparePane(layout, 650, 300),
                        InsideComparePane(layout, 660, 300), InsideComparePane(layout, 1299, 777),
                        InsideComparePane(layout, 700, 30)}),
            (std::array{true, false, false, true, false}));
}

TEST(CompareDrawing, CentredWherePossibleAndStoppedAtThePaneEdges) {
  // A small image at full size is centred and ignores the pan.
  const Quad small{20 + (630 - 301) / 2, 86 + (692 - 200) / 2, 301, 200};
  EXPECT_EQ(Box(PlaceImageInPane(kPane, 301, 200, 100, 0, 0)), small);
  EXPECT_EQ(Box(PlaceImageInPane(kPane, 301, 200, 100, 400, -900)), small);
  // 1000 pixels at 250 %: centred vertically whatever the pan; dragged far
  // to either side an edge stops at the pane's edge.
  EXPECT_EQ(Box(PlaceImageInPane(kPane, 1000, 200, 250, 0, 300)),
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

  main.results = {{.sourcePath = "/a/1.jpg", .outputPath = "/o/1_x.jpg", .optimized = true, .message = "ok"},
                  {.sourcePath = "/a/2.jpg", .outputPath = "/o/stale.jpg", .message = kVerdictGateFailed},
                  {.sourcePath = "/a/3.jpg", .message = "kaputt", .failed = true}};
  // Only an optimised result has an optimised path; only a kept one a kept text.
  EXPECT_EQ(std::tuple(BrowsesResults(main), BrowsedCount(main), BrowsedEntry(main, 0).optimizedPath,
                       BrowsedEntry(main, 1).optimizedPath),
            std::tuple(true, std::size_t{3}, std::string("/o/1_x.jpg"), std::string()));
  EXPECT_EQ((std::vector{BrowsedEntry(main, 0).keptText, BrowsedEntry(main, 1).keptText,
                         BrowsedEntry(main, 2).keptText, BrowsedEntry(main, 2).failureText}),
            (std::vector<std::string>{"", kVerdictGateFailed, "", "kaputt"}));
  std::vector<int> resolved;
  for (int row : {1, -1, 3}) resolved.push_back((main.selectedResultRow = row, ResolveCompareIndex(main, -1)));
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
  CompareState state{.zoom = 300, .panX = 40, .panY = -7};
  const auto label = [&]() { return CompareResultPaneLabel(state, !main.results.empty()); };
  ASSERT_TRUE(LoadCompareImage(state, main, 0));
  EXPECT_EQ(label(), "Original (beibehalten)");
  EXPECT_EQ(std::tuple(state.sourcePath, state.optimizedPath, state.sourceImage.width),
            std::tuple(source, std::string(), 64u));
  EXPECT_EQ(state.optimizedImage.pixels, state.sourceImage.pixels);
  EXPECT_EQ((std::array{state.zoom, state.panX, state.panY}), (std::array{300, 0, 0}));
  ASSERT_TRUE(LoadCompareImage(state, main, 1));
  EXPECT_EQ(std::pair(state.optimizedPath, state.optimizedImage.width), std::pair(output, 32u));
  EXPECT_EQ(label(), "Optimiert");
  // An undecodable output falls back to the source; the caption still names its size.
  ASSERT_TRUE(LoadCompareImage(state, main, 2));
  EXPECT_EQ(state.optimizedPath, broken);
  EXPECT_EQ(state.optimizedImage.pixels, state.sourceImage.pixels);
  EXPECT_EQ(label(), "Original (Ergebnis nicht lesbar)");

  // The index is clamped; a source that fails empties both images.
  main.results.clear();
  main.imageList = {source, temp.Join("fehlt.jpg")};
  ASSERT_TRUE(LoadCompareImage(state, main, -3));
  EXPECT_EQ(state.currentIndex, 0);
  EXPECT_EQ(label(), "Original (noch nicht optimiert)");
  EXPECT_FALSE(LoadCompareImage(state, main, 7));
  EXPECT_EQ(label(), "Kein Ergebnis");
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

// --- Fit zoom and the quality map -----------------------------------------------------

namespace {

// A result of profile 5 for a 300 x 128 image: 4 x 2 windows, origins x 0,
// 61, 122, 173 and y 0, 1.
ImageResult MapResult(std::vector<double> scores) {
  return ImageResult{.sourcePath = "/a/b.jpg", .profileLabel = ProfileAt(5).label,
                     .windowScores = std::move(scores), .analysedWidth = 300, .analysedHeight = 128};
}

}  // namespace

TEST(CompareFit, WholeImageInThePaneNeverEnlargedAndCountedInDevicePixels) {
  struct Case { std::uint32_t width, height; bool fit; int zoom; double ratio; long long drawnWidth; int shown; };
  for (const Case c : {Case{6300, 4000, true, 400, 1, 630, 10}, Case{6300, 4000, true, 400, 2, 630, 20},
                       Case{400, 3000, true, 100, 1, 92, 23}, Case{301, 200, true, 800, 1, 301, 100},
                       Case{301, 200, true, 100, 2, 151, 100},  // 100 % of device pixels: half as many logical
                       Case{301, 200, false, 100, 2, 151, 100}, Case{301, 200, false, 800, 2, 1204, 800}}) {
    const CompareState state{.zoom = c.zoom, .fitZoom = c.fit};
    const double scale = PaneScale(state, kPane, c.width, c.height, c.ratio);
    EXPECT_EQ(PlaceImageScaled(kPane, c.width, c.height, scale, 500, 500).width, c.drawnWidth) << c.width;
    EXPECT_EQ(ShownZoomPercent(scale, c.ratio), c.shown) << c.width << " " << c.ratio;
  }
  // Smoothed only between the sharp 100 % and 200 %, and when reduced.
  EXPECT_EQ((std::array{DrawsSharpPixels(1, 1), DrawsSharpPixels(0.5, 2), DrawsSharpPixels(1.5, 1),
                        DrawsSharpPixels(1, 2), DrawsSharpPixels(0.105, 1), DrawsSharpPixels(8, 1)}),
            (std::array{true, true, false, true, false, true}));
  EXPECT_EQ((std::array{WheelZoomFromFit(11, 120), WheelZoomFromFit(11, -120), WheelZoomFromFit(100, 120)}),
            (std::array{100, 0, 125}));
  CompareState state{.zoom = 300, .panX = 9};
  EXPECT_FALSE(ToggleFitZoom(state));  // nothing loaded
  state.sourceImage = MakeTestPicture(8, 8, 1);
  ASSERT_TRUE(ToggleFitZoom(state));
  EXPECT_EQ(std::tuple(state.fitZoom, state.panX, ComputeCompareControls(state, 1, 11).zoomText),
            std::tuple(true, 0, std::string("Einpassen: 11 %")));
  ToggleFitZoom(state);
  EXPECT_EQ(std::tuple(state.fitZoom, state.zoom), std::tuple(false, 300));
}

TEST(QualityMapTest, ComesOnlyFromScoresThatFitTheImage) {
  ImageResult failed = MapResult(std::vector<double>(8, 0.9));
  failed.failed = true;
  ImageResult unknownProfile = MapResult(std::vector<double>(8, 0.9));
  unknownProfile.profileLabel = "Eigenes Profil";
  for (const ImageResult& none : {MapResult({}), MapResult(std::vector<double>(7, 0.9)), failed, unknownProfile}) {
    EXPECT_FALSE(HasQualityMap(QualityMapFor(none)));
  }
  ImageResult written = MapResult(std::vector<double>(8, 0.9));
  written.optimized = true;
  const QualityMap map = QualityMapFor(written);
  ASSERT_TRUE(HasQualityMap(map));
  EXPECT_EQ(std::tuple(map.minWorst5, map.minWorst, map.rejected, map.windows[5].x0, map.windows[5].y0),
            std::tuple(0.855, 0.82, false, 61u, 1u));
  EXPECT_TRUE(QualityMapFor(MapResult(std::vector<double>(8, 0.9))).rejected);
}

TEST(QualityMapTest, TintClearAtTheWorst5LimitYellowTowardsTheWorstLimitRedBelow) {
  struct Case { double score; int alpha, green; };  // red 255 (yellow) or 225 (red) when alpha > 0
  for (const Case c : {Case{0.95, 0, 0}, Case{0.855, 0, 0}, Case{0.8549, 70, 225}, Case{0.837, 118, 185},
                       Case{0.8201, 154, 155}, Case{0.82, 165, 30}, Case{0.1, 165, 30}, Case{std::nan(""), 165, 30}}) {
    const MapTint tint = TintForScore(c.score, 0.855, 0.82);
    EXPECT_EQ(tint.alpha, c.alpha) << c.score;
    if (c.alpha > 0) { EXPECT_EQ(tint.green, c.green) << c.score; }
  }
}

TEST(QualityMapTest, CellsTakeTheWeakestCoveringWindowAndTheWorstOrderKeepsTies) {
  // Window 5 (x 61..188, y 1..128) lies below the worst limit.
  std::vector<double> scores(8, 0.95);
  scores[5] = 0.5;
  scores[2] = 0.84;
  const QualityMap map = QualityMapFor(MapResult(scores));
  const MapCells cells = BuildMapCells(map);
  EXPECT_EQ(cells.xEdges, (std::vector<std::uint32_t>{0, 61, 122, 127, 173, 188, 249, 300}));
  EXPECT_EQ(cells.yEdges, (std::vector<std::uint32_t>{0, 1, 127, 128}));
  const auto alphaAt = [&](std::size_t column, std::size_t row) { return cells.tints[row * 7 + column].alpha; };
  // Row 0 (y 0..1) holds only windows 0..3: window 2 tints x 122..249 yellow.
  const int yellow = TintForScore(0.84, 0.855, 0.82).alpha;
  EXPECT_EQ((std::array<int, 5>{alphaAt(0, 0), alphaAt(1, 0), alphaAt(2, 0), alphaAt(5, 0), alphaAt(6, 0)}),
            (std::array<int, 5>{0, 0, yellow, yellow, 0}));
  // Rows below: window 5's cells (x 61..188) are red, also where window 2
  // overlaps it; in the last row only the lower windows count.
  EXPECT_EQ((std::array<int, 6>{alphaAt(0, 1), alphaAt(1, 1), alphaAt(4, 1), alphaAt(5, 1), alphaAt(4, 2), alphaAt(5, 2)}),
            (std::array<int, 6>{0, 165, 165, yellow, 165, 0}));
  EXPECT_TRUE(BuildMapCells(QualityMap{}).tints.empty());

  EXPECT_EQ(WorstWindowOrder({0.9, 0.8, 0.9, 0.7, std::nan(""), 0.8}),
            (std::vector<std::size_t>{4, 3, 1, 5, 0, 2}));
}

TEST(QualityMapTest, WindowsLandOnTheirPixelsAtEveryZoomAndPan) {
  // Window x 61..188, y 122..249 of a 1000 x 800 image in the 630 x 692 pane.
  struct Case { int zoom; int panX, panY; double ratio; ScreenRect at; };
  for (const Case c : {Case{100, 0, 0, 1, {-165 + 61, 32 + 122, 127, 127}},  // centred, larger than the pane
                       Case{200, 0, 0, 1, {-665 + 122, 86 - 454 + 244, 254, 254}},
                       Case{200, 300, -200, 1, {-365 + 122, 86 - 654 + 244, 254, 254}},
                       Case{800, 100000, 100000, 1, {20 + 488, 86 + 976, 1016, 1016}},  // stopped at the edges
                       Case{200, 0, 0, 2, {-165 + 61, 32 + 122, 127, 127}},  // 200 % at scale 2 is 100 % logical
                       Case{250, 0, 0, 1, {20 + (630 - 2500) / 2 + 152.5, 86 + (692 - 2000) / 2 + 305, 317.5, 317.5}}}) {
    const CompareState state{.zoom = c.zoom, .panX = c.panX, .panY = c.panY};
    const DrawnImage drawn = PlaceImageScaled(kPane, 1000, 800, PaneScale(state, kPane, 1000, 800, c.ratio),
                                              state.panX, state.panY);
    const ScreenRect r = ImageRectOnScreen(drawn, 1000, 800, 61, 122, 188, 249);
    EXPECT_EQ((std::array{r.left, r.top, r.width, r.height}),
              (std::array{c.at.left, c.at.top, c.at.width, c.at.height})) << c.zoom << " " << c.ratio;
  }
}

TEST(QualityMapTest, WSentresEachWindowFromTheWorstUpAtAboutAThirdOfThePane) {
  // 6000 x 4000: 98 x 65 windows; the worst three in the middle, at a
  // corner, and next to the middle.
  const std::vector<AnalysisWindow> windows = AnalysisWindows(6000, 4000);
  std::vector<double> scores(windows.size(), 0.97);
  const std::size_t middle = 32 * 98 + 49, corner = windows.size() - 1;
  scores[middle] = 0.8731;
  scores[corner] = 0.9;
  scores[middle + 1] = 0.91;
  CompareState state;
  state.qualityMap = QualityMap{6000, 4000, windows, scores, 0.942, 0.93, false};
  state.worstOrder = WorstWindowOrder(scores);
  state.showsOptimized = true;
  for (const double ratio : {1.0, 2.0}) {
    state.worstStep = -1;
    for (const std::size_t expected : {middle, corner, middle + 1}) {
      ASSERT_TRUE(StepWorstWindow(state, kPane, ratio));
      const DrawnImage drawn = PlaceImageScaled(kPane, 6000, 4000, PaneScale(state, kPane, 6000, 4000, ratio),
                                                state.panX, state.panY);
      const AnalysisWindow& w = windows[expected];
      const ScreenRect r = ImageRectOnScreen(drawn, 6000, 4000, w.x0, w.y0, w.x1, w.y1);
      const double third = r.width / 630;  // the same share in device pixels
      EXPECT_TRUE(third > 0.3 && third < 0.38) << third;
      EXPECT_TRUE(r.left >= kPane.left && r.top >= kPane.top && r.left + r.width <= kPane.right &&
                  r.top + r.height <= kPane.bottom) << expected;
      if (expected != corner) {
        EXPECT_NEAR(r.left + r.width / 2, (kPane.left + kPane.right) / 2.0, 1.0);
        EXPECT_NEAR(r.top + r.height / 2, (kPane.top + kPane.bottom) / 2.0, 1.0);
      }
    }
  }
  EXPECT_EQ(CompareResultPaneLabel(state, true),
            "Optimiert \u2013 3. schlechtestes Fenster: 0.910 bei x 3050, y 1952");
  state.worstStep = -1;
  StepWorstWindow(state, kPane, 1);
  EXPECT_EQ(CompareResultPaneLabel(state, true),
            "Optimiert \u2013 Schlechtestes Fenster: 0.873 bei x 2989, y 1952");
  // No map (a failed image, the image list): W and Q do nothing.
  CompareState none{.zoom = 300};
  EXPECT_FALSE(StepWorstWindow(none, kPane, 1) || ToggleQualityMap(none));
  EXPECT_EQ(std::tuple(none.zoom, none.worstStep, none.qualityMapShown), std::tuple(300, -1, false));
}
