// The daemon's life: single instance by its pid file, the exclusive-access
// table, and the two threads that share the scanner with everyone else.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dravn_paths.h"
#include "exclusive_key.h"
#include "scan_manager.h"
#include "system_tools.h"

namespace {

constexpr unsigned long kCycleUs = 300000;
// While the button is held at start-up the press is waited out, in short
// naps, for at most this long.
constexpr long long kHeldButtonLimitUs = 15000000;
constexpr unsigned long kHeldButtonNapUs = 20000;
constexpr size_t kPidLineSize = 256;
const char kSyslogText[] = "The share memory was deleted manually.You should start the scanbutton's service again.\n";

void RealSleep(unsigned long us) { usleep(static_cast<useconds_t>(us)); }
long long RealMonotonicUs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}
void RealLocalTime(struct tm* out) {
  time_t t = time(nullptr);
  localtime_r(&t, out);
}
void RealSystemLog(const char* text) {
  openlog("dravnscanbutton", LOG_CONS | LOG_PID, LOG_USER);
  syslog(LOG_INFO, "%s", text);
  closelog();
}

void Nap() { g_tSeams.sleepUs(kCycleUs); }

void SetField(char* field, size_t size, const char* text) {
  memset(field, 0, size);
  memcpy(field, text, strnlen(text, size - 1));
}

bool FieldStartsWith(const char* field, size_t size, const char* text) {
  size_t n = strlen(text);
  return n <= size && strncmp(field, text, n) == 0;
}

// A pid field copied so that it surely ends.
struct PidText {
  char text[SHM_PID_SIZE + 1];
  explicit PidText(const SHM_DEVICE_ENTRY& e) {
    memcpy(text, e.szPid, SHM_PID_SIZE);
    text[SHM_PID_SIZE] = '\0';
  }
};

bool IsOwn(const SHM_DEVICE_ENTRY& e) { return ShmFieldEquals(e.szPid, SHM_PID_SIZE, g_szCurrentPid); }
bool OwnerGone(const SHM_DEVICE_ENTRY& e) {
  PidText pid(e);
  return pid.text[0] == '\0' || !CheckPidIsRunnable(pid.text);
}

SHM_DEVICE_ENTRY* Entries() { return g_tShareMemory.GetEntry(); }

void RewriteMagic() {
  SHM_EXCLUSIVE_TABLE* table = g_tShareMemory.GetTable();
  if (table && memcmp(table->szMagic, SHM_EXCLUSIVE_MAGIC, sizeof table->szMagic) != 0)
    memcpy(table->szMagic, SHM_EXCLUSIVE_MAGIC, sizeof table->szMagic);
}

bool PidFileGone() { return !CheckIsPIDFileExist(); }

// The key under which record 0 is kept in the table; false when it has
// none that fits.
bool Record0Key(char (&key)[SHM_DEVICE_NAME_SIZE]) {
  return g_iDeviceNum > 0 && MakeExclusiveKey(g_taActiveDevList[0].pszDevName, key);
}

int FindEntry(const char* key) {
  for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT; ++i)
    if (FieldStartsWith(Entries()[i].szDevName, SHM_DEVICE_NAME_SIZE, key)) return i;
  return -1;
}

void Reserve(SHM_DEVICE_ENTRY& e) {
  SetField(e.szPid, SHM_PID_SIZE, g_szCurrentPid);
  SetField(e.szState, SHM_STATE_SIZE, SHM_STATE_SB_RESERVED);
}

// Thread 1, step 4, in one critical section: the entry is either left to
// a running owner, answered, or taken for the daemon at once, so that no
// backend's claim can come between the look and the reservation.
enum class Claim { Taken, LeftAlone, Failed };
Claim ClaimEntry(const char* key) {
  if (!g_tShareMemory.p()) return Claim::Failed;
  Claim result = Claim::LeftAlone;
  int i = FindEntry(key);
  if (i >= 0) {
    SHM_DEVICE_ENTRY& e = Entries()[i];
    if (IsOwn(e) || OwnerGone(e)) {
      Reserve(e);
      result = Claim::Taken;
    } else if (ShmFieldEquals(e.szState, SHM_STATE_SIZE, SHM_STATE_REQUEST)) {
      SetField(e.szState, SHM_STATE_SIZE, SHM_STATE_SB_RELEASE);
    }
  } else {
    for (int k = 0; k < SHM_DEVICE_ENTRY_COUNT && result != Claim::Taken; ++k) {
      SHM_DEVICE_ENTRY& e = Entries()[k];
      if (e.szDevName[0] != '\0' && e.szPid[0] != '\0' && !OwnerGone(e)) continue;
      memset(&e, 0, sizeof e);
      SetField(e.szDevName, SHM_DEVICE_NAME_SIZE, key);
      Reserve(e);
      result = Claim::Taken;
    }
  }
  return g_tShareMemory.v() ? result : Claim::Failed;
}

