// Encoding every candidate of one image's plan.
//
// WIC candidates are encoded in-process on the calling thread (the thread that
// runs the front-end); tool candidates run concurrently on a small pool of
// short-lived worker threads that take work through an atomic index. While the
// workers run, the calling thread refreshes the live status (unforced) and
// pumps the front-end's events every 15 ms. Results always come back in plan
// order, whatever order the tools finish in.
//
// After each lossy candidate (WIC, MozJPEG, Jpegli) is encoded, the source's
// metadata segments are written into it (jpeg_metadata.h) before its size is
// taken; a candidate whose rewrite fails counts as failed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/picture_trailer.h"
#include "core/candidate_plan.h"
#include "core/encoder_invocation.h"
#include "imaging/pixel_image.h"
#include "imaging/quality.h"
#include "platform/work_folder.h"

// "<prefix>_<id>.jpg" with the id zero-padded to four digits (full_0001.jpg).
std::string CandidateFileName(const std::string& prefix, std::uint32_t id);

// Encodes the whole plan into `results` (resized to one entry per plan entry,
// entry i for plan entry i).
//   jpegCopyPath      the source copy for jpegtran; may be empty
//   ppmPath           the source as PPM for the Jpegli and MozJPEG tools
//   sourceMetadata    the source's carried segments; empty: nothing to carry
// False when a worker thread could not be started (or one ended by an
// exception): no further work is handed out, the workers that did start are
// joined, and the results are incomplete.
bool EncodeAllCandidates(const std::vector<EncoderCandidate>& plan, const PixelImage& image,
                         const std::string& jpegCopyPath, const std::string& ppmPath,
                         const WorkFolder& folder, const std::string& prefix,
                         const std::string& sourceMetadata, std::vector<CandidateResult>& results);

// --- The encoding of one image in steps ---------------------------------------
//
// The pipeline runs the same encoding in steps, so that nothing waits for what
// it does not need:
//   1. StartCandidateEncoding starts the workers. Tool candidates that read
//      only the source copy (jpegtran) are handed out first and run at once
//      (unless `copyReadersStartEarly` is off); the others wait for the
//      decoded source and its PPM.
//   2. ReleasePixelCandidates, once the source is decoded and the PPM written,
//      lets them go (or AbandonCandidateEncoding when that failed).
//   3. FinishCandidateEncoding encodes the WIC candidates on the calling
//      thread and waits, pumping the front-end's events, until every candidate
//      has been tried.
// Meanwhile a worker with nothing left to encode checks a finished lossy
// candidate ahead of time (decode and quality analysis against the source)
// when it is the smallest so far, below the source size, other candidates are
// still running and a hardware thread is free. Only one such check runs at a
// time, so at most one extra decoded candidate is held. TakeCandidateCheck
// hands a check to the quality gate; the figures are those the gate would
// compute itself, as the same decode and analysis run on the same files.
//
// The record lives on the calling thread's stack; its destructor abandons the
// encoding and joins every worker (without pumping) on every path.

// Why the encoding of an image failed.
enum class EncodingFailure {
  None,
  ThreadRefused,  // the system refused a worker thread
  OutOfMemory,    // a worker ran out of memory
  WorkerError,    // a worker ended by another exception
};

// A candidate's decode and quality analysis, made ahead of the size comparison.
struct CandidateCheck {
  bool decoded = false;   // the candidate's file could be decoded
  QualityReport report;   // the analysis against the source; empty when not decoded
  double decodeMs = 0;    // wall time of the decode, milliseconds
  double analysisMs = 0;  // wall time of the analysis, milliseconds
};

// Decodes the candidate file at `path` and analyses it against `reference`:
// the quality gate's check, wherever it runs.
void CheckCandidate(const std::string& path, const PixelImage& reference, CandidateCheck& check);

