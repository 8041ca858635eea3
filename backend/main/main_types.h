// Records shared by the main backend's entry points, option table and device
// classes.
#ifndef DRAVN_MAIN_TYPES_H
#define DRAVN_MAIN_TYPES_H

#include <cstdint>

#include "image_params.h"

namespace dravnmain {

// Geometry of one page face: the six values that get_parameters reports
// (format, last frame, pixels per line, lines, bytes per line, depth).
using ::QV_IMAGEDATA_PARAMETERS;

// Front face then back face (g_ImgDataInfo, m_ImgDataInfo).
struct QV_IMAGEDATA_INFO {
  QV_IMAGEDATA_PARAMETERS tFront;
  QV_IMAGEDATA_PARAMETERS tBack;
};

// The device's automatic colour detection result for one sheet.
struct AUTO_COLOR_DETECT_INFO {
  uint8_t ucFWinID;  // 0 colour window of the front, otherwise line art
  uint8_t ucBWinID;  // 0x80 colour window of the back, otherwise line art
  uint8_t ucFMode;   // 3 when ucFWinID is 0, else 0
  uint8_t ucBMode;   // 3 when ucBWinID is 0x80, else 0
  int32_t iFFail;    // 1 when the device could not decide the front's colour
  int32_t iBFail;
  uint16_t usValue;  // passed through from the device
};

// The scan-property record built from the option values at every start.
// Lengths are dots at 1200 dpi.
struct SCAN_PROP_INFO {
  uint8_t SCAN_SOURCE;  // 0 flatbed, 1 ADF front, 2 ADF back, 3 ADF duplex
  uint16_t SCAN_RES_X;
  uint16_t SCAN_RES_Y;
  int32_t PAPER_SIZE;  // 10 page-auto, else the paper code on the ADF, else 0
  double LEFT;
  double TOP;
  double RIGHT;
  double BOTTOM;
  double CUST_PAGE_WIDTH;
  double CUST_PAGE_LENGTH;
  uint8_t IMAGE_MODE;  // 0 lineart, 1 halftone, 2 grey, 3 colour
  uint8_t THRESHOLD;
  uint8_t DROPOUT_COLOR;
  int16_t BRIGHTNESS;
  int16_t CONTRAST;
  uint8_t RIF;
  uint8_t HALFTONE_TYPE;
  uint8_t HALFTONE_PATTERN;
  uint8_t JPEG_TRANSFER;
  uint8_t JPEG_TYPE;
  uint8_t JPEG_QUALITY;
  uint8_t EDGE_PROCESSING;
  uint8_t IMAGE_EMPHASIS;
  uint8_t DF_ACTION;
  uint8_t DF_THICKNESS;
  uint8_t DF_LENGTH;
  uint8_t BG_COLOR;
  int16_t POWER_OFF_TIME;  // minutes, -1 none
  uint8_t PREPICK;
  uint8_t SLEEP_TIMER;
  uint8_t HARDWARE_PROC;  // libimgforge missing: the device does the image work
  uint8_t AUTOFEED;
  uint8_t PAPER_PROTECTION;
  int16_t CROPPING_MARGIN;
  uint8_t PAGE_AUTO_PRIORITY;
  uint8_t IMAGE_INDEX_TAB;
  uint8_t AUTO_COLOR_DETECT;  // 0 off, 1 by the device, 2 by software
  uint8_t HOLE_PUNCH_REMOVE;
  uint8_t BLANK_PAGE_SKIP;
  int8_t BLANK_PAGE_SENSITIVITY;  // -2..2
  uint8_t BLANK_PAGE_BLACK_RATIO;
  uint8_t BLANK_PAGE_WHITE_RATIO;
  uint8_t SRGB;
  uint8_t SDTC_MODE;
  uint8_t SDTC_VARIANCE;
};

}  // namespace dravnmain

#endif
