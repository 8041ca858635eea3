// The colour background smoothing: its histogram and cluster steps as
// tables, and whole pages whose right answer is known.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "color_smoothing.h"
#include "test_support.h"
#include "tinted_pages.h"
#include "unit_log.h"

using namespace colorsmooth;
using dravn_pages::Image;

namespace {

// --- histogram steps ---------------------------------------------------------

// The smoothing written out level by level with explicit weights.
std::vector<int> SmoothByHand(const std::vector<int>& d) {
  auto at = [](const std::vector<int>& v, int i) { return static_cast<long>(v[std::clamp(i, 0, 255)]); };
  std::vector<int> mid(256), out(256);
  for (int n = 0; n < 256; ++n) {
    if (n < 32) {
      mid[n] = static_cast<int>((at(d, n - 2) * 1 + at(d, n - 1) * 1 + at(d, n) * 4 + at(d, n + 1) + at(d, n + 2)) / 8);
    } else {
      const int half = n < 64 ? 2 : 3;
      long sum = 0;
      for (int i = -half; i <= half; ++i) sum += at(d, n + i);
      mid[n] = static_cast<int>(static_cast<double>(sum) / (2 * half + 1) + 0.5);
    }
  }
  for (int n = 0; n < 256; ++n) {
    if (n < 32) {
      out[n] = static_cast<int>((at(mid, n - 1) + 2 * at(mid, n) + at(mid, n + 1)) / 4);
    } else {
      const int half = n < 64 ? 1 : 2;
      long sum = 0;
      for (int i = -half; i <= half; ++i) sum += at(mid, n + i);
      out[n] = static_cast<int>(static_cast<double>(sum) / (2 * half + 1) + 0.5);
    }
  }
  return out;
}

TEST(ColorSmoothingSteps, SmoothHistogramAgreesWithItsTranscription) {
  std::mt19937 random(29);
  std::vector<std::vector<int>> cases;
  for (int spike : {0, 1, 31, 32, 33, 63, 64, 65, 254, 255}) {
    std::vector<int> d(256, 0);
    d[spike] = 1000;
    cases.push_back(d);
  }
  for (int k = 0; k < 20; ++k) {
    std::vector<int> d(256);
    for (int& v : d) v = static_cast<int>(random() % (k < 10 ? 7 : 5000));
    cases.push_back(d);
  }
  for (const auto& d : cases) {
    int got[256];
    SmoothHistogram(d.data(), got);
    EXPECT_EQ(std::vector<int>(got, got + 256), SmoothByHand(d));
  }
}

std::string Marks(const std::vector<int>& data) {
  bool flags[64] = {};
  MarkPeaks(data.data(), static_cast<int>(data.size()), flags);
  std::string s;
  for (size_t i = 0; i < data.size(); ++i) s += flags[i] ? '^' : '.';
  return s;
}

TEST(ColorSmoothingSteps, MarkPeaksOnPlateausFlatDataAndBothEnds) {
  const struct {
    std::vector<int> data;
    const char* marks;
  } cases[] = {
      {{1, 3, 2, 5, 4}, ".^.^."}, {{5, 3, 3, 3, 7}, "^...^"},  // both ends
      {{5, 5, 5, 2, 1}, "^^^.."},                              // a flat top at the left end
      {{1, 2, 6, 6, 6}, "..^^^"},                              // and at the right end
      {{1, 4, 4, 4, 2}, ".^^^."},                              // every element of a flat top
      {{1, 4, 4, 4, 9}, "....^"},                              // a shelf is no top
      {{7, 7, 7, 7, 7}, "....."},                              // flat data
      {{2, 2, 9, 2, 2}, "..^.."}, {{3, 3, 1, 3, 3}, "^^.^^"},
  };
  for (const auto& c : cases) EXPECT_EQ(Marks(c.data), c.marks);
}

TEST(ColorSmoothingSteps, MergePeaksKeepsTheUpperMiddleOfEachRun) {
  const struct {
    std::vector<int> run;
    int kept;
  } cases[] = {{{10, 11}, 11}, {{10, 11, 12}, 11}, {{10, 11, 12, 13}, 12},
               {{40}, 40},     {{254, 255}, 255},  {{0, 1, 2}, 1}};
  for (const auto& c : cases) {
    bool peaks[256] = {};
    for (int n : c.run) peaks[n] = true;
    peaks[100] = true;  // a lone mark elsewhere stays
    MergePeaks(peaks, 256);
    std::vector<int> left;
    for (int n = 0; n < 256; ++n)
      if (peaks[n]) left.push_back(n);
    EXPECT_EQ(left, (c.kept < 100 ? std::vector<int>{c.kept, 100} : std::vector<int>{100, c.kept}));
  }
}

TEST(ColorSmoothingSteps, ClusterLevelsStopWhereTheDensityRisesOrStaysFlat) {
  // Levels around a peak at 100: a fall to 95, a rise below it; four flat
  // steps above 104 before anything else.
  int d[256] = {};
  for (int n = 0; n < 256; ++n) d[n] = 5;
  const int shape[] = {9, 8, 12, 20, 30, 40, 50, 40, 30, 20, 10, 10, 10, 10, 10, 10, 3, 2};
  for (int i = 0; i < 18; ++i) d[94 + i] = shape[i];  // peak 100 (50); 104.. flat
  EXPECT_EQ(GetClusterMinLevel(d, 100, 1), 96);       // d[94] 9 > d[95] 8: stop at 95, + border
  EXPECT_EQ(GetClusterMinLevel(d, 100, 0), 95);
  EXPECT_EQ(GetClusterMinLevel(d, 100, 7), 96);   // border clamped to 1
  EXPECT_EQ(GetClusterMinLevel(d, 100, -3), 95);  // and to 0
  EXPECT_EQ(GetClusterMaxLevel(d, 100, 0), 107);  // 104=105=106=107=108: the 4th equal step at 107
  EXPECT_EQ(GetClusterMaxLevel(d, 100, 1), 106);

  int falling[256];
  for (int n = 0; n < 256; ++n) falling[n] = 300 - n;  // falls all the way up
  EXPECT_EQ(GetClusterMaxLevel(falling, 10, 1), 255);
  EXPECT_EQ(GetClusterMaxLevel(falling, 254, 1), 255);
  EXPECT_EQ(GetClusterMaxLevel(falling, 255, 1), 255);
  EXPECT_EQ(GetClusterMinLevel(falling, 50, 1), 50);  // rises at once below the peak
  int rising[256];
  for (int n = 0; n < 256; ++n) rising[n] = n;  // falls all the way down
  EXPECT_EQ(GetClusterMinLevel(rising, 200, 1), 0);
  EXPECT_EQ(GetClusterMinLevel(rising, 1, 1), 0);
  EXPECT_EQ(GetClusterMinLevel(rising, 0, 1), 0);
  EXPECT_EQ(GetClusterMaxLevel(rising, 100, 1), 100);  // rises at once above the peak
  int flatBelow[256] = {};
  flatBelow[10] = 9;
  EXPECT_EQ(GetClusterMinLevel(flatBelow, 10, 1), 7);  // 9 = 8 = 7 = 6 = 5: the 4th equal step at 6
}

TEST(ColorSmoothingSteps, ModifyClusterInfoWidensNarrowsAndKeepsTheRepresentative) {
  const struct {
    CLUSTERINFO in;
    int smoother;
    CLUSTERINFO out;
  } cases[] = {
      {{0, 3, 0}, 5, {0, 8, 0}},
      {{250, 255, 255}, 5, {245, 255, 255}},
      {{100, 140, 120}, 2, {98, 142, 120}},
      {{100, 140, 120}, -2, {110, 130, 120}},  // five times the size
      {{110, 126, 120}, -2, {119, 121, 120}},  // never past rpr - 1 / + 1
      {{0, 5, 0}, -1, {0, 1, 0}},
      {{250, 255, 255}, -1, {254, 255, 255}},
      {{100, 140, 120}, 0, {100, 140, 120}},
  };
  for (const auto& c : cases) {
    CLUSTERINFO r = c.in;
    ModifyClusterInfo(&r, c.smoother);
    EXPECT_EQ(std::make_tuple(r.min, r.max, r.rpr), std::make_tuple(c.out.min, c.out.max, c.out.rpr))
        << c.in.min << " " << c.in.max << " " << c.smoother;
  }
}

// Clusters written as min, representative, max.
CIVCT L(std::initializer_list<std::array<int, 3>> list) {
  CIVCT v;
  for (const auto& c : list) v.push_back(CLUSTERINFO{c[0], c[2], c[1]});
  return v;
}

std::string Ranges(const CIVCT& v) {
  std::ostringstream s;
  for (const auto& c : v) s << c.min << '-' << c.rpr << '-' << c.max << ' ';
  return s.str();
}

TEST(ColorSmoothingSteps, RepairMergeAndBorderRules) {
  int density[256] = {};
  // Repair: a light cluster whose neighbour starts within 5 levels swallows
  // it (again and again); a dark one (min below 32) does not.
  CIVCT v = L({{40, 50, 60}, {62, 65, 70}, {72, 75, 90}, {120, 130, 140}});
  RepairBrokenClusters(density, &v);
  EXPECT_EQ(Ranges(v), "40-50-90 120-130-140 ");
  v = L({{10, 20, 30}, {31, 33, 40}});
  RepairBrokenClusters(density, &v);
  EXPECT_EQ(Ranges(v), "10-20-30 31-33-40 ");

  // Merge: overlapping clusters from level 64 up become one.
  v = L({{50, 60, 70}, {68, 72, 80}, {78, 90, 100}, {101, 110, 120}});
  MergeClusters(&v);
  EXPECT_EQ(Ranges(v), "50-60-70 68-72-100 101-110-120 ");

  // Border: overlaps are cut at the emptiest level between the two
  // representatives, the last of equal minima winning.
  for (int n = 0; n < 256; ++n) density[n] = 50;
  density[105] = density[107] = 3;
  v = L({{90, 100, 110}, {104, 112, 120}});
  BorderClusters(density, &v);
  EXPECT_EQ(Ranges(v), "90-100-107 108-112-120 ");
  v = L({{90, 100, 130}, {110, 120, 120}});  // the minimum at q's own max
  for (int n = 100; n <= 120; ++n) density[n] = 130 - n;
  BorderClusters(density, &v);
  EXPECT_EQ(Ranges(v), "90-100-119 120-120-120 ");

  // Idtc2: q joins p when r is no nearer; else r joins q; the denser
  // representative is kept; the second pass spares dark clusters.
  for (int n = 0; n < 256; ++n) density[n] = n == 66 ? 90 : 10;
  v = L({{40, 50, 60}, {64, 66, 70}, {90, 100, 110}});
  EXPECT_TRUE(RepairBrokenClustersIdtc2(1, 0, density, &v));
  EXPECT_EQ(Ranges(v), "40-66-70 90-100-110 ");
  v = L({{40, 50, 60}, {64, 66, 70}, {71, 72, 80}});  // r is 5 from q, q is 6 from p
  EXPECT_TRUE(RepairBrokenClustersIdtc2(1, 0, density, &v));
  EXPECT_EQ(Ranges(v), "40-50-60 64-66-80 ");
  v = L({{10, 15, 20}, {22, 25, 30}});
  EXPECT_FALSE(RepairBrokenClustersIdtc2(2, 0, density, &v));
  EXPECT_TRUE(RepairBrokenClustersIdtc2(1, 0, density, &v));
  v = L({{40, 50, 60}, {66, 70, 80}});  // a gap of 10: too wide ...
  EXPECT_FALSE(RepairBrokenClustersIdtc2(1, 0, density, &v));
  v = L({{40, 50, 60}, {66, 67, 80}});  // ... 7 joins at smoother 0, not at 2
  EXPECT_FALSE(RepairBrokenClustersIdtc2(1, 2, density, &v));
  EXPECT_TRUE(RepairBrokenClustersIdtc2(1, 0, density, &v));

  // The unused single-pass variant: p goes on joining while light, at most
  // three times.
  v = L({{30, 40, 50}, {52, 55, 60}, {62, 65, 70}, {72, 75, 80}, {82, 85, 90}});
  RepairBrokenClustersIdtc(0, density, &v);
  EXPECT_EQ(Ranges(v), "30-40-80 82-85-90 ");
}

// A range over empty buckets has no colour: it is left out, not divided by
// zero.
TEST(ColorSmoothingSteps, EmptyClusterHasNoInformation) {
  Histogram histogram;
  histogram[40].push_back(Position{0, 0, {1, 2, 40}});
  CLUSTERINFORGB out{};
  EXPECT_FALSE(GetClusterInfoRGB(nullptr, histogram, CLUSTERINFO{10, 20, 15}, &out));
  ASSERT_TRUE(GetClusterInfoRGB(nullptr, histogram, CLUSTERINFO{35, 45, 40}, &out));
  EXPECT_EQ(out.elements, 1);
  EXPECT_EQ(out.clusterInfo[2].rpr, 40);
}

// --- pages -------------------------------------------------------------------

struct Page {
  Image image;
  I3ipImageInfo info{};
  explicit Page(Image im, int dpi = 300) : image(std::move(im)) {
    info.Size = 40;
    info.Bpp = 24;
    info.Dpi = static_cast<uint16_t>(dpi);
    info.Width = static_cast<uint32_t>(image.width);
    info.Height = static_cast<uint32_t>(image.height);
    info.Bpl = static_cast<uint32_t>(image.BytesPerLine());
    info.DataSize = info.Bpl * info.Height;
    info.Data = image.pixels.data();
  }
};

// A destination of the source's size, filled with a marker.
struct Out {
  std::vector<uint8_t> pixels;
  I3ipImageInfo info{};
  explicit Out(const Page& src, uint8_t marker = 0x5A) : pixels(src.image.pixels.size(), marker) {
    info = src.info;
    info.Data = pixels.data();
  }
  const uint8_t* At(const Page& p, int x, int y) const { return pixels.data() + y * p.info.Bpl + 3 * x; }
};

Image Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  Image im;
  im.width = w, im.height = h;
  im.pixels.resize(im.BytesPerLine() * h);
  for (size_t i = 0; i < im.pixels.size(); i += 3) im.pixels[i] = r, im.pixels[i + 1] = g, im.pixels[i + 2] = b;
  return im;
}

