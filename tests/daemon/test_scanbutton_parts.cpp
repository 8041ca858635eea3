// The daemon's parts driven in-process: button reading and the first-read
// date against simulated scanners (the stand-in libusb linked in), and the
// scan launch with a stand-in scanimage that records what it was given.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common_layer_util.h"
#include "model_catalog.h"
#include "scan_manager.h"
#include "selko2_owner.h"
#include "test_support.h"

using dravn_test::ListDir;
using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

void FixedTime(struct tm* out) {
  *out = {};
  out->tm_year = 2026 - 1900;
  out->tm_mon = 11;
  out->tm_mday = 10;
  out->tm_hour = 3;
  out->tm_min = 4;
  out->tm_sec = 5;
}

long long g_fakeNowUs = 0;
int g_naps = 0;
void FakeSleep(unsigned long us) {
  g_fakeNowUs += static_cast<long long>(us);
  ++g_naps;
}
long long FakeNow() { return g_fakeNowUs; }

std::string Hex4(int v) {
  char b[8];
  snprintf(b, sizeof b, "%04x", v);
  return b;
}

// One simulated scanner as the daemon's record 0, opened and claimed.
class DeviceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("scanbutton-device");
    g_tSeams.localTime = FixedTime;
    g_tSeams.sleepUs = FakeSleep;
    g_tSeams.monotonicUs = FakeNow;
    setenv("DRAVN_CONFIG_DIR", m_dir.c_str(), 1);
    std::string conf;
    for (const auto& r : g_tDeviceTable)
      conf += "usb 0x" + Hex4(static_cast<int>(r.dwVendorId)) + " 0x" + Hex4(static_cast<int>(r.dwProductId)) + "\n";
    WriteFile(m_dir + "/dravn.conf", conf);
  }
  void TearDown() override {
    FreeDeviceList();
    unsetenv("DRAVN_SIM");
    unsetenv("DRAVN_CONFIG_DIR");
  }
  // Plugs one device of `family` with the catalogue model's ids.
  bool Plug(const std::string& family, const dravn::CatalogModel& m, const std::string& extra = "") {
    static int serial = 0;
    std::string scenario = m_dir + "/scenario";
    WriteFile(scenario, "device " + family + " " + Hex4(m.vendorId) + ":" + Hex4(m.productId) +
                            " bus=1 address=7\nset state=" + m_dir + "/state" + std::to_string(++serial) +
                            "\nset button=" + Button() + "\n" + extra);
    setenv("DRAVN_SIM", scenario.c_str(), 1);
    int count = 0;
    return GetDeviceList(&count) == 1 && count == 1 && DoOpenDevice(0) == 1;
  }
  std::string Button() const { return m_dir + "/button"; }
  void Press() { WriteFile(Button(), ""); }

  std::string m_dir;
};

struct ButtonCase {
  const char* name;
  const char* family;
  const dravn::CatalogModel* model;
  bool pressed;
  const char* extra;
  int expected;
};

