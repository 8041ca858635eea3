// Writing direction and the direction entries through the staged
// libimgforge, on drawn pages turned by known quarter turns.
#include "ktj_lib.h"

using text_pages::DocumentPage;
using text_pages::Page;
using text_pages::Turn;

namespace {

class DirectionAtDpi : public KtjTest, public ::testing::WithParamInterface<int> {};

TEST_P(DirectionAtDpi, EachQuarterTurnGivesItsCode) {
  const int dpi = GetParam();
  for (bool capitals : {false, true}) {
    Page upright = DocumentPage(dpi, 7, nullptr, capitals);
    // Clockwise quarter turns 0..3 -> upright 1, clockwise 2, half 3, counter-clockwise 4.
    const int want[4] = {1, 2, 3, 4};
    for (int q = 0; q < 4; ++q) {
      Page p = Turn(upright, q);
      KTJBITMAP b = AsKtj(p);
      KtjDirParam req = Whole(p);
      EXPECT_EQ(K.katuji_chdir_e2(&req, &b, nullptr, &b), want[q]) << dpi << " dpi, turn " << q << " caps " << capitals;
      EXPECT_EQ(K.katuji_chdir_e(&req, &b), want[q]) << dpi << " dpi, turn " << q << " caps " << capitals;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Dpi, DirectionAtDpi, ::testing::Values(200, 300, 400, 600));

}  // namespace

namespace {

using text_pages::Rect;

TEST_F(KtjTest, ResolutionLimitOfTheDirectionEntries) {
  Page p = DocumentPage(141, 3);
  for (auto [x, y, ok] : {std::tuple{141, 141, true}, {140, 141, false}, {141, 140, false}}) {
    KTJBITMAP b = AsKtj(p, x, y);
    KtjDirParam req = Whole(p);
    ARECT whole{0, 0, p.width, p.height};
    tagKTJBLOCK lines{};
    int writing = 0;
    if (ok) {
      EXPECT_EQ(K.katuji_chdir_e2(&req, &b, nullptr, &b), 1);
      EXPECT_EQ(K.jdge_linedir(&b, &whole), 1);
    } else {
      EXPECT_EQ(K.katuji_chdir_e(&req, &b), -2);
      EXPECT_EQ(K.katuji_chdir_e2(&req, &b, nullptr, &b), -2);
      EXPECT_EQ(K.katuji_chdir_e3(&req, &b, nullptr, nullptr, &lines, &writing), -2);
      EXPECT_EQ(K.jdge_linedir(&b, &whole), -2);
    }
    free(lines.lines);
  }
}

// Blocks 8 x 10 at a 12-pixel pitch both ways, each row shifted by 4 pixels
// from the one above so that every column holds ink: the two blank rows
// between rows survive a reduction by 2, while by 4 all blocks join into one
// group too big for a character.
Page StaggeredBlocks(int dpi) {
  Page p = Page::Inches100(850, 1100, dpi);
  for (int row = 0; 12 * row + 10 <= p.height; ++row)
    for (int x = 4 * (row % 3); x + 8 <= p.width; x += 12) p.Fill({x, 12 * row, x + 7, 12 * row + 9});
  return p;
}

TEST_F(KtjTest, ReductionBy2UpTo300DpiAndBy4Above) {
  for (auto [dpi, want] : {std::pair{300, 1}, {301, 3}}) {
    Page p = StaggeredBlocks(dpi);
    ABITMAP a{p.bits.data(), p.bits.size(), 1, p.width, p.height, p.bpl};
    ARECT whole{0, 0, p.width, p.height};
    EXPECT_EQ(K.mojiretu_no_muki(&a, &whole, dpi), want) << dpi;
  }
}

TEST_F(KtjTest, NearlyEmptyPagesTryTheWiderGrid) {
  // Text near the corner only: outside every window of the first grid, inside
  // the top-left one of the second.
  Page p = Page::Inches100(850, 1100, 300);
  text_pages::DrawText(p, 90, 90, 500, 500, 4, layout_pages::GlyphHeight(300), false);
  ABITMAP a{p.bits.data(), p.bits.size(), 1, p.width, p.height, p.bpl};
  ARECT whole{0, 0, p.width, p.height};
  EXPECT_EQ(K.mojiretu_no_muki(&a, &whole, 300), 1);
  // A blank page ties on both grids.
  Page blank = Page::Inches100(850, 1100, 300);
  KTJBITMAP b = AsKtj(blank);
  KtjDirParam req = Whole(blank);
  EXPECT_EQ(K.jdge_linedir(&b, &whole), 3);
  EXPECT_EQ(K.katuji_chdir_e(&req, &b), 9);
  EXPECT_EQ(K.katuji_chdir_e2(&req, &b, nullptr, &b), 9);
  tagKTJBLOCK lines{};
  int writing = 0;
  EXPECT_EQ(K.katuji_chdir_e3(&req, &b, nullptr, nullptr, &lines, &writing), 9);
  EXPECT_EQ(writing, 3);
  EXPECT_EQ(lines.lines, nullptr);
}

TEST_F(KtjTest, WritingDirectionAndLinesOfE3) {
  std::vector<text_pages::Row> rows;
  Page upright = DocumentPage(300, 21, &rows);
  for (int q : {0, 3}) {
    Page p = Turn(upright, q);
    KTJBITMAP b = AsKtj(p);
    KtjDirParam req = Whole(p);
    tagKTJBLOCK lines{};
    int writing = 0;
    ASSERT_EQ(K.katuji_chdir_e3(&req, &b, nullptr, nullptr, &lines, &writing), 0);
    EXPECT_EQ(writing, q ? 2 : 1);
    // Vertical lines come from the page turned back upright: the drawn rows.
    EXPECT_EQ(lines.nline, rows.size());
    EXPECT_EQ(lines.capacity, lines.nline + 8);
    for (auto const& r : rows) {
      bool found = false;
      for (int i = 0; i < lines.nline; ++i) {
        KtjLine const& l = lines.lines[i];
        found |= l.x0 == r.box.left && l.y0 == r.box.top && l.x1 == r.box.right && l.y1 == r.box.bottom;
      }
      EXPECT_TRUE(found) << r.box.left << "," << r.box.top;
    }
    free(lines.lines);
  }
}

TEST_F(KtjTest, RegionTurnsWithItsBitmap) {
  Page p(301, 203, 300);
  const Rect ink{40, 17, 90, 33};
  p.Fill(ink);
  ABITMAP a{p.bits.data(), p.bits.size(), 1, p.width, p.height, p.bpl}, t{};
  auto rotate = K.Get<uint8_t*(ABITMAP*, const ABITMAP*)>("abmp_rotate90");
  ASSERT_NE(rotate, nullptr);
  uint8_t* turned = rotate(&t, &a);
  ASSERT_NE(turned, nullptr);
  int rect[4] = {ink.left, ink.top, ink.right, ink.bottom};
  K.pv_rect_rot90(rect, p.width, p.height);
  // The turned box holds all the ink, and only ink.
  long inside = 0, total = 0;
  for (int y = 0; y < t.height; ++y)
    for (int x = 0; x < t.width; ++x)
      if (turned[y * t.bpl + x / 8] & (0x80 >> (x % 8))) {
        ++total;
        inside += x >= rect[0] && x <= rect[2] && y >= rect[1] && y <= rect[3];
      }
  EXPECT_EQ(total, (ink.right - ink.left + 1L) * (ink.bottom - ink.top + 1));
  EXPECT_EQ(inside, total);
  EXPECT_EQ((rect[2] - rect[0] + 1L) * (rect[3] - rect[1] + 1), total);
  free(turned);
}

// Lines of text drawn upright or half-turned in place, judged by both
// variants of the upside-down test.
struct VotePage {
  Page p = Page::Inches100(850, 1100, 300);
  int Judge(KtjLib& K, bool variable) {
    KTJBITMAP b = AsKtj(p);
    ARECT whole{0, 0, p.width, p.height};
    tagKTJBLOCK lines{};
    EXPECT_EQ(K.get_mojilines(&b, &whole, 1, &lines), 0);
    ABITMAP a{p.bits.data(), p.bits.size(), 1, p.width, p.height, p.bpl};
    int bpl = p.bpl;
    const int v = variable ? K.is_updown_e3(&a, &bpl, &lines, &b) : K.is_updown_e2(&a, &bpl, &lines);
    free(lines.lines);
    return v;
  }
  void Lines(int n, int y, bool turned, bool capitals = false) {
    const int gh = layout_pages::GlyphHeight(300);
    for (int i = 0; i < n; ++i) {
      auto r = capitals ? text_pages::DrawCapitalRow(p, 300, y + i * 90, 30, 100 + i, gh)
                        : text_pages::DrawLowerRow(p, 300, y + i * 90, 30, 100 + i, gh);
      if (turned) text_pages::HalfTurn(p, r.box);
    }
  }
};

TEST_F(KtjTest, UpsideDownVotesOfPages) {
  struct {
    int up, down;
    bool capitals;
    int want;
  } const cases[] = {
      {8, 0, false, 1}, {0, 8, false, 2}, {8, 0, true, 1}, {0, 8, true, 2},
      {3, 0, false, 1}, {2, 0, false, 3}, {12, 9, false, 3}, {12, 6, true, 1}, {0, 0, false, 3},
  };
  for (auto const& c : cases)
    for (bool variable : {false, true}) {
      VotePage v;
      v.Lines(c.up, 300, false, c.capitals);
      v.Lines(c.down, 300 + 90 * c.up, true, c.capitals);
      EXPECT_EQ(v.Judge(K, variable), c.want) << c.up << "-" << c.down << " caps " << c.capitals << " var " << variable;
    }
}

}  // namespace
