// The Selko2 batch as the entry points drive it: Start, what the family gives
// the shared batch (how a sheet is read, queued and ended, the stop it
// sends), the serving of faces, half and merged pages, and Cancel.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "large_block.h"
#include "log.h"
#include "selko2_scan_func.h"

namespace {

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

uint32_t PageBytes(const KELO_IMAGEDATA_PARAMETERS& g) { return SheetPageBytes(g); }

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
  return m_Batch.FaceReady(m_pImageFront, m_pImageBack, duplex);
}

// --- Start ---------------------------------------------------------------------

SANE_Status CSelko2ScanFunc::Start() {
  const char* fn = "CSelko2ScanFunc::Start";
  CLogScope scope(fn);
  CInCall inCall(m_iInCall);
  for (uint32_t& n : m_dwHalfRemain) n = 0;
  SANE_Status status = m_Batch.Begin(m_bScanning);
  if (status != SANE_STATUS_GOOD) return status;
  if (!DoCheckPropList()) {
    m_dwLastErr = SELKO2_ERR_PARAM;
    return m_Batch.RefuseProps(m_bScanning);
  }

  // A batch whose thread was started goes on from it whatever the options
  // say now: a sheet read here as well would drive the device from two
  // threads.
  if (!g_PropInfo.AUTOFEED && !m_Batch.Started()) {
    for (;;) {
      if (BufferReady()) return SANE_STATUS_GOOD;
      status = ScanPapers();
      if (status != SANE_STATUS_GOOD) {
        LogError(fn, "failed to scan papers");
        return status;
      }
    }
  }
  status = m_Batch.StartThread(m_bFirstPage != 0);
  while (status == SANE_STATUS_GOOD && !BufferReady()) status = m_Batch.TakeNextSheet();
  return status;
}

// The end of a batch is recorded in the status file, a run out of paper
// too.
SANE_Status CSelko2ScanFunc::EndOfBatch() {
  const char* fn = "CSelko2ScanFunc::Start";
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
  m_dwLastErr = SELKO2_ERR_NO_PAPER;
  if (!WriteSCErrorInfo()) {
    LogError(fn, "WriteSCErrorInfo() == FALSE");
    return SANE_STATUS_IO_ERROR;
  }
  LogError(fn, "pthread_kill(m_phandle, 0) == ESRCH");
  return SANE_STATUS_NO_DOCS;
}

// A face's buffer with room for the JPEG's height as well as the source's.
unsigned char* CSelko2ScanFunc::PageFor(const unsigned char* data, const KELO_IMAGEDATA_PARAMETERS& src,
                                        const JPEGINFO& jpeg) {
  return MakePageCopy(data, jpeg.uiDataSize, src, jpeg.usHeight);
}

SANE_Status CSelko2ScanFunc::HandOver(unsigned char* pages[2], KELO_IMAGEDATA_PARAMETERS* src,
                                      KELO_IMAGEDATA_PARAMETERS* dst, const JPEGINFO* jpeg) {
  m_pImageFront = pages[0];
  m_pImageBack = pages[1];
  const uint32_t rc = HandOverSheet(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
  if (rc != 0) {
    LogError("CSelko2ScanFunc::Start", "failed to scan papers(autofeed)");
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
  unsigned char* copy = static_cast<unsigned char*>(AllocateLargeBlock(static_cast<size_t>(size)));
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

uint32_t CSelko2ScanFunc::IsPendingImage() {
  if (m_bTransferEnd) return 0;
  WriteLog(LOG_LEVEL_DEBUG, "CSelko2ScanFunc::IsPendingImage", "not transfer end");
  return 1;
}

bool CSelko2ScanFunc::ScanSheet() {
  ScanPapers();
  return m_dwLastErr == 0;
}

bool CSelko2ScanFunc::SheetInfo(KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst) {
  return GetSrcImageInfo(src) && GetDstImageInfo(dst);
}

bool CSelko2ScanFunc::MoveSheet(IMAGEDATA_NODE* node, const KELO_IMAGEDATA_PARAMETERS* src,
                                const KELO_IMAGEDATA_PARAMETERS* dst) {
  const int source = Prop().SCAN_FACE;
  const bool moveFront = source != 2, moveBack = source == 2 || source == 3;
  bool moved = true;
  for (int side = 0; side < 2 && moved; ++side) {
    if (!(side == SELKO2_SIDE_FRONT ? moveFront : moveBack) || !m_pRawData[side] || m_dwDataLength[side] == 0) continue;
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
  return moved;
}

void CSelko2ScanFunc::SetFault(Fault fault) {
  m_dwLastErr = fault == Fault::Parameter ? SELKO2_ERR_PARAM : SELKO2_ERR_NO_MEMORY;
}

void CSelko2ScanFunc::SendStopOnce() {
  if (g_bSendStopCmd != 0) return;
  std::lock_guard<std::recursive_mutex> io(m_ioLock);
  _FCL_CMD sFCLCommand;
  _FCL_DEVICE_STATUS sFCLDeviceStatus{};
  CreateCommand(&sFCLCommand, selko2::kStopScan);
  if (!SendCommand(&sFCLCommand, &sFCLDeviceStatus)) {
    m_dwLastErr = SELKO2_ERR_COMMAND;
    LogError("CSelko2ScanFunc::DoScanThreadFunc", "devctl->SendCommand(&sFCLCommand, &sFCLDeviceStatus) == FALSE");
  }
  g_bSendStopCmd = 1;
}

// A cancel ends the batch after its sheet, and the scanner is told to stop
// from this thread.
bool CSelko2ScanFunc::AfterSheet() {
  if (!m_bIsCancel) return true;
  LogError("CSelko2ScanFunc::DoScanThreadFunc", "cancel operation");
  m_dwLastErr = SELKO2_ERR_CANCELLED;
  SendStopOnce();
  return false;
}

bool CSelko2ScanFunc::MoreSheets() { return IsPendingImage() == 1 && m_dwLastErr == 0; }

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
  m_Batch.BeginPage();
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
  m_Batch.EndPage();
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
  if (m_Batch.PageEnded()) return SANE_STATUS_EOF;
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
  SANE_Status status = m_Batch.ReadPage(*buffer, remaining, data, maxLength, length);
  if (status != SANE_STATUS_EOF) return status;

  if (kind == kFace)
    m_Pipeline.TakeBackPage(side, *buffer, m_ulImageBytes[side]);
  else
    free(*buffer);
  *buffer = nullptr;
  m_Batch.EndPage();
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
  m_Batch.Join();
  m_Pipeline.ReleaseDecodeBuffers();  // the batch is over: no sheet reuses them
  SendStopOnce();
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
  m_Batch.Stop();
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
