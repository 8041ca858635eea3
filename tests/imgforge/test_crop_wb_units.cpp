// The white-background engine's routines against the values they must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "P2iCrppr.h"

namespace {

using namespace p2iwb;

_P2IIMG Grey(std::vector<uint8_t>& px, int w, int h, int dpi) {
  return _P2IIMG{px.data(), 8, 0, w, h, w, w * h, dpi, dpi, 0, 0, w - 1, h - 1};
}

TEST(WBTables, InverseGammaAndWindowMean) {
  std::vector<uint8_t> px = {0, 12, 128, 255};
  _P2IIMG img{px.data(), 8, 0, 4, 1, 4, 4, 100, 100, 0, 0, 3, 0};
  DoInvGamma(&img);
  EXPECT_EQ((std::vector<uint8_t>{0, 1, 74, 255}), px);
  std::vector<uint8_t> win(25, 100);
  int mean = 0;
  GetStDev_Mono(win.data() + 12, 5, nullptr, &mean, 0);
  EXPECT_EQ(100, mean);  // (2500 * 41) >> 10
}

// The line profiles slide their 5 x 5 sums along the line: each mean is the
// window routine's, in grey and in every colour channel.
TEST(WBTables, LineProfilesAreTheWindowMeans) {
  const int w = 23, h = 19;
  std::vector<uint8_t> grey(static_cast<size_t>(w) * h), rgb(static_cast<size_t>(w) * h * 3);
  uint32_t x = 7;
  for (auto* v : {&grey, &rgb})
    for (auto& b : *v) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23);
  _P2IIMG g = Grey(grey, w, h, 100);
  _P2IIMG c{rgb.data(), 24, 0, w, h, 3 * w, 3 * w * h, 100, 100, 0, 0, w - 1, h - 1};
  std::vector<uint8_t> dev(64), row(64), col(3 * 64);
  GetStDevH(&g, 9, 0, dev.data(), row.data());
  for (int k = 2; k <= w - 3; ++k) {
    int m = 0;
    GetStDev_Mono(&grey[static_cast<size_t>(9) * w + k], w, nullptr, &m, 0);
    EXPECT_EQ(m, row[static_cast<size_t>(k)]) << k;
  }
  StDevColumnRGB(&c, 5, col.data());
  for (int ch = 0; ch < 3; ++ch) {
    GetStDevV(&c, 5, ch, dev.data(), row.data());
    for (int k = 0; k < h; ++k) EXPECT_EQ(row[static_cast<size_t>(k)], col[static_cast<size_t>(ch * h + k)]) << ch << "," << k;
    for (int k = 2; k <= h - 3; ++k) {
      int m = 0;
      GetStDev_RGB(&rgb[(static_cast<size_t>(k) * w + 5) * 3 + ch], 3 * w, nullptr, &m, 0);
      EXPECT_EQ(m, row[static_cast<size_t>(k)]) << ch << "," << k;
    }
  }
}

// The colour row profile walks a row once for all three channels: every
// mean, ends included, is the one-channel profile's, on widths from the
// narrowest the profile takes to ones whose bytes end off any vector; the
// reference rows take the same (and zero deviations).
TEST(WBTables, ColourRowProfileIsTheChannelProfiles) {
  uint32_t x = 3;
  for (int w : {5, 6, 7, 13, 37, 70}) {
    const int h = 9;
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (auto& b : rgb) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23);
    for (size_t i = 0; i < rgb.size(); i += 17) rgb[i] = 255;  // sums up to the clamp
    _P2IIMG c{rgb.data(), 24, 0, w, h, 3 * w, 3 * w * h, 100, 100, 0, 0, w - 1, h - 1};
    std::vector<uint8_t> all(3 * static_cast<size_t>(w)), dev(static_cast<size_t>(w)), one(static_cast<size_t>(w));
    for (int row : {2, 4, h - 3}) {
      StDevRowRGB(&c, row, all.data());
      for (int ch = 0; ch < 3; ++ch) {
        GetStDevH(&c, row, ch, dev.data(), one.data());
        EXPECT_EQ(0, std::memcmp(one.data(), all.data() + static_cast<size_t>(ch) * w, static_cast<size_t>(w)))
            << w << " row " << row << " channel " << ch;
      }
    }
    std::vector<uint8_t> refDev(3 * static_cast<size_t>(w), 7), refMean(3 * static_cast<size_t>(w));
    MakeStdData(&c, 1, refDev.data(), refMean.data());
    StDevRowRGB(&c, h - 3, all.data());
    EXPECT_EQ(all, refMean) << w;
    EXPECT_EQ(std::vector<uint8_t>(refDev.size(), 0), refDev) << w;
  }
}

