// The exports of the staged libmqcontrol, bound by name as its callers bind
// them, with the staged libdevwatch over the simulated scanners.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libintl.h>

#include <cstring>
#include <string>

#include "devwatch_test_util.h"
#include "dravn_paths.h"

namespace {

constexpr const char* kMqcontrol = DRAVN_LIB_DIR "/libmqcontrol.so";

enum SOPFunctionList : int {};
enum DeviceDependentValue : int {};

class MqcontrolExports : public testing::Test {
 protected:
  void SetUp() override {
    m_bench.Scenario("");
    static void* sim = dlopen(DRAVN_SIM_LIB_DIR "/libusb-1.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(sim, nullptr) << dlerror();
    m_lib = dlopen(kMqcontrol, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_lib, nullptr) << dlerror();
    Bind(Init, "initlibrary");
    Bind(Exit, "exitlibrary");
    Bind(SetFirm, "SetFirmVersion");
    Bind(Support, "_Z17IsSupportFunction15SOPFunctionList");
    Bind(Value, "_Z23GetDeviceDependentValue20DeviceDependentValue");
    Bind(Start, "StartDeviceExclusive");
    Bind(End, "EndDeviceExclusive");
  }
  void TearDown() override {
    if (Exit) Exit();
    if (m_lib) dlclose(m_lib);
    EXPECT_EQ(dlopen(devwatch_test::kLibrary, RTLD_NOW | RTLD_NOLOAD), nullptr) << "libdevwatch stayed loaded";
  }
  template <typename F>
  void Bind(F*& fn, const char* name) {
    fn = reinterpret_cast<F*>(dlsym(m_lib, name));
    ASSERT_NE(fn, nullptr) << name;
  }
  int Family(const char* name) {
    auto* fn = reinterpret_cast<int (*)()>(dlsym(m_lib, name));
    EXPECT_NE(fn, nullptr) << name;
    return fn ? fn() : -9;
  }

  devwatch_test::Bench m_bench;
  void* m_lib = nullptr;
  int (*Init)(const char*, int) = nullptr;
  void (*Exit)() = nullptr;
  void (*SetFirm)(const char*) = nullptr;
  int (*Support)(SOPFunctionList) = nullptr;
  int (*Value)(DeviceDependentValue) = nullptr;
  int (*Start)() = nullptr;
  int (*End)() = nullptr;
};

TEST_F(MqcontrolExports, InitlibraryOpensTheContext) {
  EXPECT_EQ(Init(nullptr, 0), 0);
  EXPECT_EQ(dlopen(devwatch_test::kLibrary, RTLD_NOW | RTLD_NOLOAD), nullptr);
  static const char device[] = "Tavrin4LA110:001:002";
  ASSERT_EQ(Init(device, 1), 1);
  void* devwatch = dlopen(devwatch_test::kLibrary, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(devwatch, nullptr);
  if (devwatch) dlclose(devwatch);
  EXPECT_STREQ(textdomain(nullptr), "mqlaunch");
  EXPECT_STREQ(bindtextdomain("mqlaunch", nullptr), DRAVN_LOCALE_DIR "/");
  // Called again, the context is replaced; the earlier handle is released,
  // so one close at the end unloads libdevwatch (checked in TearDown).
  static const char other[] = "Tv5E100:001:003";
  ASSERT_EQ(Init(other, 0), 1);
  EXPECT_EQ(Family("IsTavrin5E"), 1);
  EXPECT_EQ(Family("IsTavrin3"), 0);
  EXPECT_EQ(Start(), 1);
  EXPECT_EQ(End(), 1);
}

TEST_F(MqcontrolExports, TablesAndFamilyTestsOfTheActiveModel) {
  static const char device[] = "Tavrin4LA110:001:002";
  ASSERT_EQ(Init(device, 0), 1);
  EXPECT_EQ(Family("IsTavrin3"), 1);
  EXPECT_EQ(Family("IsTavrin4"), 1);
  EXPECT_EQ(Family("IsTavrin4LA"), 1);
  for (const char* f : {"IsSaldex", "IsDunmoMe2", "IsPilvo", "IsDocuvane", "IsTavrin5", "IsTavrin5E", "IsVantor"})
    EXPECT_EQ(Family(f), 0) << f;
  EXPECT_EQ(Support(SOPFunctionList(0)), 1);
  EXPECT_EQ(Support(SOPFunctionList(12)), 0);
  EXPECT_EQ(Value(DeviceDependentValue(5)), 512);
  EXPECT_EQ(Value(DeviceDependentValue(9)), -1);
  static const char unknown[] = "NoSuchModel:001:002";
  ASSERT_EQ(Init(unknown, 0), 1);
  EXPECT_EQ(Support(SOPFunctionList(0)), 0);
  EXPECT_EQ(Value(DeviceDependentValue(5)), -1);
  // A null firmware text is ignored (nothing to observe but no crash).
  SetFirm(nullptr);
  SetFirm("0123456789ABCDEF");
  Exit();
  EXPECT_EQ(Family("IsTavrin3"), 0);
}

}  // namespace
