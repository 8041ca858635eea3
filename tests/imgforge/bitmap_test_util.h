// Random 1-bit images and brute-force references for the bitmap tests.
#ifndef BITMAP_TEST_UTIL_H
#define BITMAP_TEST_UTIL_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <tuple>
#include <vector>

#include "CABitmap.h"

namespace bmptest {

// A 1-bit image with `pad` extra bytes per row. Every bit that is not a
// pixel (beyond the width, in the padding) is set, so code that reads them
// as pixels shows up.
inline void MakeRandom(CABitmap& b, int width, int height, double density, uint32_t seed, int pad = 0) {
  b.alloc(width, height, 1, (width + 7) / 8 + pad);
  std::mt19937 rng(seed);
  std::bernoulli_distribution black(density);
  memset(b.m_data, 0xFF, b.m_size);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.pset(x, y, black(rng) ? 1ul : 0ul);
}

inline bool Px(CABitmap const& b, int x, int y) {
  return b.m_data[static_cast<ptrdiff_t>(y) * b.m_bpl + (x >> 3)] & (0x80 >> (x & 7));
}

inline std::vector<uint8_t> Bytes(CABitmap const& b) { return std::vector<uint8_t>(b.m_data, b.m_data + b.m_size); }

struct Box {
  int xmin, ymin, xmax, ymax;
  bool operator==(Box const& o) const { return xmin == o.xmin && ymin == o.ymin && xmax == o.xmax && ymax == o.ymax; }
  bool operator<(Box const& o) const {
    return std::tie(ymin, xmin, ymax, xmax) < std::tie(o.ymin, o.xmin, o.ymax, o.xmax);
  }
};

// 8-connected groups inside the inclusive area, in the raster order of their
// first pixel, by flood fill.
inline std::vector<Box> FloodGroups(CABitmap const& b, ARECT2 a) {
  std::vector<Box> groups;
  const int w = a.right - a.left + 1, h = a.bottom - a.top + 1;
  if (w <= 0 || h <= 0) return groups;
  std::vector<uint8_t> seen(static_cast<size_t>(w) * h, 0);
  std::vector<std::pair<int, int>> stack;
  for (int y = a.top; y <= a.bottom; ++y) {
    for (int x = a.left; x <= a.right; ++x) {
      size_t i = static_cast<size_t>(y - a.top) * w + (x - a.left);
      if (seen[i] || !Px(b, x, y)) continue;
      Box box{x, y, x, y};
      seen[i] = 1;
      stack.assign(1, {x, y});
      while (!stack.empty()) {
        auto [cx, cy] = stack.back();
        stack.pop_back();
        box.xmin = std::min(box.xmin, cx);
        box.xmax = std::max(box.xmax, cx);
        box.ymin = std::min(box.ymin, cy);
        box.ymax = std::max(box.ymax, cy);
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = cx + dx, ny = cy + dy;
            if (nx < a.left || nx > a.right || ny < a.top || ny > a.bottom) continue;
            size_t j = static_cast<size_t>(ny - a.top) * w + (nx - a.left);
            if (seen[j] || !Px(b, nx, ny)) continue;
            seen[j] = 1;
            stack.push_back({nx, ny});
          }
      }
      groups.push_back(box);
    }
  }
  return groups;
}

inline std::ostream& operator<<(std::ostream& o, Box const& b) {
  return o << "(" << b.xmin << "," << b.ymin << "," << b.xmax << "," << b.ymax << ")";
}

inline std::vector<Box> Boxes(LBL_DATA const& d) {
  std::vector<Box> v;
  for (int64_t k = 1; k <= d.maxlabel; ++k)
    v.push_back({d.rects[k].xmin, d.rects[k].ymin, d.rects[k].xmax, d.rects[k].ymax});
  return v;
}

}  // namespace bmptest

#endif
