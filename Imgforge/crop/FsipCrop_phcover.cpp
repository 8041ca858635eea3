// Painting found punch holes over: the paper colour round a hole, the hole
// mask and its clean-up, and the two covering methods.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FsipCrop_ph.h"

namespace fsipcrop {

namespace {

inline bool DarkC1(const uint8_t* p) { return p[0] < 64; }
inline bool DarkC3(const uint8_t* p) { return p[0] < 64 && p[1] < 64 && p[2] < 64; }

// Calls f(t pointer) for each image pixel of the ring through the lid's corners.
template <class F>
void ForRing(const _P2IIMG* img, const _PHLID& lid, int bytes, F f) {
  const int R = GetDistance(lid.ptCorner[0], lid.ptCenter);
  const int64_t cx = lid.ptCenter.x, cy = -lid.ptCenter.y;
  for (int dy = -R; dy <= R; ++dy)
    for (int dx = -R; dx <= R; ++dx) {
      const int d = static_cast<int>(std::sqrt(static_cast<float>(dx * dx + dy * dy)));
      if (std::abs(R - d) > 1) continue;
      const int64_t x = cx + dx, y = cy + dy;
      if (x < 0 || y < 0 || x >= img->nWidth || y >= img->nHeight) continue;
      f(img->pImageData + static_cast<size_t>(y) * img->nBytesPerLine + static_cast<size_t>(x) * bytes);
    }
}

template <class T>
int Fullest(const T* hist, int n) {
  int best = 0;
  for (int k = 1; k < n; ++k)
    if (hist[k] > hist[best]) best = k;
  return best;
}

// The counters are 16-bit; a ring never holds 65535 pixels of one bin in
// practice, but a huge lid must not wrap them.
inline void Bump(uint16_t& v) {
  if (v != 0xFFFF) ++v;
}

}  // namespace

void GetPHLidClr_C1(const _P2IIMG* img, _PHLID lid, uint16_t* hist, uint8_t* grey) {
  ForRing(img, lid, 1, [&](const uint8_t* p) {
    const int t = p[0];
    if (gbInv ? t <= 190 : t > 64) Bump(hist[t >> 4]);
  });
  *grey = static_cast<uint8_t>(Fullest(hist, 16) * 16 + 8);
}

void GetPHLidClr_C3(const _P2IIMG* img, _PHLID lid, uint16_t* hist, RGBQUAD* colour) {
  ForRing(img, lid, 3, [&](const uint8_t* p) {
    const bool paper = gbInv ? (p[0] <= 190 || p[1] <= 190 || p[2] <= 190) : (p[0] > 64 || p[1] > 64 || p[2] > 64);
    if (paper) Bump(hist[((p[0] >> 4) << 8) | ((p[1] >> 4) << 4) | (p[2] >> 4)]);
  });
  const int r = Fullest(hist, 4096);
  colour->rgbRed = static_cast<uint8_t>(((r >> 8) << 4) + 8);
  colour->rgbGreen = static_cast<uint8_t>((((r >> 4) & 0xF) << 4) + 8);
  colour->rgbBlue = static_cast<uint8_t>(((r & 0xF) << 4) + 8);
}

namespace {
// The 5 x 5 block without its corners and centre.
template <class F>
void ForOpening(int stride, F f) {
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      if ((dy == 0 && dx == 0) || (std::abs(dy) == 2 && std::abs(dx) == 2)) continue;
      f(dy * stride + dx);
    }
}
}  // namespace

bool MapElode5x5(const uint8_t* mask, int index, int stride) {
  bool all = true;
  ForOpening(stride, [&](int o) { all = all && mask[index + o] != 0; });
  return all;
}

void MapDilate5x5(uint8_t* mask, int index, int stride) {
  ForOpening(stride, [&](int o) { mask[index + o] = 1; });
}

void MapEdgeRecover_3x3cross(uint8_t* mask, int a, int b, int stride) {
  const int cells[4][2] = {{a, b}, {2 * a - 1, b}, {a, 2 * b - 1}, {2 * a - 1, 2 * b - 1}};
  for (const auto& c : cells) {
    const int i = c[1] * stride + c[0];
    if (mask[i - 1] && mask[i + 1] && mask[i - stride] && mask[i + stride]) mask[i] = 1;
  }
}

