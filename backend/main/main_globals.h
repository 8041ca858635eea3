// Process-wide state of the main backend (one open device at a time).
#ifndef DRAVN_MAIN_GLOBALS_H
#define DRAVN_MAIN_GLOBALS_H

#include <atomic>

#include "image_libs.h"
#include "jpeg_decode.h"
#include "main_types.h"

class KeloManagerUsb;

namespace dravnmain {

class KeloDevCtl;

extern KeloManagerUsb* kelo_usb_manager;
// The open own device, also its SANE handle. Atomic: the signal handler
// reads it from whichever thread the signal lands in.
extern std::atomic<KeloDevCtl*> velmorak;

// Set by the signal handler when SIGHUP arrives during a scan; the scan code
// reads and clears it.
extern std::atomic<bool> g_bSigHup;
// The back face of a duplex sheet is being handed out.
extern bool g_bIsReadDoubleBack;

extern SCAN_PROP_INFO g_PropInfo;
extern QV_IMAGEDATA_INFO g_ImgDataInfo;
extern QV_IMAGEDATA_INFO g_BaseImgDataInfo;
extern int g_iDevType;

// libimgforge: the common layer binds its entries (g_hLibKeloImage,
// g_BPDFunction, g_FSIP*); the main backend also looks up these two, which
// nothing calls (no library exports the second).
typedef int (*P2I_FUNCTION)(void*, ...);
extern P2I_FUNCTION g_DCMFunction;
extern P2I_FUNCTION g_SRGBFunction;

}  // namespace dravnmain

#endif
