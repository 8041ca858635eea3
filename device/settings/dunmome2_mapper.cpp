#include "dunmome2_mapper.h"

#include "setting_bits.h"

using namespace settings;

namespace {

uint8_t* const kSet = g_DunmoMe2modFlags;

int Accept(bool accepted, int flagByte, uint8_t bits) {
  if (!accepted) return 0;
  Mark(kSet, flagByte, bits);
  return 1;
}

}  // namespace

const int DunmoMe2Mapper::kOverUnderSet[8] = {0, 7, 6, 5, 4, 1, 2, 3};
const int DunmoMe2Mapper::kOverUnderRead[8] = {4, 5, 6, 7, 4, 3, 2, 1};
const int DunmoMe2Mapper::kDenseSet[6] = {0, 2, 3, 4, 5, 6};
const int DunmoMe2Mapper::kDenseRead[8] = {3, 3, 1, 2, 3, 4, 5, 3};

DunmoMe2Mapper::~DunmoMe2Mapper() = default;

int DunmoMe2Mapper::GetDoubleFeedMode() { return GetDoubleFeed(208); }
int DunmoMe2Mapper::SetDoubleFeedMode(int mode) { return Accept(SetDoubleFeed(208, mode), 0, 0x06); }
int DunmoMe2Mapper::GetDoubleFeedChkLengh() { return GetCheckLength(208); }
int DunmoMe2Mapper::SetDoubleFeedChkLengh(int len) { return Accept(SetCheckLength(208, len), 0, 0x01); }

int DunmoMe2Mapper::GetDropoutColor() {
  if (Bit(211, 0x08)) return 0;
  return DropoutOfNibble(Byte(211) & 0x0F, 3);
}
int DunmoMe2Mapper::SetDropoutColor(int colour) {
  static const uint8_t kCode211[] = {0x22, 0x44, 0x11, 0x77};
  static const uint8_t kCode210[] = {0x20, 0x40, 0x10, 0x70};
  if (colour < 0 || colour > 3) return 0;
  SetByte(211, kCode211[colour]);
  PutBits(210, 0x70, kCode210[colour]);
  Mark(kSet, 5, 0x03);
  return Accept(true, 6, 0x02);
}

int DunmoMe2Mapper::GetPrePickMode() { return Bit(210, 0x02) ? 2 : 1; }
int DunmoMe2Mapper::SetPrePickMode(int mode) {
  PutBit(210, 0x02, mode != 1);
  return Accept(true, 6, 0x01);
}

void DunmoMe2Mapper::GetDelFrameADF(int* a, int* b, int* c, int* d) { GetFrame(216, 217, true, a, b, c, d); }
int DunmoMe2Mapper::SetDelFrameADF(int a, int b, int c, int d) {
  if (!SetFrame(216, 217, true, a, b, c, d)) return 0;
  Mark(kSet, 1, 0x03);
  return Accept(true, 2, 0x03);
}
void DunmoMe2Mapper::GetDelFrameFB(int* a, int* b, int* c, int* d) { GetFrame(214, 215, false, a, b, c, d); }
int DunmoMe2Mapper::SetDelFrameFB(int a, int b, int c, int d) {
  if (!SetFrame(214, 215, false, a, b, c, d)) return 0;
  Mark(kSet, 3, 0x03);
  return Accept(true, 4, 0x03);
}

int DunmoMe2Mapper::GetSensorMode(int) { return Bit(192, 0x20); }
int DunmoMe2Mapper::SetSensorMode(int, int on) {
  PutBit(192, 0x20, on == 1);
  return Accept(true, 9, 0x04);
}
int DunmoMe2Mapper::GetSensorAreaStart(int) { return GetAreaStart(187); }
int DunmoMe2Mapper::SetSensorAreaStart(int, int pos) { return Accept(SetAreaStart(187, pos), 7, 0x01); }
int DunmoMe2Mapper::GetSensorAreaEnd(int) { return GetAreaEnd(187, 190); }
int DunmoMe2Mapper::SetSensorAreaEnd(int, int pos) { return Accept(SetAreaEnd(187, 190, pos), 8, 0x01); }

int DunmoMe2Mapper::GetMFignore() { return GetIgnoreCode(203); }
int DunmoMe2Mapper::SetMFignore(int value) { return Accept(SetIgnoreCode(203, value), 10, 0x01); }
int DunmoMe2Mapper::GetScanBtn() { return GetInverted(203, 0x10); }
int DunmoMe2Mapper::SetScanBtn(int value) { return Accept(SetInverted(203, 0x10, value), 10, 0x02); }
int DunmoMe2Mapper::GetMFinital() { return Bit(203, 0x40); }
int DunmoMe2Mapper::SetMFinital(int value, int) { return Accept(SetFlag01(203, 0x40, value), 10, 0x08); }
int DunmoMe2Mapper::GetMFmemory() { return GetInverted(203, 0x80); }
int DunmoMe2Mapper::SetMFmemory(int value) { return Accept(SetInverted(203, 0x80, value), 10, 0x10); }

