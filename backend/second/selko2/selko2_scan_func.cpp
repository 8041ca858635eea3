// The Selko2 device class: its object, device status, scan-parameter record, lock and first-read date.
#include "selko2_scan_func.h"

#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "log.h"
#include "second_backend.h"
#include "usb_manager.h"

unsigned char* g_pScanParameterExt = nullptr;

namespace {

constexpr int kUsbTimeOut = 5000;
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

// --- device-class contract ---------------------------------------------------

SANE_Status CSelko2ScanFunc::InitDevice() {
  const char* fn = "CSelko2ScanFunc::InitDevice";
  CLogScope scope(fn);
  if (SetFirstReadDate()) return SANE_STATUS_GOOD;
  LogError(fn, "SetFirstReadDate failed");
  return ConvertToSaneErr(m_dwLastErr);
}
