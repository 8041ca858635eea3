// Colour drop-out: a colour page becomes a grey page in which the form's
// printed colour disappears, and optionally a bilevel page; and the 4-bit
// grey reductions.
#include <cstdlib>
#include <cstring>
#include <new>

#include "conv.h"

// clang does not clone function templates for several targets.
#if defined(__clang__)
#define DROPOUT_CLONES
#else
#define DROPOUT_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace {

// Pixels of a colour order, red/green/blue at compile-time positions so
// that each drop-out loop stays a straight run over the line.
template <int R, int G, int B, class F>
DROPOUT_CLONES void EachPixel(unsigned char* out, int outStride,
                                                                 const unsigned char* in, int inStride, int width,
                                                                 int height, F grey) {
  for (int y = 0; y < height; ++y) {
    const unsigned char* p = in + static_cast<size_t>(y) * inStride;
    unsigned char* o = out + static_cast<size_t>(y) * outStride;
    for (int x = 0; x < width; ++x) o[x] = static_cast<unsigned char>(grey(p[3 * x + R], p[3 * x + G], p[3 * x + B]));
  }
}

template <class F>
void ByOrder(int order, unsigned char* out, int outStride, const unsigned char* in, int inStride, int width, int height,
             F grey) {
  if (order == 6)
    EachPixel<2, 1, 0>(out, outStride, in, inStride, width, height, grey);
  else
    EachPixel<0, 1, 2>(out, outStride, in, inStride, width, height, grey);
}

inline int Min3(int a, int b, int c) { return a < b ? (a < c ? a : c) : (b < c ? b : c); }

int WhiteGrey(int mode, int r, int g, int b) {
  if (mode == 1) return (299 * r + 587 * g + 114 * b) / 1000;
  if (mode == 2) return static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b);
  return (306 * r + 601 * g + 117 * b) >> 10;
}

bool SpecifiedValid(const FSIP_S_SPECIFIED_DOC* doc) {
  return doc && doc->nTableSize == 4096 && doc->nEntries == 256 && doc->pbyTable;
}

}  // namespace

int LookupCustDropTblYUV(const unsigned char* table, int y, int cb, int cr) {
  const int e = table[(y >> 4) * 256 + (cb >> 4) * 16 + (cr >> 4)];
  return e >= 128 ? y : 2 * e;
}

int LookupCustDropTblRGB(const unsigned char* table, int r, int g, int b) {
  int y = (77 * r + 150 * g + 29 * b) >> 8;
  if (y > 255) y = 255;
  auto offset = [](int v) { return v < -128 ? 0 : v >= 128 ? 255 : v + 128; };
  const int cb = offset((128 * b - 85 * g - 43 * r) >> 8);
  const int cr = offset((128 * r - 107 * g - 21 * b) >> 8);
  return LookupCustDropTblYUV(table, y, cb, cr);
}

unsigned char* CConv::GreyBuffer(unsigned char* out, int bits) const {
  if (out) return out;
  const int stride = CalcBytePerLine(m_nWidth, bits, m_nOutBoundary);
  const size_t bytes = static_cast<size_t>(stride) * m_nHeight;
  // Zeroed unless every byte of every line will be written.
  if (bits == 8 && stride == m_nWidth) return static_cast<unsigned char*>(malloc(bytes ? bytes : 1));
  return static_cast<unsigned char*>(calloc(bytes ? bytes : 1, 1));
}

unsigned char* CConv::WhiteDropOut(unsigned char* out, const unsigned char* in, int inStride) const {
  if (!(out = GreyBuffer(out, 8))) return nullptr;
  const int stride = CalcBytePerLine(m_nWidth, 8, m_nOutBoundary);
  switch (m_nWhiteMode) {
    case 1:
      ByOrder(m_nColorOrder, out, stride, in, inStride, m_nWidth, m_nHeight,
              [](int r, int g, int b) { return (299 * r + 587 * g + 114 * b) / 1000; });
      break;
    case 2:
      ByOrder(m_nColorOrder, out, stride, in, inStride, m_nWidth, m_nHeight,
              [](int r, int g, int b) { return static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b); });
      break;
    default:
      ByOrder(m_nColorOrder, out, stride, in, inStride, m_nWidth, m_nHeight,
              [](int r, int g, int b) { return (306 * r + 601 * g + 117 * b) >> 10; });
      break;
  }
  return out;
}

