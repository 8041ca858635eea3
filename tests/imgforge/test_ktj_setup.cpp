// Page set-up through the staged libimgforge: blocks, lines, character boxes
// and ruled tables of drawn pages whose rows and letters are known.
#include <algorithm>
#include <random>
#include <vector>

#include "ktj_lib.h"

using text_pages::Page;
using text_pages::Rect;
using text_pages::Row;

namespace {

template <class R>
bool Same(R const& r, Rect const& want) {
  return r.x0 == want.left && r.y0 == want.top && r.x1 == want.right && r.y1 == want.bottom;
}

struct PageSetup {
  KtjPage page{};
  int rc;
  KtjLib& K;
  PageSetup(KtjLib& lib, KTJBITMAP& b, uint8_t table = 1, uint8_t segmode = 0, uint8_t linemode = 0) : K(lib) {
    page.mode = 1;
    page.table = table;
    page.segmode = segmode;
    page.linemode = linemode;
    page.x0 = 0, page.y0 = 0, page.x1 = b.width - 1, page.y1 = b.height - 1;
    rc = K.ktj_pginit(&page, &b);
  }
  ~PageSetup() { K.ktj_pgfree(&page); }
  std::vector<KtjLine const*> TextLines() const {
    std::vector<KtjLine const*> v;
    for (int b = 0; b < page.nblock; ++b)
      if (page.blocks[b].kind == 0)
        for (int i = 0; i < page.blocks[b].nline; ++i) v.push_back(static_cast<KtjLine const*>(page.blocks[b].lines) + i);
    return v;
  }
};

// The line drawn as row, with each letter one character.
void ExpectRow(std::vector<KtjLine const*> const& lines, Row const& row) {
  auto it = std::find_if(lines.begin(), lines.end(), [&](KtjLine const* l) { return Same(*l, row.box); });
  ASSERT_NE(it, lines.end()) << "row at " << row.box.left << "," << row.box.top;
  KtjLine const& l = **it;
  ASSERT_EQ(l.nchar, row.chars.size());
  for (size_t k = 0; k < row.chars.size(); ++k) EXPECT_TRUE(Same(l.chars[k], row.chars[k])) << k;
}

class SetupAtDpi : public KtjTest, public ::testing::WithParamInterface<int> {};

TEST_P(SetupAtDpi, BlocksLinesCharactersAndATable) {
  const int dpi = GetParam(), gh = layout_pages::GlyphHeight(dpi), u = gh / 7;
  Page p = Page::Inches100(850, 700, dpi);
  auto rows = text_pages::DrawText(p, dpi, dpi / 2, dpi * 6, dpi * 2, 11, gh, false);
  // A ruled table of 3 rows and 2 columns with a row of text in each cell.
  const int ty = dpi * 5 / 2, cw = dpi * 2, ch = 24 * u;
  std::vector<int> xs{dpi, dpi + cw, dpi + 2 * cw}, ys{ty, ty + ch, ty + 2 * ch, ty + 3 * ch};
  layout_pages::DrawGrid(p, xs, ys, std::max(2, dpi / 100));
  std::vector<Row> cellRows;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) cellRows.push_back(text_pages::DrawLowerRow(p, xs[c] + 4 * u, ys[r] + 7 * u, 8, 40 + r * 2 + c, gh));
  layout_pages::DrawSpecks(p, 30, 5);
  KTJBITMAP b = AsKtj(p);
  PageSetup s(K, b);
  ASSERT_EQ(s.rc, 0);
  EXPECT_EQ(s.page.state1, 1);
  EXPECT_EQ(s.page.state2, 1);
  EXPECT_EQ(s.page.state3, 1);
  auto lines = s.TextLines();
  EXPECT_EQ(lines.size(), rows.size());
  for (auto const& row : rows) ExpectRow(lines, row);
  int tables = 0;
  for (int i = 0; i < s.page.nblock; ++i) {
    KtjBlock const& blk = s.page.blocks[i];
    EXPECT_EQ(blk.done, 1);
    if (i) { EXPECT_LE(s.page.blocks[i - 1].id, blk.id); }
    if (blk.kind != 1) continue;
    ++tables;
    auto const* t = static_cast<KtjTable const*>(blk.lines);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->nrow, 3);
    ASSERT_EQ(t->ncol, 2);
    EXPECT_EQ(blk.capacity, 6);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 2; ++c) {
        KtjCell const& cell = t->cells[r * 2 + c];
        EXPECT_EQ(cell.own, 1);
        EXPECT_GE(cell.x0, xs[c]);
        EXPECT_LE(cell.x1, xs[c + 1]);
        std::vector<KtjLine const*> cl;
        for (int k = 0; k < cell.nline; ++k) cl.push_back(cell.lines + k);
        ASSERT_EQ(cl.size(), 1u) << r << "," << c;
        ExpectRow(cl, cellRows[r * 2 + c]);
      }
  }
  EXPECT_EQ(tables, 1);
  // Without the table bit the table is no block.
  PageSetup noTable(K, b, 0);
  ASSERT_EQ(noTable.rc, 0);
  for (int i = 0; i < noTable.page.nblock; ++i) EXPECT_EQ(noTable.page.blocks[i].kind, 0);
}

