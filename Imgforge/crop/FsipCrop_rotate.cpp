// Rotation resampling of a cut-out page: a rotated grid walked over the
// source in fixed point, bilinear with 8-bit weights that sum to 255. Both
// crop engines end with it.
//
// Positions carry 20 fraction bits, not 10: with 10, the steps of a turned
// grid (cos and sin truncated to 1/1024) drift by up to 3 pixels across an
// A4 page at 300 dpi, which leaves a wedge of backing along one side and
// cuts as much off the other. The weights still come from the top 8
// fraction bits, so an upright page resamples exactly as with 10 bits.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

#include "FsipCrop.h"

namespace fsipcrop {

namespace {

// (a * b) >> 8: the values of the 256 x 256 product table, computed rather
// than looked up (same bytes, and the compiler can vectorise it).
inline uint32_t P(uint32_t a, uint32_t b) { return (a * b) >> 8; }

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// The steps l (0 <= l < n) at which a + l * d lies in [0, limit).
void InsideRange(int64_t a, int64_t d, int64_t limit, int64_t n, int64_t* lo, int64_t* hi) {
  if (d == 0) {
    if (a < 0 || a >= limit) {
      *lo = n;
      *hi = -1;
    }
    return;
  }
  int64_t first, last;
  if (d > 0) {
    first = CeilDiv(-a, d);
    last = FloorDiv(limit - 1 - a, d);
  } else {
    first = CeilDiv(limit - 1 - a, d);
    last = FloorDiv(-a, d);
  }
  *lo = std::max<int64_t>(*lo, first);
  *hi = std::min<int64_t>(*hi, last);
}

// One colour pixel from the 2 x 2 cell at p0 (row) and p1 (the row below).
#if defined(__SSE2__)
// Weight vectors by fraction: x weights for the two neighbours of a row
// (three lanes each), y weights for the two rows (four lanes each).
struct Weights {
  __m128i x[256], y[256];
  uint32_t pair[256];  // 255 - f and f in the two halves, for grey
  Weights() {
    for (int f = 0; f < 256; ++f) {
      const short g = static_cast<short>(255 - f), h = static_cast<short>(f);
      x[f] = _mm_set_epi16(0, 0, h, h, h, g, g, g);
      y[f] = _mm_set_epi16(h, h, h, h, g, g, g, g);
      pair[f] = static_cast<uint32_t>(255 - f) | (static_cast<uint32_t>(f) << 16);
    }
  }
};

// Four grey pixels at once; positions u, v of the first, steps du, dv.
inline void Cells4(const uint8_t* sp, size_t sbpl, int64_t u, int64_t v, int64_t du, int64_t dv, int bits,
                   const Weights& w, uint8_t* o) {
  // Four named values, not a stack array read back as a vector: that read
  // would wait for four separate stores.
  struct Pixel {
    int a, b, wx, wy;
  };
  auto pixel = [&](int i) {
    const int64_t uu = u + i * du, vv = v + i * dv;
    const uint8_t* p0 = sp + static_cast<size_t>(vv >> bits) * sbpl + static_cast<size_t>(uu >> bits);
    const uint8_t* p1 = p0 + sbpl;
    return Pixel{p0[0] | (p0[1] << 16), p1[0] | (p1[1] << 16),
                 static_cast<int>(w.pair[static_cast<uint32_t>(uu >> (bits - 8)) & 255]),
                 static_cast<int>(w.pair[static_cast<uint32_t>(vv >> (bits - 8)) & 255])};
  };
  const Pixel q0 = pixel(0), q1 = pixel(1), q2 = pixel(2), q3 = pixel(3);
  const __m128i WX = _mm_set_epi32(q3.wx, q2.wx, q1.wx, q0.wx);
  const __m128i WY = _mm_set_epi32(q3.wy, q2.wy, q1.wy, q0.wy);
  const __m128i ta = _mm_srli_epi16(_mm_mullo_epi16(_mm_set_epi32(q3.a, q2.a, q1.a, q0.a), WX), 8);
  const __m128i tb = _mm_srli_epi16(_mm_mullo_epi16(_mm_set_epi32(q3.b, q2.b, q1.b, q0.b), WX), 8);
  const __m128i low = _mm_set1_epi32(0xFFFF);
  const __m128i top = _mm_add_epi32(_mm_and_si128(ta, low), _mm_srli_epi32(ta, 16));
  const __m128i bottom = _mm_add_epi32(_mm_and_si128(tb, low), _mm_srli_epi32(tb, 16));
  const __m128i tbv = _mm_or_si128(top, _mm_slli_epi32(bottom, 16));
  const __m128i r =
      _mm_srli_epi16(_mm_mullo_epi16(tbv, WY), 8);
  const __m128i res = _mm_add_epi32(_mm_and_si128(r, low), _mm_srli_epi32(r, 16));
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(res, res), res);
  const uint32_t four = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
  std::memcpy(o, &four, 4);
}
const Weights& WeightTable() {
  static const Weights w;
  return w;
}
#endif

// `wide`: o[3] may be written too (the next pixel's first byte, which is
// written again after this one).
inline void Cell3(const uint8_t* p0, const uint8_t* p1, const uint8_t* end, uint32_t fx, uint32_t fy, uint8_t* o,
                  bool wide, const void* table) {
#if defined(__SSE2__)
  // Both neighbours of a row in one register, three 16-bit lanes each; the
  // same products and truncations as the scalar form below.
  uint64_t a = 0, b = 0;
  if (p1 + 8 <= end) {
    std::memcpy(&a, p0, 8);
    std::memcpy(&b, p1, 8);
  } else {
    std::memcpy(&a, p0, 6);
    std::memcpy(&b, p1, 6);
  }
  const __m128i z = _mm_setzero_si128();
  const __m128i A = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(a)), z);
  const __m128i B = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(b)), z);
  const Weights& w = *static_cast<const Weights*>(table);
  const __m128i wx = w.x[fx];
  const __m128i ta = _mm_srli_epi16(_mm_mullo_epi16(A, wx), 8);
  const __m128i tb = _mm_srli_epi16(_mm_mullo_epi16(B, wx), 8);
  const __m128i top = _mm_add_epi16(ta, _mm_srli_si128(ta, 6));
  const __m128i bottom = _mm_add_epi16(tb, _mm_srli_si128(tb, 6));
  const __m128i wy = w.y[fy];
  const __m128i t = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi64(top, bottom), wy), 8);
  const __m128i r = _mm_add_epi16(t, _mm_srli_si128(t, 8));
  const uint32_t v = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
  if (wide) {
    std::memcpy(o, &v, 4);
    return;
  }
  o[0] = static_cast<uint8_t>(v);
  o[1] = static_cast<uint8_t>(v >> 8);
  o[2] = static_cast<uint8_t>(v >> 16);
