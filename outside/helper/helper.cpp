// Our own libhelper.so: the edge-threshold binarizer of the binarization
// engine, split over the two calls the units make. The edge call marks the
// light side of every strong Laplacian-of-Gaussian crossing, gives it a
// local level between its own grey and its darkest neighbour, and counts
// both greys into the histograms the global threshold comes from. The
// binarize call compares each pixel with the mean level of the edges around
// it, or with the global threshold where there are none.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "dravn_export.h"
#include "edge_rule.h"
#include "i3helper.h"

// Hot row loops are built for AVX2 as well, chosen when the processor has it.
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
#define DRAVN_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define DRAVN_VECTOR_CLONES
#endif

namespace {

bool ValidPlane(const void* p, int step, int width) { return p && step >= width; }

// The sign of the kernel's response in row y over columns from .. to - 1,
// within 2 .. width - 3 (needs rows y - 2 .. y + 2 of `width` pixels): the
// edge rule needs no more. Bit 0 is set where it is positive, bit 1 where
// negative. The kernel is symmetric: each column's five pixels are first
// weighted as they count for the columns two (p), one (q) and none (c)
// away, then three to five columns are summed.
DRAVN_VECTOR_CLONES
void LogRow(const uint8_t* src, int step, int y, int from, int to, int width, uint8_t* __restrict out,
            uint16_t* __restrict p, uint16_t* __restrict q, uint16_t* __restrict c) {
  const uint8_t* r0 = src + std::ptrdiff_t(y - 2) * step;
  const uint8_t* r1 = r0 + step;
  const uint8_t* r2 = r1 + step;
  const uint8_t* r3 = r2 + step;
  const uint8_t* r4 = r3 + step;
  // 16-bit lanes: the response fits (edge_rule::kLog), and wrapping partial
  // sums still add up to it exactly.
  using S = uint16_t;
  // Columns are weighted in whole vectors where the row allows: a few more
  // than needed cost less than a scalar tail.
  const int end = std::min(from - 2 + ((to - from + 4 + 31) & ~31), width);
  for (int x = from - 2; x < end; ++x) {
    const S a = S(r0[x] + r4[x]), b = S(r1[x] + r3[x]), m = r2[x];
    p[x] = S(S(4) * a + S(7) * b + S(8) * m);
    q[x] = S(S(7) * a + S(2) * b - S(15) * m);
    c[x] = S(S(8) * a - S(15) * b - S(52) * m);
  }
  for (int x = from; x < to; ++x) {
    const int16_t r = int16_t(S(p[x - 2] + p[x + 2] + q[x - 1] + q[x + 1] + c[x]));
    out[x] = uint8_t((r > 0) | ((r < 0) << 1));
  }
}

// The grey step across a crossing passes a limit: d8 between the 1-2-1
// weighted sums of the lines of three pixels on its two sides, d6 between
// their plain sums. Such sums and their differences fit 16-bit lanes.
inline uint8_t Strong(int16_t d8, int16_t d6, int16_t t1, int16_t t2) {
  return uint8_t((int16_t(d8 < 0 ? -d8 : d8) > t1) | (int16_t(d6 < 0 ? -d6 : d6) > t2));
}

// The steps around the pixels of row `g`, columns from .. to - 1 (within
// 3 .. width - 4), in one pass over its three rows: across[x] for the
// crossing between columns x - 1 and x (also for x = to: each is shared by
// the pixels on its two sides), below[x] for the one between the row and
// the next (the next row's above). Answers bit 0 when any across is strong,
// bit 1 when any below is.
DRAVN_VECTOR_CLONES
int Steps(const uint8_t* g, int step, int from, int to, int16_t t1, int16_t t2, uint8_t* __restrict across,
          uint8_t* __restrict below) {
  const uint8_t* gm = g - step;
  const uint8_t* gp = g + step;
  auto column = [&](int x) { return int16_t(gm[x] + g[x] + gp[x]); };
  auto acrossAt = [&](int x) {
    const int16_t d6 = int16_t(column(x) - column(x - 1));
    return across[x] = Strong(int16_t(d6 + g[x] - g[x - 1]), d6, t1, t2);
  };
  uint8_t anyAcross = 0, anyBelow = 0;
  for (int x = from; x < to; ++x) {
    anyAcross = uint8_t(anyAcross | acrossAt(x));
    const int16_t d6 = int16_t((gp[x - 1] + gp[x] + gp[x + 1]) - (g[x - 1] + g[x] + g[x + 1]));
    anyBelow = uint8_t(anyBelow | (below[x] = Strong(int16_t(d6 + gp[x] - g[x]), d6, t1, t2)));
  }
  anyAcross = uint8_t(anyAcross | acrossAt(to));
  return (anyAcross ? 1 : 0) | (anyBelow ? 2 : 0);
}

// Steps across the crossings between row `a` and the row `b` below it,
// columns from .. to - 1 (within 3 .. width - 4): one row's steps below are
// the next row's above. Answers whether any of them is strong.
DRAVN_VECTOR_CLONES
bool RowSteps(const uint8_t* __restrict a, const uint8_t* __restrict b, int from, int to, int16_t t1, int16_t t2,
              uint8_t* __restrict strong) {
  uint8_t any = 0;
  for (int x = from; x < to; ++x) {
    const int16_t d6 = int16_t((b[x - 1] + b[x] + b[x + 1]) - (a[x - 1] + a[x] + a[x + 1]));
    any = uint8_t(any | (strong[x] = Strong(int16_t(d6 + b[x] - a[x]), d6, t1, t2)));
  }
  return any != 0;
}

// The darkest and lightest grey of one row over columns from .. to - 1.
DRAVN_VECTOR_CLONES
void Range(const uint8_t* __restrict a, int from, int to, uint8_t* lo, uint8_t* hi) {
  uint8_t l = 255, h = 0;
  for (int x = from; x < to; ++x) l = std::min(l, a[x]), h = std::max(h, a[x]);
  *lo = l, *hi = h;
}

// One bit for each of 64 mask bytes (0 or 1), the first in bit 0.
inline uint64_t MaskBits(const uint8_t* mask) {
  uint64_t bits = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + 16 * i));
    bits |= uint64_t(~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & 0xFFFFu) << (16 * i);
  }