TEST(WBTables, TruncatingCrossingAgainstTheMainEngine) {
  const _STRTLINE upright{0, 0, 1, 3}, flat{0, -0.7, 0, 0};
  tagPOINT a{}, b{};
  ASSERT_TRUE(GetXPoint(upright, flat, &a));
  ASSERT_TRUE(fsipcrop::GetXPt(upright, flat, &b));
  EXPECT_EQ(3, a.x);
  EXPECT_EQ(0, a.y);
  EXPECT_EQ(-1, b.y);
}

TEST(WBTables, Peaks) {
  struct {
    int g[3];
    int rk;  // 0: IsPeak_1
    int result, isMax;
  } rows[] = {{{5, 5, 5}, 0, 0, 7}, {{3, 5, 5}, 0, 1, 1}, {{-1, 4, 2}, 1, 0, 0}, {{1, 4, 2}, 1, 1, 1},
              {{-1, -4, -2}, 1, 1, 0}};
  for (const auto& r : rows) {
    int isMax = 7;
    const int got = r.rk ? IsPeak_RK(r.g, 1, &isMax) : IsPeak_1(r.g, 1, &isMax);
    EXPECT_EQ(r.result, got);
    EXPECT_EQ(r.isMax, isMax);
  }
}

// Past the first strong brightening the bottom edge is the next positive
// maximum of any channel; a positive minimum of another channel is not one.
TEST(WBTables, BackwardPickTakesTheNextMaximumAfterTheBrightening) {
  gcEdgeBckLevel = -16;  // only ever moves from -32 to -16: set it as a search would
  gn1500um = 5;
  std::vector<int> g = {0, 0, 0, -40, -30, -20, -10, -5, 6, 0, 0, 0,    // the brightening, then a maximum at 8
                        0, 0, 20, 10, 8, 5, 6, 7, 8, 9, 10, 11,         // a positive minimum at 5
                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  int pos = 0;
  EXPECT_EQ(1, GetEdgeBck(g.data(), 12, true, 0, &pos, false));
  EXPECT_EQ(8, pos);
  // No maximum after it: 1.5 mm inside the brightening.
  g[8] = -5;
  EXPECT_EQ(1, GetEdgeBck(g.data(), 12, true, 0, &pos, false));
  EXPECT_EQ(3 - 5, pos);
}

TEST(WBTables, ProfileEdgeNeedsSevenLevelsAndAStep) {
  // Level 100: a sample at 106 never qualifies, one at 107 with a central
  // difference of 5 does.
  std::vector<uint8_t> p6 = {100, 100, 100, 106, 106, 106, 106, 106};
  std::vector<uint8_t> p7 = {100, 100, 102, 107, 107, 107, 107, 107};
  std::vector<int> e;
  GetEdge(p6.data(), 100, 8, e);
  EXPECT_TRUE(e.empty());
  GetEdge(p7.data(), 100, 8, e);
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(3, e[0]);  // 107, and p[4] - p[2] = 5
}

TEST(WBTables, TooBrightSelectorThree) {
  const uint8_t two[] = {200, 253, 254, 200, 253, 200};
  const uint8_t three[] = {200, 253, 254, 255, 200, 200};
  EXPECT_FALSE(TooBright(two, 6, false, 3));
  EXPECT_TRUE(TooBright(three, 6, false, 3));
  EXPECT_FALSE(TooBright(three, 6, false, 0));
}

TEST(WBImages, MiniImageSamplesWholeRatiosAndResamplesOthers) {
  std::vector<uint8_t> px(30 * 30);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7);
  _P2IIMG src = Grey(px, 30, 30, 300);
  _P2IIMG dst{};
  dst.nBitsPerPixel = 8;
  ASSERT_EQ(0, GetMiniImg(&src, &dst));
  EXPECT_EQ(10, dst.nWidth);
  EXPECT_EQ(100, dst.nXResolution);  // 0 taken as 100
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(px[static_cast<size_t>(y * 3) * 30 + x * 3], dst.pImageData[y * 10 + x]);
  free(dst.pImageData);
  // 250 dpi: bilinear, against the fixed-point formula computed directly.
  src.nXResolution = src.nYResolution = 250;
  _P2IIMG r{};
  r.nBitsPerPixel = 8;
  ASSERT_EQ(0, GetMiniImg(&src, &r));
  ASSERT_EQ(12, r.nWidth);
  const int64_t sx = 30 * 65536 / 12 + 1, x0 = sx / 2 - 32768;
  for (int j = 0; j < 12; ++j)
    for (int i = 0; i < 12; ++i) {
      const int64_t X = x0 + i * sx, Y = x0 + j * sx;
      const int c0 = std::min<int>(29, std::max<int64_t>(0, X >> 16)), r0 = std::min<int>(29, std::max<int64_t>(0, Y >> 16));
      const int c1 = std::min(29, c0 + 1), r1 = std::min(29, r0 + 1);
      const int64_t fx = (X >> 8) & 255, fy = (Y >> 8) & 255;
      auto P = [&](int rr, int cc) { return static_cast<int64_t>(px[static_cast<size_t>(rr) * 30 + cc]); };
      const int64_t v = ((65536 - 256 * fx - 256 * fy + fx * fy) * P(r0, c0) + (256 * fx - fx * fy) * P(r0, c1) +
                         (256 * fy - fx * fy) * P(r1, c0) + fx * fy * P(r1, c1)) >> 16;
      EXPECT_EQ(v, r.pImageData[j * 12 + i]) << i << "," << j;
    }
  free(r.pImageData);
}

