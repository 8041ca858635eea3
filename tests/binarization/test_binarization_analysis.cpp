// The engine's noise and background analyses, on rendered pages whose
// noise is known, and the background judgement on hand-made histograms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "analysis.h"
#include "case_name.h"
#include "degraded_pages.h"
#include "driver.h"
#include "engine_fixture.h"

namespace {

using Analysis = BoundEngine;

struct Grey {
  int width, height;
  std::vector<uint8_t> pixels;
};

// A text page of 600 x 800 pixels (ink 30 on paper 225), with grain of
// standard deviation `noise`, optionally every pixel repeated 2 x 2.
Grey TextPage(double noise, int repeat = 1) {
  const dravn_degraded::Page page = dravn_degraded::MakePage(dravn_degraded::Kind::kFaintText, 100, 152.4, 203.2, 3);
  std::mt19937 rng(7);
  std::normal_distribution<double> grain(0, noise > 0 ? noise : 1);
  std::vector<uint8_t> base(page.truth.size());
  for (size_t i = 0; i < base.size(); ++i)
    base[i] = uint8_t(std::clamp((page.truth[i] ? 225.0 : 30.0) + (noise > 0 ? grain(rng) : 0), 0.0, 255.0));
  Grey g{page.width * repeat, page.height * repeat, {}};
  g.pixels.resize(size_t(g.width) * g.height);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x)
      g.pixels[size_t(y) * g.width + x] = base[size_t(y / repeat) * page.width + x / repeat];
  return g;
}

struct Noise {
  int out[16] = {};
  int rc;
  explicit Noise(const Grey& g) { rc = ImageNoiseFilterAnalyzeFunction(g.pixels.data(), g.height, g.width, out); }
};

TEST_F(Analysis, NoiseTypeFollowsTheGrainAtBothSizes) {
  const Grey clean = TextPage(0), noisy = TextPage(28);
  ASSERT_EQ(clean.width, 600);
  ASSERT_EQ(clean.height, 800);
  const Noise c(clean), n(noisy);
  ASSERT_EQ(c.rc, 0);
  ASSERT_EQ(n.rc, 0);
  EXPECT_EQ(c.out[2], 0) << "a clean page needs no prefilter";
  EXPECT_EQ(c.out[1], 0);
  EXPECT_GE(n.out[2], 1) << "a grainy page is prefiltered";
  EXPECT_LE(n.out[2], 4);

  EXPECT_EQ(n.out[4] % 20, 4);  // a block corner of the 20-pixel grid
  EXPECT_EQ(n.out[5] % 20, 4);

  // The same pages at 1200 x 1600 are analysed at 640 / 1200 of their size:
  // the same prefilter, the best block reported in full-size pixels.
  const Grey clean2 = TextPage(0, 2), noisy2 = TextPage(28, 2);
  const Noise c2(clean2), n2(noisy2);
  EXPECT_EQ(c2.out[2], c.out[2]);
  EXPECT_EQ(n2.out[2], n.out[2]);
  const double s = 640.0 / 1200;
  for (int i : {4, 5}) {
    const int block = int(n2.out[i] * s + 0.5);
    EXPECT_EQ(block % 20, 4) << n2.out[i];
    EXPECT_EQ(n2.out[i], int(block / s));
  }
}

TEST_F(Analysis, ShortPageHasNoBlocks) {
  // 29 rows: no room for a 20 x 20 block below row 4.
  std::vector<uint8_t> page(size_t(29) * 300, 200);
  int out[16] = {};
  ASSERT_EQ(ImageNoiseFilterAnalyzeFunction(page.data(), 29, 300, out), 0);
  EXPECT_EQ(out[0], 1) << "flat histogram";
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);
}

TEST_F(Analysis, BackgroundOfABlankPageFails) {
  std::vector<uint8_t> page(size_t(600) * 800, 235);
  int params[32] = {}, results[16] = {};
  results[2] = 77;
  EXPECT_EQ(advancedprocess(page.data(), 800, 600, 320, params, results, 0), -1);
  EXPECT_EQ(results[2], 77) << "left unset";
}

TEST_F(Analysis, BackgroundOfATextPage) {
  int params[32] = {}, results[16] = {};
  params[13] = 10;
  const Grey grainy = TextPage(28);
  ASSERT_EQ(advancedprocess(grainy.pixels.data(), grainy.height, grainy.width, 320, params, results, 0), 0);
  EXPECT_GE(results[2], 0);
  EXPECT_LE(results[2], 25);
}

