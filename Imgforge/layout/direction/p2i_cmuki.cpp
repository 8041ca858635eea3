// Text-direction entry: language and option checks, the grey copy of a
// colour page, and the tiles of a page judged one by one until one tells the
// direction of its text.
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "gray2mono.h"
#include "ktj_internal.h"

int pic_size_judg = 0;
double judge_size = 0;

namespace {

enum { P2I_ERR_PARAM = -1001, P2I_ERR_MEMORY = -1002, P2I_ERR_PIXELTYPE = -1003, P2I_ERR_CONVERT = -1007 };

short lang_number = 0;
int g_iPage = 0;

const LANG_BOX kLanguages[13] = {
    {"English", 1},  {"English", 2},  {"English", 3},  {"English", 4},
    {"English", 10}, {"German", 11},  {"French", 12},  {"Italian", 13},
    {"Spanish", 14}, {"PortugueseBrazilian", 15}, {"Russian", 16}, {"Turkish", 17},
    {"English", 0},
};

bool InTable(int code) {
  for (auto const& l : kLanguages)
    if (l.code == code) return true;
  return false;
}

bool EastAsian(int code) { return code >= 1 && code <= 4; }

// The page's region made whole where it is not positive.
void FixRegion(_P2IIMG* p) {
  if (p->nRight <= 0) p->nRight = p->nWidth - 1;
  if (p->nBottom <= 0) p->nBottom = p->nHeight - 1;
}

uint8_t LanguageByte(int code) {
  switch (code) {
    case 1: return 0;
    case 2: return 2;
    case 3: return 3;
    case 4: return 4;
    default: return 1;
  }
}

// Pixels (x0..x0+w-1) of a 1-bit row, from bit 0 of dst.
void CopyBits(uint8_t* dst, const uint8_t* src, int x0, int w) {
  const int shift = x0 & 7;
  const uint8_t* s = src + (x0 >> 3);
  const int bytes = (w + 7) / 8, srcBytes = (shift + w + 7) / 8;
  for (int k = 0; k < bytes; ++k) {
    unsigned v = s[k] << shift;
    if (shift && k + 1 < srcBytes) v |= s[k + 1] >> (8 - shift);
    dst[k] = static_cast<uint8_t>(v);
  }
  if (w & 7) dst[bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (w & 7));
}

struct Tiles {
  _P2IIMG t[4] = {};
  ~Tiles() {
    for (auto& x : t) free(x.pImageData);
  }
};

// One tile as a top-down 1-bit image in tile.
int MakeTile(_P2IIMG const& page, int col, int row, int tw, int th, _P2IIMG& tile, bool& white) {
  white = false;
  const int x0 = col * tw, y0 = row * th;
  if (page.nBitsPerPixel == 8) {
    _P2IIMG region = page;
    region.nLeft = x0, region.nTop = y0, region.nRight = x0 + tw - 1, region.nBottom = y0 + th - 1;
    int level = 0;
    const int w = P2iJugWhitePaper_ForMUKI(&region, &level, nullptr);
    if (w < 0) return P2I_ERR_MEMORY;
    if (w == 1) {
      white = true;
      return 0;
    }
    int options[2] = {page.nXResolution > 499 ? -1 : 0, 0};
    _P2IIMG mono{};
    if (P2i_gray2mono(&region, options, &mono, nullptr) != 0) return P2I_ERR_MEMORY;
    // The binarizer reads a bottom-up page top-down already.
    const size_t size = static_cast<size_t>(mono.nBytesPerLine) * mono.nHeight;
    tile = mono;
    tile.pImageData = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (tile.pImageData) memcpy(tile.pImageData, mono.pImageData, size);
    void* pixels = mono.pImageData;
    P2i_gray2mono_free(&mono, options, &pixels, nullptr);
    if (!tile.pImageData) return P2I_ERR_MEMORY;
    tile.nColorOrder = 0;
    return 0;
  }
  return ktj::ExtractTile1(page, x0, y0, tw, th, tile);
}

}  // namespace

