// The deskew-and-crop engine behind DeskewAndCropping: its records, table,
// image services and page analysis. Everything lives in namespace i3ipdc;
// several names repeat the main crop engine's for routines of their own.
// The duplex crop of the main engine builds its analysis image with
// ModifyImageForAnalysis and the memory routines declared here.
#ifndef DRAVN_IMGFORGE_CROP_DESKEW_I3IPDESKEWCROPPING_H
#define DRAVN_IMGFORGE_CROP_DESKEW_I3IPDESKEWCROPPING_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FsipCrop.h"
#include "I3ipImageInfo.h"

namespace i3ipdc {

using fsipcrop::tagPOINT;

// ---- result codes ----------------------------------------------------------

constexpr int kOk = 0;
constexpr int kNoMemory = 34;
constexpr int kLowResolution = 52;  // below 50 dpi, or fewer than 16 rows
constexpr int kNoDocument = 54;

// ---- records ---------------------------------------------------------------

// y = dA x + dB in the y-up frame (Y = -row), or x = dX when bVert.
struct _LINE {
  bool bVert;
  double dX;
  double dA;
  double dB;
};

struct _EDGE {
  int32_t x;
  int32_t y;
  int32_t nMark;
};

struct _HOUGH_XFORM_DATA {
  int32_t nCount;
  int32_t* pnVote;
  int32_t* pnTheta;  // tenths of a degree
  int32_t* pnRho;
};

// Hundredths of a millimetre.
struct _OVERCROP_INFO {
  int32_t nLeft;
  int32_t nRight;
  int32_t nTop;
  int32_t nBottom;
};

struct _I3IP_CROP_INFO {
  unsigned char reserved[64];
  int (*pfnAllocOutImage)(I3ipImageInfo* out, void* userData);
  void* pUserData;
};

struct _SINCOS_DC {
  double dSin;
  double dCos;
};

using PointList = std::vector<tagPOINT>;
using EdgeList = std::vector<_EDGE>;

// ---- sine/cosine table ------------------------------------------------------

// 1801 entries for j * pi / 1800, j = 0..1800; built per DeskewAndCropping
// call and released at its end. Exported from libimgforge as gSinCos.
_SINCOS_DC*& SinCosTable();
int CreateSinCosTable();
void FreeSinCosTable();

// ---- memory and records ----------------------------------------------------

int AllocMem(unsigned char** out, int size);
void FreeMem(unsigned char* p);
int AllocImage(I3ipImageInfo* img);
int CloneImage(const I3ipImageInfo* in, I3ipImageInfo* out);
int GetDiagonalLength(const I3ipImageInfo* img);
bool GetPixelValue(const I3ipImageInfo* img, tagPOINT p, unsigned char* out);
bool GetPixelValue(const I3ipImageInfo* img, _EDGE p, unsigned char* out);
bool SetPixelValue(I3ipImageInfo* img, tagPOINT p, const unsigned char* value);
bool SetPixelValue(I3ipImageInfo* img, _EDGE p, const unsigned char* value);

// ---- analysis image ----------------------------------------------------------

// mode bit 0: subtract the background; bit 2: hand back the resampled image
// unprepared. *allocated: out holds a new block the caller frees.
int GetAnalyticalImage(const I3ipImageInfo* in, int mode, I3ipImageInfo* out, double* scale, bool* allocated);
int ModifyImageForAnalysis(const I3ipImageInfo* in, bool subtractBackground, I3ipImageInfo* out);
int GetBackgroundData(const I3ipImageInfo* img, unsigned char* row);
int OverScanImage(const I3ipImageInfo* in, I3ipImageInfo* out);
int GetMaxImage(I3ipImageInfo* img);
int GetMaxImage(const I3ipImageInfo* in, I3ipImageInfo* out);
void ZoomQuadrupleOneLine(const unsigned char* src, int width, bool colour, unsigned char* dst);
void InterpolateThreeLines(unsigned char* upper, const unsigned char* lower, int bytes, int bpl);

// ---- output and fills --------------------------------------------------------

int p2iRotate12_Color_New(const I3ipImageInfo* src, I3ipImageInfo* dst, double angleDegrees, double startX,
                          double startY);
int p2iRotate12_Gray_New(const I3ipImageInfo* src, I3ipImageInfo* dst, double angleDegrees, double startX,
                         double startY);
int CropOnly(const I3ipImageInfo* in, const _I3IP_CROP_INFO* info, I3ipImageInfo* out);
void GetEdgeColor(const I3ipImageInfo* img, unsigned char* colour);
void FillEdgeForDeskew(I3ipImageInfo* img, const unsigned char* colour);
void SetGroundColor(I3ipImageInfo* img, const unsigned char* colour);
// Rotate-and-crop of the document bounded by four sorted sides; the two
// trailing pointers are accepted and not written.
int CropDocument(const I3ipImageInfo* in, const _LINE* lines, double angle, I3ipImageInfo* out,
                 double* unused1 = nullptr, double* unused2 = nullptr);
int CropOuterFrame(const I3ipImageInfo* in, const _LINE* lines, I3ipImageInfo* out, double* left, double* top);

// ---- geometry ----------------------------------------------------------------

int64_t RoundHalfAway(double v);
double LineAngle(const _LINE& l);  // atan(dA); pi/2 when vertical
void GetVertex(const _LINE& a, const _LINE& b, tagPOINT* p);
// The crossing unrounded (y-up Y), for the crop's corners.
void CrossingOf(const _LINE& a, const _LINE& b, double* x, double* y);
void GetVertex(const _LINE& a, const _LINE& b, _EDGE* p);
double GetDistance_New(tagPOINT pt, const _LINE& line);
double GetDistance_New(_EDGE pt, const _LINE& line);
double GetDistance_New(tagPOINT a, tagPOINT b);
double GetDistance_New(_EDGE a, _EDGE b);
double OriginDistance(const _LINE& l);
bool IsTooDeep(const _LINE& line, tagPOINT pt, double dpmm);
void SortLines(_LINE* lines);
void MakeRect(_LINE* lines, bool inner);
void MakeConvertList(const _LINE* lines, const _LINE* sorted, int* map);
void SortPoints(tagPOINT* p);
void ScaleLines(_LINE* lines, int count, double scale);
void ShiftLines(_LINE* lines, int count, double dx, double dy);
void ScaleEdges(PointList* lists, double scale);  // four lists
void ShiftEdges(PointList* lists, double dx, double dy);
void ScaleEdges(EdgeList* lists, double scale);
void ShiftEdges(EdgeList* lists, double dx, double dy);
bool IsSamePoint(tagPOINT a, tagPOINT b);
bool IsSamePoint(_EDGE a, _EDGE b);
bool IsNeighbor(_EDGE a, _EDGE b);
bool GetULCorner(PointList& first, PointList& second, tagPOINT ref);
bool GetLLCorner(PointList& first, PointList& second, tagPOINT ref);
bool GetLRCorner(PointList& first, PointList& second, tagPOINT ref);
bool GetURCorner(PointList& first, PointList& second, tagPOINT ref);
bool GetULCorner(EdgeList& first, EdgeList& second, tagPOINT ref, int step);
bool GetLLCorner(EdgeList& first, EdgeList& second, tagPOINT ref);
bool GetLRCorner(EdgeList& first, EdgeList& second, tagPOINT ref);
bool GetURCorner(EdgeList& first, EdgeList& second, tagPOINT ref);

// ---- edge sampling -------------------------------------------------------------

unsigned GetAverage(const unsigned char* p, int bpl, int size);
void GetAverageRow(const I3ipImageInfo* img, int row, int size, unsigned* profile);
void GetAverageColumn(const I3ipImageInfo* img, int column, int size, unsigned* profile);
void GetLocalAverageRow(const I3ipImageInfo* img, int row, int size, int from, int to, unsigned* profile);
void GetLocalAverageColumn(const I3ipImageInfo* img, int column, int size, int from, int to, unsigned* profile);
void GetGradient(const unsigned* profile, int n, int* gradient);
void GetLocalGradient(const unsigned* profile, int from, int to, int* gradient);
bool IsPeak(const int* values, int index, bool forward, bool* isMax);
bool IsStreak(const unsigned* profile, const int* gradient, int n, int start, int end, bool forward, int index,
              bool wantMax, int* skip);
void GetEdge(const unsigned* profile, const int* gradient, int n, int start, int end, int minGap, bool streakTest,
             int* first, int* last);
void GetEdgeHorz(const I3ipImageInfo* img, unsigned* profile, int* gradient, PointList* left, PointList* right);
void GetEdgeVert(const I3ipImageInfo* img, unsigned* profile, int* gradient, PointList* top, PointList* bottom);

// ---- Hough lines and document position ---------------------------------------

constexpr int kHoughAngles = 900;  // 0.2-degree steps over half a turn

// Counters saturate at 65535.
void Vote(const PointList& points, int diag, uint16_t* accumulator);
// The out->nCount strongest cells of the accumulator (zero-filled arrays in).
void KeepStrongestCells(const uint16_t* accumulator, int diag, _HOUGH_XFORM_DATA* out);
int Make8Groups(const _HOUGH_XFORM_DATA* cells, bool unused, double dpmm, double* rho, double* theta, double* votes);
void Get4LinesFromRhoTheta(const double* rho, const double* theta, int count, _LINE* lines);
int ExamineLineOrder(_LINE* lines, int count, const double* theta, const double* votes);
bool IsAlmostAxis(int rho, int theta);
bool IsSameClass(int rho, int seedRho, int rhoTol, int thetaDiff, int thetaTol);
bool IsOrthogonal_New(double thetaDiff);  // tenths of a degree
bool IsOrthogonal_New(double a, double b);  // radians
bool IsBigSkew(const _LINE& line);
double GetDeskewAngle(const _LINE& line);
double GetAveragedDeskewAngle(const double* theta, int count);
bool IsEqual(double a, double b);
void GetLineFromTwoPoints(tagPOINT p1, tagPOINT p2, _LINE* line);
void GetLineFromTwoPoints(_EDGE p1, _EDGE p2, _LINE* line);
bool CheckDetectedLines(const I3ipImageInfo* img, const _LINE* lines, int n);
int GetDocumentPosition(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines,
                        double* angle, int* n, EdgeList* edges);

// ---- virtual lines and tabs -----------------------------------------------------

bool IsSolid(const unsigned* profile, const int* gradient, int n, int from, int to);
void GetAverageAlongLine(const I3ipImageInfo* img, const _LINE& line, int size, int* from, int* to,
                         unsigned* profile);
bool NoObjectOnTheLine(const I3ipImageInfo* img, unsigned* profile, int* gradient, int n, const _LINE& line,
                       const _LINE& a, const _LINE& b, bool byX);
bool SetFirstVirtualLine(const I3ipImageInfo* img, _LINE* lines, int count, unsigned* profile, int* gradient,
                         int diag);
bool SetVirtualLines(const I3ipImageInfo* img, _LINE* lines, int count, unsigned* profile, int* gradient, int diag);
bool SetTwoOrthogonalLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag);
bool SetTwoParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag);
bool SetTwoVertParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag);
bool SetTwoHorzParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient, int diag);
bool SetTwoDownwardSlopingParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient,
                                        int diag);
