// What setting one option does to the others, the capabilities that follow,
// the scan-property record and the frame geometry.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "image_layer_util.h"
#include "option_layer_util.h"

using image_layer_test::ErrorLine;
using image_layer_test::LogCapture;
using namespace option_layer_test;

namespace {

const SANE_Word kInfoReload = SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;

class OptionRulesTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetState(); }
};

// A Selko2 device object as the option layer sees it.
class FakeSelko2 : public KeloSelko2Link {
 public:
  bool statusOk = true;
  unsigned char statusByte3 = 0;
  bool errorOk = true;
  unsigned int errorValue = 0;
  KELO_IMAGEDATA_PARAMETERS written{};
  bool writtenSplit = false, writtenMerge = false;
  int writes = 0;

  bool GetCurrentScannerStatus(unsigned char* data, unsigned int* lastError) override {
    if (!statusOk) {
      *lastError = 4096;
      return false;
    }
    data[3] = statusByte3;
    return true;
  }
  bool ReadSCErrorInfo(unsigned int* value, unsigned int* lastError) override {
    if (!errorOk) {
      *lastError = 32;
      return false;
    }
    *value = errorValue;
    return true;
  }
  SANE_Status ConvertToSaneErr(unsigned int code) override {
    return code == 4096 ? SANE_STATUS_IO_ERROR : SANE_STATUS_INVAL;
  }
  void SetFrameGeometry(const KELO_IMAGEDATA_PARAMETERS& face, bool split, bool merge) override {
    written = face;
    writtenSplit = split;
    writtenMerge = merge;
    ++writes;
  }
  KELO_IMAGEDATA_PARAMETERS GetBufferGeometry(KELO_SELKO2_BUFFER buffer) override {
    // Each buffer tells itself apart by its line count.
    return KELO_IMAGEDATA_PARAMETERS{9, 9, 100 + buffer, 1000 + buffer, 300 + buffer, 9};
  }
};

}  // namespace

TEST_F(OptionRulesTest, FirstSetOfAnAreaOptionAsksNoReload) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Custom"), SANE_STATUS_GOOD);
  for (int option : {OPTION_TL_X, OPTION_TL_Y, OPTION_BR_X, OPTION_BR_Y, OPTION_PAGE_WIDTH, OPTION_PAGE_HEIGHT}) {
    // The front end's variable may hold anything; only this call's bits
    // come back.
    SANE_Int info = 0x7FFF;
    EXPECT_EQ(SetWord(option, Mm(30), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, 0) << option;
    info = 0x7FFF;
    EXPECT_EQ(SetWord(option, Mm(40), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, kInfoReload) << option;
  }
}

TEST_F(OptionRulesTest, ShadowAndHighlightStayApartExceptForScanimage) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_TONE_ADJUSTMENT, "Custom"), SANE_STATUS_GOOD);
  EXPECT_EQ(SetWord(OPTION_HIGHLIGHT, 5), SANE_STATUS_GOOD);
  EXPECT_EQ(Word(OPTION_HIGHLIGHT), 11);
  EXPECT_EQ(SetWord(OPTION_SHADOW, 200), SANE_STATUS_GOOD);
  EXPECT_EQ(Word(OPTION_SHADOW), 10);

  g_bIsScanimage = 1;
  EXPECT_EQ(SetWord(OPTION_HIGHLIGHT, 5), SANE_STATUS_GOOD);
  EXPECT_EQ(Word(OPTION_HIGHLIGHT), 5);
}

TEST_F(OptionRulesTest, PaperOnTheFeederSetsTheArea) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_SOURCE, "Adf-front"), SANE_STATUS_GOOD);
  SANE_Int info = 0;
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Letter", &info), SANE_STATUS_GOOD);
  EXPECT_EQ(info, kInfoReload);
  EXPECT_EQ(Word(OPTION_PAGE_WIDTH), 0xD80000);
  EXPECT_EQ(Word(OPTION_PAGE_HEIGHT), 18310758);
  EXPECT_EQ(Word(OPTION_BR_X), 0xD80000);
  EXPECT_EQ(Word(OPTION_BR_Y), 18310758);
  EXPECT_EQ(Word(OPTION_TL_X), 0);
  EXPECT_EQ(Word(OPTION_TL_Y), 0);
  EXPECT_EQ(GetOptionDescriptor(OPTION_BR_Y)->constraint.range->max, 18310758);
  EXPECT_EQ(GetOptionDescriptor(OPTION_TL_X)->constraint.range->max, 0xD80000);

  // The area's corners follow the paper: a front end cannot ask otherwise
  // (they are inactive) until the paper is Custom.
  ASSERT_EQ(SetWord(OPTION_PAGE_AUTO, 0), SANE_STATUS_GOOD);
  for (int option : {OPTION_TL_X, OPTION_TL_Y, OPTION_BR_X, OPTION_BR_Y, OPTION_PAGE_WIDTH, OPTION_PAGE_HEIGHT})
    EXPECT_FALSE(Active(option)) << option;
  EXPECT_EQ(SetWord(OPTION_BR_X, Mm(100), &info), SANE_STATUS_INVAL);
  EXPECT_EQ(Word(OPTION_BR_X), 0xD80000);
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Custom"), SANE_STATUS_GOOD);
  for (int option : {OPTION_TL_X, OPTION_TL_Y, OPTION_BR_X, OPTION_BR_Y, OPTION_PAGE_WIDTH, OPTION_PAGE_HEIGHT})
    EXPECT_TRUE(Active(option)) << option;
  EXPECT_EQ(SetWord(OPTION_BR_X, Mm(100), &info), SANE_STATUS_GOOD);
  EXPECT_EQ(Word(OPTION_BR_X), Mm(100));
}

