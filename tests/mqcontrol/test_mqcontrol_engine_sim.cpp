// The settings image engine over the staged libdevwatch and simulated
// scanners of the generic family: one model of every row of the write
// paths that a device table lists, the commit check, the ink-life reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dev_set_ctrl.h"
#include "devwatch_test_util.h"
#include "engine_fake.h"
#include "field_merge.h"
#include "mqcontrol_context.h"
#include "quorra_info.h"

namespace {

using namespace engine_test;
using devwatch_test::DataOut;
using devwatch_test::HexText;

std::string Hex16(unsigned v) {
  char s[5];
  snprintf(s, sizeof s, "%04x", v);
  return s;
}

// The allocation lengths of the RECEIVE DIAGNOSTIC RESULTS command blocks
// (the CDB from byte 19 of the block).
std::vector<int> Receives(const std::string& transcript) {
  static const std::string kLead = "bulk out ep=0x02 len=31 actual=31 -> 0 ";
  std::vector<int> sizes;
  for (size_t at = transcript.find(kLead); at != std::string::npos; at = transcript.find(kLead, at + 1)) {
    std::string hex = transcript.substr(at + kLead.size(), 62);
    if (hex.substr(38, 2) == "1c") sizes.push_back(std::stoi(hex.substr(44, 4), nullptr, 16));
  }
  return sizes;
}

class EngineSim : public testing::Test {
 protected:
  void TearDown() override { EndDevice(); }

  // One generic scanner with the device pattern in both EEPROMs.
  void Plug(const std::string& model, unsigned pid, const std::string& extra = "") {
    // A new device each time.
    std::remove((m_bench.Dir() + "/eep").c_str());
    std::remove((m_bench.Dir() + "/eep.ink").c_str());
    const Bytes start = DevicePattern();
    dravn_test::WriteFile(m_bench.Dir() + "/start", std::string(start.begin(), start.end()));
    m_bench.Config("usb 0x2d4e 0x" + Hex16(pid) + "\n");
    m_bench.Scenario("device generic 2d4e:" + Hex16(pid) + " bus=1 address=2\nset state=" + m_bench.Dir() +
                     "/eep\nset eeprom=" + m_bench.Dir() + "/start\n" + extra);
    UseDevwatch(model + ":001:002");
    Bytes source = SourcePattern();
    std::memcpy(g_byEEPData, source.data(), 512);
    m_bench.ClearTranscript();
  }
  Bytes Persistent() const {
    std::string both = dravn_test::ReadFile(m_bench.Dir() + "/eep");
    return both.size() == 1024 ? Bytes(both.begin() + 512, both.end()) : Bytes();
  }
  std::string Ink() const { return dravn_test::ReadFile(m_bench.Dir() + "/eep.ink"); }
  // The counter as the device answers "GET IMP-LIFE" (-1: no answer).
  long InkAnswer() const {
    auto* send = Dvwc<int(const char*, const unsigned char*, unsigned short)>("dvwc_SendDiagnostic");
    auto* receive = Dvwc<int(const char*, unsigned char*, unsigned short)>("dvwc_ReceiveDiagnosticResult");
    unsigned char answer[4] = {};
    if (!send || !receive || !send(g_cpActiveScanner, reinterpret_cast<const unsigned char*>("GET IMP-LIFE 2  "), 16) ||
        !receive(g_cpActiveScanner, answer, 4))
      return -1;
    return static_cast<long>(answer[0]) << 24 | answer[1] << 16 | answer[2] << 8 | answer[3];
  }

  devwatch_test::Bench m_bench;
};

// Offsets whose bytes differ from the device pattern, as offset:bits.
std::vector<std::string> Changed(const Bytes& table) {
  Bytes device = DevicePattern();
  std::vector<std::string> out;
  for (size_t k = 0; k < table.size(); ++k)
    if (table[k] != device[k]) out.push_back(std::to_string(k) + ":" + std::to_string(table[k] ^ device[k]));
  return out;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& p : parts) all += (all.empty() ? "" : " ") + p;
  return all;
}

std::string WriteRecord(unsigned length) {
  return std::to_string(20 + length) + ":" + HexText("DEBUG,E2T,WRT  W") + "0000" + Hex16(length);
}

