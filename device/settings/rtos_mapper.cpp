#include "rtos_mapper.h"

#include "dev_set_ctrl.h"
#include "ft_device_group.h"
#include "setting_bits.h"

using namespace settings;

namespace {

uint8_t* const kSet = g_RTOSmodFlags;

int Accept(bool accepted, int flagByte, uint8_t bits) {
  if (!accepted) return 0;
  Mark(kSet, flagByte, bits);
  return 1;
}

int IsTavrin5EModel() { return FtDeviceGroup().IsTavrin5E(); }

// The thresholds are kept × 10,000 and read back only inside their window;
// outside it the model's own default applies.
int ScaledRead(uint32_t v, uint32_t scale, int fallbackIndex) {
  if (v >= scale && v <= 255 * scale) return static_cast<int>(v / scale);
  return LookupDeviceValue(g_cpActiveScannerName, fallbackIndex);
}
// Byte n is 0, the lower three bytes hold the scaled value.
bool ScaledWrite(int offset, int v, uint32_t scale, int least) {
  if (v < least || v > 255) return false;
  PutBE32(offset, static_cast<uint32_t>(v) * scale);
  return true;
}

}  // namespace

RTOSMapper::~RTOSMapper() = default;

int RTOSMapper::GetDoubleFeedMode() { return GetDoubleFeed(271); }
int RTOSMapper::SetDoubleFeedMode(int mode) { return Accept(SetDoubleFeed(271, mode), 2, 0x06); }
int RTOSMapper::GetDoubleFeedChkLengh() { return GetCheckLength(271); }
int RTOSMapper::SetDoubleFeedChkLengh(int len) { return Accept(SetCheckLength(271, len), 2, 0x01); }

int RTOSMapper::GetDropoutColor() {
  int n = Byte(296) & 0x0F;
  return n == 8 ? 3 : DropoutOfNibble(n, 4);
}
int RTOSMapper::SetDropoutColor(int colour) {
  if (!SetDropoutPair(296, colour, true)) return 0;
  Mark(kSet, 12, 0x03);
  return Accept(true, 13, 0x01);
}

int RTOSMapper::GetPrePickMode() { return Bit(329, 0x08) ? 2 : 1; }
int RTOSMapper::SetPrePickMode(int mode) {
  PutBit(329, 0x08, mode != 1);
  return Accept(true, 5, 0x01);
}

void RTOSMapper::GetDelFrameADF(int* a, int* b, int* c, int* d) { GetFrame(264, 263, true, a, b, c, d); }
int RTOSMapper::SetDelFrameADF(int a, int b, int c, int d) {
  if (!SetFrame(264, 263, true, a, b, c, d)) return 0;
  Mark(kSet, 3, 0x03);
  return Accept(true, 4, 0x03);
}
void RTOSMapper::GetDelFrameFB(int* a, int* b, int* c, int* d) { GetFrame(266, 265, false, a, b, c, d); }
int RTOSMapper::SetDelFrameFB(int a, int b, int c, int d) {
  if (!SetFrame(266, 265, false, a, b, c, d)) return 0;
  Mark(kSet, 0, 0x03);
  return Accept(true, 1, 0x03);
}

int RTOSMapper::GetSensorMode(int) { return Bit(284, 0x20); }
int RTOSMapper::SetSensorMode(int, int on) {
  PutBit(284, 0x20, on == 1);
  return Accept(true, 9, 0x04);
}
int RTOSMapper::GetSensorAreaStart(int) { return BE16(274) * 2; }
int RTOSMapper::SetSensorAreaStart(int, int pos) {
  PutBE16(274, static_cast<uint32_t>(pos / 2));
  return Accept(true, 10, 0x03);
}
int RTOSMapper::GetSensorAreaEnd(int) { return static_cast<uint16_t>(BE16(274) + BE16(280)) * 2; }
int RTOSMapper::SetSensorAreaEnd(int, int pos) {
  PutBE16(280, static_cast<uint32_t>(pos / 2 - BE16(274)));
  return Accept(true, 11, 0x03);
}

