// The settings image engine over a recording stand-in for libdevwatch: the
// models that no simulated scanner plays (Vantor, Pilvo, DunmoMe2, Saldex,
// Ruvik, Velmorak A, B and D), the default loads, missing entries, and the
// faults the engine must not make.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dev_set_ctrl.h"
#include "engine_fake.h"
#include "field_merge.h"
#include "model_catalog.h"
#include "mqcontrol_context.h"
#include "offset_data.h"
#include "quorra_info.h"

namespace {

using namespace engine_test;

class Engine : public testing::Test {
 protected:
  void TearDown() override { EndDevice(); }
  // The image as the source pattern, the device's tables as its inverse.
  static void Patterns() {
    Bytes source = SourcePattern();
    std::memcpy(g_byEEPData, source.data(), 512);
    g_fake.working = g_fake.persistent = DevicePattern();
  }
  static std::vector<std::string> Writes() {
    std::vector<std::string> w;
    for (const std::string& c : g_fake.calls)
      if (c.rfind("WriteEEPROM", 0) == 0) w.push_back(c);
    return w;
  }
  static Bytes Image() { return Bytes(g_byEEPData, g_byEEPData + 512); }
};

// Bytes of the device's table that came from the image, as offset:mask.
std::vector<std::string> FromImage(const Bytes& table) {
  Bytes source = SourcePattern();
  std::vector<std::string> out;
  for (size_t k = 0; k < table.size(); ++k) {
    uint8_t mask = static_cast<uint8_t>(~(table[k] ^ source[k]));
    if (mask) out.push_back(std::to_string(k) + ":" + std::to_string(mask));
  }
  return out;
}

TEST_F(Engine, MergePathsOfTheFakedModels) {
  struct Case {
    const char* model;
    uint8_t* set;
    size_t flagByte;
    uint8_t flagBit;
    int read, write;
    std::string edited;  // offset:mask the flag brings
    int inkType;         // -1: the model takes no ink-life reset
  } cases[] = {
      {"Vantor410", g_VantorBmodFlags, 7, 0x08, 512, 384, "182:16", 1},
      {"Vantor520", g_VantorAmodFlags, 12, 0x01, 512, 384, "79:255", 1},
      {"Pilvo700", g_PilvomodFlags, 30, 0x08, 512, 512, "166:16", 1},
      {"pilvo700", g_PilvomodFlags, 34, 0x04, 512, 512, "331:48", 1},
      {"DunmoMe2M30", g_DunmoMe2modFlags, 21, 0x04, 512, 384, "180:192", -1},
      {"dunmoMe2M40", g_DunmoMe2modFlags, 27, 0x02, 512, 384, "63:255", 0},
      {"Saldex800", g_Tavrin3modFlags, 24, 0x00, 512, 384, "", 0},
      {"RuvikR220", g_Tavrin3modFlags, 0, 0x02, 255, 255, "27:240", -1},
      {"RuvikR120", g_Tavrin3modFlags, 22, 0x01, 255, 255, "124:255", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    UseFake(c.model);
    Patterns();
    if (c.flagBit)
      c.set[c.flagByte] |= c.flagBit;
    else
      g_Tavrin3modFlags[24 + 2] = 0x80;  // a 32-bit flag, set in its third byte only
    g_CDevSetCtrl.SetSettingChanged();
    g_CDevSetCtrl.m_nInkLifeReset = 1;
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    ASSERT_GE(g_fake.calls.size(), 3u);
    EXPECT_EQ(g_fake.calls[0], "GetEEPROM " + std::to_string(c.read));
    EXPECT_EQ(g_fake.calls[1], "WriteEEPROM " + std::to_string(c.write) + "@0");
    EXPECT_EQ(g_fake.calls[2], "LockEEPROM");
    EXPECT_EQ(g_fake.device, std::string(c.model) + ":001:002");
    // The device now holds the edited field and the family's "always"
    // bytes from the image, nothing else of it.
    std::vector<std::string> taken = FromImage(Bytes(g_fake.persistent.begin(), g_fake.persistent.begin() + c.write));
    std::vector<std::string> always;
    {
      uint8_t none[64] = {};
      Bytes table = DevicePattern();
      Bytes source = SourcePattern();
      const MergeLayout& layout = c.set == g_PilvomodFlags      ? kPilvoLayout
                                  : c.set == g_DunmoMe2modFlags ? kDunmoMe2Layout
                                  : c.set == g_Tavrin3modFlags  ? kTavrin3Layout
                                                                : kVantorLayout;
      MergeFields(layout, none, source.data(), table.data());
      always = FromImage(Bytes(table.begin(), table.begin() + c.write));
    }
    std::string edited = c.flagBit ? c.edited : "";
    std::vector<std::string> expected = always;
    if (!edited.empty()) expected.push_back(edited);
    if (!c.flagBit)
      for (int k = 53; k <= 57; ++k) expected.push_back(std::to_string(k) + ":255");
    std::sort(expected.begin(), expected.end());
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken, expected);
    // Written, committed and verified: the set is clear, the image is the
    // device's table, and the ink-life reset ran where the model takes it.
    EXPECT_EQ(c.set[c.flagByte] | g_Tavrin3modFlags[26], 0);
    EXPECT_EQ(Image(), g_fake.working);
    EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 0);
    if (c.inkType < 0) {
      EXPECT_TRUE(g_fake.inkTexts.empty());
      EXPECT_EQ(g_CDevSetCtrl.m_nInkLifeReset, 1);
    } else {
      const std::string n = c.inkType == 1 ? "1" : " ";
      EXPECT_EQ(g_fake.inkTexts, (std::vector<std::string>{"CLEAR INK-LIFE " + n,
                                                           c.inkType == 1 ? "GET IMP-LIFE 1  " : "GET IMP-LIFE    "}));
      EXPECT_EQ(g_CDevSetCtrl.m_nInkLifeReset, 0);
    }
  }
}

