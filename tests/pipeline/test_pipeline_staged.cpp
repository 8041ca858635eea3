// The pipeline over the image libraries as the staged system has them, bound
// the way the backend's init binds them, and the contract of the outside
// split unit's stand-in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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

TEST_F(StagedPipeline, LineArtGoesThroughTheBinarizationUnit) {
  ASSERT_NE(g_pBinarizationInitialized, nullptr);
  ASSERT_EQ(*g_pBinarizationInitialized, 1);
  g_PropInfo.SCAN_MODE = 0;     // "iDTC" line art
  g_PropInfo.DROPOUT_COLOR = 5;  // "None": the grey page as the eye sees it
  // Strokes of 3 to 6 pixels on grey paper, the truth kept beside the page.
  const int w = 160, h = 96;
  cv::Mat page(h, w, CV_8UC3, cv::Scalar(215, 215, 215));
  std::vector<bool> ink(size_t(w) * h, false);
  for (int i = 0; i < 12; ++i) {
    const int x = 12 + 12 * i, stroke = 3 + i % 4;
    const cv::Rect bar = i % 2 ? cv::Rect(x, 14, stroke, 66) : cv::Rect(x - 4, 40 + i, stroke + 6, stroke);
    page(bar).setTo(cv::Scalar(25, 25, 25));
    for (int y = bar.y; y < bar.y + bar.height; ++y)
      for (int xx = bar.x; xx < bar.x + bar.width; ++xx) ink[size_t(y) * w + xx] = true;
  }
  std::vector<unsigned char> jpeg;
  cv::imencode(".jpg", page, jpeg, {cv::IMWRITE_JPEG_QUALITY, 100});
  sheet::Sheet s;
  s.SetFace(0, jpeg, w, h, w, h, w, h, 0);
  ASSERT_EQ(Run(s), 0);
  ASSERT_NE(s.face[0], nullptr);
  EXPECT_EQ(g_ImgDataInfo[0].iPixelsPerLine, w);
  EXPECT_EQ(g_ImgDataInfo[0].iLines, h);
  const int bpl = (w + 7) / 8;
  EXPECT_EQ(g_ImgDataInfo[0].iBytesPerLine, bpl);
  // Inverted last for line art: a set bit is black.
  double tp = 0, fp = 0, fn = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool black = s.face[0][size_t(y) * bpl + x / 8] & (0x80 >> (x % 8));
      const bool truth = ink[size_t(y) * w + x];
      tp += black && truth, fp += black && !truth, fn += !black && truth;
    }
  EXPECT_GT(2 * tp / (2 * tp + fp + fn), 0.95);
  EXPECT_EQ(fp, 0) << "no specks on the paper";
}

}  // namespace
