// Connected-component labelling: 8-connected groups of black pixels, one
// bounding box per group, numbered in the raster order of their first pixel.
//
// Each row is cut into runs of black pixels; a run takes the provisional
// label of the first run of the row above that it touches and merges every
// other label it meets. Labels are 16-bit, so a pass stops once another row
// might overflow the capacity; the next pass starts again at the last row
// labelled, so a group on that row is reported by both passes. The image is
// only read: pixels outside the area in its boundary bytes are masked while a
// row is cut into runs.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cstdint>

#include "CABitmap.h"
#include "bitmap_internal.h"

namespace {

// Calloc-backed array released at scope end; empty on allocation failure.
template <class T>
class WorkBuf {
 public:
  explicit WorkBuf(size_t n) : p_(static_cast<T*>(calloc(n ? n : 1, sizeof(T)))) {}
  ~WorkBuf() { free(p_); }
  WorkBuf(WorkBuf const&) = delete;
  WorkBuf& operator=(WorkBuf const&) = delete;
  T* get() const { return p_; }

 private:
  T* p_;
};

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

// Runs of black pixels of one row between columns left and right; returns
// their number. Zero and all-black stretches are skipped eight bytes at once.
int CutRuns(const uint8_t* row, int left, int right, LblRun* runs) {
  const int lb = left >> 3, rb = right >> 3;
  const unsigned lmask = abmp::LeftMask(left), rmask = abmp::RightMask(right);
  int n = 0;
  bool inRun = false;
  int start = 0;
  for (int b = lb; b <= rb; ++b) {
    unsigned v = row[b];
    if (b == lb) v &= lmask;
    if (b == rb) v &= rmask;
    if (!inRun && v == 0) {
      while (b + 8 < rb && Load64(row + b + 1) == 0) b += 8;
      continue;
    }
    if (inRun && v == 0xFF) {
      while (b + 8 < rb && Load64(row + b + 1) == ~uint64_t{0}) b += 8;
      continue;
    }
    const int x0 = b << 3;
    int pos = 0;
    while (pos < 8) {
      // the pixels from pos on, as the top bits of a 32-bit word
      unsigned look = inRun ? (~v << pos) & 0xFF : (v << pos) & 0xFF;
      if (!look) break;
      pos += __builtin_clz(look << 24);
      if (inRun) {
        runs[n++] = LblRun{start, x0 + pos - 1, 0};
      } else {
        start = x0 + pos;
      }
      inRun = !inRun;
    }
  }
  if (inRun) runs[n++] = LblRun{start, right, 0};
  return n;
}

inline unsigned Root(unsigned short* parents, unsigned x) {
  // Path halving keeps every parent smaller than its child.
  while (unsigned p = parents[x]) {
    if (unsigned g = parents[p]) parents[x] = static_cast<unsigned short>(g);
    x = p;
  }
  return x;
}

inline void Merge(unsigned short* parents, unsigned a, unsigned b) {
  a = Root(parents, a);
  b = Root(parents, b);
  if (a == b) return;
  if (a < b)
    parents[b] = static_cast<unsigned short>(a);
  else
    parents[a] = static_cast<unsigned short>(b);
}

}  // namespace

long count_actLabel(unsigned short* parents, long n) {
  long k = 0;
  for (long i = 1; i <= n; ++i) {
    if (parents[i] == 0)
      parents[i] = static_cast<unsigned short>(++k);
    else
      parents[i] = parents[parents[i]];
  }
  return k;
}

int lbl_kousin_structRECT(unsigned short const* finals, x1y1x2y2 const* boxes, long nprov, KRECT* rects, long nfinal,
                          long first) {
  // Coordinates may exceed 0x7FFF; start from the largest 16-bit value.
  for (long k = 1; k <= nfinal; ++k) rects[k] = KRECT{0xFFFF, 0xFFFF, 0, 0, first + k - 1, 0};
  for (long j = 1; j <= nprov; ++j) {
    KRECT& r = rects[finals[j]];
    const x1y1x2y2& b = boxes[j];
    r.xmin = static_cast<uint16_t>(std::min<int32_t>(r.xmin, b.x1));
    r.ymin = static_cast<uint16_t>(std::min<int32_t>(r.ymin, b.y1));
    r.xmax = static_cast<uint16_t>(std::max<int32_t>(r.xmax, b.x2));
    r.ymax = static_cast<uint16_t>(std::max<int32_t>(r.ymax, b.y2));
  }
  return 0;
}

void mizo_horu(CABitmap const& bmp, int x1, int y1, int x2, int y2, unsigned char* save) {
  if (!abmp::GrooveFits(bmp, x1, y1, x2, y2)) return;
  const int n = y2 - y1 + 1;
  const uint8_t lmask = abmp::LeftMask(x1), rmask = abmp::RightMask(x2);
  for (int i = 0; i < n; ++i) {
    uint8_t* row = bmp.m_data + static_cast<ptrdiff_t>(y1 + i) * bmp.m_bpl;
    save[i] = row[x1 >> 3];
    row[x1 >> 3] &= lmask;
    save[n + i] = row[x2 >> 3];
    row[x2 >> 3] &= rmask;
  }
}

void mizo_umeru(CABitmap const& bmp, int x1, int y1, int x2, int y2, unsigned char* save) {
  if (!abmp::GrooveFits(bmp, x1, y1, x2, y2)) return;
  const int n = y2 - y1 + 1;
  for (int i = 0; i < n; ++i) {
    uint8_t* row = bmp.m_data + static_cast<ptrdiff_t>(y1 + i) * bmp.m_bpl;
    // Right byte first: when both edges share a byte, its right save already
    // lost the left groove's bits and the left save is the original.
    row[x2 >> 3] = save[n + i];
    row[x1 >> 3] = save[i];
  }
}

