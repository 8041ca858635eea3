#include "dev_set_ctrl.h"

#include <unistd.h>

#include <cctype>
#include <cstring>

#include "dvwc_calls.h"
#include "field_merge.h"
#include "ft_device_group.h"
#include "model_catalog.h"
#include "mqcontrol_context.h"

CDevSetCtrl g_CDevSetCtrl;

namespace mqcontrol_models {
const char* const kDunmoMe2Cga[2] = {"DunmoCgaM30", "DunmoCgaM50"};
const char* const kShortImage = "ZemblZ350";
const char* const kTavrinPathFull = "DunmoD1200";
const char* const kTavrinPathShort = "DunmoD1600";
const char* const kOlderInkModels[7] = {"DunmoD1200",   "DunmoD1600",   "ZemblZ350",   "Tavrin4LA110",
                                        "Tavrin4LA120", "Tavrin4LA130", "Tavrin4LA140"};
const char* const kFurtherInkModel = "Feyra2F90";
}  // namespace mqcontrol_models

using namespace mqcontrol_models;

namespace {

constexpr int kVerifyPasses = 3;
constexpr useconds_t kVerifyPauseUs = 2000000;
constexpr int kCommitCheckByte = 328;

const char* ActiveName() { return g_cpActiveScannerName ? g_cpActiveScannerName : ""; }

bool Is(const char* name) { return name && std::strcmp(ActiveName(), name) == 0; }

// The written forms of a family whose first letter has the given case.
template <size_t N>
bool IsFormOfCase(const dravn::CatalogModel (&models)[N], bool upper) {
  for (const dravn::CatalogModel& m : models)
    for (const char* form : {m.model, m.altModel})
      if (form && (std::isupper(static_cast<unsigned char>(form[0])) != 0) == upper && Is(form)) return true;
  return false;
}

template <size_t N>
bool IsOneOf(const dravn::CatalogModel (&models)[N]) {
  for (const dravn::CatalogModel& m : models)
    if (Is(m.model) || Is(m.altModel)) return true;
  return false;
}

bool IsUpperVantor() { return IsFormOfCase(dravn::kVantorModels, true); }
bool IsVantorOrPilvo() { return IsUpperVantor() || IsOneOf(dravn::kPilvoModels); }

// The number of image bytes the device's EEPROM read returns for the
// model; a model outside the tables has none.
int ReadSize() {
  int size = LookupDeviceValue(g_cpActiveScannerName, 5);
  return size > 0 && size <= kEepromImageSize ? size : -1;
}

// Settings that a Tavrin-path or RTOS model keeps at its place in the
// default layout are marked in the Pilvo set: carry the fields marked there
// too, or the edit would be dropped while the write reports success.
void MergeDefaultLayoutEdits(const uint8_t* image, uint8_t* table) {
  MergeLayout marked = kPilvoLayout;
  marked.wordCount = 0;
  marked.alwaysCount = 0;
  MergeFields(marked, g_PilvomodFlags, image, table);
}

enum class Path { Vantor, Pilvo, DunmoMe2, Tavrin, Short, Image255, Image512, RTOS, Other };

struct WritePath {
  Path path;
  int readLength;   // merge paths: the device table read first
  int writeLength;  // 0: what was read from the device (the other models)
};

WritePath ChoosePath(int readSize) {
  FtDeviceGroup group;
  if (IsUpperVantor()) return {Path::Vantor, 512, 384};
  if (IsOneOf(dravn::kPilvoModels)) return {Path::Pilvo, 512, 512};
  if (group.IsDunmoMe2()) return {Path::DunmoMe2, 512, 384};
  if (group.IsRuvik() || Is(kTavrinPathShort)) return {Path::Tavrin, 255, 255};
  if (group.IsTavrin4LA() || group.IsDocuvane() || group.IsSaldex() || Is(kTavrinPathFull) || group.IsTavrin3())
    return {Path::Tavrin, 512, 384};
  if (Is(kShortImage)) return {Path::Short, 0, 128};
  if (group.IsVelmorakModelA() || group.IsVelmorakModelB() || group.IsVelmorakModelD()) return {Path::Image255, 0, 255};
  if (group.IsVelmorakModelE() || group.IsVelmorakModelF() || group.IsBrenna() || group.IsSelkoFamily())
    return {Path::Image512, 0, 512};
  if (group.IsRTOS()) return {Path::RTOS, readSize, readSize};
  return {Path::Other, 0, g_nReadEEPSize};
}

void Merge(Path path, const uint8_t* image, uint8_t* table) {
  switch (path) {
    case Path::Vantor:
      return MergeVantor(g_VantorAmodFlags, g_VantorBmodFlags, image, table);
    case Path::Pilvo:
      return MergeFields(kPilvoLayout, g_PilvomodFlags, image, table);
    case Path::DunmoMe2:
      return MergeFields(kDunmoMe2Layout, g_DunmoMe2modFlags, image, table);
    case Path::Tavrin:
      MergeFields(kTavrin3Layout, g_Tavrin3modFlags, image, table);
      return MergeDefaultLayoutEdits(image, table);
    case Path::RTOS:
      MergeFields(kRTOSLayout, g_RTOSmodFlags, image, table);
      return MergeDefaultLayoutEdits(image, table);
    default:
      return;
  }
}

void ClearModified(Path path) {
  switch (path) {
    case Path::Vantor:
      std::memset(g_VantorAmodFlags, 0, sizeof g_VantorAmodFlags);
      std::memset(g_VantorBmodFlags, 0, sizeof g_VantorBmodFlags);
      return;
    case Path::Pilvo:
      std::memset(g_PilvomodFlags, 0, sizeof g_PilvomodFlags);
      return;
    case Path::DunmoMe2:
      std::memset(g_DunmoMe2modFlags, 0, sizeof g_DunmoMe2modFlags);
      return;
    case Path::Tavrin:
      std::memset(g_Tavrin3modFlags, 0, sizeof g_Tavrin3modFlags);
      std::memset(g_PilvomodFlags, 0, sizeof g_PilvomodFlags);
      return;
    case Path::RTOS:
      std::memset(g_RTOSmodFlags, 0, sizeof g_RTOSmodFlags);
      std::memset(g_PilvomodFlags, 0, sizeof g_PilvomodFlags);
      return;
    default:
      return;
  }
}

// The fields the DunmoMe2 default loads replace.
void MarkDunmoMe2Defaults() {
  uint8_t* f = g_DunmoMe2modFlags;
  f[0] |= 0x07;
  for (int k = 1; k <= 6; ++k) f[k] |= 0x03;
  f[7] |= 0x01;
  f[8] |= 0x01;
  f[9] |= 0x04;
  f[10] |= 0x1F;
  f[11] |= 0x07;
  f[12] |= 0x01;
  f[13] |= 0x01;
  f[14] |= 0x3F;
  f[15] |= 0x01;
  f[16] |= 0x03;
  f[17] |= 0x01;
  f[18] |= 0x03;
  f[19] |= 0x03;
  f[20] |= 0x01;
  f[21] = static_cast<uint8_t>((f[21] & ~0x06) | 0x03);
  f[30] |= 0x01;
  f[31] |= 0x01;
}

int WriteImage(const WritePath& path) {
  auto* write = Dvwc<DvwcWriteEeprom>("dvwc_WriteEEPROM");
  switch (path.path) {
    case Path::Short:
    case Path::Image255:
    case Path::Image512:
    case Path::Other:
      // The image goes out whole: only bytes read from this device may.
      if (path.writeLength <= 0 || path.writeLength > kEepromImageSize || g_nReadEEPSize < path.writeLength) return -1;
      if (!write || !write(g_cpActiveScanner, g_byEEPData, static_cast<unsigned short>(path.writeLength), 0)) return -1;
      return 0;
    default:
      break;
  }
  if (path.readLength <= 0) return -1;
  auto* get = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM");
  uint8_t table[kEepromImageSize] = {};
  if (!get || !get(g_cpActiveScanner, table, static_cast<unsigned short>(path.readLength))) return -1;
  Merge(path.path, g_byEEPData, table);
  if (!write) return -1;
  const int written = write(g_cpActiveScanner, table, static_cast<unsigned short>(path.writeLength), 0);
  // The merged table holds every edit, so the image may become it whatever
  // the write did.
  std::memcpy(g_byEEPData, table, path.path == Path::RTOS ? static_cast<size_t>(path.readLength) : sizeof table);
  return written ? 0 : -1;
}

int CommitAndVerify(int readSize) {
  auto* lock = Dvwc<DvwcLockEeprom>("dvwc_LockEEPROM");
  if (lock && !lock(g_cpActiveScanner)) return -1;
  auto* working = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM");
  auto* persistent = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM_Element");
  if (!working || !persistent) return -5;
  if (readSize < 0) return -1;
  const unsigned short size = static_cast<unsigned short>(readSize);
  for (int pass = 0; pass < kVerifyPasses; ++pass) {
    uint8_t a[kEepromImageSize] = {};
    uint8_t b[kEepromImageSize] = {};
    if (!working(g_cpActiveScanner, a, size)) return -1;
    std::memcpy(g_byEEPData, a, size);
    if (!persistent(g_cpActiveScanner, b, size)) return -1;
    if (a[kCommitCheckByte] == b[kCommitCheckByte]) return 0;
    usleep(kVerifyPauseUs);
  }
  // The persistent EEPROM never took the commit.
  return -1;
}

}  // namespace

