// The Brenna page: the per-page command sequence, the JPEG header, the
// device-image dump and the chunked page reads of one and two faces.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "brenna_jfif.h"
#include "brenna_scan_func.h"
#include "dravn_paths.h"
#include "log.h"
#include "second_backend.h"
#include "usb_manager.h"

namespace {

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

uint32_t Be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | p[2] << 8 | p[3];
}

std::atomic<unsigned> g_uiDumpCount{0};

}  // namespace

int CBrennaScanFunc::ScanScanner(int first) {
  const char* fn = "CBrennaScanFunc::ScanScanner";
  CLogScope scope(fn);
  auto fail = [&](const char* text) {
    LogError(fn, text);
    return 0;
  };
  if (!ModeSelect()) return fail("failed to ModeSelect");
  if (!SetWindow()) return fail("failed to SetWindow");
  const AVS_SCAN_PARAMETER& s = m_tScanParam;
  bool full = true;  // steps 3 to 5 of a batch's first page, or of a page without feeder
  if (first) {
    if (s.byFeeder && !ObjectPosition() && !ObjectPosition()) return fail("failed to ObjectPosition");
    if (!m_bToneReady && !DoSendLUTTable()) return fail("failed to DoSendLUTTable");
  } else {
    if (!m_bToneReady && !DoSendLUTTable()) return fail("failed to DoSendLUTTable");
    if (s.byFeeder) {
      PutTag(m_byWindow);
      if (!SetWindow(m_byWindow)) return fail("failed to SetWindow");
      full = false;
    }
  }
  if (full) {
    m_bPaperReleased = 0;
    UpdateScanParameter();
    RequestSense(0);
    if (m_dwLastErr > BRENNA_ERR_END_OF_PAGE) {
      m_bPaperReleased = 1;
      return fail("RequestSense HW error");
    }
    m_dwLastErr = 0;
    if (!ReserveUnit(2)) {
      m_bPaperReleased = 1;
      return fail("failed to ReserveUnit(0x02)");
    }
    PutTag(m_byWindow);
    if (!SetWindow(m_byWindow)) return fail("failed to SetWindow");
  }
  if (full && first) {
    if (m_byWindow[44] != 0) {
      if (!Send(0x95, s.byAutoSize)) return fail("failed to Send(0x95)");
      if (m_byWindow[44] != 0 && !Send(0x96, s.byAutoSize)) return fail("failed to Send(0x96)");
    }
    PutTag(m_byJpegBlock);
    memcpy(m_byJpegBlock + 2, BrennaJpegTable(s.byJpegTable) + 2, sizeof m_byJpegBlock - 2);
    if (!Send(0x8B, 0)) return fail("failed to Send(0x8B)");
    for (auto& gamma : m_byGammaBlock) PutTag(gamma);
    if (!Send(0x81, 0)) return fail("failed to Send(0x81)");
    if (m_byWindow[44] != 0 && !MediaCheck(0, nullptr)) return fail("failed to MediaCheck");
    if (!ReadCalibration(nullptr)) return fail("failed to ReadCalibration");
    if (m_byWindow[44] == 4 && !ReadDuplex(nullptr)) return fail("failed to ReadDuplex");
  } else if (s.bySinglePage) {
    if (!ReadCalibration(nullptr)) return fail("failed to ReadCalibration(Page Scan)");
  }
  if (!ReserveUnit(0)) return fail("failed to ReserveUnit(0x00)");
  const int read = m_byWindow[44] == 4 ? ReadImageDataDuplex() : ReadImageData();
  const bool autofeed = Prop().AUTOFEED == 1;
  if (read) {
    // The page's own verdict (an all-zero page) survives the releases.
    const uint32_t verdict = m_dwLastErr;
    if (!ReleaseUnit(0)) return fail("failed to ReleaseUnit(0x00)");
    if (m_bIsCancel && autofeed) {
      if (!ReleaseUnit(1)) return fail("failed to ReleaseUnit(0x01)");
      if (!ReleaseUnit(2)) return fail("failed to ReleaseUnit(0x02)");
    }
    if (!s.byFeeder) {
      if (!ReleaseUnit(2)) return fail("failed to ReleaseUnit(0x02)");
      m_bPaperReleased = 1;
    }
    if (m_dwLastErr == 0) m_dwLastErr = verdict;
    return 1;
  }
  const uint32_t verdict = m_dwLastErr;
  if (verdict == BRENNA_ERR_CANCELLED) {
    LogError(fn, "StopScan");
    ReleaseUnit(1);
    m_bStopped = 1;
  } else if (verdict == BRENNA_ERR_JAM2) {
    MediaCheck(0, nullptr);
  }
  if (autofeed) {
    MediaCheck(0, nullptr);
    ReleaseUnit(2);
  }
  // What ended the page is what the caller reports, not the clean-up.
  m_dwLastErr = verdict;
  return fail("failed to ReadImageData");
}

