// A device of another family whose answers are changed as a file says: the
// fuzz targets' way to put their bytes into a device's replies. The inner
// family's model answers every transfer as usual; the file then replaces,
// patches, shortens or fails chosen IN transfers (bulk, control and
// interrupt IN, counted together from 0).
//
// Parameters:
//   family=<name>   the family whose model answers (required)
//   replies=<path>  the changes, read when the device is made; every other
//                   parameter goes to the inner model
//
// The file is a run of records: a kind byte, the transfer number and a
// length (each 16-bit little-endian), then that many bytes.
//   kind 0  the reply is these bytes (cut to what the host asked for)
//   kind 1  the first two bytes are an offset; the rest overwrite the
//           reply from there, within its length
//   kind 2  the reply is cut to `length` bytes (no bytes follow)
//   kind 3  the transfer fails: I/O error, time-out, stall or no device by
//           `length` % 4 (no bytes follow)
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <vector>

#include "sim_model.h"

namespace dravn_sim {
namespace {

struct Change {
  uint8_t kind;
  uint16_t length;
  std::vector<uint8_t> bytes;
};

class ReplayModel : public SimDeviceModel {
 public:
  explicit ReplayModel(const SimDeviceSpec& spec) : SimDeviceModel(spec) {
    SimDeviceSpec inner = spec;
    inner.family = Param("family");
    if (inner.family.empty() || inner.family == spec.family) throw std::runtime_error("replay: no family= to answer");
    std::string why;
    m_inner = SimMakeModel(inner, &why);
    if (!m_inner) throw std::runtime_error("replay: " + why);
    std::ifstream in(Param("replies"), std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t at = 0; at + 5 <= file.size();) {
      Change c;
      c.kind = file[at] & 3;
      const uint16_t k = static_cast<uint16_t>(file[at + 1] | file[at + 2] << 8);
      c.length = static_cast<uint16_t>(file[at + 3] | file[at + 4] << 8);
      at += 5;
      if (c.kind < 2) {
        const size_t n = std::min<size_t>(c.length, file.size() - at);
        c.bytes.assign(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + n));
        at += n;
      }
      m_changes.emplace(k, std::move(c));
    }
  }

  int Open() override { return m_inner->Open(); }
  void Close() override { m_inner->Close(); }
  int Claim() override { return m_inner->Claim(); }
  void Release() override { m_inner->Release(); }
  void Reset() override { m_inner->Reset(); }
  int BulkOut(const uint8_t* data, int length) override { return m_inner->BulkOut(data, length); }
  int BulkIn(uint8_t* data, int length) override { return Changed(m_inner->BulkIn(data, length), data, length); }
  int Control(const SimControlSetup& setup, uint8_t* data, int length) override {
    const int n = m_inner->Control(setup, data, length);
    return (setup.requestType & LIBUSB_ENDPOINT_IN) ? Changed(n, data, length) : n;
  }
  int InterruptIn(uint8_t* data, int length) override {
    return Changed(m_inner->InterruptIn(data, length), data, length);
  }

 private:
  int Changed(int result, uint8_t* data, int length) {
    const uint32_t k = m_inTransfers++;
    auto it = k <= 0xFFFF ? m_changes.find(static_cast<uint16_t>(k)) : m_changes.end();
    if (it == m_changes.end()) return result;
    const Change& c = it->second;
    const int have = std::max(result, 0);
    switch (c.kind) {
      case 0: {
        const int n = std::min<int>(length, static_cast<int>(c.bytes.size()));
        std::copy(c.bytes.begin(), c.bytes.begin() + n, data);
        return n;
      }
      case 1: {
        if (result < 0 || c.bytes.size() < 2) return result;
        const int offset = c.bytes[0] | c.bytes[1] << 8;
        for (size_t i = 2; i < c.bytes.size() && offset + static_cast<int>(i) - 2 < have; ++i)
          data[offset + i - 2] = c.bytes[i];
        return result;
      }
      case 2:
        return result < 0 ? result : std::min<int>(have, c.length);
      default: {
        static const int kErrors[] = {LIBUSB_ERROR_IO, LIBUSB_ERROR_TIMEOUT, LIBUSB_ERROR_PIPE,
                                      LIBUSB_ERROR_NO_DEVICE};
        return kErrors[c.length % 4];
      }
    }
  }

  std::unique_ptr<SimDeviceModel> m_inner;
  std::map<uint16_t, Change> m_changes;  // the first record for a transfer counts
  uint32_t m_inTransfers = 0;
};

DRAVN_SIM_MODEL("replay", ReplayModel)

}  // namespace
}  // namespace dravn_sim
