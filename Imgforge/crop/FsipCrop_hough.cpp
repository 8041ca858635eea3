// Straight sides of the page from the edge points by Hough vote over
// 0.2-degree steps, grouped round the strongest line.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FsipCrop.h"

namespace fsipcrop {

namespace {

constexpr double kPi = 3.141592654;
constexpr int kPeaks = 384;
constexpr int kGroups = 8;

struct Peak {
  int votes, rho, angle;  // angle in tenths of a degree
};

struct Group {
  int rho0, angle0, votes0;
  double sumRho, sumAngle, sumVotes;
  int count;
  int support;
};

// Votes every point into 2n rho rows x 900 even angle cells with
// saturating 16-bit counters (a long straight side collects far more than
// 127 votes in one cell), then keeps the 384 strongest cells.
bool VoteAndPick(int n, const PointList& a, const PointList& b, Peak* peaks, int* count) {
  const size_t rows = static_cast<size_t>(2) * n;
  // calloc: the pages no point votes into are never touched.
  std::unique_ptr<uint16_t[], decltype(&free)> acc(static_cast<uint16_t*>(calloc(rows * 900, sizeof(uint16_t))),
                                                   &free);
  if (!acc) return false;
  double cs[900], sn[900];
  for (int j = 0; j < 900; ++j) {
    cs[j] = gpSinCos[2 * j].dCos;
    sn[j] = gpSinCos[2 * j].dSin;
  }
  for (const PointList* list : {&a, &b})
    for (const tagPOINT& p : *list) {
      const double x = static_cast<double>(p.x), y = static_cast<double>(p.y);
      for (int j = 0; j < 900; ++j) {
        const int64_t rho = RoundHalfAway(x * cs[j] - y * sn[j]) + n;
        if (rho < 0 || rho >= static_cast<int64_t>(rows)) continue;
        uint16_t& cell = acc[static_cast<size_t>(rho) * 900 + j];
        if (cell != UINT16_MAX) ++cell;
      }
    }
  int used = 0;
  for (size_t r = 0; r < rows; ++r) {
    const uint16_t* row = &acc[r * 900];
    for (int j = 0; j < 900; ++j) {
#if defined(__SSE2__)
      // Most cells are below the weakest peak kept: skip eight at a time.
      if ((j & 7) == 0 && j + 8 <= 900) {
        const int thr = used == kPeaks ? peaks[kPeaks - 1].votes : 0;
        const __m128i cells = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j));
        const __m128i above = _mm_subs_epu16(cells, _mm_set1_epi16(static_cast<short>(thr)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(above, _mm_setzero_si128())) == 0xFFFF) {
          j += 7;
          continue;
        }
      }
#endif
      const int v = row[j];
      if (v == 0 || (used == kPeaks && v <= peaks[kPeaks - 1].votes)) continue;
      int pos = 0;
      while (pos < used && peaks[pos].votes >= v) ++pos;
      if (used < kPeaks) ++used;
      std::memmove(&peaks[pos + 1], &peaks[pos], sizeof(Peak) * static_cast<size_t>(used - 1 - pos));
      peaks[pos] = {v, static_cast<int>(r) - n, 2 * j};
    }
  }
  *count = used;
  return true;
}

bool OriginAxisLine(const Peak& p) {
  const int a = std::abs(p.angle);
  return p.rho == 0 && (a <= 19 || (a >= 881 && a <= 919) || (a >= 1781 && a <= 1819));
}

// Groups the peaks round `start`; returns the group count and the index of
// the first entry that fitted no group (or -1).
int GroupPeaks(const Peak* peaks, int count, const Peak& start, int T, Group* g, int* firstDropped, bool support) {
  g[0] = {start.rho, start.angle, start.votes, static_cast<double>(start.rho), static_cast<double>(start.angle),
          static_cast<double>(start.votes), 1, 1};
  int groups = 1;
  *firstDropped = -1;
  for (int i = 1; i < count && i < kPeaks && peaks[i].votes > 9; ++i) {
    const Peak& e = peaks[i];
    if (OriginAxisLine(e)) continue;
    bool placed = false;
    for (int k = 0; k < groups && !placed; ++k) {
      Group& gr = g[k];
      const int d = e.angle - gr.angle0, ad = std::abs(d);
      if (ad <= 49 && std::abs(e.rho - gr.rho0) < T) {
        placed = true;
        if (support && ad <= 9) ++gr.support;
        if (gr.votes0 - e.votes > 8 || ad > 9) break;
        gr.sumAngle += e.angle;
        gr.sumRho += e.rho;
        gr.sumVotes += e.votes;
        ++gr.count;
      } else if (ad >= 1751 && ad <= 1849 && e.rho <= T / 2 && gr.rho0 <= T / 2) {
        placed = true;
        if (gr.votes0 - e.votes > 8 || ad < 1791 || ad > 1809) break;
        gr.sumAngle += d < 0 ? e.angle + 1800 : e.angle - 1800;
        gr.sumRho += e.rho;
        gr.sumVotes += e.votes;
        ++gr.count;
      }
    }
    if (placed) continue;
    const int D = std::abs(e.angle - g[0].angle0);
    const bool opens = groups < kGroups && ((D <= 49 && std::abs(e.rho - g[0].rho0) >= T) ||
                                            (D >= 1751 && D <= 1849 && !(e.rho <= T / 2 && g[0].rho0 <= T / 2)) ||
                                            (D >= 851 && D <= 949));
    if (opens) {
      g[groups++] = {e.rho, e.angle, e.votes, static_cast<double>(e.rho), static_cast<double>(e.angle),
                     static_cast<double>(e.votes), 1, 1};
    } else if (*firstDropped < 0) {
      *firstDropped = i;
    }
  }
  return groups;
}

