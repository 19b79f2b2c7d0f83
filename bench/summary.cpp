// Condensing the raw rows into the candidate summary and the manifest; see
// summary.h. Neighbours: leading_numbers (number rules), session (writers and
// run figures), platform/files (the streamed read).
#include "bench/summary.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "bench/leading_numbers.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr size_t kRawFieldCount = 23;
constexpr size_t kReadChunkBytes = 1 << 20;
// Rows of this program stay far below this; longer lines are skipped rather
// than held in memory.
constexpr size_t kLongestLine = 1 << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

const char* const kSummaryHeader =
    "candidate_engine;tests;encoded_ok;smaller_percent;avg_size_ratio;median_size_ratio;"
    "p95_size_ratio;avg_saving_percent;avg_global;p05_global;avg_worst5;p05_worst5;avg_worst;"
    "p05_worst;avg_composite;p05_composite;avg_encode_ms;p95_encode_ms\r\n";

// Delivers the lines of a file (without their line feeds) to `consume`.
// Lines longer than kLongestLine are dropped. False on a read error.
template <typename Consume>
bool ForEachLine(const UniqueFd& file, Consume consume, std::uint64_t& totalBytes) {
  std::vector<char> chunk(kReadChunkBytes);
  std::string line;
  bool overlong = false;
  totalBytes = 0;
  for (;;) {
    const ssize_t got = ::read(file.fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    totalBytes += static_cast<std::uint64_t>(got);
    std::string_view rest(chunk.data(), static_cast<size_t>(got));
    while (!rest.empty()) {
      const size_t feed = rest.find('\n');
      const std::string_view piece = rest.substr(0, feed);
      if (!overlong && line.size() + piece.size() > kLongestLine) {
        overlong = true;
        std::string().swap(line);
      }
      if (!overlong) line.append(piece);
      if (feed == std::string_view::npos) break;
      if (!overlong) consume(std::string_view(line));
      line.clear();
      overlong = false;
      rest.remove_prefix(feed + 1);
    }
  }
  if (!overlong && !line.empty()) consume(std::string_view(line));
  return true;
}

// An empty (or blank) field reads as 0; otherwise it must begin with a number.
bool ReadFieldDouble(const std::string& field, double& value) {
  if (std::all_of(field.begin(), field.end(), IsAsciiSpace)) {
    value = 0;
    return true;
  }
  return ParseLeadingDouble(field, value);
}

bool ReadFieldUint64(const std::string& field, std::uint64_t& value) {
  if (std::all_of(field.begin(), field.end(), IsAsciiSpace)) {
    value = 0;
    return true;
  }
  return ParseLeadingUint64(field, value);
}

// Fields 13, 14, 15, 16, 17, 22 and 23 (counted from 1); false when any of
// them cannot be read.
bool ReadRowNumbers(const std::vector<std::string>& fields, std::uint64_t& encodedBytes,
                    SuccessfulRowFigures& figures) {
  return ReadFieldUint64(fields[12], encodedBytes) && ReadFieldDouble(fields[13], figures.ratio) &&
         ReadFieldDouble(fields[14], figures.global) && ReadFieldDouble(fields[15], figures.worst5) &&
         ReadFieldDouble(fields[16], figures.worst) && ReadFieldDouble(fields[21], figures.composite) &&
         ReadFieldDouble(fields[22], figures.encodeMs);
}

// The key with every double quote doubled, between double quotes, so a label
// holding a quote cannot break the row.
std::string QuoteKey(const std::string& key) {
  std::string quoted = "\"";
  for (const char c : key) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The percentile of one figure over the group's successful rows.
double FigurePercentile(const std::deque<SuccessfulRowFigures>& rows,
                        double SuccessfulRowFigures::*figure, double fraction) {
  std::vector<double> values;
  values.reserve(rows.size());
  for (const SuccessfulRowFigures& row : rows) values.push_back(row.*figure);
  return Percentile(std::move(values), fraction);
}

std::string ComposeGroupRow(const std::string& key, const CandidateGroupStats& group) {
  const double tests = static_cast<double>(group.tests);
  const double smallerPercent =
      group.encodedOk == 0 ? 0.0
                           : static_cast<double>(group.smaller) * 100.0 /
                                 static_cast<double>(group.encodedOk);
  const double avgRatio = group.sumRatio / tests;
  const auto& rows = group.successful;
  using F = SuccessfulRowFigures;
  std::string row = QuoteKey(key);
  for (const std::string& field :
       {std::to_string(group.tests), std::to_string(group.encodedOk), FormatFixed(smallerPercent, 3),
        FormatFixed(avgRatio, 6), FormatFixed(FigurePercentile(rows, &F::ratio, 0.5), 6),
        FormatFixed(FigurePercentile(rows, &F::ratio, 0.95), 6),
        FormatFixed((1.0 - avgRatio) * 100.0, 3), FormatFixed(group.sumGlobal / tests, 6),
        FormatFixed(FigurePercentile(rows, &F::global, 0.05), 6),
        FormatFixed(group.sumWorst5 / tests, 6),
        FormatFixed(FigurePercentile(rows, &F::worst5, 0.05), 6),
        FormatFixed(group.sumWorst / tests, 6),
        FormatFixed(FigurePercentile(rows, &F::worst, 0.05), 6),
        FormatFixed(group.sumComposite / tests, 6),
        FormatFixed(FigurePercentile(rows, &F::composite, 0.05), 6),
        FormatFixed(group.sumEncodeMs / tests, 2),
        FormatFixed(FigurePercentile(rows, &F::encodeMs, 0.95), 2)}) {
    row += ';';
    row += field;
  }
  row += "\r\n";
  return row;
}

}  // namespace

std::vector<std::string> SplitCsvLine(std::string_view line) {
  std::vector<std::string> fields;
  std::string field;
  bool inQuotes = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (!inQuotes) {
        inQuotes = true;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        inQuotes = false;
      }
    } else if (c == ';' && !inQuotes) {
      fields.push_back(std::move(field));
      field.clear();
    } else if (c != '\r') {
      field += c;
    }
  }
  fields.push_back(std::move(field));
  return fields;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  if (!(fraction >= 0)) fraction = 0;
  if (fraction > 1) fraction = 1;
  const double position = static_cast<double>(values.size() - 1) * fraction;
  const double low = std::floor(position);
  const double high = std::ceil(position);
  const double lowValue = values[static_cast<size_t>(low)];
  if (low == high) return lowValue;
  const double t = position - low;
  return t * values[static_cast<size_t>(high)] + (1 - t) * lowValue;
}

