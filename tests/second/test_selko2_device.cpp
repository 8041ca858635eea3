// The Selko2 device class against the simulated scanner: the lock the
// scanner keeps, NVRAM and the first-read date, status queries, and how
// data reads survive short and failed transfers.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "second_backend.h"
#include "second_test_util.h"
#include "selko2_scan_func.h"
#include "test_support.h"
#include "usb_manager.h"

using namespace second_test;

namespace {

class Selko2Device : public ::testing::Test {
 protected:
  void TearDown() override {
    m_object.reset();
    if (kelo_usb_manager) {
      kelo_usb_manager->Close();
      kelo_usb_manager->ReleaseLibusbResource();
      delete kelo_usb_manager;
      kelo_usb_manager = nullptr;
    }
    g_iDevCount = 0;
  }

  // Opens the one simulated scanner of the scenario.
  void Open(const std::string& extra = "", const std::string& stateBytes = "") {
    m_dir = dravn_test::MakeTempDir("selko2-device");
    m_state = m_dir + "/state";
    if (!stateBytes.empty()) dravn_test::WriteFile(m_state, stateBytes);
    dravn_test::WriteFile(m_dir + "/scenario", Selko2Scenario(m_state, extra));
    dravn_test::WriteFile(m_dir + "/dravn.conf", SecondDravnConf());
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    setenv("DRAVN_SIM_TRANSCRIPT", (m_dir + "/transcript").c_str(), 1);
    setenv("DRAVN_CONFIG_DIR", m_dir.c_str(), 1);
    kelo_usb_manager = new KeloManagerUsb(SecondDeviceRowLookup, KELO_BACKEND_SECOND);
    ASSERT_EQ(kelo_usb_manager->GetDeviceList(&g_iDevCount), 0);
    ASSERT_EQ(g_iDevCount, 1);
    ASSERT_TRUE(kelo_usb_manager->InitShareMemory());
    ASSERT_EQ(kelo_usb_manager->Open(DeviceName(Selko2Model(), 1, 5).c_str()), 0);
    m_object = std::make_unique<CSelko2ScanFunc>();
  }

  std::vector<std::string> Sent() { return CommandsSent(dravn_test::ReadFile(m_dir + "/transcript")); }
  std::string Transcript() { return dravn_test::ReadFile(m_dir + "/transcript"); }

  // The simulated NVRAM (288 bytes) and lock owner (40 bytes).
  std::string Nvram() { return dravn_test::ReadFile(m_state).substr(0, NVRAM_TABLE_SIZE); }
  std::string Owner() { return dravn_test::ReadFile(m_state).substr(NVRAM_TABLE_SIZE); }

  static std::string OurOwner() {
    unsigned char owner[FCL_LOCK_OWNER_SIZE];
    BuildSelko2LockOwner(owner);
    return std::string(reinterpret_cast<char*>(owner), sizeof owner);
  }

  // A stored device memory: NVRAM with a pattern, the date bytes, no owner.
  static std::string StoredMemory(int month, int day, int year) {
    std::string nvram(NVRAM_TABLE_SIZE, '\0');
    for (size_t i = 0; i < nvram.size(); ++i) nvram[i] = static_cast<char>(i * 7 + 1);
    nvram[NVRAM_BODM] = static_cast<char>(month);
    nvram[NVRAM_BODD] = static_cast<char>(day);
    nvram[NVRAM_BODY] = static_cast<char>(year);
    return nvram + std::string(FCL_LOCK_OWNER_SIZE, '\0');
  }

