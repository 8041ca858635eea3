#include "frontend_flags.h"

int g_bIsScanimage = 0;
int g_bIsXsane = 0;
int g_bIsSimpleScan = 0;
int g_tSimpleScanConf = 0;
int g_bIsAutomatic = 1;
DRAVN_INI_INFO g_stDravnIni = {0, 0, 0, 0};
