// The real scanimage with the staged main backend and simulated scanners.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_support.h"

namespace {

using dravn_test::RunScanimage;
using dravn_test::WriteFile;

struct Configured {
  int vendor, product;
};

// The (vendor, product) pairs of the staged dravn.conf.
std::vector<Configured> StagedConfig() {
  std::vector<Configured> pairs;
  std::ifstream in(std::string(DRAVN_SANE_ETC_DIR) + "/dravn.conf");
  std::regex usb(R"(^usb\s+0x([0-9a-fA-F]{4})\s+0x([0-9a-fA-F]{4}))");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, usb))
      pairs.push_back({std::stoi(m[1].str(), nullptr, 16), std::stoi(m[2].str(), nullptr, 16)});
  }
  return pairs;
}

const char* ModelOf(int vendor, int product) {
  for (const auto& m : dravn::kAllModels)
    if (m.vendorId == vendor && m.productId == product) return m.model;
  return nullptr;
}

TEST(MainBackendE2E, ListsEveryConfiguredScannerByItsCatalogueName) {
  std::vector<Configured> pairs = StagedConfig();
  ASSERT_EQ(pairs.size(), 10u);  // three own models and the seven forwarded ones
  std::string dir = dravn_test::MakeTempDir("list-all");
  std::ostringstream scenario;
  std::vector<std::string> expected;
  int address = 2;
  for (const Configured& c : pairs) {
    const char* model = ModelOf(c.vendor, c.product);
    ASSERT_NE(model, nullptr);
    char line[128];
    snprintf(line, sizeof line, "device loopback %04x:%04x bus=3 address=%d\n", c.vendor, c.product, address);
    scenario << line;
    snprintf(line, sizeof line, "device `dravn:%s:003:%03d' is a %s %s scanner", model, address, dravn::kVendorText,
             model);
    expected.push_back(line);
    ++address;
  }
  // A scanner of the maker that dravn.conf does not name is not listed.
  scenario << "device loopback 2d4e:7777 bus=4 address=9\n";
  WriteFile(dir + "/scenario", scenario.str());
  auto r = RunScanimage({"-L"}, dir + "/scenario");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const std::string& line : expected) EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  EXPECT_EQ(r.out.find(":004:009"), std::string::npos) << r.out;
}

TEST(MainBackendE2E, WithoutScannersNothingIsListed) {
  std::string dir = dravn_test::MakeTempDir("list-none");
  WriteFile(dir + "/scenario", "# no scanner attached\n");
  auto r = RunScanimage({"-L"}, dir + "/scenario");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find("device `dravn:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("No scanners were identified"), std::string::npos) << r.out;
}

// A forwarded family answers with the second backend's own options: the
// front end talks to libsane-dravn2 through the main backend.
TEST(MainBackendE2E, ForwardedScannerShowsTheSecondBackendsOptions) {
  std::string dir = dravn_test::MakeTempDir("forward-real");
  WriteFile(dir + "/scenario", "device selko2 2d4e:1301 bus=3 address=4\n");
  WriteFile(dir + "/dll.conf", "dravn\n");
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["SANE_CONFIG_DIR"] = dir;
  auto r = dravn_test::Run({"unshare", "--ipc", "scanimage", "-d", "dravn:Selko2S420:003:004", "-A"}, env, 60);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("All options specific to device `dravn:Selko2S420:003:004'"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Adf-duplex"), std::string::npos) << r.out;  // the second backend's source list
  EXPECT_EQ(r.out.find("ADF Duplex"), std::string::npos) << r.out;  // not the main backend's
}

}  // namespace
