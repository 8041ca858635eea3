// Helpers of the USB manager, exclusive-table, config and process tests.
#ifndef DRAVN_TESTS_COMMON_LAYER_UTIL_H
#define DRAVN_TESTS_COMMON_LAYER_UTIL_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "log.h"
#include "model_catalog.h"
#include "test_support.h"
#include "usb_manager.h"

namespace common_layer_test {

// Runs the current test once more inside new namespaces ("--ipc",
// "--mount"), so that System V objects and bind mounts stay private to it.
// True inside that run; outside it the outcome of the inner run is checked
// and the caller returns.
inline bool RunIsolated(const std::vector<std::string>& unshareFlags) {
  if (getenv("DRAVN_TEST_ISOLATED")) return true;
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    ADD_FAILURE() << "cannot find the test program";
    return false;
  }
  self[n] = '\0';
  std::vector<std::string> argv{"unshare"};
  argv.insert(argv.end(), unshareFlags.begin(), unshareFlags.end());
  argv.push_back(self);
  argv.push_back(std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name());
  dravn_test::RunResult r = dravn_test::Run(argv, {{"DRAVN_TEST_ISOLATED", "1"}}, 120);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out << r.err;
  return false;
}

// Inside a private mount namespace: lays an empty directory over `dir`.
inline std::string HideDirectory(const std::string& dir) {
  std::string empty = dravn_test::MakeTempDir("hidden");
  if (mount(empty.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0)
    ADD_FAILURE() << "bind over " << dir << ": " << strerror(errno);
  return empty;
}

using dravn_test::StderrCapture;

// Logs to standard error at `level` for the life of the object.
class LogToStderr {
 public:
  explicit LogToStderr(int level) {
    setenv("DRAVN_DEBUG", std::to_string(level * 10).c_str(), 1);
    StartLog();
  }
  ~LogToStderr() {
    unsetenv("DRAVN_DEBUG");
    StartLog();
  }
};

// A device table for the tests: the rows of the main backend's table, with
// the row texts that both backends' tables carry.
inline bool CatalogLookup(int vendorId, int productId, KELO_DEVICE_ROW_TEXTS* row) {
  for (const dravn::CatalogModel& m : dravn::kAllModels) {
    if ((m.tables & dravn::kMainTable) && m.vendorId == vendorId && m.productId == productId) {
      *row = {m.model, "scanner", ""};
      return true;
    }
  }
  return false;
}

// A forked process that runs `body` and then waits until it is told to end
// (or ends at once when `stay` is false). Its exit code is what body gave.
class Peer {
 public:
  explicit Peer(std::function<int()> body, bool stay = true) {
    int ready[2], done[2];
    if (pipe(ready) != 0 || pipe(done) != 0) abort();
    m_pid = fork();
    if (m_pid == 0) {
      close(ready[0]);
      close(done[1]);
      int code = body();
      char c = 0;
      if (write(ready[1], &c, 1) != 1) _exit(99);
      if (stay) {
        ssize_t ignored = read(done[0], &c, 1);  // returns when the parent closes
        (void)ignored;
      }
      _exit(code);
    }
    close(ready[1]);
    close(done[0]);
    m_done = done[1];
    char c;
    if (read(ready[0], &c, 1) != 1) m_bodyFailed = true;
    close(ready[0]);
  }
  ~Peer() { Finish(); }
  pid_t Pid() const { return m_pid; }
  std::string PidText() const { return std::to_string(m_pid); }
  // Ends the peer and reaps it (a zombie still answers kill(pid, 0)).
  int Finish() {
    if (m_pid > 0) {
      close(m_done);
      int status = 0;
      waitpid(m_pid, &status, 0);
      m_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      m_pid = -1;
    }
    return m_bodyFailed ? -1 : m_code;
  }

 private:
  pid_t m_pid = -1;
  int m_done = -1;
  int m_code = -1;
  bool m_bodyFailed = false;
};

// The pid of a process that has ended and been reaped.
inline std::string DeadPidText() {
  Peer gone([] { return 0; }, false);
  std::string text = gone.PidText();
  gone.Finish();
  return text;
}

}  // namespace common_layer_test

#endif
