// Medians of fixed shapes and the 1-bit conversions, written by hand: OpenCV
// has no cross, weighted-centre or vector median, nor packed bits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "dravn_export.h"
#include "opcv.h"

namespace {

// The checks that the three medians share, in their order.
bool BadMedianCall(const Ipp8u* src, const Ipp8u* dst, int dstStep, IppiSize roi, int channels) {
  return roi.width <= 0 || roi.height <= 0 || int64_t(dstStep) < int64_t(channels) * roi.width || !dst || !src;
}

template <int N>
Ipp8u MedianOf(Ipp8u (&v)[N]) {
  std::nth_element(v, v + N / 2, v + N);
  return v[N / 2];
}

template <int Reach>
void CrossMedian(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi) {
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = src + std::ptrdiff_t(y) * srcStep;
    Ipp8u* d = dst + std::ptrdiff_t(y) * dstStep;
    for (int x = 0; x < roi.width; ++x) {
      Ipp8u v[4 * Reach + 1];
      int n = 0;
      v[n++] = s[x];
      for (int k = 1; k <= Reach; ++k) {
        v[n++] = s[x - k];
        v[n++] = s[x + k];
        v[n++] = s[x - std::ptrdiff_t(k) * srcStep];
        v[n++] = s[x + std::ptrdiff_t(k) * srcStep];
      }
      d[x] = MedianOf(v);
    }
  }
}

template <int Weight>
void WeightedCenterMedian(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi) {
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = src + std::ptrdiff_t(y) * srcStep;
    Ipp8u* d = dst + std::ptrdiff_t(y) * dstStep;
    for (int x = 0; x < roi.width; ++x) {
      Ipp8u v[8 + Weight];
      int n = 0;
      for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
          if (i || j) v[n++] = s[std::ptrdiff_t(i) * srcStep + x + j];
      for (int k = 0; k < Weight; ++k) v[n++] = s[x];
      d[x] = MedianOf(v);
    }
  }
}

}  // namespace

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilterMedianCross_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                               IppiSize roi, IppiMaskSize mask) {
  if (BadMedianCall(src, dst, dstStep, roi, 1)) return ippStsBadArgErr;
  if (mask == ippMskSize3x3)
    CrossMedian<1>(src, srcStep, dst, dstStep, roi);
  else if (mask == ippMskSize5x5)
    CrossMedian<2>(src, srcStep, dst, dstStep, roi);
  else
    return ippStsBadArgErr;
  return ippStsNoErr;
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst,
                                                                           int dstStep, IppiSize roi, int weight) {
  if (BadMedianCall(src, dst, dstStep, roi, 1)) return ippStsBadArgErr;
  if (weight == 3)
    WeightedCenterMedian<3>(src, srcStep, dst, dstStep, roi);
  else if (weight == 5)
    WeightedCenterMedian<5>(src, srcStep, dst, dstStep, roi);
  else
    return ippStsBadArgErr;
  return ippStsNoErr;
}

namespace {

// The colour of the window closest, by summed channel distance, to all the
// others; the first such cell in raster order wins a tie.
template <int Reach>
void VectorMedian(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi) {
  constexpr int kSide = 2 * Reach + 1, kCells = kSide * kSide;
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = src + std::ptrdiff_t(y) * srcStep;
    Ipp8u* d = dst + std::ptrdiff_t(y) * dstStep;
    for (int x = 0; x < roi.width; ++x) {
      const Ipp8u* cell[kCells];
      int n = 0;
      for (int i = -Reach; i <= Reach; ++i)
        for (int j = -Reach; j <= Reach; ++j) cell[n++] = s + std::ptrdiff_t(i) * srcStep + 3 * (std::ptrdiff_t(x) + j);
      int best = 0, bestSum = INT32_MAX;
      for (int a = 0; a < kCells; ++a) {
        int sum = 0;
        for (int b = 0; b < kCells; ++b)
          sum +=
              std::abs(cell[a][0] - cell[b][0]) + std::abs(cell[a][1] - cell[b][1]) + std::abs(cell[a][2] - cell[b][2]);
        if (sum < bestSum) {
          bestSum = sum;
          best = a;
        }
      }
      std::copy(cell[best], cell[best] + 3, d + 3 * x);
    }
  }
}

}  // namespace

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilterMedianColor_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                               IppiSize roi, IppiMaskSize mask) {
  if (BadMedianCall(src, dst, dstStep, roi, 3)) return ippStsBadArgErr;
  // The background removal of the colour smoothing asks for the 5 x 5 window.
  if (mask == ippMskSize3x3)
    VectorMedian<1>(src, srcStep, dst, dstStep, roi);
  else if (mask == ippMskSize5x5)
    VectorMedian<2>(src, srcStep, dst, dstStep, roi);
  else
    return ippStsBadArgErr;
  return ippStsNoErr;
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiConvert_1u8u_C1R(const Ipp8u* src, int srcStep, int srcBitOffset, Ipp8u* dst,
                                                       int dstStep, IppiSize roi) {
  if (!src || !dst || srcBitOffset < 0 || srcBitOffset > 7 || roi.width <= 0 || roi.height <= 0 ||
      8 * int64_t(srcStep) < int64_t(srcBitOffset) + roi.width || dstStep < roi.width)
    return ippStsBadArgErr;
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = src + std::ptrdiff_t(y) * srcStep;
    Ipp8u* d = dst + std::ptrdiff_t(y) * dstStep;
    for (int x = 0; x < roi.width; ++x) {
      const int bit = srcBitOffset + x;
      d[x] = (s[bit >> 3] & (0x80 >> (bit & 7))) ? 255 : 0;
    }
  }
  return ippStsNoErr;
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiReduceBits_8u1u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                          int dstBitOffset, IppiSize roi, int /*noise*/, int /*seed*/,
                                                          int /*ditherType*/, Ipp8u threshold) {
  if (!src || !dst || dstBitOffset < 0 || dstBitOffset > 7 || roi.width <= 0 || roi.height <= 0 ||
      8 * int64_t(dstStep) < int64_t(dstBitOffset) + roi.width || srcStep < roi.width)
    return ippStsBadArgErr;
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = src + std::ptrdiff_t(y) * srcStep;
    Ipp8u* d = dst + std::ptrdiff_t(y) * dstStep;
    for (int x = 0; x < roi.width; ++x) {
      const int bit = dstBitOffset + x;
      const Ipp8u m = Ipp8u(0x80 >> (bit & 7));
      d[bit >> 3] = s[x] > threshold ? Ipp8u(d[bit >> 3] | m) : Ipp8u(d[bit >> 3] & ~m);
    }
  }
  return ippStsNoErr;
}
