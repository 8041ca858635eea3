// Pixel replacement, the background-removal mode and the entry.
#include "color_smoothing.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace colorsmooth {

decltype(&IPPShare_ippiFilterMedianColor_8u_C3R) g_pfnFilterMedianColor = nullptr;

#define CS_LOG(level, ...)                      \
  do {                                          \
    if (g_pfnLog) g_pfnLog(level, __VA_ARGS__); \
  } while (0)

namespace {

enum { LOG_ERROR = 1, LOG_INFO = 4, LOG_TRACE = 64 };
const int THRESHOLD = 8;

bool InRanges(const uint8_t* pixel, const CLUSTERINFORGB& cluster) {
  for (int ch = 0; ch < 3; ++ch)
    if (pixel[ch] < cluster.clusterInfo[ch].min || pixel[ch] > cluster.clusterInfo[ch].max) return false;
  return true;
}

// The channel-order tests of a cluster: for each pair, the pixel's value
// in `high` must not be below its value in `low`.
struct OrderRule {
  int count = 0;
  int high[2], low[2];
};

OrderRule OrderOf(const CLUSTERINFORGB& cluster) {
  int order[3] = {0, 1, 2};
  std::stable_sort(order, order + 3,
                   [&](int a, int b) { return cluster.clusterInfo[a].rpr > cluster.clusterInfo[b].rpr; });
  OrderRule rule;
  for (int i = 0; i < 2; ++i)
    if (cluster.clusterInfo[order[i]].rpr - cluster.clusterInfo[order[i + 1]].rpr > THRESHOLD) {
      rule.high[rule.count] = order[i];
      rule.low[rule.count] = order[i + 1];
      ++rule.count;
    }
  return rule;
}

bool Follows(const uint8_t* pixel, const OrderRule& rule) {
  for (int i = 0; i < rule.count; ++i)
    if (pixel[rule.high[i]] < pixel[rule.low[i]]) return false;
  return true;
}

void LogClusters(const CIRGBVCT& clusters) {
  int number = 0;
  for (const CLUSTERINFORGB& c : clusters) {
    CS_LOG(LOG_TRACE, "ColorSmoothing Cluster[ ]: (No=%d elements=%d Ymin=%d Smin=%d Yrpr=%d Srpr=%d FLG=%d)", ++number,
           c.elements, c.Ymin, c.Smin, c.Yrpr, c.Srpr, c.flag);
    const char names[3] = {'R', 'G', 'B'};
    for (int ch = 0; ch < 3; ++ch)
      CS_LOG(LOG_TRACE, "ColorSmoothing Cluster[%c]: (min=%d rpr=%d max=%d)", names[ch], c.clusterInfo[ch].min,
             c.clusterInfo[ch].rpr, c.clusterInfo[ch].max);
  }
}

void Paint(uint8_t* out, const uint8_t* pixel, const CLUSTERINFORGB* cluster, bool white) {
  if (!cluster) {
    memcpy(out, pixel, 3);
  } else if (white) {
    memset(out, 255, 3);
  } else {
    for (int ch = 0; ch < 3; ++ch) out[ch] = static_cast<uint8_t>(cluster->clusterInfo[ch].rpr);
  }
}

void SmoothDirect(const I3ipImageInfo* src, const CIRGBVCT& clusters, size_t biggest, bool whitening,
                  I3ipImageInfo* dst) {
  std::vector<OrderRule> rules;
  for (const CLUSTERINFORGB& c : clusters) rules.push_back(OrderOf(c));
  const int w = static_cast<int>(src->Width), h = static_cast<int>(src->Height), bpl = static_cast<int>(src->Bpl);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = src->Data + static_cast<size_t>(y) * src->Bpl;
    uint8_t* out = dst->Data + static_cast<size_t>(y) * src->Bpl;
    for (int x = 0; x < w; ++x) {
      const uint8_t* pixel = row + 3 * x;
      size_t k = 0;
      for (; k < clusters.size(); ++k)
        if (InRanges(pixel, clusters[k]) && CheckNeighborColor(pixel, x, y, w, h, bpl, clusters[k]) &&
            Follows(pixel, rules[k]))
          break;
      const bool decided = k < clusters.size();
      Paint(out + 3 * x, pixel, decided ? &clusters[k] : nullptr, whitening && k == biggest);
    }
  }
}

