// orvel-compare-paint-benchmark [IMAGE_FILE]
//
// Prints the time of one paint of the compare window's client area
// (1320 x 840 pixels, both panes, labels and caption) and of one pane alone,
// for a 24-megapixel image (6000 x 4000, generated; or the given file) at
// 100 % and 800 % zoom, centred and panned. For comparison it also prints
// one pane drawn by handing the whole image to QPainter, scaled to its full
// drawn size, with the pane as the clip: the pane painting itself never
// relies on the paint engine to skip what the clip hides, it passes only the
// visible source rectangle. Each figure is the best of several runs, so a
// busy machine shows less noise. Then the window with the quality map on,
// against the map off in the same run: every window of the image scored, a
// third of them below the limits so that many cells are tinted. Runs
// offscreen unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>

#include "imaging/decode.h"
#include "platform/text.h"
#include "ui/compare/compare_painting.h"
#include "ui/compare/compare_view.h"
#include "ui/compare/quality_map.h"
#include "ui/main/fonts.h"

namespace {

constexpr int kClientWidth = 1320;
constexpr int kClientHeight = 840;
constexpr int kMinRuns = 5;
constexpr double kMinSeconds = 0.5;
constexpr double kMaxSeconds = 20;

double Now() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Best time in milliseconds over at least kMinRuns runs and kMinSeconds (at
// most kMaxSeconds, for the slow comparison).
template <typename Run>
double BestMilliseconds(Run run) {
  double best = 1e300, spent = 0;
  for (int i = 0; (i < kMinRuns || spent < kMinSeconds) && spent < kMaxSeconds; ++i) {
    const double start = Now();
    run();
    const double took = Now() - start;
    best = std::min(best, took);
    spent += took;
  }
  return best * 1000;
}

// A 6000 x 4000 picture with gradients and fine detail.
PixelImage MakeLargePicture() {
  PixelImage image;
  image.width = 6000;
  image.height = 4000;
  image.pixels.resize(static_cast<std::size_t>(image.width) * image.height * 4);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::uint8_t* row = &image.pixels[static_cast<std::size_t>(y) * image.width * 4];
    for (std::uint32_t x = 0; x < image.width; ++x) {
      row[x * 4 + 0] = static_cast<std::uint8_t>((x * 255) / image.width);
      row[x * 4 + 1] = static_cast<std::uint8_t>((y * 255) / image.height);
      row[x * 4 + 2] = static_cast<std::uint8_t>(((x ^ y) & 31) * 8);
      row[x * 4 + 3] = 255;
    }
  }
  return image;
}

// The pane drawn the naive way: the whole image scaled, clipped to the pane.
void PaintPaneWhole(QPainter& painter, const PixelImage& image, const EdgeRect& pane, int zoom,
                    int panX, int panY) {
  const QRect paneRect(pane.left, pane.top, RectWidth(pane), RectHeight(pane));
  painter.fillRect(paneRect, ComparePaneColor());
  const DrawnImage drawn = PlaceImageInPane(pane, image.width, image.height, zoom, panX, panY);
  painter.save();
  painter.setClipRect(paneRect);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(QRectF(drawn.left, drawn.top, drawn.width, drawn.height), WrapPixelImage(image));
  painter.restore();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  CreateSharedFonts();

  CompareState& state = CompareViewState();
  if (argc >= 2) {
    if (!DecodeImageFile(argv[1], state.sourceImage)) {
      std::fprintf(stderr, "cannot decode %s\n", argv[1]);
      return 1;
    }
    state.sourcePath = argv[1];
  } else {
    state.sourceImage = MakeLargePicture();
    state.sourcePath = "generated-6000x4000.jpg";
  }
  state.optimizedImage = state.sourceImage;
  const PixelImage& image = state.sourceImage;
  std::printf("image %ux%u (%s MP), client area %dx%d, Qt %s, platform %s\n", image.width,
              image.height, FormatFixed(image.width * double(image.height) / 1e6, 1).c_str(),
              kClientWidth, kClientHeight, qVersion(),
              QGuiApplication::platformName().toStdString().c_str());

  QImage canvas(kClientWidth, kClientHeight, QImage::Format_RGB32);
  const ComparePaintLayout layout = ComputeComparePaintLayout(kClientWidth, kClientHeight);
  struct Case {
    int zoom, panX, panY;
    const char* what;
  };
  std::printf("%-28s %12s %12s %22s\n", "zoom / pan", "window ms", "one pane ms",
              "whole image, clipped");
  for (const Case c : {Case{100, 0, 0, "100 %, centred"}, Case{100, 1500, -900, "100 %, panned"},
                       Case{800, 0, 0, "800 %, centred"}, Case{800, 20000, -9000, "800 %, panned"}}) {
    state.zoom = c.zoom;
    state.panX = c.panX;
    state.panY = c.panY;
    const double windowMs = BestMilliseconds([&]() {
      QPainter painter(&canvas);
      PaintCompareWindow(painter, kClientWidth, kClientHeight, state, true);
    });
    const double paneMs = BestMilliseconds([&]() {
      QPainter painter(&canvas);
      PaintComparePane(painter, image, layout.leftPane, c.zoom, c.panX, c.panY);
    });
    const double wholeMs = BestMilliseconds([&]() {
      QPainter painter(&canvas);
      PaintPaneWhole(painter, image, layout.leftPane, c.zoom, c.panX, c.panY);
    });
    std::printf("%-28s %12s %12s %22s\n", c.what, FormatFixed(windowMs, 2).c_str(),
                FormatFixed(paneMs, 2).c_str(), FormatFixed(wholeMs, 2).c_str());
  }
  // The quality map: scores falling in bands across the image.
  const std::vector<AnalysisWindow> windows = AnalysisWindows(image.width, image.height);
  std::vector<double> scores(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) scores[i] = 0.80 + 0.05 * static_cast<double>(i % 6);
  state.qualityMap = QualityMap{image.width, image.height, windows, scores, 0.942, 0.93, false};
  const double buildStart = Now();
  state.mapCells = BuildMapCells(state.qualityMap);
  const double buildMs = (Now() - buildStart) * 1000;
  state.worstOrder = WorstWindowOrder(scores);
  std::printf("\nquality map: %zu windows, %zu cells, built in %s ms, %s KB of scores\n", windows.size(),
              state.mapCells.tints.size(), FormatFixed(buildMs, 2).c_str(),
              FormatFixed(scores.size() * sizeof(double) / 1024.0, 1).c_str());
  // One window paint with the map off and on, milliseconds.
  const auto offAndOn = [&]() {
    std::array<double, 2> ms{};
    for (const bool on : {false, true}) {
      state.qualityMapShown = on;
      ms[on] = BestMilliseconds([&]() {
        QPainter painter(&canvas);
        PaintCompareWindow(painter, kClientWidth, kClientHeight, state, true);
      });
    }
    return ms;
  };
  std::printf("%-28s %12s %12s %10s\n", "zoom / pan", "map off ms", "map on ms", "ratio");
  for (const Case c : {Case{100, 1500, -900, "100 %, panned"}, Case{800, 20000, -9000, "800 %, panned"}}) {
    state.fitZoom = false;
    state.zoom = c.zoom;
    state.panX = c.panX;
    state.panY = c.panY;
    const std::array<double, 2> ms = offAndOn();
    std::printf("%-28s %12s %12s %10s\n", c.what, FormatFixed(ms[0], 2).c_str(), FormatFixed(ms[1], 2).c_str(),
                FormatFixed(ms[1] / ms[0], 2).c_str());
  }
  {
    state.fitZoom = true;
    const std::array<double, 2> ms = offAndOn();
    std::printf("%-28s %12s %12s %10s\n", "fitted (whole image)", FormatFixed(ms[0], 2).c_str(),
                FormatFixed(ms[1], 2).c_str(), FormatFixed(ms[1] / ms[0], 2).c_str());
  }
  ReleaseSharedFonts();
  return 0;
}
