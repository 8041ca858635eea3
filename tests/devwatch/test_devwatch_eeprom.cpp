// The EEPROM, flash and diagnostic entries of the staged libdevwatch, bound
// by name, against simulated scanners of the generic family: the request
// bytes of each model group, and what comes back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devwatch_test_util.h"
#include "model_groups.h"

namespace {

using devwatch_test::Bench;
using devwatch_test::Bind;
using devwatch_test::Count;
using devwatch_test::DataOut;
using devwatch_test::Hex;
using devwatch_test::HexText;
using Bytes = std::vector<unsigned char>;

struct Eeprom {
  int (*GetEEPROM)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*GetEEPROM_Element)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*WriteEEPROM)(const char*, const unsigned char*, unsigned short, unsigned short) = nullptr;
  int (*LockEEPROM)(const char*) = nullptr;
  int (*GetFLASHROMLength)(const char*, unsigned short*) = nullptr;
  int (*GetFLASHROM)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*GetDefaultEEPROM)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*SendDiagnostic)(const char*, const unsigned char*, unsigned short) = nullptr;
  int (*ReceiveDiagnosticResult)(const char*, unsigned char*, unsigned short) = nullptr;
  int (*ClearRemainInk)(const char*, const unsigned char*, unsigned short) = nullptr;
  int (*PrepareDiagnostic)(const char*) = nullptr;
  int (*CleanupDiagnostic)(const char*) = nullptr;
};

const std::string kTestUnitReady = "len=31 actual=31 -> 0 43" + std::string(60, '0') + "\n";

constexpr const char* kW = "DunmoD1200:001:002";       // group W, flash F6
constexpr const char* kRK = "DocuvaneRK50:001:003";   // the older RK series: group W, flash F6
constexpr const char* kN = "Tavrin4LA190:001:004";      // no readable EEPROM
constexpr const char* kF7 = "Tv5A100:001:005";          // group W, flash F7

class DvwcEeprom : public testing::Test {
 protected:
  void SetUp() override {
    m_bench.Config("usb 0x2d4e 0x1501\nusb 0x2d4e 0x1101\nusb 0x2d4e 0x1629\nusb 0x2d4e 0x1701\n");
  }
  void TearDown() override { devwatch_test::Unload(m_d); }
  void Load(const std::string& extra = "") {
    const std::string state = "set state=" + m_bench.Dir() + "/eep";
    m_bench.Scenario("device generic 2d4e:1501 bus=1 address=2\n" + state + "w\nset eeprom_byte=0:0x11,511:0x22\n" +
                     extra + "device generic 2d4e:1101 bus=1 address=3\n" + state + "o\n" +
                     "device generic 2d4e:1629 bus=1 address=4\ndevice generic 2d4e:1701 bus=1 address=5\n");
    m_d = devwatch_test::Load();
    ASSERT_NE(m_d.handle, nullptr);
    Bind(m_d.handle, e.GetEEPROM, "dvwc_GetEEPROM");
    Bind(m_d.handle, e.GetEEPROM_Element, "dvwc_GetEEPROM_Element");
    Bind(m_d.handle, e.WriteEEPROM, "dvwc_WriteEEPROM");
    Bind(m_d.handle, e.LockEEPROM, "dvwc_LockEEPROM");
    Bind(m_d.handle, e.GetFLASHROMLength, "dvwc_GetFLASHROMLength");
    Bind(m_d.handle, e.GetFLASHROM, "dvwc_GetFLASHROM");
    Bind(m_d.handle, e.GetDefaultEEPROM, "dvwc_GetDefaultEEPROM");
    Bind(m_d.handle, e.SendDiagnostic, "dvwc_SendDiagnostic");
    Bind(m_d.handle, e.ReceiveDiagnosticResult, "dvwc_ReceiveDiagnosticResult");
    Bind(m_d.handle, e.ClearRemainInk, "dvwc_ClearRemainInk");
    Bind(m_d.handle, e.PrepareDiagnostic, "dvwc_PrepareDiagnostic");
    Bind(m_d.handle, e.CleanupDiagnostic, "dvwc_CleanupDiagnostic");
    m_bench.ClearTranscript();
  }
  std::string Take() { return m_bench.TakeTranscript(); }
  Bench m_bench;
  devwatch_test::Dvwc m_d;
  Eeprom e;
};