void Fill(Image* im, int x0, int y0, int x1, int y1, const uint8_t* rgb) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) std::copy(rgb, rgb + 3, im->Row(y) + 3 * x);
}

TEST(ColorSmoothingPages, UniformPageIsUnchangedAndWhiteWithWhitening) {
  Page page(Solid(240, 160, 200, 180, 150), 150);
  const Image before = page.image;
  Out plain(page), white(page);
  ASSERT_EQ(i3ColorSmoothing(&page.info, 0, false, false, 0, &plain.info), 0);
  ASSERT_EQ(i3ColorSmoothing(&page.info, 5, true, false, 0, &white.info), 0);
  EXPECT_EQ(plain.pixels, before.pixels);
  EXPECT_EQ(page.image.pixels, before.pixels);  // the source is not changed
  EXPECT_TRUE(std::all_of(white.pixels.begin(), white.pixels.end(), [](uint8_t v) { return v == 255; }));
}

constexpr uint8_t kLeft[3] = {225, 215, 180}, kRight[3] = {60, 110, 140};

// Left half tinted paper, right half blue, noise of +-5 over both.
Page NoisyTwoColours() {
  Image im = Solid(300, 200, 0, 0, 0);
  Fill(&im, 0, 0, 150, 200, kLeft);
  Fill(&im, 150, 0, 300, 200, kRight);
  dravn_pages::AddNoise(&im, 5, 3);
  return Page(std::move(im));
}

