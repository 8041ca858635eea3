// The Selko page pipeline: decoding with the device adjustment, automatic
// crop, then per face blank-page removal, resolution conversion, the fixed
// tone curve, rotation, edge filler and the mode step. The steps are those
// of the Selko2 road and the shared 24-bit ones; only the order and the
// error codes are this class's.
#include <cmath>
#include <cstdlib>

#include "edge_filler.h"
#include "fsip_records.h"
#include "image_libs.h"
#include "image_rotate24.h"
#include "log.h"
#include "selko_scan_func.h"
#include "tone_curve_tenths.h"

namespace {

const char kFunction[] = "CSelkoScanFunc::DoImageProcess";
constexpr int kAutomaticPaperSize = 12;
// The fixed curve: shadow, highlight, gamma in tenths.
constexpr int kShadow = 10, kHighlight = 230;
constexpr unsigned char kGamma = 16;

void LogError(const char* message) { WriteLog(LOG_LEVEL_ERROR, kFunction, message); }

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

size_t PageSize(const KELO_IMAGEDATA_PARAMETERS& g) {
  return g.iBytesPerLine > 0 && g.iLines > 0 ? static_cast<size_t>(g.iBytesPerLine) * g.iLines : 0;
}

void MapBytes(unsigned char* data, size_t size, const unsigned char* table) {
  for (size_t i = 0; i < size; ++i) data[i] = table[data[i]];
}

int Ceil(int value, int from, int to) { return static_cast<int>(std::ceil(static_cast<double>(value) / from * to)); }

}  // namespace

int CSelkoScanFunc::DoSelectFunc(int iFunction, unsigned char*** cpImageData, int iScanFace,
                                 KELO_IMAGEDATA_PARAMETERS* tpImageInfo) {
  return m_Steps.DoSelectFunc(iFunction, cpImageData, iScanFace, tpImageInfo, nullptr);
}

int CSelkoScanFunc::DoImageProc(unsigned char** pbyInImg, KELO_IMAGEDATA_PARAMETERS* tpInParam, int iType) {
  return m_Steps.DoImageProc(pbyInImg, tpInParam, iType);
}

uint32_t CSelkoScanFunc::DoEdgeFiller(unsigned char** ppbyImgData, const KELO_IMAGEDATA_PARAMETERS& tInfo, int iTop,
                                      int iBottom, int iLeft, int iRight, bool bWhite) {
  const int rc =
      kelo_steps::FillEdges(ppbyImgData, tInfo, iTop, iBottom, iLeft, iRight, bWhite, "CSelkoScanFunc::DoEdgeFiller");
  if (rc == KELO_IP_OK) return 0;
  return rc == KELO_IP_OUTOFMEMORY ? SELKO_ERR_MEMORY : SELKO_ERR_PARAMETER;
}

int CSelkoScanFunc::P2iRotate(const _P2IIMG* pstIn, int iAngle, _P2IIMG* pstOut) {
  return kelo_steps::P2iRotate(pstIn, iAngle, pstOut);
}

// The scan resolutions of the record differ from the requested ones.
bool CSelkoScanFunc::ConvertsResolution() const {
  const int scanX = static_cast<int>(Le32(m_tScanParameter.bytes + 20));
  const int scanY = static_cast<int>(Le32(m_tScanParameter.bytes + 24));
  return scanX > 0 && scanY > 0 && (scanX != g_PropInfo.SCAN_RES_X || scanY != g_PropInfo.SCAN_RES_Y);
}

uint32_t CSelkoScanFunc::DoImageProcess(unsigned char** ppFront, unsigned char** ppBack,
                                        KELO_IMAGEDATA_PARAMETERS* tpSrcInfo, KELO_IMAGEDATA_PARAMETERS* tpDstInfo,
                                        const JPEGINFO* tpJpegInfo) {
  CLogScope scope(kFunction);
  if (!ppFront || !ppBack || !tpSrcInfo || !tpDstInfo || !tpJpegInfo) {
    LogError("ppFront == NULL || ppBack == NULL || tpSrcInfo == NULL || tpDstInfo == NULL || tpJpegInfo == NULL");
    return SELKO_ERR_PARAMETER;
  }
  unsigned char** slots[2] = {ppFront, ppBack};
  const KELO_PROP_INFO& p = g_PropInfo;
  if (!m_bLUTBuilt) {
    kelo_steps::ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, kHighlight, kShadow, kGamma, m_byToneLUT,
                                           "CSelkoScanFunc");
    m_bLUTBuilt = 1;
  }
  // When no step between them looks at the page (crop, blank-page test) or
  // changes it (resolution conversion), the device adjustment and the tone
  // curve are one table and one pass over the page.
  m_bToneApplied = !ConvertsResolution() && !p.BLANK_PAGE_SKIP && p.PAPER_SIZE != kAutomaticPaperSize;
  unsigned char table[256];
  for (int i = 0; i < 256; ++i)
    table[i] = m_bToneApplied ? m_byToneLUT[DeviceAdjustLUT_Selko2[i]] : DeviceAdjustLUT_Selko2[i];
  for (int face = 0; face < 2; ++face) {
    if (!*slots[face]) continue;
    const int rc = m_Steps.DecodeFace(face, slots[face], tpSrcInfo, tpJpegInfo[face], table);
    if (rc == 33) return SELKO_ERR_MEMORY;
    if (rc != 0) {
      LogError("ReadDataFromJpeg() == NULL");
      return SELKO_ERR_IO;
    }
  }

  if (p.PAPER_SIZE == kAutomaticPaperSize) {
    int rc[2] = {0, 0};
    const bool front = p.SCAN_FACE != 2, back = p.SCAN_FACE == 2 || p.SCAN_FACE == 3;
    if (front && *slots[0]) rc[0] = DoSelectFunc(0x1000, slots, 0, tpSrcInfo);
    if (back && *slots[1]) rc[1] = DoSelectFunc(0x1000, slots, 1, tpSrcInfo);
    const int code = rc[0] != 0 ? rc[0] : rc[1];
    if (code == FSIP_C_ERR_PARAMETER) {
      LogError("DoSelectFunc Error(parameter error)");
      return SELKO_ERR_PARAMETER;
    }
    if (code == FSIP_C_ERR_OUTOFMEMORY) {
      LogError("DoSelectFunc Error(out of memory)");
      return SELKO_ERR_MEMORY;
    }
    tpDstInfo[0] = tpSrcInfo[0];
    tpDstInfo[1] = tpSrcInfo[1];
  }

  for (int face = 0; face < 2; ++face) {
    if (!*slots[face]) continue;
    const uint32_t rc = ProcessFace(face, slots, tpSrcInfo, tpDstInfo);
    if (rc != 0) return rc;
  }
  g_ImgDataInfo[0] = tpDstInfo[0];
  g_ImgDataInfo[1] = tpDstInfo[1];
  return 0;
}

