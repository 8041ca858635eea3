#include "page_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {
constexpr size_t kMapFrom = size_t(4) << 20;
}

bool PageBuffer::allocate(size_t bytes) {
  release();
  if (bytes >= kMapFrom) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      madvise(p, bytes, MADV_HUGEPAGE);  // advice only: refused, the pages stay small
      m_data = static_cast<uint8_t*>(p);
      m_mapped = bytes;
      return true;
    }
  }
  m_data = static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1));
  return m_data != nullptr;
}

void PageBuffer::release() {
  if (m_mapped)
    munmap(m_data, m_mapped);
  else
    std::free(m_data);
  m_data = nullptr;
  m_mapped = 0;
}