TEST(ColorSmoothingPages, NoisyTwoColourPageBecomesTwoFlatColoursWithItsEdgeKept) {
  Page page = NoisyTwoColours();
  Out out(page);
  ASSERT_EQ(i3ColorSmoothing(&page.info, 0, false, false, 0, &out.info), 0);
  std::set<std::vector<uint8_t>> left, right;
  for (int y = 1; y < 199; ++y)
    for (int x = 1; x < 299; ++x) {
      if (x == 149 || x == 150) {
        // Both sides of the colour edge have a neighbour of the other colour.
        EXPECT_TRUE(std::equal(out.At(page, x, y), out.At(page, x, y) + 3, page.image.Row(y) + 3 * x)) << x << "," << y;
        continue;
      }
      std::vector<uint8_t> v(out.At(page, x, y), out.At(page, x, y) + 3);
      (x < 149 ? left : right).insert(v);
    }
  ASSERT_EQ(left.size(), 1u);
  ASSERT_EQ(right.size(), 1u);
  for (int ch = 0; ch < 3; ++ch) {
    EXPECT_NEAR((*left.begin())[ch], kLeft[ch], 1);
    EXPECT_NEAR((*right.begin())[ch], kRight[ch], 1);
  }
}

CLUSTERINFORGB Cluster(CLUSTERINFO r, CLUSTERINFO g, CLUSTERINFO b) {
  CLUSTERINFORGB c{};
  c.clusterInfo[0] = r, c.clusterInfo[1] = g, c.clusterInfo[2] = b;
  c.elements = 1;
  return c;
}

