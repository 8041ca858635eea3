// Quarter turns of 24-bit pages given in degrees.
#include "image_rotate24.h"

#include <cstdlib>

#include "keloimageprocess.h"
#include "quarter_turn.h"

namespace kelo_steps {

int P2iRotate(const _P2IIMG* pstIn, int iAngle, _P2IIMG* pstOut) {
  if (!pstIn || !pstOut || !pstIn->pImageData || pstIn->nBitsPerPixel != 24) return KELO_IP_PARAMETER;
  const int code = iAngle == 90 ? 1 : iAngle == 180 ? 2 : iAngle == 270 ? 3 : 0;
  const int64_t W = pstIn->nWidth, H = pstIn->nHeight, sbpl = pstIn->nBytesPerLine;
  if (!code || W <= 0 || H <= 0 || sbpl < W * 3) return KELO_IP_PARAMETER;

  const bool swap = code != 2;
  const int64_t tw = swap ? H : W, th = swap ? W : H;
  const int64_t dbpl = tw * 3;
  const int64_t size = th * dbpl;
  if (size > INT32_MAX) return KELO_IP_PARAMETER;
  unsigned char* dst = static_cast<unsigned char*>(malloc(static_cast<size_t>(size)));
  if (!dst) return KELO_IP_OUTOFMEMORY;
  kelo_turn::TurnBytes<3>(pstIn->pImageData, sbpl, dst, dbpl, W, H, code);

  *pstOut = *pstIn;
  pstOut->pImageData = dst;
  pstOut->nWidth = static_cast<int32_t>(tw);
  pstOut->nHeight = static_cast<int32_t>(th);
  pstOut->nBytesPerLine = static_cast<int32_t>(dbpl);
  pstOut->nImageSize = static_cast<int32_t>(size);
  pstOut->nXResolution = swap ? pstIn->nYResolution : pstIn->nXResolution;
  pstOut->nYResolution = swap ? pstIn->nXResolution : pstIn->nYResolution;
  pstOut->nLeft = 0;
  pstOut->nTop = 0;
  pstOut->nRight = static_cast<int32_t>(tw - 1);
  pstOut->nBottom = static_cast<int32_t>(th - 1);
  return KELO_IP_OK;
}

}  // namespace kelo_steps
