// The automatic binarization unit loaded from the staged tree as the second
// backend loads it: life cycle, the entry's records and checks, and the
// black-and-white pages it makes of degraded pages.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "I3ipImageInfo.h"
#include "degraded_pages.h"
#include "dravn_paths.h"
#include "test_support.h"

namespace {

using Entry = int (*)(I3ipImageInfo*, I3ipImageInfo*, int, int, int);

class Unit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_handle = dlopen(DRAVN_LIB_DIR "/libbinarization.so", RTLD_NOW);
    ASSERT_NE(s_handle, nullptr) << dlerror();
    s_flag = static_cast<unsigned char*>(dlsym(s_handle, "gInitialized"));
    s_entry = reinterpret_cast<Entry>(dlsym(s_handle, "I3ipIpunitProcess_BinAuto"));
  }
  static void TearDownTestSuite() { dlclose(s_handle); }

  // An 8-bit page in a malloc'd buffer of `bytes` (at least height x bpl).
  static I3ipImageInfo Grey(int width, int height, uint8_t level, size_t bytes = 0, uint32_t bpl = 0) {
    I3ipImageInfo in{};
    in.Bpp = 8, in.Dpi = 300, in.Width = uint32_t(width), in.Height = uint32_t(height);
    in.Bpl = bpl ? bpl : uint32_t(width);
    in.DataSize = bytes ? uint32_t(bytes) : in.Bpl * in.Height;
    in.Data = static_cast<unsigned char*>(std::malloc(in.DataSize));
    std::memset(in.Data, level, in.DataSize);
    return in;
  }

  static void* s_handle;
  static unsigned char* s_flag;
  static Entry s_entry;
};
void* Unit::s_handle;
unsigned char* Unit::s_flag;
Entry Unit::s_entry;

TEST_F(Unit, IsReadyOnceLoadedAndASecondLoadChangesNothing) {
  ASSERT_NE(s_flag, nullptr);
  ASSERT_NE(s_entry, nullptr);
  EXPECT_EQ(*s_flag, 1);
  void* again = dlopen(DRAVN_LIB_DIR "/libbinarization.so", RTLD_NOW);
  ASSERT_EQ(again, s_handle);
  EXPECT_EQ(*s_flag, 1);
  dlclose(again);
  EXPECT_EQ(*s_flag, 1);
}

struct Geometry {
  int width, height, rc;
  uint32_t bpl;
};

class UnitGeometry : public Unit, public ::testing::WithParamInterface<Geometry> {};

// The output record on success and on an engine failure; the input pixels
// are freed on every path (the sanitizer build sees a leak otherwise).
TEST_P(UnitGeometry, OutputRecord) {
  const Geometry g = GetParam();
  I3ipImageInfo in = Grey(g.width, g.height, 200), out{};
  in.Dpi = 240;
  EXPECT_EQ(s_entry(&in, &out, 0, 5, 0), g.rc);
  EXPECT_EQ(out.Size, 40u);
  EXPECT_EQ(out.Bpp, 1);
  EXPECT_EQ(out.Boundary, 1);
  EXPECT_EQ(out.DataType, 0);
  EXPECT_EQ(out.MarginSize, 0);
  EXPECT_EQ(out.Dpi, 240);
  EXPECT_EQ(out.Width, uint32_t(g.width));
  EXPECT_EQ(out.Height, uint32_t(g.height));
  EXPECT_EQ(out.Bpl, g.bpl);
  EXPECT_EQ(out.DataSize, g.bpl * uint32_t(g.height));
  if (g.rc == 0) {
    ASSERT_NE(out.Data, nullptr);
    // A light page is white: every pixel's bit set, the row's spare bits clear.
    for (uint32_t y = 0; y < out.Height; ++y)
      for (uint32_t x = 0; x < out.Width; ++x)
        EXPECT_TRUE(out.Data[y * out.Bpl + x / 8] & (0x80 >> (x % 8))) << x << "," << y;
    if (g.width % 8) {
      EXPECT_EQ(out.Data[out.Bpl - 1] & (0xFF >> (g.width % 8)), 0);
    }
  } else {
    EXPECT_EQ(out.Data, nullptr);
  }
  std::free(out.Data);
}

