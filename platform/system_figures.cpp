// /proc readers for the live status and the benchmarks; see system_figures.h.
#include "platform/system_figures.h"

#include <charconv>
#include <string>
#include <vector>

#include "platform/files.h"

namespace {

// Reads a small /proc file; their sizes read as 0, so no size limit applies
// beyond a sane cap.
bool ReadProcFile(const char* path, std::string& text) {
  return ReadFileBytes(path, text, 1 << 20);
}

bool ParseUnsigned(std::string_view text, size_t& pos, std::uint64_t& value) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  const auto result = std::from_chars(text.data() + pos, text.data() + text.size(), value);
  if (result.ec != std::errc()) return false;
  pos = static_cast<size_t>(result.ptr - text.data());
  return true;
}

// The line that starts with `key` (followed by a separator), or empty.
std::string_view FindLine(std::string_view text, std::string_view key) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (line.size() > key.size() && line.substr(0, key.size()) == key &&
        (line[key.size()] == ' ' || line[key.size()] == ':' || line[key.size()] == '\t')) {
      return line;
    }
    start = end + 1;
  }
  return {};
}

bool ParseKilobyteLine(std::string_view text, std::string_view key, std::uint64_t& bytes) {
  const std::string_view line = FindLine(text, key);
  if (line.empty()) return false;
  size_t pos = key.size() + 1;
  std::uint64_t kilobytes = 0;
  if (!ParseUnsigned(line, pos, kilobytes)) return false;
  bytes = kilobytes * 1024;
  return true;
}

}  // namespace

bool ParseSystemTimes(std::string_view procStat, SystemTimes& times) {
  const std::string_view line = FindLine(procStat, "cpu");
  if (line.empty()) return false;
  size_t pos = 3;
  std::uint64_t field[8] = {};
  int count = 0;
  while (count < 8 && ParseUnsigned(line, pos, field[count])) ++count;
  if (count < 4) return false;  // user nice system idle are always there
  const std::uint64_t user = field[0], nice = field[1], system = field[2], idle = field[3];
  const std::uint64_t iowait = field[4], irq = field[5], softirq = field[6], steal = field[7];
  times.idle = idle + iowait;
  times.kernel = system + irq + softirq + idle + iowait;
  times.user = user + nice + steal;
  return true;
}

bool ParseMemoryFigures(std::string_view procMeminfo, MemoryFigures& figures) {
  std::uint64_t total = 0;
  std::uint64_t available = 0;
  if (!ParseKilobyteLine(procMeminfo, "MemTotal", total) || total == 0) return false;
  if (!ParseKilobyteLine(procMeminfo, "MemAvailable", available)) {
    // Kernels before 3.14 lack MemAvailable; free memory is the nearest figure.
    if (!ParseKilobyteLine(procMeminfo, "MemFree", available)) return false;
  }
  figures.totalBytes = total;
  figures.availableBytes = available;
  const std::uint64_t used = available > total ? 0 : total - available;
  figures.loadPercent = static_cast<std::uint32_t>((used * 100 + total / 2) / total);
  return true;
}

bool ParseStatusBytes(std::string_view procStatus, std::string_view key, std::uint64_t& bytes) {
  return ParseKilobyteLine(procStatus, key, bytes);
}

bool ReadSystemTimes(SystemTimes& times) {
  std::string text;
  return ReadProcFile("/proc/stat", text) && ParseSystemTimes(text, times);
}

bool ReadMemoryFigures(MemoryFigures& figures) {
  std::string text;
  return ReadProcFile("/proc/meminfo", text) && ParseMemoryFigures(text, figures);
}

std::uint64_t ReadResidentBytes() {
  std::string text;
  std::uint64_t bytes = 0;
  if (ReadProcFile("/proc/self/status", text)) ParseStatusBytes(text, "VmRSS", bytes);
  return bytes;
}

std::uint64_t ReadPeakResidentBytes() {
  std::string text;
  std::uint64_t bytes = 0;
  if (ReadProcFile("/proc/self/status", text)) ParseStatusBytes(text, "VmHWM", bytes);
  return bytes;
}

double CpuLoadPercent(const SystemTimes& previous, const SystemTimes& current) {
  // Counters only grow; a wrap or a reset reads as no time passed.
  const auto delta = [](std::uint64_t before, std::uint64_t after) {
    return after >= before ? after - before : 0;
  };
  const std::uint64_t idle = delta(previous.idle, current.idle);
  const std::uint64_t total = delta(previous.kernel, current.kernel) + delta(previous.user, current.user);
  if (total == 0) return 0.0;
  const double load = static_cast<double>(total - (idle > total ? total : idle)) / static_cast<double>(total) * 100.0;
  return load < 0 ? 0 : (load > 100 ? 100 : load);
}
