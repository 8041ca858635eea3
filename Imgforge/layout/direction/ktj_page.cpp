// Page set-up: text blocks and their lines, ruled tables with the lines of
// their cells, and each line's character boxes, cleaned of dust and merged
// where they overlap.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <vector>

#include "ktj_internal.h"
#include "layout.h"
#include "layout_internal.h"

namespace {

bool g_bKtjLibInit = false;
int ktjkasure_f = 0;
int DUSTSQ = 5;
char myINIflptb[256] = "";
TABLE_C g_tablecpb;

constexpr int kMaxCount = 65535;  // counts are 16-bit

int Width(KtjChar const& c) { return c.x1 - c.x0 + 1; }
int Height(KtjChar const& c) { return c.y1 - c.y0 + 1; }

KtjChar CharOf(int x0, int y0, int x1, int y1) {
  return KtjChar{0, static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<int16_t>(x1),
                 static_cast<int16_t>(y1)};
}

// Region as x, y, width, height; a region one pixel wide is taken two wide.
ARECT AreaOf(int x0, int y0, int x1, int y1, int pageWidth) {
  ARECT r{x0, y0, ktj::Extent(x0, x1), ktj::Extent(y0, y1)};
  if (r.w <= 1) {
    if (x0 >= pageWidth - 1) r.x = ktj::Clamp(static_cast<int64_t>(x0) + r.w - 2);
    r.w = 2;
  }
  return r;
}

// Characters whose box the line holds for the most part.
std::vector<KtjChar> gather_chinb(KtjLine const& line, std::vector<KtjChar>& chars) {
  const long W = line.x1 - line.x0 + 1, H = line.y1 - line.y0 + 1;
  std::vector<KtjChar> got;
  for (auto& c : chars) c.flags &= ~KTJ_CHAR_MARKED;
  for (auto const& c : chars) {
    if (!(W * 50 < H * 100 || Width(c) * 100L < W * 72)) continue;
    const long ox = std::min<int>(c.x1, line.x1) - std::max<int>(c.x0, line.x0) + 1;
    const long oy = std::min<int>(c.y1, line.y1) - std::max<int>(c.y0, line.y0) + 1;
    if (ox <= 0 || oy <= 0) continue;
    if (ox * oy * 100 >= static_cast<long>(Width(c)) * Height(c) * 72) got.push_back(c);
  }
  return got;
}

void ktjremove_dust_sq(std::vector<KtjChar>& v) {
  v.erase(std::remove_if(v.begin(), v.end(),
                         [](KtjChar const& c) { return static_cast<long>(Width(c)) * Height(c) <= DUSTSQ; }),
          v.end());
}

// Characters over one another (x-ranges overlapping, directly or through
// others) become one; sorted by left edge afterwards.
void reduce_ktjm_h(std::vector<KtjChar>& v) {
  std::sort(v.begin(), v.end(), [](KtjChar const& a, KtjChar const& b) { return a.x0 < b.x0; });
  size_t out = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (out && v[i].x0 <= v[out - 1].x1) {
      KtjChar& p = v[out - 1];
      p.y0 = std::min(p.y0, v[i].y0);
      p.y1 = std::max(p.y1, v[i].y1);
      p.x1 = std::max(p.x1, v[i].x1);
    } else {
      v[out++] = v[i];
    }
  }
  v.resize(out);
  for (auto& c : v) c.flags = 0;
}

// Neighbours at most one pixel apart become one (line mode 1).
void reduce_near_h(std::vector<KtjChar>& v) {
  size_t out = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (out && v[i].x0 - v[out - 1].x1 <= 1) {
      KtjChar const left = v[out - 1];
      KtjChar& n = v[out - 1];
      n = v[i];
      n.x0 = left.x0;
      n.y0 = std::min(left.y0, v[i].y0);
      n.y1 = std::max(left.y1, v[i].y1);
    } else {
      v[out++] = v[i];
    }
  }
  v.resize(out);
}

}  // namespace

