// The main backend's option rules: the scan-property record built from the
// chosen values, which options are active for the device and source, and
// the front end's get and set.
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

using namespace opt;

void GetSelectedInfo() {
  SCAN_PROP_INFO& p = g_PropInfo;
  const int32_t* v = g_OptSelected;
  if (!g_hLibKeloImage) p.HARDWARE_PROC = 1;
  const bool h = p.HARDWARE_PROC != 0;

  p.SCAN_SOURCE = static_cast<uint8_t>(v[OPTION_SOURCE]);
  p.IMAGE_MODE = static_cast<uint8_t>(v[OPTION_MODE]);
  p.SCAN_RES_X = p.SCAN_RES_Y = static_cast<uint16_t>(v[OPTION_RESOLUTION]);
  const bool adf = IsAdf(v[OPTION_SOURCE]);
  p.PAPER_SIZE = v[OPTION_PAGE_AUTO] ? 10 : (adf ? v[OPTION_PAPER_SIZE] : 0);
  p.LEFT = SANE_MM_TO_UNIT(v[OPTION_TL_X]);
  p.TOP = SANE_MM_TO_UNIT(v[OPTION_TL_Y]);
  p.RIGHT = SANE_MM_TO_UNIT(v[OPTION_BR_X]);
  p.BOTTOM = SANE_MM_TO_UNIT(v[OPTION_BR_Y]);
  p.CUST_PAGE_WIDTH = SANE_MM_TO_UNIT(v[OPTION_PAGE_WIDTH]);
  p.CUST_PAGE_LENGTH = SANE_MM_TO_UNIT(v[OPTION_PAGE_HEIGHT]);

  // The feeder-only fields follow their cells on the flatbed as well, where
  // the rules hold them at their flatbed values: a stale autofeed from an
  // earlier ADF selection must not make the flatbed scan ahead.
  p.IMAGE_INDEX_TAB = static_cast<uint8_t>(v[OPTION_IMAGE_INDEX_TAB]);
  p.AUTOFEED = static_cast<uint8_t>(v[OPTION_AUTOFEED]);
  p.PAGE_AUTO_PRIORITY = static_cast<uint8_t>(v[OPTION_PAGE_AUTO_PRIORITY]);
  p.PAPER_PROTECTION = static_cast<uint8_t>(v[OPTION_PAPER_PROTECTION]);
  p.CROPPING_MARGIN = static_cast<int16_t>(v[OPTION_CROPPING_MARGIN]);
  const bool colorDetect = v[OPTION_AUTO_COLOR_DETECTION] != 0;
  if (h) {
    p.AUTO_COLOR_DETECT = colorDetect ? 1 : 0;
    p.JPEG_TRANSFER = (v[OPTION_MODE] <= 1 || colorDetect) ? 0 : static_cast<uint8_t>(v[OPTION_JPEG]);
  } else {
    if (!adf) p.PAGE_AUTO_PRIORITY = 1;
    p.AUTO_COLOR_DETECT = colorDetect ? 2 : 0;
    p.JPEG_TRANSFER = static_cast<uint8_t>(v[OPTION_JPEG]);
  }
  p.JPEG_TYPE = static_cast<uint8_t>(v[OPTION_JPEG_TYPE]);
  p.JPEG_QUALITY = static_cast<uint8_t>(v[OPTION_JPEG_QUALITY]);

  if (!(p.SCAN_SOURCE == 3 && g_bIsReadDoubleBack)) {
    const int res = p.SCAN_RES_X;
    int pixels = static_cast<int>((std::floor(p.RIGHT - p.LEFT) * res) / 1200);
    int lines = static_cast<int>((res * std::floor(p.BOTTOM - p.TOP)) / 1200);
    const int pixels8 = (pixels + 7) / 8 * 8;
    QV_IMAGEDATA_PARAMETERS& f = g_ImgDataInfo.tFront;
    f.iLastFrame = 1;
    if (p.JPEG_TRANSFER) {
      if (p.JPEG_TYPE == 129)
        pixels = pixels8;
      else if (p.JPEG_TYPE == 130)
        pixels = pixels / 16 * 16;
      else if (p.JPEG_TYPE == 131)
        pixels = pixels / 32 * 32;
      lines = lines / 8 * 8;
    } else if (h && p.IMAGE_MODE <= 1) {
      pixels = pixels8;  // the scanner's line art comes in whole bytes
    }
    f.iPixelsPerLine = pixels;
    f.iLines = lines;
    SetFaceFrame(f, p.IMAGE_MODE == 3 ? FaceKind::Colour : (p.IMAGE_MODE == 2 ? FaceKind::Grey : FaceKind::LineArt),
                 pixels);
    g_ImgDataInfo.tBack = f;
  }

  p.THRESHOLD = static_cast<uint8_t>(v[OPTION_THRESHOLD] & 0xFF);
  if (h && p.THRESHOLD == 0) p.THRESHOLD = 1;
  p.DROPOUT_COLOR = static_cast<uint8_t>(v[OPTION_DROP_OUT]);
  p.BRIGHTNESS = static_cast<int16_t>(v[OPTION_BRIGHTNESS]);
  p.CONTRAST = static_cast<int16_t>(v[OPTION_CONTRAST]);
  p.RIF = static_cast<uint8_t>(v[OPTION_RIF]);
  p.EDGE_PROCESSING = static_cast<uint8_t>(v[OPTION_EDGE_PROCESSING]);
  p.IMAGE_EMPHASIS = static_cast<uint8_t>(v[OPTION_IMAGE_EMPHASIS]);
  p.HALFTONE_TYPE = static_cast<uint8_t>(v[OPTION_HT_TYPE]);
  p.HALFTONE_PATTERN = static_cast<uint8_t>(v[OPTION_HT_PATTERN]);
  p.DF_ACTION = static_cast<uint8_t>(v[OPTION_DF_ACTION]);
  p.DF_THICKNESS = static_cast<uint8_t>(v[OPTION_DF_THICKNESS]);
  p.DF_LENGTH = static_cast<uint8_t>(v[OPTION_DF_LENGTH]);
  p.BG_COLOR = (p.PAPER_SIZE == 10 && p.SCAN_SOURCE == 0) ? 1 : static_cast<uint8_t>(v[OPTION_BGCOLOR]);
  static const int16_t kPowerOff[] = {-1, 60, 120, 240, 480};
  if (v[OPTION_POWER_OFF] >= 0 && v[OPTION_POWER_OFF] <= 4) {
    p.POWER_OFF_TIME = kPowerOff[v[OPTION_POWER_OFF]];
  } else {
    Err("GetSelectedInfo", "Does not recognize power off selection");
    p.POWER_OFF_TIME = 0;
  }
  p.PREPICK = static_cast<uint8_t>(v[OPTION_PREPICK]);
  p.SLEEP_TIMER = static_cast<uint8_t>(v[OPTION_SLEEPTIMER]);
  p.HOLE_PUNCH_REMOVE = (g_iDevType != 35 && p.PAPER_SIZE == 10 && p.BG_COLOR == 1)
                            ? static_cast<uint8_t>(v[OPTION_HOLE_PUNCH_REMOVE])
                            : 0;
  p.BLANK_PAGE_SKIP = static_cast<uint8_t>(v[OPTION_BLANK_PAGE_SKIP]);
  p.BLANK_PAGE_SENSITIVITY = static_cast<int8_t>(v[OPTION_BLANK_PAGE_SKIP_SENSITIVITY] - 3);
  p.BLANK_PAGE_BLACK_RATIO = static_cast<uint8_t>(v[OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO]);
  p.BLANK_PAGE_WHITE_RATIO = static_cast<uint8_t>(v[OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO]);
  p.SRGB = (p.IMAGE_MODE == 3 || p.AUTO_COLOR_DETECT) ? static_cast<uint8_t>(v[OPTION_SRGB]) : 0;
  p.SDTC_MODE = static_cast<uint8_t>(v[OPTION_BW_SDTC]);
  p.SDTC_VARIANCE = static_cast<uint8_t>(v[OPTION_BW_SDTC_VARIANCE]);
  g_BaseImgDataInfo = g_ImgDataInfo;
}

