// Connected-component labelling against a flood-fill reference.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "CABitmap.h"
#include "bitmap_test_util.h"

using namespace bmptest;

namespace {

// Labels area and holds the whole result to the flood fill: the same boxes in
// the same order, numbers equal to indexes, entry 0 zero, maxbytes, the
// clipped area, and the image (padding included) unchanged.
void ExpectLikeFlood(CABitmap const& b, ARECT2 area) {
  auto before = Bytes(b);
  LBL_DATA d;
  ASSERT_EQ(lbl_main2(b, d, area), 0);
  ARECT2 c;
  b.clip(c, area);
  auto expected = FloodGroups(b, c);
  EXPECT_EQ(Boxes(d), expected);
  EXPECT_EQ(d.left, c.left);
  EXPECT_EQ(d.top, c.top);
  EXPECT_EQ(d.right, c.right);
  EXPECT_EQ(d.bottom, c.bottom);
  ASSERT_NE(d.rects, nullptr);
  KRECT zero{};
  EXPECT_EQ(memcmp(&d.rects[0], &zero, sizeof zero), 0);
  for (int64_t k = 1; k <= d.maxlabel; ++k) {
    EXPECT_EQ(d.rects[k].label, k);
    EXPECT_EQ(d.rects[k].reserved, 0);
  }
  int64_t maxbytes = 0;
  for (const Box& g : expected)
    maxbytes = std::max<int64_t>(maxbytes, ((g.xmax - g.xmin + 8) / 8) * (g.ymax - g.ymin + 1));
  EXPECT_EQ(d.maxbytes, maxbytes);
  EXPECT_EQ(Bytes(b), before);
  lbl_free(&d);
  EXPECT_EQ(d.rects, nullptr);
}

struct RandomCase {
  int width, height;
  double density;
};

}  // namespace

TEST(Labelling, MatchesFloodFillOnRandomImages) {
  const RandomCase cases[] = {{37, 23, 0.05}, {64, 40, 0.3}, {101, 57, 0.5}, {200, 64, 0.62},
                              {9, 300, 0.45}, {1, 50, 0.5},  {333, 7, 0.8}};
  uint32_t seed = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " density " << c.density);
    CABitmap b;
    MakeRandom(b, c.width, c.height, c.density, seed++, 3);
    ExpectLikeFlood(b, ARECT2{0, 0, c.width - 1, c.height - 1});
  }
}

TEST(Labelling, AreaEdgesOnEveryBitPosition) {
  CABitmap b;
  MakeRandom(b, 48, 24, 0.45, 7, 2);
  for (int left = 0; left < 16; ++left)
    for (int right = left; right < left + 24; ++right) {
      SCOPED_TRACE(testing::Message() << "columns " << left << ".." << right);
      ExpectLikeFlood(b, ARECT2{left, 3 + left % 3, right, 20});
    }
}

TEST(Labelling, SmallShapes) {
  struct Shape {
    const char* name;
    std::vector<std::pair<int, int>> pixels;
    std::vector<Box> boxes;
  };
  const Shape shapes[] = {
      {"diagonal neighbours", {{3, 3}, {4, 4}}, {{3, 3, 4, 4}}},
      {"one white column between", {{3, 3}, {5, 3}}, {{3, 3, 3, 3}, {5, 3, 5, 3}}},
      // U whose arms meet at the bottom, a dot before it and one inside it:
      // numbered by the raster order of each group's first pixel
      {"U shape",
       {{12, 0},
        {2, 1},
        {8, 1},
        {2, 2},
        {8, 2},
        {5, 2},
        {2, 3},
        {8, 3},
        {2, 4},
        {3, 4},
        {4, 4},
        {5, 4},
        {6, 4},
        {7, 4},
        {8, 4}},
       {{12, 0, 12, 0}, {2, 1, 8, 4}, {5, 2, 5, 2}}},
  };
  for (const auto& s : shapes) {
    SCOPED_TRACE(s.name);
    CABitmap b;
    b.alloc(16, 8, 1, 0);
    for (auto [x, y] : s.pixels) b.pset(x, y, 1ul);
    LBL_DATA d;
    ASSERT_EQ(lbl_main2(b, d), 0);
    EXPECT_EQ(Boxes(d), s.boxes);
    lbl_free(&d);
  }
}

TEST(Labelling, MaxbytesAndBlankArea) {
  CABitmap b;
  b.alloc(32, 8, 1, 0);
  for (int y = 2; y < 5; ++y)
    for (int x = 10; x < 19; ++x) b.pset(x, y, 1ul);  // 9 x 3
  b.pset(25, 6, 1ul);
  LBL_DATA d;
  ASSERT_EQ(lbl_main2(b, d), 0);
  EXPECT_EQ(d.maxlabel, 2);
  EXPECT_EQ(d.maxbytes, 6);
  lbl_free(&d);

  ASSERT_EQ(lbl_main2(b, d, ARECT2{0, 0, 9, 7}), 0);
  EXPECT_EQ(d.maxlabel, 0);
  EXPECT_EQ(d.maxbytes, 0);
  ASSERT_NE(d.rects, nullptr);
  EXPECT_EQ(d.rects[0].xmax, 0);
  lbl_free(&d);
}

