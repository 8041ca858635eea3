// The device classes of the Selko and Brenna families as the entry points
// reach them. The Brenna command protocol is not built yet: such a device
// opens, offers its options and refuses to scan.
#ifndef DRAVN_SECOND_FAMILY_SHELLS_H
#define DRAVN_SECOND_FAMILY_SHELLS_H

#include <sane/sane.h>

#include <atomic>
#include <cstdint>

#include "selko_scan_func.h"

class CBrennaScanFunc {
 public:
  SANE_Status InitDevice();
  SANE_Status Start();
  void SetReadImgBufSize() {}
  SANE_Status ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
  void Cancel();

  std::atomic<uint32_t> m_bIsCancel{0};
  std::atomic<uint32_t> m_bScanning{0};
};

#endif
