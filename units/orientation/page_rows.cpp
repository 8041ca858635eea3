#include "page_rows.h"

// clang does not clone for several targets what the fuzz build compiles.
#if defined(__clang__)
#define PAGE_ROW_CLONES
#else
#define PAGE_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace turnsense {
namespace {

// The three products of a pixel sum to at most 65280: word lanes hold them.
PAGE_ROW_CLONES void GreyRow(const uint8_t* __restrict rgb, uint8_t* __restrict grey, size_t width) {
  for (size_t x = 0; x < width; ++x)
    grey[x] = uint8_t(uint16_t(77 * rgb[3 * x] + 150 * rgb[3 * x + 1] + 29 * rgb[3 * x + 2]) >> 8);
}

PAGE_ROW_CLONES void InvertRun(uint8_t* __restrict bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(255 - bytes[i]);
}

}  // namespace

void GreyRows(const uint8_t* rgb, size_t stride, uint8_t* grey, size_t width, size_t height) {
  for (size_t y = 0; y < height; ++y) GreyRow(rgb + y * stride, grey + y * width, width);
}

void InvertBytes(uint8_t* bytes, size_t n) { InvertRun(bytes, n); }

}  // namespace turnsense
