// The library's transport and command layer against simulated scanners,
// the stand-in libusb linked in: command and status blocks byte for byte,
// transfer faults, routing by family, and the Selko2 in-scanner lock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devwatch_test_util.h"
#include "scanner_ctrl.h"
#include "test_support.h"

namespace {

using devwatch::CMqExpScannerCtrl;
using devwatch_test::Bench;
using devwatch_test::Count;
using devwatch_test::Hex;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The transcript text of a command block carrying `cdb`.
std::string Block(const std::vector<unsigned char>& cdb) {
  std::vector<unsigned char> block(31, 0);
  block[0] = 'C';
  std::copy(cdb.begin(), cdb.end(), block.begin() + 19);
  return "bulk out ep=0x02 len=31 actual=31 -> 0 " + Hex(block) + "\n";
}

// A Selko2 command block as the transcript shows it.
std::string Selko2Block(unsigned opcode, unsigned sub, unsigned param, unsigned length) {
  std::vector<unsigned char> b = {0x30,
                                  0x02,
                                  0,
                                  0,
                                  static_cast<unsigned char>(opcode),
                                  0,
                                  static_cast<unsigned char>(sub),
                                  0,
                                  static_cast<unsigned char>(param),
                                  static_cast<unsigned char>(param >> 8),
                                  0,
                                  0,
                                  static_cast<unsigned char>(length),
                                  static_cast<unsigned char>(length >> 8),
                                  0,
                                  0};
  return "bulk out ep=0x02 len=16 actual=16 -> 0 " + Hex(b) + "\n";
}
const std::string kLockProbe = Selko2Block(0x12, 0x7A, 108, 0);
const std::string kLock = Selko2Block(0x2A, 0x78, 1, 40);
const std::string kUnlock = Selko2Block(0x2A, 0x78, 2, 40);

// One controller over one scenario, its device opened.
class Watch : public testing::Test {
 protected:
  void Start(const std::string& scenario, const std::string& device) {
    m_bench.Config("usb 0x2d4e 0x1501\nusb 0x2d4e 0x1201\nusb 0x2d4e 0x1301\nusb 0x2d4e 0x1401\n");
    m_bench.Scenario(scenario);
    m_ctrl = std::make_unique<CMqExpScannerCtrl>(m_lastError);
    ASSERT_GE(m_ctrl->Find(device.c_str()), 0) << device;
    ASSERT_EQ(m_ctrl->DoDeviceOpen(), 0);
    m_bench.ClearTranscript();
  }
  void TearDown() override { m_ctrl.reset(); }
  std::string Transcript() const { return m_bench.ReadTranscript(); }

  Bench m_bench;
  uint32_t m_lastError = 0;
  std::unique_ptr<CMqExpScannerCtrl> m_ctrl;
};

TEST_F(Watch, GenericCommandsGoOutInCommandBlocksByteForByte) {
  Start("device generic 2d4e:1501 bus=1 address=2\nset inquiry_product=TestProduct\nset revision=0207\n",
        "DunmoD1200:001:002");
  unsigned char buf[512] = {};
  EXPECT_EQ(m_ctrl->TestUnitReady(), 1);
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 8, 28), "MORANTI TestProduct     0207");
  EXPECT_EQ(m_ctrl->InquiryEX(buf, 48), 1);
  EXPECT_EQ(buf[1], 0xE0);
  EXPECT_EQ(Transcript(), "001:002 #1 " + Block({0x00, 0, 0, 0, 0, 0}) +
                              "001:002 #2 bulk in ep=0x81 len=13 actual=13 -> 0 53000000000000000000000000\n"
                              "001:002 #3 " +
                              Block({0x12, 0, 0, 0, 96, 0}) +
                              "001:002 #4 bulk in ep=0x81 len=96 actual=96 -> 0 "
                              "06000202"
                              "7b000000" +
                              Hex({'M', 'O', 'R', 'A', 'N', 'T', 'I', ' '}) +
                              Hex({'T', 'e', 's', 't', 'P', 'r', 'o', 'd', 'u', 'c', 't', ' ', ' ', ' ', ' ', ' '}) +
                              Hex({'0', '2', '0', '7'}) + std::string(2 * 28, '0') +
                              "\n"
                              "001:002 #5 bulk in ep=0x81 len=13 actual=13 -> 0 53000000000000000000000000\n"
                              "001:002 #6 " +
                              Block({0x12, 0, 0xE0, 0, 48, 0}) + "001:002 #7 bulk in ep=0x81 len=48 actual=48 -> 0 " +
                              Hex({0x06, 0xE0, 0x00, 0x1C, 'M', 'O', 'R', 'A', 'N', 'T', 'I', ' '}) +
                              Hex({'T', 'e', 's', 't', 'P', 'r', 'o', 'd', 'u', 'c', 't', ' ', ' ', ' ', ' ', ' '}) +
                              Hex({'0', '2', '0', '7'}) + std::string(2 * 16, '0') +
                              "\n"
                              "001:002 #8 bulk in ep=0x81 len=13 actual=13 -> 0 53000000000000000000000000\n");
}

