// The process-wide device context of the settings library: one device at a
// time, named by initlibrary and released by exitlibrary.
#ifndef DRAVN_MQCONTROL_CONTEXT_H
#define DRAVN_MQCONTROL_CONTEXT_H

#include <dlfcn.h>

enum SOPFunctionList { kSopFunctionCount = 12 };
enum DeviceDependentValue { kDeviceValueCount = 9 };

struct CIniInfo {
  int TotalCounter;
  int PowerSaving;
  int Pause;
  int SaveRestore;
  int PowerOffTimer;
  int VendorId;
  int IgnoreEnergyStar3;
};

constexpr int kEepromImageSize = 512;

extern const char* g_cpActiveScanner;
extern char* g_cpActiveScannerName;
extern int g_bPwdProtect;
extern void* g_vpDevwatch;
extern CIniInfo g_cIniInfo;
extern unsigned char g_byEEPData[kEepromImageSize];
extern int g_nReadEEPSize;
extern int g_bDevSetEdit;
extern char g_Tavrin3FirmVer[16];

struct SupportFuncRow {
  const char* model;
  int flags[kSopFunctionCount];
};
struct DevValueRow {
  const char* model;
  int values[kDeviceValueCount];
};
// Both tables list the same models in the same order.
const SupportFuncRow* SupportFuncTable(int* rows);
const DevValueRow* DevValueTable(int* rows);

int LookupSupportFunction(const char* model, int index);
int LookupDeviceValue(const char* model, int index);

// A libdevwatch entry looked up at the moment of use; null when the library
// is not loaded or lacks the name.
template <typename F>
F* Dvwc(const char* name) {
  return g_vpDevwatch ? reinterpret_cast<F*>(dlsym(g_vpDevwatch, name)) : nullptr;
}

void SopSettingInit();

#endif
