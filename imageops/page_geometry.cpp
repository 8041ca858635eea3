// Rotation, deskew, quarter turns and resize of pages.
#include <climits>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "dravn_export.h"
#include "page_record.h"

using namespace Tools;

namespace imageops {
namespace {

// dst(x, y) = the source region turned by `angle` degrees (counter-clockwise)
// about its origin, at (x - xShift, y - yShift), the shifts rounded to whole
// pixels; what the source does not cover takes `fill`. One warp straight into
// the destination region does what padding the source and cutting the
// destination out of the padded result would.
IppStatus Rotate(int type, const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst, int dstStep,
                 IppiRect dstRoi, double angle, double xShift, double yShift, const cv::Scalar& fill) {
  if (!src || !dst || srcRoi.x < 0 || srcRoi.y < 0 || srcRoi.width <= 0 || srcRoi.height <= 0 ||
      int64_t(srcRoi.x) + srcRoi.width > srcSize.width || int64_t(srcRoi.y) + srcRoi.height > srcSize.height ||
      dstRoi.x < 0 || dstRoi.y < 0 || !std::isfinite(angle) || !(std::fabs(xShift) < 1e9) || !(std::fabs(yShift) < 1e9))
    return ippStsBadArgErr;
  cv::Mat in, out;
  OSErr err = WrapArea(src, srcStep, type, srcRoi.x, srcRoi.y, srcRoi.width, srcRoi.height, in);
  if (!err) err = WrapArea(dst, dstStep, type, dstRoi.x, dstRoi.y, dstRoi.width, dstRoi.height, out);
  if (err) return OSErrToIppStatus(err);
  cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(0, 0), angle, 1.0);
  m.at<double>(0, 2) = double(std::llround(xShift));
  m.at<double>(1, 2) = double(std::llround(yShift));
  cv::warpAffine(in, out, m, out.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, fill);
  return ippStsNoErr;
}

// Turns the whole of `in` about `center` and writes what lands on the
// source's own frame to the top-left of `out`, clipped to both.
void RotateCentred(const cv::Mat& in, cv::Mat& out, cv::Point2d center, double angle, const cv::Scalar& fill) {
  cv::Mat view = out(cv::Rect(0, 0, std::min(in.cols, out.cols), std::min(in.rows, out.rows)));
  const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(float(center.x), float(center.y)), angle, 1.0);
  cv::warpAffine(in, view, m, view.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, fill);
}

cv::Scalar Fill(int32_t depth, int fillWhite) {
  if (!fillWhite || depth == 8) return cv::Scalar::all(0);
  return depth == 24 ? cv::Scalar(255, 255, 255) : cv::Scalar(0, 255, 255, 255);
}

// The page rotation behind DeskewImageWithIPPEx and its variant: the new
// page is `area` of the page turned by `angle` with the given shift.
OSErr DeskewArea(const VKIMG* src, VKIMG** out, int fillWhite, const VkRect* area, double angle, double xShift,
                 double yShift) {
  cv::Mat in;
  if (OSErr err = WrapPage(src, in)) return err;
  const int64_t w = int64_t(area->right) - area->left, h = int64_t(area->bottom) - area->top;
  if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) return paramErr;
  PagePtr page;
  if (OSErr err = NewPage(int32_t(w), int32_t(h), src->depth, false, page)) return err;
  const IppStatus st =
      Rotate(in.type(), src->baseAddr, {src->width, src->height}, src->rowBytes, {0, 0, src->width, src->height},
             page->baseAddr, page->rowBytes, {0, 0, page->width, page->height}, angle, xShift - area->left,
             yShift - area->top, Fill(src->depth, fillWhite));
  if (st != ippStsNoErr) return st == ippStsMemAllocErr ? memFullErr : depthErr;
  *out = page.release();
  return noErr;
}

}  // namespace
}  // namespace imageops

using namespace imageops;

static int16_t RotateEntry(int type, const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi, Ipp8u* dst,
                           int dstStep, IppiRect dstRoi, double angle, double xShift, double yShift) {
  return IppStatusToOSErr(Guard([&] {
    return Rotate(type, src, srcSize, srcStep, srcRoi, dst, dstStep, dstRoi, angle, xShift, yShift, cv::Scalar::all(0));
  }));
}

DRAVN_C_EXPORT int16_t VkMac_ippiRotate_8u_C1R(const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi,
                                               Ipp8u* dst, int dstStep, IppiRect dstRoi, double angle, double xShift,
                                               double yShift, int /*interpolation*/) {
  return RotateEntry(CV_8UC1, src, srcSize, srcStep, srcRoi, dst, dstStep, dstRoi, angle, xShift, yShift);
}

DRAVN_C_EXPORT int16_t VkMac_ippiRotate_8u_C3R(const Ipp8u* src, IppiSize srcSize, int srcStep, IppiRect srcRoi,
                                               Ipp8u* dst, int dstStep, IppiRect dstRoi, double angle, double xShift,
                                               double yShift, int /*interpolation*/) {
  return RotateEntry(CV_8UC3, src, srcSize, srcStep, srcRoi, dst, dstStep, dstRoi, angle, xShift, yShift);
}

DRAVN_C_EXPORT int16_t DeskewImageWithIPP(const VKIMG* src, VkImageDesc** desc, VKIMG** out, int /*interpolation*/,
                                          int fillWhite, double angle) {
  if (!out) return paramErr;
  *out = nullptr;
  return GuardOSErr([&]() -> OSErr {
    if (!src || !desc || !*desc || !std::isfinite(angle)) return paramErr;
    cv::Mat in, dst;
    if (OSErr err = WrapPage(src, in)) return err;
    PagePtr page;
    if (OSErr err = NewPage((*desc)->width, (*desc)->height, src->depth, false, page)) return err;
    if (OSErr err = WrapPage(page.get(), dst)) return err;
    RotateCentred(in, dst, {(src->width - 1) / 2.0, (src->height - 1) / 2.0}, angle, Fill(src->depth, fillWhite));
    *out = page.release();
    return noErr;
  });
}

