// Reduction of 1-bit images by 2, 4 or 8 and the general linear transform.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "CABitmap.h"
#include "bitmap_internal.h"

namespace {

// Per source byte: one bit per group of n pixels (n = 2: four bits, n = 4:
// two bits, first group in the most significant place), set when any (or)
// or every (and) pixel of the group is black.
constexpr std::array<uint8_t, 256> GroupTable(int n, bool all) {
  std::array<uint8_t, 256> t{};
  const int groups = 8 / n;
  const unsigned full = (1u << n) - 1;
  for (int b = 0; b < 256; ++b) {
    unsigned v = 0;
    for (int g = 0; g < groups; ++g) {
      unsigned bits = (static_cast<unsigned>(b) >> (8 - n * (g + 1))) & full;
      bool on = all ? bits == full : bits != 0;
      v = (v << 1) | (on ? 1u : 0u);
    }
    t[b] = static_cast<uint8_t>(v);
  }
  return t;
}

constexpr std::array<uint8_t, 256> or_table2 = GroupTable(2, false);
constexpr std::array<uint8_t, 256> and_table2 = GroupTable(2, true);
constexpr std::array<uint8_t, 256> or_table4 = GroupTable(4, false);
constexpr std::array<uint8_t, 256> and_table4 = GroupTable(4, true);

// Width mask of the last byte of a row: pixels beyond the width read white
// whatever the padding holds.
inline uint8_t LastByteMask(int width) { return abmp::RightMask(width - 1); }

// Combines each group of n source rows byte by byte (OR, or AND for type 2)
// into comb; only the (width + 7) / 8 bytes of the natural row are read.
void CombineRows(ABITMAP const& src, int y0, int n, bool all, uint8_t* comb, int bytes) {
  const int y1 = std::min(y0 + n, src.height);
  memcpy(comb, src.data + static_cast<ptrdiff_t>(y0) * src.bpl, bytes);
  for (int y = y0 + 1; y < y1; ++y) {
    const uint8_t* row = src.data + static_cast<ptrdiff_t>(y) * src.bpl;
    if (all)
      for (int b = 0; b < bytes; ++b) comb[b] &= row[b];
    else
      for (int b = 0; b < bytes; ++b) comb[b] |= row[b];
  }
  comb[bytes - 1] &= LastByteMask(src.width);
}

// Types 1 and 2 for n = 2 and 4: each n source bytes give one destination byte.
void BlockReduce(ABITMAP const& src, ABITMAP const& dst, int n, bool all, uint8_t* comb) {
  const int bytes = (src.width + 7) / 8;
  const auto& table = n == 2 ? (all ? and_table2 : or_table2) : (all ? and_table4 : or_table4);
  const int bitsPer = 8 / n;
  for (int Y = 0; Y < dst.height; ++Y) {
    CombineRows(src, Y * n, n, all, comb, bytes);
    uint8_t* out = dst.data + static_cast<ptrdiff_t>(Y) * dst.bpl;
    for (int j = 0; j < dst.bpl; ++j) {
      unsigned v = 0;
      for (int k = 0; k < n; ++k) {
        int b = j * n + k;
        v = (v << bitsPer) | (b < bytes ? table[comb[b]] : 0u);
      }
      out[j] = static_cast<uint8_t>(v);
    }
  }
}

// 8:1 OR reduction: a destination pixel is black when its source byte is
// non-zero in any of the (up to) eight rows.
void or_8(ABITMAP const& src, ABITMAP const& dst, uint8_t* comb) {
  const int bytes = (src.width + 7) / 8;
  for (int Y = 0; Y < dst.height; ++Y) {
    CombineRows(src, Y * 8, 8, false, comb, bytes);
    uint8_t* out = dst.data + static_cast<ptrdiff_t>(Y) * dst.bpl;
    for (int b = 0; b < bytes; ++b)
      if (comb[b]) out[b >> 3] |= static_cast<uint8_t>(0x80 >> (b & 7));
  }
}

// Saturating conversion to 16.16 fixed point (NaN reads 0).
int64_t Fixed(double v) {
  double f = std::trunc(v * 65536.0);
  if (!(f == f)) return 0;
  const double lim = 4.0e18;
  if (f > lim) return static_cast<int64_t>(lim);
  if (f < -lim) return -static_cast<int64_t>(lim);
  return static_cast<int64_t>(f);
}

// Sample walk over the destination with accumulator type Acc; int64_t is
// enough unless the coefficients are absurd, then __int128 takes over.
template <class Acc>
void Walk(CABitmap const& dst, CABitmap const& src, Acc sx0, Acc sy0, Acc dx, Acc dy, Acc rx, Acc ry) {
  const Acc limX = static_cast<Acc>(src.m_width) << 16, limY = static_cast<Acc>(src.m_height) << 16;
  for (int y = 0; y < dst.m_height; ++y) {
    Acc sx = sx0 + y * rx, sy = sy0 + y * ry;
    uint8_t* out = dst.m_data + static_cast<ptrdiff_t>(y) * dst.m_bpl;
    for (int x = 0; x < dst.m_width; ++x, sx += dx, sy += dy) {
      if (sx < 0 || sx >= limX || sy < 0 || sy >= limY) continue;
      int px = static_cast<int>(sx >> 16), py = static_cast<int>(sy >> 16);
      if (src.m_data[static_cast<ptrdiff_t>(py) * src.m_bpl + (px >> 3)] & CABitmap::m_on_mask[px & 7])
        out[x >> 3] |= CABitmap::m_on_mask[x & 7];
    }
  }
}

}  // namespace

