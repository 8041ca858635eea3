// The Selko2 device class: its object, transactions, lock, first-read date and status file.
#include "selko2_scan_func.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "dravn_paths.h"
#include "log.h"
#include "second_backend.h"
#include "usb_manager.h"

unsigned char* g_pScanParameterExt = nullptr;

namespace {

constexpr int kUsbTimeOut = 5000;
// A data read gives up after this many tries that brought no byte, or once
// the scanner has sent nothing for this long.
constexpr int kGetDataTries = 1001;
constexpr long long kSilenceLimitMs = 90 * 1000;
constexpr int kAutomaticPaperSize = 12;
constexpr int kCroppingOverscan = 3;
constexpr uint8_t kAutomaticSizeBit = 0x08;
constexpr uint8_t kOverlapBit = 0x04;
// Window limits in device units (1/1200 inch).
constexpr double kOverscanUnits = 936;
constexpr double kMaxWindowUnits = 10368;
constexpr uint32_t kWidestWindowUnits = 10201;

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

void Put8(size_t offset, uint8_t v) { g_pScanParameterExt[offset] = v; }
void Put16(size_t offset, uint16_t v) { PutLe16(g_pScanParameterExt + offset, v); }
void Put32(size_t offset, uint32_t v) { PutLe32(g_pScanParameterExt + offset, v); }

}  // namespace

CSelko2ScanFunc::CSelko2ScanFunc() {
  g_pScanParameterExt = new (std::nothrow) unsigned char[FCL_SCAN_PARAM_EXT_SIZE]();
  if (!g_pScanParameterExt) LogError("CSelko2ScanFunc::CSelko2ScanFunc", "g_pScanParameterExt == NULL");
  BuildSelko2LockOwner(m_szUUID);
  InitScanParameter();
  SetUsbTimeOut(kUsbTimeOut);
}

void CSelko2ScanFunc::SetUsbTimeOut(int milliseconds) {
  m_iUsbTimeOut = milliseconds;
  if (kelo_usb_manager) kelo_usb_manager->SetUsbTimeOut(milliseconds);
}

// A batch still running when the object goes (an exit without cancel)
// must not outlive it, nor may what it holds leak. Nothing is sent.
CSelko2ScanFunc::~CSelko2ScanFunc() {
  m_bIsCancel = 1;
  m_Batch.Join();
  FreeServedPages();
  ReleaseImageData();
  delete[] g_pScanParameterExt;
  g_pScanParameterExt = nullptr;
}

// --- transaction steps -------------------------------------------------

bool CSelko2ScanFunc::USBReadStatus(unsigned char* bytes, unsigned int size, const char* function) {
  unsigned int count = 0;
  if (!kelo_usb_manager || kelo_usb_manager->RawReadData(bytes, size, &count) != 0) {
    m_dwLastErr = SELKO2_ERR_RECEIVE;
    LogError(function, "kelo_usb_manager->RawReadData failed");
    return false;
  }
  WriteUsbLog(bytes, static_cast<int>(size), USBLOG_STATUS_IN);
  return true;
}

bool CSelko2ScanFunc::USBSendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status) {
  return USBSendCommandNoData(command) &&
         USBReadStatus(status->bytes, sizeof status->bytes, "CSelko2ScanFunc::USBSendCommand");
}

bool CSelko2ScanFunc::USBSendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status) {
  return USBSendCommandNoData(command) &&
         USBReadStatus(status->bytes, sizeof status->bytes, "CSelko2ScanFunc::USBSendCommandExt");
}

bool CSelko2ScanFunc::USBSendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status) {
  return USBSendCommandNoData(command) &&
         USBReadStatus(status->bytes, sizeof status->bytes, "CSelko2ScanFunc::USBSendAbortCommand");
}