#else
  for (int i = 0; i < 64; ++i) bits |= uint64_t(mask[i]) << i;
#endif
  return bits;
}

// The edge rule of edge_rule::EdgeStep over columns from .. to - 1 (within
// 3 .. width - 4) of one row, from the steps measured above: mask[x] is 1
// where the pixel lies on the light side of a strong crossing. For every
// pixel, level[x] is its mix of its own grey and the darkest of its 8
// neighbours, and bin[x] the histogram bin of the smaller of the two.
DRAVN_VECTOR_CLONES
void EdgeRow(const uint8_t* __restrict g, int step, const uint8_t* __restrict up, const uint8_t* __restrict r,
             const uint8_t* __restrict down, const uint8_t* __restrict across, const uint8_t* __restrict above,
             const uint8_t* __restrict below, int from, int to, int mix, uint8_t* __restrict mask,
             uint8_t* __restrict level, uint8_t* __restrict bin) {
  // Steps are 0 or 1: each picks its neighbour's positive bit; the pixel's
  // own negative bit (bit 1) is shifted down to meet them.
  for (int x = from; x < to; ++x) {
    const uint8_t any = uint8_t((r[x - 1] & across[x]) | (r[x + 1] & across[x + 1]) | (up[x] & above[x]) |
                                (down[x] & below[x]));
    mask[x] = uint8_t((r[x] >> 1) & any);
  }
  const uint8_t* gm = g - step;
  const uint8_t* gp = g + step;
  const uint16_t own = uint16_t(mix), dark = uint16_t(8 - mix);
  for (int x = from; x < to; ++x) {
    const uint8_t m1 = std::min(std::min(gm[x - 1], gm[x]), std::min(gm[x + 1], g[x - 1]));
    const uint8_t m2 = std::min(std::min(g[x + 1], gp[x - 1]), std::min(gp[x], gp[x + 1]));
    const uint8_t m = std::min(m1, m2), v = g[x];
    level[x] = uint8_t(uint16_t(own * v + dark * m) >> 3);
    bin[x] = uint8_t(std::min(m, v) >> 2);
  }
}

