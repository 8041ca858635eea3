// The page filters' working class: the geometry of the page in hand and the
// filters that read it. Every entry builds one on its own stack.
#ifndef DRAVN_IMGFORGE_FILTERS_CONV_H
#define DRAVN_IMGFORGE_FILTERS_CONV_H

#include <cstddef>
#include <cstdint>
#include <new>

#include "fsip_records.h"

#define FSIP_EXPORT extern "C" __attribute__((visibility("default")))

// Result codes the filters use besides those of the records header.
constexpr int kFsipErrPixelType = -3;

// Process-wide words of the bilevel filters: the padding flag that every
// binarization call sets from its record, and the white-level debug count.
extern int g_nBinPadding;
extern long g_lWhiteLvDebug;

class CConv {
 public:
  CConv() = default;

  void SetSize(int width, int height);
  int SetWhiteMode(int mode) { return m_nWhiteMode = mode, 0; }
  int SetColorOrder(int order) { return m_nColorOrder = order, 0; }
  void SetBoundaryMode(int out, int in) { m_nOutBoundary = out, m_nInBoundary = in; }
  static int CalcBytePerLine(int width, int bits, int boundary);
  static int CompScanner(const char* name, const char* const* list);
  int GetScannerType(const char* name) const;

  // Luminance split and merge around the area filters of a colour page.
  int ConvertRGBtoYUVonlyY(FSIP_S_IMAGEINFO* info, unsigned char* plane) const;
  int ConvertYUVtoRGBonlyY(FSIP_S_IMAGEINFO* info, const unsigned char* plane, int width, int height) const;
  int ConvertRGBtoYUV(const FSIP_S_IMAGEINFO* info, unsigned char* y, unsigned char* u, unsigned char* v) const;
  int ConvertYUVtoRGB(const unsigned char* y, const unsigned char* u, const unsigned char* v,
                      FSIP_S_IMAGEINFO* info) const;

  // Tone table pass.
  int Gamma(FSIP_S_IMAGEINFO* image, const FSIP_S_GAMMA* gamma) const;

  // Area filters on an 8-bit plane.
  int WhiteLvFollow(FSIP_S_IMAGEINFO* in, const FSIP_S_WHITELVFOLLOW* params, FSIP_S_IMAGEINFO* out) const;
  int ImageEmphasis(FSIP_S_IMAGEINFO* in, const FSIP_S_IMAGEEMPHASIS* params, FSIP_S_IMAGEINFO* out) const;
  int PreImageEmphasis(FSIP_S_IMAGEINFO* in, const FSIP_S_IMAGEEMPHASIS* params, FSIP_S_IMAGEINFO* out) const;
  int ImageAreaSeparateJudge(const FSIP_S_IMAGEINFO* in, unsigned char* labels) const;
  int SelectEmphasize(FSIP_S_IMAGEINFO* in, const FSIP_S_SELECTEMPHA* params, FSIP_S_IMAGEINFO* out) const;

  // Grey to one bit per pixel; the output's width and height rule.
  int FixThreshold(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, int threshold) const;
  int Dither(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const unsigned char* matrix) const;
  int ErrorDiffusion(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_ERROR_DIFFUSION* ed,
                     bool newStyle) const;
  int ErrorDiffusionWide(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_ERROR_DIFFUSION* ed) const;
  int SimpleDTC(const FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEINFO* out, const FSIP_S_SDTCEX* dtc,
                const unsigned char* toneBlock, bool highResolution, bool newStyle) const;

  // Colour to grey; a null output buffer is allocated (freed with free).
  // The input lines are inStride bytes apart.
  unsigned char* WhiteDropOut(unsigned char* out, const unsigned char* in, int inStride) const;
  unsigned char* SingleDropOut(unsigned char* out, const unsigned char* in, int inStride, int type) const;
  unsigned char* NoneDropOut(unsigned char* out, const unsigned char* in, int inStride) const;
  unsigned char* SpecifiedDropOut(unsigned char* out, const unsigned char* in, int inStride,
                                  const FSIP_S_SPECIFIED_DOC* doc) const;
  unsigned char* Gray8ToGray4(unsigned char* out, const unsigned char* in, int inStride) const;
  unsigned char* WhiteToGray4(unsigned char* out, const unsigned char* in, int inStride) const;
  unsigned char* NoneToGray4(unsigned char* out, const unsigned char* in, int inStride) const;
  unsigned char* Gray8ToMono(unsigned char* out, const unsigned char* in, int inStride) const;

  int m_nWhiteMode = 0;
  int m_nOutBoundary = 0;
  int m_nInBoundary = 0;
  int m_nColorOrder = 0;
  int m_nHeight = 0;
  int m_nWidth = 0;
  int m_nScannerType = 0;

 private:
  unsigned char* GreyBuffer(unsigned char* out, int bits) const;
};

// 1 when some entry of the null-ended list is a prefix of name, else 0.
int CompScanner(const char* name, const char* const* list);

int LookupCustDropTblRGB(const unsigned char* table, int r, int g, int b);
int LookupCustDropTblYUV(const unsigned char* table, int y, int cb, int cr);

// Byte positions of red, green and blue in a 24-bit pixel of a colour order.
struct ChannelOrder {
  int r, g, b;
};
ChannelOrder OrderOf(int colorSeq);

// A record's page is readable as it describes itself: positive size, lines
// long enough for the width at that depth, and a size that holds them.
bool PageFits(const FSIP_S_IMAGEINFO* info);

// The record fields that a filter result takes from its input.
void FillFrom(FSIP_S_IMAGEINFO* out, const FSIP_S_IMAGEINFO* in);

// No exception crosses an entry: memory shortage is -1, anything else -5.
template <class F>
int FsipGuarded(F body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  } catch (...) {
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  }
}

inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

extern "C" {
int fsip_ImageFilter(FSIP_S_IMAGEINFO* in, FSIP_S_IMAGEFILTER* options, FSIP_S_IMAGEINFO* out, const void* reserved);
int fsip_BinarizationEx(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATIONEX* params, FSIP_S_IMAGEINFO* out, void* reserved);
int fsip_Binarization(FSIP_S_IMAGEINFO* in, FSIP_S_BINARIZATION* params, FSIP_S_IMAGEINFO* out, void* reserved);
}

#endif
