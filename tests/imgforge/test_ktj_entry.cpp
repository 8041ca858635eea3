// The text-direction entry through the staged libimgforge: languages and
// option words, colour and grey pages, tiles, the white-paper test and the
// helper entries.
#include <cstring>
#include <random>
#include <vector>

#include "ktj_lib.h"

using text_pages::Page;

namespace {

// An image record over caller pixels.
struct Image {
  std::vector<uint8_t> data;
  _P2IIMG rec{};
  Image(int bits, int width, int height, int bpl, int dpi) : data(static_cast<size_t>(bpl) * height) {
    rec.pImageData = data.data();
    rec.nBitsPerPixel = bits;
    rec.nWidth = width, rec.nHeight = height, rec.nBytesPerLine = bpl;
    rec.nImageSize = bpl * height;
    rec.nXResolution = rec.nYResolution = dpi;
  }
};

Image Mono(Page const& p) {
  Image m(1, p.width, p.height, p.bpl, p.dpi);
  m.data = p.bits;
  m.rec.pImageData = m.data.data();
  return m;
}

Image Grey(Page const& p) {
  Image g(8, p.width, p.height, p.width, p.dpi);
  g.data = layout_pages::ToGrey(p, 225, 35, 6, 2);
  g.rec.pImageData = g.data.data();
  return g;
}

Image Colour(Page const& p) {
  const int bpl = (p.width * 3 + 3) / 4 * 4;
  Image c(24, p.width, p.height, bpl, p.dpi);
  auto grey = layout_pages::ToGrey(p, 225, 35, 6, 2);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const uint8_t v = grey[static_cast<size_t>(y) * p.width + x];
      uint8_t* px = &c.data[static_cast<size_t>(y) * bpl + 3 * x];
      px[0] = v, px[1] = static_cast<uint8_t>(v * 9 / 10), px[2] = static_cast<uint8_t>(255 - (255 - v) / 2);
    }
  return c;
}

// Stored bottom row first.
Image Reversed(Image m) {
  const int bpl = m.rec.nBytesPerLine, h = m.rec.nHeight;
  for (int y = 0; y < h / 2; ++y)
    std::swap_ranges(m.data.begin() + y * bpl, m.data.begin() + (y + 1) * bpl, m.data.begin() + (h - 1 - y) * bpl);
  m.rec.nColorOrder = 1;
  m.rec.pImageData = m.data.data();
  return m;
}

struct Recog {
  int rc, result;
};

Recog Recognise(KtjLib& K, Image& img, std::vector<int> langs, short option) {
  int result = -99;
  const int rc = K.P2ICMUKI_recog(&img.rec, &result, langs.data(), static_cast<short>(langs.size()), &option);
  return {rc, result};
}

TEST_F(KtjTest, LanguagesAndOptionWords) {
  Page upright = text_pages::DocumentPage(200, 9);
  Image colour = Colour(upright);
  struct {
    std::vector<int> langs;
    short option;
    int rc, result;
  } const cases[] = {
      {{10}, 1, 0, 1},          // 14 - 4 - 8 = 2: judged on the grey copy
      {{10}, 2, 0, 0},          // 12 - 8 = 4: 4 & 3 = 0, nothing judged
      {{10}, 3, 0, 1},          // 14 - 8 = 6
      {{10}, 4, 0, 0},          // 12 - 4 = 8
      {{10}, 0, -1001, 0},      // no option bit
      {{11, 2}, 1, 0, 1},       // European codes count as 10
      {{17, 10}, 5, 0, 1},      // 14 - 4 = 10
      {{16}, 1, -1001, 0},      // 12 - 4 - 8 = 0
      {{16}, 7, 0, 0},          // 12: 12 & 3 = 0
      {{2}, 1, 0, 0},           // East-Asian: no tile judged
      {{5}, 1, 0, 0},           // not in the table
      {{0}, 1, 0, 0},           // in the table but not a first language
      {std::vector<int>(15, 10), 1, 0, 0},
      {std::vector<int>(14, 10), 1, 0, 1},
  };
  for (auto const& c : cases) {
    Recog r = Recognise(K, colour, c.langs, c.option);
    EXPECT_EQ(r.rc, c.rc) << c.langs[0] << " x" << c.langs.size() << " option " << c.option;
    EXPECT_EQ(r.result, c.result) << c.langs[0] << " x" << c.langs.size() << " option " << c.option;
  }
  // The caller's empty region is made whole.
  EXPECT_EQ(colour.rec.nRight, colour.rec.nWidth - 1);
  EXPECT_EQ(colour.rec.nBottom, colour.rec.nHeight - 1);
}

