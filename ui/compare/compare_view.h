// The compare window's logic: what it shows and where, without Qt.
//
// The window browses the last batch's results (or, before any batch, the
// image list of the main window, main_window_state.h), shows the source on
// the left and the optimised file on the right at one shared zoom and pan,
// and steps through the list. Everything the window decides lives here as
// plain functions over plain records, so tests run it without a display: the
// process-wide CompareState, loading an entry, the navigation rule, the
// texts of title, labels and caption, the zoom rules, the control and pane
// rectangles, where an image is drawn for a zoom and pan, and which part of
// the source a pane actually shows, the fit zoom, and the keys of the
// quality map (quality_map.h). compare_window.h applies it with Qt widgets;
// compare_painting.h paints with it.
//
// Zoom is counted in device pixels: at 100 % one image pixel is one device
// pixel also on a screen scaled by 2, so the geometry takes the window's
// device pixel ratio where the zoom turns into a drawn size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/pixel_image.h"
#include "ui/compare/quality_map.h"

struct MainWindowState;

// --- Fixed values -------------------------------------------------------------

// Control ids of the compare window.
constexpr int kIdComparePrevious = 3001;   // "◀" button
constexpr int kIdCompareNext = 3002;       // "▶" button
constexpr int kIdCompareTrackbar = 3003;   // zoom slider
constexpr int kIdCompareZoomLabel = 3004;  // "Zoom: 100 %"
constexpr int kIdComparePosition = 3005;   // "Bild 3 von 12"
constexpr int kIdCompareFit = 3006;        // "Einpassen" button and key 0: the whole image
constexpr int kIdCompareQualityMap = 3007; // key Q: the quality map on or off
constexpr int kIdCompareWorstWindow = 3008;// key W: to the worst window, then the next-worst

constexpr int kCompareMinZoom = 100;      // per cent
constexpr int kCompareMaxZoom = 800;      // per cent
constexpr int kCompareWheelStep = 25;     // per cent per wheel event; also the slider's line size
constexpr int kCompareZoomPageStep = 100; // per cent; the slider's page size and tick interval

constexpr int kCompareWindowWidth = 1320;   // pixels
constexpr int kCompareWindowHeight = 840;   // pixels

constexpr const char* kCompareMessageTitle = "Bildvergleich";
constexpr const char* kCompareMessageNothingToShow =
    "Bitte zuerst ein Bild laden oder eine Kompression durchf\u00fchren.";
constexpr const char* kCompareMessageLoadFailed =
    "Das Bild konnte f\u00fcr den Vergleich nicht geladen werden.";
constexpr const char* kComparePreviousText = "\u25c0";
constexpr const char* kCompareNextText = "\u25b6";
constexpr const char* kCompareOriginalText = "Original";
constexpr const char* kCompareOptimizedText = "Optimiert";
constexpr const char* kCompareFitText = "Einpassen";
// The keys, under the caption.
constexpr const char* kCompareHintText =
    "\u25c0 \u25b6 Bild wechseln   \u00b7   Mausrad / Regler: Zoom   \u00b7   0: ganzes Bild   "
    "\u00b7   Ziehen: verschieben   \u00b7   Q: Qualit\u00e4tskarte   \u00b7   W: schlechtestes Fenster"
    "   \u00b7   Esc: schlie\u00dfen";

// --- State --------------------------------------------------------------------

// What the compare window shows. Process-wide and touched on the UI thread
// only; it outlives the window, so a closed and reopened window keeps the
// loaded images and the zoom until an open resets them.
struct CompareState {
  std::string sourcePath;      // shown on the left; empty before the first load
  std::string optimizedPath;   // shown on the right; empty when there is none
  std::string failureText;     // why the entry failed or cannot be shown; empty otherwise
  std::string keptText;        // why the original was kept; empty otherwise
  PixelImage sourceImage;      // decoded source
  PixelImage optimizedImage;   // decoded optimised file, or a copy of the source
  int currentIndex = 0;        // position in the browsed list
  bool showsOptimized = false; // the right pane shows the decoded optimised file
  int zoom = kCompareMinZoom;  // per cent of device pixels, 100..800; kept while fitZoom is on
  bool fitZoom = false;        // the whole image fits the panes instead of `zoom`
  int panX = 0;                // pixels, offset of both images from centred; not limited
  int panY = 0;                // pixels
  bool dragging = false;       // a pan drag with the left button is under way
  int lastMouseX = 0;          // client coordinates at the previous drag step, pixels
  int lastMouseY = 0;
  QualityMap qualityMap;       // the entry's window scores; empty when it has none
  MapCells mapCells;           // BuildMapCells(qualityMap)
  std::vector<std::size_t> worstOrder;  // WorstWindowOrder(qualityMap.scores)
  bool qualityMapShown = false;  // key Q; kept from image to image
  int worstStep = -1;          // position in worstOrder the view jumped to; -1 when none
};

// The one process-wide record.
CompareState& CompareViewState();

// Back to the state of a fresh start (tests).
void ResetCompareState();

// --- The browsed list -----------------------------------------------------------

