#include <gtest/gtest.h>

#include "scene.h"

using namespace turnsense;

TEST(TextLines, ThreeGlyphsMakeALineTwoDoNot) {
  for (int n : {2, 3}) {
    Scene s(200, 60);
    s.Glyphs(20, 20, n, 8, 10, 3).Label();
    Lines l;
    Build(s, l);
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(l.nv, 0);
    ASSERT_EQ(l.nh, n == 3 ? 1 : 0) << n;
    if (n == 3) {
      EXPECT_EQ(l.h[0].box.left, 20);
      EXPECT_EQ(l.h[0].box.right, 20 + 3 * 8 + 2 * 3 - 1);
      EXPECT_EQ(l.h[0].member_core, 3);
      EXPECT_EQ(l.hint, 0);
    }
  }
}

TEST(TextLines, ShapeFactorsTwoAcrossAndThreeDown) {
  struct Case {
    bool down;
    int gw, gh, gap;
    bool kept;
  };
  // Horizontal: 3 x 6 + 2 x 1 = 20 wide on 10 high is kept, 19 is not.
  // Vertical: 3 x 8 + 2 x 3 = 30 high on 10 wide is kept, 29 is not.
  for (const Case& c : {Case{false, 6, 10, 1, true}, Case{false, 5, 10, 2, false}, Case{true, 10, 8, 3, true},
                        Case{true, 10, 9, 1, false}}) {
    Scene s(120, 120);
    s.Glyphs(30, 30, 3, c.gw, c.gh, c.gap, c.down).Label();
    Lines l;
    Build(s, l);
    EXPECT_EQ(c.down ? l.nv : l.nh, c.kept ? 1 : 0) << c.down << " " << c.gh;
    EXPECT_EQ(c.down ? l.nh : l.nv, 0);
  }
}

TEST(TextLines, OverlappingLinesAreJoinedWhenLongOrElseBothDropped) {
  // Line B's first sign reaches up into line A's rows: the only member of B
  // to do so, so the builder lets both stand; the final passes then join
  // them when their union is at least three times as long as high, and
  // drop both otherwise.
  for (int signs : {3, 4}) {
    Scene s(140, 60);
    for (int i = 0; i < signs; ++i) s.Box(10 + 20 * i, 10, 8, 10);  // A: rows 10..19
    s.Box(20, 16, 8, 16);                                           // B's tall sign: rows 16..31
    for (int i = 1; i < signs; ++i) s.Box(20 + 20 * i, 22, 8, 10);  // B: rows 22..31
    s.Label();
    std::vector<CC> ccs = s.ccs;
    TEXTLINE* built = nullptr;
    int n_built = 0;
    cc2textline_horizontal_init_v4(ccs.data(), int(ccs.size()), &built, &n_built, s.label_rows.data(), s.w, s.h, false);
    EXPECT_EQ(n_built, 2);
    delete[] built;
    Lines l;
    Build(s, l);
    ASSERT_EQ(l.rc, 0);
    if (signs == 4) {
      ASSERT_EQ(l.nh, 1);
      EXPECT_EQ(l.h[0].box.left, 10);
      EXPECT_EQ(l.h[0].box.right, 87);
      EXPECT_EQ(l.h[0].box.top, 10);
      EXPECT_EQ(l.h[0].box.bottom, 31);
      EXPECT_EQ(l.h[0].member_core, 8);
    } else {
      EXPECT_EQ(l.nh, 0);
    }
  }
}

TEST(TextLines, TiedCrossOrientationGroupLosesEverything) {
  Scene s(120, 120);
  for (int r = 0; r < 3; ++r) s.Glyphs(20, 20 + r * 11, 3, 8, 8, 3);
  s.Label();
  Lines l;
  Build(s, l);
  ASSERT_EQ(l.rc, 0);
  EXPECT_EQ(l.nh, 0);
  EXPECT_EQ(l.nv, 0);
  EXPECT_EQ(l.hint, -1);
}

