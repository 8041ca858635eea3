// Bitmap library on a binarized A4 text page at 300 and 600 dpi: labelling
// (beside OpenCV's connectedComponentsWithStats on the same page), reduction
// and quarter turns.
//   bitmap_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

#include "CABitmap.h"

namespace {

// A page of text: lines of glyph-like marks of two to four strokes each,
// words of three to nine marks, margins of 25 mm.
struct Page {
  CABitmap bmp;
  cv::Mat grey;  // the same page, 0 or 255 per pixel
};

void Stroke(CABitmap& b, double x0, double y0, double x1, double y1, double width) {
  int steps = static_cast<int>(std::hypot(x1 - x0, y1 - y0)) + 1;
  int r = static_cast<int>(width / 2);
  for (int i = 0; i <= steps; ++i) {
    double t = static_cast<double>(i) / steps;
    int cx = static_cast<int>(x0 + (x1 - x0) * t), cy = static_cast<int>(y0 + (y1 - y0) * t);
    for (int dy = -r; dy <= r; ++dy)
      for (int dx = -r; dx <= r; ++dx) b.pset(cx + dx, cy + dy, 1ul);
  }
}

std::unique_ptr<Page> MakePage(int dpi) {
  auto page = std::make_unique<Page>();
  const double mm = dpi / 25.4;
  const int width = static_cast<int>(210 * mm), height = static_cast<int>(297 * mm);
  page->bmp.alloc(width, height, 1, 0);
  std::mt19937 rng(dpi);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double cellW = 2.2 * mm, cellH = 3.0 * mm, pitch = 4.8 * mm, pen = std::max(2.0, 0.3 * mm);
  for (double y = 25 * mm; y + cellH < height - 25 * mm; y += pitch) {
    double x = 25 * mm;
    while (x + cellW < width - 25 * mm) {
      int letters = 3 + static_cast<int>(u(rng) * 7);
      for (int k = 0; k < letters && x + cellW < width - 25 * mm; ++k, x += cellW) {
        int strokes = 2 + static_cast<int>(u(rng) * 3);
        for (int s = 0; s < strokes; ++s)
          Stroke(page->bmp, x + u(rng) * cellW * 0.8, y + u(rng) * cellH, x + u(rng) * cellW * 0.8, y + u(rng) * cellH,
                 pen);
      }
      x += cellW;  // space between words
    }
  }
  page->grey = cv::Mat(height, width, CV_8UC1);
  for (int yy = 0; yy < height; ++yy)
    for (int xx = 0; xx < width; ++xx) {
      unsigned long v = 0;
      page->bmp.pget(xx, yy, v);
      page->grey.at<uint8_t>(yy, xx) = v ? 255 : 0;
    }
  return page;
}

Page& PageAt(int dpi) {
  static std::map<int, std::unique_ptr<Page>> pages;
  auto& p = pages[dpi];
  if (!p) p = MakePage(dpi);
  return *p;
}

void BM_Label(benchmark::State& state) {
  Page& page = PageAt(static_cast<int>(state.range(0)));
  int64_t groups = 0;
  for (auto _ : state) {
    LBL_DATA d;
    if (lbl_main2(page.bmp, d) != 0) state.SkipWithError("labelling failed");
    groups = d.maxlabel;
    lbl_free(&d);
  }
  state.counters["groups"] = static_cast<double>(groups);
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_OpenCvConnectedComponents(benchmark::State& state) {
  Page& page = PageAt(static_cast<int>(state.range(0)));
  cv::Mat labels, stats, centroids;
  int groups = 0;
  for (auto _ : state) groups = cv::connectedComponentsWithStats(page.grey, labels, stats, centroids, 8, CV_32S) - 1;
  state.counters["groups"] = groups;
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Reduce(benchmark::State& state) {
  Page& page = PageAt(static_cast<int>(state.range(0)));
  const int n = static_cast<int>(state.range(1)), type = static_cast<int>(state.range(2));
  for (auto _ : state) {
    CABitmap small;
    if (small.n_small(page.bmp, n, type) != 0) state.SkipWithError("reduction failed");
    benchmark::DoNotOptimize(small.m_data);
  }
}

void BM_Rotate(benchmark::State& state) {
  Page& page = PageAt(static_cast<int>(state.range(0)));
  const int quarters = static_cast<int>(state.range(1));
  for (auto _ : state) {
    CABitmap turned;
    int rc = quarters == 1   ? turned.rotate90(page.bmp)
             : quarters == 2 ? turned.rotate180(page.bmp)
                             : turned.rotate270(page.bmp);
    if (rc != 0) state.SkipWithError("rotation failed");
    benchmark::DoNotOptimize(turned.m_data);
  }
}

}  // namespace

BENCHMARK(BM_Label)->ArgName("dpi")->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvConnectedComponents)->ArgName("dpi")->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce)
    ->ArgNames({"dpi", "n", "type"})
    ->ArgsProduct({{300, 600}, {2, 4, 8}, {1, 2, 3}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate)
    ->ArgNames({"dpi", "quarters"})
    ->ArgsProduct({{300, 600}, {1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
