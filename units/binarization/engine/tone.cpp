#include "tone.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "byte_table.h"
#include "filters.h"
#include "unit_log.h"

void CreateHist(const uint8_t* src, int height, int width, uint32_t* hist, int step) {
  std::fill(hist, hist + 256, 0u);
  const int s = std::min(height, width);
  const int d = s >= 200 ? 50 : 0;
  const int e = std::max(1, step > 0 ? (s - 2 * d) / step : 1);
  for (int y = d; y < height - d; y += e)
    for (int x = d; x < width - d; x += e) ++hist[src[size_t(y) * width + x]];
}

int CreateGammaTableF(int g, uint8_t* t) {
  const double p = 1.0 / (std::abs(g) * 0.02 + 1);
  for (int i = 0; i < 256; ++i) {
    const int v = int(std::clamp(std::pow(i / 255.0, p) * 255 + 0.5, 0.0, 255.0));
    if (g >= 0)
      t[i] = uint8_t(v);
    else
      t[255 - i] = uint8_t(255 - v);
  }
  return 0;
}

int CreateBrightTableF(int b, uint8_t* t) {
  int xs[4];
  double ys[4];
  if (b >= 0) {
    const double y1 = int((255.0 - b) / 255 * 20 + b);
    xs[0] = 0, xs[1] = xs[2] = 20, xs[3] = 255, ys[0] = 0, ys[1] = ys[2] = y1, ys[3] = 255;
  } else {
    const double y1 = int((b + 255.0) / 255 * 230);
    xs[0] = 0, xs[1] = xs[2] = 230, xs[3] = 255, ys[0] = 0, ys[1] = ys[2] = y1, ys[3] = 255;
  }
  uint8_t levels[256];
  for (int i = 0; i < 256; ++i) t[i] = uint8_t(i);
  return BezierFunction(xs, ys, levels, t);
}

int CreateContrastLinearTableF(int c, int x, uint8_t* t) {
  x &= 0xFF;
  double k, i0, y0;
  // A stretch that would reach an infinite slope leaves the tones alone.
  if (x < 127) {
    const double den = c >= 0 ? 255.0 - c - x : 255.0 - x;
    if (den <= 0) return -1;
    k = c >= 0 ? (255.0 - x) / den : (255.0 + c - x) / den;
    i0 = x, y0 = x;
  } else {
    const double den = c >= 0 ? double(x - c) : double(x);
    if (den <= 0) return -1;
    k = c >= 0 ? x / den : (x + c) / den;
    i0 = 0, y0 = c >= 0 ? 0 : -c;
  }
  for (int i = 0; i < 256; ++i) t[i] = uint8_t(std::clamp(int(k * (i - i0) + y0), 0, 255));
  return 0;
}

void TabConv(const uint8_t* first, const uint8_t* second, uint8_t* out, int n) {
  for (int i = 0; i < n; ++i) out[i] = second[first[i]];
}

void ImageConv(const uint8_t* src, int height, int width, const uint8_t* table, uint8_t* dst) {
  const size_t n = size_t(height) * width;
  if (dst != src) std::copy(src, src + n, dst);
  // The pair table costs as much to make as mapping a few hundred KiB one
  // byte at a time.
  constexpr size_t kPairsFrom = size_t(1) << 19;
  CBytePairTable(table, n >= kPairsFrom ? CBytePairTable::Way::Fastest : CBytePairTable::Way::Bytes).Map(dst, n);
}

