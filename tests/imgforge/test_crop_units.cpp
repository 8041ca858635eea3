// The main crop engine's routines one by one: record checks, geometry,
// profiles, edge scans, the Hough fit, virtual sides, the resampler and the
// work image, and the entries' tuning and stage lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "FsipCrop.h"
#include "crop_test_util.h"

using namespace fsipcrop;
using dravn_pages::BackedPageSpec;

namespace {

std::vector<unsigned char> gTone = crop_test::ToneBlock();

FSIP_CRP_S_CRPALL GoodRecord() { return crop_test::CropRecord(gTone); }

// Lines and images of the analysis tests share the engine's globals: start
// each test from the entries' settings.
class Crop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Initialize(), 1);
    gbInv = 0;
    gdblGrayZone = 1.0;
    gnEdgeGrad = 4096;
    guBGLvl = 0x4000;
    guBGLvlInv = 0xC000;
    gbFBFrameSearch = gbExecTabProc = gbHWEdgeDetection = 0;
    gd1mm = 300 / 25.4;
    MakeLUT4InvXf(nullptr);
  }
};

_P2IIMG ImageOf(dravn_pages::Image& img, int dpi) {
  _P2IIMG p{};
  p.pImageData = img.pixels.data();
  p.nBitsPerPixel = img.channels * 8;
  p.nWidth = img.width;
  p.nHeight = img.height;
  p.nBytesPerLine = img.width * img.channels;
  p.nImageSize = p.nBytesPerLine * img.height;
  p.nXResolution = p.nYResolution = dpi;
  return p;
}

// Runs the document search on an image the way the entries do.
int Search(_P2IIMG& img, _STRTLINE* lines, int* found, double* skew) {
  gd1mm = img.nXResolution / 25.4;
  const int n = GetDiagonalLength(&img);
  uint32_t* ave;
  int32_t* grad;
  EXPECT_EQ(AllcAveBuff(n, img.nBitsPerPixel == 24, &ave, &grad), 1);
  const int rc = GetDocPos(&img, 1, ave, grad, n, lines, skew, found, nullptr, nullptr);
  FreeAveBuff(ave, grad);
  return rc;
}

dravn_pages::Image Window(const dravn_pages::Image& src, int x0, int y0, int w, int h) {
  dravn_pages::Image out;
  out.width = w;
  out.height = h;
  out.channels = src.channels;
  out.pixels.resize(static_cast<size_t>(w) * h * src.channels);
  for (int y = 0; y < h; ++y)
    std::memcpy(out.Row(y), src.Row(y0 + y) + static_cast<size_t>(x0) * src.channels, out.BytesPerLine());
  return out;
}

}  // namespace

// ---- record checks ----------------------------------------------------------

TEST(CropChecks, CropRecordBounds) {
  struct Row {
    const char* name;
    void (*edit)(FSIP_CRP_S_CRPALL&);
    int expect;
  };
  const Row rows[] = {
      {"as the control layer fills it", [](FSIP_CRP_S_CRPALL&) {}, 0},
      {"search width 100", [](FSIP_CRP_S_CRPALL& r) { r.wFBCropSearchWidth = 100; }, 0},
      {"search width 101", [](FSIP_CRP_S_CRPALL& r) { r.wFBCropSearchWidth = 101; }, -2},
      {"search width 0xFFFE", [](FSIP_CRP_S_CRPALL& r) { r.wFBCropSearchWidth = 0xFFFE; }, -2},
      {"ignore length 254", [](FSIP_CRP_S_CRPALL& r) { r.wFBCropIgnoreLength = 254; }, 0},
      {"ignore length 255", [](FSIP_CRP_S_CRPALL& r) { r.wFBCropIgnoreLength = 255; }, -2},
      {"threshold 0", [](FSIP_CRP_S_CRPALL& r) { r.wBlackBkThreshold = 0; }, -2},
      {"function bit 2", [](FSIP_CRP_S_CRPALL& r) { r.dwFuncFlag = 4; }, -2},
      {"accuracy 6", [](FSIP_CRP_S_CRPALL& r) { r.wAccCrp = 6; }, -2},
      {"hole accuracy 1", [](FSIP_CRP_S_CRPALL& r) { r.wAccPH = 1; }, -2},
      {"no callback", [](FSIP_CRP_S_CRPALL& r) { r.NotifyOutImgInfo = nullptr; }, -2},
      {"form 7", [](FSIP_CRP_S_CRPALL& r) { r.byTransferDataType = 7; }, -2},
  };
  for (const Row& r : rows) {
    alignas(8) auto rec = GoodRecord();
    r.edit(rec);
    EXPECT_EQ(checkInParam(&rec), r.expect) << r.name;
  }
}

TEST(CropChecks, ToneBlocks) {
  struct Row {
    int at;
    unsigned char value;
    uint8_t form;
    int expect;
  };
  const Row rows[] = {{5, 0, 0x83, 0},     {4, 2, 0x83, -2}, {4, 4, 0x83, 0},   {7, 1, 0x83, -2},
                      {2, 0x20, 0x83, -2}, {2, 0x20, 3, 0},  {2, 0x10, 0x83, 0}};
  for (const Row& r : rows) {
    auto block = crop_test::ToneBlock();
    block[r.at] = r.value;
    EXPECT_EQ(checkSendData(r.form, block.data()), r.expect) << r.at << " " << int(r.value);
  }
  EXPECT_EQ(checkSendData(0x83, nullptr), -2);
}

