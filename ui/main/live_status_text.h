// The main window's live-status text and progress value, and the sampling of
// the machine's CPU and memory figures behind it.
//
// The text is built from a snapshot of the shared LiveStatus record
// (core/live_status.h) and a set of figures, so tests check it against fixed
// values; main_batch.cpp gathers the figures from /proc through
// platform/system_figures.h and puts the text into the control. The sampling
// state lives in MainWindowState and is touched on the UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/live_status.h"
#include "platform/system_figures.h"

// Refreshes not forced come at most this often.
constexpr std::uint64_t kLiveStatusThrottleMs = 250;

// Sampling state of the live status; reset at the start of every batch.
struct LiveStatusSampling {
  std::uint64_t lastRefreshTick = 0;  // ms of TickCountMs at the last rebuild; 0 = never
  bool cpuBaselineValid = false;      // false: the next CPU sample only sets the baseline
  SystemTimes previousTimes;          // machine CPU times of the previous sample, clock ticks
};

// The machine and process figures of one text.
struct LiveStatusFigures {
  double cpuPercent = -1;               // 0..100; below 0 means no figure yet
  std::uint32_t memoryLoadPercent = 0;  // share of physical memory in use, 0..100
  std::uint64_t memoryUsedBytes = 0;    // total - available, 0 when available exceeds total
  std::uint64_t memoryTotalBytes = 0;   // physical memory
  std::uint64_t ownBytes = 0;           // this program's resident memory
  std::uint64_t elapsedMs = 0;          // run time of the batch
};

// True when a rebuild is due now (force, or at least 250 ms since the last
// one), and then records `now` as the last rebuild.
bool ClaimLiveStatusRefresh(LiveStatusSampling& sampling, std::uint64_t now, bool force);

// The CPU figure for a new reading of the machine's times: below 0 when the
// reading failed (`current` null; the baseline stays) or when it only set the
// baseline; otherwise the load since the previous reading, which becomes the
// new baseline.
double SampleCpuPercent(LiveStatusSampling& sampling, const SystemTimes* current);

// Reads /proc for CPU, memory and this process's resident memory. Figures
// that cannot be read stay 0 (CPU: no figure).
LiveStatusFigures GatherLiveStatusFigures(LiveStatusSampling& sampling, std::uint64_t now,
                                          std::uint64_t batchStartTick);

// "MM:SS", each at least two digits; minutes may have more ("62:05").
std::string FormatRunTime(std::uint64_t elapsedMs);

// The text of the live-status control, its lines ended by `lineEnd`. With
// more than one image in flight the first line adds "   |   <k> Bilder
// gleichzeitig"; the other lines are those of the image started last.
std::string BuildLiveStatusText(const LiveStatusSnapshot& status, std::string_view profileLabel,
                                std::string_view modeName, const LiveStatusFigures& figures,
                                std::string_view lineEnd);

// The lines of a live-status text as a box `width` pixels wide shows them:
// a line wider than the box is broken at its "   |   " separators (the
// separator goes), never inside a figure; a part that alone is wider stays
// whole for the box to wrap. `measure` gives a text's width in pixels.
std::vector<std::string> WrapLiveStatusLines(std::string_view text, std::string_view lineEnd,
                                             int width,
                                             const std::function<int(const std::string&)>& measure);

// `text` with the space between a number and its unit ("2.44 GB", "10 %")
// made a no-break space, so a box that wraps the text keeps each figure whole.
std::string KeepFiguresTogether(std::string_view text);

// A live-status text as long as a batch makes it (every line present, long
// figures), from which the window sizes the box.
std::string LongestLiveStatusText(std::string_view lineEnd);

// The progress bar's position in thousandths of the batch, 0..1000.
int LiveStatusProgress(const LiveStatusSnapshot& status);