namespace {

// Bins 1..hi where the smoothed curve turns, with the size limit `lim`.
void Turns(const double* S, int from, int to, double lim, std::vector<int>* peaks, std::vector<int>* valleys) {
  for (int i = from; i <= to; ++i) {
    const double up = S[i] - S[i - 1], next = S[i + 1] - S[i];
    const double before = i >= 2 ? S[i - 1] - S[i - 2] : 0;
    const bool big = std::fabs(up) > lim || std::fabs(before) > lim;
    if (up > 0 && next <= 0 && big) peaks->push_back(i);
    if (valleys && up < 0 && next >= 0 && big) valleys->push_back(i);
  }
}

// Steps 1 to 6 of the analysis: contrast centre, contrast and gamma into
// results; h receives the 64-bin form. -1 when the histogram is too thin.
int AnalyLevels(const uint32_t* hist, int n, int* results, long long (&h)[64]) {
  long long total = 0;
  for (int i = 0; i < std::max(n, 0); ++i) total += hist[i];
  if (n < 64 || total < 2500) {
    results[0] = 127, results[1] = 0;
    return -1;
  }
  const int q = n / 64;
  // Step 2: the full histogram's landmarks.
  int fullest = 0, median = 0, nonEmpty = 0;
  long long run = 0;
  bool medianSet = false;
  for (int i = 0; i < n; ++i) {
    if (hist[i] > hist[fullest]) fullest = i;
    if (hist[i]) ++nonEmpty;
    run += hist[i];
    if (!medianSet && run * 2 > total) median = i, medianSet = true;
  }
  const long long floorCount = (long long)(int(total / nonEmpty) * 0.05 + 1);
  int gmin = -1, gmax = -1;
  for (int i = 0; i < n; ++i)
    if ((long long)hist[i] > floorCount) {
      if (gmin < 0) gmin = i;
      gmax = i;
    }
  if (gmin < 0) gmin = 0, gmax = n - 1;
  // Step 3: 64 bins and their smoothed slope.
  long long d[64] = {};
  std::fill(h, h + 64, 0LL);
  for (int i = 0; i < n; ++i) h[std::min(i / q, 63)] += hist[i];
  double absSum = 0;
  for (int k = 1; k < 64; ++k) {
    d[k] = ((h[k] - h[k - 1]) * 819 + d[k - 1] * 614) / 1024;
    absSum += double(std::llabs(d[k]));
  }
  const long long limit = (long long)(absSum * 0.4 / 64);
  // Step 4: edge positions.
  std::vector<int> pos;
  for (int k = 0; k <= 61; ++k)
    if (d[k] >= 0 && d[k + 1] <= 0 && d[k + 2] < 0 && std::llabs(d[k] - std::min(d[k + 1], d[k + 2])) > limit) {
      pos.push_back(k);
      ++k;
    }
  if (d[62] >= 0 && d[63] < 0 && std::llabs(d[62] - d[63]) > limit) pos.push_back(62);
  if (d[63] > d[62] && d[62] > 0 && d[61] > 0 && std::llabs(d[62] - d[63]) > limit && (pos.empty() || pos.back() < 57))
    pos.push_back(63);
  int fullR = 0;
  for (int k = 1; k < 64; ++k)
    if (h[k] > h[fullR]) fullR = k;
  // Step 5: contrast centre and contrast.
  int centre, wideLo = 0, wideHi = 0;
  if (pos.size() >= 2) {
    size_t best = 0;
    for (size_t i = 1; i + 1 < pos.size(); ++i)
      if (pos[i + 1] - pos[i] > pos[best + 1] - pos[best]) best = i;
    wideLo = pos[best], wideHi = pos[best + 1];
    centre = ((wideLo + wideHi) * q) / 2 - 4;
  } else {
    int b = fullR;
    for (int k = fullR - 1; k >= 1; --k)
      if (h[k] < 0.1 * h[fullR] + 1) {
        b = k;
        break;
      }
    centre = 4 * b - 16;
  }
  results[0] = std::clamp(centre, 20, 240);
  const int spread = pos.size() >= 2 ? pos.back() - pos.front() : 0;
  const int spreadForm =
      pos.size() >= 2 ? std::clamp(((spread * q * 5 - 200) * (-2)) / 215 + 25, 15, 25) : 25;
  const long long lowCount = (long long)(0.2 * hist[fullest]);
  const int R = gmax - gmin, L = std::max(4, int(0.1 * R));
  std::vector<int> levels;
  if (pos.size() >= 2)
    for (int p : pos) levels.push_back(p * q);
  else
    levels.push_back(fullest);
  bool widthFound = false;
  int lower = gmin, upper = gmax, W = 0;
  for (int level : levels) {
    bool found = false;
    lower = gmin, upper = gmax;
    for (int i = level - 1, c = 0; i >= 0; --i) {
      c = (long long)hist[i] < lowCount ? c + 1 : 0;
      if (c >= L) {
        lower = i + L, found = true;
        break;
      }
    }
    for (int i = level + 1, c = 0; i < n; ++i) {
      c = (long long)hist[i] < lowCount ? c + 1 : 0;
      if (c >= L) {
        upper = i - L, found = true;
        break;
      }
    }
    W = upper - lower;
    if (found && W >= int(0.3 * R)) {
      results[1] = std::clamp(int(((W - 20) * (-30)) / 130.0 - 20), -50, -10);
      widthFound = true;
      break;
    }
  }
  if (!widthFound) {
    long long inside = 0;
    for (int i = std::max(lower, 0); i <= std::min(upper, n - 1); ++i) inside += hist[i];
    const bool narrow = inside > 0.6 * total && W < int(0.15 * R) && (wideHi - wideLo) * q > 100;
    bool flat = pos.size() <= 1;
    auto below = [&](double f) {
      int c = 0;
      for (int p : pos) c += h[p] < (long long)(f * h[fullR]) + 1;
      return c;
    };
    if (pos.size() == 2) flat = below(0.2) == 0 && spread <= 9;
    if (pos.size() >= 3)
      flat = below(0.05) >= int(pos.size()) - 1 || below(0.2) == 0 || std::abs(pos.front() - fullR) <= 4;
    results[1] = narrow || flat ? 0 : spreadForm;
  }
  // Step 6: gamma.
  const int g1 = std::max(0, int((median - 208) * (-0.18518518518518517) + 10));
  const int g2 = std::max(0, int((gmax - median - 5) * 0.42857142857142855));
  const int g3 = std::max(0, int((gmax - fullest - 5) * 0.42857142857142855));
  results[4] = std::min(25, g1 + g2 + g3);
  return 0;
}

}  // namespace

