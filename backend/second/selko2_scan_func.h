// The device class of the Selko2 family: its command protocol, the lock the
// scanner keeps for one owner, the NVRAM first-read date and the per-device
// status file through which a later process learns the last error.
#ifndef DRAVN_SECOND_SELKO2_SCAN_FUNC_H
#define DRAVN_SECOND_SELKO2_SCAN_FUNC_H

#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "image_params.h"
#include "prop_info.h"
#include "selko2_command.h"
#include "selko2_error.h"

// The 260-byte scan-parameter record, process-wide, owned by the object.
extern unsigned char* g_pScanParameterExt;

// LockScanner answers.
enum : uint16_t { RET_LOCKED = 0, RET_ALREADY_LOCKED = 1, RET_NOT_CONNECT = 2 };

class CSelko2ScanFunc {
 public:
  CSelko2ScanFunc();
  ~CSelko2ScanFunc();
  CSelko2ScanFunc(const CSelko2ScanFunc&) = delete;
  CSelko2ScanFunc& operator=(const CSelko2ScanFunc&) = delete;

  // False when the scan-parameter record could not be allocated: such an
  // object can do nothing and is not kept.
  bool IsUsable() const { return g_pScanParameterExt != nullptr; }

  // Device-class contract of the entry points.
  SANE_Status InitDevice();
  SANE_Status Start();
  void SetReadImgBufSize();
  SANE_Status ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
  void Cancel();

  // Transaction steps and their logged wrappers.
  bool USBSendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status);
  bool USBSendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status);
  bool USBSendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status);
  bool USBSendCommandNoData(_FCL_CMD* command);
  bool USBSendData(const unsigned char* data, uint32_t length);
  bool USBGetData(unsigned char* data, uint32_t length);
  bool SendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status);
  bool SendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status);
  bool SendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status);
  bool SendCommandNoData(_FCL_CMD* command);
  bool SendData(const unsigned char* data, uint32_t length);
  bool GetData(unsigned char* data, uint32_t length);

  // Device status.
  bool GetScannerStatus(unsigned char* data, uint32_t size);
  bool GetHardwareStatus(unsigned char* out);
  bool GetCurrentScannerStatus(unsigned char* data, uint32_t* lastErr);
  bool ObjectPosition();
  bool CancelRead();

  // The scan-parameter record.
  bool InitScanParameter();
  bool ModeSelect();
  bool SetWindow();

  // The in-scanner lock.
  uint16_t LockScanner();
  bool UnLockScanner();

  // NVRAM and the first-read date.
  bool GetNVRAM(unsigned char* block);
  bool SetNVRAM(const unsigned char* block);
  bool SetFirstReadDate();

  // The per-device status file.
  void SetDeviceShmPath(const char* deviceName);
  const char* GetDeviceShmPath() const { return m_szDeviceShmPath; }
  bool WriteSCErrorInfo();
  bool ReadSCErrorInfo(uint32_t* value, uint32_t* lastErr);

  // Translations of a last-error code.
  SANE_Status ConvertToSaneErr(uint32_t code);
  bool GetErrorCode(uint32_t code, uint8_t* out);
  bool SetSenseError(uint32_t code, Selko2SenseRecord* sense);
  bool SetSenceCode(Selko2SenseRecord* sense, uint8_t key, uint8_t code, uint8_t qualifier);
  void setDwLastErr(uint32_t code) { m_dwLastErr = code; }
  uint32_t getDwLastErr() const { return m_dwLastErr; }

  // Geometry of the half pages and the merged page, as the options give it.
  void SetFrameGeometry(const KELO_IMAGEDATA_PARAMETERS& face, bool split, bool merge);
  KELO_IMAGEDATA_PARAMETERS GetBufferGeometry(KELO_SELKO2_BUFFER buffer) const;

  bool IsLocked() const { return m_bLocked; }
  // The time-out of every transfer that follows.
  void SetUsbTimeOut(int milliseconds);

  // Read and written from the signal handler and, while a batch runs, from
  // two threads.
  std::atomic<uint32_t> m_bIsCancel{0};
  std::atomic<uint32_t> m_bScanning{0};

 private:
  bool ReadFull(unsigned char* data, uint32_t length);

  char m_szDeviceShmPath[256] = {};
  std::atomic<uint32_t> m_dwLastErr{0};
  std::atomic<uint32_t> m_bTransferEnd{1};
  std::atomic<uint32_t> m_bFirstPage{1};
  uint32_t m_bLocked = 0;
  unsigned char m_szUUID[FCL_LOCK_OWNER_SIZE] = {};
  uint32_t m_bManualFeed = 0;
  int m_iUsbTimeOut = 0;
  KELO_IMAGEDATA_PARAMETERS m_tBufferGeometry[SELKO2_MERGED + 1] = {};
  // One transaction at a time: a query from the application's thread, the
  // unlock of a signal and the scan must never interleave their transfers.
  std::recursive_mutex m_ioLock;
};

#endif
