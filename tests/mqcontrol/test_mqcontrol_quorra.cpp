// The consumables record, its resets and the power timers through the
// staged libmqcontrol's exports, over simulated scanners and over images
// put in the library's cache (so that families no simulated scanner plays
// count too).
#include <gtest/gtest.h>

#include <clocale>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "quorra_info.h"
#include "staged_mqcontrol.h"

namespace {

using namespace staged_mqcontrol;
using Image = std::vector<std::pair<int, int>>;

class Quorra : public StagedLibrary {
 protected:
  void SetUp() override {
    StagedLibrary::SetUp();
    setenv("LC_ALL", "C", 1);
  }
  unsigned char* Cache() { return Data<unsigned char>("g_byEEPData"); }
  template <typename T>
  T* Data(const char* name) {
    return reinterpret_cast<T*>(dlsym(m_lib, name));
  }
  // The library's image replaced by these bytes, as if read from the device.
  void PutImage(const Image& bytes, int size = 512) {
    std::memset(Cache(), 0, 512);
    for (const auto& b : bytes) Cache()[b.first] = static_cast<unsigned char>(b.second);
    *Data<int>("g_nReadEEPSize") = size;
  }
  // A device context for a model no simulated scanner plays.
  void OpenUnlisted(const char* device) {
    m_bench.Scenario("");
    Load();
    m_device = device;
    ASSERT_EQ(Fn<int (*)(const char*, int)>("initlibrary")(m_device.c_str(), 0), 1);
  }
  kelo_quorra_info Record() {
    kelo_quorra_info r;
    std::memset(&r, 0, sizeof r);
    EXPECT_EQ(Fn<int (*)(kelo_quorra_info*)>("GetQuorraInfo")(&r), 1);
    return r;
  }
  int* Reset(const char* name) { return Fn<int* (*)()>(name)(); }
};

std::string Text(const char* s) { return s ? s : "(null)"; }

TEST(QuorraRecord, LayoutAsConsutoolReadsIt) {
  EXPECT_EQ(offsetof(kelo_quorra_info, flatbed), 16u);
  EXPECT_EQ(offsetof(kelo_quorra_info, rollerLabel), 24u);
  EXPECT_EQ(offsetof(kelo_quorra_info, afterCleaningLabel), 40u);
  EXPECT_EQ(offsetof(kelo_quorra_info, totalAdf), 48u);
  EXPECT_EQ(offsetof(kelo_quorra_info, powerSavingMin), 68u);
  EXPECT_EQ(offsetof(kelo_quorra_info, powerOffChoice), 92u);
  EXPECT_EQ(offsetof(kelo_quorra_info, cleaningDue), 112u);
  EXPECT_EQ(offsetof(kelo_quorra_info, powerOffCode), 136u);
}

// The counters of each group from a cached image.
TEST_F(Quorra, CountersPerGroup) {
  struct Row {
    const char* device;
    int pid;  // 0: no simulated scanner plays the model
    Image image;
    int adf, flatbed, roller, pick, after;
    const char *rollerLabel, *pickLabel, *afterLabel;
  } rows[] = {
      // Units of 500 and 10 sheets, and single sheets at 294/295.
      {"Tavrin3T1000:001:002", 0x1601, {{46, 3}, {38, 7}, {294, 4}, {44, 2}, {39, 5}, {295, 6}, {124, 0x10}, {125, 1}, {60, 2}},
       1574, 1056, 136000, 1000, 0, "Brake Roller:", "Pick Roller:", "(null)"},
      // The units digit kept at offset 42 is not kept for DunmoMe2 (no flag).
      {"DunmoMe2M30:001:002", 0, {{46, 1}, {38, 1}, {42, 9}, {62, 3}, {60, 4}}, 510, 0, 1500, 2000, 0,
       "Brake Roller:", "Pick Roller:", "(null)"},
      // RTOS: big-endian totals, 28-bit counters (0xF3 reads as 0x03).
      {"Tv5A100:001:002", 0x1701,
       {{412, 0}, {413, 1}, {414, 0}, {415, 2}, {423, 9}, {400, 0xF3}, {403, 1}, {404, 0x10}, {407, 5}, {424, 0x80}, {427, 7}},
       65538, 9, 0x03000001, 5, 7, "Brake Roller:", "Pick Roller:", "After cleaning:"},
      // Zembl: big-endian words and never a flatbed.
      {"ZemblZ350:001:002", 0x1D01, {{7, 200}, {15, 3}, {3, 4}, {87, 5}}, 200, 0, 4, 5, 0, "Pad:", "Pick Roller:",
       "(null)"},
      // Velmorak E: "Roller Set:", the roller at 404, no pick line.
      {"VelmorakVK5000:001:002", 0x1B05, {{407, 8}, {60, 9}}, 0, 0, 8, 0, 0, "Roller Set:", "(null)", "(null)"},
      // Velmorak series A: byte-wise counters.
      {"VelmorakVK1000:001:002", 0, {{38, 5}, {125, 1}, {124, 2}, {61, 3}, {60, 1}, {49, 2}, {48, 3}}, 5, 0,
       65536 + 512 + 3, 65536 + 512 + 3, 0, "Pad:", "Pick Roller:", "(null)"},
      // Selko family: roller at 60.
      {"SelkoS150:001:002", 0, {{60, 2}}, 0, 0, 1000, 0, 0, "Roller Set:", "(null)", "(null)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.device);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    if (r.pid)
      OpenDevice(r.pid, r.device, {}, "set vpd_byte=32:64\n");
    else
      OpenUnlisted(r.device);
    PutImage(r.image);
    kelo_quorra_info q = Record();
    EXPECT_EQ(q.totalAdf, r.adf);
    EXPECT_EQ(q.totalFlatbed, r.flatbed);
    EXPECT_EQ(q.roller, r.roller);
    EXPECT_EQ(q.pick, r.pick);
    EXPECT_EQ(q.afterCleaning, r.after);
    EXPECT_EQ(Text(q.rollerLabel), r.rollerLabel);
    EXPECT_EQ(Text(q.pickLabel), r.pickLabel);
    EXPECT_EQ(Text(q.afterCleaningLabel), r.afterLabel);
    EXPECT_EQ(q.reserved33, 0);
  }
}

TEST_F(Quorra, FlatbedFromTheInquiry) {
  for (int bit : {0x40, 0x00}) {
    SCOPED_TRACE(bit);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    OpenDevice(0x1601, "Tavrin3T1000:001:002", {}, "set vpd_byte=32:" + std::to_string(bit) + "\n");
    PutImage({{44, 1}});
    kelo_quorra_info q = Record();
    EXPECT_EQ(q.flatbed, bit ? 1 : 0);
    EXPECT_EQ(q.totalFlatbed, bit ? 500 : 0);
  }
}

// Near-end at cycle x 9500, due at cycle x 10000. (No accessor reads a
// cycle of 0: each falls back to its model's default.)
TEST_F(Quorra, MarksAtTheCycle) {
  struct Row {
    int cycle;  // brake-roller cycle, in 10,000 sheets (RTOS bytes 464..467)
    int roller;
    int nearEnd, due;
  } rows[] = {{2, 18999, 0, 0}, {2, 19000, 1, 0}, {2, 19999, 1, 0}, {2, 20000, 0, 1}, {3, 28499, 0, 0}, {3, 28500, 1, 0}, {3, 30000, 0, 1}};
  OpenDevice(0x1701, "Tv5A100:001:002", {});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.roller);
    const unsigned cycle = static_cast<unsigned>(r.cycle) * 10000u;
    PutImage({{400, r.roller >> 24},
              {401, (r.roller >> 16) & 0xFF},
              {402, (r.roller >> 8) & 0xFF},
              {403, r.roller & 0xFF},
              {464, cycle >> 24},
              {465, (cycle >> 16) & 0xFF},
              {466, (cycle >> 8) & 0xFF},
              {467, cycle & 0xFF}});
    kelo_quorra_info q = Record();
    EXPECT_EQ(q.rollerNearEnd, r.nearEnd);
    EXPECT_EQ(q.rollerDue, r.due);
  }
}

