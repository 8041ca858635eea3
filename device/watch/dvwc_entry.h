// What every C entry shares: the controller, the error code cell, the
// exception boundary, and the bracket of one device call.
#ifndef DRAVN_DEVWATCH_DVWC_ENTRY_H
#define DRAVN_DEVWATCH_DVWC_ENTRY_H

#include <new>

#include "devwatch_app.h"
#include "dvwc.h"

namespace devwatch {

inline CMqExpScannerCtrl& Ctrl() { return theApp.m_Ctrl; }
inline void SetError(uint32_t code) { theApp.m_dwErrorCode = code; }
inline uint32_t Error() { return theApp.m_dwErrorCode; }

// No exception leaves an entry: one that meets one answers `failure`.
template <typename F>
int Guard(F body, int failure = 0) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetError(DVWC_ERR_ARGUMENT);
  } catch (...) {
  }
  return failure;
}

// Finds the device and opens it for the length of one call (code 1 when not
// listed, 4 when it does not open); the session closes it on every path.
inline bool OpenListed(const char* device, DeviceSession& session) {
  if (Ctrl().Find(device) < 0) return SetError(DVWC_ERR_NOT_LISTED), false;
  if (!session.Open()) return SetError(DVWC_ERR_OPEN), false;
  return true;
}

}  // namespace devwatch

#endif
