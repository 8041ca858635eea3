// SCSI-style requests of the generic family over the command block, and
// the routing of each request by the current device's family.
#include <algorithm>
#include <cstring>

#include "scanner_ctrl.h"
#include "stored_answers.h"

namespace devwatch {
namespace {

constexpr unsigned kCommandTimeOut = 15000;
constexpr unsigned kDiagnosticDataTimeOut = 120000;
constexpr unsigned kSenseLength = 18;

}  // namespace

bool CMqScannerCtrl::Exec(const unsigned char* cdb, unsigned cdbLength, Phase phase, void* data, unsigned length,
                          unsigned char* status) {
  if (!RawWriteCommand(cdb, cdbLength)) return false;
  unsigned count = 0;
  if (phase == Phase::In && length > 0 && !RawReadData(data, length, &count)) return false;
  if (phase == Phase::Out && length > 0 && !RawWriteData(data, length)) return false;
  return RawReadStatus(status) == 1;
}

int CMqScannerCtrl::CommandBlock(const unsigned char* cdb, unsigned cdbLength, bool dataIn, void* data,
                                 unsigned length, unsigned char* status) {
  Phase phase = length == 0 ? Phase::None : dataIn ? Phase::In : Phase::Out;
  return Exec(cdb, cdbLength, phase, data, length, status) ? 1 : 0;
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

bool CMqScannerCtrl::RouteToFamily(const unsigned char* cdb, unsigned char* buffer, unsigned length, int* result) {
  switch (CurrentRoute()) {
    case WatchRoute::Selko:
      *result = cdb[0] == 0x12   ? SelkoInquiry((cdb[1] & 1) != 0, buffer, length)
                : cdb[0] == 0x1D ? SelkoSendDiagnostic(buffer, length)
                : cdb[0] == 0x1C ? SelkoReceiveDiagnosticResult(buffer, length)
                                 : 0;
      return true;
    case WatchRoute::Brenna:
      *result = m_Brenna.CommandExec(cdb, buffer, length);
      return true;
    case WatchRoute::Selko2:
      *result = m_Selko2.CommandExec(cdb, buffer, length);
      return true;
    case WatchRoute::Generic:
      break;
  }
  return false;
}

int CMqScannerCtrl::Inquiry(unsigned char* buffer, unsigned char length) {
  const unsigned char cdb[6] = {0x12, 0, 0, 0, length, 0};
  int routed = 0;
  if (RouteToFamily(cdb, buffer, length, &routed)) return routed;
  return GenericInquiry(0x00, 0x00, buffer, length);
}

int CMqScannerCtrl::Inquiry(int kind, unsigned char* buffer, unsigned length) {
  if (!buffer) return 0;
  if (kind == 0)
    CopyStoredVpd(WatchRoute::Generic, buffer, length);
  else
    CopyStoredStandard(GetCurrentDeviceName(), buffer, length);
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
  const unsigned char cdb[6] = {0x1D, 0, 0, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length),
                                0};
  int routed = 0;
  if (RouteToFamily(cdb, buffer, length, &routed)) return routed;
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
  const unsigned char cdb[6] = {0x1C, 0, 0, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length),
                                0};
  int routed = 0;
  if (RouteToFamily(cdb, buffer, length, &routed)) return routed;
  if (!buffer && length > 0) return 0;
  SetTimeOut(kCommandTimeOut);
  unsigned char status = 0xFF;
  return Exec(cdb, sizeof cdb, Phase::In, buffer, length, &status) && status == 0 ? 1 : 0;
}

}  // namespace devwatch