void AddRawLine(std::string_view line, CandidateGroups& groups) {
  const std::vector<std::string> fields = SplitCsvLine(line);
  if (fields.size() < kRawFieldCount) return;
  CandidateGroupStats& group = groups[fields[5] + "|" + fields[6]];
  ++group.tests;
  std::uint64_t encodedBytes = 0;
  SuccessfulRowFigures figures;
  if (!ReadRowNumbers(fields, encodedBytes, figures)) return;
  if (encodedBytes != 0) {
    ++group.encodedOk;
    if (figures.ratio > 0 && figures.ratio < 1) ++group.smaller;
  }
  group.sumRatio += figures.ratio;
  group.sumGlobal += figures.global;
  group.sumWorst5 += figures.worst5;
  group.sumWorst += figures.worst;
  group.sumComposite += figures.composite;
  group.sumEncodeMs += figures.encodeMs;
  if (encodedBytes != 0) group.successful.push_back(figures);
}

bool ReadRawResults(const std::string& csvPath, CandidateGroups& groups) {
  UniqueFd file = OpenForReading(csvPath);
  if (!file.Valid()) return false;
  bool firstLine = true;
  std::uint64_t totalBytes = 0;
  bool firstLineIsMarkAlone = false;
  const bool read = ForEachLine(
      file,
      [&](std::string_view line) {
        if (firstLine) {
          firstLine = false;
          firstLineIsMarkAlone = line == kByteOrderMark;
          return;
        }
        if (!line.empty()) AddRawLine(line, groups);
      },
      totalBytes);
  if (!read || totalBytes == 0) return false;
  // A file holding nothing but a byte-order mark counts as empty.
  return !(totalBytes == kByteOrderMark.size() && firstLineIsMarkAlone);
}

std::string ComposeCandidateSummary(CandidateGroups& groups, std::uint64_t& processed) {
  std::string summary = kSummaryHeader;
  processed = 0;
  for (auto& [key, group] : groups) {
    if (group.tests == 0) continue;
    summary += ComposeGroupRow(key, group);
    processed = std::max(processed, group.tests);
    std::deque<SuccessfulRowFigures>().swap(group.successful);
  }
  return summary;
}

ManifestFigures ManifestFiguresOf(const BenchmarkSession& session) {
  return ManifestFigures{session.root,         session.images.size(), session.imagesFound,
                         session.foldersFound, session.maxPerFolder,  session.depth};
}

std::string ComposeManifest(const ManifestFigures& figures, std::uint64_t processed) {
  const std::uint64_t selected = figures.selected;
  const std::uint64_t skipped = selected > processed ? selected - processed : 0;
  std::string manifest = "Orvel JPEG Optimizer Benchmark\nVersion=1.3.3\n";
  manifest += "Root=" + figures.root + "\nSelectedImages=" + std::to_string(selected) + "\n";
  manifest += "ProcessedImages=" + std::to_string(processed) +
              "\nSkippedOrUnreadable=" + std::to_string(skipped) + "\n";
  manifest += "FoundImages=" + std::to_string(figures.imagesFound) +
              "\nFoundFolders=" + std::to_string(figures.foldersFound) + "\n";
  manifest += "MaxPerFolder=" + FormatInteger(figures.maxPerFolder) +
              "\nDepth=" + FormatInteger(figures.depth) + "\n";
  manifest += "Purpose=Offline raw data for future fixed profile calibration; not runtime adaptive control.\n";
  return manifest;
}

bool WriteSummaryFiles(const std::string& folder, CandidateGroups& groups,
                       const ManifestFigures& figures) {
  std::uint64_t processed = 0;
  const std::string summary = ComposeCandidateSummary(groups, processed);
  const bool summaryWritten = WriteWholeFile(JoinPath(folder, kSummaryFileName), summary, true);
  const bool manifestWritten = WriteWholeFile(JoinPath(folder, kManifestFileName),
                                              ComposeManifest(figures, processed), true);
  return summaryWritten && manifestWritten;
}

bool WriteCandidateSummary(const BenchmarkSession& session) {
  CandidateGroups groups;
  if (!ReadRawResults(session.csvPath, groups)) return false;
  return WriteSummaryFiles(session.sessionDir, groups, ManifestFiguresOf(session));
}
