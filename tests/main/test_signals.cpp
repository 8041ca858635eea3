// SIGHUP, SIGINT, SIGQUIT and SIGTERM: during a scan they cancel it; outside
// one the process releases its exclusive-access record and ends, with 0
// unless a signal cancelled a scan before.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>

#include "devctl_codes.h"
#include "exclusive_table.h"
#include "kelo_devctl.h"
#include "main_globals.h"
#include "sane_main.h"
#include "scripted_device.h"
#include "signal_process.h"
#include "usb_manager.h"

using namespace dravnmain;
using dravn_test::ScriptedDevice;
using dravn_test::ScriptedSheet;

namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

TEST(Signals, DuringAScanTheyOnlyCancelIt) {
  for (int sig : kSignals) {
    SCOPED_TRACE(strsignal(sig));
    g_PropInfo = SCAN_PROP_INFO{};
    g_PropInfo.SCAN_SOURCE = 1;
    g_PropInfo.AUTOFEED = 1;
    g_bSigHup = false;
    ScriptedDevice dev;
    dev.sheets = {ScriptedSheet{}};
    dev.blockSheet = 0;
    dev.blockMode = ScriptedDevice::Block::UntilCancel;
    velmorak.store(&dev);
    InstallSignalProcess();
    auto started = std::async(std::launch::async, [&] { return dev.Start(); });
    while (!dev.blocked) usleep(100);
    ASSERT_TRUE(dev.IsScanning());
    raise(sig);  // the process goes on
    ASSERT_EQ(started.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(started.get()), SANE_STATUS_CANCELLED);
    auto calls = dev.Calls();
    // After SIGHUP the device is not asked to drop its data; the flag is
    // consumed by the failing sheet.
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoClearDeviceDataBuf"), sig == SIGHUP ? 0 : 1);
    EXPECT_FALSE(g_bSigHup);
    dev.Cancel();
    velmorak.store(nullptr);
    StopSignalWatcher();  // gives the signals their default action back
  }
}

// Outside a scan each signal ends the process with 0 and releases the
// record this process holds in the exclusive-access table.
TEST(Signals, OutsideAScanTheyEndTheProcessAndReleaseTheDevice) {
  ASSERT_EQ(unshare(CLONE_NEWIPC), 0) << "needs its own IPC namespace";
  for (int sig : kSignals) {
    SCOPED_TRACE(strsignal(sig));
    const std::string name = std::string("DocuvaneRK50:001:00") + std::to_string(sig % 10);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (SaneInit(nullptr, nullptr) != SANE_STATUS_GOOD) _exit(90);
      if (!kelo_usb_manager->InitShareMemory()) _exit(91);
      if (kelo_usb_manager->CreateControlFile(name.c_str()) != 0) _exit(92);
      raise(sig);
      for (;;) pause();  // the handler's helper ends the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    CExclusiveTable table(KELO_BACKEND_MAIN);
    ASSERT_TRUE(table.InitShareMemory());
    bool found = false;
    for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT; ++i) {
      const SHM_DEVICE_ENTRY& e = table.GetEntry()[i];
      if (!ShmFieldEquals(e.szDevName, SHM_DEVICE_NAME_SIZE, name.c_str())) continue;
      found = true;
      EXPECT_TRUE(ShmFieldEquals(e.szState, SHM_STATE_SIZE, SHM_STATE_RELEASE));
      EXPECT_TRUE(ShmFieldEquals(e.szPid, SHM_PID_SIZE, ""));
    }
    EXPECT_TRUE(found);
  }
}