TEST_F(EngineSim, WritePathsOfTheListedModels) {
  struct Case {
    const char* model;
    unsigned pid;
    uint8_t* set;
    size_t flagByte;
    uint8_t flagBit;
    int readFirst;  // bytes read before the write, 0 for none
    unsigned write;
    const char* changed;  // the device's EEPROM afterwards
  } cases[] = {
      // The Tavrin merge: the edited nibble and the always bytes.
      {"Tavrin3T1000", 0x1601, g_Tavrin3modFlags, 0, 0x01, 512, 384, "27:15 64:255 230:255 248:255 280:255 335:255"},
      {"Tavrin4LA110", 0x1621, g_Tavrin3modFlags, 21, 0x02, 512, 384, "61:255 64:255 230:255 248:255 280:255 335:255"},
      {"DunmoD1600", 0x1502, g_Tavrin3modFlags, 7, 0x01, 255, 255, "42:255 64:255 230:255 248:255"},
      {"DunmoD1200", 0x1501, g_Tavrin3modFlags, 28, 0x01, 512, 384, "64:255 230:255 248:255 280:255 335:255 359:255"},
      // The RTOS copy, over the read size.
      {"Tv5A100", 0x1701, g_RTOSmodFlags, 24, 0x02, 512, 512,
       "230:255 267:255 268:255 298:255 338:255 352:255 424:127"},
      {"Tv5E100", 0x1711, g_RTOSmodFlags, 40, 0x01, 512, 512, "230:255 267:255 268:255 298:255 328:1 338:255 352:255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Plug(c.model, c.pid);
    c.set[c.flagByte] |= c.flagBit;
    g_CDevSetCtrl.SetSettingChanged();
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0) << m_bench.ReadTranscript();
    std::string t = m_bench.TakeTranscript();
    std::vector<std::string> out = DataOut(t);
    ASSERT_GE(out.size(), 3u) << t;
    EXPECT_EQ(out[0], "16:" + HexText("DEBUG,E2T,RED  W"));
    EXPECT_EQ(out[1].substr(0, out[1].find(':') + 41), WriteRecord(c.write));
    EXPECT_EQ(out[2], "16:" + HexText("DEBUG,E2P,WRT   "));
    EXPECT_EQ(Receives(t), (std::vector<int>{c.readFirst, 512, 512}));
    EXPECT_EQ(Joined(Changed(Persistent())), c.changed);
    EXPECT_EQ(c.set[c.flagByte], 0);
    EXPECT_EQ(Bytes(g_byEEPData, g_byEEPData + 512), Persistent());
  }
}

TEST_F(EngineSim, WholeImageRowsWriteWhatWasReadFromTheDevice) {
  struct Case {
    const char* model;
    unsigned pid;
    unsigned write;
  } cases[] = {{"ZemblZ350", 0x1D01, 128}, {"VelmorakVK5000", 0x1B05, 512}, {"VelmorakVK3000", 0x1B03, 512}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Plug(c.model, c.pid);
    // Never read from this device: nothing goes out.
    g_CDevSetCtrl.SetSettingChanged();
    EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), -1);
    EXPECT_TRUE(DataOut(m_bench.TakeTranscript()).empty());

    ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
    EXPECT_EQ(g_nReadEEPSize, 512);
    g_byEEPData[100] = 0x5A;
    g_byEEPData[400] = 0x5A;
    g_CDevSetCtrl.SetSettingChanged();
    m_bench.ClearTranscript();
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    std::vector<std::string> out = DataOut(m_bench.TakeTranscript());
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].substr(0, out[0].find(':') + 41), WriteRecord(c.write));
    std::vector<std::string> changed{"100:" + std::to_string(0x5A ^ DevicePattern()[100])};
    if (c.write > 400) changed.push_back("400:" + std::to_string(0x5A ^ DevicePattern()[400]));
    EXPECT_EQ(Changed(Persistent()), changed);
  }
  // A read shorter than the write does not cover it.
  Plug("ZemblZ350", 0x1D01);
  g_nReadEEPSize = 127;
  g_CDevSetCtrl.SetSettingChanged();
  EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), -1);
  EXPECT_TRUE(DataOut(m_bench.TakeTranscript()).empty());
}