int ktj::linechar(KtjLine* lines, int n, std::vector<KtjChar>& chars, int keep, int mode) {
  const bool merge = keep || mode == 1;
  for (int i = 0; i < n; ++i) {
    KtjLine& line = lines[i];
    if (line.cont) continue;
    std::vector<KtjChar> v = gather_chinb(line, chars);
    const KtjChar own = CharOf(line.x0, line.y0, line.x1, line.y1);
    size_t capacity = 0;
    if (!v.empty()) {
      if (!merge) ktjremove_dust_sq(v);
      if (v.empty()) v.push_back(own);
    } else {
      v.push_back(own);
      capacity = 2;
    }
    reduce_ktjm_h(v);
    if (merge) reduce_near_h(v);
    if (v.size() > kMaxCount) return -1;
    capacity = std::max(capacity, v.size());
    auto* mem = static_cast<KtjChar*>(calloc(capacity, sizeof(KtjChar)));
    if (!mem) return -1;
    std::copy(v.begin(), v.end(), mem);
    free(line.chars);
    line.chars = mem;
    line.nchar = static_cast<uint16_t>(v.size());
    line.capacity = static_cast<uint16_t>(capacity);
  }
  return 0;
}

namespace {

template <class R>
void Grow(R& box, bool& first, int x0, int y0, int x1, int y1) {
  if (first) {
    box.x0 = static_cast<int16_t>(x0), box.y0 = static_cast<int16_t>(y0);
    box.x1 = static_cast<int16_t>(x1), box.y1 = static_cast<int16_t>(y1);
    first = false;
    return;
  }
  box.x0 = static_cast<int16_t>(std::min<int>(box.x0, x0)), box.y0 = static_cast<int16_t>(std::min<int>(box.y0, y0));
  box.x1 = static_cast<int16_t>(std::max<int>(box.x1, x1)), box.y1 = static_cast<int16_t>(std::max<int>(box.y1, y1));
}

// Lines take the box of their characters (continuation copies follow their
// line), text blocks the box of their lines, tables grow over their text.
void rwrt_rect(KtjPage& page) {
  for (int b = 0; b < page.nblock; ++b) {
    KtjBlock& blk = page.blocks[b];
    auto fitLines = [](KtjLine* lines, int n) {
      KtjLine const* last = nullptr;
      for (int i = 0; i < n; ++i) {
        KtjLine& l = lines[i];
        if (l.cont) {
          if (last) l.x0 = last->x0, l.y0 = last->y0, l.x1 = last->x1, l.y1 = last->y1;
          continue;
        }
        bool first = true;
        for (int k = 0; k < l.nchar; ++k) Grow(l, first, l.chars[k].x0, l.chars[k].y0, l.chars[k].x1, l.chars[k].y1);
        last = &l;
      }
    };
    if (blk.kind == 0) {
      auto* lines = static_cast<KtjLine*>(blk.lines);
      fitLines(lines, blk.nline);
      bool first = true;
      for (int i = 0; i < blk.nline; ++i) Grow(blk, first, lines[i].x0, lines[i].y0, lines[i].x1, lines[i].y1);
    } else if (auto* t = static_cast<KtjTable*>(blk.lines)) {
      bool first = false;
      for (int c = 0; c < t->nrow * t->ncol; ++c) {
        KtjCell& cell = t->cells[c];
        fitLines(cell.lines, cell.nline);
        for (int i = 0; i < cell.nline; ++i)
          Grow(blk, first, cell.lines[i].x0, cell.lines[i].y0, cell.lines[i].x1, cell.lines[i].y1);
      }
    }
  }
}

// Plain line records of a segmentation block: rectangles only.
KtjLine* CopyLines(SEG_BLOCK const& sb, bool withSlots, int& count) {
  long total = 0;
  for (int i = 0; i < sb.nline; ++i) total += 1 + (withSlots ? sb.lines[i].blank : 0);
  count = static_cast<int>(total);
  auto* lines = static_cast<KtjLine*>(calloc(total ? total : 1, sizeof(KtjLine)));
  if (!lines) return nullptr;
  int k = 0;
  for (int i = 0; i < sb.nline; ++i) {
    SEG_LINE const& s = sb.lines[i];
    const int copies = 1 + (withSlots ? s.blank : 0);
    for (int c = 0; c < copies; ++c, ++k) {
      lines[k].cont = c ? 1 : 0;
      lines[k].x0 = s.left, lines[k].y0 = s.top, lines[k].x1 = s.right, lines[k].y1 = s.bottom;
    }
  }
  return lines;
}

}  // namespace