uint32_t CSelkoScanFunc::ProcessFace(int face, unsigned char*** slots, KELO_IMAGEDATA_PARAMETERS* src,
                                     KELO_IMAGEDATA_PARAMETERS* dst) {
  const KELO_PROP_INFO& p = g_PropInfo;
  unsigned char** page = slots[face];

  if (p.BLANK_PAGE_SKIP) {
    const int rc = DoSelectFunc(0x40, slots, face, src);
    if (rc == FSIP_C_ERR_PARAMETER || rc == FSIP_C_ERR_OUTOFMEMORY) {
      LogError("DoSelectFunc FUNC_BPD Error");
      return rc == FSIP_C_ERR_PARAMETER ? SELKO_ERR_PARAMETER : SELKO_ERR_MEMORY;
    }
    if (!*page) return 0;  // blank: the face is done
  }

  const int scanX = static_cast<int>(Le32(m_tScanParameter.bytes + 20));
  const int scanY = static_cast<int>(Le32(m_tScanParameter.bytes + 24));
  if (ConvertsResolution()) {
    if (p.PAPER_SIZE == kAutomaticPaperSize) {
      dst[face].iPixelsPerLine = Ceil(src[face].iPixelsPerLine, scanX, p.SCAN_RES_X);
      dst[face].iLines = Ceil(src[face].iLines, scanY, p.SCAN_RES_Y);
      dst[face].iBytesPerLine = dst[face].iPixelsPerLine * 3;
    }
    unsigned char* converted = m_Steps.m_ImageProcess.DoResoConv_Color(*page, src[face], dst[face]);
    if (!converted) {
      LogError("failed to DoResoConv_Color");
      return SELKO_ERR_MEMORY;
    }
    free(*page);
    *page = converted;
  }
  KELO_IMAGEDATA_PARAMETERS& g = dst[face];

  if (!m_bToneApplied) MapBytes(*page, PageSize(g), m_byToneLUT);

  if (p.ROTATION != 0) {
    _P2IIMG in{}, out{};
    in.pImageData = *page;
    in.nBitsPerPixel = 24;
    in.nWidth = g.iPixelsPerLine;
    in.nHeight = g.iLines;
    in.nBytesPerLine = g.iBytesPerLine;
    in.nImageSize = static_cast<int32_t>(PageSize(g));
    in.nXResolution = p.SCAN_RES_X;
    in.nYResolution = p.SCAN_RES_Y;
    in.nRight = g.iPixelsPerLine - 1;
    in.nBottom = g.iLines - 1;
    const int rc = P2iRotate(&in, p.ROTATION, &out);
    if (rc == KELO_IP_OUTOFMEMORY) {
      LogError("P2iRotate memory lack");
      return SELKO_ERR_MEMORY;
    }
    if (rc != KELO_IP_OK) {
      LogError("failed to rotate the image");
      return SELKO_ERR_IO;
    }
    free(*page);
    *page = out.pImageData;
    g.iPixelsPerLine = out.nWidth;
    g.iLines = out.nHeight;
    g.iBytesPerLine = out.nWidth * 3;
  }

  const int top = static_cast<int>(p.EDGE_FILLER_TOP * p.SCAN_RES_Y / 1200);
  const int bottom = static_cast<int>(p.EDGE_FILLER_BOTTOM * p.SCAN_RES_Y / 1200);
  const int left = static_cast<int>(p.EDGE_FILLER_LEFT * p.SCAN_RES_X / 1200);
  const int right = static_cast<int>(p.EDGE_FILLER_RIGHT * p.SCAN_RES_X / 1200);
  if (top || bottom || left || right) {
    const uint32_t rc = DoEdgeFiller(page, g, top, bottom, left, right, true);
    if (rc == SELKO_ERR_PARAMETER) {
      LogError("DoEdgeFiller ERR_PARAMETER");
      return rc;
    }
    if (rc == SELKO_ERR_MEMORY) {
      LogError("DoEdgeFiller ERR_MEMORY_LACK");
      return rc;
    }
  }

  if (DoImageProc(page, &g, p.SCAN_MODE) != 0) {
    LogError("DoImageProc other error");
    return SELKO_ERR_IO;
  }
  if (p.SCAN_MODE == 0) {
    unsigned char* bytes = *page;
    for (size_t i = 0, n = PageSize(g); i < n; ++i) bytes[i] = static_cast<unsigned char>(~bytes[i]);
  }
  return 0;
}
