#include "function_arbitration.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"

DvwcInquiryVPDFn g_dvwc_InquiryVPD = nullptr;
DvwcGetFirmVersionFn g_dvwc_GetFirmVersion = nullptr;
char* g_cpActiveScannerName = nullptr;
char* g_cpActiveScanner = nullptr;
char g_Tavrin3FirmVer[16] = {};
char g_DunmoMe2FirmVer[16] = {};
CDevSet2Builder g_DevFunc = {};
const char* g_szLauncherConf = DRAVN_MQLAUNCH_CONF;

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path) {
  int value = defaultValue;
  FILE* file = path ? std::fopen(path, "r") : nullptr;
  if (!file) return defaultValue;
  const size_t keyLength = std::strlen(key);
  char token[256];
  while (std::fscanf(file, "%255s", token) == 1) {
    if (strcasecmp(token, section) != 0) continue;
    // The key's search runs on past later section names.
    bool found = false;
    while (std::fscanf(file, "%255s", token) == 1) {
      if (strncasecmp(token, key, keyLength) == 0) {
        found = true;
        break;
      }
    }
    if (!found) break;
    const char after = token[keyLength];
    if (after == '0') value = 0;
    else if (after == '1') value = 1;
  }
  std::fclose(file);
  return value;
}

namespace {

using dravn::CatalogModel;

struct KeyInfo {
  const char* name;  // without the DEVSET_ prefix
  int position;
};

constexpr KeyInfo kKeys[] = {
    {"DOUBLEFEED", 1},       {"DELFRAME_ADF", 2},       {"DELFRAME_FB", 3},         {"ENDORSER_ONOFF", 4},
    {"ENDORSER_DIGIT", 5},   {"ENDORSER_INITIAL", 6},   {"ENDORSER_EMPTYRESET", 7}, {"FB_FINE", 8},
    {"DROPOUTCOLOR", 9},     {"PREPICK", 10},           {"THINPAPER", 11},          {"AUTOCROP", 12},
    {"AUTOCROP_FRAME", 13},  {"SENSOR_POSITION", 14},   {"MF_IGNORE", 17},          {"MF_SCAN", 18},
    {"PICKRETRY", 19},       {"PANEL_SETTING", 20},     {"MANUALFEED_MF", 21},      {"ADDR_SET", 22},
    {"ADDR_PICKROLLER", 23}, {"ADDR_BRAKEROLLER", 24},  {"ADDR_SEPPAD", 25},        {"ADDR_SEPROLLER", 26},
    {"OVERSCANPLUS", 27},    {"TATESUJIDETECTION", 28}, {"TATESUJILEVEL", 29},      {"TATESUJIJOKYO", 30},
    {"THINPAPER2", 32},      {"JAM_DETECTION", 33},     {"SMALLPAPER_MODE", 36},    {"AUTOCROP_BOUNDARY", 37},
    {"INTERFACE", 38},       {"SCSI_BUS_WIDTH", 39},    {"COLOER_DETECTION", 40},   {"STACKER", 41},
    {"SKEW_DETECTION", 42},  {"ALARM", 43},             {"SKEW_JAM_DETECTION", 44}, {"SELECT_INPRINTER", 45},
    {"MANUAL_TIMEOUT", 46},  {"SOFTPICK", 51},          {"CLEANING_TERMS", 52},     {"TABCROP", 53},
    {"TABCROP_VRS", 54},     {"DENSE_BACKGROUND", 55},  {"OVERUNDERCROP", 56},      {"MAINTENANCE_TERMS", 64},
    {"PICKSPEED", 66},       {"KOUCHIMODE", 75},        {"JPEGCOMPRESSION", 77},
};

const KeyInfo& Key(const std::string& name) {
  for (const auto& k : kKeys)
    if (name == k.name) return k;
  std::fprintf(stderr, "consutool: unknown function key %s\n", name.c_str());
  std::abort();
}

int KeyDefault(const std::string& name, bool flatbed) {
  static const char* const kOffByDefault[] = {"FB_FINE",   "THINPAPER",      "TATESUJIJOKYO",  "SMALLPAPER_MODE",
                                              "INTERFACE", "STACKER",        "SKEW_DETECTION", "JPEGCOMPRESSION"};
  if (name == "DELFRAME_FB") return flatbed ? 1 : 0;
  for (const char* off : kOffByDefault)
    if (name == off) return 0;
  return 1;
}

enum class Rule { None, VpdA, VpdB, VpdC, FirmwareT, FirmwareTBoundary, FirmwareD };

// A key read into a position other than its own (the DunmoMe2 tab-crop pair).
struct Read {
  std::string key;
  int position;  // 0: the key's own
};

struct Profile {
  std::vector<std::string> models;  // every written form that runs this routine
  std::string section;
  bool flatbed;
  std::vector<Read> reads;
  std::vector<std::pair<int, int>> fixed;  // (position, value) after the reads
  Rule rule;
};

using Keys = std::vector<std::string>;

Keys Without(Keys keys, const Keys& drop) {
  keys.erase(std::remove_if(keys.begin(), keys.end(),
                            [&](const std::string& k) { return std::find(drop.begin(), drop.end(), k) != drop.end(); }),
             keys.end());
  return keys;
}

Keys Plus(Keys keys, const Keys& more) {
  keys.insert(keys.end(), more.begin(), more.end());
  return keys;
}

std::vector<Read> Reads(const Keys& keys) {
  std::vector<Read> reads;
  for (const auto& k : keys) reads.push_back({k, 0});
  return reads;
}

std::vector<std::pair<int, int>> Ones(std::initializer_list<int> positions) {
  std::vector<std::pair<int, int>> fixed;
  for (int p : positions) fixed.emplace_back(p, 1);
  return fixed;
}

std::vector<std::string> Forms(const CatalogModel& m) {
  std::vector<std::string> forms{m.model};
  if (m.altModel) forms.emplace_back(m.altModel);
  return forms;
}

const Keys kBase = {"DOUBLEFEED",   "DELFRAME_ADF", "DELFRAME_FB",     "DROPOUTCOLOR",   "PREPICK",         "SENSOR_POSITION",
                    "MF_IGNORE",    "PICKRETRY",    "ADDR_SET",        "ADDR_PICKROLLER", "ADDR_BRAKEROLLER"};
const Keys kLarge = {"DOUBLEFEED",        "DELFRAME_ADF",     "DROPOUTCOLOR",     "PREPICK",          "AUTOCROP_FRAME",
                     "SENSOR_POSITION",   "MF_IGNORE",        "MF_SCAN",          "PICKRETRY",        "PANEL_SETTING",
                     "MANUALFEED_MF",     "ADDR_SET",         "ADDR_PICKROLLER",  "ADDR_BRAKEROLLER", "ADDR_SEPPAD",
                     "ADDR_SEPROLLER",    "OVERSCANPLUS",     "TATESUJIJOKYO",    "THINPAPER2",       "JAM_DETECTION",
                     "SMALLPAPER_MODE",   "AUTOCROP_BOUNDARY", "INTERFACE",       "SCSI_BUS_WIDTH",   "COLOER_DETECTION",
                     "STACKER",           "SKEW_DETECTION",   "ALARM",            "SKEW_JAM_DETECTION", "SELECT_INPRINTER",
                     "MANUAL_TIMEOUT",    "SOFTPICK",         "CLEANING_TERMS",   "TABCROP",          "TABCROP_VRS",
                     "DENSE_BACKGROUND",  "OVERUNDERCROP"};

// Which models have a flatbed, and which Tavrin4/Tavrin5 models set
// position 74, is per-model configuration.
std::vector<Profile> BuildProfiles() {
  using namespace dravn;
  std::vector<Profile> p;
  const Keys dunmoKeys = {"DOUBLEFEED",     "DELFRAME_ADF",     "DROPOUTCOLOR",        "PREPICK",
                          "DELFRAME_FB",    "ENDORSER_ONOFF",   "ENDORSER_DIGIT",      "ENDORSER_INITIAL",
                          "ENDORSER_EMPTYRESET", "FB_FINE",     "THINPAPER",           "AUTOCROP"};
  // The two Dunmo models share one routine and one section; both have a flatbed.
  p.push_back({Plus(Forms(kDunmoModels[0]), Forms(kDunmoModels[1])), kDunmoModels[0].model, true, Reads(dunmoKeys), {},
               Rule::None});

  auto zero6972 = std::vector<std::pair<int, int>>{{69, 0}, {70, 0}, {71, 0}, {72, 0}};
  p.push_back({Forms(kVantorModels[0]), kVantorModels[0].model, false, Reads(kLarge), zero6972, Rule::VpdA});
  {
    auto fixed = std::vector<std::pair<int, int>>{{37, 0}, {69, 1}, {70, 1}, {71, 1}, {72, 1}};
    p.push_back({Forms(kVantorModels[1]), kVantorModels[1].model, false, Reads(Plus(kLarge, {"JPEGCOMPRESSION"})), fixed,
                 Rule::VpdA});
  }
  {
    Keys keys = Plus(Without(kLarge, {"THINPAPER2", "JAM_DETECTION", "SCSI_BUS_WIDTH", "TABCROP_VRS", "OVERUNDERCROP"}),
                     {"JPEGCOMPRESSION"});
    auto fixed = std::vector<std::pair<int, int>>{{18, 0}, {55, 0}, {34, 1}, {49, 1}, {64, 1},
                                                  {66, 1}, {71, 1}, {61, 0}, {65, 0}, {68, 0}};
    p.push_back({Forms(kPilvoModels[0]), kPilvoModels[0].model, false, Reads(keys), fixed, Rule::VpdB});
  }
  for (int i = 0; i < 4; ++i) {  // Tavrin4: the first two have a flatbed, the last two set 74
    auto fixed = Ones({34, 47, 48, 49});
    if (i >= 2) fixed.emplace_back(74, 1);
    p.push_back({Forms(kTavrin4Models[i]), kTavrin4Models[i].model, i < 2,
                 Reads(Plus(kBase, {"AUTOCROP_BOUNDARY"})), fixed, Rule::None});
  }
  {  // Tavrin4LA: two routines, the first five models with a flatbed
    std::vector<std::string> withFlatbed, without;
    for (int i = 0; i < 10; ++i) (i < 5 ? withFlatbed : without).push_back(kTavrin4LAModels[i].model);
    auto fixed = Ones({1, 2, 9, 10, 14, 17, 19, 22, 23, 24, 34, 37, 47, 48, 49, 75});
    auto flat = fixed;
    flat.emplace_back(3, 1);
    fixed.emplace_back(3, 0);
    p.push_back({withFlatbed, withFlatbed[0], true, {}, flat, Rule::None});
    p.push_back({without, without[0], false, {}, fixed, Rule::None});
  }
  for (int i = 0; i < 2; ++i)  // the Tavrin3 routines with the boundary threshold: one with a flatbed
    p.push_back({Forms(kTavrin3Models[i]), kTavrin3Models[i].model, i == 0, Reads(Plus(kBase, {"AUTOCROP_BOUNDARY"})),
                 Ones({34, 47, 48, 49}), Rule::FirmwareTBoundary});
  for (int i = 2; i < 6; ++i)
    p.push_back({Forms(kTavrin3Models[i]), kTavrin3Models[i].model, i % 2 == 0, Reads(kBase), Ones({47, 48}),
                 Rule::FirmwareT});
  {  // DunmoMe2: the middle model reads no DELFRAME_FB; the first has a flatbed
    for (int i = 0; i < 3; ++i) {
      std::vector<Read> reads = Reads({"DOUBLEFEED", "DELFRAME_ADF"});
      if (i != 1) reads.push_back({"DELFRAME_FB", 0});
      for (const auto& r : Reads({"DROPOUTCOLOR", "PREPICK", "SENSOR_POSITION", "MF_IGNORE", "ADDR_SET",
                                  "ADDR_PICKROLLER", "ADDR_BRAKEROLLER", "AUTOCROP_BOUNDARY", "CLEANING_TERMS"}))
        reads.push_back(r);
      reads.push_back({"TABCROP", 58});
      reads.push_back({"JPEGCOMPRESSION", 0});
      p.push_back({Forms(kDunmoMe2Models[i]), kDunmoMe2Models[i].model, i == 0, reads, Ones({19, 47, 48, 57, 71}),
                   Rule::FirmwareD});
    }
  }
  p.push_back({Forms(kSaldexModels[0]), kSaldexModels[0].model, false, Reads(Without(kBase, {"DELFRAME_FB", "PREPICK"})),
               Ones({48}), Rule::FirmwareT});
  for (int i = 0; i < 4; ++i) {  // Tavrin5: the last two set 74; none has a flatbed
    auto fixed = Ones({35, 47, 48, 50});
    if (i >= 2) fixed.emplace_back(74, 1);
    p.push_back({Forms(kTavrin5Models[i]), kTavrin5Models[i].model, false,
                 Reads(Plus(kBase, {"TATESUJIDETECTION", "TATESUJILEVEL", "AUTOCROP_BOUNDARY", "CLEANING_TERMS",
                                    "MAINTENANCE_TERMS", "PICKSPEED", "KOUCHIMODE"})),
                 fixed, Rule::VpdC});
  }
  p.push_back({Forms(kFeyra2Models[0]), kFeyra2Models[0].model, false, Reads({"SENSOR_POSITION"}), Ones({48}),
               Rule::FirmwareT});
  p.push_back({Forms(kZemblModels[0]), kZemblModels[0].model, false, {}, Ones({48}), Rule::None});
  for (const auto& m : kDocuvaneModels)  // Docuvane scanners have a flatbed
    p.push_back({Forms(m), m.model, true, Reads(Plus(Without(kBase, {"MF_IGNORE"}), {"KOUCHIMODE"})), Ones({47, 48}),
                 Rule::None});
  {  // Tavrin5E: two routines, the last five models with a flatbed
    std::vector<std::string> without, withFlatbed;
    for (int i = 0; i < 10; ++i) (i < 5 ? without : withFlatbed).push_back(kTavrin5EModels[i].model);
    Keys keys = Plus(kBase, {"TATESUJIDETECTION", "TATESUJILEVEL", "AUTOCROP_BOUNDARY", "CLEANING_TERMS", "PICKSPEED",
                             "KOUCHIMODE"});
    p.push_back({without, without[0], false, Reads(keys), Ones({34, 47, 48, 49}), Rule::VpdC});
    p.push_back({withFlatbed, withFlatbed[0], true, Reads(keys), Ones({34, 47, 48, 49}), Rule::VpdC});
  }
  for (const auto& m : kGorlanModels)
    p.push_back({Forms(m), m.model, false,
                 Reads(Plus(Without(kBase, {"DELFRAME_FB"}), {"TATESUJIDETECTION", "TATESUJILEVEL", "AUTOCROP_BOUNDARY",
                                                              "CLEANING_TERMS", "MAINTENANCE_TERMS", "PICKSPEED",
                                                              "KOUCHIMODE"})),
                 Ones({35, 48, 50, 71, 76, 78, 79}), Rule::None});
  p.push_back({Forms(kSaldex3Models[0]), kSaldex3Models[0].model, false,
               Reads(Plus(Without(kBase, {"DELFRAME_FB", "PREPICK"}),
                          {"TATESUJIDETECTION", "TATESUJILEVEL", "AUTOCROP_BOUNDARY", "CLEANING_TERMS", "KOUCHIMODE"})),
               Ones({47, 48, 76}), Rule::None});
  p.push_back({Forms(kBrennaModels[0]), kBrennaModels[0].model, false, {}, Ones({76}), Rule::None});
  return p;
}

const std::vector<Profile>& Profiles() {
  static const std::vector<Profile> profiles = BuildProfiles();
  return profiles;
}

void Set(CDevSet2Builder* record, int position, int value) { record->flag[position - 1] = value; }

void ReadFirmware(char* text) {
  if (!g_dvwc_GetFirmVersion ||
      g_dvwc_GetFirmVersion(g_cpActiveScanner, reinterpret_cast<unsigned char*>(text), 16) == 0) {
    std::printf(" ERROR: Firmware Version 取得に失敗\n");
  }
}

void RunRule(Rule rule, CDevSet2Builder* record) {
  switch (rule) {
    case Rule::None:
      break;
    case Rule::VpdA: {
      unsigned char reply[112] = {};
      if (g_dvwc_InquiryVPD && g_dvwc_InquiryVPD(g_cpActiveScanner, reply, sizeof reply, 0) == 1 && (reply[109] & 1))
        Set(record, 39, 0);
      break;
    }
    case Rule::VpdB: {
      Set(record, 73, 0);
      unsigned char reply[144] = {};
      if (g_dvwc_InquiryVPD && g_dvwc_InquiryVPD(g_cpActiveScanner, reply, sizeof reply, 0) == 1)
        Set(record, 73, reply[114] >> 7 & 1);
      break;
    }
    case Rule::VpdC: {
      unsigned char reply[117] = {};
      if (g_dvwc_InquiryVPD) g_dvwc_InquiryVPD(g_cpActiveScanner, reply, sizeof reply, 0);
      if (reply[116] & 0x18) Set(record, 76, 1);
      break;
    }
    case Rule::FirmwareT:
    case Rule::FirmwareTBoundary:
      ReadFirmware(g_Tavrin3FirmVer);
      g_Tavrin3FirmVer[4] = '\0';
      if (rule == Rule::FirmwareTBoundary && std::memcmp(g_Tavrin3FirmVer, "0C30", 5) < 0) Set(record, 37, 0);
      break;
    case Rule::FirmwareD:
      ReadFirmware(g_DunmoMe2FirmVer);
      if (std::memcmp(g_DunmoMe2FirmVer, "0D10", 5) < 0) {
        Set(record, 19, 0);
        Set(record, 71, 0);
      }
      break;
  }
}

}  // namespace

void FunctionArbitratorFactory(const char* modelName, CDevSet2Builder* record) {
  if (!modelName || !record) return;
  for (const auto& profile : Profiles()) {
    if (std::find(profile.models.begin(), profile.models.end(), modelName) == profile.models.end()) continue;
    for (const auto& read : profile.reads) {
      const KeyInfo& key = Key(read.key);
      const std::string name = std::string("DEVSET_") + key.name;
      Set(record, read.position ? read.position : key.position,
          GetPrivateProfileInt(profile.section.c_str(), name.c_str(), KeyDefault(read.key, profile.flatbed),
                               g_szLauncherConf));
    }
    for (const auto& [position, value] : profile.fixed) Set(record, position, value);
    RunRule(profile.rule, record);
    return;
  }
}

void GetAvailableFunction(CDevSet2Builder* record) {
  if (!record) return;
  std::fill(std::begin(record->flag), std::end(record->flag), 0);
  if (g_cpActiveScannerName) FunctionArbitratorFactory(g_cpActiveScannerName, record);
}
