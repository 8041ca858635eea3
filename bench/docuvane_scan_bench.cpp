// The real scanimage's --batch of ten A4 sheets at 300 dpi in colour against
// a zero-latency simulated Docuvane scanner (the main backend's own road:
// simplex and duplex, raw and JPEG) and, in the same run, against a
// simulated Selko2 scanner (the forwarded road, always JPEG): pages per
// second and the CPU time (scanimage and the backends, user + system) per
// page of each, that CPU time per face split into the driver's (scanimage's
// own share, writing the page files, included) and the simulation's (timed
// inside the libusb calls by a preloaded wrapper), and the ratio of the
// Docuvane road to the Selko2 road. Then
// sheet-read time against page length: one raw 200 dpi page of one, two and
// three A4 lengths. Last, a Corvane5 scanner (through the test copy of the
// backend that names it) with automatic colour detection on a feeder of
// colour and grey pages, by the scanner with the host reducing the grey ones
// to one bit, and by the host, beside the Selko2 road on the same pages.
// Each scanimage runs in a private IPC namespace (unshare, root).
//   build/bench/docuvane_scan_bench
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_pages.h"

extern char** environ;

namespace {

std::string g_dir;
// What runs scanimage (a private IPC namespace, perhaps more) and the
// environment it adds, for the run at hand.
std::vector<std::string> g_launcher = {"unshare", "--ipc"};
std::vector<std::string> g_extraEnv;
std::string g_libraryPath = DRAVN_SIM_LIB_DIR ":" DRAVN_SANE_BACKEND_DIR;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct Run {
  double seconds = 0;
  double cpu = 0;
  double simCpu = 0;     // of it, inside the simulation
  long long simCalls = 0;  // calls that reached the wrapper: 0 when it was passed by
  int status = -1;
};

Run Scanimage(const std::string& scenario, const std::vector<std::string>& args) {
  std::vector<std::string> argv = g_launcher;
  argv.push_back("scanimage");
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = g_extraEnv;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("LD_LIBRARY_PATH=" + g_libraryPath);
  env.push_back("DRAVN_SIM=" + scenario);
  env.push_back("SANE_CONFIG_DIR=" + g_dir);
  const std::string simCpuFile = g_dir + "/sim-cpu";
  unlink(simCpuFile.c_str());
  env.push_back("LD_PRELOAD=" DRAVN_SIM_CPU_SHIM);
  env.push_back("DRAVN_SIM_CPU_FILE=" + simCpuFile);
  std::vector<char*> a, e;
  for (auto& s : argv) a.push_back(&s[0]);
  a.push_back(nullptr);
  for (auto& s : env) e.push_back(&s[0]);
  e.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Run run;
  pid_t pid;
  const auto start = std::chrono::steady_clock::now();
  if (posix_spawnp(&pid, a[0], &actions, nullptr, a.data(), e.data()) != 0) return run;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  long long ns = 0;
  std::ifstream(simCpuFile) >> ns >> run.simCalls;
  run.simCpu = ns / 1e9;
  return run;
}

std::string Scenario(const char* family, const dravn::CatalogModel& m, int sheets, const std::string& extra = "") {
  char line[160];
  snprintf(line, sizeof line, "device %s %04x:%04x bus=1 address=5\n", family, m.vendorId, m.productId);
  const std::string path = g_dir + "/" + family + ".scenario";
  Write(path, std::string(line) + "set state=" + g_dir + "/" + family + ".state\nset sheets=" + std::to_string(sheets) +
                  "\nset pages=" + g_dir + "/page%d.pnm\nset page_dpi=300\n" +
                  (std::string(family) == "selko2" ? "set nvram_month=1\nset nvram_day=1\n" : "") + extra);
  return path;
}

int PagesIn(const std::string& dir) {
  int n = 0;
  while (access((dir + "/p" + std::to_string(n + 1) + ".pnm").c_str(), F_OK) == 0) ++n;
  return n;
}

void Report(const char* name, const std::string& scenario, const std::vector<std::string>& args, double* pps) {
  const std::string out = g_dir + "/out";
  std::system(("rm -rf " + out + " && mkdir -p " + out).c_str());
  std::vector<std::string> all = args;
  all.push_back("--batch=" + out + "/p%d.pnm");
  Run r = Scanimage(scenario, all);
  const int pages = PagesIn(out);
  *pps = pages ? pages / r.seconds : 0;
  const double faces = pages ? pages : 1;
  printf("%-34s %3d pages  %6.2f pages/s  %7.1f ms CPU/page: driver %6.1f, simulation %6.1f ms/face%s  (exit %d)\n",
         name, pages, *pps, 1000 * r.cpu / faces, 1000 * (r.cpu - r.simCpu) / faces, 1000 * r.simCpu / faces,
         r.simCalls ? "" : " (simulation not timed)", r.status);
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/docuvane-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  g_dir = tmpl;
  Write(g_dir + "/dll.conf", "dravn\n");
  for (int n = 1; n <= 20; ++n) {
    dravn_pages::PageSpec spec;
    spec.widthMm = 210, spec.heightMm = 297, spec.dpi = 300, spec.colour = true, spec.number = n;
    Write(g_dir + "/page" + std::to_string(n) + ".pnm", dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec)));
  }
  const dravn::CatalogModel& docuvane = dravn::kDocuvaneModels[0];
  const dravn::CatalogModel& selko2 = dravn::kSelko2Models[0];
  const std::string dDev = std::string("dravn:") + docuvane.model + ":001:005";
  const std::string sDev = std::string("dravn:") + selko2.model + ":001:005";
  const std::vector<std::string> common = {"--mode", "Color", "--resolution", "300"};
  auto d = [&](const char* source, bool jpeg) {
    // The feeder scans ahead in the backend's scan thread, as the Selko2
    // road always does.
    std::vector<std::string> a = {"-d",           dDev, "--source",       source,
                                  "--paper-size", "A4", "--page-auto=no", "--autofeed=yes"};
    a.insert(a.end(), common.begin(), common.end());
    if (jpeg) a.insert(a.end(), {"--jpeg=yes", "--jpeg-type", "422", "--jpeg-quality", "5"});
    return a;
  };
  auto s = [&](const char* source) {
    std::vector<std::string> a = {"-d", sDev, "--source", source, "--paper-size", "A4", "--page-auto=no"};
    a.insert(a.end(), common.begin(), common.end());
    return a;
  };
  printf("ten A4 sheets, 300 dpi colour, zero-latency simulated scanners\n");
  double simplex[3], duplex[3];
  Report("Docuvane simplex raw", Scenario("corvane", docuvane, 10), d("ADF Front", false), &simplex[0]);
  Report("Docuvane simplex JPEG", Scenario("corvane", docuvane, 10), d("ADF Front", true), &simplex[1]);
  Report("Selko2 simplex (JPEG)", Scenario("selko2", selko2, 10), s("Adf-front"), &simplex[2]);
  Report("Docuvane duplex raw", Scenario("corvane", docuvane, 10), d("ADF Duplex", false), &duplex[0]);
  Report("Docuvane duplex JPEG", Scenario("corvane", docuvane, 10), d("ADF Duplex", true), &duplex[1]);
  Report("Selko2 duplex (JPEG)", Scenario("selko2", selko2, 10), s("Adf-duplex"), &duplex[2]);
  printf("ratio to the Selko2 road (pages/s): simplex raw %.2f, JPEG %.2f; duplex raw %.2f, JPEG %.2f\n",
         simplex[0] / simplex[2], simplex[1] / simplex[2], duplex[0] / duplex[2], duplex[1] / duplex[2]);

  printf("one raw 200 dpi colour page by length\n");
  double base = 0;
  for (int lengths = 1; lengths <= 3; ++lengths) {
    dravn_pages::PageSpec spec;
    spec.widthMm = 210, spec.heightMm = 297.0 * lengths, spec.dpi = 300, spec.colour = true;
    Write(g_dir + "/page1.pnm", dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec)));
    const std::string mm = std::to_string(297 * lengths);
    std::vector<std::string> a = {"-d",
                                  dDev,
                                  "--source",
                                  "ADF Front",
                                  "--mode",
                                  "Color",
                                  "--resolution",
                                  "200",
                                  "--page-auto=no",
                                  "--paper-size",
                                  "Custom",
                                  "--page-width",
                                  "210",
                                  "--page-height",
                                  mm,
                                  "-y",
                                  mm};
    const std::string out = g_dir + "/out";
    std::system(("rm -rf " + out + " && mkdir -p " + out).c_str());
    a.push_back("--batch=" + out + "/p%d.pnm");
    Run r = Scanimage(Scenario("corvane", docuvane, 1), a);
    if (lengths == 1) base = r.seconds;
    printf("  %d x A4 length: %6.3f s (%.2f x one length)  exit %d\n", lengths, r.seconds, r.seconds / base, r.status);
  }

  // Odd pages in colour, even ones grey: the detection has both to judge.
  for (int n = 1; n <= 20; ++n) {
    dravn_pages::PageSpec spec;
    spec.widthMm = 210, spec.heightMm = 297, spec.dpi = 300, spec.colour = n % 2 == 1, spec.number = n;
    Write(g_dir + "/page" + std::to_string(n) + ".pnm", dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec)));
  }
  const dravn::CatalogModel& corvane5 = dravn::kTavrin5EModels[0];
  char conf[64];
  snprintf(conf, sizeof conf, "usb 0x%04x 0x%04x\n", corvane5.vendorId, corvane5.productId);
  Write(g_dir + "/dravn.conf", conf);
  const std::vector<std::string> c5 = {"-d", std::string("dravn:") + corvane5.model + ":001:005", "--source",
                                       "ADF Front", "--paper-size", "A4", "--mode", "Color", "--resolution", "300",
                                       "--auto-color-detection=yes"};
  printf("ten A4 sheets (colour and grey pages), 300 dpi, colour detection on\n");
  double rate[3];
  g_extraEnv = {"DRAVN_CONFIG_DIR=" + g_dir};
  g_libraryPath = DRAVN_SIM_LIB_DIR ":" CORVANE5_TEST_BACKEND_DIR ":" DRAVN_SANE_BACKEND_DIR;
  // Without libimgforge the scanner detects colour and the host reduces.
  std::system(("mkdir -p " + g_dir + "/lib && cp -a " DRAVN_LIB_DIR "/. " + g_dir + "/lib && rm -f " + g_dir +
               "/lib/libimgforge.so*")
                  .c_str());
  g_launcher = {"unshare", "--ipc", "--mount", "sh", "-c", "mount --bind \"$0\" " DRAVN_LIB_DIR " && exec \"$@\"",
                g_dir + "/lib"};
  Report("Corvane5 simplex, scanner detects", Scenario("corvane", corvane5, 10), c5, &rate[0]);
  g_launcher = {"unshare", "--ipc"};
  std::vector<std::string> host = c5;
  host.push_back("--page-auto=no");
  Report("Corvane5 simplex, host detects", Scenario("corvane", corvane5, 10), host, &rate[1]);
  g_extraEnv.clear();
  g_libraryPath = DRAVN_SIM_LIB_DIR ":" DRAVN_SANE_BACKEND_DIR;
  Report("Selko2 simplex (JPEG)", Scenario("selko2", selko2, 10), s("Adf-front"), &rate[2]);
  printf("ratio to the Selko2 road (pages/s): scanner detects %.2f, host detects %.2f\n", rate[0] / rate[2],
         rate[1] / rate[2]);
  std::system(("rm -rf " + g_dir).c_str());
  return 0;
}
