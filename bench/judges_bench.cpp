// The blank-page and colour-or-mono judges of the staged libimgforge on A4
// pages at 300 and 600 dpi, grey and colour, beside their OpenCV peers: the
// blank-page judge (fsip_control 0x0040, on a blank page with show-through,
// which it must examine whole) beside cvtColor of the same page to grey;
// the colour-or-mono judge (P2iGetBestDepth, on a text page with a small
// logo, which reaches the labelling) beside resize with INTER_AREA to the
// same reduced size. OpenCV runs with its own thread pool (threads:0) and
// on one thread (threads:1), as the judges do on their caller's thread.
//   judges_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "dravn_paths.h"
#include "fsip_records.h"
#include "judge_pages.h"

namespace {

using ControlFn = int (*)(fsipctl_request*, fsipctl_image*, fsipctl_image*, unsigned char*);
using JudgeFn = int (*)(_P2IIMG*, int*, void*, void*);

struct Library {
  Library() : handle(dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW)) {
    if (!handle) return;
    control = reinterpret_cast<ControlFn>(dlsym(handle, "fsip_control"));
    depth = reinterpret_cast<JudgeFn>(dlsym(handle, "P2iGetBestDepth"));
  }
  void* handle;
  ControlFn control = nullptr;
  JudgeFn depth = nullptr;
};

Library& Lib() {
  static Library lib;
  return lib;
}

// Pages by name, resolution and kind (grey: R = G = B, or one channel).
const dravn_pages::Image& Page(const char* name, int dpi, bool grey, bool oneChannel) {
  static std::map<std::tuple<std::string, int, bool, bool>, dravn_pages::Image> pages;
  auto key = std::make_tuple(std::string(name), dpi, grey, oneChannel);
  auto it = pages.find(key);
  if (it != pages.end()) return it->second;
  dravn_pages::Image page = dravn_pages::RenderJudgePage({name, grey, false, dpi});
  if (grey) {
    const dravn_pages::Image g = dravn_pages::ToGrey(page);
    if (oneChannel) {
      page = g;
    } else {
      for (size_t i = 0; i < g.pixels.size(); ++i) std::fill_n(&page.pixels[3 * i], 3, g.pixels[i]);
    }
  }
  return pages.emplace(key, std::move(page)).first->second;
}

void BM_BlankJudge(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const bool grey = state.range(1) != 0;
  if (!Lib().control) return state.SkipWithError("no staged libimgforge");
  auto& page = const_cast<dravn_pages::Image&>(Page("show-through", dpi, grey, true));
  unsigned char lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(i);
  for (auto _ : state) {
    fsipctl_request request;
    memset(&request, 0, sizeof request);
    request.dwFlags = 0x0040;
    fsipctl_image images[2] = {}, results[2] = {};
    images[0] = {page.pixels.data(), dpi, page.width, page.height, page.channels * 8, 0, 0};
    if (Lib().control(&request, images, results, lut) != 0 || results[0].nResult != 1)
      return state.SkipWithError("the page was not judged blank");
  }
}
BENCHMARK(BM_BlankJudge)->ArgsProduct({{300, 600}, {1, 0}})->ArgNames({"dpi", "grey"})->Unit(benchmark::kMillisecond);

// OpenCV's default pool, or one thread; restored after the run.
class OpenCvThreads {
 public:
  explicit OpenCvThreads(int64_t one) : m_saved(cv::getNumThreads()) {
    if (one) cv::setNumThreads(1);
  }
  ~OpenCvThreads() { cv::setNumThreads(m_saved); }

 private:
  int m_saved;
};

void BM_OpenCvGreyOfThePage(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const OpenCvThreads threads(state.range(1));
  auto& page = const_cast<dravn_pages::Image&>(Page("show-through", dpi, false, false));
  cv::Mat colour(page.height, page.width, CV_8UC3, page.pixels.data()), grey;
  for (auto _ : state) {
    cv::cvtColor(colour, grey, cv::COLOR_RGB2GRAY);
    benchmark::DoNotOptimize(grey.data);
  }
}
BENCHMARK(BM_OpenCvGreyOfThePage)
    ->ArgsProduct({{300, 600}, {0, 1}})
    ->ArgNames({"dpi", "threads"})
    ->Unit(benchmark::kMillisecond);

void BM_ColourJudge(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  const bool grey = state.range(1) != 0;
  if (!Lib().depth) return state.SkipWithError("no staged libimgforge");
  auto& page = const_cast<dravn_pages::Image&>(Page("colour logo", dpi, grey, false));
  for (auto _ : state) {
    _P2IIMG p{};
    p.pImageData = page.pixels.data();
    p.nBitsPerPixel = 24;
    p.nWidth = page.width, p.nHeight = page.height;
    p.nBytesPerLine = page.width * 3;
    p.nImageSize = static_cast<int32_t>(page.pixels.size());
    p.nXResolution = p.nYResolution = dpi;
    p.nRight = page.width - 1, p.nBottom = page.height - 1;
    int level = 0;
    if (Lib().depth(&p, &level, nullptr, nullptr) != (grey ? 1 : 24))
      return state.SkipWithError("the page was judged wrongly");
  }
}
BENCHMARK(BM_ColourJudge)->ArgsProduct({{300, 600}, {1, 0}})->ArgNames({"dpi", "grey"})->Unit(benchmark::kMillisecond);

void BM_OpenCvResizeArea(benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0)), f = dpi >= 600 ? 12 : 6;
  const OpenCvThreads threads(state.range(1));
  auto& page = const_cast<dravn_pages::Image&>(Page("colour logo", dpi, false, false));
  cv::Mat colour(page.height, page.width, CV_8UC3, page.pixels.data()), small;
  for (auto _ : state) {
    cv::resize(colour, small, cv::Size(page.width / f, page.height / f), 0, 0, cv::INTER_AREA);
    benchmark::DoNotOptimize(small.data);
  }
}
BENCHMARK(BM_OpenCvResizeArea)
    ->ArgsProduct({{300, 600}, {0, 1}})
    ->ArgNames({"dpi", "threads"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
