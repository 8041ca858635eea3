// The punch-hole routines' own rules, on hand-made lids and images.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "FsipCrop_ph.h"
#include "crop_test_util.h"

using namespace fsipcrop;

namespace {

_PHLID Hole(int64_t x, int64_t y, double size) {
  _PHLID l{};
  l.ptCenter = {x, y};
  l.dSizeAlong = l.dSizeAcross = size;
  for (auto& c : l.ptCorner) c = {x, y};
  return l;
}

TEST(HoleRecords, DistanceAndListCombination) {
  EXPECT_EQ(5, GetDistance(tagPOINT{0, 0}, tagPOINT{3, 4}));
  EXPECT_EQ(1, GetDistance(tagPOINT{0, 0}, tagPOINT{1, 1}));
  PHLidList out{Hole(9, 9, 6)};
  std::vector<PHLidList*> none;
  CombinePHLidList(none, &out);
  EXPECT_EQ(1u, out.size());
  std::vector<PHLidList*> v{new PHLidList{Hole(1, 0, 6), Hole(2, 0, 6)}, new PHLidList{Hole(3, 0, 6)}};
  CombinePHLidList(v, &out);
  std::vector<int64_t> xs;
  for (auto& h : out) xs.push_back(h.ptCenter.x);
  EXPECT_EQ((std::vector<int64_t>{9, 1, 2, 3}), xs);
}

TEST(HolePatterns, FourHolesLeftOneOutEndAsThreeFourOneTwo) {
  const double p = 300 / 25.4;
  const int64_t pitch = static_cast<int64_t>(80 * p);
  PHLidList four;
  // Holes 1-4 in the order the rule sorts them (centre y ascending).
  for (int k = 0; k < 4; ++k) four.push_back(Hole(100, -4000 + k * pitch, 7));
  ExamPHPttn(&four, 0, 0, p, 0);
  std::vector<int64_t> order;
  for (auto& h : four) order.push_back((h.ptCenter.y + 4000) / pitch + 1);
  EXPECT_EQ((std::vector<int64_t>{3, 4, 1, 2}), order);
  PHLidList ok;
  for (int k = 0; k < 4; ++k) ok.push_back(Hole(100, -(100 + k * pitch), 6));
  ExamPHPttn(&ok, 0, 0, p, 0);
  EXPECT_EQ(4u, ok.size());
}

TEST(HolePatterns, TwoHoleRuleByPitchAndKind) {
  const double p = 200 / 25.4;
  struct {
    double gapMm, size;
    int kind;
    bool pass;
  } cases[] = {{80, 6, 0, true}, {80, 6, 1, true}, {80, 3, 2, true}, {80, 3, 0, false}, {86, 6, 0, false}};
  for (const auto& c : cases) {
    PHLidList l{Hole(0, 0, c.size), Hole(0, -static_cast<int64_t>(c.gapMm * p), c.size)};
    EXPECT_EQ(c.pass ? 1 : 0, Is2PHs(&l, p, c.kind)) << c.gapMm << " " << c.size << " " << c.kind;
  }
}

TEST(HoleScreening, LimitEmptiesLongListsUnlessKeepAll) {
  _P2IIMG work{};
  work.nXResolution = 200;
  work.nWidth = 1654;
  work.nHeight = 2339;  // A4 at 200 dpi: 52 holes allowed
  PHLidList l;
  for (int k = 0; k < 52; ++k) l.push_back(Hole(k, 0, 6));
  LimitPHs(&work, &l, false);
  EXPECT_EQ(52u, l.size());
  l.push_back(Hole(99, 0, 6));
  LimitPHs(&work, &l, true);
  EXPECT_EQ(53u, l.size());
  LimitPHs(&work, &l, false);
  EXPECT_TRUE(l.empty());
}

TEST(HoleMask, PaperColourBinAndRingOutsideTheImage) {
  std::vector<uint8_t> px(40 * 40 * 3);
  for (size_t i = 0; i < px.size(); i += 3) {
    px[i] = 200;
    px[i + 1] = 100;
    px[i + 2] = 50;
  }
  _P2IIMG img{};
  img.pImageData = px.data();
  img.nBitsPerPixel = 24;
  img.nWidth = img.nHeight = 40;
  img.nBytesPerLine = 120;
  _PHLID lid = Hole(20, -20, 6);
  lid.ptCorner[0] = {26, -26};
  std::vector<uint16_t> hist(4096);
  RGBQUAD q{};
  gbInv = 0;
  GetPHLidClr_C3(&img, lid, hist.data(), &q);
  EXPECT_EQ(0xC63, std::max_element(hist.begin(), hist.end()) - hist.begin());
  EXPECT_EQ(200, q.rgbRed);
  EXPECT_EQ(104, q.rgbGreen);
  EXPECT_EQ(56, q.rgbBlue);
  img.nBitsPerPixel = 8;
  img.nBytesPerLine = 40;
  _PHLID far = Hole(500, -500, 6);
  far.ptCorner[0] = {506, -506};
  uint16_t grey[16] = {};
  uint8_t g = 0;
  GetPHLidClr_C1(&img, far, grey, &g);
  EXPECT_EQ(8, g);
}

TEST(HoleMask, OpeningIgnoresCornersAndCentre) {
  std::vector<uint8_t> m(7 * 7, 1);
  const int c = 3 * 7 + 3;
  m[c] = 0;
  m[c - 2 * 7 - 2] = m[c - 2 * 7 + 2] = m[c + 2 * 7 - 2] = m[c + 2 * 7 + 2] = 0;
  EXPECT_TRUE(MapElode5x5(m.data(), c, 7));
  m[c + 1] = 0;
  EXPECT_FALSE(MapElode5x5(m.data(), c, 7));
  // Extension with L = 1 on a dark first pixel: -1 with the reach flag.
  uint8_t pix[4] = {0, 0, 255, 255}, mask[4] = {};
  EXPECT_EQ(-1, ExtpandPHArea_C1(mask, pix, 1, 1, 0, 0, 1, 0, 0, true, false, 0, 0));
  EXPECT_EQ(1, ExtpandPHArea_C1(mask, pix, 1, 1, 0, 0, 1, 0, 0, false, false, 0, 0));
  uint8_t light[3] = {0, 200, 0}, clean[3] = {};
  EXPECT_EQ(0, ExtpandPHArea_C1(clean, light, 1, 1, 0, 0, 2, 0, 0, false, false, 0, 0));
  EXPECT_EQ(0, clean[1]);
}

// Four sides of an axis-parallel page, y up: left, bottom, right, top.
void Page(double x0, double y0, double x1, double y1, _STRTLINE* l) {
  l[0] = {0, 0, 1, x0};
  l[1] = {0, -y1, 0, 0};
  l[2] = {0, 0, 1, x1};
  l[3] = {0, -y0, 0, 0};
}

_P2IIMG Blank(int w, int h, int dpi) {
  _P2IIMG img{};
  img.nWidth = w;
  img.nHeight = h;
  img.nXResolution = img.nYResolution = dpi;
  img.nBitsPerPixel = 8;
  img.nBytesPerLine = w;
  return img;
}

TEST(ShadowLines, IdenticalFacesAdoptNothingAndABareFaceTakesTheOthersFour) {
  gnDupCrpGapSliceX = gnDupCrpGapSliceY = gnDupCrpBigRhGap = 30;
  gnDupCrpBigThGap = 10;
  gnShdwAGapX = gnShdwAGapY = gnShdwBGapX = gnShdwBGapY = 0;
  _P2IIMG img = Blank(1000, 1400, 100);
  _STRTLINE a[4], b[4];
  Page(100, 100, 900, 1300, a);  // symmetric: its mirror is itself
  Page(100, 100, 900, 1300, b);
  _HOUGHRSLT ha{a, nullptr, nullptr, nullptr, 4, 0}, hb{b, nullptr, nullptr, nullptr, 4, 0};
  EXPECT_EQ(1, GetBestSLs(&img, &ha, &img, &hb));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(a[i].dX, b[i].dX);
    EXPECT_EQ(a[i].dB, b[i].dB);
  }
  EXPECT_EQ(100, a[0].dX);
  // The front lies 50 px left of centre: the bare back takes it mirrored.
  Page(50, 100, 850, 1300, a);
  _STRTLINE bare[4] = {};
  _HOUGHRSLT hbare{bare, nullptr, nullptr, nullptr, 0, 0};
  ha.nSL = 4;
  EXPECT_EQ(1, GetBestSLs(&img, &ha, &img, &hbare));
  EXPECT_EQ(4, hbare.nSL);
  EXPECT_EQ(150, bare[0].dX);  // the mirrored right side is the back's left
  EXPECT_EQ(950, bare[2].dX);
}

