// Steady tick count and process identity; see clock.h.
#include "platform/clock.h"

#include <unistd.h>

#include <chrono>
#include <thread>

std::uint64_t TickCountMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

unsigned HardwareThreadCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}
