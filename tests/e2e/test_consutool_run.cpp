// consutool run as a user runs it: the staged device watch library over the
// simulated scanners, beside stand-ins of the settings library that end the
// process when called, so a run that must not open the device proves it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_support.h"

namespace {

using dravn_test::RunResult;

const std::string kLibs = CONSUTOOL_LIB_DIR;
const std::string kStagedMqcontrol = DRAVN_LIB_DIR "/libmqcontrol.so";
const std::string kConsutool = DRAVN_USR_BIN_DIR "/consutool";
const std::string kNotConnected =
    "consutool: The scanner is not connected, or may be in use by another application\n";

// Fills the tool's library folder: the staged device watch library and the
// given settings library (empty: none).
void Libraries(bool devwatch, const std::string& mqcontrol) {
  mkdir(kLibs.c_str(), 0755);
  unlink((kLibs + "/libdevwatch.so").c_str());
  unlink((kLibs + "/libmqcontrol.so").c_str());
  if (devwatch) {
    ASSERT_EQ(symlink(DRAVN_LIB_DIR "/libdevwatch.so", (kLibs + "/libdevwatch.so").c_str()), 0);
  }
  if (!mqcontrol.empty()) {
    ASSERT_EQ(symlink(mqcontrol.c_str(), (kLibs + "/libmqcontrol.so").c_str()), 0);
  }
}

RunResult Consutool(const std::vector<std::string>& args, const std::string& scenario) {
  const std::string dir = dravn_test::MakeTempDir("consutool-run");
  dravn_test::WriteFile(dir + "/scenario", scenario);
  std::vector<std::string> argv{"unshare", "--ipc", CONSUTOOL_TESTLIBS};
  argv.insert(argv.end(), args.begin(), args.end());
  return dravn_test::Run(argv, dravn_test::SimEnv(dir + "/scenario"), 60);
}

std::string Device(const char* family, const dravn::CatalogModel& m, int bus, int address) {
  char line[128];
  std::snprintf(line, sizeof line, "device %s %04x:%04x bus=%d address=%d\n", family, m.vendorId, m.productId, bus,
                address);
  return line;
}

std::string Name(const dravn::CatalogModel& m, int bus, int address) {
  char name[64];
  std::snprintf(name, sizeof name, "%s:%03d:%03d", m.model, bus, address);
  return name;
}

// A missing library, or a library missing one name, ends the run before it
// looks for a device.
TEST(ConsutoolRun, MissingLibraryOrName) {
  const std::string scenario = Device("selko2", dravn::kSelko2Models[0], 3, 4);
  struct Case {
    const char* label;
    bool devwatch;
    std::string mqcontrol;
  } cases[] = {
      {"no device watch library", false, MQCONTROL_UNTOUCHABLE},
      {"no settings library", true, ""},
      {"a name missing", true, MQCONTROL_WITHOUT_NAME},
  };
  for (const auto& c : cases) {
    Libraries(c.devwatch, c.mqcontrol);
    auto r = Consutool({"--info"}, scenario);
    EXPECT_EQ(r.exitCode, 10) << c.label << r.err;
    EXPECT_EQ(r.out, "consutool: The specified file was not found\n") << c.label;
    EXPECT_EQ(r.err.find("untouchable"), std::string::npos) << c.label;
  }
}

// What needs no device: the list and version per family, a name not
// listed, no scanner at all, options and words the tool refuses.
TEST(ConsutoolRun, WithoutOpeningTheDevice) {
  Libraries(true, MQCONTROL_UNTOUCHABLE);
  const auto& selko2 = dravn::kSelko2Models[0];
  const auto& selko = dravn::kSelkoModels[0];
  const auto& brenna = dravn::kBrennaModels[0];
  const std::string scenario =
      Device("selko2", selko2, 3, 4) + Device("selko", selko, 3, 5) + Device("brenna", brenna, 4, 2);
  auto r = Consutool({"-L"}, scenario);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // In the device watch library's order.
  EXPECT_EQ(r.out, "List of available devices:\n    " + Name(brenna, 4, 2) + "\n    " + Name(selko, 3, 5) + "\n    " +
                       Name(selko2, 3, 4) + "\n");

  r = Consutool({"-V", "--sleeptimer", "10"}, scenario);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Consumable tool for RK Series scanner\nVersion 3.0.0\nCopyright 2022\n");

  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string scenario;
    int status;
    std::string out;
    std::string errPart;
  } cases[] = {
      {"unlisted name", {"-d", "Nobody:001:002", "--sleeptimer", "10"}, scenario, 6, kNotConnected, ""},
      {"name of a listed model, other address", {"--device-name=" + Name(selko2, 3, 9), "--info"}, scenario, 6,
       kNotConnected, ""},
      {"no scanner", {"--info"}, "# nothing attached\n", 6, kNotConnected, ""},
      // What needs no scanner is answered without one.
      {"help, no scanner", {"-h"}, "# nothing attached\n", 0,
       "Usage: consutool [OPTION]...\n\n"
       "-d, --device-name DEVICE      use a given scanner device\n"
       "-L, --list-devices            show available scanner devices\n"
       "-h, --help                    display this help message and exit\n"
       "-V, --version                 print version information\n\n"
       "List of available devices:\n",
       ""},
      {"version, no scanner", {"--sleeptimer", "10", "--version"}, "# nothing attached\n", 0,
       "Consumable tool for RK Series scanner\nVersion 3.0.0\nCopyright 2022\n", ""},
      {"list, no scanner", {"-L"}, "# nothing attached\n", 0, "List of available devices:\n", ""},
      {"a change, no scanner", {"--sleeptimer", "10"}, "# nothing attached\n", 6, kNotConnected, ""},
      {"unknown option", {"--bogus"}, scenario, 3, "", "unrecognized option '--bogus'"},
      {"value missing", {"-d"}, scenario, 3, "", "requires an argument"},
      {"stray words", {"left", "over"}, scenario, 9, "consutool: argument without option: `over';try consutool --help\n",
       ""},
  };
  for (const auto& c : cases) {
    r = Consutool(c.args, c.scenario);
    EXPECT_EQ(r.exitCode, c.status) << c.label << r.err;
    EXPECT_EQ(r.out, c.out) << c.label;
    EXPECT_EQ(r.err.find("untouchable"), std::string::npos) << c.label << r.err;
    if (!c.errPart.empty()) {
      EXPECT_NE(r.err.find(c.errPart), std::string::npos) << c.label << r.err;
    }
  }
  Libraries(false, "");
}

