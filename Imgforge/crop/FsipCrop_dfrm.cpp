// The analysis work image, record conversions, the clip around the page
// and the final rotate-and-cut into the caller's output image.
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FsipCrop.h"

namespace fsipcrop {

int32_t gnShdwAGapX, gnShdwAGapY, gnShdwBGapX, gnShdwBGapY;
int32_t gnDupCrpGapSliceX, gnDupCrpGapSliceY, gnDupCrpBigRhGap, gnDupCrpBigThGap;

namespace {

constexpr double kPi = 3.141592654;
constexpr int64_t kHugeFrom = int64_t(4) << 20;

int BytesPerLine(int bits, int width) { return static_cast<int>((static_cast<int64_t>(bits) * width + 7) / 8); }

// A zero-filled pixel buffer for `img`'s geometry; false when it does not
// fit in the record's 32-bit size.
bool AllocPixels(_P2IIMG* img, uint8_t fill) {
  const int64_t bpl = (static_cast<int64_t>(img->nBitsPerPixel) * img->nWidth + 7) / 8;
  const int64_t size = bpl * img->nHeight;
  img->pImageData = nullptr;
  if (img->nWidth <= 0 || img->nHeight <= 0 || bpl > INT32_MAX || size > INT32_MAX) return false;
  img->nBytesPerLine = static_cast<int32_t>(bpl);
  img->nImageSize = static_cast<int32_t>(size);
  img->pImageData =
      static_cast<uint8_t*>(fill ? malloc(static_cast<size_t>(size)) : calloc(static_cast<size_t>(size), 1));
  if (!img->pImageData) return false;
  // A page-sized buffer is touched once from end to end: backed by huge
  // pages where the kernel offers them, it faults once per 2 MiB.
  if (size >= kHugeFrom) {
    const uintptr_t start = (reinterpret_cast<uintptr_t>(img->pImageData) + 4095) & ~uintptr_t(4095);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(img->pImageData) + static_cast<size_t>(size)) & ~uintptr_t(4095);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // advice only
  }
  if (fill) std::memset(img->pImageData, fill, static_cast<size_t>(size));
  return true;
}

// Every other pixel of a row, `w` of them.
void HalveRow(const uint8_t* s, uint8_t* d, int w, int ch) {
  if (ch == 1) {
    for (int x = 0; x < w; ++x) d[x] = s[2 * x];
  } else {
    for (int x = 0; x < w; ++x) {
      d[3 * x] = s[6 * x];
      d[3 * x + 1] = s[6 * x + 1];
      d[3 * x + 2] = s[6 * x + 2];
    }
  }
}

// Work image scaled from `in` by its x resolution; `in` itself at 150-300 dpi.
int ScaleForAnalysis(const _P2IIMG* in, _P2IIMG* work, double* scale, int* allocated) {
  *work = *in;
  *allocated = 0;
  const int r = in->nXResolution;
  if (r < 50) return FSIP_C_ERR_UNEXPECTED_ERROR;
  if (r >= 150 && r <= 300) {
    *scale = 1;
    return 0;
  }
  const int ch = in->nBitsPerPixel / 8;
  if (r < 150) {
    const int f = r < 75 ? 4 : 2;
    work->nWidth = in->nWidth * f;
    work->nHeight = in->nHeight * f;
    work->nXResolution = in->nXResolution * f;
    work->nYResolution = in->nYResolution * f;
    if (!AllocPixels(work, 0)) return FSIP_C_ERR_OUTOFMEMORY;
    *scale = f;
    *allocated = 1;
    if (f == 4) {
      ExpandImgBy4Times(in, work);
      return 0;
    }
    for (int y = 0; y < in->nHeight; ++y) {
      const uint8_t* s = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
      uint8_t* d = work->pImageData + static_cast<size_t>(2 * y) * work->nBytesPerLine;
      for (int x = 0; x < in->nWidth; ++x)
        for (int c = 0; c < ch; ++c) d[(2 * x) * ch + c] = d[(2 * x + 1) * ch + c] = s[x * ch + c];
      std::memcpy(d + work->nBytesPerLine, d, static_cast<size_t>(work->nBytesPerLine));
    }
    return 0;
  }
  work->nWidth = (in->nWidth + 1) / 2;
  work->nHeight = (in->nHeight + 1) / 2;
  work->nXResolution = in->nXResolution >> 1;
  work->nYResolution = in->nYResolution >> 1;
  if (!AllocPixels(work, 0)) return FSIP_C_ERR_OUTOFMEMORY;
  *scale = 0.5;
  *allocated = 1;
  for (int y = 0; y < work->nHeight; ++y)
    HalveRow(in->pImageData + static_cast<size_t>(2 * y) * in->nBytesPerLine,
             work->pImageData + static_cast<size_t>(y) * work->nBytesPerLine, work->nWidth, ch);
  return 0;
}

struct Box {
  int64_t left, top, right, bottom;
};

// Copies the rows and columns of `in` that fall in `box` into a new image.
int CopyBox(const _P2IIMG* in, const Box& b, _P2IIMG* out) {
  // A box reaching further out than the page's own diagonal beyond the
  // input is no page of this image: the lines are unusable.
  const int64_t diag = GetDiagonalLength(in);
  if (b.left < -diag || b.top < -diag || b.right > in->nWidth - 1 + diag || b.bottom > in->nHeight - 1 + diag ||
      b.right < b.left || b.bottom < b.top)
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  *out = *in;
  const int64_t w = b.right - b.left + 1, h = b.bottom - b.top + 1;
  if (w > INT32_MAX || h > INT32_MAX) return FSIP_C_ERR_UNEXPECTED_ERROR;
  out->nWidth = static_cast<int32_t>(w);
  out->nHeight = static_cast<int32_t>(h);
  if (!AllocPixels(out, gbInv ? 255 : 0)) return FSIP_C_ERR_OUTOFMEMORY;
  const int64_t px = in->nBitsPerPixel / 8;
  const int64_t dstSkip = b.left < 0 ? -b.left * px : 0, srcSkip = b.left > 0 ? b.left * px : 0;
  const int64_t n = std::min<int64_t>(out->nBytesPerLine - dstSkip, in->nBytesPerLine - srcSkip);
  for (int64_t j = std::max<int64_t>(b.top, 0); j <= b.bottom && j < in->nHeight; ++j) {
    if (n <= 0) break;
    std::memcpy(out->pImageData + static_cast<size_t>(j - b.top) * out->nBytesPerLine + dstSkip,
                in->pImageData + static_cast<size_t>(j) * in->nBytesPerLine + srcSkip, static_cast<size_t>(n));
  }
  return 0;
}

bool Corners(const _STRTLINE* l, tagPOINT* c) {
  return GetXPt(l[0], l[1], &c[0]) && GetXPt(l[0], l[3], &c[1]) && GetXPt(l[2], l[1], &c[2]) &&
         GetXPt(l[2], l[3], &c[3]);
}

Box BoxOf(const tagPOINT* s) {  // s sorted TL, BL, BR, TR, rows down
  return {std::min(s[0].x, s[1].x), std::min(s[0].y, s[3].y), std::max(s[2].x, s[3].x), std::max(s[1].y, s[2].y)};
}

}  // namespace

