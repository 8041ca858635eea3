// The device-control base class: batch and sheet order, the scan thread and
// its page queue, duplex hand-out, cancel at every point and error mapping.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "devctl_codes.h"
#include "kelo_devctl.h"
#include "main_globals.h"
#include "scripted_device.h"

using namespace dravnmain;
using dravn_test::ScriptedDevice;
using dravn_test::ScriptedSheet;

#if !defined(__SANITIZE_ADDRESS__)
// Fails one allocation of a queue node in the scan thread, on request.
extern "C" void* __libc_malloc(size_t);
namespace {
std::atomic<bool> g_failNodeAlloc{false};
}
extern "C" void* malloc(size_t size) {
  if (size == sizeof(IMAGEDATA_NODE) && g_failNodeAlloc.exchange(false)) return nullptr;
  return __libc_malloc(size);
}
#endif

namespace {

constexpr auto kLimit = std::chrono::seconds(10);

// What one SANE start hands out: its code and, when it succeeds, the page
// read to its end.
struct Page {
  uint32_t code = 0;
  std::string data;
};

Page ScanOne(ScriptedDevice& dev) {
  Page page;
  auto started = std::async(std::launch::async, [&] { return dev.Start(); });
  // A start that never comes back is the fault being guarded against.
  if (started.wait_for(kLimit) != std::future_status::ready) {
    ADD_FAILURE() << "Start did not return";
    std::abort();
  }
  page.code = started.get();
  if (page.code != 0) return page;
  dev.SetReadImgBufSize();
  SANE_Byte buf[7];
  SANE_Int len = 0;
  SANE_Status status;
  while ((status = dev.ReadImgBuf(buf, sizeof buf, &len)) == SANE_STATUS_GOOD)
    page.data.append(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
  EXPECT_EQ(status, SANE_STATUS_EOF);
  return page;
}

std::string Face(const ScriptedSheet& s, bool back) {
  int lines = back ? s.backLines : s.frontLines;
  return std::string(static_cast<size_t>(lines * s.bytesPerLine), static_cast<char>(back ? s.backFill : s.frontFill));
}

class DevCtlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_PropInfo = SCAN_PROP_INFO{};
    g_PropInfo.SCAN_SOURCE = 1;
    g_bIsReadDoubleBack = false;
    g_bSigHup = false;
    errno = 0;
  }
};

TEST_F(DevCtlTest, BatchStepsRunOnceAndSheetStepsEverySheet) {
  ScriptedDevice dev;
  dev.sheets = {ScriptedSheet{}, ScriptedSheet{}};
  EXPECT_EQ(ScanOne(dev).code, 0u);
  EXPECT_EQ(ScanOne(dev).code, 0u);
  const std::vector<std::string> first = {"DoCheckPropList", "SetPowerOffTime", "DoCheckScanReady", "DoScanModeSetting",
                                          "DoSetWindowInfo", "DoADFCheck",      "DoSendLUTTable",   "DoTryLampOn",
                                          "DoLoadPaper",     "DoStartScan",     "DoGetImageData",   "ImageProcess",
                                          "DoCheckPaperJam"};
  const std::vector<std::string> next = {"DoCheckPropList", "SetPowerOffTime", "DoSetWindowInfo",
                                         "DoADFCheck",      "DoLoadPaper",     "DoStartScan",
                                         "DoGetImageData",  "ImageProcess",    "DoCheckPaperJam"};
  std::vector<std::string> expected = first;
  expected.insert(expected.end(), next.begin(), next.end());
  EXPECT_EQ(dev.Calls(), expected);
}

// A failing batch step leaves the batch unstarted: the next sheet runs the
// batch steps again.
TEST_F(DevCtlTest, FailedBatchStepIsRetriedOnTheNextSheet) {
  for (const char* step : {"DoCheckScanReady", "DoScanModeSetting", "DoSendLUTTable", "DoTryLampOn"}) {
    SCOPED_TRACE(step);
    ScriptedDevice dev;
    dev.sheets = {ScriptedSheet{}};
    dev.Script(step, {QV_ERR_CTL_COMMAND});
    EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_COMMAND);
    EXPECT_TRUE(dev.FirstScan());
    dev.ClearCalls();
    EXPECT_EQ(ScanOne(dev).code, 0u);
    auto calls = dev.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), step), calls.end());
    EXPECT_FALSE(dev.FirstScan());
  }
}

