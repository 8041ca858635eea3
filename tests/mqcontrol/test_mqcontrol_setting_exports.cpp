// The per-setting exports of the staged libmqcontrol, bound by name as a
// settings front end binds them: before any device context, and over the
// image read from a simulated scanner of each layout.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "staged_mqcontrol.h"

namespace {

using namespace staged_mqcontrol;

class SettingExports : public staged_mqcontrol::StagedLibrary {};

// Before initlibrary there is no model and a zero image: every export
// answers as the default layout does for an empty context, and none
// crashes.
TEST_F(SettingExports, BeforeInitlibrary) {
  m_bench.Scenario("");
  Load();
  EXPECT_EQ(Call0("GetADDR_PR_Counter"), 60);
  EXPECT_EQ(Call0("GetADDR_BR_Counter"), 60);
  EXPECT_EQ(Call0("GetCleaningTerms"), 10);
  EXPECT_EQ(Call1("GetPickRetry", 20), 11);
  EXPECT_EQ(Call1("GetManualTimeoutDunmo", 5), 0);
  EXPECT_EQ(Call0("GetKouchiMode"), 1);
  EXPECT_EQ(Call0("GetMaintenanceValue"), 12);
  EXPECT_EQ(Call0("IsDropoutColorType"), 0);
  EXPECT_EQ(Call0("GetDropoutColor"), 0);
  EXPECT_EQ(Call1("SetDropoutColor", 5), -1);
  EXPECT_EQ(Call1("SetDoubleFeedMode", 4), -1);
  EXPECT_EQ(Call1("SetKouchiMode", 1), 0);
  EXPECT_EQ(Call1("SetMFAuto", 1), 1);
  EXPECT_EQ(Call2("SetPPDetectionLevelEx", 1, 1), 0);
  EXPECT_EQ(Call1("GetPPDetectionLevelEx", 1), 0);
  EXPECT_EQ(Call1("SetFeedMode", 1), 1);
  EXPECT_EQ(Call0("GetFeedMode"), 1);
  EXPECT_EQ(Call1("SetPickSpeed", 3), -1);
  EXPECT_EQ(Call1("SetImageQualityMode", 1), 0);
  EXPECT_EQ(Call0("GetImageQualityMode"), 1);
  EXPECT_EQ(Fn<SetFrame>("SetDelFrameADF")(1, -2, 3, 4), 0);
  EXPECT_EQ(ReadFrame("GetDelFrameADF"), (std::vector<int>{1, -2, 3, 4}));
  EXPECT_EQ(Fn<SetFrame>("SetDelFrameFB")(1, 2, 3, 4), 0);
  EXPECT_EQ(ReadFrame("GetDelFrameFB"), (std::vector<int>{1, 2, 3, 4}));
  // Null out-parameters are skipped.
  Fn<Frame>("GetDelFrameADF")(nullptr, nullptr, nullptr, nullptr);
  // Every remaining export once, with a value each layer refuses or takes.
  for (const char* get : {"GetAutoCropBoundary", "GetDoubleFeedMode", "GetDoubleFeedChkLengh", "GetMFinital",
                          "GetMFignore", "GetMFmemory", "GetMFAuto", "GetPaperProtection", "GetPrePickMode",
                          "GetPowerSWControl", "GetPPDetectionLevel", "GetCleaningMessage", "GetPickSpeedMode2",
                          "GetTatesujiDetection", "GetTatesujiLevel", "GetMaintenanceTerm", "GetPickSpeed"})
    EXPECT_GE(Call0(get), 0) << get;
  for (const char* get : {"GetSensorAreaStart", "GetSensorAreaEnd", "GetSensorMode"}) EXPECT_GE(Call1(get, 7), 0);
  for (const char* set :
       {"SetADDR_PR_Counter", "SetADDR_BR_Counter", "SetAutoCropBoundary", "SetDoubleFeedChkLengh", "SetMFignore",
        "SetMFmemory", "SetPaperProtection", "SetPrePickMode", "SetPickRetry", "SetPowerSWControl",
        "SetPPDetectionLevel", "SetCleaningTerms", "SetCleaningMessage", "SetPickSpeedMode2", "SetTatesujiDetection",
        "SetTatesujiLevel", "SetMaintenanceTerm", "SetMaintenanceValue", "SetManualTimeoutDunmo"})
    EXPECT_NE(Call1(set, 1), -99) << set;
  for (const char* set : {"SetMFinital", "SetSensorAreaStart", "SetSensorAreaEnd", "SetSensorMode"})
    EXPECT_NE(Call2(set, 1, 1), -99) << set;
}

// The image read from a device of each layout, seen and changed through
// the exports.
TEST_F(SettingExports, Tavrin3LayoutOverTheDeviceImage) {
  OpenDevice(0x1601, "Tavrin3T1000:001:002",
             {{29, 0x10}, {41, 33}, {322, 0x44}, {323, 0x04}, {329, 0x05}, {337, 0x02}, {43, 0xB2}, {50, 0x43}});
  EXPECT_EQ(Call0("GetDoubleFeedMode"), 2);
  EXPECT_EQ(Call0("GetADDR_PR_Counter"), 33);
  EXPECT_EQ(Call0("GetDropoutColor"), 1);
  EXPECT_EQ(Call1("GetPickRetry", 20), 4);
  EXPECT_EQ(Call0("GetPaperProtection"), 1);
  EXPECT_EQ(ReadFrame("GetDelFrameADF"), (std::vector<int>{2, -3, 3, 4}));
  EXPECT_EQ(Call1("SetDropoutColor", 3), 0);  // refused by the layout; the dispatcher answers 0
  EXPECT_EQ(Call0("GetDropoutColor"), 1);
  EXPECT_EQ(Fn<SetFrame>("SetDelFrameADF")(0, -8, 0, 0), 0);
  EXPECT_EQ(Fn<SetFrame>("SetDelFrameADF")(5, 7, 0, 1), 1);
  EXPECT_EQ(ReadFrame("GetDelFrameADF"), (std::vector<int>{5, 7, 0, 1}));
  EXPECT_EQ(Call1("SetPickRetry", 9), 0);
  EXPECT_EQ(Call1("GetPickRetry", 20), 9);
}

TEST_F(SettingExports, RTOSLayoutOverTheDeviceImage) {
  OpenDevice(0x1701, "Tv5A100:001:002",
             {{469, 0x03},
              {470, 0x0D},
              {471, 0x40},
              {474, 0x75},
              {475, 0x30},
              {271, 0x18},
              {338, 0x80},
              {340, 192},
              {341, 0x80}});
  EXPECT_EQ(Call0("GetADDR_PR_Counter"), 20);
  EXPECT_EQ(Call0("GetCleaningTerms"), 30);
  EXPECT_EQ(Call0("GetDoubleFeedMode"), 3);
  EXPECT_EQ(Call0("GetKouchiMode"), 0);
  EXPECT_EQ(Call0("GetTatesujiLevel"), 192);
  EXPECT_EQ(Call0("GetFeedMode"), 1);
  EXPECT_EQ(Call1("SetCleaningTerms", 200), 0);
  EXPECT_EQ(Call0("GetCleaningTerms"), 200);
  EXPECT_EQ(Call1("SetKouchiMode", 1), 0);
  EXPECT_EQ(Call0("GetKouchiMode"), 1);
  EXPECT_EQ(Call2("SetPPDetectionLevelEx", 2, 1), 0);
  EXPECT_EQ(Call1("GetPPDetectionLevelEx", 1), 2);
}

TEST_F(SettingExports, DefaultLayoutOverTheDeviceImage) {
  OpenDevice(0x1501, "DunmoD1200:001:002",
             {{208, 0x08}, {211, 0x04}, {183, 15}, {197, 0x04}, {198, 40}, {216, 0xA1}, {217, 0x43}});
  EXPECT_EQ(Call0("GetDoubleFeedMode"), 1);
  EXPECT_EQ(Call0("GetDropoutColor"), 1);
  EXPECT_EQ(Call0("GetCleaningTerms"), 15);
  EXPECT_EQ(Call1("GetPickRetry", 20), 3);
  EXPECT_EQ(Call0("GetADDR_PR_Counter"), 40);
  EXPECT_EQ(ReadFrame("GetDelFrameADF"), (std::vector<int>{1, -2, 3, 4}));
  EXPECT_EQ(Call1("SetDropoutColor", 2), 0);
  EXPECT_EQ(Call0("GetDropoutColor"), 2);
  EXPECT_EQ(Call1("SetCleaningTerms", 256), 0);
  EXPECT_EQ(Call0("GetCleaningTerms"), 15);
}

// A setter, a second setter, then the write: the device's persistent
// EEPROM changes in those settings' bits and nowhere else.
TEST_F(SettingExports, SettersReachTheDeviceThroughTheWrite) {
  struct Row {
    int productId;
    const char* device;
    int protection;                            // a paper-protection value the layout takes
    std::vector<std::pair<int, int>> changed;  // offset, bits
    bool doubleFeed;  // whether the model's write carries the double-feed byte
  } rows[] = {
      {0x1601, "Tavrin3T1000:001:002", 1, {{29, 0x18}, {337, 0x02}}, true},
      {0x1701, "Tv5A100:001:002", 2, {{271, 0x18}, {289, 0x02}, {334, 0x02}}, true},
      // A further model of the Tavrin merge path in the default layout.
      {0x1501, "DunmoD1200:001:002", 1, {{353, 0x08}}, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.device);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    OpenDevice(r.productId, r.device, {{100, 0x5A}, {230, 0x11}});
    auto write = reinterpret_cast<int (*)()>(dlsym(m_lib, "SetEEPROMData"));
    ASSERT_NE(write, nullptr);
    std::vector<unsigned char> before = Persistent();
    if (r.doubleFeed) {
      EXPECT_EQ(Call1("SetDoubleFeedMode", 3), 0);
    }
    EXPECT_EQ(Call1("SetPaperProtection", r.protection), 0);
    EXPECT_EQ(write(), 0);
    std::vector<unsigned char> after = Persistent();
    std::vector<unsigned char> expected = before;
    for (const auto& c : r.changed) expected[c.first] |= static_cast<unsigned char>(c.second);
    for (int k = 0; k < 512; ++k) EXPECT_EQ(after[k], expected[k]) << "byte " << k;
  }
}

// Every name of the library's C interface is there for a caller's dlsym.
TEST_F(SettingExports, EveryExportIsFound) {
  m_bench.Scenario("");
  Load();
  for (const char* name : {
      "initlibrary", "exitlibrary", "SetFirmVersion", "GetQuorraInfo", "OnInitDialog", "GetEEPROMData",
      "SetEEPROMData", "SetPowerOffTime", "ModeSelect_LongTimer", "SetPowerSavingEEPROM", "OnResetAfterCleaning",
      "OnResetBrake", "OnResetPick", "GetOffSetData", "SetOffSetData", "OnResetRemaink", "GetADDR_PR_Counter",
      "SetADDR_PR_Counter", "GetADDR_BR_Counter", "SetADDR_BR_Counter", "GetAutoCropBoundary", "SetAutoCropBoundary",
      "GetDelFrameADF", "SetDelFrameADF", "GetDelFrameFB", "SetDelFrameFB", "GetDoubleFeedMode", "SetDoubleFeedMode",
      "GetDoubleFeedChkLengh", "SetDoubleFeedChkLengh", "GetDropoutColor", "SetDropoutColor", "IsDropoutColorType",
      "GetFeedMode", "SetFeedMode", "GetManualTimeoutDunmo", "SetManualTimeoutDunmo", "GetMFinital", "SetMFinital",
      "GetMFignore", "SetMFignore", "GetMFmemory", "SetMFmemory", "GetMFAuto", "SetMFAuto", "GetPaperProtection",
      "SetPaperProtection", "GetPrePickMode", "SetPrePickMode", "GetPickRetry", "SetPickRetry", "GetPowerSWControl",
      "SetPowerSWControl", "GetPPDetectionLevel", "SetPPDetectionLevel", "GetPPDetectionLevelEx",
      "SetPPDetectionLevelEx", "GetSensorAreaStart", "SetSensorAreaStart", "GetSensorAreaEnd", "SetSensorAreaEnd",
      "GetSensorMode", "SetSensorMode", "GetCleaningTerms", "SetCleaningTerms", "GetCleaningMessage",
      "SetCleaningMessage", "GetPickSpeedMode2", "SetPickSpeedMode2", "GetTatesujiDetection", "SetTatesujiDetection",
      "GetTatesujiLevel", "SetTatesujiLevel", "GetMaintenanceTerm", "SetMaintenanceTerm", "GetMaintenanceValue",
      "SetMaintenanceValue", "GetKouchiMode", "SetKouchiMode", "GetPickSpeed", "SetPickSpeed", "GetImageQualityMode",
      "SetImageQualityMode", "SaveEEPROMData", "SaveEEPROMData2", "RestoreEEPROMData", "RestoreEEPROMData2",
      "IsSaldex", "IsTavrin3", "IsTavrin4", "IsTavrin4LA", "IsDunmoMe2", "IsPilvo", "IsDocuvane", "IsTavrin5",
      "IsTavrin5E", "IsVantor"
       }) {
    EXPECT_NE(dlsym(m_lib, name), nullptr) << name;
  }
}

}  // namespace
