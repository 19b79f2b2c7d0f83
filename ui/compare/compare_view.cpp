// The compare window's logic; see compare_view.h. Neighbours:
// ui/main/main_window_state.h (the lists it browses), imaging/decode.h
// (decoding), core/live_status.h (FormatBytes), core/result_line.h (the
// saving), quality_map.h (the map's scores and jumps), platform/text.h (numbers).
#include "ui/compare/compare_view.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/live_status.h"
#include "core/result_line.h"
#include "imaging/decode.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/main/main_window_state.h"

namespace {

constexpr std::size_t kLargestIndex = std::numeric_limits<int>::max();

// Where the drawn image starts along one axis: centred, and moved by the pan
// offset only when it is larger than the pane, then limited so it covers
// the pane. Divisions truncate toward zero, as the whole layout does.
std::int64_t PlaceAlongAxis(int paneStart, int paneEnd, std::int64_t drawn, int pan) {
  const std::int64_t paneSize = static_cast<std::int64_t>(paneEnd) - paneStart;
  const std::int64_t centred = paneStart + (paneSize - drawn) / 2;
  if (drawn <= paneSize) return centred;
  const std::int64_t lowest = paneEnd - drawn;  // below paneStart here
  return std::clamp<std::int64_t>(centred + pan, lowest, paneStart);
}

std::int64_t DrawnSize(std::uint32_t size, double scale) {
  return std::max<std::int64_t>(1, std::llround(size * scale));
}

double SafeRatio(double devicePixelRatio) { return devicePixelRatio > 0 ? devicePixelRatio : 1.0; }

// The source span [first, last) whose drawn pixels cover [visibleStart,
// visibleEnd), with one source pixel to spare on each side.
void SourceSpan(std::int64_t drawnStart, double scale, std::int64_t visibleStart,
                std::int64_t visibleEnd, std::uint32_t size, int& first, int& last) {
  const double from = std::floor((visibleStart - drawnStart) / scale) - 1;
  const double to = std::ceil((visibleEnd - drawnStart) / scale) + 1;
  first = static_cast<int>(std::clamp(from, 0.0, static_cast<double>(size)));
  last = static_cast<int>(std::clamp(to, 0.0, static_cast<double>(size)));
}

int SaturatedSum(int value, std::int64_t add) {
  const std::int64_t sum = static_cast<std::int64_t>(value) + add;
  return static_cast<int>(std::clamp<std::int64_t>(sum, std::numeric_limits<int>::min(),
                                                    std::numeric_limits<int>::max()));
}

}  // namespace

CompareState& CompareViewState() {
  static CompareState state;
  return state;
}

void ResetCompareState() { CompareViewState() = CompareState{}; }

// --- The browsed list -----------------------------------------------------------

bool BrowsesResults(const MainWindowState& main) { return !main.results.empty(); }

std::size_t BrowsedCount(const MainWindowState& main) {
  return BrowsesResults(main) ? main.results.size() : main.imageList.size();
}

CompareEntry BrowsedEntry(const MainWindowState& main, std::size_t index) {
  if (!BrowsesResults(main)) return CompareEntry{main.imageList[index], ""};
  const ImageResult& result = main.results[index];
  return CompareEntry{result.sourcePath, result.optimized ? result.outputPath : "",
                      result.failed ? result.message : "",
                      result.failed || result.optimized ? "" : result.message, QualityMapFor(result)};
}

int ResolveCompareIndex(const MainWindowState& main, int requested) {
  if (requested >= 0) return requested;
  const int row = BrowsesResults(main) ? main.selectedResultRow : main.selectedImageRow;
  const std::size_t count = BrowsedCount(main);
  return row >= 0 && static_cast<std::size_t>(row) < count ? row : 0;
}

