// Geometry of the deskew-and-crop engine: crossings, distances, the
// enclosing rectangle of four sides, orders of sides and corners, scaling
// and the corner search on edge lists.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "I3ipDeskewCropping.h"

namespace i3ipdc {

int64_t RoundHalfAway(double v) {
  // Parallel lines cross at infinity: keep the result finite.
  if (!std::isfinite(v)) return v < 0 ? -(int64_t{1} << 40) : (int64_t{1} << 40);
  v = std::clamp(v, -1e15, 1e15);
  return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5);
}

double LineAngle(const _LINE& l) {
  if (l.bVert) return M_PI / 2;
  if (l.dA == 0) return 0;
  return std::atan(l.dA);
}

void CrossingOf(const _LINE& a, const _LINE& b, double* xOut, double* yOut) {
  double x, y;
  if (a.bVert) {
    x = a.dX;
    y = b.dA * x + b.dB;
  } else if (a.dA == 0) {
    y = a.dB;
    x = b.bVert ? b.dX : (a.dB - b.dB) / b.dA;
  } else if (b.bVert) {
    x = b.dX;
    y = a.dB + a.dA * x;
  } else {
    x = (b.dB - a.dB) / (a.dA - b.dA);
    y = b.dA * x + b.dB;
  }
  *xOut = x;
  *yOut = y;
}

void GetVertex(const _LINE& a, const _LINE& b, tagPOINT* p) {
  double x, y;
  CrossingOf(a, b, &x, &y);
  p->x = RoundHalfAway(x);
  p->y = RoundHalfAway(y);
}

void GetVertex(const _LINE& a, const _LINE& b, _EDGE* p) {
  tagPOINT t;
  GetVertex(a, b, &t);
  p->x = static_cast<int32_t>(t.x);
  p->y = static_cast<int32_t>(t.y);
}

double GetDistance_New(tagPOINT pt, const _LINE& line) {
  const double x = static_cast<double>(pt.x), Y = -static_cast<double>(pt.y);
  if (line.bVert) return std::fabs(x - line.dX);
  if (line.dA == 0) return std::fabs(Y - line.dB);
  const _LINE perp{false, 0, -1 / line.dA, Y + x / line.dA};
  tagPOINT foot;
  GetVertex(line, perp, &foot);
  return std::hypot(x - static_cast<double>(foot.x), Y - static_cast<double>(foot.y));
}

double GetDistance_New(_EDGE pt, const _LINE& line) { return GetDistance_New(tagPOINT{pt.x, pt.y}, line); }

double GetDistance_New(tagPOINT a, tagPOINT b) {
  return std::hypot(static_cast<double>(a.x - b.x), static_cast<double>(a.y - b.y));
}

double GetDistance_New(_EDGE a, _EDGE b) { return std::hypot(double(a.x) - b.x, double(a.y) - b.y); }

bool IsTooDeep(const _LINE& line, tagPOINT pt, double dpmm) { return GetDistance_New(pt, line) > 40 * dpmm; }

double OriginDistance(const _LINE& l) { return GetDistance_New(tagPOINT{0, 0}, l); }

void SortLines(_LINE* lines) {
  int steep[4], nSteep = 0, flat[4], nFlat = 0;
  for (int i = 0; i < 4; ++i) {
    if ((lines[i].bVert || std::fabs(lines[i].dA) > 1) && nSteep < 2)
      steep[nSteep++] = i;
    else
      flat[nFlat++] = i;
  }
  _LINE out[4] = {};
  if (nFlat >= 2) {
    const _LINE &p = lines[flat[0]], &q = lines[flat[1]];
    out[1] = p.dB > q.dB ? q : p;
    out[3] = p.dB > q.dB ? p : q;
  }
  const auto crossX = [](const _LINE& l) { return l.bVert ? l.dX : -l.dB / l.dA; };
  if (nSteep == 2) {
    const _LINE &p = lines[steep[0]], &q = lines[steep[1]];
    const bool pLeft = crossX(p) <= crossX(q);
    out[0] = pLeft ? p : q;
    out[2] = pLeft ? q : p;
  } else if (nSteep == 1) {
    out[0] = lines[steep[0]];
  }
  std::copy(out, out + 4, lines);
}

