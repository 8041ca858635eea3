#include "self_binarizer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "band_threads.h"
#include "edge_rule.h"
#include "edge_threshold.h"
#include "i3ip_share.h"
#include "unit_log.h"

namespace {

// The rows of [y0, y1) that lie inside the 2-pixel border.
bool Interior(int height, int& y0, int& y1) {
  y0 = std::max(y0, 2);
  y1 = std::min(y1, height - 2);
  return y0 < y1;
}

constexpr int32_t kSumKernel[25] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

int ConvertRows(const uint8_t* src, int16_t* dst, int width, int y0, int y1) {
  if (y0 >= y1) return 0;
  const IppiSize roi{width, y1 - y0};
  const size_t at = size_t(y0) * width;
  return g_i3ipShare.Convert_8u16s_C1R(src + at, width, dst + at, width * 2, roi) == ippStsNoErr ? 0 : -1;
}

int LogRows(const int16_t* src, int16_t* dst, int height, int width, int y0, int y1) {
  if (!Interior(height, y0, y1)) return 0;
  const IppiSize roi{width - 4, y1 - y0};
  const size_t at = size_t(y0) * width + 2;
  const IppStatus rc = g_i3ipShare.Filter_16s_C1R(src + at, width * 2, dst + at, width * 2, roi, edge_rule::kLog,
                                                  IppiSize{5, 5}, IppiPoint{2, 2}, 1);
  if (rc != ippStsNoErr) I3Log(I3LOG_ERROR, "%s enmRet=%d", "FilterGaussLaplacianIpp", rc);
  return rc == ippStsNoErr ? 0 : -1;
}

void EdgeRows(const uint8_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height, int width, int l1,
              int l2, int y0, int y1) {
  for (int y = y0; y < y1; ++y) {
    const size_t row = size_t(y) * width;
    std::memset(edge + row, 0, size_t(width));
    if (strength) std::memset(strength + row, 0, size_t(width));
    if (y < 2 || y >= height - 2) continue;
    for (int x = 2; x < width - 2; ++x) {
      const size_t at = row + x;
      const int step = edge_rule::EdgeStep(grey + at, width, log + at - width, log + at, log + at + width, l1, l2);
      if (step < 0) continue;
      edge[at] = 1;
      if (strength) strength[at] = uint8_t(std::min(step / 4, 255));
    }
  }
}

void Ic4Rows(const uint8_t* grey, const uint8_t* edge, int16_t* level, int* hist1, int* hist2, int width, int mixWeight,
             int y0, int y1) {
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t at = size_t(y) * width + x;
      level[at] = 0;
      if (!edge[at]) continue;  // edges keep 2 pixels from every side
      int m = 255;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (dx || dy) m = std::min<int>(m, grey[at + dx + std::ptrdiff_t(dy) * width]);
      const int g = grey[at];
      ++hist1[std::min(m, g) / 4];
      ++hist2[g / 4];
      level[at] = int16_t((mixWeight * g + m * (8 - mixWeight)) / 8);
    }
}

int Sum16Rows(const int16_t* level, int16_t* sum, int height, int width, int threshold, int y0, int y1) {
  if (!Interior(height, y0, y1)) return 0;
  const IppiSize roi{width - 4, y1 - y0};
  const size_t at = size_t(y0) * width + 2;
  if (g_i3ipShare.Filter_16s_C1R(level + at, width * 2, sum + at, width * 2, roi, kSumKernel, IppiSize{5, 5},
                                 IppiPoint{2, 2}, 1) != ippStsNoErr)
    return -1;
  return g_i3ipShare.Threshold_LTVal_16s_C1IR(sum + at, width * 2, roi, 1, int16_t(threshold)) == ippStsNoErr ? 0 : -1;
}

int Sum8Rows(const uint8_t* edge, uint8_t* count, int height, int width, int y0, int y1) {
  if (!Interior(height, y0, y1)) return 0;
  const IppiSize roi{width - 4, y1 - y0};
  const size_t at = size_t(y0) * width + 2;
  if (g_i3ipShare.Filter_8u_C1R(edge + at, width, count + at, width, roi, kSumKernel, IppiSize{5, 5}, IppiPoint{2, 2},
                                1) != ippStsNoErr)
    return -1;
  return g_i3ipShare.Threshold_LTVal_8u_C1IR(count + at, width, roi, 1, 1) == ippStsNoErr ? 0 : -1;
}

void BinRows(const uint8_t* grey, const uint8_t* count, const int16_t* sum, uint8_t* dst, int width, int y0, int y1) {
  for (size_t at = size_t(y0) * width, end = size_t(y1) * width; at < end; ++at)
    dst[at] = int(grey[at]) * count[at] >= sum[at] ? 1 : 0;
}

