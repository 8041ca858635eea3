// The libusb calls that the simulation answers for real: contexts, device
// lists, descriptors, open and close, interfaces and synchronous transfers.
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "descriptors.h"
#include "sim_device.h"
#include "transcript.h"

using dravn_sim::SimDevice;
using dravn_sim::SimTransfer;
using dravn_sim::SimTransferKind;

struct libusb_context {
  std::vector<libusb_device*> devices;  // one per simulated device, each referenced by the context
  int users = 1;                        // default context: libusb_init calls not yet matched by libusb_exit
};

struct libusb_device {
  std::atomic<int> refs{1};
  std::shared_ptr<SimDevice> sim;
};

struct libusb_device_handle {
  libusb_device* device;
};

namespace {

std::mutex g_contextLock;
libusb_context* g_defaultContext = nullptr;

libusb_context* Resolve(libusb_context* ctx) {
  std::lock_guard<std::mutex> lock(g_contextLock);
  return ctx ? ctx : g_defaultContext;
}

libusb_context* NewContext() {
  dravn_sim::SimTranscriptConfigure();
  auto* ctx = new libusb_context;
  for (auto& sim : dravn_sim::SimScenarioDevices()) {
    auto* dev = new libusb_device;
    dev->sim = sim;
    ctx->devices.push_back(dev);
  }
  return ctx;
}

SimDevice* Sim(libusb_device_handle* h) { return h->device->sim.get(); }

// A rewritten scenario plugs and unplugs devices: each listing takes the
// scenario's devices as they are now, keeping the objects of those that
// stayed (open handles hold their own reference to the ones that left).
void RefreshDevices(libusb_context* ctx) {
  std::vector<libusb_device*> now;
  for (auto& sim : dravn_sim::SimScenarioDevices()) {
    auto kept =
        std::find_if(ctx->devices.begin(), ctx->devices.end(), [&](libusb_device* d) { return d && d->sim == sim; });
    if (kept != ctx->devices.end()) {
      now.push_back(*kept);
      *kept = nullptr;
      continue;
    }
    auto* dev = new libusb_device;
    dev->sim = sim;
    now.push_back(dev);
  }
  for (libusb_device* gone : ctx->devices)
    if (gone) libusb_unref_device(gone);
  ctx->devices.swap(now);
}

// Runs a call that allocates (device lists, transcript lines): no
// exception may reach the application through the C interface.
template <typename Call>
int NoThrow(Call call) {
  try {
    return call();
  } catch (...) {
    return LIBUSB_ERROR_NO_MEM;
  }
}

int SetErrno(int result, int sysErrno) {
  if (result != 0 && sysErrno != 0) errno = sysErrno;
  return result;
}

int Transfer(libusb_device_handle* h, SimTransferKind kind, unsigned char endpoint, unsigned char* data, int length,
             int* actual) {
  if (actual) *actual = 0;
  if (!h || length < 0 || (!data && length > 0)) return LIBUSB_ERROR_INVALID_PARAM;
  SimTransfer t;
  t.kind = kind;
  t.endpoint = endpoint;
  t.data = data;
  t.length = length;
  int result = NoThrow([&] { return Sim(h)->Transfer(t); });
  if (actual) *actual = t.actual;
  return result;
}

}  // namespace

extern "C" {

int libusb_init(libusb_context** ctx) {
  try {
    if (ctx) {
      *ctx = NewContext();
      return 0;
    }
    std::lock_guard<std::mutex> lock(g_contextLock);
    if (g_defaultContext)
      ++g_defaultContext->users;
    else
      g_defaultContext = NewContext();
    return 0;
  } catch (...) {
    return LIBUSB_ERROR_NO_MEM;
  }
}

void libusb_exit(libusb_context* ctx) {
  libusb_context* gone = ctx;
  if (!ctx) {
    std::lock_guard<std::mutex> lock(g_contextLock);
    if (!g_defaultContext || --g_defaultContext->users > 0) return;
    gone = g_defaultContext;
    g_defaultContext = nullptr;
  }
  for (libusb_device* dev : gone->devices) libusb_unref_device(dev);
  delete gone;
}

ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
  ctx = Resolve(ctx);
  if (!ctx || !list) return LIBUSB_ERROR_INVALID_PARAM;
  return NoThrow([&] {
    static std::mutex listing;
    std::lock_guard<std::mutex> lock(listing);
    RefreshDevices(ctx);
    std::vector<libusb_device*> present;
    for (libusb_device* dev : ctx->devices)
      if (!dev->sim->Gone()) present.push_back(dev);
    auto** out = static_cast<libusb_device**>(calloc(present.size() + 1, sizeof(libusb_device*)));
    if (!out) return static_cast<int>(LIBUSB_ERROR_NO_MEM);
    for (size_t i = 0; i < present.size(); ++i) out[i] = libusb_ref_device(present[i]);
    *list = out;
    return static_cast<int>(present.size());
  });
}

