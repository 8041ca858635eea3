// The primitives as the binarization and orientation units reach them: bound
// by name from the staged library, each held against a plain loop written
// from its formula, on random pixels with a fence around source and
// destination.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "imageops_test_util.h"

using namespace imageops_test;

namespace {

struct MaskCase {
  int w, h, ax, ay;
};
const MaskCase kMasks[] = {{3, 3, 1, 1}, {5, 3, 0, 2}, {4, 4, 3, 0}, {1, 5, 0, 4}, {2, 2, 0, 0}, {7, 1, 6, 0}};
const IppiSize kRois[] = {{37, 11}, {1, 1}, {64, 3}};

// A source area of roi plus the reach of a mask, the region lying at
// (offX, offY) inside it, and a fenced destination.
struct Scene {
  Scene(IppiSize roi, int areaW, int areaH, int offX, int offY, int cell, int dstCell = -1)
      : roi(roi),
        src(areaW, areaH, cell),
        dst(roi.width, roi.height, dstCell < 0 ? cell : dstCell),
        offX(offX),
        offY(offY),
        fence(dst.Fence()),
        srcBefore(src.bytes()) {}
  const uint8_t* In() { return src.At(offX, offY); }
  // Source pixel relative to the region; fails the test outside the area.
  template <class T = uint8_t>
  T S(int x, int y, int c = 0) {
    const int ax = x + offX, ay = y + offY;
    EXPECT_TRUE(ax >= 0 && ay >= 0 && ax < areaW() && ay < areaH()) << "formula reads outside the area";
    return src.Get<T>(std::clamp(ax, 0, areaW() - 1), std::clamp(ay, 0, areaH() - 1), c);
  }
  int areaW() const { return roi.width + reachX; }
  int areaH() const { return roi.height + reachY; }
  void ExpectFencesIntact() {
    EXPECT_EQ(dst.Fence(), fence) << "wrote outside the destination region";
    EXPECT_EQ(src.bytes(), srcBefore) << "changed the source";
  }
  IppiSize roi;
  Fenced src, dst;
  int offX, offY, reachX = 0, reachY = 0;
  std::vector<uint8_t> fence, srcBefore;
};

Scene MaskScene(IppiSize roi, int mw, int mh, int offX, int offY, int cell, int dstCell = -1) {
  Scene s(roi, roi.width + 2 * (mw / 2), roi.height + 2 * (mh / 2), offX, offY, cell, dstCell);
  s.reachX = 2 * (mw / 2);
  s.reachY = 2 * (mh / 2);
  return s;
}

}  // namespace

TEST(Primitives, UnitsFindEveryNameTheyRequire) {
  ASSERT_NE(Lib().handle(), nullptr) << dlerror();
  for (const char* name :
       {"IPPShare_ippiConvert_8u16s_C1R", "IPPShare_ippiDilate_8u_C1R", "IPPShare_ippiErode_8u_C1R",
        "IPPShare_ippiFilter_16s_C1R", "IPPShare_ippiFilter_8u_C1R", "IPPShare_ippiFilterMedian_8u_C1R",
        "IPPShare_ippiFilterMedian_8u_C3R", "IPPShare_ippiFilterMedianColor_8u_C3R",
        "IPPShare_ippiFilterMedianCross_8u_C1R", "IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R",
        "OPCV_ippiResizeSqrPixel_8u_C1R", "IPPShare_ippiSet_8u_C1R", "IPPShare_ippiThreshold_LTVal_16s_C1IR",
        "IPPShare_ippiThreshold_LTVal_8u_C1IR", "OPCV_cblas_sgemm", "IPPShare_ippiFree"})
    EXPECT_NE(Lib().Find(name), nullptr) << name;
  EXPECT_EQ(Lib().Find("IPPShare_ippsMalloc_8u"), nullptr);
}

TEST(Primitives, DilateAndErodeTakeTheExtremeOfTheMaskCells) {
  std::uniform_int_distribution<int> bit(0, 2);
  for (bool dilate : {true, false})
    for (const auto& m : kMasks)
      for (const auto& roi : kRois) {
        SCOPED_TRACE(testing::Message() << (dilate ? "dilate " : "erode ") << m.w << "x" << m.h << " anchor " << m.ax
                                        << "," << m.ay << " roi " << roi.width << "x" << roi.height);
        std::vector<uint8_t> mask(size_t(m.w) * m.h);
        for (auto& c : mask) c = uint8_t(bit(Rng()) ? 1 : 0);
        mask[size_t(m.ay) * m.w + m.ax] = 1;
        Scene s = MaskScene(roi, m.w, m.h, m.ax, m.ay, 1);
        auto* f = dilate ? OPCV(IPPShare_ippiDilate_8u_C1R) : OPCV(IPPShare_ippiErode_8u_C1R);
        ASSERT_EQ(f(s.In(), s.src.step(), s.dst.Row(0), s.dst.step(), roi, mask.data(), {m.w, m.h}, {m.ax, m.ay}), 0);
        for (int y = 0; y < roi.height; ++y)
          for (int x = 0; x < roi.width; ++x) {
            int best = dilate ? 0 : 255;
            for (int i = 0; i < m.h; ++i)
              for (int j = 0; j < m.w; ++j)
                if (mask[size_t(i) * m.w + j]) {
                  const int v = s.S(x - m.ax + j, y - m.ay + i);
                  best = dilate ? std::max(best, v) : std::min(best, v);
                }
            ASSERT_EQ(s.dst.Get<uint8_t>(x, y), best) << x << "," << y;
          }
        s.ExpectFencesIntact();
      }
}

