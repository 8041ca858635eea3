// The USB manager against simulated devices: the probe drives it in a
// process of its own, under the libusb stand-in, in private IPC and mount
// namespaces.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "test_support.h"

namespace {

const char kProbe[] = DRAVN_BINARY_DIR "/tests/backend/backend_probe";

// The ids of the test device table (the catalogue's main-table rows).
const char kConfAll[] =
    "usb 0x2d4e 0x1101\nusb 0x2d4e 0x1102\nusb 0x2d4e 0x1103\nusb 0x2d4e 0x1201\n"
    "usb 0x2d4e 0x1301\nusb 0x2d4e 0x1401\n";

class UsbManager : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("usbmgr");
    m_conf = m_dir + "/conf";
    m_pwd = m_dir + "/pwd";
    dravn_test::Run({"mkdir", "-p", m_conf, m_pwd});
    Config(kConfAll);
  }

  void Config(const std::string& text) { dravn_test::WriteFile(m_conf + "/dravn.conf", text); }

  // Writes a scenario file and makes it the current one; returns its path.
  std::string Scenario(const std::string& text, const std::string& name = "scenario") {
    std::string path = m_dir + "/" + name;
    dravn_test::WriteFile(path, text);
    if (m_scenario.empty()) m_scenario = path;
    return path;
  }

  dravn_test::RunResult Probe(const std::vector<std::string>& steps, const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv{kProbe, "--isolate", "--log", "3"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), steps.begin(), steps.end());
    auto env = dravn_test::SimEnv(m_scenario);
    env["DRAVN_CONFIG_DIR"] = m_conf;
    env["PWD"] = m_pwd;
    env["DRAVN_SIM_TRANSCRIPT"] = m_dir + "/transcript";
    dravn_test::RunResult r = dravn_test::Run(argv, env, 60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r;
  }

  std::string Transcript() const { return dravn_test::ReadFile(m_dir + "/transcript"); }

  std::string m_dir, m_conf, m_pwd, m_scenario;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(UsbManager, ListsConfiguredAndKnownDevicesByModelBusAndAddress) {
  Config(std::string(kConfAll) + "usb 0x2d4e 0x1501\nusb 0x1234 0x1101\nusb 0x2d4e 0x1101\n");
  Scenario(
      "device loopback 2d4e:1101 bus=1 address=5\n"
      "device loopback 2d4e:1501 bus=1 address=6\n"          // configured, not in the device table
      "device loopback 2d4e:1202 bus=1 address=7\n"          // in the table, not configured
      "device loopback 1234:1101 bus=1 address=8\n"          // another vendor
      "device loopback 2d4e:1103 bus=1 address=9 class=3\n"  // not a scanner interface
      "device loopback 2d4e:1301 bus=2 address=17 class=6\n"
      "device loopback 2d4e:1401 bus=12 address=127 class=0\n");
  auto r = Probe({"list", "ids", "get", "3", "get", "-1"});
  EXPECT_EQ(r.out,
            "list 0 3\n"
            "dev 0 DocuvaneRK50:001:005 2d4e 1101 DocuvaneRK50 scanner - 0 0 02 81\n"
            "dev 1 Selko2S420:002:017 2d4e 1301 Selko2S420 scanner - 0 0 02 81\n"
            "dev 2 BrennaB700:012:127 2d4e 1401 BrennaB700 scanner - 0 0 02 81\n"
            "ids 2d4e 1101\n"
            "get null\n"
            "get null\n");
  EXPECT_TRUE(Has(r.err, "[KeloManagerUsb::GetDevice] out of range")) << r.err;
}

TEST_F(UsbManager, ListsWhatTheConfigurationFoundFirstNames) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\ndevice loopback 2d4e:1201 bus=1 address=6\n");
  dravn_test::Run({"rm", m_conf + "/dravn.conf"});  // DRAVN_CONFIG_DIR without the file
  dravn_test::WriteFile(m_pwd + "/dravn.conf", "usb 0x2d4e 0x1201\n");
  auto r = Probe({"list"});
  EXPECT_EQ(r.out, "list 0 1\ndev 0 SelkoS150:001:006 2d4e 1201 SelkoS150 scanner - 0 0 02 81\n");
}

