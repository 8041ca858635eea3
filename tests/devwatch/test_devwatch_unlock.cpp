// dvwc_UnlockScanner and the last-error cell over the library's own global
// object, compiled in: each test runs again in a process of its own, whose
// library object is built at start from the scenario the first run wrote.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common_layer_util.h"
#include "devwatch_app.h"
#include "devwatch_test_util.h"
#include "dvwc.h"

namespace {

using devwatch::theApp;

const char kSelko2[] = "Selko2S420:001:003";

// In the first run: writes the fixtures, runs the test again with them and
// answers false. In the second run: true.
bool InOwnProcess(const std::string& scenario) {
  if (getenv("DRAVN_TEST_ISOLATED")) return true;
  devwatch_test::Bench bench;
  bench.Config("usb 0x2d4e 0x1301\n");
  bench.Scenario(scenario);
  common_layer_test::RunIsolated({"--ipc"});
  return false;
}

// Takes the in-scanner lock as the first Selko2 command does.
void Lock() {
  ASSERT_GE(theApp.m_Ctrl.Find(kSelko2), 0);
  ASSERT_EQ(theApp.m_Ctrl.DoDeviceOpen(), 0);
  unsigned char buf[96];
  ASSERT_EQ(theApp.m_Ctrl.Inquiry(buf, sizeof buf), 1);
  theApp.m_Ctrl.DoDeviceClose();
  ASSERT_TRUE(theApp.m_Ctrl.Selko2().IsLocked());
}

TEST(DvwcUnlock, UnlocksTheSelko2Scanner) {
  if (!InOwnProcess("device selko2 2d4e:1301 bus=1 address=3\n")) return;
  Lock();
  EXPECT_EQ(dvwc_UnlockScanner(kSelko2), 1);
  EXPECT_EQ(dvwc_GetErrorInfo(), 0u);
  EXPECT_FALSE(theApp.m_Ctrl.Selko2().IsLocked());
  EXPECT_FALSE(theApp.m_Ctrl.IsOpen());
  // Nothing held: still 1, and no command.
  EXPECT_EQ(dvwc_UnlockScanner(kSelko2), 1);
  std::string t = dravn_test::ReadFile(getenv("DRAVN_SIM_TRANSCRIPT"));
  EXPECT_NE(t.find("#9 bulk out ep=0x02 len=16 actual=16 -> 0 300200002a0078000200000028000000"), std::string::npos)
      << t;
  EXPECT_EQ(t.find("#12 "), std::string::npos) << t;
}

TEST(DvwcUnlock, FailedUnlockLeavesCodeThirteen) {
  // Transfers 1-8 take the lock; 9 is the unlock block, 10 the same block
  // sent once more over a reset pipe.
  if (!InOwnProcess("device selko2 2d4e:1301 bus=1 address=3\nfault transfer 9 fail\nfault transfer 10 fail\n"))
    return;
  Lock();
  EXPECT_EQ(dvwc_UnlockScanner(kSelko2), 1);  // TEST UNIT READY went well
  EXPECT_EQ(dvwc_GetErrorInfo(), 13u);
  EXPECT_EQ(dvwc_IsErrorStatus(), 1);
  EXPECT_TRUE(theApp.m_Ctrl.Selko2().IsLocked());
  EXPECT_FALSE(theApp.m_Ctrl.IsOpen());
}

TEST(DvwcUnlock, LastErrorTellsALockHeldElsewhere) {
  if (!InOwnProcess("device selko2 2d4e:1301 bus=1 address=3\nset lock_owner=another-host\n")) return;
  EXPECT_EQ(dvwc_GetLastErrorInfo(), 0u);
  ASSERT_GE(theApp.m_Ctrl.Find(kSelko2), 0);
  ASSERT_EQ(theApp.m_Ctrl.DoDeviceOpen(), 0);
  unsigned char buf[96];
  EXPECT_EQ(theApp.m_Ctrl.Inquiry(buf, sizeof buf), 0);
  theApp.m_Ctrl.DoDeviceClose();
  EXPECT_EQ(dvwc_GetLastErrorInfo(), 14u);
  // The unlock has nothing to give back, and the last error stays.
  EXPECT_EQ(dvwc_UnlockScanner(kSelko2), 1);
  EXPECT_EQ(dvwc_GetErrorInfo(), 0u);
  EXPECT_EQ(dvwc_GetLastErrorInfo(), 14u);
}

}  // namespace