// One entry of the browsed list.
struct CompareEntry {
  std::string sourcePath;     // left image
  std::string optimizedPath;  // right image; empty when nothing was written
  std::string failureText;    // the result's message when the pipeline failed; else empty
  std::string keptText;       // the verdict of a kept original; else empty
  QualityMap qualityMap;      // the result's window scores; empty when it has none
};

// True when the last batch left results: those are browsed, else the image list.
bool BrowsesResults(const MainWindowState& main);

// Length of the browsed list.
std::size_t BrowsedCount(const MainWindowState& main);

// Entry `index` (0 <= index < BrowsedCount) of the browsed list.
CompareEntry BrowsedEntry(const MainWindowState& main, std::size_t index);

// The index an open request stands for: `requested` when it is not negative;
// for -1 the selected row of the results list (when results are browsed) or
// of the image list, or 0 when that row is not a valid index.
int ResolveCompareIndex(const MainWindowState& main, int requested);

// Clamps `index` into the browsed list, stores it, forgets both images and
// decodes the entry: the source, and the optimised file or else a copy of the
// source. Resets the pan offsets and the worst-window step; the zoom stays.
// The entry's quality map is kept only when its size is the decoded source's
// (a source changed since the batch has none). False, with both images
// empty, when the list is empty or the source cannot be decoded; then
// `failureText` says why (the result's message for an image the batch could
// not process, else the decoder's reason).
bool LoadCompareImage(CompareState& state, const MainWindowState& main, int index);

// The index a step of -1 or +1 leads to, clamped to the list; -1 when
// nothing is to happen (empty list, or already at that end).
int NavigationTarget(int currentIndex, int step, std::size_t count);

// --- Texts and control states ---------------------------------------------------

// "Kein Bild" for an empty list, else "Bild <index + 1> von <count>".
std::string ComparePositionText(int index, std::size_t count);

// "Zoom: <zoom> %".
std::string CompareZoomText(int zoom);

// "Bildvergleich – ", the source's file name and " – " when there is a
// source, then "Orvel JPEG Optimizer".
std::string CompareWindowTitle(const std::string& sourcePath);

// The caption under the panes: file name, "   |   Original: " and the size;
// then "   →   Optimiert: ", the optimised size and " (<saving> % kleiner)"
// when there is an optimised path; else "   |   " and `failureText` when the entry failed;
// else, while results are browsed, "   |   " and why the original was kept:
// `keptText`, or "Keine kleinere Variante – Original beibehalten" when that is
// not known.
std::string CompareCaption(const std::string& sourcePath, std::uint64_t sourceBytes,
                           const std::string& optimizedPath, std::uint64_t optimizedBytes,
                           bool browsingResults, const std::string& failureText = "",
                           const std::string& keptText = "");

// The right pane's label: "Optimiert" only while it shows a written result;
// else what it shows instead ("Original (beibehalten)" for a kept image,
// "Original (noch nicht optimiert)" before any batch, "Original (Ergebnis
// nicht lesbar)" for an output that cannot be decoded, "Kein Ergebnis" for a
// failed image); then " – " and the worst window's text after a jump to it.
std::string CompareResultPaneLabel(const CompareState& state, bool browsingResults);

// What the panes' place shows instead of the images when the source cannot be
// decoded: "Das Bild kann nicht angezeigt werden: <reason>."
std::string CompareUnreadableText(const std::string& reason);

// What the five controls and the title show.
struct CompareControlsView {
  bool previousEnabled = false;  // not on the first entry
  bool nextEnabled = false;      // not on the last entry
  std::string positionText;      // ComparePositionText
  std::string zoomText;          // CompareZoomText, "Einpassen: <shown> %" while fitting
  int trackbarPosition = kCompareMinZoom;  // the zoom (the shown one, within 100..800, while fitting)
  bool fitChecked = false;       // the "Einpassen" button is down
  std::string title;             // CompareWindowTitle
};

// `shownZoom` is the zoom the panes show (ShownZoomPercent); it matters only
// while fitting.
CompareControlsView ComputeCompareControls(const CompareState& state, std::size_t count,
                                           int shownZoom = kCompareMinZoom);

// --- Zoom -------------------------------------------------------------------------

// `zoom` limited to 100..800.
int ClampZoom(int zoom);

// The zoom after one wheel event: 25 up for a positive delta, 25 down
// otherwise, limited to 100..800.
int WheelZoom(int zoom, int wheelDelta);

// The zoom after one wheel event while fitting: 0 (stay fitting) for a step
// down; a step up leaves for 100 %, or 25 above the shown zoom when that is
// already 100 % or more.
int WheelZoomFromFit(int shownZoom, int wheelDelta);

// --- Geometry ---------------------------------------------------------------------

// A rectangle by its edges, client coordinates, pixels; right and bottom are
// outside it.
struct EdgeRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

inline int RectWidth(const EdgeRect& rect) { return rect.right - rect.left; }
inline int RectHeight(const EdgeRect& rect) { return rect.bottom - rect.top; }
bool ContainsPoint(const EdgeRect& rect, int x, int y);

