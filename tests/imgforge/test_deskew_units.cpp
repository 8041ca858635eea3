// The deskew-and-crop engine's routines one by one: the analysis image that
// the duplex crop shares, resampling, the output crops and the geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "I3ipDeskewCropping.h"
#include "test_pages.h"

using namespace i3ipdc;

namespace {

// An image record over a vector the test keeps.
struct TestImage {
  std::vector<unsigned char> px;
  I3ipImageInfo info{};
  TestImage(uint32_t w, uint32_t h, int bpp, int dpi = 200, uint32_t pad = 0) {
    info.Size = 40;
    info.Bpp = static_cast<uint8_t>(bpp);
    info.Dpi = static_cast<uint16_t>(dpi);
    info.Width = w;
    info.Height = h;
    info.Bpl = w * (bpp / 8) + pad;
    info.DataSize = info.Bpl * h;
    px.assign(info.DataSize, 0);
    info.Data = px.data();
  }
  unsigned char* At(uint32_t x, uint32_t y) { return px.data() + y * info.Bpl + x * (info.Bpp / 8); }
};

struct Owned {
  I3ipImageInfo info{};
  ~Owned() { FreeMem(info.Data); }
  unsigned char At(uint32_t x, uint32_t y) const { return info.Data[y * info.Bpl + x]; }
};

TEST(DeskewAnalysis, BackgroundOfSixteenRowsIsSubtractedAndTheLargestChannelKept) {
  // Rows 0..15 a uniform grey (per channel), below them varied pixels, some
  // darker than the background in one channel.
  TestImage img(7, 24, 24, 200, 3);
  const unsigned char bg[3] = {40, 60, 80};
  for (uint32_t y = 0; y < 24; ++y)
    for (uint32_t x = 0; x < 7; ++x)
      for (int c = 0; c < 3; ++c)
        img.At(x, y)[c] = y < 16 ? bg[c] : static_cast<unsigned char>((x * 37 + y * 11 + c * 53) % 256);
  Owned out;
  ASSERT_EQ(ModifyImageForAnalysis(&img.info, true, &out.info), 0);
  EXPECT_EQ(out.info.Bpp, 8);
  EXPECT_EQ(out.info.Bpl, 7u);
  EXPECT_EQ(out.info.DataSize, 7u * 24);
  EXPECT_EQ(out.info.Width, 7u);
  EXPECT_EQ(out.info.Dpi, 200);
  for (uint32_t y = 0; y < 24; ++y)
    for (uint32_t x = 0; x < 7; ++x) {
      int want = 0;
      for (int c = 0; c < 3; ++c) want = std::max(want, std::max(0, img.At(x, y)[c] - bg[c]));
      ASSERT_EQ(out.At(x, y), want) << x << "," << y;
    }
  // Grey rows keep their padding.
  TestImage grey(7, 24, 8, 200, 2);
  for (uint32_t y = 0; y < 24; ++y)
    for (uint32_t x = 0; x < 7; ++x) *grey.At(x, y) = y < 16 ? 90 : static_cast<unsigned char>((x * 37 + y * 11) % 256);
  Owned g;
  ASSERT_EQ(ModifyImageForAnalysis(&grey.info, true, &g.info), 0);
  EXPECT_EQ(g.info.Bpl, 9u);
  for (uint32_t y = 0; y < 24; ++y)
    for (uint32_t x = 0; x < 7; ++x) ASSERT_EQ(g.info.Data[y * 9 + x], std::max(0, *grey.At(x, y) - 90)) << x << "," << y;
}

TEST(DeskewAnalysis, BackgroundIsTheTruncatedMeanPerColumnAndChannel) {
  TestImage img(3, 16, 24);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c) img.At(x, y)[c] = static_cast<unsigned char>(y + x * 10 + c);
  unsigned char row[9];
  ASSERT_EQ(GetBackgroundData(&img.info, row), 0);
  // Mean of y = 0..15 is 7.5, truncated to 7.
  for (int x = 0; x < 3; ++x)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(row[x * 3 + c], 7 + x * 10 + c);
  TestImage shortImg(3, 15, 8);
  EXPECT_EQ(GetBackgroundData(&shortImg.info, row), 52);
}

TEST(DeskewAnalysis, FifteenRowsAreNotSubtracted) {
  TestImage img(5, 15, 8);
  for (size_t i = 0; i < img.px.size(); ++i) img.px[i] = static_cast<unsigned char>(100 + i);
  Owned out;
  ASSERT_EQ(ModifyImageForAnalysis(&img.info, true, &out.info), 0);
  EXPECT_EQ(std::memcmp(out.info.Data, img.px.data(), img.px.size()), 0);
}

TEST(DeskewAnalysis, WithoutSubtractionTheImageGetsABlackBorderOfSixteen) {
  TestImage img(4, 3, 24);
  std::memset(img.px.data(), 200, img.px.size());
  img.At(0, 0)[1] = 250;
  Owned out;
  ASSERT_EQ(ModifyImageForAnalysis(&img.info, false, &out.info), 0);
  EXPECT_EQ(out.info.Width, 36u);
  EXPECT_EQ(out.info.Height, 35u);
  EXPECT_EQ(out.info.Bpp, 8);
  EXPECT_EQ(out.info.DataSize, 36u * 35);
  for (uint32_t y = 0; y < 35; ++y)
    for (uint32_t x = 0; x < 36; ++x) {
      const bool inside = x >= 16 && x < 20 && y >= 16 && y < 19;
      ASSERT_EQ(out.At(x, y), inside ? (x == 16 && y == 16 ? 250 : 200) : 0) << x << "," << y;
    }
}

