// Hough lines and document position of the deskew-and-crop engine: edge
// points vote into a rho/theta accumulator, the strongest cells are grouped
// into line classes, and the main line with its partners becomes the page's
// sides and skew.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "I3ipDeskewCropping.h"

namespace i3ipdc {

namespace {

constexpr int kCells = 384;
constexpr int kMinVotes = 10;

}  // namespace

bool IsEqual(double a, double b) { return std::fabs(a - b) < 1e-10; }

void Vote(const PointList& points, int diag, uint16_t* accumulator) {
  const _SINCOS_DC* t = SinCosTable();
  std::vector<double> xs(points.size()), ys(points.size());
  for (size_t i = 0; i < points.size(); ++i) xs[i] = static_cast<double>(points[i].x), ys[i] = static_cast<double>(points[i].y);
  const int64_t rows = 2 * static_cast<int64_t>(diag);
  // Angle by angle: neighbouring points of a side fall into neighbouring
  // rows of one column, which stay in the cache.
  for (int j = 0; j < kHoughAngles; ++j) {
    const double c = t[2 * j].dCos, s = t[2 * j].dSin;
    for (size_t i = 0; i < xs.size(); ++i) {
      const double v = xs[i] * c - ys[i] * s;
      const int64_t row = diag + static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5);  // half away from zero
      if (row < 0 || row >= rows) continue;
      uint16_t& cell = accumulator[static_cast<size_t>(row) * kHoughAngles + j];
      // A long side may gather more votes than the counter holds: saturate.
      if (cell != UINT16_MAX) ++cell;
    }
  }
}

bool IsAlmostAxis(int rho, int t) {
  if (rho != 0) return false;
  const int a = std::abs(t);
  return a <= 19 || (a >= 881 && a <= 919) || (a >= 1781 && a <= 1819);
}

bool IsSameClass(int rho, int seedRho, int tol, int d, int thetaTol) {
  const int ad = std::abs(d);
  if (ad < thetaTol && std::abs(rho - seedRho) < tol) return true;
  return ad >= 1751 && ad <= 1849 && rho <= (tol >> 1) && seedRho <= (tol >> 1);
}

bool IsOrthogonal_New(double thetaDiff) {
  const double d = std::fabs(thetaDiff);
  return (d >= 450 && d < 1350) || (d >= 2250 && d < 3150);
}

bool IsOrthogonal_New(double a, double b) { return std::fabs(a - b) > M_PI / 4; }

int Make8Groups(const _HOUGH_XFORM_DATA* cells, bool /*unused*/, double dpmm, double* rhoOut, double* thetaOut,
                double* votesOut) {
  if (cells->pnVote[0] < kMinVotes) return 0;
  const int rhoTol = static_cast<int>(dpmm * 12.5 + 0.5);
  struct Group {
    int seedRho, seedTheta, seedVotes;
    double sumRho, sumTheta;
    int count;
  };
  const auto seeded = [&](int i) {
    return Group{cells->pnRho[i], cells->pnTheta[i], cells->pnVote[i], double(cells->pnRho[i]),
                 double(cells->pnTheta[i]), 1};
  };
  Group g[8];
  int ng = 1;
  g[0] = seeded(0);
  int fallback = -1;
  const auto scan = [&](int seed) {
    for (int i = 0; i < cells->nCount && cells->pnVote[i] >= kMinVotes && ng < 8; ++i) {
      if (i == seed) continue;
      const int rho = cells->pnRho[i], ang = cells->pnTheta[i];
      if (IsAlmostAxis(rho, ang)) continue;
      bool matched = false;
      for (int k = 0; k < ng && !matched; ++k) {
        const int d = ang - g[k].seedTheta;
        if (!IsSameClass(rho, g[k].seedRho, rhoTol, d, 50)) continue;
        matched = true;
        if (g[k].seedVotes - cells->pnVote[i] > 8) break;
        const int ad = std::abs(d);
        if (ad >= 1791 && ad <= 1809)
          g[k].sumTheta += d < 0 ? ang + 1800 : ang - 1800;
        else if (ad <= 9)
          g[k].sumTheta += ang;
        else
          break;
        g[k].sumRho += rho;
        ++g[k].count;
      }
      if (matched) continue;
      const int dd = std::abs(ang - g[0].seedTheta), dr = std::abs(rho - g[0].seedRho);
      const bool parallel = dd <= 49 && dr >= rhoTol;
      const bool perpendicular = dd > 850 && dd <= 949;
      const bool opposite = dd >= 1751 && dd <= 1849 && !(rho <= rhoTol / 2 && g[0].seedRho <= rhoTol / 2);
      if (parallel || perpendicular || opposite)
        g[ng++] = seeded(i);
      else if (fallback == -1)
        fallback = i;
    }
  };
  scan(0);
  if (ng == 1 && fallback != -1) {
    const Group first = g[0];
    g[0] = seeded(fallback);
    scan(fallback);
    if (ng == 1) g[0] = first;
  }
  rhoOut[0] = std::fabs(g[0].sumRho) / g[0].count;
  thetaOut[0] = g[0].sumTheta / g[0].count;
  votesOut[0] = g[0].seedVotes;
  if (ng == 1) return 1;
  int k = 1, perpSlot = -1, perpCount = 0;
  bool parallelTaken = false;
  const auto distance = [&](int a, int b) {
    return thetaOut[a] * thetaOut[b] < 0 ? rhoOut[a] + rhoOut[b] : std::fabs(rhoOut[a] - rhoOut[b]);
  };
  for (int i = 1; i < ng && k < 4; ++i) {
    const double a = g[i].sumTheta / g[i].count, r = g[i].sumRho / g[i].count;
    const bool perp = IsOrthogonal_New(std::fabs(a - thetaOut[0]));
    if (!perp && !parallelTaken) {
      rhoOut[k] = r, thetaOut[k] = a, votesOut[k] = g[i].seedVotes;
      if (distance(k, 0) > rhoTol) ++k, parallelTaken = true;
    } else if (perp && perpCount < 2) {
      rhoOut[k] = r, thetaOut[k] = a, votesOut[k] = g[i].seedVotes;
      if (perpCount == 0) {
        perpSlot = k++;
        perpCount = 1;
      } else if (distance(k, perpSlot) > rhoTol) {
        ++k;
        perpCount = 2;
      }
    }
  }
  return k;
}

