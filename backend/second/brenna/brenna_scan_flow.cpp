// The Brenna batch: the object, the scan parameters and window made from the
// options, what the family gives the shared batch, the read side and cancel.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "brenna_jfif.h"
#include "brenna_scan_func.h"
#include "dravn_paths.h"
#include "log.h"
#include "second_backend.h"
#include "usb_manager.h"

namespace {

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

void SetBe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void SetBe32(unsigned char* p, uint32_t v) {
  SetBe16(p, v >> 16);
  SetBe16(p + 2, v);
}

constexpr int kAutomaticPaperSize = 12;
// Millimetres in the record's length unit.
constexpr double Mm(double mm) { return mm * 65536.0 / 1387.0; }

uint32_t FaceBytes(const KELO_IMAGEDATA_PARAMETERS& g) { return SheetPageBytes(g); }

int Trunc(double v) { return static_cast<int>(v); }

}  // namespace

// --- the object ----------------------------------------------------------------

CBrennaScanFunc::CBrennaScanFunc() {
  m_bFirstPage = 1;
  m_bPaperReleased = 1;
  InitScanParameter();
  m_wTag = static_cast<uint16_t>(rand());
  InitScanParameterBrenna();
  const char* conf = DRAVN_ETC_DIR "/fsip.conf";
  m_bSaveDevImg = DevimgGetPrivateProfileInt("SaveDevImg", 0, conf);
  m_bColorShiftCorrection = DevimgGetPrivateProfileInt("ColorShiftCorrection", 1, conf);
}

CBrennaScanFunc::~CBrennaScanFunc() {
  // No thread outlives the object, nor a page it held.
  m_bIsCancel = 1;
  m_Batch.Join();
  FreeImages();
  delete[] m_pbySimplex;
  delete[] m_pbyFront;
  delete[] m_pbyBack;
  delete[] m_pbyJPEGImage;
}

int CBrennaScanFunc::DevimgGetPrivateProfileInt(const char* key, int fallback, const char* path) {
  FILE* file = fopen(path, "r");
  if (!file) return fallback;
  char token[256];
  int value = 0;
  int result = fallback;
  for (;;) {
    const int n = fscanf(file, "%255s%d\n", token, &value);
    if (n == EOF) break;
    if (n == 2 && strcasecmp(token, key) == 0) {
      result = value;
      break;
    }
    if (n != 2) {
      // Skip what is left of a line that is not a key and a number.
      int c;
      while ((c = fgetc(file)) != EOF && c != '\n') {
      }
      if (c == EOF) break;
    }
  }
  fclose(file);
  return result;
}

SANE_Status CBrennaScanFunc::InitDevice() {
  const char* fn = "CBrennaScanFunc::InitDevice";
  CLogScope scope(fn);
  KeloManagerUsb* usb = m_pUsb ? m_pUsb : kelo_usb_manager;
  if (usb) usb->SetUsbTimeOut(1000);
  unsigned char scratch[60];
  int rc = BRENNA_ERR_OTHER;
  for (int i = 0; i < 3 && rc != 0; ++i) rc = Inquiry(1, scratch, sizeof scratch);
  if (usb) usb->SetUsbTimeOut(KELO_USB_DEFAULT_TIMEOUT);
  if (rc != 0) {
    LogError(fn, "Inquiry failed");
    return ConvertToSaneErr(static_cast<uint32_t>(rc));
  }
  return SANE_STATUS_GOOD;
}

void CBrennaScanFunc::InitScanParameter() {
  memset(&m_tScanParam, 0, sizeof m_tScanParam);
  m_tScanParam.byFeeder = 1;
  m_tScanParam.byJpegTable = 100;
  m_tScanParam.dwChunkSize = 0x40000;
  m_tScanParam.dwXRes = m_tScanParam.dwYRes = 300;
  m_tScanParam.dwWidth = 2550;
  m_tScanParam.dwLength = 4200;
  memcpy(m_byWindow, byDefSetWindowData, sizeof m_byWindow);
}

// --- scan parameters and window --------------------------------------------------

