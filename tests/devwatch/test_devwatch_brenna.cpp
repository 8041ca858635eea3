// The Brenna maintenance back-end through the staged libdevwatch bound by
// name, against the simulated Brenna scanner: the image built from the read
// data and the error record, the writes that reach its sends, the
// first-read date, the firmware version, the error log, the inquiry, and
// the family's own log file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "devwatch_test_util.h"
#include "dravn_paths.h"

namespace {

using devwatch_test::Bench;
using Bytes = std::vector<unsigned char>;

constexpr const char* kBrenna = "BrennaB700:001:004";

void PutBe(Bytes& b, size_t at, uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i, v >>= 8) b[at + i] = static_cast<unsigned char>(v);
}

// Read data of type 105: totals 1000 + 234, second counter 1262, counter
// 2600 at 4-7 and 1500 at 77-80, sleep 61 and auto-off 60 minutes, date
// 2024-07-09 (or unset), word 01 02 03 04, serial A12345.
Bytes ReadData(bool dated = true) {
  Bytes d(255, 0);
  PutBe(d, 4, 2600, 4);
  PutBe(d, 8, 1000, 4);
  PutBe(d, 12, 234, 4);
  PutBe(d, 16, 1262, 4);
  if (dated) {
    PutBe(d, 38, 7, 2);
    PutBe(d, 40, 9, 2);
    PutBe(d, 42, 2024, 2);
  }
  memcpy(&d[50], "\x01\x02\x03\x04", 4);
  memcpy(&d[54], "A12345", 6);
  PutBe(d, 74, 61, 2);
  PutBe(d, 77, 1500, 4);
  PutBe(d, 126, 60, 2);
  return d;
}

class BrennaMaintenance : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("LOG_MODE");
    Start("");
  }
  void TearDown() override {
    devwatch_test::Unload(m_d);
    unsetenv("LOG_MODE");
  }
  // The device with the read data above (the state kept from an earlier
  // start), and `lines` after it.
  void Start(const std::string& lines, bool dated = true) {
    devwatch_test::Unload(m_d);
    m_bench.Config("usb 0x2d4e 0x1401\n");
    const Bytes data = ReadData(dated);
    dravn_test::WriteFile(m_bench.Dir() + "/readdata", std::string(data.begin(), data.end()));
    // A scenario that differs from the last one makes a new device, as a
    // new process would meet it: only its state file is kept.
    m_bench.Scenario("# start " + std::to_string(++m_iStarts) + "\ndevice brenna 2d4e:1401 bus=1 address=4\nset state=" + m_bench.Dir() +
                     "/memory\nset readdata=" + m_bench.Dir() + "/readdata\nset record=45315a0b0c0d0e0f1011121314151617\n" +
                     lines);
    m_d = devwatch_test::Load();
    ASSERT_NE(m_d.handle, nullptr);
    devwatch_test::BindMaintenance(m_d.handle, e);
    m_bench.ClearTranscript();
  }
  // Command blocks that went out since the last look: the opcode, with the
  // data type of reads and sends.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    std::istringstream in(m_bench.TakeTranscript());
    for (std::string line; std::getline(in, line);) {
      if (line.find(" control out ") == std::string::npos || line.find("-> 12 ") == std::string::npos) continue;
      const std::string hex = line.substr(line.rfind(' ') + 1);
      const std::string op = hex.substr(0, 2);
      out.push_back(op == "a8" || op == "aa" ? op + ":" + hex.substr(6, 4) : op);
    }
    return out;
  }
  int SendText(const Bytes& request) {
    return e.SendDiagnostic(kBrenna, request.data(), static_cast<unsigned short>(request.size()));
  }
  Bench m_bench;
  devwatch_test::Dvwc m_d;
  devwatch_test::MaintenanceEntries e;
  int m_iStarts = 0;
};

Bytes Text(const char* text, size_t size = 16) {
  Bytes b(size, 0);
  memcpy(b.data(), text, 16);
  return b;
}

