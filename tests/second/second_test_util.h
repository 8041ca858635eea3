// Helpers of the second backend's tests: simulated Selko2 scanners and
// what their transcript shows.
#ifndef DRAVN_TESTS_SECOND_TEST_UTIL_H
#define DRAVN_TESTS_SECOND_TEST_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "model_catalog.h"
#include "test_support.h"

namespace second_test {

// Runs the current test again in a private IPC namespace, so that its
// exclusive-access table is its own. True inside that run.
inline bool RunInOwnIpcNamespace() {
  if (getenv("DRAVN_SECOND_ISOLATED")) return true;
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    ADD_FAILURE() << "cannot find the test program";
    return false;
  }
  self[n] = '\0';
  auto r = dravn_test::Run(
      {"unshare", "--ipc", self, std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()},
      {{"DRAVN_SECOND_ISOLATED", "1"}}, 120);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out << r.err;
  return false;
}

inline const dravn::CatalogModel& Selko2Model() { return dravn::kSelko2Models[0]; }

// "<model>:<bus>:<address>" as the backends name a device.
inline std::string DeviceName(const dravn::CatalogModel& model, int bus, int address) {
  char name[64];
  snprintf(name, sizeof name, "%s:%03d:%03d", model.model, bus, address);
  return name;
}

// A scenario for one simulated Selko2 scanner with its state file.
inline std::string Selko2Scenario(const std::string& stateFile, const std::string& extra = "",
                                  const dravn::CatalogModel& model = Selko2Model(), int bus = 1, int address = 5) {
  char line[160];
  snprintf(line, sizeof line, "device selko2 %04x:%04x bus=%d address=%d\n", model.vendorId, model.productId, bus,
           address);
  return std::string(line) + "set state=" + stateFile + "\n" + extra;
}

// dravn.conf listing every id the second backend drives.
inline std::string SecondDravnConf() {
  std::string conf = "# test\n";
  char line[64];
  for (const auto* family : {dravn::kSelkoModels, dravn::kSelko2Models})
    for (int i = 0; i < 3; ++i) {
      snprintf(line, sizeof line, "usb 0x%04x 0x%04x\n", family[i].vendorId, family[i].productId);
      conf += line;
    }
  snprintf(line, sizeof line, "usb 0x%04x 0x%04x\n", dravn::kBrennaModels[0].vendorId,
           dravn::kBrennaModels[0].productId);
  return conf + line;
}

// The Selko2 command blocks that went out, by opcode, sub-code and
// parameter ("2a7801"), in the order of the transcript.
inline std::vector<std::string> CommandsSent(const std::string& transcript) {
  std::vector<std::string> out;
  std::istringstream in(transcript);
  for (std::string line; std::getline(in, line);) {
    if (line.find(" bulk out ") == std::string::npos || line.find(" len=16 ") == std::string::npos) continue;
    size_t at = line.rfind(' ');
    std::string hex = line.substr(at + 1);
    if (hex.size() != 32 || hex.compare(0, 8, "30020000") != 0) continue;
    out.push_back(hex.substr(8, 2) + hex.substr(12, 2) + hex.substr(16, 2));
  }
  return out;
}

inline int Count(const std::vector<std::string>& v, const std::string& s) {
  int n = 0;
  for (const auto& x : v) n += x == s;
  return n;
}

// Command keys.
constexpr const char* kCmdStatus = "120220";
constexpr const char* kCmdStatusExt = "127a6c";
constexpr const char* kCmdLock = "2a7801";
constexpr const char* kCmdUnlock = "2a7802";
constexpr const char* kCmdReadOwner = "287801";
constexpr const char* kCmdGetNvram = "281000";
constexpr const char* kCmdSetNvram = "2a1000";

}  // namespace second_test

#endif
