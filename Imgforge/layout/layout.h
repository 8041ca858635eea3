/* Records and C entries of the layout analysis: ruled-table analysis, text
   block and line segmentation, and the grey-to-mono conversion for text.
   Nothing in the package calls them; they serve callers outside and the
   text-direction code. The entries keep process-wide state: callers
   serialise them. */
#ifndef IMGFORGE_LAYOUT_H
#define IMGFORGE_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#include "abitmap.h"
#include "dravn_export.h"

/* Table analysis parameters. Words 0-8 are lengths at 400 dpi, scaled to the
   page's resolution by every call; words 9-31 are working words, copied back
   to the caller after every call. */
typedef struct TABLE_C {
  int32_t para[32];
} TABLE_C;

/* One cell: its spans, grid position and inner rectangle (one pixel inside
   the rules). */
typedef struct ACELL {
  int16_t xspan;
  int16_t yspan;
  int16_t row;
  int16_t col;
  int16_t x1;
  int16_t y1;
  int16_t x2;
  int16_t y2;
} ACELL;

/* One grid row; the cells of all rows lie in one allocation owned by row 0. */
typedef struct AROW {
  uint16_t ncell;
  ACELL* cells;
} AROW;

/* A piece of a ruled line: the box from its first to its last crossing. */
typedef struct ALINE {
  int16_t x1;
  int16_t y1;
  int16_t x2;
  int16_t y2;
} ALINE;

typedef struct ATABLE {
  AROW* rows;
  uint16_t nrow;
  uint16_t ncol;
  ALINE* hline;
  int32_t nhline;
  ALINE* vline;
  int32_t nvline;
} ATABLE;

/* Segmentation results. */
typedef struct SEG_LINE {
  int16_t left;
  int16_t top;
  int16_t right;
  int16_t bottom;
  int16_t size;   /* character size of the line */
  uint16_t blank; /* blank lines after it (seg_format) */
  int16_t reserved;
} SEG_LINE;

typedef struct SEG_BLOCK {
  int16_t left;
  int16_t top;
  int16_t right;
  int16_t bottom;
  SEG_LINE* lines;
  uint16_t nline;
  int16_t reserved1;
  int16_t order; /* reading order, from 0 */
  int16_t reserved2;
} SEG_BLOCK;

typedef struct SEG_TABLE {
  uint16_t left;
  uint16_t top;
  uint16_t right;
  uint16_t bottom;
  int16_t reserved;
  int16_t order;
} SEG_TABLE;

typedef struct SEG_RESULT {
  SEG_BLOCK* blocks;
  int32_t nblock;
  SEG_TABLE* tables;
  int32_t ntable;
  void* handle; /* the analysis object; seg_free releases it */
} SEG_RESULT;

#ifdef __cplusplus
static_assert(sizeof(ACELL) == 16 && sizeof(AROW) == 16 && sizeof(ALINE) == 8, "table records");
static_assert(sizeof(SEG_LINE) == 14 && sizeof(SEG_BLOCK) == 24 && sizeof(SEG_TABLE) == 12, "segmentation records");
extern "C" {
#endif

/* Ruled-table analysis of the area of a 1-bit page at dpi. 0 table found
   (release with table_free), -1 no memory, -2 no table or bad arguments.
   Null parameters take the defaults. */
DRAVN_EXPORT int table_main(const ABITMAP* image, const ARECT* area, int dpi, ATABLE* out, TABLE_C* para);
DRAVN_EXPORT int table_free(ATABLE* table);
DRAVN_EXPORT int table_set_para(TABLE_C* para, const char* path);
/* Sparse cells -> a dense rows x columns grid. 0, or -1 (unchanged). */
DRAVN_EXPORT int table_convert(ATABLE* table);
DRAVN_EXPORT int table_convert2(ATABLE* out, const ATABLE* in);
DRAVN_EXPORT int table_main2(void* hlines, int nh, void* vlines, int nv, int flags, ATABLE* out, TABLE_C* para);

/* Runs of one 1-bit row. bit2run writes x1, then for each black run its
   first black and first white column, then x2 + 1, -1, -1: out must hold
   x2 - x1 + 6 entries. From its second entry on, the list is the
   (start, end-exclusive) pair list that run2bit takes, which ends at a
   negative end. */
DRAVN_EXPORT int bit2run(const uint8_t* row, int x1, int x2, int* out);
DRAVN_EXPORT int run2bit(uint8_t* row, const int* runs);

/* Quarter turns of a 1-bit bitmap: the new buffer (caller frees), described
   in out; null on failure. */
DRAVN_EXPORT uint8_t* abmp_rotate90(ABITMAP* out, const ABITMAP* in);
DRAVN_EXPORT uint8_t* abmp_rotate180(ABITMAP* out, const ABITMAP* in);
DRAVN_EXPORT uint8_t* abmp_rotate270(ABITMAP* out, const ABITMAP* in);

/* Layout parameters: the defaults of the splitter; the path is only kept. */
DRAVN_EXPORT int katuji_set_para(const char* path);
/* Stable in-place insertion sort. */
DRAVN_EXPORT void insertion_sort(void* base, size_t count, size_t size, int (*compare)(const void*, const void*));

/* Text blocks and lines of an area. direction > 0 horizontal lines, < 0
   vertical lines, 0 vertical lines left in the turned frame; mode 1 cuts
   blocks, any other mode takes the area as one block. 0, or negative with
   *result untouched. */
DRAVN_EXPORT int seg_main(ABITMAP* image, int dpi, ARECT* area, LBL_DATA* labels, int direction, int mode,
                          SEG_RESULT* result);
DRAVN_EXPORT void seg_format(SEG_RESULT* result);
DRAVN_EXPORT void seg_free(SEG_RESULT* result);

#ifdef __cplusplus
}
#endif

#endif