TEST(Primitives, MedianOfTheAnchoredWindowPerChannel) {
  const MaskCase masks[] = {{3, 3, 1, 1}, {3, 3, 0, 2}, {5, 5, 4, 1}, {7, 7, 3, 3}, {1, 1, 0, 0}};
  for (int channels : {1, 3})
    for (const auto& m : masks)
      for (const auto& roi : kRois) {
        SCOPED_TRACE(testing::Message() << "C" << channels << " " << m.w << " anchor " << m.ax << "," << m.ay);
        Scene s = MaskScene(roi, m.w, m.h, m.ax, m.ay, channels);
        auto* f = channels == 1 ? OPCV(IPPShare_ippiFilterMedian_8u_C1R) : OPCV(IPPShare_ippiFilterMedian_8u_C3R);
        ASSERT_EQ(f(s.In(), s.src.step(), s.dst.Row(0), s.dst.step(), roi, {m.w, m.h}, {m.ax, m.ay}), 0);
        for (int y = 0; y < roi.height; ++y)
          for (int x = 0; x < roi.width; ++x)
            for (int c = 0; c < channels; ++c) {
              std::vector<int> v;
              for (int i = 0; i < m.h; ++i)
                for (int j = 0; j < m.w; ++j) v.push_back(s.S(x - m.ax + j, y - m.ay + i, c));
              std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
              ASSERT_EQ(s.dst.Get<uint8_t>(x, y, c), v[v.size() / 2]) << x << "," << y << "," << c;
            }
        s.ExpectFencesIntact();
      }
}

TEST(Primitives, MedianOverAPageSizedRegionReadsTheWholeArea) {
  // The frame along the edges is made apart from the rest: no seam may show.
  const IppiSize roi{301, 3001};
  Scene s = MaskScene(roi, 5, 5, 2, 2, 1);
  ASSERT_EQ(
      OPCV(IPPShare_ippiFilterMedian_8u_C1R)(s.In(), s.src.step(), s.dst.Row(0), s.dst.step(), roi, {5, 5}, {2, 2}), 0);
  cv::Mat area(s.areaH(), s.areaW(), CV_8U, s.src.Row(0), s.src.step()), ref;
  cv::medianBlur(area, ref, 5);
  for (int y = 0; y < roi.height; ++y)
    ASSERT_EQ(std::memcmp(s.dst.Row(y), ref.ptr(y + 2) + 2, size_t(roi.width)), 0) << "row " << y;
  s.ExpectFencesIntact();
}

namespace {

template <class T>
void CheckFilter(int channels, decltype(&IPPShare_ippiFilter_8u_C1R) f8, decltype(&IPPShare_ippiFilter_16s_C1R) f16) {
  const MaskCase kernels[] = {{3, 1, 1, 0}, {3, 3, 0, 2}, {5, 5, 2, 2}, {4, 2, 3, 1}, {2, 3, 0, 0}, {1, 1, 0, 0}};
  std::uniform_int_distribution<int> coef(-9, 9);
  for (const auto& k : kernels)
    for (int divisor : {1, 3, 16, -2})
      for (const auto& roi : kRois) {
        SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " anchor " << k.ax << "," << k.ay << " div "
                                        << divisor);
        std::vector<int32_t> kernel(size_t(k.w) * k.h);
        for (auto& c : kernel) c = coef(Rng());
        const int hw = k.w / 2, hh = k.h / 2;
        Scene s = MaskScene(roi, k.w, k.h, 2 * hw - k.ax, 2 * hh - k.ay, channels * int(sizeof(T)));
        if (sizeof(T) == 2)  // keep 16-bit sums mostly inside their range
          for (int y = 0; y < s.areaH(); ++y)
            for (int x = 0; x < s.areaW(); ++x) {
              int16_t v = int16_t((s.src.Get<int16_t>(x, y) % 2000));
              std::memcpy(s.src.At(x, y), &v, 2);
            }
        s.srcBefore = s.src.bytes();
        const IppStatus st =
            f8 ? f8(s.In(), s.src.step(), s.dst.Row(0), s.dst.step(), roi, kernel.data(), {k.w, k.h}, {k.ax, k.ay},
                    divisor)
               : f16(reinterpret_cast<const int16_t*>(s.In()), s.src.step(), reinterpret_cast<int16_t*>(s.dst.Row(0)),
                     s.dst.step(), roi, kernel.data(), {k.w, k.h}, {k.ax, k.ay}, divisor);
        ASSERT_EQ(st, 0);
        for (int y = 0; y < roi.height; ++y)
          for (int x = 0; x < roi.width; ++x)
            for (int c = 0; c < channels; ++c) {
              double sum = 0;
              for (int i = 0; i < k.h; ++i)
                for (int j = 0; j < k.w; ++j)
                  sum += kernel[size_t(i) * k.w + j] * double(s.S<T>(x + k.ax - j, y + k.ay - i, c));
              const double want = std::clamp(std::round(sum / divisor), double(std::numeric_limits<T>::min()),
                                             double(std::numeric_limits<T>::max()));
              T got;
              std::memcpy(&got, s.dst.Row(y) + (size_t(x) * channels + c) * sizeof(T), sizeof(T));
              ASSERT_NEAR(got, want, 1) << x << "," << y << "," << c;
            }
        s.ExpectFencesIntact();
      }
}

}  // namespace