int ktj::ExtractTile1(_P2IIMG const& page, int x0, int y0, int tw, int th, _P2IIMG& tile) {
  const int bpl = (tw + 31) / 32 * 4;
  tile = _P2IIMG{};
  tile.pImageData = static_cast<uint8_t*>(calloc(static_cast<size_t>(bpl) * th + 1, 1));
  if (!tile.pImageData) return P2I_ERR_MEMORY;
  const bool reversed = page.nColorOrder == 1;
  for (int y = 0; y < th; ++y) {
    const int src = reversed ? page.nHeight - 1 - (y0 + y) : y0 + y;
    CopyBits(tile.pImageData + static_cast<size_t>(y) * bpl, page.pImageData + static_cast<size_t>(src) * page.nBytesPerLine,
             x0, tw);
  }
  tile.nBitsPerPixel = 1;
  tile.nWidth = tw, tile.nHeight = th, tile.nBytesPerLine = bpl, tile.nImageSize = bpl * th;
  tile.nXResolution = page.nXResolution, tile.nYResolution = page.nYResolution;
  tile.nRight = tw - 1, tile.nBottom = th - 1;
  return 0;
}

int P2ICMUKI_init(void) { return 0; }
int P2ICMUKI_init_H(void) { return 0; }
int P2ICMUKI_end(void) { return 0; }
int P2ICMUKI_end_H(void) { return 0; }

int get_lang_info_2(LANG_BOX* table) {
  if (!table) return P2I_ERR_PARAM;
  memcpy(table, kLanguages, sizeof kLanguages);
  return 0;
}

int set_init_id(unsigned short* id, short* code) {
  if (!id || !code) return P2I_ERR_PARAM;
  static const unsigned short kIds[5] = {1033, 1041, 2052, 1028, 1042};
  *id = EastAsian(*code) ? kIds[*code] : 1033;
  return 0;
}

int check_lang(int* languages, short count, short* first) {
  if (!languages || !first || count < 1 || count > 14) return P2I_ERR_PARAM;
  for (int i = 0; i < count; ++i)
    if (!InTable(languages[i])) return P2I_ERR_PARAM;
  const int f = languages[0];
  if (!EastAsian(f) && !(f >= 10 && f <= 17)) return P2I_ERR_PARAM;
  *first = static_cast<short>(EastAsian(f) ? f : 10);
  return 0;
}

int check_lang_and_mk_list(int* languages, short count, short* first, short* list, short* listCount) {
  if (!languages || !first || !list || !listCount || count < 1 || count > 14) return P2I_ERR_PARAM;
  short n = 0;
  if (*first == 10) {
    for (int i = 0; i < count; ++i)
      if (InTable(languages[i]) && !EastAsian(languages[i])) list[n++] = static_cast<short>(languages[i]);
    if (n == 0) return P2I_ERR_PARAM;
  } else {
    if (languages[0] != *first) return P2I_ERR_PARAM;
    list[n++] = *first;
  }
  *listCount = n;
  return 0;
}

int MUKIS_setting(int* mode, char* name, short* list, short listCount, int* mode2, short* options) {
  if (!mode || !list || listCount < 1 || !options) return P2I_ERR_PARAM;
  const int c = list[0], w = *options;
  if ((w & 7) == 0 || c > 17) return P2I_ERR_PARAM;
  int m;
  if (EastAsian(c)) {
    m = 1;
  } else if ((c >= 10 && c <= 15) || c == 17 || c == 16) {
    m = (c != 16 && (w & 1)) ? 14 : 12;
    if (!(w & 2)) m -= 4;
    if (!(w & 4)) m -= 8;
    if (m == 0) return P2I_ERR_PARAM;
  } else {
    return P2I_ERR_PARAM;
  }
  *mode = m;
  if (mode2) *mode2 = m;
  if (name) strcpy(name, "English");
  return 0;
}

int ConvRGB2GrayN(_P2IIMG* in, _P2IIMG* out) {
  if (!in || !out || !in->pImageData) return P2I_ERR_PARAM;
  if (in->nBitsPerPixel != 24) return P2I_ERR_PIXELTYPE;
  if (in->nWidth <= 0 || in->nHeight <= 0 || in->nBytesPerLine / 3 < in->nWidth) return P2I_ERR_PARAM;
  const size_t w = in->nWidth, h = in->nHeight;
  auto* grey = static_cast<uint8_t*>(malloc(w * h));
  if (!grey) return P2I_ERR_MEMORY;
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* s = in->pImageData + y * in->nBytesPerLine;
    uint8_t* d = grey + y * w;
    for (size_t x = 0; x < w; ++x, s += 3) d[x] = static_cast<uint8_t>((77 * s[0] + 150 * s[1] + 29 * s[2]) >> 8);
  }
  *out = *in;
  out->pImageData = grey;
  out->nBitsPerPixel = 8;
  out->nBytesPerLine = in->nWidth;
  out->nImageSize = in->nImageSize / 3;
  return 0;
}

