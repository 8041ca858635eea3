#include "usb_manager.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config_file.h"
#include "dravn_paths.h"
#include "log.h"
#include "system_tools.h"

namespace {

bool IsScannerInterfaceClass(int cls) {
  return cls == LIBUSB_CLASS_PER_INTERFACE || cls == LIBUSB_CLASS_IMAGE || cls == LIBUSB_CLASS_VENDOR_SPEC;
}

// The errno behind a failed open or claim. libusb keeps the system call's
// errno; its own code tells the same when something has reset errno since.
int OpenErrno(int libusbResult) {
  int err = errno;
  if (err == EPERM || err == EACCES || err == EBUSY) return err;
  if (libusbResult == LIBUSB_ERROR_ACCESS) return EACCES;
  if (libusbResult == LIBUSB_ERROR_BUSY) return EBUSY;
  return err;
}

// SANE status of a failed open or claim, by its errno.
int StatusOfOpenErrno(int err) {
  const char* fn = "KeloManagerUsb::Open";
  if (err == EPERM || err == EACCES) {
    WriteLog(LOG_LEVEL_ERROR, fn, "errno == EPERM");
    return 11;  // SANE_STATUS_ACCESS_DENIED
  }
  if (err == EBUSY) {
    WriteLog(LOG_LEVEL_ERROR, fn, "errno == EBUSY");
    return 3;  // SANE_STATUS_DEVICE_BUSY
  }
  return 9;  // SANE_STATUS_IO_ERROR
}

}  // namespace

KeloManagerUsb::KeloManagerUsb(KELO_DEVICE_ROW_LOOKUP lookup, KeloBackendKind kind)
    : m_tExclusive(kind), m_pfnLookup(lookup), m_eKind(kind) {
  memset(m_tKeloDev, 0, sizeof m_tKeloDev);
}

KeloManagerUsb::~KeloManagerUsb() {
  // An exit without close or libusb release still gives everything back.
  CloseCurrent();
  ReleaseLibusbResource();
  while (m_pDevList) {
    KELO_USB_DEVICE_NODE* next = m_pDevList->next;
    free(m_pDevList->tDevice.sscDevName);
    free(m_pDevList);
    m_pDevList = next;
  }
  ReleaseShareMemory();
}

KELO_USB_DEVICE_NODE* KeloManagerUsb::FindNode(const char* devName) {
  for (KELO_USB_DEVICE_NODE* n = m_pDevList; n; n = n->next)
    if (strcmp(n->tDevice.sscDevName, devName) == 0) return n;
  return nullptr;
}

bool KeloManagerUsb::HasHandle() const {
  return m_iCurIndex >= 0 && m_iCurIndex < KELO_MAX_USB_DEVICE && m_tKeloDev[m_iCurIndex].ptHandle != nullptr;
}

// The handle is kept in the record and in its node, so that a listing
// while the device is open does not lose it.
void KeloManagerUsb::ForgetHandle() {
  KELO_USB_DEVICE& dev = m_tKeloDev[m_iCurIndex];
  if (dev.sscDevName)
    if (KELO_USB_DEVICE_NODE* node = FindNode(dev.sscDevName)) node->tDevice.ptHandle = nullptr;
  dev.ptHandle = nullptr;
}