TEST(Primitives, FilterTurnsTheKernelAndDivides) {
  CheckFilter<uint8_t>(1, OPCV(IPPShare_ippiFilter_8u_C1R), nullptr);
  CheckFilter<uint8_t>(3, OPCV(IPPShare_ippiFilter_8u_C3R), nullptr);
  CheckFilter<int16_t>(1, nullptr, OPCV(IPPShare_ippiFilter_16s_C1R));
}

TEST(Primitives, FilterKernelOfThreeWithAnchorOne) {
  // dst(x) = (src(x+1) + 2 src(x) + 3 src(x-1)) / divisor
  const uint8_t src[] = {10, 20, 30, 40, 50};
  uint8_t dst[3] = {};
  const int32_t kernel[] = {1, 2, 3};
  ASSERT_EQ(OPCV(IPPShare_ippiFilter_8u_C1R)(src + 1, 5, dst, 3, {3, 1}, kernel, {3, 1}, {1, 0}, 2), 0);
  EXPECT_EQ(dst[0], (30 + 2 * 20 + 3 * 10) / 2);
  EXPECT_EQ(dst[2], (50 + 2 * 40 + 3 * 30) / 2);
}

TEST(Primitives, CrossWeightedAndColourMedians) {
  for (const auto& roi : kRois) {
    for (int mask : {33, 55}) {
      const int r = mask == 33 ? 1 : 2;
      Scene s = MaskScene(roi, 2 * r + 1, 2 * r + 1, r, r, 1);
      ASSERT_EQ(OPCV(IPPShare_ippiFilterMedianCross_8u_C1R)(s.In(), s.src.step(), s.dst.Row(0), s.dst.step(), roi,
                                                            IppiMaskSize(mask)),
                0);
      for (int y = 0; y < roi.height; ++y)
        for (int x = 0; x < roi.width; ++x) {
          std::vector<int> v{s.S(x, y)};
          for (int k = 1; k <= r; ++k)
            for (int p : {s.S(x - k, y), s.S(x + k, y), s.S(x, y - k), s.S(x, y + k)}) v.push_back(p);
          std::sort(v.begin(), v.end());
          ASSERT_EQ(s.dst.Get<uint8_t>(x, y), v[v.size() / 2]);
        }
      s.ExpectFencesIntact();
    }
    for (int weight : {3, 5}) {
      Scene s = MaskScene(roi, 3, 3, 1, 1, 1);
      ASSERT_EQ(OPCV(IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R)(s.In(), s.src.step(), s.dst.Row(0),
                                                                        s.dst.step(), roi, weight),
                0);
      for (int y = 0; y < roi.height; ++y)
        for (int x = 0; x < roi.width; ++x) {
          std::vector<int> v(size_t(weight - 1), s.S(x, y));
          for (int i = -1; i <= 1; ++i)
            for (int j = -1; j <= 1; ++j) v.push_back(s.S(x + j, y + i));
          std::sort(v.begin(), v.end());
          ASSERT_EQ(s.dst.Get<uint8_t>(x, y), v[v.size() / 2]);
        }
      s.ExpectFencesIntact();
    }
    // Both windows: the 3 x 3 of the orientation unit's card cleaning and
    // the 5 x 5 of the colour smoothing's background removal.
    for (int mask : {33, 55}) {
      const int r = mask == 33 ? 1 : 2, side = 2 * r + 1;
      Scene s = MaskScene(roi, side, side, r, r, 3);
      ASSERT_EQ(OPCV(IPPShare_ippiFilterMedianColor_8u_C3R)(s.In(), s.src.step(), s.dst.Row(0), s.dst.step(), roi,
                                                            IppiMaskSize(mask)),
                0);
      for (int y = 0; y < roi.height; ++y)
        for (int x = 0; x < roi.width; ++x) {
          int best = 0, bestSum = 1 << 30;
          for (int a = 0; a < side * side; ++a) {
            int sum = 0;
            for (int b = 0; b < side * side; ++b)
              for (int c = 0; c < 3; ++c)
                sum +=
                    std::abs(s.S(x + a % side - r, y + a / side - r, c) - s.S(x + b % side - r, y + b / side - r, c));
            if (sum < bestSum) bestSum = sum, best = a;
          }
          for (int c = 0; c < 3; ++c)
            ASSERT_EQ(s.dst.Get<uint8_t>(x, y, c), s.S(x + best % side - r, y + best / side - r, c));
        }
      s.ExpectFencesIntact();
    }
  }
}

