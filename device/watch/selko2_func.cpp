#include "selko2_func.h"

#include <algorithm>
#include <cstring>

namespace devwatch {
namespace {

constexpr unsigned kStandardSize = 96;
constexpr unsigned kVpdSize = 144;
constexpr unsigned kVpdServed = 139;

// What a Selko2 scanner would answer to an inquiry, had it one: the
// standard answer (product field from the device string) and page 0xF0.
const unsigned char kStandard[kStandardSize] = {
    0x06, 0x00, 0x02, 0x02, 0x5B, 0x00, 0x00, 0x00, 'M', 'O', 'R', 'A', 'N', 'T', 'I', ' ',
    ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
    '0',  '1',  '0',  '0'};
const unsigned char kVpd[kVpdSize] = {0x06, 0xF0, 0x00, 0x8C, 0x13, 0x01};

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
    unsigned char answer[kStandardSize];
    memcpy(answer, kStandard, sizeof answer);
    if (m_pszDeviceName) memcpy(answer + 16, m_pszDeviceName, strnlen(m_pszDeviceName, 8));
    memcpy(buffer, answer, std::min(length, kStandardSize));
    return true;
  }
  if (cdb[1] == 0x01 && cdb[2] == 0xF0) {
    memcpy(buffer, kVpd, std::min(length, kVpdServed));
    return true;
  }
  return false;
}

}  // namespace devwatch
