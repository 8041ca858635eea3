// The Selko2 page pipeline over recording stand-ins of the image libraries:
// decoding, the order of the steps for a matrix of options, the arguments
// of each library call and what the pipeline does with each answer.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "image_libs.h"
#include "option_table.h"
#include "pipeline_sheet.h"
#include "selko2_pipeline.h"
#include "selko2_scan_func.h"
#include "unit_fakes.h"

namespace {

using sheet::Rgb;

const Rgb kUpper{200, 100, 50};
const Rgb kLower{30, 160, 240};

int Adjusted(int v) { return DeviceAdjustLUT_Selko2[v]; }

class PipelineTest : public testing::Test {
 protected:
  unsigned char m_scanParameters[260] = {};
  CSelko2PagePipeline m_pipeline;

  void SetUp() override {
    sheet::LoadJpeg();
    ASSERT_NE(g_pLibjpeg, nullptr);
    g_PropInfo = KELO_PROP_INFO{};
    KELO_PROP_INFO& p = g_PropInfo;
    p.SCAN_FACE = 1;
    p.SCAN_RES_X = p.SCAN_RES_Y = 300;
    p.SCAN_MODE = 2;
    p.TONE_ADJUSTMENT = 5;  // custom, neutral: the identity
    p.HIGHLIGHT = 255;
    p.GAMMA = 1000;
    p.DROPOUT_COLOR = 3;
    g_ImgDataInfo[0] = g_ImgDataInfo[1] = KELO_IMAGEDATA_PARAMETERS{};
    g_iDevType = KELO_DEVTYPE_SELKO2_FIRST;
    g_pScanParameterExt = m_scanParameters;
    SetRead(300, 300);
    fakes::Install();
  }
  void TearDown() override {
    fakes::Uninstall();
    g_pScanParameterExt = nullptr;
    KeloImageProcess& ip = m_pipeline.m_ImageProcess;
    for (int f = 0; f < 2; ++f) {
      free(ip.m_pUpperImage[f]);
      free(ip.m_pLowerImage[f]);
      ip.m_pUpperImage[f] = ip.m_pLowerImage[f] = nullptr;
    }
    free(ip.m_pMergeImage);
    ip.m_pMergeImage = nullptr;
    m_pipeline.m_bCustomLUT = 0;
  }
  void SetRead(int x, int y) {
    m_scanParameters[16] = static_cast<unsigned char>(x), m_scanParameters[17] = static_cast<unsigned char>(x >> 8);
    m_scanParameters[18] = static_cast<unsigned char>(y), m_scanParameters[19] = static_cast<unsigned char>(y >> 8);
  }
  // A sheet of w x h faces read as requested (or at the read resolution
  // given), front and optionally back.
  void Make(sheet::Sheet& s, int w, int h, bool front, bool back, int split = 16, int dstW = 0, int dstH = 0) {
    const auto stream = sheet::Jpeg(w, h, kUpper, kLower, split);
    for (int f = 0; f < 2; ++f)
      if (f == 0 ? front : back)
        s.SetFace(f, stream, w, h, w, h, dstW ? dstW : w, dstH ? dstH : h, g_PropInfo.SCAN_MODE);
  }
  int Run(sheet::Sheet& s) { return m_pipeline.DoImageProcess(&s.face[0], &s.face[1], s.src, s.dst, s.jpeg); }
};

void ExpectNear(const unsigned char* px, Rgb c, const std::string& where) {
  EXPECT_NEAR(px[0], Adjusted(c.r), 3) << where;
  EXPECT_NEAR(px[1], Adjusted(c.g), 3) << where;
  EXPECT_NEAR(px[2], Adjusted(c.b), 3) << where;
}

TEST_F(PipelineTest, DecodedFaceIsCopiedRowByRowIntoTheSourceStride) {
  // A frame narrower and shorter than the source: each row lands at the
  // source's stride, the rest of the row and the lines below stay white.
  struct Case {
    int frameW, frameH, srcW, srcH;
  } cases[] = {{40, 16, 48, 32}, {64, 16, 48, 32}, {48, 48, 48, 32}};
  for (const Case& c : cases) {
    fakes::Install();
    sheet::Sheet s;
    const auto stream = sheet::Jpeg(c.frameW, c.frameH, kUpper, kUpper, c.frameH);
    s.SetFace(0, stream, c.frameW, c.frameH, c.srcW, c.srcH, c.srcW, c.srcH, 2);
    ASSERT_EQ(Run(s), 0);
    const int bpl = 3 * c.srcW;
    for (int y = 0; y < c.srcH; ++y)
      for (int x = 0; x < c.srcW; ++x) {
        const unsigned char* px = s.face[0] + y * bpl + 3 * x;
        const std::string at = std::to_string(c.frameW) + "x" + std::to_string(c.frameH) + " at " + std::to_string(x) +
                               "," + std::to_string(y);
        if (y < c.frameH && x < c.frameW)
          ExpectNear(px, kUpper, at);
        else
          ASSERT_EQ(px[0] & px[1] & px[2], 255) << at;
      }
    EXPECT_EQ(g_ImgDataInfo[0].iPixelsPerLine, c.srcW);
    EXPECT_EQ(g_ImgDataInfo[0].iLines, c.srcH);
  }
}

TEST_F(PipelineTest, AutomaticPageSizeTakesTheFrameGeometry) {
  g_PropInfo.PAPER_SIZE = 12;
  fakes::KeepImgforge({});  // no crop library: the step does nothing
  sheet::Sheet s;
  const auto stream = sheet::Jpeg(40, 24, kUpper, kLower, 8);
  s.SetFace(0, stream, 40, 24, 64, 64, 64, 64, 2);
  ASSERT_EQ(Run(s), 0);
  for (auto* g : {&s.src[0], &s.dst[0], &g_ImgDataInfo[0]}) {
    EXPECT_EQ(g->iPixelsPerLine, 40);
    EXPECT_EQ(g->iLines, 24);
    EXPECT_EQ(g->iBytesPerLine, 120);
  }
  ExpectNear(s.face[0] + 23 * 120 + 117, kLower, "last pixel");
}

TEST_F(PipelineTest, GreyFacesBecomeThreeEqualBytesPerPixel) {
  // The decoder gives one byte per pixel for a grey stream: every row is
  // read within it and widened, in the source stride or in the frame's.
  struct Case {
    int paperSize, frameW, frameH, srcW, srcH;
  } cases[] = {{1, 40, 16, 48, 32}, {1, 64, 40, 48, 32}, {12, 40, 24, 64, 64}};
  for (const Case& c : cases) {
    fakes::Install();
    fakes::KeepImgforge({});  // no crop
    g_PropInfo.PAPER_SIZE = static_cast<unsigned char>(c.paperSize);
    cv::Mat grey(c.frameH, c.frameW, CV_8UC1);
    grey.rowRange(0, 8).setTo(200);
    grey.rowRange(8, c.frameH).setTo(60);
    std::vector<unsigned char> stream;
    cv::imencode(".jpg", grey, stream, {cv::IMWRITE_JPEG_QUALITY, 100});
    sheet::Sheet s;
    s.SetFace(0, stream, c.frameW, c.frameH, c.srcW, c.srcH, c.srcW, c.srcH, 2);
    ASSERT_EQ(Run(s), 0);
    const KELO_IMAGEDATA_PARAMETERS& g = s.src[0];
    const int w = c.paperSize == 12 ? c.frameW : c.srcW, h = c.paperSize == 12 ? c.frameH : c.srcH;
    ASSERT_EQ(g.iPixelsPerLine, w);
    ASSERT_EQ(g.iLines, h);
    ASSERT_EQ(g.iBytesPerLine, 3 * w);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const unsigned char* px = s.face[0] + y * g.iBytesPerLine + 3 * x;
        const std::string at = std::to_string(c.paperSize) + ": " + std::to_string(x) + "," + std::to_string(y);
        ASSERT_TRUE(px[0] == px[1] && px[1] == px[2]) << at;
        if (y >= c.frameH || x >= c.frameW)
          ASSERT_EQ(px[0], 255) << at;
        else
          ASSERT_NEAR(px[0], Adjusted(y < 8 ? 200 : 60), 3) << at;
      }
  }
}

