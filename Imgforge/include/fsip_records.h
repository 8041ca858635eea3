// Records of libimgforge's control entry and page filters, laid out byte for
// byte as the library reads them.
#ifndef DRAVN_IMGFORGE_FSIP_RECORDS_H
#define DRAVN_IMGFORGE_FSIP_RECORDS_H

#include <cstddef>
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

// ---- control layer: fsip_control, its dispatcher and the crop records ----

enum : int32_t {
  FSIP_C_ERR_PIXELTYPE = -3,
};

#pragma pack(push, 1)

struct FSIP_S_RECT {
  int32_t nXOffset;
  int32_t nYOffset;
  int32_t nWidth;
  int32_t nHeight;
};

// The control layer's image record.
struct FSIP_S_IMAGEINFO_EX {
  int32_t cbSize;  // 76
  unsigned char* pImageData;
  int32_t nPixelType;  // 0 one bit, 1 grey, 2 colour
  int32_t nDepth;
  int32_t nColorSeq;  // colour: 1 = R, G, B (the crop engines also take 6)
  int32_t nWidth;
  int32_t nHeight;
  int32_t nBytesPerLine;
  int32_t nImageSize;
  int32_t nXResolution;
  int32_t nYResolution;
  FSIP_S_RECT Rect;  // all zero: the whole image
  int32_t nPixelFlavor;  // 1: tones inverted
  unsigned char reserved[8];
};
static_assert(sizeof(FSIP_S_IMAGEINFO_EX) == 76, "FSIP_S_IMAGEINFO_EX is 76 bytes");
static_assert(offsetof(FSIP_S_IMAGEINFO_EX, pImageData) == 4, "pixel pointer at 4");
static_assert(offsetof(FSIP_S_IMAGEINFO_EX, Rect) == 48, "Rect at 48");
static_assert(offsetof(FSIP_S_IMAGEINFO_EX, nPixelFlavor) == 64, "nPixelFlavor at 64");

// Operation selector of fsip_ImageProcess.
struct FSIP_S_IP_MODE {
  int32_t cbSize;     // 12
  int32_t nFunction;  // 1 colour-or-mono, 2 crop, 3 blank page
  int32_t nType;      // sub-operation; -1 asks whether the function is there
};
static_assert(sizeof(FSIP_S_IP_MODE) == 12, "FSIP_S_IP_MODE is 12 bytes");

// The output callback of every crop record: (output image, user parameter).
typedef int (*FSIP_NOTIFY_OUT_IMG_INFO)(FSIP_S_IMAGEINFO_EX*, void*);

struct FSIP_CRP_S_CRPALL {
  int32_t cbSize;  // 88
  uint32_t dwFuncFlag;
  uint16_t wAccCrp;
  uint16_t wAccPH;
  uint32_t dwHoleRemoveType;  // 0x00FFFFFF white, 0x80000000 paper colour
  int32_t bADF;
  uint16_t wFBCropSearchWidth;
  uint16_t wFBCropIgnoreLength;
  uint16_t wBlackBkThreshold;
  unsigned char reserved1[2];
  char szScanner[32];
  FSIP_NOTIFY_OUT_IMG_INFO NotifyOutImgInfo;
  uint8_t byTransferDataType;  // 0x83: tone block at pbySendData
  unsigned char reserved2[3];
  unsigned char* pbySendData;
  unsigned char reserved3[8];
};
static_assert(sizeof(FSIP_CRP_S_CRPALL) == 88, "FSIP_CRP_S_CRPALL is 88 bytes");
static_assert(offsetof(FSIP_CRP_S_CRPALL, NotifyOutImgInfo) == 60, "callback at 60");
static_assert(offsetof(FSIP_CRP_S_CRPALL, pbySendData) == 72, "tone block at 72");

struct FSIP_CRP_S_OFFSET_VALUE {
  int16_t offsetLeft;
  int16_t offsetBottom;
  int16_t offsetRight;
  int16_t offsetTop;
};
static_assert(sizeof(FSIP_CRP_S_OFFSET_VALUE) == 8, "FSIP_CRP_S_OFFSET_VALUE is 8 bytes");

