// Whole scans through the main backend's SANE entry points against a
// scripted zero-latency device: A4 at 300 dpi in colour, simplex and
// duplex. Reports pages per minute and the peak heap held during a batch,
// in bytes and in pages (the queue and the copies are what costs here).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sane/sane.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "main_globals.h"
#include "main_options.h"
#include "model_catalog.h"
#include "sane_main.h"
#include "scripted_device.h"

using namespace dravnmain;

namespace {

constexpr int kWidth = 2480, kLines = 3508, kBytesPerLine = kWidth * 3;  // A4, 300 dpi, RGB
constexpr size_t kPageBytes = static_cast<size_t>(kBytesPerLine) * kLines;
constexpr int kSheets = 10;


void ScanBatch(benchmark::State& state) {
  const bool duplex = state.range(0) != 0;
  SaneInit(nullptr, nullptr);
  std::vector<SANE_Byte> buffer(256 * 1024);
  // The option table of an own model, set as a front end sets it.
  const auto& model = dravn::kDocuvaneModels[0];
  CreateOptList(model.vendorId, model.productId);
  {
    dravn_test::ScriptedDevice holder;
    velmorak.store(&holder);
    char source[16] = "ADF Front", mode[16] = "Color";
    if (duplex) snprintf(source, sizeof source, "ADF Duplex");
    SANE_Word autofeed = SANE_TRUE, resolution = 300;
    SaneControlOption(&holder, OPTION_SOURCE, SANE_ACTION_SET_VALUE, source, nullptr);
    SaneControlOption(&holder, OPTION_MODE, SANE_ACTION_SET_VALUE, mode, nullptr);
    SaneControlOption(&holder, OPTION_RESOLUTION, SANE_ACTION_SET_VALUE, &resolution, nullptr);
    SaneControlOption(&holder, OPTION_AUTOFEED, SANE_ACTION_SET_VALUE, &autofeed, nullptr);
    velmorak.store(nullptr);
  }
  const int maxPages = kSheets * (duplex ? 2 : 1);
  size_t peak = 0;
  int64_t pages = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* dev = new dravn_test::ScriptedDevice;
    dravn_test::ScriptedSheet sheet;
    sheet.bytesPerLine = kBytesPerLine;
    sheet.frontLines = kLines;
    sheet.backLines = duplex ? kLines : 0;
    dev->sheets.assign(kSheets, sheet);
    velmorak.store(dev);
    state.ResumeTiming();

    PeakSampler sampler;
    // What a front end does with the batch: start, read each page to its
    // end, start again until the feeder is empty, cancel.
    for (int n = 0; n <= maxPages; ++n) {
      if (SaneStart(dev) != SANE_STATUS_GOOD) break;
      SANE_Parameters params;
      SaneGetParameters(dev, &params);
      SANE_Int length = 0;
      while (SaneRead(dev, buffer.data(), static_cast<SANE_Int>(buffer.size()), &length) == SANE_STATUS_GOOD) {
      }
      ++pages;
    }
    SaneCancel(dev);
    peak = std::max(peak, sampler.Stop());

    state.PauseTiming();
    velmorak.store(nullptr);
    delete dev;
    state.ResumeTiming();
  }
  SaneExit();
  state.counters["pages_per_minute"] =
      benchmark::Counter(static_cast<double>(pages) * 60.0, benchmark::Counter::kIsRate);
  state.counters["peak_heap_MB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
  state.counters["peak_pages_held"] = static_cast<double>(peak) / static_cast<double>(kPageBytes);
}

}  // namespace

BENCHMARK(ScanBatch)->Arg(0)->Arg(1)->ArgName("duplex")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
