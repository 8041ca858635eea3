// The scorers' crop operations on small drawn crops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_recognition.h"
#include "line_scorers.h"

using namespace turnsense;

namespace {

struct Picture {
  int w, h;
  std::vector<uint8_t> px;
  Picture(int width, int height, uint8_t v = 255) : w(width), h(height), px(size_t(width) * height, v) {}
  Picture& Fill(int x, int y, int bw, int bh, uint8_t v = 0) {
    for (int yy = y; yy < y + bh; ++yy)
      for (int xx = x; xx < x + bw; ++xx) px[size_t(yy) * w + xx] = v;
    return *this;
  }
  uint8_t at(int x, int y) const { return px[size_t(y) * w + x]; }
};

std::vector<uint8_t> Adopt(uint8_t* crop, int w, int h) {
  std::vector<uint8_t> out(crop, crop + size_t(w) * h);
  delete[] crop;
  return out;
}

}  // namespace

TEST(GetBaseLine, TrimsLightRowsUpToAThirdFromEachSide) {
  // Rows 5..34 of a page 30 wide: n = 30, so each side moves at most n / 3 + 1 rows.
  struct Case {
    const char* name;
    int inkTop, inkBottom;  // -1: blank
    int64_t top, bottom;
  };
  for (const Case& c : {Case{"band inside the limits", 12, 27, 12, 27}, Case{"narrow band", 18, 21, 16, 23},
                        Case{"blank", -1, -1, 16, 23}, Case{"ink from the first row", 5, 20, 5, 23}})
    for (int orientation : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + (orientation ? " vertical" : ""));
      Picture p(40, 40);
      if (c.inkTop >= 0) {
        if (orientation == 0)
          p.Fill(0, c.inkTop, 30, c.inkBottom - c.inkTop + 1);
        else
          p.Fill(c.inkTop, 0, c.inkBottom - c.inkTop + 1, 30);
      }
      const tagRECT in = orientation ? tagRECT{5, 0, 34, 29} : tagRECT{0, 5, 29, 34};
      tagRECT out{};
      ASSERT_EQ(GetBaseLine(p.px.data(), p.w, p.h, in, out, orientation), 0);
      const tagRECT want = orientation ? tagRECT{c.top, 0, c.bottom, 29} : tagRECT{0, c.top, 29, c.bottom};
      EXPECT_EQ(out.left, want.left);
      EXPECT_EQ(out.top, want.top);
      EXPECT_EQ(out.right, want.right);
      EXPECT_EQ(out.bottom, want.bottom);
    }
}

TEST(ImgCrop, AVerticalLineIsTurnedAQuarterClockwise) {
  Picture p(5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) p.px[size_t(y) * 5 + x] = uint8_t(10 * y + x);
  const tagRECT r{1, 1, 3, 2};
  uint8_t* crop = nullptr;
  int cw = 0, ch = 0;
  ASSERT_EQ(ImgCrop(crop, cw, ch, p.px.data(), p.w, p.h, r, 0), 0);
  EXPECT_EQ(cw, 3);
  EXPECT_EQ(ch, 2);
  EXPECT_EQ(Adopt(crop, cw, ch), (std::vector<uint8_t>{11, 12, 13, 21, 22, 23}));
  ASSERT_EQ(ImgCrop(crop, cw, ch, p.px.data(), p.w, p.h, r, 1), 0);
  EXPECT_EQ(cw, 2);
  EXPECT_EQ(ch, 3);
  // Row i is page column 1 + i read upwards.
  EXPECT_EQ(Adopt(crop, cw, ch), (std::vector<uint8_t>{21, 11, 22, 12, 23, 13}));
  for (const tagRECT& bad : {tagRECT{1, 1, 5, 2}, tagRECT{-1, 0, 2, 2}, tagRECT{3, 1, 2, 2}}) {
    crop = reinterpret_cast<uint8_t*>(&cw);
    EXPECT_EQ(ImgCrop(crop, cw, ch, p.px.data(), p.w, p.h, bad, 0), kLimitExceeded);
    EXPECT_EQ(crop, nullptr);
  }
}

