// Text block and line segmentation through the staged libimgforge, on drawn
// pages whose blocks, lines and reading order are known.
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "CABitmap.h"
#include "layout_lib.h"

using layout_pages::DrawParagraph;
using layout_pages::GlyphHeight;
using layout_pages::Page;
using layout_pages::Rect;

namespace {

Rect Union(std::vector<Rect> const& v) {
  Rect u = v.front();
  for (auto const& r : v)
    u = {std::min(u.left, r.left), std::min(u.top, r.top), std::max(u.right, r.right), std::max(u.bottom, r.bottom)};
  return u;
}

template <class R>
void ExpectNear(R const& got, Rect want, int tol, const char* what) {
  EXPECT_NEAR(got.left, want.left, tol) << what;
  EXPECT_NEAR(got.top, want.top, tol) << what;
  EXPECT_NEAR(got.right, want.right, tol) << what;
  EXPECT_NEAR(got.bottom, want.bottom, tol) << what;
}

struct Seg {
  SEG_RESULT res{};
  int rc = 0;
  LayoutLib& L;
  Seg(LayoutLib& lib, Page& p, int direction = 1, int mode = 1, ARECT* area = nullptr) : L(lib) {
    ABITMAP a = AsBitmap(p);
    ARECT whole{0, 0, p.width, p.height};
    rc = L.seg_main(&a, p.dpi, area ? area : &whole, nullptr, direction, mode, &res);
  }
  ~Seg() { L.seg_free(&res); }
  // Blocks in reading order.
  std::vector<SEG_BLOCK> Ordered() const {
    std::vector<SEG_BLOCK> v(res.blocks, res.blocks + res.nblock);
    std::sort(v.begin(), v.end(), [](SEG_BLOCK const& a, SEG_BLOCK const& b) { return a.order < b.order; });
    return v;
  }
};

void ExpectLines(SEG_BLOCK const& b, std::vector<Rect> const& rows, int tol) {
  ASSERT_EQ(b.nline, rows.size());
  for (size_t i = 0; i < rows.size(); ++i) ExpectNear(b.lines[i], rows[i], tol, "line");
}

class SegAtDpi : public LayoutTest, public ::testing::WithParamInterface<int> {};

TEST_P(SegAtDpi, OneColumn) {
  const int dpi = GetParam(), gh = GlyphHeight(dpi);
  Page p = Page::Inches100(850, 1100, dpi);
  auto rows = DrawParagraph(p, dpi, dpi, 8, 40, 1, gh, gh / 2);
  layout_pages::DrawSpecks(p, 300, 4);
  Seg s(L, p);
  ASSERT_EQ(s.rc, 0);
  ASSERT_EQ(s.res.nblock, 1);
  EXPECT_EQ(s.res.ntable, 0);
  ExpectNear(s.res.blocks[0], Union(rows), 1, "block");
  ExpectLines(s.res.blocks[0], rows, 1);
  for (auto const& r : rows) EXPECT_NEAR(s.res.blocks[0].lines[0].size, r.bottom - r.top + 1, 1);
}

TEST_P(SegAtDpi, TwoColumnsReadLeftThenRight) {
  const int dpi = GetParam(), gh = GlyphHeight(dpi);
  Page p = Page::Inches100(850, 1100, dpi);
  auto left = DrawParagraph(p, dpi, dpi, 10, 20, 1, gh, gh / 2);
  auto right = DrawParagraph(p, Union(left).right + dpi * 6 / 10, dpi, 10, 20, 50, gh, gh / 2);
  Seg s(L, p);
  ASSERT_EQ(s.rc, 0);
  auto blocks = s.Ordered();
  ASSERT_EQ(blocks.size(), 2u);
  ExpectNear(blocks[0], Union(left), 1, "left column");
  ExpectNear(blocks[1], Union(right), 1, "right column");
  ExpectLines(blocks[0], left, 1);
  ExpectLines(blocks[1], right, 1);
}

INSTANTIATE_TEST_SUITE_P(Dpi, SegAtDpi, ::testing::Values(200, 300, 400, 600));

TEST_F(LayoutTest, HeadingParagraphsFrameTableAndRulesInReadingOrder) {
  const int dpi = 300, gh = GlyphHeight(dpi);
  Page p = Page::Inches100(850, 1100, dpi);
  auto heading = DrawParagraph(p, 300, 300, 1, 12, 9, gh * 2, 0);
  auto para1 = DrawParagraph(p, 300, heading[0].bottom + 2 * gh, 5, 40, 10, gh, gh / 2);
  // A horizontal rule and a tall bar: neither becomes text.
  p.Fill({300, para1.back().bottom + gh, 2200, para1.back().bottom + gh + 4});
  p.Fill({200, para1[0].top, 205, para1.back().bottom});
  // A ruled grid with text in its cells: a table in place.
  const int ty = para1.back().bottom + 3 * gh;
  std::vector<int> xs{300, 800, 1300, 1800}, ys{ty, ty + 120, ty + 240, ty + 360};
  layout_pages::DrawGrid(p, xs, ys, 4);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) layout_pages::DrawTextRow(p, xs[i] + 30, ys[j] + 30, 5, 20 + 3 * j + i, gh);
  // A framed box around a paragraph: the frame goes, the text stays.
  const int fy = ys.back() + 3 * gh;
  layout_pages::DrawFrame(p, {280, fy, 2220, fy + 5 * (gh + gh / 2) + 60}, 4);
  auto boxed = DrawParagraph(p, 320, fy + 40, 5, 40, 30, gh, gh / 2);

