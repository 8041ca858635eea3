#include "prop_info.h"

#include <cmath>
#include <utility>

#include "frontend_flags.h"
#include "log.h"
#include "option_table.h"

KELO_PROP_INFO g_PropInfo;
KELO_IMAGEDATA_PARAMETERS g_ImgDataInfo[2];
int g_bIsReadDoubleBack = 0;
int g_bIsReadFrontUpper = 1;
int g_bIsReadBackUpper = 1;
KeloSelko2Link* g_pSelko2Link = nullptr;

namespace {

double ToUnits(SANE_Word fixedMm) { return fixedMm / KELO_MM_PER_UNIT_FIXED; }

// simple-scan before it has set a page size: the longest page the family
// scans at the resolution.
SANE_Word AutomaticFeederLength(int resolution) {
  switch (GetDevFamily()) {
    case KELO_FAMILY_SELKO2:
      if (resolution > 300) return KELO_LENGTH_355_6MM;
      return resolution > 200 ? KELO_LENGTH_863_6MM : KELO_LENGTH_3175MM;
    case KELO_FAMILY_BRENNA:
      return resolution > 200 ? KELO_LENGTH_863_6MM : KELO_LENGTH_3175MM;
    default:
      return resolution > 300 ? KELO_LENGTH_355_6MM : KELO_LENGTH_863_6MM;
  }
}

// While the Selko2 class serves the later parts of a split or duplex page,
// the geometry of the part being served stays.
bool KeepFrameGeometry() {
  const int source = g_PropInfo.SCAN_FACE;
  if (g_PropInfo.SPLIT_IMAGE) {
    if (source == 0 || source == 1) return !g_bIsReadFrontUpper;
    if (source == 2) return !g_bIsReadBackUpper;
    if (source == 3) return g_bIsReadDoubleBack || !g_bIsReadFrontUpper;
    return false;
  }
  return !g_PropInfo.FRONT_BACK_MERGING && source == 3 && g_bIsReadDoubleBack;
}

void BuildFrameGeometry() {
  const KELO_PROP_INFO& p = g_PropInfo;
  long width = static_cast<long>(p.BOTTOM_RIGHT_X - p.TOP_LEFT_X);
  long length = static_cast<long>(p.BOTTOM_RIGHT_Y - p.TOP_LEFT_Y);
  if (GetDevFamily() == KELO_FAMILY_SELKO2 && p.CROPPING == 3) {
    if (p.PAPER_SIZE == 0) {
      width = static_cast<long>(p.CUST_PAGE_WIDTH);
      length = static_cast<long>(p.CUST_PAGE_LENGTH);
    }
    width += 936;
    length += 936;
    if (width > 10368) width = 10368;
    const long maxLength = p.SCAN_RES_X > 300 ? 17736 : p.SCAN_RES_X > 200 ? 41736 : 150936;
    if (length > maxLength) length = maxLength;
  }
  // An area whose corners are crossed has no pixels, not a negative count.
  if (width < 0) width = 0;
  if (length < 0) length = 0;
  int pixels = static_cast<int>(p.SCAN_RES_X * width / 1200);
  int lines = static_cast<int>(p.SCAN_RES_Y * length / 1200);
  if (p.ROTATION == 90 || p.ROTATION == 270) std::swap(pixels, lines);

  KELO_IMAGEDATA_PARAMETERS face;
  face.iLastFrame = 1;
  face.iPixelsPerLine = pixels;
  face.iLines = lines;
  SetFaceFrame(face, p.SCAN_MODE == 2 ? FaceKind::Colour : (p.SCAN_MODE == 1 ? FaceKind::Grey : FaceKind::LineArt),
               pixels);
  g_ImgDataInfo[0] = face;
  g_ImgDataInfo[1] = face;
  if (g_pSelko2Link && (p.SPLIT_IMAGE || p.FRONT_BACK_MERGING))
    g_pSelko2Link->SetFrameGeometry(face, p.SPLIT_IMAGE != 0, p.FRONT_BACK_MERGING != 0);
}

}  // namespace