TEST(CropChecks, ImageRecords) {
  std::vector<uint8_t> px(100 * 30);
  alignas(8) FSIP_S_IMAGEINFO_EX good{};
  good.cbSize = 76;
  good.pImageData = px.data();
  good.nPixelType = 1;
  good.nDepth = 8;
  good.nWidth = 100;
  good.nHeight = 30;
  good.nBytesPerLine = 100;
  good.nImageSize = 3000;
  struct Row {
    const char* name;
    void (*edit)(FSIP_S_IMAGEINFO_EX&);
    int expect;
  };
  const Row rows[] = {
      {"grey", [](FSIP_S_IMAGEINFO_EX&) {}, 0},
      {"rows shorter than their pixels", [](FSIP_S_IMAGEINFO_EX& i) { i.nBytesPerLine = 99; }, -2},
      {"size short", [](FSIP_S_IMAGEINFO_EX& i) { i.nImageSize = 2999; }, -2},
      {"grey of 24 bits", [](FSIP_S_IMAGEINFO_EX& i) { i.nDepth = 24; }, -2},
      {"colour order 2", [](FSIP_S_IMAGEINFO_EX& i) { i.nPixelType = 2, i.nDepth = 24, i.nColorSeq = 2; }, -2},
      {"a region", [](FSIP_S_IMAGEINFO_EX& i) { i.Rect.nXOffset = 1; }, -2},
      {"flavour 2", [](FSIP_S_IMAGEINFO_EX& i) { i.nPixelFlavor = 2; }, -2},
      {"1 bit, 13 bytes a row", [](FSIP_S_IMAGEINFO_EX& i) { i.nPixelType = 0, i.nDepth = 1, i.nBytesPerLine = 13; },
       0},
      {"1 bit, 12 bytes a row", [](FSIP_S_IMAGEINFO_EX& i) { i.nPixelType = 0, i.nDepth = 1, i.nBytesPerLine = 12; },
       -2},
  };
  for (const Row& r : rows) {
    alignas(8) auto rec = good;
    r.edit(rec);
    EXPECT_EQ(checkImageinfoEx(&rec), r.expect) << r.name;
  }
}

TEST(CropChecks, LayoutsOffsetsAndDuplexHalves) {
  alignas(8) FSIP_CRP_S_PAPER_LAYOUT l{};
  l.cornerPts.ptLT = {10, 10};
  l.cornerPts.ptRT = {110, 12};
  l.cornerPts.ptLB = {8, 210};
  l.cornerPts.ptRB = {108, 212};
  l.sizeRectangle = {100, 200};
  EXPECT_EQ(checkPaperLayout(l), 1);
  l.dSkew = 90.0;
  EXPECT_EQ(checkPaperLayout(l), 1);
  l.dSkew = 90.5;
  EXPECT_EQ(checkPaperLayout(l), 0);
  l.dSkew = 0;
  auto bow = l;  // sides crossing, three of them near the top's direction
  std::swap(bow.cornerPts.ptLT, bow.cornerPts.ptLB);
  EXPECT_EQ(checkPaperLayout(bow), 0);
  auto same = l;
  same.cornerPts.ptRB = same.cornerPts.ptLB;
  EXPECT_EQ(checkPaperLayout(same), 0);
  auto flat = l;
  flat.sizeRectangle.x = 0;
  EXPECT_EQ(checkPaperLayout(flat), 0);
  EXPECT_EQ(checkDualLayout(nullptr), -2);

  EXPECT_EQ(checkOffsetValue({-100, 100, 0, 0}), 0);
  EXPECT_EQ(checkOffsetValue({0, 0, 101, 0}), -2);

  alignas(8) _FSIP_CRP_S_DUPCRPALL dup{};
  dup.crpAll[0] = dup.crpAll[1] = GoodRecord();
  dup.nReqSide = 2;
  EXPECT_EQ(checkInParam(&dup), 0);
  dup.crpAll[1].wBlackBkThreshold = 65;
  EXPECT_EQ(checkDupInParamCropAll(&dup.crpAll[0], &dup.crpAll[1]), 0);
  dup.crpAll[1] = dup.crpAll[0];
  dup.nReqSide = 3;
  EXPECT_EQ(checkInParam(&dup), -2);

  alignas(8) FSIP_CRP_S_SPECIFIEDAREA_CRP area{};
  area.crpAll = GoodRecord();
  area.layout.layoutHoleRemove = area.layout.layoutCrop = l;
  area.crpAll.wBlackBkThreshold = 0;
  EXPECT_EQ(checkInParam(&area), 0);
  area.crpAll.wBlackBkThreshold = 65;
  EXPECT_EQ(checkInParam(&area), -2);
}

// ---- geometry ----------------------------------------------------------------

TEST(CropGeometry, CrossingsAndMeasures) {
  const _STRTLINE vert{0, 0, 1, 10}, sloped{0.5, -3, 0, 0}, flat{0, -0.5, 0, 0}, vert3{0, 0, 1, 3};
  tagPOINT p{};
  ASSERT_TRUE(GetXPt(vert, sloped, &p));
  EXPECT_EQ(p.x, 10);
  EXPECT_EQ(p.y, 2);
  ASSERT_TRUE(GetXPt(flat, vert3, &p));
  EXPECT_EQ(p.x, 3);
  EXPECT_EQ(p.y, -1);  // -0.5 rounds away from zero
  // Parallel and near-parallel lines have no crossing.
  EXPECT_FALSE(GetXPt(vert, vert3, &p));
  EXPECT_FALSE(GetXPt(_STRTLINE{0.5, 1, 0, 0}, sloped, &p));
  EXPECT_FALSE(GetXPt(_STRTLINE{0.5 + 1e-15, 1, 0, 0}, sloped, &p));
  EXPECT_FALSE(GetXPt(flat, _STRTLINE{0, 4, 0, 0}, &p));

  double rho, theta;
  GetRhTh({0, -20, 0, 0}, &rho, &theta);
  EXPECT_EQ(rho, 20);
  EXPECT_EQ(theta, -90);
  GetRhTh({0, 0, 1, 7}, &rho, &theta);
  EXPECT_EQ(rho, 7);
  EXPECT_EQ(theta, 0);
  double a;
  GetDskwAngle({0.01, 0, 0, 0}, &a);
  EXPECT_NEAR(a, -0.01, 1e-4);
  GetDskwAngle({100, 0, 0, 0}, &a);
  EXPECT_NEAR(a, 1.570796327 - std::atan(100.0), 1e-12);
  EXPECT_TRUE(ArePtsNghbr({0, 0}, {100, 3}, 4.9));
  EXPECT_FALSE(ArePtsNghbr({0, 0}, {100, 4}, 4.9));

  _STRTLINE l[4] = {{2, 10.3, 0, 0}, {2, 10.3, 0, 0}, {2, 10.3, 0, 0}, {2, 10.3, 0, 0}};
  CrrctSLs(l, 1, 1);
  EXPECT_DOUBLE_EQ(l[0].dB, 10);  // trunc(9.8) - 1 + 2
  _STRTLINE d[4] = {{2, 10.3, 0, 0}, {2, 10.3, 0, 0}, {2, 10.3, 0, 0}, {2, 10.3, 0, 0}};
  CrrctSLs(d, 1.0, 1.0);
  EXPECT_DOUBLE_EQ(d[0].dB, 11.3);
}

