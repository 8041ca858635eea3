// Virtual lines and tabs of the deskew-and-crop engine: missing sides are
// supplied by probing candidate lines for the page, and each side is then
// moved outward past whatever still stands out of the rectangle.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "I3ipDeskewCropping.h"

namespace i3ipdc {

namespace {

constexpr int kProbeMargin = 16;
constexpr unsigned kSolidRun = 122894;  // 15 values above 32 grey levels
constexpr double kProbeMm[5] = {50, 40, 30, 20, 10};

bool IsSteep(const _LINE& l) { return l.bVert || std::fabs(l.dA) > 1; }

// Keeps probe bounds within what an int profile index can be compared with.
int ClampPos(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -(int64_t{1} << 30), int64_t{1} << 30)); }

_LINE Parallel(const _LINE& l, double d, bool horizontalUp) {
  _LINE c = l;
  if (l.bVert)
    c.dX += d;
  else if (l.dA == 0)
    c.dB += horizontalUp ? d : -d;
  else
    c.dB += d / std::cos(std::fabs(std::atan(l.dA)));
  return c;
}

// A probe over the given positions: true when it finds plain backing, also
// when the line misses the image altogether.
bool ProbeSolid(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, const _LINE& line, int lo,
                int hi) {
  int from = lo, to = hi;
  GetAverageAlongLine(img, line, 3, &from, &to, profile);
  if (from == -1) return true;
  GetGradient(profile, diag, gradient);
  if (from > lo) from += 2;
  if (to < hi) to -= 2;
  return IsSolid(profile, gradient, diag, from, to);
}

double SignedOriginDistance(const _LINE& l) {
  const double d = OriginDistance(l);
  return !l.bVert && l.dA < 0 && l.dB > 0 ? -d : d;
}

}  // namespace

bool IsSolid(const unsigned* profile, const int* gradient, int n, int from, int to) {
  bool isMax = false;
  for (int i = from; i <= to; ++i) {
    if (!(std::abs(gradient[i]) > 4096 && IsPeak(gradient, i, true, &isMax) && isMax)) continue;
    int skip = 0;
    if (!IsStreak(profile, gradient, n, from, to, true, i, true, &skip)) return false;
    i += skip;
  }
  if (to - from >= 14) {
    unsigned sum = 0;
    for (int i = from; i < from + 15; ++i) sum += profile[i];
    for (int s = from;; ++s) {
      if (sum > kSolidRun) return false;
      if (s + 15 > to) break;
      sum += profile[s + 15] - profile[s];
    }
  }
  return true;
}

void GetAverageAlongLine(const I3ipImageInfo* img, const _LINE& line, int size, int* from, int* to,
                         unsigned* profile) {
  const int w = static_cast<int>(img->Width), h = static_cast<int>(img->Height);
  const int lo = std::min(*from, *to), hi = std::max(*from, *to);
  *from = *to = -1;
  const auto sample = [&](int pos, int64_t x, int64_t y) {
    if (x < 1 || y < 1 || x > w - 2 || y > h - 2) return false;
    profile[pos] = GetAverage(img->Data + static_cast<size_t>(y) * img->Bpl + x, static_cast<int>(img->Bpl), size);
    if (*from == -1) *from = pos;
    *to = pos;
    return true;
  };
  const auto walk = [&](auto at) {
    for (int pos = std::max(lo, 0); pos <= hi; ++pos) {
      int64_t x, y;
      at(pos, &x, &y);
      if (!sample(pos, x, y) && *from != -1) break;
    }
  };
  if (line.bVert) {
    const int64_t col = static_cast<int64_t>(line.dX + 0.5);
    if (col < 1 || col > w - 2) return;
    walk([&](int pos, int64_t* x, int64_t* y) { *x = col, *y = pos; });
  } else if (line.dA == 0) {
    const int64_t row = static_cast<int64_t>(0.5 - line.dB);
    if (row < 1 || row > h - 2) return;
    walk([&](int pos, int64_t* x, int64_t* y) { *x = pos, *y = row; });
  } else if (std::fabs(line.dA) > 1) {
    walk([&](int pos, int64_t* x, int64_t* y) { *x = RoundHalfAway((-pos - line.dB) / line.dA), *y = pos; });
  } else {
    walk([&](int pos, int64_t* x, int64_t* y) { *x = pos, *y = RoundHalfAway(-(pos * line.dA + line.dB)); });
  }
}

