#include "text_lines.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>
#include <vector>

#include "local_binarise.h"

namespace turnsense {
namespace {

// The builders and searches are written once, for a line running along the
// "along" axis (x for horizontal lines, y for vertical ones) with its body
// spanning the "across" axis.
struct Axis {
  int o;  // 0 horizontal, 1 vertical
  int64_t& A0(tagRECT& r) const { return o ? r.top : r.left; }
  int64_t& A1(tagRECT& r) const { return o ? r.bottom : r.right; }
  int64_t& C0(tagRECT& r) const { return o ? r.left : r.top; }
  int64_t& C1(tagRECT& r) const { return o ? r.right : r.bottom; }
  int64_t A0(const tagRECT& r) const { return o ? r.top : r.left; }
  int64_t A1(const tagRECT& r) const { return o ? r.bottom : r.right; }
  int64_t C0(const tagRECT& r) const { return o ? r.left : r.top; }
  int64_t C1(const tagRECT& r) const { return o ? r.right : r.bottom; }
  int64_t Across(const tagRECT& r) const { return C1(r) - C0(r) + 1; }
  int64_t Along(const tagRECT& r) const { return A1(r) - A0(r) + 1; }
};

int64_t Width(const tagRECT& r) { return r.right - r.left + 1; }
int64_t Height(const tagRECT& r) { return r.bottom - r.top + 1; }

void AddEdge(int32_t* hist, int64_t n, int64_t at) {
  if (at >= 0 && at < n) hist[at] += 2;
  if (at - 1 >= 0 && at - 1 < n) hist[at - 1] += 1;
  if (at + 1 >= 0 && at + 1 < n) hist[at + 1] += 1;
}

// What the side searches of one builder share: the components, their state
// bytes, the rejected list and the two edge histograms (member tops and
// bottoms of a horizontal line, lefts and rights of a vertical one).
struct Builder {
  Axis ax;
  CC* ccs;
  int count;
  int32_t** rows;
  int width, height;
  uint8_t* state;
  std::vector<int32_t>* rejected;
  int32_t* lo_hist;
  int32_t* hi_hist;

