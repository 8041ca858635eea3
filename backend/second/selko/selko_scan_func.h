// The device class of the Selko family: its command protocol (8-byte
// headers, 16-byte statuses, a two-byte handshake around every use), the
// 64-byte scan-parameter record, the batch around each page (scan thread,
// page list, serving pages to the read side) and its page pipeline.
#ifndef DRAVN_SECOND_SELKO_SCAN_FUNC_H
#define DRAVN_SECOND_SELKO_SCAN_FUNC_H

#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "image_params.h"
#include "jpeg_decode.h"
#include "prop_info.h"
#include "selko2_pipeline.h"
#include "selko_exchange.h"
#include "sheet_batch.h"

// The 64-byte scan-parameter record, sent as it stands.
struct FIT_SCAN_PARAMETER {
  unsigned char bytes[64];
};

// Class error codes (m_dwLastErr).
enum : uint32_t {
  SELKO_ERR_NONE = 0,
  SELKO_ERR_COVER_OPEN = 1,
  SELKO_ERR_JAM = 2,
  SELKO_ERR_PAPER_EMPTY = 3,
  SELKO_ERR_DEVICE_4 = 4,
  SELKO_ERR_DEVICE_5 = 5,
  SELKO_ERR_IO = 6,
  SELKO_ERR_CANCELLED = 7,
  SELKO_ERR_PARAMETER = 8,
  SELKO_ERR_MEMORY = 9,
  SELKO_ERR_USB = 10,
  SELKO_ERR_NO_NAME = 12,
  SELKO_ERR_UNSUPPORTED = 15,
  SELKO_ERR_NOT_READY = 16,
};

namespace selko {
// Read-image page flags (status byte 1).
constexpr unsigned char kPageEnd = 0x01, kStopRequested = 0x04, kNoFurtherPage = 0x08, kBackFace = 0x80;
// The three names a scanner of the family answers (16 bytes, space padded).
bool IsSupportedName(const unsigned char name[16]);
}  // namespace selko

// One receive buffer with its capacity and fill count.
struct SelkoFaceBuffer {
  unsigned char* pbyImage = nullptr;
  uint32_t dwCapacity = 0;
  uint32_t dwFill = 0;
  FIT_COMMAND_STATUS tReply{};  // the face's last read-image reply
};

class CSelkoScanFunc final : private CBatchFamily {
 public:
  CSelkoScanFunc();
  ~CSelkoScanFunc();
  CSelkoScanFunc(const CSelkoScanFunc&) = delete;
  CSelkoScanFunc& operator=(const CSelkoScanFunc&) = delete;

  // Device-class contract of the entry points.
  SANE_Status InitDevice();
  SANE_Status Start();
  void SetReadImgBufSize();
  SANE_Status ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
  void Cancel();
  SANE_Status ConvertToSaneErr(uint32_t code) const;

  // Protocol.
  static void SendCmd(unsigned char code, unsigned char sub, uint32_t length, _FIT_CMD_HEADER_* header);
  // One exchange; reply data (when announced) goes to *ppReply (free() it),
  // or is read and dropped when no slot is given.
  bool USBRW(const _FIT_CMD_HEADER_& header, const unsigned char* out, FIT_COMMAND_STATUS* status,
             unsigned char** ppReply, uint32_t* pReplyLength = nullptr);
  // Through the command or query retry loop, then CheckCmdStatus.
  bool CommandRetry(unsigned char code, unsigned char sub, const unsigned char* out, uint32_t length,
                    FIT_COMMAND_STATUS* status, unsigned char** ppReply, uint32_t* pReplyLength);
  bool QueryRetry(unsigned char code, unsigned char sub, FIT_COMMAND_STATUS* status, unsigned char** ppReply,
                  uint32_t* pReplyLength);
  bool CheckCmdStatus(const FIT_COMMAND_STATUS& status);
  bool ConnectScannerBulk();
  bool ConnectScanner();
  bool TerminateScanner();
  int GetScannerName(unsigned char* name);
  int CheckScannerStatus(unsigned char* state);
  int GetScannerStatus(unsigned char* out, uint32_t size);
  bool ObjectPosition();
  int GetMaintenanceParam(unsigned char* out, unsigned char id, unsigned char length);
  int SetMaintenanceParam(const unsigned char* bytes, uint16_t id, uint16_t length);
  bool CancelRead();

  // The scan-parameter record.
  void InitScanParameter();
  FIT_SCAN_PARAMETER GetScanParameter() const { return m_tScanParameter; }
  void SetScanParameter(FIT_SCAN_PARAMETER record) { m_tScanParameter = record; }
  void UpdateScanParameter();
  bool ModeSelect();
  bool SetWindow();