TEST_F(EngineSim, CommitCheckPausesAndGivesUpAfterThreePasses) {
  struct Case {
    int mismatch;
    int result;
  } cases[] = {{0, 0}, {2, 0}, {3, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mismatch);
    Plug("Tavrin3T2000", 0x1602, "set commit_mismatch=" + std::to_string(c.mismatch) + "\n");
    g_Tavrin3modFlags[6] = 0x01;
    g_bDevSetEdit = 1;
    EXPECT_EQ(g_CDevSetCtrl.writeDevSetting(0), c.result);
    const size_t passes = c.result == 0 ? static_cast<size_t>(c.mismatch) + 1 : 3;
    EXPECT_EQ(std::count(g_pauses.begin(), g_pauses.end(), 2000000u), static_cast<long>(c.mismatch));
    std::string t = m_bench.TakeTranscript();
    EXPECT_EQ(devwatch_test::Count(t, HexText("DEBUG,E2P,RED  W")), passes);
    EXPECT_EQ(g_Tavrin3modFlags[6], c.result == 0 ? 0 : 1);
    EXPECT_EQ(g_bDevSetEdit, c.result == 0 ? 0 : 1);
  }
}

TEST_F(EngineSim, InkLifeResetOnTheModelsThatTakeIt) {
  struct Case {
    const char* model;
    unsigned pid;
    bool reset;
  } cases[] = {{"Tv5A200", 0x1702, true},      {"Tv5E550", 0x171A, true},       {"Tavrin3T3000", 0x1603, true},
               {"Tavrin4LA130", 0x1623, true}, {"Tavrin4LA170", 0x1627, false}, {"VelmorakVK6000", 0x1B06, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Plug(c.model, c.pid, "set ink_life=4321\n");
    EXPECT_EQ(InkAnswer(), 4321);
    ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
    g_CDevSetCtrl.m_nInkLifeReset = 1;
    g_CDevSetCtrl.SetSettingChanged();
    m_bench.ClearTranscript();
    ASSERT_EQ(g_CDevSetCtrl.writeDevSetting(0), 0);
    std::vector<std::string> out = DataOut(m_bench.TakeTranscript());
    const std::vector<std::string> ink{"16:" + HexText("CLEAR INK-LIFE  "), "16:" + HexText("GET IMP-LIFE    ")};
    if (c.reset) {
      ASSERT_GE(out.size(), 2u);
      EXPECT_EQ(std::vector<std::string>(out.end() - 2, out.end()), ink);
      EXPECT_EQ(Ink(), std::string(4, '\0'));
      EXPECT_EQ(InkAnswer(), 0);
      EXPECT_EQ(g_CDevSetCtrl.m_nInkLifeReset, 0);
    } else {
      EXPECT_EQ(std::find(out.begin(), out.end(), ink[0]), out.end());
      EXPECT_EQ(g_CDevSetCtrl.m_nInkLifeReset, 1);
      EXPECT_EQ(InkAnswer(), 4321);
    }
  }
}

TEST_F(EngineSim, InquiryAnswersFromTheVendorPage) {
  Plug("Tv5A300", 0x1703, "set vpd_byte=32:0x40,92:33\n");
  ASSERT_EQ(g_CDevSetCtrl.readDevSetting(), 0);
  EXPECT_EQ(g_CDevSetCtrl.IsExistFlatbet(), 1);
  EXPECT_EQ(g_CDevSetCtrl.IsEndorserOption(), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(g_CDevSetCtrl.m_byInquiry) + 16, 7), "Tv5A300");
}

}  // namespace

