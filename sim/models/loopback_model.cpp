// The test device: what bulk OUT receives, bulk IN returns; vendor control
// requests read a fixed pattern, and store and read back bytes (in the
// file named by "state" when set, so they outlive the process).
#include <algorithm>
#include <deque>
#include <vector>

#include "sim_model.h"
#include "state_file.h"

namespace dravn_sim {
namespace {

constexpr uint8_t kVendorIn = LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_DEVICE;
constexpr uint8_t kVendorOut = LIBUSB_ENDPOINT_OUT | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_DEVICE;
constexpr uint8_t kPatternRequest = 0x01;
constexpr uint8_t kStoredRequest = 0x02;

class LoopbackModel : public SimDeviceModel {
 public:
  explicit LoopbackModel(const SimDeviceSpec& spec) : SimDeviceModel(spec), m_stored(Param("state")) {}

  int BulkOut(const uint8_t* data, int length) override {
    m_echo.insert(m_echo.end(), data, data + length);
    return length;
  }

  // Nothing stored: the device has nothing to send and the host times out.
  int BulkIn(uint8_t* data, int length) override {
    if (m_echo.empty()) return LIBUSB_ERROR_TIMEOUT;
    int n = std::min(length, static_cast<int>(m_echo.size()));
    std::copy(m_echo.begin(), m_echo.begin() + n, data);
    m_echo.erase(m_echo.begin(), m_echo.begin() + n);
    return n;
  }

  int Control(const SimControlSetup& setup, uint8_t* data, int length) override {
    if (setup.requestType == kVendorIn && setup.request == kPatternRequest) {
      for (int i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(0xA5 + i);
      return length;
    }
    if (setup.requestType == kVendorIn && setup.request == kStoredRequest) {
      auto bytes = m_stored.Load();
      int n = std::min(length, static_cast<int>(bytes.size()));
      std::copy(bytes.begin(), bytes.begin() + n, data);
      return n;
    }
    if (setup.requestType == kVendorOut) {
      m_stored.Save(std::vector<uint8_t>(data, data + length));
      return length;
    }
    return LIBUSB_ERROR_PIPE;
  }

 private:
  std::deque<uint8_t> m_echo;
  SimStateFile m_stored;
};

DRAVN_SIM_MODEL("loopback", LoopbackModel)

}  // namespace
}  // namespace dravn_sim
