// Building the benchmark grid; see benchmark_grid.h.
#include "bench/benchmark_grid.h"

#include <algorithm>
#include <string>

#include "platform/text.h"

namespace {

std::vector<int> QualityList(std::int32_t depth) {
  std::vector<int> qualities;
  if (depth <= kDepthCompact) return {96, 90, 84, 78, 72, 64};
  if (depth == kDepthStandard) {
    for (int q = 96; q >= 56; q -= 4) qualities.push_back(q);
  } else {
    for (int q = 98; q >= 40; q -= 2) qualities.push_back(q);
  }
  return qualities;
}

std::vector<double> DistanceList(std::int32_t depth) {
  if (depth <= kDepthCompact) return {0.75, 1.0, 1.5, 2.0};
  if (depth == kDepthStandard) return {0.5, 0.75, 1.0, 1.25, 1.5, 2.0, 2.5, 3.0};
  return {0.35, 0.5, 0.65, 0.8, 1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 3.5};
}

void Append(std::vector<EncoderCandidate>& grid, std::int32_t engine, int quality, bool progressive,
            bool trellis, bool chroma444, std::string label) {
  EncoderCandidate candidate;
  candidate.id = static_cast<std::uint32_t>(grid.size() + 1);
  candidate.engine = engine;
  candidate.quality = quality;
  candidate.progressive = progressive;
  candidate.trellis = trellis;
  candidate.chroma444 = chroma444;
  candidate.label = std::move(label);
  grid.push_back(std::move(candidate));
}

// The rows of one quality, in their fixed order.
void AppendQualityRows(std::vector<EncoderCandidate>& grid, std::int32_t depth, int q, size_t position,
                       const ToolAvailability& tools) {
  const std::string qText = FormatInteger(q);
  const bool high = q >= 88;
  const bool evenPosition = position % 2 == 0;
  Append(grid, kEngineWic, q, false, false, false, "WIC Q" + qText);
  if (tools.jpegli) {
    const std::string name = "Jpegli Q" + qText;
    Append(grid, kEngineJpegli, q, true, false, false, name + " 420 Progressive");
    if (depth >= 1 && high) Append(grid, kEngineJpegli, q, true, false, true, name + " 444 Progressive");
    if (depth >= 2) Append(grid, kEngineJpegli, q, false, false, false, name + " 420 Baseline");
  }
  if (tools.mozjpeg) {
    const std::string name = "MozJPEG Q" + qText;
    Append(grid, kEngineMozjpeg, q, true, true, false, name + " 420 Progressive+Trellis");
    if (depth >= 1 && evenPosition) Append(grid, kEngineMozjpeg, q, true, false, false, name + " 420 Progressive");
    if (depth >= 2) Append(grid, kEngineMozjpeg, q, false, true, false, name + " 420 Baseline+Trellis");
    if (depth >= 1 && high) Append(grid, kEngineMozjpeg, q, true, true, true, name + " 444 Progressive+Trellis");
  }
}

}  // namespace

std::vector<EncoderCandidate> BuildBenchmarkGrid(std::int32_t depth, bool jpegSource,
                                                 const ToolAvailability& tools) {
  depth = std::clamp(depth, kDepthCompact, kDepthDeep);
  std::vector<EncoderCandidate> grid;
  const std::vector<int> qualities = QualityList(depth);
  for (size_t i = 0; i < qualities.size(); ++i) AppendQualityRows(grid, depth, qualities[i], i, tools);
  if (tools.jpegli) {
    for (const double d : DistanceList(depth)) {
      Append(grid, kEngineJpegli, 90, true, false, false, "Jpegli Distanz " + FormatFixed(d, 2));
      grid.back().useDistance = true;
      grid.back().distance = d;
    }
  }
  if (jpegSource && tools.jpegtran) {
    Append(grid, kEngineJpegtran, 90, false, false, false, "jpegtran lossless optimize");
    Append(grid, kEngineJpegtran, 90, true, false, false, "jpegtran lossless progressive");
  }
  return grid;
}

std::vector<EncoderCandidate> BuildBenchmarkGrid(std::int32_t depth, bool jpegSource) {
  return BuildBenchmarkGrid(depth, jpegSource, CurrentToolAvailability());
}
