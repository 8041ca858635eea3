// Lines, crossings, corners and rectangles of the main crop engine. Lines
// live in the y-up frame: x = column, y = -row.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FsipCrop.h"

namespace fsipcrop {

namespace {
constexpr double kPi = 3.141592654;
constexpr double kHalfPi = 1.570796327;
constexpr double kQuarterPi = 0.7853981635;
// No page of any scanner reaches this far; a crossing beyond it comes from
// (near-)parallel lines and is no corner.
constexpr double kFarAway = 1e8;
}  // namespace

_SINCOS* gpSinCos = nullptr;

int64_t RoundHalfAway(double v) { return v < 0 ? static_cast<int64_t>(v - 0.5) : static_cast<int64_t>(v + 0.5); }

int MakeSinCosTbl(_SINCOS** table) {
  auto* t = static_cast<_SINCOS*>(calloc(1801, sizeof(_SINCOS)));
  *table = t;
  if (!t) return 0;
  t[0] = {0.0, 1.0};
  for (int j = 1; j <= 1800; ++j) {
    double r = j * kPi / 1800;
    t[j] = {std::sin(r), std::cos(r)};
  }
  return 1;
}

void FreeSinCosTbl(_SINCOS* table) { free(table); }

int Initialize() {
  if (!gpSinCos) MakeSinCosTbl(&gpSinCos);
  return gpSinCos ? 1 : 0;
}

void Uninitialize() {
  FreeSinCosTbl(gpSinCos);
  gpSinCos = nullptr;
}

namespace {
// A library unloaded before the control layer freed the table gives it back.
struct TableOwner {
  ~TableOwner() { Uninitialize(); }
} gTableOwner;
}  // namespace

void SetHoughRslt(_STRTLINE* lines, double* aux1, double* aux2, double* aux3, int n, _HOUGHRSLT* out) {
  *out = {lines, aux1, aux2, aux3, n, 0};
}

void SetChkTabPrm(uint32_t* ave, int32_t* grad, int len, _STRTLINE* lines, _STRTLINE* tabLines, _CHKTABPRM* out) {
  *out = {ave, grad, len, 0, lines, tabLines};
}

void GetSLfm2Pts(tagPOINT p1, tagPOINT p2, _STRTLINE* out) {
  if (p1.x == p2.x) {
    *out = {0.0, 0.0, 1, static_cast<double>(p1.x)};
    return;
  }
  double a = static_cast<double>(p1.y - p2.y) / static_cast<double>(p1.x - p2.x);
  *out = {a, static_cast<double>(p1.y) - a * static_cast<double>(p1.x), 0, 0.0};
}

bool GetXPt(_STRTLINE l1, _STRTLINE l2, _ACCPT* out) {
  double x, y;
  if (l1.bVert) {
    if (l2.bVert) return false;
    x = l1.dX;
    y = l2.dA * x + l2.dB;
  } else if (l1.dA == 0) {
    if (l2.bVert) {
      x = l2.dX;
    } else {
      if (l2.dA == 0) return false;
      x = (l1.dB - l2.dB) / l2.dA;
    }
    y = l1.dB;
  } else if (l2.bVert) {
    x = l2.dX;
    y = l1.dB + l1.dA * x;
  } else {
    if (l1.dA == l2.dA) return false;
    x = (l2.dB - l1.dB) / (l1.dA - l2.dA);
    y = l2.dA * x + l2.dB;
  }
  if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > kFarAway || std::fabs(y) > kFarAway) return false;
  *out = {x, y};
  return true;
}

bool GetXPt(_STRTLINE l1, _STRTLINE l2, tagPOINT* out) {
  _ACCPT p;
  if (!GetXPt(l1, l2, &p)) return false;
  *out = {RoundHalfAway(p.dX), RoundHalfAway(p.dY)};
  return true;
}

bool IsSteep(const _STRTLINE& l) { return l.bVert || std::fabs(l.dA) > 1; }

double LineAngle(const _STRTLINE& l) {
  if (l.bVert) return kHalfPi;
  if (l.dA == 0) return 0;
  return std::atan(l.dA);
}

