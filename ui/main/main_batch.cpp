// The batch run and the live-status display of the main window (see
// main_window.h).
//
// The batch runs on the UI thread: it optimises the images one after another
// in list order with the profile selected at its start, and pumps events
// after every status change and between images, while the pipeline pumps
// through the core's hooks during encoding. Re-entry is refused twice: the
// batch returns at once when one is running, and DispatchCommand ignores
// every command meanwhile. A quit request that arrives while it pumps is
// dropped, and closing the window is refused (closeEvent). Every source of
// the batch is protected: the pipeline never overwrites or deletes one of
// them, even when another image's output name would hit it. Nor does a later
// image touch an output an earlier one wrote (two sources of one name from
// different folders): it keeps its original instead.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>

#include "engines/engine_store.h"
#include "core/live_status.h"
#include "core/pipeline.h"
#include "core/profiles.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_state.h"
#include "ui/main/qt_helpers.h"

namespace {

// Drops quit requests sent to the application while it is installed.
class QuitRequestFilter : public QObject {
 public:
  QuitRequestFilter() { QCoreApplication::instance()->installEventFilter(this); }
  ~QuitRequestFilter() override { QCoreApplication::instance()->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    return watched == QCoreApplication::instance() && event->type() == QEvent::Quit;
  }
};

// Handles every pending event without waiting.
void PumpMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

}  // namespace

bool MainWindow::ValidateBatchStart() {
  if (IsBenchmarkRunActive()) {
    ShowMessage(kProductName,
                IsBenchmarkRunPaused() ? kMessagePausedBenchmarkBlocksBatch : kMessageBenchmarkBlocksBatch,
                MessageIcon::Information);
    return false;
  }
  MainWindowState& state = MainState();
  // A path typed into the edit counts from here on.
  state.outputFolder = NativePath(outputFolderEdit_->text());
  if (state.imageList.empty()) {
    ShowMessage(kTitleBatch, kMessageNoImages, MessageIcon::Information);
    return false;
  }
  // The batch never creates the folder.
  if (state.outputFolder.empty() || !IsDirectory(state.outputFolder)) {
    ShowMessage(kTitleBatch, kMessageInvalidOutputFolder, MessageIcon::Information);
    return false;
  }
  return true;
}

void MainWindow::StartImageStatus(std::size_t index, std::size_t count, const std::string& path) {
  const std::string name = FileNamePart(path);
  BeginLiveStatusImage(name, index, count, FileSize(path));
  RefreshLiveStatus(true);

  const EngineStore& engines = Engines();
  SetStatusText(BatchImageStatus(
      index, count, name, ComputeModeName(currentMode.load()),
      EngineSummaryText(engines.jpegliAvailable, engines.mozjpegAvailable, engines.jpegtranAvailable)));
  statusBar_->repaint();
  PumpMessages();
}

void MainWindow::RunBatch() {
  MainWindowState& state = MainState();
  if (state.batchRunning) return;
  if (!ValidateBatchStart()) return;
  RefreshEngineAvailability();
  UpdateSelectionMarks();

  state.batchRunning = true;
  startButton_->setEnabled(false);
  startButton_->update();
  state.results.clear();
  state.batchStartTick = TickCountMs();
  state.liveStatusSampling.cpuBaselineValid = false;
  state.liveStatusSampling.lastRefreshTick = 0;
  const QualityProfile& profile = ProfileAt(currentProfile.load());
  // Copies: the batch works on the list and folder as they were at its start.
  const std::vector<std::string> sources = state.imageList;
  const std::string outputFolder = state.outputFolder;
  std::vector<std::string> writtenOutputs;  // outputs of this batch so far
  {
    const WaitCursor waitCursor;
    const QuitRequestFilter quitFilter;
    for (std::size_t i = 0; i < sources.size(); ++i) {
      StartImageStatus(i + 1, sources.size(), sources[i]);
      ImageResult result;
      if (!OptimizeImage(sources[i], outputFolder, profile, result, sources, nullptr,
                         writtenOutputs)) {
        result = ProcessingErrorResult(result, sources[i], profile.label);
      }
      if (result.optimized) writtenOutputs.push_back(result.outputPath);
      state.results.push_back(std::move(result));
      RefreshResultList();
      resultsList_->scrollToBottom();
      PumpMessages();
    }
  }
  state.batchRunning = false;
  startButton_->setEnabled(true);
  startButton_->update();
  RefreshLiveStatus(true);
  RefreshResultList();
  SetStatusText(BatchSummaryStatus(state.results));
  if (!state.results.empty()) InvokeCompareWindowOpener(0);
}

void MainWindow::RefreshLiveStatusDisplay(bool force) {
  if (!liveStatusText_) return;
  MainWindowState& state = MainState();
  const std::uint64_t now = TickCountMs();
  if (!ClaimLiveStatusRefresh(state.liveStatusSampling, now, force)) return;
  progressBar_->setRange(0, 1000);
  if (!state.batchRunning) {
    liveStatusText_->setPlainText(QString());
    progressBar_->setValue(0);
    return;
  }
  const LiveStatusSnapshot snapshot = TakeLiveStatusSnapshot();
  const LiveStatusFigures figures =
      GatherLiveStatusFigures(state.liveStatusSampling, now, state.batchStartTick);
  // The widget breaks lines at "\n" alone.
  const std::string text = BuildLiveStatusText(snapshot, ProfileAt(currentProfile.load()).label,
                                               ComputeModeName(currentMode.load()), figures, "\n");
  // A reader who scrolled to the lower lines keeps them in view.
  const int scrolled = liveStatusText_->verticalScrollBar()->value();
  liveStatusText_->setPlainText(WrapLiveStatus(text));
  liveStatusText_->verticalScrollBar()->setValue(scrolled);
  progressBar_->setValue(LiveStatusProgress(snapshot));
}
