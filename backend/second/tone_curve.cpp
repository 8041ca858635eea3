// The tone curve and the fixed presets of the tone-adjustment option.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "log.h"
#include "profile.h"
#include "prop_info.h"
#include "selko2_pipeline.h"

// Curve values of the keys 1..255: max(1, round(key x 100 / 255)); the
// brightness table runs the other way.
const KELO_TONE_TABLE_ENTRY brightness_tblSelko2[255] = {
    {255, 100}, {254, 100}, {253, 99}, {252, 99}, {251, 98}, {250, 98}, {249, 98}, {248, 97}, {247, 97}, {246, 96},
    {245, 96},  {244, 96},  {243, 95}, {242, 95}, {241, 95}, {240, 94}, {239, 94}, {238, 93}, {237, 93}, {236, 93},
    {235, 92},  {234, 92},  {233, 91}, {232, 91}, {231, 91}, {230, 90}, {229, 90}, {228, 89}, {227, 89}, {226, 89},
    {225, 88},  {224, 88},  {223, 87}, {222, 87}, {221, 87}, {220, 86}, {219, 86}, {218, 85}, {217, 85}, {216, 85},
    {215, 84},  {214, 84},  {213, 84}, {212, 83}, {211, 83}, {210, 82}, {209, 82}, {208, 82}, {207, 81}, {206, 81},
    {205, 80},  {204, 80},  {203, 80}, {202, 79}, {201, 79}, {200, 78}, {199, 78}, {198, 78}, {197, 77}, {196, 77},
    {195, 76},  {194, 76},  {193, 76}, {192, 75}, {191, 75}, {190, 75}, {189, 74}, {188, 74}, {187, 73}, {186, 73},
    {185, 73},  {184, 72},  {183, 72}, {182, 71}, {181, 71}, {180, 71}, {179, 70}, {178, 70}, {177, 69}, {176, 69},
    {175, 69},  {174, 68},  {173, 68}, {172, 67}, {171, 67}, {170, 67}, {169, 66}, {168, 66}, {167, 65}, {166, 65},
    {165, 65},  {164, 64},  {163, 64}, {162, 64}, {161, 63}, {160, 63}, {159, 62}, {158, 62}, {157, 62}, {156, 61},
    {155, 61},  {154, 60},  {153, 60}, {152, 60}, {151, 59}, {150, 59}, {149, 58}, {148, 58}, {147, 58}, {146, 57},
    {145, 57},  {144, 56},  {143, 56}, {142, 56}, {141, 55}, {140, 55}, {139, 55}, {138, 54}, {137, 54}, {136, 53},
    {135, 53},  {134, 53},  {133, 52}, {132, 52}, {131, 51}, {130, 51}, {129, 51}, {128, 50}, {127, 50}, {126, 49},
    {125, 49},  {124, 49},  {123, 48}, {122, 48}, {121, 47}, {120, 47}, {119, 47}, {118, 46}, {117, 46}, {116, 45},
    {115, 45},  {114, 45},  {113, 44}, {112, 44}, {111, 44}, {110, 43}, {109, 43}, {108, 42}, {107, 42}, {106, 42},
    {105, 41},  {104, 41},  {103, 40}, {102, 40}, {101, 40}, {100, 39}, {99, 39},  {98, 38},  {97, 38},  {96, 38},
    {95, 37},   {94, 37},   {93, 36},  {92, 36},  {91, 36},  {90, 35},  {89, 35},  {88, 35},  {87, 34},  {86, 34},
    {85, 33},   {84, 33},   {83, 33},  {82, 32},  {81, 32},  {80, 31},  {79, 31},  {78, 31},  {77, 30},  {76, 30},
    {75, 29},   {74, 29},   {73, 29},  {72, 28},  {71, 28},  {70, 27},  {69, 27},  {68, 27},  {67, 26},  {66, 26},
    {65, 25},   {64, 25},   {63, 25},  {62, 24},  {61, 24},  {60, 24},  {59, 23},  {58, 23},  {57, 22},  {56, 22},
    {55, 22},   {54, 21},   {53, 21},  {52, 20},  {51, 20},  {50, 20},  {49, 19},  {48, 19},  {47, 18},  {46, 18},
    {45, 18},   {44, 17},   {43, 17},  {42, 16},  {41, 16},  {40, 16},  {39, 15},  {38, 15},  {37, 15},  {36, 14},
    {35, 14},   {34, 13},   {33, 13},  {32, 13},  {31, 12},  {30, 12},  {29, 11},  {28, 11},  {27, 11},  {26, 10},
    {25, 10},   {24, 9},    {23, 9},   {22, 9},   {21, 8},   {20, 8},   {19, 7},   {18, 7},   {17, 7},   {16, 6},
    {15, 6},    {14, 5},    {13, 5},   {12, 5},   {11, 4},   {10, 4},   {9, 4},    {8, 3},    {7, 3},    {6, 2},
    {5, 2},     {4, 2},     {3, 1},    {2, 1},    {1, 1},
};

