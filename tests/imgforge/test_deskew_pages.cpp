// DeskewAndCropping as an outside caller binds it from the staged
// libimgforge, judged on rendered pages whose angle and corners are known.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "test_pages.h"

namespace {

using dravn_pages::BackedPageSpec;
using dravn_pages::Image;
using DeskewFn = int(const I3ipImageInfo*, I3ipImageInfo*);

struct Library {
  void* handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  DeskewFn* deskew = handle ? reinterpret_cast<DeskewFn*>(dlsym(handle, "DeskewAndCropping")) : nullptr;
  void** table = handle ? static_cast<void**>(dlsym(handle, "gSinCos")) : nullptr;
  ~Library() {
    if (handle) dlclose(handle);
  }
  bool Ok() const { return deskew && table; }
};

I3ipImageInfo Record(Image& img, int dpi) {
  I3ipImageInfo r{};
  r.Size = 40;
  r.Bpp = static_cast<uint8_t>(img.channels * 8);
  r.Dpi = static_cast<uint16_t>(dpi);
  r.Width = static_cast<uint32_t>(img.width);
  r.Height = static_cast<uint32_t>(img.height);
  r.Bpl = static_cast<uint32_t>(img.BytesPerLine());
  r.DataSize = r.Bpl * r.Height;
  r.Data = img.pixels.data();
  return r;
}

Image ToImage(const I3ipImageInfo& r) {
  Image img;
  img.width = static_cast<int>(r.Width);
  img.height = static_cast<int>(r.Height);
  img.channels = r.Bpp == 24 ? 3 : 1;
  img.pixels.resize(img.BytesPerLine() * img.height);
  for (int y = 0; y < img.height; ++y) std::memcpy(img.Row(y), r.Data + static_cast<size_t>(y) * r.Bpl, img.BytesPerLine());
  return img;
}

// A grey image of one level.
Image Plain(int width, int height, uint8_t level) {
  Image img;
  img.width = width;
  img.height = height;
  img.channels = 1;
  img.pixels.assign(static_cast<size_t>(width) * height, level);
  return img;
}

// The page body upright, cut at its own corners.
Image Upright(BackedPageSpec spec) {
  spec.angleDeg = 0;
  spec.offsetXMm = spec.offsetYMm = 0;
  const dravn_pages::BackedPage page = dravn_pages::RenderBackedPage(spec);
  const int x0 = static_cast<int>(std::lround(page.corners[0][0])), y0 = static_cast<int>(std::lround(page.corners[0][1]));
  Image out;
  out.width = static_cast<int>(std::lround(page.widthPx));
  out.height = static_cast<int>(std::lround(page.heightPx));
  out.channels = page.image.channels;
  out.pixels.resize(out.BytesPerLine() * out.height);
  for (int y = 0; y < out.height; ++y)
    std::memcpy(out.Row(y), page.image.Row(y0 + y) + static_cast<size_t>(x0) * out.channels, out.BytesPerLine());
  return out;
}

// Widest run of backing along one side: for each line in from the side, the
// share of its pixels darker than half the paper.
int DarkStrip(const Image& img, int side) {
  const int along = side % 2 == 0 ? img.height : img.width;
  for (int depth = 0; depth < 8; ++depth) {
    int dark = 0;
    for (int k = 0; k < along; ++k) {
      int x, y;
      switch (side) {
        case 0: x = depth, y = k; break;                    // left
        case 1: x = k, y = img.height - 1 - depth; break;   // bottom
        case 2: x = img.width - 1 - depth, y = k; break;    // right
        default: x = k, y = depth; break;                   // top
      }
      const uint8_t* p = img.Row(y) + static_cast<size_t>(x) * img.channels;
      int v = 0;
      for (int c = 0; c < img.channels; ++c) v += p[c];
      if (v / img.channels < 116) ++dark;
    }
    if (dark < along / 20) return depth;
  }
  return 8;
}

struct Case {
  int dpi;
  double angle;
  int channels;
};

class DeskewPages : public ::testing::TestWithParam<Case> {};

TEST_P(DeskewPages, TurnedPageComesOutUprightAtItsSize) {
  const Case c = GetParam();
  Library lib;
  ASSERT_TRUE(lib.Ok()) << dlerror();
  BackedPageSpec spec;
  spec.widthMm = 120;
  spec.heightMm = 160;
  spec.dpi = c.dpi;
  spec.angleDeg = c.angle;
  spec.offsetXMm = 3;
  spec.offsetYMm = -2;
  spec.channels = c.channels;
  dravn_pages::BackedPage page = dravn_pages::RenderBackedPage(spec);
  I3ipImageInfo in = Record(page.image, c.dpi), out{};
  ASSERT_EQ(lib.deskew(&in, &out), 0);
  EXPECT_EQ(*lib.table, nullptr);
  ASSERT_NE(out.Data, nullptr);
  EXPECT_EQ(out.Boundary, 1);
  EXPECT_EQ(out.Bpp, in.Bpp);
  EXPECT_EQ(out.Dpi, in.Dpi);
  EXPECT_EQ(out.DataSize, out.Bpl * out.Height);
  const Image got = ToImage(out);
  std::free(out.Data);
  EXPECT_LE(std::abs(got.width - std::lround(page.widthPx)), 2) << got.width << " vs " << page.widthPx;
  EXPECT_LE(std::abs(got.height - std::lround(page.heightPx)), 2) << got.height << " vs " << page.heightPx;
  // Off the 0.2-degree vote grid the fit may miss by up to 0.1 degree, and
  // the enclosing rectangle then leaves a wedge of that angle along a side.
  const bool onGrid = std::fabs(std::remainder(c.angle, 0.2)) < 1e-9;
  for (int side = 0; side < 4; ++side) {
    const int along = side % 2 == 0 ? got.height : got.width;
    const int allowed = onGrid ? 1 : 1 + static_cast<int>(std::ceil(along * std::tan(0.1 * M_PI / 180)));
    EXPECT_LE(DarkStrip(got, side), allowed) << "side " << side;
  }
  const dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, Upright(spec), c.dpi / 10);
  EXPECT_LT(diff.maxBlock, 24) << diff.meanAbs;
}

