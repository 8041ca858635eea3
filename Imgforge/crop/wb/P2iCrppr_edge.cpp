// Edge points on the shadow line, their refinement onto the gradient peak,
// the noise filter and the Hough line fitter of the white-background engine.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "P2iCrppr.h"

namespace p2iwb {

int32_t gbTopShadow = 0;
int32_t gbTatesujiJudge = 0;
int32_t gbOVSJudge = 0;
int8_t gcEdgeBckLevel = -32;
double gdblShadowCheckEdgeRange = 1.0;
_PROCTIME gstProcTime = {};
int32_t gnRhDiff = 25, gn1inch = 100, gnDistTh = 8, gbTopSLOK = 0, gn1500um = 0;

namespace {

inline bool Colour(const _P2IIMG* img) { return img->nBitsPerPixel == 24; }

inline bool Qualifies(const uint8_t* p, int j, int level) {
  const int v = p[j], d = p[j + 1] - p[j - 1];
  return (v < level - 6 || v > level + 6) && (d < -4 || d > 4);
}

// Both ends of a profile's run of qualifying samples.
template <class First, class Last>
void TwoEnds(int n, First first, Last last, std::vector<int>& out) {
  if (n <= 1) {
    out.push_back(1);
    return;
  }
  int a = -1;
  for (int j = 1; j <= n - 2; ++j)
    if (first(j)) {
      a = j;
      break;
    }
  if (a < 0) return;
  out.push_back(a);
  for (int j = n - 2; j >= 1; --j)
    if (last(j)) {
      if (j != a) out.push_back(j);
      break;
    }
}

bool Contains(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

// Appends (x, row) for grey, or the extremes over the channels for colour.
void AppendFound(std::vector<int>& found, bool colour, bool columns, int fixed, PointList& out) {
  if (found.empty()) return;
  auto put = [&](int v) { out.push_back(columns ? tagPOINT{fixed, v} : tagPOINT{v, fixed}); };
  if (!colour) {
    for (int v : found) put(v);
    return;
  }
  const auto mm = std::minmax_element(found.begin(), found.end());
  put(*mm.first);
  if (*mm.second != *mm.first) put(*mm.second);
}

double StepMm(int pass, bool flag) { return pass ? (flag ? 2.0 : 4.0) : (flag ? 1.0 : 2.0); }

}  // namespace

void GetEdge(const uint8_t* p, uint8_t level, int n, std::vector<int>& out) {
  auto q = [&](int j) { return Qualifies(p, j, level); };
  TwoEnds(n, q, q, out);
}

void GetEdgeRK(const uint8_t* p, uint8_t level, int, int, int n, std::vector<int>& out) {
  auto fwd = [&](int j) {
    if (!Qualifies(p, j, level)) return false;
    return p[j] > level + 6 ? p[j + 1] >= p[j - 1] : true;
  };
  auto bck = [&](int j) { return Qualifies(p, j, level); };
  TwoEnds(n, fwd, bck, out);
}

int GetEdgeV(const _P2IIMG* img, const uint8_t* /*ref1*/, const uint8_t* ref2, int pass, PointList& out, bool flag) {
  const int w = img->nWidth, h = img->nHeight;
  uint8_t* buf = static_cast<uint8_t*>(malloc(static_cast<size_t>(6) * h));
  if (!buf) return -2;
  const double step = StepMm(pass, flag);
  const bool colour = Colour(img);
  std::vector<int> found;
  for (int k = 1;; ++k) {
    const int x = static_cast<int>(k * step * img->nXResolution / 25.4);
    if (x >= w - 2) break;
    if (x <= 1) continue;
    found.clear();
    if (colour)
      StDevColumnRGB(img, x, buf + h);
    else
      GetStDevV(img, x, 0, buf, buf + h);
    for (int c = 0; c < (colour ? 3 : 1); ++c) {
      const uint8_t* profile = buf + static_cast<size_t>(c + 1) * h;
      const uint8_t level = ref2[static_cast<size_t>(c) * w + x];
      if (flag)
        GetEdgeRK(profile, level, 0, 0, h, found);
      else
        GetEdge(profile, level, h, found);
    }
    AppendFound(found, colour, true, x, out);
  }
  free(buf);
  return 0;
}

namespace {

// Whether a column's vertical profile shows any edge at its background level.
int ColumnHasEdge(const _P2IIMG* img, const uint8_t* levels, int col, int ch, uint8_t* dev, uint8_t* mean) {
  GetStDevV(img, col, ch, dev, mean);
  std::vector<int> e;
  GetEdge(mean, levels[static_cast<size_t>(ch) * img->nWidth + col], img->nHeight, e);
  return !e.empty();
}

// A column's answer depends on the column and channel alone: one search
// asks for the same few columns beside the paper's edge row after row, and
// each answer costs a walk down the whole page.
class ColumnEdges {
 public:
  explicit ColumnEdges(const _P2IIMG* img, const uint8_t* levels) : m_img(img), m_levels(levels) {}
  ~ColumnEdges() {
    free(m_dev);
    free(m_mean);
  }
  ColumnEdges(const ColumnEdges&) = delete;
  ColumnEdges& operator=(const ColumnEdges&) = delete;

