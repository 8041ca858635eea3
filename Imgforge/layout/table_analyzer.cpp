// Ruled-table analysis: long black runs -> segments -> ruled lines -> grid
// rows and columns -> a grid of crossings, repaired, whose closed rectangles
// become cells.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <numeric>
#include <vector>

#include "layout_internal.h"

namespace {

using layout::NextPixel;
using layout::Row;

constexpr int32_t kTableDefaults[9] = {130, 72, 8, 8, 35, 35, 40, 40, 30};

// One black run: pos is the row (horizontal) or column (vertical), s..e the
// run along it, inclusive.
struct Seg {
  int pos, s, e;
};

// A ruled line: the box of its segments, its grid row or column, and its
// kind (3: virtual).
struct Keisen {
  int x1, y1, x2, y2;
  int group;
  int kind;
};

struct Node {
  int x1, y1, x2, y2;
  int link[4];  // up, down, left, right: node index or -1
  int flag;
  int cellflag;
  int h[2], v[2];
  int row, col;
  int cx1, cy1, cx2, cy2;
  int xspan, yspan;
};
enum { UP, DOWN, LEFT, RIGHT };
constexpr int kOpposite[4] = {DOWN, UP, RIGHT, LEFT};

struct UnionFind {
  std::vector<int> parent;
  explicit UnionFind(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
  int Find(int i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  }
  // The smaller label wins.
  void Join(int a, int b) {
    a = Find(a);
    b = Find(b);
    if (a < b)
      parent[b] = a;
    else if (b < a)
      parent[a] = b;
  }
};

// Black runs of at least minLen along the rows of r. A run of 15 pixels or
// more holds a whole black byte, so only such bytes are looked for.
std::vector<Seg> RowSegments(CABitmap const& bmp, ARECT2 const& r, int minLen) {
  std::vector<Seg> segs;
  const int firstFull = (r.left + 7) >> 3, lastFull = ((r.right + 1) >> 3) - 1;
  for (int y = r.top; y <= r.bottom; ++y) {
    const uint8_t* row = Row(bmp, y);
    if (minLen < 15) {
      for (int x = r.left;;) {
        int b = NextPixel(row, x, r.right, true);
        if (b > r.right) break;
        int w = NextPixel(row, b, r.right, false);
        if (w - b >= minLen) segs.push_back({y, b, w - 1});
        x = w;
      }
      continue;
    }
    for (int k = firstFull; k <= lastFull; ++k) {
      if (row[k] != 0xFF) continue;
      int b = k * 8;
      while (b > r.left && layout::Black(bmp, b - 1, y)) --b;
      const int w = NextPixel(row, k * 8, r.right, false);
      if (w - b >= minLen) segs.push_back({y, b, w - 1});
      k = w >> 3;  // the byte that ends the run holds no whole black byte
    }
  }
  return segs;
}

// Black runs of at least minLen down the columns of r, ordered by column.
// Rows are read a byte at a time; bytes with no black pixel and no open run
// are skipped.
std::vector<Seg> ColumnSegments(CABitmap const& bmp, ARECT2 const& r, int minLen) {
  const int lb = r.left >> 3, rb = r.right >> 3, nb = rb - lb + 1;
  const uint8_t lmask = static_cast<uint8_t>(0xFF >> (r.left & 7));
  const uint8_t rmask = static_cast<uint8_t>(0xFF << (7 - (r.right & 7)));
  std::vector<uint8_t> open(nb, 0);
  std::vector<int> start(static_cast<size_t>(nb) * 8, 0);
  std::vector<std::vector<Seg>> perColumn(static_cast<size_t>(nb) * 8);
  for (int y = r.top; y <= r.bottom + 1; ++y) {
    const uint8_t* row = y <= r.bottom ? Row(bmp, y) : nullptr;
    for (int b = 0; b < nb; ++b) {
      unsigned v = 0;
      if (row) {
        v = row[lb + b];
        if (b == 0) v &= lmask;
        if (b == nb - 1) v &= rmask;
      }
      unsigned changed = v ^ open[b];
      if (!changed) continue;
      open[b] = static_cast<uint8_t>(v);
      while (changed) {
        int bit = __builtin_clz(changed << 24);
        changed &= ~(0x80u >> bit);
        size_t c = static_cast<size_t>(b) * 8 + bit;
        if (v & (0x80u >> bit)) {
          start[c] = y;
        } else if (y - start[c] >= minLen) {
          perColumn[c].push_back({(lb + b) * 8 + bit, start[c], y - 1});
        }
      }
    }
  }
  std::vector<Seg> segs;
  for (auto& col : perColumn) segs.insert(segs.end(), col.begin(), col.end());
  return segs;
}

// Segments (ordered by pos) joined into lines: a segment joins an earlier one
// of the same or the previous pos whose range, widened by tol, overlaps its
// own. Labels are numbered in order of first appearance.
std::vector<Keisen> JoinSegments(std::vector<Seg> const& segs, int tol, bool horizontal) {
  UnionFind uf(segs.size());
  size_t prevBegin = 0, curBegin = 0;
  for (size_t i = 0; i < segs.size(); ++i) {
    if (i > 0 && segs[i].pos != segs[i - 1].pos) {
      prevBegin = segs[i - 1].pos + 1 == segs[i].pos ? curBegin : i;
      curBegin = i;
    }
    for (size_t j = prevBegin; j < i; ++j)
      if (segs[j].s - tol <= segs[i].e && segs[i].s <= segs[j].e + tol) uf.Join(static_cast<int>(i), static_cast<int>(j));
  }
  std::vector<int> number(segs.size(), -1);
  std::vector<Keisen> lines;
  for (size_t i = 0; i < segs.size(); ++i) {
    int root = uf.Find(static_cast<int>(i));
    if (number[root] < 0) {
      number[root] = static_cast<int>(lines.size());
      lines.push_back({INT_MAX, INT_MAX, INT_MIN, INT_MIN, 0, 0});
    }
    Keisen& k = lines[number[root]];
    int x1 = horizontal ? segs[i].s : segs[i].pos, x2 = horizontal ? segs[i].e : segs[i].pos;
    int y1 = horizontal ? segs[i].pos : segs[i].s, y2 = horizontal ? segs[i].pos : segs[i].e;
    k.x1 = std::min(k.x1, x1);
    k.y1 = std::min(k.y1, y1);
    k.x2 = std::max(k.x2, x2);
    k.y2 = std::max(k.y2, y2);
  }
  return lines;
}

// Sorts the lines across their direction and groups those whose ranges
// overlap within tol; groups are numbered from 0. Returns the group count.
int GroupLines(std::vector<Keisen>& lines, int tol, bool horizontal) {
  auto lo = [horizontal](Keisen const& k) { return horizontal ? k.y1 : k.x1; };
  auto hi = [horizontal](Keisen const& k) { return horizontal ? k.y2 : k.x2; };
  std::stable_sort(lines.begin(), lines.end(), [&](Keisen const& a, Keisen const& b) { return lo(a) < lo(b); });
  UnionFind uf(lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    for (size_t j = i + 1; j < lines.size() && lo(lines[j]) <= hi(lines[i]) + tol; ++j)
      if (lo(lines[i]) <= hi(lines[j]) + tol) uf.Join(static_cast<int>(i), static_cast<int>(j));
  std::vector<int> number(lines.size(), -1);
  int groups = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    int root = uf.Find(static_cast<int>(i));
    if (number[root] < 0) number[root] = groups++;
    lines[i].group = number[root];
  }
  return groups;
}

class CATableAnalyzer {
 public:
  int Run(CABitmap const& bmp, ARECT2 const& r, int32_t const* w, ATABLE& out);

