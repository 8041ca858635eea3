// The main backend's 56 options and the rules that tie them together.
#include <gtest/gtest.h>
#include <sane/sane.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "main_globals.h"
#include "main_options.h"
#include "model_catalog.h"
#include "scripted_device.h"
#include "test_support.h"

using namespace dravnmain;

namespace {

constexpr SANE_Int S = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int A = S | SANE_CAP_ADVANCED;
constexpr SANE_Int I = SANE_CAP_INACTIVE;
constexpr SANE_Word MM(double mm) { return static_cast<SANE_Word>(mm * 65536.0); }
int BpdStub(_P2IIMG*, int*, void*, void*) { return 0; }

const dravn::CatalogModel& Docuvane(int i) { return dravn::kDocuvaneModels[i]; }

// libimgforge bound (software image processing) or not; its blank-page
// judge; the JPEG library.
struct Libraries {
  bool imgforge = true;
  bool blankJudge = true;
  bool jpeg = true;
};

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(0); }
  void TearDown() override {
    velmorak.store(nullptr);
    g_hLibKeloImage = nullptr;
    g_BPDFunction = nullptr;
  }

  void Open(int row, Libraries libs = Libraries{}) {
    velmorak.store(&m_dev);
    g_hLibKeloImage = libs.imgforge ? reinterpret_cast<void*>(&m_dev) : nullptr;
    g_BPDFunction = libs.blankJudge ? BpdStub : nullptr;
    g_bLibjpeg = libs.jpeg;
    g_PropInfo = SCAN_PROP_INFO{};  // the hardware flag is set once per process
    g_bIsReadDoubleBack = false;
    g_iTopLeftXReload = g_iTopLeftYReload = g_iBottomRightXReload = g_iBottomRightYReload = 1;
    g_iPageWidthReload = g_iPageHeightReload = 1;
    g_tTopLeftXRange.max = g_tBottomRightXRange.max = g_tPageWidthRange.max = MM(216);
    ASSERT_EQ(CreateOptList(Docuvane(row).vendorId, Docuvane(row).productId), SANE_STATUS_GOOD);
  }

  int Find(const char* name) {
    for (int i = 1; i < OPTION_TOTAL_NUM; ++i)
      if (strcmp(g_OptList[i].name, name) == 0) return i;
    ADD_FAILURE() << "no option " << name;
    return 0;
  }
  SANE_Status Set(const char* name, const std::string& text, SANE_Int* info = nullptr) {
    int o = Find(name);
    std::vector<char> value(static_cast<size_t>(g_OptList[o].size) + text.size() + 1, '\0');
    memcpy(value.data(), text.c_str(), text.size());
    return SetControlOption(o, value.data(), info);
  }
  SANE_Status Set(const char* name, SANE_Word word, SANE_Int* info = nullptr) {
    return SetControlOption(Find(name), &word, info);
  }
  std::string Text(const char* name) {
    char value[64] = {};
    EXPECT_EQ(GetControlOption(Find(name), value), SANE_STATUS_GOOD) << name;
    return value;
  }
  SANE_Word Word(const char* name) {
    SANE_Word value = 0;
    EXPECT_EQ(GetControlOption(Find(name), &value), SANE_STATUS_GOOD) << name;
    return value;
  }
  bool Active(const char* name) { return !(g_OptList[Find(name)].cap & SANE_CAP_INACTIVE); }
  std::vector<std::string> List(const char* name) {
    std::vector<std::string> out;
    for (const SANE_String_Const* s = g_OptList[Find(name)].constraint.string_list; *s; ++s) out.push_back(*s);
    return out;
  }

  dravn_test::ScriptedDevice m_dev;
};

struct OptionRow {
  int number;
  const char* name;
  const char* title;
  SANE_Value_Type type;
  SANE_Unit unit;
  SANE_Int size;
  SANE_Int cap;  // after the rules, for the first Docuvane model with every library
  SANE_Constraint_Type constraint;
  const char* defaultText;  // string options
  SANE_Word defaultWord;    // the others
};

