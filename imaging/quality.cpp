// The windowed quality analysis of the quality gate and the profile-development
// bench. Neighbours: the pipeline in core/ and the bench worker call
// AnalyzeQuality on the decoded source and the decoded candidate.
//
// Every figure is reproduced bit for bit by an independent implementation, so
// the arithmetic below keeps one fixed form: double precision, sums in the
// stated order, no reassociation (the file is compiled without contraction to
// fused multiply-add). The loops recompute luma at each visit with the same
// expression instead of caching it, which costs little since only one pixel in
// 25 is sampled.
#include "imaging/quality.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr std::uint32_t kWindowSide = 127;
constexpr std::uint32_t kWindowStride = 61;
constexpr std::uint64_t kSampleStep = 5;
constexpr std::uint64_t kGradientOffset = 2;

constexpr double kC1 = 6.5025;   // (0.01 * 255)^2
constexpr double kC2 = 58.5225;  // (0.03 * 255)^2
constexpr double kColorNormaliser = 765.0;
constexpr double kColorFactor = 2.2;
constexpr double kEdgeFloor = 18.0;
constexpr double kStrongEdge = 24.0;
constexpr double kRingingOffset = 8.0;
constexpr double kRingingScale = 0.015625;
constexpr double kFlatArea = 7.0;
constexpr double kBandingOffset = 2.0;
constexpr double kBandingDivisor = 22.0;
constexpr double kWorstShare = 0.05;

double Clamp01(double v) { return v > 1.0 ? 1.0 : (v < 0.0 ? 0.0 : v); }

// Read access to one image's pixels.
struct Plane {
  const std::uint8_t* pixels;  // BGRA, rows packed
  std::uint64_t width;         // pixels per row

  const std::uint8_t* At(std::uint64_t x, std::uint64_t y) const {
    return pixels + (y * width + x) * 4;
  }
  double Luma(std::uint64_t x, std::uint64_t y) const {
    const std::uint8_t* p = At(x, y);
    return (0.0722 * static_cast<double>(p[0]) + 0.7152 * static_cast<double>(p[1])) +
           0.2126 * static_cast<double>(p[2]);
  }
};

struct Bounds {
  std::uint64_t x0, y0, x1, y1;  // columns x0 <= x < x1, rows y0 <= y < y1
};

// Sums of the first pass: luma means and colour deviation.
struct FirstPass {
  double sumR = 0, sumT = 0, sumC = 0;
  std::uint64_t n = 0;
};

// Sums of the second pass: variances, covariance, gradients.
struct SecondPass {
  double varR = 0, varT = 0, cov = 0;
  double edgeDiff = 0, edgeBase = 0, ringSum = 0, bandSum = 0;
  std::uint64_t m = 0, r = 0, b = 0;
};

FirstPass RunFirstPass(const Plane& ref, const Plane& test, const Bounds& w) {
  FirstPass s;
  for (std::uint64_t y = w.y0; y < w.y1; y += kSampleStep) {
    for (std::uint64_t x = w.x0; x < w.x1; x += kSampleStep) {
      s.sumR += ref.Luma(x, y);
      s.sumT += test.Luma(x, y);
      const std::uint8_t* pr = ref.At(x, y);
      const std::uint8_t* pt = test.At(x, y);
      const int diff = std::abs(pr[2] - pt[2]) + std::abs(pr[1] - pt[1]) + std::abs(pr[0] - pt[0]);
      s.sumC += static_cast<double>(diff) / kColorNormaliser;
      ++s.n;
    }
  }
  return s;
}

void AddGradientSample(double gR, double gT, SecondPass& s) {
  const double d = gT - gR;
  s.edgeDiff += std::fabs(d);
  s.edgeBase += gR + kEdgeFloor;
  ++s.m;
  if (gR > kStrongEdge) {
    s.ringSum += Clamp01((d - kRingingOffset) * kRingingScale);
    ++s.r;
  }
  if (gR < kFlatArea) {
    s.bandSum += Clamp01((std::fabs(d) - kBandingOffset) / kBandingDivisor);
    ++s.b;
  }
}

SecondPass RunSecondPass(const Plane& ref, const Plane& test, const Bounds& w, double meanR,
                         double meanT) {
  SecondPass s;
  for (std::uint64_t y = w.y0; y < w.y1; y += kSampleStep) {
    for (std::uint64_t x = w.x0; x < w.x1; x += kSampleStep) {
      const double yr = ref.Luma(x, y);
      const double yt = test.Luma(x, y);
      s.varR += (yr - meanR) * (yr - meanR);
      s.varT += (yt - meanT) * (yt - meanT);
      s.cov += (yt - meanT) * (yr - meanR);
      if (x + kGradientOffset < w.x1 && y + kGradientOffset < w.y1) {
        const double gR = std::fabs(ref.Luma(x + kGradientOffset, y) - yr) +
                          std::fabs(ref.Luma(x, y + kGradientOffset) - yr);
        const double gT = std::fabs(test.Luma(x + kGradientOffset, y) - yt) +
                          std::fabs(test.Luma(x, y + kGradientOffset) - yt);
        AddGradientSample(gR, gT, s);
      }
    }
  }
  return s;
}

