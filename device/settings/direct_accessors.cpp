// Settings at one fixed place of the image for every model. The accessors
// do not ask the family: a caller asks only for what the active model has.
#include "dev_set_ctrl.h"
#include "setting_bits.h"

using namespace settings;

namespace {

// "On-off": 1 means the bit is set, 2 that it is clear.
int GetOnOff(int offset, uint8_t mask) { return Bit(offset, mask) ? 1 : 2; }
bool SetOnOff(int offset, uint8_t mask, int value) {
  if (value != 1 && value != 2) return false;
  PutBit(offset, mask, value == 1);
  return true;
}

// A two-bit field with codes 0x10 (1) and 0x20 (2), as several rows keep it.
int GetCode12(int offset, uint8_t lowBit) {
  int v = Bits(offset, lowBit * 3);
  return v == lowBit ? 1 : v == lowBit * 2 ? 2 : 0;
}
bool SetCode12(int offset, uint8_t lowBit, int value) {
  if (value < 0 || value > 2) return false;
  PutBits(offset, lowBit * 3, value * lowBit);
  return true;
}

int EndorserValue() { return static_cast<int32_t>(BE32(198)); }

int JpegByte() {
  int offset = LookupDeviceValue(g_cpActiveScannerName, 8);
  return offset >= 0 && offset < kEepromImageSize ? offset : 202;
}

// The custom-colour bytes by type 1..9 and the sensitivity bytes by type 1..3.
const int kCustomColorByte[] = {368, 369, 370, 372, 373, 374, 376, 377, 378};
const int kCustomSensiByte[] = {371, 375, 379};
bool TypeIn(int type, int count) { return type >= 1 && type <= count; }

int Counter(int lowByte, int factor) { return (Byte(lowByte) | Byte(lowByte + 1) << 8) * factor; }

}  // namespace

int CDevSetCtrl::GetEndorserOnOff() { return Bit(33, 0x20); }
int CDevSetCtrl::SetEndorserOnOff(int value) { return Result(SetFlag01(33, 0x20, value)); }
int CDevSetCtrl::GetEndorserDigit() { return Bit(35, 0x40); }
int CDevSetCtrl::SetEndorserDigit(int value) { return Result(SetFlag01(35, 0x40, value)); }
int CDevSetCtrl::GetEndorserEmptyResetMode() { return GetOnOff(34, 0x20); }
int CDevSetCtrl::SetEndorserEmptyResetMode(int value) { return Result(SetOnOff(34, 0x20, value)); }

int CDevSetCtrl::GetEndorserInitial() {
  int v = EndorserValue();
  if (v < 0) return 0;
  int most = GetEndorserDigit() == 1 ? 16777215 : 99999;
  return v < most ? v : most;
}
// The unclamped value is compared with the stored one, so asking again for
// a value beyond the limit rewrites nothing.
int CDevSetCtrl::SetEndorserInitial(int value) {
  int c = value;
  if (value < 0)
    c = 0;
  else if (GetEndorserDigit() == 1 ? value >= 16777216 : value >= 100000)
    c = GetEndorserDigit() == 1 ? 16777215 : 99999;
  if (value != EndorserValue()) {
    PutBE32(198, static_cast<uint32_t>(c));
    SetSettingChanged();
  }
  return 0;
}

int CDevSetCtrl::GetEndorserCounterReset() { return m_nEndorserReset & 2; }
int CDevSetCtrl::SetEndorserCounterReset() {
  m_nEndorserReset |= 2;
  return 0;
}

int CDevSetCtrl::GetFBFineMode() { return GetOnOff(210, 0x01); }
int CDevSetCtrl::SetFBFineMode(int value) { return Result(SetOnOff(210, 0x01, value)); }
int CDevSetCtrl::GetThinPaperMode() { return GetOnOff(212, 0x01); }
int CDevSetCtrl::SetThinPaperMode(int value) { return Result(SetOnOff(212, 0x01, value)); }
int CDevSetCtrl::GetAutoCropMode() { return GetOnOff(209, 0x01); }
int CDevSetCtrl::SetAutoCropMode(int value) { return Result(SetOnOff(209, 0x01, value)); }
int CDevSetCtrl::GetTatesujijokyo() { return GetOnOff(192, 0x80); }
int CDevSetCtrl::SetTatesujijokyo(int value) { return Result(SetOnOff(192, 0x80, value)); }
int CDevSetCtrl::GetSmallPaperMode() { return GetOnOff(192, 0x08); }
int CDevSetCtrl::SetSmallPaperMode(int value) { return Result(SetOnOff(192, 0x08, value)); }
int CDevSetCtrl::GetInterfaceMode() { return Bit(192, 0x01); }
int CDevSetCtrl::SetInterfaceMode(int value) { return Result(SetFlag01(192, 0x01, value)); }
int CDevSetCtrl::GetPanelSetting() { return Bit(195, 0x08); }
int CDevSetCtrl::SetPanelSetting(int value) { return Result(SetFlag01(195, 0x08, value)); }
int CDevSetCtrl::GetManualFeedMF() { return Bit(212, 0x04); }
int CDevSetCtrl::SetManualFeedMF(int value) { return Result(SetFlag01(212, 0x04, value)); }
int CDevSetCtrl::GetSkewDetection() { return Bit(193, 0x40); }
int CDevSetCtrl::SetSkewDetection(int value) { return Result(SetFlag01(193, 0x40, value)); }

