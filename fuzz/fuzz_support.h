// What the fuzz targets share: a private folder for the files they hand to
// the readers, and a reader of the input's leading fields.
#ifndef DRAVN_FUZZ_SUPPORT_H
#define DRAVN_FUZZ_SUPPORT_H

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdio>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz {

// A folder of this process, removed when it ends.
inline const std::string& Dir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/dravn-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) std::abort();
    static std::string keep = made;
    std::atexit([] {
      nftw(
          keep.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
          FTW_DEPTH | FTW_PHYS);
    });
    return keep;
  }();
  return dir;
}

// Writes the bytes to Dir()/name and answers the path.
inline std::string WriteFile(const std::string& name, const void* data, size_t size) {
  const std::string path = Dir() + "/" + name;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n <= 0) std::abort();
    p += n, size -= static_cast<size_t>(n);
  }
  close(fd);
  return path;
}

inline std::string WriteFile(const std::string& name, const std::string& text) {
  return WriteFile(name, text.data(), text.size());
}

// Takes fixed-size fields off the front of the input; zeros once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  template <class T>
  T Take() {
    T v{};
    const size_t n = m_size < sizeof v ? m_size : sizeof v;
    std::memcpy(&v, m_data, n);
    m_data += n, m_size -= n;
    return v;
  }
  // The value of the next byte, in 0..range-1.
  unsigned Pick(unsigned range) { return Take<uint8_t>() % range; }
  const uint8_t* Rest() const { return m_data; }
  size_t RestSize() const { return m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

}  // namespace fuzz

#endif