void FsipII2P2iII(const FSIP_S_IMAGEINFO_EX* in, _P2IIMG* out) {
  out->pImageData = in->pImageData;
  out->nBitsPerPixel = in->nDepth;
  out->nColorOrder = in->nPixelType == 2 && in->nColorSeq == 6 ? 1 : 0;
  out->nWidth = in->nWidth;
  out->nHeight = in->nHeight;
  out->nBytesPerLine = in->nBytesPerLine;
  out->nImageSize = in->nImageSize;
  out->nXResolution = in->nXResolution;
  out->nYResolution = in->nYResolution;
  out->nLeft = 0;
  out->nTop = 0;
  out->nRight = in->nWidth - 1;
  out->nBottom = in->nHeight - 1;
}

void P2iII2FsipII(const _P2IIMG* in, FSIP_S_IMAGEINFO_EX* out) {
  out->cbSize = 76;
  out->nDepth = in->nBitsPerPixel;
  if (in->nBitsPerPixel == 24) {
    out->nPixelType = 2;
    out->nColorSeq = in->nColorOrder == 1 ? 6 : 1;
  } else {
    out->nPixelType = in->nBitsPerPixel == 8 ? 1 : 0;
    out->nColorSeq = 0;
  }
  out->nWidth = in->nWidth;
  out->nHeight = in->nHeight;
  out->nBytesPerLine = in->nBytesPerLine;
  out->nImageSize = in->nImageSize;
  out->nXResolution = in->nXResolution;
  out->nYResolution = in->nYResolution;
}