TEST(ColorSmoothingPages, StronglyColouredClusterRefusesTheWrongChannelOrderAndGreyAcceptsAny) {
  // {min, max, rpr} per channel. Blue: B over G over R, 80 and 20 apart.
  const CLUSTERINFORGB blue = Cluster({40, 130, 100}, {40, 130, 120}, {150, 250, 200});
  const CLUSTERINFORGB grey = Cluster({40, 130, 90}, {40, 130, 94}, {40, 130, 86});     // within 8
  const CLUSTERINFORGB nearPair = Cluster({0, 255, 120}, {0, 255, 128}, {0, 255, 30});  // R, G 8 apart
  const struct {
    const CLUSTERINFORGB& cluster;
    uint8_t pixel[3];
    bool taken;
  } cases[] = {
      {blue, {105, 115, 200}, true},      {blue, {115, 105, 200}, false},  // R above G
      {blue, {105, 125, 120}, false},                                      // G above B
      {grey, {115, 105, 100}, true},      {grey, {100, 105, 115}, true},
      {nearPair, {130, 120, 20}, true},  // no rule between R and G
      {nearPair, {110, 120, 125}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.pixel[0]) + "," + std::to_string(c.pixel[1]) + "," + std::to_string(c.pixel[2]));
    EXPECT_EQ(IsSimilarColor(c.pixel, c.cluster), c.taken);
    // On a page of that pixel, both walks: the representative or the pixel.
    Image im = Solid(3, 3, c.pixel[0], c.pixel[1], c.pixel[2]);
    Page page(std::move(im));
    for (bool direct : {false, true}) {
      Out out(page);
      SmoothPixels(&page.info, CIRGBVCT{c.cluster}, 0, false, &out.info, direct);
      const uint8_t* got = out.At(page, 1, 1);
      for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(got[ch], c.taken ? c.cluster.clusterInfo[ch].rpr : c.pixel[ch]);
    }
  }
}

