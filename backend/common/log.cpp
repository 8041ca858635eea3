#include "log.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "dravn_paths.h"

namespace {

constexpr size_t kLineSize = 4096;

int iLogLevel = 0;
int iLogOutputPath = 0;
bool bIsWriteLog = false;
FILE* fpLog = nullptr;
FILE* g_fpUsbLog = nullptr;
bool g_bIsRead = false;
thread_local char szMsg[kLineSize];

const char* g_szPrefix = "DRAVN2";
const char* g_szFilePrefix = "dravn2log";

// One line is formatted and written whole under this lock; the trace log
// dumps a transfer's lines together.
std::mutex g_logMutex;
std::mutex g_usbMutex;

const char* LevelWord(int level) {
  switch (level) {
    case LOG_LEVEL_ERROR: return "error";
    case LOG_LEVEL_DEBUG: return "debug";
    default: return "trace";
  }
}

// Creates (or truncates) a log file in the shared log directory without
// following a planted link, and sets its mode on the descriptor.
FILE* OpenLogFile(const char* path, mode_t mode) {
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (fchmod(fd, mode) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* fp = fdopen(fd, "w+");
  if (!fp) {
    close(fd);
    return nullptr;
  }
  fseek(fp, 0, SEEK_END);
  return fp;
}

std::string DatedName(const char* pattern) {
  SYSTEM_TIME_INFO t = GetSystemTime();
  char name[512];
  snprintf(name, sizeof name, pattern, DRAVN_LOG_DIR, t.iYear, t.iMonth, t.iDay, t.iHour, t.iMinute, t.iSecond);
  return name;
}

bool CheckLogFolder() {
  if (!CheckFolder(DRAVN_LOG_DIR) && !CreateFolder(DRAVN_LOG_DIR)) return false;
  std::string pattern = std::string("%s/") + g_szFilePrefix + "%04d%02d%02d_%02d%02d%02d.txt";
  fpLog = OpenLogFile(DatedName(pattern.c_str()).c_str(), 0777);
  return fpLog != nullptr;
}

bool CheckUsbLogFolder() {
  if (!CheckFolder(DRAVN_LOG_DIR) && !CreateFolder(DRAVN_LOG_DIR)) return false;
  g_fpUsbLog = OpenLogFile(DatedName("%s/dravnusblog%04d%02d%02d_%02d%02d%02d.txt").c_str(), 0777);
  return g_fpUsbLog != nullptr;
}

void FlushBuff(const char* text) {
  if (!fpLog) return;
  fputs(text, fpLog);
  fflush(fpLog);
}

void FlushUsbBuff(const char* text) {
  if (!g_fpUsbLog || !text) return;
  fputs(text, g_fpUsbLog);
  fflush(g_fpUsbLog);
}

bool MakeDir(const char* path) {
  if (mkdir(path, 0700) != 0) return false;
  chmod(path, 0777);
  return true;
}

void HexDump(const unsigned char* data, int length) {
  if (length <= 0) {
    FlushUsbBuff("\n");
    return;
  }
  char line[32 + 16 * 3 + 2];
  for (int pos = 0; pos < length; pos += 16) {
    int n = snprintf(line, sizeof line, "                 :");
    for (int i = pos; i < length && i < pos + 16; ++i) n += snprintf(line + n, sizeof line - n, "%02x ", data[i]);
    snprintf(line + n, sizeof line - n, "\n");
    FlushUsbBuff(line);
  }
}

}  // namespace

int g_iUsbLevelLog = 0;

SYSTEM_TIME_INFO GetSystemTime() {
  SYSTEM_TIME_INFO info{};
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t now = tv.tv_sec;
  struct tm tmv;
  localtime_r(&now, &tmv);
  info.iWeekDay = tmv.tm_wday;
  info.iYear = tmv.tm_year + 1900;
  info.iMonth = tmv.tm_mon + 1;
  info.iDay = tmv.tm_mday;
  info.iHour = tmv.tm_hour;
  info.iMinute = tmv.tm_min;
  info.iSecond = tmv.tm_sec;
  info.iMilliSecond = static_cast<int>(tv.tv_usec / 1000);
  return info;
}

void SetLogIdentity(const char* prefix, const char* filePrefix) {
  g_szPrefix = prefix;
  g_szFilePrefix = filePrefix;
}

bool CheckFolder(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode) && access(path, R_OK | X_OK) == 0;
}

bool CreateFolder(const char* path) {
  // Make the two directories above the log directory first when missing
  // ("/var" and "/var/log" on an installed system).
  std::string dir(path);
  std::string parent = dir.substr(0, dir.find_last_of('/'));
  std::string grand = parent.substr(0, parent.find_last_of('/'));
  for (const std::string& d : {grand, parent}) {
    if (!d.empty() && !CheckFolder(d.c_str()) && !MakeDir(d.c_str())) return false;
  }
  return CheckFolder(path) || MakeDir(path);
}

void StartLog() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  iLogLevel = 0;
  iLogOutputPath = 0;
  bIsWriteLog = false;
  szMsg[0] = '\0';
  if (fpLog) {  // a second init must not leak the first file
    fclose(fpLog);
    fpLog = nullptr;
  }
  const char* env = getenv("DRAVN_DEBUG");
  if (!env) return;
  long v = strtol(env, nullptr, 10);
  int level = static_cast<int>(v / 10);
  int output = static_cast<int>(v % 10);
  if (output > 2 || v >= 50) {
    fprintf(stderr, "[%s] Debug level is invalid!\n", g_szPrefix);
    return;
  }
  fprintf(stderr, "[%s] Debug: level(%d) path(%d) \n", g_szPrefix, level, output);
  iLogLevel = level;
  iLogOutputPath = output;
  if (output < 0) return;  // a negative value logs nothing
  bIsWriteLog = true;
  if (output == 1 || output == 2) bIsWriteLog = CheckLogFolder();
}

