// The steps the Selko and Brenna pipelines share: the 24-bit rotation by
// degrees, the edge filler and the tone curve with its gamma in tenths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "edge_filler.h"
#include "image_rotate24.h"
#include "keloimageprocess.h"
#include "pages.h"
#include "selko2_pipeline.h"
#include "tone_curve_tenths.h"

namespace {

struct Rgb {
  unsigned char r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

Rgb At(const _P2IIMG& p, int x, int y) {
  const unsigned char* s = p.pImageData + static_cast<size_t>(y) * p.nBytesPerLine + x * 3;
  return {s[0], s[1], s[2]};
}

// A white page with a red mark in its top left corner and a blue one in the
// middle of its bottom edge: where they land tells the turn.
std::vector<unsigned char> MarkedPage(int w, int h, int bpl) {
  std::vector<unsigned char> p(static_cast<size_t>(bpl) * h, 0xFF);
  auto set = [&](int x, int y, Rgb c) {
    unsigned char* d = &p[static_cast<size_t>(y) * bpl + x * 3];
    d[0] = c.r, d[1] = c.g, d[2] = c.b;
  };
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) set(x, y, {255, 0, 0});
  set(w / 2, h - 1, {0, 0, 255});
  return p;
}

TEST(SharedRotate, MarksLandWhereEachTurnPutsThem) {
  const int W = 21, H = 12, bpl = W * 3 + 5;  // padded source rows
  auto src = MarkedPage(W, H, bpl);
  const Rgb red{255, 0, 0}, blue{0, 0, 255};
  struct Case {
    int angle, width, height;
    int redX, redY;    // the mark's corner pixel (source 0, 0)
    int blueX, blueY;  // the source pixel (W / 2, H - 1)
  } cases[] = {
      {90, H, W, H - 1, 0, 0, W / 2},               // clockwise: top row becomes the right column
      {180, W, H, W - 1, H - 1, W - 1 - W / 2, 0},  // upside down
      {270, H, W, 0, W - 1, H - 1, W - 1 - W / 2},  // counter-clockwise: top row becomes the left column
  };
  for (const Case& c : cases) {
    _P2IIMG in{src.data(), 24, 0, W, H, bpl, bpl * H, 300, 600, 0, 0, W - 1, H - 1}, out{};
    ASSERT_EQ(kelo_steps::P2iRotate(&in, c.angle, &out), 0) << c.angle;
    EXPECT_EQ(out.nWidth, c.width);
    EXPECT_EQ(out.nHeight, c.height);
    EXPECT_EQ(out.nBytesPerLine, c.width * 3);
    EXPECT_EQ(out.nImageSize, c.width * 3 * c.height);
    EXPECT_EQ(out.nXResolution, c.angle == 180 ? 300 : 600);
    EXPECT_EQ(out.nYResolution, c.angle == 180 ? 600 : 300);
    EXPECT_EQ(out.nRight, c.width - 1);
    EXPECT_EQ(out.nBottom, c.height - 1);
    EXPECT_TRUE(At(out, c.redX, c.redY) == red) << c.angle;
    EXPECT_TRUE(At(out, c.blueX, c.blueY) == blue) << c.angle;
    // Every pixel moved, none made up: 12 red, one blue, the rest white.
    int reds = 0, blues = 0, whites = 0;
    for (int y = 0; y < out.nHeight; ++y)
      for (int x = 0; x < out.nWidth; ++x) {
        const Rgb p = At(out, x, y);
        reds += p == red, blues += p == blue, whites += p == Rgb{255, 255, 255};
      }
    EXPECT_EQ(reds, 12);
    EXPECT_EQ(blues, 1);
    EXPECT_EQ(whites, W * H - 13);
    free(out.pImageData);
  }
}

TEST(SharedRotate, RefusesOtherAnglesDepthsAndShortRows) {
  std::vector<unsigned char> src(4 * 4 * 3, 7);
  struct Case {
    int bits, bpl, angle;
  } cases[] = {{24, 12, 0}, {24, 12, 45}, {24, 12, -90}, {24, 12, 360}, {8, 4, 90}, {1, 1, 180}, {24, 11, 90}};
  for (const Case& c : cases) {
    _P2IIMG in{src.data(), c.bits, 0, 4, 4, c.bpl, c.bpl * 4, 300, 300, 0, 0, 3, 3}, out{};
    EXPECT_EQ(kelo_steps::P2iRotate(&in, c.angle, &out), KELO_IP_PARAMETER) << c.bits << " " << c.angle;
    EXPECT_EQ(out.pImageData, nullptr);
  }
  _P2IIMG none{nullptr, 24, 0, 4, 4, 12, 48, 300, 300, 0, 0, 3, 3}, out{};
  EXPECT_EQ(kelo_steps::P2iRotate(&none, 90, &out), KELO_IP_PARAMETER);
}

TEST(SharedEdgeFiller, PaintsEachMarginAndKeepsTheMiddle) {
  const int W = 10, H = 8;
  const auto info = pages::Colour(W, H);
  const auto src = pages::Numbered(H, info.iBytesPerLine);
  struct Case {
    int top, bottom, left, right;
    bool white;
  } cases[] = {{1, 2, 3, 1, true}, {0, 0, 0, 4, false}, {8, 0, 0, 0, true}, {0, 0, 5, 5, false}, {2, 0, 0, 0, false}};
  for (const Case& c : cases) {
    unsigned char* page = pages::Malloc(src);
    ASSERT_EQ(kelo_steps::FillEdges(&page, info, c.top, c.bottom, c.left, c.right, c.white, "test"), 0);
    const unsigned char fill = c.white ? 0xFF : 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const bool edge = y < c.top || y >= H - c.bottom || x < c.left || x >= W - c.right;
        for (int k = 0; k < 3; ++k) {
          const size_t i = static_cast<size_t>(y) * info.iBytesPerLine + x * 3 + k;
          ASSERT_EQ(page[i], edge ? fill : src[i]) << c.top << c.bottom << c.left << c.right << " at " << x << "," << y;
        }
      }
    free(page);
  }
}

