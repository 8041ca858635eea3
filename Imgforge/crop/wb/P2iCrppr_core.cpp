// The two document-position searches of the white-background engine and
// the odd-shaped document path they end in.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "P2iCrppr.h"

namespace p2iwb {

// ---- odd-shaped documents --------------------------------------------------------------

void RmvBadEdge_RK(PointList& lr, PointList& tb, const _STRTLINE* in, int* removedLR, int* removedTB) {
  _STRTLINE l[4];
  std::copy(in, in + 4, l);
  SortStraightLine(l);
  *removedLR = *removedTB = 0;
  auto dist = [](const tagPOINT& p, const _STRTLINE& s) { return static_cast<int>(GetDistance_1(p, s)); };
  PointList keep;
  for (const tagPOINT& p : lr) {
    if (dist(p, l[0]) > gnDistTh && dist(p, l[2]) > gnDistTh) {
      if (dist(p, l[1]) <= gnDistTh || dist(p, l[3]) <= gnDistTh) ++*removedLR;
    } else {
      keep.push_back(p);
    }
  }
  lr.swap(keep);
  keep.clear();
  for (const tagPOINT& p : tb) {
    if (dist(p, l[1]) > gnDistTh && dist(p, l[3]) > gnDistTh) {
      if (dist(p, l[0]) <= gnDistTh || dist(p, l[2]) <= gnDistTh) ++*removedTB;
    } else {
      keep.push_back(p);
    }
  }
  tb.swap(keep);
}

bool IsOddDoc(const _P2IIMG* work, const PointList& lrCopy, const PointList& lr, const PointList& tbCopy,
              const PointList& tb, int countedLR, double topSnsY, int countedTB, int kind) {
  const double L = kind == 5 ? 431.8 : 355.6;
  if (work->nHeight * 25.4 / work->nYResolution > (2 * topSnsY + L) * 1.03) return true;
  const double third = 0.3333333333333333;
  if (!lrCopy.empty() &&
      1.0 - static_cast<double>(lr.size() + static_cast<size_t>(countedLR)) / static_cast<double>(lrCopy.size()) > third)
    return true;
  if (!tbCopy.empty() &&
      1.0 - static_cast<double>(tb.size() + static_cast<size_t>(countedTB)) / static_cast<double>(tbCopy.size()) > third)
    return true;
  return false;
}

void SetCircumscribedRect(const PointList& lr, const PointList& tb, _STRTLINE* lines, double s, int w, int kind,
                          int opt) {
  int64_t lo = 0, hi = INT64_MAX;
  if (kind == 7) {
    lo = 15;
    hi = w < 15 ? w : w - 15;
  } else if (kind == 8) {
    lo = opt == 0 ? 15 : 0;
    hi = opt == 0 ? w : w - 15;
  }
  const bool limited = kind == 7 || kind == 8;
  int64_t xmin = INT_MAX, xmax = -1, ymin = INT_MAX, ymax = -1;
  for (const PointList* l : {&lr, &tb})
    for (const tagPOINT& p : *l) {
      if (!limited || (p.x > lo && p.x < hi)) {
        xmin = std::min(xmin, p.x);
        xmax = std::max(xmax, p.x);
      }
      ymin = std::min(ymin, p.y);
      ymax = std::max(ymax, p.y);
    }
  lines[0] = {0, 0, 1, static_cast<double>(xmin) * s};
  lines[1] = {0, -s * static_cast<double>(ymax), 0, 0};
  lines[2] = {0, 0, 1, static_cast<double>(xmax) * s};
  lines[3] = {0, -s * static_cast<double>(ymin), 0, 0};
}

namespace {

inline int64_t RoundAway(double v) { return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5); }

void Turn(double x, double y, double deg, int64_t* X, int64_t* Y) {
  const double a = deg * 3.141592654 / 180, c = std::cos(a), s = std::sin(a);
  *X = RoundAway(x * c - y * s);
  *Y = RoundAway(x * s + y * c);
}

}  // namespace

void RotateEdges(PointList& a, PointList& b, double deg) {
  for (PointList* l : {&a, &b})
    for (tagPOINT& p : *l) {
      int64_t X, Y;
      Turn(static_cast<double>(p.x), -static_cast<double>(p.y), deg, &X, &Y);
      p = {X, -Y};
    }
}

void RotatePoint(tagPOINT* p, double deg) {
  int64_t X, Y;
  Turn(static_cast<double>(p->x), static_cast<double>(p->y), deg, &X, &Y);
  *p = {X, Y};
}

void CopyEdges(const PointList& src, PointList& dst) { dst.insert(dst.end(), src.begin(), src.end()); }

void GetDskwAngle_RK(const _STRTLINE& l, double* angle) {
  const double t = l.bVert ? 1.570796327 : std::atan(l.dA);
  double a;
  if (t > 0.7853981635)
    a = 1.570796327 - t;
  else if (t > -0.7853981635)
    a = -t;
  else
    a = -1.570796327 - t;
  *angle = a * 180 / 3.141592654;
}

// Source pixels per pixel of a working copy. A half-size copy keeps every
// second pixel, so its factor is 2 even where halving an odd resolution
// rounded the copy's down (301 to 150 dpi would otherwise push a page's far
// side out by a third of a percent of its distance from the origin).
double WorkScale(const _P2IIMG* src, const _P2IIMG* work) {
  if (!work) return 1.0;
  if (work->nXResolution == src->nXResolution >> 1 && work->nWidth == (src->nWidth + 1) / 2 &&
      work->nHeight == (src->nHeight + 1) / 2)
    return 2.0;
  return static_cast<double>(src->nXResolution) / work->nXResolution;
}

void GetDocPosForOddDoc(const _P2IIMG* src, const _P2IIMG* work, PointList& lr, PointList& tb,
                        const _STRTLINE* lines, int n, double /*skew*/, _P2IDOCPOS* pos, const _P2IGDPINFO* info) {
  const double s = WorkScale(src, work);
  const int w = work ? work->nWidth : src->nWidth;
  _STRTLINE r[4];
  double angle = 0;
  if (n != 0) {
    GetDskwAngle_RK(lines[0], &angle);
    RotateEdges(lr, tb, angle);
  }
  SetCircumscribedRect(lr, tb, r, s, w, static_cast<int>(info->nDevKind), static_cast<int>(info->nDevOpt));
  tagPOINT c[4] = {};
  GetXPoint(r[0], r[1], &c[0]);
  GetXPoint(r[1], r[2], &c[1]);
  GetXPoint(r[2], r[3], &c[2]);
  GetXPoint(r[3], r[0], &c[3]);
  if (n != 0)
    for (tagPOINT& p : c) RotatePoint(&p, -angle);
  pos->dSkew = angle;
  std::copy(c, c + 4, pos->ptCorner);
}