// --- edge marks -------------------------------------------------------------

// The edge marks as first written, pixel by pixel: the reference the
// faster form is held to.
void PlainEdges(const int16_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height, int width,
                int threshold) {
  std::memset(edge, 0, size_t(height) * width);
  std::memset(strength, 0, size_t(height) * width);
  for (int y = 2; y < height - 2; ++y)
    for (int x = 2; x < width - 2; ++x) {
      const size_t at = size_t(y) * width + x;
      int sum = 0, pairs = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (!dx && !dy) continue;
          const size_t n = at + size_t(std::ptrdiff_t(dy) * width + dx);
          if (!(log[at] > 0 && log[n] < 0)) continue;
          const int diff = std::abs(grey[at] - grey[n]);
          if (diff > threshold) sum += diff, ++pairs;
        }
      if (pairs) edge[at] = 1, strength[at] = uint8_t(std::min(sum / pairs, 255));
    }
}

// On degraded pages (their Laplacian as the crossing map) and on random
// maps with many zero crossings, the marks and strengths are the plain ones.
TEST(EdgeMarks, SameAsThePlainNeighbourWalk) {
  struct Input {
    int width, height;
    std::vector<int16_t> grey, log;
  };
  std::vector<Input> inputs;
  for (dravn_degraded::Kind kind : dravn_degraded::kAllKinds) {
    const dravn_degraded::Page page = dravn_degraded::MakePage(kind, 100, 80, 60, 5);
    Input in{page.width, page.height, {}, {}};
    in.grey.assign(page.grey.begin(), page.grey.end());
    in.log.assign(in.grey.size(), 0);
    for (int y = 1; y + 1 < in.height; ++y)
      for (int x = 1; x + 1 < in.width; ++x) {
        const size_t i = size_t(y) * in.width + x;
        in.log[i] =
            int16_t(4 * in.grey[i] - in.grey[i - 1] - in.grey[i + 1] - in.grey[i - in.width] - in.grey[i + in.width]);
      }
    inputs.push_back(std::move(in));
  }
  std::mt19937 rng(11);
  for (int spread : {1, 2, 300}) {
    Input in{97, 61, {}, {}};
    for (int i = 0; i < in.width * in.height; ++i) {
      in.grey.push_back(int16_t(rng() % 256));
      in.log.push_back(int16_t(int(rng() % (2 * spread + 1)) - spread));
    }
    inputs.push_back(std::move(in));
  }
  for (const Input& in : inputs)
    for (int threshold : {0, 28}) {
      const size_t n = in.grey.size();
      std::vector<uint8_t> edge(n, 9), strength(n, 9), plainEdge(n), plainStrength(n);
      CreateEdge2IppAdvanced(in.grey.data(), in.log.data(), edge.data(), strength.data(), in.height, in.width,
                             threshold);
      PlainEdges(in.grey.data(), in.log.data(), plainEdge.data(), plainStrength.data(), in.height, in.width, threshold);
      EXPECT_EQ(edge, plainEdge) << in.width << "x" << in.height << " " << threshold;
      EXPECT_EQ(strength, plainStrength) << in.width << "x" << in.height << " " << threshold;
      EXPECT_GT(std::count(edge.begin(), edge.end(), 1), 0);
    }
}

// --- the judgement on hand-made histograms ----------------------------------

struct Hist {
  int text[kAdvBins] = {}, iso[kAdvBins] = {};
};

void Bump(int* h, int centre, int height, int halfWidth) {
  for (int i = std::max(0, centre - halfWidth); i <= std::min(kAdvBins - 1, centre + halfWidth); ++i)
    h[i] += height * (halfWidth + 1 - std::abs(i - centre)) / (halfWidth + 1);
}

TEST(BackgroundJudge, TooFewEdges) {
  Hist h;
  Bump(h.text, 20, 1000, 6);
  Bump(h.iso, 12, 4, 1);  // the isolated points stay at 4 or less
  int params[32] = {}, results[16] = {};
  AdvancedVerdict v;
  EXPECT_EQ(AdvancedJudge(h.text, h.iso, 100000, params, results, 0, &v), -1);
  Hist t;
  Bump(t.text, 20, 25, 6);  // text edges at 29 or less
  Bump(t.iso, 12, 500, 3);
  EXPECT_EQ(AdvancedJudge(t.text, t.iso, 100000, params, results, 0, &v), -1);
}