TEST(ColorSmoothingPages, NegativeSmootherNarrowsAllButTheBiggestUnlessItIsDark) {
  auto clustersOf = [](Image im, int smoother, size_t* biggest) {
    Page page(std::move(im), 150);
    CIRGBVCT c;
    EXPECT_EQ(ColorAnalysis(&page.info, smoother, false, &c, biggest), 0);
    return c;
  };
  const uint8_t light[3] = {230, 220, 200}, mid[3] = {150, 140, 120}, dark[3] = {30, 40, 50};
  for (bool darkBiggest : {false, true}) {
    SCOPED_TRACE(darkBiggest);
    Image im = Solid(400, 400, 0, 0, 0);
    Fill(&im, 0, 0, 400, 400, darkBiggest ? dark : light);
    Fill(&im, 0, 0, 400, 100, darkBiggest ? light : dark);
    Fill(&im, 0, 300, 400, 400, mid);
    dravn_pages::AddNoise(&im, 4, 9);
    size_t big0 = 0, big2 = 0;
    const CIRGBVCT wide = clustersOf(im, 0, &big0), narrow = clustersOf(im, -2, &big2);
    ASSERT_GE(wide.size(), 3u);
    ASSERT_EQ(narrow.size(), wide.size());
    ASSERT_EQ(big0, big2);
    for (size_t k = 0; k < wide.size(); ++k) {
      const bool narrowed = k != big0 || darkBiggest;
      for (int ch = 0; ch < 3; ++ch) {
        CLUSTERINFO expected = wide[k].clusterInfo[ch];
        if (narrowed) ModifyClusterInfo(&expected, -2);
        EXPECT_EQ(narrow[k].clusterInfo[ch].min, expected.min) << k << " " << ch;
        EXPECT_EQ(narrow[k].clusterInfo[ch].max, expected.max) << k << " " << ch;
        const int width = wide[k].clusterInfo[ch].max - wide[k].clusterInfo[ch].min;
        if (narrowed && width >= 22) {
          EXPECT_EQ(narrow[k].clusterInfo[ch].max - narrow[k].clusterInfo[ch].min, width - 20);
        }
      }
    }
    EXPECT_EQ(IsDarkCluster(wide[big0]), darkBiggest);
  }
}

