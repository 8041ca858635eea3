// Grey-to-mono for character analysis: a global Otsu image, then each
// connected black component binarized again by a method chosen by its size.
#include "gray2mono.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "layout_internal.h"

namespace {

struct Box {
  int l, t, r, b;
};

// Otsu search over a 256-level histogram; also the occupied range and mean.
int getThreshold_OMQ(const int64_t* hist, int64_t* count, int* high, int* low, double* mean) {
  int64_t n = 0;
  double sum = 0;
  int lo = -1, hi = -1;
  for (int i = 0; i < 256; ++i) {
    if (!hist[i]) continue;
    if (lo < 0) lo = i;
    hi = i;
    n += hist[i];
    sum += static_cast<double>(i) * hist[i];
  }
  *count = n;
  *low = lo, *high = hi;
  *mean = n ? sum / n : 0;
  if (!n) return 0;
  double w = 0, mu = 0, best = -1;
  int t = 0;
  for (int i = lo; i < hi; ++i) {
    w += static_cast<double>(hist[i]) / n;
    mu += static_cast<double>(i) * hist[i] / n;
    const double q = w * (1 - w);
    if (q <= 0.00001) continue;
    const double score = (w * *mean - mu) * (w * *mean - mu) / q;
    if (score > best) best = score, t = i;
  }
  return t;
}

int Clamp(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

struct Work {
  const uint8_t* grey;  // W x H, row bytes gbpl
  int gbpl;
  int W, H;
  uint8_t* mono;  // 1-bit result
  int mbpl;
  int s;
  int ppm;
  int gLow, gHigh;  // occupied range of the global sample

  uint8_t G(int x, int y) const { return grey[static_cast<ptrdiff_t>(y) * gbpl + x]; }
  bool M(int x, int y) const { return mono[static_cast<ptrdiff_t>(y) * mbpl + (x >> 3)] & (0x80 >> (x & 7)); }
  void Set(int x, int y, bool black) const {
    uint8_t& b = mono[static_cast<ptrdiff_t>(y) * mbpl + (x >> 3)];
    b = black ? (b | (0x80 >> (x & 7))) : (b & ~(0x80 >> (x & 7)));
  }
  void Hist(Box const& bx, int64_t* h) const {
    std::fill(h, h + 256, 0);
    for (int y = bx.t; y <= bx.b; ++y)
      for (int x = bx.l; x <= bx.r; ++x) ++h[G(x, y)];
  }
  void Threshold(Box const& bx, int T) const {
    for (int y = bx.t; y <= bx.b; ++y)
      for (int x = bx.l; x <= bx.r; ++x) Set(x, y, G(x, y) <= T);
  }
  Box Grown(Box const& b) const { return {std::max(b.l - 1, 0), std::max(b.t - 1, 0), std::min(b.r + 1, W - 1), std::min(b.b + 1, H - 1)}; }
};

int img_gray2mono_imgall_ootu(Work& w) {
  const int q = w.ppm / 8, k = q + (q & 1) + 1;
  int64_t h[256] = {};
  for (int y = 0; y < w.H; y += k)
    for (int x = 0; x < w.W; x += k) ++h[w.G(x, y)];
  int64_t n;
  double mean;
  const int o = getThreshold_OMQ(h, &n, &w.gHigh, &w.gLow, &mean);
  if (!n) return -2;
  const int T = Clamp(o + 8 * w.s + 8, 55, 225);
  const int whole = w.W & ~7;
  for (int y = 0; y < w.H; ++y) {
    const uint8_t* g = w.grey + static_cast<ptrdiff_t>(y) * w.gbpl;
    uint8_t* m = w.mono + static_cast<ptrdiff_t>(y) * w.mbpl;
    for (int x = 0; x < whole; x += 8) {
      unsigned byte = 0;
      for (int b = 0; b < 8; ++b) byte = (byte << 1) | (g[x + b] <= T);
      m[x >> 3] = static_cast<uint8_t>(byte);
    }
    for (int x = whole; x < w.W; ++x)
      if (g[x] <= T) m[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return 0;
}

void img_gray2mono_onechar_ootu(Work const& w, Box const& g) {
  int64_t h[256], n;
  int hi, lo;
  double mean;
  w.Hist(g, h);
  const int o = getThreshold_OMQ(h, &n, &hi, &lo, &mean) + 1;
  const int T = w.s < 1 ? o + w.s * (o - lo) / 16 : o + w.s * (hi - o) / 16;
  w.Threshold(g, Clamp(T, 1, 255));
}

void img_gray2mono_onechar_maxmin(Work const& w, Box const& g) {
  if (g.l < 0 || g.t < 0 || g.r >= w.W || g.b >= w.H) return;
  int mx = 0, mn = 255;
  for (int y = g.t; y <= g.b; ++y)
    for (int x = g.l; x <= g.r; ++x) mx = std::max(mx, int{w.G(x, y)}), mn = std::min(mn, int{w.G(x, y)});
  const int m = (mx + mn) / 2;
  const int T = w.s <= 0 ? m + w.s * (m - mn) / 16 : m + w.s * (mx - m) / 16;
  w.Threshold(g, Clamp(T, 1, 255));
}

// Per-pixel threshold from the pixel's window, steered by the result of its
// left and upper neighbours.
bool img_gray2mono_onepixel_nb(Work const& w, Box const& b) {
  const int dx = (b.r - b.l + 1) / 14, dy = (b.b - b.t + 1) / 14;
  const Box s{b.l + dx, b.t + dy, b.r - dx, b.b - dy};
  if (s.l > s.r || s.t > s.b) return false;
  const bool big = std::min(s.r - s.l + 1, s.b - s.t + 1) >= 30;
  const int rad = big ? 3 : 2, limit = big ? 32 : 30, area = (2 * rad + 1) * (2 * rad + 1);
  if (s.l - rad < 0 || s.t - rad < 0 || s.r + rad >= w.W || s.b + rad >= w.H) return false;
  // The window slides along each row a column at a time: its sums and
  // column extremes are updated; its levels are searched only where the
  // contrast asks for a new threshold.
  const int side = 2 * rad + 1;
  int c = 0;
  int win[49];  // window columns one after the other
  int colMax[7], colMin[7], colSum[7], colSq[7];
  for (int y = s.t; y <= s.b; ++y) {
    int64_t sum = 0, sq = 0;
    auto column = [&](int x) {
      const int k = x % side;
      int* col = win + side * k;
      int mx = 0, mn = 255, cs = 0, cq = 0;
      for (int i = 0; i < side; ++i) {
        const int g = w.G(x, y - rad + i);
        col[i] = g;
        cs += g, cq += g * g;
        mx = std::max(mx, g), mn = std::min(mn, g);
      }
      sum += cs - colSum[k], sq += cq - colSq[k];
      colSum[k] = cs, colSq[k] = cq, colMax[k] = mx, colMin[k] = mn;
    };
    std::fill(colSum, colSum + 7, 0);
    std::fill(colSq, colSq + 7, 0);
    for (int x = s.l - rad; x < s.l + rad; ++x) column(x);
    for (int x = s.l; x <= s.r; ++x) {
      column(x + rad);  // replaces column x - rad - 1
      const int v = w.G(x, y);
      if (v < std::min(w.gLow + 4, c) || v > std::max(w.gHigh - 4, c)) continue;
      int mx = 0, mn = 255;
      for (int i = 0; i < side; ++i) mx = std::max(mx, colMax[i]), mn = std::min(mn, colMin[i]);
      if (mx - mn > limit) {
        const double mean = static_cast<double>(sum) / area;
        const double sd = std::sqrt(std::max(0.0, static_cast<double>(sq) / area - mean * mean));
        int t = static_cast<int>(mean + 0.05 * sd);
        if (t >= mx) t = mx - 1;
        const int blacks = w.M(x - 1, y) + w.M(x, y - 1);
        // Occupied levels of the window next to t: the first (or second)
        // above, up to 254, or the first below.
        if (blacks > 0) {
          int l = 256;
          for (int i = 0; i < area; ++i) l = std::min(l, win[i] > t ? win[i] : 256);
          if (blacks == 2 && l < 256) {
            const int first = l;
            l = 256;
            for (int i = 0; i < area; ++i) l = std::min(l, win[i] > first ? win[i] : 256);
          }
          if (l <= 254) t = l;
        } else {
          int l = -1;
          for (int i = 0; i < area; ++i) l = std::max(l, win[i] < t ? win[i] : -1);
          if (l >= 0) t = l;
        }
        c = t;
      }
      w.Set(x, y, v <= c);
    }
  }
  return true;
}

void img_gray2mono_kuroiti_th(Work const& w, Box const& b) {
  int64_t h[256] = {}, black = 0;
  for (int y = b.t; y <= b.b; ++y)
    for (int x = b.l; x <= b.r; ++x)
      if (w.M(x, y)) ++h[w.G(x, y)], ++black;
  const int64_t p = black * 100 / (int64_t{b.r - b.l + 1} * (b.b - b.t + 1));
  int64_t n;
  int hi, lo;
  double mean;
  const int o = getThreshold_OMQ(h, &n, &hi, &lo, &mean);
  if (p <= 15 || hi - lo < 40) return;
  const int T = p > 40 ? o + 4 * w.s + 8 : o + static_cast<int>((hi - o) * 0.54) + 4 * w.s;
  const int th = Clamp(T, 1, 255);
  for (int y = b.t; y <= b.b; ++y)
    for (int x = b.l; x <= b.r; ++x)
      if (w.M(x, y) && w.G(x, y) > th) w.Set(x, y, false);
}

}  // namespace

namespace layout {

// Dynamic threshold over a whole image: each pixel's threshold follows its
// left and upper neighbours' thresholds, pulled to the window's mid level
// where the window has contrast, and drawn toward the floor.
void img_gray2mono_imgall_sdtc(const uint8_t* grey, int gbpl, int W, int H, uint8_t* mono, int mbpl,
                               SdtcParams const& p) {
  std::vector<int> above(W, p.floor);
  for (int y = 0; y < H; ++y) {
    int left = p.floor;
    for (int x = 0; x < W; ++x) {
      int mx = 0, mn = 255;
      for (int yy = std::max(y - 1, 0); yy <= std::min(y + 1, H - 1); ++yy)
        for (int xx = std::max(x - 1, 0); xx <= std::min(x + 1, W - 1); ++xx) {
          const int g = grey[static_cast<ptrdiff_t>(yy) * gbpl + xx];
          mx = std::max(mx, g), mn = std::min(mn, g);
        }
      int t = mx - mn < p.contrast ? (left + above[x]) / 2
                                   : static_cast<int>(0.75 * (mx + mn) / 2 + 0.125 * (left + above[x]));
      t = t < p.floor ? std::min(t + p.lift, p.floor) : std::max(t - p.drop, p.floor);
      const int v = grey[static_cast<ptrdiff_t>(y) * gbpl + x];
      uint8_t& b = mono[static_cast<ptrdiff_t>(y) * mbpl + (x >> 3)];
      b = t >= v ? (b | (0x80 >> (x & 7))) : (b & ~(0x80 >> (x & 7)));
      left = above[x] = t;
    }
  }
}

}  // namespace layout

namespace {

bool check_fin_rect(std::vector<Box> const& done, Box const& b) {
  for (auto const& d : done)
    if (b.l >= d.l && b.r <= d.r && b.t >= d.t && b.b <= d.b) return true;
  return false;
}

int PerComponent(Work& w, int method) {
  CABitmap bmp;
  bmp.set(w.W, w.H, 1, w.mbpl, w.mono);
  layout::CLbl_data lbl;
  if (lbl_main2(bmp, lbl.m_data) < 0) return -1;
  const int ppm = w.ppm, ag = static_cast<int>(ppm * 0.8 + 1);
  struct Comp {
    Box b;
    int L, S;
  };
  std::vector<Comp> comps;
  for (int64_t k = 1; k <= lbl.m_data.maxlabel; ++k) {
    KRECT const& r = lbl.m_data.rects[k];
    const int cw = r.xmax - r.xmin + 1, ch = r.ymax - r.ymin + 1;
    if (std::max(cw, ch) > ag) comps.push_back({{r.xmin, r.ymin, r.xmax, r.ymax}, std::max(cw, ch), std::min(cw, ch)});
  }
  lbl.Free();
  // bodycomp_rect: largest first
  std::stable_sort(comps.begin(), comps.end(), [](Comp const& a, Comp const& b) { return a.L > b.L; });
  enum { OTSU, MAXMIN, NB, KUROITI };
  std::vector<Box> done;
  const int small = std::max(ppm, ag);
  for (auto const& c : comps) {
    int kind;
    if (c.L > 25 * ppm) {
      kind = c.S >= 8 * ppm ? KUROITI : OTSU;
    } else if (method != 0) {
      if (c.L > 4 * ppm) {
        kind = OTSU;
      } else if (c.L <= small) {
        if (c.L <= ag) break;
        kind = MAXMIN;
      } else {
        kind = NB;
      }
    } else if (c.L <= 4 * ppm && c.L <= small) {
      if (c.L <= ag) break;
      kind = MAXMIN;
    } else {
      kind = OTSU;
    }
    if (c.L * 100 / c.S > 1500 || check_fin_rect(done, c.b)) continue;
    switch (kind) {
      case OTSU:
        img_gray2mono_onechar_ootu(w, w.Grown(c.b));
        done.push_back(w.Grown(c.b));
        break;
      case MAXMIN: {
        const Box g{c.b.l - 1, c.b.t - 1, c.b.r + 1, c.b.b + 1};
        img_gray2mono_onechar_maxmin(w, g);
        break;
      }
      case NB:
        if (img_gray2mono_onepixel_nb(w, c.b)) done.push_back(c.b);
        break;
      default:
        img_gray2mono_kuroiti_th(w, c.b);
        break;
    }
  }
  return 0;
}

}  // namespace

int img_img2mono(const uint8_t* pixels, int bpl, int width, int height, int size, int bits, int method, int sensitivity,
                 int xdpi, int, int left, int top, int right, int bottom, uint8_t** out, int* outBpl, int* outWidth,
                 int* outHeight, int* outSize) {
  if (bits != 8 && bits != 24) return -3;
  if (!pixels || !out || width <= 0 || height <= 0 || bpl < static_cast<int64_t>(width) * (bits / 8) || xdpi <= 0)
    return -2;
  if (size > 0 && static_cast<int64_t>(bpl) * height > size) return -2;
  left = std::max(left, 0), top = std::max(top, 0);
  right = std::min(right, width - 1), bottom = std::min(bottom, height - 1);
  if (left > right || top > bottom) return -2;
  const int W = right - left + 1, H = bottom - top + 1;
  const int gbpl = (W + 3) / 4 * 4, mbpl = (W + 7) >> 3;
  const int step = bits / 8, off = bits == 24 ? 1 : 0;
  std::vector<uint8_t> grey;
  uint8_t* mono = nullptr;
  try {
    grey.resize(static_cast<size_t>(gbpl) * H);
  } catch (std::bad_alloc const&) {
    return -1;
  }
  mono = static_cast<uint8_t*>(calloc(static_cast<size_t>(mbpl) * H, 1));
  if (!mono) return -1;
  for (int y = 0; y < H; ++y) {
    const uint8_t* src = pixels + static_cast<ptrdiff_t>(top + y) * bpl + static_cast<ptrdiff_t>(left) * step + off;
    uint8_t* dst = grey.data() + static_cast<ptrdiff_t>(y) * gbpl;
    if (step == 1)
      memcpy(dst, src, W);
    else
      for (int x = 0; x < W; ++x) dst[x] = src[static_cast<ptrdiff_t>(x) * step];
  }
  Work w{grey.data(), gbpl, W, H, mono, mbpl, Clamp(sensitivity, -5, 5), xdpi / 25, 0, 0};
  int rc = img_gray2mono_imgall_ootu(w);
  if (rc == 0 && method != -1) {
    try {
      rc = PerComponent(w, method);
    } catch (std::bad_alloc const&) {
      rc = -1;
    }
  }
  if (rc != 0) {
    free(mono);
    return rc;
  }
  *out = mono;
  if (outBpl) *outBpl = mbpl;
  if (outWidth) *outWidth = W;
  if (outHeight) *outHeight = H;
  if (outSize) *outSize = mbpl * H;
  return 0;
}

int img_img2mono_free(void** pixels) {
  if (pixels) {
    free(*pixels);
    *pixels = nullptr;
  }
  return 0;
}

int P2i_gray2mono(_P2IIMG* in, int* options, _P2IIMG* out, void*) {
  if (!in || !out || !options) return -2;
  if (in->nBitsPerPixel != 8) return -3;
  if (in->nBytesPerLine <= 0 || in->nHeight <= 0) return -2;
  if (in->nRight <= 0) in->nRight = in->nWidth - 1;
  if (in->nBottom <= 0) in->nBottom = in->nHeight - 1;
  // Bottom-up pages are read through a top-down view of their rows.
  const uint8_t* pixels = in->pImageData;
  int bpl = in->nBytesPerLine;
  if (in->nColorOrder == 1 && pixels && in->nHeight > 0) {
    pixels += static_cast<ptrdiff_t>(in->nHeight - 1) * bpl;
    bpl = -bpl;
  }
  uint8_t* mono = nullptr;
  int mbpl = 0, w = 0, h = 0, size = 0;
  int rc;
  if (bpl < 0) {
    // The engine walks rows forward: copy them in top-down order.
    std::vector<uint8_t> copy;
    try {
      copy.resize(static_cast<size_t>(-bpl) * in->nHeight);
    } catch (std::bad_alloc const&) {
      return -1;
    }
    for (int y = 0; y < in->nHeight; ++y) memcpy(copy.data() + static_cast<size_t>(y) * -bpl, pixels + static_cast<ptrdiff_t>(y) * bpl, -bpl);
    rc = img_img2mono(copy.data(), -bpl, in->nWidth, in->nHeight, static_cast<int>(copy.size()), 8, options[0], options[1],
                      in->nXResolution, in->nYResolution, in->nLeft, in->nTop, in->nRight, in->nBottom, &mono, &mbpl, &w,
                      &h, &size);
  } else {
    rc = img_img2mono(pixels, bpl, in->nWidth, in->nHeight, in->nImageSize, 8, options[0], options[1], in->nXResolution,
                      in->nYResolution, in->nLeft, in->nTop, in->nRight, in->nBottom, &mono, &mbpl, &w, &h, &size);
  }
  if (rc != 0) return rc;
  memset(out, 0, sizeof *out);
  out->pImageData = mono;
  out->nBitsPerPixel = 1;
  out->nWidth = w;
  out->nHeight = h;
  out->nBytesPerLine = mbpl;
  out->nImageSize = size;
  out->nXResolution = in->nXResolution;
  out->nYResolution = in->nYResolution;
  out->nRight = w - 1;
  out->nBottom = h - 1;
  return 0;
}

int P2i_gray2mono_free(_P2IIMG*, int*, void** pixels, void*) { return img_img2mono_free(pixels); }
