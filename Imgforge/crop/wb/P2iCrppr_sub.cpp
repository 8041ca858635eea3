// Support routines of the white-background engine: its sine/cosine table,
// window statistics, gradients and peaks, line twins (truncating), tone
// tables and the reduced, half-size and duplicated copies of a page.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "P2iCrppr.h"

namespace p2iwb {

_SINCOS* gpSinCos_1 = nullptr;

const uint8_t gbyInvG18[256] = {
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   1,   1,   1,   1,   1,   2,   2,   2,   2,   2,
    3,   3,   3,   4,   4,   4,   4,   5,   5,   5,   6,   6,   6,   7,   7,   8,   8,   8,   9,   9,   10,  10,
    11,  11,  11,  12,  12,  13,  13,  14,  14,  15,  15,  16,  16,  17,  18,  18,  19,  19,  20,  20,  21,  22,
    22,  23,  23,  24,  25,  25,  26,  27,  27,  28,  29,  29,  30,  31,  32,  32,  33,  34,  34,  35,  36,  37,
    37,  38,  39,  40,  41,  41,  42,  43,  44,  45,  46,  46,  47,  48,  49,  50,  51,  52,  52,  53,  54,  55,
    56,  57,  58,  59,  60,  61,  62,  63,  64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,
    78,  79,  80,  81,  82,  83,  84,  85,  87,  88,  89,  90,  91,  92,  93,  95,  96,  97,  98,  99,  100, 102,
    103, 104, 105, 106, 108, 109, 110, 111, 113, 114, 115, 116, 118, 119, 120, 121, 123, 124, 125, 127, 128, 129,
    131, 132, 133, 135, 136, 137, 139, 140, 142, 143, 144, 146, 147, 149, 150, 151, 153, 154, 156, 157, 159, 160,
    161, 163, 164, 166, 167, 169, 170, 172, 173, 175, 176, 178, 180, 181, 183, 184, 186, 187, 189, 190, 192, 194,
    195, 197, 198, 200, 202, 203, 205, 207, 208, 210, 211, 213, 215, 216, 218, 220, 221, 223, 225, 227, 228, 230,
    232, 233, 235, 237, 239, 240, 242, 244, 246, 247, 249, 251, 253, 255};

int MakeSinCosTbl() {
  gpSinCos_1 = static_cast<_SINCOS*>(calloc(1800, sizeof(_SINCOS)));
  if (!gpSinCos_1) return -2;
  for (int j = 0; j < 1800; ++j) {
    const double r = j * 3.141592654 / 1800;
    gpSinCos_1[j] = {std::sin(r), std::cos(r)};
  }
  gpSinCos_1[0] = {0, 1};
  return 0;
}

void Uninitialize() {
  free(gpSinCos_1);
  gpSinCos_1 = nullptr;
}

// ---- window statistics --------------------------------------------------------------

void GetStDev_Mono(const uint8_t* c, int stride, int* /*dev*/, int* mean, int /*flag*/) {
  int sum = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    const uint8_t* r = c + static_cast<ptrdiff_t>(dy) * stride;
    sum += r[-2] + r[-1] + r[0] + r[1] + r[2];
  }
  *mean = (sum * 41) >> 10;
}

void GetStDev_RGB(const uint8_t* c, int stride, int* /*dev*/, int* mean, int /*flag*/) {
  int sum = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    const uint8_t* r = c + static_cast<ptrdiff_t>(dy) * stride;
    sum += r[-6] + r[-3] + r[0] + r[3] + r[6];
  }
  *mean = (sum * 41) >> 10;
}

