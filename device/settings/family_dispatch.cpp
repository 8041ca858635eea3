// Settings whose place depends on the family: each pair asks the family
// tests in its fixed order and hands the call to a layout mapper, or keeps
// the setting at its place in the default layout (the Vantor and Pilvo
// models and every model that no mapper claims).
#include <cstring>

#include "dev_set_ctrl.h"
#include "dunmome2_mapper.h"
#include "ft_device_group.h"
#include "model_catalog.h"
#include "rtos_mapper.h"
#include "setting_bits.h"
#include "tavrin3_mapper.h"

using namespace settings;

namespace {

enum class Layout { DunmoMe2, Tavrin3, RTOS, Default };

// Members of a T-set: any one of them sends the call to the Tavrin3 layout.
enum : unsigned { kT4LA = 1, kT3 = 2, kTSaldex = 4, kTDocuvane = 8, kTFeyra2 = 16 };

struct Order {
  unsigned tset;
  bool dunmoLast;
};
constexpr Order kOrderA{kT4LA | kT3 | kTSaldex | kTDocuvane, false};
constexpr Order kOrderB{kT4LA | kT3 | kTDocuvane, false};
constexpr Order kOrderC{kT4LA | kT3 | kTSaldex | kTFeyra2 | kTDocuvane, false};
constexpr Order kOrderD{kT4LA | kT3 | kTSaldex, false};
constexpr Order kOrderE{kT4LA | kT3, false};
constexpr Order kOrderF{kT4LA | kT3 | kTSaldex | kTDocuvane, true};

bool InTSet(const FtDeviceGroup& g, unsigned tset) {
  return ((tset & kT4LA) && g.IsTavrin4LA()) || ((tset & kT3) && g.IsTavrin3()) ||
         ((tset & kTSaldex) && g.IsSaldex()) || ((tset & kTFeyra2) && g.IsFeyra2()) ||
         ((tset & kTDocuvane) && g.IsDocuvane());
}

Layout Route(const Order& order) {
  FtDeviceGroup g;
  if (!order.dunmoLast && g.IsDunmoMe2()) return Layout::DunmoMe2;
  if (InTSet(g, order.tset)) return Layout::Tavrin3;
  if (g.IsRTOS()) return Layout::RTOS;
  if (order.dunmoLast && g.IsDunmoMe2()) return Layout::DunmoMe2;
  return Layout::Default;
}

// Calls the mapper of a non-default layout, made for this one call.
template <typename F>
int ViaMapper(Layout layout, F call) {
  switch (layout) {
    case Layout::DunmoMe2: {
      DunmoMe2Mapper m;
      return call(m);
    }
    case Layout::Tavrin3: {
      Tavrin3Mapper m;
      return call(m);
    }
    default: {
      RTOSMapper m;
      return call(m);
    }
  }
}

// The two Vantor models that the engine names; other Vantor-group models
// answer IsVantor but neither of these.
bool IsVantorModel(int which) {
  return g_cpActiveScannerName && std::strcmp(g_cpActiveScannerName, dravn::kVantorModels[which].model) == 0;
}
bool IsVantorA() { return IsVantorModel(0); }
bool IsVantorB() { return IsVantorModel(1); }

int PickRetryOfNibble(int n, int limit, bool pilvo) {
  int m = n ? (n < 12 ? n : 12) : (pilvo ? 3 : 12);
  return MinusOne(limit < n ? limit : m);
}

// Over/under-crop byte 161 of the Pilvo model, values 1..11.
const uint8_t kPilvoOverUnderSet[12] = {0, 0x8A, 0x89, 0x70, 0x60, 0x50, 0x00, 0x10, 0x20, 0x30, 0x81, 0x82};
int PilvoOverUnderRead(int byte) {
  int hi = byte >> 4, lo = byte & 0x0F;
  if (hi == 8) return lo == 1 ? 10 : lo == 2 ? 11 : lo == 9 ? 2 : lo == 0xA ? 1 : 6;
  static const int kByHigh[8] = {6, 7, 8, 9, 6, 5, 4, 3};
  return hi < 8 ? kByHigh[hi] : 6;
}
const int kPilvoDenseSet[6] = {0, 3, 4, 5, 6, 7};
const int kPilvoDenseRead[8] = {3, 3, 3, 1, 2, 3, 4, 5};

}  // namespace

#define MAPPED(layout, call) ViaMapper(layout, [&](auto& m) { return m.call; })

