#include "line_checks.h"

#include <algorithm>
#include <new>
#include <vector>

namespace turnsense {
namespace {

// Gaps inside one component of a wide (or tall) shape, measured along its
// rows (columns): runs of other pixels that end just before one of its own.
// True when it is a rule: no gaps, or mostly long ones.
bool GapsSayRule(const CC_IMG& cc, int label, const rect& b, bool along_rows) {
  const int len = along_rows ? b.right - b.left + 1 : b.bottom - b.top + 1;
  if (len / 2 < 1) return true;
  int64_t gaps = 0, short_gaps = 0;
  const int outer0 = along_rows ? b.top : b.left, outer1 = along_rows ? b.bottom : b.right;
  const int inner0 = along_rows ? b.left : b.top, inner1 = along_rows ? b.right : b.bottom;
  for (int o = outer0; o <= outer1; ++o) {
    int run = 0;
    for (int i = inner0; i <= inner1; ++i) {
      const int x = along_rows ? i : o, y = along_rows ? o : i;
      if (cc.label_map[size_t(y) * cc.width + x] == label) {
        if (run > 0) {
          ++gaps;
          if (run < len / 2) ++short_gaps;
        }
        run = 0;
      } else {
        ++run;
      }
    }
  }
  return gaps >= 2 * short_gaps;
}

int Classify(const CC_IMG& cc, int label, int W, int H) {
  const rect& b = cc.boxes[label];
  const int64_t w = b.right - b.left + 1, h = b.bottom - b.top + 1;
  if (w >= W / 3 || h >= H / 3) return -4;
  if (w * h <= 6) return -3;
  if (int64_t(cc.pixel_counts[label]) * 5 < w * h || (w > W / 4 && h > H / 4)) return -1;
  if (10 * h < w || w >= W / 4) {
    if (h > 10) return -2;
    return GapsSayRule(cc, label, b, true) ? -3 : 0;
  }
  if (10 * w < h || h >= H / 4) {
    if (w > 10) return -2;
    return GapsSayRule(cc, label, b, false) ? -3 : 0;
  }
  return 0;
}

// Ink runs across each position along the line: for a horizontal line one
// count per column over the line's rows.
std::vector<int> RunProfile(uint8_t** rows, const tagRECT& box, int o) {
  const int64_t a0 = o ? box.top : box.left, a1 = o ? box.bottom : box.right;
  const int64_t c0 = o ? box.left : box.top, c1 = o ? box.right : box.bottom;
  std::vector<int> prof(size_t(a1 - a0 + 1), 0);
  for (int64_t a = a0; a <= a1; ++a) {
    int runs = 0;
    bool prev_ink = false;
    for (int64_t c = c0; c <= c1; ++c) {
      const bool ink = (o ? rows[a][c] : rows[c][a]) == 0;
      if (ink && !prev_ink) ++runs;
      prev_ink = ink;
    }
    prof[size_t(a - a0)] = runs;
  }
  return prof;
}

int Verdict(uint8_t** rows, const TEXTLINE& L, int o) {
  const std::vector<int> prof = RunProfile(rows, L.box, o);
  int64_t total = 0, inked = 0;
  for (int v : prof)
    if (v > 0) total += v, ++inked;
  if (inked > 0 && double(total) / double(inked) > 4) return 1;
  struct Seg {
    int start, end;
    double mean;
  };
  std::vector<Seg> segs;
  for (size_t i = 0; i < prof.size();) {
    if (prof[i] == 0) {
      ++i;
      continue;
    }
    size_t j = i;
    int64_t s = 0;
    while (j < prof.size() && prof[j] > 0) s += prof[j++];
    segs.push_back(Seg{int(i), int(j - 1), double(s) / double(j - i)});
    i = j;
  }
  if (segs.empty()) return 2;
  int64_t len_sum = 0;
  for (const Seg& s : segs) len_sum += s.end - s.start + 1;
  const int64_t m = len_sum / int64_t(segs.size());
  const int64_t thickness = o ? L.box.right - L.box.left : L.box.bottom - L.box.top;
  int n_short = 0, n_short_dense = 0;
  for (const Seg& s : segs) {
    const int64_t len = s.end - s.start + 1;
    const bool is_short = thickness >= 2 * len;
    const bool dense = s.mean >= 4;
    if (len > m && s.mean > 5) return 3;
    if (is_short) {
      ++n_short;
      if (dense) ++n_short_dense;
    }
  }
  if (2 * n_short > int(segs.size()) && 2 * n_short_dense > n_short) return 4;
  if (thickness > 8) {
    const int64_t a0 = o ? L.box.top : L.box.left;
    const int64_t c0 = o ? L.box.left : L.box.top, c1 = o ? L.box.right : L.box.bottom;
    int solid = 0;
    for (const Seg& s : segs) {
      int64_t first = -1, last = -1;
      for (int64_t c = c0; c <= c1; ++c)
        for (int64_t a = a0 + s.start; a <= a0 + s.end; ++a)
          if ((o ? rows[a][c] : rows[c][a]) == 0) {
            if (first < 0) first = c;
            last = c;
            break;
          }
      if (first < 0) continue;
      int64_t ink = 0;
      for (int64_t c = first; c <= last; ++c)
        for (int64_t a = a0 + s.start; a <= a0 + s.end; ++a) ink += 255 - (o ? rows[a][c] : rows[c][a]);
      const int64_t area = (last - first + 1) * (s.end - s.start + 1);
      if (double(ink / 255) > 0.8 * double(area)) ++solid;
    }
    if (solid * 5 >= int(segs.size()) * 3) return 5;
  }
  return -1;
}

tagRECT Clamp(tagRECT b, int width, int height) {
  b.left = std::max<int64_t>(b.left, 0);
  b.top = std::max<int64_t>(b.top, 0);
  b.right = std::min<int64_t>(b.right, width - 1);
  b.bottom = std::min<int64_t>(b.bottom, height - 1);
  return b;
}

// Ink profile across the box's longer side (one value per row of a box at
// least as wide as high).
std::vector<int64_t> InkProfile(uint8_t** rows, const tagRECT& b) {
  const bool wide = b.right - b.left >= b.bottom - b.top;
  std::vector<int64_t> p;
  if (wide) {
    for (int64_t y = b.top; y <= b.bottom; ++y) {
      int64_t s = 0;
      for (int64_t x = b.left; x <= b.right; ++x) s += 255 - rows[y][x];
      p.push_back(s);
    }
  } else {
    for (int64_t x = b.left; x <= b.right; ++x) {
      int64_t s = 0;
      for (int64_t y = b.top; y <= b.bottom; ++y) s += 255 - rows[y][x];
      p.push_back(s);
    }
  }
  return p;
}

// Peaks of a profile: the first value >= G followed by a smaller one, from
// the start and from the end. False when there is no usable pair.
bool Peaks(const std::vector<int64_t>& p, int64_t G, size_t& first, size_t& last) {
  const size_t n = p.size();
  bool found = false;
  for (size_t i = 0; i + 1 < n; ++i)
    if (p[i] >= G && p[i + 1] < p[i]) {
      first = i;
      found = true;
      break;
    }
  if (!found) return false;
  found = false;
  for (size_t i = n - 1; i >= 1; --i)
    if (p[i] >= G && p[i - 1] < p[i]) {
      last = i;
      found = true;
      break;
    }
  return found && last >= first;
}

int MultiLine(uint8_t** rows, int width, int height, int* several, tagRECT box, bool strict) {
  *several = 0;
  box = Clamp(box, width, height);
  if (box.right < box.left || box.bottom < box.top) return kLimitExceeded;
  std::vector<int64_t> p;
  try {
    p = InkProfile(rows, box);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  if (!strict && p.size() > 2) {
    std::vector<int64_t> s(p);
    for (size_t i = 1; i + 1 < p.size(); ++i) s[i] = (p[i - 1] + 2 * p[i] + p[i + 1]) / 4;
    p.swap(s);
  }
  const int64_t M = *std::max_element(p.begin(), p.end());
  if (M <= 0) return kLimitExceeded;
  const double g = 0.2 * double(M);
  const int64_t tg = int64_t(g);
  size_t first = 0, last = 0;
  if (!Peaks(p, 2 * tg, first, last)) return kLimitExceeded;
  size_t valley = first;
  for (size_t i = first; i <= last; ++i)
    if (p[i] < p[valley]) valley = i;
  const int64_t v = p[valley];
  if (strict) {
    *several = v <= M / 20;
    return 0;
  }
  if (v > tg) return 0;
  int64_t L = 0, R = 0;
  for (size_t i = 0; i < valley; ++i) L = std::max(L, p[i]);
  for (size_t i = valley + 1; i < p.size(); ++i) R = std::max(R, p[i]);
  if (v != 0)
    *several = double(v) <= 0.2 * double(L) && double(v) <= 0.2 * double(R);
  else
    *several = double(L) >= 0.4 * double(M) && double(R) >= 0.4 * double(M);
  return 0;
}

}  // namespace

int noise_cc_removal_v1(uint8_t* image, int width, int height, CC_IMG& cc, int level) {
  const int n = cc.label_count;
  if (level != 0) {
    for (int k = 1; k <= n; ++k) {
      const rect& b = cc.boxes[k];
      if (cc.status[k] == 0 && (b.right - b.left + 1 < level || b.bottom - b.top + 1 < level)) cc.status[k] = -3;
    }
  } else {
    cc.status[0] = 0;
    try {
      for (int k = 1; k <= n; ++k) cc.status[k] = Classify(cc, k, width, height);
    } catch (const std::bad_alloc&) {
      return kNoMemory;
    }
  }
  const size_t pixels = size_t(width) * height;
  for (size_t i = 0; i < pixels; ++i) {
    const int32_t k = cc.label_map[i];
    if (k > 0 && k <= n && cc.status[k] < 0) image[i] = 255;
  }
  return 0;
}

int textline_verification(uint8_t** rows, int, int, TEXTLINE* lines, int count, TEXTLINE* out, int* out_count,
                          int orientation) {
  *out_count = 0;
  for (int i = 0; i < count; ++i) lines[i].verdict = -1;
  try {
    for (int i = 0; i < count; ++i) {
      TEXTLINE& L = lines[i];
      if (!L.valid) continue;
      L.verdict = Verdict(rows, L, orientation);
      if (L.verdict != -1) continue;
      TEXTLINE& o = out[*out_count];
      o.box = L.box;
      o.core = L.core;
      o.line_index = *out_count;
      o.width = int32_t(L.box.right - L.box.left + 1);
      o.height = int32_t(L.box.bottom - L.box.top + 1);
      o.elongation = orientation ? float(o.height) / float(o.width) : float(o.width) / float(o.height);
      o.orientation = orientation;
      ++*out_count;
    }
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  return 0;
}

int is_multi_line_v1(uint8_t** rows, int width, int height, int* several, tagRECT box) {
  return MultiLine(rows, width, height, several, box, false);
}

int is_multi_line_v1_strict(uint8_t** rows, int width, int height, int* several, tagRECT box) {
  return MultiLine(rows, width, height, several, box, true);
}

bool is_multi_line_v2(uint8_t** rows, int width, int height, tagRECT box) {
  int several = 0;
  is_multi_line_v1(rows, width, height, &several, box);
  if (several) return true;
  const int64_t bw = box.right - box.left + 1, bh = box.bottom - box.top + 1;
  const bool wide = bw >= bh;
  const int64_t longer = wide ? bw : bh, shorter = wide ? bh : bw;
  const bool long_box = longer > 6 * shorter;
  const int64_t part = long_box ? longer / 3 : longer / 2;
  tagRECT head = box, tail = box;
  if (wide) {
    head.right = box.left + part - 1;
    tail.left = box.right - part + 1;
  } else {
    head.bottom = box.top + part - 1;
    tail.top = box.bottom - part + 1;
  }
  auto test = long_box ? is_multi_line_v1 : is_multi_line_v1_strict;
  int a = 0, b = 0;
  test(rows, width, height, &a, head);
  if (a) return true;
  test(rows, width, height, &b, tail);
  return b != 0;
}

int likelyhood_size(const uint8_t* crop, int width, int height, int multiplier, float* size) {
  const bool wide = width > height;
  const int n = wide ? height : width, len = wide ? width : height;
  std::vector<int> runs;
  try {
    runs.assign(size_t(std::max(n, 0)), 0);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  for (int i = 0; i < n; ++i) {
    bool prev = false;
    for (int j = 0; j < len; ++j) {
      const bool ink = (wide ? crop[size_t(i) * width + j] : crop[size_t(j) * width + i]) == 0;
      if (ink && !prev) ++runs[size_t(i)];
      prev = ink;
    }
  }
  const int most = runs.empty() ? 0 : *std::max_element(runs.begin(), runs.end());
  const int e = int(0.5 * most);
  int first = -1, last = -1;
  for (int i = 0; i < n; ++i)
    if (runs[size_t(i)] >= e) {
      if (first < 0) first = i;
      last = i;
    }
  *size = first < 0 ? 0.0f : float((last - first + 1) * multiplier);
  return 0;
}

// The crop is left as it is: the projection that looked for bars decided
// nothing, so only the call and its result remain.
int barcode_removal(TEXT_IMAGE*) { return 0; }

}  // namespace turnsense
