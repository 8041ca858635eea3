#include "engine_fake.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "dev_set_ctrl.h"
#include "dravn_paths.h"
#include "field_merge.h"
#include "mqcontrol_context.h"

namespace engine_test {

FakeDevice g_fake;
std::vector<unsigned> g_pauses;

namespace {

std::string g_deviceString;
std::string g_modelName;

void ResetEngine() {
  g_CDevSetCtrl = CDevSetCtrl();
  std::memset(g_byEEPData, 0, sizeof g_byEEPData);
  g_nReadEEPSize = 0;
  g_bDevSetEdit = 0;
  for (auto* set : {g_VantorAmodFlags, g_VantorBmodFlags}) std::memset(set, 0, 13);
  std::memset(g_PilvomodFlags, 0, sizeof g_PilvomodFlags);
  std::memset(g_DunmoMe2modFlags, 0, sizeof g_DunmoMe2modFlags);
  std::memset(g_Tavrin3modFlags, 0, sizeof g_Tavrin3modFlags);
  std::memset(g_RTOSmodFlags, 0, sizeof g_RTOSmodFlags);
  g_fake = FakeDevice();
  g_pauses.clear();
}

void Activate(const std::string& device, void* handle) {
  ResetEngine();
  g_deviceString = device;
  g_modelName = device.substr(0, device.find(':'));
  g_cpActiveScanner = g_deviceString.c_str();
  g_cpActiveScannerName = g_modelName.data();
  g_vpDevwatch = handle;
}

std::string Record(const char* name, const char* device, const std::string& rest = "") {
  g_fake.device = device ? device : "";
  std::string line = std::string(name) + (rest.empty() ? "" : " " + rest);
  g_fake.calls.push_back(line);
  return line;
}

int Read(const Bytes& from, unsigned char* buffer, unsigned short n) {
  if (g_fake.failRead) return 0;
  std::memcpy(buffer, from.data(), std::min<size_t>(n, from.size()));
  return 1;
}

// A blob as the device delivers it: length record, then the data.
Bytes WithRecord(const Bytes& data) {
  Bytes blob(4 + data.size(), 0);
  blob[0] = static_cast<uint8_t>(data.size() >> 8);
  blob[1] = static_cast<uint8_t>(data.size());
  blob[3] = 1;
  std::copy(data.begin(), data.end(), blob.begin() + 4);
  return blob;
}

int Length(const Bytes& data, uint32_t* record) {
  std::memcpy(record, WithRecord({}).data(), 4);
  reinterpret_cast<uint8_t*>(record)[0] = static_cast<uint8_t>(data.size() >> 8);
  reinterpret_cast<uint8_t*>(record)[1] = static_cast<uint8_t>(data.size());
  return 1;
}

int Data(const Bytes& data, unsigned char* buffer, unsigned short n) {
  Bytes blob = WithRecord(data);
  std::memcpy(buffer, blob.data(), std::min<size_t>(n, blob.size()));
  return 1;
}

}  // namespace

void UseFake(const std::string& model, Variant variant) {
  const char* file = variant == Variant::Full      ? FAKE_DEVWATCH_DIR "/libfake_devwatch_full.so"
                     : variant == Variant::NoWrite ? FAKE_DEVWATCH_DIR "/libfake_devwatch_nowrite.so"
                                                   : FAKE_DEVWATCH_DIR "/libfake_devwatch_bare.so";
  EndDevice();
  void* handle = dlopen(file, RTLD_LAZY);
  ASSERT_NE(handle, nullptr) << dlerror();
  Activate(model + ":001:002", handle);
}

void UseDevwatch(const std::string& device) {
  static void* sim = dlopen(DRAVN_SIM_LIB_DIR "/libusb-1.0.so.0", RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(sim, nullptr) << dlerror();
  // Unloaded first, so that the library lists the devices afresh.
  EndDevice();
  void* handle = dlopen(DRAVN_LIB_DIR "/libdevwatch.so", RTLD_LAZY);
  ASSERT_NE(handle, nullptr) << dlerror();
  Activate(device, handle);
}

void EndDevice() {
  if (g_vpDevwatch) dlclose(g_vpDevwatch);
  g_vpDevwatch = nullptr;
  g_cpActiveScanner = nullptr;
  g_cpActiveScannerName = nullptr;
}

Bytes SourcePattern() {
  Bytes b(512);
  for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<uint8_t>(k * 37 + 11);
  return b;
}

Bytes DevicePattern() {
  Bytes b = SourcePattern();
  for (uint8_t& v : b) v = static_cast<uint8_t>(~v);
  return b;
}

}  // namespace engine_test

using engine_test::g_fake;
using engine_test::Record;

// The entries the fake library hands over, found in this program.
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int fake_GetEEPROM(const char* d, unsigned char* b, unsigned short n) {
  Record("GetEEPROM", d, std::to_string(n));
  return engine_test::Read(g_fake.working, b, n);
}
FAKE_EXPORT int fake_GetEEPROM_Element(const char* d, unsigned char* b, unsigned short n) {
  Record("GetEEPROM_Element", d, std::to_string(n));
  if (!engine_test::Read(g_fake.persistent, b, n)) return 0;
  if (g_fake.mismatches > 0 && n > 328) {
    --g_fake.mismatches;
    b[328] = static_cast<uint8_t>(~b[328]);
  }
  return 1;
}
FAKE_EXPORT int fake_GetDefaultEEPROM(const char* d, unsigned char* b, unsigned short n) {
  Record("GetDefaultEEPROM", d, std::to_string(n));
  return engine_test::Read(g_fake.factory, b, n);
}
FAKE_EXPORT int fake_WriteEEPROM(const char* d, const unsigned char* b, unsigned short n, unsigned short at) {
  Record("WriteEEPROM", d, std::to_string(n) + "@" + std::to_string(at));
  if (g_fake.failWrite || at + n > 512) return 0;
  std::copy(b, b + n, g_fake.working.begin() + at);
  return 1;
}
FAKE_EXPORT int fake_LockEEPROM(const char* d) {
  Record("LockEEPROM", d);
  if (g_fake.failLock) return 0;
  g_fake.persistent = g_fake.working;
  return 1;
}
FAKE_EXPORT int fake_Inquiry2(const char* d, unsigned char* b) {
  Record("Inquiry2", d);
  std::memset(b, 0, 128);
  std::memcpy(b + 8, "MORANTI ", 8);
  return 1;
}
FAKE_EXPORT int fake_InquiryVPD(const char* d, unsigned char* b, unsigned short n, int open) {
  Record("InquiryVPD", d, std::to_string(n) + "," + std::to_string(open));
  std::memcpy(b, g_fake.vpd.data(), std::min<size_t>(n, g_fake.vpd.size()));
  return 1;
}
FAKE_EXPORT int fake_ClearRemainInk(const char* d, const unsigned char* b, unsigned short n) {
  std::string text(reinterpret_cast<const char*>(b), n);
  Record("ClearRemainInk", d, text);
  g_fake.inkTexts.push_back(text);
  return g_fake.failInk ? 0 : 1;
}
FAKE_EXPORT int fake_DeviceRestart(const char* d) {
  Record("DeviceRestart", d);
  return 7;
}
FAKE_EXPORT int fake_GetSOPSettingsLength(const char* d, uint32_t* r) {
  Record("GetSOPSettingsLength", d);
  return engine_test::Length(g_fake.settings, r);
}
FAKE_EXPORT int fake_GetSOPSettingsData(const char* d, unsigned char* b, const unsigned char*, unsigned short n) {
  Record("GetSOPSettingsData", d, std::to_string(n));
  return engine_test::Data(g_fake.settings, b, n);
}
FAKE_EXPORT int fake_GetIMFFPatternLength(const char* d, uint32_t* r) {
  Record("GetIMFFPatternLength", d);
  return engine_test::Length(g_fake.pattern, r);
}
FAKE_EXPORT int fake_GetIMFFPatternData(const char* d, unsigned char* b, const unsigned char*, unsigned short n) {
  Record("GetIMFFPatternData", d, std::to_string(n));
  return engine_test::Data(g_fake.pattern, b, n);
}
FAKE_EXPORT int fake_SetSOPSettingsData(const char* d, const unsigned char* b, unsigned short n) {
  Record("SetSOPSettingsData", d, std::to_string(n));
  g_fake.puts.emplace_back(b, b + n);
  return g_fake.putAnswer;
}
FAKE_EXPORT int fake_SetIMFFPatternData(const char* d, const unsigned char* b, unsigned short n) {
  Record("SetIMFFPatternData", d, std::to_string(n));
  g_fake.puts.emplace_back(b, b + n);
  return g_fake.putAnswer;
}

// The engine's pauses end at once and are counted: no test waits.
extern "C" __attribute__((visibility("default"))) int usleep(useconds_t us) {
  engine_test::g_pauses.push_back(static_cast<unsigned>(us));
  return 0;
}
