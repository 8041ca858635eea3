#include "line_selection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "line_checks.h"
#include "line_crops.h"
#include "text_lines.h"

namespace turnsense {
namespace {

struct IndexRecord {
  int32_t orientation;
  int32_t index;
  int32_t thickness;
};

int Thickness(const TEXTLINE& l, int o) { return o ? l.width : l.height; }

// Blocks are searched once for both orientations: a vertical line is seen
// with its x axis negated, so that blocks stack "downwards" from the right.
struct Span {
  int64_t s0, s1;  // stacking axis (top, bottom)
  int64_t e0, e1;  // extent axis (left, right)
};

Span SpanOf(const TEXTLINE& l, int o) {
  if (o == 0) return Span{l.box.top, l.box.bottom, l.box.left, l.box.right};
  return Span{-l.box.right, -l.box.left, l.box.top, l.box.bottom};
}

bool Overlaps(int64_t a0, int64_t a1, int64_t b0, int64_t b1) { return a0 <= b1 && a1 >= b0; }

int SearchBlocks(TEXTLINE* lines, int count, int f, TEXT_PARA* blocks, int* block_count, int o) {
  std::memset(blocks, 0, sizeof(TEXT_PARA) * 200);
  *block_count = 0;
  const int64_t min_thick = f > 0 ? 12 / f : 12;
  for (int p = 0; p < count; ++p) {
    if (lines[p].block_mark) continue;
    const Span seed = SpanOf(lines[p], o);
    if (seed.s1 - seed.s0 < min_thick) continue;
    TEXT_PARA& blk = blocks[*block_count];  // a slot is reused until a block is stored
    blk = TEXT_PARA{};
    blk.count = 1;
    blk.lines[0] = p;
    int64_t ce0 = seed.e0, ce1 = seed.e1, cbottom = seed.s1;  // committed
    int64_t re0 = ce0, re1 = ce1, rbottom = cbottom;          // running
    const int64_t top = seed.s0;
    Span last = seed;
    bool stray = false;
    for (int k = p + 1; k < count; ++k) {
      if (lines[k].block_mark) continue;
      const Span s = SpanOf(lines[k], o);
      if (!Overlaps(s.e0, s.e1, re0, re1)) continue;
      const bool rows_overlap = Overlaps(s.s0, s.s1, top, rbottom);
      if (stray && !rows_overlap) break;
      const int64_t hl = last.s1 - last.s0 + 1, hk = s.s1 - s.s0 + 1;
      const bool joins =
          s.s0 - last.s1 <= 2 * std::max(hl, hk) && std::llabs(hl - hk) <= int64_t(0.2 * double(std::min(hl, hk)));
      if (joins) {
        if (blk.count >= 199) return kLimitExceeded;
        blk.lines[blk.count++] = k;
        ce0 = std::min(ce0, s.e0), ce1 = std::max(ce1, s.e1);
        cbottom = std::max(rbottom, s.s1);
        re0 = ce0, re1 = ce1, rbottom = cbottom;
        last = s;
        stray = false;
      } else if (rows_overlap) {
        ce0 = std::min(ce0, s.e0), ce1 = std::max(ce1, s.e1);
        cbottom = std::max(rbottom, s.s1);
        re0 = ce0, re1 = ce1, rbottom = cbottom;
        stray = false;
      } else if (stray) {
        break;
      } else {
        re0 = std::min(re0, s.e0), re1 = std::max(re1, s.e1);
        rbottom = std::max(rbottom, s.s1);
        stray = true;
      }
    }
    if (blk.count < 3) continue;
    if (*block_count >= 199) return kLimitExceeded;
    double thick = 0;
    for (int i = 0; i < blk.count; ++i) {
      lines[blk.lines[i]].block_mark = 1;
      thick += Thickness(lines[blk.lines[i]], o);
    }
    blk.mean_thickness = float(thick / blk.count);
    if (o == 0)
      blk.left = ce0, blk.right = ce1, blk.top = top, blk.bottom = cbottom;
    else
      blk.top = ce0, blk.bottom = ce1, blk.right = -top, blk.left = -cbottom;
    ++*block_count;
  }
  return 0;
}

// One pass over the band beside a line's body: returns the position of a
// thin rule (-1 when none). `cover(i)` and `wide(i)` are the band's line
// covers, walked from index `from` by `step`.
struct Band {
  std::vector<int64_t> cover, wide;
};

int64_t FindThinRule(const Band& b, int64_t from, int64_t step, int64_t W, int f) {
  const int64_t n = int64_t(b.cover.size());
  for (int64_t i = from; i >= 0 && i < n; i += step) {
    const bool rule = (double(b.wide[size_t(i)]) >= 0.95 * double(W) && b.cover[size_t(i)] >= W / 2) ||
                      double(b.cover[size_t(i)]) >= 0.9 * double(W);
    if (!rule) continue;
    int64_t lo = i, hi = i;
    while (lo - 1 >= 0 && b.cover[size_t(lo - 1)] >= W / 3) --lo;
    while (hi + 1 < n && b.cover[size_t(hi + 1)] >= W / 3) ++hi;
    if ((hi - lo + 1) * f <= f + 5) return i;
  }
  return -1;
}

// Covers of the band lines [first, last] (rows of a horizontal line,
// columns of a vertical one) over the core's other extent.
Band MakeBand(const CC_IMG& cc, int64_t first, int64_t last, int64_t c0, int64_t c1, bool columns) {
  Band b;
  const int64_t n = std::max<int64_t>(last - first + 1, 0);
  b.cover.assign(size_t(n), 0);
  b.wide.assign(size_t(n), 0);
  auto ink = [&](int64_t l, int64_t c) {
    if (l < 0 || c < 0 || (columns ? l >= cc.width || c >= cc.height : l >= cc.height || c >= cc.width)) return false;
    return (columns ? cc.label_map[size_t(c) * cc.width + l] : cc.label_map[size_t(l) * cc.width + c]) != 0;
  };
  for (int64_t i = 0; i < n; ++i) {
    const int64_t l = first + i;
    const bool inner = i > 0 && i + 1 < n;
    for (int64_t c = c0; c <= c1; ++c) {
      const bool here = ink(l, c);
      b.cover[size_t(i)] += here;
      b.wide[size_t(i)] += inner ? (here || ink(l - 1, c) || ink(l + 1, c)) : here;
    }
  }
  return b;
}

int DetectRule(TEXTLINE* line, int f, const CC_IMG& cc, bool vertical) {
  line->rule_above_gap = line->rule_below_gap = line->rule_left_gap = line->rule_right_gap = 1000;
  const tagRECT& core = line->core;
  const int64_t lo = vertical ? core.left : core.top, hi = vertical ? core.right : core.bottom;
  const int64_t c0 = vertical ? core.top : core.left, c1 = vertical ? core.bottom : core.right;
  const int64_t H = hi - lo + 1, W = c1 - c0 + 1;
  const int64_t limit = (vertical ? cc.width : cc.height) - 1;
  int32_t before_gap = 1000, after_gap = 1000;
  try {
    const int64_t first = std::max<int64_t>(0, lo - H);
    const Band above = MakeBand(cc, first, lo - 1, c0, c1, vertical);
    const int64_t i = FindThinRule(above, int64_t(above.cover.size()) - 1, -1, W, f);
    if (i >= 0) before_gap = int32_t(H - i);
    const Band below = MakeBand(cc, hi, std::min(hi + H - 1, limit), c0, c1, vertical);
    const int64_t j = FindThinRule(below, 0, 1, W, f);
    if (j >= 0) after_gap = int32_t(j + 1);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  uint8_t& before = vertical ? line->rule_left : line->rule_above;
  uint8_t& after = vertical ? line->rule_right : line->rule_below;
  (vertical ? line->rule_left_gap : line->rule_above_gap) = before_gap;
  (vertical ? line->rule_right_gap : line->rule_below_gap) = after_gap;
  const bool found_before = before_gap != 1000, found_after = after_gap != 1000;
  before = found_before && !(found_after && after_gap < before_gap);
  after = found_after && !(found_before && before_gap < after_gap);
  if (before || after) line->underlined = 1;
  return 0;
}

struct Selector {
  uint8_t** grey;
  uint8_t** binary;
  int width, height, f;
  TEXTLINE* lines[2];
  int counts[2];
  TEXTLINE** out[2];
  int* out_counts[2];
  bool rules;

  int Taken() const { return *out_counts[0] + *out_counts[1]; }
  bool Full() const { return Taken() >= kMaxSelected; }
  void Take(int o, int i) { out[o][(*out_counts[o])++] = &lines[o][i]; }
  bool Clean(const TEXTLINE& l) const {
    return !is_multi_line_v2(binary, width, height, l.box) && is_over_segmented(binary, width, height, l.box) == 0 &&
           !(rules && l.underlined);
  }

  int Contrast(const TEXTLINE& l) const {
    if (is_multi_line_v2(binary, width, height, l.box) || is_over_segmented(binary, width, height, l.box) < 0) return 0;
    const int64_t x0 = std::max<int64_t>(l.box.left, 0), y0 = std::max<int64_t>(l.box.top, 0);
    const int64_t x1 = std::min<int64_t>(l.box.right, width - 1), y1 = std::min<int64_t>(l.box.bottom, height - 1);
    if (x1 < x0 || y1 < y0) return 0;
    int64_t paper = 0, n_paper = 0, ink = 0, n_ink = 0;
    for (int64_t y = y0; y <= y1; ++y)
      for (int64_t x = x0; x <= x1; ++x) {
        if (binary[y][x] == 0)
          ink += grey[y][x], ++n_ink;
        else
          paper += grey[y][x], ++n_paper;
      }
    if (!n_paper || !n_ink) return 0;
    return int(paper / n_paper - ink / n_ink);
  }

  // Returns true when the selection is finished (25 lines, or a failed block
  // search, whose code goes to `rc`).
  bool FromBlocks(int o, int& rc) {
    std::vector<TEXT_PARA> blocks(200);
    int n = 0;
    rc = o ? search_vertical_textblocks(lines[o], counts[o], f, blocks.data(), &n)
           : search_horizontal_textblocks(lines[o], counts[o], f, blocks.data(), &n);
    if (rc) return true;
    // Insertion by the comparator: means less than 1 apart compare equal,
    // which is no strict ordering for a library sort.
    for (int i = 1; i < n; ++i)
      for (int j = i; j > 0 && sort_para_by_size(&blocks[size_t(j - 1)], &blocks[size_t(j)]) > 0; --j)
        std::swap(blocks[size_t(j - 1)], blocks[size_t(j)]);
    for (int b = 0; b < n; ++b) {
      if (blocks[size_t(b)].mean_thickness < 3) continue;
      for (int k = 0; k < blocks[size_t(b)].count; ++k) {
        const int i = blocks[size_t(b)].lines[k];
        const TEXTLINE& l = lines[o][i];
        if (l.elongation < 2.5f || l.selected || !Clean(l)) continue;
        Take(o, i);
        if (Full()) return true;
      }
    }
    return false;
  }

  bool FromLoose(int o) {
    for (int i = 0; i < counts[o]; ++i) {
      const TEXTLINE& l = lines[o][i];
      if (l.block_mark || l.selected || l.elongation < 2.5f || Thickness(l, o) <= 2 || !Clean(l)) continue;
      Take(o, i);
      if (Full()) return true;
    }
    return false;
  }

  int Run(int hint) {
    *out_counts[0] = *out_counts[1] = 0;
    for (int o = 0; o < 2; ++o)
      for (int i = 0; i < counts[o]; ++i) lines[o][i].block_mark = 0;
    if (counts[0] > 1) std::qsort(lines[0], size_t(counts[0]), sizeof(TEXTLINE), sort_textline_topdown);
    if (counts[1] > 1) std::qsort(lines[1], size_t(counts[1]), sizeof(TEXTLINE), sort_textline_rightleft);
    std::vector<IndexRecord> index;
    for (int o = 0; o < 2; ++o)
      for (int i = 0; i < counts[o]; ++i) {
        TEXTLINE& l = lines[o][i];
        if (rules && l.underlined) continue;
        l.selected = l.taken = l.block_mark = 0;
        if (l.elongation >= 2.5f) index.push_back(IndexRecord{o, i, Thickness(l, o)});
      }
    std::stable_sort(index.begin(), index.end(),
                     [](const IndexRecord& a, const IndexRecord& b) { return sort_tlindex_size(&a, &b) < 0; });
    // Contrast stage: only lines thick enough on the page.
    std::vector<std::pair<int, IndexRecord>> walked;
    for (const IndexRecord& r : index) {
      if (int64_t(f) * (r.thickness + 1) < 20) break;
      walked.emplace_back(Contrast(lines[r.orientation][r.index]), r);
    }
    std::stable_sort(walked.begin(), walked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (!walked.empty() && walked[0].first != 0)
      for (const auto& w : walked) {
        if (w.first == 0) break;
        TEXTLINE& l = lines[w.second.orientation][w.second.index];
        l.selected = l.taken = 1;
        l.block_mark = 0;
        Take(w.second.orientation, w.second.index);
        if (Full()) return 0;
      }
    const int first = hint != 0 ? 1 : 0, other = 1 - first;
    int rc = 0;
    if (FromBlocks(first, rc)) return rc;
    if (Taken() <= 5 && FromBlocks(other, rc)) return rc;
    if (Taken() <= 5) {
      if (FromLoose(first)) return 0;
      if (Taken() <= 5 && FromLoose(other)) return 0;
    }
    if (rules)
      for (int o : {first, other})
        for (int i = 0; i < counts[o] && !Full(); ++i)
          if (lines[o][i].underlined) Take(o, i);
    return 0;
  }
};

int Select(uint8_t** grey, uint8_t** binary, int width, int height, const CC_IMG* cc, int f, TEXTLINE* horizontal,
           int nh, TEXTLINE* vertical, int nv, int hint, TEXTLINE** oh, int* noh, TEXTLINE** ov, int* nov) {
  *noh = *nov = 0;
  try {
    if (cc) {
      for (int i = 0; i < nh; ++i) {
        horizontal[i].underlined = 0;
        detect_horizontal_underline(&horizontal[i], f, *cc);
      }
      for (int i = 0; i < nv; ++i) {
        vertical[i].underlined = 0;
        detect_vertical_underline(&vertical[i], f, *cc);
      }
    }
    Selector s{grey, binary, width, height, f, {horizontal, vertical}, {nh, nv}, {oh, ov}, {noh, nov}, cc != nullptr};
    return s.Run(hint);
  } catch (const std::bad_alloc&) {
    *noh = *nov = 0;
    return kNoMemory;
  }
}

}  // namespace

int textline_selection_v3(const uint8_t*, int, int, uint8_t** grey, uint8_t** binary, int width, int height, CC_IMG cc,
                          int f, TEXTLINE* horizontal, int horizontal_count, TEXTLINE* vertical, int vertical_count,
                          int hint, TEXTLINE** out_horizontal, int* out_horizontal_count, TEXTLINE** out_vertical,
                          int* out_vertical_count) {
  return Select(grey, binary, width, height, &cc, f, horizontal, horizontal_count, vertical, vertical_count, hint,
                out_horizontal, out_horizontal_count, out_vertical, out_vertical_count);
}

int textline_selection_v2(const uint8_t*, int, int, uint8_t** grey, uint8_t** binary, int width, int height, int f,
                          TEXTLINE* horizontal, int horizontal_count, TEXTLINE* vertical, int vertical_count, int hint,
                          TEXTLINE** out_horizontal, int* out_horizontal_count, TEXTLINE** out_vertical,
                          int* out_vertical_count) {
  return Select(grey, binary, width, height, nullptr, f, horizontal, horizontal_count, vertical, vertical_count, hint,
                out_horizontal, out_horizontal_count, out_vertical, out_vertical_count);
}

int search_horizontal_textblocks(TEXTLINE* lines, int count, int f, TEXT_PARA* blocks, int* block_count) {
  return SearchBlocks(lines, count, f, blocks, block_count, 0);
}

int search_vertical_textblocks(TEXTLINE* lines, int count, int f, TEXT_PARA* blocks, int* block_count) {
  return SearchBlocks(lines, count, f, blocks, block_count, 1);
}

int detect_horizontal_underline(TEXTLINE* line, int f, CC_IMG cc) { return DetectRule(line, f, cc, false); }

int detect_vertical_underline(TEXTLINE* line, int f, CC_IMG cc) { return DetectRule(line, f, cc, true); }

bool is_underlined_textline(CC_IMG cc, tagRECT box) {
  const bool tall = box.bottom - box.top >= box.right - box.left;
  // Told for a tall box: bands of one box width left and right of it.
  const int64_t a0 = tall ? box.top : box.left, a1 = tall ? box.bottom : box.right;
  const int64_t c0 = tall ? box.left : box.top, c1 = tall ? box.right : box.bottom;
  const int64_t span = c1 - c0 + 1;
  const int64_t extent_c = tall ? cc.width : cc.height;
  auto label = [&](int64_t a, int64_t c) -> int32_t {
    if (c < 0 || c >= extent_c || a < 0 || a >= (tall ? cc.height : cc.width)) return 0;
    return tall ? cc.label_map[size_t(a) * cc.width + c] : cc.label_map[size_t(c) * cc.width + a];
  };
  for (int side = 0; side < 2; ++side) {
    const int64_t b0 = side == 0 ? c0 - span : c1 + 1, b1 = side == 0 ? c0 - 1 : c1 + span;
    int32_t found = 0;
    for (int64_t c = b0; c <= b1 && !found; ++c) {
      const int32_t k = label(a0, c);
      if (k <= 0 || k > cc.label_count) continue;
      const rect& r = cc.boxes[k];
      const int64_t r0 = tall ? r.top : r.left, r1 = tall ? r.bottom : r.right;
      if (r0 < a0 && r1 > a1) found = k;
    }
    if (!found) continue;
    bool every = true;
    for (int64_t a = a0; a <= a1 && every; ++a) {
      bool here = false;
      for (int64_t c = b0; c <= b1 && !here; ++c) here = label(a, c) == found;
      every = here;
    }
    if (every) return true;
  }
  return false;
}

int sort_para_by_size(const void* a, const void* b) {
  return int(static_cast<const TEXT_PARA*>(b)->mean_thickness - static_cast<const TEXT_PARA*>(a)->mean_thickness);
}

int sort_tlindex_size(const void* a, const void* b) {
  return static_cast<const int32_t*>(b)[2] - static_cast<const int32_t*>(a)[2];
}

}  // namespace turnsense