#else
  (void)end;
  (void)wide;
  (void)table;
  for (int c = 0; c < 3; ++c) {
    const uint32_t top = P(p0[c], 255 - fx) + P(p0[c + 3], fx);
    const uint32_t bottom = P(p1[c], 255 - fx) + P(p1[c + 3], fx);
    o[c] = static_cast<uint8_t>(P(top, 255 - fy) + P(bottom, fy));
  }
#endif
}

#if defined(__SSE2__)
// Two colour pixels at once, each in its own 128-bit half: the same lanes,
// products and truncations as Cell3. Each cell's rows must have eight bytes
// to read; o[6] and o[7] may be written when `wide` (the next pixels'
// bytes, written again after these).
__attribute__((target("avx2"))) inline void Cell3Pair(const uint8_t* a0, const uint8_t* b0, uint32_t fxa, uint32_t fya,
                                                      uint32_t fxb, uint32_t fyb, size_t sbpl, uint8_t* o, bool wide,
                                                      const Weights& w) {
  uint64_t ra, rb, sa, sb;
  std::memcpy(&ra, a0, 8);
  std::memcpy(&sa, a0 + sbpl, 8);
  std::memcpy(&rb, b0, 8);
  std::memcpy(&sb, b0 + sbpl, 8);
  const __m256i A = _mm256_cvtepu8_epi16(_mm_set_epi64x(static_cast<long long>(rb), static_cast<long long>(ra)));
  const __m256i B = _mm256_cvtepu8_epi16(_mm_set_epi64x(static_cast<long long>(sb), static_cast<long long>(sa)));
  const __m256i wx = _mm256_set_m128i(w.x[fxb], w.x[fxa]);
  const __m256i ta = _mm256_srli_epi16(_mm256_mullo_epi16(A, wx), 8);
  const __m256i tb = _mm256_srli_epi16(_mm256_mullo_epi16(B, wx), 8);
  const __m256i top = _mm256_add_epi16(ta, _mm256_srli_si256(ta, 6));
  const __m256i bottom = _mm256_add_epi16(tb, _mm256_srli_si256(tb, 6));
  const __m256i wy = _mm256_set_m128i(w.y[fyb], w.y[fya]);
  const __m256i t = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi64(top, bottom), wy), 8);
  const __m256i r = _mm256_add_epi16(t, _mm256_srli_si256(t, 8));
  const __m256i packed = _mm256_packus_epi16(r, r);
  const uint32_t va = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(packed)));
  const uint32_t vb = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_extracti128_si256(packed, 1)));
  std::memcpy(o, &va, 4);  // its fourth byte is the second pixel's first
  if (wide) {
    std::memcpy(o + 3, &vb, 4);
    return;
  }
  o[3] = static_cast<uint8_t>(vb);
  o[4] = static_cast<uint8_t>(vb >> 8);
  o[5] = static_cast<uint8_t>(vb >> 16);
}

