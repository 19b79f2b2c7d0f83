// The main window's results list (control 1002): one row per result, in the
// columns of result_columns.h under a header.
//
// The cells, marks, widths and the copied text come from the Qt-free
// result_columns.h; this widget only draws them. The name is elided in the
// middle and shows the full path as its tooltip; every other cell shows the
// result's whole line. Kept, failed and unfinished rows are tinted, kept and
// failed ones with an icon before the name too. Ctrl+C copies the lines of
// the selected rows. The column widths follow the content again whenever the
// rows or the list's width change.
#pragma once

#include <QTableWidget>
#include <vector>

#include "ui/main/main_painting.h"
#include "ui/main/result_columns.h"

// Row tints and text colours of the marks.
constexpr RgbColor kKeptRowColor{255, 246, 219};
constexpr RgbColor kFailedRowColor{253, 226, 226};
constexpr RgbColor kFailedTextColor{155, 28, 28};
constexpr RgbColor kNotDoneTextColor{118, 126, 138};

class ResultsTable : public QTableWidget {
  Q_OBJECT

 public:
  explicit ResultsTable(QWidget* parent);

  // Replaces every row; selects row 0 when there is one, without sending a
  // selection signal. The horizontal position is kept.
  void ShowRows(std::vector<ResultRow> rows);
  const std::vector<ResultRow>& Rows() const { return rows_; }
  // The selected rows, in list order.
  std::vector<int> SelectedRows() const;
  // The selected rows' lines to the clipboard.
  void CopySelectedRows() const;
  // Back to the start of the rows (a new batch).
  void ResetHorizontalPosition();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitColumns();

  std::vector<ResultRow> rows_;
};