  int AlongExtent() const { return ax.o ? height : width; }
  int64_t HistSize() const { return ax.o ? width : height; }
  int32_t LabelAt(int64_t along, int64_t across) const { return ax.o ? rows[along][across] : rows[across][along]; }
  // Horizontal searches stop at a negative entry; vertical ones read it as paper.
  bool StopsAtNegative() const { return ax.o == 0; }
  int64_t Reach(int64_t thickness) const {
    if (ax.o == 1 && thickness > 40) return thickness;
    return int64_t(1.5 * double(thickness));
  }
  void ClearState() const {
    std::fill(state, state + std::max(count, 0), 0);
    rejected->clear();
  }
  void AddEdges(const tagRECT& r) const {
    AddEdge(lo_hist, HistSize(), ax.C0(r));
    AddEdge(hi_hist, HistSize(), ax.C1(r));
  }
};

struct Line {
  TEXTLINE* rec;
  std::vector<int32_t>* members;
};

// First kind: candidates about as thick as the body, attachments (accents,
// dots) that overlap them; repeats while the line keeps growing.
int SearchSide1(Builder& b, Line line, bool forward) {
  const Axis& ax = b.ax;
  TEXTLINE& L = *line.rec;
  std::vector<int32_t>& members = *line.members;
  for (;;) {
    b.ClearState();
    const int64_t H = ax.C1(L.core) - ax.C0(L.core) + 1;
    const int64_t reach = b.Reach(H);
    int64_t start, stop;
    if (forward) {
      start = ax.A1(L.core) + 1;
      stop = std::min<int64_t>(ax.A1(L.core) + reach, b.AlongExtent() - 1);
      if (start > stop) return 0;
    } else {
      start = ax.A0(L.core) - 1;
      stop = std::max<int64_t>(0, ax.A0(L.core) - reach);
      if (start < stop) return 0;
    }
    int32_t attach[29], cand[29];
    int n_attach = 0, n_cand = 0;
    bool overflow = false;
    auto judge = [&](int32_t label) {
      const int k = label - 1;
      if (k < 0 || k >= b.count || b.state[k] != 0) return;
      const CC& c = b.ccs[k];
      if (c.used) {
        b.state[k] = 1;
        return;
      }
      const bool far = forward ? ax.A0(c.box) <= ax.A0(L.core) : ax.A1(c.box) >= ax.A1(L.core);
      if (c.noise || H - 1 >= 10 * int64_t(std::max(c.width, c.height)) || far) {
        b.state[k] = 1;
        b.rejected->push_back(k);
        return;
      }
      int la, lb, common = 0;
      const float r =
          overlap_rate1(int(ax.C0(c.box)), int(ax.C1(c.box)), int(ax.C0(L.core)), int(ax.C1(L.core)), la, lb, common);
      if (r == 0.0f) return;
      const double thick = double(ax.Across(c.box));
      bool take = false;
      if (r < 0.5f) {
        if (common >= 0.8 * thick) {
          if (n_attach == 29) return void(overflow = true);
          attach[n_attach++] = k;
          b.state[k] = 2;
          take = true;
        }
      } else {
        const double ratio = double(H) / thick;
        if (ratio >= 0.5 && ratio <= 2.0) {
          if (n_cand == 29) return void(overflow = true);
          cand[n_cand++] = k;
          b.state[k] = 3;
          take = true;
          if (forward)
            stop = std::min<int64_t>(std::max(stop, ax.A1(c.box)), b.AlongExtent() - 1);
          else
            stop = std::min(stop, ax.A0(c.box));
        }
      }
      if (!take) {
        b.state[k] = 1;
        b.rejected->push_back(k);
      }
    };
    // Scan order: along the line, column by column (left search) or row by
    // row (vertical searches); the right search of a horizontal line goes
    // row by row across the band.
    const bool across_outer = forward && ax.o == 0;
    bool wall = false;
    auto visit = [&](int64_t along, int64_t across) {
      const int32_t lab = b.LabelAt(along, across);
      if (lab < 0 && b.StopsAtNegative()) return void(wall = true);
      if (lab > 0) judge(lab);
    };
    if (across_outer) {
      for (int64_t c = ax.C0(L.core); c <= ax.C1(L.core) && !wall && !overflow; ++c)
        for (int64_t a = start; a <= stop && !wall && !overflow; ++a) visit(a, c);
    } else {
      for (int64_t a = start; (forward ? a <= stop : a >= stop) && !wall && !overflow; a += forward ? 1 : -1)
        for (int64_t c = ax.C0(L.core); c <= ax.C1(L.core) && !wall && !overflow; ++c) visit(a, c);
    }
    if (overflow) return kLineRejected;
    if (n_cand == 0) return 0;
    for (int i = 0; i < n_cand; ++i) {
      CC& c = b.ccs[cand[i]];
      if (c.used) continue;
      members.push_back(cand[i]);
      c.used = 1;
      tagRECT run = c.box;
      for (int j = 0; j < n_attach; ++j) {
        CC& t = b.ccs[attach[j]];
        if (t.used || !is_overlap(int(ax.A0(t.box)), int(ax.A1(t.box)), int(ax.A0(run)), int(ax.A1(run)))) continue;
        members.push_back(attach[j]);
        t.used = 1;
        run = rect_merge(run, t.box);
      }
      if (forward)
        ax.A1(L.box) = std::max(ax.A1(L.box), ax.A1(run));
      else
        ax.A0(L.box) = std::min(ax.A0(L.box), ax.A0(run));
      ax.C0(L.box) = std::min(ax.C0(L.box), ax.C0(run));
      ax.C1(L.box) = std::max(ax.C1(L.box), ax.C1(run));
      b.AddEdges(run);
      ax.C0(L.core) = hist_peak(b.lo_hist, int(ax.C0(L.box)), int(ax.C1(L.box)), int(ax.C0(L.core)));
      ax.C1(L.core) = hist_peak(b.hi_hist, int(ax.C0(L.box)), int(ax.C1(L.box)), int(ax.C1(L.core)));
    }
    if (int(members.size()) <= L.member_core) return 0;
    L.member_core = int(members.size());
    for (int32_t k : *b.rejected) {
      CC& c = b.ccs[k];
      if (c.used || c.noise || !is_inside(c.box, L.box)) continue;
      members.push_back(k);
      c.used = 1;
    }
    L.member_total = int(members.size());
    if (forward)
      ax.A1(L.core) = ax.A1(L.box);
    else
      ax.A0(L.core) = ax.A0(L.box);
  }
}

// Second kind, towards the line's start only: strict candidates that sit on
// the body band, no attachments.
int SearchSide2(Builder& b, Line line) {
  const Axis& ax = b.ax;
  TEXTLINE& L = *line.rec;
  std::vector<int32_t>& members = *line.members;
  for (;;) {
    b.ClearState();
    const int64_t H = ax.C1(L.core) - ax.C0(L.core) + 1;
    const int64_t start = ax.A0(L.core) - 1;
    int64_t stop = std::max<int64_t>(0, ax.A0(L.core) - b.Reach(H));
    if (start < stop) return 0;
    int32_t cand[29];
    int n_cand = 0;
    bool overflow = false, wall = false;
    auto judge = [&](int32_t label) {
      const int k = label - 1;
      if (k < 0 || k >= b.count || b.state[k] != 0) return;
      const CC& c = b.ccs[k];
      b.state[k] = 1;
      if (c.used) return;
      const double thick = double(ax.Across(c.box));
      const double ratio = double(H) / thick;
      const int64_t above = std::max<int64_t>(0, ax.C0(L.core) - ax.C0(c.box));
      const int64_t below = std::max<int64_t>(0, ax.C1(c.box) - ax.C1(L.core));
      if (c.noise || H - 1 >= 10 * int64_t(std::max(c.width, c.height)) || ax.A1(c.box) >= ax.A1(L.core) ||
          ratio < 0.5 || ratio > 2.0 ||
          overlap_rate(int(ax.C0(c.box)), int(ax.C1(c.box)), int(ax.C0(L.core)), int(ax.C1(L.core))) < 0.5f ||
          double(H) / double(H + above + below) < 0.9) {
        b.rejected->push_back(k);
        return;
      }
      if (n_cand == 29) return void(overflow = true);
      cand[n_cand++] = k;
      b.state[k] = 3;
      stop = std::min(stop, ax.A0(c.box));
    };
    for (int64_t a = start; a >= stop && !wall && !overflow; --a)
      for (int64_t c = ax.C0(L.core); c <= ax.C1(L.core) && !wall && !overflow; ++c) {
        const int32_t lab = b.LabelAt(a, c);
        if (lab < 0 && b.StopsAtNegative()) wall = true;
        if (lab > 0) judge(lab);
      }
    if (overflow) return kLineRejected;
    int added = 0;
    for (int i = 0; i < n_cand; ++i) {
      CC& c = b.ccs[cand[i]];
      if (c.used) continue;
      members.push_back(cand[i]);
      c.used = 1;
      ++added;
      ax.A0(L.box) = std::min(ax.A0(L.box), ax.A0(c.box));
      ax.C0(L.box) = std::min(ax.C0(L.box), ax.C0(c.box));
      ax.C1(L.box) = std::max(ax.C1(L.box), ax.C1(c.box));
      b.AddEdges(c.box);
      ax.C0(L.core) = hist_peak(b.lo_hist, int(ax.C0(L.box)), int(ax.C1(L.box)), int(ax.C0(L.core)));
      ax.C1(L.core) = hist_peak(b.hi_hist, int(ax.C0(L.box)), int(ax.C1(L.box)), int(ax.C1(L.core)));
    }
    for (int32_t k : *b.rejected) {
      CC& c = b.ccs[k];
      if (c.used || c.noise || !is_inside(c.box, L.box)) continue;
      members.push_back(k);
      c.used = 1;
    }
    L.member_total = int(members.size());
    if (added == 0) return 0;
    L.member_core += added;
    ax.A0(L.core) = ax.A0(L.box);
  }
}

enum class Side { kStart, kEnd, kStartAgain };

int Search(int o, Side side, CC* ccs, int count, uint8_t* state, std::vector<int32_t>& rejected, int32_t** rows,
           int width, int height, TEXTLINE* line, std::vector<int32_t>& members, int32_t* lo, int32_t* hi) {
  Builder b{Axis{o}, ccs, count, rows, width, height, state, &rejected, lo, hi};
  const Line l{line, &members};
  return side == Side::kStartAgain ? SearchSide2(b, l) : SearchSide1(b, l, side == Side::kEnd);
}

}  // namespace

int search_left_v3_1(CC* ccs, int count, uint8_t* state, std::vector<int32_t>&, std::vector<int32_t>& rejected,
                     int32_t** rows, int width, int height, TEXTLINE* line, std::vector<int32_t>& members, int,
                     int32_t* lo, int32_t* hi) {
  return Search(0, Side::kStart, ccs, count, state, rejected, rows, width, height, line, members, lo, hi);
}

int search_right_v3_1(CC* ccs, int count, uint8_t* state, std::vector<int32_t>&, std::vector<int32_t>& rejected,
                      int32_t** rows, int width, int height, TEXTLINE* line, std::vector<int32_t>& members, int,
                      int32_t* lo, int32_t* hi) {
  return Search(0, Side::kEnd, ccs, count, state, rejected, rows, width, height, line, members, lo, hi);
}

int search_left_v3_2(CC* ccs, int count, uint8_t* state, std::vector<int32_t>&, std::vector<int32_t>& rejected,
                     int32_t** rows, int width, int height, TEXTLINE* line, std::vector<int32_t>& members, int,
                     int32_t* lo, int32_t* hi) {
  return Search(0, Side::kStartAgain, ccs, count, state, rejected, rows, width, height, line, members, lo, hi);
}

int search_top_v2_1(CC* ccs, int count, uint8_t* state, std::vector<int32_t>&, std::vector<int32_t>& rejected,
                    int32_t** rows, int width, int height, TEXTLINE* line, std::vector<int32_t>& members, int,
                    int32_t* lo, int32_t* hi) {
  return Search(1, Side::kStart, ccs, count, state, rejected, rows, width, height, line, members, lo, hi);
}

int search_bottom_v2_1(CC* ccs, int count, uint8_t* state, std::vector<int32_t>&, std::vector<int32_t>& rejected,
                       int32_t** rows, int width, int height, TEXTLINE* line, std::vector<int32_t>& members, int,
                       int32_t* lo, int32_t* hi) {
  return Search(1, Side::kEnd, ccs, count, state, rejected, rows, width, height, line, members, lo, hi);
}

int search_top_v2_2(CC* ccs, int count, uint8_t* state, std::vector<int32_t>&, std::vector<int32_t>& rejected,
                    int32_t** rows, int width, int height, TEXTLINE* line, std::vector<int32_t>& members, int,
                    int32_t* lo, int32_t* hi) {
  return Search(1, Side::kStartAgain, ccs, count, state, rejected, rows, width, height, line, members, lo, hi);
}

namespace {

int BuildLines(int o, CC* ccs, int count, TEXTLINE** out, int* out_count, int32_t** rows, int width, int height,
               bool coverage) {
  *out = nullptr;
  *out_count = 0;
  try {
    const Axis ax{o};
    std::vector<uint8_t> state(size_t(std::max(count, 0)), 0);
    std::vector<int32_t> scratch, rejected;
    rejected.reserve(size_t(std::max(count, 0)));
    const int across_extent = o ? width : height;
    std::vector<int32_t> lo_hist(size_t(across_extent), 0), hi_hist(size_t(across_extent), 0);
    std::vector<TEXTLINE> lines;
    std::vector<std::vector<int32_t>> line_members;
    std::vector<int32_t> members;
    std::vector<uint8_t> marks;
    for (int i = 0; i < count; ++i) {
      CC& seed = ccs[i];
      if (seed.used || seed.noise) continue;
      TEXTLINE L;
      std::memset(&L, 0, sizeof L);
      init_textline(&L);
      L.box = L.core = seed.box;
      L.member_total = L.member_core = 1;
      L.valid = 1;
      L.orientation = o;
      seed.used = 1;
      members.assign(1, i);
      std::fill(lo_hist.begin(), lo_hist.end(), 0);
      std::fill(hi_hist.begin(), hi_hist.end(), 0);
      AddEdge(lo_hist.data(), across_extent, ax.C0(seed.box));
      AddEdge(hi_hist.data(), across_extent, ax.C1(seed.box));
      auto search = o ? search_top_v2_1 : search_left_v3_1;
      auto search_far = o ? search_bottom_v2_1 : search_right_v3_1;
      auto search_again = o ? search_top_v2_2 : search_left_v3_2;
      const int r1 = search(ccs, count, state.data(), scratch, rejected, rows, width, height, &L, members, 0,
                            lo_hist.data(), hi_hist.data());
      const int r2 = search_far(ccs, count, state.data(), scratch, rejected, rows, width, height, &L, members, 0,
                                lo_hist.data(), hi_hist.data());
      if (ax.A0(L.box) == ax.A0(seed.box) && ax.A1(L.box) != ax.A1(seed.box))
        search_again(ccs, count, state.data(), scratch, rejected, rows, width, height, &L, members, 0, lo_hist.data(),
                     hi_hist.data());
      bool accept = r1 == 0 && r2 == 0 && L.member_core >= 3;
      if (accept && coverage) {
        marks.assign(size_t(o ? height : width), 0);
        for (int32_t k : members)
          for (int64_t a = ax.A0(ccs[k].box); a <= ax.A1(ccs[k].box); ++a) marks[size_t(a)] = 1;
        const int64_t covered = std::count(marks.begin(), marks.end(), 1);
        accept = double(covered) / double(ax.Along(L.box)) >= 0.7;
      }
      if (!accept) {
        for (int32_t k : members) ccs[k].used = 0;
        continue;
      }
      L.member_total = int(members.size());
      lines.push_back(L);
      line_members.push_back(members);
    }
    for (size_t i = 0; i < lines.size(); ++i) {
      lines[i].member_list = line_members[i].data();
      lines[i].member_total = int(line_members[i].size());
    }
    // Conflicts between accepted lines of this orientation.
    for (size_t i = 0; i < lines.size(); ++i) {
      for (size_t j = i + 1; j < lines.size(); ++j) {
        TEXTLINE& a = lines[i];
        TEXTLINE& c = lines[j];
        if (!a.valid || !c.valid) continue;
        const float xr = overlap_rate(int(a.box.left), int(a.box.right), int(c.box.left), int(c.box.right));
        const float yr = overlap_rate(int(a.box.top), int(a.box.bottom), int(c.box.top), int(c.box.bottom));
        if (!(xr > 0.1f && yr > 0.1f)) continue;
        if (!(hist_overlap(&a, &c, ccs, count, o, xr, yr) > 0.1f)) continue;
        if (is_inside(a.box, c.box)) {
          a.valid = 0;
        } else {
          const bool j_in_i = is_inside(c.box, a.box);
          c.valid = 0;
          if (!j_in_i) a.valid = 0;
        }
      }
    }
    const int factor = o ? 3 : 2;
    int valid = 0;
    for (TEXTLINE& L : lines) {
      if (!L.valid) continue;
      const int64_t w = Width(L.box), h = Height(L.box);
      const int64_t longer = std::max(w, h), shorter = std::min(w, h);
      if (longer < factor * shorter || (o == 0 && (w == 1 || h == 1)))
        L.valid = 0;
      else
        ++valid;
    }
    TEXTLINE* result = new TEXTLINE[size_t(valid)];
    int n = 0;
    for (TEXTLINE& L : lines) {
      if (!L.valid) continue;
      TEXTLINE& r = result[n++];
      std::memset(&r, 0, sizeof r);
      init_textline(&r);
      r.box = L.box;
      r.core = L.core;
      r.member_total = L.member_total;
      r.member_core = L.member_core;
      r.valid = 1;
      r.merged = 0;
      r.orientation = o;
    }
    *out = result;
    *out_count = n;
    return 0;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

// Lines of one orientation that stand in a narrow column of short lines
// (table cells, lists of numbers) are not running text.
void ColumnTest(TEXTLINE* lines, int n, int o) {
  Axis ax{o};
  const int need = o ? 19 : 21;
  for (int r = 0; r < n; ++r) {
    TEXTLINE& ref = lines[r];
    const int64_t across = ax.C1(ref.box) - ax.C0(ref.box);
    const int64_t along = ax.A1(ref.box) - ax.A0(ref.box);
    if (across == 0 || !(double(along) / double(across) < 12)) continue;
    auto near = [&](const TEXTLINE& l) {
      return std::llabs(ax.A0(l.box) - ax.A0(ref.box)) <= 30 && std::llabs((ax.A1(l.box) - ax.A0(l.box)) - along) <= 6;
    };
    int hits = 0;
    if (ref.valid && ref.member_core < 5)
      for (int j = r + 1; j < n; ++j)
        if (lines[j].valid && near(lines[j])) ++hits;
    if (hits < need) continue;
    for (int j = 0; j < n; ++j)
      if (lines[j].member_core < 9 && (o == 1 || near(lines[j]))) lines[j].valid = 0;
    return;
  }
}

void JoinDropShape(TEXTLINE* lines, int n) {
  auto rates = [](const TEXTLINE& a, const TEXTLINE& b, float& xr, float& yr) {
    xr = overlap_rate(int(a.box.left), int(a.box.right), int(b.box.left), int(b.box.right));
    yr = overlap_rate(int(a.box.top), int(a.box.bottom), int(b.box.top), int(b.box.bottom));
  };
  float xr, yr;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      if (!lines[i].valid || !lines[j].valid) continue;
      rates(lines[i], lines[j], xr, yr);
      if (!(xr > 0.1f && yr > 0.1f)) continue;
      const tagRECT u = rect_merge(lines[i].box, lines[j].box);
      const int64_t w = Width(u), h = Height(u);
      if (std::max(w, h) < 3 * std::min(w, h)) continue;
      lines[i].box = u;
      lines[i].member_total += lines[j].member_total;
      lines[i].member_core += lines[j].member_core;
      lines[j].valid = 0;
    }
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      if (!lines[i].valid || !lines[j].valid) continue;
      rates(lines[i], lines[j], xr, yr);
      if (xr > 0.1f && yr > 0.1f) lines[i].valid = lines[j].valid = 0;
    }
  for (int i = 0; i < n; ++i) {
    const int64_t w = Width(lines[i].box), h = Height(lines[i].box);
    if (lines[i].valid && std::max(w, h) < 2 * std::min(w, h)) lines[i].valid = 0;
  }
}

TEXTLINE* KeepValid(const TEXTLINE* lines, int n, int* out_count) {
  int valid = 0;
  for (int i = 0; i < n; ++i) valid += lines[i].valid ? 1 : 0;
  TEXTLINE* out = new TEXTLINE[size_t(valid)];
  int k = 0;
  for (int i = 0; i < n; ++i)
    if (lines[i].valid) out[k++] = lines[i];
  *out_count = valid;
  return out;
}

}  // namespace

void init_textline(TEXTLINE* line) {
  line->box = tagRECT{100001, 100001, -1, -1};
  line->block_mark = 0;
  line->line_index = -1;
  line->selected = 0;
}

void release_textline(TEXTLINE* line) {
  delete[] line->member_list;
  line->member_list = nullptr;
  line->member_total = 0;
}

void release_textlines(TEXTLINE** lines, int count) {
  if (!*lines) return;
  for (int i = 0; i < count; ++i) release_textline(&(*lines)[i]);
  delete[] * lines;
  *lines = nullptr;
}

bool is_inside(tagRECT a, tagRECT b) {
  return a.left >= b.left && a.top >= b.top && a.right <= b.right && a.bottom <= b.bottom;
}

tagRECT rect_merge(tagRECT a, tagRECT b) {
  return tagRECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom)};
}

