// How the Selko class obtains one page: the check of the device at open and
// of the scan properties at start, the scan-parameter record, and the
// command sequence that reads a page's compressed faces piece by piece.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "option_table.h"
#include "selko_scan_func.h"

namespace {

constexpr int kAutomaticPaperSize = 12;
constexpr uint32_t kFixedWord = 0x00040000;
constexpr useconds_t kNameRetryPause = 500 * 1000;
constexpr useconds_t kStatusPause = 100 * 1000;
constexpr int kStatusAsks = 10;
// Where the compressed page carries its frame size (big-endian height, then
// width), by the record's colour code.
constexpr uint32_t kFrameSizeAt = 230, kFrameSizeAtCode1 = 100;
// A face may bring this many times its raw size before it counts as no page
// the window can give.
constexpr uint64_t kFaceLimitFactor = 4;

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void Put32(FIT_SCAN_PARAMETER& r, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) r.bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

int ScanResolution(int requested) { return requested <= 300 ? 300 : 600; }

// 26 mm and the custom-size limits in 1/1200 inch.
constexpr double kMinLength = 1228.5039653929343;
constexpr double kMaxCustomWidth = 10206.03893294881;
constexpr double kMaxLength300 = 40805.255948089405;
constexpr double kMaxLength600 = 16802.164383561645;

}  // namespace

// --- open ------------------------------------------------------------------------

SANE_Status CSelkoScanFunc::InitDevice() {
  const char* fn = "CSelkoScanFunc::InitDevice";
  CLogScope scope(fn);
  if (DoCheckDeviceCondition()) return SANE_STATUS_GOOD;
  LogError(fn, "DoCheckDeviceCondition failed");
  return ConvertToSaneErr(m_dwLastErr);
}

bool CSelkoScanFunc::DoCheckDeviceCondition() {
  const char* fn = "CSelkoScanFunc::DoCheckDeviceCondition";
  CLogScope scope(fn);
  if (!ConnectScanner()) {
    TerminateScanner();
    LogError(fn, "failed to handshaking start(1st)");
    return false;
  }
  unsigned char name[16];
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt) usleep(kNameRetryPause);
    if (GetScannerName(name) != 0) continue;
    TerminateScanner();
    if (selko::IsSupportedName(name)) {
      WriteLog(LOG_LEVEL_DEBUG, fn, "support");
      return true;
    }
    m_dwLastErr = SELKO_ERR_UNSUPPORTED;
    LogError(fn, "unsupported scanner");
    return false;
  }
  TerminateScanner();
  m_dwLastErr = SELKO_ERR_NO_NAME;
  LogError(fn, "failed to get scanner's name");
  return false;
}

// --- the scan-parameter record -----------------------------------------------

void CSelkoScanFunc::InitScanParameter() {
  memset(&m_tScanParameter, 0, sizeof m_tScanParameter);
  m_tScanParameter.bytes[7] = 100;
  m_tScanParameter.bytes[8] = 127;
  Put32(m_tScanParameter, 12, kFixedWord);
  Put32(m_tScanParameter, 20, 300);
  Put32(m_tScanParameter, 24, 300);
  Put32(m_tScanParameter, 36, 2550);
  Put32(m_tScanParameter, 40, 4200);
}

bool CSelkoScanFunc::ModeSelect() {
  CLogScope scope("CSelkoScanFunc::ModeSelect");
  const KELO_PROP_INFO& p = Prop();
  FIT_SCAN_PARAMETER& r = m_tScanParameter;
  r.bytes[4] = p.PAPER_SIZE == kAutomaticPaperSize ? 1 : 0;
  r.bytes[3] = p.DF_ACTION == 1 && p.MF_OVERLAPPING ? 1 : 0;
  r.bytes[2] = p.AUTOFEED ? 0 : 1;
  Put32(r, 16, p.AUTOFEED ? 0 : 1);
  return true;
}

