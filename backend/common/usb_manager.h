// The USB manager: finds the configured scanners over libusb, opens one
// (taking it in the exclusive-access table first) and moves bulk and
// control transfers with one settable time-out.
//
// One class serves both backends; the kind given at construction selects
// the main backend's differences (messages, Close ending the libusb use,
// exclusive-table answers).
#ifndef DRAVN_COMMON_USB_MANAGER_H
#define DRAVN_COMMON_USB_MANAGER_H

#include <libusb.h>

#include "exclusive_table.h"

struct KELO_USB_DEVICE {
  char* sscDevName;        // "<model>:<bus>:<address>", owned by the list node
  const char* sscDevType;  // texts of the backend's device-table row
  int iVendorId;
  int iProductId;
  const char* sscVendor;
  const char* sscModel;
  int iOutEndpoint;
  int iInEndpoint;
  libusb_device* ptDevice;
  libusb_device_handle* ptHandle;
  int iConfigIndex;
  int iInterfaceIndex;
};

struct KELO_USB_DEVICE_NODE {
  KELO_USB_DEVICE_NODE* next;
  KELO_USB_DEVICE tDevice;
  int iStale;
};

// What a backend's device table says of one (vendor, product) pair. The
// texts must live as long as the manager (they point into a static table).
struct KELO_DEVICE_ROW_TEXTS {
  const char* pszModel;
  const char* pszType;
  const char* pszVendor;
};
// True when the table has a row for the pair; each backend plugs in its own.
using KELO_DEVICE_ROW_LOOKUP = bool (*)(int vendorId, int productId, KELO_DEVICE_ROW_TEXTS* row);

constexpr int KELO_MAX_USB_DEVICE = 100;
constexpr int KELO_USB_OUT_ENDPOINT = 0x02;
constexpr int KELO_USB_IN_ENDPOINT = 0x81;
constexpr int KELO_USB_DEFAULT_TIMEOUT = 120000;

class KeloManagerUsb {
 public:
  explicit KeloManagerUsb(KELO_DEVICE_ROW_LOOKUP lookup, KeloBackendKind kind = KELO_BACKEND_SECOND);
  virtual ~KeloManagerUsb();
  KeloManagerUsb(const KeloManagerUsb&) = delete;
  KeloManagerUsb& operator=(const KeloManagerUsb&) = delete;

  int GetDeviceList(int* count);
  KELO_USB_DEVICE* GetDevice(int index);
  int Open(const char* devName);
  void Close();
  int RawWriteData(unsigned char* buffer, unsigned int length);
  int RawReadData(unsigned char* buffer, unsigned int length, unsigned int* count);
  int SendControlMsg(unsigned char* buffer, unsigned int length);
  void SetUsbTimeOut(int milliseconds) { m_iTimeOut = milliseconds; }
  int GetVendor() const { return m_tKeloDev[m_iCurIndex].iVendorId; }
  int GetProductID() const { return m_tKeloDev[m_iCurIndex].iProductId; }
  void ReleaseLibusbResource();
  // A device is open through this manager.
  bool IsOpen() const { return HasHandle(); }
  bool InitSystemToolPath();
  // Product id of a listed device, 0 when none has the name (main backend).
  unsigned int SwitchScanner(const char* devName);

  int StartExcusive(const char* devName);
  bool EndExcusive(const char* devName);
  bool InitShareMemory() { return m_tExclusive.InitShareMemory(); }
  void ReleaseShareMemory() { m_tExclusive.ReleaseShareMemory(); }
  bool p() { return m_tExclusive.p(); }
  bool v() { return m_tExclusive.v(); }
  int CreateControlFile(const char* devName) { return m_tExclusive.CreateControlFile(devName); }
  bool DeleteControlFile(const char* devName) { return m_tExclusive.DeleteControlFile(devName); }
  bool CheckPidIsRunnable(const char* pidText) { return ::CheckPidIsRunnable(pidText); }

  const char* GetPsPath() const { return m_szPsPath; }
  const char* GetGrepPath() const { return m_szGrepPath; }

 private:
  void ReverseDevInfo();
  void FreeDeviceList();
  KELO_USB_DEVICE_NODE* FindNode(const char* devName);
  bool HasHandle() const;
  void ForgetHandle();
  void CloseCurrent();

  int m_iCurIndex = 0;
  int m_iDevNum = 0;
  int m_iTimeOut = KELO_USB_DEFAULT_TIMEOUT;
  KELO_USB_DEVICE_NODE* m_pDevList = nullptr;
  KELO_USB_DEVICE m_tKeloDev[KELO_MAX_USB_DEVICE];
  libusb_device** m_ptUsbDevList = nullptr;
  char m_szPsPath[256] = {};
  char m_szGrepPath[256] = {};
  CExclusiveTable m_tExclusive;

  KELO_DEVICE_ROW_LOOKUP m_pfnLookup;
  KeloBackendKind m_eKind;
  bool m_bLibusbInit = false;  // one libusb_init held on the default context
};

#endif