TEST(CropGeometry, OrderingOfPointsAndLines) {
  tagPOINT pts[4] = {{5, 1}, {0, 9}, {5, 9}, {0, 1}};
  SortXPts(pts);
  const tagPOINT want[4] = {{0, 1}, {0, 9}, {5, 9}, {5, 1}};
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(pts[i].x == want[i].x && pts[i].y == want[i].y) << i;

  // Top, right, bottom, left in, left, bottom, right, top out.
  _STRTLINE l[4] = {{0, -5, 0, 0}, {0, 0, 1, 90}, {0, -200, 0, 0}, {0, 0, 1, 4}};
  int perm[4];
  SortSLs(l, perm);
  EXPECT_EQ(l[0].dX, 4);
  EXPECT_EQ(l[1].dB, -200);
  EXPECT_EQ(l[2].dX, 90);
  EXPECT_EQ(l[3].dB, -5);
  EXPECT_EQ(perm[0], 3);
  EXPECT_EQ(perm[3], 0);
}

TEST(CropGeometry, MakeRectEnclosesNoisyQuadrilaterals) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ang(-40, 40), noise(-3, 3);
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    const double a = ang(rng) * M_PI / 180, W = 800, H = 1100, cx = 1000, cy = -1000;
    // Corners of a turned rectangle, each moved a little.
    double c[4][2];
    const double u[4] = {-W / 2, W / 2, W / 2, -W / 2}, v[4] = {H / 2, H / 2, -H / 2, -H / 2};
    for (int k = 0; k < 4; ++k) {
      c[k][0] = cx + u[k] * std::cos(a) - v[k] * std::sin(a) + noise(rng);
      c[k][1] = cy + u[k] * std::sin(a) + v[k] * std::cos(a) + noise(rng);
    }
    _STRTLINE l[4];
    for (int k = 0; k < 4; ++k) {
      const int j = (k + 1) % 4;
      GetSLfm2Pts({std::lround(c[k][0]), std::lround(c[k][1])}, {std::lround(c[j][0]), std::lround(c[j][1])}, &l[k]);
    }
    ASSERT_TRUE(MakeRect(l));
    // Opposite sides parallel, neighbours perpendicular.
    auto dir = [](const _STRTLINE& s) { return s.bVert ? M_PI / 2 : std::atan(s.dA); };
    for (int k = 0; k < 4; ++k) {
      double d = std::fabs(dir(l[k]) - dir(l[(k + 1) % 4]));
      EXPECT_NEAR(std::fabs(std::remainder(d, M_PI)), M_PI / 2, 1e-6);
    }
    // Every corner on or inside: on the inner side of each sorted side.
    tagPOINT inner{};
    ASSERT_TRUE(GetXPt(l[0], l[1], &inner));
    for (int k = 0; k < 4; ++k) {
      const double px = c[k][0], py = c[k][1];
      // Signed distance from a side.
      auto side = [](const _STRTLINE& s, double x, double y) {
        return s.bVert ? x - s.dX : (y - (s.dA * x + s.dB)) / std::sqrt(1 + s.dA * s.dA);
      };
      const double centreX = cx, centreY = cy;
      for (int s = 0; s < 4; ++s) {
        const double ref = side(l[s], centreX, centreY), val = side(l[s], px, py);
        EXPECT_TRUE(ref * val >= 0 || std::fabs(val) < 1.5) << "corner " << k << " side " << s;
      }
    }
  }
}

TEST(CropGeometry, PaperLayoutOfAnUprightPage) {
  _STRTLINE l[4] = {{0, 0, 1, 10}, {0, -219, 0, 0}, {0, 0, 1, 109}, {0, -20, 0, 0}};
  alignas(8) FSIP_CRP_S_PAPER_LAYOUT out{};
  ASSERT_TRUE(GetFsipPaperLayout(l, 0, &out));
  EXPECT_EQ(out.sizeRectangle.x, 99);
  EXPECT_EQ(out.sizeRectangle.y, 199);
  EXPECT_EQ(out.cornerPts.ptLT.x, 10);
  EXPECT_EQ(out.cornerPts.ptLT.y, 20);
  EXPECT_EQ(out.cornerPts.ptRB.x, 109);
  EXPECT_EQ(out.cornerPts.ptRB.y, 219);
}

TEST(CropGeometry, MarginsMoveSidesTowardsTheCentre) {
  _STRTLINE l[4] = {{0, 0, 1, 10}, {0, -219, 0, 0}, {0, 0, 1, 109}, {0, -20, 0, 0}};
  MoveSLs4FHK(l, 254.0, FSIP_CRP_S_OFFSET_VALUE{10, 0, 0, 0});
  EXPECT_DOUBLE_EQ(l[0].dX, 20);
  MoveSLs4FHK(l, 254.0, FSIP_CRP_S_OFFSET_VALUE{0, 5, 5, 5});
  EXPECT_DOUBLE_EQ(l[1].dB, -214);
  EXPECT_DOUBLE_EQ(l[2].dX, 104);
  EXPECT_DOUBLE_EQ(l[3].dB, -25);
  _P2IDOCPOS pos{0, {{0, 0}, {0, -100}, {50, -100}, {50, 0}}};
  _P2IDOCPOS before = pos;
  alignas(8) FSIP_CRP_S_OFFSET_VALUE zero{};
  MoveDocPos(&pos, 300.0, &zero);
  SortXPts(before.ptCorner);
  for (int k = 0; k < 4; ++k)
    EXPECT_TRUE(pos.ptCorner[k].x == before.ptCorner[k].x && pos.ptCorner[k].y == before.ptCorner[k].y);
  FSIP_CRP_S_OFFSET_VALUE ten{10, 10, 10, 10};
  MoveDocPos(&pos, 254.0, &ten);  // outwards by 10 pixels
  EXPECT_EQ(pos.ptCorner[0].x, -10);
  EXPECT_EQ(pos.ptCorner[0].y, -110);
  EXPECT_EQ(pos.ptCorner[2].x, 60);
  EXPECT_EQ(pos.ptCorner[2].y, 10);
}