int CDevSetCtrl::GetJamDetection() { return Bit(193, 0x02); }
int CDevSetCtrl::SetJamDetection(int value) {
  PutBit(193, 0x02, value == 1);
  MarkVantorPilvo(1, 0x04);
  return Accepted();
}
int CDevSetCtrl::GetSkewJamDetection() { return Bit(193, 0x80); }
int CDevSetCtrl::SetSkewJamDetection(int value) {
  PutBit(193, 0x80, value == 1);
  MarkVantorPilvo(1, 0x01);
  return Accepted();
}

int CDevSetCtrl::GetPickSpeed() { return GetCode12(193, 0x10); }
// The whole byte: the detection bits that share it are cleared with it.
int CDevSetCtrl::SetPickSpeed(int value) {
  if (value < 0 || value > 2) return -1;
  SetByte(193, value * 0x10);
  return Accepted();
}
int CDevSetCtrl::GetThinPaperMode2() {
  int v = Bits(193, 0x30);
  return v == 0x20 ? 1 : v == 0x30 ? 2 : 0;
}
int CDevSetCtrl::SetThinPaperMode2(int value) {
  PutBits(193, 0x30, value == 1 ? 0x20 : value == 2 ? 0x30 : 0);
  MarkVantorPilvo(1, 0x02);
  return Accepted();
}

int CDevSetCtrl::GetColorDetectionSliceVal() { return Byte(194) ? Byte(194) : 5; }
int CDevSetCtrl::SetColorDetectionSliceVal(int value) {
  if (Update(194, value)) SetSettingChanged();
  return 0;
}
int CDevSetCtrl::GetADDR_SP_Counter() { return Byte(200) ? Byte(200) : 60; }
int CDevSetCtrl::SetADDR_SP_Counter(int value) {
  SetByte(200, value);
  return Accepted();
}
int CDevSetCtrl::GetADDR_SR_Counter() { return Byte(201) ? Byte(201) : 60; }
int CDevSetCtrl::SetADDR_SR_Counter(int value) {
  SetByte(201, value);
  return Accepted();
}

int CDevSetCtrl::GetOverscanPlus() {
  int code = Bits(117, 0x07);
  return code >= 2 && code <= 4 ? code - 1 : 0;
}
int CDevSetCtrl::SetOverscanPlus(int value) {
  if (value < 0 || value > 3) return -1;
  SetByte(117, value ? value + 1 : 0);
  return Accepted();
}

int CDevSetCtrl::GetVolume() { return Bit(182, 0x04); }
int CDevSetCtrl::SetVolume(int value) {
  PutBit(182, 0x04, value != 0);
  Mark(g_PilvomodFlags, 7, 0x02);
  return Accepted();
}
int CDevSetCtrl::GetSelectInprinter() { return GetCode12(182, 0x20); }
int CDevSetCtrl::SetSelectInprinter(int value) {
  if (!SetCode12(182, 0x20, value)) return -1;
  MarkVantorPilvo(7, 0x10);
  return Accepted();
}

int CDevSetCtrl::GetJpegCompression() { return Bit(JpegByte(), 0x08); }
int CDevSetCtrl::SetJpegCompression(int value) { return Result(SetFlag01(JpegByte(), 0x08, value)); }

int CDevSetCtrl::GetAutoSeparationControl() { return Bit(331, 0x01); }
int CDevSetCtrl::SetAutoSeparationControl(int value) {
  if (!SetFlag01(331, 0x01, value)) return -1;
  Mark(g_PilvomodFlags, 34, 0x01);
  return Accepted();
}
int CDevSetCtrl::GetStackingControlEmphasis() { return GetCode12(331, 0x10); }
int CDevSetCtrl::SetStackingControlEmphasis(int value) {
  if (!SetCode12(331, 0x10, value)) return -1;
  MarkPair(g_PilvomodFlags, 34);
  return Accepted();
}

