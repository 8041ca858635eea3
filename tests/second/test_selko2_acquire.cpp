// Selko2 page acquisition without a device: which scan properties a batch
// refuses, and how the JPEG header the scanner streams is mended so that
// the page decodes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "jpeg_decode.h"
#include "log.h"
#include "option_table.h"
#include "prop_info.h"
#include "selko2_scan_func.h"
#include "test_pages.h"

namespace {

// Options at their defaults for an A4 simplex colour scan at 300 dpi.
KELO_PROP_INFO GoodProps() {
  KELO_PROP_INFO p{};
  const double mm = 65536.0 / KELO_MM_PER_UNIT_FIXED;
  p.SCAN_FACE = 1;
  p.SCAN_RES_X = p.SCAN_RES_Y = 300;
  p.SCAN_MODE = 2;
  p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH = 210 * mm;
  p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH = 297 * mm;
  p.PAPER_SIZE = 1;
  p.HIGHLIGHT = 255;
  p.GAMMA = 1000;
  p.BW_SDTC_VARIANCE = 96;
  p.AUTOFEED = 1;
  p.DROPOUT_COLOR = 5;
  g_ImgDataInfo[0] = g_ImgDataInfo[1] = {1, 1, 2480, 3508, 7440, 8};
  return p;
}

struct PropCase {
  const char* message;  // empty: accepted
  std::function<void(KELO_PROP_INFO&)> change;
};

const double kMm = 65536.0 / KELO_MM_PER_UNIT_FIXED;

const PropCase kPropCases[] = {
    {"", [](KELO_PROP_INFO&) {}},
    {"invalid scan face", [](KELO_PROP_INFO& p) { p.SCAN_FACE = 0; }},
    {"invalid scan mode", [](KELO_PROP_INFO& p) { p.SCAN_MODE = 3; }},
    {"invalid resolution(x)", [](KELO_PROP_INFO& p) { p.SCAN_RES_X = 49; }},
    {"invalid resolution(y)", [](KELO_PROP_INFO& p) { p.SCAN_RES_Y = 601; }},
    {"invalid cropping", [](KELO_PROP_INFO& p) { p.CROPPING = 1; }},
    {"invalid paper size", [](KELO_PROP_INFO& p) { g_ImgDataInfo[1].iLines = 0, (void)p; }},
    // Automatic size without overscan skips the frame and area checks.
    {"", [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 12, g_ImgDataInfo[1].iLines = 0; }},
    {"Scan min length < 26mm and scan min height < 26mm", [](KELO_PROP_INFO& p) { p.BOTTOM_RIGHT_X = 25.9 * kMm; }},
    {"", [](KELO_PROP_INFO& p) { p.BOTTOM_RIGHT_X = p.BOTTOM_RIGHT_Y = 26 * kMm; }},
    {"Scan min length < 26mm and scan min height < 26mm", [](KELO_PROP_INFO& p) { p.TOP_LEFT_Y = 280 * kMm; }},
    // Custom size with overscan has no minimum area.
    {"", [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CROPPING = 3, p.BOTTOM_RIGHT_X = 10 * kMm; }},
    {"invalid paper width", [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_WIDTH = 216.1 * kMm; }},
    {"invalid paper length(50-200dpi)",
     [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.SCAN_RES_X = 200, p.CUST_PAGE_LENGTH = 3175.1 * kMm; }},
    {"invalid paper length(200-300dpi)", [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_LENGTH = 863.7 * kMm; }},
    {"invalid paper length(>300dpi)",
     [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.SCAN_RES_X = 301, p.CUST_PAGE_LENGTH = 355.7 * kMm; }},
    {"", [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.SCAN_RES_X = 301, p.CUST_PAGE_LENGTH = 355.6 * kMm; }},
    {"g_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(KELO_SCAN_ADF_HEIGHT_MAX_201_300_SELKO2)",
     [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.FRONT_BACK_MERGING = 1, p.CUST_PAGE_LENGTH = 863.7 * kMm; }},
    {"g_PropInfo.CUST_PAGE_LENGTH > SANE_MM_TO_UNIT(KELO_SCAN_ADF_HEIGHT_MAX_301_600_SELKO2)",
     [](KELO_PROP_INFO& p) {
       p.PAPER_SIZE = 0, p.FRONT_BACK_MERGING = 1, p.SCAN_RES_X = 600, p.CUST_PAGE_LENGTH = 355.7 * kMm;
     }},
    {"invalid back side location", [](KELO_PROP_INFO& p) { p.FRONT_BACK_MERGING = 1, p.BACK_SIDE_LOCATION = 4; }},
    {"invalid back side rotation", [](KELO_PROP_INFO& p) { p.FRONT_BACK_MERGING = 1, p.BACK_SIDE_ROTATION = 2; }},
    // Custom size without merging goes past the back-side checks.
    {"", [](KELO_PROP_INFO& p) { p.PAPER_SIZE = 0, p.BACK_SIDE_LOCATION = 9; }},
    {"invalid tone adjustment", [](KELO_PROP_INFO& p) { p.TONE_ADJUSTMENT = 6; }},
    {"invalid color cleanup", [](KELO_PROP_INFO& p) { p.COLOR_CLEANUP = 3; }},
    {"invalid color cleanup cleanness", [](KELO_PROP_INFO& p) { p.COLOR_CLEANUP = 1, p.COLOR_CLEANUP_CLEANNESS = 6; }},
    {"", [](KELO_PROP_INFO& p) { p.COLOR_CLEANUP_CLEANNESS = 6; }},
    {"invalid brightness", [](KELO_PROP_INFO& p) { p.BRIGHTNESS = -128; }},
    {"invalid contrast", [](KELO_PROP_INFO& p) { p.CONTRAST = 128; }},
    {"invalid shadow", [](KELO_PROP_INFO& p) { p.SHADOW = 200, p.HIGHLIGHT = 200; }},
    {"invalid shadow", [](KELO_PROP_INFO& p) { p.SHADOW = 255; }},
    {"invalid gama", [](KELO_PROP_INFO& p) { p.GAMMA = 99; }},
    {"invalid binarization method", [](KELO_PROP_INFO& p) { p.BW_MODE = 4; }},
    {"invalid bw idtc sensitivity", [](KELO_PROP_INFO& p) { p.BW_IDTC_SENSITIVITY = 51; }},
    {"invalid bw idtc background threshold", [](KELO_PROP_INFO& p) { p.BW_IDTC_BACKGROUND_THRESHOLD = -51; }},
    {"invalid df-action", [](KELO_PROP_INFO& p) { p.DF_ACTION = 2; }},
    {"invalid drop color", [](KELO_PROP_INFO& p) { p.DROPOUT_COLOR = 0; }},
    {"invalid sharpness", [](KELO_PROP_INFO& p) { p.SCAN_MODE = 0, p.CLEANUP_SHARPNESS = 128; }},
    {"", [](KELO_PROP_INFO& p) { p.SCAN_MODE = 0, p.CLEANUP_SHARPNESS = 160; }},
    {"invalid sharpness", [](KELO_PROP_INFO& p) { p.CLEANUP_SHARPNESS = 0x81; }},
    {"", [](KELO_PROP_INFO& p) { p.CLEANUP_SHARPNESS = 0xA0; }},
    {"", [](KELO_PROP_INFO& p) { p.SCAN_MODE = 1, p.CLEANUP_SHARPNESS = 0x81; }},
    {"invalid bw_sdtc", [](KELO_PROP_INFO& p) { p.BW_SDTC_VARIANCE = 2; }},
    {"invalid blank page skip sensitivity", [](KELO_PROP_INFO& p) { p.BLANK_PAGE_SKIP_SENSITIVITY = 3; }},
};

class Selko2Acquire : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("DRAVN_DEBUG", "10", 1);  // errors, to standard error
    StartLog();
  }
  static void TearDownTestSuite() {
    unsetenv("DRAVN_DEBUG");
    StartLog();
  }
};

