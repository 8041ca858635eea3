// Image services of the deskew-and-crop engine: memory, the analysis image
// (resampled, background subtracted, one 8-bit channel), the rotated and
// upright output crops and the border fills.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "I3ipDeskewCropping.h"

namespace i3ipdc {

namespace {

inline int BytesPerPixel(const I3ipImageInfo* img) { return img->Bpp == 24 ? 3 : 1; }

// Band width of the border fills: Dpi / 37.5, kept to 11 bits.
inline int EdgeBand(const I3ipImageInfo* img) { return ((img->Dpi * 2) / 75) & 0x7FF; }

}  // namespace

int AllocMem(unsigned char** out, int size) {
  *out = static_cast<unsigned char*>(std::calloc(size > 0 ? static_cast<size_t>(size) : 1, 1));
  return *out ? kOk : kNoMemory;
}

void FreeMem(unsigned char* p) {
  if (p) std::free(p);
}

int AllocImage(I3ipImageInfo* img) {
  if (img->Bpp == 1)
    img->Bpl = (img->Width + 7) / 8;
  else if (img->Bpp == 8)
    img->Bpl = img->Width;
  else
    img->Bpl = img->Width * 3;
  img->DataSize = img->Bpl * img->Height;
  return AllocMem(&img->Data, static_cast<int>(img->DataSize));
}

int CloneImage(const I3ipImageInfo* in, I3ipImageInfo* out) {
  *out = *in;
  out->Data = nullptr;
  if (AllocMem(&out->Data, static_cast<int>(in->DataSize)) != kOk) return kNoMemory;
  if (in->DataSize) std::memcpy(out->Data, in->Data, in->DataSize);
  return kOk;
}

int GetDiagonalLength(const I3ipImageInfo* img) {
  const int64_t w = img->Width, h = img->Height;
  return static_cast<int>(std::sqrt(static_cast<double>(w * w + h * h)) + 0.5);
}

namespace {

template <class P>
unsigned char* PixelAt(const I3ipImageInfo* img, const P& p) {
  if (p.x < 0 || p.y < 0 || p.x >= static_cast<int64_t>(img->Width) || p.y >= static_cast<int64_t>(img->Height))
    return nullptr;
  return img->Data + static_cast<size_t>(p.y) * img->Bpl + static_cast<size_t>(p.x) * BytesPerPixel(img);
}

}  // namespace

bool GetPixelValue(const I3ipImageInfo* img, tagPOINT p, unsigned char* out) {
  const unsigned char* px = PixelAt(img, p);
  if (px) std::memcpy(out, px, BytesPerPixel(img));
  return px != nullptr;
}
bool GetPixelValue(const I3ipImageInfo* img, _EDGE p, unsigned char* out) {
  const unsigned char* px = PixelAt(img, p);
  if (px) std::memcpy(out, px, BytesPerPixel(img));
  return px != nullptr;
}
bool SetPixelValue(I3ipImageInfo* img, tagPOINT p, const unsigned char* value) {
  unsigned char* px = PixelAt(img, p);
  if (px) std::memcpy(px, value, BytesPerPixel(img));
  return px != nullptr;
}
bool SetPixelValue(I3ipImageInfo* img, _EDGE p, const unsigned char* value) {
  unsigned char* px = PixelAt(img, p);
  if (px) std::memcpy(px, value, BytesPerPixel(img));
  return px != nullptr;
}

// ---- analysis image ----------------------------------------------------------

int GetBackgroundData(const I3ipImageInfo* img, unsigned char* row) {
  if (img->Height < 16) return kLowResolution;
  const size_t bytes = static_cast<size_t>(img->Width) * BytesPerPixel(img);
  for (size_t i = 0; i < bytes; ++i) {
    unsigned sum = 0;
    for (int r = 0; r < 16; ++r) sum += img->Data[static_cast<size_t>(r) * img->Bpl + i];
    row[i] = static_cast<unsigned char>(sum >> 4);
  }
  return kOk;
}

int OverScanImage(const I3ipImageInfo* in, I3ipImageInfo* out) {
  I3ipImageInfo w = *in;
  w.Width = in->Width + 32;
  w.Height = in->Height + 32;
  w.Bpl = ((in->Width + 32) * in->Bpp + 7) / 8;
  // The block holds every row written, the 32 border rows included.
  w.DataSize = w.Bpl * w.Height;
  w.Data = nullptr;
  if (AllocMem(&w.Data, static_cast<int>(w.DataSize)) != kOk) return kNoMemory;
  const int bpp = BytesPerPixel(in);
  const size_t bytes = static_cast<size_t>(in->Width) * bpp;
  for (uint32_t r = 0; r < in->Height; ++r)
    std::memcpy(w.Data + static_cast<size_t>(r + 16) * w.Bpl + 16 * bpp, in->Data + static_cast<size_t>(r) * in->Bpl,
                bytes);
  *out = w;
  return kOk;
}

namespace {

void MaxRows(const unsigned char* src, uint32_t srcBpl, unsigned char* dst, uint32_t width, uint32_t height) {
  for (uint32_t y = 0; y < height; ++y) {
    const unsigned char* s = src + static_cast<size_t>(y) * srcBpl;
    unsigned char* d = dst + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; ++x, s += 3) {
      unsigned char m = s[0] > s[1] ? s[0] : s[1];
      d[x] = m > s[2] ? m : s[2];
    }
  }
}

}  // namespace

