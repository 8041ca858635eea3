// The Brenna colour-fringe filter: RGB to YUV, a 5 x 5 smoothing of the two
// chroma planes, and back, all in integer arithmetic.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "brenna_scan_func.h"
#include "log.h"

namespace {

inline unsigned char Clamp(int v) { return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

namespace {

// The conversion tables are linear in the byte value: their entries are
// computed in place (in and out may be the same row). A pixel's three bytes
// are read before they are written and no other pixel's are touched, so
// the loops vectorise even when in and out are the same row.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void RowRGB2YUV(const unsigned char* s,
                                                                                    unsigned char* d, int width) {
#pragma GCC ivdep
  for (int x = 0; x < width; ++x) {
    const int r = s[3 * x], g = s[3 * x + 1], b = s[3 * x + 2];
    d[3 * x] = static_cast<unsigned char>((77 * r + 150 * g + 29 * b) >> 8);
    d[3 * x + 1] = static_cast<unsigned char>(((128 * b - 43 * r - 85 * g - 32768) >> 8));
    d[3 * x + 2] = static_cast<unsigned char>(((128 * r - 107 * g - 21 * b - 32768) >> 8));
  }
}

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void RowYUV2RGB(const unsigned char* s,
                                                                                    unsigned char* d, int width) {
#pragma GCC ivdep
  for (int x = 0; x < width; ++x) {
    const int Y = 256 * s[3 * x], u = s[3 * x + 1] - 128, v = s[3 * x + 2] - 128;
    d[3 * x] = Clamp((Y + 360 * v) >> 8);
    d[3 * x + 1] = Clamp((Y - 88 * u - 184 * v) >> 8);
    d[3 * x + 2] = Clamp((Y + 455 * u) >> 8);
  }
}

}  // namespace

void CBrennaScanFunc::ConvRGB2YUV(const _P2IIMG* in, _P2IIMG* out) {
  for (int y = 0; y < in->nHeight; ++y)
    RowRGB2YUV(in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine,
               out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine, in->nWidth);
}

void CBrennaScanFunc::ConvYUV2RGB(const _P2IIMG* in, _P2IIMG* out) {
  for (int y = 0; y < in->nHeight; ++y)
    RowYUV2RGB(in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine,
               out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine, in->nWidth);
}

// Each window reads the pixels as they stand when it is visited: with `out`
// over `in`'s own buffer the rows above and the pixels to the left are
// already smoothed. The window's weights (127 inside, 22 at the four
// corners) are normalised by their sum, so that a flat chroma stays as it
// is: grey and white pages keep their colour.
namespace {

constexpr int kWeightSum = 21 * 127 + 4 * 22;  // 2755

inline unsigned char Smoothed(int all, int corners) {
  return static_cast<unsigned char>((127 * all - 105 * corners + kWeightSum / 2) / kWeightSum);
}

}  // namespace

namespace {

// One chroma channel of one pixel, from scratch: every window position read
// through clamped coordinates.
inline unsigned char WindowAt(const unsigned char* const rows[5], const int* C, int x, int o) {
  int all = 0;
  for (int k = 0; k < 5; ++k) {
    const unsigned char* r = rows[k];
    all += r[C[x - 2] + o] + r[C[x - 1] + o] + r[C[x] + o] + r[C[x + 1] + o] + r[C[x + 2] + o];
  }
  const int corners = rows[0][C[x - 2] + o] + rows[0][C[x + 2] + o] + rows[4][C[x - 2] + o] + rows[4][C[x + 2] + o];
  return Smoothed(all, corners);
}

}  // namespace

namespace {

// The chroma filter one row at a time, so that the conversions can run just
// ahead of it and just behind it while the rows are in the cache.
class ChromaFilter {
 public:
  ChromaFilter(const _P2IIMG* in, _P2IIMG* out)
      : w(in->nWidth),
        h(in->nHeight),
        bpl(static_cast<size_t>(in->nBytesPerLine)),
        obpl(static_cast<size_t>(out->nBytesPerLine)),
        src(in->pImageData),
        dst(out->pImageData),
        inPlace(src == dst && bpl == obpl),
        colU(static_cast<size_t>(w)),
        colV(static_cast<size_t>(w)),
        keyU(static_cast<size_t>(w)),
        keyV(static_cast<size_t>(w)),
        cx(static_cast<size_t>(w) + 6) {
    for (int x = -2; x < w + 4; ++x) cx[x + 2] = 3 * std::clamp(x, 0, w - 1);
    C = cx.data() + 2;
  }
  void Row(int y);

 private:
  // Cloned for AVX-512 and AVX2; clang wants that said where it is first declared, and
  // the definition ahead of every call.
  __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void Interior(
      const unsigned char* r0, const unsigned char* r1, const unsigned char* r3, const unsigned char* r4,
      const unsigned char* cur, unsigned char* d);

