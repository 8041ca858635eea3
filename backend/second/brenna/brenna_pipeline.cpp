// The Brenna page pipeline: decoding of the wrapped faces, automatic crop,
// colour-fringe correction, blank-page removal, resolution, tone curve and
// the conversion to grey or line art.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "brenna_scan_func.h"
#include "edge_filler.h"
#include "image_libs.h"
#include "image_rotate24.h"
#include "log.h"
#include "model_catalog.h"
#include "tone_curve_tenths.h"

namespace {

constexpr char kFunction[] = "CBrennaScanFunc::DoImageProcess";
constexpr int kAutomaticPaperSize = 12;
constexpr int kErrParam = 6, kErrMemory = 7, kErrOther = 21;

int Fail(const char* text, int code) {
  WriteLog(LOG_LEVEL_ERROR, kFunction, text);
  return code;
}

_P2IIMG FaceRecord(unsigned char* pixels, const KELO_IMAGEDATA_PARAMETERS& g, const KELO_PROP_INFO& p) {
  _P2IIMG page{};
  page.pImageData = pixels;
  page.nBitsPerPixel = 24;
  page.nWidth = g.iPixelsPerLine;
  page.nHeight = g.iLines;
  page.nBytesPerLine = g.iBytesPerLine;
  page.nImageSize = g.iLines * g.iBytesPerLine;
  page.nXResolution = p.SCAN_RES_X < 301 ? 300 : 600;
  page.nYResolution = p.SCAN_RES_Y < 301 ? 300 : 600;
  page.nRight = g.iPixelsPerLine - 1;
  page.nBottom = g.iLines - 1;
  return page;
}

}  // namespace

int CBrennaScanFunc::DoSelectFunc(int function, unsigned char** slots, int face, KELO_IMAGEDATA_PARAMETERS* geometry) {
  const char* fn = "CBrennaScanFunc::DoSelectFunc";
  CLogScope scope(fn);
  if (function & ~(0x1000 | 0x0040 | 0x0001)) {
    WriteLog(LOG_LEVEL_ERROR, fn, "FSIP_C_ERR_PARAMETER1");
    return FSIP_C_ERR_PARAMETER;
  }
  if (!slots || face < 0 || face > 1 || !slots[face] || !geometry) {
    WriteLog(LOG_LEVEL_ERROR, fn, "FSIP_C_ERR_PARAMETER4");
    return FSIP_C_ERR_PARAMETER;
  }
  KELO_IMAGEDATA_PARAMETERS& g = geometry[face];
  // A face without pixels has no bits per pixel to speak of.
  if (g.iPixelsPerLine <= 0 || g.iLines <= 0) {
    WriteLog(LOG_LEVEL_ERROR, fn, "iPixelsPerLine <= 0");
    return FSIP_C_ERR_PARAMETER;
  }
  fsipctl_request request;
  memset(&request, 0, sizeof request);
  // The crop engines know the family by this short model text.
  memcpy(request.szScanner, "BrennaB", 7);
  if (function == 0x1000) {
    request.dwFlags = FSIPCTL_FUNC_WHITE_BG_CROP;
    request.nSide = face + 1;
  } else if (function == 0x0001) {
    request.dwFlags = 0x2000;
    request.nSide = 0;
  } else if (function == 0x0040) {
    request.dwFlags = FSIPCTL_FUNC_BLANK_PAGE;
    request.nDetectLevel = Prop().BLANK_PAGE_SKIP_SENSITIVITY;
  } else {
    WriteLog(LOG_LEVEL_ERROR, fn, "unsupported function");
    return FSIP_C_ERR_NOTSUPPORT;
  }
  if (!g_FSIPCTLFucntion) {
    WriteLog(LOG_LEVEL_ERROR, fn, "g_FSIPCTLFucntion == NULL");
    return 0;
  }
  fsipctl_image input[2] = {}, result[2] = {};
  input[0].pImageData = slots[face];
  input[0].nResolution = Prop().SCAN_RES_X <= 300 ? 300 : 600;
  input[0].nWidth = g.iPixelsPerLine;
  input[0].nHeight = g.iLines;
  input[0].nDepth = g.iBytesPerLine * 8 / g.iPixelsPerLine;
  input[0].nImageSize = g.iLines * g.iBytesPerLine;
  const int rc = g_FSIPCTLFucntion(&request, input, result, m_byLUT[1]);
  const bool crop = function != 0x0040;
  if (rc != 0) {
    WriteLog(LOG_LEVEL_ERROR, fn,
             function == 0x0001 ? "bgcolor black crop error"
             : crop             ? "bgcolor white crop error"
                                : "bpd error");
    return rc;
  }
  if (crop) {
    const fsipctl_image& out = result[0];
    if (!out.pImageData || out.nWidth <= 0 || out.nHeight <= 0 || out.nDepth <= 0) {
      free(out.pImageData);
      return FSIP_C_ERR_UNEXPECTED_ERROR;
    }
    g.iPixelsPerLine = out.nWidth;
    g.iLines = out.nHeight;
    g.iBytesPerLine = (out.nWidth * out.nDepth + 7) / 8;
    free(slots[face]);
    slots[face] = out.pImageData;
  } else if (result[0].nResult == 1) {
    free(slots[face]);
    slots[face] = nullptr;
  }
  return 0;
}

