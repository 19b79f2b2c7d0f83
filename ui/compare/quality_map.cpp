// The compare window's quality map; see quality_map.h. Neighbours:
// compare_view.h (the pane geometry the focus is computed with),
// core/profiles.h (the limits), platform/text.h (numbers).
#include "ui/compare/quality_map.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/profiles.h"
#include "platform/text.h"
#include "ui/compare/compare_view.h"

namespace {

constexpr int kYellowSteps = 8;  // shades between the two limits
constexpr MapTint kRed{225, 30, 30, 165};

const QualityProfile* ProfileLabelled(const std::string& label) {
  for (int i = 0; i < kProfileCount; ++i) {
    if (label == ProfileAt(i).label) return &ProfileAt(i);
  }
  return nullptr;
}

// The sorted, distinct edges of the windows along one axis.
std::vector<std::uint32_t> Edges(const std::vector<AnalysisWindow>& windows,
                                 std::uint32_t AnalysisWindow::*from, std::uint32_t AnalysisWindow::*to) {
  std::vector<std::uint32_t> edges{0};
  for (const AnalysisWindow& window : windows) {
    edges.push_back(window.*from);
    edges.push_back(window.*to);
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  return edges;
}

std::size_t EdgeIndex(const std::vector<std::uint32_t>& edges, std::uint32_t value) {
  return static_cast<std::size_t>(std::lower_bound(edges.begin(), edges.end(), value) - edges.begin());
}

std::string Score(double value) { return FormatFixed(value, 3); }

// The pan that puts image position `centre` (pixels) on the pane's middle
// along one axis, for an image drawn at `scale` logical pixels per pixel.
int PanToCentre(int paneStart, int paneEnd, std::uint32_t size, double scale, double centre) {
  const EdgeRect axis{paneStart, 0, paneEnd, 1};
  const DrawnImage unpanned = PlaceImageScaled(axis, size, 1, scale, 0, 0);
  const double wanted = paneStart + (paneEnd - paneStart) / 2.0 - centre * scale;
  return static_cast<int>(std::lround(wanted - static_cast<double>(unpanned.left)));
}

}  // namespace

bool HasQualityMap(const QualityMap& map) {
  return !map.scores.empty() && map.scores.size() == map.windows.size();
}

QualityMap QualityMapFor(const ImageResult& result) {
  QualityMap map;
  const QualityProfile* profile = ProfileLabelled(result.profileLabel);
  if (result.failed || result.windowScores.empty() || profile == nullptr) return map;
  std::vector<AnalysisWindow> windows = AnalysisWindows(result.analysedWidth, result.analysedHeight);
  if (windows.size() != result.windowScores.size()) return map;
  map.imageWidth = result.analysedWidth;
  map.imageHeight = result.analysedHeight;
  map.windows = std::move(windows);
  map.scores = result.windowScores;
  map.minWorst5 = profile->minWorst5;
  map.minWorst = profile->minWorst;
  map.rejected = !result.optimized;
  return map;
}

MapTint TintForScore(double score, double minWorst5, double minWorst) {
  // A score that is not a number failed the gate: red, never clear.
  if (!(score > minWorst)) return kRed;
  if (score >= minWorst5) return MapTint{};
  const double fall = (minWorst5 - score) / (minWorst5 - minWorst);  // 0..1 towards minWorst
  const int step = std::clamp(static_cast<int>(fall * kYellowSteps), 0, kYellowSteps - 1);
  return MapTint{255, static_cast<std::uint8_t>(225 - step * 10), 0,
                 static_cast<std::uint8_t>(70 + step * 12)};
}

MapCells BuildMapCells(const QualityMap& map) {
  MapCells cells;
  if (!HasQualityMap(map)) return cells;
  cells.xEdges = Edges(map.windows, &AnalysisWindow::x0, &AnalysisWindow::x1);
  cells.yEdges = Edges(map.windows, &AnalysisWindow::y0, &AnalysisWindow::y1);
  const std::size_t columns = cells.xEdges.size() - 1;
  std::vector<double> weakest(columns * (cells.yEdges.size() - 1), 2.0);  // 2: no window yet
  for (std::size_t i = 0; i < map.windows.size(); ++i) {
    const AnalysisWindow& w = map.windows[i];
    const std::size_t c0 = EdgeIndex(cells.xEdges, w.x0), c1 = EdgeIndex(cells.xEdges, w.x1);
    const std::size_t r0 = EdgeIndex(cells.yEdges, w.y0), r1 = EdgeIndex(cells.yEdges, w.y1);
    for (std::size_t r = r0; r < r1; ++r) {
      for (std::size_t c = c0; c < c1; ++c) {
        double& cell = weakest[r * columns + c];
        // NaN stays: it compares false, so test for it explicitly.
        if (std::isnan(map.scores[i]) || map.scores[i] < cell) cell = map.scores[i];
      }
    }
  }
  cells.tints.reserve(weakest.size());
  for (const double score : weakest) {
    cells.tints.push_back(score > 1.5 ? MapTint{} : TintForScore(score, map.minWorst5, map.minWorst));
  }
  return cells;
}

std::vector<std::size_t> WorstWindowOrder(const std::vector<double>& scores) {
  std::vector<std::size_t> order(scores.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // A score that is not a number counts as the worst.
  const auto key = [&scores](std::size_t i) { return std::isnan(scores[i]) ? -1.0 : scores[i]; };
  std::stable_sort(order.begin(), order.end(),
                   [&key](std::size_t a, std::size_t b) { return key(a) < key(b); });
  return order;
}

ScreenRect ImageRectOnScreen(const DrawnImage& drawn, std::uint32_t imageWidth,
                             std::uint32_t imageHeight, std::uint32_t x0, std::uint32_t y0,
                             std::uint32_t x1, std::uint32_t y1) {
  if (imageWidth == 0 || imageHeight == 0) return ScreenRect{};
  const double scaleX = static_cast<double>(drawn.width) / imageWidth;
  const double scaleY = static_cast<double>(drawn.height) / imageHeight;
  return ScreenRect{drawn.left + x0 * scaleX, drawn.top + y0 * scaleY,
                    (static_cast<double>(x1) - x0) * scaleX, (static_cast<double>(y1) - y0) * scaleY};
}

WindowFocus FocusOnWindow(const AnalysisWindow& window, const EdgeRect& pane,
                          std::uint32_t imageWidth, std::uint32_t imageHeight,
                          double devicePixelRatio) {
  const double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
  const double side = std::max<double>(std::max(window.x1 - window.x0, window.y1 - window.y0), 1);
  const double paneSide = std::max(std::min(RectWidth(pane), RectHeight(pane)), 1);
  // A third of the pane, in device pixels, over the window's side; in steps
  // of 25 %, as the wheel and the slider move.
  const double wanted = 100.0 * (paneSide / 3.0) * ratio / side;
  WindowFocus focus;
  focus.zoom = ClampZoom(static_cast<int>(std::lround(wanted / kCompareWheelStep)) * kCompareWheelStep);
  const double scale = focus.zoom / 100.0 / ratio;
  focus.panX = PanToCentre(pane.left, pane.right, imageWidth, scale, (window.x0 + window.x1) / 2.0);
  focus.panY = PanToCentre(pane.top, pane.bottom, imageHeight, scale, (window.y0 + window.y1) / 2.0);
  return focus;
}

std::string WorstWindowText(std::size_t step, double score, std::uint32_t x, std::uint32_t y) {
  const std::string which = step == 0 ? std::string("Schlechtestes Fenster")
                                      : FormatInteger(static_cast<std::int64_t>(step) + 1) +
                                            ". schlechtestes Fenster";
  return which + ": " + Score(score) + " bei x " + FormatInteger(x) + ", y " + FormatInteger(y);
}

MapLegend QualityMapLegend(const QualityMap& map) {
  MapLegend legend;
  legend.title = map.rejected ? "Qualit\u00e4tskarte des verworfenen Ergebnisses (Q)"
                              : "Qualit\u00e4tskarte (Q)";
  if (!map.scores.empty()) {
    const auto [low, high] = std::minmax_element(map.scores.begin(), map.scores.end());
    legend.range = "Fensterwerte " + Score(*low) + " bis " + Score(*high);
  }
  legend.clear = "ab " + Score(map.minWorst5) + ": ohne F\u00e4rbung";
  legend.yellow = Score(map.minWorst) + " bis " + Score(map.minWorst5) + ": gelb";
  legend.red = "bis " + Score(map.minWorst) + ": rot";
  return legend;
}