TEST_F(UsbManager, KeepsPlacesAndNamesAcrossListingsDropsGoneAppendsNew) {
  std::string first = Scenario(
      "device loopback 2d4e:1101 bus=1 address=5\n"
      "device loopback 2d4e:1201 bus=1 address=6\n"
      "device loopback 2d4e:1301 bus=1 address=7\n",
      "first");
  std::string second = Scenario(
      "device loopback 2d4e:1102 bus=1 address=3\n"  // new, early in the bus order
      "device loopback 2d4e:1201 bus=1 address=6\n"
      "device loopback 2d4e:1301 bus=1 address=7\n"
      "device loopback 2d4e:1401 bus=1 address=8\n",  // new
      "second");
  // The stand-in takes its devices when libusb starts: start it anew.
  auto r = Probe(
      {"list", "release", "sim", second, "list", "shm", "open", "SelkoS150:001:006", "write", "0a0b", "read", "2"});
  EXPECT_EQ(r.out,
            "list 0 3\n"
            "dev 0 DocuvaneRK50:001:005 2d4e 1101 DocuvaneRK50 scanner - 0 0 02 81\n"
            "dev 1 SelkoS150:001:006 2d4e 1201 SelkoS150 scanner - 0 0 02 81\n"
            "dev 2 Selko2S420:001:007 2d4e 1301 Selko2S420 scanner - 0 0 02 81\n"
            "release\n"
            "sim\n"
            "list 0 4\n"
            "dev 0 SelkoS150:001:006 2d4e 1201 SelkoS150 scanner - 0 0 02 81\n"
            "dev 1 Selko2S420:001:007 2d4e 1301 Selko2S420 scanner - 0 0 02 81\n"
            "dev 2 DocuvaneRK70:001:003 2d4e 1102 DocuvaneRK70 scanner - 0 0 02 81\n"
            "dev 3 BrennaB700:001:008 2d4e 1401 BrennaB700 scanner - 0 0 02 81\n"
            "shm 1\n"
            "open 0\n"
            "write 0\n"
            "read 0 2 0a0b\n");
  (void)first;
}

