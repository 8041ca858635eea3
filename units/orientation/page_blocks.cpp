#include "page_blocks.h"

#include <cstdlib>
#include <mutex>
#include <new>

namespace turnsense {
namespace {

// Below this a block comes from the allocator's own free lists anyway.
constexpr size_t kSmallest = size_t(256) << 10;
// What the cache may hold between pages: an A4 page at 600 dpi with its
// work maps.
constexpr size_t kMostKept = size_t(96) << 20;
constexpr int kSlots = 8;

struct Slot {
  uint8_t* data = nullptr;
  size_t size = 0;
};

std::mutex g_lock;
Slot g_slots[kSlots];
size_t g_kept = 0;

// The smallest kept block that holds `bytes` without wasting more than
// itself; null when there is none.
uint8_t* TakeKept(size_t bytes, size_t& size) {
  std::lock_guard<std::mutex> hold(g_lock);
  int best = -1;
  for (int i = 0; i < kSlots; ++i)
    if (g_slots[i].data && g_slots[i].size >= bytes && g_slots[i].size / 2 <= bytes &&
        (best < 0 || g_slots[i].size < g_slots[best].size))
      best = i;
  if (best < 0) return nullptr;
  uint8_t* data = g_slots[best].data;
  size = g_slots[best].size;
  g_kept -= size;
  g_slots[best] = Slot{};
  return data;
}

// Keeps the block, or frees it when the cache is full.
void Keep(uint8_t* data, size_t size) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_kept + size <= kMostKept)
      for (Slot& s : g_slots)
        if (!s.data) {
          s = Slot{data, size};
          g_kept += size;
          return;
        }
  }
  std::free(data);
}

}  // namespace

PageBlock::PageBlock(size_t bytes) : m_data(nullptr), m_size(bytes) {
  if (bytes >= kSmallest) m_data = TakeKept(bytes, m_size);
  if (!m_data) {
    m_size = bytes;
    m_data = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
    if (!m_data && bytes >= kSmallest) {  // what is kept must not starve a page of another size
      ReleasePageBlocks();
      m_data = static_cast<uint8_t*>(std::malloc(bytes));
    }
    if (!m_data) throw std::bad_alloc();
  }
}

PageBlock::~PageBlock() {
  if (m_size >= kSmallest)
    Keep(m_data, m_size);
  else
    std::free(m_data);
}

void ReleasePageBlocks() {
  std::lock_guard<std::mutex> hold(g_lock);
  for (Slot& s : g_slots) {
    std::free(s.data);
    s = Slot{};
  }
  g_kept = 0;
}

size_t KeptPageBlockBytes() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_kept;
}

}  // namespace turnsense