bool CSelkoScanFunc::SetWindow() {
  const char* fn = "CSelkoScanFunc::SetWindow";
  CLogScope scope(fn);
  const KELO_PROP_INFO& p = Prop();
  FIT_SCAN_PARAMETER& r = m_tScanParameter;
  const int64_t R = ScanResolution(p.SCAN_RES_X), Y = ScanResolution(p.SCAN_RES_Y);
  const int64_t W = R == 300 ? 2550 : 5100;
  const bool automatic = p.PAPER_SIZE == kAutomaticPaperSize;
  double left = p.TOP_LEFT_X, top = p.TOP_LEFT_Y, right = p.BOTTOM_RIGHT_X, bottom = p.BOTTOM_RIGHT_Y;
  if (automatic) left = 0, top = 0, right = p.CUST_PAGE_WIDTH, bottom = p.CUST_PAGE_LENGTH;
  Put32(r, 20, static_cast<uint32_t>(R));
  Put32(r, 24, static_cast<uint32_t>(Y));
  r.bytes[5] = 0;
  Put32(r, 12, kFixedWord);
  int64_t x = static_cast<int64_t>(left * R / 1200);
  const int64_t y = static_cast<int64_t>(top * R / 1200);
  int64_t width = static_cast<int64_t>(right - left) * R / 1200;
  int64_t height = static_cast<int64_t>(bottom - top) * R / 1200;
  r.bytes[8] = p.THRESHOLD;
  r.bytes[6] = 0;
  r.bytes[7] = 70;
  r.bytes[1] = p.SCAN_FACE == 2 || p.SCAN_FACE == 3 ? 1 : p.SCAN_FACE == 1 ? 0 : r.bytes[1];
  int64_t pageWidth;
  if (automatic) {
    width = std::min(width + R * 762 / 1200, R * 10369 / 1200);
    const int64_t margin = Y * 936 / 1200, limit = Y * 150019 / 1200;
    if (height + margin > limit) height = limit - margin;
    pageWidth = width;
  } else {
    pageWidth = static_cast<int64_t>(p.CUST_PAGE_WIDTH) * R / 1200;
  }
  if (pageWidth < W) x += static_cast<int64_t>(0.5 * W - static_cast<double>(pageWidth / 2));
  Put32(r, 28, static_cast<uint32_t>(x));
  Put32(r, 32, static_cast<uint32_t>(y));
  Put32(r, 36, static_cast<uint32_t>(width));
  Put32(r, 40, static_cast<uint32_t>(height));
  return true;
}

void CSelkoScanFunc::UpdateScanParameter() {
  const KELO_PROP_INFO& p = Prop();
  FIT_SCAN_PARAMETER& r = m_tScanParameter;
  if (p.AUTOFEED) {
    r.bytes[2] = 0;
    Put32(r, 16, 0);
    return;
  }
  const uint32_t count = Le32(r.bytes + 16);
  r.bytes[2] = count != 0 ? 1 : 0;
  if (r.bytes[1]) Put32(r, 16, count * 2);
}

bool CSelkoScanFunc::DoSendLUTTable() {
  CLogScope scope("CSelkoScanFunc::DoSendLUTTable");
  for (int i = 0; i < 256; ++i) m_byToneLUT[i] = static_cast<unsigned char>(i);
  m_Steps.ResetToneTables();
  return true;
}

// --- the scan properties ---------------------------------------------------------

bool CSelkoScanFunc::DoCheckPropList() {
  const char* fn = "CSelkoScanFunc::DoCheckPropList";
  CLogScope scope(fn);
  const KELO_PROP_INFO& p = g_PropInfo;
  if (const char* fault = FeederPropFault(p)) return RefuseProp(fn, fault);
  if (p.PAPER_SIZE != kAutomaticPaperSize) {
    if (NoPaperGeometry()) return RefuseProp(fn, "invalid paper size");
    if (p.BOTTOM_RIGHT_X - p.TOP_LEFT_X < kMinLength || p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y < kMinLength)
      return RefuseProp(fn, "Scan min length < 26mm and scan min height < 26mm");
    if (p.PAPER_SIZE == 0) {
      if (p.CUST_PAGE_WIDTH > kMaxCustomWidth) return RefuseProp(fn, "invalid paper width");
      if (p.SCAN_RES_X <= 300 && p.CUST_PAGE_LENGTH > kMaxLength300)
        return RefuseProp(fn, "invalid paper length(50-300dpi)");
      if (p.SCAN_RES_X > 300 && p.CUST_PAGE_LENGTH > kMaxLength600)
        return RefuseProp(fn, "invalid paper length(>300dpi)");
    }
  }
  if (p.BRIGHTNESS < -127 || p.BRIGHTNESS > 127) return RefuseProp(fn, "invalid brightness");
  if (p.CONTRAST < -127 || p.CONTRAST > 127) return RefuseProp(fn, "invalid contrast");
  if (p.BW_MODE < 1 || p.BW_MODE > 3) return RefuseProp(fn, "invalid binarization method");
  if (p.EDGE_FILLER_TOP < 0 || p.EDGE_FILLER_BOTTOM < 0 || p.EDGE_FILLER_LEFT < 0 || p.EDGE_FILLER_RIGHT < 0)
    return RefuseProp(fn, "invalid edge filler");
  if (p.DF_ACTION > 1) return RefuseProp(fn, "invalid df-action");
  if (p.BLANK_PAGE_SKIP_SENSITIVITY < -2 || p.BLANK_PAGE_SKIP_SENSITIVITY > 2)
    return RefuseProp(fn, "invalid blank page skip sensitivity");
  return true;
}

