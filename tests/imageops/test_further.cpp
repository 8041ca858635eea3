// The second family of primitives through the staged library: colour
// conversion, planes, local filters, noise reduction, convolution and DCT.
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "imageops_test_util.h"

using namespace imageops_test;

namespace {

cv::Mat View(Fenced& f, int w, int h, int type) { return cv::Mat(h, w, type, f.Row(0), size_t(f.step())); }

}  // namespace

TEST(Further, ColourConversionAndPlanes) {
  const IppiSize roi{23, 7};
  Fenced rgb(23, 7, 3), yuv(23, 7, 3), back(23, 7, 3);
  const auto fence = yuv.Fence();
  ASSERT_EQ(OPCV(IPPShare_ippiRGBToYUV_8u_C3R)(rgb.Row(0), rgb.step(), yuv.Row(0), yuv.step(), roi), 0);
  EXPECT_EQ(yuv.Fence(), fence);
  cv::Mat want;
  cv::cvtColor(View(rgb, 23, 7, CV_8UC3), want, cv::COLOR_RGB2YUV);
  EXPECT_EQ(cv::norm(want, View(yuv, 23, 7, CV_8UC3), cv::NORM_INF), 0);
  ASSERT_EQ(OPCV(IPPShare_ippiYUVToRGB_8u_C3R)(yuv.Row(0), yuv.step(), back.Row(0), back.step(), roi), 0);
  cv::cvtColor(want, want, cv::COLOR_YUV2RGB);
  EXPECT_EQ(cv::norm(want, View(back, 23, 7, CV_8UC3), cv::NORM_INF), 0);

  // Planes: converted, plain, and back.
  Fenced p0(23, 7, 1), p1(23, 7, 1), p2(23, 7, 1);
  Ipp8u* const planes[3] = {p0.Row(0), p1.Row(0), p2.Row(0)};
  const auto planeFence = p1.Fence();
  ASSERT_EQ(OPCV(IPPMini_ippiRGBToYUV_8u_C3P3R)(rgb.Row(0), rgb.step(), planes, p0.step(), roi), 0);
  EXPECT_EQ(p1.Fence(), planeFence);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 23; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ((c == 0 ? p0 : c == 1 ? p1 : p2).Get<uint8_t>(x, y), yuv.Get<uint8_t>(x, y, c));
  Fenced merged(23, 7, 3);
  const auto mergedFence = merged.Fence();
  ASSERT_EQ(OPCV(IPPMini_ippiYUVToRGB_8u_P3C3R)(planes, p0.step(), merged.Row(0), merged.step(), roi), 0);
  EXPECT_EQ(cv::norm(View(back, 23, 7, CV_8UC3), View(merged, 23, 7, CV_8UC3), cv::NORM_INF), 0);
  EXPECT_EQ(merged.Fence(), mergedFence);
  ASSERT_EQ(OPCV(IPPMini_ippiCopy_8u_C3P3R)(rgb.Row(0), rgb.step(), planes, p0.step(), roi), 0);
  ASSERT_EQ(OPCV(IPPMini_ippiCopy_8u_P3C3R)(planes, p0.step(), merged.Row(0), merged.step(), roi), 0);
  EXPECT_EQ(cv::norm(View(rgb, 23, 7, CV_8UC3), View(merged, 23, 7, CV_8UC3), cv::NORM_INF), 0);
  for (int x = 0; x < 23; ++x) ASSERT_EQ(p2.Get<uint8_t>(x, 3), rgb.Get<uint8_t>(x, 3, 2));
  EXPECT_EQ(OPCV(IPPMini_ippiCopy_8u_P3C3R)(nullptr, p0.step(), merged.Row(0), merged.step(), roi), ippStsBadArgErr);
}