  std::string m_dir;
  std::string m_state;
  std::unique_ptr<CSelko2ScanFunc> m_object;
};

// Whatever owner record the scanner reports back, the lock is taken.
TEST_F(Selko2Device, FreeScannerIsLockedAndUnlocked) {
  if (!RunInOwnIpcNamespace()) return;
  for (const char* params : {"", "set owner_reply=0f3b9a2e-7c41-4d8e-b5a6-19c2d7e08f44\n", "set owner_reply=?\n"}) {
    SCOPED_TRACE(params);
    Open(params);
    EXPECT_EQ(m_object->LockScanner(), RET_LOCKED);
    EXPECT_TRUE(m_object->IsLocked());
    EXPECT_EQ(Owner(), OurOwner());
    EXPECT_EQ(Sent(), (std::vector<std::string>{kCmdStatusExt, kCmdLock, kCmdReadOwner}));
    EXPECT_TRUE(m_object->UnLockScanner());
    EXPECT_FALSE(m_object->IsLocked());
    EXPECT_EQ(Owner(), std::string(FCL_LOCK_OWNER_SIZE, '\0'));
    EXPECT_EQ(Count(Sent(), kCmdUnlock), 1);
    TearDown();
  }
}

// Only the owner is read, to tell another owner from an ended process of
// this host; neither a lock nor an unlock goes out.
TEST_F(Selko2Device, LockHeldByAnotherHostIsNotRequested) {
  if (!RunInOwnIpcNamespace()) return;
  Open("set lock_owner=0f3b9a2e-7c41-4d8e-b5a6-19c2d7e08f44\n");
  EXPECT_EQ(m_object->LockScanner(), RET_ALREADY_LOCKED);
  EXPECT_FALSE(m_object->IsLocked());
  EXPECT_EQ(Sent(), (std::vector<std::string>{kCmdStatusExt, kCmdReadOwner}));
  // Never locked: close sends nothing, yet a new batch starts afresh.
  g_pScanParameterExt[67] = 0x0C;
  EXPECT_TRUE(m_object->UnLockScanner());
  EXPECT_EQ(Sent(), (std::vector<std::string>{kCmdStatusExt, kCmdReadOwner}));
  EXPECT_EQ(g_pScanParameterExt[67], 0);
  EXPECT_EQ(Owner().substr(0, 36), "0f3b9a2e-7c41-4d8e-b5a6-19c2d7e08f44");
}

// A status record that comes short or not at all leaves the lock untried:
// the open fails as a device that does not answer.
TEST_F(Selko2Device, BrokenStatusReplyIsNotConnected) {
  if (!RunInOwnIpcNamespace()) return;
  struct Case {
    const char* fault;
    uint32_t lastErr;
  } cases[] = {
      {"fault transfer 2 short 20\n", 4096},  // 20 of the 108 status bytes
      {"fault transfer 2 fail\n", 4096},
      {"fault transfer 1 stall\n", 4096},  // the command itself
      {"fault transfer 1 gone\n", 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Open(c.fault);
    EXPECT_EQ(m_object->LockScanner(), RET_NOT_CONNECT);
    EXPECT_EQ(m_object->getDwLastErr(), c.lastErr);
    EXPECT_EQ(m_object->ConvertToSaneErr(m_object->getDwLastErr()), SANE_STATUS_IO_ERROR);
    EXPECT_FALSE(m_object->IsLocked());
    EXPECT_EQ(Owner(), std::string(FCL_LOCK_OWNER_SIZE, '\0'));
    TearDown();
  }
}

// The first-read date is written once, when the stored one is not a date.
TEST_F(Selko2Device, FirstReadDate) {
  if (!RunInOwnIpcNamespace()) return;
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  struct Case {
    int month, day;
    bool rewritten;
  } cases[] = {{12, 31, false}, {1, 1, false}, {13, 5, true}, {0, 0, true}, {5, 0, true}, {6, 32, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.month) + "/" + std::to_string(c.day));
    std::string stored = StoredMemory(c.month, c.day, 19);
    Open("", stored);
    EXPECT_EQ(m_object->InitDevice(), SANE_STATUS_GOOD);
    std::string expected = stored.substr(0, NVRAM_TABLE_SIZE);
    if (c.rewritten) {
      expected[NVRAM_BODM] = static_cast<char>(local.tm_mon + 1);
      expected[NVRAM_BODD] = static_cast<char>(local.tm_mday);
      expected[NVRAM_BODY] = static_cast<char>((local.tm_year + 1900) % 100);
    }
    EXPECT_EQ(Nvram(), expected) << "every other byte written back as read";
    EXPECT_EQ(Count(Sent(), kCmdSetNvram), c.rewritten ? 1 : 0);
    TearDown();
  }
}

TEST_F(Selko2Device, NvramReadFailureFailsInit) {
  if (!RunInOwnIpcNamespace()) return;
  Open("fault transfer 3 stall\n", StoredMemory(0, 0, 0));
  // One stalled try is retried; a device that goes away is not.
  EXPECT_EQ(m_object->InitDevice(), SANE_STATUS_GOOD);
  TearDown();
  Open("fault transfer 3 gone\n", StoredMemory(0, 0, 0));
  EXPECT_EQ(m_object->InitDevice(), SANE_STATUS_IO_ERROR);
  EXPECT_EQ(m_object->getDwLastErr(), 4096u);
  EXPECT_EQ(Count(Sent(), kCmdSetNvram), 0);
}

// A data read that comes in pieces keeps every piece: the block read is
// the block stored, and the next command still lines up with its reply.
TEST_F(Selko2Device, DataReadKeepsShortTransfers) {
  if (!RunInOwnIpcNamespace()) return;
  const char* faults[] = {
      "fault transfer 3 short 100\n",
      "fault transfer 3 timeout 50\n",
      "fault transfer 3 short 0\n",
      "fault transfer 3 short 100\nfault transfer 4 short 100\n",
  };
  for (const char* fault : faults) {
    SCOPED_TRACE(fault);
    std::string stored = StoredMemory(3, 4, 21);
    Open(fault, stored);
    unsigned char block[NVRAM_TABLE_SIZE];
    memset(block, 0xEE, sizeof block);
    ASSERT_TRUE(m_object->GetNVRAM(block));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), sizeof block), stored.substr(0, NVRAM_TABLE_SIZE));
    // The stream is still aligned: a status query answers its own record.
    unsigned char status[FCL_DEVICE_STATUS_SIZE] = {};
    uint32_t lastErr = 0;
    EXPECT_TRUE(m_object->GetCurrentScannerStatus(status, &lastErr));
    EXPECT_EQ(status[3], 0);
    TearDown();
  }
}

TEST_F(Selko2Device, CurrentStatusBits) {
  if (!RunInOwnIpcNamespace()) return;
  struct Case {
    const char* params;
    unsigned char byte3;
  } cases[] = {
      {"", 0x00},
      {"set paper=no\n", 0x80},
      {"set cover=open\n", 0x20},
      {"set paper=no\nset cover=open\n", 0xA0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    Open(c.params);
    m_object->setDwLastErr(8194);
    unsigned char status[FCL_DEVICE_STATUS_SIZE] = {};
    uint32_t lastErr = 77;
    ASSERT_TRUE(m_object->GetCurrentScannerStatus(status, &lastErr));
    EXPECT_EQ(status[3], c.byte3);
    EXPECT_EQ(lastErr, 77u);
    EXPECT_EQ(m_object->getDwLastErr(), 8194u) << "a query does not touch the last error";
    TearDown();
  }
}

TEST_F(Selko2Device, StatusQueryFailure) {
  if (!RunInOwnIpcNamespace()) return;
  Open("fault transfer 2 short 8\n");
  unsigned char status[FCL_DEVICE_STATUS_SIZE] = {};
  uint32_t lastErr = 0;
  EXPECT_FALSE(m_object->GetCurrentScannerStatus(status, &lastErr));
  EXPECT_EQ(lastErr, 4096u);
  EXPECT_EQ(m_object->ConvertToSaneErr(lastErr), SANE_STATUS_IO_ERROR);
  EXPECT_FALSE(m_object->GetCurrentScannerStatus(nullptr, &lastErr));
  EXPECT_EQ(lastErr, 32u);
}

TEST_F(Selko2Device, PaperAndCoverCheck) {
  if (!RunInOwnIpcNamespace()) return;
  struct Case {
    const char* params;
    bool ok;
    uint32_t lastErr;
  } cases[] = {
      {"", true, 0},
      {"set paper=no\n", false, 8206},
      {"set cover=open\n", false, 8201},
      {"set paper=no\nset cover=open\n", false, 8201},  // the cover is named first
      {"set status_code=8196\n", false, 8196},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    Open(c.params);
    EXPECT_EQ(m_object->ObjectPosition(), c.ok);
    EXPECT_EQ(m_object->getDwLastErr(), c.lastErr);
    TearDown();
  }
}

}  // namespace
