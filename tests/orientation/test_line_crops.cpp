#include <gtest/gtest.h>

#include "line_crops.h"
#include "scene.h"

using namespace turnsense;

namespace {

// A full page and its point-sampled decimated copies at factor s.
struct Pages {
  int s, fw, fh, w, h;
  std::vector<uint8_t> full, dec;
  std::vector<uint8_t*> full_rows, dec_rows;
  Pages(int factor, int width, int height)
      : s(factor), fw(width * factor), fh(height * factor), w(width), h(height), full(size_t(fw) * fh, 255) {}
  void Ink(int x, int y, int bw, int bh) {
    for (int yy = y; yy < y + bh; ++yy)
      for (int xx = x; xx < x + bw; ++xx) full[size_t(yy) * fw + xx] = 0;
  }
  void Finish() {
    dec.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) dec[size_t(y) * w + x] = full[size_t(y) * s * fw + size_t(x) * s];
    full_rows.resize(size_t(fh));
    dec_rows.resize(size_t(h));
    for (int y = 0; y < fh; ++y) full_rows[size_t(y)] = full.data() + size_t(y) * fw;
    for (int y = 0; y < h; ++y) dec_rows[size_t(y)] = dec.data() + size_t(y) * w;
  }
};

TEXTLINE Line(int64_t l, int64_t t, int64_t r, int64_t b) {
  TEXTLINE line;
  std::memset(&line, 0, sizeof line);
  init_textline(&line);
  line.box = tagRECT{l, t, r, b};
  return line;
}

// Glyph blocks filling the line's rows (page units) with gaps between them.
void Text(Pages& p, int x0, int y0, int x1, int y1) {
  for (int x = x0; x + 6 * p.s <= x1; x += 8 * p.s) p.Ink(x, y0, 6 * p.s, y1 - y0 + 1);
}

int Multi(Pages& p, const TEXTLINE& l, TEXT_IMAGE& out) {
  return original_text_line_extraction_Pavix_nline_v1(nullptr, p.full_rows.data(), nullptr, nullptr, p.fw, p.fh,
                                                      p.dec_rows.data(), p.dec_rows.data(), p.dec_rows.data(), p.w, p.h,
                                                      p.s, l, &out, 0, nullptr, nullptr, 0);
}

int Single(Pages& p, const TEXTLINE& l, TEXT_IMAGE& out) {
  return original_text_line_extraction(nullptr, p.full_rows.data(), nullptr, p.fw, p.fh, p.dec_rows.data(),
                                       p.dec_rows.data(), p.dec_rows.data(), p.w, p.h, p.s, l, &out, nullptr, nullptr,
                                       0);
}

}  // namespace

TEST(LineCrops, ThicknessTwentyIsThickNineteenIsThin) {
  for (int t : {19, 20}) {
    Pages p(3, 300, 100);
    Text(p, 30 * 3, 30 * 3, 230 * 3, (30 + t) * 3 - 1);
    p.Finish();
    const TEXTLINE l = Line(30, 30, 229, 30 + t - 1);
    TEXT_IMAGE a{}, b{};
    EXPECT_EQ(Multi(p, l, a), t == 20 ? 1 : 2);
    EXPECT_EQ(a.factor, t == 20 ? 3 : 1);
    ASSERT_EQ(Single(p, l, b), 0);
    EXPECT_EQ(b.factor, t == 20 ? 3 : 2);  // thin: 3 x 19 > 20 x 2 keeps r at 2
    EXPECT_EQ(b.vertical, 0);
    ASSERT_NE(b.binary, nullptr);
    release_text_image(&a);
    release_text_image(&b);
  }
}

TEST(LineCrops, FactorTwoWorksAtFullResolution) {
  Pages p(2, 200, 60);
  Text(p, 20 * 2, 20 * 2, 120 * 2, 30 * 2 - 1);
  p.Finish();
  TEXT_IMAGE out{};
  ASSERT_EQ(Single(p, Line(20, 20, 119, 29), out), 0);
  EXPECT_EQ(out.factor, 1);
  EXPECT_GE(out.width, 200);
  release_text_image(&out);
}