TEST_F(DeviceFixture, ButtonPerFamily) {
  const ButtonCase cases[] = {
      {"Selko2 held", "selko2", &dravn::kSelko2Models[0], true, "", 1},
      {"Selko2 not held", "selko2", &dravn::kSelko2Models[1], false, "", 0},
      {"Selko2 locked by another host reads as not held", "selko2", &dravn::kSelko2Models[2], true,
       "set lock_owner=another-host\n", 0},
      {"Selko2 extended status fails", "selko2", &dravn::kSelko2Models[0], true, "fault transfer 2 fail\n", -1},
      {"Selko2 gone during the button record", "selko2", &dravn::kSelko2Models[0], true, "fault transfer 4 gone\n", -1},
      {"Selko2 silent in the button record's data", "selko2", &dravn::kSelko2Models[0], true,
       "fault transfer 5 timeout\n", -1},
      {"command-block model held", "generic", &dravn::kDocuvaneModels[0], true, "", 1},
      {"command-block model not held", "generic", &dravn::kDocuvaneModels[1], false, "", 0},
      {"command-block model fails", "generic", &dravn::kDocuvaneModels[2], true, "fault transfer 1 fail\n", -1},
      // The Selko and Brenna models come with their families; until then a
      // device whose interrupt endpoint stays silent stands in for them.
      {"interrupt time-out reads as not pressed", "loopback", &dravn::kSelkoModels[0], false, "", 0},
      {"interrupt event time-out reads as not pressed", "loopback", &dravn::kBrennaModels[0], false, "", 0},
      {"interrupt failure", "loopback", &dravn::kSelkoModels[1], false, "fault transfer 1 fail\n", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(Button().c_str());
    if (c.pressed) Press();
    ASSERT_TRUE(Plug(c.family, *c.model, c.extra));
    EXPECT_EQ(CheckButtonStatus(0), c.expected);
    DoReleaseDevice(0);
    EXPECT_EQ(CheckButtonStatus(0), -1) << "no handle";
  }
  // A lock that an ended run of this host left hides no press: the scan it
  // starts takes the lock over.
  const std::string ended = dravn_test::OwnerOfAnEndedProcess();
  ASSERT_EQ(ended.size(), 36u);
  Press();
  ASSERT_TRUE(Plug("selko2", dravn::kSelko2Models[0], "set lock_owner=" + ended + "\n"));
  EXPECT_EQ(CheckButtonStatus(0), 1);
  DoReleaseDevice(0);
}

TEST_F(DeviceFixture, FirstReadDate) {
  struct Case {
    const char* name;
    const char* extra;
    int result;
    int year, month, day;  // what the device holds afterwards
  };
  const Case cases[] = {
      {"a date that is set is kept", "set first_date=21,3,4\n", 1, 21, 3, 4},
      {"no date: today's is written", "", 1, 26, 12, 10},
      {"a zero month counts as unset", "set first_date=21,0,4\n", 1, 26, 12, 10},
      {"a refusal fails the step", "set date_refuse=1\n", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Plug("generic", dravn::kDocuvaneModels[0], c.extra));
    EXPECT_EQ(SetFirstReadDate(0), c.result);
    uint8_t y = 99, m = 99, d = 99;
    ASSERT_EQ(GetSelfTestDate(&y, &m, &d, 0), 1);
    EXPECT_EQ(y, c.year);
    EXPECT_EQ(m, c.month);
    EXPECT_EQ(d, c.day);
    DoReleaseDevice(0);
  }
  EXPECT_EQ(SetFirstReadDate(0), 0) << "no handle";
}

TEST_F(DeviceFixture, ListCarriesTheOpenHandleAndCountsEachDeviceOnce) {
  ASSERT_TRUE(Plug("selko2", dravn::kSelko2Models[0]));
  libusb_device_handle* open = g_taActiveDevList[0].ptHandle;
  // The pair listed twice and three qualifying interfaces: one device.
  WriteFile(m_dir + "/dravn.conf", ReadFile(m_dir + "/dravn.conf") + ReadFile(m_dir + "/dravn.conf"));
  std::string scenario = ReadFile(m_dir + "/scenario");
  int count = 0;
  ASSERT_EQ(GetDeviceList(&count), 1);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(g_taActiveDevList[0].ptHandle, open) << "a rebuild keeps the claim it holds";
  EXPECT_EQ(GetDeviceNumber(), 1);
  EXPECT_EQ(CheckButtonStatus(0), 0);

  WriteFile(m_dir + "/scenario", scenario.replace(scenario.find("bus=1"), 5, "bus=1 interfaces=255,0,6"));
  EXPECT_EQ(GetDeviceNumber(), 1);

  WriteFile(m_dir + "/scenario", "");
  EXPECT_EQ(GetDeviceList(&count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(GetDeviceNumber(), 0);
}

TEST_F(DeviceFixture, TwoScannersAreListedAndOnlyTheFirstOpened) {
  EXPECT_FALSE(Plug("selko2", dravn::kSelko2Models[0],
                    "device generic " + Hex4(dravn::kDocuvaneModels[0].vendorId) + ":" +
                        Hex4(dravn::kDocuvaneModels[0].productId) + " bus=2 address=3\n"))
      << "not one device";
  int count = 0;
  ASSERT_EQ(GetDeviceList(&count), 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(GetDeviceNumber(), 2);
  EXPECT_EQ(DoOpenDevice(0), 1);
  EXPECT_EQ(g_taActiveDevList[1].ptHandle, nullptr);
}

TEST_F(DeviceFixture, ModelTextNamesTheRecord) {
  ASSERT_TRUE(Plug("selko2", dravn::kSelko2Models[1]));
  EXPECT_EQ(std::string(g_taActiveDevList[0].pszDevName), std::string(dravn::kSelko2Models[1].model) + ":001:007");
  EXPECT_EQ(g_taActiveDevList[0].iDeviceType, 35);
  EXPECT_EQ(std::string(g_taActiveDevList[0].pszVendor), "MORANTI");
}

// --- launch ----------------------------------------------------------------

class LaunchFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("scanbutton-launch");
    for (const char* sub : {"etc", "log", "image"}) mkdir((m_dir + "/" + sub).c_str(), 0755);
    m_savedConf = g_pszScanConfDir;
    m_savedLog = g_pszScanLogDir;
    m_etc = m_dir + "/etc/";
    m_log = m_dir + "/log/dravn";
    g_pszScanConfDir = m_etc.c_str();
    g_pszScanLogDir = m_log.c_str();
    g_tSeams.localTime = FixedTime;
    // The stand-in scanimage writes what it got, then does what the
    // configuration's first token says.
    std::string tool = m_dir + "/scanimage";
    WriteFile(tool,
              "#!/bin/sh\n"
              "{ for a in \"$0\" \"$@\"; do echo \"arg:$a\"; done; env | sort | sed 's/^/env:/'; echo \"cwd:$(pwd)\"; }"
              " > " +
                  m_dir +
                  "/record\n"
                  "case \"$1\" in\n"
                  "  write) echo page > page.pnm; mkdir sub; echo x > sub/more; chmod 600 page.pnm; exit 0;;\n"
                  "  status) exit \"$2\";;\n"
                  "  signal) kill -9 $$;;\n"
                  "esac\nexit 0\n");
    chmod(tool.c_str(), 0755);
    snprintf(g_caScanImagePath, sizeof g_caScanImagePath, "%s", tool.c_str());
  }
  void TearDown() override {
    g_pszScanConfDir = m_savedConf;
    g_pszScanLogDir = m_savedLog;
    DoReleaseSubProcessEnviron();
    dravn_test::Run({"rm", "-rf", m_dir});
  }
  void Conf(const std::string& text) { WriteFile(m_etc + "dravnscanbutton.conf", text); }
  std::string Root() { return m_dir + "/image/"; }
  std::string Folder() { return Root() + "20261210_030405"; }
  std::string Log() { return m_log + "/ScanbuttonErrlog_" + std::to_string(getuid()) + ".txt"; }
  std::vector<std::string> Lines(const std::string& prefix) {
    std::vector<std::string> out;
    std::string text = ReadFile(m_dir + "/record");
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      std::string line = text.substr(at, end - at);
      if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line.substr(prefix.size()));
      at = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
  }
  static mode_t Mode(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  std::string m_dir, m_etc, m_log;
  const char* m_savedConf = nullptr;
  const char* m_savedLog = nullptr;
};

TEST_F(LaunchFixture, ArgumentsEnvironmentFolderAndLog) {
  setenv("LANG", "C.UTF-8", 1);
  setenv("DRAVN_DEBUG", "0", 1);
  setenv("SANE_CONFIG_DIR", "/not/passed", 1);
  InitSubProcessEnviron();
  Conf("write   --mode Color\n");
  DoScan(Root().c_str(), "Selko2S420:001:007");
  EXPECT_EQ(Lines("arg:"), (std::vector<std::string>{g_caScanImagePath, "write", "--mode", "Color", "-d",
                                                     "dravn:Selko2S420:001:007"}));
  std::vector<std::string> names;
  for (const auto& e : Lines("env:")) names.push_back(e.substr(0, e.find('=')));
  for (const auto& n : names)
    EXPECT_TRUE(n == "LANG" || n == "DRAVN_DEBUG" || n == "PATH" || n == "DISPLAY" || n == "SANE_DEBUG_DLL" ||
                n == "PWD" || n == "SHLVL" || n == "_")
        << n;  // the last three the shell itself sets
  EXPECT_NE(std::find(names.begin(), names.end(), "LANG"), names.end());
  EXPECT_EQ(Lines("cwd:"), std::vector<std::string>{Folder()});
  EXPECT_EQ(ReadFile(Log()), "Operation completed successfully");
  EXPECT_EQ(Mode(Log()), 0644u);
  EXPECT_EQ(Mode(Folder()), 0755u);
  EXPECT_EQ(Mode(Folder() + "/page.pnm"), 0644u);
  EXPECT_EQ(Mode(Folder() + "/sub"), 0755u);
  EXPECT_EQ(Mode(Folder() + "/sub/more"), 0644u);
  EXPECT_EQ(Mode(m_dir + "/image"), 0755u) << "an existing root is left as it is";
  unsetenv("SANE_CONFIG_DIR");
  unsetenv("DRAVN_DEBUG");
}

TEST_F(LaunchFixture, ConfigurationLines) {
  InitSubProcessEnviron();
  Conf("\n");
  DoScan(Root().c_str(), "dev:001:002");
  EXPECT_EQ(Lines("arg:"), (std::vector<std::string>{g_caScanImagePath, "-d", "dravn:dev:001:002"}));
  EXPECT_FALSE(ListDir(Root()).size()) << "a scan that wrote nothing leaves no folder";

  for (const char* text : {static_cast<const char*>(""), static_cast<const char*>(nullptr)}) {
    unlink((m_dir + "/record").c_str());
    unlink(Log().c_str());
    if (text)
      Conf(text);
    else
      unlink((m_etc + "dravnscanbutton.conf").c_str());
    DoScan(Root().c_str(), "dev:001:002");
    EXPECT_NE(access((m_dir + "/record").c_str(), F_OK), 0) << "no scan";
    EXPECT_NE(access(Log().c_str(), F_OK), 0) << "no log";
  }
}

TEST_F(LaunchFixture, StatusLogPerExitCode) {
  InitSubProcessEnviron();
  const std::pair<int, const char*> cases[] = {
      {0, "Operation completed successfully"},
      {2, "Operation was cancelled"},
      {6, "Document feeder jammed"},
      {7, "Document feeder out of documents"},
      {9, "Error during device I/O"},
      {11, "Access to resource has been denied"},
      {12, "Unknown SANE status"},
      {127, "Unknown SANE status"},
  };
  for (const auto& c : cases) {
    Conf("status " + std::to_string(c.first) + "\n");
    DoScan(Root().c_str(), "dev:001:002");
    EXPECT_EQ(ReadFile(Log()), c.second) << c.first;
  }
  unlink(Log().c_str());
  Conf("signal\n");
  DoScan(Root().c_str(), "dev:001:002");
  EXPECT_NE(access(Log().c_str(), F_OK), 0) << "a scan ended by a signal leaves no status";
}

TEST_F(LaunchFixture, TwoPressesInOneSecondShareTheFolder) {
  InitSubProcessEnviron();
  Conf("write\n");
  DoScan(Root().c_str(), "dev:001:002");
  rename((Folder() + "/page.pnm").c_str(), (Folder() + "/first.pnm").c_str());
  dravn_test::Run({"rm", "-rf", Folder() + "/sub"});
  DoScan(Root().c_str(), "dev:001:002");
  EXPECT_EQ(ListDir(Root()).size(), 1u);
  EXPECT_EQ(access((Folder() + "/first.pnm").c_str(), F_OK), 0);
  EXPECT_EQ(access((Folder() + "/page.pnm").c_str(), F_OK), 0);
}

TEST_F(LaunchFixture, PlantedLinksAreNotFollowed) {
  InitSubProcessEnviron();
  Conf("write\n");
  std::string victim = m_dir + "/victim";
  mkdir(victim.c_str(), 0700);
  WriteFile(victim + "/secret", "keep");
  chmod((victim + "/secret").c_str(), 0600);
  ASSERT_EQ(symlink(victim.c_str(), Folder().c_str()), 0);
  DoScan(Root().c_str(), "dev:001:002");
  EXPECT_NE(access((m_dir + "/record").c_str(), F_OK), 0) << "no scan into a planted link";
  EXPECT_EQ(Mode(victim + "/secret"), 0600u);
  EXPECT_EQ(Mode(victim), 0700u);
  unlink(Folder().c_str());

  // The log: a link or a second name of another file is never truncated.
  mkdir(m_log.c_str(), 0777);
  WriteFile(victim + "/target", "precious");
  ASSERT_EQ(symlink((victim + "/target").c_str(), Log().c_str()), 0);
  WriteScanbuttonLog(0);
  EXPECT_EQ(ReadFile(victim + "/target"), "precious");
  unlink(Log().c_str());
  ASSERT_EQ(link((victim + "/target").c_str(), Log().c_str()), 0);
  WriteScanbuttonLog(0);
  EXPECT_EQ(ReadFile(victim + "/target"), "precious");

  // A link in place of the image root.
  std::string root = m_dir + "/linkroot";
  ASSERT_EQ(symlink(victim.c_str(), root.c_str()), 0);
  EXPECT_EQ(scanbutton::CreateFolder((root + "/").c_str()), 0);
  DoScan((root + "/").c_str(), "dev:001:002");
  EXPECT_EQ(ListDir(victim).size(), 2u);
}

TEST_F(LaunchFixture, MissingFoldersAreMadeWithTheirModes) {
  std::string root = m_dir + "/new/";
  EXPECT_EQ(scanbutton::CreateFolder(root.c_str()), 1);
  EXPECT_EQ(Mode(m_dir + "/new"), 0777u);
  WriteScanbuttonLog(9);
  EXPECT_EQ(Mode(m_log), 0777u);
  EXPECT_EQ(ReadFile(Log()), "Error during device I/O");
}

TEST(ScanButtonHeld, WaitsOutAHeldButtonForAtMostFifteenSeconds) {
  // Covered through the seams: the held button never lets go, and the
  // fake clock advances by each nap.
  std::string dir = dravn_test::MakeTempDir("scanbutton-held");
  g_tSeams.sleepUs = FakeSleep;
  g_tSeams.monotonicUs = FakeNow;
  setenv("DRAVN_CONFIG_DIR", dir.c_str(), 1);
  WriteFile(dir + "/dravn.conf",
            "usb 0x" + Hex4(dravn::kSelko2Models[0].vendorId) + " 0x" + Hex4(dravn::kSelko2Models[0].productId) + "\n");
  WriteFile(dir + "/button", "");
  WriteFile(dir + "/scenario", "device selko2 " + Hex4(dravn::kSelko2Models[0].vendorId) + ":" +
                                   Hex4(dravn::kSelko2Models[0].productId) + " bus=3 address=9\nset button=" + dir +
                                   "/button\n");
  setenv("DRAVN_SIM", (dir + "/scenario").c_str(), 1);
  int count = 0;
  ASSERT_EQ(GetDeviceList(&count), 1);
  ASSERT_EQ(DoOpenDevice(0), 1);
  g_fakeNowUs = 0;
  g_naps = 0;
  EXPECT_EQ(WaitOutHeldButton(), 1);
  EXPECT_GE(g_fakeNowUs, 15000000);
  EXPECT_LT(g_fakeNowUs, 15100000);
  EXPECT_GT(g_naps, 100) << "short naps, not one long sleep";

  unlink((dir + "/button").c_str());
  g_fakeNowUs = 0;
  EXPECT_EQ(WaitOutHeldButton(), 1);
  EXPECT_EQ(g_fakeNowUs, 0);
  DoReleaseDevice(0);
  EXPECT_EQ(WaitOutHeldButton(), 0) << "a failed read";
  FreeDeviceList();
  unsetenv("DRAVN_SIM");
  unsetenv("DRAVN_CONFIG_DIR");
}

// --- the device thread, cycle by cycle ----------------------------------------

// Every nap of the daemon's thread stops until the test lets it go: the test
// looks at the table and the device at the end of each cycle, and no time
// passes.
struct NapGate {
  std::mutex m;
  std::condition_variable cv;
  int naps = 0;     // naps begun
  int allowed = 0;  // naps that may end
};
NapGate g_gate;
void GatedSleep(unsigned long) {
  std::unique_lock<std::mutex> lock(g_gate.m);
  int mine = ++g_gate.naps;
  g_gate.cv.notify_all();
  g_gate.cv.wait(lock, [&] { return g_gate.allowed >= mine; });
}

class DeviceThread : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!common_layer_test::RunIsolated({"--ipc"})) {
      m_skip = true;
      return;
    }
    m_dir = dravn_test::MakeTempDir("scanbutton-cycles");
    g_tSeams.sleepUs = GatedSleep;
    g_tSeams.monotonicUs = FakeNow;
    g_tSeams.localTime = FixedTime;
    m_pidFile = m_dir + "/dravnscanbutton.pid";
    g_pszPidFile = m_pidFile.c_str();
    snprintf(g_szCurrentPid, sizeof g_szCurrentPid, "%d", static_cast<int>(getpid()));
    WriteFile(m_pidFile, g_szCurrentPid);
    setenv("DRAVN_CONFIG_DIR", m_dir.c_str(), 1);
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    setenv("DRAVN_SIM_TRANSCRIPT", (m_dir + "/transcript").c_str(), 1);
    WriteFile(m_dir + "/scenario", "");
    ASSERT_TRUE(g_tShareMemory.InitShareMemory());
    ASSERT_EQ(pthread_mutex_init(&g_mutex, nullptr), 0);
  }
  void TearDown() override {
    if (m_skip) return;
    if (m_thread.joinable()) {
      unlink(m_pidFile.c_str());
      Let(1 << 30);
      m_thread.join();
    }
    FreeDeviceList();
    g_tShareMemory.ReleaseShareMemory();
    for (const char* v : {"DRAVN_SIM", "DRAVN_SIM_TRANSCRIPT", "DRAVN_CONFIG_DIR"}) unsetenv(v);
  }

  void Configure(const dravn::CatalogModel& m) {
    WriteFile(m_dir + "/dravn.conf", "usb 0x" + Hex4(m.vendorId) + " 0x" + Hex4(m.productId) + "\n");
    m_name = std::string(m.model) + ":001:005";
  }
  void Plug(const std::string& family, const dravn::CatalogModel& m, const std::string& extra = "") {
    WriteFile(m_dir + "/scenario.new", "device " + family + " " + Hex4(m.vendorId) + ":" + Hex4(m.productId) +
                                           " bus=1 address=5\nset state=" + m_dir + "/state\nset button=" + m_dir +
                                           "/button\n" + extra);
    rename((m_dir + "/scenario.new").c_str(), (m_dir + "/scenario").c_str());
  }
  void StartDeviceThread() {
    m_thread = std::thread([] { GetDeviceHandle(nullptr); });
  }
  // Lets naps up to `n` end.
  void Let(int n) {
    std::lock_guard<std::mutex> lock(g_gate.m);
    g_gate.allowed = n;
    g_gate.cv.notify_all();
  }
  // Lets the nap seen last end and waits for the next one: one cycle, or
  // one round of a repeat, has run.
  void Cycle() {
    std::unique_lock<std::mutex> lock(g_gate.m);
    g_gate.allowed = m_seen;
    g_gate.cv.notify_all();
    int next = ++m_seen;
    g_gate.cv.wait(lock, [&] { return g_gate.naps >= next; });
  }
  SHM_DEVICE_ENTRY* Entry() {
    for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT; ++i)
      if (m_name == g_tShareMemory.GetEntry()[i].szDevName) return &g_tShareMemory.GetEntry()[i];
    return nullptr;
  }
  std::string State() { return Entry() ? Entry()->szState : "no entry"; }
  std::string Owner() { return Entry() ? std::string(Entry()->szPid, strnlen(Entry()->szPid, 10)) : ""; }
  void SetEntry(const std::string& pid, const std::string& state) {
    ASSERT_TRUE(g_tShareMemory.p());
    SHM_DEVICE_ENTRY* e = Entry();
    if (e) {
      memset(e->szPid, 0, sizeof e->szPid + sizeof e->szState);
      memcpy(e->szPid, pid.data(), pid.size());
      memcpy(e->szState, state.data(), state.size());
    }
    g_tShareMemory.v();
    ASSERT_NE(e, nullptr);
  }
  bool Open() { return g_taActiveDevList[0].ptHandle != nullptr; }
  int Count(const std::string& what) {
    std::string t = ReadFile(m_dir + "/transcript");
    int n = 0;
    for (size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1)) ++n;
    return n;
  }

  bool m_skip = false;
  int m_seen = 0;
  std::string m_dir, m_pidFile, m_name;
  std::thread m_thread;
};

