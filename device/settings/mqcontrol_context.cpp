#include "mqcontrol_context.h"

#include <cstring>
#include <vector>

#include "dravn_paths.h"
#include "ft_device_group.h"
#include "model_catalog.h"

const char* g_cpActiveScanner = nullptr;
char* g_cpActiveScannerName = nullptr;
int g_bPwdProtect = 0;
void* g_vpDevwatch = nullptr;
CIniInfo g_cIniInfo = {0, 0, 0, 0, 1, 0, 0};
char g_Tavrin3FirmVer[16];

namespace {

using dravn::Family;

// The rows per family: which settings the front end offers and where the
// family keeps its values in the EEPROM image.
struct FamilyRow {
  int flags[kSopFunctionCount];
  int values[kDeviceValueCount];
};

FamilyRow RowOf(Family family) {
  switch (family) {
    case Family::Selko:
    case Family::Selko2:
    case Family::Brenna:
      // Their maintenance images carry the auto-off code at 280, in the
      // power-off code's own units (hours x 4, bit 7 inactive).
      return {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {-1, -1, 280, -1, -1, 512, -1, -1, -1}};
    case Family::Vantor:
    case Family::Pilvo:
      return {{1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 1, 0}, {-1, -1, 86, 438, 121, 512, 42, 10, 202}};
    case Family::DunmoMe2:
      return {{1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 1, 0}, {-1, -1, 86, 438, 115, 512, 42, 10, 202}};
    case Family::Tavrin5:
    case Family::Tavrin5E:
    case Family::Saldex3:
    case Family::Gorlan:
      return {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}, {20, 20, 230, 92, 120, 512, 294, 5, -1}};
    default:
      return {{1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 0, 0}, {-1, -1, 280, 284, 287, 512, 294, -1, -1}};
  }
}

struct Tables {
  std::vector<SupportFuncRow> support;
  std::vector<DevValueRow> values;
};

// One row per written form of every catalogue model.
const Tables& TheTables() {
  static const Tables tables = [] {
    Tables t;
    auto add = [&t](const char* name, const FamilyRow& row) {
      SupportFuncRow s{name, {}};
      std::memcpy(s.flags, row.flags, sizeof s.flags);
      DevValueRow v{name, {}};
      std::memcpy(v.values, row.values, sizeof v.values);
      t.support.push_back(s);
      t.values.push_back(v);
    };
    for (const dravn::CatalogModel& m : dravn::kAllModels) {
      FamilyRow row = RowOf(m.family);
      // Velmorak E and F follow the RTOS rules, the others the older ones.
      if (m.family == Family::Velmorak &&
          (std::strcmp(m.model, dravn::kVelmorakModels[4].model) == 0 ||
           std::strcmp(m.model, dravn::kVelmorakModels[5].model) == 0))
        row = RowOf(Family::Tavrin5);
      add(m.model, row);
      if (m.altModel) add(m.altModel, row);
    }
    return t;
  }();
  return tables;
}

}  // namespace

const SupportFuncRow* SupportFuncTable(int* rows) {
  *rows = static_cast<int>(TheTables().support.size());
  return TheTables().support.data();
}

const DevValueRow* DevValueTable(int* rows) {
  *rows = static_cast<int>(TheTables().values.size());
  return TheTables().values.data();
}

int LookupSupportFunction(const char* model, int index) {
  if (!model || index < 0 || index >= kSopFunctionCount) return 0;
  for (const SupportFuncRow& r : TheTables().support)
    if (std::strcmp(r.model, model) == 0) return r.flags[index];
  return 0;
}

int LookupDeviceValue(const char* model, int index) {
  if (!model || index < 0 || index >= kDeviceValueCount) return -1;
  for (const DevValueRow& r : TheTables().values)
    if (std::strcmp(r.model, model) == 0) return r.values[index];
  return -1;
}

void SopSettingInit() {
  g_cIniInfo = {0, 0, 0, 0, 1, 0, 0};
  using GetXml = int(const char*, const char*, short, const char*);
  GetXml* get = Dvwc<GetXml>("dvwc_GetXMLSettings");
  if (!get || !g_cpActiveScannerName) return;
  static const char kPath[] = DRAVN_ETC_DIR "/consumablessettings.xml";
  const char* model = g_cpActiveScannerName;
  g_cIniInfo.TotalCounter = get(model, "TotalCounter", 0, kPath);
  g_cIniInfo.PowerSaving = get(model, "PowerSaving", 0, kPath);
  g_cIniInfo.Pause = get(model, "Pause", 0, kPath);
  g_cIniInfo.SaveRestore = get(model, "SaveRestore", 0, kPath);
  g_cIniInfo.PowerOffTimer = get(model, "PowerOffTimer", 1, kPath);
  g_cIniInfo.VendorId = get(model, "VendorId", 0, kPath);
  bool selko2 = false;
  for (const dravn::CatalogModel& m : dravn::kSelko2Models) selko2 = selko2 || std::strcmp(m.model, model) == 0;
  g_cIniInfo.IgnoreEnergyStar3 = selko2 ? 0 : get(model, "IgnoreEnergyStar3", 0, kPath);
}