namespace {

// Rows a column walk asks for ahead of the one it adds up.
constexpr int kAhead = 24;

inline bool Colour(const _P2IIMG* img) { return img->nBitsPerPixel == 24; }
inline int Px(const _P2IIMG* img) { return Colour(img) ? 3 : 1; }
inline const uint8_t* At(const _P2IIMG* img, int x, int y, int ch) {
  return img->pImageData + static_cast<size_t>(y) * img->nBytesPerLine + static_cast<size_t>(x) * Px(img) + ch;
}

// The 5x5 mean of one channel along a row (or down a column), ends copied:
// the windows' sums slide along the line from five-pixel cross sums, the
// same integers as GetStDev_Mono and GetStDev_RGB add up window by window.
void StDevLine(const _P2IIMG* img, int fixed, int ch, bool alongRow, uint8_t* dev, uint8_t* mean) {
  const int n = alongRow ? img->nWidth : img->nHeight;
  if (n <= 4) return;
  const ptrdiff_t along = alongRow ? Px(img) : img->nBytesPerLine;
  const ptrdiff_t across = alongRow ? img->nBytesPerLine : Px(img);
  const uint8_t* p = alongRow ? At(img, 0, fixed, ch) : At(img, fixed, 0, ch);
  auto cross = [&](int i) {
    const uint8_t* c = p + i * along;
    return c[-2 * across] + c[-across] + c[0] + c[across] + c[2 * across];
  };
  int cs[5];
  int sum = 0;
  for (int i = 0; i < 4; ++i) sum += cs[i] = cross(i);
  for (int k = 2; k <= n - 3; ++k) {
    if (!alongRow && k + 2 + kAhead < n) __builtin_prefetch(p + (k + 2 + kAhead) * along - 2 * across);
    const int in = cross(k + 2);
    sum += in;
    cs[(k + 2) % 5] = in;
    mean[k] = static_cast<uint8_t>(std::min(255, (sum * 41) >> 10));
    dev[k] = 0;
    sum -= cs[(k - 2) % 5];
  }
  mean[0] = mean[1] = mean[2];
  mean[n - 2] = mean[n - 1] = mean[n - 3];
  dev[0] = dev[1] = dev[n - 2] = dev[n - 1] = 0;
}

}  // namespace

void StDevColumnRGB(const _P2IIMG* img, int col, uint8_t* mean) {
  const int n = img->nHeight;
  if (n <= 4) return;
  const ptrdiff_t along = img->nBytesPerLine;
  const uint8_t* p = At(img, col, 0, 0);
  int cs[3][5], sum[3] = {};
  auto cross = [&](int i, int c) {
    const uint8_t* q = p + i * along + c;
    return q[-6] + q[-3] + q[0] + q[3] + q[6];
  };
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 4; ++i) sum[c] += cs[c][i] = cross(i, c);
  for (int k = 2; k <= n - 3; ++k) {
    // Each row of the walk is a page further on in memory, past where the
    // processor looks ahead by itself.
    if (k + 2 + kAhead < n) __builtin_prefetch(p + (k + 2 + kAhead) * along - 6);
    for (int c = 0; c < 3; ++c) {
      const int in = cross(k + 2, c);
      sum[c] += in;
      cs[c][(k + 2) % 5] = in;
      mean[c * n + k] = static_cast<uint8_t>(std::min(255, (sum[c] * 41) >> 10));
      sum[c] -= cs[c][(k - 2) % 5];
    }
  }
  for (int c = 0; c < 3; ++c) {
    uint8_t* m = mean + c * n;
    m[0] = m[1] = m[2];
    m[n - 2] = m[n - 1] = m[n - 3];
  }
}

void GetStDevH(const _P2IIMG* img, int row, int ch, uint8_t* dev, uint8_t* mean) {
  StDevLine(img, row, ch, true, dev, mean);
}

void GetStDevV(const _P2IIMG* img, int col, int ch, uint8_t* dev, uint8_t* mean) {
  StDevLine(img, col, ch, false, dev, mean);
}

void MakeStdData(const _P2IIMG* img, int bottom, uint8_t* dev, uint8_t* mean) {
  const int row = bottom ? img->nHeight - 3 : 2;
  if (Colour(img)) {
    if (img->nWidth <= 4) return;
    std::memset(dev, 0, static_cast<size_t>(3) * img->nWidth);
    StDevRowRGB(img, row, mean);
    return;
  }
  const int chs = 1;
  for (int c = 0; c < chs; ++c)
    GetStDevH(img, row, c, dev + static_cast<size_t>(c) * img->nWidth, mean + static_cast<size_t>(c) * img->nWidth);
}

int GetAve_Mono(const uint8_t* c, int stride) {
  int sum = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    const uint8_t* r = c + static_cast<ptrdiff_t>(dy) * stride;
    sum += r[-1] + r[0] + r[1];
  }
  return static_cast<int>(sum / 9.0 + 0.5);
}

