// Text blocks and lines: labels -> character groups -> size classes ->
// recursive projection cut into blocks -> lines by row profile -> reading
// order of blocks and tables.
#include "CABunsyoKiridasi.h"

#include <string.h>

#include <algorithm>
#include <numeric>
#include <tuple>

namespace {

bool Inside(tagSEGRECT const& a, tagSEGRECT const& o) {
  return a.left >= o.left && a.right <= o.right && a.top >= o.top && a.bottom <= o.bottom;
}
bool Overlap(int a1, int a2, int b1, int b2) { return a1 <= b2 && b1 <= a2; }

int Find(std::vector<int>& parent, int i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

// Every live group inside box o (other than o itself) is removed.
void RemoveInside(std::vector<tagSEGRECT>& recs, tagSEGRECT const& o, ARECT2 const* keep) {
  for (auto& r : recs) {
    if (!r.live || &r == &o || !Inside(r, o)) continue;
    if (keep && Overlap(r.left, r.right, keep->left, keep->right) && Overlap(r.top, r.bottom, keep->top, keep->bottom))
      continue;
    r.live = 0;
    r.key = -1;
  }
}

// (l, t, r, b) in the frame turned by 270 degrees, and back.
ARECT2 TurnIn(ARECT2 const& a, int W) { return {a.top, W - 1 - a.right, a.bottom, W - 1 - a.left}; }
ARECT2 TurnOut(ARECT2 const& a, int W) { return {W - 1 - a.bottom, a.left, W - 1 - a.top, a.right}; }

}  // namespace

void CABunsyoKiridasi::Free() {
  m_blocks.clear();
  m_lines.clear();
  m_tables.clear();
  m_charSize = 0;
  std::fill(std::begin(KAZU), std::end(KAZU), 0);
}

int CABunsyoKiridasi::Labels(CABitmap const& bmp, ARECT2 const& area, LBL_DATA const& labels,
                             std::vector<tagSEGRECT>& out) const {
  const int dust = m_dpi / 100, s = m_para[11], l = m_para[12];
  for (int64_t k = 1; labels.rects && k <= labels.maxlabel; ++k) {
    KRECT const& b = labels.rects[k];
    if (b.xmin > b.xmax || b.ymin > b.ymax || b.xmin < area.left || b.xmax > area.right || b.ymin < area.top ||
        b.ymax > area.bottom || b.xmax >= bmp.m_width || b.ymax >= bmp.m_height)
      continue;
    const int w = b.xmax - b.xmin + 1, h = b.ymax - b.ymin + 1;
    if ((w <= s && h <= l) || (w <= l && h <= s) || std::max(w, h) <= dust) continue;
    tagSEGRECT r{};
    r.left = b.xmin, r.top = b.ymin, r.right = b.xmax, r.bottom = b.ymax;
    r.live = 1;
    r.label = static_cast<int32_t>(k);
    r.members = 1;
    out.push_back(std::move(r));
  }
  return 0;
}

void CABunsyoKiridasi::Group(std::vector<tagSEGRECT>& recs) const {
  const int limit = m_para[1] * m_para[3] / 100;
  const int n = static_cast<int>(recs.size());
  auto big = [limit](tagSEGRECT const& r) { return r.right - r.left + 1 > limit || r.bottom - r.top + 1 > limit; };
  std::vector<int> parent(n);
  std::iota(parent.begin(), parent.end(), 0);
  for (int i = 0; i < n; ++i) {
    if (big(recs[i])) continue;
    for (int j = i + 1; j < n && recs[j].top <= recs[i].top + limit; ++j) {
      if (big(recs[j])) continue;
      if (Overlap(recs[i].left, recs[i].right, recs[j].left, recs[j].right) &&
          Overlap(recs[i].top, recs[i].bottom, recs[j].top, recs[j].bottom)) {
        int a = Find(parent, i), b = Find(parent, j);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    int root = Find(parent, i);
    recs[i].group = root;
    if (root == i) continue;
    tagSEGRECT& g = recs[root];
    g.left = std::min(g.left, recs[i].left), g.top = std::min(g.top, recs[i].top);
    g.right = std::max(g.right, recs[i].right), g.bottom = std::max(g.bottom, recs[i].bottom);
    g.members += recs[i].members;
    recs[i].live = 0;
  }
}

int CABunsyoKiridasi::EstimateSize(std::vector<tagSEGRECT> const& recs) const {
  const int lo = m_para[2] * 80 / 100, hi = m_para[1] * 120 / 100, bin = m_para[4], margin = m_para[5];
  std::vector<int> hist(hi / bin + 1, 0);
  bool any = false;
  for (auto const& r : recs) {
    const int h = r.bottom - r.top + 1;
    if (r.live && h >= lo && h <= hi) ++hist[h / bin], any = true;
  }
  if (!any) return m_para[2];
  int mode = 0;
  for (int i = 0; i < static_cast<int>(hist.size()); ++i)
    if (hist[i] >= hist[mode]) mode = i;
  const int from = std::max(lo, mode * bin - margin), to = std::min(mode * bin + bin - 1 + margin, hi);
  int64_t sum = 0, count = 0;
  for (auto const& r : recs) {
    const int h = r.bottom - r.top + 1;
    if (r.live && h > from && h < to) sum += h, ++count;
  }
  return count ? static_cast<int>((sum + count - 1) / count) : m_para[2];
}

void CABunsyoKiridasi::Classify(std::vector<tagSEGRECT>& recs) {
  const int64_t b = m_charSize;
  for (auto& r : recs) {
    if (!r.live) continue;
    const int w = r.right - r.left + 1, h = r.bottom - r.top + 1;
    r.ratio = static_cast<double>(h) / w;
    if (h / w > m_para[10])
      r.cls = SEG_TALL, ++KAZU[0];
    else if (std::max(w, h) <= m_para[1] * m_para[9] / 100)
      r.cls = SEG_CHAR, ++KAZU[1];
    else if (w > b * m_para[14] && h < b * m_para[15])
      r.cls = SEG_HRULE, ++KAZU[2];
    else if (h > b * m_para[14] && w < b * m_para[15])
      r.cls = SEG_VRULE, ++KAZU[3];
    else if (w > b * m_para[16])
      r.cls = SEG_WIDE, ++KAZU[4];
    else if (h <= m_para[13])
      r.cls = SEG_LOW, ++KAZU[5];
    else
      r.cls = SEG_LARGE, ++KAZU[0];
  }
}

void CABunsyoKiridasi::Tables(CABitmap const& bmp, std::vector<tagSEGRECT>& recs) {
  std::vector<uint16_t> proj(static_cast<size_t>(std::max(bmp.m_width, bmp.m_height)) + 1);
  for (auto& r : recs) {
    if (!r.live) continue;
    if (r.cls == SEG_HRULE || r.cls == SEG_VRULE) {
      r.live = 0, r.key = -1;
      RemoveInside(recs, r, nullptr);
      continue;
    }
    if (r.cls != SEG_LARGE && r.cls != SEG_WIDE) continue;
    ARECT2 inner{};
    const int code = hyou_ka_douka(bmp, ARECT2{r.left, r.top, r.right, r.bottom}, inner, proj.data(),
                                   static_cast<int>(proj.size()));
    r.live = 0, r.key = -1;
    if (code & layout::HYOU_NONE) {
      RemoveInside(recs, r, nullptr);
    } else if (code & layout::HYOU_JOINED) {
    } else if (code & layout::HYOU_TABLE) {
      RemoveInside(recs, r, &inner);
    } else if (code & layout::HYOU_BORDERED) {
      if (m_tables.size() < kMaxTables)
        m_tables.push_back(SEG_TABLE{static_cast<uint16_t>(r.left), static_cast<uint16_t>(r.top),
                                     static_cast<uint16_t>(r.right), static_cast<uint16_t>(r.bottom), 0, 0});
      RemoveInside(recs, r, nullptr);
    }
  }
}

void CABunsyoKiridasi::Characters(CABitmap const& bmp, std::vector<tagSEGRECT>& recs,
                                  std::vector<tagSEGRECT>& chars) const {
  for (auto& r : recs) {
    if (!r.live || (r.cls != SEG_CHAR && r.cls != SEG_LOW)) continue;
    tagSEGRECT c = std::move(r);
    c.key = 3000;
    const int w = c.right - c.left + 1, h = c.bottom - c.top + 1;
    c.colProj.assign(w, 0);
    c.rowProj.assign(h, 0);
    c.black = 0;
    for (int y = c.top; y <= c.bottom; ++y) {
      const uint8_t* row = layout::Row(bmp, y);
      for (int x = layout::NextPixel(row, c.left, c.right, true); x <= c.right;) {
        const int e = layout::NextPixel(row, x, c.right, false);
        for (int k = x; k < e; ++k) ++c.colProj[k - c.left];
        c.rowProj[y - c.top] += static_cast<uint16_t>(e - x);
        c.black += e - x;
        x = layout::NextPixel(row, e, c.right, true);
      }
    }
    if (m_direction <= 0) {
      ARECT2 t = TurnIn(ARECT2{c.left, c.top, c.right, c.bottom}, m_width);
      c.left = t.left, c.top = t.top, c.right = t.right, c.bottom = t.bottom;
      std::swap(c.colProj, c.rowProj);
      std::reverse(c.rowProj.begin(), c.rowProj.end());
    }
    chars.push_back(std::move(c));
  }
}

void CABunsyoKiridasi::CutNode(std::vector<tagSEGRECT>& chars, std::vector<int> idx, ARECT2 box, bool yAxis, int depth,
                               bool retry, std::vector<ARECT2>& leaves) const {
  const int b = m_charSize;
  auto lo = [yAxis](tagSEGRECT const& c) { return yAxis ? c.top : c.left; };
  auto hi = [yAxis](tagSEGRECT const& c) { return yAxis ? c.bottom : c.right; };
  const int from = yAxis ? box.top : box.left, to = yAxis ? box.bottom : box.right;
  if (from > to) return;
  std::vector<int32_t> prof(to - from + 1, 0);
  auto project = [&] {
    std::fill(prof.begin(), prof.end(), 0);
    for (int i : idx) {
      auto const& p = yAxis ? chars[i].rowProj : chars[i].colProj;
      for (int k = std::max(lo(chars[i]), from); k <= std::min(hi(chars[i]), to); ++k)
        prof[k - from] += p[k - lo(chars[i])];
    }
  };
  project();
  // Dust runs.
  const bool small = yAxis ? box.bottom - box.top < m_para[20] : box.right - box.left < m_para[21];
  const int dustRun = small ? m_para[19] : m_para[18];
  bool removed = false;
  for (int k = 0; k < static_cast<int>(prof.size());) {
    if (!prof[k]) {
      ++k;
      continue;
    }
    int e = k;
    while (e + 1 < static_cast<int>(prof.size()) && prof[e + 1]) ++e;
    if (e - k < dustRun) {
      for (int& i : idx) {
        if (i < 0 || lo(chars[i]) < from + k || hi(chars[i]) > from + e) continue;
        if (!yAxis && chars[i].black > 10) continue;
        chars[i].key = -1;
        i = -1;
        removed = true;
      }
    }
    k = e + 1;
  }
  if (removed) {
    idx.erase(std::remove(idx.begin(), idx.end(), -1), idx.end());
    project();
  }
  if (idx.empty()) return;
  ARECT2 ext{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (int i : idx) {
    ext.left = std::min(ext.left, chars[i].left), ext.top = std::min(ext.top, chars[i].top);
    ext.right = std::max(ext.right, chars[i].right), ext.bottom = std::max(ext.bottom, chars[i].bottom);
  }
  box = ext;
  if (depth > m_para[6] || box.right - box.left < m_para[30]) {
    leaves.push_back(box);
    return;
  }
  // First wide enough gap inside the black extent.
  const int need = yAxis ? b * m_para[26] / 100 : b * m_para[27] / 100;
  const int start = (yAxis ? box.top : box.left) - from, end = (yAxis ? box.bottom : box.right) - from;
  int gapS = -1, gapE = -1;
  for (int k = start; k <= end;) {
    if (prof[k]) {
      ++k;
      continue;
    }
    int e = k;
    while (e + 1 <= end && !prof[e + 1]) ++e;
    const int len = e - k + 1;
    const bool narrowException =
        !yAxis && box.bottom - box.top + 1 < b * m_para[28] && len <= b * m_para[29];
    if (len >= std::max(need, 1) && !narrowException) {
      gapS = k + from, gapE = e + from;
      break;
    }
    k = e + 1;
  }
  if (gapS < 0) {
    if (retry)
      CutNode(chars, std::move(idx), box, !yAxis, depth, false, leaves);
    else
      leaves.push_back(box);
    return;
  }
  std::vector<int> first, second;
  for (int i : idx) (hi(chars[i]) < gapS ? first : second).push_back(i);
  ARECT2 a = box, c = box;
  if (yAxis)
    a.bottom = gapS - 1, c.top = gapE + 1;
  else
    a.right = gapS - 1, c.left = gapE + 1;
  CutNode(chars, std::move(first), a, !yAxis, depth + 1, false, leaves);
  CutNode(chars, std::move(second), c, yAxis, depth, true, leaves);
}

void CABunsyoKiridasi::Cut(std::vector<tagSEGRECT>& chars, std::vector<ARECT2>& leaves) const {
  if (chars.empty()) return;
  std::vector<int> idx(chars.size());
  std::iota(idx.begin(), idx.end(), 0);
  ARECT2 box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (auto const& c : chars) {
    box.left = std::min(box.left, c.left), box.top = std::min(box.top, c.top);
    box.right = std::max(box.right, c.right), box.bottom = std::max(box.bottom, c.bottom);
  }
  CutNode(chars, std::move(idx), box, m_direction > 0, 0, true, leaves);
}

void CABunsyoKiridasi::Lines(CABitmap const& bmp, std::vector<tagSEGRECT> const& all, ARECT2 const& block,
                             std::vector<SEG_LINE>& lines) const {
  std::vector<tagSEGRECT const*> chars;
  for (auto const& c : all)
    if (c.key >= 0 && c.left >= block.left && c.right <= block.right && c.top >= block.top && c.bottom <= block.bottom)
      chars.push_back(&c);
  const int H = block.bottom - block.top + 1, b = m_charSize;
  std::vector<int32_t> prof(H, 0), cover(H, 0);
  std::vector<char> gone(chars.size(), 0);
  for (auto const* c : chars)
    for (int y = c->top; y <= c->bottom; ++y) prof[y - block.top] += c->rowProj[y - c->top], ++cover[y - block.top];
  const int minHeight = m_para[0] * 70 / 100;
  for (int k = 0; k < H && lines.size() < kMaxLines;) {
    if (!prof[k]) {
      ++k;
      continue;
    }
    int e = k;
    while (e + 1 < H && prof[e + 1]) ++e;
    if (e - k + 1 < minHeight) {
      k = e + 1;
      continue;
    }
    if (e - k >= 2 * b && b > 0) {
      // Perhaps two touching lines: split at the valley of covering boxes.
      const int from = k + b * 7 / 10, to = e - b * 7 / 10;
      int best = -1;
      for (int y = from; y <= to; ++y)
        if (best < 0 || cover[y] < cover[best]) best = y;
      if (best >= 0 && cover[best] <= m_para[76]) {
        int cut = best;
        for (int y = best; y <= to && cover[y] == cover[best]; ++y)
          if (prof[y] < prof[cut]) cut = y;
        const int row = cut + block.top;
        for (size_t i = 0; i < chars.size(); ++i) {
          auto const* c = chars[i];
          if (gone[i] || row < c->top || row > c->bottom || !c->rowProj[row - c->top]) continue;
          gone[i] = 1;
          for (int y = c->top; y <= c->bottom; ++y) prof[y - block.top] -= c->rowProj[y - c->top], --cover[y - block.top];
        }
        continue;  // scan this run again
      }
    }
    ARECT2 ext{INT_MAX, k + block.top, INT_MIN, e + block.top};
    int size = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
      auto const* c = chars[i];
      if (gone[i] || c->bottom < ext.top || c->top > ext.bottom) continue;
      ext.left = std::min(ext.left, c->left), ext.right = std::max(ext.right, c->right);
      size = std::max(size, c->bottom - c->top + 1);
    }
    if (ext.left <= ext.right) {
      if (m_direction > 0) {
        ARECT2 band{std::max(block.left, ext.left - size * 3 / 2), ext.top, std::min(block.right, ext.right + size * 3 / 2),
                    ext.bottom};
        ARECT2 black;
        if (bmp.gaisetu(black, band)) ext = black;
      }
      lines.push_back(SEG_LINE{static_cast<int16_t>(ext.left), static_cast<int16_t>(ext.top),
                               static_cast<int16_t>(ext.right), static_cast<int16_t>(ext.bottom),
                               static_cast<int16_t>(size), 0, 0});
    }
    k = e + 1;
  }
}

void CABunsyoKiridasi::ReadingOrder() {
  struct Item {
    ARECT2 box;
    bool table;
    int index;
  };
  std::vector<Item> items;
  for (size_t i = 0; i < m_blocks.size(); ++i) {
    auto const& b = m_blocks[i];
    items.push_back({{b.left, b.top, b.right, b.bottom}, false, static_cast<int>(i)});
  }
  for (size_t i = 0; i < m_tables.size(); ++i) {
    auto const& t = m_tables[i];
    items.push_back({{t.left, t.top, t.right, t.bottom}, true, static_cast<int>(i)});
  }
  // Tables go in place among the blocks; blocks keep their cut order.
  const bool horizontal = m_direction > 0;
  for (size_t i = 1; i < items.size(); ++i)
    for (size_t j = i; j > 0; --j) {
      Item const &a = items[j - 1], &c = items[j];
      if (a.table == c.table) break;
      const bool after = horizontal ? std::tie(a.box.top, a.box.left) > std::tie(c.box.top, c.box.left)
                                    : (a.box.right < c.box.right || (a.box.right == c.box.right && a.box.top > c.box.top));
      if (!after) break;
      std::swap(items[j - 1], items[j]);
    }

  const bool join = m_direction != 0;
  // Recursive peeling of [b, e) along an axis (true: y).
  auto peel = [&](auto&& self, size_t b, size_t e, bool yAxis, bool second) -> void {
    while (e - b > 1) {
      auto lo = [yAxis](Item const& it) { return yAxis ? it.box.top : it.box.left; };
      auto hi = [yAxis](Item const& it) { return yAxis ? it.box.bottom : it.box.right; };
      size_t seed = b;
      for (size_t i = b + 1; i < e; ++i)
        if (lo(items[i]) < lo(items[seed])) seed = i;
      std::vector<char> in(e - b, 0);
      in[seed - b] = 1;
      for (bool grew = join; grew;) {
        grew = false;
        for (size_t i = b; i < e; ++i) {
          if (in[i - b]) continue;
          for (size_t j = b; j < e; ++j)
            if (in[j - b] && Overlap(lo(items[i]), hi(items[i]), lo(items[j]), hi(items[j]))) {
              in[i - b] = 1, grew = true;
              break;
            }
        }
      }
      std::vector<Item> group, rest;
      for (size_t i = b; i < e; ++i) (in[i - b] ? group : rest).push_back(items[i]);
      std::copy(group.begin(), group.end(), items.begin() + b);
      std::copy(rest.begin(), rest.end(), items.begin() + b + group.size());
      if (group.size() == e - b) {
        if (!second) self(self, b, e, !yAxis, true);
        return;
      }
      self(self, b, b + group.size(), !yAxis, false);
      b += group.size();
      second = false;
    }
  };
  peel(peel, 0, items.size(), true, false);
  for (size_t k = 0; k < items.size(); ++k) {
    if (items[k].table)
      m_tables[items[k].index].order = static_cast<int16_t>(k);
    else
      m_blocks[items[k].index].order = static_cast<int16_t>(k);
  }
}

int CABunsyoKiridasi::Run(CABitmap const& bmp, ARECT2 const& area, LBL_DATA const* given, int direction, int mode) {
  Free();
  m_direction = direction;
  m_vertical = direction < 0;
  m_width = bmp.m_width;
  if (!adjust_para()) return -2;

  std::vector<tagSEGRECT> recs;
  {
    layout::CLbl_data own;
    if (!given) {
      int rc = lbl_main2(bmp, own.m_data, area);
      if (rc < 0) return rc;
    }
    Labels(bmp, area, given ? *given : own.m_data, recs);
  }
  Group(recs);
  m_charSize = EstimateSize(recs);
  Classify(recs);
  Tables(bmp, recs);
  std::vector<tagSEGRECT> chars;
  Characters(bmp, recs, chars);
  recs = {};

  std::vector<ARECT2> blocks;
  if (mode == 1) {
    std::vector<ARECT2> leaves;
    Cut(chars, leaves);
    for (auto const& l : leaves) {
      const int w = l.right - l.left + 1, h = l.bottom - l.top + 1;
      if (w <= m_para[24] || h <= m_para[25] || (m_direction > 0 && h / w > m_para[75])) continue;
      blocks.push_back(l);
    }
  } else {
    blocks.push_back(m_direction <= 0 ? TurnIn(area, m_width) : area);
  }

  for (auto const& bl : blocks) {
    std::vector<SEG_LINE> lines;
    Lines(bmp, chars, bl, lines);
    m_lines.push_back(std::move(lines));
    m_blocks.push_back(SEG_BLOCK{static_cast<int16_t>(bl.left), static_cast<int16_t>(bl.top),
                                 static_cast<int16_t>(bl.right), static_cast<int16_t>(bl.bottom), nullptr, 0, 0, 0, 0});
  }
  if (m_direction <= 0)
    for (auto& t : m_tables) {
      ARECT2 r = TurnIn(ARECT2{t.left, t.top, t.right, t.bottom}, m_width);
      t.left = static_cast<uint16_t>(r.left), t.top = static_cast<uint16_t>(r.top);
      t.right = static_cast<uint16_t>(r.right), t.bottom = static_cast<uint16_t>(r.bottom);
    }
  ReadingOrder();
  if (m_direction < 0) {
    auto back = [this](auto& rec) {
      ARECT2 r = TurnOut(ARECT2{rec.left, rec.top, rec.right, rec.bottom}, m_width);
      rec.left = static_cast<decltype(rec.left)>(r.left), rec.top = static_cast<decltype(rec.top)>(r.top);
      rec.right = static_cast<decltype(rec.right)>(r.right), rec.bottom = static_cast<decltype(rec.bottom)>(r.bottom);
    };
    for (auto& b : m_blocks) back(b);
    for (auto& t : m_tables) back(t);
    for (auto& ls : m_lines)
      for (auto& l : ls) back(l);
  }
  for (size_t i = 0; i < m_blocks.size(); ++i) {
    m_blocks[i].lines = m_lines[i].data();
    m_blocks[i].nline = static_cast<uint16_t>(m_lines[i].size());
  }
  return 0;
}