bool GetAllXPts4(const _STRTLINE* lines, tagPOINT* out) {
  bool steep0 = IsSteep(lines[0]);
  int partner = -1;
  for (int i = 1; i < 4 && partner < 0; ++i)
    if (IsSteep(lines[i]) == steep0) partner = i;
  if (partner < 0) return false;
  int others[2], k = 0;
  for (int i = 1; i < 4; ++i)
    if (i != partner) others[k++] = i;
  tagPOINT p[4];
  if (!GetXPt(lines[0], lines[others[0]], &p[0]) || !GetXPt(lines[0], lines[others[1]], &p[1]) ||
      !GetXPt(lines[partner], lines[others[0]], &p[2]) || !GetXPt(lines[partner], lines[others[1]], &p[3]))
    return false;
  std::copy(p, p + 4, out);
  return true;
}

double GetDistance(tagPOINT pt, _STRTLINE line) {
  double px = static_cast<double>(pt.x), py = -static_cast<double>(pt.y);
  if (line.bVert) return std::fabs(px - line.dX);
  if (line.dA == 0) return std::fabs(py - line.dB);
  double m = -1.0 / line.dA;
  _STRTLINE perp{m, py - m * px, 0, 0.0};
  tagPOINT foot{};
  if (!GetXPt(line, perp, &foot)) return 0;
  return std::hypot(px - static_cast<double>(foot.x), py - static_cast<double>(foot.y));
}

void GetRhTh(_STRTLINE line, double* rho, double* theta) {
  if (line.bVert) {
    *rho = line.dX;
    *theta = 0;
  } else if (line.dA == 0) {
    *rho = std::fabs(line.dB);
    *theta = line.dB >= 0 ? 90 : -90;
  } else {
    *rho = GetDistance({0, 0}, line);
    *theta = std::atan(-1.0 / line.dA) * 180 / kPi;
    if (line.dA < 0 && line.dB < 0) *theta -= 180;
  }
}

void GetDskwAngle(_STRTLINE line, double* angle) {
  double t = std::atan(line.dA);
  if (t > kQuarterPi)
    *angle = kHalfPi - t;
  else if (t > -kQuarterPi)
    *angle = -t;
  else
    *angle = -kHalfPi - t;
}

bool IsOrthogonal(double t1, double t2) {
  double a = std::fabs(t1);
  double d = (a > 0.39269908175 && a < 1.17809724525) ? t1 - t2 : std::fabs(t1) - std::fabs(t2);
  return std::fabs(d) > kQuarterPi;
}

bool ArePtsNghbr(tagPOINT p1, tagPOINT p2, double dist) {
  int64_t n = static_cast<int>(dist);
  return std::llabs(p1.x - p2.x) < n || std::llabs(p1.y - p2.y) < n;
}

int GetDiagonalLength(const _P2IIMG* img) {
  double w = img->nWidth, h = img->nHeight;
  return static_cast<int>(std::sqrt(w * w + h * h) + 0.5);
}

void SortXPts(tagPOINT* p) {
  for (int i = 0; i < 3;) {
    if (p[i + 1].x < p[i].x) {
      std::swap(p[i], p[i + 1]);
      i = 0;
    } else {
      ++i;
    }
  }
  if (p[1].y < p[0].y) std::swap(p[0], p[1]);
  if (p[3].y > p[2].y) std::swap(p[2], p[3]);
}

void SortSLs(_STRTLINE* lines, int* perm) {
  int side[2], nSide = 0, cross[2], nCross = 0;
  bool used[4] = {};
  for (int i = 0; i < 4 && nSide < 2; ++i)
    if (IsSteep(lines[i])) {
      side[nSide++] = i;
      used[i] = true;
    }
  for (int i = 0; i < 4 && nCross < 2; ++i)
    if (!used[i]) cross[nCross++] = i;
  int order[4] = {-1, -1, -1, -1};
  if (nCross == 2) {
    bool firstLower = lines[cross[0]].dB < lines[cross[1]].dB;
    order[1] = firstLower ? cross[0] : cross[1];
    order[3] = firstLower ? cross[1] : cross[0];
  } else if (nCross == 1) {
    order[3] = cross[0];
  }
  if (nSide == 2) {
    const _STRTLINE top{0, 0, 0, 0};
    _ACCPT a{}, b{};
    GetXPt(top, lines[side[0]], &a);
    GetXPt(top, lines[side[1]], &b);
    bool firstLeft = a.dX <= b.dX;
    order[0] = firstLeft ? side[0] : side[1];
    order[2] = firstLeft ? side[1] : side[0];
  } else if (nSide == 1) {
    order[0] = side[0];
  }
  _STRTLINE out[4];
  for (int k = 0; k < 4; ++k) {
    out[k] = order[k] >= 0 ? lines[order[k]] : _STRTLINE{0, 0, 0, 0};
    if (perm) perm[k] = order[k];
  }
  std::copy(out, out + 4, lines);
}