  const int w, h;
  const size_t bpl, obpl;
  const unsigned char* src;
  unsigned char* dst;
  const bool inPlace;
  std::vector<int> colU, colV;       // the four other rows' sums per column
  std::vector<uint64_t> keyU, keyV;  // per column, what its window holds but the carried pixels
  std::vector<int> cx;               // byte offset of column x, clamped, x = -2 .. w + 3
  const int* C;
};

// Dividing by the weight sum: (n * kDivide) >> 32 is n / 2755 for every n
// below 2^20, and a window's weighted sum stays below 127 x 25 x 255 + 1377.
constexpr uint64_t kDivide = 1558972;

// The interior of a row (x = 2 .. w - 3) in two passes. First, free of any
// order, each window's terms but the pixels it shares with the ones before
// it: the four other rows, the corners and the current row's pixels not yet
// smoothed. Then, left to right, the carried part: working in place, a
// window also holds the two pixels to its left as they were just smoothed,
// so each pixel waits on the one before it; that wait is kept down to one
// multiply and shift by folding the pixel two to the left in early.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void ChromaFilter::Interior(
    const unsigned char* r0, const unsigned char* r1, const unsigned char* r3, const unsigned char* r4,
    const unsigned char* cur, unsigned char* d) {
  // The width held locally: the rows written could alias the member, which
  // would be read again at every pixel and keep the loops from vectorising.
  const int width = w;
  if (width < 5) return;
  int* cu = colU.data();
  int* cv = colV.data();
  for (int x = 0; x < width; ++x) {
    const int o = 3 * x;
    cu[x] = r0[o + 1] + r1[o + 1] + r3[o + 1] + r4[o + 1];
    cv[x] = r0[o + 2] + r1[o + 2] + r3[o + 2] + r4[o + 2];
  }
  uint64_t* ku = keyU.data();
  uint64_t* kv = keyV.data();
  // What of the current row a window reads unsmoothed: from its own pixel
  // on in place, all five otherwise.
  const int before = inPlace ? 0 : 1;
  for (int x = 2; x + 2 < width; ++x) {
    const int o = 3 * x;
    const int rowU = cur[o + 1] + cur[o + 4] + cur[o + 7] + before * (cur[o - 5] + cur[o - 2]);
    const int rowV = cur[o + 2] + cur[o + 5] + cur[o + 8] + before * (cur[o - 4] + cur[o - 1]);
    const int upperU = cu[x - 2] + cu[x - 1] + cu[x] + cu[x + 1] + cu[x + 2];
    const int upperV = cv[x - 2] + cv[x - 1] + cv[x] + cv[x + 1] + cv[x + 2];
    const int cornersU = r0[o - 6 + 1] + r0[o + 6 + 1] + r4[o - 6 + 1] + r4[o + 6 + 1];
    const int cornersV = r0[o - 6 + 2] + r0[o + 6 + 2] + r4[o - 6 + 2] + r4[o + 6 + 2];
    ku[x] = static_cast<uint64_t>(127 * (upperU + rowU) - 105 * cornersU + kWeightSum / 2);
    kv[x] = static_cast<uint64_t>(127 * (upperV + rowV) - 105 * cornersV + kWeightSum / 2);
  }
  if (!inPlace) {
    for (int x = 2; x + 2 < width; ++x) {
      const int o = 3 * x;
      d[o] = cur[o];
      d[o + 1] = static_cast<unsigned char>((ku[x] * kDivide) >> 32);
      d[o + 2] = static_cast<unsigned char>((kv[x] * kDivide) >> 32);
    }
    return;
  }
  constexpr uint64_t kCarried = 127 * kDivide;
  uint64_t u1 = d[4], u2 = d[1], v1 = d[5], v2 = d[2];  // the pixels at x - 1 and x - 2
  for (int x = 2; x + 2 < width; ++x) {
    const uint64_t early = (ku[x] + 127 * u2) * kDivide, earlyV = (kv[x] + 127 * v2) * kDivide;
    const uint64_t u = (early + kCarried * u1) >> 32, v = (earlyV + kCarried * v1) >> 32;
    d[3 * x + 1] = static_cast<unsigned char>(u);
    d[3 * x + 2] = static_cast<unsigned char>(v);
    u2 = u1, u1 = u, v2 = v1, v1 = v;
  }
}

// Row comes after Interior: clang 14 builds a multiversioned member that is
// called before its definition as if its arguments were null.
void ChromaFilter::Row(int y) {
  {
    const unsigned char* rows[5];
    for (int k = 0; k < 5; ++k) rows[k] = src + static_cast<size_t>(std::clamp(y + k - 2, 0, h - 1)) * bpl;
    unsigned char* d = dst + static_cast<size_t>(y) * obpl;
    // The current row is read as it is being written when the filter works
    // in place; near the top and bottom the clamped rows are the current
    // row too, and near the sides the clamped columns: those pixels take
    // the plain path.
    const unsigned char* cur = inPlace ? d : rows[2];
    if (y < 2 || y + 2 >= h || w < 5) {
      for (int x = 0; x < w; ++x) {
        const unsigned char y0 = rows[2][3 * x];
        const unsigned char u = WindowAt(rows, C, x, 1);
        const unsigned char v = WindowAt(rows, C, x, 2);
        d[3 * x] = y0, d[3 * x + 1] = u, d[3 * x + 2] = v;
      }
      return;
    }
    const unsigned char *r0 = rows[0], *r1 = rows[1], *r3 = rows[3], *r4 = rows[4];
    for (int x = 0; x < 2; ++x) {
      const unsigned char y0 = rows[2][3 * x];
      const unsigned char u = WindowAt(rows, C, x, 1);
      const unsigned char v = WindowAt(rows, C, x, 2);
      d[3 * x] = y0, d[3 * x + 1] = u, d[3 * x + 2] = v;
    }
    Interior(r0, r1, r3, r4, cur, d);
    for (int x = std::max(2, w - 2); x < w; ++x) {
      const unsigned char y0 = rows[2][3 * x];
      const unsigned char u = WindowAt(rows, C, x, 1);
      const unsigned char v = WindowAt(rows, C, x, 2);
      d[3 * x] = y0, d[3 * x + 1] = u, d[3 * x + 2] = v;
    }
  }
}

}  // namespace

