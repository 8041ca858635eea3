#include "tavrin3_mapper.h"

#include <cstring>

#include "ft_device_group.h"
#include "model_catalog.h"
#include "setting_bits.h"

using namespace settings;

namespace {

uint8_t* const kSet = g_Tavrin3modFlags;

int IsSaldexModel() { return FtDeviceGroup().IsSaldex(); }

int Accept(bool accepted, int flagByte, uint8_t bits) {
  if (!accepted) return 0;
  Mark(kSet, flagByte, bits);
  return 1;
}

// Which models may report code 0xC0 of the power switch as 2, and from
// which firmware on: the first two groups only from a firmware text not
// below their threshold, the third always.
struct PowerSwitchGroup {
  const char* threshold;  // nullptr: always
  const dravn::CatalogModel* models[4];
};
const PowerSwitchGroup kPowerSwitchGroups[] = {
    {"0C30", {&dravn::kTavrin3Models[0], &dravn::kTavrin3Models[1]}},
    {"0A30", {&dravn::kTavrin3Models[2], &dravn::kTavrin3Models[3]}},
    {nullptr, {&dravn::kTavrin3Models[4], &dravn::kTavrin3Models[5], &dravn::kSaldexModels[0]}},
    {nullptr, {&dravn::kTavrin4Models[0], &dravn::kTavrin4Models[1], &dravn::kTavrin4Models[2]}},
};

// The firmware text's first five bytes (four characters and the end) as
// unsigned characters, against the threshold's.
bool FirmwareAtLeast(const char* threshold) { return std::memcmp(g_Tavrin3FirmVer, threshold, 5) >= 0; }

int PowerSwitchFullCode() {
  const char* name = g_cpActiveScannerName;
  if (name) {
    for (const PowerSwitchGroup& g : kPowerSwitchGroups)
      for (const dravn::CatalogModel* m : g.models)
        if (m && std::strcmp(m->model, name) == 0) return !g.threshold || FirmwareAtLeast(g.threshold) ? 2 : 0;
  }
  FtDeviceGroup group;
  return group.IsTavrin4LA() || group.IsDocuvane() ? 2 : 0;
}

}  // namespace

Tavrin3Mapper::~Tavrin3Mapper() = default;

int Tavrin3Mapper::GetDoubleFeedMode() { return GetDoubleFeed(29); }
int Tavrin3Mapper::SetDoubleFeedMode(int mode) { return Accept(SetDoubleFeed(29, mode), 2, 0x06); }
int Tavrin3Mapper::GetDoubleFeedChkLengh() { return GetCheckLength(29); }
int Tavrin3Mapper::SetDoubleFeedChkLengh(int len) { return Accept(SetCheckLength(29, len), 2, 0x01); }

int Tavrin3Mapper::GetDropoutColor() {
  if (Bit(322, 0x08)) return 0;
  return DropoutOfNibble(Byte(322) & 0x0F, 4);
}
int Tavrin3Mapper::SetDropoutColor(int colour) {
  if (!SetDropoutPair(322, colour, false)) return 0;
  Mark(kSet, 11, 0x03);
  Mark(kSet, 12, 0x01);
  return 1;
}

int Tavrin3Mapper::GetPrePickMode() { return Bit(52, 0x10) ? 2 : 1; }
int Tavrin3Mapper::SetPrePickMode(int mode) {
  PutBit(52, 0x10, mode != 1);
  return Accept(true, 5, 0x01);
}

void Tavrin3Mapper::GetDelFrameADF(int* a, int* b, int* c, int* d) { GetFrame(43, 50, true, a, b, c, d); }
int Tavrin3Mapper::SetDelFrameADF(int a, int b, int c, int d) {
  if (!SetFrame(43, 50, true, a, b, c, d)) return 0;
  Mark(kSet, 3, 0x03);
  return Accept(true, 4, 0x03);
}
void Tavrin3Mapper::GetDelFrameFB(int* a, int* b, int* c, int* d) { GetFrame(27, 28, false, a, b, c, d); }
int Tavrin3Mapper::SetDelFrameFB(int a, int b, int c, int d) {
  if (!SetFrame(27, 28, false, a, b, c, d)) return 0;
  Mark(kSet, 0, 0x03);
  return Accept(true, 1, 0x03);
}

