// The 5 x 5 ink-density mesh of a character, on "real" black pixels (a black
// pixel with a black 4-neighbour inside the box examined), shared by the
// upside-down test and the generator of its glyph dictionary.
#ifndef IMGFORGE_KTJ_MESH_H
#define IMGFORGE_KTJ_MESH_H

#include <stdint.h>

namespace ktj {

struct Box {
  int x0, y0, x1, y1;  // inclusive
};

template <class Px>
bool RealBlack(Px const& px, int x, int y, Box const& b) {
  if (!px(x, y)) return false;
  return (x > b.x0 && px(x - 1, y)) || (x < b.x1 && px(x + 1, y)) || (y > b.y0 && px(x, y - 1)) ||
         (y < b.y1 && px(x, y + 1));
}

// First and last rows of b holding a real black pixel, then the leftmost and
// rightmost real black columns within them. False when there is none.
template <class Px>
bool EffectiveBox(Px const& px, Box const& b, Box& out) {
  int top = -1, bottom = -1, left = b.x1 + 1, right = b.x0 - 1;
  for (int y = b.y0; y <= b.y1; ++y)
    for (int x = b.x0; x <= b.x1; ++x)
      if (RealBlack(px, x, y, b)) {
        if (top < 0) top = y;
        bottom = y;
        if (x < left) left = x;
        if (x > right) right = x;
      }
  if (top < 0) return false;
  out = {left, top, right, bottom};
  return true;
}

// Band k of n split into 5: the first n % 5 bands are one longer.
inline void Band(int n, int k, int& start, int& len) {
  const int q = n / 5, r = n % 5;
  len = q + (k < r ? 1 : 0);
  start = k * q + (k < r ? k : r);
}

// Mesh value of n real black pixels in area a: 0 empty, 21 nearly full,
// else the percentage in fifths, rounded up (1..20).
inline int MeshValue(long n, long a) {
  if (n <= 0 || a <= 0) return 0;
  if (100 * n > 99 * a) return 21;
  return static_cast<int>((100 * n + 5 * a - 1) / (5 * a));
}

// The upright pattern of box b, row by row from the top; returns its norm.
template <class Px>
int Mesh(Px const& px, Box const& b, uint8_t out[25]) {
  const int cw = b.x1 - b.x0 + 1, ch = b.y1 - b.y0 + 1;
  int rowBand[5][2], colBand[5][2];
  for (int k = 0; k < 5; ++k) {
    Band(ch, k, rowBand[k][0], rowBand[k][1]);
    Band(cw, k, colBand[k][0], colBand[k][1]);
  }
  int norm = 0;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      long n = 0;
      for (int y = 0; y < rowBand[i][1]; ++y)
        for (int x = 0; x < colBand[j][1]; ++x)
          if (RealBlack(px, b.x0 + colBand[j][0] + x, b.y0 + rowBand[i][0] + y, b)) ++n;
      const int v = MeshValue(n, static_cast<long>(rowBand[i][1]) * colBand[j][1]);
      out[i * 5 + j] = static_cast<uint8_t>(v);
      norm += v * v;
    }
  return norm;
}

// Similarity of a pattern of norm n to a dictionary entry of norm ne.
inline int Similarity(const uint8_t* p, int n, const uint8_t* e, int ne) {
  if (n == 0 || ne == 0) return 0;
  double d = 0;
  for (int k = 0; k < 25; ++k) d += static_cast<double>(p[k]) * e[k];
  return static_cast<int>(d * (d / n) / ne * 10000);
}

// The same, the two norms computed here.
inline int clu_dis_ruijido(const uint8_t* p, const uint8_t* e) {
  int n = 0, ne = 0;
  for (int k = 0; k < 25; ++k) n += p[k] * p[k], ne += e[k] * e[k];
  return Similarity(p, n, e, ne);
}

}  // namespace ktj

#endif
