// Shared helpers of the test programs.
#ifndef DRAVN_TEST_SUPPORT_H
#define DRAVN_TEST_SUPPORT_H

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dravn_test {

// Result of a program run.
struct RunResult {
  int exitCode = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs a program with extra environment variables (value "" unsets one) and
// optional standard input; waits at most timeoutSeconds, then kills it.
RunResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
              int timeoutSeconds = 120, const std::string& input = "");

// A fresh, empty directory under the build tree's test-tmp, unique per call.
std::string MakeTempDir(const std::string& hint);

std::string ReadFile(const std::string& path);
// A GNU message catalogue (.mo) of the given untranslated and translated texts.
void WriteMessageCatalogue(const std::string& path, std::vector<std::pair<std::string, std::string>> pairs);
void WriteFile(const std::string& path, const std::string& text);
std::vector<std::string> ListDir(const std::string& dir);

// System V shared-memory segments and semaphore sets of the caller's IPC
// namespace (tests that count them run in one of their own).
int SysVObjects();

// Environment for a program that must see the simulated scanners described
// by scenarioPath (empty: no scenario) through the libusb stand-in, and SANE
// configuration from configDir.
std::map<std::string, std::string> SimEnv(const std::string& scenarioPath);

// Runs the real scanimage against the staged backend: a dll.conf naming
// "dravn" is written to a fresh SANE_CONFIG_DIR (with extraConfig files),
// the stand-in libusb and the staged backend directory lead LD_LIBRARY_PATH.
RunResult RunScanimage(const std::vector<std::string>& args, const std::string& scenarioPath,
                       const std::map<std::string, std::string>& extraEnv = {}, int timeoutSeconds = 120);

// Captures what the process writes to standard error until Stop().
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture() { Stop(); }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  std::string Stop();

 private:
  std::string m_path;
  int m_saved = -1;
};

}  // namespace dravn_test

#endif