// Without an override of DoCheckReturnError a failure stays a failure.
TEST_F(DevCtlTest, FailingStepsReachTheCallerUnchanged) {
  struct Case {
    const char* step;
    uint32_t code;
    bool clearsDevice;  // the device is asked to drop buffered data
  } cases[] = {
      {"SetPowerOffTime", QV_ERR_CTL_DATA_OUT, false}, {"DoSetWindowInfo", QV_ERR_CTL_STATUS, false},
      {"DoADFCheck", QV_ERR_CTL_NO_PAPER, false},      {"DoLoadPaper", QV_ERR_CTL_PAPER_JAM, false},
      {"DoStartScan", QV_ERR_CTL_COVER_OPEN, true},    {"DoGetImageData", QV_ERR_CTL_DATA_IN, true},
      {"ImageProcess", QV_ERR_CTL_NO_MEMORY, true},    {"DoCheckPaperJam", QV_ERR_CTL_DOUBLE_FEED, true},
  };
  for (const Case& c : cases) {
    for (bool autofeed : {false, true}) {
      SCOPED_TRACE(std::string(c.step) + (autofeed ? " autofeed" : ""));
      if (autofeed && std::string(c.step) == "ImageProcess") continue;  // runs on the reader side there
      g_PropInfo.AUTOFEED = autofeed;
      ScriptedDevice dev;
      dev.sheets = {ScriptedSheet{}};
      dev.Script(c.step, {c.code});
      EXPECT_EQ(ScanOne(dev).code, c.code);
      auto calls = dev.Calls();
      EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoClearDeviceDataBuf"), c.clearsDevice ? 1 : 0);
      EXPECT_FALSE(dev.IsScanning());
      dev.Cancel();
    }
  }
}

TEST_F(DevCtlTest, RefusedPropertiesAreAnInvalidParameterAndNoScan) {
  ScriptedDevice dev;
  dev.Script("DoCheckPropList", {0xD004001Cu});
  EXPECT_EQ(dev.Start(), QV_ERR_CTL_ILLEGAL_PARAM);
  EXPECT_FALSE(dev.IsScanning());
  EXPECT_EQ(dev.Calls(), std::vector<std::string>{"DoCheckPropList"});
}

TEST_F(DevCtlTest, SighupFailureLeavesTheDeviceAlone) {
  ScriptedDevice dev;
  dev.sheets = {ScriptedSheet{}};
  dev.Script("DoStartScan", {QV_ERR_CTL_COMMAND});
  g_bSigHup = true;
  EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_COMMAND);
  auto calls = dev.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoClearDeviceDataBuf"), 0);
  EXPECT_FALSE(g_bSigHup);
}

// Front then back of every duplex sheet, in order, whether the sheets come
// from the scan thread or the caller's thread; then the end of the stack.
TEST_F(DevCtlTest, DuplexBatchHandsOutFrontThenBack) {
  for (bool autofeed : {true, false}) {
    SCOPED_TRACE(autofeed ? "scan thread" : "caller's thread");
    g_PropInfo.SCAN_SOURCE = 3;
    g_PropInfo.AUTOFEED = autofeed;
    ScriptedDevice dev;
    std::vector<ScriptedSheet> sheets(3);
    for (int i = 0; i < 3; ++i) {
      sheets[i].backLines = 5 + i;
      sheets[i].frontFill = static_cast<unsigned char>(0x10 + i);
      sheets[i].backFill = static_cast<unsigned char>(0x20 + i);
    }
    dev.sheets = sheets;
    for (const ScriptedSheet& s : sheets) {
      Page front = ScanOne(dev);
      ASSERT_EQ(front.code, 0u);
      EXPECT_EQ(front.data, Face(s, false));
      EXPECT_TRUE(g_bIsReadDoubleBack);  // the reader turned to the back
      Page back = ScanOne(dev);
      ASSERT_EQ(back.code, 0u);
      EXPECT_EQ(back.data, Face(s, true));
      EXPECT_FALSE(g_bIsReadDoubleBack);
      // The back was handed out without a scan: nothing is under way.
      if (!autofeed) {
        EXPECT_FALSE(dev.IsScanning());
      }
    }
    // The end of the stack, reported again until cancel; the ended batch is
    // no scan under way, so signals end the process again.
    EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_NO_PAPER);
    EXPECT_FALSE(dev.IsScanning());
    EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_NO_PAPER);
    EXPECT_FALSE(dev.IsScanning());
    EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(QV_ERR_CTL_NO_PAPER), SANE_STATUS_NO_DOCS);
    dev.Cancel();
    EXPECT_EQ(dev.ThreadError(), 0u);
  }
}