TEST(DeskewAnalysis, OverScanRecordsEveryRowItWrites) {
  TestImage img(10, 5, 8);
  Owned out;
  ASSERT_EQ(OverScanImage(&img.info, &out.info), 0);
  EXPECT_EQ(out.info.Bpl, 42u);
  EXPECT_EQ(out.info.DataSize, 42u * 37);
}

TEST(DeskewAnalysis, MaxImageInPlaceAndIntoANewBlock) {
  TestImage img(3, 2, 24, 200, 5);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c) img.At(x, y)[c] = static_cast<unsigned char>(x * 3 + y * 20 + ((c + x) % 3) * 7);
  TestImage copy = img;
  copy.info.Data = copy.px.data();
  Owned fresh;
  ASSERT_EQ(GetMaxImage(&img.info, &fresh.info), 0);
  ASSERT_EQ(GetMaxImage(&copy.info), 0);
  EXPECT_EQ(copy.info.Bpp, 8);
  EXPECT_EQ(copy.info.Bpl, 3u);
  EXPECT_EQ(copy.info.DataSize, 6u);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 3; ++x) {
      const unsigned char want = static_cast<unsigned char>(x * 3 + y * 20 + 14);
      EXPECT_EQ(copy.px[y * 3 + x], want);
      EXPECT_EQ(fresh.At(x, y), want);
    }
}

TEST(DeskewAnalysis, WorkingResolutions) {
  struct Case {
    int dpi;
    uint32_t w, h;
    int rc;
    double scale;
    uint32_t ow, oh;
    int odpi;
  };
  const Case cases[] = {
      {300, 101, 51, 0, 0.5, 51, 26, 150}, {600, 100, 40, 0, 0.5, 50, 20, 300}, {200, 30, 20, 0, 1, 30, 20, 200},
      {149, 30, 20, 0, 2, 60, 40, 298},    {75, 9, 9, 0, 2, 18, 18, 150},      {74, 9, 5, 0, 4, 36, 20, 296},
      {50, 9, 5, 0, 4, 36, 20, 200},       {49, 9, 5, 52, 0, 0, 0, 0},
  };
  for (const Case& k : cases) {
    TestImage img(k.w, k.h, 24, k.dpi);
    Owned out;
    out.info.Width = 12345;
    double scale = 0;
    bool allocated = false;
    ASSERT_EQ(GetAnalyticalImage(&img.info, 1, &out.info, &scale, &allocated), k.rc) << k.dpi;
    if (k.rc) {
      EXPECT_EQ(out.info.Width, 12345u);  // untouched
      EXPECT_FALSE(allocated);
      continue;
    }
    EXPECT_TRUE(allocated);
    EXPECT_EQ(scale, k.scale) << k.dpi;
    EXPECT_EQ(out.info.Width, k.ow) << k.dpi;
    EXPECT_EQ(out.info.Height, k.oh) << k.dpi;
    EXPECT_EQ(out.info.Dpi, k.odpi) << k.dpi;
    EXPECT_EQ(out.info.Bpp, 8);
  }
}

TEST(DeskewAnalysis, HalvedAnalysisIsTheSubtractionOfTheHalvedImage) {
  // Odd sizes, padded rows, 15 and 16 halved rows (subtraction off and on).
  std::mt19937 rng(5);
  for (int bpp : {8, 24})
    for (uint32_t h : {29u, 32u, 41u}) {
      TestImage img(37, h, bpp, 300, 3);
      for (auto& v : img.px) v = static_cast<unsigned char>(rng() % 200);
      Owned halved, want, got;
      double scale = 0;
      bool allocated = false;
      ASSERT_EQ(GetAnalyticalImage(&img.info, 4, &halved.info, &scale, &allocated), 0);
      ASSERT_EQ(ModifyImageForAnalysis(&halved.info, true, &want.info), 0);
      ASSERT_EQ(GetAnalyticalImage(&img.info, 1, &got.info, &scale, &allocated), 0);
      EXPECT_TRUE(allocated);
      EXPECT_EQ(scale, 0.5);
      EXPECT_EQ(got.info.Width, 19u);
      EXPECT_EQ(got.info.Height, (h + 1) / 2);
      EXPECT_EQ(got.info.Bpp, 8);
      EXPECT_EQ(got.info.Dpi, 150);
      EXPECT_EQ(got.info.Bpl, want.info.Bpl);
      EXPECT_EQ(got.info.DataSize, want.info.DataSize);
      ASSERT_EQ(std::memcmp(got.info.Data, want.info.Data, want.info.DataSize), 0) << bpp << " bits, " << h << " rows";
    }
}

TEST(DeskewAnalysis, HalvingKeepsTheTopLeftPixelAndDoublingRepeats) {
  TestImage img(5, 4, 8, 300);
  for (size_t i = 0; i < img.px.size(); ++i) img.px[i] = static_cast<unsigned char>(i * 7);
  Owned half;
  double scale;
  bool allocated;
  ASSERT_EQ(GetAnalyticalImage(&img.info, 4, &half.info, &scale, &allocated), 0);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(half.At(x, y), *img.At(2 * x, 2 * y));
  img.info.Dpi = 100;
  Owned twice;
  ASSERT_EQ(GetAnalyticalImage(&img.info, 4, &twice.info, &scale, &allocated), 0);
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 10; ++x) EXPECT_EQ(twice.At(x, y), *img.At(x / 2, y / 2));
}

