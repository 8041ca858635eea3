// Process-wide state of the second backend: one open device per process.
#ifndef DRAVN_SECOND_SECOND_BACKEND_H
#define DRAVN_SECOND_SECOND_BACKEND_H

class KeloManagerUsb;
class CSelkoScanFunc;
class CBrennaScanFunc;
class CSelko2ScanFunc;

extern KeloManagerUsb* kelo_usb_manager;
extern CSelkoScanFunc* dravn2device;
extern CBrennaScanFunc* dravnbrennadevice;
extern CSelko2ScanFunc* g_pCSelko2ScanFunc;
extern int iDeviceID;
extern int g_iDevCount;

// simple-scan front end state.
extern int g_bIsAutoFeed;
extern int g_bIsGTMax;
extern int g_siTotalByte;

// Reads dravn.ini and simple-scan.conf from the package's etc directory;
// a missing file or key leaves the default 0.
void InitDravnIni();
void InitSimpleScanConf();

// The USB manager's view of the device table.
struct KELO_DEVICE_ROW_TEXTS;
bool SecondDeviceRowLookup(int vendorId, int productId, KELO_DEVICE_ROW_TEXTS* row);

// Which family drives a product id.
enum class SecondFamily { Selko, Selko2, Brenna };
SecondFamily FamilyOfProduct(int productId);

#endif
