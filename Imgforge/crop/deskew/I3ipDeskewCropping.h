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

}  // namespace i3ipdc

// The engine's table, exported from libimgforge; null between calls.
extern "C" i3ipdc::_SINCOS_DC* gSinCos;

#endif
