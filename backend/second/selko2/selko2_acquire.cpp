// How the Selko2 class obtains one sheet: the check of the scan properties
// before a batch, the preparation of each sheet, the command sequence that
// reads its compressed faces block by block, the repair of the JPEG headers
// the scanner sends, the geometry records of a sheet and the debug copies of
// device pages.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "dravn_paths.h"
#include "frontend_flags.h"
#include "large_block.h"
#include "log.h"
#include "option_table.h"
#include "second_backend.h"
#include "selko2_scan_func.h"
#include "usb_manager.h"

std::atomic<uint32_t> g_bSendScanParamCmd{1};
std::atomic<uint32_t> g_bSendStopCmd{0};

namespace {

constexpr int kUsbTimeOut = 5000;
constexpr int kImageTimeOut = 30000;
constexpr int kAutomaticPaperSize = 12;
constexpr int kCroppingOverscan = 3;
constexpr uint8_t kAutomaticSizeBit = 0x08;
// Window limits in 1/1200 inch.
constexpr long kOverscanUnits = 936;
constexpr long kMaxWidthUnits = 10368;
// Trailing statuses polled after a sheet before the scanner counts as lost.
constexpr int kTrailingStatusLimit = 1000;
// Device image bytes dropped in pieces of this size.
constexpr uint32_t kDiscardPiece = 1 << 20;

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

// A length of the option layer (SANE_Fixed millimetres) in 1/1200 inch.
double MmToUnits(double mm) { return mm * 65536.0 / KELO_MM_PER_UNIT_FIXED; }
double FixedToUnits(SANE_Word fixed) { return fixed / KELO_MM_PER_UNIT_FIXED; }

int ReadResolution(int requested) { return requested <= 300 ? 300 : 600; }

// The longest scan the feeder allows at a horizontal resolution, in units.
long LengthLimitUnits(int resolution) { return resolution > 300 ? 17736 : resolution > 200 ? 41736 : 150936; }

// The raw face buffer starts at 3 x W x (L / 2) bytes and grows as the
// scanner sends more; past this the face is no page the window can give.
size_t RawLimit(uint64_t width, uint64_t length) {
  uint64_t limit = 2 * 3 * std::max<uint64_t>(width, 1) * std::max<uint64_t>(length, 1) + (1u << 20);
  return static_cast<size_t>(std::min<uint64_t>(limit, UINT32_MAX));
}

}  // namespace

// --- the scan properties -------------------------------------------------

