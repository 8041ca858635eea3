// The colour-or-mono judge: GetDocBestDepth under the control layer and the
// exported P2iGetBestDepth. The page is reduced to about 50 dpi; pixels of
// strong colour are marked, and their number, their share of the page and,
// in the middle ground, the size of their largest patch decide.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "abitmap.h"
#include "dravn_export.h"
#include "fsipctl_internal.h"
#include "fsipctl_log_file.h"
#include "judge_internal.h"

namespace p2idepth {

namespace {

void Log(const char* text) { OutputDebugString(text); }

template <typename... A>
void Logf(const char* format, A... args) {
  char text[256];
  snprintf(text, sizeof text, format, args...);
  OutputDebugString(text);
}

void Put32(std::string& h, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) h[at + i] = static_cast<char>(v >> (8 * i));
}

// The colour map as a 1-bit BMP, white then black; rows padded to four
// bytes as the format requires.
void DumpMap(const std::vector<uint8_t>& map, int width, int height, int mapBpl) {
  const int row = (mapBpl + 3) / 4 * 4;
  const uint32_t imageSize = static_cast<uint32_t>(row) * static_cast<uint32_t>(height);
  std::string h(62, '\0');
  h[0] = 'B', h[1] = 'M';
  Put32(h, 2, 62 + imageSize);
  Put32(h, 10, 62);
  Put32(h, 14, 40);
  Put32(h, 18, static_cast<uint32_t>(width));
  Put32(h, 22, static_cast<uint32_t>(height));
  h[26] = 1, h[28] = 1;
  Put32(h, 34, imageSize);
  Put32(h, 38, 1969);
  Put32(h, 42, 1969);
  h[54] = h[55] = h[56] = '\xff';
  std::vector<uint8_t> rows(imageSize, 0);
  for (int j = 0; j < height; ++j)
    std::copy_n(&map[static_cast<size_t>(height - 1 - j) * mapBpl], mapBpl, &rows[static_cast<size_t>(j) * row]);
  const fsipctl::Stamp s = fsipctl::Now();
  char name[64];
  snprintf(name, sizeof name, "P2IDEPTH%04d%02d%02d_%02d%02d%02d_%03d.bmp", s.year, s.month, s.day, s.hour, s.minute,
           s.second, static_cast<int>(s.fraction));
  judges::WriteDumpFile(name, h, rows.data(), rows.size());
}

}  // namespace

void LevelParameters(int level, int* threshold, int* blockSize) {
  static const int kTable[11][2] = {{20, 2}, {25, 2},  {25, 3},  {30, 3},  {35, 3}, {35, 4},
                                    {40, 7}, {40, 12}, {42, 12}, {43, 15}, {45, 15}};
  const int i = level >= -5 && level <= 5 ? level + 5 : 5;
  *threshold = kTable[i][0];
  *blockSize = kTable[i][1];
}

int ReductionFactor(int xres) {
  return xres < 100 ? 1 : xres < 150 ? 2 : xres < 200 ? 3 : xres < 300 ? 4 : xres < 400 ? 6 : xres < 600 ? 8 : 12;
}

