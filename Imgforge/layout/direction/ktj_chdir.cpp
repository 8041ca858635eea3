// Writing direction of a page region (horizontal or vertical lines, judged
// on blank rows and columns between the character boxes of nine windows) and
// the direction entries that add the upside-down test.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <vector>

#include "CABitmap.h"
#include "ktj_internal.h"
#include "layout.h"
#include "layout_internal.h"

namespace {

// Boxes too big for characters, and boxes inside another kept box, go.
std::vector<KRECT> sentaku(KRECT const* boxes, long n, int t) {
  std::vector<KRECT> kept;
  for (long k = 0; k < n; ++k) {
    KRECT const& b = boxes[k];
    const int w = b.xmax - b.xmin, h = b.ymax - b.ymin;
    if ((w >= t * 130 / 100 && h >= t * 130 / 100) || w >= 3 * t || h >= 3 * t) continue;
    kept.push_back(b);
  }
  // Containers start at or left of what they hold: scan in that order.
  std::vector<size_t> order(kept.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return kept[a].xmin < kept[b].xmin; });
  std::vector<char> drop(kept.size(), 0);
  for (size_t i = 0; i < order.size(); ++i) {
    KRECT const& p = kept[order[i]];
    for (size_t j = 0; j < order.size() && kept[order[j]].xmin <= p.xmin; ++j) {
      if (j == i) continue;
      KRECT const& q = kept[order[j]];
      if (q.xmax < p.xmax || q.ymin > p.ymin || q.ymax < p.ymax) continue;
      const bool same = q.xmin == p.xmin && q.xmax == p.xmax && q.ymin == p.ymin && q.ymax == p.ymax;
      if (!same || order[j] < order[i]) {
        drop[order[i]] = 1;
        break;
      }
    }
  }
  std::vector<KRECT> out;
  for (size_t i = 0; i < kept.size(); ++i)
    if (!drop[i]) out.push_back(kept[i]);
  return out;
}

void Add(uint16_t& c, int v) { c = static_cast<uint16_t>(std::min(65535, c + v)); }

void xr_hist(std::vector<uint16_t>& col, std::vector<KRECT> const& boxes) {
  for (auto const& b : boxes)
    for (int x = b.xmin; x <= b.xmax && x < static_cast<int>(col.size()); ++x) Add(col[x], b.ymax - b.ymin + 1);
}

void yr_hist(std::vector<uint16_t>& row, std::vector<KRECT> const& boxes) {
  for (auto const& b : boxes)
    for (int y = b.ymin; y <= b.ymax && y < static_cast<int>(row.size()); ++y) Add(row[y], b.xmax - b.xmin + 1);
}

// Segments of 2t along [from, to] that hold an empty histogram entry.
int GapSegments(std::vector<uint16_t> const& hist, int from, int to, int len) {
  int n = 0;
  for (int s = from; s <= to; s += len) {
    for (int k = s; k <= std::min(to, s + len - 1); ++k)
      if (hist[k] == 0) {
        ++n;
        break;
      }
  }
  return n;
}

// 1 horizontal (blank rows between lines), 2 vertical, 0 neither.
int yoko_or_tate(std::vector<uint16_t> const& col, std::vector<uint16_t> const& row, ARECT2 const& w, int t) {
  const int len = std::max(1, 2 * t);
  const int cols = GapSegments(col, w.left, w.right, len), rows = GapSegments(row, w.top, w.bottom, len);
  return rows > cols ? 1 : cols > rows ? 2 : 0;
}

// Verdicts of a 3 x 3 grid of windows: the count of horizontal minus
// vertical ones, or a failure.
int Grid(CABitmap const& bmp, int x, int y, int w, int h, int r, int t, double edge, long& components, int& score) {
  const int S = 2 * r;
  const int xs[3] = {x + static_cast<int>(edge * w), x + w / 2 - r, static_cast<int>((1 - edge) * w + x) - S};
  const int ys[3] = {y + static_cast<int>(edge * h), y + h / 2 - r, static_cast<int>((1 - edge) * h + y) - S};
  std::vector<uint16_t> col(bmp.m_width), row(bmp.m_height);
  score = 0;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      ARECT2 win{xs[i], ys[j], xs[i] + S - 1, ys[j] + S - 1};
      bmp.clip(win);
      if (win.left > win.right || win.top > win.bottom) continue;
      layout::CLbl_data lbl;
      if (lbl_main2(bmp, lbl.m_data, win) != 0) return -1;
      if (components < 10000) components += lbl.m_data.maxlabel;
      auto kept = sentaku(lbl.m_data.rects + 1, lbl.m_data.maxlabel, t);
      std::fill(col.begin(), col.end(), 0);
      std::fill(row.begin(), row.end(), 0);
      xr_hist(col, kept);
      yr_hist(row, kept);
      const int v = yoko_or_tate(col, row, win, t);
      score += v == 1 ? 1 : v == 2 ? -1 : 0;
    }
  return 0;
}

int Muki(ABITMAP* bitmap, ARECT* region, int dpi) {
  CABitmap src, small;
  if (!layout::Wrap1Bit(bitmap, src)) return -1;
  const int c = dpi <= 300 ? 2 : 4;
  if (small.n_small(src, c, 1) != 0) return -1;
  const int r = dpi / c, t = r * 60 / 400;
  const int x = region->x / c, y = region->y / c, w = region->w / c, h = region->h / c;
  long components = 0;
  int score = 0;
  if (Grid(small, x, y, w, h, r, t, 0.15, components, score) != 0) return -1;
  if (score == 0 && components < 50 && Grid(small, x, y, w, h, r, t, 0.02, components, score) != 0) return -1;
  return score > 0 ? 1 : score < 0 ? 2 : 3;
}