int CBrennaScanFunc::AddJPEGHeader(const unsigned char* data, unsigned int length) {
  const char* fn = "CBrennaScanFunc::AddJPEGHeader";
  const int headerLength = SetJFIFHeader(0, 0, 0, 0, 0, 0x11, nullptr, nullptr);
  unsigned char* header = new (std::nothrow) unsigned char[headerLength];
  if (!header) {
    LogError(fn, "header = NULL");
    return 0;
  }
  const unsigned char* tables = BrennaJpegTable(m_tScanParam.byJpegTable) + 4;
  SetJFIFHeader(0, static_cast<unsigned>(m_bySense[21] << 8 | m_bySense[22]), Be32(m_bySense + 23), m_tScanParam.dwXRes,
                m_tScanParam.dwYRes, 0x11, tables, header);
  delete[] m_pbyJPEGImage;
  m_pbyJPEGImage = new (std::nothrow) unsigned char[static_cast<size_t>(length) + headerLength];
  if (!m_pbyJPEGImage) {
    delete[] header;
    m_dwJPEGImageSize = 0;
    LogError(fn, "m_pbyJPEGImage = NULL");
    return 0;
  }
  memcpy(m_pbyJPEGImage, header, headerLength);
  if (length) memcpy(m_pbyJPEGImage + headerLength, data, length);
  m_dwJPEGImageSize = length + headerLength;
  delete[] header;
  return 1;
}

int CBrennaScanFunc::WriteLogDeviceImage(const unsigned char* data) {
  const char* fn = "CBrennaScanFunc::WriteLogDeviceImage";
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  char path[512];
  snprintf(path, sizeof path, "%s/DevImg_%04d%02d%02d_%02d%02d%02d_%03d.jpg", DRAVN_LOG_DIR, local.tm_year + 1900,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
           static_cast<int>(static_cast<uint16_t>(now.tv_usec)));
  // A shared, world-writable place: never follow a link planted there.
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!file) {
    if (fd >= 0) close(fd);
    LogError(fn, "fp = NULL");
    return 0;
  }
  const bool ok = data && fwrite(data, 1, m_dwJPEGImageSize, file) == m_dwJPEGImageSize;
  fclose(file);
  ++g_uiDumpCount;
  return ok ? 1 : 0;
}

