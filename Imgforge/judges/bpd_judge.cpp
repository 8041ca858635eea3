// The blank-page judge: the control layer's JugBlankPage and the exported
// P2iJugWhitePaper and P2iJugWhitePaper2. One-bit pages are judged by their
// share of black pixels; grey and colour pages by how many small dark
// details stand out against their surroundings, so that faint show-through
// from the back of the sheet still counts as blank.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "dravn_export.h"
#include "fsipctl_internal.h"
#include "judge_internal.h"

using judges::Area;
using judges::WorkImage;

namespace {

const char kLog[] = "P2IJDGWP.log";

// The working record of a judge call: the page and what is derived from it.
struct INHERIT_INF {
  _P2IIMG page;
  int dotsPerMm;
  int edgeThreshold;
  int countFactor;
  double distanceFactor;
  WorkImage work;
};

int CheckImageinfoEx(const FSIP_S_IMAGEINFO_EX* im) {
  if (!im || !im->pImageData || im->cbSize <= 0) return FSIP_C_ERR_PARAMETER;
  const bool known = (im->nPixelType == 0 && im->nDepth == 1 && im->nColorSeq == 0) ||
                     (im->nPixelType == 1 && im->nDepth == 8 && im->nColorSeq == 0) ||
                     (im->nPixelType == 2 && im->nDepth == 24 && im->nColorSeq == 1);
  if (!known || im->nWidth <= 0 || im->nHeight <= 0 || im->nBytesPerLine <= 0) return FSIP_C_ERR_PARAMETER;
  // The rows must hold their pixels, or the judge reads past the page.
  const int64_t row = (static_cast<int64_t>(im->nWidth) * im->nDepth + 7) / 8;
  if (im->nBytesPerLine < row || im->nImageSize < static_cast<int64_t>(im->nHeight) * im->nBytesPerLine)
    return FSIP_C_ERR_PARAMETER;
  if (im->Rect.nXOffset || im->Rect.nYOffset || im->Rect.nWidth || im->Rect.nHeight) return FSIP_C_ERR_PARAMETER;
  if (im->nPixelFlavor != 0 && im->nPixelFlavor != 1) return FSIP_C_ERR_PARAMETER;
  return FSIP_C_ERR_NOERROR;
}

int CheckInParam(const FSIP_S_IMAGEINFO_EX* im, const FSIP_BPD_S_INPARAM* in) {
  if (!in || in->cbSize <= 0) return FSIP_C_ERR_PARAMETER;
  if (im->nDepth == 1) {
    if (static_cast<uint32_t>(in->nWLevel) > 15 || static_cast<uint32_t>(in->nBLevel) > 15) return FSIP_C_ERR_PARAMETER;
  } else if (in->nDetectLevel < -2 || in->nDetectLevel > 2) {
    return FSIP_C_ERR_PARAMETER;
  }
  return FSIP_C_ERR_NOERROR;
}

int CheckParamBPD(const FSIP_S_IMAGEINFO_EX* im, const FSIP_BPD_S_INPARAM* in, const FSIP_S_IMAGEINFO_EX* outImage,
                  const FSIP_BPD_S_OUTPARAM* out) {
  int rc = CheckImageinfoEx(im);
  if (rc == FSIP_C_ERR_NOERROR) rc = CheckInParam(im, in);
  if (rc == FSIP_C_ERR_NOERROR && (!out || outImage)) rc = FSIP_C_ERR_PARAMETER;
  return rc;
}

// Set bits in whole 32-bit words; the bytes after the last whole word are
// not counted.
uint64_t GetBitCount(const uint8_t* data, size_t bytes) {
  uint64_t count = 0;
  for (size_t i = 0; i + 4 <= bytes; i += 4) {
    uint32_t word;
    memcpy(&word, data + i, 4);
    if (word == 0) continue;
    count += word == 0xFFFFFFFFu ? 32 : static_cast<unsigned>(__builtin_popcount(word));
  }
  return count;
}

int GetRatio(uint64_t black, size_t bytes) {
  return static_cast<int>(static_cast<double>(black) * 1000.0 / (static_cast<double>(bytes) * 8.0) + 0.555);
}

int CheckBlanckPage(const FSIP_S_IMAGEINFO_EX* im, const FSIP_BPD_S_INPARAM* in, FSIP_BPD_S_OUTPARAM* out) {
  const size_t bytes = static_cast<size_t>(im->nBytesPerLine) * static_cast<size_t>(im->nHeight);
  const int black = GetRatio(GetBitCount(im->pImageData, bytes), bytes);
  const int white = 1000 - black;
  out->nResult = (in->nWLevel != 0 && 2 * in->nWLevel >= white) || (in->nBLevel != 0 && 2 * in->nBLevel >= black);
  return FSIP_C_ERR_NOERROR;
}

// Grey = (77 R + 151 G + 28 B) >> 8, one byte per pixel, rows of width bytes.
void ConvertColorToGrayscale(const FSIP_S_IMAGEINFO_EX* im, uint8_t* grey) {
  const size_t width = static_cast<size_t>(im->nWidth);
  for (int64_t y = 0; y < im->nHeight; ++y) {
    const uint8_t* src = im->pImageData + y * im->nBytesPerLine;
    uint8_t* dst = grey + static_cast<size_t>(y) * width;
    for (size_t x = 0; x < width; ++x, src += 3) dst[x] = static_cast<uint8_t>(judges::GreyOfRgb(src));
  }
}

// The edge count of the first two judges. A contrast above the threshold
// uses up one unit of the allowance; a page that uses it all is not blank.
template <typename Grey>
int CountEdges(const INHERIT_INF& inf, int step, Grey grey, bool logged) {
  const WorkImage& w = inf.work;
  if (logged) judges::JudgeLog(kLog, "----P2IjugWhitePaper Begin---------\n");
  const int s = judges::NeighbourDistance(w.xres, inf.distanceFactor);
  const Area a = judges::ExaminedArea(w, s);
  if (a.Empty()) {
    if (logged) judges::JudgeLog(kLog, "----(sxg1 >= exg1) || (syg1 >= eyg1)---------\n");
    return 0;
  }
  if (logged) judges::JudgeLog(kLog, "---tmp1:%d---tmp2:%d---tmp3:%d---\n", a.Height(), a.Width(), s);
  const int d = inf.dotsPerMm, sample = d / 2 + 1;
  int allowance = inf.countFactor * d / sample;
  const int threshold = inf.edgeThreshold;
  for (int y = a.sy; y <= a.ey; y += sample) {
    const uint8_t* row = w.origin + y * w.bpl;
    for (int x = a.sx; x <= a.ex; x += sample) {
      if (judges::Contrast(row + static_cast<int64_t>(x) * step, w.bpl, s, step, grey) > threshold && --allowance < 0) {
        if (logged) judges::JudgeLog(kLog, "----Is Not Blank Page----\n");
        return 0;
      }
    }
  }
  if (logged) {
    judges::JudgeLog(kLog, "----Is Blank Page----\n");
    judges::JudgeLog(kLog, "----P2IjugWhitePaper end---------\n");
  }
  return 1;
}

int img_gray2mono_imgall_uragami(const INHERIT_INF& inf, bool logged) {
  if (inf.page.nBitsPerPixel == 24) return CountEdges(inf, 3, judges::GreyOfRgb, logged);
  return CountEdges(
      inf, 1, [](const uint8_t* p) { return static_cast<int>(*p); }, logged);
}

// The steps the first two judges share; the second counts silently and may
// double the neighbour distance. A 24-bit page comes only from the colour
// road, which judges its grey without converting the whole page.
int JudgeWhitePaper(_P2IIMG* page, const int* level, double factor, bool logged) {
  if (!page || !level) return P2I_ERR_PARAMETER;
  if (page->nBitsPerPixel != 8 && page->nBitsPerPixel != 24) return P2I_ERR_PIXELTYPE;
  if (judges::ReadSwitches(false).saveBitmap) P2iBmp(page);
  std::unique_ptr<INHERIT_INF> inf(new (std::nothrow) INHERIT_INF{});
  if (!inf) return -1;
  inf->page = *page;
  inf->dotsPerMm = page->nXResolution / 25;
  if (page->nXResolution < -24) return P2I_ERR_PIXELTYPE;
  const int rc = judges::RegionOf(*page, page->nBitsPerPixel / 8, &inf->work);
  if (rc != 0) return rc;
  switch (*level) {
    case 1:
      inf->edgeThreshold = 45, inf->countFactor = 24;
      break;
    case 2:
      inf->edgeThreshold = 45, inf->countFactor = 30;
      break;
    case -1:
      inf->edgeThreshold = 35, inf->countFactor = 20;
      break;
    case -2:
      inf->edgeThreshold = 30, inf->countFactor = 20;
      break;
    default:
      inf->edgeThreshold = 40, inf->countFactor = 24;
      break;
  }
  inf->distanceFactor = factor;
  return img_gray2mono_imgall_uragami(*inf, logged);
}

int MapJudgeAnswer(int answer, FSIP_BPD_S_OUTPARAM* out) {
  switch (answer) {
    case 1:
      out->nResult = 1;
      return FSIP_C_ERR_NOERROR;
    case 0:
      out->nResult = 0;
      return FSIP_C_ERR_NOERROR;
    case P2I_ERR_PARAMETER:
      return FSIP_C_ERR_PARAMETER;
    case P2I_ERR_OUTOFMEMORY:
      return FSIP_C_ERR_OUTOFMEMORY;
    case P2I_ERR_PIXELTYPE:
      return FSIP_C_ERR_PIXELTYPE;
    default:
      return FSIP_C_ERR_UNEXPECTED_ERROR;
  }
}

int CheckColorBlanckPage(const FSIP_S_IMAGEINFO_EX* im, const FSIP_BPD_S_INPARAM* in, FSIP_BPD_S_OUTPARAM* out) {
  std::vector<uint8_t> grey;
  _P2IIMG page{};
  page.nBitsPerPixel = 8;
  page.nColorOrder = 0;
  page.nWidth = im->nWidth;
  page.nHeight = im->nHeight;
  page.nXResolution = im->nXResolution;
  page.nYResolution = im->nYResolution;
  page.nRight = im->nWidth - 1;
  page.nBottom = im->nHeight - 1;
  page.pImageData = im->pImageData;
  page.nBytesPerLine = im->nBytesPerLine;
  page.nImageSize = im->nImageSize;
  int level = in->nDetectLevel;
  if (im->nDepth == 24) {
    if (!g_bLogSaveBitmap) {
      // Only the sampled pixels and their neighbours are made grey.
      page.nBitsPerPixel = 24;
      return MapJudgeAnswer(JudgeWhitePaper(&page, &level, 1.0, true), out);
    }
    // The grey page is wanted whole, for the dumps.
    const int64_t size = static_cast<int64_t>(im->nWidth) * im->nHeight;
    if (size > INT32_MAX) return FSIP_C_ERR_PARAMETER;
    grey.resize(static_cast<size_t>(size));
    ConvertColorToGrayscale(im, grey.data());
    page.pImageData = grey.data();
    page.nBytesPerLine = im->nWidth;
    page.nImageSize = static_cast<int32_t>(size);
  }
  // The judge only reads: the page itself, or its grey form, serves as the
  // working copy.
  if (g_bLogSaveBitmap) P2iBmp(&page);
  return MapJudgeAnswer(P2iJugWhitePaper(&page, &level, nullptr, nullptr), out);
}

}  // namespace

