// Bicubic resolution conversion of 24-bit pages: integer weights from a
// 513-entry table of the cubic kernel and a clamp table, so that only the
// border bands pay for coordinate clamping.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "keloimageprocess.h"
#include "log.h"

namespace {

const char kResoConv[] = "CKELORuvikFirmImage::DoResoConv_Color";

// One sample at (x, y), 16.16 fixed point; the 4 x 4 window around it lies
// inside the region.
inline void Sample(const int64_t* weight, const unsigned char* clamp, const unsigned char* data, int64_t bpl, int64_t x,
                   int64_t y, unsigned char* out) {
  const int64_t ix = x >> 16, fx = (x >> 8) & 255;
  const int64_t iy = y >> 16, fy = (y >> 8) & 255;
  const int64_t wx[4] = {weight[256 + fx], weight[fx], weight[256 - fx], weight[512 - fx]};
  const int64_t wy[4] = {weight[256 + fy], weight[fy], weight[256 - fy], weight[512 - fy]};
  const unsigned char* row = data + (iy - 1) * bpl + (ix - 1) * 3;
  int64_t sum[3] = {0, 0, 0};
  for (int r = 0; r < 4; ++r, row += bpl) {
    for (int c = 0; c < 3; ++c) {
      const int64_t line = wx[0] * row[c] + wx[1] * row[3 + c] + wx[2] * row[6 + c] + wx[3] * row[9 + c];
      sum[c] += wy[r] * line;
    }
  }
  for (int c = 0; c < 3; ++c) out[c] = clamp[sum[c] >> 16];
}

inline int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

int KeloImageProcess::BorderColor(int value) { return value <= 0 ? 0 : value >= 255 ? 255 : value; }

double KeloImageProcess::SinXDivX(double x) {
  const double a = std::fabs(x);
  if (a < 1) return 1 - 2 * a * a + a * a * a;
  if (a < 2) return 4 - 8 * a + 5 * a * a - a * a * a;
  return 0;
}

void KeloImageProcess::ThreeOrder_Fast_Common_Color(const BiCubicRegion_Common& region, int64_t x, int64_t y,
                                                    ColorRGB_Common* out) const {
  Sample(m_llCubicWeight, m_pClamp, region.pbyData, region.llBytesPerLine, x, y, out->byColor);
}

void KeloImageProcess::ThreeOrder_Border_Common_Color(const BiCubicRegion_Common& region, int64_t x, int64_t y,
                                                      ColorRGB_Common* out) const {
  // Columns and rows outside the page repeat its edge. Sampling above the
  // source size (an enlargement) can reach two pixels out, so every
  // outside index is clamped, not only -1.
  unsigned char block[4 * 12];
  const int64_t ix = x >> 16, iy = y >> 16;
  for (int r = 0; r < 4; ++r) {
    const int64_t row = Clamp64(iy - 1 + r, 0, region.llHeight - 1);
    const unsigned char* src = region.pbyData + row * region.llBytesPerLine;
    for (int k = 0; k < 4; ++k) {
      const int64_t col = Clamp64(ix - 1 + k, 0, region.llWidth - 1);
      for (int c = 0; c < 3; ++c) block[r * 12 + k * 3 + c] = src[col * 3 + c];
    }
  }
  Sample(m_llCubicWeight, m_pClamp, block, 12, (x & 0xFFFF) | 0x10000, (y & 0xFFFF) | 0x10000, out->byColor);
}

unsigned char* KeloImageProcess::DoResoConv_Color(const unsigned char* pbySrc, KELO_IMAGEDATA_PARAMETERS tSrcInfo,
                                                  KELO_IMAGEDATA_PARAMETERS tDstInfo) const {
  CLogScope scope("KeloImageProcess::DoResoConv_Color");
  const int64_t sw = tSrcInfo.iPixelsPerLine, sh = tSrcInfo.iLines, sbpl = tSrcInfo.iBytesPerLine;
  const int64_t tw = tDstInfo.iPixelsPerLine, th = tDstInfo.iLines, tbpl = tDstInfo.iBytesPerLine;
  if (!pbySrc || sw <= 0 || sh <= 0 || tw <= 0 || th <= 0 || sbpl < 3 * sw || tbpl < 3 * tw) {
    WriteLog(LOG_LEVEL_ERROR, kResoConv, "invalid geometry");
    return nullptr;
  }
  unsigned char* dst = static_cast<unsigned char*>(calloc(static_cast<size_t>(th) * static_cast<size_t>(tbpl), 1));
  if (!dst) {
    WriteLog(LOG_LEVEL_ERROR, kResoConv, "pbyDst == NULL");
    return nullptr;
  }

  // All in 64 bits: (height - 3) << 16 no longer wraps on long pages.
  const int64_t sx = (sw << 16) / tw + 1, sy = (sh << 16) / th + 1;
  const int64_t x0 = sx / 2 - 32768, y0 = sy / 2 - 32768;
  const int64_t top = std::min((65536 - y0) / sy + 1, th);
  const int64_t bottom = Clamp64(((sh - 3) * 65536 - y0) / sy + 1, top, th);
  const int64_t left = std::min((65536 - x0) / sx + 1, tw);
  const int64_t right = Clamp64(((sw - 3) * 65536 - x0) / sx + 1, left, tw);

  const BiCubicRegion_Common region{pbySrc, sbpl, sw, sh};
  ColorRGB_Common px;
  auto border = [&](int64_t X, int64_t y, unsigned char* out) {
    ThreeOrder_Border_Common_Color(region, x0 + X * sx, y, &px);
    out[0] = px.byColor[0];
    out[1] = px.byColor[1];
    out[2] = px.byColor[2];
  };
  for (int64_t Y = 0; Y < th; ++Y) {
    const int64_t y = y0 + Y * sy;
    unsigned char* out = dst + Y * tbpl;
    if (Y < top || Y >= bottom) {
      for (int64_t X = 0; X < tw; ++X) border(X, y, out + 3 * X);
      continue;
    }
    for (int64_t X = 0; X < left; ++X) border(X, y, out + 3 * X);
    for (int64_t X = left; X < right; ++X) Sample(m_llCubicWeight, m_pClamp, pbySrc, sbpl, x0 + X * sx, y, out + 3 * X);
    for (int64_t X = right; X < tw; ++X) border(X, y, out + 3 * X);
  }
  return dst;
}
