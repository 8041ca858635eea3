// The second backend's SANE entry points. Their only caller is the main
// backend, which forwards every call for a device of the Selko, Selko2 and
// Brenna families; the handle is not used, the process-wide state decides.
#include <sane/sane.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "dravn_export.h"
#include "brenna_scan_func.h"
#include "selko_scan_func.h"
#include "frontend_flags.h"
#include "image_libs.h"
#include "jpeg_decode.h"
#include "log.h"
#include "option_rules.h"
#include "option_table.h"
#include "process_check.h"
#include "prop_info.h"
#include "sane_status_text.h"
#include "second_backend.h"
#include "second_signal.h"
#include "selko2_option_link.h"
#include "selko2_scan_func.h"
#include "usb_manager.h"

namespace {

void Dravn2_close(SANE_Handle handle);

constexpr int kOpenTries = 3;
constexpr useconds_t kOpenSleep = 500 * 1000;
// 355.6 mm as SANE_Fixed: the longest page simple-scan may ask for.
constexpr SANE_Word kSimpleScanMaxHeight = KELO_LENGTH_355_6MM;
constexpr int kAutomaticPaperSize = 12;

char szStrStatus[64];
bool g_bLibrariesBound = false;  // an init has bound the libraries

void LogError(const char* function, const char* message) { WriteLog(LOG_LEVEL_ERROR, function, message); }

void DeleteDeviceObjects() {
  delete dravn2device;
  dravn2device = nullptr;
  delete dravnbrennadevice;
  dravnbrennadevice = nullptr;
  delete g_pCSelko2ScanFunc;
  SetSelko2Device(nullptr);
}

void UnbindLibraries() {
  UnLoadImageLibraries();
  g_bLibrariesBound = false;
}

// A batch whose scan thread still runs is ended before its device goes.
void EndRunningBatch() {
  if (g_pCSelko2ScanFunc && g_pCSelko2ScanFunc->HasScanThread()) g_pCSelko2ScanFunc->Cancel();
  if (dravnbrennadevice && dravnbrennadevice->HasScanThread()) dravnbrennadevice->Cancel();
  if (dravn2device && dravn2device->HasScanThread()) dravn2device->Cancel();
}

// A device still open (no close came) is closed as close would.
void ReleaseOpenDevice() {
  EndRunningBatch();
  if (g_pCSelko2ScanFunc && g_pCSelko2ScanFunc->IsLocked()) {
    g_pCSelko2ScanFunc->UnLockScanner();
    g_pCSelko2ScanFunc->RemoveCleanStatusFile();
    EndUsbLog();
  }
  kelo_usb_manager->Close();
}

// The null-object message of start, read and cancel.
const char* NullObjectMessage() {
  switch (FamilyOfProduct(iDeviceID)) {
    case SecondFamily::Brenna:
      return "dravnbrennadevice == NULL";
    case SecondFamily::Selko2:
      return "g_pCSelko2ScanFunc == NULL";
    case SecondFamily::Selko:
      break;
  }
  return "dravn2device == NULL";
}

// The Selko2 failures of open after the device was claimed: the object goes,
// and close has given back the lock, the trace log and the device.
SANE_Status FailSelko2Open(const char* message, SANE_Status status) {
  delete g_pCSelko2ScanFunc;
  SetSelko2Device(nullptr);
  LogError("sane_dravn2_open", message);
  return status;
}

// A failure after the USB open: give the device and its exclusive-access
// entry back, or every later open of it in this process answers busy.
SANE_Status FailAfterOpen(const char* message, SANE_Status status) {
  LogError("sane_dravn2_open", message);
  g_iDevCount = 0;
  if (kelo_usb_manager) kelo_usb_manager->Close();
  return status;
}

SANE_Status OpenSelko2(const char* deviceName, SANE_Handle* handle) {
  SetSelko2Device(new (std::nothrow) CSelko2ScanFunc());
  if (!g_pCSelko2ScanFunc || !g_pCSelko2ScanFunc->IsUsable()) {
    delete g_pCSelko2ScanFunc;
    SetSelko2Device(nullptr);
    return FailAfterOpen("new CSelko2ScanFunc() failure", SANE_STATUS_NO_MEM);
  }
  StartUsbLog();
  uint16_t wRet = g_pCSelko2ScanFunc->LockScanner();
  if (wRet != RET_LOCKED) {
    g_pCSelko2ScanFunc->UnLockScanner();
    Dravn2_close(nullptr);
    switch (wRet) {
      case RET_NOT_CONNECT:
        return FailSelko2Open("RET_NOT_CONNECT == wRet", SANE_STATUS_IO_ERROR);
      case RET_ALREADY_LOCKED:
        // Recorded so that a later process reading the scanner-error option
        // sees why.
        g_pCSelko2ScanFunc->SetDeviceShmPath(deviceName);
        g_pCSelko2ScanFunc->setDwLastErr(SELKO2_ERR_LOCKED_BY_OTHER);
        if (g_pCSelko2ScanFunc->WriteSCErrorInfo())
          return FailSelko2Open("RET_ALREADY_LOCKED == wRet", SANE_STATUS_DEVICE_BUSY);
        return FailSelko2Open("g_pCSelko2ScanFunc->WriteSCErrorInfo() == FALSE",
                              g_pCSelko2ScanFunc->ConvertToSaneErr(g_pCSelko2ScanFunc->getDwLastErr()));
      default:
        return FailSelko2Open("LockScanner failure(Selko2)", SANE_STATUS_IO_ERROR);
    }
  }
  g_pCSelko2ScanFunc->SetDeviceShmPath(deviceName);
  SANE_Status status = g_pCSelko2ScanFunc->InitDevice();
  if (status != SANE_STATUS_GOOD) {
    g_pCSelko2ScanFunc->UnLockScanner();
    Dravn2_close(nullptr);
    return FailSelko2Open("InitDevice failure(Selko2)", status);
  }
  *handle = g_pCSelko2ScanFunc;
  return SANE_STATUS_GOOD;
}

template <class Device>
SANE_Status OpenShell(Device*& object, const char* newFailure, const char* initFailure, SANE_Handle* handle) {
  object = new (std::nothrow) Device();
  if (!object) return FailAfterOpen(newFailure, SANE_STATUS_NO_MEM);
  SANE_Status status = object->InitDevice();
  if (status != SANE_STATUS_GOOD) {
    delete object;
    object = nullptr;
    return FailAfterOpen(initFailure, status);
  }
  *handle = object;
  return SANE_STATUS_GOOD;
}

// Answers the open family's object through `call`, or the null-object
// status when it has none.
template <class Call>
SANE_Status WithDevice(const char* function, const char* suffix, Call call) {
  switch (FamilyOfProduct(iDeviceID)) {
    case SecondFamily::Brenna:
      if (dravnbrennadevice) return call(*dravnbrennadevice);
      break;
    case SecondFamily::Selko2:
      if (g_pCSelko2ScanFunc) return call(*g_pCSelko2ScanFunc);
      break;
    case SecondFamily::Selko:
      if (dravn2device) return call(*dravn2device);
      break;
  }
  char message[128];
  snprintf(message, sizeof message, "%s%s", NullObjectMessage(), suffix);
  LogError(function, message);
  return SANE_STATUS_INVAL;
}

}  // namespace

