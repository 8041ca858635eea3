// Ruled-table analysis through the staged libimgforge, on drawn grids whose
// cells are known.
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "CABitmap.h"
#include "layout_lib.h"

using layout_pages::CellInner;
using layout_pages::DrawGrid;
using layout_pages::Page;
using layout_pages::Rect;

namespace {

struct Grid {
  std::vector<int> xs, ys;
  int thick;
};

// A grid of `cols` x `rows` cells of about 0.8 x 0.3 inch, rules 1/100 inch
// thick (at least 2 pixels), its top-left at 0.5 inch.
Grid MakeGrid(int dpi, int cols, int rows) {
  Grid g;
  g.thick = std::max(2, dpi / 100);
  for (int i = 0; i <= cols; ++i) g.xs.push_back(dpi / 2 + i * dpi * 8 / 10 + (i % 2) * dpi / 20);
  for (int j = 0; j <= rows; ++j) g.ys.push_back(dpi / 2 + j * dpi * 3 / 10 + (j % 3) * dpi / 50);
  return g;
}

ARECT Whole(Page const& p) { return ARECT{0, 0, p.width, p.height}; }

// A 5 x 3 inch page with a grid drawn on it.
struct GridPage {
  Page page;
  Grid g;
  GridPage(int dpi, int cols, int rows) : page(Page::Inches100(500, 300, dpi)), g(MakeGrid(dpi, cols, rows)) {
    DrawGrid(page, g.xs, g.ys, g.thick);
  }
  int Analyse(ATABLE& t, TABLE_C* para = nullptr) {
    ABITMAP a = AsBitmap(page);
    ARECT r = Whole(page);
    return Lib().table_main(&a, &r, page.dpi, &t, para);
  }
};

void ExpectCell(ACELL const& c, Rect r, int row, int col, int xspan, int yspan) {
  EXPECT_EQ(c.row, row);
  EXPECT_EQ(c.col, col);
  EXPECT_EQ(c.xspan, xspan) << "cell " << row << "," << col;
  EXPECT_EQ(c.yspan, yspan) << "cell " << row << "," << col;
  EXPECT_EQ(c.x1, r.left) << "cell " << row << "," << col;
  EXPECT_EQ(c.y1, r.top) << "cell " << row << "," << col;
  EXPECT_EQ(c.x2, r.right) << "cell " << row << "," << col;
  EXPECT_EQ(c.y2, r.bottom) << "cell " << row << "," << col;
}

class TableAtDpi : public LayoutTest, public ::testing::WithParamInterface<int> {};

TEST_P(TableAtDpi, GridGivesEveryCellOnePixelInsideTheRules) {
  const int dpi = GetParam();
  GridPage gp(dpi, 4, 5);
  Page& p = gp.page;
  Grid const& g = gp.g;
  layout_pages::DrawTextRow(p, g.xs[1] + g.thick + 3, g.ys[1] + g.thick + 3, 3, 7, layout_pages::GlyphHeight(dpi) / 2);
  TABLE_C para;
  ASSERT_EQ(L.table_set_para(&para, nullptr), 0);
  ATABLE t{};
  ASSERT_EQ(gp.Analyse(t, &para), 0);
  ASSERT_EQ(t.nrow, 5);
  ASSERT_EQ(t.ncol, 4);
  for (int j = 0; j < 5; ++j) {
    ASSERT_EQ(t.rows[j].ncell, 4);
    for (int i = 0; i < 4; ++i) ExpectCell(t.rows[j].cells[i], CellInner(g.xs, g.ys, g.thick, i, j), j, i, 1, 1);
  }
  // One piece per rule, each from its first to its last crossing.
  ASSERT_EQ(t.nhline, 6);
  ASSERT_EQ(t.nvline, 5);
  EXPECT_EQ(t.hline[0].x1, g.xs[0]);
  EXPECT_EQ(t.hline[0].x2, g.xs[4] + g.thick - 1);
  EXPECT_EQ(t.vline[4].y2, g.ys[5] + g.thick - 1);
  EXPECT_EQ(L.table_free(&t), 0);
  const ATABLE zero{};
  EXPECT_EQ(std::memcmp(&t, &zero, sizeof t), 0);
}

INSTANTIATE_TEST_SUITE_P(Dpi, TableAtDpi, ::testing::Values(200, 300, 400, 600));

TEST_F(LayoutTest, MergedCellsGetTheirSpans) {
  const int dpi = 300;
  GridPage gp(dpi, 4, 4);
  Page& p = gp.page;
  Grid const& g = gp.g;
  // Cell (row 0, columns 1-2): the rule between them is gone in row 0.
  p.Fill({g.xs[2], g.ys[0] + g.thick, g.xs[2] + g.thick - 1, g.ys[1] - 1}, false);
  // Cell (rows 1-3, column 3): the rules between them are gone there.
  for (int j : {2, 3}) p.Fill({g.xs[3] + g.thick, g.ys[j], g.xs[4] - 1, g.ys[j] + g.thick - 1}, false);
  ATABLE t{};
  ASSERT_EQ(gp.Analyse(t), 0);
  ASSERT_EQ(t.nrow, 4);
  ASSERT_EQ(t.ncol, 4);
  ASSERT_EQ(t.rows[0].ncell, 3);
  ExpectCell(t.rows[0].cells[1], CellInner(g.xs, g.ys, g.thick, 1, 0, 2, 1), 0, 1, 2, 1);
  ASSERT_EQ(t.rows[1].ncell, 4);
  ExpectCell(t.rows[1].cells[3], CellInner(g.xs, g.ys, g.thick, 3, 1, 1, 3), 1, 3, 1, 3);
  EXPECT_EQ(t.rows[2].ncell, 3);
  EXPECT_EQ(t.rows[3].ncell, 3);

  // The dense grid has every position; merged cells keep their rectangle at
  // their top-left entry only.
  ATABLE dense{};
  ASSERT_EQ(L.table_convert2(&dense, &t), 0);
  ASSERT_EQ(dense.nrow, 4);
  EXPECT_EQ(dense.hline, nullptr);
  for (int j = 0; j < 4; ++j) {
    ASSERT_EQ(dense.rows[j].ncell, 4);
    for (int i = 0; i < 4; ++i) {
      ACELL const& c = dense.rows[j].cells[i];
      EXPECT_EQ(c.row, j);
      EXPECT_EQ(c.col, i);
      EXPECT_EQ(c.xspan, 1);
      EXPECT_EQ(c.yspan, 1);
      const bool covered = (j == 0 && i == 2) || (i == 3 && j > 1);
      if (covered) {
        EXPECT_EQ(c.x2, 0) << j << "," << i;
      }
    }
  }
  EXPECT_EQ(dense.rows[0].cells[1].x2, t.rows[0].cells[1].x2);
  EXPECT_EQ(dense.rows[1].cells[3].y2, t.rows[1].cells[3].y2);

  const int32_t pieces = t.nhline;
  ASSERT_EQ(L.table_convert(&t), 0);
  EXPECT_EQ(t.rows[2].ncell, 4);
  EXPECT_EQ(std::memcmp(t.rows[2].cells, dense.rows[2].cells, 4 * sizeof(ACELL)), 0);
  EXPECT_EQ(t.nhline, pieces);  // the pieces stay
  L.table_free(&dense);
  L.table_free(&t);
}

TEST_F(LayoutTest, MissingSideRulesAreClosed) {
  const int dpi = 300;
  GridPage gp(dpi, 3, 3);
  Page& p = gp.page;
  Grid const& g = gp.g;
  // No left and right border.
  p.Fill({g.xs[0], g.ys[0] + g.thick, g.xs[0] + g.thick - 1, g.ys[3] - 1}, false);
  p.Fill({g.xs[3], g.ys[0] + g.thick, g.xs[3] + g.thick - 1, g.ys[3] - 1}, false);
  ATABLE t{};
  ASSERT_EQ(gp.Analyse(t), 0);
  ASSERT_EQ(t.nrow, 3);
  ASSERT_EQ(t.ncol, 3);
  for (int j = 0; j < 3; ++j) {
    ASSERT_EQ(t.rows[j].ncell, 3);
    // Closed at the ends of the horizontal rules.
    EXPECT_EQ(t.rows[j].cells[0].x1, g.xs[0] + 1);
    EXPECT_EQ(t.rows[j].cells[2].x2, g.xs[3] + g.thick - 2);
    EXPECT_EQ(t.rows[j].cells[1].x1, g.xs[1] + g.thick);
  }
  L.table_free(&t);
}

TEST_F(LayoutTest, RuleBrokenAtACrossingIsBridgedAndStubsLeaveTheCellsAlone) {
  const int dpi = 300;
  GridPage gp(dpi, 3, 3);
  Page& p = gp.page;
  Grid const& g = gp.g;
  // The rule of column 1 breaks around its crossing with row rule 2: a gap
  // longer than the joining tolerance.
  p.Fill({g.xs[1], g.ys[2] - 12, g.xs[1] + g.thick - 1, g.ys[2] + g.thick + 12}, false);
  // Stray ends: a rule hanging from row rule 1 into a cell, and one reaching
  // from column rule 2 into the next cell.
  p.Fill({g.xs[0] + 40, g.ys[1], g.xs[0] + 40 + g.thick - 1, g.ys[1] + 60});
  p.Fill({g.xs[2], g.ys[2] + 30, g.xs[2] + 100, g.ys[2] + 30 + g.thick - 1});
  ATABLE t{};
  ASSERT_EQ(gp.Analyse(t), 0);
  ASSERT_EQ(t.nrow, 3);
  ASSERT_EQ(t.ncol, 3);
  for (int j = 0; j < 3; ++j) {
    ASSERT_EQ(t.rows[j].ncell, 3) << "row " << j;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(t.rows[j].cells[i].xspan, 1);
      EXPECT_EQ(t.rows[j].cells[i].yspan, 1);
    }
  }
  L.table_free(&t);
}

