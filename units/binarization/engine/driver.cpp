#include "driver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <unistd.h>

#include "analysis.h"
#include "copy_mark.h"
#include "edge_threshold.h"
#include "i3ip_share.h"
#include "morphology.h"
#include "page_buffer.h"
#include "post_bands.h"
#include "tone.h"
#include "unit_log.h"
#include "unit_profile.h"

namespace {

int TopNibble(int mode) { return int((unsigned(mode) >> 28) & 0xF); }
bool PostOnly(int mode) {
  return (unsigned(mode) & 0xD0000000u) == 0x90000000u || TopNibble(mode) == 10;
}

// Spreads the page (width x height at the front of `buf`) into the padded
// layout, replicating its edge pixels into the margin.
void AddMargin(uint8_t* buf, int height, int width, int margin) {
  const int W2 = width + 2 * margin;
  for (int y = height - 1; y >= 0; --y)
    std::memmove(buf + size_t(y + margin) * W2 + margin, buf + size_t(y) * width, size_t(width));
  for (int y = margin; y < height + margin; ++y) {
    uint8_t* row = buf + size_t(y) * W2;
    std::memset(row, row[margin], size_t(margin));
    std::memset(row + margin + width, row[margin + width - 1], size_t(margin));
  }
  for (int y = 0; y < margin; ++y) {
    std::memcpy(buf + size_t(y) * W2, buf + size_t(margin) * W2, size_t(W2));
    std::memcpy(buf + size_t(height + margin + y) * W2, buf + size_t(height + margin - 1) * W2, size_t(W2));
  }
}

// Step 8 of the driver: the prefilter type from the noise analysis, from
// result 9 (top nibble 8) or from mode bits 10-12.
int ChoosePrefilter(const uint8_t* page, int height, int width, int mode, bool top8, int* results, int* na) {
  if (top8) return results[9];
  if ((mode & 0x2004) != 0x2004) return (mode >> 10) & 7;
  // Without the analysis (no memory) the page is not prefiltered.
  if (ImageNoiseFilterAnalyzeFunction(page, height, width, na) != 0) std::fill(na, na + 16, 0);
  return results[9] = na[2];
}

// Median prefilter of types 1 to 5 into `out`; false when none ran.
bool Prefilter(const uint8_t* page, uint8_t* out, int height, int width, int type) {
  return type >= 1 && type <= 5 &&
         FilterMedianIpp(page, out, height, width, type <= 2 ? 3 : type <= 4 ? 5 : 7, type == 1 || type == 3 ? 0 : 1) ==
             0;
}

// Step 11: result 2 from the background analysis, cleared again on pages
// that the noise analysis classed as plain.
void BackgroundAdjust(const uint8_t* image, int height, int width, const int* params, int mode, bool top8,
                      int* results, bool log) {
  results[2] = 0;
  int err = 0;
  if ((mode & 4) && !top8) {
    err = advancedprocess(image, height, width, 320, params, results, (mode >> 7) & 7);
    if (err != 0) results[2] = 0;
  }
  const int before = results[2];
  if ((mode & 0x2004) == 0x2004 && !top8 && (results[12] == 1 || (results[12] == 2 && results[13] == 1)))
    results[2] = 0;
  if (log)
    I3Log(I3LOG_TRACE, "iDTC BackgroundAnalisys [Err=%d Ana:NotBK=%d Auto_Adjust=%d=>%d]", err, results[12], before,
          results[2]);
}

// Step 12: the threshold offset, from the sensitivity's share `base`.
int SensitivityOffset(int base, int mode, int* na, const int* results) {
  int offset = base - results[2];
  if ((mode & 0x2004) == 0x2004) {
    if (na[1] < 0 && na[2] == 0 && results[12] == 1) na[1] = 0;
    if (results[2] == 0) offset += na[1];
  }
  return offset;
}

void CopyInterior(const uint8_t* padded, uint8_t* out, int height, int width, int margin) {
  const int W2 = width + 2 * margin;
  for (int y = 0; y < height; ++y)
    std::memcpy(out + size_t(y) * width, padded + size_t(y + margin) * W2 + margin, size_t(width));
}

}  // namespace