TEST_F(Quorra, EachCallAsksTheDeviceAfresh) {
  OpenDevice(0x1601, "Tavrin3T1000:001:002", {}, "set vpd_byte=32:64\n");
  m_bench.ClearTranscript();
  Record();
  const std::string first = m_bench.TakeTranscript();
  Record();
  const std::string second = m_bench.TakeTranscript();
  auto opens = [](const std::string& t) {
    size_t n = 0;
    for (size_t at = t.find(" open -> 0"); at != std::string::npos; at = t.find(" open -> 0", at + 1)) ++n;
    return n;
  };
  EXPECT_GT(opens(first), 0u);
  EXPECT_EQ(opens(first), opens(second));
}

// Each reset clears its counter in the image; for the simulated families
// the write then clears it on the device and changes nothing else.
TEST_F(Quorra, ResetsReachTheDevice) {
  struct Row {
    int pid;
    const char* device;
    const char* reset;
    Image counters;  // the device's EEPROM before
    Image after;     // the bytes that change, and their new values
  } rows[] = {
      {0x1601, "Tavrin3T1000:001:002", "OnResetBrake", {{124, 0x34}, {125, 0x12}, {60, 5}}, {{124, 0}, {125, 0}}},
      {0x1601, "Tavrin3T1000:001:002", "OnResetPick", {{124, 0x34}, {60, 5}, {61, 6}}, {{60, 0}, {61, 0}}},
      // RTOS: the top four bits of 400 and 404 hold other settings.
      {0x1701, "Tv5A100:001:002", "OnResetBrake", {{400, 0xA3}, {401, 1}, {403, 2}, {404, 0x57}},
       {{400, 0xA0}, {401, 0}, {403, 0}}},
      {0x1701, "Tv5A100:001:002", "OnResetPick", {{400, 0xA3}, {404, 0x57}, {405, 9}, {407, 1}},
       {{404, 0x50}, {405, 0}, {407, 0}}},
      {0x1701, "Tv5A100:001:002", "OnResetAfterCleaning", {{424, 0x9F}, {425, 1}, {427, 3}},
       {{424, 0x80}, {425, 0}, {427, 0}}},
  };
  int row = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.device) + " " + r.reset);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    Image eeprom = r.counters;
    eeprom.push_back({100, 0x5A});
    // A new device each row, not the one the last row left.
    OpenDevice(r.pid, r.device, eeprom, "set state=" + m_bench.Dir() + "/row" + std::to_string(row++) + "\n");
    std::vector<unsigned char> expected = Persistent();
    for (const auto& a : r.after) expected[a.first] = static_cast<unsigned char>(a.second);
    int* edited = Reset(r.reset);
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(*edited, 1);
    for (const auto& a : r.after) EXPECT_EQ(Cache()[a.first], a.second) << a.first;
    ASSERT_EQ(Call0("SetEEPROMData"), 0);
    std::vector<unsigned char> after = Persistent();
    for (int k = 0; k < 512; ++k) EXPECT_EQ(after[k], expected[k]) << "byte " << k;
  }
}

