// The second backend's image steps: bicubic resolution conversion, quarter
// turns, and the unit calls for colour cleanup, automatic binarization,
// splitting and front/back merging. The object also holds the pages that a
// sheet yields beyond its two face slots (split halves, the merged page) and
// their automatic tone tables; the read side frees those buffers.
//
// Slots: the pipeline's two face slots (front 0, back 1), each a pointer to
// a pixel pointer, passed as an array. With split-image on, the operations
// get a temporary array whose only filled entry points at a half buffer,
// together with that half's geometry pair.
#ifndef DRAVN_SECOND_KELOIMAGEPROCESS_H
#define DRAVN_SECOND_KELOIMAGEPROCESS_H

#include <cstdint>

#include "fsip_records.h"
#include "image_params.h"

struct BiCubicRegion_Common {
  const unsigned char* pbyData;
  int64_t llBytesPerLine;
  int64_t llWidth;  // 0 with llHeight 0: unbounded
  int64_t llHeight;
};

struct ColorRGB_Common {
  unsigned char byColor[3];  // in source order
};

// Result codes of the operations below (the pipeline maps them).
enum : int {
  KELO_IP_OK = 0,
  KELO_IP_OUTOFMEMORY = -1,
  KELO_IP_PARAMETER = -2,
  KELO_IP_UNEXPECTED = -5,
};

class KeloImageProcess {
 public:
  KeloImageProcess();
  ~KeloImageProcess() = default;  // the read side owns the pages
  KeloImageProcess(const KeloImageProcess&) = delete;
  KeloImageProcess& operator=(const KeloImageProcess&) = delete;

  static int BorderColor(int value);
  static double SinXDivX(double x);

  // One bicubic sample at (x, y) in 16.16 fixed point.
  void ThreeOrder_Fast_Common_Color(const BiCubicRegion_Common& region, int64_t x, int64_t y,
                                    ColorRGB_Common* out) const;
  void ThreeOrder_Border_Common_Color(const BiCubicRegion_Common& region, int64_t x, int64_t y,
                                      ColorRGB_Common* out) const;

  // A new zero-filled 24-bit buffer of the target geometry (free() it), or
  // null. The source stays the caller's.
  unsigned char* DoResoConv_Color(const unsigned char* pbySrc, KELO_IMAGEDATA_PARAMETERS tSrcInfo,
                                  KELO_IMAGEDATA_PARAMETERS tDstInfo) const;

  int ColorCleanup(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo);
  int DoColorCleanup(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo);
  int iDTCProcess(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo, int iCropFlag);
  int DoiDTC(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo,
             const int* ipCropFlag);
  int SplitImage(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo);
  static int P2iRotate(const _P2IIMG* pstSrc, int iCode, _P2IIMG* pstDst);
  int DoP2iRotate(unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* pstSrcImageInfo, int iCode);
  int MergeImage(unsigned char*** cpImageData, KELO_IMAGEDATA_PARAMETERS* tpDstImageInfo);

  // Split halves by face (front 0, back 1) and their geometry pairs.
  KELO_IMAGEDATA_PARAMETERS m_tUpperImageInfo[2];
  KELO_IMAGEDATA_PARAMETERS m_tLowerImageInfo[2];
  unsigned char* m_pUpperImage[2] = {nullptr, nullptr};
  unsigned char* m_pLowerImage[2] = {nullptr, nullptr};
  unsigned char m_byUpperLUT[256] = {};
  unsigned char m_byLowerLUT[256] = {};

  // The merged page.
  KELO_IMAGEDATA_PARAMETERS m_tMergeImageInfo;
  unsigned char* m_pMergeImage = nullptr;
  unsigned char m_byFrontLUT[256] = {};
  unsigned char m_byBackLUT[256] = {};

 private:
  // Values -256..511 clamped to a byte, indexed through m_pClamp.
  unsigned char m_byClamp[768];
  const unsigned char* m_pClamp;
  int64_t m_llCubicWeight[513];
};

#endif
