// Histogram builders, table builders and a quality check of the tone
// pre-processing that the engine itself does not call. Every bin a pixel
// value selects is checked against the histogram's length.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "tone.h"

namespace {

// The same 64-bin form of two pages' samples.
void Hist64(const uint8_t* page, int height, int width, int step, uint32_t* out) {
  uint32_t full[256];
  CreateHist(page, height, width, full, step);
  std::fill(out, out + 64, 0u);
  for (int i = 0; i < 256; ++i) out[i / 4] += full[i];
}

bool Sized(int height, int width) { return height > 0 && width > 0; }

// Counts of every step-th pixel of interleaved colour; `take` says whether a
// pixel counts.
template <typename Take>
int ChannelHists(const uint8_t* src, int height, int width, int step, uint32_t* r, uint32_t* g, uint32_t* b,
                 Take take) {
  if (!src || !r || !g || !b || !Sized(height, width)) return -1;
  std::fill(r, r + 256, 0u), std::fill(g, g + 256, 0u), std::fill(b, b + 256, 0u);
  const size_t pixels = size_t(height) * size_t(width), stride = size_t(std::max(step, 1));
  for (size_t i = 0; i < pixels; i += stride) {
    const uint8_t* p = src + 3 * i;
    if (!take(p)) continue;
    ++r[p[0]], ++g[p[1]], ++b[p[2]];
  }
  return 0;
}

// Values shifted right by 256 / (2k - 44) bits and moved up by 10 bins:
// -1 when k leaves no shift or a value would fall past the last bin.
int ShiftedBins(int k, int bins, int* shift) {
  const int divisor = 2 * k - 44;
  if (divisor <= 0 || bins <= 0) return -1;
  *shift = std::min(256 / divisor, 8);
  return (255 >> *shift) + 10 < bins ? 0 : -1;
}

}  // namespace

int CreateHistMax(const uint32_t* hist, int n, uint32_t* count) {
  if (!hist || n <= 0) return -1;
  const int at = int(std::max_element(hist, hist + n) - hist);
  if (count) *count = hist[at];
  return at;
}

int BinAIQC(const uint8_t* src, const uint8_t* dst, int height, int width, int level, const int* params, int* results,
            int kind) {
  if (!src || !dst || !results || !Sized(height, width) || kind != 0) return -1;
  const int step = params && params[0] > 0 ? params[0] : 320;
  uint32_t before[64], after[64], nBefore = 0, nAfter = 0;
  Hist64(src, height, width, step, before);
  Hist64(dst, height, width, step, after);
  results[0] = CreateHistMax(before, 64, &nBefore);
  results[1] = CreateHistMax(after, 64, &nAfter);
  results[2] = std::abs(results[1] - results[0]);
  return results[2] <= level ? 0 : 1;
}

int CreateHistRGB(const uint8_t* src, int height, int width, int step, uint32_t* r, uint32_t* g, uint32_t* b) {
  return ChannelHists(src, height, width, step, r, g, b, [](const uint8_t*) { return true; });
}

int CreateHistRGBCdist(const uint8_t* src, int height, int width, int step, const uint8_t* reference, int limit,
                       uint32_t* r, uint32_t* g, uint32_t* b) {
  if (!reference) return -1;
  return ChannelHists(src, height, width, step, r, g, b, [&](const uint8_t* p) {
    long d = 0;
    for (int c = 0; c < 3; ++c) d += long(p[c] - reference[c]) * (p[c] - reference[c]);
    return d < limit;
  });
}

int CreateHistF0spec(const uint8_t* src, int height, int width, int k, uint32_t* hist, int bins) {
  int shift = 0;
  if (!src || !hist || !Sized(height, width) || ShiftedBins(k, bins, &shift) != 0) return -1;
  std::fill(hist, hist + bins, 0u);
  const size_t n = size_t(height) * size_t(width);
  for (size_t i = 0; i < n; ++i) ++hist[(src[i] >> shift) + 10];
  return 0;
}

int CreateHistUVWplusspec(const uint8_t* src, int height, int width, int k, uint32_t* hist, int bins) {
  int shift = 0;
  if (!src || !hist || !Sized(height, width) || ShiftedBins(k, bins, &shift) != 0) return -1;
  std::fill(hist, hist + bins, 0u);
  const size_t n = 3 * size_t(height) * size_t(width);
  for (size_t i = 0; i < n; ++i) ++hist[(src[i] >> shift) + 10];
  return 0;
}

int CreateStagnationPosition(const uint32_t* hist, int n, int tolerance, int minLength, int* starts, int* ends,
                             int capacity) {
  if (!hist || n <= 0 || !starts || !ends || capacity < 0) return -1;
  int found = 0;
  for (int i = 0; i < n;) {
    int j = i;
    while (j + 1 < n && std::labs(long(hist[j + 1]) - long(hist[j])) <= tolerance) ++j;
    if (j - i + 1 >= std::max(minLength, 1)) {
      if (found == capacity) return found;
      starts[found] = i, ends[found] = j, ++found;
    }
    i = j + 1;
  }
  return found;
}

int CreateBrightTableLineF(int b, uint8_t* t) {
  for (int i = 0; i < 256; ++i) t[i] = uint8_t(std::clamp(i + b, 0, 255));
  return 0;
}

int CreateContrastTableF(int c, int x, uint8_t* t) {
  // Three pieces: black below the line's foot, a straight line through
  // (x, x) whose slope grows with c, white above its head.
  c = std::clamp(c, -127, 126);
  x &= 0xFF;
  const double k = c >= 0 ? 127.0 / (127 - c) : (127.0 + c) / 127;
  for (int i = 0; i < 256; ++i) t[i] = uint8_t(std::clamp(int(x + (i - x) * k), 0, 255));
  return 0;
}
