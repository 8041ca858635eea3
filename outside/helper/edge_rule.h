// The edge rule shared by libhelper.so and the engine's self-contained
// binarizer: a crossing of the Laplacian-of-Gaussian response between two
// 4-neighbours is an edge where the grey step across it is large enough.
#ifndef DRAVN_EDGE_RULE_H
#define DRAVN_EDGE_RULE_H

#include <cstdint>
#include <cstdlib>

namespace edge_rule {

// The built-in 5x5 kernel; it sums to 0 and its positive (and negative)
// weights sum to 112, so a response on 8-bit grey stays within +-28560.
constexpr int kLog[25] = {4, 7, 8, 7, 4, 7, 2, -15, 2, 7, 8, -15, -52, -15, 8, 7, 2, -15, 2, 7, 4, 7, 8, 7, 4};

// Grey step between the pixel at `g` and its neighbour `n` pixels away
// (1: right, stride: below), measured on the three lines across the
// crossing: weighted 1-2-1 (8-pixel sums) and plain (6-pixel sums). The
// caller keeps one pixel of context on every side.
inline void Steps(const uint8_t* g, std::ptrdiff_t n, std::ptrdiff_t across, int* d8, int* d6) {
  const int a0 = g[-across], a1 = g[0], a2 = g[across];
  const int b0 = g[n - across], b1 = g[n], b2 = g[n + across];
  *d8 = std::abs((a0 + 2 * a1 + a2) - (b0 + 2 * b1 + b2));
  *d6 = std::abs((a0 + a1 + a2) - (b0 + b1 + b2));
}

// Whether the pixel at `g` (response r) is an edge: it lies on the light
// side of a crossing (r < 0 against a positive neighbour response) to its
// left, right, top or bottom, and the step there passes L1 (8-pixel sums)
// or L2 (6-pixel sums). Answers the largest such step, or -1.
// `up`, `r` and `down` point at the responses of the pixel's column in the
// rows above, its own and below.
template <typename R>
inline int EdgeStep(const uint8_t* g, std::ptrdiff_t stride, const R* up, const R* r, const R* down, int l1, int l2) {
  if (r[0] >= 0) return -1;
  int best = -1;
  const std::ptrdiff_t gs[4] = {-1, 1, -stride, stride};
  const R nr[4] = {r[-1], r[1], up[0], down[0]};
  for (int i = 0; i < 4; ++i) {
    if (nr[i] <= 0) continue;
    const std::ptrdiff_t across = i < 2 ? stride : 1;
    int d8, d6;
    Steps(g, gs[i], across, &d8, &d6);
    if (d8 > l1 || d6 > l2) best = d8 > best ? d8 : best;
  }
  return best;
}

}  // namespace edge_rule

#endif
