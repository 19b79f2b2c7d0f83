// The shared live-status record, its two setters, the byte formatter and the
// front-end hooks; see live_status.h. Neighbours: the pipeline and the encoder
// workers write here; the Qt main window and the command-line front-end read
// the record and install the hooks.
#include "core/live_status.h"

#include <algorithm>

#include "platform/text.h"

namespace {

std::mutex hooksMutex;
FrontEndHooks installedHooks;

// 1-based position of the image this thread works for; 0 none.
thread_local std::uint64_t threadImage = 0;

// False when this thread works for an image other than the one shown. The
// setters ask under the mutex, which BeginLiveStatusImage holds while it
// changes the image shown.
bool WritesShownImage(const LiveStatus& status) {
  return threadImage == 0 || threadImage == status.shownImage.load();
}

std::uint64_t NextToFinish(std::uint64_t finished, std::uint64_t count) {
  return std::min(finished + 1, count);
}

FrontEndHooks CopyHooks() {
  std::lock_guard<std::mutex> lock(hooksMutex);
  return installedHooks;
}

}  // namespace

LiveStatus& CurrentLiveStatus() {
  static LiveStatus status;
  return status;
}

LiveStatusSnapshot TakeLiveStatusSnapshot() {
  LiveStatus& status = CurrentLiveStatus();
  LiveStatusSnapshot snapshot;
  {
    std::lock_guard<std::mutex> lock(status.mutex);
    snapshot.fileName = status.fileName;
    snapshot.phase = status.phase;
    snapshot.stepText = status.stepText;
  }
  snapshot.imageIndex = status.imageIndex.load();
  snapshot.imageCount = status.imageCount.load();
  snapshot.candidatesDone = status.candidatesDone.load();
  snapshot.candidatesTotal = status.candidatesTotal.load();
  snapshot.inputBytes = status.inputBytes.load();
  snapshot.lastCandidateBytes = status.lastCandidateBytes.load();
  snapshot.imagesInFlight = status.imagesInFlight.load();
  return snapshot;
}

void SetLiveStatusPhase(const std::string& text) {
  LiveStatus& status = CurrentLiveStatus();
  std::lock_guard<std::mutex> lock(status.mutex);
  if (WritesShownImage(status)) status.phase = text;
}

void BeginLiveStatusBatch(std::uint64_t count) {
  LiveStatus& status = CurrentLiveStatus();
  status.shownImage.store(0);
  status.imagesInFlight.store(0);
  status.imagesFinished.store(0);
  status.imageIndex.store(NextToFinish(0, count));
  status.imageCount.store(count);
}

void BeginLiveStatusImage(const std::string& fileName, std::uint64_t index, std::uint64_t count,
                          std::uint64_t inputBytes) {
  LiveStatus& status = CurrentLiveStatus();
  threadImage = index;
  status.imagesInFlight.fetch_add(1);
  {
    // The tie and the texts change together, so a setter of the image shown
    // before cannot write between them.
    std::lock_guard<std::mutex> lock(status.mutex);
    status.shownImage.store(index);
    status.fileName = fileName;
    status.phase = "Vorbereitung";
    status.stepText.clear();
  }
  status.imageIndex.store(NextToFinish(status.imagesFinished.load(), count));
  status.imageCount.store(count);
  status.candidatesDone.store(0);
  status.candidatesTotal.store(0);
  status.inputBytes.store(inputBytes);
  status.lastCandidateBytes.store(0);
}

void EndLiveStatusImage() {
  LiveStatus& status = CurrentLiveStatus();
  threadImage = 0;
  const std::uint64_t finished = status.imagesFinished.fetch_add(1) + 1;
  status.imageIndex.store(NextToFinish(finished, status.imageCount.load()));
  status.imagesInFlight.fetch_sub(1);
}

std::uint64_t LiveStatusImageOfThisThread() { return threadImage; }

void TieThreadToLiveStatusImage(std::uint64_t index) { threadImage = index; }

void SetLiveStatusStep(const std::string& text, std::int32_t done, std::int32_t total,
                       std::uint64_t lastBytes) {
  LiveStatus& status = CurrentLiveStatus();
  {
    std::lock_guard<std::mutex> lock(status.mutex);
    if (!WritesShownImage(status)) return;
    status.stepText = text;
  }
  status.candidatesDone.store(done);
  status.candidatesTotal.store(total);
  if (lastBytes != 0) status.lastCandidateBytes.store(lastBytes);
}

std::string FormatBytes(std::uint64_t count) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB"};
  double value = static_cast<double>(count);
  int unit = 0;
  while (value >= 1024.0 && unit < 3) {
    value *= 0.0009765625;
    ++unit;
  }
  // The unit is chosen before rounding, so 1048575 reads "1024.00 KB".
  return FormatFixed(value, unit == 0 ? 0 : 2) + " " + kUnits[unit];
}

void SetFrontEndHooks(FrontEndHooks hooks) {
  std::lock_guard<std::mutex> lock(hooksMutex);
  installedHooks = std::move(hooks);
}

void RefreshLiveStatus(bool force) {
  const FrontEndHooks hooks = CopyHooks();
  if (hooks.refreshStatus) hooks.refreshStatus(force);
}

void PumpFrontEndEvents() {
  const FrontEndHooks hooks = CopyHooks();
  if (hooks.pumpEvents) hooks.pumpEvents();
}
