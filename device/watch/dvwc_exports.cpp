// The list, open, exclusive-access and unlock entries of the C interface.
// No exception crosses them: an entry that meets one answers failure.
#include "dravn_export.h"
#include "dvwc_entry.h"

using devwatch::Ctrl;
using devwatch::Guard;
using devwatch::SetError;
using devwatch::theApp;

DRAVN_C_EXPORT int dvwc_ListupScanner(void) {
  return Guard([] { return Ctrl().GetDeviceList(); });
}

DRAVN_C_EXPORT int dvwc_GetDeviceTotalNum(void) { return Ctrl().GetDeviceTotalNum(); }

DRAVN_C_EXPORT char* dvwc_GetDeviceName(int index) { return const_cast<char*>(Ctrl().GetDeviceName(index)); }

DRAVN_C_EXPORT char* dvwc_GetCurrentDeviceName(void) { return const_cast<char*>(Ctrl().GetCurrentDeviceName()); }

DRAVN_C_EXPORT int dvwc_OpenFirstDevice(void) {
  return Guard([] {
    Ctrl().CloseDevice();
    return Ctrl().OpenFirstDevice();
  });
}

DRAVN_C_EXPORT int dvwc_Open(const char* device) {
  return Guard([device] {
    SetError(DVWC_ERR_NONE);
    if (!device) return SetError(DVWC_ERR_ARGUMENT), 0;
    Ctrl().CloseDevice();  // one open device at a time: the earlier one is let go
    if (Ctrl().Find(device) < 0) return SetError(DVWC_ERR_NOT_LISTED), 0;
    if (Ctrl().DoDeviceOpen() != 0) return SetError(DVWC_ERR_OPEN), 0;
    return 1;
  });
}

DRAVN_C_EXPORT int dvwc_Close(void) {
  Guard([] { return Ctrl().CloseDevice(), 1; });
  return 1;
}

DRAVN_C_EXPORT unsigned int dvwc_GetErrorInfo(void) { return theApp.m_dwErrorCode; }

DRAVN_C_EXPORT int dvwc_IsErrorStatus(void) { return theApp.m_dwErrorCode != 0 ? 1 : 0; }

DRAVN_C_EXPORT unsigned int dvwc_GetLastErrorInfo(void) { return theApp.m_dwLastError; }

DRAVN_C_EXPORT int dvwc_InitSystemToolPath(void) {
  return Guard([] { return Ctrl().InitSystemToolPath(); });
}

DRAVN_C_EXPORT int dvwc_StartExcusive(const char* device) {
  return Guard([device] {
    SetError(DVWC_ERR_NONE);
    int r = Ctrl().StartExcusive(device);
    if (r == 0 && Ctrl().KeyRefused()) SetError(DVWC_ERR_ARGUMENT);
    return r;
  });
}

DRAVN_C_EXPORT int dvwc_EndExcusive(const char* device) {
  return Guard([device] { return Ctrl().EndExcusive(device); });
}

DRAVN_C_EXPORT int dvwc_UnlockScanner(const char* device) {
  return Guard([device] {
    SetError(DVWC_ERR_NONE);
    if (!device) return SetError(DVWC_ERR_ARGUMENT), 0;
    if (Ctrl().Find(device) < 0) return SetError(DVWC_ERR_NOT_LISTED), 0;
    devwatch::DeviceSession session(Ctrl());
    if (!session.Open()) return SetError(DVWC_ERR_OPEN), 0;
    if (!Ctrl().TestUnitReady()) return 0;
    if (!Ctrl().Selko2().UnLockScanner()) SetError(DVWC_ERR_UNLOCK);
    return 1;
  });
}
