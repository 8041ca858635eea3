// The page record: allocation, row sizes and the rectangle helper.
#include "page_record.h"

#include <climits>
#include <cmath>
#include <cstdlib>

#include "dravn_export.h"

using namespace Tools;

namespace imageops {

int PageType(int32_t depth) {
  switch (depth) {
    case 8:
      return CV_8UC1;
    case 24:
      return CV_8UC3;
    case 32:
      return CV_8UC4;
    default:
      return -1;
  }
}

OSErr WrapPage(const VKIMG* page, cv::Mat& out) {
  if (!page || !page->baseAddr || page->width <= 0 || page->height <= 0) return paramErr;
  const int type = PageType(page->depth);
  if (type < 0) return depthErr;
  if (int64_t(page->rowBytes) * page->height > int64_t(page->size) && page->size != 0) return paramErr;
  return WrapArea(page->baseAddr, page->rowBytes, type, 0, 0, page->width, page->height, out);
}

static int64_t RowBytes(int64_t width, int32_t depth, bool uniteRows) {
  auto to16 = [](int64_t n) { return (n + 15) / 16 * 16; };
  switch (depth) {
    case 1:
      return to16((width + 7) / 8);
    case 8:
    case 40:
      return to16(width);
    case 24:
      return uniteRows ? (24 * width + 31) / 32 * 4 : 3 * width;
    case 32:
      return to16(4 * width);
    default:
      return -1;
  }
}

OSErr NewPage(int32_t width, int32_t height, int32_t depth, bool uniteRows, PagePtr& out) {
  out.reset();
  if (width <= 0 || height <= 0) return paramErr;
  const int64_t rowBytes = RowBytes(width, depth, uniteRows);
  if (rowBytes <= 0 || rowBytes * height > INT32_MAX) return paramErr;
  auto* page = static_cast<VKIMG*>(std::calloc(1, sizeof(VKIMG)));
  if (!page) return memFullErr;
  out.reset(page);
  page->baseAddr = static_cast<uint8_t*>(std::calloc(size_t(rowBytes), size_t(height)));
  if (!page->baseAddr) {
    out.reset();
    return memFullErr;
  }
  page->depth = depth;
  page->width = width;
  page->height = height;
  page->rowBytes = int32_t(rowBytes);
  page->size = int32_t(rowBytes * height);
  return noErr;
}

static OSErr CreatePage(VKIMG** out, const VkRect* rect, int32_t depth, bool uniteRows) {
  if (!out) return paramErr;
  *out = nullptr;
  if (!rect) return paramErr;
  const int64_t w = int64_t(rect->right) - rect->left, h = int64_t(rect->bottom) - rect->top;
  if (w > INT32_MAX || h > INT32_MAX) return paramErr;
  PagePtr page;
  if (OSErr err = NewPage(int32_t(w), int32_t(h), depth, uniteRows, page)) return err;
  *out = page.release();
  return noErr;
}

}  // namespace imageops

using namespace imageops;

DRAVN_C_EXPORT int16_t CreateNewVKIMGPtr(VKIMG** out, const VkRect* rect, int32_t depth) {
  return CreatePage(out, rect, depth, false);
}

DRAVN_C_EXPORT int16_t CreateNewVKIMGPtrForUnite(VKIMG** out, const VkRect* rect, int32_t depth) {
  return CreatePage(out, rect, depth, true);
}

DRAVN_C_EXPORT void DisposeVKIMG(VKIMG* image) {
  if (!image) return;
  std::free(image->baseAddr);
  std::free(image);
}

DRAVN_C_EXPORT void VkSetRect(VkRect* rect, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (!rect) return;
  rect->left = left;
  rect->top = top;
  rect->right = right;
  rect->bottom = bottom;
}

DRAVN_C_EXPORT void VkMac_ippiGetRotateShift(double xCenter, double yCenter, double angle, double* xShift,
                                             double* yShift) {
  if (!xShift || !yShift) return;
  const double a = angle * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
  *xShift = xCenter - xCenter * c - yCenter * s;
  *yShift = xCenter * s + yCenter - yCenter * c;
}
