#include "morphology.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "abitmap.h"
#include "edge_threshold.h"
#include "i3ip_share.h"

namespace {

// Neighbour colours of one pixel, true where the neighbour has colour `c`.
struct Around {
  bool l, r, u, d, ul, ur, dl, dr;
};

Around At(const uint8_t* src, int width, int y, int x, bool black) {
  auto is = [&](int dy, int dx) { return (src[size_t(y + dy) * width + x + dx] == 0) == black; };
  return {is(0, -1), is(0, 1), is(-1, 0), is(1, 0), is(-1, -1), is(-1, 1), is(1, -1), is(1, 1)};
}

bool Width1(const Around& a) {
  const int sides = a.l + a.r + a.u + a.d;
  return sides >= 3 || (a.u && a.l && a.dr) || (a.d && a.l && a.ur) || (a.d && a.r && a.ul) || (a.u && a.r && a.dl);
}

bool Width2(const Around& a) {
  return (a.l && a.r) || (a.u && a.d) || (a.ul && a.dl && a.r) || (a.dl && a.dr && a.u) || (a.ur && a.dr && a.l) ||
         (a.ul && a.ur && a.d) || (a.u && a.l && a.dr) || (a.d && a.l && a.ur) || (a.d && a.r && a.ul) ||
         (a.u && a.r && a.dl) || (a.ul && a.ur && a.dl && a.dr);
}

// A pixel of colour `from` takes the other colour when the rule holds for
// the other colour around it; the outermost rows and columns are copied.
int TextLine(const uint8_t* src, uint8_t* dst, int height, int width, bool erode, bool (*rule)(const Around&)) {
  std::memcpy(dst, src, size_t(height) * width);
  for (int y = 1; y < height - 1; ++y)
    for (int x = 1; x < width - 1; ++x) {
      const uint8_t v = src[size_t(y) * width + x];
      if (erode ? v == 0 : v != 0) continue;
      if (rule(At(src, width, y, x, erode))) dst[size_t(y) * width + x] = erode ? 0 : 1;
    }
  return 0;
}

int Square(const uint8_t* src, uint8_t* dst, int height, int width, int size, bool erode) {
  if (size > 7) size = 7;
  const int k = (size - 1) / 2, m = size - 1;
  if (width - 2 * k <= 0 || height - 2 * k <= 0) return -1;
  uint8_t mask[36];
  const I3ipShareBinding& p = g_i3ipShare;
  if (!p.Set_8u_C1R || p.Set_8u_C1R(1, mask, 6, IppiSize{6, 6}) != 0) return -1;
  const size_t at = size_t(k) * width + k;
  const IppiSize roi{width - 2 * k, height - 2 * k};
  const IppiPoint anchor{(size - 2) / 2, (size - 2) / 2};
  const auto op = erode ? p.Erode_8u_C1R : p.Dilate_8u_C1R;
  // The mask is read with the 6-byte stride it was made with: pass the
  // m x m corner of it packed into its own rows.
  uint8_t packed[36];
  for (int i = 0; i < m * m; ++i) packed[i] = mask[(i / m) * 6 + i % m];
  return op(src + at, width, dst + at, width, roi, packed, IppiSize{m, m}, anchor) == 0 ? 0 : -1;
}

}  // namespace

int imageTextLine1LErodeF(const uint8_t* s, uint8_t* d, int h, int w, int) { return TextLine(s, d, h, w, true, Width1); }
int imageTextLine2LErodeF(const uint8_t* s, uint8_t* d, int h, int w, int) { return TextLine(s, d, h, w, true, Width2); }
int imageTextLine1LDilateF(const uint8_t* s, uint8_t* d, int h, int w, int) {
  return TextLine(s, d, h, w, false, Width1);
}
int imageTextLine2LDilateF(const uint8_t* s, uint8_t* d, int h, int w, int) {
  return TextLine(s, d, h, w, false, Width2);
}

int imageErodeFIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  if (size <= 0) return 0;
  if (size == 1) return imageTextLine1LErodeF(src, dst, height, width, size);
  if (size == 2) return imageTextLine2LErodeF(src, dst, height, width, size);
  return Square(src, dst, height, width, size, true);
}

int imageDilateFIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  if (size <= 0) return 0;
  if (size == 1) return imageTextLine1LDilateF(src, dst, height, width, size);
  if (size == 2) return imageTextLine2LDilateF(src, dst, height, width, size);
  return Square(src, dst, height, width, size, false);
}

int CouplayFilterIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  if (size == 0) return -1;
  if (size < 0) return 0;
  const size_t n = size_t(height) * width;
  std::vector<uint8_t> eroded(src, src + n);
  if (imageErodeFIpp(src, eroded.data(), height, width, size) != 0) return -1;
  if (size <= 2) {
    std::memcpy(dst, eroded.data(), n);
    return 0;
  }
  std::memcpy(dst, eroded.data(), n);
  return imageDilateFIpp(eroded.data(), dst, height, width, size);
}