bool CSelko2ScanFunc::DoCheckPropList() {
  const char* fn = "CSelko2ScanFunc::DoCheckPropList";
  CLogScope scope(fn);
  const KELO_PROP_INFO& p = g_PropInfo;
  if (const char* fault = FeederPropFault(p)) return RefuseProp(fn, fault);
  if (p.CROPPING != 0 && p.CROPPING != kCroppingOverscan) return RefuseProp(fn, "invalid cropping");

  const bool merge = p.FRONT_BACK_MERGING != 0;
  bool checkMerge = true;  // steps 9 and 10 run; false goes straight to 11
  if (!(p.PAPER_SIZE == kAutomaticPaperSize && p.CROPPING != kCroppingOverscan)) {
    if (NoPaperGeometry()) return RefuseProp(fn, "invalid paper size");
    if (!(p.PAPER_SIZE == 0 && p.CROPPING == kCroppingOverscan)) {
      if (p.BOTTOM_RIGHT_X - p.TOP_LEFT_X < MmToUnits(26) || p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y < MmToUnits(26))
        return RefuseProp(fn, "Scan min length < 26mm and scan min height < 26mm");
    }
    if (p.PAPER_SIZE == 0) {
      if (merge) {
        if (p.SCAN_RES_X <= 300 && p.CUST_PAGE_LENGTH > FixedToUnits(KELO_LENGTH_863_6MM))
          return RefuseProp(fn,
                            "g_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(KELO_SCAN_ADF_HEIGHT_MAX_201_300_SELKO2)");
        if (p.SCAN_RES_X > 300 && p.CUST_PAGE_LENGTH > FixedToUnits(KELO_LENGTH_355_6MM))
          return RefuseProp(fn,
                            "g_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(KELO_SCAN_ADF_HEIGHT_MAX_301_600_SELKO2)");
      } else {
        if (p.CUST_PAGE_WIDTH > FixedToUnits(KELO_LENGTH_216MM)) return RefuseProp(fn, "invalid paper width");
        if (p.SCAN_RES_X <= 200 && p.CUST_PAGE_LENGTH > FixedToUnits(KELO_LENGTH_3175MM))
          return RefuseProp(fn, "invalid paper length(50-200dpi)");
        if (p.SCAN_RES_X > 200 && p.SCAN_RES_X <= 300 && p.CUST_PAGE_LENGTH > FixedToUnits(KELO_LENGTH_863_6MM))
          return RefuseProp(fn, "invalid paper length(200-300dpi)");
        if (p.SCAN_RES_X > 300 && p.CUST_PAGE_LENGTH > FixedToUnits(KELO_LENGTH_355_6MM))
          return RefuseProp(fn, "invalid paper length(>300dpi)");
        checkMerge = false;
      }
    }
  }
  if (checkMerge && merge) {
    if (p.BACK_SIDE_LOCATION > 3) return RefuseProp(fn, "invalid back side location");
    if (p.BACK_SIDE_ROTATION > 1) return RefuseProp(fn, "invalid back side rotation");
  }

  if (p.TONE_ADJUSTMENT > 5) return RefuseProp(fn, "invalid tone adjustment");
  if (p.COLOR_CLEANUP > 2) return RefuseProp(fn, "invalid color cleanup");
  if (p.COLOR_CLEANUP != 0 && (p.COLOR_CLEANUP_CLEANNESS < -5 || p.COLOR_CLEANUP_CLEANNESS > 5))
    return RefuseProp(fn, "invalid color cleanup cleanness");
  if (p.BRIGHTNESS < -127 || p.BRIGHTNESS > 127) return RefuseProp(fn, "invalid brightness");
  if (p.CONTRAST < -127 || p.CONTRAST > 127) return RefuseProp(fn, "invalid contrast");
  if (p.SHADOW == 255 || p.SHADOW >= p.HIGHLIGHT) return RefuseProp(fn, "invalid shadow");
  if (p.GAMMA < 100 || p.GAMMA > 10000) return RefuseProp(fn, "invalid gama");
  if (p.BW_MODE > 3) return RefuseProp(fn, "invalid binarization method");
  if (p.BW_IDTC_SENSITIVITY < -50 || p.BW_IDTC_SENSITIVITY > 50) return RefuseProp(fn, "invalid bw idtc sensitivity");
  if (p.BW_IDTC_BACKGROUND_THRESHOLD < -50 || p.BW_IDTC_BACKGROUND_THRESHOLD > 50)
    return RefuseProp(fn, "invalid bw idtc background threshold");
  if (p.DF_ACTION > 1) return RefuseProp(fn, "invalid df-action");
  if (p.DROPOUT_COLOR < 1 || p.DROPOUT_COLOR > 5) return RefuseProp(fn, "invalid drop color");

  const unsigned s = p.CLEANUP_SHARPNESS;
  const bool sharpnessOk = p.SCAN_MODE == 0   ? ((s & 0x9F) == 0 || s == 160)
                           : p.SCAN_MODE == 2 ? ((s & 0x9F) == 0 || (s & 0x9F) == 0x80)
                                              : true;
  if (!sharpnessOk) return RefuseProp(fn, "invalid sharpness");
  if (p.BW_SDTC_VARIANCE != 1 && p.BW_SDTC_VARIANCE != 96 && p.BW_SDTC_VARIANCE != 192)
    return RefuseProp(fn, "invalid bw_sdtc");
  if (p.BLANK_PAGE_SKIP_SENSITIVITY < -2 || p.BLANK_PAGE_SKIP_SENSITIVITY > 2)
    return RefuseProp(fn, "invalid blank page skip sensitivity");
  return true;
}