void EndLog() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (fpLog) fclose(fpLog);
  fpLog = nullptr;
}

int GetLogLevel() { return iLogLevel; }

char* SetMessage() { return szMsg; }

void WriteLog(int level, const char* function, const char* message) {
  if (!bIsWriteLog || level > iLogLevel) return;
  SYSTEM_TIME_INFO t = GetSystemTime();
  char line[kLineSize];
  int n = snprintf(line, sizeof line, "[%s] [%d-%.2d-%.2d %.2d:%.2d:%.2d] [%s] [%s] %s \n", g_szPrefix, t.iYear,
                   t.iMonth, t.iDay, t.iHour, t.iMinute, t.iSecond, LevelWord(level), function ? function : "",
                   message ? message : "");
  if (n >= static_cast<int>(sizeof line)) {  // cut long messages, keep the line's end
    memcpy(line + sizeof line - 3, " \n", 3);
  }
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (iLogOutputPath == 0 || iLogOutputPath == 2) fputs(line, stderr);
  if (iLogOutputPath == 1 || iLogOutputPath == 2) FlushBuff(line);
}

void StartUsbLog() {
  std::lock_guard<std::mutex> lock(g_usbMutex);
  if (g_iUsbLevelLog != 1) return;
  if (g_fpUsbLog) {
    fclose(g_fpUsbLog);
    g_fpUsbLog = nullptr;
  }
  CheckUsbLogFolder();
}

void EndUsbLog() {
  std::lock_guard<std::mutex> lock(g_usbMutex);
  if (g_fpUsbLog) fclose(g_fpUsbLog);
  g_fpUsbLog = nullptr;
}

const char* ConvertCDBCommand(const unsigned char* cdb) {
  if (!cdb) return "Unknow";
  const unsigned op = cdb[4], sub = cdb[6];
  const unsigned param = cdb[8] | (cdb[9] << 8);
  switch (op) {
    case 0x12:
      if (sub == 0x02) return "Get Hardware Status";
      if (sub == 0x7A) return "Get Hardware Status Ext";
      break;
    case 0x14:
      if (sub == 0x04) return "Scan";
      if (sub == 0x05) return "Calibrate Device";
      if (sub == 0x06) return "Stop Scan";
      if (sub == 0x07) return "Abort Scan";
      break;
    case 0x2A:
      if (sub == 0x09) return "Set Window";
      if (sub == 0x10) return "Set Nvram";
      if (sub == 0x78 && param == 1) return "Lock Scanner";
      if (sub == 0x78 && param == 2) return "Unlock Scanner";
      break;
    case 0x28:
      if (sub == 0x10) return "Get Nvram";
      if (sub == 0x78 && param == 1) return "Lock Scanner";
      if (sub == 0x04) return "Read";
      break;
  }
  return "Unknow";
}

void WriteUsbLog(const unsigned char* data, int length, int kind) {
  if (g_iUsbLevelLog == 0 || !data || kind < USBLOG_COMMAND_OUT || kind > USBLOG_DATA_IN) return;
  std::lock_guard<std::mutex> lock(g_usbMutex);
  if (kind == USBLOG_DATA_IN && g_bIsRead) return;  // page data is never dumped
  SYSTEM_TIME_INFO t = GetSystemTime();
  char line[256];
  snprintf(line, sizeof line, "%s    %04d/%02d/%02d %02d:%02d:%02d:%03d\n",
           kind <= USBLOG_DATA_OUT ? "- OUT -" : "- IN -", t.iYear, t.iMonth, t.iDay, t.iHour, t.iMinute, t.iSecond,
           t.iMilliSecond);
  FlushUsbBuff(line);
  switch (kind) {
    case USBLOG_COMMAND_OUT: {
      snprintf(line, sizeof line, "[Command] : %s\n", length >= 10 ? ConvertCDBCommand(data) : "Unknow");
      FlushUsbBuff(line);
      g_bIsRead = length >= 7 && data[4] == 0x28 && data[6] == 0x04;
      std::string cdb = "            CDB  :";
      char hex[4];
      for (int i = 0; i < length; ++i) {
        snprintf(hex, sizeof hex, "%02x ", data[i]);
        cdb += hex;
      }
      cdb += "\n";
      FlushUsbBuff(cdb.c_str());
      return;
    }
    case USBLOG_DATA_OUT: FlushUsbBuff("            Data [Send]\n"); break;
    case USBLOG_STATUS_IN: FlushUsbBuff("            Status [Receive]\n"); break;
    case USBLOG_DATA_IN: FlushUsbBuff("            Data [Receive]\n"); break;
  }
  HexDump(data, length);
}

void PrintfScannerBacktrace(FILE* fp) {
  if (!fp) return;
  void* frames[1024];
  int n = backtrace(frames, 1024);
  char** texts = backtrace_symbols(frames, n);
  if (!texts) return;
  for (int i = 0; i < n; ++i) fprintf(fp, "%s\n", texts[i]);
  free(texts);
}

void WriteErrorLogFile(unsigned int code) {
  if (!CheckFolder(DRAVN_LOG_DIR) && !CreateFolder(DRAVN_LOG_DIR)) return;
  FILE* fp = OpenLogFile(DatedName("%s/dravnerrorlog_%04d%02d%02d_%02d%02d%02d.txt").c_str(), 0444);
  if (!fp) return;
  fprintf(fp, "0x%04X", code);
  PrintfScannerBacktrace(fp);
  fclose(fp);
}
