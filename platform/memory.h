// Memory advice for the program's large buffers (decoded images of tens of
// megabytes). Neighbours: imaging/pixel_image.cpp reserves pixel buffers and
// asks for huge pages here; process.cpp gives encoder tools the same advice.
//
// Fresh anonymous memory costs one page fault per 4 KiB page on first touch,
// and on virtual machines such faults are expensive: a 20-megapixel decode
// spent more time faulting in its 80 MB buffer than decoding. Transparent huge
// pages cut the faults 512-fold. Systems that offer them only on request
// ("madvise" mode, Debian's default) need this advice; elsewhere it is a no-op.
#pragma once

#include <cstddef>

// Asks the kernel to back the 2 MiB-aligned part of [data, data + size) with
// transparent huge pages. Advice only: nothing changes when it is refused or
// the range is too small.
void AdviseHugePages(void* data, std::size_t size);

// The environment entry that gives a child process's own large allocations
// the same advice (glibc's malloc tunable; ignored by other C libraries).
constexpr const char* kHugePageTunable = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