// ---- the searches ------------------------------------------------------------------

bool CornersInside(const tagPOINT* c, const _P2IIMG* img) {
  for (int i = 0; i < 4; ++i)
    if (c[i].x < 0 || c[i].x >= img->nWidth || -c[i].y < 0 || -c[i].y >= img->nHeight) return false;
  return true;
}

namespace {

int LevelSelector(const _P2IGDPINFO* info) {
  if (info->nDevKind == 7) return info->nDevOpt == 0 ? 1 : 2;
  if (info->nDevKind == 6) return 3;
  return 0;
}

// Below about 13 dpi 10 mm rounds to fewer pixels than the 5 x 5 windows of
// the reference rows span: such a page is too small as well.
bool TooSmall(const _P2IIMG* img) {
  const int mx = static_cast<int>(img->nXResolution * 10 / 25.4 + 0.5);
  const int my = static_cast<int>(img->nYResolution * 10 / 25.4 + 0.5);
  return img->nWidth <= std::max(mx, 4) || img->nHeight <= std::max(my, 4);
}

// What one search holds; released on every path.
struct Work {
  _P2IIMG img{};
  uint8_t* ref = nullptr;
  bool borrowed = false;  // img is the caller's page itself
  ~Work() {
    if (!borrowed) free(img.pImageData);
    free(ref);
  }
  int MakeRefs(int shadow) {
    const size_t n = static_cast<size_t>(img.nWidth) * (img.nBitsPerPixel == 24 ? 3 : 1);
    ref = static_cast<uint8_t*>(calloc(2 * n, 1));
    if (!ref) return -2;
    MakeStdData(&img, shadow, ref, ref + n);
    return 0;
  }
  const uint8_t* Ref1() const { return ref; }
  const uint8_t* Ref2() const {
    return ref + static_cast<size_t>(img.nWidth) * (img.nBitsPerPixel == 24 ? 3 : 1);
  }
};

// Squared lengths of the two sides at corner 0 of four fitted lines.
int64_t ShorterSide2(const _STRTLINE* lines) {
  tagPOINT c[4];
  if (!GetAllXPoints4(lines, c)) return 0;
  for (auto& p : c) p.y = -p.y;
  SortXPoints(c);
  auto d2 = [](const tagPOINT& a, const tagPOINT& b) { return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y); };
  return std::min(d2(c[0], c[1]), d2(c[0], c[3]));
}

// The top side through the sensor point, parallel to the bottom, when the
// sensor lies on the top side and the fitted top is unsure or too far off.
void SensorTop(_STRTLINE* lines, const _P2IIMG* img, const _P2IGDPINFO* info, double tolMm) {
  SortStraightLine(lines);
  const double sx = img->nXResolution * info->dTopSnsX / 25.4;
  if (!IsTopSnsEnb(lines, static_cast<uint32_t>(static_cast<int>(sx)))) return;
  const double sy = info->dTopSnsY * img->nYResolution / 25.4;
  const _STRTLINE& t = lines[3];
  const double rowAt = t.bVert ? 0 : -(t.dA * sx + t.dB);
  if (gbTopSLOK == 0 || std::fabs(rowAt - sy) > img->nYResolution * tolMm / 25.4) {
    const _STRTLINE& b = lines[1];
    lines[3] = {b.dA, -sy - sx * b.dA, b.bVert, b.dX};
  }
}

// Whether column x of the source carries the bottom shadow's edge in a band
// of b rows around the bottom side.
bool ShadowAt(const _P2IIMG* img, const _STRTLINE& bottom, int x, int b, uint8_t* buf) {
  const int r = -static_cast<int>(x * bottom.dA + bottom.dB);
  int s = std::max(2, r - b / 2);
  if (s + b >= img->nHeight - 2) s = img->nHeight - 3 - b;
  if (s < 1) return false;
  // A colour image is judged on its middle channel: only that profile is
  // taken (GetAveV's middle third), the walks along a shadow cost a third.
  const bool colour = img->nBitsPerPixel == 24;
  const int bpl = img->nBytesPerLine;
  const size_t at = colour ? static_cast<size_t>(x) * 3 + 1 : static_cast<size_t>(x);
  const uint8_t* c = img->pImageData + static_cast<size_t>(s) * bpl + at;
  for (int k = 0; k < b; ++k, c += bpl)
    buf[k] = static_cast<uint8_t>(colour ? GetAve_RGB(c, bpl) : GetAve_Mono(c, bpl));
  for (int k = 1; k <= b - 2; ++k)
    if (std::abs(buf[k - 1] - buf[k + 1]) >= 17) return true;
  return false;
}