namespace {

// Options a flatbed scan has no use for, with either kind of processing.
void FlatbedStepFeeder() {
  OffWith(OPTION_DF_ACTION, 0);
  Off(OPTION_DF_THICKNESS);
  Off(OPTION_DF_LENGTH);
  Off(OPTION_PREPICK);
  Off(OPTION_PAGE_WIDTH);
  Off(OPTION_PAGE_HEIGHT);
  Off(OPTION_PAPER_SIZE);
  OffWith(OPTION_AUTOFEED, 0);
  Off(OPTION_PAPER_PROTECTION);
  if (g_OptSelected[OPTION_PAPER_SIZE] == 0) {
    g_OptSelected[OPTION_PAGE_WIDTH] = kMm216;
    g_OptSelected[OPTION_PAGE_HEIGHT] = kMm297;
  }
}

void FlatbedStepHardware() {
  OffWith(OPTION_PAGE_AUTO, 0);
  Off(OPTION_CROPPING_MARGIN);
  Off(OPTION_IMAGE_INDEX_TAB);
  FlatbedStepFeeder();
}

void FlatbedStepSoftware() {
  OffWith(OPTION_BLANK_PAGE_SKIP, 0);
  Off(OPTION_BLANK_PAGE_SKIP_SENSITIVITY);
  Off(OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO);
  Off(OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO);
  FlatbedStepFeeder();
  Off(OPTION_PAGE_AUTO_PRIORITY);
  Off(OPTION_CROPPING_MARGIN);
}

void UseDropoutList(SANE_String_Const* list) {
  g_OptList[OPTION_DROP_OUT].constraint.string_list = list;
  SetCap(OPTION_DROP_OUT, kCapA);
}

}  // namespace