  // 1 or 0; -2 without memory for the profile.
  int Has(int col, int ch) {
    const size_t key = static_cast<size_t>(ch) * m_img->nWidth + col;
    if (m_known.empty()) m_known.assign(static_cast<size_t>(3) * m_img->nWidth, -1);
    if (m_known[key] >= 0) return m_known[key];
    if (!m_dev) {
      m_dev = static_cast<uint8_t*>(malloc(static_cast<size_t>(m_img->nHeight)));
      m_mean = static_cast<uint8_t*>(malloc(static_cast<size_t>(m_img->nHeight)));
      if (!m_dev || !m_mean) return -2;
    }
    m_known[key] = static_cast<int8_t>(ColumnHasEdge(m_img, m_levels, col, ch, m_dev, m_mean));
    return m_known[key];
  }

 private:
  const _P2IIMG* m_img;
  const uint8_t* m_levels;
  std::vector<int8_t> m_known;
  uint8_t* m_dev = nullptr;
  uint8_t* m_mean = nullptr;
};

int is_point_edge(ColumnEdges& columns, const _P2IIMG* img, int x, int ch, std::vector<int>& streaks, int rowNumber,
                  int dir) {
  if (Contains(streaks, x)) return 2;
  if (rowNumber % 3 != 1) return 1;
  for (int off : {4, 8}) {
    const int col = dir == 0 ? x + off : x - off;
    if (col < 2 || col > img->nWidth - 3) return 2;
    const int has = columns.Has(col, ch);
    if (has < 0) return has;
    if (!has) {
      streaks.push_back(x);
      return 2;
    }
  }
  return 1;
}

}  // namespace

int GetEdgeH(const _P2IIMG* img, const uint8_t* /*ref1*/, const uint8_t* ref2, int pass, PointList& out, bool flag) {
  const int w = img->nWidth, h = img->nHeight;
  const bool colour = Colour(img);
  uint8_t* buf = static_cast<uint8_t*>(malloc(static_cast<size_t>(colour ? 4 : 2) * w));
  if (!buf) return -2;
  const double step = StepMm(pass, flag);
  std::vector<int> found, streakL, streakR;
  ColumnEdges columns(img, ref2);
  int rc = 0;
  for (int k = 1; rc == 0; ++k) {
    const int y = static_cast<int>(k * step * img->nYResolution / 25.4);
    if (y >= h - 2) break;
    if (y <= 1) continue;
    found.clear();
    if (colour) StDevRowRGB(img, y, buf + w);  // the three channels' profiles in one walk
    for (int c = 0; c < (colour ? 3 : 1) && rc == 0; ++c) {
      uint8_t* p = buf + w + static_cast<size_t>(c) * w;
      if (!colour) GetStDevH(img, y, c, buf, p);
      const uint8_t* lv = ref2 + static_cast<size_t>(c) * w;
      auto accept = [&](int j, int dir) -> int {
        if (!Qualifies(p, j, lv[j])) return 0;
        if (!gbTatesujiJudge) return 1;
        const int r = is_point_edge(columns, img, j, c, dir == 0 ? streakL : streakR, k, dir);
        if (r < 0) rc = r;
        return r;
      };
      int a = -1;
      for (int j = 1; j <= w - 2 && rc == 0; ++j)
        if (accept(j, 0) == 1) {
          a = j;
          break;
        }
      if (rc) break;
      if (a >= 0) found.push_back(a);
      if (a < 0 && !gbTatesujiJudge) continue;
      for (int j = w - 2; j >= 1 && rc == 0; --j)
        if (accept(j, 1) == 1) {
          if (j != a && (a >= 0 || j != 0)) found.push_back(j);
          break;
        }
    }
    if (rc == 0) AppendFound(found, colour, false, y, out);
  }
  free(buf);
  return rc;
}

// ---- peak picks ---------------------------------------------------------------------

namespace {

// `width` is what the peak test reports: nonzero for a maximum.
struct Peak {
  int value;
  int pos;
  int width;
};

}  // namespace

int GetEdgeFwd(const int* g, int n, bool colour, int* pos, bool flag) {
  *pos = -1;
  if (n < 5) return 1;
  int best = -1, bestAbs = -1;
  for (int c = 0; c < (colour ? 3 : 1); ++c) {
    const int* gc = g + c * n;
    for (int k = 2; k <= n - 3; ++k) {
      int isMax = 0;
      const int peak = flag ? IsPeak_RK(gc, k, &isMax) : IsPeak_1(gc, k, &isMax);
      if (!peak) continue;
      if (flag && g[k] > 5) {
        *pos = k;
        return 1;
      }
      const int a = std::abs(gc[k]);
      if (a > bestAbs || (a == bestAbs && k > best)) {
        bestAbs = a;
        best = k;
      }
    }
  }
  *pos = best;
  return 1;
}

int GetEdgeBck(const int* g, int n, bool colour, int early, int* pos, bool flag) {
  *pos = -1;
  if (n < 5) return early;
  std::vector<Peak> peaks;
  int best = -1, bestAbs = -1;
  for (int c = 0; c < (colour ? 3 : 1); ++c) {
    const int* gc = g + c * n;
    for (int k = n - 3; k >= 2; --k) {
      int isMax = 0;
      const int peak = flag ? IsPeak_RK(gc, k, &isMax) : IsPeak_1(gc, k, &isMax);
      if (!peak) continue;
      if (flag && early == 1 && g[k] > 5) {
        *pos = k;
        return 1;
      }
      peaks.push_back({gc[k], k, isMax});
      const int a = std::abs(gc[k]);
      if (a >= bestAbs) {
        bestAbs = a;
        best = k;
      }
    }
  }
  if (peaks.empty()) return early;
  if (early == 1) {
    *pos = best;
    return 1;
  }
  size_t i = 0;
  for (; i < peaks.size() && peaks[i].value >= gcEdgeBckLevel; ++i)
    if (flag && peaks[i].value > 5) {
      *pos = peaks[i].pos;
      return 1;
    }
  if (i == peaks.size()) return 0;
  std::stable_sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.pos < b.pos; });
  size_t k = 0;
  while (k < peaks.size() && peaks[k].value >= gcEdgeBckLevel) ++k;
  const int remembered = peaks[k].pos;
  for (size_t j = k + 1; j < peaks.size(); ++j)
    if (peaks[j].value > 0 && peaks[j].width != 0) {
      *pos = peaks[j].pos;
      return 1;
    }
  *pos = remembered - gn1500um;
  return 1;
}

