// Selko2 wire format, last-error translations, the scan-parameter record and
// the per-device status file: what needs no device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "log.h"
#include "model_catalog.h"
#include "prop_info.h"
#include "second_backend.h"
#include "selko2_command.h"
#include "selko2_exchange.h"
#include "selko2_scan_func.h"
#include "test_support.h"

namespace {

std::string Hex(const unsigned char* p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

struct CommandCase {
  const char* name;
  Selko2Command command;
  const char* bytes;
};

// Each block as the scanner must receive it, and the name the trace log
// gives it.
const CommandCase kCommands[] = {
    {"Get Hardware Status", selko2::kGetHardwareStatus, "30020000120002002000000000000000"},
    {"Get Hardware Status Ext", selko2::kGetHardwareStatusExt, "3002000012007a006c00000000000000"},
    {"Scan", selko2::kScan, "30020000140004000000000000000000"},
    {"Calibrate Device", selko2::kCalibrateDevice, "30020000140005000000000000000000"},
    {"Stop Scan", selko2::kStopScan, "30020000140006000000000000000000"},
    {"Abort Scan", selko2::kAbortScan, "30020000140007000000000000000000"},
    {"Set Window", selko2::kSetWindow, "300200002a0009000400000004010000"},
    {"Set Nvram", selko2::kSetNvram, "300200002a0010000000000020010000"},
    {"Lock Scanner", selko2::kLockScanner, "300200002a0078000100000028000000"},
    {"Unlock Scanner", selko2::kUnlockScanner, "300200002a0078000200000028000000"},
    {"Get Nvram", selko2::kGetNvram, "30020000280010000000000020010000"},
    {"Lock Scanner", selko2::kReadLockOwner, "30020000280078000100000028000000"},
    {"Read", selko2::kRead, "30020000280004000000000000000000"},
};

TEST(Selko2Command, BlocksAndTraceNames) {
  for (const auto& c : kCommands) {
    _FCL_CMD block;
    memset(&block, 0xAA, sizeof block);
    CreateCommand(&block, c.command);
    EXPECT_EQ(Hex(block.bytes, 16), c.bytes) << c.name;
    EXPECT_STREQ(ConvertCDBCommand(block.bytes), c.name);
  }
}

TEST(Selko2Command, LockOwnerIsAGuidPaddedWithZeros) {
  unsigned char owner[FCL_LOCK_OWNER_SIZE];
  memset(owner, 0xFF, sizeof owner);
  BuildSelko2LockOwner(owner);
  std::string text(reinterpret_cast<char*>(owner), 36);
  ASSERT_EQ(text.size(), 36u);
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23)
      EXPECT_EQ(text[i], '-') << i;
    else
      EXPECT_TRUE(isxdigit(static_cast<unsigned char>(text[i]))) << i;
  }
  for (size_t i = 36; i < sizeof owner; ++i) EXPECT_EQ(owner[i], 0) << i;
  unsigned char again[FCL_LOCK_OWNER_SIZE];
  BuildSelko2LockOwner(again);
  EXPECT_EQ(memcmp(owner, again, sizeof owner), 0) << "a process presents one owner";
}

// Who holds a lock, from the owner record the scanner answers: only a
// record of this package, this host and a pid that names no process is an
// ended process's; a record naming this process is its own; anything else,
// however it is broken, belongs to someone else.
TEST(Selko2Command, LockHolderFromTheOwnerRecord) {
  unsigned char own[FCL_LOCK_OWNER_SIZE];
  BuildSelko2LockOwner(own);
  const std::string text(reinterpret_cast<char*>(own), 36);
  const std::string head = text.substr(0, 28);  // package, host tag
  const std::string gone = head + "7ffffffe";   // no pid this high runs
  auto withPid = [&](const std::string& pid) { return head + pid; };
  const struct {
    const char* label;
    std::string record;  // zero-padded to 40 bytes
    Selko2LockHolder holder;
    std::string tail = {};
  } cases[] = {
      {"this process", text, Selko2LockHolder::Self},
      {"an ended process", gone, Selko2LockHolder::Gone},
      {"the parent, alive", withPid([] {
         char pid[9];
         snprintf(pid, sizeof pid, "%08x", static_cast<unsigned>(getppid()));
         return std::string(pid);
       }()),
       Selko2LockHolder::Other},
      {"another host", text.substr(0, 19) + (text[19] == '0' ? "1" : "0") + text.substr(20), Selko2LockHolder::Other},
      {"the package's old shared text", "5d8e2c71-a3f4-4b09-9e6c-2f17d04a8b35", Selko2LockHolder::Other},
      {"pid 0", withPid("00000000"), Selko2LockHolder::Other},
      {"a pid past the pid range (every process to kill())", withPid("ffffffff"), Selko2LockHolder::Other},
      {"capital hex digits", withPid("7FFFFFFE"), Selko2LockHolder::Other},
      {"a sign in the pid", withPid("-0000001"), Selko2LockHolder::Other},
      {"bytes after the text", gone, Selko2LockHolder::Other, "x"},
      {"a short text", gone.substr(0, 35), Selko2LockHolder::Other},
      {"nothing", "", Selko2LockHolder::Other},
  };
  for (const auto& c : cases) {
    unsigned char record[FCL_LOCK_OWNER_SIZE] = {};
    memcpy(record, c.record.data(), c.record.size());
    memcpy(record + 36, c.tail.data(), c.tail.size());
    EXPECT_EQ(WhoHoldsSelko2Lock(record), c.holder) << c.label;
  }
}