TEST_F(Watch, DiagnosticTextsReachTheWorkingEeprom) {
  Start("device generic 2d4e:1501 bus=1 address=2\nset eeprom_byte=0:0x11,511:0x22\n", "DunmoD1200:001:002");
  unsigned char text[16];
  memcpy(text, "DEBUG,E2T,RED   ", 16);
  unsigned char image[512] = {};
  EXPECT_EQ(m_ctrl->SendDiagnostic(text, 16), 1);
  EXPECT_EQ(m_ctrl->ReceiveDiagnosticResult(image, 512), 1);
  EXPECT_EQ(image[0], 0x11);
  EXPECT_EQ(image[511], 0x22);
  EXPECT_TRUE(Has(Transcript(), "#1 " + Block({0x1D, 0, 0, 0x00, 0x10, 0})));
  EXPECT_TRUE(Has(Transcript(), "#4 " + Block({0x1C, 0, 0, 0x02, 0x00, 0})));
  // A receive with nothing asked for is a check condition.
  EXPECT_EQ(m_ctrl->ReceiveDiagnosticResult(image, 16), 0);
  unsigned char sense[18] = {};
  EXPECT_EQ(m_ctrl->RequestSense(sense, sizeof sense), 1);
  EXPECT_EQ(sense[2], 0x05);
  EXPECT_TRUE(Has(Transcript(), Block({0x03, 0, 0, 0, 18, 0})));
}

