// Live-status text, progress value and figure sampling; see live_status_text.h.
// Neighbours: core/live_status.h (the record and FormatBytes),
// platform/system_figures.h (the /proc readers), main_batch.cpp (the caller).
#include "ui/main/live_status_text.h"

#include <algorithm>
#include <cctype>

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
                     status.fileName;
  // Several images at once: the record names the one started last.
  if (status.imagesInFlight > 1) {
    text += std::string(kSeparator) + FormatInteger(static_cast<std::int64_t>(status.imagesInFlight)) +
            " Bilder gleichzeitig";
  }
  text += eol;
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

std::vector<std::string> WrapLiveStatusLines(std::string_view text, std::string_view lineEnd,
                                             int width,
                                             const std::function<int(const std::string&)>& measure) {
  std::vector<std::string> shown;
  const std::string_view separator(kSeparator);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(lineEnd, start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    std::string current;
    std::size_t partStart = 0;
    while (partStart <= line.size()) {
      std::size_t partEnd = line.find(separator, partStart);
      if (partEnd == std::string_view::npos) partEnd = line.size();
      const std::string part(line.substr(partStart, partEnd - partStart));
      if (partStart == 0) {
        current = part;
      } else if (measure(current + kSeparator + part) <= width) {
        current += kSeparator + part;
      } else {
        shown.push_back(current);
        current = part;
      }
      partStart = partEnd + separator.size();
    }
    shown.push_back(current);
    if (end == text.size()) break;
    start = end + lineEnd.size();
  }
  return shown;
}

std::string KeepFiguresTogether(std::string_view text) {
  std::string kept;
  kept.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool afterDigit = i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9';
    const std::string_view rest = text.substr(i + 1);
    bool beforeUnit = false;
    for (const std::string_view unit : {"%", "B", "KB", "MB", "GB", "TB"}) {
      // The unit as a word of its own ("3 Bilder" is no figure).
      const bool wordEnds = rest.size() == unit.size() ||
                            (rest.size() > unit.size() && !std::isalpha(static_cast<unsigned char>(rest[unit.size()])));
      beforeUnit = beforeUnit || (rest.starts_with(unit) && wordEnds);
    }
    if (text[i] == ' ' && afterDigit && beforeUnit) kept += "\u00a0";
    else kept += text[i];
  }
  return kept;
}

std::string LongestLiveStatusText(std::string_view lineEnd) {
  LiveStatusSnapshot status;
  status.fileName = "IMG_20260101_123456789.jpg";
  status.imageIndex = 888;
  status.imageCount = 888;
  status.imagesInFlight = 88;
  status.phase = "Nachgelagerte Qualit\u00e4tskontrolle";
  status.candidatesDone = 3;
  status.candidatesTotal = 3;
  status.stepText = "MozJPEG Q56 420 Progressive Trellis";
  status.inputBytes = 888 * 1048576ull;
  status.lastCandidateBytes = 888 * 1048576ull;
  LiveStatusFigures figures;
  figures.cpuPercent = 100;
  figures.memoryLoadPercent = 100;
  figures.memoryUsedBytes = 888 * 1073741824ull;
  figures.memoryTotalBytes = 888 * 1073741824ull;
  figures.ownBytes = 888 * 1048576ull;
  figures.elapsedMs = 888 * 60000ull;
  return BuildLiveStatusText(status, "Hohe Qualit\u00e4t (empfohlen)", "Optimal (empfohlen)", figures,
                             lineEnd);
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
