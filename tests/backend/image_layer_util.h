// Helpers of the JPEG, image-library and option-layer tests.
#ifndef DRAVN_TESTS_IMAGE_LAYER_UTIL_H
#define DRAVN_TESTS_IMAGE_LAYER_UTIL_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log.h"
#include "test_support.h"

namespace image_layer_test {

// Turns the backend log on (all levels, standard error) and collects what
// is written to standard error until Stop.
class LogCapture {
 public:
  LogCapture() : m_path(dravn_test::MakeTempDir("log") + "/err") {
    setenv("DRAVN_DEBUG", "40", 1);
    fflush(stderr);
    m_saved = dup(2);
    int fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
    StartLog();
  }
  std::string Stop() {
    if (m_saved >= 0) {
      EndLog();
      unsetenv("DRAVN_DEBUG");
      StartLog();  // logging off again
      fflush(stderr);
      dup2(m_saved, 2);
      close(m_saved);
      m_saved = -1;
      m_text = dravn_test::ReadFile(m_path);
    }
    return m_text;
  }
  ~LogCapture() { Stop(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

 private:
  std::string m_path;
  std::string m_text;
  int m_saved = -1;
};

// "[error] [Function] message" as a log line carries it.
inline std::string ErrorLine(const std::string& function, const std::string& message) {
  return "[error] [" + function + "] " + message + " \n";
}

}  // namespace image_layer_test

#endif
