// The maintenance back-ends of the second backend's families, through the
// staged libdevwatch bound by name, against simulated scanners: the EEPROM
// image each family builds, the writes that reach its timers and memory,
// and the firmware version; and the image codes on their own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devwatch_test_util.h"
#include "maintenance_image.h"

namespace {

using devwatch_test::Bench;
using devwatch_test::Bind;
using devwatch_test::Count;
using Bytes = std::vector<unsigned char>;

TEST(MaintenanceImage, Codes) {
  struct {
    uint32_t minutes;
    unsigned char sleep, brennaSleep;
  } sleeps[] = {{25, 0x85, 0x85}, {23, 23, 23}, {0, 0x83, 0x83}, {600, 0xE0, 0xE0}, {61, 61, 60}, {480, 0x80 + 96, 0x80 + 96}};
  for (const auto& c : sleeps) {
    EXPECT_EQ(devwatch::SleepCode(c.minutes), c.sleep) << c.minutes;
    EXPECT_EQ(devwatch::SleepCode(c.minutes, true), c.brennaSleep) << c.minutes;
  }
  EXPECT_EQ(devwatch::AutoOffCode(0), 0x80);
  EXPECT_EQ(devwatch::AutoOffCode(600), 0x20);
  EXPECT_EQ(devwatch::AutoOffCode(60), 4);
  const unsigned char serial[6] = {'A', '1', '2', '3', '4', '5'};
  EXPECT_EQ(devwatch::SerialNumber(serial), 1012345u & 0xFFFFFF);
  devwatch::MaintenanceFields f;
  f.total = 5;
  memcpy(f.serial, serial, 6);
  unsigned char image[512];
  devwatch::FillMaintenanceImage(f, image);
  EXPECT_EQ(image[46], 0);
  EXPECT_EQ(image[38], 0);
  EXPECT_EQ(image[294], 5);
  EXPECT_EQ(Bytes(image + 100, image + 103), (Bytes{0x0F, 0x72, 0x79}));
}

using Entries = devwatch_test::MaintenanceEntries;

constexpr const char* kSelko2 = "Selko2S420:001:006";

class Selko2Maintenance : public testing::Test {
 protected:
  void SetUp() override { Start(""); }
  // The device with its NVRAM as below, and `faults` after its lines.
  void Start(const std::string& faults) {
    devwatch_test::Unload(m_d);
    m_bench.Config("usb 0x2d4e 0x1301\n");
    // NVRAM: total 1234, counter 1500, bytes 25-28, serial A12345, date.
    std::string state(288 + 40, '\0');
    auto le32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) state[at + i] = static_cast<char>(v >> (8 * i));
    };
    le32(0, 1234);
    le32(68, 1500);
    memcpy(&state[25], "\x01\x02\x03\x04", 4);
    memcpy(&state[29], "A12345", 6);
    state[16] = 7;   // month
    state[17] = 9;   // day
    state[18] = 24;  // year
    dravn_test::WriteFile(m_bench.Dir() + "/nvram", state);
    m_bench.Scenario("device selko2 2d4e:1301 bus=1 address=6\nset state=" + m_bench.Dir() +
                     "/nvram\nset sleep_min=25\nset autooff_min=60\nset firmware=3,12\n" + faults);
    m_d = devwatch_test::Load();
    ASSERT_NE(m_d.handle, nullptr);
    devwatch_test::BindMaintenance(m_d.handle, e);
    m_bench.ClearTranscript();
  }
  void TearDown() override { devwatch_test::Unload(m_d); }
  Bench m_bench;
  devwatch_test::Dvwc m_d;
  Entries e;
};

// The transcript of a Selko2 command block with this opcode and sub-code.
std::string Block(unsigned opcode, unsigned sub) {
  return "len=16 actual=16 -> 0 30020000" + devwatch_test::Hex({static_cast<unsigned char>(opcode), 0,
                                                                 static_cast<unsigned char>(sub)});
}

// The fields both Selko families fill from the same data: totals making
// 2 x 500 + 23 x 10 + the units, counter 1500, sleep 25 and auto-off 60
// minutes, date 24-07-09, serial A12345, word 01 02 03 04.
void ExpectImage(const unsigned char* image, unsigned char units) {
  EXPECT_EQ(image[38], 23);
  EXPECT_EQ(image[41], 0x0A);
  EXPECT_EQ(image[46], 2);
  EXPECT_EQ(image[47], 0);
  EXPECT_EQ(image[294], units);
  EXPECT_EQ(image[60], 3);
  EXPECT_EQ(image[64], 0x85);
  EXPECT_EQ(image[280], 4);
  EXPECT_EQ(Bytes(image + 96, image + 99), (Bytes{24, 7, 9}));
  EXPECT_EQ(Bytes(image + 100, image + 103), (Bytes{0x0F, 0x72, 0x79}));
  EXPECT_EQ(Bytes(image + 284, image + 288), (Bytes{1, 2, 3, 4}));
}

