// Synthetic pages for the image-step and pipeline tests.
#ifndef DRAVN_TESTS_PIPELINE_PAGES_H
#define DRAVN_TESTS_PIPELINE_PAGES_H

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image_params.h"

namespace pages {

inline KELO_IMAGEDATA_PARAMETERS Colour(int w, int h) { return {1, 1, w, h, 3 * w, 8}; }
inline KELO_IMAGEDATA_PARAMETERS Grey(int w, int h) { return {0, 1, w, h, w, 8}; }
inline KELO_IMAGEDATA_PARAMETERS Bits(int w, int h) { return {0, 1, w, h, (w + 7) / 8, 1}; }

// A malloc'd buffer the steps may free and replace.
inline unsigned char* Malloc(const std::vector<unsigned char>& bytes) {
  unsigned char* p = static_cast<unsigned char*>(malloc(bytes.size() ? bytes.size() : 1));
  if (!bytes.empty()) memcpy(p, bytes.data(), bytes.size());
  return p;
}

// Smooth shading with a few sharp-edged blocks, different in each channel.
inline std::vector<unsigned char> Document(int w, int h, int bytesPerPixel = 3) {
  std::vector<unsigned char> p(static_cast<size_t>(w) * h * bytesPerPixel);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < bytesPerPixel; ++c) {
        double v = 128 + 90 * std::sin(x * (0.021 + 0.01 * c)) * std::cos(y * 0.017);
        if ((x / 37 + y / 23) % 5 == 0) v = 20 + 40 * c;  // "text" blocks
        p[(static_cast<size_t>(y) * w + x) * bytesPerPixel + c] = static_cast<unsigned char>(v);
      }
  return p;
}

// Every pixel different: rotation must move each one exactly.
inline std::vector<unsigned char> Numbered(int h, int bytesPerLine) {
  std::vector<unsigned char> p(static_cast<size_t>(bytesPerLine) * h);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<unsigned char>((i * 131 + i / 7) & 0xFF);
  return p;
}

}  // namespace pages

#endif