// The bottom shadow runs on past a bottom corner: the paper reaches that
// far, and the side there moves out to where the shadow ends, at right
// angles to the bottom.
int ShadowSideCheck(const _P2IIMG* img, PointList& tb, double rx, double ry, _STRTLINE* lines, tagPOINT* c) {
  if (ry != 1.0)
    for (tagPOINT& p : tb) p = {static_cast<int64_t>(p.x * rx + 0.5), static_cast<int64_t>(p.y * ry + 0.5)};
  tagPOINT rows[4];
  for (int i = 0; i < 4; ++i) rows[i] = {c[i].x, -c[i].y};
  SortXPoints(rows);
  if (rows[1].y >= img->nHeight || rows[2].y >= img->nHeight) return 0;
  const _STRTLINE bottom = lines[1];
  int64_t xmin = INT64_MAX, xmax = INT64_MIN;
  for (const tagPOINT& p : tb)
    if (static_cast<int64_t>(GetDistance_1(p, bottom) + 0.5) <= 8 * gnDistTh) {
      xmin = std::min(xmin, p.x);
      xmax = std::max(xmax, p.x);
    }
  if (xmin == INT64_MAX) return 0;
  const int m5 = static_cast<int>(img->nXResolution * 5 / 25.4), b = static_cast<int>(img->nYResolution * 5 / 25.4);
  if (b < 3 || b + 6 >= img->nHeight) return 0;
  uint8_t* buf = static_cast<uint8_t*>(malloc(static_cast<size_t>(b) * (img->nBitsPerPixel == 24 ? 3 : 1)));
  if (!buf) return -2;
  int left = static_cast<int>(xmin) + m5, leftCmp;
  while (left >= 2 && ShadowAt(img, bottom, left, b, buf)) --left;
  leftCmp = left;
  if (left < 2) left = 2, leftCmp = 1;
  int right = static_cast<int>(xmax) - m5, rightCmp;
  while (right < img->nWidth - 2 && right >= 1 && ShadowAt(img, bottom, right, b, buf)) ++right;
  rightCmp = right;
  if (right >= img->nWidth - 2) right = img->nWidth - 3, rightCmp = img->nWidth - 2;
  free(buf);
  const int w = static_cast<int>(img->nXResolution * gdblShadowCheckEdgeRange / 25.4);
  auto sideThrough = [&](int x) {
    const tagPOINT p{x, static_cast<int64_t>(x * bottom.dA + bottom.dB)};
    _STRTLINE l{};
    GetOrthogonalLine(p, bottom, &l);
    return l;
  };
  bool moved = false;
  if (rows[1].x - leftCmp > w) {
    lines[0] = sideThrough(left);
    moved = true;
  }
  if (rightCmp - rows[2].x > w) {
    lines[2] = sideThrough(right);
    moved = true;
  }
  if (moved && !GetAllXPoints4(lines, c)) return -3;
  return 0;
}

// Where the shadow along a top or bottom side ends, walking from column
// `from` outward (dir -1 left, +1 right) while each column carries its edge.
struct ShadowEnd {
  tagPOINT at;  // y-up, on the side
  bool border;  // the shadow runs on to the image's border
};

ShadowEnd WalkShadow(const _P2IIMG* img, const _STRTLINE& h, int64_t from, int dir, int b, uint8_t* buf) {
  const int last = img->nWidth - 3;
  int x = static_cast<int>(std::clamp<int64_t>(from, 2, last));
  while (x >= 2 && x <= last && ShadowAt(img, h, x, b, buf)) x += dir;
  const bool border = x < 2 || x > last;
  if (border) x = dir < 0 ? 0 : img->nWidth - 1;
  return {{x, static_cast<int64_t>(x * h.dA + h.dB)}, border};
}

// The top or bottom shadow runs on past a corner: the paper reaches that
// far, and an inner edge was taken for the side there (a box, a photo, a
// rule or a text column on a sheet whose side lies outside the image).
// That side moves out, parallel to itself (a long straight edge, steadier
// than a top or bottom side found on a faint shadow), to the farthest point
// the paper is known to reach: the shadow's end, or the image's border on
// both the top and the bottom when the shadow runs on to it. It never moves
// into the paper. Lines in SortStraightLine's order; the corners are
// recomputed only when a side moves. 1: a side moved.
int ShadowSidesCheck(const _P2IIMG* img, _STRTLINE* lines, tagPOINT* c) {
  if (IsTatesen(lines[1]) || IsTatesen(lines[3]) || !IsTatesen(lines[0]) || !IsTatesen(lines[2])) return 0;
  const int m5 = static_cast<int>(img->nXResolution * 5 / 25.4), b = static_cast<int>(img->nYResolution * 5 / 25.4);
  if (b < 3 || b + 6 >= img->nHeight || img->nWidth < 8) return 0;
  const int w = static_cast<int>(img->nXResolution * gdblShadowCheckEdgeRange / 25.4);
  std::vector<uint8_t> buf(static_cast<size_t>(b) * (img->nBitsPerPixel == 24 ? 3 : 1));
  bool moved = false;
  for (int s : {0, 2}) {
    const int dir = s == 0 ? -1 : 1;
    const _STRTLINE side = lines[s];
    // How far out a point lies from the side, along the rows.
    auto out = [&](const tagPOINT& p) { return dir * (side.bVert ? p.x - side.dX : p.x - (p.y - side.dB) / side.dA); };
    tagPOINT best{};
    double bestOut = 0;
    bool run = false, border = false;
    for (int k : {1, 3}) {
      tagPOINT corner{};
      if (!GetXPoint(side, lines[k], &corner)) break;
      if (-corner.y < 0 || -corner.y >= img->nHeight) continue;  // that shadow is not in the image
      const ShadowEnd e = WalkShadow(img, lines[k], corner.x - dir * m5, dir, b, buf.data());
      if (dir * (e.at.x - corner.x) <= w) continue;
      run = true;
      border |= e.border;
      if (out(e.at) > bestOut) best = e.at, bestOut = out(e.at);
    }
    if (!run) continue;
    if (border)
      for (int k : {1, 3}) {
        const int64_t x = dir < 0 ? 0 : img->nWidth - 1;
        const tagPOINT p{x, static_cast<int64_t>(x * lines[k].dA + lines[k].dB)};
        if (out(p) > bestOut) best = p, bestOut = out(p);
      }
    if (bestOut <= 0) continue;
    GetParallelLine(best, side, &lines[s]);
    moved = true;
  }
  if (!moved) return 0;
  return GetAllXPoints4(lines, c) ? 1 : -3;
}

// Whether row r of the source carries a left or right side's shadow edge
// in a band of b columns around the side.
bool SideShadowAt(const _P2IIMG* img, const _STRTLINE& side, int r, int b, uint8_t* buf) {
  const double y = -static_cast<double>(r);
  const int x = static_cast<int>(side.bVert ? side.dX : (y - side.dB) / side.dA);
  int s = std::max(2, x - b / 2);
  if (s + b >= img->nWidth - 2) s = img->nWidth - 3 - b;
  if (s < 1 || r < 1 || r >= img->nHeight - 1) return false;
  const bool colour = img->nBitsPerPixel == 24;
  const int px = colour ? 3 : 1;
  const uint8_t* c = img->pImageData + static_cast<size_t>(r) * img->nBytesPerLine + static_cast<size_t>(s) * px +
                     (colour ? 1 : 0);
  for (int k = 0; k < b; ++k, c += px)
    buf[k] = static_cast<uint8_t>(colour ? GetAve_RGB(c, img->nBytesPerLine) : GetAve_Mono(c, img->nBytesPerLine));
  for (int k = 1; k <= b - 2; ++k)
    if (std::abs(buf[k - 1] - buf[k + 1]) >= 17) return true;
  return false;
}

