// Removal of a known copy mark: its template is inverted into the page where
// the mark is expected, which whitens the mark where it is printed in black.
#ifndef DRAVN_BIN_COPY_MARK_H
#define DRAVN_BIN_COPY_MARK_H

#include <cstdint>

struct CopyMarkArea {
  int32_t markHeight, markWidth, resolution, scale;
  int32_t hOffset, vOffset;  // tenths of a millimetre in, pixels out
  int32_t tlX, tlY, trX, trY, blX, blY, brX, brY;
  int32_t orientation;                              // 0..3
  int32_t marginTop, marginBottom, marginLeft, marginRight;  // hundredths of a millimetre in, pixels out
  int32_t marginFlag;
};

// The mark of each orientation, one byte per pixel (non-zero = mark): 0 and
// 2 are 160 x 76 (width x height), 1 and 3 are 76 x 160.
const uint8_t* CopyMarkTemplate(int orientation);
// The upright mark packed one bit per pixel, rows of width / 8 bytes, at
// scale 0 (80 x 38), 1 (160 x 76) or 2 (320 x 152).
const uint8_t* CopyMarkPacked(int scale, int* width, int* height);

// Fills the placement of the mark into `area` (resolution, offsets and
// margins given): 0, or -1 when there is no mark (corner 999) or it does not fit.
int GetCopyMarkArea(CopyMarkArea* area, int height, int width, int rotation, int corner);
// The byte image (0 black); params: 16 dpi, 20 corner, 21-22 offsets,
// 23 rotation, 26 margin flag, 27-30 margins. 0, or -1 (page unchanged).
int MergeCopyMark(uint8_t* page, int height, int width, const int* params);
// The packed page (set bit = white): 0, -1 (not placed) or -2 (no memory).
int MergeCopyMarkPost(uint8_t* packed, int height, int width, const int* params, int bytesPerLine);

#endif
