// Memory advice; see memory.h.
#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr std::uintptr_t kHugePageBytes = std::uintptr_t{2} << 20;

}  // namespace

void AdviseHugePages(void* data, std::size_t size) {
  if (data == nullptr) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t end = begin + size;
  const std::uintptr_t first = (begin + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const std::uintptr_t last = end & ~(kHugePageBytes - 1);
  if (end < begin || last <= first) return;
  ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