 private:
  int kasou_keisen(std::vector<Keisen>& h, std::vector<Keisen>& v, int rows, int cols, int d);
  Node& At(int r, int c) { return m_nodes[static_cast<size_t>(r) * m_cols + c]; }
  int Index(int r, int c) const { return r * m_cols + c; }
  void Link(int a, int dir, int b) {
    m_nodes[a].link[dir] = b;
    m_nodes[b].link[kOpposite[dir]] = a;
  }
  void Unlink(int a, int dir) {
    int b = m_nodes[a].link[dir];
    if (b < 0) return;
    m_nodes[a].link[dir] = -1;
    if (m_nodes[b].link[kOpposite[dir]] == a) m_nodes[b].link[kOpposite[dir]] = -1;
  }
  int Links(Node const& n) const { return (n.link[0] >= 0) + (n.link[1] >= 0) + (n.link[2] >= 0) + (n.link[3] >= 0); }
  void Crossings(std::vector<Keisen> const& h, std::vector<Keisen> const& v, int tx, int ty);
  void Mesh(std::vector<Keisen> const& h, std::vector<Keisen> const& v);
  void Bridge();
  void Frame();
  void Whiskers();
  void Complete();
  bool TraceCell(int s);
  int Structure(ATABLE& out);
  int Pieces(ATABLE& out);