int CBrennaScanFunc::ModeSelect() {
  const KELO_PROP_INFO& p = Prop();
  m_tScanParam.byAutoSize = p.PAPER_SIZE == kAutomaticPaperSize;
  m_tScanParam.byMultiFeed = p.DF_ACTION == 1 && p.MF_OVERLAPPING != 0;
  if (!p.AUTOFEED) {
    m_tScanParam.bySinglePage = 1;
    m_tScanParam.dwPageCount = 1;
  } else {
    m_tScanParam.bySinglePage = 0;
    m_tScanParam.dwPageCount = 0;
  }
  return 1;
}

int CBrennaScanFunc::SetWindow() {
  KELO_PROP_INFO& p = Prop();
  AVS_SCAN_PARAMETER& s = m_tScanParam;
  switch (p.SCAN_FACE) {
    case 0:
      s.byBackOnly = s.byFeeder = s.byDuplex = 0;
      break;
    case 1:
      s.byFeeder = 1, s.byBackOnly = s.byDuplex = 0;
      break;
    case 2:
      s.byBackOnly = s.byFeeder = 1, s.byDuplex = 0;
      break;
    case 3:
      s.byFeeder = s.byDuplex = 1, s.byBackOnly = 0;
      break;
    default:
      break;
  }
  const int xres = p.SCAN_RES_X < 301 ? 300 : 600;
  const int yres = p.SCAN_RES_Y > 300 ? 600 : 300;
  s.dwXRes = static_cast<uint32_t>(xres);
  s.dwYRes = static_cast<uint32_t>(yres);
  s.byJpegTable = 5;

  double left, top, areaWidth, areaHeight;
  if (p.PAPER_SIZE == kAutomaticPaperSize) {
    p.TOP_LEFT_X = p.TOP_LEFT_Y = 0;
    if (s.byFeeder) {
      p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH;
      p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH;
      areaWidth = p.CUST_PAGE_WIDTH, areaHeight = p.CUST_PAGE_LENGTH;
    } else {
      areaWidth = p.BOTTOM_RIGHT_X, areaHeight = p.BOTTOM_RIGHT_Y;
    }
    left = top = 0;
  } else {
    left = p.TOP_LEFT_X, top = p.TOP_LEFT_Y;
    areaWidth = p.BOTTOM_RIGHT_X - p.TOP_LEFT_X;
    areaHeight = p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y;
  }
  int pageWidth = Trunc(Trunc(p.CUST_PAGE_WIDTH) * static_cast<double>(xres) / 1200 + 15) & ~15;
  int pageLength = Trunc(yres * static_cast<double>(Trunc(p.CUST_PAGE_LENGTH)) / 1200 + 7) & ~7;
  int width = Trunc(Trunc(areaWidth) * static_cast<double>(xres) / 1200 + 15) & ~15;
  int length = Trunc(yres * static_cast<double>(Trunc(areaHeight)) / 1200 + 7) & ~7;
  if (s.byAutoSize && s.byFeeder) {
    const double marginX = 0.14 * xres, marginY = 0.4 * yres;
    const int maxWidth = Trunc(xres * 10369.0 / 1200 + 15) & ~15;
    const int maxLength = Trunc(yres * 150499.0 / 1200 + 7) & ~7;
    width = std::min(maxWidth, Trunc(width + Trunc(marginX) + 15) & ~15);
    length = std::min(maxLength, Trunc(length + Trunc(marginY) + 7) & ~7);
    pageWidth = std::min(maxWidth, Trunc(pageWidth + Trunc(marginX) + 15) & ~15);
    pageLength = std::min(maxLength, Trunc(pageLength + Trunc(marginY) + 7) & ~7);
  }
  s.dwPageWidth = static_cast<uint32_t>(std::max(0, pageWidth));
  s.dwPageLength = static_cast<uint32_t>(std::max(0, pageLength));
  s.dwWidth = static_cast<uint32_t>(std::max(0, width));
  s.dwLength = static_cast<uint32_t>(std::max(0, length));
  const int maxScanWidth = xres == 300 ? 2560 : 5104;
  if (pageWidth <= maxScanWidth) {
    const int centring = s.byFeeder ? Trunc(0.5 * maxScanWidth - (pageWidth >> 1)) : 0;
    s.dwLeft = static_cast<uint32_t>(std::max(0, Trunc(xres * left / 1200 + centring)));
  }
  s.dwTop = static_cast<uint32_t>(std::max(0, Trunc(yres * top / 1200)));
  return 1;
}

