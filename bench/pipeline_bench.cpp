// Per-step cost of the second backend's page pipeline on synthetic A4
// colour pages at 300 and 600 dpi: decoding, bicubic conversion, quarter
// turns of 24-, 8- and 1-bit pages, the tone pass and the automatic table.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "jpeg_decode.h"
#include "prop_info.h"
#include "selko2_pipeline.h"

namespace {

struct A4 {
  int w, h;
};
A4 Size(int dpi) { return {dpi * 827 / 100, dpi * 1169 / 100}; }

// A document-like page: pale paper, shading, dark text blocks.
std::vector<unsigned char> Page(int w, int h, int bytes) {
  std::vector<unsigned char> p(static_cast<size_t>(w) * h * bytes);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < bytes; ++c) {
        int v = 235 - (x + y) % 40 + 5 * c;
        if ((y / 12) % 3 == 0 && (x / 9) % 7 != 0) v = 30 + 10 * c;
        p[(static_cast<size_t>(y) * w + x) * bytes + c] = static_cast<unsigned char>(v);
      }
  return p;
}

void SetRate(benchmark::State& state, size_t bytesPerPage) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytesPerPage));
  state.counters["time/page"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Decode(benchmark::State& state) {
  static bool loaded = [] {
    char dir[] = "/tmp/pipeline-bench-XXXXXX";
    if (!mkdtemp(dir)) return false;
    const std::string link = std::string(dir) + "/libjpeg.so";
    return symlink(DRAVN_SYSTEM_LIBJPEG, link.c_str()) == 0 && LoadLibjpeg8(dir);
  }();
  if (!loaded) {
    state.SkipWithError("libjpeg not loaded");
    return;
  }
  const A4 a = Size(static_cast<int>(state.range(0)));
  auto pixels = Page(a.w, a.h, 3);
  cv::Mat page(a.h, a.w, CV_8UC3, pixels.data());
  std::vector<unsigned char> jpeg;
  cv::imencode(".jpg", page, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90});
  const JPEGINFO info{static_cast<unsigned>(jpeg.size()), static_cast<unsigned short>(a.w),
                      static_cast<unsigned short>(a.h)};
  // With the device table: 1 applied to each row as it is decoded, 2 in a
  // pass over the decoded page.
  const int table = static_cast<int>(state.range(1));
  const size_t bytes = static_cast<size_t>(a.w) * a.h * 3;
  for (auto _ : state) {
    unsigned char* out = table == 1 ? ReadDataFromJpegMapped(jpeg.data(), info, DeviceAdjustLUT_Selko2)
                                    : ReadDataFromJpeg(jpeg.data(), info);
    if (out && table == 2)
      for (size_t i = 0; i < bytes; ++i) out[i] = DeviceAdjustLUT_Selko2[out[i]];
    benchmark::DoNotOptimize(out);
    free(out);
  }
  SetRate(state, bytes);
}
BENCHMARK(BM_Decode)
    ->ArgsProduct({{300, 600}, {0, 1, 2}})
    ->ArgNames({"dpi", "table"})
    ->Unit(benchmark::kMillisecond);

// From the read resolution (first argument) to the requested one.
void BM_BicubicResize(benchmark::State& state) {
  const A4 from = Size(static_cast<int>(state.range(0))), to = Size(static_cast<int>(state.range(1)));
  const auto src = Page(from.w, from.h, 3);
  KeloImageProcess ip;
  const KELO_IMAGEDATA_PARAMETERS s{1, 1, from.w, from.h, 3 * from.w, 8}, t{1, 1, to.w, to.h, 3 * to.w, 8};
  for (auto _ : state) {
    unsigned char* out = ip.DoResoConv_Color(src.data(), s, t);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  SetRate(state, src.size());
}
BENCHMARK(BM_BicubicResize)
    ->Args({600, 300})
    ->Args({600, 400})
    ->Args({300, 200})
    ->Args({300, 150})
    ->Unit(benchmark::kMillisecond);

// A quarter turn of a page of the given depth.
void BM_Rotate(benchmark::State& state) {
  const A4 a = Size(static_cast<int>(state.range(0)));
  const int bits = static_cast<int>(state.range(1));
  const int bpl = bits == 24 ? 3 * a.w : bits == 8 ? a.w : (a.w + 7) / 8;
  auto page = Page(bpl, a.h, 1);
  _P2IIMG src{page.data(), bits, 0, a.w, a.h, bpl, bpl * a.h, 300, 300, 0, 0, a.w - 1, a.h - 1};
  for (auto _ : state) {
    _P2IIMG dst{};
    KeloImageProcess::P2iRotate(&src, 1, &dst);
    benchmark::DoNotOptimize(dst.pImageData);
    free(dst.pImageData);
  }
  SetRate(state, page.size());
}
BENCHMARK(BM_Rotate)->ArgsProduct({{300, 600}, {24, 8, 1}})->Unit(benchmark::kMillisecond);

// Building a custom table and mapping every byte of the page through it,
// as the pipeline's tone application does.
void BM_TonePass(benchmark::State& state) {
  const A4 a = Size(static_cast<int>(state.range(0)));
  auto page = Page(a.w, a.h, 3);
  unsigned char table[256];
  for (auto _ : state) {
    CSelko2PagePipeline::ApplyLutContrastBrightness(20, 10, 230, 10, 1600, table);
    for (unsigned char& b : page) b = table[b];
    benchmark::DoNotOptimize(page.data());
  }
  SetRate(state, page.size());
}
BENCHMARK(BM_TonePass)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);

// The automatic table: three histograms, the measurement and the curve.
void BM_AutoTable(benchmark::State& state) {
  const A4 a = Size(static_cast<int>(state.range(0)));
  auto page = Page(a.w, a.h, 3);
  I3ipImageInfo info{};
  info.Bpp = 24;
  info.Width = static_cast<uint32_t>(a.w);
  info.Height = static_cast<uint32_t>(a.h);
  info.Bpl = info.Width * 3;
  info.DataSize = info.Bpl * info.Height;
  info.Data = page.data();
  unsigned char table[256];
  for (auto _ : state) {
    g_PropInfo = KELO_PROP_INFO{};
    benchmark::DoNotOptimize(CSelko2PagePipeline::I3ipIpunitProcess_AutoLUT(2, &info, table));
  }
  SetRate(state, page.size());
}
BENCHMARK(BM_AutoTable)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