bool TooBright(const uint8_t* ave, int n, bool colour, int sel) {
  static const int kThr[] = {0, 224, 242, 253}, kRun[] = {0, 2, 2, 3};
  if (sel < 1 || sel > 3) return false;
  const uint8_t* p = colour ? ave + n : ave;
  int run = 0;
  for (int i = 0; i < n; ++i) {
    run = p[i] >= kThr[sel] ? run + 1 : 0;
    if (run >= kRun[sel]) return true;
  }
  return false;
}

// ---- refiners -------------------------------------------------------------------------

namespace {

// A shadow a few pixels thin leaves no rise that the forward pick's peak
// test takes for the paper (the fall into the shadow comes right before
// it), and the pick falls back on the strongest sample: that fall, the
// shadow's outer edge. Past a fall of 17 levels or more, the paper starts
// at the middle of the rise (first channel, above 5) that follows within
// `span` samples; without one the pick stands.
int OutOfShadow(const int* g, int n, int pos, int span) {
  if (g[pos] > -17) return pos;
  int a = pos + 1;
  const int last = std::min(pos + span, n - 2);
  while (a <= last && g[a] <= 5) ++a;
  if (a > last) return pos;
  int b = a;
  while (b + 1 <= n - 2 && g[b + 1] > 5) ++b;
  return (a + b) / 2;
}

int Window(int s, int w, int limit) {
  s = std::max(1, s);
  if (s + w >= limit - 1) s = limit - 1 - w;
  return s;
}

}  // namespace

