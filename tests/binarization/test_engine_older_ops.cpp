// The engine's routines that nothing in the package calls: the older
// morphology and post-processing with their bands, the spline, the sign
// filters, the determinant, the further histogram and table builders and
// the stain-and-noise analysis, each on small drawn inputs whose answer
// follows from what the routine is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "analysis.h"
#include "engine_fixture.h"
#include "filters.h"
#include "morphology.h"
#include "post_bands.h"
#include "tone.h"

namespace {

using Page = std::vector<uint8_t>;

Page Drawn(int h, int w, unsigned seed, int whitePercent) {
  Page page(size_t(h) * w);
  for (auto& v : page) v = (rand_r(&seed) % 100) < whitePercent ? 1 : 0;
  return page;
}

// The separable window as it is meant: rows into a page preset to the
// operation's neutral colour, then columns into dst where the window fits.
Page NaiveWindow(const Page& src, Page dst, int h, int w, int size, bool erode) {
  const int a = int(size * 0.5 - 0.5);
  Page work(src.size(), erode ? 1 : 0);
  auto pass = [&](const Page& in, Page& out, bool rows) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int p = rows ? x : y, length = rows ? w : h;
        if (p - a < 0 || p - a + size > length) continue;
        bool all = true, any = false;
        for (int k = p - a; k < p - a + size; ++k) {
          const bool set = rows ? in[size_t(y) * w + k] : in[size_t(k) * w + x];
          all &= set, any |= set;
        }
        out[size_t(y) * w + x] = (erode ? all : any) ? 1 : 0;
      }
  };
  pass(src, work, true);
  pass(work, dst, false);
  return dst;
}

// ------------------------------------------------------------ morphology --

TEST(OlderMorphology, WindowOfEachSize) {
  const int h = 23, w = 19;
  const Page page = Drawn(h, w, 7, 75);
  for (int size = 1; size <= 6; ++size)
    for (bool erode : {true, false}) {
      Page out(page.size(), 9);
      ASSERT_EQ((erode ? imageErodeF : imageDilateF)(page.data(), out.data(), h, w, size), 0);
      EXPECT_EQ(out, NaiveWindow(page, Page(page.size(), 9), h, w, size, erode)) << size << erode;
    }
  // A window wider than the page writes nothing; size 0 does nothing.
  Page out(page.size(), 9);
  EXPECT_EQ(imageErodeF(page.data(), out.data(), h, w, 24), 0);
  EXPECT_EQ(imageDilateF(page.data(), out.data(), h, w, 0), 0);
  EXPECT_EQ(out, Page(page.size(), 9));
}

TEST(OlderMorphology, ErosionGrowsBlackAndDilationWhite) {
  // A white pixel in black, a black pixel in white, size 3 (window from one
  // pixel before).
  const int h = 7, w = 7;
  Page black(size_t(h) * w, 0), white(size_t(h) * w, 1), out(size_t(h) * w);
  black[3 * w + 3] = 1, white[3 * w + 3] = 0;
  ASSERT_EQ(imageErodeF(black.data(), out.data(), h, w, 3), 0);
  EXPECT_EQ(out[3 * w + 3], 0);
  ASSERT_EQ(imageDilateF(white.data(), out.data(), h, w, 3), 0);
  EXPECT_EQ(out[3 * w + 3], 1);
  ASSERT_EQ(imageDilateF(black.data(), out.data(), h, w, 3), 0);
  for (int y = 2; y <= 4; ++y)
    for (int x = 2; x <= 4; ++x) EXPECT_EQ(out[size_t(y) * w + x], 1) << x << "," << y;
}

// A U whose arms meet below, joined by a diagonal pixel; a lone pixel; and
// one more below: numbered from 2, the joined arms the smaller number.
const char* const kShapes[] = {
    "X.X..",  //
    "X.X.X",  //
    "XXX..",  //
    "...X.",  //
    "X....",
};
const uint32_t kShapeLabels[] = {
    2, 0, 2, 0, 0,  //
    2, 0, 2, 0, 4,  //
    2, 2, 2, 0, 0,  //
    0, 0, 0, 2, 0,  //
    5, 0, 0, 0, 0,
};

