// Virtual sides where the Hough fit saw fewer than four, and the tab steps
// that push sides outwards as far as the strip beside them shows paper.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FsipCrop.h"

namespace fsipcrop {

namespace {

constexpr double kHalfPi = 1.570796327;
constexpr double kQuarterPi = 0.7853981635;

struct Probe {
  const _P2IIMG* img;
  uint32_t* ave;
  int32_t* grad;
  int len;

  // The along-line profile of `line` over from..to shows paper.
  bool FindsPaper(const _STRTLINE& line, int from, int to) const {
    if (from == -1 || to == -1) return false;
    const bool colour = img->nBitsPerPixel == 24;
    const size_t count = static_cast<size_t>(len) * (colour ? 3 : 1);
    std::memset(ave, 0, count * sizeof(uint32_t));
    std::memset(grad, 0, count * sizeof(int32_t));
    // Positions index the buffers: keep them inside what was allocated.
    int first = std::clamp(std::min(from, to), 0, len - 1), last = std::clamp(std::max(from, to), 0, len - 1);
    GetAveOnSL(img, 3, &first, &last, ave, line);
    if (first == -1 || last == -1) return false;
    const int n = std::min(len, last + 2);
    GetGrad(ave, n, colour, grad);
    return !IsSolid(ave, grad, colour, n, first, last);
  }
};

int Px(double mm) { return static_cast<int>(mm * gd1mm + 0.5); }

// The parallel of `l` at D pixels; `first` picks the side.
_STRTLINE Parallel(const _STRTLINE& l, int D, bool first) {
  _STRTLINE p = l;
  if (l.bVert) {
    p.dX = first ? l.dX - D : l.dX + D;
  } else if (l.dA == 0) {
    p.dB = first ? l.dB + D : l.dB - D;
  } else {
    const double s = std::sin(kHalfPi - std::fabs(std::atan(l.dA)));
    p.dB = first ? l.dB + D / s : l.dB - D / s;
  }
  return p;
}

bool ProbeParallel(const Probe& pr, const _STRTLINE& l, int D, bool first, _STRTLINE* out) {
  const _STRTLINE p = Parallel(l, D, first);
  const bool steep = l.bVert || std::fabs(LineAngle(l)) > kQuarterPi;
  const int to = steep ? pr.img->nHeight - 1 : pr.img->nWidth - 1;
  if (!pr.FindsPaper(p, 0, to)) return false;
  *out = p;
  return true;
}

// Stretch positions along `probe` between two points (y-up): rows of a
// steep probe, columns of a flat one.
void StretchOf(const _STRTLINE& probe, const tagPOINT& a, const tagPOINT& b, int widen, int* from, int* to) {
  const bool steep = IsSteep(probe);
  int64_t u = steep ? -a.y : a.x, v = steep ? -b.y : b.x;
  *from = static_cast<int>(std::clamp<int64_t>(std::min(u, v) - widen, -1, INT32_MAX));
  *to = static_cast<int>(std::clamp<int64_t>(std::max(u, v) + widen, -1, INT32_MAX));
}

bool ProbeBetween(const Probe& pr, const _STRTLINE& probe, const _STRTLINE& n1, const _STRTLINE& n2, int widen) {
  tagPOINT a{}, b{};
  if (!GetXPt(probe, n1, &a) || !GetXPt(probe, n2, &b)) return false;
  int from, to;
  StretchOf(probe, a, b, widen, &from, &to);
  if (to < 0) return false;
  return pr.FindsPaper(probe, std::max(from, 0), to);
}

const int kDistances[] = {50, 40, 30, 20, 10};

// Two opposite sides: one perpendicular probe that crosses paper, found by
// halving the image range from each end in turn.
int SeedAcrossPair(const Probe& pr, _STRTLINE* lines) {
  const _STRTLINE& L = lines[0];
  const double w = pr.img->nWidth - 1, h = pr.img->nHeight - 1;
  _STRTLINE probe;
  double lo, hi;
  int kind;  // 0 sloped, 1 horizontal probes, 2 vertical probes
  double m = 0;
  if (L.bVert) {
    kind = 1;
    lo = -h;
    hi = 0;
  } else if (L.dA == 0) {
    kind = 2;
    lo = 0;
    hi = w;
  } else {
    kind = 0;
    m = -1.0 / L.dA;
    if (m > 0) {
      lo = 0;
      hi = -h - w * m;
    } else {
      lo = -h;
      hi = -m * w;
    }
  }
  auto make = [&](double v) {
    if (kind == 1) return _STRTLINE{0, v, 0, 0};
    if (kind == 2) return _STRTLINE{0, 0, 1, v};
    return _STRTLINE{m, v, 0, 0};
  };
  for (int pass = 0; pass < 2; ++pass) {
    double a = lo, b = hi;
    while (std::fabs(b - a) >= 1) {
      const double mid = (a + b) / 2;
      probe = make(mid);
      if (ProbeBetween(pr, probe, lines[0], lines[1], 0)) {
        lines[2] = lines[3] = probe;
        return 1;
      }
      (pass == 0 ? a : b) = mid;
    }
  }
  return 0;
}

// Bisection of one side between its place and the image border.
void MoveSide(const Probe& pr, _STRTLINE* lines, int slot, int n1, int n2, double border) {
  _STRTLINE& side = lines[slot];
  double inner = side.bVert ? side.dX : side.dB, outer = border;
  while (std::fabs(outer - inner) >= 1) {
    const double mid = (inner + outer) / 2;
    _STRTLINE probe = side;
    (side.bVert ? probe.dX : probe.dB) = mid;
    if (ProbeBetween(pr, probe, lines[n1], lines[n2], 0)) {
      side = probe;
      inner = mid;
    } else {
      outer = mid;
    }
  }
}

double Signed0(const _STRTLINE& l) {
  double d = GetDistance({0, 0}, l);
  return (!l.bVert && l.dA < 0 && l.dB > 0) ? -d : d;
}

bool DoubtOf(int slot) {
  switch (slot) {
    case 0:
      return gbDoubtL;
    case 1:
      return gbDoubtB;
    case 2:
      return gbDoubtR;
    default:
      return gbDoubtT;
  }
}

// Writes each moved side (or its input line when it moved 2 mm or less)
// into the input's own slot; 1 when some side moved further.
int WriteTabSides(const _STRTLINE* sortedIn, const _STRTLINE* moved, const int* perm, _STRTLINE* out) {
  int result = 0;
  for (int k = 0; k < 4; ++k) {
    if (perm[k] < 0) continue;
    if (std::fabs(Signed0(moved[k]) - Signed0(sortedIn[k])) <= 2 * gd1mm) {
      out[perm[k]] = sortedIn[k];
    } else {
      out[perm[k]] = moved[k];
      result = 1;
    }
  }
  return result;
}

using MoveFn = void (*)(const _P2IIMG*, _STRTLINE*, uint32_t*, int32_t*, int);
const MoveFn kMoves[4] = {MoveSL4TabL, MoveSL4TabB, MoveSL4TabR, MoveSL4TabT};

}  // namespace

int SetVrtlSL4FB(const _P2IIMG* img, _STRTLINE* lines, uint32_t* ave, int32_t* grad, int len) {
  const Probe pr{img, ave, grad, len};
  for (int d : kDistances)
    for (bool first : {true, false})
      if (ProbeParallel(pr, lines[0], Px(d), first, &lines[1])) return 1;
  return 0;
}

int SetVrtlSLs(const _P2IIMG* img, _STRTLINE* lines, int found, uint32_t* ave, int32_t* grad, int len) {
  const Probe pr{img, ave, grad, len};
  double t[4];
  for (int i = 0; i < found; ++i) t[i] = LineAngle(lines[i]);
  const double a0 = std::fabs(t[0]);
  if (a0 > 1.374446786125 || a0 < 0.196349540875)
    for (int i = 0; i < found; ++i) t[i] = std::fabs(t[i]);
  if (found == 2) {
    if (!IsOrthogonal(t[0], t[1])) return SeedAcrossPair(pr, lines);
    for (int i = 0; i < 2; ++i) {
      bool ok = false;
      for (int d : kDistances) {
        if (ProbeParallel(pr, lines[i], Px(d), true, &lines[i + 2]) ||
            ProbeParallel(pr, lines[i], Px(d), false, &lines[i + 2])) {
          ok = true;
          break;
        }
      }
      if (!ok) return 0;
    }
    return 1;
  }
  if (found != 3) return 0;
  int odd = std::fabs(t[1] - t[0]) < kQuarterPi ? 2 : (std::fabs(t[2] - t[0]) < kQuarterPi ? 1 : 0);
  const int o1 = odd == 0 ? 1 : 0, o2 = odd == 2 ? 1 : 2;
  for (int d : kDistances)
    for (bool first : {true, false}) {
      const _STRTLINE p = Parallel(lines[odd], Px(d), first);
      if (ProbeBetween(pr, p, lines[o1], lines[o2], 16)) {
        lines[3] = p;
        return 1;
      }
    }
  return 0;
}

void MoveSL4TabL(const _P2IIMG* img, _STRTLINE* l, uint32_t* ave, int32_t* grad, int len) {
  const double h = img->nHeight - 1;
  const double border = l[0].bVert ? 0 : (l[0].dA > 0 ? 0 : -h);
  MoveSide({img, ave, grad, len}, l, 0, 1, 3, border);
}

void MoveSL4TabR(const _P2IIMG* img, _STRTLINE* l, uint32_t* ave, int32_t* grad, int len) {
  const double w = img->nWidth - 1, h = img->nHeight - 1;
  const double border = l[2].bVert ? w : (l[2].dA > 0 ? -h - w * l[2].dA : -w * l[2].dA);
  MoveSide({img, ave, grad, len}, l, 2, 1, 3, border);
}

void MoveSL4TabT(const _P2IIMG* img, _STRTLINE* l, uint32_t* ave, int32_t* grad, int len) {
  const double w = img->nWidth - 1;
  const double border = l[3].dA >= 0 ? 0 : -w * l[3].dA;
  MoveSide({img, ave, grad, len}, l, 3, 0, 2, border);
}

void MoveSL4TabB(const _P2IIMG* img, _STRTLINE* l, uint32_t* ave, int32_t* grad, int len) {
  const double w = img->nWidth - 1, h = img->nHeight - 1;
  const double border = l[1].dA >= 0 ? -h - w * l[1].dA : -h;
  MoveSide({img, ave, grad, len}, l, 1, 0, 2, border);
}

void MoveSLs4Tab2(const _P2IIMG* img, _STRTLINE* l, uint32_t* ave, int32_t* grad, int len) {
  MoveSL4TabL(img, l, ave, grad, len);
  MoveSL4TabR(img, l, ave, grad, len);
  MoveSL4TabT(img, l, ave, grad, len);
  MoveSL4TabB(img, l, ave, grad, len);
}

int CheckTabs(const _P2IIMG* img, _CHKTABPRM* prm) {
  _STRTLINE sorted[4], moved[4];
  int perm[4];
  std::copy(prm->pSLs, prm->pSLs + 4, sorted);
  SortSLs(sorted, perm);
  std::copy(sorted, sorted + 4, moved);
  MoveSLs4Tab2(img, moved, prm->puAve, prm->pnGrad, prm->nLen);
  if (gbDoubtL || gbDoubtB || gbDoubtR || gbDoubtT) MoveSLs4Tab2(img, moved, prm->puAve, prm->pnGrad, prm->nLen);
  return WriteTabSides(sorted, moved, perm, prm->pTabSLs);
}

int MoveAUXLines(const _P2IIMG* img, _CHKTABPRM* prm, int found, int all) {
  _STRTLINE sorted[4], moved[4];
  int perm[4];
  std::copy(prm->pSLs, prm->pSLs + 4, sorted);
  SortSLs(sorted, perm);
  std::copy(sorted, sorted + 4, moved);
  for (int k = 0; k < 4; ++k) {
    const bool isVirtual = perm[k] >= found;
    if (!isVirtual && !all) continue;
    const double zone = gdblGrayZone;
    if (isVirtual && DoubtOf(k)) gdblGrayZone = 0;
    kMoves[k](img, moved, prm->puAve, prm->pnGrad, prm->nLen);
    gdblGrayZone = zone;
  }
  return WriteTabSides(sorted, moved, perm, prm->pTabSLs);
}

int GetBestRect(const _P2IIMG* img, _STRTLINE* lines, _CHKTABPRM* prm) {
  _STRTLINE copy[4] = {lines[2], lines[3], lines[0], lines[1]};
  MoveSLs4Tab2(img, copy, prm->puAve, prm->pnGrad, prm->nLen);
  int result = 0;
  for (int i = 0; i < 4; ++i)
    if (std::fabs(Signed0(copy[i]) - Signed0(lines[i])) > 2 * gd1mm) {
      lines[i] = copy[i];
      result = 1;
    }
  return result;
}

}  // namespace fsipcrop
