// The document search (edges, lines, virtual sides) and the margin moves.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "FsipCrop.h"

namespace fsipcrop {

namespace {

constexpr double kHalfPi = 1.570796327;
constexpr double kOneDegree = 0.017453292522222223;

using Fit = int (*)(int, const PointList&, const PointList&, _STRTLINE*, double*);

// Milliseconds since `start` into a stage field of the record, when given.
void StageEnd(_PRFMDATA* prfm, uint32_t _PRFMDATA::*field, std::chrono::steady_clock::time_point start) {
  if (prfm)
    prfm->*field = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

int Search(const _P2IIMG* img, uint32_t* ave, int32_t* grad, int n, _STRTLINE* lines, double* skew, int* found,
           PointList* points, _PRFMDATA* prfm, Fit fit) {
  auto start = std::chrono::steady_clock::now();
  gvecFrameL.clear();
  gvecFrameB.clear();
  gvecFrameR.clear();
  gvecFrameT.clear();
  PointList ptsH, ptsV;
  int dl = 0, dr = 0, dt = 0, db = 0;
  GetEdgeH(img, ave, grad, ptsH, &dl, &dr);
  GetEdgeV(img, ave, grad, ptsV, &dt, &db);
  StageEnd(prfm, &_PRFMDATA::dwGetEdges, start);
  if (gbFBFrameSearch) {
    const int h = static_cast<int>(gd1mm) / 2;
    gnFrameL = GetFrameL(h);
    gnFrameB = GetFrameB(h);
    gnFrameR = GetFrameR(h);
    gnFrameT = GetFrameT(h);
  }
  gbDoubtL = dl;
  gbDoubtR = dr;
  gbDoubtT = dt;
  gbDoubtB = db;
  if (ptsH.empty() && ptsV.empty()) return kNoDocument;
  if (points) {
    points->insert(points->end(), ptsH.begin(), ptsH.end());
    points->insert(points->end(), ptsV.begin(), ptsV.end());
  }
  start = std::chrono::steady_clock::now();
  const int count = fit(n, ptsH, ptsV, lines, skew);
  StageEnd(prfm, &_PRFMDATA::dwGetSLs, start);
  *found = count;
  int have = count;
  if (have < 2) {
    if (have != 1) return kNoDocument;
    const _STRTLINE& l = lines[0];
    const double t = std::atan(l.dA);
    const bool axis = l.bVert || l.dA == 0 || std::fabs(t) < kOneDegree || std::fabs(t - kHalfPi) < kOneDegree;
    if (!axis || !SetVrtlSL4FB(img, lines, ave, grad, n)) return kNoDocument;
    have = 2;
  }
  if (have < 4) {
    start = std::chrono::steady_clock::now();
    const int placed = SetVrtlSLs(img, lines, have, ave, grad, n);
    StageEnd(prfm, &_PRFMDATA::dwSetVrtlSLs, start);
    if (!placed) return kNoDocument;
  }
  // Every pair of adjacent sides must cross inside reach: a set whose
  // corners cannot be formed is no document.
  _STRTLINE sorted[4];
  std::copy(lines, lines + 4, sorted);
  SortSLs(sorted);
  tagPOINT c[4];
  if (!GetXPt(sorted[3], sorted[0], &c[0]) || !GetXPt(sorted[0], sorted[1], &c[1]) ||
      !GetXPt(sorted[1], sorted[2], &c[2]) || !GetXPt(sorted[2], sorted[3], &c[3]))
    return kNoDocument;
  GetDskwAngle(lines[0], skew);
  return 0;
}

}  // namespace

int GetDocPos(const _P2IIMG* img, int /*adf*/, uint32_t* ave, int32_t* grad, int n, _STRTLINE* lines, double* skew,
              int* found, PointList* points, _PRFMDATA* prfm) {
  return Search(img, ave, grad, n, lines, skew, found, points, prfm, GetSLs);
}

int GetDocPosAIQC(const _P2IIMG* img, int /*adf*/, uint32_t* ave, int32_t* grad, int n, _STRTLINE* lines,
                  double* skew, int* found, PointList* points, _PRFMDATA* prfm) {
  return Search(img, ave, grad, n, lines, skew, found, points, prfm, GetSLsAIQC);
}

void MoveSLs4FHK(_STRTLINE*, double) {}

namespace {

// Moves sorted side `slot` by o pixels towards the centre.
void MoveSide(_STRTLINE& l, int slot, double o, bool slopeSignOnly) {
  if (l.bVert) {
    l.dX += slot == 0 ? o : -o;
    return;
  }
  if (l.dA == 0) {
    l.dB += slot == 1 ? o : -o;
    return;
  }
  const double v = std::sin(kHalfPi - std::fabs(std::atan(l.dA)));
  const bool positive = slopeSignOnly ? l.dA > 0 : static_cast<int64_t>(l.dA) > 0;
  switch (slot) {
    case 1:
      l.dB += o / v;
      break;
    case 3:
      l.dB -= o / v;
      break;
    case 0:
      l.dB += positive ? -o / v : o / v;
      break;
    default:
      l.dB += positive ? o / v : -o / v;
      break;
  }
}

}  // namespace

void MoveSLs4FHK(_STRTLINE* lines, double dpi, FSIP_CRP_S_OFFSET_VALUE off) {
  const double o[4] = {off.offsetLeft * dpi / 254, off.offsetBottom * dpi / 254, off.offsetRight * dpi / 254,
                       off.offsetTop * dpi / 254};
  for (int k = 0; k < 4; ++k) MoveSide(lines[k], k, o[k], false);
}

void MoveDocPos(_P2IDOCPOS* pos, double dpi, const FSIP_CRP_S_OFFSET_VALUE* off) {
  const double f = -off->offsetLeft * dpi / 254, h = -off->offsetBottom * dpi / 254;
  const double u = off->offsetRight * dpi / 254, r = off->offsetTop * dpi / 254;
  SortXPts(pos->ptCorner);
  const double a = pos->dSkew * 3.141592654 / 180, s = std::sin(a), c = std::cos(a);
  const double moves[4][2] = {{f, h}, {f, r}, {u, r}, {u, h}};
  for (int k = 0; k < 4; ++k) {
    tagPOINT& p = pos->ptCorner[k];
    const double dx = moves[k][0], dy = moves[k][1];
    const double x = static_cast<double>(p.x), y = static_cast<double>(p.y);
    p = {RoundHalfAway(x + dx * c + dy * s), RoundHalfAway(y - dx * s + dy * c)};
  }
}

void MoveDocPos(_P2IDOCPOS* pos, int dpi, const FSIP_CRP_S_OFFSET_VALUE* off) {
  tagPOINT* p = pos->ptCorner;
  for (int k = 0; k < 4; ++k) p[k].y = -p[k].y;
  SortXPts(p);
  for (int k = 0; k < 4; ++k) p[k].y = -p[k].y;
  _STRTLINE l[4];
  for (int k = 0; k < 4; ++k) GetSLfm2Pts(p[k], p[(k + 1) % 4], &l[k]);
  const int16_t offs[4] = {off->offsetLeft, off->offsetBottom, off->offsetRight, off->offsetTop};
  for (int k = 0; k < 4; ++k) MoveSide(l[k], k, offs[k] * static_cast<double>(dpi) / 254, true);
  tagPOINT q[4];
  for (int k = 0; k < 4; ++k)
    if (!GetXPt(l[(k + 3) % 4], l[k], &q[k])) return;  // degenerate corners: left as they were
  std::copy(q, q + 4, p);
}

}  // namespace fsipcrop
