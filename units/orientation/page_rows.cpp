#include "page_rows.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

// clang does not clone for several targets what the fuzz build compiles.
#if defined(__clang__)
#define PAGE_ROW_CLONES
#else
#define PAGE_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace turnsense {
namespace {

// The three products of a pixel sum to at most 65280: word lanes hold them.
PAGE_ROW_CLONES void GreyRow(const uint8_t* __restrict rgb, uint8_t* __restrict grey, size_t width) {
  for (size_t x = 0; x < width; ++x)
    grey[x] = uint8_t(uint16_t(77 * rgb[3 * x] + 150 * rgb[3 * x + 1] + 29 * rgb[3 * x + 2]) >> 8);
}

#if defined(__SSE2__)
// 32 pixels a step: each 128-bit lane takes 16 pixels (48 bytes) apart into
// red, green and blue with byte shuffles, and sums the weighted channels in
// word lanes exactly as the plain loop does. Returns the pixels converted.
__attribute__((target("avx2"))) size_t GreyRowAvx2(const uint8_t* rgb, uint8_t* grey, size_t width) {
  constexpr char Z = char(0x80);
  // Per lane: where a channel's bytes lie in the first, second and third
  // 16 bytes of the lane's 48.
  const __m256i r0 = _mm256_broadcastsi128_si256(_mm_setr_epi8(0, 3, 6, 9, 12, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z));
  const __m256i r1 = _mm256_broadcastsi128_si256(_mm_setr_epi8(Z, Z, Z, Z, Z, Z, 2, 5, 8, 11, 14, Z, Z, Z, Z, Z));
  const __m256i r2 = _mm256_broadcastsi128_si256(_mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 1, 4, 7, 10, 13));
  const __m256i g0 = _mm256_broadcastsi128_si256(_mm_setr_epi8(1, 4, 7, 10, 13, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z));
  const __m256i g1 = _mm256_broadcastsi128_si256(_mm_setr_epi8(Z, Z, Z, Z, Z, 0, 3, 6, 9, 12, 15, Z, Z, Z, Z, Z));
  const __m256i g2 = _mm256_broadcastsi128_si256(_mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 2, 5, 8, 11, 14));
  const __m256i b0 = _mm256_broadcastsi128_si256(_mm_setr_epi8(2, 5, 8, 11, 14, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z));
  const __m256i b1 = _mm256_broadcastsi128_si256(_mm_setr_epi8(Z, Z, Z, Z, Z, 1, 4, 7, 10, 13, Z, Z, Z, Z, Z, Z));
  const __m256i b2 = _mm256_broadcastsi128_si256(_mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 0, 3, 6, 9, 12, 15));
  const __m256i wr = _mm256_set1_epi16(77), wg = _mm256_set1_epi16(150), wb = _mm256_set1_epi16(29);
  const __m256i zero = _mm256_setzero_si256();
// Lane 0 from p, lane 1 from p + 48.
#define GREY_LANES(p)                                                                                   \
  _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), \
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>((p) + 48)), 1)
#define GREY_WEIGHTED(r, g, b)                                                                               \
  _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(r, wr), _mm256_mullo_epi16(g, wg)), \
                                     _mm256_mullo_epi16(b, wb)),                                             \
                    8)
  size_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const uint8_t* p = rgb + 3 * x;
    const __m256i a = GREY_LANES(p), b = GREY_LANES(p + 16), c = GREY_LANES(p + 32);
    const __m256i r = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, r0), _mm256_shuffle_epi8(b, r1)),
                                      _mm256_shuffle_epi8(c, r2));
    const __m256i g = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, g0), _mm256_shuffle_epi8(b, g1)),
                                      _mm256_shuffle_epi8(c, g2));
    const __m256i bl = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, b0), _mm256_shuffle_epi8(b, b1)),
                                       _mm256_shuffle_epi8(c, b2));
    const __m256i lo =
        GREY_WEIGHTED(_mm256_unpacklo_epi8(r, zero), _mm256_unpacklo_epi8(g, zero), _mm256_unpacklo_epi8(bl, zero));
    const __m256i hi =
        GREY_WEIGHTED(_mm256_unpackhi_epi8(r, zero), _mm256_unpackhi_epi8(g, zero), _mm256_unpackhi_epi8(bl, zero));
    // Lane-wise packing puts each lane's 16 pixels back in order.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(grey + x), _mm256_packus_epi16(lo, hi));
  }
  return x;
}
#undef GREY_LANES
#undef GREY_WEIGHTED
#endif

PAGE_ROW_CLONES void InvertRun(uint8_t* __restrict bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(255 - bytes[i]);
}

}  // namespace

void GreyRows(const uint8_t* rgb, size_t stride, uint8_t* grey, size_t width, size_t height) {
#if defined(__SSE2__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
#else
  constexpr bool avx2 = false;
#endif
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = rgb + y * stride;
    uint8_t* out = grey + y * width;
    size_t done = 0;
#if defined(__SSE2__)
    if (avx2) done = GreyRowAvx2(in, out, width);
#endif
    GreyRow(in + 3 * done, out + done, width - done);
  }
}

void InvertBytes(uint8_t* bytes, size_t n) { InvertRun(bytes, n); }

}  // namespace turnsense
