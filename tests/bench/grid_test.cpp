// Tests of the benchmark grid: sizes per depth, order, labels and the engine
// conditions.
#include <gtest/gtest.h>

#include <set>

#include "bench/benchmark_grid.h"

namespace {

const ToolAvailability kAllTools{true, true, true};

std::vector<std::string> Labels(const std::vector<EncoderCandidate>& grid) {
  std::vector<std::string> labels;
  for (const EncoderCandidate& c : grid) labels.push_back(c.label);
  return labels;
}

bool HasLabel(const std::vector<EncoderCandidate>& grid, const std::string& label) {
  for (const EncoderCandidate& c : grid) {
    if (c.label == label) return true;
  }
  return false;
}

TEST(BenchmarkGridTest, HoldsTheDocumentedCountsWithAllEngines) {
  EXPECT_EQ(BuildBenchmarkGrid(0, false, kAllTools).size(), 22u);
  EXPECT_EQ(BuildBenchmarkGrid(0, true, kAllTools).size(), 24u);
  EXPECT_EQ(BuildBenchmarkGrid(1, false, kAllTools).size(), 53u);
  EXPECT_EQ(BuildBenchmarkGrid(1, true, kAllTools).size(), 55u);
  EXPECT_EQ(BuildBenchmarkGrid(2, false, kAllTools).size(), 189u);
  EXPECT_EQ(BuildBenchmarkGrid(2, true, kAllTools).size(), 191u);
  // Out-of-range depths act like the nearest one.
  EXPECT_EQ(BuildBenchmarkGrid(-1, true, kAllTools).size(), 24u);
  EXPECT_EQ(BuildBenchmarkGrid(7, true, kAllTools).size(), 191u);
}

TEST(BenchmarkGridTest, CompactJpegGridStartsAndEndsAsDocumented) {
  const auto grid = BuildBenchmarkGrid(0, true, kAllTools);
  const auto labels = Labels(grid);
  EXPECT_EQ(std::vector<std::string>(labels.begin(), labels.begin() + 6),
            (std::vector<std::string>{"WIC Q96", "Jpegli Q96 420 Progressive",
                                      "MozJPEG Q96 420 Progressive+Trellis", "WIC Q90",
                                      "Jpegli Q90 420 Progressive",
                                      "MozJPEG Q90 420 Progressive+Trellis"}));
  EXPECT_EQ(std::vector<std::string>(labels.begin() + 18, labels.end()),
            (std::vector<std::string>{"Jpegli Distanz 0.75", "Jpegli Distanz 1.00",
                                      "Jpegli Distanz 1.50", "Jpegli Distanz 2.00",
                                      "jpegtran lossless optimize",
                                      "jpegtran lossless progressive"}));
  for (size_t i = 0; i < grid.size(); ++i) EXPECT_EQ(grid[i].id, i + 1);

  const EncoderCandidate& mozjpeg = grid[2];
  EXPECT_EQ(mozjpeg.engine, kEngineMozjpeg);
  EXPECT_TRUE(mozjpeg.progressive && mozjpeg.trellis && !mozjpeg.chroma444);
  const EncoderCandidate& distance = grid[19];
  EXPECT_EQ(distance.engine, kEngineJpegli);
  EXPECT_TRUE(distance.useDistance && distance.progressive);
  EXPECT_EQ(distance.quality, 90);
  EXPECT_DOUBLE_EQ(distance.distance, 1.0);
  const EncoderCandidate& lossless = grid[23];
  EXPECT_EQ(lossless.engine, kEngineJpegtran);
  EXPECT_TRUE(lossless.progressive);
  EXPECT_FALSE(grid[0].useDistance);
  EXPECT_DOUBLE_EQ(grid[0].distance, 1.0);
}

TEST(BenchmarkGridTest, OptionalRowsFollowDepthAndQuality) {
  const auto compact = BuildBenchmarkGrid(0, false, kAllTools);
  for (const EncoderCandidate& c : compact) {
    EXPECT_FALSE(c.chroma444) << c.label;
    EXPECT_TRUE(c.engine == kEngineWic || c.progressive) << c.label;
    EXPECT_TRUE(c.engine != kEngineMozjpeg || c.trellis) << c.label;
  }
  const auto standard = BuildBenchmarkGrid(1, false, kAllTools);
  std::set<int> plainMozjpeg;
  std::set<int> fullChroma;
  for (const EncoderCandidate& c : standard) {
    if (c.engine == kEngineMozjpeg && !c.trellis) plainMozjpeg.insert(c.quality);
    if (c.chroma444) fullChroma.insert(c.quality);
  }
  EXPECT_EQ(plainMozjpeg, (std::set<int>{96, 88, 80, 72, 64, 56}));
  EXPECT_EQ(fullChroma, (std::set<int>{96, 92, 88}));
  EXPECT_TRUE(HasLabel(standard, "MozJPEG Q80 420 Progressive"));
  EXPECT_TRUE(HasLabel(standard, "Jpegli Q92 444 Progressive"));
  EXPECT_TRUE(HasLabel(standard, "Jpegli Distanz 2.50"));

  const auto deep = BuildBenchmarkGrid(2, false, kAllTools);
  EXPECT_TRUE(HasLabel(deep, "Jpegli Distanz 0.35"));
  EXPECT_TRUE(HasLabel(deep, "WIC Q40"));
  EXPECT_TRUE(HasLabel(deep, "Jpegli Q98 420 Baseline"));
  EXPECT_TRUE(HasLabel(deep, "MozJPEG Q42 420 Progressive"));
  EXPECT_FALSE(HasLabel(deep, "MozJPEG Q40 420 Progressive"));
  EXPECT_TRUE(HasLabel(deep, "MozJPEG Q40 420 Baseline+Trellis"));
  EXPECT_TRUE(HasLabel(deep, "MozJPEG Q88 444 Progressive+Trellis"));
  EXPECT_FALSE(HasLabel(deep, "MozJPEG Q86 444 Progressive+Trellis"));
}

TEST(BenchmarkGridTest, MissingEnginesLeaveConsecutiveIds) {
  const auto wicOnly = BuildBenchmarkGrid(1, true, ToolAvailability{false, false, false});
  ASSERT_EQ(wicOnly.size(), 11u);
  for (size_t i = 0; i < wicOnly.size(); ++i) {
    EXPECT_EQ(wicOnly[i].engine, kEngineWic);
    EXPECT_EQ(wicOnly[i].id, i + 1);
  }
  const auto noJpegli = BuildBenchmarkGrid(0, true, ToolAvailability{false, true, true});
  EXPECT_EQ(noJpegli.size(), 6u * 2 + 2);
  for (size_t i = 0; i < noJpegli.size(); ++i) {
    EXPECT_NE(noJpegli[i].engine, kEngineJpegli);
    EXPECT_EQ(noJpegli[i].id, i + 1);
  }
  // jpegtran rows need both a JPEG source and the tool.
  EXPECT_EQ(BuildBenchmarkGrid(0, true, ToolAvailability{true, true, false}).size(), 22u);
  EXPECT_EQ(BuildBenchmarkGrid(0, false, ToolAvailability{false, false, true}).size(), 6u);
  EXPECT_EQ(BuildBenchmarkGrid(0, true, ToolAvailability{false, false, true}).size(), 8u);
}

}  // namespace