int RTOSMapper::GetMFignore() { return GetIgnoreCode(299); }
int RTOSMapper::SetMFignore(int value) { return Accept(SetIgnoreCode(299, value), 14, 0x01); }
int RTOSMapper::GetMFinital() { return Bit(299, 0x40); }
int RTOSMapper::SetMFinital(int value, int) { return Accept(SetFlag01(299, 0x40, value), 14, 0x08); }
int RTOSMapper::GetMFmemory() { return GetInverted(299, 0x80); }
int RTOSMapper::SetMFmemory(int value) { return Accept(SetInverted(299, 0x80, value), 14, 0x10); }

int RTOSMapper::GetScanBtn() { return 1; }
int RTOSMapper::SetScanBtn(int) { return 1; }

int RTOSMapper::GetADDR_PR_Counter() { return ScaledRead(BE32(468), 10000, 1); }
int RTOSMapper::SetADDR_PR_Counter(int v) { return Accept(ScaledWrite(468, v, 10000, 0), 7, 0x0F); }
int RTOSMapper::GetADDR_BR_Counter() { return ScaledRead(BE32(464), 10000, 0); }
int RTOSMapper::SetADDR_BR_Counter(int v) { return Accept(ScaledWrite(464, v, 10000, 0), 8, 0x0F); }
int RTOSMapper::GetADDR_SP_Counter() { return ScaledRead(BE32(452), 10000, 0); }
// Unchecked, as the caller gives it; the product is taken modulo 2^32 so
// that no value can overflow.
int RTOSMapper::SetADDR_SP_Counter(int v) {
  PutBE32(452, static_cast<uint32_t>(v) * 10000u);
  return Accept(true, 6, 0x0F);
}

int RTOSMapper::GetManualTimeout(int limit) { return GetTimeout(295, limit); }
int RTOSMapper::SetManualTimeout(int t) { return Accept(SetTimeout(295, t), 18, 0x01); }
int RTOSMapper::GetManualFeedTimeSetting(int limit) {
  int e = Bits(295, 0x1F);
  return e < limit ? e : MinusOne(limit);
}
int RTOSMapper::SetManualFeedTimeSetting(int t) { return Accept(SetTimeout(295, t), 18, 0x01); }
int RTOSMapper::GetManualFeedSetting() { return Bit(295, 0x20); }
int RTOSMapper::SetManualFeedSetting(int on) { return Accept(SetFlag01(295, 0x20, on), 18, 0x02); }

int RTOSMapper::GetPickRetry(int limit) {
  // Once a Saldex3 model was seen, the default count stays 4.
  static int defCount = 3;
  if (FtDeviceGroup().IsSaldex3()) defCount = 4;
  int d = Byte(270) & 0x0F;
  if (d == 0 || d > limit) d = defCount;
  return RetryCount(d, limit, 12);
}
int RTOSMapper::SetPickRetry(int n) { return Accept(SetRetryNibble(270, n, 11), 15, 0x01); }

int RTOSMapper::GetPowerSWControl() {
  switch (Bits(220, 0xC0)) {
    case 0x80:
      return 1;
    case 0xC0:
      return 2;
    default:
      return 0;
  }
}
int RTOSMapper::SetPowerSWControl(int value) {
  if (!SetPowerSwitch(220, value, 2)) return 0;
  MarkPair(kSet, 20);
  return 1;
}
int RTOSMapper::GetStartupMode() { return Bit(220, 0x01); }
int RTOSMapper::SetStartupMode(int mode) { return Accept(SetFlag01(220, 0x01, mode), 20, 0x01); }

int RTOSMapper::GetFeedMode() { return Bit(341, 0x80); }
int RTOSMapper::SetFeedMode(int mode) { return Accept(SetFlag01(341, 0x80, mode), 21, 0x01); }
int RTOSMapper::GetLowSpeedFeedMode() { return GetInverted(341, 0x40); }
int RTOSMapper::SetLowSpeedFeedMode(int mode) { return Accept(SetInverted(341, 0x40, mode), 21, 0x02); }
int RTOSMapper::GetStackingControl() { return GetInverted(341, 0x20); }
int RTOSMapper::SetStackingControl(int mode) { return Accept(SetInverted(341, 0x20, mode), 21, 0x04); }