// A control's place: left, top, width, height, pixels.
struct ControlPlace {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// The five controls, centred on half the client width.
struct CompareControlLayout {
  ControlPlace previousButton;  // 3001
  ControlPlace positionLabel;   // 3005
  ControlPlace nextButton;      // 3002
  ControlPlace zoomLabel;       // 3004
  ControlPlace zoomTrackbar;    // 3003
  ControlPlace fitButton;       // 3006, right of the slider
};

CompareControlLayout LayoutCompareControls(int clientWidth);

// What the window paints.
struct ComparePaintLayout {
  EdgeRect originalLabel;   // "Original"
  EdgeRect optimizedLabel;  // "Optimiert"
  EdgeRect leftPane;        // the source
  EdgeRect rightPane;       // the optimised image
  EdgeRect caption;         // the caption line
  EdgeRect hint;            // the keys, under the caption
};

ComparePaintLayout ComputeComparePaintLayout(int clientWidth, int clientHeight);

// True when (x, y) lies in one of the two panes (a pan drag may start there).
bool InsideComparePane(const ComparePaintLayout& layout, int x, int y);

// Where an image is drawn in a pane for a zoom and pan, pixels. 64-bit: a
// very wide image at 800 % exceeds 32 bits.
struct DrawnImage {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t width = 0;   // lround(image width * zoom / 100), at least 1
  std::int64_t height = 0;  // lround(image height * zoom / 100), at least 1
};

// Centred in the pane; along an axis where the drawn image is larger than
// the pane the pan offset moves it, limited so that it always covers the
// pane; along an axis where it fits the pan offset is ignored.
DrawnImage PlaceImageInPane(const EdgeRect& pane, std::uint32_t imageWidth,
                            std::uint32_t imageHeight, int zoom, int panX, int panY);

// The same for `scale` logical pixels per image pixel.
DrawnImage PlaceImageScaled(const EdgeRect& pane, std::uint32_t imageWidth,
                            std::uint32_t imageHeight, double scale, int panX, int panY);

// Logical pixels per image pixel in `pane` for the state's zoom on a window
// with `devicePixelRatio` device pixels per logical pixel: zoom / 100 /
// ratio; while fitting, the largest scale at which the whole image fits the
// pane, but never above 100 %.
double PaneScale(const CompareState& state, const EdgeRect& pane, std::uint32_t imageWidth,
                 std::uint32_t imageHeight, double devicePixelRatio);

// The zoom the pane shows, per cent of device pixels, rounded.
int ShownZoomPercent(double scale, double devicePixelRatio);

// The scale both panes use: PaneScale for the source in the left pane, which
// is never wider than the right one, so a fitted image fits both.
double ComparePanesScale(const CompareState& state, const ComparePaintLayout& layout,
                         double devicePixelRatio);

// True when pixels are drawn sharp (nearest neighbour): from 200 % of
// device pixels up, and at exactly 100 %; smoothed only in between and when
// reduced.
bool DrawsSharpPixels(double scale, double devicePixelRatio);

// The part of the source that reaches the pane, and where it lands: painting
// scales only that part, never the whole image. The source rectangle has one
// pixel to spare on each side (within the image), so smooth scaling samples
// the same neighbours as it would over the whole image.
struct VisiblePart {
  bool empty = true;        // nothing of the image lies inside the pane
  int sourceLeft = 0;       // source pixels
  int sourceTop = 0;
  int sourceWidth = 0;
  int sourceHeight = 0;
  double targetLeft = 0;    // client coordinates of that part when drawn, pixels
  double targetTop = 0;
  double targetWidth = 0;
  double targetHeight = 0;
};

VisiblePart ComputeVisiblePart(const EdgeRect& pane, const DrawnImage& drawn,
                               std::uint32_t imageWidth, std::uint32_t imageHeight);

// --- Fit zoom and the quality map's keys ------------------------------------------

// Key 0 and the "Einpassen" button: fitting on (pan reset) or back off to
// the zoom before. False when there is no image to fit.
bool ToggleFitZoom(CompareState& state);

// A zoom chosen with the slider or the wheel: fitting ends, the pan resets.
void SetFixedZoom(CompareState& state, int zoom);

// Key Q: the map on or off. False (nothing changes) when the entry has no map.
bool ToggleQualityMap(CompareState& state);

// Key W: the next window of worstOrder (from the worst, wrapping round after
// the last), centred in `pane` by FocusOnWindow; fitting ends. False when
// the entry has no map.
bool StepWorstWindow(CompareState& state, const EdgeRect& pane, double devicePixelRatio);

// --- Panning ----------------------------------------------------------------------

// A left-button press at (x, y): starts a drag when it lies in a pane. True
// when a drag started.
bool BeginPanDrag(CompareState& state, const ComparePaintLayout& layout, int x, int y);

// A move to (x, y) with the left button held: adds the movement since the
// last position to both pan offsets. False when no drag is under way.
bool ContinuePanDrag(CompareState& state, int x, int y);

// Ends a drag; true when one was under way.
bool EndPanDrag(CompareState& state);