TEST(TextLines, VerticalReachIsSixtyForCoreWidthsFortyAndSixty) {
  // The seed's first step reaches 60 rows below it for both widths; two
  // more signs follow closely (the line must be three times as long as
  // wide).
  for (int width : {40, 60})
    for (int gap : {59, 60}) {
      const int gh = width / 2;
      Scene s(200, 4 * gh + gap + 20 + 40);
      s.Box(50, 20, width, gh).Box(50, 20 + gh + gap, width, gh);
      s.Box(50, 20 + 2 * gh + gap + 10, width, gh).Box(50, 20 + 3 * gh + gap + 20, width, gh).Label();
      Lines l;
      Build(s, l);
      EXPECT_EQ(l.nv, gap == 59 ? 1 : 0) << width << " " << gap;
      if (gap == 59 && l.nv == 1) {
        EXPECT_EQ(l.v[0].member_core, 4);
      }
    }
}

TEST(TextLines, ColumnsOfShortLinesAreDropped) {
  for (int lines : {21, 22}) {
    Scene s(100, 30 + lines * 25);
    for (int i = 0; i < lines; ++i) s.Glyphs(20, 20 + i * 25, 3, 8, 10, 3);
    s.Label();
    Lines l;
    Build(s, l);
    EXPECT_EQ(l.nh, lines == 22 ? 0 : lines) << lines;
  }
  // Vertical lines: 19 followers suffice, and every short vertical line goes.
  for (int lines : {19, 20}) {
    Scene s(40 + lines * 25, 200);
    for (int i = 0; i < lines; ++i) s.Glyphs(20 + i * 25, 20, 3, 10, 8, 3, true);
    s.Glyphs(30, 120, 3, 10, 8, 3, true);  // elsewhere, not aligned
    s.Label();
    Lines l;
    Build(s, l);
    EXPECT_EQ(l.nh, 0);
    EXPECT_EQ(l.nv, lines == 20 ? 0 : lines + 1) << lines;
  }
}

TEST(TextLines, ThirtiethCandidateRejectsOnlyThatLine) {
  Scene s(260, 120);
  s.Glyphs(10, 10, 3, 10, 20, 3);  // line A, seeds first
  for (int y = 12; y < 28; y += 3)
    for (int x = 50; x < 80; x += 3) s.Box(x, y, 2, 2);  // 60 dots within A's reach
  s.Glyphs(20, 80, 4, 10, 20, 3);                        // line B
  s.Label();
  TEXTLINE* out = nullptr;
  int n = 0;
  ASSERT_EQ(
      cc2textline_horizontal_init_v4(s.ccs.data(), int(s.ccs.size()), &out, &n, s.label_rows.data(), s.w, s.h, false),
      0);
  bool found_b = false;
  for (int i = 0; i < n; ++i) {
    EXPECT_FALSE(out[i].box.left <= 10 && out[i].box.right >= 19 && out[i].box.top <= 10) << "line A kept";
    found_b |= out[i].box.left == 20 && out[i].box.top == 80 && out[i].member_core == 4;
  }
  EXPECT_TRUE(found_b);
  delete[] out;
}

TEST(TextLines, CoverageFlagWantsSevenTenthsOfTheLineInked) {
  // Glyphs 4 wide, 3 apart: 16 of 25 columns (0.64) hold ink; 4 wide and 1
  // apart: 16 of 19.
  for (int gap : {3, 1})
    for (bool coverage : {false, true}) {
      Scene s(100, 40);
      s.Glyphs(20, 10, 4, 4, 8, gap).Label();
      TEXTLINE* out = nullptr;
      int n = 0;
      cc2textline_horizontal_init_v4(s.ccs.data(), int(s.ccs.size()), &out, &n, s.label_rows.data(), s.w, s.h,
                                     coverage);
      EXPECT_EQ(n, coverage && gap == 3 ? 0 : 1) << gap << " " << coverage;
      delete[] out;
    }
}

TEST(TextLines, NoComponentsGiveEmptyArraysAndTieHint) {
  Scene s(50, 50);
  s.Label();
  Lines l;
  Build(s, l);
  EXPECT_EQ(l.rc, 0);
  EXPECT_EQ(l.nh, 0);
  EXPECT_EQ(l.nv, 0);
  EXPECT_EQ(l.hint, -1);
}

TEST(TextLines, HistPeakMovesOnlyToAClearMajority) {
  const int32_t clear[8] = {0, 1, 5, 1, 0, 2, 0, 0};
  EXPECT_EQ(hist_peak(clear, 0, 8, 6), 2);
  const int32_t close[8] = {0, 1, 3, 1, 0, 2, 0, 0};
  EXPECT_EQ(hist_peak(close, 0, 8, 6), 6);
  const int32_t none[4] = {0, 0, 0, 0};
  EXPECT_EQ(hist_peak(none, 0, 4, 3), 3);
}

