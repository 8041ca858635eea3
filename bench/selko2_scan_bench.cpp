// Whole Selko2 batches through the second backend's SANE entry points
// against the simulated scanner, fed with synthetic A4 pages at 300 dpi in
// colour:
//   - ScanBatch/simplex, ScanBatch/duplex: ten sheets from a zero-latency
//     scanner; pages per minute, the peak heap held during a batch per page
//     delivered, the CPU time per face of the driver apart from the
//     simulation's (which runs in this process, inside the libusb calls),
//     and the page faults per face (fresh memory is costly to touch).
//   - SlowScanner: every face takes 1 s to come; the CPU time the process
//     spends per page, to set against the zero-latency batch's: the
//     difference is what waiting costs.
// It runs itself again in a private IPC namespace (the exclusive-access
// table is System V shared memory), so it needs unshare and root.
//   build/bench/selko2_scan_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sane/sane.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "model_catalog.h"
#include "option_table.h"
#include "sim_cpu.h"
#include "test_pages.h"

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
constexpr int kSlowSheets = 3;

std::string g_dir;


long MinorFaults() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

double CpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void WriteScenario(const std::string& path, int sheets, int pageMs) {
  const dravn::CatalogModel& m = dravn::kSelko2Models[0];
  char line[128];
  snprintf(line, sizeof line, "device selko2 %04x:%04x bus=1 address=5\n", m.vendorId, m.productId);
  std::ofstream(path) << line << "set state=" << g_dir << "/state\nset nvram_month=1\nset nvram_day=1\n"
                      << "set sheets=" << sheets << "\nset pages=" << g_dir << "/page%d.pnm\nset page_ms=" << pageMs
                      << "\n";
}

// One batch to its end; the pages delivered.
int RunBatch(bool duplex, int sheets, int pageMs, std::vector<SANE_Byte>* buffer) {
  // The simulation reads its scenario again when the file's text changes.
  static int generation = 0;
  const std::string scenario = g_dir + "/scenario" + std::to_string(generation++ % 2);
  WriteScenario(scenario, sheets, pageMs);
  setenv("DRAVN_SIM", scenario.c_str(), 1);
  SANE_Handle h = nullptr;
  if (sane_dravn2_init(nullptr, nullptr) != SANE_STATUS_GOOD) return -1;
  char name[64];
  snprintf(name, sizeof name, "%s:001:005", dravn::kSelko2Models[0].model);
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
  const bool duplex = state.range(0) != 0;
  std::vector<SANE_Byte> buffer(256 * 1024);
  int64_t pages = 0;
  size_t peak = 0;
  double cpu = 0, sim = 0;
  long faults = 0;
  for (auto _ : state) {
    PeakSampler sampler;
    const double before = CpuSeconds(), simBefore = SimCpuSeconds();
    const long faultsBefore = MinorFaults();
    int n = RunBatch(duplex, kSheets, 0, &buffer);
    faults += MinorFaults() - faultsBefore;
    peak = std::max(peak, sampler.Stop());
    cpu += CpuSeconds() - before - sampler.CpuSeconds();
    sim += SimCpuSeconds() - simBefore;
    if (n <= 0) {
      state.SkipWithError("the batch delivered no page");
      return;
    }
    pages += n;
  }
  state.counters["pages_per_min"] = benchmark::Counter(static_cast<double>(pages) * 60, benchmark::Counter::kIsRate);
  const int perBatch = duplex ? 2 * kSheets : kSheets;
  state.counters["peak_heap_MB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["peak_heap_MB_per_page"] = static_cast<double>(peak) / (1 << 20) / perBatch;
  // The work a page costs (the simulation's coding of it included), to set
  // against the slow scanner's.
  state.counters["cpu_ms_per_page"] = cpu * 1000 / std::max<int64_t>(pages, 1);
  state.counters["driver_cpu_ms_per_face"] = (cpu - sim) * 1000 / std::max<int64_t>(pages, 1);
  // Pages the process touched for the first time: the simulation's share included.
  state.counters["minor_faults_per_face"] = static_cast<double>(faults) / std::max<int64_t>(pages, 1);
  state.counters["sim_cpu_ms_per_face"] = sim * 1000 / std::max<int64_t>(pages, 1);
  if (SimCalls() == 0) state.SkipWithError("the simulation's calls were not counted");
}
BENCHMARK(ScanBatch)->Arg(0)->Arg(1)->ArgName("duplex")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void SlowScanner(benchmark::State& state) {
  std::vector<SANE_Byte> buffer(256 * 1024);
  double cpu = 0;
  int64_t pages = 0;
  for (auto _ : state) {
    const double before = CpuSeconds();
    int n = RunBatch(false, kSlowSheets, 1000, &buffer);
    cpu += CpuSeconds() - before;
    if (n <= 0) {
      state.SkipWithError("the batch delivered no page");
      return;
    }
    pages += n;
  }
  state.counters["cpu_ms_per_page"] = cpu * 1000 / std::max<int64_t>(pages, 1);
}
BENCHMARK(SlowScanner)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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
  char dir[] = "/tmp/selko2-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  g_dir = dir;
  for (int n = 1; n <= 2 * kSheets; ++n) {
    dravn_pages::PageSpec spec;
    spec.number = n;
    std::ofstream(g_dir + "/page" + std::to_string(n) + ".pnm", std::ios::binary)
        << dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec));
  }
  std::ofstream(g_dir + "/dravn.conf") << "usb 0x" << std::hex << dravn::kSelko2Models[0].vendorId << " 0x"
                                       << dravn::kSelko2Models[0].productId << "\n";
  setenv("DRAVN_CONFIG_DIR", dir, 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(g_dir, ignored);
  return 0;
}