TEST(DeskewAnalysis, FourTimesInterpolatesAlongAndBetweenRows) {
  const unsigned char s[3] = {0, 100, 40};
  unsigned char d[12];
  ZoomQuadrupleOneLine(s, 3, false, d);
  const unsigned char want[12] = {0, 25, 50, 75, 100, 85, 70, 55, 40, 55, 70, 85};
  EXPECT_EQ(std::memcmp(d, want, 12), 0);
  const unsigned char rgb[6] = {0, 8, 16, 4, 8, 0};
  unsigned char d3[24];
  ZoomQuadrupleOneLine(rgb, 2, true, d3);
  EXPECT_EQ(d3[3 * 1 + 0], 1);   // 0 towards 4
  EXPECT_EQ(d3[3 * 1 + 2], 12);  // 16 towards 0
  EXPECT_EQ(d3[3 * 5 + 0], 3);   // last pixel 4 towards the one before (0)
  unsigned char rows[4][2] = {{0, 200}, {}, {}, {}};
  const unsigned char lower[2] = {100, 0};
  InterpolateThreeLines(rows[0], lower, 2, 2);
  EXPECT_EQ(rows[1][0], 25);
  EXPECT_EQ(rows[2][0], 50);
  EXPECT_EQ(rows[3][1], 50);
}

TEST(DeskewAnalysis, OneRowEnlargedFourTimesGivesFourEqualRows) {
  TestImage img(3, 1, 8, 60);
  img.px = {10, 90, 30};
  img.info.Data = img.px.data();
  Owned out;
  double scale;
  bool allocated;
  ASSERT_EQ(GetAnalyticalImage(&img.info, 4, &out.info, &scale, &allocated), 0);
  ASSERT_EQ(out.info.Height, 4u);
  for (uint32_t y = 1; y < 4; ++y) EXPECT_EQ(std::memcmp(out.info.Data, out.info.Data + y * out.info.Bpl, 12), 0);
  EXPECT_EQ(out.At(1, 0), 30);
}

TEST(DeskewAnalysis, MemoryRoutines) {
  unsigned char* p = nullptr;
  ASSERT_EQ(AllocMem(&p, 64), 0);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
  FreeMem(p);
  FreeMem(nullptr);
  I3ipImageInfo img{};
  img.Width = 9;
  img.Height = 2;
  for (int bpp : {1, 8, 24}) {
    img.Bpp = static_cast<uint8_t>(bpp);
    ASSERT_EQ(AllocImage(&img), 0);
    EXPECT_EQ(img.Bpl, bpp == 1 ? 2u : bpp == 8 ? 9u : 27u);
    EXPECT_EQ(img.DataSize, img.Bpl * 2);
    FreeMem(img.Data);
  }
  img.Width = 3;
  img.Height = 4;
  EXPECT_EQ(GetDiagonalLength(&img), 5);
  img.Width = 1;
  img.Height = 1;
  EXPECT_EQ(GetDiagonalLength(&img), 1);  // 1.414 rounds down
  img.Width = 100000;
  img.Height = 100000;
  EXPECT_EQ(GetDiagonalLength(&img), 141421);  // squares beyond 32 bits
}

TEST(DeskewAnalysis, PixelAccessIsBounded) {
  TestImage img(4, 3, 24);
  const unsigned char v[3] = {1, 2, 3};
  EXPECT_TRUE(SetPixelValue(&img.info, tagPOINT{3, 2}, v));
  EXPECT_FALSE(SetPixelValue(&img.info, tagPOINT{4, 2}, v));
  EXPECT_FALSE(SetPixelValue(&img.info, _EDGE{0, -1, -1}, v));
  unsigned char got[3] = {9, 9, 9};
  EXPECT_TRUE(GetPixelValue(&img.info, _EDGE{3, 2, -1}, got));
  EXPECT_EQ(got[2], 3);
  got[0] = 77;
  EXPECT_FALSE(GetPixelValue(&img.info, tagPOINT{0, 3}, got));
  EXPECT_EQ(got[0], 77);
}

TEST(DeskewTable, SinCosAtTheEndsAndTheMiddle) {
  ASSERT_EQ(CreateSinCosTable(), 0);
  const _SINCOS_DC* t = SinCosTable();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t[0].dSin, 0.0);
  EXPECT_EQ(t[0].dCos, 1.0);
  EXPECT_EQ(t[900].dSin, 1.0);
  EXPECT_EQ(t[900].dCos, std::cos(M_PI / 2));
  EXPECT_EQ(t[1800].dSin, std::sin(M_PI));
  EXPECT_EQ(t[1800].dCos, -1.0);
  ASSERT_EQ(CreateSinCosTable(), 0);
  EXPECT_EQ(SinCosTable(), t);  // kept while it exists
  FreeSinCosTable();
  EXPECT_EQ(SinCosTable(), nullptr);
}

}  // namespace

namespace {

// The position step on the analysis image of a rendered page.
struct Position {
  int rc = -1;
  int n = 0;
  double angle = 0;
  _LINE lines[4] = {};
  double scale = 1;
};

Position FindPosition(const dravn_pages::BackedPageSpec& spec) {
  dravn_pages::BackedPage page = dravn_pages::RenderBackedPage(spec);
  I3ipImageInfo in{};
  in.Bpp = static_cast<uint8_t>(page.image.channels * 8);
  in.Dpi = static_cast<uint16_t>(spec.dpi);
  in.Width = static_cast<uint32_t>(page.image.width);
  in.Height = static_cast<uint32_t>(page.image.height);
  in.Bpl = static_cast<uint32_t>(page.image.BytesPerLine());
  in.DataSize = in.Bpl * in.Height;
  in.Data = page.image.pixels.data();
  Position p;
  EXPECT_EQ(CreateSinCosTable(), 0);
  I3ipImageInfo a{};
  bool allocated = false;
  EXPECT_EQ(GetAnalyticalImage(&in, 1, &a, &p.scale, &allocated), 0);
  const int diag = GetDiagonalLength(&a);
  std::vector<unsigned> profile(diag);
  std::vector<int> gradient(diag);
  p.rc = GetDocumentPosition(&a, profile.data(), gradient.data(), diag, p.lines, &p.angle, &p.n, nullptr);
  FreeMem(a.Data);
  FreeSinCosTable();
  return p;
}

TEST(DeskewPosition, AngleOfTurnedPages) {
  struct Case {
    int dpi;
    double angle;
  };
  const Case cases[] = {{150, -0.5}, {150, 10}, {300, 0},  {300, 0.5}, {300, -0.5}, {300, 3},
                        {300, -3},   {300, 7},  {300, -7}, {300, 10},  {600, -7}};
  for (const auto& [dpi, angle] : cases) {
    dravn_pages::BackedPageSpec spec;
    spec.widthMm = 120;
    spec.heightMm = 160;
    spec.dpi = dpi;
    spec.angleDeg = angle;
    spec.channels = 1;
    spec.offsetXMm = 3;
    spec.offsetYMm = -2;
    const Position p = FindPosition(spec);
    ASSERT_EQ(p.rc, 0) << dpi << " " << angle;
    EXPECT_EQ(p.n, 4);
    // The deskew angle turns the page back.
    EXPECT_NEAR(p.angle * 180 / M_PI, -angle, 0.15) << dpi << " dpi " << angle;
  }
}

}  // namespace

