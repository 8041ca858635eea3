// The pipeline over the image libraries as the staged system has them, bound
// the way the backend's init binds them, and the contract of the outside
// split unit's stand-in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "image_libs.h"
#include "pages.h"
#include "pipeline_sheet.h"
#include "selko2_pipeline.h"

namespace {

TEST(OutsideSplitUnit, HalvesKeepTheFaceWidthAndRowsAndBelongToTheCaller) {
  void* lib = dlopen(DRAVN_LIB_DIR "/librotation.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto split = reinterpret_cast<SPLIT_FUNCTION>(dlsym(lib, "I3ipIpunitProcess_Split"));
  ASSERT_NE(split, nullptr);
  for (auto [bpp, w, h, bpl] : {std::tuple{24, 13, 9, 39}, std::tuple{8, 10, 2, 12}, std::tuple{1, 21, 7, 3}}) {
    auto pixels = pages::Numbered(h, bpl);
    const auto before = pixels;
    I3ipImageInfo in{40,
                     0,
                     static_cast<uint8_t>(bpp),
                     0,
                     0,
                     300,
                     0,
                     static_cast<uint32_t>(w),
                     static_cast<uint32_t>(h),
                     static_cast<uint32_t>(bpl),
                     static_cast<uint32_t>(bpl * h),
                     pixels.data()};
    I3ipImageInfo upper{}, lower{};
    ASSERT_EQ(split(&in, &upper, &lower), 0);
    EXPECT_EQ(pixels, before);  // the input stays the caller's, untouched
    EXPECT_EQ(upper.Width, in.Width);
    EXPECT_EQ(lower.Width, in.Width);
    EXPECT_EQ(upper.Bpl, in.Bpl);
    EXPECT_EQ(lower.Bpl, in.Bpl);
    EXPECT_EQ(upper.Height + lower.Height, in.Height);
    ASSERT_NE(upper.Data, nullptr);
    ASSERT_NE(lower.Data, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(upper.Data, upper.Data + upper.Height * bpl),
              std::vector<unsigned char>(before.begin(), before.begin() + upper.Height * bpl));
    EXPECT_EQ(std::vector<unsigned char>(lower.Data, lower.Data + lower.Height * bpl),
              std::vector<unsigned char>(before.begin() + upper.Height * bpl, before.end()));
    free(upper.Data);  // the caller frees the halves with the C allocator
    free(lower.Data);
  }
  I3ipImageInfo empty{}, a{}, b{};
  EXPECT_NE(split(&empty, &a, &b), 0);
  EXPECT_EQ(a.Data, nullptr);
  dlclose(lib);
}

class StagedPipeline : public testing::Test {
 protected:
  CSelko2PagePipeline m_pipeline;
  void SetUp() override {
    ASSERT_EQ(LoadImageLibraries(DRAVN_LIB_DIR), SANE_STATUS_GOOD);
    g_PropInfo = KELO_PROP_INFO{};
    g_PropInfo.SCAN_FACE = 1;
    g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 300;
    g_PropInfo.SCAN_MODE = 2;
    g_PropInfo.TONE_ADJUSTMENT = 5;
    g_PropInfo.HIGHLIGHT = 255;
    g_PropInfo.GAMMA = 1000;
  }
  void TearDown() override {
    KeloImageProcess& ip = m_pipeline.m_ImageProcess;
    for (int f = 0; f < 2; ++f) free(ip.m_pUpperImage[f]), free(ip.m_pLowerImage[f]);
    UnLoadImageLibraries();
  }
  int Run(sheet::Sheet& s) { return m_pipeline.DoImageProcess(&s.face[0], &s.face[1], s.src, s.dst, s.jpeg); }
  void Make(sheet::Sheet& s) {
    s.SetFace(0, sheet::Jpeg(32, 20, {250, 250, 250}, {10, 10, 10}, 16), 32, 20, 32, 20, 32, 20, g_PropInfo.SCAN_MODE);
  }
};

TEST_F(StagedPipeline, ColourPageWithoutUnitsPassesWithItsGeometry) {
  g_PropInfo.ROTATION = 4;  // the orientation unit is not ready: unturned
  sheet::Sheet s;
  Make(s);
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(g_ImgDataInfo[0].iPixelsPerLine, 32);
  EXPECT_EQ(g_ImgDataInfo[0].iLines, 20);
  EXPECT_NEAR(s.face[0][0], DeviceAdjustLUT_Selko2[250], 3);
  EXPECT_NEAR(s.face[0][19 * 96], DeviceAdjustLUT_Selko2[10], 3);
}

TEST_F(StagedPipeline, SplitThroughTheOutsideUnit) {
  g_PropInfo.SPLIT_IMAGE = 1;
  g_PropInfo.ROTATION = 2;
  sheet::Sheet s;
  Make(s);
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(s.face[0], nullptr);
  const KeloImageProcess& ip = m_pipeline.m_ImageProcess;
  EXPECT_EQ(ip.m_tUpperImageInfo[0].iLines + ip.m_tLowerImageInfo[0].iLines, 20);
  EXPECT_EQ(ip.m_tLowerImageInfo[0].iPixelsPerLine, 32);
  // turned by 180 degrees: the dark bottom rows lead the lower half
  EXPECT_NEAR(ip.m_pLowerImage[0][0], DeviceAdjustLUT_Selko2[10], 3);
}

TEST_F(StagedPipeline, LineArtWaitsForTheBinarizationUnit) {
  ASSERT_NE(g_pBinarizationInitialized, nullptr);
  if (*g_pBinarizationInitialized) GTEST_SKIP() << "the binarization unit is ready";
  g_PropInfo.SCAN_MODE = 0;  // "iDTC" line art
  sheet::Sheet s;
  Make(s);
  EXPECT_EQ(Run(s), 34);
  EXPECT_NE(s.face[0], nullptr);  // left for the caller to free
}

}  // namespace