TEST(ColorSmoothingPages, NoLevelAboveTheThresholdAnswers3AndLeavesTheDestination) {
  // Every blue level sampled exactly twice: a flat histogram has no peak.
  Image im = Solid(256, 2, 128, 128, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 256; ++x) im.Row(y)[3 * x + 2] = static_cast<uint8_t>(x);
  Page page(std::move(im), 30);  // one sample per pixel
  Out out(page);
  EXPECT_EQ(i3ColorSmoothing(&page.info, 0, true, false, 0, &out.info), 3);
  EXPECT_TRUE(std::all_of(out.pixels.begin(), out.pixels.end(), [](uint8_t v) { return v == 0x5A; }));
}

TEST(ColorSmoothingPages, BadArgumentsAnswer1) {
  Page page = NoisyTwoColours();
  Out out(page);
  I3ipImageInfo grey = page.info, noData = out.info, shortRows = page.info;
  grey.Bpp = 8;
  noData.Data = nullptr;
  shortRows.Bpl = 3 * shortRows.Width - 1;
  EXPECT_EQ(i3ColorSmoothing(nullptr, 0, false, false, 0, &out.info), 1);
  EXPECT_EQ(i3ColorSmoothing(&page.info, 0, false, false, 0, nullptr), 1);
  EXPECT_EQ(i3ColorSmoothing(&grey, 0, false, false, 0, &out.info), 1);
  EXPECT_EQ(i3ColorSmoothing(&page.info, 0, false, false, 0, &noData), 1);
  EXPECT_EQ(i3ColorSmoothing(&shortRows, 0, false, false, 0, &out.info), 1);
  EXPECT_TRUE(std::all_of(out.pixels.begin(), out.pixels.end(), [](uint8_t v) { return v == 0x5A; }));
}

// Rows padded past their pixels: neighbours are a row's stride away, and
// the padding is neither read as pixels nor written.
TEST(ColorSmoothingPages, PaddedRowsAreSteppedByTheirStride) {
  Page tight = NoisyTwoColours();
  Image padded = tight.image;
  const int stride = 3 * padded.width + 13;
  std::vector<uint8_t> bytes(static_cast<size_t>(stride) * padded.height, 0);  // black padding
  for (int y = 0; y < padded.height; ++y)
    std::copy(tight.image.Row(y), tight.image.Row(y) + 3 * padded.width, &bytes[y * stride]);
  I3ipImageInfo info = tight.info;
  info.Bpl = static_cast<uint32_t>(stride);
  info.DataSize = info.Bpl * info.Height;
  info.Data = bytes.data();
  std::vector<uint8_t> outBytes(bytes.size(), 0x5A);
  I3ipImageInfo outInfo = info;
  outInfo.Data = outBytes.data();
  Out outTight(tight);
  ASSERT_EQ(i3ColorSmoothing(&tight.info, 0, false, false, 0, &outTight.info), 0);
  ASSERT_EQ(i3ColorSmoothing(&info, 0, false, false, 0, &outInfo), 0);
  for (int y = 0; y < padded.height; ++y) {
    EXPECT_TRUE(
        std::equal(outTight.At(tight, 0, y), outTight.At(tight, 0, y) + 3 * padded.width, &outBytes[y * stride]))
        << y;
    EXPECT_TRUE(std::all_of(&outBytes[y * stride + 3 * padded.width], &outBytes[(y + 1) * stride],
                            [](uint8_t v) { return v == 0x5A; }));
  }
}

