// The order of the Selko2 page pipeline: decoding and device adjustment,
// automatic crop, then per face split, blank page, orientation, tone table
// with colour cleanup, resolution conversion, tone application, mode
// conversion, automatic binarization, rotation, merging and line-art
// inversion.
#include "selko2_pipeline.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "byte_table.h"
#include "fsip_records.h"
#include "image_libs.h"
#include "large_block.h"
#include "log.h"
#include "prop_info.h"
#include "selko2_scan_func.h"

const unsigned char DeviceAdjustLUT_Selko2[256] = {
    0,   0,   0,   0,   1,   2,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  13,  14,  15,  16,
    17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  31,  32,  33,  34,  35,  36,  37,
    38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,
    60,  61,  62,  63,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,  81,  82,
    83,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  96,  98,  99,  100, 101, 102, 103, 104, 105, 106,
    107, 109, 110, 111, 112, 113, 114, 115, 116, 118, 119, 120, 121, 122, 123, 124, 126, 127, 128, 129, 130, 131,
    132, 134, 135, 136, 137, 138, 139, 141, 142, 143, 144, 145, 147, 148, 149, 150, 151, 152, 154, 155, 156, 157,
    158, 160, 161, 162, 163, 164, 166, 167, 168, 169, 171, 172, 173, 174, 175, 177, 178, 179, 180, 182, 183, 184,
    185, 187, 188, 189, 190, 192, 193, 194, 195, 197, 198, 199, 200, 202, 203, 204, 206, 207, 208, 209, 211, 212,
    213, 215, 216, 217, 218, 220, 221, 222, 224, 225, 226, 228, 229, 230, 232, 233, 234, 235, 237, 238, 239, 241,
    242, 243, 245, 246, 247, 249, 250, 252, 253, 254, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};

namespace {

const char kFunction[] = "CSelko2ScanFunc::DoImageProcess";

void LogError(const char* message) { WriteLog(LOG_LEVEL_ERROR, kFunction, message); }
void LogStep(const char* message) { WriteLog(LOG_LEVEL_DEBUG, kFunction, message); }

constexpr int kAutomaticPaperSize = 12;
constexpr int kRotationAuto = 4;

int ReadOrRequested(unsigned requested) { return requested <= 300 ? 300 : 600; }

// The resolutions at which the scanner reads, as the scan window set them.
void ReadResolutions(int* x, int* y) {
  *x = ReadOrRequested(g_PropInfo.SCAN_RES_X);
  *y = ReadOrRequested(g_PropInfo.SCAN_RES_Y);
  if (!g_pScanParameterExt) return;
  const int rx = g_pScanParameterExt[16] | g_pScanParameterExt[17] << 8;
  const int ry = g_pScanParameterExt[18] | g_pScanParameterExt[19] << 8;
  if (rx > 0 && ry > 0) *x = rx, *y = ry;
}

// A table that changes nothing costs the page no pass.
void MapBytes(unsigned char* data, size_t size, const unsigned char* table) {
  bool identity = true;
  for (int v = 0; v < 256 && identity; ++v) identity = table[v] == v;
  if (identity) return;
  CBytePairTable(table).Map(data, size);
}

// Components of the first frame header of a JPEG stream within `length`
// bytes; 0 when there is none before the scan.
int JpegComponents(const unsigned char* data, size_t length) {
  if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
  size_t pos = 2;
  while (pos + 4 <= length) {
    if (data[pos] != 0xFF) return 0;
    const unsigned char marker = data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      pos += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return 0;
    const size_t segment = static_cast<size_t>(data[pos + 2]) << 8 | data[pos + 3];
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) return segment >= 8 && pos + 9 < length ? data[pos + 9] : 0;
    pos += 2 + segment;
  }
  return 0;
}