// Each fault ends the command with failure.
struct FaultCase {
  const char* label;
  std::string scenario;
  int which;  // 0 TEST UNIT READY, 1 INQUIRY
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class WatchFault : public Watch, public testing::WithParamInterface<FaultCase> {};

TEST_P(WatchFault, CommandFails) {
  const FaultCase& c = GetParam();
  Start(c.scenario, "DunmoD1200:001:002");
  unsigned char buf[96];
  EXPECT_EQ(c.which == 0 ? m_ctrl->TestUnitReady() : m_ctrl->Inquiry(buf, 96), 0) << Transcript();
}

const FaultCase kFaults[] = {
    {"ShortDataRead", "device generic 2d4e:1501 bus=1 address=2\nfault transfer 2 short 50\n", 1},
    {"ShortStatusRead", "device generic 2d4e:1501 bus=1 address=2\nfault transfer 2 short 12\n", 0},
    // The loopback device echoes the command block: its first byte is 'C'.
    {"StatusWithoutS", "device loopback 2d4e:1501 bus=1 address=2\n", 0},
    {"StatusTimeOut", "device generic 2d4e:1501 bus=1 address=2\nfault transfer 2 timeout\n", 0},
    {"DataTimeOut", "device generic 2d4e:1501 bus=1 address=2\nfault transfer 2 timeout 10\n", 1},
    {"CommandStall", "device generic 2d4e:1501 bus=1 address=2\nfault transfer 1 stall\n", 0},
    {"GoneDevice", "device generic 2d4e:1501 bus=1 address=2\nfault transfer 1 gone\n", 1},
    {"CheckCondition", "device generic 2d4e:1501 bus=1 address=2\nset check_at=1\n", 0},
    {"BadStatusBlock", "device generic 2d4e:1501 bus=1 address=2\nset bad_status_at=1\n", 0},
};

// A held command waits for the test and then completes.
TEST_F(Watch, HeldCommandGoesOnWhenReleased) {
  const std::string state = dravn_test::MakeTempDir("generic-hold") + "/state";
  Start("device generic 2d4e:1501 bus=1 address=2\nset state=" + state + "\nset hold_at=2\n", "DunmoD1200:001:002");
  EXPECT_EQ(m_ctrl->TestUnitReady(), 1);
  std::atomic<int> result{-1};
  std::thread command([&] { result = m_ctrl->TestUnitReady(); });
  bool held = false;
  for (int i = 0; i < 3000 && !held; ++i) {
    held = access((state + ".hold").c_str(), F_OK) == 0;
    if (!held) usleep(10000);
  }
  EXPECT_TRUE(held);
  EXPECT_EQ(result, -1);
  unlink((state + ".hold").c_str());
  command.join();
  EXPECT_EQ(result, 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, WatchFault, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& info) { return info.param.label; });

TEST_F(Watch, StatusNotGoodFailsTheCommandsThatTestIt) {
  Start("device generic 2d4e:1501 bus=1 address=2\n", "DunmoD1200:001:002");
  unsigned char buf[32];
  EXPECT_EQ(m_ctrl->GetHardwareStatus(buf, 32), 0);  // the model has no such command
  EXPECT_EQ(m_ctrl->DeviceRestart(), 0);
  EXPECT_EQ(m_ctrl->TestUnitReady(), 1);
}

TEST_F(Watch, Selko2AndBrennaNeedNoCommandForTestUnitReady) {
  Start("device selko2 2d4e:1301 bus=1 address=3\ndevice loopback 2d4e:1401 bus=1 address=4\n", "Selko2S420:001:003");
  EXPECT_EQ(m_ctrl->TestUnitReady(), 1);
  ASSERT_GE(m_ctrl->Find("BrennaB700:001:004"), 0);
  EXPECT_EQ(m_ctrl->TestUnitReady(), 1);
  EXPECT_EQ(Transcript(), "");
}

TEST_F(Watch, Selko2InquiryTakesTheLockFirstAndOnlyOnce) {
  Start("device selko2 2d4e:1301 bus=1 address=3\n", "Selko2S420:001:003");
  unsigned char buf[96] = {};
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 16, 8), "Selko2S4");
  EXPECT_TRUE(m_ctrl->Selko2().IsLocked());
  std::string t = Transcript();
  EXPECT_TRUE(Has(t, "#1 " + kLockProbe)) << t;
  EXPECT_TRUE(Has(t, "#3 " + kLock)) << t;
  EXPECT_TRUE(Has(t, "#5 bulk out ep=0x02 len=40 actual=40 -> 0 35643865")) << t;  // the owner text
  EXPECT_TRUE(Has(t, "#6 " + Selko2Block(0x28, 0x78, 1, 40))) << t;
  EXPECT_TRUE(Has(t, "#8 bulk in ep=0x81 len=40 actual=40")) << t;
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 1);
  EXPECT_EQ(Count(Transcript(), kLockProbe), 1u);
  EXPECT_EQ(m_lastError, 0u);

  // Unlocking: the owner record again, and the next command locks anew.
  EXPECT_EQ(m_ctrl->Selko2().UnLockScanner(), 1);
  EXPECT_TRUE(Has(Transcript(), "#9 " + kUnlock));
  EXPECT_FALSE(m_ctrl->Selko2().IsLocked());
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 1);
  EXPECT_EQ(Count(Transcript(), kLockProbe), 2u);
}

TEST_F(Watch, Selko2LockHeldElsewhereGivesFourteenAndIsTriedAgain) {
  Start("device selko2 2d4e:1301 bus=1 address=3\nset lock_owner=another-host-owner\n", "Selko2S420:001:003");
  unsigned char buf[96];
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 0);
  EXPECT_EQ(m_lastError, 14u);
  EXPECT_TRUE(m_ctrl->Selko2().LockNeeded());
  EXPECT_FALSE(Has(Transcript(), kLock));
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 0);
  EXPECT_EQ(Count(Transcript(), kLockProbe), 2u);
  // Nothing to give back: unlocking succeeds without a command.
  EXPECT_EQ(m_ctrl->Selko2().UnLockScanner(), 1);
  EXPECT_FALSE(Has(Transcript(), kUnlock));
}