bool CSelko2ScanFunc::USBSendCommandNoData(_FCL_CMD* command) {
  if (!command || !kelo_usb_manager || kelo_usb_manager->RawWriteData(command->bytes, sizeof command->bytes) != 0) {
    m_dwLastErr = SELKO2_ERR_SEND;
    LogError("CSelko2ScanFunc::USBSendCommandNoData", "failed to send command header");
    return false;
  }
  WriteUsbLog(command->bytes, sizeof command->bytes, USBLOG_COMMAND_OUT);
  return true;
}

bool CSelko2ScanFunc::USBSendData(const unsigned char* data, uint32_t length) {
  if (!data || !kelo_usb_manager || kelo_usb_manager->RawWriteData(const_cast<unsigned char*>(data), length) != 0) {
    m_dwLastErr = SELKO2_ERR_SEND;
    LogError("CSelko2ScanFunc::USBSendData", "failed to send command header");
    return false;
  }
  WriteUsbLog(data, static_cast<int>(length), USBLOG_DATA_OUT);
  return true;
}

// The record of the open device: the one holding a handle.
static const KELO_USB_DEVICE* OpenDeviceRecord() {
  for (int i = 0; i < g_iDevCount; ++i) {
    const KELO_USB_DEVICE* dev = kelo_usb_manager->GetDevice(i);
    if (dev && dev->ptHandle) return dev;
  }
  return nullptr;
}

// A short transfer has already taken its bytes off the pipe: keep them and
// ask only for the rest, so the stream stays aligned. Tries that bring
// nothing count against the limit, and a device that has sent no byte for
// kSilenceLimitMs ends the read however many tries are left: a time-out
// answer stands for the whole time-out it waited. A vanished device ends
// the read at once.
bool CSelko2ScanFunc::ReadFull(unsigned char* data, uint32_t length) {
  const KELO_USB_DEVICE* dev = OpenDeviceRecord();
  if (!dev || length > static_cast<uint32_t>(INT_MAX)) return false;
  uint32_t got = 0;
  int failures = 0;
  long long silentMs = 0;
  while (got < length) {
    int count = 0;
    const auto begin = std::chrono::steady_clock::now();
    int result = libusb_bulk_transfer(dev->ptHandle, static_cast<unsigned char>(dev->iInEndpoint), data + got,
                                      static_cast<int>(length - got), &count, static_cast<unsigned>(m_iUsbTimeOut));
    if (count > 0) {
      got += std::min(static_cast<uint32_t>(count), length - got);
      silentMs = 0;
    } else {
      long long spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
      if (result == LIBUSB_ERROR_TIMEOUT) spent = std::max<long long>(spent, m_iUsbTimeOut);
      silentMs += spent;
    }
    if (got == length) break;
    if (result == LIBUSB_ERROR_NO_DEVICE) return false;
    // A cancelled batch does not wait out a silent device try after try.
    if (result == LIBUSB_ERROR_TIMEOUT && m_bIsCancel) return false;
    if (silentMs >= kSilenceLimitMs) {
      LogError("CSelko2ScanFunc::USBGetData", "no data from the scanner for 90 s");
      return false;
    }
    if (count <= 0 && ++failures >= kGetDataTries) return false;
  }
  return true;
}

bool CSelko2ScanFunc::USBGetData(unsigned char* data, uint32_t length) {
  if (!data || !kelo_usb_manager || !ReadFull(data, length)) {
    // A read given up because of cancel reports the cancel, not an I/O fault.
    m_dwLastErr = m_bIsCancel ? SELKO2_ERR_CANCELLED : SELKO2_ERR_RECEIVE;
    LogError("CSelko2ScanFunc::USBGetData", "Failed_times > Fail_limit");
    return false;
  }
  WriteUsbLog(data, static_cast<int>(length), USBLOG_DATA_IN);
  return true;
}