namespace {

template <bool (*Dark)(const uint8_t*)>
int Extend(uint8_t* mask, const uint8_t* pix, int mStep, int iStep, int mCross, int iCross, int L, int F, int B,
           bool mainFlag, bool crossFlag, int T, int c) {
  int n = 0;
  for (int k = 1; k <= L; ++k) {
    if (!Dark(pix + static_cast<ptrdiff_t>(k) * iStep)) break;
    if (k == L && mainFlag) return -1;
    mask[static_cast<ptrdiff_t>(k) * mStep] = 1;
    n = k;
  }
  if (n == 0) return 0;
  if (F > 0 && c < n) {
    for (int k = c + 1; k <= n + 1; ++k)
      for (int j = 1; j <= F; ++j) {
        const ptrdiff_t mo = static_cast<ptrdiff_t>(k) * mStep + static_cast<ptrdiff_t>(j) * mCross;
        const ptrdiff_t io = static_cast<ptrdiff_t>(k) * iStep + static_cast<ptrdiff_t>(j) * iCross;
        if (!Dark(pix + io)) break;
        if (j == F && crossFlag) return -2;
        mask[mo] = 1;
      }
  }
  if (B > 0) {
    for (int k = 1; k <= n + 1; ++k)
      for (int j = 1; j <= B; ++j) {
        const ptrdiff_t mo = static_cast<ptrdiff_t>(k) * mStep - static_cast<ptrdiff_t>(j) * mCross;
        const ptrdiff_t io = static_cast<ptrdiff_t>(k) * iStep - static_cast<ptrdiff_t>(j) * iCross;
        if (mask[mo] == 1 || !Dark(pix + io)) break;
        if (j == B && T <= B) return -4;
        mask[mo] = 1;
      }
  }
  return n;
}

}  // namespace

int ExtpandPHArea_C1(uint8_t* mask, const uint8_t* pix, int mStep, int iStep, int mCross, int iCross, int L, int F,
                     int B, bool mainFlag, bool crossFlag, int T, int c) {
  return Extend<DarkC1>(mask, pix, mStep, iStep, mCross, iCross, L, F, B, mainFlag, crossFlag, T, c);
}

int ExtpandPHArea_C3(uint8_t* mask, const uint8_t* pix, int mStep, int iStep, int mCross, int iCross, int L, int F,
                     int B, bool mainFlag, bool crossFlag, int T, int c) {
  return Extend<DarkC3>(mask, pix, mStep, iStep, mCross, iCross, L, F, B, mainFlag, crossFlag, T, c);
}

void AdjustPHLid(PHLidList* phs, double scale, int offX, int offY) {
  const double f = 1 / scale;
  auto move = [&](tagPOINT& p) {
    p.x = static_cast<int64_t>(static_cast<double>(p.x) * f - offX);
    p.y = static_cast<int64_t>(static_cast<double>(p.y) * f - offY);
  };
  for (_PHLID& l : *phs) {
    for (tagPOINT& p : l.ptCorner) move(p);
    move(l.ptCenter);
    _STRTLINE& c = l.stCntrLine;
    if (c.bVert)
      c.dX = static_cast<double>(l.ptCenter.x);
    else if (c.dA == 0)
      c.dB = static_cast<double>(l.ptCenter.y);
    else
      c.dB = static_cast<double>(l.ptCenter.y) - c.dA * static_cast<double>(l.ptCenter.x);
    l.dSizeAlong *= f;
    l.dSizeAcross *= f;
  }
}