TEST_F(PipelineTest, UndecodableFaceIsAParameterError) {
  sheet::Sheet s;
  const std::vector<unsigned char> junk(64, 0x11);
  s.SetFace(0, junk, 8, 8, 8, 8, 8, 8, 2);
  EXPECT_EQ(Run(s), 32);
}

struct MatrixCase {
  const char* name;
  std::function<void(KELO_PROP_INFO&, fakes::Script&)> options;
  bool front, back;
  std::vector<std::string> calls;
  // front and back slots afterwards, and the front's reported geometry
  bool frontLeft, backLeft;
  int width, height, bpl;
};

TEST_F(PipelineTest, StepsRunInTheirOrderForEachCombination) {
  using P = KELO_PROP_INFO;
  using S = fakes::Script;
  const MatrixCase cases[] = {
      {"colour", [](P&, S&) {}, true, false, {}, true, false, 64, 48, 192},
      {"colour emphasis",
       [](P& p, S&) { p.CLEANUP_SHARPNESS = 64; },
       true,
       false,
       {"filter"},
       true,
       false,
       64,
       48,
       192},
      {"grey", [](P& p, S&) { p.SCAN_MODE = 1; }, true, false, {"dropout-gray"}, true, false, 64, 48, 64},
      {"line art threshold",
       [](P& p, S&) { p.SCAN_MODE = 0, p.BW_MODE = 2; },
       true,
       false,
       {"dropout-bw"},
       true,
       false,
       64,
       48,
       8},
      {"line art iDTC",
       [](P& p, S&) { p.SCAN_MODE = 0, p.BW_MODE = 0; },
       true,
       false,
       {"dropout-gray", "binauto"},
       true,
       false,
       64,
       48,
       8},
      {"blank page kept", [](P& p, S&) { p.BLANK_PAGE_SKIP = 1; }, true, false, {"blank"}, true, false, 64, 48, 192},
      {"blank page removed",
       [](P& p, S& s) { p.BLANK_PAGE_SKIP = 1, s.blankVerdicts = {1}; },
       true,
       false,
       {"blank"},
       false,
       false,
       0,
       0,
       0},
      {"automatic orientation",
       [](P& p, S& s) { p.ROTATION = 4, s.turnAnswers = {1}; },
       true,
       false,
       {"turnsense"},
       true,
       false,
       48,
       64,
       144},
      {"rotation 270", [](P& p, S&) { p.ROTATION = 3; }, true, false, {}, true, false, 48, 64, 144},
      {"colour cleanup", [](P& p, S&) { p.COLOR_CLEANUP = 1; }, true, false, {"smoothing"}, true, false, 64, 48, 192},
      {"automatic tone with cleanup",
       [](P& p, S&) { p.TONE_ADJUSTMENT = 0, p.COLOR_CLEANUP = 2; },
       true,
       false,
       {"smoothing"},
       true,
       false,
       64,
       48,
       192},
      {"split grey",
       [](P& p, S&) { p.SPLIT_IMAGE = 1, p.SCAN_MODE = 1; },
       true,
       false,
       {"split", "dropout-gray", "dropout-gray"},
       false,
       false,
       64,
       48,
       192},
      {"split with a blank half",
       [](P& p, S& s) {
         p.SPLIT_IMAGE = 1, p.BLANK_PAGE_SKIP = 1, s.blankVerdicts = {0, 1};
       },
       true,
       false,
       {"split", "blank", "blank"},
       false,
       false,
       64,
       48,
       192},
      {"split, automatic orientation",
       [](P& p, S&) { p.SPLIT_IMAGE = 1, p.ROTATION = 4; },
       true,
       false,
       {"split", "turnsense", "turnsense"},
       false,
       false,
       64,
       48,
       192},
      {"duplex grey",
       [](P& p, S&) { p.SCAN_FACE = 3, p.SCAN_MODE = 1; },
       true,
       true,
       {"dropout-gray", "dropout-gray"},
       true,
       true,
       64,
       48,
       64},
      {"back only",
       [](P& p, S&) { p.SCAN_FACE = 2, p.SCAN_MODE = 1; },
       false,
       true,
       {"dropout-gray"},
       false,
       true,
       0,
       0,
       0},
      {"merge grey",
       [](P& p, S&) { p.SCAN_FACE = 3, p.FRONT_BACK_MERGING = 1, p.SCAN_MODE = 1; },
       true,
       true,
       {"dropout-gray", "dropout-gray", "merge"},
       false,
       false,
       64,
       48,
       64},
      {"merge, one side blank",
       [](P& p, S& s) {
         p.SCAN_FACE = 3, p.FRONT_BACK_MERGING = 1, p.BLANK_PAGE_SKIP = 1, s.blankVerdicts = {1, 0};
       },
       true,
       true,
       {"blank", "blank", "merge"},
       false,
       false,
       64,
       48,
       192},
      {"merge, both sides blank",
       [](P& p, S& s) {
         p.SCAN_FACE = 3, p.FRONT_BACK_MERGING = 1, p.BLANK_PAGE_SKIP = 1, s.blankVerdicts = {1, 1};
       },
       true,
       true,
       {"blank", "blank"},
       false,
       false,
       0,
       0,
       0},
      {"automatic size, duplex",
       [](P& p, S&) { p.PAPER_SIZE = 12, p.SCAN_FACE = 3; },
       true,
       true,
       {"crop", "crop"},
       true,
       true,
       64,
       48,
       192},
      {"automatic size, back",
       [](P& p, S&) { p.PAPER_SIZE = 12, p.SCAN_FACE = 2; },
       false,
       true,
       {"crop"},
       false,
       true,
       0,
       0,
       0},
  };
  for (const MatrixCase& c : cases) {
    SetUp();
    c.options(g_PropInfo, fakes::script);
    sheet::Sheet s;
    Make(s, 64, 48, c.front, c.back);
    ASSERT_EQ(Run(s), 0) << c.name;
    EXPECT_EQ(fakes::calls, c.calls) << c.name;
    EXPECT_EQ(s.face[0] != nullptr, c.frontLeft) << c.name;
    EXPECT_EQ(s.face[1] != nullptr, c.backLeft) << c.name;
    EXPECT_EQ(g_ImgDataInfo[0].iPixelsPerLine, c.width) << c.name;
    EXPECT_EQ(g_ImgDataInfo[0].iLines, c.height) << c.name;
    EXPECT_EQ(g_ImgDataInfo[0].iBytesPerLine, c.bpl) << c.name;
    TearDown();
  }
}

