// The main backend's own open path, in-process, against simulated scanners:
// each test runs again in a child with the stand-in libusb and its own IPC
// namespace, where a scripted device takes the place of the device class.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "devctl_codes.h"
#include "main_globals.h"
#include "main_options.h"
#include "sane_main.h"
#include "scripted_device.h"
#include "test_support.h"

using namespace dravnmain;
using dravn_test::ScriptedDevice;
using dravn_test::ScriptedSheet;

namespace {

const char* const kName = "DocuvaneRK50:001:007";

// The child's standard error, for the parent to read (trace log lines).
std::string g_childErr;

// The child part runs when DRAVN_MAIN_CHILD is set; the parent starts it.
bool InChild(const std::string& scenario) {
  if (getenv("DRAVN_MAIN_CHILD")) return true;
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string dir = dravn_test::MakeTempDir("own-open");
  dravn_test::WriteFile(dir + "/scenario", scenario);
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["DRAVN_MAIN_CHILD"] = "1";
  env["DRAVN_DEBUG"] = "30";  // debug level, to standard error
  char self[4096] = {};
  EXPECT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  auto r = dravn_test::Run(
      {"unshare", "--ipc", self, std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()}, env,
      60);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  g_childErr = r.err;
  return false;
}

ScriptedDevice* g_next = nullptr;
KeloDevCtl* HandOut(int) { return g_next; }

SANE_Status SetText(SANE_Handle h, int option, const char* text) {
  char value[64] = {};
  snprintf(value, sizeof value, "%s", text);
  return SaneControlOption(h, option, SANE_ACTION_SET_VALUE, value, nullptr);
}

TEST(OwnOpen, ScansThroughTheEntryPoints) {
  if (!InChild("device loopback 2d4e:1101 bus=1 address=7\n")) {
    // Every entry point of the own path logs its start and, on success, its end.
    for (const char* entry :
         {"sane_dravn_init", "sane_dravn_get_devices", "sane_dravn_open", "sane_dravn_get_option_descriptor",
          "sane_dravn_control_option", "sane_dravn_get_parameters", "sane_dravn_start", "sane_dravn_read",
          "sane_dravn_cancel", "sane_dravn_close", "sane_dravn_exit"}) {
      for (const char* word : {"start", "end"}) {
        std::string line = std::string("[trace] [") + entry + "] " + word + " \n";
        EXPECT_NE(g_childErr.find(line), std::string::npos) << line;
      }
    }
    // Exit frees the listed device and reports the slot that ends the list.
    EXPECT_NE(g_childErr.find("[sane_dravn_exit] kelo_usb_device_list[0] is released"), std::string::npos);
    EXPECT_NE(g_childErr.find("[sane_dravn_exit] kelo_usb_device_list[1] is NULL"), std::string::npos);
    return;
  }
  auto* dev = new ScriptedDevice;  // owned by the backend from the open on
  for (int i = 0; i < 2; ++i) {
    ScriptedSheet s;
    s.backLines = 3;
    s.frontFill = static_cast<unsigned char>(0x30 + i);
    dev->sheets.push_back(s);
  }
  g_next = dev;
  SetDevCtlFactory(HandOut);
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  const SANE_Device** list = nullptr;
  ASSERT_EQ(SaneGetDevices(&list, SANE_FALSE), SANE_STATUS_GOOD);
  ASSERT_STREQ(list[0]->name, kName);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  EXPECT_EQ(h, dev);
  EXPECT_EQ(dev->Calls(), (std::vector<std::string>{"DoCheckDeviceCondition", "DoCheckScanReady", "DoCreateDevice"}));
  EXPECT_STREQ(SaneGetOptionDescriptor(h, OPTION_SOURCE)->name, "source");
  EXPECT_EQ(SaneGetOptionDescriptor(h, OPTION_TOTAL_NUM), nullptr);
  ASSERT_EQ(SetText(h, OPTION_SOURCE, "ADF Duplex"), SANE_STATUS_GOOD);
  SANE_Word on = SANE_TRUE;
  ASSERT_EQ(SaneControlOption(h, OPTION_AUTOFEED, SANE_ACTION_SET_VALUE, &on, nullptr), SANE_STATUS_GOOD);
  EXPECT_EQ(SaneControlOption(h, OPTION_AUTOFEED, static_cast<SANE_Action>(7), &on, nullptr), SANE_STATUS_INVAL);
  SANE_Parameters params;
  ASSERT_EQ(SaneGetParameters(h, &params), SANE_STATUS_GOOD);

  std::vector<std::string> pages;
  SANE_Status status;
  while ((status = SaneStart(h)) == SANE_STATUS_GOOD) {
    std::string page;
    SANE_Byte buf[5];
    SANE_Int len = 0;
    while (SaneRead(h, buf, sizeof buf, &len) == SANE_STATUS_GOOD) page.append(reinterpret_cast<char*>(buf), len);
    pages.push_back(page);
    ASSERT_LE(pages.size(), 4u);
  }
  EXPECT_EQ(status, SANE_STATUS_NO_DOCS);
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(pages[0], std::string(64, '\x30'));
  EXPECT_EQ(pages[1], std::string(48, '\x22'));
  EXPECT_EQ(pages[2], std::string(64, '\x31'));
  SaneCancel(h);
  SaneClose(h);
  // A close ended the libusb use: the next open lists again and opens anew.
  g_next = new ScriptedDevice;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  EXPECT_EQ(h, g_next);
  SaneClose(h);
  SaneExit();
}

TEST(OwnOpen, OpenWithoutNameTakesTheFirstDevice) {
  if (!InChild("device loopback 2d4e:1103 bus=1 address=7\n")) return;
  g_next = new ScriptedDevice;
  SetDevCtlFactory(HandOut);
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen("", &h), SANE_STATUS_GOOD);  // no listing before it either
  EXPECT_EQ(h, g_next);
  SaneExit();
}

