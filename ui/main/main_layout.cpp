// Main window geometry; see main_layout.h. Read by main_window.cpp (control
// placement) and main_painting.cpp (decoration and preview).
#include "ui/main/main_layout.h"

#include <algorithm>

namespace {

PixelRect RectFromEdges(int left, int top, int right, int bottom) {
  return PixelRect{left, top, right - left, bottom - top};
}

}  // namespace

PixelSize FitWindowSize(PixelSize designed, PixelSize available, PixelSize frame) {
  return PixelSize{std::clamp(available.width - frame.width, 1, std::max(designed.width, 1)),
                   std::clamp(available.height - frame.height, 1, std::max(designed.height, 1))};
}

MainContentPlacement PlaceMainContent(PixelSize client, int scrollBarExtent) {
  constexpr int kStatusBarHeight = 26;
  MainContentPlacement placement;
  placement.statusBar = {0, client.height - kStatusBarHeight, client.width, kStatusBarHeight};
  if (client.width >= kMainContentMinimum.width && client.height >= kMainContentMinimum.height) {
    placement.scrollArea = {0, 0, client.width, client.height};
    placement.content = client;
    return placement;
  }
  placement.scrolls = true;
  placement.scrollArea = {0, 0, client.width, std::max(client.height - kStatusBarHeight, 0)};
  // A scroll bar on one side narrows the view and may call for the other.
  const int viewWidth = placement.scrollArea.width;
  const int viewHeight = placement.scrollArea.height;
  bool vertical = viewHeight < kMainContentMinimum.height;
  const bool horizontal = viewWidth - (vertical ? scrollBarExtent : 0) < kMainContentMinimum.width;
  vertical = vertical || viewHeight - (horizontal ? scrollBarExtent : 0) < kMainContentMinimum.height;
  placement.content = {
      std::max(viewWidth - (vertical ? scrollBarExtent : 0), kMainContentMinimum.width),
      std::max(viewHeight - (horizontal ? scrollBarExtent : 0), kMainContentMinimum.height)};
  return placement;
}

MainColumns ComputeMainColumns(int clientWidth, int clientHeight) {
  MainColumns columns;
  columns.left = std::max((clientWidth - 72) * 29 / 100, 300);
  columns.middle = std::max((clientWidth - 72) * 36 / 100, 330);
  columns.right = std::max(clientWidth - columns.middle - columns.left - 72, 300);
  columns.height = std::max(clientHeight - 156, 450);
  columns.rightX = columns.left + columns.middle + 68;
  return columns;
}

int LiveStatusGrowth(int clientHeight, int wantedHeight) {
  const int spare = ComputeMainColumns(0, clientHeight).height - 432 - 100;
  return std::clamp(wantedHeight - 132, 0, std::max(spare, 0));
}

MainWindowLayout LayoutMainWindow(int clientWidth, int clientHeight, int liveStatusGrowth) {
  MainWindowLayout layout;
  const MainColumns c = ComputeMainColumns(clientWidth, clientHeight);
  layout.columns = c;
  layout.imageList = {34, 170, c.left - 28, c.height - 120};
  layout.previewPane = {c.left + 50, 170, c.middle - 28, c.height - 160};
  // The choose button is 8 pixels wider than designed, taken from the edit:
  // "Auswählen…" needed 93 of its 100 pixels in Segoe UI, but a full 100 in
  // the Linux face that stands in for it.
  layout.outputFolderEdit = {c.rightX, 198, c.right - 150, 32};
  layout.chooseButton = {c.left + c.middle + c.right - 72, 198, 108, 32};
  layout.startButton = {c.rightX, 248, c.right - 32, 54};
  const int g = liveStatusGrowth;
  layout.liveStatusText = {c.rightX, 336, c.right - 32, 132 + g};
  layout.progressBar = {c.rightX, 476 + g, c.right - 32, 18};
  layout.resultsList = {c.rightX, 526 + g, c.right - 32, std::max(c.height - 432 - g, 100)};
  layout.statusBar = {0, clientHeight - 26, clientWidth, 26};
  return layout;
}

MainWindowDecoration ComputeMainWindowDecoration(int clientWidth, int clientHeight,
                                                 int liveStatusGrowth) {
  MainWindowDecoration d;
  const MainColumns c = ComputeMainColumns(clientWidth, clientHeight);
  const int L = c.left;
  const int M = c.middle;
  const int R = c.right;
  d.background = {0, 0, clientWidth, clientHeight};
  d.headerBand = RectFromEdges(0, 0, clientWidth, 88);
  d.accentLine = RectFromEdges(0, 84, clientWidth, 88);
  d.title = {24, 16};
  d.cardBottom = std::max(clientHeight - 44, 562);
  const int B = d.cardBottom;
  d.cards[0] = RectFromEdges(20, 112, L + 20, B);
  d.cards[1] = RectFromEdges(L + 36, 112, L + M + 36, B);
  d.cards[2] = RectFromEdges(L + M + 52, 112, L + M + R + 52, B);
  d.captionStrips[0] = RectFromEdges(30, 122, L + 10, 160);
  d.captionStrips[1] = RectFromEdges(L + 46, 122, L + M + 26, 160);
  d.captionStrips[2] = RectFromEdges(L + M + 62, 122, L + M + R + 42, 160);
  d.cardCaptions[0] = {40, 131};
  d.cardCaptions[1] = {L + 56, 131};
  d.cardCaptions[2] = {L + M + 72, 131};
  d.stackHint = {36, B - 30};
  d.outputCaption = {L + M + 68, 176};
  d.liveStatusCaption = {L + M + 68, 314};
  d.resultsCaption = {L + M + 68, 502 + liveStatusGrowth};
  return d;
}

PreviewPlacement PlacePreviewImage(int paneWidth, int paneHeight, std::uint32_t imageWidth,
                                   std::uint32_t imageHeight) {
  PreviewPlacement placement;
  placement.imageArea = RectFromEdges(10, 10, paneWidth - 10, paneHeight - 42);
  const int availableWidth = paneWidth - 20;
  const int availableHeight = paneHeight - 52;
  double scale = 0;
  if (imageWidth > 0 && imageHeight > 0) {
    scale = std::min(static_cast<double>(availableHeight) / imageHeight,
                     static_cast<double>(availableWidth) / imageWidth);
  }
  const int drawWidth = std::max(static_cast<int>(scale * imageWidth), 1);
  const int drawHeight = std::max(static_cast<int>(scale * imageHeight), 1);
  placement.image = {10 + (availableWidth - drawWidth) / 2, 10 + (availableHeight - drawHeight) / 2,
                     drawWidth, drawHeight};
  placement.caption = RectFromEdges(12, paneHeight - 34, paneWidth - 12, paneHeight - 8);
  return placement;
}

PixelRect PreviewHintRect(int paneWidth, int /*paneHeight*/) {
  return RectFromEdges(14, 22, paneWidth - 14, 122);
}