TEST(PoorCrops, SkewOfOneAndAHalfDegreesIsPoorOnePointFourGoesToTheMargins) {
  gd1mm = 100 / 25.4;
  _P2IIMG img = Blank(1000, 1400, 100);
  auto skewed = [](double deg, _STRTLINE* l) {
    const double t = deg * 3.141592653589793 / 180;
    const double steep = 1 / std::tan(t), flat = std::tan(t);
    l[0] = {steep, -steep * 2, 0, 0};
    // Turned about the corners the margin test reads: every side within
    // 2 px of the image border there.
    l[1] = {flat, -1398 - flat * 998, 0, 0};
    l[2] = {steep, -1401 - steep * 998, 0, 0};
    l[3] = {flat, -2, 0, 0};
  };
  _STRTLINE l[4];
  skewed(1.5, l);
  EXPECT_EQ(1, IsPoorCrop(&img, l));
  skewed(1.4, l);
  EXPECT_EQ(0, IsPoorCrop(&img, l));
  Page(100, 2, 998, 1398, l);  // 100 px = 25 mm inside on the left
  EXPECT_EQ(1, IsPoorCrop(&img, l));
}

// A page 10 px/mm (254 dpi) with edge points on its left side, one run of
// them 2 mm inside it: the run's strip area decides the fold, more than
// 80 mm² and not exactly 80.
TEST(FoldedPages, ARunOfExactly80SquareMillimetresIsNoFoldALittleMoreIs) {
  gd1mm = 10;
  _STRTLINE l[4];
  Page(100, 100, 900, 1100, l);
  const struct {
    int inward;     // points 10 rows apart, 20 px inside: 200 px² a step
    int lastDepth;  // the run's last point, px inside
    bool folded;
  } cases[] = {{41, 20, false}, {41, 21, true}, {40, 20, false}, {42, 20, true}, {1, 20, false}};
  for (const auto& c : cases) {
    PointList pts;
    for (int row = 100; row <= 1100; row += 10) {
      const int k = (row - 300) / 10;
      const bool in = row >= 300 && k < c.inward;
      pts.push_back({in ? 100 + (k == c.inward - 1 ? c.lastDepth : 20) : 100, row});
    }
    EXPECT_EQ(c.folded, IsFoldedDoc(l, pts, 254)) << c.inward << " points, last " << c.lastDepth;
  }
}

