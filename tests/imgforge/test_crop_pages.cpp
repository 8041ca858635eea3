// The single-page crop entries on rendered pages whose angle and corners are
// known, bound from the staged libimgforge as the control layer binds them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "crop_test_util.h"

using namespace crop_test;
using dravn_pages::BackedPageSpec;

namespace {

struct Case {
  double widthMm, heightMm;
  int dpi;
  double angle;
  int channels;  // 3, 1, or 0 for 1 bit
};

std::string Name(const Case& c) {
  return std::to_string(static_cast<int>(c.widthMm)) + "x" + std::to_string(static_cast<int>(c.heightMm)) + "@" +
         std::to_string(c.dpi) + " " + std::to_string(c.angle) + "deg ch" + std::to_string(c.channels);
}

// Share of pixels of one output line darker than the middle level.
double DarkShare(const FSIP_S_IMAGEINFO_EX& o, bool row, int index) {
  const int px = o.nDepth == 24 ? 3 : 1, n = row ? o.nWidth : o.nHeight;
  int dark = 0;
  for (int k = 0; k < n; ++k) {
    const int x = row ? k : index, y = row ? index : k;
    int v;
    if (o.nDepth == 1)
      v = (o.pImageData[static_cast<size_t>(y) * o.nBytesPerLine + x / 8] & (0x80 >> (x & 7))) ? 255 : 0;
    else
      v = o.pImageData[static_cast<size_t>(y) * o.nBytesPerLine + static_cast<size_t>(x) * px];
    if (v < 125) ++dark;
  }
  return static_cast<double>(dark) / n;
}

void CheckCrop(const Library& lib, const Case& c) {
  SCOPED_TRACE(Name(c));
  BackedPageSpec spec;
  spec.widthMm = c.widthMm;
  spec.heightMm = c.heightMm;
  spec.dpi = c.dpi;
  spec.angleDeg = c.angle;
  spec.offsetXMm = 3;
  spec.offsetYMm = -2;
  spec.channels = c.channels == 3 ? 3 : 1;
  spec.seed = static_cast<uint32_t>(c.dpi + c.angle * 10);
  Input in = MakeInput(spec, c.channels == 0);
  auto tone = ToneBlock();
  alignas(8) auto rec = CropRecord(tone);
  Notify notify;
  Output out;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
  ASSERT_EQ(lib.cropAll(&in.info, &rec, &out.info, &layout, &notify, nullptr), 0);
  ASSERT_EQ(notify.calls, 1);
  const auto& lc = layout.layoutCrop;
  EXPECT_NEAR(lc.dSkew, -c.angle, 0.15);
  EXPECT_LE(std::abs(lc.sizeRectangle.x - std::lround(in.page.widthPx)), 2);
  EXPECT_LE(std::abs(lc.sizeRectangle.y - std::lround(in.page.heightPx)), 2);
  // With a layout the output is exactly its rectangle.
  EXPECT_EQ(out.info.nWidth, lc.sizeRectangle.x);
  EXPECT_EQ(out.info.nHeight, lc.sizeRectangle.y);
  EXPECT_EQ(out.info.nDepth, c.channels == 0 ? 1 : c.channels * 8);
  alignas(8) const FSIP_S_POINT got[4] = {lc.cornerPts.ptLT, lc.cornerPts.ptRT, lc.cornerPts.ptLB, lc.cornerPts.ptRB};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(static_cast<double>(got[k].x), in.page.corners[k][0], 2.0) << "corner " << k;
    EXPECT_NEAR(static_cast<double>(got[k].y), in.page.corners[k][1], 2.0) << "corner " << k;
  }
  // No strip of backing: the second line in from every side is paper. A
  // 1-bit page's own edge is a staircase, so a few of its steps may reach
  // that line; the third is paper all along.
  const auto& o = out.info;
  const double most = c.channels == 0 ? 0.1 : 0.02;
  for (int in = 1; in <= 2; ++in) {
    const double share = in == 1 ? most : 0.02;
    EXPECT_LT(DarkShare(o, true, in), share) << "top";
    EXPECT_LT(DarkShare(o, true, o.nHeight - 1 - in), share) << "bottom";
    EXPECT_LT(DarkShare(o, false, in), share) << "left";
    EXPECT_LT(DarkShare(o, false, o.nWidth - 1 - in), share) << "right";
  }
}

}  // namespace

class CropPages : public ::testing::TestWithParam<Case> {};

TEST_P(CropPages, TurnedPageComesOutUprightAtItsSize) {
  Library lib;
  ASSERT_TRUE(lib.Ok()) << dlerror();
  CheckCrop(lib, GetParam());
}

// A4 and legal, 75 to 600 dpi, colour, grey and 1 bit, turned both ways up
// to 10 degrees (on and off the 0.2-degree vote grid).
INSTANTIATE_TEST_SUITE_P(Pages, CropPages,
                         ::testing::Values(Case{210, 297, 300, 0, 3}, Case{210, 297, 300, 0.5, 3},
                                           Case{210, 297, 300, -0.5, 3}, Case{210, 297, 300, 3, 3},
                                           Case{210, 297, 300, -3, 1}, Case{210, 297, 300, 7, 3},
                                           Case{210, 297, 300, -7, 1}, Case{210, 297, 300, 10, 3},
                                           Case{216, 356, 150, 0, 3}, Case{216, 356, 150, 10, 1},
                                           Case{216, 356, 200, -3, 0}, Case{210, 297, 600, 3, 1},
                                           Case{216, 356, 300, -7, 3}, Case{210, 297, 400, 0.5, 0},
                                           Case{210, 297, 75, -3, 3}, Case{216, 356, 250, 4.3, 3}));
