// Process-wide settings that the second backend's init and entry points set
// and the option layer reads. Both backends carry this layer, so the storage
// lives here rather than in either backend.
#ifndef DRAVN_COMMON_FRONTEND_FLAGS_H
#define DRAVN_COMMON_FRONTEND_FLAGS_H

// Which front end runs this process (0 or 1 each), set once at init.
extern int g_bIsScanimage;
extern int g_bIsXsane;
extern int g_bIsSimpleScan;

// PAPER_SIZE of simple-scan.conf: the simple-scan default of "paper-size".
extern int g_tSimpleScanConf;

// simple-scan: the page size is detected automatically until the front end
// sets a page width or height (initially 1).
extern int g_bIsAutomatic;

// The keys of dravn.ini, in file order.
struct DRAVN_INI_INFO {
  int iUsbOpenSleep;
  int iUsbLevelLog;
  int iSaveDevImg;
  int iUseOldBWLutParam;
};
extern DRAVN_INI_INFO g_stDravnIni;

#endif