TEST_F(UsbManager, ListingWhileOpenKeepsTheOpenDevice) {
  Scenario(
      "device loopback 2d4e:1101 bus=1 address=5\n"
      "device loopback 2d4e:1201 bus=1 address=6\n");
  auto r = Probe({"list", "shm", "open", "SelkoS150:001:006", "list", "ids", "write", "01", "close", "table"});
  EXPECT_TRUE(Has(r.out, "shm 1\nopen 0\nlist 0 2\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "ids 2d4e 1201\nwrite 0\nclose\nentry 0 SelkoS150:001:006 empty Release\n")) << r.out;
  EXPECT_TRUE(Has(Transcript(), "001:006 release 0 -> 0\n001:006 close\n")) << Transcript();
}

TEST_F(UsbManager, AHundredRecordsAtMost) {
  std::string text;
  for (int i = 0; i < 101; ++i)
    text += "device loopback 2d4e:1101 bus=" + std::to_string(1 + i / 100) + " address=" + std::to_string(1 + i % 100) +
            "\n";
  Scenario(text);
  auto r = Probe({"list", "get", "99", "get", "100"});
  EXPECT_TRUE(Has(r.out, "list 0 100\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "dev 99 DocuvaneRK50:")) << r.out;
  EXPECT_FALSE(Has(r.out, "dev 100 ")) << r.out;
  EXPECT_TRUE(Has(r.out, "get DocuvaneRK50:")) << r.out;
  EXPECT_TRUE(Has(r.out, "get null\n")) << r.out;
}

TEST_F(UsbManager, ListingFailuresAnswerInvalid) {
  Scenario("device loopback 2d4e:1102 bus=1 address=5\n");
  Config("usb 0x2d4e 0x1101\n");
  auto none = Probe({"list"});
  EXPECT_EQ(none.out, "list 4 0\n");
  EXPECT_TRUE(Has(none.err, "[error] [KeloManagerUsb::GetDeviceList] iDevNum <= 0")) << none.err;

  // No dravn.conf anywhere: the staged fixed places are hidden too.
  dravn_test::Run({"rm", m_conf + "/dravn.conf"});
  std::string empty = dravn_test::MakeTempDir("noconf");
  std::vector<std::string> hide{"--bind", empty + ":" + DRAVN_SANE_ETC_DIR,
                                "--bind", empty + ":" + DRAVN_SANE_LOCAL_ETC_DIR,
                                "--bind", empty + ":" + DRAVN_ETC_DIR};
  auto second = Probe({"list"}, hide);
  EXPECT_EQ(second.out, "list 4 0\n");
  EXPECT_TRUE(Has(second.err, "open configure file failed")) << second.err;
  EXPECT_TRUE(Has(second.err, "[error] [KeloManagerUsb::GetDeviceList] SaveConfigFile error")) << second.err;
  std::vector<std::string> mainHide{"--main"};
  mainHide.insert(mainHide.end(), hide.begin(), hide.end());
  auto main = Probe({"list"}, mainHide);
  EXPECT_EQ(main.out, "list 4 0\n");
  EXPECT_TRUE(Has(main.err, "[error] [KeloManagerUsb::GetDeviceList] failed to read configfile")) << main.err;
}

struct OpenFault {
  const char* label;
  const char* fault;  // scenario fault line
  int status;
  const char* message;
};
void PrintTo(const OpenFault& c, std::ostream* os) { *os << c.label; }

class UsbOpenFault : public UsbManager, public testing::WithParamInterface<OpenFault> {};

TEST_P(UsbOpenFault, StatusFromErrnoAndTheRecordIsGivenBack) {
  Scenario(std::string("device loopback 2d4e:1101 bus=1 address=5\n") + GetParam().fault + " times=1\n");
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:005", "table", "open", "DocuvaneRK50:001:005", "table"});
  EXPECT_TRUE(Has(r.out, "shm 1\nopen " + std::to_string(GetParam().status) +
                             "\nentry 0 DocuvaneRK50:001:005 empty Release\n"
                             "open 0\nentry 0 DocuvaneRK50:001:005 own Reserved\n"))
      << r.out;
  EXPECT_TRUE(Has(r.err, GetParam().message)) << r.err;
  // A failed claim leaves no handle open.
  if (Has(GetParam().fault, "claim")) {
    EXPECT_TRUE(Has(Transcript(), "001:005 close\n001:005 open -> 0")) << Transcript();
  }
}

const OpenFault kOpenFaults[] = {
    {"OpenDenied", "fault open EACCES", 11, "errno == EPERM"},
    {"OpenNotPermitted", "fault open EPERM", 11, "libusb_open() == NULL"},
    {"OpenBusy", "fault open EBUSY", 3, "errno == EBUSY"},
    {"OpenIoError", "fault open EIO", 9, "libusb_open() == NULL"},
    {"ClaimBusy", "fault claim EBUSY", 3, "[KeloManagerUsb::Open] libusb_claim_interface() < 0"},
    {"ClaimDenied", "fault claim EACCES", 11, "errno == EPERM"},
    {"ClaimNoDevice", "fault claim ENODEV", 9, "libusb_claim_interface() < 0"},
};

INSTANTIATE_TEST_SUITE_P(Faults, UsbOpenFault, testing::ValuesIn(kOpenFaults),
                         [](const testing::TestParamInfo<OpenFault>& info) { return info.param.label; });

TEST_F(UsbManager, OpenOfTheMainBackendNamesItsClaimFailure) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\nfault claim EBUSY times=1\n");
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:005", "table", "open", "DocuvaneRK50:001:005"}, {"--main"});
  EXPECT_TRUE(Has(r.out, "shm 1\nopen 3\nentry 0 DocuvaneRK50:001:005 empty Release\nopen 0\n")) << r.out;
  EXPECT_TRUE(Has(r.err, "[KeloManagerUsb::Open] usb_claim_interface() < 0")) << r.err;
}

TEST_F(UsbManager, OpenOfAnUnlistedNameOrAHeldDevice) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\n");
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:006", "table", "open", "DocuvaneRK50:001:005", "open",
                  "DocuvaneRK50:001:005"});
  EXPECT_TRUE(Has(r.out,
                  "shm 1\nopen 9\nentry 0 DocuvaneRK50:001:006 empty Release\n"
                  "open 0\nopen 3\n"))
      << r.out;
  EXPECT_TRUE(Has(r.err, "usb_open() == NULL")) << r.err;
  EXPECT_TRUE(Has(r.err, "[VkUSBDriver::Open] failed to excusive")) << r.err;
}