enum class Test { fixed, variable, none };

// The direction of the region: writing direction, then the lines of the
// (turned) page and their upside-down test.
int Direction(KtjDirParam* req, KTJBITMAP* bmp, KTJBITMAP* page, Test test, tagKTJBLOCK* linesOut, int* writing) {
  if (!req || !ktj::ResolutionOk(bmp)) return -2;
  if (!ktj::PageOk(bmp) || bmp->bits != 1) return -2;
  ARECT r{req->x0, req->y0, ktj::Extent(req->x0, req->x1), ktj::Extent(req->y0, req->y1)};
  const int dir = jdge_linedir(bmp, &r);
  if (dir < 0) return -2;
  if (writing) *writing = dir;
  if (dir == 3) return 9;

  KTJBITMAP work = *bmp;
  uint8_t* turned = nullptr;
  if (dir == 2) {
    ABITMAP a{}, t{};
    copystruct_ktjbmp2abmp(bmp, &a);
    turned = abmp_rotate90(&t, &a);
    if (!turned) return -2;
    copystruct_abmp2ktjbmp(&t, &work);
    work.xres = work.yres = bmp->xres;
    int rect[4] = {req->x0, req->y0, req->x1, req->y1};
    pv_rect_rot90(rect, bmp->width, bmp->height);
    r = ARECT{rect[0], rect[1], ktj::Extent(rect[0], rect[2]), ktj::Extent(rect[1], rect[3])};
  }
  tagKTJBLOCK lines{};
  int rc = get_mojilines(&work, &r, 1, &lines);
  if (rc == 0 && test == Test::none) {
    if (linesOut) {
      *linesOut = lines;
      lines.lines = nullptr;
    }
    rc = 0;
  } else if (rc == 0) {
    ABITMAP a{};
    copystruct_ktjbmp2abmp(&work, &a);
    int bpl = work.bpl;
    KTJBITMAP* judge = page ? page : bmp;
    const int v = test == Test::variable ? is_updown_e3(&a, &bpl, &lines, judge) : is_updown_e2(&a, &bpl, &lines);
    if (v < 0)
      rc = -2;
    else if (v == 3)
      rc = 0;
    else if (dir == 1)
      rc = v == 1 ? 1 : 3;
    else
      rc = v == 1 ? 4 : 2;
  } else {
    rc = -2;
  }
  free(lines.lines);
  free(turned);
  return rc;
}

}  // namespace

int mojiretu_no_muki(ABITMAP* bitmap, ARECT* region, int dpi) {
  if (!bitmap || !region || dpi <= 0) return -1;
  try {
    return Muki(bitmap, region, dpi);
  } catch (...) {
    return -1;
  }
}

int jdge_linedir(KTJBITMAP* bitmap, ARECT* region) {
  if (!ktj::ResolutionOk(bitmap) || !ktj::PageOk(bitmap)) return -2;
  ABITMAP a{};
  copystruct_ktjbmp2abmp(bitmap, &a);
  const int v = mojiretu_no_muki(&a, region, bitmap->xres);
  if (v < 0) return -2;
  return v == 0 || v == 3 ? 3 : v;
}

int katuji_chdir_e(KtjDirParam* request, KTJBITMAP* bitmap) {
  return Direction(request, bitmap, nullptr, Test::fixed, nullptr, nullptr);
}

int katuji_chdir_e2(KtjDirParam* request, KTJBITMAP* bitmap, KtjDirParam*, KTJBITMAP* page) {
  return Direction(request, bitmap, page, Test::variable, nullptr, nullptr);
}

int katuji_chdir_e3(KtjDirParam* request, KTJBITMAP* bitmap, KtjDirParam*, KTJBITMAP*, tagKTJBLOCK* lines,
                    int* writing) {
  return Direction(request, bitmap, nullptr, Test::none, lines, writing);
}

int copystruct_ktjbmp2abmp(KTJBITMAP* in, ABITMAP* out) {
  if (!in || !out) return -2;
  out->data = in->data;
  out->width = in->width;
  out->height = in->height;
  out->bpl = in->bpl;
  out->bits = static_cast<uint8_t>(in->bits);
  out->size = static_cast<uint64_t>(in->bpl > 0 ? in->bpl : 0) * static_cast<uint64_t>(in->height > 0 ? in->height : 0);
  return 0;
}

int copystruct_abmp2ktjbmp(ABITMAP* in, KTJBITMAP* out) {
  if (!in || !out) return -2;
  out->data = in->data;
  out->width = in->width;
  out->height = in->height;
  out->bpl = in->bpl;
  out->bits = in->bits;
  out->size = static_cast<int32_t>(in->size);
  return 0;
}

void pv_rect_rot90(int* rect, int, int height) {
  if (!rect) return;
  const int x0 = rect[0], y0 = rect[1], x1 = rect[2], y1 = rect[3];
  rect[0] = ktj::Clamp(static_cast<int64_t>(height) - 1 - y1);
  rect[1] = x0;
  rect[2] = ktj::Clamp(static_cast<int64_t>(height) - 1 - y0);
  rect[3] = x1;
}
