// The scan-property record and frame geometry built from the option values
// of the second backend, which its device classes read.
#ifndef DRAVN_COMMON_PROP_INFO_H
#define DRAVN_COMMON_PROP_INFO_H

#include <sane/sane.h>

#include "image_params.h"

// Lengths are in device units of 1/1200 inch (the SANE_Fixed millimetre
// value divided by 1387).
struct KELO_PROP_INFO {
  unsigned char SCAN_FACE;  // 0 flatbed, 1 front, 2 back, 3 duplex
  unsigned short SCAN_RES_X;
  unsigned short SCAN_RES_Y;
  unsigned char SCAN_MODE;  // 0 lineart, 1 gray, 2 colour
  double TOP_LEFT_X;
  double TOP_LEFT_Y;
  double BOTTOM_RIGHT_X;
  double BOTTOM_RIGHT_Y;
  double CUST_PAGE_WIDTH;
  double CUST_PAGE_LENGTH;
  int PAPER_SIZE;    // paper code, 12 automatic size, 0 flatbed or custom
  short BRIGHTNESS;  // -127..127
  short CONTRAST;    // -127..127
  unsigned char SHADOW;
  unsigned char HIGHLIGHT;
  unsigned short GAMMA;  // gamma x 1000
  unsigned char THRESHOLD;
  unsigned char BW_MODE;
  unsigned char BW_SDTC_VARIANCE;
  signed char BW_IDTC_SENSITIVITY;           // -50..50
  signed char BW_IDTC_BACKGROUND_THRESHOLD;  // -50..50
  unsigned char AUTOFEED;
  double EDGE_FILLER_TOP;
  double EDGE_FILLER_BOTTOM;
  double EDGE_FILLER_LEFT;
  double EDGE_FILLER_RIGHT;
  unsigned char DF_ACTION;
  unsigned char MF_OVERLAPPING;
  unsigned char DROPOUT_COLOR;
  unsigned char CLEANUP_SHARPNESS;
  unsigned char BLANK_PAGE_SKIP;
  signed char BLANK_PAGE_SKIP_SENSITIVITY;  // -2..2
  unsigned short ROTATION;                  // Selko2: code 0-4; other families: degrees
  unsigned char FLATBED_PAGE_DETECTION;     // set by the Brenna class
  unsigned char CROPPING;
  unsigned char TONE_ADJUSTMENT;
  unsigned char COLOR_CLEANUP;
  short COLOR_CLEANUP_CLEANNESS;  // -5..5
  unsigned char FRONT_BACK_MERGING;
  unsigned char BACK_SIDE_LOCATION;
  unsigned char BACK_SIDE_ROTATION;
  unsigned char SPLIT_IMAGE;
};

extern KELO_PROP_INFO g_PropInfo;
// Front, back.
extern KELO_IMAGEDATA_PARAMETERS g_ImgDataInfo[2];

// Which face or half the Selko2 class is serving (it sets them).
extern int g_bIsReadDoubleBack;  // duplex: the back face
extern int g_bIsReadFrontUpper;  // split: the upper half of the front
extern int g_bIsReadBackUpper;   // split: the upper half of the back

// The buffers of the Selko2 class whose geometry the option layer reads.
enum KELO_SELKO2_BUFFER { SELKO2_FRONT_UPPER, SELKO2_FRONT_LOWER, SELKO2_BACK_UPPER, SELKO2_BACK_LOWER, SELKO2_MERGED };

// What the option layer asks of the second backend's Selko2 device object.
// That backend points g_pSelko2Link at it while the object exists.
class KeloSelko2Link {
 public:
  virtual ~KeloSelko2Link() = default;
  // data: a zeroed 32-byte status record.
  virtual bool GetCurrentScannerStatus(unsigned char* data, unsigned int* lastError) = 0;
  virtual bool ReadSCErrorInfo(unsigned int* value, unsigned int* lastError) = 0;
  virtual SANE_Status ConvertToSaneErr(unsigned int code) = 0;
  // The new frame geometry for the half pages (split) or the merged page.
  virtual void SetFrameGeometry(const KELO_IMAGEDATA_PARAMETERS& face, bool split, bool merge) = 0;
  virtual KELO_IMAGEDATA_PARAMETERS GetBufferGeometry(KELO_SELKO2_BUFFER buffer) = 0;
};
extern KeloSelko2Link* g_pSelko2Link;

// Rebuilds g_PropInfo and g_ImgDataInfo from the option values.
void GetSelectedInfo();
SANE_Status GetParameters(SANE_Parameters* params);

#endif