bool LoadCompareImage(CompareState& state, const MainWindowState& main, int index) {
  const std::size_t count = BrowsedCount(main);
  if (count == 0) return false;
  index = std::clamp(index, 0, static_cast<int>(std::min<std::size_t>(count - 1, kLargestIndex)));
  state.sourcePath.clear();
  state.optimizedPath.clear();
  state.failureText.clear();
  state.keptText.clear();
  ClearImage(state.sourceImage);
  ClearImage(state.optimizedImage);
  state.showsOptimized = false;
  state.qualityMap = QualityMap{};
  state.mapCells = MapCells{};
  state.worstOrder.clear();
  state.worstStep = -1;
  state.currentIndex = index;

  const CompareEntry entry = BrowsedEntry(main, static_cast<std::size_t>(index));
  state.sourcePath = entry.sourcePath;
  state.optimizedPath = entry.optimizedPath;
  state.failureText = entry.failureText;
  state.keptText = entry.keptText;
  DecodeFailure failure = DecodeFailure::None;
  if (!DecodeImageFile(state.sourcePath, state.sourceImage, &failure)) {
    if (state.failureText.empty()) state.failureText = CompareUnreadableText(DecodeFailureText(failure));
    return false;
  }
  // An optimised file that cannot be decoded does not fail the load: the
  // right pane shows the source then.
  state.showsOptimized =
      !state.optimizedPath.empty() && DecodeImageFile(state.optimizedPath, state.optimizedImage);
  if (!state.showsOptimized) state.optimizedImage = state.sourceImage;
  if (entry.qualityMap.imageWidth == state.sourceImage.width &&
      entry.qualityMap.imageHeight == state.sourceImage.height) {
    state.qualityMap = entry.qualityMap;
    state.mapCells = BuildMapCells(state.qualityMap);
    state.worstOrder = WorstWindowOrder(state.qualityMap.scores);
  }
  state.panX = 0;
  state.panY = 0;
  return true;
}

int NavigationTarget(int currentIndex, int step, std::size_t count) {
  if (count == 0) return -1;
  const std::int64_t last = static_cast<std::int64_t>(std::min<std::size_t>(count - 1, kLargestIndex));
  const std::int64_t target = std::clamp<std::int64_t>(std::int64_t{currentIndex} + step, 0, last);
  return target == currentIndex ? -1 : static_cast<int>(target);
}

// --- Texts and control states ---------------------------------------------------

std::string CompareUnreadableText(const std::string& reason) {
  return "Das Bild kann nicht angezeigt werden: " + reason + ".";
}

std::string ComparePositionText(int index, std::size_t count) {
  if (count == 0) return "Kein Bild";
  return "Bild " + FormatInteger(std::int64_t{index} + 1) + " von " +
         FormatInteger(static_cast<std::int64_t>(count));
}

std::string CompareZoomText(int zoom) { return "Zoom: " + FormatInteger(zoom) + " %"; }

std::string CompareWindowTitle(const std::string& sourcePath) {
  std::string title = "Bildvergleich \u2013 ";
  if (!sourcePath.empty()) title += FileNamePart(sourcePath) + " \u2013 ";
  return title + "Orvel JPEG Optimizer";
}

std::string CompareCaption(const std::string& sourcePath, std::uint64_t sourceBytes,
                           const std::string& optimizedPath, std::uint64_t optimizedBytes,
                           bool browsingResults, const std::string& failureText,
                           const std::string& keptText) {
  std::string caption = FileNamePart(sourcePath) + "   |   Original: " + FormatBytes(sourceBytes);
  if (!optimizedPath.empty()) {
    caption += "   \u2192   Optimiert: " + FormatBytes(optimizedBytes) + " (" +
               FormatFixed(SavingPercent(sourceBytes, optimizedBytes), 1) + " % kleiner)";
  } else if (!failureText.empty()) {
    caption += "   |   " + failureText;
  } else if (browsingResults) {
    caption += "   |   " + (keptText.empty() ? std::string("Keine kleinere Variante \u2013 Original beibehalten")
                                           : keptText);
  }
  return caption;
}

std::string CompareResultPaneLabel(const CompareState& state, bool browsingResults) {
  std::string label;
  if (state.showsOptimized) {
    label = kCompareOptimizedText;
  } else if (!IsUsableImage(state.sourceImage)) {
    label = "Kein Ergebnis";
  } else if (!state.optimizedPath.empty()) {
    label = "Original (Ergebnis nicht lesbar)";
  } else {
    label = browsingResults ? "Original (beibehalten)" : "Original (noch nicht optimiert)";
  }
  if (state.worstStep >= 0 && static_cast<std::size_t>(state.worstStep) < state.worstOrder.size()) {
    const std::size_t window = state.worstOrder[static_cast<std::size_t>(state.worstStep)];
    const AnalysisWindow& w = state.qualityMap.windows[window];
    label += " \u2013 " + WorstWindowText(static_cast<std::size_t>(state.worstStep),
                                          state.qualityMap.scores[window], w.x0, w.y0);
  }
  return label;
}

