// The candidate summary and the run manifest, written at the end of a
// complete run.
//
// The raw rows of quality_profile_raw.csv are condensed into one statistics
// row per candidate configuration ("candidate_summary.csv": counts, averages
// over all rows, percentiles over successful encodes) and the run is described
// in "benchmark_manifest.txt". Both are offline calibration data; the
// optimiser never reads them.
//
// The raw file is read line by line, whatever its size: a deep run over
// thousands of images writes gigabytes of rows. Memory grows only with the
// number of candidate groups and of successful rows (six doubles each).
//
// Neighbours: raw_results (the row format), session (run figures, writers),
// worker (calls WriteCandidateSummary after the last image).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/session.h"

constexpr const char* kSummaryFileName = "candidate_summary.csv";
constexpr const char* kManifestFileName = "benchmark_manifest.txt";

// The six figures of one successful row that the percentiles need.
struct SuccessfulRowFigures {
  double ratio = 0;      // ratio_to_original
  double global = 0;     // global
  double worst5 = 0;     // worst5
  double worst = 0;      // worst
  double composite = 0;  // composite
  double encodeMs = 0;   // encode_ms, milliseconds
};

// The accumulator of one candidate configuration (candidate label + engine).
struct CandidateGroupStats {
  std::uint64_t tests = 0;      // raw rows of the group
  std::uint64_t encodedOk = 0;  // rows with encoded_bytes != 0
  std::uint64_t smaller = 0;    // of those, rows with 0 < ratio < 1
  double sumRatio = 0;          // sums over all rows with readable numbers
  double sumGlobal = 0;
  double sumWorst5 = 0;
  double sumWorst = 0;
  double sumComposite = 0;
  double sumEncodeMs = 0;
  std::deque<SuccessfulRowFigures> successful;  // rows with encoded_bytes != 0, in file order
};

// Group key "candidate|engine" -> statistics, ordered by the key's bytes.
using CandidateGroups = std::map<std::string, CandidateGroupStats>;

// The fields of one line: ";" separates outside double quotes, "" inside
// quotes is one quote, carriage returns are dropped. At least one field.
std::vector<std::string> SplitCsvLine(std::string_view line);

// Linear interpolation between neighbouring ranks; 0 for an empty list.
double Percentile(std::vector<double> values, double fraction);

// Adds one raw line (without its line feed) to the groups. Lines with fewer
// than 23 fields are skipped; a line whose numbers cannot be read counts in
// `tests` of its group and nothing else.
void AddRawLine(std::string_view line, CandidateGroups& groups);

// Reads the raw file line by line into the groups (header skipped). False when
// the file cannot be opened or read, or holds nothing after a byte-order mark.
bool ReadRawResults(const std::string& csvPath, CandidateGroups& groups);

// The summary text (header and one row per group) and the largest `tests` of
// any group (the images processed). Empties each group's rows once used.
std::string ComposeCandidateSummary(CandidateGroups& groups, std::uint64_t& processed);

// The figures of a run that the manifest reports besides the processed
// images: a session's, or those of a run merged from parts.
struct ManifestFigures {
  std::string root;                // root folder of the collection
  std::uint64_t selected = 0;      // images of the run's selection
  std::uint64_t imagesFound = 0;   // accepted image files found by the scan
  std::uint64_t foldersFound = 0;  // folders visited by the scan
  std::int32_t maxPerFolder = 5;   // per-folder cap of the sample
  std::int32_t depth = 1;          // "Testtiefe" index
};

ManifestFigures ManifestFiguresOf(const BenchmarkSession& session);

// The manifest text for the figures and the number of processed images.
std::string ComposeManifest(const ManifestFigures& figures, std::uint64_t processed);

// Writes the summary of the groups and the manifest into `folder` (empties the
// groups' rows). True when both files were written; a failed write does not
// stop the other.
bool WriteSummaryFiles(const std::string& folder, CandidateGroups& groups,
                       const ManifestFigures& figures);

// Reads the session's raw file and writes both files into its run folder.
// Nothing is written when the raw file is unreadable or empty. True when both
// files were written.
bool WriteCandidateSummary(const BenchmarkSession& session);