namespace {

struct Fill {
  uint8_t v[3];
};

Fill FillFor(const _P2IIMG* img, const _PHLID& lid, uint32_t fill, std::vector<uint16_t>* hist) {
  const bool colour = img->nBitsPerPixel == 24;
  if (fill == 0x80000000u && hist && !hist->empty()) {
    std::fill(hist->begin(), hist->end(), 0);
    if (colour) {
      RGBQUAD q{};
      GetPHLidClr_C3(img, lid, hist->data(), &q);
      return {{q.rgbRed, q.rgbGreen, q.rgbBlue}};
    }
    uint8_t g = 0;
    GetPHLidClr_C1(img, lid, hist->data(), &g);
    return {{g, g, g}};
  }
  const uint8_t d = gbInv ? 0 : 255;
  return {{d, d, d}};
}

inline void Put(uint8_t* p, int bytes, const Fill& f) {
  for (int c = 0; c < bytes; ++c) p[c] = f.v[c];
}

// Lid painting of one hole: each row of the (possibly skewed) lid between
// the sides that bound it, pixels passing the dark (or light) test.
void PaintLid(_P2IIMG* img, const _PHLID& lid, const Fill& fill) {
  const int bytes = img->nBitsPerPixel == 24 ? 3 : 1;
  auto pass = [&](const uint8_t* p) {
    for (int c = 0; c < bytes; ++c)
      if (gbInv ? p[c] <= 64 : p[c] >= 192) return false;
    return true;
  };
  auto span = [&](int64_t row, int64_t x0, int64_t x1) {
    if (row < 0 || row >= img->nHeight) return;
    uint8_t* r = img->pImageData + static_cast<size_t>(row) * img->nBytesPerLine;
    for (int64_t x = std::max<int64_t>(x0, 0); x <= x1 && x < img->nWidth; ++x)
      if (pass(r + x * bytes)) Put(r + x * bytes, bytes, fill);
  };
  tagPOINT P[4];
  for (int k = 0; k < 4; ++k) P[k] = {lid.ptCorner[k].x, -lid.ptCorner[k].y};
  SortXPts(P);
  const _STRTLINE& cl = lid.stCntrLine;
  if (!cl.bVert && cl.dA != 0 && P[0].x != P[1].x && P[0].y != P[3].y && P[1].y != P[2].y && P[2].x != P[3].x) {
    auto up = [](tagPOINT p) { return tagPOINT{p.x, -p.y}; };
    _STRTLINE s03, s01, s12, s23;
    GetSLfm2Pts(up(P[0]), up(P[3]), &s03);
    GetSLfm2Pts(up(P[0]), up(P[1]), &s01);
    GetSLfm2Pts(up(P[1]), up(P[2]), &s12);
    GetSLfm2Pts(up(P[2]), up(P[3]), &s23);
    auto colAt = [](const _STRTLINE& s, int64_t row) {
      if (s.bVert) return static_cast<int64_t>(s.dX);
      return static_cast<int64_t>((-static_cast<double>(row) - s.dB) / s.dA + 0.5);
    };
    // Rows of the quadrilateral, bounded left by the sides through P0 and
    // P1 (or P3) and right by those through P2.
    int64_t top = P[0].y, bottom = P[0].y;
    for (const tagPOINT& p : P) {
      top = std::min(top, p.y);
      bottom = std::max(bottom, p.y);
    }
    const _STRTLINE* edges[4] = {&s01, &s12, &s23, &s03};
    const tagPOINT* ends[4][2] = {{&P[0], &P[1]}, {&P[1], &P[2]}, {&P[2], &P[3]}, {&P[3], &P[0]}};
    for (int64_t row = top; row <= bottom; ++row) {
      int64_t lo = INT64_MAX, hi = INT64_MIN;
      for (int e = 0; e < 4; ++e) {
        const int64_t r0 = std::min(ends[e][0]->y, ends[e][1]->y), r1 = std::max(ends[e][0]->y, ends[e][1]->y);
        if (row < r0 || row > r1 || edges[e]->dA == 0) continue;
        const int64_t c = colAt(*edges[e], row);
        lo = std::min(lo, c);
        hi = std::max(hi, c);
      }
      if (lo <= hi) span(row, lo, hi);
    }
    return;
  }
  for (int64_t row = std::min(P[0].y, P[2].y); row <= std::max(P[0].y, P[2].y); ++row)
    span(row, std::min(P[0].x, P[2].x), std::max(P[0].x, P[2].x));
}

// Steps from (c, r) in direction (dx, dy) that stay inside a w x h image.
int64_t Room(int64_t c, int64_t r, int dx, int dy, int w, int h) {
  if (dx) return dx > 0 ? w - 1 - c : c;
  return dy > 0 ? h - 1 - r : r;
}

// The shape method of one hole: true when it was painted.
bool PaintShape(_P2IIMG* img, const _PHLID& lid, const Fill& fill) {
  const bool colour = img->nBitsPerPixel == 24;
  const int bytes = colour ? 3 : 1;
  auto dark = [&](const uint8_t* p) { return colour ? DarkC3(p) : DarkC1(p); };
  int64_t minx = INT64_MAX, maxx = INT64_MIN, miny = INT64_MAX, maxy = INT64_MIN;
  for (const tagPOINT& p : lid.ptCorner) {
    minx = std::min(minx, p.x);
    maxx = std::max(maxx, p.x);
    miny = std::min(miny, -p.y);
    maxy = std::max(maxy, -p.y);
  }
  const int64_t w64 = maxx - minx + 1, h64 = maxy - miny + 1;
  if (w64 <= 0 || h64 <= 0 || w64 > 4096 || h64 > 4096) return false;
  const int w = static_cast<int>(w64), h = static_cast<int>(h64), W = 3 * w, H = 3 * h;
  std::vector<uint8_t> win, copy;
  try {
    win.assign(static_cast<size_t>(W) * H, 0);
    copy.assign(win.size(), 0);
  } catch (...) {
    return false;
  }
  const int iw = img->nWidth, ih = img->nHeight, bpl = img->nBytesPerLine;
  auto at = [&](int wc, int wr) { return static_cast<size_t>(wr) * W + wc; };
  auto pix = [&](int64_t c, int64_t r) { return img->pImageData + static_cast<size_t>(r) * bpl + c * bytes; };
  auto inImg = [&](int64_t c, int64_t r) { return c >= 0 && r >= 0 && c < iw && r < ih; };
  // Dark pixels of the box.
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      if (inImg(minx + c, miny + r) && dark(pix(minx + c, miny + r))) win[at(w + c, h + r)] = 1;
  // Opening: erode into the copy, then dilate back.
  copy = win;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const size_t i = at(w + c, h + r);
      if (win[i]) copy[i] = MapElode5x5(win.data(), static_cast<int>(i), W) ? 1 : 0;
    }
  win = copy;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const size_t i = at(w + c, h + r);
      if (copy[i]) MapDilate5x5(win.data(), static_cast<int>(i), W);
    }
  // Crossings of the box border.
  int crossings = 0, hold = 0;
  uint8_t prev = win[at(w, h)];
  auto step = [&](int c, int r) {
    hold = std::max(hold - 1, 0);
    const uint8_t v = win[at(w + c, h + r)];
    if (!prev && v) {
      if (hold == 0) ++crossings;
      hold = 10;
    }
    prev = v;
  };
  for (int r = 1; r < h; ++r) step(0, r);
  for (int c = 1; c < w; ++c) step(c, h - 1);
  for (int r = h - 2; r >= 0; --r) step(w - 1, r);
  for (int c = w - 2; c >= 0; --c) step(c, 0);
  if (crossings > 3) return false;
  auto compact = [&](int c0, int r0, int cw, int rh) {
    int64_t a = 0, b = 0;
    for (int r = r0; r < r0 + rh; ++r)
      for (int c = c0; c < c0 + cw; ++c) {
        if (!win[at(c, r)]) continue;
        ++a;
        auto off = [&](int cc, int rr) { return cc < 0 || rr < 0 || cc >= W || rr >= H || !win[at(cc, rr)]; };
        if (off(c - 1, r) || off(c + 1, r) || off(c, r - 1) || off(c, r + 1)) ++b;
      }
    return a > 0 && static_cast<double>(b) / static_cast<double>(a) <= 4.7 / std::sqrt(static_cast<double>(a));
  };
  if (!compact(w, h, w, h)) return false;
  int64_t p0c = minx, p0r = miny;
  int pw = w, ph = h, wc0 = w, wr0 = h;
  if (crossings == 0) {
    copy = win;
    for (int r = 2; r <= h - 3; ++r)
      for (int c = 2; c <= w - 3; ++c)
        if (copy[at(w + c, h + r)]) MapDilate5x5(win.data(), static_cast<int>(at(w + c, h + r)), W);
  } else {
    // Extend outward from each side of the box, walking the sides in turn.
    const int64_t gaps[4] = {minx, ih - 1 - maxy, iw - 1 - maxx, miny};
    const int64_t crossGaps[4] = {miny, minx, ih - 1 - maxy, iw - 1 - maxx};
    const int64_t walkGaps[4] = {ih - 1 - miny, iw - 1 - minx, maxy, maxx};
    for (int side = 0; side < 4; ++side) {
      const bool vertSide = side == 0 || side == 2;
      const int s = vertSide ? w : h, s2 = vertSide ? h : w;
      // Main (outward) and cross (against the walk) steps: dx, dy.
      static const int kMain[4][2] = {{-1, 0}, {0, 1}, {1, 0}, {0, -1}};
      static const int kCross[4][2] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}};
      const int64_t g = gaps[side], g2 = crossGaps[side];
      const int L = g < 2 ? 0 : static_cast<int>(std::min<int64_t>(g, s) - 2);
      const bool mainFlag = g >= s;
      const int e = g2 <= 1 ? -1 : (g2 < s2 ? static_cast<int>(g2 - 3) : s2 - 3);
      const bool crossFlag = g2 > 1 && g2 >= s2;
      const int T = s2 - 2;
      const int mStep = kMain[side][1] * W + kMain[side][0];
      const int iStep = kMain[side][1] * bpl + kMain[side][0] * bytes;
      const int mCross = kCross[side][1] * W + kCross[side][0];
      const int iCross = kCross[side][1] * bpl + kCross[side][0] * bytes;
      int prevRes = 0;
      for (int k = 0; k < s2; ++k) {
        int bc, br;  // box column and row of the k-th seed
        switch (side) {
          case 0: bc = 0; br = k; break;
          case 1: bc = k; br = h - 1; break;
          case 2: bc = w - 1; br = h - 1 - k; break;
          default: bc = w - 1 - k; br = 0; break;
        }
        const size_t mi = at(w + bc, h + br);
        if (!win[mi] || L < 1) {
          prevRes = 0;
          continue;
        }
        const int64_t ic = minx + bc, ir = miny + br;
        if (!inImg(ic, ir)) {
          prevRes = 0;
          continue;
        }
        int F = k + 1 + e;
        int B = static_cast<int>(std::min<int64_t>(2 * (s2 - 1), walkGaps[side] - 2)) - k;
        // A box that reaches past the image's edge would walk off it across
        // the side: a pixel outside is light, so the walk stops there, and
        // neither walk ends it as if it had come to its full length.
        bool cross = crossFlag;
        int t = T;
        const int64_t ahead = Room(ic, ir, kCross[side][0], kCross[side][1], iw, ih);
        const int64_t behind = Room(ic, ir, -kCross[side][0], -kCross[side][1], iw, ih);
        if (F > ahead) F = static_cast<int>(ahead), cross = false;
        if (B > behind) B = static_cast<int>(behind), t = B + 1;
        const int res = colour ? ExtpandPHArea_C3(&win[mi], pix(ic, ir), mStep, iStep, mCross, iCross, L, F, B,
                                                  mainFlag, cross, t, prevRes)
                               : ExtpandPHArea_C1(&win[mi], pix(ic, ir), mStep, iStep, mCross, iCross, L, F, B,
                                                  mainFlag, cross, t, prevRes);
        if (res < 0) return false;
        prevRes = res;
      }
    }
    if (!compact(0, 0, W, H)) return false;
    MapEdgeRecover_3x3cross(win.data(), w, h, W);
    copy = win;
    for (int r = 2; r <= H - 3; ++r)
      for (int c = 2; c <= W - 3; ++c)
        if (copy[at(c, r)]) MapDilate5x5(win.data(), static_cast<int>(at(c, r)), W);
    p0c = minx - w;
    p0r = miny - h;
    pw = W;
    ph = H;
    wc0 = 0;
    wr0 = 0;
  }
  for (int r = 0; r < ph; ++r)
    for (int c = 0; c < pw; ++c)
      if (win[at(wc0 + c, wr0 + r)] && inImg(p0c + c, p0r + r)) Put(pix(p0c + c, p0r + r), bytes, fill);
  return true;
}

