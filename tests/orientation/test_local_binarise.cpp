#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "local_binarise.h"
#include "text_line_pages.h"

using namespace turnsense;

namespace {

// Sauvola computed pixel by pixel with plain loops, with the window and the
// integer rules the stage must follow.
std::vector<uint8_t> NaiveSauvola(int w, int h, const std::vector<uint8_t>& src, int r, double k, int range) {
  std::vector<uint8_t> dst(src.size(), 255);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int p = src[size_t(y) * w + x];
      if (p >= 200) continue;
      int x0 = std::max(0, x - r - 1) + 1, y0 = std::max(0, y - r - 1) + 1;
      const int x1 = std::min(w - 1, x + r), y1 = std::min(h - 1, y + r);
      if (x0 > x1) x0 = x1;
      if (y0 > y1) y0 = y1;
      int64_t s = 0, s2 = 0, area = 0;
      for (int yy = y0; yy <= y1; ++yy)
        for (int xx = x0; xx <= x1; ++xx) {
          const int v = src[size_t(yy) * w + xx];
          s += v, s2 += int64_t(v) * v, ++area;
        }
      const int64_t m = s / area, v = s2 / area - m * m;
      const double t = p - m * (1 - k);
      if (t < 0 || t * t < double(m) * m * (k * k / (double(range) * range)) * double(v)) dst[size_t(y) * w + x] = 0;
    }
  return dst;
}

std::vector<uint8_t> Noise(int w, int h, unsigned seed, int lo, int hi) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(lo, hi);
  std::vector<uint8_t> v(size_t(w) * h);
  for (auto& p : v) p = uint8_t(d(rng));
  return v;
}

}  // namespace

TEST(Sauvola, MatchesNaiveReferenceOnTextAndNoise) {
  const auto page = dravn_text_pages::LetterPage(100, 6).page;
  struct Case {
    int w, h;
    std::vector<uint8_t> img;
  };
  std::vector<Case> cases = {{page.width, 120, {page.pixels.begin(), page.pixels.begin() + size_t(page.width) * 120}},
                             {61, 47, Noise(61, 47, 3, 0, 255)},
                             {40, 33, Noise(40, 33, 4, 120, 210)},
                             {1, 30, Noise(1, 30, 5, 0, 255)},
                             {30, 1, Noise(30, 1, 6, 0, 255)}};
  // The inverted pass's page: its paper is dark, so nearly every window is worked out.
  std::vector<uint8_t> inverted(cases[0].img);
  for (uint8_t& v : inverted) v = uint8_t(255 - v);
  cases.push_back({page.width, 120, inverted});
  cases.push_back({90, 70, Noise(90, 70, 8, 0, 199)});
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.img.size());
    ASSERT_EQ(AdaptiveSauvola_parallel(c.w, c.h, c.img.data(), out.data(), 15, 0.1, 64), 0);
    EXPECT_EQ(out, NaiveSauvola(c.w, c.h, c.img, 15, 0.1, 64)) << c.w << "x" << c.h;
  }
}

TEST(Sauvola, UniformGroundsStayWhite) {
  for (uint8_t v : {uint8_t(255), uint8_t(199)}) {
    std::vector<uint8_t> img(50 * 40, v), out(img.size(), 7);
    ASSERT_EQ(AdaptiveSauvola_parallel(50, 40, img.data(), out.data(), 15, 0.1, 64), 0);
    for (uint8_t p : out) ASSERT_EQ(p, 255) << int(v);
  }
}

TEST(Sauvola, SquaresOfABrightMegapixelPageDoNotOverflow) {
  // 1000 x 1000 of 199 with one dark dot near the far corner: the window
  // sums of squares there pass 2^31 in a 32-bit integral image.
  const int w = 1000, h = 1000;
  std::vector<uint8_t> img(size_t(w) * h, 199), out(img.size());
  img[size_t(h - 5) * w + (w - 5)] = 20;
  ASSERT_EQ(AdaptiveSauvola_parallel(w, h, img.data(), out.data(), 15, 0.1, 64), 0);
  EXPECT_EQ(out[size_t(h - 5) * w + (w - 5)], 0);
  EXPECT_EQ(out[size_t(h - 5) * w + (w - 20)], 255);
  EXPECT_EQ(out[0], 255);
}