TEST(WBRecords, SizesAndFlipTwiceIsTheIdentity) {
  EXPECT_EQ(48u, sizeof(_P2IGDPINFO));
  EXPECT_EQ(72u, sizeof(_P2IDOCPOS));
  std::vector<uint8_t> px(7 * 5);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i);
  const auto before = px;
  _P2IIMG img = Grey(px, 7, 5, 100);
  ASSERT_EQ(0, flip_conv_img(&img));
  EXPECT_EQ(before[0], px[4 * 7]);
  ASSERT_EQ(0, flip_conv_img(&img));
  EXPECT_EQ(before, px);
  tagPOINT p{3, -1};
  flip_conv_point(p, &img);
  EXPECT_EQ(-3, p.y);  // -(-1) - 4
  flip_conv_point(p, &img);
  EXPECT_EQ(-1, p.y);
}

TEST(WBOdd, LengthLimitsAndThirdInDoubles) {
  std::vector<uint8_t> px(4);
  _P2IIMG k5{px.data(), 8, 0, 1, static_cast<int>(440 * 100 / 25.4), 1, 1, 100, 100, 0, 0, 0, 0};
  _P2IIMG k2 = k5;
  k2.nHeight = static_cast<int>(370 * 100 / 25.4);
  PointList none;
  EXPECT_FALSE(IsOddDoc(&k5, none, none, none, none, 0, 0, 0, 5));
  EXPECT_TRUE(IsOddDoc(&k2, none, none, none, none, 0, 0, 0, 2));
  _P2IIMG small = k5;
  small.nHeight = 100;
  PointList thirty(30), eighteen(18);
  EXPECT_TRUE(IsOddDoc(&small, thirty, eighteen, none, none, 2, 0, 0, 0));   // 1 - 20/30
  EXPECT_FALSE(IsOddDoc(&small, thirty, eighteen, none, none, 3, 0, 0, 0));  // 1 - 21/30
}

