// The real dravnscanbutton against simulated scanners, each test in IPC and
// mount namespaces of its own: the run, image, configuration, log and tool
// directories are the test's own, laid over the staged ones.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common_layer_util.h"
#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_pages.h"
#include "test_support.h"

extern char** environ;

using dravn_test::ListDir;
using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

constexpr key_t kFirstKey = 0x43A0D0;
const dravn::CatalogModel& kModel = dravn::kSelko2Models[0];

std::string Hex4(int v) {
  char b[8];
  snprintf(b, sizeof b, "%04x", v);
  return b;
}

std::string DeviceString() { return std::string(kModel.model) + ":001:005"; }

// Waits until the condition holds. The bound only keeps a broken daemon
// from hanging the suite: no test judges by it, so it is far beyond any
// number of the daemon's 300 ms cycles on a loaded machine.
constexpr double kHangGuardSeconds = 120;
bool WaitFor(const std::function<bool()>& done, double seconds = kHangGuardSeconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

struct Entry {
  std::string name, pid, state;
};

std::vector<Entry> Table() {
  std::vector<Entry> out;
  int id = shmget(kFirstKey, 454, 0);
  void* addr = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, SHM_RDONLY);
  if (addr == reinterpret_cast<void*>(-1)) return out;
  const char* base = static_cast<const char*>(addr) + 14;
  for (int k = 0; k < 8; ++k) {
    const char* r = base + 55 * k;
    out.push_back({std::string(r, strnlen(r, 30)), std::string(r + 30, strnlen(r + 30, 10)),
                   std::string(r + 40, strnlen(r + 40, 15))});
  }
  shmdt(addr);
  return out;
}

// Written under the table's semaphore, as every peer writes it: a write
// between the daemon's look and its own write would be lost.
void SetEntry(int k, const std::string& pid, const std::string& state) {
  int id = shmget(kFirstKey, 454, 0);
  int sem = semget(kFirstKey, 1, 0);
  sembuf take{0, -1, SEM_UNDO}, give{0, 1, SEM_UNDO};
  if (sem >= 0) semop(sem, &take, 1);
  char* base = static_cast<char*>(shmat(id, nullptr, 0));
  char* r = base + 14 + 55 * k;
  memset(r + 30, 0, 25);
  memcpy(r + 30, pid.data(), pid.size());
  memcpy(r + 40, state.data(), state.size());
  shmdt(base);
  if (sem >= 0) semop(sem, &give, 1);
}

int FindEntry(const std::string& name) {
  auto t = Table();
  for (size_t k = 0; k < t.size(); ++k)
    if (t[k].name == name) return static_cast<int>(k);
  return -1;
}

class ScanButtonDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!common_layer_test::RunIsolated({"--ipc", "--mount"})) {
      m_skip = true;
      return;
    }
    m_dir = dravn_test::MakeTempDir("scanbutton-daemon");
    for (const char* sub : {"run", "image", "etc", "log", "usrbin", "bin", "sane", "shm", "pages"})
      mkdir((m_dir + "/" + sub).c_str(), 0755);
    for (const auto& name : ListDir(DRAVN_ETC_DIR))
      WriteFile(m_dir + "/etc/" + name, ReadFile(std::string(DRAVN_ETC_DIR) + "/" + name));
    WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
    mkdir((m_dir + "/conf").c_str(), 0755);
    WriteFile(m_dir + "/conf/dravn.conf", "usb 0x" + Hex4(kModel.vendorId) + " 0x" + Hex4(kModel.productId) + "\n");
    m_looks = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(m_looks, 0);
    ASSERT_GE(inotify_add_watch(m_looks, (m_dir + "/conf/dravn.conf").c_str(), IN_OPEN), 0);
    // The daemon runs from a copy: its staged directory is replaced.
    ASSERT_EQ(dravn_test::Run({"cp", std::string(DRAVN_USR_BIN_DIR) + "/dravnscanbutton", m_dir + "/dravnscanbutton"})
                  .exitCode,
              0);
    symlink("/usr/bin/ps", (m_dir + "/usrbin/ps").c_str());
    symlink("/usr/bin/grep", (m_dir + "/usrbin/grep").c_str());
    RecordingScanimage();
    WriteFile(m_dir + "/scenario", "");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{{"run", DRAVN_RUN_DIR},
                                                                                   {"image", DRAVN_IMAGE_DIR},
                                                                                   {"etc", DRAVN_ETC_DIR},
                                                                                   {"log", DRAVN_LOG_DIR},
                                                                                   {"usrbin", DRAVN_USR_BIN_DIR},
                                                                                   {"bin", DRAVN_BIN_DIR},
                                                                                   {"shm", DRAVN_SHM_DIR}}) {
      mkdir(to.c_str(), 0755);
      ASSERT_EQ(mount((m_dir + "/" + from).c_str(), to.c_str(), nullptr, MS_BIND, nullptr), 0) << to;
    }
  }
  void TearDown() override {
    if (m_skip) return;
    if (m_looks >= 0) close(m_looks);
    for (pid_t p : m_daemons) {
      kill(p, SIGKILL);
      waitpid(p, nullptr, 0);
    }
    for (const char* to : {DRAVN_RUN_DIR, DRAVN_IMAGE_DIR, DRAVN_ETC_DIR, DRAVN_LOG_DIR, DRAVN_USR_BIN_DIR,
                           DRAVN_BIN_DIR, DRAVN_SHM_DIR})
      umount(to);
    // The scratch folder goes with the others, unless the test failed.
    if (HasFailure()) {
      std::string table;
      for (const auto& e : Table()) table += "[" + e.name + "|" + e.pid + "|" + e.state + "] ";
      printf("kept %s\ntable: %s\n", m_dir.c_str(), table.c_str());
    }
  }

  // A scanimage that records its arguments and directory and writes one
  // page, or the real one with the test's environment added.
  void RecordingScanimage() {
    WriteFile(m_dir + "/bin/scanimage", "#!/bin/sh\nrm -f " + m_dir +
                                            "/button\n{ for a in \"$0\" \"$@\"; do echo \"$a\"; done; pwd; } > " +
                                            m_dir + "/record\necho page > page.pnm\nexit 0\n");
    chmod((m_dir + "/bin/scanimage").c_str(), 0755);
  }
  void RealScanimage() {
    auto env = dravn_test::SimEnv(m_dir + "/scenario");
    std::string script = "#!/bin/sh\nrm -f " + m_dir + "/button\n";
    for (const auto& [k, v] : env) script += "export " + k + "='" + v + "'\n";
    script += "export SANE_CONFIG_DIR='" + m_dir + "/sane'\nexec /usr/bin/scanimage \"$@\"\n";
    WriteFile(m_dir + "/bin/scanimage", script);
    chmod((m_dir + "/bin/scanimage").c_str(), 0755);
  }

  // The daemon's simulator rereads the scenario at every listing: it is
  // replaced whole, never seen half written.
  void SetScenario(const std::string& text) {
    WriteFile(m_dir + "/scenario.new", text);
    rename((m_dir + "/scenario.new").c_str(), (m_dir + "/scenario").c_str());
  }
  void Plug(const std::string& extra = "") {
    SetScenario("device selko2 " + Hex4(kModel.vendorId) + ":" + Hex4(kModel.productId) +
                " bus=1 address=5\nset state=" + m_dir + "/state\nset button=" + m_dir + "/button\n" + extra);
  }
  void Unplug() { SetScenario(""); }
  void Press() { WriteFile(m_dir + "/button", ""); }

  std::vector<std::string> DaemonEnv() {
    std::vector<std::string> env{"LD_LIBRARY_PATH=" DRAVN_SIM_LIB_DIR,
                                 "DRAVN_SIM=" + m_dir + "/scenario",
                                 "DRAVN_SIM_TRANSCRIPT=" + m_dir + "/transcript",
                                 "DRAVN_CONFIG_DIR=" + m_dir + "/conf",
                                 "PATH=/usr/bin:/bin",
                                 "LANG=C"};
    return env;
  }
  pid_t Start() {
    std::vector<std::string> env = DaemonEnv();
    std::string out = m_dir + "/daemon.out";
    pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> envp;
      for (auto& e : env) envp.push_back(&e[0]);
      envp.push_back(nullptr);
      FILE* f = freopen(out.c_str(), "a", stdout);
      (void)f;
      std::string path = m_dir + "/dravnscanbutton";
      char* argv[] = {&path[0], nullptr};
      execve(path.c_str(), argv, envp.data());
      _exit(126);
    }
    m_daemons.push_back(pid);
    return pid;
  }
  dravn_test::RunResult RunOnce() {
    std::map<std::string, std::string> env;
    for (const auto& e : DaemonEnv()) env[e.substr(0, e.find('='))] = e.substr(e.find('=') + 1);
    return dravn_test::Run({m_dir + "/dravnscanbutton"}, env, 30);
  }
  // Waits for the daemon to exit on its own: its exit status, or -1.
  int Reap(pid_t pid, double seconds = kHangGuardSeconds) {
    int status = -1;
    bool done = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds);
    if (!done) return -1;
    m_daemons.erase(std::find(m_daemons.begin(), m_daemons.end(), pid));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string PidFile() { return m_dir + "/run/dravnscanbutton.pid"; }
  bool Reserved(pid_t daemon) {
    int k = FindEntry(DeviceString());
    return k >= 0 && Table()[k].state == "SBReserved" && Table()[k].pid == std::to_string(daemon);
  }
  int Count(const std::string& what, size_t from = 0) {
    std::string t = ReadFile(m_dir + "/transcript");
    int n = 0;
    for (size_t at = t.find(what, from); at != std::string::npos; at = t.find(what, at + 1)) ++n;
    return n;
  }
  // The Selko2 button is read starting with "Get Hardware Status Ext".
  static constexpr const char* kButtonRead = " 3002000012007a";
  // Whether the monitor watches the scanner: after the last claim the
  // device thread reads the button once, the monitor every cycle after.
  bool Watched(pid_t daemon) {
    std::string t = ReadFile(m_dir + "/transcript");
    size_t claim = t.rfind(" claim ");
    return Reserved(daemon) && claim != std::string::npos && Count(kButtonRead, claim) >= 2;
  }
  // Waits until the daemon has opened its configuration `n` more times:
  // both threads read it at every cycle, so at least n - 1 cycles have
  // passed. What a cycle did not do by then, it does not do.
  bool Looks(int n) {
    for (int seen = 0; seen < n;) {
      struct pollfd p {
        m_looks, POLLIN, 0
      };
      if (poll(&p, 1, static_cast<int>(kHangGuardSeconds * 1000)) <= 0) return false;
      alignas(inotify_event) char buf[4096];
      ssize_t got = read(m_looks, buf, sizeof buf);
      for (ssize_t at = 0; got > 0 && at < got;) {
        auto* e = reinterpret_cast<inotify_event*>(buf + at);
        seen += (e->mask & IN_OPEN) != 0;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    return true;
  }

  // After a press, with the real scanimage and "--batch=scan%d.pnm": the
  // status log says the scan went well and one dated folder holds both pages.
  void ScannedTwoPages() {
    ASSERT_TRUE(WaitFor([&] { return ReadFile(StatusLog()).size() > 0; })) << ReadFile(m_dir + "/daemon.out");
    EXPECT_EQ(ReadFile(StatusLog()), "Operation completed successfully");
    auto folders = ListDir(m_dir + "/image");
    ASSERT_EQ(folders.size(), 1u);
    auto pages = ListDir(m_dir + "/image/" + folders[0]);
    std::sort(pages.begin(), pages.end());
    EXPECT_EQ(pages, (std::vector<std::string>{"scan1.pnm", "scan2.pnm"}));
    dravn_pages::Image image;
    EXPECT_TRUE(dravn_pages::DecodePnm(ReadFile(m_dir + "/image/" + folders[0] + "/scan1.pnm"), &image));
    EXPECT_GT(image.width, 500);
  }
  std::string StatusLog() { return m_dir + "/log/ScanbuttonErrlog_" + std::to_string(getuid()) + ".txt"; }

  bool m_skip = false;
  int m_looks = -1;
  std::string m_dir;
  std::vector<pid_t> m_daemons;
};

TEST_F(ScanButtonDaemon, EachMissingToolIsNamed) {
  if (m_skip) return;
  for (const char* tool : {"ps", "grep", "scanimage"}) {
    std::string dir = std::string(tool) == "scanimage" ? "bin" : "usrbin";
    std::string path = m_dir + "/" + dir + "/" + tool;
    std::string saved = path + ".saved";
    rename(path.c_str(), saved.c_str());
    auto r = RunOnce();
    EXPECT_EQ(r.exitCode, 1) << tool << ": a daemon that cannot run fails";
    EXPECT_EQ(r.out, std::string("system command '") + tool + "' is not found\n");
    EXPECT_NE(access(PidFile().c_str(), F_OK), 0);
    rename(saved.c_str(), path.c_str());
  }
}

TEST_F(ScanButtonDaemon, SingleInstanceAndStopByPidFile) {
  if (m_skip) return;
  Plug();
  pid_t daemon = Start();
  ASSERT_TRUE(WaitFor([&] { return ReadFile(PidFile()) == std::to_string(daemon); }));
  ASSERT_TRUE(WaitFor([&] { return Reserved(daemon); }));
  auto second = RunOnce();
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.out, "dravnscanbutton is already running\n");
  EXPECT_EQ(ReadFile(PidFile()), std::to_string(daemon));

  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
  EXPECT_EQ(FindEntry(DeviceString()), -1) << "its reservation is gone";
  EXPECT_EQ(Count(" claim "), Count(" release "));
  EXPECT_EQ(Count(" open "), Count(" close"));
}