TEST(GlobalOtsu, AgreesWithOpenCv) {
  const auto text = dravn_text_pages::LetterPage(100, 10).page;
  const auto photo = dravn_text_pages::PhotoPage(40).page;
  struct Case {
    int w, h;
    const uint8_t* p;
  };
  std::vector<uint8_t> noisy = Noise(80, 60, 11, 30, 220);
  for (const Case& c : {Case{text.width, text.height, text.pixels.data()},
                        Case{photo.width, photo.height, photo.pixels.data()}, Case{80, 60, noisy.data()}}) {
    std::vector<uint8_t> ours(size_t(c.w) * c.h);
    GlobalOtsu(c.w, c.h, c.p, ours.data());
    cv::Mat src(c.h, c.w, CV_8UC1, const_cast<uint8_t*>(c.p)), ref;
    cv::threshold(src, ref, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    EXPECT_EQ(0, std::memcmp(ours.data(), ref.data, ours.size())) << c.w << "x" << c.h;
  }
}

TEST(GlobalOtsu, SingleGreyKeepsThresholdZero) {
  for (uint8_t v : {uint8_t(0), uint8_t(90)}) {
    std::vector<uint8_t> img(64, v), out(64, 1);
    GlobalOtsu(8, 8, img.data(), out.data());
    for (uint8_t p : out) ASSERT_EQ(p, v == 0 ? 0 : 255);
  }
}

TEST(MeanFilterImage, MeansNonZeroPixelsAndKeepsEmptyWindows) {
  // A 30 x 1 strip with 10 at x = 0 and 40 at x = 29: the 21-wide window
  // sees one end, both (in a 15-wide strip), or neither (dst kept).
  std::vector<uint8_t> src(30, 0), dst(30, 77);
  src[0] = 10;
  src[29] = 40;
  ASSERT_EQ(MeanFilterImage(30, 1, src.data(), dst.data()), 0);
  EXPECT_EQ(dst[0], 10);
  EXPECT_EQ(dst[10], 10);
  EXPECT_EQ(dst[15], 77);
  EXPECT_EQ(dst[19], 40);
  std::vector<uint8_t> both(15, 0), out(15, 77);
  both[0] = 10, both[14] = 40;
  ASSERT_EQ(MeanFilterImage(15, 1, both.data(), out.data()), 0);
  EXPECT_EQ(out[7], 25);
}

TEST(AdaptiveSurface, DarkStrokeOnShadedGroundIsInk) {
  const int w = 60, h = 30;
  std::vector<uint8_t> src(size_t(w) * h), dst(src.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src[size_t(y) * w + x] = uint8_t(150 + x);  // ground 150..209
  for (int y = 12; y < 16; ++y)
    for (int x = 10; x < 50; ++x) src[size_t(y) * w + x] = 60;
  ASSERT_EQ(AdaptiveSurface(w, h, src.data(), dst.data(), argZheng{5, 1.0f, 20}), 0);
  for (int x = 10; x < 50; ++x) EXPECT_EQ(dst[size_t(13) * w + x], 0) << x;
  EXPECT_EQ(dst[size_t(2) * w + 30], 255);
  EXPECT_EQ(dst[size_t(27) * w + 5], 255);
}

TEST(Overlap, RatesOfClosedIntervals) {
  EXPECT_FLOAT_EQ(overlap_rate(0, 9, 5, 14), 1.0f / 3.0f);
  EXPECT_FLOAT_EQ(overlap_rate(0, 4, 5, 9), 0.0f);
  EXPECT_TRUE(is_overlap(0, 4, 4, 9));
  EXPECT_FALSE(is_overlap(0, 4, 5, 9));
  int la = -1, lb = -1, common = -1;
  EXPECT_FLOAT_EQ(overlap_rate1(0, 9, 5, 14, la, lb, common), 1.0f / 3.0f);
  EXPECT_EQ(la, 10);
  EXPECT_EQ(lb, 10);
  EXPECT_EQ(common, 5);
  la = lb = common = -1;
  overlap_rate1(0, 4, 5, 9, la, lb, common);
  EXPECT_EQ(la, -1);
  EXPECT_EQ(common, -1);
}
