// The candidate scheduler; see parallel_encoding.h. Neighbours:
// encoder_invocation.cpp (one encode), jpeg_metadata.cpp (the metadata
// rewrite), live_status.cpp (progress and the front-end hooks), pipeline.cpp
// (the only caller in the optimiser).
#include "core/parallel_encoding.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <new>
#include <system_error>
#include <thread>

#include "core/jpeg_metadata.h"
#include "core/live_status.h"
#include "core/profiles.h"
#include "imaging/decode.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

using CheckState = CandidateEncoding::CheckState;
using Clock = std::chrono::steady_clock;

std::atomic<WorkerStartProbe> workerStartProbe{nullptr};

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// jpegtran reads the source copy; every other tool reads the PPM.
bool ReadsOnlySourceCopy(const EncoderCandidate& candidate) {
  return candidate.engine == kEngineJpegtran;
}

// Encodes plan entry i into its result, then carries the source's metadata
// into a lossy candidate. Sets ok, bytes and the timings.
void EncodeOne(CandidateEncoding& encoding, size_t i) {
  CandidateResult& result = encoding.results[i];
  const EncoderCandidate& candidate = encoding.plan[i];
  // A source-copy reader may start before the pixels exist and never reads them.
  const PixelImage noPixels;
  const PixelImage& image = ReadsOnlySourceCopy(candidate) ? noPixels : *encoding.reference;
  const std::string fileName = CandidateFileName(encoding.prefix, candidate.id);
  const std::string& workFolder = encoding.folder->shortPath;
  const auto started = Clock::now();
  result.startMs = std::chrono::duration<double, std::milli>(started - encoding.origin).count();
  bool ok = EncodeCandidate(candidate, image, encoding.jpegCopyPath, encoding.ppmPath,
                            result.outputPath, JoinPath(workFolder, fileName), workFolder);
  result.encodeMs = MillisecondsSince(started);
  if (ok && !ReadsOnlySourceCopy(candidate) && !encoding.sourceMetadata.empty()) {
    const auto metadataStarted = Clock::now();
    ok = ReplaceJpegMetadataInFile(result.outputPath, encoding.sourceMetadata,
                                   result.outputPath + ".meta");
    result.metadataMs = MillisecondsSince(metadataStarted);
  }
  std::uint64_t bytes = 0;
  if (ok) TryFileSize(result.outputPath, bytes);
  result.ok = ok;
  result.bytes = ok ? bytes : 0;
}

// Waits until the candidate may start; false when the encoding was abandoned.
bool BeginEncode(CandidateEncoding& encoding, bool needsPixels) {
  std::unique_lock<std::mutex> lock(encoding.mutex);
  if (needsPixels) {
    encoding.changed.wait(lock, [&] { return encoding.pixelsReleased || encoding.abandoned; });
  }
  if (encoding.abandoned) return false;
  ++encoding.encodesRunning;
  return true;
}

// Encodes plan entry i with the live-status steps around it and records it
// as tried.
void EncodeWithStatus(CandidateEncoding& encoding, size_t i, bool refresh) {
  const auto total = static_cast<std::int32_t>(encoding.plan.size());
  const std::string& label = encoding.plan[i].label;
  SetLiveStatusStep(label, encoding.doneCount.load(), total, 0);
  if (refresh) RefreshLiveStatus(true);
  EncodeOne(encoding, i);
  const std::int32_t done = encoding.doneCount.fetch_add(1);
  SetLiveStatusStep(label, done + 1, total, encoding.results[i].bytes);
  if (refresh) RefreshLiveStatus(true);
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    encoding.finished[i] = true;
    ++encoding.finishedCount;
    --encoding.encodesRunning;
  }
  encoding.changed.notify_all();
}

// The candidate worth checking ahead, or -1: the smallest tried candidate
// below the source size, when it is lossy and unchecked, other candidates are
// still running, no other check runs and a hardware thread is free.
// Called under the mutex.
int PickCandidateToCheck(const CandidateEncoding& encoding) {
  if (!encoding.checkAhead || !encoding.pixelsReleased || encoding.abandoned ||
      encoding.checkRunning || encoding.finishedCount >= encoding.plan.size() ||
      encoding.encodesRunning + 1 > static_cast<int>(HardwareThreadCount())) {
    return -1;
  }
  const int leader = ChooseWinner(encoding.results, encoding.originalBytes, encoding.finished);
  if (leader < 0) return -1;
  const auto index = static_cast<size_t>(leader);
  if (ReadsOnlySourceCopy(encoding.plan[index]) || encoding.checkStates[index] != CheckState::None) {
    return -1;
  }
  return leader;
}

