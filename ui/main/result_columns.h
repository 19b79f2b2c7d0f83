// The results list as columns: what each cell of a result's row says, how
// the row is marked, how wide each column is and what Ctrl+C copies.
//
// A row is the result line (core/result_line.h) cut at its "   |   "
// separators into the columns below, so the table says exactly what the
// line says and orvel-cli prints. Qt-free, so tests check the cells and
// widths without a display; ui/main/results_table.h draws them.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/pipeline.h"

enum ResultColumn : std::size_t {
  kResultColumnName,
  kResultColumnProfile,
  kResultColumnEncoder,
  kResultColumnSizes,
  kResultColumnSaving,
  kResultColumnFigures,
  kResultColumnCandidates,
  kResultColumnCount
};

// The header's texts, in the order above (the line's order).
extern const std::array<const char*, kResultColumnCount> kResultColumnHeaders;

// The columns as the list shows them, from left to right. What a result is
// read for (sizes, saving, figures) stands next to the name, so a narrow
// list shows it without scrolling; the profile, the same for a whole batch
// and named in the status bar, comes last. Sizes, saving and figures stay
// side by side, so a verdict can span them.
constexpr std::array<ResultColumn, kResultColumnCount> kResultColumnOrder = {
    kResultColumnName,    kResultColumnSizes,      kResultColumnSaving, kResultColumnFigures,
    kResultColumnEncoder, kResultColumnCandidates, kResultColumnProfile};

// Where the list shows `column`: its index in kResultColumnOrder.
std::size_t ResultColumnPosition(ResultColumn column);

// How a row stands out: a written output has no mark; a kept original, a
// failure and an image the batch did not finish (stopped) each have their own.
enum class ResultMark { Written, Kept, Failed, NotDone };

struct ResultRow {
  ResultMark mark = ResultMark::Written;
  std::string line;  // FormatResultLine: the row's tooltip and what Ctrl+C copies
  std::string path;  // the source's full path, escaped: the name cell's tooltip
  std::array<std::string, kResultColumnCount> cells;
  // A kept or failed image has no sizes, saving or figures: its verdict
  // stands in the sizes cell and is drawn across those three columns.
  bool verdictSpans = false;
};

// The name the list shows for a result: the file-name part of its source.
// Every name cell is built here.
std::string ResultNameText(const ImageResult& result);

// The parts of `line` between its "   |   " separators, in order.
std::vector<std::string> SplitResultLine(const std::string& line);

ResultRow BuildResultRow(const ImageResult& result);
std::vector<ResultRow> BuildResultRows(const std::vector<ImageResult>& results);

// Width of a text in pixels, as the list's font draws it.
using TextWidth = std::function<int(const std::string&)>;

// Column widths, pixels: each the widest of its header and its cells plus
// `padding`; a spanning verdict widens the figures column when the three
// columns it covers are too narrow for it. The name column takes at most
// NameColumnLimit(listWidth) and is elided in the middle beyond that; it
// never drops below its header.
std::array<int, kResultColumnCount> ResultColumnWidths(const std::vector<ResultRow>& rows,
                                                       const TextWidth& width, int padding,
                                                       int listWidth);

// The widest the name column becomes in a list `listWidth` pixels wide: half
// of it, at least 160 pixels, so that in the window's narrow list the usual
// camera and phone names stay whole and the other columns scroll instead.
int NameColumnLimit(int listWidth);

// What Ctrl+C copies: the lines of the given rows, in list order, each
// ending with "\n"; rows out of range are skipped.
std::string CopiedResultLines(const std::vector<ResultRow>& rows, std::vector<int> selectedRows);