bool WritesThroughTavrinMerge() { return ChoosePath(g_nReadEEPSize).path == Path::Tavrin; }

CDevSetCtrl::CDevSetCtrl()
    : m_nInkLifeReset(0),
      m_nCounterSetup(0),
      m_nReserved1(0),
      m_nEndorserReset(0),
      m_nReserved2(0),
      m_nChanged(0),
      m_nInquiryHead(0),
      m_byInquiry(),
      m_byVpd(),
      m_nUsbSpeedChanged(0),
      m_nUsbSpeedPrevious(0) {}

CDevSetCtrl::~CDevSetCtrl() = default;

int CDevSetCtrl::readDevSetting() {
  m_nEndorserReset = 0;
  m_nReserved2 = 0;
  m_nChanged = 0;
  m_nInquiryHead = 0;
  const int size = ReadSize();
  if (size < 0) return -1;
  const int have = g_nReadEEPSize > 0 ? g_nReadEEPSize : 0;
  if (have < size) {
    auto* get = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM");
    uint8_t fresh[kEepromImageSize] = {};
    if (!get || !get(g_cpActiveScanner, fresh, static_cast<unsigned short>(size))) return -1;
    // The leading bytes of an earlier, shorter read may hold edits.
    const int end = have == 0 ? size : kEepromImageSize;
    std::memcpy(g_byEEPData + have, fresh + have, static_cast<size_t>(end - have));
    g_nReadEEPSize = size;
  }
  auto* inquiry = Dvwc<DvwcInquiry2>("dvwc_Inquiry2");
  if (!inquiry || !inquiry(g_cpActiveScanner, m_byInquiry)) return -1;
  auto* vpd = Dvwc<DvwcInquiryVpd>("dvwc_InquiryVPD");
  if (!vpd) return -1;
  vpd(g_cpActiveScanner, m_byVpd, sizeof m_byVpd, 0);
  DevInfoBackUp();
  return 0;
}