// Checks one candidate ahead; false when there was none to check.
bool CheckOneAhead(CandidateEncoding& encoding) {
  size_t index = 0;
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    const int picked = PickCandidateToCheck(encoding);
    if (picked < 0) return false;
    index = static_cast<size_t>(picked);
    encoding.checkStates[index] = CheckState::Running;
    encoding.checkRunning = true;
  }
  CandidateCheck check;
  bool made = false;
  try {
    CheckCandidate(encoding.results[index].outputPath, *encoding.reference, check);
    made = true;
  } catch (const std::exception&) {
    // Out of memory, say: the gate then checks the winner itself, as it
    // would have without the check ahead.
  }
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    encoding.checkRunning = false;
    if (made) {
      encoding.checks[index] = std::move(check);
      ++encoding.checksAhead;
    }
    encoding.checkStates[index] = made ? CheckState::Ready : CheckState::Claimed;
  }
  encoding.changed.notify_all();
  return true;
}

void StopOnWorkerError(CandidateEncoding& encoding, bool outOfMemory) {
  if (outOfMemory) encoding.workerOutOfMemory.store(true);
  encoding.workerFailed.store(true);
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    encoding.abandoned = true;
  }
  encoding.changed.notify_all();
}

void RunWorker(CandidateEncoding& encoding) {
  try {
    for (;;) {
      const std::uint64_t k = encoding.nextIndex.fetch_add(1);
      if (k >= encoding.deferred.size()) break;
      const size_t i = encoding.deferred[k];
      const bool early = ReadsOnlySourceCopy(encoding.plan[i]) && encoding.copyReadersStartEarly;
      if (!BeginEncode(encoding, !early)) break;
      EncodeWithStatus(encoding, i, false);
    }
    while (CheckOneAhead(encoding)) {
    }
  } catch (const std::bad_alloc&) {
    // An exception must never leave a thread: it ends the encoding of the
    // image, as a refused thread does.
    StopOnWorkerError(encoding, true);
  } catch (...) {
    StopOnWorkerError(encoding, false);
  }
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    encoding.activeWorkers.fetch_sub(1);
  }
  encoding.changed.notify_all();
}

// Waits until `done` holds (checked under the mutex), refreshing the live
// status and pumping the front-end's events at least every 15 ms.
template <typename Done>
void WaitPumping(CandidateEncoding& encoding, Done done) {
  std::unique_lock<std::mutex> lock(encoding.mutex);
  while (!done()) {
    lock.unlock();
    RefreshLiveStatus(false);
    PumpFrontEndEvents();
    lock.lock();
    if (done()) break;
    encoding.changed.wait_for(lock, std::chrono::milliseconds(15));
  }
}

void JoinWorkers(CandidateEncoding& encoding) {
  for (std::thread& thread : encoding.threads) {
    if (thread.joinable()) thread.join();
  }
}

void MarkAbandoned(CandidateEncoding& encoding) {
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    encoding.abandoned = true;
  }
  encoding.changed.notify_all();
}

// Plan indices of the tool candidates: the source-copy readers first, as
// they need nothing the caller still has to make, then the others, each in
// plan order.
std::vector<size_t> DeferredOrder(const std::vector<EncoderCandidate>& plan) {
  std::vector<size_t> order;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (ReadsOnlySourceCopy(plan[i])) order.push_back(i);
  }
  for (size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].engine != kEngineWic && !ReadsOnlySourceCopy(plan[i])) order.push_back(i);
  }
  return order;
}

// Starts the workers; false when one could not be started.
bool StartWorkers(CandidateEncoding& encoding, unsigned count) {
  encoding.threads.reserve(count);
  // The workers report for the image of the thread that starts them.
  const std::uint64_t image = LiveStatusImageOfThisThread();
  for (unsigned w = 0; w < count; ++w) {
    encoding.activeWorkers.fetch_add(1);
    try {
      if (WorkerStartProbe probe = workerStartProbe.load()) probe(w);
      encoding.threads.emplace_back([&encoding, image] {
        TieThreadToLiveStatusImage(image);
        RunWorker(encoding);
      });
    } catch (const std::system_error&) {
      encoding.activeWorkers.fetch_sub(1);
      return false;
    }
  }
  return true;
}

}  // namespace

CandidateEncoding::~CandidateEncoding() {
  MarkAbandoned(*this);
  JoinWorkers(*this);
}

std::string CandidateFileName(const std::string& prefix, std::uint32_t id) {
  char number[16];
  std::snprintf(number, sizeof number, "%04u", static_cast<unsigned>(id));
  return prefix + "_" + number + ".jpg";
}

unsigned EncoderWorkerCount(int mode, unsigned hardwareThreads, size_t deferredCount) {
  size_t count = static_cast<size_t>(ComputeModeWorkerCap(mode));
  count = std::min<size_t>(count, hardwareThreads == 0 ? 1 : hardwareThreads);
  count = std::min(count, deferredCount);
  return static_cast<unsigned>(std::max<size_t>(count, 1));
}

void SetWorkerStartProbe(WorkerStartProbe probe) { workerStartProbe.store(probe); }