int DunmoMe2Mapper::GetADDR_PR_Counter() { return Byte(198) ? Byte(198) : 25; }
int DunmoMe2Mapper::SetADDR_PR_Counter(int v) {
  if (v < 0 || v > 255) return 0;
  SetByte(198, v);
  return Accept(true, 12, 0x01);
}
int DunmoMe2Mapper::GetADDR_BR_Counter() { return Byte(199) ? Byte(199) : 25; }
int DunmoMe2Mapper::SetADDR_BR_Counter(int v) {
  if (v < 0 || v > 255) return 0;
  SetByte(199, v);
  return Accept(true, 13, 0x01);
}

int DunmoMe2Mapper::GetManualTimeout(int limit) { return GetTimeout(207, limit); }
int DunmoMe2Mapper::SetManualTimeout(int t) { return Accept(SetTimeout(207, t), 15, 0x01); }

int DunmoMe2Mapper::GetPickRetry(int limit) {
  int d = Byte(197) & 0x0F;
  return RetryCount(d ? d : 6, limit, 8);
}
int DunmoMe2Mapper::SetPickRetry(int n) { return Accept(SetRetryNibble(197, n, 7), 31, 0x01); }

int DunmoMe2Mapper::GetCleaningTerms() { return Byte(183) ? Byte(183) : 10; }
// Byte 183 travels with every DunmoMe2 write, so it has no mark.
int DunmoMe2Mapper::SetCleaningTerms(int n) {
  if (n < 1 || n > 255) return 0;
  SetByte(183, n);
  return 1;
}
int DunmoMe2Mapper::GetCleaningMessage() { return Bit(49, 0x80); }
int DunmoMe2Mapper::SetCleaningMessage(int on) {
  PutBit(49, 0x80, on != 0);
  return Accept(true, 11, 0x02);
}
int DunmoMe2Mapper::GetPapersAfterClean() { return ((Byte(49) & 0x7F) * 256 + Byte(48)) * 50; }

int DunmoMe2Mapper::GetTabCropPosition() {
  if (Bit(177, 0x01)) return 2;
  return Bits(128, 0xE0) == 0x80 ? 1 : 0;
}
int DunmoMe2Mapper::SetTabCropPosition(int pos) {
  if (pos < 0 || pos > 2) return 0;
  PutBits(128, 0xE0, pos == 1 ? 0x80 : 0);
  PutBit(177, 0x01, pos == 2);
  Mark(kSet, 16, 0x02);
  return Accept(true, 17, 0x01);
}

int DunmoMe2Mapper::IsDenseBackGroundEnable() { return Bit(178, 0x80); }
int DunmoMe2Mapper::SetDenseBackGroundEnable(int on) {
  PutBit(178, 0x80, on != 0);
  return Accept(true, 18, 0x01);
}
int DunmoMe2Mapper::GetDenseBackGround() { return MapValue(kDenseRead, Bits(178, 0x07)); }
int DunmoMe2Mapper::SetDenseBackGround(int level) {
  if (level < 0 || level > 5) return 0;
  PutBits(178, 0x07, kDenseSet[level]);
  return Accept(true, 18, 0x02);
}

int DunmoMe2Mapper::GetOverUnderCrop() { return MapValue(kOverUnderRead, Byte(129) >> 4); }
int DunmoMe2Mapper::SetOverUnderCrop(int value) {
  if (value < 1 || value > 7) return 0;
  PutBits(129, 0xF0, kOverUnderSet[value] << 4);
  return Accept(true, 19, 0x02);
}

int DunmoMe2Mapper::GetAutoCropBoundary() { return Bit(182, 0x80); }
int DunmoMe2Mapper::SetAutoCropBoundary(int value) { return Accept(SetFlag01(182, 0x80, value), 14, 0x20); }
int DunmoMe2Mapper::GetSCSIBusWidth() { return Bit(182, 0x08); }
int DunmoMe2Mapper::SetSCSIBusWidth(int width) {
  bool accepted = SetFlag01(182, 0x08, width);
  Mark(kSet, 14, 0x04);
  return accepted;
}

int DunmoMe2Mapper::GetPickPressure() {
  int v = Bits(41, 0x03);
  return v == 3 ? 1 : v;
}
int DunmoMe2Mapper::SetPickPressure(int value) {
  PutBits(41, 0x03, value == 0 ? 0 : value == 2 ? 2 : 1);
  return Accept(true, 20, 0x01);
}

int DunmoMe2Mapper::GetPowerSWControl() { return Bits(180, 0xC0) ? 1 : 0; }
int DunmoMe2Mapper::SetPowerSWControl(int value) {
  if (!SetPowerSwitch(180, value, 1)) return 0;
  MarkPair(kSet, 21);
  return 1;
}
