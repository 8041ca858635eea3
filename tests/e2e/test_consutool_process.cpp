// The staged consutool among other processes: its help per family, a run
// killed while it holds a scanner that scanimage then wants, owner texts
// that other programs left in the exclusive-access table, and the Selko2
// in-scanner lock that consutool, the device watch library and scanimage
// each take and give back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common_layer_util.h"
#include "devwatch_test_util.h"
#include "dravn_paths.h"
#include "exclusive_table.h"
#include "selko2_command.h"
#include "selko2_owner.h"
#include "test_support.h"

namespace {

using dravn_test::ReadFile;
using dravn_test::WriteFile;

const std::string kConsutool = DRAVN_USR_BIN_DIR "/consutool";

// A scenario and a dravn.conf naming the given ids, in a folder of their own.
std::map<std::string, std::string> Bench(const std::string& dir, const std::string& ids, const std::string& scenario) {
  WriteFile(dir + "/dravn.conf", ids);
  WriteFile(dir + "/scenario", scenario);
  auto env = dravn_test::SimEnv(dir + "/scenario");
  env["DRAVN_CONFIG_DIR"] = dir;
  env["DRAVN_DEBUG"] = "";
  return env;
}

// ---- help per family ----
const char kUsage[] =
    "Usage: consutool [OPTION]...\n\n"
    "-d, --device-name DEVICE      use a given scanner device\n"
    "-L, --list-devices            show available scanner devices\n"
    "-h, --help                    display this help message and exit\n"
    "-V, --version                 print version information\n\n";
const char kInfo[] = "--info\n  show the current scanner's information\n";
const char kAfterCleaning[] = "--after-cleaning-clear\n  clear the after cleaning counter\n";
const char kBrake[] = "--brake-roller-clear\n  clear the brake roller counter\n";
const char kRollerSet[] = "--roller-set-clear\n  clear the roller set counter\n";
const char kPad[] = "--pad-clear\n  clear the pad counter\n";
const char kPick[] = "--pick-roller-clear\n  clear the pick roller counter\n";
const char kPowerOff[] =
    "--power-off inactive | 1-hour | 2-hours | 4-hours | 8-hours\n"
    "  time in hours until the power turn off automatically\n";
// Every offset and magnification of a model with a flatbed and no end of page.
const char kOffsetsWithFlatbed[] =
    "--adf-front-offset-main -4..4(in steps of 1)\n  set main offset of adf front\n"
    "--adf-front-offset-sub -4..4(in steps of 1)\n  set sub offset of adf front\n"
    "--adf-back-offset-main -4..4(in steps of 1)\n  set main offset of adf back\n"
    "--adf-back-offset-sub -4..4(in steps of 1)\n  set sub offset of adf back\n"
    "--flatbed-offset-main -4..4(in steps of 1)\n  set main offset of flatbed\n"
    "--flatbed-offset-sub -4..4(in steps of 1)\n  set sub offset of flatbed\n"
    "--adf-magnification-adjustment -3.1..3.1(in steps of 0.1)\n  set magnification adjustment of adf\n"
    "--flatbed-magnification-adjustment -3.1..3.1(in steps of 0.1)\n  set magnification adjustment of flatbed\n";

// A feeder-only model's: the ADF ones alone.
const char kOffsetsWithoutFlatbed[] =
    "--adf-front-offset-main -4..4(in steps of 1)\n  set main offset of adf front\n"
    "--adf-front-offset-sub -4..4(in steps of 1)\n  set sub offset of adf front\n"
    "--adf-back-offset-main -4..4(in steps of 1)\n  set main offset of adf back\n"
    "--adf-back-offset-sub -4..4(in steps of 1)\n  set sub offset of adf back\n"
    "--adf-magnification-adjustment -3.1..3.1(in steps of 0.1)\n  set magnification adjustment of adf\n";

std::string SleepTimer(const char* range) {
  return std::string("--sleeptimer ") + range +
         "(in steps of 5)\n  time in minutes until the internal power supply switches to sleep mode\n";
}

// Each family's options as the settings library describes the model: the
// Selko families keep one roller-set counter, Brenna a pad and a pick
// roller, the generic models brake and pick rollers, offsets and the
// shorter timer range; only the RTOS merge counts sheets since cleaning.
// A feeder-only model is offered no flatbed option.
TEST(ConsutoolProcess, HelpPerFamily) {
  const std::string dir = dravn_test::MakeTempDir("consutool-help");
  const std::string ids =
      "usb 0x2d4e 0x1301\nusb 0x2d4e 0x1201\nusb 0x2d4e 0x1401\nusb 0x2d4e 0x1621\nusb 0x2d4e 0x1716\n"
      "usb 0x2d4e 0x1626\n";
  const std::string selkoOptions = std::string(kInfo) + kRollerSet + SleepTimer("5..115") + kPowerOff;
  const struct {
    const char* label;
    std::string scenario;
    const char* name;
    std::string options;
  } cases[] = {
      {"Selko2", "device selko2 2d4e:1301 bus=3 address=7\n", "Selko2S420:003:007", selkoOptions},
      // With its firmware bytes the name reply needs no retries.
      {"Selko", "device selko 2d4e:1201 bus=3 address=7\nset firmware=0x01,0x20\n", "SelkoS150:003:007",
       selkoOptions},
      {"Brenna", "device brenna 2d4e:1401 bus=3 address=7\n", "BrennaB700:003:007",
       std::string(kInfo) + kPad + kPick + SleepTimer("5..115") + kPowerOff},
      {"Tavrin4LA (Tavrin3 merge)", "device generic 2d4e:1621 bus=3 address=7\n", "Tavrin4LA110:003:007",
       std::string(kInfo) + kBrake + kPick + SleepTimer("15..55") + kOffsetsWithFlatbed},
      {"Tavrin5E (RTOS merge)", "device generic 2d4e:1716 bus=3 address=7\n", "Tv5E350:003:007",
       std::string(kInfo) + kAfterCleaning + kBrake + kPick + SleepTimer("15..55") + kOffsetsWithFlatbed},
      {"Tavrin4LA without a flatbed", "device generic 2d4e:1626 bus=3 address=7\n", "Tavrin4LA160:003:007",
       std::string(kInfo) + kBrake + kPick + SleepTimer("15..55") + kOffsetsWithoutFlatbed},
  };
  for (const auto& c : cases) {
    const auto env = Bench(dir, ids, c.scenario);
    const auto r = dravn_test::Run({"unshare", "--ipc", kConsutool, "-h"}, env, 60);
    EXPECT_EQ(r.exitCode, 0) << c.label << r.err;
    EXPECT_EQ(r.out, std::string(kUsage) + "Options specific to device '" + c.name + "'\n" + c.options +
                         "\nList of available devices:\n    " + c.name + "\n")
        << c.label;
  }
}

// ---- a run killed at a held transfer ----
int FirstTransferOut(const std::string& transcript) {
  const size_t at = transcript.find(" bulk out ");
  if (at == std::string::npos) return -1;
  const size_t hash = transcript.rfind('#', at);
  return hash == std::string::npos ? -1 : std::atoi(transcript.c_str() + hash + 1);
}

// A timer change of a Brenna scanner held at its first write. While the
// run lives, its table record keeps scanimage away (busy); once it is
// killed, scanimage lists the scanner and scans a page from it in the same
// IPC namespace: the dead run's record is taken over.
TEST(ConsutoolProcess, ScanimageGetsTheScannerOfAKilledRun) {
  const std::string dir = dravn_test::MakeTempDir("consutool-killed");
  const std::string ids = "usb 0x2d4e 0x1401\n";
  const std::string device = "device brenna 2d4e:1401 bus=3 address=7\nset state=" + dir + "/state\nset sheets=1\n";
  auto env = Bench(dir, ids, device);
  env["DRAVN_SIM_TRANSCRIPT"] = dir + "/transcript";
  auto clean = dravn_test::Run({"unshare", "--ipc", kConsutool, "--sleeptimer", "30"}, env, 60);
  ASSERT_EQ(clean.exitCode, 0) << clean.out << clean.err;
  const int write = FirstTransferOut(ReadFile(dir + "/transcript"));
  ASSERT_GT(write, 0);
  unlink((dir + "/state").c_str());
  env.erase("DRAVN_SIM_TRANSCRIPT");

  WriteFile(dir + "/scenario", device + "fault transfer " + std::to_string(write) + " hold " + dir + "/held\n");
  mkdir((dir + "/sane").c_str(), 0755);
  WriteFile(dir + "/sane/dll.conf", "dravn\n");
  env["SANE_CONFIG_DIR"] = dir + "/sane";
  const std::string script =
      "\"$1\" --sleeptimer 30 > \"$2/first\" & p=$!\n"
      "i=0; while [ ! -e \"$2/held\" ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done\n"
      "scanimage -d \"$4\" -A > /dev/null; echo \"held $?\"\n"
      "kill -KILL $p\n"
      "printf '%s' \"$3\" > \"$2/scenario\"; rm -f \"$2/held\"\n"
      "wait $p; echo \"first $?\"\n"
      "scanimage -L > \"$2/list\"; echo \"list $?\"\n"
      "scanimage -d \"$4\" --source Adf-front --paper-size A5 --page-auto=no --format=pnm -o \"$2/page.pnm\"\n"
      "echo \"scan $?\"\n";
  const std::string name = "dravn:BrennaB700:003:007";
  auto r = dravn_test::Run({"unshare", "--ipc", "sh", "-c", script, "sh", kConsutool, dir, device, name}, env, 120);
  EXPECT_EQ(r.out, "held 1\nfirst 137\nlist 0\nscan 0\n") << r.err;
  EXPECT_NE(r.err.find("Device busy"), std::string::npos) << r.err;
  EXPECT_NE(ReadFile(dir + "/list").find("device `" + name + "'"), std::string::npos);
  EXPECT_EQ(ReadFile(dir + "/page.pnm").compare(0, 3, "P6\n"), 0);
}

// ---- owner texts in the table ----
std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// Owner texts that a hostile or broken program may leave in the record of
// the scanner consutool wants, planted in a record that the table code made
// for it. None reaches a shell: the file each would make there never
// appears. Only a text of digits alone that names a running process holds
// the scanner; any other owner is dead, so consutool takes the record,
// reads the scanner and gives the record back.
TEST(ConsutoolProcess, HostileOwnerTextsRunNothing) {
  if (!common_layer_test::RunIsolated({"--ipc"})) return;
  const std::string dir = dravn_test::MakeTempDir("consutool-owners");
  const auto env = Bench(dir, "usb 0x2d4e 0x1621\n", "device generic 2d4e:1621 bus=3 address=7\n");
  const std::string device = "Tavrin4LA110:003:007";
  const std::string running = std::to_string(getpid());
  const struct {
    const char* label;
    std::string owner;
    const char* state;
    int status;
  } cases[] = {
      {"a command after a number", "1;touch X", "Reserved", 0},
      {"a command substitution filling the field", "$(touch X)", "Reserved", 0},
      // Nobody answers the dead owner's request: taken after the wait for
      // the scan-button daemon.
      {"back quotes in a request", "`touch X`", "Request", 0},
      {"a running pid with more after it", running + ";X", "Reserved", 0},
      {"-1, every process to kill()", "-1", "Reserved", 0},
      {"0, the own process group to kill()", "0", "Reserved", 0},
      {"a running pid plus 2^32", std::to_string((1ULL << 32) + getpid()), "Reserved", 0},
      {"a running pid zero-padded to the field's end", std::string(SHM_PID_SIZE - running.size(), '0') + running,
       "Reserved", 6},
  };
  for (const auto& c : cases) {
    ASSERT_LE(c.owner.size(), static_cast<size_t>(SHM_PID_SIZE)) << c.label;
    CExclusiveTable table(KELO_BACKEND_MAIN);
    ASSERT_TRUE(table.InitShareMemory()) << c.label;
    ASSERT_EQ(table.CreateControlFile(device.c_str()), 0) << c.label;
    SHM_DEVICE_ENTRY& e = table.GetEntry()[table.GetEntryIndex()];
    std::memset(e.szPid, 0, SHM_PID_SIZE);
    std::memcpy(e.szPid, c.owner.data(), c.owner.size());
    std::memset(e.szState, 0, SHM_STATE_SIZE);
    std::memcpy(e.szState, c.state, std::strlen(c.state));

    unlink((dir + "/X").c_str());
    const auto r = dravn_test::Run({"sh", "-c", "cd \"$0\" && exec \"$@\"", dir, kConsutool, "--info"}, env, 60);
    EXPECT_EQ(r.exitCode, c.status) << c.label << r.out << r.err;
    EXPECT_NE(access((dir + "/X").c_str(), F_OK), 0) << c.label;
    int records = 0;
    for (int i = 0; i < SHM_DEVICE_ENTRY_COUNT; ++i)
      if (ShmFieldEquals(table.GetEntry()[i].szDevName, SHM_DEVICE_NAME_SIZE, device.c_str())) ++records;
    EXPECT_EQ(records, 1) << c.label;
    if (c.status == 0) {
      EXPECT_EQ(r.out.compare(0, 13, "Device Info:\n"), 0) << c.label << r.out;
      EXPECT_EQ(Field(e.szPid, SHM_PID_SIZE), "") << c.label;
      EXPECT_EQ(Field(e.szState, SHM_STATE_SIZE), "Release") << c.label;
    } else {
      EXPECT_EQ(r.out, "consutool: The scanner is not connected, or may be in use by another application\n")
          << c.label;
      EXPECT_EQ(Field(e.szPid, SHM_PID_SIZE), c.owner) << c.label;
      EXPECT_EQ(Field(e.szState, SHM_STATE_SIZE), c.state) << c.label;
    }
    // The next case starts from a table of nobody's.
    std::memset(&e, 0, sizeof e);
    table.ReleaseShareMemory();
  }
}

// ---- the Selko2 in-scanner lock and status file across runs ----
// A Selko2 scanner with a state file (NVRAM and the lock owner the scanner
// keeps), a sheet in its feeder, and the folders a scanimage run binds over
// the package's shared-memory and log folders.
class Selko2AcrossRuns : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("selko2-lock");
    for (const char* sub : {"shm", "log", "sane"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
    WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
    m_env = Bench(m_dir, "usb 0x2d4e 0x1301\n", Scenario(""));
    m_env["SANE_CONFIG_DIR"] = m_dir + "/sane";
  }
  void TearDown() override { dravn_test::Run({"rm", "-rf", m_dir}); }

  std::string Scenario(const std::string& extra) const {
    return "device selko2 2d4e:1301 bus=3 address=7\nset state=" + m_dir + "/state\nset sheets=2\n" + extra;
  }
  // A scanner as it comes from power-on, with `extra` set lines.
  void PowerOn(const std::string& extra) {
    unlink((m_dir + "/state").c_str());
    unlink((m_dir + "/state-timers").c_str());
    WriteFile(m_dir + "/scenario", Scenario(extra));
  }
  // Keeps the scanner's memory, as a scenario that changes only faults does.
  void Faults(const std::string& extra) { WriteFile(m_dir + "/scenario", Scenario(extra)); }

  // The 40-byte owner record the scanner holds (zero: unlocked).
  std::string Owner() const { return ReadFile(m_dir + "/state").substr(288); }

  // A shell script with the run folder's shm and log over the package's,
  // in its own IPC and mount namespaces; args are "$@".
  dravn_test::RunResult Shell(const std::string& body, const std::vector<std::string>& args = {}) const {
    const std::string script = "mount --bind '" + m_dir + "/shm' '" DRAVN_SHM_DIR "' && mount --bind '" + m_dir +
                               "/log' '" DRAVN_LOG_DIR "' && " + body;
    std::vector<std::string> argv{"unshare", "--ipc", "--mount", "sh", "-c", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return dravn_test::Run(argv, m_env, 120);
  }
  // One page from the feeder into out.pnm.
  dravn_test::RunResult ScanOnePage() const {
    unlink((m_dir + "/out.pnm").c_str());
    return Shell(Scanimage("--batch-count=1 --batch='" + m_dir + "/out%d.pnm'"));
  }
  // The staged device watch library over this scanner, in this process.
  devwatch_test::Dvwc DeviceWatch(devwatch_test::MaintenanceEntries* e) const {
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    setenv("DRAVN_CONFIG_DIR", m_dir.c_str(), 1);
    auto d = devwatch_test::Load();
    if (d.handle) devwatch_test::BindMaintenance(d.handle, *e);
    return d;
  }
  // A scanimage command line of the feeder at 150 dpi, its messages on
  // standard output.
  std::string Scanimage(const std::string& batch) const {
    return "scanimage -d dravn:" + kDevice + " --source Adf-front --resolution 150 " + batch + " 2>&1";
  }
  dravn_test::RunResult Consutool(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{kConsutool, "-d", kDevice};
    argv.insert(argv.end(), args.begin(), args.end());
    return Shell("exec \"$@\"", argv);
  }

  const std::string kDevice = "Selko2S420:003:007";
  std::string m_dir;
  std::map<std::string, std::string> m_env;
};

const std::string kUnlocked(FCL_LOCK_OWNER_SIZE, '\0');

std::string OwnerText(const unsigned char* owner) { return std::string(reinterpret_cast<const char*>(owner), 36); }

// Every device watch call that takes the lock gives it back before it
// returns, on its good and its failing paths; afterwards scanimage scans.
TEST_F(Selko2AcrossRuns, EveryDeviceWatchCallGivesTheLockBack) {
  devwatch_test::MaintenanceEntries e;
  auto d = DeviceWatch(&e);
  ASSERT_NE(d.handle, nullptr);
  const char* name = kDevice.c_str();
  unsigned char buf[512] = {};
  const struct {
    const char* label;
    std::function<int()> call;
    int answer;
  } cases[] = {
      {"settings image", [&] { return e.GetEEPROM(name, buf, 512); }, 1},
      {"firmware version", [&] { return e.GetFirmVersion(name, buf, 16); }, 1},
      {"inquiry", [&] { return e.Inquiry(name, buf); }, 1},
      {"vital product data", [&] { return e.InquiryVPD(name, buf, 100, 0); }, 1},
      {"a kept request", [&] { return e.SendDiagnostic(name, reinterpret_cast<const unsigned char*>("GET FIRMVERSION "), 16); }, 1},
      {"its answer", [&] { return e.ReceiveDiagnosticResult(name, buf, 16); }, 1},
      {"settings write", [&] { return e.WriteEEPROM(name, buf, 64, 0); }, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(), c.answer) << c.label;
    EXPECT_EQ(Owner(), kUnlocked) << c.label;
  }
  // A read that breaks off after the lock was taken (the NVRAM read's data,
  // transfer 10) still gives it back.
  devwatch_test::Unload(d);
  Faults("fault transfer 10 fail\n");
  d = devwatch_test::Load();
  devwatch_test::BindMaintenance(d.handle, e);
  EXPECT_EQ(e.GetEEPROM(name, buf, 512), 0);
  EXPECT_EQ(Owner(), kUnlocked);
  devwatch_test::Unload(d);

  Faults("");
  const auto r = ScanOnePage();
  EXPECT_EQ(r.exitCode, 0) << r.out;
}

// A caller that holds the scanner's exclusive-access record (consutool's
// run) keeps the lock across its calls; ending the record gives it back.
TEST_F(Selko2AcrossRuns, AnExclusiveRunKeepsTheLockUntilItEnds) {
  if (!common_layer_test::RunIsolated({"--ipc"})) return;
  devwatch_test::MaintenanceEntries e;
  auto d = DeviceWatch(&e);
  ASSERT_NE(d.handle, nullptr);
  unsigned char buf[512] = {};
  ASSERT_EQ(d.StartExcusive(kDevice.c_str()), 1);
  EXPECT_EQ(e.GetEEPROM(kDevice.c_str(), buf, 512), 1);
  EXPECT_EQ(e.GetFirmVersion(kDevice.c_str(), buf, 16), 1);
  unsigned char own[FCL_LOCK_OWNER_SIZE];
  BuildSelko2LockOwner(own);
  EXPECT_EQ(Owner(), std::string(reinterpret_cast<char*>(own), sizeof own));
  EXPECT_EQ(d.EndExcusive(kDevice.c_str()), 1);
  EXPECT_EQ(Owner(), kUnlocked);
  devwatch_test::Unload(d);
}

// A lock whose owner is a process of this host that has ended is given
// back by the next scanimage and consutool, which then work and leave the
// scanner unlocked; a live process's lock, another host's and the owner
// text no process can be told from stay, and both say busy.
TEST_F(Selko2AcrossRuns, OnlyALockOfAnEndedProcessOfThisHostIsTakenOver) {
  unsigned char own[FCL_LOCK_OWNER_SIZE];
  BuildSelko2LockOwner(own);
  std::string otherHost = OwnerText(own);
  otherHost[19] = otherHost[19] == '0' ? '1' : '0';
  const std::string ended = dravn_test::OwnerOfAnEndedProcess();
  ASSERT_EQ(ended.size(), 36u);
  const struct {
    const char* label;
    std::string owner;
    bool takenOver;
  } cases[] = {
      {"an ended process of this host", ended, true},
      {"a live process of this host", OwnerText(own), false},
      {"another host", otherHost, false},
      {"a text of no process", "5d8e2c71-a3f4-4b09-9e6c-2f17d04a8b35", false},
  };
  for (const auto& c : cases) {
    PowerOn("set lock_owner=" + c.owner + "\n");
    auto scan = ScanOnePage();
    if (c.takenOver) {
      EXPECT_EQ(scan.exitCode, 0) << c.label << scan.out;
      EXPECT_EQ(Owner(), kUnlocked) << c.label;
    } else {
      EXPECT_NE(scan.out.find("Device busy"), std::string::npos) << c.label << scan.out;
      EXPECT_EQ(Owner().substr(0, 36), c.owner) << c.label;
    }
    PowerOn("set lock_owner=" + c.owner + "\n");
    auto info = Consutool({"--info"});
    EXPECT_EQ(info.exitCode, c.takenOver ? 0 : 6) << c.label << info.out;
    EXPECT_EQ(Owner(), c.takenOver ? kUnlocked : c.owner + std::string(4, '\0')) << c.label;
  }
}

// A scan that ends on a silent scanner cannot give its lock back, and a
// scanimage killed in a batch gives nothing back: the next run on this
// host scans all the same.
TEST_F(Selko2AcrossRuns, NextScanWorksAfterASilentScannerOrAKilledScanimage) {
  Faults("set silent_at=2\n");
  auto r = Shell(Scanimage("--batch='" + m_dir + "/p%d.pnm'"));
  EXPECT_EQ(r.exitCode, 9) << r.out;  // an I/O error
  EXPECT_NE(Owner(), kUnlocked) << "the silent scanner kept the lock";
  Faults("");
  r = ScanOnePage();
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Owner(), kUnlocked);

  PowerOn("set page_ms=400\n");
  r = Shell(Scanimage("--batch='" + m_dir + "/k%d.pnm' >/dev/null") + " & p=$!\n" +
            "i=0; while [ ! -e '" + m_dir + "/k1.pnm' ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done\n" +
            "kill -KILL $p; wait $p; echo \"killed $?\"");
  EXPECT_EQ(r.out, "killed 137\n") << r.err;
  EXPECT_NE(Owner(), kUnlocked) << "the killed run held the lock";
  r = ScanOnePage();
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Owner(), kUnlocked);
}

