// The benchmark grid: the wide list of encoder settings that profile
// development measures on every image, far more than the optimiser's own
// plan. Its size follows the test depth ("Testtiefe") and which tools are
// available; the entries are the same EncoderCandidate records the optimiser
// encodes, so they go through the same command lines.
//
// Neighbours: core/candidate_plan (EncoderCandidate, ToolAvailability),
// worker (builds one grid per image), raw_results (writes the labels).
#pragma once

#include <cstdint>
#include <vector>

#include "core/candidate_plan.h"

// Depth indices of the "Testtiefe" choice.
constexpr std::int32_t kDepthCompact = 0;   // "Kompakt (~20–30 Kandidaten)"
constexpr std::int32_t kDepthStandard = 1;  // "Standard (~40–60 Kandidaten)"
constexpr std::int32_t kDepthDeep = 2;      // "Tiefenanalyse (~80+ Kandidaten)"

// The grid for one image. A depth below 0 counts as 0, above 2 as 2.
// `jpegSource` is true only for a JPEG source whose copy for jpegtran is in
// place. Identifiers count from 1 without gaps.
std::vector<EncoderCandidate> BuildBenchmarkGrid(std::int32_t depth, bool jpegSource,
                                                 const ToolAvailability& tools);

// The same with the engine store's current flags.
std::vector<EncoderCandidate> BuildBenchmarkGrid(std::int32_t depth, bool jpegSource);