int GetAve_RGB(const uint8_t* c, int stride) {
  int sum = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    const uint8_t* r = c + static_cast<ptrdiff_t>(dy) * stride;
    sum += r[-3] + r[0] + r[3];
  }
  return static_cast<int>(sum / 9.0 + 0.5);
}

void GetAveH(const _P2IIMG* img, int row, int x0, int n, uint8_t* out) {
  const int chs = Colour(img) ? 3 : 1;
  for (int c = 0; c < chs; ++c)
    for (int i = 0; i < n; ++i) {
      const uint8_t* p = At(img, x0 + i, row, c);
      out[c * n + i] = static_cast<uint8_t>(chs == 3 ? GetAve_RGB(p, img->nBytesPerLine)
                                                     : GetAve_Mono(p, img->nBytesPerLine));
    }
}

void GetAveV(const _P2IIMG* img, int col, int y0, int n, uint8_t* out) {
  const int chs = Colour(img) ? 3 : 1;
  for (int c = 0; c < chs; ++c)
    for (int i = 0; i < n; ++i) {
      const uint8_t* p = At(img, col, y0 + i, c);
      out[c * n + i] = static_cast<uint8_t>(chs == 3 ? GetAve_RGB(p, img->nBytesPerLine)
                                                     : GetAve_Mono(p, img->nBytesPerLine));
    }
}

// ---- gradients and peaks -------------------------------------------------------------

void GetGrad(const uint8_t* p, int* g, int n) {
  if (n <= 0) return;
  g[0] = 0;
  for (int k = 1; k < n - 1; ++k) g[k] = p[k + 1] - p[k - 1];
  g[n - 1] = 0;
}

void GetGradFwd(const uint8_t* p, int n, bool colour, int* g) {
  for (int c = 0; c < (colour ? 3 : 1); ++c) GetGrad(p + c * n, g + c * n, n);
}

void GetGradBck(const uint8_t* p, int n, bool colour, int* g) {
  for (int c = 0; c < (colour ? 3 : 1); ++c) {
    const uint8_t* q = p + c * n;
    int* h = g + c * n;
    if (n <= 0) continue;
    for (int k = n - 2; k >= 1; --k) h[k] = q[k - 1] - q[k + 1];
    h[0] = h[n - 1] = 0;
  }
}

int IsPeak_1(const int* g, int i, int* isMax) {
  const int v = g[i], L = g[i - 1], R = g[i + 1];
  if (L == v && v == R) return 0;
  if (v >= L && v >= R) {
    *isMax = 1;
    return 1;
  }
  *isMax = 0;
  return v <= L && v <= R ? 1 : 0;
}

int IsPeak_RK(const int* g, int i, int* isMax) {
  const int v = g[i], L = g[i - 1], R = g[i + 1];
  if (L == v && v == R) return 0;
  if (v >= L && v >= R && L >= 0 && v >= 0 && R >= 0) {
    *isMax = 1;
    return 1;
  }
  *isMax = 0;
  return v <= L && v <= R && L <= 0 && v <= 0 && R <= 0 ? 1 : 0;
}

int IsGoodRelation(const int* a, int n) {
  if (n < 2) return 1;
  int j = 1;
  const int other = a[0] < 0 ? a[0] + 1800 : a[0] - 1800;
  for (int k = 1; k < n; ++k)
    if (a[k] == a[0] || a[k] == other) ++j;
  return n == 4 ? j == 2 : j < 3;
}

void GetRectTheta(int* a, int n) {
  const int d = a[0];
  for (int k = 1; k < n; ++k) {
    const int e = std::abs(a[k] - d);
    if (e < 100)
      a[k] = d;
    else if (e > 1700)
      a[k] = d < a[k] ? d + 1800 : d - 1800;
    else
      a[k] = d < a[k] ? d + 900 : d - 900;
  }
}

// ---- line twins ------------------------------------------------------------------------

bool GetXPoint(_STRTLINE a, _STRTLINE b, tagPOINT* out) {
  _ACCPT p{};
  if (!fsipcrop::GetXPt(a, b, &p)) return false;
  *out = {static_cast<int64_t>(p.dX), static_cast<int64_t>(p.dY)};
  return true;
}

