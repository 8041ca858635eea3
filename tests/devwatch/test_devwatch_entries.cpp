// The C interface of the staged libdevwatch, bound by name as consutool and
// libmqcontrol bind it, against simulated scanners: the device list, open
// and close, the error cells and the system tool lookup.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "common_layer_util.h"
#include "devwatch_test_util.h"

namespace {

using devwatch_test::Bench;
using devwatch_test::Dvwc;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> Names(const Dvwc& d) {
  std::vector<std::string> names;
  for (int i = 0; i < d.GetDeviceTotalNum(); ++i) names.push_back(d.GetDeviceName(i));
  return names;
}

TEST(DvwcEntries, EveryEntryIsFoundByItsPlainName) {
  Bench bench;
  Dvwc d = devwatch_test::Load();  // each name is bound with dlsym and checked there
  devwatch_test::Unload(d);
}

// Where dravn.conf lives and what it says, against which devices.
struct ListCase {
  const char* label;
  std::string configDir;  // dravn.conf under DRAVN_CONFIG_DIR; empty: none there
  std::string pwd;        // dravn.conf under PWD; empty: none there
  std::string scenario;
  std::vector<std::string> names;  // the device list in order
};
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.label; }

std::string Repeat(const std::string& line, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += line;
  return text;
}

const ListCase kLists[] = {
    {"ConfigDirWinsOverPwd",
     "usb 0x2d4e 0x1501\n",
     "usb 0x2d4e 0x1502\n",
     "device generic 2d4e:1501 bus=1 address=2\ndevice generic 2d4e:1502 bus=1 address=3\n",
     {"DunmoD1200:001:002"}},
    {"PwdWhenConfigDirHasNone",
     "",
     "usb 0x2d4e 0x1502\n",
     "device generic 2d4e:1501 bus=1 address=2\ndevice generic 2d4e:1502 bus=1 address=3\n",
     {"DunmoD1600:001:003"}},
    // The default file of the package lists the backends' scanners only.
    {"PackageFileLast",
     "",
     "",
     "device generic 2d4e:1501 bus=1 address=2\ndevice generic 2d4e:1101 bus=1 address=3\n",
     {"DocuvaneRK50:001:003"}},
    // 11598 is 0x2d4e, but an id token has exactly six characters.
    {"FiveCharacterTokenIgnored",
     "usb 11598 0x1501\nusb 0x2d4e 0x1502\n",
     "",
     "device generic 2d4e:1501 bus=1 address=2\ndevice generic 2d4e:1502 bus=1 address=3\n",
     {"DunmoD1600:001:003"}},
    {"TabAfterUsb",
     "usb\t0x2d4e 0x1501\n  usb 0x2d4e\t0x1502  \n",
     "",
     "device generic 2d4e:1501 bus=1 address=2\ndevice generic 2d4e:1502 bus=1 address=3\n",
     {"DunmoD1600:001:003", "DunmoD1200:001:002"}},
    {"DuplicatedLineGivesTwoEntries",
     "usb 0x2d4e 0x1501\nusb 0x2d4e 0x1501\n",
     "",
     "device generic 2d4e:1501 bus=4 address=9\n",
     {"DunmoD1200:004:009", "DunmoD1200:004:009"}},
    {"MassStorageClassNeverListed",
     "usb 0x2d4e 0x1501\nusb 0x2d4e 0x1502\n",
     "",
     "device generic 2d4e:1501 bus=1 address=2 class=8\ndevice generic 2d4e:1502 bus=1 address=3 class=6\n",
     {"DunmoD1600:001:003"}},
    {"UnknownIdsAndClassesLeftOut",
     "usb 0x2d4e 0x1501\nusb 0x2d4e 0x1b01\nusb 0x1234 0x1501\n",
     "",
     "device generic 2d4e:1501 bus=1 address=2 class=3\ndevice generic 2d4e:1b01 bus=1 address=3\n"
     "device generic 1234:1501 bus=1 address=4\n",
     {}},
    // Interfaces of classes 255, 8 and 0: two entries; the last one found
    // comes first, across buses.
    {"SeveralInterfacesAndBuses",
     "usb 0x2d4e 0x1501\nusb 0x2d4e 0x1301\n",
     "",
     "device generic 2d4e:1501 bus=1 address=2 interfaces=255,8,0\n"
     "device generic 2d4e:1301 bus=3 address=7\n",
     {"Selko2S420:003:007", "DunmoD1200:001:002", "DunmoD1200:001:002"}},
    {"MoreThanOneHundredKeptAtOneHundred", Repeat("usb 0x2d4e 0x1501\n", 60), "",
     "device generic 2d4e:1501 bus=1 address=2\ndevice generic 2d4e:1501 bus=2 address=2\n",
     std::vector<std::string>(100, "")},
};

