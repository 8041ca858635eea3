#include "option_table.h"

#include <sane/saneopts.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "frontend_flags.h"
#include "image_libs.h"
#include "log.h"
#include "model_catalog.h"
#include "option_defaults.h"
#include "option_rules.h"
#include "prop_info.h"

// ---- value maps and lists ----

const OPTION_VALUE KELO_SOURCE[4] = {{0, "Flatbed"}, {1, "Adf-front"}, {2, "Adf-back"}, {3, "Adf-duplex"}};
const OPTION_VALUE KELO_SIMPLE_SCAN_SOURCE[4] = {{0, "Flatbed"}, {1, "ADF Front"}, {2, "ADF Back"}, {3, "ADF Duplex"}};
const OPTION_VALUE KELO_MODE[3] = {{0, "Lineart"}, {1, "Gray"}, {2, "Color"}};
const OPTION_VALUE KELO_PAPERSIZE[11] = {{0, "Custom"}, {1, "A4"},    {2, "A5"},       {3, "A6"},
                                         {4, "B5"},     {5, "B6"},    {6, "Postcard"}, {7, "Business-card"},
                                         {8, "Letter"}, {9, "Folio"}, {11, "Legal"}};
const OPTION_VALUE KELO_PAPERSIZE_SELKO2[12] = {{0, "Custom"}, {1, "A4"},    {2, "A5"},       {3, "A6"},
                                                {4, "B5"},     {5, "B6"},    {6, "Postcard"}, {7, "Business-card"},
                                                {8, "Letter"}, {9, "Folio"}, {11, "Legal"},   {10, "Executive"}};
const OPTION_VALUE KELO_PAPERSIZE_BRENNA[8] = {{0, "Custom"}, {1, "A4"},     {2, "A5"},    {4, "B5"},
                                               {5, "B6"},     {8, "Letter"}, {9, "Folio"}, {11, "Legal"}};
const OPTION_VALUE KELO_CROPPING[4] = {{0, "Old_specification"}, {1, "None"}, {2, "Automatic-size"}, {3, "Overscan"}};
const OPTION_VALUE KELO_TONE_ADJUSTMENT[6] = {{0, "Automatic"}, {1, "Normal"}, {2, "Soft"},
                                              {3, "Sharp"},     {4, "Bright"}, {5, "Custom"}};
const OPTION_VALUE KELO_BW_MODE[4] = {{0, "iDTC"}, {1, "SDTC"}, {2, "Threshold"}, {3, "Error-diffusion"}};
const OPTION_VALUE KELO_BW_SDTC_VARIANCE[3] = {{1, "Low"}, {96, "Mid"}, {192, "High"}};
const OPTION_VALUE KELO_DF_ACTION[2] = {{0, "Do-not-detect"}, {1, "Stop"}};
const OPTION_VALUE KELO_DROPOUT_COLOR[5] = {{1, "White"}, {2, "Red"}, {3, "Green"}, {4, "Blue"}, {5, "None"}};
const OPTION_VALUE KELO_EDGE_PROCESSING[5] = {
    {0, "None"}, {160, "Smoothing"}, {96, "Emphasis-level-3"}, {64, "Emphasis-level-2"}, {32, "Emphasis-level-1"}};
const OPTION_VALUE KELO_IMAGE_EMPHASIS[8] = {{0, "None"},
                                             {96, "Emphasis-level-3"},
                                             {64, "Emphasis-level-2"},
                                             {32, "Emphasis-level-1"},
                                             {128, "Descreen-level-1"},
                                             {160, "Descreen-level-2"},
                                             {192, "Descreen-level-3"},
                                             {224, "Descreen-level-4"}};
const OPTION_VALUE KELO_ROTATION[5] = {{0, "0"}, {1, "90"}, {2, "180"}, {3, "270"}, {4, "Auto"}};
const OPTION_VALUE KELO_COLOR_CLEANUP[3] = {{0, "None"}, {1, "Automatic"}, {2, "White"}};
const OPTION_VALUE KELO_BACK_SIDE_LOCATION[4] = {{0, "Top"}, {1, "Bottom"}, {2, "Left"}, {3, "Right"}};
const OPTION_VALUE KELO_BACK_SIDE_ROTATION[2] = {{0, "0"}, {1, "180"}};

const SANE_String_Const KELO_SOURCE_LIST[] = {"Flatbed", "Adf-front", "Adf-back", "Adf-duplex", nullptr};
const SANE_String_Const KELO_SOURCE_LIST_ADF[] = {"Adf-front", "Adf-back", "Adf-duplex", nullptr};
const SANE_String_Const KELO_SIMPLE_SCAN_SOURCE_LIST[] = {"Flatbed", "ADF Front", "ADF Back", "ADF Duplex", nullptr};
const SANE_String_Const KELO_SIMPLE_SCAN_NF_SOURCE_LIST[] = {"ADF Front", "ADF Back", "ADF Duplex", nullptr};
const SANE_String_Const KELO_MODE_LIST[] = {"Lineart", "Gray", "Color", nullptr};
const SANE_String_Const KELO_HARDWARE_MODE_LIST[] = {"Color", nullptr};
const SANE_String_Const KELO_PAPERSIZE_LIST[] = {"Custom",        "A4",     "A5",    "A6",    "B5",   "B6", "Postcard",
                                                 "Business-card", "Letter", "Folio", "Legal", nullptr};
const SANE_String_Const KELO_PAPERSIZE_LIST_SELKO2[] = {
    "Custom",        "A4",     "A5",    "A6",    "B5",        "B6",   "Postcard",
    "Business-card", "Letter", "Folio", "Legal", "Executive", nullptr};
const SANE_String_Const KELO_PAPERSIZE_LIST_BRENNA[] = {"Custom", "A4",    "A5",    "B5",   "B6",
                                                        "Letter", "Folio", "Legal", nullptr};
const SANE_String_Const KELO_CROPPING_LIST[] = {"Old_specification", "Overscan", nullptr};
const SANE_String_Const KELO_CROPPING_LIST_NO_OVERSCAN[] = {"Old_specification", nullptr};
const SANE_String_Const KELO_TONE_ADJUSTMENT_LIST[] = {"Automatic", "Normal", "Soft", "Sharp",
                                                       "Bright",    "Custom", nullptr};
const SANE_String_Const KELO_BW_MODE_LIST[] = {"iDTC", "SDTC", "Threshold", "Error-diffusion", nullptr};
const SANE_String_Const KELO_BW_SDTC_VARIANCE_LIST_COMMON[] = {"Low", "Mid", "High", nullptr};
const SANE_String_Const KELO_DF_ACTION_LIST[] = {"Do-not-detect", "Stop", nullptr};
const SANE_String_Const KELO_DROPOUT_COLOR_LIST_COMMON[] = {"White", "Red", "Green", "Blue", "None", nullptr};
const SANE_String_Const KELO_EDGE_PROCESSING_LIST_COMMON[] = {
    "None", "Smoothing", "Emphasis-level-3", "Emphasis-level-2", "Emphasis-level-1", nullptr};
const SANE_String_Const KELO_IMAGE_EMPHASIS_LIST_COMMON[] = {"None",
                                                             "Emphasis-level-3",
                                                             "Emphasis-level-2",
                                                             "Emphasis-level-1",
                                                             "Descreen-level-1",
                                                             "Descreen-level-2",
                                                             "Descreen-level-3",
                                                             "Descreen-level-4",
                                                             nullptr};
const SANE_String_Const KELO_ROTATION_LIST[] = {"0", "90", "180", "270", "Auto", nullptr};
const SANE_String_Const KELO_HARDWARE_ROTATION_LIST[] = {"0", "90", "180", "270", nullptr};
const SANE_String_Const KELO_COLOR_CLEANUP_LIST[] = {"None", "Automatic", "White", nullptr};
const SANE_String_Const KELO_BACK_SIDE_LOCATION_LIST[] = {"Top", "Bottom", "Left", "Right", nullptr};
const SANE_String_Const KELO_BACK_SIDE_ROTATION_LIST[] = {"0", "180", nullptr};

const DEFAULT_PAPER_SIZE KELO_DEFAULT_PAPER_SIZE[KELO_DEFAULT_PAPER_SIZE_NUM] = {
    {0, 216, 356}, {1, 210, 297}, {2, 148, 210},   {3, 105, 148}, {4, 182, 257},       {5, 128, 182},
    {6, 100, 148}, {7, 90, 55},   {8, 216, 279.4}, {9, 216, 330}, {10, 184.15, 266.7}, {11, 216, 355.6}};

// ---- device table ----

namespace {

constexpr KELO_DEVICE_OPTION_CONTROL_INFO Row(const dravn::CatalogModel& m, int devType,
                                              const SANE_String_Const* sources) {
  return {m.vendorId, m.productId, dravn::kVendorText, "scanner", m.model, devType, {1, sources, 3}};
}

}  // namespace

KELO_DEVICE_OPTION_CONTROL_INFO KELO_DEVICE_OPTION_CONTROL[KELO_DEVICE_NUM] = {
    Row(dravn::kSelkoModels[0], 0, KELO_SOURCE_LIST_ADF),  Row(dravn::kSelkoModels[1], 1, KELO_SOURCE_LIST_ADF),
    Row(dravn::kSelkoModels[2], 2, KELO_SOURCE_LIST_ADF),  Row(dravn::kSelko2Models[0], 3, KELO_SOURCE_LIST_ADF),
    Row(dravn::kSelko2Models[1], 4, KELO_SOURCE_LIST_ADF), Row(dravn::kSelko2Models[2], 5, KELO_SOURCE_LIST_ADF),
    Row(dravn::kBrennaModels[0], 6, KELO_SOURCE_LIST),
};

// ---- process-wide table state ----

SANE_Option_Descriptor g_OptList[OPTION_TOTAL_NUM];
SANE_Word g_OptSelected[OPTION_TOTAL_NUM];
KELO_DEVICE_OPTION_CONTROL_INFO* g_tpDevCtlInfo = nullptr;
KELO_OPTION_LIST_INFO* g_tpOptListInfo = nullptr;
int g_iDevType = INVALID_VALUE;
int g_bHasFlatbed = 0;
const char* tszOptionDescs[OPTION_TOTAL_NUM][2];

namespace {

constexpr SANE_Range kResolutionRange = {50, 600, 1};
constexpr SANE_Range kTopLeftXRange = {0, KELO_LENGTH_216MM, 1387};
constexpr SANE_Range kTopLeftYRange = {0, KELO_LENGTH_863_6MM, 1387};
constexpr SANE_Range kBottomRightXRange = {0x19FFFF, KELO_LENGTH_216MM, 1387};
constexpr SANE_Range kBottomRightYRange = {0x19FFFF, KELO_LENGTH_863_6MM, 1387};

const SANE_Range kToneRange = {-127, 127, 1};
const SANE_Range kShadowRange = {0, 254, 1};
const SANE_Range kHighlightRange = {1, 255, 1};
const SANE_Range kGammaRange = {0x199A, 0xA0000, 655};
const SANE_Range kThresholdRange = {0, 255, 1};
const SANE_Range kIdtcRange = {-50, 50, 1};
const SANE_Range kEdgeFillerRange = {0, 0xA0000, 6554};
const SANE_Range kBlankSensitivityRange = {1, 5, 1};
const SANE_Range kCleannessRange = {-5, 5, 1};

}  // namespace

SANE_Range g_tResolutionRange = kResolutionRange;
SANE_Range g_tTopLeftXRange = kTopLeftXRange;
SANE_Range g_tTopLeftYRange = kTopLeftYRange;
SANE_Range g_tBottomRightXRange = kBottomRightXRange;
SANE_Range g_tBottomRightYRange = kBottomRightYRange;
SANE_Range g_tPageWidthRange = kBottomRightXRange;
SANE_Range g_tPageHeightRange = kBottomRightYRange;

static_assert(OPTION_SOURCE == SHARED_OPTION_SOURCE && OPTION_TL_X == SHARED_OPTION_TL_X &&
                  OPTION_PAGE_HEIGHT == SHARED_OPTION_PAGE_HEIGHT && OPTION_PAPER_SIZE == SHARED_OPTION_PAPER_SIZE &&
                  OPTION_PAGE_AUTO == SHARED_OPTION_PAGE_AUTO,
              "the area options stand where the shared checks look for them");

KELO_FAMILY GetDevFamily() {
  if (g_iDevType == KELO_DEVTYPE_BRENNA) return KELO_FAMILY_BRENNA;
  if (g_iDevType >= KELO_DEVTYPE_SELKO2_FIRST && g_iDevType < KELO_DEVTYPE_BRENNA) return KELO_FAMILY_SELKO2;
  return KELO_FAMILY_SELKO;
}

void GetPaperSizeMap(const OPTION_VALUE** map, int* count) {
  switch (GetDevFamily()) {
    case KELO_FAMILY_BRENNA:
      *map = KELO_PAPERSIZE_BRENNA;
      *count = 8;
      break;
    case KELO_FAMILY_SELKO2:
      *map = KELO_PAPERSIZE_SELKO2;
      *count = 12;
      break;
    default:
      *map = KELO_PAPERSIZE;
      *count = 11;
      break;
  }
}

const OPTION_VALUE* GetSourceMap() { return g_bIsSimpleScan ? KELO_SIMPLE_SCAN_SOURCE : KELO_SOURCE; }

// ---- descriptions ----

namespace {

#define HINT_PAPER " Before setting this option, specify Custom for --paper-size."
#define HINT_TONE " Before setting this option, specify Custom for --tone-adjustment."
#define HINT_IDTC ". To use --bw-mode, specify iDTC for --bw-mode in advance."
#define HINT_MERGE " Before setting this option, specify Yes for --front-back-merging."

#define SAME(text) \
  { text, text }
#define PAIR(text, hint) \
  { text, text hint }

const char* const kDescriptions[OPTION_TOTAL_NUM][2] = {
    SAME(""),
    SAME("Source, mode and resolution options"),
    SAME("Select the scan source (such as a document-feeder)."),
    SAME("Select the scan mode (e.g., lineart, monochrome, or color)."),
    SAME("Set the resolution of the scanned image."),
    SAME("Source, mode and resolution options"),
    SAME("Top-left x position of scan area."),
    SAME("Top-left y position of scan area."),
    SAME("Bottom-right x position of scan area."),
    SAME("Bottom-right y position of scan area."),
    PAIR("Specify the width of the media. Required for automatic centering of sheet-fed scans.", HINT_PAPER),
    PAIR("Specify the height of the media.", HINT_PAPER),
    SAME("Specify the scan window geometry by specifying the paper size of the documents to be scanned."),
    SAME("Automatic page size detection."),
    SAME("Specify how to crop the output image."),
    SAME("Image modification options"),
    SAME("Adjust the color tone of the output image."),
    PAIR("Control the brightness of the acquired image.", HINT_TONE),
    PAIR("Control the contrast of the acquired image.", HINT_TONE),
    PAIR("Adjust the density in the dark tone areas.", HINT_TONE),
    PAIR("Adjust the brightness in the light tone areas.", HINT_TONE),
    PAIR("Adjust the brightness(luminosity) in the mid-tone areas.", HINT_TONE),
    PAIR("Select minimum-brightness to get a white point",
         ". Before setting this option, specify Threshold for --bw-mode."),
    PAIR("Specify the processing method for binarization", ". Before setting this option, specify Lineart for --mode."),
    PAIR("Adjust the sensitivity. Increase sensitivity to generate a more detailed, finer image", HINT_IDTC),
    PAIR("Adjust the threshold value of the background. Increase threshold to brighten the background and clear any "
         "background unevenness",
         HINT_IDTC),
    PAIR("DTC Variance", ". To use --bw-mode, specify SDTC for --bw-mode in advance."),
    SAME("Automatically feed"),
    SAME("Fill in the top margin of the scanned image."),
    SAME("Fill in the bottom margin of the scanned image."),
    SAME("Fill in the left margin of the scanned image."),
    SAME("Fill in the right margin of the scanned image."),
    SAME("Hardware specific options."),
    SAME("Specify how to proceed when a multifeed is detected."),
    PAIR("Specify the method of overlapping for multifeed detection.",
         " Before setting this option, specify Stop for --multifeed-detection."),
    SAME("One-pass scanners use only one color during gray or binary scanning, useful for colored paper or ink"),
    PAIR("Specify an option for the sharpness of an output image.",
         " Before setting this option, specify a value for --mode."),
    SAME("Blank pages in the Documents can be detected and automatically deleted during scanning"),
    PAIR("The larger value is set, the more likely for the pages to be detected as blank.",
         " Before setting this option, specify Yes for --blank-page-skip."),
    SAME("Correct the image orientation. Specify a rotating direction for an image."),
    PAIR("Smoothen the background of the image, and suppresses uneven coloring and density.",
         " Before setting this option, specify Color or Gray for --mode."),
    PAIR("Adjust the smoothness level.",
         " Before setting this option, specify Automatic or White for --color-cleanup."),
    SAME("The front and back side images of a document resulting from duplex scanning are merged and saved as a "
         "single image."),
    PAIR("Specify the position of the back side.", HINT_MERGE),
    PAIR("Specify the orientation of the back side.", HINT_MERGE),
    SAME("Split the image horizontally in the middle."),
    SAME("Get the status of Hardware"),
    SAME("Get the status of Hardware Error"),
};

#undef SAME
#undef PAIR

const char* Desc(int option) { return tszOptionDescs[option][g_bIsXsane ? 0 : 1]; }

constexpr SANE_Int S = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int A = S | SANE_CAP_ADVANCED;
constexpr SANE_Int I = SANE_CAP_INACTIVE;

void Blank(SANE_Option_Descriptor* d) {
  SetOption(d, "", "", "", SANE_TYPE_BOOL, SANE_UNIT_NONE, sizeof(SANE_Word), I, SANE_CONSTRAINT_NONE, nullptr);
}

void Group(int option, const char* name, const char* title) {
  SetOption(&g_OptList[option], name, title, Desc(option), SANE_TYPE_GROUP, SANE_UNIT_NONE, sizeof(SANE_Word), I,
            SANE_CONSTRAINT_NONE, nullptr);
}

void List(int option, const char* name, const char* title, SANE_Int cap, const SANE_String_Const* list, int value) {
  SetOption(&g_OptList[option], name, title, Desc(option), SANE_TYPE_STRING, SANE_UNIT_NONE, GetMaxLength(list), cap,
            SANE_CONSTRAINT_STRING_LIST, list);
  g_OptSelected[option] = value;
}

void Ranged(int option, const char* name, const char* title, SANE_Value_Type type, SANE_Unit unit, SANE_Int cap,
            const SANE_Range* range, int value) {
  SetOption(&g_OptList[option], name, title, Desc(option), type, unit, sizeof(SANE_Word), cap, SANE_CONSTRAINT_RANGE,
            range);
  g_OptSelected[option] = value;
}

void Bool(int option, const char* name, const char* title, SANE_Int cap, int value) {
  SetOption(&g_OptList[option], name, title, Desc(option), SANE_TYPE_BOOL, SANE_UNIT_NONE, sizeof(SANE_Word), cap,
            SANE_CONSTRAINT_NONE, nullptr);
  g_OptSelected[option] = value;
}

bool InMap(int code, const OPTION_VALUE* map, int count) { return GetOptValue(code, map, count) != nullptr; }

// Fills options 1 to 47 with their defaults.
SANE_Status FillOptions() {
  const bool hasDropout = g_FSIP_DROPOUTCOLOREXFunction != nullptr;
  const bool hasControl = g_FSIPCTLFucntion != nullptr;
  const bool hasJudge = g_BPDFunction != nullptr;

  // Front ends read the option count through option 0 as SANE defines it:
  // an active integer that they may only get.
  SetOption(&g_OptList[OPTION_NUM_OPTS], SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, Desc(OPTION_NUM_OPTS),
            SANE_TYPE_INT, SANE_UNIT_NONE, sizeof(SANE_Word), SANE_CAP_SOFT_DETECT, SANE_CONSTRAINT_NONE, nullptr);
  Group(OPTION_STANDARD_GROUP, "standard", "Standard");
  if (g_tpOptListInfo->bHasSource) {
    const SANE_String_Const* list = g_tpOptListInfo->cppSourceList;
    if (IsHasFlatbed(list, &g_bHasFlatbed) != SANE_STATUS_GOOD) {
      WriteLog(LOG_LEVEL_ERROR, "CreateOptList", "IsHasFlatbed() != SANE_STATUS_GOOD");
      return SANE_STATUS_INVAL;
    }
    SANE_Int cap = S;
    if (g_bIsSimpleScan) {
      list = g_bHasFlatbed ? KELO_SIMPLE_SCAN_SOURCE_LIST : KELO_SIMPLE_SCAN_NF_SOURCE_LIST;
      cap |= SANE_CAP_AUTOMATIC;
    }
    List(OPTION_SOURCE, "source", "Scan source", cap, list, g_tpOptListInfo->iDefaultSource);
  }
  List(OPTION_MODE, "mode", "Scan mode", S, hasDropout ? KELO_MODE_LIST : KELO_HARDWARE_MODE_LIST, 2);
  Ranged(OPTION_RESOLUTION, "resolution", "Scan resolution", SANE_TYPE_INT, SANE_UNIT_DPI, S, &g_tResolutionRange, 200);
  Group(OPTION_GEOMETRY_GROUP, "standard", "Standard");
  Ranged(OPTION_TL_X, "tl-x", "Top-left x", SANE_TYPE_FIXED, SANE_UNIT_MM, S, &g_tTopLeftXRange, 0);
  Ranged(OPTION_TL_Y, "tl-y", "Top-left y", SANE_TYPE_FIXED, SANE_UNIT_MM, S, &g_tTopLeftYRange, 0);
  Ranged(OPTION_BR_X, "br-x", "Bottom-right x", SANE_TYPE_FIXED, SANE_UNIT_MM, S, &g_tBottomRightXRange, 0xD20000);
  Ranged(OPTION_BR_Y, "br-y", "Bottom-right y", SANE_TYPE_FIXED, SANE_UNIT_MM, S, &g_tBottomRightYRange, 0x1290000);
  Ranged(OPTION_PAGE_WIDTH, "page-width", "Page width", SANE_TYPE_FIXED, SANE_UNIT_MM, S, &g_tPageWidthRange, 0xD20000);
  Ranged(OPTION_PAGE_HEIGHT, "page-height", "Page height", SANE_TYPE_FIXED, SANE_UNIT_MM, S, &g_tPageHeightRange,
         0x1290000);

  const OPTION_VALUE* paperMap;
  int paperCount;
  GetPaperSizeMap(&paperMap, &paperCount);
  const SANE_String_Const* paperList = GetDevFamily() == KELO_FAMILY_BRENNA   ? KELO_PAPERSIZE_LIST_BRENNA
                                       : GetDevFamily() == KELO_FAMILY_SELKO2 ? KELO_PAPERSIZE_LIST_SELKO2
                                                                              : KELO_PAPERSIZE_LIST;
  int paper = 1;
  if (g_bIsSimpleScan) {
    paper = g_tSimpleScanConf;
    if (!InMap(paper, paperMap, paperCount)) {  // a size this model does not have
      WriteLog(LOG_LEVEL_ERROR, "CreateOptList", "g_tSimpleScanConf is not a paper size of this device");
      paper = 1;
    }
  }
  List(OPTION_PAPER_SIZE, "paper-size", "Paper size", S, paperList, paper);
  Bool(OPTION_PAGE_AUTO, "page-auto", "Page auto", hasControl ? S : I, hasControl ? 1 : 0);
  List(OPTION_CROPPING, "cropping", "Cropping", S, KELO_CROPPING_LIST, 0);

  Group(OPTION_ENHANCEMENT_GROUP, "enhancement", "Enhancement");
  List(OPTION_TONE_ADJUSTMENT, "tone-adjustment", "Tone adjustment", S, KELO_TONE_ADJUSTMENT_LIST, 0);
  Ranged(OPTION_BRIGHTNESS, "brightness", "Brightness", SANE_TYPE_INT, SANE_UNIT_NONE, S, &kToneRange, 0);
  Ranged(OPTION_CONTRAST, "contrast", "Contrast", SANE_TYPE_INT, SANE_UNIT_NONE, S, &kToneRange, 0);
  // Only the Selko2 family offers the tone presets that the hint names.
  if (GetDevFamily() != KELO_FAMILY_SELKO2)
    for (int option : {OPTION_BRIGHTNESS, OPTION_CONTRAST}) g_OptList[option].desc = tszOptionDescs[option][0];
  Ranged(OPTION_SHADOW, "shadow", "Shadow", SANE_TYPE_INT, SANE_UNIT_NONE, S, &kShadowRange, 10);
  Ranged(OPTION_HIGHLIGHT, "highlight", "Highlight", SANE_TYPE_INT, SANE_UNIT_NONE, S, &kHighlightRange, 230);
  Ranged(OPTION_GAMMA, "gamma", "Gamma", SANE_TYPE_FIXED, SANE_UNIT_NONE, S, &kGammaRange, 0x19999);
  Ranged(OPTION_THRESHOLD, "threshold", "Threshold", SANE_TYPE_INT, SANE_UNIT_NONE, hasDropout ? S : I,
         &kThresholdRange, 128);
  List(OPTION_BW_MODE, "bw-mode", "Binarization method", S, KELO_BW_MODE_LIST, 0);
  Ranged(OPTION_BW_IDTC_SENSITIVITY, "bw-idtc-sensitivity", "iDTC Sensitivity", SANE_TYPE_INT, SANE_UNIT_NONE, S,
         &kIdtcRange, 0);
  Ranged(OPTION_BW_IDTC_BACKGROUND_THRESHOLD, "bw-idtc-background-threshold", "iDTC Background Threshold",
         SANE_TYPE_INT, SANE_UNIT_NONE, S, &kIdtcRange, 0);
  List(OPTION_BW_SDTC_VARIANCE, "bw-sdtc-variance", "DTC Variance", S, KELO_BW_SDTC_VARIANCE_LIST_COMMON, 96);
  Bool(OPTION_AUTOFEED, "autofeed", "Autofeed", S, 1);
  Ranged(OPTION_EDGE_FILLER_TOP, "edge-filler-top", "Edge-filler-top", SANE_TYPE_FIXED, SANE_UNIT_MM, S,
         &kEdgeFillerRange, 0);
  Ranged(OPTION_EDGE_FILLER_BOTTOM, "edge-filler-bottom", "Edge-filler-bottom", SANE_TYPE_FIXED, SANE_UNIT_MM, S,
         &kEdgeFillerRange, 0);
  Ranged(OPTION_EDGE_FILLER_LEFT, "edge-filler-left", "Edge-filler-left", SANE_TYPE_FIXED, SANE_UNIT_MM, S,
         &kEdgeFillerRange, 0);
  Ranged(OPTION_EDGE_FILLER_RIGHT, "edge-filler-right", "Edge-filler-right", SANE_TYPE_FIXED, SANE_UNIT_MM, S,
         &kEdgeFillerRange, 0);

  Group(OPTION_ADVANCED_GROUP, "advanced", "Advanced");
  List(OPTION_DF_ACTION, "multifeed-detection", "Multifeed detection", A, KELO_DF_ACTION_LIST, 0);
  Bool(OPTION_MF_OVERLAPPING, "mf-overlapping", "Mf overlapping", A | I, 0);
  if (hasDropout)
    List(OPTION_DROP_OUT, "dropoutcolor", "Dropout color", A, KELO_DROPOUT_COLOR_LIST_COMMON, 3);
  else
    g_OptSelected[OPTION_DROP_OUT] = 3;
  List(OPTION_CLEANUP_SHARPNESS_COLOR, "cleanup-sharpness", "Cleanup sharpness", A, KELO_IMAGE_EMPHASIS_LIST_COMMON, 0);
  Bool(OPTION_BLANK_PAGE_SKIP, "blank-page-skip", "Blank page skip", hasJudge ? A : I, 0);
  Ranged(OPTION_BLANK_PAGE_SKIP_SENSITIVITY, "blank-page-skip-sensitivity", "Blank page skip sensitivity",
         SANE_TYPE_INT, SANE_UNIT_NONE, hasJudge ? A | I : I, &kBlankSensitivityRange, 3);
  List(OPTION_ROTATION, "rotation", "Rotation", A, KELO_ROTATION_LIST, 0);
  List(OPTION_COLOR_CLEANUP, "color-cleanup", "Color cleanup", A, KELO_COLOR_CLEANUP_LIST, 0);
  Ranged(OPTION_COLOR_CLEANUP_CLEANNESS, "color-cleanup-cleanness", "Color cleanup cleanness", SANE_TYPE_INT,
         SANE_UNIT_NONE, A, &kCleannessRange, 0);
  Bool(OPTION_FRONT_BACK_MERGING, "front-back-merging", "Front back merging", A, 0);
  List(OPTION_BACK_SIDE_LOCATION, "back-side-location", "Back side location", A, KELO_BACK_SIDE_LOCATION_LIST, 0);
  List(OPTION_BACK_SIDE_ROTATION, "back-side-rotation", "Back side rotation", A, KELO_BACK_SIDE_ROTATION_LIST, 0);
  Bool(OPTION_SPLIT_IMAGE, "split-image", "Split image", A, 0);
  SetOption(&g_OptList[OPTION_GET_SC_STATUS], "get-sc-status", "Get Sc status", Desc(OPTION_GET_SC_STATUS),
            SANE_TYPE_STRING, SANE_UNIT_NONE, 11, S, SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&g_OptList[OPTION_GET_SC_ERROR], "get-sc-error", "Get Sc error", Desc(OPTION_GET_SC_ERROR),
            SANE_TYPE_STRING, SANE_UNIT_NONE, 11, S, SANE_CONSTRAINT_NONE, nullptr);
  return SANE_STATUS_GOOD;
}

// Copies a text, NUL included, into a front end's value buffer of the
// option's size, cut to fit.
void CopyText(void* value, const char* text, SANE_Int size) {
  if (size <= 0) return;
  const size_t length = strnlen(text, static_cast<size_t>(size) - 1);
  memcpy(value, text, length);
  static_cast<char*>(value)[length] = '\0';
}

struct ListOption {
  int option;
  const char* message;
};

const ListOption kListOptions[] = {
    {OPTION_SOURCE, "OPTION_SOURCE cpVlaue == NULL"},
    {OPTION_MODE, "OPTION_MODE cpVlaue == NULL"},
    {OPTION_PAPER_SIZE, "OPTION_PAPER_SIZE cpVlaue == NULL"},
    {OPTION_CROPPING, "OPTION_CROPPING cpVlaue == NULL"},
    {OPTION_TONE_ADJUSTMENT, "OPTION_TONE_ADJUSTMENT cpVlaue == NULL"},
    {OPTION_BW_MODE, "OPTION_BW_MODE cpVlaue == NULL"},
    {OPTION_BW_SDTC_VARIANCE, "OPTION_BW_SDTC_VARIANCE cpVlaue == NULL"},
    {OPTION_DF_ACTION, "OPTION_DF_ACTION cpVlaue == NULL"},
    {OPTION_DROP_OUT, "OPTION_DROP_OUT cpVlaue == NULL"},
    {OPTION_CLEANUP_SHARPNESS_COLOR, "OPTION_CLEANUP_SHARPNESS_COLOR cpVlaue == NULL"},
    {OPTION_ROTATION, "OPTION_ROTATION cpVlaue == NULL"},
    {OPTION_COLOR_CLEANUP, "OPTION_COLOR_CLEANUP cpVlaue == NULL"},
    {OPTION_BACK_SIDE_LOCATION, "OPTION_BACK_SIDE_LOCATION cpVlaue == NULL"},
    {OPTION_BACK_SIDE_ROTATION, "OPTION_BACK_SIDE_ROTATION cpVlaue == NULL"},
};

// The map that turns the option's code into its text.
void MapOf(int option, const OPTION_VALUE** map, int* count) {
  switch (option) {
    case OPTION_SOURCE:
      *map = GetSourceMap(), *count = 4;
      break;
    case OPTION_MODE:
      *map = KELO_MODE, *count = 3;
      break;
    case OPTION_PAPER_SIZE:
      GetPaperSizeMap(map, count);
      break;
    case OPTION_CROPPING:
      *map = KELO_CROPPING, *count = 4;
      break;
    case OPTION_TONE_ADJUSTMENT:
      *map = KELO_TONE_ADJUSTMENT, *count = 6;
      break;
    case OPTION_BW_MODE:
      *map = KELO_BW_MODE, *count = 4;
      break;
    case OPTION_BW_SDTC_VARIANCE:
      *map = KELO_BW_SDTC_VARIANCE, *count = 3;
      break;
    case OPTION_DF_ACTION:
      *map = KELO_DF_ACTION, *count = 2;
      break;
    case OPTION_DROP_OUT:
      *map = KELO_DROPOUT_COLOR, *count = 5;
      break;
    case OPTION_CLEANUP_SHARPNESS_COLOR:
      *map = g_tpCsOptVal, *count = g_iCsNum;
      break;
    case OPTION_ROTATION:
      *map = KELO_ROTATION, *count = 5;
      break;
    case OPTION_COLOR_CLEANUP:
      *map = KELO_COLOR_CLEANUP, *count = 3;
      break;
    case OPTION_BACK_SIDE_LOCATION:
      *map = KELO_BACK_SIDE_LOCATION, *count = 4;
      break;
    case OPTION_BACK_SIDE_ROTATION:
      *map = KELO_BACK_SIDE_ROTATION, *count = 2;
      break;
    default:
      *map = nullptr, *count = 0;
      break;
  }
}

SANE_Status GetScannerText(int option, void* value) {
  if (GetDevFamily() != KELO_FAMILY_SELKO2) return SANE_STATUS_UNSUPPORTED;
  if (!g_pSelko2Link) {
    WriteLog(LOG_LEVEL_ERROR, "GetControlOption", "g_pCSelko2ScanFunc == NULL");
    return SANE_STATUS_INVAL;
  }
  unsigned int lastError = 0;
  unsigned int word = 0;
  if (option == OPTION_GET_SC_STATUS) {
    unsigned char szData[32] = {0};
    if (!g_pSelko2Link->GetCurrentScannerStatus(szData, &lastError)) {
      WriteLog(LOG_LEVEL_ERROR, "GetControlOption",
               "g_pCSelko2ScanFunc->GetCurrentScannerStatus(szData, &dwLastError) != TRUE");
      return g_pSelko2Link->ConvertToSaneErr(lastError);
    }
    word = static_cast<unsigned int>(szData[3]) << 24;
  } else {
    if (!g_pSelko2Link->ReadSCErrorInfo(&word, &lastError)) {
      WriteLog(LOG_LEVEL_ERROR, "GetControlOption", "g_pCSelko2ScanFunc->ReadSCErrorInfo(szData) != TRUE");
      return g_pSelko2Link->ConvertToSaneErr(lastError);
    }
  }
  char text[16];
  snprintf(text, sizeof text, "0x%08X", word);
  CopyText(value, text, 11);
  return SANE_STATUS_GOOD;
}

}  // namespace

void CreateOptionDescription() {
  for (int i = 0; i < OPTION_TOTAL_NUM; ++i) {
    tszOptionDescs[i][0] = kDescriptions[i][0];
    tszOptionDescs[i][1] = kDescriptions[i][1];
  }
}

KELO_DEVICE_OPTION_CONTROL_INFO* GetDevCtlByDevInfo(int vendorId, int productId) {
  for (auto& row : KELO_DEVICE_OPTION_CONTROL)
    if (row.iVendorId == vendorId && row.iProductId == productId) return &row;
  return nullptr;
}

SANE_Status LoadPaperSize(int code, const DEFAULT_PAPER_SIZE* table, int count) {
  if (!table) {
    WriteLog(LOG_LEVEL_ERROR, "LoadPaperSize", "tpPaperSize == NULL");
    return SANE_STATUS_INVAL;
  }
  for (int i = 0; i < count; ++i) {
    if (table[i].iCode != code) continue;
    g_OptSelected[OPTION_PAGE_WIDTH] = static_cast<SANE_Word>(table[i].dWidth * 65536.0);
    g_OptSelected[OPTION_PAGE_HEIGHT] = static_cast<SANE_Word>(table[i].dHeight * 65536.0);
    return SANE_STATUS_GOOD;
  }
  WriteLog(LOG_LEVEL_ERROR, "LoadPaperSize", "paper size code not found");
  return SANE_STATUS_INVAL;
}

SANE_Status CreateOptList(int vendorId, int productId, const char* xmlPath) {
  CLogScope scope("CreateOptList");
  memset(g_OptList, 0, sizeof g_OptList);
  memset(g_OptSelected, 0, sizeof g_OptSelected);
  for (auto& d : g_OptList) Blank(&d);
  // A newly opened device starts from the built-in ranges, not from what an
  // earlier device's settings left in them.
  g_tResolutionRange = kResolutionRange;
  g_tTopLeftXRange = kTopLeftXRange;
  g_tTopLeftYRange = kTopLeftYRange;
  g_tBottomRightXRange = kBottomRightXRange;
  g_tBottomRightYRange = kBottomRightYRange;
  g_tPageWidthRange = kBottomRightXRange;
  g_tPageHeightRange = kBottomRightYRange;
  g_cpCSList = KELO_IMAGE_EMPHASIS_LIST_COMMON;
  g_tpCsOptVal = KELO_IMAGE_EMPHASIS;
  g_iCsNum = 8;
  g_bModeChange = 0;
  g_bHasFlatbed = 0;

  g_tpDevCtlInfo = GetDevCtlByDevInfo(vendorId, productId);
  if (!g_tpDevCtlInfo) {
    g_tpOptListInfo = nullptr;
    g_iDevType = INVALID_VALUE;
    WriteLog(LOG_LEVEL_ERROR, "CreateOptList", "g_tpDevCtlInfo == NULL");
    return SANE_STATUS_UNSUPPORTED;
  }
  g_tpOptListInfo = &g_tpDevCtlInfo->tOptListInfo;
  g_iDevType = g_tpDevCtlInfo->iDevType;
  if (g_iDevType == INVALID_VALUE) {
    WriteLog(LOG_LEVEL_ERROR, "CreateOptList", "g_iDevType == INVALID_VALUE");
    return SANE_STATUS_INVAL;
  }

  g_OptSelected[OPTION_NUM_OPTS] = OPTION_TOTAL_NUM;
  CreateOptionDescription();
  SANE_Status status = FillOptions();
  if (status != SANE_STATUS_GOOD) return status;

  switch (GetDevFamily()) {
    case KELO_FAMILY_BRENNA:
      g_tPageWidthRange = {0x71FFFF, KELO_LENGTH_216MM, 1387};
      g_tPageHeightRange = {0x8BFFFF, KELO_LENGTH_3175MM, 1387};
      break;
    case KELO_FAMILY_SELKO2:
      g_tPageWidthRange = {0x19FFFF, KELO_LENGTH_216MM, 1387};
      g_tPageHeightRange = {0x19FFFF, KELO_LENGTH_3175MM, 1387};
      break;
    default:
      break;
  }
  g_tTopLeftXRange.max = g_tBottomRightXRange.max = g_OptSelected[OPTION_PAGE_WIDTH];
  g_tTopLeftYRange.max = g_tBottomRightYRange.max = g_OptSelected[OPTION_PAGE_HEIGHT];

  SetOptDefaultValueFromXmlFile(g_tpDevCtlInfo->cpModel, xmlPath);
  GetSelectedInfo();
  ReloadOptions();
  return SANE_STATUS_GOOD;
}