bool GetAllXPoints4(const _STRTLINE* lines, tagPOINT* out) {
  const bool steep0 = IsTatesen(lines[0]);
  int partner = -1;
  for (int i = 1; i < 4 && partner < 0; ++i)
    if (IsTatesen(lines[i]) == steep0) partner = i;
  if (partner < 0) return false;
  int others[2], k = 0;
  for (int i = 1; i < 4; ++i)
    if (i != partner) others[k++] = i;
  tagPOINT p[4];
  if (!GetXPoint(lines[0], lines[others[0]], &p[0]) || !GetXPoint(lines[0], lines[others[1]], &p[1]) ||
      !GetXPoint(lines[partner], lines[others[0]], &p[2]) || !GetXPoint(lines[partner], lines[others[1]], &p[3]))
    return false;
  std::copy(p, p + 4, out);
  return true;
}

void SortXPoints(tagPOINT* p) { fsipcrop::SortXPts(p); }

void SortStraightLine(_STRTLINE* lines) {
  int side[2], nSide = 0, cross[2], nCross = 0;
  bool used[4] = {};
  for (int i = 0; i < 4 && nSide < 2; ++i)
    if (IsTatesen(lines[i])) {
      side[nSide++] = i;
      used[i] = true;
    }
  for (int i = 0; i < 4 && nCross < 2; ++i)
    if (!used[i]) cross[nCross++] = i;
  int order[4] = {-1, -1, -1, -1};
  if (nCross == 2) {
    const bool firstLower = lines[cross[0]].dB < lines[cross[1]].dB;
    order[1] = firstLower ? cross[0] : cross[1];
    order[3] = firstLower ? cross[1] : cross[0];
  } else if (nCross == 1) {
    order[3] = cross[0];
  }
  if (nSide == 2) {
    const _STRTLINE top{0, 0, 0, 0};
    tagPOINT a{}, b{};
    GetXPoint(top, lines[side[0]], &a);
    GetXPoint(top, lines[side[1]], &b);
    const bool firstLeft = a.x <= b.x;
    order[0] = firstLeft ? side[0] : side[1];
    order[2] = firstLeft ? side[1] : side[0];
  } else if (nSide == 1) {
    order[0] = side[0];
  }
  _STRTLINE out[4];
  for (int k = 0; k < 4; ++k) out[k] = order[k] >= 0 ? lines[order[k]] : _STRTLINE{0, 0, 0, 0};
  std::copy(out, out + 4, lines);
}

void GetSLfm2Pnt(tagPOINT a, tagPOINT b, _STRTLINE* out) { fsipcrop::GetSLfm2Pts(a, b, out); }

double GetDistance_1(tagPOINT pt, _STRTLINE line) {
  const int64_t px = pt.x, py = -pt.y;
  if (line.bVert) return std::fabs(static_cast<double>(px) - line.dX);
  if (line.dA == 0) return std::fabs(static_cast<double>(py) - line.dB);
  const double m = -1.0 / line.dA;
  const _STRTLINE perp{m, static_cast<double>(py) - m * static_cast<double>(px), 0, 0.0};
  tagPOINT foot{};
  if (!GetXPoint(line, perp, &foot)) return 0;
  const int32_t dx = static_cast<int32_t>(px - foot.x), dy = static_cast<int32_t>(py - foot.y);
  return std::sqrt(static_cast<double>(static_cast<int32_t>(dx * dx + dy * dy)));
}

void GetTriApex(const _P2IIMG* img, const tagPOINT* corners, int index, _TRIAPEX* out) {
  tagPOINT c[4];
  for (int i = 0; i < 4; ++i) c[i] = {corners[i].x, -corners[i].y};
  const int w = img->nWidth, h = img->nHeight;
  const _STRTLINE leftEdge{0, 0, 1, 0}, rightEdge{0, 0, 1, static_cast<double>(w - 1)};
  const _STRTLINE topRow{0, 0, 0, 0}, bottomRow{0, static_cast<double>(-(h - 1)), 0, 0};
  _STRTLINE border{};
  int n1 = 0, n2 = 0;
  switch (index) {
    case 0:
      border = c[0].x < 0 ? leftEdge : topRow;
      n1 = 1, n2 = 3;
      break;
    case 1:
      border = c[1].x < 0 ? leftEdge : bottomRow;
      n1 = 0, n2 = 2;
      break;
    case 2:
      border = c[2].x < w ? bottomRow : rightEdge;
      n1 = 1, n2 = 3;
      break;
    default:
      border = c[3].x < w ? topRow : rightEdge;
      n1 = 0, n2 = 2;
      break;
  }
  _STRTLINE l1{}, l2{};
  GetSLfm2Pnt(c[index], c[n1], &l1);
  GetSLfm2Pnt(c[index], c[n2], &l2);
  tagPOINT s1{}, s2{};
  GetXPoint(l1, border, &s1);
  GetXPoint(l2, border, &s2);
  out->ptApex = {c[index].x, -c[index].y};
  out->ptSide1 = {s1.x, -s1.y};
  out->ptSide2 = {s2.x, -s2.y};
}

