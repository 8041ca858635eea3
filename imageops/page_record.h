// The page record behind the page entries: allocation and OpenCV views.
#ifndef DRAVN_IMAGEOPS_PAGE_RECORD_H
#define DRAVN_IMAGEOPS_PAGE_RECORD_H

#include <memory>
#include <opencv2/core.hpp>

#include "opcv.h"
#include "tools.h"

namespace imageops {

constexpr Tools::OSErr depthErr = -2, angleErr = -3;

// OpenCV type of a page depth (8, 24, 32), or -1.
int PageType(int32_t depth);

// A header over a page's pixels: paramErr for a damaged record, depthErr for
// a depth without an OpenCV layout.
Tools::OSErr WrapPage(const VKIMG* page, cv::Mat& out);

// A page that frees itself unless it is handed out.
struct PageDeleter {
  void operator()(VKIMG* p) const { DisposeVKIMG(p); }
};
using PagePtr = std::unique_ptr<VKIMG, PageDeleter>;

Tools::OSErr NewPage(int32_t width, int32_t height, int32_t depth, bool uniteRows, PagePtr& out);

}  // namespace imageops

#endif