namespace {

_LINE Vert(double x) { return _LINE{true, x, 0, 0}; }
_LINE Horz(double row) { return _LINE{false, 0, 0, -row}; }

TEST(DeskewCrop, DocumentOfAnAxisBoxAtAngleZero) {
  TestImage img(130, 90, 8);
  for (size_t i = 0; i < img.px.size(); ++i) img.px[i] = static_cast<unsigned char>(50 + i % 150);
  const _LINE lines[4] = {Vert(10), Horz(70), Vert(110), Horz(20)};
  I3ipImageInfo out{};
  ASSERT_EQ(CropDocument(&img.info, lines, 0, &out), 0);
  EXPECT_EQ(out.Width, 100u);
  EXPECT_EQ(out.Height, 50u);
  EXPECT_EQ(out.Boundary, 1);
  EXPECT_EQ(out.Bpl, 100u);
  // Weights of 255 rather than 256 take a level or two off a copied pixel.
  for (uint32_t y = 0; y < 50; ++y)
    for (uint32_t x = 0; x < 100; ++x) ASSERT_NEAR(out.Data[y * 100 + x], *img.At(x + 10, y + 20), 2) << x << "," << y;
  std::free(out.Data);
}

// Sides between pixel centres: the cut keeps exactly the pixels whose
// centres lie within [left, right) and [top, bottom), at any fraction.
TEST(DeskewCrop, CutKeepsThePixelsWhoseCentresLieOnThePaper) {
  TestImage img(130, 90, 8);
  for (uint32_t y = 0; y < 90; ++y)
    for (uint32_t x = 0; x < 130; ++x) *img.At(x, y) = static_cast<unsigned char>(x + y);
  struct Row {
    double left, top, right, bottom;
    uint32_t x0, y0, width, height;
  } rows[] = {
      {10, 20, 110, 70, 10, 20, 100, 50},           {10.3, 20.3, 109.6, 69.6, 11, 21, 99, 49},
      {9.7, 19.5, 110.4, 70.5, 10, 20, 101, 51},    {10.5, 20.49, 110.49, 70.51, 11, 21, 100, 50},
      {9.99999999, 20, 110.00000001, 70, 10, 20, 100, 50},
  };
  for (const Row& r : rows) {
    const _LINE lines[4] = {Vert(r.left), Horz(r.bottom), Vert(r.right), Horz(r.top)};
    I3ipImageInfo out{};
    ASSERT_EQ(CropDocument(&img.info, lines, 0, &out), 0) << r.left;
    EXPECT_EQ(out.Width, r.width) << r.left;
    EXPECT_EQ(out.Height, r.height) << r.top;
    if (out.Width == r.width && out.Height == r.height) {
      for (uint32_t y = 0; y < r.height; y += 7) {
        for (uint32_t x = 0; x < r.width; x += 5)
          ASSERT_NEAR(out.Data[y * out.Bpl + x], *img.At(x + r.x0, y + r.y0), 2) << r.left << ": " << x << "," << y;
      }
    }
    std::free(out.Data);
  }
}

TEST(DeskewCrop, RotationIsBlackFromTheLastColumnAndRow) {
  TestImage src(4, 4, 24);
  std::memset(src.px.data(), 200, src.px.size());
  TestImage dst(5, 5, 24);
  ASSERT_EQ(p2iRotate12_Color_New(&src.info, &dst.info, 0, 0, 0), 1);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(dst.At(x, y)[1] == 0, x >= 3 || y >= 3) << x << "," << y;
  I3ipImageInfo empty = dst.info;
  empty.Width = 0;
  EXPECT_EQ(p2iRotate12_Gray_New(&src.info, &empty, 0, 0, 0), 0);
  EXPECT_EQ(p2iRotate12_Gray_New(nullptr, &dst.info, 0, 0, 0), 0);
}

TEST(DeskewCrop, LongRotatedSpansKeepTheirPlace) {
  // A 3000-row turn must land its last row where the angle puts it, not
  // drift by the truncation of a 10-bit step.
  TestImage src(40, 3100, 8);
  for (uint32_t y = 0; y < 3100; ++y) *src.At(35, y) = 255;
  TestImage dst(40, 3000, 8);
  const double a = 0.3;  // degrees
  ASSERT_EQ(p2iRotate12_Gray_New(&src.info, &dst.info, a, 10, 0), 1);
  // Output (col, row) samples x = 10 + col cos a + row sin a: the vertical
  // line at x = 35 shows at col = (25 - row sin a) / cos a.
  const uint32_t row = 2999;
  uint32_t best = 0;
  for (uint32_t x = 0; x < 40; ++x)
    if (dst.At(x, row)[0] > dst.At(best, row)[0]) best = x;
  const double r = a * M_PI / 180;
  EXPECT_NEAR(best, (25 - row * std::sin(r)) / std::cos(r), 1.0);
}

// The rotation pixel by pixel as its rule reads: coordinates with 30
// fractional bits, black where a neighbour falls outside, weights 255 - f
// and f through (a x f) >> 8.
void RotateByTheRule(const I3ipImageInfo& src, I3ipImageInfo& dst, double deg, double sx, double sy) {
  const int ch = src.Bpp == 24 ? 3 : 1;
  const double one = double(int64_t{1} << 30), b = deg * M_PI / 180;
  const int64_t c = std::llround(std::cos(b) * one), s = std::llround(std::sin(-b) * one);
  const auto mul = [](int a, int f) { return (a * f) >> 8; };
  for (int64_t row = 0; row < dst.Height; ++row)
    for (int64_t col = 0; col < dst.Width; ++col) {
      const int64_t x = static_cast<int64_t>(sx * one) - row * s + col * c;
      const int64_t y = static_cast<int64_t>(sy * one) + row * c + col * s;
      unsigned char* d = dst.Data + row * dst.Bpl + col * ch;
      const int64_t xi = x >> 30, yi = y >> 30;
      if (x < 0 || y < 0 || xi >= int64_t{src.Width} - 1 || yi >= int64_t{src.Height} - 1) {
        std::memset(d, 0, ch);
        continue;
      }
      const int fx = (x >> 22) & 255, fy = (y >> 22) & 255;
      const unsigned char* p = src.Data + yi * src.Bpl + xi * ch;
      for (int k = 0; k < ch; ++k) {
        const int top = mul(p[k], 255 - fx) + mul(p[k + ch], fx);
        const int bottom = mul(p[src.Bpl + k], 255 - fx) + mul(p[src.Bpl + k + ch], fx);
        d[k] = static_cast<unsigned char>(mul(top, 255 - fy) + mul(bottom, fy));
      }
    }
}

TEST(DeskewCrop, RotationFollowsItsRuleAtEveryPixel) {
  // Angles, starts inside and outside the source, tight and padded rows:
  // the spans that skip the bounds test must not change a single value.
  struct Case {
    double deg, sx, sy;
    uint32_t pad;
  };
  const Case cases[] = {{0, 0, 0, 0},      {0, 3.5, 2.25, 1},  {0.3, -4, 7, 0},     {-3, 10, -6, 3},
                        {7, 20.7, 1, 0},   {-10, -2, 40, 0},   {45, 30, -20, 2},    {90, 0, 0, 0},
                        {-135, 60, 50, 0}, {180, 71, 53, 0},   {2.9, 0.999, 0, 0},  {-0.1, 1, 1, 5}};
  std::mt19937 rng(23);
  for (int bpp : {8, 24})
    for (const Case& c : cases) {
      TestImage src(73, 54, bpp, 200, c.pad);
      for (auto& v : src.px) v = static_cast<unsigned char>(rng());
      // Exactly the bytes of the rows: a read past the last one is caught
      // by the sanitizer build.
      std::vector<unsigned char> tight(src.px.begin(), src.px.end() - c.pad);
      src.info.Data = tight.data();
      TestImage got(90, 70, bpp), want(90, 70, bpp);
      const auto rotate = bpp == 24 ? p2iRotate12_Color_New : p2iRotate12_Gray_New;
      ASSERT_EQ(rotate(&src.info, &got.info, c.deg, c.sx, c.sy), 1);
      RotateByTheRule(src.info, want.info, c.deg, c.sx, c.sy);
      ASSERT_EQ(got.px, want.px) << bpp << " bits, " << c.deg << " degrees from " << c.sx << "," << c.sy;
    }
}

TEST(DeskewCrop, OuterFrameLeftOfTheImageIsBlack) {
  TestImage img(20, 10, 24);
  std::memset(img.px.data(), 180, img.px.size());
  const _LINE lines[4] = {Vert(-5), Horz(9), Vert(15), Horz(0)};
  I3ipImageInfo out{};
  double left = 0, top = 0;
  ASSERT_EQ(CropOuterFrame(&img.info, lines, &out, &left, &top), 0);
  EXPECT_EQ(out.Width, 21u);
  EXPECT_EQ(out.Height, 10u);
  EXPECT_EQ(left, -5);
  EXPECT_EQ(top, 0);
  for (uint32_t y = 0; y < out.Height; ++y)
    for (uint32_t x = 0; x < out.Width; ++x) ASSERT_EQ(out.Data[y * out.Bpl + x * 3], x < 5 ? 0 : 180) << x << "," << y;
  FreeMem(out.Data);
}

// One 8-bit row (5 rows tall for the 3 x 3 mean) of black backing with a
// bright 3-pixel streak, then the page.
TestImage StreakRow() {
  TestImage img(200, 5, 8, 150);
  for (uint32_t y = 0; y < 5; ++y) {
    for (uint32_t x = 40; x < 43; ++x) *img.At(x, y) = 200;
    for (uint32_t x = 100; x < 180; ++x) *img.At(x, y) = 220;
  }
  return img;
}

TEST(DeskewEdges, StreakSkippedInRowsTakenInColumns) {
  TestImage img = StreakRow();
  std::vector<unsigned> profile(200);
  std::vector<int> gradient(200);
  GetAverageRow(&img.info, 2, 3, profile.data());
  GetGradient(profile.data(), 200, gradient.data());
  const int minGap = static_cast<int>(150 * 10 / 25.4);
  int first, last;
  GetEdge(profile.data(), gradient.data(), 200, 1, 198, minGap, true, &first, &last);
  // A sharp step gives two nearly equal gradients; the integer means make
  // the one on the paper's first (last) pixel the larger.
  EXPECT_EQ(first, 100);
  EXPECT_EQ(last, 179);
  GetEdge(profile.data(), gradient.data(), 200, 1, 198, minGap, false, &first, &last);
  EXPECT_EQ(first, 40);
}

TEST(DeskewEdges, BrightBandBeforeAnyStepGivesNoPoint) {
  TestImage img(100, 5, 8, 150);
  std::memset(img.px.data(), 220, img.px.size());
  std::vector<unsigned> profile(100);
  std::vector<int> gradient(100);
  GetAverageRow(&img.info, 2, 3, profile.data());
  GetGradient(profile.data(), 100, gradient.data());
  int first, last;
  GetEdge(profile.data(), gradient.data(), 100, 1, 98, 59, true, &first, &last);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(last, -1);
}

TEST(DeskewEdges, RowsEveryTwoMillimetres) {
  TestImage img(300, 120, 8, 150);
  for (uint32_t y = 0; y < 120; ++y)
    for (uint32_t x = 50; x < 250; ++x) *img.At(x, y) = 220;
  std::vector<unsigned> profile(400);
  std::vector<int> gradient(400);
  PointList left, right;
  GetEdgeHorz(&img.info, profile.data(), gradient.data(), &left, &right);
  ASSERT_GE(left.size(), 3u);
  EXPECT_EQ(left[0].y, 11);
  EXPECT_EQ(left[1].y, 23);
  EXPECT_EQ(left[2].y, 35);
  EXPECT_EQ(left.back().y, 118);  // the last below Height - 1
  EXPECT_EQ(left[0].x, 50);
  EXPECT_EQ(right[0].x, 249);
}

TEST(DeskewHough, EqualVotesKeepScanOrderAndCountersSaturate) {
  const int diag = 10;
  std::vector<uint16_t> acc(2 * diag * kHoughAngles, 0);
  acc[(diag + 3) * kHoughAngles + 5] = 12;  // rho 3, 1.0 degree
  acc[(diag - 2) * kHoughAngles + 7] = 12;  // rho -2: scanned first
  acc[(diag + 3) * kHoughAngles + 1] = 12;  // same row, lower angle first
  acc[(diag + 4) * kHoughAngles + 0] = 20;
  std::vector<int32_t> arrays(3 * 4, 0);
  _HOUGH_XFORM_DATA cells{4, arrays.data(), arrays.data() + 4, arrays.data() + 8};
  KeepStrongestCells(acc.data(), diag, &cells);
  EXPECT_EQ(cells.pnVote[0], 20);
  EXPECT_EQ(cells.pnRho[1], -2);
  EXPECT_EQ(cells.pnTheta[2], 2);
  EXPECT_EQ(cells.pnTheta[3], 10);

  // More than 255 points on one line: the counter goes on, and stops at
  // its top instead of wrapping.
  ASSERT_EQ(CreateSinCosTable(), 0);
  PointList points(300, tagPOINT{5, 0});
  std::vector<uint16_t> votes(2 * diag * kHoughAngles, 0);
  Vote(points, diag, votes.data());
  EXPECT_EQ(votes[(diag + 5) * kHoughAngles + 0], 300);
  PointList many(66000, tagPOINT{0, 0});
  Vote(many, diag, votes.data());
  EXPECT_EQ(votes[diag * kHoughAngles + 450], 65535);
  FreeSinCosTable();
}

TEST(DeskewHough, AxisLinesThroughTheOriginNeverSeed) {
  const int32_t vote[4] = {50, 40, 30, 5}, theta[4] = {0, -900, -900, 0}, rho[4] = {100, 0, 200, 0};
  _HOUGH_XFORM_DATA cells{4, const_cast<int32_t*>(vote), const_cast<int32_t*>(theta), const_cast<int32_t*>(rho)};
  double r[8], t[8], v[8];
  ASSERT_EQ(Make8Groups(&cells, true, 150 / 25.4, r, t, v), 2);
  EXPECT_EQ(r[0], 100);
  EXPECT_EQ(r[1], 200);  // the top row through the origin was passed over
  EXPECT_EQ(t[1], -900);
  EXPECT_TRUE(IsAlmostAxis(0, 905));
  EXPECT_FALSE(IsAlmostAxis(1, 905));
  EXPECT_FALSE(IsAlmostAxis(0, 450));
}

TEST(DeskewHough, OppositeOrientationsOfOneLineAverage) {
  const int32_t vote[2] = {50, 48}, theta[2] = {-1796, 2}, rho[2] = {3, 2};
  _HOUGH_XFORM_DATA cells{2, const_cast<int32_t*>(vote), const_cast<int32_t*>(theta), const_cast<int32_t*>(rho)};
  double r[8], t[8], v[8];
  ASSERT_EQ(Make8Groups(&cells, true, 6, r, t, v), 1);
  EXPECT_DOUBLE_EQ(t[0], (-1796 + (2 - 1800)) / 2.0);
}

TEST(DeskewHough, MostConsistentOfFourMovesFirst) {
  _LINE lines[4] = {Vert(1), Vert(2), Vert(3), Vert(4)};
  const double theta[4] = {-20, -890, 0, -910};
  ASSERT_EQ(ExamineLineOrder(lines, 4, theta, nullptr), 0);
  EXPECT_EQ(lines[0].dX, 3);
  EXPECT_EQ(lines[2].dX, 1);
  EXPECT_EQ(lines[1].dX, 2);
}

TEST(DeskewHough, LinesFromRhoTheta) {
  const double rho[4] = {100, 50, 30, 0}, theta[4] = {0, -900, 300, 1200};
  _LINE l[4];
  Get4LinesFromRhoTheta(rho, theta, 4, l);
  EXPECT_TRUE(l[0].bVert);
  EXPECT_EQ(l[0].dX, 100);
  EXPECT_NEAR(l[1].dA, 0, 1e-12);
  EXPECT_NEAR(l[1].dB, -50, 1e-9);  // row 50
  // x cos t + Y sin t = rho.
  const double t = 30 * M_PI / 180;
  EXPECT_NEAR(l[2].dA, -std::cos(t) / std::sin(t), 1e-9);
  EXPECT_NEAR(l[2].dB, 30 / std::sin(t), 1e-9);
  EXPECT_NEAR(l[3].dA, std::tan(30 * M_PI / 180), 1e-9);
  EXPECT_FALSE(IsBigSkew(_LINE{false, 0, std::tan(0.5 * M_PI / 180), 0}));
  EXPECT_TRUE(IsBigSkew(_LINE{false, 0, std::tan(2 * M_PI / 180), 0}));
  EXPECT_FALSE(IsBigSkew(_LINE{false, 0, std::tan(89.5 * M_PI / 180), 0}));
  EXPECT_NEAR(GetDeskewAngle(_LINE{false, 0, std::tan(3 * M_PI / 180), 0}), -3 * M_PI / 180, 1e-12);
  EXPECT_NEAR(GetDeskewAngle(_LINE{false, 0, std::tan(87 * M_PI / 180), 0}), 3 * M_PI / 180, 1e-12);
}

TEST(DeskewVirtual, LeftSideOnlyOfANarrowPageSuppliesTheLineAtFiftyMillimetres) {
  TestImage img(700, 400, 8, 150);
  const int page = static_cast<int>(60 * 150 / 25.4);
  for (uint32_t y = 0; y < 400; ++y)
    for (int x = 100; x < 100 + page; ++x) *img.At(x, y) = 210;
  const int diag = GetDiagonalLength(&img.info);
  std::vector<unsigned> profile(diag);
  std::vector<int> gradient(diag);
  _LINE lines[4] = {Vert(99)};
  ASSERT_TRUE(SetFirstVirtualLine(&img.info, lines, 1, profile.data(), gradient.data(), diag));
  EXPECT_TRUE(lines[1].bVert);
  EXPECT_NEAR(lines[1].dX, 99 + 50 * 150 / 25.4, 1e-9);
  // A probe wholly outside the image has no sample: plain backing.
  EXPECT_TRUE(NoObjectOnTheLine(&img.info, profile.data(), gradient.data(), diag, Vert(-300), Horz(0), Horz(399),
                                false));
  EXPECT_FALSE(NoObjectOnTheLine(&img.info, profile.data(), gradient.data(), diag, Vert(200), Horz(0), Horz(399),
                                 false));
  // A 3-pixel streak on the backing leaves a probe solid.
  for (uint32_t y = 0; y < 400; ++y)
    for (int x = 30; x < 33; ++x) *img.At(x, y) = 100;
  EXPECT_TRUE(NoObjectOnTheLine(&img.info, profile.data(), gradient.data(), diag, Horz(200), Vert(20), Vert(60), true));
}

TEST(DeskewGeometry, AxisRectangleInAnyOrderComesOutSorted) {
  const _LINE l = Vert(10), b = Horz(70), r = Vert(110), t = Horz(20);
  const _LINE orders[3][4] = {{t, r, l, b}, {b, l, t, r}, {r, t, b, l}};
  for (const auto& o : orders) {
    _LINE lines[4] = {o[0], o[1], o[2], o[3]};
    MakeRect(lines, false);
    EXPECT_TRUE(lines[0].bVert && lines[0].dX == 10);
    EXPECT_TRUE(!lines[1].bVert && lines[1].dA == 0 && lines[1].dB == -70);
    EXPECT_TRUE(lines[2].bVert && lines[2].dX == 110);
    EXPECT_TRUE(!lines[3].bVert && lines[3].dA == 0 && lines[3].dB == -20);
  }
}

// The signed side of a point against a line, positive inside the sorted
// rectangle for each side.
double Inside(const _LINE& l, int side, double x, double Y) {
  if (l.bVert) return side == 0 ? x - l.dX : l.dX - x;
  const double above = Y - (l.dA * x + l.dB);
  if (side == 1) return above;
  if (side == 3) return -above;
  // Steep sloped left/right sides: inside is right of the left side.
  const double xs = (Y - l.dB) / l.dA;
  return side == 0 ? x - xs : xs - x;
}

TEST(DeskewGeometry, NoisyQuadrilateralsBecomeEnclosingRectangles) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> jitter(-4, 4), turn(-10, 10);
  for (int trial = 0; trial < 200; ++trial) {
    const double a = turn(rng) * M_PI / 180, c = std::cos(a), s = std::sin(a);
    double X[4], Y[4];  // corners: upper-left, lower-left, lower-right, upper-right (y-up)
    const double u[4] = {0, 0, 800, 800}, v[4] = {0, -1100, -1100, 0};
    for (int k = 0; k < 4; ++k) {
      X[k] = 500 + u[k] * c - v[k] * s + jitter(rng);
      Y[k] = -300 + u[k] * s + v[k] * c + jitter(rng);
    }
    const auto through = [](double x1, double y1, double x2, double y2) {
      if (std::fabs(x1 - x2) < 1e-9) return Vert(x1);
      const double k = (y2 - y1) / (x2 - x1);
      return _LINE{false, 0, k, y1 - k * x1};
    };
    _LINE lines[4] = {through(X[0], Y[0], X[3], Y[3]), through(X[0], Y[0], X[1], Y[1]),
                      through(X[1], Y[1], X[2], Y[2]), through(X[2], Y[2], X[3], Y[3])};
    MakeRect(lines, false);
    // Perpendicular pairs, parallel opposite sides.
    ASSERT_FALSE(lines[0].bVert || lines[1].bVert);
    EXPECT_NEAR(lines[0].dA, lines[2].dA, 1e-9);
    EXPECT_NEAR(lines[1].dA, lines[3].dA, 1e-9);
    EXPECT_NEAR(lines[0].dA * lines[1].dA, -1, 1e-9);
    for (int k = 0; k < 4; ++k)
      for (int side = 0; side < 4; ++side) EXPECT_GE(Inside(lines[side], side, X[k], Y[k]), -1.0) << trial;
  }
}