int Tavrin3Mapper::GetSensorMode(int) { return Bit(224, 0x80); }
int Tavrin3Mapper::SetSensorMode(int, int on) {
  PutBit(224, 0x80, on == 1);
  return Accept(true, 8, 0x01);
}
int Tavrin3Mapper::GetSensorAreaStart(int) { return GetAreaStart(225); }
int Tavrin3Mapper::SetSensorAreaStart(int, int pos) { return Accept(SetAreaStart(225, pos), 9, 0x01); }
int Tavrin3Mapper::GetSensorAreaEnd(int) { return GetAreaEnd(225, 227); }
int Tavrin3Mapper::SetSensorAreaEnd(int, int pos) { return Accept(SetAreaEnd(225, 227, pos), 10, 0x01); }

int Tavrin3Mapper::GetMFignore() { return GetIgnoreCode(328); }
int Tavrin3Mapper::SetMFignore(int value) { return Accept(SetIgnoreCode(328, value), 13, 0x01); }
int Tavrin3Mapper::GetMFinital() { return Bit(328, 0x40); }
int Tavrin3Mapper::SetMFinital(int value, int) { return Accept(SetFlag01(328, 0x40, value), 13, 0x08); }
int Tavrin3Mapper::GetMFmemory() { return GetInverted(328, 0x80); }
int Tavrin3Mapper::SetMFmemory(int value) { return Accept(SetInverted(328, 0x80, value), 13, 0x10); }

int Tavrin3Mapper::GetScanBtn() { return 1; }
int Tavrin3Mapper::SetScanBtn(int) { return 1; }

int Tavrin3Mapper::GetADDR_PR_Counter() {
  int v = Byte(41);
  return v ? v : (IsSaldexModel() ? 10 : 20);
}
int Tavrin3Mapper::SetADDR_PR_Counter(int v) {
  if (v < 0 || v > 255) return 0;
  SetByte(41, v);
  return Accept(true, 6, 0x01);
}
int Tavrin3Mapper::GetADDR_BR_Counter() {
  int v = Byte(42);
  return v ? v : (IsSaldexModel() ? 5 : 20);
}
int Tavrin3Mapper::SetADDR_BR_Counter(int v) {
  if (v < 0 || v > 255) return 0;
  SetByte(42, v);
  return Accept(true, 7, 0x01);
}

int Tavrin3Mapper::GetManualTimeout(int limit) { return GetTimeout(344, limit); }
int Tavrin3Mapper::SetManualTimeout(int t) { return Accept(SetTimeout(344, t), 17, 0x01); }

int Tavrin3Mapper::GetPickRetry(int limit) {
  int d = Byte(329) & 0x0F;
  if (d == 0) d = IsSaldexModel() ? 3 : 7;
  return RetryCount(d, limit, 12);
}
int Tavrin3Mapper::SetPickRetry(int n) { return Accept(SetRetryNibble(329, n, 11), 14, 0x01); }

int Tavrin3Mapper::GetPaperProtection() { return Bit(337, 0x02); }
int Tavrin3Mapper::SetPaperProtection(int value) { return Accept(SetFlag01(337, 0x02, value), 15, 0x01); }
int Tavrin3Mapper::GetPPDetectionLevel() { return GetCheckLength(345); }
int Tavrin3Mapper::SetPPDetectionLevel(int level) { return Accept(SetCheckLength(345, level), 18, 0x01); }

int Tavrin3Mapper::GetPowerSWControl() {
  switch (Bits(220, 0xC0)) {
    case 0x80:
      return 1;
    case 0xC0:
      return PowerSwitchFullCode();
    default:
      return 0;
  }
}
int Tavrin3Mapper::SetPowerSWControl(int value) {
  if (!SetPowerSwitch(220, value, 2)) return 0;
  MarkPair(kSet, 19);
  return 1;
}

int Tavrin3Mapper::GetFeedMode() { return Bit(336, 0x80); }
int Tavrin3Mapper::SetFeedMode(int mode) { return Accept(SetFlag01(336, 0x80, mode), 20, 0x01); }
