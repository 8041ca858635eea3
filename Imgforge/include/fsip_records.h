// Records of libimgforge's control entry and page filters, laid out byte for
// byte as the library reads them.
#ifndef DRAVN_IMGFORGE_FSIP_RECORDS_H
#define DRAVN_IMGFORGE_FSIP_RECORDS_H

#include <cstdint>

// fsip_control request; zeroed before use.
struct fsipctl_request {
  int32_t dwFlags;
  int32_t nHoleFill;  // 1 fill white, 2 surrounding colour
  int32_t bADF;
  int32_t nSide;         // white-background crop: face + 1
  int32_t nDetectLevel;  // blank page, -2..2
  int32_t nWLevel;
  int32_t nBLevel;
  char szScanner[32];
  int32_t nMargin;
};
static_assert(sizeof(fsipctl_request) == 64, "fsipctl_request is 64 bytes");

// One page exchanged with fsip_control; the caller passes arrays of two.
struct fsipctl_image {
  unsigned char* pImageData;
  int32_t nResolution;
  int32_t nWidth;
  int32_t nHeight;
  int32_t nDepth;
  int32_t nImageSize;
  int32_t nResult;  // colour decision or blank verdict (first result only)
};
static_assert(sizeof(fsipctl_image) == 32, "fsipctl_image is 32 bytes");

enum : int32_t {
  FSIPCTL_FUNC_BLANK_PAGE = 0x0040,
  FSIPCTL_FUNC_WHITE_BG_CROP = 0x4000,
};

enum : int32_t {
  FSIP_C_ERR_NOERROR = 0,
  FSIP_C_ERR_OUTOFMEMORY = -1,
  FSIP_C_ERR_PARAMETER = -2,
  FSIP_C_ERR_NOTSUPPORT = -4,
  FSIP_C_ERR_UNEXPECTED_ERROR = -5,
};

#pragma pack(push, 1)

struct FSIP_S_IMAGEINFO {
  uint32_t cbSize;  // 56
  unsigned char* pImageData;
  int32_t nPixelType;  // 1 grey, 2 colour
  int32_t nDepth;
  int32_t nColorSeq;  // 1 = R, G, B
  int32_t nWidth;
  int32_t nHeight;
  int32_t nBytesPerLine;
  int32_t nImageSize;
  int32_t nXResolution;
  int32_t nYResolution;
  unsigned char reserved[8];
};
static_assert(sizeof(FSIP_S_IMAGEINFO) == 56, "FSIP_S_IMAGEINFO is 56 bytes");

struct FSIP_S_IMAGEEMPHASIS {
  uint32_t cbSize;  // 24
  int32_t nKind;    // 2 emphasis, 4 descreen
  int32_t nLevel;   // 7
  int32_t nEmphasisLevel;
  int32_t nDescreenLevel;
  int32_t nLast;
};
static_assert(sizeof(FSIP_S_IMAGEEMPHASIS) == 24, "FSIP_S_IMAGEEMPHASIS is 24 bytes");

struct FSIP_S_IMAGEFILTER {
  uint32_t cbSize;    // 72
  uint32_t dwOption;  // bits 0-1: 1 emphasis
  unsigned char reserved1[32];
  FSIP_S_IMAGEEMPHASIS* pEmphasis;
  void* pWhiteLevel;
  void* pGamma;
  unsigned char reserved2[8];
};
static_assert(sizeof(FSIP_S_IMAGEFILTER) == 72, "FSIP_S_IMAGEFILTER is 72 bytes");

struct FSIP_S_SDTCEX {
  int32_t values[7];  // size, contrast limit, blend, base, up, down, resolution selector
  void* pInfo;        // written by the library
};
static_assert(sizeof(FSIP_S_SDTCEX) == 36, "FSIP_S_SDTCEX is 36 bytes");