int GetMaxImage(I3ipImageInfo* img) {
  // Row y lands at y * Width, never past where row y is read from: safe in place.
  MaxRows(img->Data, img->Bpl, img->Data, img->Width, img->Height);
  img->Bpp = 8;
  img->Bpl = img->Width;
  img->DataSize = img->Height * img->Width;
  return kOk;
}

int GetMaxImage(const I3ipImageInfo* in, I3ipImageInfo* out) {
  I3ipImageInfo w = *in;
  w.Bpp = 8;
  w.Bpl = in->Width;
  w.DataSize = in->Height * in->Width;
  w.Data = nullptr;
  if (AllocMem(&w.Data, static_cast<int>(w.DataSize)) != kOk) return kNoMemory;
  MaxRows(in->Data, in->Bpl, w.Data, in->Width, in->Height);
  *out = w;
  return kOk;
}

int ModifyImageForAnalysis(const I3ipImageInfo* in, bool subtractBackground, I3ipImageInfo* out) {
  I3ipImageInfo w = *in;
  w.Data = nullptr;
  if (subtractBackground) {
    unsigned char* background = nullptr;
    if (AllocMem(&w.Data, static_cast<int>(in->DataSize)) != kOk) return kNoMemory;
    if (AllocMem(&background, static_cast<int>(in->Bpl)) != kOk) {
      FreeMem(w.Data);
      return kNoMemory;
    }
    // Fewer than 16 rows: the row stays zero and nothing is subtracted.
    GetBackgroundData(in, background);
    if (in->Bpp == 24) {
      // Subtraction and the largest channel in one pass: rows land at
      // Width bytes apart, as GetMaxImage would put them.
      for (uint32_t y = 0; y < in->Height; ++y) {
        const unsigned char* s = in->Data + static_cast<size_t>(y) * in->Bpl;
        unsigned char* d = w.Data + static_cast<size_t>(y) * in->Width;
        for (uint32_t x = 0; x < in->Width; ++x, s += 3) {
          const unsigned char* b = background + 3 * x;
          const int r = s[0] - b[0], g = s[1] - b[1], bl = s[2] - b[2];
          d[x] = static_cast<unsigned char>(std::max(std::max(r, g), std::max(bl, 0)));
        }
      }
      w.Bpp = 8;
      w.Bpl = in->Width;
      w.DataSize = in->Height * in->Width;
    } else {
      const size_t bytes = in->Width;
      for (uint32_t y = 0; y < in->Height; ++y) {
        const unsigned char* s = in->Data + static_cast<size_t>(y) * in->Bpl;
        unsigned char* d = w.Data + static_cast<size_t>(y) * in->Bpl;
        for (size_t i = 0; i < bytes; ++i) d[i] = static_cast<unsigned char>(std::max(s[i] - background[i], 0));
      }
    }
    FreeMem(background);
  } else if (OverScanImage(in, &w) != kOk) {
    return kNoMemory;
  }
  if (w.Bpp == 24) GetMaxImage(&w);
  *out = w;
  return kOk;
}

void ZoomQuadrupleOneLine(const unsigned char* src, int width, bool colour, unsigned char* dst) {
  const int bpp = colour ? 3 : 1;
  for (int j = 0; j < width; ++j) {
    // The last pixel leans towards the one before it (itself in a one-pixel row).
    const int other = j + 1 < width ? j + 1 : (j > 0 ? j - 1 : j);
    for (int c = 0; c < bpp; ++c) {
      const int a = src[j * bpp + c], b = src[other * bpp + c];
      for (int k = 0; k < 4; ++k) dst[(4 * j + k) * bpp + c] = static_cast<unsigned char>((k * b + (4 - k) * a) / 4);
    }
  }
}