TEST_F(Watch, Selko2FailedLockGivesThirteenAndTheNextCommandLocks) {
  Start("device selko2 2d4e:1301 bus=1 address=3\nfault transfer 2 fail\n", "Selko2S420:001:003");
  unsigned char buf[96];
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 0);
  EXPECT_EQ(m_lastError, 13u);
  EXPECT_EQ(m_ctrl->Inquiry(buf, 96), 1);
  EXPECT_TRUE(m_ctrl->Selko2().IsLocked());
  EXPECT_EQ(m_lastError, 13u);  // never cleared
  EXPECT_EQ(Count(Transcript(), kLockProbe), 2u);
}

// Transfers 1-8 take the lock; 9-11 are the unlock (block, status, owner).
// An unlock that broke off goes once more over a reset pipe; a second
// failure keeps the lock noted, so that a later close tries again.
TEST_F(Watch, Selko2UnlockThatFailsIsSentOnceMore) {
  const struct {
    const char* faults;
    int answer;
  } cases[] = {
      {"fault transfer 9 fail\n", 1},
      {"fault transfer 10 timeout\n", 1},
      {"fault transfer 11 short 7\n", 1},
      {"fault transfer 9 fail\nfault transfer 10 fail\n", 0},
  };
  for (const auto& c : cases) {
    Start(std::string("device selko2 2d4e:1301 bus=1 address=3\n") + c.faults, "Selko2S420:001:003");
    unsigned char buf[96];
    ASSERT_EQ(m_ctrl->Inquiry(buf, 96), 1) << c.faults;
    EXPECT_EQ(m_ctrl->Selko2().UnLockScanner(), c.answer) << c.faults;
    EXPECT_EQ(m_ctrl->Selko2().IsLocked(), c.answer == 0) << c.faults;
    EXPECT_EQ(Count(Transcript(), "reset -> 0"), 1u) << c.faults;
  }
}

TEST_F(Watch, Selko2VendorPageIsCutAt139Bytes) {
  Start("device selko2 2d4e:1301 bus=1 address=3\n", "Selko2S420:001:003");
  const unsigned char cdb[6] = {0x12, 0x01, 0xF0, 0, 144, 0};
  std::vector<unsigned char> page(144, 0xEE);
  EXPECT_EQ(m_ctrl->Selko2().CommandExec(cdb, page.data(), 144), 1);
  EXPECT_EQ(page[1], 0xF0);
  EXPECT_EQ(page[138], 0x00);
  EXPECT_EQ(page[139], 0xEE);
  const unsigned char other[6] = {0x12, 0x01, 0x80, 0, 16, 0};
  EXPECT_EQ(m_ctrl->Selko2().CommandExec(other, page.data(), 16), 0);
}

TEST_F(Watch, InterfacesAreClaimedByTheirPositionAndTheLastFoundComesFirst) {
  Start("device generic 2d4e:1501 bus=1 address=2 interfaces=255,8,0\n", "DunmoD1200:001:002");
  ASSERT_EQ(m_ctrl->GetDeviceTotalNum(), 2);
  const devwatch::MQ_DEVICE_ENTRY* e = m_ctrl->CurrentEntry();
  EXPECT_EQ(e->iInterfaceNumber, 2);
  EXPECT_EQ(e->dwOutEndpoint, 0x02u);
  EXPECT_EQ(e->dwInEndpoint, 0x81u);
  EXPECT_EQ(m_ctrl->TestUnitReady(), 1);
  m_ctrl->DoDeviceClose();
  EXPECT_EQ(Transcript(), "001:002 #1 " + Block({0, 0, 0, 0, 0, 0}) +
                              "001:002 #2 bulk in ep=0x81 len=13 actual=13 -> 0 53000000000000000000000000\n"
                              "001:002 release 2 -> 0\n001:002 close\n");
}

TEST_F(Watch, StoredAnswersCarryTheDeviceString) {
  Start("device generic 2d4e:1501 bus=1 address=2\n", "DunmoD1200:001:002");
  unsigned char standard[96] = {}, vpd[144] = {};
  EXPECT_EQ(m_ctrl->Inquiry(1, standard, 96), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(standard) + 8, 16), "MORANTI DunmoD1 ");
  EXPECT_EQ(m_ctrl->Inquiry(0, vpd, 144), 1);
  EXPECT_EQ(vpd[1], 0xF0);
  EXPECT_EQ(Transcript(), "");
}