TEST_F(KtjTest, NullPointersAndBadPages) {
  Image img(8, 100, 100, 100, 300);
  int langs[1] = {10}, result = 5;
  short option = 1;
  EXPECT_EQ(K.P2ICMUKI_recog(&img.rec, &result, nullptr, 1, &option), -1001);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(K.P2ICMUKI_recog(&img.rec, &result, langs, 1, nullptr), -1001);
  EXPECT_EQ(K.P2ICMUKI_recog(&img.rec, &result, langs, 0, &option), -1001);
  EXPECT_EQ(K.P2ICMUKI_recog(&img.rec, nullptr, langs, 1, &option), -1001);
  EXPECT_EQ(K.P2ICMUKI_recog(nullptr, &result, langs, 1, &option), -1001);
  img.rec.pImageData = nullptr;
  EXPECT_EQ(K.P2ICMUKI_recog(&img.rec, &result, langs, 1, &option), -1003);
  // Below 25 dpi there is not a pixel per millimetre.
  Image low(8, 100, 100, 100, 24);
  EXPECT_EQ(K.P2iGetMojiMuki3(&low.rec, langs, nullptr, nullptr), -1003);
  low.rec.nXResolution = 300;
  EXPECT_EQ(K.P2iGetMojiMuki3(&low.rec, langs, nullptr, nullptr), -1003);
  Image deep(16, 100, 100, 200, 300);
  EXPECT_EQ(K.P2iGetMojiMuki3(&deep.rec, langs, nullptr, nullptr), -1003);
}

TEST_F(KtjTest, GreyCopyOfAColourPageIsBitExact) {
  Image c(24, 7, 5, 24, 300);
  std::mt19937 rng(8);
  for (auto& b : c.data) b = static_cast<uint8_t>(rng());
  _P2IIMG out{};
  ASSERT_EQ(K.ConvRGB2GrayN(&c.rec, &out), 0);
  EXPECT_EQ(out.nBitsPerPixel, 8);
  EXPECT_EQ(out.nBytesPerLine, 7);
  EXPECT_EQ(out.nImageSize, c.rec.nImageSize / 3);
  EXPECT_EQ(out.nXResolution, 300);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const uint8_t* p = &c.data[y * 24 + 3 * x];
      EXPECT_EQ(out.pImageData[y * 7 + x], (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8);
    }
  free(out.pImageData);
  Image grey(8, 7, 5, 7, 300);
  EXPECT_EQ(K.ConvRGB2GrayN(&grey.rec, &out), -1003);
}

// Six upright lines on the left, twelve half-turned lines lower on the
// right: the left tile says upright, the page as a whole upside-down.
Page TwoHalves(int width) {
  Page p(width, 1800, 300);
  const int gh = layout_pages::GlyphHeight(300);
  for (int i = 0; i < 6; ++i) text_pages::DrawLowerRow(p, 60, 100 + 84 * i, 18, 300 + i, gh);
  for (int i = 0; i < 12; ++i) {
    auto r = text_pages::DrawLowerRow(p, 1000, 700 + 84 * i, 18, 400 + i, gh);
    text_pages::HalfTurn(p, r.box);
  }
  return p;
}

TEST_F(KtjTest, TilesAreJudgedLeftColumnFirst) {
  // 300 dpi is 12 pixels a millimetre here: 1896 / 12 = 158 > 157 gives two
  // tiles side by side; 1895 one.
  for (auto [width, want] : {std::pair{1896, 1}, {1895, 3}}) {
    Page p = TwoHalves(width);
    Image mono = Mono(p), grey = Grey(p);
    EXPECT_EQ(Recognise(K, mono, {10}, 1).result, want) << width;
    EXPECT_EQ(Recognise(K, grey, {10}, 1).result, want) << width;
  }
}

TEST_F(KtjTest, WhiteTilesAreSkippedAndWhitePagesUndecided) {
  Page p(1896, 1800, 300);
  const int gh = layout_pages::GlyphHeight(300);
  for (int i = 0; i < 12; ++i) {
    auto r = text_pages::DrawLowerRow(p, 1000, 100 + 84 * i, 18, 500 + i, gh);
    text_pages::HalfTurn(p, r.box);
  }
  Image grey = Grey(p);
  EXPECT_EQ(Recognise(K, grey, {10}, 1).result, 3);
  Image white = Grey(Page(1896, 1800, 300));
  EXPECT_EQ(Recognise(K, white, {10}, 1).result, 0);
  Image blank = Mono(Page(1896, 1800, 300));
  EXPECT_EQ(Recognise(K, blank, {10}, 1).result, 0);
}

TEST_F(KtjTest, OrderFlagReversesRows) {
  Page p = text_pages::DocumentPage(200, 13);
  for (bool grey : {false, true}) {
    Image img = grey ? Grey(p) : Mono(p);
    Image flipped = Reversed(img);
    EXPECT_EQ(Recognise(K, img, {10}, 1).result, 1) << grey;
    EXPECT_EQ(Recognise(K, flipped, {10}, 1).result, 1) << grey;
    flipped.rec.nColorOrder = 0;
    EXPECT_EQ(Recognise(K, flipped, {10}, 1).result, 3) << grey;
  }
}

