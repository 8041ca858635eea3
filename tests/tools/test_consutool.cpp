// consutool's command line, conversions, output, change flows and exit
// statuses, over stand-ins of the two libraries that record every call.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libintl.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "consutool.h"
#include "function_arbitration.h"
#include "test_support.h"

namespace {

// What the stand-in libraries answer, and what they were asked.
struct FakeLibraries {
  std::vector<std::string> names{"Tavrin4LA110:001:002"};
  int startResult = 1;
  int toolPath = 1;
  unsigned lastError = 0;
  std::string firmware = "0200";
  int firmwareResult = 1;
  int quorraResult = 1, infoResult = 1, eepromResult = 1;
  kelo_quorra_info quorra{};
  kelo_dev_info info{};
  kelo_offset_data offsets{};
  std::deque<int> setOffsetResults;  // empty: success
  std::deque<int> setEEPROMResults;  // empty: success (0)
  int powerOffResult = 1;
  int modeSelectResult = 1;
  bool savingShown = true;  // the device shows a power-saving change back
  const char* version = nullptr;  // null: the default text comes back
  std::vector<std::string> calls;
  std::vector<kelo_offset_data> offsetWrites;
  std::vector<int> modeSelectMinutes, savingMinutes, powerOffCodes;
  std::string initDevice;
};

FakeLibraries* g_fake = nullptr;
int g_edit = 0;

void Record(const std::string& call) { g_fake->calls.push_back(call); }

ConsuBindings FakeBindings() {
  ConsuBindings b{};
  b.dvwc_GetDeviceTotalNum = [] { return static_cast<int>(g_fake->names.size()); };
  b.dvwc_GetDeviceName = [](int i) -> char* {
    static std::string s_name;
    if (i < 0 || i >= static_cast<int>(g_fake->names.size())) return nullptr;
    s_name = g_fake->names[i];
    return s_name.data();
  };
  b.dvwc_StartExcusive = [](const char* d) { return Record(std::string("StartExcusive ") + d), g_fake->startResult; };
  b.dvwc_EndExcusive = [](const char* d) { return Record(std::string("EndExcusive ") + d), 1; };
  b.dvwc_Open = [](const char*) { return 1; };
  b.dvwc_Close = [] { return 1; };
  b.dvwc_GetFirmVersion = [](const char*, unsigned char* buffer, unsigned short length) {
    Record("GetFirmVersion");
    std::memset(buffer, 0, length);
    std::memcpy(buffer, g_fake->firmware.data(), std::min<size_t>(g_fake->firmware.size(), length));
    return g_fake->firmwareResult;
  };
  b.dvwc_InquiryVPD = [](const char*, unsigned char*, unsigned short, int) { return Record("InquiryVPD"), 0; };
  b.dvwc_GetXMLSettings2 = [](const char* key, const char* def, const char*) -> const char* {
    if (std::strcmp(key, "Version") == 0 && g_fake->version) return g_fake->version;
    return def;
  };
  b.dvwc_GetLastErrorInfo = [] { return g_fake->lastError; };
  b.dvwc_UnlockScanner = [](const char* d) { return Record(std::string("UnlockScanner ") + d), 1; };
  b.dvwc_InitSystemToolPath = [] { return g_fake->toolPath; };
  b.initlibrary = [](const char* d, int) { return g_fake->initDevice = d, Record("initlibrary"), 1; };
  b.exitlibrary = [] { Record("exitlibrary"); };
  b.SetFirmVersion = [](const char* v) { Record(std::string("SetFirmVersion ") + std::string(v, strnlen(v, 16))); };
  b.GetQuorraInfo = [](kelo_quorra_info* q) { return *q = g_fake->quorra, Record("GetQuorraInfo"), g_fake->quorraResult; };
  b.OnInitDialog = [](kelo_dev_info* d) { return *d = g_fake->info, Record("OnInitDialog"), g_fake->infoResult; };
  b.GetEEPROMData = [] { return Record("GetEEPROMData"), g_fake->eepromResult; };
  b.SetPowerOffTime = [](unsigned char code) {
    g_fake->powerOffCodes.push_back(code);
    return Record("SetPowerOffTime"), g_fake->powerOffResult;
  };
  b.ModeSelect_LongTimer = [](const char*, uint16_t* minutes) {
    g_fake->modeSelectMinutes.push_back(*minutes);
    *minutes = static_cast<uint16_t>(0x80 | (*minutes / 5));  // the library turns minutes into its code
    return Record("ModeSelect_LongTimer"), g_fake->modeSelectResult;
  };
  b.SetPowerSavingEEPROM = [](uint16_t minutes) {
    g_fake->savingMinutes.push_back(minutes);
    if (g_fake->savingShown) g_fake->quorra.nPowerSavingCur = minutes / 5;  // what the device shows from now on
    return Record("SetPowerSavingEEPROM"), 1;
  };
  b.OnResetAfterCleaning = [] { return Record("OnResetAfterCleaning"), &g_edit; };
  b.OnResetBrake = [] { return Record("OnResetBrake"), &g_edit; };
  b.OnResetPick = [] { return Record("OnResetPick"), &g_edit; };
  b.SetEEPROMData = [] {
    Record("SetEEPROMData");
    if (g_fake->setEEPROMResults.empty()) return 0;
    int r = g_fake->setEEPROMResults.front();
    g_fake->setEEPROMResults.pop_front();
    return r;
  };
  b.GetOffSetData = [](kelo_offset_data* o) { *o = g_fake->offsets, Record("GetOffSetData"); };
  b.SetOffSetData = [](kelo_offset_data* o) {
    g_fake->offsetWrites.push_back(*o);
    Record("SetOffSetData");
    if (g_fake->setOffsetResults.empty()) return 1;
    int r = g_fake->setOffsetResults.front();
    g_fake->setOffsetResults.pop_front();
    return r;
  };
  return b;
}

// A feeder and flatbed model with brake and pick counters, both timers and
// offsets (limits 5..60 minutes, 15 now; power off after 4 hours).
FakeLibraries StandardDevice() {
  FakeLibraries f;
  f.quorra.bFlatbed = 1;
  f.quorra.szRollerLabel = "Brake Roller:";
  f.quorra.szPickLabel = "Pick Roller:";
  f.quorra.nTotalADF = 12345;
  f.quorra.nTotalFB = 67;
  f.quorra.nRollerCount = 2000;
  f.quorra.nPickCount = 3000;
  f.quorra.nPowerSavingMin = 1;
  f.quorra.nPowerSavingMax = 12;
  f.quorra.nPowerSavingCur = 3;
  f.quorra.bPowerSavingSupported = 1;
  f.quorra.bPowerOffSupported = 1;
  f.quorra.bPowerOffActive = 1;
  f.quorra.nPowerOffChoice = 2;
  std::strcpy(f.info.szProduct, "Tavrin4LA110");
  std::strcpy(f.info.szRevision, "0A12");
  std::strcpy(f.info.szSerial, "ABC123456");
  f.offsets = {1, -1, 2, -2, 3, -3, 0, 0, 5, -7, 1, 0, 0, 1};
  return f;
}

struct RunOutput {
  int status;
  std::string out;
  std::string err;
};

// `adjust` may replace some of the stand-ins for one run.
RunOutput RunConsutool(FakeLibraries& fake, std::vector<std::string> args,
                       const std::function<void(ConsuBindings&)>& adjust = nullptr) {
  g_fake = &fake;
  ResetConsutool();
  args.insert(args.begin(), "consutool");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string path = dravn_test::MakeTempDir("consutool-out") + "/stdout";
  std::fflush(stdout);
  const int saved = dup(1);
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  dup2(fd, 1);
  close(fd);
  dravn_test::StderrCapture err;
  ConsuBindings bindings = FakeBindings();
  if (adjust) adjust(bindings);
  const int status = ConsutoolMain(static_cast<int>(args.size()), argv.data(), &bindings);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return {status, dravn_test::ReadFile(path), err.Stop()};
}

bool Called(const FakeLibraries& f, const std::string& call) {
  for (const auto& c : f.calls)
    if (c == call) return true;
  return false;
}

// Every run gives back what it took, in this order, whatever its end.
void ExpectCleanedUp(const FakeLibraries& f, const std::string& label) {
  const std::string& device = f.names.front();
  const std::vector<std::string> tail = {"UnlockScanner " + device, "exitlibrary", "EndExcusive " + device};
  ASSERT_GE(f.calls.size(), tail.size()) << label;
  EXPECT_EQ(std::vector<std::string>(f.calls.end() - 3, f.calls.end()), tail) << label;
}

TEST(ConsutoolConvert, Tenths) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  } cases[] = {
      {"1.25", true, 13},   {"-1.25", true, -13}, {"3", true, 30},   {"3.", true, 30},      {".5", true, 5},
      {"3.15", true, 32},   {"+0.04", true, 0},   {"0.05", true, 1}, {"-3.1", true, -31},   {"0", true, 0},
      {"", false, 0},       {".", false, 0},      {"1.2.3", false, 0}, {"abc", false, 0},   {"1e3", false, 0},
      {" 1", false, 0},     {"--1", false, 0},    {"1,5", false, 0}, {"99999999999", false, 0},
      {"214748364.8", false, 0}, {"214748364.7", true, 2147483647},
  };
  for (const auto& c : cases) {
    int v = -999;
    EXPECT_EQ(ConvertStringToIntx10(c.text, &v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(ConsutoolConvert, WholeNumbersAndVersions) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"12", true, 12},   {"-4", true, -4},  {"+3", true, 3},          {"1.5", false, 0},
               {"", false, 0},     {"12a", false, 0}, {"99999999999", false, 0}, {"2147483648", false, 0},
               {"-2147483649", false, 0}};
  for (const auto& c : cases) {
    int v = -999;
    EXPECT_EQ(ConvertStringToInt(c.text, &v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  EXPECT_TRUE(IsValidVersion("3.0.12"));
  EXPECT_FALSE(IsValidVersion("3.0"));
  EXPECT_FALSE(IsValidVersion("3.0.0beta"));
  EXPECT_EQ(ConvertSource('7'), 1);
  EXPECT_EQ(ConvertSource('f'), 2);
  EXPECT_EQ(ConvertSource('i'), 4);
  EXPECT_EQ(ConvertSource('b'), -1);
}

// Limits 5..60: a value off the step goes down to it, then into the range.
TEST(ConsutoolOptions, PowerSavingRounding) {
  struct Case {
    const char* value;
    int minutes;
    const char* message;
  } cases[] = {
      {"12", 10, "consutool: rounded value of --sleeptimer from 12 to 10\n"},
      {"3", 5, "consutool: rounded value of --sleeptimer from 3 to 5\n"},
      {"61", 60, "consutool: rounded value of --sleeptimer from 61 to 60\n"},
      {"100", 60, "consutool: rounded value of --sleeptimer from 100 to 60\n"},
      {"0", 5, "consutool: rounded value of --sleeptimer from 0 to 5\n"},
      {"60", 60, ""},
      {"20", 20, ""},
  };
  for (const auto& c : cases) {
    for (const bool joined : {false, true}) {
      FakeLibraries f = StandardDevice();
      auto r = joined ? RunConsutool(f, {std::string("--sleeptimer=") + c.value})
                      : RunConsutool(f, {"--sleeptimer", c.value});
      EXPECT_EQ(r.status, 0) << c.value;
      EXPECT_EQ(r.out, std::string(c.message) + "consutool: Set successfully\n") << c.value;
      // The library turns the minutes it is given into its code; the image
      // still receives the minutes asked for.
      ASSERT_EQ(f.savingMinutes.size(), 1u) << c.value;
      EXPECT_EQ(f.modeSelectMinutes, std::vector<int>{c.minutes}) << c.value;
      EXPECT_EQ(f.savingMinutes, std::vector<int>{c.minutes}) << c.value;
      ExpectCleanedUp(f, c.value);
    }
  }
}

TEST(ConsutoolOptions, OffsetsAndMagnificationAreClamped) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
    std::function<int(const kelo_offset_data&)> field;
    int value;
  } cases[] = {
      {{"--adf-front-offset-main", "7"}, "consutool: rounded value of --adf-front-offset-main from 7 to 4\n",
       [](const kelo_offset_data& o) { return o.nADFFrontMain; }, 4},
      {{"--adf-back-offset-sub=-9"}, "consutool: rounded value of --adf-back-offset-sub from -9 to -4\n",
       [](const kelo_offset_data& o) { return o.nADFBackSub; }, -4},
      {{"--flatbed-offset-main", "-3"}, "", [](const kelo_offset_data& o) { return o.nFBMain; }, -3},
      {{"--adf-magnification-adjustment", "3.15"},
       "consutool: rounded value of --adf-magnification-adjustment from 3.2 to 3.1\n",
       [](const kelo_offset_data& o) { return o.nADFMagnification; }, 31},
      {{"--flatbed-magnification-adjustment=-5"},
       "consutool: rounded value of --flatbed-magnification-adjustment from -5.0 to -3.1\n",
       [](const kelo_offset_data& o) { return o.nFBMagnification; }, -31},
      {{"--adf-magnification-adjustment", ".5"}, "", [](const kelo_offset_data& o) { return o.nADFMagnification; },
       5},
  };
  for (const auto& c : cases) {
    FakeLibraries f = StandardDevice();
    auto r = RunConsutool(f, c.args);
    EXPECT_EQ(r.status, 0) << c.args[0];
    EXPECT_EQ(r.out, std::string(c.message) + "consutool: Set successfully\n") << c.args[0];
    ASSERT_EQ(f.offsetWrites.size(), 1u) << c.args[0];
    EXPECT_EQ(c.field(f.offsetWrites[0]), c.value) << c.args[0];
    // Nothing else moves: at most the one field differs from what was read.
    const kelo_offset_data& written = f.offsetWrites[0];
    int differing = 0;
    for (size_t i = 0; i < sizeof written; ++i)
      differing += reinterpret_cast<const unsigned char*>(&written)[i] != reinterpret_cast<const unsigned char*>(&f.offsets)[i];
    EXPECT_LE(differing, 4) << c.args[0];
  }
}

// Exit statuses with their messages; the message names the option itself
// whichever way its value was given.
TEST(ConsutoolStatus, Table) {
  const std::string notConnected =
      "consutool: The scanner is not connected, or may be in use by another application\n";
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::function<void(FakeLibraries&)> setup;
    int status;
    std::string out;
    bool tried;  // exclusive access was asked for
  } cases[] = {
      {"unlisted -d", {"-d", "Other:001:002", "--info"}, nullptr, 6, notConnected, false},
      {"no device", {}, [](FakeLibraries& f) { f.names.clear(); }, 6, notConnected, false},
      {"tool path", {"--info"}, [](FakeLibraries& f) { f.toolPath = 0; }, 10,
       "consutool: The specified file was not found\n", false},
      {"exclusive refused", {"--info"}, [](FakeLibraries& f) { f.startResult = 0; }, 6, notConnected, true},
      {"locked elsewhere", {"--info"},
       [](FakeLibraries& f) {
         f.quorraResult = 0;
         f.lastError = 14;
       },
       6, notConnected, true},
      {"settings unreadable", {"--info"}, [](FakeLibraries& f) { f.eepromResult = 0; }, 7,
       "consutool: Can not get the EEPROM data. \nThe setting of the function key can not change. \nCheck the "
       "connection of the scanner\n",
       true},
      {"unknown option", {"--bogus"}, nullptr, 3, "", false},
      {"value missing", {"--sleeptimer"}, nullptr, 3, "", false},
      {"stray words", {"one", "two"}, nullptr, 9, "consutool: argument without option: `two';try consutool --help\n",
       false},
      {"stray after setting", {"--pick-roller-clear", "left"}, nullptr, 9,
       "consutool: argument without option: `left';try consutool --help\n", true},
      {"pad on a brake model", {"--pad-clear"}, nullptr, 3, "consutool: unrecognized option '--pad-clear'\n", true},
      {"no power saving", {"--sleeptimer=10"}, [](FakeLibraries& f) { f.quorra.bPowerSavingSupported = 0; }, 3,
       "consutool: unrecognized option '--sleeptimer'\n", true},
      {"no power off", {"--power-off", "1-hour"}, [](FakeLibraries& f) { f.quorra.bPowerOffSupported = 0; }, 3,
       "consutool: unrecognized option '--power-off'\n", true},
      {"no flatbed offsets", {"--flatbed-offset-sub", "1"}, [](FakeLibraries& f) { f.offsets.bFlatbed = 0; }, 3,
       "consutool: unrecognized option '--flatbed-offset-sub'\n", true},
      {"no end of page", {"--adf-front-offset-end-of-page", "1"}, nullptr, 3,
       "consutool: unrecognized option '--adf-front-offset-end-of-page'\n", true},
      {"no offsets", {"--adf-magnification-adjustment=1"}, [](FakeLibraries& f) { f.offsets.bOffsetSupported = 0; },
       3, "consutool: unrecognized option '--adf-magnification-adjustment'\n", true},
      {"bad power-off word", {"--power-off=3-hours"}, nullptr, 2,
       "consutool: setting of option --power-off failed(Invalid argument)\n", true},
      {"half offset", {"--adf-front-offset-main", "1.5"}, nullptr, 2,
       "consutool: setting of option --adf-front-offset-main failed(Invalid argument)\n", true},
      {"unknown long word", {"--info-not", "x"}, nullptr, 3, "", false},
      {"joined value named", {"-d", "Tavrin4LA110:001:002", "--adf-back-offset-main=x"}, nullptr, 2,
       "consutool: setting of option --adf-back-offset-main failed(Invalid argument)\n", true},
      {"overflowing minutes", {"--sleeptimer", "4294967301"}, nullptr, 2,
       "consutool: setting of option --sleeptimer failed(Invalid argument)\n", true},
      {"overflowing tenths", {"--adf-magnification-adjustment", "429496729.7"}, nullptr, 2,
       "consutool: setting of option --adf-magnification-adjustment failed(Invalid argument)\n", true},
      {"abbreviated option named whole", {"--sleep", "x"}, nullptr, 2,
       "consutool: setting of option --sleeptimer failed(Invalid argument)\n", true},
      {"boot mode", {"-d", "Tavrin4T1000:001:003", "--info"},
       [](FakeLibraries& f) {
         f.names = {"Tavrin4T1000:001:003"};
         f.firmware = "0099";
       },
       6, notConnected, true},
      {"failed change", {"--power-off", "8-hours"}, [](FakeLibraries& f) { f.powerOffResult = 0; }, 6, notConnected,
       true},
      {"failed write after a done change", {"--sleeptimer", "20", "--pick-roller-clear"},
       [](FakeLibraries& f) { f.setEEPROMResults = {0, -1}; }, 6, notConnected, true},
  };
  for (const auto& c : cases) {
    FakeLibraries f = StandardDevice();
    if (c.setup) c.setup(f);
    auto r = RunConsutool(f, c.args);
    EXPECT_EQ(r.status, c.status) << c.label;
    EXPECT_EQ(r.out, c.out) << c.label;
    const bool tried = !f.names.empty() && Called(f, "StartExcusive " + f.names.front());
    EXPECT_EQ(tried, c.tried) << c.label;
    // A device not taken is never unlocked.
    if (!tried || !f.startResult) {
      for (const auto& call : f.calls) EXPECT_NE(call.rfind("UnlockScanner", 0), 0u) << c.label;
    }
    if (tried && f.startResult) ExpectCleanedUp(f, c.label);
    // The exclusive entry is given back on every road that could have taken it.
    if (!f.names.empty() && c.status != 3 && c.label != std::string("unlisted -d")) {
      EXPECT_TRUE(Called(f, "EndExcusive " + f.names.front())) << c.label;
    }
  }
}

