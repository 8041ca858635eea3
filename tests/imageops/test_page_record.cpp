// Page records: allocation, quarter turns, deskew, resize and the rotation
// primitive, through the staged library.
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "imageops_test_util.h"
#include "test_pages.h"

using namespace imageops_test;

namespace {

struct PageDeleter {
  void operator()(VKIMG* p) const { OPCV(DisposeVKIMG)(p); }
};
using Page = std::unique_ptr<VKIMG, PageDeleter>;

VKIMG* const kJunk = reinterpret_cast<VKIMG*>(uintptr_t(0x10));

Page NewPage(int w, int h, int depth, bool random = true) {
  VkRect r;
  OPCV(VkSetRect)(&r, 0, 0, w, h);
  VKIMG* p = kJunk;
  EXPECT_EQ(OPCV(CreateNewVKIMGPtr)(&p, &r, depth), 0);
  if (random && p)
    for (int i = 0; i < p->size; ++i) p->baseAddr[i] = uint8_t(Rng()());
  return Page(p);
}

int Channels(int depth) { return depth / 8; }
int PageTypeOf(int depth) { return CV_8UC(Channels(depth)); }
uint8_t Px(const VKIMG* p, int x, int y, int c) {
  return p->baseAddr[size_t(y) * p->rowBytes + x * Channels(p->depth) + c];
}

// A page of the test-page generator as a record: grey (8) or colour (24).
Page RenderedPage(int depth) {
  dravn_pages::PageSpec spec;
  spec.dpi = 60;
  spec.colour = depth == 24;
  auto img = dravn_pages::RenderDocumentPage(spec);
  if (depth == 8) img = dravn_pages::ToGrey(img);
  Page p = NewPage(img.width, img.height, depth, false);
  for (int y = 0; y < img.height; ++y)
    std::memcpy(p->baseAddr + size_t(y) * p->rowBytes, img.Row(y), img.BytesPerLine());
  return p;
}

}  // namespace

TEST(PageRecord, RowBytesFollowTheDepthTable) {
  struct Case {
    int depth, width, rowBytes, uniteRowBytes;
  };
  const Case cases[] = {{1, 10, 16, 16},  {1, 130, 32, 32}, {8, 10, 16, 16},  {8, 17, 32, 32},
                        {24, 10, 30, 32}, {24, 11, 33, 36}, {32, 10, 48, 48}, {40, 10, 16, 16}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.depth << " width " << c.width);
    VkRect r;
    OPCV(VkSetRect)(&r, 3, 2, 3 + c.width, 9);
    EXPECT_EQ(r.top, 2);
    EXPECT_EQ(r.right, 3 + c.width);
    for (bool unite : {false, true}) {
      VKIMG* p = nullptr;
      ASSERT_EQ((unite ? OPCV(CreateNewVKIMGPtrForUnite) : OPCV(CreateNewVKIMGPtr))(&p, &r, c.depth), 0);
      Page page(p);
      EXPECT_EQ(p->rowBytes, unite ? c.uniteRowBytes : c.rowBytes);
      EXPECT_EQ(p->width, c.width);
      EXPECT_EQ(p->height, 7);
      EXPECT_EQ(p->depth, c.depth);
      EXPECT_EQ(p->size, 7 * p->rowBytes);
      EXPECT_EQ(std::count(p->baseAddr, p->baseAddr + p->size, 0), p->size);
    }
  }
}

TEST(PageRecord, RefusedPagesLeaveNoRecord) {
  struct Case {
    int w, h, depth;
  };
  for (const Case& c : {Case{10, 10, 16}, Case{10, 10, 0}, Case{100000, 100000, 24}, Case{0, 5, 8}, Case{5, -1, 8},
                        Case{INT32_MAX, 1, 32}}) {
    VkRect r{0, 0, c.h, c.w};
    VKIMG* p = kJunk;
    EXPECT_EQ(OPCV(CreateNewVKIMGPtr)(&p, &r, c.depth), -50) << c.w << "x" << c.h << " depth " << c.depth;
    EXPECT_EQ(p, nullptr);
  }
  VKIMG* p = kJunk;
  EXPECT_EQ(OPCV(CreateNewVKIMGPtr)(&p, nullptr, 8), -50);
  EXPECT_EQ(p, nullptr);
  OPCV(DisposeVKIMG)(nullptr);
}

