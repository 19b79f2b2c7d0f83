// The benchmark worker thread; see worker.h.
#include "bench/worker.h"

#include <chrono>
#include <cstdio>
#include <system_error>

#include "bench/benchmark_grid.h"
#include "bench/raw_results.h"
#include "bench/sampling.h"
#include "bench/summary.h"
#include "core/encoder_invocation.h"
#include "imaging/decode.h"
#include "imaging/ppm.h"
#include "imaging/quality.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/work_folder.h"

namespace {

constexpr auto kPauseWaitStep = std::chrono::milliseconds(200);
constexpr const char* kPpmName = "bench.ppm";
constexpr const char* kJpegCopyName = "original.jpg";

void NotifyProgress(BenchmarkWorker& worker) {
  std::lock_guard<std::mutex> lock(worker.notificationsMutex);
  if (worker.notifications.progress) worker.notifications.progress();
}

void NotifyFinished(BenchmarkWorker& worker, bool complete) {
  std::lock_guard<std::mutex> lock(worker.notificationsMutex);
  if (worker.notifications.finished) worker.notifications.finished(complete);
}

// "bench_0001.jpg": the candidate's id with at least four digits.
std::string CandidateFileName(const EncoderCandidate& candidate) {
  char name[32];
  std::snprintf(name, sizeof name, "bench_%04u.jpg", static_cast<unsigned>(candidate.id));
  return name;
}

// What the candidates of one image share.
struct ImageJob {
  const std::string& imagePath;
  const PixelImage& source;
  const WorkFolder& folder;
  std::string jpegCopyPath;  // tool-side path of original.jpg; empty without a copy
};

// Encodes one candidate, measures it and returns its raw row. The encoded file
// is removed afterwards, so a deep grid over a large photo does not pile up
// in the temporary folder.
std::string MeasureCandidate(const BenchmarkSession& session, const ImageJob& job,
                             const EncoderCandidate& candidate) {
  const std::string name = CandidateFileName(candidate);
  const std::string outputPath = JoinPath(job.folder.longPath, name);
  const auto start = std::chrono::steady_clock::now();
  const bool ok = EncodeCandidate(candidate, job.source, job.jpegCopyPath,
                                  JoinPath(job.folder.shortPath, kPpmName), outputPath,
                                  JoinPath(job.folder.shortPath, name), job.folder.shortPath);
  const auto end = std::chrono::steady_clock::now();
  const double encodeMs = std::chrono::duration<double, std::milli>(end - start).count();
  std::uint64_t encodedBytes = 0;
  QualityReport report;
  if (ok) encodedBytes = FileSize(outputPath);
  if (encodedBytes != 0) {
    PixelImage decoded;
    if (DecodeImageFile(outputPath, decoded)) report = AnalyzeQuality(job.source, decoded);
    report.windowScores.clear();
  }
  DeleteFileAt(outputPath);
  return FormatRawRow(session.root, job.imagePath, job.source.width, job.source.height, candidate,
                      encodedBytes, report, encodeMs);
}

// Copies a JPEG source for jpegtran; the tool-side path, or empty.
std::string PrepareJpegCopy(const std::string& imagePath, const WorkFolder& folder,
                            const ToolAvailability& tools) {
  if (!tools.jpegtran || !IsJpegSourceFile(imagePath)) return std::string();
  if (!CopyFileBytes(imagePath, JoinPath(folder.longPath, kJpegCopyName))) return std::string();
  return JoinPath(folder.shortPath, kJpegCopyName);
}

ImageOutcome MeasureGrid(BenchmarkSession& session, BenchmarkWorker& worker, const ImageJob& job,
                         const ToolAvailability& tools) {
  const std::vector<EncoderCandidate> grid =
      BuildBenchmarkGrid(session.depth, !job.jpegCopyPath.empty(), tools);
  session.candidateCount.store(static_cast<std::int32_t>(grid.size()));
  std::string rows;
  for (size_t k = 0; k < grid.size(); ++k) {
    if (!WaitWhilePaused(session, worker)) return ImageOutcome::kCancelled;
    session.currentCandidate.store(static_cast<std::int32_t>(k + 1));
    NotifyProgress(worker);
    rows += MeasureCandidate(session, job, grid[k]);
  }
  if (!WaitWhilePaused(session, worker)) return ImageOutcome::kCancelled;
  return AppendToFile(session.csvPath, rows) ? ImageOutcome::kMeasured : ImageOutcome::kFailed;
}

void ListSkippedImage(const BenchmarkSession& session, const std::string& imagePath) {
  AppendToFile(JoinPath(session.sessionDir, kSkippedImagesFileName), SkippedImageLine(imagePath));
}

// BenchmarkOneImage with an exception turned into a failed image: running
// out of memory on one huge photo skips that photo instead of ending the
// program. The work folder is gone by then (its guard ran while unwinding).
ImageOutcome MeasureImageSafely(BenchmarkSession& session, BenchmarkWorker& worker,
                                const std::string& imagePath) {
  try {
    return BenchmarkOneImage(session, worker, imagePath);
  } catch (...) {
    return ImageOutcome::kFailed;
  }
}

// Processes images from `nextIndex` until the end or a cancel.
void ProcessImages(BenchmarkSession& session, BenchmarkWorker& worker) {
  const std::uint64_t count = session.images.size();
  std::uint64_t i = session.nextIndex.load();
  while (i < count) {
    if (!WaitWhilePaused(session, worker)) break;
    session.nextIndex.store(i);
    session.currentCandidate.store(0);
    session.candidateCount.store(0);
    NotifyProgress(worker);
    const ImageOutcome outcome = MeasureImageSafely(session, worker, session.images[i]);
    // A cancelled (or, with a cancel pending, failed) image stays the next one.
    // An image whose rows are written counts as done even when a cancel came
    // in meanwhile; repeating it would duplicate its rows.
    if (outcome == ImageOutcome::kCancelled) break;
    if (outcome == ImageOutcome::kFailed) {
      if (session.cancelRequested.load()) break;
      ListSkippedImage(session, session.images[i]);
    }
    ++i;
    session.completed.store(i);
    session.nextIndex.store(i);
    SaveSession(session);
    NotifyProgress(worker);
  }
}

}  // namespace