void SortPtList(PointList& list, bool byX, bool ascending) {
  auto key = [byX](const tagPOINT& p) { return byX ? p.x : p.y; };
  for (size_t i = 1; i < list.size(); ++i) {
    tagPOINT node = list[i];
    size_t j = 0;
    while (j < i && !(ascending ? key(list[j]) > key(node) : key(list[j]) < key(node))) ++j;
    if (j < i) {
      std::move_backward(list.begin() + j, list.begin() + i, list.begin() + i + 1);
      list[j] = node;
    }
  }
}

void MakeConvList(const tagPOINT* a, const tagPOINT* b, int* conv) {
  for (int i = 0; i < 4; ++i) {
    conv[i] = 4;
    for (int j = 0; j < 4; ++j)
      if (b[j].x == a[i].x && b[j].y == a[i].y) {
        conv[i] = j;
        break;
      }
  }
}

void MakeConvList(const _STRTLINE* a, const _STRTLINE* b, int* conv) {
  double ta[4], tb[4], ra[4], rb[4];
  auto dist = [](const _STRTLINE& l) {
    if (l.bVert) return std::fabs(l.dX);
    if (l.dA == 0) return std::fabs(l.dB);
    return GetDistance({0, 0}, l);
  };
  for (int i = 0; i < 4; ++i) {
    ta[i] = LineAngle(a[i]);
    tb[i] = LineAngle(b[i]);
    ra[i] = dist(a[i]);
    rb[i] = dist(b[i]);
  }
  double t0 = tb[0], e = std::fabs(t0);
  bool nearAxis = e > 1.374446786125 || e < 0.196349540875;
  auto gap = [&](double t) { return nearAxis ? std::fabs(std::fabs(t) - e) : std::fabs(t - t0); };
  int partner = 1;
  for (int j = 2; j < 4; ++j)
    if (gap(tb[j]) < gap(tb[partner])) partner = j;
  int pair[2], nPair = 0;
  for (int k = 0; k < 4 && nPair < 2; ++k)
    if (gap(ta[k]) < kQuarterPi) pair[nPair++] = k;
  for (int i = 0; i < 4; ++i) conv[i] = i;
  if (nPair < 2) return;
  if (e > 0.589048622625 && e < 0.981747704375) {
    for (int i = 0; i < 4; ++i) {
      if (!a[i].bVert && a[i].dA != 0 && a[i].dB < 0) ra[i] = -ra[i];
      if (!b[i].bVert && b[i].dA != 0 && b[i].dB < 0) rb[i] = -rb[i];
    }
  }
  bool firstToB0 = std::fabs(ra[pair[0]] - rb[0]) < std::fabs(ra[pair[1]] - rb[0]);
  conv[0] = firstToB0 ? pair[0] : pair[1];
  conv[partner] = firstToB0 ? pair[1] : pair[0];
  int restA[2], nA = 0, restB[2], nB = 0;
  for (int k = 0; k < 4; ++k)
    if (k != pair[0] && k != pair[1]) restA[nA++] = k;
  for (int j = 1; j < 4; ++j)
    if (j != partner) restB[nB++] = j;
  bool firstNearer = std::fabs(ra[restA[0]] - rb[restB[0]]) < std::fabs(ra[restA[1]] - rb[restB[0]]);
  conv[restB[0]] = firstNearer ? restA[0] : restA[1];
  conv[restB[1]] = firstNearer ? restA[1] : restA[0];
}

namespace {

// Moves the origin of four lines to (dx, dy); `intercept` gives a sloped
// line's new intercept.
template <class F>
void ShiftOrigin(_STRTLINE* lines, double dx, double dy, F intercept) {
  for (int i = 0; i < 4; ++i) {
    _STRTLINE& l = lines[i];
    if (l.bVert)
      l.dX -= dx;
    else if (l.dA == 0)
      l.dB -= dy;
    else
      l.dB = intercept(l);
  }
}

}  // namespace

void CrrctSLs(_STRTLINE* lines, int dx, int dy) {
  ShiftOrigin(lines, dx, dy, [&](const _STRTLINE& l) { return std::trunc(l.dB - 0.5) - dy + l.dA * dx; });
}

