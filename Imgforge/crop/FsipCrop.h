// The main crop engine's records, tuning and routines. Everything lives in
// namespace fsipcrop: the white-background and deskew-and-crop engines reuse
// several of these names for routines of their own.
#ifndef DRAVN_IMGFORGE_CROP_FSIPCROP_H
#define DRAVN_IMGFORGE_CROP_FSIPCROP_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fsip_records.h"

namespace fsipcrop {

// ---- geometry records ----------------------------------------------------

struct tagPOINT {
  int64_t x;
  int64_t y;
};

struct tagRECT {
  int64_t left;
  int64_t top;
  int64_t right;
  int64_t bottom;
};

// y = dA * x + dB in the y-up frame (y = -row), or x = dX when bVert.
struct _STRTLINE {
  double dA;
  double dB;
  int32_t bVert;
  double dX;
};

struct _ACCPT {
  double dX;
  double dY;
};

struct _SINCOS {
  double dSin;
  double dCos;
};

struct _HOUGHRSLT {
  _STRTLINE* pSL;
  double* pdAux1;
  double* pdAux2;
  double* pdAux3;
  int32_t nSL;
  int32_t nState;
};

struct _CHKTABPRM {
  uint32_t* puAve;
  int32_t* pnGrad;
  int32_t nLen;
  int32_t nRsv;
  _STRTLINE* pSLs;
  _STRTLINE* pTabSLs;
};

using PointList = std::vector<tagPOINT>;

// ---- process-wide tuning and results ---------------------------------------

extern double gd1mm;
extern double gdblGrayZone;
extern uint32_t guBGLvl;
extern uint32_t guBGLvlInv;
extern int32_t gnEdgeGrad;
extern uint32_t guBGLvlHW;
extern int32_t gnVerticalNoiseW;
extern int32_t gbInv;
extern int32_t gbHWEdgeDetection;
extern int32_t gbFBFrameSearch;
extern int32_t gbExecTabProc;
extern int32_t gbLowReso;
extern int32_t gnLayoutW;
extern int32_t gnLayoutH;
extern int32_t gbDoubtL, gbDoubtR, gbDoubtT, gbDoubtB;
extern int32_t gnFrameL, gnFrameB, gnFrameR, gnFrameT;
extern PointList gvecFrameL, gvecFrameR, gvecFrameT, gvecFrameB;
extern _SINCOS* gpSinCos;
extern uint8_t gbyLUT4InvXf[256];
extern _PRFMDATA gPrfmData;

// Stage lines of the crop entries go to the control layer's depth log
// through this sink; none set, they are dropped.
using LogSink = void (*)(const char* text);
void SetDepthLogSink(LogSink sink);
void OutputDebugString(const char* text);

// ---- record checks (0 or -2) -------------------------------------------------

int checkImageinfoEx(const FSIP_S_IMAGEINFO_EX* info);
int checkSendData(uint8_t type, const unsigned char* block);
int checkInParam(const FSIP_CRP_S_CRPALL* p);
int checkInParam(const FSIP_CRP_S_CRPALL2* p);
int checkInParam(const FSIP_CRP_S_PHRMV* p);
int checkInParam(const FSIP_CRP_S_AIQC* p);
int checkInParam(const FSIP_CRP_S_SPECIFIEDAREA_CRP* p);
int checkInParam(const _FSIP_CRP_S_DUPCRPALL* p);
int checkInParam(const _FSIP_CRP_S_DUPCRPALL2* p);
int checkInParam(const _FSIP_CRP_S_DUPPHRMV* p);
int checkInParamWB(const FSIP_CRPWB_S_CRPALL* p);
int checkInParamWB(const FSIP_CRPWB_S_SPECIFIEDAREA_CRP* p);
int checkOffsetValue(FSIP_CRP_S_OFFSET_VALUE v);
int checkPaperLayout(FSIP_CRP_S_PAPER_LAYOUT layout);
int checkDualLayout(const FSIP_CRP_S_DUAL_LAYOUT* layout);
int checkDupInParamCropAll(const FSIP_CRP_S_CRPALL* front, const FSIP_CRP_S_CRPALL* back);
int checkDupInParamCropAll2(const FSIP_CRP_S_CRPALL2* front, const FSIP_CRP_S_CRPALL2* back);
int checkDupInParamPhRmv(const FSIP_CRP_S_PHRMV* front, const FSIP_CRP_S_PHRMV* back);
int checkDupImageinfoEx(const FSIP_S_IMAGEINFO_EX* front, const FSIP_S_IMAGEINFO_EX* back);
int checkParamCropAll(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_CRPALL* p, const FSIP_S_IMAGEINFO_EX* out);
int checkParamCropAll2(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_CRPALL2* p, const FSIP_S_IMAGEINFO_EX* out);
int checkParamSpecifiedAreaCrop(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_SPECIFIEDAREA_CRP* p,
                                const FSIP_S_IMAGEINFO_EX* out);
int checkParamCropWBAll(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRPWB_S_CRPALL* p, const FSIP_S_IMAGEINFO_EX* out);
int checkParamSpecifiedAreaCropWB(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRPWB_S_SPECIFIEDAREA_CRP* p,
                                  const FSIP_S_IMAGEINFO_EX* out);
int checkParamDupCropAll(const FSIP_S_IMAGEINFO_EX* in, const _FSIP_CRP_S_DUPCRPALL* p, const FSIP_S_IMAGEINFO_EX* out);
int checkParamDupCropAll2(const FSIP_S_IMAGEINFO_EX* in, const _FSIP_CRP_S_DUPCRPALL2* p,
                          const FSIP_S_IMAGEINFO_EX* out);
int checkParamHoleRemove(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_PHRMV* p);
int checkParamDupHoleRemove(const FSIP_S_IMAGEINFO_EX* in, const _FSIP_CRP_S_DUPPHRMV* p);
int checkParamAIQC(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_AIQC* p);
void fsip_s_point2point(FSIP_S_POINT src, tagPOINT* dst);

// ---- geometry -----------------------------------------------------------------

int MakeSinCosTbl(_SINCOS** table);
void FreeSinCosTbl(_SINCOS* table);
// Builds gpSinCos when missing: 1 when it exists afterwards. Uninitialize
// frees it (the control layer's fsip_FreeSinCos calls it).
int Initialize();
void Uninitialize();
void SetHoughRslt(_STRTLINE* lines, double* aux1, double* aux2, double* aux3, int n, _HOUGHRSLT* out);
void SetChkTabPrm(uint32_t* ave, int32_t* grad, int len, _STRTLINE* lines, _STRTLINE* tabLines, _CHKTABPRM* out);

void GetSLfm2Pts(tagPOINT p1, tagPOINT p2, _STRTLINE* out);
// Crossings answer false (output untouched) for lines without a usable
// crossing: parallel, or so near it that the point is out of any image.
bool GetXPt(_STRTLINE l1, _STRTLINE l2, tagPOINT* out);
bool GetXPt(_STRTLINE l1, _STRTLINE l2, _ACCPT* out);
bool GetAllXPts4(const _STRTLINE* lines, tagPOINT* out);
double GetDistance(tagPOINT pt, _STRTLINE line);
void GetRhTh(_STRTLINE line, double* rho, double* theta);
void GetDskwAngle(_STRTLINE line, double* angle);
bool IsOrthogonal(double t1, double t2);
bool ArePtsNghbr(tagPOINT p1, tagPOINT p2, double dist);
int GetDiagonalLength(const _P2IIMG* img);
int64_t RoundHalfAway(double v);
double LineAngle(const _STRTLINE& l);  // radians; vertical = 1.570796327
bool IsSteep(const _STRTLINE& l);

void SortXPts(tagPOINT* pts);
// perm (optional) receives, for each sorted slot, the input index it came from.
void SortSLs(_STRTLINE* lines, int* perm = nullptr);
void SortPtList(PointList& list, bool byX, bool ascending);
void MakeConvList(const tagPOINT* a, const tagPOINT* b, int* conv);
void MakeConvList(const _STRTLINE* a, const _STRTLINE* b, int* conv);

void CrrctSLs(_STRTLINE* lines, int dx, int dy);
void CrrctSLs(_STRTLINE* lines, double dx, double dy);
void GetShadowSLs(int width, int height, const _STRTLINE* in, int count, _STRTLINE* out);
void GetShadowSLs(int width, int height, int dx, int dy, const _STRTLINE* in, int count, _STRTLINE* out);
bool MakeRect(_STRTLINE* lines);
bool GetFsipPaperLayout(const _STRTLINE* lines, double skew, FSIP_CRP_S_PAPER_LAYOUT* layout);
void SetGrayZone(int width, int height, tagRECT* zone);
bool IsPtInGrayZone(tagPOINT pt, const tagRECT* zone);

// ---- profiles, gradients, tone tables --------------------------------------------

int AllcAveBuff(int n, bool colour, uint32_t** ave, int32_t** grad);
void FreeAveBuff(uint32_t* ave, int32_t* grad);
void GetRowAve(const _P2IIMG* img, int row, int n, uint32_t* out);
void GetClmAve(const _P2IIMG* img, int col, int n, uint32_t* out);
// The 3-wide profile from per-position sums of three mapped pixels (ch
// values each, `stride` values from one position to the next): what
// GetClmAve makes of them.
void SlideColumnSums(const uint32_t* sums, int count, int ch, size_t stride, uint32_t* out);
// The profiles of `columns` neighbouring columns at once, each of count x ch
// values one after the other in out: each the values SlideColumnSums gives.
void SlideColumnBlock(const uint32_t* sums, int count, int ch, size_t stride, int columns, uint32_t* out);
void GetAveOnSL(const _P2IIMG* img, int n, int* first, int* last, uint32_t* out, _STRTLINE line);
void GetGrad(const uint32_t* prof, int n, bool colour, int32_t* grad);
// Reads g[i-2..i+2]; positions outside 0..n-1 read the nearest end.
int IsPeak(const int32_t* g, int n, int i, int* isMax);
void MakeLUT4InvXf(uint8_t type, const unsigned char* block);
void MakeLUT4InvXf(const unsigned char* block);
int ApplyDefaultLUT(_P2IIMG* img, int* owned);
int MakeLUTTbl(uint8_t** table, const char* name, uint8_t value);
int LUTCalibration(_P2IIMG* img, const uint8_t* table);

// ---- work image, records, output crop --------------------------------------------

void FsipII2P2iII(const FSIP_S_IMAGEINFO_EX* in, _P2IIMG* out);
void P2iII2FsipII(const _P2IIMG* in, FSIP_S_IMAGEINFO_EX* out);
int OutImageP2iII2FsipII(const _P2IIMG* in, FSIP_S_IMAGEINFO_EX* out);
int dfrmSPCtoALL(const FSIP_CRPWB_S_SPECIFIEDAREA_CRP* in, FSIP_CRPWB_S_CRPALL* out);
int GetImg4Anlz(const _P2IIMG* in, _P2IIMG* work, double* scale, int* allocated);
int GetImg4Anlz4Krnk(const _P2IIMG* in, _P2IIMG* work, double* scale, int* allocated);
void ExpandImgBy4Times(const _P2IIMG* src, _P2IIMG* dst);
void ConvBW2Gray(const _P2IIMG* src, _P2IIMG* dst);
void ConvGray2BW(const _P2IIMG* src, _P2IIMG* dst);
int ClipOuterFrame(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, int* dx, int* dy);
int ClipOuterFrame(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, double* dx, double* dy);
// The forms that copy nothing when the page's box lies inside the
// input: `out` then shares the input's pixels and rows (*owned false);
// otherwise it is the allocated clip (*owned true, the caller frees it).
int ClipOuterFrameView(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, double* dx, double* dy, bool* owned);
// The same for whole-pixel offsets.
int ClipOuterFrameView(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, int* dx, int* dy, bool* owned);
int CropImg(const _P2IIMG* in, const _STRTLINE* lines, double skew, int toMono, const FSIP_CRP_S_CRPALL* rec,
            FSIP_S_IMAGEINFO_EX* out, void* user);
int CarriageWhiteCheck(_P2IIMG* img);
int StrSpaceCheck(char* s);
void LoadDupGaps(const char* name, int* a, int* b, int* c, int* d);
void LoadDupGapSliceParam(const char* name, int* a, int* b, int* c, int* d);
void LoadFbParam(const char* name, uint16_t* searchWidth, uint16_t* ignoreLength);
void LoadCustomParam(const char* name, int* value);
void GetCurrGaps(int resA, int* ax, int* ay, int resB, int* bx, int* by);
extern int32_t gnShdwAGapX, gnShdwAGapY, gnShdwBGapX, gnShdwBGapY;
extern int32_t gnDupCrpGapSliceX, gnDupCrpGapSliceY, gnDupCrpBigRhGap, gnDupCrpBigThGap;

// Rotation resampling (bilinear, 8-bit fixed-point weights).
bool p2iRotate12_Color(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY);
bool p2iRotate12_Gray(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY);

// ---- analysis ------------------------------------------------------------------

enum : int { kNoDocument = 33028, kRotateFailed = 33025 };

void GetEdgeH(const _P2IIMG* img, uint32_t* ave, int32_t* grad, PointList& pts, int* doubtL, int* doubtR);
void GetEdgeV(const _P2IIMG* img, uint32_t* ave, int32_t* grad, PointList& pts, int* doubtT, int* doubtB);
void GetBothEnds(const uint32_t* prof, int n, bool colour, int* start, int* far, int halfMm);
void GetEdge(const int32_t* g, int n, int s, int e, std::vector<int>& out, const uint32_t* prof, bool colour);
void GetEdge(int n, const uint32_t* prof, int channel, int s, int e, std::vector<int>& out);
bool IsPhantomEdge(const uint32_t* prof, int n, int index, bool colour);
bool IsSolid(const uint32_t* prof, int32_t* grad, bool colour, int n, int from, int to);
bool IsSolid_C1(const uint32_t* prof, const int32_t* g, int stride, int c, int n, int from, int to);
bool IsSolid_C1_Inv(const uint32_t* prof, const int32_t* g, int stride, int c, int n, int from, int to);
int GetFrameL(int b);
int GetFrameB(int b);
int GetFrameR(int b);
int GetFrameT(int b);
double GetStripArea(_STRTLINE line, bool vert, const PointList& list, size_t pos, const tagPOINT* second = nullptr);

int GetSLs(int n, const PointList& ptsH, const PointList& ptsV, _STRTLINE* lines, double* skew);
int GetSLsAIQC(int n, const PointList& ptsH, const PointList& ptsV, _STRTLINE* lines, double* skew);

int SetVrtlSL4FB(const _P2IIMG* img, _STRTLINE* lines, uint32_t* ave, int32_t* grad, int len);
int SetVrtlSLs(const _P2IIMG* img, _STRTLINE* lines, int found, uint32_t* ave, int32_t* grad, int len);
void MoveSL4TabL(const _P2IIMG* img, _STRTLINE* lines, uint32_t* ave, int32_t* grad, int len);
void MoveSL4TabR(const _P2IIMG* img, _STRTLINE* lines, uint32_t* ave, int32_t* grad, int len);
void MoveSL4TabT(const _P2IIMG* img, _STRTLINE* lines, uint32_t* ave, int32_t* grad, int len);
void MoveSL4TabB(const _P2IIMG* img, _STRTLINE* lines, uint32_t* ave, int32_t* grad, int len);
void MoveSLs4Tab2(const _P2IIMG* img, _STRTLINE* lines, uint32_t* ave, int32_t* grad, int len);
int CheckTabs(const _P2IIMG* img, _CHKTABPRM* prm);
int MoveAUXLines(const _P2IIMG* img, _CHKTABPRM* prm, int found, int all);
int GetBestRect(const _P2IIMG* img, _STRTLINE* lines, _CHKTABPRM* prm);

int GetDocPos(const _P2IIMG* img, int adf, uint32_t* ave, int32_t* grad, int n, _STRTLINE* lines, double* skew,
              int* found, PointList* points, _PRFMDATA* prfm);
int GetDocPosAIQC(const _P2IIMG* img, int adf, uint32_t* ave, int32_t* grad, int n, _STRTLINE* lines, double* skew,
                  int* found, PointList* points, _PRFMDATA* prfm);
void MoveSLs4FHK(_STRTLINE* lines, double dpi);
void MoveSLs4FHK(_STRTLINE* lines, double dpi, FSIP_CRP_S_OFFSET_VALUE offsets);

// A white-background document position: skew in degrees and four corners,
// y-up. Used by the white-background entries' margins.
struct _P2IDOCPOS {
  double dSkew;
  tagPOINT ptCorner[4];
};
void MoveDocPos(_P2IDOCPOS* pos, double dpi, const FSIP_CRP_S_OFFSET_VALUE* offsets);
void MoveDocPos(_P2IDOCPOS* pos, int dpi, const FSIP_CRP_S_OFFSET_VALUE* offsets);

// ---- the single-page entries (exported as FsipCrp_*) -----------------------

int CropAll(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
            FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, int* tabResult);
int CropAll2(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_CRPALL2* rec, FSIP_S_IMAGEINFO_EX* out,
             FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, int* tabResult);
int SpecifiedAreaCrop(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRP_S_SPECIFIEDAREA_CRP* rec, FSIP_S_IMAGEINFO_EX* out,
                      void* user);
int AIQC(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRP_S_AIQC* rec);
void FsipCrp_GetPrfmData(_PRFMDATA* out);

}  // namespace fsipcrop

#endif
