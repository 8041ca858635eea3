// Work buffers of a whole page. Large ones come straight from the kernel
// with the advice to back them with huge pages (a page buffer is touched
// once from end to end, and one fault per 2 MiB instead of one per 4 KiB is
// a good share of a page's binarization time), and are kept for the next
// page when released.
#ifndef DRAVN_PAGE_BUFFER_H
#define DRAVN_PAGE_BUFFER_H

#include <cstddef>
#include <cstdint>

class PageBuffer {
 public:
  PageBuffer() = default;
  explicit PageBuffer(size_t bytes, bool zeroed = true) { allocate(bytes, zeroed); }
  ~PageBuffer() { release(); }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;
  // Zero-filled unless the caller writes every byte before reading it;
  // false (and empty) when memory is short.
  bool allocate(size_t bytes, bool zeroed = true);
  void release();
  uint8_t* data() const { return m_data; }
  explicit operator bool() const { return m_data != nullptr; }

 private:
  uint8_t* m_data = nullptr;
  size_t m_mapped = 0;  // 0: from calloc
};

#endif
