// Judgements on a page's four lines: which lines a duplex face borrows from
// the other face, whether a page has a folded corner, whether a crop is poor.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "FsipCrop_ph.h"

namespace fsipcrop {

namespace {

// Corners of four lines as top-left, bottom-left, bottom-right, top-right
// (y up); false when the lines make no quadrilateral.
bool Corners(const _STRTLINE* lines, tagPOINT* c) {
  _STRTLINE copy[4];
  std::copy(lines, lines + 4, copy);
  MakeRect(copy);
  tagPOINT p[4];
  if (!GetAllXPts4(copy, p)) return false;
  for (tagPOINT& q : p) q.y = -q.y;
  SortXPts(p);
  for (int k = 0; k < 4; ++k) c[k] = {p[k].x, -p[k].y};
  return true;
}

}  // namespace

int GetLghtShdwGaps(const _STRTLINE* a, const _STRTLINE* b, int maxDx, int maxDy, int* gapX, int* gapY) {
  tagPOINT ca[4], cb[4];
  if (!Corners(a, ca) || !Corners(b, cb)) return 0;
  int64_t sx = 0, sy = 0;
  for (int k = 0; k < 4; ++k) {
    const int64_t dx = cb[k].x - ca[k].x, dy = cb[k].y - ca[k].y;
    if (std::llabs(dx) >= maxDx || std::llabs(dy) >= maxDy) return 0;
    sx += dx;
    sy += dy;
  }
  *gapX = static_cast<int>(sx >> 2);
  *gapY = static_cast<int>(sy >> 2);
  return 1;
}

int GetAdoptFlag4ShdwSLs(const _STRTLINE* own, const _STRTLINE* shadow, int* flags, double rhoGap) {
  const double t = gnDupCrpBigThGap / 10.0;
  double ro[4], to[4], rs[4], ts[4];
  bool angles = true;
  for (int i = 0; i < 4; ++i) {
    GetRhTh(own[i], &ro[i], &to[i]);
    GetRhTh(shadow[i], &rs[i], &ts[i]);
    if (std::fabs(to[i] - ts[i]) > t) angles = false;
  }
  if (angles) {
    for (int i = 0; i < 4; ++i) {
      const double d = std::fabs(ro[i] - rs[i]);
      if (d <= rhoGap)
        flags[i] = 0;
      else if (i == 1 || i == 2)
        flags[i] = ro[i] < rs[i] ? 1 : 0;
      else
        flags[i] = rs[i] < ro[i] ? 1 : 0;
    }
    return 1;
  }
  tagPOINT c[4];
  bool inside = Corners(own, c);
  for (int k = 0; inside && k < 4; ++k) inside = PtInSkewRect(shadow, c[k]);
  for (int i = 0; i < 4; ++i) flags[i] = inside ? 1 : 0;
  return inside ? 1 : 0;
}

int GetBestSLs(const _P2IIMG* imgA, _HOUGHRSLT* a, const _P2IIMG* imgB, _HOUGHRSLT* b) {
  int ax = 0, ay = 0, bx = 0, by = 0;
  GetCurrGaps(imgA->nXResolution, &ax, &ay, imgB->nXResolution, &bx, &by);
  _STRTLINE shA[4] = {}, shB[4] = {};
  if (a->nSL > 0) GetShadowSLs(imgA->nWidth, imgA->nHeight, a->pSL, a->nSL, shA);
  if (b->nSL > 0) GetShadowSLs(imgB->nWidth, imgB->nHeight, b->pSL, b->nSL, shB);
  if (a->nSL == 4 && b->nSL == 4) {
    const int maxDx = static_cast<int>(imgA->nXResolution * gnDupCrpGapSliceX / 254.0 + 0.5);
    const int maxDy = static_cast<int>(imgA->nYResolution * gnDupCrpGapSliceY / 254.0 + 0.5);
    if (GetLghtShdwGaps(a->pSL, shB, maxDx, maxDy, &ax, &ay))
      GetLghtShdwGaps(b->pSL, shA, maxDx, maxDy, &bx, &by);
  }
  auto tenths = [](int gap, int res) {
    return res > 0 ? static_cast<int32_t>(RoundHalfAway(gap * 254.0 / res)) : 0;
  };
  gnShdwAGapX = tenths(ax, imgA->nXResolution);
  gnShdwAGapY = tenths(ay, imgA->nYResolution);
  gnShdwBGapX = tenths(bx, imgB->nXResolution);
  gnShdwBGapY = tenths(by, imgB->nYResolution);
  if (a->nSL > 0) GetShadowSLs(imgA->nWidth, imgA->nHeight, ax, ay, a->pSL, a->nSL, shA);
  if (b->nSL > 0) GetShadowSLs(imgB->nWidth, imgB->nHeight, bx, by, b->pSL, b->nSL, shB);
  // A mirrored left side is the other face's right side.
  std::swap(shA[0], shA[2]);
  std::swap(shB[0], shB[2]);
  if (a->nSL > 0 && b->nSL > 0) {
    const double rho = imgA->nXResolution * gnDupCrpBigRhGap / 254.0;
    int fa[4], fb[4];
    const int ra = GetAdoptFlag4ShdwSLs(a->pSL, shB, fa, rho);
    const int rb = GetAdoptFlag4ShdwSLs(b->pSL, shA, fb, rho);
    for (int i = 0; i < 4; ++i) {
      if (fa[i]) a->pSL[i] = shB[i];
      if (fb[i]) b->pSL[i] = shA[i];
    }
    return ra == 1 && rb == 1 ? 1 : 0;
  }
  if (a->nSL == 4) {
    std::copy(shA, shA + 4, b->pSL);
    b->nSL = 4;
    return 1;
  }
  if (b->nSL == 4) {
    std::copy(shB, shB + 4, a->pSL);
    a->nSL = 4;
    return 1;
  }
  return 0;
}

bool IsPtInDoc(tagPOINT pt, const _STRTLINE* lines, const int* order) {
  const double x = static_cast<double>(pt.x), Y = -static_cast<double>(pt.y);
  const _STRTLINE &L = lines[order[0]], &B = lines[order[1]], &R = lines[order[2]], &T = lines[order[3]];
  auto far = [&](const _STRTLINE& l) { return GetDistance(pt, l) > gd1mm; };
  const double xl = L.bVert ? L.dX : static_cast<double>(RoundHalfAway((Y - L.dB) / L.dA));
  if (!(x > xl) || !far(L)) return false;
  const double yb = std::trunc(B.dA * x + B.dB - 0.5);
  if (!(Y > yb) || !far(B)) return false;
  const double xr = R.bVert ? R.dX : std::trunc((Y - R.dB) / R.dA + 0.5);
  if (!(x < xr) || !far(R)) return false;
  const double yt = static_cast<double>(RoundHalfAway(T.dA * x + T.dB));
  return Y < yt && far(T);
}

namespace {

// The foot of the perpendicular from p (y up) onto l.
tagPOINT Foot(const _STRTLINE& l, tagPOINT p) {
  _STRTLINE perp;
  if (l.bVert)
    perp = {0, static_cast<double>(p.y), 0, 0};
  else if (l.dA == 0)
    perp = {0, 0, 1, static_cast<double>(p.x)};
  else
    perp = {-1 / l.dA, static_cast<double>(p.y) + static_cast<double>(p.x) / l.dA, 0, 0};
  tagPOINT f{p.x, p.y};
  GetXPt(l, perp, &f);
  return f;
}

int64_t Dist(tagPOINT a, tagPOINT b) {
  return static_cast<int64_t>(std::hypot(static_cast<double>(a.x - b.x), static_cast<double>(a.y - b.y)));
}

double CornerArea(_STRTLINE l1, _STRTLINE l2, tagPOINT p) {
  tagPOINT X;
  if (!GetXPt(l1, l2, &X)) return 0;
  const tagPOINT up{p.x, -p.y};
  const tagPOINT f1 = Foot(l1, up), f2 = Foot(l2, up);
  const double a1 = static_cast<double>(Dist(up, f1) * Dist(f1, X)) * 0.5;
  const double a2 = static_cast<double>(Dist(up, f2) * Dist(f2, X)) * 0.5;
  return a1 + a2;
}

}  // namespace

// Both corner forms measure the two right triangles between the point, its
// feet on the two lines and the corner; the sum does not depend on which
// perpendicular is taken first.
double GetCnrAreaLL(_STRTLINE l1, _STRTLINE l2, tagPOINT p) { return CornerArea(l1, l2, p); }
double GetCnrAreaLR(_STRTLINE l1, _STRTLINE l2, tagPOINT p) { return CornerArea(l2, l1, p); }

bool IsFoldedDoc(const _STRTLINE* given, const PointList& points, int dpi) {
  if (dpi <= 0) return false;
  _STRTLINE lines[4];
  OrderPageSides(given, lines);
  int order[4] = {0, 1, 2, 3};
  std::vector<PointList> lists(4);
  for (const tagPOINT& p : points) {
    int best = 0;
    double bd = 100000;
    for (int i = 0; i < 4; ++i) {
      const double d = GetDistance(p, lines[i]);
      if (d < bd) {
        bd = d;
        best = i;
      }
    }
    PointList& l = lists[static_cast<size_t>(best)];
    if (std::none_of(l.begin(), l.end(), [&](const tagPOINT& q) { return q.x == p.x && q.y == p.y; }))
      l.push_back(p);
  }
  // Rows grow downward: "y ascending" in the outline order is by row.
  SortPtList(lists[0], false, true);
  SortPtList(lists[1], true, true);
  SortPtList(lists[2], false, false);
  SortPtList(lists[3], true, false);
  const double nb = 3 * gd1mm;
  std::vector<double> runs;
  double run = 0;
  bool open = false;
  tagPOINT last{};
  int lastSide = 0;
  auto close = [&] {
    if (open && run > 0) runs.push_back(run);
    run = 0;
    open = false;
  };
  for (int side = 0; side < 4; ++side) {
    const PointList& l = lists[static_cast<size_t>(side)];
    for (size_t k = 0; k < l.size(); ++k) {
      const tagPOINT p = l[k];
      if (!IsPtInDoc(p, lines, order)) {
        close();
        continue;
      }
      if (open && ArePtsNghbr(last, p, nb)) {
        if (lastSide == side)
          run += GetStripArea(lines[side], lines[side].bVert != 0, l, k - 1);
        else {
          // Crossing the corner between the two sides.
          const _STRTLINE &l1 = lines[lastSide], &l2 = lines[side];
          run += (side == 1 || side == 3) ? GetCnrAreaLL(l1, l2, last) : GetCnrAreaLR(l1, l2, last);
        }
      } else {
        close();
        open = true;
      }
      last = p;
      lastSide = side;
    }
    // A run goes past the corner only when the next side starts next to it.
    const PointList& next = lists[static_cast<size_t>((side + 1) & 3)];
    if (open && lastSide == side && (next.empty() || !ArePtsNghbr(last, next.front(), nb)) && side < 3) close();
  }
  // The run open at the end of the top side goes on over the left side's
  // first points.
  if (open && !lists[0].empty() && ArePtsNghbr(last, lists[0].front(), nb)) {
    run += GetCnrAreaLR(lines[3], lines[0], last);
    const PointList& l = lists[0];
    for (size_t k = 0; k < l.size() && IsPtInDoc(l[k], lines, order); ++k) {
      if (k > 0) {
        if (!ArePtsNghbr(l[k - 1], l[k], nb)) break;
        run += GetStripArea(lines[0], lines[0].bVert != 0, l, k - 1);
      }
    }
  }
  close();
  const double mm = 25.4 / dpi;
  const double largest = runs.empty() ? 0 : *std::max_element(runs.begin(), runs.end());
  return largest * mm * mm > 80;
}

int IsPoorCrop(const _P2IIMG* img, const _STRTLINE* lines) {
  const _STRTLINE& l0 = lines[0];
  if (!l0.bVert && l0.dA != 0) {
    // 1.5 degrees: 0.026179938783 rad rounds the angle up in its last
    // digit, which would let a page turned by exactly 1.5 degrees pass.
    constexpr double kLimit = 0.026179938783 - 1e-9;
    const double t = std::fabs(std::atan(l0.dA));
    if (t >= kLimit && std::fabs(1.5707963267948966 - t) >= kLimit) return 1;
  }
  _STRTLINE s[4];
  std::copy(lines, lines + 4, s);
  MakeRect(s);
  const double m = 5 * gd1mm, w = img->nWidth, h = img->nHeight;
  auto xAt = [](const _STRTLINE& l, double Y) { return l.bVert ? l.dX : (Y - l.dB) / l.dA; };
  auto yAt = [](const _STRTLINE& l, double x) { return l.dA * x + l.dB; };
  const _STRTLINE &L = s[0], &B = s[1], &R = s[2], &T = s[3];
  if ((L.bVert ? L.dX : xAt(L, L.dA > 0 ? 0 : -(h + 1))) > m) return 1;
  if ((h - 1) + yAt(B, B.dA > 0 ? w - 1 : 0) > m) return 1;
  if ((w - 1) - (R.bVert ? R.dX : xAt(R, R.dA > 0 ? -(h + 1) : 0)) > m) return 1;
  if (-yAt(T, T.dA < 0 ? w - 1 : 0) > m) return 1;
  return 0;
}

}  // namespace fsipcrop
