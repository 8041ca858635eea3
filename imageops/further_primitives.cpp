// The second family of primitives: colour conversion, planar copies, local
// filters, noise reduction, per-channel convolution and the DCT.
#include <cmath>
#include <cstdlib>
#include <opencv2/imgproc.hpp>

#include "dravn_export.h"
#include "primitives_impl.h"
#include "tools.h"

using namespace Tools;
using namespace imageops;

namespace {

OSErr WrapPlanes(const Ipp8u* const planes[3], int planeStep, IppiSize roi, cv::Mat (&out)[3]) {
  if (!planes) return paramErr;
  for (int i = 0; i < 3; ++i)
    if (OSErr err = WrapArea(planes[i], planeStep, CV_8UC1, 0, 0, roi.width, roi.height, out[i])) return err;
  return noErr;
}

IppStatus ConvertColour(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi, int code) {
  return Guard([&] {
    cv::Mat in, out;
    OSErr err = WrapArea(src, srcStep, CV_8UC3, 0, 0, roi.width, roi.height, in);
    if (!err) err = WrapArea(dst, dstStep, CV_8UC3, 0, 0, roi.width, roi.height, out);
    if (err) return OSErrToIppStatus(err);
    cv::cvtColor(in, out, code);
    return ippStsNoErr;
  });
}

// Interleaved to planes, through a conversion when `code` is not -1.
IppStatus ToPlanes(const Ipp8u* src, int srcStep, Ipp8u* const planes[3], int planeStep, IppiSize roi, int code) {
  return Guard([&] {
    cv::Mat in, out[3];
    OSErr err = WrapArea(src, srcStep, CV_8UC3, 0, 0, roi.width, roi.height, in);
    if (!err) err = WrapPlanes(planes, planeStep, roi, out);
    if (err) return OSErrToIppStatus(err);
    if (code < 0) {
      cv::split(in, out);
    } else {
      cv::Mat converted;
      cv::cvtColor(in, converted, code);
      cv::split(converted, out);
    }
    return ippStsNoErr;
  });
}

IppStatus FromPlanes(const Ipp8u* const planes[3], int planeStep, Ipp8u* dst, int dstStep, IppiSize roi, int code) {
  return Guard([&] {
    cv::Mat in[3], out;
    OSErr err = WrapPlanes(planes, planeStep, roi, in);
    if (!err) err = WrapArea(dst, dstStep, CV_8UC3, 0, 0, roi.width, roi.height, out);
    if (err) return OSErrToIppStatus(err);
    if (code < 0) {
      cv::merge(in, 3, out);
    } else {
      cv::Mat merged;
      cv::merge(in, 3, merged);
      cv::cvtColor(merged, out, code);
    }
    return ippStsNoErr;
  });
}

IppStatus RectMorphology(bool dilate, const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                         IppiSize mask, IppiPoint anchor) {
  return Guard([&] {
    if (!src || mask.width <= 0 || mask.height <= 0) return ippStsBadArgErr;
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(mask.width, mask.height));
    return Morphology(dilate, src, srcStep, dst, dstStep, roi, kernel, anchor);
  });
}

// The border of a 3-channel page that a step leaves alone takes the
// source's pixels; the inner part is written by `inner`.
template <class Inner>
bool ThreeChannelPage(const Ipp8u* src, Ipp8u* dst, IppiSize size, Inner inner) {
  return Guard([&] {
           cv::Mat in, out;
           OSErr err = WrapArea(src, 3 * size.width, CV_8UC3, 0, 0, size.width, size.height, in);
           if (!err) err = WrapArea(dst, 3 * size.width, CV_8UC3, 0, 0, size.width, size.height, out);
           if (err) return OSErrToIppStatus(err);
           return inner(in, out);
         }) == ippStsNoErr;
}

}  // namespace

DRAVN_C_EXPORT Ipp8u* IPPMini_ippiMalloc_8u_C3(int width, int height, int* step) {
  return static_cast<Ipp8u*>(MallocRows(width, height, 3, step));
}

DRAVN_C_EXPORT void IPPMini_ippiFree(void* p) { std::free(p); }

DRAVN_C_EXPORT IppStatus IPPMini_ippStaticInit(void) { return ippStsNoErr; }