bool SetTwoUpwardSlopingParallelLines(const I3ipImageInfo* img, _LINE* lines, unsigned* profile, int* gradient,
                                      int diag);
bool SetOneVirtualLine(const I3ipImageInfo* img, _LINE* lines, const double* angles, unsigned* profile, int* gradient,
                       int diag);
void MoveLinesToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines);
void MoveLeftLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines);
void MoveRightLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines);
void MoveTopLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines);
void MoveBottomLineToLeaveTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines);
bool CheckTabs(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, const _LINE* lines, int n,
               _LINE* tabLines);
void GetBestRect(const I3ipImageInfo* img, unsigned* profile, int* gradient, int diag, _LINE* lines);
void MoveLines(_LINE* lines, double dpi, const _OVERCROP_INFO* info);
// Moves the four sorted sides outward by margin[j] pixels (inward when negative).
void MoveLinesBy(_LINE* lines, const double* margin);
bool IsLongPage(const _LINE* lines, int dpi, bool longer);

// ---- entry ---------------------------------------------------------------------

int DeskewAndCropping(const I3ipImageInfo* in, I3ipImageInfo* out);

}  // namespace i3ipdc

// The engine's table, exported from libimgforge; null between calls.
extern "C" i3ipdc::_SINCOS_DC* gSinCos;

#endif