// The sheet runs on past the window's end: both side shadows run on past a
// top or bottom side found inside the paper (an inner edge: a box, a rule)
// to the image's border. That side moves out, parallel to itself, to the
// border. 1: a side moved.
int SideShadowsPastEnds(const _P2IIMG* img, _STRTLINE* lines, tagPOINT* c) {
  if (IsTatesen(lines[1]) || IsTatesen(lines[3]) || !IsTatesen(lines[0]) || !IsTatesen(lines[2])) return 0;
  const int m5 = static_cast<int>(img->nYResolution * 5 / 25.4), b = static_cast<int>(img->nXResolution * 5 / 25.4);
  if (b < 3 || b + 6 >= img->nWidth || img->nHeight < 8) return 0;
  const int w = static_cast<int>(img->nYResolution * gdblShadowCheckEdgeRange / 25.4);
  std::vector<uint8_t> buf(static_cast<size_t>(b) * (img->nBitsPerPixel == 24 ? 3 : 1));
  bool moved = false;
  for (int k : {1, 3}) {
    const int dir = k == 1 ? 1 : -1;  // rows outward
    const int last = dir > 0 ? img->nHeight - 3 : 2;
    bool border = true;
    for (int s : {0, 2}) {
      tagPOINT corner{};
      if (!GetXPoint(lines[s], lines[k], &corner)) return 0;
      const int row = static_cast<int>(-corner.y);
      if (row < 0 || row >= img->nHeight || dir * (last - row) <= w) {
        border = false;
        break;
      }
      int r = row - dir * m5;
      while (dir * (last - r) >= 0 && SideShadowAt(img, lines[s], r, b, buf.data())) r += dir;
      border = border && dir * (r - last) > 0;
    }
    if (!border) continue;
    // Through the border row at the end where the side lies farther in, so
    // that it reaches the border everywhere.
    const int64_t row = dir > 0 ? img->nHeight - 1 : 0, right = img->nWidth - 1;
    const _STRTLINE& l = lines[k];
    const bool atRight = dir * l.dA * static_cast<double>(right) > 0;  // y-up: farther in where dir * y is larger
    GetParallelLine({atRight ? right : 0, -row}, lines[k], &lines[k]);
    moved = true;
  }
  if (!moved) return 0;
  return GetAllXPoints4(lines, c) ? 1 : -3;
}

// The fitter's lines lie on its 0.2-degree vote grid: a side turned between
// two grid angles comes out up to a tenth of a degree off, several pixels
// at the ends of a long side, so that the cut keeps backing beyond one
// corner and the paper's edge runs off the other. A left or right side
// turns, about the middle of its points, to the slope its own refined
// points show, where that moves one of its ends by more than a pixel: a
// side the fitter placed well stays as it is, and so does its place. The
// top and bottom sides are left alone: their points are moved off the edge
// by design (a rim too bright, the lamp side's own check follows). Points
// in working-image pixels (x, row), `scale` source pixels per working pixel,
// `mm` source pixels per millimetre; lines in the source.
void UprightSidesAlongTheirPoints(const PointList& lr, double scale, double mm, _STRTLINE* lines) {
  // x of an upright-ish line at y (y-up).
  auto xAt = [](const _STRTLINE& l, double y) { return l.bVert ? l.dX : (y - l.dB) / l.dA; };
  const double band = mm;                        // points this near the side are its own
  const double trim = std::max(3.0, 0.3 * mm);  // the shadow's two edges both count
  for (int i = 0; i < 4; ++i) {
    if (!IsTatesen(lines[i])) continue;
    std::vector<std::pair<double, double>> pts;  // (y, how far right of the side)
    for (const tagPOINT& q : lr) {
      const double x = static_cast<double>(q.x) * scale, y = -static_cast<double>(q.y) * scale;
      const double d = x - xAt(lines[i], y);
      if (std::fabs(d) > band) continue;
      bool nearest = true;
      for (int j = 0; j < 4 && nearest; ++j)
        if (j != i && IsTatesen(lines[j])) nearest = std::fabs(x - xAt(lines[j], y)) > std::fabs(d);
      if (nearest) pts.push_back({y, d});
    }
    // Least squares of the offsets along the side, then once more without
    // the points (ink near the edge) far off that first fit.
    double slope = 0, at = 0, lo = 0, hi = 0;
    bool fitted = false;
    for (int pass = 0; pass < 2; ++pass) {
      double n = 0, sy = 0, sd = 0, syy = 0, syd = 0;
      lo = INFINITY, hi = -INFINITY;
      for (const auto& [y, d] : pts) {
        if (pass == 1 && std::fabs(d - (at + slope * y)) > trim) continue;
        n += 1, sy += y, sd += d, syy += y * y, syd += y * d;
        lo = std::min(lo, y), hi = std::max(hi, y);
      }
      const double det = n * syy - sy * sy;
      fitted = n >= 10 && det > 0;
      if (!fitted) break;
      slope = (n * syd - sy * sd) / det;
      at = (sd - slope * sy) / n;
    }
    const double mid = (lo + hi) / 2;
    // Too few points, too short a run of them to judge a slope by, or
    // points that do not lie along the side: the side was not placed by them.
    if (!fitted || hi - lo < 20 * mm || std::fabs(at + slope * mid) > trim) continue;
    if (std::fabs(slope) * (hi - lo) / 2 <= 1.0) continue;
    // More than the grid's half step and a little: not the grid's error.
    if (std::fabs(slope) > std::tan(0.15 * 3.141592654 / 180)) continue;
    const _STRTLINE& l = lines[i];
    const double x = xAt(l, mid), k = (l.bVert ? 0 : 1 / l.dA) + slope;  // x = x + k (y - mid)
    lines[i] = k == 0 ? _STRTLINE{0, 0, 1, x} : _STRTLINE{1 / k, mid - x / k, 0, 0};
  }
}

