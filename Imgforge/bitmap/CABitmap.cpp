// Bitmap record and class: allocation, ownership, clipping, pixel access.
#include "CABitmap.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <climits>

#include "bitmap_internal.h"

namespace abmp {

int64_t MinRowBytes(int64_t width, int bits) {
  switch (bits) {
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return (width * bits + 7) / 8;
    default:
      return (width + 7) / 8;
  }
}

bool Usable1Bit(CABitmap const& bmp) {
  return bmp.m_data && bmp.m_width > 0 && bmp.m_height > 0 && bmp.m_bpl >= MinRowBytes(bmp.m_width, 1);
}

bool ClipOverlap(CABitmap const& bmp, ARECT2 const& in, ARECT2& out) {
  bmp.clip(out, in);
  // clip() turns a rectangle beyond the right or bottom edge into the pixel
  // at the origin and leaves one left of or above the image inverted.
  if (!Usable1Bit(bmp)) return false;
  if (in.left > in.right || in.top > in.bottom) return false;
  if (in.left >= bmp.m_width || in.top >= bmp.m_height || in.right < 0 || in.bottom < 0) return false;
  return true;
}

}  // namespace abmp

using abmp::MinRowBytes;

CABitmap::CABitmap()
    : m_width(0), m_height(0), m_bpl(0), m_data(nullptr), m_size(0), m_bits(0), m_owner(0), m_buffer(nullptr) {}

CABitmap::CABitmap(CABitmap const& src) : CABitmap() { duplicate(src); }

CABitmap::~CABitmap() { CABitmap::Free(); }

CABitmap& CABitmap::operator=(CABitmap const& src) {
  if (this != &src) duplicate(src);
  return *this;
}

void CABitmap::Free() {
  if (m_owner) {
    free(m_buffer);
    m_buffer = nullptr;
    m_owner = 0;
  }
  m_width = m_height = m_bpl = 0;
  m_data = nullptr;
  m_size = 0;
  m_bits = 0;
}

void CABitmap::set(int width, int height, int bits, int bpl, void const* data) {
  if (m_owner) Free();
  bool empty = width == 0 || height == 0;
  if (width < 0 || height < 0 || bpl < 0 || bits < 0 || bits > 255 || bpl < MinRowBytes(width, bits) ||
      (!empty && !data)) {
    Free();
    return;
  }
  m_width = width;
  m_height = height;
  m_bits = static_cast<uint8_t>(bits);
  m_bpl = bpl;
  m_data = static_cast<uint8_t*>(const_cast<void*>(data));
  m_size = static_cast<uint64_t>(height) * static_cast<uint64_t>(bpl);
}

void CABitmap::set(ABITMAP const& a) { set(a.width, a.height, a.bits, a.bpl, a.data); }

void CABitmap::getABITMAP(ABITMAP& a) const {
  a.data = m_data;
  a.size = m_size;
  a.bits = m_bits;
  a.width = m_width;
  a.height = m_height;
  a.bpl = m_bpl;
}

int CABitmap::alloc(int width, int height, int bits, int bpl) {
  Free();
  ABITMAP a{};
  uint8_t* buf = abmp_alloc(&a, width, height, bits, bpl);
  if (!buf) return -1;
  set(a);
  m_buffer = buf;
  m_owner = 1;
  return 0;
}

int CABitmap::alloc(CABitmap const& src) { return alloc(src.m_width, src.m_height, src.m_bits, src.m_bpl); }

int CABitmap::duplicate(CABitmap const& src) {
  if (&src == this) return 0;
  int rc = alloc(src);
  if (rc == 0 && m_size) memcpy(m_data, src.m_data, m_size);
  return rc;
}

void* CABitmap::Detach() {
  void* buf = m_buffer;
  m_buffer = nullptr;
  m_owner = 0;
  return buf;
}

void CABitmap::adopt(CABitmap& other) {
  Free();
  m_width = other.m_width;
  m_height = other.m_height;
  m_bpl = other.m_bpl;
  m_data = other.m_data;
  m_size = other.m_size;
  m_bits = other.m_bits;
  m_owner = other.m_owner;
  m_buffer = other.Detach();
  other.Free();
}

void CABitmap::clip(ARECT& r) const {
  if (r.x >= m_width || r.y >= m_height) {
    r = ARECT{0, 0, 0, 0};
    return;
  }
  int64_t right = std::min<int64_t>(static_cast<int64_t>(r.x) + r.w - 1, m_width - 1);
  int64_t bottom = std::min<int64_t>(static_cast<int64_t>(r.y) + r.h - 1, m_height - 1);
  int32_t x = std::max(r.x, 0);
  int32_t y = std::max(r.y, 0);
  // A rectangle wholly left of or above the bitmap comes back with a width
  // or height of zero or less; keep it within int.
  r.x = x;
  r.y = y;
  r.w = static_cast<int32_t>(std::max<int64_t>(right - x + 1, INT_MIN));
  r.h = static_cast<int32_t>(std::max<int64_t>(bottom - y + 1, INT_MIN));
}

void CABitmap::clip(ARECT& r, ARECT const& src) const {
  r = src;
  clip(r);
}

