// The windowed quality analysis: window layout and order, the aggregation, the
// invalid report, and the window figures on inputs small enough to follow by
// hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "imaging/quality.h"
#include "tests/imaging/fixtures.h"

namespace {

using Origins = std::vector<std::uint32_t>;

double GreyLuma(double v) { return (0.0722 * v + 0.7152 * v) + 0.2126 * v; }

TEST(WindowOrigins, ReachTheFarEdge) {
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
  ASSERT_EQ(report.windowScores.size(), 8u);
  const double belowOne = std::nextafter(1.0, 0.0);
  for (double score : report.windowScores) EXPECT_EQ(score, belowOne);
  EXPECT_EQ(report.color, 1.0);
  EXPECT_EQ(report.edge, 1.0);
  EXPECT_EQ(report.ringing, 1.0);
  EXPECT_EQ(report.banding, 1.0);
  EXPECT_EQ(report.worst, belowOne);
  EXPECT_EQ(report.worst5, belowOne);
}

TEST(QualityAnalysis, WindowsAreVisitedRowByRow) {
  // 300 x 128: four windows across ([0, 61, 122, 173]) in two rows ([0, 1]).
  // Pixel (293, 0) is a sample of the window at (173, 0) only: the windows of
  // the second row start at row 1.
  const PixelImage reference = MakeSolidImage(300, 128, 90, 90, 90);
  PixelImage test = reference;
  SetPixel(test, 293, 0, 250, 250, 250);
  const QualityReport report = AnalyzeQuality(reference, test);
  ASSERT_EQ(report.windowScores.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    if (i == 3) {
      EXPECT_LT(report.windowScores[i], 0.999) << i;
    } else {
      EXPECT_EQ(report.windowScores[i], std::nextafter(1.0, 0.0)) << i;
    }
  }
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
    EXPECT_EQ(report.global, 0.0);
    EXPECT_EQ(report.worst5, 0.0);
    EXPECT_EQ(report.worst, 0.0);
    EXPECT_EQ(report.color, 0.0);
    EXPECT_EQ(report.banding, 0.0);
    EXPECT_EQ(report.composite, 0.0);
  }
}

TEST(ScoreWindow, SinglePixelCombinesColourAndStructure) {
  const PixelImage reference = MakeSolidImage(1, 1, 0, 0, 0);
  const PixelImage test = MakeSolidImage(1, 1, 0, 0, 30);
  const WindowScore w = ScoreWindow(reference, test, 0, 0, 1, 1);
  const double meanT = GreyLuma(0) + 0.2126 * 30.0 - 0.0;
  const double structure = (6.5025 * 58.5225) / ((meanT * meanT + 6.5025) * 58.5225);
  const double color = 1.0 - 2.2 * (30.0 / 765.0);
  EXPECT_EQ(w.color, color);
  EXPECT_EQ(w.edge, 1.0);
  EXPECT_EQ(w.ringing, 1.0);
  EXPECT_EQ(w.banding, 1.0);
  EXPECT_EQ(w.score, 0.18 * color + 0.5 * structure + 0.14 + 0.09 + 0.09);
}

TEST(ScoreWindow, UniformGreyDependsOnlyOnTheMeans) {
  const PixelImage reference = MakeSolidImage(20, 20, 100, 100, 100);
  const PixelImage test = MakeSolidImage(20, 20, 110, 110, 110);
  const WindowScore w = ScoreWindow(reference, test, 0, 0, 20, 20);
  const double r = GreyLuma(100), t = GreyLuma(110);
  const double structure = (2.0 * r * t + 6.5025) * 58.5225 / ((r * r + t * t + 6.5025) * 58.5225);
  const double color = 1.0 - 2.2 * (30.0 / 765.0);
  EXPECT_EQ(w.banding, 1.0);
  EXPECT_EQ(w.edge, 1.0);
  EXPECT_EQ(w.ringing, 1.0);
  EXPECT_EQ(w.score, 0.18 * color + 0.5 * structure + 0.14 + 0.09 + 0.09);
}

TEST(ScoreWindow, NarrowWindowHasNoGradientSamples) {
  const PixelImage reference = MakeNoiseImage(2, 9, 4);
  const PixelImage test = MakeNoiseImage(2, 9, 5);
  const WindowScore w = ScoreWindow(reference, test, 0, 0, 2, 9);
  EXPECT_EQ(w.edge, 1.0);
  EXPECT_EQ(w.ringing, 1.0);
  EXPECT_EQ(w.banding, 1.0);
  EXPECT_LT(w.color, 1.0);
}

TEST(ScoreWindow, RingingCountsOnlyAGainAtStrongEdges) {
  // Samples at (0,0), (5,0), (0,5), (5,5); only (0,0) sees a reference edge:
  // its right neighbour (2,0) is grey 100, so the reference gradient is 100.
  PixelImage reference = MakeSolidImage(10, 10, 0, 0, 0);
  SetPixel(reference, 2, 0, 100, 100, 100);
  PixelImage sharper = reference;
  SetPixel(sharper, 2, 0, 200, 200, 200);
  PixelImage softer = reference;
  SetPixel(softer, 2, 0, 0, 0, 0);
  const WindowScore gain = ScoreWindow(reference, sharper, 0, 0, 10, 10);
  const WindowScore loss = ScoreWindow(reference, softer, 0, 0, 10, 10);
  EXPECT_EQ(gain.ringing, 0.0);  // (100 - 8) / 64 clamps to a full penalty
  EXPECT_EQ(loss.ringing, 1.0);
  const double g = GreyLuma(100);
  EXPECT_NEAR(loss.edge, 1.0 - g / ((g + 18.0) + 18.0 * 3), 1e-12);
  EXPECT_EQ(loss.banding, 1.0);  // the three flat samples are unchanged
}

TEST(ScoreWindow, BandingPenalisesStepsInFlatAreas) {
  const PixelImage reference = MakeSolidImage(10, 10, 50, 50, 50);
  PixelImage test = reference;
  SetPixel(test, 0, 2, 60, 60, 60);  // lower neighbour of sample (0, 0)
  const WindowScore w = ScoreWindow(reference, test, 0, 0, 10, 10);
  const double step = GreyLuma(60) - GreyLuma(50);
  EXPECT_NEAR(w.banding, 1.0 - ((step - 2.0) / 22.0) / 4.0, 1e-12);
  EXPECT_EQ(w.ringing, 1.0);
}

TEST(ScoreWindow, BoundsOutsideTheImageScoreZero) {
  const PixelImage image = MakeGradientImage(10, 10);
  const WindowScore outside = ScoreWindow(image, image, 0, 0, 11, 10);
  EXPECT_EQ(outside.score, 0.0);
  EXPECT_EQ(outside.edge, 0.0);
  const WindowScore empty = ScoreWindow(image, image, 5, 5, 5, 9);
  EXPECT_EQ(empty.score, 0.0);
}

}  // namespace