void CBrennaScanFunc::UpdateScanParameter() {
  const AVS_SCAN_PARAMETER& s = m_tScanParam;
  unsigned char* w = m_byWindow;
  SetBe16(w + 5, s.dwXRes);
  SetBe32(w + 7, s.dwLeft);
  SetBe32(w + 11, s.dwTop);
  SetBe32(w + 15, s.dwWidth);
  SetBe32(w + 19, s.dwLength);
  SetBe16(w + 23, s.dwXRes);
  SetBe16(w + 25, s.dwYRes);
  SetBe32(w + 27, s.dwWidth);
  SetBe32(w + 31, s.dwLength);
  SetBe32(w + 35, s.dwWidth * 3);
  w[44] = !s.byFeeder ? 0 : s.byDuplex ? 4 : s.byBackOnly ? 5 : 1;
  if (s.dwPageCount != 0) {
    uint64_t count = s.dwPageCount;
    if (s.byDuplex) count *= 2;
    SetBe16(w + 57, count > 0xFFFF ? 0xFFFE : static_cast<uint32_t>(count));
  }
  if (s.byMultiFeed) w[62] = 0x18;
  const int limit = static_cast<int>(7 + s.dwXRes * 17282.0 / 1200) & ~7;
  unsigned char mode = (w[44] != 0 && static_cast<int64_t>(limit) < s.dwPageLength) ? 0x11 : 0x01;
  if (s.bySinglePage) mode &= static_cast<unsigned char>(~0x01);
  w[63] = mode;
}

// --- geometry ------------------------------------------------------------------------

int CBrennaScanFunc::GetSrcImageInfo(KELO_IMAGEDATA_PARAMETERS* info) {
  if (!info) {
    LogError("CBrennaScanFunc::GetSrcImageInfo", "pstSrcImageInfo == NULL");
    return 0;
  }
  const KELO_PROP_INFO& p = Prop();
  const int dx = p.SCAN_RES_X <= 300 ? 300 : 600, dy = p.SCAN_RES_Y <= 300 ? 300 : 600;
  KELO_IMAGEDATA_PARAMETERS face;
  face.iPixelsPerLine = Trunc(Trunc(p.BOTTOM_RIGHT_X - p.TOP_LEFT_X) * static_cast<double>(dx) / 1200 + 15) & ~15;
  face.iLines = Trunc(Trunc(p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y) * static_cast<double>(dy) / 1200 + 7) & ~7;
  face.iBytesPerLine = 3 * face.iPixelsPerLine;
  face.iFormat = p.SCAN_MODE == 2 ? 1 : 0;
  face.iDepth = p.SCAN_MODE == 0 ? 1 : 8;
  face.iLastFrame = 1;
  info[0] = info[1] = face;
  return 1;
}

int CBrennaScanFunc::GetDstImageInfo(KELO_IMAGEDATA_PARAMETERS* info) {
  if (!info) {
    LogError("CBrennaScanFunc::GetDstImageInfo", "pstDstImageInfo == NULL");
    return 0;
  }
  const KELO_PROP_INFO& p = Prop();
  KELO_IMAGEDATA_PARAMETERS face;
  face.iPixelsPerLine = Trunc(Trunc(p.BOTTOM_RIGHT_X - p.TOP_LEFT_X) * static_cast<double>(p.SCAN_RES_X) / 1200);
  face.iLines = Trunc(Trunc(p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y) * static_cast<double>(p.SCAN_RES_Y) / 1200);
  face.iBytesPerLine = 3 * face.iPixelsPerLine;
  face.iFormat = p.SCAN_MODE == 2 ? 1 : 0;
  face.iDepth = p.SCAN_MODE == 0 ? 1 : 8;
  face.iLastFrame = 1;
  info[0] = info[1] = face;
  return 1;
}