TEST_F(DeviceThread, TakesAPluggedScannerAndLeavesItToTheMonitorWhileItIsOpen) {
  if (m_skip) return;
  Configure(dravn::kSelko2Models[0]);
  StartDeviceThread();
  Cycle();
  Cycle();
  EXPECT_EQ(State(), "no entry") << "no scanner, no entry";
  EXPECT_EQ(Count(" open "), 0);

  Plug("selko2", dravn::kSelko2Models[0]);
  Cycle();
  ASSERT_EQ(State(), "SBReserved");
  EXPECT_EQ(Owner(), g_szCurrentPid);
  ASSERT_TRUE(Open());
  std::string claimed = ReadFile(m_dir + "/transcript");

  // The lock comes back to this thread before the monitor has had it: a
  // press, a request and an unplug now are the monitor's to see.
  WriteFile(m_dir + "/button", "");
  common_layer_test::Peer requester([] { return 0; }, true);
  SetEntry(requester.PidText(), "Request");
  Cycle();
  EXPECT_EQ(State(), "Request") << "not answered with the scanner still claimed";
  EXPECT_EQ(ReadFile(m_dir + "/transcript"), claimed) << "the press is not waited out as a held one";
  std::string plugged = ReadFile(m_dir + "/scenario");
  WriteFile(m_dir + "/scenario", "");
  for (int k = 0; k < 2; ++k) {
    Cycle();
    EXPECT_EQ(pthread_mutex_trylock(&g_mutex), 0) << "the lock is not held through the unplug";
    pthread_mutex_unlock(&g_mutex);
  }
  EXPECT_TRUE(Open());
  EXPECT_EQ(ReadFile(m_dir + "/transcript"), claimed) << "no cycle of its own on the watched scanner";
  WriteFile(m_dir + "/scenario", plugged);
  unlink((m_dir + "/button").c_str());

  // The monitor closes it and gives the lock up: the next cycle answers.
  pthread_mutex_lock(&g_mutex);
  DoReleaseDevice(0);
  pthread_mutex_unlock(&g_mutex);
  Cycle();
  EXPECT_EQ(State(), "SBRelease");
  EXPECT_FALSE(Open());
  EXPECT_EQ(Count(" close"), Count(" open "));
}