void InterpolateThreeLines(unsigned char* upper, const unsigned char* lower, int bytes, int bpl) {
  for (int k = 1; k <= 3; ++k) {
    unsigned char* d = upper + static_cast<size_t>(k) * bpl;
    for (int j = 0; j < bytes; ++j) d[j] = static_cast<unsigned char>((k * lower[j] + (4 - k) * upper[j]) / 4);
  }
}

namespace {

// Halving, background subtraction and the largest channel in one pass: the
// pixels that resampling first and ModifyImageForAnalysis after would give,
// without the half-size copy between them. r: the halved record.
int HalveForAnalysis(const I3ipImageInfo* in, I3ipImageInfo r, I3ipImageInfo* out) {
  const int bpp = BytesPerPixel(in);
  const uint32_t w = r.Width, h = r.Height;
  unsigned char* background = nullptr;
  if (AllocMem(&background, static_cast<int>(w) * bpp) != kOk) return kNoMemory;
  if (AllocMem(&r.Data, static_cast<int>(w * h)) != kOk) {
    FreeMem(background);
    return kNoMemory;
  }
  // The halved image's first 16 rows are the input's even rows 0 to 30.
  if (h >= 16)
    for (uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < bpp; ++c) {
        unsigned sum = 0;
        for (int k = 0; k < 16; ++k) sum += in->Data[static_cast<size_t>(2 * k) * in->Bpl + 2 * x * bpp + c];
        background[x * bpp + c] = static_cast<unsigned char>(sum >> 4);
      }
  for (uint32_t y = 0; y < h; ++y) {
    const unsigned char* s = in->Data + static_cast<size_t>(2 * y) * in->Bpl;
    unsigned char* d = r.Data + static_cast<size_t>(y) * w;
    if (bpp == 3) {
      for (uint32_t x = 0; x < w; ++x, s += 6) {
        const unsigned char* b = background + 3 * x;
        d[x] = static_cast<unsigned char>(std::max(std::max(s[0] - b[0], s[1] - b[1]), std::max(s[2] - b[2], 0)));
      }
    } else {
      for (uint32_t x = 0; x < w; ++x) d[x] = static_cast<unsigned char>(std::max(s[2 * x] - background[x], 0));
    }
  }
  FreeMem(background);
  r.Bpp = 8;
  r.Bpl = w;
  r.DataSize = w * h;
  *out = r;
  return kOk;
}

}  // namespace

