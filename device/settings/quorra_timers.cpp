// The consumables dialog initialisation and the two power timers.
#include <libintl.h>

#include <algorithm>
#include <cstring>

#include "dev_set_ctrl.h"
#include "ft_device_group.h"
#include "model_catalog.h"
#include "mqcontrol_context.h"
#include "quorra_groups.h"
#include "quorra_info.h"

using quorra::Groups;

namespace {

using DvwcModePage = int(const char* device, unsigned char* page, unsigned short length);

constexpr int kModePageSize = 12;
constexpr unsigned char kLongTimerPage = 0x34;

void ModePage(unsigned char* page, unsigned char first, unsigned char code) {
  std::memset(page, 0, kModePageSize);
  page[0] = first;
  page[4] = kLongTimerPage;
  page[5] = 0x06;
  page[6] = code;
}

bool DeviceAnswered(int result) { return result >= 0 || result == -4; }

// D1, D2 and D3: the long-timer byte of the settings image in minutes; a
// code past the family's limit turns power saving off (-1).
int DecodeD1(unsigned char b) {
  if (b < 3 || !(b & 0x80)) return 15;
  const int n = b & 0x7F;
  return n == 0 ? 5 : n < 48 ? n * 5 : -1;
}
int DecodeD2(unsigned char b) {
  const int n = b & 0x7F;
  if (!(b & 0x80) || n < 3) return 15;
  return n > 11 ? 55 : n * 5;
}
int DecodeD3(unsigned char b) {
  const int n = b & 0x7F;
  if (!(b & 0x80) || n < 3) return 15;
  return n > 11 ? -1 : n * 5;
}

}  // namespace

unsigned char CQuorraInfo::GetPowerOffTime() const {
  const int at = LookupDeviceValue(g_cpActiveScannerName, 2);
  return at >= 0 && at < kEepromImageSize ? g_byEEPData[at] : 0;
}

int CQuorraInfo::SetPowerOffTime(unsigned char code) {
  const int at = LookupDeviceValue(g_cpActiveScannerName, 2);
  if (at < 0 || at >= kEepromImageSize) return 0;
  if (g_byEEPData[at] == code) return 1;
  g_byEEPData[at] = code;
  g_bDevSetEdit = 1;
  return 1;
}

int CQuorraInfo::SetPowerSavingEEPROM(uint16_t minutes) {
  const unsigned char c = static_cast<unsigned char>((minutes / 5) | 0x80);
  int at = -1;
  unsigned char value = c;
  Groups q(g_cpActiveScannerName);
  if (g_cIniInfo.PowerSaving != 0) {
    at = 64;
    if (minutes <= 14) value = static_cast<unsigned char>(minutes);
  } else if (q.LA() || q.Docu() || q.L(quorra::L6) || q.L(quorra::L8) || q.Saldex() || q.Ruvik() || q.T3() ||
             q.T4() || q.Brenna() || q.Selko()) {
    at = 64;
  } else if (q.Rtos()) {
    at = 298;
  } else if (q.Dunmo() || q.Me2() || q.Vantor() || q.Pilvo()) {
    at = 328;
  } else if (q.L(quorra::L9)) {
    at = 71;
    value = static_cast<unsigned char>(minutes);
  }
  if (at >= 0 && g_byEEPData[at] != value) {
    g_byEEPData[at] = value;
    if (at == 64) g_bDevSetEdit = 1;
  }
  return 1;
}

int CQuorraInfo::ModeSense_LongTimer(const char* device, uint16_t* code) {
  *code = 0;
  auto* sense = Dvwc<DvwcModePage>("dvwc_ModeSense_LongTimer");
  if (!sense) return 1;
  unsigned char page[kModePageSize];
  ModePage(page, 0x0C, 0);
  if (!DeviceAnswered(sense(device, page, kModePageSize))) return 0;
  *code = page[6];
  return 1;
}

int CQuorraInfo::ModeSelect_LongTimer(const char* device, uint16_t* minutes) {
  const unsigned m = *minutes;
  unsigned char code;
  if (g_cIniInfo.PowerSaving != 0) {
    code = m <= 14 ? static_cast<unsigned char>(m) : static_cast<unsigned char>((m / 5) | 0x80);
    if (m > 14) *minutes = code;
  } else {
    Groups q(g_cpActiveScannerName);
    const bool fiveMinuteFloor = q.LA() || q.Docu() || q.T5() || q.Pilvo() || q.Saldex() || q.T4() || q.Selko() ||
                                 q.T5E() || q.Gorlan() || q.Brenna() || q.Saldex3();
    if (fiveMinuteFloor && m <= 4)
      code = 0x81;
    else if (!fiveMinuteFloor && m <= 14)
      code = 0x83;
    else
      code = static_cast<unsigned char>((m / 5) | 0x80);
    *minutes = static_cast<uint16_t>((m / 1280) << 8 | code);
  }
  auto* select = Dvwc<DvwcModePage>("dvwc_ModeSelect_LongTimer");
  if (!select) return 1;
  unsigned char page[kModePageSize];
  ModePage(page, 0, code);
  return DeviceAnswered(select(device, page, kModePageSize)) ? 1 : 0;
}

