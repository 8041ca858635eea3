// The automatic tone table: highlight, shadow and gamma measured from the
// page's histograms, then the tone curve.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "log.h"
#include "prop_info.h"
#include "selko2_pipeline.h"

namespace {

struct ChannelPoints {
  int lowest = 0, highest = 0;
  int low = 0, middle = 0, high = 0;
};

ChannelPoints Measure(const uint64_t* count, uint64_t total, const Zu_ALut_ctl& ctl) {
  double L[256], T = 0;
  for (int v = 0; v < 256; ++v) {
    L[v] = count[v] ? std::log10(static_cast<double>(count[v])) : 0.0;
    T += L[v];
  }
  ChannelPoints p;
  uint64_t running = 0;
  double runningL = 0;
  bool seen = false;
  int stage = 0;  // looking for the low, middle, high point
  for (int v = 0; v < 256; ++v) {
    running += count[v];
    runningL += L[v];
    if (!seen) {
      if (!count[v]) continue;
      seen = true;
      p.lowest = v;
    } else if (T > 0) {  // a page of single pixels per level has no weight to share out
      const double percent = 100.0 * runningL / T;
      if (stage == 0 && percent >= ctl.dLowPercent) {
        p.low = v;
        stage = 1;
      } else if (stage == 1 && percent >= ctl.dMiddlePercent) {
        p.middle = v;
        stage = 2;
      } else if (stage == 2 && percent >= ctl.dHighPercent) {
        p.high = v;
        stage = 3;
      }
    }
    if (running >= total) {
      p.highest = v;
      break;
    }
  }
  return p;
}

// Whether the 48 bytes at p are one pixel sixteen times: every byte
// equals the one three further on.
bool SixteenAlike(const unsigned char* p) {
#if defined(__SSE2__)
  auto same = [p](int at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + 3));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) == 0xFFFF;
  };
  return same(0) && same(16) && same(29);
#else
  return memcmp(p, p + 3, 45) == 0;
#endif
}

}  // namespace

void CountLevels(const unsigned char* p, uint64_t pixels, int channels, uint64_t (*hist)[256]) {
  // Neighbouring pixels of a page mostly share their levels: counted into
  // two tables taken in turn, one count need not wait for the last; and a
  // run of sixteen pixels alike, as paper is, is counted at once.
  uint64_t odd[3][256] = {};
  uint64_t i = 0;
  if (channels == 3) {
    for (; i + 16 <= pixels; i += 16, p += 48) {
      if (SixteenAlike(p)) {
        hist[0][p[0]] += 16, hist[1][p[1]] += 16, hist[2][p[2]] += 16;
        continue;
      }
      for (const unsigned char* q = p; q < p + 48; q += 6) {
        ++hist[0][q[0]], ++hist[1][q[1]], ++hist[2][q[2]];
        ++odd[0][q[3]], ++odd[1][q[4]], ++odd[2][q[5]];
      }
    }
    for (; i < pixels; ++i, p += 3) ++hist[0][p[0]], ++hist[1][p[1]], ++hist[2][p[2]];
  } else {
    for (; i + 2 <= pixels; i += 2) ++hist[0][p[i]], ++odd[0][p[i + 1]];
    if (i < pixels) ++hist[0][p[i]];
  }
  for (int ch = 0; ch < 3; ++ch)
    for (int v = 0; v < 256; ++v) hist[ch][v] += odd[ch][v];
}

void CSelko2PagePipeline::SetupAutoLutParams(Zu_ALut_ctl* pstCtl, bool bHalftone, bool bHalftone2, bool bSdtc) {
  CLogScope scope("CSelko2ScanFunc::SetupAutoLutParams");
  if (!pstCtl) return;
  if (bHalftone || bHalftone2) {
    pstCtl->dHighPercent = 95, pstCtl->dMiddlePercent = 70, pstCtl->dLowPercent = 5;
    pstCtl->dHighlightTarget = 245, pstCtl->dGammaBase = 1.8, pstCtl->dShadowTarget = 5;
  } else if (bSdtc) {
    pstCtl->dHighPercent = 90, pstCtl->dMiddlePercent = 65, pstCtl->dLowPercent = 5;
    pstCtl->dHighlightTarget = 240, pstCtl->dGammaBase = 1.35, pstCtl->dShadowTarget = 20;
  } else {
    pstCtl->dHighPercent = 85, pstCtl->dMiddlePercent = 60, pstCtl->dLowPercent = 5;
    pstCtl->dHighlightTarget = 215, pstCtl->dGammaBase = 1.9, pstCtl->dShadowTarget = 15;
  }
}

