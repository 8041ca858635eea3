// The simulated devices of a process: each one's model, transfer count,
// injected faults, claim and gone state, shared by every libusb context.
#ifndef DRAVN_SIM_SIM_DEVICE_H
#define DRAVN_SIM_SIM_DEVICE_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scenario.h"
#include "sim_model.h"

namespace dravn_sim {

enum class SimTransferKind { Bulk, Interrupt, Control };

struct SimTransfer {
  SimTransferKind kind;
  uint8_t endpoint = 0;     // bulk and interrupt
  SimControlSetup setup{};  // control
  uint8_t* data = nullptr;
  int length = 0;
  int actual = 0;  // bytes moved, also on failure (a time-out's partial data)
};

class SimDevice {
 public:
  SimDevice(SimDeviceSpec spec, std::unique_ptr<SimDeviceModel> model);
  ~SimDevice();

  const SimDeviceSpec& Spec() const { return m_spec; }
  bool Gone() const;
  int Configuration() const;

  // Each answers 0 or a LIBUSB_ERROR_* code. `sysErrno` receives the errno
  // that goes with a failure (0 when none).
  int Open(int* sysErrno);
  // Closing releases the handle's claim, as libusb_close does.
  void Close(const void* handle);
  int Claim(const void* handle, int interfaceNumber, int* sysErrno);
  int Release(const void* handle, int interfaceNumber);
  int SetConfiguration(const void* handle, int value);
  int SetAltSetting(const void* handle, int interfaceNumber, int alternate);
  // Checks that a device call may go on (not gone).
  int Present() const;
  int Reset();
  // LIBUSB_ERROR_* or 0, with t.actual the bytes moved.
  int Transfer(SimTransfer& t);

 private:
  SimFault* TakeErrnoFault(SimFaultKind kind);
  const SimFault* TransferFault(long k) const;
  int Deliver(SimTransfer& t, int limit);
  int Answer(SimTransfer& t, int limit);
  void Log(const std::string& what) const;
  void LogTransfer(long k, const SimTransfer& t, int result) const;

  const SimDeviceSpec m_spec;
  std::string m_name;  // "bus:address" in the transcript
  std::unique_ptr<SimDeviceModel> m_model;
  std::vector<SimFault> m_faults;  // with the remaining counts of errno faults
  long m_latencyMs = 0;
  mutable std::mutex m_lock;  // held around every model call (the model may drop it in Wait)
  long m_transfers = 0;
  bool m_gone = false;
  const void* m_claimedBy = nullptr;
  int m_configuration = 1;
};

// The devices of the scenario named by DRAVN_SIM, as libusb_init sees it.
// The file is read again only when the variable names another file or the
// file changed: within one process a device keeps its state (transfer
// count, gone) across libusb_exit and libusb_init, as hardware does.
std::vector<std::shared_ptr<SimDevice>> SimScenarioDevices();

}  // namespace dravn_sim

#endif
