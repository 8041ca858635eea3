// The tone curve of the Selko and Brenna classes: the curve of the Selko2
// class with its gamma given in tenths in one byte (10 is 1.0 and skips the
// power step; 100 and above count as 99), over the same brightness and
// contrast tables.
#ifndef DRAVN_SECOND_TONE_CURVE_TENTHS_H
#define DRAVN_SECOND_TONE_CURVE_TENTHS_H

#include "tone_curve.h"

namespace kelo_steps {

// The curve value of one input level; cpClass names the class in the log
// ("CSelkoScanFunc"); the level checks log at level 3.
int GetLUTData(int iInput, int iWhiteLevel, int iBlackLevel, int iBrightness, int iContrast, int iShadow,
               int iHighlight, unsigned char byGamma, const char* cpClass);
// tCurve.iGamma in tenths; brightness and contrast -127..127.
int GetGammaValue(tabGammaCurve tCurve, int iInput, const char* cpClass);
// The 256-entry table of the curve into pbyLUT.
void ApplyLutContrastBrightness(int iBrightness, int iContrast, int iHighlight, int iShadow, unsigned char byGamma,
                                unsigned char* pbyLUT, const char* cpClass);

}  // namespace kelo_steps

#endif