const SANE_Option_Descriptor* GetOptionDescriptor(int option) {
  if (option < 0 || option >= OPTION_TOTAL_NUM) {
    WriteLog(LOG_LEVEL_ERROR, "GetOptionDescriptor", "siOption < 0 || siOption >= OPTION_TOTAL_NUM");
    return nullptr;
  }
  return &g_OptList[option];
}

SANE_Status GetControlOption(int option, void* value) {
  if (option < 0 || option >= OPTION_TOTAL_NUM) {
    WriteLog(LOG_LEVEL_ERROR, "GetControlOption", "siOption < 0 || siOption >= OPTION_TOTAL_NUM");
    return SANE_STATUS_INVAL;
  }
  if (!value) {
    WriteLog(LOG_LEVEL_ERROR, "GetControlOption", "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  for (const ListOption& lo : kListOptions) {
    if (lo.option != option) continue;
    // An option the table left out ("dropoutcolor" without its library)
    // has no text and a 4-byte value.
    if (g_OptList[option].type != SANE_TYPE_STRING) {
      WriteLog(LOG_LEVEL_ERROR, "GetControlOption", "option not offered");
      return SANE_STATUS_INVAL;
    }
    const OPTION_VALUE* map;
    int count;
    MapOf(option, &map, &count);
    const char* text = GetOptValue(g_OptSelected[option], map, count);
    if (!text) {
      WriteLog(LOG_LEVEL_ERROR, "GetControlOption", lo.message);
      return SANE_STATUS_INVAL;
    }
    CopyText(value, text, g_OptList[option].size);
    return SANE_STATUS_GOOD;
  }
  if (option == OPTION_GET_SC_STATUS || option == OPTION_GET_SC_ERROR) return GetScannerText(option, value);
  *static_cast<SANE_Word*>(value) = g_OptSelected[option];
  return SANE_STATUS_GOOD;
}

SANE_Status CheckSetValue(const SANE_Option_Descriptor* desc, void* value, SANE_Int* info) {
  const int option = (desc >= g_OptList && desc < g_OptList + OPTION_TOTAL_NUM) ? int(desc - g_OptList) : -1;
  return CheckOptionValue(desc, value, info, option, g_OptSelected);
}