// The line-art settings are inactive whenever the line-art method is: with
// a libimgforge without its drop-out entry the mode is the scanner's own
// and "bw-mode" cannot be chosen.
TEST_F(OptionRulesTest, BinarizationSettingsFollowTheLineArtMethod) {
  Libraries libs;
  libs.dropout = false;
  ASSERT_EQ(Open(kSelko2, libs), SANE_STATUS_GOOD);
  EXPECT_FALSE(Active(OPTION_BW_MODE));
  for (int option : {OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD, OPTION_BW_SDTC_VARIANCE})
    EXPECT_FALSE(Active(option)) << option;
}

TEST_F(OptionRulesTest, FlatbedPaperAndSourceSetTheBedSize) {
  ASSERT_EQ(Open(kBrenna), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Legal"), SANE_STATUS_GOOD);
  ASSERT_EQ(Word(OPTION_BR_Y), Mm(355.6));
  ASSERT_EQ(SetText(OPTION_SOURCE, "Flatbed"), SANE_STATUS_GOOD);
  EXPECT_EQ(GetOptionDescriptor(OPTION_BR_Y)->constraint.range->max, KELO_LENGTH_297MM);
  EXPECT_EQ(GetOptionDescriptor(OPTION_BR_X)->constraint.range->max, KELO_LENGTH_216MM);
  EXPECT_EQ(Word(OPTION_BR_Y), KELO_LENGTH_297MM);  // no value left above its range

  // Flatbed: feeder options off and cleared; the paper cannot be chosen.
  for (int option :
       {OPTION_BLANK_PAGE_SKIP, OPTION_BLANK_PAGE_SKIP_SENSITIVITY, OPTION_DF_ACTION, OPTION_MF_OVERLAPPING,
        OPTION_PAPER_SIZE, OPTION_PAGE_WIDTH, OPTION_PAGE_HEIGHT, OPTION_PAGE_AUTO, OPTION_AUTOFEED})
    EXPECT_FALSE(Active(option)) << option;
  EXPECT_EQ(Word(OPTION_AUTOFEED), 0);
  EXPECT_EQ(Word(OPTION_PAGE_AUTO), 0);

  // A Brenna scanner that detects pages on its bed keeps page-auto.
  g_PropInfo.FLATBED_PAGE_DETECTION = 1;
  ASSERT_EQ(SetText(OPTION_SOURCE, "Flatbed"), SANE_STATUS_GOOD);
  EXPECT_TRUE(Active(OPTION_PAGE_AUTO));

  // Back on the feeder the Brenna family's feeder ranges return.
  ASSERT_EQ(SetText(OPTION_SOURCE, "Adf-front"), SANE_STATUS_GOOD);
  EXPECT_EQ(GetOptionDescriptor(OPTION_PAGE_WIDTH)->constraint.range->min, 0x71FFFF);
  EXPECT_EQ(GetOptionDescriptor(OPTION_PAGE_HEIGHT)->constraint.range->max, KELO_LENGTH_3175MM);
  EXPECT_TRUE(Active(OPTION_AUTOFEED));
}

TEST_F(OptionRulesTest, CustomPageHeightLimitsHeightAndResolution) {
  struct Case {
    int devType;
    bool merging;
    int resolution;
    double heightMm;
    SANE_Word storedHeight;
    SANE_Word resolutionMax;
  };
  const SANE_Word shortMax = KELO_LENGTH_355_6MM, longMax = KELO_LENGTH_863_6MM;
  const Case cases[] = {
      {kSelko, false, 600, 500, shortMax, 600},  {kBrenna, false, 600, 900, longMax, 600},
      {kBrenna, false, 600, 500, Mm(500), 600},  {kSelko2, false, 200, 1000, Mm(1000), 200},
      {kSelko2, false, 200, 500, Mm(500), 300},  {kBrenna, false, 150, 500, Mm(500), 600},
      {kSelko, false, 200, 300, Mm(300), 600},   {kSelko, false, 300, 500, Mm(500), 300},
      {kSelko2, false, 300, 1000, longMax, 300}, {kBrenna, false, 300, 1000, longMax, 600},
      {kSelko2, true, 600, 500, shortMax, 600},  {kSelko2, true, 300, 500, Mm(500), 300},
      {kSelko2, true, 300, 300, Mm(300), 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.devType) + " merging " + std::to_string(c.merging) + " " +
                 std::to_string(c.resolution) + " dpi " + std::to_string(c.heightMm) + " mm");
    ResetState();
    ASSERT_EQ(Open(c.devType), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Custom"), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(OPTION_RESOLUTION, c.resolution), SANE_STATUS_GOOD);
    if (c.merging) {
      ASSERT_EQ(SetWord(OPTION_FRONT_BACK_MERGING, 1), SANE_STATUS_GOOD);
    }
    ASSERT_EQ(SetWord(OPTION_PAGE_HEIGHT, Mm(c.heightMm)), SANE_STATUS_GOOD);
    EXPECT_EQ(Word(OPTION_PAGE_HEIGHT), c.storedHeight);
    EXPECT_EQ(g_tResolutionRange.max, c.resolutionMax);
    EXPECT_EQ(g_tBottomRightYRange.max, c.storedHeight);
    EXPECT_EQ(Word(OPTION_RESOLUTION), c.resolution);
  }
}

TEST_F(OptionRulesTest, CustomPaperOnTheFeederLimitsTheResolution) {
  struct Case {
    int devType;
    bool merging;
    double heightMm;
    SANE_Word resolutionMax;
  };
  const Case cases[] = {
      {kBrenna, false, 1000, 200}, {kBrenna, false, 800, 600}, {kSelko2, false, 1000, 200},
      {kSelko2, false, 500, 300},  {kSelko, false, 300, 600},  {kSelko2, true, 300, 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.devType) + " " + std::to_string(c.heightMm) + " mm");
    ResetState();
    ASSERT_EQ(Open(c.devType), SANE_STATUS_GOOD);
    if (c.merging) {
      ASSERT_EQ(SetWord(OPTION_FRONT_BACK_MERGING, 1), SANE_STATUS_GOOD);
    }
    g_OptSelected[OPTION_PAGE_HEIGHT] = Mm(c.heightMm);
    ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Custom"), SANE_STATUS_GOOD);
    EXPECT_EQ(g_tResolutionRange.max, c.resolutionMax);
    EXPECT_LE(Word(OPTION_RESOLUTION), c.resolutionMax);
    if (c.merging) {
      EXPECT_EQ(g_tPageHeightRange.max, KELO_LENGTH_863_6MM);
    }
  }
}