bool CSelko2ScanFunc::DoSendLUTTable() {
  CLogScope scope("CSelko2ScanFunc::DoSendLUTTable");
  m_Pipeline.ResetToneTables();
  return true;
}

// --- geometry of a sheet ---------------------------------------------------

namespace {

// The scan area in 1/1200 inch, as the window sent it.
void ScanArea(const KELO_PROP_INFO& p, long* W, long* H) {
  *W = static_cast<long>(p.BOTTOM_RIGHT_X - p.TOP_LEFT_X);
  *H = static_cast<long>(p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y);
  if (g_pScanParameterExt && (g_pScanParameterExt[67] & kAutomaticSizeBit)) {
    *W = std::min(static_cast<long>(p.CUST_PAGE_WIDTH) + kOverscanUnits, kMaxWidthUnits);
    *H = std::min(static_cast<long>(p.CUST_PAGE_LENGTH) + kOverscanUnits, LengthLimitUnits(p.SCAN_RES_X));
  }
  *W = std::max(*W, 0L);
  *H = std::max(*H, 0L);
}

KELO_IMAGEDATA_PARAMETERS FaceRecord(const KELO_PROP_INFO& p, int resX, int resY) {
  long W, H;
  ScanArea(p, &W, &H);
  KELO_IMAGEDATA_PARAMETERS face;
  face.iFormat = p.SCAN_MODE == 2 ? 1 : 0;
  face.iLastFrame = 1;
  face.iPixelsPerLine = static_cast<int>(resX * W / 1200);
  face.iLines = static_cast<int>(resY * H / 1200);
  face.iBytesPerLine = 3 * face.iPixelsPerLine;
  face.iDepth = p.SCAN_MODE == 0 ? 1 : 8;
  return face;
}

}  // namespace

bool CSelko2ScanFunc::GetSrcImageInfo(KELO_IMAGEDATA_PARAMETERS* pstSrcImageInfo) {
  const char* fn = "CSelko2ScanFunc::GetSrcImageInfo";
  CLogScope scope(fn);
  if (!pstSrcImageInfo) {
    LogError(fn, "pstSrcImageInfo == NULL");
    return false;
  }
  const KELO_PROP_INFO& p = Prop();
  pstSrcImageInfo[0] = FaceRecord(p, ReadResolution(p.SCAN_RES_X), ReadResolution(p.SCAN_RES_Y));
  pstSrcImageInfo[1] = pstSrcImageInfo[0];
  return true;
}

bool CSelko2ScanFunc::GetDstImageInfo(KELO_IMAGEDATA_PARAMETERS* pstDstImageInfo) {
  const char* fn = "CSelko2ScanFunc::GetDstImageInfo";
  CLogScope scope(fn);
  if (!pstDstImageInfo) {
    LogError(fn, "pstDstImageInfo == NULL");
    return false;
  }
  const KELO_PROP_INFO& p = Prop();
  pstDstImageInfo[0] = FaceRecord(p, p.SCAN_RES_X, p.SCAN_RES_Y);
  pstDstImageInfo[1] = pstDstImageInfo[0];
  return true;
}

// --- the JPEG header the scanner sends ---------------------------------------

bool CSelko2ScanFunc::Check_JPEG_FFE0(const unsigned char* data, uint32_t length, uint32_t position) {
  if (data && position < length && length - position >= 2 && data[position] == 0xFF && data[position + 1] == 0xE0)
    return true;
  LogError("CSelko2ScanFunc::Check_JPEG_FFE0", "dwStratOfFrame != 0xFFE0");
  return false;
}