int GetEdgeH(const _P2IIMG* img, PointList& pts, const _STRTLINE& left, const _STRTLINE& right, bool flag) {
  const int w = static_cast<int>(img->nXResolution * 6 / 25.4);
  const bool colour = Colour(img);
  const int chs = colour ? 3 : 1;
  if (w < 5 || w + 2 >= img->nWidth) return 0;
  uint8_t* ave = static_cast<uint8_t*>(malloc(static_cast<size_t>(chs) * w));
  int* g = static_cast<int*>(malloc(sizeof(int) * static_cast<size_t>(chs) * w));
  if (!ave || !g) {
    free(ave);
    free(g);
    return -2;
  }
  for (tagPOINT& p : pts) {
    const bool isLeft = GetDistance_1(p, left) < GetDistance_1(p, right);
    const int x = static_cast<int>(p.x);
    const int s = Window(isLeft ? x - w / 4 : x + w / 4 - w, w, img->nWidth);
    const int row = std::clamp(static_cast<int>(p.y), 1, img->nHeight - 2);
    GetAveH(img, row, s, w, ave);
    int pos = -1;
    if (isLeft) {
      GetGradFwd(ave, w, colour, g);
      GetEdgeFwd(g, w, colour, &pos, flag);
    } else {
      GetGradBck(ave, w, colour, g);
      GetEdgeBck(g, w, colour, 1, &pos, flag);
    }
    p.x = s + pos;
  }
  free(ave);
  free(g);
  return 0;
}