Bytes Data(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i + 1);
  return b;
}

TEST_F(DvwcEeprom, WriteRecordsFollowTheModelGroup) {
  Load();
  const Bytes data = Data(100);
  struct Case {
    const char* device;
    unsigned offset, length;
    int result;
    unsigned code;
    std::string out;  // the one data phase (its first 64 bytes), "" for none
  } cases[] = {
      {kW, 0x40, 100, 1, 0, "120:" + HexText("DEBUG,E2T,WRT  W") + "00400064" + Hex(Bytes(data.begin(), data.begin() + 44))},
      // A model of neither group A nor W (group N's) writes one byte each...
      {kN, 0x40, 100, 1, 0, "118:" + HexText("DEBUG,E2T,WRT   ") + "4064" + Hex(Bytes(data.begin(), data.begin() + 46))},
      // ...which cannot carry these: refused, not cut.
      {kN, 359, 100, 0, 9, ""},
      {kN, 0, 384, 0, 9, ""},
      // The Docuvane line's 384-byte table goes out whole.
      {kRK, 0, 384, 1, 0, "404:" + HexText("DEBUG,E2T,WRT  W") + "00000180" + Hex(Bytes(data.begin(), data.begin() + 44))},
      {kW, 359, 100, 1, 0, "120:" + HexText("DEBUG,E2T,WRT  W") + "01670064" + Hex(Bytes(data.begin(), data.begin() + 44))},
      {kW, 0, 0, 0, 9, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.device) + " at " + std::to_string(c.offset) + " of " + std::to_string(c.length));
    Bytes buf = Data(c.length);
    EXPECT_EQ(e.WriteEEPROM(c.device, buf.data(), static_cast<unsigned short>(c.length),
                            static_cast<unsigned short>(c.offset)),
              c.result);
    EXPECT_EQ(m_d.GetErrorInfo(), c.code);
    std::string t = Take();
    std::vector<std::string> out = DataOut(t);
    if (c.out.empty()) {
      EXPECT_TRUE(out.empty()) << t;
    } else {
      ASSERT_EQ(out.size(), 1u) << t;
      EXPECT_EQ(out[0], c.out);
      EXPECT_EQ(Count(t, kTestUnitReady), 1u);
    }
  }
}

TEST_F(DvwcEeprom, GroupARecordCarriesOneByteFields) {
  std::vector<unsigned char> record;
  const Bytes data = Data(100);
  ASSERT_TRUE(devwatch::BuildWriteRecord(devwatch::EepromGroupOf("OldvanX9:001:002"), data.data(), 100, 0x40, &record));
  ASSERT_EQ(record.size(), 118u);
  EXPECT_EQ(std::string(record.begin(), record.begin() + 16), "DEBUG,H3T,WRT   ");
  EXPECT_EQ(record[16], 0x40);
  EXPECT_EQ(record[17], 100);
  EXPECT_EQ(Bytes(record.begin() + 18, record.end()), data);
  EXPECT_FALSE(devwatch::BuildWriteRecord(devwatch::EepromGroup::A, data.data(), 100, 300, &record));
  EXPECT_FALSE(devwatch::BuildWriteRecord(devwatch::EepromGroup::A, data.data(), 100, 420, &record));
  EXPECT_EQ(devwatch::EepromGroupOf("Selko2S420:001:002"), devwatch::EepromGroup::W);
  EXPECT_EQ(devwatch::EepromGroupOf("SelkoS150:001:002"), devwatch::EepromGroup::W);
  EXPECT_EQ(devwatch::EepromGroupOf("BrennaB700:001:002"), devwatch::EepromGroup::W);
  EXPECT_EQ(devwatch::EepromGroupOf("DocuvaneRK50:001:002"), devwatch::EepromGroup::W);
  EXPECT_EQ(devwatch::EepromGroupOf("Tavrin4LA190:001:002"), devwatch::EepromGroup::Other);
  // Case counts.
  EXPECT_EQ(devwatch::EepromGroupOf("dunmoD1200:001:002"), devwatch::EepromGroup::Other);
}

