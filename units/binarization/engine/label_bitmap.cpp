#include "label_bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct Run {
  int y, x0, x1;
  int label;  // provisional, then final
};

int Root(std::vector<int>& parent, int a) {
  while (parent[size_t(a)] != a) a = parent[size_t(a)] = parent[size_t(parent[size_t(a)])];
  return a;
}

bool Black(const uint8_t* row, int x) { return row[x >> 3] & (0x80 >> (x & 7)); }

// Labels the black runs of the region (8-connected: a run touches the runs
// of the row above that overlap it or meet it at a corner); the smaller
// provisional label wins a join, so final numbers follow the raster order of
// each group's first pixel, as in lbl_main2. Returns the group count.
long newlb_xy(const CABitmap& src, const ARECT2& a, std::vector<Run>& runs) {
  std::vector<int> parent(1, 0);
  size_t above = 0, aboveEnd = 0;
  for (int y = a.top; y <= a.bottom; ++y) {
    const uint8_t* row = src.m_data + size_t(y) * size_t(src.m_bpl);
    const size_t rowStart = runs.size();
    for (int x = a.left; x <= a.right;) {
      if (!Black(row, x)) {
        ++x;
        continue;
      }
      int e = x;
      while (e + 1 <= a.right && Black(row, e + 1)) ++e;
      int label = 0;
      while (above < aboveEnd && runs[above].x1 < x - 1) ++above;
      for (size_t k = above; k < aboveEnd && runs[k].x0 <= e + 1; ++k) {
        const int other = Root(parent, runs[k].label);
        if (!label) {
          label = other;
        } else if (other != label) {
          const int lo = std::min(label, other), hi = std::max(label, other);
          parent[size_t(hi)] = lo;
          label = lo;
        }
      }
      if (!label) {
        label = int(parent.size());
        parent.push_back(label);
      }
      runs.push_back(Run{y, x, e, label});
      x = e + 1;
    }
    above = rowStart;
    aboveEnd = runs.size();
  }
  std::vector<int> final(parent.size(), 0);
  long groups = 0;
  for (size_t i = 1; i < parent.size(); ++i) {
    const int r = Root(parent, int(i));
    if (r == int(i)) final[i] = int(++groups);
  }
  for (Run& r : runs) r.label = final[size_t(Root(parent, r.label))];
  return groups;
}

}  // namespace

int lbl_main3(const CABitmap& src, LBL_DATA& out, CABitmap& labels, const ARECT2& region) {
  std::memset(&out, 0, sizeof out);
  const bool overlaps = region.left <= region.right && region.top <= region.bottom && region.right >= 0 &&
                        region.bottom >= 0 && region.left < src.m_width && region.top < src.m_height &&
                        src.m_bits == 1 && src.m_data;
  ARECT2 a;
  src.clip(a, region);
  if (!overlaps) {
    labels.Free();
    out.rects = static_cast<KRECT*>(std::calloc(1, sizeof(KRECT)));
    return out.rects ? 0 : -1;
  }
  // Boxes carry 16-bit coordinates.
  if (a.right > 0xFFFF || a.bottom > 0xFFFF) return -1;
  std::vector<Run> runs;
  long groups;
  try {
    groups = newlb_xy(src, a, runs);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (groups > 0xFFFF) return -1;
  const int rc = labels.alloc(a.right - a.left + 2, a.bottom - a.top + 1, 16, 0);
  if (rc < 0) return rc;
  auto* rects = static_cast<KRECT*>(std::calloc(size_t(groups) + 1, sizeof(KRECT)));
  if (!rects) {
    labels.Free();
    return -1;
  }
  for (long k = 1; k <= groups; ++k) rects[k] = KRECT{0xFFFF, 0xFFFF, 0, 0, k, 0};
  for (const Run& r : runs) {
    KRECT& b = rects[r.label];
    b.xmin = uint16_t(std::min<int>(b.xmin, r.x0));
    b.xmax = uint16_t(std::max<int>(b.xmax, r.x1));
    b.ymin = uint16_t(std::min<int>(b.ymin, r.y));
    b.ymax = uint16_t(std::max<int>(b.ymax, r.y));
    auto* row = reinterpret_cast<uint16_t*>(labels.m_data + size_t(r.y - a.top) * size_t(labels.m_bpl));
    std::fill(row + (r.x0 - a.left), row + (r.x1 - a.left) + 1, uint16_t(r.label));
  }
  int64_t maxbytes = 0;
  for (long k = 1; k <= groups; ++k)
    maxbytes = std::max<int64_t>(maxbytes, int64_t((rects[k].xmax - rects[k].xmin + 8) / 8) *
                                               (rects[k].ymax - rects[k].ymin + 1));
  out.left = a.left;
  out.top = a.top;
  out.right = a.right;
  out.bottom = a.bottom;
  out.rects = rects;
  out.maxlabel = groups;
  out.maxbytes = maxbytes;
  return 0;
}

int lbl_main3(const CABitmap& src, LBL_DATA& out, CABitmap& labels) {
  return lbl_main3(src, out, labels, ARECT2{0, 0, src.m_width - 1, src.m_height - 1});
}

extern "C" int lbl_main3(ABITMAP* src, ARECT* region, void*, LBL_DATA* out) {
  if (!src || !out) return -1;
  CABitmap bmp;
  bmp.set(*src);
  CABitmap labels;
  const ARECT2 area = region ? ARECT2{region->x, region->y, region->x + region->w - 1, region->y + region->h - 1}
                             : ARECT2{0, 0, bmp.m_width - 1, bmp.m_height - 1};
  return lbl_main3(bmp, *out, labels, area);
}