int CDevSetCtrl::GetDoubleFeedMode() {
  Layout l = Route(kOrderA);
  return l != Layout::Default ? MAPPED(l, GetDoubleFeedMode()) : GetDoubleFeed(208);
}
int CDevSetCtrl::SetDoubleFeedMode(int mode) {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, SetDoubleFeedMode(mode)), Accepted();
  return Result(SetDoubleFeed(208, mode));
}
int CDevSetCtrl::GetDoubleFeedChkLengh() {
  Layout l = Route(kOrderA);
  return l != Layout::Default ? MAPPED(l, GetDoubleFeedChkLengh()) : GetCheckLength(208);
}
int CDevSetCtrl::SetDoubleFeedChkLengh(int len) {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, SetDoubleFeedChkLengh(len)), Accepted();
  if (GetCheckLength(208) == len) return 0;
  return Result(SetCheckLength(208, len));
}

int CDevSetCtrl::IsDropoutColorType() {
  if (IsVantorA() || IsVantorB() || IsPilvo()) return 1;
  FtDeviceGroup g;
  return g.IsTavrin4LA() || g.IsTavrin3() || g.IsSaldex() || g.IsTavrin5() || g.IsDocuvane() || g.IsTavrin5E() ||
                 g.IsGorlan() || g.IsSaldex3()
             ? 2
             : 0;
}
int CDevSetCtrl::GetDropoutColor() {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, GetDropoutColor());
  switch (Bits(211, 0x07)) {
    case 1:
      return 2;
    case 2:
      return 0;
    case 4:
      return 1;
    case 7:
      return IsDropoutColorType() == 1 ? 4 : 3;
    default:
      return 0;
  }
}
int CDevSetCtrl::SetDropoutColor(int colour) {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, SetDropoutColor(colour)), Accepted();
  static const uint8_t kCode211[] = {0x22, 0x44, 0x11, 0x77, 0x77};
  static const uint8_t kCode210[] = {0x02, 0x04, 0x01, 0x07, 0x07};
  static const uint8_t kCode210Dunmo[] = {0x20, 0x40, 0x10, 0x70, 0x70};
  if (colour < 0 || colour > 4) return -1;
  PutBits(211, 0x77, kCode211[colour]);
  MarkVantorPilvo(9, 0x03);
  if (!IsVantorA() && !IsVantorB() && !IsPilvo()) {
    if (FtDeviceGroup().IsDunmo())
      PutBits(210, 0x70, kCode210Dunmo[colour]);
    else
      PutBits(210, 0x07, kCode210[colour]);
  }
  return Accepted();
}

int CDevSetCtrl::GetPrePickMode() {
  Layout l = Route(kOrderB);
  if (l != Layout::Default) return MAPPED(l, GetPrePickMode());
  return Bit(210, 0x02) ? 2 : 1;
}
int CDevSetCtrl::SetPrePickMode(int mode) {
  Layout l = Route(kOrderB);
  if (l != Layout::Default) return MAPPED(l, SetPrePickMode(mode)), Accepted();
  if (mode != 1 && mode != 2) return -1;
  PutBit(210, 0x02, mode == 2);
  MarkVantorPilvo(8, 0x01);
  return Accepted();
}

void CDevSetCtrl::GetDelFrameADF(int* a, int* b, int* c, int* d) {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) {
    ViaMapper(l, [&](auto& m) { return m.GetDelFrameADF(a, b, c, d), 0; });
    return;
  }
  GetFrame(216, 217, true, a, b, c, d);
}
int CDevSetCtrl::SetDelFrameADF(int a, int b, int c, int d) {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) {
    int r = MAPPED(l, SetDelFrameADF(a, b, c, d));
    SetSettingChanged();
    return r;
  }
  if (Update(216, NibblePair(a, SignedNibbleCode(b)))) {
    MarkVantorPilvo(10, 0x03);
    SetSettingChanged();
  }
  if (Update(217, NibblePair(c, d))) {
    MarkVantorPilvo(11, 0x03);
    SetSettingChanged();
  }
  return 0;
}
void CDevSetCtrl::GetDelFrameFB(int* a, int* b, int* c, int* d) {
  Layout l = Route(kOrderB);
  if (l != Layout::Default) {
    ViaMapper(l, [&](auto& m) { return m.GetDelFrameFB(a, b, c, d), 0; });
    return;
  }
  GetFrame(214, 215, false, a, b, c, d);
}
int CDevSetCtrl::SetDelFrameFB(int a, int b, int c, int d) {
  Layout l = Route(kOrderB);
  if (l != Layout::Default) {
    int r = MAPPED(l, SetDelFrameFB(a, b, c, d));
    SetSettingChanged();
    return r;
  }
  bool changed = Update(214, NibblePair(a, b));
  changed = Update(215, NibblePair(c, d)) || changed;
  if (changed) SetSettingChanged();
  return 0;
}

