#include "family_shells.h"

#include "log.h"

namespace {

SANE_Status NoScan(const char* function) {
  WriteLog(LOG_LEVEL_ERROR, function, "scanning is not supported for this device");
  return SANE_STATUS_UNSUPPORTED;
}

SANE_Status NoRead(const char* function, SANE_Byte* data, SANE_Int* length) {
  if (!data || !length) return SANE_STATUS_INVAL;
  *length = 0;
  return NoScan(function);
}

}  // namespace

SANE_Status CSelkoScanFunc::InitDevice() {
  CLogScope scope("CSelkoScanFunc::InitDevice");
  return SANE_STATUS_GOOD;
}
SANE_Status CSelkoScanFunc::Start() { return NoScan("CSelkoScanFunc::Start"); }
SANE_Status CSelkoScanFunc::ReadImgBuf(SANE_Byte* data, SANE_Int, SANE_Int* length) {
  return NoRead("CSelkoScanFunc::ReadImgBuf", data, length);
}
void CSelkoScanFunc::Cancel() {
  m_bIsCancel = 1;
  m_bScanning = 0;
}
