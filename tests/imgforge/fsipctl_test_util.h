// Shared by the control layer's tests: a private configuration and log
// directory for the test process, fsip.conf, the logs, and a BMP reader.
#ifndef DRAVN_TESTS_IMGFORGE_FSIPCTL_TEST_UTIL_H
#define DRAVN_TESTS_IMGFORGE_FSIPCTL_TEST_UTIL_H

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "test_support.h"

namespace fsipctl_test {

// The staged configuration and log directories are shared by every test
// process; this one gets empty ones of its own in a mount namespace.
class PrivateDirs : public ::testing::Environment {
 public:
  void SetUp() override {
    m_root = dravn_test::MakeTempDir("fsipctl");
    for (const char* sub : {"/etc", "/log"}) mkdir((m_root + sub).c_str(), 0777);
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    mkdir(DRAVN_LOG_DIR, 0777);
    ASSERT_EQ(mount((m_root + "/etc").c_str(), DRAVN_ETC_DIR, nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount((m_root + "/log").c_str(), DRAVN_LOG_DIR, nullptr, MS_BIND, nullptr), 0);
  }
  void TearDown() override {
    umount(DRAVN_ETC_DIR);
    umount(DRAVN_LOG_DIR);
    dravn_test::Run({"rm", "-rf", m_root});
  }

 private:
  std::string m_root;
};

inline std::string ConfPath() { return std::string(DRAVN_ETC_DIR) + "/fsip.conf"; }
inline std::string LogPath(const std::string& name) { return std::string(DRAVN_LOG_DIR) + "/" + name; }
inline void SetConf(const std::string& text) { dravn_test::WriteFile(ConfPath(), text); }

inline void ClearLogDir() {
  for (const auto& name : dravn_test::ListDir(DRAVN_LOG_DIR)) unlink(LogPath(name).c_str());
}

inline std::vector<std::string> LogDirFiles() { return dravn_test::ListDir(DRAVN_LOG_DIR); }

inline std::vector<std::string> Named(const std::string& prefix, const std::string& suffix) {
  std::vector<std::string> out;
  for (const auto& name : LogDirFiles())
    if (name.rfind(prefix, 0) == 0 && name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      out.push_back(name);
  return out;
}

// The log with its time stamps as "[T]" and logged pointer values as "P".
inline std::string Normalised(const std::string& log) {
  static const std::regex stamp(R"(\[\d\d/\d\d/\d{4} \d\d:\d\d:\d\d:\d{3,5}\])");
  static const std::regex pointer(R"((pImageData|NotifyOutImgInfo|pbySendData)( *)=0x[0-9a-f]+)");
  static const std::regex user(R"(UserParam : -?\d+)");
  std::string out = std::regex_replace(log, stamp, "[T]");
  out = std::regex_replace(out, pointer, "$1$2=P");
  return std::regex_replace(out, user, "UserParam : U");
}

// A BMP as the dumps write it, read back: header fields and one value per
// pixel and channel (palette indices for 1 bit, grey for 8, R, G, B for 24).
struct Bmp {
  uint32_t fileSize = 0, offset = 0, imageSize = 0, ppmX = 0, ppmY = 0, coloursUsed = 0;
  int width = 0, height = 0, bitCount = 0, channels = 0;
  std::vector<uint8_t> palette;  // B, G, R, 0 per entry
  std::vector<uint8_t> pixels;   // rows top to bottom
};

inline uint32_t Le(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

inline bool ReadBmp(const std::string& b, Bmp* out) {
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || Le(b, 14, 4) != 40) return false;
  Bmp m;
  m.fileSize = Le(b, 2, 4), m.offset = Le(b, 10, 4);
  m.width = static_cast<int>(Le(b, 18, 4)), m.height = static_cast<int>(Le(b, 22, 4));
  m.bitCount = static_cast<int>(Le(b, 28, 2));
  m.imageSize = Le(b, 34, 4), m.ppmX = Le(b, 38, 4), m.ppmY = Le(b, 42, 4), m.coloursUsed = Le(b, 46, 4);
  if (Le(b, 26, 2) != 1 || Le(b, 30, 4) != 0 || m.fileSize != b.size()) return false;
  m.palette.assign(b.begin() + 54, b.begin() + m.offset);
  m.channels = m.bitCount == 24 ? 3 : 1;
  const size_t row = (static_cast<size_t>(m.width) * m.bitCount + 31) / 32 * 4;
  if (b.size() < m.offset + row * m.height) return false;
  for (int y = 0; y < m.height; ++y) {
    const uint8_t* src = reinterpret_cast<const uint8_t*>(b.data()) + m.offset + row * (m.height - 1 - y);
    for (int x = 0; x < m.width; ++x) {
      if (m.bitCount == 1) {
        m.pixels.push_back(src[x / 8] >> (7 - x % 8) & 1);
      } else if (m.bitCount == 8) {
        m.pixels.push_back(src[x]);
      } else {
        for (int c = 2; c >= 0; --c) m.pixels.push_back(src[3 * x + c]);
      }
    }
  }
  *out = m;
  return true;
}

}  // namespace fsipctl_test

#endif