void CreateLogFilter(double sigma, int n, int* kernel) {
  const int h = n / 2;
  std::vector<double> g(size_t(n) * n), l(size_t(n) * n);
  double sum = 0;
  for (int y = -h; y <= h; ++y)
    for (int x = -h; x <= h; ++x) sum += g[size_t((y + h) * n + x + h)] = std::exp(-(x * x + y * y) / (2 * sigma * sigma));
  double mean = 0;
  const double s2 = sigma * sigma;
  for (int y = -h; y <= h; ++y)
    for (int x = -h; x <= h; ++x) {
      const size_t i = size_t((y + h) * n + x + h);
      if (sum != 0) g[i] /= sum;
      mean += l[i] = (x * x + y * y - 2 * s2) / (s2 * s2) * g[i];
    }
  mean /= double(n) * n;
  for (double& v : l) v -= mean;
  const double centre = l[size_t(h * n + h)];
  for (size_t i = 0; i < l.size(); ++i) kernel[i] = int(l[i] * -128.5 / centre);
}

void GetFilterModulus(int s, int* kernel) { CreateLogFilter(1 + (s - 5) * 0.022222222222222223, 5, kernel); }

void GetDeviceParam(int* mode, int* params, int* kernel) {
  static const int kDefaults[kBinParams] = {0, 0, 25, 0, 0, 0, 0, 0, 5, 4, 1000, 1, 0, 10, 50, 50};
  *mode = 7;
  std::memcpy(params, kDefaults, sizeof kDefaults);
  CreateLogFilter(params[10] / 1000.0, 5, kernel);
}

int FilterMedianIpp(const uint8_t* src, uint8_t* dst, int height, int width, int maskSize, int type) {
  const int b = maskSize / 2;
  if (width <= 2 * b || height <= 2 * b) return -1;
  std::memcpy(dst, src, size_t(height) * width);
  const IppiSize roi{width - 2 * b, height - 2 * b};
  const uint8_t* s = src + size_t(b) * width + b;
  uint8_t* d = dst + size_t(b) * width + b;
  const I3ipShareBinding& p = g_i3ipShare;
  int rc;
  if (type == 1)
    rc = p.FilterMedian_8u_C1R(s, width, d, width, roi, IppiSize{maskSize, maskSize}, IppiPoint{b, b});
  else if (type == 2 || type == 3)
    rc = p.FilterMedianWeightedCenter3x3_8u_C1R(s, width, d, width, roi, type == 2 ? 3 : 5);
  else
    rc = p.FilterMedianCross_8u_C1R(s, width, d, width, roi, maskSize == 3 ? ippMskSize3x3 : ippMskSize5x5);
  return rc == 0 ? 0 : -1;
}

int PostProImage(const uint8_t* src, uint8_t* dst, int height, int width, const int* params, int mode, int*,
                 uint8_t allProcessors, int threads) {
  const int online = int(sysconf(_SC_NPROCESSORS_ONLN));
  if (online > 0 && (allProcessors || threads > online)) threads = online;
  const int t = std::min(threads, 4);
  const bool bands = threads != 1;
  const int g = params[5] <= 0 ? 0 : std::min(params[5] + 2, 7);
  const int h = std::min(params[7], 30);
  const int r = ((mode & 0x10) ? params[6] : 0) + ((mode & 0x40) ? params[12] : 0);
  const int m = std::clamp(r, -6, 6);
  const bool stain = h > 0, couplay = g > 0 && (mode & 0x08), line = (mode & 0x50) && r != 0;
  if (!stain && !couplay && !line) return -1;
  const size_t n = size_t(height) * width;
  std::memcpy(dst, src, n);
  uint8_t* work = static_cast<uint8_t*>(std::malloc(n));
  if (!work) return -1;
  auto removeStain = [&](const uint8_t* from, uint8_t* to) {
    const _MARGINPTXYSIZE none{0, 0, 0, 0};
    return bands ? RemoveStainNewEx(from, to, height, width, h, none, t) : RemoveStainNew(from, to, height, width, h, none);
  };
  auto couplayFilter = [&](const uint8_t* from, uint8_t* to) {
    return bands ? CouplayFilterIppEx(from, to, height, width, g, t) : CouplayFilterIpp(from, to, height, width, g);
  };
  auto lineFilter = [&](const uint8_t* from, uint8_t* to) {
    return bands ? LineFilterIppEx(from, to, height, width, m, t) : LineFilterIpp(from, to, height, width, m);
  };
  int rc;
  if (stain && couplay && line) {
    const bool cleaned = removeStain(src, dst) == 0;
    if (!cleaned && bands) {
      rc = -1;
    } else {
      const uint8_t* page = cleaned ? dst : src;
      std::memcpy(work, page, n);
      const bool ok = couplayFilter(page, work) == 0;
      std::vector<uint8_t> in(ok ? work : page, (ok ? work : page) + n);
      rc = lineFilter(in.data(), dst);
    }
  } else if (stain && couplay) {
    std::memcpy(work, src, n);
    rc = removeStain(src, work) == 0 ? couplayFilter(work, dst) : -1;
  } else if (stain && line) {
    std::memcpy(work, src, n);
    const bool cleaned = removeStain(src, work) == 0;
    rc = !cleaned && bands ? -1 : lineFilter(cleaned ? work : src, dst);
  } else if (couplay && line) {
    std::memcpy(work, src, n);
    rc = lineFilter(couplayFilter(src, work) == 0 ? work : src, dst);
  } else if (stain) {
    rc = removeStain(src, dst);
  } else if (couplay) {
    rc = couplayFilter(src, dst);
  } else {
    rc = lineFilter(src, dst);
  }
  std::free(work);
  if (rc == 0 && bands && t >= 1) Set4SideByteMemery2(dst, height, width, g / 2, 1);
  return rc;
}