TEST_F(BrennaMaintenance, ImageFromReadDataAndErrorRecord) {
  unsigned char image[512];
  memset(image, 0xEE, sizeof image);
  ASSERT_EQ(e.GetEEPROM(kBrenna, image, sizeof image), 1);
  struct {
    int at;
    Bytes bytes;
  } fields[] = {
      {38, {23}},           {39, {26}},           {41, {0x14, 0x03}},      {44, {2, 0}},     {46, {2, 0}},
      {60, {3, 0}},         {64, {60}},           {96, {24, 7, 9}},        {100, {0x0F, 0x72, 0x79}},
      {124, {5, 0}},        {280, {4}},           {284, {1, 2, 3, 4}},     {294, {4}},       {295, {2}},
      {352, {0x5A}},        {353, {0}},           {511, {0}},
  };
  for (const auto& f : fields)
    EXPECT_EQ(Bytes(image + f.at, image + f.at + f.bytes.size()), f.bytes) << "image byte " << f.at;
  EXPECT_EQ(Sent(), (std::vector<std::string>{"a8:0069", "a8:0069", "a8:ffe0"}));
  // The second read comes from the cache.
  ASSERT_EQ(e.GetEEPROM(kBrenna, image, sizeof image), 1);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(BrennaMaintenance, WriteReachesTheSendsAndOutlivesTheProcess) {
  unsigned char image[512];
  ASSERT_EQ(e.GetEEPROM(kBrenna, image, sizeof image), 1);
  Sent();
  image[64] = 0x80 + 2;  // 10 minutes
  image[280] = 0x80;     // off
  image[60] = image[61] = 0;
  image[124] = image[125] = 0;
  image[352] = 0x77;
  const Bytes before(image, image + sizeof image);
  ASSERT_EQ(e.WriteEEPROM(kBrenna, image, sizeof image, 0), 1);
  EXPECT_EQ(Bytes(image, image + sizeof image), before);
  EXPECT_EQ(Sent(), (std::vector<std::string>{"aa:0105", "aa:0106", "a8:0069", "a8:0069", "aa:0104", "aa:0103",
                                              "a8:ffe0", "aa:ffe0"}));
  // The write dropped the cache, and the device keeps what it was sent.
  Start("");
  memset(image, 0xEE, sizeof image);
  ASSERT_EQ(e.GetEEPROM(kBrenna, image, sizeof image), 1);
  EXPECT_EQ(image[64], 0x82);
  EXPECT_EQ(image[280], 0x80);
  EXPECT_EQ(Bytes(image + 60, image + 62), (Bytes{0, 0}));
  EXPECT_EQ(Bytes(image + 124, image + 126), (Bytes{0, 0}));
  EXPECT_EQ(image[352], 0x77);
  EXPECT_EQ(image[46], 2);  // the totals stay
  // The record went back with its letters.
  ASSERT_EQ(SendText(Text("ERROR LOG       ", 17)), 1);
  unsigned char entry[16];
  ASSERT_EQ(e.ReceiveDiagnosticResult(kBrenna, entry, sizeof entry), 1);
  EXPECT_EQ(entry[1], 16);
  EXPECT_EQ(Bytes(entry + 9, entry + 11), (Bytes{'E', '1'}));
}

// Values the device cannot take stop the write before anything is sent.
TEST_F(BrennaMaintenance, OutOfRangeTimersAreRefused) {
  struct {
    int at;
    unsigned char code;
    size_t sends;
  } cases[] = {{64, 0x80 + 97, 0}, {280, 40, 1}};
  for (const auto& c : cases) {
    Bytes image(512, 0);
    image[64] = 0x82;
    image[280] = 4;
    image[c.at] = c.code;
    EXPECT_EQ(e.WriteEEPROM(kBrenna, image.data(), 512, 0), 0) << c.at;
    EXPECT_EQ(m_d.GetErrorInfo(), 8u);
    EXPECT_EQ(Sent().size(), c.sends) << c.at;
  }
}

TEST_F(BrennaMaintenance, FailedRecordReadSendsNoRecord) {
  Bytes image(512, 0);
  image[64] = 0x82;
  image[280] = 4;
  image[60] = 1;
  image[124] = 1;
  ASSERT_EQ(e.WriteEEPROM(kBrenna, image.data(), 512, 0), 1);
  // The transfer that brings the record in, failed on a second run.
  const std::string t = m_bench.TakeTranscript();
  std::istringstream in(t);
  std::string transfer;
  bool recordRead = false;
  for (std::string line; std::getline(in, line) && transfer.empty();) {
    const size_t block = line.find("-> 12 a8");
    if (block != std::string::npos) recordRead = line.substr(block + 12, 4) == "ffe0";
    if (recordRead && line.find("bulk in ep=0x81 len=16") != std::string::npos)
      transfer = line.substr(line.find('#') + 1, line.find(' ', line.find('#')) - line.find('#') - 1);
  }
  ASSERT_FALSE(transfer.empty()) << t;
  Start("fault transfer " + transfer + " timeout\n");
  EXPECT_EQ(e.WriteEEPROM(kBrenna, image.data(), 512, 0), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 8u);
  std::vector<std::string> sent = Sent();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "aa:ffe0"), 0) << t;
}