int KeloManagerUsb::GetDeviceList(int* count) {
  const char* fn = "KeloManagerUsb::GetDeviceList";
  CLogScope scope(fn);
  const bool main = m_eKind == KELO_BACKEND_MAIN;
  if (count == nullptr) {
    WriteLog(LOG_LEVEL_ERROR, fn, "ipDevCount == NULL");
    return 4;
  }
  *count = 0;
  for (KELO_USB_DEVICE_NODE* n = m_pDevList; n; n = n->next) n->iStale = 1;
  // A listing that fails below must not lose the device that is open: it
  // stays the current record (though not listed) until it is closed.
  const KELO_USB_DEVICE held = HasHandle() ? m_tKeloDev[m_iCurIndex] : KELO_USB_DEVICE{};
  m_iCurIndex = 0;
  m_iDevNum = 0;
  memset(m_tKeloDev, 0, sizeof m_tKeloDev);
  m_tKeloDev[0] = held;

  std::vector<kelo_cfg_info> configured;
  if (SaveConfigFile(&configured) != 0) {
    WriteLog(LOG_LEVEL_ERROR, fn, main ? "failed to read configfile" : "SaveConfigFile error");
    return 4;
  }
  if (!m_bLibusbInit) {
    if (libusb_init(nullptr) != 0) {
      WriteLog(LOG_LEVEL_ERROR, fn, main ? "libusb_init failure" : "libusb_init error");
      return 4;
    }
    m_bLibusbInit = true;
  }
  if (m_ptUsbDevList) {
    libusb_free_device_list(m_ptUsbDevList, 1);
    m_ptUsbDevList = nullptr;
  }
  ssize_t listed = libusb_get_device_list(nullptr, &m_ptUsbDevList);
  if (listed < 0) {
    m_ptUsbDevList = nullptr;
    WriteLog(LOG_LEVEL_ERROR, fn, main ? "libusb_get_device_list failure" : "libusb_get_device_list error");
    return 4;
  }

  for (ssize_t d = 0; d < listed; ++d) {
    libusb_device* device = m_ptUsbDevList[d];
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(device, &desc) != 0) continue;
    bool named = false;  // one node per device, with the first matching interface
    for (int c = 0; c < desc.bNumConfigurations && !named; ++c) {
      libusb_config_descriptor* config = nullptr;
      if (libusb_get_config_descriptor(device, static_cast<uint8_t>(c), &config) != 0) continue;
      for (int i = 0; i < config->bNumInterfaces && !named; ++i) {
        const libusb_interface& itf = config->interface[i];
        for (int a = 0; a < itf.num_altsetting && !named; ++a) {
          if (!IsScannerInterfaceClass(itf.altsetting[a].bInterfaceClass)) continue;
          for (const kelo_cfg_info& cfg : configured) {
            if (cfg.iVendorId != desc.idVendor || cfg.iProductId != desc.idProduct) continue;
            KELO_DEVICE_ROW_TEXTS row{};
            if (!m_pfnLookup || !m_pfnLookup(desc.idVendor, desc.idProduct, &row) || !row.pszModel) continue;
            char name[256];
            snprintf(name, sizeof name, "%s:%03u:%03u", row.pszModel, libusb_get_bus_number(device),
                     libusb_get_device_address(device));
            if (KELO_USB_DEVICE_NODE* node = FindNode(name)) {
              node->iStale = 0;
              // The earlier list, and maybe the device object with it, is gone.
              node->tDevice.ptDevice = device;
              named = true;
              break;
            }
            if (!row.pszType || !row.pszVendor) continue;
            KELO_USB_DEVICE_NODE* node = static_cast<KELO_USB_DEVICE_NODE*>(calloc(1, sizeof *node));
            if (!node) {
              libusb_free_config_descriptor(config);
              WriteLog(LOG_LEVEL_ERROR, fn, "tpKeloDevInfo == NULL");
              return 10;
            }
            KELO_USB_DEVICE& dev = node->tDevice;
            dev.sscDevName = strdup(name);
            if (!dev.sscDevName) {
              free(node);
              libusb_free_config_descriptor(config);
              WriteLog(LOG_LEVEL_ERROR, fn, "tKeloDev.sscDevName == NULL");
              return 10;
            }
            dev.sscDevType = row.pszType;
            dev.iVendorId = desc.idVendor;
            dev.iProductId = desc.idProduct;
            dev.sscVendor = row.pszVendor;
            dev.sscModel = row.pszModel;
            dev.iOutEndpoint = KELO_USB_OUT_ENDPOINT;
            dev.iInEndpoint = KELO_USB_IN_ENDPOINT;
            dev.ptDevice = device;
            dev.iConfigIndex = c;
            dev.iInterfaceIndex = i;
            node->next = m_pDevList;
            m_pDevList = node;
            named = true;
            break;
          }
        }
      }
      libusb_free_config_descriptor(config);
    }
  }

  // Drop the devices gone since the last listing; an open one stays until
  // it is closed.
  for (KELO_USB_DEVICE_NODE** link = &m_pDevList; *link;) {
    KELO_USB_DEVICE_NODE* node = *link;
    if (node->iStale && !node->tDevice.ptHandle) {
      *link = node->next;
      free(node->tDevice.sscDevName);
      free(node);
    } else {
      link = &node->next;
    }
  }
  for (KELO_USB_DEVICE_NODE* n = m_pDevList; n && m_iDevNum < KELO_MAX_USB_DEVICE; n = n->next)
    m_tKeloDev[m_iDevNum++] = n->tDevice;
  ReverseDevInfo();
  for (int i = 0; i < m_iDevNum; ++i)
    if (m_tKeloDev[i].ptHandle) m_iCurIndex = i;

  if (m_iDevNum <= 0) {
    WriteLog(LOG_LEVEL_ERROR, fn, "iDevNum <= 0");
    return 4;
  }
  *count = m_iDevNum;
  return 0;
}