// ---- the fault matrix ----
// The change flows run through the staged settings library over simulated
// generic scanners whose two EEPROMs live in a state file: working then
// persistent, 512 bytes each.
constexpr size_t kEeprom = 512;
using Bytes = std::vector<unsigned char>;

struct Flow {
  const char* label;
  unsigned productId;
  std::vector<std::string> args;
};

// A device image with every counter, timer and offset byte the flows touch
// set to something other than what they write.
Bytes Seeded() {
  Bytes image(kEeprom, 0);
  for (size_t i = 0; i < kEeprom; ++i) image[i] = static_cast<unsigned char>((i * 7 + 3) & 0x7F);
  image[64] = 0x83;  // 15 minutes
  return image;
}

struct MatrixRun {
  RunResult result;
  Bytes persistent;
  std::string transcript;
};

MatrixRun RunFlow(const Flow& flow, const std::string& fault) {
  const std::string dir = dravn_test::MakeTempDir("consutool-matrix");
  Bytes image = Seeded();
  Bytes both = image;
  both.insert(both.end(), image.begin(), image.end());
  dravn_test::WriteFile(dir + "/state", std::string(both.begin(), both.end()));
  char ids[32];
  std::snprintf(ids, sizeof ids, "usb 0x2d4e 0x%04x\n", flow.productId);
  dravn_test::WriteFile(dir + "/dravn.conf", ids);
  char device[64];
  std::snprintf(device, sizeof device, "device generic 2d4e:%04x bus=1 address=2\n", flow.productId);
  dravn_test::WriteFile(dir + "/scenario", device + ("set state=" + dir + "/state\n") + fault);
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["DRAVN_CONFIG_DIR"] = dir;
  env["DRAVN_SIM_TRANSCRIPT"] = dir + "/transcript";
  std::vector<std::string> argv{"unshare", "--ipc", CONSUTOOL_TESTLIBS};
  argv.insert(argv.end(), flow.args.begin(), flow.args.end());
  MatrixRun run;
  run.result = dravn_test::Run(argv, env, 60);
  const std::string state = dravn_test::ReadFile(dir + "/state");
  if (state.size() == 2 * kEeprom) run.persistent.assign(state.begin() + kEeprom, state.end());
  run.transcript = dravn_test::ReadFile(dir + "/transcript");
  return run;
}