int GetAnalyticalImage(const I3ipImageInfo* in, int mode, I3ipImageInfo* out, double* scale, bool* allocated) {
  const int dpi = in->Dpi;
  if (dpi < 50) return kLowResolution;
  const bool subtract = (mode & 1) != 0, raw = (mode & 4) != 0;
  if (dpi >= 150 && dpi < 300) {
    *scale = 1;
    if (raw) {
      std::memset(out, 0, sizeof *out);
      *allocated = false;
      return kOk;
    }
    const int rc = ModifyImageForAnalysis(in, subtract, out);
    if (rc == kOk) *allocated = true;
    return rc;
  }
  I3ipImageInfo r = *in;
  if (dpi < 75) {
    *scale = 4;
    r.Width = in->Width * 4;
    r.Height = in->Height * 4;
    r.Dpi = static_cast<uint16_t>(dpi * 4);
  } else if (dpi < 150) {
    *scale = 2;
    r.Width = in->Width * 2;
    r.Height = in->Height * 2;
    r.Dpi = static_cast<uint16_t>(dpi * 2);
  } else {
    *scale = 0.5;
    r.Width = (in->Width + 1) / 2;
    r.Height = (in->Height + 1) / 2;
    r.Dpi = static_cast<uint16_t>(dpi / 2);
  }
  r.Bpl = (r.Width * in->Bpp + 7) / 8;
  r.DataSize = r.Bpl * r.Height;
  r.Data = nullptr;
  if (*scale == 0.5 && subtract && !raw && (in->Bpp == 8 || in->Bpp == 24)) {
    const int rc = HalveForAnalysis(in, r, out);
    if (rc == kOk) *allocated = true;
    return rc;
  }
  if (AllocMem(&r.Data, static_cast<int>(r.DataSize)) != kOk) return kNoMemory;
  const int bpp = BytesPerPixel(in);
  const auto srcRow = [&](uint32_t y) { return in->Data + static_cast<size_t>(y) * in->Bpl; };
  const auto dstRow = [&](uint32_t y) { return r.Data + static_cast<size_t>(y) * r.Bpl; };
  const int rowBytes = static_cast<int>(r.Width) * bpp;
  if (*scale == 4) {
    for (uint32_t y = 0; y < in->Height; ++y) {
      ZoomQuadrupleOneLine(srcRow(y), static_cast<int>(in->Width), bpp == 3, dstRow(4 * y));
      if (y > 0) InterpolateThreeLines(dstRow(4 * (y - 1)), dstRow(4 * y), rowBytes, static_cast<int>(r.Bpl));
    }
    if (in->Height > 0) {
      const uint32_t last = 4 * (in->Height - 1);
      for (uint32_t k = 1; k <= 3; ++k) std::memcpy(dstRow(last + k), dstRow(last), rowBytes);
    }
  } else if (*scale == 2) {
    for (uint32_t y = 0; y < in->Height; ++y) {
      const unsigned char* s = srcRow(y);
      unsigned char* d = dstRow(2 * y);
      for (uint32_t x = 0; x < in->Width; ++x)
        for (int c = 0; c < bpp; ++c) d[(2 * x) * bpp + c] = d[(2 * x + 1) * bpp + c] = s[x * bpp + c];
      std::memcpy(dstRow(2 * y + 1), d, rowBytes);
    }
  } else {
    for (uint32_t y = 0; y < r.Height; ++y) {
      const unsigned char* s = srcRow(2 * y);
      unsigned char* d = dstRow(y);
      if (bpp == 3)
        for (uint32_t x = 0; x < r.Width; ++x, d += 3, s += 6) d[0] = s[0], d[1] = s[1], d[2] = s[2];
      else
        for (uint32_t x = 0; x < r.Width; ++x) d[x] = s[2 * x];
    }
  }
  if (raw) {
    *out = r;
    *allocated = true;
    return kOk;
  }
  const int rc = ModifyImageForAnalysis(&r, subtract, out);
  FreeMem(r.Data);
  if (rc == kOk) *allocated = true;
  return rc;
}

// ---- output and fills --------------------------------------------------------