int img_best_is_color(const _P2IIMG* page, int blockSize, int threshold) {
  const judges::Switches sw = judges::ReadSwitches(true);
  Log("---------------------------DCM BEGIN------------------------");
  Logf("       BlockSize=%d,Threshold=%d\n", blockSize, threshold);
  if (!page) return P2I_ERR_PARAMETER;
  if (page->nBitsPerPixel != 24) return P2I_ERR_PIXELTYPE;
  const int width = page->nWidth, height = page->nHeight, mapBpl = (width + 7) / 8;
  std::vector<uint8_t> map;
  try {
    map.assign(static_cast<size_t>(mapBpl) * static_cast<size_t>(height) + 1, 0);
  } catch (const std::bad_alloc&) {
    return P2I_ERR_OUTOFMEMORY;
  }
  int64_t count = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = page->pImageData + static_cast<int64_t>(y) * page->nBytesPerLine;
    uint8_t* bits = &map[static_cast<size_t>(y) * mapBpl];
    for (int x = 0; x < width; ++x, p += 3) {
      const int hi = std::max({p[0], p[1], p[2]}), lo = std::min({p[0], p[1], p[2]});
      if (hi - lo >= threshold && hi > 60) {
        bits[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        ++count;
      }
    }
  }
  if (sw.doCrop == 0 && sw.saveBitmap) DumpMap(map, width, height, mapBpl);

  const int64_t area = static_cast<int64_t>(width) * height;
  // A page under 100 reduced pixels has no whole per cent to share.
  const int64_t perCent = std::max<int64_t>(1, area / 4 / 25);
  const double share = static_cast<double>(count) / static_cast<double>(perCent);
  const int quarter = static_cast<int>(area / 4);
  Logf("       iro_count=%d,fYusaiPer=%f\n", static_cast<int>(count), share);
  Logf("       iThreshold=%d \n", quarter);
  int verdict;
  if (count <= 10) {
    Log("[Judge][MONO]->RGB_Threshold\n");
    Log("(iro_count <= 10)\n");
    Log("**If this image is COLOR, Threshold need go down.**");
    verdict = 1;
  } else if (count >= quarter) {
    Log("[Judge][COLOR]->RGB_Threshold\n");
    Logf("(iro_count >= iThreshold=%d)\n", quarter);
    Log("**If this image is MONO, Threshold need go up.**");
    verdict = 24;
  } else if (share >= 2.0) {
    Log("[Judge][COLOR]->RGB_Threshold\n");
    Log("(fYusaiPer >= 2)\n");
    Log("**If this image is MONO, Threshold need go up.**");
    verdict = 24;
  } else {
    Log("       fYusaiPer < 2 \n");
    const int mx = judges::MarginOf(width, page->nXResolution / 25);
    const int my = judges::MarginOf(height, page->nYResolution / 25);
    LBL_DATA labels{};
    verdict = 1;
    if (mx <= width - mx - 1 && my <= height - my - 1) {
      if (img_mono2label(map.data(), mapBpl, width, height, mx, my, width - mx - 1, height - my - 1, &labels) < 0) {
        img_mono2label_free(&labels);
        return P2I_ERR_OUTOFMEMORY;
      }
    }
    Log("       ラベリング結果についてチェック \n");
    Logf("       lbl_data_k.maxlabel=%d \n", static_cast<int>(labels.maxlabel));
    for (int64_t n = 1; n <= labels.maxlabel; ++n) {
      const KRECT& r = labels.rects[n];
      const int ilWidth = std::abs(r.xmax - r.xmin) + 1, ilHeight = std::abs(r.ymax - r.ymin) + 1;
      Log("[Judge][COLOR]->iBlockSize");
      Logf("(ilHeight=%d,ilWidth=%d)\n", ilHeight, ilWidth);
      Log("**If this image is MONO, BlockSize need go up.**");
      if (std::min(ilWidth, ilHeight) >= blockSize) {
        verdict = 24;
        break;
      }
    }
    img_mono2label_free(&labels);
  }
  Log("---------------------------DCM END--------------------------");
  return verdict;
}

}  // namespace p2idepth

DRAVN_C_EXPORT int P2iGetBestDepth(_P2IIMG* page, int* level, void*, void*) {
  try {
    if (!page || !level) return P2I_ERR_PARAMETER;
    if (page->nBitsPerPixel != 24) return P2I_ERR_PIXELTYPE;
    judges::WorkImage region;
    if (judges::RegionOf(*page, 3, &region) != 0) return P2I_ERR_PARAMETER;
    const int f = p2idepth::ReductionFactor(page->nXResolution);
    // The labelling margins divide by the reduced page's millimetre unit.
    if (page->nXResolution / f < 25 || page->nYResolution / f < 25) return P2I_ERR_PARAMETER;
    const int width = page->nWidth / f, height = page->nHeight / f;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::unique_ptr<uint8_t[]> reduced(new (std::nothrow) uint8_t[rowBytes * static_cast<size_t>(height) + 1]);
    if (!reduced) return P2I_ERR_OUTOFMEMORY;
    const unsigned area = static_cast<unsigned>(f * f);
    std::vector<unsigned> sums(rowBytes);
    for (int y = 0; y < height; ++y) {
      std::fill(sums.begin(), sums.end(), 0u);
      for (int j = 0; j < f; ++j) {
        const uint8_t* src = page->pImageData + static_cast<int64_t>(y * f + j) * page->nBytesPerLine;
        for (int x = 0; x < width; ++x) {
          unsigned* s = &sums[static_cast<size_t>(x) * 3];
          for (int i = 0; i < f; ++i, src += 3) s[0] += src[2], s[1] += src[1], s[2] += src[0];
        }
      }
      uint8_t* dst = &reduced[static_cast<size_t>(y) * rowBytes];
      for (size_t i = 0; i < rowBytes; ++i) dst[i] = static_cast<uint8_t>(sums[i] / area);
    }
    _P2IIMG small{};
    small.pImageData = reduced.get();
    small.nBitsPerPixel = 24;
    small.nWidth = width, small.nHeight = height;
    small.nBytesPerLine = static_cast<int32_t>(rowBytes);
    small.nImageSize = static_cast<int32_t>(rowBytes * static_cast<size_t>(height));
    small.nXResolution = page->nXResolution / f, small.nYResolution = page->nYResolution / f;
    small.nLeft = page->nLeft, small.nTop = page->nTop;
    small.nRight = width - 1, small.nBottom = height - 1;
    int threshold, blockSize;
    p2idepth::LevelParameters(*level, &threshold, &blockSize);
    return p2idepth::img_best_is_color(&small, blockSize, threshold);
  } catch (...) {
    return P2I_ERR_OUTOFMEMORY;
  }
}

