// The second backend's SANE option table: 48 options, their value maps and
// lists, the device table, and reading and checking option values.
#ifndef DRAVN_COMMON_OPTION_TABLE_H
#define DRAVN_COMMON_OPTION_TABLE_H

#include <sane/sane.h>

#include "dravn_paths.h"
#include "option_values.h"

enum KELO_OPTION_INDEX {
  OPTION_NUM_OPTS = 0,
  OPTION_STANDARD_GROUP,
  OPTION_SOURCE,
  OPTION_MODE,
  OPTION_RESOLUTION,
  OPTION_GEOMETRY_GROUP,
  OPTION_TL_X,
  OPTION_TL_Y,
  OPTION_BR_X,
  OPTION_BR_Y,
  OPTION_PAGE_WIDTH,
  OPTION_PAGE_HEIGHT,
  OPTION_PAPER_SIZE,
  OPTION_PAGE_AUTO,
  OPTION_CROPPING,
  OPTION_ENHANCEMENT_GROUP,
  OPTION_TONE_ADJUSTMENT,
  OPTION_BRIGHTNESS,
  OPTION_CONTRAST,
  OPTION_SHADOW,
  OPTION_HIGHLIGHT,
  OPTION_GAMMA,
  OPTION_THRESHOLD,
  OPTION_BW_MODE,
  OPTION_BW_IDTC_SENSITIVITY,
  OPTION_BW_IDTC_BACKGROUND_THRESHOLD,
  OPTION_BW_SDTC_VARIANCE,
  OPTION_AUTOFEED,
  OPTION_EDGE_FILLER_TOP,
  OPTION_EDGE_FILLER_BOTTOM,
  OPTION_EDGE_FILLER_LEFT,
  OPTION_EDGE_FILLER_RIGHT,
  OPTION_ADVANCED_GROUP,
  OPTION_DF_ACTION,
  OPTION_MF_OVERLAPPING,
  OPTION_DROP_OUT,
  OPTION_CLEANUP_SHARPNESS_COLOR,
  OPTION_BLANK_PAGE_SKIP,
  OPTION_BLANK_PAGE_SKIP_SENSITIVITY,
  OPTION_ROTATION,
  OPTION_COLOR_CLEANUP,
  OPTION_COLOR_CLEANUP_CLEANNESS,
  OPTION_FRONT_BACK_MERGING,
  OPTION_BACK_SIDE_LOCATION,
  OPTION_BACK_SIDE_ROTATION,
  OPTION_SPLIT_IMAGE,
  OPTION_GET_SC_STATUS,
  OPTION_GET_SC_ERROR,
  OPTION_TOTAL_NUM
};

// Lengths as SANE_Fixed millimetres.
constexpr SANE_Word KELO_LENGTH_216MM = 0xD80000;
constexpr SANE_Word KELO_LENGTH_297MM = 0x1290000;
constexpr SANE_Word KELO_LENGTH_355_6MM = 0x163999A;
constexpr SANE_Word KELO_LENGTH_863_6MM = 0x35F999A;
constexpr SANE_Word KELO_LENGTH_3175MM = 0xC670000;
// One device unit (1/1200 inch) is 1387/65536 mm.
constexpr double KELO_MM_PER_UNIT_FIXED = 1387.0;

// Device types of the device table.
enum { KELO_DEVTYPE_SELKO_FIRST = 0, KELO_DEVTYPE_SELKO2_FIRST = 3, KELO_DEVTYPE_BRENNA = 6, INVALID_VALUE = -1 };
enum KELO_FAMILY { KELO_FAMILY_SELKO, KELO_FAMILY_SELKO2, KELO_FAMILY_BRENNA };
KELO_FAMILY GetDevFamily();  // of g_iDevType

struct KELO_OPTION_LIST_INFO {
  int bHasSource;
  const SANE_String_Const* cppSourceList;
  int iDefaultSource;
};

struct KELO_DEVICE_OPTION_CONTROL_INFO {
  int iVendorId;
  int iProductId;
  const char* cpVendor;
  const char* cpType;
  const char* cpModel;
  int iDevType;
  KELO_OPTION_LIST_INFO tOptListInfo;
};

constexpr int KELO_DEVICE_NUM = 7;
extern KELO_DEVICE_OPTION_CONTROL_INFO KELO_DEVICE_OPTION_CONTROL[KELO_DEVICE_NUM];

struct DEFAULT_PAPER_SIZE {
  int iCode;
  double dWidth;   // mm
  double dHeight;  // mm
};
constexpr int KELO_DEFAULT_PAPER_SIZE_NUM = 12;
extern const DEFAULT_PAPER_SIZE KELO_DEFAULT_PAPER_SIZE[KELO_DEFAULT_PAPER_SIZE_NUM];