TEST_F(Engine, WholeImagePathsOfTheFakedModels) {
  // Velmorak A, B and D write 255 bytes of the image as it is; the models
  // of no row write what was read from them.
  for (const char* model : {"VelmorakVK1000", "VelmorakVK2000", "VelmorakVK4000", "Feyra2F90"}) {
    SCOPED_TRACE(model);
    UseFake(model);
    Patterns();
    g_nReadEEPSize = 300;
    g_bDevSetEdit = 1;
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    const int n = std::strcmp(model, "Feyra2F90") == 0 ? 300 : 255;
    EXPECT_EQ(g_fake.calls.at(0), "WriteEEPROM " + std::to_string(n) + "@0");
    EXPECT_EQ(g_fake.calls.at(1), "LockEEPROM");
    EXPECT_TRUE(std::equal(g_fake.persistent.begin(), g_fake.persistent.begin() + n, SourcePattern().begin()));
    EXPECT_EQ(g_fake.persistent[n], DevicePattern()[n]);
    EXPECT_EQ(g_bDevSetEdit, 0);
  }
}

TEST_F(Engine, NothingEditedTouchesNoDevice) {
  UseFake("Vantor410");
  EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), 1);
  EXPECT_TRUE(g_fake.calls.empty());
}

TEST_F(Engine, WholeImageWritesNeedTheirBytesReadFromThisDevice) {
  struct Case {
    const char* model;
    int readSize;
  } cases[] = {{"VelmorakVK1000", 0}, {"VelmorakVK1000", 254}, {"Feyra2F90", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " after " + std::to_string(c.readSize));
    UseFake(c.model);
    g_nReadEEPSize = c.readSize;
    g_CDevSetCtrl.SetSettingChanged();
    EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), -1);
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 1);
  }
}

TEST_F(Engine, EditsStayPendingUntilWrittenCommittedAndVerified) {
  struct Case {
    const char* what;
    bool failWrite, failLock;
    int mismatches;
    unsigned pauses;
  } cases[] = {{"write fails", true, false, 0, 0},
               {"commit fails", false, true, 0, 0},
               {"commit never confirmed", false, false, 3, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseFake("Vantor410");
    Patterns();
    g_VantorAmodFlags[7] = 0x08;
    g_bDevSetEdit = 1;
    g_CDevSetCtrl.m_nCounterSetup = 1;
    g_fake.failWrite = c.failWrite;
    g_fake.failLock = c.failLock;
    g_fake.mismatches = c.mismatches;
    EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), -1);
    EXPECT_EQ(g_VantorAmodFlags[7], 0x08);
    EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 1);
    EXPECT_EQ(g_bDevSetEdit, 1);
    EXPECT_EQ(g_CDevSetCtrl.m_nCounterSetup, 1);
    EXPECT_EQ(g_pauses, std::vector<unsigned>(c.pauses, 2000000u));
    // The next write carries the edit.
    g_fake.failWrite = g_fake.failLock = false;
    g_fake.working = DevicePattern();
    EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    EXPECT_EQ(g_fake.persistent[182] & 0x10, SourcePattern()[182] & 0x10);
    EXPECT_EQ(g_VantorAmodFlags[7], 0);
    EXPECT_EQ(g_CDevSetCtrl.m_nCounterSetup, 0);
  }
}