// A pixel's channel order as six bits: R >= G, G >= R, G >= B, B >= G,
// R >= B, B >= R; two bits per pair from the pair's difference.
struct OrderCodes {
  uint8_t code[511] = {};  // difference + 255: 1 when >= 0, 2 when <= 0
  constexpr OrderCodes() {
    for (int d = -255; d <= 255; ++d) code[d + 255] = static_cast<uint8_t>((d >= 0 ? 1 : 0) | (d <= 0 ? 2 : 0));
  }
};
constexpr OrderCodes kOrder;

inline unsigned Signature(const uint8_t* p) {
  const uint8_t* c = kOrder.code + 255;
  return unsigned(c[p[0] - p[1]]) | unsigned(c[p[1] - p[2]]) << 2 | unsigned(c[p[0] - p[2]]) << 4;
}

// The signature bit of "channel high >= channel low".
int SignatureBit(int high, int low) {
  const int pair = high + low - 1;  // (0, 1) -> 0, (1, 2) -> 2, (0, 2) -> 1
  const int base = pair == 0 ? 0 : pair == 2 ? 2 : 4;
  return base + (high > low ? 1 : 0);
}

// The same decision through bit masks: bit k of a pixel's mask says that it
// lies inside cluster k's ranges; a pixel and its eight neighbours all in
// cluster k is the AND of nine masks. kWords 64-bit words hold the bits.
template <int kWords>
void SmoothByMasks(const I3ipImageInfo* src, const CIRGBVCT& clusters, size_t biggest, bool whitening,
                   I3ipImageInfo* dst) {
  struct Mask {
    uint64_t w[kWords];
  };
  std::vector<Mask> lut(3 * 256, Mask{});
  // Per cluster the colour it paints; per channel-order signature of a
  // pixel (see Signature) the clusters whose order tests it passes.
  // Colours as the four bytes of a little-endian word, R first.
  std::vector<uint32_t> colours(std::max<size_t>(clusters.size(), 64), 0);
  std::vector<Mask> orderOk(64, Mask{});
  for (size_t k = 0; k < clusters.size(); ++k) {
    for (int ch = 0; ch < 3; ++ch) {
      const CLUSTERINFO& r = clusters[k].clusterInfo[ch];
      for (int v = std::max(r.min, 0); v <= std::min(r.max, 255); ++v)
        lut[ch * 256 + v].w[k / 64] |= uint64_t(1) << (k % 64);
      const uint32_t level = whitening && k == biggest ? 255 : static_cast<uint32_t>(clusters[k].clusterInfo[ch].rpr);
      colours[k] |= level << (8 * ch);
    }
    const OrderRule rule = OrderOf(clusters[k]);
    for (unsigned sig = 0; sig < 64; ++sig) {
      bool ok = true;
      for (int i = 0; i < rule.count; ++i) ok &= (sig >> SignatureBit(rule.high[i], rule.low[i])) & 1;
      if (ok) orderOk[sig].w[k / 64] |= uint64_t(1) << (k % 64);
    }
  }
  const Mask* lutR = lut.data();
  const Mask* lutG = lut.data() + 256;
  const Mask* lutB = lut.data() + 512;
  const size_t w = src->Width, h = src->Height;
  Mask all;
  for (uint64_t& word : all.w) word = ~uint64_t(0);
  auto maskOf = [&](const uint8_t* p) {
    Mask m;
    for (int i = 0; i < kWords; ++i) m.w[i] = lutR[p[0]].w[i] & lutG[p[1]].w[i] & lutB[p[2]].w[i];
    return m;
  };
  auto both = [](const Mask& a, const Mask& b) {
    Mask m;
    for (int i = 0; i < kWords; ++i) m.w[i] = a.w[i] & b.w[i];
    return m;
  };
  // Masks of the rows above and at y; the row below is made as the walk
  // reaches it and kept for the next row. Rows beyond the page hold
  // all-ones.
  std::vector<Mask> buffers(3 * w), allRow(w, all);
  Mask* above = buffers.data();
  Mask* at = buffers.data() + w;
  Mask* below = buffers.data() + 2 * w;
  for (size_t x = 0; x < w; ++x) at[x] = maskOf(src->Data + 3 * x);
  for (size_t y = 0; y < h; ++y) {
    const Mask* up = y > 0 ? above : allRow.data();
    const bool last = y + 1 == h;
    const uint8_t* nextRow = last ? nullptr : src->Data + (y + 1) * src->Bpl;
    // The AND of column x's three masks.
    auto column = [&](size_t x) {
      if (!last) below[x] = maskOf(nextRow + 3 * x);
      return both(both(up[x], at[x]), last ? all : below[x]);
    };
    const uint8_t* pixel = src->Data + y * src->Bpl;
    uint8_t* out = dst->Data + y * src->Bpl;
    // The pixel's new value as four bytes (the fourth is the next pixel's
    // first, rewritten when that pixel is).
    auto decide = [&](const uint8_t* p, const Mask& candidates, uint32_t value) {
      const Mask& ok = orderOk[Signature(p)];
      for (int i = 0; i < kWords; ++i) {
        const uint64_t c = candidates.w[i] & ok.w[i];
        if (kWords == 1) return c ? colours[static_cast<size_t>(__builtin_ctzll(c | (uint64_t(1) << 63)))] : value;
        if (c) return colours[static_cast<size_t>(i) * 64 + static_cast<size_t>(__builtin_ctzll(c))];
      }
      return value;
    };
    Mask left = all, middle = column(0);
    size_t x = 0;
    for (; x + 1 < w; ++x, pixel += 3, out += 3) {
      const Mask right = column(x + 1);
      const Mask candidates = both(both(left, middle), right);
      left = middle, middle = right;
      uint32_t value;
      memcpy(&value, pixel, 4);
      value = decide(pixel, candidates, value);
      memcpy(out, &value, 4);
    }
    uint32_t value = uint32_t(pixel[0]) | uint32_t(pixel[1]) << 8 | uint32_t(pixel[2]) << 16;
    value = decide(pixel, both(left, middle), value);
    out[0] = static_cast<uint8_t>(value), out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    std::swap(above, at);
    std::swap(at, below);
  }
}

}  // namespace

