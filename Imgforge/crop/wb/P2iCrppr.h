// The white-background crop engine: finds a page scanned against a white
// backing by the faint shadow along its edges, and cuts it out. Its own
// namespace: many of its routines are twins of the main engine's with a
// different rounding. Records, resampler and geometry it shares come from
// FsipCrop.h.
#ifndef DRAVN_IMGFORGE_CROP_WB_P2ICRPPR_H
#define DRAVN_IMGFORGE_CROP_WB_P2ICRPPR_H

#include <cstdint>
#include <vector>

#include "FsipCrop.h"
#include "dravn_export.h"

namespace p2iwb {

using fsipcrop::_ACCPT;
using fsipcrop::_P2IDOCPOS;
using fsipcrop::_SINCOS;
using fsipcrop::_STRTLINE;
using fsipcrop::tagPOINT;
using PointList = std::vector<tagPOINT>;

// What the caller knows of the device and the scan.
struct _P2IGDPINFO {
  unsigned char reserved[8];
  double dTopSnsX;  // mm from the left edge: the top-edge sensor's column
  double dTopSnsY;  // mm from the top row: where the leading edge passes it
  int32_t bInvGamma;
  int32_t bNoSideRepair;
  int64_t nDevKind;
  int64_t nDevOpt;
};
static_assert(sizeof(_P2IGDPINFO) == 48, "_P2IGDPINFO is 48 bytes");
static_assert(sizeof(_P2IDOCPOS) == 72, "_P2IDOCPOS is 72 bytes");

struct _P2ICRPINFO {
  double dSkew;
  tagPOINT ptCorner[4];
  int32_t nMode;  // low bits: crop mode; 16 geometry only; 32 caller's buffer
};

struct _TRIAPEX {
  tagPOINT ptApex;
  tagPOINT ptSide1;
  tagPOINT ptSide2;
};

struct _PROCTIME {
  int32_t slot[9];
};

// ---- process-wide switches (exported data of the library) --------------------
extern "C" {
DRAVN_EXPORT extern double gdblWBCropAngleCheck;
DRAVN_EXPORT extern double gdblCrpRatio;
DRAVN_EXPORT extern double gdblMinCrpSizeHeight;
DRAVN_EXPORT extern double gdblMinCrpSizeWidth;
DRAVN_EXPORT extern int32_t gMakeLUT;
DRAVN_EXPORT extern uint8_t gbCWCMode;
DRAVN_EXPORT extern int32_t gnWBCropVal;
DRAVN_EXPORT extern uint32_t gbWBSpecifiedAreaCropMode;
DRAVN_EXPORT extern int32_t gnWBCropMod;
}

// ---- engine statics ---------------------------------------------------------------
extern int32_t gbTopShadow;
extern int32_t gbTatesujiJudge;
extern int32_t gbOVSJudge;
extern int8_t gcEdgeBckLevel;
extern double gdblShadowCheckEdgeRange;
extern _SINCOS* gpSinCos_1;
extern _PROCTIME gstProcTime;
extern int32_t gnRhDiff, gn1inch, gnDistTh, gbTopSLOK, gn1500um;
extern const uint8_t gbyInvG18[256];

// ---- support routines -----------------------------------------------------------------
int MakeSinCosTbl();
void Uninitialize();  // frees gpSinCos_1 (the control layer's fsip_FreeSinCos)

void GetStDev_Mono(const uint8_t* centre, int stride, int* dev, int* mean, int flag);
void GetStDev_RGB(const uint8_t* centre, int stride, int* dev, int* mean, int flag);
void GetStDevH(const _P2IIMG* img, int row, int ch, uint8_t* dev, uint8_t* mean);
void GetStDevV(const _P2IIMG* img, int col, int ch, uint8_t* dev, uint8_t* mean);
// GetStDevV's means of all three channels of a colour column in one walk
// down it, channel c at mean + c x height.
void StDevColumnRGB(const _P2IIMG* img, int col, uint8_t* mean);
// GetStDevH's means of all three channels of a colour row in one walk
// along it, channel c at mean + c x width.
void StDevRowRGB(const _P2IIMG* img, int row, uint8_t* mean);
void MakeStdData(const _P2IIMG* img, int bottom, uint8_t* dev, uint8_t* mean);
int GetAve_Mono(const uint8_t* centre, int stride);
int GetAve_RGB(const uint8_t* centre, int stride);
void GetAveH(const _P2IIMG* img, int row, int x0, int n, uint8_t* out);
void GetAveV(const _P2IIMG* img, int col, int y0, int n, uint8_t* out);
void GetGrad(const uint8_t* p, int* g, int n);
void GetGradFwd(const uint8_t* p, int n, bool colour, int* g);
void GetGradBck(const uint8_t* p, int n, bool colour, int* g);
int IsPeak_1(const int* g, int i, int* isMax);
int IsPeak_RK(const int* g, int i, int* isMax);
int IsGoodRelation(const int* angles, int n);
void GetRectTheta(int* angles, int n);

bool GetXPoint(_STRTLINE a, _STRTLINE b, tagPOINT* out);
bool GetAllXPoints4(const _STRTLINE* lines, tagPOINT* out);
void SortXPoints(tagPOINT* p);
void SortStraightLine(_STRTLINE* lines);
void GetSLfm2Pnt(tagPOINT a, tagPOINT b, _STRTLINE* out);
double GetDistance_1(tagPOINT pt, _STRTLINE line);  // pt in rows
void GetTriApex(const _P2IIMG* img, const tagPOINT* corners, int index, _TRIAPEX* out);
void ExpandDocArea(_STRTLINE* lines, tagPOINT* corners, int margin);

void DoInvGamma(_P2IIMG* img);
void DoGamma(_P2IIMG* img, uint8_t white, uint8_t black, double gamma);
int NOIPP_Resize(const _P2IIMG* src, _P2IIMG* dst);
void Resize_Gray(const _P2IIMG* src, _P2IIMG* dst);
void Resize_Color(const _P2IIMG* src, _P2IIMG* dst);
int GetMiniImg(const _P2IIMG* src, _P2IIMG* dst);
int DuplicateImage(const _P2IIMG* src, _P2IIMG* dst);
int GetHalfImage(const _P2IIMG* src, _P2IIMG* dst);

// ---- records' line functions and upside-down conversions ---------------------------
bool IsTatesen(const _STRTLINE& l);
bool IsSitasen(const _STRTLINE& l, int h);
void GetOrthogonalLine(tagPOINT p, const _STRTLINE& l, _STRTLINE* out);
void GetParallelLine(tagPOINT p, const _STRTLINE& l, _STRTLINE* out);
int flip_conv_img(_P2IIMG* img);  // 0, or -2 when the line buffer is missing
void flip_conv_point(tagPOINT& p, const _P2IIMG* img);
void flip_conv_line(_STRTLINE& l, const _P2IIMG* img);
void flip_conv_skew(double* skew);

// ---- edges and lines -------------------------------------------------------------------
void GetEdge(const uint8_t* p, uint8_t level, int n, std::vector<int>& out);
void GetEdgeRK(const uint8_t* p, uint8_t level, int, int, int n, std::vector<int>& out);
int GetEdgeV(const _P2IIMG* img, const uint8_t* ref1, const uint8_t* ref2, int pass, PointList& out, bool flag);
int GetEdgeH(const _P2IIMG* img, const uint8_t* ref1, const uint8_t* ref2, int pass, PointList& out, bool flag);
int GetEdgeH(const _P2IIMG* img, PointList& pts, const _STRTLINE& left, const _STRTLINE& right, bool flag);
int GetEdgeV(const _P2IIMG* img, PointList& pts, const _STRTLINE& top, const _STRTLINE& bottom, bool flag, int sel);
int GetEdgeFwd(const int* g, int n, bool colour, int* pos, bool flag);
int GetEdgeBck(const int* g, int n, bool colour, int early, int* pos, bool flag);
bool TooBright(const uint8_t* ave, int n, bool colour, int sel);
void RemoveNoiseEdge(const _P2IIMG* img, PointList& lr, PointList& tb, double mm);
void RemoveNoiseEdgeH(PointList& list, int cell, int cells);
void RemoveNoiseEdgeV(PointList& list, int cell, int cells);
// One cell of the line fitter's vote table.
struct HoughCell {
  int votes;
  int angle;  // tenths of a degree
  int rho;
};
// The at most 384 strongest cells of the votes of every point at every d-th
// angle, rho offset by R and kept in [0, 2R): strongest first, among equals
// the lower rho, then the lower angle. 0, or -2 out of memory.
// out[i] = the rounded x cos + y sin of point i, plus offset; every value
// and the offset under 2^29 in size.
void RhoIndices(const double* xs, const double* ys, size_t n, double c, double s, int32_t offset, int32_t* out);
int HoughCells(int R, int d, const PointList& lr, const PointList& tb, std::vector<HoughCell>* out);
int GetStraightLine(int s, const PointList& lr, const PointList& tb, double scale, int fine, _STRTLINE* lines,
                    double* skew, bool flag);
bool IsTopSnsEnb(const _STRTLINE* lines, uint32_t col);

// ---- odd-shaped documents ----------------------------------------------------------------
void RmvBadEdge_RK(PointList& lr, PointList& tb, const _STRTLINE* lines, int* removedLR, int* removedTB);
bool IsOddDoc(const _P2IIMG* work, const PointList& lrCopy, const PointList& lr, const PointList& tbCopy,
              const PointList& tb, int countedLR, double topSnsY, int countedTB, int kind);
void SetCircumscribedRect(const PointList& lr, const PointList& tb, _STRTLINE* lines, double scale, int width,
                          int kind, int opt);
void RotateEdges(PointList& a, PointList& b, double deg);
void RotatePoint(tagPOINT* p, double deg);
void CopyEdges(const PointList& src, PointList& dst);
void GetDskwAngle_RK(const _STRTLINE& l, double* angle);
double WorkScale(const _P2IIMG* src, const _P2IIMG* work);
void GetDocPosForOddDoc(const _P2IIMG* src, const _P2IIMG* work, PointList& lr, PointList& tb,
                        const _STRTLINE* lines, int n, double skew, _P2IDOCPOS* pos, const _P2IGDPINFO* info);

// ---- searches, switch and cutter ---------------------------------------------------------------
bool CornersInside(const tagPOINT* corners, const _P2IIMG* img);  // y-up corners, the strict mode's test
int _GetDocPos(_P2IIMG* img, const _P2IGDPINFO* info, int shadow, _P2IDOCPOS* pos);
int _GetDocPos_RK(_P2IIMG* img, const _P2IGDPINFO* info, int shadow, _P2IDOCPOS* pos);
int GetDocPos(_P2IIMG* img, const _P2IGDPINFO* info, _P2IDOCPOS* pos);
int CropImg(const _P2IIMG* in, _P2ICRPINFO* crop, _P2IIMG* out);

// ---- the crop layer (the FsipCrpWB_ entries) -----------------------------------------------
struct ScannerRow {
  double xFront, xBack;
  double yFront, yBack, yNone;
  int kind;
};
const ScannerRow& ScannerRowOf(const char* name);
bool SkewAccepted(double skew);  // 45 degrees less the skew's size reaches gdblWBCropAngleCheck
void MakeDevInfo(const FSIP_S_IMAGEINFO_EX* in, const FSIP_CRPWB_S_CRPALL* rec, _P2IGDPINFO* info);
int CropAllWB(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
              FSIP_CRP_S_DUAL_LAYOUT* layout, void* user);
int SpecifiedAreaCropWB(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_SPECIFIEDAREA_CRP* rec,
                        FSIP_S_IMAGEINFO_EX* out, void* layout, void* user);
int OffsetCropWB(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out, void* user,
                 int band);

}  // namespace p2iwb