TEST(Primitives, ConvertSetAndThresholdStayInTheRegion) {
  for (const auto& roi : kRois) {
    Scene up(roi, roi.width, roi.height, 0, 0, 1, 2);
    ASSERT_EQ(OPCV(IPPShare_ippiConvert_8u16s_C1R)(up.In(), up.src.step(), reinterpret_cast<int16_t*>(up.dst.Row(0)),
                                                   up.dst.step(), roi),
              0);
    Scene down(roi, roi.width, roi.height, 0, 0, 2, 1);
    ASSERT_EQ(OPCV(IPPShare_ippiConvert_16s8u_C1R)(reinterpret_cast<const int16_t*>(down.In()), down.src.step(),
                                                   down.dst.Row(0), down.dst.step(), roi),
              0);
    for (int y = 0; y < roi.height; ++y)
      for (int x = 0; x < roi.width; ++x) {
        ASSERT_EQ(up.dst.Get<int16_t>(x, y), up.S(x, y));
        ASSERT_EQ(down.dst.Get<uint8_t>(x, y), std::clamp<int>(down.S<int16_t>(x, y), 0, 255));
      }
    up.ExpectFencesIntact();
    down.ExpectFencesIntact();

    Fenced page(roi.width, roi.height, 1);
    const auto fence = page.Fence();
    ASSERT_EQ(OPCV(IPPShare_ippiSet_8u_C1R)(7, page.Row(0), page.step(), roi), 0);
    for (int y = 0; y < roi.height; ++y) ASSERT_EQ(std::count(page.Row(y), page.Row(y) + roi.width, 7), roi.width);
    EXPECT_EQ(page.Fence(), fence);
  }
  // Less than or equal, unsigned for 8 bits, signed for 16.
  struct Case {
    int threshold, value;
  };
  for (const Case& c : {Case{0, 9}, Case{255, 1}, Case{100, 200}}) {
    Fenced page(29, 5, 1);
    const auto before = page.bytes();
    const auto fence = page.Fence();
    ASSERT_EQ(OPCV(IPPShare_ippiThreshold_LTVal_8u_C1IR)(page.Row(0), page.step(), {29, 5}, uint8_t(c.threshold),
                                                         uint8_t(c.value)),
              0);
    EXPECT_EQ(page.Fence(), fence);
    Fenced ref(29, 5, 1);
    ref.bytes() = before;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 29; ++x) {
        const int v = ref.Get<uint8_t>(x, y);
        ASSERT_EQ(page.Get<uint8_t>(x, y), v <= c.threshold ? c.value : v);
      }
  }
  for (const Case& c : {Case{-100, 5}, Case{0, -1}, Case{30000, 0}}) {
    Fenced page(17, 4, 2);
    const auto fence = page.Fence();
    const auto before = page.bytes();
    ASSERT_EQ(OPCV(IPPShare_ippiThreshold_LTVal_16s_C1IR)(reinterpret_cast<int16_t*>(page.Row(0)), page.step(), {17, 4},
                                                          int16_t(c.threshold), int16_t(c.value)),
              0);
    EXPECT_EQ(page.Fence(), fence);
    Fenced ref(17, 4, 2);
    ref.bytes() = before;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 17; ++x) {
        const int v = ref.Get<int16_t>(x, y);
        ASSERT_EQ(page.Get<int16_t>(x, y), v <= c.threshold ? c.value : v);
      }
  }
}

TEST(Primitives, BitsToBytesAndBack) {
  for (int offset = 0; offset < 8; ++offset)
    for (int width : {1, 9, 30}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " width " << width);
      const int bytes = (offset + width + 7) / 8;
      Fenced bits(bytes, 3, 1);
      Fenced grey(width, 3, 1);
      auto fence = grey.Fence();
      ASSERT_EQ(
          OPCV(IPPShare_ippiConvert_1u8u_C1R)(bits.Row(0), bits.step(), offset, grey.Row(0), grey.step(), {width, 3}),
          0);
      EXPECT_EQ(grey.Fence(), fence);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < width; ++x) {
          const int bit = offset + x;
          ASSERT_EQ(grey.Get<uint8_t>(x, y), (bits.Get<uint8_t>(bit / 8, y) >> (7 - bit % 8)) & 1 ? 255 : 0);
        }
      // Back to bits: the ones of the region come back, the other bits stay.
      Fenced again(bytes, 3, 1);
      const auto before = again.bytes();
      fence = again.Fence();
      ASSERT_EQ(OPCV(IPPShare_ippiReduceBits_8u1u_C1R)(grey.Row(0), grey.step(), again.Row(0), again.step(), offset,
                                                       {width, 3}, 0, 0, 0, 127),
                0);
      EXPECT_EQ(again.Fence(), fence);
      Fenced old(bytes, 3, 1);
      old.bytes() = before;
      for (int y = 0; y < 3; ++y)
        for (int b = 0; b < bytes * 8; ++b) {
          const bool inside = b >= offset && b < offset + width;
          const auto bitOf = [&](const Fenced& f) { return (f.Get<uint8_t>(b / 8, y) >> (7 - b % 8)) & 1; };
          ASSERT_EQ(bitOf(again), inside ? bitOf(bits) : bitOf(old)) << "bit " << b;
        }
    }
}

