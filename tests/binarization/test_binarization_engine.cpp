// The binarization engine's driver, tone tables and histogram analysis, and
// its numerical routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "band_threads.h"
#include "copy_mark.h"
#include "driver.h"
#include "edge_threshold.h"
#include "engine_fixture.h"
#include "fake_helper_util.h"
#include "filters.h"
#include "filtfilt_goldens.h"
#include "helper_binding.h"
#include "i3ip_share.h"
#include "morphology.h"
#include "post_bands.h"
#include "dravn_paths.h"
#include "tone.h"

namespace {

// --- numerical routines ------------------------------------------------------

TEST(Filtfilt, MatchesScipy) {
  for (const FiltfiltGolden& g : kFiltfiltGoldens) {
    std::vector<double> y(g.x.size());
    ASSERT_EQ(DigfiltfilterF(g.x.data(), y.data(), int(g.x.size()), g.a.data(), g.b.data(), int(g.b.size())), 0);
    for (size_t i = 0; i < y.size(); ++i) EXPECT_NEAR(y[i], g.y[i], 1e-9 * (1 + std::fabs(g.y[i]))) << g.name << i;
  }
}

TEST(Filtfilt, ConstantPassesAndShortSignalsAreRefused) {
  const FiltfiltGolden& g = kFiltfiltGoldens[0];
  std::vector<double> x(20, 42.0), y(20);
  ASSERT_EQ(DigfiltfilterF(x.data(), y.data(), 20, g.a.data(), g.b.data(), 3), 0);
  for (double v : y) EXPECT_NEAR(v, 42.0, 1e-9);
  EXPECT_EQ(DigfiltfilterF(x.data(), y.data(), 6, g.a.data(), g.b.data(), 3), -1);
  EXPECT_EQ(DigfiltfilterF(x.data(), y.data(), 7, g.a.data(), g.b.data(), 3), 0);
  EXPECT_EQ(DigfiltfilterF(x.data(), y.data(), 20, g.a.data(), g.b.data(), 1), -1);
}

TEST(GaussJordan, SolvesWithPivotingAndInverts) {
  // A zero in the first pivot position needs a row exchange.
  double a[9] = {0, 2, 1, 1, 1, 1, 2, 1, 3};
  const double b[6] = {7, 1, 6, 1, 13, 3};  // two right sides
  double x[6];
  ASSERT_EQ(GaussJordan(3, a, 2, b, x), 0);
  // Solutions (1, 2, 3) and (0, 0, 1); a holds the inverse now.
  const double want[6] = {1, 0, 2, 0, 3, 1};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(x[i], want[i], 1e-12) << i;
  const double m[9] = {0, 2, 1, 1, 1, 1, 2, 1, 3};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += a[i * 3 + k] * m[k * 3 + j];
      EXPECT_NEAR(s, i == j ? 1 : 0, 1e-12);
    }
}

