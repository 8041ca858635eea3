// Edge scanning on the work image: a profile every 2 mm across the rows and
// down the columns, the backing at its ends, and the paper edges between.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "FsipCrop.h"

namespace fsipcrop {

double gd1mm = 1;
double gdblGrayZone = 1.0;
uint32_t guBGLvl = 0x4000;
uint32_t guBGLvlInv = 0xC000;
int32_t gnEdgeGrad = 4096;
uint32_t guBGLvlHW = 10240;
int32_t gnVerticalNoiseW = 8;
int32_t gbInv = 0;
int32_t gbHWEdgeDetection = 0;
int32_t gbFBFrameSearch = 0;
int32_t gbExecTabProc = 0;
int32_t gbLowReso = 0;
int32_t gbDoubtL, gbDoubtR, gbDoubtT, gbDoubtB;
int32_t gnFrameL, gnFrameB, gnFrameR, gnFrameT;
PointList gvecFrameL, gvecFrameR, gvecFrameT, gvecFrameB;

namespace {

inline int GrayZone() { return static_cast<int>(gdblGrayZone + 0.5); }

inline bool IsBacking(const uint32_t* prof, int k, bool colour) {
  if (!colour) return gbInv ? prof[k] > guBGLvlInv : prof[k] < guBGLvl;
  const uint32_t* p = prof + 3 * k;
  if (gbInv) return p[0] > guBGLvlInv && p[1] > guBGLvlInv && p[2] > guBGLvlInv;
  return p[0] < guBGLvl && p[1] < guBGLvl && p[2] < guBGLvl;
}

// A strong peak of the wanted kind: rising (a maximum; a minimum when the
// image is inverted) or falling.
inline bool StrongPeak(const int32_t* g, int n, int i, bool rising) {
  int isMax;
  if (std::abs(g[i]) <= gnEdgeGrad || !IsPeak(g, n, i, &isMax)) return false;
  return (isMax != 0) == (rising != (gbInv != 0));
}

inline bool AnyStrongPeak(const int32_t* g, int n, int i) {
  int isMax;
  return std::abs(g[i]) > gnEdgeGrad && IsPeak(g, n, i, &isMax);
}

// Scan positions every 2 mm: trunc(k * 2 * dpi / 25.4) below limit - 1.
template <class F>
void ForEachScanPosition(int dpi, int limit, F f) {
  for (int k = 1;; ++k) {
    const int pos = static_cast<int>(static_cast<double>(k * 2 * dpi) / 25.4);
    if (pos >= limit - 1) break;
    if (pos > 0) f(pos);
  }
}

// Points of one scan line from the rows (or columns) found on it.
void AddPoints(std::vector<int>& found, bool colour, int s, int e, bool horizontal, int at, PointList& pts) {
  if (found.empty()) return;
  auto add = [&](int v) { pts.push_back(horizontal ? tagPOINT{v, at} : tagPOINT{at, v}); };
  if (!colour) {
    for (int v : found) add(v);
    return;
  }
  const int lo = *std::min_element(found.begin(), found.end());
  const int hi = *std::max_element(found.begin(), found.end());
  if (s == -1) {
    add(hi);
  } else if (e == -1) {
    add(lo);
  } else {
    add(lo);
    if (hi != lo) add(hi);
  }
}

void ScanLine(const uint32_t* prof, int32_t* grad, int n, bool colour, bool horizontal, int at, PointList& pts,
              PointList& frameStart, PointList& frameEnd, int& doubtStart, int& doubtEnd) {
  GetGrad(prof, n, colour, grad);
  int s, e;
  GetBothEnds(prof, n, colour, &s, &e, static_cast<int>(gd1mm) / 2);
  if (horizontal && gnEdgeGrad == 2560 && s != -1) s = GrayZone();
  frameStart.push_back(horizontal ? tagPOINT{s, at} : tagPOINT{at, s});
  frameEnd.push_back(horizontal ? tagPOINT{e, at} : tagPOINT{at, e});
  if (s == -1) ++doubtStart;
  if (e == -1) ++doubtEnd;
  if (s == -1 && e == -1) return;
  static std::vector<int> found;
  found.clear();
  if (horizontal && gbHWEdgeDetection) {
    for (int c = 0; c < (colour ? 3 : 1); ++c) GetEdge(n, prof, colour ? c : -1, s, e, found);
  } else {
    for (int c = 0; c < (colour ? 3 : 1); ++c) GetEdge(grad + static_cast<size_t>(c) * n, n, s, e, found, prof, colour);
  }
  AddPoints(found, colour, s, e, horizontal, at, pts);
}

}  // namespace

void GetBothEnds(const uint32_t* prof, int n, bool colour, int* start, int* far, int halfMm) {
  const int Z = GrayZone(), s0 = gbFBFrameSearch ? 2 : 0;
  int s = -1, e = -1;
  if (s0 < n && IsBacking(prof, s0, colour)) {
    s = s0;
  } else {
    for (int k = s0 + 1; k <= Z - 1 && k < n; ++k)
      if (IsBacking(prof, k, colour)) {
        s = k;
        break;
      }
  }
  if (n > 0 && IsBacking(prof, n - 1, colour)) {
    e = n - 1;
  } else if (Z >= 2) {
    for (int k = n - 2; k >= 0 && (n - 1) - k < Z; --k)
      if (IsBacking(prof, k, colour)) {
        e = k;
        break;
      }
  }
  if (gbFBFrameSearch) {
    if (s != -1) s = std::min(s + halfMm, Z);
    if (e != n - 1) e = ((n - 1) - (e - halfMm) < Z) ? e - halfMm : (n - 1) - Z;
  }
  *start = s;
  *far = e;
}

bool IsPhantomEdge(const uint32_t* prof, int n, int index, bool colour) {
  if (!prof) return false;
  const int Z = GrayZone();
  const int d = index > n / 2 ? n - index : index;
  if (!(d > 3 && d <= Z)) return false;
  for (int k = -3; k <= 3; ++k)
    if (k != 0 && !IsBacking(prof, index + k, colour)) return false;
  return true;
}

void GetEdge(const int32_t* g, int n, int s, int e, std::vector<int>& out, const uint32_t* prof, bool colour) {
  const int M = static_cast<int>(gd1mm * 25.4 + 0.5);
  if (s == -1 && e == -1) return;
  if (e == -1) {
    for (int i = s; i < n - 1 - M; ++i)
      if (StrongPeak(g, n, i, true)) {
        out.push_back(i);
        return;
      }
    return;
  }
  if (s == -1) {
    for (int i = e - 1; i > M; --i)
      if (StrongPeak(g, n, i, false)) {
        out.push_back(i);
        return;
      }
    return;
  }
  int first = -1;
  for (int j = s; j < e;) {
    if (!StrongPeak(g, n, j, true)) {
      ++j;
      continue;
    }
    int k = j + 1;
    bool pair = false;
    for (; k <= j + 4 && k < e; ++k)
      if (StrongPeak(g, n, k, false)) {
        pair = true;
        break;
      }
    if (pair) {  // a thin line on the backing
      j = k + 1;
      continue;
    }
    if (!IsPhantomEdge(prof, n, k, colour)) {
      first = j;
      break;
    }
    ++j;
  }
  if (first < 0) return;
  int second = 0;
  for (int i = e - 1; i >= s;) {
    if (!StrongPeak(g, n, i, false)) {
      --i;
      continue;
    }
    int k = i - 1;
    bool pair = false;
    for (; k >= i - 4 && k >= s; --k)
      if (StrongPeak(g, n, k, true)) {
        pair = true;
        break;
      }
    if (pair) {
      i = k - 1;
      continue;
    }
    if (!IsPhantomEdge(prof, n, k, colour)) {
      second = i;
      break;
    }
    --i;
  }
  if (first == second) {
    out.push_back(first);
  } else if (second - first >= static_cast<int>(10 * gd1mm)) {
    out.push_back(first);
    out.push_back(second);
  }
}

void GetEdge(int n, const uint32_t* prof, int channel, int s, int e, std::vector<int>& out) {
  const int M = static_cast<int>(gd1mm * 25.4 + 0.5);
  const int stride = channel < 0 ? 1 : 3, c = channel < 0 ? 0 : channel;
  auto paper = [&](int k) {
    const uint32_t v = prof[static_cast<size_t>(k) * stride + c];
    return gbInv ? v < 65280 - guBGLvlHW : v > guBGLvlHW;
  };
  // Last index before the first run of paper that lasts; dir +1 or -1.
  auto walk = [&](int from, int limit, int dir) {
    for (int i = from; dir > 0 ? i < limit : i > limit;) {
      int k = i + dir, run = 0;
      while ((dir > 0 ? k < limit : k > limit) && paper(k) && run < gnVerticalNoiseW) {
        ++run;
        k += dir;
      }
      const bool reachedLimit = dir > 0 ? k >= limit : k <= limit;
      if (run >= gnVerticalNoiseW || (run > 0 && reachedLimit)) return i;
      i = run > 0 ? k : i + dir;
    }
    return -1;
  };
  if (s == -1 && e == -1) return;
  if (e == -1) {
    int v = walk(s, n - 1 - M, 1);
    if (v >= 0) out.push_back(v);
    return;
  }
  if (s == -1) {
    int v = walk(e - 1, M, -1);
    if (v >= 0) out.push_back(v);
    return;
  }
  int first = walk(s, e, 1);
  if (first < 0) return;
  int second = walk(e - 1, s - 1, -1);
  if (second < 0) second = 0;
  if (first == second) {
    out.push_back(first);
  } else if (second - first >= static_cast<int>(10 * gd1mm)) {
    out.push_back(first);
    out.push_back(second);
  }
}

void GetEdgeH(const _P2IIMG* img, uint32_t* ave, int32_t* grad, PointList& pts, int* doubtL, int* doubtR) {
  const bool colour = img->nBitsPerPixel == 24;
  int dl = 0, dr = 0;
  ForEachScanPosition(img->nYResolution, img->nHeight, [&](int y) {
    GetRowAve(img, y, 3, ave);
    ScanLine(ave, grad, img->nWidth, colour, true, y, pts, gvecFrameL, gvecFrameR, dl, dr);
  });
  *doubtL = dl ? 1 : 0;
  *doubtR = dr ? 1 : 0;
}

void GetEdgeV(const _P2IIMG* img, uint32_t* ave, int32_t* grad, PointList& pts, int* doubtT, int* doubtB) {
  const bool colour = img->nBitsPerPixel == 24;
  const int ch = colour ? 3 : 1, h = img->nHeight;
  std::vector<int> cols;
  ForEachScanPosition(img->nXResolution, img->nWidth, [&](int x) { cols.push_back(x); });
  // The sums of every scan column are gathered in one walk down the rows,
  // row by row (the image is read in order), then each column's profile is
  // made from them: the same values as GetClmAve.
  static std::vector<uint32_t> sums;
  const size_t nc = cols.size(), stride = nc * ch;
  sums.resize(stride * static_cast<size_t>(h));  // every element is written below
  for (int r = 0; r < h; ++r) {
    const uint8_t* row = img->pImageData + static_cast<size_t>(r) * img->nBytesPerLine;
    uint32_t* s = sums.data() + static_cast<size_t>(r) * stride;  // no columns: an empty row
    for (size_t i = 0; i < nc; ++i, s += ch) {
      const uint8_t* p = row + static_cast<size_t>(cols[i] - 1) * ch;
      for (int c = 0; c < ch; ++c) s[c] = gbyLUT4InvXf[p[c]] + gbyLUT4InvXf[p[ch + c]] + gbyLUT4InvXf[p[2 * ch + c]];
    }
  }
  int dt = 0, db = 0;
  if (h < 3) {
    for (size_t i = 0; i < nc; ++i) {
      SlideColumnSums(&sums[i * ch], h, ch, stride, ave);
      ScanLine(ave, grad, h, colour, false, cols[i], pts, gvecFrameT, gvecFrameB, dt, db);
    }
  } else {
    // The columns' profiles made a block at a time, row by row: walking the
    // sums down one column at a time missed the cache on every row.
    constexpr size_t kBlock = 128;
    static std::vector<uint32_t> profiles;
    const size_t profile = static_cast<size_t>(h) * ch;
    profiles.resize(std::min(kBlock, nc) * profile);
    for (size_t i0 = 0; i0 < nc; i0 += kBlock) {
      const size_t n = std::min(kBlock, nc - i0);
      SlideColumnBlock(&sums[i0 * ch], h, ch, stride, static_cast<int>(n), profiles.data());
      for (size_t k = 0; k < n; ++k)
        ScanLine(profiles.data() + k * profile, grad, h, colour, false, cols[i0 + k], pts, gvecFrameT, gvecFrameB, dt,
                 db);
    }
    // The caller's buffer ends holding the last column's profile, as ever.
    if (nc > 0) std::copy_n(profiles.data() + (nc - 1) % kBlock * profile, profile, ave);
  }
  *doubtT = dt ? 1 : 0;
  *doubtB = db ? 1 : 0;
}

namespace {

// Mean of channel c over [lo, hi] (inclusive).
uint64_t MeanOf(const uint32_t* prof, int stride, int c, int lo, int hi) {
  uint64_t s = 0;
  for (int k = lo; k <= hi; ++k) s += prof[static_cast<size_t>(k) * stride + c];
  return s / static_cast<uint64_t>(hi - lo + 1);
}

// One channel: no paper on from..to. `inv` mirrors the levels.
bool SolidChannel(const uint32_t* prof, const int32_t* g, int stride, int c, int n, int from, int to, bool colour,
                  bool inv) {
  if (from >= to) return true;
  auto paperMean = [&](uint64_t m) { return inv ? m < guBGLvlInv : m > guBGLvl; };
  int i = from;
  while (i < to) {
    int isMax;
    if (std::abs(g[i]) <= gnEdgeGrad || !IsPeak(g, n, i, &isMax)) {
      ++i;
      continue;
    }
    const bool falling = inv ? isMax != 0 : isMax == 0;  // paper to backing
    if (falling) {
      const int lo = std::max(i - 10, from) + 1, hi = i - 2;
      if (lo <= hi && paperMean(MeanOf(prof, stride, c, lo, hi))) return false;
      i += 2;
      continue;
    }
    const int E = std::min(i + 8, to);
    if (colour) {
      int k = i + 2, lim = std::min(i + 10, to);
      for (; k < lim; ++k)
        if (AnyStrongPeak(g, n, k)) break;
      if (k < lim) {
        i = k + 2;
        continue;
      }
      if (E <= i + 2) break;
    } else {
      if (E <= i + 2) break;
      int k = i + 2;
      for (; k < E; ++k)
        if (AnyStrongPeak(g, n, k)) break;
      if (k < E) {
        i = k + 2;
        continue;
      }
    }
    if (paperMean(MeanOf(prof, stride, c, i + 2, E - 1))) return false;
    i += 2;
  }
  const int cnt = std::min(to - from, 32);
  const uint64_t m = MeanOf(prof, stride, c, from, from + cnt - 1);
  return inv ? m >= guBGLvlInv : m <= guBGLvl;
}

}  // namespace

bool IsSolid_C1(const uint32_t* prof, const int32_t* g, int stride, int c, int n, int from, int to) {
  return SolidChannel(prof, g, stride, c, n, from, to, stride == 3, false);
}

bool IsSolid_C1_Inv(const uint32_t* prof, const int32_t* g, int stride, int c, int n, int from, int to) {
  return SolidChannel(prof, g, stride, c, n, from, to, stride == 3, true);
}

bool IsSolid(const uint32_t* prof, int32_t* grad, bool colour, int n, int from, int to) {
  const int planes = colour ? 3 : 1;
  for (int c = 0; c < planes; ++c) {
    int32_t* g = grad + static_cast<size_t>(c) * n;
    if (from > 0) g[from - 1] = g[from] = 0;
    if (to >= 0 && to < n - 1) g[to] = g[to + 1] = 0;
  }
  for (int c = 0; c < planes; ++c) {
    const int32_t* g = grad + static_cast<size_t>(c) * n;
    const bool solid =
        gbInv ? IsSolid_C1_Inv(prof, g, planes, c, n, from, to) : IsSolid_C1(prof, g, planes, c, n, from, to);
    if (!solid) return false;
  }
  return true;
}

namespace {

// The largest (or smallest) valid value among the first five and the last
// five valid entries (the first entry excluded from the backward walk).
int FrameValue(const PointList& rec, bool useY, bool largest, bool& any) {
  int best = largest ? -1 : INT_MAX;
  any = false;
  auto take = [&](const tagPOINT& p) {
    const int v = static_cast<int>(useY ? p.y : p.x);
    if (v == -1) return false;
    best = largest ? std::max(best, v) : std::min(best, v);
    any = true;
    return true;
  };
  int seen = 0;
  for (size_t i = 0; i < rec.size() && seen < 5; ++i)
    if (take(rec[i])) ++seen;
  seen = 0;
  for (size_t i = rec.size(); i-- > 1 && seen < 5;)
    if (take(rec[i])) ++seen;
  return best;
}

}  // namespace

int GetFrameL(int b) {
  bool any;
  int v = FrameValue(gvecFrameL, false, true, any);
  return any ? v + b : -1;
}

int GetFrameT(int b) {
  bool any;
  int v = FrameValue(gvecFrameT, true, true, any);
  return any ? v + b : -1;
}

int GetFrameR(int b) {
  bool any;
  int v = FrameValue(gvecFrameR, false, false, any);
  return any ? v - b : INT_MAX;
}

int GetFrameB(int b) {
  bool any;
  int v = FrameValue(gvecFrameB, true, false, any);
  return any ? v - b : INT_MAX;
}

double GetStripArea(_STRTLINE line, bool vert, const PointList& list, size_t pos, const tagPOINT* second) {
  if (pos >= list.size()) return 0;
  const tagPOINT p1 = list[pos];
  tagPOINT p2;
  if (second)
    p2 = *second;
  else if (pos + 1 < list.size())
    p2 = list[pos + 1];
  else
    return 0;
  const double x1 = static_cast<double>(p1.x), y1 = static_cast<double>(p1.y);
  const double x2 = static_cast<double>(p2.x), y2 = static_cast<double>(p2.y);
  if (vert) return std::fabs(y1 - y2) * (std::fabs(x1 - line.dX) + std::fabs(x2 - line.dX)) / 2;
  if (line.dA == 0) return std::fabs(x1 - x2) * (std::fabs(-y1 - line.dB) + std::fabs(-y2 - line.dB)) / 2;
  const double m = -1.0 / line.dA;
  tagPOINT f1{}, f2{};
  _STRTLINE q1{m, -y1 - m * x1, 0, 0}, q2{m, -y2 - m * x2, 0, 0};
  if (!GetXPt(line, q1, &f1) || !GetXPt(line, q2, &f2)) return 0;
  const double feet = std::trunc(std::hypot(static_cast<double>(f1.x - f2.x), static_cast<double>(f1.y - f2.y)));
  const double d1 = std::trunc(std::hypot(x1 - static_cast<double>(f1.x), -y1 - static_cast<double>(f1.y)));
  const double d2 = std::trunc(std::hypot(x2 - static_cast<double>(f2.x), -y2 - static_cast<double>(f2.y)));
  return feet * (d1 + d2) / 2;
}

}  // namespace fsipcrop
