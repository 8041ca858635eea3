// Pixel moves of the quarter turns, shared by the rotation steps of the
// second backend's classes. Codes: 1 clockwise, 2 half turn, 3
// counter-clockwise.
#ifndef DRAVN_SECOND_QUARTER_TURN_H
#define DRAVN_SECOND_QUARTER_TURN_H

#include <algorithm>
#include <cstdint>

namespace kelo_turn {

// Where source pixel (x, y) of a W x H page goes.
template <int code>
inline void Target(int64_t W, int64_t H, int64_t x, int64_t y, int64_t* tx, int64_t* ty) {
  if (code == 1) {
    *tx = H - 1 - y, *ty = x;
  } else if (code == 2) {
    *tx = W - 1 - x, *ty = H - 1 - y;
  } else {
    *tx = y, *ty = W - 1 - x;
  }
}

inline void Target(int code, int64_t W, int64_t H, int64_t x, int64_t y, int64_t* tx, int64_t* ty) {
  if (code == 1) return Target<1>(W, H, x, y, tx, ty);
  if (code == 2) return Target<2>(W, H, x, y, tx, ty);
  Target<3>(W, H, x, y, tx, ty);
}

// Whole bytes per pixel; the source is walked in square tiles so that the
// scattered writes of a quarter turn stay within the cache.
template <int code, int bytes>
void TurnBytes(const unsigned char* src, int64_t sbpl, unsigned char* dst, int64_t dbpl, int64_t W, int64_t H) {
  constexpr int64_t kTile = 64;
  for (int64_t ty = 0; ty < H; ty += kTile) {
    const int64_t yEnd = std::min(H, ty + kTile);
    for (int64_t tx = 0; tx < W; tx += kTile) {
      const int64_t xEnd = std::min(W, tx + kTile);
      for (int64_t y = ty; y < yEnd; ++y) {
        const unsigned char* s = src + y * sbpl + tx * bytes;
        for (int64_t x = tx; x < xEnd; ++x, s += bytes) {
          int64_t dx, dy;
          Target<code>(W, H, x, y, &dx, &dy);
          unsigned char* d = dst + dy * dbpl + dx * bytes;
          for (int c = 0; c < bytes; ++c) d[c] = s[c];
        }
      }
    }
  }
}

template <int bytes>
void TurnBytes(const unsigned char* src, int64_t sbpl, unsigned char* dst, int64_t dbpl, int64_t W, int64_t H,
               int code) {
  if (code == 1) return TurnBytes<1, bytes>(src, sbpl, dst, dbpl, W, H);
  if (code == 2) return TurnBytes<2, bytes>(src, sbpl, dst, dbpl, W, H);
  TurnBytes<3, bytes>(src, sbpl, dst, dbpl, W, H);
}

}  // namespace kelo_turn

#endif
