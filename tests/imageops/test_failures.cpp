// Whatever OpenCV throws stays inside the library: the entry answers its
// memory or argument code and the calling process goes on. Each provoking
// call runs in a child process, some under a small address-space limit.
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <opencv2/core.hpp>

#include "imageops_test_util.h"

#if defined(__SANITIZE_ADDRESS__)
#define DRAVN_ASAN 1
// Huge requests answer null instead of stopping the program.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#else
#define DRAVN_ASAN 0
#endif

using namespace imageops_test;

namespace {

// Exit codes of the child: 100 - status, so 100 is success, 104 memory, 105
// argument.
int Code(IppStatus s) { return 100 - s; }

// Lets the process grow by only `headroom` bytes more.
void LimitAddressSpace(size_t headroom) {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  statm >> pages;
  const rlim_t limit = pages * size_t(sysconf(_SC_PAGESIZE)) + headroom;
  rlimit r{limit, limit};
  setrlimit(RLIMIT_AS, &r);
}

// A region 2^24 pixels wide and one row high, with the rows around it that
// a 3 x 3 neighbourhood reads: OpenCV's working rows for it need far more
// than the limit leaves.
struct WideRow {
  static constexpr int kWidth = 1 << 24;
  std::vector<uint8_t> src = std::vector<uint8_t>(size_t(kWidth + 2) * 3 * 3 * 2, 1);
  std::vector<uint8_t> dst = std::vector<uint8_t>(size_t(kWidth) * 3 * 2, 0);
  int srcStep = (kWidth + 2) * 3 * 2;
  const uint8_t* In() const { return src.data() + srcStep + 6; }
};

}  // namespace

TEST(Failures, ResizeToTerabytesAnswersMemory) {
  std::vector<uint8_t> src(1000 * 1000, 7), dst(16, 0);
  const int code = InChild([&] {
    return Code(OPCV(OPCV_ippiResizeSqrPixel_8u_C1R)(src.data(), {1000, 1000}, 1000, {0, 0, 1000, 1000}, dst.data(), 4,
                                                     {0, 0, 4, 4}, 1e5, 1e5, 0, 0, 1, nullptr));
  });
  EXPECT_EQ(code, Code(ippStsMemAllocErr));
  EXPECT_EQ(std::count(dst.begin(), dst.end(), 0), 16);
}

