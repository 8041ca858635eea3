// The numerical routines of the engine that it does not call itself: the
// not-a-knot spline, two 5 x 5 sign filters, a determinant and a filter of
// point lists.
#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "filters.h"

namespace {

constexpr int kLaplacian[5][5] = {{46, 32, 19, 32, 46},
                                  {32, -28, -70, -28, 32},
                                  {19, -70, -128, -70, 19},
                                  {32, -28, -70, -28, 32},
                                  {46, 32, 19, 32, 46}};

// The weighted 5 x 5 sum around an inner pixel.
template <typename Kernel>
long Weighted(const uint8_t* src, int width, int y, int x, Kernel k) {
  long sum = 0;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) sum += long(k(i, j)) * src[size_t(y + i - 2) * width + (x + j - 2)];
  return sum;
}

// Slopes of the not-a-knot spline through n >= 4 points.
void SplineSlopes(const int* xs, int n, const std::vector<double>& h, const std::vector<double>& d,
                  std::vector<double>& s) {
  const size_t sn = size_t(n);
  std::vector<double> A(sn * sn, 0.0), r(sn);
  const int m = n - 1;
  const double x31 = xs[2] - xs[0], xn = xs[m] - xs[m - 2];
  A[0] = h[1], A[1] = x31;
  r[0] = ((h[0] + 2 * x31) * h[1] * d[0] + h[0] * h[0] * d[1]) / x31;
  for (int i = 1; i < m; ++i) {
    A[size_t(i) * sn + i - 1] = h[size_t(i)];
    A[size_t(i) * sn + i] = 2 * (h[size_t(i - 1)] + h[size_t(i)]);
    A[size_t(i) * sn + i + 1] = h[size_t(i - 1)];
    r[size_t(i)] = 3 * (h[size_t(i)] * d[size_t(i - 1)] + h[size_t(i - 1)] * d[size_t(i)]);
  }
  A[size_t(m) * sn + m - 1] = xn, A[size_t(m) * sn + m] = h[size_t(m - 2)];
  r[size_t(m)] = (h[size_t(m - 1)] * h[size_t(m - 1)] * d[size_t(m - 2)] +
                  (2 * xn + h[size_t(m - 1)]) * h[size_t(m - 2)] * d[size_t(m - 1)]) /
                 xn;
  GaussJordan(n, A.data(), 1, r.data(), s.data());
}

}  // namespace

int SplineFunction(const int* xs, const double* ys, int points, int from, int to, uint8_t* outX, uint8_t* outY) {
  if (!xs || !ys || points < 2) return -1;
  // Points must stand left to right: a width of zero has no slope.
  for (int i = 1; i < points; ++i)
    if (xs[i] <= xs[i - 1]) return -1;
  std::vector<double> h, d, s;
  try {
    h.resize(size_t(points - 1)), d.resize(size_t(points - 1)), s.resize(size_t(points));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (int i = 0; i + 1 < points; ++i) {
    h[size_t(i)] = xs[i + 1] - xs[i];
    d[size_t(i)] = (ys[i + 1] - ys[i]) / h[size_t(i)];
  }
  if (points == 2) {
    s[0] = s[1] = d[0];
  } else if (points == 3) {
    // Both end conditions fall on the one inner point: the parabola.
    const double c = (d[1] - d[0]) / (xs[2] - xs[0]);
    s[0] = d[0] - c * h[0], s[1] = d[0] + c * h[0], s[2] = d[0] + c * (h[0] + 2 * h[1]);
  } else {
    try {
      SplineSlopes(xs, points, h, d, s);
    } catch (const std::bad_alloc&) {
      return -1;
    }
  }
  int k = 0;
  for (int x = from; x <= to; ++x, ++k) {
    const int lo = SegmentOf(xs, points, x);
    const size_t j = size_t(lo);
    const double w = x - xs[lo], c = (3 * d[j] - 2 * s[j] - s[j + 1]) / h[j],
                 e = (s[j] + s[j + 1] - 2 * d[j]) / (h[j] * h[j]);
    const double y = ys[lo] + s[j] * w + c * w * w + e * w * w * w;
    outX[k] = uint8_t(x);
    outY[k] = uint8_t(std::isfinite(y) ? std::clamp(y, 0.0, 255.0) : 0.0);
  }
  return 0;
}

void filter_imLaplacian(const uint8_t* src, uint8_t* dst, int height, int width) {
  if (height <= 0 || width <= 0) return;
  std::fill(dst, dst + size_t(height) * width, uint8_t(0));
  for (int y = 2; y < height - 2; ++y)
    for (int x = 2; x < width - 2; ++x) {
      const long v = Weighted(src, width, y, x, [](int i, int j) { return kLaplacian[i][j]; });
      dst[size_t(y) * width + x] = v > 0 ? 1 : v < 0 ? 255 : 0;
    }
}

int FilterGaussLaplacianbitspc(const uint8_t* src, int* dst, const int* kernel, int height, int width,
                               int pixelsPerWord, const uint8_t* marks) {
  // Two bits a pixel in a 32-bit word.
  if (!src || !dst || !kernel || !marks || height <= 0 || width <= 0 || pixelsPerWord < 1 || pixelsPerWord > 16)
    return -1;
  const int n = (2 * pixelsPerWord + 2 * width - 5) / (2 * pixelsPerWord);
  for (int y = 0; y < height; ++y) {
    int* row = dst + size_t(y) * n;
    if (y < 2 || y >= height - 2) {
      std::fill(row, row + n, 0);
      continue;
    }
    for (int j = 0; j < n; ++j) {
      if (marks[j] != 15) continue;
      uint32_t word = 0;
      for (int b = 0; b < pixelsPerWord; ++b) {
        const int x = j * pixelsPerWord + b;
        if (x < 2 || x >= width - 2) continue;
        const long v = Weighted(src, width, y, x, [kernel](int i, int k) { return kernel[i * 5 + k]; });
        word |= uint32_t(v > 0 ? 1 : v < 0 ? 2 : 0) << (2 * b);
      }
      row[j] = int(word);
    }
  }
  return 0;
}

int detMatDigenValue(int n, const double* M, double* det) {
  if (!M || !det || n <= 0) return -1;
  std::vector<double> a(M, M + size_t(n) * n);
  double sign = 1;
  for (int c = 0; c < n; ++c) {
    if (a[size_t(c) * n + c] == 0) {
      int r = c + 1;
      while (r < n && a[size_t(r) * n + c] == 0) ++r;
      if (r == n) {
        *det = 0;
        return -1;
      }
      for (int k = 0; k < n; ++k) std::swap(a[size_t(c) * n + k], a[size_t(r) * n + k]);
      sign = -sign;  // each exchange of rows turns the determinant's sign
    }
    for (int r = c + 1; r < n; ++r) {
      const double f = a[size_t(r) * n + c] / a[size_t(c) * n + c];
      for (int k = c; k < n; ++k) a[size_t(r) * n + k] -= f * a[size_t(c) * n + k];
    }
  }
  double product = sign;
  for (int c = 0; c < n; ++c) product *= a[size_t(c) * n + c];
  *det = product;
  return 0;
}

void RemoveLoopSameness(const int* a, const int* b, const int* c, int count, int* outA, int* outB, int* outC,
                        int* outCount) {
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    if (a[i] == b[i]) continue;
    outA[kept] = a[i], outB[kept] = b[i], outC[kept] = c[i];
    ++kept;
  }
  *outCount = kept;
}