int OutImageP2iII2FsipII(const _P2IIMG* in, FSIP_S_IMAGEINFO_EX* out) {
  if (out->nBytesPerLine <= 0 || out->nImageSize <= 0) return FSIP_C_ERR_PARAMETER;
  if (out->nBytesPerLine == in->nBytesPerLine && out->nImageSize >= in->nImageSize) {
    std::memcpy(out->pImageData, in->pImageData, static_cast<size_t>(in->nImageSize));
    return 0;
  }
  const int rows = std::min(out->nHeight, in->nHeight), n = std::min(out->nBytesPerLine, in->nBytesPerLine);
  for (int r = 0; r < rows; ++r)
    std::memcpy(out->pImageData + static_cast<size_t>(r) * out->nBytesPerLine,
                in->pImageData + static_cast<size_t>(r) * in->nBytesPerLine, static_cast<size_t>(n));
  return 0;
}

int dfrmSPCtoALL(const FSIP_CRPWB_S_SPECIFIEDAREA_CRP* in, FSIP_CRPWB_S_CRPALL* out) {
  out->cbSize = 98;
  out->dwFuncFlag = in->dwFuncFlag;
  out->wAccPH = in->wAccPH;
  out->dwHoleRemoveType = in->dwHoleRemoveType;
  out->bADF = in->bADF;
  out->wBlackBkThreshold = in->wBlackBkThreshold;
  out->NotifyOutImgInfo = in->NotifyOutImgInfo;
  out->byTransferDataType = in->byTransferDataType;
  out->bySide = in->bySide;
  out->sOVS = in->sOVS;
  out->pbySendData = in->pbySendData;
  return 1;
}

int GetImg4Anlz(const _P2IIMG* in, _P2IIMG* work, double* scale, int* allocated) {
  return ScaleForAnalysis(in, work, scale, allocated);
}

namespace {

// The padded work image of the paper-position analysis, kept from call to
// call: a colour page's copy is large, and memory the process already holds
// costs no page faults and no zeroing by the kernel. The engine's analysis
// entries run one at a time (their tuning is process-wide).
struct KeptWork {
  uint8_t* data = nullptr;
  size_t size = 0;
  ~KeptWork() { free(data); }
  uint8_t* Take(size_t n) {
    if (n > size) {
      free(data);
      size = 0;
      data = static_cast<uint8_t*>(malloc(n));
      if (!data) return nullptr;
      size = n;
    }
    return data;
  }
};
KeptWork gKeptWork;

}  // namespace