TEST_F(Selko2Acquire, RefusedPropertiesNameTheirCause) {
  CSelko2ScanFunc object;
  for (const auto& c : kPropCases) {
    g_PropInfo = GoodProps();
    c.change(g_PropInfo);
    testing::internal::CaptureStderr();
    const bool accepted = object.DoCheckPropList();
    const std::string log = testing::internal::GetCapturedStderr();
    if (!*c.message) {
      EXPECT_TRUE(accepted) << log;
      continue;
    }
    EXPECT_FALSE(accepted) << c.message;
    EXPECT_NE(log.find(std::string("] ") + c.message + " \n"), std::string::npos) << c.message << "\n" << log;
  }
}

TEST_F(Selko2Acquire, StartRefusesBeforeTouchingTheDevice) {
  CSelko2ScanFunc object;
  g_PropInfo = GoodProps();
  g_PropInfo.SCAN_FACE = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(object.Start(), SANE_STATUS_INVAL);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(object.getDwLastErr(), 32u);
  EXPECT_FALSE(object.HasScanThread());
}

// --- the header the scanner streams --------------------------------------------

// What the firmware writes before it knows the sheet: the window's size in
// the frame header, no restart interval, a density without unit.
std::vector<uint8_t> StreamedFace(const dravn_pages::Image& page, bool grey) {
  std::vector<uint8_t> data = dravn_pages::EncodeJpeg(page, grey, 90);
  const size_t sof = grey ? 89 : 158, dri = grey ? 318 : 609;
  EXPECT_EQ(data[sof], 0xFF);
  EXPECT_EQ(data[sof + 1], 0xC0);
  EXPECT_EQ(data[dri], 0xFF);
  EXPECT_EQ(data[dri + 1], 0xDD);
  data[sof + 5] = 0x12, data[sof + 6] = 0x34;  // height
  data[sof + 7] = 0x0A, data[sof + 8] = 0xBC;  // width
  data[dri + 4] = data[dri + 5] = 0;
  data[13] = 0;
  return data;
}

