// Status, inquiry, blobs, logs, the long timer, the self test and the
// restart of the staged libdevwatch, bound by name, against simulated
// scanners of the generic family.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devwatch_test_util.h"

namespace {

using devwatch_test::Bench;
using devwatch_test::DataOut;
using devwatch_test::Hex;
using devwatch_test::HexText;
using Bytes = std::vector<unsigned char>;

template <typename F>
F* Sym(void* handle, const char* name) {
  F* f = reinterpret_cast<F*>(dlsym(handle, name));
  EXPECT_NE(f, nullptr) << name;
  return f;
}
#define DVWC(name, type) Sym<type>(m_d.handle, "dvwc_" #name)

using LenFn = int(const char*, uint32_t*);
using DataFn = int(const char*, unsigned char*, const unsigned char*, unsigned short);
using BufFn = int(const char*, unsigned char*, unsigned short);
using PutFn = int(const char*, const unsigned char*, unsigned short);
using DevFn = int(const char*);

constexpr const char* kDev = "DunmoD1200:001:002";

class DvwcStatus : public testing::Test {
 protected:
  void TearDown() override { devwatch_test::Unload(m_d); }
  void Load(const std::string& params) {
    m_bench.Config("usb 0x2d4e 0x1501\n");
    dravn_test::WriteFile(m_bench.Dir() + "/sop", std::string("0123456789"));
    m_bench.Scenario("device generic 2d4e:1501 bus=1 address=2\nset sop=" + m_bench.Dir() + "/sop\n" + params);
    m_d = devwatch_test::Load();
    ASSERT_NE(m_d.handle, nullptr);
    m_bench.ClearTranscript();
  }
  std::string Take() { return m_bench.TakeTranscript(); }
  Bench m_bench;
  devwatch_test::Dvwc m_d;
};

TEST_F(DvwcStatus, SettingsBlobsDirectAndWrapped) {
  Load("");
  uint32_t cell = 0;
  ASSERT_EQ(DVWC(GetSOPSettingsLength, LenFn)(kDev, &cell), 1);
  const unsigned char* record = reinterpret_cast<const unsigned char*>(&cell);
  EXPECT_EQ(Bytes(record, record + 4), (Bytes{0x00, 0x0A, 0x00, 0x01}));  // as the device sent it
  EXPECT_EQ(DataOut(Take()), std::vector<std::string>{"16:" + HexText("GET SOP SET LEN ")});

  unsigned char buffer[32];
  memset(buffer, 0xEE, sizeof buffer);
  ASSERT_EQ(DVWC(GetSOPSettingsData, DataFn)(kDev, buffer, record, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer + 4, buffer + 14), "0123456789");
  EXPECT_EQ(buffer[0], 0x00);
  EXPECT_EQ(buffer[1], 0x0A);
  EXPECT_EQ(buffer[14], 0xEE);  // nothing beyond the record and its n bytes
  EXPECT_EQ(DataOut(Take()), std::vector<std::string>{"20:" + HexText("GET SOP SET DAT ") + "000a0001"});

  // A smaller buffer than the blob gets what fits.
  memset(buffer, 0xEE, sizeof buffer);
  ASSERT_EQ(DVWC(GetSOPSettings, BufFn)(kDev, buffer, 8), 1);
  EXPECT_EQ(std::string(buffer + 4, buffer + 8), "0123");
  EXPECT_EQ(buffer[8], 0xEE);
  Take();

  cell = 0;
  ASSERT_EQ(DVWC(GetSOPSettingsLengthCGA, LenFn)(kDev, &cell), 1);
  EXPECT_EQ(record[1], 0x0A);
  EXPECT_EQ(DataOut(Take()),
            std::vector<std::string>{"34:" + HexText("TPS THROUGH     ") + "0020" + HexText("GET SOP SET LEN ")});
  memset(buffer, 0, sizeof buffer);
  ASSERT_EQ(DVWC(GetSOPSettingsCGA, BufFn)(kDev, buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer + 4, buffer + 14), "0123456789");
}

TEST_F(DvwcStatus, PutsOfSettingsBlobs) {
  Load("");
  auto setData = DVWC(SetSOPSettingsData, PutFn);
  Bytes blob(517, 0x33);
  EXPECT_EQ(setData(kDev, blob.data(), 517), -2);
  EXPECT_EQ(Take(), "");  // no command at all
  blob[0] = 0x02;
  blob[1] = 0x00;  // 512 data bytes
  EXPECT_EQ(setData(kDev, blob.data(), 516), 0);  // success answers 0
  std::vector<std::string> out = DataOut(Take());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].substr(0, 4), "532:");
  uint32_t cell = 0;
  ASSERT_EQ(DVWC(GetSOPSettingsLength, LenFn)(kDev, &cell), 1);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&cell)[0], 0x02);

  // n above 512 in the header; a header longer than the caller's size.
  auto set = DVWC(SetSOPSettings, PutFn);
  Bytes big = {0x02, 0x01, 0, 0};
  EXPECT_EQ(set(kDev, big.data(), 4), -2);
  Bytes shortBlob = {0x00, 0x0A, 0, 0, 'a', 'b'};
  EXPECT_EQ(set(kDev, shortBlob.data(), 6), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  Take();
  Bytes ok = {0x00, 0x02, 0, 0, 'x', 'y', 'z'};
  EXPECT_EQ(set(kDev, ok.data(), 7), 1);
  out = DataOut(Take());
  EXPECT_EQ(out, std::vector<std::string>{"22:" + HexText("PUT SOP SET DAT ") + "00020000" + HexText("xy")});
  EXPECT_EQ(DVWC(SetSOPSettingsCGA, PutFn)(kDev, ok.data(), 7), 1);
  EXPECT_EQ(DVWC(SetSOPSettingsDataCGA, PutFn)(kDev, ok.data(), 6), 1);

  Bytes lut(4096, 0x10);
  EXPECT_EQ(DVWC(SendLutData, int(const char*, const unsigned char*))(kDev, lut.data()), 1);
  out = DataOut(Take());
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].substr(0, 5 + 56), "4124:" + HexText("TPS THROUGH     ") + "0010000000001000" + "00000001");
}

