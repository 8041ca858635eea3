// The white-background engine's loops written for the vectoriser: the 5 x 5
// means of all three channels of a row in two passes over its bytes, and
// the line fitter's rho of every point at one angle.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "P2iCrppr.h"

namespace p2iwb {

namespace {

#if defined(__clang__)
#define P2IWB_CLONES
#else
#define P2IWB_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// Column sums of five rows, then sums of five of them a pixel apart: the
// window sums of GetStDev_RGB for every byte from the seventh to the
// seventh from the end, as means.
P2IWB_CLONES void WindowMeans(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3,
                              const uint8_t* r4, size_t bytes, uint16_t* sums, uint8_t* means) {
  for (size_t i = 0; i < bytes; ++i)
    sums[i] = static_cast<uint16_t>(r0[i] + r1[i] + r2[i] + r3[i] + r4[i]);
  for (size_t i = 6; i + 6 < bytes; ++i) {
    const uint32_t s = static_cast<uint32_t>(sums[i - 6]) + sums[i - 3] + sums[i] + sums[i + 3] + sums[i + 6];
    means[i] = static_cast<uint8_t>(std::min<uint32_t>(255, (s * 41) >> 10));
  }
}

// Without FMA in either build the products and the sum round as the
// fitter's own arithmetic does.
P2IWB_CLONES void Rhos(const double* xs, const double* ys, size_t n, double c, double s, int32_t offset,
                       int32_t* out) {
  for (size_t i = 0; i < n; ++i) {
    const double v = xs[i] * c + ys[i] * s;
    out[i] = static_cast<int32_t>(v < 0 ? v - 0.5 : v + 0.5) + offset;
  }
}

}  // namespace

void RhoIndices(const double* xs, const double* ys, size_t n, double c, double s, int32_t offset, int32_t* out) {
  Rhos(xs, ys, n, c, s, offset, out);
}

void StDevRowRGB(const _P2IIMG* img, int row, uint8_t* mean) {
  const int n = img->nWidth;
  if (n <= 4) return;
  const size_t bytes = static_cast<size_t>(n) * 3, bpl = static_cast<size_t>(img->nBytesPerLine);
  const uint8_t* r = img->pImageData + static_cast<size_t>(row) * bpl;
  std::vector<uint16_t> sums(bytes);
  std::vector<uint8_t> means(bytes);
  WindowMeans(r - 2 * bpl, r - bpl, r, r + bpl, r + 2 * bpl, bytes, sums.data(), means.data());
  for (int c = 0; c < 3; ++c) {
    uint8_t* m = mean + static_cast<size_t>(c) * n;
    for (int k = 2; k <= n - 3; ++k) m[k] = means[static_cast<size_t>(k) * 3 + c];
    m[0] = m[1] = m[2];
    m[n - 2] = m[n - 1] = m[n - 3];
  }
}

}  // namespace p2iwb
