#include "scanner_ctrl.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "config_file.h"
#include "system_tools.h"

namespace devwatch {
namespace {

constexpr uint32_t kOutEndpoint = 0x02;
constexpr uint32_t kInEndpoint = 0x81;
constexpr size_t kCommandBlockSize = 31;
constexpr size_t kCdbOffset = 19;
constexpr size_t kMaxCdb = kCommandBlockSize - kCdbOffset;
constexpr size_t kStatusBlockSize = 13;

bool ListedClass(uint8_t cls) { return cls == 0x00 || cls == 0x06 || cls == 0xFF; }

}  // namespace

CMqScannerCtrl::CMqScannerCtrl(uint32_t& lastError)
    : m_tDevices(new (std::nothrow) MQ_DEVICE_ENTRY[MQ_MAX_DEVICES]()), m_Brenna(*this), m_Selko2(*this, lastError) {
  GetDeviceList();
}

CMqScannerCtrl::~CMqScannerCtrl() {
  DoDeviceClose();
  m_tTable.ReleaseShareMemory();
  FreeDeviceList();
  if (m_bLibusbStarted) libusb_exit(nullptr);
}

void CMqScannerCtrl::FreeDeviceList() {
  if (m_ptUsbList) libusb_free_device_list(m_ptUsbList, 1);
  m_ptUsbList = nullptr;
}

int CMqScannerCtrl::GetDeviceList() {
  // Runs when the library loads, where no exception may escape.
  try {
    return BuildDeviceList();
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int CMqScannerCtrl::BuildDeviceList() {
  if (!m_tDevices) return 0;
  std::vector<kelo_cfg_info> pairs;
  if (SaveConfigFile(&pairs) != 0) return 0;
  if (pairs.size() > MQ_MAX_CONFIG_PAIRS) pairs.resize(MQ_MAX_CONFIG_PAIRS);
  if (!m_bLibusbStarted) {
    if (libusb_init(nullptr) != 0) return 0;
    m_bLibusbStarted = true;
  }
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(nullptr, &list);
  if (count < 0) return 0;

  // The libusb list is freed on every way out until the table owns it.
  std::unique_ptr<libusb_device*, void (*)(libusb_device**)> owned(
      list, [](libusb_device** l) { libusb_free_device_list(l, 1); });
  std::vector<MQ_DEVICE_ENTRY> found;
  for (ssize_t d = 0; d < count; ++d) {
    libusb_device* dev = list[d];
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(dev, &desc) != 0) continue;
    for (uint8_t c = 0; c < desc.bNumConfigurations; ++c) {
      libusb_config_descriptor* config = nullptr;
      if (libusb_get_config_descriptor(dev, c, &config) != 0) continue;
      std::unique_ptr<libusb_config_descriptor, void (*)(libusb_config_descriptor*)> ownedConfig(
          config, libusb_free_config_descriptor);
      for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& intf = config->interface[i];
        for (int a = 0; a < intf.num_altsetting; ++a) {
          if (!ListedClass(intf.altsetting[a].bInterfaceClass)) continue;
          for (const kelo_cfg_info& pair : pairs) {
            if (pair.iVendorId != desc.idVendor || pair.iProductId != desc.idProduct) continue;
            const KELO_DEVICE_OPTION_CONTROL* row = GetDevCtlByDevInfo(desc.idVendor, desc.idProduct);
            if (!row) continue;
            MQ_DEVICE_ENTRY e{};
            snprintf(e.szDevName, sizeof e.szDevName, "%s:%03u:%03u", row->pszModel, libusb_get_bus_number(dev),
                     libusb_get_device_address(dev));
            e.pszType = row->pszType;
            e.dwVendorId = row->dwVendorId;
            e.dwProductId = row->dwProductId;
            e.pszVendor = row->pszVendor;
            e.pszModel = row->pszModel;
            e.dwOutEndpoint = kOutEndpoint;
            e.dwInEndpoint = kInEndpoint;
            e.ptDevice = dev;
            e.iConfigIndex = c;
            e.iInterfaceNumber = i;
            e.eRoute = row->eRoute;
            found.push_back(e);
          }
        }
      }
    }
  }

  // The new list replaces the old one: a device still open on the old list
  // is closed first, or its handle would be lost.
  DoDeviceClose();
  FreeDeviceList();
  m_ptUsbList = owned.release();
  std::reverse(found.begin(), found.end());  // the interface found last is entry 0
  m_iDevCount = static_cast<int>(std::min<size_t>(found.size(), MQ_MAX_DEVICES));
  std::copy(found.begin(), found.begin() + m_iDevCount, m_tDevices.get());
  m_iCurIndex = 0;
  return 1;
}

const char* CMqScannerCtrl::GetDeviceName(int index) const {
  if (index < 0 || index >= m_iDevCount) return nullptr;
  return m_tDevices[index].szDevName;
}

const char* CMqScannerCtrl::GetCurrentDeviceName() const { return GetDeviceName(m_iCurIndex); }

const MQ_DEVICE_ENTRY* CMqScannerCtrl::CurrentEntry() const {
  if (m_iCurIndex < 0 || m_iCurIndex >= m_iDevCount) return nullptr;
  return &m_tDevices[m_iCurIndex];
}

WatchRoute CMqScannerCtrl::CurrentRoute() const {
  const MQ_DEVICE_ENTRY* e = CurrentEntry();
  return e ? e->eRoute : WatchRoute::Generic;
}

int CMqScannerCtrl::Find(const char* text) {
  if (!text) return -1;
  for (int i = 0; i < m_iDevCount; ++i) {
    const char* name = m_tDevices[i].szDevName;
    if (strncmp(name, text, strlen(name)) == 0) {
      m_iCurIndex = i;
      m_Selko2.SetDeviceName(name);
      return i;
    }
  }
  return -1;
}

int CMqScannerCtrl::OpenFirstDevice() {
  for (int i = 0; i < m_iDevCount; ++i) {
    m_iCurIndex = i;
    m_Selko2.SetDeviceName(m_tDevices[i].szDevName);
    if (DoDeviceOpen() == 0) return 1;
  }
  return 0;
}

bool CMqScannerCtrl::IsOpen() const {
  const MQ_DEVICE_ENTRY* e = CurrentEntry();
  return e && e->ptHandle;
}

int CMqScannerCtrl::DoDeviceOpen() {
  if (m_iCurIndex < 0 || m_iCurIndex >= m_iDevCount) return LIBUSB_ERROR_NOT_FOUND;
  MQ_DEVICE_ENTRY& e = m_tDevices[m_iCurIndex];
  if (e.ptHandle) return 0;
  errno = 0;
  libusb_device_handle* handle = nullptr;
  int r = libusb_open(e.ptDevice, &handle);
  if (r == 0) {
    r = libusb_claim_interface(handle, e.iInterfaceNumber);
    if (r == 0) {
      e.ptHandle = handle;
      return 0;
    }
    int saved = errno;
    libusb_close(handle);
    errno = saved;
  }
  return errno == EBUSY || r == LIBUSB_ERROR_BUSY ? -3 : r;
}

void CMqScannerCtrl::GiveBackSelko2Lock() {
  if (m_Selko2.IsLocked() && IsOpen() && CurrentRoute() == WatchRoute::Selko2) m_Selko2.UnLockScanner();
}

void CMqScannerCtrl::CloseDevice() {
  GiveBackSelko2Lock();
  DoDeviceClose();
}

void CMqScannerCtrl::DoDeviceClose() {
  for (int i = 0; i < m_iDevCount; ++i) {
    MQ_DEVICE_ENTRY& e = m_tDevices[i];
    if (!e.ptHandle) continue;
    libusb_release_interface(e.ptHandle, e.iInterfaceNumber);
    libusb_close(e.ptHandle);
    e.ptHandle = nullptr;
  }
}

// --- transfers -------------------------------------------------------------

int CMqScannerCtrl::RawWriteData(const void* buffer, unsigned length) {
  const MQ_DEVICE_ENTRY* e = CurrentEntry();
  if (!e || !e->ptHandle || !buffer || length > static_cast<unsigned>(INT32_MAX)) return 0;
  int actual = 0;
  int r = libusb_bulk_transfer(e->ptHandle, static_cast<unsigned char>(e->dwOutEndpoint),
                               static_cast<unsigned char*>(const_cast<void*>(buffer)), static_cast<int>(length),
                               &actual, m_dwTimeOut);
  return r == 0 && actual == static_cast<int>(length) ? 1 : 0;
}

int CMqScannerCtrl::RawReadData(void* buffer, unsigned length, unsigned* count) {
  const MQ_DEVICE_ENTRY* e = CurrentEntry();
  if (!e || !e->ptHandle || !buffer || length > static_cast<unsigned>(INT32_MAX)) return 0;
  int actual = 0;
  int r = libusb_bulk_transfer(e->ptHandle, static_cast<unsigned char>(e->dwInEndpoint),
                               static_cast<unsigned char*>(buffer), static_cast<int>(length), &actual, m_dwTimeOut);
  if (r != 0 || actual != static_cast<int>(length)) return 0;
  if (count) *count = static_cast<unsigned>(actual);
  return 1;
}

int CMqScannerCtrl::RawWriteCommand(const void* cdb, unsigned length) {
  if (!cdb || length > kMaxCdb) return 0;
  unsigned char block[kCommandBlockSize] = {};
  block[0] = 'C';
  memcpy(block + kCdbOffset, cdb, length);
  return RawWriteData(block, sizeof block);
}

int CMqScannerCtrl::RawReadStatus(void* status) {
  unsigned char block[kStatusBlockSize] = {};
  unsigned count = 0;
  if (!RawReadData(block, sizeof block, &count) || block[0] != 'S') return 0;
  if (status) *static_cast<unsigned char*>(status) = block[9] & 0x3E;
  return 1;
}

int CMqScannerCtrl::SendControlMsg(unsigned char* buffer, unsigned length) {
  const MQ_DEVICE_ENTRY* e = CurrentEntry();
  if (!e || !e->ptHandle || length > 0xFFFF) return 0;
  int r = libusb_control_transfer(e->ptHandle, 0x40, 4, 0, 0, buffer, static_cast<uint16_t>(length), m_dwTimeOut);
  return r == static_cast<int>(length) ? 1 : 0;
}

bool CMqScannerCtrl::BulkOut(const unsigned char* data, uint32_t length) { return RawWriteData(data, length) == 1; }

int CMqScannerCtrl::BulkIn(unsigned char* data, uint32_t length) {
  const MQ_DEVICE_ENTRY* e = CurrentEntry();
  if (!e || !e->ptHandle || length > static_cast<uint32_t>(INT32_MAX)) return LIBUSB_ERROR_NO_DEVICE;
  int actual = 0;
  int r = libusb_bulk_transfer(e->ptHandle, static_cast<unsigned char>(e->dwInEndpoint), data, static_cast<int>(length),
                               &actual, m_dwTimeOut);
  return actual > 0 ? actual : (r != 0 ? r : LIBUSB_ERROR_IO);
}

bool CMqScannerCtrl::ResetPipe() {
  const MQ_DEVICE_ENTRY* e = CurrentEntry();
  return e && e->ptHandle && libusb_reset_device(e->ptHandle) == 0;
}

bool CMqScannerCtrl::SendBlock(unsigned char* block) { return SendControlMsg(block, BRENNA_BLOCK_SIZE) == 1; }

bool CMqScannerCtrl::BulkIn(unsigned char* data, uint32_t length, uint32_t* count) {
  unsigned got = 0;
  const bool ok = RawReadData(data, length, &got) == 1;
  *count = got;
  return ok;
}

// --- system tools ------------------------------------------------------------

int CMqScannerCtrl::InitSystemToolPath() {
  bool ps = FindSystemTool("ps", m_szPsPath);
  bool grep = FindSystemTool("grep", m_szGrepPath);
  return ps && grep ? 1 : grep ? 0 : ps ? -1 : -2;
}

}  // namespace devwatch
