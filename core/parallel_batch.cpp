// Scheduling the images of a batch over several threads; see
// parallel_batch.h. Neighbours: the front-ends (the calls), core/pipeline
// (one image).
#include "core/parallel_batch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <locale>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "core/display_text.h"
#include "core/live_status.h"
#include "core/profiles.h"
#include "imaging/decode.h"
#include "platform/files.h"
#include "platform/system_figures.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Peak bytes per declared pixel of one image, the encoder tools it runs
// included: the decoded picture (4 bytes a pixel), the tools reading their
// copy of it beside one another, and, while the winner is judged, its decode
// and the comparison's planes. Measured on a 7680 x 6400 photo (49 MP) with
// the real tools: 17.4 bytes a pixel for the process and its two tools at
// their joint peak ("Optimal" and "Maximum"), 11.3 for the one-candidate
// "Schnell"; a kept 16000 x 16000 progressive JPEG peaked at 6.9 before any
// candidate ran.
constexpr std::uint64_t kBytesPerDeclaredPixel = 18;
// Where the frame header is looked for; metadata segments come before it.
constexpr std::size_t kFrameHeaderSearchBytes = 256 * 1024;

// Everything one run shares. The calling thread owns all of it except
// `outcomes[i]`, which image i's thread writes before it announces itself in
// `finished` (under `mutex`), and `finished` itself.
struct BatchRun {
  const ParallelBatchCalls& calls;
  std::vector<BatchOutcome> outcomes;
  std::vector<std::thread> threads;      // entry i: image i's thread, once started
  std::vector<char> started;
  std::vector<char> done;                // collected by the calling thread
  std::vector<std::size_t> earlier;      // latest earlier image with the same output; kNone
  std::vector<std::string> writtenOutputs;
  std::size_t inFlight = 0;
  std::vector<std::uint64_t> memoryNeeds;  // bytes; asked for when next in line
  std::vector<char> memoryKnown;
  std::uint64_t memoryInFlight = 0;        // bytes the images in flight may need
  std::mutex mutex;
  std::condition_variable finishedChanged;
  std::vector<std::size_t> finished;     // done on their thread, not yet collected

  BatchRun(const ParallelBatchCalls& c, std::size_t count)
      : calls(c), outcomes(count), threads(count), started(count, 0), done(count, 0),
        earlier(count, kNone), memoryNeeds(count, 0), memoryKnown(count, 0) {}
  // Also when a call of the calling thread throws: no thread outlives the run.
  ~BatchRun() {
    for (std::thread& thread : threads) {
      if (thread.joinable()) thread.join();
    }
  }
  BatchRun(const BatchRun&) = delete;
  BatchRun& operator=(const BatchRun&) = delete;
};

// The lower-case mapping of Unicode letters, from the C.UTF-8 locale every
// glibc since 2.35 carries; the classic locale's ASCII mapping where it is
// missing.
const std::ctype<wchar_t>& UnicodeLowerCase() {
  static const std::locale locale = []() {
    try {
      return std::locale("C.UTF-8");
    } catch (const std::runtime_error&) {
      return std::locale::classic();
    }
  }();
  return std::use_facet<std::ctype<wchar_t>>(locale);
}

}  // namespace

std::u16string CaseFoldedOutputPath(const std::string& path) {
  std::u16string folded = Utf8ToUtf16(path);
  const std::ctype<wchar_t>& lower = UnicodeLowerCase();
  for (char16_t& unit : folded) {
    const bool surrogate = unit >= 0xD800 && unit <= 0xDFFF;
    const wchar_t mapped = surrogate ? unit : lower.tolower(static_cast<wchar_t>(unit));
    if (mapped <= 0xFFFF && !(mapped >= 0xD800 && mapped <= 0xDFFF)) unit = static_cast<char16_t>(mapped);
  }
  return folded;
}

