// The page filters when memory runs out: each entry answers -1 (the merge
// 34) and hands nothing out. The call runs in a child process whose address
// space is held just above what it already uses, on pages wide enough that
// the filter's own working memory cannot be had.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "filter_library.h"

using namespace filters_test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define DRAVN_NO_ADDRESS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DRAVN_NO_ADDRESS_LIMIT 1
#endif
#endif

constexpr int kWide = 2'000'000;  // pixels a line

// The call's result, as the child's exit status (-1 comes back as 255).
int Limited(const std::function<int()>& call) {
  const pid_t pid = fork();
  if (pid == 0) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (256 << 10);
    const rlimit r{limit, limit};
    setrlimit(RLIMIT_AS, &r);
    _exit(call() & 0xFF);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

class FilterMemory : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef DRAVN_NO_ADDRESS_LIMIT
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
#endif
    ASSERT_NE(lib.handle, nullptr) << dlerror();
  }
  Library lib;
};

TEST_F(FilterMemory, EachEntryAnswersMinusOne) {
  Page grey(kWide, 3, 8);
  grey.Fill(128);
  Page colour(kWide, 3, 24);
  colour.Fill(128);
  Page bits(kWide, 3, 1);
  FSIP_S_IMAGEEMPHASIS e{24, 2, 7, 0, 0, 1};
  FSIP_S_IMAGEFILTER emphasis{};
  emphasis.dwOption = 1;
  emphasis.pEmphasis = &e;
  FSIP_S_WHITELVFOLLOW w{12, 1, 1};
  FSIP_S_IMAGEFILTER white{};
  white.dwOption = 2;
  white.pWhiteLevel = &w;

  // The luminance plane of a colour page.
  EXPECT_EQ(Limited([&] { return lib.filter(&colour.info, &emphasis, nullptr, nullptr); }), 255);
  // The emphasis window and the white-level rows of a grey page.
  EXPECT_EQ(Limited([&] { return lib.filter(&grey.info, &emphasis, nullptr, nullptr); }), 255);
  EXPECT_EQ(Limited([&] { return lib.filter(&grey.info, &white, nullptr, nullptr); }), 255);
  // The rows of both error-diffusion kernels and of the dynamic threshold.
  for (int kernel : {1, 2}) {
    EXPECT_EQ(Limited([&] {
                FSIP_S_ERROR_DIFFUSION ed{20, kernel, 2, 200, 40};
                FSIP_S_BINARIZATIONEX b{};
                b.dwMethod = 2;
                b.pErrorDiffusion = &ed;
                b.dwBoundary = 1;
                return lib.binarizeEx(&grey.info, &b, &bits.info, nullptr);
              }),
              255)
        << kernel;
  }
  EXPECT_EQ(Limited([&] {
              FSIP_S_SDTCEX dtc{{36, 20, 4, 152, 16, 16, 1}, nullptr};
              FSIP_S_BINARIZATIONEX b{};
              b.dwMethod = 3;
              b.pSdtc = &dtc;
              b.dwBoundary = 1;
              return lib.binarizeEx(&grey.info, &b, &bits.info, nullptr);
            }),
            255);
  // The page that the binarization hands out.
  EXPECT_EQ(Limited([&] {
              FSIP_S_BINARIZATIONEX b{};
              b.dwBoundary = 1;
              FSIP_S_IMAGEINFO out = bits.info;
              out.pImageData = nullptr;
              return lib.binarizeEx(&grey.info, &b, &out, nullptr);
            }),
            255);
  // The grey page of a drop-out.
  EXPECT_EQ(Limited([&] {
              FSIP_S_DROPOUTCOLOREX d{};
              d.wDropoutType = 1;
              d.dwOutput = 1;
              FSIP_S_IMAGEINFO out{};
              return lib.dropoutEx(&colour.info, &d, &out, nullptr);
            }),
            255);
  // The labels and halftone pages of the area-selective binarization.
  EXPECT_EQ(Limited([&] {
              unsigned char dither[64] = {};
              FSIP_S_SELECTEMPHA s{};
              s.nMethod = 1;
              s.pbyDither = dither;
              s.pFilter = &emphasis;
              return lib.select(&grey.info, &s, &bits.info);
            }),
            255);
}

TEST_F(FilterMemory, MergeAnswers34) {
  std::vector<unsigned char> a(static_cast<size_t>(kWide) * 3, 1), b(a);
  I3ipImageInfo first{40, 0, 8, 0, 0, 300, 0, kWide, 3, kWide, 3 * kWide, a.data()};
  I3ipImageInfo second = first;
  second.Data = b.data();
  EXPECT_EQ(Limited([&] {
              I3ipImageInfo out{};
              const int rc = lib.merge(&first, &second, 0, 1, 1, &out);
              return out.Data == nullptr ? rc : 0;
            }),
            34);
}

}  // namespace
