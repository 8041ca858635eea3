// The main backend's option table: value maps and lists, the device table, and
// the descriptors built for the opened device.
#include "main_options.h"

#include <sane/saneopts.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dravn_paths.h"
#include "kelo_devctl.h"
#include "log.h"
#include "main_globals.h"
#include "main_option_helpers.h"
#include "model_catalog.h"

namespace dravnmain {

namespace opt {

void Err(const char* function, const char* text) { WriteLog(LOG_LEVEL_ERROR, function, text); }

// Value tables.
const OPTION_VALUE KELO_SOURCE[] = {{0, "Flatbed"}, {1, "ADF Front"}, {2, "ADF Back"}, {3, "ADF Duplex"}};
const OPTION_VALUE KELO_MODE[] = {{0, "Lineart"}, {1, "Halftone"}, {2, "Gray"}, {3, "Color"}};
const OPTION_VALUE KELO_PAPERSIZE[] = {{0, "Custom"}, {1, "A4"},   {2, "A5"},       {3, "A6"},
                                       {4, "B5"},     {5, "B6"},   {6, "Postcard"}, {7, "Business card"},
                                       {8, "Letter"}, {9, "Legal"}};
const OPTION_VALUE KELO_PAGE_AUTO_PRIORITY[] = {{0, "Speed"}, {1, "Accuracy"}};
const OPTION_VALUE KELO_IMAGE_INDEX_TAB[] = {{0, "On"}, {1, "Off"}};
const OPTION_VALUE KELO_HALFTONE_TYPE[] = {{0, "Dither"}, {1, "Diffution"}};
const OPTION_VALUE KELO_BW_SDTC_VARIANCE[] = {{1, "Low"}, {96, "Mid"}, {192, "High"}};
const OPTION_VALUE KELO_JPEG_TYPE[] = {{129, "444"}, {130, "422"}, {131, "411"}};
const OPTION_VALUE KELO_JPEG_QULITY[] = {{1, "1"}, {2, "2"}, {3, "3"}, {4, "4"}, {5, "5"}, {6, "6"}, {7, "7"}};
const OPTION_VALUE KELO_DF_ACTION[] = {{0, "Continue"}, {1, "Stop"}};
const OPTION_VALUE KELO_BACKGROUND[] = {{0, "White"}, {1, "Black"}};
const OPTION_VALUE KELO_DROPOUT_COLOR[] = {
    {0, "Hardware-Setting"}, {1, "White"}, {2, "Red"}, {3, "Green"}, {4, "Blue"}, {5, "None"}};
const OPTION_VALUE KELO_POWER_OFF[] = {{0, "None"}, {1, "1 hour"}, {2, "2 hours"}, {3, "4 hours"}, {4, "8 hours"}};
const OPTION_VALUE KELO_PAPER_PROTECTION[] = {{0, "On"}, {1, "Off"}, {2, "Hardware-Setting"}};
const OPTION_VALUE KELO_PREPICK[] = {{0, "On"}, {1, "Off"}};
const OPTION_VALUE KELO_EDGE_PROCESSING[] = {
    {0, "None"}, {160, "Smoothing"}, {96, "Emphasis high"}, {64, "Emphasis mid"}, {32, "Emphasis low"}};
const OPTION_VALUE KELO_IMAGE_EMPHASIS[] = {{0, "None"},
                                            {96, "Emphasis high"},
                                            {64, "Emphasis mid"},
                                            {32, "Emphasis low"},
                                            {128, "DeScreen Level 1"},
                                            {160, "DeScreen Level 2"},
                                            {192, "DeScreen Level 3"},
                                            {224, "DeScreen Level 4"}};
const OPTION_VALUE KELO_HOLE_PUNCH_REMOVE[] = {{0, "Do not remove"}, {1, "Fill with white"}, {2, "Background color"}};

// String lists offered to the front end.
SANE_String_Const KELO_SOURCE_LIST_ADF[] = {"ADF Front", "ADF Back", "ADF Duplex", nullptr};
SANE_String_Const KELO_SOURCE_LIST[] = {"Flatbed", "ADF Front", "ADF Back", "ADF Duplex", nullptr};
SANE_String_Const KELO_MODE_LIST[] = {"Lineart", "Halftone", "Gray", "Color", nullptr};
SANE_String_Const KELO_PAPERSIZE_LIST[] = {"Custom",        "A4",     "A5",    "A6",   "B5", "B6", "Postcard",
                                           "Business card", "Letter", "Legal", nullptr};
SANE_String_Const KELO_PAGE_AUTO_PRIORITY_LIST[] = {"Speed", "Accuracy", nullptr};
SANE_String_Const KELO_IMAGE_INDEX_TAB_LIST[] = {"On", "Off", nullptr};
SANE_String_Const KELO_HALFTONE_TYPE_LIST[] = {"Dither", "Diffution", nullptr};
SANE_String_Const KELO_BW_SDTC_VARIANCE_LIST[] = {"Low", "Mid", "High", nullptr};
SANE_String_Const KELO_JPEG_TYPE_LIST[] = {"444", "422", "411", nullptr};
SANE_String_Const KELO_JPEG_QULITY_LIST[] = {"1", "2", "3", "4", "5", "6", "7", nullptr};
SANE_String_Const KELO_DF_ACTION_LIST[] = {"Continue", "Stop", nullptr};
SANE_String_Const KELO_DROPOUT_COLOR_LIST_COMMON[] = {"White", "Red", "Green", "Blue", "None", nullptr};
SANE_String_Const KELO_HARDWARE_DROPOUT_COLOR_LIST_COMMON[] = {
    "Hardware-Setting", "Red", "Green", "Blue", "None", nullptr};
SANE_String_Const KELO_POWER_OFF_LIST[] = {"None", "1 hour", "2 hours", "4 hours", "8 hours", nullptr};
SANE_String_Const KELO_PAPER_PROTECTION_LIST[] = {"On", "Off", "Hardware-Setting", nullptr};
SANE_String_Const KELO_PREPICK_LIST[] = {"On", "Off", nullptr};
SANE_String_Const KELO_EDGE_PROCESSING_LIST[] = {"None",         "Smoothing",    "Emphasis high",
                                                 "Emphasis mid", "Emphasis low", nullptr};
SANE_String_Const KELO_IMAGE_EMPHASIS_LIST[] = {"None",
                                                "Emphasis high",
                                                "Emphasis mid",
                                                "Emphasis low",
                                                "DeScreen Level 1",
                                                "DeScreen Level 2",
                                                "DeScreen Level 3",
                                                "DeScreen Level 4",
                                                nullptr};
SANE_String_Const KELO_HOLE_PUNCH_REMOVE_LIST[] = {"Do not remove", "Fill with white", "Background color", nullptr};

// Fixed ranges.
const SANE_Range kResolutionRange = {50, 600, 1};
const SANE_Range kBrightnessRange = {-127, 127, 1};
const SANE_Range kThresholdRange = {0, 255, 1};
const SANE_Range kHtPatternRange = {0, 3, 1};
const SANE_Range kCroppingMarginRange = {-5, 5, 1};
const SANE_Range kSleepTimerRange = {0, 60, 1};
const SANE_Range kSensitivityRange = {1, 5, 1};
const SANE_Range kDotsRatioRange = {0, 3, 1};

// Option blocks of the rows. Only the Docuvane rows are ever opened here;
// the others only name their devices.
constexpr OPTION_INFO kAbsent = {0, nullptr, -1};
constexpr OPTION_LIST_INFO kDocuvaneAdfBlock = {
    {1, KELO_SOURCE_LIST_ADF, 1}, kAbsent, {1, KELO_PREPICK_LIST, 0}, {1, &kSleepTimerRange, 0}};
constexpr OPTION_LIST_INFO kDocuvaneFlatbedBlock = {
    {1, KELO_SOURCE_LIST, 0}, kAbsent, {1, KELO_PREPICK_LIST, 0}, {1, &kSleepTimerRange, 0}};
constexpr OPTION_LIST_INFO kForwardedBlock = {kAbsent, kAbsent, kAbsent, kAbsent};

constexpr DEVICE_OPTION_CONTROL Row(const dravn::CatalogModel& m, int type, const OPTION_LIST_INFO& block,
                                    const char* profile) {
  return {m.vendorId, m.productId, dravn::kVendorText, "scanner", m.model, type, block, profile};
}

#ifdef DRAVN_CORVANE5_TEST_ROWS
// Only the test copy of the backend names the Corvane5 scanners: the first
// group with a flatbed, the second an ADF with a background-colour choice.
SANE_String_Const kTestBackgroundList[] = {"White", "Black", nullptr};
constexpr OPTION_LIST_INFO kCorvane5AdfBlock = {
    {1, KELO_SOURCE_LIST_ADF, 1}, {1, kTestBackgroundList, 0}, {1, KELO_PREPICK_LIST, 0}, {1, &kSleepTimerRange, 0}};
const DEVICE_OPTION_CONTROL kCorvane5TestRows[14] = {
    Row(dravn::kTavrin5Models[0], 31, kDocuvaneFlatbedBlock, nullptr),
    Row(dravn::kTavrin5Models[1], 32, kDocuvaneFlatbedBlock, nullptr),
    Row(dravn::kTavrin5Models[2], 33, kDocuvaneFlatbedBlock, nullptr),
    Row(dravn::kTavrin5Models[3], 34, kDocuvaneFlatbedBlock, nullptr),
    Row(dravn::kTavrin5EModels[0], 36, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[1], 37, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[2], 38, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[3], 39, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[4], 40, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[5], 41, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[6], 42, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[7], 43, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[8], 44, kCorvane5AdfBlock, nullptr),
    Row(dravn::kTavrin5EModels[9], 45, kCorvane5AdfBlock, nullptr),
};
#endif

static_assert(OPTION_SOURCE == SHARED_OPTION_SOURCE && OPTION_TL_X == SHARED_OPTION_TL_X &&
                  OPTION_PAGE_HEIGHT == SHARED_OPTION_PAGE_HEIGHT && OPTION_PAPER_SIZE == SHARED_OPTION_PAPER_SIZE &&
                  OPTION_PAGE_AUTO == SHARED_OPTION_PAGE_AUTO,
              "the area options stand where the shared checks look for them");

bool IsCorvane5Type(int t) { return (t >= 31 && t <= 34) || (t >= 36 && t <= 45); }
bool IsAdf(int source) { return source != 0; }

int* ReloadFlagOf(int option) {
  static int* const kFlags[6] = {&g_iTopLeftXReload,     &g_iTopLeftYReload, &g_iBottomRightXReload,
                                 &g_iBottomRightYReload, &g_iPageWidthReload, &g_iPageHeightReload};
  return kFlags[AreaIndex(option)];
}

MapRef MapOf(int option) {
  switch (option) {
    case OPTION_SOURCE:
      return {KELO_SOURCE, Count(KELO_SOURCE), "SOURCE"};
    case OPTION_MODE:
      return {KELO_MODE, Count(KELO_MODE), "MODE"};
    case OPTION_PAPER_SIZE:
      return {KELO_PAPERSIZE, Count(KELO_PAPERSIZE), "PAPER_SIZE"};
    case OPTION_PAGE_AUTO_PRIORITY:
      return {KELO_PAGE_AUTO_PRIORITY, Count(KELO_PAGE_AUTO_PRIORITY), "PAGE_AUTO_PRIORITY"};
    case OPTION_IMAGE_INDEX_TAB:
      return {KELO_IMAGE_INDEX_TAB, Count(KELO_IMAGE_INDEX_TAB), "IMAGE_INDEX_TAB"};
    case OPTION_HT_TYPE:
      return {KELO_HALFTONE_TYPE, Count(KELO_HALFTONE_TYPE), "HT_TYPE"};
    case OPTION_BW_SDTC_VARIANCE:
      return {KELO_BW_SDTC_VARIANCE, Count(KELO_BW_SDTC_VARIANCE), "BW_SDTC_VARIANCE"};
    case OPTION_JPEG_TYPE:
      return {KELO_JPEG_TYPE, Count(KELO_JPEG_TYPE), "JPEG_TYPE"};
    case OPTION_JPEG_QUALITY:
      return {KELO_JPEG_QULITY, Count(KELO_JPEG_QULITY), "JPEG_QUALITY"};
    case OPTION_DF_ACTION:
      return {KELO_DF_ACTION, Count(KELO_DF_ACTION), "DF_ACTION"};
    case OPTION_BGCOLOR:
      return {KELO_BACKGROUND, Count(KELO_BACKGROUND), "BGCOLOR"};
    case OPTION_DROP_OUT:
      return {KELO_DROPOUT_COLOR, Count(KELO_DROPOUT_COLOR), "DROP_OUT"};
    case OPTION_POWER_OFF:
      return {KELO_POWER_OFF, Count(KELO_POWER_OFF), "POWER_OFF"};
    case OPTION_PAPER_PROTECTION:
      return {KELO_PAPER_PROTECTION, Count(KELO_PAPER_PROTECTION), "PAPER_PROTECTION"};
    case OPTION_PREPICK:
      return {KELO_PREPICK, Count(KELO_PREPICK), "PREPICK"};
    case OPTION_EDGE_PROCESSING:
      return {KELO_EDGE_PROCESSING, Count(KELO_EDGE_PROCESSING), "EDGE_PROCESSING"};
    case OPTION_IMAGE_EMPHASIS:
      return {KELO_IMAGE_EMPHASIS, Count(KELO_IMAGE_EMPHASIS), "IMAGE_EMPHASIS"};
    case OPTION_HOLE_PUNCH_REMOVE:
      return {KELO_HOLE_PUNCH_REMOVE, Count(KELO_HOLE_PUNCH_REMOVE), "HOLE_PUNCH_REMOVE"};
    default:
      return {nullptr, 0, nullptr};
  }
}

void SetCap(int option, SANE_Int cap) { g_OptList[option].cap = cap; }
void Off(int option) { g_OptList[option].cap |= SANE_CAP_INACTIVE; }
void OffWith(int option, int32_t value) {
  Off(option);
  g_OptSelected[option] = value;
}

void Refresh() {
  GetSelectedInfo();
  ReloadOptions();
}
void RefreshAndFlag(SANE_Int* info) {
  Refresh();
  if (info) *info |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
}

SANE_Word AdfPageHeightMax() {
  if (IsCorvane5Type(g_iDevType)) return MM(5588);
  if (g_iDevType == 35) return MM(356);
  return MM(3175);
}

void SetXMax(SANE_Word max) { g_tTopLeftXRange.max = g_tBottomRightXRange.max = max; }
void SetYMax(SANE_Word max) { g_tTopLeftYRange.max = g_tBottomRightYRange.max = max; }

}  // namespace opt

using namespace opt;

const DEVICE_OPTION_CONTROL KELO_DEVICE_OPTION_CONTROL[KELO_DEVICE_COUNT] = {
    Row(dravn::kDocuvaneModels[0], 22, kDocuvaneAdfBlock, DRAVN_ICM_DIR "/DocuvaneRK50.icc"),
    Row(dravn::kDocuvaneModels[1], 23, kDocuvaneAdfBlock, DRAVN_ICM_DIR "/DocuvaneRK70.icc"),
    Row(dravn::kDocuvaneModels[2], 24, kDocuvaneFlatbedBlock, DRAVN_ICM_DIR "/DocuvaneRK90.icc"),
    Row(dravn::kSelkoModels[0], 25, kForwardedBlock, nullptr),
    Row(dravn::kSelkoModels[1], 26, kForwardedBlock, nullptr),
    Row(dravn::kSelkoModels[2], 27, kForwardedBlock, nullptr),
    Row(dravn::kBrennaModels[0], 46, kForwardedBlock, nullptr),
    Row(dravn::kSelko2Models[0], 28, kForwardedBlock, nullptr),
    Row(dravn::kSelko2Models[1], 29, kForwardedBlock, nullptr),
    Row(dravn::kSelko2Models[2], 30, kForwardedBlock, nullptr),
};

const DEFAULT_PAPER_SIZE KELO_DEFAULT_PAPER_SIZE[KELO_PAPER_SIZE_COUNT] = {
    {0, 216, 356}, {1, 210, 297}, {2, 148, 210}, {3, 105, 148},   {4, 182, 257},
    {5, 128, 182}, {6, 100, 148}, {7, 90, 55},   {8, 216, 279.4}, {9, 216, 355.6},
};

SANE_Option_Descriptor g_OptList[OPTION_TOTAL_NUM];
int32_t g_OptSelected[OPTION_TOTAL_NUM];
const DEVICE_OPTION_CONTROL* g_tpDevCtlInfo = nullptr;
const OPTION_LIST_INFO* g_tpOptListInfo = nullptr;
int g_bHasFlatbed = 0;
int g_iTopLeftXReload = 1;
int g_iTopLeftYReload = 1;
int g_iBottomRightXReload = 1;
int g_iBottomRightYReload = 1;
int g_iPageWidthReload = 1;
int g_iPageHeightReload = 1;

SANE_Range g_tTopLeftXRange = {0, kMm216, 1387};
SANE_Range g_tTopLeftYRange = {0, kMm297, 1387};
SANE_Range g_tBottomRightXRange = {kMm26Less, kMm216, 1387};
SANE_Range g_tBottomRightYRange = {kMm26Less, kMm297, 1387};
SANE_Range g_tPageWidthRange = {kMm26Less, kMm216, 1387};
SANE_Range g_tPageHeightRange = {kMm26Less, MM(3175), 1387};

SCAN_PROP_INFO g_PropInfo;
QV_IMAGEDATA_INFO g_ImgDataInfo;
QV_IMAGEDATA_INFO g_BaseImgDataInfo;
int g_iDevType = INVALID_VALUE;
bool g_bIsReadDoubleBack = false;

SANE_Status CheckSetValue(const SANE_Option_Descriptor* desc, void* value, SANE_Int* info) {
  const int option = (desc >= g_OptList && desc < g_OptList + OPTION_TOTAL_NUM) ? int(desc - g_OptList) : -1;
  return CheckOptionValue(desc, value, info, option, g_OptSelected);
}

const DEVICE_OPTION_CONTROL* GetDevCtlByDevInfo(int vendorId, int productId) {
  for (const DEVICE_OPTION_CONTROL& row : KELO_DEVICE_OPTION_CONTROL)
    if (row.iVendorId == vendorId && row.iProductId == productId) return &row;
#ifdef DRAVN_CORVANE5_TEST_ROWS
  for (const DEVICE_OPTION_CONTROL& row : kCorvane5TestRows)
    if (row.iVendorId == vendorId && row.iProductId == productId) return &row;
#endif
  return nullptr;
}

SANE_Status LoadPaperSize(int code, const DEFAULT_PAPER_SIZE* table, int count) {
  if (!table) {
    Err("LoadPaperSize", "tpPaperSize == NULL");
    return SANE_STATUS_INVAL;
  }
  for (int i = 0; i < count; ++i) {
    if (table[i].iCode == code) {
      g_OptSelected[OPTION_PAGE_WIDTH] = static_cast<int32_t>(table[i].dWidth * 65536.0 + 0.5);
      g_OptSelected[OPTION_PAGE_HEIGHT] = static_cast<int32_t>(table[i].dHeight * 65536.0 + 0.5);
      return SANE_STATUS_GOOD;
    }
  }
  return SANE_STATUS_INVAL;
}

bool IsColorDetectSupport() {
  char link[64];
  char path[256] = {};
  snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getpid()));
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) {
    Err("IsColorDetectSupport", "iRslt check failure");
    return false;
  }
  const char* slash = strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  if (strstr(name, "scanimage") && !strstr(name, "xscanimage")) return true;
  Err("IsColorDetectSupport", "strstr check failure");
  return false;
}

