// The staged libhelper.so's edge measurement against a plain, per-pixel
// form of the same rule kept here: both edge planes (written over pages of
// noise, so a stray write shows) and both histograms must match byte for
// byte on the benchmark's pages, document pages, odd sizes and strides, tiny
// pages and every range of the three numbers the units pass. Its
// binarization over those planes is held to a per-pixel form as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "degraded_pages.h"
#include "helper_binding.h"
#include "test_pages.h"

namespace {

// ---- the reference: one pixel at a time, nothing shared between pixels ----

int RefResponse(const uint8_t* src, int step, int x, int y) {
  static const int kLog[25] = {4, 7, 8, 7, 4, 7, 2, -15, 2, 7, 8, -15, -52, -15, 8, 7, 2, -15, 2, 7, 4, 7, 8, 7, 4};
  int sum = 0;
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) sum += kLog[(dy + 2) * 5 + dx + 2] * src[std::ptrdiff_t(y + dy) * step + x + dx];
  return sum;
}

struct RefOut {
  std::vector<uint8_t> e1, e2;
  std::vector<int> hist1, hist2;
  int answer = 0;
};

// Rows and columns 3 .. size - 4 are examined; the kernel's response is 0
// within two pixels of the border.
void RefEdges(const uint8_t* src, int step, int w, int h, int t1, int t2, int t3, RefOut* out, int e1Step,
              int e2Step) {
  out->answer = 1;
  if (w < 7 || h < 7) return;
  const int mix = std::clamp(t3, 0, 8);
  auto g = [&](int x, int y) { return int(src[std::ptrdiff_t(y) * step + x]); };
  std::vector<int> response(size_t(w) * h, 0);
  for (int y = 2; y <= h - 3; ++y)
    for (int x = 2; x <= w - 3; ++x) response[size_t(y) * w + x] = RefResponse(src, step, x, y);
  auto r = [&](int x, int y) { return response[size_t(y) * w + x]; };
  auto over = [&](int d8, int d6) { return std::abs(d8) > t1 || std::abs(d6) > t2; };
  for (int y = 3; y <= h - 4; ++y)
    for (int x = 3; x <= w - 4; ++x) {
      if (r(x, y) >= 0) continue;
      bool edge = false;
      const int dxs[4] = {-1, 1, 0, 0}, dys[4] = {0, 0, -1, 1};
      for (int i = 0; i < 4; ++i) {
        const int nx = x + dxs[i], ny = y + dys[i];
        if (r(nx, ny) <= 0) continue;
        int a8 = 0, b8 = 0, a6 = 0, b6 = 0;
        for (int k = -1; k <= 1; ++k) {  // the three lines across the crossing
          const int wk = k == 0 ? 2 : 1;
          const int ax = dys[i] ? x + k : x, ay = dys[i] ? y : y + k;
          const int bx = dys[i] ? nx + k : nx, by = dys[i] ? ny : ny + k;
          a8 += wk * g(ax, ay), b8 += wk * g(bx, by), a6 += g(ax, ay), b6 += g(bx, by);
        }
        edge = edge || over(a8 - b8, a6 - b6);
      }
      if (!edge) continue;
      int m = 255;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (dx || dy) m = std::min(m, g(x + dx, y + dy));
      const int v = g(x, y);
      out->e1[size_t(y) * e1Step + x] = 1;
      out->e2[size_t(y) * e2Step + x] = uint8_t((mix * v + m * (8 - mix)) / 8);
      ++out->hist1[size_t(std::min(m, v) / 4)];
      ++out->hist2[size_t(v / 4)];
    }
}

// White where the grey times the number of edges in the 5x5 block around
// the pixel (itself left out) reaches the sum of their levels; with no edge
// there, where the grey reaches the threshold.
std::vector<uint8_t> RefBinarize(const uint8_t* src, const uint8_t* e1, const uint8_t* e2, int w, int h, int t) {
  std::vector<uint8_t> out(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int n = 0, sum = 0;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if ((dx || dy) && nx >= 0 && nx < w && ny >= 0 && ny < h)
            n += e1[size_t(ny) * w + nx], sum += e2[size_t(ny) * w + nx];
        }
      const int g = src[size_t(y) * w + x];
      out[size_t(y) * w + x] = n ? g * n >= sum : g >= t;
    }
  return out;
}

// ---- the comparison ----

struct Numbers {
  int t1, t2, t3;
};
// What the units pass (a = 5, 26 and 100; edge parameters 0, 5 and 8) and
// what they never pass: limits below 0 or beyond any step, a mix outside 0..8.
const Numbers kNumbers[] = {{130, 104, 5}, {25, 20, 0}, {500, 400, 8}, {-7, 60, -3}, {2000, -1, 12}, {90, 3000, 4}};