void KeloManagerUsb::ReverseDevInfo() {
  for (int i = 0, j = m_iDevNum - 1; i < j; ++i, --j) {
    KELO_USB_DEVICE t = m_tKeloDev[i];
    m_tKeloDev[i] = m_tKeloDev[j];
    m_tKeloDev[j] = t;
  }
}

KELO_USB_DEVICE* KeloManagerUsb::GetDevice(int index) {
  if (index < 0 || index >= m_iDevNum) {
    WriteLog(LOG_LEVEL_ERROR, "KeloManagerUsb::GetDevice", "out of range");
    return nullptr;
  }
  return &m_tKeloDev[index];
}

unsigned int KeloManagerUsb::SwitchScanner(const char* devName) {
  if (!devName) return 0;
  for (int i = 0; i < m_iDevNum; ++i) {
    if (m_tKeloDev[i].sscDevName && strcmp(m_tKeloDev[i].sscDevName, devName) == 0) {
      snprintf(SetMessage(), 4096, "%s is %x", devName, static_cast<unsigned>(m_tKeloDev[i].iProductId));
      WriteLog(LOG_LEVEL_TRACE, "KeloManagerUsb::SwitchScanner", SetMessage());
      return static_cast<unsigned>(m_tKeloDev[i].iProductId);
    }
  }
  return 0;
}

int KeloManagerUsb::Open(const char* devName) {
  const char* fn = "KeloManagerUsb::Open";
  CLogScope scope(fn);
  if (!devName) {
    WriteLog(LOG_LEVEL_ERROR, fn, "pDevName == NULL");
    return 4;
  }
  int status = StartExcusive(devName);
  if (status != 0) {
    WriteLog(LOG_LEVEL_DEBUG, "VkUSBDriver::Open", "failed to excusive");
    return status;
  }
  int index = -1;
  for (int i = 0; i < m_iDevNum && index < 0; ++i)
    if (m_tKeloDev[i].sscDevName && strcmp(m_tKeloDev[i].sscDevName, devName) == 0) index = i;

  int err = ENODEV;
  if (index < 0 || !m_tKeloDev[index].ptDevice) {
    // Not listed, or its libusb device was released since the listing.
    WriteLog(LOG_LEVEL_ERROR, fn, "usb_open() == NULL");
  } else {
    KELO_USB_DEVICE& dev = m_tKeloDev[index];
    libusb_device_handle* handle = nullptr;
    errno = 0;
    int result = libusb_open(dev.ptDevice, &handle);
    if (result != 0 || !handle) {
      err = OpenErrno(result);
      WriteLog(LOG_LEVEL_ERROR, fn, "libusb_open() == NULL");
    } else {
      m_iCurIndex = index;
      dev.ptHandle = handle;
      if (KELO_USB_DEVICE_NODE* node = FindNode(dev.sscDevName)) node->tDevice.ptHandle = handle;
      WriteLog(LOG_LEVEL_DEBUG, fn, "found device");
      errno = 0;
      result = libusb_claim_interface(handle, dev.iInterfaceIndex);
      if (result == 0) return 0;
      err = OpenErrno(result);
      WriteLog(LOG_LEVEL_ERROR, fn,
               m_eKind == KELO_BACKEND_MAIN ? "usb_claim_interface() < 0" : "libusb_claim_interface() < 0");
      libusb_close(handle);
      ForgetHandle();
    }
  }
  status = StatusOfOpenErrno(err);
  // Keeping the record would answer every later open of this process busy.
  EndExcusive(devName);
  return status;
}

void KeloManagerUsb::Close() {
  const bool main = m_eKind == KELO_BACKEND_MAIN;
  const char* fn = "KeloManagerUsb::Close";
  WriteLog(main ? LOG_LEVEL_DETAIL : LOG_LEVEL_TRACE, fn, "start");
  CloseCurrent();
  if (main) ReleaseLibusbResource();  // the main backend ends its libusb use at every close
  WriteLog(main ? LOG_LEVEL_DETAIL : LOG_LEVEL_TRACE, fn, "end");
}

void KeloManagerUsb::CloseCurrent() {
  if (!HasHandle()) return;
  KELO_USB_DEVICE& dev = m_tKeloDev[m_iCurIndex];
  libusb_release_interface(dev.ptHandle, dev.iInterfaceIndex);
  libusb_close(dev.ptHandle);
  ForgetHandle();
  EndExcusive(dev.sscDevName);
}