TEST(Curves, LinearAndBezier) {
  const int xs[3] = {0, 100, 255};
  const double ys[3] = {0, 200, 300};
  uint8_t lx[256], ly[256];
  std::memset(lx, 7, sizeof lx);
  LinearFunction(xs, ys, 3, 10, 9, lx, ly);
  EXPECT_EQ(lx[0], 7);  // an empty range writes nothing
  LinearFunction(xs, ys, 3, 0, 255, lx, ly);
  EXPECT_EQ(ly[50], 100);
  EXPECT_EQ(ly[100], 200);
  EXPECT_EQ(ly[150], 232);  // 200 + 100 x 50 / 155, truncated
  EXPECT_EQ(ly[255], 255);  // clamped
  for (int i = 0; i < 256; ++i) EXPECT_EQ(lx[i], i);

  const int bx[4] = {0, 20, 20, 255};
  const double by[4] = {0, 60, 60, 255};
  uint8_t x[256], y[256];
  std::memset(x, 0, sizeof x);
  ASSERT_EQ(BezierFunction(bx, by, x, y), 0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(x[i], i);
  EXPECT_LE(y[0], 2);  // the curve's first sample already lies on level 0
  EXPECT_EQ(y[255], 255);
  for (int i = 1; i < 256; ++i) EXPECT_GE(y[i], y[i - 1]);
  EXPECT_GT(y[20], 20);  // the curve bows above the diagonal
}

// --- tone ---------------------------------------------------------------------

TEST(ToneTables, GammaBrightnessContrast) {
  uint8_t t[256];
  CreateGammaTableF(25, t);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[255], 255);
  EXPECT_EQ(t[64], int(std::pow(64 / 255.0, 1 / 1.5) * 255 + 0.5));
  uint8_t n[256];
  CreateGammaTableF(-25, n);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(n[255 - i], 255 - t[i]);
  CreateBrightTableF(40, t);
  EXPECT_LE(t[0], 2);
  EXPECT_EQ(t[255], 255);
  CreateBrightTableF(-40, t);
  EXPECT_LT(t[200], 200);
  // A stretch about x = 60 by c = 30, and a table refused where its slope is infinite.
  ASSERT_EQ(CreateContrastLinearTableF(30, 60, t), 0);
  EXPECT_EQ(t[60], 60);
  EXPECT_EQ(t[225], 255);
  EXPECT_EQ(CreateContrastLinearTableF(195, 60, t), -1);  // c = 255 - x
  EXPECT_EQ(CreateContrastLinearTableF(200, 200, t), -1);  // c = x
}

TEST(Histogram, Sampling) {
  std::vector<uint8_t> small(100 * 100, 9), big(1000 * 1000, 9);
  uint32_t h[256];
  CreateHist(small.data(), 100, 100, h, 320);
  EXPECT_EQ(h[9], 10000u);
  // A 50-pixel margin, every second pixel of every second row.
  for (int y = 0; y < 1000; ++y) big[size_t(y) * 1000 + 49] = big[size_t(49) * 1000 + y] = 200;
  CreateHist(big.data(), 1000, 1000, h, 320);
  EXPECT_EQ(h[9], 450u * 450u);
  EXPECT_EQ(h[200], 0u);
}

uint32_t* Bins(std::vector<uint32_t>& h) { return h.data(); }

TEST(Histogram, Analysis) {
  int r[16] = {};
  std::vector<uint32_t> h(256, 0);
  h[200] = 2499;
  EXPECT_EQ(AnalyHist(Bins(h), 256, r, 0), -1);
  EXPECT_EQ(r[0], 127);
  EXPECT_EQ(r[1], 0);

  // Dark text on light paper: two well separated modes.
  std::fill(h.begin(), h.end(), 0);
  for (int i = 0; i < 256; ++i) {
    h[size_t(i)] = uint32_t(2000 * std::exp(-std::pow((i - 40) / 10.0, 2)) +
                            40000 * std::exp(-std::pow((i - 215) / 8.0, 2)));
  }
  std::fill(r, r + 16, 0);
  EXPECT_EQ(AnalyHist(Bins(h), 256, r, 1), 0);
  EXPECT_GT(r[0], 40);
  EXPECT_LT(r[0], 215);
  EXPECT_GE(r[4], 0);
  EXPECT_LE(r[4], 25);
  EXPECT_EQ(r[12], 1);

  // A flat histogram has no peaks to separate: no contrast.
  std::fill(h.begin(), h.end(), 100);
  std::fill(r, r + 16, 0);
  EXPECT_EQ(AnalyHist(Bins(h), 256, r, 1), 0);
  EXPECT_EQ(r[1], 0);
}