int CDevSetCtrl::GetKouchiMode() {
  FtDeviceGroup g;
  if (g.IsRTOS()) return !Bit(338, 0x80);
  if (g.IsTavrin4LA() || g.IsDocuvane()) return !Bit(335, 0x80);
  return 1;
}
int CDevSetCtrl::SetKouchiMode(int mode) {
  if (mode != 0 && mode != 1) return -1;
  FtDeviceGroup g;
  if (g.IsRTOS())
    PutBit(338, 0x88, mode == 0);
  else if (g.IsTavrin4LA() || g.IsDocuvane())
    PutBit(335, 0x80, mode == 0);
  return Accepted();
}

int CDevSetCtrl::GetAutoCropBoundary() {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().GetAutoCropBoundary();
  if (g.IsPilvo()) return !Bit(182, 0x80);
  if (g.IsTavrin4LA() || g.IsTavrin4()) return Bit(338, 0x80);
  if (g.IsTavrin3()) return !Bit(338, 0x80);
  if (g.IsVantor()) {
    if (!IsVantorB()) return 0;
    return Bit(182, 0x02) ? 3 : Bit(182, 0x80);
  }
  if (g.IsRTOS()) return Bit(292, 0x80);
  return Bit(182, 0x80);
}
int CDevSetCtrl::SetAutoCropBoundary(int value) {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().SetAutoCropBoundary(value), Accepted();
  if (g.IsPilvo()) {
    if (!SetInverted(182, 0x80, value)) return -1;
    Mark(g_PilvomodFlags, 7, 0x20);
    return Accepted();
  }
  if (g.IsTavrin4LA() || g.IsTavrin4() || g.IsTavrin3()) {
    bool inverted = !(g.IsTavrin4LA() || g.IsTavrin4());
    if (inverted)
      SetInverted(338, 0x80, value);
    else
      SetFlag01(338, 0x80, value);
    Mark(g_Tavrin3modFlags, 16, 0x20);
    return Accepted();
  }
  if (g.IsVantor()) {
    if (IsVantorB()) {
      PutBits(182, 0x82, value == 1 ? 0x80 : value == 3 ? 0x02 : 0);
      Mark(g_VantorBmodFlags, 7, 0x21);
    }
    return Accepted();
  }
  if (g.IsRTOS()) {
    SetFlag01(292, 0x80, value);
    Mark(g_RTOSmodFlags, 17, 0x20);
    return Accepted();
  }
  if (!SetFlag01(182, 0x80, value)) return -1;
  MarkVantor(7, 0x20);
  return Accepted();
}

// The sensor settings of the default layout, per type 0..2.
int CDevSetCtrl::GetSensorMode(int type) {
  Layout l = Route(kOrderC);
  if (l != Layout::Default) return MAPPED(l, GetSensorMode(type));
  return type >= 0 && type <= 2 ? Bit(192, 0x40 >> type) : 0;
}
int CDevSetCtrl::SetSensorMode(int type, int on) {
  Layout l = Route(kOrderC);
  if (l != Layout::Default) return MAPPED(l, SetSensorMode(type, on)), Accepted();
  if (type < 0 || type > 2) return -1;
  return Result(SetFlag01(192, 0x40 >> type, on));
}
int CDevSetCtrl::GetSensorAreaStart(int type) {
  Layout l = Route(kOrderC);
  if (l != Layout::Default) return MAPPED(l, GetSensorAreaStart(type));
  return GetAreaStart(type >= 0 && type <= 2 ? 186 + type : 186);
}
int CDevSetCtrl::SetSensorAreaStart(int type, int pos) {
  Layout l = Route(kOrderC);
  if (l != Layout::Default) return MAPPED(l, SetSensorAreaStart(type, pos)), Accepted();
  if (type < 0 || type > 2) return -1;
  if (Update(186 + type, pos / 2)) SetSettingChanged();
  return 0;
}
int CDevSetCtrl::GetSensorAreaEnd(int type) {
  Layout l = Route(kOrderC);
  if (l != Layout::Default) return MAPPED(l, GetSensorAreaEnd(type));
  int t = type >= 0 && type <= 2 ? type : 0;
  return GetAreaEnd(186 + t, 189 + t);
}
int CDevSetCtrl::SetSensorAreaEnd(int type, int pos) {
  Layout l = Route(kOrderC);
  if (l != Layout::Default) return MAPPED(l, SetSensorAreaEnd(type, pos)), Accepted();
  if (type < 0 || type > 2) return -1;
  if (Update(189 + type, pos / 2 - Byte(186 + type))) SetSettingChanged();
  return 0;
}