TEST_F(BrennaMaintenance, FirstReadDateOnlyWhenUnset) {
  Bytes request = Text("FIRST READ DATE ", 20);
  request[17] = 25, request[18] = 3, request[19] = 4;
  // Set on the device: nothing is sent.
  ASSERT_EQ(SendText(request), 1);
  EXPECT_EQ(Sent(), (std::vector<std::string>{"a8:0069", "a8:0069"}));
  // Set in the cached image: not even a read.
  unsigned char image[512];
  ASSERT_EQ(e.GetEEPROM(kBrenna, image, sizeof image), 1);
  Sent();
  ASSERT_EQ(SendText(request), 1);
  EXPECT_TRUE(Sent().empty());

  // Unset: the request's date goes in, and the next image shows it.
  unlink((m_bench.Dir() + "/memory").c_str());
  Start("", false);
  ASSERT_EQ(e.GetEEPROM(kBrenna, image, sizeof image), 1);
  EXPECT_EQ(Bytes(image + 96, image + 99), (Bytes{0x30, 0, 0}));
  Sent();
  ASSERT_EQ(SendText(request), 1);
  EXPECT_EQ(Sent(), std::vector<std::string>{"aa:0102"});
  ASSERT_EQ(e.GetEEPROM(kBrenna, image, sizeof image), 1);
  EXPECT_EQ(Bytes(image + 96, image + 99), (Bytes{25, 3, 4}));
  // A request too short to hold the date is refused.
  EXPECT_EQ(SendText(Text("FIRST READ DATE ", 19)), 0);
}

TEST_F(BrennaMaintenance, FirmwareInquiryAndOtherTexts) {
  unsigned char fw[8];
  ASSERT_EQ(e.GetFirmVersion(kBrenna, fw, sizeof fw), 1);
  EXPECT_EQ(Bytes(fw, fw + 8), (Bytes{'1', '.', '0', '2', 0xFF, 0xFF, 0xFF, 0xFF}));
  unsigned char standard[96];
  ASSERT_EQ(e.Inquiry(kBrenna, standard), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(standard + 8), 28), "MORANTI BrennaB700      1.02");
  unsigned char vpd[144];
  memset(vpd, 0xEE, sizeof vpd);
  ASSERT_EQ(e.InquiryVPD(kBrenna, vpd, sizeof vpd, 0), 1);
  EXPECT_EQ(Bytes(vpd, vpd + 2), (Bytes{0x06, 0xF0}));
  EXPECT_EQ(vpd[21] << 16 | vpd[22] << 8 | vpd[23], 0x1440);
  EXPECT_EQ(vpd[139], 0xEE);  // page 0xF0 goes out at 139 bytes
  // The firmware read the inquiry once; the inquiry once more, then cached.
  EXPECT_EQ(Sent(), (std::vector<std::string>{"e2", "e2", "e2", "e2"}));
  // A receive after a text the family does not know: 1, the buffer cleared.
  ASSERT_EQ(SendText(Text("SOMETHING ELSE  ")), 1);
  unsigned char reply[16];
  memset(reply, 0xEE, sizeof reply);
  ASSERT_EQ(e.ReceiveDiagnosticResult(kBrenna, reply, sizeof reply), 1);
  EXPECT_EQ(Bytes(reply, reply + 16), Bytes(16, 0));
  EXPECT_TRUE(Sent().empty());
}

