// fsip_ImageFilter: tone pass, then white-level following and/or emphasis on
// the grey plane (the luminance of a colour page), then the tone pass again.
#include <cstdlib>
#include <cstring>
#include <new>

#include "conv.h"

namespace {

int ImageFilter(FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEFILTER* options, FSIP_S_IMAGEINFO* out) {
  if (!in || !in->pImageData) return FSIP_C_ERR_PARAMETER;
  if (in->nPixelType != 1 && in->nPixelType != 2) return kFsipErrPixelType;
  if (in->nColorSeq != 0 && in->nColorSeq != 1 && in->nColorSeq != 6) return FSIP_C_ERR_NOTSUPPORT;
  if (!options || !PageFits(in)) return FSIP_C_ERR_PARAMETER;
  uint32_t option = options->dwOption;
  const auto* gamma = static_cast<const FSIP_S_GAMMA*>(options->pGamma);
  if ((option & 4) && !gamma) return FSIP_C_ERR_PARAMETER;
  const bool tone = option & 4;
  const uint32_t area = option & 3;

  CConv conv;
  conv.m_nScannerType = 2;
  conv.SetSize(in->nWidth, in->nHeight);
  conv.SetColorOrder(in->nColorSeq);
  conv.SetBoundaryMode(1, 1);

  FSIP_S_IMAGEINFO* work = in;
  if (out && out->pImageData) {
    unsigned char* pixels = out->pImageData;
    FillFrom(out, in);
    out->pImageData = pixels;
    memcpy(pixels, in->pImageData, static_cast<size_t>(in->nImageSize));
    work = out;
  }
  if (tone && (gamma->byPass & 1)) conv.Gamma(work, gamma);

  unsigned char* plane = nullptr;
  bool ownPlane = false;
  int planeStride = work->nBytesPerLine;
  if (work->nDepth == 24 && area != 0) {
    planeStride = CConv::CalcBytePerLine(work->nWidth, 8, 1);
    plane = static_cast<unsigned char*>(malloc(static_cast<size_t>(planeStride) * work->nHeight));
    if (!plane) return FSIP_C_ERR_OUTOFMEMORY;
    ownPlane = true;
    const int rc = conv.ConvertRGBtoYUVonlyY(work, plane);
    if (rc != 0) {
      free(plane);
      return rc;
    }
  } else if (work->nDepth == 24 || work->nDepth == 8) {
    plane = work->pImageData;
  } else {
    return FSIP_C_ERR_PARAMETER;
  }

  FSIP_S_IMAGEINFO grey;
  memset(&grey, 0, sizeof grey);
  grey.cbSize = sizeof grey;
  grey.pImageData = plane;
  grey.nPixelType = 1;
  grey.nDepth = 8;
  grey.nWidth = in->nWidth;
  grey.nHeight = in->nHeight;
  grey.nBytesPerLine = planeStride;
  grey.nImageSize = planeStride * in->nHeight;
  grey.nXResolution = in->nXResolution;
  grey.nYResolution = in->nYResolution;
  memcpy(grey.reserved, in->reserved, sizeof grey.reserved);

  int rc = FSIP_C_ERR_NOERROR;
  switch (area) {
    case 2:
      rc = conv.WhiteLvFollow(&grey, static_cast<const FSIP_S_WHITELVFOLLOW*>(options->pWhiteLevel), nullptr);
      break;
    case 3:
      rc = conv.WhiteLvFollow(&grey, static_cast<const FSIP_S_WHITELVFOLLOW*>(options->pWhiteLevel), nullptr);
      if (rc == 0) rc = conv.PreImageEmphasis(&grey, options->pEmphasis, nullptr);
      break;
    case 1:
      rc = conv.PreImageEmphasis(&grey, options->pEmphasis, nullptr);
      break;
    default:
      break;
  }
  if (rc != 0) {
    // A colour page worked on in place gets its colours back.
    if (ownPlane) {
      if (work == in) conv.ConvertYUVtoRGBonlyY(in, nullptr, in->nWidth, in->nHeight);
      free(plane);
    }
    return rc;
  }
  if (ownPlane) {
    rc = conv.ConvertYUVtoRGBonlyY(work, plane, work->nWidth, work->nHeight);
    free(plane);
  }
  if (tone && (gamma->byPass & 2)) conv.Gamma(work, gamma);
  return rc;
}

}  // namespace

FSIP_EXPORT int fsip_ImageFilter(FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEFILTER* options, FSIP_S_IMAGEINFO* out,
                                 const void* /*reserved*/) {
  return FsipGuarded([&] { return ImageFilter(in, options, out); });
}
