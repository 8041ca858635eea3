#include "selko2_func.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <new>

#include "diag_request.h"
#include "maintenance_image.h"

#include "stored_answers.h"

namespace devwatch {
namespace {

// Page 0xF0 goes out short of its stored length.
constexpr unsigned kVpdServed = 139;
constexpr uint32_t kNvramSize = 288;
constexpr uint32_t kTimerSize = 16;
constexpr uint32_t kFirmRecordSize = 72;
constexpr uint16_t kSleepTimer = 2, kAutoOffTimer = 5, kAutoOffDisabled = 6;

}  // namespace

CSelko2ScanFunc::CSelko2ScanFunc(Selko2Transport& transport, uint32_t& lastError)
    : m_transport(transport), m_dwLastError(lastError) {
  BuildSelko2LockOwner(m_szUUID);
}

bool CSelko2ScanFunc::PipeReady() {
  if (m_bPipeBroken && m_transport.ResetPipe()) m_bPipeBroken = false;
  return !m_bPipeBroken;
}

bool CSelko2ScanFunc::Step(bool ok) {
  if (!ok) m_bPipeBroken = true;
  return ok;
}

bool CSelko2ScanFunc::Exchange(const Selko2Command& command, unsigned char* status, size_t statusSize) {
  if (!PipeReady()) return false;
  _FCL_CMD block;
  CreateCommand(&block, command);
  return Step(Selko2SendCommand(m_transport, block, status, statusSize));
}

int CSelko2ScanFunc::LockScanner() {
  BuildSelko2LockOwner(m_szUUID);
  // A stale lock given back is looked at once more: another process may
  // have taken the scanner in between.
  for (int look = 0;; ++look) {
    _FCL_DEVICE_STATUS_EXT ext{};
    if (!Exchange(selko2::kGetHardwareStatusExt, ext.bytes, sizeof ext.bytes)) return SELKO2_LOCK_FAILED;
    if (ext.dwLockStatus() != 1) break;
    if (look > 0) return SELKO2_LOCKED_ELSEWHERE;
    const int held = ClaimHeldLock();
    if (held != SELKO2_RELEASED) return held;
  }
  _FCL_DEVICE_STATUS status{};
  // Once the lock command may have reached the scanner it may hold our lock
  // even when the exchange then fails: the unlock must still be sent, or the
  // scanner stays locked for every other host.
  m_bLocked = 1;
  if (!Exchange(selko2::kLockScanner, status.bytes, sizeof status.bytes) ||
      !Step(Selko2SendData(m_transport, m_szUUID, sizeof m_szUUID)))
    return SELKO2_LOCK_FAILED;
  unsigned char owner[FCL_LOCK_OWNER_SIZE] = {};
  if (!Exchange(selko2::kReadLockOwner, status.bytes, sizeof status.bytes) ||
      !Step(Selko2GetData(m_transport, owner, sizeof owner)))
    return SELKO2_LOCK_FAILED;
  return SELKO2_LOCKED;
}

// A held lock whose owner is this process (an unlock that did not get
// through), or a process of this host that has ended, is not another
// owner's: the first is kept, the second given back with the dead owner's
// record, which is the one the scanner compares.
int CSelko2ScanFunc::ClaimHeldLock() {
  unsigned char held[FCL_LOCK_OWNER_SIZE] = {};
  _FCL_DEVICE_STATUS status{};
  if (!Exchange(selko2::kReadLockOwner, status.bytes, sizeof status.bytes) ||
      !Step(Selko2GetData(m_transport, held, sizeof held)))
    return SELKO2_LOCK_FAILED;
  switch (WhoHoldsSelko2Lock(held)) {
    case Selko2LockHolder::Self:
      if (memcmp(held, m_szUUID, sizeof held) != 0) return SELKO2_LOCKED_ELSEWHERE;
      m_bLocked = 1;
      return SELKO2_LOCKED;
    case Selko2LockHolder::Other:
      return SELKO2_LOCKED_ELSEWHERE;
    case Selko2LockHolder::Gone:
      break;
  }
  if (!Exchange(selko2::kUnlockScanner, status.bytes, sizeof status.bytes) ||
      !Step(Selko2SendData(m_transport, held, sizeof held)))
    return SELKO2_LOCK_FAILED;
  return SELKO2_RELEASED;
}

int CSelko2ScanFunc::UnLockScanner() {
  m_bLockNeeded = 1;
  if (!m_bLocked) return 1;
  // A lock left behind shuts every other host out, so an unlock that broke
  // off is sent once more over a reset pipe.
  for (int attempt = 0; attempt < 2; ++attempt) {
    _FCL_DEVICE_STATUS status{};
    if (Exchange(selko2::kUnlockScanner, status.bytes, sizeof status.bytes) &&
        Step(Selko2SendData(m_transport, m_szUUID, sizeof m_szUUID))) {
      m_bLocked = 0;
      return 1;
    }
  }
  return 0;
}

int CSelko2ScanFunc::CommandExec(const unsigned char* cdb, unsigned char* buffer, unsigned length) {
  if (cdb == nullptr || (cdb[0] != 0x00 && buffer == nullptr)) return 0;
  if (m_bLockNeeded) {
    m_bLockNeeded = 0;
    int r = LockScanner();
    if (r != SELKO2_LOCKED) {
      m_dwLastError = r == SELKO2_LOCKED_ELSEWHERE ? DVWC_LAST_LOCKED_ELSEWHERE : DVWC_LAST_LOCK_FAILED;
      m_bLockNeeded = 1;
      return 0;
    }
  }
  switch (cdb[0]) {
    case 0x12:
      return Inquiry(cdb, buffer, length) ? 1 : 0;
    case 0x1D:
      return SendDiagnostic(buffer, std::min<unsigned>(length, static_cast<unsigned>(cdb[3] << 8 | cdb[4])));
    case 0x1C:
      return ReceiveDiagnosticResult(buffer, std::min<unsigned>(length, static_cast<unsigned>(cdb[3] << 8 | cdb[4])));
    default:
      return 0;
  }
}

bool CSelko2ScanFunc::Inquiry(const unsigned char* cdb, unsigned char* buffer, unsigned length) {
  if (cdb[1] == 0x00) {
    CopyStoredStandard(m_pszDeviceName, buffer, length);
    return true;
  }
  if (cdb[1] == 0x01 && cdb[2] == 0xF0) {
    CopyStoredVpd(WatchRoute::Selko2, buffer, std::min(length, kVpdServed));
    return true;
  }
  return false;
}

bool CSelko2ScanFunc::Command(uint8_t opcode, uint8_t sub, uint16_t param, unsigned char* data, uint32_t length,
                              bool dataIn, bool* refused) {
  if (refused) *refused = false;
  if (!PipeReady()) return false;
  _FCL_CMD block;
  CreateCommand(&block, opcode, sub, param, length);
  _FCL_DEVICE_STATUS status{};
  if (!Step(Selko2SendCommand(m_transport, block, status.bytes, sizeof status.bytes))) return false;
  if (status.StatusCode() != 0) {
    if (refused) *refused = true;
    return false;
  }
  if (length == 0) return true;
  return Step(dataIn ? Selko2GetData(m_transport, data, length) : Selko2SendData(m_transport, data, length));
}

bool CSelko2ScanFunc::BuildImage() {
  unsigned char nvram[kNvramSize];
  if (!Command(0x28, 0x10, 0, nvram, kNvramSize, true)) return false;
  MaintenanceFields f;
  unsigned char timer[kTimerSize] = {};
  // A timer the scanner refuses counts as 0. One whose transfer broke ends
  // the build: its value is unknown, and a 0 taken for it would go back to
  // the scanner with the next write.
  bool refused = false;
  if (Command(0x28, 0x14, kSleepTimer, timer, kTimerSize, true, &refused))
    f.sleepMinutes = GetLe32(timer + 4);
  else if (!refused)
    return false;
  memset(timer, 0, sizeof timer);
  if (Command(0x28, 0x14, kAutoOffTimer, timer, kTimerSize, true, &refused))
    f.autoOffMinutes = GetLe32(timer + 12);
  else if (!refused)
    return false;
  f.total = GetLe32(nvram);
  f.counter60 = GetLe32(nvram + 68);
  f.date[0] = nvram[18];
  f.date[1] = nvram[16];
  f.date[2] = nvram[17];
  memcpy(f.serial, nvram + 29, 6);
  memcpy(f.word284, nvram + 25, 4);
  FillMaintenanceImage(f, m_image);
  m_bImageValid = true;
  return true;
}

bool CSelko2ScanFunc::ReadFirmVersion() {
  unsigned char record[kFirmRecordSize];
  if (!Command(0x28, 0x01, 1, record, kFirmRecordSize, true)) return false;
  memset(m_firm, 0xFF, sizeof m_firm);
  char text[16];
  snprintf(text, sizeof text, "%02d%02d", record[26] % 100, record[24] % 100);
  memcpy(m_firm, text, 4);
  m_bFirmValid = true;
  return true;
}

bool CSelko2ScanFunc::SetEEPROMData(const unsigned char* image, uint32_t length) {
  unsigned char timer[kTimerSize] = {};
  if (length > 64) {
    PutLe32(timer + 4, SleepMinutesOf(image[64]));
    if (!Command(0x2A, 0x14, kSleepTimer, timer, kTimerSize, false)) return false;
  }
  if (length > 280) {
    memset(timer, 0, sizeof timer);
    uint32_t minutes = AutoOffMinutesOf(image[280]);
    PutLe32(timer + 12, minutes);
    if (!Command(0x2A, 0x14, minutes ? kAutoOffTimer : kAutoOffDisabled, timer, kTimerSize, false)) return false;
  }
  // A write never goes out over an NVRAM that could not be read.
  unsigned char nvram[kNvramSize];
  if (!Command(0x28, 0x10, 0, nvram, kNvramSize, true)) return false;
  if (length <= 41) return true;
  if (length > 61 && image[60] == 0 && image[61] == 0) memset(nvram + 68, 0, 4);
  return Command(0x2A, 0x10, 0, nvram, kNvramSize, false);
}

int CSelko2ScanFunc::SendDiagnostic(const unsigned char* request, unsigned length) {
  if (length < 16) return 0;
  if (IsWriteText(request)) {
    m_bImageValid = m_bFirmValid = false;
    uint32_t declared = 0;
    if (!WriteImageLength(request, length, &declared)) return 0;
    return SetEEPROMData(request + 20, declared) ? 1 : 0;
  }
  if (IsText(request, "FIRST READ DATE ")) return 1;
  return KeepRequest(m_kept, request, length) ? 1 : 0;
}

int CSelko2ScanFunc::ReceiveDiagnosticResult(unsigned char* buffer, unsigned length) {
  memset(buffer, 0, length);
  std::vector<unsigned char> kept;
  kept.swap(m_kept);  // consumed by this receive, whatever it answers
  if (IsReadText(kept)) {
    if (!m_bImageValid && !BuildImage()) return 0;
    memcpy(buffer, m_image, std::min<size_t>(length, sizeof m_image));
  } else if (IsText(kept, "GET FIRMVERSION ")) {
    if (length <= 3) return 0;
    if (!m_bFirmValid && !ReadFirmVersion()) return 0;
    memcpy(buffer, m_firm, std::min<size_t>(length, sizeof m_firm));
  }
  return 1;
}

}  // namespace devwatch
