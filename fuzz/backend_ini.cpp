// The backends' profiles: dravn.ini and the preset tone table file, read key
// by key as the second backend reads them, and the Brenna device-image switches.
#include <cstring>

#include "brenna_scan_func.h"
#include "fuzz_support.h"
#include "profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteFile("dravn.ini", data, size);
  static const char* const kKeys[][2] = {
      {"Setting", "UsbOpenSleep"}, {"Setting", "UsbLevelLog"}, {"Setting", "SaveDevImg"}, {"Setting", "PAPER_SIZE"},
      {"NORMAL", "BRIGHTNESS"},    {"NORMAL", "GAMMA"},        {"NORMAL_BW", "GAMMA_BW"}, {"NORMAL", "HIGHLIGHT"},
  };
  for (const auto& k : kKeys) GetPrivateProfileInt(k[0], k[1], 7, path.c_str());
  // A short buffer takes as much of the value as fits, terminated.
  char small[8];
  std::memset(small, 'x', sizeof small);
  GetPrivateProfileString("Setting", "UsbOpenSleep", "", small, sizeof small, path.c_str());
  volatile size_t n = strnlen(small, sizeof small);
  (void)n;
  CBrennaScanFunc::DevimgGetPrivateProfileInt("SaveDevImg", 0, path.c_str());
  CBrennaScanFunc::DevimgGetPrivateProfileInt("ColorShiftCorrection", 1, path.c_str());
  return 0;
}
