#include "sane_main.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "devctl_codes.h"
#include "kelo_devctl.h"
#include "kelo_devctl_corvane.h"
#include "log.h"
#include "main_globals.h"
#include "main_options.h"
#include "sane_status_text.h"
#include "second_backend.h"
#include "signal_process.h"
#include "usb_manager.h"

namespace dravnmain {

KeloManagerUsb* kelo_usb_manager = nullptr;
std::atomic<KeloDevCtl*> velmorak{nullptr};
std::atomic<bool> g_bSigHup{false};
P2I_FUNCTION g_DCMFunction = nullptr;
P2I_FUNCTION g_SRGBFunction = nullptr;

namespace {

SANE_Device** kelo_usb_device_list = nullptr;
int m_iDevCount = 0;          // devices the USB manager listed
int g_iDevListSlots = 0;      // records in kelo_usb_device_list (its own count)
bool g_bUsbReleased = false;  // a close ended the libusb use: list again before opening
int m_siTotalByte = 0;
char szStrStatus[80];
DevCtlFactory g_pfnDevCtlFactory = CreateDevCtl;
// Forwarding is decided per handle: the second backend keeps one device, so
// its live handle is the only one forwarded; handles it gave out before are
// superseded (its init released their device) and go nowhere.
SANE_Handle g_hForwarded = nullptr;
std::vector<SANE_Handle> g_vSupersededHandles;
// sane_dravn2_init ran and no sane_dravn2_exit since: the library must be
// exited before it is unloaded, or a thread of it outlives its code.
bool g_bSecondBackendInitialised = false;

enum class Route { Own, Forwarded, Superseded };

Route RouteOf(SANE_Handle handle) {
  if (handle && handle == g_hForwarded && g_bSecondBackendSupport) return Route::Forwarded;
  if (handle &&
      std::find(g_vSupersededHandles.begin(), g_vSupersededHandles.end(), handle) != g_vSupersededHandles.end())
    return Route::Superseded;
  return Route::Own;
}

void ExitSecondBackend() {
  if (g_bSecondBackendInitialised && g_sane_dravn2_exit) g_sane_dravn2_exit();
  g_bSecondBackendInitialised = false;
  if (g_hForwarded) g_vSupersededHandles.push_back(g_hForwarded);
  g_hForwarded = nullptr;
}

void Trace(const char* function, const char* text) { WriteLog(LOG_LEVEL_TRACE, function, text); }
void Error(const char* function, const char* text) { WriteLog(LOG_LEVEL_ERROR, function, text); }

void FreeDevice(SANE_Device* dev) {
  free(const_cast<char*>(dev->name));
  free(const_cast<char*>(dev->vendor));
  free(const_cast<char*>(dev->model));
  free(const_cast<char*>(dev->type));
  free(dev);
}

void FreeDeviceList(bool logEach) {
  if (!kelo_usb_device_list) return;
  // The null slot that ends the list is reported too.
  for (int i = 0; i <= g_iDevListSlots; ++i) {
    if (logEach && GetLogLevel() >= LOG_LEVEL_DEBUG) {
      snprintf(SetMessage(), 4096,
               kelo_usb_device_list[i] ? "kelo_usb_device_list[%d] is released" : "kelo_usb_device_list[%d] is NULL",
               i);
      WriteLog(LOG_LEVEL_DEBUG, "sane_dravn_exit", SetMessage());
    }
    if (kelo_usb_device_list[i]) FreeDevice(kelo_usb_device_list[i]);
  }
  free(kelo_usb_device_list);
  kelo_usb_device_list = nullptr;
  g_iDevListSlots = 0;
}

// Stops the own device's scan before anything it uses may go.
void CancelOwnDevice() {
  if (KeloDevCtl* dev = velmorak.load()) dev->Cancel();
}

void DeleteOwnDevice() {
  KeloDevCtl* dev = velmorak.exchange(nullptr);
  if (dev) {
    dev->Cancel();
    delete dev;
  }
}

// libimgforge: the common layer binds the entries it shares; the two
// lookups only this backend makes follow.
void LoadLibFunc() {
  ::LoadLibFunc(DRAVN_LIB_DIR, true);
  g_DCMFunction = nullptr;
  g_SRGBFunction = nullptr;
  if (!g_hLibKeloImage) return;
  if (!(g_DCMFunction = reinterpret_cast<P2I_FUNCTION>(dlsym(g_hLibKeloImage, "P2iGetBestDepth"))))
    Trace("LoadLibFunc", "DCM load failed");
  if (!(g_SRGBFunction = reinterpret_cast<P2I_FUNCTION>(dlsym(g_hLibKeloImage, "P2iConvToSrgb"))))
    Trace("LoadLibFunc", "sRGB load failed");
}

void UnLoadLibFunc() {
  g_DCMFunction = nullptr;
  g_SRGBFunction = nullptr;
  ::UnLoadLibFunc();
}

// A failed step exits the second backend at once: its init took the USB
// manager, the shared table, the image libraries and a signal thread.
SANE_Status FailForwardedOpen(const char* message, SANE_Status status) {
  Error("sane_dravn_open", message);
  ExitSecondBackend();
  return status;
}

SANE_Status ForwardedOpen(SANE_String_Const name, SANE_Handle* handle) {
  static const char* const kTag = "sane_dravn_open";
  if (!g_bSecondBackendSupport) {
    Trace(kTag, "end");
    return SANE_STATUS_UNSUPPORTED;
  }
  // The second backend's init gives back the device it held: that handle
  // is superseded whether or not this open succeeds.
  if (g_hForwarded) g_vSupersededHandles.push_back(g_hForwarded);
  g_hForwarded = nullptr;
  SANE_Int version = 0;
  g_bSecondBackendInitialised = true;
  SANE_Status status = g_sane_dravn2_init(&version, nullptr);
  if (status != SANE_STATUS_GOOD) return FailForwardedOpen("g_func_init() != SANE_STATUS_GOOD", status);
  const SANE_Device** list = nullptr;
  status = g_sane_dravn2_get_devices(&list, SANE_FALSE);
  if (status != SANE_STATUS_GOOD) return FailForwardedOpen("g_func_get_devices() != SANE_STATUS_GOOD", status);
  SANE_Handle opened = nullptr;
  status = g_sane_dravn2_open(name, &opened);
  if (status != SANE_STATUS_GOOD) return FailForwardedOpen("g_func_open() != SANE_STATUS_GOOD", status);
  g_vSupersededHandles.erase(std::remove(g_vSupersededHandles.begin(), g_vSupersededHandles.end(), opened),
                             g_vSupersededHandles.end());
  g_hForwarded = opened;
  *handle = opened;
  Trace(kTag, "end");
  return SANE_STATUS_GOOD;
}

// A failed own open gives back what it took: the device object, the USB
// device with its exclusive record, and the shared table when no device of
// ours still needs it.
SANE_Status FailOwnOpen(const char* message, SANE_Status status, bool deviceOpened) {
  Error("sane_dravn_open", message);
  if (deviceOpened) {
    DeleteOwnDevice();
    kelo_usb_manager->Close();
    g_bUsbReleased = true;
  }
  if (!kelo_usb_manager->IsOpen()) kelo_usb_manager->ReleaseShareMemory();
  return status;
}

SANE_Status OwnOpen(SANE_String_Const name, SANE_Handle* handle) {
  static const char* const kTag = "sane_dravn_open";
  if (!kelo_usb_manager->InitShareMemory()) return FailOwnOpen("InitShareMemory error", SANE_STATUS_INVAL, false);
  usleep(500000);
  int result = 0;
  // Three tries; each busy answer, the last one too, waits 500 ms.
  for (int tries = 0; tries < 3; ++tries) {
    errno = 0;
    result = kelo_usb_manager->Open(name);
    if (result != SANE_STATUS_DEVICE_BUSY) break;
    usleep(500000);
  }
  if (result != 0)
    return FailOwnOpen("Open failed.", KeloDevCtl::ConvertToSaneErr(static_cast<uint32_t>(result)), false);
  DeleteOwnDevice();
  SANE_Status status = CreateOptList(kelo_usb_manager->GetVendor(), kelo_usb_manager->GetProductID());
  if (status != SANE_STATUS_GOOD) return FailOwnOpen("CreateOptList() != SANE_STATUS_GOOD", status, true);
  const unsigned type = static_cast<unsigned>(g_iDevType);
  const bool valid = type <= 24 || type == 35 || (type >= 31 && type <= 34) || (type >= 36 && type <= 45);
  if (!valid) return FailOwnOpen("g_iDevType invalid", SANE_STATUS_UNSUPPORTED, true);
  KeloDevCtl* dev = g_pfnDevCtlFactory(g_iDevType);
  if (!dev) return FailOwnOpen("no device class for g_iDevType", SANE_STATUS_UNSUPPORTED, true);
  velmorak.store(dev);
  errno = 0;
  uint32_t code = dev->InitDevice();
  if (code != VK_OK) return FailOwnOpen("InitDevice() != VK_OK", KeloDevCtl::ConvertToSaneErr(code), true);
  *handle = dev;
  Trace(kTag, "end");
  return SANE_STATUS_GOOD;
}

}  // namespace

KeloDevCtl* CreateDevCtl(int devType) {
  if ((devType >= 0 && devType < 25) || devType == 35) return new (std::nothrow) KeloDevCtlCorvane();
  if ((devType >= 31 && devType <= 34) || (devType >= 36 && devType <= 45))
    return new (std::nothrow) KeloDevCtlCorvane5();
  return nullptr;
}

void SetDevCtlFactory(DevCtlFactory factory) { g_pfnDevCtlFactory = factory ? factory : CreateDevCtl; }

bool LookupDeviceRow(int vendorId, int productId, KELO_DEVICE_ROW_TEXTS* row) {
  const DEVICE_OPTION_CONTROL* found = GetDevCtlByDevInfo(vendorId, productId);
  if (!found) return false;
  if (row) {
    row->pszModel = found->szModel;
    row->pszType = found->szType;
    row->pszVendor = found->szVendor;
  }
  return true;
}

SANE_Status SaneInit(SANE_Int* versionCode, SANE_Auth_Callback) {
  static const char* const kTag = "sane_dravn_init";
  SetLogIdentity("DRAVN", "dravnlog");
  StartLog();
  Trace(kTag, "start");
  InstallSignalProcess();
  StartSignalWatcher();
  if (versionCode) *versionCode = SANE_VERSION_CODE(1, 0, 21);
  delete kelo_usb_manager;
  kelo_usb_manager = new KeloManagerUsb(LookupDeviceRow, KELO_BACKEND_MAIN);
  g_bUsbReleased = false;
  m_iDevCount = 0;
  LoadLibFunc();
  g_bSecondBackendSupport = LoadSecondBackendFunc();
  g_bLibjpeg = LoadLibjpeg8();
  Trace(kTag, "end");
  return SANE_STATUS_GOOD;
}

SANE_Status SaneGetDevices(const SANE_Device*** deviceList, SANE_Bool) {
  static const char* const kTag = "sane_dravn_get_devices";
  Trace(kTag, "start");
  if (!kelo_usb_manager || !deviceList) return SANE_STATUS_INVAL;
  FreeDeviceList(false);
  m_iDevCount = 0;
  int result = kelo_usb_manager->GetDeviceList(&m_iDevCount);
  if (result != 0) {
    Error(kTag, "GetDeviceList == NULL");
    return static_cast<SANE_Status>(result);
  }
  g_bUsbReleased = false;
  if (m_iDevCount < 1) {
    Error(kTag, "no device found");
    return SANE_STATUS_INVAL;
  }
  kelo_usb_device_list = static_cast<SANE_Device**>(calloc(static_cast<size_t>(m_iDevCount) + 1, sizeof(SANE_Device*)));
  if (!kelo_usb_device_list) {
    Error(kTag, "kelo_usb_device_list == NULL");
    return SANE_STATUS_NO_MEM;
  }
  g_iDevListSlots = m_iDevCount;
  for (int i = 0; i < m_iDevCount; ++i) {
    kelo_usb_device_list[i] = static_cast<SANE_Device*>(calloc(1, sizeof(SANE_Device)));
    if (!kelo_usb_device_list[i]) {
      Error(kTag, "kelo_usb_device_list[iDevIdx] == NULL");
      return SANE_STATUS_NO_MEM;
    }
  }
  for (int i = 0; i < m_iDevCount; ++i) {
    KELO_USB_DEVICE* usb = kelo_usb_manager->GetDevice(i);
    if (!usb) {
      Error(kTag, "no device found");
      return SANE_STATUS_INVAL;
    }
    SANE_Device& dev = *kelo_usb_device_list[i];
    dev.name = usb->sscDevName ? strdup(usb->sscDevName) : nullptr;
    dev.vendor = strdup(usb->sscVendor ? usb->sscVendor : "");
    dev.model = strdup(usb->sscModel ? usb->sscModel : "");
    dev.type = strdup(usb->sscDevType ? usb->sscDevType : "");
    if (!dev.model || !dev.vendor || !dev.type || !dev.name) {
      free(const_cast<char*>(dev.name));
      free(const_cast<char*>(dev.vendor));
      free(const_cast<char*>(dev.model));
      free(const_cast<char*>(dev.type));
      dev = SANE_Device{};
      Error(kTag, "sdDev.model == NULL || sdDev.vendor == NULL || sdDev.type == NULL || sdDev.name == NULL");
      return SANE_STATUS_NO_MEM;
    }
    if (GetLogLevel() >= LOG_LEVEL_DEBUG) {
      snprintf(SetMessage(), 4096, "sdDev: model %s, vendor %s, type %s, name %s", dev.model, dev.vendor, dev.type,
               dev.name);
      WriteLog(LOG_LEVEL_DEBUG, kTag, SetMessage());
    }
  }
  *deviceList = const_cast<const SANE_Device**>(kelo_usb_device_list);
  Trace(kTag, "end");
  return SANE_STATUS_GOOD;
}

SANE_Status SaneOpen(SANE_String_Const name, SANE_Handle* handle) {
  static const char* const kTag = "sane_dravn_open";
  Trace(kTag, "start");
  InstallSignalProcess();
  if (!kelo_usb_manager || !handle) return SANE_STATUS_INVAL;
  // A scan of the device opened before must end before anything changes.
  CancelOwnDevice();
  if (m_iDevCount == 0 || g_bUsbReleased) {
    int result = kelo_usb_manager->GetDeviceList(&m_iDevCount);
    if (result != 0) {
      Error(kTag, "GetDeviceList == NULL");
      return static_cast<SANE_Status>(result);
    }
    g_bUsbReleased = false;
  }
  if ((!name || !*name) && m_iDevCount > 0) {
    if (KELO_USB_DEVICE* first = kelo_usb_manager->GetDevice(0)) name = first->sscDevName;
  }
  unsigned int productId = kelo_usb_manager->SwitchScanner(name);
  if (productId == 0 && name && *name) {
    // Perhaps plugged in since the listing: listing again costs no wait.
    int count = 0;
    if (kelo_usb_manager->GetDeviceList(&count) == 0) m_iDevCount = count;
    productId = kelo_usb_manager->SwitchScanner(name);
  }
  if (productId == 0) {
    // A name that no listed device has: nothing to wait for.
    Error(kTag, "no such device");
    return SANE_STATUS_INVAL;
  }
  if (IsSecondBackendProduct(productId)) return ForwardedOpen(name, handle);
  return OwnOpen(name, handle);
}

void SaneClose(SANE_Handle handle) {
  static const char* const kTag = "sane_dravn_close";
  Trace(kTag, "start");
  const Route route = RouteOf(handle);
  if (route == Route::Forwarded) {
    g_sane_dravn2_close(handle);
    g_hForwarded = nullptr;
  } else if (route == Route::Superseded) {
    g_vSupersededHandles.erase(std::find(g_vSupersededHandles.begin(), g_vSupersededHandles.end(), handle));
  } else if (kelo_usb_manager) {
    // Closing cancels: no scan thread may outlive its device.
    CancelOwnDevice();
    kelo_usb_manager->Close();
    g_bUsbReleased = true;
  }
  Trace(kTag, "end");
}

const SANE_Option_Descriptor* SaneGetOptionDescriptor(SANE_Handle handle, SANE_Int option) {
  static const char* const kTag = "sane_dravn_get_option_descriptor";
  const Route route = RouteOf(handle);
  if (route == Route::Forwarded) return g_sane_dravn2_get_option_descriptor(handle, option);
  Trace(kTag, "start");
  if (route == Route::Superseded || !velmorak.load()) return nullptr;
  const SANE_Option_Descriptor* desc = GetOptionDescriptor(option);
  if (desc) Trace(kTag, "end");
  return desc;
}

SANE_Status SaneControlOption(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value, SANE_Int* info) {
  static const char* const kTag = "sane_dravn_control_option";
  const Route route = RouteOf(handle);
  if (route == Route::Forwarded) return g_sane_dravn2_control_option(handle, option, action, value, info);
  Trace(kTag, "start");
  if (route == Route::Superseded || !velmorak.load() || option < 0 || option >= OPTION_TOTAL_NUM)
    return SANE_STATUS_INVAL;
  SANE_Status status;
  switch (action) {
    case SANE_ACTION_GET_VALUE:
      status = GetControlOption(option, value);
      break;
    case SANE_ACTION_SET_VALUE:
      status = SetControlOption(option, value, info);
      break;
    case SANE_ACTION_SET_AUTO:
      status = SANE_STATUS_GOOD;
      break;
    default:
      Error(kTag, "action error");
      return SANE_STATUS_INVAL;
  }
  if (status == SANE_STATUS_GOOD) Trace(kTag, "end");
  return status;
}

SANE_Status SaneGetParameters(SANE_Handle handle, SANE_Parameters* params) {
  static const char* const kTag = "sane_dravn_get_parameters";
  const Route route = RouteOf(handle);
  if (route == Route::Forwarded) return g_sane_dravn2_get_parameters(handle, params);
  Trace(kTag, "start");
  if (route == Route::Superseded || !velmorak.load()) return SANE_STATUS_INVAL;
  SANE_Status status = GetParameters(params);
  if (status == SANE_STATUS_GOOD && GetLogLevel() >= LOG_LEVEL_DEBUG) {
    snprintf(SetMessage(), 4096,
             "parameters: bytes_per_line %d, pixels_per_line %d, lines %d, depth %d, format %d, last_frame %d",
             params->bytes_per_line, params->pixels_per_line, params->lines, params->depth, params->format,
             params->last_frame);
    WriteLog(LOG_LEVEL_DEBUG, kTag, SetMessage());
  }
  if (status == SANE_STATUS_GOOD) Trace(kTag, "end");
  return status;
}

SANE_Status SaneStart(SANE_Handle handle) {
  static const char* const kTag = "sane_dravn_start";
  const Route route = RouteOf(handle);
  if (route == Route::Forwarded) return g_sane_dravn2_start(handle);
  Trace(kTag, "start");
  InstallSignalProcess();
  KeloDevCtl* dev = velmorak.load();
  if (route == Route::Superseded || !dev) return SANE_STATUS_INVAL;
  GetSelectedInfo();
  // Only what this start leaves in errno may colour its status.
  errno = 0;
  uint32_t code = dev->Start();
  if (code != VK_OK) return KeloDevCtl::ConvertToSaneErr(code);
  dev->SetReadImgBufSize();
  m_siTotalByte = 0;
  Trace(kTag, "end");
  return SANE_STATUS_GOOD;
}

SANE_Status SaneRead(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  static const char* const kTag = "sane_dravn_read";
  const Route route = RouteOf(handle);
  if (route == Route::Forwarded) return g_sane_dravn2_read(handle, data, maxLength, length);
  Trace(kTag, "start");
  KeloDevCtl* dev = velmorak.load();
  if (route == Route::Superseded || !dev) {
    if (length) *length = 0;
    return SANE_STATUS_INVAL;
  }
  SANE_Status status = dev->ReadImgBuf(data, maxLength, length);
  if (GetLogLevel() >= LOG_LEVEL_DEBUG && length) {
    m_siTotalByte += *length;
    snprintf(SetMessage(), 4096, "length %d, total %d", *length, m_siTotalByte);
    WriteLog(LOG_LEVEL_DEBUG, kTag, SetMessage());
  }
  if (status == SANE_STATUS_GOOD || status == SANE_STATUS_EOF) Trace(kTag, "end");
  return status;
}

void SaneCancel(SANE_Handle handle) {
  static const char* const kTag = "sane_dravn_cancel";
  const Route route = RouteOf(handle);
  if (route == Route::Forwarded) {
    g_sane_dravn2_cancel(handle);
    return;
  }
  Trace(kTag, "start");
  if (route == Route::Own) CancelOwnDevice();
  Trace(kTag, "end");
}

SANE_Status SaneSetIoMode(SANE_Handle, SANE_Bool) {
  Trace("sane_dravn_set_io_mode", "start");
  Trace("sane_dravn_set_io_mode", "end");
  return SANE_STATUS_UNSUPPORTED;
}

SANE_Status SaneGetSelectFd(SANE_Handle, SANE_Int*) {
  Trace("sane_dravn_get_select_fd", "start");
  Trace("sane_dravn_get_select_fd", "end");
  return SANE_STATUS_UNSUPPORTED;
}

SANE_String_Const SaneStrStatus(SANE_Status status) {
  const char* text = SaneStatusText(status);
  snprintf(szStrStatus, sizeof szStrStatus, "%s", text);
  return szStrStatus;
}

void SaneExit() {
  static const char* const kTag = "sane_dravn_exit";
  Trace(kTag, "start");
  FreeDeviceList(true);
  // The scan thread uses the USB manager: it ends before the manager goes.
  CancelOwnDevice();
  delete kelo_usb_manager;
  kelo_usb_manager = nullptr;
  delete velmorak.exchange(nullptr);  // its thread has ended; no device step runs now
  UnLoadLibFunc();
  UnLoadLibjpeg8();
  ExitSecondBackend();
  g_vSupersededHandles.clear();
  UnLoadSecondBackendFunc();
  StopSignalWatcher();
  Trace(kTag, "end");
  EndLog();
}

}  // namespace dravnmain