class Selko2JpegRepair : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadLibjpeg8()); }
  void TearDown() override { UnLoadLibjpeg8(); }
};

TEST_P(Selko2JpegRepair, FrameSizeRestartIntervalAndDensity) {
  const bool grey = GetParam();
  dravn_pages::PageSpec spec;
  spec.widthMm = 60, spec.heightMm = 90, spec.dpi = 150, spec.colour = !grey;
  dravn_pages::Image page = dravn_pages::RenderDocumentPage(spec);
  std::vector<uint8_t> data = StreamedFace(page, grey);
  const uint32_t w = static_cast<uint32_t>(page.width), h = static_cast<uint32_t>(page.height);

  CSelko2ScanFunc object;
  g_pScanParameterExt[16] = 0x58, g_pScanParameterExt[17] = 0x02;  // read at 600 dpi
  object.RepairJpegHeader(data.data(), static_cast<uint32_t>(data.size()), grey ? 3 : 1, w, h);

  auto be16 = [&](size_t at) { return static_cast<uint32_t>(data[at] << 8 | data[at + 1]); };
  EXPECT_EQ(data[13], 1);
  EXPECT_EQ(be16(14), 600u);
  EXPECT_EQ(be16(16), 600u);
  if (grey) {
    EXPECT_EQ(be16(94), h);
    EXPECT_EQ(be16(96), w);
    EXPECT_EQ(be16(322), (w + 7) / 8);
  } else {
    EXPECT_EQ(be16(163), h);
    EXPECT_EQ(be16(165), w);
    EXPECT_EQ(be16(613), (w + 15) / 16);
  }
  unsigned char* decoded = ReadDataFromJpeg(
      data.data(),
      {static_cast<unsigned>(data.size()), static_cast<unsigned short>(w), static_cast<unsigned short>(h)});
  ASSERT_NE(decoded, nullptr);
  dravn_pages::Image out;
  out.width = page.width, out.height = page.height, out.channels = grey ? 1 : 3;
  out.pixels.assign(decoded, decoded + out.BytesPerLine() * out.height);
  free(decoded);
  const dravn_pages::Image expected = grey ? dravn_pages::ToGrey(page) : page;
  const dravn_pages::PageDiff diff = dravn_pages::ComparePages(out, expected, 16);
  EXPECT_LT(diff.meanAbs, 3.0);
  EXPECT_LT(diff.maxBlock, 12.0);
}

TEST_P(Selko2JpegRepair, OnlyTheDensityWithoutAFrameHeaderAtItsPlace) {
  const bool grey = GetParam();
  dravn_pages::PageSpec spec;
  spec.widthMm = 30, spec.heightMm = 30, spec.dpi = 100;
  std::vector<uint8_t> data = StreamedFace(dravn_pages::RenderDocumentPage(spec), grey);
  // A colour face carrying a grey header, and the other way round.
  std::vector<uint8_t> before = data;
  CSelko2ScanFunc object;
  object.RepairJpegHeader(data.data(), static_cast<uint32_t>(data.size()), grey ? 1 : 3, 999, 999);
  EXPECT_EQ(data[13], 1);
  for (size_t i = 18; i < data.size(); ++i) ASSERT_EQ(data[i], before[i]) << i;
}

TEST(Selko2JpegRepairBounds, NothingIsWrittenPastTheFaceData) {
  // A face of 160 bytes whose frame marker sits at 158: the height would go
  // to 163, the restart interval to 613.
  std::vector<uint8_t> data(700, 0xAA);
  data[2] = 0xFF, data[3] = 0xE0, data[158] = 0xFF, data[159] = 0xC0;
  std::vector<uint8_t> before = data;
  CSelko2ScanFunc object;
  object.RepairJpegHeader(data.data(), 160, 1, 100, 100);
  EXPECT_EQ(data[13], 1);
  for (size_t i = 160; i < data.size(); ++i) ASSERT_EQ(data[i], before[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(ColourAndGrey, Selko2JpegRepair, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Grey" : "Colour"; });

}  // namespace