class EdgeReference : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(LoadI3HelperBinarization(), 0); }
  static void TearDownTestSuite() { UnloadI3Helper(); }

  // `page` is w x h at `step` bytes per row; the planes get their own steps.
  static void Compare(const std::string& what, const std::vector<uint8_t>& page, int step, int w, int h,
                      const Numbers& n, int pad1 = 0, int pad2 = 0) {
    const int s1 = w + pad1, s2 = w + pad2;
    unsigned seed = unsigned(w * 31 + h);
    RefOut ref;
    ref.e1.resize(size_t(s1) * std::max(h, 1));
    ref.e2.resize(size_t(s2) * std::max(h, 1));
    for (uint8_t& v : ref.e1) v = uint8_t(rand_r(&seed));
    for (uint8_t& v : ref.e2) v = uint8_t(rand_r(&seed));
    ref.hist1.assign(64, 0);
    ref.hist2.assign(64, 0);
    for (int i = 0; i < 64; ++i) ref.hist1[size_t(i)] = i, ref.hist2[size_t(i)] = 1000 - i;
    RefOut got = ref;
    RefEdges(page.data(), step, w, h, n.t1, n.t2, n.t3, &ref, s1, s2);
    const I3HelperSize size{w, h};
    got.answer = g_i3Helper.GetEdgeThreshold8u8u(page.data(), step, got.e1.data(), s1, got.e2.data(), s2, &size, 0,
                                                 n.t1, n.t2, n.t3, got.hist1.data(), got.hist2.data(), 0x100000);
    const std::string at = what + " " + std::to_string(w) + "x" + std::to_string(h) + " t1 " + std::to_string(n.t1) +
                           " t2 " + std::to_string(n.t2) + " t3 " + std::to_string(n.t3);
    ASSERT_EQ(got.answer, ref.answer) << at;
    EXPECT_EQ(got.hist1, ref.hist1) << at;
    EXPECT_EQ(got.hist2, ref.hist2) << at;
    for (size_t i = 0; i < ref.e1.size(); ++i)
      ASSERT_EQ(got.e1[i], ref.e1[i]) << at << ": edge plane at row " << i / size_t(s1) << " column " << i % size_t(s1);
    for (size_t i = 0; i < ref.e2.size(); ++i)
      ASSERT_EQ(got.e2[i], ref.e2[i]) << at << ": level plane at row " << i / size_t(s2) << " column "
                                      << i % size_t(s2);
  }
};

// The binarization over edge planes measured by the library itself (the
// edge measurement is held to its reference above), threshold `t`.
void CompareBinarize(const std::string& what, const std::vector<uint8_t>& page, int w, int h, int t) {
  std::vector<uint8_t> e1(page.size()), e2(page.size()), got(page.size(), 9);
  std::vector<int> hist1(64), hist2(64);
  const I3HelperSize size{w, h};
  g_i3Helper.GetEdgeThreshold8u8u(page.data(), w, e1.data(), w, e2.data(), w, &size, 0, 130, 104, 5, hist1.data(),
                                  hist2.data(), 0x100000);
  ASSERT_EQ(g_i3Helper.BinarizeTo8uCombined(page.data(), w, e1.data(), e2.data(), uint8_t(t), &size, 0x100000,
                                            got.data(), w),
            0);
  const std::vector<uint8_t> want = RefBinarize(page.data(), e1.data(), e2.data(), w, h, t);
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(got[i], want[i]) << what << " " << w << "x" << h << ": row " << i / size_t(w) << " column "
                               << i % size_t(w);
}

class BenchmarkPage : public EdgeReference, public ::testing::WithParamInterface<dravn_degraded::Kind> {};