TEST_F(DeviceThread, ARunningOwnerIsLeftAloneUntilItEnds) {
  if (m_skip) return;
  Configure(dravn::kSelko2Models[0]);
  Plug("selko2", dravn::kSelko2Models[0]);
  StartDeviceThread();
  Cycle();
  ASSERT_EQ(State(), "SBReserved");
  pthread_mutex_lock(&g_mutex);
  DoReleaseDevice(0);
  pthread_mutex_unlock(&g_mutex);
  int opens = Count(" open ");

  common_layer_test::Peer owner([] { return 0; }, true);
  SetEntry(owner.PidText(), "Reserved");
  for (int k = 0; k < 3; ++k) {
    Cycle();
    EXPECT_EQ(State(), "Reserved");
    EXPECT_EQ(Owner(), owner.PidText());
    EXPECT_EQ(Count(" open "), opens) << "not opened while its owner runs";
  }
  owner.Finish();
  Cycle();
  EXPECT_EQ(State(), "SBReserved") << "taken over once the owner has ended";
  EXPECT_EQ(Owner(), g_szCurrentPid);
  EXPECT_TRUE(Open());
}

TEST_F(DeviceThread, ARefusedFirstReadDateKeepsNoReservation) {
  if (m_skip) return;
  Configure(dravn::kDocuvaneModels[0]);
  Plug("generic", dravn::kDocuvaneModels[0], "set date_refuse=1\n");
  StartDeviceThread();
  for (int k = 1; k <= 3; ++k) {
    Cycle();
    EXPECT_NE(State(), "SBReserved") << "round " << k;
    EXPECT_FALSE(Open());
    EXPECT_EQ(Count(" open "), k) << "tried again each round";
    EXPECT_EQ(Count(" close"), k) << "closed after each refusal";
  }
  Plug("generic", dravn::kDocuvaneModels[0]);
  Cycle();
  EXPECT_EQ(State(), "SBReserved");
  EXPECT_TRUE(Open());
  EXPECT_EQ(ReadFile(m_dir + "/state.date"), std::string("\x1a\x0c\x0a", 3)) << "the fixed clock's date";
}