// The generic model's sub-commands, as the maintenance exports send them.
class GenericDiagnostics : public Watch {
 protected:
  int Send(const std::string& text, const std::vector<unsigned char>& params = {}) {
    std::vector<unsigned char> data(text.begin(), text.end());
    data.insert(data.end(), params.begin(), params.end());
    return m_ctrl->SendDiagnostic(data.data(), static_cast<unsigned short>(data.size()));
  }
  std::vector<unsigned char> Receive(unsigned short length) {
    std::vector<unsigned char> reply(length, 0xEE);
    if (!m_ctrl->ReceiveDiagnosticResult(reply.data(), length)) reply.clear();
    return reply;
  }
  std::vector<unsigned char> Read(const std::string& text) {
    EXPECT_EQ(Send(text), 1) << text;
    return Receive(512);
  }
};

std::vector<unsigned char> WriteRecord(bool wide, unsigned offset, const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> p;
  if (wide)
    p = {static_cast<unsigned char>(offset >> 8), static_cast<unsigned char>(offset), 0,
         static_cast<unsigned char>(bytes.size())};
  else
    p = {static_cast<unsigned char>(offset), static_cast<unsigned char>(bytes.size())};
  p.insert(p.end(), bytes.begin(), bytes.end());
  return p;
}

TEST_F(GenericDiagnostics, WritesReachTheWorkingEepromAndACommitThePersistentOne) {
  std::string state = m_bench.Dir() + "/eeprom.state";
  Start("device generic 2d4e:1501 bus=1 address=2\nset state=" + state + "\nset eeprom_byte=5:0x55\n",
        "DunmoD1200:001:002");
  EXPECT_EQ(Send("DEBUG,E2T,WRT  W", WriteRecord(true, 0x140, {1, 2, 3})), 1);
  EXPECT_EQ(Send("DEBUG,E2T,WRT   ", WriteRecord(false, 0x10, {9})), 1);
  auto working = Read("DEBUG,E2T,RED  W");
  ASSERT_EQ(working.size(), 512u);
  EXPECT_EQ(working[0x140], 1);
  EXPECT_EQ(working[0x142], 3);
  EXPECT_EQ(working[0x10], 9);
  EXPECT_EQ(working[5], 0x55);
  auto persistent = Read("DEBUG,E2P,RED   ");
  EXPECT_EQ(persistent[0x140], 0);
  EXPECT_EQ(persistent[5], 0x55);
  EXPECT_EQ(Send("DEBUG,E2P,WRT   "), 1);
  EXPECT_EQ(Read("DEBUG,E2P,RED  W")[0x142], 3);

  // Another process finds both where this one left them.
  m_ctrl.reset();
  m_bench.Scenario("# again\ndevice generic 2d4e:1501 bus=1 address=2\nset state=" + state + "\n");
  m_ctrl = std::make_unique<CMqExpScannerCtrl>(m_lastError);
  ASSERT_GE(m_ctrl->Find("DunmoD1200:001:002"), 0);
  ASSERT_EQ(m_ctrl->DoDeviceOpen(), 0);
  EXPECT_EQ(Read("DEBUG,E2P,RED   ")[0x142], 3);
  EXPECT_EQ(Read("DEBUG,H3T,RED   ")[0x10], 9);
}

TEST_F(GenericDiagnostics, AWriteTakesEffectOnlyWhenItsWholeParameterListArrived) {
  // Transfer 2 is the data of the first SEND DIAGNOSTIC: 23 bytes, 10 arrive.
  Start("device generic 2d4e:1501 bus=1 address=2\nfault transfer 2 short 10\n", "DunmoD1200:001:002");
  EXPECT_EQ(Send("DEBUG,E2T,WRT   ", WriteRecord(false, 0, {7, 7, 7, 7, 7})), 0);
  EXPECT_EQ(Read("DEBUG,E2T,RED   ")[0], 0);
  // Records that do not fit the EEPROM or their own length are refused.
  EXPECT_EQ(Send("DEBUG,E2T,WRT  W", WriteRecord(true, 510, {1, 2, 3})), 0);
  auto shortRecord = WriteRecord(false, 0, {1, 2, 3});
  shortRecord.pop_back();
  EXPECT_EQ(Send("DEBUG,E2T,WRT   ", shortRecord), 0);
  EXPECT_EQ(Read("DEBUG,E2T,RED   ")[0], 0);
}

TEST_F(GenericDiagnostics, DefaultFlashFirmwareBracketAndRefusal) {
  std::string flash = m_bench.Dir() + "/flash.bin";
  dravn_test::WriteFile(flash, std::string(300, 'F'));
  Start("device generic 2d4e:1501 bus=1 address=2\nset eeprom_byte=0:1\nset flash=" + flash +
            "\nset firmware=0207\nset refuse=SETUP START     \n",
        "DunmoD1200:001:002");
  EXPECT_EQ(Read("GET SOP DEFAULT ")[0], 1);
  EXPECT_EQ(Send("TEST LENGTH     ", {21}), 1);
  EXPECT_EQ(Receive(2), (std::vector<unsigned char>{0x01, 0x2C}));
  EXPECT_EQ(Send("TESTMODE       Z", {27}), 1);
  auto data = Receive(300);
  EXPECT_EQ(data, std::vector<unsigned char>(300, 'F'));
  EXPECT_EQ(Send("GET FIRMVERSION "), 1);
  auto fw = Receive(6);
  EXPECT_EQ(std::string(fw.begin(), fw.begin() + 4), "0207");
  EXPECT_EQ(Send("SETUP START     "), 0);  // refused by the scenario
  unsigned char sense[18] = {};
  EXPECT_EQ(m_ctrl->RequestSense(sense, sizeof sense), 1);
  EXPECT_EQ(sense[2], 0x05);
  EXPECT_EQ(Send("SETUP END       "), 0);  // no bracket open
  EXPECT_EQ(Send("NO SUCH TEXT    "), 0);
  // A reply is taken once.
  EXPECT_EQ(Send("GET SOP DEFAULT "), 1);
  EXPECT_EQ(Receive(16).size(), 16u);
  EXPECT_EQ(Receive(16).size(), 0u);
}

TEST_F(GenericDiagnostics, VendorPageAtAnyLength) {
  Start("device generic 2d4e:1501 bus=1 address=2\nset vpd_byte=4:0x12,100:0x34\n", "DunmoD1200:001:002");
  // Through the raw command layer: 12 01 F0 00 length 00.
  for (unsigned length : {16u, 112u, 255u}) {
    const unsigned char cdb[6] = {0x12, 0x01, 0xF0, 0, static_cast<unsigned char>(length), 0};
    std::vector<unsigned char> page(length, 0xEE);
    unsigned count = 0;
    unsigned char status = 0xFF;
    ASSERT_EQ(m_ctrl->RawWriteCommand(cdb, 6), 1);
    ASSERT_EQ(m_ctrl->RawReadData(page.data(), length, &count), 1) << length;
    ASSERT_EQ(m_ctrl->RawReadStatus(&status), 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page[1], 0xF0);
    EXPECT_EQ(page[4], 0x12);
    if (length > 100) {
      EXPECT_EQ(page[100], 0x34);
      EXPECT_EQ(page[length - 1], 0x00);  // past the page: zeros
    }
  }
}

// The Selko connect tries with the pause counted instead of slept.
unsigned g_pauses = 0;
void CountPause(unsigned) { ++g_pauses; }

TEST_F(Watch, SelkoConnectTriesAgainASecondApart) {
  devwatch::SetSelkoPause(CountPause);
  struct {
    int refusals;
    int result;
    unsigned pauses;
    size_t handshakes;
  } cases[] = {{0, 1, 0, 1}, {3, 1, 3, 4}, {10, 1, 10, 11}, {11, 0, 10, 11}};
  for (const auto& c : cases) {
    Start("device selko 2d4e:1201 bus=1 address=5\nset param=256:18070900\nset connect_after=" +
              std::to_string(c.refusals) + "\n",
          "SelkoS150:001:005");
    g_pauses = 0;
    const unsigned char text[16] = {'D', 'E', 'B', 'U', 'G', ',', 'E', '2', 'T', ',', 'R', 'E', 'D', ' ', ' ', ' '};
    ASSERT_EQ(m_ctrl->SendDiagnostic(const_cast<unsigned char*>(text), 16), 1);
    unsigned char image[512];
    EXPECT_EQ(m_ctrl->ReceiveDiagnosticResult(image, sizeof image), c.result) << c.refusals;
    EXPECT_EQ(g_pauses, c.pauses) << c.refusals;
    const std::string t = Transcript();
    EXPECT_EQ(Count(t, "len=2 actual=2 -> 0 9717"), c.handshakes) << c.refusals;
    if (c.result) {
      EXPECT_EQ(image[96], 0x18) << c.refusals;
    }
  }
  devwatch::SetSelkoPause(nullptr);
}