// The engine's exports and its crop layer's entries.
DRAVN_C_EXPORT int P2iGetCroppedImg(const void* image, const void* second, const void* third);
DRAVN_C_EXPORT int P2iGetDocPos(_P2IIMG* image, p2iwb::_P2IGDPINFO* info, void* third, p2iwb::_P2IDOCPOS* pos);
DRAVN_C_EXPORT int P2iCropping(_P2IIMG* image, p2iwb::_P2ICRPINFO* crop, _P2IIMG* out);
DRAVN_C_EXPORT int P2iFreeCroppedImg(_P2IIMG* image);
DRAVN_C_EXPORT int P2iGetProcTime(void*, void*, void*, void* out);
DRAVN_C_EXPORT int P2iGetDocPosTest();
DRAVN_C_EXPORT int FsipCrpWB_CropAll(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec, FSIP_S_IMAGEINFO_EX* out,
                                     FSIP_CRP_S_DUAL_LAYOUT* layout, void* user, void* unused);
DRAVN_C_EXPORT int FsipCrpWB_SpecifiedAreaCrop(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_SPECIFIEDAREA_CRP* rec,
                                               FSIP_S_IMAGEINFO_EX* out, void* layout, void* user);
DRAVN_C_EXPORT int FsipCrpWB_OffsetCrop(const FSIP_S_IMAGEINFO_EX* in, FSIP_CRPWB_S_CRPALL* rec,
                                        FSIP_S_IMAGEINFO_EX* out, void* unused, void* user, int band);

#endif
