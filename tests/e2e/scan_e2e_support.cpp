#include "scan_e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "dravn_paths.h"

extern char** environ;

namespace dravn_scan_e2e {

using dravn_test::ReadFile;
using dravn_test::WriteFile;

dravn_pages::Image Rendered(const PaperSize& paper, int dpi, bool colour, int number) {
  dravn_pages::PageSpec spec;
  spec.widthMm = paper.widthMm, spec.heightMm = paper.heightMm, spec.dpi = dpi, spec.colour = colour;
  spec.number = number;
  return dravn_pages::RenderDocumentPage(spec);
}

dravn_pages::Image InMode(dravn_pages::Image page, const std::string& mode) {
  if (mode == "Color") return page;
  page = dravn_pages::ToGrey(page);
  if (mode == "Lineart")
    for (auto& v : page.pixels) v = v < 128 ? 0 : 255;
  return page;
}

void ScanimageE2E::SetUp() {
  m_dir = dravn_test::MakeTempDir(std::string(m_scanner.family) + "-scan-e2e");
  for (const char* sub : {"shm", "log", "etc", "sane", "pages", "out"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
  for (const auto& name : dravn_test::ListDir(DRAVN_ETC_DIR))
    WriteFile(m_dir + "/etc/" + name, ReadFile(std::string(DRAVN_ETC_DIR) + "/" + name));
  WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
}

void ScanimageE2E::TearDown() { dravn_test::Run({"rm", "-rf", m_dir}); }

void ScanimageE2E::WritePages(int sheets, const PaperSize& paper, int dpi, bool colour, const std::vector<int>& blank) {
  for (int n = 1; n <= 2 * sheets; ++n) {
    dravn_pages::Image page = Rendered(paper, dpi, colour, n);
    if (std::find(blank.begin(), blank.end(), n) != blank.end()) std::fill(page.pixels.begin(), page.pixels.end(), 255);
    WriteFile(m_dir + "/pages/page" + std::to_string(n) + ".pnm", dravn_pages::EncodePnm(page));
  }
}

std::string ScanimageE2E::FeedSettings(int sheets, int dpi) const {
  return "set sheets=" + std::to_string(sheets) + "\nset pages=" + m_dir +
         "/pages/page%d.pnm\nset page_dpi=" + std::to_string(dpi) + "\n";
}

void ScanimageE2E::WriteScenario(const std::string& settings) {
  char line[128];
  snprintf(line, sizeof line, "device %s %04x:%04x bus=1 address=5\n", m_scanner.family, m_scanner.model->vendorId,
           m_scanner.model->productId);
  WriteFile(m_dir + "/scenario", line + settings);
}

std::string ScanimageE2E::LaidOver(const char* file, const char* name) {
  std::string lib = m_dir + "/lib";
  mkdir(lib.c_str(), 0755);
  EXPECT_EQ(dravn_test::Run(
                {"sh", "-c",
                 std::string("cp -a ") + DRAVN_LIB_DIR + "/. " + lib + " && cp -f " + file + " " + lib + "/" + name})
                .exitCode,
            0);
  return lib + ":" DRAVN_LIB_DIR;
}

std::string ScanimageE2E::DeviceName() const { return std::string("dravn:") + m_scanner.model->model + ":001:005"; }

std::vector<std::string> ScanimageE2E::Argv(const std::vector<std::string>& args, std::vector<std::string> binds) {
  binds.push_back(m_dir + "/shm:" DRAVN_SHM_DIR);
  binds.push_back(m_dir + "/log:" DRAVN_LOG_DIR);
  binds.push_back(m_dir + "/etc:" DRAVN_ETC_DIR);
  std::string script;
  for (const auto& b : binds) {
    size_t colon = b.find(':');
    script += "mount --bind '" + b.substr(0, colon) + "' '" + b.substr(colon + 1) + "' && ";
  }
  script += "exec scanimage \"$@\"";
  std::vector<std::string> argv{"unshare", "--ipc", "--mount", "sh", "-c", script, "sh", "-d", DeviceName()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::map<std::string, std::string> ScanimageE2E::Env() {
  auto env = dravn_test::SimEnv(m_dir + "/scenario");
  env["SANE_CONFIG_DIR"] = m_dir + "/sane";
  env["DRAVN_SIM_TRANSCRIPT"] = m_dir + "/transcript";
  env["DRAVN_DEBUG"] = "";
  return env;
}

dravn_test::RunResult ScanimageE2E::Scanimage(const std::vector<std::string>& args,
                                              const std::vector<std::string>& binds) {
  return dravn_test::Run(Argv(args, binds), Env(), 300);
}

int TransferAfter(const std::string& transcript, const TransferMatch& match, int after) {
  size_t begin = 0;
  while (begin < transcript.size()) {
    size_t end = transcript.find('\n', begin);
    if (end == std::string::npos) end = transcript.size();
    const std::string line = transcript.substr(begin, end - begin);
    begin = end + 1;
    const size_t hash = line.find(" #");
    if (hash == std::string::npos || atoi(line.c_str() + hash + 2) <= after) continue;
    if (line.find(match.kind) == std::string::npos) continue;
    if (line.compare(line.rfind(' ') + 1, match.hex.size(), match.hex) == 0) return atoi(line.c_str() + hash + 2);
  }
  return -1;
}

namespace {

// Polls `ready` until it holds; false once the child has ended (its status
// kept) or a minute has passed.
template <typename Ready>
bool AwaitWhileRunning(pid_t pid, int* status, bool* ended, Ready ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!*ended && std::chrono::steady_clock::now() < deadline) {
    if (ready()) return true;
    if (waitpid(pid, status, WNOHANG) == pid) *ended = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Whether the process has `signal` pending for any of its threads to take.
bool SignalPending(pid_t pid, int signal) {
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("ShdPnd:");
  if (at == std::string::npos) return false;
  return (strtoull(status.c_str() + at + 7, nullptr, 16) >> (signal - 1)) & 1;
}

}  // namespace

void ScanimageE2E::Interrupted(const std::vector<std::string>& argv, const InterruptPoint& at,
                               dravn_test::RunResult* result) {
  const std::string transcript = m_dir + "/transcript";
  const std::string scenario = ReadFile(m_dir + "/scenario");
  // The device memory as the interrupted run is to find it.
  const std::string state = m_dir + "/state";
  const bool hadState = access(state.c_str(), F_OK) == 0;
  const std::string stateBefore = hadState ? ReadFile(state) : "";
  unlink(transcript.c_str());
  const dravn_test::RunResult whole = dravn_test::Run(argv, Env(), 300);
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  const std::string wholeTranscript = ReadFile(transcript);
  const int k = at.transfer(wholeTranscript);
  ASSERT_GT(k, 0) << "a whole run has no such transfer\n" << wholeTranscript;
  unlink(transcript.c_str());
  for (const auto& name : dravn_test::ListDir(m_dir + "/out")) unlink((m_dir + "/out/" + name).c_str());
  if (hadState)
    WriteFile(state, stateBefore);
  else
    unlink(state.c_str());
  const std::string held = m_dir + "/held";
  WriteFile(m_dir + "/scenario", scenario + at.pace + "fault transfer " + std::to_string(k) + " hold " + held + "\n");

  // dravn_test::Run waits for its program; this one must be signalled while
  // it scans, so it is spawned here with the same environment rules.
  std::vector<std::string> envStrings;
  auto env = Env();
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    if (!env.count(kv.substr(0, kv.find('=')))) envStrings.push_back(kv);
  }
  for (const auto& [key, v] : env)
    if (!v.empty()) envStrings.push_back(key + "=" + v);
  std::vector<std::string> argStrings = argv;
  std::vector<char*> args, envp;
  for (auto& a : argStrings) args.push_back(&a[0]);
  args.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, (m_dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  ASSERT_EQ(posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);

  int status = 0;
  bool ended = false;
  auto exists = [](const std::string& path) { return access(path.c_str(), F_OK) == 0; };
  const bool reached =
      AwaitWhileRunning(pid, &status, &ended, [&] { return exists(held) && (at.mark.empty() || exists(at.mark)); });
  bool stopping = false;
  if (reached) {
    kill(pid, SIGINT);
    // Once no longer pending the signal is being handled (the backends'
    // handlers only mark the scan cancelled); the held transfer then brings
    // the cancel to the scan where it stood.
    stopping = AwaitWhileRunning(pid, &status, &ended, [&] { return !SignalPending(pid, SIGINT); });
  }
  unlink(held.c_str());
  if (!ended) {
    if (!reached || !stopping) kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }
  result->err = ReadFile(m_dir + "/stderr");
  ASSERT_TRUE(reached) << "the run did not come to transfer " << k << "\n" << result->err;
  ASSERT_TRUE(stopping) << result->err;
  ASSERT_TRUE(WIFEXITED(status));
  result->exitCode = WEXITSTATUS(status);
  // The held transfer is the one the whole run showed: the interrupt fell
  // where the test meant it to.
  const std::string again = ReadFile(transcript);
  ASSERT_EQ(at.transfer(again), k) << again;
}

void ScanimageE2E::ExpectSelko2OnlyStepsRefused() {
  const std::vector<std::string> settings[] = {
      {"--tone-adjustment", "Soft"},    {"--tone-adjustment", "Bright"}, {"--tone-adjustment", "Custom"},
      {"--color-cleanup", "Automatic"}, {"--color-cleanup", "White"},    {"--front-back-merging=yes"},
      {"--split-image=yes"},
  };
  for (const auto& setting : settings) {
    SCOPED_TRACE(setting[0] + (setting.size() > 1 ? " " + setting[1] : ""));
    std::vector<std::string> args = {"--source", "Adf-duplex", "--mode", "Color"};
    args.insert(args.end(), setting.begin(), setting.end());
    args.push_back("-n");
    auto r = Scanimage(args);
    EXPECT_NE(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("attempted to set inactive option"), std::string::npos) << r.err;
  }
}

std::vector<std::string> ScanimageE2E::Batch(std::vector<std::string> options) const {
  options.push_back("--batch=" + m_dir + "/out/page%d.pnm");
  return options;
}

int ScanimageE2E::PagesWritten() const {
  int n = 0;
  while (access((m_dir + "/out/page" + std::to_string(n + 1) + ".pnm").c_str(), F_OK) == 0) ++n;
  return n;
}

dravn_pages::Image ScanimageE2E::Scanned(int n) const {
  dravn_pages::Image image;
  EXPECT_TRUE(dravn_pages::DecodePnm(ReadFile(m_dir + "/out/page" + std::to_string(n) + ".pnm"), &image)) << n;
  return image;
}

}  // namespace dravn_scan_e2e