const SANE_Option_Descriptor* GetOptionDescriptor(int option) {
  if (option < 0 || option >= OPTION_TOTAL_NUM) {
    Err("GetOptionDescriptor", "siOption < 0 || siOption >= OPTION_TOTAL_NUM");
    return nullptr;
  }
  return &g_OptList[option];
}

SANE_Status CreateOptList(int vendorId, int productId) {
  static const char* const kTag = "CreateOptList";
  WriteLog(LOG_LEVEL_TRACE, kTag, "start");
  for (int i = 0; i < OPTION_TOTAL_NUM; ++i) {
    g_OptList[i] = SANE_Option_Descriptor{};
    g_OptSelected[i] = 0;
    SetOption(&g_OptList[i], "inactive", "", "", SANE_TYPE_BOOL, SANE_UNIT_NONE, sizeof(SANE_Word), kCapI,
              SANE_CONSTRAINT_NONE, nullptr);
  }
  g_tpDevCtlInfo = GetDevCtlByDevInfo(vendorId, productId);
  if (!g_tpDevCtlInfo) {
    Err(kTag, "g_tpDevCtlInfo == NULL");
    return SANE_STATUS_UNSUPPORTED;
  }
  g_tpOptListInfo = &g_tpDevCtlInfo->tOptList;
  g_iDevType = g_tpDevCtlInfo->iDevType;
  if (g_iDevType == INVALID_VALUE) {
    Err(kTag, "g_iDevType == INVALID_VALUE");
    return SANE_STATUS_INVAL;
  }
  const OPTION_LIST_INFO& block = *g_tpOptListInfo;
  SANE_Option_Descriptor* o = g_OptList;
  int32_t* v = g_OptSelected;
  const SANE_Int w = sizeof(SANE_Word);

  // Option 0 answers front ends as the standard asks: the option count.
  SetOption(&o[OPTION_NUM], "", SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS, SANE_TYPE_INT, SANE_UNIT_NONE, w,
            SANE_CAP_SOFT_DETECT, SANE_CONSTRAINT_NONE, nullptr);
  v[OPTION_NUM] = OPTION_TOTAL_NUM;

  const char* const kStdDesc = "Source, mode and resolution options";
  SetOption(&o[1], "standard", "Standard", kStdDesc, SANE_TYPE_GROUP, SANE_UNIT_NONE, w, kCapI, SANE_CONSTRAINT_NONE,
            nullptr);
  if (block.tSource.iPresent) {
    auto list = static_cast<const SANE_String_Const*>(block.tSource.pList);
    SetOption(&o[2], "source", "Scan source", "Selects the scan source (such as a document-feeder).", SANE_TYPE_STRING,
              SANE_UNIT_NONE, GetMaxLength(list), kCapS, SANE_CONSTRAINT_STRING_LIST, list);
    SANE_Status status = IsHasFlatbed(list, &g_bHasFlatbed);
    if (status != SANE_STATUS_GOOD) {
      Err(kTag, "IsHasFlatbed() != SANE_STATUS_GOOD");
      return status;
    }
  } else {
    g_bHasFlatbed = 0;
  }
  v[2] = block.tSource.iDefault;
  SetOption(&o[3], "mode", "Scan mode", "Selects the scan mode (e.g., lineart, monochrome, or color).",
            SANE_TYPE_STRING, SANE_UNIT_NONE, GetMaxLength(KELO_MODE_LIST), kCapS, SANE_CONSTRAINT_STRING_LIST,
            KELO_MODE_LIST);
  v[3] = 0;
  SetOption(&o[4], "resolution", "Scan resolution", "Sets the resolution of the scanned image.", SANE_TYPE_INT,
            SANE_UNIT_DPI, w, kCapS, SANE_CONSTRAINT_RANGE, &kResolutionRange);
  v[4] = 300;
  SetOption(&o[5], "standard", "Standard", kStdDesc, SANE_TYPE_GROUP, SANE_UNIT_NONE, w, kCapI, SANE_CONSTRAINT_NONE,
            nullptr);
  SetOption(&o[6], "tl-x", "Top-left x", "Top-left x position of scan area.", SANE_TYPE_FIXED, SANE_UNIT_MM, w, kCapS,
            SANE_CONSTRAINT_RANGE, &g_tTopLeftXRange);
  SetOption(&o[7], "tl-y", "Top-left y", "Top-left y position of scan area.", SANE_TYPE_FIXED, SANE_UNIT_MM, w, kCapS,
            SANE_CONSTRAINT_RANGE, &g_tTopLeftYRange);
  SetOption(&o[8], "br-x", "Bottom-right x", "Bottom-right x position of scan area.", SANE_TYPE_FIXED, SANE_UNIT_MM, w,
            kCapS, SANE_CONSTRAINT_RANGE, &g_tBottomRightXRange);
  SetOption(&o[9], "br-y", "Bottom-right y", "Bottom-right y position of scan area.", SANE_TYPE_FIXED, SANE_UNIT_MM, w,
            kCapS, SANE_CONSTRAINT_RANGE, &g_tBottomRightYRange);
  v[6] = 0;
  v[7] = 0;
  v[8] = MM(210);
  v[9] = kMm297;
  SetOption(&o[10], "page-width", "Page width",
            "Specifies the width of the media.  Required for automatic centering of sheet-fed scans.", SANE_TYPE_FIXED,
            SANE_UNIT_MM, w, kCapS, SANE_CONSTRAINT_RANGE, &g_tPageWidthRange);
  SetOption(&o[11], "page-height", "Page height", "Specifies the height of the media.", SANE_TYPE_FIXED, SANE_UNIT_MM,
            w, kCapS, SANE_CONSTRAINT_RANGE, &g_tPageHeightRange);
  v[10] = MM(210);
  v[11] = kMm297;
  SetOption(&o[12], "paper-size", "Paper size",
            "Specify the scan window geometry by specifying the paper size of the documents to be scanned.",
            SANE_TYPE_STRING, SANE_UNIT_NONE, GetMaxLength(KELO_PAPERSIZE_LIST), kCapS, SANE_CONSTRAINT_STRING_LIST,
            KELO_PAPERSIZE_LIST);
  v[12] = 1;
  SetOption(&o[13], "page-auto", "Page auto", "Automatic page size detection.", SANE_TYPE_BOOL, SANE_UNIT_NONE, w,
            kCapS, SANE_CONSTRAINT_NONE, nullptr);
  v[13] = 0;
  SetOption(&o[14], "page-auto-priority", "Page auto priority",
            "Specify whether to prioritize cropping speed or accuracy.", SANE_TYPE_STRING, SANE_UNIT_NONE,
            GetMaxLength(KELO_PAGE_AUTO_PRIORITY_LIST), kCapS, SANE_CONSTRAINT_STRING_LIST,
            KELO_PAGE_AUTO_PRIORITY_LIST);
  v[14] = 0;
  SetOption(&o[15], "image-index-tab", "Image index tab", "Specify whether to output index tab", SANE_TYPE_STRING,
            SANE_UNIT_NONE, GetMaxLength(KELO_IMAGE_INDEX_TAB_LIST), kCapS | kCapI, SANE_CONSTRAINT_STRING_LIST,
            KELO_IMAGE_INDEX_TAB_LIST);
  v[15] = 1;
  SetOption(&o[16], "cropping-margin", "Cropping margin", "Specify the output size margin of the image.", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapS, SANE_CONSTRAINT_RANGE, &kCroppingMarginRange);
  v[16] = 0;
  SetOption(&o[17], "enhancement", "Enhancement", "Image modification options", SANE_TYPE_GROUP, SANE_UNIT_NONE, w,
            kCapI, SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[18], "brightness", "Brightness", "Controls the brightness of the acquired image.", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapS, SANE_CONSTRAINT_RANGE, &kBrightnessRange);
  SetOption(&o[19], "contrast", "Contrast", "Controls the contrast of the acquired image.", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapS, SANE_CONSTRAINT_RANGE, &kBrightnessRange);
  SetOption(&o[20], "threshold", "Threshold", "Select minimum-brightness to get a white point", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapS, SANE_CONSTRAINT_RANGE, &kThresholdRange);
  v[18] = 0;
  v[19] = 0;
  v[20] = 128;
  SetOption(&o[21], "ht-type", "Halftone type", "Control type of halftone filter", SANE_TYPE_STRING, SANE_UNIT_NONE,
            GetMaxLength(KELO_HALFTONE_TYPE_LIST), kCapS | kCapI, SANE_CONSTRAINT_STRING_LIST, KELO_HALFTONE_TYPE_LIST);
  v[21] = 0;
  SetOption(&o[22], "ht-pattern", "Halftone pattern", "Control pattern of halftone filter", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapS | kCapI, SANE_CONSTRAINT_RANGE, &kHtPatternRange);
  v[22] = 0;
  SetOption(&o[23], "bw-sdtc", "SDTC mode", "Specifies the processing method", SANE_TYPE_BOOL, SANE_UNIT_NONE, w, kCapS,
            SANE_CONSTRAINT_NONE, nullptr);
  v[23] = 0;
  SetOption(&o[24], "bw-sdtc-variance", "DTC Variance", "DTC Variance", SANE_TYPE_STRING, SANE_UNIT_NONE,
            GetMaxLength(KELO_BW_SDTC_VARIANCE_LIST), kCapS, SANE_CONSTRAINT_STRING_LIST, KELO_BW_SDTC_VARIANCE_LIST);
  v[24] = 96;
  SetOption(&o[25], "jpeg", "JPEG transfer", "Image data is read from scanner by JPEG transfer.", SANE_TYPE_BOOL,
            SANE_UNIT_NONE, w, kCapS, SANE_CONSTRAINT_NONE, nullptr);
  v[25] = 0;
  SetOption(&o[26], "jpeg-type", "Jpeg type", "Specification of the compression method of reading data",
            SANE_TYPE_STRING, SANE_UNIT_NONE, GetMaxLength(KELO_JPEG_TYPE_LIST), kCapS, SANE_CONSTRAINT_STRING_LIST,
            KELO_JPEG_TYPE_LIST);
  v[26] = 129;
  SetOption(&o[27], "jpeg-quality", "Jpeg quality", "Specification of the quality level of reading data",
            SANE_TYPE_STRING, SANE_UNIT_NONE, GetMaxLength(KELO_JPEG_QULITY_LIST), kCapS, SANE_CONSTRAINT_STRING_LIST,
            KELO_JPEG_QULITY_LIST);
  v[27] = 4;
  SetOption(&o[29], "autofeed", "Autofeed", "Automatically feed", SANE_TYPE_BOOL, SANE_UNIT_NONE, w, kCapS,
            SANE_CONSTRAINT_NONE, nullptr);
  v[29] = 0;
  SetOption(&o[30], "total-scanpage-count", "Total scan page count", "Total scan page count.", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapI, SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[31], "total-pickroller-count", "Total pick roller count", "Total pick roller count.", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapI, SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[32], "total-padassy-count", "Total pad assy count", "Total pad assy count.", SANE_TYPE_INT,
            SANE_UNIT_NONE, w, kCapI, SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[33], "total-flatbed-count", "Total flatbed count", "Total flatbed count.", SANE_TYPE_INT, SANE_UNIT_NONE,
            w, kCapI, SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[34], "USB-COMMAND", "USB Command", "USB Command output.", SANE_TYPE_INT, SANE_UNIT_NONE, 256, kCapI,
            SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[35], "USB-WRITE", "USB WRITE", "USB data output.", SANE_TYPE_INT, SANE_UNIT_NONE, 256, kCapI,
            SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[36], "advanced", "Advanced", "Hardware specific options.", SANE_TYPE_GROUP, SANE_UNIT_NONE, w, kCapI,
            SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[37], "df-action", "DF action", "Action following double feed error", SANE_TYPE_STRING, SANE_UNIT_NONE,
            GetMaxLength(KELO_DF_ACTION_LIST), kCapA, SANE_CONSTRAINT_STRING_LIST, KELO_DF_ACTION_LIST);
  v[37] = 0;
  SetOption(&o[38], "df-thickness", "DF thickness", "Enable double feed error due to paper thickness", SANE_TYPE_BOOL,
            SANE_UNIT_NONE, w, kCapA | kCapI, SANE_CONSTRAINT_NONE, nullptr);
  SetOption(&o[39], "df-length", "DF length", "Enable double feed error due to paper length", SANE_TYPE_BOOL,
            SANE_UNIT_NONE, w, kCapA | kCapI, SANE_CONSTRAINT_NONE, nullptr);
  if (block.tBackground.iPresent) {
    auto list = static_cast<const SANE_String_Const*>(block.tBackground.pList);
    SetOption(&o[40], "bgcolor", "Background color",
              "Set color of background for scans. May conflict with overscan option", SANE_TYPE_STRING, SANE_UNIT_NONE,
              GetMaxLength(list), kCapA, SANE_CONSTRAINT_STRING_LIST, list);
  }
  v[40] = block.tBackground.iDefault;
  // Sized for both of the lists that ReloadOptions switches between: the
  // value must always fit the front end's buffer.
  SetOption(
      &o[41], "dropoutcolor", "Dropout color",
      "One-pass scanners use only one color during gray or binary scanning, useful for colored paper or ink",
      SANE_TYPE_STRING, SANE_UNIT_NONE,
      std::max(GetMaxLength(KELO_DROPOUT_COLOR_LIST_COMMON), GetMaxLength(KELO_HARDWARE_DROPOUT_COLOR_LIST_COMMON)),
      kCapA, SANE_CONSTRAINT_STRING_LIST, KELO_DROPOUT_COLOR_LIST_COMMON);
  v[41] = 1;
  SetOption(&o[42], "power-off", "Power off", "Time in hours until the power turn off automatically.", SANE_TYPE_STRING,
            SANE_UNIT_NONE, GetMaxLength(KELO_POWER_OFF_LIST), kCapA, SANE_CONSTRAINT_STRING_LIST, KELO_POWER_OFF_LIST);
  v[42] = 3;
  SetOption(&o[43], "paper-protection", "Paper protection", "Specify the paper protection method", SANE_TYPE_STRING,
            SANE_UNIT_NONE, GetMaxLength(KELO_PAPER_PROTECTION_LIST), kCapA, SANE_CONSTRAINT_STRING_LIST,
            KELO_PAPER_PROTECTION_LIST);
  v[43] = 1;
  if (block.tPrepick.iPresent) {
    auto list = static_cast<const SANE_String_Const*>(block.tPrepick.pList);
    SetOption(&o[44], "prepick", "Prepick", "Request scanner to grab next page from ADF", SANE_TYPE_STRING,
              SANE_UNIT_NONE, GetMaxLength(list), kCapA, SANE_CONSTRAINT_STRING_LIST, list);
  }
  v[44] = block.tPrepick.iDefault;
  if (block.tSleepTimer.iPresent) {
    SetOption(&o[45], "sleeptimer", "Sleep timer",
              "Time in minutes until the internal power supply switches to sleep mode", SANE_TYPE_INT, SANE_UNIT_NONE,
              w, kCapA, SANE_CONSTRAINT_RANGE, block.tSleepTimer.pList);
  }
  v[45] = block.tSleepTimer.iDefault;
  SetOption(&o[46], "edge-processing", "Edge processing",
            "Select the kind of edge processing to a binary format image.", SANE_TYPE_STRING, SANE_UNIT_NONE,
            GetMaxLength(KELO_EDGE_PROCESSING_LIST), kCapA, SANE_CONSTRAINT_STRING_LIST, KELO_EDGE_PROCESSING_LIST);
  v[46] = 0;
  SetOption(&o[47], "image-emphasis", "Image emphasis",
            "Select the kind of image emphasis processing to a color image.", SANE_TYPE_STRING, SANE_UNIT_NONE,
            GetMaxLength(KELO_IMAGE_EMPHASIS_LIST), kCapA, SANE_CONSTRAINT_STRING_LIST, KELO_IMAGE_EMPHASIS_LIST);
  v[47] = 0;
  SetOption(&o[48], "rif", "RIF", "Reverse image format", SANE_TYPE_BOOL, SANE_UNIT_NONE, w, kCapA,
            SANE_CONSTRAINT_NONE, nullptr);
  v[48] = 0;
  if (IsColorDetectSupport()) {
    SetOption(&o[49], "auto-color-detection", "Auto color detection",
              "Automatically detecting color/monochrome documents", SANE_TYPE_BOOL, SANE_UNIT_NONE, w, kCapA,
              SANE_CONSTRAINT_NONE, nullptr);
  }
  v[49] = 0;
  SetOption(&o[50], "hole-punch-removal", "Hole punch removal",
            "You can remove punch holes from the output scanned image.", SANE_TYPE_STRING, SANE_UNIT_NONE,
            GetMaxLength(KELO_HOLE_PUNCH_REMOVE_LIST), kCapA | kCapI, SANE_CONSTRAINT_STRING_LIST,
            KELO_HOLE_PUNCH_REMOVE_LIST);
  v[50] = 0;
  const char* const kBlankDesc = "The larger the value is set, the more likely for the pages to be detected as blank.";
  const bool bpd = g_BPDFunction != nullptr;
  SetOption(&o[51], "blank-page-skip", "Blank page skip",
            "Blank pages in the Documents can be detected and automatically deleted during scanning", SANE_TYPE_BOOL,
            SANE_UNIT_NONE, w, bpd ? kCapA : kCapI, SANE_CONSTRAINT_NONE, nullptr);
  v[51] = 0;
  SetOption(&o[52], "blank-page-skip-sensitivity", "Blank page skip sensitivity", kBlankDesc, SANE_TYPE_INT,
            SANE_UNIT_NONE, w, bpd ? kCapA | kCapI : kCapI, SANE_CONSTRAINT_RANGE, &kSensitivityRange);
  v[52] = 3;
  SetOption(&o[53], "blank-page-skip-black-dots-ratio", "Blank page skip black dots ratio", kBlankDesc, SANE_TYPE_INT,
            SANE_UNIT_NONE, w, bpd ? kCapA | kCapI : kCapI, SANE_CONSTRAINT_RANGE, &kDotsRatioRange);
  v[53] = 0;
  SetOption(&o[54], "blank-page-skip-white-dots-ratio", "Blank page skip white dots ratio", kBlankDesc, SANE_TYPE_INT,
            SANE_UNIT_NONE, w, bpd ? kCapA | kCapI : kCapI, SANE_CONSTRAINT_RANGE, &kDotsRatioRange);
  v[54] = 0;
  SetOption(&o[55], "srgb", "sRGB", "sRGB output.", SANE_TYPE_BOOL, SANE_UNIT_NONE, w, g_SRGBFunction ? kCapA : kCapI,
            SANE_CONSTRAINT_NONE, nullptr);
  v[55] = 0;

  SANE_Word heightMax = g_bHasFlatbed ? kMm297 : AdfPageHeightMax();
  g_tPageHeightRange.max = heightMax;
  SetYMax(heightMax);

  GetSelectedInfo();
  ReloadOptions();
  WriteLog(LOG_LEVEL_TRACE, kTag, "end");
  return SANE_STATUS_GOOD;
}

}  // namespace dravnmain