bool CSelkoScanFunc::ScanPrepare() {
  const char* fn = "CSelkoScanFunc::ScanPrepare";
  CLogScope scope(fn);
  if (!ModeSelect()) return LogError(fn, "ModeSelect error"), false;
  if (!SetWindow()) return LogError(fn, "SetWindow error"), false;
  if (!m_bLUTBuilt && !DoSendLUTTable()) return LogError(fn, "DoSendLUTTable error"), false;
  if (m_bFirstPage && !ObjectPosition()) return LogError(fn, "ObjectPosition error"), false;
  if (!ConnectScanner()) {
    TerminateScanner();
    LogError(fn, "failed to handshaking start");
    return false;
  }
  return true;
}

// --- one page -------------------------------------------------------------------

bool CSelkoScanFunc::AllocateBuffers() {
  const char* fn = "CSelkoScanFunc::ScanScanner";
  const FIT_SCAN_PARAMETER& r = m_tScanParameter;
  const uint64_t width = Le32(r.bytes + 36), height = Le32(r.bytes + 40);
  const unsigned code = r.bytes[5];
  uint64_t size = code >= 5 && code <= 8 ? (width + 7) / 8 * height : width * height * 3;
  const uint32_t xr = Le32(r.bytes + 20), yr = Le32(r.bytes + 24);
  if ((xr == 300 && yr == 300 && size < 0x280000) || (xr == 600 && yr == 600 && size < 0xA00000)) size *= 3;
  size = std::max<uint64_t>(std::min<uint64_t>(size, UINT32_MAX / kFaceLimitFactor), 1);
  auto allocate = [&](SelkoFaceBuffer& b, const char* failure) {
    if (b.pbyImage && b.dwCapacity >= size) {
      b.dwFill = 0;
      return true;
    }
    free(b.pbyImage);
    b = SelkoFaceBuffer{};
    b.pbyImage = static_cast<unsigned char*>(malloc(static_cast<size_t>(size)));
    if (!b.pbyImage) {
      m_dwLastErr = SELKO_ERR_MEMORY;
      LogError(fn, failure);
      return false;
    }
    b.dwCapacity = static_cast<uint32_t>(size);
    return true;
  };
  if (r.bytes[1])
    return allocate(m_stImageDataDuplex[0], "m_stImageDataDuplex.pbyImageFront == NULL") &&
           allocate(m_stImageDataDuplex[1], "m_stImageDataDuplex.pbyImageBack == NULL");
  return allocate(m_stImageDataSimplex, "m_stImageDataSimplex.pbyImageFront == NULL");
}

// Appends one piece to its face's buffer, which grows up to a bound set by
// the window: what lies beyond is no page the window can give.
bool CSelkoScanFunc::StoreReply(const FIT_COMMAND_STATUS& status, const unsigned char* data, uint32_t length) {
  const char* fn = "CSelkoScanFunc::ScanScanner";
  const bool both = m_tScanParameter.bytes[1] != 0;
  SelkoFaceBuffer& b = (status.bytes[1] & selko::kBackFace) && both ? m_stImageDataDuplex[1]
                       : both                                       ? m_stImageDataDuplex[0]
                                                                    : m_stImageDataSimplex;
  if (length) {
    const FIT_SCAN_PARAMETER& r = m_tScanParameter;
    const uint64_t limit = std::min<uint64_t>(
        kFaceLimitFactor * 3 * std::max<uint64_t>(Le32(r.bytes + 36), 1) * std::max<uint64_t>(Le32(r.bytes + 40), 1) +
            (1u << 20),
        UINT32_MAX);
    const uint64_t need = uint64_t{b.dwFill} + length;
    if (need > limit) {
      m_dwLastErr = SELKO_ERR_IO;
      LogError(fn, "image data exceeds the window");
      return false;
    }
    if (need > b.dwCapacity) {
      const uint64_t grown = std::min<uint64_t>(std::max<uint64_t>(need, 2 * uint64_t{b.dwCapacity}), limit);
      auto* bigger = static_cast<unsigned char*>(realloc(b.pbyImage, static_cast<size_t>(grown)));
      if (!bigger) {
        m_dwLastErr = SELKO_ERR_MEMORY;
        LogError(fn, "realloc() == NULL");
        return false;
      }
      b.pbyImage = bigger;
      b.dwCapacity = static_cast<uint32_t>(grown);
    }
    memcpy(b.pbyImage + b.dwFill, data, length);
    b.dwFill += length;
  }
  b.tReply = status;
  if (status.bytes[1] & selko::kPageEnd) {
    // The stream was written before the page's size was known.
    const uint32_t at = m_tScanParameter.bytes[5] == 1 ? kFrameSizeAtCode1 : kFrameSizeAt;
    const uint16_t height = Le16(status.bytes + 12), width = Le16(status.bytes + 8);
    if (b.pbyImage && b.dwFill >= at + 4) {
      b.pbyImage[at] = static_cast<unsigned char>(height >> 8);
      b.pbyImage[at + 1] = static_cast<unsigned char>(height);
      b.pbyImage[at + 2] = static_cast<unsigned char>(width >> 8);
      b.pbyImage[at + 3] = static_cast<unsigned char>(width);
    }
  }
  return true;
}