TEST(ResizeImgCrop, ScalesToTheTargetHeightWithTheCropsQuarterTurn) {
  Picture p(120, 80);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) p.px[size_t(y) * p.w + x] = uint8_t((x + 3 * y) % 256);
  for (int orientation : {0, 1}) {
    SCOPED_TRACE(orientation);
    const tagRECT r{10, 4, 109, 39};  // 100 x 36, clear of the last row and column
    const int across = orientation ? 100 : 36;
    uint8_t* crop = nullptr;
    int cw = 0, ch = 0, iw = 0, ih = 0;
    // At scale 1 it is the plain crop.
    EXPECT_FLOAT_EQ(ResizeImgCrop(crop, cw, ch, p.px.data(), p.w, p.h, r, across, orientation), 1.0f);
    const std::vector<uint8_t> same = Adopt(crop, cw, ch);
    ASSERT_EQ(ImgCrop(crop, iw, ih, p.px.data(), p.w, p.h, r, orientation), 0);
    EXPECT_EQ(cw, iw);
    EXPECT_EQ(ch, ih);
    EXPECT_EQ(same, Adopt(crop, iw, ih));
    // At half scale every other pixel, starting at the crop's first.
    EXPECT_FLOAT_EQ(ResizeImgCrop(crop, cw, ch, p.px.data(), p.w, p.h, r, across / 2, orientation), 0.5f);
    const std::vector<uint8_t> half = Adopt(crop, cw, ch);
    EXPECT_EQ(ch, across / 2);
    EXPECT_EQ(cw, (orientation ? 36 : 100) / 2);
    for (int i = 0; i < ch; ++i)
      for (int j = 0; j < cw; ++j) {
        const int x = orientation ? 10 + 2 * i : 10 + 2 * j, y = orientation ? 39 - 2 * j : 4 + 2 * i;
        ASSERT_EQ(half[size_t(i) * cw + j], p.at(x, y)) << i << "," << j;
      }
  }
  // Between pixels the value is interpolated: half-way along a ramp of 10 per column.
  Picture ramp(20, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ramp.px[size_t(y) * 20 + x] = uint8_t(10 * x);
  uint8_t* crop = nullptr;
  int cw = 0, ch = 0;
  EXPECT_FLOAT_EQ(ResizeImgCrop(crop, cw, ch, ramp.px.data(), 20, 10, tagRECT{2, 2, 19, 5}, 8, 0), 2.0f);
  const std::vector<uint8_t> up = Adopt(crop, cw, ch);
  EXPECT_EQ(cw, 36);
  EXPECT_EQ(up[1], 25);
  // The last column of the page is read as the one before it.
  EXPECT_EQ(up[size_t(cw) - 1], 180);
  // A line too short for one pixel still gets one.
  EXPECT_FLOAT_EQ(ResizeImgCrop(crop, cw, ch, ramp.px.data(), 20, 10, tagRECT{3, 0, 3, 9}, 1, 0), 0.1f);
  EXPECT_EQ(cw, 1);
  Adopt(crop, cw, ch);
}

TEST(CheckRatio, SqueezesLinesOfTallNarrowCharacters) {
  struct Case {
    const char* name;
    std::vector<int> heights;  // characters 4 wide on a crop 26 high
    bool stroke;               // and a stroke 1 wide, too thin to count
    float squeeze;
  };
  const Case cases[] = {
      {"no characters", {}, false, 1.0f},
      {"square characters", {8, 8, 8}, false, 1.0f},
      {"tall characters", {12, 12, 12, 12, 12}, true, 3.0f / 1.7f},
      {"very tall, spread out", {8, 14, 14, 14, 24}, false, 3.5f / 1.7f},
      {"tall, spread out", {8, 12, 12, 12, 22}, false, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Picture p(120, 26);
    int x = 2;
    for (int hgt : c.heights) p.Fill(x, 1, 4, hgt), x += 8;
    if (c.stroke) p.Fill(x, 1, 1, 24);
    EXPECT_NEAR(checkratio(p.px.data(), p.w, p.h), c.squeeze, 1e-6);
  }
}

TEST(IscomplexBackground, ClassifiesThePaperUnderTheMask) {
  struct Case {
    const char* name;
    uint8_t a, b;  // paper alternates a and b
    bool noPaper;
    int cls;
  };
  for (const Case& c :
       {Case{"plain", 200, 200, false, 0}, Case{"textured", 170, 230, false, 1}, Case{"busy", 150, 250, false, 2},
        Case{"dark", 60, 60, false, 2}, Case{"no paper", 200, 200, true, 2}}) {
    SCOPED_TRACE(c.name);
    Picture grey(40, 10), mask(40, 10, c.noPaper ? 0 : 255);
    for (size_t i = 0; i < grey.px.size(); ++i) grey.px[i] = i % 2 ? c.a : c.b;
    // Ink under a zero mask does not count.
    grey.Fill(10, 2, 6, 6, 0);
    mask.Fill(10, 2, 6, 6, 0);
    int cls = 0;
    Iscomplex_background(grey.px.data(), nullptr, mask.px.data(), grey.w, grey.h, &cls);
    EXPECT_EQ(cls, c.cls);
  }
}

TEST(BinNoiseNumber, CountsInkSpecksUpToFourByFour) {
  Picture p(60, 20);
  p.Fill(2, 2, 1, 1).Fill(6, 2, 4, 4).Fill(12, 2, 3, 2).Fill(20, 2, 5, 4).Fill(30, 2, 4, 5).Fill(40, 2, 10, 10);
  EXPECT_EQ(BinNoiseNumber(p.px.data(), p.w, p.h), 3);
}
