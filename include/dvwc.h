/* The C interface of libdevwatch: listing scanners, opening one, exclusive
   access and the in-scanner lock. Callers bind these names with dlsym. */
#ifndef DRAVN_DVWC_H
#define DRAVN_DVWC_H

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

#ifdef __cplusplus
}
#endif

#endif