void KeloManagerUsb::FreeDeviceList() {
  if (m_ptUsbDevList) {
    libusb_free_device_list(m_ptUsbDevList, 1);
    m_ptUsbDevList = nullptr;
  }
  // What the records and nodes point at may be freed now: an open must list
  // again first.
  for (int i = 0; i < KELO_MAX_USB_DEVICE; ++i) m_tKeloDev[i].ptDevice = nullptr;
  for (KELO_USB_DEVICE_NODE* n = m_pDevList; n; n = n->next) n->tDevice.ptDevice = nullptr;
}

void KeloManagerUsb::ReleaseLibusbResource() {
  CLogScope scope("KeloManagerUsb::ReleaseLibusbResource");
  if (!m_bLibusbInit) return;
  CloseCurrent();  // a handle must not outlive the libusb it belongs to
  FreeDeviceList();
  libusb_exit(nullptr);
  m_bLibusbInit = false;
}

int KeloManagerUsb::RawWriteData(unsigned char* buffer, unsigned int length) {
  const char* fn = "KeloManagerUsb::RawWriteData";
  CLogScope scope(fn);
  if (!buffer || !HasHandle() || length > static_cast<unsigned>(INT_MAX)) {
    WriteLog(LOG_LEVEL_ERROR, fn, "invalid parameter or device not open");
    return -1;
  }
  const KELO_USB_DEVICE& dev = m_tKeloDev[m_iCurIndex];
  int written = 0;
  int result = libusb_bulk_transfer(dev.ptHandle, static_cast<unsigned char>(dev.iOutEndpoint), buffer,
                                    static_cast<int>(length), &written, static_cast<unsigned>(m_iTimeOut));
  if (result != 0 || static_cast<unsigned>(written) != length) {
    WriteLog(LOG_LEVEL_ERROR, fn, "iResult != 0 || (UInt32) iWriteLen != ulBufferSize");
    return -1;
  }
  return 0;
}

int KeloManagerUsb::RawReadData(unsigned char* buffer, unsigned int length, unsigned int* count) {
  const char* fn = "KeloManagerUsb::RawReadData";
  CLogScope scope(fn);
  if (!buffer || !count || !HasHandle() || length > static_cast<unsigned>(INT_MAX)) {
    WriteLog(LOG_LEVEL_ERROR, fn, "invalid parameter or device not open");
    return -1;
  }
  const KELO_USB_DEVICE& dev = m_tKeloDev[m_iCurIndex];
  int got = 0;
  int result = libusb_bulk_transfer(dev.ptHandle, static_cast<unsigned char>(dev.iInEndpoint), buffer,
                                    static_cast<int>(length), &got, static_cast<unsigned>(m_iTimeOut));
  if (result != 0 || static_cast<unsigned>(got) != length) {
    WriteLog(LOG_LEVEL_ERROR, fn, "failed");
    return -1;
  }
  *count = static_cast<unsigned>(got);
  return 0;
}

int KeloManagerUsb::SendControlMsg(unsigned char* buffer, unsigned int length) {
  const char* fn = "KeloManagerUsb::SendControlMsg";
  CLogScope scope(fn);
  // The length field is 16 bits: a longer buffer would go out cut short.
  if (!HasHandle() || length > 0xFFFF || (!buffer && length > 0)) {
    WriteLog(LOG_LEVEL_ERROR, fn, "invalid parameter or device not open");
    return -1;
  }
  int result = libusb_control_transfer(m_tKeloDev[m_iCurIndex].ptHandle, 0x40, 4, 0, 0, buffer,
                                       static_cast<uint16_t>(length), static_cast<unsigned>(m_iTimeOut));
  if (result < 0 || static_cast<unsigned>(result) != length) {
    WriteLog(LOG_LEVEL_ERROR, fn, "iResult != 0");
    return -1;
  }
  return 0;
}

bool KeloManagerUsb::InitSystemToolPath() {
  const char* fn = "KeloManagerUsb::InitSystemToolPath";
  CLogScope scope(fn);
  bool ps = FindSystemTool("ps", m_szPsPath);
  if (!ps) WriteLog(LOG_LEVEL_ERROR, fn, "system command 'ps' is not found");
  bool grep = FindSystemTool("grep", m_szGrepPath);
  if (!grep) WriteLog(LOG_LEVEL_ERROR, fn, "system command 'grep' is not found");
  return ps && grep;
}

int KeloManagerUsb::StartExcusive(const char* devName) {
  if (!devName) devName = m_tKeloDev[m_iCurIndex].sscDevName;
  return CreateControlFile(devName);
}

bool KeloManagerUsb::EndExcusive(const char* devName) {
  if (!devName) devName = m_tKeloDev[m_iCurIndex].sscDevName;
  return DeleteControlFile(devName);
}