const KELO_TONE_TABLE_ENTRY contrast_tblSelko2[255] = {
    {1, 1},    {2, 1},    {3, 1},    {4, 2},     {5, 2},     {6, 2},    {7, 3},    {8, 3},    {9, 4},    {10, 4},
    {11, 4},   {12, 5},   {13, 5},   {14, 5},    {15, 6},    {16, 6},   {17, 7},   {18, 7},   {19, 7},   {20, 8},
    {21, 8},   {22, 9},   {23, 9},   {24, 9},    {25, 10},   {26, 10},  {27, 11},  {28, 11},  {29, 11},  {30, 12},
    {31, 12},  {32, 13},  {33, 13},  {34, 13},   {35, 14},   {36, 14},  {37, 15},  {38, 15},  {39, 15},  {40, 16},
    {41, 16},  {42, 16},  {43, 17},  {44, 17},   {45, 18},   {46, 18},  {47, 18},  {48, 19},  {49, 19},  {50, 20},
    {51, 20},  {52, 20},  {53, 21},  {54, 21},   {55, 22},   {56, 22},  {57, 22},  {58, 23},  {59, 23},  {60, 24},
    {61, 24},  {62, 24},  {63, 25},  {64, 25},   {65, 25},   {66, 26},  {67, 26},  {68, 27},  {69, 27},  {70, 27},
    {71, 28},  {72, 28},  {73, 29},  {74, 29},   {75, 29},   {76, 30},  {77, 30},  {78, 31},  {79, 31},  {80, 31},
    {81, 32},  {82, 32},  {83, 33},  {84, 33},   {85, 33},   {86, 34},  {87, 34},  {88, 35},  {89, 35},  {90, 35},
    {91, 36},  {92, 36},  {93, 36},  {94, 37},   {95, 37},   {96, 38},  {97, 38},  {98, 38},  {99, 39},  {100, 39},
    {101, 40}, {102, 40}, {103, 40}, {104, 41},  {105, 41},  {106, 42}, {107, 42}, {108, 42}, {109, 43}, {110, 43},
    {111, 44}, {112, 44}, {113, 44}, {114, 45},  {115, 45},  {116, 45}, {117, 46}, {118, 46}, {119, 47}, {120, 47},
    {121, 47}, {122, 48}, {123, 48}, {124, 49},  {125, 49},  {126, 49}, {127, 50}, {128, 50}, {129, 51}, {130, 51},
    {131, 51}, {132, 52}, {133, 52}, {134, 53},  {135, 53},  {136, 53}, {137, 54}, {138, 54}, {139, 55}, {140, 55},
    {141, 55}, {142, 56}, {143, 56}, {144, 56},  {145, 57},  {146, 57}, {147, 58}, {148, 58}, {149, 58}, {150, 59},
    {151, 59}, {152, 60}, {153, 60}, {154, 60},  {155, 61},  {156, 61}, {157, 62}, {158, 62}, {159, 62}, {160, 63},
    {161, 63}, {162, 64}, {163, 64}, {164, 64},  {165, 65},  {166, 65}, {167, 65}, {168, 66}, {169, 66}, {170, 67},
    {171, 67}, {172, 67}, {173, 68}, {174, 68},  {175, 69},  {176, 69}, {177, 69}, {178, 70}, {179, 70}, {180, 71},
    {181, 71}, {182, 71}, {183, 72}, {184, 72},  {185, 73},  {186, 73}, {187, 73}, {188, 74}, {189, 74}, {190, 75},
    {191, 75}, {192, 75}, {193, 76}, {194, 76},  {195, 76},  {196, 77}, {197, 77}, {198, 78}, {199, 78}, {200, 78},
    {201, 79}, {202, 79}, {203, 80}, {204, 80},  {205, 80},  {206, 81}, {207, 81}, {208, 82}, {209, 82}, {210, 82},
    {211, 83}, {212, 83}, {213, 84}, {214, 84},  {215, 84},  {216, 85}, {217, 85}, {218, 85}, {219, 86}, {220, 86},
    {221, 87}, {222, 87}, {223, 87}, {224, 88},  {225, 88},  {226, 89}, {227, 89}, {228, 89}, {229, 90}, {230, 90},
    {231, 91}, {232, 91}, {233, 91}, {234, 92},  {235, 92},  {236, 93}, {237, 93}, {238, 93}, {239, 94}, {240, 94},
    {241, 95}, {242, 95}, {243, 95}, {244, 96},  {245, 96},  {246, 96}, {247, 97}, {248, 97}, {249, 98}, {250, 98},
    {251, 98}, {252, 99}, {253, 99}, {254, 100}, {255, 100},
};