struct FSIP_CRP_S_CRPALL2 {
  FSIP_CRP_S_CRPALL crpAll;
  FSIP_CRP_S_OFFSET_VALUE offset;
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
static_assert(offsetof(FSIP_CRP_S_PHRMV, pbySendData) == 64, "tone block at 64");

struct _FSIP_CRP_S_DUPCRPALL {
  FSIP_CRP_S_CRPALL crpAll[2];  // front, back
  uint32_t nReqSide;            // 0 front, 1 back, 2 both
};
static_assert(sizeof(_FSIP_CRP_S_DUPCRPALL) == 180, "_FSIP_CRP_S_DUPCRPALL is 180 bytes");

struct _FSIP_CRP_S_DUPCRPALL2 {
  FSIP_CRP_S_CRPALL2 crpAll2[2];
  uint32_t nReqSide;
};
static_assert(sizeof(_FSIP_CRP_S_DUPCRPALL2) == 204, "_FSIP_CRP_S_DUPCRPALL2 is 204 bytes");

struct _FSIP_CRP_S_DUPPHRMV {
  FSIP_CRP_S_PHRMV phRmv[2];
  uint32_t nReqSide;
};
static_assert(sizeof(_FSIP_CRP_S_DUPPHRMV) == 172, "_FSIP_CRP_S_DUPPHRMV is 172 bytes");

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
  FSIP_NOTIFY_OUT_IMG_INFO NotifyOutImgInfo;
  uint8_t byTransferDataType;
  uint8_t bySide;  // which face of the sheet, 0..2
  int16_t sOVS;    // -1: no over-scan value given
  unsigned char reserved2[2];
  unsigned char* pbySendData;
  unsigned char reserved3[16];
};
static_assert(sizeof(FSIP_CRPWB_S_CRPALL) == 98, "FSIP_CRPWB_S_CRPALL is 98 bytes");
static_assert(offsetof(FSIP_CRPWB_S_CRPALL, pbySendData) == 74, "tone block at 74");

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
  FSIP_CRP_S_CRPALL crpAll;  // the 88-byte head
  FSIP_CRP_S_DUAL_LAYOUT layout;
};
static_assert(sizeof(FSIP_CRP_S_SPECIFIEDAREA_CRP) == 248, "FSIP_CRP_S_SPECIFIEDAREA_CRP is 248 bytes");

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
  FSIP_NOTIFY_OUT_IMG_INFO NotifyOutImgInfo;
  uint8_t byTransferDataType;
  uint8_t bySide;
  int16_t sOVS;
  unsigned char* pbySendData;
  unsigned char reserved2[8];
  FSIP_CRP_S_DUAL_LAYOUT layout;
};
static_assert(sizeof(FSIP_CRPWB_S_SPECIFIEDAREA_CRP) == 248, "FSIP_CRPWB_S_SPECIFIEDAREA_CRP is 248 bytes");
static_assert(offsetof(FSIP_CRPWB_S_SPECIFIEDAREA_CRP, layout) == 88, "layout at 88");

#pragma pack(pop)

struct FSIP_BPD_S_INPARAM {
  int32_t cbSize;  // 80
  int32_t nWLevel;
  int32_t nBLevel;
  int32_t nDetectLevel;
  int32_t bADF;
  int32_t nOVS;
  char szScanner[32];
  uint8_t byTransferDataType;
  unsigned char* pbySendData;
};

struct FSIP_BPD_S_OUTPARAM {
  int32_t cbSize;
  int32_t nResult;  // 1 blank, 0 not blank
};

struct FSIP_DCM_S_INPARAM {
  int32_t cbSize;
  int32_t reserved[3];
};

struct FSIP_DCM_S_OUTPARAM {
  int32_t cbSize;
  int32_t nResult;  // 0 colour, 1 mono
};

// ---- end of the control layer's records ----

// ---- blank-page and colour-or-mono judges ----

enum : int32_t {
  FSIPCTL_FUNC_COLOUR_DECISION = 0x0020,
};

// Option record of P2iJugWhitePaper3.
struct P2IJDGWP_OPTION {
  int32_t nDoubleDistance;  // not 0: neighbours twice as far
};

// ---- end of the judges' records ----

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

// ---- Page filters: tone tables, white level, drop-out, selective emphasis,
// the older binarization and front/back merge records. ----
#pragma pack(push, 1)