// The options change between pages of a running batch, automatic feeding
// and the source included: the batch keeps what it started with, and its
// sheets still come from its scan thread alone, in order.
TEST_F(DevCtlTest, BatchKeepsItsPropertiesAndItsThread) {
  g_PropInfo.AUTOFEED = 1;
  ScriptedDevice dev;
  std::vector<ScriptedSheet> sheets(3);
  for (int i = 0; i < 3; ++i) sheets[i].frontFill = static_cast<unsigned char>(0x50 + i);
  dev.sheets = sheets;
  Page first = ScanOne(dev);
  ASSERT_EQ(first.code, 0u);
  EXPECT_EQ(first.data, Face(sheets[0], false));
  while (dev.SheetsRead() < 3) usleep(100);  // the thread has queued the rest
  g_PropInfo.AUTOFEED = 0;
  g_PropInfo.SCAN_SOURCE = 3;
  for (int i = 1; i < 3; ++i) {
    Page next = ScanOne(dev);
    ASSERT_EQ(next.code, 0u) << i;
    EXPECT_EQ(next.data, Face(sheets[i], false)) << i;
    EXPECT_FALSE(g_bIsReadDoubleBack) << "still simplex";
  }
  EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_NO_PAPER);
  dev.Cancel();
}

TEST_F(DevCtlTest, SheetWithoutFrontAndBlankSheetsAreHandledInTheQueue) {
  for (bool autofeed : {true, false}) {
    SCOPED_TRACE(autofeed ? "scan thread" : "caller's thread");
    g_PropInfo.SCAN_SOURCE = 3;
    g_PropInfo.AUTOFEED = autofeed;
    ScriptedDevice dev;
    ScriptedSheet backOnly;
    backOnly.frontLines = 0;
    backOnly.backLines = 3;
    ScriptedSheet blank;
    blank.backLines = 2;
    blank.blank = true;
    ScriptedSheet last;
    last.frontFill = 0x44;
    dev.sheets = {backOnly, blank, last};
    Page p = ScanOne(dev);
    ASSERT_EQ(p.code, 0u);
    EXPECT_EQ(p.data, Face(backOnly, true));  // "back page end" on the same start
    p = ScanOne(dev);
    ASSERT_EQ(p.code, 0u);
    EXPECT_EQ(p.data, Face(last, false));  // the blank sheet was skipped
    dev.Cancel();
  }
}

// An ended scan thread is seen as ended, and joined: a start after the end
// of the stack returns at once instead of waiting for a thread that is gone.
TEST_F(DevCtlTest, StartAfterTheThreadEndedReturnsItsError) {
  g_PropInfo.AUTOFEED = 1;
  ScriptedDevice dev;  // no sheets at all
  EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_NO_PAPER);
  dev.Cancel();
  // A new batch gets a new thread.
  dev.Restock({ScriptedSheet{}});
  EXPECT_EQ(ScanOne(dev).code, 0u);
  EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_NO_PAPER);
  dev.Cancel();
}

#if !defined(__SANITIZE_ADDRESS__)
// A node the scan thread cannot allocate ends the batch with the
// out-of-memory code, not with a success that carries no page.
TEST_F(DevCtlTest, NodeAllocationFailureEndsTheBatchOutOfMemory) {
  g_PropInfo.AUTOFEED = 1;
  ScriptedDevice dev;
  dev.sheets = {ScriptedSheet{}};
  g_failNodeAlloc = true;
  EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_NO_MEMORY);
  EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(QV_ERR_CTL_NO_MEMORY), SANE_STATUS_NO_MEM);
  g_failNodeAlloc = false;
  dev.Cancel();
}
#endif

