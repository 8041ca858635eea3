/* The C interface of libdevwatch: listing scanners, opening one, exclusive
   access, the in-scanner lock, EEPROM and diagnostics, the settings file. Callers bind these names with dlsym. */
#ifndef DRAVN_DVWC_H
#define DRAVN_DVWC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Values of the error code that dvwc_GetErrorInfo reads. */
enum {
  DVWC_ERR_NONE = 0,
  DVWC_ERR_NOT_LISTED = 1,
  DVWC_ERR_OPEN = 4,
  DVWC_ERR_COMMAND = 8,
  DVWC_ERR_ARGUMENT = 9,
  DVWC_ERR_UNLOCK = 13
};

int dvwc_ListupScanner(void);
int dvwc_GetDeviceTotalNum(void);
char* dvwc_GetDeviceName(int index);
char* dvwc_GetCurrentDeviceName(void);
int dvwc_OpenFirstDevice(void);
int dvwc_Open(const char* device);
int dvwc_Close(void);
unsigned int dvwc_GetErrorInfo(void);
int dvwc_IsErrorStatus(void);
unsigned int dvwc_GetLastErrorInfo(void);
int dvwc_InitSystemToolPath(void);
int dvwc_StartExcusive(const char* device);
int dvwc_EndExcusive(const char* device);
int dvwc_UnlockScanner(const char* device);

/* EEPROM, flash and diagnostic sub-commands. */
int dvwc_GetEEPROM(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_GetEEPROM_Element(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_WriteEEPROM(const char* device, const unsigned char* data, unsigned short length, unsigned short offset);
int dvwc_LockEEPROM(const char* device);
int dvwc_GetFLASHROMLength(const char* device, unsigned short* length);
int dvwc_GetFLASHROM(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_GetDefaultEEPROM(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_SendDiagnostic(const char* device, const unsigned char* data, unsigned short size);
int dvwc_ReceiveDiagnosticResult(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_ClearRemainInk(const char* device, const unsigned char* data, unsigned short size);
int dvwc_PrepareDiagnostic(const char* device);
int dvwc_CleanupDiagnostic(const char* device);

/* The settings file consumablessettings.xml. */
int dvwc_GetXMLSettings(const char* model, const char* key, short defaultValue, const char* path);
const char* dvwc_GetXMLSettings2(const char* key, const char* defaultText, const char* path);
int dvwc_SetXMLSettings(const char* model, const char* key, short value, const char* path);

/* Status, inquiry, blobs, logs, timers, self test, restart. */
int dvwc_GetStatus(const char* device, unsigned char* buffer);
int dvwc_GetStatus2(const char* device, unsigned char* buffer, unsigned short length);
int dvwc_GetStatus4(const char* device, unsigned char* buffer);
int dvwc_Inquiry(const char* device, unsigned char* buffer);
int dvwc_Inquiry2(const char* device, unsigned char* buffer);
int dvwc_InquiryEX(const char* device, unsigned char* buffer);
int dvwc_InquiryVPD(const char* device, unsigned char* buffer, unsigned short length, int isOpen);
int dvwc_InquiryVPD2(const char* device, unsigned char page, unsigned char* buffer, unsigned short length, int isOpen);
int dvwc_GetFirmVersion(const char* device, unsigned char* buffer, unsigned short length);
int dvwc_GetSOPSettings(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_GetSOPSettingsLength(const char* device, uint32_t* length);
int dvwc_GetSOPSettingsData(const char* device, unsigned char* buffer, const unsigned char* record, unsigned short size);
int dvwc_SetSOPSettings(const char* device, const unsigned char* blob, unsigned short size);
int dvwc_SetSOPSettingsData(const char* device, const unsigned char* blob, unsigned short size);
int dvwc_GetSOPSettingsCGA(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_SetSOPSettingsCGA(const char* device, const unsigned char* blob, unsigned short size);
int dvwc_GetSOPSettingsLengthCGA(const char* device, uint32_t* length);
int dvwc_GetSOPSettingsDataCGA(const char* device, unsigned char* buffer, const unsigned char* record,
                               unsigned short size);
int dvwc_SetSOPSettingsDataCGA(const char* device, const unsigned char* blob, unsigned short size);
int dvwc_SendLutData(const char* device, const unsigned char* table);
int dvwc_GetIMFFPatternLength(const char* device, uint32_t* length);
int dvwc_GetIMFFPatternData(const char* device, unsigned char* buffer, const unsigned char* record, unsigned short size);
int dvwc_SetIMFFPatternData(const char* device, const unsigned char* blob, unsigned short size);
int dvwc_GetLifeTimeLogSize(const char* device, unsigned short* size);
int dvwc_GetLifeTimeLogData(const char* device, unsigned char* buffer, unsigned short size);
int dvwc_GetErrorCodeLength(const char* device, unsigned short* count);
int dvwc_GetErrorCodeData(const char* device, unsigned char* buffer, unsigned short count);
int dvwc_ModeSense_LongTimer(const char* device, unsigned char* buffer, unsigned short length);
int dvwc_ModeSelect_LongTimer(const char* device, const unsigned char* page, unsigned short length);
int dvwc_DoSelfDiagnostic(const char* device);
int dvwc_DeviceRestart(const char* device);

#ifdef __cplusplus
}
#endif

#endif
