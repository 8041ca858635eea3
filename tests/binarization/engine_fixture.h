// Tests of the engine bind libhelper.so and libopencv from the staged tree
// once per suite, as the unit's constructor does.
#ifndef DRAVN_TESTS_BINARIZATION_ENGINE_FIXTURE_H
#define DRAVN_TESTS_BINARIZATION_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include "dravn_paths.h"
#include "helper_binding.h"
#include "i3ip_share.h"

class BoundEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(LoadI3HelperBinarization(), 0);
    ASSERT_EQ(LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so"), 0);
  }
  static void TearDownTestSuite() {
    FreeI3ipShare();
    UnloadI3Helper();
  }
};

#endif