bool IsSimilarColor(const uint8_t* pixel, const CLUSTERINFORGB& cluster) { return Follows(pixel, OrderOf(cluster)); }

// Neighbours beyond an edge do not count.
bool CheckNeighborColor(const uint8_t* pixel, int x, int y, int iw, int ih, int bpl, const CLUSTERINFORGB& cluster) {
  static const int kOffsets[8][2] = {{-1, 0}, {1, 0}, {-1, -1}, {0, -1}, {1, -1}, {-1, 1}, {0, 1}, {1, 1}};
  for (const auto& d : kOffsets) {
    const int nx = x + d[0], ny = y + d[1];
    if (nx < 0 || nx >= iw || ny < 0 || ny >= ih) continue;
    if (!InRanges(pixel + std::ptrdiff_t(d[1]) * bpl + 3 * d[0], cluster)) return false;
  }
  return true;
}

int CheckFlags5x5(const int8_t* flags, int flagWidth) {
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      if (flags[std::ptrdiff_t(dy) * flagWidth + dx]) return 1;
  return 0;
}

void SmoothPixels(const I3ipImageInfo* src, const CIRGBVCT& clusters, size_t biggest, bool whitening,
                  I3ipImageInfo* dst, bool direct) {
  const size_t n = clusters.size();
  if (direct || n > 256)
    SmoothDirect(src, clusters, biggest, whitening, dst);
  else if (n <= 64)
    SmoothByMasks<1>(src, clusters, biggest, whitening, dst);
  else if (n <= 128)
    SmoothByMasks<2>(src, clusters, biggest, whitening, dst);
  else
    SmoothByMasks<4>(src, clusters, biggest, whitening, dst);
}