TEST_F(OptionRulesTest, FrontBackMergingForcesDuplexAndHardwareRotation) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_SOURCE, "Adf-front"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_ROTATION, "Auto"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_CROPPING, "Overscan"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_FRONT_BACK_MERGING, 1), SANE_STATUS_GOOD);
  EXPECT_EQ(Text(OPTION_SOURCE), "Adf-duplex");
  EXPECT_EQ(g_PropInfo.SCAN_FACE, 3);
  EXPECT_FALSE(Active(OPTION_SOURCE));
  EXPECT_FALSE(Active(OPTION_SPLIT_IMAGE));
  EXPECT_TRUE(Active(OPTION_BACK_SIDE_LOCATION));
  EXPECT_EQ(Text(OPTION_ROTATION), "0");
  EXPECT_EQ(Text(OPTION_CROPPING), "Old_specification");
  const SANE_Option_Descriptor* rotation = GetOptionDescriptor(OPTION_ROTATION);
  EXPECT_STREQ(rotation->constraint.string_list[3], "270");
  EXPECT_EQ(rotation->constraint.string_list[4], nullptr);
  EXPECT_EQ(rotation->size, 6);  // never smaller than a front end may have allocated
  EXPECT_EQ(SetText(OPTION_ROTATION, "Auto"), SANE_STATUS_INVAL);
  EXPECT_EQ(SetText(OPTION_SOURCE, "Adf-front"), SANE_STATUS_INVAL);  // inactive now
  EXPECT_EQ(g_tPageHeightRange.max, KELO_LENGTH_863_6MM);

  ASSERT_EQ(SetWord(OPTION_FRONT_BACK_MERGING, 0), SANE_STATUS_GOOD);
  EXPECT_EQ(g_tPageHeightRange.max, KELO_LENGTH_3175MM);
  EXPECT_FALSE(Active(OPTION_BACK_SIDE_LOCATION));
  EXPECT_TRUE(Active(OPTION_SOURCE));
}