void Get4LinesFromRhoTheta(const double* rho, const double* theta, int count, _LINE* lines) {
  for (int i = 0; i < std::min(count, 4); ++i) {
    const double t = theta[i], r = rho[i];
    _LINE l{false, 0, 0, 0};
    if (IsEqual(t, 900) || IsEqual(t, 2700)) {
      l.dB = -r;
    } else if (IsEqual(t, 0) || IsEqual(t, 1800)) {
      l.bVert = true;
      l.dX = r;
    } else if (IsEqual(r, 0)) {
      l.dA = std::tan((t - 900) / 10 * M_PI / 180);
    } else {
      const double rad = t / 10 * M_PI / 180, s = std::sin(rad), c = std::cos(rad);
      const double e = std::cos((90 - t / 10) * M_PI / 180);
      l.dB = r / e;
      l.dA = (s * r - r / e) / (r * c);
    }
    lines[i] = l;
  }
}

int ExamineLineOrder(_LINE* lines, int count, const double* theta, const double* /*votes*/) {
  std::vector<double> m;
  try {
    m.assign(static_cast<size_t>(count) * count, 0);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  int best = -1;
  double bestSum = 359;
  for (int j = 0; j < count; ++j) {
    double sum = 0;
    for (int l = 0; l < count; ++l) {
      double d = std::fabs(theta[j] - theta[l]);
      if (d > 450) d = std::fabs(d - 900);
      m[static_cast<size_t>(j) * count + l] = d;
      sum += d;
    }
    if (sum < bestSum) bestSum = sum, best = j;
  }
  if (best > 0) std::swap(lines[0], lines[best]);
  return kOk;
}

double GetDeskewAngle(const _LINE& line) {
  const double a = std::atan(line.dA);
  if (a > M_PI / 4) return M_PI / 2 - a;
  if (a > -M_PI / 4) return -a;
  return -M_PI / 2 - a;
}

bool IsBigSkew(const _LINE& line) {
  if (line.bVert || std::fabs(line.dA) < 1e-10) return false;
  const double a = std::fabs(std::atan(line.dA)), oneDegree = 0.017453292519943295;
  if (a < oneDegree) return false;
  return std::fabs(a - M_PI / 2) >= oneDegree;
}

double GetAveragedDeskewAngle(const double* theta, int count) {
  const double t0 = theta[0];
  const bool diagonal = (t0 > -1400 && t0 <= -1300) || (t0 > -500 && t0 <= -400) || (t0 > 400 && t0 <= 500);
  double sum = 0;
  for (int i = 0; i < count; ++i) {
    const double t = theta[i];
    if (diagonal)
      sum += t <= -900 ? -1800 - t : t <= 0 ? -900 - t : -t;
    else
      sum += t <= -1350 ? -1800 - t : t <= -450 ? -900 - t : t <= 450 ? -t : 900 - t;
  }
  return sum / count / 10;
}

void GetLineFromTwoPoints(tagPOINT p1, tagPOINT p2, _LINE* line) {
  if (p1.x == p2.x) {
    *line = _LINE{true, static_cast<double>(p1.x), 0, 0};
    return;
  }
  const double a = static_cast<double>(p2.y - p1.y) / static_cast<double>(p1.x - p2.x);
  *line = _LINE{false, 0, a, -static_cast<double>(p1.y) - a * static_cast<double>(p1.x)};
}

void GetLineFromTwoPoints(_EDGE p1, _EDGE p2, _LINE* line) {
  GetLineFromTwoPoints(tagPOINT{p1.x, p1.y}, tagPOINT{p2.x, p2.y}, line);
}

bool CheckDetectedLines(const I3ipImageInfo* img, const _LINE* lines, int n) {
  if (n < 4) return false;
  _LINE copy[4];
  std::copy(lines, lines + 4, copy);
  MakeRect(copy, false);
  const int64_t w1 = static_cast<int64_t>(img->Width) - 1, h1 = static_cast<int64_t>(img->Height) - 1;
  const tagPOINT corners[4] = {{0, 0}, {0, h1}, {w1, h1}, {w1, 0}};
  for (int i = 0; i < 4; ++i)
    if (IsTooDeep(copy[i], corners[i], img->Dpi / 25.4)) return false;
  return true;
}

void KeepStrongestCells(const uint16_t* acc, int diag, _HOUGH_XFORM_DATA* out) {
  // Sorted by votes, highest first; equal votes keep the scan order.
  _HOUGH_XFORM_DATA& cells = *out;
  const int kept = cells.nCount;
  int minKept = 0;
  for (int64_t r = 0; r < 2 * static_cast<int64_t>(diag); ++r) {
    const uint16_t* row = acc + static_cast<size_t>(r) * kHoughAngles;
    for (int j = 0; j < kHoughAngles; ++j) {
      // Most cells hold fewer votes than the weakest kept one: pass over
      // them sixteen at a time.
      if (j % 16 == 0 && j + 16 <= kHoughAngles) {
        int most = 0;
        for (int k = 0; k < 16; ++k) most = std::max(most, static_cast<int>(row[j + k]));
        if (most <= minKept) {
          j += 15;
          continue;
        }
      }
      const int v = row[j];
      if (v <= minKept) continue;
      int pos = kept - 1;
      while (pos > 0 && cells.pnVote[pos - 1] < v) --pos;
      std::memmove(cells.pnVote + pos + 1, cells.pnVote + pos, (kept - 1 - pos) * sizeof(int32_t));
      std::memmove(cells.pnTheta + pos + 1, cells.pnTheta + pos, (kept - 1 - pos) * sizeof(int32_t));
      std::memmove(cells.pnRho + pos + 1, cells.pnRho + pos, (kept - 1 - pos) * sizeof(int32_t));
      cells.pnVote[pos] = v;
      cells.pnTheta[pos] = 2 * j;
      cells.pnRho[pos] = static_cast<int32_t>(r - diag);
      minKept = cells.pnVote[kept - 1];
    }
  }
}

int GetDocumentPosition(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines,
                        double* angle, int* n, EdgeList* edges) {
  PointList lists[4];
  GetEdgeHorz(img, profile, gradient, &lists[0], &lists[2]);
  GetEdgeVert(img, profile, gradient, &lists[3], &lists[1]);
  if (lists[0].empty() && lists[1].empty() && lists[2].empty() && lists[3].empty()) return kNoDocument;
  if (edges)
    for (const PointList& l : lists)
      for (const tagPOINT& p : l) edges->push_back(_EDGE{static_cast<int32_t>(p.x), static_cast<int32_t>(p.y), -1});

  const size_t cellsTotal = static_cast<size_t>(2) * diag * kHoughAngles;
  auto* acc = static_cast<uint16_t*>(std::calloc(cellsTotal, sizeof(uint16_t)));
  int32_t* arrays = static_cast<int32_t*>(std::calloc(3 * kCells, sizeof(int32_t)));
  if (!acc || !arrays) {
    std::free(acc);
    std::free(arrays);
    return kNoMemory;
  }
  for (const PointList& l : lists) Vote(l, diag, acc);
  _HOUGH_XFORM_DATA cells{kCells, arrays, arrays + kCells, arrays + 2 * kCells};
  KeepStrongestCells(acc, diag, &cells);
  std::free(acc);
  for (int i = 0; i < kCells; ++i)
    if (cells.pnRho[i] < 0) {
      cells.pnRho[i] = -cells.pnRho[i];
      if (cells.pnTheta[i] != 0) cells.pnTheta[i] -= 1800;
    }
  double rho[8], theta[8], votes[8];
  const int k = Make8Groups(&cells, true, static_cast<int>(img->Dpi / 25.4 + 0.5), rho, theta, votes);
  std::free(arrays);
  if (k == 0) return kNoDocument;
  Get4LinesFromRhoTheta(rho, theta, k, lines);
  // Without its work matrix the order stays as found.
  if (k >= 3) ExamineLineOrder(lines, k, theta, votes);
  *n = k;
  if (k == 4) {
    *angle = GetDeskewAngle(lines[0]);
    return kOk;
  }
  int have = k;
  if (k == 1) {
    if (IsBigSkew(lines[0])) return kNoDocument;
    if (!SetFirstVirtualLine(img, lines, 1, profile, gradient, diag)) return kNoDocument;
    have = 2;
  }
  if (!SetVirtualLines(img, lines, have, profile, gradient, diag)) return kNoDocument;
  *angle = GetDeskewAngle(lines[0]);
  return kOk;
}

}  // namespace i3ipdc
