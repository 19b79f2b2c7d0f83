// Clock and process figures of the Linux layer.
#pragma once

#include <cstdint>

// Milliseconds of a steady clock; only differences are meaningful.
std::uint64_t TickCountMs();

// The identifier of this process.
std::uint32_t CurrentProcessId();

// Hardware threads; 1 when the system reports none.
unsigned HardwareThreadCount();