// Where a column's profile, from row `from` down, first shows a thin shadow
// with backing below it: a drop of 17 levels or more, a rise as strong
// within `shadowMax` rows, then `flat` rows within 6 levels of the backing
// level `lvl`. The row of the drop's peak (the paper's last row), or -1.
int ShadowBelow(const _P2IIMG* img, int x, int from, int n, int shadowMax, int flat, int lvl, uint8_t* p) {
  const bool colour = img->nBitsPerPixel == 24;
  const int bpl = img->nBytesPerLine;
  const uint8_t* c = img->pImageData + static_cast<size_t>(from) * bpl + (colour ? static_cast<size_t>(x) * 3 + 1 : x);
  for (int k = 0; k < n; ++k, c += bpl) p[k] = static_cast<uint8_t>(colour ? GetAve_RGB(c, bpl) : GetAve_Mono(c, bpl));
  auto drop = [&](int k) { return p[k - 1] - p[k + 1]; };
  for (int k = 1; k + 1 < n; ++k) {
    if (drop(k) < 17) continue;
    while (k + 2 < n && drop(k + 1) >= drop(k)) ++k;
    int j = k + 1;
    while (j + 1 < n && j <= k + shadowMax && -drop(j) < 17) ++j;
    if (j + 1 >= n || j > k + shadowMax) continue;
    while (j + 2 < n && -drop(j + 1) >= 17) ++j;
    const int end = j + 2 + flat;
    if (end > n) return -1;
    bool backing = true;
    for (int i = j + 2; i < end && backing; ++i) backing = std::abs(p[i] - lvl) <= 6;
    if (backing) return from + k;
  }
  return -1;
}

// The bottom side is the edge facing the lamp, found after the rim of
// light on the paper's cut edge. Where the rim's step up from the paper is
// too faint to count, the side comes out inside the paper: 1.5 mm short
// of the shadow, or on an ink edge near it. A thin shadow with backing
// below it, further down along most of the side, shows where the paper
// ends: the side moves out to that shadow, through the middle of where each
// half of it lies. It never moves in. `lvl`: the backing level of each
// working-image column (middle channel of a colour image), `scale` source
// pixels per working pixel. 1: the side moved.
int LampSideToShadow(const _P2IIMG* img, const uint8_t* lvl, double scale, _STRTLINE* lines, tagPOINT* c) {
  const _STRTLINE& b = lines[1];
  if (IsTatesen(b) || !IsTatesen(lines[0]) || !IsTatesen(lines[2])) return 0;
  tagPOINT bl{}, br{};
  if (!GetXPoint(lines[0], b, &bl) || !GetXPoint(b, lines[2], &br)) return 0;
  const int dpi = img->nYResolution;
  const int m5 = static_cast<int>(img->nXResolution * 5 / 25.4);
  const int step = std::max(1, static_cast<int>(img->nXResolution * 2 / 25.4));
  const int reach = static_cast<int>(dpi * 6.5 / 25.4), shadowMax = static_cast<int>(dpi / 25.4) + 2;
  const int flat = std::max(3, static_cast<int>(dpi / 25.4)), before = 2;
  const int n = before + reach + shadowMax + flat + 4;
  const int64_t x0 = std::max<int64_t>(std::min(bl.x, br.x) + m5, 2);
  const int64_t x1 = std::min<int64_t>(std::max(bl.x, br.x) - m5, img->nWidth - 3);
  const int64_t xm = (x0 + x1) / 2;
  std::vector<uint8_t> p(static_cast<size_t>(n));
  // Per half of the side: how many columns were looked at, and the
  // columns and offsets (rows below the side) of the shadows found.
  std::vector<int64_t> xs[2];
  std::vector<int> ds[2];
  int sampled[2] = {0, 0};
  auto rowAt = [&](double x) { return -(x * b.dA + b.dB); };
  for (int64_t x = x0; x <= x1; x += step) {
    const int h = x < xm ? 0 : 1;
    ++sampled[h];
    const int r0 = static_cast<int>(rowAt(static_cast<double>(x)));
    const int from = r0 - before;
    if (from < 1 || from + n >= img->nHeight - 1) continue;
    const int xw = std::min(static_cast<int>(x / scale), static_cast<int>(img->nWidth / scale) - 1);
    const int edge = ShadowBelow(img, static_cast<int>(x), from, n, shadowMax, flat, lvl[xw], p.data());
    if (edge < 0) continue;
    xs[h].push_back(x);
    ds[h].push_back(edge - r0);
  }
  double px[2], pd[2];
  for (int h = 0; h < 2; ++h) {
    const size_t k = ds[h].size();
    if (k < 2 || 2 * k < static_cast<size_t>(sampled[h])) return 0;
    std::nth_element(xs[h].begin(), xs[h].begin() + k / 2, xs[h].end());
    std::nth_element(ds[h].begin(), ds[h].begin() + k / 2, ds[h].end());
    px[h] = static_cast<double>(xs[h][k / 2]);
    pd[h] = ds[h][k / 2];
  }
  if (px[1] <= px[0]) return 0;
  // The line through the two shadow points, y-up; how far below the side
  // it lies at either corner.
  const double a = b.dA - (pd[1] - pd[0]) / (px[1] - px[0]);
  double nb = (b.dA * px[0] + b.dB - pd[0]) - a * px[0];
  auto below = [&](double x) { return (b.dA * x + b.dB) - (a * x + nb); };
  const double l = below(static_cast<double>(bl.x)), r = below(static_cast<double>(br.x));
  if (std::max(l, r) <= 2) return 0;
  if (std::min(l, r) < 0) nb += std::min(l, r);  // not into the paper at either end
  lines[1].dA = a;
  lines[1].dB = nb;
  return GetAllXPoints4(lines, c) ? 1 : -3;
}