int CountLines(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

// A failed run ends 3, 6 or 7 (a read that fails before the option is
// weighed can make the option look unsupported), and every byte outside
// [skipFrom, skipTo) holds its old or its intended value.
void ExpectFailedRunKeeps(const std::string& where, const MatrixRun& run, const Bytes& old, const Bytes& intended,
                          size_t skipFrom, size_t skipTo) {
  EXPECT_TRUE(run.result.exitCode == 3 || run.result.exitCode == 6 || run.result.exitCode == 7)
      << where << run.result.exitCode << run.result.out;
  for (size_t i = 0; i < old.size() && i < run.persistent.size(); ++i) {
    if (i >= skipFrom && i < skipTo) continue;
    if (run.persistent[i] != old[i] && run.persistent[i] != intended[i]) {
      ADD_FAILURE() << where << "byte " << i << " holds " << int(run.persistent[i]) << ", neither " << int(old[i])
                    << " nor " << int(intended[i]);
      return;
    }
  }
}

// A clean run counts its transfers N and command blocks C; then one fault at
// each transfer k (fail, stall, short, time-out, gone) and at each command
// (check condition) and status block (bad status). A run ends 0 only with
// the intended image; otherwise every byte holds its old or its intended
// value, and no interface stays claimed.
TEST(ConsutoolRun, FaultMatrix) {
  Libraries(true, kStagedMqcontrol);
  const Flow flows[] = {
      {"power saving (Tavrin3 merge)", 0x1621, {"--sleeptimer", "30"}},
      {"brake roller clear", 0x1621, {"--brake-roller-clear"}},
      {"pick roller clear", 0x1601, {"--pick-roller-clear"}},
      {"offsets and magnification", 0x1621,
       {"--adf-front-offset-main=3", "--adf-back-offset-sub", "-2", "--adf-magnification-adjustment", "-1.2"}},
      {"after cleaning and power saving (RTOS merge)", 0x1701,
       {"--after-cleaning-clear", "--sleeptimer", "45"}},
  };
  const char* const kTransferFaults[] = {"fail", "stall", "short 7", "timeout", "gone"};
  for (const auto& flow : flows) {
    const MatrixRun clean = RunFlow(flow, "");
    ASSERT_EQ(clean.result.exitCode, 0) << flow.label << clean.result.out << clean.result.err;
    ASSERT_EQ(clean.result.out.find("Set successfully"), clean.result.out.size() - 17) << flow.label;
    const Bytes old = Seeded();
    const Bytes intended = clean.persistent;
    ASSERT_EQ(intended.size(), kEeprom) << flow.label;
    ASSERT_NE(intended, old) << flow.label << ": the flow must change the device";
    const int transfers = CountLines(clean.transcript, " #");
    const int commands = CountLines(clean.transcript, "bulk out ep=0x02 len=31 ");
    ASSERT_GT(transfers, 0) << flow.label;
    std::vector<std::string> faults;
    for (int k = 1; k <= transfers; ++k)
      for (const char* kind : kTransferFaults) faults.push_back("fault transfer " + std::to_string(k) + " " + kind + "\n");
    for (int k = 1; k <= commands; ++k) {
      faults.push_back("set check_at=" + std::to_string(k) + "\n");
      faults.push_back("set bad_status_at=" + std::to_string(k) + "\n");
    }
    int failed = 0;
    for (const auto& fault : faults) {
      const MatrixRun run = RunFlow(flow, fault);
      const std::string where = std::string(flow.label) + " / " + fault;
      ASSERT_EQ(run.persistent.size(), kEeprom) << where;
      if (run.result.exitCode == 0) {
        const auto diff = std::mismatch(run.persistent.begin(), run.persistent.end(), intended.begin());
        if (diff.first != run.persistent.end())
          ADD_FAILURE() << where << "a run that reports success left byte " << (diff.first - run.persistent.begin())
                        << " at " << int(*diff.first) << ", not " << int(*diff.second);
      } else {
        ++failed;
        ExpectFailedRunKeeps(where, run, old, intended, 0, 0);
      }
      EXPECT_EQ(CountLines(run.transcript, " claim "), CountLines(run.transcript, " release ")) << where;
    }
    EXPECT_GT(failed, 0) << flow.label;
  }
  Libraries(false, "");
}

// The same matrix over the Selko, Selko2 and Brenna scanners, whose
// persistent memory lives in their own state files (the Selko2 timers in a
// second one). The old memory is what an information run leaves, the
// intended one what a clean change run leaves. Selko requests are retried a
// second apart after a fault, so its faults are sparse: every 12th transfer,
// fail and short in turn. The Selko2 lock record (state bytes 288-327) must
// be free after every run but one whose scanner left the bus, which nobody
// can unlock.
struct FamilyFlow {
  const char* label;
  std::string device;
  std::vector<std::string> args;
  int stride;
  std::vector<const char*> kinds;  // each at every k, or in turn with `inTurn`
  bool lock;
  bool inTurn = false;
  // Files laid into the run's folder first, the folder standing for @DIR@
  // in `device`: a memory whose counters the clear options change.
  std::vector<std::pair<std::string, Bytes>> seeds = {};
};
constexpr size_t kLockFrom = 288, kLockTo = 328;

MatrixRun RunFamilyFlow(const FamilyFlow& flow, const std::vector<std::string>& args, const std::string& fault) {
  const std::string dir = dravn_test::MakeTempDir("consutool-family");
  dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1301\nusb 0x2d4e 0x1201\nusb 0x2d4e 0x1401\n");
  for (const auto& [name, bytes] : flow.seeds) dravn_test::WriteFile(dir + "/" + name, std::string(bytes.begin(), bytes.end()));
  std::string device = flow.device;
  for (size_t at; (at = device.find("@DIR@")) != std::string::npos;) device.replace(at, 5, dir);
  dravn_test::WriteFile(dir + "/scenario", device + "set state=" + dir + "/state\n" + fault);
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["DRAVN_CONFIG_DIR"] = dir;
  env["DRAVN_SIM_TRANSCRIPT"] = dir + "/transcript";
  std::vector<std::string> argv{"unshare", "--ipc", kConsutool};
  argv.insert(argv.end(), args.begin(), args.end());
  MatrixRun run;
  run.result = dravn_test::Run(argv, env, 120);
  for (const char* file : {"/state", "/state-timers"}) {
    const std::string bytes = dravn_test::ReadFile(dir + file);
    run.persistent.insert(run.persistent.end(), bytes.begin(), bytes.end());
  }
  run.transcript = dravn_test::ReadFile(dir + "/transcript");
  return run;
}

// A lock whose owner read-back fails may still be held by the scanner: the
// call that took it (the function arbitration's, whose failure the run
// bears) gives it back, so the next call locks afresh and the change is
// made; the scanner ends unlocked.
TEST(ConsutoolRun, Selko2LockGivenBackWhenItsReadBackFails) {
  const FamilyFlow flow{"Selko2", "device selko2 2d4e:1301 bus=3 address=7\n", {}, 1, {}, true};
  for (const char* kind : {"fail", "timeout"}) {
    const MatrixRun run = RunFamilyFlow(flow, {"--sleeptimer", "30"}, std::string("fault transfer 6 ") + kind + "\n");
    EXPECT_EQ(run.result.exitCode, 0) << kind << run.result.out;
    EXPECT_EQ(run.result.out, "consutool: Set successfully\n") << kind;
    ASSERT_GE(run.persistent.size(), kLockTo + 4) << kind;
    EXPECT_EQ(run.persistent[kLockTo], 30) << kind << ": the sleep timer";
    EXPECT_EQ(Bytes(run.persistent.begin() + kLockFrom, run.persistent.begin() + kLockTo), Bytes(kLockTo - kLockFrom, 0))
        << kind;
  }
}

// A timer read that times out leaves its reply in the pipe, where every
// later read would take the bytes of the one before: the change fails
// before anything is written, never reports success over shifted memory.
TEST(ConsutoolRun, Selko2TimerReadTimeOutChangesNothing) {
  const FamilyFlow flow{"Selko2", "device selko2 2d4e:1301 bus=3 address=7\n", {}, 1, {}, true};
  const std::vector<std::string> args{"--sleeptimer", "30", "--power-off", "1-hour"};
  const MatrixRun before = RunFamilyFlow(flow, {"--info"}, "");
  ASSERT_EQ(before.result.exitCode, 0) << before.result.err;
  const MatrixRun clean = RunFamilyFlow(flow, args, "");
  ASSERT_EQ(clean.result.exitCode, 0) << clean.result.err;
  ASSERT_NE(clean.persistent, before.persistent);
  // Transfers 14 and 17 are the sleep and auto-off timer data of the read.
  for (int k : {14, 17}) {
    const MatrixRun run = RunFamilyFlow(flow, args, "fault transfer " + std::to_string(k) + " timeout\n");
    EXPECT_NE(run.result.exitCode, 0) << k << run.result.out;
    EXPECT_EQ(run.persistent, before.persistent) << k;
  }
}

// Memories with every counter the clear options reset set: the Selko2
// NVRAM (with its lock record) and the Brenna read data.
Bytes Selko2Memory() {
  Bytes state(kLockTo, 0);
  state[68] = 0x88, state[69] = 0x13;  // 5000 sheets on the roller counter
  return state;
}
Bytes BrennaReadData() {
  Bytes data(255, 0);
  data[4] = 3, data[77] = 4;
  return data;
}

class FaultMatrixPerFamily : public testing::TestWithParam<FamilyFlow> {};

TEST_P(FaultMatrixPerFamily, EveryRunEndsInTheOldOrTheIntendedMemory) {
  const FamilyFlow& flow = GetParam();
  const MatrixRun before = RunFamilyFlow(flow, {"--info"}, "");
  ASSERT_EQ(before.result.exitCode, 0) << flow.label << before.result.err;
  const MatrixRun clean = RunFamilyFlow(flow, flow.args, "");
  ASSERT_EQ(clean.result.exitCode, 0) << flow.label << clean.result.out << clean.result.err;
  ASSERT_EQ(clean.result.out, "consutool: Set successfully\n") << flow.label;
  const Bytes& old = before.persistent;
  const Bytes& intended = clean.persistent;
  ASSERT_EQ(intended.size(), old.size()) << flow.label;
  ASSERT_NE(intended, old) << flow.label << ": the flow must change the device";
  const int transfers = CountLines(clean.transcript, " #");
  ASSERT_GT(transfers, 0) << flow.label;
  int failed = 0;
  for (int k = 1; k <= transfers; k += flow.stride) {
    for (size_t i = 0; i < flow.kinds.size(); ++i) {
      if (flow.inTurn && i != static_cast<size_t>(k / flow.stride) % flow.kinds.size()) continue;
      const char* kind = flow.kinds[i];
      const std::string fault = "fault transfer " + std::to_string(k) + " " + kind + "\n";
      const MatrixRun run = RunFamilyFlow(flow, flow.args, fault);
      const std::string where = std::string(flow.label) + " / " + fault;
      ASSERT_EQ(run.persistent.size(), old.size()) << where;
      const bool skipLock = flow.lock && std::string(kind) == "gone";
      if (run.result.exitCode == 0) {
        Bytes left = run.persistent, want = intended;
        if (skipLock) {
          std::fill(left.begin() + kLockFrom, left.begin() + kLockTo, 0);
          std::fill(want.begin() + kLockFrom, want.begin() + kLockTo, 0);
        }
        EXPECT_EQ(left, want) << where << "a run that reports success left other memory";
      } else {
        ++failed;
        ExpectFailedRunKeeps(where, run, old, intended, skipLock ? kLockFrom : 0, skipLock ? kLockTo : 0);
      }
      EXPECT_EQ(CountLines(run.transcript, " claim "), CountLines(run.transcript, " release ")) << where;
    }
  }
  EXPECT_GT(failed, 0) << flow.label;
}

const char* const kEveryKind[] = {"fail", "stall", "short 7", "timeout", "gone"};

INSTANTIATE_TEST_SUITE_P(
    ConsutoolRun, FaultMatrixPerFamily,
    testing::Values(
        FamilyFlow{"Selko2",
                   "device selko2 2d4e:1301 bus=3 address=7\n",
                   {"--roller-set-clear", "--sleeptimer", "30", "--power-off", "1-hour"},
                   1,
                   {std::begin(kEveryKind), std::end(kEveryKind)},
                   true,
                   false,
                   {{"state", Selko2Memory()}}},
        FamilyFlow{"Selko",
                   "device selko 2d4e:1201 bus=3 address=7\nset firmware=0x01,0x20\n"
                   "set param=0:10000000,4:20000000,60:0f000000,64:f0000000,"
                   "168:00000000000000000000000000000000,256:00000000,260:05000000\n",
                   {"--roller-set-clear", "--sleeptimer", "30", "--power-off", "1-hour"},
                   12,
                   {"fail", "short 7"},
                   false,
                   true},
        FamilyFlow{"Brenna",
                   "device brenna 2d4e:1401 bus=3 address=7\nset readdata=@DIR@/readdata\n",
                   {"--pad-clear", "--pick-roller-clear", "--sleeptimer", "30", "--power-off", "1-hour"},
                   1,
                   {std::begin(kEveryKind), std::end(kEveryKind)},
                   false,
                   false,
                   {{"readdata", BrennaReadData()}}}),
    [](const testing::TestParamInfo<FamilyFlow>& info) { return std::string(info.param.label); });

// What the Tavrin layout's models show of the bytes
// 53:0x2B,56:0x9F,124:3,60:2,64:0x86.
const std::string kTavrinLayoutShown =
    " Brake Roller:\t\t\t1500 Sheets\n Pick Roller:\t\t\t1000 Sheets\n Power saving:\t\t\t30 Minutes\n"
    "Offset Setting:\n ADF(front):\t\n  Main:\t\t\t\t-3*0.5mm\n  Sub:\t\t\t\t2*0.5mm\n"
    " ADF(back):\t\n  Main:\t\t\t\t0*0.5mm\n  Sub:\t\t\t\t0*0.5mm\n"
    " Flatbed:\t\n  Main:\t\t\t\t0*0.5mm\n  Sub:\t\t\t\t0*0.5mm\n"
    "Vertical magnification adjustment:\n ADF:\t\t\t\t-3.1%\n Flatbed:\t\t\t0.0%\n";

// The staged consutool's device information per family.
TEST(ConsutoolRun, InformationPerFamily) {
  const std::string dir = dravn_test::MakeTempDir("consutool-info");
  dravn_test::WriteFile(dir + "/dravn.conf",
                        "usb 0x2d4e 0x1621\nusb 0x2d4e 0x1301\nusb 0x2d4e 0x1201\nusb 0x2d4e 0x1401\nusb 0x2d4e 0x1103\n");
  struct Case {
    const char* label;
    std::string scenario;
    std::string out;
  } cases[] = {
      {"Selko2",
       "device selko2 2d4e:1301 bus=3 address=7\nset nvram_year=23\nset nvram_month=4\nset nvram_day=1\n",
       "Device Info:\n Product Identification:\tSelko2S420      \n Product Revision:\t\t0201\n"
       " Initial Use:\t\t\t23/04/01\n Serial Number:\t\t\tNot Defined\nDevice Setting:\n"
       " Total Count (ADF):\t\t0 Sheets\n Roller Set:\t\t\t0 Sheets\n Power saving:\t\t\t15 Minutes\n"
       " Power off:\t\t\t4 Hours\n"},
      {"Selko", "device selko 2d4e:1201 bus=3 address=7\n",
       "Device Info:\n Product Identification:\tSelkoS150       \n Product Revision:\t\t\n"
       " Serial Number:\t\t\tNot Defined\nDevice Setting:\n Total Count (ADF):\t\t0 Sheets\n"
       " Roller Set:\t\t\t0 Sheets\n Power saving:\t\t\t15 Minutes\n Power off:\t\t\tinactive\n"},
      {"Brenna", "device brenna 2d4e:1401 bus=3 address=7\n",
       "Device Info:\n Product Identification:\tBrennaB700      \n Product Revision:\t\t1.02\n"
       " Serial Number:\t\t\tNot Defined\nDevice Setting:\n Total Count (ADF):\t\t0 Sheets\n"
       " Total Count (FB):\t\t0 Sheets\n Pad:\t\t\t\t0 Sheets\n Pick Roller:\t\t\t0 Sheets\n"
       " Power saving:\t\t\t15 Minutes\n Power off:\t\t\tinactive\n"},
      {"Tavrin4LA (generic)",
       "device generic 2d4e:1621 bus=3 address=7\nset eeprom_byte=53:0x2B,56:0x9F,124:3,60:2,64:0x86\n",
       "Device Info:\n Product Identification:\tTavrin4LA110    \n Product Revision:\t\t0100\n"
       " Serial Number:\t\t\tNot Defined\nDevice Setting:\n Total Count (ADF):\t\t0 Sheets\n"
       + kTavrinLayoutShown},
      // The Docuvane line answers only group W's read text.
      {"Docuvane", "device corvane 2d4e:1103 bus=3 address=7\nset eeprom_byte=53:0x2B,56:0x9F,124:3,60:2,64:0x86\n",
       "Device Info:\n Product Identification:\tDocuvaneRK90    \n Product Revision:\t\t\n"
       " Serial Number:\t\t\tNot Defined\nDevice Setting:\n Total Count (ADF):\t\t0 Sheets\n"
       + kTavrinLayoutShown},
  };
  for (const auto& c : cases) {
    dravn_test::WriteFile(dir + "/scenario", c.scenario);
    auto env = dravn_test::SimEnv(dir + "/scenario");
    env["DRAVN_CONFIG_DIR"] = dir;
    // Without arguments and with --info alike; a Selko scanner once, since
    // without firmware bytes in its name reply the library retries that read
    // ten times a second apart.
    const bool selko = std::string(c.label) == "Selko";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--info"}, std::vector<std::string>{}}) {
      if (selko && args.empty()) continue;
      std::vector<std::string> argv{"unshare", "--ipc", kConsutool};
      argv.insert(argv.end(), args.begin(), args.end());
      auto r = dravn_test::Run(argv, env, 60);
      EXPECT_EQ(r.exitCode, 0) << c.label << r.err;
      EXPECT_EQ(r.out, c.out) << c.label;
    }
  }
}

