#include "descriptors.h"

namespace dravn_sim {
namespace {

constexpr uint16_t kBulkPacketSize = 512;
constexpr uint16_t kInterruptPacketSize = 64;
constexpr int kEndpointCount = 3;
constexpr int kMaxInterfaces = 8;
constexpr uint16_t kInterfaceTotalLength = LIBUSB_DT_INTERFACE_SIZE + kEndpointCount * LIBUSB_DT_ENDPOINT_SIZE;

// One allocation for the whole tree that libusb_get_config_descriptor
// hands out; the configuration comes first so that its address frees all.
struct ConfigBlock {
  libusb_config_descriptor config;
  libusb_interface interface[kMaxInterfaces];
  libusb_interface_descriptor altsetting[kMaxInterfaces];
  libusb_endpoint_descriptor endpoints[kEndpointCount];
};

void FillEndpoint(libusb_endpoint_descriptor* ep, uint8_t address) {
  *ep = {};
  ep->bLength = LIBUSB_DT_ENDPOINT_SIZE;
  ep->bDescriptorType = LIBUSB_DT_ENDPOINT;
  ep->bEndpointAddress = address;
  bool interrupt = address == kInterruptInEndpoint;
  ep->bmAttributes = interrupt ? LIBUSB_TRANSFER_TYPE_INTERRUPT : LIBUSB_TRANSFER_TYPE_BULK;
  ep->wMaxPacketSize = interrupt ? kInterruptPacketSize : kBulkPacketSize;
  ep->bInterval = interrupt ? 8 : 0;
}

void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v & 0xFF));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

void SimDeviceDescriptor(const SimDeviceSpec& spec, libusb_device_descriptor* desc) {
  *desc = {};
  desc->bLength = LIBUSB_DT_DEVICE_SIZE;
  desc->bDescriptorType = LIBUSB_DT_DEVICE;
  desc->bcdUSB = 0x0200;
  desc->bMaxPacketSize0 = 64;
  desc->idVendor = spec.vendorId;
  desc->idProduct = spec.productId;
  desc->bcdDevice = 0x0100;
  desc->iManufacturer = kManufacturerString;
  desc->iProduct = kProductString;
  desc->iSerialNumber = spec.serial.empty() ? 0 : kSerialString;
  desc->bNumConfigurations = 1;
}

std::vector<uint8_t> SimInterfaceClasses(const SimDeviceSpec& spec) {
  std::vector<uint8_t> classes = spec.interfaceClasses;
  if (classes.empty()) classes.push_back(spec.interfaceClass);
  if (classes.size() > kMaxInterfaces) classes.resize(kMaxInterfaces);
  return classes;
}

libusb_config_descriptor* SimNewConfigDescriptor(const SimDeviceSpec& spec) {
  auto* block = new ConfigBlock{};
  std::vector<uint8_t> classes = SimInterfaceClasses(spec);
  libusb_config_descriptor& c = block->config;
  c.bLength = LIBUSB_DT_CONFIG_SIZE;
  c.bDescriptorType = LIBUSB_DT_CONFIG;
  c.wTotalLength = static_cast<uint16_t>(LIBUSB_DT_CONFIG_SIZE + classes.size() * kInterfaceTotalLength);
  c.bNumInterfaces = static_cast<uint8_t>(classes.size());
  c.bConfigurationValue = kConfigurationValue;
  c.bmAttributes = 0xC0;  // self-powered
  c.MaxPower = 1;
  c.interface = block->interface;
  for (size_t i = 0; i < classes.size(); ++i) {
    block->interface[i].altsetting = &block->altsetting[i];
    block->interface[i].num_altsetting = 1;
    libusb_interface_descriptor& alt = block->altsetting[i];
    alt.bLength = LIBUSB_DT_INTERFACE_SIZE;
    alt.bDescriptorType = LIBUSB_DT_INTERFACE;
    alt.bInterfaceNumber = static_cast<uint8_t>(i);
    alt.bNumEndpoints = kEndpointCount;
    alt.bInterfaceClass = classes[i];
    alt.endpoint = block->endpoints;
  }
  FillEndpoint(&block->endpoints[0], kBulkOutEndpoint);
  FillEndpoint(&block->endpoints[1], kBulkInEndpoint);
  FillEndpoint(&block->endpoints[2], kInterruptInEndpoint);
  return &block->config;
}