// The same check on an odd-shaped document's circumscribed rectangle: its
// sides are the extremes of the edge points, and where no edge of a side
// was found at all they stop short of paper that runs on to the border.
void OddShadowSides(const _P2IIMG* img, _P2IDOCPOS* pos) {
  const tagPOINT* c = pos->ptCorner;  // left-bottom, bottom-right, right-top, top-left
  const int64_t lim = 4 * static_cast<int64_t>(std::max(img->nWidth, img->nHeight));
  for (int i = 0; i < 4; ++i)
    if (std::llabs(c[i].x) > lim || std::llabs(c[i].y) > lim) return;
  _STRTLINE lines[4];
  GetSLfm2Pnt(c[3], c[0], &lines[0]);
  GetSLfm2Pnt(c[0], c[1], &lines[1]);
  GetSLfm2Pnt(c[1], c[2], &lines[2]);
  GetSLfm2Pnt(c[2], c[3], &lines[3]);
  tagPOINT moved[4];
  if (ShadowSidesCheck(img, lines, moved) == 1) std::copy(moved, moved + 4, pos->ptCorner);
}

// Grey level of source pixel (x, row): the channels' mean on colour pages.
int GreyAt(const _P2IIMG* img, int64_t x, int64_t row) {
  const uint8_t* p = img->pImageData + row * img->nBytesPerLine;
  if (img->nBitsPerPixel != 24) return p[x];
  p += 3 * x;
  return (p[0] + p[1] + p[2]) / 3;
}

// How far a side found on the 100-dpi copy lies inside the paper at one
// place, in source pixels: the line of `n` samples runs from `n - 1`
// pixels outside the side (backing) in, with the side at sample `at`.
// The paper starts where the shadow ends, the first sample after a run
// darker than the backing; -1 where the line shows no such shadow.
int PaperInside(const int* v, int n, int at, int maxShadow) {
  const int backing = std::max(v[0], v[1]);
  const int dark = backing - 20;
  int i = 0;
  while (i < n && v[i] >= dark) ++i;
  const int shadowFrom = i;
  while (i < n && v[i] < dark) ++i;
  if (shadowFrom == n || i == n || i - shadowFrom > maxShadow) return -1;
  return std::max(0, at - i);
}

// The 100-dpi copy puts a side on its own sample grid, and its peak pick
// may land on the paper's first sample or the rim's far end: up to a few
// source pixels inside the paper, and its slope may be off a little. Each
// side moves out, parallel to itself, to where the source shows the paper
// starting after its shadow, never in: what the search kept of the backing
// stays. Lines in SortStraightLine's order, y-up frame.
void PaperEdgesOutward(const _P2IIMG* img, _STRTLINE* lines) {
  tagPOINT c[4];
  if (!GetAllXPoints4(lines, c)) return;
  const double mmX = img->nXResolution / 25.4, mmY = img->nYResolution / 25.4;
  for (int s = 0; s < 4; ++s) {
    const _STRTLINE& l = lines[s];
    const bool upright = s == 0 || s == 2;
    if (upright != IsTatesen(l)) continue;
    const double mm = upright ? mmX : mmY;
    const int out = static_cast<int>(1.5 * mm + 0.5), in = static_cast<int>(0.5 * mm + 0.5);
    const int n = out + in + 1, maxShadow = static_cast<int>(mm + 0.5);
    const int dir = s == 0 || s == 3 ? -1 : 1;  // outward, in columns or rows
    // The side's extent between its two corners, less 5 mm at either end.
    int64_t from = INT64_MAX, to = INT64_MIN;
    for (const tagPOINT& p : c) {
      const int64_t along = upright ? -p.y : p.x;
      from = std::min(from, along);
      to = std::max(to, along);
    }
    const int64_t step = std::max<int64_t>(1, static_cast<int64_t>(2 * (upright ? mmY : mmX)));
    const int64_t end = upright ? img->nHeight : img->nWidth, across = upright ? img->nWidth : img->nHeight;
    from = std::max<int64_t>(from + static_cast<int64_t>(5 * (upright ? mmY : mmX)), 0);
    to = std::min<int64_t>(to - static_cast<int64_t>(5 * (upright ? mmY : mmX)), end - 1);
    std::vector<int> v(static_cast<size_t>(n)), shifts;
    for (int64_t a = from; a <= to; a += step) {
      double at;
      if (upright)
        at = l.bVert ? l.dX : (-static_cast<double>(a) - l.dB) / l.dA;
      else
        at = -(l.dA * static_cast<double>(a) + l.dB);
      const int64_t k = static_cast<int64_t>(std::floor(at + 0.5));
      const int64_t outer = k + dir * out, inner = k - dir * in;
      if (std::min(outer, inner) < 0 || std::max(outer, inner) >= across) continue;
      for (int i = 0; i < n; ++i) {
        const int64_t q = outer - dir * i;
        v[static_cast<size_t>(i)] = upright ? GreyAt(img, q, a) : GreyAt(img, a, q);
      }
      const int inside = PaperInside(v.data(), n, out, maxShadow);
      if (inside >= 0) shifts.push_back(inside);
    }
    if (shifts.size() < 3) continue;
    // Far enough for nearly every place: a side found a little off the
    // paper's slope keeps its farther end too; a stray place or two does
    // not count.
    const size_t k = shifts.size() - 1 - shifts.size() / 10;
    std::nth_element(shifts.begin(), shifts.begin() + static_cast<long>(k), shifts.end());
    const int d = shifts[k];
    if (d <= 0) continue;
    _STRTLINE& m = lines[s];
    if (upright) {
      if (m.bVert)
        m.dX += dir * d;
      else
        m.dB -= m.dA * dir * d;  // x moves by dir * d along the row
    } else {
      m.dB -= dir * d;  // a row further out is a smaller y for the top
    }
  }
}

}  // namespace

