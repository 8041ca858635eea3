#include "transcript.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace dravn_sim {
namespace {

std::mutex g_mutex;
std::string g_path;
int g_fd = -1;

}  // namespace

void SimTranscriptConfigure() {
  const char* env = getenv("DRAVN_SIM_TRANSCRIPT");
  std::string path = env ? env : "";
  std::lock_guard<std::mutex> lock(g_mutex);
  if (path == g_path) return;
  if (g_fd >= 0) close(g_fd);
  g_fd = -1;
  g_path = path;
  // O_APPEND: each line lands whole at the end even when other processes
  // write the same file.
  if (!path.empty()) g_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

bool SimTranscriptActive() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_fd >= 0;
}

void SimTranscriptWrite(const std::string& line) {
  std::string text = line + "\n";
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_fd < 0) return;
  // One write per line: a line is never split between processes.
  ssize_t ignored = write(g_fd, text.data(), text.size());
  (void)ignored;
}

std::string SimHex(const uint8_t* data, int length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < length && i < 64; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 15];
  }
  return hex;
}

}  // namespace dravn_sim