int LineFilterIpp(const uint8_t* src, uint8_t* dst, int height, int width, int size) {
  if (size == 0) return -1;
  std::memcpy(dst, src, size_t(height) * width);
  return size > 0 ? imageErodeFIpp(src, dst, height, width, size) : imageDilateFIpp(src, dst, height, width, -size);
}

int RemoveObjectNew(const uint8_t* src, uint8_t* dst, int height, int width, _LabelArea box, int,
                    _MARGINPTXYSIZE margins) {
  const int bw = box.width, bh = box.height;
  if (bw <= 0 || bh <= 0) return 0;
  std::vector<int> label(size_t(bw) * bh, 0), parent(1, 0);
  auto find = [&](int a) {
    while (parent[size_t(a)] != a) a = parent[size_t(a)] = parent[size_t(parent[size_t(a)])];
    return a;
  };
  for (int y = 0; y < bh; ++y)
    for (int x = 0; x < bw; ++x) {
      if (src[size_t(box.y + y) * width + box.x + x] != 0) continue;
      int mine = 0;
      for (auto [dy, dx] : {std::pair{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}}) {
        const int ny = y + dy, nx = x + dx;
        if (ny < 0 || nx < 0 || nx >= bw) continue;
        const int other = label[size_t(ny) * bw + nx];
        if (!other) continue;
        if (!mine) {
          mine = find(other);
        } else {
          const int a = find(mine), b = find(other);
          if (a != b) parent[size_t(std::max(a, b))] = std::min(a, b);
          mine = std::min(a, b);
        }
      }
      if (!mine) {
        mine = int(parent.size());
        parent.push_back(mine);
      }
      label[size_t(y) * bw + x] = mine;
    }
  const size_t count = parent.size();
  std::vector<int> x0(count, bw), y0(count, bh), x1(count, -1), y1(count, -1);
  for (int y = 0; y < bh; ++y)
    for (int x = 0; x < bw; ++x)
      if (int& l = label[size_t(y) * bw + x]) {
        l = find(l);
        x0[size_t(l)] = std::min(x0[size_t(l)], x), x1[size_t(l)] = std::max(x1[size_t(l)], x);
        y0[size_t(l)] = std::min(y0[size_t(l)], y), y1[size_t(l)] = std::max(y1[size_t(l)], y);
      }
  int best = 0;
  long bestArea = 0;
  for (size_t l = 1; l < count; ++l) {
    if (x1[l] < 0) continue;
    const long area = long(x1[l] - x0[l] + 1) * (y1[l] - y0[l] + 1);
    if (area > bestArea) best = int(l), bestArea = area;
  }
  if (!best) return 0;
  const int ox = box.x + x0[size_t(best)], oy = box.y + y0[size_t(best)];
  if (ox < margins.left || ox > width - margins.right || oy < margins.top || oy > height - margins.bottom) return 0;
  for (int y = 0; y < bh; ++y)
    for (int x = 0; x < bw; ++x)
      if (label[size_t(y) * bw + x] == best) dst[size_t(box.y + y) * width + box.x + x] = 1;
  return 0;
}

int RemoveStainNew(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins) {
  if (size == 0) return -1;
  for (int y = std::max(margins.top, 0); y < height - std::max(margins.bottom, 0); ++y)
    std::memcpy(dst + size_t(y) * width, src + size_t(y) * width, size_t(width));
  const int bpl = (width + 7) / 8;
  // Black pixels as set bits: the white ones packed, then every bit turned
  // (the unused low bits of each row's last byte stay clear).
  std::vector<uint8_t> bits(size_t(bpl) * height);
  bin2pac(src, bits.data(), height, width);
  const uint8_t tail = width % 8 ? uint8_t(0xFF << (8 - width % 8)) : 0xFF;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bits.data() + size_t(y) * bpl;
    for (int b = 0; b < bpl; ++b) row[b] = uint8_t(~row[b]);
    row[bpl - 1] &= tail;
  }
  ABITMAP bitmap{bits.data(), uint64_t(bits.size()), 1, width, height, bpl};
  LBL_DATA labels{};
  if (lbl_main2(&bitmap, nullptr, &labels) != 0) {
    lbl_free2(&labels);
    return -1;
  }
  int rc = 0;
  for (int64_t l = 1; l <= labels.maxlabel && rc == 0; ++l) {
    const KRECT& r = labels.rects[l];
    const _LabelArea box{r.xmin, r.ymin, r.xmax - r.xmin + 1, r.ymax - r.ymin + 1};
    if (std::max(box.width, box.height) > size) continue;
    if (box.x < margins.left || box.x > width - margins.right || box.y < margins.top ||
        box.y > height - margins.bottom)
      continue;
    rc = RemoveObjectNew(src, dst, height, width, box, size, margins);
  }
  lbl_free2(&labels);
  return rc;
}