INSTANTIATE_TEST_SUITE_P(Pages, UnitGeometry,
                         ::testing::Values(Geometry{8, 8, 47, 1}, Geometry{8, 20, 47, 1}, Geometry{20, 8, 47, 3},
                                           Geometry{9, 12, 0, 2}, Geometry{64, 40, 0, 8}, Geometry{67, 41, 0, 9}));

TEST_F(Unit, RefusesRecordsItCannotReadAndFreesTheInput) {
  I3ipImageInfo out{};
  EXPECT_EQ(s_entry(nullptr, &out, 0, 5, 0), 36);
  I3ipImageInfo in = Grey(20, 20, 200);
  EXPECT_EQ(s_entry(&in, nullptr, 0, 5, 0), 36);
  EXPECT_EQ(in.Data, nullptr);
  for (uint8_t bpp : {1, 24}) {
    in = Grey(20, 20, 200);
    in.Bpp = bpp;
    EXPECT_EQ(s_entry(&in, &out, 0, 5, 0), 36);
    EXPECT_EQ(in.Data, nullptr);
  }
  in = Grey(20, 20, 200);
  in.Bpl = 19;
  EXPECT_EQ(s_entry(&in, &out, 0, 5, 0), 36);
  EXPECT_EQ(out.Data, nullptr);
  // Rows that run past the DataSize bytes handed over (the engine once read
  // past them).
  for (uint32_t size : {20u * 20u - 1u, 0u}) {
    in = Grey(20, 20, 200);
    in.DataSize = size;
    EXPECT_EQ(s_entry(&in, &out, 0, 5, 0), 36);
    EXPECT_EQ(in.Data, nullptr);
    EXPECT_EQ(out.Data, nullptr);
  }
}

// A page with a black left half, as rows of Width bytes.
std::vector<uint8_t> HalfDark(int w, int h) {
  std::vector<uint8_t> page(size_t(w) * h, 230);
  for (int y = 0; y < h; ++y) std::memset(&page[size_t(y) * w], 20, size_t(w / 2));
  return page;
}