TEST(PageRecord, QuarterTurnsMoveEveryPixel) {
  for (int depth : {8, 24, 32})
    for (double angle : {90.0, -270.0, 180.0, -180.0, 270.0, -90.0}) {
      SCOPED_TRACE(testing::Message() << "depth " << depth << " angle " << angle);
      const int w = 7, h = 5;
      Page src = NewPage(w, h, depth);
      VkImageDesc d{};
      VkImageDesc* dp = &d;
      VKIMG* out = kJunk;
      ASSERT_EQ(OPCV(RotateImageWithIPP)(src.get(), &dp, &out, angle), 0);
      Page turned(out);
      const bool half = std::fabs(angle) == 180;
      ASSERT_EQ(out->width, half ? w : h);
      ASSERT_EQ(out->height, half ? h : w);
      EXPECT_EQ(d.width, out->width);
      EXPECT_EQ(d.height, out->height);
      for (int Y = 0; Y < out->height; ++Y)
        for (int X = 0; X < out->width; ++X)
          for (int c = 0; c < Channels(depth); ++c) {
            int sx, sy;
            if (half) {
              sx = w - 1 - X, sy = h - 1 - Y;
            } else if (angle == 90 || angle == -270) {  // clockwise
              sx = Y, sy = h - 1 - X;
            } else {
              sx = w - 1 - Y, sy = X;
            }
            ASSERT_EQ(Px(out, X, Y, c), Px(src.get(), sx, sy, c)) << X << "," << Y;
          }
    }
}

TEST(PageRecord, QuarterTurnRefusals) {
  Page src = NewPage(4, 4, 8);
  VkImageDesc d{};
  VkImageDesc* dp = &d;
  VKIMG* out = kJunk;
  EXPECT_EQ(OPCV(RotateImageWithIPP)(src.get(), &dp, &out, 45), -3);
  EXPECT_EQ(out, nullptr);
  Page bits = NewPage(16, 4, 1);
  out = kJunk;
  EXPECT_EQ(OPCV(RotateImageWithIPP)(bits.get(), &dp, &out, 90), -2);
  EXPECT_EQ(out, nullptr);
  out = kJunk;
  EXPECT_EQ(OPCV(RotateImageWithIPP)(nullptr, &dp, &out, 90), -50);
  EXPECT_EQ(out, nullptr);
}

TEST(PageRecord, DeskewByZeroCopiesAndCornersTakeTheFill) {
  for (int depth : {8, 24, 32}) {
    SCOPED_TRACE(depth);
    Page src = NewPage(33, 21, depth);
    VkImageDesc d{33, 21, 0, 0, 0, int16_t(depth), 0};
    VkImageDesc* dp = &d;
    VKIMG* out = kJunk;
    ASSERT_EQ(OPCV(DeskewImageWithIPP)(src.get(), &dp, &out, 1, 1, 0.0), 0);
    Page copy(out);
    for (int y = 0; y < 21; ++y)
      ASSERT_EQ(std::memcmp(out->baseAddr + size_t(y) * out->rowBytes, src->baseAddr + size_t(y) * src->rowBytes,
                            size_t(33) * Channels(depth)),
                0);
    for (int white : {0, 1}) {
      ASSERT_EQ(OPCV(DeskewImageWithIPP)(src.get(), &dp, &out, 1, white, 30.0), 0);
      Page turned(out);
      const uint8_t want[3][4] = {{0}, {255, 255, 255}, {0, 255, 255, 255}};
      for (int c = 0; c < Channels(depth); ++c)
        EXPECT_EQ(Px(out, 0, 0, c), white && depth != 8 ? want[depth / 8 - 2][c] : 0) << "channel " << c;
    }
  }
}

TEST(PageRecord, DeskewTurnsCounterClockwiseAboutTheCentre) {
  Page src = NewPage(41, 41, 8, false);
  src->baseAddr[size_t(20) * src->rowBytes + 30] = 200;  // ten pixels right of the centre
  VkImageDesc d{41, 41, 0, 0, 0, 8, 0};
  VkImageDesc* dp = &d;
  VKIMG* out = nullptr;
  ASSERT_EQ(OPCV(DeskewImageWithIPP)(src.get(), &dp, &out, 1, 0, 90.0), 0);
  Page turned(out);
  EXPECT_EQ(Px(out, 20, 10, 0), 200);  // now ten pixels above it
}

