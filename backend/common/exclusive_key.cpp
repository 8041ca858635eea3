#include "exclusive_key.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "model_catalog.h"

namespace {

// Those families' names were once written with a hyphen that their keys
// never carried; the prefix length tells the family apart.
bool KeyDropsHyphens(const char* devName) {
  for (const dravn::CatalogModel& m : dravn::kAllModels) {
    size_t n = m.family == dravn::Family::Selko2                                       ? 8
               : m.family == dravn::Family::Selko || m.family == dravn::Family::Brenna ? 7
                                                                                       : 0;
    if (n != 0 && strncmp(devName, m.model, n) == 0) return true;
  }
  return false;
}

}  // namespace

bool MakeExclusiveKey(const char* devName, char (&key)[SHM_DEVICE_NAME_SIZE]) {
  if (devName == nullptr || devName[0] == '\0') return false;
  std::string text(devName);
  if (KeyDropsHyphens(devName)) text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
  if (text.empty() || text.size() >= sizeof key) return false;
  memset(key, 0, sizeof key);
  memcpy(key, text.data(), text.size());
  return true;
}
