// Page-sized blocks that come up in huge pages where the system offers
// them: aligned to and rounded up to whole 2 MB pages and marked as worth
// backing with them, so that the first writes to a fresh block take a few
// faults instead of thousands (each costly, and more so in a virtual
// machine). Released with free(). Without huge pages a plain block.
#ifndef DRAVN_LARGE_BLOCK_H
#define DRAVN_LARGE_BLOCK_H

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline void* AllocateLargeBlock(size_t size) {
  constexpr size_t kHuge = size_t{2} << 20;
  if (size < 2 * kHuge) return malloc(size ? size : 1);
  if (size > SIZE_MAX - kHuge) return nullptr;
  const size_t rounded = (size + kHuge - 1) / kHuge * kHuge;
  void* block = aligned_alloc(kHuge, rounded);
  if (block) madvise(block, rounded, MADV_HUGEPAGE);  // a hint: refused, the block serves as it is
  return block;
}

#endif
