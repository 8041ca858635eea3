// The vectorised whole-page row loops give, byte for byte, what the plain
// per-pixel arithmetic gives: every colour, every row length up to a few
// vectors past the widest, rows that start off any alignment.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "page_rows.h"

using namespace turnsense;

namespace {

uint8_t PlainGrey(const uint8_t* p) { return uint8_t((77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8); }

// Each red level is a page of 256 rows (green) by 256 pixels (blue), its
// rows padded as a scanner's are.
TEST(PageRows, GreyOfEveryColourIsThePlainWeightedSum) {
  const size_t w = 256, stride = 3 * w + 5;
  std::vector<uint8_t> rgb(stride * 256), grey(w * 256);
  for (int r = 0; r < 256; ++r) {
    for (size_t g = 0; g < 256; ++g)
      for (size_t b = 0; b < w; ++b) {
        uint8_t* p = &rgb[g * stride + 3 * b];
        p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b);
      }
    GreyRows(rgb.data(), stride, grey.data(), w, 256);
    for (size_t g = 0; g < 256; ++g)
      for (size_t b = 0; b < w; ++b)
        ASSERT_EQ(grey[g * w + b], PlainGrey(&rgb[g * stride + 3 * b])) << r << " " << g << " " << b;
  }
}

// Row lengths 1 to 130 from every byte offset: each row's tail is converted
// and no byte past a row's end (or before the next row) is written.
TEST(PageRows, GreyOfEveryRowLengthAndAlignment) {
  std::mt19937 rng(46);
  for (size_t w = 1; w <= 130; ++w)
    for (size_t offset = 0; offset < 4; ++offset) {
      const size_t h = 3, stride = 3 * w + offset;
      std::vector<uint8_t> rgb(offset + stride * h);
      for (uint8_t& v : rgb) v = uint8_t(rng());
      std::vector<uint8_t> grey(offset + w * h + 1, 0xA5);
      GreyRows(rgb.data() + offset, stride, grey.data() + offset, w, h);
      for (size_t i = 0; i < offset; ++i) ASSERT_EQ(grey[i], 0xA5);
      ASSERT_EQ(grey.back(), 0xA5) << w;
      for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x)
          ASSERT_EQ(grey[offset + y * w + x], PlainGrey(&rgb[offset + y * stride + 3 * x])) << w << " " << offset;
    }
}

TEST(PageRows, InversionOfEveryLengthAndAlignment) {
  std::mt19937 rng(7);
  for (size_t n = 0; n <= 300; ++n)
    for (size_t offset = 0; offset < 4; ++offset) {
      std::vector<uint8_t> bytes(offset + n + 1);
      for (uint8_t& v : bytes) v = uint8_t(rng());
      const std::vector<uint8_t> before = bytes;
      InvertBytes(bytes.data() + offset, n);
      for (size_t i = 0; i < bytes.size(); ++i) {
        const bool inside = i >= offset && i < offset + n;
        ASSERT_EQ(bytes[i], inside ? uint8_t(255 - before[i]) : before[i]) << n << " " << offset << " " << i;
      }
    }
}

}  // namespace