TEST(Further, MinMaxAndBoxOverAnchoredMasks) {
  struct Case {
    int w, h, ax, ay;
  };
  const IppiSize roi{19, 6};
  for (const Case& m : {Case{3, 3, 1, 1}, Case{4, 2, 0, 1}, Case{5, 3, 4, 0}, Case{1, 1, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << m.w << "x" << m.h << " anchor " << m.ax << "," << m.ay);
    const int aw = roi.width + 2 * (m.w / 2), ah = roi.height + 2 * (m.h / 2);
    for (bool max : {false, true}) {
      Fenced src(aw, ah, 1), dst(roi.width, roi.height, 1);
      const auto fence = dst.Fence();
      auto* f = max ? OPCV(IPPMini_ippiFilterMax_8u_C1R) : OPCV(IPPMini_ippiFilterMin_8u_C1R);
      ASSERT_EQ(f(src.At(m.ax, m.ay), src.step(), dst.Row(0), dst.step(), roi, {m.w, m.h}, {m.ax, m.ay}), 0);
      EXPECT_EQ(dst.Fence(), fence);
      for (int y = 0; y < roi.height; ++y)
        for (int x = 0; x < roi.width; ++x) {
          int best = max ? 0 : 255;
          for (int i = 0; i < m.h; ++i)
            for (int j = 0; j < m.w; ++j) {
              const int v = src.Get<uint8_t>(x + j, y + i);
              best = max ? std::max(best, v) : std::min(best, v);
            }
          ASSERT_EQ(dst.Get<uint8_t>(x, y), best);
        }
    }
    // Box mean in place over three channels: only the region changes.
    Fenced page(aw, ah, 3);
    const auto before = page.bytes();
    Fenced old(aw, ah, 3);
    old.bytes() = before;
    ASSERT_EQ(OPCV(IPPMini_ippiFilterBox_8u_C3IR)(page.At(m.ax, m.ay), page.step(), roi, {m.w, m.h}, {m.ax, m.ay}), 0);
    for (int y = 0; y < ah; ++y)
      for (int x = 0; x < aw; ++x)
        for (int c = 0; c < 3; ++c) {
          const int rx = x - m.ax, ry = y - m.ay;
          if (rx < 0 || ry < 0 || rx >= roi.width || ry >= roi.height) {
            ASSERT_EQ(page.Get<uint8_t>(x, y, c), old.Get<uint8_t>(x, y, c));
            continue;
          }
          double sum = 0;
          for (int i = 0; i < m.h; ++i)
            for (int j = 0; j < m.w; ++j) sum += old.Get<uint8_t>(rx + j, ry + i, c);
          ASSERT_NEAR(page.Get<uint8_t>(x, y, c), sum / (m.w * m.h), 1.0) << rx << "," << ry;
        }
    EXPECT_EQ(page.Fence(), old.Fence());
  }
  Fenced src(9, 9, 1), dst(9, 9, 1);
  EXPECT_EQ(
      OPCV(IPPMini_ippiFilterMedian_8u_C1R)(src.At(1, 1), src.step(), dst.Row(0), dst.step(), {7, 7}, {3, 3}, {1, 1}),
      0);
  EXPECT_EQ(
      OPCV(IPPMini_ippiFilterMedian_8u_C1R)(src.At(1, 1), src.step(), dst.Row(0), dst.step(), {7, 7}, {4, 4}, {1, 1}),
      ippStsBadArgErr);
}

TEST(Further, BilateralReadsTheAreaAroundTheRegion) {
  const IppiSize roi{31, 12};
  for (int k : {3, 5}) {
    const int r = k / 2;
    Fenced src(roi.width + 2 * r, roi.height + 2 * r, 1), dst(roi.width, roi.height, 1);
    const auto fence = dst.Fence();
    ASSERT_EQ(OPCV(OPCV_ippiFilterBilateral_8u_C1R)(src.At(r, r), src.step(), dst.Row(0), dst.step(), roi, {k, k},
                                                    400.0f, 9.0f),
              0);
    EXPECT_EQ(dst.Fence(), fence);
    cv::Mat ref;
    cv::bilateralFilter(View(src, roi.width + 2 * r, roi.height + 2 * r, CV_8UC1), ref, k, 20.0, 3.0,
                        cv::BORDER_REFLECT_101);
    EXPECT_EQ(
        cv::norm(ref(cv::Rect(r, r, roi.width, roi.height)), View(dst, roi.width, roi.height, CV_8UC1), cv::NORM_INF),
        0);
  }
  Fenced src(9, 9, 1), dst(9, 9, 1);
  const auto before = dst.bytes();
  EXPECT_EQ(
      OPCV(OPCV_ippiFilterBilateral_8u_C1R)(src.At(2, 2), src.step(), dst.Row(0), dst.step(), {4, 4}, {4, 4}, 1, 1),
      ippStsBadArgErr);
  EXPECT_EQ(dst.bytes(), before);
}

TEST(Further, NoiseReductionOfPlanesAndPages) {
  const int w = 40, h = 30;
  std::vector<uint8_t> plane(size_t(w) * h);
  for (auto& p : plane) p = uint8_t(Rng()() % 256);
  for (int mode : {1, 2}) {
    const int k = mode == 2 ? 5 : 3, b = k / 2;
    for (int strength : {0, 3}) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << " strength " << strength);
      std::vector<uint8_t> out(plane.size(), 77);
      ASSERT_EQ(OPCV(DeosNr)(plane.data(), out.data(), {w, h}, mode, strength), 0);
      const double sigma = std::sqrt(strength == 0 ? 1.0 : 96.0 * strength);
      cv::Mat ref;
      cv::bilateralFilter(cv::Mat(h, w, CV_8U, plane.data()), ref, k, sigma, sigma, cv::BORDER_REFLECT_101);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const bool border = x < b || y < b || x >= w - b || y >= h - b;
          ASSERT_EQ(out[size_t(y) * w + x], border ? 77 : ref.at<uint8_t>(y, x)) << x << "," << y;
        }
    }
  }
  // A page: each plane as DeosNr makes it, the border from the source.
  std::vector<uint8_t> page(size_t(w) * h * 3), out(page.size());
  for (auto& p : page) p = uint8_t(Rng()() % 256);
  ASSERT_EQ(OPCV(DeosNrRGB)(page.data(), out.data(), w, h, 2, 1), 0);
  for (int c = 0; c < 3; ++c) {
    std::vector<uint8_t> in(plane.size()), want(plane.size());
    for (size_t i = 0; i < in.size(); ++i) in[i] = page[3 * i + size_t(c)];
    want = in;
    ASSERT_EQ(OPCV(DeosNr)(in.data(), want.data(), {w, h}, 2, 1), 0);
    for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[3 * i + size_t(c)], want[i]) << "channel " << c;
  }
  EXPECT_EQ(OPCV(DeosNrRGB)(nullptr, out.data(), w, h, 2, 1), 1);
  EXPECT_EQ(OPCV(DeosNrRGB)(page.data(), nullptr, w, h, 2, 1), 2);
  EXPECT_EQ(OPCV(DeosNrRGB)(page.data(), out.data(), 0, h, 2, 1), 3);
  EXPECT_EQ(OPCV(DeosNr)(page.data(), out.data(), {4, 4}, 2, 1), ippStsBadArgErr);
}

