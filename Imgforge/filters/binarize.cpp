// Grey to one bit per pixel: fixed threshold, ordered dither, error
// diffusion (narrow and wide kernels) and a dynamic threshold that follows
// the local contrast. A bit is 1 where the pixel is light.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "conv.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The pseudo-random term of error diffusion: its own generator, seeded
// per call, so that a page always gives the same bits.
class Random {
 public:
  int Next() {
    m_state = m_state * 1103515245u + 12345u;
    return static_cast<int>((m_state >> 16) & 0x7FFF);
  }

 private:
  uint32_t m_state = 1;
};

// Bits beyond the width: 1 with padding on, else kept (or 0 when asked).
void FinishLine(unsigned char* row, int width, bool zeroTail) {
  if (width % 8 == 0) return;
  const unsigned tail = 0xFFu >> (width % 8);
  unsigned char& last = row[width / 8];
  if (g_nBinPadding)
    last = static_cast<unsigned char>(last | tail);
  else if (zeroTail)
    last = static_cast<unsigned char>(last & ~tail);
}

// Writes one line's bits; bit(x) says whether pixel x is light.
template <class Bit>
void PackLine(unsigned char* row, int width, Bit bit) {
  const int whole = width / 8;
  for (int b = 0; b < whole; ++b) {
    unsigned v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 1) | (bit(8 * b + k) ? 1u : 0u);
    row[b] = static_cast<unsigned char>(v);
  }
  if (width % 8) {
    const int n = width % 8;
    unsigned v = 0;
    for (int k = 0; k < n; ++k) v = (v << 1) | (bit(8 * whole + k) ? 1u : 0u);
    v <<= 8 - n;
    const unsigned keep = 0xFFu >> n;
    row[whole] = static_cast<unsigned char>((row[whole] & keep) | v);
  }
}

inline void SetBit(unsigned char* row, int x, bool on) {
  const unsigned m = 0x80u >> (x & 7);
  row[x >> 3] = static_cast<unsigned char>(on ? row[x >> 3] | m : row[x >> 3] & ~m);
}

}  // namespace