TEST_F(PipelineTest, CleanupThenResolutionThenToneThenMode) {
  // Read at 600, delivered at 200 in grey with a brightened custom table.
  g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 200;
  SetRead(600, 600);
  g_PropInfo.SCAN_MODE = 1;
  g_PropInfo.COLOR_CLEANUP = 1;
  g_PropInfo.BRIGHTNESS = 127;
  sheet::Sheet s;
  Make(s, 96, 48, true, false, 48, 32, 16);
  ASSERT_EQ(Run(s), 0);
  ASSERT_EQ(fakes::smoothing.size(), 1u);
  EXPECT_EQ(fakes::smoothing[0].in.Width, 96u);  // before the conversion
  ASSERT_EQ(fakes::dropout.size(), 1u);
  const fakes::DropoutCall& d = fakes::dropout[0];
  EXPECT_EQ(d.in.nWidth, 32);  // after it
  EXPECT_EQ(d.in.nHeight, 16);
  EXPECT_EQ(d.in.nBytesPerLine, 96);
  EXPECT_EQ(d.in.nXResolution, 200);
  // The page reached the mode conversion cleaned (halved), converted and
  // mapped through the table.
  unsigned char table[256];
  CSelko2PagePipeline::ApplyLutContrastBrightness(127, 0, 255, 0, 1000, table);
  EXPECT_NEAR(d.pixels[16 * 3 + 8 * 96 + 1], table[Adjusted(kUpper.g) / 2], 4);
  EXPECT_EQ(g_ImgDataInfo[0].iPixelsPerLine, 32);
  EXPECT_EQ(g_ImgDataInfo[0].iBytesPerLine, 32);
  EXPECT_EQ(m_pipeline.m_bCustomLUT, 1u);

  // The custom table serves the next sheet unchanged.
  fakes::Install();
  g_PropInfo.BRIGHTNESS = -127;
  sheet::Sheet next;
  Make(next, 96, 48, true, false, 48, 32, 16);
  ASSERT_EQ(Run(next), 0);
  EXPECT_NEAR(fakes::dropout[0].pixels[16 * 3 + 8 * 96 + 1], table[Adjusted(kUpper.g) / 2], 4);
}