int CQuorraInfo::IsInquiryExtendedBytesSupported() const {
  Groups q(g_cpActiveScannerName);
  if (q.LA() || q.Docu() || q.Vantor() || q.Pilvo() || q.T4() || q.Rtos() || q.Zembl() || q.Saldex()) return 1;
  const char* limit = q.Me2() ? "0C00" : q.T3() ? "0B00" : q.Feyra2() ? "0M00" : nullptr;
  if (!limit) return 0;
  return std::memcmp(g_Tavrin3FirmVer, limit, 4) < 0 ? 1 : 0;
}

int CQuorraInfo::IsFirmLot6Supported() {
  if (m_info.firmLotKnown) return m_info.firmLotAnswer;
  Groups q(g_cpActiveScannerName);
  int answer = 0;
  if (q.VC() || q.VE() || q.Ruvik2() || q.VF() || q.Brenna() || q.Selko()) {
    answer = 1;
  } else if (IsInquiryExtendedBytesSupported()) {
    unsigned char vpd[143] = {};
    if (InquiryVPD(g_cpActiveScanner, vpd, sizeof vpd)) answer = q.Zembl() ? (vpd[94] & 0x10 ? 1 : 0) : vpd[118] >> 7;
  }
  m_info.firmLotAnswer = answer;
  m_info.firmLotKnown = 1;
  return answer;
}

