// The results list's widget; see results_table.h. The rules are in
// result_columns.h; main_image_list.cpp fills the table after every image.
#include "ui/main/results_table.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

#include "ui/main/qt_helpers.h"

namespace {

// Space a cell's text needs beyond its width: the item's margins and a gap.
constexpr int kCellPadding = 18;

// The icon before a kept or failed image's name; a blank one keeps the
// other names in line with them.
QIcon MarkIcon(const QStyle* style, ResultMark mark, int size) {
  if (mark == ResultMark::Failed) return style->standardIcon(QStyle::SP_MessageBoxCritical);
  if (mark == ResultMark::Kept) return style->standardIcon(QStyle::SP_MessageBoxInformation);
  QPixmap blank(size, size);
  blank.fill(Qt::transparent);
  return QIcon(blank);
}

int Position(ResultColumn column) { return static_cast<int>(ResultColumnPosition(column)); }

void ApplyMark(QTableWidgetItem* item, ResultMark mark) {
  if (mark == ResultMark::Kept) item->setBackground(ToQColor(kKeptRowColor));
  if (mark == ResultMark::Failed) {
    item->setBackground(ToQColor(kFailedRowColor));
    item->setForeground(ToQColor(kFailedTextColor));
  }
  if (mark == ResultMark::NotDone) item->setForeground(ToQColor(kNotDoneTextColor));
}

}  // namespace

ResultsTable::ResultsTable(QWidget* parent) : QTableWidget(parent) {
  setColumnCount(kResultColumnCount);
  QStringList headers;
  for (const ResultColumn column : kResultColumnOrder) headers << QString::fromUtf8(kResultColumnHeaders[column]);
  setHorizontalHeaderLabels(headers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setTextElideMode(Qt::ElideMiddle);
  setWordWrap(false);
  setShowGrid(false);
  setCornerButtonEnabled(false);
  verticalHeader()->hide();
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setStretchLastSection(true);
}

void ResultsTable::ShowRows(std::vector<ResultRow> rows) {
  const QSignalBlocker blocker(this);
  rows_ = std::move(rows);
  clearSpans();
  setRowCount(static_cast<int>(rows_.size()));
  const int rowHeight = fontMetrics().height() + 4;
  const int iconSize = std::max(fontMetrics().height() - 4, 8);
  setIconSize(QSize(iconSize, iconSize));
  for (int r = 0; r < rowCount(); ++r) {
    const ResultRow& row = rows_[static_cast<std::size_t>(r)];
    const QString line = Text(row.line);
    for (const ResultColumn c : kResultColumnOrder) {
      auto* item = new QTableWidgetItem(Text(row.cells[c]));
      item->setToolTip(c == kResultColumnName ? PathText(row.path) : line);
      ApplyMark(item, row.mark);
      setItem(r, Position(c), item);
    }
    item(r, Position(kResultColumnName))->setIcon(MarkIcon(style(), row.mark, iconSize));
    if (row.verdictSpans) {
      setSpan(r, Position(kResultColumnSizes), 1, Position(kResultColumnFigures) - Position(kResultColumnSizes) + 1);
    }
    setRowHeight(r, rowHeight);
  }
  FitColumns();
  if (!rows_.empty()) selectRow(0);
}

void ResultsTable::FitColumns() {
  const QFontMetrics metrics = fontMetrics();
  const QFontMetrics headerMetrics(horizontalHeader()->font());
  const TextWidth width = [&](const std::string& text) {
    const QString shown = Text(text);
    return std::max(metrics.horizontalAdvance(shown), headerMetrics.horizontalAdvance(shown));
  };
  const std::array<int, kResultColumnCount> widths =
      ResultColumnWidths(rows_, width, kCellPadding, viewport()->width());
  for (const ResultColumn c : kResultColumnOrder) setColumnWidth(Position(c), widths[c]);
  // The icon stands before the name.
  const int name = Position(kResultColumnName);
  setColumnWidth(name, columnWidth(name) + iconSize().width() + 4);
}

std::vector<int> ResultsTable::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void ResultsTable::CopySelectedRows() const {
  const std::string text = CopiedResultLines(rows_, SelectedRows());
  if (!text.empty()) QApplication::clipboard()->setText(Text(text));
}

void ResultsTable::ResetHorizontalPosition() { horizontalScrollBar()->setValue(0); }

void ResultsTable::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    CopySelectedRows();
    event->accept();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

void ResultsTable::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  FitColumns();
}
