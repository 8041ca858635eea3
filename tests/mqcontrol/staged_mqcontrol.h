// The staged libmqcontrol loaded by name as its callers load it, over a
// generic simulated scanner whose EEPROM the test gives.
#ifndef DRAVN_TESTS_MQCONTROL_STAGED_MQCONTROL_H
#define DRAVN_TESTS_MQCONTROL_STAGED_MQCONTROL_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "devwatch_test_util.h"
#include "dravn_paths.h"

namespace staged_mqcontrol {

constexpr const char* kMqcontrol = DRAVN_LIB_DIR "/libmqcontrol.so";

using Get0 = int (*)();
using Get1 = int (*)(int);
using Set2 = int (*)(int, int);
using Frame = void (*)(int*, int*, int*, int*);
using SetFrame = int (*)(int, int, int, int);

class StagedLibrary : public testing::Test {
 protected:
  void SetUp() override {
    static void* sim = dlopen(DRAVN_SIM_LIB_DIR "/libusb-1.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(sim, nullptr) << dlerror();
  }
  void TearDown() override {
    if (m_lib) {
      if (auto* exit = Fn<void (*)()>("exitlibrary")) exit();
      dlclose(m_lib);
    }
  }
  void Load() {
    m_lib = dlopen(kMqcontrol, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_lib, nullptr) << dlerror();
  }
  template <typename F>
  F Fn(const char* name) {
    F fn = reinterpret_cast<F>(dlsym(m_lib, name));
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }
  int Call0(const char* name) {
    auto fn = Fn<Get0>(name);
    return fn ? fn() : -99;
  }
  int Call1(const char* name, int a) {
    auto fn = Fn<Get1>(name);
    return fn ? fn(a) : -99;
  }
  int Call2(const char* name, int a, int b) {
    auto fn = Fn<Set2>(name);
    return fn ? fn(a, b) : -99;
  }
  std::vector<int> ReadFrame(const char* name) {
    std::vector<int> v(4, -99);
    if (auto fn = Fn<Frame>(name)) fn(&v[0], &v[1], &v[2], &v[3]);
    return v;
  }
  // A generic simulated scanner of the model's product id, whose EEPROM
  // starts as the given bytes; libmqcontrol reads it into its image.
  void OpenDevice(int productId, const char* device, const std::vector<std::pair<int, int>>& bytes,
                  const std::string& extra = "") {
    std::string image(512, '\0');
    for (const auto& b : bytes) image[b.first] = static_cast<char>(b.second);
    std::string fixture = m_bench.Dir() + "/eeprom.bin";
    dravn_test::WriteFile(fixture, image);
    char line[160];
    std::snprintf(line, sizeof line, "device generic 2d4e:%04x bus=1 address=2\n", productId);
    char conf[64];
    std::snprintf(conf, sizeof conf, "usb 0x2d4e 0x%04x\n", productId);
    m_bench.Config(conf);
    m_bench.Scenario(std::string(line) + "set eeprom=" + fixture + "\nset state=" + m_bench.Dir() + "/state" +
                     std::to_string(productId) + "\n" + extra);
    Load();
    m_device = device;
    ASSERT_EQ(Fn<int (*)(const char*, int)>("initlibrary")(m_device.c_str(), 0), 1);
    ASSERT_EQ(Call0("GetEEPROMData"), 1);
  }
  // The device's persistent EEPROM, read past the library.
  std::vector<unsigned char> Persistent() {
    std::vector<unsigned char> out(512, 0);
    void* devwatch = dlopen(devwatch_test::kLibrary, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(devwatch, nullptr);
    if (!devwatch) return out;
    using Read = int (*)(const char*, unsigned char*, unsigned short);
    auto read = reinterpret_cast<Read>(dlsym(devwatch, "dvwc_GetEEPROM_Element"));
    EXPECT_TRUE(read && read(m_device.c_str(), out.data(), 512));
    dlclose(devwatch);
    return out;
  }

  devwatch_test::Bench m_bench;
  void* m_lib = nullptr;
  std::string m_device;
};

}  // namespace staged_mqcontrol

#endif