namespace {

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

void LogParameters(const char* function) {
  char* msg = SetMessage();
  snprintf(msg, 4096, "parameters: SHADOW=%d HIGHLIGHT=%d BRGHTNESS=%d CONTRAST=%d GAMMA=%d", g_PropInfo.SHADOW,
           g_PropInfo.HIGHLIGHT, g_PropInfo.BRIGHTNESS, g_PropInfo.CONTRAST, g_PropInfo.GAMMA);
  WriteLog(LOG_LEVEL_DEBUG, function, msg);
}

}  // namespace

int KeloToneCurveValue(int iInput, int iWhiteLevel, int iBlackLevel, int iBrightness, int iContrast, int iShadow,
                       int iHighlight, int iGamma, const char* cpTag, int iLogLevel) {
  if (iWhiteLevel < iBlackLevel) {
    WriteLog(iLogLevel, cpTag, "byBlackLevel > byWhiteLevel");
    return 0;
  }
  if (iWhiteLevel == iBlackLevel) {
    WriteLog(iLogLevel, cpTag, "byBlackLevel == byWhiteLevel");
    return 0;
  }
  const double pi = 3.141592654;
  double x = static_cast<double>(iInput - iBlackLevel) / (iWhiteLevel - iBlackLevel);
  const double k = std::tan(pi * (1.0 - (100.0 - iContrast) / 200.0) / 3.0);

  if (iShadow != 0 || iHighlight != 255) {
    double lo, hi;
    if (iShadow != iHighlight) {
      lo = std::min(iShadow, iHighlight) / 255.0;
      hi = std::max(iShadow, iHighlight) / 255.0;
    } else if (iShadow == 0) {
      lo = 0;
      hi = 1 / 255.0;
    } else if (iShadow == 255) {
      lo = 254 / 255.0;
      hi = 1;
    } else {
      lo = iShadow / 255.0;
      hi = (iShadow + 1) / 255.0;
    }
    if (x < lo)
      x = 0;
    else if (x > hi)
      x = 1;
    else
      x = (x - lo) / (hi - lo);
  }

  if (iContrast != 50) {
    double y;
    if (x < 0.25)
      y = x * (2 - k);
    else if (x <= 0.75)
      y = x * k + 0.5 * (1 - k);
    else
      y = x * (2 - k) + k - 1;
    x = std::clamp(y, 0.0, 1.0);
  }
  if (iBrightness != 50) x = std::clamp(x + (iBrightness - 50) / 50.0 * 0.375, 0.0, 1.0);
  if (iGamma != 1000 && iGamma > 0) x = std::pow(x, 1.0 / (std::min(iGamma, 9999) / 1000.0));

  return Clamp(static_cast<int>(0.5 + 255 * x), 0, 255);
}

int CSelko2PagePipeline::GetLUTData(int iInput, int iWhiteLevel, int iBlackLevel, int iBrightness, int iContrast,
                                    int iShadow, int iHighlight, int iGamma) {
  return KeloToneCurveValue(iInput, iWhiteLevel, iBlackLevel, iBrightness, iContrast, iShadow, iHighlight, iGamma,
                            "CSelko2ScanFunc::GetLUTData", LOG_LEVEL_ERROR);
}

int CSelko2PagePipeline::GetGammaValue(tabGammaCurve tCurve, int iInput) {
  const int b = Clamp(tCurve.iBrightness, -127, 127);
  const int c = Clamp(tCurve.iContrast, -127, 127);
  return GetLUTData(iInput, 255, 0, brightness_tblSelko2[127 - b].usValue, contrast_tblSelko2[127 + c].usValue,
                    tCurve.iShadow, tCurve.iHighlight, tCurve.iGamma);
}

