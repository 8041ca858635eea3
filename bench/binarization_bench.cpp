// Edge-threshold binarization through our staged libhelper.so (Gray2BinImage
// with the unit's arguments for the backend's default settings) beside
// OpenCV's adaptiveThreshold (mean, block 31) and Sauvola (window 31,
// k 0.34, R 128), called in turn on the same degraded A4 page, one thread.
// The time is ours; "mean_ms" and "sauvola_ms" are the peers', "ratio" ours
// over the adaptive mean, and each side's F-measure against the clean page
// is printed beside it. "BinAuto" runs the whole unit entry instead (loaded
// from the staged tree as the backend loads it, with the defaults: tone
// pre-processing, edge threshold and packing).
//   binarization_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "I3ipImageInfo.h"
#include "degraded_pages.h"
#include "dravn_paths.h"
#include "edge_threshold.h"
#include "helper_binding.h"

namespace {

using dravn_degraded::Kind;
using Clock = std::chrono::steady_clock;

const dravn_degraded::Page& PageOf(Kind kind, int dpi) {
  static std::map<std::pair<int, int>, dravn_degraded::Page> pages;
  auto& p = pages[{int(kind), dpi}];
  if (p.grey.empty()) p = dravn_degraded::MakePage(kind, dpi);
  return p;
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

using Entry = int (*)(I3ipImageInfo*, I3ipImageInfo*, int, int, int);
Entry g_entry;

void Run(benchmark::State& st, Kind kind, int dpi, bool entry) {
  const dravn_degraded::Page& page = PageOf(kind, dpi);
  std::vector<uint8_t> grey = page.grey, ours(grey.size()), mean(grey.size()), sauvola;
  const cv::Mat src(page.height, page.width, CV_8U, grey.data());
  cv::Mat dst(page.height, page.width, CV_8U, mean.data());
  int results[16] = {};
  I3ipImageInfo in{}, out{};
  auto call_entry = [&] { g_entry(&in, &out, 0, 5, 0); };
  // Outside the time: the packed page to bytes for the F-measure.
  auto unpack = [&] {
    for (int y = 0; y < page.height; ++y)
      for (int x = 0; x < page.width; ++x)
        ours[size_t(y) * page.width + x] = (out.Data[size_t(y) * out.Bpl + x / 8] >> (7 - x % 8)) & 1;
    std::free(out.Data);
    out.Data = nullptr;
  };
  auto call_ours = [&] {
    if (entry) return call_entry();
    Gray2BinImage(grey.data(), ours.data(), page.height, page.width, 0, -5, 5, 4, nullptr, 0, 1, 3, true, false,
                  results, 0);
  };
  auto call_mean = [&] { cv::adaptiveThreshold(src, dst, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 31, 10); };
  auto call_sauvola = [&] { sauvola = dravn_degraded::Sauvola(page, 31, 0.34, 128); };
  double to = 0, tm = 0, ts = 0;
  for (auto _ : st) {
    if (entry) {  // the unit takes the page's buffer: a fresh copy, outside the time
      in = I3ipImageInfo{};
      in.Bpp = 8, in.Dpi = uint16_t(dpi), in.Width = uint32_t(page.width), in.Height = uint32_t(page.height);
      in.Bpl = in.Width, in.DataSize = uint32_t(grey.size());
      in.Data = static_cast<unsigned char*>(std::malloc(grey.size()));
      std::memcpy(in.Data, grey.data(), grey.size());
    }
    const auto t0 = Clock::now();
    call_ours();
    const auto t1 = Clock::now();
    call_mean();
    const auto t2 = Clock::now();
    call_sauvola();
    const auto t3 = Clock::now();
    if (entry) unpack();
    to += Seconds(t0, t1);
    tm += Seconds(t1, t2);
    ts += Seconds(t2, t3);
    st.SetIterationTime(Seconds(t0, t1));
  }
  const double n = double(st.iterations());
  for (uint8_t& v : ours) v = v ? 255 : 0;
  st.counters["mean_ms"] = tm / n * 1e3;
  st.counters["sauvola_ms"] = ts / n * 1e3;
  st.counters["ratio"] = to / tm;
  st.counters["F"] = dravn_degraded::FMeasure(ours, page.truth);
  st.counters["F_mean"] = dravn_degraded::FMeasure(mean, page.truth);
  st.counters["F_sauvola"] = dravn_degraded::FMeasure(sauvola, page.truth);
}

}  // namespace

int main(int argc, char** argv) {
  cv::setNumThreads(1);
  if (LoadI3HelperBinarization() != 0) {
    std::fprintf(stderr, "libhelper.so not found in the staged lib directory\n");
    return 1;
  }
  void* unit = dlopen(DRAVN_LIB_DIR "/libbinarization.so", RTLD_NOW);
  g_entry = unit ? reinterpret_cast<Entry>(dlsym(unit, "I3ipIpunitProcess_BinAuto")) : nullptr;
  for (bool entry : {false, true}) {
    if (entry && !g_entry) break;
    for (int dpi : {300, 600})
      for (Kind kind : dravn_degraded::kAllKinds) {
        std::string name = std::string(entry ? "BinAuto/" : "Gray2BinImage/") + std::to_string(dpi) + "dpi/" +
                           dravn_degraded::KindName(kind);
        for (char& c : name)
          if (c == ' ') c = '_';
        benchmark::RegisterBenchmark(name.c_str(),
                                     [kind, dpi, entry](benchmark::State& st) { Run(st, kind, dpi, entry); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
      }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  UnloadI3Helper();
  if (unit) dlclose(unit);
  return 0;
}
