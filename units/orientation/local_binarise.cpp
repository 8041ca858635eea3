#include "local_binarise.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace turnsense {
namespace {

// (width + 1) x (height + 1) sums; 64-bit because the squares of a page of
// about a megapixel already pass the 32-bit range.
struct Integral {
  int w1 = 0;
  std::vector<int64_t> v;
  int64_t Sum(int x0, int y0, int x1, int y1) const {  // inclusive
    return v[size_t(y1 + 1) * w1 + x1 + 1] - v[size_t(y0) * w1 + x1 + 1] - v[size_t(y1 + 1) * w1 + x0] +
           v[size_t(y0) * w1 + x0];
  }
};

template <typename F>
bool BuildIntegral(int width, int height, Integral& out, F value) {
  try {
    out.w1 = width + 1;
    out.v.assign(size_t(width + 1) * (height + 1), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int y = 0; y < height; ++y) {
    int64_t row = 0;
    int64_t* cur = &out.v[size_t(y + 1) * out.w1 + 1];
    const int64_t* up = &out.v[size_t(y) * out.w1 + 1];
    for (int x = 0; x < width; ++x) {
      row += value(size_t(y) * width + x);
      cur[x] = up[x] + row;
    }
  }
  return true;
}

}  // namespace

namespace {

constexpr int64_t kExactInDouble = int64_t(1) << 53;

// Sauvola over running column sums of type T (32-bit when a window column
// of squares fits, else 64-bit).
template <typename T>
int Sauvola(int width, int height, const uint8_t* src, uint8_t* dst, int radius, double k, int range) {
  // Window sums come from running column sums over the window's rows and,
  // on rows that hold a dark pixel, their prefix sums along the row: the
  // same sums as integral images give, in arrays of one row. The prefix
  // sums of squares are 64-bit: over a page they pass the 32-bit range.
  std::vector<T> col, col_sq;
  std::vector<int64_t> pre, pre_sq;
  try {
    col.assign(size_t(width), 0);
    col_sq.assign(size_t(width), 0);
    pre.assign(size_t(width) + 1, 0);
    pre_sq.assign(size_t(width) + 1, 0);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::memset(dst, 255, size_t(width) * height);
  const double factor = (k * k) / (double(range) * range);
  T* __restrict c = col.data();
  T* __restrict c2 = col_sq.data();
  auto add_row = [&](int y) {
    const uint8_t* a = src + size_t(y) * width;
    for (int x = 0; x < width; ++x) c[x] += T(a[x]), c2[x] += T(a[x]) * T(a[x]);
  };
  auto drop_row = [&](int y) {
    const uint8_t* b = src + size_t(y) * width;
    for (int x = 0; x < width; ++x) c[x] -= T(b[x]), c2[x] -= T(b[x]) * T(b[x]);
  };
  auto slide = [&](int in, int out) {
    const uint8_t* a = src + size_t(in) * width;
    const uint8_t* b = src + size_t(out) * width;
    for (int x = 0; x < width; ++x) {
      const T va = a[x], vb = b[x];
      c[x] += va - vb;
      c2[x] += (va - vb) * (va + vb);
    }
  };
  int lo = 0, hi = 0;  // rows in the column sums: [lo, hi)
  for (int y = 0; y < height; ++y) {
    // The window leaves out the first row and column near the top and left
    // edges; on a one-pixel-wide page that would leave nothing, so the
    // window then keeps that edge.
    int y0 = std::max(0, y - radius - 1) + 1;
    const int y1 = std::min(height - 1, y + radius);
    if (y0 > y1) y0 = y1;
    while (hi <= y1 && lo < y0) slide(hi++, lo++);
    while (hi <= y1) add_row(hi++);
    while (lo < y0) drop_row(lo++);
    const uint8_t* s = src + size_t(y) * width;
    int dark = 0;
    for (int x = 0; x < width; ++x) dark += s[x] < 200;
    if (dark == 0) continue;
    // A row with few dark pixels sums their windows directly; others take
    // the prefix sums of the whole row.
    const bool direct = int64_t(dark) * (2 * int64_t(radius) + 1) < width;
    if (!direct)
      for (int x = 0; x < width; ++x) {
        pre[size_t(x) + 1] = pre[size_t(x)] + c[x];
        pre_sq[size_t(x) + 1] = pre_sq[size_t(x)] + c2[x];
      }
    const int64_t rows = y1 - y0 + 1;
    uint8_t* d = dst + size_t(y) * width;
    for (int x = 0; x < width; ++x) {
      const int p = s[x];
      if (p >= 200) continue;
      int x0 = std::max(0, x - radius - 1) + 1;
      const int x1 = std::min(width - 1, x + radius);
      if (x0 > x1) x0 = x1;
      int64_t sum = 0, sum_sq = 0;
      if (direct) {
        for (int i = x0; i <= x1; ++i) sum += c[i], sum_sq += c2[i];
      } else {
        sum = pre[size_t(x1) + 1] - pre[size_t(x0)];
        sum_sq = pre_sq[size_t(x1) + 1] - pre_sq[size_t(x0)];
      }
      const int64_t area = int64_t(x1 - x0 + 1) * rows;
      int64_t m, v;
      if (sum_sq < kExactInDouble) {
        // Truncated double quotients of integers below 2^53 are the integer
        // quotients, at a fraction of a 64-bit division's cost.
        const double a = double(area);
        m = int64_t(double(sum) / a);
        v = int64_t(double(sum_sq) / a) - m * m;
      } else {
        m = sum / area;
        v = sum_sq / area - m * m;
      }
      const double t = p - double(m) * (1.0 - k);
      if (t < 0 || t * t < double(m) * double(m) * factor * double(v)) d[x] = 0;
    }
  }
  return 0;
}

}  // namespace

int AdaptiveSauvola_parallel(int width, int height, const uint8_t* src, uint8_t* dst, int radius, double k, int range) {
  if (width <= 0 || height <= 0) return 0;
  const int64_t window_rows = std::min<int64_t>(2 * int64_t(std::max(radius, 0)) + 1, height);
  if (window_rows * 65025 <= INT32_MAX) return Sauvola<int32_t>(width, height, src, dst, radius, k, range);
  return Sauvola<int64_t>(width, height, src, dst, radius, k, range);
}

void GlobalOtsu(int width, int height, const uint8_t* src, uint8_t* dst) {
  const size_t n = size_t(std::max(width, 0)) * std::max(height, 0);
  if (n == 0) return;
  double hist[256] = {};
  for (size_t i = 0; i < n; ++i) hist[src[i]] += 1;
  for (double& h : hist) h /= double(n);
  double best = -1e10;
  int threshold = 0;
  for (int t = 1; t <= 254; ++t) {
    double w0 = 0, s0m = 0;
    for (int i = 0; i <= t; ++i) w0 += hist[i], s0m += i * hist[i];
    const double w1 = 1.0 - w0;
    if (!(w0 > 0 && w0 < 1)) continue;
    double s1m = 0;
    for (int i = t + 1; i < 256; ++i) s1m += i * hist[i];
    const double m0 = s0m / w0, m1 = s1m / w1;
    double s0 = 0, s1 = 0;
    for (int i = 0; i <= t; ++i) s0 += (i - m0) * (i - m0) * hist[i];
    for (int i = t + 1; i < 256; ++i) s1 += (i - m1) * (i - m1) * hist[i];
    const double score = w0 * w1 * (m0 - m1) * (m0 - m1) / (s0 + s1);
    if (score > best) best = score, threshold = t;
  }
  for (size_t i = 0; i < n; ++i) dst[i] = src[i] <= threshold ? 0 : 255;
}

int MeanFilterImage(int width, int height, const uint8_t* src, uint8_t* dst) {
  if (width <= 0 || height <= 0) return 0;
  Integral sum, count;
  if (!BuildIntegral(width, height, sum, [&](size_t i) { return int64_t(src[i]); }) ||
      !BuildIntegral(width, height, count, [&](size_t i) { return int64_t(src[i] != 0); }))
    return -1;
  constexpr int r = 10;
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(0, y - r), y1 = std::min(height - 1, y + r);
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(0, x - r), x1 = std::min(width - 1, x + r);
      const int64_t c = count.Sum(x0, y0, x1, y1);
      if (c > 0) dst[size_t(y) * width + x] = uint8_t(sum.Sum(x0, y0, x1, y1) / c);
    }
  }
  return 0;
}