void ReloadOptions() {
  int32_t* v = g_OptSelected;
  const int t = g_iDevType;
  const bool corvane5 = IsCorvane5Type(t);
  const int mode = v[OPTION_MODE];
  const bool flatbed = v[OPTION_SOURCE] == 0;

  for (int o : {OPTION_TL_X, OPTION_TL_Y, OPTION_BR_X, OPTION_BR_Y, OPTION_PAGE_WIDTH, OPTION_PAGE_HEIGHT,
                OPTION_PAPER_SIZE, OPTION_THRESHOLD, OPTION_HT_TYPE, OPTION_HT_PATTERN, OPTION_JPEG, OPTION_JPEG_TYPE,
                OPTION_JPEG_QUALITY, OPTION_AUTOFEED, OPTION_PAGE_AUTO, OPTION_PAGE_AUTO_PRIORITY,
                OPTION_IMAGE_INDEX_TAB, OPTION_BW_SDTC, OPTION_BW_SDTC_VARIANCE})
    SetCap(o, kCapS);
  for (int o : {OPTION_DROP_OUT, OPTION_DF_ACTION, OPTION_DF_THICKNESS, OPTION_DF_LENGTH, OPTION_EDGE_PROCESSING,
                OPTION_IMAGE_EMPHASIS, OPTION_POWER_OFF, OPTION_PAPER_PROTECTION, OPTION_BLANK_PAGE_SKIP,
                OPTION_BLANK_PAGE_SKIP_SENSITIVITY, OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO,
                OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO})
    SetCap(o, kCapA);
  if (RowHasList(&OPTION_LIST_INFO::tPrepick)) SetCap(OPTION_PREPICK, kCapA);

  if ((t >= 22 && t <= 24) || t == 35) {
    SetCap(OPTION_PAGE_AUTO_PRIORITY, kCapI);
    SetCap(OPTION_IMAGE_INDEX_TAB, kCapI);
    SetCap(OPTION_HOLE_PUNCH_REMOVE, kCapI);
    v[OPTION_PAGE_AUTO_PRIORITY] = 1;
  } else {
    SetCap(OPTION_HOLE_PUNCH_REMOVE, kCapA);
  }
  if (t == 0 || t == 1 || t == 2 || t == 4 || t == 5 || t == 6) {
    SetCap(OPTION_PAGE_AUTO_PRIORITY, kCapI);
    v[OPTION_PAGE_AUTO_PRIORITY] = 1;
  }

  if (!corvane5) {
    SetCap(OPTION_CROPPING_MARGIN, kCapI);
    SetCap(OPTION_POWER_OFF, kCapI);
    SetCap(OPTION_PAPER_PROTECTION, kCapI);
  } else {
    SetCap(OPTION_CROPPING_MARGIN, kCapS);
    SetCap(OPTION_POWER_OFF, kCapA);
    SetCap(OPTION_PAPER_PROTECTION, kCapA);
  }

  // Blank-page skipping needs the blank-page judge; without it the switch
  // is withdrawn as well as its companions.
  const SANE_Int blankCap = g_BPDFunction ? kCapA : kCapI;
  for (int o : {OPTION_BLANK_PAGE_SKIP_SENSITIVITY, OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO,
                OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO})
    SetCap(o, blankCap);
  if (!g_BPDFunction) {
    SetCap(OPTION_BLANK_PAGE_SKIP, kCapI);
    v[OPTION_BLANK_PAGE_SKIP] = 0;
  }

  if (g_PropInfo.HARDWARE_PROC) {
    if ((t >= 0 && t <= 2) || (t >= 4 && t <= 6) || (t >= 22 && t <= 24) || t == 35) {
      SetCap(OPTION_PAGE_AUTO, kCapI);
      v[OPTION_PAGE_AUTO] = 0;
      SetCap(OPTION_AUTO_COLOR_DETECTION, kCapI);
      v[OPTION_AUTO_COLOR_DETECTION] = 0;
    }
    if (!corvane5) SetCap(OPTION_IMAGE_INDEX_TAB, kCapI);
    SetCap(OPTION_PAGE_AUTO_PRIORITY, kCapI);
    v[OPTION_PAGE_AUTO_PRIORITY] = 0;
    for (int o : {OPTION_BLANK_PAGE_SKIP, OPTION_BLANK_PAGE_SKIP_SENSITIVITY, OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO,
                  OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO, OPTION_HOLE_PUNCH_REMOVE})
      SetCap(o, kCapI);
    v[OPTION_HOLE_PUNCH_REMOVE] = 0;
    v[OPTION_BLANK_PAGE_SKIP] = 0;
    if (v[OPTION_BGCOLOR] == 0) {
      OffWith(OPTION_PAGE_AUTO, 0);
      Off(OPTION_CROPPING_MARGIN);
      Off(OPTION_IMAGE_INDEX_TAB);
    }
    if (flatbed) FlatbedStepHardware();
    UseDropoutList(KELO_HARDWARE_DROPOUT_COLOR_LIST_COMMON);
    if (v[OPTION_DROP_OUT] == 1) v[OPTION_DROP_OUT] = 0;
    switch (mode) {
      case 3:
        for (int o : {OPTION_DROP_OUT, OPTION_HT_TYPE, OPTION_HT_PATTERN, OPTION_THRESHOLD, OPTION_EDGE_PROCESSING,
                      OPTION_BW_SDTC, OPTION_BW_SDTC_VARIANCE})
          Off(o);
        break;
      case 2:
        for (int o : {OPTION_IMAGE_EMPHASIS, OPTION_HT_TYPE, OPTION_HT_PATTERN, OPTION_THRESHOLD,
                      OPTION_EDGE_PROCESSING, OPTION_BW_SDTC, OPTION_BW_SDTC_VARIANCE})
          Off(o);
        break;
      case 1:
        for (int o : {OPTION_IMAGE_EMPHASIS, OPTION_THRESHOLD, OPTION_EDGE_PROCESSING, OPTION_JPEG, OPTION_BW_SDTC,
                      OPTION_BW_SDTC_VARIANCE})
          Off(o);
        if (v[OPTION_HT_TYPE] == 1) Off(OPTION_HT_PATTERN);
        break;
      default:
        for (int o : {OPTION_IMAGE_EMPHASIS, OPTION_HT_TYPE, OPTION_HT_PATTERN, OPTION_JPEG}) Off(o);
        Off(v[OPTION_BW_SDTC] ? OPTION_THRESHOLD : OPTION_BW_SDTC_VARIANCE);
        break;
    }
    if (g_PropInfo.PAPER_SIZE != 10) {
      Off(OPTION_IMAGE_INDEX_TAB);
      Off(OPTION_CROPPING_MARGIN);
    }
  } else {
    if (v[OPTION_BGCOLOR] != 0) {
      if (flatbed) {
        if (t >= 22 && t <= 24) OffWith(OPTION_PAGE_AUTO, 0);
        FlatbedStepSoftware();
      }
    } else {
      if (t <= 7) OffWith(OPTION_PAGE_AUTO, 0);
      g_PropInfo.PAGE_AUTO_PRIORITY = 1;
      v[OPTION_PAGE_AUTO_PRIORITY] = 1;
      Off(OPTION_IMAGE_INDEX_TAB);
      Off(OPTION_PAGE_AUTO_PRIORITY);
      Off(OPTION_CROPPING_MARGIN);
      if (flatbed) {
        OffWith(OPTION_PAGE_AUTO, 0);
        FlatbedStepSoftware();
      }
    }
    UseDropoutList(KELO_DROPOUT_COLOR_LIST_COMMON);
    if (v[OPTION_DROP_OUT] == 0) v[OPTION_DROP_OUT] = 1;
    switch (mode) {
      case 3:
      case 2:
        Off(mode == 3 ? OPTION_DROP_OUT : OPTION_IMAGE_EMPHASIS);
        for (int o : {OPTION_HT_TYPE, OPTION_HT_PATTERN, OPTION_THRESHOLD, OPTION_EDGE_PROCESSING, OPTION_BW_SDTC,
                      OPTION_BW_SDTC_VARIANCE})
          Off(o);
        break;
      case 1:
        for (int o :
             {OPTION_IMAGE_EMPHASIS, OPTION_THRESHOLD, OPTION_EDGE_PROCESSING, OPTION_BW_SDTC, OPTION_BW_SDTC_VARIANCE})
          Off(o);
        if (v[OPTION_HT_TYPE] == 1) Off(OPTION_HT_PATTERN);
        break;
      default:
        for (int o : {OPTION_IMAGE_EMPHASIS, OPTION_HT_TYPE, OPTION_HT_PATTERN}) Off(o);
        Off(v[OPTION_BW_SDTC] ? OPTION_THRESHOLD : OPTION_BW_SDTC_VARIANCE);
        break;
    }
    if (g_PropInfo.PAPER_SIZE != 10) {
      OffWith(OPTION_HOLE_PUNCH_REMOVE, 0);
      Off(OPTION_PAGE_AUTO_PRIORITY);
      Off(OPTION_IMAGE_INDEX_TAB);
      Off(OPTION_CROPPING_MARGIN);
    } else if (v[OPTION_BGCOLOR] != 1) {
      OffWith(OPTION_HOLE_PUNCH_REMOVE, 0);
    }
    if (!v[OPTION_BLANK_PAGE_SKIP]) {
      Off(OPTION_BLANK_PAGE_SKIP_SENSITIVITY);
      Off(OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO);
      Off(OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO);
    } else if (mode >= 2) {
      Off(OPTION_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO);
      Off(OPTION_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO);
    } else {
      Off(OPTION_BLANK_PAGE_SKIP_SENSITIVITY);
    }
    if (g_PropInfo.PAGE_AUTO_PRIORITY == 1)
      Off(OPTION_CROPPING_MARGIN);
    else if (!corvane5)
      Off(OPTION_IMAGE_INDEX_TAB);
  }

  if (v[OPTION_DF_ACTION] == 0) {
    Off(OPTION_DF_THICKNESS);
    Off(OPTION_DF_LENGTH);
  }
  if (!g_PropInfo.JPEG_TRANSFER) {
    Off(OPTION_JPEG_TYPE);
    Off(OPTION_JPEG_QUALITY);
  }
  if (!g_bLibjpeg) {
    SetCap(OPTION_JPEG, kCapI);
    SetCap(OPTION_JPEG_TYPE, kCapI);
    SetCap(OPTION_JPEG_QUALITY, kCapI);
    g_PropInfo.JPEG_TRANSFER = 0;
  }
  // The paper decides the window on the feeder: the geometry's values
  // cannot take effect, and a front end must say so.
  if (IsAdf(v[OPTION_SOURCE]) && !v[OPTION_PAGE_AUTO] && v[OPTION_PAPER_SIZE] != 0)
    for (int o = OPTION_TL_X; o <= OPTION_PAGE_HEIGHT; ++o) Off(o);
}