// ---- profiles and tone tables -------------------------------------------------

// Columns' profiles made a block at a time are those made one column at a
// time, on sums large enough to wrap the window's running sum, in grey and
// colour, for blocks that end inside the sums' row.
TEST(CropProfiles, ColumnBlockIsEachColumnsSlide) {
  std::mt19937 random(7);
  for (int ch : {1, 3})
    for (int count : {3, 4, 57})
      for (int columns : {1, 5, 9}) {
        const size_t stride = static_cast<size_t>(columns + 2) * ch;
        std::vector<uint32_t> sums(stride * count);
        for (uint32_t& v : sums) v = random() % 4 == 0 ? random() : random() % 766;
        std::vector<uint32_t> block(static_cast<size_t>(columns) * count * ch, 1), one(static_cast<size_t>(count) * ch);
        SlideColumnBlock(sums.data() + ch, count, ch, stride, columns, block.data());
        for (int k = 0; k < columns; ++k) {
          SlideColumnSums(sums.data() + static_cast<size_t>(k + 1) * ch, count, ch, stride, one.data());
          EXPECT_TRUE(std::equal(one.begin(), one.end(), block.begin() + static_cast<long>(k * one.size())))
              << ch << " channels, " << count << " positions, column " << k << " of " << columns;
        }
      }
}

TEST_F(Crop, ProfilesGradientsAndPeaks) {
  std::vector<uint8_t> px(20 * 9, 100);
  _P2IIMG img{px.data(), 8, 0, 20, 9, 20, 180, 300, 300, 0, 0, 19, 8};
  for (int k = 0; k < 256; ++k) gbyLUT4InvXf[k] = static_cast<uint8_t>(k);
  std::vector<uint32_t> out(20, 0);
  GetRowAve(&img, 4, 3, out.data());
  for (uint32_t v : out) EXPECT_EQ(v, 25600u);
  std::vector<uint32_t> col(9, 0);
  GetClmAve(&img, 0 + 1, 3, col.data());
  for (uint32_t v : col) EXPECT_EQ(v, 25600u);

  const uint32_t prof[4] = {0, 10, 30, 30};
  int32_t g[4];
  GetGrad(prof, 4, false, g);
  EXPECT_EQ(std::vector<int32_t>(g, g + 4), (std::vector<int32_t>{0, 30, 20, 0}));
  const int32_t peaks[6] = {0, 5, 9, 9, 4, 0};
  int isMax = -1;
  EXPECT_EQ(IsPeak(peaks, 6, 2, &isMax), 1);
  EXPECT_EQ(isMax, 1);
  // Positions at the ends read inside the array.
  EXPECT_EQ(IsPeak(peaks, 6, 0, &isMax), 0);

  auto block = crop_test::ToneBlock();
  MakeLUT4InvXf(block.data());
  EXPECT_EQ(gbyLUT4InvXf[0], 0);
  EXPECT_EQ(gbyLUT4InvXf[1], 0);
  EXPECT_EQ(gbyLUT4InvXf[2], 1);
  EXPECT_EQ(gbyLUT4InvXf[255], 254);
  gbInv = 1;
  MakeLUT4InvXf(block.data());
  EXPECT_EQ(gbyLUT4InvXf[0], 0);
  EXPECT_EQ(gbyLUT4InvXf[255], 255);
  gbInv = 0;
  block[4] = 4;
  block[5] = 0;
  MakeLUT4InvXf(block.data());
  for (int k = 0; k < 256; ++k) EXPECT_EQ(gbyLUT4InvXf[k], 0);

  // A vertical line outside the limits writes nothing.
  int first = 0, last = 8;
  out.assign(20, 7);
  GetAveOnSL(&img, 3, &first, &last, out.data(), _STRTLINE{0, 0, 1, 0});
  EXPECT_EQ(first, -1);
  EXPECT_EQ(last, -1);
  EXPECT_EQ(out[3], 7u);
}

// The profile along a line is the plain box mean of the mapped pixels at
// every sample, whatever the line's lean, the depth and the box size: the
// sampler shares box rows between samples and must not change a value.
TEST_F(Crop, ProfileAlongALineIsTheBoxMeanAtEverySample) {
  std::mt19937 rnd(7);
  for (int k = 0; k < 256; ++k) gbyLUT4InvXf[k] = static_cast<uint8_t>(255 - k / 2);
  const _STRTLINE lines[] = {{0, 0, 1, 40.3},  {7.5, -300, 0, 0}, {-3.2, 250, 0, 0},
                             {0, -61.6, 0, 0}, {0.21, -90, 0, 0}, {-0.97, -20, 0, 0}};
  for (int ch : {1, 3})
    for (int n : {3, 5}) {
      const int w = 97, h = 83, half = n / 2;
      std::vector<uint8_t> px(static_cast<size_t>(w) * h * ch);
      for (auto& v : px) v = static_cast<uint8_t>(rnd());
      _P2IIMG img{px.data(), 8 * ch, 0, w, h, w * ch, w * h * ch, 300, 300, 0, 0, w - 1, h - 1};
      for (const _STRTLINE& l : lines) {
        const bool steep = IsSteep(l);
        int first = 0, last = (steep ? h : w) - 1;
        std::vector<uint32_t> out(static_cast<size_t>(std::max(w, h)) * ch, 0);
        GetAveOnSL(&img, n, &first, &last, out.data(), l);
        ASSERT_GE(first, 0) << l.dA << " " << l.dB;
        for (int j = first; j <= last; ++j) {
          const int v = static_cast<int>(steep ? std::trunc(l.bVert ? l.dX + 0.5 : (-j - l.dB) / l.dA + 0.5)
                                               : -std::trunc(l.dA * j + l.dB + 0.5));
          const int x = steep ? v : j, y = steep ? j : v;
          for (int c = 0; c < ch; ++c) {
            uint32_t sum = 0;
            for (int r = y - half; r <= y + half; ++r)
              for (int q = x - half; q <= x + half; ++q)
                sum += gbyLUT4InvXf[px[(static_cast<size_t>(r) * w + q) * ch + c]];
            ASSERT_EQ(sum * 256u / static_cast<uint32_t>(n * n), out[static_cast<size_t>(j) * ch + c])
                << "ch " << ch << " n " << n << " line " << l.dA << "," << l.dB << " j " << j;
          }
        }
      }
    }
}

