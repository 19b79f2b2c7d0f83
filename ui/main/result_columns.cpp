// The results list's cells, marks, widths and copied text; see
// result_columns.h. Neighbours: core/result_line.h (the line cut here),
// core/parallel_batch.h (which results a stopped batch did not finish).
#include "ui/main/result_columns.h"

#include <algorithm>
#include <string_view>

#include "core/display_text.h"
#include "core/parallel_batch.h"
#include "core/result_line.h"
#include "platform/files.h"

namespace {

constexpr std::string_view kSeparator = "   |   ";

// Parts first..last-1 of `parts`, joined as the line had them.
std::string JoinParts(const std::vector<std::string>& parts, std::size_t first, std::size_t last) {
  std::string joined;
  for (std::size_t i = first; i < last; ++i) {
    if (i > first) joined += kSeparator;
    joined += parts[i];
  }
  return joined;
}

ResultMark MarkFor(const ImageResult& result) {
  if (!WasDoneInBatch(result)) return ResultMark::NotDone;
  if (result.failed) return ResultMark::Failed;
  return result.optimized ? ResultMark::Written : ResultMark::Kept;
}

}  // namespace

const std::array<const char*, kResultColumnCount> kResultColumnHeaders = {
    "Datei", "Profil", "Encoder", "Gr\u00f6\u00dfe", "Ersparnis", "Kennzahlen", "Kandidaten"};

std::size_t ResultColumnPosition(ResultColumn column) {
  const auto found = std::find(kResultColumnOrder.begin(), kResultColumnOrder.end(), column);
  return static_cast<std::size_t>(found - kResultColumnOrder.begin());
}

// Escaped as the result line escapes it: a name cannot forge a line or a
// control sequence in the list either.
std::string ResultNameText(const ImageResult& result) {
  return EscapeForDisplay(FileNamePart(result.sourcePath));
}

std::vector<std::string> SplitResultLine(const std::string& line) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t found = line.find(kSeparator); found != std::string::npos;
       found = line.find(kSeparator, start)) {
    parts.push_back(line.substr(start, found - start));
    start = found + kSeparator.size();
  }
  parts.push_back(line.substr(start));
  return parts;
}

ResultRow BuildResultRow(const ImageResult& result) {
  ResultRow row;
  row.mark = MarkFor(result);
  row.line = FormatResultLine(result);
  row.path = EscapeForDisplay(result.sourcePath);
  row.cells[kResultColumnName] = ResultNameText(result);
  // The parts after the name: a file name may hold the separator itself,
  // so they are counted from the name's own parts.
  const std::vector<std::string> parts = SplitResultLine(row.line);
  const std::size_t first = SplitResultLine(row.cells[kResultColumnName]).size();
  const std::size_t wanted = result.optimized ? 7 : 4;  // profile ... candidates
  if (parts.size() < first + wanted) return row;  // not a line this program forms
  auto& cells = row.cells;
  cells[kResultColumnProfile] = parts[first];
  cells[kResultColumnEncoder] = parts[first + 1];
  cells[kResultColumnCandidates] = parts.back();
  if (result.optimized) {
    cells[kResultColumnSizes] = parts[first + 2];
    cells[kResultColumnSaving] = parts[first + 3];
    cells[kResultColumnFigures] = JoinParts(parts, first + 4, parts.size() - 1);
  } else {
    cells[kResultColumnSizes] = JoinParts(parts, first + 2, parts.size() - 1);
    row.verdictSpans = true;
  }
  return row;
}

std::vector<ResultRow> BuildResultRows(const std::vector<ImageResult>& results) {
  std::vector<ResultRow> rows;
  rows.reserve(results.size());
  for (const ImageResult& result : results) rows.push_back(BuildResultRow(result));
  return rows;
}

int NameColumnLimit(int listWidth) { return std::max(listWidth / 2, 160); }

std::array<int, kResultColumnCount> ResultColumnWidths(const std::vector<ResultRow>& rows,
                                                       const TextWidth& width, int padding,
                                                       int listWidth) {
  std::array<int, kResultColumnCount> widths{};
  for (std::size_t c = 0; c < kResultColumnCount; ++c) widths[c] = width(kResultColumnHeaders[c]) + padding;
  const int nameHeader = widths[kResultColumnName];
  int widestVerdict = 0;
  for (const ResultRow& row : rows) {
    for (std::size_t c = 0; c < kResultColumnCount; ++c) {
      const int cell = width(row.cells[c]) + padding;
      if (row.verdictSpans && c == kResultColumnSizes) widestVerdict = std::max(widestVerdict, cell);
      else widths[c] = std::max(widths[c], cell);
    }
  }
  widths[kResultColumnName] =
      std::max(nameHeader, std::min(widths[kResultColumnName], NameColumnLimit(listWidth)));
  const int spanned = widths[kResultColumnSizes] + widths[kResultColumnSaving] + widths[kResultColumnFigures];
  if (widestVerdict > spanned) widths[kResultColumnFigures] += widestVerdict - spanned;
  return widths;
}

std::string CopiedResultLines(const std::vector<ResultRow>& rows, std::vector<int> selectedRows) {
  std::sort(selectedRows.begin(), selectedRows.end());
  selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
  std::string text;
  for (const int row : selectedRows) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) continue;
    text += rows[static_cast<std::size_t>(row)].line;
    text += '\n';
  }
  return text;
}
