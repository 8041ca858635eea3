// Connected-component labelling that also leaves every black pixel's label
// in a 16-bit label bitmap.
#ifndef DRAVN_BIN_LABEL_BITMAP_H
#define DRAVN_BIN_LABEL_BITMAP_H

#include "CABitmap.h"

// The 8-connected black groups of `region` (clipped to `src`): the boxes as
// lbl_main2 gives them, and `labels` allocated as (region width + 1) x
// (region height) pixels of 16 bits holding each pixel's label, 0 on white.
// 0, or -1 (out cleared) when memory is short or there are more groups than
// 16 bits can number.
int lbl_main3(const CABitmap& src, LBL_DATA& out, CABitmap& labels, const ARECT2& region);
int lbl_main3(const CABitmap& src, LBL_DATA& out, CABitmap& labels);
// The same over a plain record and an optional (x, y, width, height) area;
// the label bitmap lives only for the call.
extern "C" int lbl_main3(ABITMAP* src, ARECT* region, void* unused, LBL_DATA* out);

#endif
