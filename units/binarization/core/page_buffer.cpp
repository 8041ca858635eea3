#include "page_buffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {
constexpr size_t kMapFrom = size_t(4) << 20;

// Mappings given back, kept for the next page: a page's buffers are needed
// again at once, and memory the process holds costs no faults and no zeroing
// by the kernel. A few are kept (one page's working set); they go when the
// library is unloaded.
class Kept {
 public:
  ~Kept() {
    for (const Mapping& m : m_maps) munmap(m.data, m.bytes);
  }
  // The smallest kept mapping of at least `bytes`, or none.
  bool take(size_t bytes, uint8_t** data, size_t* mapped) {
    std::lock_guard<std::mutex> hold(m_lock);
    size_t best = m_maps.size();
    for (size_t i = 0; i < m_maps.size(); ++i)
      if (m_maps[i].bytes >= bytes && (best == m_maps.size() || m_maps[i].bytes < m_maps[best].bytes)) best = i;
    if (best == m_maps.size()) return false;
    *data = m_maps[best].data;
    *mapped = m_maps[best].bytes;
    m_maps.erase(m_maps.begin() + std::ptrdiff_t(best));
    return true;
  }
  // Keeps the mapping, or the larger of it and the smallest kept one.
  void give(uint8_t* data, size_t bytes) {
    Mapping m{data, bytes};
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_maps.size() < kKeep) {
        m_maps.push_back(m);
        return;
      }
      size_t smallest = 0;
      for (size_t i = 1; i < m_maps.size(); ++i)
        if (m_maps[i].bytes < m_maps[smallest].bytes) smallest = i;
      if (m_maps[smallest].bytes < bytes) std::swap(m, m_maps[smallest]);
    }
    munmap(m.data, m.bytes);
  }

 private:
  static constexpr size_t kKeep = 4;
  struct Mapping {
    uint8_t* data;
    size_t bytes;
  };
  std::mutex m_lock;
  std::vector<Mapping> m_maps;
};

Kept gKept;

}  // namespace

bool PageBuffer::allocate(size_t bytes, bool zeroed) {
  release();
  if (bytes >= kMapFrom) {
    if (gKept.take(bytes, &m_data, &m_mapped)) {
      if (zeroed) std::memset(m_data, 0, bytes);
      return true;
    }
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
    gKept.give(m_data, m_mapped);
  else
    std::free(m_data);
  m_data = nullptr;
  m_mapped = 0;
}