// The boot-mode test answers on the firmware's first four characters; a
// failed read lets the device open.
TEST(ConsutoolStatus, BootModeThreshold) {
  struct Case {
    const char* firmware;
    int result;
    int status;
  } cases[] = {{"0099", 1, 6}, {"0100", 1, 0}, {"00FF", 1, 6}, {"0200", 1, 0}, {"0000", 0, 0}};
  for (const auto& c : cases) {
    FakeLibraries f = StandardDevice();
    f.names = {"Tavrin4T1000:001:003"};
    f.firmware = c.firmware;
    f.firmwareResult = c.result;
    EXPECT_EQ(RunConsutool(f, {"--info"}).status, c.status) << c.firmware;
  }
  // Models outside the group are not asked.
  FakeLibraries f = StandardDevice();
  f.firmware = "0000";
  EXPECT_EQ(RunConsutool(f, {"--info"}).status, 0);
  EXPECT_FALSE(Called(f, "GetFirmVersion"));
}

// The open sequence: exclusive access, the library, the arbitration's
// firmware text, then the four reads; the library keeps a text that
// outlives its context.
TEST(ConsutoolOpen, Sequence) {
  FakeLibraries f = StandardDevice();
  auto r = RunConsutool(f, {"--info"});
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> expected = {"StartExcusive Tavrin4LA110:001:002",
                                             "initlibrary",
                                             "SetFirmVersion ",
                                             "GetQuorraInfo",
                                             "OnInitDialog",
                                             "GetEEPROMData",
                                             "GetOffSetData",
                                             "UnlockScanner Tavrin4LA110:001:002",
                                             "exitlibrary",
                                             "EndExcusive Tavrin4LA110:001:002"};
  EXPECT_EQ(f.calls, expected);
  EXPECT_EQ(f.initDevice, "Tavrin4LA110:001:002");

  // A Tavrin3 model hands its firmware, cut to four characters, to the library.
  FakeLibraries t = StandardDevice();
  t.names = {"Tavrin3T1000:002:005"};
  t.firmware = "0C31XYZ";
  ASSERT_EQ(RunConsutool(t, {"--info"}).status, 0);
  EXPECT_TRUE(Called(t, "SetFirmVersion 0C31"));
}