bool CSelko2ScanFunc::SendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status) {
  CLogScope scope("CSelko2ScanFunc::SendCommand");
  return USBSendCommand(command, status);
}
bool CSelko2ScanFunc::SendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status) {
  CLogScope scope("CSelko2ScanFunc::SendCommandExt");
  return USBSendCommandExt(command, status);
}
bool CSelko2ScanFunc::SendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status) {
  CLogScope scope("CSelko2ScanFunc::SendAbortCommand");
  return USBSendAbortCommand(command, status);
}
bool CSelko2ScanFunc::SendCommandNoData(_FCL_CMD* command) {
  CLogScope scope("CSelko2ScanFunc::SendCommandNoData");
  return USBSendCommandNoData(command);
}
bool CSelko2ScanFunc::SendData(const unsigned char* data, uint32_t length) {
  CLogScope scope("CSelko2ScanFunc::SendData");
  return USBSendData(data, length);
}
bool CSelko2ScanFunc::GetData(unsigned char* data, uint32_t length) {
  CLogScope scope("CSelko2ScanFunc::GetData");
  return USBGetData(data, length);
}

bool CSelko2ScanFunc::Transact(const char* function, const Selko2Command& which, _FCL_DEVICE_STATUS* status,
                               const Selko2DataPhase& data) {
  _FCL_CMD command;
  _FCL_DEVICE_STATUS ignored{};
  CreateCommand(&command, which);
  if (!SendCommand(&command, status ? status : &ignored)) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    LogError(function, "SendCommand(&sFCLCommand, &sFCLDeviceStatus) == FALSE");
    return false;
  }
  const bool moved = data.out ? SendData(data.out, data.length) : data.in ? GetData(data.in, data.length) : true;
  if (!moved) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    LogError(function, data.failure);
  }
  return moved;
}

// --- device status -----------------------------------------------------

bool CSelko2ScanFunc::GetScannerStatus(unsigned char* data, uint32_t /*size*/) {
  const char* fn = "CSelko2ScanFunc::GetScannerStatus";
  CLogScope scope(fn);
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  _FCL_DEVICE_STATUS status{};
  if (!Transact(fn, selko2::kGetHardwareStatus, &status)) return false;
  m_dwLastErr = status.StatusCode();
  if (!status.PaperPresent()) data[3] |= 0x80;
  if (status.CoverOpen()) data[3] |= 0x20;
  return true;
}

bool CSelko2ScanFunc::GetHardwareStatus(unsigned char* out) {
  const char* fn = "CSelko2ScanFunc::GetHardwareStatus";
  CLogScope scope(fn);
  unsigned char byData[FCL_DEVICE_STATUS_SIZE] = {};
  if (!out) {
    m_dwLastErr = SELKO2_ERR_PARAM;
    LogError(fn, "ID_PARAMTER_ERR");
    return false;
  }
  if (!GetScannerStatus(byData, sizeof byData)) {
    LogError(fn, "GetScannerStatus(byData, dwSize) == FALSE");
    return false;
  }
  memcpy(out, byData, sizeof byData);
  return true;
}

bool CSelko2ScanFunc::GetCurrentScannerStatus(unsigned char* data, uint32_t* lastErr) {
  const char* fn = "CSelko2ScanFunc::GetCurrentScannerStatus";
  CLogScope scope(fn);
  if (!data || !lastErr) {
    if (lastErr) *lastErr = SELKO2_ERR_PARAM;
    LogError(fn, "ID_PARAMTER_ERR");
    return false;
  }
  // A batch owns the device's transactions; a query would break its
  // command sequence.
  if (m_bScanning) {
    *lastErr = SELKO2_ERR_BUSY;
    LogError(fn, "m_bScanning == TRUE");
    return false;
  }
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  _FCL_DEVICE_STATUS status{};
  if (!Transact(fn, selko2::kGetHardwareStatus, &status)) {
    *lastErr = SELKO2_ERR_COMMAND;
    return false;
  }
  if (!status.PaperPresent()) data[3] |= 0x80;
  if (status.CoverOpen()) data[3] |= 0x20;
  return true;
}

