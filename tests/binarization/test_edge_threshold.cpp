// The threshold rule, the content height, packing, and Gray2BinImage with a
// recording fake helper and with our own staged libhelper.so.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "edge_threshold.h"
#include "fake_helper_util.h"
#include "helper_binding.h"

namespace {

using Bins = std::map<int, int>;

std::vector<int> Hist(const Bins& bins) {
  std::vector<int> h(64, 0);
  for (auto [bin, count] : bins) h[size_t(bin)] = count;
  return h;
}

struct ThresholdCase {
  const char* what;
  Bins hist1, hist2;
  int bins, adjust, expected;
};

class Threshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(Threshold, Rule) {
  const ThresholdCase& c = GetParam();
  const std::vector<int> h1 = Hist(c.hist1), h2 = Hist(c.hist2);
  uint8_t t = 0;
  CreateSTreshold(h1.data(), h2.data(), c.bins, c.adjust, &t, 4);
  EXPECT_EQ(t, c.expected) << c.what;
}

// With weight 4: T = (12 i1 + 4 i2) / 4.
INSTANTIATE_TEST_SUITE_P(
    Cases, Threshold,
    ::testing::Values(ThresholdCase{"empty", {}, {}, 64, 0, 128}, ThresholdCase{"no bins", {}, {}, 0, 0, 128},
                      ThresholdCase{"two peaks", {{10, 100}}, {{50, 100}}, 64, 0, 80},
                      ThresholdCase{"towards 4 i2", {{10, 100}}, {{50, 100}}, 64, -50, 200},
                      ThresholdCase{"towards 4 i1", {{10, 100}}, {{50, 100}}, 64, 50, 40},
                      ThresholdCase{"a tenth of the way", {{10, 100}}, {{50, 100}}, 64, -5, 92},
                      // The walk stops at bin 30, where the edge greys outweigh the minima.
                      ThresholdCase{"walk", {{10, 100}, {30, 20}}, {{30, 30}, {50, 100}}, 64, 0, 90},
                      // A light tail of edge greys lifts i2 to 61; a dark tail of minima lowers i1 to 3.
                      ThresholdCase{"tails up", {{10, 100}, {4, 30}}, {{50, 100}, {60, 20}}, 64, -50, 244},
                      ThresholdCase{"tails down", {{10, 100}, {4, 30}}, {{50, 100}, {60, 20}}, 64, 50, 12}),
    [](const auto& info) {
      std::string s = info.param.what;
      for (char& ch : s)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return s;
    });

std::vector<uint8_t> Page(int w, int h, uint8_t level) { return std::vector<uint8_t>(size_t(w) * h, level); }

TEST(ActualHeight, StopsAboveTheWhiteRowsAtTheBottom) {
  const int w = 40, h = 100;
  std::vector<uint8_t> page = Page(w, h, 250);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < w; x += 2) page[size_t(y) * w + x] = 0;
  EXPECT_EQ(GetActualHeight(page.data(), w, h), 80);
  // A row with a speck but a white average is not content either.
  std::memset(&page[size_t(79) * w], 250, w);
  page[size_t(79) * w + 5] = 200;
  EXPECT_EQ(GetActualHeight(page.data(), w, h), 79);
  EXPECT_EQ(GetActualHeight(Page(w, h, 250).data(), w, h), h);
  EXPECT_EQ(GetAverage(page.data() + size_t(79) * w, w), (250 * 39 + 200) / 40);
}

TEST(Pack, MostSignificantBitFirstWithClearTail) {
  const std::vector<uint8_t> bytes = {1, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                      1, 0, 7, 0, 1, 0, 1, 0, 0};
  std::vector<uint8_t> packed(4, 0x55);
  bin2pac(bytes.data(), packed.data(), 2, 9);
  EXPECT_EQ(packed, (std::vector<uint8_t>{0xFF, 0x80, 0xAA, 0x00}));
}

TEST(Pack, AnyNonZeroByteAtAnyWidthAgainstAPixelByPixelPacking) {
  unsigned seed = 11;
  for (int w = 1; w <= 70; ++w) {
    const int h = 3, bpl = (w + 7) / 8;
    std::vector<uint8_t> bytes(size_t(w) * h), want(size_t(bpl) * h, 0), packed(want.size(), 0xA5);
    for (uint8_t& b : bytes) b = rand_r(&seed) % 3 ? uint8_t(rand_r(&seed) % 256) : 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (bytes[size_t(y) * w + x]) want[size_t(y) * bpl + x / 8] |= uint8_t(0x80 >> (x % 8));
    bin2pac(bytes.data(), packed.data(), h, w);
    ASSERT_EQ(packed, want) << "width " << w;
  }
}

