// The third blank-page judge: the edge count with zone thresholds and an
// allowance scaled to the page, a count of faint details for the caller's
// not-white-paper index, and a global threshold with labelling so that only
// dark patches of at least 8 x 8 mm make a page non-blank.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "abitmap.h"
#include "dravn_export.h"
#include "fsipctl_internal.h"
#include "judge_internal.h"

using judges::Area;
using judges::WorkImage;

namespace p2ijdgwp {

namespace {

const char kLog[] = "P2IJDGWP.log";
constexpr int kTopContrast = 45;  // the largest threshold: no count goes above it

// Dumps are numbered per process, so that a run's files stay apart.
int g_nDbgImgNo = 0;
int g_nOtsuImgNo = 0;

std::string PnmHeader(const char* magic, int width, int height, int maxValue) {
  char text[64];
  snprintf(text, sizeof text, "%s\n%d %d\n%d\n", magic, width, height, maxValue);
  return text;
}

// Inside the margin distance of an edge of the examined area, or in its
// middle band.
bool InZone(int at, int size, int margin) {
  return at < margin || at >= size - margin || (at >= (size - margin) / 2 && at < (size + margin) / 2);
}

struct Count {
  bool zonesEverywhere;
  int indexTop;  // index gets the histogram values 15..indexTop
};

int Uragami(const WorkImage& w, int countFactor, double factor, unsigned* index, const Count& form) {
  const judges::Switches sw = judges::ReadSwitches(false);
  judges::JudgeLog(kLog, "----- P2IJDGWP start-----\n");
  const int s = judges::NeighbourDistance(w.xres, factor);
  const Area a = judges::ExaminedArea(w, s);
  if (a.Empty()) return 0;

  // The debug copy serves only the dump and the marks; the form without a
  // caller makes it for the marks alone.
  const bool thirdJudge = !form.zonesEverywhere;
  std::vector<uint8_t> debug;
  if (sw.procLog || (thirdJudge && sw.saveBitmap)) {
    try {
      debug.resize(static_cast<size_t>(w.width) * static_cast<size_t>(w.height) * 3);
    } catch (const std::bad_alloc&) {
      if (!thirdJudge) judges::JudgeLog(kLog, "----- malloc error-----\n");
      return P2I_ERR_OUTOFMEMORY;
    }
    for (int y = 0; y < w.height; ++y)
      for (int x = 0; x < w.width; ++x)
        std::fill_n(&debug[(static_cast<size_t>(y) * w.width + x) * 3], 3, w.origin[y * w.bpl + x]);
  }
  auto dumpDebug = [&] {
    if (!sw.saveBitmap || debug.empty()) return;
    char name[32];
    snprintf(name, sizeof name, "dbgImg%03d.pnm", g_nDbgImgNo++);
    judges::WriteDumpFile(name, PnmHeader("P6", w.width, w.height, 255), debug.data(), debug.size());
  };

  // The global threshold and the map of dark pixels, for the labelling.
  int threshold = 0;
  const int aw = a.Width(), ah = a.Height(), mapBpl = (aw + 7) / 8;
  std::vector<uint8_t> map;
  if (thirdJudge) {
    if (img_slice_make(w, a, &threshold) != 1) return P2I_ERR_PARAMETER;
    try {
      map.assign(static_cast<size_t>(mapBpl) * static_cast<size_t>(ah), 0);
    } catch (const std::bad_alloc&) {
      return P2I_ERR_OUTOFMEMORY;
    }
    const int dark = std::max(190, std::min(threshold, 210));
    for (int y = 0; y < ah; ++y) {
      const uint8_t* src = w.origin + (a.sy + y) * w.bpl + a.sx;
      uint8_t* dst = &map[static_cast<size_t>(y) * mapBpl];
      for (int x = 0; x < aw; ++x)
        if (src[x] <= dark) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    if (sw.saveBitmap) {
      char name[40];
      snprintf(name, sizeof name, "p2ijdgwp_OtsuImg%d.pnm", g_nOtsuImgNo++);
      judges::WriteDumpFile(name, PnmHeader("P4", aw, ah, 1), map.data(), map.size());
    }
  }

  const bool small = static_cast<int>(w.width * 25.4 / w.xres) < 89 || static_cast<int>(w.height * 25.4 / w.yres) < 89;
  const bool zones = form.zonesEverywhere || small;
  const int d = w.xres / 25, step = d / 2 + 1;
  const int base = countFactor * d / step;
  const double a4 = (static_cast<int>(w.xres * 210 / 25.4) + 1.0) * (static_cast<int>(w.yres * 297 / 25.4) + 1.0);
  const int start = static_cast<int>(static_cast<double>(base) * w.width * w.height / a4);
  int allowance = start;
  int histogram[kTopContrast + 1] = {};
  for (int y = a.sy; y <= a.ey; y += step) {
    const bool rowZone = zones && InZone(y - a.sy, ah, a.my);
    const uint8_t* row = w.origin + y * w.bpl;
    for (int x = a.sx; x <= a.ex; x += step) {
      const int limit = rowZone || (zones && InZone(x - a.sx, aw, a.mx)) ? 45 : 30;
      const int c = judges::Contrast(row + x, w.bpl, s);
      if (c > limit) {
        if (--allowance < 0) {
          dumpDebug();
          return 0;
        }
      } else if (c > (limit == 45 ? 30 : 15)) {
        ++histogram[c];
        if (sw.procLog) {
          uint8_t* p = &debug[(static_cast<size_t>(y) * w.width + x) * 3];
          p[0] = 255, p[1] = 0, p[2] = 0;
        }
      }
    }
  }
  if ((small || !thirdJudge) && index) {
    for (int v = 15; v <= form.indexTop; ++v) {
      judges::JudgeLog(kLog, "underThPix[%d] : %d\n", v, histogram[v]);
      *index += static_cast<unsigned>(histogram[v]);
    }
    judges::JudgeLog(kLog, "\n*pDwNotWPIndex => %ld\n", static_cast<long>(*index));
    judges::JudgeLog(kLog, "count2 => %d\n", start);
    if (*index < static_cast<unsigned>(std::max(start, 0))) {
      *index = 0;
      judges::JudgeLog(kLog, "(*pDwNotWPIndex < count2) => (*pDwNotWPIndex = 0)\n");
    }
  }
  if (!thirdJudge || threshold < 129) return 1;

  LBL_DATA labels{};
  if (img_mono2label(map.data(), mapBpl, aw, ah, 0, 0, aw - 1, ah - 1, &labels) < 0) {
    img_mono2label_free(&labels);
    return P2I_ERR_OUTOFMEMORY;
  }
  const int sealWidth = static_cast<int>(8 * w.xres / 25.4), sealHeight = static_cast<int>(8 * w.yres / 25.4);
  judges::JudgeLog(kLog, "//------------------------------------------------//\n");
  judges::JudgeLog(kLog, "nSealImpWidth  : %d\n", sealWidth);
  judges::JudgeLog(kLog, "nSealImpHeight : %d\n", sealHeight);
  judges::JudgeLog(kLog, "//------------------------------------------------//\n");
  int verdict = 1;
  for (int64_t n = 1; n <= labels.maxlabel; ++n) {
    const KRECT& r = labels.rects[n];
    const int width = r.xmax - r.xmin, height = r.ymax - r.ymin;
    judges::JudgeLog(kLog, "lblNo. : %d\n", static_cast<int>(n));
    judges::JudgeLog(kLog, "\tnRectWidth  : %d\n", width);
    judges::JudgeLog(kLog, "\tnRectHeight : %d\n", height);
    if (width >= sealWidth && height >= sealHeight) {
      judges::JudgeLog(kLog, "------> NOT_NOISE\n\n");
      verdict = 0;
      break;
    }
    judges::JudgeLog(kLog, "------> NOISE\n\n");
  }
  img_mono2label_free(&labels);
  return verdict;
}

}  // namespace

void img_hist_make(const WorkImage& w, const Area& a, double bins[256]) {
  std::fill_n(bins, 256, 0.0);
  for (int y = a.sy; y <= a.ey; y += 4) {
    const uint8_t* row = w.origin + y * w.bpl;
    for (int x = a.sx; x <= a.ex; x += 4) bins[row[x]] += 1;
  }
  const double total = static_cast<double>((a.Width() + 3) / 4) * ((a.Height() + 3) / 4);
  for (int t = 0; t < 256; ++t) bins[t] = bins[t] * 100.0 / total;
}

int img_hist_bw(const double bins[256]) {
  int best = 10;
  double bestCost = -1;
  for (int c = 10; c <= 239; ++c) {
    const int low = c / 2, high = c + (255 - c) / 2;
    double cost = 0;
    for (int t = 0; t < 256; ++t) {
      if (bins[t] == 0) continue;
      const int off = t - (t < c ? low : high);
      cost += bins[t] * off * off;
    }
    if (bestCost < 0 || cost < bestCost) bestCost = cost, best = c;
  }
  return best;
}

int img_slice_make(const WorkImage& w, const Area& a, int* threshold) {
  if (a.Empty()) return 0;
  double bins[256];
  img_hist_make(w, a, bins);
  *threshold = img_hist_bw(bins);
  return 1;
}

int img_gray2mono_imgall_uragami2(const WorkImage& w, int countFactor, double factor, unsigned* index) {
  return Uragami(w, countFactor, factor, index, {false, kTopContrast});
}

int img_gray2mono_imgall_uragami(const WorkImage& w, int countFactor, double factor, unsigned* index) {
  return Uragami(w, countFactor, factor, index, {true, 30});
}

}  // namespace p2ijdgwp

namespace {

int P2iJugWhitePaper3_Main(_P2IIMG* page, int* level, _P2IIMG*, int*, P2IJDGWP_OPTION* option, unsigned* index) {
  if (!page || !level) return P2I_ERR_PARAMETER;
  if (page->nBitsPerPixel != 8) return P2I_ERR_PIXELTYPE;
  if (judges::ReadSwitches(false).saveBitmap) P2iBmp(page);
  if (page->nXResolution < -24) return P2I_ERR_PIXELTYPE;
  WorkImage work;
  const int rc = judges::RegionOf(*page, 1, &work);
  if (rc != 0) return rc;
  int countFactor;
  switch (*level) {  // the edge thresholds of this table give way to the zone thresholds
    case 2:
      countFactor = 30;
      break;
    case -1:
    case -2:
      countFactor = 20;
      break;
    default:
      countFactor = 24;
      break;
  }
  const double factor = option && option->nDoubleDistance ? 2.0 : 1.0;
  return p2ijdgwp::img_gray2mono_imgall_uragami2(work, countFactor, factor, index);
}

}  // namespace

DRAVN_C_EXPORT int P2iJugWhitePaper3(_P2IIMG* page, int* level, _P2IIMG* other, int* otherValue,
                                     P2IJDGWP_OPTION* option, unsigned* index) {
  try {
    if (!page || !level) return P2I_ERR_PARAMETER;
    if (page->nBitsPerPixel != 8) return P2I_ERR_PIXELTYPE;
    if (page->nXResolution < 600) return P2iJugWhitePaper3_Main(page, level, other, otherValue, option, index);
    // At 600 dpi and above the judge looks at a quarter-size page.
    WorkImage whole;
    _P2IIMG all = *page;
    all.nLeft = all.nTop = 0;
    all.nRight = page->nWidth - 1, all.nBottom = page->nHeight - 1;
    if (judges::RegionOf(all, 1, &whole) != 0) return P2I_ERR_PARAMETER;
    const int width = page->nWidth / 4, height = page->nHeight / 4;
    std::unique_ptr<uint8_t[]> reduced(new (std::nothrow) uint8_t[static_cast<size_t>(width) * height + 1]);
    if (!reduced) return P2I_ERR_OUTOFMEMORY;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        unsigned sum = 0;
        for (int j = 0; j < 4; ++j) {
          const uint8_t* p = whole.origin + (4 * y + j) * whole.bpl + 4 * x;
          sum += p[0] + p[1] + p[2] + p[3];
        }
        reduced[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(sum >> 4);
      }
    }
    _P2IIMG small{};
    small.pImageData = reduced.get();
    small.nBitsPerPixel = 8;
    small.nWidth = width, small.nHeight = height;
    small.nBytesPerLine = width;
    small.nImageSize = width * height;
    small.nXResolution = page->nXResolution / 4, small.nYResolution = page->nYResolution / 4;
    small.nRight = width - 1, small.nBottom = height - 1;
    return P2iJugWhitePaper3_Main(&small, level, other, otherValue, option, index);
  } catch (...) {
    return P2I_ERR_OUTOFMEMORY;
  }
}