INSTANTIATE_TEST_SUITE_P(Dpi, SetupAtDpi, ::testing::Values(200, 300, 400, 600));

TEST_F(KtjTest, MergedCellsCoverTheirGridCells) {
  const int dpi = 300, gh = layout_pages::GlyphHeight(dpi), u = gh / 7, thick = 3;
  Page p = Page::Inches100(850, 500, dpi);
  std::vector<int> xs{300, 800, 1300, 1800}, ys{300, 450, 600, 750};
  layout_pages::DrawGrid(p, xs, ys, thick);
  // Row 0, columns 1 and 2: one cell.
  p.Fill({xs[2], ys[0] + thick, xs[2] + thick - 1, ys[1] - 1}, false);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (r || c < 2) text_pages::DrawLowerRow(p, xs[c] + 4 * u, ys[r] + 5 * u, 8, 60 + 3 * r + c, gh);
  KTJBITMAP b = AsKtj(p);
  PageSetup s(K, b);
  ASSERT_EQ(s.rc, 0);
  KtjTable const* t = nullptr;
  for (int i = 0; i < s.page.nblock; ++i)
    if (s.page.blocks[i].kind == 1) t = static_cast<KtjTable const*>(s.page.blocks[i].lines);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->nrow, 3);
  ASSERT_EQ(t->ncol, 3);
  for (int k = 0; k < 9; ++k) {
    KtjCell const& cell = t->cells[k];
    if (k == 2) {
      EXPECT_EQ(cell.own, 0);
      EXPECT_EQ(cell.row, 0);
      EXPECT_EQ(cell.col, 1);
    } else {
      EXPECT_EQ(cell.own, 1) << k;
      EXPECT_EQ(cell.nline, 1) << k;
    }
  }
}

TEST_F(KtjTest, SegmentationByteTakesTheAreaAsOneBlock) {
  Page p = Page::Inches100(850, 500, 300);
  const int gh = layout_pages::GlyphHeight(300);
  text_pages::DrawText(p, 300, 300, 1200, 700, 1, gh, false);
  text_pages::DrawText(p, 1700, 300, 2400, 700, 2, gh, false);
  KTJBITMAP b = AsKtj(p);
  PageSetup cut(K, b, 0, 0), whole(K, b, 0, 1);
  ASSERT_EQ(cut.rc, 0);
  ASSERT_EQ(whole.rc, 0);
  EXPECT_EQ(cut.page.nblock, 2);
  EXPECT_EQ(whole.page.nblock, 1);
}