TEST(ConsutoolChanges, PowerOffCodes) {
  struct Case {
    int current;
    int active;
    const char* word;
    int code;  // -1: nothing written
  } cases[] = {
      {2, 1, "4-hours", -1}, {2, 1, "1-hour", 4},    {2, 1, "2-HOURS", 8},   {2, 1, "8-hours", 32},
      {2, 0, "4-hours", 16}, {2, 0, "inactive", -1}, {0, 1, "inactive", 132}, {1, 1, "inactive", 136},
      {2, 1, "inactive", 144}, {3, 1, "Inactive", 160},
  };
  for (const auto& c : cases) {
    FakeLibraries f = StandardDevice();
    f.quorra.nPowerOffChoice = c.current;
    f.quorra.bPowerOffActive = c.active;
    auto r = RunConsutool(f, {"--power-off", c.word});
    EXPECT_EQ(r.status, 0) << c.word;
    EXPECT_EQ(r.out, "consutool: Set successfully\n") << c.word;
    if (c.code < 0) {
      EXPECT_TRUE(f.powerOffCodes.empty()) << c.word;
      EXPECT_FALSE(Called(f, "SetEEPROMData")) << c.word;
    } else {
      EXPECT_EQ(f.powerOffCodes, std::vector<int>{c.code}) << c.word;
      EXPECT_TRUE(Called(f, "SetEEPROMData")) << c.word;
    }
  }
}

