// Generates a synthetic raw results file (default 1,000,000 rows over the 55
// candidates of the Standard grid) and measures WriteCandidateSummary on it:
// wall time and the peak resident memory of the summary alone, next to the
// file's size. The peak is reset before the summary through
// /proc/self/clear_refs, so the generator's own memory does not count.
//
//   orvel-summary-benchmark [ROWS] [FOLDER]
//
// FOLDER defaults to a fresh folder under the temporary folder; it is removed
// afterwards.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/benchmark_grid.h"
#include "bench/raw_results.h"
#include "bench/summary.h"
#include "platform/files.h"

namespace {

// "VmHWM" or "VmRSS" of /proc/self/status in KiB; 0 when unknown.
std::uint64_t ProcessMemoryKiB(const char* key) {
  std::string status;
  if (!ReadFileBytes("/proc/self/status", status)) return 0;
  const size_t at = status.find(key);
  if (at == std::string::npos) return 0;
  return std::strtoull(status.c_str() + at + std::string(key).size() + 1, nullptr, 10);
}

bool ResetPeakMemory() {
  UniqueFd file = CreateForWriting("/proc/self/clear_refs");
  return WriteAll(file, "5", 1);
}

// A deterministic pseudo-random figure in [low, high).
double Figure(std::uint64_t& state, double low, double high) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return low + (high - low) * static_cast<double>(state >> 11) / 9007199254740992.0;
}

bool GenerateRawFile(const std::string& path, std::uint64_t rows) {
  const std::vector<EncoderCandidate> grid =
      BuildBenchmarkGrid(1, true, ToolAvailability{true, true, true});
  UniqueFd file = CreateForWriting(path);
  std::string buffer = std::string("\xEF\xBB\xBF") + kRawHeader;
  std::uint64_t state = 12345;
  for (std::uint64_t row = 0; row < rows; ++row) {
    const EncoderCandidate& candidate = grid[row % grid.size()];
    const std::uint64_t image = row / grid.size();
    const std::string imagePath =
        "/data/Bilder/Ordner " + std::to_string(image % 97) + "/IMG_" + std::to_string(image) + ".jpg";
    QualityReport report;
    report.global = Figure(state, 0.90, 1.0);
    report.worst5 = report.global - Figure(state, 0.0, 0.05);
    report.worst = report.worst5 - Figure(state, 0.0, 0.05);
    report.color = Figure(state, 0.95, 1.0);
    report.edge = Figure(state, 0.9, 1.0);
    report.ringing = Figure(state, 0.9, 1.0);
    report.banding = Figure(state, 0.9, 1.0);
    report.composite = 0.3 * report.worst5 + 0.55 * report.global + 0.15 * report.worst;
    const bool failed = Figure(state, 0, 1) < 0.01;
    const std::uint64_t original = 2000000;
    const std::uint64_t encoded =
        failed ? 0 : static_cast<std::uint64_t>(original * Figure(state, 0.2, 1.1));
    buffer += FormatRawRowWithSize("/data/Bilder", imagePath, 4000, 3000, original, candidate,
                                   encoded, failed ? QualityReport{} : report,
                                   Figure(state, 20, 900));
    if (buffer.size() > (1 << 20)) {
      if (!WriteAll(file, buffer.data(), buffer.size())) return false;
      buffer.clear();
    }
  }
  return WriteAll(file, buffer.data(), buffer.size()) && CloseChecked(file);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::string folder = argc > 2 ? argv[2] : JoinPath(TempFolder(), "orvel-summary-XXXXXX");
  const bool ownFolder = argc <= 2;
  if (ownFolder && ::mkdtemp(folder.data()) == nullptr) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  BenchmarkSession session;
  session.root = "/data/Bilder";
  session.sessionDir = folder;
  session.csvPath = JoinPath(folder, kRawFileName);
  session.images.resize(rows / 55 + 1);  // only counted by the manifest
  const auto generateStart = std::chrono::steady_clock::now();
  if (!GenerateRawFile(session.csvPath, rows)) {
    std::fprintf(stderr, "the raw file could not be written\n");
    return 1;
  }
  const double generateSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - generateStart).count();

  const bool reset = ResetPeakMemory();
  const std::uint64_t baseline = ProcessMemoryKiB("VmRSS:");
  const auto start = std::chrono::steady_clock::now();
  const bool written = WriteCandidateSummary(session);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::uint64_t peak = ProcessMemoryKiB("VmHWM:");
  const std::uint64_t fileBytes = FileSize(session.csvPath);

  std::printf("raw rows                 %llu\n", static_cast<unsigned long long>(rows));
  std::printf("raw file size            %.1f MiB\n", fileBytes / 1048576.0);
  std::printf("generation               %.2f s\n", generateSeconds);
  std::printf("summary written          %s\n", written ? "yes" : "NO");
  std::printf("summary time             %.2f s (%.0f rows/s)\n", seconds, rows / seconds);
  std::printf("resident before summary  %.1f MiB\n", baseline / 1024.0);
  std::printf("peak during summary      %.1f MiB%s\n", peak / 1024.0,
              reset ? "" : " (peak not reset: includes the generator)");
  const std::string summary = ReadWholeFile(JoinPath(folder, kSummaryFileName));
  std::printf("summary rows             %zu\n",
              static_cast<size_t>(std::count(summary.begin(), summary.end(), '\n')) - 1);
  if (ownFolder) RemoveFolderTree(folder);
  return written ? 0 : 1;
}