SANE_Status GetParameters(SANE_Parameters* params) {
  if (!params) {
    Err("GetParameters", "spParams == NULL");
    return SANE_STATUS_INVAL;
  }
  const QV_IMAGEDATA_PARAMETERS* face;
  const int source = g_PropInfo.SCAN_SOURCE;
  if (source == 2 || (source == 3 && g_bIsReadDoubleBack)) {
    face = &g_ImgDataInfo.tBack;
  } else if (source <= 3) {
    face = &g_ImgDataInfo.tFront;
  } else {
    Err("GetParameters", "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  params->format = static_cast<SANE_Frame>(face->iFormat);
  params->last_frame = face->iLastFrame;
  params->bytes_per_line = face->iBytesPerLine;
  params->pixels_per_line = face->iPixelsPerLine;
  params->lines = face->iLines;
  params->depth = face->iDepth;
  return SANE_STATUS_GOOD;
}

SANE_Status GetControlOption(int option, void* value) {
  static const char* const kTag = "GetControlOption";
  if (!value || option < 0 || option >= OPTION_TOTAL_NUM) {
    Err(kTag, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  const SANE_Option_Descriptor& desc = g_OptList[option];
  MapRef map = MapOf(option);
  if (map.pMap && desc.type == SANE_TYPE_STRING) {
    const char* text = GetOptValue(g_OptSelected[option], map.pMap, map.iCount);
    if (!text) {
      char* msg = SetMessage();
      snprintf(msg, 4096, "OPTION_%s cpVlaue == NULL", map.szName);
      Err(kTag, msg);
      return SANE_STATUS_INVAL;
    }
    snprintf(static_cast<char*>(value), static_cast<size_t>(desc.size), "%s", text);
    return SANE_STATUS_GOOD;
  }
  switch (option) {
    case OPTION_TOTAL_SCANPAGE_COUNT:
    case OPTION_TOTAL_PICKROLLER_COUNT:
    case OPTION_TOTAL_PADASSY_COUNT:
    case OPTION_TOTAL_FLATBED_COUNT: {
      KeloDevCtl* dev = velmorak;
      if (!dev) return SANE_STATUS_INVAL;
      errno = 0;  // only this device step may colour its status
      uint32_t counts[4] = {};
      uint32_t result = dev->DoGetCount(&counts[0], &counts[1], &counts[2], &counts[3]);
      if (result != 0) return KeloDevCtl::ConvertToSaneErr(result);
      SANE_Word answer = static_cast<SANE_Word>(counts[option - OPTION_TOTAL_SCANPAGE_COUNT]);
      if (option == OPTION_TOTAL_FLATBED_COUNT && !g_bHasFlatbed) answer = g_iDevType == 35 ? -2 : -1;
      *static_cast<SANE_Word*>(value) = answer;
      return SANE_STATUS_GOOD;
    }
    case OPTION_USB_COMMAND:
    case OPTION_USB_WRITE:
      return SANE_STATUS_UNSUPPORTED;
    default:
      *static_cast<SANE_Word*>(value) = g_OptSelected[option];
      return SANE_STATUS_GOOD;
  }
}

SANE_Status SetControlOption(int option, void* value, SANE_Int* info) {
  static const char* const kTag = "SetControlOption";
  if (!value || option < 0 || option >= OPTION_TOTAL_NUM) {
    Err(kTag, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  // The front end's word may be uninitialised: every answer starts clean.
  if (info) *info = 0;
  SANE_Option_Descriptor* desc = &g_OptList[option];
  const bool alwaysSettable = option == OPTION_TOTAL_SCANPAGE_COUNT || option == OPTION_TOTAL_PICKROLLER_COUNT ||
                              option == OPTION_TOTAL_PADASSY_COUNT || option == OPTION_USB_COMMAND ||
                              option == OPTION_USB_WRITE;
  if (!alwaysSettable && !(desc->cap & SANE_CAP_SOFT_SELECT)) {
    Err(kTag, "can not set");
    return SANE_STATUS_INVAL;
  }
  SANE_Status status = CheckSetValue(desc, value, info);
  if (status != SANE_STATUS_GOOD) {
    Err(kTag, "CheckSetValue() != SANE_STATUS_GOOD");
    return status;
  }
  int32_t* v = g_OptSelected;
  // A string value may be shorter than a word ("jpeg-quality" has 3 bytes).
  const SANE_Word word = desc->type == SANE_TYPE_STRING ? 0 : *static_cast<SANE_Word*>(value);
  const char* text = static_cast<const char*>(value);
  switch (option) {
    case OPTION_SOURCE: {
      status = SetOptValue(text, KELO_SOURCE, Count(KELO_SOURCE), &v[OPTION_SOURCE]);
      if (status == SANE_STATUS_GOOD) {
        if (IsAdf(v[OPTION_SOURCE])) {
          g_tPageWidthRange.max = kMm216;
          SetXMax(v[OPTION_PAGE_WIDTH]);
          g_tPageHeightRange.max = AdfPageHeightMax();
          SetYMax(v[OPTION_PAGE_HEIGHT]);
        } else {
          SetXMax(kMm216);
          SetYMax(kMm297);
        }
      }
      RefreshAndFlag(info);
      return status;
    }
    case OPTION_TL_X:
    case OPTION_TL_Y:
    case OPTION_BR_X:
    case OPTION_BR_Y:
    case OPTION_PAGE_WIDTH:
    case OPTION_PAGE_HEIGHT: {
      if (option <= OPTION_BR_Y) {
        if (IsAdf(v[OPTION_SOURCE]) && v[OPTION_PAPER_SIZE] != 0) {
          v[OPTION_TL_X] = v[OPTION_TL_Y] = 0;
          v[OPTION_BR_X] = v[OPTION_PAGE_WIDTH];
          v[OPTION_BR_Y] = v[OPTION_PAGE_HEIGHT];
        } else {
          v[option] = word;
        }
      } else if (v[OPTION_PAPER_SIZE] == 0) {
        const bool x = option == OPTION_PAGE_WIDTH;
        v[option] = word;
        if (x) {
          SetXMax(word);
        } else {
          SetYMax(word);
        }
        int br = x ? OPTION_BR_X : OPTION_BR_Y, tl = x ? OPTION_TL_X : OPTION_TL_Y;
        if (v[br] > word) v[br] = word;
        if (v[tl] > word) v[tl] = word;
      }
      int* reload = ReloadFlagOf(option);
      if (*reload) {
        *reload = 0;
        Refresh();
      } else {
        RefreshAndFlag(info);
      }
      return SANE_STATUS_GOOD;
    }
    case OPTION_PAPER_SIZE: {
      status = SetOptValue(text, KELO_PAPERSIZE, Count(KELO_PAPERSIZE), &v[OPTION_PAPER_SIZE]);
      if (status != SANE_STATUS_GOOD) {
        RefreshAndFlag(info);
        return status;
      }
      if (IsAdf(v[OPTION_SOURCE]) && v[OPTION_PAPER_SIZE] != 0) {
        LoadPaperSize(v[OPTION_PAPER_SIZE], KELO_DEFAULT_PAPER_SIZE, KELO_PAPER_SIZE_COUNT);
        v[OPTION_TL_X] = v[OPTION_TL_Y] = 0;
        v[OPTION_BR_X] = v[OPTION_PAGE_WIDTH];
        v[OPTION_BR_Y] = v[OPTION_PAGE_HEIGHT];
        SetXMax(v[OPTION_PAGE_WIDTH]);
        SetYMax(v[OPTION_PAGE_HEIGHT]);
      } else if (!IsAdf(v[OPTION_SOURCE])) {
        SetXMax(kMm216);
        SetYMax(kMm297);
        v[OPTION_PAGE_WIDTH] = kMm216;
        v[OPTION_PAGE_HEIGHT] = kMm297;
      }
      RefreshAndFlag(info);
      return SANE_STATUS_GOOD;
    }
    case OPTION_PAGE_AUTO:
    case OPTION_BW_SDTC:
    case OPTION_JPEG:
    case OPTION_AUTOFEED:
    case OPTION_BLANK_PAGE_SKIP:
      v[option] = word;
      RefreshAndFlag(info);
      return SANE_STATUS_GOOD;
    case OPTION_MODE:
    case OPTION_PAGE_AUTO_PRIORITY:
    case OPTION_IMAGE_INDEX_TAB:
    case OPTION_HT_TYPE:
    case OPTION_BW_SDTC_VARIANCE:
    case OPTION_JPEG_TYPE:
    case OPTION_JPEG_QUALITY:
    case OPTION_DF_ACTION:
    case OPTION_BGCOLOR:
    case OPTION_DROP_OUT:
    case OPTION_POWER_OFF:
    case OPTION_PAPER_PROTECTION:
    case OPTION_PREPICK:
    case OPTION_EDGE_PROCESSING:
    case OPTION_IMAGE_EMPHASIS:
    case OPTION_HOLE_PUNCH_REMOVE: {
      MapRef map = MapOf(option);
      status = SetOptValue(text, map.pMap, map.iCount, &v[option]);
      RefreshAndFlag(info);
      return status;
    }
    case OPTION_TOTAL_PICKROLLER_COUNT:
    case OPTION_TOTAL_PADASSY_COUNT: {
      if (word == 0) {
        KeloDevCtl* dev = velmorak;
        if (!dev) return SANE_STATUS_INVAL;
        errno = 0;
        uint32_t result = dev->DoClearCount(option == OPTION_TOTAL_PICKROLLER_COUNT ? 1 : 2);
        if (result != 0) return KeloDevCtl::ConvertToSaneErr(result);
      }
      Refresh();
      return SANE_STATUS_GOOD;
    }
    case OPTION_USB_COMMAND:
    case OPTION_USB_WRITE: {
      KeloDevCtl* dev = velmorak;
      if (!dev) return SANE_STATUS_INVAL;
      // A length byte and at most 255 data bytes: any length byte fits.
      unsigned char* bytes = static_cast<unsigned char*>(value);
      uint32_t length = bytes[0];
      errno = 0;
      uint32_t result = option == OPTION_USB_COMMAND ? dev->DoScanButtonSend(bytes + 1, length)
                                                     : dev->DoScanButtonRecieve(bytes + 1, length);
      if (result != 0) return KeloDevCtl::ConvertToSaneErr(result);
      Refresh();
      return SANE_STATUS_GOOD;
    }
    case OPTION_TOTAL_SCANPAGE_COUNT:
    case OPTION_TOTAL_FLATBED_COUNT:
      Refresh();
      return SANE_STATUS_GOOD;
    default:
      v[option] = word;
      Refresh();
      return SANE_STATUS_GOOD;
  }
}

}  // namespace dravnmain
