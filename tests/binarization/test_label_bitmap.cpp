// Labelling with a label bitmap: the boxes of lbl_main2, and every pixel's
// label in the 16-bit bitmap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "label_bitmap.h"

namespace {

struct Page {
  int width, height, bpl;
  std::vector<uint8_t> bits;
  CABitmap bmp;
  Page(int w, int h, unsigned seed, int blackPercent) : width(w), height(h), bpl((w + 7) / 8), bits(size_t(bpl) * h) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (int(rand_r(&seed) % 100) < blackPercent) bits[size_t(y) * bpl + x / 8] |= uint8_t(0x80 >> (x % 8));
    bmp.set(w, h, 1, bpl, bits.data());
  }
  bool Black(int x, int y) const { return bits[size_t(y) * bpl + x / 8] & (0x80 >> (x % 8)); }
};

uint16_t LabelAt(const CABitmap& labels, int x, int y) {
  uint16_t v;
  std::memcpy(&v, labels.m_data + size_t(y) * labels.m_bpl + 2 * size_t(x), 2);
  return v;
}

TEST(LabelBitmap, BoxesOfLblMain2AndEveryPixelsLabel) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    const int w = 20 + int(seed * 7 % 53), h = 10 + int(seed * 11 % 37);
    Page p(w, h, seed, 25 + int(seed % 4) * 10);
    const ARECT2 region = seed % 3 ? ARECT2{0, 0, w - 1, h - 1} : ARECT2{3, 2, w - 5, h - 4};
    LBL_DATA want{}, got{};
    CABitmap labels;
    ASSERT_EQ(lbl_main2(p.bmp, want, region), 0);
    ASSERT_EQ(lbl_main3(p.bmp, got, labels, region), 0);
    ASSERT_EQ(got.maxlabel, want.maxlabel) << seed;
    EXPECT_EQ(got.maxbytes, want.maxbytes);
    EXPECT_EQ(std::memcmp(&got.rects[0], &want.rects[0], sizeof(KRECT)), 0);
    for (int64_t k = 1; k <= got.maxlabel; ++k) {
      const KRECT &a = got.rects[k], &b = want.rects[k];
      EXPECT_TRUE(a.xmin == b.xmin && a.ymin == b.ymin && a.xmax == b.xmax && a.ymax == b.ymax && a.label == k)
          << seed << " label " << k;
    }
    ASSERT_EQ(labels.m_bits, 16);
    ASSERT_EQ(labels.m_width, region.right - region.left + 2);
    ASSERT_EQ(labels.m_height, region.bottom - region.top + 1);
    // Each black pixel carries a label whose box holds it, 8-neighbours in
    // the region share it; white pixels carry 0.
    for (int y = region.top; y <= region.bottom; ++y)
      for (int x = region.left; x <= region.right; ++x) {
        const uint16_t l = LabelAt(labels, x - region.left, y - region.top);
        if (!p.Black(x, y)) {
          EXPECT_EQ(l, 0);
          continue;
        }
        ASSERT_GE(l, 1);
        ASSERT_LE(l, got.maxlabel);
        const KRECT& r = got.rects[l];
        EXPECT_TRUE(x >= r.xmin && x <= r.xmax && y >= r.ymin && y <= r.ymax);
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx < region.left || nx > region.right || ny < region.top || ny > region.bottom) continue;
            if (p.Black(nx, ny)) {
              EXPECT_EQ(LabelAt(labels, nx - region.left, ny - region.top), l);
            }
          }
      }
    lbl_free2(&want);
    lbl_free2(&got);
  }
}

TEST(LabelBitmap, EmptyAndClippedRegions) {
  Page blank(30, 20, 1, 0);
  LBL_DATA d{};
  CABitmap labels;
  ASSERT_EQ(lbl_main3(blank.bmp, d, labels), 0);
  EXPECT_EQ(d.maxlabel, 0);
  EXPECT_EQ(d.maxbytes, 0);
  ASSERT_NE(d.rects, nullptr);
  EXPECT_EQ(d.rects[0].xmax | d.rects[0].ymax | d.rects[0].label, 0);
  lbl_free2(&d);

  Page p(30, 20, 4, 40);
  ASSERT_EQ(lbl_main3(p.bmp, d, labels, ARECT2{-5, -3, 100, 100}), 0);
  EXPECT_EQ(d.left, 0);
  EXPECT_EQ(d.bottom, 19);
  EXPECT_EQ(labels.m_width, 31);
  EXPECT_EQ(labels.m_height, 20);
  lbl_free2(&d);

  // The C form with an (x, y, width, height) area.
  ABITMAP a{};
  p.bmp.getABITMAP(a);
  ARECT area{2, 3, 10, 5};
  LBL_DATA c{}, ref{};
  ASSERT_EQ(lbl_main3(&a, &area, nullptr, &c), 0);
  ASSERT_EQ(lbl_main2(p.bmp, ref, ARECT2{2, 3, 11, 7}), 0);
  EXPECT_EQ(c.maxlabel, ref.maxlabel);
  EXPECT_EQ(c.right, 11);
  lbl_free2(&c);
  lbl_free2(&ref);
}

}  // namespace