TEST(WBOdd, TurnedRectangleGivesItsSkew) {
  // Edge points of a 200 x 100 rectangle turned 10 degrees counter-clockwise.
  PointList lr, tb;
  auto add = [](PointList& l, double x, double y) {
    tagPOINT p{static_cast<int64_t>(x), -static_cast<int64_t>(y)};
    RotatePoint(&p, 10);
    l.push_back({p.x, -p.y});
  };
  for (int k = 0; k <= 10; ++k) {
    add(tb, 300 + 20 * k, -300);
    add(tb, 300 + 20 * k, -400);
    add(lr, 300, -300 - 10 * k);
    add(lr, 500, -300 - 10 * k);
  }
  const _STRTLINE lines[4] = {{std::tan(10 * 3.141592654 / 180), 0, 0, 0}, {}, {}, {}};
  std::vector<uint8_t> px(4);
  _P2IIMG img{px.data(), 8, 0, 1000, 1000, 1000, 1000000, 100, 100, 0, 0, 999, 999};
  _P2IGDPINFO info{};
  _P2IDOCPOS pos{};
  GetDocPosForOddDoc(&img, &img, lr, tb, lines, 1, 0, &pos, &info);
  EXPECT_NEAR(-10, pos.dSkew, 1e-9);
}

TEST(WBCutting, FailedRotationLeavesNoDanglingPointer) {
  std::vector<uint8_t> px(300 * 200, 128);
  _P2IIMG in = Grey(px, 300, 200, 100);
  in.pImageData = nullptr;  // the rotation refuses a source without pixels
  _P2ICRPINFO c{2.0, {{10, 0}, {12, -150}, {250, -150}, {248, 0}}, 1};
  _P2IIMG out{};
  EXPECT_EQ(-5, CropImg(&in, &c, &out));
  EXPECT_EQ(nullptr, out.pImageData);
}

// A dark streak down the whole backing below the reference rows is an edge
// on every row without the streak test; with it, its first row finds no
// edge beside it towards the paper and no later row takes it.
TEST(WBEdges, FullHeightStreakIsRefused) {
  const int w = 200, h = 300;
  std::vector<uint8_t> px(static_cast<size_t>(w) * h, 208);
  for (int y = 5; y < h; ++y) px[static_cast<size_t>(y) * w + 30] = px[static_cast<size_t>(y) * w + 31] = 120;
  _P2IIMG img = Grey(px, w, h, 100);
  std::vector<uint8_t> ref(2 * w);
  MakeStdData(&img, 0, ref.data(), ref.data() + w);
  auto nearStreak = [](const PointList& l) {
    return std::count_if(l.begin(), l.end(), [](const tagPOINT& p) { return p.x >= 25 && p.x <= 36; });
  };
  const int32_t saved = gbTatesujiJudge;
  for (int judge : {0, 1}) {
    gbTatesujiJudge = judge;
    PointList lr;
    ASSERT_EQ(0, GetEdgeH(&img, ref.data(), ref.data() + w, 0, lr, false));
    if (judge) {
      EXPECT_EQ(0, nearStreak(lr));
    } else {
      EXPECT_EQ(74, nearStreak(lr));  // both of its flanks on each of the 37 rows
    }
  }
  gbTatesujiJudge = saved;
}

// Points along the sides of a 400 x 300 rectangle; `gap` adds a second
// bottom side that far below the first.
void RectanglePoints(PointList& lr, PointList& tb, int gap) {
  for (int k = 0; k <= 30; ++k) {
    lr.push_back({100, 100 + 10 * k});
    lr.push_back({500, 100 + 10 * k});
    tb.push_back({100 + 13 * k, 100});
    tb.push_back({100 + 13 * k, 400});
    if (gap) tb.push_back({100 + 13 * k, 400 + gap});
  }
}