void ExpandDocArea(_STRTLINE* lines, tagPOINT* corners, int margin) {
  SortStraightLine(lines);
  for (int k = 0; k < 4; ++k) {
    _STRTLINE& l = lines[k];
    const bool grow = k >= 2;  // right and top move up / right
    if (l.bVert) {
      l.dX += grow ? margin : -margin;
    } else if (l.dA == 0) {
      l.dB += grow ? margin : -margin;
    } else {
      const double o = margin / std::cos(std::atan(l.dA));
      switch (k) {
        case 0: l.dB += l.dA > 0 ? o : -o; break;
        case 1: l.dB -= o; break;
        case 2: l.dB += l.dA > 0 ? -o : o; break;
        default: l.dB += o; break;
      }
    }
  }
  GetAllXPoints4(lines, corners);
}

// ---- tone tables ----------------------------------------------------------------------

void DoInvGamma(_P2IIMG* img) {
  for (int y = 0; y < img->nHeight; ++y) {
    uint8_t* r = img->pImageData + static_cast<size_t>(y) * img->nBytesPerLine;
    for (int i = 0; i < img->nBytesPerLine; ++i) r[i] = gbyInvG18[r[i]];
  }
}

void DoGamma(_P2IIMG* img, uint8_t white, uint8_t black, double gamma) {
  uint8_t t[256];
  const double c = white - black;
  for (int k = 0; k < 256; ++k) {
    if (k <= black)
      t[k] = 0;
    else if (k >= white)
      t[k] = 255;
    else
      t[k] = static_cast<uint8_t>(std::min(255, static_cast<int>(255 * std::pow((k - black) / (c - 1), 1 / gamma) + 0.5)));
  }
  for (int y = 0; y < img->nHeight; ++y) {
    uint8_t* r = img->pImageData + static_cast<size_t>(y) * img->nBytesPerLine;
    for (int i = 0; i < img->nBytesPerLine; ++i) r[i] = t[r[i]];
  }
}

// ---- resampling and copies -------------------------------------------------------------

namespace {

template <int CH>
void Resize(const _P2IIMG* src, _P2IIMG* dst) {
  const int sw = src->nWidth, sh = src->nHeight, dw = dst->nWidth, dh = dst->nHeight;
  const int64_t sx = (static_cast<int64_t>(sw) * 65536) / dw + 1, sy = (static_cast<int64_t>(sh) * 65536) / dh + 1;
  const int64_t x0 = sx / 2 - 32768, y0 = sy / 2 - 32768;
  // Columns: their two source positions and fraction, clamped once.
  std::vector<int> c0(static_cast<size_t>(dw)), c1(static_cast<size_t>(dw)), fxs(static_cast<size_t>(dw));
  for (int i = 0; i < dw; ++i) {
    const int64_t X = x0 + i * sx;
    int a = static_cast<int>(std::max<int64_t>(0, X >> 16));
    a = std::min(a, sw - 1);
    c0[static_cast<size_t>(i)] = a * CH;
    c1[static_cast<size_t>(i)] = std::min(a + 1, sw - 1) * CH;
    fxs[static_cast<size_t>(i)] = static_cast<int>((X >> 8) & 255);
  }
  for (int j = 0; j < dh; ++j) {
    const int64_t Y = y0 + j * sy;
    int r0 = static_cast<int>(std::max<int64_t>(0, Y >> 16));
    r0 = std::min(r0, sh - 1);
    const int r1 = std::min(r0 + 1, sh - 1);
    const int64_t fy = (Y >> 8) & 255;
    const uint8_t* p0 = src->pImageData + static_cast<size_t>(r0) * src->nBytesPerLine;
    const uint8_t* p1 = src->pImageData + static_cast<size_t>(r1) * src->nBytesPerLine;
    uint8_t* o = dst->pImageData + static_cast<size_t>(j) * dst->nBytesPerLine;
    for (int i = 0; i < dw; ++i) {
      const int64_t fx = fxs[static_cast<size_t>(i)];
      const int64_t w00 = 65536 - 256 * fx - 256 * fy + fx * fy, w01 = 256 * fx - fx * fy, w10 = 256 * fy - fx * fy,
                    w11 = fx * fy;
      const int a = c0[static_cast<size_t>(i)], b = c1[static_cast<size_t>(i)];
      for (int c = 0; c < CH; ++c)
        o[i * CH + c] = static_cast<uint8_t>((w00 * p0[a + c] + w01 * p0[b + c] + w10 * p1[a + c] + w11 * p1[b + c]) >> 16);
    }
  }
}

int Bpl(int bpp, int w) { return bpp == 24 ? w * 3 : w; }

}  // namespace