bool CSelko2ScanFunc::ObjectPosition() {
  const char* fn = "CSelko2ScanFunc::ObjectPosition";
  CLogScope scope(fn);
  if (!m_bFirstPage) {
    if (!m_bTransferEnd) return true;
    if (m_bManualFeed) m_bFirstPage = 1;
  }
  unsigned char byData[FCL_DEVICE_STATUS_SIZE] = {};
  if (!GetScannerStatus(byData, sizeof byData) || m_dwLastErr != 0) {
    LogError(fn, "GetScannerStatus(byData, sizeof(byData)) == FALSE");
    return false;
  }
  if (byData[3] & 0x20) {
    m_dwLastErr = SELKO2_ERR_COVER_OPEN;
    LogError(fn, "HATCH OPEN");
    return false;
  }
  if (byData[3] & 0x80) {
    m_dwLastErr = SELKO2_ERR_NO_PAPER;
    LogError(fn, "NO PAPER");
    return false;
  }
  return true;
}

bool CSelko2ScanFunc::CancelRead() {
  const char* fn = "CSelko2ScanFunc::CancelRead";
  CLogScope scope(fn);
  if (m_bTransferEnd) return true;
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  auto* pBLK_ImgStatus = new (std::nothrow) _FCL_BLKIMG_STATUS();
  if (!pBLK_ImgStatus) {
    m_dwLastErr = SELKO2_ERR_NO_MEMORY;
    LogError(fn, "pBLK_ImgStatus == NULL");
    return false;
  }
  _FCL_CMD command;
  CreateCommand(&command, selko2::kAbortScan);
  bool ok = SendAbortCommand(&command, pBLK_ImgStatus);
  delete pBLK_ImgStatus;
  if (!ok) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    LogError(fn, "SendAbortCommand(&sFCLCommand, pBLK_ImgStatus) == FALSE");
    return false;
  }
  return true;
}

// --- scan-parameter record ---------------------------------------------

bool CSelko2ScanFunc::InitScanParameter() {
  if (!g_pScanParameterExt) return false;
  Put32(0, 4);
  Put8(4, 3);
  Put8(5, 3);
  Put8(6, 24);
  Put8(7, 24);
  Put32(8, 2550);
  Put32(12, 7650);
  Put16(16, 300);
  Put16(18, 300);
  Put32(20, 0);
  Put32(24, 0);
  Put32(28, 2550);
  Put32(32, 4200);
  Put32(36, 2550);
  Put32(40, 4200);
  Put16(44, 100);
  Put16(46, 100);
  Put16(52, 4);
  Put16(54, 31);
  Put32(56, 1);
  Put8(60, 0);
  Put8(63, 0x80);
  memset(g_pScanParameterExt + 64, 0, 8);
  Put32(72, 4200);
  Put32(76, 0x20);
  Put16(92, 0);
  Put8(94, 0);
  Put16(96, 0);
  Put32(100, 0);
  Put32(132, 100);
  Put32(136, 0);
  memset(g_pScanParameterExt + 140, 0, 8);
  Put16(148, 0);
  return true;
}

bool CSelko2ScanFunc::ModeSelect() {
  CLogScope scope("CSelko2ScanFunc::ModeSelect");
  if (!g_pScanParameterExt) return false;
  if (Prop().PAPER_SIZE == kAutomaticPaperSize || Prop().CROPPING == kCroppingOverscan) {
    g_pScanParameterExt[67] |= kAutomaticSizeBit;
    g_pScanParameterExt[60] = Prop().SCAN_RES_X > 300 ? 234 : 117;
  }
  if (Prop().DF_ACTION == 1 && Prop().MF_OVERLAPPING != 0) g_pScanParameterExt[67] |= kOverlapBit;
  if (Prop().AUTOFEED == 0) {
    m_bManualFeed = 1;
    Put32(100, 1);
  } else {
    Put32(100, 0);
  }
  return true;
}

