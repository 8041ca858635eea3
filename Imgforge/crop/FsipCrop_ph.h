// Punch holes of the main crop engine: the records the hole code shares,
// the candidate search, the lid measurement, the pattern tests, the
// covering, the detection driver, the duplex choice and the hole entries.
#ifndef DRAVN_IMGFORGE_CROP_FSIPCROP_PH_H
#define DRAVN_IMGFORGE_CROP_FSIPCROP_PH_H

#include <list>
#include <vector>

#include "FsipCrop.h"

namespace fsipcrop {

struct _PHCNDDT {
  int32_t nStart;
  int32_t nEnd;
};

struct _PHCLUE2 {
  int32_t bColor;
  uint32_t* pdwAve;
  int32_t* pnGrad;
  int32_t nLen;
  int32_t nStart;
  int32_t nEnd;
  int32_t nMinSize;
  int32_t nMaxSize;
  double dScale;
  uint32_t* pdwSmooth;
  int32_t* pnSmoothGrad;
  _STRTLINE stLine;
};

struct _PHLID {
  _STRTLINE stCntrLine;
  tagPOINT ptCorner[4];
  tagPOINT ptCenter;
  double dSizeAlong;
  double dSizeAcross;
};

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};

using CnddtList = std::list<_PHCNDDT>;
using PHLidList = std::list<_PHLID>;

// ---- records and candidate search ----
// GetGrad's values at positions from..to only (kept inside 0..n-1): what the
// hole search reads of a profile, without the cost of the whole length.
void GetGradRange(const uint32_t* prof, int n, bool colour, int from, int to, int32_t* grad);
void FindPHCnddts(_PHCLUE2 clue, CnddtList* out, int nPHMode, bool bADF);
int IsStable_AC(int i, int j, const int32_t* r, const int32_t* g, const int32_t* b, int* flatStart, int* steepStart);
int IsStable(_PHCLUE2 clue, int i, int j, int limit);
int IsStable(_PHCLUE2 clue, int i, int j, int kind, bool flag);
void CombinePHLidList(std::vector<PHLidList*>& lists, PHLidList* out);
int GetDistance(tagPOINT a, tagPOINT b);

// ---- lid measurement and screening ----
void ScrnPHCnddts(const _P2IIMG* img, _PHCLUE2 clue, int bSampleByX, int bPattern, const CnddtList* cands,
                  PHLidList* out, int nPHMode);
int GetPHLid_C1(const _P2IIMG* img, tagPOINT pt, _PHCLUE2 clue, _PHCNDDT cand, _PHLID* lid, int nPHMode);
int GetPHLid_C3(const _P2IIMG* img, tagPOINT pt, _PHCLUE2 clue, _PHCNDDT cand, _PHLID* lid, int nPHMode);
// The size rules of a hole kind (extents in millimetres).
bool IsPHSizeOk(double across, double along, int kind);
// The screening of one search line's lids: sizes that stand out go.
void ScreenPHLids(PHLidList* lids, int bPattern);
int IsOppSideWhite(const _P2IIMG* img, _PHLID lid);
bool PtInSkewRect(const _STRTLINE* lines, tagPOINT pt);

// ---- mask and paper colour ----
void GetPHLidClr_C1(const _P2IIMG* img, _PHLID lid, uint16_t* hist, uint8_t* grey);
void GetPHLidClr_C3(const _P2IIMG* img, _PHLID lid, uint16_t* hist, RGBQUAD* colour);
bool MapElode5x5(const uint8_t* mask, int index, int stride);
void MapDilate5x5(uint8_t* mask, int index, int stride);
void MapEdgeRecover_3x3cross(uint8_t* mask, int a, int b, int stride);
int ExtpandPHArea_C1(uint8_t* mask, const uint8_t* pix, int mStep, int iStep, int mCross, int iCross, int L, int F,
                     int B, bool mainFlag, bool crossFlag, int T, int c);
int ExtpandPHArea_C3(uint8_t* mask, const uint8_t* pix, int mStep, int iStep, int mCross, int iCross, int L, int F,
                     int B, bool mainFlag, bool crossFlag, int T, int c);

// ---- pattern tests ----
void ExamPHPttn(PHLidList* phs, int bSub, int bSortByX, double px1mm, int nPHMode);
void ExamCmpPHPttn(const PHLidList* phs, int bSortByX, double px1mm, std::vector<PHLidList*>& results, int nPHMode);
int Is2PHs(const PHLidList* phs, double px1mm, int nPHMode);
int IsSamePitch(const PHLidList* phs, double px1mm, int** gaps);

// ---- covering ----
void AdjustPHLid(PHLidList* phs, double scale, int offX, int offY);
void CoverPHs(_P2IIMG* img, const PHLidList* phs, uint32_t fill, int nPHMode, int* result);
void CoverPHs_C3(_P2IIMG* img, const PHLidList* phs, uint32_t fill, int* result);

