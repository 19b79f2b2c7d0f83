// The image list, the output folder, the preview selection and the results
// list of the main window (see main_window.h). The rules themselves (sorting,
// line texts, extents) are Qt-free in main_window_state.h; this file applies
// them to the list widgets and runs the two choosers.
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QUrl>
#include <QLineEdit>
#include <QListWidget>
#include <QStatusBar>
#include <algorithm>

#include "imaging/decode.h"
#include "platform/files.h"
#include "ui/main/main_commands.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_state.h"
#include "ui/main/qt_helpers.h"
#include "ui/main/result_columns.h"
#include "ui/main/results_table.h"

namespace {

// Camera files are often named in capitals; the filter offers every spelling.
const char* const kImagePatterns = "*.jpg *.jpeg *.jpe *.JPG *.JPEG *.JPE *.Jpg *.Jpeg *.Jpe";

// The local files and folders a drag carries; empty when it carries none.
std::vector<std::string> DroppedPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(NativePath(url.toLocalFile()));
  }
  return paths;
}

// An image-list line shortened to `width` pixels: the file name loses its
// middle, so its start, its extension and the size after it stay readable.
QString FittedImageLine(const QFontMetrics& metrics, const QString& line, int width) {
  if (metrics.horizontalAdvance(line) <= width) return line;
  const qsizetype split = line.lastIndexOf(QStringLiteral("   |   "));
  if (split <= 0) return metrics.elidedText(line, Qt::ElideMiddle, width);
  const QString tail = line.mid(split);
  const int nameWidth = std::max(width - metrics.horizontalAdvance(tail), 0);
  return metrics.elidedText(line.left(split), Qt::ElideMiddle, nameWidth) + tail;
}

}  // namespace

bool MainWindow::ChooseImageFiles(std::vector<std::string>& paths) {
  if (const auto& choose = ActiveMainWindowDialogs().chooseImageFiles) return choose(paths);
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters({QString::fromUtf8(kImageFilterName) + " (" + kImagePatterns + ")",
                         QString::fromUtf8(kAllFilesFilterName) + " (*)"});
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  if (dialog.exec() != QDialog::Accepted) return false;
  for (const QString& file : dialog.selectedFiles()) paths.push_back(NativePath(file));
  return !paths.empty();
}

bool MainWindow::ChooseOutputFolder(std::string& folder) {
  if (const auto& choose = ActiveMainWindowDialogs().chooseFolder) return choose(folder);
  const QString chosen = QFileDialog::getExistingDirectory(
      this, QString::fromUtf8(kFolderChooserTitle), QString(), QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return false;
  folder = NativePath(chosen);
  return true;
}

void MainWindow::AddImages() {
  std::vector<std::string> chosen;
  if (ChooseImageFiles(chosen)) AddImagePathsToList(chosen);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  // Accepted during a batch too, so that the drop itself can be refused
  // audibly rather than the cursor silently saying no.
  if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = DroppedPaths(event->mimeData());
  if (paths.empty()) return;
  if (MainState().batchRunning) {
    RefuseWhileBatchRuns();
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  AddImagePathsToList(paths);
}

void MainWindow::AddImagePathsToList(const std::vector<std::string>& paths) {
  MainWindowState& state = MainState();
  if (AddImagePaths(state, paths)) {
    outputFolderEdit_->setText(PathText(state.outputFolder));
  }
  RefreshImageList();
  SetStatusText(ImagesSelectedStatus(state.imageList.size()));
}

void MainWindow::ClearImageList() {
  MainWindowState& state = MainState();
  state.imageList.clear();
  state.results.clear();
  RefreshImageList();
  RefreshResultList();
  resultsList_->ResetHorizontalPosition();
  SetStatusText(kStatusListCleared);
}

void MainWindow::RefreshImageList() {
  MainWindowState& state = MainState();
  {
    const QSignalBlocker blocker(imageList_);
    imageList_->clear();
    for (const std::string& path : state.imageList) {
      auto* item = new QListWidgetItem();
      item->setToolTip(QString::fromUtf8(ImageListLine(path)));
      imageList_->addItem(item);
    }
    FitImageListLines();
    if (!state.imageList.empty()) imageList_->setCurrentRow(0);
  }
  state.selectedImageRow = state.imageList.empty() ? -1 : 0;
  if (state.imageList.empty()) SetPreviewEmpty();
  else ShowSelectedPreview();
}

void MainWindow::FitImageListLines() {
  if (!imageList_) return;
  const QFontMetrics metrics = imageList_->fontMetrics();
  // The item's own margins inside the viewport.
  const int width = imageList_->viewport()->width() - 8;
  for (int row = 0; row < imageList_->count(); ++row) {
    QListWidgetItem* item = imageList_->item(row);
    item->setText(FittedImageLine(metrics, item->toolTip(), width));
  }
}

void MainWindow::SetPreviewEmpty() {
  MainWindowState& state = MainState();
  ClearImage(state.previewImage);
  state.previewPath.clear();
  state.previewFailure.clear();
  ++state.previewGeneration;
  previewPane_->update();
}

void MainWindow::ShowSelectedPreview() {
  MainWindowState& state = MainState();
  if (!imageList_ || state.imageList.empty()) return;
  const std::size_t index = PreviewIndexFor(state.selectedImageRow, state.imageList.size());
  state.previewPath = state.imageList[index];
  DecodeFailure failure = DecodeFailure::None;
  if (DecodeImageFile(state.previewPath, state.previewImage, &failure)) {
    state.previewFailure.clear();
  } else {
    // The pane says which file cannot be shown and why, rather than the
    // hint of an empty list.
    ClearImage(state.previewImage);
    state.previewFailure = PreviewFailureText(FileNamePart(state.previewPath), DecodeFailureText(failure));
    state.previewPath.clear();
  }
  ++state.previewGeneration;
  previewPane_->update();
}

void MainWindow::RefreshResultList() {
  MainWindowState& state = MainState();
  resultsList_->ShowRows(BuildResultRows(state.results));
  state.selectedResultRow = state.results.empty() ? -1 : 0;
}