int CBrennaScanFunc::DoCheckPropList() {
  const char* fn = "CBrennaScanFunc::DoCheckPropList";
  const KELO_PROP_INFO& p = Prop();
  auto fail = [&](const char* text) {
    LogError(fn, text);
    return 0;
  };
  const bool automatic = p.PAPER_SIZE == kAutomaticPaperSize;
  if (p.SCAN_FACE > 3) return fail("invalid scan face");
  if (p.SCAN_MODE > 2) return fail("invalid scan mode");
  if (p.SCAN_RES_X < 50 || p.SCAN_RES_X > 600) return fail("invalid resolution(x)");
  if (p.SCAN_RES_Y < 50 || p.SCAN_RES_Y > 600) return fail("invalid resolution(y)");
  if (!automatic && NoPaperGeometry()) return fail("invalid paper size");
  if (!automatic && (p.BOTTOM_RIGHT_X - p.TOP_LEFT_X < Mm(26) || p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y < Mm(26)))
    return fail("Scan min length < 26mm and scan min height < 26mm");
  if (!automatic && p.SCAN_FACE != 0 && (p.CUST_PAGE_WIDTH < Mm(114) || p.CUST_PAGE_LENGTH < Mm(140)))
    return fail("Scan paper length < 114mm or paper length < 140mm");
  if (p.PAPER_SIZE == 0 && p.CUST_PAGE_WIDTH > Mm(216)) return fail("invalid paper width");
  if (p.PAPER_SIZE == 0 && p.SCAN_RES_X <= 200 && p.CUST_PAGE_LENGTH > Mm(3175))
    return fail("invalid paper length(50-200dpi)");
  if (p.PAPER_SIZE == 0 && p.SCAN_RES_X > 200 && p.CUST_PAGE_LENGTH > Mm(863.6))
    return fail("invalid paper length(>200dpi)");
  if (automatic && p.SCAN_FACE == 0 && !(g_InquiryVPD[104] & 0x02))
    return fail("invalid cropping value (white background flatbed model)");
  if (p.BRIGHTNESS < -127 || p.BRIGHTNESS > 127) return fail("invalid brightness");
  if (p.CONTRAST < -127 || p.CONTRAST > 127) return fail("invalid contrast");
  if (p.BW_MODE == 0 || p.BW_MODE > 3) return fail("invalid binarization method");
  if (p.EDGE_FILLER_TOP < 0 || p.EDGE_FILLER_BOTTOM < 0 || p.EDGE_FILLER_LEFT < 0 || p.EDGE_FILLER_RIGHT < 0)
    return fail("invalid edge filler");
  if (p.DF_ACTION > 1) return fail("invalid df-action");
  if (p.BLANK_PAGE_SKIP_SENSITIVITY < -2 || p.BLANK_PAGE_SKIP_SENSITIVITY > 2)
    return fail("invalid blank page skip sensitivity");
  return 1;
}

int CBrennaScanFunc::DoSendLUTTable() {
  for (int i = 0; i < 256; ++i) m_byLUT[0][i] = m_byLUT[1][i] = static_cast<unsigned char>(i);
  return 1;
}

// --- the scan thread -------------------------------------------------------------

bool CBrennaScanFunc::ScanSheet() {
  ScanPapers();
  if (m_dwLastErr == 0) return true;
  LogError("CBrennaScanFunc::DoScanThreadFunc", "Device Error");
  return false;
}

bool CBrennaScanFunc::SheetInfo(KELO_IMAGEDATA_PARAMETERS* src, KELO_IMAGEDATA_PARAMETERS* dst) {
  return GetSrcImageInfo(src) && GetDstImageInfo(dst);
}

// The held faces are copied into the node: they were made with new[].
bool CBrennaScanFunc::MoveSheet(IMAGEDATA_NODE* node, const KELO_IMAGEDATA_PARAMETERS* src,
                                const KELO_IMAGEDATA_PARAMETERS* dst) {
  const int source = Prop().SCAN_FACE;
  struct Move {
    unsigned char** held;
    uint32_t* size;
    uint16_t* dims;
    int side;
  };
  Move moves[2];
  int count = 0;
  if (source == 3) {
    moves[count++] = {&m_pbyFront, &m_dwFrontSize, m_wFrontDims, 0};
    moves[count++] = {&m_pbyBack, &m_dwBackSize, m_wBackDims, 1};
  } else {
    moves[count++] = {&m_pbySimplex, &m_dwSimplexSize, m_wSimplexDims, source == 2 ? 1 : 0};
  }
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const Move& m = moves[i];
    if (!*m.held) continue;
    auto* copy = static_cast<unsigned char*>(malloc(*m.size));
    if (!copy) {
      ok = false;
      break;
    }
    memcpy(copy, *m.held, *m.size);
    (m.side == 0 ? node->pFrontData : node->pBackData) = copy;
    node->tSrcInfo[m.side] = src[m.side];
    node->tDstInfo[m.side] = dst[m.side];
    node->tJpegInfo[m.side] = {*m.size, m.dims[0], m.dims[1]};
    delete[] * m.held;
    *m.held = nullptr;
    *m.size = 0;
  }
  return ok;
}