int AnalyHist(const uint32_t* hist, int n, int* results, int flag) {
  long long h[64];
  if (AnalyLevels(hist, n, results, h) != 0) return -1;
  // Step 7: page class from the smoothed 64-bin curve.
  static const double kB[3] = {0.131106439916626, 0.262212879833252, 0.131106439916626};
  static const double kA[3] = {1, -0.747789178258503, 0.272214937925007};
  double raw[64], S[64];
  for (int k = 0; k < 64; ++k) raw[k] = double(h[k]);
  DigfiltfilterF(raw, S, 64, kA, kB, 3);
  int mx = 0;
  for (int k = 0; k < 64; ++k) {
    if (S[k] < 1) S[k] = 0;
    if (S[k] > S[mx]) mx = k;
  }
  const double M = S[mx];
  auto span = [&](double f, int* first, int* last) {
    *first = 0, *last = 0;
    for (int k = 0; k < mx; ++k)
      if (S[k] > f * M) {
        *first = k;
        break;
      }
    for (int k = 63; k > mx; --k)
      if (S[k] > f * M) {
        *last = k;
        break;
      }
  };
  int first20, last20, first10, last10;
  span(0.2, &first20, &last20);
  span(0.1, &first10, &last10);
  const int w20 = last20 - first20, w10 = last10 - first10;
  auto edges = [&](double f, int none, int* lo, int* hi) {
    *lo = none, *hi = none;
    for (int k = mx - 1; k >= 1; --k)
      if (S[k] <= f * M) {
        *lo = k + 1;
        break;
      }
    for (int k = mx + 1; k <= 63; ++k)
      if (S[k] <= f * M) {
        *hi = k - 1;
        break;
      }
  };
  int lo20, hi20, lo5, hi5;
  edges(0.2, 0, &lo20, &hi20);
  edges(0.05, mx, &lo5, &hi5);
  if (mx == 0) lo5 = 0;
  const int D20 = hi20 - lo20, D5 = hi5 - lo5;
  std::vector<int> peaks;
  Turns(S, 1, 62, 0.01 * M, &peaks, nullptr);
  if (S[63] - S[62] > 0 && (S[63] - S[62] > 0.01 * M || std::fabs(S[62] - S[61]) > 0.01 * M)) peaks.push_back(63);
  bool nearMax = false;
  for (int p : peaks) nearMax |= std::abs(p - mx) <= 2;
  if (!nearMax) peaks.push_back(mx), std::sort(peaks.begin(), peaks.end());
  std::vector<int> major;
  for (int p : peaks)
    if (S[p] > 0.4 * M) major.push_back(p);
  int cls;
  if (major.size() <= 1) {
    cls = 1;
    if (major.size() == 1 && D20 > 10 && D5 >= 26) cls = 0;
    if (major.size() == 1 && w20 > 30) cls = 0;
  } else {
    cls = major.size() == 2 ? (w20 < 41 ? 1 : 0) : 0;
  }
  if (w10 > 40 && results[13] == 0) cls = 0;
  // Step 8: a secondary structure well below the maximum.
  bool secondary = false;
  int b2 = 0;
  double M2 = 0;
  if (mx >= 31) {
    for (int k = 0; k <= mx - 31; ++k)
      if (S[k] > S[b2]) b2 = k;
    M2 = std::floor(S[b2]);
    std::vector<int> p2, v2;
    Turns(S, 1, mx - 31, 0.01 * M2, &p2, &v2);
    if (!p2.empty()) {
      b2 = p2.front();
      for (int p : p2)
        if (S[p] > S[b2]) b2 = p;
      int mid = 0;
      for (int k = b2; k < mx; ++k) mid += S[k] > 0.2 * M2 && S[k] <= 0.8 * M2;
      secondary = mid > (mx - b2) / 2;
    }
    for (int v : v2) secondary |= v > b2 && S[v] <= 0.8 * M2;
  }
  // Step 9: two major peaks with or without a gap between them.
  if (major.size() == 2) {
    bool gap = false;
    for (int k = major[0]; k + 1 <= major[1] - 1; ++k) gap |= S[k] <= 0.2 * M && S[k + 1] <= 0.2 * M;
    if (!gap)
      cls = 0;
    else if (major[1] - major[0] <= 19)
      cls = 2;
  }
  if (secondary && cls == 1 && D20 > 12 && D5 > 20 && S[b2] <= 0.2 * M) cls = 0;
  results[12] = cls;
  // Step 11.
  if (results[1] >= 0) {
    if (!secondary && flag == 0) results[1] = 0, results[4] = 0;
    return 0;
  }
  if (results[13] == 1 && cls == 2 && flag == 0 && D20 <= 19)
    results[1] = 0, results[4] = 0;
  else if (results[9] >= 1 && results[4] >= 16 && D20 <= 24 && flag == 0)
    results[1] = 0;
  return 0;
}

