#include "quorra_info.h"

#include <libintl.h>

#include <cstring>
#include <initializer_list>

#include "dev_set_ctrl.h"
#include "dvwc_calls.h"
#include "field_merge.h"
#include "ft_device_group.h"
#include "model_catalog.h"
#include "mqcontrol_context.h"
#include "quorra_groups.h"

int g_nLongTimerMinutes = 0;

using namespace quorra;

namespace {

uint32_t U32(const unsigned char* p, int at) {
  return static_cast<uint32_t>(p[at]) | static_cast<uint32_t>(p[at + 1]) << 8 | static_cast<uint32_t>(p[at + 2]) << 16 |
         static_cast<uint32_t>(p[at + 3]) << 24;
}
uint32_t Be32(const unsigned char* p, int at) {
  return static_cast<uint32_t>(p[at]) << 24 | static_cast<uint32_t>(p[at + 1]) << 16 |
         static_cast<uint32_t>(p[at + 2]) << 8 | p[at + 3];
}
// The top four bits of the first byte belong to other settings.
uint32_t Be28(const unsigned char* p, int at) { return Be32(p, at) & 0x0FFFFFFFu; }

void Zero(int at, int count) { std::memset(g_byEEPData + at, 0, static_cast<size_t>(count)); }
// Clears the counter in the low 28 bits of a big-endian word, keeping the
// other settings in the top four bits of its first byte.
void ZeroBe28(int at) {
  g_byEEPData[at] &= 0xF0;
  Zero(at + 1, 3);
}

const char* Tr(const char* text) { return gettext(text); }


}  // namespace

CQuorraInfo::CQuorraInfo() : m_info() {
  m_info.powerSavingSection = 1;
  m_info.secondSection = 1;
  m_info.thirdSection = 1;
  m_info.flatbed = 1;
  m_info.powerSavingMin = 5;
  m_info.powerSavingMax = 55;
  m_info.powerSavingCurrent = 5;
  m_info.powerSavingSupported = 1;
  m_info.powerOffActive = 0;
  m_info.powerOffChoice = 2;
  m_info.imageReadStatus = 1;
  InitDialog(g_cpActiveScannerName);
}

int CQuorraInfo::InquiryVPD(const char* device, unsigned char* buffer, unsigned short length) {
  // A missing entry is a failure: the buffer was never filled.
  auto* fn = Dvwc<DvwcInquiryVpd>("dvwc_InquiryVPD");
  return fn ? fn(device, buffer, length, 0) : 0;
}
int CQuorraInfo::GetEEPROM(const char* device, unsigned char* buffer, unsigned short length) {
  auto* fn = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM");
  return fn ? fn(device, buffer, length) : 0;
}
int CQuorraInfo::WriteEEPROM(const char* device, const unsigned char* buffer, uint16_t offset, uint16_t length) {
  auto* fn = Dvwc<DvwcWriteEeprom>("dvwc_WriteEEPROM");
  return fn ? fn(device, buffer, length, offset) : 0;
}
int CQuorraInfo::LockEEPROM(const char* device) {
  auto* fn = Dvwc<DvwcLockEeprom>("dvwc_LockEEPROM");
  return fn ? fn(device) : 0;
}