namespace {

SANE_Status Dravn2_init(SANE_Int* /*version_code*/, SANE_Auth_Callback /*authorize*/) {
  const char* fn = "sane_dravn2_init";
  StartLog();
  WriteLog(LOG_LEVEL_TRACE, fn, "start");
  InstallSignalProcess();
  if (kelo_usb_manager) {
    // The main backend runs init before every open it forwards: what the
    // last init took is given back first, the scanner's lock included.
    ReleaseOpenDevice();
    kelo_usb_manager->ReleaseLibusbResource();
    delete kelo_usb_manager;
    kelo_usb_manager = nullptr;
  }
  g_iDevCount = 0;  // the list belonged to the old manager: the next open lists again
  kelo_usb_manager = new (std::nothrow) KeloManagerUsb(SecondDeviceRowLookup, KELO_BACKEND_SECOND);
  if (!kelo_usb_manager) {
    LogError(fn, "new KeloManagerUsb() failure");
    return SANE_STATUS_NO_MEM;
  }
  if (g_bLibrariesBound) UnbindLibraries();
  g_bLibrariesBound = true;
  SANE_Status status = LoadImageLibraries();
  if (status != SANE_STATUS_GOOD) return status;
  InitDravnIni();
  InitSimpleScanConf();
  g_bIsScanimage = CheckSpecifyProcess("scanimage") ? 1 : 0;
  g_bIsXsane = CheckSpecifyProcess("xsane") ? 1 : 0;
  g_bIsSimpleScan = CheckSpecifyProcess("simple-scan") ? 1 : 0;
  if (!kelo_usb_manager->InitSystemToolPath()) {
    LogError(fn, "InitSystemToolPath failure");
    return SANE_STATUS_IO_ERROR;
  }
  WriteLog(LOG_LEVEL_TRACE, fn, "end");
  return SANE_STATUS_GOOD;
}

SANE_Status Dravn2_get_devices(const SANE_Device*** /*device_list*/, SANE_Bool /*local_only*/) {
  CLogScope scope("sane_dravn2_get_devices");
  return SANE_STATUS_GOOD;
}

SANE_Status OpenDevice(SANE_String_Const devicename, SANE_Handle* handle) {
  const char* fn = "sane_dravn2_open";
  InstallSignalProcess();
  if (!handle || !kelo_usb_manager) {
    LogError(fn, "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  if (g_iDevCount == 0) {
    SANE_Status status = static_cast<SANE_Status>(kelo_usb_manager->GetDeviceList(&g_iDevCount));
    if (status != SANE_STATUS_GOOD) {
      LogError(fn, "GetDeviceList == NULL");
      return status;
    }
  }
  const char* name = devicename;
  if ((!name || !*name) && g_iDevCount > 0) {
    if (KELO_USB_DEVICE* first = kelo_usb_manager->GetDevice(0)) name = first->sscDevName;
  }
  if (!name) name = "";
  if (!kelo_usb_manager->InitShareMemory()) {
    LogError(fn, "InitShareMemory failed");
    return SANE_STATUS_INVAL;
  }
  const bool pauseAroundOpen = g_stDravnIni.iUsbOpenSleep == 1;
  if (pauseAroundOpen) usleep(kOpenSleep);
  SANE_Status status = SANE_STATUS_DEVICE_BUSY;
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    status = static_cast<SANE_Status>(kelo_usb_manager->Open(name));
    if (status != SANE_STATUS_DEVICE_BUSY) break;
    if (pauseAroundOpen) usleep(kOpenSleep);
  }
  if (status != SANE_STATUS_GOOD) {
    LogError(fn, "Open failed.");
    // The device may have gone since the listing: list again next time.
    g_iDevCount = 0;
    return status;
  }
  DeleteDeviceObjects();
  const int vendorId = kelo_usb_manager->GetVendor();
  const int productId = kelo_usb_manager->GetProductID();
  status = CreateOptList(vendorId, productId);
  if (status != SANE_STATUS_GOOD) return FailAfterOpen("CreateOptList() != SANE_STATUS_GOOD", status);
  iDeviceID = productId;
  switch (FamilyOfProduct(iDeviceID)) {
    case SecondFamily::Brenna:
      status = OpenShell(dravnbrennadevice, "new CBrennaScanFunc() failure", "InitDevice Brenna failure", handle);
      break;
    case SecondFamily::Selko:
      status = OpenShell(dravn2device, "new KeloDevCtldravn2() failure", "InitDevice failure", handle);
      break;
    case SecondFamily::Selko2:
      status = OpenSelko2(name, handle);
      break;
  }
  return status;
}

SANE_Status Dravn2_open(SANE_String_Const devicename, SANE_Handle* handle) {
  const char* fn = "sane_dravn2_open";
  WriteLog(LOG_LEVEL_TRACE, fn, "start");
  SANE_Status status = OpenDevice(devicename, handle);
  if (status != SANE_STATUS_GOOD) {
    // A failed open leaves no shared table behind that nobody uses.
    if (kelo_usb_manager && !kelo_usb_manager->IsOpen()) kelo_usb_manager->ReleaseShareMemory();
    return status;
  }
  WriteLog(LOG_LEVEL_TRACE, fn, "end");
  return SANE_STATUS_GOOD;
}

void Dravn2_close(SANE_Handle /*handle*/) {
  CLogScope scope("sane_dravn2_close");
  if (FamilyOfProduct(iDeviceID) == SecondFamily::Brenna) EndRunningBatch();
  if (FamilyOfProduct(iDeviceID) == SecondFamily::Selko2) {
    EndRunningBatch();
    if (g_pCSelko2ScanFunc) {
      g_pCSelko2ScanFunc->UnLockScanner();
      g_pCSelko2ScanFunc->RemoveCleanStatusFile();
    }
    EndUsbLog();
  }
  if (FamilyOfProduct(iDeviceID) == SecondFamily::Selko) EndRunningBatch();
  g_iDevCount = 0;
  if (kelo_usb_manager) kelo_usb_manager->Close();
}

const SANE_Option_Descriptor* Dravn2_get_option_descriptor(SANE_Handle /*handle*/, SANE_Int option) {
  CLogScope scope("sane_dravn2_get_option_descriptor");
  return GetOptionDescriptor(option);
}

SANE_Status Dravn2_control_option(SANE_Handle /*handle*/, SANE_Int option, SANE_Action action, void* value,
                                  SANE_Int* info) {
  const char* fn = "sane_dravn2_control_option";
  CLogScope scope(fn);
  switch (action) {
    case SANE_ACTION_GET_VALUE:
      return GetControlOption(option, value);
    case SANE_ACTION_SET_VALUE:
      if (g_bIsSimpleScan && value && (option == OPTION_PAGE_WIDTH || option == OPTION_PAGE_HEIGHT)) {
        if (option == OPTION_PAGE_HEIGHT && *static_cast<SANE_Word*>(value) > kSimpleScanMaxHeight) {
          g_bIsGTMax = 1;
          return SANE_STATUS_INVAL;
        }
        g_bIsAutomatic = 0;
      }
      return SetControlOption(option, value, info);
    case SANE_ACTION_SET_AUTO: {
      if (!g_bIsSimpleScan || option != OPTION_SOURCE) return SANE_STATUS_GOOD;
      g_bIsAutoFeed = 0;
      char source[16];
      snprintf(source, sizeof source, "%s", g_bHasFlatbed ? "Flatbed" : "ADF Front");
      return SetControlOption(option, source, info);
    }
  }
  LogError(fn, "action error");
  return SANE_STATUS_INVAL;
}

SANE_Status Dravn2_get_parameters(SANE_Handle /*handle*/, SANE_Parameters* params) {
  CLogScope scope("sane_dravn2_get_parameters");
  SANE_Status status = GetParameters(params);
  if (GetLogLevel() > LOG_LEVEL_TRACE && params) {
    char* msg = SetMessage();
    snprintf(msg, 4096,
             "parameters: bytes_per_line %d, pixels_per_line %d, lines %d, depth %d, format %d, last_frame %d",
             params->bytes_per_line, params->pixels_per_line, params->lines, params->depth, params->format,
             params->last_frame);
    WriteLog(LOG_LEVEL_DEBUG, "sane_dravn2_get_parameters", msg);
  }
  return status;
}

SANE_Status Dravn2_start(SANE_Handle /*handle*/) {
  const char* fn = "sane_dravn2_start";
  WriteLog(LOG_LEVEL_TRACE, fn, "start");
  InstallSignalProcess();
  GetSelectedInfo();
  if (g_bIsSimpleScan) {
    if (g_bIsGTMax) return SANE_STATUS_INVAL;
    g_PropInfo.PAPER_SIZE = g_bIsAutomatic ? kAutomaticPaperSize : g_tSimpleScanConf;
    g_PropInfo.AUTOFEED = g_bIsAutoFeed ? 1 : 0;
  }
  SANE_Status status = WithDevice(fn, "", [](auto& device) { return device.Start(); });
  if (status != SANE_STATUS_GOOD) return status;
  status = WithDevice(fn, " (SetReadImgBufSize)", [](auto& device) {
    device.SetReadImgBufSize();
    return SANE_STATUS_GOOD;
  });
  if (status != SANE_STATUS_GOOD) return status;
  g_siTotalByte = 0;
  WriteLog(LOG_LEVEL_TRACE, fn, "end");
  return SANE_STATUS_GOOD;
}

SANE_Status Dravn2_read(SANE_Handle /*handle*/, SANE_Byte* data, SANE_Int max_length, SANE_Int* length) {
  const char* fn = "sane_dravn2_read";
  CLogScope scope(fn);
  if (length) *length = 0;
  SANE_Status status = WithDevice(fn, "", [&](auto& device) { return device.ReadImgBuf(data, max_length, length); });
  if (GetLogLevel() > LOG_LEVEL_TRACE && length) {
    g_siTotalByte += *length;
    char* msg = SetMessage();
    snprintf(msg, 4096, "length %d, total %d", *length, g_siTotalByte);
    WriteLog(LOG_LEVEL_DEBUG, fn, msg);
  }
  return status;
}

void Dravn2_cancel(SANE_Handle /*handle*/) {
  CLogScope scope("sane_dravn2_cancel");
  SANE_Status status = WithDevice("sane_dravn2_cancel", "", [](auto& device) {
    device.Cancel();
    return SANE_STATUS_GOOD;
  });
  if (status != SANE_STATUS_GOOD) return;
  g_bIsAutoFeed = 1;
  g_bIsAutomatic = 1;
  g_bIsGTMax = 0;
}

void Dravn2_exit(void) {
  const char* fn = "sane_dravn2_exit";
  WriteLog(LOG_LEVEL_TRACE, fn, "start");
  if (g_FSIP_FREESINCOS) g_FSIP_FREESINCOS();
  if (kelo_usb_manager) ReleaseOpenDevice();
  DeleteDeviceObjects();
  if (kelo_usb_manager) {
    kelo_usb_manager->ReleaseLibusbResource();
    delete kelo_usb_manager;
    kelo_usb_manager = nullptr;
  }
  UnbindLibraries();
  RemoveSignalProcess();
  g_iDevCount = 0;
  WriteLog(LOG_LEVEL_TRACE, fn, "end");
  EndLog();
}

SANE_Status Dravn2_set_io_mode(SANE_Handle /*handle*/, SANE_Bool /*non_blocking*/) {
  CLogScope scope("sane_dravn2_set_io_mode");
  return SANE_STATUS_UNSUPPORTED;
}

SANE_Status Dravn2_get_select_fd(SANE_Handle /*handle*/, SANE_Int* /*fd*/) {
  CLogScope scope("sane_dravn2_get_select_fd");
  return SANE_STATUS_UNSUPPORTED;
}

SANE_String_Const Dravn2_strstatus(SANE_Status status) {
  CLogScope scope("sane_dravn2_strstatus");
  const char* text = SaneStatusText(status);
  snprintf(szStrStatus, sizeof szStrStatus, "%s", text);
  return szStrStatus;
}

}  // namespace