int CBrennaScanFunc::DoImageProcess(unsigned char** ppFront, unsigned char** ppBack, KELO_IMAGEDATA_PARAMETERS* src,
                                    KELO_IMAGEDATA_PARAMETERS* dst, const JPEGINFO* jpeg) {
  CLogScope scope(kFunction);
  const KELO_PROP_INFO& p = Prop();
  unsigned char* slots[2] = {*ppFront, *ppBack};
  auto done = [&](int code) {
    *ppFront = slots[0];
    *ppBack = slots[1];
    return code;
  };
  const bool automatic = p.PAPER_SIZE == kAutomaticPaperSize;

  for (int face = 0; face < 2; ++face) {
    if (!slots[face]) continue;
    unsigned char* decoded = ReadDataFromJpeg(slots[face], jpeg[face]);
    if (!decoded) return done(Fail("ReadDataFromJpeg() == NULL", kErrOther));
    const int frameWidth = jpeg[face].usWidth, frameLines = jpeg[face].usHeight;
    if (automatic) {
      free(slots[face]);
      slots[face] = decoded;
      src[face].iPixelsPerLine = frameWidth;
      src[face].iLines = frameLines;
      src[face].iBytesPerLine = 3 * frameWidth;
      continue;
    }
    // The buffer still holds the compressed stream at its start: what the
    // frame does not cover is white, not stream bytes.
    const size_t size = static_cast<size_t>(src[face].iBytesPerLine) * std::max(0, src[face].iLines);
    memset(slots[face], 0xFF, size);
    const int rows = std::min(src[face].iLines, frameLines);
    const size_t bytes = 3 * static_cast<size_t>(std::min(src[face].iPixelsPerLine, frameWidth));
    for (int y = 0; y < rows; ++y)
      memcpy(slots[face] + static_cast<size_t>(y) * src[face].iBytesPerLine,
             decoded + static_cast<size_t>(y) * frameWidth * 3, bytes);
    free(decoded);
  }

  if (automatic) {
    int rc[2] = {0, 0};
    if ((g_InquiryVPD[104] & 0x02) && p.SCAN_FACE == 0) {
      if (slots[0]) rc[0] = DoSelectFunc(0x0001, slots, 0, src);
    } else if (p.SCAN_FACE == 3) {
      if (slots[0]) rc[0] = DoSelectFunc(0x1000, slots, 0, src);
      if (slots[1]) rc[1] = DoSelectFunc(0x1000, slots, 1, src);
    } else if (p.SCAN_FACE == 2) {
      if (slots[1]) rc[1] = DoSelectFunc(0x1000, slots, 1, src);
    } else if (slots[0]) {
      rc[0] = DoSelectFunc(0x1000, slots, 0, src);
    }
    const int code = rc[0] != 0 ? rc[0] : rc[1];
    if (code == FSIP_C_ERR_PARAMETER) return done(Fail("DoSelectFunc Error(parameter error)", kErrParam));
    if (code == FSIP_C_ERR_OUTOFMEMORY) return done(Fail("DoSelectFunc Error(out of memory)", kErrMemory));
    dst[0] = src[0];
    dst[1] = src[1];
  }

  for (int face = 0; face < 2; ++face) {
    if (!slots[face]) continue;
    const int rc = ProcessFace(face, &slots[face], src, dst);
    if (rc != 0) return done(rc);
  }
  g_ImgDataInfo[0] = dst[0];
  g_ImgDataInfo[1] = dst[1];
  return done(0);
}

