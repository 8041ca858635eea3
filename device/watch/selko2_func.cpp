#include "selko2_func.h"

#include <algorithm>

#include "stored_answers.h"

namespace devwatch {
namespace {

// Page 0xF0 goes out short of its stored length.
constexpr unsigned kVpdServed = 139;

}  // namespace

CSelko2ScanFunc::CSelko2ScanFunc(Selko2Transport& transport, uint32_t& lastError)
    : m_transport(transport), m_dwLastError(lastError) {
  BuildSelko2LockOwner(m_szUUID);
}

bool CSelko2ScanFunc::Exchange(const Selko2Command& command, unsigned char* status, size_t statusSize) {
  _FCL_CMD block;
  CreateCommand(&block, command);
  return Selko2SendCommand(m_transport, block, status, statusSize);
}

int CSelko2ScanFunc::LockScanner() {
  _FCL_DEVICE_STATUS_EXT ext{};
  if (!Exchange(selko2::kGetHardwareStatusExt, ext.bytes, sizeof ext.bytes)) return SELKO2_LOCK_FAILED;
  if (ext.dwLockStatus() == 1) return SELKO2_LOCKED_ELSEWHERE;
  _FCL_DEVICE_STATUS status{};
  if (!Exchange(selko2::kLockScanner, status.bytes, sizeof status.bytes) ||
      !Selko2SendData(m_transport, m_szUUID, sizeof m_szUUID))
    return SELKO2_LOCK_FAILED;
  unsigned char owner[FCL_LOCK_OWNER_SIZE] = {};
  if (!Exchange(selko2::kReadLockOwner, status.bytes, sizeof status.bytes) ||
      !Selko2GetData(m_transport, owner, sizeof owner))
    return SELKO2_LOCK_FAILED;
  m_bLocked = 1;
  return SELKO2_LOCKED;
}

int CSelko2ScanFunc::UnLockScanner() {
  m_bLockNeeded = 1;
  if (!m_bLocked) return 1;
  _FCL_DEVICE_STATUS status{};
  if (!Exchange(selko2::kUnlockScanner, status.bytes, sizeof status.bytes) ||
      !Selko2SendData(m_transport, m_szUUID, sizeof m_szUUID))
    return 0;
  m_bLocked = 0;
  return 1;
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
    default:
      return 0;  // the diagnostic pair is served by the maintenance requests
  }
}

bool CSelko2ScanFunc::Inquiry(const unsigned char* cdb, unsigned char* buffer, unsigned length) {
  if (cdb[1] == 0x00) {
    CopyStoredStandard(m_pszDeviceName, 8, buffer, length);
    return true;
  }
  if (cdb[1] == 0x01 && cdb[2] == 0xF0) {
    CopyStoredVpd(WatchRoute::Selko2, buffer, std::min(length, kVpdServed));
    return true;
  }
  return false;
}

}  // namespace devwatch
