// Tone curves: the curve formula, the presets of the tone-adjustment option
// with their profile, and the automatic table measured from a page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "prop_info.h"
#include "selko2_pipeline.h"
#include "test_support.h"

namespace {

using Pipeline = CSelko2PagePipeline;

std::vector<unsigned char> Curve(int b, int c, int h, int s, int g) {
  std::vector<unsigned char> t(256);
  Pipeline::ApplyLutContrastBrightness(b, c, h, s, g, t.data());
  return t;
}

std::vector<unsigned char> Identity() {
  std::vector<unsigned char> t(256);
  for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  return t;
}

class ToneTest : public testing::Test {
 protected:
  void SetUp() override { g_PropInfo = KELO_PROP_INFO{}; }
  std::string Profile(const std::string& text) {
    std::string path = dravn_test::MakeTempDir("preset") + "/I3ipPresetLUT.ini";
    dravn_test::WriteFile(path, text);
    return path;
  }
  std::string Missing() { return dravn_test::MakeTempDir("preset") + "/I3ipPresetLUT.ini"; }
};

struct CurveCase {
  int input, white, black, brightness, contrast, shadow, highlight, gamma, expected;
};

TEST(ToneCurve, GetLutDataFollowsTheCurve) {
  // brightness and contrast as curve values (50 neutral)
  const CurveCase cases[] = {
      {0, 255, 0, 100, 50, 0, 255, 1000, 96},  // +0.375 of full scale
      {128, 255, 0, 100, 50, 0, 255, 1000, 224},
      {255, 255, 0, 1, 50, 0, 255, 1000, 161},  // -0.3675
      {0, 255, 0, 1, 50, 0, 255, 1000, 0},
      {32, 255, 0, 50, 100, 0, 255, 1000, 9},     // slope 2 - tan 60 below a quarter
      {128, 255, 0, 50, 100, 0, 255, 1000, 128},  // slope tan 60 through the middle
      {224, 255, 0, 50, 100, 0, 255, 1000, 247},
      {255, 255, 0, 50, 100, 0, 255, 1000, 255},
      {99, 255, 0, 50, 50, 100, 100, 1000, 0},  // shadow = highlight: a step
      {100, 255, 0, 50, 50, 100, 100, 1000, 0},
      {101, 255, 0, 50, 50, 100, 100, 1000, 255},
      {0, 255, 0, 50, 50, 0, 0, 1000, 0},  // both 0: step after level 0
      {1, 255, 0, 50, 50, 0, 0, 1000, 255},
      {253, 255, 0, 50, 50, 255, 255, 1000, 0},  // both 255: step at the top
      {10, 255, 0, 50, 50, 10, 230, 1000, 0},
      {120, 255, 0, 50, 50, 10, 230, 1000, 128},
      {230, 255, 0, 50, 50, 10, 230, 1000, 255},
      {64, 255, 0, 50, 50, 0, 255, 2000, 128},    // gamma 2: square root
      {128, 255, 0, 50, 50, 0, 255, 20000, 238},  // gamma held at 9.999
      {75, 100, 50, 50, 50, 0, 255, 1000, 128},   // own black and white levels
      {10, 50, 100, 50, 50, 0, 255, 1000, 0},     // white below black
      {10, 80, 80, 50, 50, 0, 255, 1000, 0},      // white equal to black
  };
  for (const CurveCase& c : cases)
    EXPECT_EQ(Pipeline::GetLUTData(c.input, c.white, c.black, c.brightness, c.contrast, c.shadow, c.highlight, c.gamma),
              c.expected)
        << "input " << c.input << " b " << c.brightness << " c " << c.contrast << " s " << c.shadow << " h "
        << c.highlight << " g " << c.gamma;
}

TEST(ToneCurve, LookupTablesMapOptionValuesToCurveValues) {
  EXPECT_EQ(contrast_tblSelko2[127 + 0].usValue, 50);
  EXPECT_EQ(contrast_tblSelko2[127 + 127].usValue, 100);
  EXPECT_EQ(contrast_tblSelko2[127 - 127].usValue, 1);
  EXPECT_EQ(brightness_tblSelko2[127 - 0].usValue, 50);
  EXPECT_EQ(brightness_tblSelko2[127 - 127].usValue, 100);
  EXPECT_EQ(brightness_tblSelko2[127 + 127].usValue, 1);
  for (int n = 0; n < 255; ++n) {
    EXPECT_EQ(contrast_tblSelko2[n].usKey, n + 1);
    EXPECT_EQ(brightness_tblSelko2[n].usKey, contrast_tblSelko2[254 - n].usKey);
    EXPECT_EQ(brightness_tblSelko2[n].usValue, contrast_tblSelko2[254 - n].usValue);
  }
}

TEST(ToneCurve, NeutralSettingsGiveTheIdentity) {
  EXPECT_EQ(Curve(0, 0, 255, 0, 1000), Identity());
  // Out-of-range brightness and contrast are held to +-127, not read past the tables.
  EXPECT_EQ(Curve(500, -500, 255, 0, 1000), Curve(127, -127, 255, 0, 1000));
}

TEST(ToneCurve, TablesAreMonotonic) {
  const int settings[][5] = {{127, 0, 255, 0, 1000},    {-127, 0, 255, 0, 1000}, {0, 127, 255, 0, 1000},
                             {0, -127, 255, 0, 1000},   {0, 0, 230, 10, 1600},   {40, 60, 200, 30, 2500},
                             {-60, -90, 128, 127, 500}, {0, 0, 100, 100, 1000},  {0, 0, 0, 255, 1000}};
  for (const auto& s : settings) {
    const auto t = Curve(s[0], s[1], s[2], s[3], s[4]);
    for (int i = 1; i < 256; ++i) ASSERT_GE(t[i], t[i - 1]) << "level " << i << " of setting " << s[0] << "," << s[1];
  }
}

TEST_F(ToneTest, NormalPresetReadsTheProfileButNotItsBrightnessOrContrast) {
  const std::string path = Profile("[NORMAL]\nBRIGHTNESS=40\nCONTRAST=-30\nSHADOW=20\nHIGHLIGHT=200\nGAMMA=2200\n");
  g_PropInfo.TONE_ADJUSTMENT = 1;
  g_PropInfo.BRIGHTNESS = 90;
  std::vector<unsigned char> t(256);
  Pipeline::I3ipIpunitProcess_ManualLUT(2, t.data(), path.c_str());
  EXPECT_EQ(g_PropInfo.SHADOW, 20);
  EXPECT_EQ(g_PropInfo.HIGHLIGHT, 200);
  EXPECT_EQ(g_PropInfo.GAMMA, 2200);
  EXPECT_EQ(g_PropInfo.BRIGHTNESS, 0);
  EXPECT_EQ(g_PropInfo.CONTRAST, 0);
  EXPECT_EQ(t, Curve(0, 0, 200, 20, 2200));
}

TEST_F(ToneTest, NormalPresetDefaultsWithoutAProfile) {
  struct Case {
    int mode, bwMode, shadow, highlight, gamma;
  } cases[] = {{2, 0, 10, 230, 1600}, {1, 0, 10, 230, 1600}, {0, 1, 0, 255, 1000}, {0, 3, 0, 255, 1600}};
  for (const Case& c : cases) {
    g_PropInfo = KELO_PROP_INFO{};
    g_PropInfo.TONE_ADJUSTMENT = 1;
    g_PropInfo.BW_MODE = static_cast<unsigned char>(c.bwMode);
    std::vector<unsigned char> t(256);
    Pipeline::I3ipIpunitProcess_ManualLUT(c.mode, t.data(), Missing().c_str());
    EXPECT_EQ(g_PropInfo.SHADOW, c.shadow) << "mode " << c.mode << " bw " << c.bwMode;
    EXPECT_EQ(g_PropInfo.HIGHLIGHT, c.highlight) << "mode " << c.mode << " bw " << c.bwMode;
    EXPECT_EQ(g_PropInfo.GAMMA, c.gamma) << "mode " << c.mode << " bw " << c.bwMode;
    EXPECT_EQ(t, Curve(0, 0, c.highlight, c.shadow, c.gamma));
  }
}

TEST_F(ToneTest, LineArtGammaComesFromItsOwnKeyUnlessErrorDiffusion) {
  const std::string path = Profile("[NORMAL]\nGAMMA=2100\n[NORMAL_BW]\nGAMMA_BW=1300\n");
  std::vector<unsigned char> t(256);
  g_PropInfo.TONE_ADJUSTMENT = 1;
  g_PropInfo.BW_MODE = 1;  // SDTC
  Pipeline::I3ipIpunitProcess_ManualLUT(0, t.data(), path.c_str());
  EXPECT_EQ(g_PropInfo.GAMMA, 1300);
  g_PropInfo.BW_MODE = 3;  // error diffusion
  Pipeline::I3ipIpunitProcess_ManualLUT(0, t.data(), path.c_str());
  EXPECT_EQ(g_PropInfo.GAMMA, 2100);
}

TEST_F(ToneTest, ProfileValuesOutsideTheCurveRangesAreHeldToThem) {
  const std::string path = Profile("SHADOW=900\nHIGHLIGHT=-4\nGAMMA=0\n");
  g_PropInfo.TONE_ADJUSTMENT = 1;
  std::vector<unsigned char> t(256);
  Pipeline::I3ipIpunitProcess_ManualLUT(2, t.data(), path.c_str());
  EXPECT_EQ(g_PropInfo.SHADOW, 255);
  EXPECT_EQ(g_PropInfo.HIGHLIGHT, 0);
  EXPECT_EQ(g_PropInfo.GAMMA, 100);
}

TEST_F(ToneTest, FixedPresets) {
  struct Case {
    int tone, shadow, highlight, gamma;
  } cases[] = {{2, 10, 240, 1800}, {3, 10, 180, 1600}, {4, 5, 215, 1900}};
  for (const Case& c : cases) {
    g_PropInfo = KELO_PROP_INFO{};
    g_PropInfo.TONE_ADJUSTMENT = static_cast<unsigned char>(c.tone);
    g_PropInfo.BRIGHTNESS = 50;
    g_PropInfo.CONTRAST = -20;
    std::vector<unsigned char> t(256);
    Pipeline::I3ipIpunitProcess_ManualLUT(1, t.data());
    EXPECT_EQ(t, Curve(0, 0, c.highlight, c.shadow, c.gamma)) << "tone " << c.tone;
    EXPECT_EQ(g_PropInfo.BRIGHTNESS, 0);
  }
}

TEST_F(ToneTest, SoftAndSharpLeaveTheLineArtTableInForce) {
  for (int tone : {2, 3}) {
    g_PropInfo.TONE_ADJUSTMENT = static_cast<unsigned char>(tone);
    std::vector<unsigned char> t(256, 77);
    Pipeline::I3ipIpunitProcess_ManualLUT(0, t.data());
    EXPECT_EQ(t, std::vector<unsigned char>(256, 77)) << "tone " << tone;
  }
  g_PropInfo.TONE_ADJUSTMENT = 4;  // "Bright" applies to line art too
  std::vector<unsigned char> t(256, 77);
  Pipeline::I3ipIpunitProcess_ManualLUT(0, t.data());
  EXPECT_EQ(t, Curve(0, 0, 215, 5, 1900));
}

// A page of w x h pixels whose three channels carry the levels given with
// their pixel counts.
struct TestPage {
  std::vector<unsigned char> pixels;
  I3ipImageInfo info{};
  TestPage(const std::vector<std::pair<int, int>>& levels, int channels = 3) {
    for (auto [level, count] : levels)
      for (int i = 0; i < count * channels; ++i) pixels.push_back(static_cast<unsigned char>(level));
    const uint32_t n = static_cast<uint32_t>(pixels.size() / channels);
    info.Bpp = static_cast<uint8_t>(8 * channels);
    info.Width = n;
    info.Height = 1;
    info.Bpl = n * channels;
    info.DataSize = info.Bpl;
    info.Data = pixels.data();
  }
};

TEST_F(ToneTest, AutomaticTableOfAOneLevelPageTakesTheProfileTargets) {
  struct Case {
    int mode, bwMode, shadow, highlight, gamma;
  } cases[] = {{2, 0, 15, 215, 1900}, {1, 0, 15, 215, 1900}, {0, 1, 20, 240, 1350}, {0, 3, 5, 245, 1800}};
  // An odd count too: the last pixel is counted like the others.
  for (const Case& c : cases)
    for (int count : {500, 501}) {
      g_PropInfo = KELO_PROP_INFO{};
      g_PropInfo.BW_MODE = static_cast<unsigned char>(c.bwMode);
      TestPage page({{90, count}});
      std::vector<unsigned char> t(256);
      ASSERT_EQ(Pipeline::I3ipIpunitProcess_AutoLUT(c.mode, &page.info, t.data()), 0);
      EXPECT_EQ(g_PropInfo.SHADOW, c.shadow) << "mode " << c.mode << " bw " << c.bwMode << " count " << count;
      EXPECT_EQ(g_PropInfo.HIGHLIGHT, c.highlight);
      EXPECT_EQ(g_PropInfo.GAMMA, c.gamma);
      EXPECT_EQ(t, Curve(0, 0, c.highlight, c.shadow, c.gamma));
    }
}

TEST_F(ToneTest, AutomaticTableFromTheHistogram) {
  // 400 pixels at 30, 300 at 120, 300 at 220: weights log10(count) put the
  // low point just above 30, the middle at 120 and the high point at 220.
  // highlight 0.5 (220 - 215) + 215, shadow 0.5 (31 - 15) + 15, gamma
  // 1.9 - 3 ((120 - 31) / (220 - 31) - 0.65).
  for (int channels : {3, 1}) {
    g_PropInfo = KELO_PROP_INFO{};
    TestPage page({{30, 400}, {120, 300}, {220, 300}}, channels);
    std::vector<unsigned char> t(256);
    ASSERT_EQ(Pipeline::I3ipIpunitProcess_AutoLUT(2, &page.info, t.data()), 0);
    EXPECT_EQ(g_PropInfo.HIGHLIGHT, 218) << channels;
    EXPECT_EQ(g_PropInfo.SHADOW, 23) << channels;
    EXPECT_EQ(g_PropInfo.GAMMA, 2437) << channels;
    EXPECT_EQ(g_PropInfo.BRIGHTNESS, 0);
    EXPECT_EQ(t, Curve(0, 0, 218, 23, 2437));
  }
}

TEST_F(ToneTest, AutomaticTableKeepsTheGammaBaseWhenHighAndLowPointsCoincide) {
  // One pixel per level: no level weighs anything, no point is found, and
  // the gamma formula would divide 0 by 0.
  TestPage page({});
  for (int v = 0; v < 256; ++v) page.pixels.insert(page.pixels.end(), 3, static_cast<unsigned char>(v));
  page.info.Width = 256;
  page.info.Bpl = page.info.DataSize = 768;
  page.info.Data = page.pixels.data();
  std::vector<unsigned char> t(256);
  ASSERT_EQ(Pipeline::I3ipIpunitProcess_AutoLUT(2, &page.info, t.data()), 0);
  EXPECT_EQ(g_PropInfo.GAMMA, 1900);
  EXPECT_EQ(g_PropInfo.HIGHLIGHT, 108);
  EXPECT_EQ(g_PropInfo.SHADOW, 8);
}

TEST_F(ToneTest, ThresholdLineArtAlwaysGetsTheIdentity) {
  g_PropInfo.BW_MODE = 2;
  TestPage page({{30, 400}, {120, 300}});
  std::vector<unsigned char> t(256);
  ASSERT_EQ(Pipeline::I3ipIpunitProcess_AutoLUT(0, &page.info, t.data()), 0);
  EXPECT_EQ(t, Identity());
}

TEST_F(ToneTest, AutomaticTableRefusesWhatItCannotMeasure) {
  std::vector<unsigned char> t(256, 5);
  EXPECT_EQ(Pipeline::I3ipIpunitProcess_AutoLUT(2, nullptr, t.data()), -2);
  TestPage page({{30, 10}, {90, 10}});
  page.info.Bpp = 16;
  EXPECT_EQ(Pipeline::I3ipIpunitProcess_AutoLUT(2, &page.info, t.data()), -2);
  EXPECT_EQ(t, std::vector<unsigned char>(256, 5));
}

}  // namespace