TEST_F(PipelineTest, AutomaticSizeConvertsToTheRoundedUpRequestedSize) {
  g_PropInfo.PAPER_SIZE = 12;
  g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 150;
  SetRead(300, 300);
  fakes::script.cropWidth = 61;  // ceil(61 / 2) = 31
  fakes::script.cropHeight = 45;
  sheet::Sheet s;
  Make(s, 64, 48, true, false);
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(g_ImgDataInfo[0].iPixelsPerLine, 31);
  EXPECT_EQ(g_ImgDataInfo[0].iLines, 23);
  EXPECT_EQ(g_ImgDataInfo[0].iBytesPerLine, 93);
}

TEST_F(PipelineTest, BinarizationBeforeRotationAndInversionLast) {
  g_PropInfo.SCAN_MODE = 0;
  g_PropInfo.BW_MODE = 0;
  g_PropInfo.ROTATION = 1;
  sheet::Sheet s;
  Make(s, 64, 48, true, false);
  ASSERT_EQ(Run(s), 0);
  ASSERT_EQ(fakes::binarization.size(), 1u);
  EXPECT_EQ(fakes::binarization[0].in.Width, 64u);  // unturned
  EXPECT_EQ(fakes::binarization[0].c, 0);           // not cropped
  // Upper 16 lines dark (0 bits), the rest light; turned clockwise they are
  // the right-hand 16 columns, then every byte is inverted.
  EXPECT_EQ(g_ImgDataInfo[0].iPixelsPerLine, 48);
  EXPECT_EQ(g_ImgDataInfo[0].iBytesPerLine, 6);
  for (int y = 0; y < 64; ++y) {
    for (int b = 0; b < 4; ++b) ASSERT_EQ(s.face[0][y * 6 + b], 0x00) << y;
    for (int b = 4; b < 6; ++b) ASSERT_EQ(s.face[0][y * 6 + b], 0xFF) << y;
  }
}

