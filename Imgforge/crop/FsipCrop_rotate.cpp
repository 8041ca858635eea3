// Rotation resampling of a cut-out page: a rotated grid walked over the
// source in fixed point, bilinear with 8-bit weights that sum to 255. Both
// crop engines end with it.
//
// Positions carry 20 fraction bits, not 10: with 10, the steps of a turned
// grid (cos and sin truncated to 1/1024) drift by up to 3 pixels across an
// A4 page at 300 dpi, which leaves a wedge of backing along one side and
// cuts as much off the other. The weights still come from the top 8
// fraction bits, so an upright page resamples exactly as with 10 bits.
#include <cmath>
#include <cstdint>

#include "FsipCrop.h"

namespace fsipcrop {

namespace {

// (a * b) >> 8: the values of the 256 x 256 product table, computed rather
// than looked up (same bytes, and the compiler can vectorise it).
inline uint32_t P(uint32_t a, uint32_t b) { return (a * b) >> 8; }

template <int CH>
bool Rotate(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY, uint8_t outside) {
  if (!src || !src->pImageData || !dst || !dst->pImageData) return false;
  if (src->nWidth <= 0 || src->nHeight <= 0 || dst->nWidth <= 0 || dst->nHeight <= 0) return false;
  const double r = angle * 3.141592654 / 180;
  constexpr int kBits = 20;
  constexpr double kOne = 1 << kBits;
  const int64_t C = static_cast<int64_t>(std::cos(r) * kOne), S = static_cast<int64_t>(std::sin(-r) * kOne);
  const int64_t U0 = static_cast<int64_t>(startX * kOne), V0 = static_cast<int64_t>(startY * kOne);
  const int64_t sw = src->nWidth, sh = src->nHeight;
  const size_t sbpl = static_cast<size_t>(src->nBytesPerLine);
  const uint8_t* sp = src->pImageData;
  for (int64_t k = 0; k < dst->nHeight; ++k) {
    uint8_t* out = dst->pImageData + static_cast<size_t>(k) * dst->nBytesPerLine;
    int64_t u = U0 - k * S, v = V0 + k * C;
    for (int64_t l = 0; l < dst->nWidth; ++l, u += C, v += S, out += CH) {
      if (u < 0 || v < 0 || (u >> kBits) >= sw - 1 || (v >> kBits) >= sh - 1) {
        for (int c = 0; c < CH; ++c) out[c] = outside;
        continue;
      }
      const uint32_t fx = static_cast<uint32_t>((u >> (kBits - 8)) & 255);
      const uint32_t fy = static_cast<uint32_t>((v >> (kBits - 8)) & 255);
      const uint8_t* p0 = sp + static_cast<size_t>(v >> kBits) * sbpl + static_cast<size_t>(u >> kBits) * CH;
      const uint8_t* p1 = p0 + sbpl;
      for (int c = 0; c < CH; ++c) {
        uint32_t top = P(p0[c], 255 - fx) + P(p0[c + CH], fx);
        uint32_t bottom = P(p1[c], 255 - fx) + P(p1[c + CH], fx);
        out[c] = static_cast<uint8_t>(P(top, 255 - fy) + P(bottom, fy));
      }
    }
  }
  return true;
}

}  // namespace

bool p2iRotate12_Color(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY) {
  return Rotate<3>(src, dst, angle, startX, startY, 255);
}

bool p2iRotate12_Gray(const _P2IIMG* src, _P2IIMG* dst, double angle, double startX, double startY) {
  return Rotate<1>(src, dst, angle, startX, startY, 0);
}

}  // namespace fsipcrop
