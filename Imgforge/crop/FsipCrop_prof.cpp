// Box-averaged brightness profiles along rows, columns and lines, their
// gradients, and the inverse tone table every profile reads through.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FsipCrop.h"

namespace fsipcrop {

uint8_t gbyLUT4InvXf[256];

namespace {

// Column (or row) sums of one scan line; one request at a time uses it.
std::vector<uint32_t>& Scratch(size_t n) {
  static std::vector<uint32_t> buf;
  if (buf.size() < n) buf.resize(n);
  return buf;
}

inline int Channels(const _P2IIMG* img) { return img->nBitsPerPixel == 24 ? 3 : 1; }

// Box mean of the mapped pixels around (x, y), times 256, channel c.
inline uint32_t BoxMean(const _P2IIMG* img, int x, int y, int h, int n, int c) {
  const int ch = Channels(img);
  uint32_t sum = 0;
  for (int r = y - h; r <= y + h; ++r) {
    const uint8_t* row = img->pImageData + static_cast<size_t>(r) * img->nBytesPerLine;
    for (int k = x - h; k <= x + h; ++k) sum += gbyLUT4InvXf[row[static_cast<size_t>(k) * ch + c]];
  }
  return sum * 256u / static_cast<uint32_t>(n * n);
}

// The window's slide for CH channels a position, CH known to the compiler
// so that the channels' sums stay in registers; the last position adds
// nothing.
template <int CH, class Mean>
void Slide(const uint32_t* sums, int count, int h, size_t stride, uint32_t* out, Mean mean) {
  uint32_t s[CH] = {};
  for (int k = 0; k <= 2 * h; ++k)
    for (int c = 0; c < CH; ++c) s[c] += sums[k * stride + c];
  const int last = count - h - 1;
  for (int x = h; x < last; ++x) {
    const uint32_t* add = sums + (x + h + 1) * stride;
    const uint32_t* drop = sums + (x - h) * stride;
    for (int c = 0; c < CH; ++c) {
      out[x * CH + c] = mean(s[c]);
      s[c] += add[c] - drop[c];
    }
  }
  for (int c = 0; c < CH; ++c) out[last * CH + c] = mean(s[c]);
}

// Slides a window of 2h+1 sums over `sums` (count positions, ch values
// each) into out, then copies the ends.
void SlideWindow(const uint32_t* sums, int count, int ch, int h, int n, uint32_t* out, size_t stride = 0) {
  if (count < 2 * h + 1) return;
  if (stride == 0) stride = static_cast<size_t>(ch);
  const uint32_t div = static_cast<uint32_t>(n * n);
  // The 3 x 3 box of the scans divides by a constant the compiler can turn
  // into a multiplication.
  auto nine = [](uint32_t v) { return v * 256u / 9u; };
  auto any = [div](uint32_t v) { return v * 256u / div; };
  // All channels of a position together: the sums may lie a row apart.
  if (ch == 3 && div == 9)
    Slide<3>(sums, count, h, stride, out, nine);
  else if (ch == 3)
    Slide<3>(sums, count, h, stride, out, any);
  else if (div == 9)
    Slide<1>(sums, count, h, stride, out, nine);
  else
    Slide<1>(sums, count, h, stride, out, any);
  for (int c = 0; c < ch; ++c) {
    for (int x = 0; x < h; ++x) out[x * ch + c] = out[h * ch + c];
    for (int x = count - h; x < count; ++x) out[x * ch + c] = out[(count - h - 1) * ch + c];
  }
}

}  // namespace

int AllcAveBuff(int n, bool colour, uint32_t** ave, int32_t** grad) {
  size_t count = static_cast<size_t>(n > 0 ? n : 0) * (colour ? 3 : 1);
  if (count == 0) count = 1;
  *ave = static_cast<uint32_t*>(calloc(count, sizeof(uint32_t)));
  *grad = nullptr;
  if (!*ave) return 0;
  *grad = static_cast<int32_t*>(calloc(count, sizeof(int32_t)));
  if (!*grad) {
    free(*ave);
    *ave = nullptr;
    return 0;
  }
  return 1;
}

void FreeAveBuff(uint32_t* ave, int32_t* grad) {
  free(ave);
  free(grad);
}

void GetRowAve(const _P2IIMG* img, int row, int n, uint32_t* out) {
  const int h = n / 2, ch = Channels(img), w = img->nWidth;
  auto& sums = Scratch(static_cast<size_t>(w) * ch);
  std::fill(sums.begin(), sums.begin() + static_cast<size_t>(w) * ch, 0u);
  for (int r = row - h; r <= row + h; ++r) {
    const uint8_t* p = img->pImageData + static_cast<size_t>(r) * img->nBytesPerLine;
    for (int k = 0; k < w * ch; ++k) sums[k] += gbyLUT4InvXf[p[k]];
  }
  SlideWindow(sums.data(), w, ch, h, n, out);
}

void SlideColumnSums(const uint32_t* sums, int count, int ch, size_t stride, uint32_t* out) {
  SlideWindow(sums, count, ch, 1, 3, out, stride);
}

void SlideColumnBlock(const uint32_t* sums, int count, int ch, size_t stride, int columns, uint32_t* out) {
  if (count < 3) return;
  const size_t width = static_cast<size_t>(columns) * ch, profile = static_cast<size_t>(count) * ch;
  // Row by row across the block's columns, so that each row of sums is read
  // once while in the cache; a window's sum taken afresh is the running
  // sum's value, both modulo 2^32.
  for (int x = 1; x + 1 < count; ++x) {
    const uint32_t* above = sums + static_cast<size_t>(x - 1) * stride;
    const uint32_t* at = above + stride;
    const uint32_t* below = at + stride;
    uint32_t* o = out + static_cast<size_t>(x) * ch;
    for (size_t j = 0; j < width; j += ch, o += profile)
      for (int c = 0; c < ch; ++c) o[c] = (above[j + c] + at[j + c] + below[j + c]) * 256u / 9u;
  }
  for (int k = 0; k < columns; ++k) {
    uint32_t* o = out + static_cast<size_t>(k) * profile;
    for (int c = 0; c < ch; ++c) {
      o[c] = o[ch + c];
      o[static_cast<size_t>(count - 1) * ch + c] = o[static_cast<size_t>(count - 2) * ch + c];
    }
  }
}

void GetClmAve(const _P2IIMG* img, int col, int n, uint32_t* out) {
  const int h = n / 2, ch = Channels(img), ht = img->nHeight;
  auto& sums = Scratch(static_cast<size_t>(ht) * ch);
  const uint8_t* base = img->pImageData + static_cast<size_t>(col - h) * ch;
  for (int r = 0; r < ht; ++r) {
    const uint8_t* p = base + static_cast<size_t>(r) * img->nBytesPerLine;
    for (int c = 0; c < ch; ++c) {
      uint32_t s = 0;
      for (int k = 0; k <= 2 * h; ++k) s += gbyLUT4InvXf[p[k * ch + c]];
      sums[static_cast<size_t>(r) * ch + c] = s;
    }
  }
  SlideWindow(sums.data(), ht, ch, h, n, out);
}

namespace {

// Mapped-pixel sums of the short runs that make up a profile sample's box:
// for a steep line the run of row `pos` across columns v-h..v+h, for a flat
// one the run of column `pos` across rows v-h..v+h. Neighbouring samples on
// the same cross coordinate share all but one run, so a sample costs one
// new run instead of a whole box.
struct BoxRuns {
  static constexpr int kMax = 31;
  static constexpr int kAhead = 8;
  const _P2IIMG* img;
  bool steep;
  int h, n, ch;
  uint32_t runs[kMax][3];
  int first = 0;  // ring slot of the box's first run
  int pos = 0;    // along position of the box centre
  int v = 0;      // its cross coordinate
  bool ready = false;

