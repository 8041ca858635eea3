// The available-function record per model: the launcher configuration, the
// fixed values and the device's answers, with the device faked.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "function_arbitration.h"
#include "test_support.h"

namespace {

using dravn_test::MakeTempDir;
using dravn_test::WriteFile;

struct FakeDevice {
  int vpdCalls = 0, firmwareCalls = 0;
  int vpdResult = 1;
  unsigned char vpd[256] = {};
  int firmwareResult = 1;
  std::string firmware = "0C30";
  std::string lastDevice;
} g_fake;

int FakeInquiryVPD(const char* device, unsigned char* buffer, unsigned short length, int isOpen) {
  ++g_fake.vpdCalls;
  g_fake.lastDevice = device ? device : "";
  EXPECT_EQ(isOpen, 0);
  if (g_fake.vpdResult == 1) std::memcpy(buffer, g_fake.vpd, length);
  return g_fake.vpdResult;
}

int FakeGetFirmVersion(const char* device, unsigned char* buffer, unsigned short length) {
  ++g_fake.firmwareCalls;
  g_fake.lastDevice = device ? device : "";
  EXPECT_EQ(length, 16);
  if (g_fake.firmwareResult) {
    std::memset(buffer, 0xFF, length);
    std::memcpy(buffer, g_fake.firmware.data(), std::min<size_t>(g_fake.firmware.size(), length));
  }
  return g_fake.firmwareResult;
}

class Arbitration : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = FakeDevice{};
    g_dvwc_InquiryVPD = FakeInquiryVPD;
    g_dvwc_GetFirmVersion = FakeGetFirmVersion;
    std::memset(g_Tavrin3FirmVer, 0, sizeof g_Tavrin3FirmVer);
    std::memset(g_DunmoMe2FirmVer, 0, sizeof g_DunmoMe2FirmVer);
    m_dir = MakeTempDir("arbitration");
    g_szLauncherConf = nullptr;  // no file: every key takes its default
  }

  std::set<int> Available(const std::string& model) {
    m_model = model;
    m_device = model + ":001:002";
    g_cpActiveScannerName = m_model.data();
    g_cpActiveScanner = m_device.data();
    CDevSet2Builder record;
    std::memset(&record, 0x5A, sizeof record);  // every flag must be written
    GetAvailableFunction(&record);
    std::set<int> on;
    for (int i = 0; i < 80; ++i) {
      EXPECT_TRUE(record.flag[i] == 0 || record.flag[i] == 1) << model << " position " << i + 1;
      if (record.flag[i]) on.insert(i + 1);
    }
    return on;
  }

  std::string m_dir, m_model, m_device;
};

std::set<int> Join(std::initializer_list<std::set<int>> parts) {
  std::set<int> all;
  for (const auto& p : parts) all.insert(p.begin(), p.end());
  return all;
}

// The base key set with its DELFRAME_FB (3) as the model's flatbed gives it.
std::set<int> Base(bool flatbed) {
  std::set<int> base{1, 2, 9, 10, 14, 17, 19, 22, 23, 24};
  if (flatbed) base.insert(3);
  return base;
}

// The large key set with every key at its default.
const std::set<int> kLarge = {1,  2,  9,  10, 13, 14, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                              27, 32, 33, 37, 39, 40, 43, 44, 45, 46, 51, 52, 53, 54, 55, 56};

std::set<int> Minus(std::set<int> s, std::initializer_list<int> drop) {
  for (int d : drop) s.erase(d);
  return s;
}

