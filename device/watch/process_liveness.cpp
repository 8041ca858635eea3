// The old liveness test of the transport, answered from the process table:
// a process id is asked with kill, a program name is looked up among the
// command names under /proc. No shell ever sees the caller's text.
#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "scanner_ctrl.h"

namespace devwatch {
namespace {

// What the old pipeline answered: a count, "ABNORMAL" when nothing ran by
// that name, or no answer at all when the check itself could not be made.
enum class Liveness { Running, Abnormal, CheckFailed };

// 1 to 10 decimal digits name a process.
bool PidText(const char* text, pid_t* pid) {
  size_t n = strlen(text);
  if (n < 1 || n > 10) return false;
  unsigned long long value = 0;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (value == 0 || value > static_cast<unsigned long long>(INT_MAX)) return false;
  *pid = static_cast<pid_t>(value);
  return true;
}

// The kernel keeps 15 characters of a command name.
bool SameCommand(const char* comm, const char* name) {
  constexpr size_t kCommLength = 15;
  return strlen(comm) == kCommLength ? strncmp(comm, name, kCommLength) == 0 : strcmp(comm, name) == 0;
}

Liveness ByName(const char* name) {
  DIR* proc = opendir("/proc");
  if (!proc) return Liveness::CheckFailed;
  Liveness answer = Liveness::Abnormal;
  while (dirent* e = readdir(proc)) {
    pid_t pid;
    if (!PidText(e->d_name, &pid)) continue;
    char path[64], comm[64] = {};
    snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    FILE* fp = fopen(path, "re");
    if (!fp) continue;  // ended meanwhile
    const bool read = fgets(comm, sizeof comm, fp) != nullptr;
    fclose(fp);
    if (!read) continue;
    comm[strcspn(comm, "\n")] = '\0';
    if (SameCommand(comm, name)) {
      answer = Liveness::Running;
      break;
    }
  }
  closedir(proc);
  return answer;
}

Liveness Check(const char* name) {
  if (!name || !*name) return Liveness::CheckFailed;
  pid_t pid;
  if (!PidText(name, &pid)) return ByName(name);
  if (kill(pid, 0) == 0 || errno == EPERM) return Liveness::Running;
  return errno == ESRCH ? Liveness::Abnormal : Liveness::CheckFailed;
}

}  // namespace

int CMqScannerCtrl::IsActive(const char* name) {
  switch (Check(name)) {
    case Liveness::Running:
      return 1;
    case Liveness::Abnormal:
      return 0;
    case Liveness::CheckFailed:
      break;
  }
  printf("ps command error\n");
  fflush(stdout);
  return 0;
}

}  // namespace devwatch