  std::vector<Node> m_nodes;
  int m_rows = 0, m_cols = 0;
};

int CATableAnalyzer::kasou_keisen(std::vector<Keisen>& h, std::vector<Keisen>& v, int rows, int cols, int d) {
  int allL = INT_MAX, allR = INT_MIN, firstL = INT_MAX, firstR = INT_MIN, top = INT_MAX;
  int lastL = INT_MAX, lastR = INT_MIN, bottom = INT_MIN;
  for (auto const& k : h) {
    allL = std::min(allL, k.x1);
    allR = std::max(allR, k.x2);
    if (k.group == 0) {
      firstL = std::min(firstL, k.x1);
      firstR = std::max(firstR, k.x2);
      top = std::min(top, k.y1);
    }
    if (k.group == rows - 1) {
      lastL = std::min(lastL, k.x1);
      lastR = std::max(lastR, k.x2);
      bottom = std::max(bottom, k.y2);
    }
  }
  int c0L = INT_MAX, c0R = INT_MIN, cnL = INT_MAX, cnR = INT_MIN;
  for (auto const& k : v) {
    if (k.group == 0) c0L = std::min(c0L, k.x1), c0R = std::max(c0R, k.x2);
    if (k.group == cols - 1) cnL = std::min(cnL, k.x1), cnR = std::max(cnR, k.x2);
  }
  auto closed = [d](int s, int e, int cs, int ce) { return e - s >= d || (e >= cs - d && ce + d >= s); };
  const int leftS = allL, leftE = std::max(firstL, lastL);
  const int rightS = std::min(firstR, lastR), rightE = allR;
  int added = 0;
  std::vector<Keisen> more;
  if (!closed(leftS, leftE, c0L, c0R)) {
    more.push_back({leftS, top, leftE, bottom, 0, 3});
    added |= 1;
  }
  if (!closed(rightS, rightE, cnL, cnR)) {
    more.push_back({rightS, top, rightE, bottom, 0, 3});
    added |= 2;
  }
  v.insert(v.end(), more.begin(), more.end());
  return added;
}

void CATableAnalyzer::Crossings(std::vector<Keisen> const& h, std::vector<Keisen> const& v, int tx, int ty) {
  for (size_t i = 0; i < h.size(); ++i) {
    for (size_t j = 0; j < v.size(); ++j) {
      Keisen const &a = h[i], &b = v[j];
      if (!(b.x2 >= a.x1 - tx && a.x2 + tx >= b.x1 && b.y2 >= a.y1 - ty && a.y2 + ty >= b.y1)) continue;
      Node& n = At(a.group, b.group);
      if (!n.flag) {
        n.flag = 1;
        n.x1 = b.x1, n.x2 = b.x2, n.y1 = a.y1, n.y2 = a.y2;
      } else {
        n.x1 = std::min(n.x1, b.x1), n.x2 = std::max(n.x2, b.x2);
        n.y1 = std::min(n.y1, a.y1), n.y2 = std::max(n.y2, a.y2);
      }
      int hi = static_cast<int>(i), vi = static_cast<int>(j);
      if (n.h[0] < 0)
        n.h[0] = hi;
      else if (n.h[0] != hi && n.h[1] < 0)
        n.h[1] = hi;
      if (n.v[0] < 0)
        n.v[0] = vi;
      else if (n.v[0] != vi && n.v[1] < 0)
        n.v[1] = vi;
    }
  }
  auto shares = [](int const* a, int const* b) {
    for (int i = 0; i < 2; ++i)
      if (a[i] >= 0 && (a[i] == b[0] || a[i] == b[1])) return true;
    return false;
  };
  for (int r = 0; r < m_rows; ++r)
    for (int c = 0; c < m_cols; ++c) {
      Node& n = At(r, c);
      if (!n.flag) continue;
      for (int u = r - 1; u >= 0; --u) {
        Node& m = At(u, c);
        if (m.flag && m.link[DOWN] < 0 && shares(m.v, n.v)) {
          Link(Index(r, c), UP, Index(u, c));
          break;
        }
      }
      for (int l = c - 1; l >= 0; --l) {
        Node& m = At(r, l);
        if (m.flag && m.link[RIGHT] < 0 && shares(m.h, n.h)) {
          Link(Index(r, c), LEFT, Index(r, l));
          break;
        }
      }
    }
}

void CATableAnalyzer::Mesh(std::vector<Keisen> const& h, std::vector<Keisen> const& v) {
  std::vector<int64_t> y1(m_rows), y2(m_rows), ny(m_rows), x1(m_cols), x2(m_cols), nx(m_cols);
  for (auto const& k : h) y1[k.group] += k.y1, y2[k.group] += k.y2, ++ny[k.group];
  for (auto const& k : v) x1[k.group] += k.x1, x2[k.group] += k.x2, ++nx[k.group];
  for (int r = 0; r < m_rows; ++r)
    for (int c = 0; c < m_cols; ++c) {
      Node& n = At(r, c);
      if (n.flag) continue;
      n.y1 = static_cast<int>(y1[r] / ny[r]), n.y2 = static_cast<int>(y2[r] / ny[r]);
      n.x1 = static_cast<int>(x1[c] / nx[c]), n.x2 = static_cast<int>(x2[c] / nx[c]);
    }
}

// A link that passes over nodes without a crossing is laid through each of
// them, so that every link joins neighbours.
void CATableAnalyzer::Bridge() {
  for (int dir : {DOWN, RIGHT}) {
    const int back = kOpposite[dir];
    for (int i = 0; i < static_cast<int>(m_nodes.size()); ++i) {
      if (m_nodes[i].link[dir] < 0 || m_nodes[i].link[back] >= 0) continue;
      for (int cur = i; m_nodes[cur].link[dir] >= 0;) {
        const int target = m_nodes[cur].link[dir];
        const int next = dir == DOWN ? cur + m_cols : cur + 1;
        Node& mid = m_nodes[next];
        if (next != target && mid.link[dir] < 0 && mid.link[back] < 0) {
          Link(cur, dir, next);
          Link(next, dir, target);
        }
        cur = m_nodes[cur].link[dir];
      }
    }
  }
}

void CATableAnalyzer::Frame() {
  for (int c = 0; c + 1 < m_cols; ++c) {
    Link(Index(0, c), RIGHT, Index(0, c + 1));
    Link(Index(m_rows - 1, c), RIGHT, Index(m_rows - 1, c + 1));
  }
  for (int r = 0; r + 1 < m_rows; ++r) {
    Link(Index(r, 0), DOWN, Index(r + 1, 0));
    Link(Index(r, m_cols - 1), DOWN, Index(r + 1, m_cols - 1));
  }
  At(0, 0).flag = At(0, m_cols - 1).flag = At(m_rows - 1, 0).flag = At(m_rows - 1, m_cols - 1).flag = 1;
}

void CATableAnalyzer::Whiskers() {
  for (bool removed = true; removed;) {
    removed = false;
    for (int i = static_cast<int>(m_nodes.size()) - 1; i >= 0; --i) {
      for (int cur = i; Links(m_nodes[cur]) == 1;) {
        int dir = 0;
        while (m_nodes[cur].link[dir] < 0) ++dir;
        const int next = m_nodes[cur].link[dir];
        m_nodes[cur].flag = 0;
        Unlink(cur, dir);
        removed = true;
        cur = next;
      }
    }
  }
}

// Interior corners get their two lines carried on to the next crossing line.
void CATableAnalyzer::Complete() {
  for (bool changed = true; changed;) {
    changed = false;
    for (int r = 1; r + 1 < m_rows; ++r)
      for (int c = 1; c + 1 < m_cols; ++c) {
        Node& n = At(r, c);
        const bool up = n.link[UP] >= 0, down = n.link[DOWN] >= 0;
        const bool left = n.link[LEFT] >= 0, right = n.link[RIGHT] >= 0;
        if (up == down || left == right) continue;
        auto extend = [&](int dir, int step, int stopA, int stopB) {
          for (int cur = Index(r, c);;) {
            const int next = cur + step;
            Link(cur, dir, next);
            m_nodes[next].flag = 1;
            if (m_nodes[next].link[stopA] >= 0 || m_nodes[next].link[stopB] >= 0) break;
            cur = next;
          }
        };
        extend(up ? DOWN : UP, up ? m_cols : -m_cols, LEFT, RIGHT);
        extend(left ? RIGHT : LEFT, left ? 1 : -1, UP, DOWN);
        changed = true;
      }
  }
}

// The first closed path right, down, left and up from node s gives its cell.
bool CATableAnalyzer::TraceCell(int s) {
  const Node& start = m_nodes[s];
  for (int x = start.link[RIGHT]; x >= 0; x = m_nodes[x].link[RIGHT]) {
    for (int y = m_nodes[x].link[DOWN]; y >= 0; y = m_nodes[y].link[DOWN]) {
      int z = y;
      while (z >= 0 && m_nodes[z].col > start.col) z = m_nodes[z].link[LEFT];
      if (z < 0 || m_nodes[z].col != start.col) continue;
      int u = z;
      while (u >= 0 && m_nodes[u].row > start.row) u = m_nodes[u].link[UP];
      if (u != s) continue;
      const Node& far = m_nodes[y];
      const int r0 = start.row, c0 = start.col, r1 = far.row, c1 = m_nodes[x].col;
      Node& n = m_nodes[s];
      n.cellflag = 1;
      n.xspan = c1 - c0;
      n.yspan = r1 - r0;
      n.cx1 = n.x2 + 1, n.cy1 = n.y2 + 1, n.cx2 = far.x1 - 1, n.cy2 = far.y1 - 1;
      for (int c = c0 + 1; c < c1; ++c) Unlink(Index(r0, c), DOWN), Unlink(Index(r1, c), UP);
      for (int r = r0 + 1; r < r1; ++r) {
        Unlink(Index(r, c0), RIGHT), Unlink(Index(r, c1), LEFT);
        for (int c = c0 + 1; c < c1; ++c) {
          for (int d = 0; d < 4; ++d) Unlink(Index(r, c), d);
          At(r, c).cellflag = 0;
        }
      }
      return true;
    }
  }
  return false;
}

int CATableAnalyzer::Structure(ATABLE& out) {
  // Rows and columns where no cell starts go (the last ones never hold one).
  std::vector<int> rowAt(m_rows, -1), colAt(m_cols, -1);
  int ncell = 0;
  for (auto const& n : m_nodes)
    if (n.cellflag == 1) rowAt[n.row] = colAt[n.col] = 0, ++ncell;
  if (!ncell) return -2;
  int nrow = 0, ncol = 0;
  for (int& v : rowAt)
    if (v == 0) v = nrow++;
  for (int& v : colAt)
    if (v == 0) v = ncol++;
  if (nrow > 0xFFFF || ncol > 0xFFFF) return -2;
  auto* rows = static_cast<AROW*>(calloc(nrow, sizeof(AROW)));
  auto* cells = static_cast<ACELL*>(calloc(ncell, sizeof(ACELL)));
  if (!rows || !cells) {
    free(rows);
    free(cells);
    return -1;
  }
  auto removedIn = [](std::vector<int> const& at, int from, int to) {
    int n = 0;
    for (int i = from; i < to; ++i) n += at[i] < 0;
    return n;
  };
  int k = 0;
  for (int r = 0; r < m_rows; ++r) {
    if (rowAt[r] < 0) continue;
    AROW& row = rows[rowAt[r]];
    row.cells = cells + k;
    for (int c = 0; c < m_cols; ++c) {
      Node const& n = At(r, c);
      if (n.cellflag != 1) continue;
      ACELL& cell = cells[k++];
      cell.row = static_cast<int16_t>(rowAt[r]);
      cell.col = static_cast<int16_t>(colAt[c]);
      cell.xspan = static_cast<int16_t>(n.xspan - removedIn(colAt, c + 1, c + n.xspan));
      cell.yspan = static_cast<int16_t>(n.yspan - removedIn(rowAt, r + 1, r + n.yspan));
      cell.x1 = static_cast<int16_t>(n.cx1), cell.y1 = static_cast<int16_t>(n.cy1);
      cell.x2 = static_cast<int16_t>(n.cx2), cell.y2 = static_cast<int16_t>(n.cy2);
      ++row.ncell;
    }
  }
  out.rows = rows;
  out.nrow = static_cast<uint16_t>(nrow);
  out.ncol = static_cast<uint16_t>(ncol);
  return 0;
}

int CATableAnalyzer::Pieces(ATABLE& out) {
  std::vector<ALINE> hp, vp;
  auto piece = [](Node const& a, Node const& b) {
    return ALINE{static_cast<int16_t>(a.x1), static_cast<int16_t>(std::min(a.y1, b.y1)), static_cast<int16_t>(b.x2),
                 static_cast<int16_t>(std::max(a.y2, b.y2))};
  };
  auto vpiece = [](Node const& a, Node const& b) {
    return ALINE{static_cast<int16_t>(std::min(a.x1, b.x1)), static_cast<int16_t>(a.y1),
                 static_cast<int16_t>(std::max(a.x2, b.x2)), static_cast<int16_t>(b.y2)};
  };
  for (int r = 0; r < m_rows; ++r)
    for (int c = 0, s = -1; c < m_cols; ++c) {
      Node const& n = At(r, c);
      if (n.link[RIGHT] >= 0 && n.link[LEFT] < 0) s = c;
      if (s >= 0 && n.link[LEFT] >= 0 && n.link[RIGHT] < 0) hp.push_back(piece(At(r, s), n)), s = -1;
    }
  for (int c = 0; c < m_cols; ++c)
    for (int r = 0, s = -1; r < m_rows; ++r) {
      Node const& n = At(r, c);
      if (n.link[DOWN] >= 0 && n.link[UP] < 0) s = r;
      if (s >= 0 && n.link[UP] >= 0 && n.link[DOWN] < 0) vp.push_back(vpiece(At(s, c), n)), s = -1;
    }
  auto copy = [](std::vector<ALINE> const& v, ALINE** p, int32_t* n) {
    *p = static_cast<ALINE*>(malloc((v.empty() ? 1 : v.size()) * sizeof(ALINE)));
    if (!*p) return false;
    if (!v.empty()) memcpy(*p, v.data(), v.size() * sizeof(ALINE));
    *n = static_cast<int32_t>(v.size());
    return true;
  };
  if (!copy(hp, &out.hline, &out.nhline) || !copy(vp, &out.vline, &out.nvline)) return -1;
  return 0;
}

int CATableAnalyzer::Run(CABitmap const& bmp, ARECT2 const& r, int32_t const* w, ATABLE& out) {
  std::vector<Seg> hs = RowSegments(bmp, r, std::max(w[0], 1));
  std::vector<Seg> vs = ColumnSegments(bmp, r, std::max(w[1], 1));
  if (hs.empty() || vs.empty()) return -2;
  std::vector<Keisen> h = JoinSegments(hs, w[2], true);
  std::vector<Keisen> v = JoinSegments(vs, w[3], false);
  if (h.size() < 2 || v.size() < 2) return -2;
  hs = {};
  vs = {};
  m_rows = GroupLines(h, w[4], true);
  m_cols = GroupLines(v, w[5], false);
  if (m_rows < 2 || m_cols < 2) return -2;
  if (kasou_keisen(h, v, m_rows, m_cols, w[8])) m_cols = GroupLines(v, w[5], false);

  m_nodes.assign(static_cast<size_t>(m_rows) * m_cols, Node{});
  for (int i = 0; i < static_cast<int>(m_nodes.size()); ++i) {
    Node& n = m_nodes[i];
    std::fill(std::begin(n.link), std::end(n.link), -1);
    n.h[0] = n.h[1] = n.v[0] = n.v[1] = -1;
    n.row = i / m_cols;
    n.col = i % m_cols;
  }
  Crossings(h, v, w[6], w[7]);
  Mesh(h, v);
  Bridge();
  Frame();
  Whiskers();
  Complete();
  h = {};
  v = {};

  for (auto& n : m_nodes) n.cellflag = n.flag ? -1 : 0;
  for (int r = 0; r + 1 < m_rows; ++r)
    for (int c = 0; c + 1 < m_cols; ++c) {
      const int s = Index(r, c);
      if (m_nodes[s].cellflag != -1 || m_nodes[s].link[DOWN] < 0) continue;
      if (!TraceCell(s)) m_nodes[s].cellflag = 0;
    }
  int rc = Structure(out);
  if (rc == 0) rc = Pieces(out);
  return rc;
}

void FreeCells(ATABLE* t) {
  if (t->rows) free(t->rows[0].cells);
  free(t->rows);
  t->rows = nullptr;
  t->nrow = t->ncol = 0;
}

}  // namespace

bool layout::Wrap1Bit(ABITMAP const* image, CABitmap& out) {
  if (!image || image->bits != 1 || image->width <= 0 || image->height <= 0) return false;
  out.set(*image);
  return out.m_data && out.m_width == image->width && out.m_height == image->height;
}

int table_set_para(TABLE_C* para, const char*) {
  if (!para) return -2;
  memset(para, 0, sizeof *para);
  memcpy(para->para, kTableDefaults, sizeof kTableDefaults);
  return 0;
}

int table_main(const ABITMAP* image, const ARECT* area, int dpi, ATABLE* out, TABLE_C* para) {
  if (!out) return -2;
  memset(out, 0, sizeof *out);
  TABLE_C work;
  if (para)
    work = *para;
  else
    table_set_para(&work, nullptr);
  for (int i = 0; i < 9; ++i) work.para[i] = static_cast<int32_t>(static_cast<int64_t>(work.para[i]) * dpi / 400);
  int rc = -2;
  CABitmap bmp;
  if (area && dpi > 0 && layout::Wrap1Bit(image, bmp)) {
    ARECT2 r{area->x, area->y, layout::LastOf(area->x, area->w), layout::LastOf(area->y, area->h)};
    bmp.clip(r);
    // Results are 16-bit coordinates.
    if (r.left <= r.right && r.top <= r.bottom && r.right < 32767 && r.bottom < 32767) {
      try {
        CATableAnalyzer analyzer;
        rc = analyzer.Run(bmp, r, work.para, *out);
      } catch (std::bad_alloc const&) {
        rc = -1;
      }
      if (rc != 0) table_free(out);
    }
  }
  if (para) memcpy(para->para + 9, work.para + 9, 23 * sizeof(int32_t));
  return rc;
}

int table_free(ATABLE* table) {
  if (!table) return 0;
  FreeCells(table);
  free(table->hline);
  free(table->vline);
  memset(table, 0, sizeof *table);
  return 0;
}

int table_convert2(ATABLE* out, const ATABLE* in) {
  if (!out || !in) return -1;
  const int nrow = in->nrow, ncol = in->ncol;
  auto* rows = static_cast<AROW*>(calloc(nrow ? nrow : 1, sizeof(AROW)));
  auto* cells = static_cast<ACELL*>(calloc(static_cast<size_t>(nrow) * ncol + 1, sizeof(ACELL)));
  if (!rows || !cells) {
    free(rows);
    free(cells);
    return -1;
  }
  for (int r = 0; r < nrow; ++r) {
    rows[r].ncell = static_cast<uint16_t>(ncol);
    rows[r].cells = cells + static_cast<size_t>(r) * ncol;
    for (int c = 0; c < ncol; ++c) {
      ACELL& d = rows[r].cells[c];
      d.row = static_cast<int16_t>(r), d.col = static_cast<int16_t>(c), d.xspan = d.yspan = 1;
    }
  }
  for (int r = 0; in->rows && r < nrow; ++r)
    for (int k = 0; k < in->rows[r].ncell; ++k) {
      ACELL const& s = in->rows[r].cells[k];
      if (s.row < 0 || s.row >= nrow || s.col < 0 || s.col >= ncol) continue;
      ACELL& d = rows[s.row].cells[s.col];
      d.x1 = s.x1, d.y1 = s.y1, d.x2 = s.x2, d.y2 = s.y2;
    }
  memset(out, 0, sizeof *out);
  out->rows = rows;
  out->nrow = static_cast<uint16_t>(nrow);
  out->ncol = static_cast<uint16_t>(ncol);
  return 0;
}

int table_convert(ATABLE* table) {
  if (!table) return -1;
  ATABLE dense;
  if (table_convert2(&dense, table) != 0) return -1;
  FreeCells(table);
  table->rows = dense.rows;
  table->nrow = dense.nrow;
  table->ncol = dense.ncol;
  return 0;
}

int table_main2(void*, int, void*, int, int, ATABLE*, TABLE_C*) { return 0; }

int bit2run(const uint8_t* row, int x1, int x2, int* out) {
  if (!row || !out || x1 < 0) return -1;
  int k = 0, runs = 0;
  out[k++] = x1;
  for (int x = x1;;) {
    const int b = NextPixel(row, x, x2, true);
    if (b > x2) break;
    const int w = NextPixel(row, b, x2, false);
    out[k++] = b;
    out[k++] = w;
    ++runs;
    x = w;
  }
  out[k++] = x2 + 1;
  out[k++] = -1;
  out[k++] = -1;
  return runs;
}

int run2bit(uint8_t* row, const int* runs) {
  if (!row || !runs) return -1;
  for (; runs[1] >= 0; runs += 2) {
    const int s = runs[0], e = runs[1];  // e exclusive
    if (s < 0 || e <= s) continue;
    const int sb = s >> 3, eb = (e - 1) >> 3;
    const uint8_t lm = static_cast<uint8_t>(0xFF >> (s & 7)), rm = static_cast<uint8_t>(0xFF << (7 - ((e - 1) & 7)));
    if (sb == eb) {
      row[sb] |= lm & rm;
    } else {
      row[sb] |= lm;
      if (eb > sb + 1) memset(row + sb + 1, 0xFF, eb - sb - 1);
      row[eb] |= rm;
    }
  }
  return 0;
}

namespace {

uint8_t* Turn(ABITMAP* out, const ABITMAP* in, int (CABitmap::*turn)(CABitmap const&)) {
  CABitmap src, dst;
  if (!out || !layout::Wrap1Bit(in, src)) return nullptr;
  if ((dst.*turn)(src) != 0) return nullptr;
  dst.getABITMAP(*out);
  return static_cast<uint8_t*>(dst.Detach());
}

}  // namespace

uint8_t* abmp_rotate90(ABITMAP* out, const ABITMAP* in) { return Turn(out, in, &CABitmap::rotate90); }
uint8_t* abmp_rotate180(ABITMAP* out, const ABITMAP* in) { return Turn(out, in, &CABitmap::rotate180); }
uint8_t* abmp_rotate270(ABITMAP* out, const ABITMAP* in) { return Turn(out, in, &CABitmap::rotate270); }