// Every profile with no configuration file and a device whose answers change
// nothing (firmware "0C30"/"0D10" are at the thresholds, VPD bits clear).
TEST_F(Arbitration, EveryProfileWithDefaults) {
  g_fake.firmware = "0D10";
  struct Case {
    const char* model;
    std::set<int> on;
    int vpdCalls, firmwareCalls;
  } cases[] = {
      {"DunmoD1200", {1, 2, 3, 4, 5, 6, 7, 9, 10, 12}, 0, 0},
      {"DunmoD1600", {1, 2, 3, 4, 5, 6, 7, 9, 10, 12}, 0, 0},
      {"Vantor410", kLarge, 1, 0},
      {"vantor410", kLarge, 1, 0},
      {"Vantor520", Join({Minus(kLarge, {37}), {69, 70, 71, 72}}), 1, 0},
      {"Pilvo700", Join({Minus(kLarge, {18, 32, 33, 39, 54, 55, 56}), {34, 49, 64, 66, 71}}), 1, 0},
      {"pilvo700", Join({Minus(kLarge, {18, 32, 33, 39, 54, 55, 56}), {34, 49, 64, 66, 71}}), 1, 0},
      {"Tavrin4T1000", Join({Base(true), {37, 34, 47, 48, 49}}), 0, 0},
      {"Tavrin4T4000", Join({Base(false), {37, 34, 47, 48, 49, 74}}), 0, 0},
      {"Tavrin4LA110", {1, 2, 3, 9, 10, 14, 17, 19, 22, 23, 24, 34, 37, 47, 48, 49, 75}, 0, 0},
      {"Tavrin4LA200", {1, 2, 9, 10, 14, 17, 19, 22, 23, 24, 34, 37, 47, 48, 49, 75}, 0, 0},
      {"Tavrin3T1000", Join({Base(true), {37, 34, 47, 48, 49}}), 0, 1},
      {"Tavrin3T2000", Join({Base(false), {37, 34, 47, 48, 49}}), 0, 1},
      {"Tavrin3T3000", Join({Base(true), {47, 48}}), 0, 1},
      {"Tavrin3T6000", Join({Base(false), {47, 48}}), 0, 1},
      {"DunmoMe2M30", {1, 2, 3, 9, 10, 14, 17, 22, 23, 24, 37, 52, 58, 19, 47, 48, 57, 71}, 0, 1},
      {"dunmoMe2M40", {1, 2, 9, 10, 14, 17, 22, 23, 24, 37, 52, 58, 19, 47, 48, 57, 71}, 0, 1},
      {"Saldex800", Join({Minus(Base(false), {10}), {48}}), 0, 1},
      {"Tv5A100", Join({Base(false), {28, 29, 37, 52, 64, 66, 75, 35, 47, 48, 50}}), 1, 0},
      {"Tv5A400", Join({Base(false), {28, 29, 37, 52, 64, 66, 75, 35, 47, 48, 50, 74}}), 1, 0},
      {"Feyra2F90", {14, 48}, 0, 1},
      {"ZemblZ350", {48}, 0, 0},
      {"DocuvaneRK90", Join({Minus(Base(true), {17}), {75, 47, 48}}), 0, 0},
      {"Tv5E100", Join({Base(false), {28, 29, 37, 52, 66, 75, 34, 47, 48, 49}}), 1, 0},
      {"Tv5E550", Join({Base(true), {28, 29, 37, 52, 66, 75, 34, 47, 48, 49}}), 1, 0},
      {"GorlanG250", Join({Base(false), {28, 29, 37, 52, 64, 66, 75, 35, 48, 50, 71, 76, 78, 79}}), 0, 0},
      {"Sx3K700", Join({Minus(Base(false), {10}), {28, 29, 37, 52, 75, 47, 48, 76}}), 0, 0},
      {"BrennaB700", {76}, 0, 0},
  };
  for (const auto& c : cases) {
    g_fake.vpdCalls = g_fake.firmwareCalls = 0;
    EXPECT_EQ(Available(c.model), c.on) << c.model;
    EXPECT_EQ(g_fake.vpdCalls, c.vpdCalls) << c.model;
    EXPECT_EQ(g_fake.firmwareCalls, c.firmwareCalls) << c.model;
    if (c.vpdCalls + c.firmwareCalls) {
      EXPECT_EQ(g_fake.lastDevice, m_device) << c.model;
    }
  }
}

// Models of no profile, and a name in another letter case, keep a record of
// zeros and never touch the device.
TEST_F(Arbitration, ModelsOfNoProfile) {
  for (const char* model : {"Selko2S420", "SelkoS150", "VelmorakVK1000", "RuvikR220", "tavrin3T1000", "Tavrin3T100"}) {
    EXPECT_TRUE(Available(model).empty()) << model;
  }
  g_cpActiveScannerName = nullptr;
  CDevSet2Builder record;
  std::memset(&record, 1, sizeof record);
  GetAvailableFunction(&record);
  for (int flag : record.flag) EXPECT_EQ(flag, 0);
  EXPECT_EQ(g_fake.vpdCalls + g_fake.firmwareCalls, 0);
  EXPECT_EQ(g_Tavrin3FirmVer[0], '\0');
}

TEST_F(Arbitration, VitalProductDataRulesAtTheirBits) {
  struct Case {
    const char* model;
    int byte;
    unsigned char value;
    int vpdResult;
    int position;
    bool on;
  } cases[] = {
      {"Vantor410", 109, 0x01, 1, 39, false},  // rule A: bit 0 turns the bus width off
      {"Vantor410", 109, 0xFE, 1, 39, true},
      {"Vantor410", 109, 0x01, 0, 39, true},  // failed inquiry keeps the profile's value
      {"Pilvo700", 114, 0x80, 1, 73, true},   // rule B: bit 7 is the flag
      {"Pilvo700", 114, 0x7F, 1, 73, false},
      {"Pilvo700", 114, 0x80, 0, 73, false},
      {"Tv5A200", 116, 0x08, 1, 76, true},  // rule C: bit 3 or 4
      {"Tv5E300", 116, 0x10, 1, 76, true},
      {"Tv5E300", 116, 0xE7, 1, 76, false},
  };
  for (const auto& c : cases) {
    std::memset(g_fake.vpd, 0, sizeof g_fake.vpd);
    g_fake.vpd[c.byte] = c.value;
    g_fake.vpdResult = c.vpdResult;
    EXPECT_EQ(Available(c.model).count(c.position), c.on ? 1u : 0u) << c.model << " byte " << c.byte;
  }
}

