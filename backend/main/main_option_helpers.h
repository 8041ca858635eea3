// Helpers that the main backend's option table and its option rules share.
#ifndef DRAVN_MAIN_OPTION_HELPERS_H
#define DRAVN_MAIN_OPTION_HELPERS_H

#include <sane/sane.h>

#include <cstddef>

#include "main_options.h"

namespace dravnmain {
namespace opt {

constexpr SANE_Int kCapS = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int kCapA = kCapS | SANE_CAP_ADVANCED;
constexpr SANE_Int kCapI = SANE_CAP_INACTIVE;

constexpr SANE_Word MM(double mm) { return static_cast<SANE_Word>(mm * 65536.0); }
constexpr SANE_Word kMm26Less = MM(26) - 1;
constexpr SANE_Word kMm216 = MM(216);
constexpr SANE_Word kMm297 = MM(297);

template <size_t N>
constexpr int Count(const OPTION_VALUE (&)[N]) {
  return static_cast<int>(N);
}

void Err(const char* function, const char* text);

extern const OPTION_VALUE KELO_SOURCE[4];
extern const OPTION_VALUE KELO_PAPERSIZE[10];
extern SANE_String_Const KELO_DROPOUT_COLOR_LIST_COMMON[6];
extern SANE_String_Const KELO_HARDWARE_DROPOUT_COLOR_LIST_COMMON[6];

bool IsCorvane5Type(int t);
bool IsAdf(int source);
// Each geometry option's first set only refreshes.
int* ReloadFlagOf(int option);

struct MapRef {
  const OPTION_VALUE* pMap;
  int iCount;
  const char* szName;  // upper-case option name for the log
};
// The value table of a list option, or a null map.
MapRef MapOf(int option);

void SetCap(int option, SANE_Int cap);
void Off(int option);
void OffWith(int option, int32_t value);
void Refresh();
void RefreshAndFlag(SANE_Int* info);
// The page-height maximum of an ADF (and of a device without a flatbed).
SANE_Word AdfPageHeightMax();
void SetXMax(SANE_Word max);
void SetYMax(SANE_Word max);

}  // namespace opt
}  // namespace dravnmain

#endif
