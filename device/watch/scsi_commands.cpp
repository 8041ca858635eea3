// SCSI-style requests of the generic family over the command block, and
// the routing of each request by the current device's family.
#include <algorithm>
#include <cstring>

#include "scanner_ctrl.h"

namespace devwatch {
namespace {

constexpr unsigned kCommandTimeOut = 15000;
constexpr unsigned kDiagnosticDataTimeOut = 120000;
constexpr unsigned kSenseLength = 18;

// Stored answers for scanners that have no SCSI inquiry: the standard
// answer (its product field gets the device string's first characters) and
// the vendor page 0xF0.
const unsigned char kStandardInquiry[MQ_STANDARD_INQUIRY_SIZE] = {
    0x06, 0x00, 0x02, 0x02, 0x5B, 0x00, 0x00, 0x00, 'M', 'O', 'R', 'A', 'N', 'T', 'I', ' ',
    ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
    '0',  '1',  '0',  '0'};
const unsigned char kVpdInquiry[MQ_VPD_INQUIRY_SIZE] = {0x06, 0xF0, 0x00, 0x8C, 0x10, 0x01};

}  // namespace

bool CMqScannerCtrl::Exec(const unsigned char* cdb, unsigned cdbLength, Phase phase, void* data, unsigned length,
                          unsigned char* status) {
  if (!RawWriteCommand(cdb, cdbLength)) return false;
  unsigned count = 0;
  if (phase == Phase::In && length > 0 && !RawReadData(data, length, &count)) return false;
  if (phase == Phase::Out && length > 0 && !RawWriteData(data, length)) return false;
  return RawReadStatus(status) == 1;
}

int CMqScannerCtrl::TestUnitReady() {
  switch (CurrentRoute()) {
    case WatchRoute::Selko:
    case WatchRoute::Selko2:
      return 1;  // no such command: a scanner that opened is ready
    case WatchRoute::Brenna: {
      const unsigned char cdb[12] = {};
      return m_Brenna.CommandExec(cdb, nullptr, 0);
    }
    case WatchRoute::Generic:
      break;
  }
  SetTimeOut(kCommandTimeOut);
  const unsigned char cdb[6] = {0x00, 0, 0, 0, 0, 0};
  unsigned char status = 0xFF;
  return Exec(cdb, sizeof cdb, Phase::None, nullptr, 0, &status) && status == 0 ? 1 : 0;
}

int CMqScannerCtrl::GenericInquiry(unsigned char page, unsigned char evpd, unsigned char* buffer,
                                   unsigned char length) {
  if (!buffer) return 0;
  SetTimeOut(kCommandTimeOut);
  const unsigned char cdb[6] = {0x12, evpd, page, 0, length, 0};
  unsigned char status = 0;
  return Exec(cdb, sizeof cdb, Phase::In, buffer, length, &status) ? 1 : 0;
}

int CMqScannerCtrl::Inquiry(unsigned char* buffer, unsigned char length) {
  const unsigned char cdb[6] = {0x12, 0, 0, 0, length, 0};
  switch (CurrentRoute()) {
    case WatchRoute::Selko:
      return 0;  // answered by the Selko maintenance back-end
    case WatchRoute::Brenna:
      return m_Brenna.CommandExec(cdb, buffer, length);
    case WatchRoute::Selko2:
      return m_Selko2.CommandExec(cdb, buffer, length);
    case WatchRoute::Generic:
      break;
  }
  return GenericInquiry(0x00, 0x00, buffer, length);
}

int CMqScannerCtrl::Inquiry(int kind, unsigned char* buffer, unsigned length) {
  if (!buffer) return 0;
  if (kind == 0) {
    memcpy(buffer, kVpdInquiry, std::min<unsigned>(length, sizeof kVpdInquiry));
    return 1;
  }
  unsigned char answer[sizeof kStandardInquiry];
  memcpy(answer, kStandardInquiry, sizeof answer);
  if (const char* name = GetCurrentDeviceName()) memcpy(answer + 16, name, strnlen(name, 7));
  memcpy(buffer, answer, std::min<unsigned>(length, sizeof answer));
  return 1;
}

int CMqScannerCtrl::InquiryEX(unsigned char* buffer, unsigned char length) {
  return GenericInquiry(0xE0, 0x00, buffer, length);
}

int CMqScannerCtrl::RequestSense(unsigned char* buffer, unsigned length) {
  SetTimeOut(kCommandTimeOut);
  const unsigned char cdb[6] = {0x03, 0, 0, 0, kSenseLength, 0};
  unsigned char sense[kSenseLength] = {};
  unsigned char status = 0xFF;
  if (!Exec(cdb, sizeof cdb, Phase::In, sense, sizeof sense, &status) || status != 0) return 0;
  if (buffer) memcpy(buffer, sense, std::min<unsigned>(length, sizeof sense));
  return 1;
}

int CMqScannerCtrl::GetHardwareStatus(unsigned char* buffer, unsigned short length) {
  if (!buffer || length > 0xFF) return 0;
  SetTimeOut(kCommandTimeOut);
  const unsigned char cdb[10] = {0xC2, 0, 0, 0, 0, 0, 0, 0, static_cast<unsigned char>(length), 0};
  unsigned char status = 0xFF;
  return Exec(cdb, sizeof cdb, Phase::In, buffer, length, &status) && status == 0 ? 1 : 0;
}

int CMqScannerCtrl::GetHardwareStatus4(unsigned char* buffer, unsigned short length) {
  if (!buffer || length > 0xFF) return 0;
  SetTimeOut(kCommandTimeOut);
  const unsigned char cdb[10] = {0xC5, 0, 0x02, 0, 0, 0, 0, 0, static_cast<unsigned char>(length), 0};
  unsigned char status = 0xFF;
  return Exec(cdb, sizeof cdb, Phase::In, buffer, length, &status) && status == 0 ? 1 : 0;
}

int CMqScannerCtrl::DeviceRestart() {
  SetTimeOut(kCommandTimeOut);
  const unsigned char cdb[10] = {0xF2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
  unsigned char status = 0xFF;
  return Exec(cdb, sizeof cdb, Phase::None, nullptr, 0, &status) && status == 0 ? 1 : 0;
}

int CMqScannerCtrl::SendDiagnostic(unsigned char* buffer, unsigned short length) {
  const unsigned char cdb[6] = {0x1D, 0, 0, static_cast<unsigned char>(length >> 8),
                                static_cast<unsigned char>(length), 0};
  switch (CurrentRoute()) {
    case WatchRoute::Selko:
      return 0;  // answered by the Selko maintenance back-end
    case WatchRoute::Brenna:
      return m_Brenna.CommandExec(cdb, buffer, length);
    case WatchRoute::Selko2:
      return m_Selko2.CommandExec(cdb, buffer, length);
    case WatchRoute::Generic:
      break;
  }
  if (!buffer && length > 0) return 0;
  // A long data phase may take the device a while; its status does not.
  SetTimeOut(kDiagnosticDataTimeOut);
  if (!RawWriteCommand(cdb, sizeof cdb)) return 0;
  if (length > 0 && !RawWriteData(buffer, length)) return 0;
  SetTimeOut(kCommandTimeOut);
  unsigned char status = 0xFF;
  return RawReadStatus(&status) && status == 0 ? 1 : 0;
}

int CMqScannerCtrl::ReceiveDiagnosticResult(unsigned char* buffer, unsigned short length) {
  const unsigned char cdb[6] = {0x1C, 0, 0, static_cast<unsigned char>(length >> 8),
                                static_cast<unsigned char>(length), 0};
  switch (CurrentRoute()) {
    case WatchRoute::Selko:
      return 0;  // answered by the Selko maintenance back-end
    case WatchRoute::Brenna:
      return m_Brenna.CommandExec(cdb, buffer, length);
    case WatchRoute::Selko2:
      return m_Selko2.CommandExec(cdb, buffer, length);
    case WatchRoute::Generic:
      break;
  }
  if (!buffer && length > 0) return 0;
  SetTimeOut(kCommandTimeOut);
  unsigned char status = 0xFF;
  return Exec(cdb, sizeof cdb, Phase::In, buffer, length, &status) && status == 0 ? 1 : 0;
}

}  // namespace devwatch