TEST(Further, ConvolutionPerChannelAndMono) {
  const int w = 17, h = 11, r = 1;
  std::vector<uint8_t> page(size_t(w) * h * 3), out(page.size(), 0);
  for (auto& p : page) p = uint8_t(Rng()() % 128);
  // Kernels in the order third, second, first channel.
  float kernels[27] = {};
  kernels[4] = 2.0f;       // third channel doubled
  kernels[9 + 5] = 1.0f;   // second channel: the right neighbour...
  kernels[18 + 0] = 0.5f;  // first channel: half the pixel up and left...
  kernels[18 + 8] = 0.5f;  // ...plus half the pixel down and right
  ASSERT_TRUE(OPCV(Convolution24)(page.data(), out.data(), {w, h}, r, kernels));
  auto px = [&](const std::vector<uint8_t>& v, int x, int y, int c) { return int(v[(size_t(y) * w + x) * 3 + c]); };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (x < r || y < r || x >= w - r || y >= h - r) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(px(out, x, y, c), px(page, x, y, c));
        continue;
      }
      // Convolution turns the kernel: cell (i, j) weighs src(x + 1 - j, y + 1 - i).
      ASSERT_EQ(px(out, x, y, 2), 2 * px(page, x, y, 2));
      ASSERT_EQ(px(out, x, y, 1), px(page, x - 1, y, 1));
      ASSERT_NEAR(px(out, x, y, 0), (px(page, x + 1, y + 1, 0) + px(page, x - 1, y - 1, 0)) / 2.0, 1.0);
    }
  float blur[9];
  std::fill(blur, blur + 9, 1.0f / 9);
  ASSERT_TRUE(OPCV(Convolution24MonoFilter)(page.data(), out.data(), {w, h}, r, blur));
  for (int y = r; y < h - r; ++y)
    for (int x = r; x < w - r; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int i = -1; i <= 1; ++i)
          for (int j = -1; j <= 1; ++j) sum += px(page, x + j, y + i, c);
        ASSERT_NEAR(px(out, x, y, c), sum / 9, 1.0);
      }
  EXPECT_EQ(px(out, 0, 0, 1), px(page, 0, 0, 1));
  EXPECT_FALSE(OPCV(Convolution24)(page.data(), out.data(), {w, h}, r, nullptr));
  EXPECT_FALSE(OPCV(Convolution24MonoFilter)(page.data(), out.data(), {2, 2}, r, blur));
  EXPECT_FALSE(OPCV(Convolution24MonoFilter)(nullptr, out.data(), {w, h}, r, blur));
}

