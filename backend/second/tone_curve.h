// Tone curves of the Selko2 pipeline: the curve parameters, the brightness
// and contrast lookup tables and the records of the automatic measurement.
#ifndef DRAVN_SECOND_TONE_CURVE_H
#define DRAVN_SECOND_TONE_CURVE_H

#include <cstdint>

#include "dravn_paths.h"

// Passed by value to the curve.
struct tabGammaCurve {
  int iBrightness;  // -127..127
  int iContrast;    // -127..127
  int iHighlight;
  int iShadow;
  int iGamma;  // x 1000
};

struct KELO_TONE_TABLE_ENTRY {
  uint16_t usKey;
  uint16_t usValue;
};

// Keys 1..255 and their curve values 1..100 (50 neutral); brightness b is
// found at entry 127 - b, contrast c at entry 127 + c.
extern const KELO_TONE_TABLE_ENTRY brightness_tblSelko2[255];
extern const KELO_TONE_TABLE_ENTRY contrast_tblSelko2[255];

// The curve of every class: brightness and contrast as curve values (50
// neutral), gamma in thousandths (1000 and below 1 skip the power step,
// capped at 9999); the level checks are logged under cpTag at iLogLevel.
int KeloToneCurveValue(int iInput, int iWhiteLevel, int iBlackLevel, int iBrightness, int iContrast, int iShadow,
                       int iHighlight, int iGamma, const char* cpTag, int iLogLevel);

// Parameters of the automatic measurement.
struct Zu_ALut_ctl {
  double dWeight;
  double dAcceptLimit;
  int32_t iMode;
  double dHighPercent;
  double dMiddlePercent;
  double dLowPercent;
  double dHighlightTarget;
  double dGammaBase;
  double dShadowTarget;
  int32_t iOption;
};

struct Zu_ALut_out {
  int32_t iHighlight;
  int32_t iShadow;
  double dGamma;
  int32_t iHighestLevel;
  int32_t iLowestLevel;
};

// Where the tone presets of "Normal" are read.
#define KELO_PRESET_LUT_PATH DRAVN_ETC_DIR "/I3ipPresetLUT.ini"

#endif