TEST(ColorSmoothingPages, TintedDocumentGetsFlatPaperAndKeepsTextAndBox) {
  dravn_pages::PageSpec spec;
  spec.widthMm = 90, spec.heightMm = 55, spec.dpi = 300, spec.number = 2;
  Page page(dravn_pages::RenderTintedPage(spec));
  const std::vector<uint8_t> paper = dravn_pages::TintedPaperMask(spec);
  const Image clean = dravn_pages::RenderDocumentPage(spec);
  for (bool white : {false, true}) {
    SCOPED_TRACE(white);
    Out out(page);
    ASSERT_EQ(i3ColorSmoothing(&page.info, 0, white, false, 0, &out.info), 0);
    std::map<std::vector<uint8_t>, int> paperColours;
    int inner = 0, darkInk = 0, inkCount = 0;
    const int w = page.image.width;
    for (int y = 1; y + 1 < page.image.height; ++y)
      for (int x = 1; x + 1 < w; ++x) {
        bool allPaper = true, allInk = true;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            allPaper &= paper[(y + dy) * w + x + dx] != 0;
            const uint8_t* c = clean.Row(y + dy) + 3 * (x + dx);
            allInk &= c[0] < 40 && c[1] < 40 && c[2] < 40;
          }
        if (allPaper) {
          ++inner;
          ++paperColours[std::vector<uint8_t>(out.At(page, x, y), out.At(page, x, y) + 3)];
        }
        if (allInk) {
          ++inkCount;
          darkInk += out.At(page, x, y)[0] < 50;
        }
      }
    auto most = std::max_element(paperColours.begin(), paperColours.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_GT(most->second, inner * 0.999);
    const std::vector<uint8_t> expected =
        white
            ? std::vector<uint8_t>{255, 255, 255}
            : std::vector<uint8_t>{dravn_pages::kTintPaper[0], dravn_pages::kTintPaper[1], dravn_pages::kTintPaper[2]};
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(most->first[ch], expected[ch], 1);
    ASSERT_GT(inkCount, 1000);
    EXPECT_EQ(darkInk, inkCount);
  }
}

// The mask walk decides as the cluster-by-cluster walk does, on pages with
// few clusters and on photos with many.
TEST(ColorSmoothingPages, MaskWalkDecidesAsTheDirectWalk) {
  dravn_pages::PageSpec spec;
  spec.widthMm = 90, spec.heightMm = 55, spec.dpi = 200;
  int masked = 0;
  for (bool photo : {false, true})
    for (int smoother : {-3, 0, 2, 5}) {
      SCOPED_TRACE(std::to_string(photo) + " " + std::to_string(smoother));
      Page page(photo ? dravn_pages::RenderPhotoPage(spec) : dravn_pages::RenderTintedPage(spec), 200);
      CIRGBVCT clusters;
      size_t biggest = 0;
      ASSERT_EQ(ColorAnalysis(&page.info, smoother, false, &clusters, &biggest), 0);
      masked += clusters.size() <= 64;
      for (bool white : {false, true}) {
        Out masks(page), direct(page);
        SmoothPixels(&page.info, clusters, biggest, white, &masks.info, false);
        SmoothPixels(&page.info, clusters, biggest, white, &direct.info, true);
        EXPECT_TRUE(masks.pixels == direct.pixels);
      }
    }
  EXPECT_GE(masked, 5);
}

// --- the background-removal mode ---------------------------------------------

// A working 5 x 5 colour median in place of the library's (which refuses
// that mask): per channel, over the caller's region.
IppStatus Median5x5(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi, IppiMaskSize mask) {
  if (mask != ippMskSize5x5) return ippStsBadArgErr;
  for (int y = 0; y < roi.height; ++y)
    for (int x = 0; x < roi.width; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        uint8_t v[25];
        int n = 0;
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx) v[n++] = src[(y + dy) * srcStep + 3 * (x + dx) + ch];
        std::nth_element(v, v + 12, v + 25);
        dst[y * dstStep + 3 * x + ch] = v[12];
      }
  return ippStsNoErr;
}

IppStatus Refuse(const Ipp8u*, int, Ipp8u*, int, IppiSize, IppiMaskSize) { return ippStsBadArgErr; }

