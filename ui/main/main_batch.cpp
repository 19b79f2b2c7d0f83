// The batch run and the live-status display of the main window (see
// main_window.h).
//
// The images run through core/parallel_batch, the scheduler orvel-cli uses:
// up to `jobs` images at once on worker threads, with the outcomes, output
// files and results-list order of one image after the other. The UI thread
// only schedules and reports: every 15 ms it pumps events and rebuilds the
// live status (at most every 250 ms), and it never waits on a worker. The
// core's hooks do nothing on the worker threads, so Qt is touched on the UI
// thread alone.
//
// Re-entry is refused twice: the batch returns at once when one is running,
// and DispatchCommand ignores every command meanwhile except the stop. A stop
// (Esc, "Stapelverarbeitung abbrechen", a confirmed close) starts no further
// image and kills the tools in flight, so those images end as cancelled; the
// images never started are listed as such. A quit request that arrives while
// the batch pumps is dropped. Every source of the batch is protected, and a
// later image never touches an output an earlier one wrote.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>

#include "engines/engine_store.h"
#include "core/live_status.h"
#include "core/output_target.h"
#include "core/parallel_batch.h"
#include "core/pipeline.h"
#include "core/profiles.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "ui/main/main_commands.h"
#include "ui/main/main_painting.h"
#include "ui/main/main_texts.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_state.h"
#include "ui/main/qt_helpers.h"
#include "ui/main/results_table.h"

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

// The UI thread's pump interval during a batch, ms.
constexpr unsigned kBatchPumpMs = 15;

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

void MainWindow::ShowBatchProgress(const std::vector<std::string>& sources) {
  const LiveStatus& live = CurrentLiveStatus();
  const std::pair<std::uint64_t, std::uint64_t> now{live.shownImage.load(), live.imageIndex.load()};
  // Before the first image starts there is nothing to show.
  if (now.first == 0 || now.first > sources.size()) return;
  RefreshLiveStatusDisplay(false);
  if (now == shownBatchImage_ || MainState().batchStopRequested) return;
  shownBatchImage_ = now;
  const EngineStore& engines = Engines();
  SetStatusText(BatchImageStatus(
      now.second, sources.size(), FileNamePart(sources[now.first - 1]), ComputeModeName(currentMode.load()),
      EngineSummaryText(engines.jpegliAvailable, engines.mozjpegAvailable, engines.jpegtranAvailable)));
  statusBar_->repaint();
}

void MainWindow::SetBatchRunning(bool running) {
  MainWindowState& state = MainState();
  state.batchRunning = running;
  state.batchStopRequested = false;
  startButton_->setEnabled(!running);
  startButton_->update();
  actions_[kCmdStopBatch]->setEnabled(running);
  // Tools killed by a stop must run again in the next batch.
  ResetToolRunCancellation();
}

void MainWindow::StopBatch() {
  MainWindowState& state = MainState();
  if (!state.batchRunning || state.batchStopRequested) return;
  state.batchStopRequested = true;
  // The images in flight end now instead of when their tools are done.
  CancelToolRuns();
  SetStatusText(kStatusBatchStopping);
  statusBar_->repaint();
}

void MainWindow::RecordBatchResult(const std::vector<std::string>& sources, std::size_t index,
                                   BatchOutcome& outcome, const QualityProfile& profile) {
  std::vector<ImageResult>& results = MainState().results;
  // After a stop an image may be reported behind one that never started.
  while (results.size() < index) {
    results.push_back(NotStartedResult(sources[results.size()], profile.label));
  }
  results.push_back(outcome.reached ? std::move(outcome.result)
                                    : ProcessingErrorResult(outcome.result, sources[index], profile.label));
  RefreshResultList();
  resultsList_->scrollToBottom();
}

void MainWindow::RunBatch() {
  MainWindowState& state = MainState();
  if (state.batchRunning) return;
  if (!ValidateBatchStart()) return;
  // Held until the batch ends, as orvel-cli holds it.
  bool busy = false;
  const UniqueFd outputLock = LockFolderExclusively(state.outputFolder, busy);
  if (busy) {
    ShowMessage(kTitleBatch, kMessageOutputFolderBusy, MessageIcon::Information);
    return;
  }
  RefreshEngineAvailability();
  UpdateSelectionMarks();

  SetBatchRunning(true);
  state.results.clear();
  // Every batch's rows start at their names.
  RefreshResultList();
  resultsList_->ResetHorizontalPosition();
  state.batchStartTick = TickCountMs();
  state.liveStatusSampling.cpuBaselineValid = false;
  state.liveStatusSampling.lastRefreshTick = 0;
  const QualityProfile& profile = ProfileAt(currentProfile.load());
  // Copies: the batch works on the list and folder as they were at its start.
  const std::vector<std::string> sources = state.imageList;
  const std::string outputFolder = state.outputFolder;
  const unsigned jobs = state.batchJobs > 0 ? state.batchJobs
                                            : AutomaticJobCount(HardwareThreadCount());
  const std::vector<OutputTarget> targets =
      BatchOutputTargets(sources, OutputLayout{outputFolder}, {}, profile);
  ParallelBatchCalls calls;
  calls.process = [&](std::size_t i, const std::vector<std::string>& writtenOutputs) {
    return OptimizeBatchImage(sources, i, targets[i], profile, writtenOutputs);
  };
  calls.report = [&](std::size_t i, BatchOutcome& outcome) {
    RecordBatchResult(sources, i, outcome, profile);
  };
  calls.poll = [&]() {
    PumpMessages();
    ShowBatchProgress(sources);
    return state.batchStopRequested;
  };
  calls.pollEveryMs = kBatchPumpMs;
  AdmitByDeclaredMemory(calls, sources);
  BeginLiveStatusBatch(sources.size());
  shownBatchImage_ = {};
  {
    const WaitCursor waitCursor;
    const QuitRequestFilter quitFilter;
    RunParallelBatch(OutputPathsOf(targets), jobs, calls);
  }
  const bool stopped = state.batchStopRequested;
  while (state.results.size() < sources.size()) {
    state.results.push_back(NotStartedResult(sources[state.results.size()], profile.label));
  }
  SetBatchRunning(false);
  RefreshLiveStatus(true);
  RefreshResultList();
  SetStatusText(stopped ? BatchStoppedStatus(state.results) : BatchSummaryStatus(state.results));
  if (closeAfterBatch_) {
    closeAfterBatch_ = false;
    // Posted: the close runs once this batch has returned.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    return;
  }
  // After a stop the user wanted the batch to end, not to compare.
  if (!stopped && !state.results.empty()) InvokeCompareWindowOpener(0);
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
