// The image primitives a unit binds by name from libopencv.
#ifndef DRAVN_I3IP_SHARE_H
#define DRAVN_I3IP_SHARE_H

#include "opcv.h"

struct I3ipShareBinding {
  void* handle = nullptr;
  decltype(&IPPShare_ippiConvert_8u16s_C1R) Convert_8u16s_C1R = nullptr;
  decltype(&IPPShare_ippiDilate_8u_C1R) Dilate_8u_C1R = nullptr;
  decltype(&IPPShare_ippiErode_8u_C1R) Erode_8u_C1R = nullptr;
  decltype(&IPPShare_ippiFilter_16s_C1R) Filter_16s_C1R = nullptr;
  decltype(&IPPShare_ippiFilter_8u_C1R) Filter_8u_C1R = nullptr;
  decltype(&IPPShare_ippiFilterMedian_8u_C1R) FilterMedian_8u_C1R = nullptr;
  decltype(&IPPShare_ippiFilterMedianCross_8u_C1R) FilterMedianCross_8u_C1R = nullptr;
  decltype(&IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R) FilterMedianWeightedCenter3x3_8u_C1R = nullptr;
  decltype(&OPCV_ippiResizeSqrPixel_8u_C1R) ResizeSqrPixel_8u_C1R = nullptr;
  decltype(&IPPShare_ippiSet_8u_C1R) Set_8u_C1R = nullptr;
  decltype(&IPPShare_ippiThreshold_LTVal_16s_C1IR) Threshold_LTVal_16s_C1IR = nullptr;
  decltype(&IPPShare_ippiThreshold_LTVal_8u_C1IR) Threshold_LTVal_8u_C1IR = nullptr;
  void* Malloc_8u = nullptr;  // optional; libopencv exports none
  void* Free = nullptr;       // optional
};

extern I3ipShareBinding g_i3ipShare;

// Opens `path` (immediate, deep binding) and looks the primitives up: 0, or
// 55 when the library or one of the twelve required names is missing.
int LoadI3ipShare(const char* path);
void FreeI3ipShare();

#endif