bool NoObjectOnTheLine(const I3ipImageInfo* img, unsigned* profile, int* gradient, int n, const _LINE& line,
                       const _LINE& a, const _LINE& b, bool byX) {
  tagPOINT pa, pb;
  GetVertex(line, a, &pa);
  GetVertex(line, b, &pb);
  const int64_t ca = byX ? pa.x : -pa.y, cb = byX ? pb.x : -pb.y;
  const int lo = ClampPos(std::min(ca, cb) - kProbeMargin), hi = ClampPos(std::max(ca, cb) + kProbeMargin);
  std::memset(profile, 0, sizeof(unsigned) * n);
  std::memset(gradient, 0, sizeof(int) * n);
  return ProbeSolid(img, profile, gradient, n, line, lo, std::min(hi, n - 1));
}

namespace {

bool WholeLineSolid(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, const _LINE& line) {
  std::memset(profile, 0, sizeof(unsigned) * diag);
  std::memset(gradient, 0, sizeof(int) * diag);
  const int last = static_cast<int>(IsSteep(line) ? img->Height : img->Width) - 1;
  return ProbeSolid(img, profile, gradient, diag, line, 0, std::min(last, diag - 1));
}

// The first candidate parallel to base at 50 .. 10 mm, candidate A (offset
// by -D when aNegative, else +D) before B, that crosses the page.
template <class Crosses>
bool FirstCrossing(const I3ipImageInfo* img, const _LINE& base, bool aNegative, Crosses crosses, _LINE* out) {
  const double dpmm = img->Dpi / 25.4;
  for (double mm : kProbeMm) {
    const double d = mm * dpmm;
    for (double sign : {aNegative ? -1.0 : 1.0, aNegative ? 1.0 : -1.0}) {
      const _LINE c = Parallel(base, sign * d, true);
      if (crosses(c)) {
        *out = c;
        return true;
      }
    }
  }
  return false;
}

// Two bisection passes over candidates cand(c) between bounds a and b: the
// first moves a towards b, the second b towards a; the first candidate that
// crosses the page between lines 0 and 1 becomes both missing sides.
template <class Cand>
bool BisectBoth(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag, double a,
                double b, bool byX, Cand cand) {
  for (int pass = 0; pass < 2; ++pass) {
    double p = a, q = b;
    while (std::fabs(p - q) >= 1) {
      const double mid = (p + q) / 2;
      const _LINE c = cand(mid);
      if (!NoObjectOnTheLine(img, profile, gradient, diag, c, lines[0], lines[1], byX)) {
        lines[2] = lines[3] = c;
        return true;
      }
      (pass == 0 ? p : q) = mid;
    }
  }
  return false;
}

}  // namespace

bool SetFirstVirtualLine(const I3ipImageInfo* img, _LINE* lines, int /*count*/, unsigned* profile, int* gradient,
                         int diag) {
  // Candidate A lies at dX - D, dB - D (horizontal) or dB + D / cos|a|.
  const _LINE& base = lines[0];
  const bool sloped = !base.bVert && base.dA != 0;
  return FirstCrossing(
      img, base, !sloped, [&](const _LINE& c) { return !WholeLineSolid(img, profile, gradient, diag, c); }, &lines[1]);
}

bool SetTwoOrthogonalLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag) {
  // Candidate A lies at dX - D, dB + D or dB + D / cos|a|.
  const auto crosses = [&](const _LINE& c) { return !WholeLineSolid(img, profile, gradient, diag, c); };
  _LINE l2, l3;
  if (!FirstCrossing(img, lines[0], lines[0].bVert, crosses, &l2) ||
      !FirstCrossing(img, lines[1], lines[1].bVert, crosses, &l3))
    return false;
  lines[2] = l2;
  lines[3] = l3;
  return true;
}

bool SetTwoVertParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag) {
  return BisectBoth(img, lines, profile, gradient, diag, 0, static_cast<double>(img->Width) - 1, false,
                    [](double x) { return _LINE{true, x, 0, 0}; });
}

bool SetTwoHorzParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag) {
  // Mirrors the vertical search: horizontal probes between the two sides,
  // bisecting the rows, so that a page without a top or bottom is cropped.
  return BisectBoth(img, lines, profile, gradient, diag, 0, static_cast<double>(img->Height) - 1, true,
                    [](double row) { return _LINE{false, 0, 0, -row}; });
}

bool SetTwoDownwardSlopingParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient,
                                        int diag) {
  const double m = -1 / lines[0].dA, h1 = static_cast<double>(img->Height) - 1, w1 = static_cast<double>(img->Width) - 1;
  return BisectBoth(img, lines, profile, gradient, diag, -h1, w1 / lines[0].dA, std::fabs(m) <= 1,
                    [m](double c) { return _LINE{false, 0, m, c}; });
}

bool SetTwoUpwardSlopingParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient,
                                      int diag) {
  const double m = -1 / lines[0].dA, h1 = static_cast<double>(img->Height) - 1, w1 = static_cast<double>(img->Width) - 1;
  return BisectBoth(img, lines, profile, gradient, diag, 0, -h1 - m * w1, std::fabs(m) <= 1,
                    [m](double c) { return _LINE{false, 0, m, c}; });
}

bool SetTwoParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag) {
  const _LINE& l = lines[0];
  if (l.bVert) return SetTwoHorzParallelLines(img, lines, profile, gradient, diag);
  if (l.dA == 0) return SetTwoVertParallelLines(img, lines, profile, gradient, diag);
  if (l.dA > 0) return SetTwoDownwardSlopingParallelLines(img, lines, profile, gradient, diag);
  return SetTwoUpwardSlopingParallelLines(img, lines, profile, gradient, diag);
}

bool SetOneVirtualLine(const I3ipImageInfo* img, _LINE* lines, const double* angles, unsigned* profile, int* gradient,
                       int diag) {
  int lone = 0;
  if (std::fabs(angles[1] - angles[0]) < M_PI / 4)
    lone = 2;
  else if (std::fabs(angles[2] - angles[0]) < M_PI / 4)
    lone = 1;
  const _LINE& a = lines[lone == 0 ? 1 : 0];
  const _LINE& b = lines[lone == 2 ? 1 : 2];
  const _LINE base = lines[lone];
  return FirstCrossing(
      img, base, base.bVert,
      [&](const _LINE& c) { return !NoObjectOnTheLine(img, profile, gradient, diag, c, a, b, !IsSteep(base)); },
      &lines[3]);
}

bool SetVirtualLines(const I3ipImageInfo* img, _LINE* lines, int count, unsigned* profile, int* gradient, int diag) {
  double angles[3];
  for (int i = 0; i < count && i < 3; ++i) angles[i] = LineAngle(lines[i]);
  if (std::fabs(angles[0]) > 7 * M_PI / 16 || std::fabs(angles[0]) < M_PI / 16)
    for (int i = 0; i < count && i < 3; ++i) angles[i] = std::fabs(angles[i]);
  if (count == 2) {
    if (std::fabs(angles[0] - angles[1]) > M_PI / 4) return SetTwoOrthogonalLines(img, lines, profile, gradient, diag);
    return SetTwoParallelLines(img, lines, profile, gradient, diag);
  }
  return SetOneVirtualLine(img, lines, angles, profile, gradient, diag);
}

namespace {

// Bisects one side between where it stands and the parallel through the
// image corner farthest out on its side; ends at the outermost position that
// still crosses an object between the two neighbouring sides.
void MoveSide(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* side, double outer,
              const _LINE& a, const _LINE& b, bool byX) {
  double& param = side->bVert ? side->dX : side->dB;
  double inner = param;
  while (std::fabs(inner - outer) >= 1) {
    const double mid = (inner + outer) / 2;
    _LINE probe = *side;
    (probe.bVert ? probe.dX : probe.dB) = mid;
    if (NoObjectOnTheLine(img, profile, gradient, diag, probe, a, b, byX))
      outer = mid;
    else
      inner = mid;
  }
  param = inner;
}

}  // namespace

void MoveLeftLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines) {
  const _LINE& l = lines[0];
  const double outer = l.bVert ? 0 : l.dA > 0 ? 0 : -(static_cast<double>(img->Height) - 1);
  MoveSide(img, profile, gradient, diag, &lines[0], outer, lines[3], lines[1], false);
}

void MoveRightLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines) {
  const _LINE& l = lines[2];
  const double w1 = static_cast<double>(img->Width) - 1, h1 = static_cast<double>(img->Height) - 1;
  const double outer = l.bVert ? w1 : l.dA > 0 ? -h1 - w1 * l.dA : -w1 * l.dA;
  MoveSide(img, profile, gradient, diag, &lines[2], outer, lines[3], lines[1], false);
}

void MoveTopLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines) {
  const _LINE& l = lines[3];
  const double w1 = static_cast<double>(img->Width) - 1;
  const double outer = l.dA >= 0 ? 0 : -w1 * l.dA;
  MoveSide(img, profile, gradient, diag, &lines[3], outer, lines[0], lines[2], true);
}

void MoveBottomLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines) {
  const _LINE& l = lines[1];
  const double w1 = static_cast<double>(img->Width) - 1, h1 = static_cast<double>(img->Height) - 1;
  const double outer = l.dA >= 0 ? -h1 - w1 * l.dA : -h1;
  MoveSide(img, profile, gradient, diag, &lines[1], outer, lines[0], lines[2], true);
}

void MoveLinesToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines) {
  MoveLeftLineToLeaveTabs(img, profile, gradient, diag, lines);
  MoveRightLineToLeaveTabs(img, profile, gradient, diag, lines);
  MoveTopLineToLeaveTabs(img, profile, gradient, diag, lines);
  MoveBottomLineToLeaveTabs(img, profile, gradient, diag, lines);
}

bool CheckTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, const _LINE* lines, int n,
               _LINE* tabLines) {
  _LINE copy[4];
  std::copy(lines, lines + 4, copy);
  MakeRect(copy, false);
  int map[4];
  MakeConvertList(lines, copy, map);
  for (int j = 0; j < 4; ++j) copy[j] = lines[map[j]];
  MoveLinesToLeaveTabs(img, profile, gradient, diag, copy);
  if (n == 2 && IsOrthogonal_New(LineAngle(lines[0]), LineAngle(lines[1])))
    MoveLinesToLeaveTabs(img, profile, gradient, diag, copy);
  const double limit = 2 * img->Dpi / 25.4;
  bool moved = false;
  for (int j = 0; j < 4; ++j) {
    const _LINE& orig = lines[map[j]];
    if (std::fabs(SignedOriginDistance(copy[j]) - SignedOriginDistance(orig)) > limit) {
      tabLines[map[j]] = copy[j];
      moved = true;
    } else {
      tabLines[map[j]] = orig;
    }
  }
  return moved;
}

void GetBestRect(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines) {
  _LINE copy[4];
  std::copy(lines, lines + 4, copy);
  MoveLinesToLeaveTabs(img, profile, gradient, diag, copy);
  const double limit = 2 * img->Dpi / 25.4;
  for (int j = 0; j < 4; ++j)
    if (std::fabs(SignedOriginDistance(copy[j]) - SignedOriginDistance(lines[j])) > limit) lines[j] = copy[j];
}

void MoveLinesBy(_LINE* lines, const double* margin) {
  for (int j = 0; j < 4; ++j) {
    _LINE& l = lines[j];
    if (l.bVert) {
      l.dX += j == 0 ? -margin[j] : margin[j];
    } else if (l.dA == 0) {
      l.dB += j == 1 ? -margin[j] : margin[j];
    } else {
      const double m = margin[j] / std::sin(M_PI / 2 - std::fabs(std::atan(l.dA)));
      const bool plus = j == 3 || (j == 0 && l.dA > 0) || (j == 2 && l.dA <= 0);
      l.dB += plus ? m : -m;
    }
  }
}

void MoveLines(_LINE* lines, double dpi, const _OVERCROP_INFO* info) {
  const double margin[4] = {info->nLeft * dpi / 2540, info->nBottom * dpi / 2540, info->nRight * dpi / 2540,
                            info->nTop * dpi / 2540};
  MoveLinesBy(lines, margin);
}

bool IsLongPage(const _LINE* lines, int dpi, bool longer) {
  const int limit = static_cast<int>((longer ? 17 : 14) * dpi * 1.03);
  return std::fabs(OriginDistance(lines[0]) - OriginDistance(lines[2])) > limit ||
         std::fabs(OriginDistance(lines[1]) - OriginDistance(lines[3])) > limit;
}

}  // namespace i3ipdc