TEST_F(OptionRulesTest, ModeDecidesTheBinarizationAndSharpnessOptions) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  struct Case {
    const char* mode;
    const char* bwMode;
    std::vector<int> active, inactive;
  };
  const Case cases[] = {
      {"Color",
       nullptr,
       {OPTION_CLEANUP_SHARPNESS_COLOR, OPTION_COLOR_CLEANUP},
       {OPTION_THRESHOLD, OPTION_BW_MODE, OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_SDTC_VARIANCE, OPTION_DROP_OUT}},
      {"Gray",
       nullptr,
       {OPTION_DROP_OUT, OPTION_COLOR_CLEANUP},
       {OPTION_THRESHOLD, OPTION_BW_MODE, OPTION_CLEANUP_SHARPNESS_COLOR}},
      {"Lineart",
       "iDTC",
       {OPTION_BW_MODE, OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD, OPTION_DROP_OUT},
       {OPTION_THRESHOLD, OPTION_BW_SDTC_VARIANCE, OPTION_TONE_ADJUSTMENT, OPTION_CLEANUP_SHARPNESS_COLOR,
        OPTION_COLOR_CLEANUP}},
      {"Lineart",
       "SDTC",
       {OPTION_BW_SDTC_VARIANCE, OPTION_TONE_ADJUSTMENT, OPTION_CLEANUP_SHARPNESS_COLOR},
       {OPTION_THRESHOLD, OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD}},
      {"Lineart",
       "Threshold",
       {OPTION_THRESHOLD},
       {OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD, OPTION_BW_SDTC_VARIANCE}},
      {"Lineart",
       "Error-diffusion",
       {OPTION_BW_MODE},
       {OPTION_THRESHOLD, OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_SDTC_VARIANCE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + (c.bwMode ? c.bwMode : ""));
    ASSERT_EQ(SetText(OPTION_MODE, c.mode), SANE_STATUS_GOOD);
    if (c.bwMode) {
      ASSERT_EQ(SetText(OPTION_BW_MODE, c.bwMode), SANE_STATUS_GOOD);
    }
    for (int o : c.active) EXPECT_TRUE(Active(o)) << o;
    for (int o : c.inactive) EXPECT_FALSE(Active(o)) << o;
  }

  // Line art offers edge processing, colour image emphasis.
  ASSERT_EQ(SetText(OPTION_BW_MODE, "SDTC"), SANE_STATUS_GOOD);
  EXPECT_EQ(SetText(OPTION_CLEANUP_SHARPNESS_COLOR, "Smoothing"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_PropInfo.CLEANUP_SHARPNESS, 160);
  // Another option's set keeps the choice; a mode change clears it.
  ASSERT_EQ(SetWord(OPTION_RESOLUTION, 300), SANE_STATUS_GOOD);
  EXPECT_EQ(Text(OPTION_CLEANUP_SHARPNESS_COLOR), "Smoothing");
  ASSERT_EQ(SetText(OPTION_MODE, "Color"), SANE_STATUS_GOOD);
  EXPECT_EQ(Text(OPTION_CLEANUP_SHARPNESS_COLOR), "None");
  EXPECT_EQ(SetText(OPTION_CLEANUP_SHARPNESS_COLOR, "Smoothing"), SANE_STATUS_INVAL);
  EXPECT_EQ(SetText(OPTION_CLEANUP_SHARPNESS_COLOR, "Descreen-level-2"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_PropInfo.CLEANUP_SHARPNESS, 160);
}

TEST_F(OptionRulesTest, SharpnessChoicesFollowTheBoundFilters) {
  struct Case {
    const char* name;
    Libraries libs;
    const char* mode;
    bool active;
    const char* lastChoice;  // the list's last text
  };
  const Case cases[] = {
      {"grey", {}, "Gray", false, "Emphasis-level-1"},
      {"no filter, colour", {true, false, true, true}, "Color", false, "Emphasis-level-1"},
      {"no filter, grey", {true, false, true, true}, "Gray", false, "Emphasis-level-1"},
      {"no filter, line art", {true, false, true, true}, "Lineart", true, "Emphasis-level-1"},
      {"colour only", {true, true, false, true}, "Color", true, "Descreen-level-4"},
      {"colour only, no filter", {true, false, false, true}, "Color", false, "Descreen-level-4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetState();
    ASSERT_EQ(Open(kSelko2, c.libs), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(OPTION_MODE, c.mode), SANE_STATUS_GOOD);
    if (!strcmp(c.mode, "Lineart")) {
      ASSERT_EQ(SetText(OPTION_BW_MODE, "SDTC"), SANE_STATUS_GOOD);
    }
    EXPECT_EQ(Active(OPTION_CLEANUP_SHARPNESS_COLOR), c.active);
    const SANE_String_Const* list = GetOptionDescriptor(OPTION_CLEANUP_SHARPNESS_COLOR)->constraint.string_list;
    int n = 0;
    while (list[n + 1]) ++n;
    EXPECT_STREQ(list[n], c.lastChoice);
    EXPECT_EQ(Text(OPTION_CLEANUP_SHARPNESS_COLOR), "None");
  }
}

TEST_F(OptionRulesTest, Selko2SwapsToneDefaultsWithLineArt) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_MODE, "Lineart"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptSelected[OPTION_SHADOW], 0);
  EXPECT_EQ(g_OptSelected[OPTION_HIGHLIGHT], 255);
  EXPECT_EQ(g_OptSelected[OPTION_GAMMA], 0x10000);
  ASSERT_EQ(SetText(OPTION_MODE, "Gray"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptSelected[OPTION_SHADOW], 10);
  EXPECT_EQ(g_OptSelected[OPTION_HIGHLIGHT], 230);
  EXPECT_EQ(g_OptSelected[OPTION_GAMMA], 0x19999);

  g_stDravnIni.iUseOldBWLutParam = 1;
  ASSERT_EQ(SetText(OPTION_MODE, "Lineart"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptSelected[OPTION_SHADOW], 10);

  // Other families keep their values.
  ResetState();
  ASSERT_EQ(Open(kSelko), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_MODE, "Lineart"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptSelected[OPTION_SHADOW], 10);
}

TEST_F(OptionRulesTest, BadValuesAreRefusedAndLeaveTheValue) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  LogCapture log;
  struct Case {
    const char* name;
    int option;
    std::function<SANE_Status()> set;
  };
  SANE_Word two = 2;
  char unterminated[64];
  memset(unterminated, 'A', sizeof unterminated);
  const Case cases[] = {
      {"text not offered", OPTION_SOURCE, [] { return SetText(OPTION_SOURCE, "ADF"); }},
      {"text past the size", OPTION_SOURCE, [&] { return SetControlOption(OPTION_SOURCE, unterminated, nullptr); }},
      {"bool out of range", OPTION_AUTOFEED, [&] { return SetControlOption(OPTION_AUTOFEED, &two, nullptr); }},
      {"inactive option", OPTION_THRESHOLD, [] { return SetWord(OPTION_THRESHOLD, 40); }},
      {"group", OPTION_ADVANCED_GROUP, [] { return SetWord(OPTION_ADVANCED_GROUP, 1); }},
      {"option count", OPTION_NUM_OPTS, [] { return SetWord(OPTION_NUM_OPTS, 3); }},
      {"null value", OPTION_RESOLUTION, [] { return SetControlOption(OPTION_RESOLUTION, nullptr, nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SANE_Word before[OPTION_TOTAL_NUM];
    memcpy(before, g_OptSelected, sizeof before);
    EXPECT_EQ(c.set(), SANE_STATUS_INVAL);
    EXPECT_EQ(memcmp(before, g_OptSelected, sizeof before), 0);
  }
  std::string text = log.Stop();
  EXPECT_NE(text.find(ErrorLine("SetControlOption", "can not set")), std::string::npos);
  EXPECT_NE(text.find(ErrorLine("SetControlOption", "CheckSetValue() != SANE_STATUS_GOOD")), std::string::npos);
  EXPECT_NE(text.find(ErrorLine("SetControlOption", "SANE_STATUS_INVAL")), std::string::npos);

  // The defaults file may still set an inactive option.
  SANE_Word threshold = 40;
  EXPECT_EQ(SetDefaultControlOption(OPTION_THRESHOLD, &threshold, nullptr), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptSelected[OPTION_THRESHOLD], 40);
}

TEST_F(OptionRulesTest, ScannerStatusOptionsOfTheSelko2Family) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  FakeSelko2 device;
  g_pSelko2Link = &device;
  char text[11];
  device.statusByte3 = 0xA0;
  ASSERT_EQ(GetControlOption(OPTION_GET_SC_STATUS, text), SANE_STATUS_GOOD);
  EXPECT_STREQ(text, "0xA0000000");
  device.errorValue = 0x00120304;
  ASSERT_EQ(GetControlOption(OPTION_GET_SC_ERROR, text), SANE_STATUS_GOOD);
  EXPECT_STREQ(text, "0x00120304");

  device.statusOk = device.errorOk = false;
  LogCapture log;
  EXPECT_EQ(GetControlOption(OPTION_GET_SC_STATUS, text), SANE_STATUS_IO_ERROR);
  EXPECT_EQ(GetControlOption(OPTION_GET_SC_ERROR, text), SANE_STATUS_INVAL);
  std::string logged = log.Stop();
  EXPECT_NE(logged.find(ErrorLine("GetControlOption",
                                  "g_pCSelko2ScanFunc->GetCurrentScannerStatus(szData, &dwLastError) != TRUE")),
            std::string::npos);
  EXPECT_NE(logged.find(ErrorLine("GetControlOption", "g_pCSelko2ScanFunc->ReadSCErrorInfo(szData) != TRUE")),
            std::string::npos);
}

TEST_F(OptionRulesTest, PropertyRecordKeepsSignedValuesSigned) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_TONE_ADJUSTMENT, "Custom"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_BRIGHTNESS, -100), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_CONTRAST, -127), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_COLOR_CLEANUP, "White"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_COLOR_CLEANUP_CLEANNESS, -5), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_MODE, "Lineart"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_BW_IDTC_SENSITIVITY, -50), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_BW_IDTC_BACKGROUND_THRESHOLD, -49), SANE_STATUS_GOOD);
  EXPECT_EQ(g_PropInfo.BRIGHTNESS, -100);
  EXPECT_EQ(g_PropInfo.CONTRAST, -127);
  EXPECT_EQ(g_PropInfo.COLOR_CLEANUP_CLEANNESS, -5);
  EXPECT_EQ(g_PropInfo.BW_IDTC_SENSITIVITY, -50);
  EXPECT_EQ(g_PropInfo.BW_IDTC_BACKGROUND_THRESHOLD, -49);
}