namespace {

// Position of the parallel line through p within a family of direction d:
// larger is farther right (steep families) or higher (flat ones).
double FamilyKey(const _LINE& dir, tagPOINT p) {
  const double x = static_cast<double>(p.x), Y = static_cast<double>(p.y);
  if (dir.bVert) return x;
  if (std::fabs(dir.dA) > 1) return x - Y / dir.dA;
  return Y - dir.dA * x;
}

_LINE Through(const _LINE& dir, double key) {
  if (dir.bVert) return _LINE{true, key, 0, 0};
  if (std::fabs(dir.dA) > 1) return _LINE{false, 0, dir.dA, -dir.dA * key};
  return _LINE{false, 0, dir.dA, key};
}

// Places the opposite sides s and t of one family through their corners
// (s through c0 or c1, t through c2 or c3; c0 and c2 lie on one crossing
// line): outermost corners for the enclosing rectangle, innermost for the
// inner one.
void PlacePair(const _LINE& dir, tagPOINT c0, tagPOINT c1, tagPOINT c2, tagPOINT c3, bool inner, _LINE* s,
               _LINE* t) {
  const double k0 = FamilyKey(dir, c0), k1 = FamilyKey(dir, c1), k2 = FamilyKey(dir, c2), k3 = FamilyKey(dir, c3);
  const bool sLow = k0 <= k2;
  const double sLo = std::min(k0, k1), sHi = std::max(k0, k1), tLo = std::min(k2, k3), tHi = std::max(k2, k3);
  double ks, kt;
  if (sLow) {
    ks = inner ? sHi : sLo;
    kt = inner ? tLo : tHi;
  } else {
    ks = inner ? sLo : sHi;
    kt = inner ? tHi : tLo;
  }
  *s = Through(dir, ks);
  *t = Through(dir, kt);
}

}  // namespace

void MakeRect(_LINE* lines, bool inner) {
  const double a0 = LineAngle(lines[0]) * 180 / M_PI;
  const bool signedCmp = std::fabs(a0) >= 15 && std::fabs(a0) <= 75;
  const auto key = [&](const _LINE& l) {
    const double a = LineAngle(l) * 180 / M_PI;
    return signedCmp ? a : std::fabs(a);
  };
  int partner = 1;
  double best = 1e300;
  for (int i = 1; i < 4; ++i) {
    const double d = std::fabs(key(lines[i]) - key(lines[0]));
    if (d < best) {
      best = d;
      partner = i;
    }
  }
  int others[2], no = 0;
  for (int i = 1; i < 4; ++i)
    if (i != partner) others[no++] = i;
  const _LINE w[4] = {lines[0], lines[others[0]], lines[partner], lines[others[1]]};
  tagPOINT v[4];
  GetVertex(w[0], w[1], &v[0]);
  GetVertex(w[0], w[3], &v[1]);
  GetVertex(w[2], w[1], &v[2]);
  GetVertex(w[2], w[3], &v[3]);
  _LINE dir = w[0], perp{};
  if (dir.bVert)
    dir = _LINE{true, 0, 0, 0}, perp = _LINE{false, 0, 0, 0};
  else if (dir.dA == 0)
    perp = _LINE{true, 0, 0, 0};
  else
    perp = _LINE{false, 0, -1 / dir.dA, 0};
  _LINE out[4];
  PlacePair(dir, v[0], v[1], v[2], v[3], inner, &out[0], &out[2]);
  PlacePair(perp, v[0], v[2], v[1], v[3], inner, &out[1], &out[3]);
  std::copy(out, out + 4, lines);
  SortLines(lines);
}

