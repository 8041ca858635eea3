// Geometry of the filter class, the device-family lists and the luminance
// split and merge that let the grey filters work on colour pages.
#include "conv.h"

#include <cstdlib>
#include <cstring>

int g_nBinPadding = 0;
long g_lWhiteLvDebug = 0;

namespace {

// Model-name prefixes of the two device families; nothing consults them
// beyond GetScannerType, and the filter entries fix the family themselves.
const char* const pszStrTOLLET2[] = {"Tollet ", "TL20", "TL21", "TL22", "TL30",
                                     "TL31",    "TL40", "TL41", "TL50", nullptr};
const char* const pszStrQUESSAR[] = {"Quessar ", "QS10", "QS11", "QS20", nullptr};

}  // namespace

void CConv::SetSize(int width, int height) {
  m_nWidth = width;
  m_nHeight = height;
  m_nWhiteMode = 0;
  m_nOutBoundary = 4;
  m_nInBoundary = 4;
  m_nColorOrder = 6;
}

int CConv::CalcBytePerLine(int width, int bits, int boundary) {
  const long bytes = (static_cast<long>(width) * bits + 7) / 8;
  if (boundary == 1) return static_cast<int>(bytes);
  if (boundary == 2) return static_cast<int>((bytes + 1) & ~1L);
  return static_cast<int>((bytes + 3) & ~3L);
}

int CompScanner(const char* name, const char* const* list) {
  if (!name || !list) return 0;
  for (; *list; ++list)
    if (strncmp(name, *list, strlen(*list)) == 0) return 1;
  return 0;
}

int CConv::CompScanner(const char* name, const char* const* list) { return ::CompScanner(name, list); }

int CConv::GetScannerType(const char* name) const {
  if (CompScanner(name, pszStrTOLLET2)) return 2;
  if (CompScanner(name, pszStrQUESSAR)) return 1;
  return 0;
}

ChannelOrder OrderOf(int colorSeq) {
  switch (colorSeq) {
    case 2:
      return {0, 2, 1};  // R, B, G
    case 3:
      return {1, 0, 2};  // G, R, B
    case 4:
      return {2, 0, 1};  // G, B, R
    case 5:
      return {1, 2, 0};  // B, R, G
    case 6:
      return {2, 1, 0};  // B, G, R
    default:
      return {0, 1, 2};
  }
}

bool PageFits(const FSIP_S_IMAGEINFO* info) {
  if (!info || !info->pImageData || info->nWidth <= 0 || info->nHeight <= 0 || info->nDepth <= 0 ||
      info->nBytesPerLine <= 0 || info->nImageSize <= 0)
    return false;
  const long row = (static_cast<long>(info->nWidth) * info->nDepth + 7) / 8;
  return info->nBytesPerLine >= row &&
         static_cast<long>(info->nBytesPerLine) * info->nHeight <= static_cast<long>(info->nImageSize);
}

void FillFrom(FSIP_S_IMAGEINFO* out, const FSIP_S_IMAGEINFO* in) {
  out->cbSize = sizeof(FSIP_S_IMAGEINFO);
  out->nPixelType = in->nPixelType;
  out->nDepth = in->nDepth;
  out->nColorSeq = in->nColorSeq;
  out->nWidth = in->nWidth;
  out->nHeight = in->nHeight;
  out->nBytesPerLine = in->nBytesPerLine;
  out->nImageSize = in->nHeight * in->nBytesPerLine;
  out->nXResolution = in->nXResolution;
  out->nYResolution = in->nYResolution;
  memcpy(out->reserved, in->reserved, sizeof out->reserved);
}

