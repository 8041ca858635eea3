// The Corvane5 page steps that differ from the Corvane class's: its crop
// requests, and the host-side reduction to one bit per pixel of a colour
// face that the scanner's automatic colour detection judged binary.
#include <cstdlib>
#include <cstring>

#include "devctl_codes.h"
#include "fsip_records.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "main_options.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

constexpr uint32_t FUNC_CROP = 0x01;
constexpr uint32_t FUNC_NO_TAB = 0x02;
constexpr uint32_t FUNC_DUPCROP = 0x04;
constexpr uint32_t FUNC_DUPPHR = 0x08;
constexpr uint32_t FUNC_PHR = 0x10;
constexpr uint32_t FUNC_WHITE_CROP = 0x1000;
constexpr uint32_t FUNC_TWO_FACE_CROP = 0x4000;
constexpr uint32_t kAccepted = 0x70FF;

}  // namespace

int32_t KeloDevCtlCorvane5::DoSelectFunc(uint32_t code, unsigned char** buffers[2], int face) {
  return RunSelectFunc("KeloDevCtlCorvane5::DoSelectFunc", kAccepted, Corvane5ModelText(m_iDevType), code, buffers,
                       face);
}

uint32_t KeloDevCtlCorvane5::CropAndHoles(unsigned char** buffers[2]) {
  static const char* const kTag = "KeloDevCtlCorvane5::ImageProcess";
  const SCAN_PROP_INFO& p = m_PropInfo;
  const bool holes = p.HOLE_PUNCH_REMOVE != 0;
  uint32_t code = 0;
  if (p.PAPER_SIZE == 10 && p.PAGE_AUTO_PRIORITY) {
    // The white-background crop takes neither the tab nor the hole flag: the
    // library knows no such combination.
    if (p.BG_COLOR == 0)
      code = FUNC_WHITE_CROP;
    else
      code = (p.SCAN_SOURCE == 3 ? FUNC_DUPCROP : FUNC_CROP) | (p.IMAGE_INDEX_TAB ? 0 : FUNC_NO_TAB) |
             (holes ? FUNC_PHR : 0);
  } else if (p.PAPER_SIZE == 10 && g_FSIPCTLFucntion && m_bSoftCrpRetry) {
    Log(LOG_LEVEL_TRACE, kTag, "m_bSoftCrpRetry == true");
    code = (p.IMAGE_INDEX_TAB ? FUNC_CROP : FUNC_CROP | FUNC_NO_TAB) | (holes ? FUNC_PHR : 0);
  } else if (holes) {
    code = p.SCAN_SOURCE == 3 ? FUNC_DUPPHR : FUNC_PHR;
  }
  if (code == 0) return VK_OK;
  int32_t result = 0;
  if (code & (FUNC_DUPCROP | FUNC_DUPPHR | FUNC_TWO_FACE_CROP)) {
    result = DoSelectFunc(code, buffers, 0);
  } else if (p.SCAN_SOURCE == 3) {
    // Both faces always run; the first failure counts.
    const int32_t first = DoSelectFunc(code, buffers, 0);
    const int32_t second = DoSelectFunc(code, buffers, 1);
    result = first != 0 ? first : second;
  } else {
    result = DoSelectFunc(code, buffers, p.SCAN_SOURCE == 2 ? 1 : 0);
  }
  if (result == FSIP_C_ERR_PARAMETER || result == FSIP_C_ERR_OUTOFMEMORY) {
    Log(LOG_LEVEL_ERROR, kTag,
        "DoSelectFunc FUNC_PHR/FUNC_DUPPHR/FUNC_CROP/FUNC_DUPCROP/FUNC_CROP_Ostrel2/FUNC_TAB Error");
    return result == FSIP_C_ERR_PARAMETER ? QV_ERR_CTL_ILLEGAL_PARAM : QV_ERR_CTL_NO_MEMORY;
  }
  return VK_OK;
}

