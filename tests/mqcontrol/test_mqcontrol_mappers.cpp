// The three layout mappers, driven directly: each setter answers 1 or 0,
// changes only its bits, marks its family's set so that the merge carries
// exactly what changed, and never touches the changed flag.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "dunmome2_mapper.h"
#include "rtos_mapper.h"
#include "settings_test_util.h"
#include "tavrin3_mapper.h"

// Tables are laid out by hand, one case a row.
// clang-format off
namespace {

using namespace settings_test;

#define T3CALL(expr) [] { return Tavrin3Mapper().expr; }
#define D2CALL(expr) [] { return DunmoMe2Mapper().expr; }
#define RCALL(expr) [] { return RTOSMapper().expr; }

constexpr const char* kTavrin3 = "Tavrin3T1000";
constexpr const char* kSaldex = "Saldex800";
constexpr const char* kDunmoMe2 = "DunmoMe2M30";
constexpr const char* kTavrin5 = "Tv5A100";
constexpr const char* kTavrin5E = "Tv5E100";

TEST(Tavrin3Mapper, Table) {
  const MergeLayout* m = &kTavrin3Layout;
  CheckAll({
      {kTavrin3, "double feed 3", T3CALL(SetDoubleFeedMode(3)), {}, 1, {{29, 0x18}}, {{T3, 2, 0x06}}, 0, m},
      {kTavrin3, "double feed 4 refused", T3CALL(SetDoubleFeedMode(4)), {}, 0, {}, {}, 0},
      {kTavrin3, "double feed read", T3CALL(GetDoubleFeedMode()), {{29, 0x10}}, 2, {}, {}, 0},
      {kTavrin3, "check length 2", T3CALL(SetDoubleFeedChkLengh(2)), {{29, 0x19}}, 1, {{29, 0x1A}}, {{T3, 2, 0x01}}, 0, m},
      {kTavrin3, "check length 3 refused", T3CALL(SetDoubleFeedChkLengh(3)), {}, 0, {}, {}, 0},
      {kTavrin3, "check length code 3 reads 0", T3CALL(GetDoubleFeedChkLengh()), {{29, 0x03}}, 0, {}, {}, 0},
      {kTavrin3, "dropout 3 refused", T3CALL(SetDropoutColor(3)), {}, 0, {}, {}, 0},
      {kTavrin3, "dropout 4", T3CALL(SetDropoutColor(4)), {{323, 0xA0}}, 1, {{322, 0x77}, {323, 0xA7}},
       {{T3, 11, 0x03}, {T3, 12, 0x01}}, 0, m},
      {kTavrin3, "dropout bit 0x08 reads 0", T3CALL(GetDropoutColor()), {{322, 0x19}}, 0, {}, {}, 0},
      {kTavrin3, "dropout nibble 7 reads 4", T3CALL(GetDropoutColor()), {{322, 0x77}}, 4, {}, {}, 0},
      {kTavrin3, "dropout nibble 4 reads 1", T3CALL(GetDropoutColor()), {{322, 0x44}}, 1, {}, {}, 0},
      {kTavrin3, "pre-pick 7 sets", T3CALL(SetPrePickMode(7)), {}, 1, {{52, 0x10}}, {{T3, 5, 0x01}}, 0, m},
      {kTavrin3, "pre-pick 1 clears", T3CALL(SetPrePickMode(1)), {{52, 0xFF}}, 1, {{52, 0xEF}}, {{T3, 5, 0x01}}, 0, m},
      {kTavrin3, "frame ADF b -3", T3CALL(SetDelFrameADF(0, -3, 0, 0)), {}, 1, {{43, 0xB0}},
       {{T3, 3, 0x03}, {T3, 4, 0x03}}, 0, m},
      {kTavrin3, "frame ADF b -8 refused", T3CALL(SetDelFrameADF(0, -8, 0, 0)), {}, 0, {}, {}, 0},
      {kTavrin3, "frame ADF a 16 refused", T3CALL(SetDelFrameADF(16, 0, 0, 0)), {}, 0, {}, {}, 0},
      {kTavrin3, "frame FB", T3CALL(SetDelFrameFB(1, 2, 3, 4)), {}, 1, {{27, 0x21}, {28, 0x43}},
       {{T3, 0, 0x03}, {T3, 1, 0x03}}, 0, m},
      {kTavrin3, "frame FB 16 refused", T3CALL(SetDelFrameFB(1, 16, 3, 4)), {}, 0, {}, {}, 0},
      {kTavrin3, "sensor mode any type", T3CALL(SetSensorMode(5, 1)), {}, 1, {{224, 0x80}}, {{T3, 8, 0x01}}, 0, m},
      {kTavrin3, "sensor mode 2 stores off", T3CALL(SetSensorMode(0, 2)), {{224, 0x80}}, 1, {{224, 0x00}},
       {{T3, 8, 0x01}}, 0, m},
      {kTavrin3, "sensor end 300", T3CALL(SetSensorAreaEnd(0, 300)), {{225, 50}}, 1, {{227, 100}}, {{T3, 10, 0x01}}, 0, m},
      {kTavrin3, "sensor end reads", T3CALL(GetSensorAreaEnd(0)), {{225, 50}, {227, 100}}, 300, {}, {}, 0},
      {kTavrin3, "sensor start 512 refused", T3CALL(SetSensorAreaStart(0, 512)), {}, 0, {}, {}, 0},
      {kTavrin3, "sensor start 511", T3CALL(SetSensorAreaStart(0, 511)), {}, 1, {{225, 255}}, {{T3, 9, 0x01}}, 0, m},
      {kTavrin3, "mf ignore 1", T3CALL(SetMFignore(1)), {}, 1, {{328, 0x04}}, {{T3, 13, 0x01}}, 0, m},
      {kTavrin3, "mf initial", T3CALL(SetMFinital(1, 7)), {}, 1, {{328, 0x40}}, {{T3, 13, 0x08}}, 0, m},
      {kTavrin3, "mf memory inverted", T3CALL(SetMFmemory(1)), {{328, 0x80}}, 1, {{328, 0x00}}, {{T3, 13, 0x10}}, 0, m},
      {kTavrin3, "mf memory 2 refused", T3CALL(SetMFmemory(2)), {}, 0, {}, {}, 0},
      {kTavrin3, "mf memory clear reads 1", T3CALL(GetMFmemory()), {}, 1, {}, {}, 0},
      {kTavrin3, "scan button does nothing", T3CALL(SetScanBtn(5)), {}, 1, {}, {}, 0},
      {kTavrin3, "scan button reads 1", T3CALL(GetScanBtn()), {}, 1, {}, {}, 0},
      {kTavrin3, "PR counter 0 reads 20", T3CALL(GetADDR_PR_Counter()), {}, 20, {}, {}, 0},
      {kSaldex, "PR counter 0 reads 10 on Saldex", T3CALL(GetADDR_PR_Counter()), {}, 10, {}, {}, 0},
      {kTavrin3, "BR counter 0 reads 20", T3CALL(GetADDR_BR_Counter()), {}, 20, {}, {}, 0},
      {kSaldex, "BR counter 0 reads 5 on Saldex", T3CALL(GetADDR_BR_Counter()), {}, 5, {}, {}, 0},
      {kTavrin3, "PR counter 256 refused", T3CALL(SetADDR_PR_Counter(256)), {}, 0, {}, {}, 0},
      {kTavrin3, "PR counter 255", T3CALL(SetADDR_PR_Counter(255)), {}, 1, {{41, 255}}, {{T3, 6, 0x01}}, 0, m},
      {kTavrin3, "BR counter 7", T3CALL(SetADDR_BR_Counter(7)), {}, 1, {{42, 7}}, {{T3, 7, 0x01}}, 0, m},
      {kTavrin3, "timeout min(limit, stored)", T3CALL(GetManualTimeout(5)), {{344, 0xE9}}, 5, {}, {}, 0},
      {kTavrin3, "timeout 12 keeps 0xE0", T3CALL(SetManualTimeout(12)), {{344, 0xE0}}, 1, {{344, 0xEC}},
       {{T3, 17, 0x01}}, 0, m},
      {kTavrin3, "timeout 13 refused", T3CALL(SetManualTimeout(13)), {}, 0, {}, {}, 0},
      {kTavrin3, "pick retry zero nibble", T3CALL(GetPickRetry(20)), {}, 6, {}, {}, 0},
      {kSaldex, "pick retry zero nibble, Saldex", T3CALL(GetPickRetry(20)), {}, 2, {}, {}, 0},
      {kTavrin3, "pick retry 11", T3CALL(SetPickRetry(11)), {{329, 0xA0}}, 1, {{329, 0xAC}}, {{T3, 14, 0x01}}, 0, m},
      {kTavrin3, "pick retry 12 refused", T3CALL(SetPickRetry(12)), {}, 0, {}, {}, 0},
      {kTavrin3, "paper protection", T3CALL(SetPaperProtection(1)), {}, 1, {{337, 0x02}}, {{T3, 15, 0x01}}, 0, m},
      {kTavrin3, "paper protection 2 refused", T3CALL(SetPaperProtection(2)), {}, 0, {}, {}, 0},
      {kTavrin3, "PP level 2", T3CALL(SetPPDetectionLevel(2)), {}, 1, {{345, 0x02}}, {{T3, 18, 0x01}}, 0, m},
      {kTavrin3, "power switch 2", T3CALL(SetPowerSWControl(2)), {}, 1, {{220, 0xC0}}, {{T3, 19, 0x02}}, 0, m},
      {kTavrin3, "power switch 3 refused", T3CALL(SetPowerSWControl(3)), {}, 0, {}, {}, 0},
      {kTavrin3, "power switch 0x40 reads 0", T3CALL(GetPowerSWControl()), {{220, 0x40}}, 0, {}, {}, 0},
      {kTavrin3, "power switch 0x80 reads 1", T3CALL(GetPowerSWControl()), {{220, 0x80}}, 1, {}, {}, 0},
      {kTavrin3, "feed mode", T3CALL(SetFeedMode(1)), {}, 1, {{336, 0x80}}, {{T3, 20, 0x01}}, 0, m},
  });
}

// Code 0xC0 of the power switch reads 2 only for the listed models, and for
// the first two groups only from their firmware on.
TEST(Tavrin3Mapper, PowerSwitchFullCodeByModelAndFirmware) {
  struct Row {
    const char* model;
    const char* firmware;
    int result;
  } rows[] = {
      {"Tavrin3T1000", "0C2F", 0}, {"Tavrin3T1000", "0C30", 2}, {"Tavrin3T2000", "0C31", 2},
      {"Tavrin3T2000", "0B99", 0}, {"Tavrin3T3000", "0A30", 2}, {"Tavrin3T4000", "0A2Z", 0},
      {"Tavrin3T4000", "0C00", 2}, {"Tavrin3T5000", "", 2},     {"Tavrin3T6000", "0000", 2},
      {"Saldex800", "", 2},        {"Tavrin4T1000", "", 2},     {"Tavrin4T3000", "", 2},
      {"Tavrin4T4000", "9999", 0}, {"Tavrin4LA150", "", 2},     {"DocuvaneRK90", "", 2},
      {"DunmoD1200", "9999", 0},   {"NoSuchModel", "9999", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.model) + " " + r.firmware);
    ResetState();
    ActiveModel active(r.model);
    std::snprintf(g_Tavrin3FirmVer, sizeof g_Tavrin3FirmVer, "%s", r.firmware);
    g_byEEPData[220] = 0xC0;
    EXPECT_EQ(Tavrin3Mapper().GetPowerSWControl(), r.result);
  }
  // Five bytes take part: a longer text equal in its first four characters
  // is above the threshold.
  ResetState();
  ActiveModel active("Tavrin3T1000");
  std::snprintf(g_Tavrin3FirmVer, sizeof g_Tavrin3FirmVer, "%s", "0C30A");
  g_byEEPData[220] = 0xC0;
  EXPECT_EQ(Tavrin3Mapper().GetPowerSWControl(), 2);
}

