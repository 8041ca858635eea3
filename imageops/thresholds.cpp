// In-place thresholds: plain loops that the compiler turns into vector code
// (this file is built with full optimisation).
#include <cstddef>
#include <cstdint>

#include "dravn_export.h"
#include "opcv.h"

template <class T>
static IppStatus ThresholdLE(T* data, int step, IppiSize roi, T threshold, T value) {
  if (!data || roi.width <= 0 || roi.height <= 0 || int64_t(step) < int64_t(roi.width) * int64_t(sizeof(T)))
    return ippStsBadArgErr;
  for (int y = 0; y < roi.height; ++y) {
    T* row = reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(data) + size_t(y) * step);
    for (int x = 0; x < roi.width; ++x) row[x] = row[x] <= threshold ? value : row[x];
  }
  return ippStsNoErr;
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiThreshold_LTVal_16s_C1IR(Ipp16s* srcDst, int step, IppiSize roi, Ipp16s threshold,
                                                               Ipp16s value) {
  return ThresholdLE<Ipp16s>(srcDst, step, roi, threshold, value);
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiThreshold_LTVal_8u_C1IR(Ipp8u* srcDst, int step, IppiSize roi, Ipp8u threshold,
                                                              Ipp8u value) {
  return ThresholdLE<Ipp8u>(srcDst, step, roi, threshold, value);
}
