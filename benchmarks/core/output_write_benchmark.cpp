// orvel-output-write-benchmark: what the durable output write costs. Copies
// each given file to an output name in a folder of the temporary folder the
// way the pipeline writes a winner (CopyFileBytes: temporary name, data sync,
// rename, folder sync) and, in the same run and interleaved, the same copy
// with both syncs skipped. Prints the median milliseconds per image of both
// and their difference and ratio.
//
//   orvel-output-write-benchmark [--rounds N] FILE...
//
// The figures depend on the file system behind the temporary folder; point
// TMPDIR at the disk the outputs go to.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"

namespace {

int SkipSync(int) { return 0; }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One copy, in milliseconds; negative when it failed.
double TimedCopy(const std::string& from, const std::string& to) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = CopyFileBytes(from, to);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return ok ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 9;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      files.push_back(argument);
    }
  }
  if (files.empty()) {
    std::fputs("Aufruf: orvel-output-write-benchmark [--rounds N] DATEI...\n", stderr);
    return 2;
  }
  std::string pattern = JoinPath(TempFolder(), "orvel-write-benchmark-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const std::string folder = pattern;
  FileSystemCalls withoutSync = ActiveFileSystemCalls();
  withoutSync.fsync = SkipSync;

  std::vector<double> durable, unsynced;
  std::uint64_t bytes = 0;
  for (const std::string& file : files) {
    const std::string output = JoinPath(folder, FileNamePart(file));
    bytes += FileSize(file);
    for (int round = 0; round < rounds; ++round) {
      SetFileSystemCalls(&withoutSync);
      const double fast = TimedCopy(file, output);
      SetFileSystemCalls(nullptr);
      const double safe = TimedCopy(file, output);
      if (fast < 0 || safe < 0) {
        std::fprintf(stderr, "Kopie fehlgeschlagen: %s\n", file.c_str());
        RemoveFolderTree(folder);
        return 1;
      }
      unsynced.push_back(fast);
      durable.push_back(safe);
    }
  }
  RemoveFolderTree(folder);
  const double safe = Median(durable);
  const double fast = Median(unsynced);
  std::printf("images=%zu rounds=%d mean_bytes=%.0f\n", files.size(), rounds,
              static_cast<double>(bytes) / static_cast<double>(files.size()));
  std::printf("median_ms_per_image durable=%.3f without_sync=%.3f\n", safe, fast);
  std::printf("sync_cost_ms_per_image=%.3f ratio=%.2f\n", safe - fast, fast > 0 ? safe / fast : 0.0);
  return 0;
}
