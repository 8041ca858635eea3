// Common image steps: bicubic resolution conversion, quarter turns, and the
// calls of the cleanup, binarization, split and merge units.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "keloimageprocess.h"
#include "pages.h"
#include "prop_info.h"
#include "unit_fakes.h"

namespace {

using pages::Colour;

// The conversion as plain floating point over the same sample positions:
// target (X, Y) reads the source at x0 + X sx, 16.16 fixed point, with the
// cubic kernel of parameter -1 and the edge rows and columns repeated.
std::vector<double> Reference(const std::vector<unsigned char>& src, int sw, int sh, int tw, int th) {
  auto S = [](double t) {
    const double a = std::fabs(t);
    return a < 1 ? 1 - 2 * a * a + a * a * a : a < 2 ? 4 - 8 * a + 5 * a * a - a * a * a : 0.0;
  };
  const int64_t sx = (int64_t{sw} << 16) / tw + 1, sy = (int64_t{sh} << 16) / th + 1;
  const int64_t x0 = sx / 2 - 32768, y0 = sy / 2 - 32768;
  std::vector<double> out(static_cast<size_t>(tw) * th * 3);
  for (int Y = 0; Y < th; ++Y)
    for (int X = 0; X < tw; ++X) {
      const int64_t fxFixed = x0 + X * sx, fyFixed = y0 + Y * sy;
      const int64_t ix = fxFixed >> 16, iy = fyFixed >> 16;
      const double fx = ((fxFixed >> 8) & 255) / 256.0, fy = ((fyFixed >> 8) & 255) / 256.0;
      for (int c = 0; c < 3; ++c) {
        double v = 0;
        for (int r = -1; r <= 2; ++r)
          for (int k = -1; k <= 2; ++k) {
            const int64_t row = std::min<int64_t>(std::max<int64_t>(iy + r, 0), sh - 1);
            const int64_t col = std::min<int64_t>(std::max<int64_t>(ix + k, 0), sw - 1);
            v += S(r - fy) * S(k - fx) * src[(row * sw + col) * 3 + c];
          }
        out[(static_cast<size_t>(Y) * tw + X) * 3 + c] = std::min(255.0, std::max(0.0, v));
      }
    }
  return out;
}

// The tolerance against the exact kernel: the weights are 1/256 steps with
// the negative lobes truncated toward zero (-31 where -31.5 stands), so a
// sample between pixels weighs up to 258/256 in each direction (+1.6 %),
// each of the 16 weights is off by up to 1/256, and the final shift
// truncates: two levels plus 1.6 % of the level.
double Tolerance(double level) { return 2.0 + level * (258.0 * 258.0 / 65536.0 - 1.0); }

class ImageSteps : public testing::Test {
 protected:
  void SetUp() override {
    g_PropInfo = KELO_PROP_INFO{};
    g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 300;
    fakes::Install();
  }
  void TearDown() override { fakes::Uninstall(); }
};

TEST_F(ImageSteps, BicubicConversionMatchesTheKernelWithinTheStatedTolerance) {
  // 600 dpi to 300, 200 and 150, an odd ratio, the same size and up.
  struct Case {
    int sw, sh, tw, th;
  } cases[] = {{240, 180, 120, 90}, {240, 180, 80, 60}, {240, 180, 60, 45}, {101, 77, 67, 51},
               {64, 40, 64, 40},    {60, 45, 120, 90},  {60, 45, 90, 70},   {5, 3, 2, 2}};
  KeloImageProcess ip;
  for (const Case& c : cases) {
    const auto src = pages::Document(c.sw, c.sh);
    unsigned char* dst = ip.DoResoConv_Color(src.data(), Colour(c.sw, c.sh), Colour(c.tw, c.th));
    ASSERT_NE(dst, nullptr);
    const auto ref = Reference(src, c.sw, c.sh, c.tw, c.th);
    double worst = 0, total = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
      const double d = dst[i] - ref[i];
      worst = std::max(worst, std::fabs(d) - Tolerance(ref[i]));
      total += std::fabs(d);
    }
    free(dst);
    EXPECT_LE(worst, 0) << c.sw << "x" << c.sh << " to " << c.tw << "x" << c.th;
    EXPECT_LT(total / ref.size(), 2.0) << c.sw << "x" << c.sh << " to " << c.tw << "x" << c.th;
  }
}