void SimFreeConfigDescriptor(libusb_config_descriptor* config) { delete reinterpret_cast<ConfigBlock*>(config); }

int SimMaxPacketSize(uint8_t endpoint) {
  switch (endpoint) {
    case kBulkOutEndpoint:
    case kBulkInEndpoint:
      return kBulkPacketSize;
    case kInterruptInEndpoint:
      return kInterruptPacketSize;
    default:
      return LIBUSB_ERROR_NOT_FOUND;
  }
}

bool SimStringText(const SimDeviceSpec& spec, uint8_t index, std::string* text) {
  switch (index) {
    case kManufacturerString:
      *text = spec.manufacturer;
      return true;
    case kProductString:
      *text = spec.product;
      return true;
    case kSerialString:
      *text = spec.serial;
      return !spec.serial.empty();
    default:
      return false;
  }
}

std::vector<uint8_t> SimRawDescriptor(const SimDeviceSpec& spec, uint8_t type, uint8_t index) {
  std::vector<uint8_t> out;
  if (type == LIBUSB_DT_DEVICE && index == 0) {
    libusb_device_descriptor d;
    SimDeviceDescriptor(spec, &d);
    out = {d.bLength, d.bDescriptorType};
    Put16(&out, d.bcdUSB);
    out.insert(out.end(), {d.bDeviceClass, d.bDeviceSubClass, d.bDeviceProtocol, d.bMaxPacketSize0});
    Put16(&out, d.idVendor);
    Put16(&out, d.idProduct);
    Put16(&out, d.bcdDevice);
    out.insert(out.end(), {d.iManufacturer, d.iProduct, d.iSerialNumber, d.bNumConfigurations});
  } else if (type == LIBUSB_DT_CONFIG && index == 0) {
    libusb_config_descriptor* c = SimNewConfigDescriptor(spec);
    out = {c->bLength, c->bDescriptorType};
    Put16(&out, c->wTotalLength);
    out.insert(out.end(), {c->bNumInterfaces, c->bConfigurationValue, c->iConfiguration, c->bmAttributes, c->MaxPower});
    for (int k = 0; k < c->bNumInterfaces; ++k) {
      const libusb_interface_descriptor& a = c->interface[k].altsetting[0];
      out.insert(out.end(), {a.bLength, a.bDescriptorType, a.bInterfaceNumber, a.bAlternateSetting, a.bNumEndpoints,
                             a.bInterfaceClass, a.bInterfaceSubClass, a.bInterfaceProtocol, a.iInterface});
      for (int i = 0; i < a.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& e = a.endpoint[i];
        out.insert(out.end(), {e.bLength, e.bDescriptorType, e.bEndpointAddress, e.bmAttributes});
        Put16(&out, e.wMaxPacketSize);
        out.push_back(e.bInterval);
      }
    }
    SimFreeConfigDescriptor(c);
  } else if (type == LIBUSB_DT_STRING && index == 0) {
    out = {4, LIBUSB_DT_STRING, 0x09, 0x04};  // one language: US English
  } else if (type == LIBUSB_DT_STRING) {
    std::string text;
    if (!SimStringText(spec, index, &text)) return out;
    if (text.size() > 126) text.resize(126);  // bLength is one byte
    out = {static_cast<uint8_t>(2 + 2 * text.size()), LIBUSB_DT_STRING};
    for (unsigned char ch : text) Put16(&out, ch);
  }
  return out;
}

}  // namespace dravn_sim
