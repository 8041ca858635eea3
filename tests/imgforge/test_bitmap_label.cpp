// Connected-component labelling against a flood-fill reference.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "CABitmap.h"
#include "bitmap_internal.h"
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

namespace {

// Runs of row y inside the area that touch no black pixel of row y - 1
// (8-connected): the labels the row makes when the row above is labelled in
// the same pass.
long NewRuns(CABitmap const& b, ARECT2 const& a, int y, bool above) {
  long n = 0;
  for (int x = a.left; x <= a.right; ++x) {
    if (!Px(b, x, y) || (x > a.left && Px(b, x - 1, y))) continue;
    int xe = x;
    while (xe < a.right && Px(b, xe + 1, y)) ++xe;
    bool touches = false;
    for (int c = std::max(a.left, x - 1); above && c <= std::min(a.right, xe + 1); ++c) touches |= Px(b, c, y - 1);
    n += !touches;
  }
  return n;
}

// The rows each pass labels: before every row, the closing row below the
// area included, a pass whose labels exceed N - (W + 1) / 2 ends, and the
// next one starts again at the last row it labelled.
std::vector<std::pair<int, int>> Passes(CABitmap const& b, ARECT2 const& a) {
  const long W = a.right - a.left + 1, H = a.bottom - a.top + 1;
  const long rowLabels = (W + 1) / 2;
  const long N = std::min<long>(64000, rowLabels * ((H + 1) / 2 + 1));
  std::vector<std::pair<int, int>> passes;
  for (int s = a.top;;) {
    long made = 0;
    for (int r = s;; ++r) {
      if (made > N - rowLabels) {
        passes.push_back({s, r - 1});
        s = r - 1;
        break;
      }
      if (r > a.bottom) {
        passes.push_back({s, a.bottom});
        return passes;
      }
      made += NewRuns(b, a, r, r > s);
    }
  }
}

}  // namespace

// Each pass reports the groups of its own rows in raster order, numbered on
// from the pass before; where a pass ends is fixed by the 64000 cap.
TEST(Labelling, PassesEndWhereTheCapEndsThem) {
  struct Case {
    const char* name;
    int width, height;
    bool random;  // else dots on every second column of every second row
    ARECT2 area;
    size_t passes;
  };
  // 127 rows of 501 dots fill a pass only after its last row: the closing
  // row ends it, and a second pass labels the bottom row again. A column
  // right of the dots (1003 wide) makes a group that crosses the seam.
  const Case cases[] = {{"full after the last row", 1001, 253, false, {0, 0, 1000, 252}, 2},
                        {"dots and a long line", 1003, 300, false, {0, 0, 1002, 299}, 2},
                        {"random, inner area", 1200, 1000, true, {3, 5, 1190, 990}, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CABitmap b;
    if (c.random) {
      MakeRandom(b, c.width, c.height, 0.15, 99, 1);
    } else {
      b.alloc(c.width, c.height, 1, 0);
      for (int y = 0; y < c.height; y += 2)
        for (int x = 0; x <= 1000; x += 2) b.pset(x, y, 1ul);
      for (int y = 0; y < c.height && c.width > 1002; ++y) b.pset(1002, y, 1ul);
    }
    auto passes = Passes(b, c.area);
    ASSERT_EQ(passes.size(), c.passes);
    std::vector<Box> expected;
    for (auto [top, bottom] : passes) {
      auto part = FloodGroups(b, ARECT2{c.area.left, top, c.area.right, bottom});
      expected.insert(expected.end(), part.begin(), part.end());
    }
    auto before = Bytes(b);
    LBL_DATA d;
    ASSERT_EQ(lbl_main2(b, d, c.area), 0);
    EXPECT_EQ(d.maxlabel, static_cast<int64_t>(expected.size()));
    EXPECT_TRUE(Boxes(d) == expected);
    for (int64_t k = 0; k <= d.maxlabel; ++k) ASSERT_EQ(d.rects[k].label, k);
    EXPECT_EQ(Bytes(b), before);
    lbl_free(&d);
  }
}

namespace {

// Working storage of one pass, sized for an area of the given width.
struct Engine {
  explicit Engine(int width, unsigned short capacity)
      : above((width + 1) / 2 + 1),
        cur((width + 1) / 2 + 1),
        parents(capacity + 1),
        boxes(capacity + 1),
        work{above.data(), cur.data(), parents.data(), boxes.data(), capacity} {}
  std::vector<LblRun> above, cur;
  std::vector<unsigned short> parents;
  std::vector<x1y1x2y2> boxes;
  LblWork work;
};

}  // namespace

// One pass of the row-pair engine: it stops before the row that might not
// fit, the closing row included, and hands back where the next pass starts.
TEST(LabellingEngine, PassStopsBeforeARowThatMightNotFit) {
  CABitmap b;
  b.alloc(9, 5, 1, 0);
  for (int y = 0; y < 5; y += 2) b.m_data[y * b.m_bpl] = 0xAA, b.m_data[y * b.m_bpl + 1] = 0x80;  // 5 dots
  Engine e(9, 12);  // a pass is full once it holds more than 12 - 5 labels
  struct Step {
    int start, result, next;
    long nprov, ngroups;
  };
  const Step steps[] = {{0, 1, 2, 10, 10}, {2, 1, 4, 10, 10}, {4, 0, 4, 5, 5}};
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "from row " << s.start);
    int row = s.start;
    long nprov = -1, ngroups = -1;
    EXPECT_EQ(lbefs_xy(b, 0, 0, 8, 4, &row, &nprov, &ngroups, e.work), s.result);
    EXPECT_EQ(row, s.next);
    EXPECT_EQ(nprov, s.nprov);
    EXPECT_EQ(ngroups, s.ngroups);
    for (long j = 1; j <= nprov; ++j) EXPECT_EQ(e.parents[j], j);
    EXPECT_EQ(e.boxes[1].y1, s.start);
    EXPECT_EQ(e.boxes[1].x2, 0);
  }
  int row = 6;
  long nprov = -1, ngroups = -1;
  EXPECT_EQ(lbefs_xy(b, 0, 0, 8, 4, &row, &nprov, &ngroups, e.work), 0);
  EXPECT_EQ(nprov, 0);
  EXPECT_EQ(ngroups, 0);
}