void ClearEmptyEntries() {
  if (!g_tShareMemory.p()) return;
  for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT; ++i)
    if (Entries()[i].szState[0] == '\0') memset(&Entries()[i], 0, sizeof(SHM_DEVICE_ENTRY));
  g_tShareMemory.v();
}

bool PidTextIsDigits(const char* text) {
  size_t n = strlen(text);
  if (n < 1 || n > SHM_PID_SIZE) return false;
  for (size_t i = 0; i < n; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// Whether the pid file names a running process other than this one. Only
// 1 to 10 digits name one; liveness is kill(pid, 0).
bool NamesRunningDaemon(const char* text) {
  if (!PidTextIsDigits(text)) return false;
  long long pid = atoll(text);
  if (pid <= 0 || pid > INT_MAX || pid == static_cast<long long>(getpid())) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

// The button is held as the daemon takes the scanner: that press was not
// meant for it. Waits until it is let go, in naps, for at most 15 s.
int WaitOutHeldButton() {
  long long start = g_tSeams.monotonicUs();
  for (;;) {
    int b = CheckButtonStatus(0);
    if (b != 1) return b < 0 ? 0 : 1;
    if (g_tSeams.monotonicUs() - start >= kHeldButtonLimitUs) return 1;
    g_tSeams.sleepUs(kHeldButtonNapUs);
  }
}

ScanButtonSeams g_tSeams = {RealSleep, RealMonotonicUs, RealLocalTime, RealSystemLog};
char g_szCurrentPid[256];
char g_caPsPath[256];
char g_caGrepPath[256];
pthread_mutex_t g_mutex;
CExclusiveTable g_tShareMemory(KELO_BACKEND_MAIN);
const char* g_pszPidFile = DRAVN_RUN_DIR "/dravnscanbutton.pid";

int InitSystemToolPath() {
  bool ps = FindSystemTool("ps", g_caPsPath);
  bool grep = FindSystemTool("grep", g_caGrepPath);
  bool scanimage = FindSystemTool("scanimage", g_caScanImagePath);
  if (!ps) puts("system command 'ps' is not found");
  if (!grep) puts("system command 'grep' is not found");
  if (!scanimage) puts("system command 'scanimage' is not found");
  return ps && grep && scanimage ? 1 : 0;
}

int CheckIsPIDFileExist() {
  struct stat st;
  return lstat(g_pszPidFile, &st) == 0 ? 1 : 0;
}

int CheckIsRunnable() {
  // One lock on the file makes the look and the write one step: of two
  // daemons started together, the second sees the first's pid.
  int fd = open(g_pszPidFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX) != 0) {
    close(fd);
    return 0;
  }
  char line[kPidLineSize] = {};
  ssize_t n = pread(fd, line, sizeof line - 1, 0);
  if (n > 0) {
    line[n] = '\0';
    line[strcspn(line, "\r\n")] = '\0';
    if (NamesRunningDaemon(line)) {
      puts("dravnscanbutton is already running");
      close(fd);
      return 0;
    }
  }
  size_t len = strlen(g_szCurrentPid);
  bool ok = ftruncate(fd, 0) == 0 && pwrite(fd, g_szCurrentPid, len, 0) == static_cast<ssize_t>(len);
  fchmod(fd, 0644);
  close(fd);
  return ok ? 1 : 0;
}

key_t GetShareMemoryKey() {
  struct shmid_ds ds;
  if (g_tShareMemory.GetShmId() < 0 || shmctl(g_tShareMemory.GetShmId(), IPC_STAT, &ds) != 0) return 0;
  return ds.shm_perm.__key;
}

void ClearOwnReservations() {
  if (!Entries() || !g_tShareMemory.p()) return;
  for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT; ++i) {
    SHM_DEVICE_ENTRY& e = Entries()[i];
    if (IsOwn(e) && ShmFieldEquals(e.szState, SHM_STATE_SIZE, SHM_STATE_SB_RESERVED)) memset(&e, 0, sizeof e);
  }
  g_tShareMemory.v();
}

char* StrTrim(char* text) {
  if (!text) return text;
  char* start = text;
  while (*start == ' ' || *start == '\t' || *start == '\n' || *start == '\r') ++start;
  size_t n = strlen(start);
  while (n > 0 && (start[n - 1] == ' ' || start[n - 1] == '\t' || start[n - 1] == '\n' || start[n - 1] == '\r')) --n;
  memmove(text, start, n);
  text[n] = '\0';
  return text;
}

void* GetDeviceHandle(void*) {
  for (;;) {
    pthread_mutex_lock(&g_mutex);
    int result = 1;
    for (;;) {  // repeats from step 1 holding the mutex
      result = 1;
      if (PidFileGone()) {
        pthread_mutex_unlock(&g_mutex);
        Nap();
        return nullptr;
      }
      if (GetShareMemoryKey() == 0) {
        DoReleaseAllDevice();
        pthread_mutex_unlock(&g_mutex);
        Nap();
        return nullptr;
      }
      // The scanner this thread reserved is the monitor's to watch until the
      // monitor closes it. The lock can come back here first on a busy
      // machine; a cycle now would take a real press for a held one, answer
      // a request with the scanner still claimed, or hold the lock through an
      // unplug with the scanner claimed and reserved.
      if (g_taActiveDevList[0].ptHandle) break;
      g_iDeviceNum = 0;
      RewriteMagic();
      int count = 0;
      char key[SHM_DEVICE_NAME_SIZE];
      if (!GetDeviceList(&count) || !Record0Key(key)) {
        Nap();
        continue;
      }
      Claim claim = ClaimEntry(key);
      if (claim != Claim::Taken) break;  // another process holds it

      int opened = DoOpenDevice(0);
      if (opened == 0) {
        ClearOwnReservations();
        break;
      }
      if (opened < 0) {
        ClearOwnReservations();
        Nap();
        continue;
      }
      if (NeedsFirstReadDate(g_taActiveDevList[0].iDeviceType)) result = SetFirstReadDate(0);
      if (result == 1) result = WaitOutHeldButton();
      if (result == 1) break;
      DoReleaseAllDevice();
      ClearOwnReservations();
      Nap();
    }
    ClearEmptyEntries();
    pthread_mutex_unlock(&g_mutex);
    Nap();
  }
}

void* ScanButtonMonitor(void*) {
  pthread_mutex_lock(&g_mutex);
  for (;;) {
    if (PidFileGone()) {
      DoReleaseAllDevice();
      ClearOwnReservations();
      pthread_mutex_unlock(&g_mutex);
      Nap();
      return nullptr;
    }
    if (GetShareMemoryKey() == 0) {
      DoReleaseAllDevice();
      pthread_mutex_unlock(&g_mutex);
      Nap();
      return nullptr;
    }
    RewriteMagic();

    int number = GetDeviceNumber();
    if (number != g_iDeviceNum) {
      DoReleaseAllDevice();
      ClearOwnReservations();
      Nap();
      pthread_mutex_unlock(&g_mutex);
      Nap();
      pthread_mutex_lock(&g_mutex);
      continue;
    }
    if (number == 0) {
      Nap();
      continue;
    }

    enum { Quiet, Release } next = Quiet;
    bool answered = false;
    char key[SHM_DEVICE_NAME_SIZE];
    if (!Record0Key(key) || !g_tShareMemory.p()) {
      next = Release;
    } else {
      for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT && next == Quiet && !answered; ++i) {
        SHM_DEVICE_ENTRY& e = Entries()[i];
        if (!FieldStartsWith(e.szDevName, SHM_DEVICE_NAME_SIZE, key)) continue;
        if (FieldStartsWith(e.szState, SHM_STATE_SIZE, SHM_STATE_REQUEST)) {
          if (OwnerGone(e)) {
            memset(e.szPid, 0, SHM_PID_SIZE);
            memset(e.szState, 0, SHM_STATE_SIZE);
            next = Release;
          } else {
            DoReleaseDevice(0);
            SetField(e.szState, SHM_STATE_SIZE, SHM_STATE_SB_RELEASE);
            answered = true;
          }
        } else if (FieldStartsWith(e.szState, SHM_STATE_SIZE, SHM_STATE_RESERVED)) {
          if (OwnerGone(e)) {
            memset(e.szPid, 0, SHM_PID_SIZE);
            memset(e.szState, 0, SHM_STATE_SIZE);
            next = Release;
          } else {
            answered = true;  // in use: wait quietly
          }
        } else if (FieldStartsWith(e.szState, SHM_STATE_SIZE, SHM_STATE_RELEASE)) {
          next = Release;
        }
      }
      g_tShareMemory.v();
    }
    if (next == Quiet && answered) {
      Nap();
      continue;
    }
    if (next == Quiet) {
      int b = CheckButtonStatus(0);
      if (b == 0) {
        Nap();
        continue;
      }
      if (b == 1) {
        StrTrim(g_taActiveDevList[0].pszDevName);
        DoReleaseDevice(0);
        DoScan(DRAVN_IMAGE_DIR "/", g_taActiveDevList[0].pszDevName);
      }
    }
    if (g_iDeviceNum > 0) DoReleaseDevice(0);
    ClearOwnReservations();
    pthread_mutex_unlock(&g_mutex);
    Nap();
    pthread_mutex_lock(&g_mutex);
  }
}