void CQuorraInfo::SetupAblationCount(const char* model, const unsigned char* p) {
  Groups q(model);
  kelo_quorra_info& r = m_info;

  int64_t adf, flatbed;
  const bool unitsDigit = g_cIniInfo.TotalCounter != 0 || LookupSupportFunction(model, 8) != 0;
  int k = LookupDeviceValue(model, 6);
  if (k < 0 || k > kEepromImageSize - 2) k = 294;
  if (q.L(L1)) {
    adf = U16(p, 3) * 500 + p[0] * 10;
    flatbed = U16(p, 6) * 500 + p[5] * 10;
  } else if (q.Ruvik()) {
    adf = U16(p, 46) * 500 + p[38] * 10;
    flatbed = U16(p, 44) * 500 + p[39] * 10 + p[247];
  } else if (q.Zembl()) {
    adf = Be32(p, 4);
    flatbed = Be32(p, 12);
  } else if (q.Rtos()) {
    adf = Be32(p, 412);
    flatbed = Be32(p, 420);
  } else if (q.SeriesA()) {
    adf = U32(p, 38);
    flatbed = 0;
  } else {
    adf = U16(p, 46) * 500 + p[38] * 10;
    flatbed = U16(p, 44) * 500 + p[39] * 10;
    if (unitsDigit) {
      adf += p[k];
      flatbed += p[k + 1];
    }
  }
  if (!q.Ruvik() && !q.VF()) r.totalAdf = static_cast<int32_t>(adf);

  if (q.Zembl()) {
    r.flatbed = 0;
  } else {
    unsigned char vpd[100] = {};
    if (InquiryVPD(g_cpActiveScanner, vpd, sizeof vpd)) {
      if (vpd[32] & 0x40)
        r.totalFlatbed = static_cast<int32_t>(flatbed);
      else
        r.flatbed = 0;
    }
  }

  if (q.LA() || q.Docu() || q.T5() || q.T5E() || q.Gorlan() || q.Saldex3() || q.Dunmo() || q.Me2() || q.Vantor() ||
      q.Pilvo() || q.T3() || q.T4())
    r.rollerLabel = Tr("Brake Roller:");
  else if (q.VE() || q.Selko())
    r.rollerLabel = Tr("Roller Set:");
  else
    r.rollerLabel = Tr("Pad:");

  int64_t roller;
  if (q.L(L1))
    roller = U16(p, 8) * 500 + p[0] * 10;
  else if (q.L(L2) || q.Me2() || q.Pilvo() || q.Vantor())
    roller = U16(p, 62) * 500;
  else if (q.TavrinCounters())
    roller = (p[125] * 256 + p[124]) * 500;
  else if (q.Zembl())
    roller = Be32(p, 0);
  else if (q.VE())
    roller = Be32(p, 404);
  else if (q.VA() || q.VB() || q.VC())
    roller = p[125] * 65536 + p[124] * 256 + p[61];
  else if (q.Rtos())
    roller = Be28(p, 400);
  else if (q.Selko())
    roller = U16(p, 60) * 500;
  else
    roller = U16(p, 124) * 500;
  if (q.Ruvik() || q.VD() || q.VF())
    roller = r.roller;
  else
    r.roller = static_cast<int32_t>(roller);
  const int64_t rollerCycle = g_CDevSetCtrl.GetADDR_BR_Counter();
  if (roller >= rollerCycle * 10000)
    r.rollerDue = 1;
  else if (r.roller >= rollerCycle * 9500)
    r.rollerNearEnd = 1;

  if (!q.VE() && !q.Selko()) r.pickLabel = Tr("Pick Roller:");

  int64_t pick;
  if (q.L(L1))
    pick = U16(p, 1) * 500 + p[0] * 10;
  else if (q.TavrinCounters())
    pick = (p[61] * 256 + p[60]) * 500;
  else if (q.Zembl())
    pick = Be32(p, 84);
  else if (q.VA() || q.VB() || q.VC())
    pick = p[60] * 65536 + p[49] * 256 + p[48];
  else if (q.Rtos())
    pick = Be28(p, 404);
  else
    pick = U16(p, 60) * 500;
  if (q.Ruvik() || q.VD() || q.VE() || q.VF() || q.Selko())
    pick = r.pick;
  else
    r.pick = static_cast<int32_t>(pick);
  const int64_t pickCycle = g_CDevSetCtrl.GetADDR_PR_Counter();
  if (pick >= pickCycle * 10000)
    r.pickDue = 1;
  else if (r.pick >= pickCycle * 9500)
    r.pickNearEnd = 1;

  if (q.Rtos() && LookupSupportFunction(model, 0) && !q.Vantor() && !q.Pilvo() && !q.Me2() && !q.VE() && !q.VF()) {
    r.afterCleaningSupported = 1;
    r.afterCleaningLabel = Tr("After cleaning:");
    r.afterCleaning = static_cast<int32_t>(Be28(p, 424));
    if (static_cast<int64_t>(r.afterCleaning) >= static_cast<int64_t>(g_CDevSetCtrl.GetCleaningTerms()) * 1000)
      r.cleaningDue = 1;
  }
}

