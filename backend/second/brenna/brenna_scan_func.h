// The device class of the Brenna family: 12-byte command blocks sent by
// control transfer with bulk data phases and 3-byte statuses, sense replies
// turned into the class's error codes, the batch around each page (scan
// thread, page list, read side), the JFIF wrapping of the bare scan data and
// the page pipeline with its colour-fringe filter.
#ifndef DRAVN_SECOND_BRENNA_SCAN_FUNC_H
#define DRAVN_SECOND_BRENNA_SCAN_FUNC_H

#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "fsip_records.h"
#include "image_params.h"
#include "jpeg_decode.h"
#include "keloimageprocess.h"
#include "prop_info.h"
#include "selko2_pipeline.h"
#include "sheet_batch.h"

class KeloManagerUsb;

// Class error codes (the last-error member).
enum : uint32_t {
  BRENNA_ERR_NONE = 0,
  BRENNA_ERR_COVER_OPEN = 1,
  BRENNA_ERR_JAM = 2,
  BRENNA_ERR_NO_PAPER = 3,
  BRENNA_ERR_JAM2 = 4,
  BRENNA_ERR_CANCELLED = 5,
  BRENNA_ERR_PARAM = 6,
  BRENNA_ERR_NO_MEMORY = 7,
  BRENNA_ERR_IO = 8,
  BRENNA_ERR_ZERO_PAGE = 9,
  BRENNA_ERR_END_OF_PAGE = 13,
  BRENNA_ERR_LAMP_SIDE = 14,
  BRENNA_ERR_6003 = 15,
  BRENNA_ERR_LAMP_FLATBED = 16,
  BRENNA_ERR_1502 = 17,
  BRENNA_ERR_4401 = 18,
  BRENNA_ERR_4403 = 19,
  BRENNA_ERR_4404 = 20,
  BRENNA_ERR_OTHER = 21,
};

// Opcodes, also the index of each command block.
enum BrennaBlock : int {
  BRENNA_INQUIRY,
  BRENNA_REQUEST_SENSE,
  BRENNA_SET_WINDOW,
  BRENNA_READ,
  BRENNA_RESERVE_UNIT,
  BRENNA_RELEASE_UNIT,
  BRENNA_MEDIA_CHECK,
  BRENNA_SEND,
  BRENNA_BLOCKS
};

// Process-wide inquiry records, completed from the device.
extern unsigned char g_Inquiry[96];
extern unsigned char g_InquiryVPD[144];
extern const unsigned char byDefSetWindowData[96];

// The scan parameters (80 bytes).
struct AVS_SCAN_PARAMETER {
  uint8_t byBackOnly;        // 0
  uint8_t byFeeder;          // 1
  uint8_t byDuplex;          // 2
  uint8_t bySinglePage;      // 3
  uint8_t byMultiFeed;       // 4
  uint8_t byAutoSize;        // 5
  uint8_t byReserved6[2];    // 6
  uint8_t byJpegTable;       // 8
  uint8_t byReserved9[7];    // 9
  uint32_t dwChunkSize;      // 16
  uint32_t dwPageCount;      // 20
  uint32_t dwXRes;           // 24
  uint32_t dwYRes;           // 28
  uint32_t dwLeft;           // 32
  uint32_t dwTop;            // 36
  uint32_t dwWidth;          // 40
  uint32_t dwLength;         // 44
  uint8_t byReserved48[16];  // 48
  uint32_t dwPageWidth;      // 64
  uint32_t dwPageLength;     // 68
  uint8_t byReserved72[8];   // 72
};
static_assert(sizeof(AVS_SCAN_PARAMETER) == 80, "the scan parameters are an 80-byte record");

class CBrennaScanFunc final : private CBatchFamily {
 public:
  CBrennaScanFunc();
  ~CBrennaScanFunc();
  CBrennaScanFunc(const CBrennaScanFunc&) = delete;
  CBrennaScanFunc& operator=(const CBrennaScanFunc&) = delete;