// consutool killed in the middle of a Selko2 change, while its call holds
// the scanner's lock (held at the sleep-timer write): the next consutool
// on this host takes the lock over and gives it back, and scanimage scans.
TEST_F(Selko2AcrossRuns, NextRunsWorkAfterAKilledConsutool) {
  m_env["DRAVN_SIM_TRANSCRIPT"] = m_dir + "/transcript";
  auto clean = Consutool({"--sleeptimer", "30"});
  ASSERT_EQ(clean.exitCode, 0) << clean.out;
  const std::string transcript = ReadFile(m_dir + "/transcript");
  const size_t write = transcript.find(" 300200002a0014000200000010000000");
  ASSERT_NE(write, std::string::npos) << transcript;
  const size_t hash = transcript.rfind('#', write);
  const std::string k = transcript.substr(hash + 1, transcript.find(' ', hash) - hash - 1);
  m_env.erase("DRAVN_SIM_TRANSCRIPT");

  PowerOn("fault transfer " + k + " hold " + m_dir + "/held\n");
  auto r = Shell("\"$@\" >/dev/null & p=$!\n"
                 "i=0; while [ ! -e '" + m_dir + "/held' ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done\n"
                 "kill -KILL $p; wait $p; echo \"killed $?\"",
                 {kConsutool, "-d", kDevice, "--sleeptimer", "45"});
  EXPECT_EQ(r.out, "killed 137\n") << r.err;
  EXPECT_NE(Owner(), kUnlocked) << "the killed run held the lock";
  Faults("");
  auto info = Consutool({"--info"});
  EXPECT_EQ(info.exitCode, 0) << info.out;
  EXPECT_EQ(Owner(), kUnlocked);
  auto scan = ScanOnePage();
  EXPECT_EQ(scan.exitCode, 0) << scan.out;
}

// The status file in the shared-memory folder is the user's alone. A run
// whose last record is no error removes it at close (no file reads as no
// error); an error stays recorded for the scanner-error option of a later
// run.
TEST_F(Selko2AcrossRuns, StatusFileIsTheUsersAndStaysOnlyForAnError) {
  const std::string file = m_dir + "/shm/" + kDevice + "-" + std::to_string(getuid()) + "-shm";
  auto r = ScanOnePage();
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(dravn_test::ListDir(m_dir + "/shm"), std::vector<std::string>{});

  PowerOn("set jam_at=1\n");
  r = ScanOnePage();
  EXPECT_EQ(r.exitCode, 6) << r.out;  // jammed
  struct stat st {};
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFile(file), std::string("\x31\x01\x80\x03", 4));
  r = Shell("exec \"$@\" 2>&1", {DRAVN_USR_BIN_DIR "/dravngetscerror"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "0x03800131\n");
}

}  // namespace