TEST_F(PipelineTest, MergeTakesTheTurnedFacesAndTheMergedLineArtIsInverted) {
  g_PropInfo.SCAN_FACE = 3;
  g_PropInfo.FRONT_BACK_MERGING = 1;
  g_PropInfo.BACK_SIDE_LOCATION = 1;  // "Bottom"
  g_PropInfo.SCAN_MODE = 0;
  g_PropInfo.BW_MODE = 2;
  g_PropInfo.ROTATION = 1;
  sheet::Sheet s;
  Make(s, 64, 48, true, true);
  ASSERT_EQ(Run(s), 0);
  ASSERT_EQ(fakes::merge.size(), 1u);
  EXPECT_EQ(fakes::merge[0].first.Width, 48u);
  EXPECT_EQ(fakes::merge[0].first.Height, 64u);
  EXPECT_EQ(fakes::merge[0].layout, 0);
  const KeloImageProcess& ip = m_pipeline.m_ImageProcess;
  EXPECT_EQ(ip.m_tMergeImageInfo.iLines, 128);
  EXPECT_EQ(ip.m_tMergeImageInfo.iBytesPerLine, 6);
  for (int y : {0, 70, 127}) {
    EXPECT_EQ(ip.m_pMergeImage[y * 6 + 0], 0x00) << y;
    EXPECT_EQ(ip.m_pMergeImage[y * 6 + 5], 0xFF) << y;
  }
}

TEST_F(PipelineTest, SplitComesFirstAndEachHalfIsWorkedOnAlone) {
  g_PropInfo.SPLIT_IMAGE = 1;
  g_PropInfo.BLANK_PAGE_SKIP = 1;
  g_PropInfo.ROTATION = 4;
  fakes::script.turnAnswers = {2, 3};
  g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 200;
  SetRead(300, 300);
  sheet::Sheet s;
  Make(s, 66, 48, true, false, 16, 44, 32);
  ASSERT_EQ(Run(s), 0);
  ASSERT_EQ(fakes::control.size(), 2u);
  EXPECT_EQ(fakes::control[0].input.nHeight, 16);  // the halves as the unit cut them
  EXPECT_EQ(fakes::control[1].input.nHeight, 32);
  ASSERT_EQ(fakes::turn.size(), 2u);
  EXPECT_EQ(fakes::turn[1].page.nHeight, 32);
  EXPECT_EQ(fakes::turn[1].page.nXResolution, 300);
  const KeloImageProcess& ip = m_pipeline.m_ImageProcess;
  // Converted to W x H/2 and W x (H - H/2) of the requested face, then
  // turned by 180 and 270 degrees.
  EXPECT_EQ(ip.m_tUpperImageInfo[0].iPixelsPerLine, 44);
  EXPECT_EQ(ip.m_tUpperImageInfo[0].iLines, 16);
  EXPECT_EQ(ip.m_tLowerImageInfo[0].iPixelsPerLine, 16);
  EXPECT_EQ(ip.m_tLowerImageInfo[0].iLines, 44);
  EXPECT_EQ(ip.m_tLowerImageInfo[0].iBytesPerLine, 48);
  // (away from the line where the colours meet: chroma is shared there)
  ExpectNear(ip.m_pUpperImage[0] + (8 * 44 + 20) * 3, kUpper, "upper half");
  ExpectNear(ip.m_pLowerImage[0] + (20 * 16 + 8) * 3, kLower, "lower half");
}

