// Image services of the deskew-and-crop engine: memory, the analysis image
// (resampled, background subtracted, one 8-bit channel), the rotated and
// upright output crops and the border fills.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

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
    const size_t bytes = static_cast<size_t>(in->Width) * BytesPerPixel(in);
    for (uint32_t y = 0; y < in->Height; ++y) {
      const unsigned char* s = in->Data + static_cast<size_t>(y) * in->Bpl;
      unsigned char* d = w.Data + static_cast<size_t>(y) * in->Bpl;
      for (size_t i = 0; i < bytes; ++i) d[i] = s[i] > background[i] ? static_cast<unsigned char>(s[i] - background[i]) : 0;
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
      for (uint32_t x = 0; x < r.Width; ++x) std::memcpy(d + x * bpp, s + 2 * x * bpp, bpp);
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

template <int kChannels>
int Rotate12(const I3ipImageInfo* src, I3ipImageInfo* dst, double angleDegrees, double startX, double startY) {
  if (!src || !dst || !src->Data || !dst->Data || !src->Width || !src->Height || !dst->Width || !dst->Height) return 0;
  unsigned char product[256][256];
  for (int a = 0; a < 256; ++a)
    for (int f = 0; f < 256; ++f) product[a][f] = static_cast<unsigned char>((a * f) >> 8);
  // Coordinates carry 30 fractional bits; the sampling uses the top 10 of
  // them. Steps truncated to 10 bits would drift a pixel every 1024 pixels.
  constexpr int kShift = 20;
  constexpr double kOne = double(int64_t{1} << (10 + kShift));
  const double b = angleDegrees * M_PI / 180;
  const int64_t c = std::llround(std::cos(b) * kOne), s = std::llround(std::sin(-b) * kOne);
  int64_t x0 = static_cast<int64_t>(startX * kOne), y0 = static_cast<int64_t>(startY * kOne);
  const int64_t w1 = static_cast<int64_t>(src->Width) - 1, h1 = static_cast<int64_t>(src->Height) - 1;
  for (uint32_t row = 0; row < dst->Height; ++row) {
    unsigned char* d = dst->Data + static_cast<size_t>(row) * dst->Bpl;
    int64_t x = x0, y = y0;
    for (uint32_t col = 0; col < dst->Width; ++col, x += c, y += s, d += kChannels) {
      const int64_t xi = x >> (10 + kShift), yi = y >> (10 + kShift);
      if (x < 0 || y < 0 || xi >= w1 || yi >= h1) {
        for (int k = 0; k < kChannels; ++k) d[k] = 0;
        continue;
      }
      const int fx = static_cast<int>((x >> (2 + kShift)) & 255), fy = static_cast<int>((y >> (2 + kShift)) & 255);
      const unsigned char* p0 = src->Data + static_cast<size_t>(yi) * src->Bpl + xi * kChannels;
      const unsigned char* p1 = p0 + src->Bpl;
      for (int k = 0; k < kChannels; ++k) {
        const int top = product[p0[k]][255 - fx] + product[p0[k + kChannels]][fx];
        const int bottom = product[p1[k]][255 - fx] + product[p1[k + kChannels]][fx];
        d[k] = static_cast<unsigned char>(product[top][255 - fy] + product[bottom][fy]);
      }
    }
    x0 -= s;
    y0 += c;
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

// Corners of four sorted sides, in image rows, turned by angle and sorted.
void RotatedCorners(const _LINE* lines, double angle, tagPOINT* p) {
  GetVertex(lines[0], lines[1], &p[0]);
  GetVertex(lines[0], lines[3], &p[1]);
  GetVertex(lines[2], lines[1], &p[2]);
  GetVertex(lines[2], lines[3], &p[3]);
  const double c = std::cos(angle), s = std::sin(angle);
  for (int i = 0; i < 4; ++i) {
    const double X = static_cast<double>(p[i].x), Y = static_cast<double>(p[i].y);
    p[i].x = RoundHalfAway(X * c - Y * s);
    p[i].y = -RoundHalfAway(X * s + Y * c);
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
  const double xs = static_cast<double>(RoundHalfAway(ulx * c - ulr * s));
  const double ys = static_cast<double>(RoundHalfAway(ulx * s + ulr * c));
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
