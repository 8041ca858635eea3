#include "byte_table.h"

#include <cstring>
#include <new>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DRAVN_BYTE_TABLE_VBMI 1
#endif

namespace {

#ifdef DRAVN_BYTE_TABLE_VBMI
bool HasVbmi() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
}

#define DRAVN_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

struct VbmiTable {
  __m512i t[4];
};

// Two permutes over 128 entries each; the index's top bit picks between them.
DRAVN_VBMI inline __m512i MapVector(const VbmiTable& t, __m512i x) {
  const __m512i low = _mm512_permutex2var_epi8(t.t[0], x, t.t[1]);
  const __m512i high = _mm512_permutex2var_epi8(t.t[2], x, t.t[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

DRAVN_VBMI void MapVbmi(const unsigned char* table, unsigned char* data, size_t size) {
  VbmiTable t;
  for (int k = 0; k < 4; ++k) t.t[k] = _mm512_loadu_si512(table + 64 * k);
  size_t i = 0;
  for (; i + 64 <= size; i += 64) _mm512_storeu_si512(data + i, MapVector(t, _mm512_loadu_si512(data + i)));
  if (i < size) {
    const __mmask64 rest = ~0ULL >> (64 - (size - i));
    _mm512_mask_storeu_epi8(data + i, rest, MapVector(t, _mm512_maskz_loadu_epi8(rest, data + i)));
  }
}
#endif

}  // namespace

CBytePairTable::CBytePairTable(const unsigned char* table, Way way) : m_table(table) {
#ifdef DRAVN_BYTE_TABLE_VBMI
  if (way == Way::Fastest && HasVbmi()) {
    m_vectors = true;
    return;
  }
#endif
  if (way == Way::Bytes) return;
  m_pairs.reset(new (std::nothrow) uint16_t[65536]);
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
#ifdef DRAVN_BYTE_TABLE_VBMI
  if (m_vectors) {
    MapVbmi(m_table, data, size);
    return;
  }
#endif
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