TEST(PreProcessing, NoTableLeavesThePage) {
  std::vector<uint8_t> page(50 * 50, 100), dst(50 * 50, 7);
  int params[32] = {}, r[16] = {};
  EXPECT_EQ(PreProImage(page.data(), 50, 50, params, 0, dst.data(), r, 320), -1);
  EXPECT_EQ(dst[0], 7);
  params[2] = 25;
  EXPECT_EQ(PreProImage(page.data(), 50, 50, params, 0, dst.data(), r, 320), 0);
  uint8_t t[256];
  CreateGammaTableF(25, t);
  EXPECT_EQ(dst[0], t[100]);
}

// The table reaches every byte, in place and into another buffer, on pages
// mapped a byte at a time and on pages large enough for the wide ways, with
// a length that ends off every vector step.
TEST(PreProcessing, TheTableMapsEveryByte) {
  uint8_t gamma[256], reversed[256];
  CreateGammaTableF(-40, gamma);
  for (int i = 0; i < 256; ++i) reversed[i] = uint8_t(255 - i);
  struct Case {
    int height, width;
    const uint8_t* table;
  };
  for (const Case& c : {Case{37, 61, gamma}, Case{731, 1013, gamma}, Case{1013, 731, reversed}}) {
    std::vector<uint8_t> page(size_t(c.height) * c.width);
    unsigned seed = unsigned(c.width);
    for (uint8_t& v : page) v = uint8_t(rand_r(&seed) >> 7);
    std::vector<uint8_t> want(page.size()), into(page.size() + 1, 7), inPlace = page;
    for (size_t i = 0; i < page.size(); ++i) want[i] = c.table[page[i]];
    ImageConv(page.data(), c.height, c.width, c.table, into.data());
    ImageConv(inPlace.data(), c.height, c.width, c.table, inPlace.data());
    EXPECT_EQ(into.back(), 7) << c.height << "x" << c.width;
    into.pop_back();
    EXPECT_EQ(into, want) << c.height << "x" << c.width;
    EXPECT_EQ(inPlace, want) << c.height << "x" << c.width;
  }
}

// --- driver ----------------------------------------------------------------

TEST(Driver, LogFilterAndDefaults) {
  int k[25];
  CreateLogFilter(1.0, 5, k);
  EXPECT_EQ(k[12], -128);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(k[y * 5 + x], k[x * 5 + y]);
      EXPECT_EQ(k[y * 5 + x], k[(4 - y) * 5 + x]);
    }
  int mode, params[32], kernel[25];
  GetDeviceParam(&mode, params, kernel);
  EXPECT_EQ(mode, 7);
  EXPECT_EQ(params[2], 25);
  EXPECT_EQ(params[10], 1000);
  EXPECT_EQ(params[13], 10);
  EXPECT_EQ(std::vector<int>(kernel, kernel + 25), std::vector<int>(k, k + 25));
}

TEST(PostProcessing, NothingSelected) {
  int params[32] = {};
  std::vector<uint8_t> src(100, 1), dst(100, 9);
  EXPECT_EQ(PostProImage(src.data(), dst.data(), 10, 10, params, 3, nullptr, 0, 1), -1);
  EXPECT_EQ(dst[0], 9);
}

class Engine : public BoundEngine {
 protected:
  void SetUp() override { GetDeviceParam(&m_mode, m_params, m_kernel); m_mode = 3; }
  int m_mode, m_params[32], m_kernel[25], m_results[16] = {};
};

TEST_F(Engine, SmallPagesFailWithAClearedPage) {
  for (auto [w, h] : {std::pair{8, 20}, std::pair{20, 8}}) {
    std::vector<uint8_t> src(size_t(w) * h, 200), dst(size_t((w + 7) / 8) * h, 0x55);
    EXPECT_EQ(TBinary2(src.data(), dst.data(), h, w, 0, m_params, m_mode, m_results, m_kernel), -1);
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 0), long(dst.size()));
  }
}

