// The Corvane5 page steps that differ from the Corvane class's: its crop
// requests, and the host-side reduction to one bit per pixel of a colour
// face that the scanner's automatic colour detection judged binary.
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "devctl_codes.h"
#include "fsip_records.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "main_options.h"

namespace dravnmain {

namespace {

void Log(int level, const char* tag, const char* text) { WriteLog(level, tag, text); }

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

namespace {

// One line (or one run of lines) of colour pixels to grey: a channel, or the
// integer luminance. Sixteen pixels at a time where SSE2 is there; the tail
// and other machines take the plain loop, with the same arithmetic.
void GreyRun(unsigned char* __restrict d, const unsigned char* __restrict s, size_t n, uint8_t kind) {
  const bool channel = kind >= 2 && kind <= 4;
  size_t x = 0;
#ifdef __SSE2__
  const __m128i wr = _mm_set1_epi16(77), wg = _mm_set1_epi16(150), wb = _mm_set1_epi16(29);
  const __m128i zero = _mm_setzero_si128();
  for (; x + 16 <= n; x += 16) {
    const unsigned char* p = s + 3 * x;
    __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    // Byte i of the 48 moves to 2i mod 47 at each perfect shuffle; after
    // four, byte 3j + c sits at 16c + j: the R, G and B planes.
    for (int round = 0; round < 4; ++round) {
      const __m128i x0 = _mm_unpacklo_epi8(r, _mm_unpackhi_epi64(g, g));
      const __m128i x1 = _mm_unpacklo_epi8(_mm_unpackhi_epi64(r, r), b);
      const __m128i x2 = _mm_unpacklo_epi8(g, _mm_unpackhi_epi64(b, b));
      r = x0, g = x1, b = x2;
    }
    __m128i out;
    if (channel) {
      out = kind == 2 ? r : (kind == 3 ? g : b);
    } else {
      // The weighted sum stays below 65536: exact in unsigned 16-bit lanes.
      const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(r, zero), wr),
                                                     _mm_mullo_epi16(_mm_unpacklo_epi8(g, zero), wg)),
                                       _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wb));
      const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(r, zero), wr),
                                                     _mm_mullo_epi16(_mm_unpackhi_epi8(g, zero), wg)),
                                       _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wb));
      out = _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), out);
  }
#endif
  if (channel) {
    for (; x < n; ++x) d[x] = s[3 * x + (kind - 2)];
  } else {
    for (; x < n; ++x)
      d[x] = static_cast<unsigned char>((77u * s[3 * x] + 150u * s[3 * x + 1] + 29u * s[3 * x + 2]) >> 8);
  }
}

// Bit order within a byte reversed: the compare mask has pixel 0 in bit 0,
// the page wants it in bit 7.
struct ReversedBits {
  unsigned char table[256];
  constexpr ReversedBits() : table() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (i >> bit & 1) r |= 0x80 >> bit;
      table[i] = static_cast<unsigned char>(r);
    }
  }
};
constexpr ReversedBits kReversed;

void BitsLine(unsigned char* __restrict b, const unsigned char* __restrict g, unsigned usable, uint8_t threshold) {
  unsigned x = 0;
#ifdef __SSE2__
  const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
  for (; x + 16 <= usable; x += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x));
    // min(v, t) == v is the unsigned v <= t.
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, t), v)));
    b[x / 8] |= kReversed.table[mask & 0xFF];
    b[x / 8 + 1] |= kReversed.table[mask >> 8];
  }
#endif
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

}  // namespace

void KeloDevCtlCorvane5::ConvRGB2GrayN_Ex(unsigned char* grey, unsigned pixels, unsigned bytesPerLine,
                                          unsigned lines, uint8_t kind, const unsigned char* colour) {
  if (!grey || !colour) return;
  const size_t sourceLine = static_cast<size_t>(pixels) * 3;
  // An output line wider than the source converts only what the source has.
  const unsigned width = bytesPerLine < pixels ? bytesPerLine : pixels;
  if (pixels == bytesPerLine) return GreyRun(grey, colour, static_cast<size_t>(width) * lines, kind);
  for (size_t y = 0; y < lines; ++y) GreyRun(grey + y * bytesPerLine, colour + y * sourceLine, width, kind);
}

void KeloDevCtlCorvane5::GrayToBin(unsigned char* bits, unsigned bytesPerLine, unsigned width, unsigned lines,
                                   uint8_t threshold, const unsigned char* grey) {
  if (!bits || !grey) return;
  // Never write past the line, whatever the width says.
  const unsigned usable = width < bytesPerLine * 8u ? width : bytesPerLine * 8u;
  for (unsigned y = 0; y < lines; ++y)
    BitsLine(bits + static_cast<size_t>(y) * bytesPerLine, grey + static_cast<size_t>(y) * width, usable, threshold);
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