TEST_F(Selko2Maintenance, ImageFromNvramAndTimers) {
  unsigned char image[512];
  ASSERT_EQ(e.GetEEPROM(kSelko2, image, sizeof image), 1);
  ExpectImage(image, 4);
  // The second read comes from the cache.
  std::string t = m_bench.TakeTranscript();
  EXPECT_EQ(Count(t, Block(0x28, 0x10)), 1u) << t;
  ASSERT_EQ(e.GetEEPROM(kSelko2, image, sizeof image), 1);
  EXPECT_EQ(Count(m_bench.TakeTranscript(), Block(0x28, 0x10)), 0u);
}

TEST_F(Selko2Maintenance, WriteReachesTimersAndNvram) {
  unsigned char image[512];
  ASSERT_EQ(e.GetEEPROM(kSelko2, image, sizeof image), 1);
  image[64] = 0x80 + 2;  // 10 minutes
  image[280] = 0x80;     // off
  image[60] = image[61] = 0;
  ASSERT_EQ(e.WriteEEPROM(kSelko2, image, sizeof image, 0), 1);
  std::string t = m_bench.TakeTranscript();
  EXPECT_EQ(Count(t, Block(0x2A, 0x14)), 2u) << t;
  EXPECT_EQ(Count(t, Block(0x2A, 0x10)), 1u) << t;
  // The write dropped the cache: a fresh image shows the new values.
  memset(image, 0xEE, sizeof image);
  ASSERT_EQ(e.GetEEPROM(kSelko2, image, sizeof image), 1);
  EXPECT_EQ(image[64], 0x82);
  EXPECT_EQ(image[280], 0x80);
  EXPECT_EQ(image[60], 0);
  EXPECT_EQ(image[46], 2);  // the total stays
}

TEST_F(Selko2Maintenance, FirmwareAndOtherTexts) {
  unsigned char fw[8];
  ASSERT_EQ(e.GetFirmVersion(kSelko2, fw, sizeof fw), 1);
  EXPECT_EQ(std::string(fw, fw + 4), "1203");
  EXPECT_EQ(Bytes(fw + 4, fw + 8), Bytes(4, 0xFF));
  // A receive after a text the family does not know: 1, the buffer cleared.
  const std::string text = "SOMETHING ELSE  ";
  ASSERT_EQ(e.SendDiagnostic(kSelko2, reinterpret_cast<const unsigned char*>(text.data()), 16), 1);
  unsigned char reply[16];
  memset(reply, 0xEE, sizeof reply);
  ASSERT_EQ(e.ReceiveDiagnosticResult(kSelko2, reply, sizeof reply), 1);
  EXPECT_EQ(Bytes(reply, reply + 16), Bytes(16, 0));
}

TEST_F(Selko2Maintenance, FailedNvramReadStopsTheWrite) {
  unsigned char image[512] = {};
  image[64] = 0x82;
  ASSERT_EQ(e.WriteEEPROM(kSelko2, image, sizeof image, 0), 1);
  // The transfer that brings the NVRAM in, failed on a second run.
  std::string t = m_bench.TakeTranscript();
  size_t at = t.find("bulk in ep=0x81 len=288");
  ASSERT_NE(at, std::string::npos) << t;
  size_t hash = t.rfind('#', at);
  std::string k = t.substr(hash + 1, t.find(' ', hash) - hash - 1);
  Start("fault transfer " + k + " timeout\n");
  EXPECT_EQ(e.WriteEEPROM(kSelko2, image, sizeof image, 0), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 8u);
  EXPECT_EQ(Count(m_bench.TakeTranscript(), Block(0x2A, 0x10)), 0u);
}

TEST_F(Selko2Maintenance, WriteLengthBeyondTheRequestIsRefused) {
  // A request whose bytes 16-19 claim more than came with it.
  std::string request = "DEBUG,E2T,WRT  W";
  request += std::string("\x00\x00\x10\x00", 4) + std::string(100, '\0');
  EXPECT_EQ(e.SendDiagnostic(kSelko2, reinterpret_cast<const unsigned char*>(request.data()),
                             static_cast<unsigned short>(request.size())),
            0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);  // the caller's request is at fault
  EXPECT_EQ(Count(m_bench.TakeTranscript(), Block(0x2A, 0x10)), 0u);
}

}  // namespace

// --- Selko ------------------------------------------------------------------

constexpr const char* kSelko = "SelkoS150:001:005";
// Totals 1234 and 5, sleep 25 and auto-off 60 minutes, parameter 168 (word,
// serial A12345), first-read date 24-07-09, counter 1500.
const std::string kSelkoParams =
    "0:d2040000,4:05000000,60:19000000,64:3c000000,168:01020304413132333435000000000000,256:18070900,260:dc050000";

