// Live-status text, progress value and figure sampling; see live_status_text.h.
// Neighbours: core/live_status.h (the record and FormatBytes),
// platform/system_figures.h (the /proc readers), main_batch.cpp (the caller).
#include "ui/main/live_status_text.h"

#include <algorithm>

#include "platform/text.h"

namespace {

constexpr const char* kSeparator = "   |   ";

std::string TwoDigits(std::uint64_t value) {
  std::string digits = FormatInteger(static_cast<std::int64_t>(value));
  return digits.size() < 2 ? "0" + digits : digits;
}

}  // namespace

bool ClaimLiveStatusRefresh(LiveStatusSampling& sampling, std::uint64_t now, bool force) {
  if (!force && now - sampling.lastRefreshTick < kLiveStatusThrottleMs) return false;
  sampling.lastRefreshTick = now;
  return true;
}

double SampleCpuPercent(LiveStatusSampling& sampling, const SystemTimes* current) {
  if (current == nullptr) return -1;
  if (!sampling.cpuBaselineValid) {
    sampling.previousTimes = *current;
    sampling.cpuBaselineValid = true;
    return -1;
  }
  const double percent = CpuLoadPercent(sampling.previousTimes, *current);
  sampling.previousTimes = *current;
  return percent;
}

LiveStatusFigures GatherLiveStatusFigures(LiveStatusSampling& sampling, std::uint64_t now,
                                          std::uint64_t batchStartTick) {
  LiveStatusFigures figures;
  MemoryFigures memory;
  if (ReadMemoryFigures(memory)) {
    figures.memoryLoadPercent = memory.loadPercent;
    figures.memoryTotalBytes = memory.totalBytes;
    figures.memoryUsedBytes =
        memory.availableBytes > memory.totalBytes ? 0 : memory.totalBytes - memory.availableBytes;
  }
  SystemTimes times;
  const bool timesRead = ReadSystemTimes(times);
  figures.cpuPercent = SampleCpuPercent(sampling, timesRead ? &times : nullptr);
  figures.ownBytes = ReadResidentBytes();
  figures.elapsedMs = batchStartTick != 0 && now >= batchStartTick ? now - batchStartTick : 0;
  return figures;
}

std::string FormatRunTime(std::uint64_t elapsedMs) {
  const std::uint64_t minutes = elapsedMs / 60000;
  const std::uint64_t seconds = elapsedMs / 1000 - minutes * 60;
  return TwoDigits(minutes) + ":" + TwoDigits(seconds);
}

std::string BuildLiveStatusText(const LiveStatusSnapshot& status, std::string_view profileLabel,
                                std::string_view modeName, const LiveStatusFigures& figures,
                                std::string_view lineEnd) {
  const std::string eol(lineEnd);
  std::string text = "Bild " + FormatInteger(static_cast<std::int64_t>(status.imageIndex)) +
                     " / " + FormatInteger(static_cast<std::int64_t>(status.imageCount)) + ": " +
                     status.fileName + eol;
  text += "Phase: " + (status.phase.empty() ? std::string("\u2013") : status.phase);
  if (status.candidatesTotal > 0) {
    text += std::string(kSeparator) + "Kandidaten " + FormatInteger(status.candidatesDone) +
            " / " + FormatInteger(status.candidatesTotal);
  }
  text += eol + "Profil: " + std::string(profileLabel) + kSeparator + "Rechenmodus: " +
          std::string(modeName) + eol;
  if (!status.stepText.empty()) text += "Aktuell: " + status.stepText + eol;
  text += "Eingabe: " + FormatBytes(status.inputBytes);
  if (status.lastCandidateBytes != 0) {
    text += std::string(kSeparator) + "letzter Kandidat: " + FormatBytes(status.lastCandidateBytes);
  }
  text += eol + "CPU gesamt: " +
          (figures.cpuPercent >= 0 ? FormatFixed(figures.cpuPercent, 0) + " %"
                                   : std::string("wird gemessen\u2026"));
  text += std::string(kSeparator) + "RAM gesamt: " + FormatInteger(figures.memoryLoadPercent) +
          " % (" + FormatBytes(figures.memoryUsedBytes) + " / " +
          FormatBytes(figures.memoryTotalBytes) + ")";
  text += std::string(kSeparator) + "TALV: " + FormatBytes(figures.ownBytes);
  text += eol + "Laufzeit: " + FormatRunTime(figures.elapsedMs);
  return text;
}

int LiveStatusProgress(const LiveStatusSnapshot& status) {
  if (status.imageCount == 0) return 0;
  double fraction = 0;
  if (status.candidatesTotal > 0) {
    fraction = static_cast<double>(status.candidatesDone) / status.candidatesTotal;
    fraction = std::clamp(fraction, 0.0, 1.0);
  }
  const double imagesDone = status.imageIndex == 0 ? 0.0 : static_cast<double>(status.imageIndex - 1);
  const double value = (imagesDone + fraction) / static_cast<double>(status.imageCount) * 1000.0;
  return static_cast<int>(std::clamp(value, 0.0, 1000.0));
}