TEST_F(ImageSteps, BicubicConversionAgreesWithOpenCvOnSmoothPagesInside) {
  // Any cubic convolution reproduces a linear ramp; OpenCV's positions for
  // these ratios are ours, so both must give the ramp away from the edges.
  const int sw = 600, sh = 40;
  std::vector<unsigned char> src(static_cast<size_t>(sw) * sh * 3);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x)
      for (int c = 0; c < 3; ++c)
        src[(static_cast<size_t>(y) * sw + x) * 3 + c] = static_cast<unsigned char>(x / 3 + 20 * c);
  KeloImageProcess ip;
  for (int tw : {300, 200, 150}) {
    const int th = sh * tw / sw;
    unsigned char* dst = ip.DoResoConv_Color(src.data(), Colour(sw, sh), Colour(tw, th));
    ASSERT_NE(dst, nullptr);
    cv::Mat in(sh, sw, CV_8UC3, src.data()), ref;
    cv::resize(in, ref, cv::Size(tw, th), 0, 0, cv::INTER_CUBIC);
    for (int y = 2; y < th - 2; ++y)
      for (int x = 4; x < tw - 4; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_NEAR(dst[(static_cast<size_t>(y) * tw + x) * 3 + c], ref.at<cv::Vec3b>(y, x)[c],
                      Tolerance(ref.at<cv::Vec3b>(y, x)[c]))
              << tw << " at " << x << "," << y;
    free(dst);
  }
}

TEST_F(ImageSteps, BicubicConversionKeepsAPlainPagePlainAndPadsRowsWithZero) {
  KeloImageProcess ip;
  std::vector<unsigned char> src(50 * 30 * 3, 200);
  KELO_IMAGEDATA_PARAMETERS to = Colour(21, 13);
  to.iBytesPerLine = 3 * 21 + 5;
  unsigned char* dst = ip.DoResoConv_Color(src.data(), Colour(50, 30), to);
  ASSERT_NE(dst, nullptr);
  for (int y = 0; y < 13; ++y) {
    for (int x = 0; x < 63; ++x) EXPECT_NEAR(dst[y * 68 + x], 200, Tolerance(200));
    for (int x = 63; x < 68; ++x) EXPECT_EQ(dst[y * 68 + x], 0);
  }
  free(dst);
}

TEST_F(ImageSteps, BicubicConversionOfALongPageDoesNotWrap) {
  // 40000 lines: (height - 3) << 16 passes 2^31.
  const int sw = 6, sh = 40000, th = 20000;
  std::vector<unsigned char> src(static_cast<size_t>(sw) * sh * 3);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw * 3; ++x) src[static_cast<size_t>(y) * sw * 3 + x] = static_cast<unsigned char>(y / 200);
  KeloImageProcess ip;
  unsigned char* dst = ip.DoResoConv_Color(src.data(), Colour(sw, sh), Colour(3, th));
  ASSERT_NE(dst, nullptr);
  for (int y = 0; y < th; y += 997)
    EXPECT_NEAR(dst[static_cast<size_t>(y) * 9 + 3], (2 * y) / 200, Tolerance((2 * y) / 200)) << y;
  EXPECT_NEAR(dst[static_cast<size_t>(th - 1) * 9], 199, Tolerance(199));
  free(dst);
}

