// The maintenance tool's function profile ("section" then "DEVSET_<key>N"
// words), read for every model the tool knows, as consutool reads it.
#include "function_arbitration.h"
#include "fuzz_support.h"
#include "model_catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path;
  path = fuzz::WriteFile("mqlaunch.conf", data, size);
  g_szLauncherConf = path.c_str();
  for (const auto* family : {dravn::kSelko2Models, dravn::kSelkoModels, dravn::kDocuvaneModels}) {
    for (int i = 0; i < 3; ++i) {
      CDevSet2Builder record{};
      FunctionArbitratorFactory(family[i].model, &record);
    }
  }
  for (const auto& m : dravn::kTavrin3Models) {
    CDevSet2Builder record{};
    FunctionArbitratorFactory(m.model, &record);
  }
  return 0;
}