TEST_F(LayoutTest, TablesRefusedOrMerged) {
  const int dpi = 300;
  Page p = Page::Inches100(500, 300, dpi);
  ABITMAP a = AsBitmap(p);
  ARECT r = Whole(p);
  ATABLE t{};
  // Only horizontal rules.
  for (int j = 0; j < 4; ++j) p.Fill({100, 100 + j * 90, 1200, 103 + j * 90});
  EXPECT_EQ(L.table_main(&a, &r, dpi, &t, nullptr), -2);
  EXPECT_EQ(t.rows, nullptr);

  // Two rules closer than the row tolerance make one grid row.
  GridPage gp(dpi, 2, 2);
  Grid const& g = gp.g;
  gp.page.Fill({g.xs[0], g.ys[1] + 15, g.xs[2] + g.thick - 1, g.ys[1] + 15 + g.thick - 1});
  ASSERT_EQ(gp.Analyse(t), 0);
  EXPECT_EQ(t.nrow, 2);
  EXPECT_EQ(t.ncol, 2);
  L.table_free(&t);
}

TEST_F(LayoutTest, ParametersAreScaledForTheCallAndWorkingWordsCopiedBack) {
  TABLE_C para;
  std::memset(&para, 0x5A, sizeof para);
  ASSERT_EQ(L.table_set_para(&para, "/ignored"), 0);
  const int32_t defaults[9] = {130, 72, 8, 8, 35, 35, 40, 40, 30};
  for (int i = 0; i < 32; ++i) EXPECT_EQ(para.para[i], i < 9 ? defaults[i] : 0) << i;
  for (int i = 9; i < 32; ++i) para.para[i] = 1000 + i;

  GridPage gp(200, 2, 2);
  ATABLE t{};
  ASSERT_EQ(gp.Analyse(t, &para), 0);
  L.table_free(&t);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(para.para[i], defaults[i]);  // not scaled in place
  for (int i = 9; i < 32; ++i) EXPECT_EQ(para.para[i], 1000 + i);

  // The line-list entry does nothing.
  ATABLE untouched;
  std::memset(&untouched, 0x33, sizeof untouched);
  ATABLE copy = untouched;
  EXPECT_EQ(L.table_main2(nullptr, 0, nullptr, 0, 0, &untouched, &para), 0);
  EXPECT_EQ(std::memcmp(&copy, &untouched, sizeof copy), 0);
}

