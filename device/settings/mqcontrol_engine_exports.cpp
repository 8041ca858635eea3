// The exports of the settings library over its settings image engine.
#include "dev_set_ctrl.h"
#include "dravn_export.h"

DRAVN_C_EXPORT int SetEEPROMData() { return g_CDevSetCtrl.writeDevSetting(0); }
DRAVN_C_EXPORT int SaveEEPROMData(const char* path) { return g_CDevSetCtrl.SaveEEPROMData(path); }
DRAVN_C_EXPORT int SaveEEPROMData2(const char* path) { return g_CDevSetCtrl.SaveEEPROMData2(path); }
DRAVN_C_EXPORT int RestoreEEPROMData(const char* path) { return g_CDevSetCtrl.RestoreEEPROMData(path); }
DRAVN_C_EXPORT int RestoreEEPROMData2(const char* path) { return g_CDevSetCtrl.RestoreEEPROMData2(path); }