TEST_F(DvwcEeprom, WritesShowInTheWorkingImageAndReachTheStoredOneWhenLocked) {
  Load();
  unsigned char image[512];
  ASSERT_EQ(e.GetEEPROM(kW, image, sizeof image), 1);
  EXPECT_EQ(image[0], 0x11);
  EXPECT_EQ(image[511], 0x22);
  std::string t = Take();
  ASSERT_EQ(DataOut(t), std::vector<std::string>{"16:" + HexText("DEBUG,E2T,RED  W")});
  EXPECT_EQ(Count(t, kTestUnitReady), 1u);

  const Bytes data = {0xA1, 0xA2, 0xA3};
  ASSERT_EQ(e.WriteEEPROM(kW, data.data(), 3, 10), 1);
  ASSERT_EQ(e.GetEEPROM(kW, image, sizeof image), 1);
  EXPECT_EQ(Bytes(image + 10, image + 13), data);
  Take();
  // The element read sees the stored image, after two TEST UNIT READY.
  ASSERT_EQ(e.GetEEPROM_Element(kW, image, sizeof image), 1);
  EXPECT_EQ(image[10], 0);
  t = Take();
  EXPECT_EQ(DataOut(t), std::vector<std::string>{"16:" + HexText("DEBUG,E2P,RED  W")});
  EXPECT_EQ(Count(t, kTestUnitReady), 2u);

  ASSERT_EQ(e.LockEEPROM(kW), 1);
  EXPECT_EQ(DataOut(Take()), std::vector<std::string>{"16:" + HexText("DEBUG,E2P,WRT   ")});
  ASSERT_EQ(e.GetEEPROM_Element(kW, image, sizeof image), 1);
  EXPECT_EQ(Bytes(image + 10, image + 13), data);

  // The Docuvane line, of the older RK series, takes group W's texts (its
  // scanners answer no other read); group N locks without a command.
  Take();
  ASSERT_EQ(e.GetEEPROM(kRK, image, sizeof image), 1);
  ASSERT_EQ(e.GetEEPROM_Element(kRK, image, sizeof image), 1);
  ASSERT_EQ(e.LockEEPROM(kRK), 1);
  ASSERT_EQ(e.LockEEPROM(kN), 1);
  t = Take();
  EXPECT_EQ(DataOut(t), (std::vector<std::string>{"16:" + HexText("DEBUG,E2T,RED  W"), "16:" + HexText("DEBUG,E2P,RED  W"),
                                                  "16:" + HexText("DEBUG,E2P,WRT   ")}));
  // Every call closed the device it opened.
  EXPECT_EQ(Count(t, " open -> 0"), Count(t, " close\n"));
}

TEST_F(DvwcEeprom, SmallBuffersAndUnreadableModels) {
  Load();
  // Fewer than 16 bytes: exactly those reach the caller.
  unsigned char small[8];
  memset(small, 0xEE, sizeof small);
  ASSERT_EQ(e.GetEEPROM(kW, small, 4), 1);
  EXPECT_EQ(small[0], 0x11);
  EXPECT_EQ(small[4], 0xEE);
  Take();
  // Group N: no exchange, zeros.
  memset(small, 0xEE, sizeof small);
  EXPECT_EQ(e.GetEEPROM(kN, small, sizeof small), 1);
  EXPECT_EQ(Bytes(small, small + 8), Bytes(8, 0));
  memset(small, 0xEE, sizeof small);
  EXPECT_EQ(e.GetEEPROM_Element(kN, small, sizeof small), 1);
  EXPECT_EQ(Bytes(small, small + 8), Bytes(8, 0));
  EXPECT_TRUE(DataOut(Take()).empty());
}