TEST_F(PipelineTest, ControlRequestsCarryTheirFields) {
  g_PropInfo.PAPER_SIZE = 12;
  g_PropInfo.SCAN_FACE = 3;
  g_PropInfo.BLANK_PAGE_SKIP = 1;
  g_PropInfo.BLANK_PAGE_SKIP_SENSITIVITY = -2;
  g_PropInfo.SCAN_RES_X = g_PropInfo.SCAN_RES_Y = 400;
  SetRead(600, 600);
  sheet::Sheet s;
  Make(s, 64, 48, true, true);
  ASSERT_EQ(Run(s), 0);
  ASSERT_EQ(fakes::calls, (std::vector<std::string>{"crop", "crop", "blank", "blank"}));
  for (int i = 0; i < 2; ++i) {
    const fakes::ControlCall& crop = fakes::control[i];
    EXPECT_EQ(crop.request.dwFlags, 0x4000);
    EXPECT_EQ(crop.request.nSide, i + 1);
    EXPECT_STREQ(crop.request.szScanner, "Selko2S420");
    EXPECT_EQ(crop.input.nResolution, 600);
    EXPECT_EQ(crop.input.nDepth, 24);
    EXPECT_EQ(crop.input.nImageSize, 64 * 48 * 3);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(crop.lut[v], v);
    const fakes::ControlCall& blank = fakes::control[2 + i];
    EXPECT_EQ(blank.request.dwFlags, 0x40);
    EXPECT_EQ(blank.request.nDetectLevel, -2);
    EXPECT_EQ(blank.request.nWLevel, 0);
    EXPECT_EQ(blank.request.nSide, 0);
  }
}

TEST_F(PipelineTest, ModeConversionRecords) {
  struct Case {
    int mode, bwMode, variance, sharpness;
    uint32_t method;
    int sdtcRow;  // -1 none
    bool errorDiffusion;
    int kind, emphasisLevel, descreenLevel;
  } cases[] = {
      {0, 1, 1, 0, 0x1003, 0, false, 0, 0, 0},     {0, 1, 96, 32, 0x1003, 1, false, 2, 0, 0},
      {0, 1, 192, 160, 0x1003, 2, false, 4, 0, 1}, {0, 2, 1, 96, 0x1000, -1, false, 2, 2, 0},
      {0, 3, 1, 64, 0x1002, -1, true, 2, 1, 0},    {1, 0, 1, 0, 0, -1, false, 0, 0, 0},
  };
  const int rows[3][7] = {{36, 20, 4, 152, 16, 16, 1}, {36, 16, 4, 152, 4, 4, 1}, {36, 8, 2, 152, 4, 4, 1}};
  for (const Case& c : cases) {
    SetUp();
    KELO_PROP_INFO& p = g_PropInfo;
    p.SCAN_MODE = static_cast<unsigned char>(c.mode);
    p.BW_MODE = static_cast<unsigned char>(c.bwMode);
    p.BW_SDTC_VARIANCE = static_cast<unsigned char>(c.variance);
    p.CLEANUP_SHARPNESS = static_cast<unsigned char>(c.sharpness);
    p.THRESHOLD = 140;
    p.DROPOUT_COLOR = 2;
    sheet::Sheet s;
    Make(s, 16, 16, true, false);
    ASSERT_EQ(Run(s), 0);
    ASSERT_EQ(fakes::dropout.size(), 1u);
    const fakes::DropoutCall& d = fakes::dropout[0];
    EXPECT_EQ(d.in.cbSize, 56u);
    EXPECT_EQ(d.in.nPixelType, 2);
    EXPECT_EQ(d.in.nDepth, 24);
    EXPECT_EQ(d.in.nColorSeq, 1);
    EXPECT_EQ(d.in.nImageSize, 16 * 48);
    EXPECT_EQ(d.params.cbSize, 36u);
    EXPECT_EQ(d.params.wDropoutType, 2);
    EXPECT_EQ(d.params.dwOutput, c.mode == 1 ? 1u : 0u);
    EXPECT_EQ(d.hasBinarization, c.mode == 0);
    if (c.mode == 0) {
      EXPECT_EQ(d.binarization.cbSize, 80u);
      EXPECT_EQ(d.binarization.dwMethod, c.method) << c.bwMode;
      EXPECT_EQ(d.binarization.nThreshold, 140);
      EXPECT_EQ(d.binarization.dwBoundary, 1u);
      EXPECT_EQ(d.hasSdtc, c.sdtcRow >= 0);
      if (c.sdtcRow >= 0) {
        for (int k = 0; k < 7; ++k) EXPECT_EQ(d.sdtc.values[k], rows[c.sdtcRow][k]) << c.variance;
      }
      EXPECT_EQ(d.hasErrorDiffusion, c.errorDiffusion);
      ASSERT_TRUE(d.hasPreFilter);
      EXPECT_EQ(d.preFilter.cbSize, 72u);
      EXPECT_EQ(d.preFilter.dwOption, c.kind ? 1u : 0u);
      EXPECT_EQ(d.emphasis.nKind, c.kind) << c.sharpness;
      EXPECT_EQ(d.emphasis.nEmphasisLevel, c.emphasisLevel);
      EXPECT_EQ(d.emphasis.nDescreenLevel, c.descreenLevel);
    }
    TearDown();
  }
}