namespace {

// Coordinates carry 30 fractional bits; the sampling uses the top 10 of
// them. Steps truncated to 10 bits would drift a pixel every 1024 pixels.
constexpr int kFrac = 30;

// product[f][a] = (a x f) >> 8, laid out by weight so that the four rows
// one pixel uses stay in the first-level cache.
struct ProductTable {
  unsigned char t[256][256];
  ProductTable() {
    for (int f = 0; f < 256; ++f)
      for (int a = 0; a < 256; ++a) t[f][a] = static_cast<unsigned char>((a * f) >> 8);
  }
};

// Floor and ceiling of a / b for b > 0.
inline int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// Narrows [*first, *end) to the columns col with lo <= v0 + col x dv < hi.
void KeepWithin(int64_t v0, int64_t dv, int64_t lo, int64_t hi, int64_t* first, int64_t* end) {
  int64_t a = 0, b = 0;
  if (dv == 0) {
    if (v0 >= lo && v0 < hi) return;
  } else if (dv > 0) {
    a = CeilDiv(lo - v0, dv);
    b = CeilDiv(hi - v0, dv);
  } else {
    a = FloorDiv(v0 - hi, -dv) + 1;
    b = FloorDiv(v0 - lo, -dv) + 1;
  }
  *first = std::max(*first, a);
  *end = std::min(*end, b);
}

// One output pixel with the bounds test: black where a neighbour would lie
// outside the source.
template <int kChannels>
inline void SampleChecked(const I3ipImageInfo* src, const ProductTable& p, int64_t x, int64_t y, unsigned char* d) {
  const int64_t xi = x >> kFrac, yi = y >> kFrac;
  if (x < 0 || y < 0 || xi >= static_cast<int64_t>(src->Width) - 1 || yi >= static_cast<int64_t>(src->Height) - 1) {
    for (int k = 0; k < kChannels; ++k) d[k] = 0;
    return;
  }
  const int fx = static_cast<int>((x >> (kFrac - 8)) & 255), fy = static_cast<int>((y >> (kFrac - 8)) & 255);
  const unsigned char* p0 = src->Data + static_cast<size_t>(yi) * src->Bpl + xi * kChannels;
  const unsigned char* p1 = p0 + src->Bpl;
  const unsigned char *wx0 = p.t[255 - fx], *wx1 = p.t[fx], *wy0 = p.t[255 - fy], *wy1 = p.t[fy];
  for (int k = 0; k < kChannels; ++k) {
    const int top = wx0[p0[k]] + wx1[p0[k + kChannels]];
    const int bottom = wx0[p1[k]] + wx1[p1[k + kChannels]];
    d[k] = static_cast<unsigned char>(wy0[top] + wy1[bottom]);
  }
}

// One grey pixel whose neighbours lie inside the source.
inline unsigned char GreyInner(const unsigned char* data, size_t bpl, const ProductTable& p, int64_t x, int64_t y) {
  const int fx = static_cast<int>((x >> (kFrac - 8)) & 255), fy = static_cast<int>((y >> (kFrac - 8)) & 255);
  const unsigned char* p0 = data + static_cast<size_t>(y >> kFrac) * bpl + static_cast<size_t>(x >> kFrac);
  const unsigned char* p1 = p0 + bpl;
  const unsigned char *wx0 = p.t[255 - fx], *wx1 = p.t[fx];
  const int top = wx0[p0[0]] + wx1[p0[1]], bottom = wx0[p1[0]] + wx1[p1[1]];
  return static_cast<unsigned char>(p.t[255 - fy][top] + p.t[fy][bottom]);
}

#if defined(__SSE2__)
// Grey weights as 16-bit lanes: wx[f] = {255 - f, f, 255 - f, f} for the
// two neighbours of the upper and the lower row, wy[f] = {255 - f, f}.
struct GreyWeights {
  uint64_t wx[256];
  uint32_t wy[256];
  GreyWeights() {
    for (uint64_t f = 0; f < 256; ++f) {
      wx[f] = (255 - f) | f << 16 | (255 - f) << 32 | f << 48;
      wy[f] = static_cast<uint32_t>((255 - f) | f << 16);
    }
  }
};
#else
struct GreyWeights {};
#endif

// n grey pixels whose neighbours all lie inside the source.
void InnerGrey(const I3ipImageInfo* src, const ProductTable& p, const GreyWeights& w, int64_t x, int64_t y, int64_t c,
               int64_t s, int64_t n, unsigned char* d) {
  static_cast<void>(w);  // unused without SSE2
  const unsigned char* data = src->Data;
  const size_t bpl = src->Bpl;
  int64_t i = 0;
#if defined(__SSE2__)
  // Four pixels at a time; every product stays below 65536, so 16-bit lanes
  // give the table's (a x f) >> 8 exactly.
  const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1);
  for (; i + 4 <= n; i += 4, d += 4) {
    uint32_t q[4];
    uint64_t wx[4];
    uint32_t wy[4];
    for (int k = 0; k < 4; ++k, x += c, y += s) {
      const unsigned char* p0 = data + static_cast<size_t>(y >> kFrac) * bpl + static_cast<size_t>(x >> kFrac);
      uint16_t upper, lower;
      std::memcpy(&upper, p0, 2);
      std::memcpy(&lower, p0 + bpl, 2);
      q[k] = upper | static_cast<uint32_t>(lower) << 16;
      wx[k] = w.wx[(x >> (kFrac - 8)) & 255];
      wy[k] = w.wy[(y >> (kFrac - 8)) & 255];
    }
    const __m128i v = _mm_setr_epi32(static_cast<int>(q[0]), static_cast<int>(q[1]), static_cast<int>(q[2]),
                                     static_cast<int>(q[3]));
    const __m128i wl = _mm_set_epi64x(static_cast<int64_t>(wx[1]), static_cast<int64_t>(wx[0]));
    const __m128i wh = _mm_set_epi64x(static_cast<int64_t>(wx[3]), static_cast<int64_t>(wx[2]));
    // {top, bottom} of each pixel, then the blend of the two rows.
    const __m128i lo = _mm_madd_epi16(_mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), wl), 8), ones);
    const __m128i hi = _mm_madd_epi16(_mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), wh), 8), ones);
    const __m128i wv = _mm_setr_epi32(static_cast<int>(wy[0]), static_cast<int>(wy[1]), static_cast<int>(wy[2]),
                                      static_cast<int>(wy[3]));
    __m128i r = _mm_madd_epi16(_mm_srli_epi16(_mm_mullo_epi16(_mm_packs_epi32(lo, hi), wv), 8), ones);
    r = _mm_packs_epi32(r, r);
    const uint32_t px = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
    std::memcpy(d, &px, 4);
  }