// A data read against a scripted pipe: each transfer brings the next run of
// a counting stream (so a lost or repeated byte shows) and ends with its
// code. The backend's rule (1001 tries, 90 s of silence, a 30 s time-out,
// cancel) and the neighbours' (1000 tries, a time-out ends the read).
struct ReadStep {
  int bytes;
  int result;
};
struct ReadCase {
  const char* label;
  std::vector<ReadStep> steps;  // the last one repeats
  bool backendRule;
  bool cancelled;
  Selko2ReadEnd end;
  size_t transfers;
};

TEST(Selko2Read, ShortEmptyAndFailedTransfers) {
  constexpr uint32_t kLength = 64;
  const int T = LIBUSB_ERROR_TIMEOUT, G = LIBUSB_ERROR_NO_DEVICE, P = LIBUSB_ERROR_PIPE;
  const ReadCase cases[] = {
      {"one transfer", {{64, 0}}, false, false, Selko2ReadEnd::Full, 1},
      {"short runs kept", {{10, 0}, {1, 0}, {53, 0}}, false, false, Selko2ReadEnd::Full, 3},
      {"more than asked", {{100, 0}}, true, false, Selko2ReadEnd::Full, 1},
      {"bytes with a time-out", {{20, T}, {44, 0}}, true, false, Selko2ReadEnd::Full, 2},
      {"gone after some", {{20, G}}, true, false, Selko2ReadEnd::Failed, 1},
      {"neighbour: time-out ends", {{20, 0}, {0, T}}, false, false, Selko2ReadEnd::Failed, 2},
      {"neighbour: 1000 empty tries", {{0, P}}, false, false, Selko2ReadEnd::Failed, 1000},
      {"neighbour: 999 empty, then data", {{0, 0}}, false, false, Selko2ReadEnd::Full, 1000},
      {"backend: 1001 empty tries", {{0, P}}, true, false, Selko2ReadEnd::Failed, 1001},
      {"backend: 1000 empty, then data", {{0, 0}}, true, false, Selko2ReadEnd::Full, 1001},
      {"backend: three time-outs are 90 s", {{0, T}}, true, false, Selko2ReadEnd::Silent, 3},
      {"backend: a byte restarts the silence",
       {{0, T}, {0, T}, {1, T}, {0, T}, {0, T}, {0, T}},
       true,
       false,
       Selko2ReadEnd::Silent,
       6},
      {"backend: cancelled at a time-out", {{5, 0}, {0, T}}, true, true, Selko2ReadEnd::Failed, 2},
      {"backend: cancelled, data still coming", {{5, 0}, {59, 0}}, true, true, Selko2ReadEnd::Full, 2},
  };
  for (const auto& c : cases) {
    // "then data" cases: the transfer after the empty ones brings the rest.
    const bool thenData = std::string(c.label).find("then data") != std::string::npos;
    size_t calls = 0;
    unsigned char next = 0;
    const Selko2BulkRead read = [&](unsigned char* to, uint32_t size, int* count) {
      ReadStep step = c.steps[std::min(calls, c.steps.size() - 1)];
      if (thenData && calls + 1 == c.transfers) step = {static_cast<int>(size), 0};
      ++calls;
      const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(step.bytes), size);
      for (uint32_t i = 0; i < n; ++i) to[i] = next++;
      *count = step.bytes;  // a transfer may claim more than it was asked for
      return step.result;
    };
    std::atomic<uint32_t> cancel{c.cancelled ? 1u : 0u};
    const Selko2ReadRule rule =
        c.backendRule ? Selko2ReadRule{1001, 90 * 1000, 30 * 1000, &cancel} : Selko2ReadRule{1000};
    unsigned char data[kLength + 1];
    memset(data, 0xEE, sizeof data);
    EXPECT_EQ(Selko2ReadFull(read, data, kLength, rule), c.end) << c.label;
    EXPECT_EQ(calls, c.transfers) << c.label;
    if (c.end == Selko2ReadEnd::Full) {
      for (uint32_t i = 0; i < kLength; ++i) {
        ASSERT_EQ(data[i], i) << c.label << " byte " << i;
      }
    }
    EXPECT_EQ(data[kLength], 0xEE) << c.label;
  }
}