int StartButtonMonitor() {
  if (!CheckIsRunnable()) return 0;
  if (pthread_mutex_init(&g_mutex, nullptr) != 0) return 0;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return 0;
  pthread_t t1, t2;
  if (pthread_create(&t1, &attr, GetDeviceHandle, nullptr) != 0) {
    pthread_attr_destroy(&attr);
    return 0;
  }
  if (pthread_create(&t2, &attr, ScanButtonMonitor, nullptr) != 0) {
    // The first thread ends once it sees no pid file.
    unlink(g_pszPidFile);
    pthread_join(t1, nullptr);
    pthread_attr_destroy(&attr);
    return 0;
  }
  pthread_join(t1, nullptr);
  pthread_join(t2, nullptr);
  pthread_attr_destroy(&attr);
  return 0;
}

namespace {

// Whether a process runs whose executable's base name contains one of the
// names; nothing of /proc is handed to a shell.
bool ProcessRuns(const char* const* names, size_t count) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (struct dirent* e = readdir(proc)) {
    if (!PidTextIsDigits(e->d_name)) continue;
    char link[sizeof e->d_name + 16];
    char exe[129];
    snprintf(link, sizeof link, "/proc/%s/exe", e->d_name);
    ssize_t n = readlink(link, exe, sizeof exe - 1);
    if (n <= 0) continue;
    exe[n] = '\0';
    const char* base = strrchr(exe, '/');
    base = base ? base + 1 : exe;
    for (size_t i = 0; i < count && !found; ++i) found = strstr(base, names[i]) != nullptr;
    if (found) break;
  }
  closedir(proc);
  return found;
}

