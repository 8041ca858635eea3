// From the compressed faces of a sheet to the pages the read side serves:
// decoding, then the step that makes the delivered pages. That step turns
// each decoded face into the announced geometry and mode (resolution and
// colour, grey or line art) and nothing more; the page pipeline takes its
// place with the full chain of image steps.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "selko2_scan_func.h"

namespace {

constexpr int kAutomaticPaperSize = 12;

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

// Components of the first frame header of a JPEG stream (0 when there is
// none within the data).
int JpegComponents(const unsigned char* data, uint32_t length) {
  if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
  for (uint32_t pos = 2; pos + 4 <= length;) {
    if (data[pos] != 0xFF) return 0;
    const unsigned char marker = data[pos + 1];
    const uint32_t segment = static_cast<uint32_t>(data[pos + 2] << 8 | data[pos + 3]);
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
      return pos + 9 < length ? data[pos + 9] : 0;
    if (marker == 0xDA) return 0;
    pos += 2 + segment;
  }
  return 0;
}

int ReadResolution(int requested) { return requested <= 300 ? 300 : 600; }

}  // namespace

// Decodes each face in place: the page copy receives the face as 24-bit
// rows of its source geometry (a grey stream's samples repeated in R, G, B);
// lines and columns the frame does not reach are white. With automatic page
// size the frame is the geometry.
uint32_t CSelko2ScanFunc::HandOverSheet(unsigned char** ppFront, unsigned char** ppBack,
                                        KELO_IMAGEDATA_PARAMETERS* tpSrcInfo, KELO_IMAGEDATA_PARAMETERS* tpDstInfo,
                                        const JPEGINFO* tpJpegInfo) {
  const char* fn = "CSelko2ScanFunc::HandOverSheet";
  CLogScope scope(fn);
  unsigned char** slots[2] = {ppFront, ppBack};
  for (int side = 0; side < 2; ++side) {
    unsigned char*& face = *slots[side];
    if (!face) continue;
    const JPEGINFO& jpeg = tpJpegInfo[side];
    const int components = JpegComponents(face, jpeg.uiDataSize);
    unsigned char* decoded = components == 1 || components == 3 ? ReadDataFromJpeg(face, jpeg) : nullptr;
    if (!decoded) {
      LogError(fn, "ReadDataFromJpeg() == NULL");
      return SELKO2_ERR_PARAM;
    }
    KELO_IMAGEDATA_PARAMETERS& src = tpSrcInfo[side];
    const size_t frameWidth = jpeg.usWidth, frameHeight = jpeg.usHeight;
    const size_t decodedBpl = frameWidth * components;
    if (Prop().PAPER_SIZE == kAutomaticPaperSize) {
      src.iPixelsPerLine = static_cast<int>(frameWidth);
      src.iLines = static_cast<int>(frameHeight);
      src.iBytesPerLine = 3 * src.iPixelsPerLine;
      if (components == 3) {
        free(face);
        face = decoded;
        continue;
      }
      unsigned char* rgb = static_cast<unsigned char*>(malloc(std::max<size_t>(frameWidth * frameHeight * 3, 1)));
      if (!rgb) {
        free(decoded);
        LogError(fn, "ucpOutImg == NULL");
        return SELKO2_ERR_NO_MEMORY;
      }
      free(face);
      face = rgb;
    }
    // The page copy holds at least the source geometry (MakePageCopy).
    const size_t bpl = src.iBytesPerLine > 0 ? static_cast<size_t>(src.iBytesPerLine) : 0;
    const size_t width = bpl / 3, lines = src.iLines > 0 ? static_cast<size_t>(src.iLines) : 0;
    const size_t columns = std::min(width, frameWidth);
    for (size_t y = 0; y < lines; ++y) {
      unsigned char* row = face + y * bpl;
      size_t filled = 0;
      if (y < frameHeight) {
        const unsigned char* in = decoded + y * decodedBpl;
        if (components == 3) {
          memcpy(row, in, columns * 3);
        } else {
          for (size_t x = 0; x < columns; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = in[x];
        }
        filled = columns * 3;
      }
      memset(row + filled, 0xFF, bpl - filled);
    }
    free(decoded);
  }
  const uint32_t rc = ProcessSheet(ppFront, ppBack, tpSrcInfo, tpDstInfo);
  // What the read side may serve of each page: what its geometry holds.
  for (int side = 0; side < 2; ++side) {
    const KELO_IMAGEDATA_PARAMETERS& g = tpDstInfo[side];
    m_ulImageBytes[side] = rc == 0 && *slots[side] && g.iBytesPerLine > 0 && g.iLines > 0
                               ? static_cast<size_t>(g.iBytesPerLine) * static_cast<size_t>(g.iLines)
                               : 0;
  }
  return rc;
}

// Each face from its source geometry to its destination: area-averaged to
// the requested resolution, then colour, grey (luminance) or line art
// (luminance below half is black, bit 1). The page it replaces is freed.
// Split and merged pages need the page pipeline.
uint32_t CSelko2ScanFunc::ProcessSheet(unsigned char** ppFront, unsigned char** ppBack,
                                       KELO_IMAGEDATA_PARAMETERS* tpSrcInfo, KELO_IMAGEDATA_PARAMETERS* tpDstInfo) {
  const char* fn = "CSelko2ScanFunc::ProcessSheet";
  CLogScope scope(fn);
  const KELO_PROP_INFO& p = Prop();
  if (p.SPLIT_IMAGE || p.FRONT_BACK_MERGING) {
    LogError(fn, "split or merged pages need the page pipeline");
    return SELKO2_ERR_UNSUPPORTED;
  }
  unsigned char** slots[2] = {ppFront, ppBack};
  for (int side = 0; side < 2; ++side) {
    unsigned char*& face = *slots[side];
    if (!face) continue;
    const KELO_IMAGEDATA_PARAMETERS& src = tpSrcInfo[side];
    KELO_IMAGEDATA_PARAMETERS& dst = tpDstInfo[side];
    if (p.PAPER_SIZE == kAutomaticPaperSize) {
      const double sx = static_cast<double>(p.SCAN_RES_X) / ReadResolution(p.SCAN_RES_X);
      const double sy = static_cast<double>(p.SCAN_RES_Y) / ReadResolution(p.SCAN_RES_Y);
      dst.iPixelsPerLine = static_cast<int>(std::ceil(src.iPixelsPerLine * sx));
      dst.iLines = static_cast<int>(std::ceil(src.iLines * sy));
    }
    const int sw = src.iPixelsPerLine, sh = src.iLines, dw = dst.iPixelsPerLine, dh = dst.iLines;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || src.iBytesPerLine < 3 * sw) {
      LogError(fn, "empty page geometry");
      return SELKO2_ERR_PARAM;
    }
    const int channels = dst.iFormat == 1 ? 3 : 1;
    const bool lineArt = dst.iDepth == 1;
    dst.iBytesPerLine = lineArt ? (dw + 7) / 8 : dw * channels;
    const size_t bytes = static_cast<size_t>(dst.iBytesPerLine) * dh;
    const size_t srcBpl = static_cast<size_t>(src.iBytesPerLine);

    if (!(sw == dw && sh == dh && channels == 3 && !lineArt && srcBpl == static_cast<size_t>(dst.iBytesPerLine))) {
      unsigned char* out = static_cast<unsigned char*>(calloc(bytes ? bytes : 1, 1));
      if (!out) {
        LogError(fn, side == SELKO2_SIDE_FRONT ? "m_pImageFront == NULL" : "m_pImageBack == NULL");
        return SELKO2_ERR_NO_MEMORY;
      }
      for (int y = 0; y < dh; ++y) {
        const int y0 = static_cast<int>(static_cast<int64_t>(y) * sh / dh);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(y + 1) * sh / dh));
        unsigned char* row = out + static_cast<size_t>(y) * dst.iBytesPerLine;
        for (int x = 0; x < dw; ++x) {
          const int x0 = static_cast<int>(static_cast<int64_t>(x) * sw / dw);
          const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(x + 1) * sw / dw));
          unsigned sum[3] = {0, 0, 0}, n = 0;
          for (int yy = y0; yy < y1; ++yy) {
            const unsigned char* in = face + yy * srcBpl + 3 * x0;
            for (int xx = x0; xx < x1; ++xx, in += 3, ++n) sum[0] += in[0], sum[1] += in[1], sum[2] += in[2];
          }
          const unsigned r = (sum[0] + n / 2) / n, g = (sum[1] + n / 2) / n, b = (sum[2] + n / 2) / n;
          if (channels == 3) {
            row[3 * x] = static_cast<unsigned char>(r);
            row[3 * x + 1] = static_cast<unsigned char>(g);
            row[3 * x + 2] = static_cast<unsigned char>(b);
            continue;
          }
          const unsigned luminance = (299 * r + 587 * g + 114 * b + 500) / 1000;
          if (!lineArt)
            row[x] = static_cast<unsigned char>(luminance);
          else if (luminance < 128)
            row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
        }
      }
      free(face);
      face = out;
    }
    g_ImgDataInfo[side] = dst;
  }
  return 0;
}