struct FSIP_S_ERROR_DIFFUSION {
  int32_t cbSize;  // 20
  int32_t nKernel;
  int32_t nLevelMode;
  int32_t nHigh;
  int32_t nLow;
};
static_assert(sizeof(FSIP_S_ERROR_DIFFUSION) == 20, "FSIP_S_ERROR_DIFFUSION is 20 bytes");

struct FSIP_S_BINARIZATIONEX {
  uint32_t cbSize;    // 80
  uint32_t dwMethod;  // low byte method, second byte pre-filter flags
  unsigned char reserved[32];
  int32_t nThreshold;
  void* pDither;
  FSIP_S_SDTCEX* pSdtc;
  FSIP_S_ERROR_DIFFUSION* pErrorDiffusion;
  FSIP_S_IMAGEFILTER* pPreFilter;
  uint32_t dwBoundary;
};
static_assert(sizeof(FSIP_S_BINARIZATIONEX) == 80, "FSIP_S_BINARIZATIONEX is 80 bytes");

struct FSIP_S_DROPOUTCOLOREX {
  uint32_t cbSize;  // 36
  uint16_t wDropoutType;
  int16_t sWhiteMode;
  void* pSpecified;
  uint32_t dwOutput;  // 0 binarize, 1 grey
  FSIP_S_BINARIZATIONEX* pBinarization;
  unsigned char reserved[8];
};
static_assert(sizeof(FSIP_S_DROPOUTCOLOREX) == 36, "FSIP_S_DROPOUTCOLOREX is 36 bytes");

#pragma pack(pop)

// Image record of the page engines, the orientation unit and our rotation.
struct _P2IIMG {
  unsigned char* pImageData;
  int32_t nBitsPerPixel;
  int32_t nColorOrder;
  int32_t nWidth;
  int32_t nHeight;
  int32_t nBytesPerLine;
  int32_t nImageSize;
  int32_t nXResolution;
  int32_t nYResolution;
  int32_t nLeft;
  int32_t nTop;
  int32_t nRight;
  int32_t nBottom;
};
static_assert(sizeof(_P2IIMG) == 56, "_P2IIMG is a pointer and twelve 32-bit fields");

// ---- Main crop engine: image record, crop records and layouts ----------

enum : int32_t { FSIP_C_ERR_PIXELTYPE = -3 };

#pragma pack(push, 1)

struct FSIP_S_RECT {
  int32_t nXOffset;
  int32_t nYOffset;
  int32_t nWidth;
  int32_t nHeight;
};

struct FSIP_S_IMAGEINFO_EX {
  int32_t cbSize;  // 76
  unsigned char* pImageData;
  int32_t nPixelType;  // 0 1-bit, 1 grey, 2 colour
  int32_t nDepth;      // 1, 8, 24
  int32_t nColorSeq;   // 0; colour 1 or 6
  int32_t nWidth;
  int32_t nHeight;
  int32_t nBytesPerLine;
  int32_t nImageSize;
  int32_t nXResolution;
  int32_t nYResolution;
  FSIP_S_RECT Rect;
  int32_t nPixelFlavor;  // 1: stored inverted
  unsigned char reserved[8];
};
static_assert(sizeof(FSIP_S_IMAGEINFO_EX) == 76, "FSIP_S_IMAGEINFO_EX is 76 bytes");

typedef int (*FSIP_NOTIFY_OUTIMGINFO)(FSIP_S_IMAGEINFO_EX* out, void* user);

struct FSIP_CRP_S_CRPALL {
  int32_t cbSize;  // 88
  uint32_t dwFuncFlag;  // bit 0 tabs, bit 1 punch holes
  uint16_t wAccCrp;
  uint16_t wAccPH;
  uint32_t dwHoleRemoveType;
  int32_t bADF;
  uint16_t wFBCropSearchWidth;   // 0.1 mm
  uint16_t wFBCropIgnoreLength;  // 0.1 mm
  uint16_t wBlackBkThreshold;
  unsigned char reserved1[2];
  char szScanner[32];
  FSIP_NOTIFY_OUTIMGINFO NotifyOutImgInfo;
  uint8_t byTransferDataType;  // 3 or 0x83
  unsigned char reserved2[3];
  unsigned char* pbySendData;  // tone-table block
  unsigned char reserved3[8];
};
static_assert(sizeof(FSIP_CRP_S_CRPALL) == 88, "FSIP_CRP_S_CRPALL is 88 bytes");