TEST_F(Engine, MarginReplicatesTheEdgePixels) {
  const int w = 10, h = 10, m = 3, W = w + 2 * m;
  std::vector<uint8_t> src(size_t(W) * (h + 2 * m), 0), dst(size_t(2) * h);
  for (int i = 0; i < w * h; ++i) src[size_t(i)] = uint8_t(100 + i);
  ASSERT_EQ(TBinary2(src.data(), dst.data(), h, w, m, m_params, m_mode, m_results, m_kernel), 0);
  // The page is tone-mapped in place afterwards, pixel by pixel: every
  // margin pixel still equals its nearest page pixel, and the page keeps its order.
  for (int y = 0; y < W; ++y)
    for (int x = 0; x < W; ++x) {
      const int py = std::clamp(y - m, 0, h - 1) + m, px = std::clamp(x - m, 0, w - 1) + m;
      EXPECT_EQ(src[size_t(y) * W + x], src[size_t(py) * W + px]) << x << "," << y;
    }
  for (int i = 1; i < w * h; ++i)
    EXPECT_LE(src[size_t((i - 1) / w + m) * W + (i - 1) % w + m], src[size_t(i / w + m) * W + i % w + m]);
  EXPECT_LT(src[size_t(m) * W + m], src[size_t(h - 1 + m) * W + w - 1 + m]);
}

TEST_F(Engine, OutputKindOneGivesBytes) {
  const int w = 40, h = 30;
  std::vector<uint8_t> src(size_t(w) * h, 230), dst(size_t(w) * h, 7);
  for (int y = 0; y < h; ++y) std::memset(&src[size_t(y) * w], 10, 20);
  m_params[18] = 1;
  ASSERT_EQ(TBinary2(src.data(), dst.data(), h, w, 0, m_params, m_mode, m_results, m_kernel), 0);
  for (uint8_t v : dst) EXPECT_TRUE(v == 0 || v == 255);
  EXPECT_EQ(dst[size_t(15) * w + 5], 0);
  EXPECT_EQ(dst[size_t(15) * w + 35], 255);
}

TEST_F(Engine, OrientationVariantGivesTheByteImageAndKeepsThePage) {
  const int w = 40, h = 30;
  std::vector<uint8_t> page(size_t(w) * h, 230);
  for (int y = 5; y < 25; ++y) std::memset(&page[size_t(y) * w + 8], 20, 12);
  std::vector<uint8_t> src = page, bytes(page.size(), 7), grey = page, kind1(page.size());
  int results[16] = {};
  ASSERT_EQ(TBinaryOrientation(src.data(), bytes.data(), h, w, 0, m_params, m_mode, results, m_kernel), 0);
  EXPECT_EQ(src, page) << "the caller's page is not used as work space";
  // With sensitivity 0 both drivers use the same threshold offset.
  m_params[18] = 1;
  ASSERT_EQ(TBinary2(grey.data(), kind1.data(), h, w, 0, m_params, m_mode, m_results, m_kernel), 0);
  for (size_t i = 0; i < page.size(); ++i) ASSERT_EQ(bytes[i], kind1[i] ? 1 : 0) << i;
  EXPECT_EQ(bytes[size_t(15) * w + 12], 0);
  std::vector<uint8_t> narrow(8 * 20, 200), out(8 * 20, 9);
  EXPECT_EQ(TBinaryOrientation(narrow.data(), out.data(), 20, 8, 0, m_params, m_mode, results, m_kernel), -1);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0), long(out.size()));
}