int CDevSetCtrl::GetMFignore() {
  Layout l = Route(kOrderD);
  return l != Layout::Default ? MAPPED(l, GetMFignore()) : GetIgnoreCode(203);
}
int CDevSetCtrl::SetMFignore(int value) {
  Layout l = Route(kOrderD);
  if (l != Layout::Default) return MAPPED(l, SetMFignore(value)), Accepted();
  SetIgnoreCode(203, value);
  Mark(g_PilvomodFlags, 12, 0x01);
  return Accepted();
}

int CDevSetCtrl::GetMFmemory() {
  FtDeviceGroup g;
  if (g.IsTavrin4LA() || g.IsTavrin3() || g.IsSaldex()) return Tavrin3Mapper().GetMFmemory();
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().GetMFmemory();
  if (g.IsPilvo()) return GetInverted(203, 0x80);
  if (g.IsVantor()) return IsVantorB() ? GetInverted(203, 0x80) : 0;
  if (g.IsRTOS()) return RTOSMapper().GetMFmemory();
  return 0;
}
int CDevSetCtrl::SetMFmemory(int value) {
  FtDeviceGroup g;
  if (g.IsTavrin4LA() || g.IsTavrin3() || g.IsSaldex()) return Tavrin3Mapper().SetMFmemory(value), Accepted();
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().SetMFmemory(value), Accepted();
  if (g.IsPilvo()) {
    PutBit(203, 0x80, value == 0);
    Mark(g_PilvomodFlags, 12, 0x10);
    return Accepted();
  }
  if (g.IsVantor()) return IsVantorB() ? Result(SetInverted(203, 0x80, value)) : Accepted();
  if (g.IsRTOS()) return RTOSMapper().SetMFmemory(value), Accepted();
  return Accepted();
}

int CDevSetCtrl::GetScanBtn() {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().GetScanBtn();
  if (g.IsTavrin3()) return Tavrin3Mapper().GetScanBtn();
  if (g.IsRTOS()) return RTOSMapper().GetScanBtn();
  return GetInverted(203, 0x10);
}
int CDevSetCtrl::SetScanBtn(int value) {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().SetScanBtn(value), Accepted();
  if (g.IsTavrin3()) return Tavrin3Mapper().SetScanBtn(value), Accepted();
  if (g.IsRTOS()) return RTOSMapper().SetScanBtn(value), Accepted();
  if (!SetInverted(203, 0x10, value)) return -1;
  Mark(g_PilvomodFlags, 12, 0x02);
  return Accepted();
}

int CDevSetCtrl::GetMFinital() {
  Layout l = Route(kOrderD);
  return l != Layout::Default ? MAPPED(l, GetMFinital()) : Bit(203, 0x40);
}
// The flag is raised only for a second argument of 0, on every path.
int CDevSetCtrl::SetMFinital(int value, int second) {
  Layout l = Route(kOrderD);
  if (l != Layout::Default) {
    MAPPED(l, SetMFinital(value, second));
  } else {
    if (!SetFlag01(203, 0x40, value)) return 0;
    Mark(g_PilvomodFlags, 12, 0x08);
  }
  if (second == 0) SetSettingChanged();
  return 0;
}

int CDevSetCtrl::GetPickRetry(int limit) {
  Layout l = Route(kOrderF);
  if (l != Layout::Default) return MAPPED(l, GetPickRetry(limit));
  return PickRetryOfNibble(Bits(197, 0x0F), limit, IsPilvo());
}
int CDevSetCtrl::SetPickRetry(int count) {
  Layout l = Route(kOrderF);
  if (l != Layout::Default) return MAPPED(l, SetPickRetry(count)), Accepted();
  PutBits(197, 0x0F, PlusOne(count));
  return Accepted();
}

