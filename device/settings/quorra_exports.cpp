// The consumables and timer exports: each builds a fresh CQuorraInfo, so
// every call reads the device afresh.
#include <cstring>

#include "dravn_export.h"
#include "mqcontrol_context.h"
#include "kelo_dev_info.h"
#include "offset_data.h"
#include "quorra_info.h"

namespace {

// An exception must not cross the C boundary; the call then does nothing.
template <typename F>
auto Guarded(F f, decltype(f()) failed) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    return failed;
  }
}

}  // namespace

DRAVN_C_EXPORT int GetQuorraInfo(kelo_quorra_info* out) {
  return Guarded(
      [&] {
        CQuorraInfo info;
        // The last word is the caller's, cleared before the call.
        if (out) std::memcpy(out, &info.Record(), offsetof(kelo_quorra_info, reserved33));
        return 1;
      },
      1);
}

DRAVN_C_EXPORT int* OnResetAfterCleaning() {
  return Guarded(
      [] {
        CQuorraInfo().OnConsumptionReset7();
        g_bDevSetEdit = 1;
        return &g_bDevSetEdit;
      },
      &g_bDevSetEdit);
}

DRAVN_C_EXPORT int* OnResetBrake() {
  return Guarded(
      [] {
        CQuorraInfo().OnConsumptionReset1(g_cpActiveScannerName);
        g_bDevSetEdit = 1;
        return &g_bDevSetEdit;
      },
      &g_bDevSetEdit);
}

DRAVN_C_EXPORT int* OnResetPick() {
  return Guarded(
      [] {
        CQuorraInfo().OnConsumptionReset2(g_cpActiveScannerName);
        g_bDevSetEdit = 1;
        return &g_bDevSetEdit;
      },
      &g_bDevSetEdit);
}

DRAVN_C_EXPORT int* OnResetRemaink() {
  return Guarded(
      [] {
        CQuorraInfo().OnConsumptionReset3();
        g_bDevSetEdit = 1;
        return &g_bDevSetEdit;
      },
      &g_bDevSetEdit);
}

DRAVN_C_EXPORT int SetPowerOffTime(unsigned char code) {
  return Guarded(
      [&] {
        const int done = CQuorraInfo().SetPowerOffTime(code);
        if (done == 1) g_bDevSetEdit = 1;
        return done;
      },
      0);
}

DRAVN_C_EXPORT int ModeSelect_LongTimer(const char* device, uint16_t* minutes) {
  if (!minutes) return 0;
  return Guarded([&] { return CQuorraInfo().ModeSelect_LongTimer(device, minutes); }, 0);
}

DRAVN_C_EXPORT int SetPowerSavingEEPROM(uint16_t minutes) {
  return Guarded(
      [&] {
        const int done = CQuorraInfo().SetPowerSavingEEPROM(minutes);
        if (done == 1) g_bDevSetEdit = 1;
        return done;
      },
      0);
}

DRAVN_C_EXPORT void GetOffSetData(kelo_offset_data* data) {
  if (data) Guarded([&] { return GetOffSetDataOf(data), 0; }, 0);
}

DRAVN_C_EXPORT int SetOffSetData(const kelo_offset_data* data) {
  return data ? Guarded([&] { return SetOffSetDataOf(data); }, 0) : 0;
}

DRAVN_C_EXPORT int OnInitDialog(kelo_dev_info* record) {
  if (!record) return 0;
  return Guarded([&] { return KeloDevInfo(record).OnInitDialog(); }, 0);
}