// `pixels` pixels of a decoded row as 24-bit pixels; a grey sample goes to
// all three bytes.
void CopyRow(unsigned char* out, const unsigned char* in, size_t pixels, int components) {
  if (components == 3) {
    memcpy(out, in, 3 * pixels);
    return;
  }
  for (size_t x = 0; x < pixels; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
}

size_t PageBytes(const KELO_IMAGEDATA_PARAMETERS& g) {
  return g.iBytesPerLine > 0 && g.iLines > 0 ? static_cast<size_t>(g.iBytesPerLine) * g.iLines : 0;
}

// One page that a face's turn forms: the face itself, one of its split
// halves, or (with merging) the front or the back.
struct Page {
  unsigned char*** slots;  // the slot array the image steps take
  int face;
  KELO_IMAGEDATA_PARAMETERS* early;  // geometry pair up to the resolution conversion
  KELO_IMAGEDATA_PARAMETERS* late;   // geometry pair from it on
  unsigned char* autoTable;          // where its automatic tone table goes
  int targetHeight;                  // halves without automatic size: H/2 or H - H/2
  int code = 0;                      // clockwise quarter turns
  bool half = false;

  unsigned char*& buffer() { return *slots[face]; }
  KELO_IMAGEDATA_PARAMETERS& geometry() { return late[face]; }
};

}  // namespace

CSelko2PagePipeline::CSelko2PagePipeline() { ResetToneTables(); }

CSelko2PagePipeline::~CSelko2PagePipeline() { ReleaseDecodeBuffers(); }

void CSelko2PagePipeline::ReleaseDecodeBuffers() {
  for (KeptBlock* kept : {m_Decoded, m_CropBlock})
    for (int face = 0; face < 2; ++face) {
      free(kept[face].data);
      kept[face] = KeptBlock();
    }
}

void CSelko2PagePipeline::TakeBackPage(int face, unsigned char* page, size_t bytes) {
  if (!page) return;
  const bool crops = g_PropInfo.PAPER_SIZE == kAutomaticPaperSize && g_FSIPCTLFucntion;
  // The control entry takes a capacity of 32 bits; the larger block stays.
  if ((face != 0 && face != 1) || !crops || bytes > INT32_MAX || bytes <= m_CropBlock[face].size) {
    free(page);
    return;
  }
  free(m_CropBlock[face].data);
  m_CropBlock[face] = KeptBlock{page, bytes};
}

void CSelko2PagePipeline::HandDecodeBufferOn(int face, unsigned char* const* slot) {
  if (m_Decoded[face].data && *slot == m_Decoded[face].data) m_Decoded[face] = KeptBlock();
}

void CSelko2PagePipeline::HandDecodeBuffersOn(unsigned char*** slots) {
  for (int face = 0; face < 2; ++face) HandDecodeBufferOn(face, slots[face]);
}

void CSelko2PagePipeline::ResetToneTables() {
  for (int i = 0; i < 256; ++i) m_byToneLUT[i] = m_byFsipctlLut[i] = static_cast<unsigned char>(i);
}

int CSelko2PagePipeline::DecodeFace(int face, unsigned char** slot, KELO_IMAGEDATA_PARAMETERS* src,
                                    const JPEGINFO& jpeg, const unsigned char* table) {
  const int rc = DecodeKeeping(face, slot, src, jpeg, table);
  if (face == 0 || face == 1) HandDecodeBufferOn(face, slot);
  return rc;
}

