// Upside-down test of horizontal text lines: each line votes by the
// steadiness of its characters' top and bottom margins (mixed heights) or by
// matching 5 x 5 ink patterns against the glyph dictionary (full heights).
#include "ktj_updown.h"

#include <stdlib.h>

#include <algorithm>
#include <new>

#include "ktj_internal.h"
#include "ktj_mesh.h"

namespace ktj {

namespace {

// Sizes of the work record: lines under 2000 pixels, cells under 200.
constexpr int kMaxLineSpan = 1998;
constexpr int kMaxCell = 200;

struct Pixels {
  const uint8_t* data;
  long bpl;
  bool operator()(int x, int y) const { return data[y * bpl + (x >> 3)] & (0x80 >> (x & 7)); }
};

struct Limits {
  bool variable;  // limits that depend on the resolution
  int dpi;
};

// Integer spread of the values around their mean, the farthest one left out.
long Spread(std::vector<int> const& v) {
  const long n = static_cast<long>(v.size());
  long sum = 0;
  for (int x : v) sum += x;
  const long m = sum / n;
  size_t out = 0;
  for (size_t i = 0; i < v.size(); ++i)
    if (labs(v[i] - m) >= labs(v[out] - m)) out = i;
  const long m2 = (sum - v[out]) / (n - 1);
  long s = 0;
  for (size_t i = 0; i < v.size(); ++i)
    if (i != out) s += (m2 - v[i]) * (m2 - v[i]);
  return s / (n - 1);
}

int LineVote(Pixels const& px, Box const& line, Limits const& lim, int* method) {
  if (method) *method = 0;
  Box e;
  if (!EffectiveBox(px, line, e)) return 0;
  const int h = e.y1 - e.y0 + 1, w = e.x1 - e.x0 + 1;
  if (h == 1 && w == 1) return 0;
  if (h - 1 < (lim.variable ? 1 : 12) || h - 1 > kMaxLineSpan || w - 1 < 1 || w - 1 > kMaxLineSpan) return 0;
  if (lim.variable && !(lim.dpi < 240 ? h > 6 : h > 12)) return 0;
  if (3 * h >= w) return 0;

  std::vector<int> count(w), top(w), bottom(w);
  for (int j = 0; j < w; ++j) {
    int first = -1, last = -1;
    for (int i = 0; i < h; ++i)
      if (RealBlack(px, e.x0 + j, e.y0 + i, e)) {
        if (first < 0) first = i;
        last = i;
        ++count[j];
      }
    top[j] = first < 0 ? h : first + 1;
    bottom[j] = first < 0 ? h : h - last;
  }
  std::vector<int> ends;
  for (int j = 0; j + 1 < w; ++j)
    if (count[j] && !count[j + 1]) ends.push_back(j);
  ends.push_back(w - 1);
  std::vector<int> tops, bottoms;
  const int scale = lim.variable && lim.dpi < 240 ? 2 : 1;
  for (size_t k = 0, start = 0; k < ends.size(); start = ends[k] + 1, ++k) {
    int t = h + 10, b = h + 10;
    for (int j = static_cast<int>(start); j <= ends[k] && j + 1 < w; ++j) {
      if (abs(top[j] - top[j + 1]) <= 1) t = std::min(t, top[j]);
      if (abs(bottom[j] - bottom[j + 1]) <= 1) b = std::min(b, bottom[j]);
    }
    tops.push_back(t * scale);
    bottoms.push_back(b * scale);
  }
  const int cells = static_cast<int>(ends.size());
  if (cells < 5) return 0;
  int tall = 0;
  for (int k = 0; k < cells; ++k) tall += 0.8 * h < h - tops[k] - bottoms[k] + 2;
  if (method) *method = tall < 0.8 * cells ? 1 : 2;
  if (tall < 0.8 * cells) return saikin_bunseki_1(tops, bottoms);

  const int floor = lim.variable && lim.dpi < 240 ? 6 : 12;
  int up = 0, down = 0;
  for (size_t k = 0, start = 0; k < ends.size(); start = ends[k] + 1, ++k) {
    Box c{e.x0 + static_cast<int>(start), e.y0, e.x0 + ends[k], e.y1}, ce;
    if (!EffectiveBox(px, c, ce)) continue;
    const int cw = ce.x1 - ce.x0 + 1, ch = ce.y1 - ce.y0 + 1;
    if (cw <= floor || ch <= floor || ch >= 4 * cw || ch < cw || ch <= 0.25 * h || ch >= kMaxCell || cw >= kMaxCell)
      continue;
    uint8_t pattern[25];
    const int norm = Mesh(px, ce, pattern);
    const int v = jug_one_yama(pattern, norm);
    up += v == 1;
    down += v == 2;
  }
  return CellVote(up, down);
}

int Test(uint8_t* pixels, int bpl, int count, int const* boxes, Limits const& lim) {
  if (!pixels || !boxes || bpl <= 0 || count < 0) return 0;
  try {
    Pixels px{pixels, bpl};
    int up = 0, down = 0;
    for (int k = 0; k < count; ++k) {
      Box b{boxes[4 * k], boxes[4 * k + 1], boxes[4 * k + 2], boxes[4 * k + 3]};
      if (b.x0 < 0 || b.y0 < 0 || b.x1 < b.x0 || b.y1 < b.y0) continue;
      const int v = LineVote(px, b, lim, nullptr);
      up += v == 1;
      down += v == 2;
    }
    return jug_direct_jug(up, down);
  } catch (std::bad_alloc const&) {
    return 0;
  }
}

int IsUpdown(ABITMAP* bmp, int* bpl, tagKTJBLOCK* lines, Limits const& lim) {
  if (!bmp || !bpl || !lines || !bmp->data || bmp->bits != 1 || *bpl < (bmp->width + 7) / 8) return -2;
  if (lines->nline == 0 || !lines->lines) return 3;
  // Boxes closed by two all-ones sentinels, clipped to the page.
  int* boxes = static_cast<int*>(malloc((static_cast<size_t>(lines->nline) * 4 + 8) * sizeof(int)));
  if (!boxes) return -2;
  int n = 0;
  for (int i = 0; i < lines->nline; ++i) {
    KtjLine const& l = lines->lines[i];
    const int x0 = std::max<int>(l.x0, 0), y0 = std::max<int>(l.y0, 0);
    const int x1 = std::min<int>(l.x1, bmp->width - 1), y1 = std::min<int>(l.y1, bmp->height - 1);
    if (x0 > x1 || y0 > y1) continue;
    int* b = boxes + 4 * n++;
    b[0] = x0, b[1] = y0, b[2] = x1, b[3] = y1;
  }
  std::fill(boxes + 4 * n, boxes + 4 * n + 8, -1);
  const int v = Test(bmp->data, *bpl, n, boxes, lim);
  free(boxes);
  return v == 0 ? 3 : v;
}

}  // namespace

int jug_direct_bunseki(const uint8_t* pixels, int bpl, int x0, int y0, int x1, int y1, bool variable, int dpi,
                       int* method) {
  return LineVote(Pixels{pixels, bpl}, Box{x0, y0, x1, y1}, Limits{variable, dpi}, method);
}

int saikin_bunseki_1(std::vector<int> const& tops, std::vector<int> const& bottoms) {
  if (tops.size() < 2 || tops.size() != bottoms.size()) return 0;
  const long st = Spread(tops), sb = Spread(bottoms);
  if (st < sb && st < static_cast<long>(0.2 * sb)) return 2;
  if (st >= sb && st > 0 && sb < static_cast<long>(0.2 * st)) return 1;
  return 0;
}

int CellVote(int up, int down) {
  if (up < down && up < static_cast<int>(0.6 * down)) return 2;
  if (up >= down && up > 0 && down < static_cast<int>(0.6 * up)) return 1;
  return 0;
}

int jug_one_yama(const uint8_t pattern[25], int norm) {
  uint8_t turned[25];
  for (int k = 0; k < 25; ++k) turned[k] = pattern[24 - k];
  int best = 0, verdict = 0;
  for (auto const& e : ninsiki_dic) {
    int s = Similarity(pattern, norm, e.cells, e.norm);
    if (s > best) best = s, verdict = e.cls;
    s = Similarity(turned, norm, e.cells, e.norm);
    if (s > best) best = s, verdict = e.cls == 1 ? 2 : 0;
  }
  return verdict;
}

int jug_direct_jug(int up, int down) {
  const bool upLeads = up >= down;
  const int l = upLeads ? up : down, s = upLeads ? down : up;
  if (l > 0 && l - s > 2 && s < static_cast<int>(0.8 * l)) return upLeads ? 1 : 2;
  return 0;
}

}  // namespace ktj

int tstchdir_e(uint8_t* pixels, int bpl, int count, int* boxes) {
  return ktj::Test(pixels, bpl, count, boxes, {false, 0});
}

int tstchdir_e2(uint8_t* pixels, int bpl, int count, int* boxes, KTJBITMAP* page) {
  return ktj::Test(pixels, bpl, count, boxes, {true, page ? page->xres : 0});
}

int is_updown_e2(ABITMAP* bitmap, int* bpl, tagKTJBLOCK* lines) { return ktj::IsUpdown(bitmap, bpl, lines, {false, 0}); }

int is_updown_e3(ABITMAP* bitmap, int* bpl, tagKTJBLOCK* lines, KTJBITMAP* page) {
  return ktj::IsUpdown(bitmap, bpl, lines, {true, page ? page->xres : 0});
}
