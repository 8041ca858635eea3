// The orientation unit per page, one core. BM_Entry times the staged
// libturnsense3's entry as the second backend calls it (24-bit or 8-bit
// pages) on A4 text, photo, blank and textured pages at 300 and 600 dpi and
// on a small colour card. BM_Driver runs the same grey pages through the
// driver (compiled in, over the staged libopencv and libhelper.so, with the
// fixed-bias test engines) and breaks each page down by stage: background
// (decimation, Sauvola, texture test), lines, texture (text detector),
// crops and ranking, recognition (scorers and vote), and the network's
// batches, windows and time. BM_Entry runs the staged trained engines,
// BM_Driver the tiny test engines, whose network share is far smaller.
//   turnsense_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "cnn_classifier.h"
#include "cnn_kernels.h"
#include "dravn_paths.h"
#include "fsip_records.h"
#include "helper_binding.h"
#include "i3ip_share.h"
#include "orient_driver.h"
#include "test_pages.h"
#include "text_line_pages.h"
#include "tinted_pages.h"

namespace {

enum Kind { kText, kPhoto, kBlank, kTextured, kCard };
const char* const kKindNames[] = {"text", "photo", "blank", "textured", "card"};

// Grey and colour versions of one page.
struct Page {
  int width = 0, height = 0;
  std::vector<uint8_t> grey, colour;
};

Page& PageOf(int kind, int dpi) {
  static std::map<std::pair<int, int>, Page> pages;
  auto key = std::make_pair(kind, dpi);
  auto it = pages.find(key);
  if (it != pages.end()) return it->second;
  Page page;
  if (kind == kCard) {
    dravn_pages::PageSpec spec;
    spec.dpi = dpi, spec.widthMm = 85, spec.heightMm = 54;
    const dravn_pages::Image card = dravn_pages::RenderTintedPage(spec);
    page.width = card.width, page.height = card.height;
    page.colour = card.pixels;
    page.grey = dravn_pages::ToGrey(card).pixels;
  } else {
    using namespace dravn_text_pages;
    Grey g = kind == kPhoto ? PhotoPage(dpi).page : LetterPage(dpi, 40, true).page;
    if (kind == kBlank) std::fill(g.pixels.begin(), g.pixels.end(), 236);
    if (kind == kTextured)
      for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
          if (g.At(x, y) > 128) g.At(x, y) = ((x / 2 + y / 2) % 2) ? 240 : 150;
    page.width = g.width, page.height = g.height;
    page.grey = g.pixels;
    page.colour.resize(g.pixels.size() * 3);
    for (size_t i = 0; i < g.pixels.size(); ++i) {
      const uint8_t v = g.pixels[i];
      page.colour[3 * i] = v, page.colour[3 * i + 1] = uint8_t(v * 31 / 32), page.colour[3 * i + 2] = uint8_t(v * 7 / 8);
    }
  }
  return pages.emplace(key, std::move(page)).first->second;
}

void Label(benchmark::State& state, const char* depth) {
  state.SetLabel(std::string(kKindNames[state.range(0)]) + " " + std::to_string(state.range(1)) + " dpi " + depth);
}

using Entry = int (*)(_P2IIMG*, int*);

Entry StagedEntry() {
  static void* lib = dlopen(DRAVN_LIB_DIR "/libturnsense3.so", RTLD_NOW);
  static unsigned char* ready = lib ? static_cast<unsigned char*>(dlsym(lib, "gInitialized")) : nullptr;
  static Entry fn = ready && *ready ? reinterpret_cast<Entry>(dlsym(lib, "I3ipIpunitProcess_Turnsense")) : nullptr;
  return fn;
}

void BM_Entry(benchmark::State& state) {
  const bool colour = state.range(2) != 0;
  Page& page = PageOf(int(state.range(0)), int(state.range(1)));
  Label(state, colour ? "colour" : "grey");
  Entry entry = StagedEntry();
  if (!entry) {
    state.SkipWithError("libturnsense3 not staged or not ready");
    return;
  }
  _P2IIMG img{};
  img.pImageData = colour ? page.colour.data() : page.grey.data();
  img.nBitsPerPixel = colour ? 24 : 8;
  img.nWidth = page.width, img.nHeight = page.height;
  img.nBytesPerLine = colour ? 3 * page.width : page.width;
  img.nImageSize = img.nBytesPerLine * page.height;
  img.nXResolution = img.nYResolution = int(state.range(1));
  int out[2] = {0, 0}, rc = 0;
  for (auto _ : state) {
    rc = entry(&img, out);
    benchmark::DoNotOptimize(out);
  }
  state.counters["rc"] = rc;
  state.counters["turn"] = out[0];
}

// The fixed-bias test engines, read by the static driver.
OcrEngine* FixtureEngine() {
  static OcrEngine* engine = [] {
    if (LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so") != 0 || LoadI3Helper(DRAVN_LIB_DIR "/libhelper.so", 129) != 0)
      return static_cast<OcrEngine*>(nullptr);
    gIPPShare_cblas_sgemm = reinterpret_cast<SgemmFn>(dlsym(g_i3ipShare.handle, "OPCV_cblas_sgemm"));
    const std::string models = std::string(DRAVN_SOURCE_DIR) + "/tests/fixtures/cnn_models";
    std::string detector = models + "/detector";
    const std::string bias = models + "/fixed_bias";
    auto* e = new OcrEngine;
    e->detector1 = TDInit(detector.data());
    e->detector2 = TDInit(detector.data());
    e->script1 = VOMBCNN_Init(bias.c_str(), "%s/model/swap_model.txt");
    e->rotation1 = VOMBCNN_Init(bias.c_str(), "%s/model/swap_rotate_model.txt");
    e->script2 = VOMBCNN_Init(bias.c_str(), "%s/model/swap_model.txt");
    e->rotation2 = VOMBCNN_Init(bias.c_str(), "%s/model/swap_rotate_model.txt");
    return e;
  }();
  return engine;
}

void BM_Driver(benchmark::State& state) {
  Page& page = PageOf(int(state.range(0)), int(state.range(1)));
  Label(state, "grey");
  OcrEngine* engine = FixtureEngine();
  if (!engine) {
    state.SkipWithError("libopencv or libhelper.so not staged");
    return;
  }
  std::vector<uint8_t> grey;
  turnsense::g_driverStages = turnsense::DriverStages{};
  cnn::g_classifyTally = cnn::ClassifyTally{};
  AD_OUTPUT out{};
  for (auto _ : state) {
    state.PauseTiming();
    grey = page.grey;  // the driver smooths a textured page in place
    out = AD_OUTPUT{};
    state.ResumeTiming();
    auto_orientation_Pavix_v2(engine, grey.data(), nullptr, page.width, page.height, page.width, int(state.range(1)),
                              out, nullptr, nullptr, 0);
  }
  const double n = double(state.iterations()), ms = 1000.0 / n;
  const turnsense::DriverStages& s = turnsense::g_driverStages;
  state.counters["bg_ms"] = s.background * ms;
  state.counters["lines_ms"] = s.lines * ms;
  state.counters["texture_ms"] = s.texture * ms;
  state.counters["crops_ms"] = s.crops * ms;
  state.counters["recog_ms"] = s.recognition * ms;
  state.counters["cnn_batches"] = double(cnn::g_classifyTally.batches) / n;
  state.counters["cnn_windows"] = double(cnn::g_classifyTally.windows) / n;
  state.counters["cnn_ms"] = cnn::g_classifyTally.seconds * ms;
  state.counters["lines"] = out.pass_lines[0] + out.pass_lines[1];
  state.counters["turn"] = out.direction;
}

void Pages(benchmark::internal::Benchmark* b, bool withColour) {
  for (int dpi : {300, 600}) {
    for (int kind : {kText, kPhoto, kBlank, kTextured})
      for (int colour : {0, 1})
        if (colour == 0 || withColour) b->Args({kind, dpi, colour});
    b->Args({kCard, dpi, 1});
  }
}

BENCHMARK(BM_Entry)->Apply([](benchmark::internal::Benchmark* b) { Pages(b, true); })->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Driver)->Apply([](benchmark::internal::Benchmark* b) { Pages(b, false); })->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