// Two arms joined below: two provisional labels, one group; the parent table
// ends as final numbers and the boxes of both labels make the group's box.
TEST(LabellingEngine, MergedLabelsShareTheirFinalNumber) {
  CABitmap b;
  b.alloc(16, 4, 1, 0);
  for (int y = 0; y < 3; ++y) b.pset(2, y, 1ul), b.pset(9, y, 1ul);
  for (int x = 2; x <= 9; ++x) b.pset(x, 3, 1ul);
  b.pset(14, 1, 1ul);
  Engine e(16, 100);
  int row = 0;
  long nprov = 0, ngroups = 0;
  ASSERT_EQ(lbefs_xy(b, 0, 0, 15, 3, &row, &nprov, &ngroups, e.work), 0);
  EXPECT_EQ(nprov, 3);
  EXPECT_EQ(ngroups, 2);
  EXPECT_EQ(std::vector<unsigned short>(e.parents.begin() + 1, e.parents.begin() + 4),
            (std::vector<unsigned short>{1, 1, 2}));
  std::vector<KRECT> rects(3);
  EXPECT_EQ(lbl_kousin_structRECT(e.parents.data(), e.boxes.data(), nprov, rects.data(), ngroups, 7), 0);
  EXPECT_EQ((Box{rects[1].xmin, rects[1].ymin, rects[1].xmax, rects[1].ymax}), (Box{2, 0, 9, 3}));
  EXPECT_EQ((Box{rects[2].xmin, rects[2].ymin, rects[2].xmax, rects[2].ymax}), (Box{14, 1, 14, 1}));
  EXPECT_EQ(rects[1].label, 7);
  EXPECT_EQ(rects[2].label, 8);
  EXPECT_EQ(rects[2].reserved, 0);
}

TEST(LabellingEngine, CountActLabelNumbersRootsInOrder) {
  // 1 and 4 are roots; 2 -> 1, 3 -> 2, 5 -> 4, 6 -> 1
  std::vector<unsigned short> parents = {0, 0, 1, 2, 0, 4, 1};
  EXPECT_EQ(count_actLabel(parents.data(), 6), 2);
  EXPECT_EQ(parents, (std::vector<unsigned short>{0, 1, 1, 1, 2, 2, 1}));
  EXPECT_EQ(count_actLabel(parents.data(), 0), 0);
}

// The grooves clear the pixels beside the area in its boundary bytes and
// are filled back byte for byte, also when both edges share one byte.
TEST(LabellingEngine, GroovesAreDugAndFilledBack) {
  const int columns[][2] = {{0, 23}, {3, 20}, {9, 13}, {10, 10}, {8, 15}, {17, 17}, {5, 6}};
  for (auto [x1, x2] : columns) {
    SCOPED_TRACE(testing::Message() << "columns " << x1 << ".." << x2);
    CABitmap b;
    MakeRandom(b, 24, 6, 0.7, 5);
    auto before = Bytes(b);
    std::vector<unsigned char> save(2 * 4, 0);
    mizo_horu(b, x1, 1, x2, 4, save.data());
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 24; ++x) {
        bool cleared = y >= 1 && y <= 4 && ((x >> 3 == x1 >> 3 && x < x1) || (x >> 3 == x2 >> 3 && x > x2));
        CABitmap ref;
        ref.set(24, 6, 1, b.m_bpl, before.data());
        ASSERT_EQ(Px(b, x, y), !cleared && Px(ref, x, y)) << x << "," << y;
      }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(save[i], before[(1 + i) * b.m_bpl + (x1 >> 3)]);
    if (x1 >> 3 != x2 >> 3) {
      for (int i = 0; i < 4; ++i) EXPECT_EQ(save[4 + i], before[(1 + i) * b.m_bpl + (x2 >> 3)]);
    }
    mizo_umeru(b, x1, 1, x2, 4, save.data());
    EXPECT_EQ(Bytes(b), before);
  }
  // grooves beside the pixels touch nothing
  CABitmap b;
  MakeRandom(b, 24, 6, 0.7, 6);
  auto before = Bytes(b);
  unsigned char save[16] = {};
  mizo_horu(b, 20, 0, 30, 3, save);
  mizo_horu(b, -3, 0, 5, 3, save);
  mizo_horu(b, 0, 4, 5, 7, save);
  EXPECT_EQ(Bytes(b), before);
}