int CDevSetCtrl::writeDevSetting(int) {
  if (g_bDevSetEdit)
    m_nChanged = 1;
  else if (!m_nChanged)
    return 1;
  if (Is(dravn::kDunmoMe2Models[2].model) && m_nInkLifeReset) {
    g_byEEPData[204] = 100;
    g_DunmoMe2modFlags[29] |= 0x01;
    m_nInkLifeReset = 0;
  }
  const int readSize = ReadSize();
  const WritePath path = ChoosePath(readSize);
  int rc = WriteImage(path);
  if (rc == 0) rc = CommitAndVerify(readSize);
  if (rc != 0) return rc;
  // Only now are the edits on the device: a failed write, commit or
  // verification keeps them marked for the next one.
  ClearModified(path.path);
  if (ResetInkLife() != 0) return -1;
  if (IsVantorOrPilvo()) m_nCounterSetup = 0;
  m_nUsbSpeedChanged = 0;
  m_nChanged = 0;
  g_bDevSetEdit = 0;
  return 0;
}

bool CDevSetCtrl::InkResetModel() const {
  FtDeviceGroup group;
  if (group.IsTavrin5() || group.IsGorlan() || group.IsTavrin5E()) return true;
  for (const char* name : kOlderInkModels)
    if (Is(name)) return true;
  return IsVantorOrPilvo() || IsFormOfCase(dravn::kDunmoMe2Models, false) || Is(kFurtherInkModel) ||
         IsOneOf(dravn::kSaldexModels) || IsOneOf(dravn::kTavrin3Models) || IsOneOf(dravn::kTavrin4Models);
}

int CDevSetCtrl::ResetInkLife() {
  if (!m_nInkLifeReset || !InkResetModel()) return 0;
  if (!ClearRemainingInk(g_cpActiveScanner, IsVantorOrPilvo() ? 1 : 0)) return -1;
  m_nInkLifeReset = 0;
  return 0;
}

int CDevSetCtrl::ClearRemainingInk(const char* device, int type) {
  auto* send = Dvwc<DvwcClearRemainInk>("dvwc_ClearRemainInk");
  if (!send) return 0;
  const char* clear = type == 1 ? "CLEAR INK-LIFE 1" : type == 2 ? "CLEAR INK-LIFE 2" : "CLEAR INK-LIFE  ";
  const char* get = type == 1 ? "GET IMP-LIFE 1  " : type == 2 ? "GET IMP-LIFE 2  " : "GET IMP-LIFE    ";
  if (!send(device, reinterpret_cast<const unsigned char*>(clear), 16)) return 0;
  return send(device, reinterpret_cast<const unsigned char*>(get), 16) ? 1 : 0;
}

int CDevSetCtrl::DeviceRestart(const char*) {
  auto* restart = Dvwc<DvwcDeviceRestart>("dvwc_DeviceRestart");
  return restart ? restart(g_cpActiveScanner) : 1;
}

