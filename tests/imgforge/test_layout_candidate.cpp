// The splitter's table-candidate test and its parameters, one drawn page per
// answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "CABunsyoKiridasi.h"
#include "layout_pages.h"

using layout_pages::Page;
using layout_pages::Rect;

namespace {

struct Candidate {
  Page page{1500, 900, 300};
  CABunsyoKiridasi seg;
  Candidate() {
    CABunsyoKiridasi::set_para(nullptr);
    seg.m_dpi = 300;
    EXPECT_TRUE(seg.adjust_para());
  }
  int Test(Rect r, ARECT2* inner = nullptr, int n = 2000) {
    CABitmap bmp;
    bmp.set(page.width, page.height, 1, page.bpl, page.bits.data());
    std::vector<uint8_t> before = page.bits;
    std::vector<uint16_t> proj(std::max(n, 1));
    ARECT2 out{-1, -1, -1, -1};
    int code = seg.hyou_ka_douka(bmp, ARECT2{r.left, r.top, r.right, r.bottom}, out, proj.data(), n);
    EXPECT_EQ(page.bits, before) << "the page is given back as it was";
    if (inner) *inner = out;
    return code;
  }
};

TEST(TableCandidate, EachAnswerOnItsPage) {
  {
    Candidate c;
    c.page.Fill({400, 300, 799, 599});
    EXPECT_EQ(c.Test({400, 300, 799, 599}), 4) << "solid block";
  }
  for (int n : {2000, 1}) {  // a projection buffer too short is not overrun
    Candidate c;
    layout_pages::DrawFrame(c.page, {400, 300, 999, 699}, 4);
    layout_pages::DrawTextRow(c.page, 450, 350, 10, 3, 42);
    ARECT2 inner;
    EXPECT_EQ(c.Test({400, 300, 999, 699}, &inner, n), 3) << "ruled around a large white area";
    EXPECT_EQ(inner.left, 404);
    EXPECT_EQ(inner.top, 304);
    EXPECT_EQ(inner.right, 995);
    EXPECT_EQ(inner.bottom, 695);
  }
  {
    Candidate c;
    std::vector<int> xs{400, 600, 800, 1000}, ys{300, 400, 500, 600, 700};
    layout_pages::DrawGrid(c.page, xs, ys, 3);
    EXPECT_EQ(c.Test({400, 300, 1002, 702}), 32) << "ruled grid";
  }
  // Open on the right: not fully ruled.
  auto open = [](Page& p, Rect r) {
    p.Fill({r.left, r.top, r.right, r.top + 3});
    p.Fill({r.left, r.bottom - 3, r.right, r.bottom});
    p.Fill({r.left, r.top, r.left + 3, r.bottom});
  };
  {
    Candidate c;
    open(c.page, {0, 0, 499, 299});
    EXPECT_EQ(c.Test({0, 0, 499, 299}), 512) << "top-left corner";
  }
  {
    Candidate c;
    open(c.page, {400, 300, 899, 599});
    EXPECT_EQ(c.Test({400, 300, 899, 599}), 4) << "isolated";
    c.page.Fill({300, 299, 1100, 299});
    EXPECT_EQ(c.Test({400, 300, 899, 599}), 512) << "rule just above";
  }
  {
    Candidate c;
    open(c.page, {400, 300, 899, 599});
    c.page.Fill({900, 0, 900, 899});
    EXPECT_EQ(c.Test({400, 300, 899, 599}), 512) << "rule just right";
  }
  {
    Candidate c;
    open(c.page, {400, 300, 899, 599});
    c.page.Fill({399, 100, 399, 800});
    EXPECT_EQ(c.Test({400, 300, 899, 599}), 512) << "rule just left";
  }
  {
    Candidate c;
    open(c.page, {1000, 300, 1499, 599});
    EXPECT_EQ(c.Test({1000, 300, 1499, 599}), 512) << "at the right edge";
  }
}

TEST(LayoutParameters, DefaultsAndScaling) {
  CABunsyoKiridasi::set_para("/some/where/katuji.ini");
  EXPECT_STREQ(CABunsyoKiridasi::m_para_path, "/some/where/katuji.ini");
  CABunsyoKiridasi::m_katuji_c_org[40] = 99;
  EXPECT_EQ(CABunsyoKiridasi::set_para(nullptr), 0);
  EXPECT_STREQ(CABunsyoKiridasi::m_para_path, "");
  EXPECT_EQ(CABunsyoKiridasi::m_katuji_c_org[40], 0);

  const std::vector<int> scaled{0, 1, 2, 4, 5, 11, 12, 13, 18, 19, 20, 21, 23, 24, 25, 30, 31, 33, 36, 37};
  const int32_t expected300[] = {18, 135, 39, 150, 15, 9, 6, 0, 0, 150, 10, 3, 12, 180, 10, 4, 10, 5, 15, 6,
                                 210, 600, 10, 450, 15, 15, 120, 90, 7, 4, 450, 450, 70, 24, 70, 80, 150, 150};
  CABunsyoKiridasi seg;
  seg.m_dpi = 300;
  ASSERT_TRUE(seg.adjust_para());
  for (int i = 0; i < 38; ++i) EXPECT_EQ(seg.m_para[i], expected300[i]) << "word " << i;
  EXPECT_EQ(seg.m_para[75], 7);
  EXPECT_EQ(seg.m_para[76], 4);

  seg.m_dpi = 150;  // integer scaling
  ASSERT_TRUE(seg.adjust_para());
  EXPECT_EQ(seg.m_para[11], 1);
  EXPECT_EQ(seg.m_para[19], 3);
  // A resolution that scales a length to nothing is refused.
  seg.m_dpi = 99;
  EXPECT_FALSE(seg.adjust_para());
  seg.m_dpi = 100;
  EXPECT_TRUE(seg.adjust_para());
}

}  // namespace

#include "gray2mono.h"

namespace {

// The whole-image dynamic threshold: flat areas follow the floor, a dark
// stroke on light paper comes out black and the paper white.
TEST(DynamicThreshold, StrokesOnPaperAndFlatAreas) {
  const int W = 40, H = 20;
  std::vector<uint8_t> grey(W * H, 210), mono(((W + 7) / 8) * H, 0);
  for (int y = 5; y < 15; ++y)
    for (int x = 10; x < 14; ++x) grey[y * W + x] = 40;
  for (int y = 0; y < H; ++y) grey[y * W + 30] = 190;  // a faint line without contrast: paper
  layout::SdtcParams params;
  layout::img_gray2mono_imgall_sdtc(grey.data(), W, W, H, mono.data(), (W + 7) / 8, params);
  auto black = [&](int x, int y) { return (mono[y * ((W + 7) / 8) + (x >> 3)] >> (7 - (x & 7))) & 1; };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) EXPECT_EQ(black(x, y), y >= 5 && y < 15 && x >= 10 && x < 14) << x << "," << y;
  // A flat dark page stays below the floor: black everywhere.
  std::fill(grey.begin(), grey.end(), 100);
  layout::img_gray2mono_imgall_sdtc(grey.data(), W, W, H, mono.data(), (W + 7) / 8, params);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) EXPECT_EQ(black(x, y), 1);
}

}  // namespace
