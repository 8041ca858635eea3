#include "converters.h"

#include <cstddef>

void rgb2y(const uint8_t* src, uint8_t* dst, int height, int width, int kind, int* weights) {
  if (kind == 2) weights[0] = 30608, weights[1] = 60068, weights[2] = 11722;
  if (kind == 0) weights[0] = 0, weights[1] = 102400, weights[2] = 0;
  const size_t n = size_t(height) * width;
  for (size_t i = 0; i < n; ++i) {
    const long long sum = (long long)src[3 * i] * weights[0] + (long long)src[3 * i + 1] * weights[1] +
                          (long long)src[3 * i + 2] * weights[2];
    dst[i] = sum > 26214399 ? 255 : uint8_t(sum < 0 ? 0 : sum / 102400);
  }
}

void y2rgb(const uint8_t* src, uint8_t* dst, int height, int width) {
  const size_t n = size_t(height) * width;
  for (size_t i = 0; i < n; ++i) dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = src[i];
}

void bin2rgb(const uint8_t* bits, uint8_t* dst, int height, int width) {
  const size_t n = size_t(height) * width;
  for (size_t i = 0; i < n; ++i) dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = bits[i] ? 255 : 0;
}

void bin2byte(const uint8_t* bits, uint8_t* dst, int height, int width) {
  const size_t n = size_t(height) * width;
  for (size_t i = 0; i < n; ++i) dst[i] = bits[i] ? 255 : 0;
}

void plane2rgb(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* dst, int height, int width) {
  const size_t n = size_t(height) * width;
  for (size_t i = 0; i < n; ++i) dst[3 * i] = r[i], dst[3 * i + 1] = g[i], dst[3 * i + 2] = b[i];
}