bool CSelko2ScanFunc::Check_JPEG_FFC0(const unsigned char* data, uint32_t length, uint32_t position) {
  if (data && position < length && length - position >= 2 && data[position] == 0xFF && data[position + 1] == 0xC0)
    return true;
  LogError("CSelko2ScanFunc::Check_JPEG_FFC0", "dwStratOfFrame != 0xFFC0");
  return false;
}

void CSelko2ScanFunc::ModifiedJpegHeader_Byte(unsigned char* data, uint32_t length, uint32_t position, uint8_t value) {
  if (data && position < length) data[position] = value;
}

void CSelko2ScanFunc::ModifiedJpegHeader(unsigned char* data, uint32_t length, uint32_t position, uint32_t value) {
  if (!data || position >= length || length - position < 2) return;
  data[position] = static_cast<unsigned char>(value >> 8);
  data[position + 1] = static_cast<unsigned char>(value);
}

// The scanner writes the header before it knows the sheet: the frame size
// is the window's, the restart interval is left open and the density has no
// unit. Only bytes within the face's data are touched.
void CSelko2ScanFunc::RepairJpegHeader(unsigned char* data, uint32_t length, uint8_t format, uint32_t width,
                                       uint32_t height) {
  if (format < 1 || format > 3) return;
  if (Check_JPEG_FFE0(data, length, 2)) {
    const uint32_t resolution = g_pScanParameterExt ? GetLe16(g_pScanParameterExt + 16) : 300;
    ModifiedJpegHeader_Byte(data, length, 13, 1);
    ModifiedJpegHeader(data, length, 14, resolution);
    ModifiedJpegHeader(data, length, 16, resolution);
  }
  if (format == 1 || format == 2) {
    if (Check_JPEG_FFC0(data, length, 158)) {
      ModifiedJpegHeader(data, length, 163, height);
      ModifiedJpegHeader(data, length, 165, width);
      ModifiedJpegHeader(data, length, 613, (width + 15) / 16);
    }
  } else if (Check_JPEG_FFC0(data, length, 89)) {
    ModifiedJpegHeader(data, length, 94, height);
    ModifiedJpegHeader(data, length, 96, width);
    ModifiedJpegHeader(data, length, 322, (width + 7) / 8);
  }
}

void CSelko2ScanFunc::ReleaseImageData() {
  for (int side = 0; side < 2; ++side) {
    free(m_pRawData[side]);
    m_pRawData[side] = nullptr;
    m_ulRawCapacity[side] = 0;
  }
  m_pCurrentData = nullptr;
}