TEST_F(PipelineTest, ColourFilterRecordWorksInPlace) {
  for (auto [sharpness, kind, emphasis, descreen] :
       {std::tuple{32, 2, 0, 0}, std::tuple{96, 2, 2, 0}, std::tuple{128, 4, 0, 0}, std::tuple{224, 4, 0, 3}}) {
    SetUp();
    g_PropInfo.CLEANUP_SHARPNESS = static_cast<unsigned char>(sharpness);
    sheet::Sheet s;
    Make(s, 16, 16, true, false);
    ASSERT_EQ(Run(s), 0);
    ASSERT_EQ(fakes::filter.size(), 1u);
    const fakes::FilterCall& f = fakes::filter[0];
    EXPECT_FALSE(f.hasOut);
    EXPECT_EQ(f.filter.cbSize, 72u);
    EXPECT_EQ(f.filter.dwOption, 1u);
    EXPECT_EQ(f.emphasis.cbSize, 24u);
    EXPECT_EQ(f.emphasis.nKind, kind) << sharpness;
    EXPECT_EQ(f.emphasis.nLevel, 7);
    EXPECT_EQ(f.emphasis.nEmphasisLevel, emphasis) << sharpness;
    EXPECT_EQ(f.emphasis.nDescreenLevel, descreen) << sharpness;
    EXPECT_EQ(f.emphasis.nLast, 1);
    TearDown();
  }
}

TEST_F(PipelineTest, GreyConversionNeedsOnlyTheDropoutEntry) {
  fakes::KeepImgforge({"fsip_DropoutColorEx"});
  g_PropInfo.SCAN_MODE = 1;
  sheet::Sheet s;
  Make(s, 16, 16, true, false);
  ASSERT_EQ(Run(s), 0);
  EXPECT_EQ(fakes::calls, std::vector<std::string>{"dropout-gray"});
  EXPECT_EQ(g_ImgDataInfo[0].iBytesPerLine, 16);
}

TEST_F(PipelineTest, MissingImgforgeEntriesMakeTheirStepsDoNothing) {
  fakes::KeepImgforge({});
  g_PropInfo.PAPER_SIZE = 12;
  g_PropInfo.BLANK_PAGE_SKIP = 1;
  g_PropInfo.CLEANUP_SHARPNESS = 32;
  sheet::Sheet s;
  Make(s, 16, 16, true, false);
  ASSERT_EQ(Run(s), 0);
  EXPECT_TRUE(fakes::calls.empty());
  EXPECT_EQ(g_ImgDataInfo[0].iBytesPerLine, 48);
}

struct CodeCase {
  const char* name;
  std::function<void(KELO_PROP_INFO&, fakes::Script&)> options;
  int result;
  bool frontLeft;
};

TEST_F(PipelineTest, FailedStepsAnswerTheirCodes) {
  using P = KELO_PROP_INFO;
  using S = fakes::Script;
  const CodeCase cases[] = {
      {"crop parameter", [](P& p, S& s) { p.PAPER_SIZE = 12, s.controlCodes = {-2}; }, 32, true},
      {"crop memory", [](P& p, S& s) { p.PAPER_SIZE = 12, s.controlCodes = {-1}; }, 33, true},
      {"crop other", [](P& p, S& s) { p.PAPER_SIZE = 12, s.controlCodes = {-3}; }, 0, true},
      {"crop front other, back parameter",
       [](P& p, S& s) {
         p.PAPER_SIZE = 12, p.SCAN_FACE = 3, s.controlCodes = {-5, -2};
       },
       0, true},
      {"blank parameter", [](P& p, S& s) { p.BLANK_PAGE_SKIP = 1, s.controlCodes = {-2}; }, 32, true},
      {"blank memory", [](P& p, S& s) { p.BLANK_PAGE_SKIP = 1, s.controlCodes = {-1}; }, 33, true},
      {"blank other", [](P& p, S& s) { p.BLANK_PAGE_SKIP = 1, s.controlCodes = {-4}; }, 0, true},
      {"split memory", [](P& p, S& s) { p.SPLIT_IMAGE = 1, s.splitCode = 34; }, 33, true},
      {"split other", [](P& p, S& s) { p.SPLIT_IMAGE = 1, s.splitCode = 2; }, 34, true},
      {"orientation not ready", [](P& p, S& s) { p.ROTATION = 4, s.turnReady = 0; }, 0, true},
      {"orientation fails", [](P& p, S& s) { p.ROTATION = 4, s.turnCodes = {36}, s.turnAnswers = {1}; }, 0, true},
      {"cleanup memory", [](P& p, S& s) { p.COLOR_CLEANUP = 1, s.smoothingCode = 34; }, 33, true},
      {"cleanup parameter", [](P& p, S& s) { p.COLOR_CLEANUP = 1, s.smoothingCode = 36; }, 32, true},
      {"cleanup other", [](P& p, S& s) { p.COLOR_CLEANUP = 1, s.smoothingCode = 9; }, 34, true},
      {"mode conversion", [](P& p, S& s) { p.SCAN_MODE = 1, s.dropoutCode = -2, s.dropoutLeavesOutput = true; }, 34,
       true},
      {"emphasis", [](P& p, S& s) { p.CLEANUP_SHARPNESS = 32, s.filterCode = -3; }, 34, true},
      {"binarization not ready", [](P& p, S& s) { p.SCAN_MODE = 0, s.binReady = 0; }, 34, true},
      {"binarization engine", [](P& p, S& s) { p.SCAN_MODE = 0, s.binCode = 47; }, 34, false},
      {"binarization memory", [](P& p, S& s) { p.SCAN_MODE = 0, s.binCode = 34; }, 33, false},
      {"merge memory", [](P& p, S& s) { p.SCAN_FACE = 3, p.FRONT_BACK_MERGING = 1, s.mergeCode = 34; }, 33, true},
      {"merge other", [](P& p, S& s) { p.SCAN_FACE = 3, p.FRONT_BACK_MERGING = 1, s.mergeCode = 3; }, 34, true},
      {"merge without a back", [](P& p, S&) { p.FRONT_BACK_MERGING = 1; }, 32, true},
  };
  for (const CodeCase& c : cases) {
    SetUp();
    c.options(g_PropInfo, fakes::script);
    sheet::Sheet s;
    Make(s, 16, 16, true, g_PropInfo.SCAN_FACE == 3);
    EXPECT_EQ(Run(s), c.result) << c.name;
    EXPECT_EQ(s.face[0] != nullptr, c.frontLeft) << c.name;
    TearDown();
  }
}

