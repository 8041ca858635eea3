#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "line_patches.h"
#include "line_votes.h"
#include "text_lines.h"

using namespace turnsense;

namespace {

struct Crop {
  int w, h;
  std::vector<uint8_t> px;
  Crop(int width, int height) : w(width), h(height), px(size_t(width) * height, 255) {}
  Crop& Box(int x, int y, int bw, int bh) {
    for (int yy = y; yy < y + bh; ++yy)
      for (int xx = x; xx < x + bw; ++xx) px[size_t(yy) * w + xx] = 0;
    return *this;
  }
};

}  // namespace

TEST(TextValidity, HeightAndWidthRules) {
  struct Case {
    int w, h;
    bool glyphs, valid;
  };
  for (const Case& c : {Case{400, 13, true, false}, Case{121, 12, false, true}, Case{100, 40, true, false},
                        Case{200, 30, true, true}, Case{200, 30, false, false}}) {
    Crop crop(c.w, c.h);
    if (c.glyphs)
      for (int x = 2; x + c.h / 2 < c.w - 1; x += c.h * 2 / 3 + 2) crop.Box(x, 1, c.h / 2, c.h - 2);
    int flag = 0;
    EXPECT_EQ(CheckTextvalidate(crop.px.data(), c.w, c.h, flag), c.valid) << c.w << "x" << c.h;
    EXPECT_EQ(flag, c.glyphs ? 1 : 0) << c.w << "x" << c.h;
  }
  Crop small(50, 18);
  int untouched = 5;
  EXPECT_TRUE(CheckTextvalidate_v1(small.px.data(), 50, 18, untouched));
  EXPECT_FALSE(CheckTextvalidate_v1(small.px.data(), 50, 17, untouched));
  EXPECT_EQ(untouched, 5);
}

TEST(PatchPosition, NearestCandidateOrTarget) {
  const int h = 21, pw = 81;  // patch width for h = 21
  {
    Crop empty(300, h);
    for (int mode : {0, 1, 2}) {
      int start = -1;
      GetPatchPos(empty.px.data(), 300, h, start, mode);
      EXPECT_EQ(start, (300 - pw) / 2);
    }
  }
  {
    // Target 109: glyphs at 99 and 119 are equally near; the first wins.
    Crop c(300, h);
    c.Box(99, 4, 6, 12).Box(119, 4, 6, 12);
    int start = -1;
    GetPatchPos(c.px.data(), 300, h, start, 0);
    EXPECT_EQ(start, 99);
  }
  {
    // A candidate is one whose patch ends before the right edge.
    Crop c(200, h);
    c.Box(119, 4, 6, 12).Box(60, 4, 6, 12);
    int start = -1;
    GetPatchPos_right(c.px.data(), 200, h, start, 0);  // target 133 - 40 = 93
    EXPECT_EQ(start, 60);                              // 119 + 81 = 200 is the edge: no candidate
  }
  {
    // A lone glyph next to the centre target (159) and a word further on:
    // mode 0 takes the nearest start, mode 1 the window with the most ink.
    Crop c(400, h);
    c.Box(150, 4, 6, 12);
    for (int x = 250; x < 310; x += 12) c.Box(x, 4, 6, 12);
    int start = -1;
    GetPatchPos(c.px.data(), 400, h, start, 0);
    EXPECT_EQ(start, 150);
    GetPatchPos(c.px.data(), 400, h, start, 1);
    EXPECT_EQ(start, 250);
  }
  {
    Crop c(300, h);
    c.Box(10, 4, 6, 12).Box(30, 4, 6, 12);
    int start = -1;
    GetPatchPos_left(c.px.data(), 300, h, start, 0);  // target 50 - 40 = 10
    EXPECT_EQ(start, 10);
  }
}

TEST(Votes, DoublingAndDisplacement) {
  int32_t counts[5] = {};
  double sums[5] = {};
  int best = -1, second = 0;
  double best_sum = 0, second_sum = 0;
  float c = 1.0f;
  voteByConfidence(counts, sums, best, best_sum, second, second_sum, 2, c, 1);
  EXPECT_FLOAT_EQ(c, 1.0f);
  EXPECT_EQ(best, 2);
  c = 1.5f;
  voteByConfidence(counts, sums, best, best_sum, second, second_sum, 1, c, 1);
  EXPECT_FLOAT_EQ(c, 3.0f);
  EXPECT_DOUBLE_EQ(sums[1], 3.0);
  EXPECT_EQ(best, 1);
  EXPECT_EQ(second, 2);
  EXPECT_DOUBLE_EQ(second_sum, 1.0);
  c = 0.5f;
  voteByConfidence(counts, sums, best, best_sum, second, second_sum, 1, c, 1);  // best again: second stays
  EXPECT_EQ(second, 2);
  EXPECT_EQ(counts[1], 2);
  c = 1.5f;
  voteByConfidence(counts, sums, best, best_sum, second, second_sum, 0, c, 0);  // 1.5 > 1.0: new second
  EXPECT_EQ(second, 0);
  c = 1.5f;
  voteByConfidence(counts, sums, best, best_sum, second, second_sum, 3, c, 0);  // equal sums never displace
  EXPECT_EQ(second, 0);
}

TEST(Votes, LanguageScoreAndHeight) {
  TEXTLINE line;
  std::memset(&line, 0, sizeof line);
  init_textline(&line);
  line.box = tagRECT{100, 10, 400, 20};
  int32_t counters[25] = {};
  const int cats[2] = {3, 0};                            // a CJ category and a Latin one
  add_language_score(counters, cats, 1000, line, 3, 1);  // left 300 < 333
  EXPECT_EQ(counters[3], 4);
  EXPECT_EQ(counters[0], 1);
  line.box.left = 120;  // 360: not in the left third
  add_language_score(counters, cats, 1000, line, 3, 0);
  EXPECT_EQ(counters[3], 7);
  add_language_score(counters, cats, 1000, line, 3, -1);
  EXPECT_EQ(counters[3], 7);
  // A line without a category (-1) counts nowhere instead of before the array.
  int32_t guarded[26] = {};
  const int none[1] = {-1};
  add_language_score(guarded + 1, none, 1000, line, 3, 0);
  for (int32_t v : guarded) EXPECT_EQ(v, 0);

  EXPECT_EQ(checkHeight(nullptr, 3, 3), 0);
  EXPECT_EQ(checkHeight(&line, 0, 3), 0);
  // (b + 1) s + 1 - (t - 1) s: 6 rows at s 3 give 22; 5 rows give 19.
  line.box = tagRECT{0, 10, 100, 15};
  EXPECT_EQ(checkHeight(&line, 1, 3), 1);
  line.box.bottom = 14;
  EXPECT_EQ(checkHeight(&line, 1, 3), 0);
  line.orientation = 1;
  line.box = tagRECT{10, 0, 15, 100};
  EXPECT_EQ(checkHeight(&line, 1, 3), 1);
  line.orientation = 2;
  EXPECT_EQ(checkHeight(&line, 1, 3), 0);
}
