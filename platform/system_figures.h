// Machine and process figures for the live status: CPU times from /proc/stat,
// memory from /proc/meminfo, and this process's resident memory from
// /proc/self/status. The parsers take the file's text so tests can feed them
// fixed samples; the readers return false when the file cannot be read.
#pragma once

#include <cstdint>
#include <string_view>

// Cumulative CPU times of the whole machine, in clock ticks. As on the
// platform the program was first written for, `kernel` includes `idle`, so
// busy = kernel + user - idle.
struct SystemTimes {
  std::uint64_t idle = 0;    // idle + iowait
  std::uint64_t kernel = 0;  // system + irq + softirq + idle + iowait
  std::uint64_t user = 0;    // user + nice + steal
};

struct MemoryFigures {
  std::uint32_t loadPercent = 0;     // share of physical memory in use, 0..100
  std::uint64_t totalBytes = 0;      // physical memory
  std::uint64_t availableBytes = 0;  // memory available to new work
};

bool ParseSystemTimes(std::string_view procStat, SystemTimes& times);
bool ParseMemoryFigures(std::string_view procMeminfo, MemoryFigures& figures);
// The value of a "Key:   N kB" line of /proc/self/status, in bytes.
bool ParseStatusBytes(std::string_view procStatus, std::string_view key, std::uint64_t& bytes);

bool ReadSystemTimes(SystemTimes& times);
bool ReadMemoryFigures(MemoryFigures& figures);

// Resident memory of this process (VmRSS); 0 when unavailable.
std::uint64_t ReadResidentBytes();
// Peak resident memory of this process (VmHWM); 0 when unavailable.
std::uint64_t ReadPeakResidentBytes();

// CPU load in per cent between two samples, clamped to 0..100; 0 when no time
// passed.
double CpuLoadPercent(const SystemTimes& previous, const SystemTimes& current);