// The timer options of the Selko, Selko2 and Brenna families reach the
// device's persistent memory: a later run reads back what an earlier one
// reported as set. Each family's memory lives in a state file; the Selko
// scanner answers its firmware bytes so its reads need no retries.
TEST(ConsutoolRun, TimersPersistPerFamily) {
  const std::string dir = dravn_test::MakeTempDir("consutool-timers");
  dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1301\nusb 0x2d4e 0x1201\nusb 0x2d4e 0x1401\n");
  const struct {
    const char* label;
    std::string device;
  } families[] = {
      {"Selko2", "device selko2 2d4e:1301 bus=3 address=7\n"},
      {"Selko", "device selko 2d4e:1201 bus=3 address=7\nset firmware=0x01,0x20\nset param=60:0f000000,64:f0000000\n"},
      {"Brenna", "device brenna 2d4e:1401 bus=3 address=7\n"},
  };
  const struct {
    std::vector<std::string> args;
    const char* shown;
  } steps[] = {
      {{"--sleeptimer", "30"}, " Power saving:\t\t\t30 Minutes\n"},
      {{"--power-off", "1-hour"}, " Power off:\t\t\t1 Hour\n"},
      {{"--sleeptimer=115"}, " Power saving:\t\t\t115 Minutes\n"},
      {{"--power-off", "inactive"}, " Power off:\t\t\tinactive\n"},
      {{"--power-off", "8-hours"}, " Power off:\t\t\t8 Hours\n"},
      {{"--power-off", "2-hours", "--sleeptimer", "5"}, " Power saving:\t\t\t5 Minutes\n Power off:\t\t\t2 Hours\n"},
  };
  for (const auto& f : families) {
    unlink((dir + "/state").c_str());
    dravn_test::WriteFile(dir + "/scenario", f.device + "set state=" + dir + "/state\n");
    auto env = dravn_test::SimEnv(dir + "/scenario");
    env["DRAVN_CONFIG_DIR"] = dir;
    for (const auto& step : steps) {
      const std::string where = std::string(f.label) + " " + step.args[0] + " " + step.args.back();
      std::vector<std::string> argv{"unshare", "--ipc", kConsutool};
      argv.insert(argv.end(), step.args.begin(), step.args.end());
      auto set = dravn_test::Run(argv, env, 60);
      EXPECT_EQ(set.exitCode, 0) << where << set.out << set.err;
      EXPECT_EQ(set.out, "consutool: Set successfully\n") << where;
      auto info = dravn_test::Run({"unshare", "--ipc", kConsutool, "--info"}, env, 60);
      EXPECT_EQ(info.exitCode, 0) << where << info.err;
      EXPECT_NE(info.out.find(step.shown), std::string::npos) << where << "\n" << info.out;
    }
  }
}