int JugBlankPage(FSIP_S_IMAGEINFO_EX* input, FSIP_BPD_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX* output,
                 FSIP_BPD_S_OUTPARAM* outParam) {
  try {
    const int rc = CheckParamBPD(input, inParam, output, outParam);
    if (rc != FSIP_C_ERR_NOERROR) return rc;
    switch (input->nDepth) {
      case 1:
        return CheckBlanckPage(input, inParam, outParam);
      case 8:
      case 24:
        return CheckColorBlanckPage(input, inParam, outParam);
      default:
        return FSIP_C_ERR_PARAMETER;
    }
  } catch (const std::bad_alloc&) {
    return FSIP_C_ERR_OUTOFMEMORY;
  } catch (...) {
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  }
}

DRAVN_C_EXPORT int P2iJugWhitePaper(_P2IIMG* page, int* level, void*, void*) {
  try {
    if (page && page->nBitsPerPixel != 8) return P2I_ERR_PIXELTYPE;
    return JudgeWhitePaper(page, level, 1.0, true);
  } catch (...) {
    return -1;
  }
}

DRAVN_C_EXPORT int P2iJugWhitePaper2(_P2IIMG* page, int* level, void*, void*, const char* doubleDistance, void*) {
  try {
    if (page && page->nBitsPerPixel != 8) return P2I_ERR_PIXELTYPE;
    return JudgeWhitePaper(page, level, doubleDistance && doubleDistance[0] ? 2.0 : 1.0, false);
  } catch (...) {
    return -1;
  }
}