// An area beside the image used to be clipped to the pixel at the origin (or
// to negative sizes that sized the work buffers): it holds no group.
TEST(Labelling, AreaOutsideTheImageHasNoGroups) {
  CABitmap b;
  b.alloc(40, 20, 1, 0);
  b.pset(0, 0, 1ul);
  b.pset(20, 10, 1ul);
  const ARECT2 areas[] = {{40, 0, 50, 5}, {0, 20, 5, 30}, {-10, 0, -1, 5}, {0, -10, 5, -1}, {10, 5, 5, 8}};
  for (const auto& a : areas) {
    SCOPED_TRACE(testing::Message() << a.left << "," << a.top << "," << a.right << "," << a.bottom);
    LBL_DATA d;
    ASSERT_EQ(lbl_main2(b, d, a), 0);
    EXPECT_EQ(d.maxlabel, 0);
    EXPECT_EQ(d.maxbytes, 0);
    ASSERT_NE(d.rects, nullptr);
    EXPECT_EQ(d.rects[0].xmax, 0);
    lbl_free(&d);
  }
  CABitmap empty;
  LBL_DATA d;
  ASSERT_EQ(lbl_main2(empty, d), 0);
  EXPECT_EQ(d.maxlabel, 0);
  lbl_free(&d);
}

// Boxes beyond 32767 pixels used to wrap in 16-bit signed arithmetic.
TEST(Labelling, CoordinatesUpTo65535) {
  CABitmap wide;
  wide.alloc(40000, 3, 1, 0);
  for (int x = 32767; x <= 32769; ++x) wide.pset(x, 0, 1ul);
  for (int x = 39000; x <= 39002; ++x) wide.pset(x, 2, 1ul);
  ExpectLikeFlood(wide, ARECT2{0, 0, 39999, 2});

  CABitmap tall;
  tall.alloc(3, 65537, 1, 0);
  for (int y = 33000; y <= 34000; ++y) tall.pset(1, y, 1ul);
  tall.pset(2, 65535, 1ul);
  tall.pset(0, 65536, 1ul);
  LBL_DATA d;
  ASSERT_EQ(lbl_main2(tall, d, ARECT2{0, 0, 2, 65535}), 0);
  EXPECT_EQ(Boxes(d), (std::vector<Box>{{1, 33000, 1, 34000}, {2, 65535, 2, 65535}}));
  lbl_free(&d);

  // a row beyond what a box can hold is refused, not wrapped
  d.maxlabel = 99;
  EXPECT_EQ(lbl_main2(tall, d), -1);
  EXPECT_EQ(d.rects, nullptr);
  EXPECT_EQ(d.maxlabel, 0);
}

// More than 64000 groups take several passes. A group on the row where a pass
// stops is reported by both passes, and a group crossing it in one piece per
// pass; every other group exactly once.
TEST(Labelling, DensePatternTakesSeveralPasses) {
  const int W = 1003, H = 300;
  CABitmap b;
  b.alloc(W, H, 1, 0);
  for (int y = 0; y < H; y += 2)
    for (int x = 0; x <= 1000; x += 2) b.pset(x, y, 1ul);
  for (int y = 0; y < H; ++y) b.pset(1002, y, 1ul);  // crosses every pass
  auto before = Bytes(b);

  LBL_DATA d;
  ASSERT_EQ(lbl_main2(b, d), 0);
  auto boxes = Boxes(d);
  auto expected = FloodGroups(b, ARECT2{0, 0, W - 1, H - 1});
  ASSERT_GT(d.maxlabel, 64000);
  ASSERT_GE(boxes.size(), expected.size());

  std::map<std::tuple<int, int, int, int>, int> seen;
  std::vector<std::pair<int, int>> linePieces;
  for (size_t k = 0; k < boxes.size(); ++k) {
    const Box& g = boxes[k];
    EXPECT_EQ(d.rects[k + 1].label, static_cast<int64_t>(k + 1));
    if (g.xmin == 1002) {
      EXPECT_EQ(g.xmax, 1002);
      linePieces.push_back({g.ymin, g.ymax});
      continue;
    }
    EXPECT_EQ(g.xmin, g.xmax);
    EXPECT_EQ(g.ymin, g.ymax);
    int times = ++seen[{g.xmin, g.ymin, g.xmax, g.ymax}];
    EXPECT_LE(times, 2) << g;
  }
  // every dot found, in raster order within each pass
  EXPECT_EQ(seen.size(), expected.size() - 1);
  for (const Box& g : expected) {
    if (g.xmin != 1002) {
      EXPECT_TRUE(seen.count({g.xmin, g.ymin, g.xmax, g.ymax})) << g;
    }
  }
  // the line's pieces cover it from top to bottom
  ASSERT_GE(linePieces.size(), 2u);
  std::sort(linePieces.begin(), linePieces.end());
  EXPECT_EQ(linePieces.front().first, 0);
  for (size_t i = 1; i < linePieces.size(); ++i) EXPECT_LE(linePieces[i].first, linePieces[i - 1].second + 1);
  EXPECT_EQ(linePieces.back().second, H - 1);
  EXPECT_EQ(Bytes(b), before);
  lbl_free(&d);
}