TEST_F(Engine, VerifyPassesPauseTwoSecondsUntilByte328Agrees) {
  for (int mismatches : {0, 1, 2}) {
    SCOPED_TRACE(mismatches);
    UseFake("Pilvo700");
    Patterns();
    g_CDevSetCtrl.SetSettingChanged();
    g_fake.mismatches = mismatches;
    EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    EXPECT_EQ(g_pauses, std::vector<unsigned>(mismatches, 2000000u));
    std::vector<std::string> expected{"GetEEPROM 512", "WriteEEPROM 512@0", "LockEEPROM"};
    for (int pass = 0; pass <= mismatches; ++pass) {
      expected.push_back("GetEEPROM 512");
      expected.push_back("GetEEPROM_Element 512");
    }
    EXPECT_EQ(g_fake.calls, expected);
  }
}

TEST_F(Engine, MissingEntriesGiveTheirCodes) {
  UseFake("Vantor410", Variant::NoWrite);
  g_CDevSetCtrl.SetSettingChanged();
  EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), -1);
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"GetEEPROM 512"}));

  // Without a commit entry the engine goes on; without the persistent read
  // it cannot verify.
  UseFake("Vantor410", Variant::Bare);
  g_CDevSetCtrl.SetSettingChanged();
  g_VantorAmodFlags[0] = 1;
  EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), -5);
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"GetEEPROM 512", "WriteEEPROM 384@0"}));
  EXPECT_EQ(g_VantorAmodFlags[0], 1);
  EXPECT_EQ(g_CDevSetCtrl.ClearRemainingInk("Vantor410:001:002", 1), 0);
  EXPECT_EQ(g_CDevSetCtrl.DeviceRestart("Vantor410:001:002"), 1);
  EXPECT_EQ(g_CDevSetCtrl.SaveEEPROMData("/nonexistent/never"), -4);
  EXPECT_EQ(g_CDevSetCtrl.SaveEEPROMData2("/nonexistent/never"), -4);

  UseFake("dunmoMe2M30", Variant::Bare);
  Patterns();
  EXPECT_EQ(g_CDevSetCtrl.initDevSet2Info(), 0);
  EXPECT_EQ(Image(), SourcePattern());
  EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 0);

  UseFake("Tavrin3T1000");
  EXPECT_EQ(g_CDevSetCtrl.DeviceRestart("ignored"), 7);
  EXPECT_EQ(g_fake.device, "Tavrin3T1000:001:002");
}

TEST_F(Engine, InkLifeResetOfDunmoMe2ModelCAndFailures) {
  // The upper-case form of model C takes the reset as a counter field.
  UseFake("DunmoMe2M50");
  Patterns();
  g_CDevSetCtrl.m_nInkLifeReset = 1;
  g_CDevSetCtrl.SetSettingChanged();
  EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
  EXPECT_EQ(g_fake.persistent[204], 100);
  EXPECT_TRUE(g_fake.inkTexts.empty());
  EXPECT_EQ(g_CDevSetCtrl.m_nInkLifeReset, 0);

  // A refused reset fails the write and keeps the request.
  UseFake("Saldex800");
  g_CDevSetCtrl.m_nInkLifeReset = 1;
  g_CDevSetCtrl.SetSettingChanged();
  g_fake.failInk = true;
  EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), -1);
  EXPECT_EQ(g_CDevSetCtrl.m_nInkLifeReset, 1);
  EXPECT_EQ(g_fake.inkTexts, (std::vector<std::string>{"CLEAR INK-LIFE  "}));

  struct Text {
    int type;
    const char* clear;
    const char* get;
  } texts[] = {{0, "CLEAR INK-LIFE  ", "GET IMP-LIFE    "},
               {1, "CLEAR INK-LIFE 1", "GET IMP-LIFE 1  "},
               {2, "CLEAR INK-LIFE 2", "GET IMP-LIFE 2  "},
               {7, "CLEAR INK-LIFE  ", "GET IMP-LIFE    "}};
  for (const Text& t : texts) {
    UseFake("Saldex800");
    EXPECT_EQ(g_CDevSetCtrl.ClearRemainingInk("Other:001:009", t.type), 1);
    EXPECT_EQ(g_fake.inkTexts, (std::vector<std::string>{t.clear, t.get}));
    EXPECT_EQ(g_fake.device, "Other:001:009");
  }
}

