#include "kelo_devctl.h"

#include <sane/sane.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "devctl_codes.h"
#include "log.h"
#include "main_globals.h"

namespace dravnmain {

namespace {

void Trace(const char* function, const char* text) { WriteLog(LOG_LEVEL_TRACE, function, text); }
void Error(const char* function, const char* text) { WriteLog(LOG_LEVEL_ERROR, function, text); }

void FreeNode(IMAGEDATA_NODE* node) {
  free(node->FrontImageData);
  free(node->BackImageData);
  free(node);
}

}  // namespace

KeloDevCtl::KeloDevCtl() : m_pImgDataInfo(&g_ImgDataInfo), m_iDevType(g_iDevType), m_pUsbManager(kelo_usb_manager) {}

KeloDevCtl::~KeloDevCtl() {
  Trace("~KeloDevCtl", "start");
  // Owners cancel before deleting; this only keeps a forgotten thread from
  // outliving the object.
  m_bIsCancel = true;
  WaitThreadEnd();
  if (g_hLibKeloImage && g_FSIP_FREESINCOS) g_FSIP_FREESINCOS();
  FreePages();
  Trace("~KeloDevCtl", "end");
}

SANE_Status KeloDevCtl::ReadImgBuf(SANE_Byte*, SANE_Int, SANE_Int*) {
  Trace("KeloDevCtl::ReadImgBuf", "start");
  Trace("KeloDevCtl::ReadImgBuf", "end");
  return SANE_STATUS_GOOD;
}
void KeloDevCtl::SetReadImgBufSize() {}
uint32_t KeloDevCtl::DoCreateDevice() { return VK_OK; }
uint32_t KeloDevCtl::DoReleaseDevice() { return VK_OK; }
uint32_t KeloDevCtl::DoCheckDeviceCondition() { return VK_OK; }
uint32_t KeloDevCtl::DoCheckPropList() { return VK_OK; }
uint32_t KeloDevCtl::DoScanModeSetting() { return VK_OK; }
uint32_t KeloDevCtl::DoSetWindowInfo() { return VK_OK; }
// A class without its own translation keeps the failure as it is: turning
// it into success would report a failed sheet as scanned.
uint32_t KeloDevCtl::DoCheckReturnError(uint32_t code) { return code; }
uint32_t KeloDevCtl::DoADFCheck() { return VK_OK; }
uint32_t KeloDevCtl::DoCheckPaperJam() { return VK_OK; }
uint32_t KeloDevCtl::DoSendLUTTable() { return VK_OK; }
uint32_t KeloDevCtl::DoTryLampOn() { return VK_OK; }
uint32_t KeloDevCtl::DoLoadPaper() { return VK_OK; }
uint32_t KeloDevCtl::DoStartScan() { return VK_OK; }
uint32_t KeloDevCtl::DoGetImageData(unsigned char**, uint32_t*, unsigned char**, uint32_t*) { return VK_OK; }
uint32_t KeloDevCtl::DoClearDeviceDataBuf(bool) { return VK_OK; }
uint32_t KeloDevCtl::DoEjectPaper() { return VK_OK; }
uint32_t KeloDevCtl::DoCheckScanReady() { return VK_OK; }
uint32_t KeloDevCtl::DoGetCount(uint32_t*, uint32_t*, uint32_t*, uint32_t*) { return VK_OK; }
uint32_t KeloDevCtl::DoClearCount(uint8_t) { return VK_OK; }
uint32_t KeloDevCtl::DoScanButtonSend(unsigned char*, uint32_t) { return VK_OK; }
uint32_t KeloDevCtl::DoScanButtonRecieve(unsigned char*, uint32_t) { return VK_OK; }
uint32_t KeloDevCtl::ImageProcess(unsigned char**, uint32_t*, unsigned char**, uint32_t*) { return VK_OK; }
uint32_t KeloDevCtl::SetPowerOffTime(uint16_t) { return VK_OK; }
uint32_t KeloDevCtl::DoBatch(bool) { return VK_OK; }

uint32_t KeloDevCtl::InitDevice() {
  static const char* const kTag = "KeloDevCtl::InitDevice";
  Trace(kTag, "start");
  uint32_t result = DoCheckDeviceCondition();
  if (result != VK_OK) return result;
  result = DoCheckScanReady();
  if (result != VK_OK) return result;
  result = DoCreateDevice();
  if (result != VK_OK) return result;
  Trace(kTag, "end");
  return result;
}

uint32_t KeloDevCtl::ScanPrepare() {
  static const char* const kTag = "KeloDevCtl::ScanPrepare";
  Trace(kTag, "start");
  uint32_t result = SetPowerOffTime(static_cast<uint16_t>(m_PropInfo.POWER_OFF_TIME));
  if (result != VK_OK) {
    Error(kTag, "SetPowerOffTime error");
    return result;
  }
  if (m_bFirstScan) {
    if ((result = DoCheckScanReady()) != VK_OK) {
      Error(kTag, "DoCheckScanReady() != VK_OK");
      return result;
    }
    if ((result = DoScanModeSetting()) != VK_OK) {
      Error(kTag, "DoScanModeSetting() != VK_OK");
      return result;
    }
  }
  if ((result = DoSetWindowInfo()) != VK_OK) {
    Error(kTag, "DoSetWindowInfo() != VK_OK");
    return result;
  }
  if ((result = DoADFCheck()) != VK_OK) {
    Error(kTag, "DoADFCheck() != VK_OK");
    return result;
  }
  if (m_bFirstScan) {
    if ((result = DoSendLUTTable()) != VK_OK) {
      Error(kTag, "DoSendLUTTable() != VK_OK");
      return result;
    }
    if ((result = DoTryLampOn()) != VK_OK) {
      Error(kTag, "DoTryLampOn() != VK_OK");
      return result;
    }
    m_bFirstScan = false;
  }
  Trace(kTag, "end");
  return VK_OK;
}

uint32_t KeloDevCtl::ScanPapers(KeloDevCtl* devctl) {
  static const char* const kTag = "KeloDevCtl::ScanPapers";
  Trace(kTag, "start");
  if (!devctl) {
    Error(kTag, "QV_ERR_CTL_ILLEGAL_PARAM");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  devctl->m_bScanning = true;
  devctl->m_bScanSoftCrpRetry = 0;
  devctl->m_AutoColorDetectInfo = AUTO_COLOR_DETECT_INFO{};

  uint32_t code = devctl->ScanPrepare();
  if (code != VK_OK) {
    uint32_t result = devctl->DoCheckReturnError(code);
    devctl->m_bScanning = false;
    Error(kTag, "devctl->ScanPrepare != VK_OK");
    return result;
  }
  code = devctl->DoLoadPaper();
  if (code != VK_OK) {
    uint32_t result = devctl->DoCheckReturnError(code);
    devctl->m_bScanning = false;
    Error(kTag, "devctl->DoLoadPaper != VK_OK");
    return result;
  }

  if ((code = devctl->DoStartScan()) != VK_OK) {
    Error(kTag, "(ulError = devctl->DoStartScan()) != VK_OK");
  } else if (devctl->m_PropInfo.AUTOFEED) {
    free(devctl->m_pScanFrontImageData);
    free(devctl->m_pScanBackImageData);
    devctl->m_pScanFrontImageData = devctl->m_pScanBackImageData = nullptr;
    devctl->m_ulScanFrontImageSize = devctl->m_ulScanBackImageSize = 0;
    code = devctl->DoGetImageData(&devctl->m_pScanFrontImageData, &devctl->m_ulScanFrontImageSize,
                                  &devctl->m_pScanBackImageData, &devctl->m_ulScanBackImageSize);
    if (code != VK_OK) Error(kTag, "ulError != VK_OK");
  } else {
    free(devctl->m_pFrontImageData);
    free(devctl->m_pBackImageData);
    devctl->m_pFrontImageData = devctl->m_pBackImageData = nullptr;
    devctl->m_ulFrontImageSize = devctl->m_ulBackImageSize = 0;
    code = devctl->DoGetImageData(&devctl->m_pFrontImageData, &devctl->m_ulFrontImageSize, &devctl->m_pBackImageData,
                                  &devctl->m_ulBackImageSize);
    if (code == VK_OK)
      code = devctl->ImageProcess(&devctl->m_pFrontImageData, &devctl->m_ulFrontImageSize, &devctl->m_pBackImageData,
                                  &devctl->m_ulBackImageSize);
    if (code != VK_OK) Error(kTag, "ulError != VK_OK");
  }
  if (code == VK_OK && (code = devctl->DoCheckPaperJam()) != VK_OK) Error(kTag, "devctl->DoCheckPaperJam != VK_OK");
  if (code == VK_OK) {
    devctl->m_bScanning = false;
    Trace(kTag, "end");
    return VK_OK;
  }

  uint32_t result = devctl->DoCheckReturnError(code);
  bool expected = true;
  // After SIGHUP the device is left alone: the line may be going away.
  if (!g_bSigHup.compare_exchange_strong(expected, false)) devctl->DoClearDeviceDataBuf(true);
  devctl->m_bScanning = false;
  Error(kTag, "devctl->m_bScanning = false");
  return result;
}

void KeloDevCtl::PushNode(IMAGEDATA_NODE* node) {
  std::lock_guard<std::mutex> lock(m_queueLock);
  if (!m_pImgDataHead) {
    m_pImgDataHead = m_pImgDataTail = node;
  } else {
    m_pImgDataTail->pNext = node;
    m_pImgDataTail = node;
  }
}

bool KeloDevCtl::HasQueuedNode() {
  std::lock_guard<std::mutex> lock(m_queueLock);
  return m_pImgDataHead != nullptr;
}

IMAGEDATA_NODE* KeloDevCtl::PopNode() {
  std::lock_guard<std::mutex> lock(m_queueLock);
  IMAGEDATA_NODE* node = m_pImgDataHead;
  if (node) {
    m_pImgDataHead = node->pNext;
    if (!m_pImgDataHead) m_pImgDataTail = nullptr;
  }
  return node;
}

void* KeloDevCtl::DoScanThreadFunc(void* arg) {
  static const char* const kTag = "KeloDevCtl::DoScanThreadFunc";
  Trace(kTag, "start");
  KeloDevCtl* devctl = static_cast<KeloDevCtl*>(arg);
  if (!devctl) {
    Error(kTag, "devctl == NULL");
    return nullptr;
  }
  uint32_t error = VK_OK;
  for (;;) {
    error = ScanPapers(devctl);
    if (error != VK_OK) break;
    if (devctl->m_pScanFrontImageData || devctl->m_pScanBackImageData) {
      // The node adopts the sheet's buffers: a page is never copied on its
      // way to the reader.
      IMAGEDATA_NODE* node = static_cast<IMAGEDATA_NODE*>(malloc(sizeof(IMAGEDATA_NODE)));
      if (!node) {
        Error(kTag, "iamgedata == NULL");
        error = QV_ERR_CTL_NO_MEMORY;
        break;
      }
      node->FrontImageData = devctl->m_pScanFrontImageData;
      node->FrontImageSize = node->FrontImageData ? devctl->m_ulScanFrontImageSize : 0;
      node->BackImageData = devctl->m_pScanBackImageData;
      node->BackImageSize = node->BackImageData ? devctl->m_ulScanBackImageSize : 0;
      node->ImageDataInfo.tImgDataInfo = devctl->m_ImgDataInfo;
      node->ImageDataInfo.tAutoColorInfo = devctl->m_AutoColorDetectInfo;
      node->SoftCrpRetry = devctl->m_bScanSoftCrpRetry;
      node->pNext = nullptr;
      devctl->m_pScanFrontImageData = devctl->m_pScanBackImageData = nullptr;
      devctl->m_ulScanFrontImageSize = devctl->m_ulScanBackImageSize = 0;
      devctl->PushNode(node);
    }
    if (devctl->m_bIsCancel) {
      Trace(kTag, "devctl->m_bIsCancel");
      // A cancelled batch must not look like one that ended well.
      error = SANE_STATUS_CANCELLED;
      break;
    }
    usleep(100);
  }
  devctl->m_ulThreadError.store(error);
  Trace(kTag, "end");
  devctl->m_bThreadEnded.store(true);  // last act: the object may go at once
  return nullptr;
}

void KeloDevCtl::JoinEndedThread() {
  if (m_bThreadJoinable && ThreadEnded()) {
    pthread_join(m_phandle, nullptr);
    m_bThreadJoinable = false;
  }
}

void KeloDevCtl::WaitThreadEnd() {
  if (!m_bThreadCreated) return;
  while (!ThreadEnded()) usleep(500);
  JoinEndedThread();
}

uint32_t KeloDevCtl::Start() {
  static const char* const kTag = "KeloDevCtl::Start";
  Trace(kTag, "start");
  // A batch whose scan thread runs, or whose sheets or failure still wait,
  // keeps the properties and the feeding it started with: the thread reads
  // them, and a second reader would take its sheets out of order.
  const bool batchGoesOn = m_bThreadCreated && (!ThreadEnded() || HasQueuedNode() || m_ulThreadError.load() != VK_OK);
  if (!batchGoesOn) m_PropInfo = g_PropInfo;
  m_bScanning = true;
  if (!batchGoesOn && DoCheckPropList() != VK_OK) {
    m_bScanning = false;  // a refused start is no scan: signals end the process again
    Error(kTag, "DoCheckPropList() != VK_OK");
    return QV_ERR_CTL_ILLEGAL_PARAM;
  }
  m_bIsCancel = false;

  if (!m_PropInfo.AUTOFEED) {
    for (;;) {
      if (m_pFrontImageData) break;
      if (m_pBackImageData) break;
      uint32_t result = ScanPapers(this);
      if (result != VK_OK) {
        Trace(kTag, "end");
        return result;
      }
    }
  } else {
    JoinEndedThread();
    if (!m_bThreadCreated || (ThreadEnded() && m_ulThreadError.load() == VK_OK)) {
      pthread_attr_t attr;
      if (pthread_attr_init(&attr) != 0) {
        m_bScanning = false;
        return QV_ERR_CTL_ILLEGAL_PARAM;
      }
      m_ulThreadError = VK_OK;
      m_bThreadEnded = false;
      int rc = pthread_create(&m_phandle, &attr, DoScanThreadFunc, this);
      pthread_attr_destroy(&attr);
      if (rc != 0) {
        m_bThreadEnded = true;
        m_bScanning = false;
        return QV_ERR_CTL_ILLEGAL_PARAM;
      }
      m_bThreadCreated = true;
      m_bThreadJoinable = true;
    }
    while (!m_pFrontImageData && !m_pBackImageData) {
      IMAGEDATA_NODE* node = PopNode();
      if (!node) {
        if (ThreadEnded()) {
          // The thread queues its last sheet before it marks its end: look
          // once more before reporting how it ended.
          node = PopNode();
          if (!node) {
            JoinEndedThread();
            m_bScanning = false;
            WriteLog(LOG_LEVEL_DEBUG, kTag, "pthread_kill(m_phandle, 0) == ESRCH");
            return m_ulThreadError.load();
          }
        } else {
          usleep(100);
          continue;
        }
      }
      m_pFrontImageData = node->FrontImageData;
      m_ulFrontImageSize = node->FrontImageSize;
      m_pBackImageData = node->BackImageData;
      m_ulBackImageSize = node->BackImageSize;
      g_ImgDataInfo = node->ImageDataInfo.tImgDataInfo;
      m_AutoColorInfo = node->ImageDataInfo.tAutoColorInfo;
      m_bSoftCrpRetry = node->SoftCrpRetry;
      free(node);
      uint32_t result = ImageProcess(&m_pFrontImageData, &m_ulFrontImageSize, &m_pBackImageData, &m_ulBackImageSize);
      if (result != VK_OK) {
        EndStart();
        Trace(kTag, "end");
        return result;
      }
    }
  }

  EndStart();
  if (m_pFrontImageData) {
    if (m_PropInfo.SCAN_SOURCE == 3) g_bIsReadDoubleBack = false;
    Trace(kTag, "front page end");
  } else {
    if (m_PropInfo.SCAN_SOURCE == 3) g_bIsReadDoubleBack = true;
    Trace(kTag, "back page end");
  }
  return VK_OK;
}

// A start that hands out a page without scanning, or after the thread has
// ended, is no scan under way: signals must end the process again. A thread
// that still runs sets and clears the flag for each of its sheets.
void KeloDevCtl::EndStart() {
  if (!m_bThreadCreated || ThreadEnded()) m_bScanning = false;
}

void KeloDevCtl::FreePages() {
  free(m_pFrontImageData);
  free(m_pBackImageData);
  free(m_pScanFrontImageData);
  free(m_pScanBackImageData);
  m_pFrontImageData = m_pBackImageData = m_pScanFrontImageData = m_pScanBackImageData = nullptr;
  m_ulFrontImageSize = m_ulBackImageSize = m_ulScanFrontImageSize = m_ulScanBackImageSize = 0;
  while (IMAGEDATA_NODE* node = PopNode()) FreeNode(node);
}

void KeloDevCtl::Cancel() {
  static const char* const kTag = "KeloDevCtl::Cancel";
  Trace(kTag, "start");
  m_bIsCancel = true;
  g_bIsReadDoubleBack = false;
  // The thread finishes the sheet in hand; nothing is freed under it, and
  // the next batch is marked only once it can no longer start a sheet.
  WaitThreadEnd();
  m_bFirstScan = true;
  if (DoBatch(false) != VK_OK) Error(kTag, "DoBatch(false) != VK_OK ");
  FreePages();
  m_bScanSoftCrpRetry = 0;
  m_bSoftCrpRetry = 0;
  m_ulThreadError = VK_OK;
  Trace(kTag, "end");
}

SANE_Status KeloDevCtl::ConvertToSaneErr(uint32_t code) {
  static const char* const kTag = "KeloDevCtl::ConvertToSaneErr";
  Trace(kTag, "start");
  SANE_Status status;
  if (errno == EBUSY) {
    status = SANE_STATUS_DEVICE_BUSY;
  } else if (errno == EPERM || errno == EACCES) {
    status = SANE_STATUS_ACCESS_DENIED;
  } else if (code <= SANE_STATUS_ACCESS_DENIED) {
    status = static_cast<SANE_Status>(code);
  } else {
    switch (code) {
      case QV_ERR_CTL_ILLEGAL_PARAM:
        status = SANE_STATUS_INVAL;
        break;
      case QV_ERR_CTL_NOT_SUPPORT:
        status = SANE_STATUS_UNSUPPORTED;
        break;
      case QV_ERR_CTL_NO_MEMORY:
        status = SANE_STATUS_NO_MEM;
        break;
      case QV_ERR_CTL_TIMEOUT:
        status = SANE_STATUS_DEVICE_BUSY;
        break;
      case QV_ERR_CTL_PAPER_JAM:
      case QV_ERR_CTL_DOUBLE_FEED:
      case QV_ERR_CTL_DATA_NOT_ENOUGH:
        status = SANE_STATUS_JAMMED;
        break;
      case QV_ERR_CTL_COVER_OPEN:
        status = SANE_STATUS_COVER_OPEN;
        break;
      case QV_ERR_CTL_NO_PAPER:
        status = SANE_STATUS_NO_DOCS;
        break;
      case QV_ERR_CTL_STOP_QUICKLY:
        status = SANE_STATUS_CANCELLED;
        break;
      default:
        status = SANE_STATUS_IO_ERROR;
        break;
    }
  }
  Trace(kTag, "end");
  return status;
}

}  // namespace dravnmain
