// Pages and records for the judges' tests: 8- and 24-bit pages built pixel
// by pixel, and their _P2IIMG and control-layer forms.
#ifndef DRAVN_TESTS_IMGFORGE_JUDGES_TEST_UTIL_H
#define DRAVN_TESTS_IMGFORGE_JUDGES_TEST_UTIL_H

#include <cstdint>
#include <vector>

#include "fsip_records.h"

namespace judges_test {

struct Page {
  int width = 0, height = 0, depth = 8, xres = 300, yres = 300;
  std::vector<uint8_t> pixels;

  Page() = default;
  Page(int w, int h, int d, uint8_t fill, int dpi = 300) : width(w), height(h), depth(d), xres(dpi), yres(dpi) {
    pixels.assign(static_cast<size_t>(BytesPerLine()) * h, fill);
  }
  int BytesPerLine() const { return (width * depth + 7) / 8; }
  uint8_t* At(int x, int y) { return &pixels[static_cast<size_t>(y) * BytesPerLine() + x * depth / 8]; }
  void Grey(int x, int y, uint8_t v) { *At(x, y) = v; }
  void Rgb(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = At(x, y);
    p[0] = r, p[1] = g, p[2] = b;
  }
  void Box(int x0, int y0, int w, int h, uint8_t v) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) depth == 8 ? Grey(x, y, v) : Rgb(x, y, v, v, v);
  }

  _P2IIMG P2i() {
    _P2IIMG p{};
    p.pImageData = pixels.data();
    p.nBitsPerPixel = depth;
    p.nWidth = width, p.nHeight = height;
    p.nBytesPerLine = BytesPerLine();
    p.nImageSize = static_cast<int32_t>(pixels.size());
    p.nXResolution = xres, p.nYResolution = yres;
    p.nRight = width - 1, p.nBottom = height - 1;
    return p;
  }
  FSIP_S_IMAGEINFO_EX Info() {
    FSIP_S_IMAGEINFO_EX im{};
    im.cbSize = sizeof im;
    im.pImageData = pixels.data();
    im.nPixelType = depth == 1 ? 0 : depth == 8 ? 1 : 2;
    im.nDepth = depth;
    im.nColorSeq = depth == 24 ? 1 : 0;
    im.nWidth = width, im.nHeight = height;
    im.nBytesPerLine = BytesPerLine();
    im.nImageSize = static_cast<int32_t>(pixels.size());
    im.nXResolution = xres, im.nYResolution = yres;
    return im;
  }
};

}  // namespace judges_test

#endif