// Debug copy of a raw face in the log folder. The folder is shared: the
// file is never opened through a link and gets its mode on the descriptor.
void CSelko2ScanFunc::CreateDeviceImage(int side) {
  const int face = side == 1 ? SELKO2_SIDE_FRONT : SELKO2_SIDE_BACK;
  if (!m_pRawData[face] || m_dwDataLength[face] == 0) return;
  if (!CheckFolder(DRAVN_LOG_DIR) && !CreateFolder(DRAVN_LOG_DIR)) return;
  SYSTEM_TIME_INFO t = GetSystemTime();
  char path[512];
  snprintf(path, sizeof path, "%s/DevImg_%04d%02d%02d_%02d%02d%02d_%03d.jpg", DRAVN_LOG_DIR, t.iYear, t.iMonth, t.iDay,
           t.iHour, t.iMinute, t.iSecond, t.iMilliSecond);
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (fchmod(fd, 0777) == 0) {
    const unsigned char* p = m_pRawData[face];
    size_t left = m_dwDataLength[face];
    while (left > 0) {
      ssize_t n = write(fd, p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  close(fd);
}

// --- one sheet -------------------------------------------------------------

bool CSelko2ScanFunc::ScanPrepare() {
  const char* fn = "CSelko2ScanFunc::ScanPrepare";
  CLogScope scope(fn);
  if (m_bFirstPage) InitScanParameter();
  if (!ModeSelect()) LogError(fn, "ModeSelect error");
  if (!SetWindow()) LogError(fn, "SetWindow error");
  // The pipeline sets the custom-table flag while later sheets are read:
  // it is looked at only for the first, before any sheet is handed over.
  if (m_bFirstPage == 1 && m_Pipeline.m_bCustomLUT == 0 && !DoSendLUTTable()) LogError(fn, "DoSendLUTTable error");
  const bool placed = ObjectPosition();
  if (!WriteSCErrorInfo()) {
    LogError(fn, "WriteSCErrorInfo() == FALSE");
    return false;
  }
  if (!placed) {
    LogError(fn, "ObjectPosition error");
    return false;
  }
  return true;
}

bool CSelko2ScanFunc::ReadBlockStatus(_FCL_BLKIMG_STATUS* status) {
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  unsigned int count = 0;
  if (!kelo_usb_manager || kelo_usb_manager->RawReadData(status->bytes, sizeof status->bytes, &count) != 0) {
    m_dwLastErr = SELKO2_ERR_RECEIVE;
    LogError("CSelko2ScanFunc::ReadBlockStatus", "kelo_usb_manager->RawReadData failed");
    return false;
  }
  WriteUsbLog(status->bytes, sizeof status->bytes, USBLOG_STATUS_IN);
  return true;
}

// Reads `length` announced bytes and drops them, so that the next command
// finds the pipe empty.
bool CSelko2ScanFunc::DiscardData(uint32_t length, const char* failure) {
  const char* fn = "CSelko2ScanFunc::ScanScanner";
  const uint32_t piece = std::min(length, kDiscardPiece);
  unsigned char* pbyTmp = static_cast<unsigned char*>(malloc(piece ? piece : 1));
  if (!pbyTmp) {
    m_dwLastErr = SELKO2_ERR_NO_MEMORY;
    LogError(fn, "pbyTmp == NULL");
    return false;
  }
  SetUsbTimeOut(kImageTimeOut);
  bool ok = true;
  for (uint32_t left = length; left > 0 && ok;) {
    const uint32_t n = std::min(left, piece);
    ok = GetData(pbyTmp, n);
    left -= n;
  }
  SetUsbTimeOut(kUsbTimeOut);
  free(pbyTmp);
  if (!ok) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    LogError(fn, failure);
  }
  return ok;
}

// One block's image bytes into the face's raw buffer at the face's running
// count. The buffer is sized from the window and grows when a face brings
// more; a face beyond any size the window allows fails the sheet, its block
// read and dropped.
bool CSelko2ScanFunc::StoreBlock(int side, uint32_t readSize, uint32_t length, uint32_t blockWidth) {
  const char* fn = "CSelko2ScanFunc::ScanScanner";
  const char* noMemory = side == SELKO2_SIDE_FRONT ? "image_data_front == NULL" : "image_data_back == NULL";
  // The block's width sizes the buffer only within the window asked for: a
  // reply claiming more would have us reserve gigabytes for a page that
  // cannot be that wide.
  const uint64_t W = blockWidth != 0 && blockWidth < m_ullWindowWidth ? blockWidth : m_ullWindowWidth;
  const uint64_t L = m_ullWindowLength;
  const size_t limit = RawLimit(W, L);
  if (!m_pRawData[side]) {
    const size_t first = static_cast<size_t>(std::min<uint64_t>(3 * W * (L / 2), limit));
    // Only the bytes received are ever read (up to the face's count): the
    // room past them is not cleared.
    m_pRawData[side] = static_cast<unsigned char*>(AllocateLargeBlock(first));
    if (!m_pRawData[side]) {
      m_dwLastErr = SELKO2_ERR_NO_MEMORY;
      LogError(fn, noMemory);
      return false;
    }
    m_ulRawCapacity[side] = first ? first : 1;
  }
  const uint64_t need = static_cast<uint64_t>(readSize) + length;
  if (need > m_ulRawCapacity[side]) {
    unsigned char* grown = nullptr;
    size_t capacity = 0;
    if (need <= limit) {
      capacity = static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(need, 2 * m_ulRawCapacity[side]), limit));
      grown = static_cast<unsigned char*>(realloc(m_pRawData[side], capacity));
    }
    if (!grown) {
      LogError(fn, need > limit ? "face data exceeds its window" : noMemory);
      DiscardData(length, "GetData(pbyTmp, pBLK_ImgStatus->dwLastBlockEffBytes) == FALSE");
      // More data than any window allows is the scanner's fault, not ours:
      // a failed command step, whose read is still aborted.
      m_dwLastErr = need > limit ? SELKO2_ERR_COMMAND : SELKO2_ERR_NO_MEMORY;
      m_bFaceOverflow = need > limit;
      return false;
    }
    m_pRawData[side] = grown;
    m_ulRawCapacity[side] = capacity;
  }
  if (length == 0) return true;
  SetUsbTimeOut(kImageTimeOut);
  const bool ok = GetData(m_pRawData[side] + readSize, length);
  SetUsbTimeOut(kUsbTimeOut);
  if (!ok) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    LogError(fn, side == SELKO2_SIDE_FRONT
                     ? "GetData(image_data_front + read_size, pBLK_ImgStatus->dwLastBlockEffBytes) == FALSE"
                     : "GetData(image_data_back + read_size, pBLK_ImgStatus->dwLastBlockEffBytes) == FALSE");
  }
  return ok;
}