// A failing device check is converted, and the failed open gives back the
// device object, the USB device with its exclusive record and the shared
// table: the same process opens the device again at once instead of
// answering busy.
TEST(OwnOpen, FailingDeviceCheckIsConvertedAndGivesEverythingBack) {
  if (!InChild("device loopback 2d4e:1102 bus=1 address=7\n")) return;
  auto* dev = new ScriptedDevice;
  dev->Script("DoCheckDeviceCondition", {QV_ERR_CTL_NOT_SUPPORT});
  g_next = dev;
  SetDevCtlFactory(HandOut);
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  EXPECT_EQ(SaneOpen("DocuvaneRK70:001:007", &h), SANE_STATUS_UNSUPPORTED);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(dravn_test::SysVObjects(), 0);
  g_next = new ScriptedDevice;
  ASSERT_EQ(SaneOpen("DocuvaneRK70:001:007", &h), SANE_STATUS_GOOD);
  EXPECT_EQ(h, g_next);
  SaneClose(h);
  SaneExit();
  EXPECT_EQ(dravn_test::SysVObjects(), 0);
}

// A device busy at every try: 500 ms before the first open and after each
// of the three busy answers, then the busy status.
TEST(OwnOpen, BusyDeviceGivesUpAfterThreeTries) {
  if (!InChild("device loopback 2d4e:1101 bus=1 address=7\nfault open EBUSY\n")) return;
  g_next = new ScriptedDevice;
  SetDevCtlFactory(HandOut);
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(SaneOpen(kName, &h), SANE_STATUS_DEVICE_BUSY);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1900));
  delete g_next;
  SaneExit();
}

// Opening another device while the first one's scan thread runs stops that
// scan before anything is released.
TEST(OwnOpen, OpeningAnotherDeviceWhileScanningCancelsFirst) {
  if (!InChild("device loopback 2d4e:1101 bus=1 address=7\ndevice loopback 2d4e:1102 bus=1 address=8\n")) return;
  auto* first = new ScriptedDevice;
  first->sheets = {ScriptedSheet{}, ScriptedSheet{}};
  first->blockSheet = 1;
  first->blockMode = ScriptedDevice::Block::UntilCancel;
  g_next = first;
  SetDevCtlFactory(HandOut);
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  SANE_Word on = SANE_TRUE;
  ASSERT_EQ(SaneControlOption(h, OPTION_AUTOFEED, SANE_ACTION_SET_VALUE, &on, nullptr), SANE_STATUS_GOOD);
  ASSERT_EQ(SaneStart(h), SANE_STATUS_GOOD);
  while (!first->blocked) usleep(100);
  g_next = new ScriptedDevice;
  ASSERT_EQ(SaneOpen("DocuvaneRK70:001:008", &h), SANE_STATUS_GOOD);  // deletes the first object
  EXPECT_EQ(h, g_next);
  SaneExit();
}

}  // namespace