  void Run(int along, int cross, uint32_t* s) const {
    const size_t bpl = static_cast<size_t>(img->nBytesPerLine);
    if (n == 3) {
      // Every caller's box: three pixels, spelt out.
      const uint8_t* p = steep
                             ? img->pImageData + static_cast<size_t>(along) * bpl + static_cast<size_t>(cross - 1) * ch
                             : img->pImageData + static_cast<size_t>(cross - 1) * bpl + static_cast<size_t>(along) * ch;
      const size_t step = steep ? static_cast<size_t>(ch) : bpl;
      const uint8_t* L = gbyLUT4InvXf;
      for (int c = 0; c < ch; ++c) s[c] = L[p[c]] + L[p[step + c]] + L[p[2 * step + c]];
      return;
    }
    s[0] = s[1] = s[2] = 0;
    if (steep) {
      const uint8_t* p = img->pImageData + static_cast<size_t>(along) * bpl + static_cast<size_t>(cross - h) * ch;
      for (int k = 0; k < n * ch; k += ch)
        for (int c = 0; c < ch; ++c) s[c] += gbyLUT4InvXf[p[k + c]];
    } else {
      const uint8_t* p = img->pImageData + static_cast<size_t>(cross - h) * bpl + static_cast<size_t>(along) * ch;
      for (int r = 0; r < n; ++r, p += bpl)
        for (int c = 0; c < ch; ++c) s[c] += gbyLUT4InvXf[p[c]];
    }
  }
  // The box sums about (along j, cross x) into sum[0..ch).
  void Box(int j, int x, uint32_t* sum) {
    if (ready && x == v && j == pos + 1) {
      // A steep line steps a row, and a page, at every sample: ask for the
      // row a few samples ahead so that its pixels are there in time.
      if (steep && j + h + kAhead < img->nHeight)
        __builtin_prefetch(img->pImageData + static_cast<size_t>(j + h + kAhead) * img->nBytesPerLine +
                           static_cast<size_t>(x - h) * ch);
      Run(j + h, x, runs[first]);  // the run leaving the box makes room
      first = (first + 1) % n;
    } else {
      for (int k = 0; k < n; ++k) Run(j - h + k, x, runs[k]);
      first = 0;
      ready = true;
    }
    pos = j;
    v = x;
    for (int c = 0; c < ch; ++c) {
      uint32_t t = 0;
      for (int k = 0; k < n; ++k) t += runs[k][c];
      sum[c] = t;
    }
  }
};

}  // namespace

void GetAveOnSL(const _P2IIMG* img, int n, int* first, int* last, uint32_t* out, _STRTLINE line) {
  const int h = n / 2, w = img->nWidth, ht = img->nHeight, ch = Channels(img);
  int x0, x1, y0, y1;
  if (gbFBFrameSearch && gbExecTabProc) {
    x0 = std::max(gnFrameL, h);
    x1 = std::min(gnFrameR, w - 1 - h);
    y0 = std::max(gnFrameT, h);
    y1 = std::min(gnFrameB, ht - 1 - h);
  } else {
    int g = static_cast<int>(gdblGrayZone + 0.5);
    int m = h < g ? g : h;
    x0 = m;
    x1 = w - 1 - m;
    y0 = m;
    y1 = ht - 1 - m;
  }
  const int from = std::min(*first, *last), to = std::max(*first, *last);
  *first = *last = -1;
  const bool steep = IsSteep(line);
  const bool runs = 2 * h + 1 == n && n <= BoxRuns::kMax;
  BoxRuns box{img, steep, h, n, ch, {}};
  const uint32_t div = static_cast<uint32_t>(n * n);
  bool written = false;
  for (int j = from; j <= to; ++j) {
    double v;
    if (steep)
      v = line.bVert ? std::trunc(line.dX + 0.5) : std::trunc((-j - line.dB) / line.dA + 0.5);
    else
      v = -std::trunc(line.dA * j + line.dB + 0.5);
    const bool in = std::isfinite(v) &&
                    (steep ? (j >= y0 && j <= y1 && v >= x0 && v <= x1) : (j >= x0 && j <= x1 && v >= y0 && v <= y1));
    if (!in) {
      if (written) {
        *last = j - 1;
        return;
      }
      continue;
    }
    const int x = steep ? static_cast<int>(v) : j, y = steep ? j : static_cast<int>(v);
    if (runs) {
      uint32_t s[3];
      box.Box(j, static_cast<int>(v), s);
      // The 3 x 3 box of every caller divides by a constant, a multiplication.
      for (int c = 0; c < ch; ++c)
        out[static_cast<size_t>(j) * ch + c] = div == 9 ? s[c] * 256u / 9u : s[c] * 256u / div;
    } else {
      for (int c = 0; c < ch; ++c) out[static_cast<size_t>(j) * ch + c] = BoxMean(img, x, y, h, n, c);
    }
    if (!written) *first = j;
    written = true;
  }
  if (written) *last = to;
}

void GetGrad(const uint32_t* p, int n, bool colour, int32_t* g) {
  if (n <= 0) return;
  if (!colour) {
    g[0] = 0;
    for (int k = 1; k < n - 1; ++k) g[k] = static_cast<int32_t>(p[k + 1]) - static_cast<int32_t>(p[k - 1]);
    g[n - 1] = 0;
    return;
  }
  for (int c = 0; c < 3; ++c) {
    int32_t* plane = g + static_cast<size_t>(c) * n;
    plane[0] = 0;
    for (int k = 1; k < n - 1; ++k)
      plane[k] = static_cast<int32_t>(p[3 * (k + 1) + c]) - static_cast<int32_t>(p[3 * (k - 1) + c]);
    plane[n - 1] = 0;
  }
}

int IsPeak(const int32_t* g, int n, int i, int* isMax) {
  auto at = [g, n](int k) { return g[std::clamp(k, 0, n - 1)]; };
  const int32_t v = at(i);
  int32_t l = at(i - 1), r = at(i + 1);
  if (l == v) l = at(i - 2);
  if (r == v) r = at(i + 2);
  const bool mx = v > l && v > r, mn = v < l && v < r;
  *isMax = mx ? 1 : 0;
  return mx || mn ? 1 : 0;
}

void MakeLUT4InvXf(const unsigned char* block) {
  if (!block) {
    for (int k = 0; k < 256; ++k) gbyLUT4InvXf[k] = static_cast<uint8_t>(gbInv ? 255 - k : k);
    return;
  }
  std::memset(gbyLUT4InvXf, 0, sizeof gbyLUT4InvXf);
  if (((block[4] << 8) | block[5]) != 256) return;
  const unsigned char* t = block + 10;
  auto smallestAtLeast = [t](int level) {
    for (int j = 0; j < 256; ++j)
      if (t[j] >= level) return j;
    return 255;
  };
  if (!gbInv) {
    gbyLUT4InvXf[0] = 0;
    for (int k = 1; k < 256; ++k) gbyLUT4InvXf[k] = static_cast<uint8_t>(smallestAtLeast(k - 1));
  } else {
    for (int k = 0; k < 256; ++k) gbyLUT4InvXf[k] = static_cast<uint8_t>(255 - smallestAtLeast(255 - k));
  }
}

void MakeLUT4InvXf(uint8_t type, const unsigned char* block) { MakeLUT4InvXf((type & 0x7F) == 3 ? block : nullptr); }

int ApplyDefaultLUT(_P2IIMG* img, int* owned) {
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) {
    if (i < 20)
      table[i] = 0;
    else if (i >= 230)
      table[i] = 255;
    else
      table[i] = static_cast<uint8_t>(
          std::min(255.0, std::trunc(255 * std::pow((i - 20) * 1.2142857142857142 / 255, 0.625) + 0.5)));
  }
  auto* buf = static_cast<uint8_t*>(calloc(img->nImageSize > 0 ? img->nImageSize : 1, 1));
  if (!buf) return -1;
  for (int r = 0; r < img->nHeight; ++r) {
    size_t off = static_cast<size_t>(r) * img->nBytesPerLine;
    if (off + img->nBytesPerLine > static_cast<size_t>(img->nImageSize)) break;
    for (int k = 0; k < img->nBytesPerLine; ++k) buf[off + k] = table[img->pImageData[off + k]];
  }
  if (*owned) free(img->pImageData);
  img->pImageData = buf;
  *owned = 1;
  return 0;
}

int MakeLUTTbl(uint8_t** table, const char* /*name*/, uint8_t /*value*/) {
  *table = static_cast<uint8_t*>(malloc(256));
  if (!*table) return -1;
  for (int i = 0; i < 256; ++i) (*table)[i] = static_cast<uint8_t>(i);
  return 0;
}

int LUTCalibration(_P2IIMG* img, const uint8_t* table) {
  if (!img->pImageData || !table) return 0;
  for (int k = 0; k < img->nImageSize; ++k) img->pImageData[k] = table[img->pImageData[k]];
  return 1;
}

}  // namespace fsipcrop