struct FSIP_CRP_S_OFFSET_VALUE {
  int16_t offsetLeft;  // 0.1 mm, positive towards the centre
  int16_t offsetBottom;
  int16_t offsetRight;
  int16_t offsetTop;
};
static_assert(sizeof(FSIP_CRP_S_OFFSET_VALUE) == 8, "FSIP_CRP_S_OFFSET_VALUE is 8 bytes");

struct FSIP_CRP_S_CRPALL2 {
  FSIP_CRP_S_CRPALL crpAll;
  FSIP_CRP_S_OFFSET_VALUE offsetValue;
  int32_t nPHMode;
};
static_assert(sizeof(FSIP_CRP_S_CRPALL2) == 100, "FSIP_CRP_S_CRPALL2 is 100 bytes");

struct FSIP_CRP_S_PHRMV {
  int32_t cbSize;  // 84
  uint16_t wAccPH;
  unsigned char reserved1[2];
  int32_t bOVS;
  uint32_t dwHoleRemoveType;
  int32_t bADF;
  uint16_t wFBCropSearchWidth;
  uint16_t wFBCropIgnoreLength;
  uint16_t wBlackBkThreshold;
  unsigned char reserved2[2];
  char szScanner[32];
  uint8_t byTransferDataType;
  unsigned char reserved3[3];
  unsigned char* pbySendData;
  unsigned char reserved4[8];
  int32_t nPHMode;
};
static_assert(sizeof(FSIP_CRP_S_PHRMV) == 84, "FSIP_CRP_S_PHRMV is 84 bytes");

struct _FSIP_CRP_S_DUPCRPALL {
  FSIP_CRP_S_CRPALL side[2];
  uint32_t nReqSide;
};
static_assert(sizeof(_FSIP_CRP_S_DUPCRPALL) == 180, "_FSIP_CRP_S_DUPCRPALL is 180 bytes");

struct _FSIP_CRP_S_DUPCRPALL2 {
  FSIP_CRP_S_CRPALL2 side[2];
  uint32_t nReqSide;
};
static_assert(sizeof(_FSIP_CRP_S_DUPCRPALL2) == 204, "_FSIP_CRP_S_DUPCRPALL2 is 204 bytes");

struct _FSIP_CRP_S_DUPPHRMV {
  FSIP_CRP_S_PHRMV side[2];
  uint32_t nReqSide;
};
static_assert(sizeof(_FSIP_CRP_S_DUPPHRMV) == 172, "_FSIP_CRP_S_DUPPHRMV is 172 bytes");

struct FSIP_S_POINT {
  int64_t x;
  int64_t y;
};

struct FSIP_CRP_S_CORNER_POINTS {
  FSIP_S_POINT ptLT;
  FSIP_S_POINT ptRT;
  FSIP_S_POINT ptLB;
  FSIP_S_POINT ptRB;
};

struct FSIP_S_SIZE {
  int32_t x;
  int32_t y;
};

struct FSIP_CRP_S_PAPER_LAYOUT {
  double dSkew;  // degrees
  FSIP_CRP_S_CORNER_POINTS cornerPts;
  FSIP_S_SIZE sizeRectangle;
};
static_assert(sizeof(FSIP_CRP_S_PAPER_LAYOUT) == 80, "FSIP_CRP_S_PAPER_LAYOUT is 80 bytes");

struct FSIP_CRP_S_DUAL_LAYOUT {
  FSIP_CRP_S_PAPER_LAYOUT layoutHoleRemove;
  FSIP_CRP_S_PAPER_LAYOUT layoutCrop;
};
static_assert(sizeof(FSIP_CRP_S_DUAL_LAYOUT) == 160, "FSIP_CRP_S_DUAL_LAYOUT is 160 bytes");