int CConv::ConvertRGBtoYUVonlyY(FSIP_S_IMAGEINFO* info, unsigned char* plane) const {
  if (!info || !plane || !info->pImageData) return FSIP_C_ERR_PARAMETER;
  const ChannelOrder o = OrderOf(info->nColorSeq == 6 ? 6 : 1);
  const int planeStride = CalcBytePerLine(m_nWidth, 8, m_nOutBoundary);
  for (int y = 0; y < m_nHeight; ++y) {
    unsigned char* p = info->pImageData + static_cast<size_t>(y) * info->nBytesPerLine;
    unsigned char* q = plane + static_cast<size_t>(y) * planeStride;
    for (int x = 0; x < m_nWidth; ++x, p += 3) {
      const int r = p[o.r], g = p[o.g], b = p[o.b];
      const int Y = (306 * r + 601 * g + 117 * b) >> 10;
      p[1] = static_cast<unsigned char>(((512 * b - 172 * r - 339 * g) >> 10) + 128);
      p[2] = static_cast<unsigned char>(((512 * r - 429 * g - 83 * b) >> 10) + 128);
      p[0] = static_cast<unsigned char>(Y);
      q[x] = static_cast<unsigned char>(Y);
    }
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::ConvertYUVtoRGBonlyY(FSIP_S_IMAGEINFO* info, const unsigned char* plane, int width, int height) const {
  if (!info || !info->pImageData) return FSIP_C_ERR_PARAMETER;
  const ChannelOrder o = OrderOf(info->nColorSeq == 6 ? 6 : 1);
  const int planeStride = CalcBytePerLine(width, 8, m_nOutBoundary);
  for (int y = 0; y < height; ++y) {
    unsigned char* p = info->pImageData + static_cast<size_t>(y) * info->nBytesPerLine;
    const unsigned char* q = plane ? plane + static_cast<size_t>(y) * planeStride : nullptr;
    for (int x = 0; x < width; ++x, p += 3) {
      const int Y = q ? q[x] : p[0], cb = p[1] - 128, cr = p[2] - 128;
      const int r = Clamp255((1024 * Y + 1441 * cr) >> 10);
      const int g = Clamp255((1024 * Y - 734 * cr - 354 * cb) >> 10);
      const int b = Clamp255((1024 * Y + 1822 * cb) >> 10);
      p[o.r] = static_cast<unsigned char>(r);
      p[o.g] = static_cast<unsigned char>(g);
      p[o.b] = static_cast<unsigned char>(b);
    }
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::ConvertRGBtoYUV(const FSIP_S_IMAGEINFO* info, unsigned char* y, unsigned char* u, unsigned char* v) const {
  if (!info || !info->pImageData || !y || !u || !v) return FSIP_C_ERR_PARAMETER;
  const ChannelOrder o = OrderOf(info->nColorSeq == 6 ? 6 : 1);
  const int stride = CalcBytePerLine(m_nWidth, 8, m_nOutBoundary);
  for (int row = 0; row < m_nHeight; ++row) {
    const unsigned char* p = info->pImageData + static_cast<size_t>(row) * info->nBytesPerLine;
    const size_t at = static_cast<size_t>(row) * stride;
    for (int x = 0; x < m_nWidth; ++x, p += 3) {
      const int r = p[o.r], g = p[o.g], b = p[o.b];
      y[at + x] = static_cast<unsigned char>((306 * r + 601 * g + 117 * b) >> 10);
      u[at + x] = static_cast<unsigned char>(((512 * b - 172 * r - 339 * g) >> 10) + 128);
      v[at + x] = static_cast<unsigned char>(((512 * r - 429 * g - 83 * b) >> 10) + 128);
    }
  }
  return FSIP_C_ERR_NOERROR;
}

int CConv::ConvertYUVtoRGB(const unsigned char* y, const unsigned char* u, const unsigned char* v,
                           FSIP_S_IMAGEINFO* info) const {
  if (!info || !info->pImageData || !y || !u || !v) return FSIP_C_ERR_PARAMETER;
  const ChannelOrder o = OrderOf(info->nColorSeq == 6 ? 6 : 1);
  const int stride = CalcBytePerLine(m_nWidth, 8, m_nOutBoundary);
  for (int row = 0; row < m_nHeight; ++row) {
    unsigned char* p = info->pImageData + static_cast<size_t>(row) * info->nBytesPerLine;
    const size_t at = static_cast<size_t>(row) * stride;
    for (int x = 0; x < m_nWidth; ++x, p += 3) {
      const int Y = y[at + x], U = u[at + x] - 128, V = v[at + x] - 128;
      p[o.r] = static_cast<unsigned char>(Clamp255((1024 * Y + 1441 * V) >> 10));
      p[o.g] = static_cast<unsigned char>(Clamp255((1024 * Y - 354 * U - 734 * V) >> 10));
      p[o.b] = static_cast<unsigned char>(Clamp255((1024 * Y + 1822 * U) >> 10));
    }
  }
  return FSIP_C_ERR_NOERROR;
}
