// consutool run as a user runs it: the staged device watch library over the
// simulated scanners, beside stand-ins of the settings library that end the
// process when called, so a run that must not open the device proves it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_support.h"

namespace {

using dravn_test::RunResult;

const std::string kLibs = CONSUTOOL_LIB_DIR;
const std::string kNotConnected =
    "consutool: The scanner is not connected, or may be in use by another application\n";

// Fills the tool's library folder: the staged device watch library and the
// given settings library (empty: none).
void Libraries(bool devwatch, const std::string& mqcontrol) {
  mkdir(kLibs.c_str(), 0755);
  unlink((kLibs + "/libdevwatch.so").c_str());
  unlink((kLibs + "/libmqcontrol.so").c_str());
  if (devwatch) {
    ASSERT_EQ(symlink(DRAVN_LIB_DIR "/libdevwatch.so", (kLibs + "/libdevwatch.so").c_str()), 0);
  }
  if (!mqcontrol.empty()) {
    ASSERT_EQ(symlink(mqcontrol.c_str(), (kLibs + "/libmqcontrol.so").c_str()), 0);
  }
}

RunResult Consutool(const std::vector<std::string>& args, const std::string& scenario) {
  const std::string dir = dravn_test::MakeTempDir("consutool-run");
  dravn_test::WriteFile(dir + "/scenario", scenario);
  std::vector<std::string> argv{"unshare", "--ipc", CONSUTOOL_TESTLIBS};
  argv.insert(argv.end(), args.begin(), args.end());
  return dravn_test::Run(argv, dravn_test::SimEnv(dir + "/scenario"), 60);
}

std::string Device(const char* family, const dravn::CatalogModel& m, int bus, int address) {
  char line[128];
  std::snprintf(line, sizeof line, "device %s %04x:%04x bus=%d address=%d\n", family, m.vendorId, m.productId, bus,
                address);
  return line;
}

std::string Name(const dravn::CatalogModel& m, int bus, int address) {
  char name[64];
  std::snprintf(name, sizeof name, "%s:%03d:%03d", m.model, bus, address);
  return name;
}

// A missing library, or a library missing one name, ends the run before it
// looks for a device.
TEST(ConsutoolRun, MissingLibraryOrName) {
  const std::string scenario = Device("selko2", dravn::kSelko2Models[0], 3, 4);
  struct Case {
    const char* label;
    bool devwatch;
    std::string mqcontrol;
  } cases[] = {
      {"no device watch library", false, MQCONTROL_UNTOUCHABLE},
      {"no settings library", true, ""},
      {"a name missing", true, MQCONTROL_WITHOUT_NAME},
  };
  for (const auto& c : cases) {
    Libraries(c.devwatch, c.mqcontrol);
    auto r = Consutool({"--info"}, scenario);
    EXPECT_EQ(r.exitCode, 10) << c.label << r.err;
    EXPECT_EQ(r.out, "consutool: The specified file was not found\n") << c.label;
    EXPECT_EQ(r.err.find("untouchable"), std::string::npos) << c.label;
  }
}

// What needs no device: the list and version per family, a name not
// listed, no scanner at all, options and words the tool refuses.
TEST(ConsutoolRun, WithoutOpeningTheDevice) {
  Libraries(true, MQCONTROL_UNTOUCHABLE);
  const auto& selko2 = dravn::kSelko2Models[0];
  const auto& selko = dravn::kSelkoModels[0];
  const auto& brenna = dravn::kBrennaModels[0];
  const std::string scenario =
      Device("selko2", selko2, 3, 4) + Device("selko", selko, 3, 5) + Device("brenna", brenna, 4, 2);
  auto r = Consutool({"-L"}, scenario);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // In the device watch library's order.
  EXPECT_EQ(r.out, "List of available devices:\n    " + Name(brenna, 4, 2) + "\n    " + Name(selko, 3, 5) + "\n    " +
                       Name(selko2, 3, 4) + "\n");

  r = Consutool({"-V", "--sleeptimer", "10"}, scenario);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Consumable tool for RK Series scanner\nVersion 3.0.0\nCopyright 2022\n");

  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string scenario;
    int status;
    std::string out;
    std::string errPart;
  } cases[] = {
      {"unlisted name", {"-d", "Nobody:001:002", "--sleeptimer", "10"}, scenario, 6, kNotConnected, ""},
      {"name of a listed model, other address", {"--device-name=" + Name(selko2, 3, 9), "--info"}, scenario, 6,
       kNotConnected, ""},
      {"no scanner", {"--info"}, "# nothing attached\n", 6, kNotConnected, ""},
      {"unknown option", {"--bogus"}, scenario, 3, "", "unrecognized option '--bogus'"},
      {"value missing", {"-d"}, scenario, 3, "", "requires an argument"},
      {"stray words", {"left", "over"}, scenario, 9, "consutool: argument without option: `over';try consutool --help\n",
       ""},
  };
  for (const auto& c : cases) {
    r = Consutool(c.args, c.scenario);
    EXPECT_EQ(r.exitCode, c.status) << c.label << r.err;
    EXPECT_EQ(r.out, c.out) << c.label;
    EXPECT_EQ(r.err.find("untouchable"), std::string::npos) << c.label << r.err;
    if (!c.errPart.empty()) {
      EXPECT_NE(r.err.find(c.errPart), std::string::npos) << c.label << r.err;
    }
  }
  Libraries(false, "");
}

}  // namespace
