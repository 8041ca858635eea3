#include "byte_table.h"

#include <cstring>
#include <new>

CBytePairTable::CBytePairTable(const unsigned char* table)
    : m_table(table), m_pairs(new (std::nothrow) uint16_t[65536]) {
  if (!m_pairs) return;
  for (unsigned v = 0; v < 65536; ++v) {
    // Key and entry are the two bytes as they lie in memory, whatever the
    // machine's byte order.
    const unsigned char in[2] = {static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>(v >> 8)};
    const unsigned char out[2] = {table[in[0]], table[in[1]]};
    uint16_t key, entry;
    memcpy(&key, in, 2);
    memcpy(&entry, out, 2);
    m_pairs[key] = entry;
  }
}

void CBytePairTable::Map(unsigned char* data, size_t size) const {
  size_t i = 0;
  if (const uint16_t* pairs = m_pairs.get()) {
    for (; i + 8 <= size; i += 8) {
      uint16_t v[4];
      memcpy(v, data + i, 8);
      for (uint16_t& x : v) x = pairs[x];
      memcpy(data + i, v, 8);
    }
  }
  for (; i < size; ++i) data[i] = m_table[data[i]];
}