// The exported entry points: nothing thrown inside may cross into the main
// backend or the front end.
extern "C" {

DRAVN_EXPORT SANE_Status sane_dravn2_init(SANE_Int* version, SANE_Auth_Callback authorize) {
  try {
    return Dravn2_init(version, authorize);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_get_devices(const SANE_Device*** list, SANE_Bool localOnly) {
  try {
    return Dravn2_get_devices(list, localOnly);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_open(SANE_String_Const name, SANE_Handle* handle) {
  try {
    return Dravn2_open(name, handle);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT void sane_dravn2_close(SANE_Handle handle) {
  try {
    Dravn2_close(handle);
  } catch (...) {
  }
}

DRAVN_EXPORT const SANE_Option_Descriptor* sane_dravn2_get_option_descriptor(SANE_Handle handle, SANE_Int option) {
  try {
    return Dravn2_get_option_descriptor(handle, option);
  } catch (...) {
    return nullptr;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action,
                                                    void* value, SANE_Int* info) {
  try {
    return Dravn2_control_option(handle, option, action, value, info);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_get_parameters(SANE_Handle handle, SANE_Parameters* params) {
  try {
    return Dravn2_get_parameters(handle, params);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_start(SANE_Handle handle) {
  try {
    return Dravn2_start(handle);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  try {
    return Dravn2_read(handle, data, maxLength, length);
  } catch (...) {
    if (length) *length = 0;
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT void sane_dravn2_cancel(SANE_Handle handle) {
  try {
    Dravn2_cancel(handle);
  } catch (...) {
  }
}

DRAVN_EXPORT void sane_dravn2_exit(void) {
  try {
    Dravn2_exit();
  } catch (...) {
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_set_io_mode(SANE_Handle handle, SANE_Bool nonBlocking) {
  try {
    return Dravn2_set_io_mode(handle, nonBlocking);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_Status sane_dravn2_get_select_fd(SANE_Handle handle, SANE_Int* fd) {
  try {
    return Dravn2_get_select_fd(handle, fd);
  } catch (...) {
    return SANE_STATUS_NO_MEM;
  }
}

DRAVN_EXPORT SANE_String_Const sane_dravn2_strstatus(SANE_Status status) {
  try {
    return Dravn2_strstatus(status);
  } catch (...) {
    return "Out of memory";
  }
}

}  // extern "C"