TEST(Primitives, ResizeMatchesOpenCVInsideBothRegions) {
  struct Case {
    IppiRect srcRoi, dstRoi;
    double fx, fy;
  };
  const Case cases[] = {{{3, 2, 41, 23}, {1, 2, 200, 100}, 1.5, 2.0},
                        {{0, 0, 61, 40}, {0, 0, 30, 20}, 0.5, 0.5},
                        {{5, 7, 33, 17}, {4, 1, 20, 9}, 0.75, 0.6},    // result clipped to the region
                        {{0, 0, 64, 41}, {2, 3, 128, 82}, 2.0, 2.0}};  // exactly filled
  for (const auto& c : cases) {
    Fenced src(70, 50, 1);
    Fenced dst(240, 120, 1, 6, 13, 0x5a);
    const auto before = dst.bytes();
    ASSERT_EQ(OPCV(OPCV_ippiResizeSqrPixel_8u_C1R)(src.Row(0), {70, 50}, src.step(), c.srcRoi, dst.Row(0), dst.step(),
                                                   c.dstRoi, c.fx, c.fy, 0, 0, 1, nullptr),
              0);
    cv::Mat in(50, 70, CV_8U, src.Row(0), src.step()), ref;
    cv::resize(in(cv::Rect(c.srcRoi.x, c.srcRoi.y, c.srcRoi.width, c.srcRoi.height)), ref, cv::Size(), c.fx, c.fy,
               cv::INTER_LINEAR);
    Fenced old(240, 120, 1);
    old.bytes() = before;
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 240; ++x) {
        const int rx = x - c.dstRoi.x, ry = y - c.dstRoi.y;
        const bool inside =
            rx >= 0 && ry >= 0 && rx < std::min(c.dstRoi.width, ref.cols) && ry < std::min(c.dstRoi.height, ref.rows);
        ASSERT_EQ(dst.Get<uint8_t>(x, y), inside ? ref.at<uint8_t>(ry, rx) : old.Get<uint8_t>(x, y)) << x << "," << y;
      }
    EXPECT_EQ(dst.Fence(), old.Fence());
  }
}

TEST(Primitives, ResizeShiftsMoveOrDropTheResult) {
  struct Case {
    double xs, ys;
    int dropX, dropY, moveX, moveY;
  };
  const Case cases[] = {{-2.4, 0, 2, 0, 0, 0}, {0, -1.6, 0, 2, 0, 0}, {3.2, 0, 0, 0, 3, 0}, {1.5, -3.0, 0, 3, 2, 0}};
  Fenced src(20, 10, 1);
  cv::Mat ref;
  cv::resize(cv::Mat(10, 20, CV_8U, src.Row(0), src.step()), ref, cv::Size(), 2.0, 2.0, cv::INTER_LINEAR);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.xs << "," << c.ys);
    Fenced dst(40, 20, 1, 6, 13, 0);
    for (int y = 0; y < 20; ++y) std::memset(dst.Row(y), 0, 40);
    ASSERT_EQ(OPCV(OPCV_ippiResizeSqrPixel_8u_C1R)(src.Row(0), {20, 10}, src.step(), {0, 0, 20, 10}, dst.Row(0),
                                                   dst.step(), {0, 0, 40, 20}, 2.0, 2.0, c.xs, c.ys, 1, nullptr),
              0);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 40; ++x) {
        const int rx = x - c.moveX + c.dropX, ry = y - c.moveY + c.dropY;
        const bool inside = x >= c.moveX && y >= c.moveY && rx < 40 && ry < 20;
        ASSERT_EQ(dst.Get<uint8_t>(x, y), inside ? ref.at<uint8_t>(ry, rx) : 0) << x << "," << y;
      }
  }
}