TEST(PageRecord, DeskewThereAndBackRestoresARenderedPage) {
  for (int depth : {8, 24}) {
    Page page = RenderedPage(depth);
    VkImageDesc d{page->width, page->height, 0, 0, 0, int16_t(depth), 0};
    VkImageDesc* dp = &d;
    VKIMG* there = nullptr;
    VKIMG* back = nullptr;
    ASSERT_EQ(OPCV(DeskewImageWithIPP)(page.get(), &dp, &there, 1, 1, 4.0), 0);
    Page a(there);
    ASSERT_EQ(OPCV(DeskewImageWithIPP)(there, &dp, &back, 1, 1, -4.0), 0);
    Page b(back);
    // Away from the corners that the first turn cut off.
    const int mx = page->width / 8, my = page->height / 8, w = page->width - 2 * mx, h = page->height - 2 * my;
    const int type = depth == 8 ? CV_8UC1 : CV_8UC3;
    cv::Mat orig(page->height, page->width, type, page->baseAddr, page->rowBytes);
    cv::Mat restored(back->height, back->width, type, back->baseAddr, back->rowBytes);
    // Bilinear sampling twice blurs the strokes: compare means of 16-pixel
    // blocks, which a turn left undone or a shifted page changes by far more.
    cv::Mat a16, b16, diff;
    cv::resize(orig(cv::Rect(mx, my, w, h)), a16, cv::Size(w / 16, h / 16), 0, 0, cv::INTER_AREA);
    cv::resize(restored(cv::Rect(mx, my, w, h)), b16, cv::Size(w / 16, h / 16), 0, 0, cv::INTER_AREA);
    cv::absdiff(a16, b16, diff);
    double worst = 0;
    cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
    EXPECT_LT(worst, 8.0) << "depth " << depth;
    EXPECT_LT(cv::mean(diff)[0], 1.5) << "depth " << depth;
  }
}

TEST(PageRecord, DeskewAreasAndTheCentrePoint) {
  Page src = NewPage(30, 20, 8);
  VkImageDesc d{30, 20, 0, 0, 0, 8, 0};
  VkImageDesc* dp = &d;
  struct Case {
    VkRect area;
    bool point;
    double cx, cy;
    int offX, offY;  // new page (x, y) = src(x + offX, y + offY)
  };
  const Case cases[] = {
      {{3, 5, 13, 25}, false, 0, 0, 5, 3}, {{-2, -4, 8, 16}, false, 0, 0, -4, -2}, {{1, 2, 6, 12}, true, 7, 4, 9, 5}};
  for (const auto& c : cases) {
    VKIMG* out = kJunk;
    const int16_t st =
        c.point ? OPCV(DeskewImageWithIPPExWithShirftPoint)(src.get(), &dp, &out, 1, 0, &c.area, 0.0, c.cx, c.cy)
                : OPCV(DeskewImageWithIPPEx)(src.get(), &dp, &out, 1, 0, &c.area, 0.0);
    ASSERT_EQ(st, 0);
    Page page(out);
    ASSERT_EQ(out->width, c.area.right - c.area.left);
    ASSERT_EQ(out->height, c.area.bottom - c.area.top);
    for (int y = 0; y < out->height; ++y)
      for (int x = 0; x < out->width; ++x) {
        const int sx = x + c.offX, sy = y + c.offY;
        const bool inside = sx >= 0 && sy >= 0 && sx < 30 && sy < 20;
        ASSERT_EQ(Px(out, x, y, 0), inside ? Px(src.get(), sx, sy, 0) : 0) << x << "," << y;
      }
  }
  VKIMG* out = kJunk;
  EXPECT_EQ(OPCV(DeskewImageWithIPPEx)(src.get(), &dp, &out, 1, 0, nullptr, 0.0), -50);
  EXPECT_EQ(out, nullptr);
  Page bits = NewPage(30, 20, 1);
  out = kJunk;
  EXPECT_EQ(OPCV(DeskewImageWithIPP)(bits.get(), &dp, &out, 1, 0, 0.0), -2);
  EXPECT_EQ(out, nullptr);
}