// ---- detection driver ----
// Four page sides in the order left, bottom, right, top.
void OrderPageSides(const _STRTLINE* in, _STRTLINE* out);
int HidePHs(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, int bCover,
            int bPattern, PHLidList* phs, uint32_t fill, int nPHMode, bool bADF);
// Per side, the depth of the first search line that showed candidates, -1
// for none. Up to that line a search's outcome does not depend on whether
// it wants a pattern, so a second search of the same face along the same
// sides, with the same option word, can start there and skip quiet sides.
struct PHSideStarts {
  int depth[4];
};
// The profiles along search lines of one face, kept by a first search so
// that a second one along the same lines reads them back instead of
// walking the image again. Valid only while the face, its sides and the
// tone table stay as they were.
struct PHLineCache {
  struct Entry {
    _STRTLINE line;
    int from, to, first, last;
    std::vector<uint32_t> ave;
  };
  std::vector<Entry> entries;
  bool record = true;  // false: read back only
};
int HidePHsFrom(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, int bCover,
                int bPattern, PHLidList* phs, uint32_t fill, int nPHMode, bool bADF, const PHSideStarts* from,
                PHSideStarts* met, PHLineCache* cache = nullptr);
int DetectPHs(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, PHLidList* phs,
              int nPHMode, bool bADF);
int DetectFreePHs(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, PHLidList* phs);
int DetectFreePHs(const _P2IIMG* img, const _STRTLINE* sls, uint32_t* ave, int32_t* grad, int len, PHLidList* phs,
                  int nPHMode, bool bADF);
bool TestCrrPHGrp(const _P2IIMG* img, const _STRTLINE* sls, int side, _PHCLUE2 clue, int bPattern, int* depth,
                  PHLidList* phs, int nPHMode, bool bADF, PHLineCache* cache = nullptr);
int GetPHSize(_PHLID lid);
// A group walk's lists as one: of two holes closer than 24 pixels the one
// with the larger corner box stays (the first on a tie).
void MergePHGroup(const std::vector<PHLidList>& lists, PHLidList* merged);
// The four sides' lists (left, bottom, right, top) as one: a hole closer
// than 24 pixels to one already taken is the same hole.
void MergeSidePHs(const PHLidList* perSide, PHLidList* phs);

// ---- duplex choice ----
void GetBestPHs(const _P2IIMG* front, PHLidList* frontPat, PHLidList* frontFree, const _P2IIMG* back,
                PHLidList* backPat, PHLidList* backFree);
void CheckFreePHs(int side, const _P2IIMG* other, const PHLidList* otherPat, const PHLidList* otherFree,
                  PHLidList* self);
void GetBestPHs(const _P2IIMG* a, PHLidList* aPHs, const _P2IIMG* b, PHLidList* bPHs);

// ---- duplex shadow lines, folded pages, poor crops ----
int GetBestSLs(const _P2IIMG* imgA, _HOUGHRSLT* a, const _P2IIMG* imgB, _HOUGHRSLT* b);
int GetLghtShdwGaps(const _STRTLINE* a, const _STRTLINE* b, int maxDx, int maxDy, int* gapX, int* gapY);
int GetAdoptFlag4ShdwSLs(const _STRTLINE* own, const _STRTLINE* shadow, int* flags, double rhoGap);
bool IsFoldedDoc(const _STRTLINE* lines, const PointList& points, int dpi);
bool IsPtInDoc(tagPOINT pt, const _STRTLINE* lines, const int* order);
double GetCnrAreaLL(_STRTLINE l1, _STRTLINE l2, tagPOINT p);
double GetCnrAreaLR(_STRTLINE l1, _STRTLINE l2, tagPOINT p);
int IsPoorCrop(const _P2IIMG* img, const _STRTLINE* lines);

// ---- hole entries ----
void LimitPHs(const _P2IIMG* work, PHLidList* phs, bool keepAll);
int PunchHoleRemove(FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_PHRMV* rec, int* holeResult);
int DupPunchHoleRemove(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPPHRMV* rec);
int DupCropAll(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPCRPALL* rec, FSIP_S_IMAGEINFO_EX* out, void* user,
               int* tabCount);
int DupCropAll2(FSIP_S_IMAGEINFO_EX* in, _FSIP_CRP_S_DUPCRPALL2* rec, FSIP_S_IMAGEINFO_EX* out, void* user,
                int* tabCount);
bool IsLongPage(const _STRTLINE* sides, int dpi, bool a3);
bool IsA3Scanner(const char* name);
int ModifyImageForAnalysisFsip(const _P2IIMG* face, _P2IIMG* result);

}  // namespace fsipcrop

#endif
