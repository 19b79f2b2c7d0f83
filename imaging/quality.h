// The windowed, codec-independent quality analysis that the quality gate and
// the profile-development bench apply to a decoded candidate.
//
// The image is covered by overlapping square windows (side 127, stride 61);
// each window is sampled every 5 pixels and rated for luma structure (SSIM),
// colour deviation, edge preservation, ringing and banding. The window scores
// are aggregated into a global mean, the mean of the weakest 5 %, the worst
// window and a composite. Double precision throughout, in a fixed summation
// order, so the figures are reproducible to the last bit.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/pixel_image.h"

struct WindowScore {
  double score = 0;    // weighted window score, 0..1 (1 is perfect)
  double color = 0;    // colour deviation score, 0..1
  double edge = 0;     // edge preservation score, 0..1
  double ringing = 0;  // ringing score, 0..1
  double banding = 0;  // banding score, 0..1
};

// An empty `windowScores` marks an invalid comparison; all figures are then 0.
struct QualityReport {
  double global = 0;     // mean of all window scores
  double worst5 = 0;     // mean of the lowest 5 % of window scores (at least one)
  double worst = 0;      // lowest window score
  double color = 0;      // mean colour score
  double edge = 0;       // mean edge score
  double ringing = 0;    // mean ringing score
  double banding = 0;    // mean banding score
  double composite = 0;  // 0.3 worst5 + 0.55 global + 0.15 worst, clamped to 0..1
  std::vector<double> windowScores;  // per window, rows top to bottom, left to right
};

// Compares `test` against `reference` (not symmetric: gradients and thresholds
// come from the reference).
QualityReport AnalyzeQuality(const PixelImage& reference, const PixelImage& test);

// One analysis window: columns x0 <= x < x1, rows y0 <= y < y1, pixels.
struct AnalysisWindow {
  std::uint32_t x0 = 0;
  std::uint32_t y0 = 0;
  std::uint32_t x1 = 0;
  std::uint32_t y1 = 0;
};

// The windows AnalyzeQuality scores for an image of that size, in the order
// of QualityReport::windowScores; empty when a side is 0. Callers that keep
// the scores use it to know where each score belongs.
std::vector<AnalysisWindow> AnalysisWindows(std::uint32_t width, std::uint32_t height);

// Window origins along one axis of length `total` for window side `side`.
std::vector<std::uint32_t> WindowOrigins(std::uint32_t total, std::uint32_t side);

// Scores the window covering columns x0 <= x < x1 and rows y0 <= y < y1.
WindowScore ScoreWindow(const PixelImage& reference, const PixelImage& test,
                        std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1);