void IsolatedRows(const uint8_t* src, uint8_t* dst, int height, int width, int y0, int y1) {
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t at = size_t(y) * width + x;
      dst[at] = src[at];
      if (!src[at]) continue;
      int near = 0, block = 0;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          const int yy = y + dy, xx = x + dx;
          if ((!dx && !dy) || yy < 0 || yy >= height || xx < 0 || xx >= width) continue;
          if (!src[size_t(yy) * width + xx]) continue;
          ++block;
          if (std::abs(dx) <= 1 && std::abs(dy) <= 1) ++near;
        }
      if (near <= 2 && block <= 2) dst[at] = 0;
    }
}

bool Bound() {
  return g_i3ipShare.Convert_8u16s_C1R && g_i3ipShare.Filter_16s_C1R && g_i3ipShare.Filter_8u_C1R &&
         g_i3ipShare.Threshold_LTVal_16s_C1IR && g_i3ipShare.Threshold_LTVal_8u_C1IR;
}

bool SmallForLog(int height, int width) {
  if (height >= 10 && width >= 10) return false;
  I3Log(I3LOG_ERROR, "%s height=%d width=%d", "FilterGaussLaplacianIpp", height, width);
  return true;
}

}  // namespace

int ippiConvert_8u16s_C1REx(const uint8_t* src, int16_t* dst, int height, int width, int n) {
  if (!Bound()) return -1;
  return RunBands(n, height, [&](int y0, int y1) { return ConvertRows(src, dst, width, y0, y1); });
}

int FilterGaussLaplacianIpp(const int16_t* src, int16_t* dst, int height, int width) {
  return FilterGaussLaplacianIppEx(src, dst, height, width, 1);
}

int FilterGaussLaplacianIppEx(const int16_t* src, int16_t* dst, int height, int width, int n) {
  if (!Bound() || SmallForLog(height, width)) return -1;
  return RunBands(n, height, [&](int y0, int y1) { return LogRows(src, dst, height, width, y0, y1); });
}

void Set4SideShortMemery(int16_t* image, int height, int width, int n, int16_t value) {
  n = std::min({n, height, width});
  for (int y = 0; y < height; ++y) {
    int16_t* row = image + size_t(y) * width;
    if (y < n || y >= height - n) {
      std::fill(row, row + width, value);
    } else {
      std::fill(row, row + n, value);
      std::fill(row + width - n, row + width, value);
    }
  }
}

void Set4SideByteMemery(uint8_t* image, int height, int width, int n, uint8_t value) {
  n = std::min({n, height, width});
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image + size_t(y) * width;
    if (y < n || y >= height - n) {
      std::memset(row, value, size_t(width));
    } else {
      std::memset(row, value, size_t(n));
      std::memset(row + width - n, value, size_t(n));
    }
  }
}

int CreateEdge2Ipp(const uint8_t* grey, const int16_t* log, uint8_t* edge, int height, int width, int l1, int l2) {
  EdgeRows(grey, log, edge, nullptr, height, width, l1, l2, 0, height);
  return 0;
}

int CreateEdge2IppForNoiseF(const uint8_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height,
                            int width, int l1, int l2) {
  EdgeRows(grey, log, edge, strength, height, width, l1, l2, 0, height);
  return 0;
}

int CreateEdge2IppEx(const uint8_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height, int width,
                     int l1, int l2, int n) {
  return RunBands(n, height, [&](int y0, int y1) {
    EdgeRows(grey, log, edge, strength, height, width, l1, l2, y0, y1);
    return 0;
  });
}

int CreateEdgeIc4Ipp(const uint8_t* grey, const uint8_t* edge, int16_t* level, int* hist1, int* hist2, int height,
                     int width, int mixWeight) {
  Ic4Rows(grey, edge, level, hist1, hist2, width, mixWeight, 0, height);
  return 0;
}

int CreateEdgeIc4IppEx(const uint8_t* grey, const uint8_t* edge, int16_t* level, int* hist1, int* hist2, int height,
                       int width, int mixWeight, int n) {
  // Each band counts into its own histograms; they are added after the join.
  std::array<std::array<int, 128>, kMaxBands> local{};
  const int rc = RunBands(n, height, [&](int y0, int y1, int i) {
    Ic4Rows(grey, edge, level, local[size_t(i)].data(), local[size_t(i)].data() + 64, width, mixWeight, y0, y1);
    return 0;
  });
  for (const auto& h : local)
    for (int i = 0; i < 64; ++i) hist1[i] += h[size_t(i)], hist2[i] += h[size_t(i) + 64];
  return rc;
}

int CreateSumFilter16SIpp(const int16_t* level, int16_t* sum, int height, int width, int threshold) {
  return CreateSumFilter16SIppEx(level, sum, height, width, threshold, 1);
}

int CreateSumFilter8UIpp(const uint8_t* edge, uint8_t* count, int height, int width) {
  return CreateSumFilter8UIppEx(edge, count, height, width, 1);
}

