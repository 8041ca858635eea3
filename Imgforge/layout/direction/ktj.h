/* Records and C entries of the text-direction code: page set-up into blocks,
   lines and character boxes, the writing direction, the upside-down test and
   the text-direction entry. Nothing in the package calls them; they serve
   callers outside. The entries keep process-wide state: callers serialise. */
#ifndef IMGFORGE_KTJ_H
#define IMGFORGE_KTJ_H

#include <stdint.h>

#include "abitmap.h"
#include "dravn_export.h"
#include "fsip_records.h"

/* A 1-bit page. Every entry refuses 140 dpi or less in either direction. */
typedef struct KTJBITMAP {
  int32_t width;
  int32_t height;
  int32_t bpl;
  uint8_t* data;
  int32_t xres;
  int32_t yres;
  int32_t size;
  int32_t bits;
} KTJBITMAP;

/* Direction request: the inclusive region to judge; the rest rides along. */
typedef struct KtjDirParam {
  int32_t x0, y0, x1, y1;
  uint8_t language; /* carried, never read */
  uint8_t reserved[7];
} KtjDirParam;

enum { KTJ_CHAR_MARKED = 8, KTJ_CHAR_DELETED = 16 };

typedef struct KtjChar {
  uint16_t flags;
  int16_t x0, y0, x1, y1;
} KtjChar;

typedef struct KtjLine {
  uint8_t cont; /* 1: a copy standing for an extra line slot */
  int16_t x0, y0, x1, y1;
  KtjChar* chars;
  uint16_t nchar;
  uint16_t capacity;
  uint8_t direction;
} KtjLine;

typedef struct KtjCell {
  uint8_t own; /* 0: covered by the merged cell at (row, col) */
  int16_t row, col;
  int16_t x0, y0, x1, y1;
  KtjLine* lines;
  uint16_t nline;
  uint16_t capacity;
} KtjCell;

typedef struct KtjTable {
  uint16_t ncol;
  uint16_t nrow;
  KtjCell* cells; /* nrow x ncol, row-major */
} KtjTable;

typedef struct KtjBlock {
  int16_t id;
  uint8_t done;
  int16_t x0, y0, x1, y1;
  void* lines;       /* KtjLine*, or KtjTable* for a table */
  uint16_t nline;    /* table: cells filled */
  uint16_t capacity; /* table: rows x columns */
  uint8_t kind;      /* 0 text, 1 table */
} KtjBlock;

typedef struct KtjPage {
  uint8_t mode;
  uint8_t state1;
  uint8_t state2;
  uint8_t segmode; /* 1: the area is one block */
  uint8_t state3;
  uint8_t linemode; /* 1: keep dust, merge touching characters */
  uint8_t format;
  uint8_t table; /* bit 0: analyse ruled tables */
  uint8_t noformat;
  int32_t x0, y0, x1, y1;
  KtjBlock* blocks;
  uint16_t nblock;
  uint16_t capacity;
} KtjPage;

/* Flat list of text lines (get_mojilines); the caller frees `lines`. */
typedef struct tagKTJBLOCK {
  uint8_t direction;
  uint64_t mask;
  KtjLine* lines;
  uint16_t nline;
  uint16_t capacity;
} tagKTJBLOCK;

/* Language table row of the text-direction entry. */
typedef struct LANG_BOX {
  char name[20];
  int32_t code;
} LANG_BOX;

/* One glyph of the upside-down test's dictionary. */
typedef struct NINSIKI_DIC {
  const char* label;
  int32_t cls;
  int32_t norm;
  uint8_t cells[25];
} NINSIKI_DIC;