TEST(Further, ResizeAndFloatFilterOnThreeChannels) {
  Fenced src(30, 20, 3), dst(60, 30, 3);
  const auto fence = dst.Fence();
  ASSERT_EQ(OPCV(IPPMini_ippiResize_8u_C3R)(src.Row(0), {30, 20}, src.step(), {2, 3, 25, 15}, dst.Row(0), dst.step(),
                                            {60, 30}, 2.0, 2.0, 1),
            0);
  EXPECT_EQ(dst.Fence(), fence);
  cv::Mat ref;
  cv::resize(View(src, 30, 20, CV_8UC3)(cv::Rect(2, 3, 25, 15)), ref, cv::Size(), 2.0, 2.0, cv::INTER_LINEAR);
  EXPECT_EQ(cv::norm(ref, View(dst, 60, 30, CV_8UC3)(cv::Rect(0, 0, 50, 30)), cv::NORM_INF), 0);

  const float kernel[6] = {0.5f, 0.25f, 0, 0, 0.25f, 0};  // 3 wide, 2 high
  const IppiSize roi{13, 5};
  Fenced area(roi.width + 2, roi.height + 2, 3), out(roi.width, roi.height, 3);
  const auto outFence = out.Fence();
  // Anchor (2, 1): the area starts at (2 - 2, 1 - 2) from the region.
  ASSERT_EQ(OPCV(IPPMini_ippiFilter32f_8u_C3R)(area.At(0, 1), area.step(), out.Row(0), out.step(), roi, kernel, {3, 2},
                                               {2, 1}),
            0);
  EXPECT_EQ(out.Fence(), outFence);
  for (int y = 0; y < roi.height; ++y)
    for (int x = 0; x < roi.width; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int i = 0; i < 2; ++i)
          for (int j = 0; j < 3; ++j) sum += kernel[i * 3 + j] * area.Get<uint8_t>(x + 2 - j, y + 1 - i + 1, c);
        ASSERT_NEAR(out.Get<uint8_t>(x, y, c), sum, 1.0);
      }
}

TEST(Further, DctOfTheJoinedRows) {
  const int n = 4;
  std::vector<double> values(16);
  for (auto& v : values) v = double(Rng()() % 1000) / 10;
  std::vector<std::vector<double>> rows(n);
  double* ptrs[n];
  for (int i = 0; i < n; ++i) {
    rows[size_t(i)].assign(values.begin() + i * n, values.begin() + (i + 1) * n);
    ptrs[i] = rows[size_t(i)].data();
  }
  OPCV(ddct)(1, ptrs, n);
  cv::Mat want;
  cv::dct(cv::Mat(1, 16, CV_64F, values.data()), want);
  for (int i = 0; i < 16; ++i) ASSERT_NEAR(ptrs[i / n][i % n], want.at<double>(i), 1e-9);
  OPCV(ddct)(-1, ptrs, n);
  for (int i = 0; i < 16; ++i) ASSERT_NEAR(ptrs[i / n][i % n], values[size_t(i)], 1e-9);
  // Nine values: OpenCV takes only even lengths, and nothing changes.
  double odd[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  double* oddRows[3] = {odd[0], odd[1], odd[2]};
  OPCV(ddct)(1, oddRows, 3);
  EXPECT_EQ(odd[2][2], 9);
}

TEST(Further, MallocRoundsThreeChannelRowsTo64Bytes) {
  int step = 0;
  Ipp8u* p = OPCV(IPPMini_ippiMalloc_8u_C3)(22, 2, &step);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(step, 128);
  p[2 * step - 1] = 1;
  OPCV(IPPMini_ippiFree)(p);
  EXPECT_EQ(OPCV(IPPMini_ippiMalloc_8u_C3)(-1, 2, &step), nullptr);
  EXPECT_EQ(OPCV(IPPMini_ippStaticInit)(), 0);
}