// Pale background with speckles and a dark text bar.
Page SpeckledWithText() {
  Image im = Solid(120, 80, 200, 170, 120);
  const uint8_t ink[3] = {20, 20, 25};
  Fill(&im, 30, 30, 90, 36, ink);
  for (int k = 0; k < 40; ++k) {
    const int x = 5 + (k * 37) % 110, y = 3 + (k * 23) % 74;
    if (y >= 24 && y < 42) continue;
    im.Row(y)[3 * x] = 90;  // a lone speck, no text
  }
  return Page(std::move(im), 100);
}

TEST(ColorSmoothingBackgroundRemoval, KeepsTextAndItsSurroundingsAndMedianSmoothsTheRest) {
  Page page = SpeckledWithText();
  g_pfnFilterMedianColor = &Median5x5;
  Out out(page);
  const int rc = i3ColorSmoothing(&page.info, 0, false, true, 0, &out.info);
  g_pfnFilterMedianColor = nullptr;
  ASSERT_EQ(rc, 0);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) {
      const uint8_t* got = out.At(page, x, y);
      const uint8_t* src = page.image.Row(y) + 3 * x;
      const bool nearText = x >= 28 && x < 92 && y >= 28 && y < 38;
      const bool edge = x < 2 || y < 2 || x >= 118 || y >= 78;
      if (nearText || edge)
        EXPECT_TRUE(std::equal(got, got + 3, src)) << x << "," << y;
      else
        EXPECT_EQ(got[0], 200) << x << "," << y;  // specks gone
    }
}

TEST(ColorSmoothingBackgroundRemoval, RefusedOrMissingMedianLeavesTheSourcePixels) {
  Page page = SpeckledWithText();
  for (auto median : {&Refuse, static_cast<decltype(&Refuse)>(nullptr)}) {
    g_pfnFilterMedianColor = median;
    Out out(page);
    const int rc = i3ColorSmoothing(&page.info, 0, false, true, 0, &out.info);
    g_pfnFilterMedianColor = nullptr;
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(out.pixels == page.image.pixels);
  }
}

// --- memory and the log ----------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
#define DRAVN_NO_ADDRESS_LIMIT 1
#endif

// Runs `work` in a child whose address space may grow by `room` bytes only;
// its answer is the child's exit code.
int WithLittleMemory(size_t room, const std::function<int()>& work) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    const rlimit limit{pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + room, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    _exit(work());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ColorSmoothingMemory, PositionListsOutgrowingMemoryAnswer2) {
#ifdef DRAVN_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "the sanitizer reserves the address space";
#endif
  // One sample per pixel of a 3000 x 3000 page: 72 MB of positions.
  Page page(Solid(3000, 3000, 90, 120, 200), 30);
  Out out(page);
  EXPECT_EQ(WithLittleMemory(24u << 20, [&] { return i3ColorSmoothing(&page.info, 0, false, false, 0, &out.info); }),
            2);
  EXPECT_EQ(WithLittleMemory(1u << 30, [&] { return i3ColorSmoothing(&page.info, 0, false, false, 0, &out.info); }), 0);
}

TEST(ColorSmoothingLog, ClustersAreLoggedThroughTheUnitLog) {
  const std::string dir = dravn_test::MakeTempDir("colorsmooth-log");
  dravn_test::WriteFile(dir + "/unit.ini", "[COMMON]\nLogMode=1\n");
  I3LogInitFrom((dir + "/unit.ini").c_str(), (dir + "/").c_str(), "unit.log");
  g_pfnLog = &I3Log;
  Page page = NoisyTwoColours();
  Out out(page);
  EXPECT_EQ(i3ColorSmoothing(&page.info, 0, false, false, 0, &out.info), 0);
  g_pfnLog = nullptr;
  I3LogInitFrom((dir + "/missing.ini").c_str(), (dir + "/").c_str(), "unit.log");
  const std::string log = dravn_test::ReadFile(dir + "/unit.log");
  for (const char* line : {"ColorSmoothing [main] : (density[n]=", "ColorSmoothing Number of Main Color Clusters: 2",
                           "ColorSmoothing Number of Sub Color#1 Clusters: 1", "ColorSmoothing Cluster[ ]: (No=2 ",
                           "ColorSmoothing Cluster[B]: (min="})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  dravn_test::Run({"rm", "-rf", dir});
}

}  // namespace
