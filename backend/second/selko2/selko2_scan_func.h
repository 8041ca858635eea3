// The device class of the Selko2 family: its command protocol, the lock the
// scanner keeps for one owner, the NVRAM first-read date and the per-device
// status file through which a later process learns the last error; the
// acquisition of each sheet and the batch around it (scan thread, page
// list, serving pages to the read side).
#ifndef DRAVN_SECOND_SELKO2_SCAN_FUNC_H
#define DRAVN_SECOND_SELKO2_SCAN_FUNC_H

#include <sane/sane.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "image_params.h"
#include "jpeg_decode.h"
#include "prop_info.h"
#include "selko2_command.h"
#include "selko2_error.h"
#include "selko2_pipeline.h"
#include "sheet_batch.h"

// The 260-byte scan-parameter record, process-wide, owned by the object.
extern unsigned char* g_pScanParameterExt;

// The next sheet without automatic feeding sends the window and starts the
// scanner (cleared when a sheet ends with scanning going on, set again by
// cancel); "Stop Scan" has been sent for this batch.
extern std::atomic<uint32_t> g_bSendScanParamCmd;
extern std::atomic<uint32_t> g_bSendStopCmd;

// Sides of a sheet, as the face arrays index them.
enum : int { SELKO2_SIDE_FRONT = 0, SELKO2_SIDE_BACK = 1 };

// LockScanner answers.
enum : uint16_t { RET_LOCKED = 0, RET_ALREADY_LOCKED = 1, RET_NOT_CONNECT = 2 };

// The data phase of a Selko2 transaction: `length` bytes out from `out`, or
// in to `in`; `failure` is logged when it fails.
struct Selko2DataPhase {
  const unsigned char* out = nullptr;
  unsigned char* in = nullptr;
  uint32_t length = 0;
  const char* failure = "";
};

class CSelko2ScanFunc final : private CBatchFamily {
 public:
  CSelko2ScanFunc();
  ~CSelko2ScanFunc();
  CSelko2ScanFunc(const CSelko2ScanFunc&) = delete;
  CSelko2ScanFunc& operator=(const CSelko2ScanFunc&) = delete;

  // False when the scan-parameter record could not be allocated: such an
  // object can do nothing and is not kept.
  bool IsUsable() const { return g_pScanParameterExt != nullptr; }

  // A face's compressed data in a buffer the pipeline decodes into (null
  // when it cannot be had); free() it.
  static unsigned char* MakePageCopy(const unsigned char* data, uint32_t dataLength,
                                     const KELO_IMAGEDATA_PARAMETERS& src, uint32_t jpegHeight);

  // Device-class contract of the entry points.
  SANE_Status InitDevice();
  SANE_Status Start();
  void SetReadImgBufSize();
  SANE_Status ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
  void Cancel();

  // The scanner's end-of-scanning state.
  uint32_t IsPendingImage();
  // The scan thread has been started and has not yet been joined.
  bool HasScanThread() const { return m_Batch.Started(); }
  // Its body has run to its end.
  bool ScanThreadEnded() const { return m_Batch.Ended(); }

  // Page acquisition: one sheet, its preparation and its command sequence.
  SANE_Status ScanPapers();
  bool ScanPrepare();
  bool ScanScanner(uint32_t first);
  bool DoCheckPropList();
  bool DoSendLUTTable();
  bool GetSrcImageInfo(KELO_IMAGEDATA_PARAMETERS* pstSrcImageInfo);
  bool GetDstImageInfo(KELO_IMAGEDATA_PARAMETERS* pstDstImageInfo);
  // Header checks and edits within `length` bytes of data.
  bool Check_JPEG_FFE0(const unsigned char* data, uint32_t length, uint32_t position);
  bool Check_JPEG_FFC0(const unsigned char* data, uint32_t length, uint32_t position);
  void ModifiedJpegHeader_Byte(unsigned char* data, uint32_t length, uint32_t position, uint8_t value);
  void ModifiedJpegHeader(unsigned char* data, uint32_t length, uint32_t position, uint32_t value);
  // Mends the header of a finished face: density, frame size, restart
  // interval, by the image format of its block status.
  void RepairJpegHeader(unsigned char* data, uint32_t length, uint8_t format, uint32_t width, uint32_t height);
  void ReleaseImageData();
  void CreateDeviceImage(int side);