TEST(DunmoMe2Mapper, Table) {
  const MergeLayout* m = &kDunmoMe2Layout;
  CheckAll({
      {kDunmoMe2, "double feed 1", D2CALL(SetDoubleFeedMode(1)), {}, 1, {{208, 0x08}}, {{D2, 0, 0x06}}, 0, m},
      {kDunmoMe2, "check length 1", D2CALL(SetDoubleFeedChkLengh(1)), {}, 1, {{208, 0x01}}, {{D2, 0, 0x01}}, 0, m},
      {kDunmoMe2, "dropout 2 on FF/FF", D2CALL(SetDropoutColor(2)), {{210, 0xFF}, {211, 0xFF}}, 1,
       {{210, 0x9F}, {211, 0x11}}, {{D2, 5, 0x03}, {D2, 6, 0x02}}, 0, m},
      {kDunmoMe2, "dropout 4 refused", D2CALL(SetDropoutColor(4)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "dropout nibble 7 reads 3", D2CALL(GetDropoutColor()), {{211, 0x77}}, 3, {}, {}, 0},
      {kDunmoMe2, "dropout bit 0x08 reads 0", D2CALL(GetDropoutColor()), {{211, 0x09}}, 0, {}, {}, 0},
      {kDunmoMe2, "pre-pick 1 clears", D2CALL(SetPrePickMode(1)), {{210, 0x02}}, 1, {{210, 0x00}}, {{D2, 6, 0x01}}, 0, m},
      {kDunmoMe2, "frame ADF", D2CALL(SetDelFrameADF(15, 7, 15, 15)), {}, 1, {{216, 0x7F}, {217, 0xFF}},
       {{D2, 1, 0x03}, {D2, 2, 0x03}}, 0, m},
      {kDunmoMe2, "frame FB", D2CALL(SetDelFrameFB(0, 0, 1, 0)), {}, 1, {{215, 0x01}}, {{D2, 3, 0x03}, {D2, 4, 0x03}},
       0, m},
      {kDunmoMe2, "sensor mode", D2CALL(SetSensorMode(2, 1)), {}, 1, {{192, 0x20}}, {{D2, 9, 0x04}}, 0, m},
      {kDunmoMe2, "sensor start", D2CALL(SetSensorAreaStart(0, 101)), {}, 1, {{187, 50}}, {{D2, 7, 0x01}}, 0, m},
      {kDunmoMe2, "sensor end", D2CALL(SetSensorAreaEnd(0, 300)), {{187, 50}}, 1, {{190, 100}}, {{D2, 8, 0x01}}, 0, m},
      {kDunmoMe2, "mf ignore 2", D2CALL(SetMFignore(2)), {}, 1, {{203, 0x06}}, {{D2, 10, 0x01}}, 0, m},
      {kDunmoMe2, "scan button inverted", D2CALL(SetScanBtn(1)), {{203, 0x10}}, 1, {{203, 0x00}}, {{D2, 10, 0x02}}, 0, m},
      {kDunmoMe2, "scan button 2 refused", D2CALL(SetScanBtn(2)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "mf initial", D2CALL(SetMFinital(1, 0)), {}, 1, {{203, 0x40}}, {{D2, 10, 0x08}}, 0, m},
      {kDunmoMe2, "mf memory 0 sets", D2CALL(SetMFmemory(0)), {}, 1, {{203, 0x80}}, {{D2, 10, 0x10}}, 0, m},
      {kDunmoMe2, "PR counter 0 reads 25", D2CALL(GetADDR_PR_Counter()), {}, 25, {}, {}, 0},
      {kDunmoMe2, "BR counter 0 reads 25", D2CALL(GetADDR_BR_Counter()), {}, 25, {}, {}, 0},
      {kDunmoMe2, "PR counter", D2CALL(SetADDR_PR_Counter(40)), {}, 1, {{198, 40}}, {{D2, 12, 0x01}}, 0, m},
      {kDunmoMe2, "BR counter", D2CALL(SetADDR_BR_Counter(41)), {}, 1, {{199, 41}}, {{D2, 13, 0x01}}, 0, m},
      {kDunmoMe2, "BR counter -1 refused", D2CALL(SetADDR_BR_Counter(-1)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "timeout 3", D2CALL(SetManualTimeout(3)), {{207, 0xE0}}, 1, {{207, 0xE3}}, {{D2, 15, 0x01}}, 0, m},
      {kDunmoMe2, "pick retry 7", D2CALL(SetPickRetry(7)), {}, 1, {{197, 0x08}}, {{D2, 31, 0x01}}, 0, m},
      {kDunmoMe2, "pick retry 8 refused", D2CALL(SetPickRetry(8)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "pick retry nibble 8", D2CALL(GetPickRetry(20)), {{197, 0x08}}, 7, {}, {}, 0},
      {kDunmoMe2, "pick retry zero nibble", D2CALL(GetPickRetry(20)), {}, 5, {}, {}, 0},
      {kDunmoMe2, "cleaning 0 ignored", D2CALL(SetCleaningTerms(0)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "cleaning 30, byte always merged", D2CALL(SetCleaningTerms(30)), {}, 1, {{183, 30}}, {}, 0, m},
      {kDunmoMe2, "cleaning 0 reads 10", D2CALL(GetCleaningTerms()), {}, 10, {}, {}, 0},
      {kDunmoMe2, "cleaning message", D2CALL(SetCleaningMessage(5)), {}, 1, {{49, 0x80}}, {{D2, 11, 0x02}}, 0, m},
      {kDunmoMe2, "papers after clean", D2CALL(GetPapersAfterClean()), {{48, 2}, {49, 0x81}}, 12900, {}, {}, 0},
      {kDunmoMe2, "tab crop 2", D2CALL(SetTabCropPosition(2)), {{128, 0xE0}}, 1, {{128, 0x00}, {177, 0x01}},
       {{D2, 16, 0x02}, {D2, 17, 0x01}}, 0, m},
      {kDunmoMe2, "tab crop 1", D2CALL(SetTabCropPosition(1)), {{177, 0x01}}, 1, {{128, 0x80}, {177, 0x00}},
       {{D2, 16, 0x02}, {D2, 17, 0x01}}, 0, m},
      {kDunmoMe2, "tab crop 3 does nothing", D2CALL(SetTabCropPosition(3)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "tab crop reads 2", D2CALL(GetTabCropPosition()), {{177, 0x01}, {128, 0x80}}, 2, {}, {}, 0},
      {kDunmoMe2, "dense enable", D2CALL(SetDenseBackGroundEnable(3)), {}, 1, {{178, 0x80}}, {{D2, 18, 0x01}}, 0, m},
      {kDunmoMe2, "dense 0 stores code 0", D2CALL(SetDenseBackGround(0)), {{178, 0x87}}, 1, {{178, 0x80}},
       {{D2, 18, 0x02}}, 0, m},
      {kDunmoMe2, "dense code 0 reads 3", D2CALL(GetDenseBackGround()), {}, 3, {}, {}, 0},
      {kDunmoMe2, "dense 1 stores code 2", D2CALL(SetDenseBackGround(1)), {}, 1, {{178, 0x02}}, {{D2, 18, 0x02}}, 0, m},
      {kDunmoMe2, "dense code 2 reads 1", D2CALL(GetDenseBackGround()), {{178, 0x02}}, 1, {}, {}, 0},
      {kDunmoMe2, "dense 6 does nothing", D2CALL(SetDenseBackGround(6)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "over/under 5", D2CALL(SetOverUnderCrop(5)), {{129, 0x0A}}, 1, {{129, 0x1A}}, {{D2, 19, 0x02}}, 0, m},
      {kDunmoMe2, "over/under nibble 1 reads 5", D2CALL(GetOverUnderCrop()), {{129, 0x1A}}, 5, {}, {}, 0},
      {kDunmoMe2, "over/under nibble 9 reads as 0", D2CALL(GetOverUnderCrop()), {{129, 0x90}}, 4, {}, {}, 0},
      {kDunmoMe2, "over/under nibble 15 reads as 0", D2CALL(GetOverUnderCrop()), {{129, 0xF0}}, 4, {}, {}, 0},
      {kDunmoMe2, "over/under 8 does nothing", D2CALL(SetOverUnderCrop(8)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "boundary 2 does nothing", D2CALL(SetAutoCropBoundary(2)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "boundary 1", D2CALL(SetAutoCropBoundary(1)), {}, 1, {{182, 0x80}}, {{D2, 14, 0x20}}, 0, m},
      {kDunmoMe2, "bus width 5 still marks", D2CALL(SetSCSIBusWidth(5)), {}, 0, {}, {{D2, 14, 0x04}}, 0},
      {kDunmoMe2, "bus width 1", D2CALL(SetSCSIBusWidth(1)), {}, 1, {{182, 0x08}}, {{D2, 14, 0x04}}, 0, m},
      {kDunmoMe2, "pick pressure 3 stores 1", D2CALL(SetPickPressure(3)), {}, 1, {{41, 0x01}}, {{D2, 20, 0x01}}, 0, m},
      {kDunmoMe2, "pick pressure code 3 reads 1", D2CALL(GetPickPressure()), {{41, 0x03}}, 1, {}, {}, 0},
      {kDunmoMe2, "power switch 1", D2CALL(SetPowerSWControl(1)), {}, 1, {{180, 0x80}}, {{D2, 21, 0x02}}, 0, m},
      {kDunmoMe2, "power switch 2 refused", D2CALL(SetPowerSWControl(2)), {}, 0, {}, {}, 0},
      {kDunmoMe2, "power switch 0x40 reads 1", D2CALL(GetPowerSWControl()), {{180, 0x40}}, 1, {}, {}, 0},
  });
}

TEST(RTOSMapper, Table) {
  const MergeLayout* m = &kRTOSLayout;
  CheckAll({
      {kTavrin5, "double feed 2", RCALL(SetDoubleFeedMode(2)), {}, 1, {{271, 0x10}}, {{R, 2, 0x06}}, 0, m},
      {kTavrin5, "check length 1", RCALL(SetDoubleFeedChkLengh(1)), {}, 1, {{271, 0x01}}, {{R, 2, 0x01}}, 0, m},
      {kTavrin5, "dropout 3 accepted", RCALL(SetDropoutColor(3)), {{297, 0x50}}, 1, {{296, 0x88}, {297, 0x58}},
       {{R, 12, 0x03}, {R, 13, 0x01}}, 0, m},
      {kTavrin5, "dropout nibble 8 reads 3", RCALL(GetDropoutColor()), {{296, 0x88}}, 3, {}, {}, 0},
      {kTavrin5, "dropout 5 refused", RCALL(SetDropoutColor(5)), {}, 0, {}, {}, 0},
      {kTavrin5, "pre-pick 0 sets", RCALL(SetPrePickMode(0)), {}, 1, {{329, 0x08}}, {{R, 5, 0x01}}, 0, m},
      {kTavrin5, "frame ADF", RCALL(SetDelFrameADF(1, -7, 2, 3)), {}, 1, {{264, 0xF1}, {263, 0x32}},
       {{R, 3, 0x03}, {R, 4, 0x03}}, 0, m},
      {kTavrin5, "frame FB", RCALL(SetDelFrameFB(1, 2, 3, 4)), {}, 1, {{266, 0x21}, {265, 0x43}},
       {{R, 0, 0x03}, {R, 1, 0x03}}, 0, m},
      {kTavrin5, "sensor mode", RCALL(SetSensorMode(1, 1)), {}, 1, {{284, 0x20}}, {{R, 9, 0x04}}, 0, m},
      {kTavrin5, "sensor start 1001", RCALL(SetSensorAreaStart(0, 1001)), {}, 1, {{274, 0x01}, {275, 0xF4}},
       {{R, 10, 0x03}}, 0, m},
      {kTavrin5, "sensor end 1200", RCALL(SetSensorAreaEnd(0, 1200)), {{274, 0x01}, {275, 0xF4}}, 1, {{281, 100}},
       {{R, 11, 0x03}}, 0, m},
      {kTavrin5, "sensor end reads", RCALL(GetSensorAreaEnd(0)), {{274, 0x01}, {275, 0xF4}, {281, 100}}, 1200, {}, {}, 0},
      {kTavrin5, "sensor end sum in 16 bits", RCALL(GetSensorAreaEnd(0)), {{274, 0xFF}, {275, 0xFF}, {281, 2}}, 2, {},
       {}, 0},
      {kTavrin5, "mf ignore 1", RCALL(SetMFignore(1)), {}, 1, {{299, 0x04}}, {{R, 14, 0x01}}, 0, m},
      {kTavrin5, "mf initial", RCALL(SetMFinital(1, 0)), {}, 1, {{299, 0x40}}, {{R, 14, 0x08}}, 0, m},
      {kTavrin5, "mf memory inverted", RCALL(SetMFmemory(1)), {{299, 0x80}}, 1, {{299, 0x00}}, {{R, 14, 0x10}}, 0, m},
      {kTavrin5, "scan button", RCALL(SetScanBtn(0)), {}, 1, {}, {}, 0},
      {kTavrin5, "PR counter 20", RCALL(SetADDR_PR_Counter(20)), {}, 1, {{469, 0x03}, {470, 0x0D}, {471, 0x40}},
       {{R, 7, 0x0F}}, 0, m},
      {kTavrin5, "PR counter reads 20", RCALL(GetADDR_PR_Counter()), {{469, 0x03}, {470, 0x0D}, {471, 0x40}}, 20, {},
       {}, 0},
      {kTavrin5, "PR counter 5,000 falls back", RCALL(GetADDR_PR_Counter()), {{470, 0x13}, {471, 0x88}}, 20, {}, {}, 0},
      {kTavrin5, "PR counter 256 refused", RCALL(SetADDR_PR_Counter(256)), {}, 0, {}, {}, 0},
      {kTavrin5, "BR counter 255", RCALL(SetADDR_BR_Counter(255)), {{464, 0x77}}, 1,
       {{464, 0x00}, {465, 0x26}, {466, 0xE8}, {467, 0xF0}}, {{R, 8, 0x0F}}, 0, m},
      {kTavrin5, "BR counter 2,550,001 falls back", RCALL(GetADDR_BR_Counter()), {{465, 0x26}, {466, 0xE8}, {467, 0xF1}},
       20, {}, {}, 0},
      {kTavrin5, "SP counter unchecked", RCALL(SetADDR_SP_Counter(-1)), {}, 1,
       {{452, 0xFF}, {453, 0xFF}, {454, 0xD8}, {455, 0xF0}}, {{R, 6, 0x0F}}, 0, m},
      // 300,000 x 10,000 does not fit 32 signed bits; it is stored modulo 2^32.
      {kTavrin5, "SP counter beyond int", RCALL(SetADDR_SP_Counter(300000)), {}, 1,
       {{452, 0xB2}, {453, 0xD0}, {454, 0x5E}, {455, 0x00}}, {{R, 6, 0x0F}}, 0, m},
      {kTavrin5, "SP counter INT_MIN", RCALL(SetADDR_SP_Counter(INT_MIN)), {}, 1, {}, {{R, 6, 0x0F}}, 0},
      {kTavrin5, "SP counter reads", RCALL(GetADDR_SP_Counter()), {{453, 0x01}, {454, 0x86}, {455, 0xA0}}, 10, {}, {}, 0},
      {kTavrin5, "timeout 12", RCALL(SetManualTimeout(12)), {{295, 0xE0}}, 1, {{295, 0xEC}}, {{R, 18, 0x01}}, 0, m},
      {kTavrin5, "feed time below limit", RCALL(GetManualFeedTimeSetting(5)), {{295, 3}}, 3, {}, {}, 0},
      {kTavrin5, "feed time at limit", RCALL(GetManualFeedTimeSetting(5)), {{295, 12}}, 4, {}, {}, 0},
      {kTavrin5, "feed time 13 refused", RCALL(SetManualFeedTimeSetting(13)), {}, 0, {}, {}, 0},
      {kTavrin5, "feed setting", RCALL(SetManualFeedSetting(1)), {}, 1, {{295, 0x20}}, {{R, 18, 0x02}}, 0, m},
      {kTavrin5, "pick retry 11", RCALL(SetPickRetry(11)), {}, 1, {{270, 0x0C}}, {{R, 15, 0x01}}, 0, m},
      {kTavrin5, "pick retry nibble 9, limit 5", RCALL(GetPickRetry(5)), {{270, 0x09}}, 2, {}, {}, 0},
      {kTavrin5, "power switch 2", RCALL(SetPowerSWControl(2)), {}, 1, {{220, 0xC0}}, {{R, 20, 0x02}}, 0, m},
      {kTavrin5, "power switch 0xC0 reads 2", RCALL(GetPowerSWControl()), {{220, 0xC0}}, 2, {}, {}, 0},
      {kTavrin5, "power switch 0x40 reads 0", RCALL(GetPowerSWControl()), {{220, 0x40}}, 0, {}, {}, 0},
      {kTavrin5, "start-up mode", RCALL(SetStartupMode(1)), {}, 1, {{220, 0x01}}, {{R, 20, 0x01}}, 0, m},
      {kTavrin5, "feed mode", RCALL(SetFeedMode(1)), {}, 1, {{341, 0x80}}, {{R, 21, 0x01}}, 0, m},
      {kTavrin5, "low speed inverted", RCALL(SetLowSpeedFeedMode(1)), {{341, 0x40}}, 1, {{341, 0x00}},
       {{R, 21, 0x02}}, 0, m},
      {kTavrin5, "stacking inverted", RCALL(SetStackingControl(0)), {}, 1, {{341, 0x20}}, {{R, 21, 0x04}}, 0, m},
      {kTavrin5, "tatesuji inverted", RCALL(SetTatesujiDetection(0)), {}, 1, {{339, 0x80}}, {{R, 38, 0x01}}, 0, m},
      {kTavrin5, "tatesuji level 100 reads 0", RCALL(GetTatesujiLevel()), {{340, 100}}, 0, {}, {}, 0},
      {kTavrin5, "tatesuji level 1 reads 64", RCALL(GetTatesujiLevel()), {{340, 1}}, 64, {}, {}, 0},
      {kTavrin5, "tatesuji level 200 reads 192", RCALL(GetTatesujiLevel()), {{340, 200}}, 192, {}, {}, 0},
      {kTavrin5, "tatesuji level 64", RCALL(SetTatesujiLevel(64)), {}, 1, {{340, 64}}, {{R, 39, 0x01}}, 0, m},
      {kTavrin5, "tatesuji level 65 refused", RCALL(SetTatesujiLevel(65)), {}, 0, {}, {}, 0},
      {kTavrin5, "cleaning 255", RCALL(SetCleaningTerms(255)), {}, 1, {{473, 0x03}, {474, 0xE4}, {475, 0x18}},
       {{R, 25, 0x0F}}, 0, m},
      {kTavrin5, "cleaning reads, top bits ignored", RCALL(GetCleaningTerms()), {{472, 0xF0}, {473, 0x03}, {474, 0xE4},
       {475, 0x18}}, 255, {}, {}, 0},
      {kTavrin5, "cleaning 999 falls back", RCALL(GetCleaningTerms()), {{474, 0x03}, {475, 0xE7}}, 5, {}, {}, 0},
      {kTavrin5, "cleaning 0 refused", RCALL(SetCleaningTerms(0)), {}, 0, {}, {}, 0},
      {kTavrin5, "pick pressure 3", RCALL(SetPickPressure(3)), {}, 1, {{364, 0x03}}, {{R, 48, 0x01}}, 0, m},
      {kTavrin5, "pick pressure 7 stores 1", RCALL(SetPickPressure(7)), {}, 1, {{364, 0x01}}, {{R, 48, 0x01}}, 0, m},
      {kTavrin5, "pick pressure code 3 reads 0", RCALL(GetPickPressure()), {{364, 0x03}}, 0, {}, {}, 0},
      {kTavrin5, "tab crop 1 keeps 0x1E", RCALL(SetTabCropPosition(1)), {{160, 0x1F}}, 1, {{160, 0x9E}},
       {{R, 49, 0x03}}, 0, m},
      {kTavrin5, "tab crop 3 does nothing", RCALL(SetTabCropPosition(3)), {}, 0, {}, {}, 0},
      {kTavrin5, "paper protection 0", RCALL(SetPaperProtection(0)), {{334, 0x02}}, 1, {{289, 0x02}, {334, 0x00}},
       {{R, 16, 0x01}, {R, 36, 0x01}}, 0, m},
      {kTavrin5, "paper protection P set Q clear reads 0", RCALL(GetPaperProtection()), {{289, 0x02}}, 0, {}, {}, 0},
      {kTavrin5, "paper protection 3", RCALL(SetPaperProtection(3)), {{289, 0x02}}, 1, {{289, 0x00}, {334, 0x02}},
       {{R, 16, 0x01}, {R, 36, 0x01}}, 0, m},
      {kTavrin5, "paper protection Q alone reads 3", RCALL(GetPaperProtection()), {{334, 0x02}}, 3, {}, {}, 0},
      {kTavrin5, "paper protection both read 2", RCALL(GetPaperProtection()), {{289, 0x02}, {334, 0x02}}, 2, {}, {}, 0},
      {kTavrin5, "paper protection 4 refused", RCALL(SetPaperProtection(4)), {}, 0, {}, {}, 0},
      {kTavrin5E, "Tavrin5E paper protection 5", RCALL(SetPaperProtection(5)), {}, 1, {}, {{R, 16, 0x01}}, 0},
      {kTavrin5E, "Tavrin5E paper protection 1", RCALL(SetPaperProtection(1)), {{334, 0x02}}, 1, {{289, 0x02}},
       {{R, 16, 0x01}}, 0, m},
      {kTavrin5E, "Tavrin5E reads P alone", RCALL(GetPaperProtection()), {{334, 0x02}}, 0, {}, {}, 0},
      {kTavrin5, "PP level 2 type 1", RCALL(SetPPDetectionLevel(2, 1)), {}, 1, {{335, 0x03}}, {{R, 37, 0x01}}, 0, m},
      {kTavrin5, "PP level type 2 refused", RCALL(SetPPDetectionLevel(2, 2)), {}, 0, {}, {}, 0},
      {kTavrin5, "PP level 1 type 0", RCALL(SetPPDetectionLevel(1, 0)), {}, 1, {{290, 0x01}}, {{R, 19, 0x01}}, 0, m},
      {kTavrin5, "PP level 3 leaves the byte", RCALL(SetPPDetectionLevel(3, 0)), {{290, 0x01}}, 1, {}, {{R, 19, 0x01}}, 0},
      {kTavrin5E, "Tavrin5E PP level type 1 is byte 290", RCALL(SetPPDetectionLevel(2, 1)), {}, 1, {{290, 0x03}},
       {{R, 19, 0x01}}, 0, m},
      {kTavrin5E, "Tavrin5E reads byte 290 for type 1", RCALL(GetPPDetectionLevel(1)), {{290, 0x03}, {335, 0x01}}, 2, {},
       {}, 0},
      {kTavrin5, "PP level reads byte 335 for type 1", RCALL(GetPPDetectionLevel(1)), {{290, 0x03}, {335, 0x01}}, 1, {},
       {}, 0},
      {kTavrin5, "PP level other type reads 0", RCALL(GetPPDetectionLevel(7)), {{290, 0x03}}, 0, {}, {}, 0},
  });
}

// The high nibble of the first frame byte reads in sign and magnitude; a
// caller that wants only some values passes null for the others.
TEST(LayoutMappers, FrameReadsSignedHighNibble) {
  struct Row {
    const char* layout;
    int abByte, cdByte;
    std::function<void(int*, int*, int*, int*)> get;
  } rows[] = {
      {"Tavrin3", 43, 50, [](int* a, int* b, int* c, int* d) { Tavrin3Mapper().GetDelFrameADF(a, b, c, d); }},
      {"DunmoMe2", 216, 217, [](int* a, int* b, int* c, int* d) { DunmoMe2Mapper().GetDelFrameADF(a, b, c, d); }},
      {"RTOS", 264, 263, [](int* a, int* b, int* c, int* d) { RTOSMapper().GetDelFrameADF(a, b, c, d); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.layout);
    ResetState();
    g_byEEPData[r.abByte] = 0xB5;
    g_byEEPData[r.cdByte] = 0x7C;
    int a = 0, b = 0, c = 0, d = 0;
    r.get(&a, &b, &c, &d);
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, -3);
    EXPECT_EQ(c, 12);
    EXPECT_EQ(d, 7);
    b = 0;
    r.get(nullptr, &b, nullptr, nullptr);
    EXPECT_EQ(b, -3);
  }
}

// The default count of the pick retry read turns 4 for the rest of the
// process once a Saldex3 model was seen (each test runs in its own process).
TEST(RTOSMapper, PickRetryDefaultAfterSaldex3) {
  ResetState();
  {
    ActiveModel active(kTavrin5);
    EXPECT_EQ(RTOSMapper().GetPickRetry(20), 2);
  }
  {
    ActiveModel active("Sx3K700");
    EXPECT_EQ(RTOSMapper().GetPickRetry(20), 3);
  }
  ActiveModel active(kTavrin5);
  EXPECT_EQ(RTOSMapper().GetPickRetry(20), 3);
}

// The change marker tells the write whether the limit was set when the
// setting was last read with no change pending.
TEST(RTOSMapper, UsbMaxSpeedMarkerAndPreviousValue) {
  ResetState();
  ActiveModel active(kTavrin5);
  CDevSetCtrl& ctrl = g_CDevSetCtrl;
  ctrl.UsbSpeedChangeMarker() = 0;
  ctrl.UsbSpeedPrevious() = 0;
  g_byEEPData[328] = 0x01;
  EXPECT_EQ(RTOSMapper().GetUsbMaxSpeed(), 0);
  EXPECT_EQ(ctrl.UsbSpeedPrevious(), 1);
  EXPECT_EQ(RTOSMapper().SetUsbMaxSpeed(1), 1);
  EXPECT_EQ(g_byEEPData[328], 0x00);
  EXPECT_EQ(g_RTOSmodFlags[40], 0x01);
  EXPECT_EQ(ctrl.UsbSpeedChangeMarker(), 1);
  // With a change pending, a read leaves the previous value alone.
  EXPECT_EQ(RTOSMapper().GetUsbMaxSpeed(), 1);
  EXPECT_EQ(ctrl.UsbSpeedPrevious(), 1);
  EXPECT_EQ(RTOSMapper().SetUsbMaxSpeed(2), 0);
  EXPECT_EQ(ctrl.UsbSpeedChangeMarker(), 1);
  // Back to no change pending: a read of the clear bit records 0, and a set
  // then leaves the marker 0.
  ctrl.UsbSpeedChangeMarker() = 0;
  EXPECT_EQ(RTOSMapper().GetUsbMaxSpeed(), 1);
  EXPECT_EQ(ctrl.UsbSpeedPrevious(), 0);
  EXPECT_EQ(RTOSMapper().SetUsbMaxSpeed(0), 1);
  EXPECT_EQ(g_byEEPData[328], 0x01);
  EXPECT_EQ(ctrl.UsbSpeedChangeMarker(), 0);
}

}  // namespace
// clang-format on
