// The main backend's option table, device table, scan-property record and
// image-parameter record, and the rules that tie the options together.
#ifndef DRAVN_MAIN_OPTIONS_H
#define DRAVN_MAIN_OPTIONS_H

#include <sane/sane.h>

#include <cstdint>

#include "main_types.h"
#include "option_values.h"

namespace dravnmain {

enum {
  OPTION_NUM = 0,
  OPTION_STANDARD_GROUP = 1,
  OPTION_SOURCE = 2,
  OPTION_MODE = 3,
  OPTION_RESOLUTION = 4,
  OPTION_GEOMETRY_GROUP = 5,
  OPTION_TL_X = 6,
  OPTION_TL_Y = 7,
  OPTION_BR_X = 8,
  OPTION_BR_Y = 9,
  OPTION_PAGE_WIDTH = 10,
  OPTION_PAGE_HEIGHT = 11,
  OPTION_PAPER_SIZE = 12,
  OPTION_PAGE_AUTO = 13,
  OPTION_PAGE_AUTO_PRIORITY = 14,
  OPTION_IMAGE_INDEX_TAB = 15,
  OPTION_CROPPING_MARGIN = 16,
  OPTION_ENHANCEMENT_GROUP = 17,
  OPTION_BRIGHTNESS = 18,
  OPTION_CONTRAST = 19,
  OPTION_THRESHOLD = 20,
  OPTION_HT_TYPE = 21,
  OPTION_HT_PATTERN = 22,
  OPTION_BW_SDTC = 23,
  OPTION_BW_SDTC_VARIANCE = 24,
  OPTION_JPEG = 25,
  OPTION_JPEG_TYPE = 26,
  OPTION_JPEG_QUALITY = 27,
  OPTION_UNUSED = 28,
  OPTION_AUTOFEED = 29,
  OPTION_TOTAL_SCANPAGE_COUNT = 30,
  OPTION_TOTAL_PICKROLLER_COUNT = 31,
  OPTION_TOTAL_PADASSY_COUNT = 32,
  OPTION_TOTAL_FLATBED_COUNT = 33,
  OPTION_USB_COMMAND = 34,
  OPTION_USB_WRITE = 35,
  OPTION_ADVANCED_GROUP = 36,
  OPTION_DF_ACTION = 37,
  OPTION_DF_THICKNESS = 38,
  OPTION_DF_LENGTH = 39,
  OPTION_BGCOLOR = 40,
  OPTION_DROP_OUT = 41,
  OPTION_POWER_OFF = 42,
  OPTION_PAPER_PROTECTION = 43,
  OPTION_PREPICK = 44,
  OPTION_SLEEPTIMER = 45,
  OPTION_EDGE_PROCESSING = 46,
  OPTION_IMAGE_EMPHASIS = 47,
  OPTION_RIF = 48,
  OPTION_AUTO_COLOR_DETECTION = 49,
  OPTION_HOLE_PUNCH_REMOVE = 50,
  OPTION_BLANK_PAGE_SKIP = 51,
  OPTION_BLANK_PAGE_SKIP_SENSITIVITY = 52,
  OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO = 53,
  OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO = 54,
  OPTION_SRGB = 55,
  OPTION_TOTAL_NUM = 56
};

// One code and its text in a list option's value table.

// One part of a device row's option block.
struct OPTION_INFO {
  int32_t iPresent;
  const void* pList;  // NULL-terminated string list, or a SANE_Range
  int32_t iDefault;   // -1 when absent
};

struct OPTION_LIST_INFO {
  OPTION_INFO tSource;
  OPTION_INFO tBackground;
  OPTION_INFO tPrepick;
  OPTION_INFO tSleepTimer;
};

struct DEVICE_OPTION_CONTROL {
  int32_t iVendorId;
  int32_t iProductId;
  const char* szVendor;
  const char* szType;
  const char* szModel;
  int32_t iDevType;
  OPTION_LIST_INFO tOptList;
  const char* szColorProfile;  // or null
};

struct DEFAULT_PAPER_SIZE {
  int32_t iCode;
  double dWidth;   // mm
  double dHeight;  // mm
};

constexpr int KELO_DEVICE_COUNT = 10;
constexpr int KELO_PAPER_SIZE_COUNT = 10;
constexpr int INVALID_VALUE = -1;

extern const DEVICE_OPTION_CONTROL KELO_DEVICE_OPTION_CONTROL[KELO_DEVICE_COUNT];
extern const DEFAULT_PAPER_SIZE KELO_DEFAULT_PAPER_SIZE[KELO_PAPER_SIZE_COUNT];

extern SANE_Option_Descriptor g_OptList[OPTION_TOTAL_NUM];
extern int32_t g_OptSelected[OPTION_TOTAL_NUM];
extern const DEVICE_OPTION_CONTROL* g_tpDevCtlInfo;
extern const OPTION_LIST_INFO* g_tpOptListInfo;
// Whether the open device's row offers that list; no row, no list.
inline bool RowHasList(OPTION_INFO OPTION_LIST_INFO::*list) {
  return g_tpOptListInfo && (g_tpOptListInfo->*list).iPresent;
}
extern int g_bHasFlatbed;
extern int g_iTopLeftXReload;
extern int g_iTopLeftYReload;
extern int g_iBottomRightXReload;
extern int g_iBottomRightYReload;
extern int g_iPageWidthReload;
extern int g_iPageHeightReload;

// Process-wide ranges whose maxima the rules move.
extern SANE_Range g_tTopLeftXRange;
extern SANE_Range g_tTopLeftYRange;
extern SANE_Range g_tBottomRightXRange;
extern SANE_Range g_tBottomRightYRange;
extern SANE_Range g_tPageWidthRange;
extern SANE_Range g_tPageHeightRange;

// SANE_Fixed millimetres to dots at 1200 dpi.
inline double SANE_MM_TO_UNIT(double fixedMm) { return fixedMm / 1387.0; }

const DEVICE_OPTION_CONTROL* GetDevCtlByDevInfo(int vendorId, int productId);
SANE_Status CreateOptList(int vendorId, int productId);
const SANE_Option_Descriptor* GetOptionDescriptor(int option);
SANE_Status GetControlOption(int option, void* value);
SANE_Status SetControlOption(int option, void* value, SANE_Int* info);
SANE_Status GetParameters(SANE_Parameters* params);
void GetSelectedInfo();
void ReloadOptions();
SANE_Status LoadPaperSize(int code, const DEFAULT_PAPER_SIZE* table, int count);
bool IsColorDetectSupport();

// The option machinery (SetOption, GetMaxLength, IsHasFlatbed, GetOptValue,
// SetOptValue) is the common layer's; value checks follow this table's rules.
SANE_Status CheckSetValue(const SANE_Option_Descriptor* desc, void* value, SANE_Int* info);

}  // namespace dravnmain

#endif