TEST_F(KtjTest, EmptyPagesAndNarrowRegions) {
  Page p = Page::Inches100(300, 300, 300);
  KTJBITMAP b = AsKtj(p);
  PageSetup s(K, b);
  ASSERT_EQ(s.rc, 0);
  EXPECT_EQ(s.page.nblock, 0);
  tagKTJBLOCK lines{};
  ARECT whole{0, 0, p.width, p.height};
  ASSERT_EQ(K.get_mojilines(&b, &whole, 1, &lines), 0);
  EXPECT_EQ(lines.nline, 0);
  EXPECT_EQ(lines.capacity, 8);
  EXPECT_NE(lines.lines, nullptr);
  EXPECT_EQ(lines.mask, ~0ULL);
  free(lines.lines);
  // A region one pixel wide is taken two wide, at the last column too.
  p.Fill({0, 0, p.width - 1, p.height - 1});
  for (int x : {10, p.width - 1}) {
    KtjPage page{};
    page.x0 = page.x1 = x, page.y0 = 0, page.y1 = p.height - 1;
    EXPECT_EQ(K.ktj_pginit(&page, &b), 0) << x;
    K.ktj_pgfree(&page);
    EXPECT_EQ(page.blocks, nullptr);
    EXPECT_EQ(page.nblock, 0);
  }
}

TEST_F(KtjTest, BadRegionsGiveACodeNotACrash) {
  Page p = text_pages::DocumentPage(200, 5);
  KTJBITMAP b = AsKtj(p);
  const int w = p.width, h = p.height;
  const KtjDirParam regions[] = {{50, 50, 10, 10, 1, {}},   {-100, -100, 40, 40, 1, {}}, {w, h, w + 50, h + 50, 1, {}},
                                 {0, 0, 40000, 40000, 1, {}}, {10, 10, 10, 10, 1, {}},    {w - 1, 0, w - 1, h - 1, 1, {}},
                                 {INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX, 1, {}}};
  for (auto const& r : regions) {
    KtjPage page{};
    page.x0 = r.x0, page.y0 = r.y0, page.x1 = r.x1, page.y1 = r.y1;
    const int rc = K.ktj_pginit(&page, &b);
    EXPECT_TRUE(rc == 0 || rc == -2) << rc;
    K.ktj_pgfree(&page);
    KtjDirParam req = r;
    const int v = K.katuji_chdir_e2(&req, &b, nullptr, &b);
    EXPECT_TRUE(v == -2 || (v >= 0 && v <= 4) || v == 9) << v;
  }
}

TEST_F(KtjTest, ResolutionsOf140DpiOrLessAreRefused) {
  Page p = Page::Inches100(300, 300, 141);
  text_pages::DrawText(p, 20, 20, 400, 300, 1, layout_pages::GlyphHeight(141), false);
  for (auto [x, y, want] : {std::tuple{141, 141, 0}, {140, 141, -2}, {141, 140, -2}, {100, 300, -2}}) {
    KTJBITMAP b = AsKtj(p, x, y);
    KtjPage page{};
    page.x1 = p.width - 1, page.y1 = p.height - 1;
    EXPECT_EQ(K.ktj_pginit(&page, &b), want) << x << "x" << y;
    K.ktj_pgfree(&page);
    tagKTJBLOCK lines{};
    ARECT whole{0, 0, p.width, p.height};
    EXPECT_EQ(K.get_mojilines_g(&b, &whole, &lines), want);
    free(lines.lines);
  }
  EXPECT_EQ(K.katuji_pginit(), 0);
  EXPECT_EQ(K.katuji_pgfree(), 0);
}

TEST_F(KtjTest, DenseNoiseGivesAResultOrAnError) {
  // More labels than 16-bit counts hold: noise alone, and noise over text
  // whose lines then gather thousands of specks.
  for (int density : {4, 64}) {
    Page p = density == 4 ? Page(2400, 2400, 600) : text_pages::DocumentPage(600, 3);
    std::mt19937 rng(1);
    for (auto& byte : p.bits)
      for (int bit = 0; bit < 8; ++bit)
        if (rng() % density == 0) byte |= static_cast<uint8_t>(0x80 >> bit);
    KTJBITMAP b = AsKtj(p);
    PageSetup s(K, b);
    EXPECT_TRUE(s.rc == 0 || s.rc == -2) << s.rc;
    KtjDirParam req = Whole(p);
    const int v = K.katuji_chdir_e2(&req, &b, nullptr, &b);
    EXPECT_TRUE(v == -2 || (v >= 0 && v <= 4) || v == 9) << v;
  }
}

}  // namespace
