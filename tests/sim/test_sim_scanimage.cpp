// The real scanimage starts with the stand-in libusb first on the library
// path: libsane binds every libusb symbol at load, so a missing one would
// stop it before it lists anything.
#include <gtest/gtest.h>

#include "test_support.h"

TEST(SimScanimage, ListsWithTheStandInLibusb) {
  std::string dir = dravn_test::MakeTempDir("sim-scanimage");
  // Ids that no configuration names: the backend never lists this device.
  dravn_test::WriteFile(dir + "/scenario", "device loopback 1234:5678\n");
  auto r = dravn_test::RunScanimage({"-L"}, dir + "/scenario");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("No scanners were identified"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("symbol lookup error"), std::string::npos) << r.err;
}