// The colour cells of a row from l on, two at a time while both have
// eight bytes to read in each of their rows; the step where it stopped.
__attribute__((target("avx2"))) int64_t ColourPairs(const uint8_t* sp, size_t sbpl, const uint8_t* end, int64_t l,
                                                    int64_t last, int64_t* u, int64_t* v, int64_t C, int64_t S,
                                                    int bits, const Weights& w, uint8_t* out) {
  for (; l + 1 <= last; l += 2) {
    const int64_t ub = *u + C, vb = *v + S;
    const uint8_t* a0 = sp + static_cast<size_t>(*v >> bits) * sbpl + static_cast<size_t>(*u >> bits) * 3;
    const uint8_t* b0 = sp + static_cast<size_t>(vb >> bits) * sbpl + static_cast<size_t>(ub >> bits) * 3;
    if (a0 + sbpl + 8 > end || b0 + sbpl + 8 > end) break;
    Cell3Pair(a0, b0, static_cast<uint32_t>(*u >> (bits - 8)) & 255, static_cast<uint32_t>(*v >> (bits - 8)) & 255,
              static_cast<uint32_t>(ub >> (bits - 8)) & 255, static_cast<uint32_t>(vb >> (bits - 8)) & 255, sbpl,
              out + l * 3, l + 1 < last, w);
    *u += 2 * C, *v += 2 * S;
  }
  return l;
}
#endif

template <int CH>
bool Rotate(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY, uint8_t outside) {
  if (!src || !src->pImageData || !dst || !dst->pImageData) return false;
  if (src->nWidth <= 0 || src->nHeight <= 0 || dst->nWidth <= 0 || dst->nHeight <= 0) return false;
  const double r = angle * 3.141592654 / 180;
  constexpr int kBits = 20;
  constexpr double kOne = 1 << kBits;
  const int64_t C = static_cast<int64_t>(std::cos(r) * kOne), S = static_cast<int64_t>(std::sin(-r) * kOne);
  const int64_t U0 = static_cast<int64_t>(startX * kOne), V0 = static_cast<int64_t>(startY * kOne);
  // Cells whose top-left corner is the last column or row are outside.
  const int64_t limU = (static_cast<int64_t>(src->nWidth) - 1) << kBits;
  const int64_t limV = (static_cast<int64_t>(src->nHeight) - 1) << kBits;
  const int64_t W = dst->nWidth;
  const size_t sbpl = static_cast<size_t>(src->nBytesPerLine);
  const uint8_t* sp = src->pImageData;
  // The end of the last row's pixels: a clip may share a larger image's
  // rows, so the bytes after them need not exist.
  const uint8_t* end = sp + sbpl * static_cast<size_t>(src->nHeight - 1) + static_cast<size_t>(src->nWidth) * CH;
#if defined(__SSE2__)
  const void* table = &WeightTable();
  static const bool avx2 = __builtin_cpu_supports("avx2");
#else
  const void* table = nullptr;
#endif
  for (int64_t k = 0; k < dst->nHeight; ++k) {
    uint8_t* out = dst->pImageData + static_cast<size_t>(k) * dst->nBytesPerLine;
    const int64_t u0 = U0 - k * S, v0 = V0 + k * C;
    int64_t lo = 0, hi = W - 1;
    InsideRange(u0, C, limU, W, &lo, &hi);
    InsideRange(v0, S, limV, W, &lo, &hi);
    if (hi < lo) lo = hi = W;  // the whole row is outside
    std::memset(out, outside, static_cast<size_t>(std::min(lo, W)) * CH);
    int64_t u = u0 + lo * C, v = v0 + lo * S;
    int64_t l = lo;
#if defined(__SSE2__)
    if (CH == 1)
      for (; l + 3 <= hi && l + 3 < W; l += 4, u += 4 * C, v += 4 * S)
        Cells4(sp, sbpl, u, v, C, S, kBits, *static_cast<const Weights*>(table), out + l);
    if (CH == 3 && avx2 && l <= hi)
      l = ColourPairs(sp, sbpl, end, l, std::min(hi, W - 1), &u, &v, C, S, kBits, *static_cast<const Weights*>(table),
                      out);
#endif
    for (; l <= hi && l < W; ++l, u += C, v += S) {
      const uint32_t fx = static_cast<uint32_t>(u >> (kBits - 8)) & 255;
      const uint32_t fy = static_cast<uint32_t>(v >> (kBits - 8)) & 255;
      const uint8_t* p0 = sp + static_cast<size_t>(v >> kBits) * sbpl + static_cast<size_t>(u >> kBits) * CH;
      const uint8_t* p1 = p0 + sbpl;
      uint8_t* o = out + l * CH;
      if (CH == 3) {
        Cell3(p0, p1, end, fx, fy, o, l < hi, table);
        continue;
      }
      const uint32_t top = P(p0[0], 255 - fx) + P(p0[1], fx);
      const uint32_t bottom = P(p1[0], 255 - fx) + P(p1[1], fx);
      o[0] = static_cast<uint8_t>(P(top, 255 - fy) + P(bottom, fy));
    }
    if (hi + 1 < W) std::memset(out + (hi + 1) * CH, outside, static_cast<size_t>(W - hi - 1) * CH);
  }
  return true;
}

}  // namespace

bool p2iRotate12_Color(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY) {
  return Rotate<3>(src, dst, angle, startX, startY, 255);
}

bool p2iRotate12_Gray(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY) {
  return Rotate<1>(src, dst, angle, startX, startY, 0);
}

}  // namespace fsipcrop