int CDevSetCtrl::IsEndorserOption() const { return m_byVpd[92] >= 32 || (IsVantorOrPilvo() && m_byVpd[93] >= 32); }

int CDevSetCtrl::IsExistFlatbet() const { return (m_byVpd[32] >> 6) & 1; }

int CDevSetCtrl::GetAlarm() const { return (g_byEEPData[182] >> 4) & 1; }

int CDevSetCtrl::SetAlarm(int on) {
  const bool pilvo = IsPilvo();
  if (!pilvo && on != 0 && on != 1) return -1;
  if (on)
    g_byEEPData[182] |= 0x10;
  else
    g_byEEPData[182] &= static_cast<uint8_t>(~0x10);
  m_nChanged = 1;
  if (pilvo) {
    g_PilvomodFlags[7] |= 0x08;
  } else {
    g_VantorAmodFlags[7] |= 0x08;
    g_VantorBmodFlags[7] |= 0x08;
  }
  return 0;
}

int CDevSetCtrl::initDevSet2Info() {
  FtDeviceGroup group;
  int loaded;
  if (Is(kDunmoMe2Cga[0]) || Is(kDunmoMe2Cga[1]))
    loaded = reloadDunmoMe2CGA();
  else if (IsFormOfCase(dravn::kDunmoMe2Models, false))
    loaded = reloadDunmoMe2Std();
  else if (!group.IsTavrin4LA() && !group.IsTavrin3() && !group.IsPilvo() && !group.IsSaldex() && !group.IsFeyra2() &&
           !group.IsTavrin5() && !group.IsDocuvane() && !group.IsTavrin5E() && !group.IsGorlan() && !group.IsSaldex3())
    loaded = reloadVantor();
  else
    return 1;
  if (loaded) m_nChanged = 1;
  return loaded;
}

int CDevSetCtrl::reloadDunmoMe2CGA() {
  auto* write = Dvwc<DvwcWriteEeprom>("dvwc_WriteEEPROM");
  auto* get = Dvwc<DvwcGetEeprom>("dvwc_GetEEPROM");
  if (!write || !get) return 0;
  const uint8_t one = 1;
  if (!write(g_cpActiveScanner, &one, 1, 181)) return 0;
  uint8_t table[kEepromImageSize] = {};
  if (!get(g_cpActiveScanner, table, sizeof table)) return 0;
  table[181] &= static_cast<uint8_t>(~0x01);
  if (!write(g_cpActiveScanner, &table[181], 1, 181)) return 0;
  std::memcpy(g_byEEPData, table, sizeof table);
  MarkDunmoMe2Defaults();
  return 1;
}

int CDevSetCtrl::reloadDunmoMe2Std() {
  auto* get = Dvwc<DvwcGetEeprom>("dvwc_GetDefaultEEPROM");
  uint8_t table[kEepromImageSize] = {};
  if (!get || !get(g_cpActiveScanner, table, sizeof table)) return 0;
  table[202] &= static_cast<uint8_t>(~0x08);
  table[48] = g_byEEPData[48];
  table[49] = static_cast<uint8_t>(g_byEEPData[49] & 0x7F);
  std::memcpy(g_byEEPData, table, sizeof table);
  MarkDunmoMe2Defaults();
  return 1;
}

int CDevSetCtrl::reloadVantor() {
  uint8_t* e = g_byEEPData;
  for (int at : {216, 217, 184, 185, 194, 79, 211}) e[at] = 0;
  e[210] &= static_cast<uint8_t>(~0x02);
  e[182] &= static_cast<uint8_t>(~0x80);
  e[207] &= static_cast<uint8_t>(~0x1F);
  e[161] &= 0x0F;
  e[162] &= static_cast<uint8_t>(~0x87);
  e[180] &= static_cast<uint8_t>(~0x02);
  for (uint8_t* f : {g_VantorAmodFlags, g_VantorBmodFlags}) {
    f[0] |= 0x02;
    f[4] |= 0x02;
    f[5] |= 0x03;
    f[6] |= 0x01;
    f[7] |= 0x20;
    f[8] |= 0x01;
    f[9] |= 0x03;
    f[10] |= 0x03;
    f[11] |= 0x03;
    f[12] |= 0x01;
  }
  return 1;
}

int CDevSetCtrl::IsDunmoMe2() const { return FtDeviceGroup().IsDunmoMe2(); }
int CDevSetCtrl::IsPilvo() const { return FtDeviceGroup().IsPilvo(); }
int CDevSetCtrl::IsSaldex() const { return FtDeviceGroup().IsSaldex(); }
int CDevSetCtrl::IsTavrin4LA() const { return FtDeviceGroup().IsTavrin4LA(); }
int CDevSetCtrl::IsTavrin4() const { return FtDeviceGroup().IsTavrin4(); }
int CDevSetCtrl::IsTavrin3() const { return FtDeviceGroup().IsTavrin3(); }