int CDevSetCtrl::GetADDR_PR_Counter() {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, GetADDR_PR_Counter());
  if (FtDeviceGroup().IsBrenna()) return 20;
  int v = LookupDeviceValue(g_cpActiveScannerName, 1);
  if (v != -1) return v;
  return Byte(198) ? Byte(198) : 60;
}
int CDevSetCtrl::SetADDR_PR_Counter(int v) {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, SetADDR_PR_Counter(v)), Accepted();
  SetByte(198, v);
  return Accepted();
}
int CDevSetCtrl::GetADDR_BR_Counter() {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, GetADDR_BR_Counter());
  FtDeviceGroup g;
  if (g.IsBrenna()) return 3;
  if (g.IsSelkoFamily()) return 10;
  int v = LookupDeviceValue(g_cpActiveScannerName, 0);
  if (v != -1) return v;
  return Byte(199) ? Byte(199) : 60;
}
int CDevSetCtrl::SetADDR_BR_Counter(int v) {
  Layout l = Route(kOrderA);
  if (l != Layout::Default) return MAPPED(l, SetADDR_BR_Counter(v)), Accepted();
  SetByte(199, v);
  return Accepted();
}

int CDevSetCtrl::GetManualTimeout(int limit) {
  Layout l = Route(kOrderE);
  if (l != Layout::Default) return MAPPED(l, GetManualTimeout(limit));
  int e = Bits(207, 0x1F);
  int m = e ? (e < 26 ? e : 26) : 2;
  return MinusOne(limit < e ? limit : m);
}
int CDevSetCtrl::SetManualTimeout(int t) {
  Layout l = Route(kOrderE);
  if (l != Layout::Default) return MAPPED(l, SetManualTimeout(t)), Accepted();
  PutBits(207, 0x1F, PlusOne(t));
  MarkVantorPilvo(6, 0x01);
  return Accepted();
}
int CDevSetCtrl::GetManualTimeoutDunmo(int limit) {
  Layout l = Route(kOrderB);
  if (l != Layout::Default) return MAPPED(l, GetManualTimeout(limit));
  return GetTimeout(207, limit);
}
int CDevSetCtrl::SetManualTimeoutDunmo(int t) {
  Layout l = Route(kOrderB);
  if (l != Layout::Default) return MAPPED(l, SetManualTimeout(t)), Accepted();
  PutBits(207, 0x1F, t);
  return Accepted();
}

int CDevSetCtrl::GetPowerSWControl() {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().GetPowerSWControl();
  if (g.IsZembl()) return Byte(72) == 1;
  if (g.IsRTOS()) return RTOSMapper().GetPowerSWControl();
  return Tavrin3Mapper().GetPowerSWControl();
}
int CDevSetCtrl::SetPowerSWControl(int value) {
  FtDeviceGroup g;
  if (g.IsDunmoMe2())
    DunmoMe2Mapper().SetPowerSWControl(value);
  else if (g.IsZembl()) {
    if (value == 0 || value == 1) SetByte(72, value);
  } else if (g.IsRTOS())
    RTOSMapper().SetPowerSWControl(value);
  else
    Tavrin3Mapper().SetPowerSWControl(value);
  return Accepted();
}

int CDevSetCtrl::GetCleaningTerms() {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().GetCleaningTerms();
  if (g.IsRTOS()) return RTOSMapper().GetCleaningTerms();
  return Byte(183) ? Byte(183) : 10;
}
int CDevSetCtrl::SetCleaningTerms(int n) {
  if (n < 1 || n > 255) return 0;
  FtDeviceGroup g;
  if (g.IsDunmoMe2())
    DunmoMe2Mapper().SetCleaningTerms(n);
  else if (g.IsRTOS())
    RTOSMapper().SetCleaningTerms(n);
  else
    SetByte(183, n);
  return Accepted();
}

int CDevSetCtrl::GetCleaningMessage() {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) return DunmoMe2Mapper().GetCleaningMessage();
  return g.IsRTOS() ? Bit(424, 0x80) : Bit(49, 0x80);
}
int CDevSetCtrl::SetCleaningMessage(int on) {
  FtDeviceGroup g;
  if (g.IsDunmoMe2()) {
    DunmoMe2Mapper().SetCleaningMessage(on);
  } else if (g.IsRTOS()) {
    PutBit(424, 0x80, on != 0);
    Mark(g_RTOSmodFlags, 24, 0x01);
  } else {
    PutBit(49, 0x80, on != 0);
    MarkVantorPilvo(2, 0x02);
  }
  return Accepted();
}