int AdaptiveSurface(int width, int height, const uint8_t* src, uint8_t* dst, argZheng params) {
  if (width <= 0 || height <= 0) return 0;
  const size_t n = size_t(width) * height;
  std::vector<uint8_t> work, surface;
  try {
    work.assign(src, src + n);
    surface.assign(n, 0);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  // Three passes: ink found against the previous surface is left out of the
  // next mean, so the surface settles on the paper.
  for (int pass = 0; pass < 3; ++pass) {
    if (int rc = MeanFilterImage(width, height, work.data(), surface.data())) return rc;
    if (pass == 2) break;
    for (size_t i = 0; i < n; ++i) work[i] = src[i] < 0.9 * surface[i] ? 0 : src[i];
  }
  Integral diff;
  if (!BuildIntegral(width, height, diff, [&](size_t i) { return int64_t(surface[i]) - src[i]; })) return -1;
  const int r = params.radius;
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(0, y - r), y1 = std::min(height - 1, y + r);
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(0, x - r), x1 = std::min(width - 1, x + r);
      double d = double(diff.Sum(x0, y0, x1, y1)) / (double(x1 - x0 + 1) * (y1 - y0 + 1));
      if (d < params.floor) d = 2.0 * params.floor - d;
      const size_t i = size_t(y) * width + x;
      dst[i] = surface[i] - d * params.weight <= src[i] ? 255 : 0;
    }
  }
  return 0;
}

bool is_overlap(int a1, int a2, int b1, int b2) { return a1 <= b2 && a2 >= b1; }

float overlap_rate(int a1, int a2, int b1, int b2) {
  int la, lb, common;
  return overlap_rate1(a1, a2, b1, b2, la, lb, common);
}

float overlap_rate1(int a1, int a2, int b1, int b2, int& length_a, int& length_b, int& overlap) {
  if (!is_overlap(a1, a2, b1, b2)) return 0.0f;
  const int la = a2 - a1 + 1, lb = b2 - b1 + 1;
  const int span = std::max(a2, b2) - std::min(a1, b1) + 1;
  length_a = la;
  length_b = lb;
  overlap = la + lb - span;
  return float(la + lb) / float(span) - 1.0f;
}

}  // namespace turnsense