BenchmarkWorker& CurrentBenchmarkWorker() {
  static BenchmarkWorker worker;
  return worker;
}

void SetBenchmarkNotifications(BenchmarkWorker& worker, BenchmarkNotifications notifications) {
  std::lock_guard<std::mutex> lock(worker.notificationsMutex);
  worker.notifications = std::move(notifications);
}

bool StartBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker) {
  if (session.running.load()) return false;
  if (worker.thread.joinable()) worker.thread.join();
  session.cancelRequested.store(false);
  session.paused.store(false);
  session.running.store(true);
  ResetToolRunCancellation();
  try {
    worker.thread = std::thread(BenchmarkWorkerMain, std::ref(session), std::ref(worker));
  } catch (const std::system_error&) {
    session.running.store(false);
    return false;
  }
  return true;
}

bool StartBenchmarkWorker() {
  return StartBenchmarkWorker(CurrentBenchmarkSession(), CurrentBenchmarkWorker());
}

void BenchmarkWorkerMain(BenchmarkSession& session, BenchmarkWorker& worker) {
  session.running.store(true);
  session.startTick.store(TickCountMs());
  // No exception may leave the thread (that would end the program). One
  // outside an image's measuring ends the run as interrupted; the session file
  // keeps the position for a resume.
  bool complete = false;
  try {
    ProcessImages(session, worker);
    complete =
        !session.cancelRequested.load() && session.nextIndex.load() >= session.images.size();
    // `running` stays set until the summary is written, so no new run can
    // replace the session's paths and list while this thread still reads them.
    if (complete) WriteCandidateSummary(session);
  } catch (...) {
    complete = false;
  }
  if (complete) DeleteFileAt(SessionFilePath());
  session.paused.store(false);
  session.currentCandidate.store(0);
  NotifyFinished(worker, complete);
  session.running.store(false);
}

bool WaitWhilePaused(BenchmarkSession& session, BenchmarkWorker& worker) {
  while (session.paused.load() && !session.cancelRequested.load()) {
    std::unique_lock<std::mutex> lock(worker.pauseMutex);
    worker.pauseWake.wait_until(lock, std::chrono::steady_clock::now() + kPauseWaitStep, [&] {
      return !session.paused.load() || session.cancelRequested.load();
    });
  }
  return !session.cancelRequested.load();
}

ImageOutcome BenchmarkOneImage(BenchmarkSession& session, BenchmarkWorker& worker,
                               const std::string& imagePath) {
  // Its rows would break the line-based raw file.
  if (HasLineBreak(imagePath)) return ImageOutcome::kFailed;
  PixelImage source;
  if (!DecodeImageFile(imagePath, source)) return ImageOutcome::kFailed;
  WorkFolder folder;
  if (!CreateWorkFolder(folder)) return ImageOutcome::kFailed;
  WorkFolderGuard removeFolder(folder);
  const ToolAvailability tools = CurrentToolAvailability();
  if ((tools.jpegli || tools.mozjpeg) &&
      !WritePpm(source, JoinPath(folder.longPath, kPpmName))) {
    return ImageOutcome::kFailed;
  }
  const ImageJob job{imagePath, source, folder, PrepareJpegCopy(imagePath, folder, tools)};
  return MeasureGrid(session, worker, job, tools);
}

void PauseBenchmarkWorker(BenchmarkSession& session) { session.paused.store(true); }

void ContinueBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker) {
  {
    std::lock_guard<std::mutex> lock(worker.pauseMutex);
    session.paused.store(false);
  }
  worker.pauseWake.notify_all();
}

void CancelBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker) {
  {
    std::lock_guard<std::mutex> lock(worker.pauseMutex);
    session.cancelRequested.store(true);
    session.paused.store(false);
  }
  // The running tool ends now; its image is not counted.
  CancelToolRuns();
  worker.pauseWake.notify_all();
}

void JoinBenchmarkWorker(BenchmarkWorker& worker) {
  if (worker.thread.joinable()) worker.thread.join();
}

void StopBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker) {
  if (session.running.load()) CancelBenchmarkWorker(session, worker);
  JoinBenchmarkWorker(worker);
}

void StopBenchmarkWorker() { StopBenchmarkWorker(CurrentBenchmarkSession(), CurrentBenchmarkWorker()); }