// ---- Gray2BinImage with the recording fake ----

class WithFake : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_fake.open());
    ASSERT_EQ(LoadI3Helper(m_fake.path(), kI3HelperEntryMissingBinarization), 0);
    m_fake.record() = FakeRecord{};
    m_fake.record().edge_answer = 1;
    std::memset(m_fake.hist(1), 0, 64 * sizeof(int));
    std::memset(m_fake.hist(2), 0, 64 * sizeof(int));
    m_fake.hist(1)[10] = 100;
    m_fake.hist(2)[50] = 100;  // with adjust 0 and weight 4: threshold 80
  }
  void TearDown() override { UnloadI3Helper(); }
  FakeRecord& rec() { return m_fake.record(); }
  Fake m_fake{"-1"};
};

struct ArgsCase {
  int offset, t1, t2;
  bool sens;
};

TEST_F(WithFake, PassesTheEdgeArgumentsAndTheTrimmedHeight) {
  const int w = 30, h = 40;
  std::vector<uint8_t> page = Page(w, h, 250), out(size_t(w) * h, 7);
  for (int y = 0; y < 30; ++y) page[size_t(y) * w] = 0;  // bottom 10 rows all 250
  for (ArgsCase c : {ArgsCase{0, 130, 104, false}, ArgsCase{3, 115, 92, true}, ArgsCase{30, 25, 20, true},
                     ArgsCase{-100, 500, 400, false}}) {
    int results[16] = {};
    ASSERT_EQ(
        Gray2BinImage(page.data(), out.data(), h, w, c.offset, 0, 6, 4, nullptr, 0, 1, 3, true, c.sens, results, 0), 0);
    EXPECT_EQ(rec().t1, c.t1);
    EXPECT_EQ(rec().t2, c.t2);
    EXPECT_EQ(rec().t3, 6);
    EXPECT_EQ(rec().flag, c.sens ? 1 : 0);
    EXPECT_EQ(rec().width, w);
    EXPECT_EQ(rec().height, 30);
    EXPECT_EQ(rec().src_step, w);
    EXPECT_EQ(rec().edge1_step, w);
    EXPECT_EQ(rec().edge2_step, w);
    EXPECT_EQ(rec().mode, 0x100000);
    EXPECT_EQ(rec().bin_width, w);
    EXPECT_EQ(rec().bin_height, h);
    EXPECT_EQ(rec().bin_dst_step, w);
    EXPECT_EQ(rec().bin_mode, 0x100000);
    EXPECT_EQ(rec().bin_threshold, 80);
    EXPECT_EQ(results[10], 80);
  }
  // Without the trim the whole height is measured.
  int results[16] = {};
  ASSERT_EQ(Gray2BinImage(page.data(), out.data(), h, w, 0, 0, 5, 4, nullptr, 0, 1, 3, false, false, results, 0), 0);
  EXPECT_EQ(rec().height, h);
}

TEST_F(WithFake, TopModeBitsReuseResult10AndKind2TakesTheStoredThresholds) {
  const int w = 20, h = 20;
  std::vector<uint8_t> page = Page(w, h, 200), out(size_t(w) * h);
  int results[16] = {};
  results[10] = 77;
  ASSERT_EQ(Gray2BinImage(page.data(), out.data(), h, w, 0, 0, 5, 4, nullptr, 0, 1, int(0x10000003), false, false,
                          results, 0),
            0);
  EXPECT_EQ(rec().bin_threshold, 77);
  EXPECT_EQ(results[10], 77);
  int stored[16] = {};
  stored[14] = 60;
  stored[15] = 0x1234;  // low byte 52
  ASSERT_EQ(Gray2BinImage(page.data(), out.data(), h, w, 0, 0, 5, 4, nullptr, 0, 1, 3, false, false, stored, 2), 0);
  EXPECT_EQ(rec().bin_threshold, 52);
  EXPECT_EQ(stored[10], 52);
}

