// The windowed quality analysis: window layout and order, the aggregation, the
// invalid report, and the window figures on inputs small enough to follow by
// hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "imaging/quality.h"
#include "tests/imaging/fixtures.h"

namespace {

const double kBelowOne = std::nextafter(1.0, 0.0);

double GreyLuma(double v) { return (0.0722 * v + 0.7152 * v) + 0.2126 * v; }

}  // namespace

TEST(WindowOrigins, ReachTheFarEdge) {
  using Origins = std::vector<std::uint32_t>;
  EXPECT_EQ(WindowOrigins(127, 127), Origins({0}));
  EXPECT_EQ(WindowOrigins(50, 50), Origins({0}));
  EXPECT_EQ(WindowOrigins(128, 127), Origins({0, 1}));
  EXPECT_EQ(WindowOrigins(188, 127), Origins({0, 61}));
  EXPECT_EQ(WindowOrigins(189, 127), Origins({0, 61, 62}));
  EXPECT_EQ(WindowOrigins(300, 127), Origins({0, 61, 122, 173}));
  EXPECT_EQ(WindowOrigins(440, 127), Origins({0, 61, 122, 183, 244, 305, 313}));
}

TEST(QualityAnalysis, IdenticalImagesScoreJustBelowOne) {
  const PixelImage image = MakeNoiseImage(300, 128, 21);
  const QualityReport report = AnalyzeQuality(image, image);
  EXPECT_EQ(report.windowScores, std::vector<double>(8, kBelowOne));
  EXPECT_EQ(report.color + report.edge + report.ringing + report.banding, 4.0);
  EXPECT_EQ(report.worst, kBelowOne);
  EXPECT_EQ(report.worst5, kBelowOne);
}

TEST(QualityAnalysis, WindowsAreVisitedRowByRow) {
  // 300 x 128: four windows across ([0, 61, 122, 173]) in two rows ([0, 1]).
  // Pixel (293, 0) is a sample of the window at (173, 0) only: the windows of
  // the second row start at row 1.
  const PixelImage reference = MakeSolidImage(300, 128, 90, 90, 90);
  PixelImage test = reference;
  SetPixel(test, 293, 0, 250, 250, 250);
  std::vector<double> scores = AnalyzeQuality(reference, test).windowScores;
  ASSERT_EQ(scores.size(), 8u);
  EXPECT_LT(scores[3], 0.999);
  scores[3] = kBelowOne;
  EXPECT_EQ(scores, std::vector<double>(8, kBelowOne));
}

TEST(QualityAnalysis, AggregatesOverTheWindows) {
  // 440 x 200: seven windows across, three down, 21 in all, so the weakest
  // five per cent are the two lowest scores.
  const PixelImage reference = MakeGradientImage(440, 200);
  PixelImage test = reference;
  for (std::uint32_t y = 0; y < 60; ++y) {
    for (std::uint32_t x = 0; x < 60; ++x) SetPixel(test, x, y, 0, 255, 0);
  }
  for (std::uint32_t y = 140; y < 200; y += 5) SetPixel(test, 435, y, 255, 0, 255);
  const QualityReport report = AnalyzeQuality(reference, test);
  ASSERT_EQ(report.windowScores.size(), 21u);
  std::vector<double> sorted = report.windowScores;
  std::sort(sorted.begin(), sorted.end());
  ASSERT_LT(sorted[0], sorted[1]);
  EXPECT_EQ(report.worst, sorted[0]);
  EXPECT_EQ(report.worst5, (sorted[0] + sorted[1]) / 2.0);
  double sum = 0;
  for (double score : report.windowScores) sum += score;
  EXPECT_EQ(report.global, sum / 21.0);
  EXPECT_EQ(report.composite, report.worst5 * 0.3 + report.global * 0.55 + report.worst * 0.15);
  EXPECT_LT(report.color, 1.0);
}

TEST(QualityAnalysis, SmallImageIsOneWindow) {
  const PixelImage reference = MakeGradientImage(127, 90);
  const PixelImage test = MakeNoiseImage(127, 90, 3);
  const QualityReport report = AnalyzeQuality(reference, test);
  ASSERT_EQ(report.windowScores.size(), 1u);
  EXPECT_EQ(report.worst, report.global);
  EXPECT_EQ(report.worst5, report.global);
  EXPECT_NEAR(report.composite, report.global, 1e-15);
  const WindowScore window = ScoreWindow(reference, test, 0, 0, 127, 90);
  EXPECT_EQ(window.score, report.global);
  EXPECT_EQ(window.edge, report.edge);
}