// Lengths and offsets the device or the caller gives are held to the
// buffers they index.
TEST_F(BrennaMaintenance, LengthsBeyondWhatCameAreRefused) {
  // Version offset past the reply; a reply longer than 255 bytes.
  Bytes reply(40, 0);
  reply[13] = 38;  // 4 bytes at 38 run past the 40 that come
  dravn_test::WriteFile(m_bench.Dir() + "/short", std::string(reply.begin(), reply.end()));
  dravn_test::WriteFile(m_bench.Dir() + "/long", std::string(300, '\0'));
  for (const char* file : {"short", "long"}) {
    Start(std::string("set firmware=") + m_bench.Dir() + "/" + file + "\n");
    unsigned char fw[8];
    memset(fw, 0xEE, sizeof fw);
    EXPECT_EQ(e.GetFirmVersion(kBrenna, fw, sizeof fw), 0) << file;
    EXPECT_EQ(m_d.GetErrorInfo(), 8u) << file;
    EXPECT_EQ(Bytes(fw, fw + 8), Bytes(8, 0)) << file;
  }
  // A write record whose bytes 16-19 claim more than came with it.
  Sent();
  Bytes request = Text("DEBUG,E2T,WRT  W", 120);
  request[18] = 0x10;
  EXPECT_EQ(SendText(request), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  EXPECT_TRUE(Sent().empty());
}

// The family's log in the staged log directory, by LOG_MODE.
TEST_F(BrennaMaintenance, LogFollowsTheMode) {
  const std::string log = std::string(DRAVN_LOG_DIR) + "/Brenna.log";
  dravn_test::Run({"mkdir", "-p", DRAVN_LOG_DIR});
  unlink(log.c_str());
  unsigned char vpd[139];
  // Unset: nothing is written.
  ASSERT_EQ(e.InquiryVPD(kBrenna, vpd, sizeof vpd, 0), 1);
  EXPECT_NE(access(log.c_str(), F_OK), 0);

  // 4: a time-stamp line before each message.
  setenv("LOG_MODE", "4", 1);
  Start("");
  ASSERT_EQ(e.InquiryVPD(kBrenna, vpd, sizeof vpd, 0), 1);
  std::istringstream lines(dravn_test::ReadFile(log));
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].rfind("[Time:", 0), 0u) << got[0];
  EXPECT_EQ(got[1], "-In Inquiry-");
  EXPECT_EQ(got[2].rfind("[Time:", 0), 0u) << got[2];
  EXPECT_EQ(got[3], "-Out Inquiry-");

  // 2: the old log is removed when the library starts; no time stamps.
  setenv("LOG_MODE", "2", 1);
  Start("");
  EXPECT_NE(access(log.c_str(), F_OK), 0);
  ASSERT_EQ(e.InquiryVPD(kBrenna, vpd, sizeof vpd, 0), 1);
  EXPECT_EQ(dravn_test::ReadFile(log), "-In Inquiry-\n-Out Inquiry-\n");

  // A link planted under the log's name is not written through.
  const std::string target = m_bench.Dir() + "/target";
  dravn_test::WriteFile(target, "kept");
  unlink(log.c_str());
  ASSERT_EQ(symlink(target.c_str(), log.c_str()), 0);
  setenv("LOG_MODE", "1", 1);
  Start("");
  ASSERT_EQ(e.InquiryVPD(kBrenna, vpd, sizeof vpd, 0), 1);
  EXPECT_EQ(dravn_test::ReadFile(target), "kept");
  unlink(log.c_str());
}

}  // namespace
