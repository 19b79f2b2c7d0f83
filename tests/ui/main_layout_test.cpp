// Tests of the main window's geometry: control layout, decoration and the
// preview placement, against the figures the window is drawn from.
#include "ui/main/main_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Quads = std::vector<std::array<int, 4>>;  // x, y, width, height of each rectangle
Quads Rects(std::initializer_list<PixelRect> rects) {
  Quads quads;
  for (const PixelRect& r : rects) quads.push_back({r.x, r.y, r.width, r.height});
  return quads;
}

TEST(MainLayoutTest, ClientAreaOf1364By741) {
  const MainWindowLayout l = LayoutMainWindow(1364, 741);
  EXPECT_EQ((std::array{l.columns.left, l.columns.middle, l.columns.right, l.columns.height, l.columns.rightX}),
            (std::array{374, 465, 453, 585, 907}));
  EXPECT_EQ(Rects({l.startButton, l.imageList, l.previewPane, l.outputFolderEdit, l.chooseButton,
                   l.liveStatusText, l.progressBar, l.resultsList, l.statusBar}),
            (Quads{{907, 248, 421, 54}, {34, 170, 346, 465}, {424, 170, 437, 425}, {907, 198, 303, 32},
                   {1220, 198, 108, 32}, {907, 336, 421, 132}, {907, 476, 421, 18}, {907, 526, 421, 153},
                   {0, 715, 1364, 26}}));
  // A taller live-status box takes from the results list, which keeps 100.
  EXPECT_EQ((std::array{LiveStatusGrowth(741, 100), LiveStatusGrowth(741, 150), LiveStatusGrowth(741, 400),
                        LiveStatusGrowth(300, 400)}),
            (std::array{0, 18, 53, 0}));
  const MainWindowLayout grown = LayoutMainWindow(1364, 741, 53);
  EXPECT_EQ(Rects({grown.liveStatusText, grown.progressBar, grown.resultsList}),
            (Quads{{907, 336, 421, 185}, {907, 529, 421, 18}, {907, 579, 421, 100}}));
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 741, 53).resultsCaption.y, 555);
}

TEST(MainLayoutTest, SmallClientAreasKeepTheColumnMinimums) {
  for (const int width : {600, 71, 0}) {
    const MainWindowLayout l = LayoutMainWindow(width, 300);
    EXPECT_EQ((std::array{l.columns.left, l.columns.middle, l.columns.right, l.columns.height,
                          l.resultsList.height}),
              (std::array{300, 330, 300, 450, 100})) << width;
  }
  // The status bar follows the real client area even when the columns do not.
  EXPECT_EQ(Rects({LayoutMainWindow(600, 300).statusBar}), (Quads{{0, 274, 600, 26}}));
}

TEST(MainLayoutTest, DecorationFollowsTheColumns) {
  const MainWindowDecoration d = ComputeMainWindowDecoration(1364, 741);
  EXPECT_EQ(Rects({d.headerBand, d.accentLine, d.cards[0], d.cards[1], d.cards[2], d.captionStrips[0],
                   d.captionStrips[1], d.captionStrips[2]}),
            (Quads{{0, 0, 1364, 88}, {0, 84, 1364, 4}, {20, 112, 374, 585}, {410, 112, 465, 585},
                   {891, 112, 453, 585}, {30, 122, 354, 38}, {420, 122, 445, 38}, {901, 122, 433, 38}}));
  EXPECT_EQ((std::array{d.cardBottom, d.cardCaptions[1].x, d.cardCaptions[2].x, d.cardCaptions[2].y,
                        d.stackHint.y, d.outputCaption.x, d.liveStatusCaption.y, d.resultsCaption.y}),
            (std::array{697, 430, 911, 131, 667, 907, 314, 502}));
  // Short windows keep the cards at least down to 562.
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 500).cardBottom, 562);
}

TEST(PreviewPlacementTest, SmallImagesAreEnlargedLargeOnesReducedToTheLimitingSide) {
  const PreviewPlacement small = PlacePreviewImage(420, 360, 100, 50);
  EXPECT_EQ(Rects({small.image, small.imageArea, small.caption, PlacePreviewImage(420, 360, 4000, 1000).image,
                   PlacePreviewImage(420, 360, 1000, 3080).image, PreviewHintRect(420, 360)}),
            (Quads{{10, 64, 400, 200}, {10, 10, 400, 308}, {12, 326, 396, 26}, {10, 114, 400, 100},
                   {160, 10, 100, 308}, {14, 22, 392, 100}}));
  // A sliver never vanishes.
  const PreviewPlacement sliver = PlacePreviewImage(420, 360, 1, 100000);
  EXPECT_EQ(sliver.image.width, 1);
  EXPECT_EQ(sliver.image.height, 308);
}

}  // namespace
