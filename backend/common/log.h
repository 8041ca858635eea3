// Backend log, USB trace log and error log.
#ifndef DRAVN_COMMON_LOG_H
#define DRAVN_COMMON_LOG_H

#include <cstdio>

// Message levels.
enum { LOG_LEVEL_ERROR = 1, LOG_LEVEL_TRACE = 2, LOG_LEVEL_DEBUG = 3, LOG_LEVEL_DETAIL = 4 };

// Kinds of transfer for WriteUsbLog.
enum { USBLOG_COMMAND_OUT = 1, USBLOG_DATA_OUT = 2, USBLOG_STATUS_IN = 3, USBLOG_DATA_IN = 4 };

struct SYSTEM_TIME_INFO {
  int iWeekDay;  // 0 Sunday .. 6
  int iYear;
  int iMonth;    // 1..12
  int iDay;
  int iHour;
  int iMinute;
  int iSecond;
  int iMilliSecond;
};

SYSTEM_TIME_INFO GetSystemTime();

// Which backend this copy of the common layer logs for: "DRAVN2" (the
// default, the second backend) or "DRAVN" (the main backend). Also names the
// debug log file. Called before StartLog.
void SetLogIdentity(const char* prefix, const char* filePrefix);

void StartLog();
void EndLog();
void WriteLog(int level, const char* function, const char* message);
int GetLogLevel();
// A buffer of 4096 bytes to format a message into; one per thread, so that
// the scan thread and the SANE thread never mix their texts.
char* SetMessage();

// The dravn.ini key UsbLevelLog, stored here by the settings reader.
extern int g_iUsbLevelLog;
void StartUsbLog();
void EndUsbLog();
void WriteUsbLog(const unsigned char* data, int length, int kind);
const char* ConvertCDBCommand(const unsigned char* cdb);

void WriteErrorLogFile(unsigned int code);
void PrintfScannerBacktrace(FILE* fp);

bool CheckFolder(const char* path);
bool CreateFolder(const char* path);

// Logs "start"/"end" of a scope at trace level.
class CLogScope {
 public:
  explicit CLogScope(const char* function) : m_function(function) { WriteLog(LOG_LEVEL_TRACE, m_function, "start"); }
  ~CLogScope() { WriteLog(LOG_LEVEL_TRACE, m_function, "end"); }
  CLogScope(const CLogScope&) = delete;
  CLogScope& operator=(const CLogScope&) = delete;

 private:
  const char* m_function;
};

#endif
