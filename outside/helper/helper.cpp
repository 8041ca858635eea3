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
#include <vector>

#include "dravn_export.h"
#include "edge_rule.h"
#include "i3helper.h"

namespace {

bool ValidPlane(const void* p, int step, int width) { return p && step >= width; }

// One row of the kernel's response over columns 2 .. width - 3 of row y
// (needs rows y - 2 .. y + 2); 0 elsewhere. The kernel is symmetric, so the
// rows two and one apart are summed first.
void LogRow(const uint8_t* src, int step, int width, int y, int16_t* out, int16_t* a, int16_t* b) {
  const uint8_t* r0 = src + std::ptrdiff_t(y - 2) * step;
  const uint8_t* r1 = r0 + step;
  const uint8_t* r2 = r1 + step;
  const uint8_t* r3 = r2 + step;
  const uint8_t* r4 = r3 + step;
  for (int x = 0; x < width; ++x) {
    a[x] = int16_t(r0[x] + r4[x]);
    b[x] = int16_t(r1[x] + r3[x]);
  }
  out[0] = out[1] = 0;
  out[width - 2] = out[width - 1] = 0;
  // Every partial sum stays within the bound of edge_rule::kLog.
  for (int x = 2; x < width - 2; ++x) {
    const int c = r2[x];
    const int v = 4 * (a[x - 2] + a[x + 2]) + 7 * (a[x - 1] + a[x + 1]) + 8 * a[x] + 7 * (b[x - 2] + b[x + 2]) +
                  2 * (b[x - 1] + b[x + 1]) - 15 * b[x] + 8 * (r2[x - 2] + r2[x + 2]) - 15 * (r2[x - 1] + r2[x + 1]) -
                  52 * c;
    out[x] = int16_t(v);
  }
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
    std::vector<int16_t> ring(n * 3), a(n), b(n);
    int16_t* rows[3] = {ring.data(), ring.data() + w, ring.data() + 2 * w};
    LogRow(src, srcStep, w, 2, rows[0], a.data(), b.data());
    LogRow(src, srcStep, w, 3, rows[1], a.data(), b.data());
    for (int y = 3; y <= h - 4; ++y) {
      LogRow(src, srcStep, w, y + 1, rows[2], a.data(), b.data());
      const int16_t* r = rows[1];
      const uint8_t* g = src + std::ptrdiff_t(y) * srcStep;
      uint8_t* e1 = edge1 + std::ptrdiff_t(y) * edge1Step;
      uint8_t* e2 = edge2 + std::ptrdiff_t(y) * edge2Step;
      for (int x = 3; x <= w - 4; ++x) {
        if (r[x] >= 0) continue;  // most of a page: paper, where the response is 0
        if (edge_rule::EdgeStep(g + x, srcStep, rows[0] + x, r + x, rows[2] + x, t1, t2) < 0) continue;
        int m = 255;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy) m = std::min<int>(m, g[x + dx + std::ptrdiff_t(dy) * srcStep]);
        const int v = g[x];
        e1[x] = 1;
        e2[x] = uint8_t((mix * v + m * (8 - mix)) / 8);
        ++hist1[std::min(m, v) / 4];
        ++hist2[v / 4];
      }
      // The ring is addressed through row pointers: rotate them.
      int16_t* first = rows[0];
      rows[0] = rows[1];
      rows[1] = rows[2];
      rows[2] = first;
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
    auto add = [&](int y, int sign) {
      const uint8_t* e1 = edge1 + std::ptrdiff_t(y) * srcStep;
      const uint8_t* e2 = edge2 + std::ptrdiff_t(y) * srcStep;
      for (int x = 0; x < w; ++x) {
        c[x] = uint16_t(c[x] + sign * e1[x]);
        s[x] = uint16_t(s[x] + sign * e2[x]);
      }
    };
    for (int y = 0; y < std::min(2, h); ++y) add(y, 1);
    for (int y = 0; y < h; ++y) {
      if (y + 2 < h) add(y + 2, 1);
      if (y - 3 >= 0) add(y - 3, -1);
      const uint8_t* g = src + std::ptrdiff_t(y) * srcStep;
      const uint8_t* e1 = edge1 + std::ptrdiff_t(y) * srcStep;
      const uint8_t* e2 = edge2 + std::ptrdiff_t(y) * srcStep;
      uint8_t* d = dst + std::ptrdiff_t(y) * dstStep;
      for (int x = 0; x < w; ++x) {
        int n = c[x - 2] + c[x - 1] + c[x] + c[x + 1] + c[x + 2] - e1[x];
        int sum = s[x - 2] + s[x - 1] + s[x] + s[x + 1] + s[x + 2] - e2[x];
        if (n == 0) n = 1, sum = threshold;
        d[x] = g[x] * n >= sum ? 1 : 0;
      }
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