TEST(QualityAnalysis, UnusableOrMismatchedImagesGiveTheInvalidReport) {
  const PixelImage image = MakeGradientImage(20, 10);
  PixelImage noBuffer;
  noBuffer.width = 20;
  noBuffer.height = 10;
  for (const QualityReport& report :
       {AnalyzeQuality(image, MakeGradientImage(10, 20)), AnalyzeQuality(image, PixelImage{}),
        AnalyzeQuality(PixelImage{}, image), AnalyzeQuality(image, noBuffer)}) {
    EXPECT_TRUE(report.windowScores.empty());
    EXPECT_EQ(report.global + report.worst5 + report.worst + report.color + report.banding +
                  report.composite, 0.0);
  }
}

// Single pixel, uniform grey and a window too narrow for gradient samples.
TEST(ScoreWindow, FlatWindowsCombineColourAndStructure) {
  const double red30 = GreyLuma(0) + 0.2126 * 30.0 - 0.0;
  const double onePixelStructure = (6.5025 * 58.5225) / ((red30 * red30 + 6.5025) * 58.5225);
  const double r = GreyLuma(100), t = GreyLuma(110);
  const double greyStructure = (2.0 * r * t + 6.5025) * 58.5225 / ((r * r + t * t + 6.5025) * 58.5225);
  const double color = 1.0 - 2.2 * (30.0 / 765.0);
  const WindowScore pixel =
      ScoreWindow(MakeSolidImage(1, 1, 0, 0, 0), MakeSolidImage(1, 1, 0, 0, 30), 0, 0, 1, 1);
  const WindowScore grey =
      ScoreWindow(MakeSolidImage(20, 20, 100, 100, 100), MakeSolidImage(20, 20, 110, 110, 110), 0, 0, 20, 20);
  const WindowScore narrow = ScoreWindow(MakeNoiseImage(2, 9, 4), MakeNoiseImage(2, 9, 5), 0, 0, 2, 9);
  EXPECT_EQ(pixel.color, color);
  EXPECT_EQ(pixel.score, 0.18 * color + 0.5 * onePixelStructure + 0.14 + 0.09 + 0.09);
  EXPECT_EQ(grey.score, 0.18 * color + 0.5 * greyStructure + 0.14 + 0.09 + 0.09);
  for (const WindowScore& w : {pixel, grey, narrow}) {
    EXPECT_EQ(w.edge, 1.0);
    EXPECT_EQ(w.ringing, 1.0);
    EXPECT_EQ(w.banding, 1.0);
  }
  EXPECT_LT(narrow.color, 1.0);
}

TEST(ScoreWindow, RingingCountsOnlyAGainAtStrongEdges) {
  // Samples at (0,0), (5,0), (0,5), (5,5); only (0,0) sees a reference edge:
  // its right neighbour (2,0) is grey 100, so the reference gradient is 100.
  PixelImage reference = MakeSolidImage(10, 10, 0, 0, 0);
  SetPixel(reference, 2, 0, 100, 100, 100);
  PixelImage sharper = reference, softer = reference;
  SetPixel(sharper, 2, 0, 200, 200, 200);
  SetPixel(softer, 2, 0, 0, 0, 0);
  const WindowScore gain = ScoreWindow(reference, sharper, 0, 0, 10, 10);
  const WindowScore loss = ScoreWindow(reference, softer, 0, 0, 10, 10);
  EXPECT_EQ(gain.ringing, 0.0);  // (100 - 8) / 64 clamps to a full penalty
  EXPECT_EQ(loss.ringing, 1.0);
  const double g = GreyLuma(100);
  EXPECT_NEAR(loss.edge, 1.0 - g / ((g + 18.0) + 18.0 * 3), 1e-12);
  EXPECT_EQ(loss.banding, 1.0);  // the three flat samples are unchanged
}

TEST(ScoreWindow, BandingPenalisesStepsInFlatAreasAndBoundsOutsideScoreZero) {
  const PixelImage reference = MakeSolidImage(10, 10, 50, 50, 50);
  PixelImage test = reference;
  SetPixel(test, 0, 2, 60, 60, 60);  // lower neighbour of sample (0, 0)
  const WindowScore w = ScoreWindow(reference, test, 0, 0, 10, 10);
  const double step = GreyLuma(60) - GreyLuma(50);
  EXPECT_NEAR(w.banding, 1.0 - ((step - 2.0) / 22.0) / 4.0, 1e-12);
  EXPECT_EQ(w.ringing, 1.0);
  const PixelImage image = MakeGradientImage(10, 10);
  const WindowScore outside = ScoreWindow(image, image, 0, 0, 11, 10);
  EXPECT_EQ(outside.score + outside.edge, 0.0);
  EXPECT_EQ(ScoreWindow(image, image, 5, 5, 5, 9).score, 0.0);
}
