// The live status shared by the batch, the pipeline and the encoder workers,
// and the two hooks through which the core reaches whatever front-end runs it.
//
// Invariant: the three texts are guarded by `mutex`, held only while a text is
// copied in or out; the counters are atomics written without the mutex, so a
// reader may see a counter of a newer step next to an older text.
// SetLiveStatusStep stores the text before the counters.
//
// Several images of a batch may be in flight at once. The record then shows
// the image that started last: each thread working for an image is tied to
// its position, and the setters of a thread tied to another image leave the
// record alone. `imageIndex` counts finished images (the ordinal of the next
// one to finish), so it never runs ahead of the results.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct LiveStatus {
  std::mutex mutex;                                  // guards the three texts
  std::string fileName;                              // file-name part of the current image, escaped for display
  std::string phase;                                 // phase text of the batch or pipeline
  std::string stepText;                              // current step, usually a candidate label
  std::atomic<std::uint64_t> imageIndex{0};          // finished images of the batch + 1, at most imageCount
  std::atomic<std::uint64_t> imageCount{0};          // images of the batch
  std::atomic<std::int32_t> candidatesDone{0};       // candidates finished for this image
  std::atomic<std::int32_t> candidatesTotal{0};      // candidates planned for this image
  std::atomic<std::uint64_t> inputBytes{0};          // size of the current input, bytes
  std::atomic<std::uint64_t> lastCandidateBytes{0};  // last finished candidate, bytes; 0 none
  std::atomic<std::uint64_t> shownImage{0};          // 1-based position of the image shown; 0 none
  std::atomic<std::uint64_t> imagesInFlight{0};      // images begun and not yet ended
  std::atomic<std::uint64_t> imagesFinished{0};      // images ended in this batch
};

// The one process-wide record.
LiveStatus& CurrentLiveStatus();

// A consistent copy of the texts and a reading of the counters.
struct LiveStatusSnapshot {
  std::string fileName;
  std::string phase;
  std::string stepText;
  std::uint64_t imageIndex = 0;
  std::uint64_t imageCount = 0;
  std::int32_t candidatesDone = 0;
  std::int32_t candidatesTotal = 0;
  std::uint64_t inputBytes = 0;
  std::uint64_t lastCandidateBytes = 0;
  std::uint64_t imagesInFlight = 0;
};
LiveStatusSnapshot TakeLiveStatusSnapshot();

// phase = text, under the mutex.
void SetLiveStatusPhase(const std::string& text);

// stepText = text under the mutex; then the counters; lastBytes only when not 0.
// Callable from any thread.
void SetLiveStatusStep(const std::string& text, std::int32_t done, std::int32_t total,
                       std::uint64_t lastBytes);

// The reset at the start of a batch of `count` images: nothing in flight,
// nothing finished, no image shown.
void BeginLiveStatusBatch(std::uint64_t count);

// The reset before each image, on the thread that runs it: the thread is tied
// to image `index` (1-based), which becomes the image shown and counts as in
// flight; fileName, phase "Vorbereitung" and an empty step under the mutex,
// then the counters (candidates 0, sizes as given).
void BeginLiveStatusImage(const std::string& fileName, std::uint64_t index, std::uint64_t count,
                          std::uint64_t inputBytes);

// The image of this thread has ended: one fewer in flight, one more finished,
// and the thread is tied to no image again.
void EndLiveStatusImage();

// The image this thread is tied to (0: none; its setters always write), and
// the tie for a thread that works for an image begun elsewhere (the encoder
// workers of an image).
std::uint64_t LiveStatusImageOfThisThread();
void TieThreadToLiveStatusImage(std::uint64_t index);

// "0 B", "1023 B", "1.00 KB", "1.50 KB", "5120.00 GB": binary units up to GB,
// no decimals for bytes, two otherwise, a full stop as decimal separator.
std::string FormatBytes(std::uint64_t count);

// --- Front-end hooks -------------------------------------------------------
// The core never includes a user interface. A front-end (the Qt windows or the
// command line) installs these; both default to doing nothing. They are
// called on the thread that runs the pipeline only.
struct FrontEndHooks {
  // Rebuild the status display; `force` false means at most every 250 ms.
  std::function<void(bool force)> refreshStatus;
  // Handle pending user-interface events without waiting (a quit request that
  // arrives meanwhile is dropped by the front-end).
  std::function<void()> pumpEvents;
};

void SetFrontEndHooks(FrontEndHooks hooks);

// Calls the installed hooks (no-ops when none are installed).
void RefreshLiveStatus(bool force);
void PumpFrontEndEvents();