TEST_F(OptionRulesTest, PropertyRecordFromTheValues) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_SOURCE, "Adf-back"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_RESOLUTION, 300), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Custom"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_PAGE_WIDTH, 0xD80000), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_BR_X, 0xD80000), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_TL_X, 1387 * 100), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_BLANK_PAGE_SKIP, 1), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_BLANK_PAGE_SKIP_SENSITIVITY, 1), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_ROTATION, "Auto"), SANE_STATUS_GOOD);
  const KELO_PROP_INFO& p = g_PropInfo;
  EXPECT_EQ(p.SCAN_FACE, 2);
  EXPECT_EQ(p.SCAN_RES_X, 300);
  EXPECT_EQ(p.SCAN_RES_Y, 300);
  EXPECT_EQ(p.SCAN_MODE, 2);
  EXPECT_DOUBLE_EQ(p.TOP_LEFT_X, 100.0);
  EXPECT_DOUBLE_EQ(p.BOTTOM_RIGHT_X, 0xD80000 / 1387.0);
  EXPECT_DOUBLE_EQ(p.CUST_PAGE_WIDTH, 0xD80000 / 1387.0);
  EXPECT_EQ(p.PAPER_SIZE, 12);  // page-auto with the standard cropping
  EXPECT_EQ(p.GAMMA, 1600);
  EXPECT_EQ(p.BW_SDTC_VARIANCE, 96);
  EXPECT_EQ(p.BLANK_PAGE_SKIP, 1);
  EXPECT_EQ(p.BLANK_PAGE_SKIP_SENSITIVITY, -2);
  EXPECT_EQ(p.ROTATION, 4);  // the Selko2 family keeps the code
  EXPECT_EQ(p.DROPOUT_COLOR, 3);
  EXPECT_EQ(p.AUTOFEED, 1);

  ASSERT_EQ(SetWord(OPTION_PAGE_AUTO, 0), SANE_STATUS_GOOD);
  EXPECT_EQ(p.PAPER_SIZE, 0);
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "B5"), SANE_STATUS_GOOD);
  EXPECT_EQ(p.PAPER_SIZE, 4);

  // Other families keep degrees; they have no automatic rotation.
  ResetState();
  ASSERT_EQ(Open(kSelko), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_ROTATION, "270"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_PropInfo.ROTATION, 270);
  LogCapture log;
  ASSERT_EQ(SetText(OPTION_ROTATION, "Auto"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_PropInfo.ROTATION, 0);
  EXPECT_NE(log.Stop().find(ErrorLine("GetSelectedInfo", "Does not recognize rotation selection")), std::string::npos);
}

