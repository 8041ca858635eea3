// The Selko batch as the entry points drive it: Start with the optional scan
// thread and the page list between that thread and the application, the
// serving of pages through ReadImgBuf, and Cancel.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "option_table.h"
#include "selko_scan_func.h"

namespace {

constexpr auto kListWait = std::chrono::milliseconds(100);
constexpr useconds_t kSheetPause = 100;  // the scan thread between sheets

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

uint32_t PageBytes(const KELO_IMAGEDATA_PARAMETERS& g) {
  if (g.iBytesPerLine <= 0 || g.iLines <= 0) return 0;
  return static_cast<uint32_t>(
      std::min<uint64_t>(static_cast<uint64_t>(g.iBytesPerLine) * static_cast<uint64_t>(g.iLines), UINT32_MAX));
}

// A face's compressed data at the start of a buffer that can take the
// decoded page: the source's bytes per line times its lines, never less than
// the data, the rest white.
unsigned char* PageCopy(const unsigned char* data, uint32_t length, const KELO_IMAGEDATA_PARAMETERS& src) {
  const uint64_t size = std::max<uint64_t>(PageBytes(src), length);
  if (size == 0 || size > SIZE_MAX) return nullptr;
  auto* copy = static_cast<unsigned char*>(malloc(static_cast<size_t>(size)));
  if (!copy) return nullptr;
  memset(copy, 0xFF, static_cast<size_t>(size));
  if (data && length) memcpy(copy, data, length);
  return copy;
}

}  // namespace

CSelkoScanFunc::CSelkoScanFunc() {
  InitScanParameter();
  for (int i = 0; i < 256; ++i) m_byToneLUT[i] = static_cast<unsigned char>(i);
  static const char* const kModelTexts[3] = {"SK150A", "SK250A", "SK350A"};
  const int type = g_iDevType >= 0 && g_iDevType < 3 ? g_iDevType : 0;
  m_Steps.m_cpScannerName = kModelTexts[type];
}

// A batch still running when the object goes must not outlive it; the
// connection is ended.
CSelkoScanFunc::~CSelkoScanFunc() {
  if (m_bThreadStarted) {
    m_bIsCancel = 1;
    JoinScanThread();
  }
  TerminateScanner();
  FreeServedPages();
  ReleaseImageData();
  FreeQueuedSheets();
}

// --- Start ---------------------------------------------------------------------

SANE_Status CSelkoScanFunc::Start() {
  const char* fn = "CSelkoScanFunc::Start";
  CLogScope scope(fn);
  // A signal between two pages of a running batch ends it here.
  if (m_bScanning && m_bIsCancel) {
    LogError(fn, "m_bIsCancel == true");
    return SANE_STATUS_CANCELLED;
  }
  m_bIsCancel = 0;
  m_bScanning = 1;
  if (!DoCheckPropList()) {
    m_dwLastErr = SELKO_ERR_PARAMETER;
    if (!m_bThreadStarted) m_bScanning = 0;
    LogError(fn, "DoCheckPropList failed");
    return SANE_STATUS_INVAL;
  }
  const bool duplex = g_PropInfo.SCAN_FACE == 3;
  auto ready = [&]() {
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
  };

  // A batch whose thread was started goes on from it whatever the options
  // say now: a page read here as well would drive the device from two
  // threads.
  if (!g_PropInfo.AUTOFEED && !m_bThreadStarted) {
    m_pProp = &g_PropInfo;
    for (;;) {
      if (ready()) return SANE_STATUS_GOOD;
      const SANE_Status status = ScanPapers();
      if (status != SANE_STATUS_GOOD) {
        LogError(fn, "failed to scan papers");
        return status;
      }
    }
  }
  if (m_bFirstPage && !m_bThreadStarted) {
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
    if (ready()) return SANE_STATUS_GOOD;
    const SANE_Status status = TakeNextSheet();
    if (status != SANE_STATUS_GOOD) return status;
  }
}