TEST(PageRecord, RotationPrimitiveShiftsByWholePixels) {
  Fenced src(12, 6, 1);
  Fenced dst(12, 6, 1, 6, 13, 0);
  const auto fence = dst.Fence();
  ASSERT_EQ(OPCV(VkMac_ippiRotate_8u_C1R)(src.Row(0), {12, 6}, src.step(), {0, 0, 12, 6}, dst.Row(0), dst.step(),
                                          {0, 0, 12, 6}, 0.0, 2.4, -1.2, 1),
            0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) {
      const int sx = x - 2, sy = y + 1;
      ASSERT_EQ(dst.Get<uint8_t>(x, y), sx >= 0 && sy < 6 ? src.Get<uint8_t>(sx, sy) : 0) << x << "," << y;
    }
  EXPECT_EQ(dst.Fence(), fence);
  double xs = 1, ys = 1;
  OPCV(VkMac_ippiGetRotateShift)(10, 20, 90, &xs, &ys);
  EXPECT_NEAR(xs, 10 - 20, 1e-9);
  EXPECT_NEAR(ys, 10 + 20, 1e-9);
  EXPECT_EQ(OPCV(VkMac_ippiRotate_8u_C3R)(src.Row(0), {4, 6}, src.step(), {0, 0, 5, 6}, dst.Row(0), dst.step(),
                                          {0, 0, 4, 6}, 0.0, 0, 0, 1),
            -50);
}

TEST(PageRecord, ResizeByResolution) {
  for (int depth : {8, 24, 32}) {
    Page src = NewPage(101, 60, depth);
    VKIMG* out = kJunk;
    ASSERT_EQ(OPCV(ResizeImageWithIPPEx)(src.get(), &out, 300, 150), 0);
    Page half(out);
    EXPECT_EQ(out->width, 50);
    EXPECT_EQ(out->height, 30);
    const int type = PageTypeOf(depth);
    cv::Mat ref;
    cv::resize(cv::Mat(60, 101, type, src->baseAddr, src->rowBytes), ref, cv::Size(50, 30), 0, 0, cv::INTER_LINEAR);
    EXPECT_EQ(cv::norm(ref, cv::Mat(30, 50, type, out->baseAddr, out->rowBytes), cv::NORM_INF), 0);
  }
  Page bits = NewPage(16, 4, 1);
  VKIMG* out = kJunk;
  EXPECT_EQ(OPCV(ResizeImageWithIPPEx)(bits.get(), &out, 300, 150), -2);
  EXPECT_EQ(out, nullptr);
  Page grey = NewPage(16, 4, 8);
  out = kJunk;
  EXPECT_EQ(OPCV(ResizeImageWithIPPEx)(grey.get(), &out, 0, 150), -50);
  EXPECT_EQ(out, nullptr);
}

TEST(PageRecord, UniteCentresTheSourceOnTheDestination) {
  Page src = NewPage(10, 6, 8);
  Page frame = NewPage(20, 16, 8);
  uint8_t* const framePixels = frame->baseAddr;
  VKIMG* out = kJunk;
  ASSERT_EQ(OPCV(UniteImageIplRotateImage)(frame.get(), src.get(), &out, 360.0), 0);
  Page united(out);
  EXPECT_EQ(frame->baseAddr, out->baseAddr);
  frame->baseAddr = framePixels;  // the frame keeps its own pixels to free
  EXPECT_EQ(out->rowBytes, 32);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 20; ++x) {
      const int sx = x - 5, sy = y - 5;
      ASSERT_EQ(Px(out, x, y, 0), sx >= 0 && sy >= 0 && sx < 10 && sy < 6 ? Px(src.get(), sx, sy, 0) : 0);
    }
  Page colour = NewPage(10, 6, 24);
  out = kJunk;
  EXPECT_EQ(OPCV(UniteImageIplRotateImage)(frame.get(), colour.get(), &out, 0.0), -1001);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(frame->baseAddr, framePixels);
}

TEST(PageRecord, RotationPrimitiveTurnsAboutTheOrigin) {
  // A quarter turn counter-clockwise about (0, 0) sends (x, y) to (y, -x);
  // a shift of w - 1 down brings the page back into view.
  const int w = 9, h = 6;
  for (int channels : {1, 3}) {
    Fenced src(w, h, channels);
    Fenced dst(h, w, channels);
    const auto fence = dst.Fence();
    auto* rotate = channels == 1 ? OPCV(VkMac_ippiRotate_8u_C1R) : OPCV(VkMac_ippiRotate_8u_C3R);
    ASSERT_EQ(rotate(src.Row(0), {w, h}, src.step(), {0, 0, w, h}, dst.Row(0), dst.step(), {0, 0, h, w}, 90.0, 0.0,
                     w - 1.0, 1),
              0);
    EXPECT_EQ(dst.Fence(), fence);
    for (int Y = 0; Y < w; ++Y)
      for (int X = 0; X < h; ++X)
        for (int c = 0; c < channels; ++c)
          ASSERT_EQ(dst.Get<uint8_t>(X, Y, c), src.Get<uint8_t>(w - 1 - Y, X, c)) << X << "," << Y;
  }
}