bool CSelko2ScanFunc::SetWindow() {
  CLogScope scope("CSelko2ScanFunc::SetWindow");
  if (!g_pScanParameterExt) return false;
  if (!m_bFirstPage) return true;
  switch (Prop().SCAN_FACE) {
    case 3:
      Put32(0, 4);
      Put32(76, GetLe32(g_pScanParameterExt + 76) | 0x20);
      break;
    case 2:
      Put32(0, 5);
      break;
    default:
      Put32(0, 6);
      break;
  }
  const uint32_t R = Prop().SCAN_RES_X > 300 ? 600 : 300;
  const uint32_t V = Prop().SCAN_RES_Y > 300 ? 600 : 300;
  Put16(16, static_cast<uint16_t>(R));
  Put16(18, static_cast<uint16_t>(V));

  double x0 = Prop().TOP_LEFT_X, y0 = Prop().TOP_LEFT_Y;
  double x1 = Prop().BOTTOM_RIGHT_X, y1 = Prop().BOTTOM_RIGHT_Y;
  const double PW = Prop().CUST_PAGE_WIDTH, PH = Prop().CUST_PAGE_LENGTH;
  const bool automatic = g_pScanParameterExt[67] & kAutomaticSizeBit;
  double W;
  if (automatic) {
    x0 = y0 = 0;
    x1 = PW + kOverscanUnits;
    y1 = PH + kOverscanUnits;
    W = x1;
  } else {
    W = x1 - x0;
  }
  auto pixels = [](uint32_t resolution, double units) { return static_cast<uint32_t>(resolution * units / 1200); };
  const uint32_t bitsPerPixel = g_pScanParameterExt[7];
  const uint32_t imageWidth = pixels(R, W);
  Put32(20, pixels(R, x0));
  Put32(24, pixels(V, y0));
  Put32(8, imageWidth);
  Put32(12, (bitsPerPixel * imageWidth + 7) / 8);
  Put32(36, pixels(R, PW));
  Put32(40, pixels(V, PH));

  uint32_t windowWidth, length;
  if (automatic) {
    windowWidth = x1 > kMaxWindowUnits ? pixels(R, kMaxWindowUnits) : pixels(R, W);
    double limit = Prop().SCAN_RES_X > 300 ? 17736 : Prop().SCAN_RES_X > 200 ? 41736 : 150936;
    if (y1 > limit) y1 = limit;
    Put32(36, windowWidth);
    length = pixels(V, y1 - y0);
    Put32(40, length);
  } else {
    windowWidth = imageWidth;
    length = pixels(V, y1 - y0);
  }

  // Narrower pages travel in the middle of the feeder.
  const uint32_t widest = R * kWidestWindowUnits / 1200;
  const uint32_t pageWidth = GetLe32(g_pScanParameterExt + 36);
  if (pageWidth < widest) Put32(20, static_cast<uint32_t>(R * x0 / 1200 + (widest / 2 - (pageWidth >> 1))));

  Put32(28, windowWidth);
  Put32(32, length);
  Put32(72, length);
  return true;
}

// --- in-scanner lock -----------------------------------------------------