int CConv::FixThreshold(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, int threshold) const {
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    if (threshold <= 0) {
      PackLine(o, out->nWidth, [](int) { return true; });
    } else if (threshold > 255) {
      PackLine(o, out->nWidth, [](int) { return false; });
    } else {
      const unsigned char t = static_cast<unsigned char>(threshold);
      PackLine(o, out->nWidth, [p, t](int x) { return p[x] >= t; });
    }
    FinishLine(o, out->nWidth, false);
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::Dither(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const unsigned char* matrix) const {
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    const unsigned char* m = matrix + (y % 8) * 8;
    PackLine(o, out->nWidth, [p, m](int x) { return p[x] >= m[x & 7]; });
    FinishLine(o, out->nWidth, false);
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::ErrorDiffusion(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_ERROR_DIFFUSION* ed,
                          bool newStyle) const {
  const int width = out->nWidth;
  // Carries stored one place right of their pixel, with a spare each side.
  std::vector<int> previous, current;
  try {
    previous.assign(width + 2, newStyle ? 128 : 0);
    current.assign(width + 2, 128);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  const bool levels = ed->nLevelMode == 2;
  const int high = ed->nHigh & 0xFF, low = ed->nLow & 0xFF;
  Random random;
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    const int* above = previous.data();
    int* carry = current.data();
    for (int x = 0; x < width; ++x) {
      const unsigned e = static_cast<unsigned>(carry[x]) / 2 + static_cast<unsigned>(above[x]) / 8 +
                         static_cast<unsigned>(above[x + 1]) / 4 + static_cast<unsigned>(above[x + 2]) / 8;
      const int pixel = p[x];
      int value = pixel;
      if (levels) value = pixel > high ? 255 : pixel < low ? 0 : pixel;
      int v = static_cast<int>(e) + value;
      if (pixel >= 112 && pixel <= 144) v += random.Next() & 31;
      int next;
      if (v < 255) {
        SetBit(o, x, false);
        next = v;
      } else {
        SetBit(o, x, true);
        next = newStyle && v >= 510 ? v - 510 : v - 255;
      }
      carry[x + 1] = next < 0 ? 0 : next;
    }
    FinishLine(o, width, false);
    previous.swap(current);
    std::fill(current.begin(), current.end(), 128);
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::ErrorDiffusionWide(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out,
                              const FSIP_S_ERROR_DIFFUSION* ed) const {
  const int width = out->nWidth;
  constexpr int kLeft = 2;        // entries before pixel 0
  std::vector<unsigned> rows[3];  // carries are never negative
  try {
    for (auto& r : rows) r.assign(width + 4, 128u);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  std::vector<unsigned> fromAbove;
  try {
    fromAbove.resize(width);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  const bool levels = ed->nLevelMode == 2;
  const int high = ed->nHigh & 0xFF, low = ed->nLow & 0xFF;
  Random random;
  int cur = 0, prev = 1, before = 2;
  for (int y = 0; y < out->nHeight; ++y) {
    const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    unsigned* c = rows[cur].data() + kLeft;
    const unsigned* a = rows[prev].data() + kLeft;
    const unsigned* b = rows[before].data() + kLeft;
    // The two lines above are known before the line starts; only the two
    // carries to the left are serial.
    for (int x = 0; x < width; ++x)
      fromAbove[x] = 2 * a[x - 2] / 32 + 4 * a[x - 1] / 32 + 4 * a[x] / 32 + 3 * a[x + 1] / 32 + 2 * a[x + 2] / 32 +
                     b[x - 2] / 32 + 2 * b[x - 1] / 32 + 3 * b[x] / 32 + 2 * b[x + 1] / 32 + b[x + 2] / 32;
    for (int x = 0; x < width; ++x) {
      const int e = static_cast<int>(5 * c[x - 1] / 32 + 3 * c[x - 2] / 32 + fromAbove[x]);
      const int pixel = p[x];
      const bool middle = pixel >= 112 && pixel <= 144;
      int v = e + pixel;
      if (levels && pixel > high && !middle) {
        SetBit(o, x, true);
        c[x] = static_cast<unsigned>(e >= 255 ? e - 255 : e);
        continue;
      }
      if (levels && pixel > high) v = e + 255;
      if (levels && pixel < low) v = e;
      if (middle) v += random.Next() & 31;
      int next;
      if (v < 255) {
        SetBit(o, x, false);
        next = v;
      } else {
        SetBit(o, x, true);
        next = v - 255 < 255 ? v - 255 : v - 510;
      }
      c[x] = static_cast<unsigned>(next < 0 ? 0 : next);
    }
    FinishLine(o, width, false);
    // The rows move down by one; the freed one becomes the new current row.
    std::swap(before, prev);
    std::swap(prev, cur);
    std::fill(rows[cur].begin(), rows[cur].end(), 128u);
  }
  return FSIP_C_ERR_NOERROR;
}

namespace {

// One line of the dynamic threshold's per-pixel terms, all independent of
// the threshold carried along the line: the threshold is
// (bias + s x scale) / 16 with s the carried sum, i.e. s / 2 where the
// neighbourhood is flat and (2 L (8 - w) + s w) / 16 elsewhere.
struct DtcLine {
  std::vector<unsigned char> maxCol, minCol;  // padded by 2 each side
  std::vector<unsigned char> rows[4];         // lines y-2, y-1, y+1, y+2 padded by 2
  std::vector<unsigned char> level;           // L, the local level
};

// Rows of the dynamic threshold worked on together: the carried threshold
// of a row waits on its left neighbour and on the pixel above, so rows run
// side by side, each one pixel behind the row above it, and their waits
// overlap.
constexpr int kDtcRows = 4;

// The column extremes over lines a[0..n) (the line itself and those in
// reach), before the padding.
__attribute__((target_clones("avx2", "default"))) void ColumnExtremes(const unsigned char* const* lines, int n,
                                                                      int width, unsigned char* mx, unsigned char* mn) {
  const unsigned char* l0 = lines[0];
  for (int x = 0; x < width; ++x) mx[x] = mn[x] = l0[x];
  for (int k = 1; k < n; ++k) {
    const unsigned char* a = lines[k];
    for (int x = 0; x < width; ++x) {
      mx[x] = std::max(mx[x], a[x]);
      mn[x] = std::min(mn[x], a[x]);
    }
  }
}

// The new-style carried threshold of R rows, the row above the first
// giving `above`: threshold = (bias + (above + left) x scale) / 16, pulled
// toward the base. Row r runs r pixels behind row r - 1, so that the pixel
// above is ready when it is needed; each pixel still waits on its left
// neighbour and the one above, in the same arithmetic.
template <int R>
void CarryRows(int width, const int16_t* bias, const int16_t* scale, const int* above, int* th, int base, int up,
               int down) {
  int left[R];
  for (int r = 0; r < R; ++r) left[r] = base;
  const size_t stride = static_cast<size_t>(width);
  auto step = [&](int r, int c) {
    const size_t i = r * stride + c;
    const int a = r == 0 ? above[c] : th[i - stride];
    const int t = (bias[i] + (a + left[r]) * scale[i]) >> 4;
    left[r] = std::max(t - down, base) + std::min(t + up, base) - base;
    th[i] = left[r];
  };
  const int lag = R - 1;
  for (int x = 0; x < std::min(lag, width + lag); ++x)
    for (int r = 0; r < R; ++r)
      if (x - r >= 0 && x - r < width) step(r, x - r);
  for (int x = lag; x < width; ++x)
    for (int r = 0; r < R; ++r) step(r, x - r);
  for (int x = std::max(lag, width); x < width + lag; ++x)
    for (int r = 0; r < R; ++r)
      if (x - r >= 0 && x - r < width) step(r, x - r);
}

// Padded copy of a line: two repeated edge pixels each side.
void PadLine(std::vector<unsigned char>& to, const unsigned char* from, int width) {
  memcpy(to.data() + 2, from, width);
  to[0] = to[1] = from[0];
  to[width + 2] = to[width + 3] = from[width - 1];
}

struct DtcParams {
  int reach, limit, weight;
  bool family2;
  const unsigned char* tone;
};

// The terms of one line from the column extremes and padded lines.
__attribute__((target_clones("avx2", "default"))) void DtcTerms(DtcLine& d, int width, const DtcParams& q,
                                                                int16_t* __restrict bias, int16_t* __restrict scale) {
  const unsigned char* __restrict mx = d.maxCol.data() + 2;
  const unsigned char* __restrict mn = d.minCol.data() + 2;
  unsigned char* __restrict level = d.level.data();
  if (q.reach == 1) {
    for (int x = 0; x < width; ++x) {
      const int t = std::max(std::max(mx[x - 1], mx[x]), mx[x + 1]);
      const int m = std::min(std::min(mn[x - 1], mn[x]), mn[x + 1]);
      level[x] = static_cast<unsigned char>((t + m) >> 1);
      scale[x] = static_cast<int16_t>(t - m);  // the contrast, for the plain flat test
    }
  } else {
    for (int x = 0; x < width; ++x) {
      const int t = std::max(std::max(std::max(mx[x - 2], mx[x - 1]), std::max(mx[x], mx[x + 1])), mx[x + 2]);
      const int m = std::min(std::min(std::min(mn[x - 2], mn[x - 1]), std::min(mn[x], mn[x + 1])), mn[x + 2]);
      level[x] = static_cast<unsigned char>((t + m) >> 1);
      scale[x] = static_cast<int16_t>(t - m);
    }
  }
  if (q.family2) {
    // The eight cells of the 5x5 patch that the test reads; x + 2 is the
    // patch's centre column in the padded lines.
    const unsigned char *r0 = d.rows[0].data(), *r1 = d.rows[1].data(), *r3 = d.rows[2].data(), *r4 = d.rows[3].data();
    for (int x = 0; x < width; ++x) {
      const int P1 = r0[x + 1], P3 = r0[x + 3], P5 = r1[x], P9 = r1[x + 4];
      const int P15 = r3[x], P19 = r3[x + 4], P21 = r4[x + 1], P23 = r4[x + 3];
      const int D = P1 + P3 - P21, E = P5 + P15 - P9, I = P1 + P5 - P19, J = P3 + P9 - P15;
      scale[x] =
          static_cast<int16_t>((std::abs(D - P23) + std::abs(E - P19) + std::abs(I - P23) + std::abs(J - P21)) >> 3);
    }
  }
  if (q.tone)
    for (int x = 0; x < width; ++x) level[x] = q.tone[level[x]];
  const int w = q.weight, limit = q.limit;
  // Flat or not, as arithmetic rather than a choice: the loop vectorises.
  for (int x = 0; x < width; ++x) {
    const int flat = scale[x] < limit;
    bias[x] = static_cast<int16_t>((1 - flat) * 2 * level[x] * (8 - w));
    scale[x] = static_cast<int16_t>(w + flat * (8 - w));
  }
}

#ifdef __SSE2__
// The new-style carried threshold on vectors: a wavefront over a group of
// kWaveRows rows, one row per 16-bit lane, row r running r pixels behind row
// r - 1. At each step a lane takes its left neighbour from its own previous
// value and the pixel above from the previous value of the lane before, so
// every pixel still waits on exactly the two it depends on, in the same
// arithmetic. The terms go into that skewed order, and the thresholds come
// out of it, by 8 x 8 transposes.
constexpr int kWaveVectors = 4, kWaveRows = 8 * kWaveVectors, kWavePad = kWaveRows + 8;

// Every term and threshold stays within 16 bits while the base does.
bool WaveFits(int base) { return base >= -1000 && base <= 1000; }

inline void Transpose8(__m128i* v) {
  const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
  const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
  const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
  const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  v[0] = _mm_unpacklo_epi64(b0, b4), v[1] = _mm_unpackhi_epi64(b0, b4);
  v[2] = _mm_unpacklo_epi64(b1, b5), v[3] = _mm_unpackhi_epi64(b1, b5);
  v[4] = _mm_unpacklo_epi64(b2, b6), v[5] = _mm_unpackhi_epi64(b2, b6);
  v[6] = _mm_unpacklo_epi64(b3, b7), v[7] = _mm_unpackhi_epi64(b3, b7);
}

// Rows (each padded by kWavePad) to steps: step s of lane r is column s - r.
void Skew(const int16_t* rows, size_t rowStride, int steps, __m128i* out) {
  for (int s0 = 0; s0 < steps; s0 += 8)
    for (int j = 0; j < kWaveVectors; ++j) {
      __m128i v[8];
      for (int i = 0; i < 8; ++i) {
        const int r = 8 * j + i;
        v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + r * rowStride + kWavePad + s0 - r));
      }
      Transpose8(v);
      for (int t = 0; t < 8; ++t) out[(s0 + t) * kWaveVectors + j] = v[t];
    }
}

void Unskew(const __m128i* in, int steps, int16_t* rows, size_t rowStride) {
  for (int s0 = 0; s0 < steps; s0 += 8)
    for (int j = 0; j < kWaveVectors; ++j) {
      __m128i v[8];
      for (int t = 0; t < 8; ++t) v[t] = in[(s0 + t) * kWaveVectors + j];
      Transpose8(v);
      for (int i = 0; i < 8; ++i) {
        const int r = 8 * j + i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows + r * rowStride + kWavePad + s0 - r), v[i]);
      }
    }
}

// The wavefront itself; `above` is the row over the group, padded.
void CarryWave(const __m128i* bias, const __m128i* scale, const int16_t* above, int steps, int base, int up,
               int down, __m128i* th) {
  const __m128i vbase = _mm_set1_epi16(static_cast<int16_t>(base));
  const __m128i vup = _mm_set1_epi16(static_cast<int16_t>(std::min(up, 32767)));
  const __m128i vdown = _mm_set1_epi16(static_cast<int16_t>(std::min(down, 32767)));
  __m128i prev[kWaveVectors];
  for (__m128i& p : prev) p = vbase;
  for (int s = 0; s < steps; ++s) {
    __m128i next[kWaveVectors];
    for (int k = 0; k < kWaveVectors; ++k) {
      const __m128i shifted = _mm_slli_si128(prev[k], 2);
      const __m128i a = k == 0 ? _mm_insert_epi16(shifted, above[kWavePad + s], 0)
                               : _mm_or_si128(shifted, _mm_srli_si128(prev[k - 1], 14));
      const size_t i = static_cast<size_t>(s) * kWaveVectors + k;
      const __m128i t = _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_add_epi16(a, prev[k]), scale[i]), bias[i]), 4);
      // Pulled toward the base: the middle of t - down, base and t + up
      // (saturating, which keeps the middle where it is).
      next[k] = _mm_max_epi16(_mm_subs_epi16(t, vdown), _mm_min_epi16(_mm_adds_epi16(t, vup), vbase));
    }
    for (int k = 0; k < kWaveVectors; ++k) th[static_cast<size_t>(s) * kWaveVectors + k] = prev[k] = next[k];
  }
}

