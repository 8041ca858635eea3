// The judges' inner rules that no export shows on its own: the global
// threshold, the tables, the margins, and the faint-detail count that no
// entry calls.
#include <vector>

#include "fsipctl_test_util.h"
#include "judge_internal.h"
#include "judges_test_util.h"

using judges_test::Page;

namespace {

const auto* const kDirs = ::testing::AddGlobalTestEnvironment(new fsipctl_test::PrivateDirs);

int Threshold(std::initializer_list<std::pair<int, double>> levels) {
  double bins[256] = {};
  for (const auto& l : levels) bins[l.first] = l.second;
  return p2ijdgwp::img_hist_bw(bins);
}

TEST(JudgesUnit, GlobalThresholdOfTwoLevels) {
  EXPECT_EQ(Threshold({{65, 50}, {190, 50}}), 128);
  EXPECT_EQ(Threshold({{60, 50}, {196, 50}}), 129);
  EXPECT_EQ(Threshold({{60, 50}, {190, 50}}), 123);
  // One level: the candidate whose upper centre is nearest, the lowest of
  // equals; an empty histogram costs nothing anywhere.
  EXPECT_EQ(Threshold({{250, 100}}), 239);
  EXPECT_EQ(Threshold({{5, 100}}), 10);
  EXPECT_EQ(Threshold({}), 10);
}

TEST(JudgesUnit, HistogramSamplesEveryFourthPixelOfTheArea) {
  Page page(20, 20, 8, 200);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      if (x % 4 != 1 || y % 4 != 1) page.Grey(x, y, 0);
  _P2IIMG p = page.P2i();
  judges::WorkImage w;
  ASSERT_EQ(judges::RegionOf(p, 1, &w), 0);
  judges::Area a;
  a.sx = 1, a.sy = 1, a.ex = 18, a.ey = 18;  // 18 x 18: 5 x 5 samples
  double bins[256];
  p2ijdgwp::img_hist_make(w, a, bins);
  EXPECT_DOUBLE_EQ(bins[200], 100.0 * 25 / 25);
  EXPECT_DOUBLE_EQ(bins[0], 0);
}

TEST(JudgesUnit, Tables) {
  struct Level {
    int level, t, k;
  } levels[] = {{-5, 20, 2}, {-4, 25, 2}, {-3, 25, 3}, {-2, 30, 3}, {-1, 35, 3}, {0, 35, 4}, {1, 40, 7},
                {2, 40, 12}, {3, 42, 12}, {4, 43, 15}, {5, 45, 15}, {6, 35, 4},  {-6, 35, 4}};
  for (const Level& l : levels) {
    int t, k;
    p2idepth::LevelParameters(l.level, &t, &k);
    EXPECT_EQ(t, l.t) << l.level;
    EXPECT_EQ(k, l.k) << l.level;
  }
  struct Factor {
    int dpi, f;
  } factors[] = {{25, 1},  {99, 1},  {100, 2}, {149, 2}, {150, 3}, {199, 3},  {200, 4},
                 {299, 4}, {300, 6}, {399, 6}, {400, 8}, {599, 8}, {600, 12}, {1200, 12}};
  for (const Factor& f : factors) EXPECT_EQ(p2idepth::ReductionFactor(f.dpi), f.f) << f.dpi;
  EXPECT_EQ(judges::MarginOf(1895, 12), 48);
  EXPECT_EQ(judges::MarginOf(1896, 12), 192);
  EXPECT_EQ(judges::NeighbourDistance(599, 1.0), 4);
  EXPECT_EQ(judges::NeighbourDistance(600, 1.0), 6);
  EXPECT_EQ(judges::NeighbourDistance(299, 2.0), 4);
  EXPECT_EQ(judges::NeighbourDistance(300, 1.5), 6);
}

TEST(JudgesUnit, ExaminedAreaKeepsNeighboursOnThePage) {
  // 600 dpi across but 25 down: 4-row margins, and neighbours 6 rows away.
  Page page(2000, 150, 8, 255);
  page.xres = 600, page.yres = 25;
  _P2IIMG p = page.P2i();
  judges::WorkImage w;
  ASSERT_EQ(judges::RegionOf(p, 1, &w), 0);
  const judges::Area a = judges::ExaminedArea(w, 6);
  EXPECT_EQ(a.my, 4);
  EXPECT_EQ(a.sy, 6);
  EXPECT_EQ(a.ey, 150 - 1 - 6);
}

TEST(JudgesUnit, FaintDetailCountWithoutACaller) {
  // An A4 page: the form without a caller applies the zone thresholds to
  // every page and adds only values up to 30 to the index.
  Page page(2480, 3508, 8, 250);
  for (int i = 0; i < 5; ++i) page.Grey(192 + 7 * i, 192 + 70, 210);         // 40 in the zone: a faint detail there
  for (int i = 0; i < 3; ++i) page.Grey(192 + 280 + 7 * i, 192 + 280, 225);  // 25 outside the zones
  _P2IIMG p = page.P2i();
  judges::WorkImage w;
  ASSERT_EQ(judges::RegionOf(p, 1, &w), 0);
  unsigned index = 100;
  EXPECT_EQ(p2ijdgwp::img_gray2mono_imgall_uragami(w, 24, 1.0, &index), 1);
  EXPECT_EQ(index, 103u);
  // The third judge's count on the same A4 page: 30 everywhere, the index
  // left alone.
  index = 100;
  EXPECT_EQ(p2ijdgwp::img_gray2mono_imgall_uragami2(w, 24, 1.0, &index), 1);
  EXPECT_EQ(index, 100u);
}

}  // namespace
