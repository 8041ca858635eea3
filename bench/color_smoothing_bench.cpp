// The colour background smoothing (i3ColorSmoothing of the staged
// libturnsense3, as its callers bind it) on A4 colour pages at 300 and
// 600 dpi and on a business card, tinted text pages and photos, beside
// OpenCV's smoothing filters on the same pages: medianBlur 5 x 5,
// bilateralFilter (diameter 5) and pyrMeanShiftFiltering (spatial 8,
// colour 16). Everything on one core.
//   color_smoothing_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "tinted_pages.h"

namespace {

using Smoothing = int (*)(I3ipImageInfo*, int, bool, bool, int, I3ipImageInfo*);

Smoothing Entry() {
  static void* lib = dlopen(DRAVN_LIB_DIR "/libturnsense3.so", RTLD_NOW);
  static Smoothing fn = lib ? reinterpret_cast<Smoothing>(dlsym(lib, "i3ColorSmoothing")) : nullptr;
  return fn;
}

enum Size { kCard, kA4 };

// Pages by size, resolution and kind (0 tinted text, 1 photo).
dravn_pages::Image& Page(int size, int dpi, int photo) {
  static std::map<std::tuple<int, int, int>, dravn_pages::Image> pages;
  auto key = std::make_tuple(size, dpi, photo);
  auto it = pages.find(key);
  if (it != pages.end()) return it->second;
  dravn_pages::PageSpec spec;
  spec.dpi = dpi;
  if (size == kCard) spec.widthMm = 90, spec.heightMm = 55;
  return pages.emplace(key, photo ? dravn_pages::RenderPhotoPage(spec) : dravn_pages::RenderTintedPage(spec))
      .first->second;
}

void Label(benchmark::State& state) {
  state.SetLabel(std::string(state.range(0) == kCard ? "card " : "A4 ") + std::to_string(state.range(1)) + " dpi " +
                 (state.range(2) ? "photo" : "tinted text"));
}

void BM_i3ColorSmoothing(benchmark::State& state) {
  dravn_pages::Image& page =
      Page(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
  Smoothing smoothing = Entry();
  if (!smoothing) {
    state.SkipWithError("libturnsense3 not staged");
    return;
  }
  std::vector<uint8_t> out(page.pixels.size());
  I3ipImageInfo in{};
  in.Bpp = 24;
  in.Dpi = static_cast<uint16_t>(state.range(1));
  in.Width = static_cast<uint32_t>(page.width);
  in.Height = static_cast<uint32_t>(page.height);
  in.Bpl = static_cast<uint32_t>(page.BytesPerLine());
  in.DataSize = in.Bpl * in.Height;
  in.Data = page.pixels.data();
  I3ipImageInfo dst = in;
  dst.Data = out.data();
  for (auto _ : state) benchmark::DoNotOptimize(smoothing(&in, 0, true, false, 0, &dst));
  Label(state);
}

template <int kFilter>
void BM_OpenCV(benchmark::State& state) {
  cv::setNumThreads(1);
  dravn_pages::Image& page =
      Page(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
  const cv::Mat src(page.height, page.width, CV_8UC3, page.pixels.data());
  cv::Mat dst;
  for (auto _ : state) {
    if (kFilter == 0) cv::medianBlur(src, dst, 5);
    if (kFilter == 1) cv::bilateralFilter(src, dst, 5, 50, 50);
    if (kFilter == 2) cv::pyrMeanShiftFiltering(src, dst, 8, 16);
    benchmark::DoNotOptimize(dst.data);
  }
  Label(state);
}

void Pages(benchmark::internal::Benchmark* b) {
  for (int photo : {0, 1}) {
    b->Args({kCard, 300, photo});
    b->Args({kA4, 300, photo});
    b->Args({kA4, 600, photo});
  }
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_i3ColorSmoothing)->Apply(Pages);
BENCHMARK_TEMPLATE(BM_OpenCV, 0)->Name("BM_medianBlur5x5")->Apply(Pages);
BENCHMARK_TEMPLATE(BM_OpenCV, 1)->Name("BM_bilateralFilter")->Apply(Pages);
BENCHMARK_TEMPLATE(BM_OpenCV, 2)->Name("BM_pyrMeanShiftFiltering")->Apply(Pages);

}  // namespace

BENCHMARK_MAIN();