TEST_F(LayoutTest, RunListsRoundTripAtEveryBitPosition) {
  // Every single run start and end over three bytes, inside a window that
  // starts and ends on every bit position too.
  for (int s = 0; s < 24; ++s)
    for (int e = s + 1; e <= 24; ++e) {
      uint8_t row[4] = {};
      int runs[] = {s, e, 30, -1};
      ASSERT_EQ(L.run2bit(row, runs), 0);
      for (int x = 0; x < 32; ++x) ASSERT_EQ((row[x >> 3] >> (7 - (x & 7))) & 1, x >= s && x < e) << s << "," << e;
      for (int x1 : {0, s, std::max(0, s - 3)}) {
        const int x2 = std::min(31, e + 2);
        std::vector<int> list(x2 - x1 + 6, 99);
        EXPECT_EQ(L.bit2run(row, x1, x2, list.data()), 1);
        EXPECT_EQ(list[0], x1);
        EXPECT_EQ(list[1], s);
        EXPECT_EQ(list[2], e);
        EXPECT_EQ(list[3], x2 + 1);
        EXPECT_EQ(list[4], -1);
        uint8_t back[4] = {};
        ASSERT_EQ(L.run2bit(back, list.data() + 1), 0);
        EXPECT_EQ(std::memcmp(back, row, 4), 0);
      }
    }
  // Many runs, and a row that is black to its last pixel.
  std::mt19937 rng(5);
  for (int k = 0; k < 200; ++k) {
    uint8_t row[9];
    for (auto& b : row) b = static_cast<uint8_t>(rng());
    const int x1 = static_cast<int>(rng() % 20), x2 = 40 + static_cast<int>(rng() % 32);
    std::vector<int> list(x2 - x1 + 6);
    L.bit2run(row, x1, x2, list.data());
    uint8_t back[9] = {};
    L.run2bit(back, list.data() + 1);
    for (int x = 0; x < 72; ++x)
      ASSERT_EQ((back[x >> 3] >> (7 - (x & 7))) & 1, x >= x1 && x <= x2 ? (row[x >> 3] >> (7 - (x & 7))) & 1 : 0);
  }
}