  // Device-class contract of the entry points.
  SANE_Status InitDevice();
  SANE_Status Start();
  void SetReadImgBufSize();
  SANE_Status ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
  void Cancel();
  bool HasScanThread() const { return m_Batch.Started(); }

  // --- command layer ---
  int DoIo(unsigned char* block, unsigned char* data, unsigned int inLength, unsigned int outLength);
  int Inquiry(int standard, unsigned char* buffer, unsigned int length);
  int MediaCheck(unsigned char value, unsigned char* out);
  int GetScannerStatus(unsigned char* buffer, unsigned int length);
  int SetWindow(const unsigned char* window);
  int ReadData(unsigned char* buffer, uint16_t dataType, unsigned int length);
  int ReadCalibration(unsigned char* buffer);
  int ReadDuplex(unsigned char* buffer);
  int ReserveUnit(unsigned char unit);
  int ReleaseUnit(unsigned char unit);
  int Send(int dataType, int flag);
  int RequestSense(unsigned char value);
  int ObjectPosition();
  int CancelRead();
  SANE_Status ConvertToSaneErr(uint32_t code);
  uint32_t GetScannerError(uint32_t* out);
  int GetCommandMutex() { return 1; }
  int ReleaseCommandMutex() { return 1; }
  int SendFirstReadDate(const unsigned char* date, int unused);
  void InitScanParameterBrenna();

  // --- scan flow ---
  int SetWindow();  // scan parameters from the scan-property record
  int ModeSelect();
  void InitScanParameter();
  void UpdateScanParameter();
  int ScanScanner(int first);
  int ScanSync();
  SANE_Status ScanPapers();
  int ReadImageData();
  int ReadImageDataDuplex();
  int DoCheckPropList();
  int GetSrcImageInfo(KELO_IMAGEDATA_PARAMETERS* info);
  int GetDstImageInfo(KELO_IMAGEDATA_PARAMETERS* info);
  int DoSendLUTTable();
  void ReleaseImageData();
  int AddJPEGHeader(const unsigned char* data, unsigned int length);
  int WriteLogDeviceImage(const unsigned char* data);
  static int DevimgGetPrivateProfileInt(const char* key, int fallback, const char* path);

  // --- page pipeline ---
  int DoImageProcess(unsigned char** ppFront, unsigned char** ppBack, KELO_IMAGEDATA_PARAMETERS* src,
                     KELO_IMAGEDATA_PARAMETERS* dst, const JPEGINFO* jpeg);
  int DoSelectFunc(int function, unsigned char** slots, int face, KELO_IMAGEDATA_PARAMETERS* geometry);

  // --- colour filters ---
  static void ConvRGB2YUV(const _P2IIMG* in, _P2IIMG* out);
  static void ConvYUV2RGB(const _P2IIMG* in, _P2IIMG* out);
  static void YUVFilter(const _P2IIMG* in, _P2IIMG* out);
  static int _P2iEraseClrBdr(_P2IIMG* in, _P2IIMG* out, int unused);
  static int P2iEraseClrBdr(_P2IIMG* in, _P2IIMG* out, int unused) { return _P2iEraseClrBdr(in, out, unused); }
  static int Tavrin_EraseClrBdr(_P2IIMG* page, _P2IIMG* out);

  // Read and written from the signal handler and the scan thread.
  std::atomic<uint32_t> m_bIsCancel{0};
  std::atomic<uint32_t> m_bScanning{0};

  // The scan-property record this object works from: g_PropInfo, or during
  // a batch with automatic feeding the copy the batch started with, which
  // the scan thread reads (and the automatic size changes) while the entry
  // points rebuild g_PropInfo.
  KELO_PROP_INFO& Prop() { return *m_Batch.Prop(); }