// The fitter's first accumulator: every tenth of a degree, 2R rows of rho,
// kept here to hold the compact one to the same cells in the same order.
std::vector<HoughCell> FullTableCells(int R, int d, const PointList& lr, const PointList& tb) {
  const size_t rows = static_cast<size_t>(2) * R;
  std::vector<uint8_t> acc(rows * 1800);
  auto round = [](double v) { return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5); };
  for (const PointList* list : {&lr, &tb})
    for (const tagPOINT& p : *list)
      for (int j = 0; j < 1800; j += d) {
        const int64_t rho = round(static_cast<double>(p.x) * gpSinCos_1[j].dCos -
                                  static_cast<double>(p.y) * gpSinCos_1[j].dSin) + R;
        if (rho < 0 || rho >= static_cast<int64_t>(rows)) continue;
        uint8_t& v = acc[static_cast<size_t>(rho) * 1800 + static_cast<size_t>(j)];
        if (v < 255) ++v;
      }
  std::vector<HoughCell> cells;
  for (size_t at = 0; at < acc.size(); ++at)
    if (acc[at]) cells.push_back({acc[at], static_cast<int>(at % 1800), static_cast<int>(at / 1800) - R});
  std::stable_sort(cells.begin(), cells.end(), [](const HoughCell& a, const HoughCell& b) { return a.votes > b.votes; });
  if (cells.size() > 384) cells.resize(384);
  return cells;
}

// The compact accumulator gives the full table's strongest cells, votes and
// order among equals included: on a page's sides, on points spread over a
// face, on points past the table's rho range (a small R), on a line of more
// than 255 votes, on no points at all, and beside a point too far off for
// 32-bit rounding.
TEST(WBLines, CompactAccumulatorHoldsTheFullTablesCells) {
  if (!gpSinCos_1) {
    ASSERT_EQ(0, MakeSinCosTbl());
  }
  uint32_t seed = 11;
  auto rnd = [&](int n) { return static_cast<int64_t>((seed = seed * 1103515245u + 12345u) >> 8) % n; };
  PointList sidesLR, sidesTB, scatter, far, dense, none, huge;
  RectanglePoints(sidesLR, sidesTB, 10);
  huge = sidesLR;
  huge.push_back({int64_t{1} << 40, -(int64_t{1} << 31)});
  for (int k = 0; k < 3000; ++k) scatter.push_back({rnd(2600), -rnd(3700)});
  for (int k = 0; k < 200; ++k) far.push_back({rnd(900), -rnd(900)});
  for (int k = 0; k < 600; ++k) dense.push_back({1200, -(k % 400) * 3});
  struct {
    const char* name;
    int R;
    const PointList* lr;
    const PointList* tb;
  } rows[] = {{"sides", 848, &sidesLR, &sidesTB}, {"scatter", 5232, &scatter, &none},
              {"past rho range", 300, &far, &none}, {"dense", 5232, &dense, &sidesTB},
              {"no points", 100, &none, &none}, {"points far off the page", 848, &huge, &sidesTB}};
  for (const auto& r : rows) {
    for (int d : {2, 10}) {
      SCOPED_TRACE(std::string(r.name) + " d=" + std::to_string(d));
      std::vector<HoughCell> got;
      ASSERT_EQ(0, HoughCells(r.R, d, *r.lr, *r.tb, &got));
      const std::vector<HoughCell> want = FullTableCells(r.R, d, *r.lr, *r.tb);
      ASSERT_EQ(want.size(), got.size());
      for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(want[i].votes, got[i].votes) << i;
        EXPECT_EQ(want[i].angle, got[i].angle) << i;
        EXPECT_EQ(want[i].rho, got[i].rho) << i;
      }
    }
  }
  Uninitialize();
}