// clang-format off
const OptionRow kOptions[] = {
  {1, "standard", "Standard", SANE_TYPE_GROUP, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {2, "source", "Scan source", SANE_TYPE_STRING, SANE_UNIT_NONE, 12, S, SANE_CONSTRAINT_STRING_LIST, "ADF Front", 0},
  {3, "mode", "Scan mode", SANE_TYPE_STRING, SANE_UNIT_NONE, 10, S, SANE_CONSTRAINT_STRING_LIST, "Lineart", 0},
  {4, "resolution", "Scan resolution", SANE_TYPE_INT, SANE_UNIT_DPI, 4, S, SANE_CONSTRAINT_RANGE, nullptr, 300},
  {5, "standard", "Standard", SANE_TYPE_GROUP, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  // The default A4 on the feeder decides the window: the geometry waits
  // for a Custom paper size.
  {6, "tl-x", "Top-left x", SANE_TYPE_FIXED, SANE_UNIT_MM, 4, S | I, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {7, "tl-y", "Top-left y", SANE_TYPE_FIXED, SANE_UNIT_MM, 4, S | I, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {8, "br-x", "Bottom-right x", SANE_TYPE_FIXED, SANE_UNIT_MM, 4, S | I, SANE_CONSTRAINT_RANGE, nullptr, MM(210)},
  {9, "br-y", "Bottom-right y", SANE_TYPE_FIXED, SANE_UNIT_MM, 4, S | I, SANE_CONSTRAINT_RANGE, nullptr, MM(297)},
  {10, "page-width", "Page width", SANE_TYPE_FIXED, SANE_UNIT_MM, 4, S | I, SANE_CONSTRAINT_RANGE, nullptr, MM(210)},
  {11, "page-height", "Page height", SANE_TYPE_FIXED, SANE_UNIT_MM, 4, S | I, SANE_CONSTRAINT_RANGE, nullptr, MM(297)},
  {12, "paper-size", "Paper size", SANE_TYPE_STRING, SANE_UNIT_NONE, 15, S, SANE_CONSTRAINT_STRING_LIST, "A4", 0},
  {13, "page-auto", "Page auto", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, S, SANE_CONSTRAINT_NONE, nullptr, 0},
  {14, "page-auto-priority", "Page auto priority", SANE_TYPE_STRING, SANE_UNIT_NONE, 10, I, SANE_CONSTRAINT_STRING_LIST, "Accuracy", 0},
  {15, "image-index-tab", "Image index tab", SANE_TYPE_STRING, SANE_UNIT_NONE, 5, I, SANE_CONSTRAINT_STRING_LIST, "Off", 0},
  {16, "cropping-margin", "Cropping margin", SANE_TYPE_INT, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {17, "enhancement", "Enhancement", SANE_TYPE_GROUP, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {18, "brightness", "Brightness", SANE_TYPE_INT, SANE_UNIT_NONE, 4, S, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {19, "contrast", "Contrast", SANE_TYPE_INT, SANE_UNIT_NONE, 4, S, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {20, "threshold", "Threshold", SANE_TYPE_INT, SANE_UNIT_NONE, 4, S, SANE_CONSTRAINT_RANGE, nullptr, 128},
  {21, "ht-type", "Halftone type", SANE_TYPE_STRING, SANE_UNIT_NONE, 11, S | I, SANE_CONSTRAINT_STRING_LIST, "Dither", 0},
  {22, "ht-pattern", "Halftone pattern", SANE_TYPE_INT, SANE_UNIT_NONE, 4, S | I, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {23, "bw-sdtc", "SDTC mode", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, S, SANE_CONSTRAINT_NONE, nullptr, 0},
  {24, "bw-sdtc-variance", "DTC Variance", SANE_TYPE_STRING, SANE_UNIT_NONE, 6, S | I, SANE_CONSTRAINT_STRING_LIST, "Mid", 0},
  {25, "jpeg", "JPEG transfer", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, S, SANE_CONSTRAINT_NONE, nullptr, 0},
  {26, "jpeg-type", "Jpeg type", SANE_TYPE_STRING, SANE_UNIT_NONE, 5, S | I, SANE_CONSTRAINT_STRING_LIST, "444", 0},
  {27, "jpeg-quality", "Jpeg quality", SANE_TYPE_STRING, SANE_UNIT_NONE, 3, S | I, SANE_CONSTRAINT_STRING_LIST, "4", 0},
  {28, "inactive", "", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {29, "autofeed", "Autofeed", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, S, SANE_CONSTRAINT_NONE, nullptr, 0},
  {30, "total-scanpage-count", "Total scan page count", SANE_TYPE_INT, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 101},
  {31, "total-pickroller-count", "Total pick roller count", SANE_TYPE_INT, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 102},
  {32, "total-padassy-count", "Total pad assy count", SANE_TYPE_INT, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 103},
  {33, "total-flatbed-count", "Total flatbed count", SANE_TYPE_INT, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, -1},
  {34, "USB-COMMAND", "USB Command", SANE_TYPE_INT, SANE_UNIT_NONE, 256, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {35, "USB-WRITE", "USB WRITE", SANE_TYPE_INT, SANE_UNIT_NONE, 256, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {36, "advanced", "Advanced", SANE_TYPE_GROUP, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {37, "df-action", "DF action", SANE_TYPE_STRING, SANE_UNIT_NONE, 10, A, SANE_CONSTRAINT_STRING_LIST, "Continue", 0},
  {38, "df-thickness", "DF thickness", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, A | I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {39, "df-length", "DF length", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, A | I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {40, "inactive", "", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, -1},
  {41, "dropoutcolor", "Dropout color", SANE_TYPE_STRING, SANE_UNIT_NONE, 18, A, SANE_CONSTRAINT_STRING_LIST, "White", 0},
  {42, "power-off", "Power off", SANE_TYPE_STRING, SANE_UNIT_NONE, 9, I, SANE_CONSTRAINT_STRING_LIST, "4 hours", 0},
  {43, "paper-protection", "Paper protection", SANE_TYPE_STRING, SANE_UNIT_NONE, 18, I, SANE_CONSTRAINT_STRING_LIST, "Off", 0},
  {44, "prepick", "Prepick", SANE_TYPE_STRING, SANE_UNIT_NONE, 5, A, SANE_CONSTRAINT_STRING_LIST, "On", 0},
  {45, "sleeptimer", "Sleep timer", SANE_TYPE_INT, SANE_UNIT_NONE, 4, A, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {46, "edge-processing", "Edge processing", SANE_TYPE_STRING, SANE_UNIT_NONE, 15, A, SANE_CONSTRAINT_STRING_LIST, "None", 0},
  {47, "image-emphasis", "Image emphasis", SANE_TYPE_STRING, SANE_UNIT_NONE, 18, A | I, SANE_CONSTRAINT_STRING_LIST, "None", 0},
  {48, "rif", "RIF", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, A, SANE_CONSTRAINT_NONE, nullptr, 0},
  {49, "inactive", "", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 0},
  {50, "hole-punch-removal", "Hole punch removal", SANE_TYPE_STRING, SANE_UNIT_NONE, 18, I, SANE_CONSTRAINT_STRING_LIST, "Do not remove", 0},
  {51, "blank-page-skip", "Blank page skip", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, A, SANE_CONSTRAINT_NONE, nullptr, 0},
  {52, "blank-page-skip-sensitivity", "Blank page skip sensitivity", SANE_TYPE_INT, SANE_UNIT_NONE, 4, A | I, SANE_CONSTRAINT_RANGE, nullptr, 3},
  {53, "blank-page-skip-black-dots-ratio", "Blank page skip black dots ratio", SANE_TYPE_INT, SANE_UNIT_NONE, 4, A | I, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {54, "blank-page-skip-white-dots-ratio", "Blank page skip white dots ratio", SANE_TYPE_INT, SANE_UNIT_NONE, 4, A | I, SANE_CONSTRAINT_RANGE, nullptr, 0},
  {55, "srgb", "sRGB", SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, I, SANE_CONSTRAINT_NONE, nullptr, 0},
};
// clang-format on

TEST_F(OptionsTest, FiftySixOptionsAsTabled) {
  const SANE_Option_Descriptor* zero = GetOptionDescriptor(0);
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(zero->type, SANE_TYPE_INT);  // what front ends read the option count from
  SANE_Word count = 0;
  ASSERT_EQ(GetControlOption(0, &count), SANE_STATUS_GOOD);
  EXPECT_EQ(count, 56);
  EXPECT_EQ(GetOptionDescriptor(56), nullptr);
  EXPECT_EQ(GetOptionDescriptor(-1), nullptr);
  ASSERT_EQ(std::size(kOptions), 55u);
  for (const OptionRow& r : kOptions) {
    SCOPED_TRACE(r.number);
    const SANE_Option_Descriptor* d = GetOptionDescriptor(r.number);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, r.name);
    EXPECT_STREQ(d->title, r.title);
    EXPECT_EQ(d->type, r.type);
    EXPECT_EQ(d->unit, r.unit);
    EXPECT_EQ(d->size, r.size);
    EXPECT_EQ(d->cap, r.cap);
    EXPECT_EQ(d->constraint_type, r.constraint);
    if (r.type == SANE_TYPE_GROUP || r.number == 34 || r.number == 35) continue;
    if (r.defaultText) {
      std::vector<char> value(static_cast<size_t>(d->size), 'x');
      ASSERT_EQ(GetControlOption(r.number, value.data()), SANE_STATUS_GOOD);
      EXPECT_STREQ(value.data(), r.defaultText);
    } else {
      SANE_Word word = 12345;
      ASSERT_EQ(GetControlOption(r.number, &word), SANE_STATUS_GOOD);
      EXPECT_EQ(word, r.defaultWord);
    }
  }
  EXPECT_STREQ(g_OptList[OPTION_SOURCE].desc, "Selects the scan source (such as a document-feeder).");
  EXPECT_STREQ(g_OptList[OPTION_PAGE_WIDTH].desc,
               "Specifies the width of the media.  Required for automatic centering of sheet-fed scans.");
  EXPECT_STREQ(g_OptList[OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO].desc,
               "The larger the value is set, the more likely for the pages to be detected as blank.");
}

TEST_F(OptionsTest, ListsAndRangesOfTheOptions) {
  EXPECT_EQ(List("source"), (std::vector<std::string>{"ADF Front", "ADF Back", "ADF Duplex"}));
  EXPECT_EQ(List("paper-size"), (std::vector<std::string>{"Custom", "A4", "A5", "A6", "B5", "B6", "Postcard",
                                                          "Business card", "Letter", "Legal"}));
  EXPECT_EQ(List("image-emphasis").size(), 8u);
  EXPECT_EQ(List("edge-processing"),
            (std::vector<std::string>{"None", "Smoothing", "Emphasis high", "Emphasis mid", "Emphasis low"}));
  const SANE_Range* r = g_OptList[Find("br-x")].constraint.range;
  EXPECT_EQ(r->min, MM(26) - 1);
  EXPECT_EQ(r->max, MM(216));
  EXPECT_EQ(r->quant, 1387);
  EXPECT_EQ(g_OptList[Find("page-height")].constraint.range->max, MM(3175));  // no flatbed
  EXPECT_EQ(g_OptList[Find("tl-y")].constraint.range->max, MM(3175));
  EXPECT_EQ(g_OptList[Find("resolution")].constraint.range->min, 50);
  EXPECT_EQ(g_OptList[Find("cropping-margin")].constraint.range->min, -5);
  EXPECT_EQ(g_OptList[Find("sleeptimer")].constraint.range->max, 60);
  Open(2);
  EXPECT_EQ(List("source"), (std::vector<std::string>{"Flatbed", "ADF Front", "ADF Back", "ADF Duplex"}));
  EXPECT_EQ(Text("source"), "Flatbed");
  EXPECT_EQ(g_OptList[Find("page-height")].constraint.range->max, MM(297));
  EXPECT_EQ(Word("total-flatbed-count"), 104);
}

TEST_F(OptionsTest, UnknownDeviceIsRefused) {
  EXPECT_EQ(CreateOptList(0x1234, 0x5678), SANE_STATUS_UNSUPPORTED);
  EXPECT_EQ(GetDevCtlByDevInfo(dravn::kSelkoModels[0].vendorId, dravn::kSelkoModels[0].productId)->iDevType, 25);
  EXPECT_EQ(GetDevCtlByDevInfo(dravn::kBrennaModels[0].vendorId, dravn::kBrennaModels[0].productId)->iDevType, 46);
  EXPECT_EQ(GetDevCtlByDevInfo(dravn::kSelko2Models[2].vendorId, dravn::kSelko2Models[2].productId)->iDevType, 30);
}

TEST_F(OptionsTest, GeometryOptionsReportReloadFromTheirSecondSetOn) {
  ASSERT_EQ(Set("paper-size", "Custom"), SANE_STATUS_GOOD);
  for (const char* name : {"tl-x", "tl-y", "br-x", "br-y", "page-width", "page-height"}) {
    SCOPED_TRACE(name);
    SANE_Int info = -1;
    ASSERT_EQ(Set(name, MM(100), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, 0);  // a front end's uninitialised word is cleared too
    ASSERT_EQ(Set(name, MM(100), &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
  }
}

TEST_F(OptionsTest, PaperSizeOnTheFeederPinsTheWindow) {
  SANE_Int info = 0;
  Set("br-x", MM(100));  // the first set only refreshes
  ASSERT_EQ(Set("br-x", MM(100), &info), SANE_STATUS_GOOD);
  EXPECT_EQ(Word("br-x"), MM(210));
  EXPECT_EQ(info, SANE_INFO_INEXACT | SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
  struct Case {
    const char* paper;
    SANE_Word width, height;
  } cases[] = {
      {"Letter", MM(216), 18310758},  // 279.4 mm to the nearest unit
      {"Legal", MM(216), 23304602},   // 355.6 mm, rounded up
      {"Business card", MM(90), MM(55)},
      {"a5", MM(148), MM(210)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.paper);
    ASSERT_EQ(Set("paper-size", c.paper, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    EXPECT_EQ(Word("page-width"), c.width);
    EXPECT_EQ(Word("page-height"), c.height);
    EXPECT_EQ(Word("br-x"), c.width);
    EXPECT_EQ(Word("br-y"), c.height);
    EXPECT_EQ(Word("tl-x"), 0);
    EXPECT_EQ(g_OptList[Find("br-x")].constraint.range->max, c.width);
    EXPECT_EQ(g_OptList[Find("tl-y")].constraint.range->max, c.height);
  }
  EXPECT_EQ(Set("paper-size", "A3"), SANE_STATUS_INVAL);
  // While the paper pins the window the geometry is shown inactive, so that
  // a front end says so instead of scanning the whole page.
  const char* const geometry[] = {"tl-x", "tl-y", "br-x", "br-y", "page-width", "page-height"};
  for (const char* name : geometry) EXPECT_FALSE(Active(name)) << name;
  ASSERT_EQ(Set("paper-size", "Custom"), SANE_STATUS_GOOD);
  for (const char* name : geometry) EXPECT_TRUE(Active(name)) << name;
}

TEST_F(OptionsTest, CustomPageWidthLowersTheWindow) {
  ASSERT_EQ(Set("paper-size", "Custom"), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("page-width", MM(100)), SANE_STATUS_GOOD);
  EXPECT_EQ(Word("page-width"), MM(100));
  EXPECT_EQ(Word("br-x"), MM(100));
  EXPECT_EQ(g_OptList[Find("tl-x")].constraint.range->max, MM(100));
  ASSERT_EQ(Set("page-height", MM(3000)), SANE_STATUS_GOOD);
  EXPECT_EQ(Word("page-height"), MM(3000));
  EXPECT_EQ(g_OptList[Find("br-y")].constraint.range->max, MM(3000));
  // Clamped to the range, reported inexact.
  SANE_Int info = 0;
  ASSERT_EQ(Set("page-height", MM(4000), &info), SANE_STATUS_GOOD);
  EXPECT_EQ(Word("page-height"), MM(3175));
  EXPECT_TRUE(info & SANE_INFO_INEXACT);
}

TEST_F(OptionsTest, SourceMovesTheAreaMaxima) {
  Open(2);  // the model with a flatbed
  SANE_Int info = 0;
  ASSERT_EQ(Set("source", "adf front", &info), SANE_STATUS_GOOD);  // case does not matter
  EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
  EXPECT_EQ(g_OptList[Find("page-height")].constraint.range->max, MM(3175));
  EXPECT_EQ(g_OptList[Find("br-y")].constraint.range->max, MM(297));  // the page height
  ASSERT_EQ(Set("source", "Flatbed"), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptList[Find("br-x")].constraint.range->max, MM(216));
  EXPECT_EQ(g_OptList[Find("br-y")].constraint.range->max, MM(297));
  EXPECT_EQ(Set("source", "ADF"), SANE_STATUS_INVAL);
  EXPECT_EQ(Text("source"), "Flatbed");
}

TEST_F(OptionsTest, FlatbedWithdrawsFeederOptions) {
  Open(2);
  for (const char* name :
       {"paper-size", "page-width", "page-height", "autofeed", "df-action", "prepick", "blank-page-skip", "page-auto"})
    EXPECT_FALSE(Active(name)) << name;
  EXPECT_EQ(Word("autofeed"), 0);
  ASSERT_EQ(Set("source", "ADF Duplex"), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("autofeed", 1), SANE_STATUS_GOOD);
  for (const char* name : {"paper-size", "autofeed", "df-action", "prepick", "blank-page-skip", "page-auto"})
    EXPECT_TRUE(Active(name)) << name;
  GetSelectedInfo();
  EXPECT_EQ(g_PropInfo.AUTOFEED, 1);
  // Back to the flatbed: a start does not scan ahead with a stale autofeed.
  ASSERT_EQ(Set("source", "Flatbed"), SANE_STATUS_GOOD);
  GetSelectedInfo();
  EXPECT_EQ(g_PropInfo.AUTOFEED, 0);
  EXPECT_EQ(g_PropInfo.PAPER_SIZE, 0);
}

// Which options each mode leaves active, with software image processing.
TEST_F(OptionsTest, ModeRules) {
  struct Case {
    const char* mode;
    std::vector<const char*> settings;  // name=value pairs set first
    std::vector<const char*> active, inactive;
  } cases[] = {
      {"Color",
       {},
       {"image-emphasis", "jpeg"},
       {"dropoutcolor", "ht-type", "ht-pattern", "threshold", "edge-processing", "bw-sdtc", "bw-sdtc-variance"}},
      {"Gray", {}, {"dropoutcolor", "jpeg"}, {"image-emphasis", "ht-type", "threshold", "edge-processing"}},
      {"Halftone", {}, {"ht-type", "ht-pattern", "dropoutcolor"}, {"image-emphasis", "threshold", "bw-sdtc"}},
      {"Halftone", {"ht-type=Diffution"}, {"ht-type"}, {"ht-pattern"}},
      {"Lineart", {}, {"threshold", "bw-sdtc", "edge-processing"}, {"bw-sdtc-variance", "ht-type", "image-emphasis"}},
      {"Lineart", {"bw-sdtc=1"}, {"bw-sdtc-variance"}, {"threshold"}},
      {"Color", {"jpeg=1", "df-action=Stop"}, {"jpeg-type", "jpeg-quality", "df-thickness", "df-length"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Open(0);
    for (const char* s : c.settings) {
      std::string setting = s;
      std::string name = setting.substr(0, setting.find('='));
      std::string value = setting.substr(setting.find('=') + 1);
      if (g_OptList[Find(name.c_str())].type == SANE_TYPE_STRING) {
        ASSERT_EQ(Set(name.c_str(), value), SANE_STATUS_GOOD) << s;
      } else {
        ASSERT_EQ(Set(name.c_str(), std::atoi(value.c_str())), SANE_STATUS_GOOD) << s;
      }
    }
    ASSERT_EQ(Set("mode", c.mode), SANE_STATUS_GOOD);
    for (const char* name : c.active) EXPECT_TRUE(Active(name)) << name;
    for (const char* name : c.inactive) EXPECT_FALSE(Active(name)) << name;
  }
}

TEST_F(OptionsTest, HardwareProcessingWithoutImageLibrary) {
  Open(0, Libraries{false, false, true});
  EXPECT_EQ(g_PropInfo.HARDWARE_PROC, 1);
  EXPECT_EQ(List("dropoutcolor"), (std::vector<std::string>{"Hardware-Setting", "Red", "Green", "Blue", "None"}));
  EXPECT_EQ(Text("dropoutcolor"), "Hardware-Setting");  // White became the device's own choice
  for (const char* name : {"page-auto", "blank-page-skip", "hole-punch-removal", "jpeg"})
    EXPECT_FALSE(Active(name)) << name;
  ASSERT_EQ(Set("threshold", 0), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("jpeg", 1), SANE_STATUS_GOOD);  // settable, but line art comes uncompressed here
  GetSelectedInfo();
  EXPECT_EQ(g_PropInfo.THRESHOLD, 1);
  EXPECT_EQ(g_PropInfo.JPEG_TRANSFER, 0);
  // Line art from the device: whole bytes per line.
  ASSERT_EQ(Set("resolution", 75), SANE_STATUS_GOOD);
  SANE_Parameters params;
  ASSERT_EQ(GetParameters(&params), SANE_STATUS_GOOD);
  EXPECT_EQ(params.pixels_per_line % 8, 0);
  EXPECT_EQ(params.bytes_per_line, params.pixels_per_line / 8);
  EXPECT_EQ(params.depth, 1);
  EXPECT_EQ(params.last_frame, SANE_TRUE);  // one frame, as in every other mode
}

TEST_F(OptionsTest, WithoutJpegLibraryNoJpegTransfer) {
  Open(0, Libraries{true, true, false});
  ASSERT_EQ(Set("mode", "Color"), SANE_STATUS_GOOD);
  for (const char* name : {"jpeg", "jpeg-type", "jpeg-quality"}) EXPECT_FALSE(Active(name)) << name;
  EXPECT_EQ(Set("jpeg", 1), SANE_STATUS_INVAL);
  EXPECT_EQ(g_PropInfo.JPEG_TRANSFER, 0);
}

TEST_F(OptionsTest, BlankPageOptionsFollowTheJudgeAndTheMode) {
  ASSERT_EQ(Set("blank-page-skip", 1), SANE_STATUS_GOOD);
  EXPECT_TRUE(Active("blank-page-skip-black-dots-ratio"));
  EXPECT_FALSE(Active("blank-page-skip-sensitivity"));
  ASSERT_EQ(Set("mode", "Gray"), SANE_STATUS_GOOD);
  EXPECT_TRUE(Active("blank-page-skip-sensitivity"));
  EXPECT_FALSE(Active("blank-page-skip-white-dots-ratio"));
  ASSERT_EQ(Set("blank-page-skip-sensitivity", 5), SANE_STATUS_GOOD);
  GetSelectedInfo();
  EXPECT_EQ(g_PropInfo.BLANK_PAGE_SKIP, 1);
  EXPECT_EQ(g_PropInfo.BLANK_PAGE_SENSITIVITY, 2);
  Open(0, Libraries{true, false, true});
  for (const char* name : {"blank-page-skip", "blank-page-skip-sensitivity", "blank-page-skip-black-dots-ratio"})
    EXPECT_FALSE(Active(name)) << name;
  EXPECT_EQ(Set("blank-page-skip", 1), SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, ScanPropertyRecord) {
  ASSERT_EQ(Set("mode", "Color"), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("source", "ADF Duplex"), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("brightness", -20), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("rif", 1), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("edge-processing", "Smoothing"), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("image-emphasis", "DeScreen Level 2"), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("page-auto", 1), SANE_STATUS_GOOD);
  GetSelectedInfo();
  const SCAN_PROP_INFO& p = g_PropInfo;
  EXPECT_EQ(p.SCAN_SOURCE, 3);
  EXPECT_EQ(p.IMAGE_MODE, 3);
  EXPECT_EQ(p.SCAN_RES_X, 300);
  EXPECT_EQ(p.SCAN_RES_Y, 300);
  EXPECT_EQ(p.PAPER_SIZE, 10);
  EXPECT_DOUBLE_EQ(p.RIGHT, MM(210) / 1387.0);
  EXPECT_DOUBLE_EQ(p.CUST_PAGE_LENGTH, MM(297) / 1387.0);
  EXPECT_EQ(p.BRIGHTNESS, -20);
  EXPECT_EQ(p.RIF, 1);
  EXPECT_EQ(p.EDGE_PROCESSING, 160);
  EXPECT_EQ(p.IMAGE_EMPHASIS, 160);
  EXPECT_EQ(p.POWER_OFF_TIME, 240);  // "4 hours"
  EXPECT_EQ(p.SDTC_VARIANCE, 96);
  EXPECT_EQ(p.JPEG_TYPE, 129);
  EXPECT_EQ(p.JPEG_QUALITY, 4);
  EXPECT_EQ(p.BG_COLOR, 0xFF);  // no background list: neither White nor Black
  EXPECT_EQ(p.HOLE_PUNCH_REMOVE, 0);
  EXPECT_EQ(p.HARDWARE_PROC, 0);
  EXPECT_EQ(p.AUTO_COLOR_DETECT, 0);
  // The Docuvane line has no power-off option to set.
  EXPECT_EQ(Set("power-off", "1 hour"), SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, ImageParameters) {
  struct Case {
    const char* mode;
    int resolution;
    bool jpeg;
    SANE_Frame format;
    int pixels, bytes, lines, depth;
  } cases[] = {
      // 210 mm is 9922 whole dots at 1200 dpi, 297 mm 14033.
      {"Color", 300, false, SANE_FRAME_RGB, 2480, 7440, 3508, 8},
      {"Gray", 300, false, SANE_FRAME_GRAY, 2480, 2480, 3508, 8},
      {"Lineart", 300, false, SANE_FRAME_GRAY, 2480, 310, 3508, 1},
      {"Lineart", 75, false, SANE_FRAME_GRAY, 620, 78, 877, 1},
      {"Color", 75, true, SANE_FRAME_RGB, 624, 1872, 872, 8},  // JPEG 444: whole 8-pixel blocks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.resolution));
    Open(0);
    ASSERT_EQ(Set("mode", c.mode), SANE_STATUS_GOOD);
    ASSERT_EQ(Set("resolution", c.resolution), SANE_STATUS_GOOD);
    if (c.jpeg) {
      ASSERT_EQ(Set("jpeg", 1), SANE_STATUS_GOOD);
    }
    SANE_Parameters params;
    ASSERT_EQ(GetParameters(&params), SANE_STATUS_GOOD);
    EXPECT_EQ(params.format, c.format);
    EXPECT_EQ(params.pixels_per_line, c.pixels);
    EXPECT_EQ(params.bytes_per_line, c.bytes);
    EXPECT_EQ(params.lines, c.lines);
    EXPECT_EQ(params.depth, c.depth);
    EXPECT_EQ(params.last_frame, SANE_TRUE);
  }
  // The back of a duplex sheet is described by the back-face values.
  ASSERT_EQ(Set("source", "ADF Duplex"), SANE_STATUS_GOOD);
  g_ImgDataInfo.tBack.iLines = 77;
  g_bIsReadDoubleBack = true;
  SANE_Parameters params;
  ASSERT_EQ(GetParameters(&params), SANE_STATUS_GOOD);
  EXPECT_EQ(params.lines, 77);
  EXPECT_EQ(GetParameters(nullptr), SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, ValuesAreCheckedAgainstTheirConstraints) {
  SANE_Int info = 0;
  ASSERT_EQ(Set("resolution", 1200, &info), SANE_STATUS_GOOD);
  EXPECT_EQ(Word("resolution"), 600);
  EXPECT_TRUE(info & SANE_INFO_INEXACT);
  ASSERT_EQ(Set("resolution", 75, &info), SANE_STATUS_GOOD);
  EXPECT_EQ(Word("resolution"), 75);  // the quantisation is not applied
  EXPECT_EQ(Set("page-auto", 2), SANE_STATUS_INVAL);
  EXPECT_EQ(Set("mode", "Colour"), SANE_STATUS_INVAL);
  EXPECT_EQ(Set("mode", "COLOR"), SANE_STATUS_GOOD);
  EXPECT_EQ(Text("mode"), "Color");
  EXPECT_EQ(SetControlOption(OPTION_MODE, nullptr, &info), SANE_STATUS_INVAL);
  EXPECT_EQ(SetControlOption(OPTION_STANDARD_GROUP, &info, &info), SANE_STATUS_INVAL);  // not settable
  EXPECT_EQ(SetControlOption(56, &info, &info), SANE_STATUS_INVAL);
  EXPECT_EQ(GetControlOption(OPTION_MODE, nullptr), SANE_STATUS_INVAL);
}

// A front end gives a string option a buffer of the option's size, which
// may be shorter than a word.
TEST_F(OptionsTest, StringValuesInBuffersOfTheirOwnSize) {
  for (int o = 1; o < OPTION_TOTAL_NUM; ++o) {
    const SANE_Option_Descriptor& d = g_OptList[o];
    if (d.type != SANE_TYPE_STRING || !(d.cap & SANE_CAP_SOFT_SELECT)) continue;
    SCOPED_TRACE(d.name);
    const std::string text = d.constraint.string_list[d.constraint.string_list[1] ? 1 : 0];
    std::vector<char> value(static_cast<size_t>(d.size), '\0');  // exactly the size, on the heap
    ASSERT_LT(text.size(), value.size());
    memcpy(value.data(), text.c_str(), text.size());
    EXPECT_EQ(SetControlOption(o, value.data(), nullptr), SANE_STATUS_GOOD);
    EXPECT_EQ(Text(d.name), text);
  }
}

TEST_F(OptionsTest, CountersAndRawCommands) {
  EXPECT_EQ(Word("total-scanpage-count"), 101);
  EXPECT_EQ(Word("total-flatbed-count"), -1);  // no flatbed
  ASSERT_EQ(Set("total-pickroller-count", 0), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("total-padassy-count", 0), SANE_STATUS_GOOD);
  ASSERT_EQ(Set("total-padassy-count", 5), SANE_STATUS_GOOD);  // only 0 clears
  auto calls = m_dev.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoClearCount(1)"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoClearCount(2)"), 1);
  // A failing device step is mapped by what it leaves in errno, not by an
  // error left over from some earlier call of the front end.
  m_dev.Script("DoGetCount", {dravnmain::QV_ERR_CTL_DATA_IN});
  errno = EACCES;
  SANE_Word word;
  EXPECT_EQ(GetControlOption(OPTION_TOTAL_SCANPAGE_COUNT, &word), SANE_STATUS_IO_ERROR);
  m_dev.Script("DoClearCount(1)", {dravnmain::QV_ERR_CTL_STATUS});
  errno = EBUSY;
  EXPECT_EQ(Set("total-pickroller-count", 0), SANE_STATUS_IO_ERROR);

  // A length byte and the data behind it; every length stays in the value.
  unsigned char value[256];
  memset(value, 0x5A, sizeof value);
  value[0] = 255;
  ASSERT_EQ(SetControlOption(OPTION_USB_COMMAND, value, nullptr), SANE_STATUS_GOOD);
  EXPECT_EQ(m_dev.LastSent(), std::string(255, '\x5A'));
  value[0] = 6;
  ASSERT_EQ(SetControlOption(OPTION_USB_WRITE, value, nullptr), SANE_STATUS_GOOD);
  EXPECT_EQ(value[6], 0xAB);
  EXPECT_EQ(value[7], 0x5A);
  EXPECT_EQ(GetControlOption(OPTION_USB_COMMAND, value), SANE_STATUS_UNSUPPORTED);
}

// The automatic colour detection option exists only for scanimage, named by
// the running program's own file.
TEST(ColorDetection, OfferedToScanimageOnly) {
  std::string dir = dravn_test::MakeTempDir("colordetect");
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  for (auto [name, offered] : {std::pair<const char*, bool>{"scanimage", true},
                               {"my-scanimage-2", true},
                               {"xscanimage", false},
                               {"scanner", false}}) {
    std::string copy = dir + "/" + name;
    ASSERT_EQ(dravn_test::Run({"cp", self, copy}).exitCode, 0);
    auto r = dravn_test::Run({copy}, {{"DRAVN_MAIN_PROBE", "1"}});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find(offered ? "offered" : "withheld"), std::string::npos) << name << r.out;
  }
}

// A copy of this program started by the test above answers before any test
// runs: whether its own name gets the option.
const bool kProbe = [] {
  if (!getenv("DRAVN_MAIN_PROBE")) return false;
  g_hLibKeloImage = &g_PropInfo;
  if (CreateOptList(Docuvane(0).vendorId, Docuvane(0).productId) != SANE_STATUS_GOOD) exit(3);
  bool offered = strcmp(g_OptList[OPTION_AUTO_COLOR_DETECTION].name, "auto-color-detection") == 0 &&
                 (g_OptList[OPTION_AUTO_COLOR_DETECTION].cap & SANE_CAP_SOFT_SELECT);
  printf("%s\n", offered ? "offered" : "withheld");
  exit(0);
}();

}  // namespace
