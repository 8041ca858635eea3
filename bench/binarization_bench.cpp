// Edge-threshold binarization through our staged libhelper.so (Gray2BinImage
// with the unit's arguments for the backend's default settings) beside
// OpenCV's adaptiveThreshold (mean, block 31) and Sauvola (window 31,
// k 0.34, R 128), called in turn on the same degraded A4 page, one thread.
// The time is ours; "mean_ms" and "sauvola_ms" are the peers', "ratio" ours
// over the adaptive mean, and each side's F-measure against the clean page
// is printed beside it. "BinAuto" runs the whole unit entry instead (loaded
// from the staged tree as the backend loads it, with the defaults: tone
// pre-processing, edge threshold and packing). "PostPro" times the
// post-processing (specks up to 3 pixels, an opening by 3) on 1 to 4 band
// threads beside OpenCV's opening of the same size ("opening_ms"), and
// "NoiseAnalysis" / "BackgroundAnalysis" the two analyses that the
// orientation path runs, beside the adaptive mean of the same page.
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
#include "analysis.h"
#include "degraded_pages.h"
#include "dravn_paths.h"
#include "driver.h"
#include "edge_threshold.h"
#include "helper_binding.h"
#include "i3ip_share.h"

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
    if (entry) unpack();
    to += Seconds(t0, t1);
    tm += Seconds(t1, t2);
    st.SetIterationTime(Seconds(t0, t1));
  }
  // Sauvola (a plain reference, far slower than either) once, for its
  // F-measure and a rough time: in the loop it held every row for seconds.
  const auto s0 = Clock::now();
  call_sauvola();
  ts = Seconds(s0, Clock::now());
  const double n = double(st.iterations());
  for (uint8_t& v : ours) v = v ? 255 : 0;
  st.counters["mean_ms"] = tm / n * 1e3;
  st.counters["sauvola_ms"] = ts * 1e3;
  st.counters["ratio"] = to / tm;
  st.counters["F"] = dravn_degraded::FMeasure(ours, page.truth);
  st.counters["F_mean"] = dravn_degraded::FMeasure(mean, page.truth);
  st.counters["F_sauvola"] = dravn_degraded::FMeasure(sauvola, page.truth);
}

// The page in black and white as the engine hands it to post-processing.
std::vector<uint8_t> BytesOf(const dravn_degraded::Page& page) {
  std::vector<uint8_t> grey = page.grey, bytes(grey.size());
  int results[16] = {};
  Gray2BinImage(grey.data(), bytes.data(), page.height, page.width, 0, -5, 5, 4, nullptr, 0, 1, 3, true, false,
                results, 0);
  return bytes;
}

void RunPost(benchmark::State& st, int dpi, int threads) {
  const dravn_degraded::Page& page = PageOf(Kind::kBlurNoise, dpi);
  const std::vector<uint8_t> bytes = BytesOf(page);
  std::vector<uint8_t> out(bytes.size()), opened(bytes.size());
  int params[32] = {};
  params[5] = 1, params[7] = 3;  // an opening by 3, specks up to 3 pixels
  const cv::Mat src(page.height, page.width, CV_8U, const_cast<uint8_t*>(bytes.data()));
  cv::Mat dst(page.height, page.width, CV_8U, opened.data());
  const cv::Mat mask = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2, 2));
  double to = 0, tp = 0;
  for (auto _ : st) {
    const auto t0 = Clock::now();
    PostProImage(bytes.data(), out.data(), page.height, page.width, params, 0x08, nullptr, 0, threads);
    const auto t1 = Clock::now();
    cv::morphologyEx(src, dst, cv::MORPH_OPEN, mask);
    const auto t2 = Clock::now();
    to += Seconds(t0, t1), tp += Seconds(t1, t2);
    st.SetIterationTime(Seconds(t0, t1));
  }
  st.counters["opening_ms"] = tp / double(st.iterations()) * 1e3;
  st.counters["ratio"] = to / tp;
}

void RunAnalysis(benchmark::State& st, int dpi, bool background) {
  const dravn_degraded::Page& page = PageOf(Kind::kBlurNoise, dpi);
  std::vector<uint8_t> mean(page.grey.size());
  const cv::Mat src(page.height, page.width, CV_8U, const_cast<uint8_t*>(page.grey.data()));
  cv::Mat dst(page.height, page.width, CV_8U, mean.data());
  int params[32] = {}, results[16] = {}, out[16] = {};
  params[13] = 10;
  double to = 0, tm = 0;
  for (auto _ : st) {
    const auto t0 = Clock::now();
    if (background)
      advancedprocess(page.grey.data(), page.height, page.width, 320, params, results, 0);
    else
      ImageNoiseFilterAnalyzeFunction(page.grey.data(), page.height, page.width, out);
    const auto t1 = Clock::now();
    cv::adaptiveThreshold(src, dst, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 31, 10);
    const auto t2 = Clock::now();
    to += Seconds(t0, t1), tm += Seconds(t1, t2);
    st.SetIterationTime(Seconds(t0, t1));
  }
  st.counters["mean_ms"] = tm / double(st.iterations()) * 1e3;
  st.counters["ratio"] = to / tm;
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
  if (LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so") == 0)
    for (int dpi : {300, 600}) {
      const std::string at = "/" + std::to_string(dpi) + "dpi";
      for (int threads = 1; threads <= 4; ++threads)
        benchmark::RegisterBenchmark(("PostPro/threads:" + std::to_string(threads) + at).c_str(),
                                     [dpi, threads](benchmark::State& st) { RunPost(st, dpi, threads); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
      for (bool background : {false, true})
        benchmark::RegisterBenchmark(((background ? "BackgroundAnalysis" : "NoiseAnalysis") + at).c_str(),
                                     [dpi, background](benchmark::State& st) { RunAnalysis(st, dpi, background); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  FreeI3ipShare();
  UnloadI3Helper();
  if (unit) dlclose(unit);
  return 0;
}