TEST_F(OptionRulesTest, FrameGeometryForOptionCombinations) {
  struct Case {
    const char* name;
    int devType;
    const char* mode;
    int resolution;
    const char* paper;
    const char* cropping;  // Selko2 only
    const char* rotation;
    SANE_Frame format;
    int pixels, lines, bytes, depth;
  };
  const Case cases[] = {
      // 216 mm is 10206 units: 5103 pixels at 600 dpi, 638 bytes of line art.
      {"line art letter", kSelko2, "Lineart", 600, "Letter", "Old_specification", "0", SANE_FRAME_GRAY, 5103, 6600, 638,
       1},
      {"grey A4", kSelko2, "Gray", 300, "A4", "Old_specification", "0", SANE_FRAME_GRAY, 2480, 3508, 2480, 8},
      {"colour A5", kSelko, "Color", 200, "A5", nullptr, "0", SANE_FRAME_RGB, 1165, 1653, 3495, 8},
      {"turned a quarter", kSelko, "Color", 200, "A5", nullptr, "90", SANE_FRAME_RGB, 1653, 1165, 4959, 8},
      // Overscan grows the custom page by 936 units, capped at 10368 wide.
      {"overscan custom", kSelko2, "Color", 600, "Custom", "Overscan", "0", SANE_FRAME_RGB, 5184, 8868, 15552, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetState();
    ASSERT_EQ(Open(c.devType), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(OPTION_SOURCE, "Adf-front"), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(OPTION_MODE, c.mode), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(OPTION_RESOLUTION, c.resolution), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(OPTION_PAPER_SIZE, c.paper), SANE_STATUS_GOOD);
    if (c.cropping) {
      ASSERT_EQ(SetText(OPTION_CROPPING, c.cropping), SANE_STATUS_GOOD);
    }
    ASSERT_EQ(SetText(OPTION_ROTATION, c.rotation), SANE_STATUS_GOOD);
    if (std::string(c.paper) == "Custom") {
      ASSERT_EQ(SetWord(OPTION_PAGE_WIDTH, KELO_LENGTH_216MM), SANE_STATUS_GOOD);
      ASSERT_EQ(SetWord(OPTION_PAGE_HEIGHT, KELO_LENGTH_355_6MM), SANE_STATUS_GOOD);
    }
    SANE_Parameters params;
    ASSERT_EQ(GetParameters(&params), SANE_STATUS_GOOD);
    EXPECT_EQ(params.format, c.format);
    EXPECT_EQ(params.last_frame, 1);
    EXPECT_EQ(params.pixels_per_line, c.pixels);
    EXPECT_EQ(params.lines, c.lines);
    EXPECT_EQ(params.bytes_per_line, c.bytes);
    EXPECT_EQ(params.depth, c.depth);
    EXPECT_EQ(memcmp(&g_ImgDataInfo[0], &g_ImgDataInfo[1], sizeof g_ImgDataInfo[0]), 0);
  }
}

TEST_F(OptionRulesTest, CrossedCornersGiveAnEmptyFrame) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "Custom"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_BR_X, Mm(30)), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_TL_X, Mm(100)), SANE_STATUS_GOOD);
  SANE_Parameters params;
  ASSERT_EQ(GetParameters(&params), SANE_STATUS_GOOD);
  EXPECT_EQ(params.pixels_per_line, 0);
  EXPECT_EQ(params.bytes_per_line, 0);
}

