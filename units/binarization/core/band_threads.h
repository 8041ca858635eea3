// Horizontal bands of a page, each on its own thread, joined before return.
#ifndef DRAVN_BAND_THREADS_H
#define DRAVN_BAND_THREADS_H

#include <algorithm>
#include <array>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

constexpr int kMaxBands = 4;

// Runs rows(y0, y1) (or rows(y0, y1, band)) over n bands of height / n rows
// (the last takes the rest), each in its own thread; a thread that cannot be
// started leaves its band to the caller's thread. 0, or -1 when a band failed.
template <typename F>
int RunBands(int n, int height, F body) {
  auto rows = [&body](int y0, int y1, int i) {
    if constexpr (std::is_invocable_v<F, int, int, int>)
      return body(y0, y1, i);
    else
      return body(y0, y1);
  };
  n = std::clamp(n, 1, std::min(kMaxBands, std::max(height, 1)));
  if (n == 1) return rows(0, height, 0);
  const int band = height / n;
  std::array<int, kMaxBands> rc{};
  std::vector<std::thread> threads;
  threads.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    const int y0 = i * band, y1 = i == n - 1 ? height : y0 + band;
    try {
      threads.emplace_back([&rc, &rows, i, y0, y1] { rc[size_t(i)] = rows(y0, y1, i); });
    } catch (const std::system_error&) {
      rc[size_t(i)] = rows(y0, y1, i);
    }
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < n; ++i)
    if (rc[size_t(i)] != 0) return -1;
  return 0;
}

#endif