int CreateSumFilter16SIppEx(const int16_t* level, int16_t* sum, int height, int width, int threshold, int n) {
  if (!Bound() || height < 5 || width < 5) return -1;
  const int rc =
      RunBands(n, height, [&](int y0, int y1) { return Sum16Rows(level, sum, height, width, threshold, y0, y1); });
  Set4SideShortMemery(sum, height, width, 2, -1);
  return rc;
}

int CreateSumFilter8UIppEx(const uint8_t* edge, uint8_t* count, int height, int width, int n) {
  if (!Bound() || height < 5 || width < 5) return -1;
  const int rc = RunBands(n, height, [&](int y0, int y1) { return Sum8Rows(edge, count, height, width, y0, y1); });
  Set4SideByteMemery(count, height, width, 2, 255);
  return rc;
}

int CreateSumFilterIppEx(const int16_t* level, int16_t* sum, const uint8_t* edge, uint8_t* count, int height, int width,
                         int threshold, int n) {
  if (n <= 1)
    return CreateSumFilter16SIpp(level, sum, height, width, threshold) |
           CreateSumFilter8UIpp(edge, count, height, width);
  // The two sums side by side, half of the threads each.
  const int half = std::max(1, n / 2);
  int rc16 = 0;
  std::thread levels;
  try {
    levels = std::thread([&] { rc16 = CreateSumFilter16SIppEx(level, sum, height, width, threshold, half); });
  } catch (const std::system_error&) {
    rc16 = CreateSumFilter16SIppEx(level, sum, height, width, threshold, half);
  }
  const int rc8 = CreateSumFilter8UIppEx(edge, count, height, width, std::max(1, n - half));
  if (levels.joinable()) levels.join();
  return rc16 | rc8;
}

int CreateBinImg3Ipp(const uint8_t* grey, const uint8_t* count, const int16_t* sum, uint8_t* dst, int height,
                     int width) {
  BinRows(grey, count, sum, dst, width, 0, height);
  return 0;
}

int CreateBinImg3IppEx(const uint8_t* grey, const uint8_t* count, const int16_t* sum, uint8_t* dst, int height,
                       int width, int n) {
  return RunBands(n, height, [&](int y0, int y1) {
    BinRows(grey, count, sum, dst, width, y0, y1);
    return 0;
  });
}

int RemoveisolatedNoiseEdge(const uint8_t* src, uint8_t* dst, int height, int width) {
  IsolatedRows(src, dst, height, width, 0, height);
  return 0;
}

int RemoveisolatedNoiseEdgeEx(const uint8_t* src, uint8_t* dst, int height, int width, int n) {
  return RunBands(n, height, [&](int y0, int y1) {
    IsolatedRows(src, dst, height, width, y0, y1);
    return 0;
  });
}

int Gray2BinImageForNoiseF(const uint8_t* src, uint8_t* dst, uint8_t* edgeMap, int height, int width, int offset,
                           int adjust, int mixWeight, int weight, int* /*kernel*/, uint8_t /*flagA*/, int bands,
                           int mode, int* results) {
  if (!src || !dst || height < 1 || width < 1) return -1;
  const int a = std::clamp(26 - offset, -20, 100);
  const int l1 = 3 * a + 60, l2 = std::max(0, 4 * a);
  const size_t n = size_t(width) * height;
  std::unique_ptr<int16_t[]> wide, log, level, sum;
  std::unique_ptr<uint8_t[]> edge, strength, count;
  try {
    wide.reset(new int16_t[n]);
    log.reset(new int16_t[n]());
    level.reset(new int16_t[n]);
    sum.reset(new int16_t[n]);
    edge.reset(new uint8_t[n]);
    strength.reset(new uint8_t[n]);
    count.reset(new uint8_t[n]);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (ippiConvert_8u16s_C1REx(src, wide.get(), height, width, bands) != 0 ||
      FilterGaussLaplacianIppEx(wide.get(), log.get(), height, width, bands) != 0)
    return -1;
  Set4SideShortMemery(log.get(), height, width, 2, 0);
  CreateEdge2IppEx(src, log.get(), edge.get(), strength.get(), height, width, l1, l2, bands);
  int hist1[64] = {}, hist2[64] = {};
  CreateEdgeIc4IppEx(src, edge.get(), level.get(), hist1, hist2, height, width, std::clamp(mixWeight, 0, 8), bands);
  uint8_t t = 0;
  CreateSTreshold(hist1, hist2, 64, adjust, &t, weight);
  if (results) {
    if (mode & 0xF0000000)
      t = uint8_t(results[10] & 0xFF);
    else
      results[10] = t;
  }
  if (CreateSumFilterIppEx(level.get(), sum.get(), edge.get(), count.get(), height, width, t, bands) != 0) return -1;
  CreateBinImg3IppEx(src, count.get(), sum.get(), dst, height, width, bands);
  if (edgeMap) std::memcpy(edgeMap, strength.get(), n);
  return 0;
}
