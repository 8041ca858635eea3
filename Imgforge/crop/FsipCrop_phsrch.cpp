// Punch-hole candidates on one search line's profile, and the measured
// hole (lid) around each candidate.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "FsipCrop_ph.h"

namespace fsipcrop {

namespace {

constexpr int32_t kStrongEdge = 0x2000;
constexpr int32_t kFlat = 0x500;

// A strong edge at k of one gradient plane; *rising tells its direction.
bool StrongEdge(const int32_t* g, int n, int k, bool* rising) {
  // The magnitude first: it rules out nearly every sample at once.
  if (k < 0 || k >= n || std::abs(g[k]) <= kStrongEdge) return false;
  int isMax = 0;
  if (!IsPeak(g, n, k, &isMax)) return false;
  *rising = isMax != 0;
  return true;
}

// The plateau rule: the limit and whether values must be at least it.
struct Plateau {
  uint32_t limit;
  bool atLeast;
  bool Meets(uint32_t v) const { return atLeast ? v >= limit : v <= limit; }
};

Plateau PlateauOf(bool colour, int nPHMode, bool adf) {
  const int kind = nPHMode & 0xF;
  const bool light = ((nPHMode >> 8) & 0xF) == 2;
  if (gbInv) {
    if (colour) return {kind == 1 ? 0xC000u : 0xF500u, true};
    return {kind == 0 ? 0xF500u : 0xC000u, true};
  }
  if (kind == 1) return {light ? 0x2B00u : 0x4000u, false};
  if (colour) {
    if (light) return {0x1500, false};
    return {adf ? 0x0A00u : 0x1900u, false};
  }
  if (!adf) return {0x1900, false};
  return {light ? 0x1500u : 0x0A00u, false};
}

// The flat/steep state machine over `planes` gradient planes of n values.
int FlatScan(const int32_t* const* planes, int nPlanes, int n, int i, int j, int* flatStart, int* steepStart) {
  auto flatAt = [&](int k) {
    if (k < 0 || k >= n) return true;
    for (int p = 0; p < nPlanes; ++p)
      if (std::abs(planes[p][k]) > kFlat) return false;
    return true;
  };
  bool flat = flatAt(i + 1);
  int flats = 0, steeps = 0;
  for (int k = i + 2; k < j - 1; ++k) {
    const bool f = flatAt(k);
    if (f && !flat) {
      if (flats++ == 0) *flatStart = k;
    } else if (!f && flat) {
      if (steeps++ == 0) *steepStart = k;
    }
    flat = f;
  }
  return flats == 1 && steeps == 1 ? 1 : 0;
}

// Smooths i..j-1 with the 5-tap mean (reads kept inside the profile), takes
// the smoothed gradient, and runs the flatness and dark-run tests.
int StableRun(const _PHCLUE2& c, int i, int j, Plateau plateau) {
  const int ch = c.bColor ? 3 : 1, n = c.nLen;
  if (n <= 0) return 0;
  for (int k = std::max(i, 0); k < j && k < n; ++k)
    for (int q = 0; q < ch; ++q) {
      uint32_t s = 0;
      for (int d = -2; d <= 2; ++d) s += c.pdwAve[static_cast<size_t>(std::clamp(k + d, 0, n - 1)) * ch + q];
      c.pdwSmooth[static_cast<size_t>(k) * ch + q] = s / 5;
    }
  // Only i-1 .. j of the smoothed gradient is read, and only i-2 .. j+1 of
  // the smoothed profile feeds it.
  GetGradRange(c.pdwSmooth, n, c.bColor != 0, i - 1, j, c.pnSmoothGrad);
  int F = 0, S = 0;
  int ok;
  if (c.bColor)
    ok = IsStable_AC(i, j, c.pnSmoothGrad, c.pnSmoothGrad + n, c.pnSmoothGrad + 2 * static_cast<size_t>(n), &F, &S);
  else {
    const int32_t* planes[1] = {c.pnSmoothGrad};
    ok = FlatScan(planes, 1, n, i, j, &F, &S);
  }
  if (!ok || F >= S) return 0;
  for (int k = F; k < S; ++k)
    for (int q = 0; q < ch; ++q)
      if (!plateau.Meets(c.pdwAve[static_cast<size_t>(k) * ch + q])) return 0;
  return 1;
}

}  // namespace

void GetGradRange(const uint32_t* p, int n, bool colour, int from, int to, int32_t* g) {
  if (n <= 0) return;
  from = std::max(from, 0);
  to = std::min(to, n - 1);
  const int ch = colour ? 3 : 1;
  for (int c = 0; c < ch; ++c) {
    int32_t* plane = g + static_cast<size_t>(c) * n;
    for (int k = from; k <= to; ++k)
      plane[k] = (k == 0 || k == n - 1) ? 0
                                        : static_cast<int32_t>(p[static_cast<size_t>(k + 1) * ch + c]) -
                                              static_cast<int32_t>(p[static_cast<size_t>(k - 1) * ch + c]);
  }
}

int GetDistance(tagPOINT a, tagPOINT b) {
  const int64_t dx = b.x - a.x, dy = b.y - a.y;
  return static_cast<int>(std::sqrt(static_cast<double>(dx * dx) + static_cast<double>(dy * dy)) + 0.5);
}

void CombinePHLidList(std::vector<PHLidList*>& lists, PHLidList* out) {
  for (PHLidList* l : lists) {
    out->insert(out->end(), l->begin(), l->end());
    l->clear();
    delete l;
  }
}

int IsStable_AC(int i, int j, const int32_t* r, const int32_t* g, const int32_t* b, int* flatStart, int* steepStart) {
  const int32_t* planes[3] = {r, g, b};
  // The planes' own length is not known here; the run lies inside them.
  return FlatScan(planes, 3, j + 2, i, j, flatStart, steepStart);
}

int IsStable(_PHCLUE2 clue, int i, int j, int limit) {
  return StableRun(clue, i, j, Plateau{static_cast<uint32_t>(limit), false});
}

int IsStable(_PHCLUE2 clue, int i, int j, int kind, bool /*flag*/) {
  const int saved = gbInv;
  gbInv = 1;
  const Plateau p = PlateauOf(clue.bColor != 0, kind, false);
  gbInv = saved;
  return StableRun(clue, i, j, p);
}

void FindPHCnddts(_PHCLUE2 c, CnddtList* out, int nPHMode, bool bADF) {
  const int n = c.nLen;
  const int planes = c.bColor ? 3 : 1;
  const bool opensRising = gbInv != 0;
  const Plateau plateau = PlateauOf(c.bColor != 0, nPHMode, bADF);
  auto plane = [&](int p) { return c.pnGrad + static_cast<size_t>(p) * n; };
  static const int kOrder[3][3] = {{0, 1, 2}, {1, 0, 2}, {2, 1, 0}};
  int i = c.nStart + 1;
  while (i < c.nEnd) {
    int lead = -1;
    bool rising = false;
    for (int p = 0; p < planes && lead < 0; ++p)
      if (StrongEdge(plane(p), n, i, &rising) && rising == opensRising) lead = p;
    if (lead < 0) {
      ++i;
      continue;
    }
    if (i + 1 >= c.nEnd) return;
    int j = i + 1;
    bool closeRising = false, found = false;
    for (; j < c.nEnd && !found; ++j) {
      for (int q = 0; q < planes && !found; ++q) {
        const int p = planes == 1 ? 0 : kOrder[lead][q];
        if (p != lead && j < i + 2) continue;
        found = StrongEdge(plane(p), n, j, &closeRising);
      }
      if (found) break;
    }
    if (!found) return;
    const int ext = static_cast<int>((j - i) * c.dScale);
    if (closeRising != opensRising && ext >= c.nMinSize && ext <= c.nMaxSize && StableRun(c, i, j, plateau))
      out->push_back({i, j});
    i = j;
  }
}

// ---- lid measurement ----

namespace {

// One measuring line: sampled by row or by column over [lo, hi].
struct Probe {
  _STRTLINE line;
  bool byRow;
  int lo, hi;
  double step;  // pixels per sample along the line
};

// y (up) of a non-vertical line at column x; x of a line at y (up).
double YAt(const _STRTLINE& l, double x) { return l.dA * x + l.dB; }
double XAt(const _STRTLINE& l, double y) { return l.bVert ? l.dX : (y - l.dB) / l.dA; }

Probe MakeProbe(const _STRTLINE& line, int centreAlongX, int centreAlongRow, int r) {
  Probe p{line, false, 0, 0, 1.0};
  if (line.bVert) {
    p.byRow = true;
    p.lo = centreAlongRow - r;
    p.hi = centreAlongRow + r;
  } else if (line.dA == 0) {
    p.lo = centreAlongX - r;
    p.hi = centreAlongX + r;
  } else {
    const double t = std::fabs(std::atan(line.dA));
    if (std::fabs(line.dA) < 1) {
      const int h = static_cast<int>(std::cos(t) * r + 0.5);
      p.lo = centreAlongX - h;
      p.hi = centreAlongX + h;
      p.step = 1 / std::cos(t);
    } else {
      const int h = static_cast<int>(std::sin(t) * r + 0.5);
      p.byRow = true;
      p.lo = centreAlongRow - h;
      p.hi = centreAlongRow + h;
      p.step = 1 / std::sin(t);
    }
  }
  return p;
}

// Samples the probe into the clue's buffers and finds the two edges round
// `start`; false when either scan runs to its end or both meet.
bool Edges(const _P2IIMG* img, _PHCLUE2& c, const Probe& p, int start, int* k1, int* k2) {
  const int n = c.nLen;
  int first = std::max(p.lo, 0), last = std::min(p.hi, n - 1);
  if (first > last) return false;
  // GetAveOnSL walks columns for a flat line and rows for a steep one; a
  // line of slope exactly 1 is sampled by row here, so hand it a steep twin.
  _STRTLINE line = p.line;
  if (p.byRow && !line.bVert && std::fabs(line.dA) <= 1) line.dA = std::nextafter(line.dA, line.dA * 2);
  if (!p.byRow && std::fabs(line.dA) > 1) return false;
  GetAveOnSL(img, 3, &first, &last, c.pdwAve, line);
  if (first < 0 || start < first || start > last) return false;
  GetGradRange(c.pdwAve, n, c.bColor != 0, first - 2, last + 2, c.pnGrad);
  const int planes = c.bColor ? 3 : 1;
  auto strong = [&](int k) {
    bool rising;
    for (int q = 0; q < planes; ++q)
      if (StrongEdge(c.pnGrad + static_cast<size_t>(q) * n, n, k, &rising)) return true;
    return false;
  };
  int a = start;
  while (a > first && !strong(a)) --a;
  if (a <= first) return false;
  int b = start;
  while (b < last && !strong(b)) ++b;
  if (b >= last || a == b) return false;
  *k1 = a;
  *k2 = b;
  return true;
}

// The point of the probe's line at sample position k (rounded), y up.
tagPOINT OnProbe(const Probe& p, double k) {
  if (p.byRow) {
    const double y = -k;
    return {static_cast<int64_t>(XAt(p.line, y) + 0.5), static_cast<int64_t>(y)};
  }
  return {static_cast<int64_t>(k), static_cast<int64_t>(YAt(p.line, k) + 0.5)};
}

// The two moved ends of a measurement.
void MovedEnds(const Probe& p, int k1, int k2, tagPOINT* e1, tagPOINT* e2) {
  if (p.byRow) {
    *e1 = OnProbe(p, k1 - 4);
    *e2 = OnProbe(p, k2 + 4);
  } else {
    *e1 = {k1 - 4, static_cast<int64_t>(YAt(p.line, k1) + 0.5)};
    *e2 = {k2 + 4, static_cast<int64_t>(YAt(p.line, k2) + 0.5)};
  }
}

_STRTLINE Parallel(const _STRTLINE& s, tagPOINT p) {
  if (s.bVert) return {0, 0, 1, static_cast<double>(p.x)};
  return {s.dA, static_cast<double>(p.y) - s.dA * static_cast<double>(p.x), 0, 0};
}

_STRTLINE Perpendicular(const _STRTLINE& s, tagPOINT p) {
  if (s.bVert) return {0, static_cast<double>(p.y), 0, 0};
  if (s.dA == 0) return {0, 0, 1, static_cast<double>(p.x)};
  const double a = -1 / s.dA;
  return {a, static_cast<double>(p.y) - a * static_cast<double>(p.x), 0, 0};
}

}  // namespace

bool IsPHSizeOk(double across, double along, int kind) {
  auto aspect = [&] {
    const double big = std::max(across, along);
    double small = std::min(across, along);
    if (small == 0) small = 0.1;
    return big / small <= 2.2;
  };
  switch (kind) {
    case 0:
      return across >= 3.2 && across <= 12.5 && along >= 3.2 && along <= 12.5 && aspect();
    case 1:
      return across >= 2.0 && along <= 12.0 && along != 0 && across / along <= 1.5;
    case 2:
      return across >= 2.5 && across <= 14.0 && along >= 2.5 && along <= 14.0 && aspect();
    default:
      return across >= 2.0 && along <= 12.0 && aspect();
  }
}

namespace {

int MeasureLid(const _P2IIMG* img, tagPOINT pt, _PHCLUE2 c, _PHLID* lid, int nPHMode) {
  *lid = {};
  const double dpi = img->nXResolution;
  if (dpi <= 0) return 0;
  const int r = static_cast<int>(10 * gd1mm + 0.5);
  const _STRTLINE& s = c.stLine;
  const tagPOINT up{pt.x, -pt.y};
  // Across the side.
  const _STRTLINE across = Perpendicular(s, up);
  const Probe pa = MakeProbe(across, static_cast<int>(pt.x), static_cast<int>(pt.y), r);
  int k1, k2;
  if (!Edges(img, c, pa, pa.byRow ? static_cast<int>(pt.y) : static_cast<int>(pt.x), &k1, &k2)) return 0;
  lid->dSizeAcross = (k2 - k1) * pa.step * 25.4 / dpi;
  const tagPOINT mid = OnProbe(pa, (k1 + k2) >> 1);
  tagPOINT a1, a2;
  MovedEnds(pa, k1, k2, &a1, &a2);
  // Along the side, through the centre found across it.
  _STRTLINE along = s;
  if (s.bVert)
    along.dX = static_cast<double>(mid.x);
  else if (s.dA == 0)
    along.dB = static_cast<double>(mid.y);
  else
    along.dB = static_cast<double>(static_cast<int64_t>(static_cast<double>(mid.y) - mid.x * s.dA + 0.5));
  lid->stCntrLine = along;
  const Probe pl = MakeProbe(along, static_cast<int>(mid.x), static_cast<int>(-mid.y), r);
  int m1, m2;
  if (!Edges(img, c, pl, pl.byRow ? static_cast<int>(pt.y) : static_cast<int>(pt.x), &m1, &m2)) return 0;
  lid->dSizeAlong = (m2 - m1) * pl.step * 25.4 / dpi;
  lid->ptCenter = OnProbe(pl, (m1 + m2) >> 1);
  if (s.bVert) lid->ptCenter.x = mid.x;
  tagPOINT b1, b2;
  MovedEnds(pl, m1, m2, &b1, &b2);
  if (!IsPHSizeOk(lid->dSizeAcross, lid->dSizeAlong, nPHMode & 0xF)) return 0;
  // The lid: parallels to the side through the across ends, perpendiculars
  // through the along ends, named by where they lie.
  const bool steep = IsSteep(s);
  _STRTLINE pa1 = Parallel(s, a1), pa2 = Parallel(s, a2), pb1 = Perpendicular(s, b1), pb2 = Perpendicular(s, b2);
  _STRTLINE L, R, B, T;
  if (steep) {
    const bool firstLeft = a1.x <= a2.x;
    L = firstLeft ? pa1 : pa2;
    R = firstLeft ? pa2 : pa1;
    const bool firstLow = b1.y <= b2.y;
    B = firstLow ? pb1 : pb2;
    T = firstLow ? pb2 : pb1;
  } else {
    const bool firstLeft = b1.x <= b2.x;
    L = firstLeft ? pb1 : pb2;
    R = firstLeft ? pb2 : pb1;
    const bool firstLow = a1.y <= a2.y;
    B = firstLow ? pa1 : pa2;
    T = firstLow ? pa2 : pa1;
  }
  if (!GetXPt(L, B, &lid->ptCorner[0]) || !GetXPt(L, T, &lid->ptCorner[1]) || !GetXPt(R, B, &lid->ptCorner[2]) ||
      !GetXPt(R, T, &lid->ptCorner[3]))
    return 0;
  return 1;
}

}  // namespace

int GetPHLid_C1(const _P2IIMG* img, tagPOINT pt, _PHCLUE2 clue, _PHCNDDT, _PHLID* lid, int nPHMode) {
  clue.bColor = 0;
  return MeasureLid(img, pt, clue, lid, nPHMode);
}

int GetPHLid_C3(const _P2IIMG* img, tagPOINT pt, _PHCLUE2 clue, _PHCNDDT, _PHLID* lid, int nPHMode) {
  clue.bColor = 1;
  return MeasureLid(img, pt, clue, lid, nPHMode);
}

void ScrnPHCnddts(const _P2IIMG* img, _PHCLUE2 c, int bSampleByX, int bPattern, const CnddtList* cands,
                  PHLidList* out, int nPHMode) {
  out->clear();
  const _STRTLINE& s = c.stLine;
  for (const _PHCNDDT& cd : *cands) {
    const int m = (cd.nStart + cd.nEnd) >> 1;
    tagPOINT pt;
    if (bSampleByX)
      pt = {m, s.dA == 0 ? -static_cast<int64_t>(s.dB + 0.5) : -static_cast<int64_t>(m * s.dA + s.dB + 0.5)};
    else
      pt = {s.bVert ? static_cast<int64_t>(s.dX + 0.5) : static_cast<int64_t>((-m - s.dB) / s.dA + 0.5), m};
    _PHLID lid;
    const int ok = c.bColor ? GetPHLid_C3(img, pt, c, cd, &lid, nPHMode) : GetPHLid_C1(img, pt, c, cd, &lid, nPHMode);
    if (ok) out->push_back(lid);
  }
  ScreenPHLids(out, bPattern);
}

void ScreenPHLids(PHLidList* out, int bPattern) {
  // Lids whose size stands out from the line's others go; the sizes sit in
  // a table as long as the list, however many lids one line yields.
  for (int pass = 0; pass < 2; ++pass) {
    const size_t need = bPattern ? 2 : 1;
    if (out->size() < need) return;
    std::vector<int> v;
    v.reserve(out->size());
    int64_t sum = 0;
    for (const _PHLID& l : *out) {
      v.push_back(static_cast<int>((pass == 0 ? l.dSizeAlong : l.dSizeAcross) + 0.5));
      sum += v.back();
    }
    const int64_t mean = sum / static_cast<int64_t>(v.size());
    const int tol = static_cast<int>(gd1mm);
    size_t k = 0;
    for (auto it = out->begin(); it != out->end(); ++k) {
      if (std::llabs(v[k] - mean) > tol)
        it = out->erase(it);
      else
        ++it;
    }
  }
}

bool PtInSkewRect(const _STRTLINE* l, tagPOINT pt) {
  const double x = static_cast<double>(pt.x), y = static_cast<double>(pt.y);
  if (!l[0].bVert && l[0].dA != 0) {
    const double v = y - l[0].dA * x, w = y - l[3].dA * x;
    return l[2].dB <= v && v <= l[0].dB && l[1].dB <= w && w <= l[3].dB;
  }
  tagPOINT tl, br;
  if (!GetXPt(l[3], l[0], &tl) || !GetXPt(l[1], l[2], &br)) return false;
  return tl.x <= pt.x && pt.x <= br.x && -tl.y <= -pt.y && -pt.y <= -br.y;
}

int IsOppSideWhite(const _P2IIMG* img, _PHLID lid) {
  tagPOINT c[4];
  for (int k = 0; k < 4; ++k) c[k] = {lid.ptCorner[k].x, -lid.ptCorner[k].y};
  SortXPts(c);  // top-left, bottom-left, bottom-right, top-right
  _STRTLINE sides[4];
  for (int k = 0; k < 4; ++k) {
    const tagPOINT p = c[k], q = c[(k + 1) & 3];
    GetSLfm2Pts({p.x, -p.y}, {q.x, -q.y}, &sides[k]);
  }
  const int64_t x0 = std::min(c[0].x, c[1].x), x1 = std::max(c[2].x, c[3].x);
  const int64_t y0 = std::min(c[0].y, c[3].y), y1 = std::max(c[1].y, c[2].y);
  const bool colour = img->nBitsPerPixel == 24;
  int64_t counted = 0, light = 0;
  for (int64_t y = std::max<int64_t>(y0, 0); y <= y1 && y < img->nHeight; ++y) {
    const uint8_t* row = img->pImageData + static_cast<size_t>(y) * img->nBytesPerLine;
    for (int64_t x = std::max<int64_t>(x0, 0); x <= x1 && x < img->nWidth; ++x) {
      if (!PtInSkewRect(sides, {x, -y})) continue;
      ++counted;
      bool isLight;
      if (colour) {
        const uint8_t* p = row + x * 3;
        isLight = gbInv ? (p[0] < 128 || p[1] < 128 || p[2] < 128) : (p[0] > 128 || p[1] > 128 || p[2] > 128);
      } else {
        isLight = gbInv ? row[x] < 128 : row[x] > 128;
      }
      if (isLight) ++light;
    }
  }
  if (counted == 0) return 0;
  return static_cast<double>(light) / static_cast<double>(counted) >= 0.8 ? 1 : 0;
}

}  // namespace fsipcrop
