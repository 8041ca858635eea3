// The Selko batch as the entry points drive it: Start, what the family gives
// the shared batch (how a sheet is read, queued and ended), the read side and
// Cancel.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "option_table.h"
#include "selko_scan_func.h"

namespace {

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

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
  m_bIsCancel = 1;
  m_Batch.Join();
  TerminateScanner();
  FreeServedPages();
  ReleaseImageData();
}

// --- Start ---------------------------------------------------------------------

SANE_Status CSelkoScanFunc::Start() {
  const char* fn = "CSelkoScanFunc::Start";
  CLogScope scope(fn);
  SANE_Status status = m_Batch.Begin(m_bScanning);
  if (status != SANE_STATUS_GOOD) return status;
  if (!DoCheckPropList()) {
    m_dwLastErr = SELKO_ERR_PARAMETER;
    return m_Batch.RefuseProps(m_bScanning);
  }
  const bool duplex = g_PropInfo.SCAN_FACE == 3;
  // A batch whose thread was started goes on from it whatever the options
  // say now: a page read here as well would drive the device from two
  // threads.
  if (!g_PropInfo.AUTOFEED && !m_Batch.Started()) {
    while (!m_Batch.FaceReady(m_pImageFront, m_pImageBack, duplex)) {
      status = ScanPapers();
      if (status != SANE_STATUS_GOOD) {
        LogError(fn, "failed to scan papers");
        return status;
      }
    }
    return SANE_STATUS_GOOD;
  }
  status = m_Batch.StartThread(m_bFirstPage != 0);
  while (status == SANE_STATUS_GOOD && !m_Batch.FaceReady(m_pImageFront, m_pImageBack, duplex))
    status = m_Batch.TakeNextSheet();
  return status;
}

// What the batch ends with once its list is empty.
SANE_Status CSelkoScanFunc::EndOfBatch() {
  uint32_t code = m_dwLastErr;
  if (code == SELKO_ERR_NONE && !m_bFirstPage) code = SELKO_ERR_PAPER_EMPTY;
  const SANE_Status status = ConvertToSaneErr(code);
  LogError("CSelkoScanFunc::Start", status == SANE_STATUS_NO_DOCS
                                        ? "pthread_kill(m_phandle, 0) == ESRCH"
                                        : "pthread_kill(m_phandle, 0) == ESRCH JAM/Stop/Cover Open/Memory Not Enough");
  return status == SANE_STATUS_GOOD ? SANE_STATUS_NO_DOCS : status;
}

unsigned char* CSelkoScanFunc::PageFor(const unsigned char* data, const KELO_IMAGEDATA_PARAMETERS& src,
                                       const JPEGINFO& jpeg) {
  return CopyIntoPage(data, jpeg.uiDataSize, src);
}

SANE_Status CSelkoScanFunc::HandOver(unsigned char* pages[2], KELO_IMAGEDATA_PARAMETERS* src,
                                     KELO_IMAGEDATA_PARAMETERS* dst, const JPEGINFO* jpeg) {
  m_pImageFront = pages[0];
  m_pImageBack = pages[1];
  const uint32_t rc = DoImageProcess(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
  if (rc != 0) {
    FreeServedPages();
    LogError("CSelkoScanFunc::Start", "failed to scan papers");
    return ConvertToSaneErr(rc);
  }
  return SANE_STATUS_GOOD;
}

// --- the scan thread -------------------------------------------------------------

uint32_t CSelkoScanFunc::IsPendingImage() const {
  if (m_bTransferEnd) return 0;
  WriteLog(LOG_LEVEL_DEBUG, "CSelkoScanFunc::IsPendingImage", "not transfer end");
  return 1;
}

bool CSelkoScanFunc::ScanSheet() {
  ScanPapers();
  return m_dwLastErr == SELKO_ERR_NONE;
}

bool CSelkoScanFunc::SheetInfo(KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst) {
  return GetSrcImageInfo(src) && GetDstImageInfo(dst);
}

bool CSelkoScanFunc::MoveSheet(IMAGEDATA_NODE* node, const KELO_IMAGEDATA_PARAMETERS* src,
                               const KELO_IMAGEDATA_PARAMETERS* dst) {
  node->tSrcInfo[0] = src[0], node->tSrcInfo[1] = src[1];
  node->tDstInfo[0] = dst[0], node->tDstInfo[1] = dst[1];
  return MoveReceivedPages(&node->pFrontData, &node->pBackData, src, node->tJpegInfo);
}

void CSelkoScanFunc::SetFault(Fault fault) {
  m_dwLastErr = fault == Fault::Parameter ? SELKO_ERR_PARAMETER : SELKO_ERR_MEMORY;
}

// The scanner's stop ends the batch after the page it came with; so does a
// cancel.
bool CSelkoScanFunc::AfterSheet() {
  if (m_bDeviceStop) {
    m_bDeviceStop = 0;
    m_dwLastErr = SELKO_ERR_CANCELLED;
    return false;
  }
  if (m_bIsCancel) {
    m_dwLastErr = SELKO_ERR_CANCELLED;
    LogError("CSelkoScanFunc::DoScanThreadFunc", "cancel operation");
    return false;
  }
  return true;
}

bool CSelkoScanFunc::MoreSheets() { return IsPendingImage() && m_dwLastErr == SELKO_ERR_NONE; }

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
    pages[face] = CopyIntoPage(data[face], jpeg[face].uiDataSize, src[face]);
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

void CSelkoScanFunc::SetReadImgBufSize() { m_Batch.ServeFaces(m_pImageFront, m_pImageBack, m_dwRemain); }

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
  return m_Batch.ReadFace(g_PropInfo.SCAN_FACE, &m_pImageFront, &m_pImageBack, m_dwRemain, data, maxLength, length);
}

// --- Cancel -------------------------------------------------------------------------

void CSelkoScanFunc::FreeServedPages() {
  free(m_pImageFront);
  free(m_pImageBack);
  m_pImageFront = m_pImageBack = nullptr;
  m_dwRemain[0] = m_dwRemain[1] = 0;
  m_Batch.EndPage();
}

void CSelkoScanFunc::Cancel() {
  const char* fn = "CSelkoScanFunc::Cancel";
  CLogScope scope(fn);
  m_bIsCancel = 1;
  m_bLUTBuilt = 0;
  g_bIsReadDoubleBack = 0;
  // The thread stops before its next read command; only then may this
  // thread talk to the device.
  m_Batch.Join();
  if (!m_bTransferEnd && m_bConnected) CancelRead();
  m_bTransferEnd = 1;
  TerminateScanner();
  m_dwLastErr = SELKO_ERR_NONE;
  m_bFirstPage = 1;
  m_bDeviceStop = 0;
  m_bScanning = 0;
  FreeServedPages();
  ReleaseImageData();
  m_Batch.Stop();
}