TEST_F(Engine, DefaultLoads) {
  // CGA variant: bit 0 of byte 181 is set, the table read, and the bit
  // written back cleared; the table becomes the image.
  UseFake(mqcontrol_models::kDunmoMe2Cga[1]);
  Patterns();
  g_fake.working[181] = 0x40;
  EXPECT_EQ(g_CDevSetCtrl.initDevSet2Info(), 1);
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"WriteEEPROM 1@181", "GetEEPROM 512", "WriteEEPROM 1@181"}));
  Bytes expected = DevicePattern();
  expected[181] = 0x00;
  EXPECT_EQ(Image(), expected);
  EXPECT_EQ(g_fake.working[181], 0x00);
  EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 1);
  const std::vector<uint8_t> marks{0x07, 3, 3, 3, 3, 3, 3, 1, 1, 4, 0x1F, 7, 1, 1, 0x3F, 1,
                                   3,    1, 3, 3, 1, 3, 0, 0, 0, 0, 0,    0, 0, 0, 1,    1};
  EXPECT_EQ(std::vector<uint8_t>(g_DunmoMe2modFlags, g_DunmoMe2modFlags + 32), marks);

  UseFake(mqcontrol_models::kDunmoMe2Cga[0]);
  Patterns();
  g_fake.failRead = true;
  EXPECT_EQ(g_CDevSetCtrl.initDevSet2Info(), 0);
  EXPECT_EQ(Image(), SourcePattern());
  EXPECT_EQ(g_DunmoMe2modFlags[0], 0);

  // Standard: the factory image, keeping the image's bytes 48 and 49 (bit 7
  // cleared), with bit 3 of byte 202 cleared.
  for (const char* model : {"dunmoMe2M30", "dunmoMe2M40", "dunmoMe2M50"}) {
    SCOPED_TRACE(model);
    UseFake(model);
    Patterns();
    g_fake.factory = DevicePattern();
    g_fake.factory[202] = 0xFF;
    g_byEEPData[49] = 0xC5;
    g_DunmoMe2modFlags[21] = 0x04;
    EXPECT_EQ(g_CDevSetCtrl.initDevSet2Info(), 1);
    EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"GetDefaultEEPROM 512"}));
    expected = DevicePattern();
    expected[202] = 0xF7;
    expected[48] = SourcePattern()[48];
    expected[49] = 0x45;
    EXPECT_EQ(Image(), expected);
    EXPECT_EQ(std::vector<uint8_t>(g_DunmoMe2modFlags, g_DunmoMe2modFlags + 32), marks);
  }
  UseFake("dunmoMe2M40");
  Patterns();
  g_fake.failRead = true;
  EXPECT_EQ(g_CDevSetCtrl.initDevSet2Info(), 0);
  EXPECT_EQ(Image(), SourcePattern());

  // Vantor: no device access.
  UseFake("Vantor410");
  std::memset(g_byEEPData, 0xFF, 512);
  EXPECT_EQ(g_CDevSetCtrl.initDevSet2Info(), 1);
  EXPECT_TRUE(g_fake.calls.empty());
  std::vector<std::string> changed;
  for (int k = 0; k < 512; ++k)
    if (g_byEEPData[k] != 0xFF) changed.push_back(std::to_string(k) + ":" + std::to_string(g_byEEPData[k]));
  EXPECT_EQ(changed, (std::vector<std::string>{"79:0", "161:15", "162:120", "180:253", "182:127", "184:0", "185:0",
                                               "194:0", "207:224", "210:253", "211:0", "216:0", "217:0"}));
  const std::vector<uint8_t> vantorMarks{2, 0, 0, 0, 2, 3, 1, 0x20, 1, 3, 3, 3, 1};
  EXPECT_EQ(std::vector<uint8_t>(g_VantorAmodFlags, g_VantorAmodFlags + 13), vantorMarks);
  EXPECT_EQ(std::vector<uint8_t>(g_VantorBmodFlags, g_VantorBmodFlags + 13), vantorMarks);

  // Models of their own layouts load nothing.
  for (const char* model : {"Tavrin4T1000", "Pilvo700", "Tv5E100", "GorlanG150", "Sx3K700", "Feyra2F90"}) {
    UseFake(model);
    std::memset(g_byEEPData, 0xFF, 512);
    EXPECT_EQ(g_CDevSetCtrl.initDevSet2Info(), 1) << model;
    EXPECT_EQ(g_byEEPData[79], 0xFF) << model;
    EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 0) << model;
  }
}

