// The daemon's device table and its list of attached, configured scanners.
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config_file.h"
#include "model_catalog.h"
#include "scan_manager.h"

namespace {

constexpr const char kVendor[] = "MORANTI";
constexpr const char kType[] = "scanner";
constexpr int kMaxConfigPairs = 100;

constexpr KELO_DEVICE_OPTION_CONTROL Row(const dravn::CatalogModel& m, int type) {
  return {static_cast<uint32_t>(m.vendorId), static_cast<uint32_t>(m.productId), kVendor, kType, m.model, type};
}

bool QualifyingClass(uint8_t c) { return c == 0 || c == 6 || c == 255; }

struct Candidate {
  std::string name;
  const KELO_DEVICE_OPTION_CONTROL* row;
  libusb_device* device;
  int config;
  int interface;
};

// Every (device, configured pair, qualifying interface setting) match, in
// the walk's order; a configured pair counts once however often it is
// listed.
std::vector<Candidate> Walk(libusb_device** list) {
  std::vector<kelo_cfg_info> pairs;
  std::vector<Candidate> found;
  if (SaveConfigFile(&pairs) != 0) return found;
  if (pairs.size() > kMaxConfigPairs) pairs.resize(kMaxConfigPairs);
  for (libusb_device** d = list; d && *d; ++d) {
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(*d, &desc) != 0) continue;
    int index = 0;
    const KELO_DEVICE_OPTION_CONTROL* row = GetDevCtlByDevInfo(desc.idVendor, desc.idProduct, &index);
    if (!row) continue;
    bool configured = false;
    for (const auto& p : pairs) configured |= p.iVendorId == desc.idVendor && p.iProductId == desc.idProduct;
    if (!configured) continue;
    char name[64];
    snprintf(name, sizeof name, "%s:%03u:%03u", row->pszModel, libusb_get_bus_number(*d),
             libusb_get_device_address(*d));
    for (int c = 0; c < desc.bNumConfigurations; ++c) {
      libusb_config_descriptor* cfg = nullptr;
      if (libusb_get_config_descriptor(*d, static_cast<uint8_t>(c), &cfg) != 0 || !cfg) continue;
      for (int i = 0; i < cfg->bNumInterfaces; ++i)
        for (int a = 0; a < cfg->interface[i].num_altsetting; ++a)
          if (QualifyingClass(cfg->interface[i].altsetting[a].bInterfaceClass))
            found.push_back({name, row, *d, c, cfg->interface[i].altsetting[a].bInterfaceNumber});
      libusb_free_config_descriptor(cfg);
    }
  }
  return found;
}

bool EnsureContext() { return g_ptUsbContext || libusb_init(&g_ptUsbContext) == 0; }

ACTIVE_DEVICE MakeRecord(const Candidate& c) {
  ACTIVE_DEVICE r{};
  r.pszDevName = strdup(c.name.c_str());
  r.pszType = c.row->pszType;
  r.dwVendorId = c.row->dwVendorId;
  r.dwProductId = c.row->dwProductId;
  r.pszVendor = c.row->pszVendor;
  r.pszModel = c.row->pszModel;
  r.dwBulkOut = 0x02;
  r.dwBulkIn = 0x81;
  r.dwIntIn = 0x83;
  r.ptDevice = c.device;
  r.iConfig = c.config;
  r.iInterface = c.interface;
  r.iDeviceType = c.row->iDeviceType;
  return r;
}

}  // namespace

const KELO_DEVICE_OPTION_CONTROL g_tDeviceTable[DEVICE_TABLE_ROWS] = {
    Row(dravn::kDocuvaneModels[0], 22), Row(dravn::kDocuvaneModels[1], 23), Row(dravn::kDocuvaneModels[2], 24),
    Row(dravn::kSelkoModels[0], 30),    Row(dravn::kSelkoModels[1], 31),    Row(dravn::kSelkoModels[2], 32),
    Row(dravn::kBrennaModels[0], 33),   Row(dravn::kSelko2Models[0], 34),   Row(dravn::kSelko2Models[1], 35),
    Row(dravn::kSelko2Models[2], 36),
};

ButtonKind ButtonKindOf(int deviceType) {
  if (deviceType >= 30 && deviceType <= 32) return BUTTON_BY_INTERRUPT;
  if (deviceType == 33) return BUTTON_BY_INTERRUPT_EVENT;
  if (deviceType >= 34 && deviceType <= 36) return BUTTON_BY_COMMAND;
  return BUTTON_BY_HARDWARE_STATUS;
}

bool NeedsFirstReadDate(int deviceType) { return deviceType >= 22 && deviceType <= 24; }

