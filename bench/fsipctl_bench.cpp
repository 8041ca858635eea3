// Control entry overhead: one fsip_control request with the logs off
// (fsip.conf reread, image and parameter records, table copy, dispatch) on
// an A4 300 dpi colour page, beside OpenCV's conversion of the same page to
// grey and beside a naive judgement of the page. The library is the staged
// one, its judge built in: the request's time is the control layer's work
// and the judgement together (judges_bench times the judges alone).
//   fsipctl_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "dravn_paths.h"
#include "fsip_records.h"

namespace {

using ControlFn = int (*)(fsipctl_request*, fsipctl_image*, fsipctl_image*, unsigned char*);

constexpr int kWidth = 2480, kHeight = 3508;  // A4 at 300 dpi

std::vector<unsigned char>& Page() {
  static std::vector<unsigned char> page = [] {
    std::vector<unsigned char> p(static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<unsigned char>(200 + i * 7 % 55);
    return p;
  }();
  return page;
}

void BM_FsipControlBlankRequest(benchmark::State& state) {
  void* lib = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_LAZY);
  auto control = lib ? reinterpret_cast<ControlFn>(dlsym(lib, "fsip_control")) : nullptr;
  if (!control) {
    state.SkipWithError("the staged libimgforge has no fsip_control");
    return;
  }
  unsigned char lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(i);
  for (auto _ : state) {
    fsipctl_request request;
    memset(&request, 0, sizeof request);
    request.dwFlags = 0x0040;
    fsipctl_image images[2] = {}, results[2] = {};
    images[0] = {Page().data(), 300, kWidth, kHeight, 24, 0, 0};
    benchmark::DoNotOptimize(control(&request, images, results, lut));
  }
  dlclose(lib);
}
BENCHMARK(BM_FsipControlBlankRequest)->Unit(benchmark::kMicrosecond);

void BM_OpenCvGreyOfThePage(benchmark::State& state) {
  cv::Mat colour(kHeight, kWidth, CV_8UC3, Page().data()), grey;
  for (auto _ : state) {
    cv::cvtColor(colour, grey, cv::COLOR_RGB2GRAY);
    benchmark::DoNotOptimize(grey.data);
  }
}
BENCHMARK(BM_OpenCvGreyOfThePage)->Unit(benchmark::kMicrosecond);

// A naive blank-page judgement of the colour page: grey by the judge's
// weights into a new buffer, a working copy, and the contrast test at one
// sample point per half millimetre inside 16 mm margins.
void BM_NaiveBlankJudgement(benchmark::State& state) {
  const unsigned char* rgb = Page().data();
  for (auto _ : state) {
    std::vector<unsigned char> grey(static_cast<size_t>(kWidth) * kHeight);
    for (size_t i = 0; i < grey.size(); ++i)
      grey[i] = static_cast<unsigned char>((77 * rgb[3 * i] + 151 * rgb[3 * i + 1] + 28 * rgb[3 * i + 2]) >> 8);
    std::vector<unsigned char> work(grey);
    const int d = 12, step = d / 2 + 1, s = 4, margin = 16 * d;
    int contrasting = 0;
    for (int y = margin; y < kHeight - margin; y += step) {
      for (int x = margin; x < kWidth - margin; x += step) {
        const unsigned char* p = &work[static_cast<size_t>(y) * kWidth + x];
        const int c = *p, h = std::max(p[-s], p[s]), v = std::max(p[-s * kWidth], p[s * kWidth]);
        if (std::max(h, v) - c > 40) ++contrasting;
      }
    }
    benchmark::DoNotOptimize(contrasting);
  }
}
BENCHMARK(BM_NaiveBlankJudgement)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