// The line `n` lines below the first line that is `header`, or "".
std::string LineBelow(const std::string& text, const std::string& header, int n) {
  size_t at = text.find("\n" + header + "\n");
  if (at == std::string::npos) return "";
  at += header.size() + 2;
  for (int i = 1; i < n && at != std::string::npos; ++i) at = text.find('\n', at) + 1;
  const size_t end = text.find('\n', at);
  return end == std::string::npos ? "" : text.substr(at, end - at);
}

// Each change option of the staged consutool, alone, over a generic scanner
// whose every byte differs from what the options write: it prints "Set
// successfully", the persistent memory changes, and a later --info shows
// the new value. --info beside a change changes nothing.
TEST(ConsutoolRun, EveryChangeOptionReachesTheDevice) {
  const std::string dir = dravn_test::MakeTempDir("consutool-options");
  dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1621\nusb 0x2d4e 0x1716\n");
  const struct {
    unsigned productId;
    std::vector<std::string> args;
    const char* header;  // the line shown is this one, or the n-th below it
    int below;
    const char* shown;
  } cases[] = {
      {0x1621, {"--sleeptimer", "40"}, " Power saving:\t\t\t40 Minutes", 0, nullptr},
      {0x1621, {"--brake-roller-clear"}, " Brake Roller:\t\t\t0 Sheets", 0, nullptr},
      {0x1621, {"--pick-roller-clear"}, " Pick Roller:\t\t\t0 Sheets", 0, nullptr},
      {0x1716, {"--after-cleaning-clear"}, " After cleaning:\t\t0 Sheets", 0, nullptr},
      {0x1621, {"--adf-front-offset-main=2"}, " ADF(front):\t", 1, "  Main:\t\t\t\t2*0.5mm"},
      {0x1621, {"--adf-front-offset-sub", "-1"}, " ADF(front):\t", 2, "  Sub:\t\t\t\t-1*0.5mm"},
      {0x1621, {"--adf-back-offset-main", "3"}, " ADF(back):\t", 1, "  Main:\t\t\t\t3*0.5mm"},
      {0x1621, {"--adf-back-offset-sub=-4"}, " ADF(back):\t", 2, "  Sub:\t\t\t\t-4*0.5mm"},
      {0x1621, {"--flatbed-offset-main", "1"}, " Flatbed:\t", 1, "  Main:\t\t\t\t1*0.5mm"},
      {0x1621, {"--flatbed-offset-sub", "-2"}, " Flatbed:\t", 2, "  Sub:\t\t\t\t-2*0.5mm"},
      {0x1716, {"--adf-magnification-adjustment", "1.5"}, "Vertical magnification adjustment:", 1,
       " ADF:\t\t\t\t1.5%"},
      {0x1716, {"--flatbed-magnification-adjustment=-0.7"}, "Vertical magnification adjustment:", 2,
       " Flatbed:\t\t\t-0.7%"},
  };
  const Bytes image = Seeded();
  const std::string both = std::string(image.begin(), image.end()) + std::string(image.begin(), image.end());
  for (const auto& c : cases) {
    const std::string where = c.args[0];
    char device[64];
    std::snprintf(device, sizeof device, "device generic 2d4e:%04x bus=3 address=7\n", c.productId);
    dravn_test::WriteFile(dir + "/state", both);
    dravn_test::WriteFile(dir + "/scenario", device + ("set state=" + dir + "/state\n"));
    auto env = dravn_test::SimEnv(dir + "/scenario");
    env["DRAVN_CONFIG_DIR"] = dir;
    auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin(), {"unshare", "--ipc", kConsutool});
      return dravn_test::Run(args, env, 60);
    };
    std::vector<std::string> withInfo = c.args;
    withInfo.push_back("--info");
    const auto looked = run(withInfo);
    EXPECT_EQ(looked.exitCode, 0) << where << looked.err;
    EXPECT_EQ(looked.out.rfind("Device Info:\n", 0), 0u) << where << looked.out;
    EXPECT_EQ(dravn_test::ReadFile(dir + "/state"), both) << where << ": --info changed the device";

    const auto set = run(c.args);
    EXPECT_EQ(set.exitCode, 0) << where << set.out << set.err;
    EXPECT_EQ(set.out, "consutool: Set successfully\n") << where;
    const std::string state = dravn_test::ReadFile(dir + "/state");
    ASSERT_EQ(state.size(), 2 * kEeprom) << where;
    EXPECT_NE(state.substr(kEeprom), both.substr(kEeprom)) << where << ": the persistent memory did not change";
    const auto info = run({"--info"});
    EXPECT_EQ(info.exitCode, 0) << where << info.err;
    if (c.shown) {
      EXPECT_EQ(LineBelow(info.out, c.header, c.below), c.shown) << where << "\n" << info.out;
    } else {
      EXPECT_NE(info.out.find(std::string("\n") + c.header + "\n"), std::string::npos) << where << "\n" << info.out;
    }
  }
}