// Many zero-latency sheets: every page arrives once, in order, intact, while
// the thread appends and the reader removes.
TEST_F(DevCtlTest, QueueKeepsOrderUnderLoad) {
  g_PropInfo.AUTOFEED = 1;
  ScriptedDevice dev;
  const int kSheets = 300;
  for (int i = 0; i < kSheets; ++i) {
    ScriptedSheet s;
    s.frontFill = static_cast<unsigned char>(i % 128);  // never the blank mark
    s.bytesPerLine = 64;
    dev.sheets.push_back(s);
  }
  for (int i = 0; i < kSheets; ++i) {
    Page p = ScanOne(dev);
    ASSERT_EQ(p.code, 0u) << i;
    ASSERT_EQ(p.data, Face(dev.sheets[i], false)) << i;
  }
  EXPECT_EQ(ScanOne(dev).code, QV_ERR_CTL_NO_PAPER);
  dev.Cancel();
}

// Cancel from every state leaves no pages, no queue, no thread, and a
// device ready for a new batch.
TEST_F(DevCtlTest, CancelBeforeStartAndBetweenPages) {
  g_PropInfo.SCAN_SOURCE = 3;
  g_PropInfo.AUTOFEED = 1;
  ScriptedDevice dev;
  dev.Cancel();  // nothing started
  EXPECT_TRUE(dev.FirstScan());
  std::vector<ScriptedSheet> sheets(4);
  for (auto& s : sheets) s.backLines = 2;
  dev.sheets = sheets;
  ASSERT_EQ(dev.Start(), 0u);  // front and back of sheet 1 held, more queued
  dev.Cancel();
  EXPECT_EQ(dev.FrontPage(), nullptr);
  EXPECT_EQ(dev.BackPage(), nullptr);
  EXPECT_TRUE(dev.FirstScan());
  EXPECT_FALSE(g_bIsReadDoubleBack);
  auto calls = dev.Calls();
  EXPECT_EQ(calls.back(), "DoBatch(false)");
  // The next batch starts over with a new thread.
  dev.Restock({ScriptedSheet{}});
  dev.ClearCalls();
  g_PropInfo.SCAN_SOURCE = 1;
  EXPECT_EQ(ScanOne(dev).code, 0u);
  calls = dev.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "DoScanModeSetting"), calls.end());
  dev.Cancel();
}

// The signal handler's cancel request while the reader waits for a page
// that the device is still reading: the thread stops, the start reports the
// cancel.
TEST_F(DevCtlTest, CancelRequestMidPageEndsTheStartCancelled) {
  g_PropInfo.AUTOFEED = 1;
  ScriptedDevice dev;
  dev.sheets = {ScriptedSheet{}};
  dev.blockSheet = 0;
  dev.blockMode = ScriptedDevice::Block::UntilCancel;
  auto started = std::async(std::launch::async, [&] { return dev.Start(); });
  while (!dev.blocked) usleep(100);
  dev.RequestCancel();
  ASSERT_EQ(started.wait_for(kLimit), std::future_status::ready);
  EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(started.get()), SANE_STATUS_CANCELLED);
  dev.Cancel();
  EXPECT_EQ(dev.FrontPage(), nullptr);
}