// ---- edges on one scan line ----------------------------------------------------

TEST_F(Crop, EdgesOfOneProfile) {
  gd1mm = 2;  // 10 mm = 20 samples, an inch = 51
  auto profile = [](std::initializer_list<std::pair<int, uint32_t>> runs) {
    std::vector<uint32_t> p;
    for (auto [n, v] : runs) p.insert(p.end(), n, v * 256);
    return p;
  };
  struct Row {
    const char* name;
    std::vector<uint32_t> p;
    bool inverted;
    std::vector<int> want;
  };
  const Row rows[] = {
      {"paper between two backings", profile({{30, 10}, {100, 220}, {30, 10}}), false, {29, 130}},
      {"thin line on the backing first",
       profile({{10, 10}, {2, 220}, {18, 10}, {100, 220}, {30, 10}}),
       false,
       {29, 130}},
      {"edges 8 mm apart", profile({{30, 10}, {16, 220}, {30, 10}}), false, {}},
      {"inverted page", profile({{30, 240}, {100, 30}, {30, 240}}), true, {29, 130}},
      {"no backing at the far end", profile({{30, 10}, {130, 220}}), false, {29}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    gbInv = r.inverted;
    const int n = static_cast<int>(r.p.size());
    std::vector<int32_t> g(n);
    GetGrad(r.p.data(), n, false, g.data());
    int s, e;
    GetBothEnds(r.p.data(), n, false, &s, &e, 1);
    std::vector<int> found;
    GetEdge(g.data(), n, s, e, found, r.p.data(), false);
    EXPECT_EQ(found, r.want);
  }
}

// ---- Hough fit ------------------------------------------------------------------

TEST_F(Crop, HoughFit) {
  _STRTLINE l[4] = {};
  double skew = 5;
  PointList none;
  EXPECT_EQ(GetSLs(1000, none, none, l, &skew), 0);
  EXPECT_EQ(skew, 0);

  // An upright A4 side at 2 mm steps: 148 points in one cell, beside a
  // weaker slanted scatter. The side must win.
  PointList side, scatter;
  for (int k = 1; k <= 148; ++k) side.push_back({120, static_cast<int64_t>(k * 2 * 300 / 25.4)});
  for (int k = 0; k < 60; ++k) scatter.push_back({600 + k * 7, 200 + k * 5});
  const int n = 4300;
  int count = GetSLs(n, side, scatter, l, &skew);
  ASSERT_GE(count, 1);
  EXPECT_EQ(l[0].bVert, 1);
  EXPECT_DOUBLE_EQ(l[0].dX, 120);

  // Two parallels 12 mm apart give one line; 20 mm apart two.
  for (auto [gapMm, lines] : {std::pair{12.0, 1}, std::pair{20.0, 2}}) {
    PointList a;
    for (int k = 1; k <= 60; ++k) {
      a.push_back({300, k * 20});
      a.push_back({300 + static_cast<int64_t>(gapMm * gd1mm), k * 20});
    }
    EXPECT_EQ(GetSLs(n, a, none, l, &skew), lines) << gapMm;
  }
}

// ---- document search on rendered pages -------------------------------------------

TEST_F(Crop, VirtualSidesAtTheLargestDistanceShowingPaper) {
  // Pages running off the right and bottom of the image: their left and
  // top sides are seen, the other two are placed 50..10 mm away.
  for (double widthMm : {120.0, 35.0}) {
    SCOPED_TRACE(widthMm);
    BackedPageSpec spec;
    spec.widthMm = widthMm;
    spec.heightMm = 150;
    spec.dpi = 150;
    auto page = dravn_pages::RenderBackedPage(spec);
    const int x0 = static_cast<int>(page.corners[0][0]), y0 = static_cast<int>(page.corners[0][1]);
    const int w = static_cast<int>(page.corners[1][0]) - 20, h = static_cast<int>(page.corners[2][1]) - 20;
    auto img = Window(page.image, 0, 0, w, h);
    auto p = ImageOf(img, spec.dpi);
    _STRTLINE l[4];
    int found = 0;
    double skew;
    ASSERT_EQ(Search(p, l, &found, &skew), 0);
    EXPECT_EQ(found, 2);
    SortSLs(l);
    const double want = widthMm > 50 ? 50 : 30;
    EXPECT_NEAR(l[0].dX, x0, 2);
    EXPECT_NEAR(l[2].dX - l[0].dX, static_cast<int>(want * gd1mm + 0.5), 2);
    EXPECT_NEAR(-l[3].dB, y0, 2);
  }
}

TEST_F(Crop, NoDocument) {
  // Nothing but backing; and paper with a single side turned by 2 degrees.
  BackedPageSpec blank;
  blank.widthMm = blank.heightMm = 0;
  blank.dpi = 150;
  auto b = dravn_pages::RenderBackedPage(blank);
  BackedPageSpec big;
  big.widthMm = big.heightMm = 400;
  big.dpi = 100;
  big.angleDeg = 2;
  auto g = dravn_pages::RenderBackedPage(big);
  const int lx = static_cast<int>((g.corners[0][0] + g.corners[2][0]) / 2);
  auto one = Window(g.image, lx - 200, g.image.height / 2 - 300, 600, 600);
  for (auto* img : {&b.image, &one}) {
    auto p = ImageOf(*img, img == &one ? 100 : 150);
    _STRTLINE l[4];
    int found = 0;
    double skew;
    EXPECT_EQ(Search(p, l, &found, &skew), kNoDocument);
  }
}

TEST_F(Crop, FaintPageNeedsTheWeakerLevels) {
  BackedPageSpec faint;
  faint.widthMm = 120;
  faint.heightMm = 160;
  faint.dpi = 150;
  faint.paper = 22;
  faint.backing = 6;
  faint.text = false;
  auto page = dravn_pages::RenderBackedPage(faint);
  auto p = ImageOf(page.image, 150);
  _STRTLINE l[4];
  int found = 0;
  double skew;
  EXPECT_EQ(Search(p, l, &found, &skew), kNoDocument);
  gnEdgeGrad = 2560;
  guBGLvl = 0x1800;
  EXPECT_EQ(Search(p, l, &found, &skew), 0);
  EXPECT_EQ(found, 4);
}

TEST_F(Crop, TornSideLeavesThreeRealSides) {
  BackedPageSpec torn;
  torn.widthMm = 120;
  torn.heightMm = 160;
  torn.dpi = 150;
  torn.angleDeg = 1;
  torn.raggedRight = true;
  auto page = dravn_pages::RenderBackedPage(torn);
  auto p = ImageOf(page.image, 150);
  _STRTLINE l[4];
  int found = 0;
  double skew;
  EXPECT_EQ(Search(p, l, &found, &skew), 0);
  EXPECT_EQ(found, 3);
}

// ---- resampler -----------------------------------------------------------------

TEST(CropRotate, NeverAboveAndAtMostSixBelowAFloatReference) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> byte(0, 255);
  const int W = 64, H = 48;
  for (int ch : {3, 1}) {
    std::vector<uint8_t> src(W * H * ch);
    for (auto& v : src) v = static_cast<uint8_t>(byte(rng));
    _P2IIMG s{src.data(), 8 * ch, 0, W, H, W * ch, W * H * ch, 300, 300, 0, 0, W - 1, H - 1};
    for (double angle : {0.0, 3.0, -7.5, 10.0, 33.0}) {
      SCOPED_TRACE(angle);
      const int DW = 41, DH = 30;  // not a multiple of four pixels
      std::vector<uint8_t> dst(DW * DH * ch);
      _P2IIMG d{dst.data(), 8 * ch, 0, DW, DH, DW * ch, DW * DH * ch, 300, 300, 0, 0, DW - 1, DH - 1};
      const double sx = 12.3, sy = 5.7;
      ASSERT_TRUE(ch == 3 ? p2iRotate12_Color(&s, &d, angle, sx, sy) : p2iRotate12_Gray(&s, &d, angle, sx, sy));
      const double r = angle * 3.141592654 / 180;
      int worst = 0;
      for (int k = 0; k < DH; ++k)
        for (int l = 0; l < DW; ++l) {
          const double u = sx + l * std::cos(r) + k * std::sin(r), v = sy - l * std::sin(r) + k * std::cos(r);
          const int x = static_cast<int>(std::floor(u)), y = static_cast<int>(std::floor(v));
          if (u < 0 || v < 0 || x >= W - 1 || y >= H - 1) continue;
          // The reference at the resampler's own 8-bit fractions.
          const double fx = std::floor((u - x) * 256) / 255, fy = std::floor((v - y) * 256) / 255;
          for (int c = 0; c < ch; ++c) {
            auto at = [&](int xx, int yy) { return src[(yy * W + xx) * ch + c]; };
            const double top = at(x, y) * (1 - fx) + at(x + 1, y) * fx;
            const double bottom = at(x, y + 1) * (1 - fx) + at(x + 1, y + 1) * fx;
            const double ref = top * (1 - fy) + bottom * fy;
            const int got = dst[(k * DW + l) * ch + c];
            EXPECT_LE(got, ref + 1e-9);
            worst = std::max(worst, static_cast<int>(std::ceil(ref - got)));
          }
        }
      EXPECT_LE(worst, 6) << ch;
    }
  }
}