  Seg s(L, p);
  ASSERT_EQ(s.rc, 0);
  auto blocks = s.Ordered();
  ASSERT_EQ(blocks.size(), 3u);
  ASSERT_EQ(s.res.ntable, 1);
  ExpectNear(blocks[0], heading[0], 1, "heading");
  ExpectLines(blocks[0], heading, 1);
  ExpectNear(blocks[1], Union(para1), 1, "first paragraph");
  ExpectLines(blocks[1], para1, 1);
  ExpectNear(blocks[2], Union(boxed), 1, "framed paragraph");
  ExpectLines(blocks[2], boxed, 1);
  SEG_TABLE const& t = s.res.tables[0];
  ExpectNear(t, Rect{300, ty, 1803, ty + 363}, 0, "table");
  EXPECT_EQ(blocks[0].order, 0);
  EXPECT_EQ(blocks[1].order, 1);
  EXPECT_EQ(t.order, 2);
  EXPECT_EQ(blocks[2].order, 3);
}

// Horizontal text turned a quarter turn clockwise: columns from right to left.
TEST_F(LayoutTest, VerticalText) {
  const int dpi = 300, gh = GlyphHeight(dpi);
  Page h = Page::Inches100(600, 400, dpi);
  auto rows = DrawParagraph(h, 200, 200, 6, 30, 3, gh, gh / 2);
  CABitmap src, turned;
  src.set(h.width, h.height, 1, h.bpl, h.bits.data());
  ASSERT_EQ(turned.rotate90(src), 0);
  Page v(turned.m_width, turned.m_height, dpi);
  for (int y = 0; y < v.height; ++y) std::memcpy(&v.bits[static_cast<size_t>(y) * v.bpl], turned.m_data + static_cast<size_t>(y) * turned.m_bpl, v.bpl);

  {
    Seg s(L, v, -1);
    ASSERT_EQ(s.rc, 0);
    ASSERT_EQ(s.res.nblock, 1);
    SEG_BLOCK const& b = s.res.blocks[0];
    ASSERT_EQ(b.nline, rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      Rect r = rows[i];  // (x, y) -> (H - 1 - y, x)
      ExpectNear(b.lines[i], Rect{h.height - 1 - r.bottom, r.left, h.height - 1 - r.top, r.right}, 1, "column");
    }
    EXPECT_GT(b.lines[0].left, b.lines[1].left) << "the first column is the rightmost";
  }
  {
    // Direction 0: the answer stays in the turned frame, where the text runs
    // in rows again.
    Seg s(L, v, 0);
    ASSERT_EQ(s.rc, 0);
    ASSERT_EQ(s.res.nblock, 1);
    ExpectLines(s.res.blocks[0], rows, 1);
  }
}

