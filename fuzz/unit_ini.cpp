// The image units' profiles (section listing, key listing, strings, numbers).
#include <cstring>

#include "fuzz_support.h"
#include "unit_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteFile("unit.ini", data, size);
  char buffer[64];
  GetPrivateProfileString(nullptr, nullptr, "", buffer, sizeof buffer, path.c_str());  // the sections
  GetPrivateProfileString("COMMON", nullptr, "", buffer, sizeof buffer, path.c_str());  // its keys
  GetPrivateProfileString("COMMON", "LogMode", "dflt", buffer, sizeof buffer, path.c_str());
  GetPrivateProfileString("COMMON", "LogMode", "dflt", buffer, 1, path.c_str());
  GetPrivateProfileInt("COMMON", "LogMode", 0, path.c_str());
  GetPrivateProfileInt("PARAM", "Level", -1, path.c_str());
  return 0;
}