int CBrennaScanFunc::ProcessFace(int face, unsigned char** slot, KELO_IMAGEDATA_PARAMETERS* src,
                                 KELO_IMAGEDATA_PARAMETERS* dst) {
  const KELO_PROP_INFO& p = Prop();
  if (m_bColorShiftCorrection && p.SCAN_FACE != 0) {
    _P2IIMG page = FaceRecord(*slot, src[face], p);
    _P2IIMG out{};
    if (Tavrin_EraseClrBdr(&page, &out) == 0) *slot = out.pImageData;
  }
  if (p.BLANK_PAGE_SKIP) {
    unsigned char* slots[2] = {nullptr, nullptr};
    slots[face] = *slot;
    const int rc = DoSelectFunc(0x0040, slots, face, src);
    if (rc == FSIP_C_ERR_PARAMETER) return Fail("DoSelectFunc FUNC_BPD Error", kErrParam);
    if (rc == FSIP_C_ERR_OUTOFMEMORY) return Fail("DoSelectFunc FUNC_BPD Error", kErrMemory);
    *slot = slots[face];
    if (!*slot) return 0;
  }

  KELO_IMAGEDATA_PARAMETERS& s = src[face];
  KELO_IMAGEDATA_PARAMETERS& d = dst[face];
  if (m_tScanParam.dwXRes == p.SCAN_RES_X && m_tScanParam.dwYRes == p.SCAN_RES_Y) {
    const size_t size = static_cast<size_t>(std::max(0, d.iBytesPerLine)) * std::max(0, d.iLines);
    auto* page = static_cast<unsigned char*>(malloc(std::max<size_t>(size, 1)));
    if (!page) return kErrMemory;
    memset(page, 0xFF, size);
    const int rows = std::min(s.iLines, d.iLines);
    const size_t bytes = 3 * static_cast<size_t>(std::max(0, std::min(s.iPixelsPerLine, d.iPixelsPerLine)));
    for (int y = 0; y < rows; ++y)
      memcpy(page + static_cast<size_t>(y) * d.iBytesPerLine, *slot + static_cast<size_t>(y) * s.iBytesPerLine, bytes);
    free(*slot);
    *slot = page;
  } else {
    if (p.PAPER_SIZE == kAutomaticPaperSize) {
      d.iPixelsPerLine =
          static_cast<int>(std::ceil(static_cast<double>(s.iPixelsPerLine) / m_tScanParam.dwXRes * p.SCAN_RES_X));
      d.iLines = static_cast<int>(std::ceil(static_cast<double>(s.iLines) / m_tScanParam.dwYRes * p.SCAN_RES_Y));
      d.iBytesPerLine = 3 * d.iPixelsPerLine;
    }
    unsigned char* page = m_Steps.m_ImageProcess.DoResoConv_Color(*slot, s, d);
    if (!page) return Fail("failed to DoResoConv_Color", kErrMemory);
    free(*slot);
    *slot = page;
  }

  if (!m_bToneReady) {
    kelo_steps::ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, 230, 10, 16, m_byLUT[0], "CBrennaScanFunc");
    m_bToneReady = 1;
  }
  const size_t bytes = static_cast<size_t>(d.iBytesPerLine) * d.iLines;
  for (size_t i = 0; i < bytes; ++i) (*slot)[i] = m_byLUT[0][(*slot)[i]];

  if (p.ROTATION != 0) {
    _P2IIMG page = FaceRecord(*slot, d, p);
    _P2IIMG turned{};
    const int rc = kelo_steps::P2iRotate(&page, p.ROTATION, &turned);
    if (rc == KELO_IP_OUTOFMEMORY) return Fail("P2iRotate memory lack", kErrMemory);
    if (rc != 0) return Fail("failed to rotate the image", kErrOther);
    free(*slot);
    *slot = turned.pImageData;
    d.iPixelsPerLine = turned.nWidth;
    d.iLines = turned.nHeight;
    d.iBytesPerLine = 3 * turned.nWidth;
  }

  const int top = static_cast<int>(p.EDGE_FILLER_TOP * p.SCAN_RES_Y / 1200);
  const int bottom = static_cast<int>(p.EDGE_FILLER_BOTTOM * p.SCAN_RES_Y / 1200);
  const int left = static_cast<int>(p.EDGE_FILLER_LEFT * p.SCAN_RES_X / 1200);
  const int right = static_cast<int>(p.EDGE_FILLER_RIGHT * p.SCAN_RES_X / 1200);
  if (top || bottom || left || right) {
    const int rc = kelo_steps::FillEdges(slot, d, top, bottom, left, right, true, "CBrennaScanFunc::DoEdgeFiller");
    if (rc == KELO_IP_PARAMETER) return Fail("DoEdgeFiller ERR_PARAMETER", kErrParam);
    if (rc == KELO_IP_OUTOFMEMORY) return Fail("DoEdgeFiller ERR_2_MEMORY_LACK", kErrMemory);
  }

  const int rc = m_Steps.DoImageProc(slot, &d, p.SCAN_MODE);
  if (rc == FSIP_C_ERR_PARAMETER) return Fail("DoImageProc FSIP_C_ERR_PARAMETER", kErrParam);
  if (rc == FSIP_C_ERR_OUTOFMEMORY) return Fail("DoImageProc FSIP_C_ERR_OUTOFMEMORY", kErrMemory);
  if (rc != 0) return Fail("DoImageProc other error", kErrOther);
  if (p.SCAN_MODE == 0) {
    const size_t n = static_cast<size_t>(d.iBytesPerLine) * d.iLines;
    for (size_t i = 0; i < n; ++i) (*slot)[i] = static_cast<unsigned char>(~(*slot)[i]);
  }
  return 0;
}
