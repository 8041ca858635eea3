// The tone curve of the Selko and Brenna classes, its gamma given in tenths.
#include "tone_curve_tenths.h"

#include <algorithm>
#include <string>

#include "log.h"

namespace kelo_steps {

namespace {

std::string Tag(const char* cpClass, const char* cpOperation) {
  return std::string(cpClass ? cpClass : "") + "::" + cpOperation;
}

}  // namespace

int GetLUTData(int iInput, int iWhiteLevel, int iBlackLevel, int iBrightness, int iContrast, int iShadow,
               int iHighlight, unsigned char byGamma, const char* cpClass) {
  if (iWhiteLevel <= iBlackLevel) {
    WriteLog(LOG_LEVEL_DEBUG, Tag(cpClass, "GetLUTData").c_str(),
             iWhiteLevel < iBlackLevel ? "byBlackLevel > byWhiteLevel" : "byBlackLevel == byWhiteLevel");
    return 0;
  }
  // Tenths become the thousandths of the shared curve, where 0 and 1000
  // skip the power step as 0 and 10 do here.
  const int gamma = std::min<int>(byGamma, 99) * 100;
  return KeloToneCurveValue(iInput, iWhiteLevel, iBlackLevel, iBrightness, iContrast, iShadow, iHighlight, gamma,
                            nullptr, LOG_LEVEL_DEBUG);
}

int GetGammaValue(tabGammaCurve tCurve, int iInput, const char* cpClass) {
  const int b = std::clamp(tCurve.iBrightness, -127, 127);
  const int c = std::clamp(tCurve.iContrast, -127, 127);
  return GetLUTData(iInput, 255, 0, brightness_tblSelko2[127 - b].usValue, contrast_tblSelko2[127 + c].usValue,
                    tCurve.iShadow, tCurve.iHighlight, static_cast<unsigned char>(std::clamp(tCurve.iGamma, 0, 255)),
                    cpClass);
}

void ApplyLutContrastBrightness(int iBrightness, int iContrast, int iHighlight, int iShadow, unsigned char byGamma,
                                unsigned char* pbyLUT, const char* cpClass) {
  const std::string tag = Tag(cpClass, "ApplyLutContrastBrightness");
  WriteLog(LOG_LEVEL_DEBUG, tag.c_str(), "start");
  if (!pbyLUT) {
    WriteLog(LOG_LEVEL_ERROR, tag.c_str(), "pbyLUT == NULL");
    return;
  }
  const tabGammaCurve curve{iBrightness, iContrast, iHighlight, iShadow, byGamma};
  for (int i = 0; i < 256; ++i) pbyLUT[i] = static_cast<unsigned char>(GetGammaValue(curve, i, cpClass));
  WriteLog(LOG_LEVEL_DEBUG, tag.c_str(), "end");
}

}  // namespace kelo_steps