namespace {

// The consumables dialog over a simulated scanner whose cached image holds
// the given bytes, with the model's power-saving setting as given.
class Timers : public EngineSim {
 protected:
  kelo_quorra_info Dialog(const std::string& model, unsigned pid, int powerSaving,
                          const std::vector<std::pair<int, int>>& image, const std::string& extra = "") {
    Plug(model, pid, extra);
    std::memset(g_byEEPData, 0, 512);
    for (const auto& b : image) g_byEEPData[b.first] = static_cast<uint8_t>(b.second);
    g_nReadEEPSize = 512;
    g_cIniInfo = {0, powerSaving, 0, 0, 1, 0, 0};
    g_bPwdProtect = 0;
    g_nLongTimerMinutes = 0;
    m_bench.ClearTranscript();
    CQuorraInfo info;
    return info.Record();
  }
};

TEST_F(Timers, LongTimerFromTheDeviceWithMixedPositions) {
  struct Row {
    const char* model;
    unsigned pid;
    int code;
    int minutes, position, max, supported;
  } rows[] = {
      {"Tv5A100", 0x1701, 0x85, 25, 17, 59, 1},
      {"Tv5A100", 0x1701, 0x0A, 10, 10, 59, 1},
      {"Tv5A100", 0x1701, 0x3D, 15, 15, 59, 1},  // 61 plain minutes: out of range
      {"Tv5A100", 0x1701, 0x84, 20, 16, 59, 1},
      {"Tv5A100", 0x1701, 0x0F, 15, 15, 59, 1},
      {"Tv5A100", 0x1701, 0x00, 15, 15, 59, 1},
      {"Tv5A100", 0x1701, 0xB0, 0, 12, 59, 0},       // 48 steps pass the wide limit of 47
      {"Tavrin3T1000", 0x1601, 0x8C, 0, 12, 23, 0},  // 12 steps pass the limit of 11
      {"Tavrin3T1000", 0x1601, 0x8B, 55, 23, 23, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.model) + " " + std::to_string(r.code));
    kelo_quorra_info q = Dialog(r.model, r.pid, 1, {}, "set long_timer=" + std::to_string(r.code) + "\n");
    EXPECT_EQ(g_nLongTimerMinutes, r.minutes);
    EXPECT_EQ(q.powerSavingSupported, r.supported);
    EXPECT_EQ(q.powerSavingMin, 3);
    EXPECT_EQ(q.powerSavingMax, r.max);
    EXPECT_EQ(q.powerSavingCurrent, r.position);
  }
}

TEST_F(Timers, LongTimerFromTheImage) {
  struct Row {
    const char* model;
    unsigned pid;
    std::vector<std::pair<int, int>> image;
    int minutes, supported;
  } rows[] = {
      {"Tavrin4LA110", 0x1621, {{64, 0x85}}, 25, 1},  // D1
      {"Tavrin4LA110", 0x1621, {{64, 0x80}}, 5, 1},
      {"Tavrin4LA110", 0x1621, {{64, 0x0A}}, 15, 1},
      {"Tavrin4LA110", 0x1621, {{64, 0xB0}}, 0, 0},
      {"Tv5A100", 0x1701, {{298, 0x86}}, 30, 1},     // D1 at 298
      {"Tavrin3T1000", 0x1601, {{64, 0x8A}}, 50, 1},  // D3
      {"Tavrin3T1000", 0x1601, {{64, 0xB0}}, 0, 0},
      {"Tavrin3T1000", 0x1601, {{64, 0x82}}, 15, 1},
      {"ZemblZ350", 0x1D01, {{70, 0}, {71, 22}}, 20, 1},
      {"ZemblZ350", 0x1D01, {{70, 0}, {71, 9}}, 15, 1},
      {"ZemblZ350", 0x1D01, {{70, 0}, {71, 59}}, 55, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.model);
    kelo_quorra_info q = Dialog(r.model, r.pid, 0, r.image);
    EXPECT_EQ(g_nLongTimerMinutes, r.minutes);
    EXPECT_EQ(q.powerSavingSupported, r.supported);
    EXPECT_EQ(q.powerSavingMin, 3);
    EXPECT_EQ(q.powerSavingMax, 11);
    EXPECT_EQ(q.powerSavingCurrent, r.minutes / 5);
  }
}

