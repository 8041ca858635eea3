// The bitmap class of the page analysis: an image of 1, 4, 8, 16, 24 or 32
// bits per pixel over pixels it owns (calloc/free) or borrows.
#ifndef CABITMAP_H
#define CABITMAP_H

#include <stdint.h>

#include <array>

#include "abitmap.h"

namespace abmp_tables {
constexpr std::array<uint8_t, 256> BitCounts() {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    for (int v = b; v; v >>= 1) t[b] += v & 1;
  return t;
}
constexpr std::array<uint8_t, 256> Reversed() {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k)
      if (b & (1 << k)) t[b] |= 0x80 >> k;
  return t;
}
}  // namespace abmp_tables

class CABitmap {
 public:
  CABitmap();
  CABitmap(CABitmap const& src);
  // Frees owned pixels; the bitmap ends empty either way.
  virtual void Free();
  virtual ~CABitmap();
  CABitmap& operator=(CABitmap const& src);

  // Borrows the pixels. A geometry that the pixel operations could not use
  // safely (negative sizes, a row shorter than width pixels of the depth, no
  // pixels for a non-empty image) leaves the bitmap empty instead.
  void set(int width, int height, int bits, int bpl, void const* data);
  void set(ABITMAP const& a);
  void getABITMAP(ABITMAP& a) const;

  // 0, or -1 (bitmap empty) for an unsupported depth, a bpl too small for
  // the row, or no memory.
  int alloc(int width, int height, int bits, int bpl);
  int alloc(CABitmap const& src);
  int duplicate(CABitmap const& src);
  // Hands the owned buffer to the caller (release with free); the bitmap
  // keeps describing it.
  void* Detach();

  void clip(ARECT& r) const;
  void clip(ARECT& r, ARECT const& src) const;
  void clip(ARECT2& r) const;
  void clip(ARECT2& r, ARECT2 const& src) const;

  // 1-bit pixels read as the bit in its place (0 or the mask, e.g. 0x20).
  int pget(int x, int y, unsigned long& v) const;
  void pset(int x, int y, unsigned long v) const;
  void pset(double x, double y, unsigned long v) const;
  // Three bytes at row offset 3x: c2 = byte 2, c1 = byte 1, c0 = byte 0.
  int pget(int x, int y, unsigned char& c2, unsigned char& c1, unsigned char& c0) const;
  void pset(int x, int y, unsigned char c2, unsigned char c1, unsigned char c0) const;

  // Inverts the 1-bit pixels inside r; -1 when the bitmap is not 1-bit.
  int donot(ARECT2 const& r) const;
  // Inverts every byte of the buffer, whatever the depth.
  int donot() const;

  // Measurements of a 1-bit bitmap inside a rectangle (clipped).
  int gaisetu(ARECT2& out, ARECT2 const& r) const;
  int gaisetu(ARECT2& out) const;
  void proj(unsigned short* px, unsigned short* py, ARECT2 const& r) const;
  void proj(unsigned short* px, unsigned short* py) const;
  void proj_x(unsigned short* px, ARECT2 const& r) const;
  void proj_x(unsigned short* px) const;
  void proj_y(unsigned short* py, ARECT2 const& r) const;
  void proj_y(unsigned short* py) const;
  uint64_t CountBit(ARECT2 const& r) const;
  uint64_t CountBit() const;
  // White-to-black transitions along columns x1..x2 of row y (rows y1..y2 of
  // column x); the pixel before the first counts as white.
  int cross_x(int x1, int x2, int y) const;
  int cross_y(int y1, int y2, int x) const;

  // this = src reduced by n (2, 4, 8), as abmp_n_small. 0 or -1 (empty).
  int n_small(CABitmap const& src, int n, int type);
  // this = the rectangle of src turned a quarter turn clockwise, a half turn,
  // a quarter turn counter-clockwise. 0 or -1 (empty).
  int rotate90(CABitmap const& src, ARECT2 const& r);
  int rotate180(CABitmap const& src, ARECT2 const& r);
  int rotate270(CABitmap const& src, ARECT2 const& r);
  int rotate90(CABitmap const& src);
  int rotate180(CABitmap const& src);
  int rotate270(CABitmap const& src);

  int32_t m_width;
  int32_t m_height;
  int32_t m_bpl;
  uint8_t* m_data;
  uint64_t m_size;
  uint8_t m_bits;
  uint8_t m_owner;
  void* m_buffer;

  static constexpr uint8_t m_on_mask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
  static constexpr uint8_t m_off_mask[8] = {0x7F, 0xBF, 0xDF, 0xEF, 0xF7, 0xFB, 0xFD, 0xFE};
  static constexpr std::array<uint8_t, 256> m_cbit = abmp_tables::BitCounts();
  static constexpr std::array<uint8_t, 256> m_rbit = abmp_tables::Reversed();
  // Kept for the page analysis; nothing in this library reads it.
  static inline int m_drawMode = 0;

 private:
  // Takes over other's pixels and geometry; other ends empty.
  void adopt(CABitmap& other);
  int rotate(CABitmap const& src, ARECT2 const& r, int quarters);
};

// Labelling of the 8-connected black groups of a 1-bit bitmap inside an
// inclusive area (clipped). 0, or -1 on failure or an area beyond 16-bit
// coordinates, with out all zero. An area outside the bitmap gives 0 groups.
int lbl_main2(CABitmap const& bmp, LBL_DATA& out, ARECT2 const& area);
int lbl_main2(CABitmap const& bmp, LBL_DATA& out);

// dst (allocated, 1-bit) := src sampled at sx = m0 (x' - m4) + m1 (y' - m5),
// sy = m2 (x' - m4) + m3 (y' - m5), rounded to the nearest pixel.
void abmp_linear_trans(CABitmap const& dst, CABitmap const& src, double const* m);

#endif
