// Copy-mark placement over rotations, corners, resolutions and margins, and
// its removal from byte and packed pages, with our own neutral mark.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "case_name.h"
#include "copy_mark.h"
#include "converters.h"

namespace {

struct Place {
  const char* what;
  int dpi, rotation, corner, hOff, vOff;
  int marginFlag, top, bottom, left, right;  // hundredths of a millimetre
  int rc;
  int x, y, markW, markH, orientation, scale;
};

class Placement : public ::testing::TestWithParam<Place> {};

constexpr int kPageW = 1700, kPageH = 2200;

TEST_P(Placement, Table) {
  const Place& c = GetParam();
  CopyMarkArea a{};
  a.resolution = c.dpi, a.hOffset = c.hOff, a.vOffset = c.vOff;
  a.marginFlag = c.marginFlag, a.marginTop = c.top, a.marginBottom = c.bottom, a.marginLeft = c.left,
  a.marginRight = c.right;
  ASSERT_EQ(GetCopyMarkArea(&a, kPageH, kPageW, c.rotation, c.corner), c.rc) << c.what;
  if (c.rc != 0) return;
  EXPECT_EQ(a.tlX, c.x) << c.what;
  EXPECT_EQ(a.tlY, c.y) << c.what;
  EXPECT_EQ(a.markWidth, c.markW) << c.what;
  EXPECT_EQ(a.markHeight, c.markH) << c.what;
  EXPECT_EQ(a.brX - a.tlX + 1, c.markW);
  EXPECT_EQ(a.brY - a.tlY + 1, c.markH);
  EXPECT_EQ(a.trX, a.brX);
  EXPECT_EQ(a.blY, a.brY);
  EXPECT_EQ(a.orientation, c.orientation) << c.what;
  EXPECT_EQ(a.scale, c.scale) << c.what;
}

// 200 dpi: offsets of 0 mean 5 mm, 39 pixels.
INSTANTIATE_TEST_SUITE_P(
    Marks, Placement,
    ::testing::Values(
        Place{"no mark", 200, 1, 999, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, 0},
        Place{"upright, bottom-right", 200, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, kPageW - 39 - 160, kPageH - 39 - 76, 160, 76,
              0, 1},
        Place{"upright, bottom-left", 200, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 39, kPageH - 39 - 76, 160, 76, 0, 1},
        Place{"upright, top-left", 200, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 39, 39, 160, 76, 0, 1},
        Place{"upright, corner 7 as corner 0", 200, 1, 7, 0, 0, 0, 0, 0, 0, 0, 0, kPageW - 39 - 160, kPageH - 39 - 76,
              160, 76, 0, 1},
        // A quarter turn: the mark and the offsets turn with the page.
        Place{"rotation 2, top-right", 200, 2, 0, 100, 200, 0, 0, 0, 0, 0, 0, kPageW - 157 - 76, 78, 76, 160, 3, 1},
        Place{"rotation 3, bottom-right", 200, 3, 2, 0, 0, 0, 0, 0, 0, 0, 0, kPageW - 39 - 160, kPageH - 39 - 76, 160,
              76, 2, 1},
        Place{"rotation 4, top-left", 200, 4, 1, 0, 0, 0, 0, 0, 0, 0, 0, 39, 39, 76, 160, 1, 1},
        Place{"150 dpi: half size", 150, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 29, 29, 80, 38, 0, 0},
        Place{"400 dpi: double size", 400, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 78, 78, 320, 152, 0, 2},
        // 254 dpi: a margin of 10 mm is 100 pixels; the mark moves inside it.
        Place{"margins push the mark in", 254, 1, 2, 0, 0, 1, 1000, 0, 2000, 0, 0, 200, 100, 160, 76, 0, 1},
        Place{"margins turned with the page", 254, 3, 0, 0, 0, 1, 0, 1000, 0, 2000, 0, 200, 100, 160, 76, 2, 1},
        Place{"margins leave no room", 254, 1, 2, 0, 0, 1, 110000, 110000, 0, 0, -1, 0, 0, 0, 0, 0, 0},
        Place{"negative margins switch them off", 254, 1, 2, 0, 0, 1, -2000, 0, 0, 0, 0, 50, 50, 160, 76, 0, 1},
        Place{"offsets push the mark off the page", 200, 1, 2, 30000, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, 0}),
    [](const auto& info) { return CaseName(info.param.what); });

TEST(CopyMark, MarkWiderThanThePage) {
  CopyMarkArea a{};
  a.resolution = 400;
  EXPECT_EQ(GetCopyMarkArea(&a, 1000, 320, 1, 2), -1);
  a = CopyMarkArea{};
  a.resolution = 400;
  EXPECT_EQ(GetCopyMarkArea(&a, 1000, 321, 1, 2), -1) << "78 pixels in, it reaches past the edge";
  a = CopyMarkArea{};
  a.resolution = 400;
  EXPECT_EQ(GetCopyMarkArea(&a, 1000, 500, 1, 2), 0);
}

int BlackIn(const std::vector<uint8_t>& page, int w, const CopyMarkArea& a) {
  int n = 0;
  for (int y = a.tlY; y <= a.brY; ++y)
    for (int x = a.tlX; x <= a.brX; ++x) n += page[size_t(y) * w + x] == 0;
  return n;
}

TEST(CopyMark, PrintedMarkIsWhitened) {
  const int w = 900, h = 700;
  int params[32] = {};
  params[16] = 200, params[20] = 2, params[23] = 4;  // top-left at a quarter turn: orientation 1
  CopyMarkArea a{};
  a.resolution = 200;
  ASSERT_EQ(GetCopyMarkArea(&a, h, w, 4, 2), 0);
  // The mark printed in black where it is expected, and one ink dot beside it.
  std::vector<uint8_t> page(size_t(w) * h, 1);
  const uint8_t* t = CopyMarkTemplate(1);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 76; ++x)
      if (t[y * 76 + x]) page[size_t(a.tlY + y) * w + a.tlX + x] = 0;
  page[size_t(500) * w + 500] = 0;
  ASSERT_GT(BlackIn(page, w, a), 1000);
  ASSERT_EQ(MergeCopyMark(page.data(), h, w, params), 0);
  EXPECT_EQ(BlackIn(page, w, a), 0);
  EXPECT_EQ(page[size_t(500) * w + 500], 0);
  params[20] = 999;
  std::vector<uint8_t> before = page;
  EXPECT_EQ(MergeCopyMark(page.data(), h, w, params), -1);
  EXPECT_EQ(page, before);
}