void CBrennaScanFunc::YUVFilter(const _P2IIMG* in, _P2IIMG* out) {
  ChromaFilter filter(in, out);
  for (int y = 0; y < in->nHeight; ++y) filter.Row(y);
}

int CBrennaScanFunc::_P2iEraseClrBdr(_P2IIMG* in, _P2IIMG* out, int) {
  if (!in || !out || in->nBitsPerPixel != 24 || in->nHeight <= 4 || in->nWidth <= 4) return -1;
  out->nBitsPerPixel = 24;
  out->nHeight = in->nHeight;
  out->nWidth = in->nWidth;
  out->nBytesPerLine = in->nBytesPerLine;
  out->nColorOrder = in->nColorOrder;
  out->nImageSize = in->nImageSize;
  out->nXResolution = in->nXResolution;
  out->nYResolution = in->nYResolution;
  out->nLeft = in->nLeft, out->nTop = in->nTop, out->nRight = in->nRight, out->nBottom = in->nBottom;
  // The three whole-page passes (RGB to YUV into out, the filter from out
  // into in, YUV to RGB from in into out) run row by row: a row is turned
  // into YUV before the first window reads it, and back once the last
  // window that reads it (two rows below) is done.
  const int h = in->nHeight, w = in->nWidth;
  auto row = [](const _P2IIMG* p, int y) { return p->pImageData + static_cast<size_t>(y) * p->nBytesPerLine; };
  ChromaFilter filter(out, in);
  RowRGB2YUV(row(in, 0), row(out, 0), w);
  RowRGB2YUV(row(in, 1), row(out, 1), w);
  for (int y = 0; y < h; ++y) {
    if (y + 2 < h) RowRGB2YUV(row(in, y + 2), row(out, y + 2), w);
    filter.Row(y);
    if (y >= 2) RowYUV2RGB(row(in, y - 2), row(out, y - 2), w);
  }
  for (int y = std::max(0, h - 2); y < h; ++y) RowYUV2RGB(row(in, y), row(out, y), w);
  return 0;
}

int CBrennaScanFunc::Tavrin_EraseClrBdr(_P2IIMG* page, _P2IIMG* out) {
  const char* fn = "CBrennaScanFunc::Tavrin_EraseClrBdr";
  CLogScope scope(fn);
  if (!page || !out || !page->pImageData) {
    WriteLog(LOG_LEVEL_ERROR, fn, "pP2iII == NULL || pP2iIO == NULL");
    return -2;
  }
  // The page's last row stays as it came.
  _P2IIMG in = *page, result = *page;
  in.nBitsPerPixel = 24;
  in.nHeight = page->nHeight - 1;
  in.nImageSize = page->nImageSize - page->nBytesPerLine;
  if (P2iEraseClrBdr(&in, &result, 0) == -1) {
    WriteLog(LOG_LEVEL_ERROR, fn, "P2IERASECLRBDR_ERR_PARAM");
    return -2;
  }
  if (out->pImageData != page->pImageData) free(out->pImageData);
  *out = result;
  out->pImageData = page->pImageData;
  return 0;
}