struct JudgeCase {
  const char* what;
  int isoPeak, isoHeight, tinyIsoPeak;  // tinyIsoPeak 0: none
  int textPeak, textHeight;
  long subPixels;
  int mustHave, mustLack;  // judgement bits
  int adjust;              // -1: any of 0..25
};

class Judge : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(Judge, Rows) {
  const JudgeCase& c = GetParam();
  Hist h;
  Bump(h.iso, c.isoPeak, c.isoHeight, 1);
  if (c.tinyIsoPeak) Bump(h.iso, c.tinyIsoPeak, c.isoHeight / 25, 1);
  Bump(h.text, c.textPeak, c.textHeight, 8);
  int params[32] = {}, results[16] = {};
  params[13] = 10;
  AdvancedVerdict v;
  ASSERT_EQ(AdvancedJudge(h.text, h.iso, c.subPixels, params, results, 0, &v), 0) << c.what;
  EXPECT_EQ(v.judge & c.mustHave, c.mustHave) << c.what << " judge " << v.judge;
  EXPECT_EQ(v.judge & c.mustLack, 0) << c.what << " judge " << v.judge;
  EXPECT_GE(v.adjust, 0);
  EXPECT_LE(v.adjust, 25);
  if (c.adjust >= 0) {
    EXPECT_EQ(v.adjust, c.adjust) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Judge,
    ::testing::Values(
        // One isolated peak: fewer than two peaks keeps the weight on it.
        JudgeCase{"one isolated peak", 14, 600, 0, 30, 3000, 1000000, 0, 1 | 2, -1},
        // A second, tiny isolated peak and nothing else: the single-peak
        // reading, from the isolated feet (20, 21) and the text peak 16 bins
        // above them: (2 (30 - 20) / 3 + (20 + 2 x 21) / 3 - 5) x 2 = 42 -> 25.
        JudgeCase{"two isolated peaks", 14, 600, 40, 30, 3000, 1000000, 1, 0, 25},
        // Few edges on a large page, isolated points weak beside a text peak
        // of the same strength: cleared without a blend.
        JudgeCase{"faint points under the text peak", 20, 200, 40, 20, 3000, 10000000, 256, 0, 0}),
    [](const auto& info) { return CaseName(info.param.what); });

// --- the analyses inside the driver ------------------------------------------

class DriverAnalyses : public Analysis {
 protected:
  void Run(const Grey& g, int mode) {
    int kernel[25];
    GetDeviceParam(&m_mode, m_params, kernel);
    std::vector<uint8_t> src = g.pixels, dst(size_t((g.width + 7) / 8) * g.height);
    std::fill(m_results, m_results + 16, 0);
    ASSERT_EQ(TBinary2(src.data(), dst.data(), g.height, g.width, 0, m_params, mode, m_results, kernel), 0);
  }
  int m_mode, m_params[32], m_results[16];
};

TEST_F(DriverAnalyses, ModeWordsSelectThem) {
  const Grey grainy = TextPage(28);
  Run(grainy, 3);  // the unit's defaults: neither analysis
  EXPECT_EQ(m_results[9], 0);
  EXPECT_EQ(m_results[2], 0);
  Run(grainy, 0x2004 | 3);  // noise analysis: its prefilter type lands in result 9
  int out[16] = {};
  ASSERT_EQ(ImageNoiseFilterAnalyzeFunction(grainy.pixels.data(), grainy.height, grainy.width, out), 0);
  EXPECT_EQ(m_results[9], out[2]);
  EXPECT_GE(m_results[9], 1);
  EXPECT_EQ(m_results[13], out[0]);
  Run(grainy, int(0x80000000u) | 0x2004 | 3);  // top nibble 8: the type is taken from result 9, not measured
  EXPECT_EQ(m_results[9], 0);
}

TEST_F(DriverAnalyses, BackgroundAnalysisSetsTheAdjustment) {
  const Grey grainy = TextPage(28);
  int params[32] = {}, results[16] = {};
  params[13] = 10;
  ASSERT_EQ(advancedprocess(grainy.pixels.data(), grainy.height, grainy.width, 320, params, results, 0), 0);
  // Bit 2 selects the analysis; the page is tone-mapped first, so only its range is checked.
  Run(grainy, 4 | 3);
  EXPECT_GE(m_results[2], 0);
  EXPECT_LE(m_results[2], 25);
  Run(TextPage(0), 4 | 3);  // a failed analysis leaves the adjustment at 0 and the page binarized
}

}  // namespace