TEST_F(Timers, PowerOffInkAndRestrictedMode) {
  // A page 0xF0 long enough for the firmware-lot byte 118.
  std::string vpd(144, '\0');
  vpd[0] = 0x06;
  vpd[1] = static_cast<char>(0xF0);
  vpd[3] = static_cast<char>(vpd.size() - 4);
  dravn_test::WriteFile(m_bench.Dir() + "/vpd", vpd);
  const std::string longPage = "set vpd=" + m_bench.Dir() + "/vpd\n";
  // The firmware lot from VPD byte 118, the code from image byte 280.
  kelo_quorra_info q = Dialog("Tavrin4LA110", 0x1621, 0, {{280, 0x08}}, longPage + "set vpd_byte=118:128,92:32\n");
  EXPECT_EQ(q.powerOffSupported, 1);
  EXPECT_EQ(q.powerOffCode, 8);
  EXPECT_EQ(q.powerOffActive, 1);
  EXPECT_EQ(q.powerOffChoice, 1);
  EXPECT_EQ(q.imprinter, 1);
  q = Dialog("Tavrin4LA110", 0x1621, 0, {{280, 0xA0}}, longPage + "set vpd_byte=118:128\n");
  EXPECT_EQ(q.powerOffActive, 0);
  EXPECT_EQ(q.powerOffChoice, 3);
  q = Dialog("Tavrin4LA110", 0x1621, 0, {{280, 0x08}}, longPage);
  EXPECT_EQ(q.powerOffSupported, 0);
  EXPECT_EQ(q.firmLotKnown, 1);

  // Remaining ink, capped at 100.
  q = Dialog("Tv5A100", 0x1701, 0, {}, "set vpd_byte=92:32\nset ink=150\n");
  EXPECT_EQ(q.imprinter, 1);
  EXPECT_EQ(q.remainingInk, 100);
  q = Dialog("Tv5A100", 0x1701, 0, {}, "set vpd_byte=92:32\nset ink=42\n");
  EXPECT_EQ(q.remainingInk, 42);

  // Restricted mode clears the sections and power saving.
  Plug("Tv5A100", 0x1701);
  g_nReadEEPSize = 512;
  g_bPwdProtect = 1;
  CQuorraInfo restricted;
  g_bPwdProtect = 0;
  EXPECT_EQ(restricted.Record().powerSavingSection, 0);
  EXPECT_EQ(restricted.Record().thirdSection, 0);
  EXPECT_EQ(restricted.Record().powerSavingSupported, 0);
}

TEST_F(Timers, FirmwareLotIsAskedOnce) {
  Dialog("Tavrin4LA110", 0x1621, 0, {});
  CQuorraInfo info;
  m_bench.ClearTranscript();
  const int first = info.IsFirmLot6Supported();
  EXPECT_EQ(info.IsFirmLot6Supported(), first);
  EXPECT_TRUE(m_bench.ReadTranscript().empty());
}

TEST_F(Timers, ModeSelectCodes) {
  struct Row {
    const char* model;
    unsigned pid;
    int powerSaving;
    uint16_t minutes;
    int sent;
    uint16_t back;
  } rows[] = {
      {"Tv5A100", 0x1701, 0, 3, 0x81, 0x81},      // a 5-minute floor family
      {"Tavrin3T1000", 0x1601, 0, 3, 0x83, 0x83},
      {"Tavrin3T1000", 0x1601, 0, 20, 0x84, 0x84},
      {"Tavrin3T1000", 0x1601, 1, 10, 10, 10},
      {"Tavrin3T1000", 0x1601, 1, 25, 0x85, 0x85},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.model) + " " + std::to_string(r.minutes));
    Plug(r.model, r.pid);
    g_cIniInfo = {0, r.powerSaving, 0, 0, 1, 0, 0};
    uint16_t minutes = r.minutes;
    CQuorraInfo info;
    ASSERT_EQ(info.ModeSelect_LongTimer(g_cpActiveScanner, &minutes), 1);
    EXPECT_EQ(minutes, r.back);
    uint16_t code = 0;
    ASSERT_EQ(info.ModeSense_LongTimer(g_cpActiveScanner, &code), 1);
    EXPECT_EQ(code, r.sent);
  }
}

TEST_F(Timers, PowerSavingBytesOfTheImage) {
  struct Row {
    const char* model;
    unsigned pid;
    int powerSaving;
    uint16_t minutes;
    int offset, value;
  } rows[] = {
      {"Tavrin3T1000", 0x1601, 0, 30, 64, 0x86},
      {"Tv5A100", 0x1701, 0, 30, 298, 0x86},
      {"DunmoD1200", 0x1501, 0, 25, 328, 0x85},
      {"Tavrin3T1000", 0x1601, 1, 10, 64, 10},
      {"Tv5A100", 0x1701, 1, 20, 64, 0x84},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.model);
    Plug(r.model, r.pid);
    g_nReadEEPSize = 512;
    g_cIniInfo = {0, r.powerSaving, 0, 0, 1, 0, 0};
    std::memset(g_byEEPData, 0, 512);
    CQuorraInfo info;
    EXPECT_EQ(info.SetPowerSavingEEPROM(r.minutes), 1);
    EXPECT_EQ(g_byEEPData[r.offset], r.value);
  }
}

}  // namespace
