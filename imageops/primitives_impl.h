// The OpenCV-backed kernels behind the primitive entries, shared by both
// families of entries and the page operations.
#ifndef DRAVN_IMAGEOPS_PRIMITIVES_IMPL_H
#define DRAVN_IMAGEOPS_PRIMITIVES_IMPL_H

#include <opencv2/core.hpp>

#include "opcv.h"

namespace imageops {

// Max or min over the non-zero cells of `kernel` (anchor: its own centre
// after the shift to -anchor).
IppStatus Morphology(bool dilate, const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                     const cv::Mat& kernel, IppiPoint anchor);
IppStatus Median(int type, const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi, IppiSize mask,
                 IppiPoint anchor);
// A kernel of ints (or floats) turned by 180 degrees into an odd-sized
// float matrix and multiplied by scale.
cv::Mat TurnedKernel(IppiSize size, double scale, const Ipp32s* ints, const Ipp32f* floats);
IppStatus Filter(int type, const void* src, int srcStep, void* dst, int dstStep, IppiSize roi, const cv::Mat& kernel,
                 IppiPoint anchor);
// The 16-bit filter of a whole-number kernel (divisor 1) in integers; false,
// having written nothing, where OpenCV's float sums might not be exact.
bool ExactFilter16s(const Ipp16s* src, int srcStep, Ipp16s* dst, int dstStep, IppiSize roi, const Ipp32s* kernel,
                    IppiSize size, IppiPoint anchor);
IppStatus Resize(int type, const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst, int dstStep,
                 IppiRect dstRoi, double xFactor, double yFactor, double xShift, double yShift);

}  // namespace imageops

#endif