INSTANTIATE_TEST_SUITE_P(Pages, DeskewPages,
                         ::testing::Values(Case{150, 0, 3}, Case{200, 0.5, 1}, Case{300, -0.5, 3}, Case{300, 3, 1},
                                           Case{400, -3, 3}, Case{600, 7, 1}, Case{200, -7, 3}, Case{300, 10, 3},
                                           Case{150, -10, 1}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           const Case& c = info.param;
                           std::string angle = std::to_string(static_cast<int>(std::lround(std::fabs(c.angle) * 10)));
                           return std::to_string(c.dpi) + "dpi_" + (c.angle < 0 ? "minus" : "") + angle + "tenths_" +
                                  (c.channels == 3 ? "colour" : "grey");
                         });

// The cut's size and its strips of backing over the resolutions, turns on
// and off the vote grid, and sub-pixel shifts of the page: the sides are
// found to whole analysis pixels (two input pixels at 300 dpi and above),
// and neither that nor the crop's whole-pixel corners may grow a strip.
TEST(DeskewPageSize, WithinTwoPixelsAndNoStripWiderThanOne) {
  Library lib;
  ASSERT_TRUE(lib.Ok()) << dlerror();
  struct Row {
    int dpi;
    double angle;
  };
  const Row rows[] = {{150, -3}, {150, 10}, {200, 0},  {200, 7},   {300, 0},    {300, -7},  {300, 10},
                      {400, 0},  {400, 0.4}, {600, 0}, {600, -7}, {300, 0.5}, {400, -1.3}, {200, -0.5}};
  for (const Row& r : rows)
    for (int k = 0; k < 4; ++k) {
      BackedPageSpec spec;
      spec.widthMm = 120;
      spec.heightMm = 160;
      spec.dpi = r.dpi;
      spec.angleDeg = r.angle;
      spec.channels = k % 2 ? 3 : 1;
      // Quarter-pixel steps at 300 dpi and about that at the others.
      spec.offsetXMm = 1 + 0.021 * k;
      spec.offsetYMm = -1 + 0.029 * k;
      dravn_pages::BackedPage page = dravn_pages::RenderBackedPage(spec);
      I3ipImageInfo in = Record(page.image, r.dpi), out{};
      ASSERT_EQ(lib.deskew(&in, &out), 0);
      const Image got = ToImage(out);
      std::free(out.Data);
      const std::string at = std::to_string(r.dpi) + " dpi, " + std::to_string(r.angle) + " deg, shift " + std::to_string(k);
      // Off the grid the side is fitted up to 0.1 degree off, and the
      // enclosing rectangle grows by the other side's length times that.
      const bool onGrid = std::fabs(std::remainder(r.angle, 0.2)) < 1e-9;
      const double wedgeW = onGrid ? 0 : page.heightPx * std::tan(0.1 * M_PI / 180);
      const double wedgeH = onGrid ? 0 : page.widthPx * std::tan(0.1 * M_PI / 180);
      // Against the nearest whole size; halved for analysis, a side is
      // found to two input pixels, and each may be one off.
      const double tol = r.dpi >= 300 ? 3 : 2;
      EXPECT_LE(std::fabs(got.width - std::lround(page.widthPx)), tol + wedgeW) << at;
      EXPECT_LE(std::fabs(got.height - std::lround(page.heightPx)), tol + wedgeH) << at;
      for (int side = 0; side < 4; ++side) {
        const int along = side % 2 == 0 ? got.height : got.width;
        const int allowed = onGrid ? 1 : 1 + static_cast<int>(std::ceil(along * std::tan(0.1 * M_PI / 180)));
        EXPECT_LE(DarkStrip(got, side), allowed) << at << ", side " << side;
      }
    }
}

}  // namespace