TEST(HoleRemovalLimits, LongPageLimitsByFamily) {
  _STRTLINE l[4];
  Page(0, 0, 1000, 2900, l);
  EXPECT_TRUE(IsLongPage(l, 200, false));
  EXPECT_FALSE(IsLongPage(l, 200, true));
  Page(0, 0, 1000, 2884, l);
  EXPECT_FALSE(IsLongPage(l, 200, false));
}

// A grey profile: paper (0xE000), a falling edge into a plateau of value
// `plateau` from 40 to 69, a rising edge back to paper.
struct Profile {
  std::vector<uint32_t> ave, smooth;
  std::vector<int32_t> grad, smoothGrad;
  _PHCLUE2 clue{};
  explicit Profile(uint32_t plateau) : ave(120, 0xE000), smooth(120), grad(120), smoothGrad(120) {
    for (int k = 36; k < 74; ++k) ave[k] = plateau;
    // Two-sample ramps so that the edges are single peaks.
    ave[36] = ave[73] = (0xE000 + plateau) / 2;
    GetGrad(ave.data(), 120, false, grad.data());
    clue.pdwAve = ave.data();
    clue.pnGrad = grad.data();
    clue.nLen = 120;
    clue.nStart = 2;
    clue.nEnd = 117;
    clue.nMinSize = 20;
    clue.nMaxSize = 60;
    clue.dScale = 1.0;
    clue.pdwSmooth = smooth.data();
    clue.pnSmoothGrad = smoothGrad.data();
    clue.stLine = {0, 0, 1, 10};
  }
  size_t Found(int mode, bool adf) {
    CnddtList c;
    FindPHCnddts(clue, &c, mode, adf);
    return c.size();
  }
};