// The resampler's own arithmetic written out plainly: each output pixel's
// 20-bit fixed-point source position, cells past the last column or row
// outside, 8-bit weights and the (a * b) >> 8 products in their order.
std::vector<uint8_t> PlainRotate(const dravn_pages::Image& src, int DW, int DH, double angle, double sx, double sy) {
  const int ch = src.channels, W = src.width, H = src.height;
  const uint8_t outside = ch == 3 ? 255 : 0;
  const double r = angle * 3.141592654 / 180, one = 1 << 20;
  const int64_t C = static_cast<int64_t>(std::cos(r) * one), S = static_cast<int64_t>(std::sin(-r) * one);
  const int64_t U0 = static_cast<int64_t>(sx * one), V0 = static_cast<int64_t>(sy * one);
  auto P = [](uint32_t a, uint32_t b) { return (a * b) >> 8; };
  std::vector<uint8_t> out(static_cast<size_t>(DW) * DH * ch);
  for (int64_t k = 0; k < DH; ++k)
    for (int64_t l = 0; l < DW; ++l) {
      const int64_t u = U0 - k * S + l * C, v = V0 + k * C + l * S;
      uint8_t* o = &out[static_cast<size_t>(k * DW + l) * ch];
      if (u < 0 || v < 0 || u >= (int64_t(W) - 1) << 20 || v >= (int64_t(H) - 1) << 20) {
        std::fill_n(o, ch, outside);
        continue;
      }
      const uint32_t fx = static_cast<uint32_t>(u >> 12) & 255, fy = static_cast<uint32_t>(v >> 12) & 255;
      const uint8_t* p0 = src.Row(static_cast<int>(v >> 20)) + (u >> 20) * ch;
      const uint8_t* p1 = p0 + src.BytesPerLine();
      for (int c = 0; c < ch; ++c) {
        const uint32_t top = P(p0[c], 255 - fx) + P(p0[c + ch], fx);
        const uint32_t bottom = P(p1[c], 255 - fx) + P(p1[c + ch], fx);
        o[c] = static_cast<uint8_t>(P(top, 255 - fy) + P(bottom, fy));
      }
    }
  return out;
}