TEST_F(ScanButtonDaemon, TwoStartsAtOnceLeaveOneDaemon) {
  if (m_skip) return;
  for (int round = 0; round < 3; ++round) {
    pid_t a = Start(), b = Start();
    ASSERT_TRUE(WaitFor([&] {
      std::string text = ReadFile(PidFile());
      return text == std::to_string(a) || text == std::to_string(b);
    }));
    pid_t winner = ReadFile(PidFile()) == std::to_string(a) ? a : b;
    pid_t loser = winner == a ? b : a;
    EXPECT_EQ(Reap(loser), 0);
    EXPECT_EQ(kill(winner, 0), 0);
    unlink(PidFile().c_str());
    EXPECT_EQ(Reap(winner), 0);
  }
  std::string out = ReadFile(m_dir + "/daemon.out");
  EXPECT_EQ(out,
            "dravnscanbutton is already running\ndravnscanbutton is already running\n"
            "dravnscanbutton is already running\n");
}

TEST_F(ScanButtonDaemon, StalePidFilesAreTakenOver) {
  if (m_skip) return;
  for (const std::string& stale :
       {std::string("1;touch ") + m_dir + "/planted", common_layer_test::DeadPidText(), std::string("")}) {
    SCOPED_TRACE(stale);
    WriteFile(PidFile(), stale);
    pid_t daemon = Start();
    ASSERT_TRUE(WaitFor([&] { return ReadFile(PidFile()) == std::to_string(daemon); }));
    unlink(PidFile().c_str());
    EXPECT_EQ(Reap(daemon), 0);
  }
  EXPECT_NE(access((m_dir + "/planted").c_str(), F_OK), 0) << "nothing of the pid file is run";
}

