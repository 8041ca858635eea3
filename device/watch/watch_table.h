// The device table of the library: every scanner it lists, by USB ids.
#ifndef DRAVN_DEVWATCH_WATCH_TABLE_H
#define DRAVN_DEVWATCH_WATCH_TABLE_H

#include <cstdint>

namespace devwatch {

// How commands reach a scanner: the command block of the generic family, or
// one of three protocols of the second backend's families.
enum class WatchRoute { Generic, Selko, Selko2, Brenna };

struct KELO_DEVICE_OPTION_CONTROL {
  uint32_t dwVendorId;
  uint32_t dwProductId;
  const char* pszVendor;  // "MORANTI"
  const char* pszType;    // "scanner"
  const char* pszModel;
  WatchRoute eRoute;
};

// The row with both ids, or null.
const KELO_DEVICE_OPTION_CONTROL* GetDevCtlByDevInfo(uint32_t vendorId, uint32_t productId);

}  // namespace devwatch

#endif