TEST(SharedEdgeFiller, MarginsWiderThanThePageLeaveItAlone) {
  const auto info = pages::Colour(6, 4);
  const auto src = pages::Numbered(4, 18);
  for (auto m : {std::vector<int>{0, 0, 4, 3}, std::vector<int>{3, 2, 0, 0}}) {
    unsigned char* page = pages::Malloc(src);
    unsigned char* before = page;
    EXPECT_EQ(kelo_steps::FillEdges(&page, info, m[0], m[1], m[2], m[3], true, "test"), 0);
    EXPECT_EQ(page, before);
    EXPECT_EQ(std::vector<unsigned char>(page, page + src.size()), src);
    free(page);
  }
}

TEST(SharedEdgeFiller, RefusesNoPageAndNegativeMargins) {
  const auto info = pages::Colour(6, 4);
  unsigned char* none = nullptr;
  EXPECT_EQ(kelo_steps::FillEdges(&none, info, 1, 0, 0, 0, true, "test"), KELO_IP_PARAMETER);
  EXPECT_EQ(kelo_steps::FillEdges(nullptr, info, 1, 0, 0, 0, true, "test"), KELO_IP_PARAMETER);
  unsigned char* page = pages::Malloc(pages::Numbered(4, 18));
  EXPECT_EQ(kelo_steps::FillEdges(&page, info, -1, 0, 0, 0, true, "test"), KELO_IP_PARAMETER);
  auto shortRows = info;
  shortRows.iBytesPerLine = 17;
  EXPECT_EQ(kelo_steps::FillEdges(&page, shortRows, 1, 0, 0, 0, true, "test"), KELO_IP_PARAMETER);
  free(page);
}

TEST(SharedToneCurve, GammaInTenthsIsTheCurveInThousandths) {
  // brightness, contrast, highlight, shadow and the two gamma forms
  struct Case {
    int b, c, hi, sh, tenths, thousandths;
  } cases[] = {{0, 0, 230, 10, 16, 1600}, {40, -20, 255, 0, 10, 1000}, {-127, 127, 200, 30, 25, 2500},
               {0, 0, 230, 10, 99, 9900}, {0, 0, 230, 10, 100, 9900},  {0, 0, 230, 10, 255, 9900},
               {0, 0, 255, 0, 0, 0},      {10, 5, 230, 10, 3, 300}};
  for (const Case& c : cases) {
    unsigned char tenths[256], ref[256];
    kelo_steps::ApplyLutContrastBrightness(c.b, c.c, c.hi, c.sh, static_cast<unsigned char>(c.tenths), tenths,
                                           "CSelkoScanFunc");
    CSelko2PagePipeline::ApplyLutContrastBrightness(c.b, c.c, c.hi, c.sh, c.thousandths, ref);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(tenths[i], ref[i]) << "gamma " << c.tenths << " level " << i;
  }
}

TEST(SharedToneCurve, FixedCurveOfTheSelkoPipeline) {
  // shadow 10, highlight 230, gamma 1.6: levels map through
  // 255 x ((v - 10) / 220) ^ (1 / 1.6), clamped at both ends.
  unsigned char lut[256];
  kelo_steps::ApplyLutContrastBrightness(0, 0, 230, 10, 16, lut, "CSelkoScanFunc");
  for (int v : {0, 10, 11, 64, 128, 200, 229, 230, 255}) {
    const double x = std::min(1.0, std::max(0.0, (v - 10) / 220.0));
    EXPECT_EQ(lut[v], static_cast<int>(0.5 + 255 * std::pow(x, 1 / 1.6))) << v;
  }
  EXPECT_EQ(lut[128], 173);
  EXPECT_EQ(kelo_steps::GetLUTData(5, 0, 0, 50, 50, 0, 255, 10, "CSelkoScanFunc"), 0);
  EXPECT_EQ(kelo_steps::GetLUTData(5, 10, 20, 50, 50, 0, 255, 10, "CSelkoScanFunc"), 0);
}

}  // namespace
