// The Selko2 batch as the entry points drive it. Page acquisition is not
// built yet: a start finds nothing to scan.
#include "log.h"
#include "selko2_scan_func.h"

SANE_Status CSelko2ScanFunc::Start() {
  WriteLog(LOG_LEVEL_ERROR, "CSelko2ScanFunc::Start", "scanning is not supported for this device");
  return SANE_STATUS_UNSUPPORTED;
}

void CSelko2ScanFunc::SetReadImgBufSize() {}

SANE_Status CSelko2ScanFunc::ReadImgBuf(SANE_Byte* data, SANE_Int /*maxLength*/, SANE_Int* length) {
  if (!data || !length) return SANE_STATUS_INVAL;
  *length = 0;
  return SANE_STATUS_EOF;
}

void CSelko2ScanFunc::Cancel() {
  m_bIsCancel = 1;
  m_bScanning = 0;
  m_bTransferEnd = 1;
  m_bFirstPage = 1;
  m_dwLastErr = 0;
}

void CSelko2ScanFunc::SetFrameGeometry(const KELO_IMAGEDATA_PARAMETERS& face, bool split, bool merge) {
  if (split)
    for (int b = SELKO2_FRONT_UPPER; b <= SELKO2_BACK_LOWER; ++b) m_tBufferGeometry[b] = face;
  if (merge) m_tBufferGeometry[SELKO2_MERGED] = face;
}

KELO_IMAGEDATA_PARAMETERS CSelko2ScanFunc::GetBufferGeometry(KELO_SELKO2_BUFFER buffer) const {
  return buffer >= SELKO2_FRONT_UPPER && buffer <= SELKO2_MERGED ? m_tBufferGeometry[buffer]
                                                                 : KELO_IMAGEDATA_PARAMETERS{};
}