TEST_F(Arbitration, FirmwareThresholds) {
  struct Case {
    const char* model;
    std::string firmware;
    int result;
    int position;
    bool on;
    const char* tavrin3Text;  // what libmqcontrol is handed afterwards
  } cases[] = {
      {"Tavrin3T1000", "0C30", 1, 37, true, "0C30"},
      {"Tavrin3T1000", "0C2F", 1, 37, false, "0C2F"},
      {"Tavrin3T2000", "0C31xyz", 1, 37, true, "0C31"},  // cut after four characters
      {"Tavrin3T2000", "0C30", 0, 37, false, ""},        // failed read: empty sorts below
      {"Saldex800", "1A00", 1, 48, true, "1A00"},
      {"Feyra2F90", "0001", 1, 48, true, "0001"},
      {"DunmoMe2M50", "0D10", 1, 19, true, ""},
      {"DunmoMe2M50", "0D0F", 1, 19, false, ""},
      {"DunmoMe2M50", "0D0F", 1, 71, false, ""},
      {"DunmoMe2M50", "0D10", 0, 71, false, ""},
      {"Tv5A100", "0C30", 1, 48, true, ""},  // no firmware rule: the text stays empty
  };
  for (const auto& c : cases) {
    std::memset(g_Tavrin3FirmVer, 0, sizeof g_Tavrin3FirmVer);
    std::memset(g_DunmoMe2FirmVer, 0, sizeof g_DunmoMe2FirmVer);
    g_fake.firmware = c.firmware;
    g_fake.firmwareResult = c.result;
    testing::internal::CaptureStdout();
    auto on = Available(c.model);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(on.count(c.position), c.on ? 1u : 0u) << c.model << " " << c.firmware;
    EXPECT_STREQ(g_Tavrin3FirmVer, c.tavrin3Text) << c.model << " " << c.firmware;
    EXPECT_EQ(out, c.result ? "" : " ERROR: Firmware Version 取得に失敗\n") << c.model;
  }
}

TEST_F(Arbitration, ProfileReader) {
  struct Case {
    const char* label;
    std::string file;
    const char* key;
    int defaultValue, expected;
  } cases[] = {
      {"key then 0", "Tv5A100 DEVSET_ALARM0", "DEVSET_ALARM", 1, 0},
      {"key then 1", "Tv5A100\nDEVSET_ALARM1", "DEVSET_ALARM", 0, 1},
      {"equals sign keeps the default", "Tv5A100 DEVSET_ALARM=0", "DEVSET_ALARM", 1, 1},
      {"section in other case", "[x] TV5A100 devset_alarm0", "DEVSET_ALARM", 1, 0},
      {"section must be the whole token", "[Tv5A100] DEVSET_ALARM0", "DEVSET_ALARM", 1, 1},
      {"found under a later section", "Tv5A100 OTHER Zz DEVSET_ALARM0", "DEVSET_ALARM", 1, 0},
      {"never found", "Tv5A100 DEVSET_OTHER0", "DEVSET_ALARM", 1, 1},
      {"prefix key stops at the longer key", "Tv5A100 DEVSET_THINPAPER20 DEVSET_THINPAPER0", "DEVSET_THINPAPER", 1, 1},
      {"last section decides", "Tv5A100 DEVSET_ALARM0 Tv5A100 DEVSET_ALARM1", "DEVSET_ALARM", 0, 1},
      {"key before its section", "DEVSET_ALARM0 Tv5A100", "DEVSET_ALARM", 1, 1},
  };
  for (const auto& c : cases) {
    std::string path = m_dir + "/mqlaunch.conf";
    WriteFile(path, c.file);
    EXPECT_EQ(GetPrivateProfileInt("Tv5A100", c.key, c.defaultValue, path.c_str()), c.expected) << c.label;
  }
  EXPECT_EQ(GetPrivateProfileInt("Tv5A100", "DEVSET_ALARM", 7, (m_dir + "/missing").c_str()), 7);
}

// The profiles read their keys from the launcher file under their section;
// both Dunmo models read the first one's.
TEST_F(Arbitration, ProfilesReadTheLauncherFile) {
  std::string path = m_dir + "/mqlaunch.conf";
  WriteFile(path,
            "Tavrin4T1000 DEVSET_DOUBLEFEED0 DEVSET_DELFRAME_FB0 DEVSET_AUTOCROP_BOUNDARY0\n"
            "DunmoD1200 DEVSET_FB_FINE1 DEVSET_AUTOCROP0\n");
  g_szLauncherConf = path.c_str();
  EXPECT_EQ(Available("Tavrin4T1000"), Join({Minus(Base(true), {1, 3}), {34, 47, 48, 49}}));
  EXPECT_EQ(Available("DunmoD1600"), (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  g_szLauncherConf = nullptr;
}

}  // namespace