TEST_F(DvwcStatus, RefusedPutAndFourByteReply) {
  // A page of 116 bytes whose byte 115 asks for four-byte replies.
  std::string vpd(116, '\0');
  vpd[0] = 0x06;
  vpd[1] = static_cast<char>(0xF0);
  vpd[111] = 4;
  vpd[115] = 1;
  dravn_test::WriteFile(m_bench.Dir() + "/vpd", vpd);
  Load("set put_refuse=1\nset vpd=" + m_bench.Dir() + "/vpd\n");
  Bytes blob = {0x00, 0x02, 0, 0, 'x', 'y'};
  EXPECT_EQ(DVWC(SetSOPSettingsData, PutFn)(kDev, blob.data(), 6), -2);
  std::string t = Take();
  // The page read whole (116 bytes), then a 4-byte reply.
  EXPECT_NE(t.find("len=116 actual=116"), std::string::npos) << t;
  EXPECT_NE(t.find("bulk in ep=0x81 len=4 actual=4 -> 0 80000000"), std::string::npos) << t;
  EXPECT_EQ(DVWC(SetSOPSettings, PutFn)(kDev, blob.data(), 6), -2);
  EXPECT_EQ(DVWC(SetSOPSettingsDataCGA, PutFn)(kDev, blob.data(), 6), -2);
  EXPECT_EQ(DVWC(SetSOPSettingsCGA, PutFn)(kDev, blob.data(), 6), -1);
}

