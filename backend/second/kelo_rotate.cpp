// Quarter turns of 24-, 8- and 1-bit pages.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "keloimageprocess.h"
#include "log.h"
#include "prop_info.h"
#include "quarter_turn.h"

namespace {

using namespace kelo_turn;

int64_t BytesPerLine(int bits, int64_t width) {
  if (bits == 24) return (width * 24 + 7) / 8;
  if (bits == 8) return width;
  return (width + 7) / 8;
}

// One bit per pixel, most significant first; dst arrives cleared, so only
// set bits are written and the bits past the width stay 0.
void TurnBits(const unsigned char* src, int64_t sbpl, unsigned char* dst, int64_t dbpl, int64_t W, int64_t H,
              int code) {
  for (int64_t y = 0; y < H; ++y) {
    const unsigned char* s = src + y * sbpl;
    for (int64_t x = 0; x < W; ++x) {
      if (!(s[x >> 3] & (0x80 >> (x & 7)))) continue;
      int64_t dx, dy;
      Target(code, W, H, x, y, &dx, &dy);
      dst[dy * dbpl + (dx >> 3)] |= static_cast<unsigned char>(0x80 >> (dx & 7));
    }
  }
}

}  // namespace

int KeloImageProcess::P2iRotate(const _P2IIMG* pstSrc, int iCode, _P2IIMG* pstDst) {
  CLogScope scope("KeloImageProcess::P2iRotate");
  if (!pstSrc || !pstDst || !pstSrc->pImageData || iCode < 1 || iCode > 3) return KELO_IP_PARAMETER;
  const int bits = pstSrc->nBitsPerPixel;
  const int64_t W = pstSrc->nWidth, H = pstSrc->nHeight, sbpl = pstSrc->nBytesPerLine;
  if ((bits != 24 && bits != 8 && bits != 1) || W <= 0 || H <= 0 || sbpl < BytesPerLine(bits, W))
    return KELO_IP_PARAMETER;

  const bool swap = iCode != 2;
  const int64_t tw = swap ? H : W, th = swap ? W : H;
  const int64_t dbpl = BytesPerLine(bits, tw);
  const size_t size = static_cast<size_t>(th) * static_cast<size_t>(dbpl);
  unsigned char* dst = static_cast<unsigned char*>(bits == 1 ? calloc(size, 1) : malloc(size));
  if (!dst) return KELO_IP_OUTOFMEMORY;

  if (bits == 1)
    TurnBits(pstSrc->pImageData, sbpl, dst, dbpl, W, H, iCode);
  else if (bits == 24)
    TurnBytes<3>(pstSrc->pImageData, sbpl, dst, dbpl, W, H, iCode);
  else
    TurnBytes<1>(pstSrc->pImageData, sbpl, dst, dbpl, W, H, iCode);

  pstDst->pImageData = dst;
  pstDst->nBitsPerPixel = bits;
  pstDst->nColorOrder = pstSrc->nColorOrder;
  pstDst->nWidth = static_cast<int32_t>(tw);
  pstDst->nHeight = static_cast<int32_t>(th);
  pstDst->nBytesPerLine = static_cast<int32_t>(dbpl);
  pstDst->nImageSize = static_cast<int32_t>(size);
  pstDst->nXResolution = swap ? pstSrc->nYResolution : pstSrc->nXResolution;
  pstDst->nYResolution = swap ? pstSrc->nXResolution : pstSrc->nYResolution;
  return KELO_IP_OK;
}

int KeloImageProcess::DoP2iRotate(unsigned char*** cpImageData, int iScanFace,
                                  KELO_IMAGEDATA_PARAMETERS* pstSrcImageInfo, int iCode) {
  const char kFunction[] = "KeloImageProcess::DoP2iRotate";
  CLogScope scope(kFunction);
  unsigned char* page =
      cpImageData && iScanFace >= 0 && iScanFace <= 1 && cpImageData[iScanFace] ? *cpImageData[iScanFace] : nullptr;
  if (!page || !pstSrcImageInfo) {
    WriteLog(LOG_LEVEL_ERROR, kFunction,
             g_PropInfo.SPLIT_IMAGE
                 ? "cpImageData == NULL || cpImageData[iScanFace] == NULL || *cpImageData[iScanFace] == NULL || "
                   "iScanFace >= 2 || iScanFace < 0 || pstSrcImageInfo == NULL"
                 : "cpImageData == NULL || *cpImageData == NULL || *cpImageData[iScanFace] == NULL || iScanFace >= 2 "
                   "|| iScanFace < 0 || pstSrcImageInfo == NULL");
    return 32;
  }
  KELO_IMAGEDATA_PARAMETERS& g = pstSrcImageInfo[iScanFace];
  _P2IIMG src{}, dst{};
  src.pImageData = page;
  src.nBitsPerPixel = g_PropInfo.SCAN_MODE == 0 ? 1 : g_PropInfo.SCAN_MODE == 1 ? 8 : 24;
  src.nWidth = g.iPixelsPerLine;
  src.nHeight = g.iLines;
  src.nBytesPerLine = g.iBytesPerLine;
  src.nImageSize = g.iLines * g.iBytesPerLine;
  src.nXResolution = g_PropInfo.SCAN_RES_X;
  src.nYResolution = g_PropInfo.SCAN_RES_Y;
  src.nRight = g.iPixelsPerLine - 1;
  src.nBottom = g.iLines - 1;
  dst.nWidth = src.nWidth;
  dst.nHeight = src.nHeight;
  dst.nBytesPerLine = src.nBytesPerLine;
  dst.nImageSize = src.nImageSize;
  dst.nRight = src.nRight;
  dst.nBottom = src.nBottom;

  const int rc = P2iRotate(&src, iCode, &dst);
  if (rc == KELO_IP_OUTOFMEMORY) {
    WriteLog(LOG_LEVEL_ERROR, "KeloImageProcess::DoImageProcess", "P2iRotate memory lack");
    return 33;
  }
  if (rc != KELO_IP_OK) {
    WriteLog(LOG_LEVEL_ERROR, "KeloImageProcess::DoImageProcess", "failed to rotate the image");
    return 34;
  }
  free(page);
  *cpImageData[iScanFace] = dst.pImageData;
  g.iPixelsPerLine = dst.nWidth;
  g.iLines = dst.nHeight;
  g.iBytesPerLine = dst.nBytesPerLine;
  return 0;
}