int CDevSetCtrl::GetPPDetectionRange() { return Bits(353, 0x30) == 0x10; }
int CDevSetCtrl::SetPPDetectionRange(int value) {
  if (value == 0 || value == 1) PutBits(353, 0x30, value * 0x10);
  Mark(g_PilvomodFlags, 17, 0x08);
  return Accepted();
}

int CDevSetCtrl::GetPickSolenoid() { return Bit(180, 0x01); }
int CDevSetCtrl::SetPickSolenoid(int value) {
  if (!SetFlag01(180, 0x01, value)) return 0;
  MarkVantorPilvo(0, 0x01);
  return Accepted();
}
int CDevSetCtrl::GetPause() { return Bit(180, 0x02); }
int CDevSetCtrl::SetPause(int value) {
  SetFlag01(180, 0x02, value);
  MarkVantorPilvo(0, 0x02);
  return Accepted();
}

int CDevSetCtrl::GetMFMemory() { return Bit(203, 0x80); }
int CDevSetCtrl::SetMFMemory(int value) {
  PutBit(203, 0x80, value == 1);
  Mark(g_PilvomodFlags, 12, 0x10);
  return Accepted();
}
int CDevSetCtrl::GetMultiFeedStop() { return Bit(203, 0x20); }
int CDevSetCtrl::SetMultiFeedStop(int value) {
  if (!SetFlag01(203, 0x20, value)) return 0;
  Mark(g_PilvomodFlags, 12, 0x04);
  SetSettingChanged();
  return 1;
}

int CDevSetCtrl::GetMFRetries() {
  int n = Bits(355, 0x0F);
  return n == 1 || n == 2 || n == 3 || n == 8 ? n : 1;
}
int CDevSetCtrl::SetMFRetries(int value) {
  if (value == 1 || value == 2 || value == 3 || value == 8) PutBits(355, 0x0F, value);
  Mark(g_PilvomodFlags, 15, 0x01);
  return Accepted();
}

int CDevSetCtrl::GetStaple() { return Bit(354, 0x08); }
int CDevSetCtrl::SetStaple(int value) {
  PutBit(354, 0x08, value != 0);
  Mark(g_PilvomodFlags, 14, 0x02);
  return Accepted();
}
int CDevSetCtrl::GetStaplePos() {
  int v = Bits(354, 0x03);
  return v == 3 ? 0 : v;
}
int CDevSetCtrl::SetStaplePos(int value) {
  if (value >= 0 && value <= 2) PutBits(354, 0x03, value);
  Mark(g_PilvomodFlags, 14, 0x01);
  return Accepted();
}
int CDevSetCtrl::GetStapleSensitivity() { return GetCode12(354, 0x10); }
int CDevSetCtrl::SetStapleSensitivity(int value) {
  SetCode12(354, 0x10, value);
  Mark(g_PilvomodFlags, 14, 0x04);
  return Accepted();
}

int CDevSetCtrl::GetCustomColor(int type) { return TypeIn(type, 9) ? Byte(kCustomColorByte[type - 1]) : 0; }
int CDevSetCtrl::SetCustomColor(int type, int value) {
  if (TypeIn(type, 9)) {
    SetByte(kCustomColorByte[type - 1], value);
    Mark(g_PilvomodFlags, 18 + type - 1, 0x01);
  }
  return Accepted();
}
int CDevSetCtrl::GetCustomSensi(int type) { return TypeIn(type, 3) ? Byte(kCustomSensiByte[type - 1]) : 0; }
int CDevSetCtrl::SetCustomSensi(int type, int value) {
  if (TypeIn(type, 3)) {
    SetByte(kCustomSensiByte[type - 1], value);
    Mark(g_PilvomodFlags, 27 + type - 1, 0x01);
  }
  return Accepted();
}