void Resize_Gray(const _P2IIMG* src, _P2IIMG* dst) { Resize<1>(src, dst); }
void Resize_Color(const _P2IIMG* src, _P2IIMG* dst) { Resize<3>(src, dst); }

int NOIPP_Resize(const _P2IIMG* src, _P2IIMG* dst) {
  if (!src || !dst || !src->pImageData || !dst->pImageData) return -1;
  if (src->nWidth <= 5 || src->nHeight <= 5 || dst->nWidth <= 0 || dst->nHeight <= 0) return -1;
  if (src->nBitsPerPixel == 24)
    Resize_Color(src, dst);
  else
    Resize_Gray(src, dst);
  return 0;
}

int GetMiniImg(const _P2IIMG* src, _P2IIMG* dst) {
  if (dst->nXResolution == 0) dst->nXResolution = 100;
  if (dst->nYResolution == 0) dst->nYResolution = 100;
  if (src->nXResolution <= 0 || src->nYResolution <= 0) return -1;
  const bool colour = src->nBitsPerPixel == 24;
  if (src->nXResolution % dst->nXResolution != 0) {
    const int w = static_cast<int>(static_cast<double>(dst->nXResolution) / src->nXResolution * src->nWidth);
    const int h = static_cast<int>(static_cast<double>(dst->nYResolution) / src->nYResolution * src->nHeight);
    if (w <= 0 || h <= 0) return -1;
    dst->nWidth = w;
    dst->nHeight = h;
    dst->nBytesPerLine = Bpl(src->nBitsPerPixel, w);
    dst->nImageSize = dst->nBytesPerLine * h;
    dst->nLeft = dst->nTop = 0;
    dst->nRight = w - 1;
    dst->nBottom = h - 1;
    dst->pImageData = static_cast<uint8_t*>(calloc(static_cast<size_t>(dst->nImageSize), 1));
    if (!dst->pImageData) return -2;
    return NOIPP_Resize(src, dst);
  }
  const int dx = src->nXResolution / dst->nXResolution, dy = src->nYResolution / dst->nYResolution;
  if (dx <= 0 || dy <= 0) return -1;
  const int w = (src->nWidth + dx - 1) / dx, h = (src->nHeight + dy - 1) / dy;
  dst->nWidth = w;
  dst->nHeight = h;
  dst->nBytesPerLine = Bpl(src->nBitsPerPixel, w);
  dst->nImageSize = dst->nBytesPerLine * h;
  dst->nLeft = dst->nTop = 0;
  dst->nRight = w - 1;
  dst->nBottom = h - 1;
  dst->pImageData = static_cast<uint8_t*>(malloc(static_cast<size_t>(dst->nImageSize)));
  if (!dst->pImageData) return -2;
  const int px = colour ? 3 : 1;
  for (int j = 0; j < h; ++j) {
    const uint8_t* s = src->pImageData + static_cast<size_t>(j) * dy * src->nBytesPerLine;
    uint8_t* d = dst->pImageData + static_cast<size_t>(j) * dst->nBytesPerLine;
    if (px == 3)
      for (int i = 0; i < w; ++i) std::memcpy(d + i * 3, s + static_cast<size_t>(i) * dx * 3, 3);
    else
      for (int i = 0; i < w; ++i) d[i] = s[static_cast<size_t>(i) * dx];
  }
  return 0;
}