bool CSelkoScanFunc::ScanScanner(bool first) {
  const char* fn = "CSelkoScanFunc::ScanScanner";
  CLogScope scope(fn);
  FIT_COMMAND_STATUS status{};
  if (first) {
    m_bTransferEnd = 0;
    m_dwLastErr = SELKO_ERR_NONE;
    if (!m_bConnected) {
      m_dwLastErr = SELKO_ERR_USB;
      LogError(fn, "not connected");
      return false;
    }
    unsigned char state = 0;
    int asks = 0;
    int rc = CheckScannerStatus(&state);
    while (rc == 0 && state != 0 && ++asks < kStatusAsks) {
      usleep(kStatusPause);
      rc = CheckScannerStatus(&state);
    }
    if (rc != 0) {
      m_dwLastErr = SELKO_ERR_IO;
      LogError(fn, "failed to check scanner status");
      return false;
    }
    if (m_dwLastErr != SELKO_ERR_NONE) {
      // The device state: cover open, paper empty, or a device code.
      LogError(fn, m_dwLastErr == SELKO_ERR_PAPER_EMPTY ? "Paper Empty" : "device state error");
      return false;
    }
    UpdateScanParameter();
    if (!CommandRetry(selko::kSet, selko::kScanParameter, m_tScanParameter.bytes, sizeof m_tScanParameter.bytes,
                      &status, nullptr, nullptr)) {
      if (m_dwLastErr != SELKO_ERR_NOT_READY) m_dwLastErr = SELKO_ERR_PARAMETER;
      LogError(fn, "failed to set scan parameter");
      return false;
    }
    if (!CommandRetry(selko::kControl, selko::kStartScan, nullptr, 0, &status, nullptr, nullptr)) {
      if (m_dwLastErr != SELKO_ERR_NOT_READY) m_dwLastErr = SELKO_ERR_IO;
      LogError(fn, "failed to start scan");
      return false;
    }
  }
  if (!AllocateBuffers()) return false;

  const bool both = m_tScanParameter.bytes[1] != 0;
  const bool singlePage = Le32(m_tScanParameter.bytes + 16) != 0;
  _FIT_CMD_HEADER_ read;
  SendCmd(selko::kQuery, selko::kReadImage, 0, &read);
  for (;;) {
    if (m_bIsCancel) {
      m_dwLastErr = SELKO_ERR_CANCELLED;
      break;
    }
    unsigned char* data = nullptr;
    uint32_t length = 0;
    if (!USBRW(read, nullptr, &status, &data, &length)) {
      if (m_dwLastErr != SELKO_ERR_MEMORY) m_dwLastErr = SELKO_ERR_IO;
      LogError(fn, "failed to read image");
      break;
    }
    const unsigned char flags = status.bytes[1], code = status.bytes[2];
    bool successful = true;
    if (code == SELKO_ERR_PAPER_EMPTY) {
      m_dwLastErr = SELKO_ERR_PAPER_EMPTY;
      LogError(fn, "Paper Empty");
      successful = false;
    } else if (code != 0) {
      free(data);
      m_dwLastErr = code;
      LogError(fn, "other error code");
      break;
    }
    const bool stored = StoreReply(status, data, length);
    free(data);
    if (!stored) break;
    if (flags & selko::kPageEnd) {
      const bool complete = Le16(status.bytes + 14) != 0;
      if (!complete && singlePage) {
        m_bTransferEnd = 1;
        WriteLog(LOG_LEVEL_DEBUG, fn, "paper empty(when single page mode)");
        successful = false;
      } else {
        const int face = both && (flags & selko::kBackFace) ? 1 : 0;
        ++m_wPageCount[face];
        if (!both || ((m_stImageDataDuplex[0].tReply.bytes[1] & selko::kPageEnd) &&
                      (m_stImageDataDuplex[1].tReply.bytes[1] & selko::kPageEnd))) {
          WriteLog(LOG_LEVEL_DEBUG, fn,
                   both ? "One or more paper is in a hopper or not(duplex)"
                        : "One or more paper is in a hopper or not(simplex)");
          if (flags & selko::kNoFurtherPage) m_bTransferEnd = 1;
          // A stop asked on the page's last piece still ends the batch: the
          // page is whole and goes on, the stop is sent now and reported
          // after it.
          if (flags & selko::kStopRequested) {
            FIT_COMMAND_STATUS stop{};
            if (CommandRetry(selko::kControl, selko::kStopScan, nullptr, 0, &stop, nullptr, nullptr)) {
              m_bTransferEnd = 1;
              m_bDeviceStop = 1;
              LogError(fn, "stop scan");
            } else {
              LogError(fn, "failed to stop scan");
            }
          }
          m_dwLastErr = SELKO_ERR_NONE;
          return true;
        }
      }
    }
    if ((code & 0x0F) == SELKO_ERR_PAPER_EMPTY) {
      m_bTransferEnd = 1;
      WriteLog(LOG_LEVEL_DEBUG, fn, "paper empty");
      if (!(flags & selko::kStopRequested)) break;
    }
    if (flags & selko::kStopRequested) {
      FIT_COMMAND_STATUS stop{};
      if (CommandRetry(selko::kControl, selko::kStopScan, nullptr, 0, &stop, nullptr, nullptr)) {
        m_bTransferEnd = 1;
        m_dwLastErr = SELKO_ERR_CANCELLED;
        LogError(fn, "stop scan");
      } else {
        LogError(fn, "failed to stop scan");
      }
      break;
    }
    if (!successful) break;
  }
  if (m_dwLastErr != SELKO_ERR_NONE) {
    LogError(fn, "m_dwLastErr != ERR_NONE");
    return false;
  }
  return true;
}