void CSelko2PagePipeline::ApplyLutContrastBrightness(int iBrightness, int iContrast, int iHighlight, int iShadow,
                                                     int iGamma, unsigned char* pbyLUT) {
  const char kFunction[] = "CSelko2ScanFunc::ApplyLutContrastBrightness";
  WriteLog(LOG_LEVEL_DEBUG, kFunction, "start");
  if (!pbyLUT) {
    WriteLog(LOG_LEVEL_ERROR, kFunction, "pbyLUT == NULL");
    return;
  }
  const tabGammaCurve curve{Clamp(iBrightness, -127, 127), Clamp(iContrast, -127, 127), iHighlight, iShadow, iGamma};
  for (int i = 0; i < 256; ++i) pbyLUT[i] = static_cast<unsigned char>(GetGammaValue(curve, i));
  WriteLog(LOG_LEVEL_DEBUG, kFunction, "end");
}

void CSelko2PagePipeline::GetNormalLUTParams(bool bLineArt, bool bErrorDiffusion, unsigned char* /*pbyLUT*/,
                                             const char* cpPresetPath) {
  CLogScope scope("CSelko2ScanFunc::GetNormalLUTParams");
  const char* section = bLineArt ? "NORMAL_BW" : "NORMAL";
  // Values from the file are held to the ranges the curve accepts.
  KELO_PROP_INFO& p = g_PropInfo;
  p.BRIGHTNESS = static_cast<short>(Clamp(GetPrivateProfileInt(section, "BRIGHTNESS", 0, cpPresetPath), -127, 127));
  p.CONTRAST = static_cast<short>(Clamp(GetPrivateProfileInt(section, "CONTRAST", 0, cpPresetPath), -127, 127));
  p.SHADOW = static_cast<unsigned char>(
      Clamp(GetPrivateProfileInt(section, "SHADOW", bLineArt ? 0 : 10, cpPresetPath), 0, 255));
  p.HIGHLIGHT = static_cast<unsigned char>(
      Clamp(GetPrivateProfileInt(section, "HIGHLIGHT", bLineArt ? 255 : 230, cpPresetPath), 0, 255));
  int gamma;
  if (!bLineArt || bErrorDiffusion)
    gamma = GetPrivateProfileInt("NORMAL", "GAMMA", 1600, cpPresetPath);
  else
    gamma = GetPrivateProfileInt("NORMAL_BW", "GAMMA_BW", 1000, cpPresetPath);
  p.GAMMA = static_cast<unsigned short>(Clamp(gamma, 100, 10000));
}

void CSelko2PagePipeline::I3ipIpunitProcess_ManualLUT(int iMode, unsigned char* pbyLUT, const char* cpPresetPath) {
  const char kFunction[] = "CSelko2ScanFunc::I3ipIpunitProcess_ManualLUT";
  CLogScope scope(kFunction);
  KELO_PROP_INFO& p = g_PropInfo;
  const int tone = p.TONE_ADJUSTMENT;
  bool lineArt = false, errorDiffusion = false;
  if (iMode == 0) {
    if (tone == 2 || tone == 3) return;  // "Soft" and "Sharp" keep the line-art table in force
    lineArt = true;
    errorDiffusion = p.BW_MODE == 3;
  }
  switch (tone) {
    case 1:
      GetNormalLUTParams(lineArt, errorDiffusion, pbyLUT, cpPresetPath);
      break;
    case 2:
      p.SHADOW = 10, p.HIGHLIGHT = 240, p.GAMMA = 1800;
      break;
    case 3:
      p.SHADOW = 10, p.HIGHLIGHT = 180, p.GAMMA = 1600;
      break;
    case 4:
      p.SHADOW = 5, p.HIGHLIGHT = 215, p.GAMMA = 1900;
      break;
    default:
      break;
  }
  p.BRIGHTNESS = 0;
  p.CONTRAST = 0;
  char* msg = SetMessage();
  snprintf(msg, 4096, "func_name: errdif_mode=%d use_special_lut_table=%d", errorDiffusion ? 1 : 0, 0);
  WriteLog(LOG_LEVEL_DEBUG, kFunction, msg);
  LogParameters(kFunction);
  ApplyLutContrastBrightness(p.BRIGHTNESS, p.CONTRAST, p.HIGHLIGHT, p.SHADOW, p.GAMMA, pbyLUT);
}