void CBrennaScanFunc::SetFault(Fault fault) {
  m_dwLastErr = fault == Fault::Parameter ? BRENNA_ERR_PARAM : BRENNA_ERR_NO_MEMORY;
}

// A cancel ends the batch after its sheet; the scanner is told at Cancel.
bool CBrennaScanFunc::AfterSheet() {
  if (!m_bIsCancel) return true;
  LogError("CBrennaScanFunc::DoScanThreadFunc", "cancel operation");
  return false;
}

bool CBrennaScanFunc::MoreSheets() { return m_dwLastErr == 0 && ObjectPosition(); }

// A stop the scanner asked for ends the batch cancelled; a batch that ran
// out of paper ends with no documents.
SANE_Status CBrennaScanFunc::EndOfBatch() {
  uint32_t code = m_bStopped ? BRENNA_ERR_CANCELLED : static_cast<uint32_t>(m_dwLastErr);
  if (code == 0) code = BRENNA_ERR_NO_PAPER;
  m_bScanning = 0;
  LogError("CBrennaScanFunc::Start", "pthread_kill(m_phandle, 0) == ESRCH");
  return ConvertToSaneErr(code);
}

unsigned char* CBrennaScanFunc::PageFor(const unsigned char* data, const KELO_IMAGEDATA_PARAMETERS& src,
                                        const JPEGINFO& jpeg) {
  return CopyIntoPage(data, jpeg.uiDataSize, src);
}

