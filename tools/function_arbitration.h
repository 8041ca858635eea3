// Which device-setting functions the connected model offers, worked out from
// the launcher configuration, fixed values per model, and the device's own
// answers.
#ifndef DRAVN_TOOLS_FUNCTION_ARBITRATION_H
#define DRAVN_TOOLS_FUNCTION_ARBITRATION_H

#include <cstdint>

// One flag per function, positions 1-80 at indices 0-79; 1 = available.
struct CDevSet2Builder {
  int32_t flag[80];
};

// The device libdevwatch's names consutool binds at start; null until bound.
using DvwcInquiryVPDFn = int (*)(const char* device, unsigned char* buffer, unsigned short length, int isOpen);
using DvwcGetFirmVersionFn = int (*)(const char* device, unsigned char* buffer, unsigned short length);
extern DvwcInquiryVPDFn g_dvwc_InquiryVPD;
extern DvwcGetFirmVersionFn g_dvwc_GetFirmVersion;

extern char* g_cpActiveScannerName;  // model part of the device string
extern char* g_cpActiveScanner;      // the device string
extern char g_Tavrin3FirmVer[16];
extern char g_DunmoMe2FirmVer[16];
extern CDevSet2Builder g_DevFunc;

// The launcher configuration file read by the profiles (a variable so that
// tests can point it elsewhere).
extern const char* g_szLauncherConf;

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path);
void FunctionArbitratorFactory(const char* modelName, CDevSet2Builder* record);
void GetAvailableFunction(CDevSet2Builder* record);

#endif
