// The stand-in exports every function of the real libusb-1.0.so.0 (the
// real scanimage's libsane binds all of its libusb symbols at load) and
// nothing but libusb names.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

std::set<std::string> DefinedDynamicSymbols(const std::string& lib) {
  auto r = dravn_test::Run({"nm", "-D", "--defined-only", "--format=posix", lib});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::set<std::string> names;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, type;
    if (fields >> name >> type && (type == "T" || type == "W" || type == "i"))
      names.insert(name.substr(0, name.find('@')));
  }
  return names;
}

TEST(SimExports, EveryRealLibusbFunctionExistsAndNothingElseLeaks) {
  auto real = DefinedDynamicSymbols(DRAVN_REAL_LIBUSB);
  auto ours = DefinedDynamicSymbols(DRAVN_SIM_USB_FILE);
  ASSERT_GT(real.size(), 50u);
  for (const auto& name : real) EXPECT_TRUE(ours.count(name)) << "missing " << name;
  for (const auto& name : ours) EXPECT_EQ(name.rfind("libusb_", 0), 0u) << "leaked " << name;
}

}  // namespace
