// Scan offsets and magnifications: the codecs, the record from each layout
// of a cached image, and the write through the staged libmqcontrol to
// simulated scanners.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "offset_data.h"
#include "staged_mqcontrol.h"

namespace {

using namespace staged_mqcontrol;
using Image = std::vector<std::pair<int, int>>;

TEST(OffsetCodec, NibblesAndMagnifications) {
  struct Nibble {
    int value;
    unsigned nibble;
  } nibbles[] = {{0, 0x0}, {2, 0x2}, {4, 0x4}, {7, 0x7}, {-1, 0x9}, {-3, 0xB}, {-4, 0xC}, {-7, 0xF}};
  for (const Nibble& n : nibbles) {
    EXPECT_EQ(NibbleOfOffset(n.value), n.nibble) << n.value;
    EXPECT_EQ(OffsetOfNibble(n.nibble), n.value) << n.value;
  }
  // Front main -3 and front sub 2 share one byte.
  EXPECT_EQ(NibbleOfOffset(-3) | NibbleOfOffset(2) << 4, 0x2Bu);
  struct Magnification {
    int value;
    unsigned char byte;
    int read5, read6;
  } magnifications[] = {{-31, 0x9F, -31, -31}, {31, 0x1F, 31, 31}, {0, 0x00, 0, 0}, {-1, 0x81, -1, -1}};
  for (const Magnification& m : magnifications) {
    EXPECT_EQ(ByteOfMagnification(m.value), m.byte) << m.value;
    EXPECT_EQ(MagnificationOfByte(m.byte, 5), m.read5);
    EXPECT_EQ(MagnificationOfByte(m.byte, 6), m.read6);
  }
  // The 6-bit magnitudes of the older models read bit 5 too.
  EXPECT_EQ(MagnificationOfByte(0xBF, 5), -31);
  EXPECT_EQ(MagnificationOfByte(0xBF, 6), -63);
}

class Offsets : public StagedLibrary {
 protected:
  void OpenUnlisted(const char* device, int restricted = 0) {
    m_bench.Scenario("");
    Load();
    m_device = device;
    ASSERT_EQ(Fn<int (*)(const char*, int)>("initlibrary")(m_device.c_str(), restricted), 1);
  }
  void PutImage(const Image& bytes) {
    auto* image = reinterpret_cast<unsigned char*>(dlsym(m_lib, "g_byEEPData"));
    std::memset(image, 0, 512);
    for (const auto& b : bytes) image[b.first] = static_cast<unsigned char>(b.second);
  }
  // The record over a caller's record of 99s, so untouched fields show.
  kelo_offset_data Get() {
    kelo_offset_data d;
    for (int32_t* v = &d.flatbedMain; v <= &d.adfMagnification; ++v) *v = 99;
    d.flatbed = d.modelFlag = d.endOfPageSupported = d.offsetsSupported = 99;
    Fn<void (*)(kelo_offset_data*)>("GetOffSetData")(&d);
    return d;
  }
};

std::vector<int> Values(const kelo_offset_data& d) {
  return {d.flatbedMain, d.flatbedSub,  d.adfFrontMain,         d.adfFrontSub,     d.adfBackMain, d.adfBackSub,
          d.adfFrontEnd, d.adfBackEnd, d.flatbedMagnification, d.adfMagnification};
}
std::vector<int> Flags(const kelo_offset_data& d) {
  return {d.flatbed, d.modelFlag, d.endOfPageSupported, d.offsetsSupported};
}

TEST_F(Offsets, RecordPerLayout) {
  struct Row {
    const char* device;
    Image image;
    std::vector<int> values;  // fb main, fb sub, front main, front sub, back main, back sub, front end, back end,
                              // fb magnification, ADF magnification
    std::vector<int> flags;   // flatbed, model flag, end of page, supported
  } rows[] = {
      {"Tavrin3T1000:001:002", {{53, 0x2B}, {54, 0xC4}, {55, 0x19}, {56, 0x9F}, {57, 0x05}},
       {-1, 1, -3, 2, 4, -4, 99, 99, 5, -31}, {1, 0, 0, 1}},
      {"Tavrin3T2000:001:002", {}, {0, 0, 0, 0, 0, 0, 99, 99, 0, 0}, {0, 0, 0, 1}},
      {"RuvikR120:001:002", {{53, 0x21}}, {0, 0, 1, 2, 0, 0, 99, 99, 0, 0}, {1, 1, 0, 0}},
      // The end-of-page model keeps its ends where the others keep the flatbed.
      {"DunmoD1600:001:002", {{53, 0x11}, {55, 0xA3}, {57, 0x83}}, {99, 99, 1, 1, 0, 0, 3, -2, -3, 0}, {1, 0, 1, 1}},
      {"Sx3K700:001:002", {{53, 0x01}, {359, 0x9C}, {56, 0x02}, {57, 0x05}}, {99, 99, 1, 0, 0, 0, -4, -1, 99, 2},
       {0, 0, 1, 1}},
      // Older layout, 5- and 6-bit magnitudes.
      {"ZemblZ350:001:002", {{220, 0x12}, {222, 0x30}, {218, 0xBF}, {219, 0x21}}, {0, 3, 2, 1, 0, 0, 99, 99, 1, -31},
       {0, 0, 0, 1}},
      {"QuillQ10:001:002", {{218, 0xBF}}, {0, 0, 0, 0, 0, 0, 99, 99, 0, -63}, {0, 0, 0, 1}},
      // Position pairs: differences of big-endian words, / 12 toward zero.
      {"DunmoD1200:001:002",
       {{16, 0x01}, {17, 0x00}, {76, 0x00}, {77, 0xE8}, {18, 0x00}, {19, 0x00}, {78, 0x00}, {79, 0x19}, {22, 0x00}, {23, 0x30}},
       {-2, 2, -4, 0, 99, 99, 99, 99, 99, 99}, {1, 0, 0, 1}},
      // Offsets supported, but no layout: zeros. A feeder-only model.
      {"Pilvo700:001:002", {{53, 0x33}}, {0, 0, 0, 0, 0, 0, 99, 99, 0, 0}, {0, 0, 0, 1}},
      {"SelkoS150:001:002", {{53, 0x33}}, {0, 0, 0, 0, 0, 0, 99, 99, 0, 0}, {1, 0, 0, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.device);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    OpenUnlisted(r.device);
    PutImage(r.image);
    kelo_offset_data d = Get();
    EXPECT_EQ(Values(d), r.values);
    EXPECT_EQ(Flags(d), r.flags);
  }
}

TEST_F(Offsets, RestrictedModeHidesEndOfPage) {
  for (const char* device : {"DunmoD1600:001:002", "Sx3K700:001:002"}) {
    SCOPED_TRACE(device);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    OpenUnlisted(device, 1);
    EXPECT_EQ(Get().endOfPageSupported, 0);
  }
}

TEST_F(Offsets, WrittenAndCommitted) {
  struct Row {
    int pid;
    const char* device;
    Image changed;
  } rows[] = {
      {0x1601, "Tavrin3T1000:001:002", {{53, 0x2B}, {54, 0x40}, {55, 0x19}, {56, 0x9F}, {57, 0x03}}},
      {0x1911, "Sx3K700:001:002", {{53, 0x2B}, {54, 0x40}, {56, 0x9F}, {359, 0xA1}}},
  };
  int row = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.device);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    OpenDevice(r.pid, r.device, {{55, 0x77}, {57, 0x44}, {100, 0x5A}},
               "set state=" + m_bench.Dir() + "/row" + std::to_string(row++) + "\n");
    std::vector<unsigned char> expected = Persistent();
    for (const auto& c : r.changed) expected[c.first] = static_cast<unsigned char>(c.second);
    kelo_offset_data d = {};
    d.adfFrontMain = -3;
    d.adfFrontSub = 2;
    d.adfBackSub = 4;
    d.flatbedMain = -1;
    d.flatbedSub = 1;
    d.adfFrontEnd = 1;
    d.adfBackEnd = -2;
    d.adfMagnification = -31;
    d.flatbedMagnification = 3;
    m_bench.ClearTranscript();
    EXPECT_EQ(Fn<int (*)(const kelo_offset_data*)>("SetOffSetData")(&d), 1);
    const std::string transcript = m_bench.TakeTranscript();
    // One write of 53..57 (and 359 on the Saldex3 model), then the commit.
    const size_t commits = transcript.find(devwatch_test::HexText("DEBUG,E2P,WRT   "));
    EXPECT_NE(commits, std::string::npos) << transcript;
    std::vector<unsigned char> after = Persistent();
    for (int k = 0; k < 512; ++k) EXPECT_EQ(after[k], expected[k]) << "byte " << k;
  }
}

TEST_F(Offsets, NoWriteEncodingWritesNothing) {
  for (const char* device : {"GorlanG150:001:002", "Pilvo700:001:002", "ZemblZ350:001:002"}) {
    SCOPED_TRACE(device);
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
    OpenUnlisted(device);
    PutImage({{53, 0x12}});
    m_bench.ClearTranscript();
    kelo_offset_data d = {};
    d.adfFrontMain = 3;
    EXPECT_EQ(Fn<int (*)(const kelo_offset_data*)>("SetOffSetData")(&d), 0);
    EXPECT_EQ(m_bench.ReadTranscript(), "");
    EXPECT_EQ(reinterpret_cast<unsigned char*>(dlsym(m_lib, "g_byEEPData"))[53], 0x12);
  }
}

}  // namespace