int CSelko2PagePipeline::Zu_do_ALUT(const I3ipImageInfo* pstImage, const Zu_ALut_ctl* pstCtl,
                                    const I3ipImageInfo* /*pstImage2*/, Zu_ALut_out* pstOut) {
  const char kFunction[] = "CSelko2ScanFunc::Zu_do_ALUT";
  CLogScope scope(kFunction);
  if (!pstImage || !pstCtl || !pstOut || !pstImage->Data || (pstImage->Bpp != 24 && pstImage->Bpp != 8)) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "invalid image");
    return -2;
  }
  const int channels = pstImage->Bpp / 8;
  const uint64_t N = static_cast<uint64_t>(pstImage->Width) * pstImage->Height;
  uint64_t hist[3][256] = {};
  CountLevels(pstImage->Data, pstImage->DataSize / channels, channels, hist);

  const Zu_ALut_ctl& ctl = *pstCtl;
  *pstOut = Zu_ALut_out{};
  for (int v = 0; v < 256; ++v) {
    if (hist[0][v] == N) {  // one level: the profile's targets
      pstOut->iHighlight = static_cast<int32_t>(ctl.dHighlightTarget);
      pstOut->iShadow = static_cast<int32_t>(ctl.dShadowTarget);
      pstOut->dGamma = ctl.dGammaBase;
      pstOut->iHighestLevel = pstOut->iLowestLevel = v;
      return 0;
    }
  }

  ChannelPoints c[3];
  for (int ch = 0; ch < channels; ++ch) c[ch] = Measure(hist[ch], N, ctl);
  int highest = 0, lowest = 255, R = 0, O = 255;
  double hm = 0, mm = 0, lm = 0;
  for (int ch = 0; ch < channels; ++ch) {
    highest = std::max(highest, c[ch].highest);
    lowest = std::min(lowest, c[ch].lowest);
    R = std::max(R, c[ch].high);
    O = std::min(O, c[ch].low);
    hm += c[ch].high;
    mm += c[ch].middle;
    lm += c[ch].low;
  }
  hm /= channels, mm /= channels, lm /= channels;

  const double ht = ctl.dHighlightTarget, st = ctl.dShadowTarget;
  pstOut->iHighlight = std::min(static_cast<int32_t>(0.5 * (R - ht) + ht + 0.5), 255);
  pstOut->iShadow = std::max(static_cast<int32_t>(0.5 * (O - st) + st + 0.5), 0);
  // High and low points that coincide give no spread to measure: keep the
  // profile's gamma.
  double gamma = ctl.dGammaBase;
  if (hm != lm) gamma = ctl.dGammaBase - 3 * ((mm - lm) / (hm - lm) - 0.65);
  pstOut->dGamma = std::max(gamma, 0.5);
  pstOut->iHighestLevel = highest;
  pstOut->iLowestLevel = lowest;
  return 0;
}

int CSelko2PagePipeline::I3ipIpunitProcess_AutoLUT(int iMode, const I3ipImageInfo* pstI3ipImageInfo,
                                                   unsigned char* pbyLUT) {
  const char kFunction[] = "CSelko2ScanFunc::I3ipIpunitProcess_AutoLUT";
  CLogScope scope(kFunction);
  if (!pstI3ipImageInfo) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "pstI3ipImageInfo == NULL");
    return -2;
  }
  KELO_PROP_INFO& p = g_PropInfo;
  const bool lineArt = iMode == 0;
  const bool sdtc = lineArt && p.BW_MODE == 1;
  const bool threshold = lineArt && p.BW_MODE == 2;
  const bool halftone = lineArt && p.BW_MODE == 3;
  char* msg = SetMessage();
  snprintf(msg, 4096, "func_name: Threshold=%d SDTC_mode=%d Halftone_mode=%d Errdif_mode=%d", threshold, sdtc, halftone,
           halftone);
  WriteLog(LOG_LEVEL_DEBUG, kFunction, msg);

  if (threshold) {
    p.BRIGHTNESS = 0, p.CONTRAST = 0, p.SHADOW = 0, p.HIGHLIGHT = 255, p.GAMMA = 1000;
  } else {
    Zu_ALut_ctl ctl{};
    ctl.dAcceptLimit = 1.0;
    ctl.iMode = 2;
    SetupAutoLutParams(&ctl, halftone, halftone, sdtc);
    Zu_ALut_out out{};
    const int rc = Zu_do_ALUT(pstI3ipImageInfo, &ctl, nullptr, &out);
    if (rc != 0) {
      WriteLog(LOG_LEVEL_ERROR, kFunction, "iRet != 0");
      return rc;
    }
    p.SHADOW = static_cast<unsigned char>(out.iShadow);
    p.HIGHLIGHT = static_cast<unsigned char>(out.iHighlight);
    p.BRIGHTNESS = 0;
    p.CONTRAST = 0;
    // A steep measurement must not wrap the 16-bit field; the curve reads
    // at most 9999 anyway.
    p.GAMMA = static_cast<unsigned short>(std::min(out.dGamma * 1000 + 0.5, 10000.0));
  }
  msg = SetMessage();
  snprintf(msg, 4096, "parameters: SHADOW=%d HIGHLIGHT=%d BRGHTNESS=%d CONTRAST=%d GAMMA=%d", p.SHADOW, p.HIGHLIGHT, 0,
           0, p.GAMMA);
  WriteLog(LOG_LEVEL_DEBUG, kFunction, msg);
  ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, p.HIGHLIGHT, p.SHADOW, p.GAMMA, pbyLUT);
  return 0;
}