int GetEdgeV(const _P2IIMG* img, PointList& pts, const _STRTLINE& top, const _STRTLINE& bottom, bool flag, int sel) {
  const int wt = static_cast<int>(img->nYResolution * 4.8 / 25.4), wb = static_cast<int>(img->nYResolution * 6.5 / 25.4);
  gn1500um = static_cast<int>(img->nXResolution * 1.5 / 25.4);
  const bool colour = Colour(img);
  const int chs = colour ? 3 : 1;
  const int wm = std::max(wt, wb);
  if (wt < 5 || wm + 2 >= img->nHeight) return 0;
  uint8_t* ave = static_cast<uint8_t*>(malloc(static_cast<size_t>(chs) * wm));
  int* g = static_cast<int*>(malloc(sizeof(int) * static_cast<size_t>(chs) * wm));
  if (!ave || !g) {
    free(ave);
    free(g);
    return -2;
  }
  const int down = flag ? static_cast<int>(img->nYResolution * 1.5 / 25.4 + 0.5)
                        : static_cast<int>(img->nYResolution * 2 / 25.4 + 0.5);
  const int shadowSpan = static_cast<int>(img->nYResolution / 25.4) + 2;
  PointList kept;
  kept.reserve(pts.size());
  for (tagPOINT p : pts) {
    const int col = std::clamp(static_cast<int>(p.x), 1, img->nWidth - 2);
    const int row = static_cast<int>(p.y);
    if (GetDistance_1(p, top) < GetDistance_1(p, bottom)) {
      const int s = Window(row - wt / 4, wt, img->nHeight);
      GetAveV(img, col, s, wt, ave);
      GetGradFwd(ave, wt, colour, g);
      int pos = -1;
      GetEdgeFwd(g, wt, colour, &pos, flag);
      if (flag && pos >= 0) pos = OutOfShadow(g, wt, pos, shadowSpan);
      p.y = TooBright(ave, wt, colour, sel) ? row + down : s + pos;
      kept.push_back(p);
    } else {
      const int s = Window(row + wb / 4 - wb, wb, img->nHeight);
      GetAveV(img, col, s, wb, ave);
      GetGradBck(ave, wb, colour, g);
      int pos = -1;
      int found = GetEdgeBck(g, wb, colour, 0, &pos, flag);
      if (!found && flag) found = GetEdgeBck(g, wb, colour, 1, &pos, flag);
      if (found) {
        p.y = s + pos;
        kept.push_back(p);
      }
    }
  }
  pts.swap(kept);
  free(ave);
  free(g);
  return 0;
}

// ---- noise filter ---------------------------------------------------------------------

void RemoveNoiseEdgeH(PointList& list, int cell, int cells) {
  if (cell <= 0 || cells <= 0) return;
  std::vector<int> count(static_cast<size_t>(cells) + 1, 0);
  auto idx = [&](const tagPOINT& p) { return std::clamp(static_cast<int>(p.x / cell), 0, cells); };
  for (const auto& p : list) ++count[static_cast<size_t>(idx(p))];
  list.erase(std::remove_if(list.begin(), list.end(), [&](const tagPOINT& p) { return count[static_cast<size_t>(idx(p))] == 1; }),
             list.end());
}

void RemoveNoiseEdgeV(PointList& list, int cell, int cells) {
  if (cell <= 0 || cells <= 0) return;
  std::vector<int> count(static_cast<size_t>(cells) + 1, 0);
  auto idx = [&](const tagPOINT& p) { return std::clamp(static_cast<int>(p.y / cell), 0, cells); };
  for (const auto& p : list) ++count[static_cast<size_t>(idx(p))];
  list.erase(std::remove_if(list.begin(), list.end(), [&](const tagPOINT& p) { return count[static_cast<size_t>(idx(p))] == 1; }),
             list.end());
}

void RemoveNoiseEdge(const _P2IIMG* img, PointList& lr, PointList& tb, double mm) {
  const int cx = static_cast<int>(img->nXResolution * mm / 25.4 + 0.5);
  const int cy = static_cast<int>(img->nYResolution * mm / 25.4 + 0.5);
  if (cx > 0) RemoveNoiseEdgeH(lr, cx, (img->nWidth + cx - 1) / cx);
  if (cy > 0) RemoveNoiseEdgeV(tb, cy, (img->nHeight + cy - 1) / cy);
}

// ---- Hough fitter -----------------------------------------------------------------------

namespace {

using Cell = HoughCell;

struct Cluster {
  Cell first;
  double votes = 0, angle = 0, rho = 0;
  int count = 0;
  void Add(double v, double a, double r) {
    votes += v;
    angle += a;
    rho += r;
    ++count;
  }
};

inline int64_t RoundAway(double v) { return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5); }