// One chunk of one face into its growing buffer. `state`: 0 reading, 1 the
// face ended (end-of-page sense or a verdict), -1 transport failure.
int CBrennaScanFunc::ReadPageFace(unsigned char*& data, size_t& capacity, size_t& used, bool& first, int& state,
                                  const char* fail) {
  const uint32_t chunk = m_tScanParam.dwChunkSize;
  if (capacity - used < chunk) {
    // Geometric growth: a long page costs linear time, not one full copy
    // per chunk.
    const size_t grown = std::max(capacity * 2, used + chunk);
    auto* bigger = static_cast<unsigned char*>(realloc(data, grown));
    if (!bigger) {
      m_dwLastErr = BRENNA_ERR_NO_MEMORY;
      LogError("CBrennaScanFunc::ReadImageData", "pInBufTemp == NULL");
      state = 1;
      return 0;
    }
    data = bigger;
    capacity = grown;
  }
  if (!DoIo(m_byCmd[BRENNA_READ], data + used, chunk, 0)) {
    LogError("CBrennaScanFunc::ReadImageData", fail);
    state = -1;
    return 0;
  }
  used += chunk;
  if (first) {
    first = false;
    if (m_dwLastErr != 0 && m_dwLastErr != BRENNA_ERR_END_OF_PAGE) {
      state = 1;
      return 1;
    }
    bool zero = true;
    for (uint32_t i = 0; i < 256 && i < chunk && zero; ++i) zero = data[i] == 0;
    if (zero) {
      m_dwLastErr = BRENNA_ERR_ZERO_PAGE;
      state = 1;
      return 1;
    }
  }
  if (m_dwLastErr == BRENNA_ERR_END_OF_PAGE) {
    m_dwLastErr = 0;
    state = 1;
  } else if (m_dwLastErr != 0) {
    state = 1;
  }
  return 1;
}

// A face that ended: wrapped into a JFIF stream when the device said "end of
// page"; 1 kept (or no sense, nothing kept), 0 failure.
int CBrennaScanFunc::FinishFace(unsigned char* data, size_t used, unsigned char*& held, uint32_t& heldSize,
                                uint16_t* dims, const char* memoryLack, const char* deviceError) {
  const char* fn = "CBrennaScanFunc::ReadImageData";
  if (m_dwLastErr == BRENNA_ERR_NO_MEMORY) return 0;
  if (!SenseIsValid()) return 1;
  if (SenseCode() != 0x8004 || m_dwLastErr != 0) {
    LogError(fn, deviceError);
    return 0;
  }
  if (!AddJPEGHeader(data, static_cast<unsigned>(used))) {
    m_dwLastErr = BRENNA_ERR_NO_MEMORY;
    LogError(fn, memoryLack);
    return 0;
  }
  if (m_bSaveDevImg) WriteLogDeviceImage(m_pbyJPEGImage);
  delete[] held;
  held = m_pbyJPEGImage;
  heldSize = m_dwJPEGImageSize;
  m_pbyJPEGImage = nullptr;
  m_dwJPEGImageSize = 0;
  dims[0] = static_cast<uint16_t>(m_bySense[21] << 8 | m_bySense[22]);
  dims[1] = static_cast<uint16_t>(m_bySense[25] << 8 | m_bySense[26]);
  return 1;
}

namespace {
void SetChunkLength(unsigned char* block, uint32_t chunk) {
  block[4] = 0x00;
  block[7] = 0;
  block[8] = chunk == 0x40000 ? 0x04 : 0x01;
  block[9] = block[10] = 0;
}
}  // namespace

int CBrennaScanFunc::ReadImageData() {
  const char* fn = "CBrennaScanFunc::ReadImageData";
  CLogScope scope(fn);
  SetChunkLength(m_byCmd[BRENNA_READ], m_tScanParam.dwChunkSize);
  if (m_tScanParam.dwChunkSize != 0x40000) m_tScanParam.dwChunkSize = 0x10000;
  unsigned char* data = nullptr;
  size_t capacity = 0, used = 0;
  bool first = true;
  int state = 0;
  while (state == 0) {
    if (m_bIsCancel) {
      free(data);
      m_dwLastErr = BRENNA_ERR_CANCELLED;
      LogError(fn, "Operation was cancelled");
      return 0;
    }
    ReadPageFace(data, capacity, used, first, state, "failed to read image");
  }
  if (state < 0) {
    free(data);
    return 0;
  }
  const int rc = FinishFace(data, used, m_pbySimplex, m_dwSimplexSize, m_wSimplexDims, "Memory Lack", "Device Error");
  free(data);
  return rc;
}