namespace {

int sort_cmpb(const void* a, const void* b) {
  auto const& p = *static_cast<KtjChar const*>(a);
  auto const& q = *static_cast<KtjChar const*>(b);
  return p.x0 != q.x0 ? p.x0 - q.x0 : p.y0 - q.y0;
}

int ReduceBoxes(KtjChar* b, int n, int limit, bool yOnly) {
  if (!b || n <= 0) return 0;
  qsort(b, n, sizeof *b, sort_cmpb);
  for (bool changed = true; changed;) {
    changed = false;
    for (int i = 0; i < n; ++i) {
      if (b[i].flags & KTJ_CHAR_DELETED) continue;
      for (int j = i + 1; j < n; ++j) {
        if (b[j].flags & KTJ_CHAR_DELETED) continue;
        if (!yOnly && b[j].x0 > b[i].x1) break;
        const bool ox = b[j].x0 <= b[i].x1 && b[i].x0 <= b[j].x1, oy = b[j].y0 <= b[i].y1 && b[i].y0 <= b[j].y1;
        if (!(yOnly ? oy : ox && oy)) continue;
        KtjChar u = CharOf(std::min(b[i].x0, b[j].x0), std::min(b[i].y0, b[j].y0), std::max(b[i].x1, b[j].x1),
                           std::max(b[i].y1, b[j].y1));
        if (std::max(Width(u), Height(u)) * 100L > limit) continue;
        u.flags = b[i].flags;
        b[i] = u;
        b[j].flags |= KTJ_CHAR_DELETED;
        changed = true;
      }
    }
  }
  int out = 0;
  for (int i = 0; i < n; ++i)
    if (!(b[i].flags & KTJ_CHAR_DELETED)) b[out++] = b[i];
  return out;
}

}  // namespace

int ktj::reduce_box_with_max(KtjChar* boxes, int n, int limit) { return ReduceBoxes(boxes, n, limit, false); }
int ktj::reduce_box_y_with_max(KtjChar* boxes, int n, int limit) { return ReduceBoxes(boxes, n, limit, true); }

KtjLine* ktj::BlockLines(SEG_BLOCK const& sb, int& count) {
  long slots = 0;
  for (int k = 0; k < sb.nline; ++k) slots += sb.lines[k].blank + 1;
  return CopyLines(sb, slots < 1025, count);
}