TEST_F(LayoutTest, QuarterTurnsEqualTheBitmapLibrary) {
  CABitmap src;
  src.alloc(37, 21, 1, 0);
  std::mt19937 rng(9);
  for (uint64_t i = 0; i < src.m_size; ++i) src.m_data[i] = static_cast<uint8_t>(rng());
  ABITMAP in;
  src.getABITMAP(in);
  using Turn = uint8_t* (*)(ABITMAP*, const ABITMAP*);
  const std::pair<Turn, int (CABitmap::*)(CABitmap const&)> cases[] = {
      {L.abmp_rotate90, &CABitmap::rotate90}, {L.abmp_rotate180, &CABitmap::rotate180}, {L.abmp_rotate270, &CABitmap::rotate270}};
  for (auto const& [turn, ref] : cases) {
    CABitmap want;
    ASSERT_EQ((want.*ref)(src), 0);
    ABITMAP out{};
    uint8_t* buf = turn(&out, &in);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(out.data, buf);
    EXPECT_EQ(out.width, want.m_width);
    EXPECT_EQ(out.height, want.m_height);
    ASSERT_EQ(out.bpl, want.m_bpl);
    EXPECT_EQ(std::memcmp(buf, want.m_data, want.m_size), 0);
    free(buf);
  }
  ABITMAP grey = in;
  grey.bits = 8;
  ABITMAP out{};
  EXPECT_EQ(L.abmp_rotate90(&out, &grey), nullptr);
}

// The splitter's sort: stable, in place, for any element size.
template <size_t N>
struct Rec {
  uint8_t key;
  uint8_t rest[N - 1];
};

template <size_t N>
void SortLikeStableSort(LayoutLib& L, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Rec<N>> v(200);
  for (size_t i = 0; i < v.size(); ++i) {
    v[i].key = static_cast<uint8_t>(rng() % 16);  // many equal keys
    for (size_t b = 0; b + 1 < N; ++b) v[i].rest[b] = static_cast<uint8_t>(i >> (8 * (b % 2)));
  }
  auto want = v;
  std::stable_sort(want.begin(), want.end(), [](Rec<N> const& a, Rec<N> const& b) { return a.key < b.key; });
  L.insertion_sort(v.data(), v.size(), sizeof(Rec<N>), [](const void* a, const void* b) {
    return int{static_cast<const Rec<N>*>(a)->key} - int{static_cast<const Rec<N>*>(b)->key};
  });
  EXPECT_EQ(std::memcmp(v.data(), want.data(), v.size() * sizeof(Rec<N>)), 0) << "element size " << N;
}

TEST_F(LayoutTest, InsertionSortEqualsStableSort) {
  SortLikeStableSort<2>(L, 1);
  SortLikeStableSort<3>(L, 2);
  SortLikeStableSort<12>(L, 3);
  SortLikeStableSort<24>(L, 4);
  int one = 5;
  L.insertion_sort(&one, 1, sizeof one, [](const void*, const void*) { return 1; });
  L.insertion_sort(nullptr, 0, 4, nullptr);
  EXPECT_EQ(one, 5);
  // The parameter entry keeps no file and always succeeds.
  EXPECT_EQ(L.katuji_set_para("/nowhere/katuji.ini"), 0);
  EXPECT_EQ(L.katuji_set_para(nullptr), 0);
}

}  // namespace