void libusb_free_device_list(libusb_device** list, int unref_devices) {
  if (!list) return;
  if (unref_devices)
    for (libusb_device** d = list; *d; ++d) libusb_unref_device(*d);
  free(list);
}

libusb_device* libusb_ref_device(libusb_device* dev) {
  if (dev) dev->refs.fetch_add(1);
  return dev;
}

void libusb_unref_device(libusb_device* dev) {
  if (dev && dev->refs.fetch_sub(1) == 1) delete dev;
}

uint8_t libusb_get_bus_number(libusb_device* dev) { return dev ? dev->sim->Spec().bus : 0; }

uint8_t libusb_get_device_address(libusb_device* dev) { return dev ? dev->sim->Spec().address : 0; }

uint8_t libusb_get_port_number(libusb_device* dev) { return dev ? dev->sim->Spec().port : 0; }

// Every simulated scanner sits on a root port: the path has one element.
int libusb_get_port_numbers(libusb_device* dev, uint8_t* port_numbers, int port_numbers_len) {
  if (!dev || !port_numbers || port_numbers_len <= 0) return LIBUSB_ERROR_OVERFLOW;
  port_numbers[0] = dev->sim->Spec().port;
  return 1;
}

int libusb_get_port_path(libusb_context*, libusb_device* dev, uint8_t* path, uint8_t path_length) {
  return libusb_get_port_numbers(dev, path, path_length);
}

libusb_device* libusb_get_parent(libusb_device*) { return nullptr; }

int libusb_get_device_speed(libusb_device*) { return LIBUSB_SPEED_HIGH; }

int libusb_get_max_packet_size(libusb_device* dev, unsigned char endpoint) {
  return dev ? dravn_sim::SimMaxPacketSize(endpoint) : LIBUSB_ERROR_INVALID_PARAM;
}

int libusb_get_max_iso_packet_size(libusb_device* dev, unsigned char endpoint) {
  return libusb_get_max_packet_size(dev, endpoint);
}

int libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc) {
  if (!dev || !desc) return LIBUSB_ERROR_INVALID_PARAM;
  dravn_sim::SimDeviceDescriptor(dev->sim->Spec(), desc);
  return 0;
}

int libusb_get_config_descriptor(libusb_device* dev, uint8_t config_index, struct libusb_config_descriptor** config) {
  if (!dev || !config) return LIBUSB_ERROR_INVALID_PARAM;
  if (config_index != 0) return LIBUSB_ERROR_NOT_FOUND;
  *config = dravn_sim::SimNewConfigDescriptor(dev->sim->Spec());
  return 0;
}

int libusb_get_active_config_descriptor(libusb_device* dev, struct libusb_config_descriptor** config) {
  if (!dev || !config) return LIBUSB_ERROR_INVALID_PARAM;
  if (dev->sim->Configuration() != dravn_sim::kConfigurationValue) return LIBUSB_ERROR_NOT_FOUND;
  return libusb_get_config_descriptor(dev, 0, config);
}

int libusb_get_config_descriptor_by_value(libusb_device* dev, uint8_t bConfigurationValue,
                                          struct libusb_config_descriptor** config) {
  if (bConfigurationValue != dravn_sim::kConfigurationValue) return LIBUSB_ERROR_NOT_FOUND;
  return libusb_get_config_descriptor(dev, 0, config);
}

void libusb_free_config_descriptor(struct libusb_config_descriptor* config) {
  if (config) dravn_sim::SimFreeConfigDescriptor(config);
}

int libusb_open(libusb_device* dev, libusb_device_handle** dev_handle) {
  if (!dev || !dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  auto* handle = new (std::nothrow) libusb_device_handle{dev};
  if (!handle) return LIBUSB_ERROR_NO_MEM;
  int sysErrno = 0;
  int result = NoThrow([&] { return dev->sim->Open(&sysErrno); });
  if (result != 0) {
    delete handle;
    return SetErrno(result, sysErrno);
  }
  libusb_ref_device(dev);
  *dev_handle = handle;
  return 0;
}

void libusb_close(libusb_device_handle* dev_handle) {
  if (!dev_handle) return;
  Sim(dev_handle)->Close(dev_handle);
  libusb_unref_device(dev_handle->device);
  delete dev_handle;
}

libusb_device* libusb_get_device(libusb_device_handle* dev_handle) { return dev_handle ? dev_handle->device : nullptr; }

libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t vendor_id, uint16_t product_id) {
  libusb_device** list = nullptr;
  if (libusb_get_device_list(ctx, &list) < 0) return nullptr;
  libusb_device_handle* handle = nullptr;
  for (libusb_device** d = list; *d; ++d) {
    const auto& spec = (*d)->sim->Spec();
    if (spec.vendorId == vendor_id && spec.productId == product_id) {
      if (libusb_open(*d, &handle) != 0) handle = nullptr;
      break;
    }
  }
  libusb_free_device_list(list, 1);
  return handle;
}