unsigned char* CConv::SingleDropOut(unsigned char* out, const unsigned char* in, int inStride, int type) const {
  if (type < 2 || type > 4 || !(out = GreyBuffer(out, 8))) return nullptr;
  const int stride = CalcBytePerLine(m_nWidth, 8, m_nOutBoundary);
  if (type == 2)
    ByOrder(m_nColorOrder, out, stride, in, inStride, m_nWidth, m_nHeight, [](int r, int, int) { return r; });
  else if (type == 3)
    ByOrder(m_nColorOrder, out, stride, in, inStride, m_nWidth, m_nHeight, [](int, int g, int) { return g; });
  else
    ByOrder(m_nColorOrder, out, stride, in, inStride, m_nWidth, m_nHeight, [](int, int, int b) { return b; });
  return out;
}

unsigned char* CConv::NoneDropOut(unsigned char* out, const unsigned char* in, int inStride) const {
  if (!(out = GreyBuffer(out, 8))) return nullptr;
  ByOrder(m_nColorOrder, out, CalcBytePerLine(m_nWidth, 8, m_nOutBoundary), in, inStride, m_nWidth, m_nHeight,
          [](int r, int g, int b) { return Min3(r, g, b); });
  return out;
}

unsigned char* CConv::SpecifiedDropOut(unsigned char* out, const unsigned char* in, int inStride,
                                       const FSIP_S_SPECIFIED_DOC* doc) const {
  if (!SpecifiedValid(doc) || !(out = GreyBuffer(out, 8))) return nullptr;
  const unsigned char* table = doc->pbyTable;
  ByOrder(m_nColorOrder, out, CalcBytePerLine(m_nWidth, 8, m_nOutBoundary), in, inStride, m_nWidth, m_nHeight,
          [table](int r, int g, int b) { return LookupCustDropTblRGB(table, r, g, b); });
  return out;
}

namespace {

// Two pixels to a byte, the first in the high half; an odd last pixel is
// dropped.
template <class F>
unsigned char* PackFour(unsigned char* out, int stride, const unsigned char* in, int inStride, int width, int height,
                        int bytesPerPixel, F level) {
  for (int y = 0; y < height; ++y) {
    const unsigned char* p = in + static_cast<size_t>(y) * inStride;
    unsigned char* o = out + static_cast<size_t>(y) * stride;
    for (int x = 0; x + 1 < width; x += 2)
      o[x / 2] = static_cast<unsigned char>((level(p + x * bytesPerPixel) << 4) | level(p + (x + 1) * bytesPerPixel));
  }
  return out;
}

}  // namespace

unsigned char* CConv::Gray8ToGray4(unsigned char* out, const unsigned char* in, int inStride) const {
  if (!(out = GreyBuffer(out, 4))) return nullptr;
  return PackFour(out, CalcBytePerLine(m_nWidth, 4, m_nOutBoundary), in, inStride, m_nWidth, m_nHeight, 1,
                  [](const unsigned char* p) { return p[0] >> 4; });
}

unsigned char* CConv::WhiteToGray4(unsigned char* out, const unsigned char* in, int inStride) const {
  if (!(out = GreyBuffer(out, 4))) return nullptr;
  const ChannelOrder o = OrderOf(m_nColorOrder == 6 ? 6 : 1);
  const int mode = m_nWhiteMode;
  return PackFour(out, CalcBytePerLine(m_nWidth, 4, m_nOutBoundary), in, inStride, m_nWidth, m_nHeight, 3,
                  [o, mode](const unsigned char* p) {
                    const int r = p[o.r], g = p[o.g], b = p[o.b];
                    if (mode == 1) return (299 * r + 587 * g + 114 * b) / 16000;
                    if (mode == 2) return WhiteGrey(2, r, g, b) >> 4;
                    return (306 * r + 601 * g + 117 * b) >> 14;
                  });
}

unsigned char* CConv::NoneToGray4(unsigned char* out, const unsigned char* in, int inStride) const {
  if (!(out = GreyBuffer(out, 4))) return nullptr;
  return PackFour(out, CalcBytePerLine(m_nWidth, 4, m_nOutBoundary), in, inStride, m_nWidth, m_nHeight, 3,
                  [](const unsigned char* p) { return Min3(p[0], p[1], p[2]) >> 4; });
}