void CABitmap::clip(ARECT2& r) const {
  if (r.left >= m_width || r.top >= m_height) {
    r = ARECT2{0, 0, 0, 0};
    return;
  }
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  if (r.right >= m_width) r.right = m_width - 1;
  if (r.bottom >= m_height) r.bottom = m_height - 1;
}

void CABitmap::clip(ARECT2& r, ARECT2 const& src) const {
  r = src;
  clip(r);
}

int CABitmap::pget(int x, int y, unsigned long& v) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return -1;
  const uint8_t* row = m_data + static_cast<ptrdiff_t>(y) * m_bpl;
  switch (m_bits) {
    case 1:
      v = row[x >> 3] & m_on_mask[x & 7];
      break;
    case 4:
      v = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
      break;
    case 8:
      v = row[x];
      break;
    case 16: {
      uint16_t w;
      memcpy(&w, row + 2 * static_cast<ptrdiff_t>(x), 2);
      v = w;
      break;
    }
    case 24: {
      const uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x);
      v = static_cast<unsigned long>(p[0]) << 16 | static_cast<unsigned long>(p[1]) << 8 | p[2];
      break;
    }
    case 32: {
      const uint8_t* p = row + 4 * static_cast<ptrdiff_t>(x);
      uint32_t u = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                   static_cast<uint32_t>(p[2]) << 8 | p[3];
      // read as a signed value, as callers of the 32-bit form expect
      v = static_cast<unsigned long>(static_cast<long>(static_cast<int32_t>(u)));
      break;
    }
    default:
      break;
  }
  return 0;
}

void CABitmap::pset(int x, int y, unsigned long v) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
  uint8_t* row = m_data + static_cast<ptrdiff_t>(y) * m_bpl;
  switch (m_bits) {
    case 1:
      if (v)
        row[x >> 3] |= m_on_mask[x & 7];
      else
        row[x >> 3] &= m_off_mask[x & 7];
      break;
    case 4: {
      uint8_t& b = row[x >> 1];
      if (x & 1)
        b = static_cast<uint8_t>((b & 0xF0) | (v & 0x0F));
      else
        b = static_cast<uint8_t>((b & 0x0F) | (v & 0x0F) << 4);
      break;
    }
    case 8:
      row[x] = static_cast<uint8_t>(v);
      break;
    case 16: {
      uint16_t w = static_cast<uint16_t>(v);
      memcpy(row + 2 * static_cast<ptrdiff_t>(x), &w, 2);
      break;
    }
    case 24: {
      uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x);
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
      break;
    }
    case 32: {
      uint8_t* p = row + 4 * static_cast<ptrdiff_t>(x);
      p[0] = static_cast<uint8_t>(v >> 24);
      p[1] = static_cast<uint8_t>(v >> 16);
      p[2] = static_cast<uint8_t>(v >> 8);
      p[3] = static_cast<uint8_t>(v);
      break;
    }
    default:
      break;
  }
}

void CABitmap::pset(double x, double y, unsigned long v) const {
  double xr = x + 0.5, yr = y + 0.5;
  // Truncation toward zero maps (-1, width) onto the columns; anything else
  // (NaN included) is outside and must not reach the int conversion.
  if (!(xr > -1.0 && xr < m_width && yr > -1.0 && yr < m_height)) return;
  pset(static_cast<int>(xr), static_cast<int>(yr), v);
}

int CABitmap::pget(int x, int y, unsigned char& c2, unsigned char& c1, unsigned char& c0) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return -1;
  // The 3-byte forms ignore the depth, so the row itself bounds them.
  if (3 * static_cast<int64_t>(x) + 3 > m_bpl) return -1;
  const uint8_t* p = m_data + static_cast<ptrdiff_t>(y) * m_bpl + 3 * static_cast<ptrdiff_t>(x);
  c2 = p[2];
  c1 = p[1];
  c0 = p[0];
  return 0;
}

void CABitmap::pset(int x, int y, unsigned char c2, unsigned char c1, unsigned char c0) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
  if (3 * static_cast<int64_t>(x) + 3 > m_bpl) return;
  uint8_t* p = m_data + static_cast<ptrdiff_t>(y) * m_bpl + 3 * static_cast<ptrdiff_t>(x);
  p[0] = c0;
  p[1] = c1;
  p[2] = c2;
}

int CABitmap::donot(ARECT2 const& src) const {
  if (m_bits != 1) return -1;
  ARECT2 r;
  // A rectangle outside the bitmap inverts nothing (clip alone would leave
  // the origin pixel or negative columns).
  if (!abmp::ClipOverlap(*this, src, r)) return 0;
  uint8_t lmask = abmp::LeftMask(r.left);
  uint8_t rmask = abmp::RightMask(r.right);
  int lb = r.left >> 3, rb = r.right >> 3;
  for (int y = r.top; y <= r.bottom; ++y) {
    uint8_t* row = m_data + static_cast<ptrdiff_t>(y) * m_bpl;
    if (lb == rb) {
      row[lb] ^= lmask & rmask;
      continue;
    }
    row[lb] ^= lmask;
    for (int b = lb + 1; b < rb; ++b) row[b] = static_cast<uint8_t>(~row[b]);
    row[rb] ^= rmask;
  }
  return 0;
}

int CABitmap::donot() const {
  for (uint64_t i = 0; i < m_size; ++i) m_data[i] = static_cast<uint8_t>(~m_data[i]);
  return 0;
}
