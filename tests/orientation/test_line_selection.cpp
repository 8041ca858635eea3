#include <gtest/gtest.h>

#include "line_selection.h"
#include "scene.h"

using namespace turnsense;

namespace {

TEXTLINE Verified(int64_t left, int64_t top, int64_t right, int64_t bottom, int o) {
  TEXTLINE l;
  std::memset(&l, 0, sizeof l);
  init_textline(&l);
  l.box = l.core = tagRECT{left, top, right, bottom};
  l.width = int32_t(right - left + 1);
  l.height = int32_t(bottom - top + 1);
  l.elongation = o ? float(l.height) / float(l.width) : float(l.width) / float(l.height);
  l.orientation = o;
  l.valid = 1;
  return l;
}

struct Picked {
  std::vector<TEXTLINE*> h, v;
  int nh = 0, nv = 0, rc = 0;
};

Picked SelectV3(Scene& s, std::vector<TEXTLINE>& h, std::vector<TEXTLINE>& v, int f, int hint) {
  Picked p;
  p.h.resize(h.size() + 1);
  p.v.resize(v.size() + 1);
  p.rc = textline_selection_v3(nullptr, 0, 0, s.rows.data(), s.rows.data(), s.w, s.h, s.lab.cc, f, h.data(),
                               int(h.size()), v.data(), int(v.size()), hint, p.h.data(), &p.nh, p.v.data(), &p.nv);
  return p;
}

}  // namespace

TEST(Selection, ThirtyEqualLinesYieldTwentyFive) {
  Scene s(120, 30 * 16 + 20);
  std::vector<TEXTLINE> h, v;
  for (int i = 0; i < 30; ++i) {
    s.Glyphs(10, 10 + i * 16, 6, 8, 8, 3);
    h.push_back(Verified(10, 10 + i * 16, 10 + 6 * 11 - 4, 17 + i * 16, 0));
  }
  s.Label();
  Picked p = SelectV3(s, h, v, 3, 0);
  EXPECT_EQ(p.rc, 0);
  EXPECT_EQ(p.nh, 25);
  EXPECT_EQ(p.nv, 0);
  for (int i = 0; i < p.nh; ++i) EXPECT_TRUE(p.h[size_t(i)]->selected && p.h[size_t(i)]->taken);
}

TEST(Selection, TwoLinesAreNoBlockThreeAre) {
  for (int n : {2, 3}) {
    std::vector<TEXTLINE> h;
    for (int i = 0; i < n; ++i) h.push_back(Verified(10, 10 + i * 20, 200, 23 + i * 20, 0));
    std::vector<TEXT_PARA> blocks(200);
    int count = -1;
    ASSERT_EQ(search_horizontal_textblocks(h.data(), n, 1, blocks.data(), &count), 0);
    EXPECT_EQ(count, n == 3 ? 1 : 0);
    for (const TEXTLINE& l : h) EXPECT_EQ(l.block_mark, n == 3 ? 1 : 0);
    if (n == 3) {
      EXPECT_EQ(blocks[0].count, 3);
      EXPECT_FLOAT_EQ(blocks[0].mean_thickness, 14.0f);
      EXPECT_EQ(blocks[0].bottom, 63);
    }
  }
}

TEST(Selection, HintChoosesWhichBlocksComeFirst) {
  // Thin lines (no contrast stage), six in a block of each orientation, on
  // an empty page where every line passes the shape checks.
  for (int hint : {-1, 0, 1}) {
    Scene s(800, 800);
    s.Label();
    std::vector<TEXTLINE> h, v;
    for (int i = 0; i < 6; ++i) h.push_back(Verified(20, 20 + i * 20, 300, 33 + i * 20, 0));
    for (int i = 0; i < 6; ++i) v.push_back(Verified(700 - i * 20, 300, 713 - i * 20, 700, 1));
    Picked p = SelectV3(s, h, v, 1, hint);
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.nh, hint == 0 ? 6 : 0) << hint;
    EXPECT_EQ(p.nv, hint == 0 ? 0 : 6) << hint;
  }
}

TEST(Selection, UnderlinedLineComesOnlyAtTheEnd) {
  Scene s(400, 300);
  std::vector<TEXTLINE> h, v;
  for (int i = 0; i < 3; ++i) {
    const int top = 20 + i * 80;
    s.Glyphs(20, top, 10, 8, 10, 3);
    h.push_back(Verified(20, top, 20 + 10 * 11 - 4, top + 9, 0));
  }
  s.Box(20, 20 + 10, 106, 1);  // rule right under the first line's body
  s.Label();
  Picked p = SelectV3(s, h, v, 1, 0);
  ASSERT_EQ(p.nh, 3);
  const TEXTLINE* last = p.h[2];
  EXPECT_EQ(last->box.top, 20);
  EXPECT_TRUE(last->underlined);
  EXPECT_TRUE(last->rule_below);
  EXPECT_FALSE(last->rule_above);
  EXPECT_EQ(last->rule_below_gap, 2);
  EXPECT_EQ(last->rule_above_gap, 1000);
  EXPECT_FALSE(p.h[0]->underlined);
  // Without the rule test (second pass) it is just another line.
  std::vector<TEXTLINE> h2(h);
  Picked q;
  q.h.resize(4);
  q.v.resize(1);
  textline_selection_v2(nullptr, 0, 0, s.rows.data(), s.rows.data(), s.w, s.h, 1, h2.data(), 3, nullptr, 0, 0,
                        q.h.data(), &q.nh, q.v.data(), &q.nv);
  ASSERT_EQ(q.nh, 3);
  EXPECT_EQ(q.h[0]->box.top, 20);
}

TEST(Selection, RuleThicknessLimitFollowsTheFactor) {
  struct Case {
    int f, thickness;
    bool thin;
  };
  for (const Case& c : {Case{1, 10, false}, Case{1, 6, true}, Case{6, 1, true}, Case{6, 2, false}}) {
    Scene s(200, 80);
    s.Glyphs(20, 10, 8, 8, 16, 3);
    s.Box(20, 10 + 16 + 3, 85, c.thickness);
    s.Label();
    TEXTLINE l = Verified(20, 10, 104, 25, 0);
    ASSERT_EQ(detect_horizontal_underline(&l, c.f, s.lab.cc), 0);
    EXPECT_EQ(bool(l.underlined), c.thin) << c.f << " " << c.thickness;
    EXPECT_EQ(l.rule_below_gap, c.thin ? 5 : 1000);
  }
}

TEST(Selection, UnderlinedTextlineNeedsOneComponentAlongTheWholeLine) {
  // A tall line box with a bar beside it that reaches past both its ends,
  // and one with a bar that stops halfway.
  Scene s(200, 200);
  s.Glyphs(50, 40, 5, 10, 8, 3, true);
  s.Box(65, 30, 2, 80);
  s.Glyphs(120, 40, 5, 10, 8, 3, true);
  s.Box(135, 30, 2, 40).Box(135, 90, 2, 40);
  s.Label();
  EXPECT_TRUE(is_underlined_textline(s.lab.cc, tagRECT{50, 40, 59, 95}));
  EXPECT_FALSE(is_underlined_textline(s.lab.cc, tagRECT{120, 40, 129, 95}));
  EXPECT_FALSE(is_underlined_textline(s.lab.cc, tagRECT{10, 150, 40, 160}));
}
