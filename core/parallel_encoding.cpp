// The candidate scheduler; see parallel_encoding.h. Neighbours:
// encoder_invocation.cpp (one encode), jpeg_metadata.cpp (the metadata
// rewrite), live_status.cpp (progress and the front-end hooks), pipeline.cpp
// (the only caller in the optimiser).
#include "core/parallel_encoding.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "core/jpeg_metadata.h"
#include "core/live_status.h"
#include "core/profiles.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

std::atomic<WorkerStartProbe> workerStartProbe{nullptr};

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Everything one call shares with its workers. Lives on the calling thread's
// stack until every worker has been joined.
struct EncodingShared {
  const std::vector<EncoderCandidate>& plan;
  const PixelImage& image;
  const std::string& jpegCopyPath;
  const std::string& ppmPath;
  const WorkFolder& folder;
  const std::string& prefix;
  const std::string& sourceMetadata;
  std::vector<CandidateResult>& results;
  std::vector<size_t> deferred;              // plan indices of the tool candidates
  std::atomic<std::uint64_t> nextIndex{0};   // next position in `deferred`
  std::atomic<std::int32_t> doneCount{0};    // candidates finished
  std::atomic<std::int32_t> activeWorkers{0};
  std::atomic<bool> stopHandingOut{false};   // no further candidates are handed out
  std::atomic<bool> workerFailed{false};     // a worker ended by an exception
};

// Encodes plan entry i into its result, then carries the source's metadata
// into a lossy candidate. Sets ok, bytes and the two timings.
void EncodeOne(EncodingShared& shared, size_t i) {
  CandidateResult& result = shared.results[i];
  const EncoderCandidate& candidate = shared.plan[i];
  const std::string fileName = CandidateFileName(shared.prefix, candidate.id);
  const auto started = std::chrono::steady_clock::now();
  bool ok = EncodeCandidate(candidate, shared.image, shared.jpegCopyPath, shared.ppmPath,
                            result.outputPath, JoinPath(shared.folder.shortPath, fileName),
                            shared.folder.shortPath);
  result.encodeMs = MillisecondsSince(started);
  if (ok && candidate.engine != kEngineJpegtran && !shared.sourceMetadata.empty()) {
    const auto metadataStarted = std::chrono::steady_clock::now();
    ok = ReplaceJpegMetadataInFile(result.outputPath, shared.sourceMetadata,
                                   result.outputPath + ".meta");
    result.metadataMs = MillisecondsSince(metadataStarted);
  }
  std::uint64_t bytes = 0;
  if (ok) TryFileSize(result.outputPath, bytes);
  result.ok = ok;
  result.bytes = ok ? bytes : 0;
}

void RunWorker(EncodingShared& shared) {
  const auto total = static_cast<std::int32_t>(shared.plan.size());
  try {
    while (!shared.stopHandingOut.load()) {
      const std::uint64_t k = shared.nextIndex.fetch_add(1);
      if (k >= shared.deferred.size()) break;
      const size_t i = shared.deferred[k];
      const std::string& label = shared.plan[i].label;
      SetLiveStatusStep(label, shared.doneCount.load(), total, 0);
      EncodeOne(shared, i);
      const std::int32_t done = shared.doneCount.fetch_add(1);
      SetLiveStatusStep(label, done + 1, total, shared.results[i].bytes);
    }
  } catch (...) {
    // An exception must never leave a thread: out of memory inside a worker
    // ends the encoding of the image, as a refused thread does.
    shared.workerFailed.store(true);
    shared.stopHandingOut.store(true);
  }
  shared.activeWorkers.fetch_sub(1);
}

// Joins every started worker when the scope ends, also during unwinding, so no
// worker outlives the data it works on.
struct WorkerJoiner {
  EncodingShared& shared;
  std::vector<std::thread> threads;
  ~WorkerJoiner() {
    shared.stopHandingOut.store(true);
    for (std::thread& thread : threads) {
      if (thread.joinable()) thread.join();
    }
  }
};

void EncodeOnCallingThread(EncodingShared& shared, size_t i) {
  const auto total = static_cast<std::int32_t>(shared.plan.size());
  const std::string& label = shared.plan[i].label;
  SetLiveStatusStep(label, static_cast<std::int32_t>(i), total, 0);
  RefreshLiveStatus(true);
  EncodeOne(shared, i);
  SetLiveStatusStep(label, static_cast<std::int32_t>(i) + 1, total, shared.results[i].bytes);
  RefreshLiveStatus(true);
  PumpFrontEndEvents();
}

// Starts the workers; false when one could not be started.
bool StartWorkers(WorkerJoiner& joiner, unsigned count) {
  EncodingShared& shared = joiner.shared;
  for (unsigned w = 0; w < count; ++w) {
    shared.activeWorkers.fetch_add(1);
    try {
      if (WorkerStartProbe probe = workerStartProbe.load()) probe(w);
      joiner.threads.emplace_back([&shared] { RunWorker(shared); });
    } catch (const std::system_error&) {
      shared.activeWorkers.fetch_sub(1);
      shared.stopHandingOut.store(true);
      return false;
    }
  }
  return true;
}

}  // namespace

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

bool EncodeAllCandidates(const std::vector<EncoderCandidate>& plan, const PixelImage& image,
                         const std::string& jpegCopyPath, const std::string& ppmPath,
                         const WorkFolder& folder, const std::string& prefix,
                         const std::string& sourceMetadata, std::vector<CandidateResult>& results) {
  results.assign(plan.size(), CandidateResult{});
  EncodingShared shared{plan,   image,   jpegCopyPath, ppmPath, folder, prefix, sourceMetadata,
                        results, {},      {0},          {0},     {0},    {false}, {false}};
  for (size_t i = 0; i < plan.size(); ++i) {
    results[i].candidate = plan[i];
    results[i].outputPath = JoinPath(folder.longPath, CandidateFileName(prefix, plan[i].id));
    if (plan[i].engine != kEngineWic) {
      shared.deferred.push_back(i);
      continue;
    }
    EncodeOnCallingThread(shared, i);
  }
  if (shared.deferred.empty()) return true;

  const unsigned workers =
      EncoderWorkerCount(currentMode.load(), HardwareThreadCount(), shared.deferred.size());
  shared.doneCount.store(static_cast<std::int32_t>(plan.size() - shared.deferred.size()));
  WorkerJoiner joiner{shared, {}};
  joiner.threads.reserve(workers);
  const bool started = StartWorkers(joiner, workers);
  while (shared.activeWorkers.load() > 0) {
    RefreshLiveStatus(false);
    PumpFrontEndEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  return started && !shared.workerFailed.load();
}