namespace {

TEST(DeskewEntry, ResultsAndTheTableAfterEveryCall) {
  Library lib;
  ASSERT_TRUE(lib.Ok()) << dlerror();
  Image img = Plain(300, 200, 0);
  I3ipImageInfo in = Record(img, 49), out{};
  unsigned char marker = 0;
  out.Data = &marker;
  out.Width = 7;
  EXPECT_EQ(lib.deskew(&in, &out), 52);
  EXPECT_EQ(out.Data, &marker);
  EXPECT_EQ(out.Width, 7u);
  EXPECT_EQ(*lib.table, nullptr);
  in.Dpi = 200;  // all black: no edge
  EXPECT_EQ(lib.deskew(&in, &out), 54);
  EXPECT_EQ(out.Data, &marker);
  EXPECT_EQ(*lib.table, nullptr);
}

TEST(DeskewEntry, PageRunningOffTheBottomIsCutAtTheLastRows) {
  Library lib;
  ASSERT_TRUE(lib.Ok()) << dlerror();
  for (int dpi : {200, 300}) {
    BackedPageSpec spec;
    spec.widthMm = 120;
    spec.heightMm = 160;
    spec.dpi = dpi;
    spec.channels = 3;
    dravn_pages::BackedPage page = dravn_pages::RenderBackedPage(spec);
    // Keep the image down to the middle of the page.
    const int keep = static_cast<int>((page.corners[0][1] + page.corners[2][1]) / 2);
    page.image.height = keep;
    page.image.pixels.resize(page.image.BytesPerLine() * keep);
    I3ipImageInfo in = Record(page.image, dpi), out{};
    ASSERT_EQ(lib.deskew(&in, &out), 0) << dpi;
    EXPECT_EQ(*lib.table, nullptr);
    EXPECT_LE(std::abs(static_cast<double>(out.Width) - page.widthPx), 2) << dpi;
    EXPECT_NEAR(static_cast<double>(out.Height), keep - page.corners[0][1], 2) << dpi;
    std::free(out.Data);
  }
}

}  // namespace

namespace {

#if !defined(__SANITIZE_ADDRESS__)
// Address space in use by this process, in bytes.
size_t AddressSpace() {
  size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}
#endif

TEST(DeskewEntry, OutOfMemoryInThePositionStepEndsTheCall) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer reserves the address space that the limit would cap";
#else
  Library lib;
  ASSERT_TRUE(lib.Ok()) << dlerror();
  // A strip of paper on a 60000-pixel-wide image: its vote accumulator (two
  // bytes a cell, 1800 cells per pixel of the diagonal, over 200 MB) is
  // larger than any free block the process may hold, and the analysis image
  // fits under the limit set below while it does not.
  Image img = Plain(60000, 100, 20);
  for (int y = 30; y < 70; ++y) std::memset(img.Row(y) + 1000, 220, 49000);
  I3ipImageInfo in = Record(img, 200);
  const size_t analysis = in.DataSize, accumulator = static_cast<size_t>(img.width) * 3600;
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    const rlim_t cap = AddressSpace() + analysis + accumulator / 2;
    const rlimit limit{cap, cap};
    setrlimit(RLIMIT_AS, &limit);
    unsigned char marker = 0;
    I3ipImageInfo out{};
    out.Data = &marker;
    const int rc = lib.deskew(&in, &out);
    _exit(rc == 34 && out.Data == &marker && *lib.table == nullptr ? 0 : rc == 34 ? 1 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: 34 but the output or the table was left set; 2: not 34";
#endif
}

}  // namespace
