#include <gtest/gtest.h>

#include "line_checks.h"
#include "scene.h"

using namespace turnsense;

namespace {

int StatusAt(Scene& s, int x, int y) { return s.lab.cc.status[s.lab.map[size_t(y) * s.w + x]]; }

TEXTLINE LineBox(int left, int top, int right, int bottom) {
  TEXTLINE l;
  std::memset(&l, 0, sizeof l);
  init_textline(&l);
  l.box = l.core = tagRECT{left, top, right, bottom};
  l.valid = 1;
  return l;
}

void Stripes(Scene& s, int x, int y, int w, int stripes) {
  for (int i = 0; i < stripes; ++i) s.Box(x, y + 2 * i, w, 1);
}

}  // namespace

TEST(NoiseRemoval, StatusTable) {
  Scene s(1000, 1000);
  s.Box(10, 10, 250, 1);    // one-pixel rule, a quarter of the page wide
  s.Box(10, 30, 6, 1);      // 1 x 6 dots
  s.Box(10, 50, 400, 12);   // bar, a third wide
  s.Box(10, 80, 200, 12);   // bar, thick
  s.Box(10, 110, 500, 20);  // half the page wide
  s.Box(10, 150, 20, 1).Box(10, 169, 20, 1).Box(10, 150, 1, 20).Box(29, 150, 1, 20);  // empty frame: sparse
  s.Box(10, 200, 8, 10);                                                              // a glyph
  for (int x = 10; x < 110; x += 4) s.Box(x, 230, 2, 8);                              // comb: wide, short gaps
  s.Box(10, 237, 100, 1);
  s.Label();
  ASSERT_EQ(noise_cc_removal_v1(s.px.data(), s.w, s.h, s.lab.cc, 0), 0);
  EXPECT_EQ(StatusAt(s, 10, 10), -3);
  EXPECT_EQ(StatusAt(s, 10, 30), -3);
  EXPECT_EQ(StatusAt(s, 10, 50), -4);
  EXPECT_EQ(StatusAt(s, 10, 80), -2);
  EXPECT_EQ(StatusAt(s, 10, 110), -4);
  EXPECT_EQ(StatusAt(s, 10, 150), -1);
  EXPECT_EQ(StatusAt(s, 10, 200), 0);
  EXPECT_EQ(StatusAt(s, 10, 230), 0);
  EXPECT_EQ(s.px[size_t(10) * s.w + 100], 255);  // removed ink is painted white
  EXPECT_EQ(s.px[size_t(200) * s.w + 12], 0);
  EXPECT_EQ(s.lab.cc.status[0], 0);
  // A size level removes what is narrower or lower than it.
  ASSERT_EQ(noise_cc_removal_v1(s.px.data(), s.w, s.h, s.lab.cc, 9), 0);
  EXPECT_EQ(StatusAt(s, 10, 200), -3);
  EXPECT_EQ(StatusAt(s, 10, 230), -3);
}

TEST(Verification, VerdictsOnDrawnLines) {
  Scene s(400, 200);
  Stripes(s, 10, 10, 60, 10);                                 // 1: ten runs per column
  Stripes(s, 10, 60, 20, 6);                                  // 3: one long dense segment ...
  for (int x = 40; x < 100; x += 6) s.Box(x, 60, 2, 3);       // ... among short single runs
  for (int x = 10; x < 46; x += 6) Stripes(s, x, 100, 2, 4);  // 4: short dense segments
  s.Box(60, 100, 30, 2);                                      // and one long light one
  for (int x = 150; x < 240; x += 30) s.Box(x, 10, 20, 12);   // 5: solid blocks
  for (int x = 150; x < 230; x += 12) {                       // accepted: ring glyphs
    s.Box(x, 60, 8, 1).Box(x, 69, 8, 1).Box(x, 60, 1, 10).Box(x + 7, 60, 1, 10);
  }
  s.Label();
  TEXTLINE lines[6] = {LineBox(10, 10, 69, 29),   LineBox(150, 120, 200, 130), LineBox(10, 60, 99, 75),
                       LineBox(10, 100, 89, 119), LineBox(150, 10, 229, 21),   LineBox(150, 60, 229, 69)};
  lines[1].valid = 1;
  TEXTLINE invalid = LineBox(10, 10, 69, 29);
  invalid.valid = 0;
  std::vector<TEXTLINE> in(lines, lines + 6);
  in.push_back(invalid);
  std::vector<TEXTLINE> out(in.size());
  for (auto& o : out) {
    std::memset(&o, 0, sizeof o);
    init_textline(&o);
  }
  int kept = -1;
  ASSERT_EQ(textline_verification(s.rows.data(), s.w, s.h, in.data(), int(in.size()), out.data(), &kept, 0), 0);
  EXPECT_EQ(in[0].verdict, 1);
  EXPECT_EQ(in[1].verdict, 2);
  EXPECT_EQ(in[2].verdict, 3);
  EXPECT_EQ(in[3].verdict, 4);
  EXPECT_EQ(in[4].verdict, 5);
  EXPECT_EQ(in[5].verdict, -1);
  EXPECT_EQ(in[6].verdict, -1);
  ASSERT_EQ(kept, 1);
  EXPECT_EQ(out[0].line_index, 0);
  EXPECT_EQ(out[0].width, 80);
  EXPECT_EQ(out[0].height, 10);
  EXPECT_FLOAT_EQ(out[0].elongation, 8.0f);
}

TEST(MultiLine, OneTwoAndSolidBoxes) {
  Scene s(300, 100);
  s.Glyphs(10, 12, 6, 8, 8, 3);   // one line in rows 12..19
  s.Glyphs(110, 12, 6, 8, 8, 3);  // two lines
  s.Glyphs(110, 32, 6, 8, 8, 3);
  s.Box(210, 10, 60, 30);  // solid
  s.Label();
  EXPECT_FALSE(is_multi_line_v2(s.rows.data(), s.w, s.h, tagRECT{8, 10, 78, 22}));
  EXPECT_TRUE(is_multi_line_v2(s.rows.data(), s.w, s.h, tagRECT{108, 10, 178, 42}));
  EXPECT_FALSE(is_multi_line_v2(s.rows.data(), s.w, s.h, tagRECT{210, 10, 269, 39}));
  int several = 7;
  EXPECT_EQ(is_multi_line_v1(s.rows.data(), s.w, s.h, &several, tagRECT{210, 10, 269, 39}), 0xfffc);
  EXPECT_EQ(several, 0);
}

TEST(LikelyhoodSize, BodyOfRunsOrWholeSideWithoutInk) {
  std::vector<uint8_t> empty(40 * 10, 255);
  float size = 0;
  ASSERT_EQ(likelyhood_size(empty.data(), 40, 10, 3, &size), 0);
  EXPECT_FLOAT_EQ(size, 30.0f);
  ASSERT_EQ(likelyhood_size(empty.data(), 10, 40, 2, &size), 0);
  EXPECT_FLOAT_EQ(size, 20.0f);
  std::vector<uint8_t> text(40 * 20, 255);
  for (int y = 5; y < 15; ++y)
    for (int x = 0; x < 40; x += 4) text[size_t(y) * 40 + x] = 0;
  ASSERT_EQ(likelyhood_size(text.data(), 40, 20, 1, &size), 0);
  EXPECT_FLOAT_EQ(size, 10.0f);
}
