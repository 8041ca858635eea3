#include "analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "filters.h"
#include "i3ip_share.h"
#include "self_binarizer.h"
#include "unit_log.h"

namespace {

// The second-order low-pass both analyses smooth their histograms with.
constexpr double kLowB[3] = {0.131106439916626, 0.262212879833252, 0.131106439916626};
constexpr double kLowA[3] = {1, -0.747789178258503, 0.272214937925007};

void Smooth(const double* in, double* out, int n) {
  if (DigfiltfilterF(in, out, n, kLowA, kLowB, 3) != 0) std::copy(in, in + n, out);
  for (int i = 0; i < n; ++i)
    if (out[i] < 1) out[i] = 0;
}

// ---------------------------------------------------------------- noise --

constexpr int kNoiseBins = 133, kQualityBins = 128, kBlock = 20;

struct NoiseHist {
  double count[kNoiseBins] = {};
  double sumD[kNoiseBins] = {};
  int bestX = 0, bestY = 0;
};

// Quality per 20 x 20 block: the page's energy against its difference from
// a twice median-smoothed copy, in tenths of a decibel over 4.5.
bool BlockQualities(const uint8_t* page, int h, int w, NoiseHist& hist) {
  if (h - 25 <= 4 || w - 25 <= 4) return true;
  std::vector<uint8_t> once, twice;
  try {
    once.assign(page, page + size_t(h) * w);
    twice = once;
  } catch (const std::bad_alloc&) {
    return false;
  }
  const IppiSize roi{w - 4, h - 4};
  const size_t at = size_t(2) * w + 2;
  const auto median = g_i3ipShare.FilterMedian_8u_C1R;
  if (!median || median(page + at, w, once.data() + at, w, roi, IppiSize{5, 5}, IppiPoint{2, 2}) != 0 ||
      median(once.data() + at, w, twice.data() + at, w, roi, IppiSize{5, 5}, IppiPoint{2, 2}) != 0)
    return false;
  int best = -1;
  for (int y0 = 4; y0 < h - 25; y0 += kBlock)
    for (int x0 = 4; x0 < w - 25; x0 += kBlock) {
      double s = 0, d = 0;
      for (int y = y0; y < y0 + kBlock; ++y) {
        const uint8_t* p = page + size_t(y) * w + x0;
        const uint8_t* r = twice.data() + size_t(y) * w + x0;
        for (int x = 0; x < kBlock; ++x) {
          s += double(p[x]) * p[x];
          d += double(int(p[x]) - r[x]) * (int(p[x]) - r[x]);
        }
      }
      if (d == 0) d = 1e-10;
      if (s == 0) continue;
      const int q = int(45 * std::log10(s / d));
      if (q > best) best = q, hist.bestX = x0, hist.bestY = y0;
      if (q < 10) continue;
      const int bin = std::min(q, kQualityBins - 1);
      hist.count[bin] += 1;
      hist.sumD[bin] += d;
    }
  return true;
}

struct NoiseDecision {
  int type = 0, adjust = 0;
};

NoiseDecision FromLevel(int level) {
  if (level >= 118) return {0, 0};
  if (level >= 100) return {1, level - 118};
  if (level >= 85) return {2, level - 85};
  if (level >= 70) return {3, level - 70};
  return {4, std::max(level - 70, -20)};
}

NoiseDecision Decide(const NoiseHist& hist, const double* S, int* flat) {
  const double* raw = hist.count;
  int pk = 0, v = 0;
  double total = 0;
  for (int i = 0; i < kNoiseBins; ++i) {
    total += S[i];
    if (S[i] > S[pk]) pk = i;
    if (raw[i] > raw[v]) v = i;
  }
  const double P = S[pk], C = raw[v];
  int top = 0;
  for (int i = kNoiseBins - 1; i >= 0; --i)
    if (raw[i] > 0.005 * C) {
      top = i;
      break;
    }
  int above = 0;
  for (int i = 0; i <= 117; ++i) above += S[i] > 0.15 * P;
  *flat = above >= 3 ? 0 : 1;

  // Turning points whose step, or the step before it, is more than noise.
  std::vector<int> peaks;
  const double limit = 0.005 * C;
  for (int i = 1; i <= 131; ++i) {
    const double rise = S[i] - S[i - 1], next = S[i + 1] - S[i], before = i >= 2 ? S[i - 1] - S[i - 2] : 0;
    if (rise > 0 && next <= 0 && (std::fabs(rise) > limit || std::fabs(before) > limit)) peaks.push_back(i);
  }
  if (std::none_of(peaks.begin(), peaks.end(), [v](int p) { return std::abs(p - v) <= 3; })) peaks.push_back(v);
  std::sort(peaks.begin(), peaks.end());

  // Where the curve first drops below `level` walking from `from` by `step`;
  // `dflt` when it never does.
  auto fall = [&](int from, int step, double level, int dflt) {
    for (int i = from; i >= 0 && i < kNoiseBins; i += step)
      if (S[i] < level) return i;
    return dflt;
  };

  int second = -1;
  if (peaks.size() >= 2 && pk < 130) {
    const int last = peaks.back(), lo = std::min(pk, last), hi = std::max(pk, last);
    int valley = lo;
    for (int i = lo; i <= hi; ++i)
      if (S[i] < S[valley]) valley = i;
    if (S[valley] < 0.2 * C) {
      for (int p : peaks)
        if (p != pk && p >= valley && (S[p] > 0.25 * C || p > pk) && (second < 0 || S[p] > S[second])) second = p;
    } else {
      const int left = fall(pk, -1, 0.2 * C, 0);
      for (int p : peaks)
        if (p != pk && p <= left && S[p] > 0.25 * C && (second < 0 || S[p] > S[second])) second = p;
    }
  }
  const bool twoPeaks = second >= 0;
  const int e = twoPeaks ? std::min(pk, second) : pk, o = twoPeaks ? std::max(pk, second) : pk;
  const int FL = fall(pk, -1, 0.2 * C, pk), FR = fall(pk, 1, 0.2 * C, pk);
  const int f = fall(e, -1, 0.2 * P, 0), g2 = fall(e, 1, 0.2 * P, kNoiseBins - 1);
  const int W = g2 - f;
  double V = 0;
  for (int i = f; i <= g2; ++i) V += S[i];
  const int F0 = fall(e, 1, 0.2 * S[e], kNoiseBins - 1);

  bool wideValley = false;
  int chosen = o;
  double U = 1;
  if (twoPeaks) {
    int low = 0;
    for (int i = e + 1; i < o; ++i) low += S[i] < 0.1 * P;
    wideValley = low > (o - e) / 2;
    chosen = S[e] > 0.6 * S[o] ? e : o;
    const double big = std::max(S[e], S[o]);
    U = big > 0 ? std::min(S[e], S[o]) / big : 1;
  }
  const int energyBin = chosen >= 1 && raw[chosen - 1] > raw[chosen] ? chosen - 1 : chosen;
  const bool E = raw[energyBin] > 0 && hist.sumD[energyBin] / raw[energyBin] > 10000;
  const bool E117 = E && o > 117;

  auto wide = [&]() {
    const double h = total > 0 ? (V / total - 0.5) * W * 2 : 0;
    NoiseDecision d = FromLevel((F0 + 254) / 3);
    const double strength = -h * d.type;
    d.adjust = strength < -61 ? -30 : std::min(0, int(strength / 2));
    return d;
  };
  const NoiseDecision none{0, 0};
  const int L = (o + top) / 2;
  if (V > total / 2 && o > 109 && e <= 107 && W > 25 && wideValley) return wide();
  if (!twoPeaks) return v <= 99 ? wide() : none;
  if (v < 100 && U < 0.2) return wide();
  if (o + top <= 235) return (E && U > 0.2) || (U <= 0.2 && E117) ? FromLevel(L) : none;
  if (std::abs(o - pk) > 5 && o + top > 237 && FR - FL > 15 && S[o] < 0.5 * P && E) return FromLevel((top + 2 * v) / 3);
  return U <= 0.2 && E117 ? FromLevel(L) : none;
}

// ------------------------------------------------------------ background --

int Clamp(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

struct IsoFeet {
  int xx1 = 0, xx2 = 0, xx1Fg = 0, xx2Fg = 0, peakFg = 0, zeroXp = 0;
};

// The foot of the isolated-point peak: where the curve flattens (XX1, moved
// to where the line from the peak through it meets zero) and where it has
// died out (XX2), with flags for what lies beyond.
IsoFeet AnalyisolatedHist(const int* h, int isoMax, int isoXp, int txtXp, int pointFg) {
  IsoFeet r;
  const int g5 = std::max(1, int(0.05 * isoMax));
  const int d = std::abs(txtXp - isoXp);
  const int end1 = std::min(kAdvBins, isoXp - (pointFg == 1 ? 0 : std::min(d, 3)) + 10);
  r.xx1 = -1;
  for (int i = isoXp + 1; i < end1 && i + 1 < kAdvBins; ++i)
    if (std::abs(h[i] - h[i - 1]) <= g5 && std::abs(h[i + 1] - h[i]) <= g5) {
      r.xx1 = i;
      break;
    }
  if (r.xx1 >= 0 && isoMax > h[r.xx1]) {
    r.xx1 = isoXp + (r.xx1 - isoXp) * isoMax / (isoMax - h[r.xx1]);
    r.xx1Fg = 1;
  }
  if (r.xx1 < 0 || r.xx1 >= kAdvBins || !r.xx1Fg) r.xx1 = isoXp, r.xx1Fg = 0;
  const int end2 = std::min(kAdvBins, isoXp + 20 - (pointFg == 1 ? 0 : std::min(d, 10)));
  r.xx2 = r.xx1;
  for (int i = r.xx1 + 1; i < end2 && i + 1 < kAdvBins; ++i)
    if (h[i] <= g5 && h[i + 1] <= g5) {
      r.xx2 = i, r.xx2Fg = 1;
      break;
    }
  const int rise = std::max(2, int(0.002 * isoMax));
  int big = 0, zeros = 0;
  for (int i = r.xx1 + 1; i < kAdvBins; ++i) {
    if (h[i] > g5) {
      if (h[i] - h[i - 1] > rise || ++big >= 3) r.peakFg |= 1;
    }
    zeros = h[i] == 0 ? zeros + 1 : 0;
    if (zeros == 4 && !r.zeroXp) r.zeroXp = i;
  }
  bool allZero = true;
  for (int i = r.xx2 + 5; i < kAdvBins; ++i) allZero &= h[i] == 0;
  if (allZero) r.peakFg |= 0x20;
  int I = 0, J = 0;
  for (int i = r.xx2 + 1; i < kAdvBins; ++i)
    if (h[i] > 0.002 * isoMax) ++I, J = i;
  if ((J - r.xx2) * 2 / 3 < I && J > 39 && I > 20) r.peakFg |= int(0x80000000u);
  return r;
}

struct TextFeet {
  int xx1 = 0, xx2 = 0, flags = 0;
};

TextFeet AnalyTextHist(const int* h, int txtMax, int txtXp) {
  TextFeet r;
  r.xx1 = std::min(txtXp + 15, kAdvBins - 1);
  for (int i = txtXp + 1; i < std::min(kAdvBins, txtXp + 10) && i + 1 < kAdvBins; ++i)
    if (std::abs(h[i] - h[i - 1]) <= 0.05 * txtMax && std::abs(h[i + 1] - h[i]) <= 0.05 * txtMax) {
      r.xx1 = txtMax > h[i] ? std::min(txtXp + (i - txtXp) * txtMax / (txtMax - h[i]), txtXp + 15) : i;
      break;
    }
  r.xx2 = r.xx1;
  for (int i = txtXp + 1; i + 1 < kAdvBins; ++i)
    if (h[i] <= 0.02 * txtMax && h[i + 1] <= 0.02 * txtMax) {
      r.xx2 = i;
      break;
    }
  if (h[std::min(r.xx1, kAdvBins - 1)] < txtMax / 2) r.flags |= 1;
  for (int i = r.xx2 + 3; i < kAdvBins; ++i)
    if (h[i] != 0) r.flags |= 2;
  return r;
}

struct CorInput {
  IsoFeet iso;
  int isoXp, isoMax;
  TextFeet txt;
  int txtXp, txtMax, textPk;
};

// The background adjustment from the feet of both histograms.
int CreateAdvancedCorValue(const CorInput& in, int peakCount, const int* params, int level, int* results, int* code) {
  const IsoFeet& iso = in.iso;
  const TextFeet& txt = in.txt;
  int w = 0;
  *code = 0;
  if (std::abs(iso.xx2 - iso.xx1) <= 2) w |= 1, *code += 1;
  w |= txt.flags & 2;
  const bool near = std::abs(in.txtXp - in.isoXp) <= 2;
  if (near) w |= 4, *code += 2;
  if (txt.xx2 <= 26) w |= 8, *code += 4;
  if (txt.xx2 - txt.xx1 <= 9) w |= 16, *code += 8;
  if (results[1] < 0)
    w = 0, *code += 16;
  else if (iso.peakFg & 0x20)
    w |= 32;
  const bool main = peakCount == 1 && iso.xx1Fg == 1 && iso.xx2Fg == 1 && std::abs(txt.xx2 - iso.xx2) > 5 &&
                    (iso.peakFg & ~0x20) == 0 && w != 63;
  int B = -10;
  if (main) {
    const bool within5 = std::abs(in.txtXp - in.isoXp) <= 5;
    int F = 0;
    if (in.textPk == 1 && !within5) {
      if (2 * (in.txtXp - iso.xx1) < -2)
        *code += 160;
      else
        F = 2 * (in.txtXp - iso.xx1) / 3, *code += 96;
    } else if (in.textPk == 1) {
      if (2 * (txt.xx1 - iso.xx1) < -2)
        *code += 416;
      else
        F = 2 * (txt.xx1 - iso.xx1) / 3, *code += 160;
    } else if (in.textPk > 1 && within5 && (txt.flags & ~2) == 1) {
      F = 2 * (txt.xx1 - iso.xx1) / 3, *code += 544;
    } else {
      *code += 32;
    }
    B = (F + (iso.xx1 + 2 * iso.xx2) / 3 - 5) * 2;
    *code += 1024;
  }
  if (params[13] + 15 < B && (level & 1)) results[3] |= 1, *code += 2048;
  if (in.isoMax - 0.9 * in.txtMax > 0 && std::abs(in.isoXp - in.txtXp) <= 3 && main) B = iso.xx1 + 4, *code += 4096;
  const int adjust = Clamp(B, 0, 25);
  I3Log(I3LOG_TRACE, "iDTC BkAna LastJudge [Bk_AdjustValue=%d JudgeCode=%d]", adjust, *code);
  return adjust;
}

void LogHist(const char* what, const int* h) {
  for (int i = 0; i < kAdvBins; i += 8)
    I3Log(I3LOG_TRACE, what, i, h[i], h[i + 1], h[i + 2], h[i + 3], h[i + 4], h[i + 5], h[i + 6], h[i + 7]);
}

// Number of runs of non-zero bins from `from` on.
int NonZeroRuns(const int* h, int from) {
  int runs = 0;
  for (int i = std::max(from, 0); i < kAdvBins; ++i)
    if (h[i] != 0 && (i == from || h[i - 1] == 0)) ++runs;
  return runs;
}

}  // namespace

void ippiResizeFunction(const uint8_t* src, int height, int width, uint8_t* dst, int dstHeight, int dstWidth,
                        double factor) {
  if (!g_i3ipShare.ResizeSqrPixel_8u_C1R) return;
  g_i3ipShare.ResizeSqrPixel_8u_C1R(src, IppiSize{width, height}, width, IppiRect{0, 0, width, height}, dst, dstWidth,
                                    IppiRect{0, 0, dstWidth, dstHeight}, factor, factor, 0, 0, 1, nullptr);
}

int ImageNoiseFilterAnalyzeFunction(const uint8_t* page, int height, int width, int* out) {
  if (!page || height <= 0 || width <= 0) return -1;
  const double s = std::min(1.0, 640.0 / std::min(height, width));
  const int h = int(std::ceil(height * s)), w = int(std::ceil(width * s));
  std::vector<uint8_t> resized;
  const uint8_t* work = page;
  NoiseHist hist;
  try {
    if (s < 1) {
      resized.assign(size_t(h) * w, 0);
      ippiResizeFunction(page, height, width, resized.data(), h, w, s);
      work = resized.data();
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (!BlockQualities(work, h, w, hist)) return -1;
  double S[kNoiseBins];
  Smooth(hist.count, S, kNoiseBins);
  int flat = 1;
  const NoiseDecision d = Decide(hist, S, &flat);
  out[0] = flat;
  out[1] = d.adjust;
  out[2] = d.type;
  out[4] = int(hist.bestX / s);
  out[5] = int(hist.bestY / s);
  return 0;
}

namespace {

#if defined(__clang__)
#define EDGE_ROW_CLONES
#else
#define EDGE_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// One row's pixels [2, width - 2): the summed differences to the light-side
// neighbours (negative response) that differ by more than the threshold,
// and how many they are. Branch-free, so that it runs over whole vectors;
// the marks come from these counts afterwards.
EDGE_ROW_CLONES void EdgeSums(const int16_t* __restrict grey, const int16_t* __restrict log, int width, int threshold,
                              int32_t* __restrict sum, int32_t* __restrict pairs) {
  for (int x = 2; x < width - 2; ++x) sum[x] = 0, pairs[x] = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      if (!dx && !dy) continue;
      const int16_t* ng = grey + std::ptrdiff_t(dy) * width + dx;
      const int16_t* nl = log + std::ptrdiff_t(dy) * width + dx;
      for (int x = 2; x < width - 2; ++x) {
        const int diff = std::abs(int(grey[x]) - int(ng[x]));
        const bool take = nl[x] < 0 && diff > threshold;
        sum[x] += take ? diff : 0;
        pairs[x] += take ? 1 : 0;
      }
    }
}

}  // namespace

int CreateEdge2IppAdvanced(const int16_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height,
                           int width, int threshold) {
  std::memset(edge, 0, size_t(height) * width);
  std::memset(strength, 0, size_t(height) * width);
  if (height < 5 || width < 5) return 0;
  std::vector<int32_t> sum(static_cast<size_t>(width)), pairs(static_cast<size_t>(width));
  for (int y = 2; y < height - 2; ++y) {
    const size_t row = size_t(y) * width;
    EdgeSums(grey + row, log + row, width, threshold, sum.data(), pairs.data());
    // Only the dark side of a crossing is marked, so a lone speck shows as
    // one isolated point.
    for (int x = 2; x < width - 2; ++x)
      if (log[row + x] > 0 && pairs[size_t(x)])
        edge[row + x] = 1, strength[row + x] = uint8_t(std::min(sum[size_t(x)] / pairs[size_t(x)], 255));
  }
  return 0;
}

void GetHistAdvanced(const uint8_t* edge, const uint8_t* strength, int height, int width, int* textHist,
                     int* isoHist) {
  std::fill(textHist, textHist + kAdvBins, 0);
  std::fill(isoHist, isoHist + kAdvBins, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t at = size_t(y) * width + x;
      if (!edge[at]) continue;
      bool alone = true;
      for (int dy = -1; dy <= 1 && alone; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int yy = y + dy, xx = x + dx;
          if ((dx || dy) && yy >= 0 && yy < height && xx >= 0 && xx < width && edge[size_t(yy) * width + xx]) {
            alone = false;
            break;
          }
        }
      (alone ? isoHist : textHist)[strength[at] >> 2] += 1;
    }
}

void HistDeNoiseFilter(const int* h, int* out) {
  for (int i = 0; i < 7; ++i) out[i] = 0;
  out[7] = (6 * h[7] + h[8]) / 7;
  for (int i = 8; i < kAdvBins - 1; ++i) out[i] = (h[i - 1] + 6 * h[i] + h[i + 1]) / 8;
  out[63] = (6 * h[63] + h[62]) / 8;
}

int histFilter(const int* x, int* y, int* at) {
  for (int i = 0; i < 7; ++i) y[i] = 0;
  int px = x[7], py = x[7], best = x[7];
  *at = 7;
  for (int i = 7; i < kAdvBins; ++i) {
    y[i] = ((x[i] + px) * 204 + py * 614) / 1024;
    px = x[i], py = y[i];
    if (x[i] > best) best = x[i], *at = i;
  }
  return best;
}

int GethistpeackNu(const int* h, int ref, int* peaks, int* count, int* flag) {
  int d[kAdvBins - 1];
  for (int i = 0; i < kAdvBins - 1; ++i) d[i] = h[i + 1] - h[i];
  for (int i = kAdvBins - 3; i >= 0; --i)
    if (d[i] == 0) d[i] = d[i + 1];
  *count = 0, *flag = 0;
  for (int i = 0; i + 1 < kAdvBins - 1; ++i)
    if (d[i] > 0 && d[i + 1] < 0) {
      peaks[(*count)++] = i + 1;
      if (i + 1 >= ref - 2 && i + 1 <= ref + 4) *flag = 1;
    }
  return *count;
}

int AdvancedJudge(const int* textRaw, const int* isoRaw, long subPixels, const int* params, int* results, int level,
                  AdvancedVerdict* verdict) {
  int textL[kAdvBins], isoL[kAdvBins], text[kAdvBins], iso[kAdvBins];
  LogHist("iDTC BkAna TextHist [%d] [%d,%d,%d,%d,%d,%d,%d,%d]", textRaw);
  LogHist("iDTC BkAna Iso Hist [%d] [%d,%d,%d,%d,%d,%d,%d,%d]", isoRaw);
  HistDeNoiseFilter(textRaw, textL);
  HistDeNoiseFilter(isoRaw, isoL);
  LogHist("iDTC BkAna TextHistL[%d] [%d,%d,%d,%d,%d,%d,%d,%d]", textL);
  LogHist("iDTC BkAna Iso HistL[%d] [%d,%d,%d,%d,%d,%d,%d,%d]", isoL);
  int isoXp, txtXp;
  const int isoMax = histFilter(isoL, iso, &isoXp);
  const int txtMax = histFilter(textL, text, &txtXp);
  LogHist("iDTC BkAna IsoLHist [%d] [%d,%d,%d,%d,%d,%d,%d,%d]", iso);
  LogHist("iDTC BkAna TxtLHist [%d] [%d,%d,%d,%d,%d,%d,%d,%d]", text);
  if (isoMax <= 4 || txtMax <= 29) return -1;

  int isoPeaks[kAdvBins], txtPeaks[kAdvBins], before, textPk, isoFg, txtFg;
  GethistpeackNu(iso, 7, isoPeaks, &before, &isoFg);
  GethistpeackNu(text, isoXp - 6, txtPeaks, &textPk, &txtFg);
  auto peakAt = [](const int* p, int n, int i) { return i < n ? p[i] : 0; };
  I3Log(I3LOG_TRACE, "iDTC BkAna Iso HistPeak [PkNo=%d Pk0=%d Pk1=%d Pk2=%d Pk3=%d pointFG=%d]", before,
        peakAt(isoPeaks, before, 0), peakAt(isoPeaks, before, 1), peakAt(isoPeaks, before, 2),
        peakAt(isoPeaks, before, 3), isoFg);
  I3Log(I3LOG_TRACE, "iDTC BkAna Txt HistPeak [PkNo=%d Pk0=%d Pk1=%d Pk2=%d Pk3=%d pointFG=%d]", textPk,
        peakAt(txtPeaks, textPk, 0), peakAt(txtPeaks, textPk, 1), peakAt(txtPeaks, textPk, 2),
        peakAt(txtPeaks, textPk, 3), txtFg);
  std::stable_sort(txtPeaks, txtPeaks + textPk, [&](int a, int b) { return text[a] > text[b]; });

  CorInput in{AnalyisolatedHist(iso, isoMax, isoXp, txtXp, isoFg), isoXp, isoMax, AnalyTextHist(text, txtMax, txtXp),
              txtXp, txtMax, textPk};
  const double M = text[txtXp];
  const int isoMx = iso[isoXp], diff = isoXp - txtXp;
  int X = -100;
  for (int i = 0; i < textPk; ++i)
    if (text[txtPeaks[i]] > 0.5 * M && (X == -100 || std::abs(txtPeaks[i] - isoXp) < std::abs(X - isoXp)))
      X = txtPeaks[i];
  long sum = 0;
  for (int i = 0; i < kAdvBins; ++i) sum += textRaw[i] + isoRaw[i];
  const long sumSlc = long(0.1 * subPixels);

  int after = before, A = 100, judge = 0;
  bool blend = true;
  auto clear = [&](int bit) { after = 0, A = 0, judge |= bit; };
  auto scale = [&](int bit, double pct) {
    after = 0, judge |= bit;
    A = std::min(A, int(std::clamp(std::isfinite(pct) ? pct : 0.0, 0.0, 100.0)));
  };
  const IsoFeet& f = in.iso;
  if ((std::abs(f.zeroXp - f.xx1) > 9 && results[1] > 0) || before < 2 || (f.peakFg & ~0x20) != 0) {
    if ((f.peakFg & int(0x80000000u)) && isoMx < 0.3 * M && std::abs(diff) <= 3) clear(2);
  } else {
    after = 1, A = 0, judge |= 1;
  }
  if (f.zeroXp >= 31 && isoMx < 0.2 * M && std::abs(diff) <= 4 && textPk == 1) clear(4);
  if (in.txt.xx2 <= 24 && 0.1 * M < isoMx && isoMx < 0.2 * M && std::abs(in.txt.xx2 - f.xx2) <= 9) clear(8);
  if (isoMx < 0.15 * M && std::abs(diff) <= 2 && after < 2 && textPk <= 1)
    scale(16, (isoMx - 0.05 * M) * 100 / (0.15 * M - 0.05 * M));
  if (f.zeroXp <= 63 && NonZeroRuns(iso, f.zeroXp) > 1 && isoMx < 0.25 * M && std::abs(diff) <= 3 && textPk <= 2)
    scale(32, (isoMx - 0.15 * M) * 100 / (0.25 * M - 0.15 * M));
  if (sum < sumSlc && std::abs(diff) <= 4 && textPk < 3 && isoMx < 0.3 * M)
    scale(64, (isoMx - 0.2 * M) * 100 / (0.3 * M - 0.2 * M));
  I3Log(I3LOG_TRACE, "iDTC BkAna JudgePeak Code64 [Sum=%d SumSlc=%d IsoXp=%d TxtXp=%d PeakN=%d IsoMx=%d TxtMx/5=%d]",
        int(sum), int(sumSlc), isoXp, txtXp, textPk, isoMx, int(M / 5));
  if (textPk >= 1 && sum < sumSlc && std::abs(isoXp - X) <= 4 && textPk >= 2 && textPk <= 4 && isoMx < 0.4 * M)
    clear(128);
  if (sum < long(0.05 * subPixels) && std::abs(isoXp - X) <= 2 && textPk < 5 && isoMx < 0.3 * M)
    clear(256), blend = false;

  int code;
  int adjust = CreateAdvancedCorValue(in, after, params, level, results, &code);
  verdict->lastJudge = code;
  if (blend && A >= 1 && A <= 99) {
    int code2;
    const int second = CreateAdvancedCorValue(in, before, params, level, results, &code2);
    adjust = (A * second + adjust * (100 - A) + 50) / 100;
  }
  verdict->adjust = adjust;
  verdict->judge = judge;
  I3Log(I3LOG_TRACE, "iDTC BkAna JudgePeakNumber [Before=%d After=%d Adjust=%d JudgeCode=%d TextSens=%d]", before,
        after, A, judge, adjust);
  return 0;
}

int advancedprocess(const uint8_t* page, int height, int width, int target, const int* params, int* results,
                    int level) {
  if (!page || height <= 0 || width <= 0 || target <= 0) return -1;
  const int shorter = std::min(height, width);
  const int m = shorter >= 200 ? 50 : 0;
  const int wh = height - 2 * m, ww = width - 2 * m, e = shorter - 2 * m;
  const int step = std::max(1, e / target);
  const int sh = wh / step, sw = ww / step;
  I3Log(I3LOG_TRACE, "iDTC AdvProcess SubImage [H=%d W=%d SubH=%d SubW=%d]", wh, ww, sh, sw);
  if (sh < 10 || sw < 10) return -1;
  std::vector<int16_t> grey, log;
  std::vector<uint8_t> edge, strength;
  try {
    grey.resize(size_t(sh) * sw);
    log.assign(grey.size(), 0);
    edge.resize(grey.size());
    strength.resize(grey.size());
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (int y = 0; y < sh; ++y) {  // GetSubImg
    const uint8_t* row = page + size_t(m + y * step) * width + m;
    for (int x = 0; x < sw; ++x) grey[size_t(y) * sw + x] = row[size_t(x) * step];
  }
  if (FilterGaussLaplacianIpp(grey.data(), log.data(), sh, sw) != 0) return -1;
  CreateEdge2IppAdvanced(grey.data(), log.data(), edge.data(), strength.data(), sh, sw, 28);
  int text[kAdvBins], iso[kAdvBins];
  GetHistAdvanced(edge.data(), strength.data(), sh, sw, text, iso);
  AdvancedVerdict verdict;
  if (AdvancedJudge(text, iso, long(sh) * sw, params, results, level, &verdict) != 0) return -1;
  results[2] = verdict.adjust;
  return 0;
}
