// scanimage --batch of ten A4 300 dpi colour sheets, simplex and duplex,
// against a zero-latency simulated Selko scanner and, in the same run, a
// Selko2 one: pages per second and the CPU time (scanimage with the
// simulation inside it) per page of each, and the Selko road's rate as a
// share of the Selko2 road's. Each scanimage runs in a private IPC namespace
// (the exclusive-access table is System V shared memory): root and unshare.
//   build/bench/selko_scan_bench [runs]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_pages.h"

extern char** environ;

namespace {

constexpr int kSheets = 10;

struct Result {
  double seconds = 1e9;
  double cpuSeconds = 0;
  int pages = 0;
};

// One scanimage batch; the best of `runs` wall times with its CPU time.
Result Batch(const std::string& dir, const std::string& family, const dravn::CatalogModel& model, bool duplex,
             int runs) {
  const std::string scenario = dir + "/" + family + ".scenario";
  {
    char line[128];
    snprintf(line, sizeof line, "device %s %04x:%04x bus=1 address=5\n", family.c_str(), model.vendorId,
             model.productId);
    std::ofstream out(scenario);
    out << line << "set sheets=" << kSheets << "\nset pages=" << dir << "/page%d.pnm\n";
    if (family == "selko2") out << "set state=" << dir << "/state\nset nvram_month=1\nset nvram_day=1\n";
  }
  const std::string device = std::string("dravn:") + model.model + ":001:005";
  std::vector<std::string> args = {"unshare",
                                   "--ipc",
                                   "scanimage",
                                   "-d",
                                   device,
                                   "--source",
                                   duplex ? "Adf-duplex" : "Adf-front",
                                   "--resolution",
                                   "300",
                                   "--mode",
                                   "Color",
                                   "--paper-size",
                                   "A4",
                                   "--page-auto=no",
                                   "--batch=" + dir + "/out%d.pnm"};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    if (kv.rfind("LD_LIBRARY_PATH=", 0) && kv.rfind("DRAVN_SIM=", 0) && kv.rfind("SANE_CONFIG_DIR=", 0))
      env.push_back(kv);
  }
  env.push_back(std::string("LD_LIBRARY_PATH=") + DRAVN_SIM_LIB_DIR + ":" + DRAVN_SANE_BACKEND_DIR);
  env.push_back("DRAVN_SIM=" + scenario);
  env.push_back("SANE_CONFIG_DIR=" + dir);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  Result best;
  for (int run = 0; run < runs; ++run) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const auto started = std::chrono::steady_clock::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return best;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    int pages = 0;
    while (std::filesystem::exists(dir + "/out" + std::to_string(pages + 1) + ".pnm")) {
      std::filesystem::remove(dir + "/out" + std::to_string(pages + 1) + ".pnm");
      ++pages;
    }
    const double cpu =
        usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (pages > 0 && seconds < best.seconds) best = Result{seconds, cpu, pages};
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
  char dirTemplate[] = "/tmp/selko-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  for (int n = 1; n <= 2 * kSheets; ++n) {
    dravn_pages::PageSpec spec;
    spec.number = n;
    std::ofstream(dir + "/page" + std::to_string(n) + ".pnm", std::ios::binary)
        << dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec));
  }
  std::ofstream(dir + "/dll.conf") << "dravn\n";

  printf("%-8s %-8s %6s %9s %12s %12s\n", "road", "source", "pages", "pages/s", "cpu ms/page", "rate vs Selko2");
  for (bool duplex : {false, true}) {
    const Result selko2 = Batch(dir, "selko2", dravn::kSelko2Models[0], duplex, runs);
    const Result selko = Batch(dir, "selko", dravn::kSelkoModels[0], duplex, runs);
    for (const auto& [name, r] : {std::pair<const char*, Result>{"Selko2", selko2}, {"Selko", selko}}) {
      const double rate = r.pages / r.seconds;
      const double ratio = rate / (selko2.pages / selko2.seconds);
      printf("%-8s %-8s %6d %9.2f %12.1f %12.2f\n", name, duplex ? "duplex" : "simplex", r.pages, rate,
             r.cpuSeconds * 1000 / std::max(1, r.pages), ratio);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