class SelkoMaintenance : public testing::Test {
 protected:
  void SetUp() override { Start("set param=" + kSelkoParams + "\nset firmware=0x12,0x3a\n"); }
  void Start(const std::string& lines) {
    devwatch_test::Unload(m_d);
    m_bench.Config("usb 0x2d4e 0x1201\n");
    m_bench.Scenario("device selko 2d4e:1201 bus=1 address=5\n" + lines);
    m_d = devwatch_test::Load();
    ASSERT_NE(m_d.handle, nullptr);
    devwatch_test::BindMaintenance(m_d.handle, e);
    Bind(m_d.handle, errorInfo, "dvwc_GetErrorInfo");
    m_bench.ClearTranscript();
  }
  void TearDown() override { devwatch_test::Unload(m_d); }
  Bench m_bench;
  devwatch_test::Dvwc m_d;
  Entries e;
  int (*errorInfo)() = nullptr;
};

// The handshake and the terminate command as the transcript shows them.
const std::string kHandshake = "len=2 actual=2 -> 0 9717";
const std::string kTerminate = "len=8 actual=8 -> 0 82141d0000000000";

TEST_F(SelkoMaintenance, ImageFromParametersInOneConnection) {
  unsigned char image[512];
  memset(image, 0xEE, sizeof image);
  ASSERT_EQ(e.GetEEPROM(kSelko, image, sizeof image), 1);
  ExpectImage(image, 9);
  EXPECT_EQ(image[39], 0);
  EXPECT_EQ(image[511], 0);
  const std::string t = m_bench.TakeTranscript();
  EXPECT_EQ(Count(t, kHandshake), 1u) << t;
  EXPECT_EQ(Count(t, "len=8 actual=8 -> 0 8228120004000000"), 7u) << t;
  EXPECT_EQ(Count(t, kTerminate), 1u) << t;
}

TEST_F(SelkoMaintenance, WriteReachesParametersAndKeepsTheCallersImage) {
  unsigned char image[512];
  ASSERT_EQ(e.GetEEPROM(kSelko, image, sizeof image), 1);
  image[64] = 0x80 + 2;  // 10 minutes
  image[280] = 0x80;     // off
  image[60] = image[61] = 0;
  ASSERT_EQ(e.WriteEEPROM(kSelko, image, sizeof image, 0), 1);
  EXPECT_EQ(image[64], 0x82);
  memset(image, 0xEE, sizeof image);
  ASSERT_EQ(e.GetEEPROM(kSelko, image, sizeof image), 1);
  EXPECT_EQ(image[64], 0x82);
  EXPECT_EQ(image[280], 0x80);
  EXPECT_EQ(image[60], 0);
  EXPECT_EQ(image[46], 2);  // the totals stay
}

TEST_F(SelkoMaintenance, FirmwareVersion) {
  unsigned char fw[8];
  ASSERT_EQ(e.GetFirmVersion(kSelko, fw, sizeof fw), 1);
  EXPECT_EQ(Bytes(fw, fw + 8), (Bytes{'1', '2', '3', 'a', 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SelkoMaintenance, FirstReadDateOnlyWhenUnset) {
  auto request = [](unsigned char day) {
    Bytes r(21, 0);
    memcpy(r.data(), "FIRST READ DATE ", 16);
    r[17] = 0x19, r[18] = 3, r[19] = day;
    return r;
  };
  // Set: the request leaves it.
  Bytes r = request(4);
  ASSERT_EQ(e.SendDiagnostic(kSelko, r.data(), static_cast<unsigned short>(r.size())), 1);
  unsigned char image[512];
  ASSERT_EQ(e.GetEEPROM(kSelko, image, sizeof image), 1);
  EXPECT_EQ(Bytes(image + 96, image + 99), (Bytes{0x18, 7, 9}));
  // Unset (day 0): the request's date goes in.
  Start("set param=" + kSelkoParams.substr(0, kSelkoParams.find("256:")) + "256:18070000,260:dc050000\n");
  ASSERT_EQ(e.SendDiagnostic(kSelko, r.data(), static_cast<unsigned short>(r.size())), 1);
  ASSERT_EQ(e.GetEEPROM(kSelko, image, sizeof image), 1);
  EXPECT_EQ(Bytes(image + 96, image + 99), (Bytes{0x19, 3, 4}));
}

TEST_F(SelkoMaintenance, VpdInsideOneConnection) {
  unsigned char vpd[139];
  ASSERT_EQ(e.InquiryVPD(kSelko, vpd, sizeof vpd, 0), 1);
  EXPECT_EQ(vpd[1], 0xF0);
  const std::string t = m_bench.TakeTranscript();
  EXPECT_EQ(Count(t, kHandshake), 1u) << t;
  EXPECT_EQ(Count(t, kTerminate), 1u) << t;
}
