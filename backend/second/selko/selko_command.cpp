// The Selko command protocol: one exchange (header, data out, status, reply
// data), the retry loops around it, the handshake that opens and the command
// that ends each use of the scanner, the name and status queries and the
// maintenance parameters.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "log.h"
#include "model_catalog.h"
#include "second_backend.h"
#include "selko_scan_func.h"
#include "usb_manager.h"

namespace {

constexpr int kSends = 10;
constexpr useconds_t kRetryPause = 1000 * 1000;
constexpr int kShortTimeOut = 1000, kLastTimeOut = 15000, kScanTimeOut = 120000;

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

}  // namespace

bool selko::IsSupportedName(const unsigned char name[16]) {
  for (const dravn::CatalogModel& m : dravn::kSelkoModels) {
    unsigned char padded[16];
    memset(padded, ' ', sizeof padded);
    memcpy(padded, m.deviceName, std::min<size_t>(strlen(m.deviceName), sizeof padded));
    if (memcmp(padded, name, sizeof padded) == 0) return true;
  }
  return false;
}

void CSelkoScanFunc::SendCmd(unsigned char code, unsigned char sub, uint32_t length, _FIT_CMD_HEADER_* header) {
  SelkoHeader(code, sub, length, header);
}

void CSelkoScanFunc::SetUsbTimeOut(int milliseconds) {
  if (kelo_usb_manager) kelo_usb_manager->SetUsbTimeOut(milliseconds);
}

namespace {

// The backend's USB manager as the exchange's transport, logging each
// transfer by its step.
class ManagerTransport : public SelkoTransport {
 public:
  bool BulkOut(const unsigned char* data, uint32_t length, SelkoPhase phase) override {
    if (!kelo_usb_manager || kelo_usb_manager->RawWriteData(const_cast<unsigned char*>(data), length) != 0)
      return false;
    WriteUsbLog(data, static_cast<int>(length), phase == SelkoPhase::Command ? USBLOG_COMMAND_OUT : USBLOG_DATA_OUT);
    return true;
  }
  bool BulkIn(unsigned char* data, uint32_t length, SelkoPhase phase) override {
    unsigned int count = 0;
    if (!kelo_usb_manager || kelo_usb_manager->RawReadData(data, length, &count) != 0 || count != length)
      return false;
    WriteUsbLog(data, static_cast<int>(length), phase == SelkoPhase::Status ? USBLOG_STATUS_IN : USBLOG_DATA_IN);
    return true;
  }
};

}  // namespace

bool CSelkoScanFunc::USBRW(const _FIT_CMD_HEADER_& header, const unsigned char* out, FIT_COMMAND_STATUS* status,
                           unsigned char** ppReply, uint32_t* pReplyLength) {
  const char* fn = "CSelkoScanFunc::USBRW";
  WriteLog(LOG_LEVEL_DETAIL, fn, "start");
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  ManagerTransport transport;
  switch (SelkoUSBRW(transport, header, out, status, ppReply, pReplyLength)) {
    case SelkoResult::Ok:
      WriteLog(LOG_LEVEL_DETAIL, fn, "end");
      return true;
    case SelkoResult::Transfer:
      m_dwLastErr = SELKO_ERR_USB;
      LogError(fn, "failed to transfer the command, its status or its data");
      return false;
    case SelkoResult::WrongCommand:
      m_dwLastErr = SELKO_ERR_USB;
      LogError(fn, "command code error");
      return false;
    case SelkoResult::NotReady:
      m_dwLastErr = SELKO_ERR_NOT_READY;
      LogError(fn, "scanner isn't ready");
      return false;
    case SelkoResult::NoMemory:
      break;
  }
  m_dwLastErr = SELKO_ERR_MEMORY;
  LogError(fn, "*pInBuf == NULL");
  return false;
}