CompareControlsView ComputeCompareControls(const CompareState& state, std::size_t count,
                                           int shownZoom) {
  CompareControlsView view;
  view.previousEnabled = state.currentIndex >= 1;
  view.nextEnabled = std::int64_t{state.currentIndex} + 1 < static_cast<std::int64_t>(count);
  view.positionText = ComparePositionText(state.currentIndex, count);
  view.zoomText = state.fitZoom ? std::string(kCompareFitText) + ": " + FormatInteger(shownZoom) + " %"
                                : CompareZoomText(state.zoom);
  view.trackbarPosition = state.fitZoom ? ClampZoom(shownZoom) : state.zoom;
  view.fitChecked = state.fitZoom;
  view.title = CompareWindowTitle(state.sourcePath);
  return view;
}

// --- Zoom -------------------------------------------------------------------------

int ClampZoom(int zoom) { return std::clamp(zoom, kCompareMinZoom, kCompareMaxZoom); }

int WheelZoom(int zoom, int wheelDelta) {
  return ClampZoom(wheelDelta > 0 ? zoom + kCompareWheelStep : zoom - kCompareWheelStep);
}

int WheelZoomFromFit(int shownZoom, int wheelDelta) {
  if (wheelDelta <= 0) return 0;
  return shownZoom < kCompareMinZoom ? kCompareMinZoom : WheelZoom(shownZoom, wheelDelta);
}

// --- Geometry ---------------------------------------------------------------------