const KELO_DEVICE_OPTION_CONTROL* GetDevCtlByDevInfo(uint32_t vendorId, uint32_t productId, int* index) {
  for (int i = 0; i < DEVICE_TABLE_ROWS; ++i) {
    if (g_tDeviceTable[i].dwVendorId == vendorId && g_tDeviceTable[i].dwProductId == productId) {
      if (index) *index = i;
      return &g_tDeviceTable[i];
    }
  }
  return nullptr;
}

ACTIVE_DEVICE g_taActiveDevList[ACTIVE_DEVICE_MAX];
int g_iDeviceNum = 0;
libusb_context* g_ptUsbContext = nullptr;
libusb_device** g_tpUsbDeviceList = nullptr;

int GetDeviceList(int* count) {
  if (count) *count = 0;
  std::vector<kelo_cfg_info> probe;
  if (SaveConfigFile(&probe) != 0) return 0;
  if (!EnsureContext()) return 0;
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(g_ptUsbContext, &list);
  if (n <= 0) {
    if (list) libusb_free_device_list(list, 1);
    return 0;
  }
  // The old list's device references stay valid until the records that
  // point at them have been replaced.
  libusb_device** previous = g_tpUsbDeviceList;
  g_tpUsbDeviceList = list;

  std::vector<Candidate> found = Walk(list);
  std::vector<ACTIVE_DEVICE> merged;
  for (int i = 0; i < ACTIVE_DEVICE_MAX; ++i) {
    ACTIVE_DEVICE& old = g_taActiveDevList[i];
    if (!old.pszDevName) continue;
    const Candidate* again = nullptr;
    for (const auto& c : found)
      if (c.name == old.pszDevName) {
        again = &c;
        break;
      }
    if (again) {
      ACTIVE_DEVICE r = MakeRecord(*again);
      // An open handle stays with its record: dropping it would leave the
      // interface claimed and every backend answered "busy".
      r.ptHandle = old.ptHandle;
      if (old.ptHandle) r.iInterface = old.iInterface;
      merged.push_back(r);
    } else if (old.ptHandle) {
      libusb_release_interface(old.ptHandle, old.iInterface);
      libusb_close(old.ptHandle);
    }
    free(old.pszDevName);
    old = ACTIVE_DEVICE{};
  }
  for (const auto& c : found) {
    bool listed = false;
    for (const auto& r : merged) listed |= c.name == r.pszDevName;
    if (!listed && merged.size() < ACTIVE_DEVICE_MAX) merged.push_back(MakeRecord(c));
  }
  for (size_t i = 0; i < merged.size(); ++i) g_taActiveDevList[i] = merged[i];
  g_iDeviceNum = static_cast<int>(merged.size());
  if (previous) libusb_free_device_list(previous, 1);
  if (count) *count = g_iDeviceNum;
  return g_iDeviceNum > 0 ? 1 : 0;
}

int GetDeviceNumber() {
  std::vector<kelo_cfg_info> probe;
  if (SaveConfigFile(&probe) != 0 || !EnsureContext()) return 0;
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(g_ptUsbContext, &list);
  int count = 0;
  if (n > 0) {
    std::set<std::string> names;
    for (const auto& c : Walk(list)) names.insert(c.name);
    count = static_cast<int>(std::min<size_t>(names.size(), ACTIVE_DEVICE_MAX));
  }
  if (list) libusb_free_device_list(list, 1);
  return count;
}

int DoOpenDevice(int index) {
  ACTIVE_DEVICE& r = g_taActiveDevList[index];
  if (r.ptHandle) return 1;
  if (!r.ptDevice || libusb_open(r.ptDevice, &r.ptHandle) != 0 || !r.ptHandle) {
    r.ptHandle = nullptr;
    return 0;
  }
  if (libusb_claim_interface(r.ptHandle, r.iInterface) != 0) {
    libusb_close(r.ptHandle);
    r.ptHandle = nullptr;
    return -1;
  }
  return 1;
}

void DoReleaseDevice(int index) {
  ACTIVE_DEVICE& r = g_taActiveDevList[index];
  if (!r.ptHandle) return;
  libusb_release_interface(r.ptHandle, r.iInterface);
  libusb_close(r.ptHandle);
  r.ptHandle = nullptr;
}

void DoReleaseAllDevice() {
  // Record 0 is the only one ever opened; a handle is closed whatever the
  // count says, so that no claim outlives the daemon's interest.
  DoReleaseDevice(0);
}

void FreeDeviceList() {
  DoReleaseAllDevice();
  for (auto& r : g_taActiveDevList) {
    free(r.pszDevName);
    r = ACTIVE_DEVICE{};
  }
  g_iDeviceNum = 0;
  if (g_tpUsbDeviceList) {
    libusb_free_device_list(g_tpUsbDeviceList, 1);
    g_tpUsbDeviceList = nullptr;
  }
  if (g_ptUsbContext) {
    libusb_exit(g_ptUsbContext);
    g_ptUsbContext = nullptr;
  }
}