int _JugWhitePaper_ForMUKI(_P2IIMG* page, int count, int contrast) {
  if (!page || page->nBitsPerPixel != 8 || page->nXResolution < 0) return P2I_ERR_PIXELTYPE;
  const int px = page->nXResolution / 25;
  if (px <= 0 || !page->pImageData) return P2I_ERR_PIXELTYPE;
  const int L = std::max(page->nLeft, 0), T = std::max(page->nTop, 0);
  const int R = std::min(page->nRight, page->nWidth - 1), B = std::min(page->nBottom, page->nHeight - 1);
  if (L > R || T > B) return 0;
  const int mx = (R - L + 1) / px >= 158 ? 16 * px : 4 * px, my = (B - T + 1) / px >= 158 ? 16 * px : 4 * px;
  const int l = L + mx, r = R - mx, t = T + my, b = B - my;
  if (!(l < r && t < b)) return 0;
  const int dpi = page->nXResolution, s = dpi / 50 + 1, d = dpi > 599 ? 6 : dpi < 300 ? 2 : 4;
  long allowance = static_cast<long>(count) * px / s;
  auto at = [&](int x, int y) { return page->pImageData[static_cast<size_t>(y) * page->nBytesPerLine + x]; };
  for (int y = t; y <= b; y += s)
    for (int x = l; x <= r; x += s) {
      const int v = at(x, y);
      int top = -1;
      if (x - d >= 0) top = std::max<int>(top, at(x - d, y));
      if (x + d < page->nWidth) top = std::max<int>(top, at(x + d, y));
      if (y - d >= 0) top = std::max<int>(top, at(x, y - d));
      if (y + d < page->nHeight) top = std::max<int>(top, at(x, y + d));
      if (v < top && top - v > contrast && --allowance < 0) return 0;
    }
  return 1;
}

int P2iJugWhitePaper_ForMUKI(_P2IIMG* page, int* level, void*) {
  static const int kLevels[5][2] = {{20, 30}, {20, 35}, {24, 40}, {24, 45}, {30, 45}};
  const int k = level && *level >= -2 && *level <= 2 ? *level + 2 : 2;
  return _JugWhitePaper_ForMUKI(page, kLevels[k][0], kLevels[k][1]);
}

int P2iGetMojiMuki3(_P2IIMG* page, int* language, void*, void*) {
  ++g_iPage;
  if (!page || !page->pImageData || (page->nBitsPerPixel != 1 && page->nBitsPerPixel != 8)) return P2I_ERR_PIXELTYPE;
  const int px = page->nXResolution / 25, py = page->nYResolution / 25;
  if (px <= 0 || py <= 0) return P2I_ERR_PIXELTYPE;
  if (page->nWidth <= 0 || page->nHeight <= 0) return P2I_ERR_PARAM;
  const long rowBytes = page->nBitsPerPixel == 1 ? (page->nWidth + 7L) / 8 : page->nWidth;
  if (page->nBytesPerLine < rowBytes) return P2I_ERR_PARAM;
  const int nx = page->nWidth / px > 157 ? 2 : 1, ny = page->nHeight / py > 157 ? 2 : 1;
  const int tw = page->nWidth / nx, th = page->nHeight / ny;
  Tiles tiles;
  const int code = language ? *language : 0;
  for (int col = 0; col < nx; ++col)
    for (int row = 0; row < ny; ++row) {
      _P2IIMG& tile = tiles.t[col * ny + row];
      bool white = false;
      const int rc = MakeTile(*page, col, row, tw, th, tile, white);
      if (rc != 0) return rc;
      if (white || code != 10) continue;
      KTJBITMAP k{tile.nWidth, tile.nHeight, tile.nBytesPerLine, tile.pImageData,
                  page->nXResolution, page->nYResolution, tile.nBytesPerLine * tile.nHeight, 1};
      KtjDirParam req{0, 0, tile.nWidth - 1, tile.nHeight - 1, LanguageByte(code), {}};
      const int v = katuji_chdir_e2(&req, &k, nullptr, &k);
      if (v >= 1 && v <= 4) return v;
    }
  return 0;
}

