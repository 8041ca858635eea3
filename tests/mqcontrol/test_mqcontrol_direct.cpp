// The accessors at one fixed place of the image for every model: their
// encodings, what they refuse, the marks they make and the changed flag.
#include <gtest/gtest.h>

#include <climits>

#include "settings_test_util.h"

// Tables are laid out by hand, one case a row.
// clang-format off
namespace {

using namespace settings_test;

constexpr const char* kModel = "Vantor410";

TEST(DirectAccessors, Table) {
  CheckAll({
      {kModel, "endorser on", CALL(SetEndorserOnOff(1)), {}, 0, {{33, 0x20}}, {}, 1},
      {kModel, "endorser 2 refused", CALL(SetEndorserOnOff(2)), {}, -1, {}, {}, 0},
      {kModel, "endorser digit", CALL(SetEndorserDigit(1)), {}, 0, {{35, 0x40}}, {}, 1},
      {kModel, "empty reset off", CALL(SetEndorserEmptyResetMode(2)), {{34, 0x21}}, 0, {{34, 0x01}}, {}, 1},
      {kModel, "empty reset 0 refused", CALL(SetEndorserEmptyResetMode(0)), {}, -1, {}, {}, 0},
      {kModel, "empty reset clear reads 2", CALL(GetEndorserEmptyResetMode()), {}, 2, {}, {}, 0},
      {kModel, "endorser value 5", CALL(GetEndorserInitial()), {{201, 5}}, 5, {}, {}, 0},
      {kModel, "endorser value capped at 99,999", CALL(GetEndorserInitial()), {{199, 0x03}, {200, 0x0D}, {201, 0x40}},
       99999, {}, {}, 0},
      {kModel, "endorser value with digit mode", CALL(GetEndorserInitial()),
       {{35, 0x40}, {199, 0x03}, {200, 0x0D}, {201, 0x40}}, 200000, {}, {}, 0},
      {kModel, "endorser value capped at 16,777,215", CALL(GetEndorserInitial()),
       {{35, 0x40}, {198, 0x7F}, {199, 0xFF}, {200, 0xFF}, {201, 0xFF}}, 16777215, {}, {}, 0},
      {kModel, "negative endorser value reads 0", CALL(GetEndorserInitial()),
       {{198, 0xFF}, {199, 0xFF}, {200, 0xFF}, {201, 0xFF}}, 0, {}, {}, 0},
      {kModel, "endorser 150000 stores 99,999", CALL(SetEndorserInitial(150000)), {{201, 5}}, 0,
       {{199, 0x01}, {200, 0x86}, {201, 0x9F}}, {}, 1},
      {kModel, "endorser 5 over 5 changes nothing", CALL(SetEndorserInitial(5)), {{201, 5}}, 0, {}, {}, 0},
      {kModel, "endorser -4 stores 0", CALL(SetEndorserInitial(-4)), {{201, 5}}, 0, {{201, 0}}, {}, 1},
      {kModel, "endorser 20,000,000 with digit mode", CALL(SetEndorserInitial(20000000)), {{35, 0x40}}, 0,
       {{199, 0xFF}, {200, 0xFF}, {201, 0xFF}}, {}, 1},
      {kModel, "counter reset request", CALL(SetEndorserCounterReset()), {}, 0, {}, {}, 0},
      {kModel, "FB fine 3 refused", CALL(SetFBFineMode(3)), {}, -1, {}, {}, 0},
      {kModel, "FB fine on", CALL(SetFBFineMode(1)), {}, 0, {{210, 0x01}}, {}, 1},
      {kModel, "thin paper on", CALL(SetThinPaperMode(1)), {}, 0, {{212, 0x01}}, {}, 1},
      {kModel, "auto crop off", CALL(SetAutoCropMode(2)), {{209, 0xFF}}, 0, {{209, 0xFE}}, {}, 1},
      {kModel, "tatesuji clear reads 2", CALL(GetTatesujijokyo()), {}, 2, {}, {}, 0},
      {kModel, "tatesuji on", CALL(SetTatesujijokyo(1)), {}, 0, {{192, 0x80}}, {}, 1},
      {kModel, "small paper on", CALL(SetSmallPaperMode(1)), {}, 0, {{192, 0x08}}, {}, 1},
      {kModel, "interface 1", CALL(SetInterfaceMode(1)), {}, 0, {{192, 0x01}}, {}, 1},
      {kModel, "panel 1", CALL(SetPanelSetting(1)), {}, 0, {{195, 0x08}}, {}, 1},
      {kModel, "manual feed MF 1", CALL(SetManualFeedMF(1)), {}, 0, {{212, 0x04}}, {}, 1},
      {kModel, "skew 2 refused", CALL(SetSkewDetection(2)), {}, -1, {}, {}, 0},
      {kModel, "skew 1", CALL(SetSkewDetection(1)), {}, 0, {{193, 0x40}}, {}, 1},
      {kModel, "jam 5 clears", CALL(SetJamDetection(5)), {{193, 0x02}}, 0, {{193, 0x00}},
       {{VA, 1, 0x04}, {VB, 1, 0x04}, {P, 1, 0x04}}, 1},
      {kModel, "skew jam 1", CALL(SetSkewJamDetection(1)), {}, 0, {{193, 0x80}},
       {{VA, 1, 0x01}, {VB, 1, 0x01}, {P, 1, 0x01}}, 1},
      {kModel, "pick speed 1 on 0xC2", CALL(SetPickSpeed(1)), {{193, 0xC2}}, 0, {{193, 0x10}}, {}, 1},
      {kModel, "pick speed 3 refused", CALL(SetPickSpeed(3)), {{193, 0xC2}}, -1, {}, {}, 0},
      {kModel, "pick speed 0x20 reads 2", CALL(GetPickSpeed()), {{193, 0x20}}, 2, {}, {}, 0},
      {kModel, "pick speed 0x30 reads 0", CALL(GetPickSpeed()), {{193, 0x30}}, 0, {}, {}, 0},
      {kModel, "thin paper 2", CALL(SetThinPaperMode2(2)), {}, 0, {{193, 0x30}},
       {{VA, 1, 0x02}, {VB, 1, 0x02}, {P, 1, 0x02}}, 1},
      {kModel, "thin paper 9 clears", CALL(SetThinPaperMode2(9)), {{193, 0x3F}}, 0, {{193, 0x0F}},
       {{VA, 1, 0x02}, {VB, 1, 0x02}, {P, 1, 0x02}}, 1},
      {kModel, "thin paper 0x20 reads 1", CALL(GetThinPaperMode2()), {{193, 0x20}}, 1, {}, {}, 0},
      {kModel, "slice 0 reads 5", CALL(GetColorDetectionSliceVal()), {}, 5, {}, {}, 0},
      {kModel, "slice low 8 bits", CALL(SetColorDetectionSliceVal(0x105)), {}, 0, {{194, 5}}, {}, 1},
      {kModel, "slice unchanged leaves flag", CALL(SetColorDetectionSliceVal(5)), {{194, 5}}, 0, {}, {}, 0},
      {kModel, "SP 0 reads 60", CALL(GetADDR_SP_Counter()), {}, 60, {}, {}, 0},
      {kModel, "SP 300 stores 44", CALL(SetADDR_SP_Counter(300)), {}, 0, {{200, 44}}, {}, 1},
      {kModel, "SR 0 reads 60", CALL(GetADDR_SR_Counter()), {}, 60, {}, {}, 0},
      {kModel, "SR 7", CALL(SetADDR_SR_Counter(7)), {}, 0, {{201, 7}}, {}, 1},
      {kModel, "overscan plus code 4 reads 3", CALL(GetOverscanPlus()), {{117, 0x0C}}, 3, {}, {}, 0},
      {kModel, "overscan plus code 5 reads 0", CALL(GetOverscanPlus()), {{117, 0x05}}, 0, {}, {}, 0},
      {kModel, "overscan plus 3 stores 4", CALL(SetOverscanPlus(3)), {{117, 0xF0}}, 0, {{117, 0x04}}, {}, 1},
      {kModel, "overscan plus 0 whole byte", CALL(SetOverscanPlus(0)), {{117, 0xFF}}, 0, {{117, 0x00}}, {}, 1},
      {kModel, "overscan plus 4 refused", CALL(SetOverscanPlus(4)), {}, -1, {}, {}, 0},
      {kModel, "volume 7", CALL(SetVolume(7)), {}, 0, {{182, 0x04}}, {{P, 7, 0x02}}, 1},
      {kModel, "imprinter 2 on 0x24", CALL(SetSelectInprinter(2)), {{182, 0x24}}, 0, {{182, 0x44}},
       {{VA, 7, 0x10}, {VB, 7, 0x10}, {P, 7, 0x10}}, 1},
      {kModel, "imprinter 3 refused", CALL(SetSelectInprinter(3)), {}, -1, {}, {}, 0},
      {kModel, "imprinter 0x60 reads 0", CALL(GetSelectInprinter()), {{182, 0x60}}, 0, {}, {}, 0},
      {kModel, "jpeg at the model's byte", CALL(SetJpegCompression(1)), {}, 0, {{202, 0x08}}, {}, 1},
      {"NoSuchModel", "jpeg at byte 202 without a value", CALL(SetJpegCompression(1)), {}, 0, {{202, 0x08}}, {}, 1},
      {kModel, "auto separation", CALL(SetAutoSeparationControl(1)), {}, 0, {{331, 0x01}}, {{P, 34, 0x01}}, 1},
      {kModel, "stacking emphasis 2", CALL(SetStackingControlEmphasis(2)), {{331, 0x11}}, 0, {{331, 0x21}},
       {{P, 34, 0x02}}, 1},
      {kModel, "stacking emphasis 3 refused", CALL(SetStackingControlEmphasis(3)), {}, -1, {}, {}, 0},
      {kModel, "PP range 7 still marks", CALL(SetPPDetectionRange(7)), {{353, 0x30}}, 0, {}, {{P, 17, 0x08}}, 1},
      {kModel, "PP range 1", CALL(SetPPDetectionRange(1)), {{353, 0x30}}, 0, {{353, 0x10}}, {{P, 17, 0x08}}, 1},
      {kModel, "PP range 0x30 reads 0", CALL(GetPPDetectionRange()), {{353, 0x30}}, 0, {}, {}, 0},
      {kModel, "solenoid 2 does nothing", CALL(SetPickSolenoid(2)), {}, 0, {}, {}, 0},
      {kModel, "solenoid 1", CALL(SetPickSolenoid(1)), {}, 0, {{180, 0x01}},
       {{VA, 0, 0x01}, {VB, 0, 0x01}, {P, 0, 0x01}}, 1},
      {kModel, "pause 5 still marks", CALL(SetPause(5)), {}, 0, {}, {{VA, 0, 0x02}, {VB, 0, 0x02}, {P, 0, 0x02}}, 1},
      {kModel, "pause 1", CALL(SetPause(1)), {}, 0, {{180, 0x02}}, {{VA, 0, 0x02}, {VB, 0, 0x02}, {P, 0, 0x02}}, 1},
      {kModel, "MF memory 2 clears", CALL(SetMFMemory(2)), {{203, 0x80}}, 0, {{203, 0x00}}, {{P, 12, 0x10}}, 1},
      {kModel, "multifeed stop 2", CALL(SetMultiFeedStop(2)), {}, 0, {}, {}, 0},
      {kModel, "multifeed stop 1", CALL(SetMultiFeedStop(1)), {}, 1, {{203, 0x20}}, {{P, 12, 0x04}}, 1},
      {kModel, "MF retries nibble 5 reads 1", CALL(GetMFRetries()), {{355, 0x05}}, 1, {}, {}, 0},
      {kModel, "MF retries nibble 8 reads 8", CALL(GetMFRetries()), {{355, 0x08}}, 8, {}, {}, 0},
      {kModel, "MF retries 4 still marks", CALL(SetMFRetries(4)), {}, 0, {}, {{P, 15, 0x01}}, 1},
      {kModel, "MF retries 8", CALL(SetMFRetries(8)), {{355, 0x80}}, 0, {{355, 0x88}}, {{P, 15, 0x01}}, 1},
      {kModel, "staple", CALL(SetStaple(3)), {}, 0, {{354, 0x08}}, {{P, 14, 0x02}}, 1},
      {kModel, "staple position 2", CALL(SetStaplePos(2)), {}, 0, {{354, 0x02}}, {{P, 14, 0x01}}, 1},
      {kModel, "staple position 3 still marks", CALL(SetStaplePos(3)), {}, 0, {}, {{P, 14, 0x01}}, 1},
      {kModel, "staple sensitivity 2", CALL(SetStapleSensitivity(2)), {}, 0, {{354, 0x20}}, {{P, 14, 0x04}}, 1},
      {kModel, "custom colour type 4", CALL(SetCustomColor(4, 0x1AB)), {}, 0, {{372, 0xAB}}, {{P, 21, 0x01}}, 1},
      {kModel, "custom colour type 10", CALL(SetCustomColor(10, 5)), {}, 0, {}, {}, 1},
      {kModel, "custom colour type 9 reads", CALL(GetCustomColor(9)), {{378, 77}}, 77, {}, {}, 0},
      {kModel, "custom sensitivity type 3", CALL(SetCustomSensi(3, 9)), {}, 0, {{379, 9}}, {{P, 29, 0x01}}, 1},
      {kModel, "custom black type 2", CALL(SetCustomBlack(2, 1)), {}, 0, {{166, 0x02}}, {{P, 30, 0x02}}, 1},
      {kModel, "custom black 5 clears", CALL(SetCustomBlack(2, 5)), {{166, 0x02}}, 0, {{166, 0x00}}, {{P, 30, 0x02}}, 1},
      {kModel, "custom black 2 type 3", CALL(SetCustomBlack2(3)), {}, 0, {{166, 0x04}}, {{P, 30, 0x04}}, 1},
      {kModel, "custom black 2 reads 1", CALL(GetCustomBlack2(1)), {}, 1, {}, {}, 0},
      {kModel, "custom special type 3", CALL(SetCustomSpeci(3, 1)), {}, 0, {{166, 0x40}}, {{P, 30, 0x20}}, 1},
      {kModel, "custom special type 1 reads", CALL(GetCustomSpeci(1)), {{166, 0x10}}, 1, {}, {}, 0},
      {kModel, "drop custom", CALL(SetDropCustom(1)), {}, 0, {{166, 0x80}}, {{P, 30, 0x40}}, 1},
      {kModel, "button 0 unavailable", CALL(SetPanelButtonAvailable(0, 0)), {}, 1, {{177, 0x01}}, {{P, 32, 0x01}}, 1},
      {kModel, "button 5 available", CALL(SetPanelButtonAvailable(5, 1)), {{177, 0x21}}, 1, {{177, 0x01}},
       {{P, 32, 0x20}}, 1},
      {kModel, "button 3 changes nothing", CALL(SetPanelButtonAvailable(3, 0)), {}, 1, {}, {}, 0},
      {kModel, "button 5 set bit reads 0", CALL(GetPanelButtonAvailable(5)), {{177, 0x20}}, 0, {}, {}, 0},
      {kModel, "button 2 reads 1", CALL(GetPanelButtonAvailable(2)), {{177, 0xFF}}, 1, {}, {}, 0},
      {kModel, "image quality 0 clears the byte", CALL(SetImageQualityMode(0)), {{352, 0xFF}}, 0, {{352, 0x00}}, {{P, 13, 0x07}}, 1},
      {kModel, "image quality 1", CALL(SetImageQualityMode(1)), {{352, 0x10}}, 0, {{352, 0x11}}, {{P, 13, 0x01}}, 1},
      {kModel, "image quality 2 refused", CALL(SetImageQualityMode(2)), {}, -1, {}, {}, 0},
      {kModel, "crop frame", CALL(SetAutoCropFrame(3, 2, 0, 0)), {}, 0, {{184, 0x23}}, {}, 1},
      {kModel, "crop frame at the ends of int", CALL(SetAutoCropFrame(INT_MIN, INT_MIN, -1, -1)), {}, 0,
       {{185, 0xFF}}, {}, 1},
      {kModel, "crop frame again", CALL(SetAutoCropFrame(3, 2, 0, 0)), {{184, 0x23}}, 0, {}, {}, 0},
      {kModel, "failure IPC", CALL(GetFailureTimesIPC()), {{361, 200}}, 200, {}, {}, 0},
      {kModel, "failure background", CALL(GetFailureTimesBackgroundChageover()), {{363, 9}}, 9, {}, {}, 0},
      {kModel, "ADF counter", CALL(GetCounterADF()), {{46, 0x02}, {47, 0x01}, {38, 7}}, 129070, {}, {}, 0},
      {kModel, "FB counter", CALL(GetCounterFB()), {{44, 0x01}, {39, 1}}, 510, {}, {}, 0},
      {kModel, "separator roller", CALL(GetCounterSeparatorRoller()), {{125, 0x01}}, 128000, {}, {}, 0},
      {kModel, "raw byte 255", CALL(GetEepromData(255)), {{255, 0xAB}}, 0xAB, {}, {}, 0},
      {kModel, "higher pressure", CALL(IsPickPressureHigherAvailable()), {}, 0, {}, {}, 0},
  });
}

TEST(DirectAccessors, CounterResetRequestAndFrameRead) {
  ResetState();
  g_CDevSetCtrl.SetEndorserCounterReset();
  EXPECT_EQ(g_CDevSetCtrl.GetEndorserCounterReset(), 2);
  g_byEEPData[184] = 0x23;
  g_byEEPData[185] = 0xF1;
  int a = -1, b = -1, c = -1, d = -1;
  g_CDevSetCtrl.GetAutoCropFrame(&a, &b, &c, &d);
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, 1);
  EXPECT_EQ(d, 15);
}

}  // namespace
// clang-format on
