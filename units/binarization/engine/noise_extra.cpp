// The stain-and-noise analysis that the engine does not call: the page
// binarized at the level the sensitivity sets, the sizes of its black
// pieces and the strengths of its edges counted and smoothed, and the peaks
// of each read as the stain and the noise size.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "abitmap.h"
#include "analysis.h"
#include "edge_threshold.h"
#include "filters.h"
#include "self_binarizer.h"

namespace {

constexpr int kSizeBins = 64;
constexpr double kLowB[3] = {0.131106439916626, 0.262212879833252, 0.131106439916626};
constexpr double kLowA[3] = {1, -0.747789178258503, 0.272214937925007};

// The smoothed histogram's first maximum, and the peaks of it; the first
// peak (the maximum when there is none).
int SmoothedPeak(const double* raw, bool last) {
  double S[kSizeBins];
  if (DigfiltfilterF(raw, S, kSizeBins, kLowA, kLowB, 3) != 0) return 0;
  int at = 0;
  for (int i = 0; i < kSizeBins; ++i) {
    if (S[i] < 1) S[i] = 0;
    if (S[i] > S[at]) at = i;
  }
  int peaks[kSizeBins], valleys[kSizeBins], nPeaks = 0, nValleys = 0;
  GetHistPeackFunction(S, kSizeBins, S[at], at, peaks, &nPeaks, valleys, &nValleys);
  if (nPeaks == 0) return at;
  return last ? peaks[nPeaks - 1] : peaks[0];
}

}  // namespace

void GetHistPeackFunction(const double* hist, int count, double max, int pos, int* peaks, int* peakCount, int* valleys,
                          int* valleyCount) {
  int np = 0, nv = 0;
  for (int i = 27; i + 1 < count; ++i) {
    const double step = hist[i] - hist[i - 1], next = hist[i + 1] - hist[i], before = hist[i - 1] - hist[i - 2];
    if (step > 0 && next <= 0 && (step > 0.02 * max || std::fabs(before) > 0.02 * max)) peaks[np++] = i;
    if (step < 0 && next >= 0 && -step > 0.01 * max) valleys[nv++] = i;
  }
  bool near = false;
  for (int k = 0; k < np; ++k) near |= std::abs(peaks[k] - pos) <= 2;
  if (!near && max > 0 && pos >= 0 && pos < count) {
    int k = np++;
    for (; k > 0 && peaks[k - 1] > pos; --k) peaks[k] = peaks[k - 1];
    peaks[k] = pos;
  }
  *peakCount = np, *valleyCount = nv;
}

int intelligenceStainNoiseAnalyzeFunction(const uint8_t* page, int height, int width, int sensitivity,
                                          const int* params, int* stain, int* noise) {
  if (!page || !stain || !noise || height <= 0 || width <= 0) return -1;
  const double s = std::min(1.0, 640.0 / std::min(height, width));
  const int h = int(std::ceil(height * s)), w = int(std::ceil(width * s));
  std::vector<uint8_t> resized, binary, strength, bits;
  try {
    const uint8_t* work = page;
    if (s < 1) {
      resized.assign(size_t(h) * w, 0);
      ippiResizeFunction(page, height, width, resized.data(), h, w, s);
      work = resized.data();
    }
    binary.assign(size_t(h) * w, 1);
    strength.assign(size_t(h) * w, 0);
    int results[16] = {};
    const int mixWeight = params ? params[0] : 5, weight = params ? params[1] : 4;
    // The binarizer's level is 26 less its offset.
    if (Gray2BinImageForNoiseF(work, binary.data(), strength.data(), h, w, sensitivity, 0, mixWeight, weight, nullptr,
                               0, 1, 3, results) != 0)
      return -1;
    // Black pieces as set bits for the labelling.
    const int bpl = (w + 7) / 8;
    bits.assign(size_t(bpl) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (binary[size_t(y) * w + x] == 0) bits[size_t(y) * bpl + x / 8] |= uint8_t(0x80 >> (x % 8));
    ABITMAP bitmap{bits.data(), uint64_t(bits.size()), 1, w, h, bpl};
    LBL_DATA labels{};
    const int rc = lbl_main2(&bitmap, nullptr, &labels);
    double sizes[kSizeBins] = {}, codes[kSizeBins] = {};
    for (int64_t l = 1; rc == 0 && l <= labels.maxlabel; ++l) {
      const KRECT& r = labels.rects[l];
      const int side = std::max(r.xmax - r.xmin, r.ymax - r.ymin) + 1;
      sizes[std::min(side, kSizeBins - 1)] += 1;
    }
    lbl_free2(&labels);
    if (rc != 0) return -1;
    // Edge strengths are grey steps / 4, so at most 63.
    for (uint8_t v : strength)
      if (v >= 1 && v < kSizeBins) codes[v] += 1;
    *stain = SmoothedPeak(sizes, true);
    *noise = SmoothedPeak(codes, false);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}