int DuplicateImage(const _P2IIMG* src, _P2IIMG* dst) {
  *dst = *src;
  dst->pImageData = static_cast<uint8_t*>(malloc(static_cast<size_t>(src->nImageSize)));
  if (!dst->pImageData) return -2;
  std::memcpy(dst->pImageData, src->pImageData, static_cast<size_t>(src->nImageSize));
  return 0;
}

int GetHalfImage(const _P2IIMG* src, _P2IIMG* dst) {
  *dst = *src;
  const int w = (src->nWidth + 1) / 2, h = (src->nHeight + 1) / 2;
  dst->nWidth = w;
  dst->nHeight = h;
  dst->nXResolution = src->nXResolution >> 1;
  dst->nYResolution = src->nYResolution >> 1;
  dst->nBytesPerLine = Bpl(src->nBitsPerPixel, w);
  dst->nImageSize = dst->nBytesPerLine * h;
  dst->nLeft = dst->nTop = 0;
  dst->nRight = w - 1;
  dst->nBottom = h - 1;
  dst->pImageData = static_cast<uint8_t*>(malloc(static_cast<size_t>(dst->nImageSize)));
  if (!dst->pImageData) return -2;
  const int px = src->nBitsPerPixel == 24 ? 3 : 1;
  for (int j = 0; j < h; ++j) {
    const uint8_t* s = src->pImageData + static_cast<size_t>(2 * j) * src->nBytesPerLine;
    uint8_t* d = dst->pImageData + static_cast<size_t>(j) * dst->nBytesPerLine;
    for (int i = 0; i < w; ++i) std::memcpy(d + i * px, s + static_cast<size_t>(2 * i) * px, static_cast<size_t>(px));
  }
  return 0;
}

// ---- line functions and upside-down conversions -------------------------------------

bool IsTatesen(const _STRTLINE& l) { return l.bVert || std::fabs(l.dA) > 1.0; }

bool IsSitasen(const _STRTLINE& l, int h) { return !IsTatesen(l) && l.dB < -(h / 2); }

void GetOrthogonalLine(tagPOINT p, const _STRTLINE& l, _STRTLINE* out) {
  if (l.bVert) {
    *out = {0, static_cast<double>(p.y), 0, 0};
  } else if (l.dA == 0) {
    *out = {0, 0, 1, static_cast<double>(p.x)};
  } else {
    *out = {-1 / l.dA, p.x / l.dA + static_cast<double>(p.y), 0, 0};
  }
}

void GetParallelLine(tagPOINT p, const _STRTLINE& l, _STRTLINE* out) {
  *out = l;
  if (l.bVert) {
    out->dX = static_cast<double>(p.x);
  } else if (l.dA == 0) {
    out->dB = static_cast<double>(p.y);
  } else {
    out->dB = static_cast<double>(p.y) - l.dA * static_cast<double>(p.x);
  }
}

int flip_conv_img(_P2IIMG* img) {
  const size_t bpl = static_cast<size_t>(img->nBytesPerLine);
  uint8_t* line = static_cast<uint8_t*>(malloc(bpl ? bpl : 1));
  if (!line) return -2;
  for (int r = 0; r < img->nHeight / 2; ++r) {
    uint8_t* a = img->pImageData + static_cast<size_t>(r) * bpl;
    uint8_t* b = img->pImageData + static_cast<size_t>(img->nHeight - 1 - r) * bpl;
    std::memcpy(line, a, bpl);
    std::memcpy(a, b, bpl);
    std::memcpy(b, line, bpl);
  }
  free(line);
  return 0;
}

void flip_conv_point(tagPOINT& p, const _P2IIMG* img) { p.y = -p.y - (img->nHeight - 1); }

void flip_conv_line(_STRTLINE& l, const _P2IIMG* img) {
  if (l.bVert) return;
  l.dA = -l.dA;
  l.dB = -l.dB - (img->nHeight - 1);
}

void flip_conv_skew(double* skew) { *skew = -*skew; }

}  // namespace p2iwb
