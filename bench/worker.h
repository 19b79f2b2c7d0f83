// The benchmark worker: the one background thread of profile development.
//
// It walks the sample of a BenchmarkSession from `nextIndex`; for each image it
// decodes the source, encodes every candidate of the benchmark grid, measures
// size, time and quality of each result and appends one raw row per candidate
// to the run's CSV file in a single write. After every image it saves the
// session, so a pause, a cancel or the end of the program loses at most the
// image in progress. Pause and cancel take effect at the pause points: before
// each image, before each candidate and before the rows are written; a
// running encoder is never killed. When the last image is done it writes the
// summary and removes the session file.
//
// The worker never touches a window. It reports through two notification
// hooks that the front-end installs (the Qt window turns them into queued
// events, the command line prints a progress line).
//
// Neighbours: session (state, SaveSession, AppendToFile), benchmark_grid,
// raw_results (rows), summary (end of run), core/encoder_invocation
// (EncodeCandidate), imaging (decode, PPM, quality), platform/work_folder.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "bench/session.h"

// Both hooks run on the worker thread. They must return quickly and never
// wait for the front-end's thread (post, do not send).
struct BenchmarkNotifications {
  // At the start of each image, at the start of each candidate and after each
  // finished image.
  std::function<void()> progress;
  // Once, as the thread's last report; `complete` is true when every image
  // was done and the summary written (or attempted).
  std::function<void(bool complete)> finished;
};

struct BenchmarkWorker {
  std::thread thread;                  // the worker of the current or last run
  std::mutex pauseMutex;               // guards only the timed wait of a paused worker
  std::condition_variable pauseWake;   // woken to continue or cancel
  std::mutex notificationsMutex;       // guards `notifications` while one is delivered
  BenchmarkNotifications notifications;
};

// The one process-wide worker, paired with CurrentBenchmarkSession().
BenchmarkWorker& CurrentBenchmarkWorker();

// How one image ended.
enum class ImageOutcome {
  kMeasured,   // all rows appended to the CSV file
  kFailed,     // not measurable (decode, work folder, PPM or CSV write failed)
  kCancelled,  // a cancel arrived at a pause point; no rows were written
};

// Replaces the hooks; callable from any thread at any time. When it returns,
// no call of the old hooks is still running.
void SetBenchmarkNotifications(BenchmarkWorker& worker, BenchmarkNotifications notifications);

// Starts a run at `nextIndex` unless one is active: joins the thread of the
// previous run, clears `cancelRequested` and `paused`, sets `running` and
// starts the thread. False when a run is active or no thread could be made.
bool StartBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker);
bool StartBenchmarkWorker();

// The thread's body.
void BenchmarkWorkerMain(BenchmarkSession& session, BenchmarkWorker& worker);

// The pause point: waits while `paused` is set (timed waits of 200 ms, so flag
// changes are seen even without a wake-up). False when a cancel is requested.
bool WaitWhilePaused(BenchmarkSession& session, BenchmarkWorker& worker);

// Measures one image with every candidate of its grid. A path holding a line
// break fails at once (its rows would break the raw file). Exceptions pass
// through; the worker's loop turns them into a skipped image.
ImageOutcome BenchmarkOneImage(BenchmarkSession& session, BenchmarkWorker& worker,
                               const std::string& imagePath);

// Control from the front-end's thread.
void PauseBenchmarkWorker(BenchmarkSession& session);
void ContinueBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker);
void CancelBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker);

// Waits for the thread of the last run to end (after `finished` was reported).
void JoinBenchmarkWorker(BenchmarkWorker& worker);

// Application shutdown: requests a cancel when a run is active, wakes a paused
// worker and joins the thread. The session file keeps the unfinished image.
void StopBenchmarkWorker(BenchmarkSession& session, BenchmarkWorker& worker);
void StopBenchmarkWorker();
