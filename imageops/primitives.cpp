// The OpenCV-backed primitives that the binarization and orientation units
// bind by name, with their companions.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "dravn_export.h"
#include "primitives_impl.h"
#include "tools.h"

using namespace Tools;

namespace {

IppStatus Convert(const void* src, int srcStep, int srcType, void* dst, int dstStep, int dstType, IppiSize roi) {
  return Guard([&] {
    cv::Mat in, out;
    OSErr err = WrapArea(src, srcStep, srcType, 0, 0, roi.width, roi.height, in);
    if (!err) err = WrapArea(dst, dstStep, dstType, 0, 0, roi.width, roi.height, out);
    if (err) return OSErrToIppStatus(err);
    in.convertTo(out, dstType);
    return ippStsNoErr;
  });
}

}  // namespace

namespace imageops {

IppStatus Morphology(bool dilate, const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                     const cv::Mat& kernel, IppiPoint anchor) {
  // The area starts at -anchor; a view of it whose every neighbourhood lies
  // inside lets OpenCV read the caller's pixels instead of a border, so the
  // result goes straight into the destination.
  const int hw = kernel.cols / 2, hh = kernel.rows / 2;
  cv::Mat area, out;
  OSErr err = WrapArea(src, srcStep, CV_8U, -anchor.x, -anchor.y, int64_t(roi.width) + 2 * hw,
                       int64_t(roi.height) + 2 * hh, area);
  if (!err) err = WrapArea(dst, dstStep, CV_8U, 0, 0, roi.width, roi.height, out);
  if (err) return OSErrToIppStatus(err);
  cv::Mat view = area(cv::Rect(hw, hh, roi.width, roi.height));
  if (dilate)
    cv::dilate(view, out, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
  else
    cv::erode(view, out, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
  return ippStsNoErr;
}

IppStatus Median(int type, const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi, IppiSize mask,
                 IppiPoint anchor) {
  if (mask.width <= 0 || mask.width != mask.height || mask.width % 2 == 0 || !src) return ippStsBadArgErr;
  const int m = mask.width, h = m / 2;
  cv::Mat area, out;
  OSErr err =
      WrapArea(src, srcStep, type, -anchor.x, -anchor.y, int64_t(roi.width) + 2 * h, int64_t(roi.height) + 2 * h, area);
  if (!err) err = WrapArea(dst, dstStep, type, 0, 0, roi.width, roi.height, out);
  if (err) return OSErrToIppStatus(err);
  // medianBlur invents its own border instead of reading the pixels around
  // its input: it runs on the region straight into the destination, which
  // is right everywhere but in the frame of h pixels along the edges; each
  // side of the frame is then made again from a strip of the area.
  cv::medianBlur(area(cv::Rect(h, h, roi.width, roi.height)), out, m);
  if (h == 0) return ippStsNoErr;
  auto rows = [&](int y, int n) {  // region rows [y, y + n)
    cv::Mat tmp;
    cv::medianBlur(area(cv::Rect(0, y, roi.width + 2 * h, n + 2 * h)), tmp, m);
    tmp(cv::Rect(h, h, roi.width, n)).copyTo(out.rowRange(y, y + n));
  };
  // Narrow strips are slow in OpenCV's median: the side strips are turned
  // into wide ones (the square window does not mind).
  auto columns = [&](int x, int n) {  // region columns [x, x + n)
    cv::Mat turned, tmp;
    cv::transpose(area(cv::Rect(x, 0, n + 2 * h, roi.height + 2 * h)), turned);
    cv::medianBlur(turned, tmp, m);
    cv::Mat side = out.colRange(x, x + n);
    cv::transpose(tmp(cv::Rect(h, h, roi.height, n)), side);
  };
  const int top = std::min(h, roi.height), left = std::min(h, roi.width);
  rows(0, top);
  if (roi.height > top) rows(std::max(top, roi.height - h), roi.height - std::max(top, roi.height - h));
  columns(0, left);
  if (roi.width > left) columns(std::max(left, roi.width - h), roi.width - std::max(left, roi.width - h));
  return ippStsNoErr;
}

IppStatus Filter(int type, const void* src, int srcStep, void* dst, int dstStep, IppiSize roi, const cv::Mat& kernel,
                 IppiPoint anchor) {
  // kernel is already turned by 180 degrees, odd-sized and scaled; the area
  // starts at anchor - 2h, where the turned kernel's centre lands on the
  // first pixel that the formula reads.
  const int hw = kernel.cols / 2, hh = kernel.rows / 2;
  cv::Mat area, out;
  OSErr err = WrapArea(src, srcStep, type, anchor.x - 2 * hw, anchor.y - 2 * hh, int64_t(roi.width) + 2 * hw,
                       int64_t(roi.height) + 2 * hh, area);
  if (!err) err = WrapArea(dst, dstStep, type, 0, 0, roi.width, roi.height, out);
  if (err) return OSErrToIppStatus(err);
  cv::filter2D(area(cv::Rect(hw, hh, roi.width, roi.height)), out, -1, kernel, cv::Point(-1, -1), 0,
               cv::BORDER_REFLECT_101);
  return ippStsNoErr;
}

cv::Mat TurnedKernel(IppiSize size, double scale, const Ipp32s* ints, const Ipp32f* floats) {
  const int hw = size.width / 2, hh = size.height / 2;
  cv::Mat k = cv::Mat::zeros(size.height | 1, size.width | 1, CV_32F);
  for (int i = 0; i < size.height; ++i)
    for (int j = 0; j < size.width; ++j) {
      const size_t at = size_t(i) * size.width + j;
      k.at<float>(2 * hh - i, 2 * hw - j) = float((ints ? double(ints[at]) : double(floats[at])) * scale);
    }
  return k;
}

IppStatus IntFilter(int type, const void* src, int srcStep, void* dst, int dstStep, IppiSize roi, const Ipp32s* kernel,
                    IppiSize kernelSize, IppiPoint anchor, int divisor) {
  return Guard([&] {
    if (!src || !kernel || divisor == 0 || kernelSize.width <= 0 || kernelSize.height <= 0) return ippStsBadArgErr;
    if (type == CV_16SC1 && divisor == 1 && dst &&
        ExactFilter16s(static_cast<const Ipp16s*>(src), srcStep, static_cast<Ipp16s*>(dst), dstStep, roi, kernel,
                       kernelSize, anchor))
      return ippStsNoErr;
    return Filter(type, src, srcStep, dst, dstStep, roi, TurnedKernel(kernelSize, 1.0 / divisor, kernel, nullptr),
                  anchor);
  });
}

IppStatus Resize(int type, const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst, int dstStep,
                 IppiRect dstRoi, double xFactor, double yFactor, double xShift, double yShift) {
  const int64_t elem = CV_ELEM_SIZE(type);
  if (!src || !dst || srcSize.width <= 0 || srcSize.height <= 0 || srcRoi.width <= 0 || srcRoi.height <= 0 ||
      srcRoi.x < 0 || srcRoi.y < 0 || int64_t(srcRoi.x) + srcRoi.width > srcSize.width ||
      int64_t(srcRoi.y) + srcRoi.height > srcSize.height || int64_t(srcStep) < srcSize.width * elem)
    return ippStsBadArgErr;
  if (dstRoi.width <= 0 || dstRoi.height <= 0 || dstRoi.x < 0 || dstRoi.y < 0 ||
      int64_t(dstStep) < (int64_t(dstRoi.x) + dstRoi.width) * elem)
    return ippStsBadArgErr;
  if (!(xFactor > 0) || !(yFactor > 0) || !std::isfinite(xFactor) || !std::isfinite(yFactor) ||
      !(std::fabs(xShift) < 1e9) || !(std::fabs(yShift) < 1e9))
    return ippStsBadArgErr;
  cv::Mat in;
  OSErr err = WrapArea(src, srcStep, type, srcRoi.x, srcRoi.y, srcRoi.width, srcRoi.height, in);
  if (err) return OSErrToIppStatus(err);
  const cv::Size size(cv::saturate_cast<int>(srcRoi.width * xFactor), cv::saturate_cast<int>(srcRoi.height * yFactor));
  if (size.width <= 0 || size.height <= 0) return ippStsMemAllocErr;

  const int64_t sx = std::llround(xShift), sy = std::llround(yShift);
  int64_t dx = dstRoi.x, dy = dstRoi.y, dw = dstRoi.width, dh = dstRoi.height, ox = 0, oy = 0;
  if (sx >= 0) {
    dx += sx;
    dw -= sx;
  } else {
    ox = -sx;
  }
  if (sy >= 0) {
    dy += sy;
    dh -= sy;
  } else {
    oy = -sy;
  }
  const int64_t w = std::min(dw, size.width - ox), h = std::min(dh, size.height - oy);
  if (w <= 0 || h <= 0) return ippStsNoErr;
  cv::Mat out;
  if (ox == 0 && oy == 0 && w == size.width && h == size.height) {
    // The whole result fits: let OpenCV write it in place.
    if ((err = WrapArea(dst, dstStep, type, int(dx), int(dy), w, h, out))) return OSErrToIppStatus(err);
    cv::resize(in, out, cv::Size(), xFactor, yFactor, cv::INTER_LINEAR);
    return out.data == dst + dy * dstStep + dx * elem ? ippStsNoErr : ippStsMemAllocErr;
  }
  cv::Mat result;
  cv::resize(in, result, cv::Size(), xFactor, yFactor, cv::INTER_LINEAR);
  if (result.empty()) return ippStsMemAllocErr;
  if ((err = WrapArea(dst, dstStep, type, int(dx), int(dy), w, h, out))) return OSErrToIppStatus(err);
  result(cv::Rect(int(ox), int(oy), int(w), int(h))).copyTo(out);
  return ippStsNoErr;
}

}  // namespace imageops

using namespace imageops;

DRAVN_C_EXPORT IppStatus IPPShare_ippiConvert_8u16s_C1R(const Ipp8u* src, int srcStep, Ipp16s* dst, int dstStep,
                                                        IppiSize roi) {
  return Convert(src, srcStep, CV_8U, dst, dstStep, CV_16S, roi);
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiConvert_16s8u_C1R(const Ipp16s* src, int srcStep, Ipp8u* dst, int dstStep,
                                                        IppiSize roi) {
  return Convert(src, srcStep, CV_16S, dst, dstStep, CV_8U, roi);
}

static IppStatus MaskMorphology(bool dilate, const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                const Ipp8u* mask, IppiSize maskSize, IppiPoint anchor) {
  return Guard([&] {
    if (!src || !mask || maskSize.width <= 0 || maskSize.height <= 0) return ippStsBadArgErr;
    const cv::Mat kernel(maskSize.height, maskSize.width, CV_8U, const_cast<Ipp8u*>(mask));
    return Morphology(dilate, src, srcStep, dst, dstStep, roi, kernel, anchor);
  });
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiDilate_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                    IppiSize roi, const Ipp8u* mask, IppiSize maskSize,
                                                    IppiPoint anchor) {
  return MaskMorphology(true, src, srcStep, dst, dstStep, roi, mask, maskSize, anchor);
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiErode_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                                                   const Ipp8u* mask, IppiSize maskSize, IppiPoint anchor) {
  return MaskMorphology(false, src, srcStep, dst, dstStep, roi, mask, maskSize, anchor);
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilterMedian_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                          IppiSize roi, IppiSize maskSize, IppiPoint anchor) {
  return Guard([&] { return Median(CV_8UC1, src, srcStep, dst, dstStep, roi, maskSize, anchor); });
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilterMedian_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                          IppiSize roi, IppiSize maskSize, IppiPoint anchor) {
  return Guard([&] { return Median(CV_8UC3, src, srcStep, dst, dstStep, roi, maskSize, anchor); });
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilter_16s_C1R(const Ipp16s* src, int srcStep, Ipp16s* dst, int dstStep,
                                                     IppiSize roi, const Ipp32s* kernel, IppiSize kernelSize,
                                                     IppiPoint anchor, int divisor) {
  return IntFilter(CV_16SC1, src, srcStep, dst, dstStep, roi, kernel, kernelSize, anchor, divisor);
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilter_8u_C1R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                    IppiSize roi, const Ipp32s* kernel, IppiSize kernelSize,
                                                    IppiPoint anchor, int divisor) {
  return IntFilter(CV_8UC1, src, srcStep, dst, dstStep, roi, kernel, kernelSize, anchor, divisor);
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiFilter_8u_C3R(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep,
                                                    IppiSize roi, const Ipp32s* kernel, IppiSize kernelSize,
                                                    IppiPoint anchor, int divisor) {
  return IntFilter(CV_8UC3, src, srcStep, dst, dstStep, roi, kernel, kernelSize, anchor, divisor);
}

DRAVN_C_EXPORT IppStatus OPCV_ippiResizeSqrPixel_8u_C1R(const Ipp8u* src, IppiSize srcSize, int srcStep,
                                                        IppiRect srcRoi, Ipp8u* dst, int dstStep, IppiRect dstRoi,
                                                        double xFactor, double yFactor, double xShift, double yShift,
                                                        int /*interpolation*/, Ipp8u* /*buffer*/) {
  return Guard([&] {
    return Resize(CV_8UC1, src, srcSize, srcStep, srcRoi, dst, dstStep, dstRoi, xFactor, yFactor, xShift, yShift);
  });
}

DRAVN_C_EXPORT IppStatus IPPShare_ippiSet_8u_C1R(Ipp8u value, Ipp8u* dst, int dstStep, IppiSize roi) {
  if (roi.width <= 0 || roi.height <= 0 || dstStep < roi.width || !dst) return ippStsBadArgErr;
  for (int y = 0; y < roi.height; ++y) std::memset(dst + size_t(y) * dstStep, value, size_t(roi.width));
  return ippStsNoErr;
}

DRAVN_C_EXPORT Ipp16s* IPPShare_ippiMalloc_16s_C1(int width, int height, int* step) {
  return static_cast<Ipp16s*>(MallocRows(width, height, 2, step));
}

DRAVN_C_EXPORT void IPPShare_ippiFree(void* p) { std::free(p); }

DRAVN_C_EXPORT IppStatus IPPShare_ippStaticInit(void) { return ippStsNoErr; }

DRAVN_C_EXPORT IppStatus IppInit(void) { return ippStsNoErr; }