uint16_t CSelko2ScanFunc::LockScanner() {
  const char* fn = "CSelko2ScanFunc::LockScanner";
  CLogScope scope(fn);
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  BuildSelko2LockOwner(m_szUUID);
  // A stale lock given back is looked at once more: another process may
  // have taken the scanner in between.
  for (int look = 0;; ++look) {
    _FCL_CMD command;
    _FCL_DEVICE_STATUS_EXT statusExt{};
    CreateCommand(&command, selko2::kGetHardwareStatusExt);
    if (!SendCommandExt(&command, &statusExt)) {
      LogError(fn, "SendCommandExt(&sFCLCommand, &sFCLDeviceStatusExt) == FALSE");
      m_dwLastErr = SELKO2_ERR_COMMAND;
      return RET_NOT_CONNECT;
    }
    if (statusExt.dwLockStatus() != 1) break;
    const HeldLock held = look == 0 ? ClaimHeldLock(fn) : HeldLock::Kept;
    if (held == HeldLock::Ours) {
      m_bLocked = 1;
      return RET_LOCKED;
    }
    if (held == HeldLock::Failed) return RET_NOT_CONNECT;
    if (held == HeldLock::Kept) {
      LogError(fn, "sFCLDeviceStatusExt.dwLockStatus == 1");
      return RET_ALREADY_LOCKED;
    }
  }
  Selko2DataPhase lock;
  lock.out = m_szUUID;
  lock.length = sizeof m_szUUID;
  lock.failure = "SendData((LPBYTE)m_szUUID, sizeof(m_szUUID)) == FALSE";
  if (!Transact(fn, selko2::kLockScanner, nullptr, lock)) return RET_NOT_CONNECT;
  unsigned char UUID_FromFW[FCL_LOCK_OWNER_SIZE] = {};
  Selko2DataPhase owner;
  owner.in = UUID_FromFW;
  owner.length = sizeof UUID_FromFW;
  owner.failure = "GetData((LPBYTE)UUID_FromFW, sizeof(UUID_FromFW)) == FALSE";
  if (!Transact(fn, selko2::kReadLockOwner, nullptr, owner)) return RET_NOT_CONNECT;
  m_bLocked = 1;
  return RET_LOCKED;
}

// A held lock whose owner is this process, or a process of this host that
// has ended (killed in a batch, or its unlock met a silent scanner), is not
// another owner's: the first is kept, the second given back with the dead
// owner's record, which is the one the scanner compares.
CSelko2ScanFunc::HeldLock CSelko2ScanFunc::ClaimHeldLock(const char* fn) {
  unsigned char held[FCL_LOCK_OWNER_SIZE] = {};
  Selko2DataPhase owner;
  owner.in = held;
  owner.length = sizeof held;
  owner.failure = "GetData((LPBYTE)UUID_FromFW, sizeof(UUID_FromFW)) == FALSE";
  if (!Transact(fn, selko2::kReadLockOwner, nullptr, owner)) return HeldLock::Failed;
  switch (WhoHoldsSelko2Lock(held)) {
    case Selko2LockHolder::Self:
      return memcmp(held, m_szUUID, sizeof held) == 0 ? HeldLock::Ours : HeldLock::Kept;
    case Selko2LockHolder::Other:
      return HeldLock::Kept;
    case Selko2LockHolder::Gone:
      break;
  }
  Selko2DataPhase unlock;
  unlock.out = held;
  unlock.length = sizeof held;
  unlock.failure = "SendData((LPBYTE)m_szUUID, sizeof(m_szUUID)) == FALSE";
  if (!Transact(fn, selko2::kUnlockScanner, nullptr, unlock)) return HeldLock::Failed;
  WriteLog(LOG_LEVEL_ERROR, fn, "lock of an ended process of this host given back");
  return HeldLock::Released;
}

bool CSelko2ScanFunc::UnLockScanner() {
  const char* fn = "CSelko2ScanFunc::UnLockScanner";
  CLogScope scope(fn);
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  m_bFirstPage = 1;
  InitScanParameter();
  if (!m_bLocked) return true;
  Selko2DataPhase unlock;
  unlock.out = m_szUUID;
  unlock.length = sizeof m_szUUID;
  unlock.failure = "SendData((LPBYTE)m_szUUID, sizeof(m_szUUID)) == FALSE";
  if (!Transact(fn, selko2::kUnlockScanner, nullptr, unlock)) {
    LogError(fn, "the scanner did not take the unlock: its lock stays until a later run on this host takes it over, "
                 "or the scanner is switched off and on");
    return false;
  }
  m_bLocked = 0;
  return true;
}

// --- NVRAM ---------------------------------------------------------------