#endif
  for (; i < n; ++i, x += c, y += s) *d++ = GreyInner(data, bpl, p, x, y);
}

#if defined(__SSE2__)
// Colour weights as 16-bit lanes: wx[f] = 255 - f for the left pixel's three
// channels, f for the right one's; wy[f] = 255 - f for the upper row, f for
// the lower. Every product stays below 65536, so 16-bit lanes give the
// table's (a x f) >> 8 exactly.
struct ColourWeights {
  __m128i wx[256], wy[256];
  ColourWeights() {
    for (int f = 0; f < 256; ++f) {
      const short g = static_cast<short>(255 - f), h = static_cast<short>(f);
      wx[f] = _mm_setr_epi16(g, g, g, h, h, h, 0, 0);
      wy[f] = _mm_setr_epi16(g, g, g, g, h, h, h, h);
    }
  }
};

// n colour pixels whose neighbours lie inside the source and whose 8-byte
// reads of two neighbours stay within the row.
void InnerColour(const I3ipImageInfo* src, const ColourWeights& w, int64_t x, int64_t y, int64_t c, int64_t s,
                 int64_t n, unsigned char* d) {
  const unsigned char* data = src->Data;
  const size_t bpl = src->Bpl;
  const __m128i zero = _mm_setzero_si128();
  for (int64_t i = 0; i < n; ++i, x += c, y += s, d += 3) {
    const int fx = static_cast<int>((x >> (kFrac - 8)) & 255), fy = static_cast<int>((y >> (kFrac - 8)) & 255);
    const unsigned char* p0 = data + static_cast<size_t>(y >> kFrac) * bpl + static_cast<size_t>(x >> kFrac) * 3;
    __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)), zero);
    __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0 + bpl)), zero);
    a = _mm_srli_epi16(_mm_mullo_epi16(a, w.wx[fx]), 8);
    b = _mm_srli_epi16(_mm_mullo_epi16(b, w.wx[fx]), 8);
    a = _mm_add_epi16(a, _mm_srli_si128(a, 6));  // lanes 0..2: upper row
    b = _mm_add_epi16(b, _mm_srli_si128(b, 6));  // lanes 0..2: lower row
    __m128i v = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi64(a, b), w.wy[fy]), 8);
    v = _mm_add_epi16(v, _mm_srli_si128(v, 8));
    const uint32_t px = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    // Four bytes a pixel, the fourth overwritten by the next; the last one
    // of the span must not write past it.
    std::memcpy(d, &px, i + 1 < n ? 4 : 3);
  }
}
#endif

template <int kChannels>
int Rotate12(const I3ipImageInfo* src, I3ipImageInfo* dst, double angleDegrees, double startX, double startY) {
  if (!src || !dst || !src->Data || !dst->Data || !src->Width || !src->Height || !dst->Width || !dst->Height) return 0;
  const ProductTable product;  // built per call, as the rest of the engine's state
  constexpr double kOne = double(int64_t{1} << kFrac);
  const double b = angleDegrees * M_PI / 180;
  const int64_t c = std::llround(std::cos(b) * kOne), s = std::llround(std::sin(-b) * kOne);
  int64_t x0 = static_cast<int64_t>(startX * kOne), y0 = static_cast<int64_t>(startY * kOne);
  const int64_t w1 = static_cast<int64_t>(src->Width) - 1, h1 = static_cast<int64_t>(src->Height) - 1;
  const int64_t width = dst->Width;
  const GreyWeights greyWeights;
#if defined(__SSE2__)
  const ColourWeights weights;
  // A colour pixel reads 8 bytes from its left neighbour: one more column
  // than it uses must exist in the row.
  const int64_t innerW = kChannels == 3 ? w1 - 1 : w1;
#else
  const int64_t innerW = w1;
#endif
  for (uint32_t row = 0; row < dst->Height; ++row, x0 -= s, y0 += c) {
    unsigned char* d = dst->Data + static_cast<size_t>(row) * dst->Bpl;
    // Within [first, end) every neighbour lies inside: no bounds test.
    int64_t first = 0, end = width;
    KeepWithin(x0, c, 0, innerW * (int64_t{1} << kFrac), &first, &end);
    KeepWithin(y0, s, 0, h1 * (int64_t{1} << kFrac), &first, &end);
    if (end <= first) first = end = width;
    for (int64_t col = 0; col < first; ++col)
      SampleChecked<kChannels>(src, product, x0 + col * c, y0 + col * s, d + col * kChannels);
    if (kChannels == 1) {
      InnerGrey(src, product, greyWeights, x0 + first * c, y0 + first * s, c, s, end - first, d + first);
    } else {
#if defined(__SSE2__)
      InnerColour(src, weights, x0 + first * c, y0 + first * s, c, s, end - first, d + first * 3);
#else
      for (int64_t col = first; col < end; ++col)
        SampleChecked<kChannels>(src, product, x0 + col * c, y0 + col * s, d + col * kChannels);
#endif
    }
    for (int64_t col = end; col < width; ++col)
      SampleChecked<kChannels>(src, product, x0 + col * c, y0 + col * s, d + col * kChannels);
  }
  return 1;
}

}  // namespace


