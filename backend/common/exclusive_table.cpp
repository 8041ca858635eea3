#include "exclusive_table.h"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exclusive_key.h"
#include "log.h"

const char SHM_EXCLUSIVE_MAGIC[] = "DravnExcusive";
const char SHM_STATE_SB_RESERVED[] = "SBReserved";
const char SHM_STATE_SB_RELEASE[] = "SBRelease";
const char SHM_STATE_REQUEST[] = "Request";
const char SHM_STATE_RESERVED[] = "Reserved";
const char SHM_STATE_RELEASE[] = "Release";

namespace {

constexpr size_t kSegmentSize = sizeof(SHM_EXCLUSIVE_TABLE);
constexpr size_t kMagicLength = sizeof(SHM_EXCLUSIVE_MAGIC) - 1;
constexpr int kDaemonWaitTries = 100;
constexpr useconds_t kDaemonWaitPause = 10000;

const char kCreateTag[] = "KeloManagerUsb::CreateControlFile";

void SetField(char* field, size_t size, const char* text) {
  memset(field, 0, size);
  memcpy(field, text, strnlen(text, size - 1));
}

// A copy of a record's pid field that is sure to end within the copy.
struct PidText {
  char text[SHM_PID_SIZE + 1];
  explicit PidText(const SHM_DEVICE_ENTRY& e) {
    memcpy(text, e.szPid, SHM_PID_SIZE);
    text[SHM_PID_SIZE] = '\0';
  }
};

bool StateIs(const SHM_DEVICE_ENTRY& e, const char* word) { return ShmFieldEquals(e.szState, SHM_STATE_SIZE, word); }
bool PidIs(const SHM_DEVICE_ENTRY& e, const char* pid) { return ShmFieldEquals(e.szPid, SHM_PID_SIZE, pid); }

void Claim(SHM_DEVICE_ENTRY& e, const char* ownPid, const char* state) {
  SetField(e.szPid, SHM_PID_SIZE, ownPid);
  SetField(e.szState, SHM_STATE_SIZE, state);
}

struct OwnPid {
  char text[16];
  OwnPid() { snprintf(text, sizeof text, "%d", static_cast<int>(getpid())); }
};

}  // namespace

bool ShmFieldEquals(const char* field, size_t size, const char* text) {
  size_t n = strlen(text);
  return n < size && memcmp(field, text, n + 1) == 0;
}

bool CheckPidIsRunnable(const char* pidText) {
  // The text comes from a world-writable segment: it is never handed to a
  // shell, and only plain digits name a process (a 0 would name our own
  // process group in kill).
  if (pidText == nullptr) return false;
  size_t n = strnlen(pidText, SHM_PID_SIZE + 1);
  if (n < 2 || n > SHM_PID_SIZE) return false;
  unsigned long long pid = 0;
  for (size_t i = 0; i < n; ++i) {
    if (pidText[i] < '0' || pidText[i] > '9') return false;
    pid = pid * 10 + static_cast<unsigned>(pidText[i] - '0');
  }
  if (pid == 0 || pid > static_cast<unsigned long long>(INT_MAX)) return false;
  if (kill(static_cast<pid_t>(pid), 0) == 0) return true;
  return errno == EPERM;  // runs, under another user
}

CExclusiveTable::CExclusiveTable(KeloBackendKind kind) : m_eKind(kind) {}

CExclusiveTable::~CExclusiveTable() {
  if (m_pShmAddr) shmdt(m_pShmAddr);
}