TEST_F(OptionRulesTest, SimpleScanAreaBeforeItSetsAPageSize) {
  struct Case {
    int devType;
    int resolution;
    SANE_Word length;
  };
  const Case cases[] = {
      {kSelko, 400, KELO_LENGTH_355_6MM},  {kSelko, 300, KELO_LENGTH_863_6MM}, {kSelko2, 600, KELO_LENGTH_355_6MM},
      {kSelko2, 250, KELO_LENGTH_863_6MM}, {kSelko2, 200, KELO_LENGTH_3175MM}, {kBrenna, 300, KELO_LENGTH_863_6MM},
      {kBrenna, 150, KELO_LENGTH_3175MM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.devType) + " " + std::to_string(c.resolution));
    ResetState(FrontEnd::SimpleScan);
    ASSERT_EQ(Open(c.devType), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(OPTION_RESOLUTION, c.resolution), SANE_STATUS_GOOD);
    EXPECT_DOUBLE_EQ(g_PropInfo.BOTTOM_RIGHT_X, KELO_LENGTH_216MM / 1387.0);
    EXPECT_DOUBLE_EQ(g_PropInfo.BOTTOM_RIGHT_Y, c.length / 1387.0);
    EXPECT_DOUBLE_EQ(g_PropInfo.CUST_PAGE_LENGTH, c.length / 1387.0);
  }
  // Once simple-scan has set a page size, the area is that page.
  ResetState(FrontEnd::SimpleScan);
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  g_bIsAutomatic = 0;
  ASSERT_EQ(SetText(OPTION_PAPER_SIZE, "A5"), SANE_STATUS_GOOD);
  EXPECT_DOUBLE_EQ(g_PropInfo.BOTTOM_RIGHT_Y, Mm(210) / 1387.0);
}

TEST_F(OptionRulesTest, ParametersOfTheFaceOrPartBeingServed) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  FakeSelko2 device;
  g_pSelko2Link = &device;
  SANE_Parameters params;
  EXPECT_EQ(GetParameters(nullptr), SANE_STATUS_INVAL);

  // Split duplex: the geometry goes to the device's halves, and each half
  // reports its own.
  ASSERT_EQ(SetWord(OPTION_SPLIT_IMAGE, 1), SANE_STATUS_GOOD);
  EXPECT_GT(device.writes, 0);
  EXPECT_TRUE(device.writtenSplit);
  EXPECT_EQ(device.written.iPixelsPerLine, g_ImgDataInfo[0].iPixelsPerLine);
  const struct {
    int doubleBack, frontUpper, backUpper;
    int lines;
  } halves[] = {{0, 1, 1, 1000 + SELKO2_FRONT_UPPER},
                {0, 0, 1, 1000 + SELKO2_FRONT_LOWER},
                {1, 1, 1, 1000 + SELKO2_BACK_UPPER},
                {1, 1, 0, 1000 + SELKO2_BACK_LOWER}};
  for (const auto& h : halves) {
    g_bIsReadDoubleBack = h.doubleBack;
    g_bIsReadFrontUpper = h.frontUpper;
    g_bIsReadBackUpper = h.backUpper;
    ASSERT_EQ(GetParameters(&params), SANE_STATUS_GOOD);
    EXPECT_EQ(params.lines, h.lines);
    EXPECT_EQ(params.format, SANE_FRAME_RGB);  // format and depth stay the frame's
    EXPECT_EQ(params.depth, 8);
  }

  // While a later half is served, a set keeps the served geometry.
  g_bIsReadDoubleBack = 0;
  g_bIsReadFrontUpper = 0;
  KELO_IMAGEDATA_PARAMETERS before = g_ImgDataInfo[0];
  ASSERT_EQ(SetText(OPTION_MODE, "Gray"), SANE_STATUS_GOOD);
  EXPECT_EQ(memcmp(&before, &g_ImgDataInfo[0], sizeof before), 0);
  g_bIsReadFrontUpper = 1;

  ASSERT_EQ(SetWord(OPTION_SPLIT_IMAGE, 0), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_FRONT_BACK_MERGING, 1), SANE_STATUS_GOOD);
  EXPECT_TRUE(device.writtenMerge);
  ASSERT_EQ(GetParameters(&params), SANE_STATUS_GOOD);
  EXPECT_EQ(params.lines, 1000 + SELKO2_MERGED);

  // A source code no face has is refused.
  g_PropInfo.SCAN_FACE = 5;
  EXPECT_EQ(GetParameters(&params), SANE_STATUS_INVAL);
}

