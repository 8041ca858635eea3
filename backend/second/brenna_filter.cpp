// The Brenna colour-fringe filter: RGB to YUV, a 5 x 5 smoothing of the two
// chroma planes, and back, all in integer arithmetic.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "brenna_scan_func.h"
#include "log.h"

namespace {

struct Tables {
  int Ry[256], Gy[256], By[256];
  int Ru[256], Gu[256], Bu[256];
  int Rv[256], Gv[256], Bv[256];
  int Vr[256], Ug[256], Vg[256], Ub[256];
  Tables() {
    for (int v = 0; v < 256; ++v) {
      Ry[v] = 77 * v, Gy[v] = 150 * v, By[v] = 29 * v;
      Ru[v] = 32768 + 43 * v, Gu[v] = 32768 + 85 * v, Bu[v] = 32768 + 128 * v;
      Rv[v] = 32768 + 128 * v, Gv[v] = 32768 + 107 * v, Bv[v] = 32768 + 21 * v;
      Vr[v] = 360 * (v - 128);
      Ug[v] = 88 * (v - 128), Vg[v] = 184 * (v - 128);
      Ub[v] = 455 * (v - 128);
    }
  }
};
const Tables& T() {
  static const Tables tables;
  return tables;
}

inline unsigned char Clamp(int v) { return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

void CBrennaScanFunc::ConvRGB2YUV(const _P2IIMG* in, _P2IIMG* out) {
  const Tables& t = T();
  for (int y = 0; y < in->nHeight; ++y) {
    const unsigned char* s = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* d = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    for (int x = 0; x < in->nWidth; ++x, s += 3, d += 3) {
      const int r = s[0], g = s[1], b = s[2];
      d[0] = static_cast<unsigned char>((t.Ry[r] + t.Gy[g] + t.By[b]) >> 8);
      d[1] = static_cast<unsigned char>((t.Bu[b] - t.Ru[r] - t.Gu[g]) >> 8);
      d[2] = static_cast<unsigned char>((t.Rv[r] - t.Gv[g] - t.Bv[b]) >> 8);
    }
  }
}

void CBrennaScanFunc::ConvYUV2RGB(const _P2IIMG* in, _P2IIMG* out) {
  const Tables& t = T();
  for (int y = 0; y < in->nHeight; ++y) {
    const unsigned char* s = in->pImageData + static_cast<size_t>(y) * in->nBytesPerLine;
    unsigned char* d = out->pImageData + static_cast<size_t>(y) * out->nBytesPerLine;
    for (int x = 0; x < in->nWidth; ++x, s += 3, d += 3) {
      const int Y = 256 * s[0], u = s[1], v = s[2];
      d[0] = Clamp((Y + t.Vr[v]) >> 8);
      d[1] = Clamp((Y - t.Ug[u] - t.Vg[v]) >> 8);
      d[2] = Clamp((Y + t.Ub[u]) >> 8);
    }
  }
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

void CBrennaScanFunc::YUVFilter(const _P2IIMG* in, _P2IIMG* out) {
  const int w = in->nWidth, h = in->nHeight;
  const size_t bpl = static_cast<size_t>(in->nBytesPerLine);
  const size_t obpl = static_cast<size_t>(out->nBytesPerLine);
  const unsigned char* src = in->pImageData;
  unsigned char* dst = out->pImageData;
  std::vector<int> col(static_cast<size_t>(w) * 2);  // U and V of the four other rows, per column
  std::vector<int> cx(static_cast<size_t>(w) + 6);   // byte offset of column x, clamped, x = -2 .. w + 3
  for (int x = -2; x < w + 4; ++x) cx[x + 2] = 3 * std::clamp(x, 0, w - 1);
  const int* C = cx.data() + 2;
  for (int y = 0; y < h; ++y) {
    const unsigned char* rows[5];
    for (int k = 0; k < 5; ++k) rows[k] = src + static_cast<size_t>(std::clamp(y + k - 2, 0, h - 1)) * bpl;
    unsigned char* d = dst + static_cast<size_t>(y) * obpl;
    // The current row is read as it is being written (src may be dst); at
    // the top and bottom edges the clamped rows are the current one too.
    const bool interior = y >= 2 && y + 2 < h;
    if (interior) {
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 2; ++c) {
          const int o = 3 * x + 1 + c;
          col[2 * x + c] = rows[0][o] + rows[1][o] + rows[3][o] + rows[4][o];
        }
    }
    int upper[2] = {0, 0};
    if (interior)
      for (int c = 0; c < 2; ++c)
        for (int k = -2; k <= 2; ++k) upper[c] += col[2 * (C[k] / 3) + c];
    for (int x = 0; x < w; ++x) {
      const unsigned char* row = rows[2];
      const int y0 = row[3 * x];
      for (int c = 0; c < 2; ++c) {
        const int o = 1 + c;
        int all, corners;
        const unsigned char* cur = interior ? (src == dst ? d : row) : nullptr;
        if (interior) {
          all = upper[c] + cur[C[x - 2] + o] + cur[C[x - 1] + o] + cur[C[x] + o] + cur[C[x + 1] + o] +
                cur[C[x + 2] + o];
          corners = rows[0][C[x - 2] + o] + rows[0][C[x + 2] + o] + rows[4][C[x - 2] + o] + rows[4][C[x + 2] + o];
        } else {
          all = 0;
          for (int k = 0; k < 5; ++k) {
            const unsigned char* r = rows[k];
            all += r[C[x - 2] + o] + r[C[x - 1] + o] + r[C[x] + o] + r[C[x + 1] + o] + r[C[x + 2] + o];
          }
          corners = rows[0][C[x - 2] + o] + rows[0][C[x + 2] + o] + rows[4][C[x - 2] + o] + rows[4][C[x + 2] + o];
        }
        d[3 * x + o] = Smoothed(all, corners);
      }
      d[3 * x] = static_cast<unsigned char>(y0);
      if (interior)
        for (int c = 0; c < 2; ++c) upper[c] += col[2 * (C[x + 3] / 3) + c] - col[2 * (C[x - 2] / 3) + c];
    }
  }
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
  ConvRGB2YUV(in, out);
  YUVFilter(out, in);
  ConvYUV2RGB(in, out);
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