TEST(LineCrops, CropLongerThanTwoAndAHalfThicknessesStaysValid) {
  // s = 2 crops at full resolution; the box's edge columns and bottom rows
  // are clear, and light ink just above it moves the top edge out by one or
  // two rows: 100 x 40 and 100 x 41.
  for (int extra : {1, 2}) {
    Pages p(2, 100, 60);
    const int top = 20, bottom = 38;  // 19 thick
    for (int x = 2 * 11; x + 10 <= 2 * 59; x += 12) p.Ink(x, 2 * top, 10, 2 * (bottom - top + 1) - 1);
    p.Ink(30, 2 * top - 1, 2, 1);
    if (extra == 2) p.Ink(60, 2 * top - 2, 1, 1);
    p.Finish();
    TEXT_IMAGE out{};
    ASSERT_EQ(Single(p, Line(10, top, 59, bottom), out), 0);
    EXPECT_EQ(out.width, 100);
    EXPECT_EQ(out.height, 39 + extra);
    EXPECT_EQ(out.validity, extra == 1 ? 1.0f : 0.0f);
    release_text_image(&out);
  }
}

TEST(LineCrops, OverSegmentation) {
  auto bars = [](int n, int pitch, int h, int w) {
    std::vector<uint8_t> img(size_t(w) * h, 255);
    for (int i = 0; i < n; ++i)
      for (int y = 0; y < h; ++y) img[size_t(y) * w + i * pitch] = 0;
    return img;
  };
  auto four = bars(4, 2, 10, 100);
  EXPECT_EQ(is_over_segmented(four.data(), 100, 10), 0);
  auto many = bars(40, 2, 10, 100);
  EXPECT_EQ(is_over_segmented(many.data(), 100, 10), -1);
  auto spread = bars(10, 10, 10, 100);
  EXPECT_EQ(is_over_segmented(spread.data(), 100, 10), 0);
}

TEST(LineCrops, SimilarityOfSameSizeCrops) {
  Scene s(60, 30);
  s.Glyphs(5, 5, 4, 8, 10, 4);
  s.Label();
  std::vector<uint8_t> same(size_t(50) * 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 50; ++x) same[size_t(y) * 50 + x] = s.px[size_t(y + 2) * 60 + x + 2];
  float sim = -1;
  binary_simliarity_samesize(s.rows.data(), s.rows.data(), 60, 30, tagRECT{2, 2, 51, 21}, same.data(), 50, 20, &sim);
  EXPECT_EQ(sim, 1.0f);
  std::vector<uint8_t> blank(same.size(), 255);
  binary_simliarity_samesize(s.rows.data(), s.rows.data(), 60, 30, tagRECT{2, 2, 51, 21}, blank.data(), 50, 20, &sim);
  EXPECT_EQ(sim, 0.0f);
  EXPECT_EQ(
      binary_simliarity(s.rows.data(), s.rows.data(), 60, 30, tagRECT{2, 2, 51, 21}, 2, same.data(), 50, 20, 2, &sim),
      0xfffc);
}

TEST(LineCrops, BadLayerAndBottomMargin) {
  Scene d1(40, 40), d2(40, 40);
  d1.Box(5, 5, 4, 4);
  d2.Box(5, 5, 10, 4);
  d1.Label();
  d2.Label();
  EXPECT_TRUE(is_bad_layer(d1.rows.data(), d2.rows.data(), 0, 39, 0, 39));
  EXPECT_FALSE(is_bad_layer(d2.rows.data(), d1.rows.data(), 0, 39, 0, 39));
  // Ink crosses the area's bottom: it moves down to the first clear band.
  Scene p(40, 60);
  p.Box(10, 5, 5, 20).Box(10, 28, 5, 3);
  p.Label();
  tagRECT area{8, 3, 20, 20};
  botboundary_check_margin(p.rows.data(), 40, 60, area, tagRECT{10, 5, 14, 40}, 3);
  EXPECT_EQ(area.bottom, 25 + 3);
  tagRECT clear{8, 3, 20, 40};
  botboundary_check_margin(p.rows.data(), 40, 60, clear, tagRECT{10, 5, 14, 40}, 3);
  EXPECT_EQ(clear.bottom, 40);
}
