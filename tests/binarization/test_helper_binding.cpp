// Binding of libhelper.so against fake libraries: what each failure
// answers, and what stays open.
#include <gtest/gtest.h>

#include "fake_helper_util.h"
#include "helper_binding.h"

namespace {

TEST(HelperBinding, MissingLibraryAnswers55) {
  EXPECT_EQ(LoadI3Helper(FakePath("absent").c_str(), kI3HelperEntryMissingBinarization), 55);
  EXPECT_EQ(g_i3Helper.handle, nullptr);
}

struct MissingCase {
  int omit;
  const char* name;
};

class MissingName : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingName, ClosesTheLibraryWithTheUnitsCode) {
  for (int code : {kI3HelperEntryMissingBinarization, kI3HelperEntryMissingOrientation}) {
    Fake fake(std::to_string(GetParam().omit));
    ASSERT_TRUE(fake.open());
    EXPECT_EQ(LoadI3Helper(fake.path(), code), code) << GetParam().name;
    EXPECT_EQ(g_i3Helper.handle, nullptr);
    EXPECT_EQ(g_i3Helper.SumFilter8u, nullptr);
    EXPECT_EQ(fake.record().init_calls, 0);
    EXPECT_FALSE(fake.CloseAndStillLoaded());
  }
}

INSTANTIATE_TEST_SUITE_P(EachName, MissingName,
                         ::testing::Values(MissingCase{0, "i3Helper_SumFilter8u"},
                                           MissingCase{1, "i3Helper_BinarizeTo8u"},
                                           MissingCase{2, "i3Helper_BinarizeTo8uCombined"},
                                           MissingCase{3, "i3Helper_GetEdgeThreshold16s8u"},
                                           MissingCase{4, "i3Helper_GetEdgeThreshold8u8u"},
                                           MissingCase{5, "i3Helper_SumFilter8u16s"},
                                           MissingCase{6, "i3Helper_InitIPP"}, MissingCase{7, "i3Helper_FreeIPP"}));

TEST(HelperBinding, FailedInitAnswers53AndLeavesTheLibraryOpen) {
  Fake fake("initfails");
  ASSERT_TRUE(fake.open());
  EXPECT_EQ(LoadI3Helper(fake.path(), kI3HelperEntryMissingBinarization), 53);
  EXPECT_EQ(fake.record().init_calls, 1);
  EXPECT_TRUE(fake.CloseAndStillLoaded());
  UnloadI3Helper();  // what the process end would leave: tidy for the next test
}

TEST(HelperBinding, UnbindFreesThenClosesAndClearsEveryPointer) {
  Fake fake("-1");
  ASSERT_TRUE(fake.open());
  ASSERT_EQ(LoadI3Helper(fake.path(), kI3HelperEntryMissingBinarization), 0);
  EXPECT_EQ(fake.record().init_calls, 1);
  EXPECT_NE(g_i3Helper.GetEdgeThreshold8u8u, nullptr);
  EXPECT_NE(g_i3Helper.FreeIPP, nullptr);
  UnloadI3Helper();
  EXPECT_EQ(fake.record().free_calls, 1);
  EXPECT_EQ(g_i3Helper.handle, nullptr);
  EXPECT_EQ(g_i3Helper.GetEdgeThreshold8u8u, nullptr);
  EXPECT_EQ(g_i3Helper.BinarizeTo8uCombined, nullptr);
  EXPECT_EQ(g_i3Helper.FreeIPP, nullptr);
  EXPECT_FALSE(fake.CloseAndStillLoaded());
  UnloadI3Helper();  // a second unbind does nothing
}

TEST(HelperBinding, OurStagedLibraryBindsForTheBinarizationUnit) {
  ASSERT_EQ(LoadI3HelperBinarization(), 0);
  EXPECT_NE(g_i3Helper.BinarizeTo8uCombined, nullptr);
  UnloadI3Helper();
}

}  // namespace
