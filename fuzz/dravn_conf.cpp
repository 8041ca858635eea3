// dravn.conf, found through DRAVN_CONFIG_DIR as the backends find it.
#include <cstdlib>
#include <vector>

#include "config_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteFile("dravn.conf", data, size);
  setenv("DRAVN_CONFIG_DIR", fuzz::Dir().c_str(), 1);
  std::vector<kelo_cfg_info> pairs;
  SaveConfigFile(&pairs);
  return 0;
}