namespace {
TEXTLINE Line(int64_t left, int64_t top, int64_t right, int64_t bottom) {
  TEXTLINE l;
  init_textline(&l);
  l.box = tagRECT{left, top, right, bottom};
  l.valid = 1;
  return l;
}
}  // namespace

// Groups come out in the order of their first overlap, row-major over
// (horizontal line, vertical line), each line listed once. A page of a few
// thousand separate groups once took minutes: each group was sought over the
// whole overlap matrix again.
TEST(TextLines, ThousandsOfSeparateGroupsComeOutInFirstOverlapOrder) {
  constexpr int kCrosses = 1500;
  std::vector<TEXTLINE> h, v;
  // Vertical line k crosses horizontal line kCrosses-1-k only.
  for (int k = 0; k < kCrosses; ++k) {
    const int c = kCrosses - 1 - k;
    h.push_back(Line(0, 10 * k, 20, 10 * k + 2));
    v.push_back(Line(5, 10 * c - 1, 7, 10 * c + 4));
  }
  // Two horizontal lines joined through one vertical; one horizontal line
  // crossing two verticals.
  h.push_back(Line(100, 0, 120, 2));
  h.push_back(Line(100, 20, 120, 22));
  h.push_back(Line(200, 0, 260, 2));
  v.push_back(Line(110, 0, 112, 22));
  v.push_back(Line(210, -1, 212, 5));
  v.push_back(Line(250, -1, 252, 5));
  std::vector<MERGE_RECT> groups(h.size());
  int n = -1;
  ASSERT_EQ(hv_overlap_textline_detection(h.data(), int(h.size()), v.data(), int(v.size()), groups.data(), &n), 0);
  ASSERT_EQ(n, kCrosses + 2);
  for (int i = 0; i < kCrosses; ++i) {
    const MERGE_RECT& g = groups[size_t(i)];
    ASSERT_EQ(g.horizontal_count, 1) << i;
    ASSERT_EQ(g.vertical_count, 1) << i;
    EXPECT_EQ(g.horizontal[0], i);
    EXPECT_EQ(g.vertical[0], kCrosses - 1 - i);
    EXPECT_EQ(g.left, 0);
    EXPECT_EQ(g.top, 10 * i - 1);
    EXPECT_EQ(g.right, 20);
    EXPECT_EQ(g.bottom, 10 * i + 4);
  }
  const MERGE_RECT& joined = groups[kCrosses];
  ASSERT_EQ(joined.horizontal_count, 2);
  ASSERT_EQ(joined.vertical_count, 1);
  EXPECT_EQ(joined.horizontal[0], kCrosses);
  EXPECT_EQ(joined.horizontal[1], kCrosses + 1);
  EXPECT_EQ(joined.vertical[0], kCrosses);
  EXPECT_EQ(joined.left, 100);
  EXPECT_EQ(joined.top, 0);
  EXPECT_EQ(joined.right, 120);
  EXPECT_EQ(joined.bottom, 22);
  const MERGE_RECT& wide = groups[kCrosses + 1];
  ASSERT_EQ(wide.horizontal_count, 1);
  ASSERT_EQ(wide.vertical_count, 2);
  EXPECT_EQ(wide.vertical[0], kCrosses + 1);
  EXPECT_EQ(wide.vertical[1], kCrosses + 2);
  EXPECT_EQ(wide.left, 200);
  EXPECT_EQ(wide.top, -1);
  EXPECT_EQ(wide.right, 260);
  EXPECT_EQ(wide.bottom, 5);
}

TEST(TextLines, AGroupOfMoreThanAThousandLinesOfOneOrientationIsRefused) {
  for (int lines : {1000, 1001}) {
    std::vector<TEXTLINE> h, v{Line(5, 0, 7, 10 * lines)};
    for (int k = 0; k < lines; ++k) h.push_back(Line(0, 10 * k, 20, 10 * k + 2));
    std::vector<MERGE_RECT> groups(1);
    int n = -1;
    const int rc = hv_overlap_textline_detection(h.data(), lines, v.data(), 1, groups.data(), &n);
    EXPECT_EQ(rc, lines > 1000 ? kLimitExceeded : 0) << lines;
    if (lines == 1000) {
      EXPECT_EQ(n, 1);
      EXPECT_EQ(groups[0].horizontal_count, 1000);
    }
  }
}
