// The Selko2 batch as the entry points drive it: Start with the optional
// scan thread and the page list between that thread and the application,
// the serving of pages, faces and half pages through ReadImgBuf, and Cancel.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "selko2_scan_func.h"

namespace {

// How long the application's thread sleeps at most between looks at the
// list; the scan thread wakes it as soon as a sheet is queued or it ends.
constexpr auto kListWait = std::chrono::milliseconds(100);
constexpr useconds_t kSheetPause = 100;  // the scan thread between sheets

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

uint32_t PageBytes(const KELO_IMAGEDATA_PARAMETERS& g) {
  if (g.iBytesPerLine <= 0 || g.iLines <= 0) return 0;
  const uint64_t n = static_cast<uint64_t>(g.iBytesPerLine) * static_cast<uint64_t>(g.iLines);
  return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
}

class CInCall {
 public:
  explicit CInCall(std::atomic<int>& count) : m_count(count) { ++m_count; }
  ~CInCall() { --m_count; }
  CInCall(const CInCall&) = delete;
  CInCall& operator=(const CInCall&) = delete;

 private:
  std::atomic<int>& m_count;
};

// Slots of the half and merged remaining counts.
enum { kFrontUpper = 0, kBackUpper = 1, kFrontLower = 2, kBackLower = 3, kMerged = 4 };

}  // namespace

// --- serving order -----------------------------------------------------------

// Makes the next buffer ready and sets the read-state flags for it; false
// when none is left of the current sheet.
bool CSelko2ScanFunc::BufferReady() {
  const char* fn = "CSelko2ScanFunc::Start";
  const KELO_PROP_INFO& p = Prop();
  KeloImageProcess& ip = m_Pipeline.m_ImageProcess;
  const bool duplex = p.SCAN_FACE == 3;
  if (p.FRONT_BACK_MERGING) {
    if (!ip.m_pMergeImage) return false;
    WriteLog(LOG_LEVEL_DEBUG, fn, "frontback page end");
    return true;
  }
  if (p.SPLIT_IMAGE) {
    if (ip.m_pUpperImage[0] || ip.m_pLowerImage[0]) {
      g_bIsReadFrontUpper = ip.m_pUpperImage[0] ? 1 : 0;
      if (duplex) g_bIsReadDoubleBack = 0;
      return true;
    }
    if (ip.m_pUpperImage[1] || ip.m_pLowerImage[1]) {
      g_bIsReadBackUpper = ip.m_pUpperImage[1] ? 1 : 0;
      if (duplex) g_bIsReadDoubleBack = 1;
      return true;
    }
    return false;
  }
  if (m_pImageFront) {
    if (duplex) g_bIsReadDoubleBack = 0;
    WriteLog(LOG_LEVEL_DEBUG, fn, "front page end");
    return true;
  }
  if (m_pImageBack) {
    if (duplex) g_bIsReadDoubleBack = 1;
    WriteLog(LOG_LEVEL_DEBUG, fn, "back page end");
    return true;
  }
  return false;
}

// --- Start ---------------------------------------------------------------------

SANE_Status CSelko2ScanFunc::Start() {
  const char* fn = "CSelko2ScanFunc::Start";
  CLogScope scope(fn);
  CInCall inCall(m_iInCall);
  for (uint32_t& n : m_dwHalfRemain) n = 0;
  // A signal that came between two pages of a running batch ends it here;
  // clearing it would scan on as if nothing had been asked.
  if (m_bScanning && m_bIsCancel) {
    LogError(fn, "m_bIsCancel == true");
    return SANE_STATUS_CANCELLED;
  }
  m_bIsCancel = 0;
  m_bScanning = 1;
  if (!DoCheckPropList()) {
    m_dwLastErr = SELKO2_ERR_PARAM;
    if (!m_bThreadStarted) m_bScanning = 0;
    LogError(fn, "DoCheckPropList failed");
    return SANE_STATUS_INVAL;
  }

  // A batch whose thread was started goes on from it whatever the options
  // say now: a sheet read here as well would drive the device from two
  // threads.
  if (!g_PropInfo.AUTOFEED && !m_bThreadStarted) {
    m_pProp = &g_PropInfo;
    for (;;) {
      if (BufferReady()) return SANE_STATUS_GOOD;
      SANE_Status status = ScanPapers();
      if (status != SANE_STATUS_GOOD) {
        LogError(fn, "failed to scan papers");
        return status;
      }
    }
  }

  if (m_bFirstPage && (!m_bThreadStarted || m_bThreadEnded)) {
    JoinScanThread();
    // The thread works from this batch's properties: the entry points
    // rebuild g_PropInfo at every start while it runs.
    m_tBatchProp = g_PropInfo;
    m_pProp = &m_tBatchProp;
    m_bThreadEnded = 0;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
      m_pProp = &g_PropInfo;
      LogError(fn, "pthread_attr_init() != 0");
      return SANE_STATUS_INVAL;
    }
    const int created = pthread_create(&m_phandle, &attr, ScanThreadEntry, this);
    pthread_attr_destroy(&attr);
    if (created != 0) {
      m_pProp = &g_PropInfo;
      LogError(fn, "pthread_create() != 0");
      return SANE_STATUS_INVAL;
    }
    m_bThreadStarted = true;
  }
  for (;;) {
    if (BufferReady()) return SANE_STATUS_GOOD;
    SANE_Status status = TakeNextSheet();
    if (status != SANE_STATUS_GOOD) return status;
  }
}