int TBinary2(uint8_t* src, uint8_t* dst, int height, int width, int margin, int* params, int mode, int* results,
             int* kernel) {
  I3Log(I3LOG_TRACE, "iDTC TBinary2 GaussFilter {-52:barance -53:Nobarance} F[3:3]=%d]", -52);
  const int kind = params[18];
  if (width < 9 || height < 9) {
    if (width > 0 && height > 0) std::memset(dst, 0, size_t((width + 7) / 8) * height);
    return -1;
  }
  // A page that is already black and white is not padded: only its
  // post-processing, copy-mark step and packing run.
  if (kind == 3) margin = 0;
  const int H2 = height + 2 * margin, W2 = width + 2 * margin;
  const size_t n2 = size_t(H2) * W2, n = size_t(height) * width;
  std::vector<uint8_t> owned;
  uint8_t* page = nullptr;
  if (kind == 3) {
    for (size_t i = 0; i < n; ++i)
      if (src[i] == 255) src[i] = 1;
    owned.resize(n);
    page = PostProImage(src, owned.data(), height, width, params, mode, results, 0, params[11]) == 0 ? owned.data()
                                                                                                       : src;
  } else {
    if (margin > 0) AddMargin(src, height, width, margin);
    // Post-processing alone leaves a padded byte image: only a caller that
    // asked for the byte image of an unpadded page has room for it.
    if (PostOnly(mode) && (kind != 1 || margin != 0)) return -1;
    if (PostOnly(mode)) return PostProImage(src, dst, H2, W2, params, mode & 0x0FFFFFFF, results, (mode >> 5) & 1,
                                            params[11]);
    results[3] = 0;
    PageBuffer firstBuffer, workBuffer;
    if (!firstBuffer.allocate(n2, false) || !workBuffer.allocate(n2, false)) return -1;
    uint8_t* first = firstBuffer.data();
    uint8_t* work = workBuffer.data();
    const bool top8 = TopNibble(mode) == 8;
    const bool noiseAnalysis = (mode & 0x2004) == 0x2004;
    int p = mode & 3;
    if ((mode & 4) || params[1] != 0) p |= 2;
    int na[16] = {};
    const int prefilter = ChoosePrefilter(src, H2, W2, mode, top8, results, na);
    const bool filtered = Prefilter(src, first, H2, W2, prefilter);
    I3Log(I3LOG_TRACE, "iDTC NoiseAnalyze param=[Prefilter=%d NAR0=%d NAR4=%d NAR5=%d PreMem=%d]", prefilter, na[0],
          na[4], na[5], (filtered ? 1 : 0) | (p ? 2 : 0));
    if (!top8) results[13] = na[0];
    uint8_t* image = src;
    if (filtered && p == 0) std::memcpy(src, first, n2);
    const uint8_t* source = filtered && p ? first : src;
    int sel = p;
    if (top8) sel |= int(0x80000000u);
    if (mode & 0x4000) sel |= 0x40000000;
    if (p || filtered) {
      // Without a prefilter the page is mapped in place: the work buffer
      // stays untouched (and costs nothing) unless post-processing runs.
      uint8_t* target = filtered ? work : src;
      if (p && PreProImage(source, H2, W2, params, sel, target, results, 320) == 0)
        image = target;
      else if (filtered && p)
        image = first;
    } else {
      PreProImage(src, H2, W2, params, sel, src, results, 320);
    }
    const int s = params[3];
    BackgroundAdjust(image, H2, W2, params, mode, top8, results, true);
    const int offset = SensitivityOffset(s >= 1 ? int((s - 1) * 0.5) : s == 0 ? 0 : 2 * s, mode, na, results);
    const unsigned start = GetTimeCounter();
    uint8_t* binarized = first == image ? work : first;
    if (Gray2BinImage(image, binarized, H2, W2, offset, params[4], params[8], params[9], kernel,
                      uint8_t((mode >> 5) & 1), params[11], mode, params[17] != 0, s > 0, results, kind) != 0) {
      return -1;
    }
    I3Log(I3LOG_INFO, "%s, Gray2BinImage took %u ms.", "I3ipBinarization.i3u.TBinary2", GetTimeCounter() - start);
    if (noiseAnalysis && prefilter >= 3) params[6] += 2, mode |= 0x10;
    if (kind == 1) {
      uint8_t* out = margin > 0 ? dst : binarized;
      if (margin > 0) CopyInterior(binarized, dst, height, width, margin);
      for (size_t i = 0; i < n; ++i) out[i] = out[i] ? 255 : 0;
      if (margin == 0) std::memcpy(dst, out, n);
      return 0;
    }
    uint8_t* post = binarized == first ? work : first;
    const uint8_t* result =
        PostProImage(binarized, post, H2, W2, params, mode, results, uint8_t((mode >> 5) & 1), params[11]) == 0
            ? post
            : binarized;
    if (margin == 0 && kind != 2) {  // packed straight from the work buffer
      bin2pac(result, dst, height, width);
      return 0;
    }
    owned.resize(n);
    if (margin > 0)
      CopyInterior(result, owned.data(), height, width, margin);
    else
      std::memcpy(owned.data(), result, n);
    page = owned.data();
  }
  if (kind == 2 || kind == 3) {
    if (params[23] == 0) params[23] = 1;
    const int rc = params[31] == 1 || params[20] == 999 ? -1 : MergeCopyMark(page, height, width, params);
    I3Log(I3LOG_TRACE, "iDTC TBinary2 WaterMarkRemoval mode=%d CopyMark=%d[0:On 1:Off] orientation=%d rc=%2d(-1:passed)]",
          params[20], params[31], params[23], rc);
  }
  bin2pac(page, dst, height, width);
  return 0;
}