TEST(HoleCandidates, PlateauLimitsOfTheGreyNormalTable) {
  gbInv = 0;
  struct {
    uint32_t plateau;
    bool adf;
    size_t found;
  } cases[] = {{0x1900, false, 1}, {0x1901, false, 0}, {0x0A00, true, 1}, {0x0A01, true, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.found, Profile(c.plateau).Found(0, c.adf)) << std::hex << c.plateau;
  // The lighter limits of bits 8-11 = 2 on a sheet-fed scan.
  EXPECT_EQ(1u, Profile(0x1500).Found(0x200, true));
  EXPECT_EQ(0u, Profile(0x1501).Found(0x200, true));
}

// One run whose dark part steps from one flat level to another: two
// plateaus, refused, while the same run on one level is a candidate.
TEST(HoleCandidates, TwoPlateausInOneRunAreRefused) {
  gbInv = 0;
  Profile one(0x0400), two(0x0400);
  for (int k = 55; k < 73; ++k) two.ave[k] = 0x1400;
  two.ave[54] = 0x0C00;  // a ramp weaker than a strong edge
  GetGrad(two.ave.data(), 120, false, two.grad.data());
  EXPECT_EQ(1u, one.Found(0, false));
  EXPECT_EQ(0u, two.Found(0, false));
}

TEST(HoleCandidates, RunsOutsideTheSizeRangeAreRejected) {
  gbInv = 0;
  Profile p(0x0800);
  p.clue.nMaxSize = 30;  // the run is 37 samples
  EXPECT_EQ(0u, p.Found(0, true));
  p.clue.nMaxSize = 37;
  EXPECT_EQ(1u, p.Found(0, true));
  p.clue.nMinSize = 38;
  EXPECT_EQ(0u, p.Found(0, true));
}

TEST(DuplexHoles, AFrontHolePairsWithItsMirrorOnTheBack) {
  gnShdwAGapX = gnShdwAGapY = gnShdwBGapX = gnShdwBGapY = 0;
  _P2IIMG img = Blank(1000, 1400, 200);
  for (int64_t backX : {899, 900, 100}) {
    PHLidList front{Hole(100, -500, 6)}, back{Hole(backX, -500, 6)}, none;
    CheckFreePHs(1, &img, &back, &none, &front);
    EXPECT_EQ(backX == 100 ? 0u : 1u, front.size()) << backX;
  }
  // Sizes may differ by 1.5 mm, not more.
  PHLidList front{Hole(100, -500, 6)}, back{Hole(900, -500, 7.5)}, none;
  CheckFreePHs(1, &img, &back, &none, &front);
  EXPECT_EQ(1u, front.size());
  PHLidList front2{Hole(100, -500, 6)}, back2{Hole(900, -500, 7.6)};
  CheckFreePHs(1, &img, &back2, &none, &front2);
  EXPECT_EQ(0u, front2.size());
}

TEST(DuplexHoles, AFreeHoleFacingLightPaperIsDropped) {
  gbInv = 0;
  gnShdwAGapX = gnShdwAGapY = gnShdwBGapX = gnShdwBGapY = 0;
  std::vector<uint8_t> light(200 * 200, 230), dark(200 * 200, 230);
  for (int y = 90; y < 110; ++y)
    for (int x = 170; x < 190; ++x) dark[y * 200 + x] = 5;  // the mirrored hole at x 170..189
  _P2IIMG front = Blank(200, 200, 200), back = Blank(200, 200, 200);
  _PHLID h = Hole(20, -100, 6);
  h.ptCorner[0] = {10, -90};
  h.ptCorner[1] = {10, -110};
  h.ptCorner[2] = {30, -90};
  h.ptCorner[3] = {30, -110};
  for (auto* backPx : {&light, &dark}) {
    front.pImageData = light.data();
    back.pImageData = backPx->data();
    PHLidList fp, ff{h}, bp, bf;
    GetBestPHs(&front, &fp, &ff, &back, &bp, &bf);
    EXPECT_EQ(backPx == &dark ? 1u : 0u, fp.size());
  }
}

// The shape method on a 100 x 100 grey page: a dark shape under a lid
// whose box is columns and rows 30..69.
struct ShapeCase {
  const char* name;
  bool (*dark)(int x, int y);
  int result;  // CoverPHs' word
  bool painted;
};

// A hole at (50, 50) of a 100-px-wide page, its lid box rows and columns 30-69.
_PHLID LidRoundTheCentre() {
  _PHLID lid = Hole(50, -50, 5);
  lid.stCntrLine = {0, 0, 1, 50};
  lid.ptCorner[0] = {30, -69};
  lid.ptCorner[1] = {30, -30};
  lid.ptCorner[2] = {69, -69};
  lid.ptCorner[3] = {69, -30};
  return lid;
}

TEST(HoleCovering, OnlyCompactHoleShapesArePainted) {
  gbInv = 0;
  const ShapeCase cases[] = {
      {"20-px disc", [](int x, int y) { return (x - 50) * (x - 50) + (y - 50) * (y - 50) <= 100; }, 1, true},
      {"6-px bar", [](int x, int y) { return x >= 47 && x < 53 && y >= 30 && y < 70; }, 2, false},
      {"cross reaching all four sides",
       [](int x, int y) { return (x >= 45 && x < 55 && y >= 20 && y < 80) || (y >= 45 && y < 55 && x >= 20 && x < 80); },
       2, false},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> px(100 * 100);
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x) px[y * 100 + x] = c.dark(x, y) ? 5 : 230;
    _P2IIMG img = Blank(100, 100, 200);
    img.pImageData = px.data();
    PHLidList l{LidRoundTheCentre()};
    int result = -7;
    CoverPHs(&img, &l, 0xFFFFFF, 0, &result);
    EXPECT_EQ(c.result, result) << c.name;
    EXPECT_EQ(c.painted ? 255 : 5, px[50 * 100 + 50]) << c.name;
    if (c.painted) {  // the shape and its two-pixel rim, nothing beyond
      for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
          if ((x - 50) * (x - 50) + (y - 50) * (y - 50) > 14 * 14) {
            EXPECT_EQ(230, px[y * 100 + x]) << x << "," << y;
          }
        }
    }
  }
  // An empty list: 2, nothing painted.
  std::vector<uint8_t> px(100 * 100, 5);
  _P2IIMG img = Blank(100, 100, 200);
  img.pImageData = px.data();
  PHLidList none;
  int result = -7;
  CoverPHs(&img, &none, 0xFFFFFF, 0, &result);
  EXPECT_EQ(2, result);
}

