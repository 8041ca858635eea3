// The Corvane5 host-side reduction of a colour page to one bit per pixel
// (RGB -> grey -> 1-bit) on A4 pages at 300 and 600 dpi, beside OpenCV's
// cvtColor and threshold on the same page in the same run.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "kelo_devctl_corvane.h"

using dravnmain::KeloDevCtlCorvane5;

namespace {

struct Page {
  int width, height;
  std::vector<unsigned char> rgb;
};

const Page& A4(int dpi) {
  static Page pages[2];
  Page& p = pages[dpi == 600];
  if (p.rgb.empty()) {
    p.width = 210 * dpi * 10 / 254, p.height = 297 * dpi * 10 / 254;
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        for (int c = 0; c < 3; ++c)
          p.rgb[(static_cast<size_t>(y) * p.width + x) * 3 + c] =
              static_cast<unsigned char>((x / 7 % 5 == 0 || y / 11 % 9 == 0) ? 20 + 30 * c : 230 - c);
  }
  return p;
}

void Reduction(benchmark::State& state) {
  const Page& p = A4(static_cast<int>(state.range(0)));
  const unsigned bpl = (p.width + 7) / 8;
  std::vector<unsigned char> grey(static_cast<size_t>(p.width) * p.height), bits(static_cast<size_t>(bpl) * p.height);
  for (auto _ : state) {
    std::fill(bits.begin(), bits.end(), 0);
    KeloDevCtlCorvane5::ConvRGB2GrayN_Ex(grey.data(), p.width, p.width, p.height, 0, p.rgb.data());
    KeloDevCtlCorvane5::GrayToBin(bits.data(), bpl, p.width, p.height, 128, grey.data());
    benchmark::DoNotOptimize(bits.data());
  }
}

// OpenCV's road: grey, then a binary threshold (one byte per pixel; packing
// to bits is not counted in its favour or against it). The second argument
// is OpenCV's thread count (0: its default, every core); ours runs on one.
void OpenCvReduction(benchmark::State& state) {
  const Page& p = A4(static_cast<int>(state.range(0)));
  const int threads = cv::getNumThreads();
  if (state.range(1) > 0) cv::setNumThreads(static_cast<int>(state.range(1)));
  cv::Mat rgb(p.height, p.width, CV_8UC3, const_cast<unsigned char*>(p.rgb.data())), grey, bin;
  for (auto _ : state) {
    cv::cvtColor(rgb, grey, cv::COLOR_RGB2GRAY);
    cv::threshold(grey, bin, 128, 255, cv::THRESH_BINARY_INV);
    benchmark::DoNotOptimize(bin.data);
  }
  cv::setNumThreads(threads);
}

// Wall-clock time: OpenCV's CPU time counts only the calling thread.
BENCHMARK(Reduction)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpenCvReduction)
    ->ArgsProduct({{300, 600}, {0, 1}})
    ->ArgNames({"dpi", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