void MakeConvertList(const _LINE* lines, const _LINE* sorted, int* map) {
  double aL[4], dL[4], aS[4], dS[4];
  const auto dist = [](const _LINE& l) { return l.bVert ? std::fabs(l.dX) : l.dA == 0 ? std::fabs(l.dB) : OriginDistance(l); };
  for (int i = 0; i < 4; ++i) {
    aL[i] = LineAngle(lines[i]);
    dL[i] = dist(lines[i]);
    aS[i] = LineAngle(sorted[i]);
    dS[i] = dist(sorted[i]);
  }
  const double e = std::fabs(aS[0]);
  const bool nearAxis = e > 7 * M_PI / 16 || e < M_PI / 16;
  const auto diff = [&](double ref, double a) { return nearAxis ? std::fabs(ref - std::fabs(a)) : std::fabs(ref - a); };
  const double ref = nearAxis ? e : aS[0];
  int b = 1;
  double best = 1e300;
  for (int i = 1; i < 4; ++i)
    if (diff(ref, aS[i]) < best) best = diff(ref, aS[i]), b = i;
  int pair[2] = {-1, -1}, np = 0;
  for (int k = 0; k < 4 && np < 2; ++k)
    if (diff(ref, aL[k]) < M_PI / 4) pair[np++] = k;
  if (np < 2) {
    // No two lines share the first side's direction: keep the order.
    for (int j = 0; j < 4; ++j) map[j] = j;
    return;
  }
  if (e > 3 * M_PI / 16 && e < 5 * M_PI / 16) {
    for (int i = 0; i < 4; ++i) {
      if (!lines[i].bVert && lines[i].dA != 0 && lines[i].dB < 0) dL[i] = -dL[i];
      if (!sorted[i].bVert && sorted[i].dA != 0 && sorted[i].dB < 0) dS[i] = -dS[i];
    }
  }
  const bool firstCloser = std::fabs(dL[pair[0]] - dS[0]) <= std::fabs(dL[pair[1]] - dS[0]);
  map[0] = firstCloser ? pair[0] : pair[1];
  map[b] = firstCloser ? pair[1] : pair[0];
  int o[2], no = 0, g[2], ng = 0;
  for (int j = 1; j < 4; ++j)
    if (j != b) o[no++] = j;
  for (int k = 0; k < 4; ++k)
    if (k != pair[0] && k != pair[1]) g[ng++] = k;
  const bool g1 = std::fabs(dL[g[0]] - dS[o[0]]) <= std::fabs(dL[g[1]] - dS[o[0]]);
  map[o[0]] = g1 ? g[0] : g[1];
  map[o[1]] = g1 ? g[1] : g[0];
}

void SortPoints(tagPOINT* p) {
  std::stable_sort(p, p + 4, [](const tagPOINT& a, const tagPOINT& b) { return a.x < b.x; });
  if (p[0].y > p[1].y) std::swap(p[0], p[1]);
  if (p[2].y < p[3].y) std::swap(p[2], p[3]);
}

void ScaleLines(_LINE* lines, int count, double scale) {
  for (int i = 0; i < count; ++i) {
    if (lines[i].bVert)
      lines[i].dX /= scale;
    else
      lines[i].dB /= scale;
  }
}

void ShiftLines(_LINE* lines, int count, double dx, double dy) {
  for (int i = 0; i < count; ++i) {
    if (lines[i].bVert)
      lines[i].dX -= dx;
    else
      lines[i].dB = lines[i].dB - dy + dx * lines[i].dA;
  }
}

void ScaleEdges(PointList* lists, double scale) {
  for (int s = 0; s < 4; ++s)
    for (tagPOINT& p : lists[s]) {
      p.x = static_cast<int64_t>(static_cast<double>(p.x) / scale + 0.5);
      p.y = static_cast<int64_t>(static_cast<double>(p.y) / scale + 0.5);
    }
}

void ShiftEdges(PointList* lists, double dx, double dy) {
  for (int s = 0; s < 4; ++s)
    for (tagPOINT& p : lists[s]) {
      p.x -= static_cast<int64_t>(dx + 0.5);
      p.y -= static_cast<int64_t>(dy + 0.5);
    }
}

bool IsSamePoint(tagPOINT a, tagPOINT b) { return a.x == b.x && a.y == b.y; }
bool IsSamePoint(_EDGE a, _EDGE b) { return a.x == b.x && a.y == b.y; }
bool IsNeighbor(_EDGE a, _EDGE b) { return std::abs(a.x - b.x) <= 1 && std::abs(a.y - b.y) <= 1 && !IsSamePoint(a, b); }

namespace {

_EDGE Mid(const _EDGE& a, const _EDGE& b) { return _EDGE{(a.x + b.x) >> 1, (a.y + b.y) >> 1, b.nMark}; }

}  // namespace

void ScaleEdges(EdgeList* lists, double scale) {
  for (int s = 0; s < 4; ++s) {
    EdgeList& l = lists[s];
    for (_EDGE& p : l) {
      p.x = static_cast<int32_t>(p.x / scale + 0.5);
      p.y = static_cast<int32_t>(p.y / scale + 0.5);
    }
    if (scale > 1) {
      l.erase(std::unique(l.begin(), l.end(), [](const _EDGE& a, const _EDGE& b) { return IsSamePoint(a, b); }),
              l.end());
    } else if (l.size() > 1) {
      EdgeList filled;
      filled.reserve(l.size() * 2);
      for (size_t i = 0; i < l.size(); ++i) {
        if (i) filled.push_back(Mid(l[i - 1], l[i]));
        filled.push_back(l[i]);
      }
      l.swap(filled);
    }
  }
  if (scale <= 1) {
    // Each side's end meets the next side's start with a midpoint between.
    for (int s = 0; s < 4; ++s) {
      EdgeList &a = lists[s], &b = lists[(s + 1) % 4];
      if (!a.empty() && !b.empty()) a.push_back(Mid(a.back(), b.front()));
    }
  }
}