int ChooseWinner(const std::vector<CandidateResult>& results, std::uint64_t originalBytes,
                 const std::vector<bool>& considered) {
  int winner = -1;
  for (size_t i = 0; i < results.size(); ++i) {
    if (!considered.empty() && !considered[i]) continue;
    const CandidateResult& r = results[i];
    if (!r.ok || r.bytes == 0 || r.bytes >= originalBytes) continue;
    if (winner < 0 || r.bytes < results[static_cast<size_t>(winner)].bytes) {
      winner = static_cast<int>(i);
    }
  }
  return winner;
}

void CheckCandidate(const std::string& path, const PixelImage& reference, CandidateCheck& check) {
  PixelImage decoded;
  const auto decodeStarted = Clock::now();
  check.decoded = DecodeImageFile(path, decoded);
  check.decodeMs = MillisecondsSince(decodeStarted);
  if (!check.decoded) return;
  const auto analysisStarted = Clock::now();
  check.report = AnalyzeQuality(reference, decoded);
  check.analysisMs = MillisecondsSince(analysisStarted);
}

bool StartCandidateEncoding(CandidateEncoding& encoding) {
  const size_t count = encoding.plan.size();
  encoding.results.assign(count, CandidateResult{});
  encoding.finished.assign(count, false);
  encoding.checkStates.assign(count, CheckState::None);
  encoding.checks.assign(count, CandidateCheck{});
  for (size_t i = 0; i < count; ++i) {
    const EncoderCandidate& candidate = encoding.plan[i];
    encoding.results[i].candidate = candidate;
    encoding.results[i].outputPath =
        JoinPath(encoding.folder->longPath, CandidateFileName(encoding.prefix, candidate.id));
  }
  encoding.deferred = DeferredOrder(encoding.plan);
  if (encoding.deferred.empty()) return true;
  const unsigned workers =
      EncoderWorkerCount(currentMode.load(), HardwareThreadCount(), encoding.deferred.size());
  if (StartWorkers(encoding, workers)) return true;
  encoding.threadRefused = true;
  MarkAbandoned(encoding);
  return false;
}

void ReleasePixelCandidates(CandidateEncoding& encoding, const PixelImage& reference) {
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    encoding.reference = &reference;
    encoding.pixelsReleased = true;
  }
  encoding.changed.notify_all();
}

void AbandonCandidateEncoding(CandidateEncoding& encoding) {
  MarkAbandoned(encoding);
  WaitPumping(encoding, [&] { return encoding.activeWorkers.load() == 0; });
  JoinWorkers(encoding);
}

bool FinishCandidateEncoding(CandidateEncoding& encoding) {
  for (size_t i = 0; i < encoding.plan.size() && !encoding.threadRefused; ++i) {
    if (encoding.plan[i].engine != kEngineWic || !BeginEncode(encoding, true)) continue;
    EncodeWithStatus(encoding, i, true);
    PumpFrontEndEvents();
  }
  WaitPumping(encoding, [&] {
    return encoding.finishedCount == encoding.plan.size() || encoding.activeWorkers.load() == 0;
  });
  if (encoding.threadRefused) encoding.failure = EncodingFailure::ThreadRefused;
  else if (encoding.workerOutOfMemory.load()) encoding.failure = EncodingFailure::OutOfMemory;
  else if (encoding.workerFailed.load()) encoding.failure = EncodingFailure::WorkerError;
  return encoding.failure == EncodingFailure::None;
}

bool TakeCandidateCheck(CandidateEncoding& encoding, size_t index, CandidateCheck& check) {
  WaitPumping(encoding, [&] { return encoding.checkStates[index] != CheckState::Running; });
  std::lock_guard<std::mutex> lock(encoding.mutex);
  const bool made = encoding.checkStates[index] == CheckState::Ready;
  if (made) check = std::move(encoding.checks[index]);
  encoding.checkStates[index] = CheckState::Claimed;
  return made;
}

bool EncodeAllCandidates(const std::vector<EncoderCandidate>& plan, const PixelImage& image,
                         const std::string& jpegCopyPath, const std::string& ppmPath,
                         const WorkFolder& folder, const std::string& prefix,
                         const std::string& sourceMetadata, std::vector<CandidateResult>& results) {
  CandidateEncoding encoding;
  encoding.plan = plan;
  encoding.jpegCopyPath = jpegCopyPath;
  encoding.ppmPath = ppmPath;
  encoding.folder = &folder;
  encoding.prefix = prefix;
  encoding.sourceMetadata = sourceMetadata;
  bool encoded = StartCandidateEncoding(encoding);
  if (encoded) {
    ReleasePixelCandidates(encoding, image);
    encoded = FinishCandidateEncoding(encoding);
  }
  AbandonCandidateEncoding(encoding);
  results = std::move(encoding.results);
  return encoded;
}