int p2iRotate12_Color_New(const I3ipImageInfo* src, I3ipImageInfo* dst, double angleDegrees, double startX,
                          double startY) {
  return Rotate12<3>(src, dst, angleDegrees, startX, startY);
}

int p2iRotate12_Gray_New(const I3ipImageInfo* src, I3ipImageInfo* dst, double angleDegrees, double startX,
                         double startY) {
  return Rotate12<1>(src, dst, angleDegrees, startX, startY);
}

int CropOnly(const I3ipImageInfo* in, const _I3IP_CROP_INFO* info, I3ipImageInfo* out) {
  *out = *in;
  out->Data = nullptr;
  const int rc = info->pfnAllocOutImage(out, info->pUserData);
  if (rc == 0 && out->DataSize) std::memcpy(out->Data, in->Data, out->DataSize);
  return rc;
}

void GetEdgeColor(const I3ipImageInfo* img, unsigned char* colour) {
  int m = EdgeBand(img);
  if (img->Dpi < 38) m = 1;
  const int64_t W = img->Width, H = img->Height;
  if (!(m < W && m < H)) return;
  const int bpp = BytesPerPixel(img);
  const auto at = [&](int64_t x, int64_t y) { return img->Data + y * img->Bpl + x * bpp; };
  for (int c = 0; c < bpp; ++c) {
    uint64_t sum = 0;
    for (int64_t x = m - 1; x < W; ++x) sum += at(x, m - 1)[c] + at(x, H - m - 1)[c];
    for (int64_t y = m - 1; y < H; ++y) sum += at(m - 1, y)[c] + at(W - m - 1, y)[c];
    colour[c] = static_cast<unsigned char>(sum / static_cast<uint64_t>(2 * (W - m + 1) + 2 * (H - m + 1)));
  }
}

void FillEdgeForDeskew(I3ipImageInfo* img, const unsigned char* colour) {
  const int m = img->Dpi < 38 ? 0 : EdgeBand(img);
  const int64_t W = img->Width, H = img->Height;
  if (!(m < W && m < H)) return;
  const int bpp = BytesPerPixel(img);
  const auto put = [&](int64_t x, int64_t y) { std::memcpy(img->Data + y * img->Bpl + x * bpp, colour, bpp); };
  for (int64_t y = 0; y < H; ++y) {
    const bool band = y < m || y >= H - m - 1;
    for (int64_t x = 0; x < W; ++x)
      if (band || x < m || x >= W - m - 1) put(x, y);
  }
}

void SetGroundColor(I3ipImageInfo* img, const unsigned char* colour) {
  if (img->Bpp != 24) {
    std::memset(img->Data, colour[0], img->DataSize);
    return;
  }
  for (uint32_t y = 0; y < img->Height; ++y)
    for (uint32_t x = 0; x < img->Width; ++x) std::memcpy(img->Data + static_cast<size_t>(y) * img->Bpl + x * 3, colour, 3);
}

}  // namespace i3ipdc