// The automatic table's level counts are those of counting pixel by pixel:
// on pages of runs of paper alike broken at every place in a 16-pixel
// step, on noise, and on lengths that leave a short tail, in colour and grey.
TEST(AutomaticTableCounts, LevelCountsAreThoseOfEveryPixel) {
  struct Case {
    const char* name;
    int channels;
    size_t pixels;
    int noiseEvery;  // a pixel unlike its run every this many (0: none; 1: noise throughout)
  } cases[] = {
      {"paper", 3, 1600, 0},          {"paper, a speck every 17", 3, 1601, 17},
      {"paper, a speck every 5", 3, 999, 5}, {"noise", 3, 777, 1},
      {"short", 3, 15, 0},            {"grey paper with specks", 1, 1003, 7},
      {"grey noise", 1, 64, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> data(c.pixels * c.channels);
    uint32_t seed = 12345;
    auto next = [&seed] { return static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 24); };
    const unsigned char paper[3] = {255, 250, 247};
    for (size_t i = 0; i < c.pixels; ++i)
      for (int ch = 0; ch < c.channels; ++ch)
        data[i * c.channels + ch] = c.noiseEvery && i % c.noiseEvery == 0 ? next() : paper[ch];
    uint64_t want[3][256] = {}, got[3][256] = {};
    for (size_t i = 0; i < c.pixels; ++i)
      for (int ch = 0; ch < c.channels; ++ch) ++want[ch][data[i * c.channels + ch]];
    CountLevels(data.data(), c.pixels, c.channels, got);
    EXPECT_EQ(0, memcmp(want, got, sizeof want));
  }
}
