// The application side of the exclusive-access table: ask the scan-button
// daemon to let go of a device, then hold the device's record until the
// tool is done.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "exclusive_key.h"
#include "scanner_ctrl.h"

namespace devwatch {
namespace {

constexpr int kWaitTries = 400;
constexpr unsigned kWaitPause = 10000;  // µs: 400 tries make about 4 s

void SleepPause(unsigned microseconds) { usleep(microseconds); }
ExclusivePauseFn g_pfnPause = SleepPause;

void SetField(char* field, size_t size, const char* text) {
  memset(field, 0, size);
  memcpy(field, text, strnlen(text, size - 1));
}

bool StateIs(const SHM_DEVICE_ENTRY& e, const char* state) { return ShmFieldEquals(e.szState, SHM_STATE_SIZE, state); }
bool PidIs(const SHM_DEVICE_ENTRY& e, const char* pid) { return ShmFieldEquals(e.szPid, SHM_PID_SIZE, pid); }

void Write(SHM_DEVICE_ENTRY& e, const char* pid, const char* state) {
  SetField(e.szPid, SHM_PID_SIZE, pid);
  SetField(e.szState, SHM_STATE_SIZE, state);
}

// The owner named by a record, as a text sure to end within the copy.
struct OwnerText {
  char text[SHM_PID_SIZE + 1];
  explicit OwnerText(const SHM_DEVICE_ENTRY& e) {
    memcpy(text, e.szPid, SHM_PID_SIZE);
    text[SHM_PID_SIZE] = '\0';
  }
  bool Gone() const { return text[0] == '\0' || !CheckPidIsRunnable(text); }
};

}  // namespace

void SetExclusivePause(ExclusivePauseFn pause) { g_pfnPause = pause ? pause : SleepPause; }

int CMqScannerCtrl::StartExcusive(const char* name) {
  if (!name) name = GetCurrentDeviceName();
  return CreateControlFile(name);
}

int CMqScannerCtrl::EndExcusive(const char* name) {
  if (!name) name = GetCurrentDeviceName();
  // The in-scanner lock that the calls of the exclusive run kept ends with
  // the run.
  if (m_Selko2.IsLocked()) {
    const bool wasOpen = IsOpen();
    if (wasOpen || DoDeviceOpen() == 0) {
      GiveBackSelko2Lock();
      if (!wasOpen) DoDeviceClose();
    }
  }
  return DeleteControlFile(name);
}

int CMqScannerCtrl::CreateControlFile(const char* name) {
  // Every call starts afresh: a record remembered from an earlier device
  // must never be waited on for this one.
  m_iSlot = -1;
  char key[SHM_DEVICE_NAME_SIZE];
  m_bKeyRefused = !MakeExclusiveKey(name, key);
  if (m_bKeyRefused) return 0;
  if (!m_tTable.InitShareMemory()) return 0;
  if (TakeRecord(name, key) == 1) return 1;
  // A refusal holds nothing, not even the table.
  m_iSlot = -1;
  m_tTable.ReleaseShareMemory();
  return 0;
}

int CMqScannerCtrl::TakeRecord(const char* name, const char* key) {
  SHM_DEVICE_ENTRY* slots = m_tTable.GetEntry();
  char pid[16];
  snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
  if (!m_tTable.p()) return 0;

  int slot = -1;
  for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT && slot < 0; ++i)
    if (ShmFieldEquals(slots[i].szDevName, SHM_DEVICE_NAME_SIZE, key)) slot = i;

  if (slot < 0) {
    // A new record, taken under the same hold as the search so that no
    // other process can make one for the device meanwhile.
    for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT && slot < 0; ++i) {
      if (slots[i].szDevName[0] != '\0' && !OwnerText(slots[i]).Gone()) continue;
      SetField(slots[i].szDevName, SHM_DEVICE_NAME_SIZE, key);
      Write(slots[i], pid, SHM_STATE_RESERVED);
      slot = i;
    }
    if (!m_tTable.v() || slot < 0) return 0;
    m_iSlot = slot;
    return 1;
  }

  SHM_DEVICE_ENTRY& e = slots[slot];
  OwnerText owner(e);
  bool wait = true;
  bool takeWhenSilent = false;
  if (StateIs(e, SHM_STATE_SB_RESERVED)) {
    Write(e, pid, SHM_STATE_REQUEST);
  } else if (StateIs(e, SHM_STATE_SB_RELEASE) || StateIs(e, SHM_STATE_RELEASE)) {
    Write(e, pid, SHM_STATE_RESERVED);
    wait = false;
  } else if (StateIs(e, SHM_STATE_REQUEST)) {
    if (!PidIs(e, pid)) {
      if (!owner.Gone()) return m_tTable.v(), 0;
      // An application died waiting: nobody may answer its request.
      Write(e, pid, SHM_STATE_REQUEST);
      takeWhenSilent = true;
    }
  } else if (StateIs(e, SHM_STATE_RESERVED)) {
    if (!owner.Gone()) return m_tTable.v(), 0;
    Write(e, pid, SHM_STATE_RESERVED);
    wait = false;
  }
  if (!m_tTable.v()) return 0;
  m_iSlot = slot;
  if (!wait) return 1;
  if (WaitForRelease(slot, takeWhenSilent, pid)) return 1;
  // A request that came to nothing is not left behind: a later caller
  // would find it and refuse.
  DeleteControlFile(name);
  return 0;
}

bool CMqScannerCtrl::WaitForRelease(int slot, bool takeWhenSilent, const char* ownPid) {
  SHM_DEVICE_ENTRY& e = m_tTable.GetEntry()[slot];
  for (int i = 0; i < kWaitTries; ++i) {
    if (!m_tTable.p()) return false;
    if (StateIs(e, SHM_STATE_SB_RELEASE)) {
      Write(e, ownPid, SHM_STATE_RESERVED);
      return m_tTable.v();
    }
    // The daemon took the device back before it saw us: ask again.
    if (StateIs(e, SHM_STATE_SB_RESERVED)) Write(e, ownPid, SHM_STATE_REQUEST);
    if (!m_tTable.v()) return false;
    g_pfnPause(kWaitPause);
  }
  if (!takeWhenSilent) return false;
  // No daemon answered a request left by a dead owner: nobody holds it.
  if (!m_tTable.p()) return false;
  bool ours = PidIs(e, ownPid) && StateIs(e, SHM_STATE_REQUEST);
  if (ours) Write(e, ownPid, SHM_STATE_RESERVED);
  return m_tTable.v() && ours;
}

int CMqScannerCtrl::DeleteControlFile(const char* /*name*/) {
  if (!m_tTable.GetEntry()) return 0;
  if (!m_tTable.p()) return 0;
  char pid[16];
  snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
  if (m_iSlot >= 0) {
    SHM_DEVICE_ENTRY& e = m_tTable.GetEntry()[m_iSlot];
    if (PidIs(e, pid)) {
      // A request left standing would make every later caller refuse.
      memset(e.szPid, 0, SHM_PID_SIZE);
      if (StateIs(e, SHM_STATE_RESERVED) || StateIs(e, SHM_STATE_REQUEST))
        SetField(e.szState, SHM_STATE_SIZE, SHM_STATE_RELEASE);
    }
  }
  bool released = m_tTable.v();
  m_iSlot = -1;
  m_tTable.ReleaseShareMemory();
  return released ? 1 : 0;
}

}  // namespace devwatch
