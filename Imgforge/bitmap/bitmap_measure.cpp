// Read-only measurements of a 1-bit bitmap inside a rectangle: bounding box
// of the ink, projections, bit count and transition counts.
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "CABitmap.h"
#include "bitmap_internal.h"

namespace {

// The bytes of one row of a clipped rectangle, boundary bytes masked.
struct Span {
  int lb, rb;
  uint8_t lmask, rmask;
  explicit Span(ARECT2 const& r)
      : lb(r.left >> 3), rb(r.right >> 3), lmask(abmp::LeftMask(r.left)), rmask(abmp::RightMask(r.right)) {
    if (lb == rb) lmask = rmask = lmask & rmask;
  }
  unsigned Byte(const uint8_t* row, int b) const {
    unsigned v = row[b];
    if (b == lb) v &= lmask;
    if (b == rb) v &= rmask;
    return v;
  }
};

inline const uint8_t* Row(CABitmap const& bmp, int y) { return bmp.m_data + static_cast<ptrdiff_t>(y) * bmp.m_bpl; }

bool RowHasInk(const uint8_t* row, Span const& s) {
  if (s.Byte(row, s.lb) || s.Byte(row, s.rb)) return true;
  for (int b = s.lb + 1; b < s.rb; ++b)
    if (row[b]) return true;
  return false;
}

unsigned RowCount(const uint8_t* row, Span const& s) {
  unsigned n = CABitmap::m_cbit[s.Byte(row, s.lb)];
  if (s.rb == s.lb) return n;
  n += CABitmap::m_cbit[s.Byte(row, s.rb)];
  int b = s.lb + 1;
  for (; b + 8 <= s.rb; b += 8) {
    uint64_t w;
    memcpy(&w, row + b, 8);
    n += __builtin_popcountll(w);
  }
  for (; b < s.rb; ++b) n += CABitmap::m_cbit[row[b]];
  return n;
}

ARECT2 Whole(CABitmap const& bmp) { return ARECT2{0, 0, bmp.m_width - 1, bmp.m_height - 1}; }

}  // namespace

int CABitmap::gaisetu(ARECT2& out, ARECT2 const& src) const {
  ARECT2 r;
  bool inside = abmp::ClipOverlap(*this, src, r);
  out = r;
  if (!inside) return 0;
  Span s(r);
  int top = r.top;
  while (top <= r.bottom && !RowHasInk(Row(*this, top), s)) ++top;
  if (top > r.bottom) return 0;
  int bottom = r.bottom;
  while (!RowHasInk(Row(*this, bottom), s)) --bottom;

  int left = 0, right = 0;
  for (int b = s.lb; b <= s.rb; ++b) {
    unsigned acc = 0;
    // nothing lies left of the byte's first pixel: stop once it is found
    for (int y = top; y <= bottom && !(acc & 0x80); ++y) acc |= s.Byte(Row(*this, y), b);
    if (acc) {
      left = b * 8 + __builtin_clz(acc << 24);
      break;
    }
  }
  for (int b = s.rb; b >= s.lb; --b) {
    unsigned acc = 0;
    for (int y = top; y <= bottom && !(acc & 0x01); ++y) acc |= s.Byte(Row(*this, y), b);
    if (acc) {
      right = b * 8 + 7 - __builtin_ctz(acc);
      break;
    }
  }
  out = ARECT2{left, top, right, bottom};
  return 1;
}

int CABitmap::gaisetu(ARECT2& out) const { return gaisetu(out, Whole(*this)); }

void CABitmap::proj_y(unsigned short* py, ARECT2 const& src) const {
  ARECT2 r;
  if (!abmp::ClipOverlap(*this, src, r)) return;
  Span s(r);
  for (int y = r.top; y <= r.bottom; ++y) py[y] = static_cast<unsigned short>(RowCount(Row(*this, y), s));
}

void CABitmap::proj_y(unsigned short* py) const { proj_y(py, Whole(*this)); }

void CABitmap::proj_x(unsigned short* px, ARECT2 const& src) const {
  ARECT2 r;
  if (!abmp::ClipOverlap(*this, src, r)) return;
  Span s(r);
  for (int x = r.left; x <= r.right; ++x) px[x] = 0;
  for (int y = r.top; y <= r.bottom; ++y) {
    const uint8_t* row = Row(*this, y);
    for (int b = s.lb; b <= s.rb; ++b) {
      unsigned v = s.Byte(row, b);
      while (v) {
        int bit = __builtin_clz(v << 24);
        ++px[b * 8 + bit];
        v &= ~(0x80u >> bit);
      }
    }
  }
}

void CABitmap::proj_x(unsigned short* px) const { proj_x(px, Whole(*this)); }

void CABitmap::proj(unsigned short* px, unsigned short* py, ARECT2 const& src) const {
  ARECT2 r;
  if (!abmp::ClipOverlap(*this, src, r)) return;
  proj_x(px, r);
  proj_y(py, r);
}

void CABitmap::proj(unsigned short* px, unsigned short* py) const { proj(px, py, Whole(*this)); }

uint64_t CABitmap::CountBit(ARECT2 const& src) const {
  ARECT2 r;
  if (!abmp::ClipOverlap(*this, src, r)) return 0;
  Span s(r);
  uint64_t n = 0;
  for (int y = r.top; y <= r.bottom; ++y) n += RowCount(Row(*this, y), s);
  return n;
}

uint64_t CABitmap::CountBit() const { return CountBit(Whole(*this)); }

// Pixels beyond the bitmap count as white, so a range reaching past an edge
// reads no memory outside the rows.
int CABitmap::cross_x(int x1, int x2, int y) const {
  if (!abmp::Usable1Bit(*this) || y < 0 || y >= m_height) return 0;
  x1 = std::max(x1, 0);
  x2 = std::min(x2, m_width - 1);
  const uint8_t* row = Row(*this, y);
  int n = 0;
  bool prev = false;
  for (int x = x1; x <= x2; ++x) {
    bool black = row[x >> 3] & m_on_mask[x & 7];
    n += black && !prev;
    prev = black;
  }
  return n;
}

int CABitmap::cross_y(int y1, int y2, int x) const {
  if (!abmp::Usable1Bit(*this) || x < 0 || x >= m_width) return 0;
  y1 = std::max(y1, 0);
  y2 = std::min(y2, m_height - 1);
  int n = 0;
  bool prev = false;
  for (int y = y1; y <= y2; ++y) {
    bool black = Row(*this, y)[x >> 3] & m_on_mask[x & 7];
    n += black && !prev;
    prev = black;
  }
  return n;
}
