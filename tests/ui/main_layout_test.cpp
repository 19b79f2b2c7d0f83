// Tests of the main window's geometry: control layout, decoration and the
// preview placement, against the figures the window is drawn from.
#include "ui/main/main_layout.h"

#include <gtest/gtest.h>

namespace {

void ExpectRect(const PixelRect& rect, int x, int y, int width, int height) {
  EXPECT_EQ(rect.x, x);
  EXPECT_EQ(rect.y, y);
  EXPECT_EQ(rect.width, width);
  EXPECT_EQ(rect.height, height);
}

TEST(MainLayoutTest, ClientAreaOf1364By741) {
  const MainWindowLayout layout = LayoutMainWindow(1364, 741);
  EXPECT_EQ(layout.columns.left, 374);
  EXPECT_EQ(layout.columns.middle, 465);
  EXPECT_EQ(layout.columns.right, 453);
  EXPECT_EQ(layout.columns.height, 585);
  EXPECT_EQ(layout.columns.rightX, 907);
  ExpectRect(layout.startButton, 907, 248, 421, 54);
  ExpectRect(layout.imageList, 34, 170, 346, 465);
  ExpectRect(layout.previewPane, 424, 170, 437, 425);
  ExpectRect(layout.outputFolderEdit, 907, 198, 303, 32);
  ExpectRect(layout.chooseButton, 1220, 198, 108, 32);
  ExpectRect(layout.liveStatusText, 907, 336, 421, 132);
  ExpectRect(layout.progressBar, 907, 476, 421, 18);
  ExpectRect(layout.resultsList, 907, 526, 421, 153);
  ExpectRect(layout.statusBar, 0, 715, 1364, 26);

  // A taller live-status box takes from the results list, which keeps 100.
  EXPECT_EQ(LiveStatusGrowth(741, 100), 0);
  EXPECT_EQ(LiveStatusGrowth(741, 150), 18);
  EXPECT_EQ(LiveStatusGrowth(741, 400), 53);
  EXPECT_EQ(LiveStatusGrowth(300, 400), 0);
  const MainWindowLayout grown = LayoutMainWindow(1364, 741, 53);
  ExpectRect(grown.liveStatusText, 907, 336, 421, 185);
  ExpectRect(grown.progressBar, 907, 529, 421, 18);
  ExpectRect(grown.resultsList, 907, 579, 421, 100);
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 741, 53).resultsCaption.y, 555);
}

TEST(MainLayoutTest, SmallClientAreasKeepTheColumnMinimums) {
  for (const int width : {600, 71, 0}) {
    const MainWindowLayout layout = LayoutMainWindow(width, 300);
    EXPECT_EQ(layout.columns.left, 300) << width;
    EXPECT_EQ(layout.columns.middle, 330) << width;
    EXPECT_EQ(layout.columns.right, 300) << width;
    EXPECT_EQ(layout.columns.height, 450) << width;
    EXPECT_EQ(layout.resultsList.height, 100) << width;
  }
  // The status bar follows the real client area even when the columns do not.
  ExpectRect(LayoutMainWindow(600, 300).statusBar, 0, 274, 600, 26);
}

TEST(MainLayoutTest, DecorationFollowsTheColumns) {
  const MainWindowDecoration d = ComputeMainWindowDecoration(1364, 741);
  ExpectRect(d.headerBand, 0, 0, 1364, 88);
  ExpectRect(d.accentLine, 0, 84, 1364, 4);
  EXPECT_EQ(d.cardBottom, 697);
  ExpectRect(d.cards[0], 20, 112, 374, 585);
  ExpectRect(d.cards[1], 410, 112, 465, 585);
  ExpectRect(d.cards[2], 891, 112, 453, 585);
  ExpectRect(d.captionStrips[0], 30, 122, 354, 38);
  ExpectRect(d.captionStrips[1], 420, 122, 445, 38);
  ExpectRect(d.captionStrips[2], 901, 122, 433, 38);
  EXPECT_EQ(d.cardCaptions[1].x, 430);
  EXPECT_EQ(d.cardCaptions[2].x, 911);
  EXPECT_EQ(d.cardCaptions[2].y, 131);
  EXPECT_EQ(d.stackHint.y, 667);
  EXPECT_EQ(d.outputCaption.x, 907);
  EXPECT_EQ(d.liveStatusCaption.y, 314);
  EXPECT_EQ(d.resultsCaption.y, 502);
  // Short windows keep the cards at least down to 562.
  EXPECT_EQ(ComputeMainWindowDecoration(1364, 500).cardBottom, 562);
}

TEST(PreviewPlacementTest, SmallImageIsEnlargedAndCentred) {
  const PreviewPlacement placement = PlacePreviewImage(420, 360, 100, 50);
  ExpectRect(placement.image, 10, 64, 400, 200);
  ExpectRect(placement.imageArea, 10, 10, 400, 308);
  ExpectRect(placement.caption, 12, 326, 396, 26);
}

TEST(PreviewPlacementTest, LargeImagesAreReducedToTheLimitingSide) {
  ExpectRect(PlacePreviewImage(420, 360, 4000, 1000).image, 10, 114, 400, 100);
  ExpectRect(PlacePreviewImage(420, 360, 1000, 3080).image, 160, 10, 100, 308);
  // A sliver never vanishes.
  const PreviewPlacement sliver = PlacePreviewImage(420, 360, 1, 100000);
  EXPECT_EQ(sliver.image.width, 1);
  EXPECT_EQ(sliver.image.height, 308);
  ExpectRect(PreviewHintRect(420, 360), 14, 22, 392, 100);
}

}  // namespace
