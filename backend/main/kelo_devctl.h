// KeloDevCtl: the base of every device object that the main backend drives
// itself. It runs the per-batch and per-sheet order of the device steps,
// scans ahead in a scan thread when the feeder feeds automatically, hands
// pages over through a queue, cancels, and maps device-control codes to
// SANE_Status. The device classes supply the steps; the base steps succeed
// and do nothing.
#ifndef DRAVN_MAIN_KELO_DEVCTL_H
#define DRAVN_MAIN_KELO_DEVCTL_H

#include <pthread.h>
#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "main_types.h"

class KeloManagerUsb;

namespace dravnmain {

// One scanned sheet waiting in the queue.
struct IMAGEDATA_NODE {
  unsigned char* FrontImageData;  // null when the sheet has no front
  uint32_t FrontImageSize;
  unsigned char* BackImageData;
  uint32_t BackImageSize;
  struct {
    QV_IMAGEDATA_INFO tImgDataInfo;
    AUTO_COLOR_DETECT_INFO tAutoColorInfo;
  } ImageDataInfo;
  uint32_t SoftCrpRetry;
  IMAGEDATA_NODE* pNext;
};

class KeloDevCtl {
 public:
  KeloDevCtl();
  virtual ~KeloDevCtl();
  KeloDevCtl(const KeloDevCtl&) = delete;
  KeloDevCtl& operator=(const KeloDevCtl&) = delete;

  virtual SANE_Status ReadImgBuf(SANE_Byte* buffer, SANE_Int maxLength, SANE_Int* length);
  virtual void SetReadImgBufSize();
  virtual uint32_t DoCreateDevice();
  virtual uint32_t DoReleaseDevice();
  virtual uint32_t DoCheckDeviceCondition();
  virtual uint32_t DoCheckPropList();
  virtual uint32_t DoScanModeSetting();
  virtual uint32_t DoSetWindowInfo();
  virtual uint32_t DoCheckReturnError(uint32_t code);
  virtual uint32_t DoADFCheck();
  virtual uint32_t DoCheckPaperJam();
  virtual uint32_t DoSendLUTTable();
  virtual uint32_t DoTryLampOn();
  virtual uint32_t DoLoadPaper();
  virtual uint32_t DoStartScan();
  virtual uint32_t DoGetImageData(unsigned char** front, uint32_t* frontSize, unsigned char** back, uint32_t* backSize);
  virtual uint32_t DoClearDeviceDataBuf(bool flag);
  virtual uint32_t DoEjectPaper();
  virtual uint32_t DoCheckScanReady();
  virtual uint32_t DoGetCount(uint32_t* pages, uint32_t* pickRoller, uint32_t* padAssy, uint32_t* flatbed);
  virtual uint32_t DoClearCount(uint8_t counter);
  virtual uint32_t DoScanButtonSend(unsigned char* data, uint32_t length);
  virtual uint32_t DoScanButtonRecieve(unsigned char* data, uint32_t length);
  virtual uint32_t ImageProcess(unsigned char** front, uint32_t* frontSize, unsigned char** back, uint32_t* backSize);
  virtual uint32_t SetPowerOffTime(uint16_t minutes);
  virtual uint32_t DoBatch(bool on);

  uint32_t InitDevice();
  uint32_t Start();
  void Cancel();
  static uint32_t ScanPapers(KeloDevCtl* devctl);
  static SANE_Status ConvertToSaneErr(uint32_t code);

  // Read by the signal handler: plain lock-free words.
  bool IsScanning() const { return m_bScanning.load(); }
  void RequestCancel() { m_bIsCancel.store(true); }

 protected:
  uint32_t ScanPrepare();

  // Reader side: the page that ReadImgBuf hands out.
  unsigned char* m_pFrontImageData = nullptr;
  uint32_t m_ulFrontImageSize = 0;
  unsigned char* m_pBackImageData = nullptr;
  uint32_t m_ulBackImageSize = 0;
  // Scan side: where DoGetImageData puts a sheet in autofeed mode.
  unsigned char* m_pScanFrontImageData = nullptr;
  uint32_t m_ulScanFrontImageSize = 0;
  unsigned char* m_pScanBackImageData = nullptr;
  uint32_t m_ulScanBackImageSize = 0;

  IMAGEDATA_NODE* m_pImgDataHead = nullptr;
  IMAGEDATA_NODE* m_pImgDataTail = nullptr;
  std::atomic<uint32_t> m_ulThreadError{0};
  pthread_t m_phandle{};
  std::atomic<bool> m_bIsCancel{false};
  QV_IMAGEDATA_INFO* m_pImgDataInfo;
  QV_IMAGEDATA_INFO m_ImgDataInfo{};
  int32_t m_iDevType;
  AUTO_COLOR_DETECT_INFO m_AutoColorInfo{};
  AUTO_COLOR_DETECT_INFO m_AutoColorDetectInfo{};
  uint32_t m_bScanSoftCrpRetry = 0;
  uint32_t m_bSoftCrpRetry = 0;
  std::atomic<bool> m_bScanning{false};
  SCAN_PROP_INFO m_PropInfo{};
  KeloManagerUsb* m_pUsbManager;
  unsigned char m_szLUTTable[256] = {};
  bool m_bFirstScan = true;
  bool m_bLocalOccupy = false;  // batch (exclusive-use) mode held; Corvane5 only

 private:
  static void* DoScanThreadFunc(void* arg);
  bool ThreadEnded() const { return m_bThreadEnded.load(); }
  void JoinEndedThread();
  void WaitThreadEnd();
  void EndStart();
  void PushNode(IMAGEDATA_NODE* node);
  IMAGEDATA_NODE* PopNode();
  bool HasQueuedNode();
  void FreePages();

  // A thread exists once created; it marks its end as its last act, after
  // storing its error, so the SANE side can tell and join it.
  bool m_bThreadCreated = false;
  bool m_bThreadJoinable = false;
  std::atomic<bool> m_bThreadEnded{false};
  std::mutex m_queueLock;  // head, tail and links of the queue
};

}  // namespace dravnmain

#endif