int P2ICMUKI_recog(_P2IIMG* page, int* result, int* languages, short count, short* options) {
  if (!page || !result) return P2I_ERR_PARAM;
  *result = 0;
  lang_number = count;
  FixRegion(page);
  if (!page->pImageData) return P2I_ERR_PIXELTYPE;
  if (!languages || count <= 0 || !options) return P2I_ERR_PARAM;
  short first = 0;
  if (check_lang(languages, count, &first) != 0 || first == 0) return 0;
  short list[14];
  short n = 0;
  int rc = check_lang_and_mk_list(languages, lang_number, &first, list, &n);
  if (rc != 0) return rc;
  int mode = 0, mode2 = 0;
  char name[20];
  if (MUKIS_setting(&mode, name, list, n, &mode2, options) != 0 || mode == 0) return P2I_ERR_PARAM;
  if ((mode & 3) == 0) return 0;
  _P2IIMG grey{};
  _P2IIMG* img = page;
  if (page->nBitsPerPixel == 24) {
    rc = ConvRGB2GrayN(page, &grey);
    if (rc != 0) return rc;
    img = &grey;
  }
  int language = first;
  const int v = P2iGetMojiMuki3(img, &language, nullptr, nullptr);
  free(grey.pImageData);
  if (v >= 0) *result = v;
  return 0;
}

int make_KTJpic(_P2IIMG* page, KTJBITMAP* out) {
  if (!page || !out) return P2I_ERR_PARAM;
  if (page->nRight <= 0 || page->nBottom <= 0) return P2I_ERR_PIXELTYPE;
  int options[2] = {0, 0};
  _P2IIMG mono{};
  if (page->nBitsPerPixel == 24) {
    _P2IIMG grey{};
    if (ConvRGB2GrayN(page, &grey) != 0) return P2I_ERR_CONVERT;
    const int rc = P2i_gray2mono(&grey, options, &mono, nullptr);
    free(grey.pImageData);
    if (rc != 0) return P2I_ERR_CONVERT;
  } else if (page->nBitsPerPixel == 8) {
    if (P2i_gray2mono(page, options, &mono, nullptr) != 0) return P2I_ERR_CONVERT;
  } else if (page->nBitsPerPixel == 1) {
    // A copy, so that gree_gray_pic never frees the caller's pixels.
    if (!page->pImageData || page->nBytesPerLine <= 0 || page->nHeight <= 0) return P2I_ERR_PARAM;
    const size_t size = static_cast<size_t>(page->nBytesPerLine) * page->nHeight;
    auto* copy = static_cast<uint8_t*>(malloc(size));
    if (!copy) return P2I_ERR_MEMORY;
    memcpy(copy, page->pImageData, size);
    *out = KTJBITMAP{page->nWidth, page->nHeight, page->nBytesPerLine, copy,
                     page->nXResolution, page->nYResolution, static_cast<int32_t>(size), 1};
    return 0;
  } else {
    return P2I_ERR_PIXELTYPE;
  }
  *out = KTJBITMAP{mono.nWidth, mono.nHeight, mono.nBytesPerLine, mono.pImageData,
                   mono.nXResolution, mono.nYResolution, mono.nImageSize, 1};
  return 0;
}

int gree_gray_pic(KTJBITMAP* pic) {
  if (!pic) return P2I_ERR_PARAM;
  _P2IIMG mono{};
  mono.pImageData = pic->data;
  int options[2] = {0, 0};
  void* pixels = pic->data;
  P2i_gray2mono_free(&mono, options, &pixels, nullptr);
  pic->data = nullptr;
  return 0;
}

int change_line_param(_P2IIMG* page, tagKTJBLOCK* block) {
  if (!page || !block) return P2I_ERR_PARAM;
  const int H = page->nHeight;
  for (int i = 0; block->lines && i < block->nline; ++i) {
    KtjLine& l = block->lines[i];
    const int x0 = l.x0, y0 = l.y0, x1 = l.x1, y1 = l.y1;
    if (H - 1 - x1 < 0 || H - 1 - x0 < 0) return P2I_ERR_CONVERT;
    l.x0 = static_cast<int16_t>(y0);
    l.y0 = static_cast<int16_t>(H - 1 - x1);
    l.x1 = static_cast<int16_t>(y1);
    l.y1 = static_cast<int16_t>(H - 1 - x0);
  }
  return 0;
}