int CDevSetCtrl::GetMaintenanceTerm() { return Bit(FtDeviceGroup().IsRTOS() ? 307 : 360, 0x80); }
int CDevSetCtrl::SetMaintenanceTerm(int on) {
  bool rtos = FtDeviceGroup().IsRTOS();
  PutBit(rtos ? 307 : 360, 0x80, on == 1);
  Mark(rtos ? g_RTOSmodFlags : g_PilvomodFlags, rtos ? 26 : 16, 0x02);
  return Accepted();
}
int CDevSetCtrl::GetMaintenanceValue() {
  int v = Bits(FtDeviceGroup().IsRTOS() ? 307 : 360, 0x3F);
  return v ? v : 12;
}
int CDevSetCtrl::SetMaintenanceValue(int v) {
  bool rtos = FtDeviceGroup().IsRTOS();
  PutBits(rtos ? 307 : 360, 0x3F, v);
  Mark(rtos ? g_RTOSmodFlags : g_PilvomodFlags, rtos ? 26 : 16, 0x01);
  return Accepted();
}

int CDevSetCtrl::GetMFAuto() {
  if (IsPilvo()) return Bit(203, 0x20);
  return FtDeviceGroup().IsRTOS() ? Bit(299, 0x20) : 0;
}
int CDevSetCtrl::SetMFAuto(int on) {
  if (IsPilvo()) {
    SetFlag01(203, 0x20, on);
    Mark(g_PilvomodFlags, 12, 0x04);
  } else if (FtDeviceGroup().IsRTOS()) {
    SetFlag01(299, 0x20, on);
    Mark(g_RTOSmodFlags, 14, 0x04);
  }
  SetSettingChanged();
  return 1;
}

namespace {

// Overscan control codes of Pilvo byte 118 and RTOS byte 342, values 1..3.
int OverscanOfCode(int code) { return code == 0x80 ? 1 : code == 0x84 ? 2 : code == 0x88 ? 3 : 0; }
void StoreOverscanCode(int offset, int value) {
  static const int kCodes[] = {0x00, 0x80, 0x84, 0x88};
  if (value >= 0 && value <= 3) SetByte(offset, kCodes[value]);
}
// Stores `code` for `on` and 0 for 0; other values store nothing.
void StoreOnly(int offset, int value, int on, int code) {
  if (value == 0 || value == on) SetByte(offset, value ? code : 0);
}

}  // namespace

int CDevSetCtrl::IsOverscanControlEnable() { return GetOverscanControl() != 0; }
int CDevSetCtrl::GetOverscanControl() {
  FtDeviceGroup g;
  if (g.IsPilvo()) return OverscanOfCode(Byte(118));
  if (g.IsRTOS() && !g.IsGorlan()) return OverscanOfCode(Byte(342));
  if (g.IsVantor()) return Byte(79) == 0xFF ? 4 : 0;
  if (g.IsDunmoMe2()) return Byte(118) == 0x8B ? 11 : 0;
  if (g.IsGorlan()) return Byte(342) == 0x80 ? 1 : 0;
  return 0;
}
int CDevSetCtrl::SetOverscanControl(int value) {
  FtDeviceGroup g;
  if (g.IsPilvo()) {
    StoreOverscanCode(118, value);
    Mark(g_PilvomodFlags, 31, 0x01);
  } else if (g.IsRTOS() && !g.IsGorlan()) {
    StoreOverscanCode(342, value);
    Mark(g_RTOSmodFlags, 22, 0x01);
  } else if (g.IsVantor()) {
    StoreOnly(79, value, 4, 0xFF);
    MarkVantor(12, 0x01);
  } else if (g.IsDunmoMe2()) {
    StoreOnly(118, value, 11, 0x8B);
    Mark(g_DunmoMe2modFlags, 30, 0x01);
  } else if (g.IsGorlan()) {
    StoreOnly(342, value, 11, 0x80);
    Mark(g_RTOSmodFlags, 22, 0x01);
  } else {
    return 0;
  }
  return Accepted();
}

int CDevSetCtrl::GetFeedMode() {
  return FtDeviceGroup().IsRTOS() ? RTOSMapper().GetFeedMode() : Tavrin3Mapper().GetFeedMode();
}
int CDevSetCtrl::SetFeedMode(int mode) {
  int r = FtDeviceGroup().IsRTOS() ? RTOSMapper().SetFeedMode(mode) : Tavrin3Mapper().SetFeedMode(mode);
  SetSettingChanged();
  return r;
}