TEST_F(DvwcStatus, PatternBlob) {
  Load("");
  Bytes blob = {0x00, 0x03, 0x00, 0x00, 'p', 'q', 'r'};
  auto setImff = DVWC(SetIMFFPatternData, PutFn);
  EXPECT_EQ(setImff(kDev, blob.data(), 0), -2);
  EXPECT_EQ(setImff(kDev, blob.data(), 7), 1);
  uint32_t cell = 0;
  ASSERT_EQ(DVWC(GetIMFFPatternLength, LenFn)(kDev, &cell), 1);
  unsigned char buffer[16] = {};
  ASSERT_EQ(DVWC(GetIMFFPatternData, DataFn)(kDev, buffer, reinterpret_cast<unsigned char*>(&cell), sizeof buffer),
            1);
  EXPECT_EQ(std::string(buffer + 4, buffer + 7), "pqr");
}

TEST_F(DvwcStatus, Logs) {
  dravn_test::WriteFile(m_bench.Dir() + "/life", "ABCDE");
  Load("set lifetime_log=" + m_bench.Dir() + "/life\nset error_log=0x1234,0x42\n");
  unsigned short size = 0;
  ASSERT_EQ(DVWC(GetLifeTimeLogSize, int(const char*, unsigned short*))(kDev, &size), 1);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&size)[1], 5);  // stored as it came: 00 05
  unsigned char log[5] = {};
  ASSERT_EQ(DVWC(GetLifeTimeLogData, BufFn)(kDev, log, 5), 1);
  EXPECT_EQ(std::string(log, log + 5), "ABCDE");
  std::string t = Take();
  EXPECT_EQ(DataOut(t).back(), "19:" + HexText("LIFE TIME LOG   ") + "800005");

  unsigned short count = 0;
  ASSERT_EQ(DVWC(GetErrorCodeLength, int(const char*, unsigned short*))(kDev, &count), 1);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&count)[1], 2);
  unsigned char entries[32] = {};
  ASSERT_EQ(DVWC(GetErrorCodeData, BufFn)(kDev, entries, 2), 1);
  EXPECT_EQ(entries[0], 0x12);
  EXPECT_EQ(entries[1], 0x34);
  EXPECT_EQ(entries[17], 0x42);
  EXPECT_EQ(DataOut(Take()).back(), "21:" + HexText("ERROR LOG       ") + "8200000002");
  EXPECT_EQ(DVWC(GetErrorCodeLength, int(const char*, unsigned short*))("DunmoD1200:009:009", &count), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 1u);
}

TEST_F(DvwcStatus, SilentErrorLogCountsNothing) {
  // A device that does not answer the exchange: still 1, no entries.
  Load("set refuse=ERROR LOG\n");
  unsigned short count = 7;
  EXPECT_EQ(DVWC(GetErrorCodeLength, int(const char*, unsigned short*))(kDev, &count), 1);
  EXPECT_EQ(count, 0);
}

TEST_F(DvwcStatus, LongTimerSelfTestAndRestart) {
  Load("set long_timer=5\nset mode_select=refuse\nset sense_key=4\n");
  unsigned char page[8] = {};
  auto sense = DVWC(ModeSense_LongTimer, BufFn);
  auto select = DVWC(ModeSelect_LongTimer, PutFn);
  EXPECT_EQ(sense(kDev, page, sizeof page), 1);
  EXPECT_EQ(page[6], 5);
  EXPECT_EQ(sense(kDev, nullptr, 8), -1);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
  EXPECT_EQ(sense("DunmoD1200:009:009", page, 8), -2);
  EXPECT_EQ(select(kDev, page, sizeof page), -4);
  Take();
  // The second backend's families keep their timers elsewhere: nothing opened.
  for (const char* d : {"Selko2S420:001:002", "selkos150:001:003", "BRENNAB700:001:004"}) EXPECT_EQ(select(d, page, 8), 1);
  EXPECT_EQ(Take(), "");
  EXPECT_EQ(DVWC(DoSelfDiagnostic, DevFn)(kDev), 4);
  EXPECT_EQ(DVWC(DoSelfDiagnostic, DevFn)(nullptr), 0);
  EXPECT_EQ(DVWC(DeviceRestart, DevFn)(kDev), 1);
  EXPECT_EQ(DVWC(DeviceRestart, DevFn)("DunmoD1200:009:009"), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 1u);
}