void CrrctSLs(_STRTLINE* lines, double dx, double dy) {
  ShiftOrigin(lines, dx, dy, [&](const _STRTLINE& l) { return l.dB - dy + l.dA * dx; });
}

void GetShadowSLs(int width, int height, int dx, int dy, const _STRTLINE* in, int /*count*/, _STRTLINE* out) {
  for (int i = 0; i < 4; ++i) {
    const _STRTLINE& l = in[i];
    if (l.bVert) {
      out[i] = {0, 0, 1, width - l.dX - dx};
      continue;
    }
    _STRTLINE c1, c2;
    if (std::fabs(l.dA) >= 1) {
      c1 = {0, 0, 0, 0};
      c2 = {0, static_cast<double>(-height), 0, 0};
    } else {
      c1 = {0, 0, 1, 0};
      c2 = {0, 0, 1, static_cast<double>(width)};
    }
    tagPOINT p1{}, p2{};
    GetXPt(c1, l, &p1);
    GetXPt(c2, l, &p2);
    p1 = {width - p1.x - dx, p1.y + dy};
    p2 = {width - p2.x - dx, p2.y + dy};
    GetSLfm2Pts(p1, p2, &out[i]);
  }
}

void GetShadowSLs(int width, int height, const _STRTLINE* in, int count, _STRTLINE* out) {
  GetShadowSLs(width, height, 0, 0, in, count, out);
}

namespace {

_STRTLINE Through(tagPOINT p, double slope) {
  return {slope, static_cast<double>(p.y) - slope * static_cast<double>(p.x), 0, 0.0};
}

double AngleDeg(const _STRTLINE& l) { return l.bVert ? 90.0 : std::atan(l.dA) * 180 / kPi; }

// Lays a side of slope `slope` through `first`, then through `other` when
// `other` lies beyond the side's crossing with `otherLine`.
bool PlaceSide(double slope, tagPOINT first, tagPOINT other, const _STRTLINE& otherLine, bool byX, bool larger,
               _STRTLINE* side) {
  *side = Through(first, slope);
  tagPOINT q{};
  if (!GetXPt(*side, otherLine, &q)) return false;
  int64_t vo = byX ? other.x : other.y, vq = byX ? q.x : q.y;
  if (larger ? vo > vq : vo < vq) *side = Through(other, slope);
  return true;
}

}  // namespace

