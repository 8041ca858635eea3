// The second backend's entry points as the main backend calls them: the
// staged library driven by a probe program against simulated scanners,
// each run in its own IPC and mount namespaces with its own status-file,
// log and (where a case needs it) configuration and library directories.
#include <gtest/gtest.h>
#include <sane/sane.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "second_test_util.h"
#include "test_support.h"

using namespace second_test;
using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

const std::string kName = DeviceName(Selko2Model(), 1, 5);

class SecondEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("second-entry");
    for (const char* sub : {"shm", "log", "etc"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
    WriteFile(m_dir + "/dravn.conf", SecondDravnConf());
    // The configuration directory as installed; cases change their copy.
    for (const auto& name : dravn_test::ListDir(DRAVN_ETC_DIR))
      WriteFile(m_dir + "/etc/" + name, ReadFile(std::string(DRAVN_ETC_DIR) + "/" + name));
    Scenario(Selko2Scenario(State()));
  }

  std::string State() const { return m_dir + "/state"; }
  void Scenario(const std::string& text) { WriteFile(m_dir + "/scenario", text); }
  void Etc(const std::string& name, const std::string& text) { WriteFile(m_dir + "/etc/" + name, text); }
  void NoEtc(const std::string& name) { unlink((m_dir + "/etc/" + name).c_str()); }

  // Runs the probe (or a copy of it named `program`) with the steps.
  dravn_test::RunResult Probe(const std::vector<std::string>& steps, const std::string& program = "",
                              std::map<std::string, std::string> env = {}, const std::vector<std::string>& binds = {}) {
    std::string probe = SECOND_PROBE;
    if (!program.empty()) {
      std::string dir = m_dir + "/bin";
      mkdir(dir.c_str(), 0755);
      probe = dir + "/" + program;
      dravn_test::Run({"cp", SECOND_PROBE, probe});
    }
    std::vector<std::string> argv{"unshare", "--ipc", "--mount", probe};
    std::vector<std::string> all = {m_dir + "/shm:" DRAVN_SHM_DIR, m_dir + "/log:" DRAVN_LOG_DIR,
                                    m_dir + "/etc:" DRAVN_ETC_DIR};
    all.insert(all.end(), binds.begin(), binds.end());
    for (const auto& b : all) {
      argv.push_back("--bind");
      argv.push_back(b);
    }
    argv.insert(argv.end(), steps.begin(), steps.end());
    auto e = dravn_test::SimEnv(m_dir + "/scenario");
    e["DRAVN_SIM_TRANSCRIPT"] = m_dir + "/transcript";
    e["DRAVN_CONFIG_DIR"] = m_dir;
    e["DRAVN_DEBUG"] = "";
    for (const auto& [k, v] : env) e[k] = v;
    return dravn_test::Run(argv, e, 60);
  }

  // The package's library directory with `remove` taken out and, when
  // `withStub`, the stand-in libimgforge that offers every option; to be
  // bound over the real one.
  std::string LibDir(const std::string& remove, bool withStub = false) {
    std::string lib = m_dir + "/lib" + std::to_string(m_libs++);
    mkdir(lib.c_str(), 0755);
    std::string cmd = std::string("cp -a ") + DRAVN_LIB_DIR + "/. " + lib;
    if (!remove.empty()) cmd += " && rm -f " + lib + "/" + remove;
    if (withStub)
      cmd += std::string(" && rm -f ") + lib + "/libimgforge.so && cp " + SECOND_IMGFORGE_STUB + " " + lib +
             "/libimgforge.so";
    EXPECT_EQ(dravn_test::Run({"sh", "-c", cmd}).exitCode, 0);
    return lib + ":" DRAVN_LIB_DIR;
  }

  std::vector<std::string> Sent() { return CommandsSent(ReadFile(m_dir + "/transcript")); }
  std::string Owner() { return ReadFile(State()).substr(288); }
  std::string StatusFile() { return ReadFile(m_dir + "/shm/" + kName + "-" + std::to_string(getuid()) + "-shm"); }
  std::vector<std::string> Logs(const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& n : dravn_test::ListDir(m_dir + "/log"))
      if (n.rfind(prefix, 0) == 0) out.push_back(m_dir + "/log/" + n);
    return out;
  }

  std::string m_dir;
  int m_libs = 0;
};

bool Has(const std::string& out, const std::string& line) { return out.find(line + "\n") != std::string::npos; }

#define EXPECT_LINE(r, line) EXPECT_TRUE(Has((r).out, line)) << "want: " << (line) << "\n" << (r).out << (r).err