bool SameSizeUsable(const PixelImage& reference, const PixelImage& test) {
  return IsUsableImage(reference) && IsUsableImage(test) && reference.width == test.width &&
         reference.height == test.height && reference.pixels.size() == test.pixels.size();
}

// Mean of the lowest ceil(N * 0.05) scores, at least one.
double MeanOfWeakest(std::vector<double> scores) {
  std::sort(scores.begin(), scores.end());
  const double share = std::ceil(static_cast<double>(scores.size()) * kWorstShare);
  const size_t k = std::max<size_t>(1, static_cast<size_t>(share));
  double sum = 0;
  for (size_t i = 0; i < k; ++i) sum += scores[i];
  return sum / static_cast<double>(k);
}

}  // namespace

std::vector<std::uint32_t> WindowOrigins(std::uint32_t total, std::uint32_t side) {
  if (total <= side) return {0};
  std::vector<std::uint32_t> origins;
  // 64 bits, so p + side cannot wrap for any 32-bit total.
  std::uint64_t p = 0;
  do {
    origins.push_back(static_cast<std::uint32_t>(p));
    p += kWindowStride;
  } while (p + side <= total);
  const std::uint32_t last = total - side;
  if (origins.back() != last) origins.push_back(last);
  return origins;
}

WindowScore ScoreWindow(const PixelImage& reference, const PixelImage& test, std::uint32_t x0,
                        std::uint32_t y0, std::uint32_t x1, std::uint32_t y1) {
  // Bounds outside the images would read foreign memory: such a window has no
  // samples, and a window without samples scores 0 throughout.
  if (!SameSizeUsable(reference, test) || x1 > reference.width || y1 > reference.height) {
    return WindowScore{};
  }
  const Plane ref{reference.pixels.data(), reference.width};
  const Plane tst{test.pixels.data(), test.width};
  const Bounds w{x0, y0, x1, y1};
  const FirstPass first = RunFirstPass(ref, tst, w);
  if (first.n == 0) return WindowScore{};
  const double n = static_cast<double>(first.n);
  const double meanR = first.sumR / n;
  const double meanT = first.sumT / n;
  const double meanC = first.sumC / n;
  SecondPass s = RunSecondPass(ref, tst, w, meanR, meanT);
  if (first.n > 1) {
    s.varR /= n - 1.0;
    s.varT /= n - 1.0;
    s.cov /= n - 1.0;
  }
  const double structure = Clamp01((2.0 * meanR * meanT + kC1) * (2.0 * s.cov + kC2) /
                                   ((meanR * meanR + meanT * meanT + kC1) * (s.varR + s.varT + kC2)));
  WindowScore score;
  score.color = Clamp01(1.0 - kColorFactor * meanC);
  score.edge = s.m > 0 ? Clamp01(1.0 - s.edgeDiff / std::max(s.edgeBase, 1.0)) : 1.0;
  score.ringing = s.r > 0 ? Clamp01(1.0 - s.ringSum / static_cast<double>(s.r)) : 1.0;
  score.banding = s.b > 0 ? Clamp01(1.0 - s.bandSum / static_cast<double>(s.b)) : 1.0;
  score.score = Clamp01(0.18 * score.color + 0.5 * structure + 0.14 * score.edge +
                        0.09 * score.ringing + 0.09 * score.banding);
  return score;
}

std::vector<AnalysisWindow> AnalysisWindows(std::uint32_t width, std::uint32_t height) {
  std::vector<AnalysisWindow> windows;
  if (width == 0 || height == 0) return windows;
  const std::uint32_t sideX = std::min(width, kWindowSide);
  const std::uint32_t sideY = std::min(height, kWindowSide);
  const std::vector<std::uint32_t> xs = WindowOrigins(width, sideX);
  const std::vector<std::uint32_t> ys = WindowOrigins(height, sideY);
  windows.reserve(xs.size() * ys.size());
  for (const std::uint32_t y : ys) {
    for (const std::uint32_t x : xs) {
      windows.push_back({x, y, std::min(x + sideX, width), std::min(y + sideY, height)});
    }
  }
  return windows;
}

QualityReport AnalyzeQuality(const PixelImage& reference, const PixelImage& test) {
  QualityReport report;
  if (!SameSizeUsable(reference, test)) return report;
  const std::vector<AnalysisWindow> windows = AnalysisWindows(reference.width, reference.height);
  report.windowScores.reserve(windows.size());
  double sumScore = 0, sumColor = 0, sumEdge = 0, sumRinging = 0, sumBanding = 0;
  for (const AnalysisWindow& window : windows) {
    const WindowScore w = ScoreWindow(reference, test, window.x0, window.y0, window.x1, window.y1);
    report.windowScores.push_back(w.score);
    sumScore += w.score;
    sumColor += w.color;
    sumEdge += w.edge;
    sumRinging += w.ringing;
    sumBanding += w.banding;
  }
  const double count = static_cast<double>(report.windowScores.size());
  report.global = sumScore / count;
  report.color = sumColor / count;
  report.edge = sumEdge / count;
  report.ringing = sumRinging / count;
  report.banding = sumBanding / count;
  report.worst = *std::min_element(report.windowScores.begin(), report.windowScores.end());
  report.worst5 = MeanOfWeakest(report.windowScores);
  report.composite = Clamp01(report.worst5 * 0.3 + report.global * 0.55 + report.worst * 0.15);
  return report;
}