// Value maps and the lists a front end may choose from.
extern const OPTION_VALUE KELO_SOURCE[4];
extern const OPTION_VALUE KELO_SIMPLE_SCAN_SOURCE[4];
extern const OPTION_VALUE KELO_MODE[3];
extern const OPTION_VALUE KELO_PAPERSIZE[11];
extern const OPTION_VALUE KELO_PAPERSIZE_SELKO2[12];
extern const OPTION_VALUE KELO_PAPERSIZE_BRENNA[8];
extern const OPTION_VALUE KELO_CROPPING[4];
extern const OPTION_VALUE KELO_TONE_ADJUSTMENT[6];
extern const OPTION_VALUE KELO_BW_MODE[4];
extern const OPTION_VALUE KELO_BW_SDTC_VARIANCE[3];
extern const OPTION_VALUE KELO_DF_ACTION[2];
extern const OPTION_VALUE KELO_DROPOUT_COLOR[5];
extern const OPTION_VALUE KELO_EDGE_PROCESSING[5];
extern const OPTION_VALUE KELO_IMAGE_EMPHASIS[8];
extern const OPTION_VALUE KELO_ROTATION[5];
extern const OPTION_VALUE KELO_COLOR_CLEANUP[3];
extern const OPTION_VALUE KELO_BACK_SIDE_LOCATION[4];
extern const OPTION_VALUE KELO_BACK_SIDE_ROTATION[2];

extern const SANE_String_Const KELO_SOURCE_LIST[];
extern const SANE_String_Const KELO_SOURCE_LIST_ADF[];
extern const SANE_String_Const KELO_SIMPLE_SCAN_SOURCE_LIST[];
extern const SANE_String_Const KELO_SIMPLE_SCAN_NF_SOURCE_LIST[];
extern const SANE_String_Const KELO_MODE_LIST[];
extern const SANE_String_Const KELO_HARDWARE_MODE_LIST[];
extern const SANE_String_Const KELO_PAPERSIZE_LIST[];
extern const SANE_String_Const KELO_PAPERSIZE_LIST_SELKO2[];
extern const SANE_String_Const KELO_PAPERSIZE_LIST_BRENNA[];
extern const SANE_String_Const KELO_CROPPING_LIST[];
extern const SANE_String_Const KELO_CROPPING_LIST_NO_OVERSCAN[];
extern const SANE_String_Const KELO_TONE_ADJUSTMENT_LIST[];
extern const SANE_String_Const KELO_BW_MODE_LIST[];
extern const SANE_String_Const KELO_BW_SDTC_VARIANCE_LIST_COMMON[];
extern const SANE_String_Const KELO_DF_ACTION_LIST[];
extern const SANE_String_Const KELO_DROPOUT_COLOR_LIST_COMMON[];
extern const SANE_String_Const KELO_EDGE_PROCESSING_LIST_COMMON[];
extern const SANE_String_Const KELO_IMAGE_EMPHASIS_LIST_COMMON[];
extern const SANE_String_Const KELO_ROTATION_LIST[];
extern const SANE_String_Const KELO_HARDWARE_ROTATION_LIST[];
extern const SANE_String_Const KELO_COLOR_CLEANUP_LIST[];
extern const SANE_String_Const KELO_BACK_SIDE_LOCATION_LIST[];
extern const SANE_String_Const KELO_BACK_SIDE_ROTATION_LIST[];

// Ranges that the option rules move; reset for each device opened.
extern SANE_Range g_tResolutionRange;
extern SANE_Range g_tTopLeftXRange;
extern SANE_Range g_tTopLeftYRange;
extern SANE_Range g_tBottomRightXRange;
extern SANE_Range g_tBottomRightYRange;
extern SANE_Range g_tPageWidthRange;
extern SANE_Range g_tPageHeightRange;

extern SANE_Option_Descriptor g_OptList[OPTION_TOTAL_NUM];
extern SANE_Word g_OptSelected[OPTION_TOTAL_NUM];
extern KELO_DEVICE_OPTION_CONTROL_INFO* g_tpDevCtlInfo;
extern KELO_OPTION_LIST_INFO* g_tpOptListInfo;
extern int g_iDevType;
extern int g_bHasFlatbed;
// Description texts: [0] for xsane, [1] (with a hint on the option to set
// first) for every other front end.
extern const char* tszOptionDescs[OPTION_TOTAL_NUM][2];

// Builds the table for the device just opened, then applies the option
// defaults file.
SANE_Status CreateOptList(int vendorId, int productId, const char* xmlPath = DRAVN_ETC_DIR "/optdefault.xml");
const SANE_Option_Descriptor* GetOptionDescriptor(int option);
SANE_Status GetControlOption(int option, void* value);
SANE_Status CheckSetValue(const SANE_Option_Descriptor* desc, void* value, SANE_Int* info);
KELO_DEVICE_OPTION_CONTROL_INFO* GetDevCtlByDevInfo(int vendorId, int productId);
// Writes the paper's width and height into the page-width and page-height
// cells.
SANE_Status LoadPaperSize(int code, const DEFAULT_PAPER_SIZE* table, int count);
void CreateOptionDescription();

// The family's paper-size map, and the source map of the front end.
void GetPaperSizeMap(const OPTION_VALUE** map, int* count);
const OPTION_VALUE* GetSourceMap();

#endif