int lbefs_xy(CABitmap const& bmp, int left, int /*top*/, int right, int bottom, int* startRow, long* nprov,
             long* ngroups, LblWork& work) {
  const int start = *startRow;
  const long width = static_cast<long>(right) - left + 1;
  // A row makes at most this many new labels.
  const long rowLabels = (width + 1) / 2;
  const long capacity = work.capacity;
  unsigned short* parents = work.parents;
  x1y1x2y2* boxes = work.boxes;
  LblRun* above = work.above;
  LblRun* cur = work.cur;
  long made = 0;
  int nAbove = 0;
  int result = 0;

  // Row bottom + 1 stands for the white row that closes the groups reaching
  // the bottom: it makes no label, but a pass that is full there still ends
  // early, and the next pass labels the bottom row once more.
  for (int r = start; r <= bottom + 1; ++r) {
    // The second row of a pass always fits: two rows of the area hold at
    // most rowLabels groups, since every run or new run needs a free column
    // beside it. Scanning it keeps each pass moving down.
    if (r >= start + 2 && made > capacity - rowLabels) {
      *startRow = r - 1;
      result = 1;
      break;
    }
    if (r > bottom) break;
    const uint8_t* row = bmp.m_data + static_cast<ptrdiff_t>(r) * bmp.m_bpl;
    int nCur = CutRuns(row, left, right, cur);
    int j = 0;
    for (int i = 0; i < nCur; ++i) {
      LblRun& run = cur[i];
      while (j < nAbove && above[j].xe < run.xs - 1) ++j;
      unsigned label = 0;
      for (int k = j; k < nAbove && above[k].xs <= run.xe + 1; ++k) {
        if (!label)
          label = above[k].label;
        else if (above[k].label != label)
          Merge(parents, label, above[k].label);
      }
      if (!label) {
        label = static_cast<unsigned>(++made);
        parents[label] = 0;
        boxes[label] = x1y1x2y2{run.xs, r, run.xe, r};
      } else {
        x1y1x2y2& b = boxes[label];
        b.x1 = std::min(b.x1, run.xs);
        b.x2 = std::max(b.x2, run.xe);
        b.y2 = r;
      }
      run.label = label;
    }
    std::swap(above, cur);
    nAbove = nCur;
  }
  *nprov = made;
  *ngroups = count_actLabel(parents, made);
  return result;
}

int lbl_main2(CABitmap const& bmp, LBL_DATA& out, ARECT2 const& area) {
  memset(&out, 0, sizeof out);
  ARECT2 a;
  if (!abmp::ClipOverlap(bmp, area, a)) {
    // Nothing to label: no groups, and an array that holds only entry 0.
    out.rects = static_cast<KRECT*>(calloc(1, sizeof(KRECT)));
    return out.rects ? 0 : -1;
  }
  // Boxes carry 16-bit coordinates.
  if (a.right > 0xFFFF || a.bottom > 0xFFFF) return -1;

  const long width = static_cast<long>(a.right) - a.left + 1;
  const long height = static_cast<long>(a.bottom) - a.top + 1;
  const long rowLabels = (width + 1) / 2;
  // The runs a checkerboard of the area could hold, capped for 16-bit labels.
  const long capacity = std::min<long>(64000, rowLabels * ((height + 1) / 2 + 1));

  WorkBuf<LblRun> above(rowLabels + 1), cur(rowLabels + 1);
  WorkBuf<unsigned short> parents(capacity + 1);
  WorkBuf<x1y1x2y2> boxes(capacity + 1);
  if (!above.get() || !cur.get() || !parents.get() || !boxes.get()) return -1;
  LblWork work{above.get(), cur.get(), parents.get(), boxes.get(), static_cast<unsigned short>(capacity)};

  KRECT* rects = nullptr;
  long total = 0;
  int startRow = a.top;
  for (;;) {
    long nprov = 0, ngroups = 0;
    int more = lbefs_xy(bmp, a.left, a.top, a.right, a.bottom, &startRow, &nprov, &ngroups, work);
    auto* grown = static_cast<KRECT*>(realloc(rects, (total + ngroups + 1) * sizeof(KRECT)));
    if (!grown) {
      free(rects);
      return -1;
    }
    rects = grown;
    memset(rects + total + 1, 0, ngroups * sizeof(KRECT));
    lbl_kousin_structRECT(parents.get(), boxes.get(), nprov, rects + total, ngroups, total + 1);
    total += ngroups;
    if (!more) break;
  }
  rects[0] = KRECT{};

  int64_t maxbytes = 0;
  for (long k = 1; k <= total; ++k) {
    const KRECT& r = rects[k];
    int64_t bytes = static_cast<int64_t>((r.xmax - r.xmin + 8) / 8) * (r.ymax - r.ymin + 1);
    maxbytes = std::max(maxbytes, bytes);
  }
  out.left = a.left;
  out.top = a.top;
  out.right = a.right;
  out.bottom = a.bottom;
  out.rects = rects;
  out.maxlabel = total;
  out.maxbytes = maxbytes;
  return 0;
}

int lbl_main2(CABitmap const& bmp, LBL_DATA& out) {
  return lbl_main2(bmp, out, ARECT2{0, 0, bmp.m_width - 1, bmp.m_height - 1});
}