TEST_F(Engine, ReadKeepsEditedLeadingBytesAfterAShorterRead) {
  UseFake("Tavrin3T1000");
  g_fake.working = DevicePattern();
  std::memset(g_byEEPData, 0xEE, 512);
  g_nReadEEPSize = 127;
  g_CDevSetCtrl.SetSettingChanged();
  g_CDevSetCtrl.m_nEndorserReset = 2;
  ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"GetEEPROM 512", "Inquiry2", "InquiryVPD 100,0"}));
  Bytes expected = DevicePattern();
  std::fill(expected.begin(), expected.begin() + 127, 0xEE);
  EXPECT_EQ(Image(), expected);
  EXPECT_EQ(g_nReadEEPSize, 512);
  EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 0);
  EXPECT_EQ(g_CDevSetCtrl.m_nEndorserReset, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(g_CDevSetCtrl.m_byInquiry) + 8, 7), "MORANTI");

  // Read whole already: only the inquiries.
  g_fake.calls.clear();
  ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"Inquiry2", "InquiryVPD 100,0"}));

  // A failed read leaves the image as it was.
  g_nReadEEPSize = 0;
  g_fake.failRead = true;
  std::memset(g_byEEPData, 0xEE, 512);
  EXPECT_EQ(g_CDevSetCtrl.readDevSetting(), -1);
  EXPECT_EQ(Image(), Bytes(512, 0xEE));
  EXPECT_EQ(g_nReadEEPSize, 0);

  // A model outside the tables has no read size: nothing is read.
  UseFake("NoSuchModel");
  EXPECT_EQ(g_CDevSetCtrl.readDevSetting(), -1);
  EXPECT_TRUE(g_fake.calls.empty());
}

TEST_F(Engine, AlarmAndInquiryAnswers) {
  struct Case {
    const char* model;
    int value;
    int result;
    int bit;
    uint8_t* set;  // where the field is marked; nullptr: nowhere
  } cases[] = {
      {"Tavrin3T1000", 2, -1, 0, nullptr},       {"Vantor410", -1, -1, 0, nullptr},
      {"Vantor410", 1, 0, 1, g_VantorAmodFlags}, {"Tavrin3T1000", 0, 0, 0, g_VantorBmodFlags},
      {"Pilvo700", 2, 0, 1, g_PilvomodFlags},    {"pilvo700", -5, 0, 1, g_PilvomodFlags},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.value));
    UseFake(c.model);
    g_byEEPData[182] = c.bit ? 0x00 : 0xFF;
    EXPECT_EQ(g_CDevSetCtrl.SetAlarm(c.value), c.result);
    if (!c.set) {
      EXPECT_EQ(g_byEEPData[182], 0xFF);
      EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 0);
      EXPECT_EQ(g_VantorAmodFlags[7] | g_VantorBmodFlags[7] | g_PilvomodFlags[7], 0);
      continue;
    }
    EXPECT_EQ(g_byEEPData[182], c.bit ? 0x10 : 0xEF);
    EXPECT_EQ(g_CDevSetCtrl.GetAlarm(), c.bit);
    EXPECT_EQ(g_CDevSetCtrl.IsSettingChanged(), 1);
    EXPECT_EQ(c.set[7], 0x08);
    if (c.set != g_PilvomodFlags) {
      EXPECT_EQ(g_VantorAmodFlags[7] & g_VantorBmodFlags[7], 0x08);
    }
  }

  struct Vpd {
    const char* model;
    uint8_t b32, b92, b93;
    int flatbed, endorser;
  } vpds[] = {{"Tavrin3T1000", 0x40, 32, 0, 1, 1},
              {"Tavrin3T1000", 0xBF, 31, 200, 0, 0},
              {"Vantor520", 0, 31, 32, 0, 1},
              {"pilvo700", 0, 0, 40, 0, 1},
              {"vantor630", 0, 0, 40, 0, 0}};
  for (const Vpd& v : vpds) {
    SCOPED_TRACE(v.model);
    UseFake(v.model);
    g_fake.vpd[32] = v.b32;
    g_fake.vpd[92] = v.b92;
    g_fake.vpd[93] = v.b93;
    ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
    EXPECT_EQ(g_CDevSetCtrl.IsExistFlatbet(), v.flatbed);
    EXPECT_EQ(g_CDevSetCtrl.IsEndorserOption(), v.endorser);
    EXPECT_EQ(g_CDevSetCtrl.DevInfoBackUp(), 1);
  }
}