TEST_F(Watch, SelkoNameReplyTooShortForAVersionFailsAfterItsTries) {
  devwatch::SetSelkoPause(CountPause);
  g_pauses = 0;
  Start("device selko 2d4e:1201 bus=1 address=5\n", "SelkoS150:001:005");  // a 16-byte name reply
  unsigned char text[16];
  memcpy(text, "GET FIRMVERSION ", 16);
  ASSERT_EQ(m_ctrl->SendDiagnostic(text, 16), 1);
  unsigned char fw[8] = {};
  EXPECT_EQ(m_ctrl->ReceiveDiagnosticResult(fw, sizeof fw), 0);
  EXPECT_EQ(g_pauses, 10u);
  EXPECT_EQ(Count(Transcript(), "len=8 actual=8 -> 0 8228030000000000"), 11u);
  devwatch::SetSelkoPause(nullptr);
}

TEST_F(Watch, SelkoReceiveAfterAnotherTextLeavesTheBuffer) {
  Start("device selko 2d4e:1201 bus=1 address=5\n", "SelkoS150:001:005");
  unsigned char text[16];
  memcpy(text, "GET STATUS      ", 16);
  ASSERT_EQ(m_ctrl->SendDiagnostic(text, 16), 1);
  unsigned char buffer[32];
  memset(buffer, 0xA5, sizeof buffer);
  EXPECT_EQ(m_ctrl->ReceiveDiagnosticResult(buffer, sizeof buffer), 1);
  EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + 32), std::vector<unsigned char>(32, 0xA5));
  EXPECT_EQ(Transcript(), "");
}

// The liveness test answers from the process table: ids through kill,
// program names from the command names, and the caller's text reaches no
// shell.
TEST(Liveness, ProcessesByIdAndByName) {
  Bench bench;
  bench.Config("");
  bench.Scenario("");
  uint32_t lastError = 0;
  CMqExpScannerCtrl ctrl(lastError);

  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);  // reaped: its id names no process now
  const std::string self = dravn_test::ReadFile("/proc/self/comm");
  const std::string ownName = self.substr(0, self.find('\n'));
  const std::string marker = bench.Dir() + "/ran";

  struct Case {
    std::string name;
    int answer;
    const char* printed;
  };
  const Case cases[] = {
      {std::to_string(getpid()), 1, ""},  {"1", 1, ""},  // one digit is an id too
      {std::to_string(child), 0, ""},     {ownName, 1, ""},
      {"X" + ownName.substr(1), 0, ""},   {ownName.substr(0, ownName.size() - 1), 0, ""},  // a name is no prefix
      {"no such program", 0, ""},         {"x; touch " + marker, 0, ""},
      {"$(touch " + marker + ")", 0, ""}, {"", 0, "ps command error\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ctrl.IsActive(c.name.c_str()), c.answer);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(ctrl.IsActive(nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ps command error\n");
  struct stat st;
  EXPECT_NE(stat(marker.c_str(), &st), 0) << "a shell ran the name";
}

TEST(ExpController, SpotAndLegacyModesStartAtZeroAndOneAndKeepWhatIsSet) {
  Bench bench;
  bench.Config("");
  bench.Scenario("");
  uint32_t lastError = 0;
  CMqExpScannerCtrl ctrl(lastError);
  EXPECT_EQ(ctrl.GetSpotMode(), 0);
  EXPECT_EQ(ctrl.GetLegacyMode(), 1);
  ctrl.SetSpotMode(7);
  ctrl.SetLegacyMode(0);
  EXPECT_EQ(ctrl.GetSpotMode(), 7);
  EXPECT_EQ(ctrl.GetLegacyMode(), 0);
}

}  // namespace