TEST(Failures, OpenCVAssertionsAnswerArgument) {
  // A 16-bit row step that is odd: OpenCV refuses the header.
  std::vector<uint8_t> src(64 * 8, 3), dst(64 * 8, 0);
  const int32_t kernel[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  const int code = InChild([&] {
    const IppStatus a =
        OPCV(IPPShare_ippiConvert_8u16s_C1R)(src.data(), 64, reinterpret_cast<int16_t*>(dst.data()), 33, {8, 4});
    const IppStatus b = OPCV(IPPShare_ippiFilter_16s_C1R)(reinterpret_cast<int16_t*>(src.data() + 64 + 2), 63,
                                                          reinterpret_cast<int16_t*>(dst.data()), 64, {8, 4}, kernel,
                                                          {3, 3}, {1, 1}, 1);
    return a == b ? Code(a) : 1;
  });
  EXPECT_EQ(code, Code(ippStsBadArgErr));
}

TEST(Failures, NoMemoryInsideOpenCVAnswersMemory) {
  if (DRAVN_ASAN) GTEST_SKIP() << "the sanitizer reserves more address space than the limit leaves";
  const uint8_t mask[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  const int32_t kernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  struct Case {
    const char* what;
    std::function<IppStatus(WideRow&)> call;
  };
  const IppiSize roi{WideRow::kWidth, 1};
  const Case cases[] = {
      {"median",
       [&](WideRow& w) {
         return OPCV(IPPShare_ippiFilterMedian_8u_C1R)(w.In(), w.srcStep, w.dst.data(), roi.width, roi, {3, 3}, {1, 1});
       }},
      {"median C3",
       [&](WideRow& w) {
         return OPCV(IPPShare_ippiFilterMedian_8u_C3R)(w.In(), w.srcStep, w.dst.data(), 3 * roi.width, roi, {3, 3},
                                                       {1, 1});
       }},
      {"dilate",
       [&](WideRow& w) {
         return OPCV(IPPShare_ippiDilate_8u_C1R)(w.In(), w.srcStep, w.dst.data(), roi.width, roi, mask, {3, 3}, {1, 1});
       }},
      {"erode",
       [&](WideRow& w) {
         return OPCV(IPPShare_ippiErode_8u_C1R)(w.In(), w.srcStep, w.dst.data(), roi.width, roi, mask, {3, 3}, {1, 1});
       }},
      {"filter",
       [&](WideRow& w) {
         return OPCV(IPPShare_ippiFilter_8u_C1R)(w.In(), w.srcStep, w.dst.data(), roi.width, roi, kernel, {3, 3},
                                                 {1, 1}, 16);
       }},
      {"filter C3",
       [&](WideRow& w) {
         return OPCV(IPPShare_ippiFilter_8u_C3R)(w.In(), w.srcStep, w.dst.data(), 3 * roi.width, roi, kernel, {3, 3},
                                                 {1, 1}, 16);
       }},
      {"filter 16s",
       [&](WideRow& w) {
         return OPCV(IPPShare_ippiFilter_16s_C1R)(reinterpret_cast<const int16_t*>(w.src.data() + w.srcStep + 2),
                                                  w.srcStep, reinterpret_cast<int16_t*>(w.dst.data()), 2 * roi.width,
                                                  roi, kernel, {3, 3}, {1, 1}, 16);
       }},
      {"planes to YUV",
       [&](WideRow& w) {
         Ipp8u* const planes[3] = {w.dst.data(), w.dst.data() + roi.width, w.dst.data() + 2 * roi.width};
         return OPCV(IPPMini_ippiRGBToYUV_8u_C3P3R)(w.In(), w.srcStep, planes, 3 * roi.width, roi);
       }},
      {"box in place",
       [&](WideRow& w) {
         return OPCV(IPPMini_ippiFilterBox_8u_C3IR)(const_cast<Ipp8u*>(w.In()), w.srcStep, roi, {3, 3}, {1, 1});
       }},
      {"bilateral",
       [&](WideRow& w) {
         return OPCV(OPCV_ippiFilterBilateral_8u_C1R)(w.In(), w.srcStep, w.dst.data(), roi.width, roi, {3, 3}, 9, 9);
       }},
      {"page noise reduction",
       [&](WideRow& w) { return IppStatus(OPCV(DeosNrRGB)(w.src.data(), w.dst.data(), roi.width / 2, 3, 1, 1)); }},
      {"three-channel resize",
       [&](WideRow& w) {
         return OPCV(IPPMini_ippiResize_8u_C3R)(w.src.data(), {64, 64}, 192, {0, 0, 64, 64}, w.dst.data(), 192,
                                                {64, 64}, 1e5, 1e5, 1);
       }},
  };
  for (const auto& c : cases) {
    const int code = InChild([&] {
      cv::setNumThreads(0);  // no worker threads to start under the limit
      WideRow w;
      LimitAddressSpace(size_t(16) << 20);
      return Code(c.call(w));
    });
    EXPECT_EQ(code, Code(ippStsMemAllocErr)) << c.what;
  }
}

TEST(Failures, SgemmWithoutMemoryReturnsAndTheProcessLives) {
  if (DRAVN_ASAN) GTEST_SKIP() << "the sanitizer reserves more address space than the limit leaves";
  const int code = InChild([] {
    cv::setNumThreads(0);
    const int n = 400;
    std::vector<float> a(size_t(n) * n, 1), b(size_t(n) * n, 1), c(size_t(n) * n, 0);
    auto* sgemm = OPCV(OPCV_cblas_sgemm);
    LimitAddressSpace(size_t(1) << 20);
    sgemm(CblasRowMajor, CblasTrans, CblasTrans, n, n, n, 1, a.data(), n, b.data(), n, 0, c.data(), n);
    return 100;
  });
  EXPECT_EQ(code, 100);
}

TEST(Failures, PagesWithoutMemoryAnswerMemoryAndHandNothingOut) {
  if (DRAVN_ASAN) GTEST_SKIP() << "the sanitizer reserves more address space than the limit leaves";
  const int code = InChild([] {
    VkRect r{0, 0, 64, 64};
    VKIMG* small = nullptr;
    if (OPCV(CreateNewVKIMGPtr)(&small, &r, 8)) return 1;
    VkImageDesc d{30000, 30000, 0, 0, 0, 8, 0};
    VkImageDesc* dp = &d;
    auto* deskew = OPCV(DeskewImageWithIPP);
    auto* resize = OPCV(ResizeImageWithIPPEx);
    auto* create = OPCV(CreateNewVKIMGPtr);
    VkRect big{0, 0, 30000, 30000};
    LimitAddressSpace(size_t(64) << 20);
    VKIMG* out = small;
    const int16_t a = deskew(small, &dp, &out, 1, 0, 1.0);
    if (out) return 2;
    out = small;
    const int16_t b = resize(small, &out, 1, 400);
    if (out) return 3;
    out = small;
    const int16_t c = create(&out, &big, 8);
    if (out) return 4;
    return a == -108 && b == -108 && c == -108 ? 100 : 5;
  });
  EXPECT_EQ(code, 100);
}

TEST(Failures, CompressionWithoutMemoryAnswersMemory) {
  if (DRAVN_ASAN) GTEST_SKIP() << "the sanitizer reserves more address space than the limit leaves";
  const int code = InChild([] {
    // Noise compresses badly: the output must grow well past the limit.
    const int w = 3000, h = 3000;
    std::vector<uint8_t> pixels(size_t(w) * h);
    for (auto& p : pixels) p = uint8_t(Rng()());
    VKIMG page{pixels.data(), 8, w, h, w, w * h};
    auto* compress = OPCV(CompressJPEG);
    LimitAddressSpace(size_t(2) << 20);
    uint8_t* out = reinterpret_cast<uint8_t*>(1);
    uint32_t size = 5;
    const int16_t st = compress(&page, 300, 788, &out, &size);
    return st == -108 && !out && size == 0 ? 100 : 1;
  });
  EXPECT_EQ(code, 100);
}
