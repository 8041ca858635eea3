// The batch shared by the families: scan thread, sheet list, end of batch, cancel and page serving.
#include "sheet_batch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log.h"

namespace {

// How long the application's thread sleeps at most between looks at the
// list; the scan thread wakes it as soon as a sheet is queued or it ends.
constexpr auto kListWait = std::chrono::milliseconds(100);
constexpr useconds_t kSheetPause = 100;  // the scan thread between sheets

void FreeNode(IMAGEDATA_NODE* node) {
  free(node->pFrontData);
  free(node->pBackData);
  free(node);
}

}  // namespace

uint32_t SheetPageBytes(const KELO_IMAGEDATA_PARAMETERS& g) {
  if (g.iBytesPerLine <= 0 || g.iLines <= 0) return 0;
  const uint64_t n = static_cast<uint64_t>(g.iBytesPerLine) * static_cast<uint64_t>(g.iLines);
  return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
}

unsigned char* CopyIntoPage(const unsigned char* data, uint32_t length, const KELO_IMAGEDATA_PARAMETERS& src) {
  const uint64_t size = std::max<uint64_t>(SheetPageBytes(src), length);
  if (size > SIZE_MAX) return nullptr;
  auto* copy = static_cast<unsigned char*>(malloc(std::max<size_t>(static_cast<size_t>(size), 1)));
  if (!copy) return nullptr;
  memset(copy, 0xFF, static_cast<size_t>(size));
  if (data && length) memcpy(copy, data, length);
  return copy;
}

const char* FeederPropFault(const KELO_PROP_INFO& p) {
  if (p.SCAN_FACE < 1 || p.SCAN_FACE > 3) return "invalid scan face";
  if (p.SCAN_MODE > 2) return "invalid scan mode";
  if (p.SCAN_RES_X < 50 || p.SCAN_RES_X > 600) return "invalid resolution(x)";
  if (p.SCAN_RES_Y < 50 || p.SCAN_RES_Y > 600) return "invalid resolution(y)";
  return nullptr;
}

bool RefuseProp(const char* function, const char* message) {
  WriteLog(LOG_LEVEL_ERROR, function, message);
  return false;
}

bool NoPaperGeometry() {
  return g_ImgDataInfo[0].iPixelsPerLine <= 0 || g_ImgDataInfo[0].iLines <= 0 || g_ImgDataInfo[1].iPixelsPerLine <= 0 ||
         g_ImgDataInfo[1].iLines <= 0;
}

CSheetBatch::CSheetBatch(CBatchFamily& family, std::atomic<uint32_t>& cancel, const char* name)
    : m_family(family),
      m_bIsCancel(cancel),
      m_sStart(std::string(name) + "::Start"),
      m_sThread(std::string(name) + "::DoScanThreadFunc"),
      m_sRead(std::string(name) + "::ReadPageBuf") {}

CSheetBatch::~CSheetBatch() { FreeQueued(); }

SANE_Status CSheetBatch::StartThread(bool firstSheet) {
  const char* fn = m_sStart.c_str();
  if (!WantsThread(firstSheet)) return SANE_STATUS_GOOD;
  Join();
  m_tBatchProp = g_PropInfo;
  m_pProp = &m_tBatchProp;
  m_bThreadEnded = 0;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    m_pProp = &g_PropInfo;
    WriteLog(LOG_LEVEL_ERROR, fn, "pthread_attr_init() != 0");
    return SANE_STATUS_INVAL;
  }
  const int created = pthread_create(&m_phandle, &attr, ThreadEntry, this);
  pthread_attr_destroy(&attr);
  if (created != 0) {
    m_pProp = &g_PropInfo;
    WriteLog(LOG_LEVEL_ERROR, fn, "pthread_create() != 0");
    return SANE_STATUS_INVAL;
  }
  m_bThreadStarted = true;
  return SANE_STATUS_GOOD;
}