TEST_F(DvwcStatus, ModeSelectAndSelfTestOnAWillingDevice) {
  Load("");
  unsigned char page[8] = {0, 0, 0, 0, 0x34, 0x02, 9, 0};
  EXPECT_EQ(DVWC(ModeSelect_LongTimer, PutFn)(kDev, page, sizeof page), 1);
  unsigned char back[8] = {};
  EXPECT_EQ(DVWC(ModeSense_LongTimer, BufFn)(kDev, back, sizeof back), 1);
  EXPECT_EQ(back[6], 9);
  EXPECT_EQ(DVWC(DoSelfDiagnostic, DevFn)(kDev), 0);
}

// The imprinter's remaining ink, as the settings library reads it.
TEST_F(DvwcStatus, InkInTheHardwareStatus) {
  Load("set ink=42\n");
  unsigned char status[12];
  memset(status, 0xEE, sizeof status);
  ASSERT_EQ(DVWC(GetStatus2, BufFn)(kDev, status, sizeof status), 1);
  EXPECT_EQ(status[10], 42);
  EXPECT_EQ(status[11], 0);
}

TEST_F(DvwcStatus, StatusInquiryAndFirmware) {
  Load("set button=/nonexistent\nset firmware=0123\n");
  unsigned char status[8];
  memset(status, 0xEE, sizeof status);
  EXPECT_EQ(DVWC(GetStatus, int(const char*, unsigned char*))(kDev, status), 1);
  EXPECT_EQ(status[4], 0);
  EXPECT_EQ(DVWC(GetStatus4, int(const char*, unsigned char*))(kDev, status), 1);
  EXPECT_EQ(status[0], 0x04);
  EXPECT_EQ(DVWC(GetStatus, int(const char*, unsigned char*))("DunmoD1200:009:009", status), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 1u);
  unsigned char inquiry[128] = {};
  EXPECT_EQ(DVWC(Inquiry2, int(const char*, unsigned char*))(kDev, inquiry), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 7), "MORANTI");
  EXPECT_EQ(DVWC(InquiryEX, int(const char*, unsigned char*))(kDev, inquiry), 1);
  EXPECT_EQ(inquiry[1], 0xE0);
  unsigned char vpd[112] = {};
  EXPECT_EQ(DVWC(InquiryVPD, int(const char*, unsigned char*, unsigned short, int))(kDev, vpd, 112, 0), 1);
  EXPECT_EQ(vpd[1], 0xF0);
  EXPECT_EQ(DVWC(InquiryVPD2, int(const char*, unsigned char, unsigned char*, unsigned short, int))(kDev, 0x77, vpd,
                                                                                                   112, 0),
            0);
  unsigned char fw[8];
  memset(fw, 0xEE, sizeof fw);
  EXPECT_EQ(DVWC(GetFirmVersion, BufFn)(kDev, fw, 4), 1);
  EXPECT_EQ(std::string(fw, fw + 4), "0123");
  EXPECT_EQ(DVWC(GetFirmVersion, BufFn)(kDev, fw, 89), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 9u);
}

TEST_F(DvwcStatus, FailedFirmwareExchangeLeavesNoVersion) {
  Load("set refuse=GET FIRMVERSION\n");
  unsigned char fw[8];
  memset(fw, 0xEE, sizeof fw);
  EXPECT_EQ(DVWC(GetFirmVersion, BufFn)(kDev, fw, 8), 0);
  EXPECT_EQ(m_d.GetErrorInfo(), 8u);
  EXPECT_EQ(Bytes(fw, fw + 8), Bytes(8, 0));
}

}  // namespace