// A hole cut by the page's lower edge, its lid box reaching 10 rows past it,
// with a dark run leaving the box's right side: the walk across that side
// goes down from each seed and must stop at the edge. What lies past the
// last row (here dark, or light) changes nothing; the sanitizer tree sees a
// read there in the exact-size image.
TEST(HoleCovering, AWalkAcrossASideStopsAtThePagesEdge) {
  gbInv = 0;
  constexpr int W = 100, H = 60;
  auto cover = [&](uint8_t below, std::vector<uint8_t>* page, int* result) {
    std::vector<uint8_t> px(W * H + (below ? W * 20 : 0), below);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const bool disc = (x - 50) * (x - 50) + (y - 50) * (y - 50) <= 100;
        const bool run = x >= 55 && x < 90 && y >= 52;
        px[y * W + x] = disc || run ? 5 : 230;
      }
    _P2IIMG img = Blank(W, H, 200);
    img.pImageData = px.data();
    PHLidList l{LidRoundTheCentre()};
    CoverPHs(&img, &l, 0xFFFFFF, 0, result);
    page->assign(px.begin(), px.begin() + W * H);
  };
  std::vector<uint8_t> exact, overDark, overLight;
  int rExact = -7, rDark = -7, rLight = -7;
  cover(0, &exact, &rExact);
  cover(5, &overDark, &rDark);
  cover(230, &overLight, &rLight);
  EXPECT_EQ(rExact, rDark);
  EXPECT_EQ(rDark, rLight);
  EXPECT_EQ(overDark, overLight);
  EXPECT_EQ(exact, overLight);
}