TEST(DeskewGeometry, PointsLinesAndScaling) {
  tagPOINT p[4] = {{100, 12}, {98, 80}, {10, 10}, {8, 78}};
  SortPoints(p);
  const tagPOINT want[4] = {{10, 10}, {8, 78}, {98, 80}, {100, 12}};
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(IsSamePoint(p[k], want[k])) << k;
  _LINE l[2] = {Vert(10), _LINE{false, 0, 0.5, 20}};
  ScaleLines(l, 2, 0.5);
  EXPECT_EQ(l[0].dX, 20);
  EXPECT_EQ(l[1].dB, 40);
  EXPECT_EQ(l[1].dA, 0.5);
  _LINE diag45[4] = {{false, 0, 1, 0}, Horz(5), {false, 0, -1, 3}, Horz(50)};
  SortLines(diag45);
  for (int side : {0, 2}) EXPECT_TRUE(!diag45[side].bVert && diag45[side].dA == 0 && diag45[side].dB == 0);
  tagPOINT v;
  GetVertex(_LINE{false, 0, 1, 0}, _LINE{false, 0, -1, -3}, &v);
  EXPECT_EQ(v.x, -2);  // -1.5 rounds away from zero
  EXPECT_EQ(v.y, -2);
  EXPECT_NEAR(GetDistance_New(tagPOINT{3, -4}, Horz(0)), 4, 1e-12);
}

}  // namespace