unsigned char* CConv::Gray8ToMono(unsigned char* out, const unsigned char* in, int inStride) const {
  if (!(out = GreyBuffer(out, 1))) return nullptr;
  const int stride = CalcBytePerLine(m_nWidth, 1, m_nOutBoundary);
  for (int y = 0; y < m_nHeight; ++y) {
    const unsigned char* p = in + static_cast<size_t>(y) * inStride;
    unsigned char* o = out + static_cast<size_t>(y) * stride;
    for (int x = 0; x < m_nWidth; ++x)
      if (p[x] >= 128) o[x / 8] = static_cast<unsigned char>(o[x / 8] | (0x80 >> (x % 8)));
  }
  return out;
}

namespace {

bool ReservedZero(const FSIP_S_IMAGEINFO* in) {
  for (unsigned char b : in->reserved)
    if (b) return false;
  return true;
}

void SetUp(CConv& conv, const FSIP_S_IMAGEINFO* in, int boundary, int whiteMode) {
  conv.SetSize(in->nWidth, in->nHeight);
  conv.SetColorOrder(in->nColorSeq);
  conv.SetBoundaryMode(boundary, boundary);
  conv.SetWhiteMode(whiteMode);
}

unsigned char* DropOut(const CConv& conv, const FSIP_S_IMAGEINFO* in, int type, const FSIP_S_SPECIFIED_DOC* doc,
                       unsigned char* buffer) {
  const unsigned char* p = in->pImageData;
  const int stride = in->nBytesPerLine;
  switch (type) {
    case 1:
      return conv.WhiteDropOut(buffer, p, stride);
    case 2:
    case 3:
    case 4:
      return conv.SingleDropOut(buffer, p, stride, type);
    case 5:
      return conv.NoneDropOut(buffer, p, stride);
    case 6:
      return conv.SpecifiedDropOut(buffer, p, stride, doc);
    default:
      return nullptr;
  }
}

// The record of a grey or bilevel result made from a colour page.
void ResultRecord(FSIP_S_IMAGEINFO* out, const FSIP_S_IMAGEINFO* in, int pixelType, int depth, int bytesPerLine) {
  out->cbSize = sizeof(FSIP_S_IMAGEINFO);
  out->nPixelType = pixelType;
  out->nDepth = depth;
  out->nColorSeq = 0;
  out->nWidth = in->nWidth;
  out->nHeight = in->nHeight;
  out->nBytesPerLine = bytesPerLine;
  out->nImageSize = bytesPerLine * in->nHeight;
  out->nXResolution = in->nXResolution;
  out->nYResolution = in->nYResolution;
  memcpy(out->reserved, in->reserved, sizeof out->reserved);
}

bool ColourPageValid(const FSIP_S_IMAGEINFO* in) { return PageFits(in) && in->nDepth == 24; }

int DropoutColorEx(FSIP_S_IMAGEINFO* in, FSIP_S_DROPOUTCOLOREX* params, FSIP_S_IMAGEINFO* out, const void* reserved) {
  if (!in || !params || reserved || !ReservedZero(in) || in->nDepth != 24 || !out || !ColourPageValid(in))
    return FSIP_C_ERR_PARAMETER;
  const int type = params->wDropoutType;
  if (type < 1 || type > 6 || (type == 6 && !params->pSpecified) || params->dwOutput > 1 ||
      (params->dwOutput == 0 && !params->pBinarization))
    return FSIP_C_ERR_PARAMETER;
  CConv conv;
  SetUp(conv, in, 1, params->sWhiteMode);
  const auto* doc = static_cast<const FSIP_S_SPECIFIED_DOC*>(params->pSpecified);
  unsigned char* grey = DropOut(conv, in, type, doc, nullptr);
  if (params->dwOutput == 1) {
    if (!grey) return type == 6 && !SpecifiedValid(doc) ? FSIP_C_ERR_PARAMETER : FSIP_C_ERR_OUTOFMEMORY;
    out->pImageData = grey;
    ResultRecord(out, in, 1, 8, in->nWidth);
    return FSIP_C_ERR_NOERROR;
  }
  if (!grey) return FSIP_C_ERR_OUTOFMEMORY;
  FSIP_S_IMAGEINFO greyPage = *in;
  greyPage.pImageData = grey;
  greyPage.nPixelType = 1;
  greyPage.nDepth = 8;
  greyPage.nColorSeq = 0;
  greyPage.nBytesPerLine = in->nWidth;
  greyPage.nImageSize = in->nWidth * in->nHeight;
  unsigned char* pixels = out->pImageData;
  ResultRecord(out, in, 0, 1,
               CConv::CalcBytePerLine(in->nWidth, 1, static_cast<int>(params->pBinarization->dwBoundary)));
  out->pImageData = pixels;
  const int rc = fsip_BinarizationEx(&greyPage, params->pBinarization, out, nullptr);
  free(grey);
  return rc;
}

int DropoutColor(FSIP_S_IMAGEINFO* in, FSIP_S_DROPOUTCOLOR* params, FSIP_S_IMAGEINFO* out, const void* reserved) {
  if (!in || !params || reserved || !ReservedZero(in) || !out || !ColourPageValid(in)) return FSIP_C_ERR_PARAMETER;
  const int type = params->dwDropoutType & 0xFFFF;
  const int whiteMode = static_cast<int16_t>(params->dwDropoutType >> 16);
  if ((type != 1 && type != 5) || params->dwOutput > 1 || (params->dwOutput == 0 && !params->pBinarization))
    return FSIP_C_ERR_PARAMETER;
  CConv conv;
  SetUp(conv, in, 4, whiteMode);
  if (params->dwOutput == 1) {
    if (!out->pImageData) return FSIP_C_ERR_PARAMETER;
    DropOut(conv, in, type, nullptr, out->pImageData);
    ResultRecord(out, in, 1, 8, CConv::CalcBytePerLine(in->nWidth, 8, 4));
    return FSIP_C_ERR_NOERROR;
  }
  unsigned char* grey = DropOut(conv, in, type, nullptr, nullptr);
  if (!grey) return FSIP_C_ERR_OUTOFMEMORY;
  FSIP_S_IMAGEINFO greyPage = *in;
  greyPage.pImageData = grey;
  greyPage.nPixelType = 1;
  greyPage.nDepth = 8;
  greyPage.nColorSeq = 0;
  greyPage.nBytesPerLine = CConv::CalcBytePerLine(in->nWidth, 8, 4);
  greyPage.nImageSize = greyPage.nBytesPerLine * in->nHeight;
  unsigned char* pixels = out->pImageData;
  ResultRecord(out, in, 0, 1,
               CConv::CalcBytePerLine(in->nWidth, 1, static_cast<int>(params->pBinarization->dwBoundary)));
  out->pImageData = pixels;
  const int rc = fsip_Binarization(&greyPage, params->pBinarization, out, nullptr);
  free(grey);
  return rc;
}

int FourBitGray(FSIP_S_IMAGEINFO* in, const uint32_t* typeWord, FSIP_S_IMAGEINFO* out, const void* reserved) {
  if (!in || !typeWord || reserved || !ReservedZero(in) || !out || !PageFits(in)) return FSIP_C_ERR_PARAMETER;
  const int type = *typeWord & 0xFFFF;
  CConv conv;
  SetUp(conv, in, 4, static_cast<int16_t>(*typeWord >> 16));
  unsigned char* (CConv::*reduce)(unsigned char*, const unsigned char*, int) const = nullptr;
  if (in->nDepth == 8)
    reduce = &CConv::Gray8ToGray4;
  else if (in->nDepth == 24 && type == 1)
    reduce = &CConv::WhiteToGray4;
  else if (in->nDepth == 24 && type == 5)
    reduce = &CConv::NoneToGray4;
  else
    return FSIP_C_ERR_PARAMETER;
  unsigned char* pixels = (conv.*reduce)(out->pImageData, in->pImageData, in->nBytesPerLine);
  if (!pixels) return FSIP_C_ERR_OUTOFMEMORY;
  out->pImageData = pixels;
  ResultRecord(out, in, 1, 4, CConv::CalcBytePerLine(in->nWidth, 4, 4));
  return FSIP_C_ERR_NOERROR;
}

}  // namespace

FSIP_EXPORT int fsip_DropoutColorEx(FSIP_S_IMAGEINFO* in, FSIP_S_DROPOUTCOLOREX* params, FSIP_S_IMAGEINFO* out,
                                    const void* reserved) {
  return FsipGuarded([&] { return DropoutColorEx(in, params, out, reserved); });
}

FSIP_EXPORT int fsip_DropoutColor(FSIP_S_IMAGEINFO* in, FSIP_S_DROPOUTCOLOR* params, FSIP_S_IMAGEINFO* out,
                                  const void* reserved) {
  return FsipGuarded([&] { return DropoutColor(in, params, out, reserved); });
}

FSIP_EXPORT int fsip_4bitGray(FSIP_S_IMAGEINFO* in, const uint32_t* typeWord, FSIP_S_IMAGEINFO* out,
                              const void* reserved) {
  return FsipGuarded([&] { return FourBitGray(in, typeWord, out, reserved); });
}