bool CSelkoScanFunc::CheckCmdStatus(const FIT_COMMAND_STATUS& status) {
  const char* fn = "CSelkoScanFunc::CheckCmdStatus";
  if (status.bytes[1]) {
    LogError(fn, "Unknown command or Invalid command");
    return false;
  }
  if (status.bytes[2]) {
    LogError(fn, "One or more parameter has error");
    return false;
  }
  m_byStatus = status.bytes[3];
  return true;
}

// Up to ten sends: not ready waits a second; a query whose exchange failed
// without data sends again at once.
bool CSelkoScanFunc::Exchange(unsigned char code, unsigned char sub, const unsigned char* out, uint32_t length,
                              FIT_COMMAND_STATUS* status, unsigned char** ppReply, uint32_t* pReplyLength, bool query) {
  _FIT_CMD_HEADER_ header;
  SendCmd(code, sub, length, &header);
  bool sent = false;
  for (int send = 0; send < kSends && !sent; ++send) {
    sent = USBRW(header, out, status, ppReply, pReplyLength);
    if (sent) break;
    if (m_dwLastErr == SELKO_ERR_NOT_READY) {
      if (send + 1 < kSends) usleep(kRetryPause);
      continue;
    }
    const bool gotData = ppReply && *ppReply;
    if (!query || gotData) break;
  }
  if (!sent) return false;
  if (!CheckCmdStatus(*status)) return false;
  m_dwLastErr = SELKO_ERR_NONE;
  return true;
}

bool CSelkoScanFunc::CommandRetry(unsigned char code, unsigned char sub, const unsigned char* out, uint32_t length,
                                  FIT_COMMAND_STATUS* status, unsigned char** ppReply, uint32_t* pReplyLength) {
  return Exchange(code, sub, out, length, status, ppReply, pReplyLength, false);
}

bool CSelkoScanFunc::QueryRetry(unsigned char code, unsigned char sub, FIT_COMMAND_STATUS* status,
                                unsigned char** ppReply, uint32_t* pReplyLength) {
  return Exchange(code, sub, nullptr, 0, status, ppReply, pReplyLength, true);
}

// --- the connection ------------------------------------------------------

bool CSelkoScanFunc::ConnectScannerBulk() {
  const char* fn = "CSelkoScanFunc::ConnectScannerBulk";
  CLogScope scope(fn);
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  ManagerTransport transport;
  bool refused = false;
  if (SelkoHandshake(transport, &refused)) {
    m_bConnected = 1;
    return true;
  }
  m_dwLastErr = SELKO_ERR_USB;
  if (refused) m_bConnected = 0;
  LogError(fn, refused ? "reject handshaking" : "failed to handshake");
  return false;
}

bool CSelkoScanFunc::ConnectScanner() {
  const char* fn = "CSelkoScanFunc::ConnectScanner";
  CLogScope scope(fn);
  if (m_bConnected) return true;
  SetUsbTimeOut(kShortTimeOut);
  for (int attempt = 0; attempt < kSends; ++attempt) {
    if (ConnectScannerBulk()) {
      SetUsbTimeOut(kScanTimeOut);
      m_dwLastErr = SELKO_ERR_NONE;
      return true;
    }
    usleep(kRetryPause);
  }
  SetUsbTimeOut(kLastTimeOut);
  const bool connected = ConnectScannerBulk();
  SetUsbTimeOut(kScanTimeOut);
  if (connected) {
    m_dwLastErr = SELKO_ERR_NONE;
    return true;
  }
  m_dwLastErr = SELKO_ERR_IO;
  LogError(fn, "failed to handshaking start");
  return false;
}