// Tone pass of fsip_ImageFilter.
struct FSIP_S_GAMMA {
  uint32_t cbSize;   // 20
  uint8_t byMode;    // bit 1: luminance only
  uint8_t byPass;    // bit 0 before the area filter, bit 1 after it
  uint8_t reserved1[2];
  uint8_t byTransferDataType;  // 0x83: three tables
  uint8_t reserved2[3];
  unsigned char* pbyTable;  // 10-byte header, then one or three 256-byte tables
};
static_assert(sizeof(FSIP_S_GAMMA) == 20, "FSIP_S_GAMMA is 20 bytes");

struct FSIP_S_WHITELVFOLLOW {
  uint32_t cbSize;
  int32_t nFollow;  // both words must be 1
  int32_t nMode;
};
static_assert(sizeof(FSIP_S_WHITELVFOLLOW) == 12, "FSIP_S_WHITELVFOLLOW is 12 bytes");

// Drop-out type 6: a 16 x 16 x 16 table over Y, Cb, Cr.
struct FSIP_S_SPECIFIED_DOC {
  uint32_t cbSize;
  int32_t nTableSize;  // 4096
  int32_t nEntries;    // 256
  unsigned char* pbyTable;
};
static_assert(sizeof(FSIP_S_SPECIFIED_DOC) == 20, "FSIP_S_SPECIFIED_DOC is 20 bytes");

struct FSIP_S_SELECTEMPHA {
  uint32_t cbSize;
  int32_t nMethod;  // 1 dither, 2 error diffusion
  unsigned char reserved[32];
  int32_t nThreshold;
  unsigned char* pbyDither;  // 64 thresholds
  FSIP_S_ERROR_DIFFUSION* pErrorDiffusion;
  FSIP_S_IMAGEFILTER* pFilter;
};
static_assert(sizeof(FSIP_S_SELECTEMPHA) == 68, "FSIP_S_SELECTEMPHA is 68 bytes");

// fsip_Binarization's own record.
struct FSIP_S_BINARIZATION {
  uint8_t byMethod;  // 0 threshold, 1 dither, 2 error diffusion, 3 dynamic threshold
  int32_t nThreshold;
  unsigned char* pbyDither;  // two bytes, then 64 thresholds
  int32_t* pnSdtc;           // contrast limit, blend, base, up, down
  uint32_t dwBoundary;
};
static_assert(sizeof(FSIP_S_BINARIZATION) == 25, "FSIP_S_BINARIZATION is 25 bytes");

struct FSIP_S_DROPOUTCOLOR {
  uint32_t dwDropoutType;  // low 16 bits type (1 or 5), high 16 bits white mode
  uint32_t dwOutput;       // 0 binarize, 1 grey
  FSIP_S_BINARIZATION* pBinarization;
};
static_assert(sizeof(FSIP_S_DROPOUTCOLOR) == 16, "FSIP_S_DROPOUTCOLOR is 16 bytes");

// Tone-curve settings of Gam_MakeLUTFront and Gam_MakeLUTBack.
struct FSIP_S_GAMMACURVE {
  int32_t nBrightness;
  int32_t nContrast;
  int32_t nShadow;
  int32_t nHighlight;
  int32_t nGamma;  // tenths
};
static_assert(sizeof(FSIP_S_GAMMACURVE) == 20, "FSIP_S_GAMMACURVE is 20 bytes");

// fsip_GammaCalculate: rewrites the block's first table in place.
struct FSIP_S_GAMMACALC {
  uint32_t cbSize;  // at least 76
  int32_t nMethod;  // 2 table arithmetic, else the floating curve
  unsigned char reserved[32];
  int32_t bKeepEnds;
  int32_t nBrightness;  // 0 neutral
  int32_t nContrast;    // 0 neutral
  int32_t nShadow;      // low byte
  int32_t nHighlight;   // low byte
  double dGamma;
  unsigned char* pbyTable;
};
static_assert(sizeof(FSIP_S_GAMMACALC) == 76, "FSIP_S_GAMMACALC is 76 bytes");

#pragma pack(pop)

// ---- Main crop engine: records of its own (the shared crop records are the
// control layer's above) ----------------------------------------------------

#pragma pack(push, 1)

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