// One row of the binarization, the window's column sums moved down on the
// way: `in1`/`in2` enter them (the edge planes' row two below), `out1`/`out2`
// leave them (three above); either pair may be absent. White where the grey
// times the edge count around the pixel (its 5x5 block without itself)
// reaches the sum of their levels; with no edge around, where it reaches the
// threshold. Counts and sums stay within 16 bits (24 x 255). Most of a page
// has no edge near: there the grey alone decides. The sums are moved a span
// ahead of the pixels, while the rows' bytes are fresh.
DRAVN_VECTOR_CLONES
void BinarizeRow(const uint8_t* g, const uint8_t* e1, const uint8_t* e2, const uint8_t* in1, const uint8_t* in2,
                 const uint8_t* out1, const uint8_t* out2, uint16_t* __restrict c, uint16_t* __restrict s, int w,
                 uint8_t threshold, uint8_t* d) {
  auto slide = [&](int from, int to) {
    if (in1 && out1)
      for (int x = from; x < to; ++x)
        c[x] = uint16_t(c[x] + in1[x] - out1[x]), s[x] = uint16_t(s[x] + in2[x] - out2[x]);
    else if (in1)
      for (int x = from; x < to; ++x) c[x] = uint16_t(c[x] + in1[x]), s[x] = uint16_t(s[x] + in2[x]);
    else if (out1)
      for (int x = from; x < to; ++x) c[x] = uint16_t(c[x] - out1[x]), s[x] = uint16_t(s[x] - out2[x]);
  };
  auto full = [&](int from, int to) {
    for (int x = from; x < to; ++x) {
      const uint16_t n = uint16_t(c[x - 2] + c[x - 1] + c[x] + c[x + 1] + c[x + 2] - e1[x]);
      const uint16_t sum = uint16_t(s[x - 2] + s[x - 1] + s[x] + s[x + 1] + s[x + 2] - e2[x]);
      const uint16_t lhs = uint16_t(g[x] * (n ? n : 1));
      const uint16_t rhs = n ? sum : uint16_t(threshold);
      d[x] = lhs >= rhs;
    }
  };
  constexpr int kSpan = 64;
  int moved = std::min(kSpan, w);  // the sums are up to date below this column
  slide(0, moved);
  int x = 0;
  for (; x + kSpan <= w; x += kSpan) {
    // The span reads two columns past its end.
    const int next = std::min(x + 2 * kSpan, w);
    slide(moved, next);
    moved = next;
    uint16_t any = 0;
    for (int i = x - 2; i < x + kSpan + 2; ++i) any = uint16_t(any | c[i]);
    if (any) {
      full(x, x + kSpan);
      continue;
    }
    for (int i = x; i < x + kSpan; ++i) d[i] = g[i] >= threshold;
  }
  slide(moved, w);
  full(x, w);
}

DRAVN_VECTOR_CLONES
void AddRows(uint16_t* c, uint16_t* s, const uint8_t* e1, const uint8_t* e2, int w) {
  for (int x = 0; x < w; ++x) c[x] = uint16_t(c[x] + e1[x]), s[x] = uint16_t(s[x] + e2[x]);
}

}  // namespace