// A Docuvane scanner's changes go out in its 384-byte table with group W's
// 16-bit fields, are committed, and a later run reads them back.
TEST(ConsutoolRun, DocuvaneChangesReachTheScanner) {
  const std::string dir = dravn_test::MakeTempDir("consutool-docuvane");
  dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1103\n");
  dravn_test::WriteFile(dir + "/scenario", "device corvane 2d4e:1103 bus=3 address=10\nset state=" + dir + "/state\n");
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["DRAVN_CONFIG_DIR"] = dir;
  const struct {
    std::vector<std::string> args;
    const char* shown;
  } steps[] = {
      {{"--sleeptimer", "45"}, " Power saving:\t\t\t45 Minutes\n"},
      {{"--adf-back-offset-main", "-2"}, " ADF(back):\t\n  Main:\t\t\t\t-2*0.5mm\n"},
      {{"--flatbed-magnification-adjustment", "0.4"}, " Flatbed:\t\t\t0.4%\n"},
  };
  for (const auto& step : steps) {
    std::vector<std::string> argv{"unshare", "--ipc", kConsutool, "-d", "DocuvaneRK90:003:010"};
    argv.insert(argv.end(), step.args.begin(), step.args.end());
    auto set = dravn_test::Run(argv, env, 60);
    EXPECT_EQ(set.exitCode, 0) << step.args[0] << set.out << set.err;
    EXPECT_EQ(set.out, "consutool: Set successfully\n") << step.args[0];
    auto info = dravn_test::Run({"unshare", "--ipc", kConsutool, "--info"}, env, 60);
    EXPECT_EQ(info.exitCode, 0) << step.args[0] << info.err;
    EXPECT_NE(info.out.find(step.shown), std::string::npos) << step.args[0] << "\n" << info.out;
  }
}