int CDevSetCtrl::GetPaperProtection() {
  FtDeviceGroup g;
  if (g.IsTavrin4LA() || g.IsTavrin3()) return Tavrin3Mapper().GetPaperProtection();
  if (g.IsRTOS()) return RTOSMapper().GetPaperProtection();
  return Bit(353, 0x08);
}
int CDevSetCtrl::SetPaperProtection(int value) {
  FtDeviceGroup g;
  if (g.IsTavrin4LA() || g.IsTavrin3()) {
    Tavrin3Mapper().SetPaperProtection(value);
  } else if (g.IsRTOS()) {
    RTOSMapper().SetPaperProtection(value);
  } else {
    SetFlag01(353, 0x08, value);
    Mark(g_PilvomodFlags, 17, 0x04);
  }
  return Accepted();
}

int CDevSetCtrl::GetPPDetectionLevel() {
  FtDeviceGroup g;
  if (g.IsTavrin4LA() || g.IsTavrin3()) return Tavrin3Mapper().GetPPDetectionLevel();
  if (g.IsTavrin5E()) return RTOSMapper().GetPPDetectionLevel(0);
  return GetCheckLength(353);
}
int CDevSetCtrl::SetPPDetectionLevel(int level) {
  FtDeviceGroup g;
  if (g.IsTavrin4LA() || g.IsTavrin3()) {
    Tavrin3Mapper().SetPPDetectionLevel(level);
  } else if (g.IsTavrin5E()) {
    RTOSMapper().SetPPDetectionLevel(level, 0);
  } else {
    SetCheckLength(353, level);
    g_PilvomodFlags[17] = static_cast<uint8_t>((g_PilvomodFlags[17] & ~0x03) | 0x01);
  }
  return Accepted();
}
int CDevSetCtrl::GetPPDetectionLevelEx(int type) {
  return FtDeviceGroup().IsRTOS() ? RTOSMapper().GetPPDetectionLevel(type) : 0;
}
int CDevSetCtrl::SetPPDetectionLevelEx(int level, int type) {
  if (!FtDeviceGroup().IsRTOS()) return 0;
  RTOSMapper().SetPPDetectionLevel(level, type);
  return Accepted();
}

int CDevSetCtrl::GetPickSpeedMode2() {
  if (FtDeviceGroup().IsRTOS()) return Bits(269, 0x30) == 0x20;
  return GetThinPaperMode2();
}
int CDevSetCtrl::SetPickSpeedMode2(int mode) {
  if (!FtDeviceGroup().IsRTOS()) return SetThinPaperMode2(mode);
  PutBits(269, 0x30, mode == 1 ? 0x20 : 0);
  Mark(g_RTOSmodFlags, 27, 0x01);
  return Accepted();
}

int CDevSetCtrl::GetSCSIBusWidth() { return IsDunmoMe2() ? DunmoMe2Mapper().GetSCSIBusWidth() : Bit(182, 0x08); }
int CDevSetCtrl::SetSCSIBusWidth(int width) {
  if (IsDunmoMe2()) return DunmoMe2Mapper().SetSCSIBusWidth(width), Accepted();
  if (!SetFlag01(182, 0x08, width)) return -1;
  MarkVantorPilvo(7, 0x04);
  return Accepted();
}

int CDevSetCtrl::GetPapersAfterClean() {
  if (IsDunmoMe2()) return DunmoMe2Mapper().GetPapersAfterClean();
  return ((Byte(49) & 0x7F) * 256 + Byte(48)) * 50;
}

int CDevSetCtrl::GetTabCropPosition() {
  if (IsDunmoMe2()) return DunmoMe2Mapper().GetTabCropPosition();
  if (IsPilvo()) return GetTabCrop(160);
  return Bits(160, 0xE0) == 0x80 ? 1 : 0;
}
int CDevSetCtrl::SetTabCropPosition(int pos) {
  if (IsDunmoMe2()) return DunmoMe2Mapper().SetTabCropPosition(pos), Accepted();
  if (pos < 0 || pos > 2) return 0;
  if (IsPilvo()) {
    SetTabCrop(160, pos);
    Mark(g_PilvomodFlags, 3, 0x03);
  } else {
    PutBits(160, 0xE0, pos == 1 ? 0x80 : 0);
    MarkVantor(3, 0x02);
  }
  return Accepted();
}

