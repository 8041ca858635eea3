// What a simulated scanner family implements: one device model per family,
// in sim/models/<family>_model.cpp, registered by family name with
// DRAVN_SIM_MODEL. The core owns descriptors, fault injection, counting and
// the transcript; a model only answers as the family's firmware would.
#ifndef DRAVN_SIM_SIM_MODEL_H
#define DRAVN_SIM_SIM_MODEL_H

#include <libusb.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "scenario.h"

namespace dravn_sim {

struct SimControlSetup {
  uint8_t requestType;
  uint8_t request;
  uint16_t value;
  uint16_t index;
  uint16_t length;  // wLength as the host sent it
};

// One model instance per simulated device, for the life of the process (or
// until DRAVN_SIM names another scenario). The core never calls two of its
// methods at once. Each transfer method gets at most `length` bytes to take
// or fill and answers the byte count (never above `length`) or a
// LIBUSB_ERROR_* code.
class SimDeviceModel {
 public:
  explicit SimDeviceModel(const SimDeviceSpec& spec) : m_spec(spec) {}
  virtual ~SimDeviceModel() = default;
  SimDeviceModel(const SimDeviceModel&) = delete;
  SimDeviceModel& operator=(const SimDeviceModel&) = delete;

  // Hooks of libusb_open/close and claim/release of interface 0; an error
  // code from Open or Claim fails the call.
  virtual int Open() { return 0; }
  virtual void Close() {}
  virtual int Claim() { return 0; }
  virtual void Release() {}
  // libusb_reset_device: a port reset ends whatever exchange was under way
  // (replies not yet read, data a command still waits for); what the device
  // keeps in memory stays.
  virtual void Reset() {}

  virtual int BulkOut(const uint8_t* data, int length) = 0;  // endpoint 0x02
  virtual int BulkIn(uint8_t* data, int length) = 0;         // endpoint 0x81
  // Every control request but the standard GET_DESCRIPTOR, which the core
  // answers. `data` is the host's data (OUT) or the reply buffer (IN).
  virtual int Control(const SimControlSetup&, uint8_t*, int) { return LIBUSB_ERROR_PIPE; }
  // Endpoint 0x83. A device with nothing to report lets the host time out.
  virtual int InterruptIn(uint8_t*, int) { return LIBUSB_ERROR_TIMEOUT; }

 protected:
  const SimDeviceSpec& Spec() const { return m_spec; }
  const std::vector<SimFault>& Faults() const { return m_spec.faults; }
  // The scenario's "set key=value" parameters.
  std::string Param(const std::string& key, const std::string& fallback = "") const;
  // Decimal or 0x-hexadecimal; `fallback` when absent or not a number (a
  // value that is not a number is reported once on standard error).
  long ParamInt(const std::string& key, long fallback) const;
  // One line on standard error about this device's parameters.
  void Report(const std::string& why) const;
  // Sleeps without blocking the device: the application's thread may use
  // the device meanwhile (a page that takes time to come). Only for use
  // inside a transfer method or hook.
  void Wait(std::chrono::milliseconds duration);

 private:
  friend class SimDevice;
  const SimDeviceSpec m_spec;
  std::mutex* m_deviceLock = nullptr;
  mutable std::set<std::string> m_reportedKeys;
};

using SimModelFactory = std::unique_ptr<SimDeviceModel> (*)(const SimDeviceSpec&);

bool SimRegisterModel(const std::string& family, SimModelFactory factory);
bool SimModelKnown(const std::string& family);
// Null, with the reason in `why`, for an unknown family or a model whose
// constructor threw: a model that cannot work with its parameters throws
// std::runtime_error saying why.
std::unique_ptr<SimDeviceModel> SimMakeModel(const SimDeviceSpec& spec, std::string* why);

}  // namespace dravn_sim

// Registers model class `cls` (a plain name, written in the class's own
// namespace) for `family` when the stand-in loads.
#define DRAVN_SIM_MODEL(family, cls)                                                                       \
  [[maybe_unused]] static const bool g_bRegistered##cls = ::dravn_sim::SimRegisterModel(                   \
      family, [](const ::dravn_sim::SimDeviceSpec& spec) -> std::unique_ptr<::dravn_sim::SimDeviceModel> { \
        return std::make_unique<cls>(spec);                                                                \
      });

#endif