int AnalyHist2(const uint32_t* hist, int n, int* results) {
  long long h[64];
  return AnalyLevels(hist, n, results, h);
}

int PreProImage(const uint8_t* src, int height, int width, const int* params, int selection, uint8_t* dst,
                int* results, int step) {
  int g = params[2], c = params[0];
  uint32_t hist[256];
  CreateHist(src, height, width, hist, step);
  if (selection >= 0) {
    const int rc = AnalyHist(hist, 256, results, (selection >> 30) & 1);
    if ((selection & 1) && rc == 0) g = results[4], c = results[1];
  } else if (selection & 1) {
    g = results[4], c = results[1];
  }
  uint8_t gamma[256], bright[256], contrast[256], a[256], b[256];
  int flags = 0;
  if (g != 0) CreateGammaTableF(g, gamma), flags |= 4;
  if (params[1] != 0) CreateBrightTableF(params[1], bright), flags |= 2;
  const int x = results[0] & 0xFF;
  if (x >= 21 && x <= 239 && c != 0 && CreateContrastLinearTableF(c, x, contrast) == 0) flags |= 1;
  I3Log(I3LOG_INFO, "iDTC LUTAnalyze param=[Gam=%d Cont=%d ContX=%d TabConvFg=%d]", g, c, x, flags);
  const uint8_t* table = nullptr;
  switch (flags) {
    case 0:
      return -1;
    case 1: table = contrast; break;
    case 2: table = bright; break;
    case 4: table = gamma; break;
    case 3: TabConv(bright, contrast, a, 256), table = a; break;
    case 5: TabConv(gamma, contrast, a, 256), table = a; break;
    case 6: TabConv(gamma, bright, a, 256), table = a; break;
    default: TabConv(gamma, contrast, a, 256), TabConv(a, bright, b, 256), table = b; break;
  }
  ImageConv(src, height, width, table, dst);
  return 0;
}
