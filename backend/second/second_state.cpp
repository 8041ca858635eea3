// The second backend's process-wide state and its two settings files,
// dravn.ini and simple-scan.conf.
#include <cstdio>

#include "dravn_paths.h"
#include "frontend_flags.h"
#include "log.h"
#include "model_catalog.h"
#include "option_table.h"
#include "profile.h"
#include "second_backend.h"
#include "usb_manager.h"

KeloManagerUsb* kelo_usb_manager = nullptr;
CSelkoScanFunc* dravn2device = nullptr;
CBrennaScanFunc* dravnbrennadevice = nullptr;
CSelko2ScanFunc* g_pCSelko2ScanFunc = nullptr;
int iDeviceID = 0;
int g_iDevCount = 0;
int g_bIsAutoFeed = 1;
int g_bIsGTMax = 0;
int g_siTotalByte = 0;

void InitDravnIni() {
  const char* path = DRAVN_ETC_DIR "/dravn.ini";
  g_stDravnIni = {0, 0, 0, 0};
  g_stDravnIni.iUsbOpenSleep = GetPrivateProfileInt("Setting", "UsbOpenSleep", 0, path);
  g_stDravnIni.iUsbLevelLog = GetPrivateProfileInt("Setting", "UsbLevelLog", 0, path);
  g_stDravnIni.iSaveDevImg = GetPrivateProfileInt("Setting", "SaveDevImg", 0, path);
  g_stDravnIni.iUseOldBWLutParam = GetPrivateProfileInt("Setting", "UseOldBWLutParam", 0, path);
  g_iUsbLevelLog = g_stDravnIni.iUsbLevelLog;
  if (GetLogLevel() >= LOG_LEVEL_DEBUG) {
    char* msg = SetMessage();
    snprintf(msg, 4096, "UsbOpenSleep %d, UsbLevelLog %d, SaveDevImg %d, UseOldBWLutParam %d",
             g_stDravnIni.iUsbOpenSleep, g_stDravnIni.iUsbLevelLog, g_stDravnIni.iSaveDevImg,
             g_stDravnIni.iUseOldBWLutParam);
    WriteLog(LOG_LEVEL_DEBUG, "InitDravnIni", msg);
  }
}

namespace {
constexpr int kLastPaperSize = 11;  // "Legal"
}

void InitSimpleScanConf() {
  const char* path = DRAVN_ETC_DIR "/simple-scan.conf";
  g_tSimpleScanConf = 0;
  int paper = GetPrivateProfileInt("Setting", "PAPER_SIZE", 0, path);
  // Only a code of the paper tables: any other would leave "paper-size"
  // without a readable value.
  if (paper < 0 || paper > kLastPaperSize) {
    WriteLog(LOG_LEVEL_ERROR, "InitSimpleScanConf", "PAPER_SIZE out of range");
    paper = 0;
  }
  g_tSimpleScanConf = paper;
}

SecondFamily FamilyOfProduct(int productId) {
  if (productId == dravn::kBrennaModels[0].productId) return SecondFamily::Brenna;
  const int first = dravn::kSelko2Models[0].productId;
  if (productId >= first && productId < first + 3) return SecondFamily::Selko2;
  return SecondFamily::Selko;
}

bool SecondDeviceRowLookup(int vendorId, int productId, KELO_DEVICE_ROW_TEXTS* row) {
  const KELO_DEVICE_OPTION_CONTROL_INFO* info = GetDevCtlByDevInfo(vendorId, productId);
  if (!info || !row) return false;
  *row = {info->cpModel, info->cpType, info->cpVendor};
  return true;
}