bool IsOrthogonalTenths(double E) { return (E >= 450 && E < 1350) || (E >= 2250 && E < 3150); }

_STRTLINE LineOf(double meanAngle, double rho) {
  const double theta = meanAngle / 10;
  if (theta == 90 || theta == 270 || theta == -90 || theta == -270) return {0, -rho, 0, 0};
  if (theta == 0 || theta == 180 || theta == -180) return {0, 0, 1, rho};
  const double t = theta * kPi / 180;
  if (rho == 0) return {std::tan(t - kPi / 2), 0, 0, 0};
  const double b = rho / std::cos(kPi / 2 - t);
  return {(std::sin(t) * rho - b) / (rho * std::cos(t)), b, 0, 0};
}

int FitLines(int n, const PointList& ptsH, const PointList& ptsV, _STRTLINE* lines, double* skew, bool aiqc) {
  if (!gpSinCos) return 0;
  static Peak peaks[kPeaks];
  int count = 0;
  if (!VoteAndPick(n, ptsH, ptsV, peaks, &count)) return 0;
  if (count == 0 || peaks[0].votes <= 9) {
    *skew = 0;
    return 0;
  }
  for (int i = 0; i < count; ++i)
    if (peaks[i].rho < 0) {
      peaks[i].rho = -peaks[i].rho;
      peaks[i].angle = peaks[i].angle == 0 ? 0 : peaks[i].angle - 1800;
    }
  const int T = static_cast<int>((aiqc ? 7.5 : 12.5) * gd1mm + 0.5);
  if (aiqc)
    for (int i = 0; i < count; ++i) {
      Peak& p = peaks[i];
      if (p.angle >= 896 && p.angle <= 899) {
        p.angle -= 1800;
        p.rho = -p.rho;
      } else if (p.angle >= -1799 && p.angle <= -1796) {
        p.angle += 1800;
        p.rho = -p.rho;
      }
    }
  Group g[kGroups];
  int dropped;
  int groups = GroupPeaks(peaks, count, peaks[0], T, g, &dropped, aiqc);
  if (groups == 1 && dropped > 0) {
    Group g2[kGroups];
    int dropped2;
    // The second pass starts from the remembered entry and walks the list
    // again from entry 1.
    int groups2 = GroupPeaks(peaks, count, peaks[dropped], T, g2, &dropped2, aiqc);
    if (groups2 > 1) {
      std::copy(g2, g2 + groups2, g);
      groups = groups2;
    }
  }
  double meanAngle[kGroups], meanRho[kGroups];
  for (int k = 0; k < groups; ++k) {
    meanAngle[k] = g[k].sumAngle / g[k].count;
    meanRho[k] = std::fabs(g[k].sumRho) / g[k].count;
  }
  bool eligible[kGroups];
  std::fill(eligible, eligible + kGroups, true);
  const double h0 = meanAngle[0], r0 = meanRho[0];
  if (aiqc) {
    int par[kGroups], np = 0, orth[kGroups], no = 0;
    for (int k = 1; k < groups; ++k) (IsOrthogonalTenths(std::fabs(meanAngle[k] - h0)) ? orth[no++] : par[np++]) = k;
    if (np >= 2) {
      int best = par[0];
      for (int i = 1; i < np; ++i)
        if (g[par[i]].support > g[best].support) best = par[i];
      for (int i = 0; i < np; ++i) eligible[par[i]] = par[i] == best;
    }
    if (no > 2) {
      std::stable_sort(orth, orth + no, [&](int x, int y) { return g[x].support > g[y].support; });
      for (int i = 2; i < no; ++i) eligible[orth[i]] = false;
    }
  }
  int chosen[4] = {0}, nLines = 1, nOrth = 0, nPar = 0;
  double firstOrthRho = 0;
  for (int k = 1; k < groups && nLines < 4; ++k) {
    if (!eligible[k]) continue;
    const double E = std::fabs(meanAngle[k] - h0);
    if (IsOrthogonalTenths(E)) {
      if (nOrth >= 2) continue;
      if (nOrth == 1 && !(std::fabs(meanRho[k] - firstOrthRho) > T)) continue;
      if (nOrth == 0) firstOrthRho = meanRho[k];
      ++nOrth;
    } else {
      if (nPar >= 1) continue;
      const bool opposite = (meanAngle[k] < 0) != (h0 < 0);
      const double dist = opposite ? meanRho[k] + r0 : std::fabs(meanRho[k] - r0);
      if (!(dist > T)) continue;
      ++nPar;
    }
    chosen[nLines++] = k;
  }
  double sum = 0;
  const bool diagonal = (h0 > -1400 && h0 <= -1300) || (h0 > -500 && h0 <= -400) || (h0 > 400 && h0 <= 500);
  for (int i = 0; i < nLines; ++i) {
    const double t = meanAngle[chosen[i]];
    double d;
    if (diagonal)
      d = t <= -900 ? -1800 - t : (t <= 0 ? -900 - t : -t);
    else
      d = t <= -1350 ? -1800 - t : (t <= -450 ? -900 - t : (t <= 450 ? -t : 900 - t));
    sum += d;
  }
  *skew = sum / nLines / 10;
  for (int i = 0; i < nLines; ++i) lines[i] = LineOf(meanAngle[chosen[i]], meanRho[chosen[i]]);
  return nLines;
}

}  // namespace

int GetSLs(int n, const PointList& ptsH, const PointList& ptsV, _STRTLINE* lines, double* skew) {
  return FitLines(n, ptsH, ptsV, lines, skew, false);
}

int GetSLsAIQC(int n, const PointList& ptsH, const PointList& ptsV, _STRTLINE* lines, double* skew) {
  return FitLines(n, ptsH, ptsV, lines, skew, true);
}

}  // namespace fsipcrop