  bool DoCheckDeviceCondition();
  bool DoCheckPropList();
  bool ScanPrepare();
  bool DoSendLUTTable();
  bool ScanScanner(bool first);

  // Batch.
  SANE_Status ScanPapers();
  uint32_t IsPendingImage() const;
  void ReleaseImageData();
  bool GetSrcImageInfo(KELO_IMAGEDATA_PARAMETERS* pstSrcImageInfo) const;
  bool GetDstImageInfo(KELO_IMAGEDATA_PARAMETERS* pstDstImageInfo) const;
  bool HasScanThread() const { return m_Batch.Started(); }
  // g_PropInfo, or during a batch with automatic feeding the copy the batch
  // started with: the scan thread reads it while the entry points rebuild
  // g_PropInfo.
  const KELO_PROP_INFO& Prop() const { return *m_Batch.Prop(); }

  // Pipeline.
  uint32_t DoImageProcess(unsigned char** ppFront, unsigned char** ppBack, KELO_IMAGEDATA_PARAMETERS* tpSrcInfo,
                          KELO_IMAGEDATA_PARAMETERS* tpDstInfo, const JPEGINFO* tpJpegInfo);
  int DoSelectFunc(int iFunction, unsigned char*** cpImageData, int iScanFace, KELO_IMAGEDATA_PARAMETERS* tpImageInfo);
  int DoImageProc(unsigned char** pbyInImg, KELO_IMAGEDATA_PARAMETERS* tpInParam, int iType);
  uint32_t DoEdgeFiller(unsigned char** ppbyImgData, const KELO_IMAGEDATA_PARAMETERS& tInfo, int iTop, int iBottom,
                        int iLeft, int iRight, bool bWhite);
  static int P2iRotate(const _P2IIMG* pstIn, int iAngle, _P2IIMG* pstOut);

  uint32_t getDwLastErr() const { return m_dwLastErr; }
  bool IsConnected() const { return m_bConnected != 0; }
  unsigned char StatusByte() const { return m_byStatus; }
  const unsigned char* ToneLUT() const { return m_byToneLUT; }

  // Read and written from the signal handler and from two threads.
  std::atomic<uint32_t> m_bIsCancel{0};
  std::atomic<uint32_t> m_bScanning{0};

 private:
  bool Exchange(unsigned char code, unsigned char sub, const unsigned char* out, uint32_t length,
                FIT_COMMAND_STATUS* status, unsigned char** ppReply, uint32_t* pReplyLength, bool query);
  bool AllocateBuffers();
  bool StoreReply(const FIT_COMMAND_STATUS& status, const unsigned char* data, uint32_t length);
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
  bool MoveReceivedPages(unsigned char** ppFront, unsigned char** ppBack, const KELO_IMAGEDATA_PARAMETERS* src,
                         JPEGINFO* jpeg);
  void FreeServedPages();
  void EndFailedBatch();
  bool ConvertsResolution() const;
  uint32_t ProcessFace(int face, unsigned char*** slots, KELO_IMAGEDATA_PARAMETERS* src,
                       KELO_IMAGEDATA_PARAMETERS* dst);
  void SetUsbTimeOut(int milliseconds);

  std::atomic<uint32_t> m_bTransferEnd{1};
  FIT_SCAN_PARAMETER m_tScanParameter{};
  std::atomic<uint32_t> m_bConnected{0};
  std::atomic<uint32_t> m_dwLastErr{0};
  unsigned char m_byStatus = 2;
  SelkoFaceBuffer m_stImageDataDuplex[2];  // front, back
  SelkoFaceBuffer m_stImageDataSimplex;
  uint16_t m_wPageCount[2] = {0, 0};
  std::atomic<uint32_t> m_bFirstPage{1};
  // The scanner asked for a stop on the last piece of a whole page: the page
  // is delivered, then the batch ends cancelled.
  std::atomic<uint32_t> m_bDeviceStop{0};

  // The read side.
  unsigned char* m_pImageFront = nullptr;
  unsigned char* m_pImageBack = nullptr;
  uint32_t m_dwRemain[2] = {0, 0};

  unsigned char m_byToneLUT[256];
  // Image steps shared with the Selko2 class (bicubic tables, mode step,
  // control-layer calls) and the identity table handed to the control layer.
  CSelko2PagePipeline m_Steps;
  uint32_t m_bLUTBuilt = 0;
  bool m_bToneApplied = false;  // the tone table went with the decoding

  // The batch: scan thread, page list and page serving.
  CSheetBatch m_Batch{*this, m_bIsCancel, "CSelkoScanFunc"};
  // One exchange at a time on the device.
  std::recursive_mutex m_ioLock;
};

#endif