// Colour cleanup and front/back merging are offered only while what they
// need is there: the smoothing unit loaded and ready (a unit without a ready
// flag counts as ready), MergeImage bound. Otherwise they are inactive and
// off, so a scan never meets a step that cannot run.
TEST_F(OptionRulesTest, StepsWhoseLibraryIsNotReadyAreInactiveAndOff) {
  unsigned char ready = 0;
  const struct Case {
    const char* name;
    bool smoothing, merge;
    unsigned char* flag;
    unsigned char flagValue;
    bool cleanupActive, mergeActive;
  } cases[] = {{"all there, no ready flag", true, true, nullptr, 0, true, true},
               {"smoothing unit not ready", true, true, &ready, 0, false, true},
               {"smoothing unit ready", true, true, &ready, 1, true, true},
               {"no smoothing entry", false, true, nullptr, 0, false, true},
               {"no MergeImage", true, false, nullptr, 0, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetState();
    Libraries libs;
    libs.smoothing = c.smoothing;
    libs.merge = c.merge;
    BindLibraries(libs);
    ready = c.flagValue;
    g_pToneflatInitialized = c.flag;
    const dravn::CatalogModel& m = ModelOf(kSelko2);
    ASSERT_EQ(CreateOptList(m.vendorId, m.productId, "/nonexistent/optdefault.xml"), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(OPTION_MODE, "Color"), SANE_STATUS_GOOD);
    EXPECT_EQ(Active(OPTION_COLOR_CLEANUP), c.cleanupActive);
    EXPECT_EQ(Active(OPTION_FRONT_BACK_MERGING), c.mergeActive);
    EXPECT_EQ(SetText(OPTION_COLOR_CLEANUP, "Automatic"), c.cleanupActive ? SANE_STATUS_GOOD : SANE_STATUS_INVAL);
    EXPECT_EQ(SetWord(OPTION_FRONT_BACK_MERGING, 1), c.mergeActive ? SANE_STATUS_GOOD : SANE_STATUS_INVAL);
    GetSelectedInfo();
    EXPECT_EQ(g_PropInfo.COLOR_CLEANUP, c.cleanupActive ? 1 : 0);
    EXPECT_EQ(g_PropInfo.FRONT_BACK_MERGING, c.mergeActive ? 1 : 0);
  }
  g_pToneflatInitialized = nullptr;
}

// "iDTC" line art needs the binarization unit: while the unit is not ready
// the method is not in the list, and a line-art default falls to "SDTC".
TEST_F(OptionRulesTest, IdtcIsOfferedOnlyWithAReadyBinarizationUnit) {
  for (bool ready : {true, false}) {
    SCOPED_TRACE(ready ? "unit ready" : "unit not ready");
    ResetState();
    Libraries libs;
    libs.binarization = ready;
    ASSERT_EQ(Open(kSelko2, libs), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(OPTION_MODE, "Lineart"), SANE_STATUS_GOOD);
    const SANE_String_Const* list = GetOptionDescriptor(OPTION_BW_MODE)->constraint.string_list;
    EXPECT_EQ(std::string(list[0]), ready ? "iDTC" : "SDTC");
    EXPECT_EQ(SetText(OPTION_BW_MODE, "iDTC"), ready ? SANE_STATUS_GOOD : SANE_STATUS_INVAL);
    GetSelectedInfo();
    EXPECT_EQ(g_PropInfo.BW_MODE, ready ? 0 : 1);
  }
}

// Tone presets, colour cleanup, split and merge are steps of the Selko2
// pipeline alone: the other families keep them off, even when a defaults
// file asks, and their fixed curve takes brightness and contrast as they are.
TEST_F(OptionRulesTest, FamiliesWithoutTheStepsKeepTheirOptionsOff) {
  for (int devType : {kSelko, kBrenna}) {
    SCOPED_TRACE(devType);
    ResetState();
    ASSERT_EQ(Open(devType), SANE_STATUS_GOOD);
    for (int option : {OPTION_TONE_ADJUSTMENT, OPTION_SHADOW, OPTION_HIGHLIGHT, OPTION_GAMMA, OPTION_COLOR_CLEANUP,
                       OPTION_COLOR_CLEANUP_CLEANNESS, OPTION_FRONT_BACK_MERGING, OPTION_BACK_SIDE_LOCATION,
                       OPTION_SPLIT_IMAGE})
      EXPECT_FALSE(Active(option)) << option;
    for (int option : {OPTION_BRIGHTNESS, OPTION_CONTRAST}) EXPECT_TRUE(Active(option)) << option;

    const SANE_Word heightMax = GetOptionDescriptor(OPTION_PAGE_HEIGHT)->constraint.range->max;
    const SANE_Word resolutionMax = GetOptionDescriptor(OPTION_RESOLUTION)->constraint.range->max;
    SANE_Word on = 1;
    for (int option : {OPTION_FRONT_BACK_MERGING, OPTION_SPLIT_IMAGE}) {
      EXPECT_EQ(SetDefaultControlOption(option, &on, nullptr), SANE_STATUS_GOOD);
      EXPECT_EQ(Word(option), 0) << option;
    }
    char white[] = "White";
    EXPECT_EQ(SetDefaultControlOption(OPTION_COLOR_CLEANUP, white, nullptr), SANE_STATUS_GOOD);
    EXPECT_EQ(g_PropInfo.FRONT_BACK_MERGING | g_PropInfo.SPLIT_IMAGE | g_PropInfo.COLOR_CLEANUP, 0);
    EXPECT_EQ(GetOptionDescriptor(OPTION_PAGE_HEIGHT)->constraint.range->max, heightMax);
    EXPECT_EQ(GetOptionDescriptor(OPTION_RESOLUTION)->constraint.range->max, resolutionMax);
    EXPECT_TRUE(Active(OPTION_SOURCE));

    EXPECT_EQ(SetWord(OPTION_BRIGHTNESS, 40), SANE_STATUS_GOOD);
    EXPECT_EQ(g_PropInfo.BRIGHTNESS, 40);
  }
}

// Overlap detection is the scanners' one way to find a multifeed: Stop
// switches it on, and a later choice to switch it off holds.
TEST_F(OptionRulesTest, StopSwitchesOverlapDetectionOn) {
  ASSERT_EQ(Open(kSelko), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_DF_ACTION, "Stop"), SANE_STATUS_GOOD);
  EXPECT_TRUE(Active(OPTION_MF_OVERLAPPING));
  EXPECT_EQ(g_PropInfo.DF_ACTION, 1);
  EXPECT_EQ(g_PropInfo.MF_OVERLAPPING, 1);
  ASSERT_EQ(SetWord(OPTION_MF_OVERLAPPING, 0), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_DF_ACTION, "Stop"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_PropInfo.MF_OVERLAPPING, 0);
}
