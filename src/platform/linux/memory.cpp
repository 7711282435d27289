#include "platform/memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>

namespace platform {

void AdviseLargeBuffer(void* data, std::size_t bytes) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  if (last <= first) return;
  // Only a hint: failure (no THP, an old kernel) changes nothing.
  ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void KeepFreedMemory() {
  // Blocks of up to a few megabytes (a scan's report, each step's copy of
  // it) come from the heap, whose top is not trimmed after each step; larger
  // ones are still mapped apart and given back when freed.
  ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 8 << 20);
}

}  // namespace platform