int GetImg4Anlz4Krnk(const _P2IIMG* in, _P2IIMG* work, double* scale, int* allocated) {
  _P2IIMG scaled;
  int owned = 0;
  // A page above 300 dpi is halved straight into the work image.
  const bool halve = in->nXResolution > 300;
  if (halve) {
    scaled = *in;
    scaled.nWidth = (in->nWidth + 1) / 2;
    scaled.nHeight = (in->nHeight + 1) / 2;
    scaled.nXResolution = in->nXResolution >> 1;
    scaled.nYResolution = in->nYResolution >> 1;
    *scale = 0.5;
  } else {
    const int rc = ScaleForAnalysis(in, &scaled, scale, &owned);
    if (rc) return rc;
  }
  *work = scaled;
  work->nWidth = scaled.nWidth + 160;
  work->nHeight = scaled.nHeight + 160;
  const int64_t bpl = (static_cast<int64_t>(work->nBitsPerPixel) * work->nWidth + 7) / 8;
  const int64_t size = bpl * work->nHeight;
  work->pImageData = bpl > INT32_MAX || size > INT32_MAX ? nullptr : gKeptWork.Take(static_cast<size_t>(size));
  if (!work->pImageData) {
    if (owned) free(scaled.pImageData);
    return FSIP_C_ERR_OUTOFMEMORY;
  }
  work->nBytesPerLine = static_cast<int32_t>(bpl);
  work->nImageSize = static_cast<int32_t>(size);
  // The backing around the page: 128 pixels above and left, 32 below and
  // right; the page's own pixels are written once, over nothing.
  const uint8_t fill = gbInv ? 255 : 0;
  const size_t px = static_cast<size_t>(scaled.nBitsPerPixel / 8), row = static_cast<size_t>(bpl);
  const size_t left = 128 * px, body = px * static_cast<size_t>(scaled.nWidth);
  uint8_t* d = work->pImageData;
  std::memset(d, fill, 128 * row);
  for (int y = 0; y < scaled.nHeight; ++y) {
    uint8_t* r = d + static_cast<size_t>(y + 128) * row;
    std::memset(r, fill, left);
    if (halve)
      HalveRow(in->pImageData + static_cast<size_t>(2 * y) * in->nBytesPerLine, r + left, scaled.nWidth,
               static_cast<int>(px));
    else
      std::memcpy(r + left, scaled.pImageData + static_cast<size_t>(y) * scaled.nBytesPerLine, body);
    std::memset(r + left + body, fill, row - left - body);
  }
  std::memset(d + static_cast<size_t>(scaled.nHeight + 128) * row, fill, 32 * row);
  if (owned) free(scaled.pImageData);
  *allocated = 0;
  return 0;
}

void ExpandImgBy4Times(const _P2IIMG* src, _P2IIMG* dst) {
  const int ch = src->nBitsPerPixel / 8, w = src->nWidth, h = src->nHeight;
  auto expandRow = [&](const uint8_t* s, uint8_t* d) {
    for (int i = 0; i < w; ++i)
      for (int c = 0; c < ch; ++c) {
        int a = s[i * ch + c];
        int b = w == 1 ? a : (i + 1 < w ? s[(i + 1) * ch + c] : s[(i - 1) * ch + c]);
        for (int k = 0; k < 4; ++k) d[(4 * i + k) * ch + c] = static_cast<uint8_t>((k * b + (4 - k) * a) >> 2);
      }
  };
  auto row = [&](int r) { return dst->pImageData + static_cast<size_t>(r) * dst->nBytesPerLine; };
  for (int j = 0; j < h; ++j) expandRow(src->pImageData + static_cast<size_t>(j) * src->nBytesPerLine, row(4 * j));
  const size_t bytes = static_cast<size_t>(4 * w * ch);
  for (int j = 0; j < h; ++j) {
    const uint8_t* upper = row(4 * j);
    const uint8_t* lower = j + 1 < h ? row(4 * (j + 1)) : (h == 1 ? upper : row(4 * (j - 1)));
    for (int k = 1; k <= 3; ++k) {
      uint8_t* d = row(4 * j + k);
      for (size_t b = 0; b < bytes; ++b) d[b] = static_cast<uint8_t>((k * lower[b] + (4 - k) * upper[b]) >> 2);
    }
  }
}