DRAVN_C_EXPORT IppStatus IPPShare_ippiRGBToYUV_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                      IppiSize roi) {
  return ConvertColour(src, srcStep, dst, dstStep, roi, cv::COLOR_RGB2YUV);
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiYUVToRGB_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                      IppiSize roi) {
  return ConvertColour(src, srcStep, dst, dstStep, roi, cv::COLOR_YUV2RGB);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiRGBToYUV_8u_C3P3R(const Ipp8u* src, int srcStep, Ipp8u* const planes[3],
                                                       int planeStep, IppiSize roi) {
  return ToPlanes(src, srcStep, planes, planeStep, roi, cv::COLOR_RGB2YUV);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiYUVToRGB_8u_P3C3R(const Ipp8u* const planes[3], int planeStep, Ipp8u* dst,
                                                       int dstStep, IppiSize roi) {
  return FromPlanes(planes, planeStep, dst, dstStep, roi, cv::COLOR_YUV2RGB);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiCopy_8u_C3P3R(const Ipp8u* src, int srcStep, Ipp8u* const planes[3], int planeStep,
                                                   IppiSize roi) {
  return ToPlanes(src, srcStep, planes, planeStep, roi, -1);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiCopy_8u_P3C3R(const Ipp8u* const planes[3], int planeStep, Ipp8u* dst, int dstStep,
                                                   IppiSize roi) {
  return FromPlanes(planes, planeStep, dst, dstStep, roi, -1);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiFilterMin_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                      IppiSize roi, IppiSize mask, IppiPoint anchor) {
  return RectMorphology(false, src, srcStep, dst, dstStep, roi, mask, anchor);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiFilterMax_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                      IppiSize roi, IppiSize mask, IppiPoint anchor) {
  return RectMorphology(true, src, srcStep, dst, dstStep, roi, mask, anchor);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiFilterMedian_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                         IppiSize roi, IppiSize mask, IppiPoint anchor) {
  return IPPShare_ippiFilterMedian_8u_C1R(src, srcStep, dst, dstStep, roi, mask, anchor);
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiFilterBox_8u_C3IR(Ipp8u* srcDst, int step, IppiSize roi, IppiSize mask,
                                                       IppiPoint anchor) {
  return Guard([&] {
    if (mask.width <= 0 || mask.height <= 0) return ippStsBadArgErr;
    const int hw = mask.width / 2, hh = mask.height / 2;
    cv::Mat area, out;
    OSErr err = WrapArea(srcDst, step, CV_8UC3, -anchor.x, -anchor.y, int64_t(roi.width) + 2 * hw,
                         int64_t(roi.height) + 2 * hh, area);
    if (!err) err = WrapArea(srcDst, step, CV_8UC3, 0, 0, roi.width, roi.height, out);
    if (err) return OSErrToIppStatus(err);
    // In place: the filter reads a copy of the area it overwrites.
    const cv::Mat copy = area.clone();
    cv::boxFilter(copy(cv::Rect(hw, hh, roi.width, roi.height)), out, -1, cv::Size(mask.width, mask.height),
                  cv::Point(-1, -1), true, cv::BORDER_REFLECT_101);
    return ippStsNoErr;
  });
}

DRAVN_C_EXPORT IppStatus OPCV_ippiFilterBilateral_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                         IppiSize roi, IppiSize kernel, float valSquareSigma,
                                                         float posSquareSigma) {
  return Guard([&] {
    if (kernel.width <= 0 || kernel.width != kernel.height || kernel.width % 2 == 0 || !src) return ippStsBadArgErr;
    if (!(valSquareSigma >= 0) || !(posSquareSigma >= 0)) return ippStsBadArgErr;
    const int r = kernel.width / 2;
    cv::Mat area, out;
    OSErr err = WrapArea(src, srcStep, CV_8UC1, -r, -r, int64_t(roi.width) + 2 * r, int64_t(roi.height) + 2 * r, area);
    if (!err) err = WrapArea(dst, dstStep, CV_8UC1, 0, 0, roi.width, roi.height, out);
    if (err) return OSErrToIppStatus(err);
    // The view's own border comes from the area around it.
    cv::bilateralFilter(area(cv::Rect(r, r, roi.width, roi.height)), out, kernel.width, std::sqrt(valSquareSigma),
                        std::sqrt(posSquareSigma), cv::BORDER_REFLECT_101);
    return ippStsNoErr;
  });
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiResize_8u_C3R(const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi,
                                                   Ipp8u* dst, int dstStep, IppiSize dstRoiSize, double xFactor,
                                                   double yFactor, int /*interpolation*/) {
  return Guard([&] {
    return Resize(CV_8UC3, src, srcSize, srcStep, srcRoi, dst, dstStep, {0, 0, dstRoiSize.width, dstRoiSize.height},
                  xFactor, yFactor, 0, 0);
  });
}

DRAVN_C_EXPORT IppStatus IPPMini_ippiFilter32f_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                      IppiSize roi, const Ipp32f* kernel, IppiSize kernelSize,
                                                      IppiPoint anchor) {
  return Guard([&] {
    if (!src || !kernel || kernelSize.width <= 0 || kernelSize.height <= 0) return ippStsBadArgErr;
    return Filter(CV_8UC3, src, srcStep, dst, dstStep, roi, TurnedKernel(kernelSize, 1.0, nullptr, kernel), anchor);
  });
}

DRAVN_C_EXPORT IppStatus DeosNr(const Ipp8u* src, Ipp8u* dst, IppiSize size, int mode, int strength) {
  const int k = mode == 2 ? 5 : 3, b = k / 2;
  if (!src || !dst || size.width <= 2 * b || size.height <= 2 * b) return ippStsBadArgErr;
  const float sq = strength == 0 ? 1.0f : 96.0f * float(strength);
  const size_t inner = size_t(b) * size.width + b;
  return OPCV_ippiFilterBilateral_8u_C1R(src + inner, size.width, dst + inner, size.width,
                                         {size.width - 2 * b, size.height - 2 * b}, {k, k}, sq, sq);
}

DRAVN_C_EXPORT int DeosNrRGB(const Ipp8u* src, Ipp8u* dst, int width, int height, int mode, int strength) {
  if (!src) return 1;
  if (!dst) return 2;
  if (width <= 0 || height <= 0) return 3;
  return Guard([&] {
    cv::Mat in, out, planes[3], results[3];
    OSErr err = WrapArea(src, 3 * width, CV_8UC3, 0, 0, width, height, in);
    if (!err) err = WrapArea(dst, 3 * width, CV_8UC3, 0, 0, width, height, out);
    if (err) return OSErrToIppStatus(err);
    cv::split(in, planes);
    for (int c = 0; c < 3; ++c) {
      results[c] = planes[c].clone();
      if (IppStatus st = DeosNr(planes[c].data, results[c].data, {width, height}, mode, strength)) return st;
    }
    cv::merge(results, 3, out);
    return ippStsNoErr;
  });
}

DRAVN_C_EXPORT bool Convolution24(const Ipp8u* src, Ipp8u* dst, IppiSize size, int radius, const float* kernels) {
  if (!kernels || radius < 0 || size.width <= 2 * radius || size.height <= 2 * radius) return false;
  return ThreeChannelPage(src, dst, size, [&](const cv::Mat& in, cv::Mat& out) {
    const int n = 2 * radius + 1;
    cv::Mat planes[3], results[3];
    cv::split(in, planes);
    for (int c = 0; c < 3; ++c) {
      results[c] = planes[c].clone();
      const float* kernel = kernels + size_t(2 - c) * n * n;
      const size_t inner = size_t(radius) * size.width + radius;
      const IppStatus st = Filter(CV_8UC1, planes[c].data + inner, size.width, results[c].data + inner, size.width,
                                  {size.width - 2 * radius, size.height - 2 * radius},
                                  TurnedKernel({n, n}, 1.0, nullptr, kernel), {radius, radius});
      if (st) return st;
    }
    cv::merge(results, 3, out);
    return ippStsNoErr;
  });
}

DRAVN_C_EXPORT bool Convolution24MonoFilter(const Ipp8u* src, Ipp8u* dst, IppiSize size, int radius,
                                            const float* kernel) {
  if (!kernel || radius < 0 || size.width <= 2 * radius || size.height <= 2 * radius) return false;
  return ThreeChannelPage(src, dst, size, [&](const cv::Mat& in, cv::Mat& out) {
    const int n = 2 * radius + 1;
    const cv::Mat result = in.clone();
    const size_t inner = (size_t(radius) * size.width + radius) * 3;
    const IppStatus st = Filter(CV_8UC3, in.data + inner, 3 * size.width, result.data + inner, 3 * size.width,
                                {size.width - 2 * radius, size.height - 2 * radius},
                                TurnedKernel({n, n}, 1.0, nullptr, kernel), {radius, radius});
    if (st) return st;
    result.copyTo(out);
    return ippStsNoErr;
  });
}

DRAVN_C_EXPORT void ddct(int sign, double** rows, int n) {
  if (!rows || n <= 0 || n > 46340) return;
  for (int i = 0; i < n; ++i)
    if (!rows[i]) return;
  Guard([&] {
    cv::Mat sequence(1, n * n, CV_64F), result;
    for (int i = 0; i < n; ++i) std::copy(rows[i], rows[i] + n, sequence.ptr<double>() + size_t(i) * n);
    cv::dct(sequence, result, sign < 0 ? cv::DCT_INVERSE : 0);
    if (result.total() != size_t(n) * n) return ippStsMemAllocErr;
    const double* values = result.ptr<double>();
    for (int i = 0; i < n; ++i) std::copy(values + size_t(i) * n, values + size_t(i + 1) * n, rows[i]);
    return ippStsNoErr;
  });
}