namespace {

void FindEarlierSameOutputs(const std::vector<std::string>& outputPaths, BatchRun& run) {
  std::map<std::u16string, std::size_t> latest;
  for (std::size_t i = 0; i < outputPaths.size(); ++i) {
    const auto [entry, inserted] = latest.try_emplace(CaseFoldedOutputPath(outputPaths[i]), i);
    if (!inserted) {
      run.earlier[i] = entry->second;
      entry->second = i;
    }
  }
}

// The body of an image's thread. An exception must not leave the thread: it
// ends the image as a failure.
void ProcessOnThread(BatchRun& run, std::size_t index, const std::vector<std::string>& written) {
  BatchOutcome outcome;
  try {
    outcome = run.calls.process(index, written);
  } catch (...) {
    outcome = BatchOutcome{};
  }
  run.outcomes[index] = std::move(outcome);
  {
    const std::lock_guard<std::mutex> lock(run.mutex);
    run.finished.push_back(index);
  }
  run.finishedChanged.notify_one();
}

// True when image `index` may start beside the images in flight.
bool FitsInMemory(BatchRun& run, std::size_t index) {
  if (!run.calls.memoryNeed || run.calls.memoryBudget == 0) return true;
  if (!run.memoryKnown[index]) {
    run.memoryNeeds[index] = run.calls.memoryNeed(index);
    run.memoryKnown[index] = 1;
  }
  return run.inFlight == 0 || run.memoryInFlight + run.memoryNeeds[index] <= run.calls.memoryBudget;
}

void StartImage(BatchRun& run, std::size_t index) {
  run.started[index] = 1;
  ++run.inFlight;
  run.memoryInFlight += run.memoryNeeds[index];
  try {
    run.threads[index] = std::thread(ProcessOnThread, std::ref(run), index, run.writtenOutputs);
  } catch (const std::system_error&) {
    // No thread to be had: the image runs here, and the batch goes on.
    ProcessOnThread(run, index, run.writtenOutputs);
  }
}

// Starts images in list order while fewer than `jobs` are in flight, passing
// over those that must wait for an earlier image with the same output.
void StartReadyImages(BatchRun& run, unsigned jobs) {
  for (std::size_t i = 0; i < run.started.size() && run.inFlight < jobs; ++i) {
    if (run.started[i]) continue;
    if (run.earlier[i] != kNone && !run.done[run.earlier[i]]) continue;
    // In list order, so a large image is never passed over for good.
    if (!FitsInMemory(run, i)) break;
    StartImage(run, i);
  }
}

// Waits up to `pollEveryMs` for images to finish and takes them in.
void CollectFinished(BatchRun& run) {
  std::vector<std::size_t> finished;
  {
    std::unique_lock<std::mutex> lock(run.mutex);
    run.finishedChanged.wait_for(lock, std::chrono::milliseconds(run.calls.pollEveryMs),
                                 [&run] { return !run.finished.empty(); });
    finished.swap(run.finished);
  }
  for (const std::size_t index : finished) {
    if (run.threads[index].joinable()) run.threads[index].join();
    run.done[index] = 1;
    --run.inFlight;
    run.memoryInFlight -= run.memoryNeeds[index];
    const ImageResult& result = run.outcomes[index].result;
    if (result.optimized && !result.outputPath.empty()) run.writtenOutputs.push_back(result.outputPath);
  }
}

void Report(BatchRun& run, std::size_t index, std::size_t& reported) {
  run.calls.report(index, run.outcomes[index]);
  run.outcomes[index] = BatchOutcome{};
  ++reported;
}

}  // namespace

std::size_t RunParallelBatch(const std::vector<std::string>& outputPaths, unsigned jobs,
                             const ParallelBatchCalls& calls) {
  const std::size_t count = outputPaths.size();
  jobs = std::max(jobs, 1u);
  BatchRun run(calls, count);
  FindEarlierSameOutputs(outputPaths, run);
  std::size_t nextReport = 0;
  std::size_t reported = 0;
  bool stopping = false;
  for (;;) {
    if (!stopping) stopping = calls.poll();
    if (!stopping) StartReadyImages(run, jobs);
    while (nextReport < count && run.done[nextReport]) Report(run, nextReport++, reported);
    // With nothing in flight and no stop, every image has been started and reported.
    if (run.inFlight == 0) break;
    CollectFinished(run);
  }
  // After a stop: the images that finished behind one that never started.
  for (std::size_t i = nextReport; i < count; ++i) {
    if (run.done[i]) Report(run, i, reported);
  }
  return reported;
}

const char* const kVerdictNotStarted = "nicht bearbeitet \u2013 Stapel abgebrochen";

BatchOutcome OptimizeBatchImage(const std::vector<std::string>& sources, std::size_t index,
                                const OutputTarget& target, const QualityProfile& profile,
                                const std::vector<std::string>& writtenOutputs,
                                const OutputOptions& output) {
  const std::string& source = sources[index];
  BeginLiveStatusImage(EscapeForDisplay(FileNamePart(source)), index + 1, sources.size(), FileSize(source));
  RefreshLiveStatus(true);
  BatchOutcome outcome;
  try {
    outcome.reached = OptimizeImageTo(source, target, profile, outcome.result, sources, nullptr,
                                      writtenOutputs, output);
  } catch (...) {
    outcome = BatchOutcome{};
  }
  EndLiveStatusImage();
  return outcome;
}

std::uint64_t DeclaredMemoryNeed(const std::string& sourcePath) {
  const std::uint64_t fileBytes = FileSize(sourcePath);
  std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(fileBytes, kFrameHeaderSearchBytes)), '\0');
  const UniqueFd file = OpenForReading(sourcePath);
  std::size_t got = 0;
  while (file.Valid() && got < head.size()) {
    const ssize_t n = ::pread(file.fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (ReadJpegFrameSize(reinterpret_cast<const std::uint8_t*>(head.data()), got, width, height)) {
    return std::uint64_t{width} * height * kBytesPerDeclaredPixel;
  }
  return fileBytes * kBytesPerDeclaredPixel;
}

std::uint64_t BatchMemoryBudget() {
  MemoryFigures figures;
  return ReadMemoryFigures(figures) ? figures.availableBytes / 2 : 0;
}

void AdmitByDeclaredMemory(ParallelBatchCalls& calls, const std::vector<std::string>& sources) {
  calls.memoryNeed = [&sources](std::size_t i) { return DeclaredMemoryNeed(sources[i]); };
  calls.memoryBudget = BatchMemoryBudget();
}

ImageResult NotStartedResult(const std::string& sourcePath, const std::string& profileLabel) {
  ImageResult result;
  result.sourcePath = sourcePath;
  result.profileLabel = profileLabel;
  result.originalBytes = FileSize(sourcePath);
  result.resultBytes = result.originalBytes;
  result.message = kVerdictNotStarted;
  return result;
}

bool WasDoneInBatch(const ImageResult& result) {
  return result.message != kVerdictNotStarted && result.failureReason != kFailureCancelled;
}

unsigned AutomaticJobCount(unsigned hardwareThreads) { return std::max(1u, hardwareThreads); }
