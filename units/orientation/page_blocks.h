// Large work buffers of a page, kept for the next page. A fresh block pays a
// page fault for every memory page on its first touch, which on a busy or
// virtual machine costs more than the work done in it; the unit reuses the
// same few sizes page after page.
#ifndef DRAVN_ORIENTATION_PAGE_BLOCKS_H
#define DRAVN_ORIENTATION_PAGE_BLOCKS_H

#include <cstddef>
#include <cstdint>

namespace turnsense {

// A block of at least `bytes` bytes, its contents undefined; back to the
// cache when it goes. Throws std::bad_alloc.
class PageBlock {
 public:
  explicit PageBlock(size_t bytes);
  ~PageBlock();
  PageBlock(const PageBlock&) = delete;
  PageBlock& operator=(const PageBlock&) = delete;
  uint8_t* get() const { return m_data; }
  template <typename T>
  T* as() const {
    return reinterpret_cast<T*>(m_data);
  }

 private:
  uint8_t* m_data;
  size_t m_size;
};

// Frees what the cache holds (the unit's unload).
void ReleasePageBlocks();
// The bytes the cache holds now.
size_t KeptPageBlockBytes();

}  // namespace turnsense

#endif