TEST_F(ImageSteps, BicubicSamplesInFixedPointExactly) {
  // Worked by hand from the kernel's weight table (256 x S(i / 256) + 0.5,
  // truncated toward zero: entry 128 is 160, 384 is -31, 64 is 228, 192 is
  // 76) with the sum shifted down by 16 and clamped. The tolerance tests
  // above cannot tell -31 from -32 or 160 from 161.
  struct Case {
    const char* name;
    int64_t x, y;
    std::vector<int> pixels;  // one channel of the 4 x 4 window, row by row
    int expected;
  } cases[] = {
      {"on a pixel", 0x10000, 0x10000, {0, 0, 0, 0, 0, 77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 77},
      {"halfway both ways", 0x18000, 0x18000, {0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 99},
      {"negative lobe",
       0x18000,
       0x18000,
       {100, 100, 100, 100, 200, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100},
       94},
      {"a quarter across", 0x14000, 0x10000, {0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 75},
      {"clamped above", 0x18000, 0x10000, {0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 255},
      {"clamped below", 0x18000, 0x10000, {0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
  };
  KeloImageProcess ip;
  for (const Case& c : cases) {
    std::vector<unsigned char> window(4 * 12, 0);
    for (int i = 0; i < 16; ++i) window[(i / 4) * 12 + (i % 4) * 3 + 1] = static_cast<unsigned char>(c.pixels[i]);
    ColorRGB_Common out{};
    ip.ThreeOrder_Fast_Common_Color({window.data(), 12, 4, 4}, c.x, c.y, &out);
    EXPECT_EQ(out.byColor[1], c.expected) << c.name;
    EXPECT_EQ(out.byColor[0], 0) << c.name;
  }
  // Near the edge the missing column and rows repeat the page's: a 2 x 2
  // page of 100 | 200 sampled halfway between its columns.
  const std::vector<unsigned char> page = {100, 100, 100, 200, 200, 200, 100, 100, 100, 200, 200, 200};
  ColorRGB_Common out{};
  ip.ThreeOrder_Border_Common_Color({page.data(), 6, 2, 2}, 0x8000, 0, &out);
  EXPECT_EQ(out.byColor[2], 151);  // (-31 x 100 + 160 x 100 + 160 x 200 - 31 x 200) x 256 >> 16
}

TEST_F(ImageSteps, BicubicConversionRefusesAZeroSize) {
  KeloImageProcess ip;
  std::vector<unsigned char> src(30, 1);
  EXPECT_EQ(ip.DoResoConv_Color(src.data(), Colour(5, 2), Colour(0, 2)), nullptr);
  EXPECT_EQ(ip.DoResoConv_Color(src.data(), Colour(5, 2), Colour(2, 0)), nullptr);
  EXPECT_EQ(ip.DoResoConv_Color(src.data(), Colour(0, 2), Colour(2, 2)), nullptr);
}

// Source pixel (x, y) of W x H as the code turns it.
void Expected(int code, int W, int H, int x, int y, int* tx, int* ty) {
  if (code == 1) {
    *tx = H - 1 - y, *ty = x;
  } else if (code == 2) {
    *tx = W - 1 - x, *ty = H - 1 - y;
  } else {
    *tx = y, *ty = W - 1 - x;
  }
}

TEST_F(ImageSteps, QuarterTurnsMoveEveryPixelExactly) {
  for (int bits : {24, 8, 1}) {
    for (int code : {1, 2, 3}) {
      const int W = 13, H = 7;
      const int sbpl = bits == 24 ? 3 * W : bits == 8 ? W : (W + 7) / 8 + 1;  // a padded 1-bit row
      auto src = pages::Numbered(H, sbpl);
      _P2IIMG in{src.data(), bits, 0, W, H, sbpl, sbpl * H, 300, 200, 0, 0, W - 1, H - 1}, out{};
      ASSERT_EQ(KeloImageProcess::P2iRotate(&in, code, &out), 0);
      const int tw = code == 2 ? W : H, th = code == 2 ? H : W;
      ASSERT_EQ(out.nWidth, tw);
      ASSERT_EQ(out.nHeight, th);
      EXPECT_EQ(out.nXResolution, code == 2 ? 300 : 200);
      const int dbpl = bits == 24 ? 3 * tw : bits == 8 ? tw : (tw + 7) / 8;
      ASSERT_EQ(out.nBytesPerLine, dbpl);
      EXPECT_EQ(out.nImageSize, dbpl * th);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          int tx, ty;
          Expected(code, W, H, x, y, &tx, &ty);
          if (bits == 1) {
            const int s = (src[y * sbpl + x / 8] >> (7 - x % 8)) & 1;
            const int d = (out.pImageData[ty * dbpl + tx / 8] >> (7 - tx % 8)) & 1;
            ASSERT_EQ(d, s) << "code " << code << " at " << x << "," << y;
          } else {
            const int n = bits / 8;
            for (int c = 0; c < n; ++c)
              ASSERT_EQ(out.pImageData[ty * dbpl + tx * n + c], src[y * sbpl + x * n + c])
                  << bits << "-bit code " << code << " at " << x << "," << y;
          }
        }
      if (bits == 1) {  // the bits past the width are cleared, not left to chance
        for (int y = 0; y < th; ++y)
          EXPECT_EQ(out.pImageData[y * dbpl + dbpl - 1] & (0xFF >> (tw % 8 ? tw % 8 : 8)), 0);
      }
      free(out.pImageData);
    }
  }
}

TEST_F(ImageSteps, QuarterTurnRefusesWhatItCannotTurn) {
  std::vector<unsigned char> src(64, 1);
  _P2IIMG out{};
  _P2IIMG wrongDepth{src.data(), 16, 0, 4, 4, 8, 32, 300, 300, 0, 0, 3, 3};
  EXPECT_EQ(KeloImageProcess::P2iRotate(&wrongDepth, 1, &out), KELO_IP_PARAMETER);
  _P2IIMG shortRows{src.data(), 24, 0, 4, 4, 11, 44, 300, 300, 0, 0, 3, 3};
  EXPECT_EQ(KeloImageProcess::P2iRotate(&shortRows, 1, &out), KELO_IP_PARAMETER);
  _P2IIMG fine{src.data(), 8, 0, 4, 4, 4, 16, 300, 300, 0, 0, 3, 3};
  EXPECT_EQ(KeloImageProcess::P2iRotate(&fine, 4, &out), KELO_IP_PARAMETER);
  EXPECT_EQ(out.pImageData, nullptr);
}

TEST_F(ImageSteps, DoP2iRotateReplacesThePageAndItsGeometry) {
  KeloImageProcess ip;
  g_PropInfo.SCAN_MODE = 1;  // grey: 8 bits
  const auto src = pages::Numbered(3, 5);
  unsigned char* page = pages::Malloc(src);
  unsigned char** slots[2] = {&page, nullptr};
  KELO_IMAGEDATA_PARAMETERS pair[2] = {pages::Grey(5, 3), {}};
  ASSERT_EQ(ip.DoP2iRotate(slots, 0, pair, 1), 0);
  EXPECT_EQ(pair[0].iPixelsPerLine, 3);
  EXPECT_EQ(pair[0].iLines, 5);
  EXPECT_EQ(pair[0].iBytesPerLine, 3);
  EXPECT_EQ(page[0], src[2 * 5 + 0]);  // the bottom-left pixel comes to the top-left
  free(page);

  unsigned char* none = nullptr;
  unsigned char** empty[2] = {&none, nullptr};
  EXPECT_EQ(ip.DoP2iRotate(empty, 0, pair, 1), 32);
  EXPECT_EQ(ip.DoP2iRotate(slots, 2, pair, 1), 32);
}

struct Sheet {
  unsigned char* front = nullptr;
  unsigned char* back = nullptr;
  unsigned char** slots[2] = {&front, &back};
  KELO_IMAGEDATA_PARAMETERS pair[2];
  Sheet(int w, int h, bool withFront = true, bool withBack = false) {
    pair[0] = pair[1] = Colour(w, h);
    if (withFront) front = pages::Malloc(pages::Document(w, h));
    if (withBack) back = pages::Malloc(pages::Document(w, h));
  }
  ~Sheet() {
    free(front);
    free(back);
  }
};

TEST_F(ImageSteps, ColourCleanupHandsTheUnitItsRecordAndAdoptsTheResult) {
  g_PropInfo.SCAN_RES_X = 200;
  g_PropInfo.COLOR_CLEANUP_CLEANNESS = -3;
  KeloImageProcess ip;
  for (int setting : {1, 2}) {
    fakes::Install();
    g_PropInfo.COLOR_CLEANUP = static_cast<unsigned char>(setting);
    Sheet s(9, 4);
    const unsigned char first = s.front[0];
    ASSERT_EQ(ip.DoColorCleanup(s.slots, 0, s.pair), 0);
    ASSERT_EQ(fakes::smoothing.size(), 1u);
    const I3ipImageInfo& in = fakes::smoothing[0].in;
    EXPECT_EQ(in.Size, 0u);
    EXPECT_EQ(in.Bpp, 24);
    EXPECT_EQ(in.Dpi, 200);
    EXPECT_EQ(in.Width, 9u);
    EXPECT_EQ(in.Height, 4u);
    EXPECT_EQ(in.Bpl, 27u);
    EXPECT_EQ(in.DataSize, 108u);
    EXPECT_EQ(in.DataType + in.Boundary + in.MarginSize + in.EndorserCount, 0);
    EXPECT_EQ(fakes::smoothing[0].a, setting == 2 ? 1 : 0);  // "White" also whitens
    EXPECT_EQ(fakes::smoothing[0].b, -3);
    EXPECT_EQ(s.front[0], first / 2);  // the unit's page took its place
  }
}

TEST_F(ImageSteps, ColourCleanupResultCodes) {
  struct Case {
    int unitCode;
    bool noPixels;
    int result;
  } cases[] = {{0, true, 0}, {34, false, 33}, {36, false, 32}, {5, false, 34}};
  KeloImageProcess ip;
  for (const Case& c : cases) {
    fakes::Install();
    g_PropInfo.COLOR_CLEANUP = 1;
    fakes::script.smoothingCode = c.unitCode;
    fakes::script.smoothingNoPixels = c.noPixels;
    Sheet s(6, 3);
    const unsigned char* before = s.front;
    const std::vector<unsigned char> content(s.front, s.front + 54);
    EXPECT_EQ(ip.DoColorCleanup(s.slots, 0, s.pair), c.result) << c.unitCode;
    EXPECT_EQ(s.front, before);  // the page stays
    EXPECT_EQ(std::vector<unsigned char>(s.front, s.front + 54), content);
  }
}

TEST_F(ImageSteps, StepsRefuseAPageWithoutWidth) {
  KeloImageProcess ip;
  g_PropInfo.COLOR_CLEANUP = 1;
  Sheet s(6, 3, true, true);
  s.pair[0].iPixelsPerLine = 0;
  s.pair[1].iPixelsPerLine = 0;
  EXPECT_EQ(ip.DoColorCleanup(s.slots, 0, s.pair), 32);
  EXPECT_EQ(ip.DoiDTC(s.slots, 0, s.pair, nullptr), KELO_IP_PARAMETER);
  EXPECT_EQ(ip.SplitImage(s.slots, 0, s.pair), KELO_IP_PARAMETER);
  EXPECT_EQ(ip.MergeImage(s.slots, s.pair), KELO_IP_PARAMETER);
  EXPECT_TRUE(fakes::calls.empty());
  EXPECT_NE(s.front, nullptr);
}

TEST_F(ImageSteps, AutomaticBinarizationTakesTheUnitsPage) {
  g_PropInfo.SCAN_RES_X = 400;
  g_PropInfo.BW_IDTC_SENSITIVITY = -7;
  g_PropInfo.BW_IDTC_BACKGROUND_THRESHOLD = 12;
  KeloImageProcess ip;
  unsigned char* front = pages::Malloc(std::vector<unsigned char>(10 * 2, 200));
  unsigned char* back = pages::Malloc(std::vector<unsigned char>(10 * 2, 10));
  unsigned char** slots[2] = {&front, &back};
  KELO_IMAGEDATA_PARAMETERS pair[2] = {pages::Bits(10, 2), pages::Bits(10, 2)};
  pair[0].iBytesPerLine = pair[1].iBytesPerLine = 10;  // grey pages of a line-art scan
  g_PropInfo.FRONT_BACK_MERGING = 1;
  const int crop[2] = {1, 0};
  ASSERT_EQ(ip.DoiDTC(slots, 0, pair, crop), 0);
  ASSERT_EQ(fakes::binarization.size(), 2u);
  EXPECT_EQ(fakes::binarization[0].in.Bpp, 8);
  EXPECT_EQ(fakes::binarization[0].in.Dpi, 400);
  EXPECT_EQ(fakes::binarization[0].in.DataSize, 20u);
  EXPECT_EQ(fakes::binarization[0].a, -7);
  EXPECT_EQ(fakes::binarization[0].b, 12);
  EXPECT_EQ(fakes::binarization[0].c, 1);  // each face's own crop flag
  EXPECT_EQ(fakes::binarization[1].c, 0);
  EXPECT_EQ(pair[0].iBytesPerLine, 2);
  EXPECT_EQ(front[0], 0xFF);
  EXPECT_EQ(back[0], 0x00);
  free(front);
  free(back);
}

TEST_F(ImageSteps, AutomaticBinarizationFailuresLeaveNoPageBehind) {
  // The unit frees its input whatever it answers; on 47 it also hands over
  // an output buffer, which must not leak (the sanitizer build checks).
  struct Case {
    int code;
    bool noPixels;
    int result;
  } cases[] = {{47, false, KELO_IP_UNEXPECTED}, {34, false, KELO_IP_OUTOFMEMORY}, {0, true, KELO_IP_UNEXPECTED}};
  KeloImageProcess ip;
  for (const Case& c : cases) {
    fakes::Install();
    fakes::script.binCode = c.code;
    fakes::script.binNoPixels = c.noPixels;
    unsigned char* page = pages::Malloc(std::vector<unsigned char>(16, 9));
    unsigned char** slots[2] = {&page, nullptr};
    KELO_IMAGEDATA_PARAMETERS pair[2] = {pages::Grey(4, 4), {}};
    EXPECT_EQ(ip.DoiDTC(slots, 0, pair, nullptr), c.result) << c.code;
    EXPECT_EQ(page, nullptr) << c.code;
  }
}

TEST_F(ImageSteps, SplitHandsTheUnitItsRecordAndKeepsTheHalves) {
  for (int res : {300, 400}) {
    fakes::Install();
    g_PropInfo.SCAN_RES_X = static_cast<unsigned short>(res);
    KeloImageProcess ip;
    Sheet s(8, 10, false, true);  // a back face alone
    const std::vector<unsigned char> content(s.back, s.back + 240);
    ASSERT_EQ(ip.SplitImage(s.slots, 1, s.pair), 0);
    ASSERT_EQ(fakes::split.size(), 1u);
    const I3ipImageInfo& in = fakes::split[0].in;
    EXPECT_EQ(in.Size, 40u);
    EXPECT_EQ(in.Dpi, res <= 300 ? 300 : 600);
    EXPECT_EQ(in.Bpp, 24);
    EXPECT_EQ(in.DataSize, 240u);
    EXPECT_EQ(s.back, nullptr);
    // The unit cut at a third: the heights are the ones it gave back.
    EXPECT_EQ(ip.m_tUpperImageInfo[1].iLines, 3);
    EXPECT_EQ(ip.m_tLowerImageInfo[1].iLines, 7);
    EXPECT_EQ(ip.m_tUpperImageInfo[1].iPixelsPerLine, 8);
    EXPECT_EQ(ip.m_tLowerImageInfo[1].iBytesPerLine, 24);
    EXPECT_EQ(std::vector<unsigned char>(ip.m_pLowerImage[1], ip.m_pLowerImage[1] + 7 * 24),
              std::vector<unsigned char>(content.begin() + 3 * 24, content.end()));
    free(ip.m_pUpperImage[1]);
    free(ip.m_pLowerImage[1]);
  }
}

TEST_F(ImageSteps, SplitFailureKeepsTheFace) {
  KeloImageProcess ip;
  for (auto [code, result] : {std::pair{34, KELO_IP_OUTOFMEMORY}, std::pair{36, KELO_IP_UNEXPECTED}}) {
    fakes::script.splitCode = code;
    Sheet s(8, 10);
    EXPECT_EQ(ip.SplitImage(s.slots, 0, s.pair), result);
    EXPECT_NE(s.front, nullptr);
    EXPECT_EQ(ip.m_pUpperImage[0], nullptr);
  }
}

TEST_F(ImageSteps, MergeLayoutFlipAndFill) {
  struct Case {
    int location, rotation, layout, flip;
  } cases[] = {{0, 0, 1, 0}, {1, 1, 0, 1}, {2, 0, 3, 0}, {3, 1, 2, 1}};
  g_PropInfo.SCAN_RES_X = 150;
  for (const Case& c : cases) {
    fakes::Install();
    g_PropInfo.BACK_SIDE_LOCATION = static_cast<unsigned char>(c.location);
    g_PropInfo.BACK_SIDE_ROTATION = static_cast<unsigned char>(c.rotation);
    KeloImageProcess ip;
    Sheet s(4, 3, true, true);
    ASSERT_EQ(ip.MergeImage(s.slots, s.pair), 0);
    ASSERT_EQ(fakes::merge.size(), 1u);
    EXPECT_EQ(fakes::merge[0].layout, c.layout) << c.location;
    EXPECT_EQ(fakes::merge[0].flip, c.flip);
    EXPECT_EQ(fakes::merge[0].fill, 1);
    EXPECT_EQ(fakes::merge[0].first.Dpi, 150);
    EXPECT_EQ(fakes::merge[0].second.Bpp, 24);
    EXPECT_EQ(s.front, nullptr);
    EXPECT_EQ(s.back, nullptr);
    free(ip.m_pMergeImage);
  }
}

TEST_F(ImageSteps, MergeOfFacesOfDifferentLengthsFillsWithWhite) {
  g_PropInfo.BACK_SIDE_LOCATION = 3;  // "Right"
  KeloImageProcess ip;
  Sheet s(4, 100, true, true);
  s.pair[1].iLines = 120;
  free(s.back);
  s.back = pages::Malloc(std::vector<unsigned char>(12 * 120, 7));
  ASSERT_EQ(ip.MergeImage(s.slots, s.pair), 0);
  EXPECT_EQ(ip.m_tMergeImageInfo.iPixelsPerLine, 8);
  EXPECT_EQ(ip.m_tMergeImageInfo.iLines, 120);
  EXPECT_EQ(ip.m_tMergeImageInfo.iBytesPerLine, 24);
  EXPECT_EQ(ip.m_pMergeImage[110 * 24 + 0], 0xFF);  // front lengthened with white
  EXPECT_EQ(ip.m_pMergeImage[110 * 24 + 12], 7);    // back on the right
  free(ip.m_pMergeImage);
}

TEST_F(ImageSteps, MergeFailuresKeepBothFaces) {
  KeloImageProcess ip;
  for (auto [code, result] : {std::pair{34, KELO_IP_OUTOFMEMORY}, std::pair{1, KELO_IP_UNEXPECTED}}) {
    fakes::script.mergeCode = code;
    Sheet s(4, 3, true, true);
    EXPECT_EQ(ip.MergeImage(s.slots, s.pair), result);
    EXPECT_NE(s.front, nullptr);
    EXPECT_NE(s.back, nullptr);
  }
  fakes::KeepImgforge({});
  Sheet s(4, 3, true, true);
  EXPECT_EQ(ip.MergeImage(s.slots, s.pair), KELO_IP_UNEXPECTED);  // libimgforge without MergeImage
  Sheet single(4, 3);
  EXPECT_EQ(ip.MergeImage(single.slots, single.pair), KELO_IP_PARAMETER);
}

}  // namespace
