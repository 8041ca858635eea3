#include "state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace dravn_sim {

std::vector<uint8_t> SimStateFile::Load() const {
  if (m_path.empty()) return m_memory;
  std::vector<uint8_t> bytes;
  int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  uint8_t buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  close(fd);
  return bytes;
}

bool SimStateFile::Save(const std::vector<uint8_t>& bytes) {
  if (m_path.empty()) {
    m_memory = bytes;
    return true;
  }
  // Write beside the file and rename over it, so that no process ever
  // reads a half-written state.
  static std::atomic<unsigned> counter{0};
  std::string temp = m_path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(counter++);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = close(fd) == 0 && done == bytes.size() && rename(temp.c_str(), m_path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace dravn_sim
