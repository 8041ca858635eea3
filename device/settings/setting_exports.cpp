// The per-setting exports for a settings front end: each forwards to the
// one engine object with the same arguments and passes its result through.
#include "dev_set_ctrl.h"
#include "dravn_export.h"

#define FORWARD0(name) \
  DRAVN_C_EXPORT int name() { return g_CDevSetCtrl.name(); }
#define FORWARD1(name) \
  DRAVN_C_EXPORT int name(int a) { return g_CDevSetCtrl.name(a); }
#define FORWARD2(name) \
  DRAVN_C_EXPORT int name(int a, int b) { return g_CDevSetCtrl.name(a, b); }
#define FORWARD_PAIR(get, set) FORWARD0(get) FORWARD1(set)

FORWARD_PAIR(GetADDR_PR_Counter, SetADDR_PR_Counter)
FORWARD_PAIR(GetADDR_BR_Counter, SetADDR_BR_Counter)
FORWARD_PAIR(GetAutoCropBoundary, SetAutoCropBoundary)
FORWARD_PAIR(GetDoubleFeedMode, SetDoubleFeedMode)
FORWARD_PAIR(GetDoubleFeedChkLengh, SetDoubleFeedChkLengh)
FORWARD_PAIR(GetDropoutColor, SetDropoutColor)
FORWARD0(IsDropoutColorType)
FORWARD_PAIR(GetFeedMode, SetFeedMode)
FORWARD1(GetManualTimeoutDunmo)
FORWARD1(SetManualTimeoutDunmo)
FORWARD0(GetMFinital)
FORWARD2(SetMFinital)
FORWARD_PAIR(GetMFignore, SetMFignore)
FORWARD_PAIR(GetMFmemory, SetMFmemory)
FORWARD_PAIR(GetMFAuto, SetMFAuto)
FORWARD_PAIR(GetPaperProtection, SetPaperProtection)
FORWARD_PAIR(GetPrePickMode, SetPrePickMode)
FORWARD1(GetPickRetry)
FORWARD1(SetPickRetry)
FORWARD_PAIR(GetPowerSWControl, SetPowerSWControl)
FORWARD_PAIR(GetPPDetectionLevel, SetPPDetectionLevel)
FORWARD1(GetPPDetectionLevelEx)
FORWARD2(SetPPDetectionLevelEx)
FORWARD1(GetSensorAreaStart)
FORWARD2(SetSensorAreaStart)
FORWARD1(GetSensorAreaEnd)
FORWARD2(SetSensorAreaEnd)
FORWARD1(GetSensorMode)
FORWARD2(SetSensorMode)
FORWARD_PAIR(GetCleaningTerms, SetCleaningTerms)
FORWARD_PAIR(GetCleaningMessage, SetCleaningMessage)
FORWARD_PAIR(GetPickSpeedMode2, SetPickSpeedMode2)
FORWARD_PAIR(GetTatesujiDetection, SetTatesujiDetection)
FORWARD_PAIR(GetTatesujiLevel, SetTatesujiLevel)
FORWARD_PAIR(GetMaintenanceTerm, SetMaintenanceTerm)
FORWARD_PAIR(GetMaintenanceValue, SetMaintenanceValue)
FORWARD_PAIR(GetKouchiMode, SetKouchiMode)
FORWARD_PAIR(GetPickSpeed, SetPickSpeed)
FORWARD_PAIR(GetImageQualityMode, SetImageQualityMode)

DRAVN_C_EXPORT void GetDelFrameADF(int* a, int* b, int* c, int* d) { g_CDevSetCtrl.GetDelFrameADF(a, b, c, d); }
DRAVN_C_EXPORT int SetDelFrameADF(int a, int b, int c, int d) { return g_CDevSetCtrl.SetDelFrameADF(a, b, c, d); }
DRAVN_C_EXPORT void GetDelFrameFB(int* a, int* b, int* c, int* d) { g_CDevSetCtrl.GetDelFrameFB(a, b, c, d); }
DRAVN_C_EXPORT int SetDelFrameFB(int a, int b, int c, int d) { return g_CDevSetCtrl.SetDelFrameFB(a, b, c, d); }