int RTOSMapper::GetTatesujiDetection() { return GetInverted(339, 0x80); }
int RTOSMapper::SetTatesujiDetection(int on) { return Accept(SetInverted(339, 0x80, on), 38, 0x01); }
int RTOSMapper::GetTatesujiLevel() {
  int v = Byte(340);
  if (v >= 1 && v <= 64) return 64;
  return v >= 192 ? 192 : 0;
}
int RTOSMapper::SetTatesujiLevel(int level) {
  if (level != 0 && level != 64 && level != 192) return 0;
  SetByte(340, level);
  return Accept(true, 39, 0x01);
}

int RTOSMapper::GetCleaningTerms() { return ScaledRead(BE32(472) & 0x0FFFFFFFu, 1000, 7); }
int RTOSMapper::SetCleaningTerms(int n) { return Accept(ScaledWrite(472, n, 1000, 1), 25, 0x0F); }

int RTOSMapper::GetUsbMaxSpeed() {
  CDevSetCtrl& ctrl = g_CDevSetCtrl;
  int limited = Bit(328, 0x01);
  if (ctrl.UsbSpeedChangeMarker() == 0) ctrl.UsbSpeedPrevious() = limited;
  return !limited;
}
int RTOSMapper::SetUsbMaxSpeed(int value) {
  if (!SetInverted(328, 0x01, value)) return 0;
  CDevSetCtrl& ctrl = g_CDevSetCtrl;
  ctrl.UsbSpeedChangeMarker() = ctrl.UsbSpeedPrevious() != 0 ? 1 : 0;
  return Accept(true, 40, 0x01);
}

int RTOSMapper::GetPickPressure() {
  int v = Bits(364, 0x03);
  // No model of this library offers the higher pick pressure.
  return v == 3 ? 0 : v;
}
int RTOSMapper::SetPickPressure(int value) {
  PutBits(364, 0x03, value == 0 ? 0 : value == 2 ? 2 : value == 3 ? 3 : 1);
  return Accept(true, 48, 0x01);
}

int RTOSMapper::GetTabCropPosition() { return GetTabCrop(160); }
int RTOSMapper::SetTabCropPosition(int pos) { return Accept(SetTabCrop(160, pos), 49, 0x03); }

int RTOSMapper::GetPaperProtection() {
  int p = Bit(289, 0x02);
  if (IsTavrin5EModel()) return p;
  int q = Bit(334, 0x02);
  return p ? (q ? 2 : 0) : (q ? 3 : 1);
}
int RTOSMapper::SetPaperProtection(int value) {
  if (IsTavrin5EModel()) {
    if (value == 0 || value == 1) PutBit(289, 0x02, value == 1);
    return Accept(true, 16, 0x01);
  }
  // P and Q for the values 0..3.
  static const bool kP[] = {true, false, true, false};
  static const bool kQ[] = {false, false, true, true};
  if (value < 0 || value > 3) return 0;
  PutBit(289, 0x02, kP[value]);
  PutBit(334, 0x02, kQ[value]);
  Mark(kSet, 16, 0x01);
  return Accept(true, 36, 0x01);
}

int RTOSMapper::GetPPDetectionLevel(int type) {
  if (IsTavrin5EModel() || type == 0) return GetLevelCode(290);
  return type == 1 ? GetLevelCode(335) : 0;
}
int RTOSMapper::SetPPDetectionLevel(int level, int type) {
  if (IsTavrin5EModel() || type == 0) {
    SetLevelCode(290, level);
    return Accept(true, 19, 0x01);
  }
  if (type != 1) return 0;
  SetLevelCode(335, level);
  return Accept(true, 37, 0x01);
}