TEST(Primitives, SgemmEveryOrderAndTransposition) {
  const int M = 5, N = 7, K = 3;
  std::uniform_real_distribution<float> d(-2, 2);
  for (int order : {CblasRowMajor, CblasColMajor})
    for (int ta : {CblasNoTrans, CblasTrans})
      for (int tb : {CblasNoTrans, CblasTrans})
        for (float beta : {0.0f, 0.5f}) {
          SCOPED_TRACE(testing::Message() << order << " " << ta << " " << tb << " beta " << beta);
          // Element (r, c) of a stored matrix of the given layout.
          const bool row = order == CblasRowMajor;
          auto idx = [&](int r, int c, int ld) { return row ? size_t(r) * ld + c : size_t(c) * ld + r; };
          const int aRows = ta == CblasTrans ? K : M, aCols = ta == CblasTrans ? M : K;
          const int bRows = tb == CblasTrans ? N : K, bCols = tb == CblasTrans ? K : N;
          const int lda = (row ? aCols : aRows) + 3, ldb = (row ? bCols : bRows) + 2, ldc = (row ? N : M) + 4;
          std::vector<float> A(size_t(lda) * 8), B(size_t(ldb) * 8), C(size_t(ldc) * 8);
          for (auto* v : {&A, &B, &C})
            for (auto& x : *v) x = d(Rng());
          std::vector<float> want = C;
          for (int i = 0; i < M; ++i)
            for (int j = 0; j < N; ++j) {
              double s = 0;
              for (int k = 0; k < K; ++k)
                s += double(ta == CblasTrans ? A[idx(k, i, lda)] : A[idx(i, k, lda)]) *
                     (tb == CblasTrans ? B[idx(j, k, ldb)] : B[idx(k, j, ldb)]);
              want[idx(i, j, ldc)] = float(1.5 * s + beta * C[idx(i, j, ldc)]);
            }
          OPCV(OPCV_cblas_sgemm)(order, ta, tb, M, N, K, 1.5f, A.data(), lda, B.data(), ldb, beta, C.data(), ldc);
          for (size_t i = 0; i < C.size(); ++i) ASSERT_NEAR(C[i], want[i], 1e-4) << i;
        }
  // Null operands: nothing happens.
  float c = 3;
  OPCV(OPCV_cblas_sgemm)(CblasRowMajor, CblasNoTrans, CblasNoTrans, 1, 1, 1, 1, nullptr, 1, &c, 1, 0, &c, 1);
  EXPECT_EQ(c, 3);
}

// The convolution layers' call (C += A B, few rows) gives OpenCV's gemm to
// the bit: on plain, rectified and cancelling values (terms of 2^60 that
// cancel beside terms of 2^-20 show any other order of the sums, or sums in
// floats), with padded rows and on the small shapes gemm treats apart.
TEST(Primitives, SgemmOfFewRowsIsOpenCVsGemmToTheBit) {
  struct Shape {
    int m, k, n;
  } shapes[] = {{8, 9, 1701},    {16, 72, 400},  {32, 144, 100}, {32, 288, 45},
                {64, 576, 1300}, {99, 300, 300}, {1, 640, 25},   {5, 9, 2}};
  std::uniform_real_distribution<float> value(-1, 1);
  std::uniform_int_distribution<int> pick(0, 3);
  // Every shape up to 7 x 7 x 7 as well: gemm has paths of its own there.
  std::vector<Shape> all(std::begin(shapes), std::end(shapes));
  for (int m = 1; m <= 7; ++m)
    for (int k = 1; k <= 7; ++k)
      for (int n = 1; n <= 7; ++n) all.push_back({m, k, n});
  for (const Shape& s : all)
    for (int kind = 0; kind < 3; ++kind)
      for (int pad : {0, 3}) {
        SCOPED_TRACE(testing::Message() << s.m << "x" << s.k << "x" << s.n << " kind " << kind << " pad " << pad);
        auto fill = [&](cv::Mat& m) {
          for (int y = 0; y < m.rows; ++y)
            for (int x = 0; x < m.cols; ++x) {
              const int r = pick(Rng());
              float& v = m.at<float>(y, x);
              v = kind == 2 ? (r == 0   ? std::ldexp(1.0f, 60)
                               : r == 1 ? -std::ldexp(1.0f, 60)
                                        : (r - 2.5f) * std::ldexp(1.0f, -20))
                            : value(Rng());
              if (kind == 1) v = r < 2 ? 0.0f : std::abs(v);
            }
        };
        cv::Mat a(s.m, s.k + pad, CV_32F), b(s.k, s.n + pad, CV_32F), c(s.m, s.n + pad, CV_32F);
        fill(a), fill(b), fill(c);
        cv::Mat want = c.clone(), got = c.clone();
        cv::Mat wantView = want.colRange(0, s.n);
        cv::gemm(a.colRange(0, s.k), b.colRange(0, s.n), 1.0, wantView, 1.0, wantView);
        OPCV(OPCV_cblas_sgemm)
        (CblasRowMajor, CblasNoTrans, CblasNoTrans, s.m, s.n, s.k, 1.0f, a.ptr<float>(), s.k + pad, b.ptr<float>(),
         s.n + pad, 1.0f, got.ptr<float>(), s.n + pad);
        ASSERT_EQ(std::memcmp(want.data, got.data, want.total() * sizeof(float)), 0);
      }
}

