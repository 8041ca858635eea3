#include "process_check.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int g_bScanButtonProcess = 0;

namespace {

const char kScanManager[] = "kelofsscanmanager";

// The last part of /proc/<pid>/exe; false when it cannot be read.
bool ExecutableName(int pid, char (&link)[256], const char** name) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/exe", pid);
  memset(link, 0, sizeof link);
  if (readlink(path, link, sizeof link - 1) <= 0) return false;
  const char* slash = strrchr(link, '/');
  *name = slash ? slash + 1 : link;
  return true;
}

template <typename Test>
bool WalkParents(Test test) {
  for (int pid = static_cast<int>(getpid()); pid > 0; pid = GetPpid(pid))
    if (test(pid)) return true;
  return false;
}

}  // namespace

int GetPpid(int pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", pid);
  FILE* fp = fopen(path, "re");
  if (!fp) return 0;
  // Line by line: the Name line holds text that the process chose itself.
  char line[512];
  int ppid = 0;
  while (fgets(line, sizeof line, fp)) {
    if (strncasecmp(line, "PPid:", 5) == 0) {
      ppid = atoi(line + 5);
      break;
    }
  }
  fclose(fp);
  return ppid;
}

bool IsSpecifyProcess(int pid, const char* program) {
  char link[256];
  const char* name = nullptr;
  if (!program || !ExecutableName(pid, link, &name)) return false;
  return strncmp(name, program, strlen(name)) == 0;
}

bool IsScanButtonProcess(int pid) {
  char link[256];
  const char* name = nullptr;
  if (!ExecutableName(pid, link, &name)) return false;
  return strncmp(name, kScanManager, std::min(strlen(name), sizeof kScanManager)) == 0;
}

bool CheckSpecifyProcess(const char* program) {
  return WalkParents([program](int pid) { return IsSpecifyProcess(pid, program); });
}

bool CheckProcess() {
  if (g_bScanButtonProcess) return true;
  if (WalkParents(IsScanButtonProcess)) g_bScanButtonProcess = 1;
  return g_bScanButtonProcess != 0;
}