void ConvBW2Gray(const _P2IIMG* src, _P2IIMG* dst) {
  for (int y = 0; y < src->nHeight; ++y) {
    const uint8_t* s = src->pImageData + static_cast<size_t>(y) * src->nBytesPerLine;
    uint8_t* d = dst->pImageData + static_cast<size_t>(y) * dst->nBytesPerLine;
    for (int x = 0; x < src->nWidth; ++x) d[x] = (s[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
  }
}

void ConvGray2BW(const _P2IIMG* src, _P2IIMG* dst) {
  const int w = std::min(src->nWidth, dst->nWidth), h = std::min(src->nHeight, dst->nHeight);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src->pImageData + static_cast<size_t>(y) * src->nBytesPerLine;
    uint8_t* d = dst->pImageData + static_cast<size_t>(y) * dst->nBytesPerLine;
    for (int x = 0; x < w; ++x) {
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      if (s[x] > 128)
        d[x >> 3] |= bit;
      else
        d[x >> 3] &= static_cast<uint8_t>(~bit);
    }
  }
}

namespace {

// The box as a clip: with `owned`, a box inside the input shares its
// pixels and rows (nothing to fill); otherwise an allocated copy.
int ViewOrCopyBox(const _P2IIMG* in, const Box& b, _P2IIMG* out, bool* owned) {
  if (owned && b.left >= 0 && b.top >= 0 && b.right < in->nWidth && b.bottom < in->nHeight) {
    *out = *in;
    out->pImageData = in->pImageData + static_cast<size_t>(b.top) * in->nBytesPerLine +
                      static_cast<size_t>(b.left) * (in->nBitsPerPixel / 8);
    out->nWidth = static_cast<int32_t>(b.right - b.left + 1);
    out->nHeight = static_cast<int32_t>(b.bottom - b.top + 1);
    out->nImageSize = static_cast<int32_t>(static_cast<int64_t>(in->nBytesPerLine) * (out->nHeight - 1) +
                                           static_cast<int64_t>(out->nWidth) * (in->nBitsPerPixel / 8));
    *owned = false;
    return 0;
  }
  const int rc = CopyBox(in, b, out);
  if (!rc && owned) *owned = true;
  return rc;
}

int ClipWhole(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, int* dx, int* dy, bool* owned) {
  tagPOINT c[4];
  if (!Corners(lines, c)) return FSIP_C_ERR_UNEXPECTED_ERROR;
  for (auto& p : c) p.y = -p.y;
  SortXPts(c);
  const Box b = BoxOf(c);
  const int rc = ViewOrCopyBox(in, b, out, owned);
  if (rc) return rc;
  *dx = static_cast<int>(b.left);
  *dy = static_cast<int>(-b.top);
  return 0;
}

// The double form; `view` lets a box inside the input share its pixels.
int ClipExact(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, double* dx, double* dy, bool* owned) {
  _ACCPT exact[4];
  if (!GetXPt(lines[0], lines[1], &exact[0]) || !GetXPt(lines[0], lines[3], &exact[1]) ||
      !GetXPt(lines[2], lines[1], &exact[2]) || !GetXPt(lines[2], lines[3], &exact[3]))
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  tagPOINT rounded[4], sorted[4];
  for (int i = 0; i < 4; ++i) rounded[i] = sorted[i] = {RoundHalfAway(exact[i].dX), -RoundHalfAway(exact[i].dY)};
  SortXPts(sorted);
  int conv[4];
  MakeConvList(sorted, rounded, conv);
  const Box b = BoxOf(sorted);
  const int rc = ViewOrCopyBox(in, b, out, owned);
  if (rc) return rc;
  auto at = [&](int k) { return exact[conv[k] < 4 ? conv[k] : k]; };
  *dx = sorted[1].x < sorted[0].x ? at(1).dX : at(0).dX;
  *dy = sorted[3].y < sorted[0].y ? at(3).dY : at(0).dY;
  return 0;
}

}  // namespace

int ClipOuterFrame(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, int* dx, int* dy) {
  return ClipWhole(in, lines, out, dx, dy, nullptr);
}

int ClipOuterFrameView(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, int* dx, int* dy, bool* owned) {
  return ClipWhole(in, lines, out, dx, dy, owned);
}

int ClipOuterFrame(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, double* dx, double* dy) {
  return ClipExact(in, lines, out, dx, dy, nullptr);
}

int ClipOuterFrameView(const _P2IIMG* in, const _STRTLINE* lines, _P2IIMG* out, double* dx, double* dy,
                       bool* owned) {
  return ClipExact(in, lines, out, dx, dy, owned);
}

int CropImg(const _P2IIMG* in, const _STRTLINE* lines, double skew, int toMono, const FSIP_CRP_S_CRPALL* rec,
            FSIP_S_IMAGEINFO_EX* out, void* user) {
  _ACCPT exact[4];
  if (!GetXPt(lines[0], lines[1], &exact[0]) || !GetXPt(lines[0], lines[3], &exact[1]) ||
      !GetXPt(lines[2], lines[1], &exact[2]) || !GetXPt(lines[2], lines[3], &exact[3]))
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  const double cs = std::cos(skew), sn = std::sin(skew);
  tagPOINT c[4], turned[4];
  _ACCPT turnedExact[4];
  for (int i = 0; i < 4; ++i) {
    const tagPOINT p{RoundHalfAway(exact[i].dX), RoundHalfAway(exact[i].dY)};
    const double x = static_cast<double>(p.x), y = static_cast<double>(p.y);
    c[i] = turned[i] = {RoundHalfAway(x * cs - y * sn), -RoundHalfAway(x * sn + y * cs)};
    turnedExact[i] = {exact[i].dX * cs - exact[i].dY * sn, -(exact[i].dX * sn + exact[i].dY * cs)};
  }
  SortXPts(c);
  const tagPOINT TL = c[0], BR = c[2];
  // The source position of the page's top-left corner is taken from the
  // unrounded crossing: rounding it twice (turned, then turned back) shifts
  // the whole page by up to a pixel and a half and leaves a strip of
  // backing along two sides.
  _ACCPT tl{static_cast<double>(TL.x), static_cast<double>(TL.y)};
  for (int i = 0; i < 4; ++i)
    if (turned[i].x == TL.x && turned[i].y == TL.y) {
      tl = turnedExact[i];
      break;
    }
  const double X0 = tl.dX * cs - tl.dY * sn, Y0 = -tl.dX * sn - tl.dY * cs;
  int64_t w = BR.x - TL.x, h = BR.y - TL.y;
  if (gnLayoutW != -1) w = gnLayoutW;
  if (gnLayoutH != -1) h = gnLayoutH;
  if (w <= 0 || h <= 0 || w > INT32_MAX / 24 || h > INT32_MAX) return FSIP_C_ERR_UNEXPECTED_ERROR;

  _P2IIMG grey = *in;  // the rotated page in the input's depth
  grey.nWidth = static_cast<int32_t>(w);
  grey.nHeight = static_cast<int32_t>(h);
  if ((static_cast<int64_t>(BytesPerLine(in->nBitsPerPixel, grey.nWidth)) * h) > INT32_MAX)
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  grey.nBytesPerLine = BytesPerLine(in->nBitsPerPixel, grey.nWidth);
  grey.nImageSize = grey.nBytesPerLine * grey.nHeight;

  // Announces `img` through the callback and takes back the buffer and the
  // geometry the callback settled on.
  auto announce = [&](_P2IIMG* img) -> int {
    const int32_t askedW = img->nWidth, askedH = img->nHeight;
    P2iII2FsipII(img, out);
    out->pImageData = nullptr;
    out->nPixelFlavor = gbInv ? 1 : 0;
    int rc = rec->NotifyOutImgInfo(out, user);
    if (rc) return rc;
    rc = checkImageinfoEx(out);
    if (rc) return rc;
    // The geometry must still describe the pixels we are about to write.
    if (out->nDepth != img->nBitsPerPixel || out->nWidth < askedW || out->nHeight < askedH)
      return FSIP_C_ERR_UNEXPECTED_ERROR;
    if (out->nWidth > askedW || out->nHeight > askedH)
      std::memset(out->pImageData, gbInv ? 255 : 0, static_cast<size_t>(out->nImageSize));
    FsipII2P2iII(out, img);
    img->nWidth = askedW;
    img->nHeight = askedH;
    return 0;
  };

  int rc = 0;
  if (!toMono) {
    rc = announce(&grey);
    if (rc) return rc;
  } else {
    grey.pImageData = static_cast<uint8_t*>(calloc(static_cast<size_t>(grey.nImageSize), 1));
    if (!grey.pImageData) return FSIP_C_ERR_OUTOFMEMORY;
  }
  const double deg = -skew * 180 / kPi;
  const double sx = X0, sy = -Y0;
  const bool ok = in->nBitsPerPixel == 24 ? p2iRotate12_Color(in, &grey, deg, sx, sy)
                                          : p2iRotate12_Gray(in, &grey, deg, sx, sy);
  if (!ok) {
    if (toMono) free(grey.pImageData);
    return kRotateFailed;
  }
  if (toMono) {
    _P2IIMG mono = grey;
    mono.pImageData = nullptr;
    mono.nBitsPerPixel = 1;
    mono.nColorOrder = 0;
    mono.nBytesPerLine = BytesPerLine(1, mono.nWidth);
    mono.nImageSize = mono.nBytesPerLine * mono.nHeight;
    rc = announce(&mono);
    if (!rc) ConvGray2BW(&grey, &mono);
    free(grey.pImageData);
  }
  return rc;
}

int CarriageWhiteCheck(_P2IIMG* img) {
  if (!img->pImageData || img->nHeight < 2) return 0;
  const int ch = img->nBitsPerPixel == 24 ? 3 : 1;
  auto white = [&](int row, int x) {
    const uint8_t* p = img->pImageData + static_cast<size_t>(row) * img->nBytesPerLine + static_cast<size_t>(x) * ch;
    for (int c = 0; c < ch; ++c)
      if (p[c] < 240) return false;
    return true;
  };
  int top = img->nHeight;
  while (top > 0 && white(top - 1, 0)) --top;
  if (top == 0 || top == img->nHeight) return 1;
  for (int r = top; r < img->nHeight; ++r) {
    bool all = true;
    for (int x = 0; x < img->nWidth && all; ++x) all = white(r, x);
    if (all) {
      img->nHeight = r;
      img->nImageSize = r * img->nBytesPerLine;
      break;
    }
  }
  return 1;
}

int StrSpaceCheck(char* s) {
  if (!s) return 0;
  size_t n = std::strlen(s);
  while (n > 0 && s[n - 1] == ' ') s[--n] = '\0';
  return 1;
}

void LoadDupGaps(const char*, int* a, int* b, int* c, int* d) { *a = *b = *c = *d = 0; }

void LoadDupGapSliceParam(const char*, int* a, int* b, int* c, int* d) {
  *a = 30;
  *b = 30;
  *c = 30;
  *d = 10;
}

void LoadFbParam(const char*, uint16_t* searchWidth, uint16_t* ignoreLength) {
  if (*searchWidth == 0xFFFF) *searchWidth = 22;
  if (*ignoreLength == 0xFFFF) *ignoreLength = 0;
  if (*searchWidth & 0x8000) *searchWidth = 0;
  if (*ignoreLength & 0x8000) *ignoreLength = 0;
}

void LoadCustomParam(const char*, int* value) { *value = 0; }

void GetCurrGaps(int resA, int* ax, int* ay, int resB, int* bx, int* by) {
  auto px = [](int gap, int res) { return static_cast<int>(gap / 10.0 * res / 25.4); };
  *ax = px(gnShdwAGapX, resA);
  *ay = px(gnShdwAGapY, resA);
  *bx = px(gnShdwBGapX, resB);
  *by = px(gnShdwBGapY, resB);
}

}  // namespace fsipcrop
