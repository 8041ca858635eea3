#include "filters.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

int DigfilterF(const double* x, double* y, const double* zi, int len, double* a, double* b, int order) {
  if (order >= len || order < 1) return -1;
  const double a0 = a[0];
  for (int j = 0; j < order; ++j) a[j] /= a0, b[j] /= a0;
  for (int i = 0; i < len; ++i) {
    const int top = std::min(i, order - 1);
    double v = 0;
    for (int j = 0; j <= top; ++j) v += b[j] * x[i - j];
    for (int j = 1; j <= top; ++j) v -= a[j] * y[i - j];
    if (zi && i < order - 1) v += zi[i];
    y[i] = v;
  }
  return 0;
}

int DigfiltfilterF(const double* x, double* y, int len, const double* a, const double* b, int order) {
  if (order <= 1 || 3 * (order - 1) >= len) return -1;
  const int nfact = 3 * (order - 1), n = order - 1, L = len + 2 * nfact;
  std::vector<double> ext(static_cast<size_t>(L)), out(static_cast<size_t>(L)), ca(a, a + order), cb(b, b + order);
  for (int k = 0; k < nfact; ++k) ext[size_t(k)] = 2 * x[0] - x[nfact - k];
  std::copy(x, x + len, ext.begin() + nfact);
  for (int k = 0; k < nfact; ++k) ext[size_t(nfact + len + k)] = 2 * x[len - 1] - x[len - 2 - k];
  // The state that starts the filter as if the signal had always held its
  // first value, so the padded ends leave no transient.
  for (int j = 0; j < order; ++j) cb[size_t(j)] /= ca[0];
  for (int j = order - 1; j >= 0; --j) ca[size_t(j)] /= ca[0];
  const size_t sn = static_cast<size_t>(n);
  std::vector<double> m(sn * sn, 0.0), rhs(sn), zi(sn), z(sn);
  for (int i = 0; i < n; ++i) {
    m[size_t(i) * n] = i == 0 ? 1 + ca[1] : ca[size_t(i + 1)];
    if (i > 0) m[size_t(i) * n + i] = 1;
    if (i + 1 < n) m[size_t(i) * n + i + 1] = -1;
    rhs[size_t(i)] = cb[size_t(i + 1)] - ca[size_t(i + 1)] * cb[0];
  }
  const bool haveState = GaussJordan(n, m.data(), 1, rhs.data(), zi.data()) == 0;
  auto pass = [&](std::vector<double>& in) {
    for (int i = 0; i < n; ++i) z[size_t(i)] = zi[size_t(i)] * in[0];
    std::vector<double> aa = ca, bb = cb;
    DigfilterF(in.data(), out.data(), haveState ? z.data() : nullptr, L, aa.data(), bb.data(), order);
    std::reverse(out.begin(), out.end());
    in = out;
  };
  pass(ext);
  pass(ext);
  std::copy(ext.begin() + nfact, ext.begin() + nfact + len, y);
  return 0;
}

int GaussJordan(int n, double* A, int m, const double* B, double* X) {
  std::vector<int> swaps(size_t(n), -1);
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(A[r * n + c]) > std::fabs(A[p * n + c])) p = r;
    if (p != c)
      for (int k = 0; k < n; ++k) std::swap(A[c * n + k], A[p * n + k]);
    swaps[size_t(c)] = p;
    const double piv = A[c * n + c] != 0 ? A[c * n + c] : 1.0;
    A[c * n + c] = 1.0;
    for (int k = 0; k < n; ++k) A[c * n + k] /= piv;
    for (int r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = A[r * n + c];
      A[r * n + c] = 0;
      for (int k = 0; k < n; ++k) A[r * n + k] -= f * A[c * n + k];
    }
  }
  for (int c = n - 1; c >= 0; --c)
    if (swaps[size_t(c)] != c)
      for (int r = 0; r < n; ++r) std::swap(A[r * n + c], A[r * n + swaps[size_t(c)]]);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) {
      double s = 0;
      for (int k = 0; k < n; ++k) s += A[i * n + k] * B[k * m + j];
      X[i * m + j] = s;
    }
  return 0;
}

int SegmentOf(const int* xs, int points, int x) {
  int lo = 0, hi = points - 1;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    (xs[mid] <= x ? lo : hi) = mid;
  }
  return lo;
}

void LinearFunction(const int* xs, const double* ys, int points, int from, int to, uint8_t* outX, uint8_t* outY) {
  if (points < 2) return;
  int k = 0;
  for (int x = from; x <= to; ++x, ++k) {
    const int lo = SegmentOf(xs, points, x);
    const int dx = xs[lo + 1] - xs[lo];
    const double y = dx != 0 ? (ys[lo + 1] - ys[lo]) * (x - xs[lo]) / dx + ys[lo] : ys[lo];
    outX[k] = uint8_t(x);
    outY[k] = uint8_t(std::clamp(int(y), 0, 255));
  }
}

void TrainLoop(int* xs, double* ys, int count, int* outCount) {
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j)
      if (xs[j] < xs[i]) std::swap(xs[i], xs[j]), std::swap(ys[i], ys[j]);
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    const int next = i + 1 < count ? xs[i + 1] : xs[0];
    if (xs[i] != next || count == 1) xs[kept] = xs[i], ys[kept] = ys[i], ++kept;
  }
  *outCount = kept;
}

int BezierFunction(const int* xs, const double* ys, uint8_t* outX, uint8_t* outY) {
  std::vector<int> px;
  std::vector<double> py;
  for (int s = 99; s >= 0; --s) {
    const double t = s / 100.0, u = 1 - t;
    px.push_back(int(xs[0] * t * t * t + 3 * xs[1] * t * t * u + 3 * xs[2] * t * u * u + xs[3] * u * u * u));
    py.push_back(ys[0] * t * t * t + 3 * ys[1] * t * t * u + 3 * ys[2] * t * u * u + ys[3] * u * u * u);
  }
  if (px.front() != xs[0]) px.insert(px.begin(), xs[0]), py.insert(py.begin(), ys[0]);
  if (px.back() != xs[3]) px.push_back(xs[3]), py.push_back(ys[3]);
  int n = 0;
  TrainLoop(px.data(), py.data(), int(px.size()), &n);
  LinearFunction(px.data(), py.data(), n, xs[0], xs[3], outX, outY);
  return 0;
}