bool CExclusiveTable::InitShareMemory() {
  CLogScope scope("KeloManagerUsb::InitShareMemory");
  const char* fn = "KeloManagerUsb::InitShareMemory";
  if (m_pShmAddr && m_iSemId >= 0) return true;  // SANE open comes here every time
  key_t key = -1;
  for (int k = 0; k < SHM_EXCLUSIVE_KEY_COUNT && key < 0; ++k) {
    key_t tryKey = SHM_EXCLUSIVE_FIRST_KEY + k;
    if (shmget(tryKey, kSegmentSize, 0) < 0) continue;
    // A table that is there but closed to us must not make us set up a
    // second one under the next key.
    int id = shmget(tryKey, kSegmentSize, IPC_CREAT | 0777);
    void* addr = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
      WriteLog(LOG_LEVEL_ERROR, fn, "shmat() failed");
      return false;
    }
    if (memcmp(addr, SHM_EXCLUSIVE_MAGIC, kMagicLength) == 0) {
      m_iShmId = id;
      m_pShmAddr = addr;
      key = tryKey;
    } else {
      shmdt(addr);  // another program's segment
    }
  }
  if (key < 0) {
    int id = -1;
    for (int k = 0; k < SHM_EXCLUSIVE_KEY_COUNT && id < 0; ++k) {
      key = SHM_EXCLUSIVE_FIRST_KEY + k;
      id = shmget(key, kSegmentSize, IPC_CREAT | IPC_EXCL | 0777);
    }
    if (id < 0) {
      WriteLog(LOG_LEVEL_ERROR, fn, "shmget() failed");
      return false;
    }
    void* addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
      WriteLog(LOG_LEVEL_ERROR, fn, "shmat() failed");
      shmctl(id, IPC_RMID, nullptr);  // ours alone: leave nothing behind
      return false;
    }
    memset(addr, 0, kSegmentSize);
    memcpy(addr, SHM_EXCLUSIVE_MAGIC, kMagicLength + 1);
    m_iShmId = id;
    m_pShmAddr = addr;
  }
  m_pDevEntry = static_cast<SHM_EXCLUSIVE_TABLE*>(m_pShmAddr)->tEntry;

  m_iSemId = semget(key, 1, IPC_CREAT | IPC_EXCL | 0777);
  if (m_iSemId >= 0) {
    if (semctl(m_iSemId, 0, SETVAL, 1) != 0) WriteLog(LOG_LEVEL_ERROR, fn, "semctl(SETVAL) failed");
  } else if (errno == EEXIST) {
    m_iSemId = semget(key, 1, IPC_CREAT | 0777);
  }
  if (m_iSemId < 0) {
    WriteLog(LOG_LEVEL_ERROR, fn, "semget() failed");
    ReleaseShareMemory();  // SANE open tries again: no attachment may pile up
    return false;
  }
  return true;
}

void CExclusiveTable::ReleaseShareMemory() {
  CLogScope scope("KeloManagerUsb::ReleaseShareMemory");
  if (m_pShmAddr) {
    shmdt(m_pShmAddr);
    m_pShmAddr = nullptr;
    m_pDevEntry = nullptr;
  }
  if (m_iShmId < 0) return;
  struct shmid_ds ds;
  if (shmctl(m_iShmId, IPC_STAT, &ds) == 0 && ds.shm_nattch == 0) {
    if (m_iSemId >= 0) semctl(m_iSemId, 0, IPC_RMID);
    shmctl(m_iShmId, IPC_RMID, nullptr);
  }
  m_iShmId = -1;
  m_iSemId = -1;
}

bool CExclusiveTable::p() {
  WriteLog(LOG_LEVEL_DETAIL, "KeloManagerUsb::p", "start");
  // A record of its own per call: the signal watcher's thread may give
  // the device back while the SANE thread is at work here.
  struct sembuf op = {0, -1, SEM_UNDO};
  int r;
  do {
    r = semop(m_iSemId, &op, 1);
  } while (r != 0 && errno == EINTR);
  WriteLog(LOG_LEVEL_DETAIL, "KeloManagerUsb::p", "end");
  return r == 0;
}

bool CExclusiveTable::v() {
  WriteLog(LOG_LEVEL_DETAIL, "KeloManagerUsb::v", "start");
  struct sembuf op = {0, 1, SEM_UNDO};
  int r;
  do {
    r = semop(m_iSemId, &op, 1);
  } while (r != 0 && errno == EINTR);
  WriteLog(LOG_LEVEL_DETAIL, "KeloManagerUsb::v", "end");
  return r == 0;
}

