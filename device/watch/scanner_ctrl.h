// The library's own scanner transport: the device list (dravn.conf pairs
// matched against the USB devices), open and close, bulk transfers, the
// 31-byte command block and 13-byte status block of the generic family,
// the routing of each request to its family, and the exclusive-access
// table's application side.
#ifndef DRAVN_DEVWATCH_SCANNER_CTRL_H
#define DRAVN_DEVWATCH_SCANNER_CTRL_H

#include <libusb.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "brenna_func.h"
#include "exclusive_table.h"
#include "selko2_exchange.h"
#include "selko2_func.h"
#include "selko_exchange.h"
#include "watch_table.h"

namespace devwatch {

constexpr int MQ_MAX_DEVICES = 100;
constexpr int MQ_MAX_CONFIG_PAIRS = 100;
constexpr size_t MQ_DEVICE_STRING_SIZE = 1024;

// One matching USB interface.
struct MQ_DEVICE_ENTRY {
  char szDevName[MQ_DEVICE_STRING_SIZE];
  const char* pszType;
  uint32_t dwVendorId;
  uint32_t dwProductId;
  const char* pszVendor;
  const char* pszModel;
  uint32_t dwOutEndpoint;
  uint32_t dwInEndpoint;
  libusb_device* ptDevice;
  libusb_device_handle* ptHandle;
  int iConfigIndex;
  int iInterfaceNumber;
  WatchRoute eRoute;
};

// The pause between two looks at the table while a peer is asked to let
// go; tests put a clock of their own in its place.
using ExclusivePauseFn = void (*)(unsigned microseconds);
void SetExclusivePause(ExclusivePauseFn pause);
// The pause between the Selko connect and terminate tries, likewise.
void SetSelkoPause(ExclusivePauseFn pause);

class CMqScannerCtrl : private Selko2Transport, private SelkoTransport, private BrennaLink {
 public:
  explicit CMqScannerCtrl(uint32_t& lastError);
  virtual ~CMqScannerCtrl();
  CMqScannerCtrl(const CMqScannerCtrl&) = delete;
  CMqScannerCtrl& operator=(const CMqScannerCtrl&) = delete;

  virtual int Inquiry(unsigned char* buffer, unsigned char length);
  virtual int Inquiry(int kind, unsigned char* buffer, unsigned length);
  virtual int InquiryEX(unsigned char* buffer, unsigned char length);
  virtual int TestUnitReady();
  virtual int GetHardwareStatus(unsigned char* buffer, unsigned short length);
  virtual int GetHardwareStatus4(unsigned char* buffer, unsigned short length);
  virtual int SendDiagnostic(unsigned char* buffer, unsigned short length);
  virtual int ReceiveDiagnosticResult(unsigned char* buffer, unsigned short length);
  virtual int DeviceRestart();
  virtual int RawWriteCommand(const void* cdb, unsigned length);
  virtual int RawWriteData(const void* buffer, unsigned length);
  virtual int RawReadData(void* buffer, unsigned length, unsigned* count);
  virtual int RawReadStatus(void* status);

  // The device list.
  int GetDeviceList();
  int GetDeviceTotalNum() const { return m_iDevCount; }
  const char* GetDeviceName(int index) const;
  const char* GetCurrentDeviceName() const;
  int Find(const char* text);
  int OpenFirstDevice();
  int DoDeviceOpen();
  void DoDeviceClose();
  bool IsOpen() const;
  const MQ_DEVICE_ENTRY* CurrentEntry() const;

  void SetTimeOut(unsigned milliseconds) override { m_dwTimeOut = milliseconds; }
  unsigned GetTimeOut() const { return m_dwTimeOut; }
  int SendControlMsg(unsigned char* buffer, unsigned length);
  // One command block of the generic family with its data phase (in or
  // out, none when `length` is 0): 1 when every transfer completed, the
  // status byte left in *status.
  int CommandBlock(const unsigned char* cdb, unsigned cdbLength, bool dataIn, void* data, unsigned length,
                   unsigned char* status);
  int RequestSense(unsigned char* buffer, unsigned length);

  // Tools of the old liveness test: 1 both found, 0 only grep, -1 only ps,
  // -2 neither.
  int InitSystemToolPath();
  const char* GetPsPath() const { return m_szPsPath; }
  const char* GetGrepPath() const { return m_szGrepPath; }
  // Whether a process runs, named by its id or its program name: 1 or 0;
  // prints "ps command error" when the process table cannot be asked.
  int IsActive(const char* name);

  // The exclusive-access table.
  int StartExcusive(const char* name);
  int EndExcusive(const char* name);
  int CreateControlFile(const char* name);
  int DeleteControlFile(const char* name);
  bool KeyRefused() const { return m_bKeyRefused; }

  // Adapter fields of an older interface; kept, never used.
  void SetHostAdapterNo(int n) { m_iHostAdapter = n; }
  void SetScsiID(int n) { m_iScsiId = n; }
  void SetLogicalUnitNo(int n) { m_iLun = n; }
  int GetAspiStatus() const { return m_ucAspiStatus; }
  int GetHostAdapterStatus() const { return m_ucHostStatus; }
  int GetTargetStatus() const { return m_ucTargetStatus; }

  // The Selko family's requests: the diagnostic texts answered from the
  // maintenance parameters, and the stored inquiry answers (standard, or
  // the vital product data), each inside one connection.
  int SelkoSendDiagnostic(const unsigned char* buffer, unsigned length);
  int SelkoReceiveDiagnosticResult(unsigned char* buffer, unsigned length);
  int SelkoInquiry(bool vpd, unsigned char* buffer, unsigned length);

