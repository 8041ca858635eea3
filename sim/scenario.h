// The scenario file named by DRAVN_SIM: which simulated scanners exist and
// what goes wrong with them (format in README.md).
#ifndef DRAVN_SIM_SCENARIO_H
#define DRAVN_SIM_SCENARIO_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dravn_sim {

enum class SimFaultKind {
  OpenErrno,   // libusb_open fails with the errno's libusb error
  ClaimErrno,  // libusb_claim_interface fails likewise
  Fail,        // transfer k: LIBUSB_ERROR_IO, nothing moves
  Short,       // transfer k moves only `bytes` bytes and succeeds
  Stall,       // transfer k: LIBUSB_ERROR_PIPE, nothing moves
  Timeout,     // transfer k: LIBUSB_ERROR_TIMEOUT after `bytes` bytes moved
  Gone,        // from transfer k on: LIBUSB_ERROR_NO_DEVICE, device unlisted
  Hold,        // transfer k waits while the file `path` exists, then goes on
};

struct SimFault {
  SimFaultKind kind;
  long transfer = 0;  // transfer faults: the device's k-th transfer, from 1
  int bytes = 0;      // Short and Timeout
  int sysErrno = 0;   // OpenErrno and ClaimErrno
  int times = -1;     // OpenErrno and ClaimErrno: how many calls fail; -1 every one
  std::string path;   // Hold
  int line = 0;       // scenario line, for messages
};

struct SimDeviceSpec {
  std::string family;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t bus = 1;
  uint8_t address = 0;
  uint8_t port = 0;
  uint8_t interfaceClass = 0xFF;
  // "interfaces=": one interface of each class, in order (empty: one of
  // interfaceClass).
  std::vector<uint8_t> interfaceClasses;
  std::string manufacturer;
  std::string product;
  std::string serial;  // empty: the device has no serial number string
  std::map<std::string, std::string> params;
  std::vector<SimFault> faults;
  int line = 0;
};

// Parses a scenario. Bad lines are skipped and described in `messages`
// ("<name>:<line>: <why>"); a device line that is skipped takes its set and
// fault lines with it. A family must be registered (sim_model.h).
std::vector<SimDeviceSpec> SimParseScenario(const std::string& text, const std::string& name,
                                            std::vector<std::string>* messages);

// The libusb error code that the Linux libusb backend gives for errno `e`.
int SimErrnoToLibusb(int e);

}  // namespace dravn_sim

#endif