// A row of 32768 groups across a 65536-pixel area fills more than half a
// pass at once; labelling still moves on and ends.
TEST(Labelling, FullWidthDenseRowsFinish) {
  const int W = 65536, H = 6;
  CABitmap b;
  b.alloc(W, H, 1, 0);
  for (int y = 0; y < H; y += 2)
    for (int x = 0; x < W; x += 2) b.pset(x, y, 1ul);
  LBL_DATA d;
  ASSERT_EQ(lbl_main2(b, d), 0);
  std::set<Box> unique;
  auto boxes = Boxes(d);
  unique.insert(boxes.begin(), boxes.end());
  auto expected = FloodGroups(b, ARECT2{0, 0, W - 1, H - 1});
  EXPECT_EQ(std::vector<Box>(unique.begin(), unique.end()), expected);
  lbl_free(&d);
}

TEST(LabellingEntries, RecordAndAreaForms) {
  CABitmap b;
  MakeRandom(b, 70, 30, 0.4, 11, 1);
  ABITMAP rec;
  b.getABITMAP(rec);

  LBL_DATA whole, area, viaCore;
  ASSERT_EQ(lbl_main2(&rec, nullptr, &whole), 0);
  EXPECT_EQ(Boxes(whole), FloodGroups(b, ARECT2{0, 0, 69, 29}));
  ARECT r{5, 4, 50, 20};
  ASSERT_EQ(lbl_main2(&rec, &r, &area), 0);
  ASSERT_EQ(lbl_main2(b, viaCore, ARECT2{5, 4, 54, 23}), 0);
  EXPECT_EQ(Boxes(area), Boxes(viaCore));
  EXPECT_EQ(area.right, 54);
  lbl_free2(&whole);
  lbl_free2(&area);
  lbl_free(&viaCore);

  // img_mono2label sets only the boxes and their count
  LBL_DATA m;
  memset(&m, 0, sizeof m);
  m.left = m.top = m.right = m.bottom = 77;
  m.maxbytes = 55;
  ASSERT_EQ(img_mono2label(b.m_data, b.m_bpl, 70, 30, 5, 4, 54, 23, &m), 0);
  EXPECT_EQ(Boxes(m), FloodGroups(b, ARECT2{5, 4, 54, 23}));
  EXPECT_EQ(m.left, 77);
  EXPECT_EQ(m.bottom, 77);
  EXPECT_EQ(m.maxbytes, 55);
  EXPECT_EQ(img_mono2label_free(&m), 0);
  EXPECT_EQ(m.rects, nullptr);
  EXPECT_EQ(m.left, 0);

  KIMAGE k{70, 30, b.m_bpl, b.m_data};
  LBL_DATA kd{};
  ASSERT_EQ(lbl_main2_k(&k, &r, &kd), 0);
  EXPECT_EQ(Boxes(kd), FloodGroups(b, ARECT2{5, 4, 54, 23}));
  EXPECT_EQ(lbl_free2_k(&kd), 0);
  EXPECT_EQ(lbl_main2_k(&k, nullptr, &kd), -1);
  EXPECT_EQ(lbl_free(nullptr), 0);
}

// A record whose rows are shorter than its width is refused, not read past
// its buffer or taken for a blank page.
TEST(LabellingEntries, InconsistentRecordIsRefused) {
  std::vector<uint8_t> pixels(4 * 10, 0xFF);
  ABITMAP rec{pixels.data(), pixels.size(), 1, 64, 10, 4};
  LBL_DATA d;
  d.maxlabel = 5;
  EXPECT_EQ(lbl_main2(&rec, nullptr, &d), -1);
  EXPECT_EQ(d.maxlabel, 0);
  EXPECT_EQ(d.rects, nullptr);
  LBL_DATA m{};
  EXPECT_EQ(img_mono2label(pixels.data(), 4, 64, 10, 0, 0, 63, 9, &m), -1);
  EXPECT_EQ(m.rects, nullptr);
  EXPECT_EQ(lbl_main2(nullptr, nullptr, &d), -1);
}