TEST(ConsutoolChanges, OrderAndSkips) {
  // The same minutes as now write nothing and still report success.
  FakeLibraries same = StandardDevice();
  auto r = RunConsutool(same, {"--sleeptimer", "15"});
  EXPECT_EQ(r.out, "consutool: Set successfully\n");
  EXPECT_FALSE(Called(same, "ModeSelect_LongTimer"));
  EXPECT_FALSE(Called(same, "SetEEPROMData"));

  // --info among settings prints and changes nothing.
  FakeLibraries info = StandardDevice();
  r = RunConsutool(info, {"--sleeptimer", "30", "--info", "--pick-roller-clear"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Device Info:\n", 0), 0u);
  EXPECT_FALSE(Called(info, "ModeSelect_LongTimer"));
  EXPECT_FALSE(Called(info, "OnResetPick"));
  EXPECT_FALSE(Called(info, "SetEEPROMData"));

  // Every change of one line, in the fixed order, each written before the next.
  FakeLibraries all = StandardDevice();
  r = RunConsutool(all, {"--adf-front-offset-main=1", "--brake-roller-clear", "--power-off", "1-hour",
                         "--pick-roller-clear", "--sleeptimer", "30"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "consutool: Set successfully\n");
  std::vector<std::string> changes;
  for (const auto& c : all.calls)
    if (c != "GetQuorraInfo" && c != "OnInitDialog" && c != "GetEEPROMData" && c != "GetOffSetData" &&
        c.rfind("SetFirmVersion", 0) != 0 && c.rfind("StartExcusive", 0) != 0 && c != "initlibrary")
      changes.push_back(c);
  const std::vector<std::string> expected = {"ModeSelect_LongTimer", "SetPowerSavingEEPROM", "SetEEPROMData",
                                             "SetPowerOffTime",      "SetEEPROMData",        "OnResetBrake",
                                             "OnResetPick",          "SetEEPROMData",        "SetOffSetData",
                                             "UnlockScanner Tavrin4LA110:001:002", "exitlibrary",
                                             "EndExcusive Tavrin4LA110:001:002"};
  EXPECT_EQ(changes, expected);

  // The clear options by slot.
  FakeLibraries clean = StandardDevice();
  clean.quorra.szAfterCleaningLabel = "After cleaning:";
  clean.quorra.szRollerLabel = "Pad:";
  r = RunConsutool(clean, {"--after-cleaning-clear", "--pad-clear"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Called(clean, "OnResetAfterCleaning"));
  EXPECT_TRUE(Called(clean, "OnResetBrake"));
  EXPECT_FALSE(Called(clean, "OnResetPick"));
  FakeLibraries set = StandardDevice();
  set.quorra.szRollerLabel = "Roller Set:";
  EXPECT_EQ(RunConsutool(set, {"--roller-set-clear"}).status, 0);
  EXPECT_TRUE(Called(set, "OnResetBrake"));
  EXPECT_EQ(RunConsutool(set, {"--brake-roller-clear"}).status, 3);
}

// A power-saving change that the device does not show back when read
// afresh did not reach it, whatever the write answered.
TEST(ConsutoolChanges, PowerSavingNotShownBackFails) {
  FakeLibraries f = StandardDevice();
  f.savingShown = false;
  auto r = RunConsutool(f, {"--sleeptimer", "30"});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, "consutool: The scanner is not connected, or may be in use by another application\n");
  ExpectCleanedUp(f, "not shown back");
}

// A refused offset write puts the offsets read at the open back on the device.
TEST(ConsutoolChanges, FailedOffsetWriteRestores) {
  FakeLibraries f = StandardDevice();
  f.offsets.bEndOfPage = 1;
  f.setOffsetResults = {0, 1};
  auto r = RunConsutool(f, {"--adf-front-offset-main", "-4", "--adf-back-offset-end-of-page", "2",
                            "--flatbed-magnification-adjustment", "1.1"});
  EXPECT_EQ(r.status, 6);
  ASSERT_EQ(f.offsetWrites.size(), 2u);
  EXPECT_EQ(f.offsetWrites[0].nADFFrontMain, -4);
  EXPECT_EQ(f.offsetWrites[0].nADFBackEnd, 2);
  EXPECT_EQ(f.offsetWrites[0].nFBMagnification, 11);
  EXPECT_EQ(std::memcmp(&f.offsetWrites[1], &f.offsets, sizeof f.offsets), 0);
  ExpectCleanedUp(f, "restore");
}

TEST(ConsutoolOutput, Info) {
  FakeLibraries f = StandardDevice();
  f.quorra.bRollerNearEnd = 1;
  f.quorra.bPickDue = 1;
  f.quorra.szAfterCleaningLabel = "After cleaning:";
  f.quorra.nAfterCleaningCount = 800;
  f.quorra.bCleaningDue = 1;
  auto r = RunConsutool(f, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Device Info:\n"
            " Product Identification:\tTavrin4LA110\n"
            " Product Revision:\t\t0A12\n"
            " Serial Number:\t\t\tABC123456\n"
            "Device Setting:\n"
            " Total Count (ADF):\t\t12345 Sheets\n"
            " Total Count (FB):\t\t67 Sheets\n"
            " After cleaning:\t\t800 Sheets(*)\n"
            " Brake Roller:\t\t\t2000 Sheets(*)\n"
            " Pick Roller:\t\t\t3000 Sheets(**)\n"
            " Power saving:\t\t\t15 Minutes\n"
            " Power off:\t\t\t4 Hours\n"
            "Offset Setting:\n"
            " ADF(front):\t\n"
            "  Main:\t\t\t\t2*0.5mm\n"
            "  Sub:\t\t\t\t-2*0.5mm\n"
            " ADF(back):\t\n"
            "  Main:\t\t\t\t3*0.5mm\n"
            "  Sub:\t\t\t\t-3*0.5mm\n"
            " Flatbed:\t\n"
            "  Main:\t\t\t\t1*0.5mm\n"
            "  Sub:\t\t\t\t-1*0.5mm\n"
            "Vertical magnification adjustment:\n"
            " ADF:\t\t\t\t-0.7%\n"
            " Flatbed:\t\t\t0.5%\n");

  // A Selko2 device shows its first-use date; no flatbed and no offsets; a
  // power-saving value above its maximum shows the maximum.
  FakeLibraries s;
  s.names = {"Selko2S420:003:004"};
  s.quorra.szRollerLabel = "Roller Set:";
  s.quorra.nTotalADF = 10;
  s.quorra.nRollerCount = 9;
  s.quorra.bPowerSavingSupported = 1;
  s.quorra.nPowerSavingCur = 30;
  s.quorra.nPowerSavingMax = 23;
  s.quorra.bPowerOffSupported = 1;
  s.quorra.bPowerOffActive = 0;
  std::strcpy(s.info.szProduct, "Selko2S420");
  std::strcpy(s.info.szRevision, "1.02");
  std::strcpy(s.info.szInitialUse, "23/04/01");
  std::strcpy(s.info.szSerial, "Not Defined");
  r = RunConsutool(s, {"--info"});
  EXPECT_EQ(r.out,
            "Device Info:\n"
            " Product Identification:\tSelko2S420\n"
            " Product Revision:\t\t1.02\n"
            " Initial Use:\t\t\t23/04/01\n"
            " Serial Number:\t\t\tNot Defined\n"
            "Device Setting:\n"
            " Total Count (ADF):\t\t10 Sheets\n"
            " Roller Set:\t\t\t9 Sheets\n"
            " Power saving:\t\t\t115 Minutes\n"
            " Power off:\t\t\tinactive\n");
}

TEST(ConsutoolOutput, ListVersionHelp) {
  FakeLibraries f = StandardDevice();
  f.names = {"Tavrin4LA110:001:002", "Selko2S420:003:004"};
  auto r = RunConsutool(f, {"-L", "--sleeptimer", "5"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "List of available devices:\n    Tavrin4LA110:001:002\n    Selko2S420:003:004\n");
  EXPECT_FALSE(Called(f, "initlibrary"));

  struct Version {
    const char* stored;
    const char* shown;
  } versions[] = {{nullptr, "3.0.0"}, {"4.1.17", "4.1.17"}, {"4.1", "3.0.0"}, {"x.y.z", "3.0.0"}};
  for (const auto& v : versions) {
    FakeLibraries g = StandardDevice();
    g.version = v.stored;
    r = RunConsutool(g, {"-V", "-h"});
    EXPECT_EQ(r.out, std::string("Consumable tool for RK Series scanner\nVersion ") + v.shown + "\nCopyright 2022\n");
  }

  FakeLibraries h = StandardDevice();
  h.offsets.bFlatbed = 0;
  r = RunConsutool(h, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Usage: consutool [OPTION]...\n\n"
            "-d, --device-name DEVICE      use a given scanner device\n"
            "-L, --list-devices            show available scanner devices\n"
            "-h, --help                    display this help message and exit\n"
            "-V, --version                 print version information\n\n"
            "Options specific to device 'Tavrin4LA110:001:002'\n"
            "--info\n  show the current scanner's information\n"
            "--brake-roller-clear\n  clear the brake roller counter\n"
            "--pick-roller-clear\n  clear the pick roller counter\n"
            "--sleeptimer 5..60(in steps of 5)\n"
            "  time in minutes until the internal power supply switches to sleep mode\n"
            "--power-off inactive | 1-hour | 2-hours | 4-hours | 8-hours\n"
            "  time in hours until the power turn off automatically\n"
            "--adf-front-offset-main -4..4(in steps of 1)\n  set main offset of adf front\n"
            "--adf-front-offset-sub -4..4(in steps of 1)\n  set sub offset of adf front\n"
            "--adf-back-offset-main -4..4(in steps of 1)\n  set main offset of adf back\n"
            "--adf-back-offset-sub -4..4(in steps of 1)\n  set sub offset of adf back\n"
            "--adf-magnification-adjustment -3.1..3.1(in steps of 0.1)\n  set magnification adjustment of adf\n"
            "\nList of available devices:\n    Tavrin4LA110:001:002\n");

  // Help stops at a device that cannot be opened, with its status.
  FakeLibraries busy = StandardDevice();
  busy.startResult = 0;
  r = RunConsutool(busy, {"-h"});
  EXPECT_EQ(r.status, 6);
  EXPECT_NE(r.out.find("-V, --version"), std::string::npos);
  EXPECT_EQ(r.out.find("Options specific"), std::string::npos);
}

// Under a translated catalogue and a decimal-comma locale, the clear options
// still find their slots and the values print with points.
TEST(ConsutoolLocale, TranslatedLabelsAndDecimalComma) {
  const std::string dir = dravn_test::MakeTempDir("consutool-locale");
  const std::string locale = dir + "/de_DE.UTF-8";
  const std::string command = "localedef -i de_DE -f UTF-8 " + locale + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef cannot make de_DE here";
  setenv("LOCPATH", dir.c_str(), 1);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  ASSERT_STREQ(probe, "1,5");
  setenv("LANGUAGE", "de", 1);
  const std::string messages = dir + "/de/LC_MESSAGES";
  ASSERT_EQ(std::system(("mkdir -p " + messages).c_str()), 0);
  dravn_test::WriteMessageCatalogue(messages + "/mqlaunch.mo", {{"Brake Roller:", "Bremsrolle:"}, {"Pick Roller:", "Einzugsrolle:"}});
  bindtextdomain("mqlaunch", dir.c_str());
  ASSERT_STREQ(dgettext("mqlaunch", "Brake Roller:"), "Bremsrolle:");

  FakeLibraries f = StandardDevice();
  f.quorra.szRollerLabel = dgettext("mqlaunch", "Brake Roller:");
  f.quorra.szPickLabel = dgettext("mqlaunch", "Pick Roller:");
  auto r = RunConsutool(f, {"--brake-roller-clear", "--pick-roller-clear", "--adf-magnification-adjustment", "-3.25"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "consutool: rounded value of --adf-magnification-adjustment from -3.3 to -3.1\n"
            "consutool: Set successfully\n");
  EXPECT_TRUE(Called(f, "OnResetBrake"));
  EXPECT_TRUE(Called(f, "OnResetPick"));
  r = RunConsutool(f, {"--info"});
  EXPECT_NE(r.out.find(" Bremsrolle:\t\t\t2000 Sheets\n"), std::string::npos);
  EXPECT_NE(r.out.find(" ADF:\t\t\t\t-0.7%\n"), std::string::npos);
  r = RunConsutool(f, {"-h"});
  EXPECT_NE(r.out.find("--brake-roller-clear\n"), std::string::npos);

  std::setlocale(LC_ALL, "C");
  unsetenv("LANGUAGE");
  unsetenv("LOCPATH");
}

// SIGTERM during a run is taken and ignored: the run goes on to its clean-up.
TEST(ConsutoolSignals, TermDoesNotStopARun) {
  FakeLibraries f = StandardDevice();
  // The device's power-off write is where the signal arrives.
  static bool s_raised = false;
  s_raised = false;
  auto r = RunConsutool(f, {"--power-off", "1-hour"}, [](ConsuBindings& b) {
    b.SetPowerOffTime = [](unsigned char code) {
      g_fake->powerOffCodes.push_back(code);
      s_raised = raise(SIGTERM) == 0;
      return Record("SetPowerOffTime"), 1;
    };
  });
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGTSTP}) signal(s, SIG_DFL);
  EXPECT_TRUE(s_raised);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "consutool: Set successfully\n");
  ExpectCleanedUp(f, "signal");
}

// The staged id answers the user id that the test chooses.
TEST(ConsutoolRoot, CheckRootPermission) {
  setenv("DRAVN_FAKE_UID", "0", 1);
  EXPECT_EQ(CheckRootPermission(), 1);
  setenv("DRAVN_FAKE_UID", "1000", 1);
  EXPECT_EQ(CheckRootPermission(), 0);
  unsetenv("DRAVN_FAKE_UID");
}

}  // namespace