TEST_F(Engine, OutputKindTwoRemovesTheCopyMark) {
  const int w = 600, h = 400, bpl = (w + 7) / 8;
  CopyMarkArea a{};
  a.resolution = 200;
  ASSERT_EQ(GetCopyMarkArea(&a, h, w, 1, 2), 0);
  std::vector<uint8_t> grey(size_t(w) * h, 230);
  const uint8_t* t = CopyMarkTemplate(0);
  for (int y = 0; y < 76; ++y)
    for (int x = 0; x < 160; ++x)
      if (t[y * 160 + x]) grey[size_t(a.tlY + y) * w + a.tlX + x] = 20;
  auto blackInMark = [&](int copyMarkSwitch) {
    int params[32];
    std::memcpy(params, m_params, sizeof params);
    params[16] = 200, params[18] = 2, params[20] = 2, params[31] = copyMarkSwitch;
    std::vector<uint8_t> src = grey, dst(size_t(bpl) * h);
    int results[16] = {};
    EXPECT_EQ(TBinary2(src.data(), dst.data(), h, w, 0, params, m_mode, results, m_kernel), 0);
    EXPECT_EQ(params[23], 1) << "rotation 0 is taken as 1";
    int black = 0;
    for (int y = a.tlY; y <= a.brY; ++y)
      for (int x = a.tlX; x <= a.brX; ++x) black += !(dst[size_t(y) * bpl + x / 8] & (0x80 >> (x % 8)));
    return black;
  };
  const int kept = blackInMark(1), removed = blackInMark(0);
  EXPECT_GT(kept, 2000) << "switched off: the mark stays";
  // Only where the binarized strokes differ from the template by a pixel.
  EXPECT_LT(removed, kept / 4) << "the printed mark is whitened";
}

TEST_F(Engine, OutputKindThreePacksABlackAndWhitePage) {
  const int w = 21, h = 12, bpl = 3;
  std::vector<uint8_t> bw(size_t(w) * h, 255);
  bw[size_t(5) * w + 9] = 0;  // one black speck ...
  for (int x = 2; x < 19; ++x) bw[size_t(9) * w + x] = 0;  // ... and a rule
  std::vector<uint8_t> dst(size_t(bpl) * h, 0x55), want(dst.size());
  m_params[18] = 3;
  ASSERT_EQ(TBinary2(bw.data(), dst.data(), h, w, 3, m_params, m_mode, m_results, m_kernel), 0);
  std::vector<uint8_t> ones(bw.size());
  for (size_t i = 0; i < bw.size(); ++i) ones[i] = bw[i] ? 1 : 0;
  bin2pac(ones.data(), want.data(), h, w);
  EXPECT_EQ(dst, want) << "nothing selected: packed as it came, the margin ignored";
  m_params[7] = 2;  // stains up to 2 pixels
  ASSERT_EQ(TBinary2(bw.data(), dst.data(), h, w, 0, m_params, m_mode, m_results, m_kernel), 0);
  EXPECT_TRUE(dst[size_t(5) * bpl + 1] & 0x40) << "the speck is gone";
  EXPECT_FALSE(dst[size_t(9) * bpl + 1] & 0x40) << "the rule stays";
}

TEST_F(Engine, PostProcessingAloneNeedsRoomForItsImage) {
  std::vector<uint8_t> src(16 * 16, 1), dst(2 * 10, 0x55);
  m_params[7] = 5;
  EXPECT_EQ(TBinary2(src.data(), dst.data(), 10, 10, 3, m_params, int(0x90000003u), m_results, m_kernel), -1);
  EXPECT_EQ(dst[0], 0x55);
}

// Naive minimum (erode) or maximum over an (s-1) x (s-1) window anchored at
// ((s-2)/2, (s-2)/2), inside the region inset by (s-1)/2; outside, src.
std::vector<uint8_t> NaiveSquare(const std::vector<uint8_t>& src, int h, int w, int s, bool erode) {
  std::vector<uint8_t> out = src;
  const int k = (s - 1) / 2, m = s - 1, a = (s - 2) / 2;
  for (int y = k; y < h - k; ++y)
    for (int x = k; x < w - k; ++x) {
      int v = erode ? 1 : 0;
      for (int dy = 0; dy < m; ++dy)
        for (int dx = 0; dx < m; ++dx) {
          const int p = src[size_t(y - a + dy) * w + x - a + dx];
          v = erode ? std::min(v, p) : std::max(v, p);
        }
      out[size_t(y) * w + x] = uint8_t(v);
    }
  return out;
}

