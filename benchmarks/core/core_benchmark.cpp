// orvel-core-benchmark: optimises the given photos with one profile and
// compute mode through the real pipeline and prints, per image and in total,
// where the wall time went (decode, PPM write, copy, each candidate's encode,
// winner decode, analysis, output write), the share of time spent outside the
// encoders, the image's wall time against its longest single candidate encode
// (the pace of the slowest encoder is 1.00), bytes before and after, and the
// peak resident memory of this process against the target of 12 bytes per
// source pixel plus 64 MiB.
//
//   orvel-core-benchmark [--profile KEY|0-5] [--mode 0-2]
//                        [--jpegli PATH] [--mozjpeg PATH] [--jpegtran PATH] FILE...
//
// The tools come from the embedded engines; --jpegli and friends put another
// executable in a tool's place (a stand-in, or a tool the build did not
// embed). Output files go to a temporary folder that is removed at the end.
// The encoders' own memory (child processes) is not part of the peak figure.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engines/engine_store.h"
#include "cli/cli_options.h"
#include "core/live_status.h"
#include "core/pipeline.h"
#include "core/profiles.h"
#include "imaging/decode.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

struct BenchmarkOptions {
  int profile = kDefaultProfile;
  int mode = kDefaultComputeMode;
  std::string jpegli, mozjpeg, jpegtran;  // tool overrides; empty: embedded
  std::vector<std::string> files;
};

struct Totals {
  PipelineTimings timings;          // sums over all images
  std::uint64_t bytesBefore = 0;
  std::uint64_t bytesAfter = 0;
  std::uint64_t peakBytes = 0;      // highest per-image peak
  std::uint64_t peakTargetBytes = 0;  // target of that image
  int images = 0, optimized = 0, kept = 0, failed = 0, overTarget = 0;
  double longestEncodeMs = 0;       // sum over images of each image's longest encode
};

void PrintUsage() {
  std::fputs(
      "Aufruf: orvel-core-benchmark [--profile SCHLÜSSEL|0-5] [--mode 0-2]\n"
      "                             [--jpegli PFAD] [--mozjpeg PFAD] [--jpegtran PFAD] DATEI...\n",
      stderr);
}

bool ParseOptions(int argc, char** argv, BenchmarkOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--profile" && hasValue) {
      options.profile = ParseProfileArgument(argv[++i]);
      if (options.profile < 0) return false;
    } else if (argument == "--mode" && hasValue) {
      const std::string mode = argv[++i];
      if (mode != "0" && mode != "1" && mode != "2") return false;
      options.mode = mode[0] - '0';
    } else if (argument == "--jpegli" && hasValue) {
      options.jpegli = argv[++i];
    } else if (argument == "--mozjpeg" && hasValue) {
      options.mozjpeg = argv[++i];
    } else if (argument == "--jpegtran" && hasValue) {
      options.jpegtran = argv[++i];
    } else if (!argument.empty() && argument[0] == '-') {
      return false;
    } else {
      options.files.push_back(argument);
    }
  }
  return !options.files.empty();
}