Page ShapesPage() {
  Page page;
  for (const char* row : kShapes)
    for (const char* c = row; *c; ++c) page.push_back(*c == 'X' ? 0 : 1);
  return page;
}

TEST(OlderLabels, TwoPassNumbersFromTwoAndJoinsToTheSmaller) {
  const Page page = ShapesPage();
  std::vector<uint32_t> plane(page.size(), 0xABCDu);
  ASSERT_EQ(GetbwlabelOld(page.data(), plane.data(), 5, 5), 0);
  EXPECT_EQ(plane, std::vector<uint32_t>(std::begin(kShapeLabels), std::end(kShapeLabels)));
  // A plane filled by the caller: 1 is the background, anything else ink.
  for (size_t i = 0; i < page.size(); ++i) plane[i] = page[i] ? 1 : 7;
  ASSERT_EQ(GetbwlabelOld(nullptr, plane.data(), 5, 5), 0);
  EXPECT_EQ(plane, std::vector<uint32_t>(std::begin(kShapeLabels), std::end(kShapeLabels)));
  EXPECT_EQ(GetbwlabelOld(page.data(), nullptr, 5, 5), -1);
}

// Specks of 1, 2 and 3 pixels each way and a line 5 long, on white.
Page SpeckPage(int h, int w) {
  Page page(size_t(h) * w, 1);
  auto ink = [&](int x0, int y0, int cw, int ch) {
    for (int y = y0; y < y0 + ch; ++y)
      for (int x = x0; x < x0 + cw; ++x) page[size_t(y) * w + x] = 0;
  };
  ink(1, 1, 1, 1), ink(4, 1, 2, 2), ink(8, 1, 3, 3), ink(1, 6, 5, 1);
  return page;
}