std::vector<uint8_t> RandomPage(int h, int w, unsigned seed, int whitePercent) {
  std::vector<uint8_t> page(size_t(h) * w);
  for (auto& v : page) v = (rand_r(&seed) % 100) < whitePercent ? 1 : 0;
  return page;
}

TEST_F(Engine, SquareMorphologyMatchesANaiveWindow) {
  const int h = 37, w = 41;
  const std::vector<uint8_t> page = RandomPage(h, w, 3, 70);
  for (int s = 3; s <= 7; ++s)
    for (bool erode : {true, false}) {
      std::vector<uint8_t> out = page;
      ASSERT_EQ((erode ? imageErodeFIpp : imageDilateFIpp)(page.data(), out.data(), h, w, s), 0);
      EXPECT_EQ(out, NaiveSquare(page, h, w, s, erode)) << s << erode;
    }
}

TEST(TextLineRules, OneAndTwoPixelWide) {
  // A white pixel between black left and right neighbours only.
  std::vector<uint8_t> page(9, 1), out(9);
  page[3] = page[5] = 0;
  imageTextLine2LErodeF(page.data(), out.data(), 3, 3, 2);
  EXPECT_EQ(out[4], 0);
  imageTextLine1LErodeF(page.data(), out.data(), 3, 3, 1);
  EXPECT_EQ(out[4], 1);
  // Three side neighbours black: both widths blacken; the colours exchanged, both whiten.
  page[1] = 0;
  imageTextLine1LErodeF(page.data(), out.data(), 3, 3, 1);
  EXPECT_EQ(out[4], 0);
  std::vector<uint8_t> inverse(9);
  for (int i = 0; i < 9; ++i) inverse[size_t(i)] = page[size_t(i)] ? 0 : 1;
  imageTextLine1LDilateF(inverse.data(), out.data(), 3, 3, 1);
  EXPECT_EQ(out[4], 1);
  // The outer rows and columns never change.
  for (int i : {0, 1, 2, 3, 5, 6, 7, 8}) EXPECT_EQ(out[size_t(i)], inverse[size_t(i)]);
}

TEST(Stains, LargerComponentOfABoxAndSpecksUpToTheSize) {
  const int h = 12, w = 12;
  std::vector<uint8_t> page(size_t(h) * w, 1), out;
  auto ink = [&](int x, int y) { page[size_t(y) * w + x] = 0; };
  // One box holding a 3 x 2 block and a single pixel apart from it.
  for (int y = 2; y < 4; ++y)
    for (int x = 2; x < 5; ++x) ink(x, y);
  ink(7, 5);
  out = page;
  ASSERT_EQ(RemoveObjectNew(page.data(), out.data(), h, w, _LabelArea{2, 2, 6, 4}, 6, _MARGINPTXYSIZE{}), 0);
  EXPECT_EQ(out[size_t(2) * w + 2], 1);
  EXPECT_EQ(out[size_t(3) * w + 4], 1);
  EXPECT_EQ(out[size_t(5) * w + 7], 0);  // the smaller one stays
  // Stains: specks of at most `size` pixels each way go, larger ones stay.
  std::vector<uint8_t> dst(page.size(), 9);
  ASSERT_EQ(RemoveStainNew(page.data(), dst.data(), h, w, 2, _MARGINPTXYSIZE{}), 0);
  EXPECT_EQ(dst[size_t(5) * w + 7], 1);
  EXPECT_EQ(dst[size_t(2) * w + 2], 0);  // 3 wide
  ASSERT_EQ(RemoveStainNew(page.data(), dst.data(), h, w, 3, _MARGINPTXYSIZE{}), 0);
  EXPECT_EQ(std::count(dst.begin(), dst.end(), 0), 0);
  EXPECT_EQ(RemoveStainNew(page.data(), dst.data(), h, w, 0, _MARGINPTXYSIZE{}), -1);
}