int CSelko2PagePipeline::DecodeKeeping(int face, unsigned char** slot, KELO_IMAGEDATA_PARAMETERS* src,
                                       const JPEGINFO& jpeg, const unsigned char* table) {
  // The decoder hands out as many samples per pixel as the stream has
  // components: a grey face has one, and every later step reads three.
  // It passes every byte through the device table as it decodes the row,
  // white included; widening a grey sample to three bytes and the copy
  // commute with the table, so the page is gone over once.
  const int components = JpegComponents(*slot, jpeg.uiDataSize);
  const bool automatic = g_PropInfo.PAPER_SIZE == kAutomaticPaperSize;
  unsigned char* decoded = nullptr;
  if (automatic && components == 3 && (face == 0 || face == 1)) {
    // The crop hands the buffer back; it keeps its pages for the next sheet.
    KeptBlock& b = m_Decoded[face];
    const size_t need = std::max<size_t>(static_cast<size_t>(3) * jpeg.usWidth * jpeg.usHeight, 1);
    if (b.size < need) {
      free(b.data);
      b.data = static_cast<unsigned char*>(AllocateLargeBlock(need));
      b.size = b.data ? need : 0;
    }
    if (b.data) decoded = ReadDataFromJpegMappedInto(*slot, jpeg, table, b.data, b.size);
  } else if (components == 1 || components == 3) {
    decoded = ReadDataFromJpegMapped(*slot, jpeg, table);
  }
  if (!decoded) {
    LogError("ReadDataFromJpeg() == NULL");
    return 32;
  }
  KELO_IMAGEDATA_PARAMETERS& g = src[face];
  const size_t frameWidth = jpeg.usWidth;
  const size_t decodedBpl = frameWidth * components;
  if (automatic) {
    if (components == 1) {
      unsigned char* rgb = static_cast<unsigned char*>(malloc(std::max<size_t>(3 * frameWidth * jpeg.usHeight, 1)));
      if (!rgb) {
        free(decoded);
        LogError("ucpOutImg == NULL");
        return 33;
      }
      for (size_t y = 0; y < jpeg.usHeight; ++y)
        CopyRow(rgb + y * 3 * frameWidth, decoded + y * decodedBpl, frameWidth, 1);
      free(decoded);
      decoded = rgb;
    }
    free(*slot);
    *slot = decoded;
    g.iPixelsPerLine = jpeg.usWidth;
    g.iLines = jpeg.usHeight;
    g.iBytesPerLine = 3 * g.iPixelsPerLine;
  } else {
    // The decoded rows are frame-width apart, the face buffer's source-width
    // apart: copy row by row, never more than either row holds. What the
    // frame does not reach is white, also where the compressed stream lay.
    const unsigned char white = table[0xFF];
    const size_t faceBpl = g.iBytesPerLine > 0 ? static_cast<size_t>(g.iBytesPerLine) : 0;
    const size_t pixels = std::min(frameWidth, faceBpl / 3);
    const int lines = std::max(g.iLines, 0);
    const int rows = std::min<int>(lines, jpeg.usHeight);
    for (int r = 0; r < rows; ++r) {
      unsigned char* row = *slot + r * faceBpl;
      CopyRow(row, decoded + r * decodedBpl, pixels, components);
      memset(row + 3 * pixels, white, faceBpl - 3 * pixels);
    }
    memset(*slot + rows * faceBpl, white, (lines - rows) * faceBpl);
    free(decoded);
  }
  return 0;
}

int CSelko2PagePipeline::DoImageProcess(unsigned char** ppFront, unsigned char** ppBack,
                                        KELO_IMAGEDATA_PARAMETERS* tpSrcInfo, KELO_IMAGEDATA_PARAMETERS* tpDstInfo,
                                        const JPEGINFO* tpJpegInfo) {
  WriteLog(LOG_LEVEL_TRACE, kFunction, "start");
  if (!ppFront || !ppBack || !tpSrcInfo || !tpDstInfo || !tpJpegInfo) {
    LogError("ppFront == NULL || ppBack == NULL || tpSrcInfo == NULL || tpDstInfo == NULL || tpJpegInfo == NULL");
    return 32;
  }
  unsigned char** slots[2] = {ppFront, ppBack};
  m_iCropFlag[0] = m_iCropFlag[1] = 0;
  const KELO_PROP_INFO& p = g_PropInfo;

  for (int face = 0; face < 2; ++face) {
    if (!*slots[face]) continue;
    const int rc = DecodeKeeping(face, slots[face], tpSrcInfo, tpJpegInfo[face], DeviceAdjustLUT_Selko2);
    if (rc != 0) {
      HandDecodeBuffersOn(slots);
      return rc;
    }
  }

  if (p.PAPER_SIZE == kAutomaticPaperSize) {
    int rc[2] = {0, 0};
    const bool front = p.SCAN_FACE != 2, back = p.SCAN_FACE == 2 || p.SCAN_FACE == 3;
    if (front) rc[0] = DoSelectFunc(0x1000, slots, 0, tpSrcInfo, nullptr);
    if (back) rc[1] = DoSelectFunc(0x1000, slots, 1, tpSrcInfo, nullptr);
    // Without the control entry the wrapper answers 0 having cropped nothing;
    // the binarization unit must not be told the face was cropped.
    const bool cropped = g_FSIPCTLFucntion != nullptr;
    if (front && rc[0] == 0 && cropped) m_iCropFlag[0] = 1;
    if (back && rc[1] == 0 && cropped) m_iCropFlag[1] = 1;
    HandDecodeBuffersOn(slots);
    const int code = rc[0] != 0 ? rc[0] : rc[1];
    if (code == FSIP_C_ERR_PARAMETER) {
      LogError("DoSelectFunc Error(parameter error)");
      return 32;
    }
    if (code == FSIP_C_ERR_OUTOFMEMORY) {
      LogError("DoSelectFunc Error(out of memory)");
      return 33;
    }
    tpDstInfo[0] = tpSrcInfo[0];
    tpDstInfo[1] = tpSrcInfo[1];
  }

  for (int face = 0; face < 2; ++face) {
    if (!*slots[face]) continue;
    const int rc = ProcessFace(face, slots, tpSrcInfo, tpDstInfo);
    if (rc != 0) return rc;
  }
  WriteLog(LOG_LEVEL_TRACE, kFunction, "end");
  return 0;
}

