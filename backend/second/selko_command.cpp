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

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

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
  header->bytes[0] = selko::kMark;
  header->bytes[1] = code;
  header->bytes[2] = sub;
  header->bytes[3] = 0;
  for (int i = 0; i < 4; ++i) header->bytes[4 + i] = static_cast<unsigned char>(length >> (8 * i));
}

void CSelkoScanFunc::SetUsbTimeOut(int milliseconds) {
  if (kelo_usb_manager) kelo_usb_manager->SetUsbTimeOut(milliseconds);
}

bool CSelkoScanFunc::USBRW(const _FIT_CMD_HEADER_& header, const unsigned char* out, FIT_COMMAND_STATUS* status,
                           unsigned char** ppReply, uint32_t* pReplyLength) {
  const char* fn = "CSelkoScanFunc::USBRW";
  WriteLog(LOG_LEVEL_DETAIL, fn, "start");
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  if (ppReply) *ppReply = nullptr;
  if (pReplyLength) *pReplyLength = 0;
  auto fail = [&](uint32_t code, const char* message) {
    m_dwLastErr = code;
    LogError(fn, message);
    return false;
  };
  if (!kelo_usb_manager || !status) return fail(SELKO_ERR_USB, "failed to send command header");
  _FIT_CMD_HEADER_ h = header;
  if (kelo_usb_manager->RawWriteData(h.bytes, sizeof h.bytes) != 0)
    return fail(SELKO_ERR_USB, "failed to send command header");
  WriteUsbLog(h.bytes, sizeof h.bytes, USBLOG_COMMAND_OUT);
  const uint32_t outLength = Le32(header.bytes + 4);
  if (outLength) {
    if (!out || kelo_usb_manager->RawWriteData(const_cast<unsigned char*>(out), outLength) != 0)
      return fail(SELKO_ERR_USB, "failed to read data(1st)");
    WriteUsbLog(out, static_cast<int>(outLength), USBLOG_DATA_OUT);
  }
  unsigned int count = 0;
  if (kelo_usb_manager->RawReadData(status->bytes, sizeof status->bytes, &count) != 0 || count != sizeof status->bytes)
    return fail(SELKO_ERR_USB, "failed to get the command status");
  WriteUsbLog(status->bytes, sizeof status->bytes, USBLOG_STATUS_IN);
  if (status->bytes[0] != header.bytes[1]) return fail(SELKO_ERR_USB, "command code error");
  if (status->bytes[3] != 0) return fail(SELKO_ERR_NOT_READY, "scanner isn't ready");
  const uint32_t replyLength = Le32(status->bytes + 4);
  if (replyLength) {
    // A reply for a command that has no slot for it is read and dropped: it
    // would otherwise stay in the pipe in front of the next status.
    unsigned char* data = static_cast<unsigned char*>(malloc(replyLength));
    if (!data) return fail(SELKO_ERR_MEMORY, "*pInBuf == NULL");
    if (kelo_usb_manager->RawReadData(data, replyLength, &count) != 0 || count != replyLength) {
      free(data);
      return fail(SELKO_ERR_USB, "failed to read data(2st)");
    }
    WriteUsbLog(data, static_cast<int>(replyLength), USBLOG_DATA_IN);
    if (ppReply) {
      *ppReply = data;
      if (pReplyLength) *pReplyLength = replyLength;
    } else {
      free(data);
    }
  }
  WriteLog(LOG_LEVEL_DETAIL, fn, "end");
  return true;
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
  unsigned char hello[2] = {0x97, 0x17};
  if (!kelo_usb_manager || kelo_usb_manager->RawWriteData(hello, sizeof hello) != 0) {
    m_dwLastErr = SELKO_ERR_USB;
    LogError(fn, "failed to send command of handshaking start");
    return false;
  }
  WriteUsbLog(hello, sizeof hello, USBLOG_COMMAND_OUT);
  unsigned char reply = 0;
  unsigned int count = 0;
  if (kelo_usb_manager->RawReadData(&reply, 1, &count) != 0 || count != 1) {
    m_dwLastErr = SELKO_ERR_USB;
    LogError(fn, "failed to get handshaking reply");
    return false;
  }
  WriteUsbLog(&reply, 1, USBLOG_STATUS_IN);
  if (reply != selko::kMark) {
    m_bConnected = 0;
    m_dwLastErr = SELKO_ERR_USB;
    LogError(fn, "reject handshaking");
    return false;
  }
  m_bConnected = 1;
  return true;
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