  // Visible to tests.
  uint32_t LastError() const { return m_dwLastErr; }
  void SetLastError(uint32_t code) { m_dwLastErr = code; }
  uint16_t Tag() const { return m_wTag; }
  const unsigned char* Window() const { return m_byWindow; }
  const AVS_SCAN_PARAMETER& ScanParameter() const { return m_tScanParam; }
  const unsigned char* CommandBlock(int which) const { return m_byCmd[which]; }
  const unsigned char* ErrorRecord() const { return m_byErrorRecord; }
  const unsigned char* JfifResult(unsigned int* size) const {
    *size = m_dwJPEGImageSize;
    return m_pbyJPEGImage;
  }
  unsigned char* ToneTable() { return m_byLUT[0]; }
  uint32_t HeldPageSize() const { return m_dwSimplexSize; }
  void SetUsbManager(KeloManagerUsb* usb) { m_pUsb = usb; }

 private:
  void PutTag(unsigned char* p) const;
  int ReadPageFace(unsigned char*& data, size_t& capacity, size_t& used, bool& first, int& state, const char* fail);
  int FinishFace(unsigned char* data, size_t used, unsigned char*& held, uint32_t& heldSize, uint16_t* dims,
                 const char* memoryLack, const char* deviceError);
  bool SenseIsValid() const;
  uint16_t SenseCode() const;
  void FreeImages();
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
  // The thread ends a cancelled batch without an error: its end would read
  // as out of paper.
  bool CancelEndsTheWait() const override { return true; }
  unsigned char* CopyHeld(unsigned char*& held, uint32_t& heldSize, const KELO_IMAGEDATA_PARAMETERS& src);
  int ProcessFace(int face, unsigned char** slot, KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst);

  KeloManagerUsb* m_pUsb = nullptr;
  std::atomic<uint32_t> m_dwLastErr{0};
  int m_bInquiryCached = 0;
  int m_bPaperReleased = 1;
  std::atomic<int> m_bFirstPage{1};
  uint16_t m_wTag = 0;
  unsigned char m_byCmd[BRENNA_BLOCKS][12] = {};
  unsigned char m_bySense[44] = {};
  unsigned char m_byMedia[5] = {};
  unsigned char m_byWindow[96] = {};
  unsigned char m_byErrorRecord[16] = {};
  unsigned char m_byCalibration[36] = {};
  unsigned char m_byDuplex[7] = {};
  unsigned char m_byJpegBlock[132] = {};
  unsigned char m_byGammaBlock[3][520] = {};

  AVS_SCAN_PARAMETER m_tScanParam{};
  unsigned char* m_pbySimplex = nullptr;
  uint32_t m_dwSimplexSize = 0;
  uint16_t m_wSimplexDims[2] = {0, 0};
  unsigned char* m_pbyFront = nullptr;
  uint32_t m_dwFrontSize = 0;
  uint16_t m_wFrontDims[2] = {0, 0};
  unsigned char* m_pbyBack = nullptr;
  uint32_t m_dwBackSize = 0;
  uint16_t m_wBackDims[2] = {0, 0};
  unsigned char* m_pbyJPEGImage = nullptr;
  uint32_t m_dwJPEGImageSize = 0;
  unsigned char m_byLUT[2][256] = {};
  int m_bToneReady = 0;
  int m_bSaveDevImg = 0;
  int m_bColorShiftCorrection = 1;
  std::atomic<int> m_bStopped{0};

  // The batch: scan thread, page list, the property record they use, and
  // page serving.
  CSheetBatch m_Batch{*this, m_bIsCancel, "CBrennaScanFunc"};

  // The page being served.
  unsigned char* m_pImageFront = nullptr;
  unsigned char* m_pImageBack = nullptr;
  uint32_t m_dwLeft[2] = {0, 0};  // front, back

  // The image steps the Brenna pipeline shares with the Selko2 one: the
  // resolution conversion and its tables, the mode conversion.
  CSelko2PagePipeline m_Steps;
};

#endif