// Groups the strongest cells into at most eight clusters, cluster 1 opened
// by cells[start].
std::vector<Cluster> Group(const std::vector<Cell>& cells, size_t start, int threshold, int W, const std::vector<bool>& skip,
                           int* firstDropped) {
  std::vector<Cluster> cl;
  const Cell& c1 = cells[start];
  cl.push_back({c1});
  cl.back().Add(c1.votes, c1.angle, c1.rho);
  *firstDropped = -1;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i == start || skip[i]) continue;
    const Cell& c = cells[i];
    if (c.votes < threshold) break;
    bool handled = false;
    for (Cluster& k : cl) {
      const int da = std::abs(c.angle - k.first.angle);
      const bool near = da <= W && std::abs(c.rho - k.first.rho) <= gn1inch;
      const bool wrap = 1800 - da <= W && std::abs(std::abs(c.rho) - std::abs(k.first.rho)) <= gnRhDiff;
      if (!near && !wrap) continue;
      handled = true;
      const bool across = da >= 1791;
      const int rho = across ? -c.rho : c.rho;
      const int angle = across ? (c.angle > k.first.angle ? c.angle - 1800 : c.angle + 1800) : c.angle;
      if (c.votes >= k.first.votes - 8 && std::abs(rho - k.first.rho) < gnRhDiff && std::abs(angle - k.first.angle) <= 9)
        k.Add(c.votes, angle, rho);
      break;
    }
    if (handled) continue;
    const int d1 = std::abs(c.angle - c1.angle);
    const bool crossing = std::abs(d1 - 900) <= W;
    const bool opposite = std::abs(d1 - 1800) <= W && (std::abs(c.rho) > gnRhDiff / 2 || std::abs(c1.rho) > gnRhDiff / 2);
    const bool parallel = d1 <= W && std::abs(c.rho - c1.rho) >= gn1inch;
    if ((crossing || opposite || parallel) && cl.size() < 8) {
      cl.push_back({c});
      cl.back().Add(c.votes, c.angle, c.rho);
    } else if (*firstDropped < 0) {
      *firstDropped = static_cast<int>(i);
    }
  }
  return cl;
}

}  // namespace