// Two bottom sides nearer each other than gnRhDiff give one line, between
// them: the fit still finds the page's four sides.
TEST(WBLines, NearParallelsMergeIntoOne) {
  gnRhDiff = 25;
  gn1inch = 100;
  struct {
    int gap;
    double bottom;
  } rows[] = {{0, 400}, {10, 405}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.gap);
    PointList lr, tb;
    RectanglePoints(lr, tb, r.gap);
    _STRTLINE lines[4] = {};
    double skew = 0;
    ASSERT_EQ(4, GetStraightLine(600, lr, tb, 1.0, 1, lines, &skew, false));
    SortStraightLine(lines);
    EXPECT_NEAR(-lines[1].dB, r.bottom, 1);
    EXPECT_NEAR(-lines[3].dB, 100, 1);
    EXPECT_EQ(100, lines[0].dX);
    EXPECT_EQ(500, lines[2].dX);
  }
  if (gpSinCos_1) Uninitialize();
}

// The crop layer refuses a skew that comes within a degree of 45.
TEST(WBInterface, SkewWithinADegreeOfFortyFiveIsRefused) {
  struct {
    double skew;
    bool ok;
  } rows[] = {{44.5, false}, {-44.5, false}, {44.0, true}, {-44.0, true}, {0, true}, {10, true}};
  for (const auto& r : rows) EXPECT_EQ(r.ok, SkewAccepted(r.skew)) << r.skew;
}

// Strict mode's test: a corner on the last column or row is inside, one
// pixel past it is not, nor one pixel before the first.
TEST(WBInterface, StrictModeCornerOnePixelOutside) {
  std::vector<uint8_t> px(4);
  _P2IIMG img{px.data(), 8, 0, 300, 200, 300, 60000, 100, 100, 0, 0, 299, 199};
  const tagPOINT inside[4] = {{0, 0}, {0, -199}, {299, -199}, {299, 0}};
  EXPECT_TRUE(CornersInside(inside, &img));
  const tagPOINT out[][4] = {{{-1, 0}, {0, -199}, {299, -199}, {299, 0}},
                             {{0, 0}, {0, -200}, {299, -199}, {299, 0}},
                             {{0, 0}, {0, -199}, {300, -199}, {299, 0}},
                             {{0, 1}, {0, -199}, {299, -199}, {299, 0}}};
  for (const auto& c : out) EXPECT_FALSE(CornersInside(c, &img));
}

// The model texts the backends put in the request select their families'
// rows (a text in no row would search every face as kind 0).
TEST(WBInterface, BackendModelTextsSelectTheirRows) {
  const struct {
    const char* text;
    int64_t kind;
  } rows[] = {{"SK150A", 4}, {"SK250A", 4}, {"SK350A", 4}, {"BrennaB", 6}, {"Selko2S420", 8}, {"DocuvaneRK50", 2}};
  for (const auto& r : rows) EXPECT_EQ(r.kind, ScannerRowOf(r.text).kind) << r.text;
}

TEST(WBInterface, ScannerRows) {
  const ScannerRow& other = ScannerRowOf("NoSuchScanner");
  EXPECT_EQ(0, other.kind);
  EXPECT_DOUBLE_EQ(8.0, other.xFront);
  EXPECT_DOUBLE_EQ(6.3, other.yFront);
  EXPECT_EQ(8, ScannerRowOf("Selko2S520").kind);
  alignas(8) FSIP_CRPWB_S_CRPALL rec{};
  std::strcpy(rec.szScanner, "NoSuchScanner");
  rec.bySide = 1;
  rec.sOVS = 120;
  FSIP_S_IMAGEINFO_EX in{};
  in.nWidth = 2000;
  in.nXResolution = 200;
  _P2IGDPINFO info{};
  MakeDevInfo(&in, &rec, &info);
  EXPECT_DOUBLE_EQ(12.0, info.dTopSnsY);
  EXPECT_DOUBLE_EQ(2000 * 25.4 / 200 * 0.5 + 8.0, info.dTopSnsX);
  rec.sOVS = -1;
  MakeDevInfo(&in, &rec, &info);
  EXPECT_DOUBLE_EQ(6.3, info.dTopSnsY);
  EXPECT_EQ(0, info.nDevOpt);
}

}  // namespace