// Setters of the family layouts, then the write: the device's table changes
// in the bytes the setters changed and nowhere else, for the families no
// simulated scanner plays.
TEST_F(Engine, SettersReachTheDeviceThroughTheMerge) {
  for (const char* model : {"DunmoMe2M30", "dunmoMe2M40", "Vantor410", "Vantor520", "Pilvo700"}) {
    SCOPED_TRACE(model);
    UseFake(model);
    g_fake.working = g_fake.persistent = DevicePattern();
    ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
    const Bytes before = Image();
    EXPECT_EQ(g_CDevSetCtrl.SetDoubleFeedMode(3), 0);
    EXPECT_EQ(g_CDevSetCtrl.SetADDR_PR_Counter(40), 0);
    EXPECT_EQ(g_CDevSetCtrl.SetADDR_BR_Counter(41), 0);
    EXPECT_EQ(g_CDevSetCtrl.SetPickRetry(2), 0);
    const Bytes edited = Image();
    ASSERT_NE(edited, before);
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    for (int k = 0; k < 512; ++k) EXPECT_EQ(g_fake.persistent[k], edited[k]) << "byte " << k;
  }
}

// A brake reset on a model written through the Tavrin merge marks the
// counter, so the write clears it on the device too.
TEST_F(Engine, BrakeResetOnTheTavrinMergePathReachesTheDevice) {
  for (const char* model : {"DocuvaneRK50", "Tavrin3T1000"}) {
    SCOPED_TRACE(model);
    UseFake(model);
    g_fake.working = g_fake.persistent = DevicePattern();
    ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
    CQuorraInfo().OnConsumptionReset1(model);
    g_bDevSetEdit = 1;
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    Bytes expected = DevicePattern();
    expected[124] = expected[125] = 0;
    EXPECT_EQ(g_fake.persistent, expected);
  }
}

// Missing libdevwatch entries are failures, never a success with nothing
// done: the offsets write, and the image read of the consumables dialog.
TEST_F(Engine, MissingEntriesFailOffsetsAndDialog) {
  UseFake("Tavrin3T1000", Variant::NoWrite);
  kelo_offset_data d = {};
  d.adfFrontMain = 2;
  EXPECT_EQ(SetOffSetDataOf(&d), 0);
  EXPECT_EQ(g_fake.calls, std::vector<std::string>{});

  UseFake("Tavrin3T1000");
  g_fake.working = g_fake.persistent = DevicePattern();
  EXPECT_EQ(SetOffSetDataOf(&d), 1);
  ASSERT_EQ(g_fake.calls.size(), 2u);
  EXPECT_EQ(g_fake.calls[0], "WriteEEPROM 5@53");
  EXPECT_EQ(g_fake.calls[1], "LockEEPROM");

  g_fake.failRead = true;
  CQuorraInfo dialog;
  EXPECT_EQ(dialog.Record().imageReadStatus, 0);
}