SANE_Status CSheetBatch::TakeNextSheet() {
  const char* fn = m_sStart.c_str();
  std::unique_lock<std::mutex> list(m_tListLock);
  while (!m_pHead) {
    if (m_bThreadEnded || !m_bThreadStarted) {
      list.unlock();
      Join();
      return m_family.EndOfBatch();
    }
    if (m_bIsCancel && m_family.CancelEndsTheWait()) {
      WriteLog(LOG_LEVEL_ERROR, fn, "m_bIsCancel == true");
      return SANE_STATUS_CANCELLED;
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
    pages[face] = m_family.PageFor(data[face], src[face], jpeg[face]);
    if (!pages[face]) {
      free(pages[0]);
      // The sheet goes back to the head: the list stays whole for Cancel.
      std::lock_guard<std::mutex> relink(m_tListLock);
      node->pNext = m_pHead;
      m_pHead = node;
      WriteLog(LOG_LEVEL_ERROR, fn, face == 0 ? "m_pImageFront == NULL" : "m_pImageBack == NULL");
      return SANE_STATUS_NO_MEM;
    }
  }
  FreeNode(node);
  return m_family.HandOver(pages, src, dst, jpeg);
}

void* CSheetBatch::ThreadEntry(void* object) {
  static_cast<CSheetBatch*>(object)->RunThread();
  return nullptr;
}

void CSheetBatch::RunThread() {
  const char* fn = m_sThread.c_str();
  CLogScope scope(fn);
  for (;;) {
    if (!m_family.ScanSheet()) break;
    KELO_IMAGEDATA_PARAMETERS src[2] = {}, dst[2] = {};
    if (!m_family.SheetInfo(src, dst)) {
      m_family.SetFault(CBatchFamily::Fault::Parameter);
      WriteLog(LOG_LEVEL_ERROR, fn, "failed to get image info");
      break;
    }
    auto* node = static_cast<IMAGEDATA_NODE*>(calloc(1, sizeof(IMAGEDATA_NODE)));
    if (!node) {
      m_family.SetFault(CBatchFamily::Fault::NoMemory);
      WriteLog(LOG_LEVEL_ERROR, fn, "pstImagedata == NULL");
      break;
    }
    if (!m_family.MoveSheet(node, src, dst)) {
      FreeNode(node);
      m_family.SetFault(CBatchFamily::Fault::NoMemory);
      WriteLog(LOG_LEVEL_ERROR, fn, "pstImagedata->pFrontData == NULL");
      break;
    }
    {
      std::lock_guard<std::mutex> list(m_tListLock);
      IMAGEDATA_NODE** tail = &m_pHead;
      while (*tail) tail = &(*tail)->pNext;
      *tail = node;
    }
    m_tListChanged.notify_all();
    if (!m_family.AfterSheet()) break;
    usleep(kSheetPause);
    if (!m_family.MoreSheets()) break;
  }
  {
    std::lock_guard<std::mutex> list(m_tListLock);
    m_bThreadEnded = 1;
  }
  m_tListChanged.notify_all();
}

void CSheetBatch::Join() {
  if (!m_bThreadStarted) return;
  pthread_join(m_phandle, nullptr);
  m_bThreadStarted = false;
}

void CSheetBatch::FreeQueued() {
  std::lock_guard<std::mutex> list(m_tListLock);
  while (IMAGEDATA_NODE* node = m_pHead) {
    m_pHead = node->pNext;
    FreeNode(node);
  }
}

void CSheetBatch::Stop() {
  Join();
  FreeQueued();
  m_bThreadEnded = 0;
  m_pProp = &g_PropInfo;
}

SANE_Status CSheetBatch::ReadPage(const unsigned char* page, uint32_t* remaining, SANE_Byte* data, SANE_Int maxLength,
                                  SANE_Int* length) {
  const char* fn = m_sRead.c_str();
  if (!remaining || !data || !length) {
    WriteLog(LOG_LEVEL_DETAIL, fn, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  *length = 0;
  if (*remaining == 0) {
    WriteLog(LOG_LEVEL_DEBUG, fn, "end[SANE_STATUS_EOF]");
    return SANE_STATUS_EOF;
  }
  if (!page || maxLength < 0) {
    WriteLog(LOG_LEVEL_DETAIL, fn, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
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

SANE_Status CSheetBatch::Begin(std::atomic<uint32_t>& scanning) {
  if (scanning && m_bIsCancel) {
    WriteLog(LOG_LEVEL_ERROR, m_sStart.c_str(), "m_bIsCancel == true");
    return SANE_STATUS_CANCELLED;
  }
  m_bIsCancel = 0;
  scanning = 1;
  // Without a batch running, a start works from the options it was given.
  if (!m_bThreadStarted) m_pProp = &g_PropInfo;
  return SANE_STATUS_GOOD;
}

SANE_Status CSheetBatch::RefuseProps(std::atomic<uint32_t>& scanning) {
  if (!m_bThreadStarted) scanning = 0;
  WriteLog(LOG_LEVEL_ERROR, m_sStart.c_str(), "DoCheckPropList failed");
  return SANE_STATUS_INVAL;
}

bool CSheetBatch::FaceReady(const unsigned char* front, const unsigned char* back, bool duplex) {
  if (front) {
    if (duplex) g_bIsReadDoubleBack = 0;
    WriteLog(LOG_LEVEL_DEBUG, m_sStart.c_str(), "front page end");
    return true;
  }
  if (back) {
    if (duplex) g_bIsReadDoubleBack = 1;
    WriteLog(LOG_LEVEL_DEBUG, m_sStart.c_str(), "back page end");
    return true;
  }
  return false;
}

void CSheetBatch::ServeFaces(const unsigned char* front, const unsigned char* back, uint32_t remaining[2]) {
  remaining[0] = front ? SheetPageBytes(g_ImgDataInfo[0]) : 0;
  remaining[1] = back ? SheetPageBytes(g_ImgDataInfo[1]) : 0;
  BeginPage();
}

SANE_Status CSheetBatch::ReadFace(int source, unsigned char** front, unsigned char** back, uint32_t remaining[2],
                                  SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  *length = 0;
  // Past the end the flag already names the next face: reading on would
  // serve it early, inside this frame.
  if (m_bReadEnd) return SANE_STATUS_EOF;
  bool isBack;
  switch (source) {
    case 0:
    case 1:
      isBack = false;
      break;
    case 2:
      isBack = true;
      break;
    case 3:
      isBack = g_bIsReadDoubleBack != 0;
      break;
    default:
      return SANE_STATUS_GOOD;
  }
  unsigned char** page = isBack ? back : front;
  const SANE_Status status = ReadPage(*page, &remaining[isBack ? 1 : 0], data, maxLength, length);
  if (status != SANE_STATUS_EOF) return status;
  m_bReadEnd = true;
  if (!*page) return SANE_STATUS_EOF;
  free(*page);
  *page = nullptr;
  if (source == 3) g_bIsReadDoubleBack = isBack ? 0 : 1;
  return SANE_STATUS_EOF;
}