int GetDocBestDepth(FSIP_S_IMAGEINFO_EX* input, FSIP_DCM_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX*,
                    FSIP_DCM_S_OUTPARAM* outParam) {
  using fsipctl::kSrcDCM;
  auto fail = [](int result, int number, const char* text) {
    if (g_bLogProc) fsipctl::OutputLog(kSrcDCM, number, text);
    return result;
  };
  try {
    if (!input) return fail(FSIP_C_ERR_PARAMETER, 240, "Error GetDocBestDepth() PARAMETER");
    if (!input->pImageData) return fail(FSIP_C_ERR_PARAMETER, 245, "Error GetDocBestDepth() PARAMETER");
    if (input->nPixelType != 2) return fail(FSIP_C_ERR_PIXELTYPE, 250, "Error GetDocBestDepth() PIXELTYPE");
    if (input->nDepth != 24) return fail(FSIP_C_ERR_PARAMETER, 255, "Error GetDocBestDepth() PARAMETER nDepth");
    if (input->nColorSeq != 1) return fail(FSIP_C_ERR_PARAMETER, 260, "Error GetDocBestDepth() PARAMETER nColorSeq");
    if (input->Rect.nXOffset || input->Rect.nYOffset || input->Rect.nWidth || input->Rect.nHeight)
      return fail(FSIP_C_ERR_PARAMETER, 268, "Error GetDocBestDepth() PARAMETER Rect");
    if (!inParam) return fail(FSIP_C_ERR_PARAMETER, 273, "Error GetDocBestDepth() PARAMETER");
    // The verdict has nowhere to go.
    if (!outParam) return fail(FSIP_C_ERR_PARAMETER, 278, "Error GetDocBestDepth() PARAMETER");
    _P2IIMG page{};
    page.pImageData = input->pImageData;
    page.nBitsPerPixel = 24;
    page.nWidth = input->nWidth, page.nHeight = input->nHeight;
    page.nBytesPerLine = input->nBytesPerLine, page.nImageSize = input->nImageSize;
    page.nXResolution = input->nXResolution, page.nYResolution = input->nYResolution;
    page.nRight = input->nWidth - 1, page.nBottom = input->nHeight - 1;
    int level = 0;
    switch (P2iGetBestDepth(&page, &level, nullptr, nullptr)) {
      case 24:
        outParam->nResult = 0;
        if (g_bLogProc) fsipctl::OutputLog(kSrcDCM, 326, "FSIP_C_DCM:Color!!");
        return FSIP_C_ERR_NOERROR;
      case 1:
        outParam->nResult = 1;
        if (g_bLogProc) fsipctl::OutputLog(kSrcDCM, 334, "FSIP_C_DCM:Mono!!");
        return FSIP_C_ERR_NOERROR;
      case P2I_ERR_PARAMETER:
        return fail(FSIP_C_ERR_PARAMETER, 340, "Error GetDocBestDepth() PARAMETER");
      case P2I_ERR_OUTOFMEMORY:
        return fail(FSIP_C_ERR_OUTOFMEMORY, 345, "Error GetDocBestDepth() OUTOFMEMORY");
      case P2I_ERR_PIXELTYPE:
        return fail(FSIP_C_ERR_PIXELTYPE, 350, "Error GetDocBestDepth() PIXELTYPE");
      default:
        return fail(FSIP_C_ERR_UNEXPECTED_ERROR, 354, "Error GetDocBestDepth() UNEXPECTED");
    }
  } catch (...) {
    return FSIP_C_ERR_UNEXPECTED_ERROR;
  }
}