bool CSelko2ScanFunc::ScanScanner(uint32_t first) {
  const char* fn = "CSelko2ScanFunc::ScanScanner";
  CLogScope scope(fn);
  const uint32_t autofeed = Prop().AUTOFEED;
  _FCL_CMD sFCLCommand;

  // The window and the start of the scanner.
  if ((first && autofeed == 1) || (autofeed == 0 && g_bSendScanParamCmd == 1)) {
    std::lock_guard<std::recursive_mutex> io(m_ioLock);
    m_bTransferEnd = 0;
    Selko2DataPhase window;
    window.out = g_pScanParameterExt;
    window.length = FCL_SCAN_PARAM_EXT_SIZE;
    window.failure = "SendData((LPBYTE)g_pScanParameterExt, sizeof(FCL_SCAN_PARAM_EXT)) == FALSE";
    if (!Transact(fn, selko2::kSetWindow, nullptr, window)) return false;
    for (const Selko2Command* c : {&selko2::kCalibrateDevice, &selko2::kScan})
      if (!Transact(fn, *c)) return false;
  }

  auto* pBLK_ImgStatus = new (std::nothrow) _FCL_BLKIMG_STATUS();
  if (!pBLK_ImgStatus) {
    m_dwLastErr = SELKO2_ERR_NO_MEMORY;
    LogError(fn, "pBLK_ImgStatus == NULL");
    return false;
  }
  m_ullWindowBytesPerLine = GetLe32(g_pScanParameterExt + 12);
  m_ullWindowWidth = GetLe32(g_pScanParameterExt + 28);
  m_ullWindowLength = GetLe32(g_pScanParameterExt + 32);
  for (int side = 0; side < 2; ++side) m_dwDataLength[side] = m_dwFaceWidth[side] = m_dwFaceHeight[side] = 0;
  CreateCommand(&sFCLCommand, selko2::kRead);

  // Faces in the order the scanner sends their blocks; each face keeps its
  // own running count, so blocks of the two faces may interleave.
  const bool bothSides = GetLe32(g_pScanParameterExt) == 4;
  bool done[2] = {false, false};
  uint32_t readSize[2] = {0, 0};
  bool cancelled = false;
  for (;;) {
    if (m_bIsCancel) {
      m_dwLastErr = SELKO2_ERR_CANCELLED;
      m_bTransferEnd = 1;
      cancelled = true;
      break;
    }
    {
      std::lock_guard<std::recursive_mutex> io(m_ioLock);
      if (!SendCommandNoData(&sFCLCommand)) {
        m_dwLastErr = SELKO2_ERR_COMMAND;
        LogError(fn, "SendCommandNoData(&sFCLCommand) == FALSE");
        delete pBLK_ImgStatus;
        return false;
      }
      if (!ReadBlockStatus(pBLK_ImgStatus)) {
        m_dwLastErr = SELKO2_ERR_COMMAND;
        delete pBLK_ImgStatus;
        return false;
      }
    }
    const uint32_t dwLastErr = pBLK_ImgStatus->dwLastErr();
    const uint32_t effBytes = pBLK_ImgStatus->dwLastBlockEffBytes();
    const bool endOfSide = dwLastErr == FCLE_END_OF_SIDE || dwLastErr == FCLE_END_OF_SIDE_AND_NO_PAPER;
    if (dwLastErr != 0 && !endOfSide) {
      m_dwLastErr = dwLastErr;
      if (effBytes != 0) {
        const uint32_t code = dwLastErr;
        if (!DiscardData(effBytes, "GetData(pbyTmp, pBLK_ImgStatus->dwLastBlockEffBytes) == FALSE")) {
          delete pBLK_ImgStatus;
          return false;
        }
        m_dwLastErr = code;
      }
      LogError(fn,
               "pBLK_ImgStatus->dwLastErr != 0 && pBLK_ImgStatus->dwLastErr != FCLE_END_OF_SIDE && "
               "pBLK_ImgStatus->dwLastErr != FCLE_END_OF_SIDE_AND_NO_PAPER");
      delete pBLK_ImgStatus;
      return false;
    }
    const int side = pBLK_ImgStatus->Side() == 1 ? SELKO2_SIDE_FRONT : SELKO2_SIDE_BACK;
    {
      std::lock_guard<std::recursive_mutex> io(m_ioLock);
      if (!StoreBlock(side, readSize[side], effBytes, pBLK_ImgStatus->Width())) {
        delete pBLK_ImgStatus;
        return false;
      }
    }
    readSize[side] += effBytes;
    if (!endOfSide) continue;

    done[side] = true;
    // Every face keeps its data; only a JPEG face has a header to mend and
    // a frame size: the pipeline judges the rest rather than losing it.
    m_dwDataLength[side] = readSize[side];
    const uint8_t format = pBLK_ImgStatus->ImageFormat();
    if (format >= 1 && format <= 3) {
      m_pCurrentData = m_pRawData[side];
      RepairJpegHeader(m_pCurrentData, readSize[side], format, pBLK_ImgStatus->Width(), pBLK_ImgStatus->Height());
      m_dwFaceWidth[side] = pBLK_ImgStatus->Width();
      m_dwFaceHeight[side] = pBLK_ImgStatus->Height();
    }
    if (bothSides && !(done[0] && done[1])) continue;

    // The sheet's closing status: no command asks for it.
    int polled = 0;
    for (;; ++polled) {
      if (polled >= kTrailingStatusLimit || !ReadBlockStatus(pBLK_ImgStatus)) {
        m_dwLastErr = SELKO2_ERR_COMMAND;
        m_bTransferEnd = 1;
        break;
      }
      m_dwLastErr = pBLK_ImgStatus->dwLastErr();
      if (pBLK_ImgStatus->Phase() == 4) {
        m_bTransferEnd = 1;
        break;
      }
      if (pBLK_ImgStatus->Phase() == 2) {
        g_bSendScanParamCmd = 0;
        break;
      }
    }
    break;
  }
  delete pBLK_ImgStatus;

  if (m_bTransferEnd || m_bIsCancel) {
    std::lock_guard<std::recursive_mutex> io(m_ioLock);
    if (!Transact(fn, selko2::kStopScan)) return false;
    g_bSendStopCmd = 1;
    if (m_bIsCancel || cancelled) {
      m_dwLastErr = SELKO2_ERR_CANCELLED;
      LogError(fn, "scan cancel");
      return false;
    }
  }
  return m_dwLastErr == 0;
}