std::string g_syslog;
void CaptureSyslog(const char* text) { g_syslog += text; }

TEST(ScanButtonEnd, ADeletedTableIsReportedToTheSystemLog) {
  if (!common_layer_test::RunIsolated({"--ipc"})) return;
  g_tSeams.systemLog = CaptureSyslog;
  ASSERT_TRUE(g_tShareMemory.InitShareMemory());
  EndScanButton();
  EXPECT_EQ(g_syslog, "") << "the table is still there";
  EXPECT_LT(shmget(0x43A0D0, 454, 0), 0) << "the last user removes the table";

  ASSERT_TRUE(g_tShareMemory.InitShareMemory());
  ASSERT_EQ(shmctl(g_tShareMemory.GetShmId(), IPC_RMID, nullptr), 0);
  EXPECT_EQ(GetShareMemoryKey(), 0);
  EndScanButton();
  EXPECT_EQ(g_syslog, "The share memory was deleted manually.You should start the scanbutton's service again.\n");
}

TEST(ScanButtonProcesses, AFrontEndIsFoundByItsProgramName) {
  std::string dir = dravn_test::MakeTempDir("scanbutton-proc");
  ASSERT_EQ(dravn_test::Run({"cp", "/bin/sleep", dir + "/xscanimage-test"}).exitCode, 0);
  pid_t child = fork();
  if (child == 0) {
    execl((dir + "/xscanimage-test").c_str(), "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_TRUE([&] {
    for (int i = 0; i < 200; ++i) {
      if (IsDriverInUse() == 1) return true;
      usleep(10000);
    }
    return false;
  }());
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace
