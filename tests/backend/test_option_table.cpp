// The second backend's option table: the 48 descriptors, their defaults,
// reading values and checking values against constraints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_layer_util.h"
#include "option_layer_util.h"

using image_layer_test::ErrorLine;
using image_layer_test::LogCapture;
using namespace option_layer_test;

namespace {

constexpr SANE_Int S = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int A = S | SANE_CAP_ADVANCED;
constexpr SANE_Int I = SANE_CAP_INACTIVE;

using Texts = std::vector<std::string>;

struct Expected {
  const char* name;
  const char* title;
  SANE_Value_Type type;
  SANE_Unit unit;
  SANE_Int size;
  SANE_Int cap;      // after the table is built for a Selko2 device with every library entry
  Texts list;        // string list constraint
  SANE_Range range;  // range constraint when max != min
};

const Texts kAdf = {"Adf-front", "Adf-back", "Adf-duplex"};
const Texts kPaperSelko2 = {"Custom",        "A4",     "A5",    "A6",    "B5",       "B6", "Postcard",
                            "Business-card", "Letter", "Folio", "Legal", "Executive"};
const Texts kEmphasis = {"None",
                         "Emphasis-level-3",
                         "Emphasis-level-2",
                         "Emphasis-level-1",
                         "Descreen-level-1",
                         "Descreen-level-2",
                         "Descreen-level-3",
                         "Descreen-level-4"};

#define BOOL_OPT(n, t, cap)                                       \
  {                                                               \
    n, t, SANE_TYPE_BOOL, SANE_UNIT_NONE, 4, cap, {}, { 0, 0, 0 } \
  }
#define GROUP_OPT(n, t)                                          \
  {                                                              \
    n, t, SANE_TYPE_GROUP, SANE_UNIT_NONE, 4, I, {}, { 0, 0, 0 } \
  }
#define LIST_OPT(n, t, size, cap, ...)                                          \
  {                                                                             \
    n, t, SANE_TYPE_STRING, SANE_UNIT_NONE, size, cap, __VA_ARGS__, { 0, 0, 0 } \
  }
#define RANGE_OPT(n, t, type, unit, cap, lo, hi, q) \
  {                                                 \
    n, t, type, unit, 4, cap, {}, { lo, hi, q }     \
  }

const Expected kTable[OPTION_TOTAL_NUM] = {
    {"", "Number of options", SANE_TYPE_INT, SANE_UNIT_NONE, 4, SANE_CAP_SOFT_DETECT, {}, {0, 0, 0}},
    GROUP_OPT("standard", "Standard"),
    LIST_OPT("source", "Scan source", 12, S, kAdf),
    LIST_OPT("mode", "Scan mode", 9, S, {"Lineart", "Gray", "Color"}),
    RANGE_OPT("resolution", "Scan resolution", SANE_TYPE_INT, SANE_UNIT_DPI, S, 50, 600, 1),
    GROUP_OPT("standard", "Standard"),
    // The default A4 on the feeder decides the window: the geometry waits
    // for a Custom paper size.
    RANGE_OPT("tl-x", "Top-left x", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0, 0xD20000, 1387),
    RANGE_OPT("tl-y", "Top-left y", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0, 0x1290000, 1387),
    RANGE_OPT("br-x", "Bottom-right x", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0x19FFFF, 0xD20000, 1387),
    RANGE_OPT("br-y", "Bottom-right y", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0x19FFFF, 0x1290000, 1387),
    RANGE_OPT("page-width", "Page width", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0x19FFFF, 0xD80000, 1387),
    RANGE_OPT("page-height", "Page height", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0x19FFFF, 0xC670000, 1387),
    LIST_OPT("paper-size", "Paper size", 15, S, kPaperSelko2),
    BOOL_OPT("page-auto", "Page auto", S),
    LIST_OPT("cropping", "Cropping", 19, S, {"Old_specification", "Overscan"}),
    GROUP_OPT("enhancement", "Enhancement"),
    LIST_OPT("tone-adjustment", "Tone adjustment", 11, S, {"Automatic", "Normal", "Soft", "Sharp", "Bright", "Custom"}),
    RANGE_OPT("brightness", "Brightness", SANE_TYPE_INT, SANE_UNIT_NONE, S | I, -127, 127, 1),
    RANGE_OPT("contrast", "Contrast", SANE_TYPE_INT, SANE_UNIT_NONE, S | I, -127, 127, 1),
    RANGE_OPT("shadow", "Shadow", SANE_TYPE_INT, SANE_UNIT_NONE, S | I, 0, 254, 1),
    RANGE_OPT("highlight", "Highlight", SANE_TYPE_INT, SANE_UNIT_NONE, S | I, 1, 255, 1),
    RANGE_OPT("gamma", "Gamma", SANE_TYPE_FIXED, SANE_UNIT_NONE, S | I, 0x199A, 0xA0000, 655),
    RANGE_OPT("threshold", "Threshold", SANE_TYPE_INT, SANE_UNIT_NONE, S | I, 0, 255, 1),
    LIST_OPT("bw-mode", "Binarization method", 17, S | I, {"iDTC", "SDTC", "Threshold", "Error-diffusion"}),
    RANGE_OPT("bw-idtc-sensitivity", "iDTC Sensitivity", SANE_TYPE_INT, SANE_UNIT_NONE, S | I, -50, 50, 1),
    RANGE_OPT("bw-idtc-background-threshold", "iDTC Background Threshold", SANE_TYPE_INT, SANE_UNIT_NONE, S | I, -50,
              50, 1),
    LIST_OPT("bw-sdtc-variance", "DTC Variance", 6, S | I, {"Low", "Mid", "High"}),
    BOOL_OPT("autofeed", "Autofeed", S),
    RANGE_OPT("edge-filler-top", "Edge-filler-top", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0, 0xA0000, 6554),
    RANGE_OPT("edge-filler-bottom", "Edge-filler-bottom", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0, 0xA0000, 6554),
    RANGE_OPT("edge-filler-left", "Edge-filler-left", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0, 0xA0000, 6554),
    RANGE_OPT("edge-filler-right", "Edge-filler-right", SANE_TYPE_FIXED, SANE_UNIT_MM, S | I, 0, 0xA0000, 6554),
    GROUP_OPT("advanced", "Advanced"),
    LIST_OPT("multifeed-detection", "Multifeed detection", 15, A, {"Do-not-detect", "Stop"}),
    BOOL_OPT("mf-overlapping", "Mf overlapping", A | I),
    LIST_OPT("dropoutcolor", "Dropout color", 7, A | I, {"White", "Red", "Green", "Blue", "None"}),
    LIST_OPT("cleanup-sharpness", "Cleanup sharpness", 18, A, kEmphasis),
    BOOL_OPT("blank-page-skip", "Blank page skip", A),
    RANGE_OPT("blank-page-skip-sensitivity", "Blank page skip sensitivity", SANE_TYPE_INT, SANE_UNIT_NONE, A | I, 1, 5,
              1),
    LIST_OPT("rotation", "Rotation", 6, A, {"0", "90", "180", "270", "Auto"}),
    LIST_OPT("color-cleanup", "Color cleanup", 11, A, {"None", "Automatic", "White"}),
    RANGE_OPT("color-cleanup-cleanness", "Color cleanup cleanness", SANE_TYPE_INT, SANE_UNIT_NONE, A | I, -5, 5, 1),
    BOOL_OPT("front-back-merging", "Front back merging", A),
    LIST_OPT("back-side-location", "Back side location", 8, A | I, {"Top", "Bottom", "Left", "Right"}),
    LIST_OPT("back-side-rotation", "Back side rotation", 5, A | I, {"0", "180"}),
    BOOL_OPT("split-image", "Split image", A),
    {"get-sc-status", "Get Sc status", SANE_TYPE_STRING, SANE_UNIT_NONE, 11, S, {}, {0, 0, 0}},
    {"get-sc-error", "Get Sc error", SANE_TYPE_STRING, SANE_UNIT_NONE, 11, S, {}, {0, 0, 0}},
};

#define HINT_PAPER " Before setting this option, specify Custom for --paper-size."
#define HINT_TONE " Before setting this option, specify Custom for --tone-adjustment."
#define HINT_MERGE " Before setting this option, specify Yes for --front-back-merging."

// Descriptions for xsane; other front ends get the second text where one is
// given.
struct Description {
  const char* xsane;
  const char* other;  // nullptr: the same
};

const Description kDescriptions[OPTION_TOTAL_NUM] = {
    {"", nullptr},
    {"Source, mode and resolution options", nullptr},
    {"Select the scan source (such as a document-feeder).", nullptr},
    {"Select the scan mode (e.g., lineart, monochrome, or color).", nullptr},
    {"Set the resolution of the scanned image.", nullptr},
    {"Source, mode and resolution options", nullptr},
    {"Top-left x position of scan area.", nullptr},
    {"Top-left y position of scan area.", nullptr},
    {"Bottom-right x position of scan area.", nullptr},
    {"Bottom-right y position of scan area.", nullptr},
    {"Specify the width of the media. Required for automatic centering of sheet-fed scans.",
     "Specify the width of the media. Required for automatic centering of sheet-fed scans." HINT_PAPER},
    {"Specify the height of the media.", "Specify the height of the media." HINT_PAPER},
    {"Specify the scan window geometry by specifying the paper size of the documents to be scanned.", nullptr},
    {"Automatic page size detection.", nullptr},
    {"Specify how to crop the output image.", nullptr},
    {"Image modification options", nullptr},
    {"Adjust the color tone of the output image.", nullptr},
    {"Control the brightness of the acquired image.", "Control the brightness of the acquired image." HINT_TONE},
    {"Control the contrast of the acquired image.", "Control the contrast of the acquired image." HINT_TONE},
    {"Adjust the density in the dark tone areas.", "Adjust the density in the dark tone areas." HINT_TONE},
    {"Adjust the brightness in the light tone areas.", "Adjust the brightness in the light tone areas." HINT_TONE},
    {"Adjust the brightness(luminosity) in the mid-tone areas.",
     "Adjust the brightness(luminosity) in the mid-tone areas." HINT_TONE},
    {"Select minimum-brightness to get a white point",
     "Select minimum-brightness to get a white point. Before setting this option, specify Threshold for --bw-mode."},
    {"Specify the processing method for binarization",
     "Specify the processing method for binarization. Before setting this option, specify Lineart for --mode."},
    {"Adjust the sensitivity. Increase sensitivity to generate a more detailed, finer image",
     "Adjust the sensitivity. Increase sensitivity to generate a more detailed, finer image. To use --bw-mode, "
     "specify iDTC for --bw-mode in advance."},
    {"Adjust the threshold value of the background. Increase threshold to brighten the background and clear any "
     "background unevenness",
     "Adjust the threshold value of the background. Increase threshold to brighten the background and clear any "
     "background unevenness. To use --bw-mode, specify iDTC for --bw-mode in advance."},
    {"DTC Variance", "DTC Variance. To use --bw-mode, specify SDTC for --bw-mode in advance."},
    {"Automatically feed", nullptr},
    {"Fill in the top margin of the scanned image.", nullptr},
    {"Fill in the bottom margin of the scanned image.", nullptr},
    {"Fill in the left margin of the scanned image.", nullptr},
    {"Fill in the right margin of the scanned image.", nullptr},
    {"Hardware specific options.", nullptr},
    {"Specify how to proceed when a multifeed is detected.", nullptr},
    {"Specify the method of overlapping for multifeed detection.",
     "Specify the method of overlapping for multifeed detection. Before setting this option, specify Stop for "
     "--multifeed-detection."},
    {"One-pass scanners use only one color during gray or binary scanning, useful for colored paper or ink", nullptr},
    {"Specify an option for the sharpness of an output image.",
     "Specify an option for the sharpness of an output image. Before setting this option, specify a value for --mode."},
    {"Blank pages in the Documents can be detected and automatically deleted during scanning", nullptr},
    {"The larger value is set, the more likely for the pages to be detected as blank.",
     "The larger value is set, the more likely for the pages to be detected as blank. Before setting this option, "
     "specify Yes for --blank-page-skip."},
    {"Correct the image orientation. Specify a rotating direction for an image.", nullptr},
    {"Smoothen the background of the image, and suppresses uneven coloring and density.",
     "Smoothen the background of the image, and suppresses uneven coloring and density. Before setting this option, "
     "specify Color or Gray for --mode."},
    {"Adjust the smoothness level.",
     "Adjust the smoothness level. Before setting this option, specify Automatic or White for --color-cleanup."},
    {"The front and back side images of a document resulting from duplex scanning are merged and saved as a single "
     "image.",
     nullptr},
    {"Specify the position of the back side.", "Specify the position of the back side." HINT_MERGE},
    {"Specify the orientation of the back side.", "Specify the orientation of the back side." HINT_MERGE},
    {"Split the image horizontally in the middle.", nullptr},
    {"Get the status of Hardware", nullptr},
    {"Get the status of Hardware Error", nullptr},
};

Texts ListOf(const SANE_Option_Descriptor* d) {
  Texts out;
  if (d->constraint_type != SANE_CONSTRAINT_STRING_LIST) return out;
  for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s) out.push_back(*s);
  return out;
}

class OptionTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetState(); }
};

}  // namespace

TEST_F(OptionTableTest, DescriptorsOfASelko2Device) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  for (int i = 0; i < OPTION_TOTAL_NUM; ++i) {
    SCOPED_TRACE("option " + std::to_string(i));
    const Expected& e = kTable[i];
    const SANE_Option_Descriptor* d = GetOptionDescriptor(i);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, e.name);
    EXPECT_STREQ(d->title, e.title);
    EXPECT_STREQ(d->desc, kDescriptions[i].other ? kDescriptions[i].other : kDescriptions[i].xsane);
    EXPECT_EQ(d->type, e.type);
    EXPECT_EQ(d->unit, e.unit);
    EXPECT_EQ(d->size, e.size);
    EXPECT_EQ(d->cap, e.cap);
    if (!e.list.empty()) {
      ASSERT_EQ(d->constraint_type, SANE_CONSTRAINT_STRING_LIST);
      EXPECT_EQ(ListOf(d), e.list);
    } else if (e.range.max != e.range.min) {
      ASSERT_EQ(d->constraint_type, SANE_CONSTRAINT_RANGE);
      EXPECT_EQ(d->constraint.range->min, e.range.min);
      EXPECT_EQ(d->constraint.range->max, e.range.max);
      EXPECT_EQ(d->constraint.range->quant, e.range.quant);
    } else {
      EXPECT_EQ(d->constraint_type, SANE_CONSTRAINT_NONE);
    }
  }
}

TEST_F(OptionTableTest, XsaneGetsThePlainDescriptions) {
  ResetState(FrontEnd::Xsane);
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  for (int i = 0; i < OPTION_TOTAL_NUM; ++i) EXPECT_STREQ(GetOptionDescriptor(i)->desc, kDescriptions[i].xsane) << i;
}

TEST_F(OptionTableTest, DefaultsReadBack) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  const std::pair<int, const char*> texts[] = {{OPTION_SOURCE, "Adf-duplex"},
                                               {OPTION_MODE, "Color"},
                                               {OPTION_PAPER_SIZE, "A4"},
                                               {OPTION_CROPPING, "Old_specification"},
                                               {OPTION_TONE_ADJUSTMENT, "Automatic"},
                                               {OPTION_BW_MODE, "iDTC"},
                                               {OPTION_BW_SDTC_VARIANCE, "Mid"},
                                               {OPTION_DF_ACTION, "Do-not-detect"},
                                               {OPTION_DROP_OUT, "Green"},
                                               {OPTION_CLEANUP_SHARPNESS_COLOR, "None"},
                                               {OPTION_ROTATION, "0"},
                                               {OPTION_COLOR_CLEANUP, "None"},
                                               {OPTION_BACK_SIDE_LOCATION, "Top"},
                                               {OPTION_BACK_SIDE_ROTATION, "0"}};
  for (const auto& t : texts) EXPECT_EQ(Text(t.first), t.second) << t.first;
  const std::pair<int, SANE_Word> words[] = {{OPTION_NUM_OPTS, 48},
                                             {OPTION_RESOLUTION, 200},
                                             {OPTION_TL_X, 0},
                                             {OPTION_TL_Y, 0},
                                             {OPTION_BR_X, 0xD20000},
                                             {OPTION_BR_Y, 0x1290000},
                                             {OPTION_PAGE_WIDTH, 0xD20000},
                                             {OPTION_PAGE_HEIGHT, 0x1290000},
                                             {OPTION_PAGE_AUTO, 1},
                                             {OPTION_BRIGHTNESS, 0},
                                             {OPTION_CONTRAST, 0},
                                             {OPTION_SHADOW, 10},
                                             {OPTION_HIGHLIGHT, 230},
                                             {OPTION_GAMMA, 0x19999},
                                             {OPTION_THRESHOLD, 128},
                                             {OPTION_BW_IDTC_SENSITIVITY, 0},
                                             {OPTION_BW_IDTC_BACKGROUND_THRESHOLD, 0},
                                             {OPTION_AUTOFEED, 1},
                                             {OPTION_EDGE_FILLER_TOP, 0},
                                             {OPTION_MF_OVERLAPPING, 0},
                                             {OPTION_BLANK_PAGE_SKIP, 0},
                                             {OPTION_BLANK_PAGE_SKIP_SENSITIVITY, 3},
                                             {OPTION_COLOR_CLEANUP_CLEANNESS, 0},
                                             {OPTION_FRONT_BACK_MERGING, 0},
                                             {OPTION_SPLIT_IMAGE, 0}};
  for (const auto& w : words) EXPECT_EQ(Word(w.first), w.second) << w.first;
}

TEST_F(OptionTableTest, FamiliesDifferInListsRangesAndCapabilities) {
  ASSERT_EQ(Open(kSelko), SANE_STATUS_GOOD);
  EXPECT_EQ(ListOf(GetOptionDescriptor(OPTION_PAPER_SIZE)),
            (Texts{"Custom", "A4", "A5", "A6", "B5", "B6", "Postcard", "Business-card", "Letter", "Folio", "Legal"}));
  EXPECT_EQ(GetOptionDescriptor(OPTION_PAGE_HEIGHT)->constraint.range->max, 0x35F999A);
  for (int option :
       {OPTION_SHADOW, OPTION_HIGHLIGHT, OPTION_GAMMA, OPTION_CROPPING, OPTION_GET_SC_STATUS, OPTION_GET_SC_ERROR})
    EXPECT_FALSE(Active(option)) << option;
  char text[16];
  EXPECT_EQ(GetControlOption(OPTION_GET_SC_STATUS, text), SANE_STATUS_UNSUPPORTED);
  EXPECT_EQ(GetControlOption(OPTION_GET_SC_ERROR, text), SANE_STATUS_UNSUPPORTED);

  ResetState();
  ASSERT_EQ(Open(kBrenna), SANE_STATUS_GOOD);
  EXPECT_TRUE(g_bHasFlatbed);
  EXPECT_EQ(ListOf(GetOptionDescriptor(OPTION_SOURCE)), (Texts{"Flatbed", "Adf-front", "Adf-back", "Adf-duplex"}));
  EXPECT_EQ(ListOf(GetOptionDescriptor(OPTION_PAPER_SIZE)),
            (Texts{"Custom", "A4", "A5", "B5", "B6", "Letter", "Folio", "Legal"}));
  const SANE_Range* width = GetOptionDescriptor(OPTION_PAGE_WIDTH)->constraint.range;
  const SANE_Range* height = GetOptionDescriptor(OPTION_PAGE_HEIGHT)->constraint.range;
  EXPECT_EQ(width->min, 0x71FFFF);
  EXPECT_EQ(width->max, 0xD80000);
  EXPECT_EQ(height->min, 0x8BFFFF);
  EXPECT_EQ(height->max, 0xC670000);
}

TEST_F(OptionTableTest, SimpleScanGetsItsSourceListAndPaperDefault) {
  ResetState(FrontEnd::SimpleScan);
  g_tSimpleScanConf = 8;
  ASSERT_EQ(Open(kBrenna), SANE_STATUS_GOOD);
  const SANE_Option_Descriptor* source = GetOptionDescriptor(OPTION_SOURCE);
  EXPECT_EQ(ListOf(source), (Texts{"Flatbed", "ADF Front", "ADF Back", "ADF Duplex"}));
  EXPECT_TRUE(source->cap & SANE_CAP_AUTOMATIC);
  EXPECT_EQ(Text(OPTION_SOURCE), "ADF Duplex");
  EXPECT_EQ(Text(OPTION_PAPER_SIZE), "Letter");

  ResetState(FrontEnd::SimpleScan);
  g_tSimpleScanConf = 10;  // Executive: not a Selko size
  LogCapture log;
  ASSERT_EQ(Open(kSelko), SANE_STATUS_GOOD);
  EXPECT_NE(log.Stop().find("g_tSimpleScanConf is not a paper size of this device"), std::string::npos);
  EXPECT_EQ(ListOf(GetOptionDescriptor(OPTION_SOURCE)), (Texts{"ADF Front", "ADF Back", "ADF Duplex"}));
  EXPECT_EQ(Text(OPTION_PAPER_SIZE), "A4");
}

TEST_F(OptionTableTest, UnknownDeviceAndOptionNumbersAreRefused) {
  LogCapture log;
  EXPECT_EQ(CreateOptList(0x1234, 0x5678, "/nonexistent"), SANE_STATUS_UNSUPPORTED);
  EXPECT_EQ(GetOptionDescriptor(48), nullptr);
  EXPECT_EQ(GetOptionDescriptor(-1), nullptr);
  SANE_Word v = 0;
  EXPECT_EQ(GetControlOption(48, &v), SANE_STATUS_INVAL);
  EXPECT_EQ(SetControlOption(-1, &v, nullptr), SANE_STATUS_INVAL);
  EXPECT_EQ(GetControlOption(OPTION_RESOLUTION, nullptr), SANE_STATUS_INVAL);
  std::string text = log.Stop();
  EXPECT_NE(text.find(ErrorLine("CreateOptList", "g_tpDevCtlInfo == NULL")), std::string::npos);
  EXPECT_NE(text.find(ErrorLine("GetOptionDescriptor", "siOption < 0 || siOption >= OPTION_TOTAL_NUM")),
            std::string::npos);
}

TEST_F(OptionTableTest, ListValueWithoutTextIsReportedByOptionName) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  g_OptSelected[OPTION_PAPER_SIZE] = 99;
  g_OptSelected[OPTION_DROP_OUT] = 0;
  LogCapture log;
  char text[32];
  EXPECT_EQ(GetControlOption(OPTION_PAPER_SIZE, text), SANE_STATUS_INVAL);
  EXPECT_EQ(GetControlOption(OPTION_DROP_OUT, text), SANE_STATUS_INVAL);
  std::string logged = log.Stop();
  EXPECT_NE(logged.find(ErrorLine("GetControlOption", "OPTION_PAPER_SIZE cpVlaue == NULL")), std::string::npos);
  EXPECT_NE(logged.find(ErrorLine("GetControlOption", "OPTION_DROP_OUT cpVlaue == NULL")), std::string::npos);
}

TEST_F(OptionTableTest, CheckSetValueByConstraint) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  struct RangeCase {
    int option;
    SANE_Word in, out;
    bool inexact;
  };
  const RangeCase ranges[] = {
      {OPTION_RESOLUTION, 1200, 600, true},    {OPTION_RESOLUTION, 75, 75, false},  // no quantisation
      {OPTION_RESOLUTION, 10, 50, true},       {OPTION_BRIGHTNESS, -200, -127, true},
      {OPTION_GAMMA, 0x19999, 0x19999, false},
  };
  for (const RangeCase& c : ranges) {
    SANE_Word v = c.in;
    SANE_Int info = 0;
    EXPECT_EQ(CheckSetValue(GetOptionDescriptor(c.option), &v, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(v, c.out) << c.option << " " << c.in;
    EXPECT_EQ(info, c.inexact ? SANE_INFO_INEXACT : 0) << c.option << " " << c.in;
  }

  struct TextCase {
    int option;
    const char* text;
    SANE_Status status;
  };
  const TextCase texts[] = {
      {OPTION_SOURCE, "adf-front", SANE_STATUS_GOOD},
      {OPTION_SOURCE, "ADF", SANE_STATUS_INVAL},
      {OPTION_SOURCE, "Adf-front ", SANE_STATUS_INVAL},
      {OPTION_CROPPING, "Overscan", SANE_STATUS_GOOD},
      {OPTION_CROPPING, "None", SANE_STATUS_INVAL},
      {OPTION_CROPPING, "Automatic-size", SANE_STATUS_INVAL},
      {OPTION_MODE, "", SANE_STATUS_INVAL},
  };
  for (const TextCase& c : texts) {
    char buffer[64] = {0};
    snprintf(buffer, sizeof buffer, "%s", c.text);
    EXPECT_EQ(CheckSetValue(GetOptionDescriptor(c.option), buffer, nullptr), c.status) << c.text;
  }
  // A text that does not end within the option's size is no entry.
  char unterminated[12];
  memcpy(unterminated, "Adf-duplexxx", 12);
  EXPECT_EQ(CheckSetValue(GetOptionDescriptor(OPTION_SOURCE), unterminated, nullptr), SANE_STATUS_INVAL);

  for (SANE_Word b : {0, 1}) EXPECT_EQ(CheckSetValue(GetOptionDescriptor(OPTION_AUTOFEED), &b, nullptr), 0);
  SANE_Word two = 2;
  EXPECT_EQ(CheckSetValue(GetOptionDescriptor(OPTION_AUTOFEED), &two, nullptr), SANE_STATUS_INVAL);
  EXPECT_EQ(CheckSetValue(nullptr, &two, nullptr), SANE_STATUS_INVAL);
  EXPECT_EQ(CheckSetValue(GetOptionDescriptor(OPTION_AUTOFEED), nullptr, nullptr), SANE_STATUS_INVAL);
}

TEST_F(OptionTableTest, AreaFollowsThePaperOnTheFeeder) {
  ASSERT_EQ(Open(kSelko2), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(OPTION_SOURCE, "Adf-front"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(OPTION_PAGE_AUTO, 0), SANE_STATUS_GOOD);
  ASSERT_EQ(Text(OPTION_PAPER_SIZE), "A4");
  SANE_Word v = Mm(100);
  SANE_Int info = 0;
  EXPECT_EQ(CheckSetValue(GetOptionDescriptor(OPTION_BR_X), &v, &info), SANE_STATUS_GOOD);
  EXPECT_EQ(v, 0xD20000);
  EXPECT_EQ(info, SANE_INFO_INEXACT);
  v = Mm(5);
  EXPECT_EQ(CheckSetValue(GetOptionDescriptor(OPTION_TL_Y), &v, &info), SANE_STATUS_GOOD);
  EXPECT_EQ(v, 0);
}

TEST(OptionValuesTest, MapsListsAndDescriptors) {
  const OPTION_VALUE map[] = {{0, "None"}, {160, "Smoothing"}, {96, "Emphasis-level-3"}};
  EXPECT_STREQ(GetOptValue(160, map, 3), "Smoothing");
  EXPECT_EQ(GetOptValue(7, map, 3), nullptr);
  int code = -1;
  EXPECT_EQ(SetOptValue("smoothing", map, 3, &code), SANE_STATUS_GOOD);
  EXPECT_EQ(code, 160);
  EXPECT_EQ(SetOptValue("Smooth", map, 3, &code), SANE_STATUS_INVAL);
  EXPECT_EQ(SetOptValue(nullptr, map, 3, &code), SANE_STATUS_INVAL);

  const SANE_String_Const list[] = {"Flatbed", "ADF Duplex", nullptr};
  const SANE_String_Const noFlatbed[] = {"flatbed", nullptr};
  EXPECT_EQ(GetMaxLength(list), 12);
  EXPECT_EQ(GetMaxLength(nullptr), 0);
  int flatbed = -1;
  EXPECT_EQ(IsHasFlatbed(list, &flatbed), SANE_STATUS_GOOD);
  EXPECT_EQ(flatbed, 1);
  EXPECT_EQ(IsHasFlatbed(noFlatbed, &flatbed), SANE_STATUS_GOOD);
  EXPECT_EQ(flatbed, 0);  // exact comparison
  EXPECT_EQ(IsHasFlatbed(nullptr, &flatbed), SANE_STATUS_INVAL);

  SANE_Option_Descriptor d;
  const SANE_Range range = {1, 2, 1};
  EXPECT_EQ(SetOption(&d, "n", "t", "d", SANE_TYPE_INT, SANE_UNIT_NONE, 4, 5, SANE_CONSTRAINT_RANGE, &range),
            SANE_STATUS_GOOD);
  EXPECT_EQ(d.constraint.range, &range);
  EXPECT_EQ(SetOption(&d, "n", "t", "d", SANE_TYPE_INT, SANE_UNIT_NONE, 4, 5, SANE_CONSTRAINT_NONE, &range),
            SANE_STATUS_GOOD);
  EXPECT_EQ(d.constraint.range, nullptr);
  EXPECT_EQ(
      SetOption(&d, "n", "t", "d", SANE_TYPE_INT, SANE_UNIT_NONE, 4, 5, static_cast<SANE_Constraint_Type>(4), &range),
      SANE_STATUS_INVAL);
  EXPECT_EQ(SetOption(nullptr, "n", "t", "d", SANE_TYPE_INT, SANE_UNIT_NONE, 4, 5, SANE_CONSTRAINT_NONE, nullptr),
            SANE_STATUS_INVAL);
}

TEST(OptionTablePaperTest, LoadPaperSizeTruncatesToFixed) {
  EXPECT_EQ(LoadPaperSize(8, KELO_DEFAULT_PAPER_SIZE, KELO_DEFAULT_PAPER_SIZE_NUM), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptSelected[OPTION_PAGE_WIDTH], 216 * 65536);
  EXPECT_EQ(g_OptSelected[OPTION_PAGE_HEIGHT], 18310758);  // 279.4 mm
  EXPECT_EQ(LoadPaperSize(10, KELO_DEFAULT_PAPER_SIZE, KELO_DEFAULT_PAPER_SIZE_NUM), SANE_STATUS_GOOD);
  EXPECT_EQ(g_OptSelected[OPTION_PAGE_WIDTH], 12068454);  // 184.15 mm
  EXPECT_EQ(LoadPaperSize(12, KELO_DEFAULT_PAPER_SIZE, KELO_DEFAULT_PAPER_SIZE_NUM), SANE_STATUS_INVAL);
  EXPECT_EQ(LoadPaperSize(1, nullptr, 12), SANE_STATUS_INVAL);
}

TEST(OptionTableDevicesTest, DeviceTableRowsComeFromTheCatalogue) {
  for (int type = 0; type < KELO_DEVICE_NUM; ++type) {
    const dravn::CatalogModel& m = ModelOf(type);
    KELO_DEVICE_OPTION_CONTROL_INFO* row = GetDevCtlByDevInfo(m.vendorId, m.productId);
    ASSERT_NE(row, nullptr) << type;
    EXPECT_EQ(row->iDevType, type);
    EXPECT_STREQ(row->cpModel, m.model);
    EXPECT_STREQ(row->cpVendor, dravn::kVendorText);
    EXPECT_STREQ(row->cpType, "scanner");
    EXPECT_EQ(row->tOptListInfo.bHasSource, 1);
    EXPECT_EQ(row->tOptListInfo.iDefaultSource, 3);
    EXPECT_EQ(row->tOptListInfo.cppSourceList, type == 6 ? KELO_SOURCE_LIST : KELO_SOURCE_LIST_ADF);
  }
  EXPECT_EQ(GetDevCtlByDevInfo(dravn::kDocuvaneModels[0].vendorId, dravn::kDocuvaneModels[0].productId), nullptr);
}