void abmp_linear_trans(CABitmap const& dst, CABitmap const& src, double const* m) {
  if (!m || dst.m_bits != 1 || src.m_bits != 1 || !abmp::Usable1Bit(dst)) return;
  memset(dst.m_data, 0, dst.m_size);
  if (!abmp::Usable1Bit(src)) return;
  // 64-bit fixed point: 16.16 in 32 bits overflows from 32768 pixels on.
  const int64_t dx = Fixed(m[0]), dy = Fixed(m[2]), rx = Fixed(m[1]), ry = Fixed(m[3]);
  const int64_t sx0 = Fixed(-m[4] * m[0] - m[5] * m[1] + 0.5);
  const int64_t sy0 = Fixed(-m[4] * m[2] - m[5] * m[3] + 0.5);
  auto mag = [](int64_t v) { return static_cast<long double>(v < 0 ? -static_cast<long double>(v) : v); };
  long double reach = std::max(mag(sx0) + mag(rx) * dst.m_height + mag(dx) * dst.m_width,
                               mag(sy0) + mag(ry) * dst.m_height + mag(dy) * dst.m_width);
  if (reach < 4.0e18L)
    Walk<int64_t>(dst, src, sx0, sy0, dx, dy, rx, ry);
  else
    Walk<__int128>(dst, src, sx0, sy0, dx, dy, rx, ry);
}

namespace abmp {

uint8_t* Reduce(ABITMAP const& src, ABITMAP& dst, int n, int type) {
  if (n != 2 && n != 4 && n != 8) return nullptr;
  if (src.bits != 1 || src.width <= 0 || src.height <= 0) return nullptr;
  CABitmap in;
  in.set(src);  // refuses a row too short for the width
  if (!in.m_data) return nullptr;
  ABITMAP out{};
  uint8_t* buf = abmp_alloc(&out, (src.width + n - 1) / n, (src.height + n - 1) / n, 1, 0);
  if (!buf) return nullptr;
  if (type == 1 || type == 2) {
    auto* comb = static_cast<uint8_t*>(malloc((src.width + 7) / 8));
    if (!comb) {
      free(buf);
      return nullptr;
    }
    if (n == 8)
      or_8(src, out, comb);
    else
      BlockReduce(src, out, n, type == 2, comb);
    free(comb);
  } else if (type == 3) {
    CABitmap d;
    d.set(out);
    const double m[6] = {static_cast<double>(n), 0, 0, static_cast<double>(n), 0, 0};
    abmp_linear_trans(d, in, m);
  }
  dst = out;
  return buf;
}

}  // namespace abmp

int CABitmap::n_small(CABitmap const& src, int n, int type) {
  if (&src == this) {
    CABitmap reduced;
    int rc = reduced.n_small(src, n, type);
    adopt(reduced);
    return rc;
  }
  Free();
  ABITMAP s, d{};
  src.getABITMAP(s);
  uint8_t* buf = abmp_n_small(&s, &d, n, type);
  if (!buf) return -1;
  set(d);
  m_buffer = buf;
  m_owner = 1;
  return 0;
}