// Settings that a model keeps at its place in the default layout, on a
// write path that merges another family's set: the edit reaches the device.
TEST_F(Engine, DefaultLayoutEditsReachTheDeviceOnEveryMergePath) {
  struct Row {
    const char* model;
    const char* what;
    void (*edit)();
  } rows[] = {
      {"Saldex800", "pre-pick", [] { EXPECT_EQ(g_CDevSetCtrl.SetPrePickMode(2), 0); }},
      {"Saldex800", "manual time-out", [] { EXPECT_EQ(g_CDevSetCtrl.SetManualTimeout(9), 0); }},
      {"Saldex800", "scan button", [] { EXPECT_EQ(g_CDevSetCtrl.SetScanBtn(0), 0); }},
      {"DocuvaneRK50", "multifeed ignore", [] { EXPECT_EQ(g_CDevSetCtrl.SetMFignore(2), 0); }},
      {"DocuvaneRK50", "manual time-out", [] { EXPECT_EQ(g_CDevSetCtrl.SetManualTimeout(9), 0); }},
      {"Tv5A100", "paper-protection level", [] { EXPECT_EQ(g_CDevSetCtrl.SetPPDetectionLevel(2), 0); }},
      {"Pilvo700", "pause", [] { g_CDevSetCtrl.SetPause(1); }},
      {"Pilvo700", "multifeed stop", [] { EXPECT_EQ(g_CDevSetCtrl.SetMultiFeedStop(1), 1); }},
      {"Pilvo700", "image quality", [] { EXPECT_EQ(g_CDevSetCtrl.SetImageQualityMode(1), 0); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.model) + " " + r.what);
    UseFake(r.model);
    // Every bit clear on the device, so that any setting changes the image.
    g_fake.working = g_fake.persistent = Bytes(512, 0);
    ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
    const Bytes before = Image();
    r.edit();
    const Bytes edited = Image();
    EXPECT_NE(edited, before);
    g_CDevSetCtrl.SetSettingChanged();
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    for (size_t k = 0; k < g_fake.persistent.size(); ++k)
      if (edited[k] != before[k]) {
        EXPECT_EQ(g_fake.persistent[k], edited[k]) << "byte " << k;
      }
  }
}

// The consumables dialog reads an image not yet cached at its group's size.
TEST_F(Engine, DialogReadSizes) {
  struct Row {
    const char* model;
    int size;
  } rows[] = {{"Tavrin3T1000", 512}, {"Tv5A100", 512}, {"VelmorakVK1000", 255}, {"ZemblZ350", 255},
              {"DunmoD1200", 127},   {"QuillQ10", 96}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.model);
    UseFake(r.model);
    CQuorraInfo dialog;
    std::vector<std::string> reads;
    for (const std::string& c : g_fake.calls)
      if (c.rfind("GetEEPROM ", 0) == 0) reads.push_back(c);
    EXPECT_EQ(reads, std::vector<std::string>{"GetEEPROM " + std::to_string(r.size)});
    EXPECT_EQ(g_nReadEEPSize, r.size);
    EXPECT_EQ(dialog.Record().imageReadStatus, 1);
  }
}

// Power-saving limits and decodings of groups no simulated scanner plays.
TEST_F(Engine, PowerSavingOfFurtherGroups) {
  struct Row {
    const char* model;
    int ignoreEnergyStar;
    int byte64;
    int minutes, min, max;
  } rows[] = {
      {"QuillQ540", 0, 0x8C, 55, 3, 11},  // D2: past 11 steps is 55 minutes
      {"QuillQ540", 0, 0x02, 15, 3, 11},
      {"SelkoS150", 0, 0x86, 30, 1, 23},
      {"SelkoS150", 1, 0x86, 30, 1, 47},
      {"Tavrin4LA110", 1, 0x86, 30, 3, 11},  // the setting is for the Selko and Brenna models only
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.model);
    UseFake(r.model);
    g_nReadEEPSize = 512;
    g_byEEPData[64] = static_cast<uint8_t>(r.byte64);
    g_cIniInfo = {0, 0, 0, 0, 1, 0, r.ignoreEnergyStar};
    CQuorraInfo dialog;
    EXPECT_EQ(g_nLongTimerMinutes, r.minutes);
    EXPECT_EQ(dialog.Record().powerSavingMin, r.min);
    EXPECT_EQ(dialog.Record().powerSavingMax, r.max);
    EXPECT_EQ(dialog.Record().powerSavingCurrent, r.minutes / 5);
  }
}

}  // namespace
