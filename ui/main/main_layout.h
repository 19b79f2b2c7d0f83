// Geometry of the main window: where the nine controls sit, where the
// decoration (header, cards, captions) is painted, and how the preview pane
// places its image.
//
// Pure functions of the client size, so tests check the rectangles without a
// display; main_window.cpp moves the Qt widgets to them and
// main_painting.cpp paints at them. Every division is an integer division
// that truncates toward zero, and nothing is scaled for the display's DPI.
#pragma once

#include <cstdint>

// A rectangle in client coordinates, pixels.
struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct PixelPoint {
  int x = 0;
  int y = 0;
};

struct PixelSize {
  int width = 0;   // pixels
  int height = 0;  // pixels
};

// A window's size on opening: the designed client size when the screen's
// available area, less the window frame, holds it; otherwise each side
// shrunk to what fits (never below 1 pixel). Shared by every window.
PixelSize FitWindowSize(PixelSize designed, PixelSize available, PixelSize frame);

// The smallest client area at which the design's places do not overlap: the
// three columns at their minimum widths inside the margins, and the results
// list at its 100 pixels inside the cards.
constexpr PixelSize kMainContentMinimum{1008, 686};

// Where the client area's content goes. When the client area holds the
// content's minimum, the content fills it and the status bar lies on the
// content's own status-bar strip; otherwise the content keeps its minimum
// size (or the width or height that is there), scrolls in the area above the
// status bar, and the status bar stays at the client area's foot.
struct MainContentPlacement {
  bool scrolls = false;
  PixelRect scrollArea;     // client coordinates
  PixelSize content;        // size the content is laid out and painted at
  PixelRect statusBar;      // client coordinates
};

// `scrollBarExtent`: the width of a vertical (height of a horizontal) scroll
// bar, pixels.
MainContentPlacement PlaceMainContent(PixelSize client, int scrollBarExtent);

// The three columns that layout and painting share.
struct MainColumns {
  int left = 0;    // L: width of the left card's content, pixels (at least 300)
  int middle = 0;  // M: width of the middle column (at least 330)
  int right = 0;   // R: width of the right column (at least 300)
  int height = 0;  // H: column height (at least 450)
  int rightX = 0;  // X: left edge of the right-hand controls
};

MainColumns ComputeMainColumns(int clientWidth, int clientHeight);

struct MainWindowLayout {
  MainColumns columns;
  PixelRect imageList;         // control 1001
  PixelRect previewPane;       // the preview pane (no id)
  PixelRect outputFolderEdit;  // control 1005
  PixelRect chooseButton;      // control 1008
  PixelRect startButton;       // control 1007
  PixelRect liveStatusText;    // control 1009
  PixelRect progressBar;       // the progress bar (no id)
  PixelRect resultsList;       // control 1002
  PixelRect statusBar;         // control 1006
};

// `liveStatusGrowth` (pixels, from LiveStatusGrowth) makes the live-status
// text taller and moves the progress bar, the results caption and the results
// list down by as much; 0 keeps the design's places.
MainWindowLayout LayoutMainWindow(int clientWidth, int clientHeight, int liveStatusGrowth = 0);

// How much taller than its 132 pixels the live-status text may become to show
// `wantedHeight` pixels: what the results list has beyond its 100 pixels, at
// most the wanted difference, never negative.
int LiveStatusGrowth(int clientHeight, int wantedHeight);

// What the main window paints under its controls.
struct MainWindowDecoration {
  PixelRect background;         // the whole client area
  PixelRect headerBand;         // dark blue band at the top
  PixelRect accentLine;         // orange line over the band's lower edge
  PixelPoint title;             // top-left of the product name
  int cardBottom = 0;           // B: bottom edge of the three cards
  PixelRect cards[3];           // white rounded cards, corner size 14
  PixelRect captionStrips[3];   // tinted strips, corner size 10
  PixelPoint cardCaptions[3];   // top-left of "1  Bilder / Stapel", ...
  PixelPoint stackHint;         // hint line at the foot of card 1
  PixelPoint outputCaption;     // "Ausgabeordner"
  PixelPoint liveStatusCaption; // "Live-Status während der Optimierung"
  PixelPoint resultsCaption;    // "Ergebnisse / Gewinner"
};

MainWindowDecoration ComputeMainWindowDecoration(int clientWidth, int clientHeight,
                                                 int liveStatusGrowth = 0);

// Where the preview pane draws a decoded image of the given size.
struct PreviewPlacement {
  PixelRect imageArea;  // the tinted area behind the image
  PixelRect image;      // the scaled image (enlarged as well as reduced)
  PixelRect caption;    // one centred caption line under the image
};

PreviewPlacement PlacePreviewImage(int paneWidth, int paneHeight, std::uint32_t imageWidth,
                                   std::uint32_t imageHeight);

// Where the hint text goes while the pane has no image.
PixelRect PreviewHintRect(int paneWidth, int paneHeight);
