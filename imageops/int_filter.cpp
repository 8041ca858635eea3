// The 16-bit filter with a whole-number kernel in integers. OpenCV sums the
// products in floats; while every product and partial sum is a whole
// number of at most 2^24 in size that sum is exact in any order, and the
// integer sum gives the very same result, several times faster.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "primitives_impl.h"

#if defined(__clang__)
#define INT_FILTER_CLONES
#else
#define INT_FILTER_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace imageops {
namespace {

// The largest magnitude in `count` values of each of `rows` rows.
INT_FILTER_CLONES int LargestMagnitude(const Ipp16s* first, int step, int rows, int count) {
  int most = 0;
  for (int y = 0; y < rows; ++y) {
    const Ipp16s* row = reinterpret_cast<const Ipp16s*>(reinterpret_cast<const Ipp8u*>(first) + ptrdiff_t(y) * step);
    for (int x = 0; x < count; ++x) most = std::max(most, std::abs(int(row[x])));
  }
  return most;
}

INT_FILTER_CLONES void AddProducts(int32_t* __restrict sum, const Ipp16s* __restrict row, int32_t k, int width) {
  for (int x = 0; x < width; ++x) sum[x] += k * int32_t(row[x]);
}

INT_FILTER_CLONES void StoreClamped(Ipp16s* __restrict out, const int32_t* __restrict sum, int width) {
  for (int x = 0; x < width; ++x) out[x] = Ipp16s(std::clamp(sum[x], -32768, 32767));
}

}  // namespace

bool ExactFilter16s(const Ipp16s* src, int srcStep, Ipp16s* dst, int dstStep, IppiSize roi, const Ipp32s* kernel,
                    IppiSize size, IppiPoint anchor) {
  // Larger kernels may go through OpenCV's Fourier transform, which is not exact.
  if (size.width > 7 || size.height > 7 || roi.width <= 0 || roi.height <= 0) return false;
  // Rows too short for the region or odd steps are the general path's
  // faults to answer.
  if (srcStep % 2 != 0 || dstStep % 2 != 0) return false;
  if (int64_t(roi.width + 2 * (size.width / 2)) * 2 > srcStep || int64_t(roi.width) * 2 > dstStep) return false;
  int64_t weight = 0;
  for (int i = 0; i < size.width * size.height; ++i) weight += std::abs(int64_t(kernel[i]));
  auto at = [&](int x, int y) {
    return reinterpret_cast<const Ipp16s*>(reinterpret_cast<const Ipp8u*>(src) + ptrdiff_t(y) * srcStep) + x;
  };
  // dst(x, y) = sum of kernel(i, j) src(x + anchor.x - j, y + anchor.y - i).
  const int left = anchor.x - (size.width - 1), top = anchor.y - (size.height - 1);
  const int most = LargestMagnitude(at(left, top), srcStep, roi.height + size.height - 1, roi.width + size.width - 1);
  if (weight * most > (int64_t(1) << 24)) return false;
  std::vector<int32_t> sum(size_t(roi.width));
  for (int y = 0; y < roi.height; ++y) {
    std::fill(sum.begin(), sum.end(), 0);
    for (int i = 0; i < size.height; ++i)
      for (int j = 0; j < size.width; ++j) {
        const int32_t k = kernel[size_t(i) * size.width + j];
        if (k != 0) AddProducts(sum.data(), at(anchor.x - j, y + anchor.y - i), k, roi.width);
      }
    StoreClamped(reinterpret_cast<Ipp16s*>(reinterpret_cast<Ipp8u*>(dst) + ptrdiff_t(y) * dstStep), sum.data(),
                 roi.width);
  }
  return true;
}

}  // namespace imageops
