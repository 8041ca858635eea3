// The device-information record and the EEPROM dump: serial formatting,
// then OnInitDialog of the staged libmqcontrol against simulated scanners.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kelo_dev_info.h"
#include "staged_mqcontrol.h"

namespace {

using namespace staged_mqcontrol;

TEST(Serial, SequenceLettersAndPrefixes) {
  struct Row {
    const char* prefix;
    char letter;
    unsigned sequence;
    const char* text;
  } rows[] = {
      {nullptr, 0, 999999, "999999"},     {nullptr, 0, 42, "000042"},
      {"AB1", 'K', 999999, "AB1K999999"}, {"AB1", 'K', 1000000, "AB1KA00000"},
      {"AB1", 'K', 1800000, "AB1KJ00000"}, {"AB1", 'K', 2999999, "AB1KY99999"},
      {"AB1", 'K', 3000000, "AB1K3000000"}, {"\x07" "B1", 'K', 5, "$B1K000005"},
      {"AB1", '\x7F', 5, "AB1$000005"},
  };
  for (const Row& r : rows) {
    char out[32];
    KeloDevInfo::ConvertSerial(out, sizeof out, r.prefix, r.letter, r.sequence);
    EXPECT_STREQ(out, r.text) << r.sequence;
  }
  EXPECT_EQ(KeloDevInfo::ConvertSerialSEQTop(10), 'A');
  EXPECT_EQ(KeloDevInfo::ConvertSerialSEQTop(17), 'H');
  EXPECT_EQ(KeloDevInfo::ConvertSerialSEQTop(18), 'J');
  EXPECT_EQ(KeloDevInfo::ConvertSerialSEQTop(29), 'Y');
  EXPECT_EQ(KeloDevInfo::ConvertSerialSEQTop(30), '\0');
}

class DevInfo : public StagedLibrary {
 protected:
  // A Tavrin3 scanner whose image holds a serial and a first-use date; the
  // factory data is the image itself unless given.
  kelo_dev_info Open(const std::vector<std::pair<int, int>>& image, const std::string& extra,
                     const std::vector<std::pair<int, int>>& factoryChanges = {}) {
    std::string flash(512, '\0');
    for (const auto& b : image) flash[b.first] = static_cast<char>(b.second);
    for (const auto& b : factoryChanges) flash[b.first] = static_cast<char>(b.second);
    dravn_test::WriteFile(m_bench.Dir() + "/flash", flash);
    OpenDevice(0x1601, "Tavrin3T1000:001:002", image,
               "set flash=" + m_bench.Dir() + "/flash\nset state=" + m_bench.Dir() + "/row" +
                   std::to_string(m_row++) + "\n" + extra);
    kelo_dev_info d;
    std::memset(&d, 0x55, sizeof d);
    m_result = Fn<int (*)(kelo_dev_info*)>("OnInitDialog")(&d);
    return d;
  }
  void Reopen() {
    if (m_lib) {
      TearDown();
      m_lib = nullptr;
    }
  }
  int m_row = 0;
  int m_result = -1;
};

const std::vector<std::pair<int, int>> kSerialImage = {
    {96, 23}, {97, 4}, {98, 1}, {100, 0x0F}, {101, 0x42}, {102, 0x40}, {284, 'A'}, {285, 'B'}, {286, '1'}, {287, 'K'}};

TEST_F(DevInfo, RecordOfASimulatedScanner) {
  kelo_dev_info d = Open(kSerialImage,
                         "set inquiry_product=Tav#extra\nset firmware=0C12\nset vpd_byte=34:1,35:0x20,98:0x12,92:0x21,"
                         "82:8,84:0,88:0x81,90:0x84\n");
  ASSERT_EQ(m_result, 1);
  EXPECT_STREQ(d.vendor, "MORANTI ");
  EXPECT_STREQ(d.product, "Tav");
  EXPECT_STREQ(d.revision, "0C12");
  EXPECT_STREQ(d.firmware1, "");
  EXPECT_STREQ(d.initialUse, "23/04/01");
  EXPECT_STREQ(d.imageMemory, "18 MB");
  EXPECT_STREQ(d.serial, "AB1KA00000");
  EXPECT_STREQ(d.resolution[0], "300 dpi");
  EXPECT_STREQ(d.resolution[5], "50 dpi");
  EXPECT_STREQ(d.windowWidth, "5100 pixel");
  EXPECT_STREQ(d.paperSize, "A4/Legal Size");
  EXPECT_STREQ(d.steps[0], "8 Steps");
  EXPECT_STREQ(d.steps[1], "No");
  EXPECT_STREQ(d.steps[2], "Use LUT");
  EXPECT_EQ(d.vpd88Bit01, 1);
  EXPECT_EQ(d.vpd88Flags[0], 0x80);
  EXPECT_EQ(d.vpd88Flags[6], 1);
  EXPECT_EQ(d.vpd90, 0x84);
  EXPECT_EQ(d.vpd90Flags[0], 0x80);
  EXPECT_EQ(d.vpd90Flags[5], 0x04);
  EXPECT_EQ(d.unit[0].present, 1);
  EXPECT_EQ(d.unit[0].details[2], 0x20);
  EXPECT_EQ(d.unit[0].details[3], 1);
  EXPECT_EQ(d.unit[1].present, 0);
  EXPECT_STREQ(d.rowInterface, "SCSI/USB");
  EXPECT_STREQ(d.deviceInterface, "USB 2.0");
  EXPECT_STREQ(d.powerSupply, "USB Bus Power");
  EXPECT_STREQ(d.errorCode, "");
  EXPECT_EQ(d.reserved648, nullptr);
  EXPECT_EQ(d.reserved298[0], 0);
}

TEST_F(DevInfo, DatesAndSerials) {
  struct Row {
    std::vector<std::pair<int, int>> image;
    std::vector<std::pair<int, int>> factory;
    const char* date;
    const char* serial;
  } rows[] = {
      {{{96, 23}, {97, 0}, {98, 1}}, {}, "Not Registered", "Not Defined"},
      {{{97, 4}, {98, 1}, {100, 0x0F}, {101, 0x42}, {102, 0x3F}, {284, 7}, {285, 'B'}, {286, '1'}, {287, 'K'}},
       {},
       "00/04/01",
       "$B1K999999"},
      // The serial stored differs from the factory's: the factory's, marked.
      {kSerialImage, {{102, 0x41}}, "23/04/01", "AB1KA00001 *"},
      // A factory sequence of all ones is no serial to compare with.
      {kSerialImage, {{100, 0xFF}, {101, 0xFF}, {102, 0xFF}}, "23/04/01", "AB1KA00000"},
  };
  for (const Row& r : rows) {
    Reopen();
    kelo_dev_info d = Open(r.image, "", r.factory);
    ASSERT_EQ(m_result, 1);
    EXPECT_STREQ(d.initialUse, r.date);
    EXPECT_STREQ(d.serial, r.serial);
  }
}

TEST_F(DevInfo, ErrorCodeFromTheLog) {
  // A VPD page with a 16-byte extension whose byte 120 says a log exists.
  std::string vpd(128, '\0');
  vpd[0] = 0x06;
  vpd[1] = static_cast<char>(0xF0);
  vpd[3] = static_cast<char>(vpd.size() - 4);
  vpd[111] = 16;
  vpd[120] = 0x08;
  dravn_test::WriteFile(m_bench.Dir() + "/vpd", vpd);
  kelo_dev_info d = Open({}, "set vpd=" + m_bench.Dir() + "/vpd\nset error_log=0x1234\n");
  ASSERT_EQ(m_result, 1);
  EXPECT_STREQ(d.errorCode, "00");
  // A short extension never reaches byte 120.
  Reopen();
  vpd[111] = 8;
  dravn_test::WriteFile(m_bench.Dir() + "/vpd", vpd);
  d = Open({}, "set vpd=" + m_bench.Dir() + "/vpd\nset error_log=0x1234\n");
  ASSERT_EQ(m_result, 1);
  EXPECT_STREQ(d.errorCode, "");
}

// The dump read back from the staged dump directory; without the directory
// the record is the same and nothing is written.
TEST_F(DevInfo, DumpAndAMissingDirectory) {
  const std::string dir = DRAVN_DUMP_DIR;
  const std::string file = dir + "/EEPTavrin3T1000:001:002.bin";
  dravn_test::Run({"mkdir", "-p", dir});
  std::remove(file.c_str());
  kelo_dev_info first = Open(kSerialImage, "");
  ASSERT_EQ(m_result, 1);
  const std::string dump = dravn_test::ReadFile(file);
  ASSERT_EQ(dump.size(), kDumpSize);
  int32_t size, vpdLength;
  std::memcpy(&size, dump.data() + 20, 4);
  std::memcpy(&vpdLength, dump.data() + 52, 4);
  EXPECT_EQ(size, 512);
  EXPECT_EQ(vpdLength, 100);
  EXPECT_EQ(static_cast<unsigned char>(dump[260 + 96]), 23);
  EXPECT_EQ(dump.substr(1284 + 8, 7), "MORANTI");
  EXPECT_EQ(static_cast<unsigned char>(dump[1540 + 1]), 0xF0);
  std::remove(file.c_str());

  // A link planted at the dump's name is not followed.
  const std::string target = m_bench.Dir() + "/target";
  dravn_test::WriteFile(target, "kept");
  ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
  Reopen();
  Open(kSerialImage, "");
  EXPECT_EQ(m_result, 1);
  EXPECT_EQ(dravn_test::ReadFile(target), "kept");
  std::remove(file.c_str());

  const std::string moved = dir + ".away";
  ASSERT_EQ(std::rename(dir.c_str(), moved.c_str()), 0);
  Reopen();
  kelo_dev_info second = Open(kSerialImage, "");
  std::rename(moved.c_str(), dir.c_str());
  EXPECT_EQ(m_result, 1);
  EXPECT_STREQ(second.serial, first.serial);
  EXPECT_STREQ(second.initialUse, first.initialUse);
  EXPECT_EQ(dravn_test::ReadFile(file), "");
}

TEST_F(DevInfo, FailedReadLeavesTheRecordZero) {
  // The device is not there: the inquiry fails.
  m_bench.Scenario("");
  Load();
  m_device = "Tavrin3T1000:001:002";
  ASSERT_EQ(Fn<int (*)(const char*, int)>("initlibrary")(m_device.c_str(), 0), 1);
  kelo_dev_info d;
  std::memset(&d, 0x55, sizeof d);
  EXPECT_EQ(Fn<int (*)(kelo_dev_info*)>("OnInitDialog")(&d), 0);
  const std::vector<unsigned char> zero(sizeof d, 0);
  EXPECT_EQ(std::memcmp(&d, zero.data(), sizeof d), 0);
}

// A model of the firmware-text list: the firmware answer fills texts 1 to 3,
// the revision stays empty, and the date is not known.
TEST_F(DevInfo, FirmwareTextModel) {
  OpenDevice(0x1501, "DunmoD1200:001:002", {{96, 23}, {97, 4}, {98, 1}}, "set firmware=0B07\n");
  kelo_dev_info d;
  ASSERT_EQ(Fn<int (*)(kelo_dev_info*)>("OnInitDialog")(&d), 1);
  EXPECT_STREQ(d.firmware1, "0B07");
  EXPECT_STREQ(d.firmware2, "0B07");
  EXPECT_STREQ(d.firmware3, "0B07");
  EXPECT_STREQ(d.revision, "");
  EXPECT_STREQ(d.initialUse, "UNKNOWN");
  EXPECT_STREQ(d.serial, "");
}

}  // namespace