TEST_F(LayoutTest, TouchingLinesSplitAtTheirValley) {
  const int dpi = 300, gh = GlyphHeight(dpi), sc = gh / 7;
  Page p = Page::Inches100(850, 400, dpi);
  auto rows = DrawParagraph(p, 300, 300, 2, 30, 5, gh, 8);
  // Two strokes join a glyph of the first row to the one below it.
  for (int k : {3, 17}) {
    const int x = 300 + k * 6 * sc + (k / 5) * 2 * sc;
    p.Fill({x, rows[0].bottom - sc, x + sc - 1, rows[1].top + sc});
  }
  Seg s(L, p);
  ASSERT_EQ(s.rc, 0);
  ASSERT_EQ(s.res.nblock, 1);
  SEG_BLOCK const& b = s.res.blocks[0];
  ASSERT_EQ(b.nline, 2);
  // The joined glyphs leave the two lines, which keep their rows.
  EXPECT_EQ(b.lines[0].top, rows[0].top);
  EXPECT_EQ(b.lines[1].bottom, rows[1].bottom);
  EXPECT_LT(b.lines[0].bottom, rows[1].top);
  EXPECT_GT(b.lines[1].top, rows[0].bottom);
}

TEST_F(LayoutTest, BlankLinesCountedByPitch) {
  // 300 dpi: pitch 24 pixels, 70 % of it not counted.
  const int dpi = 300, gh = GlyphHeight(dpi);
  Page p = Page::Inches100(850, 1100, dpi);
  const int whiteRows[] = {20, 17 + 2 * 24 + 5, 17 + 3 * 24 + 3, 17 + 1 * 24};
  const int expected[] = {0, 2, 3, 1, 0};
  int y = 300;
  for (int i = 0; i < 5; ++i) {
    layout_pages::DrawTextRow(p, 300, y, 30, 70 + i, gh);
    if (i < 4) y += gh + whiteRows[i];
  }
  Seg s(L, p, 1, 0);
  ASSERT_EQ(s.rc, 0);
  ASSERT_EQ(s.res.nblock, 1);
  ASSERT_EQ(s.res.blocks[0].nline, 5);
  L.seg_format(&s.res);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.res.blocks[0].lines[i].blank, expected[i]) << "line " << i;
}

TEST_F(LayoutTest, SegmentationEdgeCases) {
  const int dpi = 300;
  {
    Page p = Page::Inches100(300, 300, dpi);
    layout_pages::DrawSpecks(p, 50, 1);
    Seg s(L, p);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.res.nblock, 0);
    EXPECT_EQ(s.res.ntable, 0);
  }
  // Marks of exactly dpi / 100 pixels are dust; one more is not.
  for (int dot : {3, 4}) {
    Page p = Page::Inches100(300, 300, dpi);
    for (int k = 0; k < 12; ++k)
      for (int col = 0; col < 20; ++col) {
        const int x = 100 + col * 2 * (dot + 2) + (k % 2) * (dot + 2), y = 100 + k * dot;
        p.Fill({x, y, x + dot - 1, y + dot - 1});
      }
    Seg s(L, p, 1, 0);
    ASSERT_EQ(s.rc, 0);
    ASSERT_EQ(s.res.nblock, 1);
    EXPECT_EQ(s.res.blocks[0].nline, dot == 3 ? 0 : 1) << dot;
  }
  {
    // More than 120 lines: the first 120 are kept.
    const int gh = GlyphHeight(200);
    Page p(800, 130 * (gh + 10) + 200, 200);
    auto rows = DrawParagraph(p, 100, 100, 130, 5, 1, gh, 10);
    Seg s(L, p, 1, 0);
    ASSERT_EQ(s.rc, 0);
    ASSERT_EQ(s.res.blocks[0].nline, 120);
    ExpectNear(s.res.blocks[0].lines[119], rows[119], 1, "line 120");
  }
  {
    // Another mode: the area is the one block.
    Page p = Page::Inches100(850, 1100, dpi);
    DrawParagraph(p, 300, 300, 3, 20, 1, GlyphHeight(dpi), 20);
    ARECT area{100, 200, 1500, 900};
    Seg s(L, p, 1, 7, &area);
    ASSERT_EQ(s.rc, 0);
    ASSERT_EQ(s.res.nblock, 1);
    ExpectNear(s.res.blocks[0], Rect{100, 200, 1599, 1099}, 0, "area");
    EXPECT_EQ(s.res.blocks[0].nline, 3);
    L.seg_free(&s.res);
    const SEG_RESULT zero{};
    EXPECT_EQ(std::memcmp(&s.res, &zero, sizeof zero), 0);
  }
  {
    // Resolutions that scale a length to nothing are refused; the result
    // record is left as it was.
    Page p = Page::Inches100(300, 300, 300);
    DrawParagraph(p, 50, 50, 2, 10, 1, GlyphHeight(300), 20);
    ABITMAP a = AsBitmap(p);
    ARECT whole{0, 0, p.width, p.height};
    for (int bad : {19, 99, 0, -300}) {
      SEG_RESULT res;
      std::memset(&res, 0x77, sizeof res);
      SEG_RESULT before = res;
      EXPECT_LT(L.seg_main(&a, bad, &whole, nullptr, 1, 1, &res), 0) << bad;
      EXPECT_EQ(std::memcmp(&res, &before, sizeof res), 0);
    }
  }
}