// A start that scanned nothing (the back of a duplex sheet already in hand,
// or a batch whose thread has ended) leaves no scan under way behind it: a
// signal afterwards ends the process as it does before any scan.
TEST(Signals, AfterAStartThatScansNothingTheyEndTheProcessAgain) {
  ASSERT_EQ(unshare(CLONE_NEWIPC), 0) << "needs its own IPC namespace";
  for (bool autofeed : {false, true}) {
    SCOPED_TRACE(autofeed ? "ended batch" : "back page");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      alarm(10);  // a swallowed signal must not hang the test
      if (SaneInit(nullptr, nullptr) != SANE_STATUS_GOOD) _exit(90);
      g_PropInfo = SCAN_PROP_INFO{};
      g_PropInfo.SCAN_SOURCE = 3;
      g_PropInfo.AUTOFEED = autofeed;
      auto* dev = new ScriptedDevice;
      if (!autofeed) {
        ScriptedSheet duplex;
        duplex.backLines = 2;
        dev->sheets = {duplex};
      }
      velmorak.store(dev);
      if (autofeed) {
        if (dev->Start() != QV_ERR_CTL_NO_PAPER) _exit(91);
      } else {
        if (dev->Start() != 0) _exit(92);
        dev->SetReadImgBufSize();
        SANE_Byte buf[64];
        SANE_Int len = 0;
        while (dev->ReadImgBuf(buf, sizeof buf, &len) == SANE_STATUS_GOOD) {
        }
        if (dev->Start() != 0 || !dev->BackPage()) _exit(93);
      }
      raise(SIGTERM);
      for (;;) pause();
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

// Two quick signals: the first cancels the scan, the second, which finds no
// scan under way any more, ends the process as the cancel would, with the
// cancelled status, never as a success.
TEST(Signals, SecondSignalAfterACancelEndsAsCancelled) {
  ASSERT_EQ(unshare(CLONE_NEWIPC), 0) << "needs its own IPC namespace";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);  // a swallowed signal must not hang the test
    if (SaneInit(nullptr, nullptr) != SANE_STATUS_GOOD) _exit(90);
    g_PropInfo = SCAN_PROP_INFO{};
    g_PropInfo.SCAN_SOURCE = 1;
    g_PropInfo.AUTOFEED = 1;
    auto* dev = new ScriptedDevice;
    dev->sheets = {ScriptedSheet{}};
    dev->blockSheet = 0;
    dev->blockMode = ScriptedDevice::Block::UntilCancel;
    velmorak.store(dev);
    auto started = std::async(std::launch::async, [&] { return dev->Start(); });
    while (!dev->blocked) usleep(100);
    raise(SIGINT);
    if (KeloDevCtl::ConvertToSaneErr(started.get()) != SANE_STATUS_CANCELLED) _exit(91);
    dev->Cancel();
    raise(SIGINT);
    for (;;) pause();
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), SANE_STATUS_CANCELLED);
}

// The close, exit and reopen paths cancel a running scan before they free
// anything: the scan thread must not outlive what it uses.
TEST(EntryPoints, CloseAndExitCancelARunningScan) {
  ASSERT_EQ(unshare(CLONE_NEWIPC), 0);
  for (bool viaExit : {false, true}) {
    SCOPED_TRACE(viaExit ? "exit" : "close");
    ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
    g_PropInfo = SCAN_PROP_INFO{};
    g_PropInfo.SCAN_SOURCE = 1;
    g_PropInfo.AUTOFEED = 1;
    auto* dev = new ScriptedDevice;
    dev->sheets = {ScriptedSheet{}, ScriptedSheet{}};
    dev->blockSheet = 1;
    dev->blockMode = ScriptedDevice::Block::UntilCancel;
    velmorak.store(dev);
    ASSERT_EQ(dev->Start(), 0u);
    while (!dev->blocked) usleep(100);
    if (viaExit) {
      SaneExit();  // deletes the object: a thread left running would use freed memory
      EXPECT_EQ(velmorak.load(), nullptr);
    } else {
      SaneClose(dev);
      EXPECT_TRUE(dev->CancelFlag());
      EXPECT_EQ(dev->FrontPage(), nullptr);
      auto calls = dev->Calls();
      EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoGetImageData returns"), 1);
      SaneExit();
    }
  }
}

}  // namespace
