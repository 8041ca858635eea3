// The deskew-and-crop engine's routines one by one: the analysis image that
// the duplex crop shares, resampling, the output crops and the geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
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
  if (spec.channels == 1) page.image = dravn_pages::ToGrey(page.image);
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
  for (int dpi : {150, 300, 600})
    for (double angle : {0.0, 0.5, -0.5, 3.0, -3.0, 7.0, -7.0, 10.0}) {
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