// Holes met twice, on two sides or on the lines of one group walk, are
// kept once when their centres are 24 pixels apart or less.
TEST(HoleMerges, CentresUpTo24PixelsApartAreOneHole) {
  const struct {
    int64_t dx, dy;
    size_t holes;
  } cases[] = {{24, 0, 1}, {25, 0, 2}, {0, -24, 1}, {0, -25, 2}, {15, 19, 1}, {15, 20, 2}};
  for (const auto& c : cases) {
    PHLidList sides[4];
    sides[0] = {Hole(100, -500, 6)};
    sides[3] = {Hole(100 + c.dx, -500 + c.dy, 6)};
    PHLidList out;
    MergeSidePHs(sides, &out);
    ASSERT_EQ(c.holes, out.size()) << c.dx << "," << c.dy;
    EXPECT_EQ(100, out.front().ptCenter.x);  // the left side's comes first
    PHLidList group;
    MergePHGroup({{Hole(100, -500, 6)}, {Hole(100 + c.dx, -500 + c.dy, 6)}}, &group);
    EXPECT_EQ(c.holes, group.size()) << c.dx << "," << c.dy;
  }
}

TEST(HoleMerges, WithinAGroupTheLargerLidWinsAndTheFirstOnATie) {
  auto lid = [](int64_t x, int64_t half) {
    _PHLID l = Hole(x, -500, 6);
    l.ptCorner[0] = {x - half, -500 - half};
    l.ptCorner[1] = {x - half, -500 + half};
    l.ptCorner[2] = {x + half, -500 - half};
    l.ptCorner[3] = {x + half, -500 + half};
    return l;
  };
  PHLidList out;
  MergePHGroup({{lid(100, 30)}, {lid(110, 33)}, {lid(105, 33)}}, &out);
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ(110, out.front().ptCenter.x);
}

// The screening of one line's lids at 300 dpi: a size more than 11 mm (the
// integer part of 11.8 px/mm) from the line's mean goes, along then across.
TEST(HoleScreening, SizesFarFromTheLinesMeanGo) {
  gd1mm = 300 / 25.4;
  const struct {
    std::vector<double> along, across;
    int pattern;
    std::vector<double> kept;  // along sizes
  } cases[] = {
      {{6, 6, 20}, {6, 6, 6}, 1, {6, 6, 20}},           // mean 10: all within 11
      {{6, 6, 6, 30}, {6, 6, 6, 6}, 1, {6, 6, 6}},      // mean 12: 30 is 18 away
      {{6, 6, 6, 6}, {6, 6, 6, 30}, 1, {6, 6, 6}},      // the across pass
      {{20}, {20}, 1, {20}},                            // one lid, pattern: unscreened
      {{20}, {20}, 0, {20}},                            // one lid, free: its own mean
  };
  for (const auto& c : cases) {
    PHLidList l;
    for (size_t k = 0; k < c.along.size(); ++k) {
      _PHLID h = Hole(static_cast<int64_t>(k) * 100, 0, 0);
      h.dSizeAlong = c.along[k];
      h.dSizeAcross = c.across[k];
      l.push_back(h);
    }
    ScreenPHLids(&l, c.pattern);
    std::vector<double> kept;
    for (const auto& h : l) kept.push_back(h.dSizeAlong);
    EXPECT_EQ(c.kept, kept) << c.along.size() << " lids";
  }
  // More lids on one line than any fixed table held: still screened.
  PHLidList many;
  for (int k = 0; k < 400; ++k) many.push_back(Hole(k, 0, 6));
  many.push_back(Hole(401, 0, 30));
  ScreenPHLids(&many, 1);
  EXPECT_EQ(400u, many.size());
  EXPECT_EQ(6, many.back().dSizeAlong);
}