void GetSelectedInfo() {
  const SANE_Word* c = g_OptSelected;
  KELO_PROP_INFO& p = g_PropInfo;
  const bool feeder = c[OPTION_SOURCE] != 0;

  p.SCAN_FACE = static_cast<unsigned char>(c[OPTION_SOURCE]);
  p.SCAN_RES_X = p.SCAN_RES_Y = static_cast<unsigned short>(c[OPTION_RESOLUTION]);
  p.SCAN_MODE = static_cast<unsigned char>(c[OPTION_MODE]);
  p.TOP_LEFT_X = ToUnits(c[OPTION_TL_X]);
  p.TOP_LEFT_Y = ToUnits(c[OPTION_TL_Y]);

  if (!g_bIsSimpleScan) {
    p.BOTTOM_RIGHT_X = ToUnits(c[OPTION_BR_X]);
    p.BOTTOM_RIGHT_Y = ToUnits(c[OPTION_BR_Y]);
    p.CUST_PAGE_WIDTH = ToUnits(c[OPTION_PAGE_WIDTH]);
    p.CUST_PAGE_LENGTH = ToUnits(c[OPTION_PAGE_HEIGHT]);
  } else if (!g_bIsAutomatic) {
    p.BOTTOM_RIGHT_X = ToUnits(c[feeder ? OPTION_PAGE_WIDTH : OPTION_BR_X]);
    p.BOTTOM_RIGHT_Y = ToUnits(c[feeder ? OPTION_PAGE_HEIGHT : OPTION_BR_Y]);
    p.CUST_PAGE_WIDTH = ToUnits(c[OPTION_PAGE_WIDTH]);
    p.CUST_PAGE_LENGTH = ToUnits(c[OPTION_PAGE_HEIGHT]);
  } else if (feeder) {
    p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH = ToUnits(KELO_LENGTH_216MM);
    p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH = ToUnits(AutomaticFeederLength(c[OPTION_RESOLUTION]));
  } else {
    p.BOTTOM_RIGHT_X = ToUnits(KELO_LENGTH_216MM);
    p.BOTTOM_RIGHT_Y = ToUnits(KELO_LENGTH_297MM);
    p.CUST_PAGE_WIDTH = ToUnits(c[OPTION_PAGE_WIDTH]);
    p.CUST_PAGE_LENGTH = ToUnits(c[OPTION_PAGE_HEIGHT]);
  }

  if (c[OPTION_PAGE_AUTO])
    p.PAPER_SIZE = c[OPTION_CROPPING] == 0 ? 12 : c[OPTION_PAPER_SIZE];
  else
    p.PAPER_SIZE = feeder ? c[OPTION_PAPER_SIZE] : 0;

  p.BRIGHTNESS = static_cast<short>(c[OPTION_BRIGHTNESS]);
  p.CONTRAST = static_cast<short>(c[OPTION_CONTRAST]);
  p.SHADOW = static_cast<unsigned char>(c[OPTION_SHADOW]);
  p.HIGHLIGHT = static_cast<unsigned char>(c[OPTION_HIGHLIGHT]);
  p.GAMMA = static_cast<unsigned short>(std::lround(c[OPTION_GAMMA] * 1000.0 / 65536.0));
  p.THRESHOLD = static_cast<unsigned char>(c[OPTION_THRESHOLD]);
  p.BW_MODE = static_cast<unsigned char>(c[OPTION_BW_MODE]);
  p.BW_SDTC_VARIANCE = static_cast<unsigned char>(c[OPTION_BW_SDTC_VARIANCE]);
  p.BW_IDTC_SENSITIVITY = static_cast<signed char>(c[OPTION_BW_IDTC_SENSITIVITY]);
  p.BW_IDTC_BACKGROUND_THRESHOLD = static_cast<signed char>(c[OPTION_BW_IDTC_BACKGROUND_THRESHOLD]);
  p.AUTOFEED = static_cast<unsigned char>(c[OPTION_AUTOFEED]);
  p.EDGE_FILLER_TOP = ToUnits(c[OPTION_EDGE_FILLER_TOP]);
  p.EDGE_FILLER_BOTTOM = ToUnits(c[OPTION_EDGE_FILLER_BOTTOM]);
  p.EDGE_FILLER_LEFT = ToUnits(c[OPTION_EDGE_FILLER_LEFT]);
  p.EDGE_FILLER_RIGHT = ToUnits(c[OPTION_EDGE_FILLER_RIGHT]);
  p.DF_ACTION = static_cast<unsigned char>(c[OPTION_DF_ACTION]);
  p.MF_OVERLAPPING = static_cast<unsigned char>(c[OPTION_MF_OVERLAPPING]);
  p.DROPOUT_COLOR = static_cast<unsigned char>(c[OPTION_DROP_OUT]);
  p.CLEANUP_SHARPNESS = static_cast<unsigned char>(c[OPTION_CLEANUP_SHARPNESS_COLOR]);
  p.BLANK_PAGE_SKIP = static_cast<unsigned char>(c[OPTION_BLANK_PAGE_SKIP]);
  p.BLANK_PAGE_SKIP_SENSITIVITY = static_cast<signed char>(c[OPTION_BLANK_PAGE_SKIP_SENSITIVITY] - 3);
  const int rotation = c[OPTION_ROTATION];
  if (GetDevFamily() == KELO_FAMILY_SELKO2) {
    p.ROTATION = static_cast<unsigned short>(rotation);
  } else if (rotation >= 0 && rotation <= 3) {
    p.ROTATION = static_cast<unsigned short>(rotation * 90);
  } else {
    WriteLog(LOG_LEVEL_ERROR, "GetSelectedInfo", "Does not recognize rotation selection");
    p.ROTATION = 0;
  }
  p.CROPPING = static_cast<unsigned char>(c[OPTION_CROPPING]);
  p.TONE_ADJUSTMENT = static_cast<unsigned char>(c[OPTION_TONE_ADJUSTMENT]);
  p.COLOR_CLEANUP = static_cast<unsigned char>(c[OPTION_COLOR_CLEANUP]);
  p.COLOR_CLEANUP_CLEANNESS = static_cast<short>(c[OPTION_COLOR_CLEANUP_CLEANNESS]);
  p.FRONT_BACK_MERGING = static_cast<unsigned char>(c[OPTION_FRONT_BACK_MERGING]);
  p.BACK_SIDE_LOCATION = static_cast<unsigned char>(c[OPTION_BACK_SIDE_LOCATION]);
  p.BACK_SIDE_ROTATION = static_cast<unsigned char>(c[OPTION_BACK_SIDE_ROTATION]);
  p.SPLIT_IMAGE = static_cast<unsigned char>(c[OPTION_SPLIT_IMAGE]);

  if (!KeepFrameGeometry()) BuildFrameGeometry();
}

