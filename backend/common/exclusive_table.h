// The exclusive-access table: one System V shared-memory segment, guarded by
// one semaphore, in which the backends, libdevwatch and the scan-button
// daemon agree who holds which scanner.
#ifndef DRAVN_COMMON_EXCLUSIVE_TABLE_H
#define DRAVN_COMMON_EXCLUSIVE_TABLE_H

#include <sys/sem.h>
#include <sys/types.h>

#include <cstddef>

// The table lives under the first usable key of ten.
constexpr key_t SHM_EXCLUSIVE_FIRST_KEY = 0x43A0D0;
constexpr int SHM_EXCLUSIVE_KEY_COUNT = 10;

constexpr int SHM_DEVICE_NAME_SIZE = 30;
constexpr int SHM_PID_SIZE = 10;
constexpr int SHM_STATE_SIZE = 15;
constexpr int SHM_DEVICE_ENTRY_COUNT = 8;

extern const char SHM_EXCLUSIVE_MAGIC[];  // "DravnExcusive"

// State words. The daemon writes the first two, everyone else the rest.
extern const char SHM_STATE_SB_RESERVED[];
extern const char SHM_STATE_SB_RELEASE[];
extern const char SHM_STATE_REQUEST[];
extern const char SHM_STATE_RESERVED[];
extern const char SHM_STATE_RELEASE[];

// One record; every text is NUL-terminated within its field, but a field
// written by another process is never trusted to be.
struct SHM_DEVICE_ENTRY {
  char szDevName[SHM_DEVICE_NAME_SIZE];
  char szPid[SHM_PID_SIZE];
  char szState[SHM_STATE_SIZE];
};

struct SHM_EXCLUSIVE_TABLE {
  char szMagic[14];
  SHM_DEVICE_ENTRY tEntry[SHM_DEVICE_ENTRY_COUNT];
};

static_assert(sizeof(SHM_DEVICE_ENTRY) == 55, "record layout is shared with other programs");
static_assert(sizeof(SHM_EXCLUSIVE_TABLE) == 454, "segment layout is shared with other programs");
static_assert(offsetof(SHM_EXCLUSIVE_TABLE, tEntry) == 14, "records follow the magic");

// The two backends answer some states differently.
enum KeloBackendKind { KELO_BACKEND_SECOND, KELO_BACKEND_MAIN };

// Whether the process named by a record's pid text runs. Only 2 to 10
// decimal digits name a process; anything else is a dead owner.
bool CheckPidIsRunnable(const char* pidText);

// True when a field of `size` bytes holds exactly `text`.
bool ShmFieldEquals(const char* field, size_t size, const char* text);

// This process's attachment to the table.
class CExclusiveTable {
 public:
  explicit CExclusiveTable(KeloBackendKind kind);
  ~CExclusiveTable();
  CExclusiveTable(const CExclusiveTable&) = delete;
  CExclusiveTable& operator=(const CExclusiveTable&) = delete;

  bool InitShareMemory();
  void ReleaseShareMemory();
  bool p();
  bool v();
  // SANE status: 0 good, 3 busy, 4 semaphore failure or unusable name,
  // 10 no record free.
  int CreateControlFile(const char* devName);
  bool DeleteControlFile(const char* devName);

  SHM_DEVICE_ENTRY* GetEntry() const { return m_pDevEntry; }
  int GetEntryIndex() const { return m_iEntryIndex; }
  // The segment's id and its header, for the scan-button daemon, which
  // watches the segment itself.
  int GetShmId() const { return m_iShmId; }
  SHM_EXCLUSIVE_TABLE* GetTable() const { return static_cast<SHM_EXCLUSIVE_TABLE*>(m_pShmAddr); }

 private:
  bool WaitForDaemon();
  int TakeFreeEntry(const char* devName, const char* ownPid);

  KeloBackendKind m_eKind;
  int m_iShmId = -1;
  int m_iSemId = -1;
  void* m_pShmAddr = nullptr;
  SHM_DEVICE_ENTRY* m_pDevEntry = nullptr;
  int m_iEntryIndex = -1;
};

#endif
