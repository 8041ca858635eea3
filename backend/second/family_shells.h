// The device class of the Selko family as the entry points reach it. Its
// command protocol is not built yet: a device opens, offers its options and
// refuses to scan. The Brenna class is in brenna_scan_func.h.
#ifndef DRAVN_SECOND_FAMILY_SHELLS_H
#define DRAVN_SECOND_FAMILY_SHELLS_H

#include <sane/sane.h>

#include <atomic>
#include <cstdint>

#include "brenna_scan_func.h"

class CSelkoScanFunc {
 public:
  SANE_Status InitDevice();
  SANE_Status Start();
  void SetReadImgBufSize() {}
  SANE_Status ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
  void Cancel();

  // Read by the signal handler.
  std::atomic<uint32_t> m_bIsCancel{0};
  std::atomic<uint32_t> m_bScanning{0};
};

#endif
