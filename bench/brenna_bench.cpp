// The Brenna class:
//   - FringeFilter/dpi: the colour-fringe filter on a synthetic A4 colour
//     page at 300 and 600 dpi, beside OpenCvChroma/dpi: OpenCV's RGB to YUV
//     conversion, a 5 x 5 box blur of the two chroma planes and the
//     conversion back, the same work done the library's way.
//   - PageRead/length_mm: one page of the given length read from the
//     zero-latency simulated scanner through the class (the simulation's
//     coding of the page included); time per MB of compressed data shows
//     whether the read grows linearly with the page.
//   - ScanBatch/family/duplex: ten A4 300 dpi colour sheets through the
//     second backend's SANE entry points (compiled in) against the
//     zero-latency simulated scanner, Brenna (filter on) beside Selko2, one
//     face and both; pages per second, CPU time per page, and the driver's
//     CPU time per face apart from the simulation's (which runs in this
//     process, inside the libusb calls).
// It runs itself again in a private IPC namespace, so it needs unshare.
//   build/bench/brenna_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <sane/sane.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "brenna_scan_func.h"
#include "model_catalog.h"
#include "option_table.h"
#include "second_backend.h"
#include "sim_cpu.h"
#include "test_pages.h"
#include "usb_manager.h"

extern "C" {
SANE_Status sane_dravn2_init(SANE_Int*, SANE_Auth_Callback);
void sane_dravn2_exit(void);
SANE_Status sane_dravn2_open(SANE_String_Const, SANE_Handle*);
void sane_dravn2_close(SANE_Handle);
SANE_Status sane_dravn2_control_option(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
SANE_Status sane_dravn2_start(SANE_Handle);
SANE_Status sane_dravn2_read(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
void sane_dravn2_cancel(SANE_Handle);
}

namespace {

constexpr int kSheets = 10;
std::string g_dir;

dravn_pages::Image Page(int dpi) {
  dravn_pages::PageSpec spec;
  spec.dpi = dpi;
  spec.colour = true;
  return dravn_pages::RenderDocumentPage(spec);
}

void FringeFilter(benchmark::State& state) {
  const dravn_pages::Image page = Page(static_cast<int>(state.range(0)));
  std::vector<unsigned char> work;
  for (auto _ : state) {
    state.PauseTiming();
    work = page.pixels;
    state.ResumeTiming();
    _P2IIMG in{};
    in.pImageData = work.data();
    in.nBitsPerPixel = 24;
    in.nWidth = page.width, in.nHeight = page.height, in.nBytesPerLine = 3 * page.width;
    in.nImageSize = in.nBytesPerLine * in.nHeight;
    _P2IIMG out{};
    if (CBrennaScanFunc::Tavrin_EraseClrBdr(&in, &out) != 0) state.SkipWithError("refused");
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(FringeFilter)->Arg(300)->Arg(600)->ArgName("dpi")->Unit(benchmark::kMillisecond);

void OpenCvChroma(benchmark::State& state) {
  const dravn_pages::Image page = Page(static_cast<int>(state.range(0)));
  cv::Mat rgb(page.height, page.width, CV_8UC3, const_cast<uint8_t*>(page.pixels.data()));
  cv::Mat yuv, out;
  std::vector<cv::Mat> planes;
  for (auto _ : state) {
    cv::cvtColor(rgb, yuv, cv::COLOR_RGB2YUV);
    cv::split(yuv, planes);
    cv::blur(planes[1], planes[1], cv::Size(5, 5), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    cv::blur(planes[2], planes[2], cv::Size(5, 5), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    cv::merge(planes, yuv);
    cv::cvtColor(yuv, out, cv::COLOR_YUV2RGB);
    benchmark::DoNotOptimize(out.data);
  }
}
BENCHMARK(OpenCvChroma)->Arg(300)->Arg(600)->ArgName("dpi")->Unit(benchmark::kMillisecond);

double CpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One batch of A4 sheets to its end; the pages delivered.
int RunBatch(bool brenna, bool duplex, std::vector<SANE_Byte>* buffer) {
  static int generation = 0;
  const std::string scenario = g_dir + "/scenario" + std::to_string(generation++ % 2);
  const dravn::CatalogModel& m = brenna ? dravn::kBrennaModels[0] : dravn::kSelko2Models[0];
  char line[128];
  snprintf(line, sizeof line, "device %s %04x:%04x bus=1 address=5\n", brenna ? "brenna" : "selko2", m.vendorId,
           m.productId);
  std::ofstream(scenario) << line << "set state=" << g_dir << "/state\nset sheets=" << kSheets
                          << "\nset pages=" << g_dir << "/page%d.pnm\n";
  setenv("DRAVN_SIM", scenario.c_str(), 1);
  SANE_Handle h = nullptr;
  if (sane_dravn2_init(nullptr, nullptr) != SANE_STATUS_GOOD) return -1;
  char name[64];
  snprintf(name, sizeof name, "%s:001:005", m.model);
  if (sane_dravn2_open(name, &h) != SANE_STATUS_GOOD) return -1;
  char source[16];
  snprintf(source, sizeof source, "%s", duplex ? "Adf-duplex" : "Adf-front");
  SANE_Word dpi = 300;
  sane_dravn2_control_option(h, OPTION_SOURCE, SANE_ACTION_SET_VALUE, source, nullptr);
  sane_dravn2_control_option(h, OPTION_RESOLUTION, SANE_ACTION_SET_VALUE, &dpi, nullptr);
  int pages = 0;
  while (sane_dravn2_start(h) == SANE_STATUS_GOOD) {
    SANE_Int length = 0;
    while (sane_dravn2_read(h, buffer->data(), static_cast<SANE_Int>(buffer->size()), &length) == SANE_STATUS_GOOD) {
    }
    ++pages;
  }
  sane_dravn2_cancel(h);
  sane_dravn2_close(h);
  sane_dravn2_exit();
  return pages;
}

void ScanBatch(benchmark::State& state) {
  const bool brenna = state.range(0) != 0;
  const bool duplex = state.range(1) != 0;
  std::vector<SANE_Byte> buffer(256 * 1024);
  int64_t pages = 0;
  double cpu = 0, sim = 0;
  for (auto _ : state) {
    const double before = CpuSeconds(), simBefore = SimCpuSeconds();
    const int n = RunBatch(brenna, duplex, &buffer);
    cpu += CpuSeconds() - before;
    sim += SimCpuSeconds() - simBefore;
    if (n <= 0) {
      state.SkipWithError("the batch delivered no page");
      return;
    }
    pages += n;
  }
  state.counters["pages_per_s"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
  state.counters["cpu_ms_per_page"] = cpu * 1000 / std::max<int64_t>(pages, 1);
  state.counters["driver_cpu_ms_per_face"] = (cpu - sim) * 1000 / std::max<int64_t>(pages, 1);
  state.counters["sim_cpu_ms_per_face"] = sim * 1000 / std::max<int64_t>(pages, 1);
  if (SimCalls() == 0) state.SkipWithError("the simulation's calls were not counted");
}
BENCHMARK(ScanBatch)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"brenna", "duplex"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// A long page, rendered at 100 dpi (the simulation samples it at 300).
void PageRead(benchmark::State& state) {
  const int lengthMm = static_cast<int>(state.range(0));
  const std::string page = g_dir + "/long" + std::to_string(lengthMm) + ".pnm";
  dravn_pages::PageSpec spec;
  spec.heightMm = lengthMm;
  spec.dpi = 100;
  spec.colour = true;
  std::ofstream(page, std::ios::binary) << dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec));
  const dravn::CatalogModel& m = dravn::kBrennaModels[0];
  char line[128];
  snprintf(line, sizeof line, "device brenna %04x:%04x bus=1 address=5\n", m.vendorId, m.productId);
  const std::string scenario = g_dir + "/scenario-long" + std::to_string(lengthMm);
  std::ofstream(scenario) << line << "set sheets=1000\nset page_dpi=100\nset pages=" << page << "\n";
  setenv("DRAVN_SIM", scenario.c_str(), 1);
  kelo_usb_manager = new KeloManagerUsb(SecondDeviceRowLookup, KELO_BACKEND_SECOND);
  int count = 0;
  char name[64];
  snprintf(name, sizeof name, "%s:001:005", m.model);
  if (kelo_usb_manager->GetDeviceList(&count) != 0 || !kelo_usb_manager->InitShareMemory() ||
      kelo_usb_manager->Open(name) != 0) {
    state.SkipWithError("no simulated scanner");
    return;
  }
  double bytes = 0;
  {
    CBrennaScanFunc object;
    KELO_PROP_INFO& p = g_PropInfo;
    p = KELO_PROP_INFO{};
    p.SCAN_FACE = 1;
    p.SCAN_RES_X = p.SCAN_RES_Y = 300;
    p.SCAN_MODE = 2;
    p.AUTOFEED = 0;
    p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH = 210 * 1200 / 25.4;
    p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH = lengthMm * 1200 / 25.4;
    for (auto _ : state) {
      if (!object.ScanSync()) {
        state.SkipWithError("the page was not read");
        break;
      }
      bytes += object.HeldPageSize();
      object.ReleaseImageData();
    }
  }
  state.counters["MB_per_s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
  state.counters["MB_per_page"] = bytes / 1e6 / std::max<int64_t>(state.iterations(), 1);
  kelo_usb_manager->Close();
  kelo_usb_manager->ReleaseLibusbResource();
  delete kelo_usb_manager;
  kelo_usb_manager = nullptr;
  g_iDevCount = 0;
}
BENCHMARK(PageRead)->Arg(297)->Arg(891)->Arg(2673)->ArgName("length_mm")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("DRAVN_BENCH_ISOLATED")) {
    setenv("DRAVN_BENCH_ISOLATED", "1", 1);
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = '\0';
    std::vector<char*> args{const_cast<char*>("unshare"), const_cast<char*>("--ipc"), self};
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", args.data());
    perror("unshare");
    return 1;
  }
  char dir[] = "/tmp/brenna-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  g_dir = dir;
  // One colour page, linked as every face the batches ask for.
  dravn_pages::PageSpec spec;
  spec.colour = true;
  std::ofstream(g_dir + "/page.pnm", std::ios::binary) << dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec));
  for (int n = 1; n <= 2 * kSheets; ++n)
    std::filesystem::create_symlink(g_dir + "/page.pnm", g_dir + "/page" + std::to_string(n) + ".pnm");
  std::ofstream(g_dir + "/dravn.conf") << std::hex << "usb 0x" << dravn::kSelko2Models[0].vendorId << " 0x"
                                       << dravn::kSelko2Models[0].productId << "\nusb 0x"
                                       << dravn::kBrennaModels[0].vendorId << " 0x" << dravn::kBrennaModels[0].productId
                                       << "\n";
  setenv("DRAVN_CONFIG_DIR", dir, 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(g_dir, ignored);
  return 0;
}