rect rect_union_v3(tagRECT a, tagRECT b) {
  const tagRECT u = rect_merge(a, b);
  return rect{int32_t(u.left), int32_t(u.top), int32_t(u.right), int32_t(u.bottom)};
}

rect rect_union(rect a, rect b) {
  return rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

int hist_peak(const int32_t* hist, int start, int end, int previous) {
  if (end <= start) return previous;
  int p = start;
  for (int i = start + 1; i < end; ++i)
    if (hist[i] > hist[p]) p = i;
  const int32_t b = hist[p];
  if (b == 0) return previous;
  int left_end = p - 1;  // outer region start .. left_end
  if (p > start + 1)
    for (int x = p - 1; x >= start + 1; --x)
      if (hist[x] == 0 || hist[x - 1] > hist[x]) {
        left_end = x - 1;
        break;
      }
  int right_start = p + 1;  // outer region right_start .. end - 1
  if (p + 1 < end - 1)
    for (int x = p + 1; x <= end - 2; ++x)
      if (hist[x] == 0 || hist[x + 1] > hist[x]) {
        right_start = x + 1;
        break;
      }
  int32_t e = 0;
  for (int i = start; i <= left_end; ++i) e = std::max(e, hist[i]);
  for (int i = right_start; i <= end - 1; ++i) e = std::max(e, hist[i]);
  return b - e >= 2 ? p : previous;
}

float hist_overlap(TEXTLINE* a, TEXTLINE* b, const CC* ccs, int count, int orientation, float x_rate, float y_rate) {
  // The lines lie side by side across their body axis: x for vertical lines,
  // y for horizontal ones.
  const Axis ax{orientation};
  const int64_t along0 = std::max(ax.A0(a->box), ax.A0(b->box));
  const int64_t along1 = std::min(ax.A1(a->box), ax.A1(b->box));
  const float along_rate = orientation ? y_rate : x_rate;
  TEXTLINE* A = ax.C0(b->box) < ax.C0(a->box) ? b : a;
  TEXTLINE* B = A == a ? b : a;
  const int64_t u = ax.C0(B->box), v = ax.C1(A->box);
  if (v < u) return 0.0f;
  const int64_t size = std::max(ax.C1(A->box), ax.C1(B->box)) + 2;
  auto histogram = [&](const TEXTLINE* l) {
    std::vector<int64_t> h(size_t(size), 0);
    for (int m = 0; m < l->member_total && l->member_list; ++m) {
      const int k = l->member_list[m];
      if (k < 0 || k >= count) continue;
      const tagRECT& c = ccs[k].box;
      if (ax.C0(c) < ax.C0(l->box) || ax.C1(c) > ax.C1(l->box) || ax.A0(c) < along0 || ax.A1(c) > along1) continue;
      for (int64_t x = ax.C0(c); x <= ax.C1(c); ++x) h[size_t(x)] += 1;
    }
    return h;
  };
  const std::vector<int64_t> ha = histogram(A), hb = histogram(B);
  auto mass = [](const std::vector<int64_t>& h, int64_t from, int64_t to) {
    int64_t s = 0;
    for (int64_t x = std::max<int64_t>(from, 0); x <= to && x < int64_t(h.size()); ++x) s += h[size_t(x)];
    return s;
  };
  auto share = [](int64_t in, int64_t out) { return in + out > 0 ? float(double(in) / double(in + out)) : 0.0f; };
  const int64_t a_in = mass(ha, u, v);
  const float a_share = share(a_in, mass(ha, ax.C0(A->box), u));
  const int64_t b_in = mass(hb, u, v - 1);
  const float b_share = share(b_in, mass(hb, v, ax.C1(B->box)));
  auto reaching = [&](const TEXTLINE* l, bool right_edge) {
    int n = 0;
    for (int m = 0; m < l->member_total && l->member_list; ++m) {
      const int k = l->member_list[m];
      if (k < 0 || k >= count) continue;
      const tagRECT& c = ccs[k].box;
      if (right_edge ? (ax.C1(c) > u && ax.C1(c) <= v) : (ax.C0(c) >= u && ax.C0(c) < v)) ++n;
    }
    return n;
  };
  auto too_few = [&](int n) { return orientation ? n < 2 : n == 1; };
  if (a_share <= 0.1f || too_few(reaching(A, true))) {
    if (along_rate > 0.8f) ax.C1(A->box) = u;
    return 0.0f;
  }
  if (b_share <= 0.1f || too_few(reaching(B, false))) {
    if (along_rate > 0.8f) ax.C0(B->box) = v;
    return 0.0f;
  }
  return std::min(a_share, b_share);
}

int cc2textline_horizontal_init_v4(CC* ccs, int count, TEXTLINE** out, int* out_count, int32_t** label_rows, int width,
                                   int height, bool coverage) {
  return BuildLines(0, ccs, count, out, out_count, label_rows, width, height, coverage);
}

int cc2textline_vertical_init_v4(CC* ccs, int count, TEXTLINE** out, int* out_count, int32_t** label_rows, int width,
                                 int height, bool coverage) {
  return BuildLines(1, ccs, count, out, out_count, label_rows, width, height, coverage);
}

namespace {
// A group's box grows by the union of one overlapping pair's boxes; the
// group's first pair sets it. Counts start at zero for the first pair.
void GrowGroup(const tagRECT& a, const tagRECT& b, bool first, MERGE_RECT& g) {
  if (first) g.horizontal_count = g.vertical_count = 0;
  const rect u = rect_union_v3(a, b);
  const rect grown = first ? u : rect_union(rect{g.left, g.top, g.right, g.bottom}, u);
  g.left = grown.left, g.top = grown.top, g.right = grown.right, g.bottom = grown.bottom;
}
}  // namespace

int hv_overlap_textline_detection(TEXTLINE* horizontal, int nh, TEXTLINE* vertical, int nv, MERGE_RECT* groups,
                                  int* group_count) {
  *group_count = 0;
  std::vector<int32_t> m;
  std::vector<int32_t> parent;
  try {
    m.assign(size_t(nh) * nv, 0);
    parent.resize(size_t(nh) + 1);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  for (int i = 0; i < nh; ++i)
    for (int j = 0; j < nv; ++j) {
      const TEXTLINE& a = horizontal[i];
      const TEXTLINE& b = vertical[j];
      if (a.valid && b.valid &&
          is_overlap(int32_t(a.box.left), int32_t(a.box.right), int32_t(b.box.left), int32_t(b.box.right)) &&
          is_overlap(int32_t(a.box.top), int32_t(a.box.bottom), int32_t(b.box.top), int32_t(b.box.bottom)))
        m[size_t(i) * nv + j] = i + 1;
    }
  // Spreading the smallest label over rows and columns until nothing
  // changes gives each connected set its smallest label: a union-find over
  // the labels reaches the same matrix in one sweep.
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int32_t x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  };
  for (int j = 0; j < nv; ++j) {
    int32_t first = 0;
    for (int i = 0; i < nh; ++i) {
      const int32_t e = m[size_t(i) * nv + j];
      if (!e) continue;
      if (!first) {
        first = e;
        continue;
      }
      const int32_t ra = find(first), rb = find(e);
      if (ra != rb) parent[std::max(ra, rb)] = std::min(ra, rb);
    }
  }
  // One row-major sweep collects every group at once, in the order in
  // which find_merged_rect_v3 would hand them out one by one: calling it
  // per group rescans the whole matrix each time, which a page of a few
  // thousand small groups turns into minutes. A row's entries all carry one
  // label and so do a column's, so each line is listed on its first entry.
  std::vector<int32_t> slot;
  std::vector<char> v_listed;
  try {
    slot.assign(size_t(nh) + 1, -1);
    v_listed.assign(size_t(nv), 0);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  int n = 0;
  for (int i = 0; i < nh; ++i)
    for (int j = 0; j < nv; ++j) {
      int32_t& e = m[size_t(i) * nv + j];
      if (!e) continue;
      const int32_t label = find(e);
      e = 0;
      const bool first = slot[size_t(label)] < 0;
      if (first) slot[size_t(label)] = n++;
      MERGE_RECT& g = groups[slot[size_t(label)]];
      if (!first && (g.horizontal_count >= 1000 || g.vertical_count >= 1000)) return kLimitExceeded;
      GrowGroup(horizontal[i].box, vertical[j].box, first, g);
      if (first || g.horizontal[g.horizontal_count - 1] != i) g.horizontal[g.horizontal_count++] = i;
      if (!v_listed[size_t(j)]) g.vertical[g.vertical_count++] = j, v_listed[size_t(j)] = 1;
    }
  *group_count = n;
  return 0;
}

int find_merged_rect_v3(const TEXTLINE* horizontal, int nh, const TEXTLINE* vertical, int nv, int32_t* matrix,
                        MERGE_RECT* group) {
  const size_t cells = size_t(std::max(nh, 0)) * std::max(nv, 0);
  size_t start = 0;
  while (start < cells && matrix[start] == 0) ++start;
  if (start == cells) return -1;
  const int32_t label = matrix[start];
  MERGE_RECT& g = *group;
  g.horizontal_count = g.vertical_count = 0;
  auto listed = [](const int32_t* list, int cnt, int v) { return std::find(list, list + cnt, v) != list + cnt; };
  bool first = true;
  for (size_t p = start - start % size_t(nv); p < cells; ++p) {
    if (matrix[p] != label) continue;
    if (!first && (g.horizontal_count >= 1000 || g.vertical_count >= 1000)) return kLimitExceeded;
    const int i = int(p / size_t(nv)), j = int(p % size_t(nv));
    GrowGroup(horizontal[i].box, vertical[j].box, first, g);
    first = false;
    if (!listed(g.horizontal, g.horizontal_count, i)) g.horizontal[g.horizontal_count++] = i;
    if (!listed(g.vertical, g.vertical_count, j)) g.vertical[g.vertical_count++] = j;
    matrix[p] = 0;
  }
  return 0;
}

int cc2textline(CC* ccs, int count, TEXTLINE** horizontal, int* horizontal_count, TEXTLINE** vertical,
                int* vertical_count, int32_t** label_rows, const uint8_t*, int width, int height, int, int* hint,
                const char*, const char*, bool coverage) {
  TEXTLINE *h = nullptr, *v = nullptr;
  int nh = 0, nv = 0;
  auto fail = [&](int code) {
    delete[] h;
    delete[] v;
    delete[] * horizontal;
    delete[] * vertical;
    *horizontal = *vertical = nullptr;
    *horizontal_count = *vertical_count = 0;
    return code;
  };
  cc2textline_horizontal_init_v4(ccs, count, &h, &nh, label_rows, width, height, coverage);
  for (int i = 0; i < count; ++i) ccs[i].used = 0;
  cc2textline_vertical_init_v4(ccs, count, &v, &nv, label_rows, width, height, coverage);
  std::vector<MERGE_RECT> groups;
  int n_groups = 0;
  try {
    // Every group holds at least one line of each orientation.
    groups.resize(size_t(std::max(1, std::min(nh, nv))));
  } catch (const std::bad_alloc&) {
    return fail(kNoMemory);
  }
  if (int rc = hv_overlap_textline_detection(h, nh, v, nv, groups.data(), &n_groups)) return fail(rc);
  for (int g = 0; g < n_groups; ++g) {
    const MERGE_RECT& group = groups[size_t(g)];
    int64_t sh = 0, sv = 0;
    for (int k = 0; k < group.horizontal_count; ++k) sh += h[group.horizontal[k]].member_core;
    for (int k = 0; k < group.vertical_count; ++k) sv += v[group.vertical[k]].member_core;
    int winner = sh > sv ? 0 : sv > sh ? 1 : -1;
    if (winner < 0 && group.horizontal_count != group.vertical_count)
      winner = group.horizontal_count > group.vertical_count ? 0 : 1;
    for (int k = 0; k < group.horizontal_count; ++k) h[group.horizontal[k]].valid = winner == 0;
    for (int k = 0; k < group.vertical_count; ++k) v[group.vertical[k]].valid = winner == 1;
  }
  int64_t sum_h = 0, sum_v = 0;
  for (int i = 0; i < nh; ++i) sum_h += h[i].valid ? h[i].member_core : 0;
  for (int i = 0; i < nv; ++i) sum_v += v[i].valid ? v[i].member_core : 0;
  ColumnTest(h, nh, 0);
  ColumnTest(v, nv, 1);
  JoinDropShape(h, nh);
  JoinDropShape(v, nv);
  try {
    *horizontal = KeepValid(h, nh, horizontal_count);
    *vertical = KeepValid(v, nv, vertical_count);
  } catch (const std::bad_alloc&) {
    return fail(kNoMemory);
  }
  delete[] h;
  delete[] v;
  *hint = sum_h > sum_v ? 0 : sum_v > sum_h ? 1 : -1;
  return 0;
}

int sort_textline_topdown(const void* a, const void* b) {
  const int64_t ta = static_cast<const TEXTLINE*>(a)->box.top, tb = static_cast<const TEXTLINE*>(b)->box.top;
  return ta < tb ? -1 : ta > tb ? 1 : 0;
}

int sort_textline_rightleft(const void* a, const void* b) {
  const int64_t ra = static_cast<const TEXTLINE*>(a)->box.right, rb = static_cast<const TEXTLINE*>(b)->box.right;
  return ra > rb ? -1 : ra < rb ? 1 : 0;
}

}  // namespace turnsense