TEST_F(DvwcEeprom, FlashByGroup) {
  Load();
  unsigned short length = 0;
  ASSERT_EQ(e.GetFLASHROMLength(kW, &length), 1);
  // Two bytes stored as they arrive: 01 00 for 256.
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(&length);
  EXPECT_EQ(raw[0], 0x01);
  EXPECT_EQ(raw[1], 0x00);
  EXPECT_EQ(DataOut(Take()), std::vector<std::string>{"17:" + HexText("TEST LENGTH     ") + "15"});

  unsigned char flash[256] = {};
  ASSERT_EQ(e.GetFLASHROM(kW, flash, sizeof flash), 1);
  EXPECT_EQ(flash[0], 0xA5);
  EXPECT_EQ(DataOut(Take()), std::vector<std::string>{"17:" + HexText("TESTMODE       Z") + "1b"});
  ASSERT_EQ(e.GetFLASHROM(kF7, flash, sizeof flash), 1);
  EXPECT_EQ(DataOut(Take()), std::vector<std::string>{"17:" + HexText("TESTMODE        ") + "15"});
  ASSERT_EQ(e.GetFLASHROM(kRK, flash, sizeof flash), 1);
  EXPECT_EQ(DataOut(Take()), std::vector<std::string>{"17:" + HexText("TESTMODE       Z") + "1b"});
  memset(flash, 0x5A, sizeof flash);
  ASSERT_EQ(e.GetFLASHROM(kN, flash, sizeof flash), 1);
  EXPECT_EQ(flash[0], 0x5A);
  std::string t = Take();
  EXPECT_TRUE(DataOut(t).empty());
  EXPECT_EQ(Count(t, " open -> 0"), Count(t, " close\n"));
}

TEST_F(DvwcEeprom, RefusalsAndStaleCodes) {
  Load("set refuse=DEBUG,E2T,RED  W\n");
  unsigned char image[512];
  memset(image, 0x77, sizeof image);
  EXPECT_EQ(e.GetEEPROM(kW, image, sizeof image), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 8u);
  EXPECT_EQ(image[0], 0x77);  // nothing copied after a failure

  // A code left by an earlier call does not fail the next one.
  EXPECT_EQ(e.GetEEPROM(kW, nullptr, 16), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  EXPECT_EQ(e.GetDefaultEEPROM(kW, image, sizeof image), 1);
  EXPECT_EQ(m_d.GetErrorInfo(), 0u);
  EXPECT_EQ(image[511], 0x22);
  unsigned short length = 0;
  EXPECT_EQ(e.GetEEPROM(nullptr, image, 16), 0);
  EXPECT_EQ(e.GetFLASHROMLength(kW, &length), 1);
  EXPECT_EQ(e.GetEEPROM(nullptr, image, 16), 0);
  EXPECT_EQ(e.PrepareDiagnostic(kW), 1);
  EXPECT_EQ(e.CleanupDiagnostic(kW), 1);
  // The end of a bracket that never began is refused.
  EXPECT_EQ(e.CleanupDiagnostic(kW), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 8u);
  EXPECT_EQ(e.PrepareDiagnostic(nullptr), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  EXPECT_EQ(e.PrepareDiagnostic("DunmoD1200:009:009"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 1u);
}

TEST_F(DvwcEeprom, CallersBytesAsTheyAre) {
  Load();
  const std::string text = "GET SOP DEFAULT ";
  Bytes req(text.begin(), text.end());
  ASSERT_EQ(e.SendDiagnostic(kW, req.data(), static_cast<unsigned short>(req.size())), 1);
  unsigned char reply[512] = {};
  ASSERT_EQ(e.ReceiveDiagnosticResult(kW, reply, sizeof reply), 1);
  EXPECT_EQ(reply[0], 0x11);
  std::string t = Take();
  EXPECT_EQ(DataOut(t), std::vector<std::string>{"16:" + HexText(text)});
  EXPECT_EQ(Count(t, kTestUnitReady), 2u);
  // Without TEST UNIT READY; the simulated device does not know the text.
  const std::string ink = "CLEAR INK       ";
  Bytes inkReq(ink.begin(), ink.end());
  EXPECT_EQ(e.ClearRemainInk(kW, inkReq.data(), 16), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 8u);
  t = Take();
  EXPECT_EQ(Count(t, kTestUnitReady), 0u);
  EXPECT_EQ(DataOut(t), std::vector<std::string>{"16:" + HexText(ink)});
}

}  // namespace
