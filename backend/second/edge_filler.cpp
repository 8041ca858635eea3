// Painting the margins of a page white or black.
#include "edge_filler.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "keloimageprocess.h"
#include "log.h"

namespace kelo_steps {

int FillEdges(unsigned char** ppbyImgData, const KELO_IMAGEDATA_PARAMETERS& tInfo, int iTop, int iBottom, int iLeft,
              int iRight, bool bWhite, const char* cpTag) {
  if (!ppbyImgData || !*ppbyImgData) {
    WriteLog(LOG_LEVEL_ERROR, cpTag, "*pbyImgData == NULL");
    return KELO_IP_PARAMETER;
  }
  const int64_t width = tInfo.iPixelsPerLine, height = tInfo.iLines, bpl = tInfo.iBytesPerLine;
  const int64_t bits = tInfo.iDepth == 1 ? 1 : tInfo.iFormat == 1 ? 24 : 8;
  if (iTop < 0 || iBottom < 0 || iLeft < 0 || iRight < 0 || width <= 0 || height <= 0 || bpl < (width * bits + 7) / 8) {
    WriteLog(LOG_LEVEL_ERROR, cpTag, "invalid page or margins");
    return KELO_IP_PARAMETER;
  }
  if (width < int64_t{iLeft} + iRight || height < int64_t{iTop} + iBottom) {
    WriteLog(LOG_LEVEL_TRACE, cpTag, "end DoEdgeFiller Not Processed");
    return KELO_IP_OK;
  }
  unsigned char* dst = static_cast<unsigned char*>(calloc(static_cast<size_t>(height * bpl), 1));
  if (!dst) {
    WriteLog(LOG_LEVEL_ERROR, cpTag, "pbyDstImage == NULL");
    return KELO_IP_OUTOFMEMORY;
  }
  const unsigned char fill = bWhite ? 0xFF : 0x00;
  const int64_t leftBytes = bpl * iLeft / width, rightBytes = bpl * iRight / width;
  const unsigned char* src = *ppbyImgData;
  for (int64_t y = 0; y < height; ++y) {
    unsigned char* row = dst + y * bpl;
    if (y < iTop || y >= height - iBottom) {
      memset(row, fill, static_cast<size_t>(bpl));
      continue;
    }
    memcpy(row, src + y * bpl, static_cast<size_t>(bpl));
    memset(row, fill, static_cast<size_t>(leftBytes));
    memset(row + bpl - rightBytes, fill, static_cast<size_t>(rightBytes));
  }
  free(*ppbyImgData);
  *ppbyImgData = dst;
  return KELO_IP_OK;
}

}  // namespace kelo_steps
