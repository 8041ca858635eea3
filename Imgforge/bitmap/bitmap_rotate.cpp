// Turns by 90, 180 and 270 degrees of a rectangle of a bitmap.
//
// 1-bit images turn in blocks of 8 x 8 pixels: eight source bytes are
// gathered (columns outside the rectangle read as white), transposed as one
// 64-bit word and stored as eight destination bytes. The source is never
// written. Other depths move pixel by pixel.
#include <stdint.h>

#include "CABitmap.h"
#include "bitmap_internal.h"

namespace {

// Eight pixels from column c0 on (c0 >= -8), first in the most significant
// bit; columns outside left..right read as white and no byte outside the
// rectangle's byte span is touched.
inline unsigned Pixels8(const uint8_t* row, int c0, int left, int right) {
  const int b0 = (c0 + 8) / 8 - 1;  // floor(c0 / 8)
  const int shift = c0 - b0 * 8;
  const int lb = left >> 3, rb = right >> 3;
  unsigned hi = (b0 >= lb && b0 <= rb) ? row[b0] : 0;
  unsigned lo = (b0 + 1 >= lb && b0 + 1 <= rb) ? row[b0 + 1] : 0;
  unsigned v = ((((hi << 8) | lo) << shift) >> 8) & 0xFF;
  const int first = left - c0, last = right - c0;  // wanted positions first..last
  if (first > 7 || last < 0) return 0;
  if (first > 0) v &= 0xFFu >> first;
  if (last < 7) v &= (0xFFu << (7 - last)) & 0xFF;
  return v;
}

// Transposes an 8 x 8 bit block: byte k (from the top) holds row k, first
// column in the most significant bit; afterwards byte i holds column i.
inline uint64_t Transpose8(uint64_t x) {
  uint64_t t;
  t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
  x = x ^ t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
  x = x ^ t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
  x = x ^ t ^ (t << 28);
  return x;
}

inline const uint8_t* Row(CABitmap const& b, int y) { return b.m_data + static_cast<ptrdiff_t>(y) * b.m_bpl; }
inline uint8_t* RowOut(CABitmap const& b, int y) { return b.m_data + static_cast<ptrdiff_t>(y) * b.m_bpl; }

// Quarter turn clockwise (reverse = false): destination column j*8+k is
// source row B - (j*8+k), destination row m*8+i is source column L + m*8+i.
// Counter-clockwise (reverse = true): destination column j*8+k is source row
// T + j*8+k, destination row m*8+i is source column R - (m*8+i).
void QuarterTurnBits(CABitmap const& dst, CABitmap const& src, ARECT2 const& r, bool reverse) {
  const int W = r.right - r.left + 1, H = r.bottom - r.top + 1;
  const int dstBytes = (H + 7) / 8, blocks = (W + 7) / 8;
  const uint8_t* rows[8];
  for (int j = 0; j < dstBytes; ++j) {
    for (int k = 0; k < 8; ++k) {
      int d = j * 8 + k;
      rows[k] = d < H ? Row(src, reverse ? r.top + d : r.bottom - d) : nullptr;
    }
    for (int m = 0; m < blocks; ++m) {
      uint64_t x = 0;
      for (int k = 0; k < 8; ++k) {
        if (!rows[k]) continue;
        unsigned v = reverse ? CABitmap::m_rbit[Pixels8(rows[k], r.right - m * 8 - 7, r.left, r.right)]
                             : Pixels8(rows[k], r.left + m * 8, r.left, r.right);
        x |= static_cast<uint64_t>(v) << (56 - 8 * k);
      }
      if (!x) continue;  // the destination is zero-filled
      x = Transpose8(x);
      for (int i = 0; i < 8 && m * 8 + i < W; ++i) RowOut(dst, m * 8 + i)[j] = static_cast<uint8_t>(x >> (56 - 8 * i));
    }
  }
}

void HalfTurnBits(CABitmap const& dst, CABitmap const& src, ARECT2 const& r) {
  const int W = r.right - r.left + 1, H = r.bottom - r.top + 1;
  const int dstBytes = (W + 7) / 8;
  for (int i = 0; i < H; ++i) {
    const uint8_t* s = Row(src, r.bottom - i);
    uint8_t* d = RowOut(dst, i);
    // destination byte j holds source columns R - 8j down to R - 8j - 7
    for (int j = 0; j < dstBytes; ++j) d[j] = CABitmap::m_rbit[Pixels8(s, r.right - 8 * j - 7, r.left, r.right)];
  }
}

}  // namespace

namespace abmp {

void RotateBits(CABitmap const& dst, CABitmap const& src, ARECT2 const& r, int quarters) {
  if (quarters == 2)
    HalfTurnBits(dst, src, r);
  else
    QuarterTurnBits(dst, src, r, quarters == 3);
}

void RotateByPixels(CABitmap const& dst, CABitmap const& src, ARECT2 const& r, int quarters) {
  for (int y = r.top; y <= r.bottom; ++y) {
    for (int x = r.left; x <= r.right; ++x) {
      unsigned long v = 0;
      src.pget(x, y, v);
      switch (quarters) {
        case 1:
          dst.pset(r.bottom - y, x - r.left, v);
          break;
        case 2:
          dst.pset(r.right - x, r.bottom - y, v);
          break;
        default:
          dst.pset(y - r.top, r.right - x, v);
          break;
      }
    }
  }
}

}  // namespace abmp

int CABitmap::rotate(CABitmap const& src, ARECT2 const& area, int quarters) {
  if (&src == this) {
    // Turning into itself: the source must outlive the new buffer's filling.
    CABitmap turned;
    int rc = turned.rotate(src, area, quarters);
    adopt(turned);
    return rc;
  }
  Free();
  ARECT2 r;
  // An area outside the source has nothing to turn.
  if (!abmp::ClipOverlap(src, area, r)) return -1;
  const int W = r.right - r.left + 1, H = r.bottom - r.top + 1;
  int rc = quarters == 2 ? alloc(W, H, src.m_bits, 0) : alloc(H, W, src.m_bits, 0);
  if (rc != 0) return rc;
  if (src.m_bits == 1)
    abmp::RotateBits(*this, src, r, quarters);
  else
    abmp::RotateByPixels(*this, src, r, quarters);
  return 0;
}

int CABitmap::rotate90(CABitmap const& src, ARECT2 const& r) { return rotate(src, r, 1); }
int CABitmap::rotate180(CABitmap const& src, ARECT2 const& r) { return rotate(src, r, 2); }
int CABitmap::rotate270(CABitmap const& src, ARECT2 const& r) { return rotate(src, r, 3); }

int CABitmap::rotate90(CABitmap const& src) { return rotate(src, ARECT2{0, 0, src.m_width - 1, src.m_height - 1}, 1); }
int CABitmap::rotate180(CABitmap const& src) { return rotate(src, ARECT2{0, 0, src.m_width - 1, src.m_height - 1}, 2); }
int CABitmap::rotate270(CABitmap const& src) { return rotate(src, ARECT2{0, 0, src.m_width - 1, src.m_height - 1}, 3); }