TEST_F(PipelineTest, CropFlagReachesTheBinarizationUnitOnlyAfterACrop) {
  // (control answer, control entry bound, flag handed on)
  for (auto [code, bound, flag] : {std::tuple{0, true, 1}, std::tuple{-3, true, 0}, std::tuple{0, false, 0}}) {
    SetUp();
    if (!bound) fakes::KeepImgforge({"fsip_DropoutColorEx"});  // the crop reports success having done nothing
    g_PropInfo.PAPER_SIZE = 12;
    g_PropInfo.SCAN_MODE = 0;
    fakes::script.controlCodes = {code};
    sheet::Sheet s;
    Make(s, 16, 16, true, false);
    ASSERT_EQ(Run(s), 0);
    ASSERT_EQ(fakes::binarization.size(), 1u);
    EXPECT_EQ(fakes::binarization[0].c, flag) << code << (bound ? "" : " without the control entry");
    TearDown();
  }
}

TEST_F(PipelineTest, AutomaticToneOfAPageWithoutWidthIsAParameterError) {
  g_PropInfo.TONE_ADJUSTMENT = 0;
  sheet::Sheet s;
  const auto stream = sheet::Jpeg(16, 16, kUpper, kUpper, 16);
  s.SetFace(0, stream, 16, 16, 0, 16, 0, 16, 2);
  EXPECT_EQ(Run(s), 32);
}

TEST_F(PipelineTest, AutomaticToneTablesPerHalf) {
  g_PropInfo.SPLIT_IMAGE = 1;
  g_PropInfo.TONE_ADJUSTMENT = 0;
  sheet::Sheet s;
  s.SetFace(0, sheet::Jpeg(16, 48, kUpper, kUpper, 48), 16, 48, 16, 48, 16, 48, 2);
  ASSERT_EQ(Run(s), 0);
  // A one-colour page: each half gets the profile's targets into its own
  // table, and is mapped through it.
  const KeloImageProcess& ip = m_pipeline.m_ImageProcess;
  unsigned char table[256];
  CSelko2PagePipeline::ApplyLutContrastBrightness(0, 0, 215, 15, 1900, table);
  EXPECT_EQ(std::vector<unsigned char>(ip.m_byUpperLUT, ip.m_byUpperLUT + 256),
            std::vector<unsigned char>(table, table + 256));
  EXPECT_EQ(std::vector<unsigned char>(ip.m_byLowerLUT, ip.m_byLowerLUT + 256),
            std::vector<unsigned char>(table, table + 256));
  EXPECT_NEAR(ip.m_pUpperImage[0][0], table[Adjusted(kUpper.r)], 3);
  EXPECT_NEAR(ip.m_pLowerImage[0][2], table[Adjusted(kUpper.b)], 3);
}

}  // namespace