int libusb_get_configuration(libusb_device_handle* dev_handle, int* config) {
  if (!dev_handle || !config) return LIBUSB_ERROR_INVALID_PARAM;
  if (int r = Sim(dev_handle)->Present()) return r;
  *config = Sim(dev_handle)->Configuration();
  return 0;
}

int libusb_set_configuration(libusb_device_handle* dev_handle, int configuration) {
  if (!dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  return Sim(dev_handle)->SetConfiguration(dev_handle, configuration);
}

int libusb_claim_interface(libusb_device_handle* dev_handle, int interface_number) {
  if (!dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  int sysErrno = 0;
  int result = NoThrow([&] { return Sim(dev_handle)->Claim(dev_handle, interface_number, &sysErrno); });
  return SetErrno(result, sysErrno);
}

int libusb_release_interface(libusb_device_handle* dev_handle, int interface_number) {
  if (!dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  return Sim(dev_handle)->Release(dev_handle, interface_number);
}

int libusb_set_interface_alt_setting(libusb_device_handle* dev_handle, int interface_number, int alternate_setting) {
  if (!dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  return Sim(dev_handle)->SetAltSetting(dev_handle, interface_number, alternate_setting);
}

int libusb_clear_halt(libusb_device_handle* dev_handle, unsigned char endpoint) {
  if (!dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  if (int r = Sim(dev_handle)->Present()) return r;
  return dravn_sim::SimMaxPacketSize(endpoint) < 0 ? LIBUSB_ERROR_NOT_FOUND : 0;
}

int libusb_reset_device(libusb_device_handle* dev_handle) {
  return dev_handle ? Sim(dev_handle)->Reset() : LIBUSB_ERROR_INVALID_PARAM;
}

// No kernel driver ever holds a simulated scanner.
int libusb_kernel_driver_active(libusb_device_handle* dev_handle, int interface_number) {
  if (!dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  if (int r = Sim(dev_handle)->Present()) return r;
  return interface_number == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_detach_kernel_driver(libusb_device_handle* dev_handle, int interface_number) {
  int r = libusb_kernel_driver_active(dev_handle, interface_number);
  return r < 0 ? r : 0;
}

int libusb_attach_kernel_driver(libusb_device_handle* dev_handle, int interface_number) {
  return libusb_detach_kernel_driver(dev_handle, interface_number);
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle* dev_handle, int) {
  return dev_handle ? 0 : LIBUSB_ERROR_INVALID_PARAM;
}

int libusb_bulk_transfer(libusb_device_handle* dev_handle, unsigned char endpoint, unsigned char* data, int length,
                         int* actual_length, unsigned int) {
  return Transfer(dev_handle, SimTransferKind::Bulk, endpoint, data, length, actual_length);
}

int libusb_interrupt_transfer(libusb_device_handle* dev_handle, unsigned char endpoint, unsigned char* data, int length,
                              int* actual_length, unsigned int) {
  return Transfer(dev_handle, SimTransferKind::Interrupt, endpoint, data, length, actual_length);
}

int libusb_control_transfer(libusb_device_handle* dev_handle, uint8_t request_type, uint8_t bRequest, uint16_t wValue,
                            uint16_t wIndex, unsigned char* data, uint16_t wLength, unsigned int) {
  if (!dev_handle || (!data && wLength > 0)) return LIBUSB_ERROR_INVALID_PARAM;
  SimTransfer t;
  t.kind = SimTransferKind::Control;
  t.setup = {request_type, bRequest, wValue, wIndex, wLength};
  t.data = data;
  t.length = wLength;
  int result = NoThrow([&] { return Sim(dev_handle)->Transfer(t); });
  return result < 0 ? result : t.actual;
}

// Answered from the scenario without counting as a transfer: fault indexes
// then follow the transfers that the code under test makes itself.
int libusb_get_string_descriptor_ascii(libusb_device_handle* dev_handle, uint8_t desc_index, unsigned char* data,
                                       int length) {
  if (!dev_handle || !data || length <= 0 || desc_index == 0) return LIBUSB_ERROR_INVALID_PARAM;
  if (int r = Sim(dev_handle)->Present()) return r;
  std::string text;
  if (!dravn_sim::SimStringText(Sim(dev_handle)->Spec(), desc_index, &text)) return LIBUSB_ERROR_PIPE;
  int n = std::min(static_cast<int>(text.size()), length - 1);
  memcpy(data, text.data(), static_cast<size_t>(n));
  data[n] = 0;
  return n;
}

}  // extern "C"