// The votes are counted one angle at a time, in a column of rho that stays
// in the cache; a column's cells are final when it is done, so the cells
// that can still be among the 384 strongest are picked as the columns come.
// The cells, votes and order are those of the full 2R x 1800 table: the
// strongest first, among equals the lower rho, then the lower angle.
int HoughCells(int R, int d, const PointList& lr, const PointList& tb, std::vector<HoughCell>* out) {
  out->clear();
  if (!gpSinCos_1 && MakeSinCosTbl() != 0) return -2;
  const int64_t rows = 2 * static_cast<int64_t>(R);
  std::vector<double> xs, ys;
  xs.reserve(lr.size() + tb.size());
  ys.reserve(lr.size() + tb.size());
  double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  for (const PointList* list : {&lr, &tb})
    for (const tagPOINT& p : *list) {
      const double x = static_cast<double>(p.x), y = -static_cast<double>(p.y);
      if (xs.empty()) x0 = x1 = x, y0 = y1 = y;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      xs.push_back(x);
      ys.push_back(y);
    }
  if (xs.empty()) return 0;
  const double margin = 2 + 1e-9 * (std::max(std::fabs(x0), std::fabs(x1)) + std::max(std::fabs(y0), std::fabs(y1)));
  double lo = INFINITY, hi = -INFINITY;
  for (int j = 0; j < 1800; j += d) {
    const double c = gpSinCos_1[j].dCos, s = gpSinCos_1[j].dSin;
    for (double v : {x0 * c + y0 * s, x0 * c + y1 * s, x1 * c + y0 * s, x1 * c + y1 * s})
      lo = std::min(lo, v), hi = std::max(hi, v);
  }
  const int64_t first = std::max<int64_t>(0, static_cast<int64_t>(std::floor(lo - margin)) + R);
  const int64_t last = std::min<int64_t>(rows - 1, static_cast<int64_t>(std::ceil(hi + margin)) + R);
  if (first > last) return 0;
  const size_t span = static_cast<size_t>(last - first + 1);
  const size_t n = xs.size();
  // Rounded rho fits 32 bits when the points and the offset are this small;
  // beyond it every rho is rounded one by one in 64 bits.
  constexpr double kSmall = 1 << 29;
  const int64_t offset = R - first;
  const bool small = std::max({std::fabs(x0), std::fabs(x1), std::fabs(y0), std::fabs(y1)}) < kSmall &&
                     std::abs(offset) < static_cast<int64_t>(kSmall);
  std::vector<uint32_t> counts(span, 0);
  std::vector<int32_t> rho(n);
  size_t hist[256] = {};
  int floorVotes = 1;  // no cell under it can be among the 384 strongest
  auto raiseFloor = [&] {
    int f = 255;
    size_t have = 0;
    while (f > 1 && have + hist[f] < 384) have += hist[f--];
    floorVotes = f;
  };
  std::vector<HoughCell> kept;
  for (int j = 0; j < 1800; j += d) {
    const double c = gpSinCos_1[j].dCos, s = gpSinCos_1[j].dSin;
    if (small) {
      RhoIndices(xs.data(), ys.data(), n, c, s, static_cast<int32_t>(offset), rho.data());
    } else {
      for (size_t i = 0; i < n; ++i) {
        const int64_t r = RoundAway(xs[i] * c + ys[i] * s) + offset;
        rho[i] = r >= 0 && r < static_cast<int64_t>(span) ? static_cast<int32_t>(r) : -1;
      }
    }
    size_t low = span, high = 0;
    for (size_t i = 0; i < n; ++i) {
      const size_t r = static_cast<uint32_t>(rho[i]);
      if (r >= span) continue;  // outside [0, 2R) too
      ++counts[r];
      low = std::min(low, r), high = std::max(high, r);
    }
    for (size_t r = low; r <= high && low < span; ++r) {
      if (!counts[r]) continue;
      const int v = static_cast<int>(std::min<uint32_t>(counts[r], 255));
      counts[r] = 0;
      ++hist[v];
      if (v >= floorVotes) kept.push_back({v, j, static_cast<int>(first + static_cast<int64_t>(r)) - R});
    }
    raiseFloor();
    if (kept.size() > 8192)
      kept.erase(std::remove_if(kept.begin(), kept.end(), [&](const HoughCell& k) { return k.votes < floorVotes; }),
                 kept.end());
  }
  for (const HoughCell& k : kept)
    if (k.votes >= floorVotes) out->push_back(k);
  std::sort(out->begin(), out->end(), [](const HoughCell& a, const HoughCell& b) {
    if (a.votes != b.votes) return a.votes > b.votes;
    return a.rho != b.rho ? a.rho < b.rho : a.angle < b.angle;
  });
  if (out->size() > 384) out->resize(384);
  return 0;
}