// --- geometry of a page ---------------------------------------------------------

namespace {

KELO_IMAGEDATA_PARAMETERS FaceRecord(const KELO_PROP_INFO& p, int resX, int resY) {
  KELO_IMAGEDATA_PARAMETERS face;
  face.iFormat = p.SCAN_MODE == 2 ? 1 : 0;
  face.iLastFrame = 1;
  face.iPixelsPerLine = static_cast<int>(static_cast<int64_t>(p.BOTTOM_RIGHT_X - p.TOP_LEFT_X) * resX / 1200);
  face.iLines = static_cast<int>(static_cast<int64_t>(p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y) * resY / 1200);
  face.iBytesPerLine = face.iPixelsPerLine * 3;
  face.iDepth = p.SCAN_MODE == 0 ? 1 : 8;
  return face;
}

}  // namespace

bool CSelkoScanFunc::GetSrcImageInfo(KELO_IMAGEDATA_PARAMETERS* pstSrcImageInfo) const {
  if (!pstSrcImageInfo) {
    LogError("CSelkoScanFunc::GetSrcImageInfo", "pstSrcImageInfo == NULL");
    return false;
  }
  const KELO_PROP_INFO& p = Prop();
  pstSrcImageInfo[0] = FaceRecord(p, ScanResolution(p.SCAN_RES_X), ScanResolution(p.SCAN_RES_Y));
  pstSrcImageInfo[1] = pstSrcImageInfo[0];
  return true;
}

bool CSelkoScanFunc::GetDstImageInfo(KELO_IMAGEDATA_PARAMETERS* pstDstImageInfo) const {
  if (!pstDstImageInfo) {
    LogError("CSelkoScanFunc::GetDstImageInfo", "pstDstImageInfo == NULL");
    return false;
  }
  const KELO_PROP_INFO& p = Prop();
  pstDstImageInfo[0] = FaceRecord(p, p.SCAN_RES_X, p.SCAN_RES_Y);
  pstDstImageInfo[1] = pstDstImageInfo[0];
  return true;
}