void SmoothingProcess(const I3ipImageInfo* src, const CIRGBVCT& clusters, I3ipImageInfo* dst) {
  LogClusters(clusters);
  SmoothPixels(src, clusters, 0, false, dst);
}

void SmoothingProcess_White(const I3ipImageInfo* src, const CIRGBVCT& clusters, size_t biggest, I3ipImageInfo* dst) {
  SmoothPixels(src, clusters, biggest, true, dst);
}

namespace {

// The text/background separation: a pixel (or cluster) whose chroma is
// below the level's limit Sslc[luma] is text.
struct Separation {
  int Sslc[256];
};

Separation AnalyzeClusterSeparate(CIRGBVCT* clusters, int BinSens) {
  int YrprMAX = 0, YminMIN = 255, YrprMIN = 255, samples = 0;
  for (const CLUSTERINFORGB& c : *clusters) {
    YrprMAX = std::max(YrprMAX, c.Yrpr);
    YrprMIN = std::min(YrprMIN, c.Yrpr);
    YminMIN = std::min(YminMIN, c.Ymin);
    samples += c.elements;
  }
  CS_LOG(LOG_TRACE, "ColorSmoothing Separation Clusters[samples=%d |Ymin min=%d |Yrpr min=%d max=%d]", samples, YminMIN,
         YrprMIN, YrprMAX);
  double Sens = 0;
  if (BinSens > 50)
    Sens = 25;
  else if (BinSens < -50)
    Sens = -6.25;
  else if (BinSens > 0)
    Sens = BinSens / 2.0;
  else if (BinSens < 0)
    Sens = BinSens / 8.0;
  const int base = YrprMAX < 141 ? static_cast<int>(YrprMAX * 0.5 + 50) : YrprMAX - 20;
  int Ytop = static_cast<int>(base * (Sens + 200) / 200), Stop;
  if (Ytop >= 256) {
    Ytop = 255;
    Stop = 0;
  } else if (Ytop < 32) {
    Ytop = 32;
    Stop = 6;
  } else if (Ytop <= 128) {
    Stop = static_cast<int>(2 * Ytop * 0.1);
  } else {
    Stop = static_cast<int>(2 * (255 - Ytop) * 0.1);
  }
  int S128, S0;
  if (YminMIN < 65) {
    const double l = YminMIN * 0.015625 * 0.05;
    S128 = static_cast<int>((Sens / 250 + 0.35 + l) * 255);
    S0 = static_cast<int>((Sens / 1000 + 0.1 + l) * 255);
  } else {
    S128 = static_cast<int>((Sens / 250 + 0.4) * 255);
    S0 = static_cast<int>((Sens / 1000 + 0.15) * 255);
  }
  CS_LOG(LOG_TRACE, "ColorSmoothing Separation Consts  [Ytop=%d S0=%d S128=%d Stop=%d]", Ytop, S0, S128, Stop);
  Separation s;
  for (int y = 0; y < 256; ++y) {
    if (y > Ytop)
      s.Sslc[y] = 0;
    else if (y <= 128)
      s.Sslc[y] = (S0 * 128 + y * (S128 - S0)) / 128;
    else
      s.Sslc[y] = (S128 * Ytop - 128 * Stop + y * (Stop - S128)) / (Ytop - 128);
  }
  for (CLUSTERINFORGB& c : *clusters)
    c.flag = c.Srpr < s.Sslc[std::clamp(c.Yrpr, 0, 255)] ? I3IP_IMAGE_AREA_TEXT : I3IP_IMAGE_AREA_BACKGROUND;
  return s;
}

int8_t PixelFlag(const uint8_t* pixel, const Separation& s) {
  const int high = std::max({pixel[0], pixel[1], pixel[2]}), low = std::min({pixel[0], pixel[1], pixel[2]});
  return high - low < s.Sslc[(299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2]) / 1000] ? 1 : 0;
}

}  // namespace