TEST_F(UsbManager, BulkAndControlTransfersOfExactLength) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\n");
  auto r = Probe({"list",  "write",
                  "01",    "read",
                  "1",     "ctrl",
                  "01",    "shm",
                  "open",  "DocuvaneRK50:001:005",
                  "write", "0102030405",
                  "read",  "5",
                  "write", std::string(64, 'e'),
                  "read",  "64",
                  "ctrl",  "a1b2c3",
                  "close", "write",
                  "01",    "read",
                  "1",     "ctrl",
                  "01"});
  EXPECT_EQ(r.out,
            "list 0 1\n"
            "dev 0 DocuvaneRK50:001:005 2d4e 1101 DocuvaneRK50 scanner - 0 0 02 81\n"
            "write -1\nread -1 777 -\nctrl -1\n"  // nothing open yet
            "shm 1\nopen 0\n"
            "write 0\nread 0 5 0102030405\n"
            "write 0\nread -1 777 -\n"  // 32 bytes came, 64 were asked for
            "ctrl 0\n"
            "close\n"
            "write -1\nread -1 777 -\nctrl -1\n");
  const std::string t = Transcript();
  EXPECT_TRUE(Has(t, "001:005 claim 0 -> 0\n")) << t;
  EXPECT_TRUE(Has(t, "#1 bulk out ep=0x02 len=5 actual=5 -> 0 0102030405\n")) << t;
  EXPECT_TRUE(Has(t, "#2 bulk in ep=0x81 len=5 actual=5 -> 0 0102030405\n")) << t;
  EXPECT_TRUE(Has(t, "#4 bulk in ep=0x81 len=64 actual=32 -> 0 ")) << t;
  EXPECT_TRUE(Has(t, "#5 control out type=0x40 req=0x04 value=0x0000 index=0x0000 len=3 actual=3 -> 3 a1b2c3\n")) << t;
  EXPECT_TRUE(Has(t, "001:005 release 0 -> 0\n001:005 close\n")) << t;
  EXPECT_TRUE(Has(r.err, "[KeloManagerUsb::RawReadData] failed")) << r.err;
}

struct TransferFault {
  const char* label;
  const char* fault;  // "transfer <k> ..."
  std::vector<std::string> steps;
  const char* out;
};
void PrintTo(const TransferFault& c, std::ostream* os) { *os << c.label; }

class UsbTransferFault : public UsbManager, public testing::WithParamInterface<TransferFault> {};

TEST_P(UsbTransferFault, FailsThatTransferAndLeavesTheDeviceOpen) {
  Scenario(std::string("device loopback 2d4e:1101 bus=1 address=5\nfault ") + GetParam().fault + "\n");
  std::vector<std::string> steps{"list", "timeout", "200", "shm", "open", "DocuvaneRK50:001:005"};
  steps.insert(steps.end(), GetParam().steps.begin(), GetParam().steps.end());
  steps.insert(steps.end(), {"write", "0c0d", "read", "2"});  // the device still answers
  auto r = Probe(steps);
  EXPECT_EQ(r.out, std::string("list 0 1\ndev 0 DocuvaneRK50:001:005 2d4e 1101 DocuvaneRK50 scanner - 0 0 02 81\n"
                               "timeout 200\nshm 1\nopen 0\n") +
                       GetParam().out + "write 0\nread 0 2 0c0d\n");
}

const TransferFault kTransferFaults[] = {
    {"WriteFails", "transfer 1 fail", {"write", "0102"}, "write -1\n"},
    {"WriteShort", "transfer 1 short 1", {"write", "0102", "read", "1"}, "write -1\nread 0 1 01\n"},
    {"WriteStalls", "transfer 1 stall", {"write", "0102"}, "write -1\n"},
    {"WriteTimesOut", "transfer 1 timeout", {"write", "0102"}, "write -1\n"},
    {"ReadShort",
     "transfer 2 short 2",
     {"write", "01020304", "read", "4", "read", "2"},
     "write 0\nread -1 777 -\nread 0 2 0304\n"},
    {"ReadStalls",
     "transfer 2 stall",
     {"write", "01", "read", "1", "read", "1"},
     "write 0\nread -1 777 -\nread 0 1 01\n"},
    {"ControlFails", "transfer 1 stall", {"ctrl", "0102"}, "ctrl -1\n"},
    {"ControlShort", "transfer 1 short 1", {"ctrl", "0102"}, "ctrl -1\n"},
};

INSTANTIATE_TEST_SUITE_P(Faults, UsbTransferFault, testing::ValuesIn(kTransferFaults),
                         [](const testing::TestParamInfo<TransferFault>& info) { return info.param.label; });

TEST_F(UsbManager, ReadTimesOutWhenTheDeviceHasNothingAndFailsOnceGone) {
  Scenario(
      "device loopback 2d4e:1101 bus=1 address=5\n"
      "fault transfer 2 timeout 1\n"
      "fault transfer 4 gone\n");
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:005", "read", "4", "write", "0102", "read", "1", "write",
                  "01", "read", "1", "close", "list"});
  EXPECT_EQ(r.out,
            "list 0 1\ndev 0 DocuvaneRK50:001:005 2d4e 1101 DocuvaneRK50 scanner - 0 0 02 81\nshm 1\nopen 0\n"
            "read -1 777 -\n"  // nothing to send: the device lets it time out
            "write -1\n"       // time-out after one byte went out
            "read 0 1 01\n"    // that byte
            "write -1\n"       // gone
            "read -1 777 -\n"
            "close\n"
            "list 4 0\n");
  EXPECT_TRUE(Has(Transcript(), "#1 bulk in ep=0x81 len=4 actual=0 -> LIBUSB_ERROR_TIMEOUT")) << Transcript();
}