bool MakeRect(_STRTLINE* lines) {
  const _STRTLINE R = lines[0];
  double a0 = AngleDeg(R);
  bool absolute = R.bVert || std::fabs(a0) > 75 || std::fabs(a0) < 15;
  int p = 1;
  double best = 1e300;
  for (int i = 1; i < 4; ++i) {
    double ai = AngleDeg(lines[i]);
    double d = absolute ? std::fabs(std::fabs(ai) - std::fabs(a0)) : std::fabs(ai - a0);
    if (d < best) {
      best = d;
      p = i;
    }
  }
  int c[2], k = 0;
  for (int i = 1; i < 4; ++i)
    if (i != p) c[k++] = i;
  const _STRTLINE P = lines[p], C1 = lines[c[0]], C2 = lines[c[1]];
  tagPOINT K1, K2, K3, K4;
  if (!GetXPt(R, C1, &K1) || !GetXPt(R, C2, &K2) || !GetXPt(P, C1, &K3) || !GetXPt(P, C2, &K4)) return false;
  _STRTLINE S1, S2, Sp;
  if (R.bVert) {
    double x = K3.x >= K1.x ? std::max(K3.x, K4.x) : std::min(K3.x, K4.x);
    Sp = {0, 0, 1, x};
    if (K1.y < K2.y) {
      S1 = {0, static_cast<double>(std::max(K2.y, K4.y)), 0, 0};
      S2 = {0, static_cast<double>(std::min(K1.y, K3.y)), 0, 0};
    } else {
      S1 = {0, static_cast<double>(std::max(K1.y, K3.y)), 0, 0};
      S2 = {0, static_cast<double>(std::min(K2.y, K4.y)), 0, 0};
    }
  } else if (R.dA == 0) {
    double y = K1.y < K3.y ? std::max(K3.y, K4.y) : std::min(K3.y, K4.y);
    Sp = {0, y, 0, 0};
    if (K1.x < K2.x) {
      S1 = {0, 0, 1, static_cast<double>(std::min(K1.x, K3.x))};
      S2 = {0, 0, 1, static_cast<double>(std::max(K2.x, K4.x))};
    } else {
      S1 = {0, 0, 1, static_cast<double>(std::min(K2.x, K4.x))};
      S2 = {0, 0, 1, static_cast<double>(std::max(K1.x, K3.x))};
    }
  } else {
    const double a = R.dA, m = -1.0 / a;
    const bool steep = std::fabs(a) > 1;
    // The side parallel to R, through the outer one of K3, K4.
    bool ok;
    if (steep) {
      bool larger = !(K3.x < K1.x);
      bool k3First = larger ? K3.x > K4.x : K3.x < K4.x;
      ok = k3First ? PlaceSide(a, K3, K4, C2, true, larger, &Sp) : PlaceSide(a, K4, K3, C1, true, larger, &Sp);
    } else {
      bool larger = K1.y < K3.y;
      bool k3First = larger ? K3.y > K4.y : K3.y < K4.y;
      ok = k3First ? PlaceSide(a, K3, K4, C2, false, larger, &Sp) : PlaceSide(a, K4, K3, C1, false, larger, &Sp);
    }
    if (!ok) return false;
    // One perpendicular side per end pair: (K1 on R, K3 on P) and (K2, K4).
    auto endSide = [&](tagPOINT onR, tagPOINT onP, bool larger, bool byX, _STRTLINE* side) {
      int64_t vr = byX ? onR.x : onR.y, vp = byX ? onP.x : onP.y;
      bool rFirst = larger ? vr > vp : vr < vp;
      return rFirst ? PlaceSide(m, onR, onP, P, byX, larger, side) : PlaceSide(m, onP, onR, R, byX, larger, side);
    };
    bool firstOuter = steep ? K1.y > K2.y : K1.x < K2.x;  // C1's end is the upper (steep) or left (flat) one
    bool larger1 = steep ? firstOuter : !firstOuter;
    if (!endSide(K1, K3, larger1, !steep, &S1) || !endSide(K2, K4, !larger1, !steep, &S2)) return false;
  }
  _STRTLINE out[4] = {R, S1, Sp, S2};
  SortSLs(out);
  std::copy(out, out + 4, lines);
  return true;
}

bool GetFsipPaperLayout(const _STRTLINE* lines, double skew, FSIP_CRP_S_PAPER_LAYOUT* layout) {
  tagPOINT c[4];
  if (!GetXPt(lines[3], lines[0], &c[0]) || !GetXPt(lines[0], lines[1], &c[1]) || !GetXPt(lines[1], lines[2], &c[2]) ||
      !GetXPt(lines[2], lines[3], &c[3]))
    return false;
  const double cs = std::cos(skew), sn = std::sin(skew);
  tagPOINT r[4], s[4];
  for (int i = 0; i < 4; ++i) {
    double x = static_cast<double>(c[i].x), y = static_cast<double>(c[i].y);
    r[i] = {RoundHalfAway(x * cs - y * sn), -RoundHalfAway(x * sn + y * cs)};
    s[i] = r[i];
  }
  SortXPts(s);
  FSIP_S_POINT* dst[4] = {&layout->cornerPts.ptLT, &layout->cornerPts.ptLB, &layout->cornerPts.ptRB,
                          &layout->cornerPts.ptRT};
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < 4; ++i)
      if (r[i].x == s[k].x && r[i].y == s[k].y) {
        *dst[k] = {c[i].x, -c[i].y};
        break;
      }
  layout->sizeRectangle = {static_cast<int32_t>(s[2].x - s[0].x), static_cast<int32_t>(s[2].y - s[0].y)};
  layout->dSkew = skew * 180 / kPi;
  return true;
}

void SetGrayZone(int width, int height, tagRECT* zone) {
  int d = static_cast<int>(gdblGrayZone + 0.5);
  zone[0] = {0, 0, d, height - 1};
  zone[1] = {0, height - d, width - 1, height - 1};
  zone[2] = {width - d, 0, width - 1, height - 1};
  zone[3] = {0, 0, width - 1, d};
}

bool IsPtInGrayZone(tagPOINT pt, const tagRECT* zone) {
  for (int i = 0; i < 4; ++i)
    if (pt.x >= zone[i].left && pt.x <= zone[i].right && pt.y >= zone[i].top && pt.y <= zone[i].bottom) return true;
  return false;
}

}  // namespace fsipcrop