TEST(OlderStains, SpecksUpToTheSizeGoWithinTheMargins) {
  const int h = 10, w = 12;
  const Page page = SpeckPage(h, w);
  auto blackAt = [&](const Page& p, int x, int y) { return p[size_t(y) * w + x] == 0; };
  const struct {
    int size;
    bool one, two, three, line;  // still black afterwards
  } cases[] = {
      {0, true, true, true, true},    {1, false, true, true, true},    {2, false, false, true, true},
      {3, false, false, false, true}, {5, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Page out(page.size(), 9);
    ASSERT_EQ(RemoveStain(page.data(), out.data(), h, w, c.size, _MARGINPTXYSIZE{}), 0);
    EXPECT_EQ(blackAt(out, 1, 1), c.one);
    EXPECT_EQ(blackAt(out, 5, 2), c.two);
    EXPECT_EQ(blackAt(out, 9, 2), c.three);
    EXPECT_EQ(blackAt(out, 3, 6), c.line);
    EXPECT_EQ(std::count(out.begin(), out.end(), 9), 0);
  }
  // Rows and columns outside the margins are neither copied nor cleaned.
  Page out(page.size(), 9);
  ASSERT_EQ(RemoveStain(page.data(), out.data(), h, w, 3, _MARGINPTXYSIZE{2, 1, 4, 2}), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inside = y >= 4 && y < h - 2 && x >= 2 && x < w - 1;
      const uint8_t v = out[size_t(y) * w + x];
      if (!inside)
        EXPECT_EQ(v, 9) << x << "," << y;
      else
        EXPECT_EQ(v, page[size_t(y) * w + x]) << x << "," << y;  // only the line is inside
    }
}

TEST(OlderStains, LabelsPastThePlaneAreRefused) {
  const int h = 4, w = 4;
  const Page page(size_t(h) * w, 0);
  Page out(page.size(), 9);
  std::vector<uint32_t> plane(page.size(), 2);
  plane[5] = uint32_t(h * w) + 2;  // one past the largest label such a plane holds
  EXPECT_EQ(RemoveObject(page.data(), out.data(), plane.data(), h, w, 3, _MARGINPTXYSIZE{}), -1);
  plane[5] = 0xFFFFFFFFu;
  EXPECT_EQ(RemoveObject(page.data(), out.data(), plane.data(), h, w, 3, _MARGINPTXYSIZE{}), -1);
  EXPECT_EQ(out, Page(page.size(), 9));
  plane[5] = uint32_t(h * w) + 1;
  EXPECT_EQ(RemoveObject(page.data(), out.data(), plane.data(), h, w, 3, _MARGINPTXYSIZE{}), 0);
}

TEST(OlderFilters, LineAndCouplayOverTheWindow) {
  const int h = 21, w = 17;
  const Page page = Drawn(h, w, 11, 70);
  for (int size = -4; size <= 4; ++size) {
    SCOPED_TRACE(size);
    Page line(page.size(), 9), couplay(page.size(), 9);
    if (size == 0) {
      EXPECT_EQ(LineFilter(page.data(), line.data(), h, w, 0), -1);
      EXPECT_EQ(CouplayFilter(page.data(), couplay.data(), h, w, 0), -1);
      continue;
    }
    ASSERT_EQ(LineFilter(page.data(), line.data(), h, w, size), 0);
    EXPECT_EQ(line, NaiveWindow(page, page, h, w, std::abs(size), size > 0));
    ASSERT_EQ(CouplayFilter(page.data(), couplay.data(), h, w, size), 0);
    if (size < 0) {
      EXPECT_EQ(couplay, page);  // no window: the page as it was
      continue;
    }
    const Page eroded = NaiveWindow(page, page, h, w, size, true);
    EXPECT_EQ(couplay, NaiveWindow(eroded, eroded, h, w, size, false));
  }
  // The opening closes a one-pixel white hole in black (the window's
  // preset white reaches in only from the sides where rows do not fit).
  Page black(size_t(h) * w, 0), out(black.size());
  black[10 * w + 8] = 1;
  ASSERT_EQ(CouplayFilter(black.data(), out.data(), h, w, 3), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 3; x < w - 3; ++x) ASSERT_EQ(out[size_t(y) * w + x], 0) << x << "," << y;
}

TEST(OlderFilters, BandsGiveWhatThePlainOperationGives) {
  const int h = 45, w = 29;
  const Page page = Drawn(h, w, 5, 80);
  auto check = [&](const char* what, int size, auto plain, auto banded) {
    Page one(page.size(), 9);
    ASSERT_EQ(plain(one.data()), 0) << what << size;
    for (int n = 1; n <= 4; ++n) {
      Page out(page.size(), 9);
      ASSERT_EQ(banded(out.data(), n), 0) << what << size;
      EXPECT_EQ(out, one) << what << " size " << size << " bands " << n;
    }
    Page none(page.size(), 9);  // no band: nothing done, and that is success
    EXPECT_EQ(banded(none.data(), 0), 0);
    EXPECT_EQ(none, Page(page.size(), 9));
  };
  for (int size : {1, 2, 4, 9}) {
    check(
        "stain", size, [&](uint8_t* d) { return RemoveStain(page.data(), d, h, w, size, _MARGINPTXYSIZE{}); },
        [&](uint8_t* d, int n) { return RemoveStainEx(page.data(), d, h, w, size, _MARGINPTXYSIZE{}, n); });
    check(
        "couplay", size, [&](uint8_t* d) { return CouplayFilter(page.data(), d, h, w, size); },
        [&](uint8_t* d, int n) { return CouplayFilterEx(page.data(), d, h, w, size, n); });
  }
  for (int size : {-5, -2, 1, 3, 6})
    check(
        "line", size, [&](uint8_t* d) { return LineFilter(page.data(), d, h, w, size); },
        [&](uint8_t* d, int n) { return LineFilterEx(page.data(), d, h, w, size, n); });
}

TEST(OlderFilters, FrameOfTheWindowSize) {
  const int h = 6, w = 8;
  const struct {
    int size, top, bottom, left, right;
  } cases[] = {
      {0, 1, 0, 1, 0}, {1, 1, 0, 1, 0}, {2, 1, 1, 1, 1}, {3, 2, 1, 2, 1}, {4, 2, 2, 2, 2}, {20, 6, 6, 8, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Page page(size_t(h) * w, 0);
    Set4SideMemery(page.data(), h, w, c.size, 7);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool frame = y < c.top || y >= h - c.bottom || x < c.left || x >= w - c.right;
        ASSERT_EQ(page[size_t(y) * w + x], frame ? 7 : 0) << x << "," << y;
      }
  }
}

// --------------------------------------------------------------- filters --

TEST(Spline, ThroughItsPointsOfACubicAParabolaAndALine) {
  auto cubic = [](double x) { return 300 * std::pow(x / 255, 3) - 20; };
  auto parabola = [](double x) { return x * x / 255; };
  auto line = [](double x) { return 10 + 0.5 * x; };
  const struct {
    const char* name;
    std::vector<int> xs;
    double (*f)(double);
  } cases[] = {
      {"cubic (not-a-knot keeps it), clamped both ends", {0, 60, 130, 200, 255}, +cubic},
      {"cubic on four points", {0, 85, 170, 255}, +cubic},
      {"parabola on three points", {0, 100, 255}, +parabola},
      {"line on two points", {0, 255}, +line},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> ys;
    for (int x : c.xs) ys.push_back(c.f(x));
    uint8_t outX[256], outY[256];
    ASSERT_EQ(SplineFunction(c.xs.data(), ys.data(), int(c.xs.size()), 0, 255, outX, outY), 0);
    for (int x = 0; x <= 255; ++x) {
      const double want = std::clamp(c.f(x), 0.0, 255.0);
      ASSERT_EQ(outX[x], x);
      // Truncated: a value a hair below a whole number may fall either side.
      ASSERT_TRUE(outY[x] == int(want + 1e-9) || outY[x] == int(want - 1e-9)) << x << " " << int(outY[x]);
    }
  }
  // Part of the range, and an empty range.
  const int xs[] = {0, 100, 255};
  const double ys[] = {0, 100, 255};
  uint8_t outX[4] = {9, 9, 9, 9}, outY[4] = {9, 9, 9, 9};
  ASSERT_EQ(SplineFunction(xs, ys, 3, 50, 52, outX, outY), 0);
  EXPECT_EQ(std::vector<int>(outX, outX + 4), (std::vector<int>{50, 51, 52, 9}));
  EXPECT_EQ(std::vector<int>(outY, outY + 4), (std::vector<int>{50, 51, 52, 9}));
  ASSERT_EQ(SplineFunction(xs, ys, 3, 10, 9, outX, outY), 0);
  EXPECT_EQ(outX[0], 50);
  // Points that do not stand left to right have no spline.
  const int repeated[] = {0, 100, 100, 255}, backwards[] = {0, 200, 100, 255};
  const double four[] = {0, 1, 2, 3};
  EXPECT_EQ(SplineFunction(repeated, four, 4, 0, 255, outX, outY), -1);
  EXPECT_EQ(SplineFunction(backwards, four, 4, 0, 255, outX, outY), -1);
  EXPECT_EQ(SplineFunction(xs, ys, 1, 0, 255, outX, outY), -1);
}

const int kLaplacianKernel[5][5] = {{46, 32, 19, 32, 46},
                                    {32, -28, -70, -28, 32},
                                    {19, -70, -128, -70, 19},
                                    {32, -28, -70, -28, 32},
                                    {46, 32, 19, 32, 46}};

TEST(SignFilters, LaplacianAnswersItsKernelAroundADot) {
  const int h = 11, w = 12, py = 5, px = 6;
  Page page(size_t(h) * w, 0), out(page.size(), 9);
  page[size_t(py) * w + px] = 3;
  filter_imLaplacian(page.data(), out.data(), h, w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int want = 0;
      const int i = py - y + 2, j = px - x + 2;
      const bool inner = y >= 2 && y < h - 2 && x >= 2 && x < w - 2;
      if (inner && i >= 0 && i < 5 && j >= 0 && j < 5) want = kLaplacianKernel[i][j] > 0 ? 1 : 255;
      ASSERT_EQ(out[size_t(y) * w + x], want) << x << "," << y;
    }
  // The kernel sums to -4: a flat grey page is negative inside.
  Page grey(size_t(h) * w, 50);
  filter_imLaplacian(grey.data(), out.data(), h, w);
  EXPECT_EQ(out[size_t(5) * w + 5], 255);
  EXPECT_EQ(out[size_t(1) * w + 5], 0);
  // Too small for an inner pixel: all 0.
  Page small(16, 40), smallOut(16, 9);
  filter_imLaplacian(small.data(), smallOut.data(), 4, 4);
  EXPECT_EQ(smallOut, Page(16, 0));
}

TEST(SignFilters, TwoBitCodesPackedIntoMarkedWords) {
  const int h = 5, w = 10;
  Page page(size_t(h) * w, 0);
  const uint8_t row2[w] = {8, 8, 3, 0, 0, 9, 0, 4, 8, 8};
  std::copy(row2, row2 + w, page.begin() + 2 * w);
  int identity[25] = {}, negative[25] = {};
  identity[12] = 1, negative[12] = -1;
  const struct {
    const char* name;
    const int* kernel;
    uint8_t marks[2];
    int word0, word1;
  } cases[] = {
      {"positive", identity, {15, 15}, 0x10, 0x44},
      {"negative", negative, {15, 15}, 0x20, 0x88},
      {"second word not marked", identity, {15, 0}, 0x10, 0x5EED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> out(size_t(h) * 2, 0x5EED);  // (8 + 20 - 5) / 8 = 2 words a row
    ASSERT_EQ(FilterGaussLaplacianbitspc(page.data(), out.data(), c.kernel, h, w, 4, c.marks), 0);
    for (int y : {0, 1, 3, 4}) {
      EXPECT_EQ(out[size_t(y) * 2], 0);
      EXPECT_EQ(out[size_t(y) * 2 + 1], 0);
    }
    EXPECT_EQ(out[4], c.word0);
    EXPECT_EQ(out[5], c.word1);
  }
  std::vector<int> out(10);
  const uint8_t marks[2] = {15, 15};
  EXPECT_EQ(FilterGaussLaplacianbitspc(page.data(), out.data(), identity, h, w, 0, marks), -1);
  EXPECT_EQ(FilterGaussLaplacianbitspc(page.data(), out.data(), identity, h, w, 17, marks), -1);
}

TEST(Determinant, EliminationWithRowExchanges) {
  const struct {
    const char* name;
    int n;
    std::vector<double> m;
    int result;
    double det;
  } cases[] = {
      {"identity", 3, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 1},
      {"two by two", 2, {2, 1, 1, 3}, 0, 5},
      {"one exchange turns the sign", 2, {0, 1, 1, 0}, 0, -1},
      {"exchange in three", 3, {0, 2, 0, 3, 0, 0, 0, 0, 4}, 0, -24},
      {"general", 3, {2, -3, 1, 2, 0, -1, 1, 4, 5}, 0, 49},
      {"singular", 2, {1, 2, 2, 4}, -1, 0},
      {"zero column", 2, {0, 0, 0, 1}, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    double det = 99;
    EXPECT_EQ(detMatDigenValue(c.n, c.m.data(), &det), c.result);
    EXPECT_NEAR(det, c.det, 1e-9);
  }
}

TEST(PointLists, TriplesWithEqualFirstValuesAreDropped) {
  const int a[] = {1, 2, 3, 4, 5}, b[] = {1, 5, 3, 0, 6}, c[] = {10, 20, 30, 40, 50};
  int oa[5] = {}, ob[5] = {}, oc[5] = {}, count = -1;
  RemoveLoopSameness(a, b, c, 5, oa, ob, oc, &count);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(std::vector<int>(oa, oa + 3), (std::vector<int>{2, 4, 5}));
  EXPECT_EQ(std::vector<int>(ob, ob + 3), (std::vector<int>{5, 0, 6}));
  EXPECT_EQ(std::vector<int>(oc, oc + 3), (std::vector<int>{20, 40, 50}));
}

// ----------------------------------------------------------------- tone --

TEST(ToneExtras, FullestBinAndQualityCheck) {
  const uint32_t hist[] = {3, 9, 9, 1};
  uint32_t count = 0;
  EXPECT_EQ(CreateHistMax(hist, 4, &count), 1);
  EXPECT_EQ(count, 9u);
  EXPECT_EQ(CreateHistMax(hist, 0, &count), -1);

  const int h = 100, w = 100;
  const Page before(size_t(h) * w, 100), after(size_t(h) * w, 200);
  int results[3] = {};
  EXPECT_EQ(BinAIQC(before.data(), after.data(), h, w, 30, nullptr, results, 0), 0);
  EXPECT_EQ(std::vector<int>(results, results + 3), (std::vector<int>{25, 50, 25}));
  EXPECT_EQ(BinAIQC(before.data(), after.data(), h, w, 24, nullptr, results, 0), 1);
  EXPECT_EQ(BinAIQC(before.data(), before.data(), h, w, 0, nullptr, results, 0), 0);
  EXPECT_EQ(BinAIQC(before.data(), after.data(), h, w, 30, nullptr, results, 1), -1);
}

TEST(ToneExtras, ChannelHistograms) {
  // Four pixels: every one, then every second.
  const uint8_t px[] = {10, 20, 30, 10, 21, 200, 12, 20, 30, 250, 250, 250};
  uint32_t r[256], g[256], b[256];
  ASSERT_EQ(CreateHistRGB(px, 2, 2, 1, r, g, b), 0);
  EXPECT_EQ(r[10], 2u);
  EXPECT_EQ(r[12], 1u);
  EXPECT_EQ(g[20], 2u);
  EXPECT_EQ(b[250], 1u);
  ASSERT_EQ(CreateHistRGB(px, 2, 2, 2, r, g, b), 0);
  EXPECT_EQ(r[10], 1u);
  EXPECT_EQ(r[12], 1u);
  EXPECT_EQ(g[21], 0u);
  // Near (10, 20, 30): squared distances 0, 29141, 4, 158... past the limit.
  const uint8_t reference[] = {10, 20, 30};
  ASSERT_EQ(CreateHistRGBCdist(px, 2, 2, 1, reference, 5, r, g, b), 0);
  EXPECT_EQ(r[10], 1u);
  EXPECT_EQ(r[12], 1u);
  EXPECT_EQ(b[200], 0u);
  EXPECT_EQ(b[250], 0u);
  ASSERT_EQ(CreateHistRGBCdist(px, 2, 2, 1, reference, 4, r, g, b), 0);
  EXPECT_EQ(r[12], 0u);
  EXPECT_EQ(CreateHistRGB(nullptr, 2, 2, 1, r, g, b), -1);
}

TEST(ToneExtras, ShiftedHistogramsStayInsideTheirBins) {
  const uint8_t grey[] = {0, 3, 4, 255};
  std::vector<uint32_t> hist(300, 77);
  const struct {
    int k, bins, result;
    std::vector<int> at;  // bins of the four values
  } cases[] = {
      {86, 74, 0, {10, 10, 11, 73}},     // 256 / 128: shift 2
      {86, 73, -1, {}},                  // 255 would land past the last bin
      {150, 138, 0, {10, 11, 12, 137}},  // 256 / 256: shift 1
      {23, 11, 0, {10, 10, 10, 10}},     // 256 / 2: everything shifted out
      {22, 300, -1, {}},                 // no divisor
      {10, 300, -1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.k);
    std::fill(hist.begin(), hist.end(), 77);
    ASSERT_EQ(CreateHistF0spec(grey, 2, 2, c.k, hist.data(), c.bins), c.result);
    if (c.result) continue;
    std::vector<uint32_t> want(size_t(c.bins), 0);
    for (int bin : c.at) ++want[size_t(bin)];
    EXPECT_EQ(std::vector<uint32_t>(hist.begin(), hist.begin() + c.bins), want);
    EXPECT_EQ(hist[size_t(c.bins)], 77u);  // nothing written past the bins
  }
  // Every channel of colour pixels counts.
  const uint8_t colour[] = {0, 4, 255, 4, 4, 4};
  ASSERT_EQ(CreateHistUVWplusspec(colour, 1, 2, 86, hist.data(), 74), 0);
  EXPECT_EQ(hist[10], 1u);
  EXPECT_EQ(hist[11], 4u);
  EXPECT_EQ(hist[73], 1u);
  EXPECT_EQ(CreateHistUVWplusspec(colour, 1, 2, 86, hist.data(), 73), -1);
}

TEST(ToneExtras, FlatStretches) {
  const uint32_t hist[] = {5, 5, 6, 20, 40, 41, 41, 41, 3};
  int starts[4] = {}, ends[4] = {};
  ASSERT_EQ(CreateStagnationPosition(hist, 9, 1, 3, starts, ends, 4), 2);
  EXPECT_EQ(starts[0], 0);
  EXPECT_EQ(ends[0], 2);
  EXPECT_EQ(starts[1], 4);
  EXPECT_EQ(ends[1], 7);
  EXPECT_EQ(CreateStagnationPosition(hist, 9, 1, 4, starts, ends, 4), 1);
  EXPECT_EQ(CreateStagnationPosition(hist, 9, 1, 3, starts, ends, 1), 1);  // room for one
  EXPECT_EQ(CreateStagnationPosition(hist, 9, 0, 2, starts, ends, 4), 2);  // 5 5 and 41 41 41
  EXPECT_EQ(CreateStagnationPosition(hist, 0, 1, 3, starts, ends, 4), -1);
}

TEST(ToneExtras, LineBrightnessAndThreePieceContrast) {
  uint8_t t[256];
  CreateBrightTableLineF(10, t);
  EXPECT_EQ(t[0], 10);
  EXPECT_EQ(t[100], 110);
  EXPECT_EQ(t[245], 255);
  EXPECT_EQ(t[255], 255);
  CreateBrightTableLineF(-20, t);
  EXPECT_EQ(t[10], 0);
  EXPECT_EQ(t[20], 0);
  EXPECT_EQ(t[255], 235);
  CreateContrastTableF(0, 128, t);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(t[i], i);
  // Slope 127 / 64 through (128, 128): black up to the foot, white past the head.
  CreateContrastTableF(63, 128, t);
  EXPECT_EQ(t[128], 128);
  EXPECT_EQ(t[60], 0);
  EXPECT_EQ(t[150], 171);
  EXPECT_EQ(t[200], 255);
  CreateContrastTableF(-127, 0x150, t);  // the centre's low byte: 0x50
  for (int i = 0; i < 256; ++i) ASSERT_EQ(t[i], 0x50);
}

TEST(ToneExtras, EarlierAnalysisGivesTheLevelsWithoutThePageClass) {
  // Text at 40, paper at 200.
  uint32_t hist[256] = {};
  for (int i = 30; i <= 50; ++i) hist[i] = 300;
  for (int i = 190; i <= 215; ++i) hist[i] = 2000;
  int full[16] = {}, earlier[16] = {};
  earlier[12] = -7;
  ASSERT_EQ(AnalyHist(hist, 256, full, 1), 0);
  ASSERT_EQ(AnalyHist2(hist, 256, earlier), 0);
  EXPECT_EQ(earlier[0], full[0]);
  EXPECT_EQ(earlier[1], full[1]);
  EXPECT_EQ(earlier[4], full[4]);
  EXPECT_EQ(earlier[12], -7);
  uint32_t thin[256] = {};
  thin[100] = 2499;
  EXPECT_EQ(AnalyHist2(thin, 256, earlier), -1);
  EXPECT_EQ(earlier[0], 127);
  EXPECT_EQ(earlier[1], 0);
}

// ---------------------------------------------------------------- noise --

TEST(NoiseExtras, PeaksFromBinTwentySevenAndTheGivenPosition) {
  std::vector<double> hist(64, 0);
  hist[10] = 50;  // below bin 27: never a peak
  for (int i = 28; i <= 32; ++i) hist[i] = 100 - 20 * std::abs(i - 30);
  for (int i = 38; i <= 42; ++i) hist[i] = 60 - 10 * std::abs(i - 40);
  int peaks[64], valleys[64], np = 0, nv = 0;
  GetHistPeackFunction(hist.data(), 64, 100, 30, peaks, &np, valleys, &nv);
  EXPECT_EQ(std::vector<int>(peaks, peaks + np), (std::vector<int>{30, 40}));
  EXPECT_EQ(std::vector<int>(valleys, valleys + nv), (std::vector<int>{33, 43}));
  // A position away from every peak joins them in order.
  GetHistPeackFunction(hist.data(), 64, 100, 10, peaks, &np, valleys, &nv);
  EXPECT_EQ(std::vector<int>(peaks, peaks + np), (std::vector<int>{10, 30, 40}));
  GetHistPeackFunction(hist.data(), 64, 100, 35, peaks, &np, valleys, &nv);
  EXPECT_EQ(std::vector<int>(peaks, peaks + np), (std::vector<int>{30, 35, 40}));
  // Within two bins of a peak, or no maximum: not added.
  GetHistPeackFunction(hist.data(), 64, 100, 42, peaks, &np, valleys, &nv);
  EXPECT_EQ(np, 2);
  std::vector<double> flat(64, 0);
  GetHistPeackFunction(flat.data(), 64, 0, 10, peaks, &np, valleys, &nv);
  EXPECT_EQ(np, 0);
  EXPECT_EQ(nv, 0);
}

class StainNoise : public BoundEngine {};

TEST_F(StainNoise, SpecksOfOneSizeGiveThatSizeAndFaintOnesTheNoise) {
  for (int side : {3, 5, 8})
    for (bool faint : {false, true}) {
      SCOPED_TRACE(testing::Message() << side << (faint ? " with faint specks" : ""));
      const int h = 240, w = 320;
      Page page(size_t(h) * w, 225);
      int n = 0;
      for (int y0 = 20; y0 + side < h - 20; y0 += 24)
        for (int x0 = 20; x0 + side < w - 20; x0 += 24, ++n)
          for (int y = y0; y < y0 + side; ++y)
            for (int x = x0; x < x0 + side; ++x) page[size_t(y) * w + x] = faint && n % 2 ? 165 : 30;
      int stain = -1, noise = -1;
      ASSERT_EQ(intelligenceStainNoiseAnalyzeFunction(page.data(), h, w, 0, nullptr, &stain, &noise), 0);
      EXPECT_EQ(stain, side);
      // Strong edges measure past the 63 strengths counted; a step of 60
      // measures 45 (three pixels' sums) or 60 (four).
      if (faint) {
        EXPECT_GE(noise, 45);
        EXPECT_LE(noise, 60);
      } else {
        EXPECT_EQ(noise, 0);
      }
    }
  int stain, noise;
  EXPECT_EQ(intelligenceStainNoiseAnalyzeFunction(nullptr, 10, 10, 0, nullptr, &stain, &noise), -1);
}

}  // namespace