// One NVRAM table each way; the data phase names its own failure.
bool CSelko2ScanFunc::NvramTransfer(const char* fn, const Selko2Command& which, const void* block,
                                    Selko2DataPhase& phase) {
  CLogScope scope(fn);
  if (!block) {
    m_dwLastErr = SELKO2_ERR_PARAM;
    LogError(fn, "tpNVRAMInfo == NULL");
    return false;
  }
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  phase.length = NVRAM_TABLE_SIZE;
  return Transact(fn, which, nullptr, phase);
}

bool CSelko2ScanFunc::GetNVRAM(unsigned char* block) {
  Selko2DataPhase nvram;
  nvram.in = block;
  nvram.failure = "GetData((LPBYTE)&tNVRAMInfo, sizeof(NVRAM_TABLE)) == FALSE";
  return NvramTransfer("CSelko2ScanFunc::GetNVRAM", selko2::kGetNvram, block, nvram);
}

bool CSelko2ScanFunc::SetNVRAM(const unsigned char* block) {
  Selko2DataPhase nvram;
  nvram.out = block;
  nvram.failure = "SendData((LPBYTE)tpNVRAMInfo, sizeof(NVRAM_TABLE)) == FALSE";
  return NvramTransfer("CSelko2ScanFunc::SetNVRAM", selko2::kSetNvram, block, nvram);
}

bool CSelko2ScanFunc::SetFirstReadDate() {
  const char* fn = "CSelko2ScanFunc::SetFirstReadDate";
  CLogScope scope(fn);
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  unsigned char tNVRAMInfo[NVRAM_TABLE_SIZE] = {};
  if (GetNVRAM(tNVRAMInfo) != true) {
    LogError(fn, "GetSelfTestDate(&tNVRAMInfo) != TRUE");
    return false;
  }
  uint8_t month = tNVRAMInfo[NVRAM_BODM], day = tNVRAMInfo[NVRAM_BODD];
  if (month >= 1 && month <= 12 && day >= 1 && day <= 31) return true;
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local)) memset(&local, 0, sizeof local);
  tNVRAMInfo[NVRAM_BODY] = static_cast<uint8_t>((local.tm_year + 1900) % 100);
  tNVRAMInfo[NVRAM_BODM] = static_cast<uint8_t>(local.tm_mon + 1);
  tNVRAMInfo[NVRAM_BODD] = static_cast<uint8_t>(local.tm_mday);
  if (tNVRAMInfo[NVRAM_BODD] == 0 || tNVRAMInfo[NVRAM_BODM] == 0) {
    m_dwLastErr = SELKO2_ERR_PARAM;
    LogError(fn, "tNVRAMInfo.BODM == 0 || tNVRAMInfo.BODD == 0");
    return false;
  }
  if (!SetNVRAM(tNVRAMInfo)) {
    LogError(fn, "SetSelfTestDate(&tNVRAMInfo) != TRUE");
    return false;
  }
  return true;
}

// --- status file -----------------------------------------------------------

void CSelko2ScanFunc::SetDeviceShmPath(const char* deviceName) {
  snprintf(m_szDeviceShmPath, sizeof m_szDeviceShmPath, DRAVN_SHM_DIR "/%s-%u-shm", deviceName ? deviceName : "",
           static_cast<unsigned>(getuid()));
}