// The families no simulated scanner plays: the image bytes of each reset.
TEST_F(Quorra, ResetsOfTheCachedImage) {
  struct Row {
    const char* device;
    const char* reset;
    Image counters;
    Image after;
  } rows[] = {
      {"DunmoMe2M30:001:002", "OnResetBrake", {{62, 1}, {63, 2}}, {{62, 0}, {63, 0}}},
      {"DunmoMe2M30:001:002", "OnResetPick", {{60, 1}, {61, 2}}, {{60, 0}, {61, 0}}},
      {"DunmoMe2M30:001:002", "OnResetAfterCleaning", {{48, 0x34}, {49, 0x92}}, {{48, 0}, {49, 0x80}}},
      {"Vantor410:001:002", "OnResetAfterCleaning", {{48, 0x34}, {49, 0x12}}, {{48, 0}, {49, 0}}},
      {"ZemblZ350:001:002", "OnResetBrake", {{0, 1}, {3, 2}, {4, 7}}, {{0, 0}, {3, 0}, {4, 7}}},
      {"VelmorakVK5000:001:002", "OnResetBrake", {{400, 1}, {407, 2}, {408, 3}}, {{400, 0}, {407, 0}, {408, 3}}},
      {"VelmorakVK1000:001:002", "OnResetBrake", {{61, 1}, {124, 2}, {125, 3}}, {{61, 0}, {124, 0}, {125, 0}}},
      {"VelmorakVK1000:001:002", "OnResetPick", {{48, 1}, {49, 2}, {60, 3}}, {{48, 0}, {49, 0}, {60, 0}}},
      {"SelkoS150:001:002", "OnResetBrake", {{60, 1}, {61, 2}}, {{60, 0}, {61, 0}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.device) + " " + r.reset);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    OpenUnlisted(r.device);
    PutImage(r.counters);
    EXPECT_EQ(*Reset(r.reset), 1);
    for (const auto& a : r.after) EXPECT_EQ(Cache()[a.first], a.second) << a.first;
  }
}

}  // namespace