int CExclusiveTable::CreateControlFile(const char* devString) {
  CLogScope scope(kCreateTag);
  char devName[SHM_DEVICE_NAME_SIZE];
  if (!MakeExclusiveKey(devString, devName)) {
    // A longer name would run into the pid field and match nothing later;
    // an empty one would match a free record.
    WriteLog(LOG_LEVEL_ERROR, kCreateTag, "device name does not fit the table");
    return 4;
  }
  if (m_pDevEntry == nullptr) {
    WriteLog(LOG_LEVEL_ERROR, kCreateTag, "share memory is not attached");
    return 4;
  }
  OwnPid own;
  if (!p()) return 4;

  int found = -1;
  for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT && found < 0; ++i)
    if (ShmFieldEquals(m_pDevEntry[i].szDevName, SHM_DEVICE_NAME_SIZE, devName)) found = i;

  if (found >= 0) {
    m_iEntryIndex = found;
    SHM_DEVICE_ENTRY& e = m_pDevEntry[found];
    PidText pid(e);
    if (StateIs(e, SHM_STATE_SB_RESERVED)) {
      Claim(e, own.text, SHM_STATE_REQUEST);
    } else if (StateIs(e, SHM_STATE_SB_RELEASE) || StateIs(e, SHM_STATE_RELEASE)) {
      if (m_eKind == KELO_BACKEND_SECOND) Claim(e, own.text, SHM_STATE_RESERVED);
      return v() ? 0 : 4;
    } else if (StateIs(e, SHM_STATE_REQUEST)) {
      if (m_eKind == KELO_BACKEND_SECOND) {
        if (!PidIs(e, own.text) && CheckPidIsRunnable(pid.text)) {
          WriteLog(LOG_LEVEL_DEBUG, kCreateTag, "device is requested by another process");
          return v() ? 3 : 4;
        }
        Claim(e, own.text, SHM_STATE_RESERVED);
      }
    } else if (StateIs(e, SHM_STATE_RESERVED)) {
      if (pid.text[0] != '\0' && CheckPidIsRunnable(pid.text)) {
        WriteLog(LOG_LEVEL_DEBUG, kCreateTag, "device is reserved by a running process");
        return v() ? 3 : 4;
      }
      Claim(e, own.text, SHM_STATE_REQUEST);
    }
  } else {
    // A record found for an earlier name says nothing about this one: wait
    // on it and this device would be opened without a record of its own.
    m_iEntryIndex = -1;
  }
  if (!v()) return 4;

  if (m_iEntryIndex != -1) return WaitForDaemon() ? 0 : 4;
  return TakeFreeEntry(devName, own.text);
}

bool CExclusiveTable::WaitForDaemon() {
  for (int i = 0; i < kDaemonWaitTries; ++i) {
    if (!p()) return false;
    SHM_DEVICE_ENTRY& e = m_pDevEntry[m_iEntryIndex];
    if (StateIs(e, SHM_STATE_SB_RELEASE)) {
      SetField(e.szState, SHM_STATE_SIZE, SHM_STATE_RESERVED);
      return v();
    }
    if (!v()) return false;
    usleep(kDaemonWaitPause);
  }
  // The daemon did not answer; the USB open itself will tell.
  WriteLog(LOG_LEVEL_DEBUG, kCreateTag, "no answer from the scan button process");
  return true;
}

int CExclusiveTable::TakeFreeEntry(const char* devName, const char* ownPid) {
  if (!p()) return 4;
  for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT; ++i) {
    SHM_DEVICE_ENTRY& e = m_pDevEntry[i];
    PidText pid(e);
    if (e.szDevName[0] != '\0' && pid.text[0] != '\0' && CheckPidIsRunnable(pid.text)) continue;
    SetField(e.szDevName, SHM_DEVICE_NAME_SIZE, devName);
    Claim(e, ownPid, SHM_STATE_RESERVED);
    if (!v()) return 4;
    m_iEntryIndex = i;
    return 0;
  }
  WriteLog(LOG_LEVEL_ERROR, kCreateTag, "no free record");
  return v() ? 10 : 4;
}

bool CExclusiveTable::DeleteControlFile(const char* /*devName*/) {
  CLogScope scope("KeloManagerUsb::DeleteControlFile");
  if (m_pDevEntry == nullptr) return false;
  if (!p()) return false;
  OwnPid own;
  if (m_iEntryIndex != -1) {
    SHM_DEVICE_ENTRY& e = m_pDevEntry[m_iEntryIndex];
    if (PidIs(e, own.text)) {
      memset(e.szPid, 0, SHM_PID_SIZE);
      if (m_eKind == KELO_BACKEND_MAIN || StateIs(e, SHM_STATE_RESERVED))
        SetField(e.szState, SHM_STATE_SIZE, SHM_STATE_RELEASE);
    }
  }
  return v();
}
