#include "edge_threshold.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "helper_binding.h"
#include "page_buffer.h"

namespace {

// Each byte with its bit order reversed.
constexpr std::array<uint8_t, 256> Mirror() {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k)
      if (b & (1 << k)) t[size_t(b)] |= uint8_t(0x80 >> k);
  return t;
}
constexpr std::array<uint8_t, 256> kMirrored = Mirror();

#ifdef __SSE2__
// Thirty-two pixels a step: each group of eight bytes is turned end for end
// within its lane, so that the byte mask comes out with the leftmost pixel
// of every eight in the top bit. Returns the pixels packed (a multiple of 8).
__attribute__((target("avx2"))) int PackRowAvx2(const uint8_t* in, uint8_t* out, int width) {
  const __m256i reversed = _mm256_broadcastsi128_si256(_mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8));
  const __m256i zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i v = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x)), reversed);
    const uint32_t set = ~uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero)));
    const uint8_t bytes[4] = {uint8_t(set), uint8_t(set >> 8), uint8_t(set >> 16), uint8_t(set >> 24)};
    std::memcpy(out + (x >> 3), bytes, 4);
  }
  return x;
}
#endif

constexpr int kHelperMode = 0x100000;
constexpr int kWhiteRow = 248;

bool IsWhiteRow(const uint8_t* row, int width) {
  for (int x = 0; x < width; ++x)
    if (row[x] < kWhiteRow) return false;
  return true;
}

}  // namespace

int GetAverage(const uint8_t* row, int n) {
  long sum = 0;
  for (int i = 0; i < n; ++i) sum += row[i];
  return int(sum / n);
}

int GetActualHeight(const uint8_t* src, int width, int height) {
  int white = 0;
  while (white < height && IsWhiteRow(src + size_t(height - 1 - white) * width, width)) ++white;
  if (white == height) return height;
  const int r = height - white;
  for (int i = 0; i < 8 && r - 1 - i >= 0; ++i)
    if (GetAverage(src + size_t(r - 1 - i) * width, width) < kWhiteRow) return r - i;
  return r;
}

void CreateSTreshold(const int* hist1, const int* hist2, int bins, int adjust, uint8_t* threshold, int weight) {
  const int k = 16 - weight;
  int t = 128, i1 = 0, i2 = 0;
  double e = hist2[0] * 0.1;
  if (bins >= 1) {
    auto first_past = [bins](const int* h, int* at) {
      long long total = 0, run = 0;
      for (int i = 0; i < bins; ++i) total += h[i];
      for (int i = 0; i < bins; ++i) {
        run += h[i];
        if (run > total * 0.4) return *at = i, true;
      }
      return false;
    };
    if (!first_past(hist1, &i1)) i1 = 0;
    long long p;
    if (first_past(hist2, &i2)) {
      t = (k * i1 + weight * i2) / 4;
      p = hist2[i2];
    } else {
      i2 = 0;
      t = (k * i1) / 4;
      p = hist2[0];
    }
    const long long v = hist1[i1];
    if (i1 == 0 && i2 == 0) t = 128;
    e = p * 0.1;
    if (i1 < i2 && p != 0)
      for (int u = i1; u < i2; ++u) {
        const long long a = hist1[u], b = hist2[u];
        if (a > (long long)(v * 0.1 + 1) && b > (long long)(e + 1) && (b * v) / p > a) {
          t = (3 * t + 4 * u) / 4;
          break;
        }
      }
    if (i1 > 0)
      for (int m = 0; m < i1; ++m)
        if (hist1[m] > v * 0.1) {
          i1 = m > 0 ? m - 1 : 0;
          break;
        }
  }
  for (int j = bins - 1; j > i2; --j)
    if (hist2[j] > e) {
      i2 = std::min(j + 1, bins - 1);
      break;
    }
  if (adjust < 0)
    t = t - ((4 * i2 - t) * adjust) / 50;
  else if (adjust > 0)
    t = 4 * i1 - ((t - 4 * i1) * (adjust - 50)) / 50;
  *threshold = uint8_t(std::clamp(t, 0, 255));
}

int Gray2BinImage(uint8_t* src, uint8_t* dst, int height, int width, int offset, int adjust, int edgeParam, int weight,
                  int* /*kernel*/, uint8_t /*flagA*/, int /*countB*/, int mode, bool bottomTrim, bool sensFlag,
                  int* results, int kind) {
  if (width <= 6 || height <= 6) return -1;
  const int measured = bottomTrim ? GetActualHeight(src, width, height) : height;
  const size_t plane = size_t(width) * height;
  PageBuffer planes;
  if (!planes.allocate(2 * plane)) return 34;
  uint8_t* edge1 = planes.data();
  uint8_t* edge2 = edge1 + plane;
  int hist1[64] = {}, hist2[64] = {};
  const int a = std::clamp(26 - offset, 5, 100);
  const I3HelperSize measure{width, measured};
  if (!g_i3Helper.GetEdgeThreshold8u8u || !g_i3Helper.BinarizeTo8uCombined ||
      !g_i3Helper.GetEdgeThreshold8u8u(src, width, edge1, width, edge2, width, &measure, sensFlag ? 1 : 0, 5 * a, 4 * a,
                                       edgeParam, hist1, hist2, kHelperMode))
    return -1;
  uint8_t t = 0;
  CreateSTreshold(hist1, hist2, 64, adjust, &t, weight);
  if (results) {
    if (kind == 2) t = uint8_t(std::min(results[14], results[15] & 0xFF));
    if (mode & 0xF0000000)
      t = uint8_t(results[10] & 0xFF);
    else
      results[10] = t;
  }
  const I3HelperSize whole{width, height};
  g_i3Helper.BinarizeTo8uCombined(src, width, edge1, edge2, t, &whole, kHelperMode, dst, width);
  return 0;
}

void bin2pac(const uint8_t* bytes, uint8_t* packed, int height, int width) {
  const int bpl = (width + 7) / 8;
#ifdef __SSE2__
  static const bool avx2 = __builtin_cpu_supports("avx2");
#endif
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = bytes + size_t(y) * width;
    uint8_t* out = packed + size_t(y) * bpl;
    int x = 0;
#ifdef __SSE2__
    if (avx2) x = PackRowAvx2(in, out, width);
    // Sixteen pixels at a time: the zero bytes' mask, inverted, gives the
    // set bits with the leftmost pixel in bit 0; each byte is then mirrored.
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= width; x += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
      const unsigned set = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & 0xFFFFu;
      out[x >> 3] = kMirrored[set & 0xFF];
      out[(x >> 3) + 1] = kMirrored[set >> 8];
    }
#endif
    if (x < width) std::memset(out + (x >> 3), 0, size_t(bpl - (x >> 3)));
    for (; x < width; ++x)
      if (in[x]) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
  }
}