namespace {

// The lines of one table cell, from the first text block found in it.
int CellLines(ABITMAP& a, int dpi, KtjCell& cell, int pageWidth) {
  ARECT r = AreaOf(cell.x0, cell.y0, cell.x1, cell.y1, pageWidth);
  layout::CLbl_data lbl;
  if (lbl_main2(&a, &r, &lbl.m_data) != 0) return -2;
  SEG_RESULT seg{};
  if (seg_main(&a, dpi, &r, &lbl.m_data, 1, 0, &seg) != 0) return -2;
  int rc = 0;
  if (seg.nblock > 0 && seg.blocks[0].nline > 0) {
    int n = 0;
    cell.lines = CopyLines(seg.blocks[0], false, n);
    if (cell.lines)
      cell.nline = cell.capacity = static_cast<uint16_t>(n);
    else
      rc = -2;
  }
  seg_free(&seg);
  return rc;
}

// A table block: the grid of the ruled table in its region, with the lines
// of each cell. 0, or -2 (the set-up fails).
int TableBlock(ABITMAP& a, int dpi, KtjBlock& blk, int pageWidth) {
  ARECT area{blk.x0, blk.y0, ktj::Extent(blk.x0, blk.x1), ktj::Extent(blk.y0, blk.y1)};
  ATABLE found{};
  const int rc = table_main(&a, &area, dpi, &found, &g_tablecpb);
  if (rc != 0) return rc == -1 || rc == -2 ? 0 : -2;  // no memory or no table: an empty table
  ATABLE grid{};
  const bool empty = found.nrow == 0 || found.ncol == 0;
  if (empty || table_convert2(&grid, &found) != 0) {
    table_free(&found);
    return empty ? 0 : -2;
  }
  const int nrow = grid.nrow, ncol = grid.ncol;
  auto* t = static_cast<KtjTable*>(calloc(1, sizeof(KtjTable)));
  KtjCell* cells = t ? static_cast<KtjCell*>(calloc(static_cast<size_t>(nrow) * ncol, sizeof(KtjCell))) : nullptr;
  int result = 0;
  if (!cells || static_cast<long>(nrow) * ncol > kMaxCount) {
    free(cells);
    free(t);
    result = -2;
  } else {
    t->nrow = static_cast<uint16_t>(nrow), t->ncol = static_cast<uint16_t>(ncol), t->cells = cells;
    blk.lines = t;
    blk.nline = blk.capacity = static_cast<uint16_t>(nrow * ncol);
    for (int r = 0; r < nrow && result == 0; ++r)
      for (int c = 0; c < ncol && result == 0; ++c) {
        ACELL const& g = grid.rows[r].cells[c];
        KtjCell& cell = cells[r * ncol + c];
        cell.x0 = g.x1, cell.y0 = g.y1, cell.x1 = g.x2, cell.y1 = g.y2;
        result = CellLines(a, dpi, cell, pageWidth);
      }
    for (int k = 0; k < nrow * ncol; ++k) {
      cells[k].own = 1;
      cells[k].row = static_cast<int16_t>(k / ncol), cells[k].col = static_cast<int16_t>(k % ncol);
    }
    // A merged cell covers the grid cells of its span but its own.
    for (int r = 0; found.rows && r < found.nrow; ++r)
      for (int k = 0; k < found.rows[r].ncell; ++k) {
        ACELL const& s = found.rows[r].cells[k];
        for (int dy = 0; dy < s.yspan; ++dy)
          for (int dx = 0; dx < s.xspan; ++dx) {
            const int y = s.row + dy, x = s.col + dx;
            if ((dx == 0 && dy == 0) || y < 0 || y >= nrow || x < 0 || x >= ncol) continue;
            KtjCell& covered = cells[y * ncol + x];
            covered.own = 0, covered.row = s.row, covered.col = s.col;
          }
      }
  }
  table_free(&grid);
  table_free(&found);
  return result;
}

int blkidcmp(const void* a, const void* b) {
  return static_cast<KtjBlock const*>(a)->id - static_cast<KtjBlock const*>(b)->id;
}

int PageInit(KtjPage& page, KTJBITMAP& bmp) {
  if (!g_bKtjLibInit) {
    ktjkasure_f = 0;
    DUSTSQ = 5;
    katuji_set_para(myINIflptb);
    table_set_para(&g_tablecpb, myINIflptb);
    g_bKtjLibInit = true;
  }
  ABITMAP a{};
  copystruct_ktjbmp2abmp(&bmp, &a);
  ARECT r = AreaOf(page.x0, page.y0, page.x1, page.y1, bmp.width);
  layout::CLbl_data lbl;
  if (lbl_main2(&a, &r, &lbl.m_data) != 0) return -2;
  SEG_RESULT seg{};
  if (seg_main(&a, bmp.xres, &r, &lbl.m_data, 1, page.segmode == 1 ? 0 : 1, &seg) != 0) return -2;
  struct SegOwner {
    SEG_RESULT* s;
    ~SegOwner() { seg_free(s); }
  } segOwner{&seg};
  if (page.mode != 1 && page.noformat != 1 && page.format == 1 && seg.nblock > 0) seg_format(&seg);

  const long tables = (page.table & 1) ? seg.ntable : 0, total = seg.nblock + tables;
  if (total > kMaxCount) return -2;
  page.blocks = static_cast<KtjBlock*>(calloc(total ? total : 1, sizeof(KtjBlock)));
  if (!page.blocks) return -2;
  page.capacity = static_cast<uint16_t>(total);
  for (int i = 0; i < seg.nblock; ++i) {
    SEG_BLOCK const& sb = seg.blocks[i];
    KtjBlock& blk = page.blocks[page.nblock++];
    blk.id = sb.order, blk.kind = 0;
    blk.x0 = sb.left, blk.y0 = sb.top, blk.x1 = sb.right, blk.y1 = sb.bottom;
    int n = 0;
    KtjLine* lines = ktj::BlockLines(sb, n);
    if (!lines) return -2;
    blk.lines = lines;
    blk.nline = blk.capacity = static_cast<uint16_t>(n);
  }
  for (int i = 0; i < tables; ++i) {
    SEG_TABLE const& st = seg.tables[i];
    KtjBlock& blk = page.blocks[page.nblock++];
    blk.id = st.order, blk.kind = 1;
    blk.x0 = static_cast<int16_t>(st.left), blk.y0 = static_cast<int16_t>(st.top);
    blk.x1 = static_cast<int16_t>(st.right), blk.y1 = static_cast<int16_t>(st.bottom);
    if (TableBlock(a, bmp.xres, blk, bmp.width) != 0) return -2;
  }
  qsort(page.blocks, page.nblock, sizeof(KtjBlock), blkidcmp);

  std::vector<KtjChar> chars;
  chars.reserve(lbl.m_data.maxlabel > 0 ? static_cast<size_t>(lbl.m_data.maxlabel) : 0);
  for (int64_t k = 1; k <= lbl.m_data.maxlabel; ++k) {
    KRECT const& b = lbl.m_data.rects[k];
    chars.push_back(CharOf(b.xmin, b.ymin, b.xmax, b.ymax));
  }
  lbl.Free();
  for (int b = 0; b < page.nblock; ++b) {
    KtjBlock& blk = page.blocks[b];
    if (blk.kind == 0) {
      if (ktj::linechar(static_cast<KtjLine*>(blk.lines), blk.nline, chars, ktjkasure_f, page.linemode) != 0) return -2;
    } else if (auto* t = static_cast<KtjTable*>(blk.lines)) {
      for (int c = 0; c < t->nrow * t->ncol; ++c)
        if (ktj::linechar(t->cells[c].lines, t->cells[c].nline, chars, ktjkasure_f, page.linemode) != 0) return -2;
    }
  }
  rwrt_rect(page);
  page.state1 = page.state2 = page.state3 = 1;
  for (int b = 0; b < page.nblock; ++b) page.blocks[b].done = 1;
  return 0;
}

void FreeLines(KtjLine* lines, int n) {
  for (int i = 0; lines && i < n; ++i) free(lines[i].chars);
  free(lines);
}

}  // namespace