// The benchmark's A4 pages at 300 dpi, with what the unit passes by default.
TEST_P(BenchmarkPage, MatchesTheReference) {
  const dravn_degraded::Page page = dravn_degraded::MakePage(GetParam(), 300);
  Compare(dravn_degraded::KindName(GetParam()), page.grey, page.width, page.width, page.height, kNumbers[0]);
  CompareBinarize(dravn_degraded::KindName(GetParam()), page.grey, page.width, page.height, 128);
}
INSTANTIATE_TEST_SUITE_P(Kinds, BenchmarkPage, ::testing::ValuesIn(dravn_degraded::kAllKinds), [](const auto& info) {
  std::string name = dravn_degraded::KindName(info.param);
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

TEST_F(EdgeReference, DegradedPagesAtOddSizesAndEveryRangeOfTheNumbers) {
  struct Size {
    double wMm, hMm;
    int dpi;
  };
  int i = 0;
  for (Size s : {Size{52.3, 31.1, 300}, Size{20.1, 73.9, 203}, Size{33.3, 9.7, 600}}) {
    for (dravn_degraded::Kind kind : dravn_degraded::kAllKinds) {
      const dravn_degraded::Page page = dravn_degraded::MakePage(kind, s.dpi, s.wMm, s.hMm, unsigned(3 + i));
      const Numbers& n = kNumbers[size_t(i++) % std::size(kNumbers)];
      Compare(dravn_degraded::KindName(kind), page.grey, page.width, page.width, page.height, n);
      CompareBinarize(dravn_degraded::KindName(kind), page.grey, page.width, page.height, 60 * (i % 5));
    }
  }
}

TEST_F(EdgeReference, DocumentPagesWithWiderRows) {
  // Rows longer than the page (the unit never passes them; the call allows them).
  int i = 0;
  for (int number : {1, 2, 3}) {
    dravn_pages::PageSpec spec;
    spec.widthMm = 61.7 + number, spec.heightMm = 45.3, spec.dpi = 150 + 75 * number, spec.colour = false;
    spec.number = number;
    const dravn_pages::Image grey = dravn_pages::ToGrey(dravn_pages::RenderDocumentPage(spec));
    const int pad = 1 + 7 * number;
    std::vector<uint8_t> wide(size_t(grey.width + pad) * grey.height, 77);
    for (int y = 0; y < grey.height; ++y)
      std::copy_n(grey.Row(y), grey.width, wide.begin() + std::ptrdiff_t(y) * (grey.width + pad));
    for (const Numbers& n : kNumbers) {
      Compare("document " + std::to_string(number), wide, grey.width + pad, grey.width, grey.height, n, i % 5,
              2 * (i % 3));
      ++i;
    }
  }
}

TEST_F(EdgeReference, TinyAndNarrowPagesOfHardContrast) {
  // Ink and paper at random, and a checkerboard: the largest responses and
  // steps there are; every width and height around the seven the rule needs.
  unsigned seed = 17;
  for (int h = 1; h <= 12; ++h)
    for (int w = 1; w <= 70; w += (w < 20 ? 1 : 7)) {
      std::vector<uint8_t> noise(size_t(w) * h), board(size_t(w) * h);
      for (size_t k = 0; k < noise.size(); ++k) {
        const unsigned r = unsigned(rand_r(&seed));
        noise[k] = r % 3 == 0 ? uint8_t(r % 40) : r % 3 == 1 ? uint8_t(215 + r % 41) : uint8_t(r >> 8);
        board[k] = ((k % size_t(w)) + k / size_t(w)) % 2 ? 255 : 0;
      }
      for (const Numbers& n : {kNumbers[0], kNumbers[1], kNumbers[4]}) {
        Compare("noise", noise, w, w, h, n, 3, 0);
        Compare("board", board, w, w, h, n);
      }
      CompareBinarize("noise", noise, w, h, 100);
    }
}

TEST_F(EdgeReference, StepsJustWithinAndBeyondTheLimits) {
  // Flat paper with bars and blocks a little darker, by just less and just
  // more than the smallest step the limits let pass, at the ends of the
  // measured stretches of columns and across them.
  for (const Numbers& n : kNumbers) {
    const int lim1 = std::clamp(n.t1, -1, 1021), lim2 = std::clamp(n.t2, -1, 766);
    const int least = std::max(0, std::min(lim1 / 4, lim2 / 3));
    const int w = 1100, h = 40;
    std::vector<uint8_t> page(size_t(w) * h, 220);
    int k = 0;
    for (int x : {5, 250, 255, 256, 300, 509, 511, 600, 767, 1000}) {
      const int step = std::min(220, least - 1 + k % 4);
      const int y0 = 3 + (k * 7) % 20;
      for (int y = y0; y < y0 + 6 + k % 5; ++y)
        for (int dx = 0; dx < 1 + k % 3 && x + dx < w; ++dx) page[size_t(y) * w + x + dx] = uint8_t(220 - step);
      ++k;
    }
    for (int y = 30; y < 33; ++y)  // a band across the whole page
      for (int x = 0; x < w; ++x) page[size_t(y) * w + x] = uint8_t(220 - std::min(220, least + x % 3 - 1));
    Compare("steps", page, w, w, h, n);
  }
}

TEST_F(EdgeReference, SpotsAndInkEdgesAtManyColumnsOfWidePages) {
  // Paper with a faint grain and single dark spots, each at another
  // column: what the measurement sees of a spot must not depend on where
  // the page's columns are cut up.
  unsigned seed = 5;
  for (int w : {300, 517, 1030}) {
    const int h = 40;
    std::vector<uint8_t> page(size_t(w) * h);
    for (uint8_t& v : page) v = uint8_t(196 + rand_r(&seed) % 9);
    for (int y = 4, x = 1; y < h - 4; y += 3, x = (x * 7 + 61) % w)
      for (int k = 0; k < 4 && x + k < w; ++k) page[size_t(y) * w + x + k] = uint8_t(20 * k);
    for (int x = 0; x < w; x += 1 + x % 255) page[size_t(h / 2) * w + x] = 0;
    // Ink starting at every 64th column, and ink ending there.
    for (int x = 64; x + 4 < w; x += 64)
      for (int k = 0; k < 4; ++k) {
        for (int y = 28; y < 35; ++y) page[size_t(y) * w + x + k] = 10;
        for (int y = 8; y < 15; ++y) page[size_t(y) * w + x - 1 - k] = 10;
      }
    for (const Numbers& n : kNumbers) Compare("spots", page, w, w, h, n);
    CompareBinarize("spots", page, w, h, 128);
  }
}

}  // namespace