extern "C" {

DRAVN_EXPORT uint8_t i3Helper_GetEdgeThreshold8u8u(const uint8_t* src, int srcStep, uint8_t* edge1, int edge1Step,
                                                   uint8_t* edge2, int edge2Step, const I3HelperSize* size,
                                                   uint8_t /*flag*/, int t1, int t2, int t3, int* hist1, int* hist2,
                                                   int /*mode*/) {
  if (!size || !hist1 || !hist2) return 0;
  const int w = size->width, h = size->height;
  if (w < 1 || h < 1 || !ValidPlane(src, srcStep, w) || !ValidPlane(edge1, edge1Step, w) ||
      !ValidPlane(edge2, edge2Step, w))
    return 0;
  if (w < 7 || h < 7) return 1;  // no pixel has the context the rule needs
  const int mix = std::clamp(t3, 0, 8);
  try {
    const size_t n = static_cast<size_t>(w);
    // The response's sign is needed only next to strong steps: it is worked
    // out for blocks of 256 columns as they come up, and each of the three
    // rows of the ring notes which of its blocks it holds. Columns 0, 1,
    // width - 2 and width - 1 keep a response of 0 (neither sign bit).
    constexpr int kBlock = 256;
    const int blocks = (w + kBlock - 1) / kBlock;
    std::vector<uint8_t> ring(n * 3), steps(n * 3);
    std::vector<uint16_t> weighted(n * 3);
    std::vector<uint8_t> held(size_t(blocks) * 3);
    struct Row {
      uint8_t* r;
      uint8_t* held;
    } rows[3];
    for (int i = 0; i < 3; ++i) rows[i] = {ring.data() + i * n, held.data() + i * size_t(blocks)};
    auto need = [&](const Row& row, int y, int block) {
      if (block < 0 || block >= blocks || row.held[block]) return;
      row.held[block] = 1;
      const int from = std::max(block * kBlock, 2), to = std::min(block * kBlock + kBlock, w - 2);
      if (from < to)
        LogRow(src, srcStep, y, from, to, w, row.r, weighted.data(), weighted.data() + w, weighted.data() + 2 * w);
    };
    uint8_t* acrossSteps = steps.data();
    uint8_t* above = acrossSteps + w;
    uint8_t* below = above + w;
    std::vector<uint8_t> mask(n + kBlock), level(n), bin(n);  // the mask is read a block at a time
    // Steps reach at most 4 x 255: larger limits are never passed.
    const int16_t lim1 = int16_t(std::clamp(t1, -1, 1021)), lim2 = int16_t(std::clamp(t2, -1, 766));
    // Steps are measured a block at a time, and each block notes whether its
    // steps below (the next row's above) hold a strong one: a block with
    // none around is passed over. Steps between greys no further apart than
    // `flat` never pass (|d8| <= 4 spread, |d6| <= 3 spread): three rows
    // that flat over a block are not measured at all.
    const int flat = lim1 < 0 || lim2 < 0 ? -1 : std::min(lim1 / 4, lim2 / 3);
    std::vector<uint8_t> strongBelow(size_t(blocks) * 2);
    uint8_t* aboveAny = strongBelow.data();
    uint8_t* belowAny = aboveAny + blocks;
    for (int b = 0; b < blocks; ++b) {
      const int from = std::max(b * kBlock, 3), to = std::min(b * kBlock + kBlock, w - 3);
      if (from < to)
        aboveAny[b] =
            RowSteps(src + 2 * std::ptrdiff_t(srcStep), src + 3 * std::ptrdiff_t(srcStep), from, to, lim1, lim2, above);
    }
    // Counts of neighbouring edges often fall into one bin: four sets of
    // bins let the increments overlap.
    int bins1[4][64] = {}, bins2[4][64] = {};
    // Each row's darkest and lightest grey over every block's columns
    // (from - 1 .. to), for the rows around the one measured: a row's are
    // found once and serve the three rows it is next to.
    std::vector<uint8_t> extremes(size_t(blocks) * 6);
    struct Ranges {
      uint8_t* lo;
      uint8_t* hi;
    } ranges[3];
    for (int i = 0; i < 3; ++i)
      ranges[i] = {extremes.data() + 2 * i * size_t(blocks), extremes.data() + (2 * i + 1) * size_t(blocks)};
    auto rangesOf = [&](const Ranges& r, int y) {
      const uint8_t* row = src + std::ptrdiff_t(y) * srcStep;
      for (int b = 0; b < blocks; ++b) {
        const int from = std::max(b * kBlock, 3), to = std::min(b * kBlock + kBlock, w - 3);
        if (from < to) Range(row, from - 1, to + 1, &r.lo[b], &r.hi[b]);
      }
    };
    rangesOf(ranges[0], 2);
    rangesOf(ranges[1], 3);
    for (int y = 3; y <= h - 4; ++y) {
      const uint8_t* g = src + std::ptrdiff_t(y) * srcStep;
      rangesOf(ranges[2], y + 1);
      uint8_t* e1 = edge1 + std::ptrdiff_t(y) * edge1Step;
      uint8_t* e2 = edge2 + std::ptrdiff_t(y) * edge2Step;
      for (int b = 0; b < blocks; ++b) {
        const int x0 = b * kBlock, from = std::max(x0, 3), to = std::min(x0 + kBlock, w - 3);
        if (from >= to) continue;
        const int spread = std::max(std::max(ranges[0].hi[b], ranges[1].hi[b]), ranges[2].hi[b]) -
                           std::min(std::min(ranges[0].lo[b], ranges[1].lo[b]), ranges[2].lo[b]);
        if (spread <= flat) {
          // Nothing here passes: the next row finds no strong step above.
          std::fill(below + from, below + to, uint8_t(0));
          belowAny[b] = 0;
          continue;
        }
        const int strong = Steps(g, srcStep, from, to, lim1, lim2, acrossSteps, below);
        belowAny[b] = (strong & 2) != 0;
        if (!strong && !aboveAny[b]) continue;
        need(rows[0], y - 1, b);
        need(rows[1], y, b);
        need(rows[2], y + 1, b);
        // The pixels at the block's ends look one column beyond it.
        need(rows[1], y, (from - 1) / kBlock);
        need(rows[1], y, to / kBlock);
        EdgeRow(g, srcStep, rows[0].r, rows[1].r, rows[2].r, acrossSteps, above, below, from, to, mix, mask.data(),
                level.data(), bin.data());
        for (int x64 = x0; x64 < to; x64 += 64)
          for (uint64_t word = MaskBits(&mask[size_t(x64)]); word; word &= word - 1) {
            const int x = x64 + __builtin_ctzll(word);
            e1[x] = 1;
            e2[x] = level[size_t(x)];
            ++bins1[x & 3][bin[size_t(x)]];
            ++bins2[x & 3][g[x] >> 2];
          }
      }
      // The rings are addressed through pointers: rotate them; the row that
      // comes in holds nothing yet.
      const Row first = rows[0];
      rows[0] = rows[1];
      rows[1] = rows[2];
      rows[2] = first;
      std::fill(rows[2].held, rows[2].held + blocks, uint8_t(0));
      std::swap(above, below);
      std::swap(aboveAny, belowAny);
      const Ranges oldest = ranges[0];
      ranges[0] = ranges[1];
      ranges[1] = ranges[2];
      ranges[2] = oldest;
    }
    for (int i = 0; i < 64; ++i) {
      hist1[i] += bins1[0][i] + bins1[1][i] + bins1[2][i] + bins1[3][i];
      hist2[i] += bins2[0][i] + bins2[1][i] + bins2[2][i] + bins2[3][i];
    }
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

DRAVN_EXPORT int i3Helper_BinarizeTo8uCombined(const uint8_t* src, int srcStep, const uint8_t* edge1,
                                               const uint8_t* edge2, uint8_t threshold, const I3HelperSize* size,
                                               int /*mode*/, uint8_t* dst, int dstStep) {
  if (!size) return -1;
  const int w = size->width, h = size->height;
  if (w < 1 || h < 1 || !ValidPlane(src, srcStep, w) || !edge1 || !edge2 || !ValidPlane(dst, dstStep, w)) return -1;
  try {
    // Column sums over the 5 rows around y, padded by two zero columns.
    std::vector<uint16_t> count(size_t(w) + 4), level(size_t(w) + 4);
    uint16_t* c = count.data() + 2;
    uint16_t* s = level.data() + 2;
    auto plane = [srcStep](const uint8_t* p, int y) { return p + std::ptrdiff_t(y) * srcStep; };
    for (int y = 0; y < std::min(2, h); ++y) AddRows(c, s, plane(edge1, y), plane(edge2, y), w);
    for (int y = 0; y < h; ++y) {
      const bool in = y + 2 < h, out = y - 3 >= 0;
      BinarizeRow(plane(src, y), plane(edge1, y), plane(edge2, y), in ? plane(edge1, y + 2) : nullptr,
                  in ? plane(edge2, y + 2) : nullptr, out ? plane(edge1, y - 3) : nullptr,
                  out ? plane(edge2, y - 3) : nullptr, c, s, w, threshold, dst + std::ptrdiff_t(y) * dstStep);
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

DRAVN_EXPORT uint8_t i3Helper_InitIPP(void) { return 1; }
DRAVN_EXPORT int i3Helper_FreeIPP(void) { return 0; }

// Bound by the units, never called.
DRAVN_EXPORT int i3Helper_SumFilter8u(void) { return 0; }
DRAVN_EXPORT int i3Helper_BinarizeTo8u(void) { return 0; }
DRAVN_EXPORT int i3Helper_GetEdgeThreshold16s8u(void) { return 0; }
DRAVN_EXPORT int i3Helper_SumFilter8u16s(void) { return 0; }
}