  CSelko2ScanFunc& Selko2() { return m_Selko2; }
  CBrennaScanFunc& Brenna() { return m_Brenna; }

 protected:
  WatchRoute CurrentRoute() const;

 private:
  // One command of the generic family: CDB, data phase, status.
  enum class Phase { None, In, Out };
  bool Exec(const unsigned char* cdb, unsigned cdbLength, Phase phase, void* data, unsigned length,
            unsigned char* status);
  // Hands a CDB to the current device's family object; false for the
  // generic family, which takes the command block.
  bool RouteToFamily(const unsigned char* cdb, unsigned char* buffer, unsigned length, int* result);
  int GenericInquiry(unsigned char page, unsigned char evpd, unsigned char* buffer, unsigned char length);
  int BuildDeviceList();
  void FreeDeviceList();
  // The record of `key` for this process: 1 taken, 0 refused.
  int TakeRecord(const char* name, const char* key);
  bool WaitForRelease(int slot, bool takeWhenSilent, const char* ownPid);

  // The Selko steps; the parameter and image steps answer 0 ok, 2 failure.
  bool SelkoConnect();
  bool SelkoTerminate();
  bool SelkoCommand(unsigned char code, unsigned char sub, const unsigned char* out, uint32_t length,
                    std::vector<unsigned char>* reply);
  int GetMaintenanceParam(unsigned char* buffer, uint16_t address, uint16_t length);
  int SetMaintenanceParam(const unsigned char* bytes, uint16_t address, uint16_t length);
  int SelkoGetFirmVersion(unsigned char* buffer, unsigned length);
  int SelkoGetEEPROMData(unsigned char* image, unsigned length);
  int SelkoSetEEPROMData(const unsigned char* image, unsigned length);
  // Connect, `step` up to ten times 1 s apart and once more with 15 s,
  // terminate: 1 at the first success.
  template <typename Step>
  int SelkoWithRetries(Step step);

  // SelkoTransport.
  bool SelkoPipeReady();
  bool BulkOut(const unsigned char* data, uint32_t length, SelkoPhase phase) override;
  bool BulkIn(unsigned char* data, uint32_t length, SelkoPhase phase) override;

  // Selko2Transport, and BrennaLink's bulk OUT.
  bool BulkOut(const unsigned char* data, uint32_t length) override;
  int BulkIn(unsigned char* data, uint32_t length) override;
  bool ResetPipe() override;

  // BrennaLink.
  bool SendBlock(unsigned char* block) override;
  bool BulkIn(unsigned char* data, uint32_t length, uint32_t* count) override;

  int m_iHostAdapter = 0, m_iScsiId = 0, m_iLun = 0;
  unsigned char m_ucAspiStatus = 0, m_ucHostStatus = 0, m_ucTargetStatus = 0;
  int m_iSelkoConnected = 0;
  bool m_bSelkoPipeBroken = false;
  unsigned char m_ucSelkoStatus = 2;
  unsigned char m_szSelkoDiagText[16] = {};
  int m_iCurIndex = 0;
  unsigned m_dwTimeOut = 15000;
  std::unique_ptr<MQ_DEVICE_ENTRY[]> m_tDevices;
  int m_iDevCount = 0;
  bool m_bLibusbStarted = false;
  libusb_device** m_ptUsbList = nullptr;
  char m_szPsPath[256] = {};
  char m_szGrepPath[256] = {};
  // The slot this process holds, from StartExcusive to EndExcusive.
  int m_iSlot = -1;
  bool m_bKeyRefused = false;
  CExclusiveTable m_tTable{KELO_BACKEND_SECOND};
  CBrennaScanFunc m_Brenna;
  CSelko2ScanFunc m_Selko2;
};

class CMqExpScannerCtrl : public CMqScannerCtrl {
 public:
  using CMqScannerCtrl::CMqScannerCtrl;
  int Inquiry(unsigned char* buffer, unsigned char length) override { return CMqScannerCtrl::Inquiry(buffer, length); }
  int Inquiry(int kind, unsigned char* buffer, unsigned length) override {
    return CMqScannerCtrl::Inquiry(kind, buffer, length);
  }
  int InquiryEX(unsigned char* buffer, unsigned char length) override {
    return CMqScannerCtrl::InquiryEX(buffer, length);
  }
  int TestUnitReady() override { return CMqScannerCtrl::TestUnitReady(); }
  int GetHardwareStatus(unsigned char* buffer, unsigned short length) override {
    return CMqScannerCtrl::GetHardwareStatus(buffer, length);
  }
  int GetHardwareStatus4(unsigned char* buffer, unsigned short length) override {
    return CMqScannerCtrl::GetHardwareStatus4(buffer, length);
  }
  using CMqScannerCtrl::ReceiveDiagnosticResult;
  using CMqScannerCtrl::SendDiagnostic;
  virtual int SendDiagnostic(unsigned char* buffer, unsigned short length, int /*mode*/) {
    return CMqScannerCtrl::SendDiagnostic(buffer, length);
  }
  virtual int ReceiveDiagnosticResult(unsigned char* buffer, unsigned short length, int /*mode*/) {
    return CMqScannerCtrl::ReceiveDiagnosticResult(buffer, length);
  }

  // Kept for callers of an older interface; nothing in the library reads them.
  void SetSpotMode(int mode) { m_iSpotMode = mode; }
  int GetSpotMode() const { return m_iSpotMode; }
  void SetLegacyMode(int mode) { m_iLegacyMode = mode; }
  int GetLegacyMode() const { return m_iLegacyMode; }

 private:
  int m_iSpotMode = 0;
  int m_iLegacyMode = 1;
};

}  // namespace devwatch

#endif