class DvwcList : public testing::TestWithParam<ListCase> {};

TEST_P(DvwcList, ListsTheConfiguredScannersLastFoundFirst) {
  const ListCase& c = GetParam();
  Bench bench;
  if (!c.configDir.empty()) bench.Config(c.configDir);
  if (!c.pwd.empty()) dravn_test::WriteFile(bench.Pwd() + "/dravn.conf", c.pwd);
  bench.Scenario(c.scenario);
  Dvwc d = devwatch_test::Load();
  if (c.names.size() == 100 && c.names[0].empty()) {
    EXPECT_EQ(d.GetDeviceTotalNum(), 100);
    // Newest first: the second device's 60 entries, then 40 of the first.
    EXPECT_STREQ(d.GetDeviceName(0), "DunmoD1200:002:002");
    EXPECT_STREQ(d.GetDeviceName(59), "DunmoD1200:002:002");
    EXPECT_STREQ(d.GetDeviceName(60), "DunmoD1200:001:002");
    EXPECT_STREQ(d.GetDeviceName(99), "DunmoD1200:001:002");
  } else {
    EXPECT_EQ(Names(d), c.names);
  }
  EXPECT_EQ(d.GetDeviceName(d.GetDeviceTotalNum()), nullptr);
  EXPECT_EQ(d.GetDeviceName(-1), nullptr);
  // Listing again gives the same list.
  EXPECT_EQ(d.ListupScanner(), 1);
  if (c.names.size() < 100) {
    EXPECT_EQ(Names(d), c.names);
  }
  devwatch_test::Unload(d);
}

INSTANTIATE_TEST_SUITE_P(Conf, DvwcList, testing::ValuesIn(kLists),
                         [](const testing::TestParamInfo<ListCase>& info) { return info.param.label; });

class DvwcOpen : public testing::Test {
 protected:
  void SetUp() override { m_bench.Config("usb 0x2d4e 0x1501\nusb 0x2d4e 0x1502\n"); }
  void TearDown() override { devwatch_test::Unload(m_d); }
  void Load(const std::string& scenario) {
    m_bench.Scenario(scenario);
    m_d = devwatch_test::Load();
    m_bench.ClearTranscript();
  }
  Bench m_bench;
  Dvwc m_d;
};