int TBinaryOrientation(uint8_t* src, uint8_t* dst, int height, int width, int, int* params, int mode, int* results,
                       int* kernel) {
  I3Log(I3LOG_TRACE, "iDTC TBinaryOrientation GaussFilter (Orientation) {-52:barance -53:Nobarance} F[3:3]=%d]", -52);
  if (width < 9 || height < 9) {
    if (width > 0 && height > 0) std::memset(dst, 0, size_t(width) * height);
    return -1;
  }
  const size_t n = size_t(height) * width;
  std::vector<uint8_t> work, filtered;
  try {
    work.resize(n);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  const bool top8 = TopNibble(mode) == 8;
  int na[16] = {};
  const int prefilter = ChoosePrefilter(src, height, width, mode, top8, results, na);
  const uint8_t* source = src;
  if (prefilter >= 1 && prefilter <= 5) {
    try {
      filtered.resize(n);
    } catch (const std::bad_alloc&) {
      return -1;
    }
    if (Prefilter(src, filtered.data(), height, width, prefilter)) source = filtered.data();
  }
  if (!top8) results[13] = na[0];
  int p = mode & 3;
  if ((mode & 4) || params[1] != 0) p |= 2;
  const int sel = p | (mode & int(0x80000000u)) | ((mode & 0x4000) ? 0x40000000 : 0);
  // The caller's page is left as it came: the tone-mapped copy is ours.
  const uint8_t* image = PreProImage(source, height, width, params, sel, work.data(), results, 320) == 0
                             ? work.data()
                             : source;
  BackgroundAdjust(image, height, width, params, mode, top8, results, false);
  const int s = params[3];
  const int offset = SensitivityOffset(s >= 0 ? int(s * 0.5) : 2 * s, mode, na, results);
  if (image != work.data()) std::memcpy(work.data(), image, n);
  return Gray2BinImage(work.data(), dst, height, width, offset, params[4], params[8], params[9], kernel,
                       uint8_t((mode >> 5) & 1), params[11], mode, false, false, results, 0) == 0
             ? 0
             : -1;
}