void PaintLids(_P2IIMG* img, const PHLidList* phs, uint32_t fill, int* result, std::vector<uint16_t>* hist) {
  for (const _PHLID& l : *phs) PaintLid(img, l, FillFor(img, l, fill, hist));
  if (!gbInv && result) *result = phs->empty() ? 2 : 1;
}

std::vector<uint16_t> Histogram(const _P2IIMG* img, uint32_t fill) {
  std::vector<uint16_t> hist;
  if (fill == 0x80000000u) {
    try {
      hist.assign(img->nBitsPerPixel == 24 ? 4096 : 16, 0);
    } catch (...) {
      hist.clear();
    }
  }
  return hist;
}

}  // namespace

void CoverPHs_C3(_P2IIMG* img, const PHLidList* phs, uint32_t fill, int* result) {
  std::vector<uint16_t> hist = Histogram(img, fill);
  PaintLids(img, phs, fill, result, &hist);
}

void CoverPHs(_P2IIMG* img, const PHLidList* phs, uint32_t fill, int nPHMode, int* result) {
  int res = 0;
  std::vector<uint16_t> hist = Histogram(img, fill);
  if (gbInv) {
    PaintLids(img, phs, fill, nullptr, &hist);
  } else if ((nPHMode & 0xF) == 1) {
    if (img->nBitsPerPixel == 24)
      CoverPHs_C3(img, phs, fill, &res);
    else
      PaintLids(img, phs, fill, &res, &hist);
  } else {
    res = 2;
    for (const _PHLID& l : *phs)
      if (PaintShape(img, l, FillFor(img, l, fill, &hist))) res = 1;
  }
  if (result) *result = res;
}

}  // namespace fsipcrop