// The next queued page, made into read-side pages; when the list is empty and
// the thread has ended, what the batch ended with. Pages queued before a
// failure are delivered before the failure is reported.
SANE_Status CSelkoScanFunc::TakeNextSheet() {
  const char* fn = "CSelkoScanFunc::Start";
  std::unique_lock<std::mutex> list(m_tListLock);
  while (!m_pHead) {
    if (m_bThreadEnded || !m_bThreadStarted) {
      list.unlock();
      JoinScanThread();
      uint32_t code = m_dwLastErr;
      if (code == SELKO_ERR_NONE && !m_bFirstPage) code = SELKO_ERR_PAPER_EMPTY;
      const SANE_Status status = ConvertToSaneErr(code);
      LogError(fn, status == SANE_STATUS_NO_DOCS
                       ? "pthread_kill(m_phandle, 0) == ESRCH"
                       : "pthread_kill(m_phandle, 0) == ESRCH JAM/Stop/Cover Open/Memory Not Enough");
      return status == SANE_STATUS_GOOD ? SANE_STATUS_NO_DOCS : status;
    }
    m_tListChanged.wait_for(list, kListWait);
  }
  IMAGEDATA_NODE* node = m_pHead;
  m_pHead = node->pNext;
  list.unlock();

  KELO_IMAGEDATA_PARAMETERS src[2] = {node->tSrcInfo[0], node->tSrcInfo[1]};
  KELO_IMAGEDATA_PARAMETERS dst[2] = {node->tDstInfo[0], node->tDstInfo[1]};
  const JPEGINFO jpeg[2] = {node->tJpegInfo[0], node->tJpegInfo[1]};
  unsigned char* data[2] = {node->pFrontData, node->pBackData};
  unsigned char* pages[2] = {nullptr, nullptr};
  for (int face = 0; face < 2; ++face) {
    if (!data[face]) continue;
    pages[face] = PageCopy(data[face], jpeg[face].uiDataSize, src[face]);
    if (!pages[face]) {
      free(pages[0]);
      // The page goes back to the head: the list stays whole for Cancel.
      std::lock_guard<std::mutex> relink(m_tListLock);
      node->pNext = m_pHead;
      m_pHead = node;
      LogError(fn, face == 0 ? "m_pImageFront == NULL" : "m_pImageBack == NULL");
      return SANE_STATUS_NO_MEM;
    }
  }
  free(node->pFrontData);
  free(node->pBackData);
  free(node);
  m_pImageFront = pages[0];
  m_pImageBack = pages[1];
  const uint32_t rc = DoImageProcess(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
  if (rc != 0) {
    FreeServedPages();
    LogError(fn, "failed to scan papers");
    return ConvertToSaneErr(rc);
  }
  return SANE_STATUS_GOOD;
}

// --- the scan thread -------------------------------------------------------------

void* CSelkoScanFunc::ScanThreadEntry(void* object) {
  static_cast<CSelkoScanFunc*>(object)->DoScanThreadFunc();
  return nullptr;
}

uint32_t CSelkoScanFunc::IsPendingImage() const {
  if (m_bTransferEnd) return 0;
  WriteLog(LOG_LEVEL_DEBUG, "CSelkoScanFunc::IsPendingImage", "not transfer end");
  return 1;
}

void CSelkoScanFunc::DoScanThreadFunc() {
  const char* fn = "CSelkoScanFunc::DoScanThreadFunc";
  CLogScope scope(fn);
  for (;;) {
    ScanPapers();
    if (m_dwLastErr != SELKO_ERR_NONE) break;
    KELO_IMAGEDATA_PARAMETERS src[2], dst[2];
    if (!GetSrcImageInfo(src) || !GetDstImageInfo(dst)) {
      m_dwLastErr = SELKO_ERR_PARAMETER;
      LogError(fn, "failed to get image info");
      break;
    }
    auto* node = static_cast<IMAGEDATA_NODE*>(calloc(1, sizeof(IMAGEDATA_NODE)));
    if (!node) {
      m_dwLastErr = SELKO_ERR_MEMORY;
      LogError(fn, "pstImagedata == NULL");
      break;
    }
    node->tSrcInfo[0] = src[0], node->tSrcInfo[1] = src[1];
    node->tDstInfo[0] = dst[0], node->tDstInfo[1] = dst[1];
    if (!MoveReceivedPages(&node->pFrontData, &node->pBackData, src, node->tJpegInfo)) {
      free(node);
      m_dwLastErr = SELKO_ERR_MEMORY;
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
    if (m_bDeviceStop) {
      m_bDeviceStop = 0;
      m_dwLastErr = SELKO_ERR_CANCELLED;
      break;
    }
    if (m_bIsCancel) {
      m_dwLastErr = SELKO_ERR_CANCELLED;
      LogError(fn, "cancel operation");
      break;
    }
    usleep(kSheetPause);
    if (!IsPendingImage() || m_dwLastErr != SELKO_ERR_NONE) break;
  }
  {
    std::lock_guard<std::mutex> list(m_tListLock);
    m_bThreadEnded = 1;
  }
  m_tListChanged.notify_all();
}

void CSelkoScanFunc::JoinScanThread() {
  if (!m_bThreadStarted) return;
  pthread_join(m_phandle, nullptr);
  m_bThreadStarted = false;
}

// The received faces as the page list or the read side takes them: duplex
// both, back the back, front the simplex buffer. The buffers are handed
// over cut to their data, without a second copy.
bool CSelkoScanFunc::MoveReceivedPages(unsigned char** ppFront, unsigned char** ppBack,
                                       const KELO_IMAGEDATA_PARAMETERS* /*src*/, JPEGINFO* jpeg) {
  const int source = Prop().SCAN_FACE;
  const bool both = m_tScanParameter.bytes[1] != 0;
  SelkoFaceBuffer* from[2] = {nullptr, nullptr};
  if (both) {
    if (source != 2) from[0] = &m_stImageDataDuplex[0];
    from[1] = &m_stImageDataDuplex[1];
  } else {
    from[0] = &m_stImageDataSimplex;
  }
  unsigned char** to[2] = {ppFront, ppBack};
  for (int face = 0; face < 2; ++face) {
    SelkoFaceBuffer* b = from[face];
    if (!b || !b->pbyImage || b->dwFill == 0) continue;
    auto* data = static_cast<unsigned char*>(realloc(b->pbyImage, b->dwFill));
    if (!data) {
      free(*ppFront), free(*ppBack);
      *ppFront = *ppBack = nullptr;
      ReleaseImageData();
      return false;
    }
    *to[face] = data;
    jpeg[face] = {b->dwFill, static_cast<unsigned short>(b->tReply.bytes[8] | b->tReply.bytes[9] << 8),
                  static_cast<unsigned short>(b->tReply.bytes[12] | b->tReply.bytes[13] << 8)};
    b->pbyImage = nullptr;
    b->dwCapacity = b->dwFill = 0;
  }
  ReleaseImageData();
  return true;
}

SANE_Status CSelkoScanFunc::ScanPapers() {
  const char* fn = "CSelkoScanFunc::ScanPapers";
  CLogScope scope(fn);
  ReleaseImageData();
  if (m_bDeviceStop) {
    m_bDeviceStop = 0;
    m_bScanning = 0;
    m_dwLastErr = SELKO_ERR_CANCELLED;
    LogError(fn, "stop scan");
    return SANE_STATUS_CANCELLED;
  }
  if (!ScanPrepare()) {
    m_bScanning = 0;
    LogError(fn, "failed to ScanPrepare");
    return ConvertToSaneErr(m_dwLastErr);
  }
  const bool autofeed = Prop().AUTOFEED != 0;
  if (!autofeed) m_bFirstPage = 1;
  const bool first = m_bFirstPage != 0;
  const bool scanned = ScanScanner(first);
  m_bFirstPage = 0;
  if (!scanned) {
    m_bScanning = 0;
    const SANE_Status status = ConvertToSaneErr(m_dwLastErr);
    if (status == SANE_STATUS_NO_MEM) {
      if (CancelRead()) m_bTransferEnd = 1;
      m_dwLastErr = SELKO_ERR_MEMORY;
    }
    EndFailedBatch();
    LogError(fn, "failed to ScanScanner");
    return status;
  }
  if (!IsPendingImage()) TerminateScanner();
  if (autofeed) return SANE_STATUS_GOOD;

  KELO_IMAGEDATA_PARAMETERS src[2], dst[2];
  if (!GetSrcImageInfo(src) || !GetDstImageInfo(dst)) {
    m_dwLastErr = SELKO_ERR_PARAMETER;
    LogError(fn, "failed to get image info");
    return SANE_STATUS_INVAL;
  }
  unsigned char* data[2] = {nullptr, nullptr};
  JPEGINFO jpeg[2] = {};
  if (!MoveReceivedPages(&data[0], &data[1], src, jpeg)) {
    m_dwLastErr = SELKO_ERR_MEMORY;
    LogError(fn, "m_pImageFront == NULL");
    return SANE_STATUS_NO_MEM;
  }
  unsigned char* pages[2] = {nullptr, nullptr};
  for (int face = 0; face < 2; ++face) {
    if (!data[face]) continue;
    pages[face] = PageCopy(data[face], jpeg[face].uiDataSize, src[face]);
    if (!pages[face]) {
      free(data[0]), free(data[1]), free(pages[0]);
      m_dwLastErr = SELKO_ERR_MEMORY;
      LogError(fn, face == 0 ? "m_pImageFront == NULL" : "m_pImageBack == NULL");
      return SANE_STATUS_NO_MEM;
    }
  }
  free(data[0]), free(data[1]);
  m_pImageFront = pages[0];
  m_pImageBack = pages[1];
  const uint32_t rc = DoImageProcess(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
  if (rc != 0) {
    FreeServedPages();
    LogError(fn, "failed to DoImageProcess");
    return ConvertToSaneErr(rc);
  }
  return SANE_STATUS_GOOD;
}

// After a failed page. A cancel leaves the connection to Cancel, which stops
// the pages still pending on it. A device that failed a transfer is not
// asked again (a device gone would hold each of the ten sends of the end of
// connection); one that reported a fault has stopped its batch itself.
void CSelkoScanFunc::EndFailedBatch() {
  if (m_dwLastErr == SELKO_ERR_CANCELLED) return;
  if (m_dwLastErr == SELKO_ERR_IO || m_dwLastErr == SELKO_ERR_USB) {
    m_bConnected = 0;
  } else {
    TerminateScanner();
  }
  m_bTransferEnd = 1;
}

void CSelkoScanFunc::ReleaseImageData() {
  for (SelkoFaceBuffer* b : {&m_stImageDataDuplex[0], &m_stImageDataDuplex[1], &m_stImageDataSimplex}) {
    free(b->pbyImage);
    *b = SelkoFaceBuffer{};
  }
  m_wPageCount[0] = m_wPageCount[1] = 0;
}

// --- the read side ----------------------------------------------------------------

void CSelkoScanFunc::SetReadImgBufSize() {
  m_dwReadOffset = 0;
  m_dwRemain[0] = m_pImageFront ? PageBytes(g_ImgDataInfo[0]) : 0;
  m_dwRemain[1] = m_pImageBack ? PageBytes(g_ImgDataInfo[1]) : 0;
}

SANE_Status CSelkoScanFunc::ReadPageBuf(unsigned char* page, uint32_t* remaining, SANE_Byte* data, SANE_Int maxLength,
                                        SANE_Int* length) {
  const char* fn = "CSelkoScanFunc::ReadPageBuf";
  *length = 0;
  if (*remaining == 0) {
    WriteLog(LOG_LEVEL_DEBUG, fn, "end[SANE_STATUS_EOF]");
    return SANE_STATUS_EOF;
  }
  if (!page || maxLength < 0) return SANE_STATUS_INVAL;
  const uint32_t n = std::min(static_cast<uint32_t>(maxLength), *remaining);
  memcpy(data, page + m_dwReadOffset, n);
  if (n < *remaining) {
    m_dwReadOffset += n;
    *remaining -= n;
  } else {
    m_dwReadOffset = 0;
    *remaining = 0;
  }
  *length = static_cast<SANE_Int>(n);
  return SANE_STATUS_GOOD;
}

SANE_Status CSelkoScanFunc::ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  const char* fn = "CSelkoScanFunc::ReadImgBuf";
  WriteLog(LOG_LEVEL_DETAIL, fn, "start");
  if (!data || !length) {
    LogError(fn, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  *length = 0;
  if (m_bIsCancel) {
    FreeServedPages();
    LogError(fn, "m_bIsCancel == true");
    return SANE_STATUS_CANCELLED;
  }
  const int source = g_PropInfo.SCAN_FACE;
  const bool front = source == 1 || (source == 3 && !g_bIsReadDoubleBack);
  const bool back = source == 2 || (source == 3 && g_bIsReadDoubleBack);
  if (!front && !back) return SANE_STATUS_GOOD;
  const int face = front ? 0 : 1;
  unsigned char*& page = front ? m_pImageFront : m_pImageBack;
  const SANE_Status status = ReadPageBuf(page, &m_dwRemain[face], data, maxLength, length);
  if (status != SANE_STATUS_EOF) return status;
  if (!page) return SANE_STATUS_EOF;  // already ended: the next face waits for its start
  free(page);
  page = nullptr;
  if (source == 3) g_bIsReadDoubleBack = front ? 1 : 0;
  return SANE_STATUS_EOF;
}

// --- Cancel -------------------------------------------------------------------------

void CSelkoScanFunc::FreeServedPages() {
  free(m_pImageFront);
  free(m_pImageBack);
  m_pImageFront = m_pImageBack = nullptr;
  m_dwRemain[0] = m_dwRemain[1] = 0;
  m_dwReadOffset = 0;
}

void CSelkoScanFunc::FreeQueuedSheets() {
  std::lock_guard<std::mutex> list(m_tListLock);
  while (IMAGEDATA_NODE* node = m_pHead) {
    m_pHead = node->pNext;
    free(node->pFrontData);
    free(node->pBackData);
    free(node);
  }
}

void CSelkoScanFunc::Cancel() {
  const char* fn = "CSelkoScanFunc::Cancel";
  CLogScope scope(fn);
  m_bIsCancel = 1;
  m_bLUTBuilt = 0;
  g_bIsReadDoubleBack = 0;
  // The thread stops before its next read command; only then may this
  // thread talk to the device.
  JoinScanThread();
  if (!m_bTransferEnd && m_bConnected) CancelRead();
  m_bTransferEnd = 1;
  TerminateScanner();
  m_dwLastErr = SELKO_ERR_NONE;
  m_bFirstPage = 1;
  m_bDeviceStop = 0;
  m_bScanning = 0;
  FreeServedPages();
  ReleaseImageData();
  FreeQueuedSheets();
  m_bThreadEnded = 0;
  m_pProp = &g_PropInfo;
}
