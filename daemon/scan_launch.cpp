// Starting scanimage for a press, in a new dated folder under the image
// root, and recording how it ended. The daemon runs as root in folders that
// every user may write to: nothing here follows a link or trusts a
// directory that is not the daemon's own.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dravn_paths.h"
#include "sane_status_text.h"
#include "scan_manager.h"

namespace {

constexpr size_t kEnvValueSize = 4096;
constexpr size_t kConfLineSize = 4096;
constexpr int kMaxWalkDepth = 32;
const char kConfName[] = "dravnscanbutton.conf";

std::string WithoutTrailingSlashes(const char* path) {
  std::string p(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// A directory of ours: a real directory (no link) owned by the daemon's
// user. Anything else in its place is someone else's doing.
bool OwnDirectory(const struct stat& st) { return S_ISDIR(st.st_mode) && st.st_uid == geteuid(); }

// Opens a directory of ours by path without following a link at its end.
int OpenOwnDirectory(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !OwnDirectory(st)) {
    close(fd);
    return -1;
  }
  return fd;
}

// The folder of this press: made with mode 0755, or the one an earlier
// press of the same second made.
int MakeScanFolder(const std::string& path) {
  bool made = mkdir(path.c_str(), 0755) == 0;
  if (!made && errno != EEXIST) return -1;
  int fd = OpenOwnDirectory(path);
  if (fd >= 0 && made) fchmod(fd, 0755);
  return fd;
}

bool DirectoryIsEmpty(int dirFd) {
  int fd = dup(dirFd);
  if (fd < 0) return true;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return true;
  }
  rewinddir(dir);  // the duplicate shares its offset with the caller's
  bool empty = true;
  while (struct dirent* e = readdir(dir)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(dir);
  return empty;
}

// Directories 0755, everything else 0644; links are left alone.
void ModifyPermissionsAt(int dirFd, int depth) {
  int fd = dup(dirFd);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  rewinddir(dir);
  while (struct dirent* e = readdir(dir)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    struct stat st;
    if (fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      int sub = openat(dirFd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) continue;
      fchmod(sub, 0755);
      if (depth < kMaxWalkDepth) ModifyPermissionsAt(sub, depth + 1);
      close(sub);
    } else if (S_ISREG(st.st_mode)) {
      int file = openat(dirFd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (file < 0) continue;
      fchmod(file, 0644);
      close(file);
    } else {
      fchmodat(dirFd, e->d_name, 0644, AT_SYMLINK_NOFOLLOW);
    }
  }
  closedir(dir);
}

void AddEnv(int* slot, const char* name) {
  const char* value = getenv(name);
  if (!value || *slot >= SUBPROC_ENV_SLOTS - 1) return;
  char* entry = static_cast<char*>(malloc(kEnvValueSize));
  if (!entry) return;
  snprintf(entry, kEnvValueSize, "%s=%s", name, value);
  g_caSubProcEnv[(*slot)++] = entry;
}

}  // namespace

char* g_caSubProcEnv[SUBPROC_ENV_SLOTS];
char g_caScanImagePath[256];
const char* g_pszScanConfDir = DRAVN_ETC_DIR "/";
const char* g_pszScanLogDir = DRAVN_LOG_DIR;

void InitSubProcessEnviron() {
  DoReleaseSubProcessEnviron();
  int slot = 0;
  for (const char* name : {"DISPLAY", "LANG", "PATH", "SANE_DEBUG_DLL", "DRAVN_DEBUG"}) AddEnv(&slot, name);
}

void DoReleaseSubProcessEnviron() {
  for (auto& e : g_caSubProcEnv) {
    free(e);
    e = nullptr;
  }
}

const char* getStrstatus(int status) {
  static char text[64];
  snprintf(text, sizeof text, "%s", SaneStatusText(static_cast<SANE_Status>(status)));
  return text;
}

namespace scanbutton {

int CreateFolder(const char* path) {
  std::string p = WithoutTrailingSlashes(path);
  struct stat st;
  if (lstat(p.c_str(), &st) == 0) return OwnDirectory(st) ? 1 : 0;
  if (mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) return 0;
  int fd = OpenOwnDirectory(p);
  if (fd < 0) return 0;
  fchmod(fd, 0777);
  close(fd);
  return 1;
}

int CheckFolder(const char* path) {
  int fd = OpenOwnDirectory(WithoutTrailingSlashes(path));
  if (fd < 0) return 0;
  close(fd);
  return 1;
}

}  // namespace scanbutton

int ReadScanButtonConfFile(const char* path, char* buffer, size_t size) {
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  FILE* fp = fd < 0 ? nullptr : fdopen(fd, "r");
  if (!fp) {
    if (fd >= 0) close(fd);
    return -1;
  }
  buffer[0] = '\0';
  bool got = fgets(buffer, static_cast<int>(size), fp) != nullptr;
  fclose(fp);
  return got && buffer[0] != '\0' ? 0 : -2;
}

void WriteScanbuttonLog(int status) {
  if (!scanbutton::CreateFolder(g_pszScanLogDir)) return;
  char path[512];
  snprintf(path, sizeof path, "%s/ScanbuttonErrlog_%d.txt", g_pszScanLogDir, static_cast<int>(getuid()));
  // The directory is open to everyone: only a plain file of ours with no
  // other name is truncated, never what a planted link or hard link names.
  int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
      ftruncate(fd, 0) == 0) {
    fchmod(fd, 0644);
    const char* text = getStrstatus(status);
    ssize_t ignored = write(fd, text, strlen(text));
    (void)ignored;
  }
  close(fd);
}

int DirectoryIsNull(const char* path) {
  int fd = OpenOwnDirectory(WithoutTrailingSlashes(path));
  if (fd < 0) return 1;
  bool empty = DirectoryIsEmpty(fd);
  close(fd);
  return empty ? 1 : 0;
}

void ModifyFilePermission(const char* path) {
  int fd = OpenOwnDirectory(WithoutTrailingSlashes(path));
  if (fd < 0) return;
  ModifyPermissionsAt(fd, 0);
  close(fd);
}

int BuildScanArgv(char* line, const char* devArg, char* argv[SCAN_ARGV_SLOTS]) {
  int n = 0;
  argv[n++] = g_caScanImagePath;
  char* save = nullptr;
  for (char* tok = strtok_r(line, " ", &save); tok && n < SCAN_ARGV_SLOTS - 3; tok = strtok_r(nullptr, " ", &save))
    argv[n++] = tok;
  argv[n++] = const_cast<char*>("-d");
  argv[n++] = const_cast<char*>(devArg);
  argv[n] = nullptr;
  return n;
}

void DoScan(const char* imageRoot, const char* devName) {
  struct tm now {};
  g_tSeams.localTime(&now);
  if (!scanbutton::CreateFolder(imageRoot)) return;

  char confPath[4096];
  char folder[4096];
  snprintf(confPath, sizeof confPath, "%s%s", g_pszScanConfDir, kConfName);
  snprintf(folder, sizeof folder, "%s%04d%02d%02d_%02d%02d%02d", imageRoot, now.tm_year + 1900, now.tm_mon + 1,
           now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);

  static char line[kConfLineSize];
  if (ReadScanButtonConfFile(confPath, line, sizeof line) != 0) return;
  size_t len = strlen(line);
  while (len > 0 && line[len - 1] == '\n') line[--len] = '\0';

  std::string devArg = std::string("dravn:") + devName;
  int dirFd = MakeScanFolder(folder);
  if (dirFd < 0) return;

  // Built before the fork: the child of a threaded process may only change
  // directory and exec.
  static char* argv[SCAN_ARGV_SLOTS];
  BuildScanArgv(line, devArg.c_str(), argv);

  pid_t child = fork();
  if (child < 0) {
    WriteScanbuttonLog(-1);
    close(dirFd);
    return;
  }
  if (child == 0) {
    if (fchdir(dirFd) != 0) _exit(127);  // never scan into another folder
    execve(g_caScanImagePath, argv, g_caSubProcEnv);
    _exit(127);
  }
  int status = 0;
  pid_t r;
  do {
    r = waitpid(child, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r == child && WIFEXITED(status)) WriteScanbuttonLog(WEXITSTATUS(status));

  if (DirectoryIsEmpty(dirFd))
    rmdir(folder);
  else
    ModifyPermissionsAt(dirFd, 0);
  close(dirFd);
}