TEST_F(WithFake, SmallPagesAndAFailedMeasurementLeaveTheOutputAlone) {
  struct Size {
    int w, h;
  };
  for (Size s : {Size{6, 20}, Size{20, 6}}) {
    std::vector<uint8_t> page = Page(s.w, s.h, 200), out(size_t(s.w) * s.h, 7);
    int results[16] = {};
    EXPECT_EQ(Gray2BinImage(page.data(), out.data(), s.h, s.w, 0, 0, 5, 4, nullptr, 0, 1, 3, false, false, results, 0),
              -1);
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 7));
  }
  EXPECT_EQ(rec().edge_calls, 0);
  rec().edge_answer = 0;
  std::vector<uint8_t> page = Page(7, 7, 200), out(49, 7);
  int results[16] = {};
  EXPECT_EQ(Gray2BinImage(page.data(), out.data(), 7, 7, 0, 0, 5, 4, nullptr, 0, 1, 3, false, false, results, 0), -1);
  EXPECT_EQ(rec().edge_calls, 1);
  EXPECT_EQ(rec().binarize_calls, 0);
  EXPECT_EQ(out, std::vector<uint8_t>(49, 7));
}

TEST(Gray2Bin, UnboundHelperFails) {
  std::vector<uint8_t> page = Page(10, 10, 200), out(100, 7);
  int results[16] = {};
  EXPECT_EQ(Gray2BinImage(page.data(), out.data(), 10, 10, 0, 0, 5, 4, nullptr, 0, 1, 3, false, false, results, 0), -1);
}

// ---- our libhelper.so ----

class OurHelper : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(LoadI3HelperBinarization(), 0); }
  void TearDown() override { UnloadI3Helper(); }
};

TEST_F(OurHelper, BlackSquareOnWhiteComesOutExactly) {
  const int w = 64, h = 64;
  std::vector<uint8_t> page = Page(w, h, 255), expected(size_t(w) * h, 1), out(size_t(w) * h, 9);
  for (int y = 20; y < 40; ++y)
    for (int x = 20; x < 40; ++x) page[size_t(y) * w + x] = 0, expected[size_t(y) * w + x] = 0;
  int results[16] = {};
  ASSERT_EQ(Gray2BinImage(page.data(), out.data(), h, w, 0, -5, 5, 4, nullptr, 0, 1, 3, true, false, results, 0), 0);
  EXPECT_EQ(out, expected);
}

TEST_F(OurHelper, WhitePageIsAllWhiteWithEmptyHistograms) {
  const int w = 50, h = 30;
  std::vector<uint8_t> page = Page(w, h, 240), e1(size_t(w) * h), e2(size_t(w) * h), out(size_t(w) * h, 9);
  int hist1[64] = {}, hist2[64] = {};
  const I3HelperSize size{w, h};
  ASSERT_NE(g_i3Helper.GetEdgeThreshold8u8u(page.data(), w, e1.data(), w, e2.data(), w, &size, 0, 130, 104, 5, hist1,
                                            hist2, 0x100000),
            0);
  EXPECT_EQ(std::vector<int>(hist1, hist1 + 64), std::vector<int>(64, 0));
  EXPECT_EQ(std::vector<int>(hist2, hist2 + 64), std::vector<int>(64, 0));
  EXPECT_EQ(e1, std::vector<uint8_t>(e1.size(), 0));
  int results[16] = {};
  ASSERT_EQ(Gray2BinImage(page.data(), out.data(), h, w, 0, 0, 5, 4, nullptr, 0, 1, 3, true, false, results, 0), 0);
  EXPECT_EQ(results[10], 128);
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 1));
}

TEST_F(OurHelper, EdgesBelowTheMeasuredHeightStayClear) {
  // Stripes over the whole page, measured over its top half only.
  const int w = 40, h = 40;
  std::vector<uint8_t> page = Page(w, h, 255), e1(size_t(w) * h), e2(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 8; x < 36; x += 10)
      for (int k = 0; k < 4; ++k) page[size_t(y) * w + x + k] = 0;
  int hist1[64] = {}, hist2[64] = {};
  const I3HelperSize size{w, 20};
  ASSERT_NE(g_i3Helper.GetEdgeThreshold8u8u(page.data(), w, e1.data(), w, e2.data(), w, &size, 0, 130, 104, 5, hist1,
                                            hist2, 0x100000),
            0);
  int above = 0, below = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) (y < 20 ? above : below) += e1[size_t(y) * w + x];
  EXPECT_GT(above, 0);
  EXPECT_EQ(below, 0);
  EXPECT_EQ(hist2[255 / 4], above);  // every edge sits on the paper side
  EXPECT_EQ(hist1[0], above);        // next to ink
}

}  // namespace