TEST_F(ScanButtonDaemon, ClaimsAPluggedScannerAndLetsItGoWhenUnplugged) {
  if (m_skip) return;
  pid_t daemon = Start();
  ASSERT_TRUE(WaitFor([&] { return ReadFile(PidFile()) == std::to_string(daemon); }));
  ASSERT_TRUE(Looks(4));
  EXPECT_EQ(FindEntry(DeviceString()), -1) << "no scanner, no entry";
  Plug();
  ASSERT_TRUE(WaitFor([&] { return Reserved(daemon); }));
  // The entry is written before the interface is claimed.
  EXPECT_TRUE(WaitFor([&] { return Count(" claim ") == Count(" release ") + 1; }));
  Unplug();
  EXPECT_TRUE(WaitFor([&] { return FindEntry(DeviceString()) == -1; }));
  EXPECT_TRUE(WaitFor([&] { return Count(" close") == Count(" open "); }));
  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

TEST_F(ScanButtonDaemon, AnswersRequestsAndTakesTheScannerBack) {
  if (m_skip) return;
  Plug();
  pid_t daemon = Start();
  ASSERT_TRUE(WaitFor([&] { return Reserved(daemon); }));
  int k = FindEntry(DeviceString());

  // A running requester is answered after the device was closed.
  common_layer_test::Peer peer([] { return 0; }, true);
  std::string peerPid = peer.PidText();
  SetEntry(k, peerPid, "Request");
  ASSERT_TRUE(WaitFor([&] { return Table()[k].state == "SBRelease"; }));
  EXPECT_EQ(Count(" open "), Count(" close"));
  // It uses the device; the daemon leaves a running owner alone.
  SetEntry(k, peerPid, "Reserved");
  ASSERT_TRUE(Looks(4));
  EXPECT_FALSE(Reserved(daemon));
  // It ends without releasing: its entry is taken over.
  peer.Finish();
  EXPECT_TRUE(WaitFor([&] { return Reserved(daemon); }));

  // A requester that died meanwhile is cleared, and the daemon keeps it.
  SetEntry(k, common_layer_test::DeadPidText(), "Request");
  EXPECT_TRUE(WaitFor([&] { return Reserved(daemon); }));

  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

TEST_F(ScanButtonDaemon, AButtonHeldAtStartStartsNoScan) {
  if (m_skip) return;
  Plug();
  Press();
  pid_t daemon = Start();
  ASSERT_TRUE(WaitFor([&] { return ReadFile(PidFile()) == std::to_string(daemon); }));
  ASSERT_TRUE(WaitFor([&] { return Count(kButtonRead) >= 5; })) << "the held button is read again and again";
  EXPECT_NE(access((m_dir + "/record").c_str(), F_OK), 0);
  unlink((m_dir + "/button").c_str());
  // Let go: one read ends the device thread's wait, the monitor's follow.
  int reads = Count(kButtonRead);
  ASSERT_TRUE(WaitFor([&] { return Reserved(daemon) && Count(kButtonRead) >= reads + 3; }));
  EXPECT_NE(access((m_dir + "/record").c_str(), F_OK), 0);
  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

TEST_F(ScanButtonDaemon, APressStartsTheScanInADatedFolder) {
  if (m_skip) return;
  WriteFile(m_dir + "/etc/dravnscanbutton.conf", "--mode Color  --resolution 150\n");
  Plug();
  pid_t daemon = Start();
  // Pressed before the device thread is done taking the scanner, the
  // button would be waited out as one held at start.
  ASSERT_TRUE(WaitFor([&] { return Watched(daemon); }));
  int claims = Count(" claim ");
  Press();
  // The status log is written once the scan has ended: everything else is there by then.
  ASSERT_TRUE(WaitFor([&] { return ReadFile(StatusLog()) == "Operation completed successfully"; }));
  auto folders = ListDir(m_dir + "/image");
  ASSERT_EQ(folders.size(), 1u);
  std::string folder = std::string(DRAVN_IMAGE_DIR) + "/" + folders[0];
  EXPECT_EQ(ReadFile(m_dir + "/record"), std::string(DRAVN_BIN_DIR) +
                                             "/scanimage\n--mode\nColor\n--resolution\n150\n-d\n" +
                                             "dravn:" + DeviceString() + "\n" + folder + "\n");
  EXPECT_EQ(ReadFile(m_dir + "/image/" + folders[0] + "/page.pnm"), "page\n");
  EXPECT_TRUE(WaitFor([&] { return Count(" claim ") > claims && Reserved(daemon); })) << "the scanner is taken back";
  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

TEST_F(ScanButtonDaemon, ADeletedSegmentStopsTheDaemon) {
  if (m_skip) return;
  Plug();
  pid_t daemon = Start();
  ASSERT_TRUE(WaitFor([&] { return Reserved(daemon); }));
  ASSERT_EQ(shmctl(shmget(kFirstKey, 454, 0), IPC_RMID, nullptr), 0);
  EXPECT_EQ(Reap(daemon), 0);
  EXPECT_EQ(Count(" claim "), Count(" release "));
}

// The real scanimage of a user, beside the daemon.
dravn_test::RunResult UserScan(const std::string& dir, const std::string& out) {
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["SANE_CONFIG_DIR"] = dir + "/sane";
  env["DRAVN_SIM_TRANSCRIPT"] = dir + "/transcript";
  return dravn_test::Run({"scanimage", "-d", "dravn:" + DeviceString(), "--source", "Adf-front", "--resolution", "150",
                          "--batch=" + out + "/user%d.pnm"},
                         env, 60);
}

void RenderPages(const std::string& dir, int count) {
  for (int n = 1; n <= count; ++n) {
    dravn_pages::PageSpec spec;
    spec.widthMm = 105, spec.heightMm = 148, spec.dpi = 150, spec.colour = true, spec.number = n;
    WriteFile(dir + "/pages/page" + std::to_string(n) + ".pnm",
              dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec)));
  }
}

TEST_F(ScanButtonDaemon, ScanimageGetsTheScannerWhileTheDaemonRunsWhichTakesItBack) {
  if (m_skip) return;
  RenderPages(m_dir, 2);
  Plug("set sheets=2\nset pages=" + m_dir +
       "/pages/page%d.pnm\nset page_dpi=150\nset nvram_month=1\nset nvram_day=1\n");
  pid_t daemon = Start();
  ASSERT_TRUE(WaitFor([&] { return Reserved(daemon); }));
  mkdir((m_dir + "/out").c_str(), 0755);
  auto r = UserScan(m_dir, m_dir + "/out");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ListDir(m_dir + "/out").size(), 2u);
  EXPECT_TRUE(WaitFor([&] { return Reserved(daemon); })) << "the scanner is taken back";
  EXPECT_TRUE(ListDir(m_dir + "/image").empty()) << "no scan of the daemon's own";
  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

TEST_F(ScanButtonDaemon, ABackendEndsWithinItsWaitWhileTheDaemonHoldsTheButton) {
  if (m_skip) return;
  RenderPages(m_dir, 1);
  Plug("set sheets=1\nset pages=" + m_dir +
       "/pages/page%d.pnm\nset page_dpi=150\nset nvram_month=1\nset nvram_day=1\n");
  Press();  // held from the start: the daemon waits it out holding its lock
  pid_t daemon = Start();
  ASSERT_TRUE(WaitFor([&] { return Reserved(daemon); }));
  mkdir((m_dir + "/out").c_str(), 0755);
  auto started = std::chrono::steady_clock::now();
  auto r = UserScan(m_dir, m_dir + "/out");
  EXPECT_LT(r.exitCode, 128) << "it ended by itself";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(12));
  unlink((m_dir + "/button").c_str());
  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

TEST_F(ScanButtonDaemon, FirstReadDateOfTheCommandBlockModels) {
  if (m_skip) return;
  WriteFile(m_dir + "/conf/dravn.conf", "usb 0x" + Hex4(dravn::kDocuvaneModels[0].vendorId) + " 0x" +
                                            Hex4(dravn::kDocuvaneModels[0].productId) + "\n");
  const std::string name = std::string(dravn::kDocuvaneModels[0].model) + ":001:005";
  auto plug = [&](const std::string& extra) {
    SetScenario("device generic " + Hex4(dravn::kDocuvaneModels[0].vendorId) + ":" +
                Hex4(dravn::kDocuvaneModels[0].productId) + " bus=1 address=5\nset state=" + m_dir +
                "/state\nset button=" + m_dir + "/button\n" + extra);
  };
  auto reserved = [&](pid_t daemon) {
    int k = FindEntry(name);
    return k >= 0 && Table()[k].state == "SBReserved" && Table()[k].pid == std::to_string(daemon);
  };
  // Refused: the cycle is tried again and again, the scanner closed after
  // each refusal. (The entry is reserved while a round runs and cleared at
  // its end; DeviceThread.ARefusedFirstReadDateKeepsNoReservation looks at
  // the ends of the rounds.)
  plug("set date_refuse=1\n");
  pid_t daemon = Start();
  EXPECT_TRUE(WaitFor([&] { return Count(" open ") >= 3; }));
  EXPECT_GE(Count(" close"), 2) << "closed after each refusal";
  // Accepted: today's date is written and the scanner reserved; the
  // reservation comes first.
  plug("");
  ASSERT_TRUE(WaitFor([&] { return reserved(daemon) && ReadFile(m_dir + "/state.date").size() == 3; }));
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  std::string date = ReadFile(m_dir + "/state.date");
  ASSERT_EQ(date.size(), 3u);
  EXPECT_EQ(date[0], static_cast<char>((local.tm_year + 1900) % 100));
  EXPECT_EQ(date[1], static_cast<char>(local.tm_mon + 1));
  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

TEST_F(ScanButtonDaemon, EndToEndScanOfASelko2Scanner) {
  if (m_skip) return;
  RenderPages(m_dir, 2);
  RealScanimage();
  WriteFile(m_dir + "/etc/dravnscanbutton.conf", "--source Adf-front --resolution 150 --batch=scan%d.pnm\n");
  Plug("set sheets=2\nset pages=" + m_dir +
       "/pages/page%d.pnm\nset page_dpi=150\nset nvram_month=1\nset nvram_day=1\n");
  pid_t daemon = Start();
  // Pressed before the device thread is done taking the scanner, the
  // button would be waited out as one held at start.
  ASSERT_TRUE(WaitFor([&] { return Watched(daemon); }));
  int claims = Count(" claim ");
  Press();
  ASSERT_NO_FATAL_FAILURE(ScannedTwoPages());
  EXPECT_TRUE(WaitFor([&] { return Count(" claim ") > claims && Reserved(daemon); })) << "the scanner is taken back";
  unlink(PidFile().c_str());
  EXPECT_EQ(Reap(daemon), 0);
}

// The Selko and Brenna buttons come as interrupt packets, one as the button
// goes down: a press makes the daemon give the scanner up and scan with the
// real scanimage, then take it back.
TEST_F(ScanButtonDaemon, EndToEndScanOfTheInterruptButtonFamilies) {
  if (m_skip) return;
  struct Family {
    const char* sim;
    const dravn::CatalogModel& model;
  };
  const Family families[] = {{"selko", dravn::kSelkoModels[0]}, {"brenna", dravn::kBrennaModels[0]}};
  RenderPages(m_dir, 2);
  RealScanimage();
  WriteFile(m_dir + "/etc/dravnscanbutton.conf", "--source Adf-front --resolution 150 --batch=scan%d.pnm\n");
  for (const Family& f : families) {
    SCOPED_TRACE(f.sim);
    const std::string id = Hex4(f.model.vendorId) + ":" + Hex4(f.model.productId);
    const std::string name = std::string(f.model.model) + ":001:005";
    WriteFile(m_dir + "/conf/dravn.conf", "usb 0x" + Hex4(f.model.vendorId) + " 0x" + Hex4(f.model.productId) + "\n");
    SetScenario(std::string("device ") + f.sim + " " + id + " bus=1 address=5\nset button=" + m_dir +
                "/button\nset sheets=2\nset pages=" + m_dir + "/pages/page%d.pnm\nset page_dpi=150\n");
    auto reserved = [&](pid_t daemon) {
      int k = FindEntry(name);
      return k >= 0 && Table()[k].state == "SBReserved" && Table()[k].pid == std::to_string(daemon);
    };
    // Watched: reserved, and the button read on its interrupt endpoint since
    // the last claim.
    auto watched = [&](pid_t daemon) {
      std::string t = ReadFile(m_dir + "/transcript");
      size_t claim = t.rfind(" claim ");
      return reserved(daemon) && claim != std::string::npos && Count("interrupt in ep=0x83", claim) >= 2;
    };
    pid_t daemon = Start();
    ASSERT_TRUE(WaitFor([&] { return watched(daemon); })) << ReadFile(m_dir + "/daemon.out");
    int claims = Count(" claim ");
    Press();
    ASSERT_NO_FATAL_FAILURE(ScannedTwoPages());
    EXPECT_TRUE(WaitFor([&] { return Count(" claim ") > claims && reserved(daemon); })) << "the scanner is taken back";
    unlink(PidFile().c_str());
    EXPECT_EQ(Reap(daemon), 0);
    ASSERT_EQ(dravn_test::Run({"sh", "-c", "rm -rf '" + m_dir + "/image/'* '" + StatusLog() + "'"}).exitCode, 0);
  }
}

}  // namespace