// Every byte as the plain arithmetic gives it, for colour and grey, on
// pages as a scanner delivers them, upright and turned, with the cut-out
// reaching past the page on every side and the last rows and columns in
// reach (where the wide reads must stop).
TEST(CropRotate, CutOutsGiveThePlainArithmeticsBytes) {
  dravn_pages::PageSpec spec;
  spec.dpi = 60;
  const dravn_pages::Image document = dravn_pages::RenderDocumentPage(spec);
  const dravn_pages::Image backed = dravn_pages::RenderBackedPage(dravn_pages::WhiteBackedSpec(60, 3, 3)).image;
  const std::pair<const char*, dravn_pages::Image> pages[] = {
      {"document page", document},
      {"backed page", backed},
      {"grey document page", dravn_pages::ToGrey(document)},
      {"grey backed page", dravn_pages::ToGrey(backed)},
  };
  struct Cut {
    double angle, sx, sy, grow;  // grow: the output's size over the page's
  } cuts[] = {{0, 0, 0, 1}, {0, 3.7, 2.2, 1}, {2.6, 40.3, -11.9, 1.02}, {-7.9, -15.2, 35.6, 1.1}, {0.05, -3, -3, 1.2}};
  for (const auto& [name, page] : pages)
    for (const Cut& c : cuts) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(c.angle));
      const int DW = static_cast<int>(page.width * c.grow) | 1, DH = static_cast<int>(page.height * c.grow);
      const int ch = page.channels;
      std::vector<uint8_t> src = page.pixels, dst(static_cast<size_t>(DW) * DH * ch, 7);
      _P2IIMG s{src.data(),
                8 * ch,
                0,
                page.width,
                page.height,
                static_cast<int>(page.BytesPerLine()),
                static_cast<int>(src.size()),
                300,
                300,
                0,
                0,
                page.width - 1,
                page.height - 1};
      _P2IIMG d{dst.data(), 8 * ch, 0, DW, DH, DW * ch, static_cast<int>(dst.size()), 300, 300, 0, 0, DW - 1, DH - 1};
      ASSERT_TRUE(ch == 3 ? p2iRotate12_Color(&s, &d, c.angle, c.sx, c.sy)
                          : p2iRotate12_Gray(&s, &d, c.angle, c.sx, c.sy));
      EXPECT_TRUE(dst == PlainRotate(page, DW, DH, c.angle, c.sx, c.sy));
    }
}

TEST(CropRotate, EdgeCases) {
  std::vector<uint8_t> src = {255, 255, 0, 255, 255, 0, 0, 0, 0};
  _P2IIMG s{src.data(), 8, 0, 3, 3, 3, 9, 300, 300, 0, 0, 2, 2};
  std::vector<uint8_t> dst(16, 9);
  _P2IIMG d{dst.data(), 8, 0, 4, 4, 4, 16, 300, 300, 0, 0, 3, 3};
  ASSERT_TRUE(p2iRotate12_Gray(&s, &d, 0, 0, 0));
  EXPECT_EQ(dst[0], 253);  // 255 through two truncated stages
  EXPECT_EQ(dst[1], 253);
  EXPECT_EQ(dst[2], 0);  // the last column is outside
  EXPECT_EQ(dst[4 * 2], 0);
  std::vector<uint8_t> c(4 * 4 * 3, 9);
  _P2IIMG dc{c.data(), 24, 0, 4, 4, 12, 48, 300, 300, 0, 0, 3, 3};
  std::vector<uint8_t> csrc(27, 0);
  _P2IIMG cs{csrc.data(), 24, 0, 1, 3, 9, 27, 300, 300, 0, 0, 0, 2};
  ASSERT_TRUE(p2iRotate12_Color(&cs, &dc, 0, 0, 0));
  for (uint8_t v : c) EXPECT_EQ(v, 255);
  _P2IIMG none = d;
  none.pImageData = nullptr;
  EXPECT_FALSE(p2iRotate12_Gray(&s, &none, 0, 0, 0));
}

// ---- work image, clip, crop ------------------------------------------------------

TEST(CropWorkImage, ScaleByResolution) {
  struct Row {
    int dpi, width, rc;
    double scale;
    int workWidth, workDpi, owned;
  };
  const Row rows[] = {{300, 100, 0, 1, 100, 300, 0}, {301, 100, 0, 0.5, 50, 150, 1},   {49, 100, -5, 0, 0, 0, 0},
                      {50, 10, 0, 4, 40, 200, 1},    {400, 1001, 0, 0.5, 501, 200, 1}, {75, 10, 0, 2, 20, 150, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.dpi);
    std::vector<uint8_t> px(static_cast<size_t>(r.width) * 6, 77);
    _P2IIMG in{px.data(), 8, 0, r.width, 6, r.width, r.width * 6, r.dpi, r.dpi, 0, 0, r.width - 1, 5};
    _P2IIMG work{};
    double scale = 0;
    int owned = 0;
    ASSERT_EQ(GetImg4Anlz(&in, &work, &scale, &owned), r.rc);
    if (r.rc) continue;
    EXPECT_EQ(scale, r.scale);
    EXPECT_EQ(work.nWidth, r.workWidth);
    EXPECT_EQ(work.nXResolution, r.workDpi);
    EXPECT_EQ(owned, r.owned);
    EXPECT_EQ(work.pImageData[work.nBytesPerLine * (work.nHeight - 1) + work.nWidth - 1], 77);
    if (owned) free(work.pImageData);
  }
}

TEST(CropWorkImage, ConversionsAndLoaders) {
  uint8_t g[3] = {128, 129, 255};
  uint8_t b[1] = {0xFF};
  _P2IIMG gi{g, 8, 0, 3, 1, 3, 3, 300, 300, 0, 0, 2, 0}, bi{b, 1, 0, 3, 1, 1, 1, 300, 300, 0, 0, 2, 0};
  ConvGray2BW(&gi, &bi);
  EXPECT_EQ(b[0], 0x7F);  // 128 clears, 129 sets; bits past the width kept
  uint16_t w = 0xFFFF, i = 0xFFFF;
  LoadFbParam(nullptr, &w, &i);
  EXPECT_EQ(w, 22);
  EXPECT_EQ(i, 0);
  w = 0x8000;
  i = 5;
  LoadFbParam(nullptr, &w, &i);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(i, 5);
  gnShdwAGapX = 30;
  int ax, ay, bx, by;
  GetCurrGaps(300, &ax, &ay, 300, &bx, &by);
  EXPECT_EQ(ax, 35);
  gnShdwAGapX = 0;
}

