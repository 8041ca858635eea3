// The descriptors of every simulated scanner: one configuration with one
// interface of the scenario's class (or one per class of "interfaces="),
// each with the same three endpoints.
#ifndef DRAVN_SIM_DESCRIPTORS_H
#define DRAVN_SIM_DESCRIPTORS_H

#include <libusb.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scenario.h"

namespace dravn_sim {

constexpr uint8_t kBulkOutEndpoint = 0x02;
constexpr uint8_t kBulkInEndpoint = 0x81;
constexpr uint8_t kInterruptInEndpoint = 0x83;
constexpr uint8_t kConfigurationValue = 1;
// String descriptor indexes.
constexpr uint8_t kManufacturerString = 1;
constexpr uint8_t kProductString = 2;
constexpr uint8_t kSerialString = 3;

// The device's interfaces, numbered from 0 in this order.
std::vector<uint8_t> SimInterfaceClasses(const SimDeviceSpec& spec);

void SimDeviceDescriptor(const SimDeviceSpec& spec, libusb_device_descriptor* desc);
// Freed with SimFreeConfigDescriptor.
libusb_config_descriptor* SimNewConfigDescriptor(const SimDeviceSpec& spec);
void SimFreeConfigDescriptor(libusb_config_descriptor* config);
// wMaxPacketSize of an endpoint, or LIBUSB_ERROR_NOT_FOUND.
int SimMaxPacketSize(uint8_t endpoint);
// The text of string descriptor `index`; false when the device has none.
bool SimStringText(const SimDeviceSpec& spec, uint8_t index, std::string* text);
// What a standard GET_DESCRIPTOR request returns; empty when the device has
// no such descriptor (it stalls).
std::vector<uint8_t> SimRawDescriptor(const SimDeviceSpec& spec, uint8_t type, uint8_t index);

}  // namespace dravn_sim

#endif