TEST_F(DvwcOpen, UnlistedNullAndClaimedDevicesAnswerTheirCodes) {
  Load(
      "device generic 2d4e:1501 bus=1 address=2\n"
      "device generic 2d4e:1502 bus=1 address=3\nfault claim EBUSY\n");
  EXPECT_EQ(m_d.Open("DunmoD1200:001:009"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 1u);
  EXPECT_EQ(m_d.IsErrorStatus(), 1);
  EXPECT_EQ(m_d.Open(nullptr), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  EXPECT_EQ(m_d.Open("DunmoD1600:001:003"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 4u);
  EXPECT_EQ(m_d.IsErrorStatus(), 1);
  // A failed claim closes the handle it opened.
  EXPECT_TRUE(Has(m_bench.ReadTranscript(), "001:003 claim 0 -> LIBUSB_ERROR_BUSY\n001:003 close\n"))
      << m_bench.ReadTranscript();
  // A good open clears the code.
  EXPECT_EQ(m_d.Open("DunmoD1200:001:002"), 1);
  EXPECT_EQ(m_d.GetErrorInfo(), 0u);
  EXPECT_EQ(m_d.IsErrorStatus(), 0);
  EXPECT_EQ(m_d.Close(), 1);
  EXPECT_EQ(m_d.Close(), 1);  // nothing open: still 1
  EXPECT_EQ(m_bench.ReadTranscript(),
            "001:003 open -> 0\n001:003 claim 0 -> LIBUSB_ERROR_BUSY\n001:003 close\n"
            "001:002 open -> 0\n001:002 claim 0 -> 0\n001:002 release 0 -> 0\n001:002 close\n");
}

TEST_F(DvwcOpen, FindTakesTheDeviceStringAtTheFrontOfLongerText) {
  Load("device generic 2d4e:1501 bus=1 address=2\ndevice generic 2d4e:1502 bus=1 address=3\n");
  EXPECT_EQ(m_d.Open("DunmoD1200:001:002 and more text"), 1);
  EXPECT_STREQ(m_d.GetCurrentDeviceName(), "DunmoD1200:001:002");
  // Shorter than a listed string: not that device.
  EXPECT_EQ(m_d.Open("DunmoD1200:001:00"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 1u);
  // The earlier open was let go before the search.
  EXPECT_TRUE(Has(m_bench.ReadTranscript(), "001:002 release 0 -> 0\n001:002 close\n"));
}

TEST_F(DvwcOpen, OpenFirstDevicePassesADeviceThatFails) {
  // Entry 0 is the device found last.
  Load(
      "device generic 2d4e:1501 bus=1 address=2\n"
      "device generic 2d4e:1502 bus=1 address=3\nfault open EACCES\n");
  ASSERT_STREQ(m_d.GetDeviceName(0), "DunmoD1600:001:003");
  EXPECT_EQ(m_d.OpenFirstDevice(), 1);
  EXPECT_STREQ(m_d.GetCurrentDeviceName(), "DunmoD1200:001:002");
  EXPECT_EQ(m_d.Close(), 1);
  EXPECT_EQ(m_bench.ReadTranscript(),
            "001:003 open -> LIBUSB_ERROR_ACCESS\n"
            "001:002 open -> 0\n001:002 claim 0 -> 0\n001:002 release 0 -> 0\n001:002 close\n");
}

TEST_F(DvwcOpen, OpenFirstDeviceWithNoneThatOpens) {
  Load("device generic 2d4e:1501 bus=1 address=2\nfault claim EBUSY\n");
  EXPECT_EQ(m_d.OpenFirstDevice(), 0);
  EXPECT_EQ(m_bench.ReadTranscript(), "001:002 open -> 0\n001:002 claim 0 -> LIBUSB_ERROR_BUSY\n001:002 close\n");
}

TEST_F(DvwcOpen, UnlockOfAGenericScannerSendsTestUnitReadyAndClosesAgain) {
  Load("device generic 2d4e:1501 bus=1 address=2\n");
  EXPECT_EQ(m_d.UnlockScanner("DunmoD1200:001:002"), 1);
  EXPECT_EQ(m_d.GetErrorInfo(), 0u);
  EXPECT_EQ(m_bench.ReadTranscript(),
            "001:002 open -> 0\n001:002 claim 0 -> 0\n"
            "001:002 #1 bulk out ep=0x02 len=31 actual=31 -> 0 "
            "43000000000000000000000000000000000000000000000000000000000000\n"
            "001:002 #2 bulk in ep=0x81 len=13 actual=13 -> 0 53000000000000000000000000\n"
            "001:002 release 0 -> 0\n001:002 close\n");
  // Not listed, NULL, and a device that will not open.
  EXPECT_EQ(m_d.UnlockScanner("DunmoD1600:001:003"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 1u);
  EXPECT_EQ(m_d.UnlockScanner(nullptr), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
}

TEST_F(DvwcOpen, UnlockWhenTestUnitReadyFailsAnswersZeroWithoutCode) {
  Load("device generic 2d4e:1501 bus=1 address=2\nfault transfer 2 timeout\n");
  EXPECT_EQ(m_d.UnlockScanner("DunmoD1200:001:002"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 0u);
  EXPECT_TRUE(Has(m_bench.ReadTranscript(), "001:002 release 0 -> 0\n001:002 close\n"));
}

TEST_F(DvwcOpen, UnlockOfADeviceThatWillNotOpen) {
  Load("device generic 2d4e:1501 bus=1 address=2\nfault open EBUSY\n");
  EXPECT_EQ(m_d.UnlockScanner("DunmoD1200:001:002"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 4u);
}

TEST(DvwcExclusive, ABackendHoldingTheDeviceKeepsItUntilItCloses) {
  if (!common_layer_test::RunIsolated({"--ipc"})) return;
  const char kDevice[] = "DunmoD1200:001:002";
  // A backend's USB manager holds the device, gives it back when told, and
  // still runs afterwards.
  int toPeer[2], fromPeer[2];
  ASSERT_EQ(pipe(toPeer), 0);
  ASSERT_EQ(pipe(fromPeer), 0);
  pid_t backend = fork();
  if (backend == 0) {
    close(toPeer[1]);
    close(fromPeer[0]);
    KeloManagerUsb mgr(nullptr, KELO_BACKEND_MAIN);
    char c = mgr.InitShareMemory() && mgr.StartExcusive(kDevice) == 0 ? 'h' : 'f';
    if (write(fromPeer[1], &c, 1) != 1 || read(toPeer[0], &c, 1) != 1) _exit(1);
    c = mgr.EndExcusive(kDevice) ? 'r' : 'f';
    if (write(fromPeer[1], &c, 1) != 1) _exit(1);
    ssize_t ignored = read(toPeer[0], &c, 1);  // until the test is done
    (void)ignored;
    _exit(0);
  }
  close(toPeer[0]);
  close(fromPeer[1]);
  char reply = 0;
  ASSERT_EQ(read(fromPeer[0], &reply, 1), 1);
  ASSERT_EQ(reply, 'h');
  Bench bench;
  Dvwc d = devwatch_test::Load();
  EXPECT_EQ(d.StartExcusive(kDevice), 0);
  EXPECT_EQ(d.GetErrorInfo(), 0u);
  ASSERT_EQ(write(toPeer[1], "x", 1), 1);
  ASSERT_EQ(read(fromPeer[0], &reply, 1), 1);
  EXPECT_EQ(reply, 'r');
  EXPECT_EQ(d.StartExcusive(kDevice), 1);
  EXPECT_EQ(d.EndExcusive(kDevice), 1);
  // A key longer than the record's name field is refused with code 9.
  EXPECT_EQ(d.StartExcusive("Tavrin4LA110:001:002abcdefghij"), 0);
  EXPECT_EQ(d.GetErrorInfo(), 9u);
  EXPECT_EQ(d.StartExcusive(nullptr), 0);  // no device listed: no current string
  EXPECT_EQ(d.GetErrorInfo(), 9u);
  devwatch_test::Unload(d);
  close(toPeer[1]);
  int status = -1;
  waitpid(backend, &status, 0);
  EXPECT_EQ(status, 0);
}

// ps and grep under the staged tool directories.
struct ToolCase {
  const char* label;
  std::vector<std::string> usrBin, bin;
  int answer;
};
void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.label; }

class DvwcTools : public testing::TestWithParam<ToolCase> {};

TEST_P(DvwcTools, AnswersWhichToolsWereFound) {
  if (!common_layer_test::RunIsolated({"--mount"})) return;
  const ToolCase& c = GetParam();
  for (auto [dir, tools] : {std::pair{DRAVN_USR_BIN_DIR, c.usrBin}, std::pair{DRAVN_BIN_DIR, c.bin}}) {
    common_layer_test::HideDirectory(dir);
    for (const std::string& t : tools)
      ASSERT_EQ(symlink(("/usr/bin/" + t).c_str(), (std::string(dir) + "/" + t).c_str()), 0);
  }
  Bench bench;
  Dvwc d = devwatch_test::Load();
  EXPECT_EQ(d.InitSystemToolPath(), c.answer);
  EXPECT_EQ(d.InitSystemToolPath(), c.answer);  // kept, and asked again alike
  devwatch_test::Unload(d);
}

const ToolCase kTools[] = {
    {"Both", {"ps", "grep"}, {}, 1}, {"BothInBin", {}, {"ps", "grep"}, 1},
    {"OnlyGrep", {"grep"}, {}, 0},   {"OnlyPs", {}, {"ps"}, -1},
    {"Neither", {}, {}, -2},
};

INSTANTIATE_TEST_SUITE_P(Tools, DvwcTools, testing::ValuesIn(kTools),
                         [](const testing::TestParamInfo<ToolCase>& info) { return info.param.label; });

}  // namespace