void OverrideTool(const std::string& path, std::string& storePath, std::atomic<bool>& flag) {
  if (path.empty()) return;
  storePath = path;
  flag = IsRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

// The kernel's peak resident set of this process (VmHWM), bytes.
std::uint64_t PeakResidentBytes() {
  std::string status;
  if (!ReadFileBytes("/proc/self/status", status)) return 0;
  const size_t at = status.find("VmHWM:");
  if (at == std::string::npos) return 0;
  return std::strtoull(status.c_str() + at + 6, nullptr, 10) * 1024;
}

// Starts a new peak measurement from the current resident set.
void ResetPeakResident() {
  UniqueFd file = CreateForWriting("/proc/self/clear_refs");
  WriteAll(file, "5", 1);
}

std::string Ms(double value) { return FormatFixed(value, 1); }
std::string MiB(std::uint64_t bytes) { return FormatFixed(bytes / 1048576.0, 1) + " MiB"; }

std::string ToolLine(const char* name, const std::string& path, bool available) {
  return std::string(name) + ": " + (available ? path : std::string("fehlt"));
}

double LongestEncodeMs(const PipelineTimings& t) {
  double longest = 0;
  for (double ms : t.candidateEncodeMs) longest = std::max(longest, ms);
  return longest;
}

// Wall time of the image over its longest single candidate encode.
double PaceRatio(double totalMs, double longestEncodeMs) {
  return longestEncodeMs > 0 ? totalMs / longestEncodeMs : 0.0;
}

double OutsideEncodersPercent(const PipelineTimings& t) {
  return t.totalMs > 0 ? (t.totalMs - t.encodingMs) / t.totalMs * 100.0 : 0.0;
}

void PrintTimings(const PipelineTimings& t, const std::vector<std::string>& labels) {
  std::printf("  decode %s | ppm write %s | copy %s | metadata read %s | plan %s ms\n",
              Ms(t.decodeMs).c_str(), Ms(t.ppmWriteMs).c_str(), Ms(t.copyMs).c_str(),
              Ms(t.metadataReadMs).c_str(), Ms(t.planMs).c_str());
  std::printf("  encoding phase %s ms (wall from the first candidate's start, overlaps the decode)\n",
              Ms(t.encodingMs).c_str());
  double lastEndMs = 0;
  for (size_t i = 0; i < t.candidateEncodeMs.size(); ++i) {
    const double startMs = i < t.candidateStartMs.size() ? t.candidateStartMs[i] : 0;
    const double metadataMs = i < t.candidateMetadataMs.size() ? t.candidateMetadataMs[i] : 0;
    lastEndMs = std::max(lastEndMs, startMs + t.candidateEncodeMs[i] + metadataMs);
    std::printf("    %-58s start %s ms, encode %s ms, metadata rewrite %s ms\n",
                i < labels.size() ? labels[i].c_str() : "?", Ms(startMs).c_str(),
                Ms(t.candidateEncodeMs[i]).c_str(), Ms(metadataMs).c_str());
  }
  std::printf("  winner decode %s | analysis %s (%s) | checks ahead %d | output write %s ms\n",
              Ms(t.winnerDecodeMs).c_str(), Ms(t.analysisMs).c_str(),
              t.winnerCheckedAhead ? "ahead, while others encoded" : "after the last candidate",
              t.checksAhead, Ms(t.outputWriteMs).c_str());
  std::printf("  last candidate done at %s ms | total %s ms | after the last candidate %s ms\n",
              Ms(lastEndMs).c_str(), Ms(t.totalMs).c_str(), Ms(t.totalMs - lastEndMs).c_str());
  std::printf("  wall time / longest candidate encode: %s (target at most 1.10 with real tools)\n",
              FormatFixed(PaceRatio(t.totalMs, LongestEncodeMs(t)), 2).c_str());
  std::printf("  outside the encoders: %s %%\n", FormatFixed(OutsideEncodersPercent(t), 1).c_str());
}

void AddTimings(const PipelineTimings& t, PipelineTimings& sum) {
  sum.decodeMs += t.decodeMs;
  sum.ppmWriteMs += t.ppmWriteMs;
  sum.copyMs += t.copyMs;
  sum.metadataReadMs += t.metadataReadMs;
  sum.planMs += t.planMs;
  sum.encodingMs += t.encodingMs;
  for (double ms : t.candidateEncodeMs) sum.candidateEncodeMs.push_back(ms);
  for (double ms : t.candidateMetadataMs) sum.candidateMetadataMs.push_back(ms);
  sum.winnerDecodeMs += t.winnerDecodeMs;
  sum.analysisMs += t.analysisMs;
  sum.outputWriteMs += t.outputWriteMs;
  sum.totalMs += t.totalMs;
}

void BenchmarkImage(const std::string& path, const std::string& outputFolder,
                    const QualityProfile& profile, Totals& totals) {
  PixelImage probe;
  const bool decodable = DecodeImageFile(path, probe);
  const std::uint64_t pixels = static_cast<std::uint64_t>(probe.width) * probe.height;
  std::printf("\n%s  %ux%u (%s MP)\n", FileNamePart(path).c_str(), probe.width, probe.height,
              FormatFixed(pixels / 1e6, 2).c_str());
  ClearImage(probe);
  ResetPeakResident();

  ImageResult result;
  PipelineTimings timings;
  const bool reached = OptimizeImage(path, outputFolder, profile, result, {path}, &timings);
  const std::uint64_t peak = PeakResidentBytes();
  const std::uint64_t target = 12 * pixels + (64ull << 20);

  std::printf("  verdict: %s\n", reached ? result.message.c_str() : kVerdictProcessingError);
  if (!result.winnerLabel.empty()) std::printf("  winner: %s\n", result.winnerLabel.c_str());
  PrintTimings(timings, timings.candidateLabels);
  const std::uint64_t after = reached && result.optimized ? result.resultBytes : result.originalBytes;
  std::printf("  bytes %llu -> %llu (%s %%)\n", static_cast<unsigned long long>(result.originalBytes),
              static_cast<unsigned long long>(after),
              FormatFixed(result.originalBytes ? (1.0 - double(after) / result.originalBytes) * 100.0 : 0.0, 1).c_str());
  std::printf("  peak resident %s, target %s: %s\n", MiB(peak).c_str(), MiB(target).c_str(),
              peak <= target ? "eingehalten" : "ÜBERSCHRITTEN");

  ++totals.images;
  if (!reached || !decodable) ++totals.failed;
  else if (result.optimized) ++totals.optimized;
  else ++totals.kept;
  if (peak > target) ++totals.overTarget;
  if (peak > totals.peakBytes) { totals.peakBytes = peak; totals.peakTargetBytes = target; }
  totals.bytesBefore += result.originalBytes;
  totals.bytesAfter += after;
  totals.longestEncodeMs += LongestEncodeMs(timings);
  AddTimings(timings, totals.timings);
}

void PrintTotals(const Totals& t) {
  const PipelineTimings& s = t.timings;
  double encodeSum = 0;
  for (double ms : s.candidateEncodeMs) encodeSum += ms;
  double metadataSum = 0;
  for (double ms : s.candidateMetadataMs) metadataSum += ms;
  std::printf("\nTotal: %d images (%d optimised, %d kept, %d failed)\n", t.images, t.optimized,
              t.kept, t.failed);
  std::printf("  decode %s | ppm write %s | copy %s | metadata read %s | plan %s ms\n",
              Ms(s.decodeMs).c_str(), Ms(s.ppmWriteMs).c_str(), Ms(s.copyMs).c_str(),
              Ms(s.metadataReadMs).c_str(), Ms(s.planMs).c_str());
  std::printf("  encoding phase %s ms wall (sum of candidate encodes %s ms, metadata rewrites %s ms)\n",
              Ms(s.encodingMs).c_str(), Ms(encodeSum).c_str(), Ms(metadataSum).c_str());
  std::printf("  winner decode %s | analysis %s | output write %s | total %s ms\n",
              Ms(s.winnerDecodeMs).c_str(), Ms(s.analysisMs).c_str(), Ms(s.outputWriteMs).c_str(),
              Ms(s.totalMs).c_str());
  std::printf("  outside the encoders: %s %% (target at most 15 %% with real tools)\n",
              FormatFixed(OutsideEncodersPercent(s), 1).c_str());
  std::printf("  wall time / longest candidate encode, over all images: %s\n",
              FormatFixed(PaceRatio(s.totalMs, t.longestEncodeMs), 2).c_str());
  std::printf("  bytes %llu -> %llu (%s %%)\n", static_cast<unsigned long long>(t.bytesBefore),
              static_cast<unsigned long long>(t.bytesAfter),
              FormatFixed(t.bytesBefore ? (1.0 - double(t.bytesAfter) / t.bytesBefore) * 100.0 : 0.0, 1).c_str());
  std::printf("  highest peak resident %s (its target %s); images over target: %d\n",
              MiB(t.peakBytes).c_str(), MiB(t.peakTargetBytes).c_str(), t.overTarget);
}

}  // namespace