int CBrennaScanFunc::ReadImageDataDuplex() {
  const char* fn = "CBrennaScanFunc::ReadImageDataDuplex";
  CLogScope scope(fn);
  SetChunkLength(m_byCmd[BRENNA_READ], m_tScanParam.dwChunkSize);
  if (m_tScanParam.dwChunkSize != 0x40000) m_tScanParam.dwChunkSize = 0x10000;
  struct Face {
    unsigned char* data = nullptr;
    size_t capacity = 0, used = 0;
    bool first = true;
    int state = 0;
    bool finished = false;
  } faces[2];
  int rc = 1;
  int side = 0;
  while (faces[0].state == 0 || faces[1].state == 0) {
    if (m_bIsCancel) {
      m_dwLastErr = BRENNA_ERR_CANCELLED;
      LogError(fn, "Operation was cancelled");
      rc = 0;
      break;
    }
    if (faces[side].state != 0) side ^= 1;
    Face& f = faces[side];
    ReadPageFace(f.data, f.capacity, f.used, f.first, f.state,
                 side == 0 ? "failed to read image(front)" : "failed to read image(back)");
    if (f.state < 0) {
      rc = 0;
      break;
    }
    if (f.state == 1) {
      // A face without a valid sense stops the read as the simplex one.
      if (!SenseIsValid() && m_dwLastErr != BRENNA_ERR_NO_MEMORY) break;
      const int kept =
          side == 0
              ? FinishFace(f.data, f.used, m_pbyFront, m_dwFrontSize, m_wFrontDims, "Memory Lack(F)", "Device Error(F)")
              : FinishFace(f.data, f.used, m_pbyBack, m_dwBackSize, m_wBackDims, "Memory Lack(B)", "Device Error(B)");
      if (!kept) {
        rc = 0;
        break;
      }
    }
    side ^= 1;
  }
  free(faces[0].data);
  free(faces[1].data);
  return rc;
}

int CBrennaScanFunc::ScanSync() {
  if (ScanScanner(m_bFirstPage)) {
    m_bFirstPage = 0;
    return 1;
  }
  m_bFirstPage = 1;
  if (m_dwLastErr == 0) {
    m_dwLastErr = BRENNA_ERR_IO;
    LogError("CBrennaScanFunc::ScanSync", "unknown error");
  }
  ReleaseImageData();
  LogError("CBrennaScanFunc::ScanSync", "failed to ScanScanner");
  return 0;
}

SANE_Status CBrennaScanFunc::ScanPapers() {
  const int ok = ScanScanner(m_bFirstPage);
  m_bFirstPage = 0;
  if (!ok) ReleaseImageData();
  return ConvertToSaneErr(m_dwLastErr);
}

void CBrennaScanFunc::ReleaseImageData() {
  if (m_tScanParam.byDuplex) {
    delete[] m_pbyFront;
    delete[] m_pbyBack;
    m_pbyFront = m_pbyBack = nullptr;
    m_dwFrontSize = m_dwBackSize = 0;
    m_wFrontDims[0] = m_wFrontDims[1] = m_wBackDims[0] = m_wBackDims[1] = 0;
  } else {
    delete[] m_pbySimplex;
    m_pbySimplex = nullptr;
    m_dwSimplexSize = 0;
  }
  delete[] m_pbyJPEGImage;
  m_pbyJPEGImage = nullptr;
  m_dwJPEGImageSize = 0;
}

// A held page copied into a buffer the pipeline can decode into; the held
// page is freed.
unsigned char* CBrennaScanFunc::CopyHeld(unsigned char*& held, uint32_t& heldSize,
                                         const KELO_IMAGEDATA_PARAMETERS& src) {
  unsigned char* copy = CopyIntoPage(held, heldSize, src);
  delete[] held;
  held = nullptr;
  heldSize = 0;
  return copy;
}

