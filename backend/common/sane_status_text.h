// The texts of the SANE status codes, shared by both backends' strstatus.
#ifndef DRAVN_COMMON_SANE_STATUS_TEXT_H
#define DRAVN_COMMON_SANE_STATUS_TEXT_H

#include <sane/sane.h>

const char* SaneStatusText(SANE_Status status);

#endif