SANE_Status CSelko2ScanFunc::ScanPapers() {
  const char* fn = "CSelko2ScanFunc::ScanPapers";
  CLogScope scope(fn);
  ReleaseImageData();
  if (!ScanPrepare()) {
    m_bScanning = 0;
    LogError(fn, "failed to ScanPrepare");
    return ConvertToSaneErr(m_dwLastErr);
  }
  uint32_t first;
  if (Prop().AUTOFEED) {
    first = m_bFirstPage;
  } else {
    m_bFirstPage = 1;
    first = 1;
  }
  const bool scanned = ScanScanner(first);
  const bool recorded = WriteSCErrorInfo();
  m_bFirstPage = 0;
  if (!recorded) {
    LogError(fn, "WriteSCErrorInfo() == FALSE");
    return ConvertToSaneErr(m_dwLastErr);
  }
  if (!scanned) {
    m_bScanning = 0;
    SANE_Status status = ConvertToSaneErr(m_dwLastErr);
    const bool overflow = std::exchange(m_bFaceOverflow, false);
    if ((status == SANE_STATUS_NO_MEM || overflow) && CancelRead()) m_bTransferEnd = 1;
    LogError(fn, "failed to ScanScanner");
    return status;
  }
  if (g_stDravnIni.iSaveDevImg == 1) {
    switch (Prop().SCAN_FACE) {
      case 1:
        CreateDeviceImage(1);
        break;
      case 2:
        CreateDeviceImage(0);
        break;
      case 3:
        CreateDeviceImage(1);
        usleep(1000);  // the two copies get different names
        CreateDeviceImage(0);
        break;
    }
  }
  if (Prop().AUTOFEED) return SANE_STATUS_GOOD;

  // Without automatic feeding the sheet is served from this thread.
  KELO_IMAGEDATA_PARAMETERS src[2], dst[2];
  if (!GetSrcImageInfo(src) || !GetDstImageInfo(dst)) {
    m_bScanning = 0;
    m_dwLastErr = SELKO2_ERR_PARAM;
    LogError(fn, "failed to get image info");
    return SANE_STATUS_INVAL;
  }
  const int source = Prop().SCAN_FACE;
  const bool wantFront = source != 2, wantBack = source == 2 || source == 3;
  if (wantFront) {
    m_pImageFront = MakePageCopy(m_pRawData[0], m_dwDataLength[0], src[0], m_dwFaceHeight[0]);
    if (!m_pImageFront) {
      m_bScanning = 0;
      m_dwLastErr = SELKO2_ERR_NO_MEMORY;
      LogError(fn, "m_pImageFront == NULL");
      return SANE_STATUS_NO_MEM;
    }
  }
  if (wantBack) {
    m_pImageBack = MakePageCopy(m_pRawData[1], m_dwDataLength[1], src[1], m_dwFaceHeight[1]);
    if (!m_pImageBack) {
      free(m_pImageFront);
      m_pImageFront = nullptr;
      m_bScanning = 0;
      m_dwLastErr = SELKO2_ERR_NO_MEMORY;
      LogError(fn, "m_pImageBack == NULL");
      return SANE_STATUS_NO_MEM;
    }
  }
  const JPEGINFO jpeg[2] = {{m_dwDataLength[0], static_cast<unsigned short>(m_dwFaceWidth[0]),
                             static_cast<unsigned short>(m_dwFaceHeight[0])},
                            {m_dwDataLength[1], static_cast<unsigned short>(m_dwFaceWidth[1]),
                             static_cast<unsigned short>(m_dwFaceHeight[1])}};
  ReleaseImageData();
  const uint32_t rc = HandOverSheet(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
  if (rc != 0) {
    m_bScanning = 0;
    LogError(fn, "failed to DoImageProcess");
    return ConvertToSaneErr(rc);
  }
  return SANE_STATUS_GOOD;
}
