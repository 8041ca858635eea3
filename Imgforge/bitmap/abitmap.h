/* Plain records and C entries of the bitmap library.

   1-bit images: a set bit is a black (foreground) pixel and the leftmost
   pixel of a byte is its most significant bit. Rows run top to bottom. */
#ifndef ABITMAP_H
#define ABITMAP_H

#include <stdint.h>

#include "dravn_export.h"

typedef struct ABITMAP {
  uint8_t* data; /* first byte of the top row */
  uint64_t size; /* height x bpl */
  uint8_t bits;  /* 1, 4, 8, 16 or 24 (32 through the pixel accessors only) */
  int32_t width;
  int32_t height;
  int32_t bpl; /* bytes per row */
} ABITMAP;

/* Top-left corner, width and height. */
typedef struct ARECT {
  int32_t x;
  int32_t y;
  int32_t w;
  int32_t h;
} ARECT;

/* All four sides inclusive: a one-pixel rectangle has left == right. */
typedef struct ARECT2 {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} ARECT2;

/* Bounding box of one connected group, in whole-image coordinates. */
typedef struct KRECT {
  uint16_t xmin;
  uint16_t ymin;
  uint16_t xmax;
  uint16_t ymax;
  int64_t label;    /* equal to the box's index in the array */
  int64_t reserved; /* zero from the labelling; free for the caller's flags */
} KRECT;

typedef struct LBL_DATA {
  int32_t left; /* the labelled area after clipping */
  int32_t top;
  int32_t right;
  int32_t bottom;
  KRECT* rects;     /* maxlabel + 1 boxes; entry 0 all zero */
  int64_t maxlabel; /* number of groups */
  int64_t maxbytes; /* largest ((xmax - xmin + 8) / 8) x (ymax - ymin + 1) */
  int64_t reserved;
} LBL_DATA;

typedef struct KIMAGE {
  int32_t width;
  int32_t height;
  int32_t bpl;
  uint8_t* data; /* 1-bit pixels */
} KIMAGE;

#ifdef __cplusplus
static_assert(sizeof(ABITMAP) == 32 && sizeof(KRECT) == 24 && sizeof(LBL_DATA) == 48, "record layouts");

extern "C" {
#endif

/* A zero-filled buffer of height x row bytes described into out; bpl 0 takes
   the natural row of the depth. Null for an unsupported depth, a bpl too
   small for the row, or no memory (out untouched). Release with free(). */
DRAVN_EXPORT uint8_t* abmp_alloc(ABITMAP* out, int width, int height, int bits, int bpl);

/* Reduces a 1-bit image by n = 2, 4 or 8 into a new buffer described in dst:
   type 1 OR of each n x n block, type 2 AND (OR for n = 8), type 3 the
   block's top-left pixel, any other type white. Null on failure. */
DRAVN_EXPORT uint8_t* abmp_n_small(ABITMAP* src, ABITMAP* dst, int n, int type);

/* 8-connected labelling of a 1-bit image inside area (null: whole image).
   0, or -1 on failure with out all zero. Release with lbl_free2. */
DRAVN_EXPORT int lbl_main2(ABITMAP* image, ARECT* area, LBL_DATA* out);

/* Labelling over plain fields and an inclusive area; sets only out->rects and
   out->maxlabel. Release with img_mono2label_free. */
DRAVN_EXPORT int img_mono2label(unsigned char* pixels, int bpl, int width, int height, int x1, int y1, int x2, int y2,
                                LBL_DATA* out);
DRAVN_EXPORT int lbl_main2_k(KIMAGE* image, ARECT* area, LBL_DATA* out);

DRAVN_EXPORT int lbl_free(LBL_DATA* data);
DRAVN_EXPORT int lbl_free2(LBL_DATA* data);
DRAVN_EXPORT int img_mono2label_free(LBL_DATA* data);
DRAVN_EXPORT int lbl_free2_k(LBL_DATA* data);

#ifdef __cplusplus
}
#endif

#endif
