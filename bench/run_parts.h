// A profile-development run split over several machines, and the merge of its
// parts.
//
// A deep run over thousands of images is days of work on one machine. The
// balanced sample is deterministic, so every machine that sees the collection
// under the same path draws the same sample; part K of N measures the images
// at positions K-1, K-1+N, K-1+2N, ... of it (interleaved, so every part
// spreads over all folders) in a run folder of its own. Each part folder holds
// "benchmark_part.txt" besides the usual files: the part number, the sample's
// limits, size and fingerprint, the depth and the engines of the grid.
// Merging reads the finished parts' raw files into one summary and manifest
// in a new run folder; the parts stay untouched. Parts of different samples,
// depths or grids are refused.
//
// Neighbours: sampling (the sample), raw_results (run folders, skipped
// list), summary (groups, summary and manifest files), session (key=value
// reader), the command line (bench --shard, bench --merge).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/candidate_plan.h"

constexpr const char* kPartFileName = "benchmark_part.txt";

// What a part folder records about its part and the whole run.
struct BenchmarkPart {
  std::int32_t index = 1;          // K, 1-based
  std::int32_t count = 1;          // N, the number of parts
  std::string root;                // root folder of the collection
  std::int32_t maxPerFolder = 5;   // per-folder cap of the sample
  std::int32_t maxTotal = 5000;    // total cap of the sample
  std::int32_t depth = 1;          // "Testtiefe" index
  std::uint64_t sampleImages = 0;  // images of the whole sample
  std::string sampleHash;          // SampleFingerprint of the whole sample
  std::string engines;             // EngineListText of the tools when the part was made
};

// "K/N" with 1 <= K <= N <= 10000, plain digits. False otherwise.
bool ParsePartSpec(std::string_view text, std::int32_t& index, std::int32_t& count);

// The images of part `index` of `count`: positions index-1, index-1+count, ...
std::vector<std::string> SelectPartImages(const std::vector<std::string>& sample,
                                          std::int32_t index, std::int32_t count);

// 16 hexadecimal digits (FNV-1a, 64 bits) over the paths in order, so parts
// drawn from different trees or with different limits do not pass as one run.
std::string SampleFingerprint(const std::vector<std::string>& sample);

// The engines the benchmark grid uses: "WIC" and each available tool, for
// example "WIC,Jpegli,MozJPEG,jpegtran".
std::string EngineListText(const ToolAvailability& tools);

// benchmark_part.txt: key=value lines, UTF-8, line feeds.
std::string ComposePartFile(const BenchmarkPart& part);

// False when a key is missing or a number does not parse.
bool ParsePartFile(std::string_view text, BenchmarkPart& part);

// Merges the finished parts into a new run folder under BenchmarkRunsFolder()
// and stores its path in `mergedFolder`. False with a German message in
// `error` when a folder is no finished part, the parts belong to different
// samples, depths or grids, a part is missing or given twice, a raw file
// cannot be read, or the folder or its files cannot be written.
bool MergeBenchmarkParts(const std::vector<std::string>& partFolders, std::string& mergedFolder,
                         std::string& error);