struct CandidateEncoding {
  // Inputs, set before StartCandidateEncoding and not changed afterwards.
  std::vector<EncoderCandidate> plan;
  std::string jpegCopyPath;    // source copy for jpegtran; may be empty
  std::string ppmPath;         // the source as PPM (short path)
  const WorkFolder* folder = nullptr;
  std::string prefix;          // candidate file-name prefix, "full"
  std::string sourceMetadata;  // carried segments; empty: nothing to carry
  SourceStructure sourceStructure;  // trailer and MPF index appended to every candidate
  std::uint64_t originalBytes = 0;  // source size; larger candidates are not checked ahead
  bool checkAhead = false;     // check finished candidates ahead of the size comparison
  bool copyReadersStartEarly = true;  // false: jpegtran too waits for the pixels
  std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();  // for startMs

  // Results, one per plan entry; complete once FinishCandidateEncoding returned.
  std::vector<CandidateResult> results;
  EncodingFailure failure = EncodingFailure::None;  // set by FinishCandidateEncoding
  int checksAhead = 0;         // candidates checked ahead (losers included)

  // Shared with the workers; guarded by `mutex` unless atomic.
  std::mutex mutex;
  std::condition_variable changed;           // pixels released, a check finished
  const PixelImage* reference = nullptr;     // the decoded source, once released
  bool pixelsReleased = false;
  bool abandoned = false;                    // nothing further is started
  std::vector<size_t> deferred;              // tool candidates, source-copy readers first
  std::vector<bool> finished;                // per plan entry: tried
  size_t finishedCount = 0;
  int encodesRunning = 0;                    // encodes in progress, calling thread included
  enum class CheckState { None, Running, Ready, Claimed };
  std::vector<CheckState> checkStates;       // per plan entry
  std::vector<CandidateCheck> checks;        // per plan entry, once Ready
  bool checkRunning = false;                 // one check ahead at a time
  std::atomic<std::uint64_t> nextIndex{0};   // next position in `deferred`
  std::atomic<std::int32_t> doneCount{0};    // candidates finished, for the live status
  std::atomic<std::int32_t> activeWorkers{0};
  std::atomic<bool> workerFailed{false};
  std::atomic<bool> workerOutOfMemory{false};
  bool threadRefused = false;
  std::vector<std::thread> threads;

  CandidateEncoding() = default;
  CandidateEncoding(const CandidateEncoding&) = delete;
  CandidateEncoding& operator=(const CandidateEncoding&) = delete;
  ~CandidateEncoding();
};

// Sizes the results and starts the workers; the source-copy candidates begin
// at once. False when a worker thread was refused (the encoding is then
// abandoned; FinishCandidateEncoding reports ThreadRefused).
bool StartCandidateEncoding(CandidateEncoding& encoding);

// The decoded source is ready and the PPM written: the remaining candidates
// may start. `reference` must outlive the encoding.
void ReleasePixelCandidates(CandidateEncoding& encoding, const PixelImage& reference);

// Nothing further starts; waits, pumping, for the workers to end and joins
// them. Safe to call more than once.
void AbandonCandidateEncoding(CandidateEncoding& encoding);

// Encodes the WIC candidates here, then waits, pumping, until every candidate
// has been tried. False with `failure` set when a worker could not be started
// or ended by an exception.
bool FinishCandidateEncoding(CandidateEncoding& encoding);

// The check made ahead for plan entry `index`: waits, pumping, while it runs.
// False when none was made; none is started for it afterwards.
bool TakeCandidateCheck(CandidateEncoding& encoding, size_t index, CandidateCheck& check);

// The size rule: the smallest successful candidate below `originalBytes`, the
// earlier one on a tie; a candidate the size of the source never wins. Only
// entries marked in `considered` take part, all when it is empty. -1 when none
// qualifies.
int ChooseWinner(const std::vector<CandidateResult>& results, std::uint64_t originalBytes,
                 const std::vector<bool>& considered = {});

// Number of worker threads for `deferredCount` tool candidates in `mode` on a
// machine with `hardwareThreads`: the least of the mode's cap, the hardware
// threads (1 when 0) and the tool candidates, and at least 1.
unsigned EncoderWorkerCount(int mode, unsigned hardwareThreads, size_t deferredCount);

// Test seam: called just before each worker thread is started, with its index
// from 0. A probe that throws std::system_error stands in for a thread the
// system refused. nullptr removes the probe.
using WorkerStartProbe = void (*)(unsigned workerIndex);
void SetWorkerStartProbe(WorkerStartProbe probe);
