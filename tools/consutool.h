// consutool: a scanner's consumable counters, power timers, offsets and
// magnification from the command line, over libdevwatch and libmqcontrol.
#ifndef DRAVN_TOOLS_CONSUTOOL_H
#define DRAVN_TOOLS_CONSUTOOL_H

#include <cstdint>
#include <string>

#include "consutool_records.h"

// Exit statuses.
enum {
  kExitOk = 0,
  kExitInvalidValue = 2,
  kExitUnrecognized = 3,
  kExitNotConnected = 6,
  kExitNoEEPROM = 7,
  kExitStrayWords = 9,
  kExitNotFound = 10,
};

// Every name consutool binds at start (the two device queries of the
// function arbitration are bound into its own pointers as well).
struct ConsuBindings {
  int (*dvwc_GetDeviceTotalNum)();
  char* (*dvwc_GetDeviceName)(int index);
  int (*dvwc_StartExcusive)(const char* device);
  int (*dvwc_EndExcusive)(const char* device);
  int (*dvwc_Open)(const char* device);
  int (*dvwc_Close)();
  int (*dvwc_GetFirmVersion)(const char* device, unsigned char* buffer, unsigned short length);
  int (*dvwc_InquiryVPD)(const char* device, unsigned char* buffer, unsigned short length, int isOpen);
  const char* (*dvwc_GetXMLSettings2)(const char* key, const char* defaultText, const char* path);
  unsigned int (*dvwc_GetLastErrorInfo)();
  int (*dvwc_UnlockScanner)(const char* device);
  int (*dvwc_InitSystemToolPath)();

  int (*initlibrary)(const char* device, int restricted);
  void (*exitlibrary)();
  void (*SetFirmVersion)(const char* version);
  int (*GetQuorraInfo)(kelo_quorra_info* info);
  int (*OnInitDialog)(kelo_dev_info* info);
  int (*GetEEPROMData)();
  int (*SetPowerOffTime)(unsigned char code);
  int (*ModeSelect_LongTimer)(const char* device, uint16_t* minutes);
  int (*SetPowerSavingEEPROM)(uint16_t minutes);
  int* (*OnResetAfterCleaning)();
  int* (*OnResetBrake)();
  int* (*OnResetPick)();
  int (*SetEEPROMData)();
  void (*GetOffSetData)(kelo_offset_data* data);
  int (*SetOffSetData)(kelo_offset_data* data);
};

// The program's state (one run per process).
extern ConsuBindings g_Consu;
extern kelo_command_info g_CommandInfo;
extern kelo_quorra_info g_QuorraInfo;
extern kelo_dev_info g_kelo_device_info;
extern kelo_offset_data g_OffSetData;
extern kelo_offset_data g_OffSetBackupData;
extern bool g_bOpened;
extern int g_iErrCode;

// Value conversion. Each answers false for a text it cannot take whole
// (also one whose value does not fit).
bool ConvertStringToInt(const char* text, int* value);
bool ConvertStringToIntx10(const char* text, int* value);
bool ConvertStringToDouble(const char* text, double* value);
bool IsValidVersion(const char* text);
int ConvertSource(int optionValue);
kelo_offset_group* GetOffsetInfo(kelo_command_info* command, uint32_t source);
int CheckRootPermission();

// Adjusts a requested value to its step and range; each change prints its
// message with the option word. Answers the value to use.
int RoundPowerSaving(const char* option, int minutes, int minimum, int maximum);
int ClampOffset(const char* option, int value);
int ClampMagnification(const char* option, int tenths);

// "consutool: <text>" on standard output.
void ConsuMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Steps of a run.
bool OpenLib();
void CloseLib();
int OpenWithName(const char* device);
void PrintDeviceInfo();
void PrintDeviceList();
void PrintVersion();
int PrintHelp();
int ParseCommandLine(int argc, char** argv, bool* finished);
int PerformChanges();
void Cleanup();

// The whole program; answers the exit status. `preset` stands in for the
// libraries (tests); null binds them from the package's library folder.
int ConsutoolMain(int argc, char** argv, const ConsuBindings* preset = nullptr);

// Forgets every state of an earlier run (bindings included).
void ResetConsutool();

#endif
