// The exported functions of the settings library over its device context.
#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "dev_set_ctrl.h"
#include "dravn_export.h"
#include "dravn_paths.h"
#include "ft_device_group.h"
#include "mqcontrol_context.h"

namespace {

void ReleaseContext() {
  if (g_vpDevwatch) dlclose(g_vpDevwatch);
  g_vpDevwatch = nullptr;
  std::free(g_cpActiveScannerName);
  g_cpActiveScannerName = nullptr;
  // The image holds nothing read from the next device yet.
  g_nReadEEPSize = 0;
}

}  // namespace

DRAVN_C_EXPORT int initlibrary(const char* device, int restricted) {
  if (!device) return 0;
  // A second call replaces the context; the earlier handle and name copy go.
  ReleaseContext();
  g_cpActiveScanner = device;
  g_cpActiveScannerName = strndup(device, std::strcspn(device, ":"));
  g_bPwdProtect = restricted;
  g_vpDevwatch = dlopen(DRAVN_LIB_DIR "/libdevwatch.so", RTLD_LAZY);
  if (!g_vpDevwatch) return 0;
  SopSettingInit();
  std::setlocale(LC_ALL, "");
  bindtextdomain("mqlaunch", DRAVN_LOCALE_DIR "/");
  textdomain("mqlaunch");
  return 1;
}

DRAVN_C_EXPORT void exitlibrary() { ReleaseContext(); }

DRAVN_C_EXPORT void SetFirmVersion(const char* version) {
  if (version) std::memcpy(g_Tavrin3FirmVer, version, sizeof g_Tavrin3FirmVer);
}

// Exported with the argument type in the linkage name.
DRAVN_EXPORT int IsSupportFunction(SOPFunctionList index) {
  return LookupSupportFunction(g_cpActiveScannerName, static_cast<int>(index));
}

DRAVN_EXPORT int GetDeviceDependentValue(DeviceDependentValue index) {
  return LookupDeviceValue(g_cpActiveScannerName, static_cast<int>(index));
}

DRAVN_C_EXPORT int StartDeviceExclusive() { return 1; }
DRAVN_C_EXPORT int EndDeviceExclusive() { return 1; }

DRAVN_C_EXPORT int GetEEPROMData() {
  using GetEeprom = int(const char*, unsigned char*, unsigned short);
  GetEeprom* get = Dvwc<GetEeprom>("dvwc_GetEEPROM");
  if (!get || !get(g_cpActiveScanner, g_byEEPData, kEepromImageSize)) return 0;
  g_nReadEEPSize = kEepromImageSize;
  return 1;
}

DRAVN_C_EXPORT int IsSaldex() { return g_CDevSetCtrl.IsSaldex(); }
DRAVN_C_EXPORT int IsTavrin3() { return g_CDevSetCtrl.IsTavrin3(); }
DRAVN_C_EXPORT int IsTavrin4() { return g_CDevSetCtrl.IsTavrin4(); }
DRAVN_C_EXPORT int IsTavrin4LA() { return g_CDevSetCtrl.IsTavrin4LA(); }
DRAVN_C_EXPORT int IsDunmoMe2() { return g_CDevSetCtrl.IsDunmoMe2(); }
DRAVN_C_EXPORT int IsPilvo() { return g_CDevSetCtrl.IsPilvo(); }
DRAVN_C_EXPORT int IsDocuvane() { return FtDeviceGroup().IsDocuvane(); }
DRAVN_C_EXPORT int IsTavrin5() { return FtDeviceGroup().IsTavrin5(); }
DRAVN_C_EXPORT int IsTavrin5E() { return FtDeviceGroup().IsTavrin5E(); }
DRAVN_C_EXPORT int IsVantor() { return FtDeviceGroup().IsVantor(); }