SANE_Status CBrennaScanFunc::HandOver(unsigned char* pages[2], KELO_IMAGEDATA_PARAMETERS* src,
                                      KELO_IMAGEDATA_PARAMETERS* dst, const JPEGINFO* jpeg) {
  m_pImageFront = pages[0];
  m_pImageBack = pages[1];
  const int rc = DoImageProcess(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
  if (rc != 0) {
    FreeImages();
    LogError("CBrennaScanFunc::Start", "failed to scan papers");
    return ConvertToSaneErr(static_cast<uint32_t>(rc));
  }
  return SANE_STATUS_GOOD;
}

// --- Start ---------------------------------------------------------------------

SANE_Status CBrennaScanFunc::Start() {
  const char* fn = "CBrennaScanFunc::Start";
  CLogScope scope(fn);
  SANE_Status status = m_Batch.Begin(m_bScanning);
  if (status != SANE_STATUS_GOOD) return status;
  if (!DoCheckPropList()) {
    m_dwLastErr = BRENNA_ERR_PARAM;
    return m_Batch.RefuseProps(m_bScanning);
  }
  const int source = Prop().SCAN_FACE;
  auto served = [&]() { return m_Batch.FaceReady(m_pImageFront, m_pImageBack, source == 3); };

  // A batch whose thread was started goes on from it whatever the options
  // say now.
  if (g_PropInfo.AUTOFEED || m_Batch.Started()) {
    if (m_Batch.WantsThread(m_bFirstPage != 0)) m_bStopped = 0;
    status = m_Batch.StartThread(m_bFirstPage != 0);
    while (status == SANE_STATUS_GOOD && !served()) status = m_Batch.TakeNextSheet();
    return status;
  }

  while (!served()) {
    if (!ScanSync() || m_dwLastErr != 0) {
      m_bScanning = 0;
      LogError(fn, "failed to ScanSync");
      return ConvertToSaneErr(m_dwLastErr ? static_cast<uint32_t>(m_dwLastErr) : BRENNA_ERR_IO);
    }
    KELO_IMAGEDATA_PARAMETERS src[2] = {}, dst[2] = {};
    if (!GetSrcImageInfo(src) || !GetDstImageInfo(dst)) {
      m_dwLastErr = BRENNA_ERR_PARAM;
      LogError(fn, "failed to get image info");
      return SANE_STATUS_INVAL;
    }
    JPEGINFO jpeg[2] = {};
    if (source == 3) {
      jpeg[0] = {m_dwFrontSize, m_wFrontDims[0], m_wFrontDims[1]};
      jpeg[1] = {m_dwBackSize, m_wBackDims[0], m_wBackDims[1]};
      if (m_pbyFront && !(m_pImageFront = CopyHeld(m_pbyFront, m_dwFrontSize, src[0]))) {
        m_dwLastErr = BRENNA_ERR_NO_MEMORY;
        LogError(fn, "m_pImageFront == NULL");
        return SANE_STATUS_NO_MEM;
      }
      if (m_pbyBack && !(m_pImageBack = CopyHeld(m_pbyBack, m_dwBackSize, src[1]))) {
        FreeImages();
        m_dwLastErr = BRENNA_ERR_NO_MEMORY;
        LogError(fn, "m_pImageBack == NULL");
        return SANE_STATUS_NO_MEM;
      }
    } else if (m_pbySimplex) {
      const int side = source == 2 ? 1 : 0;
      jpeg[side] = {m_dwSimplexSize, m_wSimplexDims[0], m_wSimplexDims[1]};
      char text[64];
      snprintf(text, sizeof text, "uiFrontImageSize=%u, dwJpegSize=%u", FaceBytes(src[side]), m_dwSimplexSize);
      WriteLog(LOG_LEVEL_DEBUG, fn, text);
      unsigned char* copy = CopyHeld(m_pbySimplex, m_dwSimplexSize, src[side]);
      if (!copy) {
        m_dwLastErr = BRENNA_ERR_NO_MEMORY;
        LogError(fn, side == 0 ? "m_pImageFront == NULL" : "m_pImageBack == NULL");
        return SANE_STATUS_NO_MEM;
      }
      (side == 0 ? m_pImageFront : m_pImageBack) = copy;
    }
    const int rc = DoImageProcess(&m_pImageFront, &m_pImageBack, src, dst, jpeg);
    if (rc != 0) {
      m_bScanning = 0;
      FreeImages();
      LogError(fn, "failed to DoImageProcess");
      return ConvertToSaneErr(static_cast<uint32_t>(rc));
    }
  }
  return SANE_STATUS_GOOD;
}

// --- the read side ------------------------------------------------------------------

void CBrennaScanFunc::SetReadImgBufSize() { m_Batch.ServeFaces(m_pImageFront, m_pImageBack, m_dwLeft); }

SANE_Status CBrennaScanFunc::ReadImgBuf(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  const char* fn = "CBrennaScanFunc::ReadImgBuf";
  if (!data || !length) {
    LogError(fn, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  *length = 0;
  if (m_bIsCancel) {
    FreeImages();
    LogError(fn, "m_bIsCancel == true");
    return SANE_STATUS_CANCELLED;
  }
  return m_Batch.ReadFace(Prop().SCAN_FACE, &m_pImageFront, &m_pImageBack, m_dwLeft, data, maxLength, length);
}

// --- Cancel -------------------------------------------------------------------------

void CBrennaScanFunc::FreeImages() {
  free(m_pImageFront);
  free(m_pImageBack);
  m_pImageFront = m_pImageBack = nullptr;
  m_dwLeft[0] = m_dwLeft[1] = 0;
  m_Batch.EndPage();
}

void CBrennaScanFunc::Cancel() {
  const char* fn = "CBrennaScanFunc::Cancel";
  CLogScope scope(fn);
  m_bToneReady = 0;
  g_bIsReadDoubleBack = 0;
  m_bIsCancel = 1;
  // The thread sees the flag before its next chunk; it is ended and joined
  // before anything it uses is freed, and before the device is told.
  m_Batch.Join();
  CancelRead();
  FreeImages();
  m_dwLastErr = 0;
  m_bPaperReleased = 1;
  m_bFirstPage = 1;
  // Both forms of held pages go, whatever the last scan was.
  m_tScanParam.byDuplex = 1;
  ReleaseImageData();
  m_tScanParam.byDuplex = 0;
  ReleaseImageData();
  InitScanParameter();
  InitScanParameterBrenna();
  m_bScanning = 0;
  m_bStopped = 0;
  m_Batch.Stop();
}