void CQuorraInfo::OnConsumptionReset1(const char* model) {
  Groups q(model);
  if (q.LA() || q.Saldex() || q.Feyra2() || q.T3() || q.T4()) {
    Zero(124, 2);
    g_bDevSetEdit = 1;
    g_Tavrin3modFlags[22] |= 3;
  } else if (q.Brenna() || q.Docu() || q.L(L5) || q.L(L6) || q.L(L7) || q.L(L1)) {
    Zero(124, 2);
    // A model written through the Tavrin merge keeps only marked fields.
    if (WritesThroughTavrinMerge()) g_Tavrin3modFlags[22] |= 3;
  } else if (q.Me2()) {
    Zero(62, 2);
    g_DunmoMe2modFlags[27] |= 3;
  } else if (q.Dunmo() || q.Pilvo() || q.Vantor()) {
    Zero(62, 2);
  } else if (q.Zembl()) {
    Zero(0, 4);
  } else if (q.VE() || q.VF()) {
    Zero(400, 8);
  } else if (q.SeriesA()) {
    Zero(61, 1);
    Zero(124, 2);
  } else if (q.Rtos()) {
    ZeroBe28(400);
    g_RTOSmodFlags[29] |= 0x0F;
  } else if (q.L(L4)) {
    Zero(109, 3);
  } else if (q.Selko()) {
    Zero(60, 2);
  }
  m_info.roller = 0;
}

void CQuorraInfo::OnConsumptionReset2(const char* model) {
  Groups q(model);
  if (q.LA() || q.Saldex() || q.Feyra2() || q.T3() || q.T4() || q.Brenna() || q.Docu()) {
    Zero(60, 2);
    g_bDevSetEdit = 1;
    g_Tavrin3modFlags[21] |= 3;
  } else if (q.Zembl()) {
    Zero(84, 4);
  } else if (q.VE()) {
  } else if (q.SeriesA()) {
    Zero(48, 2);
    Zero(60, 1);
  } else if (q.L(L5) || q.L(L6) || q.L(L7) || q.Dunmo() || q.Vantor() || q.Pilvo() || q.L(L1)) {
    Zero(60, 2);
  } else if (q.Me2()) {
    Zero(60, 2);
    g_DunmoMe2modFlags[28] |= 3;
  } else if (q.L(L4)) {
    Zero(109, 3);
  } else if (q.Rtos()) {
    ZeroBe28(404);
    g_RTOSmodFlags[30] |= 0x0F;
  }
  m_info.pick = 0;
}

void CQuorraInfo::OnConsumptionReset3() {
  Groups q(g_cpActiveScannerName);
  if (q.T5() || q.T5E() || q.Gorlan() || q.Saldex() || q.Dunmo() || q.Me2() || q.Vantor() || q.T3() || q.T4() ||
      q.L(L6) || q.L(L7)) {
    g_CDevSetCtrl.m_nInkLifeReset = 1;
    g_bDevSetEdit = 1;
  }
}

void CQuorraInfo::OnConsumptionReset7() {
  Groups q(g_cpActiveScannerName);
  auto keepTop = [] {
    g_byEEPData[48] = 0;
    g_byEEPData[49] &= 0x80;
  };
  if (q.Vantor()) {
    keepTop();
    g_VantorAmodFlags[2] |= 5;
  } else if (q.Pilvo()) {
    keepTop();
    g_PilvomodFlags[2] |= 5;
  } else if (q.Me2()) {
    keepTop();
    g_DunmoMe2modFlags[11] |= 5;
  } else if (q.Rtos()) {
    g_byEEPData[424] &= 0x80;
    Zero(425, 3);
    g_RTOSmodFlags[24] |= 0x1E;
  }
  m_info.afterCleaning = 0;
}