// Every model of the catalogue reaches the class of its family.
TEST(SecondFamily, ProductIdsChooseTheFamily) {
  for (const auto& m : dravn::kSelkoModels) EXPECT_EQ(FamilyOfProduct(m.productId), SecondFamily::Selko) << m.model;
  for (const auto& m : dravn::kSelko2Models) EXPECT_EQ(FamilyOfProduct(m.productId), SecondFamily::Selko2) << m.model;
  for (const auto& m : dravn::kBrennaModels) EXPECT_EQ(FamilyOfProduct(m.productId), SecondFamily::Brenna) << m.model;
}

// The status-file record of each last-error code: error-code byte, sense
// qualifier, code and key, and the SANE status.
struct ErrorCase {
  uint32_t code;
  SANE_Status status;
  uint32_t scValue;
  bool errorLog;
};

const ErrorCase kErrors[] = {
    {0, SANE_STATUS_GOOD, 0x00000000, false},          {11, SANE_STATUS_DEVICE_BUSY, 0x04803000, true},
    {15, SANE_STATUS_UNSUPPORTED, 0x04803000, true},   {23, SANE_STATUS_IO_ERROR, 0x00000000, false},
    {24, SANE_STATUS_IO_ERROR, 0x00000000, false},     {32, SANE_STATUS_INVAL, 0x00000000, false},
    {33, SANE_STATUS_NO_MEM, 0x00000000, false},       {34, SANE_STATUS_IO_ERROR, 0x00000000, false},
    {35, SANE_STATUS_IO_ERROR, 0x03803500, false},     {4096, SANE_STATUS_IO_ERROR, 0x00000000, false},
    {4101, SANE_STATUS_IO_ERROR, 0x00000000, false},   {4102, SANE_STATUS_IO_ERROR, 0x00000000, false},
    {8193, SANE_STATUS_IO_ERROR, 0x03800131, false},   {8194, SANE_STATUS_JAMMED, 0x03800131, false},
    {8195, SANE_STATUS_JAMMED, 0x03800131, false},     {8196, SANE_STATUS_JAMMED, 0x03800755, false},
    {8197, SANE_STATUS_JAMMED, 0x04803000, true},      {8201, SANE_STATUS_COVER_OPEN, 0x03800240, false},
    {8206, SANE_STATUS_NO_DOCS, 0x03800320, false},    {8207, SANE_STATUS_IO_ERROR, 0x04800675, false},
    {8212, SANE_STATUS_IO_ERROR, 0x04800674, false},   {8213, SANE_STATUS_IO_ERROR, 0x0444001B, false},
    {16385, SANE_STATUS_CANCELLED, 0x00000000, false}, {16386, SANE_STATUS_CANCELLED, 0x03802078, false},
    {16387, SANE_STATUS_NO_MEM, 0x04803000, true},     {8200, SANE_STATUS_IO_ERROR, 0x04803000, true},  // not listed
    {1, SANE_STATUS_IO_ERROR, 0x04803000, true},                                                        // not listed
};

// Error-log files and their contents. A file is named by the second it was
// written in, so a later code may rewrite it.
std::map<std::string, std::string> ErrorLogs() {
  std::map<std::string, std::string> out;
  for (const auto& n : dravn_test::ListDir(DRAVN_LOG_DIR))
    if (n.rfind("dravnerrorlog_", 0) == 0) out[n] = dravn_test::ReadFile(std::string(DRAVN_LOG_DIR) + "/" + n);
  return out;
}

