// The library's one global object: the error cells and the controller that
// every export works through.
#ifndef DRAVN_DEVWATCH_APP_H
#define DRAVN_DEVWATCH_APP_H

#include <cstdint>

#include "scanner_ctrl.h"

namespace devwatch {

class CDevwatchApp {
 public:
  CDevwatchApp() = default;
  CDevwatchApp(const CDevwatchApp&) = delete;
  CDevwatchApp& operator=(const CDevwatchApp&) = delete;

  int32_t m_iState1 = 0;
  int32_t m_iState2 = 1;
  int32_t m_iSpare = 0;
  uint32_t m_dwErrorCode = 0;
  uint64_t m_ullReserved = 0;
  // Lock error of the Selko2 family (13 or 14); set only by its command
  // path, never cleared. Declared before the controller, which keeps a
  // reference to it.
  uint32_t m_dwLastError = 0;
  CMqExpScannerCtrl m_Ctrl{m_dwLastError};
  int32_t m_iState3 = 0;
  int32_t m_iState4 = 1;
  char m_szText[256] = {};
};

extern CDevwatchApp theApp;

// Opens the current device for the length of one call, unless it was open
// already (dvwc_Open), and closes it again on every path, giving back the
// Selko2 in-scanner lock that the call took, unless the process holds the
// scanner's exclusive-access record: then the lock lasts as long as that
// (EndExcusive gives it back), as a maintenance run of many calls wants.
class DeviceSession {
 public:
  explicit DeviceSession(CMqScannerCtrl& ctrl)
      : m_ctrl(ctrl), m_bWasOpen(ctrl.IsOpen()), m_bWasLocked(ctrl.Selko2().IsLocked()) {}
  ~DeviceSession() {
    if (m_bWasOpen) return;
    if (!m_bWasLocked && !m_ctrl.HoldsExclusive()) m_ctrl.GiveBackSelko2Lock();
    m_ctrl.DoDeviceClose();
  }
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;
  bool Open() { return m_bWasOpen || m_ctrl.DoDeviceOpen() == 0; }

 private:
  CMqScannerCtrl& m_ctrl;
  bool m_bWasOpen;
  bool m_bWasLocked;
};

}  // namespace devwatch

#endif
