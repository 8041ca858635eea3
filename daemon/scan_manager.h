// The scan-button daemon: it holds the first supported scanner for itself
// while nobody else wants it, watches its button and starts scanimage on a
// press. Its parts share the state declared here.
#ifndef DRAVN_DAEMON_SCAN_MANAGER_H
#define DRAVN_DAEMON_SCAN_MANAGER_H

#include <libusb.h>
#include <pthread.h>

#include <cstdint>
#include <ctime>

#include "exclusive_table.h"

// --- device table and active-device list ------------------------------------

struct KELO_DEVICE_OPTION_CONTROL {
  uint32_t dwVendorId;
  uint32_t dwProductId;
  const char* pszVendor;
  const char* pszType;
  const char* pszModel;
  int iDeviceType;
};

constexpr int DEVICE_TABLE_ROWS = 10;
extern const KELO_DEVICE_OPTION_CONTROL g_tDeviceTable[DEVICE_TABLE_ROWS];

// How a row's scan button is read.
enum ButtonKind { BUTTON_BY_HARDWARE_STATUS, BUTTON_BY_INTERRUPT, BUTTON_BY_INTERRUPT_EVENT, BUTTON_BY_COMMAND };
ButtonKind ButtonKindOf(int deviceType);
bool NeedsFirstReadDate(int deviceType);

// Row of the device table for the ids, or null; *index gets its place.
const KELO_DEVICE_OPTION_CONTROL* GetDevCtlByDevInfo(uint32_t vendorId, uint32_t productId, int* index);

struct ACTIVE_DEVICE {
  char* pszDevName;  // owned
  const char* pszType;
  uint32_t dwVendorId;
  uint32_t dwProductId;
  const char* pszVendor;
  const char* pszModel;
  uint32_t dwBulkOut;
  uint32_t dwBulkIn;
  uint32_t dwIntIn;
  libusb_device* ptDevice;
  libusb_device_handle* ptHandle;
  int iConfig;
  int iInterface;
  int iDeviceType;
};

constexpr int ACTIVE_DEVICE_MAX = 100;
extern ACTIVE_DEVICE g_taActiveDevList[ACTIVE_DEVICE_MAX];
extern int g_iDeviceNum;
extern libusb_context* g_ptUsbContext;
extern libusb_device** g_tpUsbDeviceList;

// 1 and the count in *count, or 0 when no device qualifies.
int GetDeviceList(int* count);
// Qualifying devices, each counted once, without touching the list.
int GetDeviceNumber();
void DoReleaseDevice(int index);
void DoReleaseAllDevice();
// Frees the list's strings, the libusb list and the context.
void FreeDeviceList();
// Opens record `index` and claims its interface: 1 ok, 0 open failure,
// -1 claim failure (the handle is closed again).
int DoOpenDevice(int index);

// --- button and first-read date ---------------------------------------------

int CheckButtonStatus(int index);  // 1 pressed, 0 not, -1 failure
int GetScanButtonStatusByInterrupt(int index);
int GetScanButtonStatusByInterruptEvent(int index);
int GetScanButtonStatusByCommand(int index);
int GetScanButtonStatusByHardwareStatus(int index);
int SetFirstReadDate(int index);
int GetSelfTestDate(uint8_t* year, uint8_t* month, uint8_t* day, int index);
int SetSelfTestDate(uint8_t year, uint8_t month, uint8_t day, int index);
int RawWriteData(const unsigned char* data, int length, int index);
int RawReadData(unsigned char* data, int length, int* count, int index);
int RawWriteCommand(const unsigned char* cdb, int length, int index);
int RawReadStatus(unsigned char* status, int index);
int DoScanButtonRecieve(unsigned char* data, int length, int index);
int RawReadInterruptData(unsigned char* data, int length, int* count, int index);

// --- scan launch ------------------------------------------------------------

constexpr int SUBPROC_ENV_SLOTS = 256;
constexpr int SCAN_ARGV_SLOTS = 1024;
extern char* g_caSubProcEnv[SUBPROC_ENV_SLOTS];
extern char g_caScanImagePath[256];
extern char g_caPsPath[256];
extern char g_caGrepPath[256];
// Where the launch finds its configuration ("<dir>/" + file name) and
// writes its status log; the installed paths unless a test moves them.
extern const char* g_pszScanConfDir;
extern const char* g_pszScanLogDir;

void InitSubProcessEnviron();
void DoReleaseSubProcessEnviron();
void DoScan(const char* imageRoot, const char* devName);
int ReadScanButtonConfFile(const char* path, char* buffer, size_t size);
void WriteScanbuttonLog(int status);
// The backends' log has folder helpers of these names that follow links;
// the daemon's own never do.
namespace scanbutton {
int CreateFolder(const char* path);
int CheckFolder(const char* path);
}  // namespace scanbutton
const char* getStrstatus(int status);
int DirectoryIsNull(const char* path);
void ModifyFilePermission(const char* path);
// Splits the configuration line into argv slots 1 onward; slot 0 is the
// scanimage path. Null-terminated; the strings point into `line`.
int BuildScanArgv(char* line, const char* devArg, char* argv[SCAN_ARGV_SLOTS]);

// --- lifecycle and arbitration ----------------------------------------------

extern char g_szCurrentPid[256];
extern pthread_mutex_t g_mutex;
extern CExclusiveTable g_tShareMemory;
extern const char* g_pszPidFile;

int InitSystemToolPath();
int CheckIsRunnable();
int CheckIsPIDFileExist();
int StartButtonMonitor();
void* GetDeviceHandle(void*);
void* ScanButtonMonitor(void*);
key_t GetShareMemoryKey();
void ClearOwnReservations();
// Waits, in short naps and for at most 15 s, while the button is held as
// the daemon takes the scanner: 1 let go or waited out, 0 a failed read.
int WaitOutHeldButton();
char* StrTrim(char* text);
int ScanButtonMain();
// The end of the run: device released, the system-log line when the table
// was deleted under the daemon, table and lists given back.
void EndScanButton();
// Process checks that nothing calls in the daemon (callers of the package
// may): a front end or the launcher runs.
int IsDriverInUse();
int IsSOPActive();

// Test seams: time and sleeping (the 300 ms cycles and the 15 s bound),
// the local time that names the folders, and the system log.
struct ScanButtonSeams {
  void (*sleepUs)(unsigned long us);
  long long (*monotonicUs)();
  void (*localTime)(struct tm* out);
  void (*systemLog)(const char* text);
};
extern ScanButtonSeams g_tSeams;

#endif