TEST_F(UsbManager, MainBackendCloseEndsTheLibusbUse) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\ndevice loopback 2d4e:1301 bus=1 address=6\n");
  auto r = Probe({"list", "switch", "Selko2S420:001:006", "switch", "Selko2S420:001:007", "shm", "open",
                  "DocuvaneRK50:001:005", "close", "table", "switch", "Selko2S420:001:006", "open",
                  "DocuvaneRK50:001:005", "list", "open", "DocuvaneRK50:001:005", "write", "01"},
                 {"--main"});
  EXPECT_TRUE(Has(r.out,
                  "switch 1301\nswitch 0\n"
                  "shm 1\nopen 0\nclose\nentry 0 DocuvaneRK50:001:005 empty Release\n"
                  "switch 1301\n"  // the names outlive the close
                  "open 9\n"       // the devices do not: list again first
                  "list 0 2\n"))
      << r.out;
  EXPECT_TRUE(Has(r.out,
                  "list 0 2\ndev 0 DocuvaneRK50:001:005 2d4e 1101 DocuvaneRK50 scanner - 0 0 02 81\n"
                  "dev 1 Selko2S420:001:006 2d4e 1301 Selko2S420 scanner - 0 0 02 81\nopen 0\nwrite 0\n"))
      << r.out;
  EXPECT_TRUE(Has(r.err, "[KeloManagerUsb::SwitchScanner] Selko2S420:001:006 is 1301")) << r.err;
}

TEST_F(UsbManager, EndWithoutCloseGivesTheDeviceBack) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\n");
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:005"});
  EXPECT_TRUE(Has(r.out, "open 0\n")) << r.out;
  EXPECT_TRUE(Has(Transcript(), "001:005 claim 0 -> 0\n001:005 release 0 -> 0\n001:005 close\n")) << Transcript();
}

TEST_F(UsbManager, FailedListingKeepsTheOpenDevice) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\n");
  // The second listing finds no dravn.conf anywhere.
  std::string empty = dravn_test::MakeTempDir("noconf");
  std::vector<std::string> hide{"--bind", empty + ":" + DRAVN_SANE_ETC_DIR,
                                "--bind", empty + ":" + DRAVN_SANE_LOCAL_ETC_DIR,
                                "--bind", empty + ":" + DRAVN_ETC_DIR};
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:005", "conf", empty, "list", "ids", "write", "01", "read",
                  "1", "close", "table"},
                 hide);
  EXPECT_TRUE(Has(r.out,
                  "open 0\nconf\nlist 4 0\nids 2d4e 1101\nwrite 0\nread 0 1 01\nclose\n"
                  "entry 0 DocuvaneRK50:001:005 empty Release\n"))
      << r.out;
  EXPECT_TRUE(Has(Transcript(), "001:005 release 0 -> 0\n001:005 close\n")) << Transcript();
}

TEST_F(UsbManager, ReleasingLibusbClosesTheOpenDeviceFirst) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\n");
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:005", "release", "table", "write", "01"});
  EXPECT_TRUE(Has(r.out, "open 0\nrelease\nentry 0 DocuvaneRK50:001:005 empty Release\nwrite -1\n")) << r.out;
  EXPECT_TRUE(Has(Transcript(), "001:005 claim 0 -> 0\n001:005 release 0 -> 0\n001:005 close\n")) << Transcript();
}

TEST_F(UsbManager, SecondBackendReleasesLibusbOnlyAtExit) {
  Scenario("device loopback 2d4e:1101 bus=1 address=5\n");
  auto r = Probe({"list", "shm", "open", "DocuvaneRK50:001:005", "close", "open", "DocuvaneRK50:001:005", "close",
                  "release", "open", "DocuvaneRK50:001:005"});
  EXPECT_EQ(r.out,
            "list 0 1\ndev 0 DocuvaneRK50:001:005 2d4e 1101 DocuvaneRK50 scanner - 0 0 02 81\n"
            "shm 1\nopen 0\nclose\nopen 0\nclose\nrelease\nopen 9\n");
}

}  // namespace
