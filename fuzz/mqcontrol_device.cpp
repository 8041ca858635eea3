// The settings library as the maintenance tool drives it: a scanner's
// EEPROM image, information pages, counters and offsets read through the
// device watch library from a simulated scanner whose replies the input
// changes, and a saved settings file (from the input) restored to it.
// Input: the model, a 16-bit file length, the file, then the reply changes.
#include <algorithm>
#include <string>
#include <vector>

#include "kelo_dev_info.h"
#include "offset_data.h"
#include "quorra_info.h"
#include "record_support.h"
#include "replay_device.h"

namespace {

const fuzz::ReplayRow kRows[] = {
    {dravn::kDunmoModels[0], "generic"}, {dravn::kTavrin3Models[0], "generic"}, {dravn::kTavrin4Models[0], "generic"},
    {dravn::kDocuvaneModels[0], "corvane"}, {dravn::kSelko2Models[0], "selko2"}, {dravn::kBrennaModels[0], "brenna"},
};

struct Api {
  int (*init)(const char*, int);
  void (*exit)();
  int (*getEeprom)();
  int (*info)(kelo_dev_info*);
  int (*quorra)(kelo_quorra_info*);
  void (*offsets)(kelo_offset_data*);
  int (*save)(const char*);
  int (*save2)(const char*);
  int (*restore)(const char*);
  int (*restore2)(const char*);
  std::vector<int (*)()> getters;
} g_api;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::PrivateFolders();
  fuzz::ListInConfig(kRows);
  void* lib = fuzz::LoadUnit("libmqcontrol.so");
  g_api.init = fuzz::Bind<int (*)(const char*, int)>(lib, "initlibrary");
  g_api.exit = fuzz::Bind<void (*)()>(lib, "exitlibrary");
  g_api.getEeprom = fuzz::Bind<int (*)()>(lib, "GetEEPROMData");
  g_api.info = fuzz::Bind<int (*)(kelo_dev_info*)>(lib, "OnInitDialog");
  g_api.quorra = fuzz::Bind<int (*)(kelo_quorra_info*)>(lib, "GetQuorraInfo");
  g_api.offsets = fuzz::Bind<void (*)(kelo_offset_data*)>(lib, "GetOffSetData");
  g_api.save = fuzz::Bind<int (*)(const char*)>(lib, "SaveEEPROMData");
  g_api.save2 = fuzz::Bind<int (*)(const char*)>(lib, "SaveEEPROMData2");
  g_api.restore = fuzz::Bind<int (*)(const char*)>(lib, "RestoreEEPROMData");
  g_api.restore2 = fuzz::Bind<int (*)(const char*)>(lib, "RestoreEEPROMData2");
  for (const char* name : {"GetADDR_PR_Counter", "GetADDR_BR_Counter", "GetAutoCropBoundary", "GetDoubleFeedMode",
                           "GetDoubleFeedChkLengh", "GetDropoutColor", "IsDropoutColorType", "GetFeedMode",
                           "GetMFinital", "GetMFignore", "GetMFmemory", "GetMFAuto", "GetPaperProtection",
                           "GetPrePickMode", "GetPowerSWControl", "GetPPDetectionLevel", "GetCleaningTerms",
                           "GetCleaningMessage", "GetPickSpeedMode2", "GetTatesujiDetection", "GetTatesujiLevel",
                           "GetMaintenanceTerm", "GetMaintenanceValue", "GetKouchiMode", "GetPickSpeed",
                           "GetImageQualityMode"})
    g_api.getters.push_back(fuzz::Bind<int (*)()>(lib, name));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const fuzz::ReplayRow& row = kRows[in.Pick(sizeof kRows / sizeof kRows[0])];
  // The length is taken before what is left is counted: as two arguments of
  // one call the order was the compiler's, and gcc's read past the input.
  const size_t asked = in.Take<uint16_t>();
  const size_t fileSize = std::min<size_t>(asked, in.RestSize());
  const std::string file = fuzz::WriteFile("settings.bin", in.Rest(), fileSize);
  fuzz::Input replies(in.Rest() + fileSize, in.RestSize() - fileSize);
  static std::string name;  // the library keeps the pointer
  name = fuzz::ReplayDevice(row.model, row.family, replies.Rest(), replies.RestSize());

  if (g_api.init(name.c_str(), 0)) {
    g_api.getEeprom();
    kelo_dev_info info{};
    g_api.info(&info);
    kelo_quorra_info counters{};
    g_api.quorra(&counters);
    kelo_offset_data offsets{};
    g_api.offsets(&offsets);
    for (auto get : g_api.getters) get();
    const std::string saved = fuzz::Dir() + "/saved.bin";
    g_api.save(saved.c_str());
    g_api.save2(saved.c_str());
    g_api.restore(file.c_str());
    g_api.restore2(file.c_str());
  }
  g_api.exit();
  return 0;
}