  // Runs the page pipeline on a sheet taken from the list (or read in this
  // thread): the page copies in `ppFront`/`ppBack` hold the compressed
  // faces and become the pages the read side serves (or null: blank, split
  // or merged). A last-error code, 0 when the sheet is ready; a failed
  // sheet's pages are freed.
  uint32_t HandOverSheet(unsigned char** ppFront, unsigned char** ppBack, KELO_IMAGEDATA_PARAMETERS* tpSrcInfo,
                         KELO_IMAGEDATA_PARAMETERS* tpDstInfo, const JPEGINFO* tpJpegInfo);

  // The scan-property record this object works from: g_PropInfo, or during
  // a batch with automatic feeding the copy the batch started with, which
  // the scan thread reads while the entry points rebuild g_PropInfo.
  const KELO_PROP_INFO& Prop() const { return *m_Batch.Prop(); }

  // Transaction steps and their logged wrappers.
  bool USBSendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status);
  bool USBSendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status);
  bool USBSendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status);
  // Reads one status record of the given size after a command.
  bool USBReadStatus(unsigned char* bytes, unsigned int size, const char* function);
  bool USBSendCommandNoData(_FCL_CMD* command);
  bool USBSendData(const unsigned char* data, uint32_t length);
  bool USBGetData(unsigned char* data, uint32_t length);
  bool SendCommand(_FCL_CMD* command, _FCL_DEVICE_STATUS* status);
  bool SendCommandExt(_FCL_CMD* command, _FCL_DEVICE_STATUS_EXT* status);
  bool SendAbortCommand(_FCL_CMD* command, _FCL_BLKIMG_STATUS* status);
  bool SendCommandNoData(_FCL_CMD* command);
  bool SendData(const unsigned char* data, uint32_t length);
  bool GetData(unsigned char* data, uint32_t length);
  // One transaction: the command with its status record (into `status`
  // when given), then its data phase if any. A failed step is a failed
  // command step, logged under `function`.
  bool Transact(const char* function, const Selko2Command& which, _FCL_DEVICE_STATUS* status = nullptr,
                const Selko2DataPhase& data = Selko2DataPhase());
  bool NvramTransfer(const char* function, const Selko2Command& which, const void* block, Selko2DataPhase& phase);

  // Device status.
  bool GetScannerStatus(unsigned char* data, uint32_t size);
  bool GetHardwareStatus(unsigned char* out);
  bool GetCurrentScannerStatus(unsigned char* data, uint32_t* lastErr);
  bool ObjectPosition();
  bool CancelRead();

  // The scan-parameter record.
  bool InitScanParameter();
  bool ModeSelect();
  bool SetWindow();

  // The in-scanner lock.
  uint16_t LockScanner();
  bool UnLockScanner();
  enum class HeldLock { Ours, Released, Kept, Failed };
  HeldLock ClaimHeldLock(const char* fn);

  // NVRAM and the first-read date.
  bool GetNVRAM(unsigned char* block);
  bool SetNVRAM(const unsigned char* block);
  bool SetFirstReadDate();

  // The per-device status file.
  void SetDeviceShmPath(const char* deviceName);
  const char* GetDeviceShmPath() const { return m_szDeviceShmPath; }
  bool WriteSCErrorInfo();
  // At close: removes the status file this object last wrote with no error.
  void RemoveCleanStatusFile();
  bool ReadSCErrorInfo(uint32_t* value, uint32_t* lastErr);

  // Translations of a last-error code.
  SANE_Status ConvertToSaneErr(uint32_t code);
  bool GetErrorCode(uint32_t code, uint8_t* out);
  bool SetSenseError(uint32_t code, Selko2SenseRecord* sense);
  bool SetSenceCode(Selko2SenseRecord* sense, uint8_t key, uint8_t code, uint8_t qualifier);
  void setDwLastErr(uint32_t code) { m_dwLastErr = code; }
  uint32_t getDwLastErr() const { return m_dwLastErr; }

  // Geometry of the half pages and the merged page: the pipeline's, seeded
  // from the options' frame until a sheet has made them.
  void SetFrameGeometry(const KELO_IMAGEDATA_PARAMETERS& face, bool split, bool merge);
  KELO_IMAGEDATA_PARAMETERS GetBufferGeometry(KELO_SELKO2_BUFFER buffer) const;

  bool IsLocked() const { return m_bLocked; }
  // The time-out of every transfer that follows.
  void SetUsbTimeOut(int milliseconds);

  // Read and written from the signal handler and, while a batch runs, from
  // two threads.
  std::atomic<uint32_t> m_bIsCancel{0};
  std::atomic<uint32_t> m_bScanning{0};

  // The page pipeline's state: tone tables, image steps, half and merged
  // pages.
  CSelko2PagePipeline m_Pipeline;

 private:
  bool ReadFull(unsigned char* data, uint32_t length);
  bool ReadBlockStatus(_FCL_BLKIMG_STATUS* status);
  bool DiscardData(uint32_t length, const char* failure);
  bool StoreBlock(int side, uint32_t readSize, uint32_t length, uint32_t blockWidth);
  bool BufferReady();
  void FreeServedPages();
  // The batch's hooks.
  bool ScanSheet() override;
  bool SheetInfo(KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst) override;
  bool MoveSheet(IMAGEDATA_NODE* node, const KELO_IMAGEDATA_PARAMETERS* src,
                 const KELO_IMAGEDATA_PARAMETERS* dst) override;
  void SetFault(Fault fault) override;
  bool AfterSheet() override;
  bool MoreSheets() override;
  unsigned char* PageFor(const unsigned char* data, const KELO_IMAGEDATA_PARAMETERS& src,
                         const JPEGINFO& jpeg) override;
  SANE_Status HandOver(unsigned char* pages[2], KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst,
                       const JPEGINFO* jpeg) override;
  SANE_Status EndOfBatch() override;
  // Sends "Stop Scan" once a batch.
  void SendStopOnce();

  char m_szDeviceShmPath[256] = {};
  bool m_bStatusFileClean = false;  // this object's last write recorded no error
  std::atomic<uint32_t> m_dwLastErr{0};
  std::atomic<uint32_t> m_bTransferEnd{1};
  std::atomic<uint32_t> m_bFirstPage{1};
  bool m_bFaceOverflow = false;  // a face brought more than any window allows
  uint32_t m_bLocked = 0;
  unsigned char m_szUUID[FCL_LOCK_OWNER_SIZE] = {};
  uint32_t m_bManualFeed = 0;
  int m_iUsbTimeOut = 0;
  // One transaction at a time: a query from the application's thread, the
  // unlock of a signal and the scan must never interleave their transfers.
  std::recursive_mutex m_ioLock;

  // The sheet being acquired: raw face buffers with their capacity, the
  // buffer whose header is mended, and per face the data length and the
  // frame width and height the scanner reported.
  unsigned char* m_pCurrentData = nullptr;
  unsigned char* m_pRawData[2] = {nullptr, nullptr};
  size_t m_ulRawCapacity[2] = {0, 0};
  uint32_t m_dwDataLength[2] = {0, 0};
  uint32_t m_dwFaceWidth[2] = {0, 0};
  uint32_t m_dwFaceHeight[2] = {0, 0};
  // The window of the current sheet, from the parameter record.
  uint64_t m_ullWindowBytesPerLine = 0;
  uint64_t m_ullWindowWidth = 0;
  uint64_t m_ullWindowLength = 0;

  // The pages being served and what is left of them.
  unsigned char* m_pImageFront = nullptr;
  unsigned char* m_pImageBack = nullptr;
  size_t m_ulImageBytes[2] = {0, 0};
  uint32_t m_dwRemain[2] = {0, 0};  // front, back
  uint32_t m_dwHalfRemain[5] = {};  // front upper, back upper, front lower, back lower, merged

  // Start or ReadImgBuf is running: a cancel that comes meanwhile (from a
  // signal handler or another thread) only raises the cancel flag.
  std::atomic<int> m_iInCall{0};
  // The batch: scan thread, page list, the property record they use, and
  // page serving.
  CSheetBatch m_Batch{*this, m_bIsCancel, "CSelko2ScanFunc"};
};

#endif
