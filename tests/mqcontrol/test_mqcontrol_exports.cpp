// The exports of the staged libmqcontrol, bound by name as its callers bind
// them, with the staged libdevwatch over the simulated scanners.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libintl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "devwatch_test_util.h"
#include "dravn_paths.h"

// The library's pauses end at once and are counted (usleep of this
// program, which the library binds to): no test waits.
std::vector<unsigned> g_pauses;
extern "C" __attribute__((visibility("default"))) int usleep(useconds_t us) {
  g_pauses.push_back(static_cast<unsigned>(us));
  return 0;
}

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

using Bytes = std::vector<unsigned char>;

Bytes Pattern(bool inverse) {
  Bytes b(512);
  for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<unsigned char>((k * 37 + 11) ^ (inverse ? 0xFF : 0));
  return b;
}

// Two generic scanners: a Tavrin3 model whose commit settles after two
// checks, and a Velmorak E model, both starting with the inverse pattern.
class MqcontrolEngineExports : public MqcontrolExports {
 protected:
  void SetUp() override {
    const Bytes start = Pattern(true);
    dravn_test::WriteFile(m_bench.Dir() + "/start", std::string(start.begin(), start.end()));
    dravn_test::WriteFile(m_bench.Dir() + "/sop", std::string(40, 'S'));
    std::string imff(60, 'P');
    imff[46] = 0x12;
    imff[47] = 0x34;
    dravn_test::WriteFile(m_bench.Dir() + "/imff", imff);
    m_bench.Config("usb 0x2d4e 0x1601\nusb 0x2d4e 0x1b05\n");
    const std::string set = "set eeprom=" + m_bench.Dir() + "/start\nset state=" + m_bench.Dir();
    MqcontrolExports::SetUp();
    m_bench.Scenario("device generic 2d4e:1601 bus=1 address=2\n" + set +
                     "/t3\nset commit_mismatch=2\nset sop=" + m_bench.Dir() + "/sop\nset imff=" + m_bench.Dir() +
                     "/imff\n" + "device generic 2d4e:1b05 bus=1 address=3\n" + set + "/vk5\n");
    Bind(Image, "g_byEEPData");
    Bind(ReadSize, "g_nReadEEPSize");
    Bind(Edit, "g_bDevSetEdit");
    Bind(GetData, "GetEEPROMData");
    Bind(SetData, "SetEEPROMData");
    Bind(Save, "SaveEEPROMData");
    Bind(Save2, "SaveEEPROMData2");
    Bind(Restore, "RestoreEEPROMData");
    Bind(Restore2, "RestoreEEPROMData2");
    g_pauses.clear();
  }
  std::vector<std::string> Out() { return devwatch_test::DataOut(m_bench.TakeTranscript()); }
  Bytes File(const std::string& name) {
    std::string s = dravn_test::ReadFile(m_bench.Dir() + "/" + name);
    return Bytes(s.begin(), s.end());
  }

  unsigned char* Image = nullptr;
  int* ReadSize = nullptr;
  int* Edit = nullptr;
  int (*GetData)() = nullptr;
  int (*SetData)() = nullptr;
  int (*Save)(const char*) = nullptr;
  int (*Save2)(const char*) = nullptr;
  int (*Restore)(const char*) = nullptr;
  int (*Restore2)(const char*) = nullptr;
};

TEST_F(MqcontrolEngineExports, SetEEPROMDataWritesCommitsAndVerifies) {
  static const char device[] = "Tavrin3T1000:001:002";
  ASSERT_EQ(Init(device, 0), 1);
  m_bench.ClearTranscript();
  EXPECT_EQ(SetData(), 1);
  EXPECT_TRUE(Out().empty());

  ASSERT_EQ(GetData(), 1);
  EXPECT_EQ(*ReadSize, 512);
  const Bytes source = Pattern(false);
  std::memcpy(Image, source.data(), 512);
  *Edit = 1;
  m_bench.ClearTranscript();
  EXPECT_EQ(SetData(), 0);
  EXPECT_EQ(*Edit, 0);
  // Two unsettled commit checks, each followed by a two-second pause.
  EXPECT_EQ(g_pauses, (std::vector<unsigned>{2000000, 2000000}));
  EXPECT_EQ(devwatch_test::Count(m_bench.ReadTranscript(), devwatch_test::HexText("DEBUG,E2P,RED  W")), 3u);
  // Nothing was marked edited: only the bytes the Tavrin merge always
  // takes from the image reached the device.
  const std::string both = dravn_test::ReadFile(m_bench.Dir() + "/t3");
  ASSERT_EQ(both.size(), 1024u);
  const Bytes start = Pattern(true);
  std::vector<int> changed;
  for (int k = 0; k < 512; ++k)
    if (static_cast<unsigned char>(both[512 + k]) != start[k]) changed.push_back(k);
  EXPECT_EQ(changed, (std::vector<int>{64, 230, 248, 280, 335}));

  // Another device: nothing of the image was read from it, so its whole
  // image write is refused before any transfer.
  static const char other[] = "VelmorakVK5000:001:003";
  ASSERT_EQ(Init(other, 0), 1);
  EXPECT_EQ(*ReadSize, 0);
  *Edit = 1;
  m_bench.ClearTranscript();
  EXPECT_EQ(SetData(), -1);
  EXPECT_TRUE(Out().empty());
  EXPECT_EQ(*Edit, 1);
}

TEST_F(MqcontrolEngineExports, SettingsFilesRoundTrip) {
  static const char device[] = "Tavrin3T1000:001:002";
  ASSERT_EQ(Init(device, 0), 1);
  const std::string one = m_bench.Dir() + "/one.bin", two = m_bench.Dir() + "/two.bin";
  ASSERT_EQ(Save(one.c_str()), 0);
  const Bytes settings = File("one.bin");
  Bytes expected{0, 40, 0, 1};
  expected.insert(expected.end(), 40, 'S');
  EXPECT_EQ(settings, expected);
  ASSERT_EQ(Save2(two.c_str()), 0x1234);
  Bytes pattern{0, 60, 0, 1};
  const Bytes imff = File("imff");
  pattern.insert(pattern.end(), imff.begin(), imff.end());
  expected.insert(expected.end(), {'I', 'M', 'F', 'F'});
  expected.insert(expected.end(), pattern.begin(), pattern.end());
  expected.insert(expected.end(), 4, 0);
  EXPECT_EQ(File("two.bin"), expected);

  m_bench.ClearTranscript();
  EXPECT_EQ(Restore2(two.c_str()), 0x1234);
  std::vector<std::string> out = Out();
  const std::string putSettings = "60:" + devwatch_test::HexText("PUT SOP SET DAT ") + "00280001";
  const std::string putPattern = "80:" + devwatch_test::HexText("PUT IMFF PTN DAT") + "003c0001";
  auto has = [&out](const std::string& head) {
    for (const std::string& o : out)
      if (o.rfind(head, 0) == 0) return true;
    return false;
  };
  EXPECT_TRUE(has(putSettings));
  EXPECT_TRUE(has(putPattern));
  // The device holds what was restored: saving again gives the same file.
  ASSERT_EQ(Save2(two.c_str()), 0x1234);
  EXPECT_EQ(File("two.bin"), expected);

  m_bench.ClearTranscript();
  EXPECT_EQ(Restore2(one.c_str()), 0);
  out = Out();
  EXPECT_TRUE(has(putSettings));
  EXPECT_FALSE(has(putPattern));
  EXPECT_EQ(Restore(one.c_str()), 0);
  EXPECT_EQ(*ReadSize, 512);
}

}  // namespace