uint32_t ReadStatusFile(const std::string& path) {
  std::string bytes = dravn_test::ReadFile(path);
  EXPECT_EQ(bytes.size(), 4u) << path;
  if (bytes.size() != 4) return 0xDEADBEEF;
  return GetLe32(reinterpret_cast<const unsigned char*>(bytes.data()));
}

class Selko2StatusFile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_name = "Selko2S420:009:" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_object.SetDeviceShmPath(m_name.c_str());
    m_path = m_object.GetDeviceShmPath();
    unlink(m_path.c_str());
  }
  void TearDown() override { unlink(m_path.c_str()); }

  std::string m_name;
  std::string m_path;
  CSelko2ScanFunc m_object;
};

TEST_F(Selko2StatusFile, PathNamesDeviceAndUser) {
  EXPECT_EQ(m_path, std::string(DRAVN_SHM_DIR) + "/" + m_name + "-" + std::to_string(getuid()) + "-shm");
}

TEST_F(Selko2StatusFile, EveryCodeTranslates) {
  for (const auto& e : kErrors) {
    SCOPED_TRACE(e.code);
    EXPECT_EQ(m_object.ConvertToSaneErr(e.code), e.status);
    auto before = ErrorLogs();
    m_object.setDwLastErr(e.code);
    ASSERT_TRUE(m_object.WriteSCErrorInfo());
    EXPECT_EQ(ReadStatusFile(m_path), e.scValue);
    EXPECT_EQ(m_object.getDwLastErr(), e.code) << "a good write keeps the code";
    auto after = ErrorLogs();
    if (e.errorLog) {
      char head[16];
      snprintf(head, sizeof head, "0x%04X", e.code);
      bool written = false;
      for (const auto& [name, text] : after)
        written |= text.rfind(head, 0) == 0 && (!before.count(name) || before[name] != text);
      EXPECT_TRUE(written) << "error log of " << head;
    } else {
      EXPECT_EQ(after, before) << "no error log for this code";
    }
    uint32_t value = 0xFFFFFFFF, lastErr = 0;
    ASSERT_TRUE(m_object.ReadSCErrorInfo(&value, &lastErr));
    EXPECT_EQ(value, e.scValue);
    // The sense record: a triple, even 0, 0, 0, makes fixed-format sense
    // data behind a first word of 4; "none" leaves it zero.
    Selko2SenseRecord sense;
    memset(&sense, 0, sizeof sense);
    ASSERT_TRUE(m_object.SetSenseError(e.code, &sense));
    const bool none = e.code == 0 || e.code == 4101 || e.code == 4102;
    EXPECT_EQ(GetLe32(sense.bytes), none ? 0u : 4u);
    EXPECT_EQ(sense.bytes[8], none ? 0 : 0xF0);
    EXPECT_EQ(MakeSCValue(0, sense.bytes[10], sense.bytes[20], sense.bytes[21]), e.scValue & 0xFFFFFF00u);
  }
}