int CSelko2PagePipeline::ProcessFace(int face, unsigned char*** slots, KELO_IMAGEDATA_PARAMETERS* src,
                                     KELO_IMAGEDATA_PARAMETERS* dst) {
  const KELO_PROP_INFO& p = g_PropInfo;
  KeloImageProcess& ip = m_ImageProcess;
  const bool split = p.SPLIT_IMAGE != 0;
  const bool merge = p.FRONT_BACK_MERGING != 0;
  const bool autoSize = p.PAPER_SIZE == kAutomaticPaperSize;
  const int W = dst[face].iPixelsPerLine, H = dst[face].iLines;

  // Split.
  if (split) {
    switch (ip.SplitImage(slots, face, src)) {
      case KELO_IP_OK:
        break;
      case KELO_IP_OUTOFMEMORY:
        LogError("SplitImage out of memory error");
        return 33;
      case KELO_IP_PARAMETER:
        LogError("SplitImage parameter error");
        return 32;
      default:
        LogError("SplitImage Unexpected Error");
        return 34;
    }
  }

  // The pages this turn forms.
  const bool autoTone = p.TONE_ADJUSTMENT == 0;
  unsigned char** upperSlots[2] = {nullptr, nullptr};
  unsigned char** lowerSlots[2] = {nullptr, nullptr};
  Page pages[2];
  int count = 0;
  if (split) {
    upperSlots[face] = &ip.m_pUpperImage[face];
    lowerSlots[face] = &ip.m_pLowerImage[face];
    pages[0] = Page{upperSlots, face, ip.m_tUpperImageInfo, ip.m_tUpperImageInfo, ip.m_byUpperLUT, H / 2};
    pages[1] = Page{lowerSlots, face, ip.m_tLowerImageInfo, ip.m_tLowerImageInfo, ip.m_byLowerLUT, H - H / 2};
    pages[0].half = pages[1].half = true;
    count = 2;
  } else if (merge) {
    pages[0] = Page{slots, 0, src, dst, ip.m_byFrontLUT, 0};
    pages[1] = Page{slots, 1, src, dst, ip.m_byBackLUT, 0};
    count = 2;
  } else {
    pages[0] = Page{slots, face, src, dst, m_byToneLUT, 0};
    count = 1;
  }
  auto forPages = [&](auto step) -> int {
    for (int i = 0; i < count; ++i) {
      if (!pages[i].buffer()) continue;
      const int rc = step(pages[i]);
      if (rc != 0) return rc;
    }
    return 0;
  };

  // Blank page.
  if (p.BLANK_PAGE_SKIP) {
    int rc[2] = {0, 0};
    bool removed = false;
    if (split) {
      for (int i = 0; i < 2; ++i)
        if (pages[i].buffer()) rc[i] = DoSelectFunc(0x40, pages[i].slots, face, pages[i].early, nullptr);
      removed = !pages[0].buffer() && !pages[1].buffer();
    } else if (merge) {
      int verdict[2] = {0, 0};
      rc[0] = DoSelectFunc(0x40, slots, 0, src, &verdict[0]);
      rc[1] = DoSelectFunc(0x40, slots, 1, src, &verdict[1]);
      if (rc[0] == 0 && rc[1] == 0 && verdict[0] == 1 && verdict[1] == 1) {
        for (int f = 0; f < 2; ++f) {
          free(*slots[f]);
          *slots[f] = nullptr;
        }
        removed = true;
      }
    } else {
      rc[0] = DoSelectFunc(0x40, slots, face, src, nullptr);
      removed = !*slots[face];
    }
    const int code = rc[0] != 0 ? rc[0] : rc[1];
    if (code == FSIP_C_ERR_PARAMETER || code == FSIP_C_ERR_OUTOFMEMORY) {
      LogError("DoSelectFunc FUNC_BPD Error");
      return code == FSIP_C_ERR_PARAMETER ? 32 : 33;
    }
    if (removed) {
      LogStep("blank page removed");
      return 0;
    }
  }

  // Orientation.
  const int r = p.ROTATION;
  if (r != kRotationAuto) {
    for (int i = 0; i < count; ++i) pages[i].code = r >= 0 && r <= 3 ? r : 0;
  } else if (!merge) {  // merged faces stay as they are
    if (!g_pTurnsense3Initialized || *g_pTurnsense3Initialized != 1 || !g_TurnsenseFunction) {
      LogError("Turnsense3 Init failed");
    } else {
      forPages([&](Page& page) -> int {
        const KELO_IMAGEDATA_PARAMETERS& g = page.early[page.face];
        _P2IIMG img{};
        img.pImageData = page.buffer();
        img.nBitsPerPixel = 24;
        img.nWidth = g.iPixelsPerLine;
        img.nHeight = g.iLines;
        img.nBytesPerLine = (24 * g.iPixelsPerLine + 7) / 8;
        img.nImageSize = img.nBytesPerLine * g.iLines;
        img.nXResolution = ReadOrRequested(p.SCAN_RES_X);
        img.nYResolution = ReadOrRequested(p.SCAN_RES_Y);
        int out[2] = {0, 0};
        const int rc = g_TurnsenseFunction(&img, out);
        if (rc == 0)
          page.code = out[0] >= 1 && out[0] <= 3 ? out[0] : 0;
        else if (!page.half)
          LogError("Turnsense3 failed");
        return 0;
      });
    }
  }

  // Tone table and colour cleanup; "iDTC" line art takes neither. A
  // smoothing unit that is not ready leaves the page as it is.
  const bool tone = p.SCAN_MODE != 0 || p.BW_MODE != 0;
  const bool cleanup = p.SCAN_MODE != 0 && p.COLOR_CLEANUP != 0 && IsToneflatReady();
  if (tone) {
    if (autoTone) {
      if (cleanup) {
        const int rc = ip.DoColorCleanup(slots, face, src);
        if (rc != 0) return rc;
      }
      const int rc = forPages([&](Page& page) -> int {
        const KELO_IMAGEDATA_PARAMETERS& g = page.early[page.face];
        if (g.iPixelsPerLine <= 0) return FSIP_C_ERR_PARAMETER;
        I3ipImageInfo info{};
        info.Dpi = static_cast<uint16_t>(ReadOrRequested(p.SCAN_RES_X));
        info.Bpp = static_cast<uint8_t>(g.iBytesPerLine * 8 / g.iPixelsPerLine);
        info.Width = static_cast<uint32_t>(g.iPixelsPerLine);
        info.Height = static_cast<uint32_t>(g.iLines);
        info.Bpl = static_cast<uint32_t>(g.iBytesPerLine);
        info.DataSize = static_cast<uint32_t>(PageBytes(g));
        info.Data = page.buffer();
        return I3ipIpunitProcess_AutoLUT(p.SCAN_MODE, &info, page.autoTable);
      });
      if (rc == FSIP_C_ERR_PARAMETER) {
        LogError("AutoLut paramter error");
        return 32;
      }
      if (rc != 0) {
        LogError("AutoLut other error");
        return 34;
      }
    } else {
      if (p.TONE_ADJUSTMENT >= 1 && p.TONE_ADJUSTMENT <= 4) {
        I3ipIpunitProcess_ManualLUT(p.SCAN_MODE, m_byToneLUT);
      } else if (p.TONE_ADJUSTMENT == 5 && !m_bCustomLUT) {
        ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, p.HIGHLIGHT, p.SHADOW, p.GAMMA, m_byToneLUT);
        m_bCustomLUT = 1;
      }
      if (cleanup) {
        const int rc = ip.DoColorCleanup(slots, face, src);
        if (rc != 0) return rc;
      }
    }
  }

  // Resolution conversion.
  int readX, readY;
  ReadResolutions(&readX, &readY);
  if (readX != p.SCAN_RES_X || readY != p.SCAN_RES_Y) {
    const int rc = forPages([&](Page& page) -> int {
      const KELO_IMAGEDATA_PARAMETERS from = page.early[page.face];
      KELO_IMAGEDATA_PARAMETERS to = page.late[page.face];
      if (autoSize) {
        to.iPixelsPerLine =
            static_cast<int>(std::ceil(from.iPixelsPerLine / static_cast<double>(readX) * p.SCAN_RES_X));
        to.iLines = static_cast<int>(std::ceil(from.iLines / static_cast<double>(readY) * p.SCAN_RES_Y));
      } else if (page.half) {
        to.iPixelsPerLine = W;
        to.iLines = page.targetHeight;
      }
      to.iBytesPerLine = 3 * to.iPixelsPerLine;  // still 24-bit here
      if (from.iPixelsPerLine <= 0 || from.iLines <= 0 || to.iPixelsPerLine <= 0 || to.iLines <= 0) {
        LogError("invalid page geometry");
        return 32;
      }
      unsigned char* converted = ip.DoResoConv_Color(page.buffer(), from, to);
      if (!converted) {
        // A half that cannot be converted is reported too; its page stays
        // in place for the caller to free.
        LogError("failed to DoResoConv_Color");
        return 33;
      }
      free(page.buffer());
      page.buffer() = converted;
      KELO_IMAGEDATA_PARAMETERS& g = page.geometry();
      g.iPixelsPerLine = to.iPixelsPerLine;
      g.iLines = to.iLines;
      g.iBytesPerLine = to.iBytesPerLine;
      return 0;
    });
    if (rc != 0) return rc;
  }

  // Tone application.
  if (tone) {
    LogStep("apply tone table");
    forPages([&](Page& page) -> int {
      MapBytes(page.buffer(), PageBytes(page.geometry()), autoTone ? page.autoTable : m_byToneLUT);
      return 0;
    });
  }

  // Mode conversion; "iDTC" line art goes to grey first.
  const bool idtc = p.SCAN_MODE == 0 && p.BW_MODE == 0;
  const int type = idtc ? 1 : p.SCAN_MODE;
  {
    const int rc = forPages([&](Page& page) -> int { return DoImageProc(&page.buffer(), &page.geometry(), type); });
    if (rc != 0) {
      LogError("DoImageProc other error");
      return 34;
    }
  }

  // Automatic binarization.
  if (idtc) {
    if (!g_pBinarizationInitialized || *g_pBinarizationInitialized != 1) {
      LogError("Binarization Init failed");
      return 34;
    }
    switch (ip.DoiDTC(slots, face, dst, m_iCropFlag)) {
      case KELO_IP_OK:
        break;
      case KELO_IP_PARAMETER:
        LogError("iDTC parameter error");
        return 32;
      case KELO_IP_OUTOFMEMORY:
        LogError("iDTC out of memory");
        return 33;
      default:
        LogError("iDTC other error");
        return 34;
    }
  }

  // Rotation.
  {
    const int rc = forPages(
        [&](Page& page) { return page.code != 0 ? ip.DoP2iRotate(page.slots, page.face, page.late, page.code) : 0; });
    if (rc != 0) return rc;
  }

  // Front/back merge.
  if (merge) {
    switch (ip.MergeImage(slots, dst)) {
      case KELO_IP_OK:
        break;
      case KELO_IP_PARAMETER:
        LogError("MergeImage parameter error");
        return 32;
      case KELO_IP_OUTOFMEMORY:
        LogError("MergeImage out of memory");
        return 33;
      default:
        LogError("MergeImage unexpected error");
        return 34;
    }
  }

  // Line art is delivered inverted.
  if (p.SCAN_MODE == 0) {
    LogStep("invert line art");
    auto invert = [](unsigned char* data, size_t size) {
      for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(~data[i]);
    };
    if (merge) {
      if (ip.m_pMergeImage) invert(ip.m_pMergeImage, PageBytes(ip.m_tMergeImageInfo));
    } else {
      forPages([&](Page& page) -> int {
        invert(page.buffer(), PageBytes(page.geometry()));
        return 0;
      });
    }
  }

  // What get_parameters reports for this face.
  g_ImgDataInfo[face] = dst[face];
  return 0;
}