int DoRemoveBackground(const I3ipImageInfo* src, CIRGBVCT* clusters, int BinSens, I3ipImageInfo* dst) {
  const Separation s = AnalyzeClusterSeparate(clusters, BinSens);
  const size_t w = src->Width, h = src->Height, bpl = src->Bpl, fw = w + 4;
  std::unique_ptr<int8_t[]> flags(new (std::nothrow) int8_t[fw * (h + 4)]());
  if (!flags) return I3IP_ERR_MEMORY;
  const bool byPixel = clusters->size() == 1;
  if (byPixel)
    CS_LOG(LOG_TRACE, "ColorSmoothing Clusters number=%d [By pixel mode on]", 1);
  else
    LogClusters(*clusters);
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* pixel = src->Data + y * bpl;
    int8_t* flag = flags.get() + (y + 2) * fw + 2;
    for (size_t x = 0; x < w; ++x, pixel += 3) {
      const CLUSTERINFORGB* holder = nullptr;
      if (!byPixel)
        for (const CLUSTERINFORGB& c : *clusters)
          if (c.elements != 0 && c.flag != I3IP_IMAGE_AREA_UNKNOWN && InRanges(pixel, c)) {
            holder = &c;
            break;
          }
      flag[x] = holder ? static_cast<int8_t>(holder->flag) : PixelFlag(pixel, s);
    }
  }
  // The median of the inner region; where the primitive is missing or
  // refuses, the source stays.
  bool median = false;
  if (w > 4 && h > 4 && g_pfnFilterMedianColor) {
    const IppiSize roi{static_cast<int>(w - 4), static_cast<int>(h - 4)};
    const size_t offset = 2 * bpl + 6;
    median = g_pfnFilterMedianColor(src->Data + offset, static_cast<int>(bpl), dst->Data + offset,
                                    static_cast<int>(bpl), roi, ippMskSize5x5) == ippStsNoErr;
  }
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* row = src->Data + y * bpl;
    uint8_t* out = dst->Data + y * bpl;
    const int8_t* flag = flags.get() + (y + 2) * fw + 2;
    for (size_t x = 0; x < w; ++x) {
      const bool edge = x < 2 || y < 2 || x + 2 >= w || y + 2 >= h;
      if (!median || edge || CheckFlags5x5(flag + x, static_cast<int>(fw))) memcpy(out + 3 * x, row + 3 * x, 3);
    }
  }
  return I3IP_BCSMTH_SUCCESS;
}

int ColorSmoothing(I3ipImageInfo* src, int smoother, bool whitening, bool removeBackground, int BinSens,
                   I3ipImageInfo* dst) {
  try {
    CIRGBVCT clusters;
    size_t biggest = 0;
    const int rc = ColorAnalysis(src, smoother, removeBackground, &clusters, &biggest);
    if (rc != I3IP_BCSMTH_SUCCESS) return rc;
    if (removeBackground) return DoRemoveBackground(src, &clusters, BinSens, dst);
    if (whitening)
      SmoothingProcess_White(src, clusters, biggest, dst);
    else
      SmoothingProcess(src, clusters, dst);
    return I3IP_BCSMTH_SUCCESS;
  } catch (...) {  // the position lists outgrew memory
    return I3IP_BCSMTH_NO_MEMORY;
  }
}

int i3ColorSmoothing(I3ipImageInfo* src, int smoother, bool whiteBackground, bool removeBackground, int binsens,
                     I3ipImageInfo* dst) {
  if (!src || !dst || src->Bpp != 24 || !dst->Data || !src->Data) return I3IP_BCSMTH_INVALID_PARAM;
  // Rows shorter than their pixels would be read past.
  if (static_cast<uint64_t>(src->Bpl) < 3 * static_cast<uint64_t>(src->Width)) return I3IP_BCSMTH_INVALID_PARAM;
  return ColorSmoothing(src, smoother, whiteBackground, removeBackground, binsens, dst);
}

}  // namespace colorsmooth