// The Dunmo and Zembl models' layouts take a power-saving change into a
// byte that the write does not carry or that the time is not read from:
// their time is shown, the option is neither listed nor taken, and nothing
// reaches the scanner.
TEST(ConsutoolRun, PowerSavingNotOfferedWhereTheLayoutCannotCarryIt) {
  const std::string dir = dravn_test::MakeTempDir("consutool-unshown");
  dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1501\nusb 0x2d4e 0x1d01\n");
  for (const char* product : {"1501", "1d01"}) {
    dravn_test::WriteFile(dir + "/scenario", std::string("device generic 2d4e:") + product +
                                                 " bus=3 address=8\nset state=" + dir + "/state\n");
    unlink((dir + "/state").c_str());
    auto env = dravn_test::SimEnv(dir + "/scenario");
    env["DRAVN_CONFIG_DIR"] = dir;
    env["DRAVN_SIM_TRANSCRIPT"] = dir + "/transcript";
    auto set = dravn_test::Run({"unshare", "--ipc", kConsutool, "--sleeptimer", "45"}, env, 60);
    EXPECT_EQ(set.exitCode, 3) << product << set.out << set.err;
    EXPECT_EQ(set.out, "consutool: unrecognized option '--sleeptimer'\n") << product;
    const std::string modeSelect = " 43" + std::string(36, '0') + "1510";
    EXPECT_EQ(dravn_test::ReadFile(dir + "/transcript").find(modeSelect), std::string::npos) << product;
    auto help = dravn_test::Run({"unshare", "--ipc", kConsutool, "-h"}, env, 60);
    EXPECT_EQ(help.exitCode, 0) << product << help.err;
    EXPECT_EQ(help.out.find("--sleeptimer"), std::string::npos) << product << help.out;
    auto info = dravn_test::Run({"unshare", "--ipc", kConsutool, "--info"}, env, 60);
    EXPECT_EQ(info.exitCode, 0) << product << info.err;
    EXPECT_NE(info.out.find("\n Power saving:\t\t\t15 Minutes\n"), std::string::npos) << product << info.out;
  }
}

// Devices the staged consutool must leave alone: a Selko2 scanner locked by
// another host (6, not 7) and a Tavrin4 scanner in boot mode.
TEST(ConsutoolRun, DevicesRefused) {
  const std::string dir = dravn_test::MakeTempDir("consutool-refused");
  dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1301\nusb 0x2d4e 0x1611\n");
  struct Case {
    const char* label;
    std::string scenario;
    int status;
  } cases[] = {
      {"Selko2 locked elsewhere", "device selko2 2d4e:1301 bus=3 address=7\nset lock_owner=OTHERHOST\n", 6},
      {"boot-mode firmware", "device generic 2d4e:1611 bus=3 address=7\nset firmware=0099\n", 6},
      {"firmware at the threshold", "device generic 2d4e:1611 bus=3 address=7\nset firmware=0100\n", 0},
  };
  for (const auto& c : cases) {
    dravn_test::WriteFile(dir + "/scenario", c.scenario);
    auto env = dravn_test::SimEnv(dir + "/scenario");
    env["DRAVN_CONFIG_DIR"] = dir;
    auto r = dravn_test::Run({"unshare", "--ipc", kConsutool, "--info"}, env, 60);
    EXPECT_EQ(r.exitCode, c.status) << c.label << r.err;
    if (c.status != 0) {
      EXPECT_EQ(r.out, kNotConnected) << c.label;
    }
  }
}