TEST_F(Engine, BandsGiveWhatOneBandGives) {
  const int h = 61, w = 47;
  const std::vector<uint8_t> page = RandomPage(h, w, 21, 85);
  auto plainAndBands = [&](auto plain, auto banded, const char* what, int size) {
    std::vector<uint8_t> one = page;
    ASSERT_EQ(plain(page.data(), one.data(), size), 0) << what << size;
    for (int n = 1; n <= 4; ++n) {
      std::vector<uint8_t> out(page.size(), 9);
      ASSERT_EQ(banded(page.data(), out.data(), size, n), 0) << what << size;
      EXPECT_EQ(out, one) << what << " size " << size << " bands " << n;
    }
  };
  for (int size : {1, 3, 8, 30})
    plainAndBands([&](const uint8_t* s, uint8_t* d, int z) { return RemoveStainNew(s, d, h, w, z, _MARGINPTXYSIZE{}); },
                  [&](const uint8_t* s, uint8_t* d, int z, int n) {
                    return RemoveStainNewEx(s, d, h, w, z, _MARGINPTXYSIZE{}, n);
                  },
                  "stain", size);
  for (int size = 1; size <= 7; ++size)
    plainAndBands([&](const uint8_t* s, uint8_t* d, int z) { return CouplayFilterIpp(s, d, h, w, z); },
                  [&](const uint8_t* s, uint8_t* d, int z, int n) { return CouplayFilterIppEx(s, d, h, w, z, n); },
                  "couplay", size);
  for (int size = -6; size <= 6; ++size)
    if (size)
      plainAndBands([&](const uint8_t* s, uint8_t* d, int z) { return LineFilterIpp(s, d, h, w, z); },
                    [&](const uint8_t* s, uint8_t* d, int z, int n) { return LineFilterIppEx(s, d, h, w, z, n); },
                    "line", size);
}

TEST(BandThreads, EveryBandRunsOnItsRowsAndAFailedBandFailsTheCall) {
  for (int n = 1; n <= 6; ++n) {
    std::vector<int> rows(103, 0);
    std::atomic<int> calls{0};
    const int rc = RunBands(n, 103, [&](int y0, int y1, int band) {
      ++calls;
      for (int y = y0; y < y1; ++y) ++rows[size_t(y)];
      return band == 1 ? -1 : 0;
    });
    const int bands = std::min(n, 4);
    EXPECT_EQ(calls, bands);
    EXPECT_EQ(rc, bands > 1 ? -1 : 0) << n;
    EXPECT_EQ(std::count(rows.begin(), rows.end(), 1), 103) << "each row once, n " << n;
  }
}

TEST_F(Engine, PostProcessingOnBands) {
  const int h = 64, w = 50;
  const std::vector<uint8_t> page = RandomPage(h, w, 5, 80);
  int params[32] = {};
  params[5] = 3, params[6] = -2, params[7] = 6;  // all three operations, opening by 5
  const int mode = 0x08 | 0x10;
  std::vector<uint8_t> one(page.size()), bands(page.size());
  ASSERT_EQ(PostProImage(page.data(), one.data(), h, w, params, mode, nullptr, 0, 1), 0);
  for (int threads : {2, 3, 4}) {
    ASSERT_EQ(PostProImage(page.data(), bands.data(), h, w, params, mode, nullptr, 0, threads), 0);
    // The band form paints a white frame of half the opening's size.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = size_t(y) * w + x;
        const bool frame = y < 2 || y >= h - 2 || x < 2 || x >= w - 2;
        ASSERT_EQ(bands[i], frame ? 1 : one[i]) << threads << " at " << x << "," << y;
      }
  }
  // No band at all: nothing runs, and that is success.
  std::vector<uint8_t> none(page.size(), 9);
  EXPECT_EQ(PostProImage(page.data(), none.data(), h, w, params, mode, nullptr, 0, 0), 0);
  EXPECT_EQ(none, page);
}