std::vector<uint8_t> Unpack(const I3ipImageInfo& out) {
  std::vector<uint8_t> v(size_t(out.Width) * out.Height);
  for (uint32_t y = 0; y < out.Height; ++y)
    for (uint32_t x = 0; x < out.Width; ++x)
      v[y * out.Width + x] = (out.Data[y * out.Bpl + x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
  return v;
}

// Rows longer than Width are repacked, and a margin is used only where the
// buffer has room for it: all three give the same page.
TEST_F(Unit, LayoutsOfTheInputGiveTheSamePage) {
  const int w = 60, h = 50;
  const std::vector<uint8_t> page = HalfDark(w, h);
  std::vector<std::vector<uint8_t>> results;
  for (int layout = 0; layout < 4; ++layout) {
    I3ipImageInfo in{}, out{};
    const uint32_t bpl = layout == 1 ? w + 5 : w;
    const size_t bytes = layout >= 2 ? size_t(w + 6) * (h + 6) - (layout == 3 ? 1 : 0) : size_t(bpl) * h;
    in = Grey(w, h, 0, bytes, bpl);
    in.DataSize = uint32_t(bytes);
    in.MarginSize = layout >= 2 ? 3 : 0;
    for (int y = 0; y < h; ++y) std::memcpy(in.Data + size_t(y) * bpl, &page[size_t(y) * w], w);
    ASSERT_EQ(s_entry(&in, &out, 0, 5, 0), 0) << layout;
    results.push_back(Unpack(out));
    std::free(out.Data);
  }
  int black = 0;
  for (int x = 0; x < w; ++x) black += results[0][size_t(25) * w + x] == 0;
  EXPECT_NEAR(black, w / 2, 2);
  for (int layout = 1; layout < 4; ++layout) EXPECT_EQ(results[size_t(layout)], results[0]) << layout;
}

// Through the entry with the backend's settings: the ink of degraded pages
// at least as well as Sauvola's, and no specks on blank paper.
TEST_F(Unit, InkOfDegradedPagesAndBlankPaper) {
  double ours = 0, sauvola = 0;
  int n = 0;
  for (dravn_degraded::Kind kind : dravn_degraded::kAllKinds) {
    dravn_degraded::Page page = dravn_degraded::MakePage(kind, 300, 105, 148);
    I3ipImageInfo in = Grey(page.width, page.height, 0), out{};
    std::memcpy(in.Data, page.grey.data(), page.grey.size());
    ASSERT_EQ(s_entry(&in, &out, 0, 5, 0), 0);
    const double f = dravn_degraded::FMeasure(Unpack(out), page.truth);
    std::free(out.Data);
    const double s = dravn_degraded::FMeasure(dravn_degraded::Sauvola(page, 31, 0.34, 128), page.truth);
    std::printf("%-16s ours %.4f  sauvola %.4f\n", dravn_degraded::KindName(kind).c_str(), f, s);
    ours += f, sauvola += s, ++n;
  }
  EXPECT_GE(ours / n, sauvola / n);

  I3ipImageInfo in = Grey(800, 1000, 0), out{};
  unsigned seed = 7;
  for (uint32_t i = 0; i < in.DataSize; ++i) in.Data[i] = uint8_t(232 + (rand_r(&seed) % 16));
  ASSERT_EQ(s_entry(&in, &out, 0, 5, 0), 0);
  const std::vector<uint8_t> bits = Unpack(out);
  std::free(out.Data);
  EXPECT_EQ(std::count(bits.begin(), bits.end(), 0), 0);
}

// Degraded pages of odd sizes and resolutions at three settings each, held
// to the pages the entry has always made of them (a digest of each output
// page): the steps behind the entry are sped up, never changed.
TEST_F(Unit, PagesComeOutAsTheyAlwaysHave) {
  using dravn_degraded::Kind;
  struct Case {
    double wMm, hMm;
    int dpi;
    Kind kind;
    unsigned seed;
    int sensitivity, background;
    uint64_t digest;
  };
  static const Case kCases[] = {
    {52.3, 31.1, 300, Kind::kUnevenLight, 11u, 0, 5, 0x445812a561e6d480ull},
    {52.3, 31.1, 300, Kind::kUnevenLight, 11u, -3, 1, 0x014f1401f65f6818ull},
    {52.3, 31.1, 300, Kind::kUnevenLight, 11u, 4, 9, 0xf322662e2174af50ull},
    {52.3, 31.1, 300, Kind::kStains, 12u, 0, 5, 0x913363fd6f8bf907ull},
    {52.3, 31.1, 300, Kind::kStains, 12u, -3, 1, 0xc6af40e2178feda9ull},
    {52.3, 31.1, 300, Kind::kStains, 12u, 4, 9, 0x7674de97c84cb313ull},
    {52.3, 31.1, 300, Kind::kShowThrough, 13u, 0, 5, 0x4f15bbe58b74c107ull},
    {52.3, 31.1, 300, Kind::kShowThrough, 13u, -3, 1, 0x00122f110dd89397ull},
    {52.3, 31.1, 300, Kind::kShowThrough, 13u, 4, 9, 0x4f15bbe58b74c107ull},
    {52.3, 31.1, 300, Kind::kFaintText, 14u, 0, 5, 0x154830ea8b31cdddull},
    {52.3, 31.1, 300, Kind::kFaintText, 14u, -3, 1, 0xb244d57f58c87b45ull},
    {52.3, 31.1, 300, Kind::kFaintText, 14u, 4, 9, 0x785ae808eb95c09cull},
    {52.3, 31.1, 300, Kind::kBlurNoise, 15u, 0, 5, 0x96752420cb5caf9eull},
    {52.3, 31.1, 300, Kind::kBlurNoise, 15u, -3, 1, 0xb448927f7021ecfdull},
    {52.3, 31.1, 300, Kind::kBlurNoise, 15u, 4, 9, 0xb344b66e6eb46ff1ull},
    {20.1, 73.9, 203, Kind::kUnevenLight, 16u, 0, 5, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kUnevenLight, 16u, -3, 1, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kUnevenLight, 16u, 4, 9, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kStains, 17u, 0, 5, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kStains, 17u, -3, 1, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kStains, 17u, 4, 9, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kShowThrough, 18u, 0, 5, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kShowThrough, 18u, -3, 1, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kShowThrough, 18u, 4, 9, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kFaintText, 19u, 0, 5, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kFaintText, 19u, -3, 1, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kFaintText, 19u, 4, 9, 0x999ed2310cfad90bull},
    {20.1, 73.9, 203, Kind::kBlurNoise, 20u, 0, 5, 0xeed9dbf363b82dddull},
    {20.1, 73.9, 203, Kind::kBlurNoise, 20u, -3, 1, 0xa239060589b51348ull},
    {20.1, 73.9, 203, Kind::kBlurNoise, 20u, 4, 9, 0x0e6968d3f469f643ull},
    {33.3, 9.7, 600, Kind::kUnevenLight, 21u, 0, 5, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kUnevenLight, 21u, -3, 1, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kUnevenLight, 21u, 4, 9, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kStains, 22u, 0, 5, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kStains, 22u, -3, 1, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kStains, 22u, 4, 9, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kShowThrough, 23u, 0, 5, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kShowThrough, 23u, -3, 1, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kShowThrough, 23u, 4, 9, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kFaintText, 24u, 0, 5, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kFaintText, 24u, -3, 1, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kFaintText, 24u, 4, 9, 0x606085e860fad5a3ull},
    {33.3, 9.7, 600, Kind::kBlurNoise, 25u, 0, 5, 0x01c22cdcde3505dfull},
    {33.3, 9.7, 600, Kind::kBlurNoise, 25u, -3, 1, 0x976ae9331af414ebull},
    {33.3, 9.7, 600, Kind::kBlurNoise, 25u, 4, 9, 0x351f485e0a30ebfaull},
    {105, 148, 300, Kind::kUnevenLight, 26u, 0, 5, 0xbce9d18ec65c892dull},
    {105, 148, 300, Kind::kUnevenLight, 26u, -3, 1, 0x1e6c1ea6856bdf62ull},
    {105, 148, 300, Kind::kUnevenLight, 26u, 4, 9, 0xfa787e4068c8d11dull},
    {105, 148, 300, Kind::kStains, 27u, 0, 5, 0x5f32e4fa18570f30ull},
    {105, 148, 300, Kind::kStains, 27u, -3, 1, 0xf45154f3538dac0bull},
    {105, 148, 300, Kind::kStains, 27u, 4, 9, 0xf08bcdf192daa33bull},
    {105, 148, 300, Kind::kShowThrough, 28u, 0, 5, 0x21a636e36990a5daull},
    {105, 148, 300, Kind::kShowThrough, 28u, -3, 1, 0x663aef45053161b8ull},
    {105, 148, 300, Kind::kShowThrough, 28u, 4, 9, 0xc049eeecf276057eull},
    {105, 148, 300, Kind::kFaintText, 29u, 0, 5, 0x2ae0b676293f8470ull},
    {105, 148, 300, Kind::kFaintText, 29u, -3, 1, 0xea40c66dd7879a06ull},
    {105, 148, 300, Kind::kFaintText, 29u, 4, 9, 0x255c70823115a292ull},
    {105, 148, 300, Kind::kBlurNoise, 30u, 0, 5, 0xa4401a4bdd7f0322ull},
    {105, 148, 300, Kind::kBlurNoise, 30u, -3, 1, 0x35cb4b9233f010aeull},
    {105, 148, 300, Kind::kBlurNoise, 30u, 4, 9, 0xd15711c5a64e33a0ull},
  };
  dravn_degraded::Page page;
  const Case* made = nullptr;
  for (const Case& c : kCases) {
    if (!made || made->seed != c.seed) page = dravn_degraded::MakePage(c.kind, c.dpi, c.wMm, c.hMm, c.seed), made = &c;
    I3ipImageInfo in = Grey(page.width, page.height, 0), out{};
    in.Dpi = uint16_t(c.dpi);
    std::memcpy(in.Data, page.grey.data(), page.grey.size());
    ASSERT_EQ(s_entry(&in, &out, c.sensitivity, c.background, 0), 0);
    uint64_t digest = 1469598103934665603ull;  // FNV-1a over the packed page
    for (uint32_t i = 0; i < out.DataSize; ++i) digest = (digest ^ out.Data[i]) * 1099511628211ull;
    std::free(out.Data);
    EXPECT_EQ(digest, c.digest) << dravn_degraded::KindName(c.kind) << " " << page.width << "x" << page.height
                                << " at " << c.dpi << " dpi, sensitivity " << c.sensitivity << ", background "
                                << c.background;
  }
}

// The page buffers of one call are kept for the next: whatever an earlier
// page left in them, a page comes out the same. The first call of the
// process (each test runs in its own) has buffers fresh from the kernel.
TEST_F(Unit, BuffersKeptFromEarlierPagesChangeNothing) {
  // Pages large enough for kept buffers, of three sizes.
  std::vector<dravn_degraded::Page> pages;
  pages.push_back(dravn_degraded::MakePage(dravn_degraded::Kind::kStains, 300, 180, 200));
  pages.push_back(dravn_degraded::MakePage(dravn_degraded::Kind::kFaintText, 300, 180, 230));
  pages.push_back(dravn_degraded::MakePage(dravn_degraded::Kind::kBlurNoise, 300, 175, 190));
  auto run = [&](const dravn_degraded::Page& page) {
    I3ipImageInfo in = Grey(page.width, page.height, 0), out{};
    std::memcpy(in.Data, page.grey.data(), page.grey.size());
    EXPECT_EQ(s_entry(&in, &out, 0, 5, 0), 0);
    std::vector<uint8_t> bits(out.Data, out.Data + out.DataSize);
    std::free(out.Data);
    return bits;
  };
  std::vector<std::vector<uint8_t>> first;
  for (const auto& page : pages) first.push_back(run(page));
  for (size_t i = pages.size(); i-- > 0;) EXPECT_EQ(run(pages[i]), first[i]) << i;
}

// The constructor's binding failures, each with one library mounted over the
// staged one in a mount namespace of its own.
struct Swap {
  const char* what;
  std::string library, replacement;
  int flag;
};

std::string Probe(const std::vector<Swap>& swaps, bool run) {
  std::string script;
  for (const Swap& s : swaps)
    script += "mount --bind '" + s.replacement + "' '" DRAVN_LIB_DIR "/" + s.library + "' && ";
  script += std::string("exec '") + PROBE + "'" + (run ? " run" : "");
  const auto r = dravn_test::Run({"unshare", "--mount", "sh", "-c", script});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

TEST(UnitBinding, FailuresLeaveTheUnitNotReady) {
  const std::string fakes = FAKE_DIR;
  const std::vector<Swap> cases = {
      {"our own libraries", "libhelper.so", DRAVN_LIB_DIR "/libhelper.so", 1},
      {"a helper name missing", "libhelper.so", fakes + "/libfake_helper_4.so", 0},
      {"helper initialisation fails", "libhelper.so", fakes + "/libfake_helper_initfails.so", 0},
      {"libopencv without a required name", "libopencv.so", fakes + "/libfake_opencv_11.so", 0},
      {"libopencv without its first name", "libopencv.so", fakes + "/libfake_opencv_0.so", 0},
      {"libopencv with every required name", "libopencv.so", fakes + "/libfake_opencv_-1.so", 1},
  };
  for (const Swap& c : cases)
    EXPECT_EQ(Probe({c}, false), "gInitialized=" + std::to_string(c.flag) + "\n") << c.what;
}

TEST(UnitBinding, WhatReachesTheHelper) {
  const std::string out = Probe({{"", "libhelper.so", std::string(FAKE_DIR) + "/libfake_helper_-1.so", 1}}, true);
  EXPECT_NE(out.find("gInitialized=1\nrc=0\n"), std::string::npos) << out;
  // One edge measurement and one binarization over the whole 40 x 30 page.
  EXPECT_NE(out.find("edge_calls=1 binarize_calls=1 width=40 height=30"), std::string::npos) << out;
}

}  // namespace