TEST_F(SecondEntry, Selko2OpenLocksAndCloseUnlocks) {
  auto r = Probe({"init", "open", kName, "get", "0", "get", "46", "get", "47", "table", "close", "table", "exit"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_LINE(r, "init 0");
  EXPECT_LINE(r, "open 0 1");
  EXPECT_LINE(r, "get 0 0 48");
  EXPECT_LINE(r, "get 46 0 0x00000000");
  EXPECT_LINE(r, "get 47 0 0x00000000");
  // Held while open, let go at close.
  EXPECT_TRUE(std::regex_search(r.out, std::regex("entry 0 " + kName + " [0-9]+ Reserved\n"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("entry 0 " + kName + " - Release\n"))) << r.out;
  auto sent = Sent();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 3),
            (std::vector<std::string>{kCmdStatusExt, kCmdLock, kCmdReadOwner}));
  EXPECT_EQ(sent.back(), kCmdUnlock);
  EXPECT_EQ(Count(sent, kCmdUnlock), 1);
  EXPECT_EQ(Owner(), std::string(40, '\0')) << "nothing left locked in the scanner";
}

TEST_F(SecondEntry, ScannerStatusOptionReadsConditionBits) {
  Scenario(Selko2Scenario(State(), "set paper=no\nset cover=open\n"));
  auto r = Probe({"init", "open", kName, "get", "46", "close"});
  EXPECT_LINE(r, "open 0 1");
  EXPECT_LINE(r, "get 46 0 0xA0000000");
}

// Another host holds the scanner's lock: busy, the cause recorded for a
// later reader, and nothing of ours left behind.
TEST_F(SecondEntry, LockOfAnotherHostAnswersBusy) {
  Scenario(Selko2Scenario(State(), "set lock_owner=0f3b9a2e-7c41-4d8e-b5a6-19c2d7e08f44\n"));
  auto r = Probe({"init", "open", kName, "table", "start", "open", kName, "exit"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_LINE(r, "open 3 0");
  // Nobody else uses the exclusive-access table: it went with the record.
  EXPECT_EQ(r.out.find("entry "), std::string::npos) << r.out;
  EXPECT_LINE(r, "start 4") << "no device object is left";
  EXPECT_EQ(Count(Sent(), kCmdLock), 0);
  EXPECT_EQ(Count(Sent(), kCmdUnlock), 0);
  EXPECT_EQ(StatusFile(), std::string("\x00\x35\x80\x03", 4));
  EXPECT_EQ(Owner().substr(0, 36), "0f3b9a2e-7c41-4d8e-b5a6-19c2d7e08f44");
}

// The device is listed, then fails before or during the open: the open
// fails with an I/O error and leaves no claim and no lock.
TEST_F(SecondEntry, DeviceThatVanishes) {
  struct Case {
    const char* fault;
    const char* open;
  } cases[] = {
      {"fault open ENODEV\n", "open 9 0"},
      {"fault transfer 1 gone\n", "open 9 0"},      // at the lock's first command
      {"fault transfer 2 short 40\n", "open 9 0"},  // a short status record
      {"fault claim EBUSY\n", "open 3 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    unlink((m_dir + "/transcript").c_str());
    unlink(State().c_str());
    Scenario(Selko2Scenario(State(), c.fault));
    auto r = Probe({"init", "open", kName, "table", "exit"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_LINE(r, c.open);
    EXPECT_EQ(r.out.find("Reserved"), std::string::npos) << r.out;
    EXPECT_EQ(Count(Sent(), kCmdLock), 0);
    if (std::string(c.open) == "open 3 0") {  // a busy device is tried three times
      std::string transcript = ReadFile(m_dir + "/transcript");
      std::regex claim(" claim ");
      EXPECT_EQ(
          std::distance(std::sregex_iterator(transcript.begin(), transcript.end(), claim), std::sregex_iterator()), 3)
          << transcript;
    }
  }
}

// The scanner was locked, then the first-read date cannot be read: the
// lock, the claim and the device object all go.
TEST_F(SecondEntry, FailedInitGivesEverythingBack) {
  Scenario(Selko2Scenario(State(), "fault transfer 10 fail\n"));  // the status of Get Nvram
  auto r = Probe({"init", "open", kName, "table", "start", "exit"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_LINE(r, "open 9 0");
  EXPECT_EQ(r.out.find("Reserved"), std::string::npos) << r.out;
  EXPECT_LINE(r, "start 4");
  EXPECT_EQ(Count(Sent(), kCmdLock), 1);
  EXPECT_EQ(Count(Sent(), kCmdUnlock), 1);
  EXPECT_EQ(Owner(), std::string(40, '\0'));
}

TEST_F(SecondEntry, EmptyNameOpensFirstDevice) {
  Scenario(Selko2Scenario(State()) + Selko2Scenario(m_dir + "/state2", "", dravn::kSelko2Models[1], 1, 9));
  auto r = Probe({"init", "open", "-", "table", "close", "init", "open", "null", "table", "close"});
  std::regex opened("open 0 1\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), opened), std::sregex_iterator()), 2)
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("entry 0 " + kName + " [0-9]+ Reserved\n"))) << r.out;
  EXPECT_EQ(r.out.find("Selko2S520"), std::string::npos) << r.out;
}

// An unset first-read date is written at the first open and kept after.
TEST_F(SecondEntry, FirstReadDateWrittenOnce) {
  auto r = Probe({"init", "open", kName, "close", "init", "open", kName, "close", "exit"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Count(Sent(), kCmdGetNvram), 2);
  EXPECT_EQ(Count(Sent(), kCmdSetNvram), 1);
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  std::string nvram = ReadFile(State()).substr(0, 288);
  EXPECT_EQ(nvram[16], local.tm_mon + 1);
  EXPECT_EQ(nvram[17], local.tm_mday);
  EXPECT_EQ(nvram[18], (local.tm_year + 1900) % 100);
}

TEST_F(SecondEntry, UsbTraceLogOfOpenAndClose) {
  Etc("dravn.ini", "UsbLevelLog=1\n");
  auto r = Probe({"init", "open", kName, "close", "exit"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  auto logs = Logs("dravnusblog");
  ASSERT_EQ(logs.size(), 1u);
  std::string log = ReadFile(logs[0]);
  std::vector<std::string> commands;
  std::regex command("\\[Command\\] : ([^\n]*)\n");
  for (std::sregex_iterator it(log.begin(), log.end(), command), end; it != end; ++it) commands.push_back((*it)[1]);
  ASSERT_GE(commands.size(), 5u) << log;
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 4),
            (std::vector<std::string>{"Get Hardware Status Ext", "Lock Scanner", "Lock Scanner", "Get Nvram"}));
  EXPECT_EQ(commands.back(), "Unlock Scanner");
  EXPECT_NE(log.find("            Data [Send]\n"), std::string::npos);
  EXPECT_NE(log.find("            Status [Receive]\n"), std::string::npos);
  EXPECT_NE(log.find("            Data [Receive]\n"), std::string::npos);
  // Without the key nothing is traced.
  Etc("dravn.ini", "UsbLevelLog=0\n");
  Probe({"init", "open", kName, "close", "exit"});
  EXPECT_EQ(Logs("dravnusblog").size(), 1u);
}

// Both settings files, read from the package's configuration directory;
// what is missing takes the default 0.
TEST_F(SecondEntry, SettingsFiles) {
  struct Case {
    const char* ini;  // null: no file
    const char* line;
  } cases[] = {
      {nullptr, "UsbOpenSleep 0, UsbLevelLog 0, SaveDevImg 0, UseOldBWLutParam 0"},
      {"[Setting]\nUsbOpenSleep=1\nSaveDevImg = 1 \nUseOldBWLutParam=1\n",
       "UsbOpenSleep 1, UsbLevelLog 0, SaveDevImg 1, UseOldBWLutParam 1"},
      {"UsbOpenSleep=1=2\nSaveDevImg\n[Other]\nSaveDevImg=1\nSaveDevImg=0\n",
       "UsbOpenSleep 0, UsbLevelLog 0, SaveDevImg 1, UseOldBWLutParam 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini ? c.ini : "(none)");
    if (c.ini)
      Etc("dravn.ini", c.ini);
    else
      NoEtc("dravn.ini");
    auto r = Probe({"init", "exit"}, "", {{"DRAVN_DEBUG", "30"}});
    EXPECT_LINE(r, "init 0");
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
  }
}

// UseOldBWLutParam keeps the colour tone values when the mode becomes line art.
TEST_F(SecondEntry, OldBlackAndWhiteToneValues) {
  for (const char* value : {"0", "1"}) {
    SCOPED_TRACE(value);
    Etc("dravn.ini", std::string("UseOldBWLutParam=") + value + "\n");
    auto r = Probe({"init", "open", kName, "get", "19", "set", "3", "Lineart", "get", "19", "get", "20", "close"}, "",
                   {}, {LibDir("", true)});
    EXPECT_LINE(r, "set 3 0 6 Lineart");
    EXPECT_LINE(r, "get 19 0 10");
    EXPECT_LINE(r, std::string("get 19 0 ") + (value[0] == '1' ? "10" : "0"));
    EXPECT_LINE(r, std::string("get 20 0 ") + (value[0] == '1' ? "230" : "255"));
  }
}

struct PaperCase {
  const char* conf;  // null: no file
  const char* paper;
};

TEST_F(SecondEntry, SimpleScanPaperSize) {
  PaperCase cases[] = {{nullptr, "Custom"},
                       {"PAPER_SIZE=8\n", "Letter"},
                       {"PAPER_SIZE=10\n", "Executive"},
                       {"PAPER_SIZE=99\n", "Custom"},
                       {"PAPER_SIZE=x\n", "Custom"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.conf ? c.conf : "(none)");
    if (c.conf)
      Etc("simple-scan.conf", c.conf);
    else
      NoEtc("simple-scan.conf");
    auto r = Probe({"init", "open", kName, "get", "12", "close"}, "simple-scan");
    EXPECT_LINE(r, std::string("get 12 0 ") + c.paper);
    // Other front ends keep the built-in default.
    r = Probe({"init", "open", kName, "get", "12", "close"});
    EXPECT_LINE(r, "get 12 0 A4");
  }
}

// The front end, found along the process chain, changes texts and rules.
TEST_F(SecondEntry, FrontEnds) {
  const std::string hinted =
      "Specify the width of the media. Required for automatic centering of sheet-fed scans. Before setting this "
      "option, specify Custom for --paper-size.";
  const std::string plain = "Specify the width of the media. Required for automatic centering of sheet-fed scans.";
  // Shadow and highlight are set under a custom tone.
  std::vector<std::string> steps{"init", "open", kName, "desc",   "10",  "get", "2", "desc",
                                 "2",    "set",  "16",  "Custom", "set", "20",  "5", "close"};
  struct Case {
    const char* program;
    std::string description;
    const char* source;
    bool automatic;
    const char* highlight;
  } cases[] = {
      {"", hinted, "Adf-duplex", false, "11"},
      {"xsane", plain, "Adf-duplex", false, "11"},
      {"scanimage", hinted, "Adf-duplex", false, "5"},  // not forced above the shadow
      {"simple-scan", hinted, "ADF Duplex", true, "11"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    auto r = Probe(steps, c.program);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("|" + c.description + "\n"), std::string::npos) << r.out;
    EXPECT_LINE(r, std::string("get 2 0 ") + c.source);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("desc 2 source [0-9]+ [0-9]+ [0-9]+ ([0-9]+) "))) << r.out;
    EXPECT_EQ((std::stoi(m[1]) & SANE_CAP_AUTOMATIC) != 0, c.automatic);
    EXPECT_TRUE(std::regex_search(r.out, std::regex(std::string("set 20 0 [0-9]+ ") + c.highlight + "\n"))) << r.out;
  }
}

// simple-scan may ask for a page up to 355.6 mm long; a longer one is
// refused, and so is every start until a cancel.
TEST_F(SecondEntry, SimpleScanPageHeightLimit) {
  auto r = Probe({"init", "open", kName, "set", "11", "23304603", "start", "start", "cancel", "start", "set", "11",
                  "23304602", "auto", "2", "get", "2", "close"},
                 "simple-scan");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("set 11 4 0 [0-9]+\nstart 4\nstart 4\ncancel\nstart 7\n"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("set 11 0 [0-9]+ [0-9]+\n"))) << r.out;
  // Without a flatbed the automatic source is the feeder's front.
  EXPECT_LINE(r, "auto 2 0");
  EXPECT_LINE(r, "get 2 0 ADF Front");
}

// The data of the first "Set Window" in a USB trace log: the scan-parameter
// record as the scanner received it.
std::vector<int> FirstWindowSent(const std::string& log) {
  std::vector<int> bytes;
  size_t at = log.find("[Command] : Set Window\n");
  if (at == std::string::npos || (at = log.find("Data [Send]\n", at)) == std::string::npos) return bytes;
  std::istringstream in(log.substr(at + 12));
  for (std::string line; std::getline(in, line) && line.rfind("                 :", 0) == 0;) {
    std::istringstream hex(line.substr(18));
    for (std::string b; hex >> b;) bytes.push_back(std::stoi(b, nullptr, 16));
  }
  return bytes;
}

// simple-scan: the page size is detected until a page width or height is
// set, and automatic feeding is on until the source is chosen
// automatically; start hands both to the scanner's window.
TEST_F(SecondEntry, SimpleScanStartSettings) {
  // The cover opens as the sheet starts: the window has gone out, no page
  // needs to be made.
  Scenario(Selko2Scenario(State(), "set sheets=1\nset cover_open_at=1\n"));
  Etc("dravn.ini", "UsbLevelLog=1\n");
  Etc("simple-scan.conf", "PAPER_SIZE=8\n");
  struct Case {
    const char* program;
    std::vector<std::string> steps;  // between open and start
    int automaticSize;               // bit 0x08 of byte 67
    int manualFeed;                  // the 32-bit at offset 100
  } cases[] = {
      {"simple-scan", {}, 0x08, 0},
      {"simple-scan", {"auto", "2"}, 0x08, 1},
      {"simple-scan", {"set", "10", "13107200"}, 0, 0},  // a 200 mm page width
      {"", {"auto", "2"}, 0x08, 0},                      // page-auto is on by default; manual feed only simple-scan
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + (c.steps.empty() ? "" : c.steps[0]));
    for (const auto& log : Logs("dravnusblog")) unlink(log.c_str());
    unlink(State().c_str());
    std::vector<std::string> steps{"init", "open", kName};
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    for (const char* s : {"start", "cancel", "close", "exit"}) steps.push_back(s);
    auto r = Probe(steps, c.program);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_LINE(r, "start 8");
    auto logs = Logs("dravnusblog");
    ASSERT_EQ(logs.size(), 1u);
    std::vector<int> window = FirstWindowSent(ReadFile(logs[0]));
    ASSERT_EQ(window.size(), 260u);
    EXPECT_EQ(window[67] & 0x08, c.automaticSize);
    EXPECT_EQ(window[100], c.manualFeed);
  }
}

TEST_F(SecondEntry, InitFailsWithoutARequiredLibrary) {
  const char* libs[] = {"libjpeg.so", "libtoneflat.so", "librotation.so", "libturnsense3.so", "libbinarization.so"};
  for (const char* missing : libs) {
    SCOPED_TRACE(missing);
    auto r = Probe({"init", "exit"}, "", {}, {LibDir(missing)});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_LINE(r, "init 9");
  }
  // libimgforge is optional.
  auto r = Probe({"init", "exit"}, "", {}, {LibDir("libimgforge.so")});
  EXPECT_LINE(r, "init 0");
}

// The main backend runs init before every open it forwards: the log file
// and the libraries of the last init are given back first, so that exit
// leaves nothing loaded and nothing open.
TEST_F(SecondEntry, RepeatedInitIsBalanced) {
  auto r = Probe({"fds",         "init", "fds",         "init", "open",          kName,  "close",
                  "init",        "fds",  "init",        "fds",  "exit",          "fds",  "maps",
                  "libtoneflat", "maps", "librotation", "maps", "libturnsense3", "maps", "libbinarization"},
                 "", {{"DRAVN_DEBUG", "41"}, {"DRAVN_SIM_TRANSCRIPT", ""}});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<int> fds;
  std::regex fd("fds ([0-9]+)[^\n]*\n");
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), fd), end; it != end; ++it)
    fds.push_back(std::stoi((*it)[1]));
  ASSERT_EQ(fds.size(), 5u) << r.out;
  EXPECT_EQ(fds[2], fds[1]);
  EXPECT_EQ(fds[3], fds[1]);
  EXPECT_LE(fds[4], fds[0] + 1) << "exit closes what init opened" << r.out;
  for (const char* lib : {"libtoneflat", "librotation", "libturnsense3", "libbinarization"})
    EXPECT_LINE(r, std::string("maps ") + lib + " 0");
  EXPECT_FALSE(Logs("dravn2log").empty());
}

// A front end may open the scanner again without closing it; the main
// backend's init before the forwarded open replaces the USB manager, and
// the open after it lists the bus again instead of trusting the old count.
TEST_F(SecondEntry, OpenAgainAfterInitWithoutClose) {
  auto r = Probe({"init", "open", kName, "init", "open", kName, "table", "close", "exit"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::regex opened("open 0 1\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), opened), std::sregex_iterator()), 2)
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("entry 0 " + kName + " [0-9]+ Reserved\n"))) << r.out;
  EXPECT_EQ(Count(Sent(), kCmdLock), 2);
  EXPECT_EQ(Count(Sent(), kCmdUnlock), 2) << "the first open's lock is given back by the second init";
  EXPECT_EQ(Owner(), std::string(40, '\0'));
}

TEST_F(SecondEntry, EntryPointsWithoutDevice) {
  std::vector<std::string> steps{"init", "devices", "io", "action", "0", "7", "start", "read", "cancel"};
  for (int s = 0; s <= 12; ++s) {
    steps.push_back("strstatus");
    steps.push_back(std::to_string(s));
  }
  steps.push_back("exit");
  auto r = Probe(steps);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_LINE(r, "devices 0");
  EXPECT_LINE(r, "io 1 1");
  EXPECT_LINE(r, "action 0 4");
  EXPECT_LINE(r, "start 4");
  EXPECT_LINE(r, "read 4 0");
  const char* texts[] = {"Operation completed successfully",
                         "Operation is not supported",
                         "Operation was cancelled",
                         "Device is busy--try later",
                         "Data or argument is invalid",
                         "No more data available (end-of-file)",
                         "Document feeder jammed",
                         "Document feeder out of documents",
                         "Scanner cover is open",
                         "Error during device I/O",
                         "Out of memory",
                         "Access to resource has been denied",
                         "Unknown SANE status"};
  for (int s = 0; s <= 12; ++s) EXPECT_LINE(r, "strstatus " + std::to_string(s) + " " + texts[s]);
}

// Every entry point marks its start and its normal end in the debug log.
TEST_F(SecondEntry, EntryPointsLogStartAndEnd) {
  Scenario(Selko2Scenario(State(), "set sheets=1\n"));
  auto r = Probe({"init", "devices", "open",  kName,  "desc",   "1",  "get",       "3", "action", "3",
                  "9",    "params",  "start", "read", "cancel", "io", "strstatus", "0", "close",  "exit"},
                 "", {{"DRAVN_DEBUG", "20"}});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_LINE(r, "start 0");
  for (const char* entry : {"init", "get_devices", "open", "get_option_descriptor", "control_option", "get_parameters",
                            "start", "read", "cancel", "set_io_mode", "get_select_fd", "strstatus", "close", "exit"}) {
    SCOPED_TRACE(entry);
    const std::string name = std::string("[sane_dravn2_") + entry + "] ";
    EXPECT_NE(r.err.find(name + "start \n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(name + "end \n"), std::string::npos) << r.err;
  }
}

// Outside a scan a signal gives back the scanner's lock and ends the
// process with status 0.
TEST_F(SecondEntry, SignalOutsideAScanReleasesAndExits) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(sig);
    unlink((m_dir + "/transcript").c_str());
    auto r = Probe({"init", "open", kName, "raise", std::to_string(sig)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_LINE(r, "open 0 1");
    EXPECT_EQ(r.out.find("alive"), std::string::npos) << r.out;
    EXPECT_EQ(Count(Sent(), kCmdUnlock), 1);
    EXPECT_EQ(Owner(), std::string(40, '\0'));
  }
}

// Two quick signals during a batch: the first cancels it, the second, which
// finds no scan running any more, ends the process as the cancel would, with
// the cancelled status, never as a success.
TEST_F(SecondEntry, SecondSignalAfterACancelEndsAsCancelled) {
  Scenario(Selko2Scenario(State(), "set nvram_month=1\nset nvram_day=1\nset sheets=3\n"));
  auto r = Probe({"init", "open", kName, "start", "raise-in-scan", std::to_string(SIGINT), "cancel", "raise",
                  std::to_string(SIGINT)});
  EXPECT_LINE(r, "start 0");
  EXPECT_NE(r.out.find("alive"), std::string::npos) << r.out;  // the first signal only cancels
  EXPECT_EQ(r.exitCode, SANE_STATUS_CANCELLED) << r.out << r.err;
  EXPECT_EQ(Owner(), std::string(40, '\0'));
}

// After exit the main backend unloads the library: a later signal must meet
// the handler that was there before, not code that is gone.
TEST_F(SecondEntry, ExitPutsBackTheSignalHandlers) {
  auto r = Probe({"init", "open", kName, "close", "exit", "unload", "raise", std::to_string(SIGTERM)});
  EXPECT_LINE(r, "unload 0");
  EXPECT_EQ(r.exitCode, 128 + SIGTERM) << r.out << r.err;
}

}  // namespace