// The file is its user's alone, also one that another program left open to
// everybody; a file with a second name elsewhere is not written.
TEST_F(Selko2StatusFile, FileIsTheUsersAlone) {
  dravn_test::WriteFile(m_path, "");
  ASSERT_EQ(chmod(m_path.c_str(), 0666), 0);
  m_object.setDwLastErr(8206);
  ASSERT_TRUE(m_object.WriteSCErrorInfo());
  struct stat st;
  ASSERT_EQ(lstat(m_path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  const std::string other = dravn_test::MakeTempDir("second-name") + "/other";
  dravn_test::WriteFile(other, "keep me");
  unlink(m_path.c_str());
  ASSERT_EQ(link(other.c_str(), m_path.c_str()), 0);
  EXPECT_FALSE(m_object.WriteSCErrorInfo());
  EXPECT_EQ(m_object.getDwLastErr(), 34u);
  EXPECT_EQ(dravn_test::ReadFile(other), "keep me");
}

TEST_F(Selko2StatusFile, RewriteTruncatesLongerFile) {
  dravn_test::WriteFile(m_path, "0123456789");
  m_object.setDwLastErr(8201);
  ASSERT_TRUE(m_object.WriteSCErrorInfo());
  EXPECT_EQ(ReadStatusFile(m_path), 0x03800240u);
}

TEST_F(Selko2StatusFile, PlantedLinkIsNotFollowed) {
  std::string victim = dravn_test::MakeTempDir("victim") + "/victim";
  dravn_test::WriteFile(victim, "keep me");
  ASSERT_EQ(symlink(victim.c_str(), m_path.c_str()), 0);
  m_object.setDwLastErr(8206);
  EXPECT_FALSE(m_object.WriteSCErrorInfo());
  EXPECT_EQ(m_object.getDwLastErr(), 34u);
  EXPECT_EQ(m_object.ConvertToSaneErr(m_object.getDwLastErr()), SANE_STATUS_IO_ERROR);
  EXPECT_EQ(dravn_test::ReadFile(victim), "keep me");
  uint32_t value = 7, lastErr = 0;
  EXPECT_TRUE(m_object.ReadSCErrorInfo(&value, &lastErr));
  EXPECT_EQ(value, 7u) << "a link is not read either";
}

TEST_F(Selko2StatusFile, PlantedFifoNeitherBlocksNorCounts) {
  ASSERT_EQ(mkfifo(m_path.c_str(), 0666), 0);
  m_object.setDwLastErr(0);
  EXPECT_FALSE(m_object.WriteSCErrorInfo());
  EXPECT_EQ(m_object.getDwLastErr(), 34u);
  uint32_t value = 7, lastErr = 0;
  EXPECT_TRUE(m_object.ReadSCErrorInfo(&value, &lastErr));
  EXPECT_EQ(value, 7u);
}

TEST_F(Selko2StatusFile, MissingOrShortFileLeavesValue) {
  uint32_t value = 0, lastErr = 0;
  EXPECT_TRUE(m_object.ReadSCErrorInfo(&value, &lastErr));
  EXPECT_EQ(value, 0u);
  dravn_test::WriteFile(m_path, std::string("\x01\x02", 2));
  value = 5;
  EXPECT_TRUE(m_object.ReadSCErrorInfo(&value, &lastErr));
  EXPECT_EQ(value, 5u);
  EXPECT_FALSE(m_object.ReadSCErrorInfo(nullptr, &lastErr));
  EXPECT_EQ(lastErr, 32u);
}

TEST_F(Selko2StatusFile, RefusedLockRecord) {
  // What a second host's lock leaves for the scanner-error option.
  m_object.setDwLastErr(35);
  ASSERT_TRUE(m_object.WriteSCErrorInfo());
  std::string bytes = dravn_test::ReadFile(m_path);
  ASSERT_EQ(bytes.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x00);  // error-code byte
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0x35);  // qualifier
  EXPECT_EQ(static_cast<unsigned char>(bytes[2]), 0x80);  // sense code
  EXPECT_EQ(static_cast<unsigned char>(bytes[3]), 0x03);  // sense key
}

// The initial scan-parameter record, every byte.
TEST(Selko2ScanParameter, InitialRecord) {
  CSelko2ScanFunc object;
  ASSERT_NE(g_pScanParameterExt, nullptr);
  // What a batch may have set: the reset must clear it.
  for (size_t o : {64, 67, 71, 92, 93, 94, 96, 97, 100, 136, 139, 140, 147, 148, 149}) g_pScanParameterExt[o] = 0xEE;
  g_pScanParameterExt[60] = 234;
  ASSERT_TRUE(object.InitScanParameter());
  std::vector<unsigned char> expected(FCL_SCAN_PARAM_EXT_SIZE, 0);
  auto put32 = [&](size_t o, uint32_t v) { PutLe32(expected.data() + o, v); };
  auto put16 = [&](size_t o, uint16_t v) { PutLe16(expected.data() + o, v); };
  put32(0, 4);
  expected[4] = 3;
  expected[5] = 3;
  expected[6] = 24;
  expected[7] = 24;
  put32(8, 2550);
  put32(12, 7650);
  put16(16, 300);
  put16(18, 300);
  put32(28, 2550);
  put32(32, 4200);
  put32(36, 2550);
  put32(40, 4200);
  put16(44, 100);
  put16(46, 100);
  put16(52, 4);
  put16(54, 31);
  put32(56, 1);
  expected[63] = 0x80;
  put32(72, 4200);
  put32(76, 0x20);
  put32(132, 100);
  EXPECT_EQ(Hex(g_pScanParameterExt, FCL_SCAN_PARAM_EXT_SIZE), Hex(expected.data(), expected.size()));
}

TEST(Selko2ScanParameter, RecordLivesWithTheObject) {
  {
    CSelko2ScanFunc object;
    EXPECT_TRUE(object.IsUsable());
    EXPECT_EQ(GetLe32(g_pScanParameterExt), 4u);
  }
  EXPECT_EQ(g_pScanParameterExt, nullptr);
}

// The window for the first sheet of a batch, from the scan properties
// (lengths in 1/1200 inch).
struct WindowCase {
  const char* name;
  unsigned face, resX, resY;
  double x0, y0, x1, y1, pageWidth, pageHeight;
  int paperSize, cropping, autofeed, dfAction, overlap;
  // side, x res, y res, image width, bytes per line, left, top, window width, window length,
  // page width, page length, byte 60, byte 67, offset 100
  uint32_t want[14];
};

const WindowCase kWindows[] = {
    {"A4-like simplex 300 dpi, centred",
     1,
     300,
     300,
     0,
     0,
     9900,
     14000,
     9900,
     14000,
     1,
     0,
     1,
     0,
     0,
     {6, 300, 300, 2475, 7425, 38, 0, 2475, 3500, 2475, 3500, 0, 0, 0}},
    {"duplex 600 dpi, full width, manual feed, overlap",
     3,
     600,
     600,
     1200,
     600,
     7200,
     12600,
     10201,
     14000,
     1,
     0,
     0,
     1,
     1,
     {4, 600, 600, 3000, 9000, 600, 300, 3000, 6000, 5100, 7000, 0, 0x04, 1}},
    {"automatic size above 300 dpi",
     2,
     600,
     400,
     100,
     100,
     5000,
     5000,
     10000,
     20000,
     12,
     0,
     1,
     0,
     0,
     {5, 600, 600, 5468, 16404, 0, 0, 5184, 8868, 5184, 8868, 234, 0x08, 0}},
    {"overscan at 200 dpi, centred",
     1,
     200,
     200,
     0,
     0,
     5000,
     100000,
     5000,
     100000,
     1,
     3,
     1,
     0,
     0,
     {6, 300, 300, 1484, 4452, 533, 0, 1484, 25234, 1484, 25234, 117, 0x08, 0}},
};

TEST(Selko2ScanParameter, WindowOfFirstSheet) {
  for (const auto& c : kWindows) {
    SCOPED_TRACE(c.name);
    CSelko2ScanFunc object;
    g_PropInfo = KELO_PROP_INFO{};
    g_PropInfo.SCAN_FACE = static_cast<unsigned char>(c.face);
    g_PropInfo.SCAN_RES_X = static_cast<unsigned short>(c.resX);
    g_PropInfo.SCAN_RES_Y = static_cast<unsigned short>(c.resY);
    g_PropInfo.TOP_LEFT_X = c.x0;
    g_PropInfo.TOP_LEFT_Y = c.y0;
    g_PropInfo.BOTTOM_RIGHT_X = c.x1;
    g_PropInfo.BOTTOM_RIGHT_Y = c.y1;
    g_PropInfo.CUST_PAGE_WIDTH = c.pageWidth;
    g_PropInfo.CUST_PAGE_LENGTH = c.pageHeight;
    g_PropInfo.PAPER_SIZE = c.paperSize;
    g_PropInfo.CROPPING = static_cast<unsigned char>(c.cropping);
    g_PropInfo.AUTOFEED = static_cast<unsigned char>(c.autofeed);
    g_PropInfo.DF_ACTION = static_cast<unsigned char>(c.dfAction);
    g_PropInfo.MF_OVERLAPPING = static_cast<unsigned char>(c.overlap);
    ASSERT_TRUE(object.ModeSelect());
    ASSERT_TRUE(object.SetWindow());
    const unsigned char* r = g_pScanParameterExt;
    uint32_t got[14] = {GetLe32(r),      GetLe16(r + 16), GetLe16(r + 18), GetLe32(r + 8),  GetLe32(r + 12),
                        GetLe32(r + 20), GetLe32(r + 24), GetLe32(r + 28), GetLe32(r + 32), GetLe32(r + 36),
                        GetLe32(r + 40), r[60],           r[67],           GetLe32(r + 100)};
    for (int i = 0; i < 14; ++i) EXPECT_EQ(got[i], c.want[i]) << "field " << i;
    EXPECT_EQ(GetLe32(r + 72), c.want[8]) << "window length again";
    EXPECT_EQ(GetLe32(r + 76) & 0x20, 0x20u);
  }
}

}  // namespace