// A signal at a held transfer, with a second run in the same IPC namespace:
// SIGTERM neither stops the run nor skips its clean-up; after SIGKILL the
// next run takes the dead run's entry over and gets the device.
TEST(ConsutoolRun, SignalsAtAHeldTransfer) {
  Libraries(true, kStagedMqcontrol);
  const Flow flow{"brake roller clear", 0x1621, {"--brake-roller-clear"}};
  const MatrixRun clean = RunFlow(flow, "");
  ASSERT_EQ(clean.result.exitCode, 0) << clean.result.out << clean.result.err;
  const int commands = CountLines(clean.transcript, "bulk out ep=0x02 len=31 ");
  for (const char* signal : {"TERM", "KILL"}) {
    const std::string dir = dravn_test::MakeTempDir("consutool-signal");
    const Bytes image = Seeded();
    std::string both(image.begin(), image.end());
    dravn_test::WriteFile(dir + "/state", both + both);
    dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1621\n");
    const std::string device = "device generic 2d4e:1621 bus=1 address=2\nset state=" + dir + "/state\n";
    // Held at the last command but one: the change is under way.
    dravn_test::WriteFile(dir + "/scenario", device + "set hold_at=" + std::to_string(commands - 1) + "\n");
    const std::string script =
        "\"$1\" --brake-roller-clear > \"$2/first\" & p=$!\n"
        "i=0; while [ ! -e \"$2/state.hold\" ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done\n"
        "kill -" + std::string(signal) + " $p\n"
        "printf '%s' \"$3\" > \"$2/scenario\"; rm -f \"$2/state.hold\"\n"
        "wait $p; echo \"first $?\"\n"
        "\"$1\" --info > /dev/null; echo \"second $?\"\n";
    auto env = dravn_test::SimEnv(dir + "/scenario");
    env["DRAVN_CONFIG_DIR"] = dir;
    auto r = dravn_test::Run({"unshare", "--ipc", "sh", "-c", script, "sh", CONSUTOOL_TESTLIBS, dir, device}, env, 60);
    const std::string state = dravn_test::ReadFile(dir + "/state");
    ASSERT_EQ(state.size(), 2 * kEeprom) << signal;
    const Bytes persistent(state.begin() + kEeprom, state.end());
    if (std::string(signal) == "TERM") {
      EXPECT_EQ(r.out, "first 0\nsecond 0\n") << r.err;
      EXPECT_EQ(dravn_test::ReadFile(dir + "/first"), "consutool: Set successfully\n");
      EXPECT_EQ(persistent, clean.persistent);
    } else {
      EXPECT_EQ(r.out, "first 137\nsecond 0\n") << r.err;
      for (size_t i = 0; i < kEeprom; ++i)
        EXPECT_TRUE(persistent[i] == image[i] || persistent[i] == clean.persistent[i]) << "byte " << i;
    }
  }
  Libraries(false, "");
}

// Under a decimal-comma locale with a translated "mqlaunch" catalogue in the
// staged locale folder, the clear options still find their counters and
// numbers print with points.
TEST(ConsutoolRun, TranslatedCatalogueAndDecimalComma) {
  const std::string locales = dravn_test::MakeTempDir("consutool-locales");
  const std::string make = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef cannot make de_DE here";
  const std::string messages = std::string(DRAVN_LOCALE_DIR) + "/de/LC_MESSAGES";
  ASSERT_EQ(std::system(("mkdir -p " + messages).c_str()), 0);
  const std::string catalogue = messages + "/mqlaunch.mo";
  dravn_test::WriteMessageCatalogue(catalogue, {{"Brake Roller:", "Bremsrolle:"}, {"Pick Roller:", "Einzugsrolle:"}});
  Libraries(true, kStagedMqcontrol);
  const std::string dir = dravn_test::MakeTempDir("consutool-locale");
  const Bytes image = Seeded();
  const std::string both(image.begin(), image.end());
  dravn_test::WriteFile(dir + "/state", both + both);
  dravn_test::WriteFile(dir + "/dravn.conf", "usb 0x2d4e 0x1621\n");
  dravn_test::WriteFile(dir + "/scenario", "device generic 2d4e:1621 bus=1 address=2\nset state=" + dir + "/state\n");
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["DRAVN_CONFIG_DIR"] = dir;
  env["LOCPATH"] = locales;
  env["LC_ALL"] = "de_DE.UTF-8";
  env["LANGUAGE"] = "de";
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"unshare", "--ipc", CONSUTOOL_TESTLIBS});
    return dravn_test::Run(args, env, 60);
  };
  auto r = run({"--brake-roller-clear", "--pick-roller-clear", "--adf-magnification-adjustment", "3.15"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "consutool: rounded value of --adf-magnification-adjustment from 3.2 to 3.1\n"
            "consutool: Set successfully\n");
  r = run({"--info"});
  EXPECT_NE(r.out.find(" Bremsrolle:\t\t\t0 Sheets\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" Einzugsrolle:\t\t\t0 Sheets\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" ADF:\t\t\t\t3.1%\n"), std::string::npos) << r.out;
  r = run({"--help"});
  EXPECT_NE(r.out.find("--brake-roller-clear\n"), std::string::npos) << r.out;
  unlink(catalogue.c_str());
  Libraries(false, "");
}
// ---- end of the fault matrix ----

}  // namespace