int ktj_pginit(KtjPage* page, KTJBITMAP* bitmap, ...) {
  if (!page || !ktj::ResolutionOk(bitmap)) return -2;
  page->blocks = nullptr;
  page->nblock = 0;
  page->capacity = 0;
  if (!ktj::PageOk(bitmap) || bitmap->bits != 1) return -2;
  int rc;
  try {
    rc = PageInit(*page, *bitmap);
  } catch (...) {
    rc = -2;
  }
  if (rc != 0) ktj_pgfree(page);
  return rc;
}

int ktj_pgfree(KtjPage* page) {
  if (!page) return 0;
  for (int b = 0; page->blocks && b < page->nblock; ++b) {
    KtjBlock& blk = page->blocks[b];
    if (blk.kind == 0) {
      FreeLines(static_cast<KtjLine*>(blk.lines), blk.nline);
    } else if (auto* t = static_cast<KtjTable*>(blk.lines)) {
      for (int c = 0; t->cells && c < t->nrow * t->ncol; ++c) FreeLines(t->cells[c].lines, t->cells[c].nline);
      free(t->cells);
      free(t);
    }
    blk.lines = nullptr;
  }
  free(page->blocks);
  page->blocks = nullptr;
  page->nblock = 0;
  page->capacity = 0;
  return 0;
}

int katuji_pginit(void) { return 0; }
int katuji_pgfree(void) { return 0; }

int get_mojilines(KTJBITMAP* bitmap, ARECT* region, int direction, tagKTJBLOCK* out) {
  if (!region || !out) return -2;
  KtjPage page{};
  page.mode = 1;
  page.x0 = region->x, page.y0 = region->y;
  page.x1 = layout::LastOf(region->x, region->w), page.y1 = layout::LastOf(region->y, region->h);
  const int rc = ktj_pginit(&page, bitmap);
  if (rc != 0) return rc;
  long n = 0;
  for (int b = 0; b < page.nblock; ++b)
    if (page.blocks[b].kind == 0)
      for (int i = 0; i < page.blocks[b].nline; ++i) n += !static_cast<KtjLine*>(page.blocks[b].lines)[i].cont;
  auto* lines = n + 8 <= kMaxCount ? static_cast<KtjLine*>(calloc(n + 8, sizeof(KtjLine))) : nullptr;
  if (!lines) {
    ktj_pgfree(&page);
    return -2;
  }
  int k = 0;
  for (int b = 0; b < page.nblock; ++b) {
    if (page.blocks[b].kind != 0) continue;
    auto const* src = static_cast<KtjLine const*>(page.blocks[b].lines);
    for (int i = 0; i < page.blocks[b].nline; ++i) {
      if (src[i].cont) continue;
      KtjLine& l = lines[k++];
      l.x0 = src[i].x0, l.y0 = src[i].y0, l.x1 = src[i].x1, l.y1 = src[i].y1;
      l.direction = static_cast<uint8_t>(direction);
    }
  }
  ktj_pgfree(&page);
  out->direction = static_cast<uint8_t>(direction);
  out->mask = ~0ULL;
  out->lines = lines;
  out->nline = static_cast<uint16_t>(n);
  out->capacity = static_cast<uint16_t>(n + 8);
  return 0;
}

int get_mojilines_g(KTJBITMAP* bitmap, ARECT* region, tagKTJBLOCK* out) { return get_mojilines(bitmap, region, 1, out); }