bool CSelkoScanFunc::TerminateScanner() {
  const char* fn = "CSelkoScanFunc::TerminateScanner";
  CLogScope scope(fn);
  if (!m_bConnected) return true;
  _FIT_CMD_HEADER_ header;
  SendCmd(selko::kControl, selko::kTerminate, 0, &header);
  FIT_COMMAND_STATUS status{};
  const uint32_t kept = m_dwLastErr;
  bool done = false;
  SetUsbTimeOut(kShortTimeOut);
  for (int attempt = 0; attempt < kSends && !done; ++attempt) {
    done = USBRW(header, nullptr, &status, nullptr) && CheckCmdStatus(status);
    if (!done && attempt + 1 < kSends) usleep(kRetryPause);
  }
  if (!done) {
    SetUsbTimeOut(kLastTimeOut);
    done = USBRW(header, nullptr, &status, nullptr) && CheckCmdStatus(status);
  }
  SetUsbTimeOut(kScanTimeOut);
  m_bConnected = 0;
  // Ending the connection does not replace what ended the batch.
  m_dwLastErr = kept;
  if (!done) {
    LogError(fn, "failed to handshaking end");
    return false;
  }
  return true;
}

// --- queries -----------------------------------------------------------------

int CSelkoScanFunc::GetScannerName(unsigned char* name) {
  const char* fn = "CSelkoScanFunc::GetScannerName";
  CLogScope scope(fn);
  m_dwLastErr = SELKO_ERR_NONE;
  if (!name) {
    LogError(fn, "pbyScannerName == NULL");
    return 2;
  }
  FIT_COMMAND_STATUS status{};
  unsigned char* reply = nullptr;
  uint32_t length = 0;
  const bool ok = QueryRetry(selko::kQuery, selko::kName, &status, &reply, &length);
  if (reply && length >= 16) {
    memcpy(name, reply, 16);
    free(reply);
    return ok ? 0 : 2;
  }
  free(reply);
  LogError(fn, "failed to get scanner info");
  return 2;
}

int CSelkoScanFunc::CheckScannerStatus(unsigned char* state) {
  const char* fn = "CSelkoScanFunc::CheckScannerStatus";
  CLogScope scope(fn);
  FIT_COMMAND_STATUS status{};
  unsigned char* reply = nullptr;
  uint32_t length = 0;
  _FIT_CMD_HEADER_ header;
  SendCmd(selko::kQuery, selko::kStatus, 0, &header);
  bool sent = false;
  for (int send = 0; send < kSends && !sent; ++send) {
    sent = USBRW(header, nullptr, &status, &reply, &length);
    if (sent || (reply && length)) break;
    if (m_dwLastErr == SELKO_ERR_NOT_READY && send + 1 < kSends) usleep(kRetryPause);
  }
  if (!sent) {
    free(reply);
    m_dwLastErr = SELKO_ERR_USB;
    LogError(fn, "failed to get the scanner's status");
    return 2;
  }
  if (!CheckCmdStatus(status)) {
    free(reply);
    return 2;
  }
  m_dwLastErr = SELKO_ERR_NONE;
  if (reply && length) m_dwLastErr = reply[0];
  if (state) *state = m_byStatus;
  free(reply);
  return 0;
}

int CSelkoScanFunc::GetScannerStatus(unsigned char* out, uint32_t size) {
  const char* fn = "CSelkoScanFunc::GetScannerStatus";
  CLogScope scope(fn);
  if (!out || size < 4) {
    LogError(fn, "pByte == NULL");
    return 2;
  }
  memset(out, 0, size);
  unsigned char state = 0;
  if (CheckScannerStatus(&state) != 0 || state != 0) {
    LogError(fn, "failed to check scanner's status");
    return 2;
  }
  if (m_dwLastErr == SELKO_ERR_COVER_OPEN) out[3] |= 0x20;
  if (m_dwLastErr == SELKO_ERR_PAPER_EMPTY) out[3] |= 0x80;
  return 0;
}

