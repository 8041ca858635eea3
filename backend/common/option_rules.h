// What setting one option of the second backend does to the others, and
// the capabilities that follow from the current values.
#ifndef DRAVN_COMMON_OPTION_RULES_H
#define DRAVN_COMMON_OPTION_RULES_H

#include <sane/sane.h>

#include "option_values.h"

// The last set changed the mode.
extern int g_bModeChange;
// 1 until the first set of their option.
extern int g_iTopLeftXReload;
extern int g_iTopLeftYReload;
extern int g_iBottomRightXReload;
extern int g_iBottomRightYReload;
extern int g_iPageWidthReload;
extern int g_iPageHeightReload;
// The current list and map of "cleanup-sharpness" (edge processing in line
// art, image emphasis in colour).
extern const SANE_String_Const* g_cpCSList;
extern const OPTION_VALUE* g_tpCsOptVal;
extern int g_iCsNum;

// The front end's set: refused for an inactive option.
SANE_Status SetControlOption(int option, void* value, SANE_Int* info);
// The option defaults file's set: an inactive option takes the value too,
// so that an administrator's default holds once the option becomes active.
SANE_Status SetDefaultControlOption(int option, void* value, SANE_Int* info);
void ReloadOptions();

#endif
