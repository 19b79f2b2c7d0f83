// Tests of the main window's geometry: control layout, decoration and the
// preview placement, against the figures the window is drawn from.
#include "ui/main/main_layout.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Quad = std::array<int, 4>;
Quad R(const PixelRect& r) { return {r.x, r.y, r.width, r.height}; }

TEST(MainLayoutTest, ClientAreaOf1364By741) {
  const MainWindowLayout layout = LayoutMainWindow(1364, 741);
  const auto& columns = layout.columns;
  EXPECT_EQ((std::array{columns.left, columns.middle, columns.right, columns.height, columns.rightX}),
            (std::array{374, 465, 453, 585, 907}));
  EXPECT_EQ(R(layout.startButton), (Quad{907, 248, 421, 54}));
  EXPECT_EQ(R(layout.imageList), (Quad{34, 170, 346, 465}));
  EXPECT_EQ(R(layout.previewPane), (Quad{424, 170, 437, 425}));
  EXPECT_EQ(R(layout.outputFolderEdit), (Quad{907, 198, 303, 32}));
  EXPECT_EQ(R(layout.chooseButton), (Quad{1220, 198, 108, 32}));
  EXPECT_EQ(R(layout.liveStatusText), (Quad{907, 336, 421, 132}));
  EXPECT_EQ(R(layout.progressBar), (Quad{907, 476, 421, 18}));
  EXPECT_EQ(R(layout.resultsList), (Quad{907, 526, 421, 153}));
  EXPECT_EQ(R(layout.statusBar), (Quad{0, 715, 1364, 26}));

  // A taller live-status box takes from the results list, which keeps 100.
  EXPECT_EQ(LiveStatusGrowth(741, 100), 0);
  EXPECT_EQ(LiveStatusGrowth(741, 150), 18);
  EXPECT_EQ(LiveStatusGrowth(741, 400), 53);
  EXPECT_EQ(LiveStatusGrowth(300, 400), 0);
  const MainWindowLayout grown = LayoutMainWindow(1364, 741, 53);
  EXPECT_EQ(R(grown.liveStatusText), (Quad{907, 336, 421, 185}));
  EXPECT_EQ(R(grown.progressBar), (Quad{907, 529, 421, 18}));
  EXPECT_EQ(R(grown.resultsList), (Quad{907, 579, 421, 100}));
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 741, 53).resultsCaption.y, 555);
}

TEST(MainLayoutTest, SmallClientAreasKeepTheColumnMinimums) {
  for (const int width : {600, 71, 0}) {
    const MainWindowLayout layout = LayoutMainWindow(width, 300);
    const auto& columns = layout.columns;
    EXPECT_EQ((std::array{columns.left, columns.middle, columns.right, columns.height,
                          layout.resultsList.height}),
              (std::array{300, 330, 300, 450, 100})) << width;
  }
  // The status bar follows the real client area even when the columns do not.
  EXPECT_EQ(R(LayoutMainWindow(600, 300).statusBar), (Quad{0, 274, 600, 26}));
}

TEST(MainLayoutTest, DecorationFollowsTheColumns) {
  const MainWindowDecoration d = ComputeMainWindowDecoration(1364, 741);
  EXPECT_EQ(R(d.headerBand), (Quad{0, 0, 1364, 88}));
  EXPECT_EQ(R(d.accentLine), (Quad{0, 84, 1364, 4}));
  EXPECT_EQ(d.cardBottom, 697);
  EXPECT_EQ(R(d.cards[0]), (Quad{20, 112, 374, 585}));
  EXPECT_EQ(R(d.cards[1]), (Quad{410, 112, 465, 585}));
  EXPECT_EQ(R(d.cards[2]), (Quad{891, 112, 453, 585}));
  EXPECT_EQ(R(d.captionStrips[0]), (Quad{30, 122, 354, 38}));
  EXPECT_EQ(R(d.captionStrips[1]), (Quad{420, 122, 445, 38}));
  EXPECT_EQ(R(d.captionStrips[2]), (Quad{901, 122, 433, 38}));
  EXPECT_EQ((std::array{d.cardCaptions[1].x, d.cardCaptions[2].x, d.cardCaptions[2].y, d.stackHint.y,
                        d.outputCaption.x, d.liveStatusCaption.y, d.resultsCaption.y}),
            (std::array{430, 911, 131, 667, 907, 314, 502}));
  // Short windows keep the cards at least down to 562.
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 500).cardBottom, 562);
}

TEST(PreviewPlacementTest, SmallImagesAreEnlargedLargeOnesReducedToTheLimitingSide) {
  const PreviewPlacement placement = PlacePreviewImage(420, 360, 100, 50);
  EXPECT_EQ(R(placement.image), (Quad{10, 64, 400, 200}));
  EXPECT_EQ(R(placement.imageArea), (Quad{10, 10, 400, 308}));
  EXPECT_EQ(R(placement.caption), (Quad{12, 326, 396, 26}));
  EXPECT_EQ(R(PlacePreviewImage(420, 360, 4000, 1000).image), (Quad{10, 114, 400, 100}));
  EXPECT_EQ(R(PlacePreviewImage(420, 360, 1000, 3080).image), (Quad{160, 10, 100, 308}));
  // A sliver never vanishes.
  const PreviewPlacement sliver = PlacePreviewImage(420, 360, 1, 100000);
  EXPECT_EQ(sliver.image.width, 1);
  EXPECT_EQ(sliver.image.height, 308);
  EXPECT_EQ(R(PreviewHintRect(420, 360)), (Quad{14, 22, 392, 100}));
}

}  // namespace