namespace {

// An analysis image holding only the left side of a page turned by angle:
// the paper runs off the top, the bottom and the right.
TestImage LeftSideOnly(double angleDeg) {
  TestImage img(600, 900, 8, 150);
  const double t = std::tan(angleDeg * M_PI / 180);
  for (uint32_t y = 0; y < 900; ++y)
    for (uint32_t x = 0; x < 600; ++x)
      *img.At(x, y) = x > 150 + (450.0 - y) * t ? 200 : static_cast<unsigned char>((x * 7 + y * 13) % 9);
  return img;
}

// The position step on an analysis image, then the supplied sides moved
// out and the rectangle made, as the entry does.
struct Sides {
  int rc = -1;
  int n = 0;
  double skew = 0;
  _LINE lines[4] = {};
  explicit Sides(const I3ipImageInfo& img) {
    const int diag = GetDiagonalLength(&img);
    std::vector<unsigned> profile(diag);
    std::vector<int> gradient(diag);
    rc = GetDocumentPosition(&img, profile.data(), gradient.data(), diag, lines, &skew, &n, nullptr);
    if (rc != 0) return;
    _LINE tabLines[4];
    CheckTabs(&img, profile.data(), gradient.data(), diag, lines, n, tabLines);
    for (int i = n; i < 4; ++i) lines[i] = tabLines[i];
    MakeRect(lines, false);
  }
};

TEST(DeskewPosition, ASingleSideSuppliesTheOthersOnlyWhenNearlyUpright) {
  ASSERT_EQ(CreateSinCosTable(), 0);
  EXPECT_EQ(Sides(LeftSideOnly(2.0).info).rc, 54);
  const Sides s(LeftSideOnly(0.5).info);
  ASSERT_EQ(s.rc, 0);
  EXPECT_EQ(s.n, 1);
  EXPECT_NEAR(std::fabs(s.skew * 180 / M_PI), 0.5, 0.15);
  // The supplied sides went out to the image's ends.
  tagPOINT corner;
  GetVertex(s.lines[2], s.lines[3], &corner);
  EXPECT_NEAR(static_cast<double>(corner.x), 598, 4);
  EXPECT_NEAR(static_cast<double>(-corner.y), 1, 4);
  FreeSinCosTable();
}

TEST(DeskewPosition, LeftAndRightSidesOnlyGetTheirTopAndBottomAtTheImageEnds) {
  // The paper runs off the top and the bottom: the two missing sides are
  // probed across the rows between the found ones, then moved out.
  ASSERT_EQ(CreateSinCosTable(), 0);
  TestImage img(600, 900, 8, 150);
  for (uint32_t y = 0; y < 900; ++y)
    for (uint32_t x = 0; x < 600; ++x)
      *img.At(x, y) = x > 150 && x < 450 ? 200 : static_cast<unsigned char>((x * 7 + y * 13) % 9);
  const Sides s(img.info);
  ASSERT_EQ(s.rc, 0);
  EXPECT_EQ(s.n, 2);
  EXPECT_NEAR(s.skew, 0, 1e-12);
  tagPOINT upperLeft, lowerRight;
  GetVertex(s.lines[0], s.lines[3], &upperLeft);
  GetVertex(s.lines[2], s.lines[1], &lowerRight);
  EXPECT_NEAR(static_cast<double>(upperLeft.x), 150, 2);
  EXPECT_NEAR(static_cast<double>(-upperLeft.y), 0, 2);
  EXPECT_NEAR(static_cast<double>(lowerRight.x), 450, 2);
  EXPECT_NEAR(static_cast<double>(-lowerRight.y), 899, 2);
  FreeSinCosTable();
}

}  // namespace
