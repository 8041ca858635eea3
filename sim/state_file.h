// Device memory that outlives the process (EEPROM, NVRAM): a file named by
// a model parameter, shared by every process that simulates the device.
#ifndef DRAVN_SIM_STATE_FILE_H
#define DRAVN_SIM_STATE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace dravn_sim {

class SimStateFile {
 public:
  // An empty path keeps the state in this object only.
  explicit SimStateFile(std::string path) : m_path(std::move(path)) {}

  // The stored bytes; empty when nothing was stored yet. A model that needs
  // a fixed size pads with its erased value.
  std::vector<uint8_t> Load() const;
  // Replaces the stored bytes. A reader in another process sees either the
  // old or the new contents, never a mixture.
  bool Save(const std::vector<uint8_t>& bytes);

 private:
  std::string m_path;
  std::vector<uint8_t> m_memory;
};

}  // namespace dravn_sim

#endif