struct FSIP_CRP_S_SPECIFIEDAREA_CRP {
  FSIP_CRP_S_CRPALL head;  // cbSize .. pbySendData as in the crop record
  FSIP_CRP_S_DUAL_LAYOUT layout;
};
static_assert(sizeof(FSIP_CRP_S_SPECIFIEDAREA_CRP) == 248, "FSIP_CRP_S_SPECIFIEDAREA_CRP is 248 bytes");

struct FSIP_CRPWB_S_CRPALL {
  int32_t cbSize;  // 98
  uint32_t dwFuncFlag;
  uint16_t wAccCrp;
  uint16_t wAccPH;
  uint32_t dwHoleRemoveType;
  int32_t bADF;
  uint16_t wFBCropSearchWidth;
  uint16_t wFBCropIgnoreLength;
  uint16_t wBlackBkThreshold;
  unsigned char reserved1[2];
  char szScanner[32];
  FSIP_NOTIFY_OUTIMGINFO NotifyOutImgInfo;
  uint8_t byTransferDataType;
  uint8_t bySide;
  int16_t sOVS;
  unsigned char reserved2[2];
  unsigned char* pbySendData;
  unsigned char reserved3[16];
};
static_assert(sizeof(FSIP_CRPWB_S_CRPALL) == 98, "FSIP_CRPWB_S_CRPALL is 98 bytes");

struct FSIP_CRPWB_S_SPECIFIEDAREA_CRP {
  int32_t cbSize;
  uint32_t dwFuncFlag;
  uint16_t wAccCrp;
  uint16_t wAccPH;
  uint32_t dwHoleRemoveType;
  int32_t bADF;
  uint16_t wFBCropSearchWidth;
  uint16_t wFBCropIgnoreLength;
  uint16_t wBlackBkThreshold;
  unsigned char reserved1[2];
  char szScanner[32];
  FSIP_NOTIFY_OUTIMGINFO NotifyOutImgInfo;
  uint8_t byTransferDataType;
  uint8_t bySide;
  int16_t sOVS;
  unsigned char* pbySendData;
  unsigned char reserved2[8];
  FSIP_CRP_S_DUAL_LAYOUT layout;
};
static_assert(sizeof(FSIP_CRPWB_S_SPECIFIEDAREA_CRP) == 248, "FSIP_CRPWB_S_SPECIFIEDAREA_CRP is 248 bytes");

struct FSIP_CRP_S_AIQC {
  int32_t cbSize;
  unsigned char reserved1[8];
  uint16_t wFBCropSearchWidth;
  uint16_t wFBCropIgnoreLength;
  uint16_t wBlackBkThreshold;
  unsigned char reserved2[34];
  uint8_t byTransferDataType;
  unsigned char reserved3[3];
  unsigned char* pbySendData;
};
static_assert(sizeof(FSIP_CRP_S_AIQC) == 64, "FSIP_CRP_S_AIQC is 64 bytes as the engine reads it");

// Stage durations of the last crop, milliseconds.
struct _PRFMDATA {
  uint32_t dwConv2BW;
  uint32_t dwGetWorkImg;
  uint32_t dwGetEdges;
  uint32_t dwGetSLs;
  uint32_t dwSetVrtlSLs;
  uint32_t dwCheckTabs;
  uint32_t dwDetectPHs;
  uint32_t dwClipOuterFrame;
  uint32_t dwCoverPHs;
  uint32_t dwCropImg;
};
static_assert(sizeof(_PRFMDATA) == 40, "_PRFMDATA is 40 bytes");

#pragma pack(pop)

enum : int32_t {
  FSIP_CRP_C_FOLDED_OR_PARTIAL = 32770,  // paper-position analysis only
};

// ---- end of the main crop engine's records ------------------------------

#endif