// What the driver hands libhelper.so, seen through a recording fake.
class EngineOnFakeHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_fake.open());
    ASSERT_EQ(LoadI3Helper(m_fake.path(), kI3HelperEntryMissingBinarization), 0);
    ASSERT_EQ(LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so"), 0);
    m_fake.record() = FakeRecord{};
    m_fake.record().edge_answer = 1;
  }
  void TearDown() override {
    FreeI3ipShare();
    UnloadI3Helper();
  }
  Fake m_fake{"-1"};
};

TEST_F(EngineOnFakeHelper, SensitivitySetsTheThresholdOffset) {
  // offset: s >= 1 -> int((s - 1) / 2), 0 -> 0, s < 0 -> 2 s; a = 26 - offset; t1 = 5a, t2 = 4a.
  for (auto [s, offset] : {std::pair{1, 0}, {5, 2}, {-3, -6}, {0, 0}, {2, 0}, {-60, -120}}) {
    int mode, params[32], kernel[25], results[16] = {};
    GetDeviceParam(&mode, params, kernel);
    params[3] = s;
    std::vector<uint8_t> src(size_t(30) * 20, 200), dst(size_t(4) * 20);
    ASSERT_EQ(TBinary2(src.data(), dst.data(), 20, 30, 0, params, 3, results, kernel), 0);
    const int a = std::clamp(26 - offset, 5, 100);
    EXPECT_EQ(m_fake.record().t1, 5 * a) << "sensitivity " << s;
    EXPECT_EQ(m_fake.record().t2, 4 * a) << "sensitivity " << s;
    EXPECT_EQ(m_fake.record().flag, s > 0 ? 1 : 0);
    EXPECT_EQ(m_fake.record().t3, 5) << "the edge parameter";
  }
}

struct Choice {
  const char* what;
  int txt, connect, noise, mode;
  int expected;            // PostProImage's answer
  int erode, dilate;       // the naive operations that give dst (sizes, 0 none)
};

class PostChoice : public Engine, public ::testing::WithParamInterface<Choice> {};

TEST_P(PostChoice, SelectsTheOperation) {
  const Choice& c = GetParam();
  const int h = 30, w = 34;
  const std::vector<uint8_t> page = RandomPage(h, w, 9, 80);
  std::vector<uint8_t> dst(page.size(), 9);
  int params[32] = {};
  params[5] = c.txt, params[6] = c.connect, params[7] = c.noise;
  EXPECT_EQ(PostProImage(page.data(), dst.data(), h, w, params, c.mode, nullptr, 0, 1), c.expected) << c.what;
  if (c.expected != 0) return;
  std::vector<uint8_t> want = page;
  if (c.erode < 0) {  // stain removal: up to 30 pixels, here the whole random page's specks
    EXPECT_LT(std::count(dst.begin(), dst.end(), 0), std::count(page.begin(), page.end(), 0)) << c.what;
    return;
  }
  if (c.erode) want = NaiveSquare(want, h, w, c.erode, true);
  if (c.dilate) want = NaiveSquare(want, h, w, c.dilate, false);
  EXPECT_EQ(dst, want) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PostChoice,
    ::testing::Values(Choice{"nothing chosen", 0, 0, 0, 3, -1, 0, 0},
                      Choice{"Txt 1 opens by 3", 1, 0, 0, 0x08, 0, 3, 3},
                      Choice{"Txt 9 opens by 7", 9, 0, 0, 0x08, 0, 7, 7},
                      Choice{"Txt without its mode bit", 5, 0, 0, 3, -1, 0, 0},
                      Choice{"Connect -9 dilates by 6", 0, -9, 0, 0x10, 0, 0, 6},
                      Choice{"Connect 4 erodes by 4", 0, 4, 0, 0x10, 0, 4, 0},
                      Choice{"Noise alone removes specks", 0, 0, 45, 3, 0, -1, 0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