namespace i3ipdc {

namespace {

// Whole-pixel corners of four sorted sides, in image rows, turned by angle
// and sorted. Sides lie in pixel-centre coordinates, and the cut keeps the
// pixels whose centres lie within [corner, far corner): so a corner becomes
// the first whole pixel at or beyond it (rounding to the nearest one would
// keep a pixel less than half on the paper at the left and top, and drop
// one more than half on it at the right and bottom). The crossings are
// turned unrounded, or each corner would move up to half a pixel more.
void RotatedCorners(const _LINE* lines, double angle, tagPOINT* p) {
  const int pair[4][2] = {{0, 1}, {0, 3}, {2, 1}, {2, 3}};
  const double c = std::cos(angle), s = std::sin(angle);
  // Slack for the last bits of the turn, so that a side on a pixel centre
  // keeps that pixel.
  const auto firstAtOrBeyond = [](double v) { return static_cast<int64_t>(std::ceil(v - 1e-7)); };
  for (int i = 0; i < 4; ++i) {
    double X, Y;
    CrossingOf(lines[pair[i][0]], lines[pair[i][1]], &X, &Y);
    p[i].x = firstAtOrBeyond(X * c - Y * s);
    p[i].y = firstAtOrBeyond(-(X * s + Y * c));
  }
  SortPoints(p);
}

}  // namespace

int CropDocument(const I3ipImageInfo* in, const _LINE* lines, double angle, I3ipImageInfo* out, double*, double*) {
  tagPOINT p[4];
  RotatedCorners(lines, angle, p);
  const int64_t w = p[2].x - p[0].x, h = p[2].y - p[0].y;
  if (w <= 0 || h <= 0) return kNoDocument;  // what the rotation would refuse
  if (w * BytesPerPixel(in) * h > static_cast<int64_t>(UINT32_MAX)) return kNoMemory;
  I3ipImageInfo o = *in;
  o.Width = static_cast<uint32_t>(w);
  o.Height = static_cast<uint32_t>(h);
  o.Boundary = 1;
  o.Bpl = in->Bpp == 24 ? o.Width * 3 : o.Width;
  o.DataSize = o.Bpl * o.Height;
  o.Data = static_cast<unsigned char*>(std::malloc(o.DataSize));
  if (!o.Data) return kNoMemory;
  const double c = std::cos(angle), s = std::sin(angle);
  const double ulx = static_cast<double>(p[0].x), ulr = static_cast<double>(p[0].y);
  // The first output pixel is the turned frame's whole pixel at the corner;
  // its source position is kept unrounded, or the cut would sit up to half a
  // pixel off the turned frame's pixel centres along each source axis.
  const double xs = ulx * c - ulr * s;
  const double ys = ulx * s + ulr * c;
  const double deg = -(angle * 180 / M_PI);
  const int ran = in->Bpp == 24 ? p2iRotate12_Color_New(in, &o, deg, xs, ys) : p2iRotate12_Gray_New(in, &o, deg, xs, ys);
  if (!ran) {
    std::free(o.Data);
    out->Data = nullptr;
    return kNoDocument;
  }
  *out = o;
  return kOk;
}

int CropOuterFrame(const I3ipImageInfo* in, const _LINE* lines, I3ipImageInfo* out, double* leftOut, double* topOut) {
  tagPOINT p[4];
  GetVertex(lines[0], lines[1], &p[0]);
  GetVertex(lines[0], lines[3], &p[1]);
  GetVertex(lines[2], lines[1], &p[2]);
  GetVertex(lines[2], lines[3], &p[3]);
  for (tagPOINT& q : p) q.y = -q.y;
  SortPoints(p);
  const int64_t left = std::min(p[0].x, p[1].x), right = std::max(p[2].x, p[3].x);
  const int64_t top = std::min(p[0].y, p[3].y), bottom = std::max(p[1].y, p[2].y);
  I3ipImageInfo o = *in;
  o.Width = static_cast<uint32_t>(right - left + 1);
  o.Height = static_cast<uint32_t>(bottom - top + 1);
  if (AllocImage(&o) != kOk) return kNoMemory;
  const int64_t bpp = BytesPerPixel(in);
  for (int64_t i = 0; i < static_cast<int64_t>(o.Height); ++i) {
    const int64_t sr = top + i;
    if (sr < 0 || sr >= static_cast<int64_t>(in->Height)) continue;
    const unsigned char* src = in->Data + static_cast<size_t>(sr) * in->Bpl;
    unsigned char* dst = o.Data + static_cast<size_t>(i) * o.Bpl;
    const int64_t dstStart = left < 0 ? -left * bpp : 0, srcStart = left < 0 ? 0 : left * bpp;
    const int64_t srcBytes = static_cast<int64_t>(in->Width) * bpp;
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(o.Bpl) - dstStart, srcBytes - srcStart);
    if (n > 0) std::memcpy(dst + dstStart, src + srcStart, static_cast<size_t>(n));
  }
  *out = o;
  *leftOut = static_cast<double>(left);
  *topOut = static_cast<double>(-top);
  return kOk;
}

}  // namespace i3ipdc