TEST(Primitives, ArgumentFaultsBeforeAnyWrite) {
  Fenced src(40, 20, 1), dst(40, 20, 1), bits(5, 20, 1);
  const auto before = dst.bytes();
  const uint8_t* s = src.At(4, 4);
  uint8_t* d = dst.At(4, 4);
  const int ss = src.step(), ds = dst.step();
  const uint8_t mask[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  const int32_t kernel[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  struct Case {
    const char* what;
    std::function<IppStatus()> call;
  };
  const Case cases[] = {
      {"median 4x4",
       [&] {
         return OPCV(IPPShare_ippiFilterMedian_8u_C1R)(s, ss, d, ds, {8, 8}, {4, 4}, {1, 1});
       }},
      {"median 3x5",
       [&] {
         return OPCV(IPPShare_ippiFilterMedian_8u_C1R)(s, ss, d, ds, {8, 8}, {3, 5}, {1, 1});
       }},
      {"median C3 null src",
       [&] {
         return OPCV(IPPShare_ippiFilterMedian_8u_C3R)(nullptr, ss, d, ds, {4, 4}, {3, 3}, {1, 1});
       }},
      {"colour median 44",
       [&] {
         return OPCV(IPPShare_ippiFilterMedianColor_8u_C3R)(s, ss, d, ds, {4, 4}, IppiMaskSize(44));
       }},
      {"colour median step",
       [&] {
         return OPCV(IPPShare_ippiFilterMedianColor_8u_C3R)(s, ss, d, 11, {4, 4}, ippMskSize3x3);
       }},
      {"cross median 44",
       [&] {
         return OPCV(IPPShare_ippiFilterMedianCross_8u_C1R)(s, ss, d, ds, {8, 8}, IppiMaskSize(44));
       }},
      {"cross median null dst",
       [&] {
         return OPCV(IPPShare_ippiFilterMedianCross_8u_C1R)(s, ss, nullptr, ds, {8, 8}, ippMskSize3x3);
       }},
      {"weight 4",
       [&] {
         return OPCV(IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R)(s, ss, d, ds, {8, 8}, 4);
       }},
      {"divisor 0",
       [&] {
         return OPCV(IPPShare_ippiFilter_8u_C1R)(s, ss, d, ds, {8, 8}, kernel, {3, 3}, {1, 1}, 0);
       }},
      {"filter null kernel",
       [&] {
         return OPCV(IPPShare_ippiFilter_8u_C1R)(s, ss, d, ds, {8, 8}, nullptr, {3, 3}, {1, 1}, 1);
       }},
      {"dilate null src",
       [&] {
         return OPCV(IPPShare_ippiDilate_8u_C1R)(nullptr, ss, d, ds, {8, 8}, mask, {3, 3}, {1, 1});
       }},
      {"erode roi height 0",
       [&] {
         return OPCV(IPPShare_ippiErode_8u_C1R)(s, ss, d, ds, {8, 0}, mask, {3, 3}, {1, 1});
       }},
      {"erode src step below area",
       [&] {
         return OPCV(IPPShare_ippiErode_8u_C1R)(s, 9, d, ds, {8, 8}, mask, {3, 3}, {1, 1});
       }},
      {"convert dst step below width",
       [&] {
         return OPCV(IPPShare_ippiConvert_8u16s_C1R)(s, ss, reinterpret_cast<int16_t*>(d), 15, {8, 8});
       }},
      {"set roi height 0",
       [&] {
         return OPCV(IPPShare_ippiSet_8u_C1R)(1, d, ds, {8, 0});
       }},
      {"set step below width",
       [&] {
         return OPCV(IPPShare_ippiSet_8u_C1R)(1, d, 7, {8, 2});
       }},
      {"set null",
       [&] {
         return OPCV(IPPShare_ippiSet_8u_C1R)(1, nullptr, ds, {8, 2});
       }},
      {"threshold 16s step",
       [&] {
         return OPCV(IPPShare_ippiThreshold_LTVal_16s_C1IR)(reinterpret_cast<int16_t*>(d), 15, {8, 2}, 0, 0);
       }},
      {"threshold 8u width 0",
       [&] {
         return OPCV(IPPShare_ippiThreshold_LTVal_8u_C1IR)(d, ds, {0, 2}, 0, 0);
       }},
      {"bit offset 8",
       [&] {
         return OPCV(IPPShare_ippiConvert_1u8u_C1R)(bits.Row(0), bits.step(), 8, d, ds, {8, 2});
       }},
      {"reduce bit offset 8",
       [&] {
         return OPCV(IPPShare_ippiReduceBits_8u1u_C1R)(s, ss, d, ds, 8, {8, 2}, 0, 0, 0, 127);
       }},
      {"bits step short",
       [&] {
         return OPCV(IPPShare_ippiConvert_1u8u_C1R)(bits.Row(0), 1, 3, d, ds, {8, 2});
       }},
      {"resize roi wider than source",
       [&] {
         return OPCV(OPCV_ippiResizeSqrPixel_8u_C1R)(src.Row(0), {40, 20}, ss, {0, 0, 41, 20}, dst.Row(0), ds,
                                                     {0, 0, 10, 10}, 1, 1, 0, 0, 1, nullptr);
       }},
      {"resize roi origin outside",
       [&] {
         return OPCV(OPCV_ippiResizeSqrPixel_8u_C1R)(src.Row(0), {40, 20}, ss, {30, 0, 20, 20}, dst.Row(0), ds,
                                                     {0, 0, 10, 10}, 1, 1, 0, 0, 1, nullptr);
       }},
      {"resize negative origin",
       [&] {
         return OPCV(OPCV_ippiResizeSqrPixel_8u_C1R)(src.Row(0), {40, 20}, ss, {-1, 0, 20, 20}, dst.Row(0), ds,
                                                     {0, 0, 10, 10}, 1, 1, 0, 0, 1, nullptr);
       }},
      {"resize factor 0",
       [&] {
         return OPCV(OPCV_ippiResizeSqrPixel_8u_C1R)(src.Row(0), {40, 20}, ss, {0, 0, 20, 20}, dst.Row(0), ds,
                                                     {0, 0, 10, 10}, 0, 1, 0, 0, 1, nullptr);
       }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(), ippStsBadArgErr) << c.what;
    EXPECT_EQ(dst.bytes(), before) << c.what;
  }
}

TEST(Primitives, MallocRoundsRowsTo64Bytes) {
  int step = 0;
  int16_t* p = OPCV(IPPShare_ippiMalloc_16s_C1)(33, 3, &step);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(step, 128);
  p[0] = p[step / 2 * 3 - 1] = 1;
  OPCV(IPPShare_ippiFree)(p);
  EXPECT_EQ(OPCV(IPPShare_ippiMalloc_16s_C1)(0, 3, &step), nullptr);
  EXPECT_EQ(OPCV(IPPShare_ippiMalloc_16s_C1)(3, 3, nullptr), nullptr);
  EXPECT_EQ(OPCV(IPPShare_ippStaticInit)(), 0);
  EXPECT_EQ(OPCV(IppInit)(), 0);
}

// The whole-number 16-bit filter (divisor 1) gives, value for value, what
// OpenCV's filter2D gives with the turned kernel: on grey-level sources
// (its exact integer path), on sources near the bound of that path, and on
// full 16-bit ones (where OpenCV's own float sums are taken).
TEST(Primitives, WholeNumberFilterOf16BitRowsIsOpenCVsToTheValue) {
  const MaskCase kernels[] = {{5, 5, 2, 2}, {3, 3, 1, 1}, {7, 7, 3, 3}, {4, 2, 3, 1}, {1, 5, 0, 4}, {9, 9, 4, 4}};
  struct Source {
    int lo, hi, coef;
  };
  const Source sources[] = {{0, 255, 128}, {-255, 255, 9}, {0, 2000, 300}, {-32768, 32767, 64}};
  for (const auto& k : kernels)
    for (const Source& range : sources) {
      SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " values " << range.lo << ".." << range.hi);
      std::uniform_int_distribution<int> coef(-range.coef, range.coef), value(range.lo, range.hi);
      std::vector<int32_t> kernel(size_t(k.w) * k.h);
      for (auto& c : kernel) c = coef(Rng());
      const IppiSize roi{123, 17};
      const int hw = k.w / 2, hh = k.h / 2;
      cv::Mat area(roi.height + 2 * hh, roi.width + 2 * hw, CV_16SC1);
      for (int y = 0; y < area.rows; ++y)
        for (int x = 0; x < area.cols; ++x)
          area.at<int16_t>(y, x) = int16_t(y % 5 == 0 ? range.hi : x % 7 == 0 ? range.lo : value(Rng()));
      const IppiPoint anchor{k.ax, k.ay};
      const int16_t* in = &area.at<int16_t>(2 * hh - k.ay, 2 * hw - k.ax);
      cv::Mat got(roi.height, roi.width, CV_16SC1, cv::Scalar(7));
      ASSERT_EQ(OPCV(IPPShare_ippiFilter_16s_C1R)(in, int(area.step), got.ptr<int16_t>(), int(got.step), roi,
                                                  kernel.data(), {k.w, k.h}, anchor, 1),
                0);
      // OpenCV's correlation with the kernel turned by a half turn, as the
      // library always computed it.
      cv::Mat turned = cv::Mat::zeros(k.h | 1, k.w | 1, CV_32F), want;
      for (int i = 0; i < k.h; ++i)
        for (int j = 0; j < k.w; ++j) turned.at<float>(2 * hh - i, 2 * hw - j) = float(kernel[size_t(i) * k.w + j]);
      const cv::Mat inner = area(cv::Rect(2 * hw - k.ax + k.ax - hw, 2 * hh - k.ay + k.ay - hh, roi.width, roi.height));
      cv::filter2D(inner, want, -1, turned, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
      EXPECT_EQ(cv::countNonZero(got != want), 0);
      // The plain integer sum where it cannot overflow a float's whole numbers.
      if (range.hi <= 2000)
        for (int y = 0; y < roi.height; ++y)
          for (int x = 0; x < roi.width; ++x) {
            int64_t sum = 0;
            for (int i = 0; i < k.h; ++i)
              for (int j = 0; j < k.w; ++j)
                sum += int64_t(kernel[size_t(i) * k.w + j]) *
                       area.at<int16_t>(y + 2 * hh - k.ay + k.ay - i, x + 2 * hw - k.ax + k.ax - j);
            ASSERT_EQ(got.at<int16_t>(y, x), std::clamp<int64_t>(sum, -32768, 32767)) << x << "," << y;
          }
    }
}