int CQuorraInfo::InitDialog(const char* model) {
  Groups q(model);
  kelo_quorra_info& r = m_info;
  const bool imprinterModel = q.LA() || q.Docu() || q.T5() || q.L(quorra::L6) || q.L(quorra::L7) || q.Dunmo() ||
                              q.Vantor() || q.Me2() || q.Zembl() || q.Saldex() || q.Ruvik() || q.T3() || q.T4() ||
                              q.T5E() || q.Gorlan();
  if (imprinterModel) {
    unsigned char vpd[100] = {};
    if (InquiryVPD(g_cpActiveScanner, vpd, sizeof vpd) &&
        ((vpd[92] & 0xE0) || ((q.Vantor() || q.Pilvo()) && (vpd[93] & 0xE0)))) {
      r.imprinter = 1;
      r.thirdSection = 1;
    }
  }

  if (q.L(quorra::L3)) {
    if (g_nReadEEPSize == 0) {
      if (!GetEEPROM(g_cpActiveScanner, g_byEEPData, 96)) {
        r.imageReadStatus = 0;
        return -1;
      }
      g_nReadEEPSize = 96;
    }
    r.totalAdf = quorra::U16(g_byEEPData, 32);
    r.totalFlatbed = quorra::U16(g_byEEPData, 38);
    r.rollerLabel = gettext("Pad:");
    r.roller = quorra::U16(g_byEEPData, 56);
    r.pickLabel = gettext("Pick Roller:");
    r.pick = quorra::U16(g_byEEPData, 62);
  }

  unsigned char image[kEepromImageSize];
  if (g_nReadEEPSize == 0) {
    int size = 127;
    if (q.LA() || q.Docu() || q.T5() || q.L(quorra::L2) || q.Me2() || q.Vantor() || q.Pilvo() || q.Saldex() ||
        q.Ruvik() || q.VE() || q.VF() || q.T3() || q.T4() || q.Selko() || q.Gorlan() || q.T5E() || q.Brenna() ||
        q.Saldex3())
      size = 512;
    else if (q.SeriesA() || q.Zembl() || q.Feyra2())
      size = 255;
    unsigned char fresh[kEepromImageSize] = {};
    if (!GetEEPROM(g_cpActiveScanner, fresh, static_cast<unsigned short>(size))) {
      r.imageReadStatus = 0;
      return -1;
    }
    std::memcpy(g_byEEPData, fresh, sizeof fresh);
    g_nReadEEPSize = size;
  }
  std::memcpy(image, g_byEEPData, sizeof image);

  SetupAblationCount(model, image);

  if (LookupSupportFunction(model, 0) && IsFirmLot6Supported()) {
    r.powerOffSupported = 1;
    r.powerOffCode = GetPowerOffTime();
    r.powerOffActive = (r.powerOffCode & 0x80) ? 0 : 1;
    if (g_cIniInfo.PowerOffTimer == 1) {
      const int low = r.powerOffCode & 0x7F;
      r.powerOffChoice = low == 4 ? 0 : low == 8 ? 1 : low == 32 ? 3 : 2;
    }
  }

  if ((q.T5() || q.L(quorra::L6) || q.L(quorra::L7) || q.Dunmo() || q.Me2() || q.T3() || q.T4() || q.Gorlan() ||
       q.T5E()) &&
      r.imprinter) {
    auto* status = Dvwc<int(const char*, unsigned char*, unsigned short)>("dvwc_GetStatus2");
    unsigned char buffer[12] = {};
    if (status && status(g_cpActiveScanner, buffer, sizeof buffer)) r.remainingInk = std::min<int>(buffer[10], 100);
  }

  const bool powerSavingModel = imprinterModel || q.Pilvo() || q.VC() || q.VE() || q.VF() || q.Selko() ||
                                q.Brenna() || q.Saldex3();
  if (!powerSavingModel) {
    r.powerSavingSection = 0;
    if (q.L(quorra::L4)) r.secondSection = 0;
  } else {
    bool plainCode = false;  // the device's code counted minutes, not 5-minute steps
    auto off = [&] {
      r.powerSavingSupported = 0;
      g_nLongTimerMinutes = 0;
    };
    if (g_cIniInfo.PowerSaving != 0) {
      uint16_t code = 0;
      const int limit = q.Wide() ? 47 : 11;
      if (!ModeSense_LongTimer(g_cpActiveScanner, &code) || code == 0) {
        g_nLongTimerMinutes = 15;
      } else if (!(code & 0x80)) {
        plainCode = true;
        g_nLongTimerMinutes = code >= 3 && code <= 60 ? code : 15;
      } else if ((code & 0x7F) > limit) {
        off();
      } else {
        g_nLongTimerMinutes = (code & 0x7F) * 5;
      }
    } else {
      int minutes = g_nLongTimerMinutes;
      if (q.VE() || q.VF() || q.VC()) {
      } else if (q.Pilvo()) {
        minutes = DecodeD1(image[328]);
      } else if (q.Saldex() || q.Ruvik() || q.Selko() || q.Brenna() || q.T4() || q.LA() || q.Docu()) {
        minutes = DecodeD1(image[64]);
      } else if (q.T5() || q.T5E() || q.Gorlan() || q.Saldex3()) {
        minutes = DecodeD1(image[298]);
      } else if (q.Zembl()) {
        const int v = (image[70] << 8 | image[71]) + 1;
        minutes = v < 15 ? 15 : v >= 60 ? 55 : v / 5 * 5;
      } else if (q.L(quorra::L10)) {
        minutes = DecodeD2(image[64]);
      } else {
        const dravn::CatalogModel& vantor = dravn::kVantorModels[0];
        const bool vantorName = std::strcmp(model ? model : "", vantor.model) == 0 ||
                                (vantor.altModel && std::strcmp(model ? model : "", vantor.altModel) == 0);
        if (!vantorName) {
          uint16_t ignored;
          ModeSense_LongTimer(g_cpActiveScanner, &ignored);
        }
        minutes = DecodeD3(image[64]);
      }
      if (minutes < 0)
        off();
      else
        g_nLongTimerMinutes = minutes;
    }
    if (g_bPwdProtect) r.powerSavingSupported = 0;

    const int t = g_nLongTimerMinutes;
    const bool selkoLike = q.Selko() || q.Brenna();
    const bool ignoreStar = selkoLike && g_cIniInfo.IgnoreEnergyStar3 == 1;
    if (g_cIniInfo.PowerSaving == 0) {
      r.powerSavingMin = selkoLike ? 1 : 3;
      r.powerSavingMax = ignoreStar ? 47 : selkoLike ? 23 : 11;
      r.powerSavingCurrent = t / 5;
    } else {
      r.powerSavingMin = 3;
      r.powerSavingMax = q.Wide() || ignoreStar ? 59 : selkoLike ? 35 : 23;
      r.powerSavingCurrent = plainCode && t >= 3 && t <= 15 ? t : t / 5 + 12;
    }
  }

  if (g_bPwdProtect) {
    r.powerSavingSection = 0;
    r.secondSection = 0;
    r.thirdSection = 0;
    r.afterCleaningSupported = 0;
  }
  return 0;
}