#ifdef __cplusplus
extern "C" {
#endif

/* Page set-up. 0 or -2. */
DRAVN_EXPORT int ktj_pginit(KtjPage* page, KTJBITMAP* bitmap, ...);
DRAVN_EXPORT int ktj_pgfree(KtjPage* page);
DRAVN_EXPORT int katuji_pginit(void);
DRAVN_EXPORT int katuji_pgfree(void);
DRAVN_EXPORT int get_mojilines(KTJBITMAP* bitmap, ARECT* region, int direction, tagKTJBLOCK* out);
DRAVN_EXPORT int get_mojilines_g(KTJBITMAP* bitmap, ARECT* region, tagKTJBLOCK* out);

/* Upside-down test: 1 upright, 2 upside-down, 3 undecided, -2. */
DRAVN_EXPORT int is_updown_e2(ABITMAP* bitmap, int* bpl, tagKTJBLOCK* lines);
DRAVN_EXPORT int is_updown_e3(ABITMAP* bitmap, int* bpl, tagKTJBLOCK* lines, KTJBITMAP* page);
/* boxes: count inclusive x0, y0, x1, y1 quadruples. 0, 1 or 2. */
DRAVN_EXPORT int tstchdir_e(uint8_t* pixels, int bpl, int count, int* boxes);
DRAVN_EXPORT int tstchdir_e2(uint8_t* pixels, int bpl, int count, int* boxes, KTJBITMAP* page);

/* Writing direction and the direction entries. */
DRAVN_EXPORT int katuji_chdir_e(KtjDirParam* request, KTJBITMAP* bitmap);
DRAVN_EXPORT int katuji_chdir_e2(KtjDirParam* request, KTJBITMAP* bitmap, KtjDirParam* unused, KTJBITMAP* page);
DRAVN_EXPORT int katuji_chdir_e3(KtjDirParam* request, KTJBITMAP* bitmap, KtjDirParam* unused, KTJBITMAP* unused2,
                                 tagKTJBLOCK* lines, int* writing);
DRAVN_EXPORT int jdge_linedir(KTJBITMAP* bitmap, ARECT* region);
DRAVN_EXPORT int mojiretu_no_muki(ABITMAP* bitmap, ARECT* region, int dpi);
DRAVN_EXPORT int copystruct_ktjbmp2abmp(KTJBITMAP* in, ABITMAP* out);
DRAVN_EXPORT int copystruct_abmp2ktjbmp(ABITMAP* in, KTJBITMAP* out);
/* rect: inclusive x0, y0, x1, y1 of a bitmap of the given height. */
DRAVN_EXPORT void pv_rect_rot90(int* rect, int width, int height);

/* Text-direction entry. */
DRAVN_EXPORT int P2ICMUKI_recog(_P2IIMG* page, int* result, int* languages, short count, short* options);
DRAVN_EXPORT int P2ICMUKI_init(void);
DRAVN_EXPORT int P2ICMUKI_init_H(void);
DRAVN_EXPORT int P2ICMUKI_end(void);
DRAVN_EXPORT int P2ICMUKI_end_H(void);
DRAVN_EXPORT int P2iGetMojiMuki3(_P2IIMG* page, int* language, void* unused, void* unused2);
DRAVN_EXPORT int P2iJugWhitePaper_ForMUKI(_P2IIMG* page, int* level, void* unused);
DRAVN_EXPORT int _JugWhitePaper_ForMUKI(_P2IIMG* page, int count, int contrast);
DRAVN_EXPORT int check_lang(int* languages, short count, short* first);
DRAVN_EXPORT int check_lang_and_mk_list(int* languages, short count, short* first, short* list, short* listCount);
DRAVN_EXPORT int MUKIS_setting(int* mode, char* name, short* list, short listCount, int* mode2, short* options);
DRAVN_EXPORT int get_lang_info_2(LANG_BOX* table);
DRAVN_EXPORT int set_init_id(unsigned short* id, short* code);
DRAVN_EXPORT int ConvRGB2GrayN(_P2IIMG* in, _P2IIMG* out);
DRAVN_EXPORT int make_KTJpic(_P2IIMG* page, KTJBITMAP* out);
DRAVN_EXPORT int gree_gray_pic(KTJBITMAP* pic);
DRAVN_EXPORT int change_line_param(_P2IIMG* page, tagKTJBLOCK* block);
DRAVN_EXPORT extern int pic_size_judg;
DRAVN_EXPORT extern double judge_size;

#ifdef __cplusplus
}
#endif

#endif