void KeloDevCtlCorvane5::ConvRGB2GrayN_Ex(unsigned char* grey, unsigned pixels, unsigned bytesPerLine,
                                          unsigned lines, uint8_t kind, const unsigned char* colour) {
  if (!grey || !colour) return;
  const size_t sourceLine = static_cast<size_t>(pixels) * 3;
  // An output line wider than the source converts only what the source has.
  const unsigned width = bytesPerLine < pixels ? bytesPerLine : pixels;
  size_t runs = lines, run = width;
  if (pixels == bytesPerLine) runs = 1, run = static_cast<size_t>(width) * lines;
  for (size_t y = 0; y < runs; ++y) {
    const unsigned char* __restrict s = colour + y * sourceLine;
    unsigned char* __restrict d = grey + y * bytesPerLine;
    switch (kind) {
      case 2:
      case 3:
      case 4:
        for (size_t x = 0; x < run; ++x) d[x] = s[3 * x + (kind - 2)];
        break;
      default:
        for (size_t x = 0; x < run; ++x)
          d[x] = static_cast<unsigned char>((77u * s[3 * x] + 150u * s[3 * x + 1] + 29u * s[3 * x + 2]) >> 8);
        break;
    }
  }
}

void KeloDevCtlCorvane5::GrayToBin(unsigned char* bits, unsigned bytesPerLine, unsigned width, unsigned lines,
                                   uint8_t threshold, const unsigned char* grey) {
  if (!bits || !grey) return;
  // Never write past the line, whatever the width says.
  const unsigned usable = width < bytesPerLine * 8u ? width : bytesPerLine * 8u;
  for (unsigned y = 0; y < lines; ++y) {
    const unsigned char* __restrict g = grey + static_cast<size_t>(y) * width;
    unsigned char* __restrict b = bits + static_cast<size_t>(y) * bytesPerLine;
    unsigned x = 0;
    for (; x + 8 <= usable; x += 8) {
      const unsigned char* p = g + x;
      b[x / 8] |= static_cast<unsigned char>((p[0] <= threshold) << 7 | (p[1] <= threshold) << 6 |
                                             (p[2] <= threshold) << 5 | (p[3] <= threshold) << 4 |
                                             (p[4] <= threshold) << 3 | (p[5] <= threshold) << 2 |
                                             (p[6] <= threshold) << 1 | (p[7] <= threshold));
    }
    for (; x < usable; ++x)
      if (g[x] <= threshold) b[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
  }
}

uint32_t KeloDevCtlCorvane5::ReduceFace(unsigned char** buffer, QV_IMAGEDATA_PARAMETERS* face, int index) {
  static const char* const kTag = "KeloDevCtlCorvane5::ImageProcess";
  if (m_PropInfo.AUTO_COLOR_DETECT != 1 || !buffer || !*buffer) return VK_OK;
  unsigned char markers[2];
  memcpy(markers, &m_AutoColorInfo.usValue, 2);
  if (markers[index] != 1) return VK_OK;
  const int pixels = face->iPixelsPerLine, lines = face->iLines;
  // Only a whole colour face is reduced: its lines must hold three bytes
  // for every pixel.
  if (pixels <= 0 || lines < 0 || face->iBytesPerLine / 3 < pixels || face->iBytesPerLine % 3 != 0) {
    Log(LOG_LEVEL_ERROR, kTag, "not a colour face");
    return QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION;
  }
  const unsigned sourcePixels = static_cast<unsigned>(face->iBytesPerLine / 3);
  auto* grey = static_cast<unsigned char*>(calloc(static_cast<size_t>(pixels) * lines + 1, 1));
  if (!grey) {
    Log(LOG_LEVEL_ERROR, kTag, "pbyImgDst1 == NULL");
    return QV_ERR_CTL_NO_MEMORY;
  }
  ConvRGB2GrayN_Ex(grey, sourcePixels, static_cast<unsigned>(pixels), static_cast<unsigned>(lines),
                   m_PropInfo.DROPOUT_COLOR, *buffer);
  const int bitLine = (pixels + 7) / 8;
  auto* bits = static_cast<unsigned char*>(calloc(static_cast<size_t>(bitLine) * lines + 1, 1));
  if (!bits) {
    free(grey);
    Log(LOG_LEVEL_ERROR, kTag, "pbyImgDst2 == NULL");
    return QV_ERR_CTL_NO_MEMORY;
  }
  GrayToBin(bits, static_cast<unsigned>(bitLine), static_cast<unsigned>(pixels), static_cast<unsigned>(lines),
            m_PropInfo.THRESHOLD, grey);
  free(grey);
  free(*buffer);
  *buffer = bits;
  face->iBytesPerLine = bitLine;
  face->iFormat = 0;
  face->iDepth = 1;
  return VK_OK;
}

}  // namespace dravnmain
