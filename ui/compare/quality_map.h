// The compare window's quality map, without Qt: where the quality gate's
// analysis found the winner weak, window by window.
//
// The pipeline keeps the judged winner's window scores in its ImageResult
// (core/pipeline.h); the windows themselves follow from the image size
// (AnalysisWindows, imaging/quality.h). Here they become a map over the
// result pane: the image is cut at every window edge into cells, and each
// cell takes the tint of the weakest window that covers it – none at or above
// the profile's worst-5 % limit, yellow deepening towards its worst-window
// limit, red at or below it. The cells are few (about twice the windows), so
// the map is built once per image and painting it never touches the pixels.
// Also here: the order of the windows from the worst up, the zoom and pan
// that bring one window into the middle of a pane, and the texts of the
// legend and of the window the view jumped to. compare_view.h holds the
// window's state and geometry, compare_painting.h draws the map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/pipeline.h"
#include "imaging/quality.h"

struct EdgeRect;
struct DrawnImage;

// One image's window scores and the limits they are judged by.
struct QualityMap {
  std::uint32_t imageWidth = 0;        // pixels of the analysed image
  std::uint32_t imageHeight = 0;       // pixels
  std::vector<AnalysisWindow> windows; // in analysis order
  std::vector<double> scores;          // one per window, 0..1
  double minWorst5 = 0;                // at or above: no tint (the profile's limit)
  double minWorst = 0;                 // at or below: red (the profile's limit)
  bool rejected = false;               // the scores are those of a winner the gate refused
};

// True when the map has a score for every window.
bool HasQualityMap(const QualityMap& map);

// The map of a batch result: its kept scores with the limits of the profile
// named by its label. Empty for a failed image, a result without scores, an
// unknown profile, or scores that do not fit the windows of the image size.
QualityMap QualityMapFor(const ImageResult& result);

// A tint, 8 bits a channel; alpha 0 draws nothing.
struct MapTint {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t alpha = 0;
};

// No tint at or above `minWorst5`; yellow, stronger and more orange in 8
// steps as the score falls towards `minWorst`; red at or below `minWorst`.
MapTint TintForScore(double score, double minWorst5, double minWorst);

// The map cut into cells at every window edge: column c spans image columns
// xEdges[c] .. xEdges[c + 1], row r likewise with yEdges; tints row by row.
struct MapCells {
  std::vector<std::uint32_t> xEdges;  // ascending, from 0 to the image width
  std::vector<std::uint32_t> yEdges;  // ascending, from 0 to the image height
  std::vector<MapTint> tints;         // (xEdges.size() - 1) * (yEdges.size() - 1)
};

// Each cell tinted by the weakest window that covers it; empty without a map.
MapCells BuildMapCells(const QualityMap& map);

// Window indices from the lowest score up; equal scores in analysis order.
std::vector<std::size_t> WorstWindowOrder(const std::vector<double>& scores);

// Where image rectangle [x0, x1) x [y0, y1) lands on screen for an image
// drawn at `drawn` (compare_view.h), logical pixels; the same scale the
// pane's pixels are drawn at, so the map lies exactly on the image.
struct ScreenRect {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;
};

ScreenRect ImageRectOnScreen(const DrawnImage& drawn, std::uint32_t imageWidth,
                             std::uint32_t imageHeight, std::uint32_t x0, std::uint32_t y0,
                             std::uint32_t x1, std::uint32_t y1);

// The view that centres `window` in `pane`: a zoom (per cent of device
// pixels, a multiple of 25 within 100..800) at which the window's longer
// side fills about a third of the pane's shorter side, and the pan offsets
// that put the window's centre on the pane's centre (the drawn image still
// stops at the pane's edges, so a window at the image's border lies off
// centre, yet inside the pane).
struct WindowFocus {
  int zoom = 100;
  int panX = 0;
  int panY = 0;
};

WindowFocus FocusOnWindow(const AnalysisWindow& window, const EdgeRect& pane,
                          std::uint32_t imageWidth, std::uint32_t imageHeight,
                          double devicePixelRatio);

// "Schlechtestes Fenster: 0.873 bei x 1920, y 640" for step 0, then
// "2. schlechtestes Fenster: …" and so on.
std::string WorstWindowText(std::size_t step, double score, std::uint32_t x, std::uint32_t y);

// The legend's lines: a title, the range of this image's scores, and one
// line for each tint.
struct MapLegend {
  std::string title;   // "Qualitätskarte (Q)", or that of the refused result
  std::string range;   // "Fensterwerte 0.873 bis 0.998"
  std::string clear;   // "ab 0.942: ohne Färbung"
  std::string yellow;  // "0.930 bis 0.942: gelb"
  std::string red;     // "bis 0.930: rot"
};

MapLegend QualityMapLegend(const QualityMap& map);