const char* const g_cpProcList[] = {"xsane", "scanimage", "simple-scan", "skanlite", "scangui"};
const char* const g_cpProcSOP[] = {"mqlaunch"};

}  // namespace

int CheckDriverStatus() { return ProcessRuns(g_cpProcList, sizeof g_cpProcList / sizeof g_cpProcList[0]) ? 1 : 0; }
int CheckSOPStatus() { return ProcessRuns(g_cpProcSOP, 1) ? 1 : 0; }
int IsDriverInUse() { return CheckDriverStatus(); }
int IsSOPActive() { return CheckSOPStatus(); }

void EndScanButton() {
  DoReleaseAllDevice();
  if (GetShareMemoryKey() == 0) g_tSeams.systemLog(kSyslogText);
  g_tShareMemory.ReleaseShareMemory();
  FreeDeviceList();
  DoReleaseSubProcessEnviron();
}

int ScanButtonMain() {
  // A service that cannot run says so in its exit status, or its manager
  // takes the missing tool for a clean stop.
  if (!InitSystemToolPath()) return EXIT_FAILURE;
  snprintf(g_szCurrentPid, sizeof g_szCurrentPid, "%d", static_cast<int>(getpid()));
  if (!g_tShareMemory.InitShareMemory()) {
    g_tShareMemory.ReleaseShareMemory();
    return EXIT_FAILURE;
  }
  InitSubProcessEnviron();
  StartButtonMonitor();
  EndScanButton();
  return 0;
}