void ShiftEdges(EdgeList* lists, double dx, double dy) {
  for (int s = 0; s < 4; ++s)
    for (_EDGE& p : lists[s]) {
      p.x -= static_cast<int32_t>(dx + 0.5);
      p.y -= static_cast<int32_t>(dy + 0.5);
    }
}

namespace {

// Nearest point of two lists to ref, each walked from its front or back;
// the first nearest in walking order and the first list win ties.
template <class L>
bool NearestOf(const L& a, bool aBack, const L& b, bool bBack, tagPOINT ref, int* list, size_t* index) {
  double best = 99999;
  bool found = false;
  const L* lists[2] = {&a, &b};
  const bool back[2] = {aBack, bBack};
  for (int li = 0; li < 2; ++li) {
    const L& l = *lists[li];
    for (size_t k = 0; k < l.size(); ++k) {
      const size_t i = back[li] ? l.size() - 1 - k : k;
      const double d = std::hypot(double(l[i].x) - double(ref.x), double(l[i].y) - double(ref.y));
      if (d < best) {
        best = d;
        *list = li;
        *index = i;
        found = true;
      }
    }
  }
  return found;
}

// The corner is moved to the given end of its list and the points beyond
// it to the matching end of the other list, so both lists meet there.
template <class L>
void MoveAround(L& a, L& b, int list, size_t index, bool atFront, bool otherAtFront) {
  L& own = list == 0 ? a : b;
  L& other = list == 0 ? b : a;
  if (atFront) {
    for (size_t k = 0; k < index; ++k) {
      auto p = own.front();
      own.erase(own.begin());
      if (otherAtFront)
        other.insert(other.begin(), p);
      else
        other.push_back(p);
    }
  } else {
    const size_t beyond = own.size() - 1 - index;
    for (size_t k = 0; k < beyond; ++k) {
      auto p = own.back();
      own.pop_back();
      if (otherAtFront)
        other.insert(other.begin(), p);
      else
        other.push_back(p);
    }
  }
}

template <class L>
bool Corner(L& a, L& b, tagPOINT ref, bool aBack, bool bBack) {
  int list = 0;
  size_t index = 0;
  if (!NearestOf(a, aBack, b, bBack, ref, &list, &index)) return false;
  const bool ownBack = list == 0 ? aBack : bBack, otherBack = list == 0 ? bBack : aBack;
  MoveAround(a, b, list, index, !ownBack, !otherBack);
  return true;
}

}  // namespace

bool GetULCorner(PointList& first, PointList& second, tagPOINT ref) { return Corner(first, second, ref, false, false); }
bool GetLLCorner(PointList& first, PointList& second, tagPOINT ref) { return Corner(first, second, ref, true, false); }
bool GetLRCorner(PointList& first, PointList& second, tagPOINT ref) { return Corner(first, second, ref, true, false); }
bool GetURCorner(PointList& first, PointList& second, tagPOINT ref) { return Corner(first, second, ref, false, true); }

bool GetULCorner(EdgeList& first, EdgeList& second, tagPOINT ref, int step) {
  if (!Corner(first, second, ref, false, false)) return false;
  while (!first.empty() && !second.empty()) {
    const _EDGE head = first.front();
    auto m = std::find_if(second.begin(), second.end(), [&](const _EDGE& e) { return e.x == head.x + step; });
    if (m == second.end()) break;
    if (m->y + step >= head.y) break;
    first.insert(first.begin(), second.front());
    second.erase(second.begin());
  }
  return true;
}
bool GetLLCorner(EdgeList& first, EdgeList& second, tagPOINT ref) { return Corner(first, second, ref, true, false); }
bool GetLRCorner(EdgeList& first, EdgeList& second, tagPOINT ref) { return Corner(first, second, ref, true, false); }
bool GetURCorner(EdgeList& first, EdgeList& second, tagPOINT ref) { return Corner(first, second, ref, false, true); }

}  // namespace i3ipdc