int _GetDocPos(_P2IIMG* img, const _P2IGDPINFO* info, int shadow, _P2IDOCPOS* pos) {
  if (TooSmall(img)) return -8;
  Work w;
  w.img.nBitsPerPixel = img->nBitsPerPixel;
  w.img.nColorOrder = img->nColorOrder;
  w.img.nXResolution = w.img.nYResolution = 100;
  int rc = GetMiniImg(img, &w.img);
  if (rc) return rc;
  gstProcTime.slot[0] = 0;
  if (info->bInvGamma) DoInvGamma(&w.img);
  gstProcTime.slot[1] = 0;
  if (w.MakeRefs(shadow)) return -2;
  gnRhDiff = w.img.nXResolution >> 2;
  gn1inch = w.img.nXResolution;
  gnDistTh = static_cast<int>(2 * w.img.nXResolution / 25.4 + 0.5);
  gstProcTime.slot[2] = 0;
  const double rx = img->nXResolution / 100.0, ry = img->nYResolution / 100.0;
  const double sx = img->nXResolution * info->dTopSnsX / 25.4, sy = img->nYResolution * info->dTopSnsY / 25.4;
  const int size = std::max(w.img.nHeight, w.img.nWidth);
  PointList lr, tb, lrCopy, tbCopy;
  _STRTLINE lines[4] = {};
  double skew = 0;
  int n = 0;
  auto odd = [&](PointList& a, PointList& b, int count) {
    GetDocPosForOddDoc(img, &w.img, a, b, lines, count, skew, pos, info);
    OddShadowSides(img, pos);
    return 0;
  };
  for (int p = 1; p >= 0; --p) {
    lr.clear();
    tb.clear();
    if ((rc = GetEdgeH(&w.img, w.Ref1(), w.Ref2(), p, lr, false)) != 0) return rc;
    if ((rc = GetEdgeV(&w.img, w.Ref1(), w.Ref2(), p, tb, false)) != 0) return rc;
    gstProcTime.slot[3] = 0;
    if (lr.empty() && tb.empty()) return -3;
    std::memset(lines, 0, sizeof lines);
    n = GetStraightLine(size, lr, tb, 1.0, 0, lines, &skew, false);
    if (n < 0) return n;
    gstProcTime.slot[5] = 0;
    if (p == 1) {
      if (n >= 4 && ShorterSide2(lines) >= 300LL * 300) break;
      continue;
    }
    if (n >= 4) break;
    // Three sides: the missing one parallel to its partner through the
    // farthest top/bottom point on the other half.
    if (n == 0) return odd(lr, tb, 0);
    int bottom = -1, side = -1, top = -1;
    for (int i = 0; i < n; ++i) {
      if (IsSitasen(lines[i], w.img.nHeight)) {
        if (bottom < 0) bottom = i;
      } else if (IsTatesen(lines[i])) {
        if (side < 0) side = i;
      } else if (top < 0) {
        top = i;
      }
    }
    if (bottom < 0 || side < 0 || top < 0) return odd(lr, tb, n);
    const int half = w.img.nWidth / 2;
    tagPOINT lm{half, -(w.img.nHeight / 2)}, rm = lm;
    for (const tagPOINT& q : tb) {
      const tagPOINT u{q.x, -q.y};
      if (u.x < half && u.x < lm.x) lm = u;
      if (u.x > half && u.x > rm.x) rm = u;
    }
    const _STRTLINE& s = lines[side];
    const bool sideLeft = s.bVert ? s.dX < half : (-s.dB / s.dA) < half;
    GetParallelLine(sideLeft ? rm : lm, s, &lines[n]);
    n = 4;
    break;
  }
  w.img.nWidth = w.img.nWidth;  // the reference rows are no longer needed
  free(w.ref);
  w.ref = nullptr;
  CopyEdges(lr, lrCopy);
  CopyEdges(tb, tbCopy);
  int cLR = 0, cTB = 0;
  RmvBadEdge_RK(lr, tb, lines, &cLR, &cTB);
  if (IsOddDoc(&w.img, lrCopy, lr, tbCopy, tb, cLR, info->dTopSnsY, cTB, static_cast<int>(info->nDevKind))) {
    RemoveNoiseEdge(&w.img, lrCopy, tbCopy, 10.0);
    return odd(lrCopy, tbCopy, n);
  }
  SortStraightLine(lines);
  if ((rc = GetEdgeH(&w.img, lr, lines[0], lines[2], true)) != 0) return rc;
  if ((rc = GetEdgeV(&w.img, tb, lines[3], lines[1], false, LevelSelector(info))) != 0) return rc;
  gstProcTime.slot[7] = 0;
  std::memset(lines, 0, sizeof lines);
  gbTopSLOK = 0;
  gnDistTh = static_cast<int>(2 * img->nXResolution / 25.4 + 0.5);
  n = GetStraightLine(size, lr, tb, rx, 1, lines, &skew, false);
  // No side at all after refining: nothing to cut, and `pos` was never
  // written, so it is not a success.
  if (n == 0) return -3;
  if (n < 0) return n;
  const double t = lines[0].bVert ? 1.570796327 : std::atan(lines[0].dA);
  const double ang = t > 0.7853981635 ? 1.570796327 - t : t <= -0.7853981635 ? -1.570796327 - t : -t;
  skew = ang * 180 / 3.141592654;
  gstProcTime.slot[8] = 0;
  if (n >= 2 && !info->bNoSideRepair) {
    int s1 = -1, s2 = -1, b = -1;
    for (int i = 0; i < n; ++i) {
      if (IsTatesen(lines[i])) {
        if (s1 < 0)
          s1 = i;
        else if (s2 < 0)
          s2 = i;
      } else if (b < 0 && IsSitasen(lines[i], img->nHeight)) {
        b = i;
      }
    }
    if (b >= 0 && s1 >= 0 && s2 < 0 && n < 4) {
      const _STRTLINE& B = lines[b];
      const int64_t big = INT64_MAX / 4;
      tagPOINT L{0, 0}, Rt{0, 0};
      bool gotL = false, gotR = false;
      double vl = -1e300, vr = 1e300;
      int64_t xl = big, xr = -big;
      for (const tagPOINT& q : tb) {
        if (B.dA == 0) {
          if (q.x < xl) xl = q.x, L = q, gotL = true;
          if (q.x > xr) xr = q.x, Rt = q, gotR = true;
        } else {
          const double v = static_cast<double>(q.x) / B.dA + static_cast<double>(q.y);
          if (v > vl) vl = v, L = q, gotL = true;
          if (v < vr) vr = v, Rt = q, gotR = true;
        }
      }
      if (B.dA > 0) std::swap(L, Rt);
      const int half = w.img.nWidth / 2;
      auto scaled = [&](const tagPOINT& q) {
        return tagPOINT{static_cast<int64_t>(q.x * rx + 0.5), static_cast<int64_t>(0.5 - q.y * ry)};
      };
      const tagPOINT lp = gotL && L.x < half ? scaled(L) : tagPOINT{img->nWidth / 2 - 1, -(img->nHeight / 2)};
      const tagPOINT rp = gotR && Rt.x > half ? scaled(Rt) : tagPOINT{img->nWidth / 2 + 1, -(img->nHeight / 2)};
      const double dl = GetDistance_1({lp.x, -lp.y}, lines[s1]), dr = GetDistance_1({rp.x, -rp.y}, lines[s1]);
      GetOrthogonalLine(dl >= dr ? lp : rp, B, &lines[n]);
      ++n;
    }
  }
  if (n == 2 || n == 1) {
    RemoveNoiseEdge(&w.img, lrCopy, tbCopy, 10.0);
    return odd(lrCopy, tbCopy, n);
  }
  if (n == 3) {
    int topLine = -1, flat = -1;
    for (int i = 0; i < 3; ++i) {
      const _STRTLINE& l = lines[i];
      if (std::fabs(l.dA) <= 1.0 && !l.bVert) {
        flat = i;
        if (topLine < 0 && -(l.dA * sx + l.dB) < (img->nHeight >> 1)) topLine = i;
      }
    }
    if (topLine >= 0 || flat < 0) {
      RemoveNoiseEdge(&w.img, lrCopy, tbCopy, 10.0);
      return odd(lrCopy, tbCopy, 3);
    }
    lines[3] = lines[flat];
    lines[3].dB = -sy - sx * lines[3].dA;
    SortStraightLine(lines);
  } else if (gbOVSJudge) {
    SensorTop(lines, img, info, 2.0);
  } else {
    SortStraightLine(lines);
  }
  PaperEdgesOutward(img, lines);
  tagPOINT c[4];
  if (!GetAllXPoints4(lines, c)) return -3;
  if (info->bNoSideRepair && !CornersInside(c, img)) {
    pos->dSkew = skew;
    std::copy(c, c + 4, pos->ptCorner);
    return -9;
  }
  if ((rc = ShadowSideCheck(img, tb, rx, ry, lines, c)) != 0) return rc;
  pos->dSkew = skew;
  std::copy(c, c + 4, pos->ptCorner);
  return 0;
}