SANE_Status GetParameters(SANE_Parameters* params) {
  if (!params) {
    WriteLog(LOG_LEVEL_ERROR, "GetParameters", "spParams == NULL");
    return SANE_STATUS_INVAL;
  }
  const int source = g_PropInfo.SCAN_FACE;
  const bool split = g_PropInfo.SPLIT_IMAGE != 0;
  int side;
  KELO_IMAGEDATA_PARAMETERS geometry;
  if (source == 2 || (source == 3 && g_bIsReadDoubleBack)) {
    side = 1;
    geometry = g_ImgDataInfo[1];
    if (split && g_pSelko2Link)
      geometry = g_pSelko2Link->GetBufferGeometry(g_bIsReadBackUpper ? SELKO2_BACK_UPPER : SELKO2_BACK_LOWER);
  } else if (source == 0 || source == 1 || source == 3) {
    side = 0;
    geometry = g_ImgDataInfo[0];
    if (split && g_pSelko2Link)
      geometry = g_pSelko2Link->GetBufferGeometry(g_bIsReadFrontUpper ? SELKO2_FRONT_UPPER : SELKO2_FRONT_LOWER);
    else if (g_PropInfo.FRONT_BACK_MERGING && g_pSelko2Link)
      geometry = g_pSelko2Link->GetBufferGeometry(SELKO2_MERGED);
  } else {
    WriteLog(LOG_LEVEL_ERROR, "GetParameters", "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  params->format = static_cast<SANE_Frame>(g_ImgDataInfo[side].iFormat);
  params->last_frame = g_ImgDataInfo[side].iLastFrame;
  params->depth = g_ImgDataInfo[side].iDepth;
  params->bytes_per_line = geometry.iBytesPerLine;
  params->pixels_per_line = geometry.iPixelsPerLine;
  params->lines = geometry.iLines;
  return SANE_STATUS_GOOD;
}