TEST(CopyMark, PackedPageAtAnyBitOffset) {
  const int w = 1000, h = 600, bpl = (w + 7) / 8;
  int params[32] = {};
  params[16] = 200, params[20] = 2, params[23] = 1;
  for (int hOff : {50, 51, 55}) {  // left edge 39, 40 and 43 pixels in
    params[21] = hOff;
    CopyMarkArea a{};
    a.resolution = 200, a.hOffset = hOff;
    ASSERT_EQ(GetCopyMarkArea(&a, h, w, 1, 2), 0);
    std::vector<uint8_t> packed(size_t(bpl) * h, 0xFF);
    for (size_t y = 0; y < size_t(h); ++y) packed[y * bpl + bpl - 1] = 0xFF;
    int tw, th;
    const uint8_t* t = CopyMarkPacked(1, &tw, &th);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x)
        if (t[size_t(y) * (tw / 8) + x / 8] & (0x80 >> (x % 8)))
          packed[size_t(a.tlY + y) * bpl + (a.tlX + x) / 8] &= uint8_t(~(0x80 >> ((a.tlX + x) % 8)));
    ASSERT_EQ(MergeCopyMarkPost(packed.data(), h, w, params, bpl), 0);
    for (uint8_t b : packed) ASSERT_EQ(b, 0xFF) << hOff;
  }
}

TEST(Converters, Table) {
  const uint8_t rgb[6] = {10, 200, 30, 255, 255, 255};
  uint8_t y[2];
  int weights[3] = {0, 0, 0};
  rgb2y(rgb, y, 1, 2, 0, weights);
  EXPECT_EQ(y[0], 200);
  rgb2y(rgb, y, 1, 2, 2, weights);
  EXPECT_EQ(y[0], (10 * 30608 + 200 * 60068 + 30 * 11722) / 102400);
  EXPECT_EQ(y[1], 254);
  int heavy[3] = {102400, 102400, 0};
  rgb2y(rgb, y, 1, 2, 1, heavy);
  EXPECT_EQ(y[1], 255);  // a sum above 26214399
  int mine[3] = {102400, 0, 0};
  rgb2y(rgb, y, 1, 2, 5, mine);
  EXPECT_EQ(y[0], 10);
  uint8_t out[6];
  y2rgb(y, out, 1, 2);
  EXPECT_EQ(out[2], 10);
  EXPECT_EQ(out[3], 255);
  const uint8_t bits[2] = {0, 1};
  bin2rgb(bits, out, 1, 2);
  EXPECT_EQ(out[0] | out[1] | out[2], 0);
  EXPECT_EQ(out[3] & out[4] & out[5], 255);
  bin2byte(bits, out, 1, 2);
  EXPECT_EQ(out[1], 255);
  const uint8_t r[2] = {1, 2}, g[2] = {3, 4}, b[2] = {5, 6};
  plane2rgb(r, g, b, out, 1, 2);
  const uint8_t want[6] = {1, 3, 5, 2, 4, 6};
  EXPECT_EQ(std::memcmp(out, want, 6), 0);
}

}  // namespace