// A thread that scans ahead and is stopped cleanly by cancel between sheets:
// it finished the sheet in hand; nothing is freed under it.
TEST_F(DevCtlTest, CancelWaitsWhileTheThreadBlocksOnTheDevice) {
  g_PropInfo.AUTOFEED = 1;
  ScriptedDevice dev;
  dev.sheets = {ScriptedSheet{}, ScriptedSheet{}, ScriptedSheet{}};
  dev.blockSheet = 1;
  dev.blockMode = ScriptedDevice::Block::UntilRelease;
  ASSERT_EQ(ScanOne(dev).code, 0u);
  while (!dev.blocked) usleep(100);
  auto cancelled = std::async(std::launch::async, [&] { dev.Cancel(); });
  while (!dev.CancelFlag()) usleep(100);
  // A cancel that did not wait would have reached the device's batch switch
  // and freed the pages by now.
  EXPECT_EQ(cancelled.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
  dev.release = true;
  ASSERT_EQ(cancelled.wait_for(kLimit), std::future_status::ready);
  auto calls = dev.Calls();
  auto returned = std::find(calls.begin(), calls.end(), "DoGetImageData returns");
  auto batch = std::find(calls.begin(), calls.end(), "DoBatch(false)");
  ASSERT_NE(returned, calls.end());
  ASSERT_NE(batch, calls.end());
  EXPECT_LT(returned, batch);
  EXPECT_EQ(dev.SheetsRead(), 2u);  // the sheet in hand, and no further
  EXPECT_EQ(dev.FrontPage(), nullptr);
}

TEST_F(DevCtlTest, DestroyingAScanningObjectStopsItsThreadFirst) {
  g_PropInfo.AUTOFEED = 1;
  auto* dev = new ScriptedDevice;
  dev->sheets = {ScriptedSheet{}, ScriptedSheet{}};
  dev->blockSheet = 1;
  dev->blockMode = ScriptedDevice::Block::UntilCancel;
  ASSERT_EQ(dev->Start(), 0u);
  while (!dev->blocked) usleep(100);
  dev->Cancel();  // what every owner does before deleting
  delete dev;
}

TEST(ConvertToSaneErr, MapsEveryCodeRange) {
  struct Case {
    uint32_t code;
    SANE_Status status;
  } cases[] = {
      {0, SANE_STATUS_GOOD},
      {3, SANE_STATUS_DEVICE_BUSY},
      {7, SANE_STATUS_NO_DOCS},
      {11, SANE_STATUS_ACCESS_DENIED},
      {12, SANE_STATUS_IO_ERROR},
      {0xD0000000, SANE_STATUS_IO_ERROR},
      {QV_ERR_CTL_ILLEGAL_PARAM, SANE_STATUS_INVAL},
      {QV_ERR_CTL_NOT_SUPPORT, SANE_STATUS_UNSUPPORTED},
      {QV_ERR_CTL_NO_MEMORY, SANE_STATUS_NO_MEM},
      {QV_ERR_CTL_TIMEOUT, SANE_STATUS_DEVICE_BUSY},
      {QV_ERR_CTL_COMMAND, SANE_STATUS_IO_ERROR},
      {QV_ERR_CTL_STATUS, SANE_STATUS_IO_ERROR},
      {QV_ERR_CTL_DATA_OUT, SANE_STATUS_IO_ERROR},
      {QV_ERR_CTL_DATA_IN, SANE_STATUS_IO_ERROR},
      {QV_ERR_CTL_STATUS_NOT_GOOD, SANE_STATUS_IO_ERROR},
      {QV_ERR_CTL_RESERVATION_CONFLICT, SANE_STATUS_IO_ERROR},
      {QV_ERR_CTL_PAPER_JAM, SANE_STATUS_JAMMED},
      {QV_ERR_CTL_COVER_OPEN, SANE_STATUS_COVER_OPEN},
      {QV_ERR_CTL_NO_PAPER, SANE_STATUS_NO_DOCS},
      {QV_ERR_CTL_DOUBLE_FEED, SANE_STATUS_JAMMED},
      {QV_ERR_CTL_DATA_NOT_ENOUGH, SANE_STATUS_JAMMED},
      {QV_ERR_CTL_STOP_QUICKLY, SANE_STATUS_CANCELLED},
      {QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION, SANE_STATUS_IO_ERROR},
      {0xD004001C, SANE_STATUS_IO_ERROR},
      {0xFFFFFFFF, SANE_STATUS_IO_ERROR},
  };
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(c.code), c.status) << std::hex << c.code;
  }
  // errno speaks first.
  errno = EBUSY;
  EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(QV_ERR_CTL_PAPER_JAM), SANE_STATUS_DEVICE_BUSY);
  errno = EACCES;
  EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(QV_ERR_CTL_PAPER_JAM), SANE_STATUS_ACCESS_DENIED);
  errno = EPERM;
  EXPECT_EQ(KeloDevCtl::ConvertToSaneErr(3), SANE_STATUS_ACCESS_DENIED);
  errno = 0;
}

}  // namespace