TEST(CropWorkImage, ClipAndCutAnUprightPage) {
  std::vector<uint8_t> px(300 * 260, 200);
  _P2IIMG in{px.data(), 8, 0, 300, 260, 300, 300 * 260, 300, 300, 0, 0, 299, 259};
  _STRTLINE l[4] = {{0, 0, 1, 10}, {0, -219, 0, 0}, {0, 0, 1, 109}, {0, -20, 0, 0}};
  gnLayoutW = gnLayoutH = -1;
  gbInv = 0;
  alignas(8) auto rec = GoodRecord();
  crop_test::Notify notify;
  crop_test::Output out;
  ASSERT_EQ(CropImg(&in, l, 0, 0, &rec, &out.info, &notify), 0);
  EXPECT_EQ(out.info.nWidth, 99);
  EXPECT_EQ(out.info.nHeight, 199);

  // A box far outside the image is refused instead of sized.
  _STRTLINE far[4] = {{0, 0, 1, -5000}, {0, -219, 0, 0}, {0, 0, 1, 109}, {0, -20, 0, 0}};
  _P2IIMG clipped{};
  double dx, dy;
  EXPECT_EQ(ClipOuterFrame(&in, far, &clipped, &dx, &dy), FSIP_C_ERR_UNEXPECTED_ERROR);
  EXPECT_EQ(clipped.pImageData, nullptr);
  // Parallel "sides" have no corners.
  _STRTLINE parallel[4] = {{0, 0, 1, 10}, {0, 0, 1, 50}, {0, 0, 1, 109}, {0, -20, 0, 0}};
  EXPECT_EQ(ClipOuterFrame(&in, parallel, &clipped, &dx, &dy), FSIP_C_ERR_UNEXPECTED_ERROR);
}

// ---- the entries' tuning and stage lines ------------------------------------------

namespace {
std::string gLog;
void Sink(const char* text) { gLog += text; }
}  // namespace

TEST(CropEntriesState, TuningRestoredAndStageLinesWritten) {
  SetDepthLogSink(Sink);
  BackedPageSpec spec;
  spec.widthMm = 100;
  spec.heightMm = 140;
  spec.dpi = 150;
  spec.angleDeg = 2;
  auto good = crop_test::MakeInput(spec);
  spec.paper = 22;
  spec.backing = 6;
  spec.text = false;
  auto faint = crop_test::MakeInput(spec);
  for (auto* in : {&good, &faint}) {
    for (int adf : {1, 0}) {
      gLog.clear();
      alignas(8) auto rec = crop_test::CropRecord(gTone, adf);
      crop_test::Notify notify;
      crop_test::Output out;
      alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
      const int rc = CropAll(&in->info, &rec, &out.info, &layout, &notify, nullptr);
      EXPECT_EQ(rc, in == &faint && adf ? FSIP_C_ERR_UNEXPECTED_ERROR : 0);
      EXPECT_EQ(gnEdgeGrad, 4096);
      EXPECT_EQ(guBGLvl, 0x4000u);
      EXPECT_EQ(guBGLvlInv, 0xC000u);
      EXPECT_EQ(gbFBFrameSearch, 0);
      EXPECT_EQ(gbExecTabProc, 0);
      EXPECT_EQ(gnLayoutW, -1);
      EXPECT_EQ(gnLayoutH, -1);
      if (rc == 0) {
        EXPECT_EQ(gLog.rfind("\n\n", 0), 0u);
        for (const char* stage : {"dwConv2BW", "dwGetWorkImg", "dwGetEdges", "dwGetSLs", "dwSetVrtlSLs", "dwCheckTabs",
                                  "dwDetectPHs", "dwClipOuterFrame", "dwCoverPHs", "dwCropImg"})
          EXPECT_NE(gLog.find(std::string(" ms\t: ") + stage + "\n"), std::string::npos) << stage;
      } else {
        EXPECT_EQ(gLog, "");
      }
    }
  }
  SetDepthLogSink(nullptr);
  Uninitialize();
  EXPECT_EQ(gpSinCos, nullptr);
}

// The paper-position analysis keeps its padded work image from call to call:
// whatever an earlier, larger page left in it, the image is the scaled page
// inside its backing, byte for byte as built on a zeroed buffer.
TEST_F(Crop, PaddedWorkImageIsTheSameAfterALargerPage) {
  struct Case {
    int channels, dpi, inverted;
  };
  const Case cases[] = {{3, 600, 0}, {1, 300, 0}, {3, 300, 1}, {1, 100, 1}, {3, 200, 0}};
  std::mt19937 gen(7);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.dpi) + " dpi, inverted " +
                 std::to_string(c.inverted));
    gbInv = c.inverted;
    dravn_pages::Image page;
    page.width = 97 + c.dpi / 100, page.height = 61, page.channels = c.channels;
    page.pixels.resize(static_cast<size_t>(page.width) * page.height * c.channels);
    for (auto& p : page.pixels) p = static_cast<unsigned char>(gen());
    _P2IIMG in = ImageOf(page, c.dpi);
    _P2IIMG scaled, work;
    double scale = 0, workScale = 0;
    int owned = 0, workOwned = 1;
    ASSERT_EQ(GetImg4Anlz(&in, &scaled, &scale, &owned), 0);
    // The plain construction: a zeroed (or white) buffer, the page copied in.
    const int px = c.channels, bpl = (scaled.nWidth + 160) * px;
    std::vector<uint8_t> want(static_cast<size_t>(bpl) * (scaled.nHeight + 160), c.inverted ? 255 : 0);
    for (int y = 0; y < scaled.nHeight; ++y)
      std::memcpy(&want[static_cast<size_t>(y + 128) * bpl + 128 * px],
                  scaled.pImageData + static_cast<size_t>(y) * scaled.nBytesPerLine,
                  static_cast<size_t>(scaled.nWidth) * px);
    if (owned) free(scaled.pImageData);
    // A larger page first, on the other backing, to leave its pixels behind.
    gbInv = !c.inverted;
    dravn_pages::Image big;
    big.width = 400, big.height = 300, big.channels = 3;
    big.pixels.assign(static_cast<size_t>(big.width) * big.height * 3, 0x5A);
    _P2IIMG bigIn = ImageOf(big, 300);
    ASSERT_EQ(GetImg4Anlz4Krnk(&bigIn, &work, &workScale, &workOwned), 0);
    if (workOwned) free(work.pImageData);
    gbInv = c.inverted;
    ASSERT_EQ(GetImg4Anlz4Krnk(&in, &work, &workScale, &workOwned), 0);
    EXPECT_EQ(workScale, scale);
    EXPECT_EQ(work.nWidth, scaled.nWidth + 160);
    EXPECT_EQ(work.nHeight, scaled.nHeight + 160);
    EXPECT_EQ(work.nBytesPerLine, bpl);
    ASSERT_EQ(work.nImageSize, static_cast<int>(want.size()));
    EXPECT_EQ(std::memcmp(work.pImageData, want.data(), want.size()), 0);
    if (workOwned) free(work.pImageData);
  }
}