int main(int argc, char** argv) {
  BenchmarkOptions options;
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage();
    return 2;
  }
  MaterializeEngines();
  EngineStore& store = Engines();
  OverrideTool(options.jpegli, store.jpegliPath, store.jpegliAvailable);
  OverrideTool(options.mozjpeg, store.mozjpegPath, store.mozjpegAvailable);
  OverrideTool(options.jpegtran, store.jpegtranPath, store.jpegtranAvailable);
  currentProfile = options.profile;
  currentMode = options.mode;
  const QualityProfile& profile = ProfileAt(options.profile);

  std::string outputFolder = JoinPath(TempFolder(), "orvel-benchmark-XXXXXX");
  if (::mkdtemp(outputFolder.data()) == nullptr) {
    std::fputs("Kein temporärer Ausgabeordner.\n", stderr);
    RemoveEngineFolder();
    return 1;
  }
  std::printf("profile %d \"%s\", mode %d \"%s\", hardware threads %u\n", options.profile,
              profile.label, options.mode, ComputeModeName(options.mode), HardwareThreadCount());
  std::printf("tools: %s | %s | %s | WIC in-process\n",
              ToolLine("Jpegli", store.jpegliPath, store.jpegliAvailable).c_str(),
              ToolLine("MozJPEG", store.mozjpegPath, store.mozjpegAvailable).c_str(),
              ToolLine("jpegtran", store.jpegtranPath, store.jpegtranAvailable).c_str());
  Totals totals;
  for (const std::string& file : options.files) BenchmarkImage(file, outputFolder, profile, totals);
  PrintTotals(totals);
  RemoveFolderTree(outputFolder);
  RemoveEngineFolder();
  return 0;
}
