// Finding the punch holes of a page: the search lines along each side, the
// group walk, the punch-pattern rules and the duplex choice.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FsipCrop_ph.h"

namespace fsipcrop {

// ---- pattern tests ----

namespace {

inline bool InBand(int g, double a, double b, double p) {
  return static_cast<int>(a * p) <= g && g <= static_cast<int>(b * p);
}

std::vector<int> Gaps(const PHLidList* phs) {
  std::vector<int> g;
  for (auto it = phs->begin(); it != phs->end() && std::next(it) != phs->end(); ++it)
    g.push_back(GetDistance(it->ptCenter, std::next(it)->ptCenter));
  return g;
}

bool SizesWithin(const PHLidList* phs, double lo, double hi) {
  for (const _PHLID& l : *phs)
    if (l.dSizeAlong < lo || l.dSizeAlong > hi) return false;
  return true;
}

bool SamePitch(const PHLidList* phs, double p) {
  int* g = nullptr;
  const int r = IsSamePitch(phs, p, &g);
  delete[] g;
  return r != 0;
}

void SubListSearch(PHLidList* phs, int bSortByX, double p, int nPHMode) {
  std::vector<PHLidList*> results;
  ExamCmpPHPttn(phs, bSortByX, p, results, nPHMode);
  phs->clear();
  CombinePHLidList(results, phs);
}

}  // namespace

int IsSamePitch(const PHLidList* phs, double p, int** gaps) {
  const size_t n = phs->size();
  *gaps = new int[std::max<size_t>(n, 1)]();
  const std::vector<int> g = Gaps(phs);
  std::copy(g.begin(), g.end(), *gaps);
  if (n < 2) return 0;
  for (int v : g)
    if (std::abs(v - g[0]) > static_cast<int>(2 * p)) return 0;
  return 1;
}

int Is2PHs(const PHLidList* phs, double p, int nPHMode) {
  if (phs->size() < 2) return 0;
  const int g = GetDistance(phs->front().ptCenter, std::next(phs->begin())->ptCenter);
  if (!InBand(g, 65, 85, p)) return 0;
  const int kind = nPHMode & 0xF;
  const double lo = kind == 0 ? 3.2 : kind == 2 ? 2.5 : 4.5;
  const double hi = kind == 0 ? 12.5 : kind == 2 ? 14.0 : 8.5;
  return SizesWithin(phs, lo, hi) ? 1 : 0;
}

void ExamCmpPHPttn(const PHLidList* phs, int bSortByX, double p, std::vector<PHLidList*>& results, int nPHMode) {
  results.clear();
  for (auto skip = phs->begin(); skip != phs->end(); ++skip) {
    auto sub = std::make_unique<PHLidList>();
    for (auto it = phs->begin(); it != phs->end(); ++it)
      if (it != skip) sub->push_back(*it);
    ExamPHPttn(sub.get(), 1, bSortByX, p, nPHMode);
    if (sub->empty()) continue;
    bool dup = false;
    for (const PHLidList* r : results)
      for (const _PHLID& h : *sub)
        if (h.ptCenter.x == r->front().ptCenter.x && h.ptCenter.y == r->front().ptCenter.y) dup = true;
    if (!dup) results.push_back(sub.release());
  }
}

void ExamPHPttn(PHLidList* phs, int bSub, int bSortByX, double p, int nPHMode) {
  const size_t n = phs->size();
  if (n < 2 || n > 128) {
    phs->clear();
    return;
  }
  if (!bSub) {
    // Insertion in front of the first strictly larger key keeps equal keys
    // in their order: a stable sort.
    std::vector<_PHLID> v(phs->begin(), phs->end());
    std::stable_sort(v.begin(), v.end(), [bSortByX](const _PHLID& a, const _PHLID& b) {
      return bSortByX ? a.ptCenter.x < b.ptCenter.x : a.ptCenter.y < b.ptCenter.y;
    });
    phs->assign(v.begin(), v.end());
  }
  const std::vector<int> g = Gaps(phs);
  switch (n) {
    case 2:
      if (!Is2PHs(phs, p, nPHMode)) phs->clear();
      return;
    case 3: {
      if (std::abs(g[1] - g[0]) <= static_cast<int>(8 * p) &&
          (InBand(g[0], 65, 75, p) || InBand(g[0], 84, 94, p) || InBand(g[0], 95, 113, p)) &&
          SizesWithin(phs, 5.5, 9.2))
        return;
      for (auto skip = phs->begin(); skip != phs->end(); ++skip) {
        PHLidList pair;
        for (auto it = phs->begin(); it != phs->end(); ++it)
          if (it != skip) pair.push_back(*it);
        if (Is2PHs(&pair, p, nPHMode)) {
          *phs = pair;
          return;
        }
      }
      phs->clear();
      return;
    }
    case 4: {
      if (SamePitch(phs, p)) {
        if ((InBand(g[0], 52, 62, p) || InBand(g[0], 75, 85, p)) && SizesWithin(phs, 5.0, 6.5)) return;
      } else if ((InBand(g[0], 16, 26, p) && InBand(g[1], 65, 75, p) && InBand(g[2], 16, 26, p)) ||
                 (InBand(g[0], 10, 20, p) && InBand(g[1], 60, 70, p) && InBand(g[2], 10, 20, p))) {
        return;
      }
      SubListSearch(phs, bSortByX, p, nPHMode);
      return;
    }
    case 5:
      if (SamePitch(phs, p) && InBand(g[0], 25, 45, p) && SizesWithin(phs, 5.4, 9.2)) return;
      SubListSearch(phs, bSortByX, p, nPHMode);
      return;
    case 6: {
      PHLidList a, b;
      int k = 0;
      for (const _PHLID& l : *phs) (k++ < 3 ? a : b).push_back(l);
      const std::vector<int> ga = Gaps(&a), gb = Gaps(&b);
      const int tol = static_cast<int>(2 * p);
      if (SamePitch(&a, p) && SamePitch(&b, p) && gb[0] - ga[0] <= tol && gb[1] - ga[0] <= tol) return;
      SubListSearch(phs, bSortByX, p, nPHMode);
      return;
    }
    default: {
      const int kind = nPHMode & 0xF;
      const double T = kind == 1 ? (gbLowReso ? 1.5 : 1.0) : (gbLowReso ? 2.5 : 2.0);
      auto size = [&](const _PHLID& l) { return (!bSortByX || kind == 1) ? l.dSizeAlong : l.dSizeAcross; };
      std::vector<PHLidList> groups;
      for (const _PHLID& l : *phs) {
        bool placed = false;
        for (PHLidList& gr : groups)
          if (std::fabs(size(gr.front()) - size(l)) <= T) {
            gr.push_back(l);
            placed = true;
            break;
          }
        if (!placed) groups.push_back(PHLidList{l});
      }
      phs->clear();
      for (PHLidList& gr : groups) {
        if (gr.size() < 7) ExamPHPttn(&gr, 1, bSortByX, p, nPHMode);
        phs->insert(phs->end(), gr.begin(), gr.end());
      }
      return;
    }
  }
}

// ---- detection driver ----

// The side lines in the order left, bottom, right, top: the two steep
// lines by their column at the page's middle, the two flat ones by height.
void OrderPageSides(const _STRTLINE* in, _STRTLINE* out) {
  int steep[4], flat[4], ns = 0, nf = 0;
  for (int i = 0; i < 4; ++i) (IsSteep(in[i]) ? steep[ns++] : flat[nf++]) = i;
  if (ns != 2 || nf != 2) {
    std::copy(in, in + 4, out);
    return;
  }
  double midY = 0;
  for (int k = 0; k < 2; ++k) midY += in[flat[k]].dB / 2;
  auto col = [&](const _STRTLINE& l) { return l.bVert ? l.dX : (midY - l.dB) / l.dA; };
  const bool firstLeft = col(in[steep[0]]) <= col(in[steep[1]]);
  out[0] = in[steep[firstLeft ? 0 : 1]];
  out[2] = in[steep[firstLeft ? 1 : 0]];
  const bool firstLow = in[flat[0]].dB <= in[flat[1]].dB;
  out[1] = in[flat[firstLow ? 0 : 1]];
  out[3] = in[flat[firstLow ? 1 : 0]];
}

namespace {

constexpr double kHalfPiLit = 1.570796327;

// The side's line moved d pixels towards the page inside.
_STRTLINE SearchLine(const _STRTLINE* sides, int i, double d) {
  _STRTLINE l = sides[i];
  if (l.bVert) {
    l.dX += i == 0 ? d : -d;
    return l;
  }
  const double t = l.dA == 0 ? 0 : std::fabs(std::atan(l.dA));
  const double m = d / std::sin(kHalfPiLit - t);
  if (i == 0)
    l.dB += static_cast<int>(l.dA) >= 1 ? -m : m;
  else if (i == 2)
    l.dB += static_cast<int>(l.dA) >= 1 ? m : -m;
  else if (i == 1)
    l.dB += m;
  else
    l.dB -= m;
  return l;
}

double ScaleOf(const _STRTLINE& l) {
  if (l.bVert || l.dA == 0) return 1.0;
  const double t = std::fabs(std::atan(l.dA));
  return std::fabs(l.dA) < 1 ? 1 / std::cos(t) : 1 / std::sin(t);
}

// Ends of the search segment on the neighbouring sides.
bool Ends(const _STRTLINE* sides, int i, const _STRTLINE& line, tagPOINT* a, tagPOINT* b) {
  const int n1 = (i & 1) ? 0 : 1, n2 = (i & 1) ? 2 : 3;
  return GetXPt(line, sides[n1], a) && GetXPt(line, sides[n2], b);
}

// Samples the search line between its ends into the clue; false when the
// range holds nothing.
// GetAveOnSL through the cache: the same line and range write the same
// samples, so a kept copy stands in for the walk.
void AveOnLine(const _P2IIMG* img, int* first, int* last, uint32_t* ave, int ch, const _STRTLINE& l,
               PHLineCache* cache) {
  if (!cache) {
    GetAveOnSL(img, 3, first, last, ave, l);
    return;
  }
  const int from = *first, to = *last;
  for (const PHLineCache::Entry& e : cache->entries)
    if (e.from == from && e.to == to && std::memcmp(&e.line, &l, sizeof l) == 0) {
      *first = e.first;
      *last = e.last;
      if (e.first >= 0) std::copy(e.ave.begin(), e.ave.end(), ave + static_cast<size_t>(e.first) * ch);
      return;
    }
  GetAveOnSL(img, 3, first, last, ave, l);
  if (!cache->record) return;
  PHLineCache::Entry e{l, from, to, *first, *last, {}};
  if (*first >= 0)
    e.ave.assign(ave + static_cast<size_t>(*first) * ch, ave + static_cast<size_t>(*last + 1) * ch);
  cache->entries.push_back(std::move(e));
}

bool Sample(const _P2IIMG* img, int i, const _STRTLINE& line, tagPOINT a, tagPOINT b, _PHCLUE2* clue,
            PHLineCache* cache) {
  const int64_t p = (i & 1) ? a.x : -a.y, q = (i & 1) ? b.x : -b.y;
  int first = static_cast<int>(std::max<int64_t>(std::min(p, q), 0));
  int last = static_cast<int>(std::min<int64_t>(std::max(p, q), clue->nLen - 1));
  if (first > last) return false;
  // A steep search line is sampled by row, a flat one by column: the side's
  // kind decides, so lean a tilted line the right way for the sampler.
  _STRTLINE l = line;
  const bool wantSteep = !(i & 1);
  if (!l.bVert && IsSteep(l) != wantSteep) return false;
  AveOnLine(img, &first, &last, clue->pdwAve, clue->bColor ? 3 : 1, l, cache);
  if (first < 0) return false;
  GetGradRange(clue->pdwAve, clue->nLen, clue->bColor != 0, first - 2, last + 2, clue->pnGrad);
  clue->nStart = first;
  clue->nEnd = last;
  clue->stLine = line;
  return true;
}

// Two measurements closer than this (centre to centre, pixels) are one hole.
constexpr int kSameHole = 24;

bool SameHole(const _PHLID& a, const _PHLID& b) { return GetDistance(a.ptCenter, b.ptCenter) <= kSameHole; }

}  // namespace

void MergePHGroup(const std::vector<PHLidList>& lists, PHLidList* merged) {
  auto box = [](const _PHLID& l) {
    int64_t x0 = l.ptCorner[0].x, x1 = x0, y0 = l.ptCorner[0].y, y1 = y0;
    for (const tagPOINT& p : l.ptCorner) {
      x0 = std::min(x0, p.x);
      x1 = std::max(x1, p.x);
      y0 = std::min(y0, p.y);
      y1 = std::max(y1, p.y);
    }
    return (x1 - x0) * (y1 - y0);
  };
  merged->clear();
  for (const PHLidList& l : lists)
    for (const _PHLID& h : l) {
      auto m = std::find_if(merged->begin(), merged->end(), [&](const _PHLID& x) { return SameHole(x, h); });
      if (m == merged->end())
        merged->push_back(h);
      else if (box(*m) < box(h))
        *m = h;
    }
}

void MergeSidePHs(const PHLidList* perSide, PHLidList* phs) {
  phs->clear();
  for (int i = 0; i < 4; ++i)
    for (const _PHLID& h : perSide[i])
      if (std::none_of(phs->begin(), phs->end(), [&](const _PHLID& x) { return SameHole(x, h); })) phs->push_back(h);
}

bool TestCrrPHGrp(const _P2IIMG* img, const _STRTLINE* sls, int side, _PHCLUE2 clue, int bPattern, int* depth,
                  PHLidList* phs, int nPHMode, bool bADF, PHLineCache* cache) {
  std::vector<PHLidList> lists{*phs};
  int d = *depth - 1;
  CnddtList cands;
  for (;; --d) {
    const _STRTLINE line = SearchLine(sls, side, d);
    tagPOINT a, b;
    if (!Ends(sls, side, line, &a, &b)) break;
    if ((side == 0 && (a.x < 0 || b.x < 0)) || (side == 2 && (a.x >= img->nWidth || b.x >= img->nWidth)) ||
        (side == 1 && (a.y <= -img->nHeight || b.y <= -img->nHeight)) || (side == 3 && (a.y > 0 || b.y > 0)))
      break;
    if (!Sample(img, side, line, a, b, &clue, cache)) break;
    cands.clear();
    FindPHCnddts(clue, &cands, nPHMode, bADF);
    if (cands.empty()) break;
    PHLidList fresh;
    ScrnPHCnddts(img, clue, side & 1, bPattern, &cands, &fresh, nPHMode);
    if (fresh.empty()) break;
    lists.push_back(std::move(fresh));
  }
  if (lists.size() == 1) return false;
  PHLidList merged;
  MergePHGroup(lists, &merged);
  if (bPattern) ExamPHPttn(&merged, 0, side & 1, gd1mm, nPHMode);
  *depth = d;
  *phs = merged;
  return !phs->empty();
}

int HidePHs(const _P2IIMG* img, const _STRTLINE* slsIn, uint32_t* ave, int32_t* grad, int len, int bCover,
            int bPattern, PHLidList* phs, uint32_t fill, int nPHMode, bool bADF) {
  return HidePHsFrom(img, slsIn, ave, grad, len, bCover, bPattern, phs, fill, nPHMode, bADF, nullptr, nullptr);
}

int HidePHsFrom(const _P2IIMG* img, const _STRTLINE* slsIn, uint32_t* ave, int32_t* grad, int len, int bCover,
                int bPattern, PHLidList* phs, uint32_t fill, int nPHMode, bool bADF, const PHSideStarts* from,
                PHSideStarts* met, PHLineCache* cache) {
  if (met) std::fill(met->depth, met->depth + 4, -1);
  _STRTLINE sls[4];
  OrderPageSides(slsIn, sls);
  const bool colour = img->nBitsPerPixel == 24;
  const size_t cells = static_cast<size_t>(std::max(len, 0)) * (colour ? 3 : 1);
  std::vector<uint32_t> smooth;
  std::vector<int32_t> smoothGrad;
  try {
    smooth.assign(cells + 1, 0);
    smoothGrad.assign(cells + 1, 0);
  } catch (...) {
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  const double dpi = img->nXResolution;
  const int kind = nPHMode & 0xF;
  _PHCLUE2 clue{};
  clue.bColor = colour ? 1 : 0;
  clue.pdwAve = ave;
  clue.pnGrad = grad;
  clue.nLen = len;
  clue.nMinSize = static_cast<int>(dpi * 2.5 / 25.4 + 0.5);
  clue.nMaxSize = static_cast<int>(dpi * (kind == 2 ? 14.5 : kind == 0 ? 13.5 : 10.5) / 25.4 + 0.5);
  clue.pdwSmooth = smooth.data();
  clue.pnSmoothGrad = smoothGrad.data();
  int step = static_cast<int>(0.5 * gd1mm + 0.5);
  if (step == 0) step = 1;
  PHLidList perSide[4];
  CnddtList cands;
  for (int i = 0; i < 4; ++i) {
    clue.dScale = ScaleOf(sls[i]);
    const int start = from ? from->depth[i] : (i & 1) ? 40 * step : static_cast<int>(20 * gd1mm + 0.5);
    for (int d = start; d >= 1; d -= step) {
      const _STRTLINE line = SearchLine(sls, i, d);
      tagPOINT a, b;
      if (!Ends(sls, i, line, &a, &b) || !Sample(img, i, line, a, b, &clue, cache)) continue;
      cands.clear();
      FindPHCnddts(clue, &cands, nPHMode, bADF);
      if (met && met->depth[i] < 0 && !cands.empty()) met->depth[i] = d;
      PHLidList found;
      if (!cands.empty()) ScrnPHCnddts(img, clue, i & 1, bPattern, &cands, &found, nPHMode);
      if (found.size() >= (bPattern ? 2u : 1u) &&
          TestCrrPHGrp(img, sls, i, clue, bPattern, &d, &found, nPHMode, bADF, cache) && !found.empty())
        perSide[i].insert(perSide[i].end(), found.begin(), found.end());
    }
  }
  MergeSidePHs(perSide, phs);
  if (bCover && !phs->empty()) {
    int res = 0;
    CoverPHs(const_cast<_P2IIMG*>(img), phs, fill, nPHMode, &res);
  }
  return 0;
}

int DetectPHs(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, PHLidList* phs,
              int nPHMode, bool bADF) {
  return HidePHs(img, sls, ave, grad, len, 0, 1, phs, 0, nPHMode, bADF);
}

int DetectFreePHs(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, PHLidList* phs) {
  return HidePHs(img, sls, ave, grad, len, 0, 0, phs, 0, 0, true);
}

int DetectFreePHs(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, PHLidList* phs,
                  int nPHMode, bool bADF) {
  return HidePHs(img, sls, ave, grad, len, 0, 0, phs, 0, nPHMode, bADF);
}

int GetPHSize(_PHLID lid) {
  return std::max(static_cast<int>(lid.dSizeAlong + 0.5), static_cast<int>(lid.dSizeAcross + 0.5));
}

// ---- duplex choice ----

namespace {

_PHLID Mirrored(const _PHLID& h, int width, int gx) {
  _PHLID m = h;
  for (tagPOINT& p : m.ptCorner) p.x = width - p.x - gx;
  m.ptCenter.x = width - h.ptCenter.x - gx;
  return m;
}

// The partner rule: centres under 3 mm apart and each size within 1.5 mm.
void KeepPartnered(PHLidList* self, const std::vector<_PHLID>& mirrored, double dpi) {
  const int D = static_cast<int>(dpi * 3.0 / 25.4 + 0.5);
  for (auto it = self->begin(); it != self->end();) {
    const bool ok = std::any_of(mirrored.begin(), mirrored.end(), [&](const _PHLID& m) {
      return GetDistance(it->ptCenter, m.ptCenter) < D && std::fabs(it->dSizeAlong - m.dSizeAlong) <= 1.5 &&
             std::fabs(it->dSizeAcross - m.dSizeAcross) <= 1.5;
    });
    it = ok ? std::next(it) : self->erase(it);
  }
}

}  // namespace

void CheckFreePHs(int side, const _P2IIMG* other, const PHLidList* otherPat, const PHLidList* otherFree,
                  PHLidList* self) {
  int ax, ay, bx, by;
  GetCurrGaps(other->nXResolution, &ax, &ay, other->nXResolution, &bx, &by);
  const int gx = side == 1 ? ax : bx, gy = side == 1 ? ay : by;
  std::vector<_PHLID> mirrored;
  for (const PHLidList* l : {otherPat, otherFree})
    for (const _PHLID& h : *l) {
      _PHLID m = h;
      m.ptCenter.x = other->nWidth - h.ptCenter.x - gx;
      m.ptCenter.y = h.ptCenter.y - gy;
      mirrored.push_back(m);
    }
  KeepPartnered(self, mirrored, other->nXResolution);
}

void GetBestPHs(const _P2IIMG* front, PHLidList* frontPat, PHLidList* frontFree, const _P2IIMG* back,
                PHLidList* backPat, PHLidList* backFree) {
  auto dropNear = [](PHLidList* pat, const PHLidList* free) {
    for (const _PHLID& f : *free)
      pat->remove_if([&](const _PHLID& p) {
        return std::llabs(p.ptCenter.x - f.ptCenter.x) <= 4 && std::llabs(p.ptCenter.y - f.ptCenter.y) <= 4;
      });
  };
  dropNear(frontPat, frontFree);
  dropNear(backPat, backFree);
  if (!frontPat->empty()) CheckFreePHs(1, back, backPat, backFree, frontPat);
  if (!backPat->empty()) CheckFreePHs(0, front, frontPat, frontFree, backPat);
  int fx, fy, bx, by;
  GetCurrGaps(front->nXResolution, &fx, &fy, back->nXResolution, &bx, &by);
  frontFree->remove_if([&](const _PHLID& h) { return IsOppSideWhite(back, Mirrored(h, back->nWidth, fx)) != 0; });
  backFree->remove_if([&](const _PHLID& h) { return IsOppSideWhite(front, Mirrored(h, front->nWidth, bx)) != 0; });
  frontPat->insert(frontPat->end(), frontFree->begin(), frontFree->end());
  backPat->insert(backPat->end(), backFree->begin(), backFree->end());
}

void GetBestPHs(const _P2IIMG* a, PHLidList* aPHs, const _P2IIMG* b, PHLidList* bPHs) {
  int ax, ay, bx, by;
  GetCurrGaps(a->nXResolution, &ax, &ay, a->nXResolution, &bx, &by);
  auto mirror = [](const PHLidList* l, int width, int gx, int gy) {
    std::vector<_PHLID> out;
    for (const _PHLID& h : *l) {
      _PHLID m = h;
      m.ptCenter.x = width - h.ptCenter.x - gx;
      m.ptCenter.y = h.ptCenter.y - gy;
      out.push_back(m);
    }
    return out;
  };
  KeepPartnered(aPHs, mirror(bPHs, a->nWidth, ax, ay), a->nXResolution);
  KeepPartnered(bPHs, mirror(aPHs, b->nWidth, bx, by), a->nXResolution);
}

void LimitPHs(const _P2IIMG* work, PHLidList* phs, bool keepAll) {
  if (keepAll || work->nXResolution <= 0) return;
  const double longer = std::max(work->nWidth, work->nHeight);
  const size_t N = static_cast<size_t>(longer / work->nXResolution * 25.4 / 6 + 3);
  if (phs->size() > N) phs->clear();
}

}  // namespace fsipcrop
