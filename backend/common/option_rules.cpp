#include "option_rules.h"

#include <algorithm>

#include "frontend_flags.h"
#include "image_libs.h"
#include "log.h"
#include "option_table.h"
#include "prop_info.h"

int g_bModeChange = 0;
int g_iTopLeftXReload = 1;
int g_iTopLeftYReload = 1;
int g_iBottomRightXReload = 1;
int g_iBottomRightYReload = 1;
int g_iPageWidthReload = 1;
int g_iPageHeightReload = 1;
const SANE_String_Const* g_cpCSList = KELO_IMAGE_EMPHASIS_LIST_COMMON;
const OPTION_VALUE* g_tpCsOptVal = KELO_IMAGE_EMPHASIS;
int g_iCsNum = 8;

namespace {

constexpr SANE_Int kCapS = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int kCapA = kCapS | SANE_CAP_ADVANCED;

SANE_Word* const c = g_OptSelected;

bool IsFeeder() { return c[OPTION_SOURCE] != 0; }
bool IsCustomPaper() { return c[OPTION_PAPER_SIZE] == 0; }

// A lowered maximum also lowers the values above it, so that every value
// stays within the range its descriptor shows.
void SetAreaMaxX(SANE_Word max) {
  g_tTopLeftXRange.max = g_tBottomRightXRange.max = max;
  c[OPTION_TL_X] = std::min(c[OPTION_TL_X], max);
  c[OPTION_BR_X] = std::min(c[OPTION_BR_X], max);
}

void SetAreaMaxY(SANE_Word max) {
  g_tTopLeftYRange.max = g_tBottomRightYRange.max = max;
  c[OPTION_TL_Y] = std::min(c[OPTION_TL_Y], max);
  c[OPTION_BR_Y] = std::min(c[OPTION_BR_Y], max);
}

void SetResolutionMax(SANE_Word max) {
  g_tResolutionRange.max = max;
  c[OPTION_RESOLUTION] = std::min(c[OPTION_RESOLUTION], max);
}

SANE_Status SetByMap(int option, const char* text, const OPTION_VALUE* map, int count) {
  int code = 0;
  SANE_Status status = SetOptValue(text, map, count, &code);
  if (status == SANE_STATUS_GOOD) c[option] = code;
  return status;
}

void Rebuild() {
  GetSelectedInfo();
  ReloadOptions();
}

// The page height a custom page may have at the current resolution, and
// the resolution maximum that goes with it.
SANE_Word LimitPageHeight(SANE_Word height) {
  const int r = c[OPTION_RESOLUTION];
  const KELO_FAMILY family = GetDevFamily();
  const SANE_Word shortMax = KELO_LENGTH_355_6MM, longMax = KELO_LENGTH_863_6MM;
  if (c[OPTION_FRONT_BACK_MERGING]) {
    if (r > 300) {
      SetResolutionMax(600);
      return std::min(height, shortMax);
    }
    if (height > longMax) {
      SetResolutionMax(300);
      return longMax;
    }
    SetResolutionMax(height > shortMax ? 300 : 600);
    return height;
  }
  if (r > 300) {
    SetResolutionMax(600);
    return std::min(height, family == KELO_FAMILY_BRENNA ? longMax : shortMax);
  }
  if (r <= 200) {
    if (family == KELO_FAMILY_BRENNA || (family == KELO_FAMILY_SELKO2 && height > longMax))
      SetResolutionMax(height <= longMax ? 600 : 200);
    else
      SetResolutionMax(height > shortMax ? 300 : 600);
    return height;
  }
  switch (family) {
    case KELO_FAMILY_BRENNA:
      SetResolutionMax(600);
      return std::min(height, longMax);
    case KELO_FAMILY_SELKO2:
      if (height > longMax) {
        SetResolutionMax(300);
        return longMax;
      }
      SetResolutionMax(height > shortMax ? 300 : 600);
      return height;
    default:
      SetResolutionMax(height > shortMax ? 300 : 600);
      return height;
  }
}

SANE_Status SetPaperSize(const char* text) {
  const OPTION_VALUE* map;
  int count;
  GetPaperSizeMap(&map, &count);
  SANE_Status status = SetByMap(OPTION_PAPER_SIZE, text, map, count);
  if (!IsFeeder()) {
    SetAreaMaxX(KELO_LENGTH_216MM);
    SetAreaMaxY(KELO_LENGTH_297MM);
    c[OPTION_PAGE_WIDTH] = KELO_LENGTH_216MM;
    c[OPTION_PAGE_HEIGHT] = KELO_LENGTH_297MM;
    return status;
  }
  if (!IsCustomPaper()) {
    SetResolutionMax(600);
    SANE_Status loaded = LoadPaperSize(c[OPTION_PAPER_SIZE], KELO_DEFAULT_PAPER_SIZE, KELO_DEFAULT_PAPER_SIZE_NUM);
    if (loaded != SANE_STATUS_GOOD) return loaded;
    c[OPTION_TL_X] = c[OPTION_TL_Y] = 0;
    SetAreaMaxX(c[OPTION_PAGE_WIDTH]);
    SetAreaMaxY(c[OPTION_PAGE_HEIGHT]);
    c[OPTION_BR_X] = c[OPTION_PAGE_WIDTH];
    c[OPTION_BR_Y] = c[OPTION_PAGE_HEIGHT];
    return status;
  }
  const SANE_Word height = c[OPTION_PAGE_HEIGHT];
  if (c[OPTION_FRONT_BACK_MERGING]) {
    g_tPageHeightRange.max = KELO_LENGTH_863_6MM;
    SetResolutionMax(height <= KELO_LENGTH_355_6MM ? 600 : 300);
  } else if (GetDevFamily() == KELO_FAMILY_BRENNA) {
    SetResolutionMax(height > KELO_LENGTH_863_6MM ? 200 : 600);
  } else if (GetDevFamily() == KELO_FAMILY_SELKO2 && height > KELO_LENGTH_863_6MM) {
    SetResolutionMax(200);
  } else {
    SetResolutionMax(height > KELO_LENGTH_355_6MM ? 300 : 600);
  }
  return status;
}

void SetFrontBackMerging(SANE_Word on) {
  g_tPageWidthRange.max = KELO_LENGTH_216MM;
  c[OPTION_FRONT_BACK_MERGING] = on;
  SetAreaMaxX(c[OPTION_PAGE_WIDTH]);
  if (!on) {
    g_tPageHeightRange.max = KELO_LENGTH_3175MM;
    SetAreaMaxY(c[OPTION_PAGE_HEIGHT]);
    SetResolutionMax(600);
    return;
  }
  g_tPageHeightRange.max = KELO_LENGTH_863_6MM;
  SANE_Word height = c[OPTION_PAGE_HEIGHT];
  if (c[OPTION_RESOLUTION] > 300) {
    SetResolutionMax(600);
    height = std::min(height, KELO_LENGTH_355_6MM);
  } else if (height <= KELO_LENGTH_863_6MM) {
    SetResolutionMax(height <= KELO_LENGTH_355_6MM ? 600 : 300);
  } else {
    height = KELO_LENGTH_863_6MM;
    SetResolutionMax(300);
  }
  c[OPTION_PAGE_HEIGHT] = height;
  SetAreaMaxY(height);
}

void SetMode(const char* text) {
  const int before = c[OPTION_MODE];
  g_bModeChange = SetByMap(OPTION_MODE, text, KELO_MODE, 3) == SANE_STATUS_GOOD && c[OPTION_MODE] != before;
  if (!g_bModeChange || GetDevFamily() != KELO_FAMILY_SELKO2) return;
  // The Selko2 family keeps its own tone defaults for line art.
  SANE_Word& shadow = c[OPTION_SHADOW];
  SANE_Word& highlight = c[OPTION_HIGHLIGHT];
  SANE_Word& gamma = c[OPTION_GAMMA];
  if (before == 0) {
    if (shadow == 0 && highlight == 255 && gamma == 0x10000) shadow = 10, highlight = 230, gamma = 0x19999;
  } else if (c[OPTION_MODE] == 0) {
    if (shadow == 10 && highlight == 230 && gamma == 0x19999 && g_stDravnIni.iUseOldBWLutParam != 1)
      shadow = 0, highlight = 255, gamma = 0x10000;
  }
}

int* ReloadFlag(int option) {
  static int* const kFlags[6] = {&g_iTopLeftXReload,     &g_iTopLeftYReload, &g_iBottomRightXReload,
                                 &g_iBottomRightYReload, &g_iPageWidthReload, &g_iPageHeightReload};
  return kFlags[AreaIndex(option)];
}

SANE_Status Set(int option, void* value, SANE_Int* info, bool allowInactive) {
  CLogScope scope("SetControlOption");
  if (option < 0 || option >= OPTION_TOTAL_NUM) {
    WriteLog(LOG_LEVEL_ERROR, "SetControlOption", "siOption < 0 || siOption >= OPTION_TOTAL_NUM");
    return SANE_STATUS_INVAL;
  }
  if (!value) {
    WriteLog(LOG_LEVEL_ERROR, "SetControlOption", "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  // Whatever the front end's variable held, only this call's bits go back.
  if (info) *info = 0;
  const SANE_Option_Descriptor* desc = &g_OptList[option];
  if (!(desc->cap & SANE_CAP_SOFT_SELECT) || (!allowInactive && (desc->cap & SANE_CAP_INACTIVE))) {
    WriteLog(LOG_LEVEL_ERROR, "SetControlOption", "can not set");
    return SANE_STATUS_INVAL;
  }
  SANE_Status status = CheckSetValue(desc, value, info);
  if (status != SANE_STATUS_GOOD) {
    WriteLog(LOG_LEVEL_ERROR, "SetControlOption", "CheckSetValue() != SANE_STATUS_GOOD");
    return status;
  }
  g_bModeChange = 0;  // it tells whether this set changed the mode
  const char* text = static_cast<const char*>(value);
  const SANE_Word v = desc->type == SANE_TYPE_STRING ? 0 : *static_cast<SANE_Word*>(value);

  switch (option) {
    case OPTION_SOURCE:
      status = SetByMap(option, text, GetSourceMap(), 4);
      if (!IsFeeder()) {
        SetAreaMaxX(KELO_LENGTH_216MM);
        SetAreaMaxY(KELO_LENGTH_297MM);
        SetResolutionMax(600);
      } else if (GetDevFamily() == KELO_FAMILY_BRENNA) {
        g_tPageWidthRange = {0x71FFFF, KELO_LENGTH_216MM, 1387};
        g_tPageHeightRange = {0x8BFFFF, KELO_LENGTH_3175MM, 1387};
        SetAreaMaxX(c[OPTION_PAGE_WIDTH]);
        SetAreaMaxY(c[OPTION_PAGE_HEIGHT]);
      }
      break;
    case OPTION_MODE:
      SetMode(text);
      break;
    case OPTION_TL_X:
    case OPTION_TL_Y:
    case OPTION_BR_X:
    case OPTION_BR_Y:
    case OPTION_PAGE_WIDTH:
    case OPTION_PAGE_HEIGHT: {
      if (option == OPTION_PAGE_WIDTH) {
        if (IsCustomPaper()) {
          c[option] = v;
          SetAreaMaxX(v);
        }
      } else if (option == OPTION_PAGE_HEIGHT) {
        if (IsCustomPaper()) {
          c[option] = LimitPageHeight(v);
          SetAreaMaxY(c[option]);
        }
      } else if (IsFeeder() && !IsCustomPaper()) {
        // The area follows the paper.
        c[option] = option == OPTION_BR_X ? c[OPTION_PAGE_WIDTH] : option == OPTION_BR_Y ? c[OPTION_PAGE_HEIGHT] : 0;
      } else {
        c[option] = v;
      }
      int* first = ReloadFlag(option);
      if (*first == 1) {
        // Front ends set the area as they start; the first set asks no
        // reload of them.
        *first = 0;
        Rebuild();
        return status;
      }
      break;
    }
    case OPTION_PAPER_SIZE:
      status = SetPaperSize(text);
      break;
    case OPTION_CROPPING:
      status = SetByMap(option, text, KELO_CROPPING, 4);
      break;
    case OPTION_TONE_ADJUSTMENT:
      status = SetByMap(option, text, KELO_TONE_ADJUSTMENT, 6);
      break;
    case OPTION_BW_MODE:
      status = SetByMap(option, text, KELO_BW_MODE, 4);
      break;
    case OPTION_BW_SDTC_VARIANCE:
      status = SetByMap(option, text, KELO_BW_SDTC_VARIANCE, 3);
      break;
    case OPTION_DF_ACTION: {
      const int before = c[option];
      status = SetByMap(option, text, KELO_DF_ACTION, 2);
      // Overlap detection is the one way these scanners find a multifeed:
      // choosing to stop turns it on, or the scanner would never detect one.
      if (before == 0 && c[option] == 1) c[OPTION_MF_OVERLAPPING] = 1;
      break;
    }
    case OPTION_DROP_OUT:
      status = SetByMap(option, text, KELO_DROPOUT_COLOR, 5);
      break;
    case OPTION_CLEANUP_SHARPNESS_COLOR:
      status = SetByMap(option, text, g_tpCsOptVal, g_iCsNum);
      break;
    case OPTION_ROTATION:
      status = SetByMap(option, text, KELO_ROTATION, 5);
      break;
    case OPTION_COLOR_CLEANUP:
      status = SetByMap(option, text, KELO_COLOR_CLEANUP, 3);
      break;
    case OPTION_SHADOW:
      c[option] = (!g_bIsScanimage && v >= c[OPTION_HIGHLIGHT]) ? c[OPTION_HIGHLIGHT] - 1 : v;
      break;
    case OPTION_HIGHLIGHT:
      c[option] = (!g_bIsScanimage && v <= c[OPTION_SHADOW]) ? c[OPTION_SHADOW] + 1 : v;
      break;
    case OPTION_BLANK_PAGE_SKIP:
    case OPTION_SPLIT_IMAGE:
      c[option] = v;
      break;
    case OPTION_FRONT_BACK_MERGING:
      // Only a family that merges lets the page height follow the merge.
      if (GetDevFamily() == KELO_FAMILY_SELKO2) SetFrontBackMerging(v);
      break;
    case OPTION_BACK_SIDE_LOCATION:
    case OPTION_BACK_SIDE_ROTATION:
      status = SetByMap(option, text,
                        option == OPTION_BACK_SIDE_LOCATION ? KELO_BACK_SIDE_LOCATION : KELO_BACK_SIDE_ROTATION,
                        option == OPTION_BACK_SIDE_LOCATION ? 4 : 2);
      Rebuild();
      return status;
    case OPTION_GET_SC_STATUS:
    case OPTION_GET_SC_ERROR:
      // Read-only texts of the scanner: nothing to keep.
      Rebuild();
      return status;
    default:
      // page-auto, autofeed, blank-page sensitivity and the plain values.
      c[option] = v;
      Rebuild();
      return status;
  }
  Rebuild();
  if (info) *info |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
  return status;
}

void Inactivate(int option) { g_OptList[option].cap |= SANE_CAP_INACTIVE; }

// Switches a list option's choices; the size never shrinks below what a
// front end may already have allocated for the option.
void SetList(int option, const SANE_String_Const* list) {
  g_OptList[option].constraint.string_list = list;
  g_OptList[option].size = std::max(g_OptList[option].size, GetMaxLength(list));
}

const SANE_String_Const* UsualSourceList() {
  if (g_bIsSimpleScan) return g_bHasFlatbed ? KELO_SIMPLE_SCAN_SOURCE_LIST : KELO_SIMPLE_SCAN_NF_SOURCE_LIST;
  return g_tpOptListInfo ? g_tpOptListInfo->cppSourceList : KELO_SOURCE_LIST;
}

void SetCleanupSharpness(const SANE_String_Const* list, const OPTION_VALUE* map, int count) {
  g_cpCSList = list;
  g_tpCsOptVal = map;
  g_iCsNum = count;
  SetList(OPTION_CLEANUP_SHARPNESS_COLOR, list);
  if (g_bModeChange) {
    c[OPTION_CLEANUP_SHARPNESS_COLOR] = 0;
    g_PropInfo.CLEANUP_SHARPNESS = 0;
  }
}

}  // namespace

SANE_Status SetControlOption(int option, void* value, SANE_Int* info) { return Set(option, value, info, false); }

SANE_Status SetDefaultControlOption(int option, void* value, SANE_Int* info) { return Set(option, value, info, true); }

void ReloadOptions() {
  const bool hasDropout = g_FSIP_DROPOUTCOLOREXFunction != nullptr;
  const bool hasFilter = g_FSIPIMAGEFILTERFunction != nullptr;
  const bool dropoutOffered = g_OptList[OPTION_DROP_OUT].type == SANE_TYPE_STRING;
  KELO_PROP_INFO& p = g_PropInfo;

  for (int option : {OPTION_SOURCE, OPTION_TL_X, OPTION_TL_Y, OPTION_BR_X, OPTION_BR_Y, OPTION_PAGE_WIDTH,
                     OPTION_PAGE_HEIGHT, OPTION_PAPER_SIZE, OPTION_PAGE_AUTO, OPTION_CROPPING, OPTION_GET_SC_STATUS,
                     OPTION_GET_SC_ERROR, OPTION_AUTOFEED})
    g_OptList[option].cap = kCapS;
  for (int option = OPTION_TONE_ADJUSTMENT; option <= OPTION_BW_SDTC_VARIANCE; ++option) g_OptList[option].cap = kCapS;
  // simple-scan chooses the source itself.
  if (g_bIsSimpleScan) g_OptList[OPTION_SOURCE].cap |= SANE_CAP_AUTOMATIC;
  for (int option :
       {OPTION_DF_ACTION, OPTION_MF_OVERLAPPING, OPTION_CLEANUP_SHARPNESS_COLOR, OPTION_BLANK_PAGE_SKIP,
        OPTION_BLANK_PAGE_SKIP_SENSITIVITY, OPTION_COLOR_CLEANUP, OPTION_COLOR_CLEANUP_CLEANNESS,
        OPTION_FRONT_BACK_MERGING, OPTION_BACK_SIDE_LOCATION, OPTION_BACK_SIDE_ROTATION, OPTION_SPLIT_IMAGE})
    g_OptList[option].cap = kCapA;
  if (dropoutOffered) g_OptList[OPTION_DROP_OUT].cap = kCapA;
  for (int option = OPTION_EDGE_FILLER_TOP; option <= OPTION_EDGE_FILLER_RIGHT; ++option)
    g_OptList[option].cap = kCapS | SANE_CAP_INACTIVE;

  // "iDTC" line art is the binarization unit's: offered only while the unit
  // is ready, and only to the family whose pipeline hands pages to it (the
  // others refuse the method), or every such scan would fail.
  if (hasDropout) {
    const bool unitReady = IsBinarizationReady() && GetDevFamily() == KELO_FAMILY_SELKO2;
    SetList(OPTION_BW_MODE, unitReady ? KELO_BW_MODE_LIST : KELO_BW_MODE_LIST + 1);
    if (!unitReady && c[OPTION_BW_MODE] == 0) {
      c[OPTION_BW_MODE] = 1;
      p.BW_MODE = 1;
    }
  }
  const int mode = c[OPTION_MODE];
  if (hasDropout) {
    if (mode == 1 || mode == 2) {
      for (int option = OPTION_THRESHOLD; option <= OPTION_BW_SDTC_VARIANCE; ++option) Inactivate(option);
      if (mode == 2 && dropoutOffered) Inactivate(OPTION_DROP_OUT);
    } else {
      Inactivate(OPTION_COLOR_CLEANUP);
      Inactivate(OPTION_COLOR_CLEANUP_CLEANNESS);
      switch (c[OPTION_BW_MODE]) {
        case 0:
          for (int option :
               {OPTION_THRESHOLD, OPTION_BW_SDTC_VARIANCE, OPTION_TONE_ADJUSTMENT, OPTION_BRIGHTNESS, OPTION_CONTRAST,
                OPTION_SHADOW, OPTION_HIGHLIGHT, OPTION_GAMMA, OPTION_CLEANUP_SHARPNESS_COLOR})
            Inactivate(option);
          break;
        case 1:
          for (int option : {OPTION_THRESHOLD, OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD})
            Inactivate(option);
          break;
        case 2:
          for (int option : {OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD, OPTION_BW_SDTC_VARIANCE})
            Inactivate(option);
          break;
        default:
          for (int option : {OPTION_THRESHOLD, OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD,
                             OPTION_BW_SDTC_VARIANCE})
            Inactivate(option);
          break;
      }
    }
    SetCleanupSharpness(KELO_EDGE_PROCESSING_LIST_COMMON, KELO_EDGE_PROCESSING, 5);
    if (hasFilter) {
      if (mode == 1) Inactivate(OPTION_CLEANUP_SHARPNESS_COLOR);
      if (mode == 2) SetCleanupSharpness(KELO_IMAGE_EMPHASIS_LIST_COMMON, KELO_IMAGE_EMPHASIS, 8);
    } else if (mode == 0) {
      g_OptList[OPTION_CLEANUP_SHARPNESS_COLOR].cap = kCapA;
    } else {
      Inactivate(OPTION_CLEANUP_SHARPNESS_COLOR);
    }
  } else {
    SetList(OPTION_MODE, KELO_HARDWARE_MODE_LIST);
    c[OPTION_MODE] = 2;
    c[OPTION_THRESHOLD] = 128;
    c[OPTION_DROP_OUT] = 3;
    p.SCAN_MODE = 2;
    p.THRESHOLD = 128;
    p.DROPOUT_COLOR = 3;
    for (int option : {OPTION_THRESHOLD, OPTION_BW_MODE, OPTION_BW_SDTC_VARIANCE, OPTION_DROP_OUT}) Inactivate(option);
    SetCleanupSharpness(KELO_IMAGE_EMPHASIS_LIST_COMMON, KELO_IMAGE_EMPHASIS, 8);
    if (hasFilter)
      g_OptList[OPTION_CLEANUP_SHARPNESS_COLOR].cap = kCapA;
    else
      Inactivate(OPTION_CLEANUP_SHARPNESS_COLOR);
  }

  if (!g_FSIPCTLFucntion) {
    Inactivate(OPTION_PAGE_AUTO);
    c[OPTION_PAGE_AUTO] = 0;
  }
  if (!g_BPDFunction) {
    Inactivate(OPTION_BLANK_PAGE_SKIP);
    Inactivate(OPTION_BLANK_PAGE_SKIP_SENSITIVITY);
    c[OPTION_BLANK_PAGE_SKIP] = 0;
    p.BLANK_PAGE_SKIP = 0;
  } else if (!c[OPTION_BLANK_PAGE_SKIP]) {
    Inactivate(OPTION_BLANK_PAGE_SKIP_SENSITIVITY);
  }
  if (!c[OPTION_DF_ACTION]) Inactivate(OPTION_MF_OVERLAPPING);

  if (IsFeeder()) {
    // The paper decides the window: the geometry's values cannot take
    // effect, and a front end must say so rather than scan the whole page.
    if (!IsCustomPaper()) {
      for (int option : {OPTION_TL_X, OPTION_TL_Y, OPTION_BR_X, OPTION_BR_Y}) Inactivate(option);
      // simple-scan chooses its page by width and height whatever the paper.
      if (!g_bIsSimpleScan) {
        Inactivate(OPTION_PAGE_WIDTH);
        Inactivate(OPTION_PAGE_HEIGHT);
      }
    }
    if (c[OPTION_FRONT_BACK_MERGING] && c[OPTION_CROPPING] == 3) {
      c[OPTION_CROPPING] = 0;
      p.CROPPING = 0;
      if (c[OPTION_PAGE_AUTO]) p.PAPER_SIZE = 12;
    }
    SetList(OPTION_CROPPING, KELO_CROPPING_LIST);
  } else {
    for (int option :
         {OPTION_BLANK_PAGE_SKIP, OPTION_BLANK_PAGE_SKIP_SENSITIVITY, OPTION_DF_ACTION, OPTION_MF_OVERLAPPING})
      Inactivate(option);
    c[OPTION_BLANK_PAGE_SKIP] = c[OPTION_DF_ACTION] = 0;
    p.BLANK_PAGE_SKIP = p.DF_ACTION = 0;
    Inactivate(OPTION_PAPER_SIZE);
    if (!g_bIsSimpleScan) {
      Inactivate(OPTION_PAGE_WIDTH);
      Inactivate(OPTION_PAGE_HEIGHT);
      if (IsCustomPaper()) {
        c[OPTION_PAGE_WIDTH] = KELO_LENGTH_216MM;
        c[OPTION_PAGE_HEIGHT] = KELO_LENGTH_297MM;
        p.CUST_PAGE_WIDTH = KELO_LENGTH_216MM / KELO_MM_PER_UNIT_FIXED;
        p.CUST_PAGE_LENGTH = KELO_LENGTH_297MM / KELO_MM_PER_UNIT_FIXED;
      }
    }
    if (!p.FLATBED_PAGE_DETECTION) {
      Inactivate(OPTION_PAGE_AUTO);
      c[OPTION_PAGE_AUTO] = 0;
    }
    Inactivate(OPTION_AUTOFEED);
    c[OPTION_AUTOFEED] = 0;
    p.AUTOFEED = 0;
  }

  // The binarization settings go with the line-art method that uses them.
  if (g_OptList[OPTION_BW_MODE].cap & SANE_CAP_INACTIVE)
    for (int option : {OPTION_BW_IDTC_SENSITIVITY, OPTION_BW_IDTC_BACKGROUND_THRESHOLD, OPTION_BW_SDTC_VARIANCE})
      Inactivate(option);

  const bool selko2 = GetDevFamily() == KELO_FAMILY_SELKO2;
  // Only the Selko2 pipeline has tone presets; the other families build
  // their fixed curve from brightness and contrast at every scan.
  if (selko2 && c[OPTION_TONE_ADJUSTMENT] != 5)
    for (int option = OPTION_BRIGHTNESS; option <= OPTION_GAMMA; ++option) Inactivate(option);

  if (!selko2) {
    for (int option : {OPTION_TONE_ADJUSTMENT, OPTION_SHADOW, OPTION_HIGHLIGHT, OPTION_GAMMA, OPTION_CROPPING,
                       OPTION_GET_SC_STATUS, OPTION_GET_SC_ERROR})
      Inactivate(option);
    // Their pipelines have no colour cleanup, split or merge step: the
    // options stay off rather than promise a page they cannot make.
    for (int option : {OPTION_COLOR_CLEANUP, OPTION_FRONT_BACK_MERGING, OPTION_SPLIT_IMAGE}) {
      Inactivate(option);
      c[option] = 0;
    }
    p.COLOR_CLEANUP = p.FRONT_BACK_MERGING = p.SPLIT_IMAGE = 0;
  } else {
    if (c[OPTION_CROPPING] != 0) Inactivate(OPTION_PAGE_AUTO);
    if (c[OPTION_CROPPING] == 3)
      SetList(OPTION_SOURCE, g_bIsSimpleScan ? KELO_SIMPLE_SCAN_NF_SOURCE_LIST : KELO_SOURCE_LIST_ADF);
    else if (c[OPTION_CROPPING] == 0)
      SetList(OPTION_SOURCE, UsualSourceList());
  }

  // A step whose library entry is missing or not ready would fail or do
  // nothing at every scan: its option is shown inactive and kept off.
  if (!IsToneflatReady()) {
    Inactivate(OPTION_COLOR_CLEANUP);
    c[OPTION_COLOR_CLEANUP] = 0;
    p.COLOR_CLEANUP = 0;
  }
  if (!g_MergeImageFunction) {
    Inactivate(OPTION_FRONT_BACK_MERGING);
    c[OPTION_FRONT_BACK_MERGING] = 0;
    p.FRONT_BACK_MERGING = 0;
  }
  if (c[OPTION_COLOR_CLEANUP] == 0) Inactivate(OPTION_COLOR_CLEANUP_CLEANNESS);
  if (c[OPTION_SPLIT_IMAGE]) Inactivate(OPTION_FRONT_BACK_MERGING);

  if (c[OPTION_FRONT_BACK_MERGING]) {
    c[OPTION_SOURCE] = 3;
    p.SCAN_FACE = 3;
    Inactivate(OPTION_SOURCE);
    Inactivate(OPTION_SPLIT_IMAGE);
    SetList(OPTION_ROTATION, KELO_HARDWARE_ROTATION_LIST);
    if (c[OPTION_ROTATION] == 4) {
      c[OPTION_ROTATION] = 0;
      p.ROTATION = 0;
    }
    SetList(OPTION_CROPPING, KELO_CROPPING_LIST_NO_OVERSCAN);
  } else {
    Inactivate(OPTION_BACK_SIDE_LOCATION);
    Inactivate(OPTION_BACK_SIDE_ROTATION);
    SetList(OPTION_ROTATION, KELO_ROTATION_LIST);
  }
}
