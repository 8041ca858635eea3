// The host image of the settings EEPROM and its state, exported data of
// the settings library.
#include "dravn_export.h"
#include "mqcontrol_context.h"

DRAVN_EXPORT unsigned char g_byEEPData[kEepromImageSize];
DRAVN_EXPORT int g_nReadEEPSize = 0;
DRAVN_EXPORT int g_bDevSetEdit = 0;