int CDevSetCtrl::IsDenseBackGroundEnable() {
  return IsDunmoMe2() ? DunmoMe2Mapper().IsDenseBackGroundEnable() : Bit(162, 0x80);
}
int CDevSetCtrl::SetDenseBackGroundEnable(int on) {
  if (IsDunmoMe2()) return DunmoMe2Mapper().SetDenseBackGroundEnable(on), Accepted();
  PutBit(162, 0x80, on != 0);
  MarkVantorPilvo(5, 0x01);
  return Accepted();
}
int CDevSetCtrl::GetDenseBackGround() {
  if (IsDunmoMe2()) return DunmoMe2Mapper().GetDenseBackGround();
  return MapValue(IsPilvo() ? kPilvoDenseRead : DunmoMe2Mapper::kDenseRead, Bits(162, 0x07));
}
int CDevSetCtrl::SetDenseBackGround(int level) {
  if (IsDunmoMe2()) return DunmoMe2Mapper().SetDenseBackGround(level), Accepted();
  if (level < 0 || level > 5) return 0;
  if (IsPilvo()) {
    PutBits(162, 0x07, kPilvoDenseSet[level]);
    Mark(g_PilvomodFlags, 5, 0x02);
  } else {
    PutBits(162, 0x07, DunmoMe2Mapper::kDenseSet[level]);
    MarkVantor(5, 0x02);
  }
  return Accepted();
}

int CDevSetCtrl::GetOverUnderCrop() {
  if (IsPilvo()) return PilvoOverUnderRead(Byte(161));
  if (IsDunmoMe2()) return DunmoMe2Mapper().GetOverUnderCrop();
  return MapValue(DunmoMe2Mapper::kOverUnderRead, Byte(161) >> 4);
}
int CDevSetCtrl::SetOverUnderCrop(int value) {
  if (IsPilvo()) {
    if (value < 1 || value > 11) return 0;
    SetByte(161, kPilvoOverUnderSet[value]);
    Mark(g_PilvomodFlags, 4, 0x03);
    return Accepted();
  }
  if (IsDunmoMe2()) return DunmoMe2Mapper().SetOverUnderCrop(value), Accepted();
  if (value < 1 || value > 7) return 0;
  PutBits(161, 0xF0, DunmoMe2Mapper::kOverUnderSet[value] << 4);
  MarkVantor(4, 0x02);
  return Accepted();
}

int CDevSetCtrl::GetPickPressure() { return DunmoMe2Mapper().GetPickPressure(); }
int CDevSetCtrl::SetPickPressure(int value) { return DunmoMe2Mapper().SetPickPressure(value), Accepted(); }

// Settings that only the RTOS layout has.
int CDevSetCtrl::GetManualFeedTimeSetting(int limit) { return RTOSMapper().GetManualFeedTimeSetting(limit); }
int CDevSetCtrl::SetManualFeedTimeSetting(int t) { return RTOSMapper().SetManualFeedTimeSetting(t), Accepted(); }
int CDevSetCtrl::GetManualFeedSetting() { return RTOSMapper().GetManualFeedSetting(); }
int CDevSetCtrl::SetManualFeedSetting(int on) { return RTOSMapper().SetManualFeedSetting(on), Accepted(); }
int CDevSetCtrl::GetTatesujiDetection() { return RTOSMapper().GetTatesujiDetection(); }
int CDevSetCtrl::SetTatesujiDetection(int on) { return RTOSMapper().SetTatesujiDetection(on), Accepted(); }
int CDevSetCtrl::GetTatesujiLevel() { return RTOSMapper().GetTatesujiLevel(); }
int CDevSetCtrl::SetTatesujiLevel(int level) { return RTOSMapper().SetTatesujiLevel(level), Accepted(); }
int CDevSetCtrl::GetLowSpeedFeedMode() { return RTOSMapper().GetLowSpeedFeedMode(); }
int CDevSetCtrl::SetLowSpeedFeedMode(int mode) { return RTOSMapper().SetLowSpeedFeedMode(mode), Accepted(); }
int CDevSetCtrl::GetUsbMaxSpeed() { return RTOSMapper().GetUsbMaxSpeed(); }
int CDevSetCtrl::SetUsbMaxSpeed(int value) { return RTOSMapper().SetUsbMaxSpeed(value), Accepted(); }
int CDevSetCtrl::GetStackingControl() { return RTOSMapper().GetStackingControl(); }
int CDevSetCtrl::SetStackingControl(int mode) { return RTOSMapper().SetStackingControl(mode), Accepted(); }
int CDevSetCtrl::GetStartupMode() { return RTOSMapper().GetStartupMode(); }
int CDevSetCtrl::SetStartupMode(int mode) { return RTOSMapper().SetStartupMode(mode), Accepted(); }
