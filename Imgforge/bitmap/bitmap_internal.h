// Helpers shared by the bitmap library's sources; not part of its interface.
#ifndef BITMAP_INTERNAL_H
#define BITMAP_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "CABitmap.h"

namespace abmp {

// Bytes a row of width pixels needs at least; depths the pixel accessors do
// not know count as 1 bit, since the 1-bit operations never look at the depth.
int64_t MinRowBytes(int64_t width, int bits);

// Whether the bitmap holds pixels that the 1-bit operations may read.
bool Usable1Bit(CABitmap const& bmp);

// out = in clipped to the bitmap; false when the bitmap is unusable or in
// does not overlap it (then out is only what clip() gives).
bool ClipOverlap(CABitmap const& bmp, ARECT2 const& in, ARECT2& out);

// Whether the grooves of columns x1..x2, rows y1..y2 lie inside the pixels.
inline bool GrooveFits(CABitmap const& bmp, int x1, int y1, int x2, int y2) {
  return Usable1Bit(bmp) && x1 >= 0 && x1 <= x2 && x2 < bmp.m_width && y1 >= 0 && y1 <= y2 && y2 < bmp.m_height;
}

// Mask of the columns from left & 7 to the end of the left boundary byte,
// and from the start of the right boundary byte to right & 7.
inline uint8_t LeftMask(int left) { return static_cast<uint8_t>(0xFF >> (left & 7)); }
inline uint8_t RightMask(int right) { return static_cast<uint8_t>(0xFF << (7 - (right & 7))); }

// Quarter turns of the rectangle r (already clipped, inside src) into dst,
// which is allocated with the turned size and src's depth. RotateBits is the
// 1-bit path; RotateByPixels works for every depth through pget/pset.
void RotateBits(CABitmap const& dst, CABitmap const& src, ARECT2 const& r, int quarters);
void RotateByPixels(CABitmap const& dst, CABitmap const& src, ARECT2 const& r, int quarters);

// The body of abmp_n_small.
uint8_t* Reduce(ABITMAP const& src, ABITMAP& dst, int n, int type);

}  // namespace abmp

// Labelling engine. Provisional labels, their parents and the per-pass
// capacity are 16-bit; coordinates are 32-bit so that pages beyond 32767
// pixels keep their boxes.
struct x1y1x2y2 {
  int32_t x1;
  int32_t y1;
  int32_t x2;
  int32_t y2;
};

// A run of black pixels xs..xe of one row and its provisional label.
struct LblRun {
  int32_t xs;
  int32_t xe;
  uint32_t label;
};

// Working storage of one labelling call.
struct LblWork {
  LblRun* above;            // runs of the row above
  LblRun* cur;              // runs of the current row
  unsigned short* parents;  // parent of each provisional label, 0 = root
  x1y1x2y2* boxes;          // box of each provisional label
  unsigned short capacity;  // provisional labels one pass may make
};

// One pass from *startRow: 0 when it reached bottom, 1 when it stopped early
// with *startRow set where the next pass starts. *nprov = labels made,
// *ngroups = groups found, parents rewritten to final numbers.
int lbefs_xy(CABitmap const& bmp, int left, int top, int right, int bottom, int* startRow, long* nprov, long* ngroups,
             LblWork& work);
long count_actLabel(unsigned short* parents, long n);
// Clear the pixels left of x1 and right of x2 in their boundary bytes, rows
// y1..y2, saving those bytes in save (2 x rows); mizo_umeru puts them back.
// lbefs_xy does not need them: it masks the boundary bytes as it reads.
void mizo_horu(CABitmap const& bmp, int x1, int y1, int x2, int y2, unsigned char* save);
void mizo_umeru(CABitmap const& bmp, int x1, int y1, int x2, int y2, unsigned char* save);
int lbl_kousin_structRECT(unsigned short const* finals, x1y1x2y2 const* boxes, long nprov, KRECT* rects, long nfinal,
                          long first);

#endif
