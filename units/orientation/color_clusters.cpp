// Histogram peaks and the level ranges of colour clusters.
#include <algorithm>

#include "color_smoothing.h"

namespace colorsmooth {

namespace {

const int NO_DIFFERENCE_WIDTH = 4;
const int DARK = 96;

int Clamp255(int n) { return n < 0 ? 0 : n > 255 ? 255 : n; }

int Mean(unsigned sum, int count) { return static_cast<int>(static_cast<double>(sum) / count + 0.5); }

}  // namespace

void GetDensity(const Histogram& histogram, int* density) {
  for (int n = 0; n < 256; ++n) density[n] = static_cast<int>(histogram[n].size());
}

// The window widens with the level: dark levels are few and narrow.
void SmoothHistogram(const int* pSrc, int* pDst) {
  int buffer[256];
  auto src = [pSrc](int n) { return static_cast<unsigned>(pSrc[Clamp255(n)]); };
  for (int n = 0; n < 32; ++n)
    buffer[n] = static_cast<int>((src(n - 2) + src(n - 1) + 4 * src(n) + src(n + 1) + src(n + 2)) >> 3);
  for (int n = 32; n < 64; ++n) {
    unsigned sum = 0;
    for (int i = n - 2; i <= n + 2; ++i) sum += src(i);
    buffer[n] = Mean(sum, 5);
  }
  for (int n = 64; n < 256; ++n) {
    unsigned sum = 0;
    for (int i = n - 3; i <= n + 3; ++i) sum += src(i);
    buffer[n] = Mean(sum, 7);
  }
  auto mid = [&buffer](int n) { return static_cast<unsigned>(buffer[Clamp255(n)]); };
  for (int n = 0; n < 32; ++n) pDst[n] = static_cast<int>((mid(n - 1) + 2 * mid(n) + mid(n + 1)) >> 2);
  for (int n = 32; n < 64; ++n) pDst[n] = Mean(mid(n - 1) + mid(n) + mid(n + 1), 3);
  for (int n = 64; n < 256; ++n) {
    unsigned sum = 0;
    for (int i = n - 2; i <= n + 2; ++i) sum += mid(i);
    pDst[n] = Mean(sum, 5);
  }
}

// Every element of a flat top is marked.
void MarkPeaks(const int* data, int elements, bool* flags) {
  if (elements < 2) return;
  const int last = elements - 1;
  // The first value that differs from data[from], walking by `step`; -1
  // past the ends.
  auto firstDifferent = [&](int from, int step) {
    int i = from + step;
    while (i >= 0 && i <= last && data[i] == data[from]) i += step;
    return i;
  };
  const int right0 = firstDifferent(0, 1);
  if (right0 > last) return;  // flat data: no peak at all
  flags[0] = data[right0] < data[0];
  for (int n = 1; n < last; ++n) {
    const int l = firstDifferent(n, -1), r = firstDifferent(n, 1);
    flags[n] = (l < 0 || data[l] < data[n]) && (r > last || data[r] < data[n]);
  }
  const int leftLast = firstDifferent(last, -1);
  flags[last] = leftLast >= 0 && data[leftLast] < data[last];
}

void MergePeaks(bool* peaks, int elements) {
  for (int s = 0; s < elements;) {
    if (!peaks[s]) {
      ++s;
      continue;
    }
    int e = s;
    while (e + 1 < elements && peaks[e + 1]) ++e;
    const int keep = (s + e + 1) >> 1;
    for (int i = s; i <= e; ++i) peaks[i] = i == keep;
    s = e + 1;
  }
}

int GetClusterMinLevel(const int* pDensity, int peak, int border) {
  border = std::clamp(border, 0, 1);
  int same = 0;
  for (int n = std::min(peak, 256) - 1; n >= 1; --n) {
    if (pDensity[n - 1] > pDensity[n]) return n + border;
    if (pDensity[n - 1] == pDensity[n]) {
      if (++same == NO_DIFFERENCE_WIDTH) return n + border;
    } else {
      same = 0;
    }
  }
  return 0;
}

int GetClusterMaxLevel(const int* pDensity, int peak, int border) {
  border = std::clamp(border, 0, 1);
  int same = 0;
  for (int n = std::max(peak, -1) + 1; n <= 254; ++n) {
    if (pDensity[n + 1] > pDensity[n]) return n - border;
    if (pDensity[n + 1] == pDensity[n]) {
      if (++same == NO_DIFFERENCE_WIDTH) return n - border;
    } else {
      same = 0;
    }
  }
  return 255;
}

// A positive smoother widens by its size, a negative one narrows by five
// times its size; the representative level always stays inside.
void ModifyClusterInfo(CLUSTERINFO* range, int smoother) {
  if (smoother < 0) smoother *= 5;
  range->min -= smoother;
  range->max += smoother;
  if (range->min >= range->rpr) range->min = range->rpr - 1;
  if (range->min < 0) range->min = 0;
  if (range->max <= range->rpr) range->max = range->rpr + 1;
  if (range->max > 255) range->max = 255;
}

// A light cluster split by a dip of the histogram is one colour.
void RepairBrokenClusters(const int* /*density*/, CIVCT* clusters) {
  const int LEVEL_DIFFERENCE = 5;
  CIVCT& c = *clusters;
  for (size_t i = 0; i + 1 < c.size();) {
    if (c[i + 1].rpr - c[i].max <= LEVEL_DIFFERENCE && c[i].min >= 32) {
      c[i].max = c[i + 1].max;
      c.erase(c.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    } else {
      ++i;
    }
  }
}

namespace {

int LevelDifference(int smoother) { return smoother <= 0 ? 8 : 8 - smoother; }

// `from` joins `into`, which keeps the denser representative.
void Join(CLUSTERINFO* into, const CLUSTERINFO& from, const int* density) {
  into->max = from.max;
  if (density[into->rpr] < density[from.rpr]) into->rpr = from.rpr;
}

}  // namespace

void RepairBrokenClustersIdtc(int smoother, const int* density, CIVCT* clusters) {
  const int gapLimit = LevelDifference(smoother);
  CIVCT& c = *clusters;
  int joins = 0;
  for (size_t i = 0; i + 1 < c.size();) {
    if (c[i + 1].rpr - c[i].max <= gapLimit) {
      Join(&c[i], c[i + 1], density);
      c.erase(c.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      if (c[i].min >= 20 && ++joins < 3) continue;
    }
    joins = 0;
    ++i;
  }
}

bool RepairBrokenClustersIdtc2(int times, int smoother, const int* density, CIVCT* clusters) {
  const int gapLimit = LevelDifference(smoother);
  CIVCT& c = *clusters;
  bool joined = false;
  for (size_t i = 1; i < c.size(); ++i) {
    CLUSTERINFO& p = c[i - 1];
    CLUSTERINFO& q = c[i];
    const int gap = q.rpr - p.max;
    if (gap > gapLimit || (times >= 2 && p.min < 20)) continue;
    joined = true;
    if (i + 1 == c.size() || c[i + 1].min - q.rpr >= gap) {
      Join(&p, q, density);
      c.erase(c.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      Join(&q, c[i + 1], density);
      c.erase(c.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
  }
  return joined;
}

void MergeClusters(CIVCT* clusters) {
  CIVCT& c = *clusters;
  for (size_t i = 0; i + 1 < c.size();) {
    if (c[i].rpr >= 64 && c[i].max >= c[i + 1].min) {
      c[i].max = c[i + 1].max;
      c.erase(c.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    } else {
      ++i;
    }
  }
}

// Overlapping neighbours are cut at the emptiest level between them.
void BorderClusters(const int* pDensity, CIVCT* clusters) {
  CIVCT& c = *clusters;
  for (size_t i = 0; i + 1 < c.size(); ++i) {
    CLUSTERINFO& p = c[i];
    CLUSTERINFO& q = c[i + 1];
    if (p.max < q.min) continue;
    const int from = std::max(q.min, p.rpr), to = std::min(q.rpr, p.max);
    int nMin = from;
    for (int n = from; n <= to; ++n)
      if (pDensity[n] <= pDensity[nMin]) nMin = n;
    if (nMin == 255 || nMin == q.max) {
      q.min = nMin;
      p.max = nMin - 1;
    } else {
      p.max = nMin;
      q.min = nMin + 1;
    }
  }
}

bool GetClusterInfoRGB(const I3ipImageInfo* /*image*/, const Histogram& histogram, const CLUSTERINFO& range,
                       CLUSTERINFORGB* out) {
  uint64_t sum[3] = {0, 0, 0};
  int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
  int64_t elements = 0;
  for (int n = std::max(range.min, 0); n <= std::min(range.max, 255); ++n)
    for (const Position& at : histogram[n]) {
      const uint8_t* pixel = at.rgb;
      for (int ch = 0; ch < 3; ++ch) {
        sum[ch] += pixel[ch];
        low[ch] = std::min<int>(low[ch], pixel[ch]);
        high[ch] = std::max<int>(high[ch], pixel[ch]);
      }
      ++elements;
    }
  if (elements == 0) return false;
  *out = CLUSTERINFORGB{};
  out->elements = static_cast<int32_t>(elements);
  int rpr[3];
  for (int ch = 0; ch < 3; ++ch) {
    rpr[ch] = static_cast<int>(static_cast<double>(sum[ch]) / static_cast<double>(elements) + 0.5);
    out->clusterInfo[ch] = CLUSTERINFO{low[ch], high[ch], rpr[ch]};
  }
  auto spread = [](const int* v) { return std::max({v[0], v[1], v[2]}) - std::min({v[0], v[1], v[2]}); };
  auto luma = [](const int* v) { return static_cast<int>(0.299 * v[0] + 0.587 * v[1] + 0.114 * v[2]); };
  out->Srpr = spread(rpr);
  out->Smin = spread(low);
  out->Yrpr = luma(rpr);
  out->Ymin = luma(low);
  out->flag = I3IP_IMAGE_AREA_UNKNOWN;
  return true;
}

bool IsDarkCluster(const CLUSTERINFORGB& cluster) {
  return cluster.clusterInfo[0].max < DARK && cluster.clusterInfo[1].max < DARK && cluster.clusterInfo[2].max < DARK;
}

}  // namespace colorsmooth