TEST_F(KtjTest, WhitePaperLevels) {
  // 300 dpi: 12 pixels a millimetre, samples 7 pixels apart, neighbours 4
  // away; the allowance is count x 12 / 7 marks darker than their
  // neighbours by more than the contrast.
  auto page = [](int marks, int depth) {
    Image g(8, 600, 600, 600, 300);
    std::fill(g.data.begin(), g.data.end(), 200);
    int placed = 0;
    for (int y = 48 + 7 * 2; y < 600 - 48 && placed < marks; y += 7 * 3)
      for (int x = 48 + 7 * 2; x < 600 - 48 && placed < marks; x += 7 * 3, ++placed)
        g.data[static_cast<size_t>(y) * 600 + x] = static_cast<uint8_t>(200 - depth);
    g.rec.nRight = 599, g.rec.nBottom = 599;
    return g;
  };
  struct {
    int marks, depth, level, white;
  } const cases[] = {
      {41, 42, 0, 1}, {42, 42, 0, 0},  // (24, 40): allowance 41
      {42, 42, 1, 1}, {60, 42, 2, 1},  // contrast 45: not counted
      {34, 32, -2, 1}, {35, 32, -2, 0},  // (20, 30): allowance 34
      {35, 32, -1, 1},                 // contrast 35
      {42, 42, 9, 0},                  // any other level is level 0
  };
  for (auto const& c : cases) {
    Image g = page(c.marks, c.depth);
    int level = c.level;
    EXPECT_EQ(K.P2iJugWhitePaper_ForMUKI(&g.rec, &level, nullptr), c.white) << c.marks << " " << c.level;
  }
  Image g = page(0, 0);
  EXPECT_EQ(K._JugWhitePaper_ForMUKI(&g.rec, 24, 40), 1);
  g.rec.nXResolution = -1;
  EXPECT_EQ(K._JugWhitePaper_ForMUKI(&g.rec, 24, 40), -1003);
  Image mono(1, 600, 600, 75, 300);
  EXPECT_EQ(K._JugWhitePaper_ForMUKI(&mono.rec, 24, 40), -1003);
}

TEST_F(KtjTest, HelperEntries) {
  EXPECT_EQ(K.P2ICMUKI_init(), 0);
  EXPECT_EQ(K.P2ICMUKI_init_H(), 0);
  EXPECT_EQ(K.P2ICMUKI_end(), 0);
  EXPECT_EQ(K.P2ICMUKI_end_H(), 0);
  EXPECT_EQ(*K.pic_size_judg, 0);
  EXPECT_EQ(*K.judge_size, 0.0);
  LANG_BOX table[13];
  ASSERT_EQ(K.get_lang_info_2(table), 0);
  const int codes[13] = {1, 2, 3, 4, 10, 11, 12, 13, 14, 15, 16, 17, 0};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(table[i].code, codes[i]);
  EXPECT_STREQ(table[9].name, "PortugueseBrazilian");
  for (auto [code, id] : {std::pair{1, 1041}, {2, 2052}, {3, 1028}, {4, 1042}, {10, 1033}, {0, 1033}}) {
    unsigned short got = 0;
    short c = static_cast<short>(code);
    EXPECT_EQ(K.set_init_id(&got, &c), 0);
    EXPECT_EQ(got, id) << code;
  }
  // A quarter turn of line boxes within a page 100 high.
  _P2IIMG page{};
  page.nHeight = 100;
  KtjLine lines[2] = {};
  lines[0].x0 = 10, lines[0].y0 = 20, lines[0].x1 = 50, lines[0].y1 = 30;
  lines[1].x0 = 0, lines[1].y0 = 0, lines[1].x1 = 99, lines[1].y1 = 5;
  tagKTJBLOCK block{1, ~0ULL, lines, 2, 10};
  ASSERT_EQ(K.change_line_param(&page, &block), 0);
  EXPECT_EQ(lines[0].x0, 20);
  EXPECT_EQ(lines[0].y0, 49);
  EXPECT_EQ(lines[0].x1, 30);
  EXPECT_EQ(lines[0].y1, 89);
  lines[1].x1 = 100;  // beyond the page's height once turned
  EXPECT_EQ(K.change_line_param(&page, &block), -1007);
}

TEST_F(KtjTest, OneBitPicturesAreCopiesTheCallerKeeps) {
  Page p = text_pages::DocumentPage(200, 2);
  Image mono = Mono(p);
  mono.rec.nRight = p.width - 1, mono.rec.nBottom = p.height - 1;
  KTJBITMAP pic{};
  ASSERT_EQ(K.make_KTJpic(&mono.rec, &pic), 0);
  EXPECT_NE(pic.data, mono.data.data());
  EXPECT_EQ(0, memcmp(pic.data, mono.data.data(), mono.data.size()));
  EXPECT_EQ(K.gree_gray_pic(&pic), 0);
  Image grey = Grey(p);
  grey.rec.nRight = p.width - 1, grey.rec.nBottom = p.height - 1;
  ASSERT_EQ(K.make_KTJpic(&grey.rec, &pic), 0);
  EXPECT_EQ(pic.bits, 1);
  KtjDirParam req{0, 0, pic.width - 1, pic.height - 1, 1, {}};
  EXPECT_EQ(K.katuji_chdir_e2(&req, &pic, nullptr, &pic), 1);
  EXPECT_EQ(K.gree_gray_pic(&pic), 0);
  grey.rec.nRight = 0;
  EXPECT_EQ(K.make_KTJpic(&grey.rec, &pic), -1003);
}

}  // namespace