// The file lives in a world-writable directory under a name anyone can
// guess: never follow a planted link, never block on a planted fifo, only
// ever write a regular file of this user's with no second name, and keep it
// from other users.
bool CSelko2ScanFunc::WriteSCErrorInfo() {
  const char* fn = "CSelko2ScanFunc::WriteSCErrorInfo";
  CLogScope scope(fn);
  uint32_t code = m_dwLastErr;
  uint8_t errorCode = 0;
  GetErrorCode(code, &errorCode);
  Selko2SenseRecord sense{};
  SetSenseError(code, &sense);
  uint32_t value = MakeSCValue(errorCode, sense.bytes[10], sense.bytes[20], sense.bytes[21]);

  int fd = open(m_szDeviceShmPath, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1 ||
      fchmod(fd, 0600) != 0 || ftruncate(fd, 0) != 0) {
    if (fd >= 0) close(fd);
    LogError(fn, "(fpTempFile = fopen(m_szDeviceShmPath, wb+)) == NULL");
    m_dwLastErr = SELKO2_ERR_STATUS_FILE;
    return false;
  }
  unsigned char bytes[4];
  PutLe32(bytes, value);
  bool written = write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
  if (close(fd) != 0) written = false;
  if (!written) {
    LogError(fn, "(fwrite(&tSCErrorInfo, sizeof(SCValue), 1, fpTempFile)) != 1");
    m_dwLastErr = SELKO2_ERR_STATUS_FILE;
    return false;
  }
  m_bStatusFileClean = value == 0;
  return true;
}

// A file that records no error tells a later reader nothing that its absence
// does not (the value then reads 0): the last user removes it, so that the
// shared folder keeps no file per device name. A recorded error stays for
// the next reader of the scanner-error option.
void CSelko2ScanFunc::RemoveCleanStatusFile() {
  if (m_bStatusFileClean) unlink(m_szDeviceShmPath);
  m_bStatusFileClean = false;
}

bool CSelko2ScanFunc::ReadSCErrorInfo(uint32_t* value, uint32_t* lastErr) {
  const char* fn = "CSelko2ScanFunc::GetSCErrorInfo";
  CLogScope scope(fn);
  if (!value || !lastErr) {
    if (lastErr) *lastErr = SELKO2_ERR_PARAM;
    LogError(fn, "tpSCValue == NULL");
    return false;
  }
  int fd = open(m_szDeviceShmPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    LogError(fn, "(fpTempFile = fopen(m_szDeviceShmPath, rb)) == NULL");
    return true;
  }
  unsigned char bytes[4];
  ssize_t n = read(fd, bytes, sizeof bytes);
  close(fd);
  if (n != static_cast<ssize_t>(sizeof bytes)) {
    LogError(fn, "(fread(&g_tSCInfo, sizeof(SCInfo), 1, fpTempFile)) != 1");
    return true;
  }
  *value = GetLe32(bytes);
  return true;
}

// --- error translations ----------------------------------------------------

SANE_Status CSelko2ScanFunc::ConvertToSaneErr(uint32_t code) { return FindSelko2ErrorRow(code).status; }

bool CSelko2ScanFunc::GetErrorCode(uint32_t code, uint8_t* out) {
  if (!out) return false;
  *out = FindSelko2ErrorRow(code).errorCode;
  return true;
}

bool CSelko2ScanFunc::SetSenseError(uint32_t code, Selko2SenseRecord* sense) {
  if (!sense) return false;
  const Selko2ErrorRow& row = FindSelko2ErrorRow(code);
  if (row.hasSense) SetSenceCode(sense, row.key, row.asc, row.ascq);
  if (row.errorLog) WriteErrorLogFile(code);
  return true;
}

bool CSelko2ScanFunc::SetSenceCode(Selko2SenseRecord* sense, uint8_t key, uint8_t code, uint8_t qualifier) {
  if (!sense) return false;
  PutLe32(sense->bytes, 4);
  sense->bytes[8] = 0xF0;
  sense->bytes[10] = key;
  sense->bytes[20] = code;
  sense->bytes[21] = qualifier;
  return true;
}

// --- device-class contract ---------------------------------------------------

SANE_Status CSelko2ScanFunc::InitDevice() {
  const char* fn = "CSelko2ScanFunc::InitDevice";
  CLogScope scope(fn);
  if (SetFirstReadDate()) return SANE_STATUS_GOOD;
  LogError(fn, "SetFirstReadDate failed");
  return ConvertToSaneErr(m_dwLastErr);
}