int _GetDocPos_RK(_P2IIMG* img, const _P2IGDPINFO* info, int shadow, _P2IDOCPOS* pos) {
  if (TooSmall(img)) return -8;
  Work w;
  int rc = 0;
  if (img->nXResolution > 300) {
    rc = GetHalfImage(img, &w.img);
  } else if (info->bInvGamma) {
    rc = DuplicateImage(img, &w.img);
  } else {
    // Nothing below writes to the full-size copy: the page itself serves.
    w.img = *img;
    w.borrowed = true;
  }
  if (rc) return rc;
  if (info->bInvGamma) DoInvGamma(&w.img);
  if (w.MakeRefs(shadow)) return -2;
  const int wd = w.img.nXResolution;
  gnRhDiff = wd >> 2;
  gn1inch = wd;
  gnDistTh = static_cast<int>(2 * wd / 25.4 + 0.5);
  const int size = std::max(w.img.nHeight, w.img.nWidth);
  PointList lr, tb, lrCopy, tbCopy;
  _STRTLINE lines[4] = {};
  double skew = 0;
  int n = 0;
  auto odd = [&](PointList& a, PointList& b, int count) {
    GetDocPosForOddDoc(img, &w.img, a, b, lines, count, skew, pos, info);
    OddShadowSides(img, pos);
    return 0;
  };
  for (int p = 1; p >= 0; --p) {
    lr.clear();
    tb.clear();
    if ((rc = GetEdgeH(&w.img, w.Ref1(), w.Ref2(), p, lr, true)) != 0) return rc;
    if ((rc = GetEdgeV(&w.img, w.Ref1(), w.Ref2(), p, tb, true)) != 0) return rc;
    if (lr.empty() && tb.empty()) return -3;
    std::memset(lines, 0, sizeof lines);
    n = GetStraightLine(size, lr, tb, 1.0, 0, lines, &skew, true);
    if (n < 0) return n;
    if (p == 1) {
      if (n >= 4 && ShorterSide2(lines) >= 4LL * wd * wd) break;
      continue;
    }
    if (n < 4) return odd(lr, tb, n);
  }
  CopyEdges(lr, lrCopy);
  CopyEdges(tb, tbCopy);
  int cLR = 0, cTB = 0;
  RmvBadEdge_RK(lr, tb, lines, &cLR, &cTB);
  if (IsOddDoc(&w.img, lrCopy, lr, tbCopy, tb, cLR, info->dTopSnsY, cTB, static_cast<int>(info->nDevKind)))
    return odd(lrCopy, tbCopy, n);
  SortStraightLine(lines);
  if ((rc = GetEdgeH(&w.img, lr, lines[0], lines[2], true)) != 0) return rc;
  if ((rc = GetEdgeV(&w.img, tb, lines[3], lines[1], true, LevelSelector(info))) != 0) return rc;
  std::memset(lines, 0, sizeof lines);
  gnRhDiff = img->nXResolution >> 2;
  gn1inch = img->nXResolution;
  gnDistTh = static_cast<int>(2 * img->nXResolution / 25.4 + 0.5);
  n = GetStraightLine(size, lr, tb, WorkScale(img, &w.img), 1, lines, &skew, true);
  if (n < 0) return n;
  if (n < 4) return odd(lrCopy, tbCopy, n);
  UprightSidesAlongTheirPoints(lr, WorkScale(img, &w.img), img->nXResolution / 25.4, lines);
  GetDskwAngle_RK(lines[0], &skew);
  if (gbOVSJudge == 1) SensorTop(lines, img, info, 5.0);
  SortStraightLine(lines);
  tagPOINT c[4];
  if (!GetAllXPoints4(lines, c)) return -3;
  {
    const int ww = w.img.nWidth;
    const uint8_t* lvl = w.Ref2() + (w.img.nBitsPerPixel == 24 ? ww : 0);
    if ((rc = LampSideToShadow(img, lvl, WorkScale(img, &w.img), lines, c)) < 0) return rc;
  }
  if ((rc = SideShadowsPastEnds(img, lines, c)) < 0) return rc;
  if ((rc = ShadowSidesCheck(img, lines, c)) < 0) return rc;
  pos->dSkew = skew;
  std::copy(c, c + 4, pos->ptCorner);
  return 0;
}

}  // namespace p2iwb