bool CSelkoScanFunc::ObjectPosition() {
  const char* fn = "CSelkoScanFunc::ObjectPosition";
  CLogScope scope(fn);
  if (!ConnectScanner()) {
    m_dwLastErr = SELKO_ERR_USB;
    TerminateScanner();
    LogError(fn, "failed to handshaking start");
    return false;
  }
  unsigned char bytes[32];
  const int rc = GetScannerStatus(bytes, sizeof bytes);
  TerminateScanner();
  if (rc != 0) {
    m_dwLastErr = SELKO_ERR_USB;
    LogError(fn, "failed to GetScannerStatus");
    return false;
  }
  if (bytes[3] & 0x20) {
    m_dwLastErr = SELKO_ERR_COVER_OPEN;
    LogError(fn, "Cover Open");
    return false;
  }
  if (bytes[3] & 0x80) {
    m_dwLastErr = SELKO_ERR_PAPER_EMPTY;
    LogError(fn, "Paper Empty");
    return false;
  }
  m_dwLastErr = SELKO_ERR_NONE;
  return true;
}

int CSelkoScanFunc::GetMaintenanceParam(unsigned char* out, unsigned char id, unsigned char length) {
  const char* fn = "CSelkoScanFunc::GetMaintenanceParam";
  CLogScope scope(fn);
  if (!m_bConnected || !out) return 2;
  const unsigned char request[4] = {id, 0, length, 0};
  FIT_COMMAND_STATUS status{};
  unsigned char* reply = nullptr;
  uint32_t got = 0;
  if (!CommandRetry(selko::kQuery, selko::kMaintenance, request, sizeof request, &status, &reply, &got) ||
      got < length) {
    free(reply);
    LogError(fn, "failed to get maintenance param");
    return 2;
  }
  memcpy(out, reply, length);
  free(reply);
  return 0;
}

int CSelkoScanFunc::SetMaintenanceParam(const unsigned char* bytes, uint16_t id, uint16_t length) {
  const char* fn = "CSelkoScanFunc::SetMaintenanceParam";
  CLogScope scope(fn);
  if (!m_bConnected || (!bytes && length)) return 2;
  unsigned char* send = static_cast<unsigned char*>(malloc(length + 4u));
  if (!send) {
    m_dwLastErr = SELKO_ERR_MEMORY;
    LogError(fn, "pSendData == NULL");
    return 2;
  }
  send[0] = static_cast<unsigned char>(id), send[1] = static_cast<unsigned char>(id >> 8);
  send[2] = static_cast<unsigned char>(length), send[3] = static_cast<unsigned char>(length >> 8);
  if (length) memcpy(send + 4, bytes, length);
  FIT_COMMAND_STATUS status{};
  const bool ok = CommandRetry(selko::kSet, selko::kMaintenance, send, length + 4u, &status, nullptr, nullptr);
  free(send);
  if (!ok) {
    LogError(fn, "failed to set maintenance param");
    return 2;
  }
  return 0;
}

bool CSelkoScanFunc::CancelRead() {
  const char* fn = "CSelkoScanFunc::CancelRead";
  CLogScope scope(fn);
  if (m_bTransferEnd) return true;
  FIT_COMMAND_STATUS status{};
  if (!CommandRetry(selko::kControl, selko::kStopScan, nullptr, 0, &status, nullptr, nullptr)) {
    LogError(fn, "failed to send stop scan");
    return false;
  }
  return true;
}

SANE_Status CSelkoScanFunc::ConvertToSaneErr(uint32_t code) const {
  static const SANE_Status kStatus[17] = {
      SANE_STATUS_GOOD,        SANE_STATUS_COVER_OPEN, SANE_STATUS_JAMMED,   SANE_STATUS_NO_DOCS,
      SANE_STATUS_JAMMED,      SANE_STATUS_IO_ERROR,   SANE_STATUS_IO_ERROR, SANE_STATUS_CANCELLED,
      SANE_STATUS_INVAL,       SANE_STATUS_NO_MEM,     SANE_STATUS_IO_ERROR, SANE_STATUS_IO_ERROR,
      SANE_STATUS_IO_ERROR,    SANE_STATUS_IO_ERROR,   SANE_STATUS_IO_ERROR, SANE_STATUS_UNSUPPORTED,
      SANE_STATUS_DEVICE_BUSY,
  };
  return code < 17 ? kStatus[code] : SANE_STATUS_IO_ERROR;
}