int GetStraightLine(int s, const PointList& lr, const PointList& tb, double scale, int fine, _STRTLINE* lines,
                    double* skew, bool flag) {
  if (!gpSinCos_1 && MakeSinCosTbl() != 0) return -2;
  const int R = static_cast<int>(s * 1.4142135623730951);
  if (R <= 0) return 0;
  const size_t rows = static_cast<size_t>(2) * R;
  if (rows * 1800 > UINT32_MAX) return -2;
  std::vector<Cell> cells;
  if (HoughCells(R, fine ? 2 : 10, lr, tb, &cells) != 0) return -2;
  const int threshold = flag ? 6 : 7;
  if (cells.empty() || cells[0].votes < threshold) return 0;
  std::vector<bool> skip(cells.size(), false);
  size_t start = cells.size();
  for (size_t i = 0; i < cells.size(); ++i) {
    const int a = cells[i].angle;
    skip[i] = cells[i].rho == 0 && (a <= 19 || std::abs(a - 900) <= 19 || a >= 1781);
    if (!skip[i] && start == cells.size()) start = i;
  }
  if (start == cells.size() || cells[start].votes < threshold) return 0;
  const int W = fine ? 30 : 50;
  int dropped = -1;
  std::vector<Cluster> cl = Group(cells, start, threshold, W, skip, &dropped);
  if (cl.size() == 1 && dropped >= 0) cl = Group(cells, static_cast<size_t>(dropped), threshold, W, skip, &dropped);

  struct Line {
    double angle, rho, votes;
    int opening;
  };
  std::vector<Line> ls;
  for (const Cluster& k : cl) {
    Line l{k.angle / k.count, k.rho / k.count, k.votes / k.count, k.first.votes};
    if (l.angle < 0) {
      l.angle -= 1800;
      l.rho = -l.rho;
    }
    ls.push_back(l);
  }
  std::vector<Line> pick{ls[0]};
  bool haveParallel = false;
  int crossing = -1, crossings = 0;
  for (size_t i = 1; i < ls.size() && pick.size() < 4; ++i) {
    const double da = std::fabs(ls[i].angle - ls[0].angle);
    const bool parallel = da < 450 || (da >= 1350 && da <= 2250) || da >= 3150;
    if (parallel) {
      if (haveParallel) continue;
      const bool opposite = (ls[i].angle < 0) != (ls[0].angle < 0);
      const double gap = opposite ? std::fabs(ls[i].rho + ls[0].rho) : std::fabs(ls[i].rho - ls[0].rho);
      if (gap > gnRhDiff) {
        pick.push_back(ls[i]);
        haveParallel = true;
      }
    } else if (crossings == 0) {
      crossing = static_cast<int>(pick.size());
      pick.push_back(ls[i]);
      crossings = 1;
    } else if (crossings == 1 && std::fabs(ls[i].rho - pick[static_cast<size_t>(crossing)].rho) > gnRhDiff) {
      pick.push_back(ls[i]);
      crossings = 2;
    }
  }
  if (fine) {
    int first = -1, last = -1;
    for (size_t i = 0; i < pick.size(); ++i) {
      const double a = std::fabs(pick[i].angle);
      if (a > 450 && a < 1350) {
        if (first < 0) first = static_cast<int>(i);
        last = static_cast<int>(i);
      }
    }
    if (first >= 0 && last != first) {
      const Line& a = pick[static_cast<size_t>(first)];
      const Line& b = pick[static_cast<size_t>(last)];
      const Line& lo = a.rho < b.rho ? a : b;
      const Line& hi = a.rho < b.rho ? b : a;
      gbTopSLOK = lo.opening > hi.opening / 2.0 ? 1 : 0;
    }
  }
  for (Line& l : pick) {
    if (l.rho < 0) {
      l.rho = -l.rho;
      l.angle -= 1800;
    }
    if (scale != 1.0) l.rho *= scale;
  }
  const double a1 = pick[0].angle;
  const bool alt = (a1 > -1400 && a1 <= -1300) || (a1 > -500 && a1 <= -400) || (a1 > 400 && a1 <= 500);
  double sum = 0;
  for (const Line& l : pick) {
    const double a = l.angle;
    if (!alt)
      sum += a <= -1350 ? -1800 - a : a <= -450 ? -900 - a : a <= 450 ? -a : 900 - a;
    else
      sum += a <= -900 ? -1800 - a : a <= 0 ? -900 - a : -a;
  }
  *skew = sum / static_cast<double>(pick.size()) / 10.0;
  for (size_t i = 0; i < pick.size(); ++i) {
    const double a = pick[i].angle, r = pick[i].rho;
    const double t = a * 3.141592654 / 1800;
    _STRTLINE& out = lines[i];
    if (a == 0 || a == 1800 || a == -1800) {
      out = {0, 0, 1, a == 0 ? r : -r};
    } else if (r == 0) {
      out = {std::tan(t - 3.141592654 / 2), 0, 0, 0};
    } else {
      out = {-std::cos(t) / std::sin(t), r / std::sin(t), 0, 0};
    }
  }
  return static_cast<int>(pick.size());
}

bool IsTopSnsEnb(const _STRTLINE* lines, uint32_t col) {
  tagPOINT a{}, b{};
  if (!GetXPoint(lines[0], lines[3], &a) || !GetXPoint(lines[2], lines[3], &b)) return false;
  return static_cast<uint32_t>(a.x) <= col && col <= static_cast<uint32_t>(b.x);
}

}  // namespace p2iwb