DRAVN_C_EXPORT int16_t DeskewImageWithIPPEx(const VKIMG* src, VkImageDesc** desc, VKIMG** out, int /*interpolation*/,
                                            int fillWhite, const VkRect* area, double angle) {
  if (!out) return paramErr;
  *out = nullptr;
  return GuardOSErr([&]() -> OSErr {
    if (!src || !desc || !*desc || !area || !std::isfinite(angle)) return paramErr;
    double xs = 0, ys = 0;
    VkMac_ippiGetRotateShift((src->width - 1) / 2.0, (src->height - 1) / 2.0, angle, &xs, &ys);
    return DeskewArea(src, out, fillWhite, area, angle, xs, ys);
  });
}

DRAVN_C_EXPORT int16_t DeskewImageWithIPPExWithShirftPoint(const VKIMG* src, VkImageDesc** desc, VKIMG** out,
                                                           int /*interpolation*/, int fillWhite, const VkRect* area,
                                                           double angle, double xCenter, double yCenter) {
  if (!out) return paramErr;
  *out = nullptr;
  return GuardOSErr([&]() -> OSErr {
    if (!src || !desc || !*desc || !area || !std::isfinite(angle) || !std::isfinite(xCenter) || !std::isfinite(yCenter))
      return paramErr;
    double xs = 0, ys = 0;
    VkMac_ippiGetRotateShift(xCenter, yCenter, angle, &xs, &ys);
    return DeskewArea(src, out, fillWhite, area, angle, xs - xCenter, ys - yCenter);
  });
}

DRAVN_C_EXPORT int16_t RotateImageWithIPP(const VKIMG* src, VkImageDesc** desc, VKIMG** out, double angle) {
  if (!out) return paramErr;
  *out = nullptr;
  return GuardOSErr([&]() -> OSErr {
    if (!src || !desc || !*desc) return paramErr;
    cv::Mat in, dst;
    if (OSErr err = WrapPage(src, in)) return err;
    int code;
    if (angle == 90 || angle == -270)
      code = cv::ROTATE_90_CLOCKWISE;
    else if (angle == 180 || angle == -180)
      code = cv::ROTATE_180;
    else if (angle == 270 || angle == -90)
      code = cv::ROTATE_90_COUNTERCLOCKWISE;
    else
      return angleErr;
    const bool swap = code != cv::ROTATE_180;
    PagePtr page;
    if (OSErr err = NewPage(swap ? src->height : src->width, swap ? src->width : src->height, src->depth, false, page))
      return err;
    if (OSErr err = WrapPage(page.get(), dst)) return err;
    cv::rotate(in, dst, code);
    if (dst.data != page->baseAddr) return memFullErr;
    (*desc)->width = page->width;
    (*desc)->height = page->height;
    *out = page.release();
    return noErr;
  });
}

DRAVN_C_EXPORT int16_t UniteImageIplRotateImage(VKIMG* dstRecord, const VKIMG* src, VKIMG** out, double angle) {
  constexpr OSErr kFailed = -1001;
  if (!out) return paramErr;
  *out = nullptr;
  if (!dstRecord || !src) return paramErr;
  const OSErr result = GuardOSErr([&]() -> OSErr {
    cv::Mat in;
    if (WrapPage(src, in) || dstRecord->depth != src->depth || !std::isfinite(angle)) return kFailed;
    const double a = -(angle > 180 ? angle - 360 : angle);
    PagePtr page;
    if (NewPage(dstRecord->width, dstRecord->height, dstRecord->depth, true, page)) return kFailed;
    double xs = 0, ys = 0;
    VkMac_ippiGetRotateShift(src->width / 2.0, src->height / 2.0, a, &xs, &ys);
    xs += dstRecord->width / 2.0 - src->width / 2.0;
    ys += dstRecord->height / 2.0 - src->height / 2.0;
    if (Rotate(in.type(), src->baseAddr, {src->width, src->height}, src->rowBytes, {0, 0, src->width, src->height},
               page->baseAddr, page->rowBytes, {0, 0, page->width, page->height}, a, xs, ys, cv::Scalar::all(0)))
      return kFailed;
    dstRecord->baseAddr = page->baseAddr;
    dstRecord->rowBytes = page->rowBytes;
    dstRecord->size = page->size;
    *out = page.release();
    return noErr;
  });
  return result == noErr ? noErr : kFailed;
}

DRAVN_C_EXPORT int16_t ResizeImageWithIPPEx(const VKIMG* src, VKIMG** out, int32_t fromResolution,
                                            int32_t toResolution) {
  if (!out) return paramErr;
  *out = nullptr;
  return GuardOSErr([&]() -> OSErr {
    if (!src || fromResolution <= 0 || toResolution <= 0) return paramErr;
    cv::Mat in, dst;
    if (OSErr err = WrapPage(src, in)) return err;
    const double factor = double(toResolution) / fromResolution;
    const double w = std::trunc(src->width * factor), h = std::trunc(src->height * factor);
    if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return paramErr;
    PagePtr page;
    if (OSErr err = NewPage(int32_t(w), int32_t(h), src->depth, false, page)) return err;
    if (OSErr err = WrapPage(page.get(), dst)) return err;
    cv::resize(in, dst, dst.size(), 0, 0, cv::INTER_LINEAR);
    if (dst.data != page->baseAddr) return memFullErr;
    *out = page.release();
    return noErr;
  });
}