// Byte 166: black for types 1..3 in bits 0x01, 0x02, 0x04; special in bits
// 0x10, 0x20, 0x40, whose marks are the set's bits 0x08, 0x10, 0x20.
int CDevSetCtrl::GetCustomBlack(int type) { return TypeIn(type, 3) ? Bit(166, 1 << (type - 1)) : 0; }
int CDevSetCtrl::SetCustomBlack(int type, int on) {
  if (TypeIn(type, 3)) {
    PutBit(166, 1 << (type - 1), on == 1);
    Mark(g_PilvomodFlags, 30, 1 << (type - 1));
  }
  return Accepted();
}
int CDevSetCtrl::GetCustomBlack2(int) { return 1; }
int CDevSetCtrl::SetCustomBlack2(int type) {
  if (TypeIn(type, 3)) {
    PutBit(166, 1 << (type - 1), true);
    Mark(g_PilvomodFlags, 30, 1 << (type - 1));
  }
  return Accepted();
}
int CDevSetCtrl::GetCustomSpeci(int type) { return TypeIn(type, 3) ? Bit(166, 0x10 << (type - 1)) : 0; }
int CDevSetCtrl::SetCustomSpeci(int type, int on) {
  if (TypeIn(type, 3)) {
    PutBit(166, 0x10 << (type - 1), on == 1);
    Mark(g_PilvomodFlags, 30, 0x08 << (type - 1));
  }
  return Accepted();
}
int CDevSetCtrl::GetDropCustom() { return Bit(166, 0x80); }
int CDevSetCtrl::SetDropCustom(int value) {
  PutBit(166, 0x80, value == 1);
  Mark(g_PilvomodFlags, 30, 0x40);
  return Accepted();
}

// A set bit of byte 177 means that the button is not available.
int CDevSetCtrl::GetPanelButtonAvailable(int button) {
  if (button == 0) return !Bit(177, 0x01);
  if (button == 5) return !Bit(177, 0x20);
  return 1;
}
int CDevSetCtrl::SetPanelButtonAvailable(int button, int available) {
  if (button != 0 && button != 5) return 1;
  uint8_t bit = button == 0 ? 0x01 : 0x20;
  PutBit(177, bit, available == 0);
  Mark(g_PilvomodFlags, 32, bit);
  SetSettingChanged();
  return 1;
}

int CDevSetCtrl::GetImageQualityMode() { return Bit(352, 0x01); }
int CDevSetCtrl::SetImageQualityMode(int value) {
  if (value == 1) {
    PutBit(352, 0x01, true);
    Mark(g_PilvomodFlags, 13, 0x01);
  } else if (value == 0) {
    SetByte(352, 0);
    Mark(g_PilvomodFlags, 13, 0x07);
  } else {
    return -1;
  }
  return Accepted();
}

void CDevSetCtrl::GetAutoCropFrame(int* a, int* b, int* c, int* d) { GetFrame(184, 185, false, a, b, c, d); }
int CDevSetCtrl::SetAutoCropFrame(int a, int b, int c, int d) {
  bool changed = Update(184, NibblePair(a, b));
  changed = Update(185, NibblePair(c, d)) || changed;
  if (changed) SetSettingChanged();
  return 0;
}

int CDevSetCtrl::GetFailureTimesAdfFront() { return Byte(352); }
int CDevSetCtrl::GetFailureTimesAdfBack() { return Byte(353); }
int CDevSetCtrl::GetFailureTimesDrive() { return Byte(354); }
int CDevSetCtrl::GetFailureTimesFan() { return Byte(355); }
int CDevSetCtrl::GetFailureTimesMoterFuse() { return Byte(356); }
int CDevSetCtrl::GetFailureTimesLampFuse() { return Byte(357); }
int CDevSetCtrl::GetFailureTimesImageFoward() { return Byte(358); }
int CDevSetCtrl::GetFailureTimesScannerMemory() { return Byte(359); }
int CDevSetCtrl::GetFailureTimesScsiFuse() { return Byte(360); }
int CDevSetCtrl::GetFailureTimesIPC() { return Byte(361); }
int CDevSetCtrl::GetFailureTimesImprinter() { return Byte(362); }
int CDevSetCtrl::GetFailureTimesBackgroundChageover() { return Byte(363); }

int CDevSetCtrl::GetCounterADF() { return Counter(46, 500) + Byte(38) * 10; }
int CDevSetCtrl::GetCounterFB() { return Counter(44, 500) + Byte(39) * 10; }
int CDevSetCtrl::GetCounterPickRoller() { return Counter(60, 500); }
int CDevSetCtrl::GetCounterBrakeRoller() { return Counter(62, 500); }
int CDevSetCtrl::GetCounterSeparatorRoller() { return Counter(124, 500); }
int CDevSetCtrl::GetEepromData(unsigned char index) { return Byte(index); }
int CDevSetCtrl::IsPickPressureHigherAvailable() { return 0; }
int CDevSetCtrl::IsOverscanAutoEnable() { return 0; }
int CDevSetCtrl::IsOverscanAutoAvailable() { return 0; }
