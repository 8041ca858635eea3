#include "unit_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "dravn_paths.h"
#include "unit_profile.h"

namespace {

int g_iLogMode = 0;
// Built before the units' load-time constructors, which open the log.
std::string g_strLogDir __attribute__((init_priority(101)));
std::string g_strLogName __attribute__((init_priority(101))) = "I3ipBinarization.log";
int g_iConsole = 0;
char g_szLogBuffer[10240];

}  // namespace

void I3LogInitFrom(const char* profilePath, const char* logDir, const char* logName) {
  g_iLogMode = GetPrivateProfileInt("COMMON", "LogMode", 0, profilePath);
  g_strLogDir = g_iLogMode != 0 ? logDir : "";
  g_strLogName = logName;
}

void I3LogInit() { I3LogInitFrom(DRAVN_ETC_DIR "/I3ipBinarization.ini", DRAVN_LOG_DIR "/", "I3ipBinarization.log"); }

int I3LogMode() { return g_iLogMode; }
const char* I3LogDirectory() { return g_strLogDir.c_str(); }

void I3Log(int level, const char* format, ...) {
  if (g_iLogMode != 1) return;
  const std::string path = g_strLogDir + g_strLogName;
  // The log directory is shared and world-writable: a link planted under the
  // log's name must not be followed, and the mode is set on what was opened.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0777);
  if (fd < 0) return;
  FILE* file = fdopen(fd, "a");
  if (!file) {
    close(fd);
    return;
  }
  fchmod(fd, 0777);
  va_list args;
  va_start(args, format);
  vsnprintf(g_szLogBuffer, sizeof g_szLogBuffer, format, args);
  va_end(args);
  char when[64];
  getLocaleTime(when);
  if (g_iConsole) std::printf("%s\n", g_szLogBuffer);
  std::fprintf(file, "%s, 0x%04X, 0x%02X, %s\n", when, unsigned(getpid()), unsigned(level), g_szLogBuffer);
  std::fclose(file);
}