bool ContainsPoint(const EdgeRect& rect, int x, int y) {
  return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

CompareControlLayout LayoutCompareControls(int clientWidth) {
  const int mid = clientWidth / 2;
  CompareControlLayout layout;
  layout.previousButton = {mid - 330, 12, 46, 34};
  layout.positionLabel = {mid - 275, 17, 150, 26};
  layout.nextButton = {mid - 116, 12, 46, 34};
  layout.zoomLabel = {mid - 50, 17, 105, 26};
  layout.zoomTrackbar = {mid + 62, 14, 270, 34};
  layout.fitButton = {mid + 340, 12, 100, 34};
  return layout;
}

ComparePaintLayout ComputeComparePaintLayout(int clientWidth, int clientHeight) {
  const int half = clientWidth / 2;
  ComparePaintLayout layout;
  layout.originalLabel = {20, 52, half - 10, 82};
  layout.optimizedLabel = {half + 10, 52, clientWidth - 20, 82};
  layout.leftPane = {20, 86, half - 10, clientHeight - 62};
  layout.rightPane = {half + 10, 86, clientWidth - 20, clientHeight - 62};
  layout.caption = {20, clientHeight - 52, clientWidth - 20, clientHeight - 31};
  layout.hint = {20, clientHeight - 29, clientWidth - 20, clientHeight - 8};
  return layout;
}

bool InsideComparePane(const ComparePaintLayout& layout, int x, int y) {
  return ContainsPoint(layout.leftPane, x, y) || ContainsPoint(layout.rightPane, x, y);
}

DrawnImage PlaceImageInPane(const EdgeRect& pane, std::uint32_t imageWidth,
                            std::uint32_t imageHeight, int zoom, int panX, int panY) {
  return PlaceImageScaled(pane, imageWidth, imageHeight, zoom / 100.0, panX, panY);
}

DrawnImage PlaceImageScaled(const EdgeRect& pane, std::uint32_t imageWidth,
                            std::uint32_t imageHeight, double scale, int panX, int panY) {
  DrawnImage drawn;
  drawn.width = DrawnSize(imageWidth, scale);
  drawn.height = DrawnSize(imageHeight, scale);
  drawn.left = PlaceAlongAxis(pane.left, pane.right, drawn.width, panX);
  drawn.top = PlaceAlongAxis(pane.top, pane.bottom, drawn.height, panY);
  return drawn;
}

double PaneScale(const CompareState& state, const EdgeRect& pane, std::uint32_t imageWidth,
                 std::uint32_t imageHeight, double devicePixelRatio) {
  const double ratio = SafeRatio(devicePixelRatio);
  const double fixed = state.zoom / 100.0 / ratio;
  if (!state.fitZoom || imageWidth == 0 || imageHeight == 0) return fixed;
  const double fit = std::min(std::max(RectWidth(pane), 1) / static_cast<double>(imageWidth),
                              std::max(RectHeight(pane), 1) / static_cast<double>(imageHeight));
  return std::min(fit, 1.0 / ratio);
}

int ShownZoomPercent(double scale, double devicePixelRatio) {
  return static_cast<int>(std::lround(scale * SafeRatio(devicePixelRatio) * 100.0));
}

double ComparePanesScale(const CompareState& state, const ComparePaintLayout& layout,
                         double devicePixelRatio) {
  return PaneScale(state, layout.leftPane, state.sourceImage.width, state.sourceImage.height,
                   devicePixelRatio);
}

bool DrawsSharpPixels(double scale, double devicePixelRatio) {
  const double device = scale * SafeRatio(devicePixelRatio);
  return device >= 2.0 - 1e-9 || std::abs(device - 1.0) < 1e-9;
}

VisiblePart ComputeVisiblePart(const EdgeRect& pane, const DrawnImage& drawn,
                               std::uint32_t imageWidth, std::uint32_t imageHeight) {
  VisiblePart part;
  const std::int64_t visibleLeft = std::max<std::int64_t>(drawn.left, pane.left);
  const std::int64_t visibleRight = std::min<std::int64_t>(drawn.left + drawn.width, pane.right);
  const std::int64_t visibleTop = std::max<std::int64_t>(drawn.top, pane.top);
  const std::int64_t visibleBottom = std::min<std::int64_t>(drawn.top + drawn.height, pane.bottom);
  if (imageWidth == 0 || imageHeight == 0 || visibleRight <= visibleLeft ||
      visibleBottom <= visibleTop) {
    return part;
  }
  const double scaleX = static_cast<double>(drawn.width) / imageWidth;
  const double scaleY = static_cast<double>(drawn.height) / imageHeight;
  int left = 0, right = 0, top = 0, bottom = 0;
  SourceSpan(drawn.left, scaleX, visibleLeft, visibleRight, imageWidth, left, right);
  SourceSpan(drawn.top, scaleY, visibleTop, visibleBottom, imageHeight, top, bottom);
  part.empty = false;
  part.sourceLeft = left;
  part.sourceTop = top;
  part.sourceWidth = right - left;
  part.sourceHeight = bottom - top;
  part.targetLeft = drawn.left + left * scaleX;
  part.targetTop = drawn.top + top * scaleY;
  part.targetWidth = part.sourceWidth * scaleX;
  part.targetHeight = part.sourceHeight * scaleY;
  return part;
}

// --- Fit zoom and the quality map's keys ------------------------------------------

bool ToggleFitZoom(CompareState& state) {
  if (!IsUsableImage(state.sourceImage)) return false;
  state.fitZoom = !state.fitZoom;
  state.panX = 0;
  state.panY = 0;
  return true;
}

void SetFixedZoom(CompareState& state, int zoom) {
  state.fitZoom = false;
  state.zoom = ClampZoom(zoom);
  state.panX = 0;
  state.panY = 0;
}

bool ToggleQualityMap(CompareState& state) {
  if (!HasQualityMap(state.qualityMap)) return false;
  state.qualityMapShown = !state.qualityMapShown;
  return true;
}

bool StepWorstWindow(CompareState& state, const EdgeRect& pane, double devicePixelRatio) {
  if (!HasQualityMap(state.qualityMap) || state.worstOrder.empty()) return false;
  const std::size_t next = state.worstStep < 0 ? 0 : static_cast<std::size_t>(state.worstStep) + 1;
  state.worstStep = next < state.worstOrder.size() ? static_cast<int>(next) : 0;
  const AnalysisWindow& window = state.qualityMap.windows[state.worstOrder[static_cast<std::size_t>(state.worstStep)]];
  const WindowFocus focus = FocusOnWindow(window, pane, state.qualityMap.imageWidth,
                                          state.qualityMap.imageHeight, devicePixelRatio);
  state.fitZoom = false;
  state.zoom = focus.zoom;
  state.panX = focus.panX;
  state.panY = focus.panY;
  return true;
}

// --- Panning ----------------------------------------------------------------------

bool BeginPanDrag(CompareState& state, const ComparePaintLayout& layout, int x, int y) {
  if (!InsideComparePane(layout, x, y)) return false;
  state.dragging = true;
  state.lastMouseX = x;
  state.lastMouseY = y;
  return true;
}

bool ContinuePanDrag(CompareState& state, int x, int y) {
  if (!state.dragging) return false;
  state.panX = SaturatedSum(state.panX, std::int64_t{x} - state.lastMouseX);
  state.panY = SaturatedSum(state.panY, std::int64_t{y} - state.lastMouseY);
  state.lastMouseX = x;
  state.lastMouseY = y;
  return true;
}

bool EndPanDrag(CompareState& state) {
  const bool wasDragging = state.dragging;
  state.dragging = false;
  return wasDragging;
}
