// The self-contained edge-threshold binarizer on the staged libopencv
// primitives: band counts, the 5x5 sums, and isolated-edge removal.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "degraded_pages.h"
#include "dravn_paths.h"
#include "i3ip_share.h"
#include "self_binarizer.h"

namespace {

class SelfBinarizer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so"), 0); }
  static void TearDownTestSuite() { FreeI3ipShare(); }
};

struct Outcome {
  std::vector<uint8_t> out, strength;
  int rc, threshold;
};

Outcome Binarize(const std::vector<uint8_t>& grey, int w, int h, int bands) {
  Outcome r{std::vector<uint8_t>(grey.size(), 9), std::vector<uint8_t>(grey.size(), 9), 0, 0};
  int results[16] = {};
  r.rc = Gray2BinImageForNoiseF(grey.data(), r.out.data(), r.strength.data(), h, w, 0, 0, 5, 4, nullptr, 0, bands, 3,
                                results);
  r.threshold = results[10];
  return r;
}

TEST_F(SelfBinarizer, EveryBandCountGivesTheOneBandImage) {
  for (auto kind : {dravn_degraded::Kind::kBlurNoise, dravn_degraded::Kind::kStains}) {
    const dravn_degraded::Page page = dravn_degraded::MakePage(kind, 300, 50, 40);
    const Outcome one = Binarize(page.grey, page.width, page.height, 1);
    ASSERT_EQ(one.rc, 0);
    EXPECT_GT(dravn_degraded::FMeasure(std::vector<uint8_t>(one.out), page.truth), 0.5);
    for (int bands = 2; bands <= 4; ++bands) {
      const Outcome many = Binarize(page.grey, page.width, page.height, bands);
      ASSERT_EQ(many.rc, 0);
      EXPECT_EQ(many.out, one.out) << bands;
      EXPECT_EQ(many.strength, one.strength) << bands;
      EXPECT_EQ(many.threshold, one.threshold) << bands;
    }
  }
}

TEST_F(SelfBinarizer, BlackSquareOnWhite) {
  const int w = 48, h = 40;
  std::vector<uint8_t> page(size_t(w) * h, 255), expected(page.size(), 1);
  for (int y = 12; y < 28; ++y)
    for (int x = 14; x < 34; ++x) page[size_t(y) * w + x] = 0, expected[size_t(y) * w + x] = 0;
  const Outcome r = Binarize(page, w, h, 3);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, expected);
  // Edges on the paper side of the square's sides, with the full step / 4.
  EXPECT_EQ(r.strength[size_t(20) * w + 13], 255);
  EXPECT_EQ(r.strength[size_t(20) * w + 14], 0);
  EXPECT_EQ(r.strength[size_t(20) * w + 12], 0);
}

TEST_F(SelfBinarizer, PagesUnderTenPixelsFail) {
  const std::vector<uint8_t> page(9 * 30, 200);
  EXPECT_EQ(Binarize(page, 30, 9, 1).rc, -1);
  EXPECT_EQ(Binarize(page, 9, 30, 2).rc, -1);
}

TEST_F(SelfBinarizer, SumsLeaveOutTheCentreAndFillTheGaps) {
  const int w = 12, h = 11;
  std::vector<uint8_t> edge(size_t(w) * h, 0), count(edge.size());
  std::vector<int16_t> level(edge.size(), 0), sum(edge.size());
  edge[size_t(5) * w + 6] = 1;
  level[size_t(5) * w + 6] = 100;
  for (int n = 1; n <= 4; ++n) {
    ASSERT_EQ(CreateSumFilterIppEx(level.data(), sum.data(), edge.data(), count.data(), h, w, 77, n), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t at = size_t(y) * w + x;
        if (y < 2 || y >= h - 2 || x < 2 || x >= w - 2) {
          EXPECT_EQ(count[at], 255);
          EXPECT_EQ(sum[at], -1);
          continue;
        }
        const bool near = std::abs(y - 5) <= 2 && std::abs(x - 6) <= 2 && !(y == 5 && x == 6);
        EXPECT_EQ(count[at], 1) << x << "," << y;  // one edge near, or none made 1
        EXPECT_EQ(sum[at], near ? 100 : 77) << x << "," << y;
      }
  }
}

std::vector<uint8_t> Map(int w, int h, std::initializer_list<std::pair<int, int>> on) {
  std::vector<uint8_t> m(size_t(w) * h, 0);
  for (auto [x, y] : on) m[size_t(y) * w + x] = 1;
  return m;
}

TEST_F(SelfBinarizer, IsolatedEdgesAreRemoved) {
  const int w = 14, h = 10;
  struct Case {
    std::vector<uint8_t> in, out;
  };
  const Case cases[] = {
      {Map(w, h, {{5, 5}}), Map(w, h, {})},
      {Map(w, h, {{5, 5}, {6, 5}}), Map(w, h, {})},
      {Map(w, h, {{2, 2}, {3, 2}, {4, 2}, {2, 3}, {3, 3}, {4, 3}, {2, 4}, {3, 4}, {4, 4}}),
       Map(w, h, {{2, 2}, {3, 2}, {4, 2}, {2, 3}, {3, 3}, {4, 3}, {2, 4}, {3, 4}, {4, 4}})},
      // A line loses its two ends, which see only two others.
      {Map(w, h, {{3, 7}, {4, 7}, {5, 7}, {6, 7}, {7, 7}}), Map(w, h, {{4, 7}, {5, 7}, {6, 7}})},
      // At the page corner.
      {Map(w, h, {{0, 0}, {1, 1}, {0, 1}}), Map(w, h, {})},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.in.size(), 9);
    ASSERT_EQ(RemoveisolatedNoiseEdge(c.in.data(), out.data(), h, w), 0);
    EXPECT_EQ(out, c.out);
  }
  std::mt19937 rng(3);
  std::vector<uint8_t> noisy(size_t(40) * 37);
  for (uint8_t& v : noisy) v = rng() % 7 == 0;
  std::vector<uint8_t> one(noisy.size());
  RemoveisolatedNoiseEdge(noisy.data(), one.data(), 37, 40);
  for (int n = 2; n <= 4; ++n) {
    std::vector<uint8_t> many(noisy.size(), 9);
    ASSERT_EQ(RemoveisolatedNoiseEdgeEx(noisy.data(), many.data(), 37, 40, n), 0);
    EXPECT_EQ(many, one) << n;
  }
}

}  // namespace