TEST(HoleSizes, BoundsOfEachKindAreInclusive) {
  const struct {
    double across, along;
    int kind;
    bool ok;
  } cases[] = {
      {3.2, 3.2, 0, true},    {3.19, 3.2, 0, false}, {3.2, 3.19, 0, false}, {12.5, 12.5, 0, true},
      {12.51, 12.5, 0, false}, {12.5, 12.51, 0, false},
      {4, 8.8, 0, true},      {4, 9.2, 0, false},    {9.2, 4, 0, false},    // aspect 2.2 and 2.3
      {2.5, 2.5, 2, true},    {2.49, 2.5, 2, false}, {14, 14, 2, true},     {14.01, 14, 2, false},
      {2.0, 10, 1, true},     {1.99, 10, 1, false},  {12, 12.01, 1, false}, // kind 1: no aspect rule
      {3, 2, 1, true},        {3.1, 2, 1, false},                           // across/along 1.5 and 1.55
      {2.0, 10, 3, false},    {4, 8.8, 3, true},     {2.0, 4.4, 3, true},   {1.99, 4, 3, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.ok, IsPHSizeOk(c.across, c.along, c.kind)) << c.across << " x " << c.along << " kind " << c.kind;
}

// The duplex search starts a face's pattern search where its free search
// first met candidates: the holes found must be those of a full search.
TEST(HoleSearch, APatternSearchStartedWhereTheFreeSearchMetCandidatesFindsTheSameHoles) {
  ASSERT_EQ(1, Initialize());
  struct {
    int channels;
    std::vector<dravn_pages::BackedPageSpec::Hole> holes;
  } cases[] = {{3, {{11, 108.5, 6}, {11, 188.5, 6}}},
               {1, {{11, 108.5, 6}, {11, 188.5, 6}, {65, 11, 6}, {145, 11, 6}}},
               {1, {}}};
  for (const auto& c : cases) {
    dravn_pages::BackedPageSpec spec;
    spec.dpi = 200;
    spec.channels = c.channels;
    spec.backing = 3;
    spec.holes = c.holes;
    auto page = dravn_pages::RenderBackedPage(spec);
    _P2IIMG img = Blank(page.image.width, page.image.height, 200);
    img.pImageData = page.image.pixels.data();
    img.nBitsPerPixel = 8 * c.channels;
    img.nBytesPerLine = page.image.width * c.channels;
    gbInv = 0;
    gdblGrayZone = 1.0;
    gbLowReso = 0;
    gd1mm = 200 / 25.4;
    MakeLUT4InvXf(nullptr);
    // The paper's sides, y up.
    _STRTLINE sides[4];
    Page(page.corners[0][0], page.corners[0][1], page.corners[3][0], page.corners[3][1], sides);
    const int len = GetDiagonalLength(&img);
    uint32_t* ave;
    int32_t* grad;
    ASSERT_EQ(1, AllcAveBuff(len, c.channels == 3, &ave, &grad));
    PHLidList full, free, fromMet;
    ASSERT_EQ(0, DetectPHs(&img, sides, ave, grad, len, &full, 0, true));
    PHSideStarts met;
    ASSERT_EQ(0, HidePHsFrom(&img, sides, ave, grad, len, 0, 0, &free, 0, 0, true, nullptr, &met));
    ASSERT_EQ(0, HidePHsFrom(&img, sides, ave, grad, len, 0, 1, &fromMet, 0, 0, true, &met, nullptr));
    // The same pair of searches with the free one's profiles kept and read
    // back by the second: the same holes, byte for byte.
    PHLidList freeKept, fromKept, freePlain;
    PHLineCache kept;
    ASSERT_EQ(0, HidePHsFrom(&img, sides, ave, grad, len, 0, 0, &freeKept, 0, 0, true, nullptr, &met, &kept));
    EXPECT_FALSE(kept.entries.empty());
    kept.record = false;
    ASSERT_EQ(0, HidePHsFrom(&img, sides, ave, grad, len, 0, 1, &fromKept, 0, 0, true, &met, nullptr, &kept));
    ASSERT_EQ(0, HidePHsFrom(&img, sides, ave, grad, len, 0, 0, &freePlain, 0, 0, true, nullptr, nullptr));
    FreeAveBuff(ave, grad);
    EXPECT_EQ(c.holes.size(), full.size()) << c.channels;
    auto same = [](const PHLidList& x, const PHLidList& y) {
      ASSERT_EQ(x.size(), y.size());
      for (auto a = x.begin(), b = y.begin(); a != x.end(); ++a, ++b) EXPECT_EQ(0, std::memcmp(&*a, &*b, sizeof(_PHLID)));
    };
    same(full, fromMet);
    same(full, fromKept);
    same(freePlain, freeKept);
    same(freePlain, free);
    // A side without holes has no candidates at all: nothing is searched twice.
    EXPECT_EQ(-1, met.depth[2]);
  }
}

}  // namespace