// Each byte with its bit order reversed.
constexpr std::array<uint8_t, 256> Mirror() {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k)
      if (b & (1 << k)) t[static_cast<size_t>(b)] |= static_cast<uint8_t>(0x80 >> k);
  return t;
}
constexpr std::array<uint8_t, 256> kMirrored = Mirror();

// Light where the pixel reaches its threshold, sixteen at a time.
void PackAgainst(unsigned char* o, const unsigned char* p, const int16_t* th, int width) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
    const __m128i lo = _mm_cmplt_epi16(_mm_unpacklo_epi8(px, zero), _mm_loadu_si128(reinterpret_cast<const __m128i*>(th + x)));
    const __m128i hi =
        _mm_cmplt_epi16(_mm_unpackhi_epi8(px, zero), _mm_loadu_si128(reinterpret_cast<const __m128i*>(th + x + 8)));
    const unsigned light = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi))) & 0xFFFFu;
    o[x >> 3] = kMirrored[light & 0xFF];
    o[(x >> 3) + 1] = kMirrored[light >> 8];
  }
  if (x < width) PackLine(o + (x >> 3), width - x, [p, th, x](int i) { return p[x + i] >= th[x + i]; });
}
#endif

}  // namespace

int CConv::SimpleDTC(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_SDTCEX* dtc,
                     const unsigned char* toneBlock, bool highResolution, bool newStyle) const {
  const int width = out->nWidth, height = out->nHeight;
  // The blend weight is 0 to 8 and the offsets are not negative; held
  // there, every threshold term stays positive.
  const int weight = std::min(8, std::max(0, dtc->values[2])), base = dtc->values[3];
  const int up = std::max(0, dtc->values[4]), down = std::max(0, dtc->values[5]);
  // The neighbourhood comes from the page before the pre-filter when it is
  // there and has this page's geometry.
  const FSIP_S_IMAGEINFO* source = in;
  const auto* before = static_cast<const FSIP_S_IMAGEINFO*>(dtc->pInfo);
  if (before && before->pImageData && before->nWidth >= width && before->nHeight >= height &&
      before->nBytesPerLine >= before->nWidth && before->nDepth == 8)
    source = before;
  const DtcParams q{highResolution ? 2 : 1, dtc->values[1], weight, m_nScannerType == 2,
                    toneBlock ? toneBlock + 10 : nullptr};
  std::vector<int> above, th;
  std::vector<int16_t> bias, scale;  // kDtcRows rows of each
  DtcLine d;
  try {
    above.assign(width, base);  // the first line's "above" is the base level
    d.maxCol.resize(width + 4);
    d.minCol.resize(width + 4);
    for (auto& r : d.rows) r.resize(width + 4);
    d.level.resize(width);
    bias.resize(static_cast<size_t>(kDtcRows) * width);
    scale.resize(static_cast<size_t>(kDtcRows) * width);
    th.resize(static_cast<size_t>(kDtcRows) * width);
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  auto line = [&](int y) {
    y = y < 0 ? 0 : y >= height ? height - 1 : y;
    return source->pImageData + static_cast<size_t>(y) * source->nBytesPerLine;
  };
  // The per-pixel terms of line y.
  auto termsInto = [&](int y, int16_t* b, int16_t* sc) {
    // Column extremes over the lines in reach, padded by repeating the
    // edge columns (which is the clipping at the page's edges).
    unsigned char* mx = d.maxCol.data() + 2;
    unsigned char* mn = d.minCol.data() + 2;
    const unsigned char* lines[5] = {line(y), line(y - 1), line(y + 1), line(y - 2), line(y + 2)};
    ColumnExtremes(lines, 1 + 2 * q.reach, width, mx, mn);
    mx[-2] = mx[-1] = mx[0], mn[-2] = mn[-1] = mn[0];
    mx[width] = mx[width + 1] = mx[width - 1], mn[width] = mn[width + 1] = mn[width - 1];
    if (q.family2) {
      PadLine(d.rows[0], line(y - 2), width);
      PadLine(d.rows[1], line(y - 1), width);
      PadLine(d.rows[2], line(y + 1), width);
      PadLine(d.rows[3], line(y + 2), width);
    }
    DtcTerms(d, width, q, b, sc);
  };
  auto terms = [&](int y, int r) {
    termsInto(y, bias.data() + static_cast<size_t>(r) * width, scale.data() + static_cast<size_t>(r) * width);
  };
#ifdef __SSE2__
  if (newStyle && WaveFits(base)) {
    // Padded rows of terms (a padding term leaves the base where it is),
    // the skewed steps, and the thresholds back in rows.
    const size_t stride = static_cast<size_t>(width) + 2 * kWavePad;
    const int steps = (width + kWaveRows - 1 + 7) / 8 * 8;
    std::vector<int16_t> rowBias, rowScale, rowTh, aboveRow;
    struct alignas(16) Lanes {
      int16_t lane[8];
    };
    std::vector<Lanes> skewed[3];  // bias, scale, threshold
    try {
      for (auto& v : skewed) v.resize(static_cast<size_t>(steps) * kWaveVectors);
      rowBias.assign(stride * kWaveRows, static_cast<int16_t>(16 * base));
      rowScale.assign(stride * kWaveRows, 0);
      rowTh.resize(stride * kWaveRows);
      aboveRow.assign(stride, static_cast<int16_t>(base));
    } catch (const std::bad_alloc&) {
      return FSIP_C_ERR_OUTOFMEMORY;
    }
    for (int y0 = 0; y0 < height; y0 += kWaveRows) {
      const int rows = std::min(kWaveRows, height - y0);
      for (int r = 0; r < rows; ++r)
        termsInto(y0 + r, rowBias.data() + r * stride + kWavePad, rowScale.data() + r * stride + kWavePad);
      if (rows < kWaveRows) {  // rows past the page: padding terms only
        std::fill(rowBias.begin() + rows * stride, rowBias.end(), static_cast<int16_t>(16 * base));
        std::fill(rowScale.begin() + rows * stride, rowScale.end(), 0);
      }
      __m128i* skewBias = reinterpret_cast<__m128i*>(skewed[0].data());
      __m128i* skewScale = reinterpret_cast<__m128i*>(skewed[1].data());
      __m128i* skewTh = reinterpret_cast<__m128i*>(skewed[2].data());
      Skew(rowBias.data(), stride, steps, skewBias);
      Skew(rowScale.data(), stride, steps, skewScale);
      CarryWave(skewBias, skewScale, aboveRow.data(), steps, base, up, down, skewTh);
      Unskew(skewTh, steps, rowTh.data(), stride);
      for (int r = 0; r < rows; ++r) {
        const int y = y0 + r;
        unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
        PackAgainst(o, in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine,
                    rowTh.data() + r * stride + kWavePad, width);
        if (width & 7) o[width >> 3] = static_cast<unsigned char>(o[width >> 3] & ~(0xFFu >> (width & 7)));
        FinishLine(o, width, true);
      }
      std::copy_n(rowTh.data() + (kWaveRows - 1) * stride + kWavePad, width, aboveRow.data() + kWavePad);
    }
    return FSIP_C_ERR_NOERROR;
  }
#endif

  for (int y0 = 0; y0 < height; y0 += kDtcRows) {
    const int rows = std::min(kDtcRows, height - y0);
    for (int r = 0; r < rows; ++r) terms(y0 + r, r);
    if (newStyle) {
      // With the offsets not negative the pull toward the base is
      // max(t - down, base) + min(t + up, base) - base.
      using Carry = void (*)(int, const int16_t*, const int16_t*, const int*, int*, int, int, int);
      static constexpr Carry kCarry[kDtcRows] = {CarryRows<1>, CarryRows<2>, CarryRows<3>, CarryRows<4>};
      kCarry[rows - 1](width, bias.data(), scale.data(), above.data(), th.data(), base, up, down);
      for (int r = 0; r < rows; ++r) {
        const int y = y0 + r;
        const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
        unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
        const int* thresholds = th.data() + static_cast<size_t>(r) * width;
        PackLine(o, width, [p, thresholds](int x) { return p[x] >= thresholds[x]; });
        if (width & 7) o[width >> 3] = static_cast<unsigned char>(o[width >> 3] & ~(0xFFu >> (width & 7)));
        FinishLine(o, width, true);
      }
      std::copy_n(th.data() + static_cast<size_t>(rows - 1) * width, width, above.data());
      continue;
    }
    for (int r = 0; r < rows; ++r) {
      const int y = y0 + r;
      const unsigned char* p = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
      unsigned char* o = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
      const int16_t* b = bias.data() + static_cast<size_t>(r) * width;
      const int16_t* sc = scale.data() + static_cast<size_t>(r) * width;
      int left = 0;
      for (int x = 0; x < width; ++x) {
        int threshold;
        if (y == 0 || x == 0)
          threshold = y == 0 && x == 0 ? 2 * base / 16 : y == 0 ? (base + 8 * left) / 16 : (base + 8 * above[x]) / 16;
        else
          threshold = (b[x] + (left + above[x]) * sc[x]) / 16;
        const int pulled = threshold > base ? std::max(threshold - down, base) : std::min(threshold + up, base);
        above[x] = left = threshold;
        SetBit(o, x, p[x] + base - pulled >= 128);
      }
      FinishLine(o, width, true);
    }
  }
  return FSIP_C_ERR_NOERROR;
}

namespace {

bool GreyPageValid(const FSIP_S_IMAGEINFO* in) { return PageFits(in) && in->nDepth == 8; }

// The output page's own geometry, which the methods read the input by.
bool BilevelOutValid(const FSIP_S_IMAGEINFO* in, const FSIP_S_IMAGEINFO* out) {
  return out->nWidth > 0 && out->nHeight > 0 && out->nWidth <= in->nWidth && out->nHeight <= in->nHeight &&
         out->nBytesPerLine >= (out->nWidth + 7) / 8;
}

int Binarization2(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATIONEX* params, FSIP_S_IMAGEINFO* out) {
  if (!in || !in->pImageData) return FSIP_C_ERR_PARAMETER;
  if (in->nPixelType != 1) return kFsipErrPixelType;
  if (in->nColorSeq != 0) return FSIP_C_ERR_NOTSUPPORT;
  if (!out || !params || !GreyPageValid(in) || !BilevelOutValid(in, out)) return FSIP_C_ERR_PARAMETER;
  if (out->pImageData && out->nImageSize < out->nBytesPerLine * out->nHeight) return FSIP_C_ERR_PARAMETER;
  const int method = params->dwMethod & 0xFF;
  const bool preFilter = (params->dwMethod >> 8) & 0x10;
  if ((method == 1 && !params->pDither) || (method == 2 && !params->pErrorDiffusion) ||
      (method == 3 && !params->pSdtc) || method > 3 || (preFilter && !params->pPreFilter))
    return FSIP_C_ERR_PARAMETER;

  CConv conv;
  conv.m_nScannerType = 2;
  // The page to binarize: the pre-filtered copy when a filter runs.
  FSIP_S_IMAGEINFO filtered;
  std::vector<unsigned char> filteredPixels;
  int32_t carried[4];
  const FSIP_S_IMAGEINFO* page = in;
  const unsigned char* toneBlock = nullptr;
  if (preFilter) {
    const FSIP_S_IMAGEFILTER* filter = params->pPreFilter;
    if (!(filter->pEmphasis && filter->pEmphasis->nKind == 1)) {
      try {
        filteredPixels.resize(static_cast<size_t>(in->nImageSize));
      } catch (const std::bad_alloc&) {
        return FSIP_C_ERR_OUTOFMEMORY;
      }
      filtered = *in;
      filtered.pImageData = filteredPixels.data();
      int32_t* values = nullptr;
      memcpy(&values, in->reserved, sizeof values);
      if (values) memcpy(carried, values, sizeof carried);
      const int rc = fsip_ImageFilter(in, params->pPreFilter, &filtered, nullptr);
      if (rc != 0) return rc;
      if (values) {
        int32_t* copy = carried;
        memcpy(filtered.reserved, &copy, sizeof copy);
      }
      page = &filtered;
    }
    const auto* gamma = static_cast<const FSIP_S_GAMMA*>(filter->pGamma);
    if ((filter->dwOption & 4) && gamma) toneBlock = gamma->pbyTable;
  }

  bool allocated = false;
  if (!out->pImageData) {
    out->pImageData = static_cast<unsigned char*>(calloc(static_cast<size_t>(out->nBytesPerLine), out->nHeight));
    if (!out->pImageData) return FSIP_C_ERR_OUTOFMEMORY;
    allocated = true;
  }
  g_nBinPadding = ((params->dwBoundary >> 8) & 0xFF) == 1;
  out->nPixelType = 0;
  out->nDepth = 1;
  int rc = FSIP_C_ERR_NOERROR;
  switch (method) {
    case 0:
      rc = conv.FixThreshold(page, out, params->nThreshold);
      break;
    case 1:
      rc = conv.Dither(page, out, static_cast<const unsigned char*>(params->pDither) + 2);
      break;
    case 2: {
      const FSIP_S_ERROR_DIFFUSION* ed = params->pErrorDiffusion;
      const bool wide = ed->nKernel == 2 || (ed->nKernel == 0 && in->nXResolution > 300);
      rc = wide ? conv.ErrorDiffusionWide(page, out, ed) : conv.ErrorDiffusion(page, out, ed, true);
      break;
    }
    default: {
      FSIP_S_SDTCEX* dtc = params->pSdtc;
      dtc->pInfo = in;
      const int selector = dtc->values[6];
      const bool high = selector == 2 || (selector == 0 && in->nXResolution > 300);
      rc = conv.SimpleDTC(page, out, dtc, toneBlock, high, true);
      break;
    }
  }
  if (rc != 0 && allocated) {
    free(out->pImageData);
    out->pImageData = nullptr;
  }
  return rc;
}

int Binarization(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATION* params, FSIP_S_IMAGEINFO* out) {
  if (!in || !in->pImageData) return FSIP_C_ERR_PARAMETER;
  if (in->nPixelType != 1) return kFsipErrPixelType;
  if (in->nColorSeq != 0) return FSIP_C_ERR_NOTSUPPORT;
  if (!out || !out->pImageData || !params || !GreyPageValid(in) || !BilevelOutValid(in, out))
    return FSIP_C_ERR_PARAMETER;
  const int method = params->byMethod;
  if (method > 3 || (method == 1 && !params->pbyDither) || (method == 3 && !params->pnSdtc))
    return FSIP_C_ERR_PARAMETER;
  CConv conv;
  g_nBinPadding = ((params->dwBoundary >> 8) & 0xFF) == 1;
  out->nPixelType = 0;
  out->nDepth = 1;
  switch (method) {
    case 0:
      return conv.FixThreshold(in, out, params->nThreshold);
    case 1:
      return conv.Dither(in, out, params->pbyDither + 2);
    case 2: {
      const FSIP_S_ERROR_DIFFUSION ed{sizeof(FSIP_S_ERROR_DIFFUSION), 1, 2, 200, 40};
      return conv.ErrorDiffusion(in, out, &ed, false);
    }
    default: {
      FSIP_S_SDTCEX dtc{{static_cast<int32_t>(sizeof(FSIP_S_SDTCEX)), params->pnSdtc[0], params->pnSdtc[1],
                         params->pnSdtc[2], params->pnSdtc[3], params->pnSdtc[4], 1},
                        in};
      return conv.SimpleDTC(in, out, &dtc, nullptr, false, false);
    }
  }
}

}  // namespace

FSIP_EXPORT int fsip_BinarizationEx(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATIONEX* params, FSIP_S_IMAGEINFO* out,
                                    void* /*reserved*/) {
  return FsipGuarded([&] { return Binarization2(in, params, out); });
}

FSIP_EXPORT int fsip_Binarization(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATION* params, FSIP_S_IMAGEINFO* out,
                                  void* /*reserved*/) {
  return FsipGuarded([&] { return Binarization(in, params, out); });
}

FSIP_EXPORT int fsip_BinarizationExport(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATION* params, FSIP_S_IMAGEINFO* out,
                                        void* reserved) {
  return fsip_Binarization(in, params, out, reserved);
}