TEST_F(LayoutTest, CallerLabelsOutsideTheAreaAreIgnored) {
  const int dpi = 300, gh = GlyphHeight(dpi);
  Page p = Page::Inches100(850, 600, dpi);
  auto top = DrawParagraph(p, 300, 200, 3, 20, 1, gh, gh / 2);
  auto low = DrawParagraph(p, 300, 1000, 3, 20, 9, gh, gh / 2);
  ABITMAP a = AsBitmap(p);
  LBL_DATA lbl{};
  ASSERT_EQ(lbl_main2(&a, nullptr, &lbl), 0);
  ARECT area{0, 800, p.width, p.height - 800};
  SEG_RESULT res{};
  ASSERT_EQ(L.seg_main(&a, dpi, &area, &lbl, 1, 1, &res), 0);
  ASSERT_EQ(res.nblock, 1);
  ExpectNear(res.blocks[0], Union(low), 1, "lower paragraph");
  L.seg_free(&res);
  lbl_free2(&lbl);
}

}  // namespace

namespace {

// Bad areas and pages: a code or a valid result, never a crash or overrun.
TEST_F(LayoutTest, BadInputGivesACodeOrAValidResult) {
  Page page = Page::Inches100(300, 300, 300);
  layout_pages::DrawGrid(page, {50, 300, 550}, {50, 200, 350}, 3);
  DrawParagraph(page, 100, 500, 3, 10, 1, GlyphHeight(300), 20);
  Page dot(1, 1, 300);
  dot.Set(0, 0);
  Page noise(1200, 1200, 600);
  std::mt19937 rng(77);
  for (auto& b : noise.bits) b = static_cast<uint8_t>(rng());

  struct Case {
    const char* what;
    Page* page;
    ARECT area;
  };
  const Case cases[] = {
      {"outside right", &page, {900, 0, 100, 100}},
      {"outside above", &page, {0, -500, 100, 100}},
      {"across the corner", &page, {-50, -50, 400, 400}},
      {"across everything", &page, {-100000, -100000, 2000000, 2000000}},
      {"empty", &page, {10, 10, 0, 0}},
      {"negative size", &page, {10, 10, -5, -5}},
      {"huge size", &page, {10, 10, 0x7FFFFFFF, 0x7FFFFFFF}},
      {"one pixel page", &dot, {0, 0, 1, 1}},
      {"dense noise at 600 dpi", &noise, {0, 0, 1200, 1200}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    ABITMAP a = AsBitmap(*c.page);
    ARECT area = c.area;
    ATABLE t{};
    const int rt = L.table_main(&a, &area, c.page->dpi, &t, nullptr);
    EXPECT_TRUE(rt == 0 || rt == -2) << rt;
    for (int j = 0; rt == 0 && j < t.nrow; ++j)
      for (int i = 0; i < t.rows[j].ncell; ++i) EXPECT_LE(t.rows[j].cells[i].x1, t.rows[j].cells[i].x2 + 1);
    L.table_free(&t);
    for (int mode : {1, 0})
      for (int dir : {1, -1, 0}) {
        SEG_RESULT res{};
        const int rs = L.seg_main(&a, c.page->dpi, &area, nullptr, dir, mode, &res);
        EXPECT_TRUE(rs == 0 || rs == -2) << rs;
        for (int i = 0; rs == 0 && i < res.nblock; ++i) {
          EXPECT_LE(res.blocks[i].left, res.blocks[i].right);
          EXPECT_LE(res.blocks[i].nline, 120);
        }
        L.seg_free(&res);
      }
  }
  // Records that do not describe a readable 1-bit page.
  ABITMAP a = AsBitmap(page);
  ARECT whole{0, 0, page.width, page.height};
  ATABLE t{};
  SEG_RESULT res{};
  EXPECT_EQ(L.table_main(nullptr, &whole, 300, &t, nullptr), -2);
  EXPECT_EQ(L.table_main(&a, nullptr, 300, &t, nullptr), -2);
  EXPECT_EQ(L.table_main(&a, &whole, 0, &t, nullptr), -2);
  EXPECT_EQ(L.seg_main(nullptr, 300, &whole, nullptr, 1, 1, &res), -2);
  ABITMAP shortRows = a;
  shortRows.bpl = 3;
  EXPECT_EQ(L.table_main(&shortRows, &whole, 300, &t, nullptr), -2);
  EXPECT_EQ(L.seg_main(&shortRows, 300, &whole, nullptr, 1, 1, &res), -2);
  ABITMAP grey = a;
  grey.bits = 8;
  EXPECT_EQ(L.seg_main(&grey, 300, &whole, nullptr, 1, 1, &res), -2);
  EXPECT_EQ(L.table_free(nullptr), 0);
  L.seg_free(nullptr);
  L.seg_format(nullptr);

  // Grey-to-mono on bad regions and pages.
  std::vector<uint8_t> g(64 * 32, 128);
  uint8_t* out = nullptr;
  const int regions[][4] = {{100, 100, 200, 200}, {-10, -10, 5, 5}, {10, 10, 5, 5}, {0, 0, 100000, 100000}};
  for (auto const& r : regions) {
    const int rc = L.img_img2mono(g.data(), 64, 64, 32, static_cast<int>(g.size()), 8, 1, 0, 300, 300, r[0], r[1], r[2],
                                  r[3], &out, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(rc == 0 || rc == -2);
    void* px = out;
    L.img_img2mono_free(&px);
    out = nullptr;
  }
  EXPECT_EQ(L.img_img2mono(g.data(), 10, 64, 32, 0, 8, 1, 0, 300, 300, 0, 0, 63, 31, &out, nullptr, nullptr, nullptr,
                           nullptr),
            -2);
  EXPECT_EQ(L.img_img2mono(g.data(), 64, 64, 32, 100, 8, 1, 0, 300, 300, 0, 0, 63, 31, &out, nullptr, nullptr, nullptr,
                           nullptr),
            -2);
  EXPECT_EQ(L.img_img2mono(nullptr, 64, 64, 32, 0, 8, 1, 0, 300, 300, 0, 0, 63, 31, &out, nullptr, nullptr, nullptr,
                           nullptr),
            -2);
  std::vector<uint8_t> one{7};
  int w = 0;
  ASSERT_EQ(L.img_img2mono(one.data(), 1, 1, 1, 1, 8, 1, 0, 300, 300, 0, 0, 0, 0, &out, nullptr, &w, nullptr, nullptr),
            0);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(out[0] & 0x80, 0x80);
  void* px = out;
  L.img_img2mono_free(&px);
  // Dense noise at 600 dpi through every method.
  std::vector<uint8_t> gn(1200 * 1200);
  for (auto& v : gn) v = static_cast<uint8_t>(rng());
  for (int method : {-1, 0, 1}) {
    ASSERT_EQ(L.img_img2mono(gn.data(), 1200, 1200, 1200, static_cast<int>(gn.size()), 8, method, 0, 600, 600, 0, 0,
                             1199, 1199, &out, nullptr, nullptr, nullptr, nullptr),
              0);
    px = out;
    L.img_img2mono_free(&px);
  }
}

}  // namespace