// The next queued sheet, made into pages; when the list is empty and the
// thread has ended, what the batch ended with. Sheets queued before a
// failure are delivered before the failure is reported.
SANE_Status CSelko2ScanFunc::TakeNextSheet() {
  const char* fn = "CSelko2ScanFunc::Start";
  std::unique_lock<std::mutex> list(m_tListLock);
  while (!m_pHead) {
    if (m_bThreadEnded || !m_bThreadStarted) {
      list.unlock();
      JoinScanThread();
      if (m_dwLastErr != 0) {
        const SANE_Status status = ConvertToSaneErr(m_dwLastErr);
        if (!WriteSCErrorInfo()) {
          LogError(fn, "WriteSCErrorInfo() == FALSE");
          return ConvertToSaneErr(SELKO2_ERR_STATUS_FILE);
        }
        LogError(fn, status == SANE_STATUS_GOOD
                         ? "pthread_kill(m_phandle, 0) == ESRCH"
                         : "pthread_kill(m_phandle, 0) == ESRCH JAM/Stop/Cover Open/Memory Not Enough");
        return status == SANE_STATUS_GOOD ? SANE_STATUS_IO_ERROR : status;
      }
      // The batch ran out of paper.
      m_dwLastErr = SELKO2_ERR_NO_PAPER;
      if (!WriteSCErrorInfo()) {
        LogError(fn, "WriteSCErrorInfo() == FALSE");
        return SANE_STATUS_IO_ERROR;
      }
      LogError(fn, "pthread_kill(m_phandle, 0) == ESRCH");
      return SANE_STATUS_NO_DOCS;
    }
    m_tListChanged.wait_for(list, kListWait);
  }
  IMAGEDATA_NODE* node = m_pHead;
  m_pHead = node->pNext;
  list.unlock();

  KELO_IMAGEDATA_PARAMETERS src[2] = {node->tSrcInfo[0], node->tSrcInfo[1]};
  KELO_IMAGEDATA_PARAMETERS dst[2] = {node->tDstInfo[0], node->tDstInfo[1]};
  const JPEGINFO jpeg[2] = {node->tJpegInfo[0], node->tJpegInfo[1]};
  unsigned char* copies[2] = {nullptr, nullptr};
  unsigned char* data[2] = {node->pFrontData, node->pBackData};
  for (int side = 0; side < 2; ++side) {
    if (!data[side]) continue;
    copies[side] = MakePageCopy(data[side], jpeg[side].uiDataSize, src[side], jpeg[side].usHeight);
    if (!copies[side]) {
      free(copies[0]);
      // The sheet goes back to the head: the list stays usable.
      std::lock_guard<std::mutex> relink(m_tListLock);
      node->pNext = m_pHead;
      m_pHead = node;
      LogError(fn, side == SELKO2_SIDE_FRONT ? "m_pImageFront == NULL" : "m_pImageBack == NULL");
      return SANE_STATUS_NO_MEM;
    }
  }
  free(node->pFrontData);
  free(node->pBackData);
  free(node);
  m_pImageFront = copies[0];
  m_pImageBack = copies[1];

  const uint32_t rc = HandOverSheet(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
  if (rc != 0) {
    LogError(fn, "failed to scan papers(autofeed)");
    return ConvertToSaneErr(rc);
  }
  return SANE_STATUS_GOOD;
}

// A face's compressed data at the start of a buffer that can take the
// decoded page: max(JPEG height, source height) lines of the source's bytes
// per line, and never less than the data itself; white past the data.
// Decoding writes every byte of the source geometry (or, with automatic
// size, puts its own buffer in the copy's place), so only what lies beyond
// both the data and that geometry is filled: a page-sized fill that nothing
// reads, and its page faults, are left out.
unsigned char* CSelko2ScanFunc::MakePageCopy(const unsigned char* data, uint32_t dataLength,
                                             const KELO_IMAGEDATA_PARAMETERS& src, uint32_t jpegHeight) {
  const uint64_t sourceLines = src.iLines > 0 ? src.iLines : 0;
  const uint64_t lines = std::max<uint64_t>(jpegHeight, sourceLines);
  const uint64_t bytesPerLine = src.iBytesPerLine > 0 ? src.iBytesPerLine : 0;
  const uint64_t size = std::max<uint64_t>(lines * bytesPerLine, dataLength);
  if (size == 0 || size > SIZE_MAX) return nullptr;
  unsigned char* copy = static_cast<unsigned char*>(malloc(static_cast<size_t>(size)));
  if (!copy) return nullptr;
  if (data)
    memcpy(copy, data, dataLength);
  else
    memset(copy, 0xFF, dataLength);  // what the decoder reads finds no stream
  const uint64_t decoded = std::max<uint64_t>(sourceLines * bytesPerLine, dataLength);
  if (decoded < size) memset(copy + decoded, 0xFF, static_cast<size_t>(size - decoded));
  return copy;
}

// --- the scan thread -------------------------------------------------------------

void* CSelko2ScanFunc::ScanThreadEntry(void* object) {
  static_cast<CSelko2ScanFunc*>(object)->DoScanThreadFunc();
  return nullptr;
}

uint32_t CSelko2ScanFunc::IsPendingImage() {
  if (m_bTransferEnd) return 0;
  WriteLog(LOG_LEVEL_DEBUG, "CSelko2ScanFunc::IsPendingImage", "not transfer end");
  return 1;
}

void CSelko2ScanFunc::DoScanThreadFunc() {
  const char* fn = "CSelko2ScanFunc::DoScanThreadFunc";
  CLogScope scope(fn);
  for (;;) {
    ScanPapers();
    if (m_dwLastErr != 0) break;
    KELO_IMAGEDATA_PARAMETERS src[2], dst[2];
    if (!GetSrcImageInfo(src) || !GetDstImageInfo(dst)) {
      m_dwLastErr = SELKO2_ERR_PARAM;
      LogError(fn, "failed to get image info");
      break;
    }
    auto* node = static_cast<IMAGEDATA_NODE*>(calloc(1, sizeof(IMAGEDATA_NODE)));
    if (!node) {
      m_dwLastErr = SELKO2_ERR_NO_MEMORY;
      LogError(fn, "pstImagedata == NULL");
      break;
    }
    const int source = Prop().SCAN_FACE;
    const bool moveFront = source != 2, moveBack = source == 2 || source == 3;
    bool moved = true;
    for (int side = 0; side < 2 && moved; ++side) {
      if (!(side == SELKO2_SIDE_FRONT ? moveFront : moveBack) || !m_pRawData[side] || m_dwDataLength[side] == 0)
        continue;
      // The node takes the face's buffer cut to its data: no second copy.
      auto* data = static_cast<unsigned char*>(realloc(m_pRawData[side], m_dwDataLength[side]));
      if (!data) {
        moved = false;
        break;
      }
      m_pRawData[side] = nullptr;
      m_ulRawCapacity[side] = 0;
      (side == SELKO2_SIDE_FRONT ? node->pFrontData : node->pBackData) = data;
      node->tSrcInfo[side] = src[side];
      node->tDstInfo[side] = dst[side];
      node->tJpegInfo[side] = {m_dwDataLength[side], static_cast<unsigned short>(m_dwFaceWidth[side]),
                               static_cast<unsigned short>(m_dwFaceHeight[side])};
    }
    ReleaseImageData();
    if (!moved) {
      free(node->pFrontData);
      free(node->pBackData);
      free(node);
      m_dwLastErr = SELKO2_ERR_NO_MEMORY;
      LogError(fn, "pstImagedata->pFrontData == NULL");
      break;
    }
    {
      std::lock_guard<std::mutex> list(m_tListLock);
      IMAGEDATA_NODE** tail = &m_pHead;
      while (*tail) tail = &(*tail)->pNext;
      *tail = node;
    }
    m_tListChanged.notify_all();
    if (m_bIsCancel) {
      LogError(fn, "cancel operation");
      m_dwLastErr = SELKO2_ERR_CANCELLED;
      if (g_bSendStopCmd == 0) {
        std::lock_guard<std::recursive_mutex> io(m_ioLock);
        _FCL_CMD sFCLCommand;
        _FCL_DEVICE_STATUS sFCLDeviceStatus{};
        CreateCommand(&sFCLCommand, selko2::kStopScan);
        if (!SendCommand(&sFCLCommand, &sFCLDeviceStatus)) {
          m_dwLastErr = SELKO2_ERR_COMMAND;
          LogError(fn, "devctl->SendCommand(&sFCLCommand, &sFCLDeviceStatus) == FALSE");
        }
        g_bSendStopCmd = 1;
      }
      break;
    }
    usleep(kSheetPause);
    if (!(IsPendingImage() == 1 && m_dwLastErr == 0)) break;
  }
  {
    std::lock_guard<std::mutex> list(m_tListLock);
    m_bThreadEnded = 1;
  }
  m_tListChanged.notify_all();
}

void CSelko2ScanFunc::JoinScanThread() {
  if (!m_bThreadStarted) return;
  pthread_join(m_phandle, nullptr);
  m_bThreadStarted = false;
}

// --- the read side ----------------------------------------------------------------

void CSelko2ScanFunc::SetReadImgBufSize() {
  const KELO_PROP_INFO& p = Prop();
  const int source = p.SCAN_FACE;
  const KeloImageProcess& ip = m_Pipeline.m_ImageProcess;
  if (p.SPLIT_IMAGE) {
    if (source == 1 || (source == 3 && !g_bIsReadDoubleBack)) {
      if (g_bIsReadFrontUpper)
        m_dwHalfRemain[kFrontUpper] = ip.m_pUpperImage[0] ? PageBytes(ip.m_tUpperImageInfo[0]) : 0;
      else
        m_dwHalfRemain[kFrontLower] = ip.m_pLowerImage[0] ? PageBytes(ip.m_tLowerImageInfo[0]) : 0;
    } else if (source == 2 || source == 3) {
      if (g_bIsReadBackUpper)
        m_dwHalfRemain[kBackUpper] = ip.m_pUpperImage[1] ? PageBytes(ip.m_tUpperImageInfo[1]) : 0;
      else
        m_dwHalfRemain[kBackLower] = ip.m_pLowerImage[1] ? PageBytes(ip.m_tLowerImageInfo[1]) : 0;
    } else {
      return;
    }
  } else if (p.FRONT_BACK_MERGING) {
    m_dwHalfRemain[kMerged] = ip.m_pMergeImage ? PageBytes(ip.m_tMergeImageInfo) : 0;
  } else {
    // What get_parameters announces, never more than the page holds.
    for (int side = 0; side < 2; ++side) {
      const unsigned char* page = side == SELKO2_SIDE_FRONT ? m_pImageFront : m_pImageBack;
      const uint64_t held = page ? m_ulImageBytes[side] : 0;
      m_dwRemain[side] = static_cast<uint32_t>(std::min<uint64_t>(PageBytes(g_ImgDataInfo[side]), held));
      if (page && PageBytes(g_ImgDataInfo[side]) != held)
        LogError("CSelko2ScanFunc::SetReadImgBufSize", "page size != announced size");
    }
  }
  m_iReadOffset = 0;
  m_bReadEnd = false;
}

SANE_Status CSelko2ScanFunc::ReadPageBuf(unsigned char* buffer, uint32_t* remaining, SANE_Byte* data,
                                         SANE_Int maxLength, SANE_Int* length) {
  const char* fn = "CSelko2ScanFunc::ReadPageBuf";
  if (!remaining || !data || !length) {
    WriteLog(LOG_LEVEL_DETAIL, fn, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  *length = 0;
  if (*remaining == 0) {
    WriteLog(LOG_LEVEL_DEBUG, fn, "end[SANE_STATUS_EOF]");
    return SANE_STATUS_EOF;
  }
  if (!buffer || maxLength < 0) {
    WriteLog(LOG_LEVEL_DETAIL, fn, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  const uint32_t n = std::min(static_cast<uint32_t>(maxLength), *remaining);
  memcpy(data, buffer + m_iReadOffset, n);
  if (n < *remaining) {
    m_iReadOffset += static_cast<int32_t>(n);
    *remaining -= n;
  } else {
    m_iReadOffset = 0;
    *remaining = 0;
  }
  *length = static_cast<SANE_Int>(n);
  return SANE_STATUS_GOOD;
}

void CSelko2ScanFunc::FreeServedPages() {
  KeloImageProcess& ip = m_Pipeline.m_ImageProcess;
  for (int side = 0; side < 2; ++side) {
    free(ip.m_pUpperImage[side]);
    free(ip.m_pLowerImage[side]);
    ip.m_pUpperImage[side] = ip.m_pLowerImage[side] = nullptr;
  }
  free(ip.m_pMergeImage);
  ip.m_pMergeImage = nullptr;
  free(m_pImageFront);
  free(m_pImageBack);
  m_pImageFront = m_pImageBack = nullptr;
  for (uint32_t& n : m_dwHalfRemain) n = 0;
  m_dwRemain[0] = m_dwRemain[1] = 0;
  m_ulImageBytes[0] = m_ulImageBytes[1] = 0;
  m_bReadEnd = true;
}

SANE_Status CSelko2ScanFunc::ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  const char* fn = "CSelko2ScanFunc::ReadImgBuf";
  WriteLog(LOG_LEVEL_DETAIL, fn, "start");
  CInCall inCall(m_iInCall);
  if (!data || !length) return SANE_STATUS_INVAL;
  *length = 0;
  if (m_bIsCancel == 1) {
    FreeServedPages();
    LogError(fn, "m_bIsCancel == true");
    return SANE_STATUS_CANCELLED;
  }
  // Past the end the flags already name the next face or half: reading on
  // would serve it early, or drop it as read.
  if (m_bReadEnd) return SANE_STATUS_EOF;
  const KELO_PROP_INFO& p = Prop();
  const int source = p.SCAN_FACE;
  KeloImageProcess& ip = m_Pipeline.m_ImageProcess;
  const bool front = source == 1 || (source == 3 && !g_bIsReadDoubleBack);
  const bool back = source == 2 || (source == 3 && g_bIsReadDoubleBack);
  if (!front && !back) return SANE_STATUS_GOOD;

  unsigned char** buffer;
  uint32_t* remaining;
  enum { kFace, kUpper, kLower, kMergedPage } kind;
  const int side = front ? SELKO2_SIDE_FRONT : SELKO2_SIDE_BACK;
  if (p.SPLIT_IMAGE) {
    const bool upper = front ? g_bIsReadFrontUpper : g_bIsReadBackUpper;
    kind = upper ? kUpper : kLower;
    buffer = upper ? &ip.m_pUpperImage[side] : &ip.m_pLowerImage[side];
    remaining = &m_dwHalfRemain[upper ? (front ? kFrontUpper : kBackUpper) : (front ? kFrontLower : kBackLower)];
  } else if (front && p.FRONT_BACK_MERGING) {
    kind = kMergedPage;
    buffer = &ip.m_pMergeImage;
    remaining = &m_dwHalfRemain[kMerged];
  } else {
    kind = kFace;
    buffer = front ? &m_pImageFront : &m_pImageBack;
    remaining = &m_dwRemain[side];
  }
  SANE_Status status = ReadPageBuf(*buffer, remaining, data, maxLength, length);
  if (status != SANE_STATUS_EOF) return status;

  free(*buffer);
  *buffer = nullptr;
  m_bReadEnd = true;
  if (kind == kFace) m_ulImageBytes[side] = 0;
  const bool duplex = source == 3;
  switch (kind) {
    case kUpper:
      (front ? g_bIsReadFrontUpper : g_bIsReadBackUpper) = 0;
      break;
    case kLower:
      if (front) {
        g_bIsReadBackUpper = 1;
        if (duplex) g_bIsReadDoubleBack = 1;
      } else {
        g_bIsReadFrontUpper = 1;
        if (duplex) g_bIsReadDoubleBack = 0;
      }
      break;
    case kMergedPage:
      if (duplex) g_bIsReadDoubleBack = 0;
      break;
    case kFace:
      if (duplex) g_bIsReadDoubleBack = front ? 1 : 0;
      break;
  }
  return SANE_STATUS_EOF;
}

// --- Cancel -------------------------------------------------------------------------

void CSelko2ScanFunc::FreeQueuedSheets() {
  std::lock_guard<std::mutex> list(m_tListLock);
  while (IMAGEDATA_NODE* node = m_pHead) {
    m_pHead = node->pNext;
    free(node->pFrontData);
    free(node->pBackData);
    free(node);
  }
}

void CSelko2ScanFunc::Cancel() {
  const char* fn = "CSelko2ScanFunc::Cancel";
  CLogScope scope(fn);
  m_bIsCancel = 1;
  // Start or a read is running in another thread or below a signal
  // handler: it sees the flag and ends the batch; the application's cancel
  // that follows does the rest.
  if (m_iInCall > 0) return;
  m_Pipeline.m_bCustomLUT = 0;
  g_bIsReadDoubleBack = 0;
  // The thread sees the flag at its next block or after its sheet.
  JoinScanThread();
  if (g_bSendStopCmd == 0) {
    std::lock_guard<std::recursive_mutex> io(m_ioLock);
    _FCL_CMD sFCLCommand;
    _FCL_DEVICE_STATUS sFCLDeviceStatus{};
    CreateCommand(&sFCLCommand, selko2::kStopScan);
    SendCommand(&sFCLCommand, &sFCLDeviceStatus);
  }
  g_bSendStopCmd = 0;
  g_bIsReadFrontUpper = 1;
  g_bIsReadBackUpper = 1;
  g_bSendScanParamCmd = 1;
  m_bScanning = 0;
  m_bManualFeed = 0;
  m_dwLastErr = 0;
  m_bTransferEnd = 1;
  m_bFirstPage = 1;
  for (int side = 0; side < 2; ++side) m_dwDataLength[side] = m_dwFaceWidth[side] = m_dwFaceHeight[side] = 0;
  FreeServedPages();
  ReleaseImageData();
  FreeQueuedSheets();
  m_bThreadEnded = 0;
  m_pProp = &g_PropInfo;
}

// --- geometry the option layer reports --------------------------------------------

void CSelko2ScanFunc::SetFrameGeometry(const KELO_IMAGEDATA_PARAMETERS& face, bool split, bool merge) {
  KeloImageProcess& ip = m_Pipeline.m_ImageProcess;
  // The halves as the split cuts them; pages still held keep theirs.
  if (split) {
    for (int side = 0; side < 2; ++side) {
      if (!ip.m_pUpperImage[side]) {
        ip.m_tUpperImageInfo[side] = face;
        ip.m_tUpperImageInfo[side].iLines = face.iLines / 2;
      }
      if (!ip.m_pLowerImage[side]) {
        ip.m_tLowerImageInfo[side] = face;
        ip.m_tLowerImageInfo[side].iLines = face.iLines - face.iLines / 2;
      }
    }
  }
  // Two faces of the frame, one above the other or side by side.
  if (merge && !ip.m_pMergeImage) {
    KELO_IMAGEDATA_PARAMETERS merged = face;
    const int location = g_PropInfo.BACK_SIDE_LOCATION;  // just rebuilt from the options
    if (location == 2 || location == 3) {
      merged.iPixelsPerLine = 2 * face.iPixelsPerLine;
      merged.iBytesPerLine = face.iDepth == 1 ? (merged.iPixelsPerLine + 7) / 8 : 2 * face.iBytesPerLine;
    } else {
      merged.iLines = 2 * face.iLines;
    }
    ip.m_tMergeImageInfo = merged;
  }
}

KELO_IMAGEDATA_PARAMETERS CSelko2ScanFunc::GetBufferGeometry(KELO_SELKO2_BUFFER buffer) const {
  const KeloImageProcess& ip = m_Pipeline.m_ImageProcess;
  switch (buffer) {
    case SELKO2_FRONT_UPPER:
      return ip.m_tUpperImageInfo[0];
    case SELKO2_FRONT_LOWER:
      return ip.m_tLowerImageInfo[0];
    case SELKO2_BACK_UPPER:
      return ip.m_tUpperImageInfo[1];
    case SELKO2_BACK_LOWER:
      return ip.m_tLowerImageInfo[1];
    case SELKO2_MERGED:
      return ip.m_tMergeImageInfo;
  }
  return KELO_IMAGEDATA_PARAMETERS{};
}
