#include "consutool.h"

#include <dlfcn.h>
#include <getopt.h>
#include <libintl.h>
#include <regex.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dravn_paths.h"
#include "function_arbitration.h"
#include "model_catalog.h"
#include "system_tools.h"

ConsuBindings g_Consu = {};
kelo_command_info g_CommandInfo = {};
kelo_quorra_info g_QuorraInfo = {};
kelo_dev_info g_kelo_device_info = {};
kelo_offset_data g_OffSetData = {};
kelo_offset_data g_OffSetBackupData = {};
bool g_bOpened = false;
int g_iErrCode = kExitOk;

// A test build loads its libraries from a folder of its own.
#ifndef CONSUTOOL_LIB_DIR
#define CONSUTOOL_LIB_DIR DRAVN_LIB_DIR
#endif

namespace {

constexpr char kProgram[] = "consutool";
constexpr char kNotConnected[] = "The scanner is not connected, or may be in use by another application";
constexpr char kNoEEPROM[] =
    "Can not get the EEPROM data. \nThe setting of the function key can not change. \nCheck the connection of the "
    "scanner";
constexpr char kNotFound[] = "The specified file was not found";
constexpr char kSettingsFile[] = DRAVN_ETC_DIR "/consumablessettings.xml";

void* g_vpDevwatch = nullptr;
void* g_vpMqcontrol = nullptr;

// Option values of the long table; the first four are also short options.
enum : int {
  kOptInfo = '0',
  kOptAfterCleaning = '1',
  kOptBrake = '2',
  kOptPick = '3',
  kOptRollerSet = '4',
  kOptPad = 'j',
  kOptSleep = '5',
  kOptPowerOff = '6',
  kOptFrontMain = '7',
  kOptFrontSub = '8',
  kOptFrontEnd = '9',
  kOptBackMain = 'a',
  kOptBackSub = 'e',
  kOptBackEnd = 'f',
  kOptFBMain = 'g',
  kOptFBSub = 'i',
  kOptADFMag = 'b',
  kOptFBMag = 'c',
};

constexpr char kShortOptions[] = "d:LhV";
const struct option kLongOptions[] = {
    {"device-name", required_argument, nullptr, 'd'},
    {"list-devices", no_argument, nullptr, 'L'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"info", no_argument, nullptr, kOptInfo},
    {"after-cleaning-clear", no_argument, nullptr, kOptAfterCleaning},
    {"brake-roller-clear", no_argument, nullptr, kOptBrake},
    {"pick-roller-clear", no_argument, nullptr, kOptPick},
    {"roller-set-clear", no_argument, nullptr, kOptRollerSet},
    {"pad-clear", no_argument, nullptr, kOptPad},
    {"sleeptimer", required_argument, nullptr, kOptSleep},
    {"power-off", required_argument, nullptr, kOptPowerOff},
    {"adf-front-offset-main", required_argument, nullptr, kOptFrontMain},
    {"adf-front-offset-sub", required_argument, nullptr, kOptFrontSub},
    {"adf-front-offset-end-of-page", required_argument, nullptr, kOptFrontEnd},
    {"adf-back-offset-main", required_argument, nullptr, kOptBackMain},
    {"adf-back-offset-sub", required_argument, nullptr, kOptBackSub},
    {"adf-back-offset-end-of-page", required_argument, nullptr, kOptBackEnd},
    {"flatbed-offset-main", required_argument, nullptr, kOptFBMain},
    {"flatbed-offset-sub", required_argument, nullptr, kOptFBSub},
    {"adf-magnification-adjustment", required_argument, nullptr, kOptADFMag},
    {"flatbed-magnification-adjustment", required_argument, nullptr, kOptFBMag},
    {nullptr, 0, nullptr, 0},
};

// The option itself as the user meant it, whatever form it was given in
// ("--sleeptimer 5", "--sleeptimer=5", an abbreviation).
std::string OptionWord(int value) {
  for (const option* o = kLongOptions; o->name; ++o)
    if (o->val == value) return std::string("--") + o->name;
  return std::string("-") + static_cast<char>(value);
}

bool MatchesRegex(const char* text, const char* pattern) {
  regex_t re;
  if (regcomp(&re, pattern, REG_EXTENDED | REG_NOSUB) != 0) return false;
  const bool match = regexec(&re, text, 0, nullptr, 0) == 0;
  regfree(&re);
  return match;
}

// "%.01f" in whatever locale libmqcontrol set, always with a point.
std::string Tenths(int value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.01f", value / 10.0);
  for (char* p = text; *p; ++p)
    if (*p == ',') *p = '.';
  return text;
}

void Fail(int status, const char* message) {
  if (message) ConsuMessage("%s", message);
  g_iErrCode = status;
}

// The counter labels come translated from the library's catalogue; a slot is
// known by its untranslated text or by that text's translation.
bool LabelIs(const char* label, const char* untranslated) {
  if (!label) return false;
  return std::strcmp(label, untranslated) == 0 || std::strcmp(label, dgettext("mqlaunch", untranslated)) == 0;
}

bool ClearSupported(uint32_t bit) {
  const kelo_quorra_info& q = g_QuorraInfo;
  switch (bit) {
    case kClearAfterCleaning:
      return LabelIs(q.szAfterCleaningLabel, "After cleaning:");
    case kClearBrake:
      return LabelIs(q.szRollerLabel, "Brake Roller:");
    case kClearPick:
      return LabelIs(q.szPickLabel, "Pick Roller:");
    case kClearRollerSet:
      return LabelIs(q.szRollerLabel, "Roller Set:");
    case kClearPad:
      return LabelIs(q.szRollerLabel, "Pad:");
  }
  return false;
}

bool PowerSavingSupported() { return g_QuorraInfo.bPowerSavingSupported != 0; }

template <size_t N>
bool ModelIn(const char* model, const dravn::CatalogModel (&family)[N]) {
  for (const auto& m : family)
    if (model && (std::strcmp(model, m.model) == 0 || (m.altModel && std::strcmp(model, m.altModel) == 0)))
      return true;
  return false;
}

// The settings layout of these families takes a power-saving change into a
// byte that the write does not carry or that the time is not read from
// (Dunmo, DunmoMe2 and Vantor store it at byte 328 and read it from byte
// 64; Zembl stores it nowhere and reads it from bytes 70-71): their time is
// shown, but the option is not offered.
bool PowerSavingSettable() {
  const char* model = g_cpActiveScannerName;
  return PowerSavingSupported() && !ModelIn(model, dravn::kDunmoModels) && !ModelIn(model, dravn::kDunmoMe2Models) &&
         !ModelIn(model, dravn::kVantorModels) && !ModelIn(model, dravn::kZemblModels);
}
bool PowerOffSupported() { return g_QuorraInfo.bPowerOffSupported != 0; }
bool OffsetsSupported() { return g_OffSetData.bOffsetSupported != 0; }
bool OffsetFlatbed() { return g_OffSetData.bFlatbed != 0; }
bool EndOfPageSupported() { return g_OffSetData.bEndOfPage != 0; }

// Whether the device offers an offset or magnification option.
bool OffsetOptionSupported(int value) {
  if (!OffsetsSupported()) return false;
  switch (value) {
    case kOptFBMain:
    case kOptFBSub:
    case kOptFBMag:
      return OffsetFlatbed();
    case kOptFrontEnd:
    case kOptBackEnd:
      return EndOfPageSupported();
  }
  return true;
}

uint32_t ClearBit(int value) {
  switch (value) {
    case kOptAfterCleaning:
      return kClearAfterCleaning;
    case kOptBrake:
      return kClearBrake;
    case kOptPick:
      return kClearPick;
    case kOptRollerSet:
      return kClearRollerSet;
    case kOptPad:
      return kClearPad;
  }
  return 0;
}

uint32_t MemberBit(int value) {
  switch (value) {
    case kOptFrontMain:
    case kOptBackMain:
    case kOptFBMain:
      return kMemberMain;
    case kOptFrontSub:
    case kOptBackSub:
    case kOptFBSub:
      return kMemberSub;
    case kOptFrontEnd:
    case kOptBackEnd:
      return kMemberEnd;
  }
  return 0;
}

// The Selko2 scanners name themselves by the first characters of their model
// text, padded with blanks.
bool IsSelko2Product(const char* product) {
  std::string text(product);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) return false;
  for (const auto& m : dravn::kSelko2Models)
    if (std::strncmp(m.model, text.c_str(), text.size()) == 0) return true;
  return false;
}

// The one qv-series group whose firmware can be caught in boot mode.
bool HasBootModeTest(const char* model) { return ModelIn(model, dravn::kTavrin4Models); }

void IgnoreSignal(int) {}

void InstallSignalHandlers() {
  struct sigaction action = {};
  action.sa_handler = IgnoreSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP}) sigaction(s, &action, nullptr);
}

template <typename Fn>
bool Bind(void* handle, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(dlsym(handle, name));
  return slot != nullptr;
}

const char* PowerOffText(int choice) {
  static const char* const kTexts[] = {"1 Hour", "2 Hours", "4 Hours", "8 Hours"};
  return choice >= 0 && choice < 4 ? kTexts[choice] : nullptr;
}

}  // namespace

void ConsuMessage(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::printf("%s: %s\n", kProgram, text);
  std::fflush(stdout);
}

bool ConvertStringToInt(const char* text, int* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ConvertStringToIntx10(const char* text, int* value) {
  if (!text) return false;
  if (!MatchesRegex(text, "^[-+]?([0-9]*)[.]([0-9]+$)") && !MatchesRegex(text, "^[-+]?([0-9]+$)") &&
      !MatchesRegex(text, "^[-+]?([0-9]+)[.]$"))
    return false;
  const char* p = text;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // The integer part, then one digit past the point, then the rounding digit.
  long long magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > INT_MAX) return false;
  }
  int tenth = 0, next = 0;
  if (*p == '.') {
    ++p;
    if (*p) tenth = *p++ - '0';
    if (*p) next = *p - '0';
  }
  magnitude = magnitude * 10 + tenth + (next >= 5 ? 1 : 0);
  if (magnitude > INT_MAX) return false;
  *value = static_cast<int>(negative ? -magnitude : magnitude);
  return true;
}

bool ConvertStringToDouble(const char* text, double* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (*end != '\0' || errno == ERANGE) return false;
  *value = v;
  return true;
}

bool IsValidVersion(const char* text) { return text && MatchesRegex(text, "^[0-9]+[.][0-9]+[.][0-9]+$"); }

int ConvertSource(int optionValue) {
  switch (optionValue) {
    case kOptFrontMain:
    case kOptFrontSub:
    case kOptFrontEnd:
      return kSrcADFFront;
    case kOptBackMain:
    case kOptBackSub:
    case kOptBackEnd:
      return kSrcADFBack;
    case kOptFBMain:
    case kOptFBSub:
      return kSrcFlatbed;
  }
  return -1;
}

kelo_offset_group* GetOffsetInfo(kelo_command_info* command, uint32_t source) {
  switch (source) {
    case kSrcADFFront:
      return &command->adfFront;
    case kSrcADFBack:
      return &command->adfBack;
    case kSrcFlatbed:
      return &command->flatbed;
  }
  return nullptr;
}

int CheckRootPermission() {
  char id[256];
  if (!FindSystemTool("id", id)) return 0;
  FILE* pipe = popen((std::string(id) + " -u").c_str(), "r");
  if (!pipe) return 0;
  char line[64] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  return read && std::strcmp(line, "0\n") == 0 ? 1 : 0;
}

int RoundPowerSaving(const char* option, int minutes, int minimum, int maximum) {
  const int low = minimum * 5, high = maximum * 5;
  int value = minutes;
  auto adjust = [&](int next) {
    if (next == value) return;
    ConsuMessage("rounded value of %s from %d to %d", option, value, next);
    value = next;
  };
  if (value % 5 != 0) adjust(value < low ? low : value < high ? value - value % 5 : high);
  if (value < low) adjust(low);
  if (value > high) adjust(high);
  return value;
}

int ClampOffset(const char* option, int value) {
  const int clamped = value < -4 ? -4 : value > 4 ? 4 : value;
  if (clamped != value) ConsuMessage("rounded value of %s from %d to %d", option, value, clamped);
  return clamped;
}

int ClampMagnification(const char* option, int tenths) {
  const int clamped = tenths < -31 ? -31 : tenths > 31 ? 31 : tenths;
  if (clamped != tenths)
    ConsuMessage("rounded value of %s from %s to %s", option, Tenths(tenths).c_str(), Tenths(clamped).c_str());
  return clamped;
}

bool OpenLib() {
  g_vpDevwatch = dlopen(CONSUTOOL_LIB_DIR "/libdevwatch.so", RTLD_LAZY);
  if (!g_vpDevwatch) return false;
  g_vpMqcontrol = dlopen(CONSUTOOL_LIB_DIR "/libmqcontrol.so", RTLD_LAZY);
  if (!g_vpMqcontrol) return false;
  ConsuBindings& b = g_Consu;
  void* dw = g_vpDevwatch;
  void* mq = g_vpMqcontrol;
  const bool bound =
      Bind(dw, "dvwc_GetDeviceTotalNum", b.dvwc_GetDeviceTotalNum) &&
      Bind(dw, "dvwc_GetDeviceName", b.dvwc_GetDeviceName) && Bind(dw, "dvwc_StartExcusive", b.dvwc_StartExcusive) &&
      Bind(dw, "dvwc_EndExcusive", b.dvwc_EndExcusive) && Bind(dw, "dvwc_Open", b.dvwc_Open) &&
      Bind(dw, "dvwc_Close", b.dvwc_Close) && Bind(dw, "dvwc_GetFirmVersion", b.dvwc_GetFirmVersion) &&
      Bind(dw, "dvwc_InquiryVPD", b.dvwc_InquiryVPD) && Bind(dw, "dvwc_GetXMLSettings2", b.dvwc_GetXMLSettings2) &&
      Bind(dw, "dvwc_GetLastErrorInfo", b.dvwc_GetLastErrorInfo) &&
      Bind(dw, "dvwc_UnlockScanner", b.dvwc_UnlockScanner) &&
      Bind(dw, "dvwc_InitSystemToolPath", b.dvwc_InitSystemToolPath) && Bind(mq, "initlibrary", b.initlibrary) &&
      Bind(mq, "exitlibrary", b.exitlibrary) && Bind(mq, "SetFirmVersion", b.SetFirmVersion) &&
      Bind(mq, "GetQuorraInfo", b.GetQuorraInfo) && Bind(mq, "OnInitDialog", b.OnInitDialog) &&
      Bind(mq, "GetEEPROMData", b.GetEEPROMData) && Bind(mq, "SetPowerOffTime", b.SetPowerOffTime) &&
      Bind(mq, "ModeSelect_LongTimer", b.ModeSelect_LongTimer) &&
      Bind(mq, "SetPowerSavingEEPROM", b.SetPowerSavingEEPROM) &&
      Bind(mq, "OnResetAfterCleaning", b.OnResetAfterCleaning) && Bind(mq, "OnResetBrake", b.OnResetBrake) &&
      Bind(mq, "OnResetPick", b.OnResetPick) && Bind(mq, "SetEEPROMData", b.SetEEPROMData) &&
      Bind(mq, "GetOffSetData", b.GetOffSetData) && Bind(mq, "SetOffSetData", b.SetOffSetData);
  g_dvwc_InquiryVPD = b.dvwc_InquiryVPD;
  g_dvwc_GetFirmVersion = b.dvwc_GetFirmVersion;
  return bound;
}

void CloseLib() {
  if (g_vpDevwatch) dlclose(g_vpDevwatch);
  if (g_vpMqcontrol) dlclose(g_vpMqcontrol);
  g_vpDevwatch = g_vpMqcontrol = nullptr;
}

int OpenWithName(const char* device) {
  if (g_bOpened) return kExitOk;
  const ConsuBindings& b = g_Consu;
  if (b.dvwc_StartExcusive(device) != 1) return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
  std::free(g_cpActiveScanner);
  std::free(g_cpActiveScannerName);
  g_cpActiveScanner = strdup(device);
  g_cpActiveScannerName = strndup(device, std::strcspn(device, ":"));
  if (!g_cpActiveScanner || !g_cpActiveScannerName) return Fail(kExitNotConnected, kNotConnected), g_iErrCode;

  if (HasBootModeTest(g_cpActiveScannerName)) {
    unsigned char version[17] = {};
    if (b.dvwc_GetFirmVersion(g_cpActiveScanner, version, 16) != 0 &&
        std::strncmp(reinterpret_cast<char*>(version), "0100", 4) < 0)
      return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
  }

  // libmqcontrol keeps the pointer until exitlibrary: our copy outlives it.
  b.initlibrary(g_cpActiveScanner, 0);
  GetAvailableFunction(&g_DevFunc);
  b.SetFirmVersion(g_Tavrin3FirmVer);

  g_QuorraInfo = {};
  const bool quorra = b.GetQuorraInfo(&g_QuorraInfo) != 0;
  g_kelo_device_info = {};
  const bool info = quorra && b.OnInitDialog(&g_kelo_device_info) != 0;
  const bool image = info && b.GetEEPROMData() != 0;
  if (!image) {
    if (b.dvwc_GetLastErrorInfo() == 14) return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
    return Fail(kExitNoEEPROM, kNoEEPROM), g_iErrCode;
  }
  g_OffSetData = {};
  b.GetOffSetData(&g_OffSetData);
  g_OffSetBackupData = g_OffSetData;
  g_bOpened = true;
  return kExitOk;
}

void PrintDeviceInfo() {
  const kelo_dev_info& d = g_kelo_device_info;
  const kelo_quorra_info& q = g_QuorraInfo;
  std::printf("Device Info:\n");
  std::printf(" Product Identification:\t%s\n", d.szProduct);
  std::printf(" Product Revision:\t\t%s\n", d.szRevision);
  if (IsSelko2Product(d.szProduct)) std::printf(" Initial Use:\t\t\t%s\n", d.szInitialUse);
  std::printf(" Serial Number:\t\t\t%s\n", d.szSerial);

  std::printf("Device Setting:\n");
  std::printf(" Total Count (ADF):\t\t%d %s\n", q.nTotalADF, "Sheets");
  if (q.bFlatbed) std::printf(" Total Count (FB):\t\t%d %s\n", q.nTotalFB, "Sheets");
  if (q.szAfterCleaningLabel)
    std::printf(" %s\t\t%d %s%s\n", q.szAfterCleaningLabel, q.nAfterCleaningCount, "Sheets", q.bCleaningDue ? "(*)" : "");
  if (q.szRollerLabel) {
    const char* tabs = LabelIs(q.szRollerLabel, "Pad:") ? "\t\t\t\t" : "\t\t\t";
    const char* mark = q.bRollerNearEnd ? "(*)" : q.bRollerDue ? "(**)" : "";
    std::printf(" %s%s%d %s%s\n", q.szRollerLabel, tabs, q.nRollerCount, "Sheets", mark);
  }
  if (q.szPickLabel) {
    const char* mark = q.bPickNearEnd ? "(*)" : q.bPickDue ? "(**)" : "";
    std::printf(" %s\t\t\t%d %s%s\n", q.szPickLabel, q.nPickCount, "Sheets", mark);
  }
  if (PowerSavingSupported()) {
    const int current = q.nPowerSavingCur > q.nPowerSavingMax ? q.nPowerSavingMax : q.nPowerSavingCur;
    std::printf(" Power saving:\t\t\t%d %s\n", current * 5, "Minutes");
  }
  if (PowerOffSupported()) {
    const char* text = q.bPowerOffActive ? PowerOffText(q.nPowerOffChoice) : "inactive";
    std::printf(" Power off:\t\t\t%s\n", text ? text : "");
  }
  if (OffsetsSupported()) {
    const kelo_offset_data& o = g_OffSetData;
    std::printf("Offset Setting:\n");
    auto side = [&](const char* title, int main, int sub, const int* end) {
      std::printf(" %s\t\n", title);
      std::printf("  Main:\t\t\t\t%d%s\n", main, "*0.5mm");
      std::printf("  Sub:\t\t\t\t%d%s\n", sub, "*0.5mm");
      if (end) std::printf("  End of page:\t\t\t%d%s\n", *end, "*0.5mm");
    };
    const bool end = EndOfPageSupported();
    side("ADF(front):", o.nADFFrontMain, o.nADFFrontSub, end ? &o.nADFFrontEnd : nullptr);
    side("ADF(back):", o.nADFBackMain, o.nADFBackSub, end ? &o.nADFBackEnd : nullptr);
    if (OffsetFlatbed()) side("Flatbed:", o.nFBMain, o.nFBSub, nullptr);
    std::printf("Vertical magnification adjustment:\n");
    std::printf(" ADF:\t\t\t\t%s%%\n", Tenths(o.nADFMagnification).c_str());
    if (OffsetFlatbed()) std::printf(" Flatbed:\t\t\t%s%%\n", Tenths(o.nFBMagnification).c_str());
  }
  std::fflush(stdout);
}

void PrintDeviceList() {
  std::printf("List of available devices:\n");
  const int count = g_Consu.dvwc_GetDeviceTotalNum();
  for (int i = 0; i < count; ++i) {
    const char* name = g_Consu.dvwc_GetDeviceName(i);
    std::printf("    %s\n", name ? name : "");
  }
  std::fflush(stdout);
}

void PrintVersion() {
  // The library keeps one text buffer: copy each answer before the next call.
  const char* answer = g_Consu.dvwc_GetXMLSettings2("Version", "3.0.0", kSettingsFile);
  std::string version = answer ? answer : "";
  if (!IsValidVersion(version.c_str())) version = "3.0.0";
  answer = g_Consu.dvwc_GetXMLSettings2("Year", "2022", kSettingsFile);
  std::string year = answer && *answer ? answer : "2022";
  std::printf("Consumable tool for RK Series scanner\n");
  std::printf("Version %s\n", version.c_str());
  std::printf("Copyright %s\n", year.c_str());
  std::fflush(stdout);
}

namespace {

void PrintUsage() {
  std::printf("Usage: consutool [OPTION]...\n\n");
  std::printf("-d, --device-name DEVICE      use a given scanner device\n");
  std::printf("-L, --list-devices            show available scanner devices\n");
  std::printf("-h, --help                    display this help message and exit\n");
  std::printf("-V, --version                 print version information\n\n");
  std::fflush(stdout);
}

}  // namespace

int PrintHelp() {
  PrintUsage();
  if (OpenWithName(g_CommandInfo.device) != kExitOk) return g_iErrCode;
  const kelo_quorra_info& q = g_QuorraInfo;
  std::printf("Options specific to device '%s'\n", g_CommandInfo.device);
  std::printf("--info\n  show the current scanner's information\n");
  if (ClearSupported(kClearAfterCleaning))
    std::printf("--after-cleaning-clear\n  clear the after cleaning counter\n");
  if (ClearSupported(kClearBrake))
    std::printf("--brake-roller-clear\n  clear the brake roller counter\n");
  else if (ClearSupported(kClearRollerSet))
    std::printf("--roller-set-clear\n  clear the roller set counter\n");
  else if (ClearSupported(kClearPad))
    std::printf("--pad-clear\n  clear the pad counter\n");
  if (ClearSupported(kClearPick)) std::printf("--pick-roller-clear\n  clear the pick roller counter\n");
  if (PowerSavingSettable())
    std::printf(
        "--sleeptimer %d..%d(in steps of 5)\n  time in minutes until the internal power supply switches to sleep "
        "mode\n",
        q.nPowerSavingMin * 5, q.nPowerSavingMax * 5);
  if (PowerOffSupported())
    std::printf(
        "--power-off inactive | 1-hour | 2-hours | 4-hours | 8-hours\n  time in hours until the power turn off "
        "automatically\n");
  static const struct {
    int value;
    const char* name;
    const char* text;
  } kOffsets[] = {
      {kOptFrontMain, "adf-front-offset-main", "set main offset of adf front"},
      {kOptFrontSub, "adf-front-offset-sub", "set sub offset of adf front"},
      {kOptFrontEnd, "adf-front-offset-end-of-page", "set end of page of adf front"},
      {kOptBackMain, "adf-back-offset-main", "set main offset of adf back"},
      {kOptBackSub, "adf-back-offset-sub", "set sub offset of adf back"},
      {kOptBackEnd, "adf-back-offset-end-of-page", "set end of page of adf back"},
      {kOptFBMain, "flatbed-offset-main", "set main offset of flatbed"},
      {kOptFBSub, "flatbed-offset-sub", "set sub offset of flatbed"},
  };
  for (const auto& o : kOffsets)
    if (OffsetOptionSupported(o.value)) std::printf("--%s -4..4(in steps of 1)\n  %s\n", o.name, o.text);
  if (OffsetOptionSupported(kOptADFMag))
    std::printf("--adf-magnification-adjustment -3.1..3.1(in steps of 0.1)\n  set magnification adjustment of adf\n");
  if (OffsetOptionSupported(kOptFBMag))
    std::printf(
        "--flatbed-magnification-adjustment -3.1..3.1(in steps of 0.1)\n  set magnification adjustment of "
        "flatbed\n");
  std::printf("\n");
  PrintDeviceList();
  return kExitOk;
}

namespace {

// One setting option of the second pass; answers the status (0 to go on).
int TakeSetting(int value, const char* argument) {
  kelo_command_info& c = g_CommandInfo;
  const std::string word = OptionWord(value);
  auto unrecognized = [&] {
    Fail(kExitUnrecognized, nullptr);
    ConsuMessage("unrecognized option '%s'", word.c_str());
    return g_iErrCode;
  };
  auto invalid = [&] {
    Fail(kExitInvalidValue, nullptr);
    ConsuMessage("setting of option %s failed(Invalid argument)", word.c_str());
    return g_iErrCode;
  };
  if (const uint32_t bit = ClearBit(value)) {
    c.request |= kReqClear;
    if (!ClearSupported(bit)) return unrecognized();
    c.clearMask |= bit;
    return kExitOk;
  }
  if (value == kOptSleep) {
    if (!PowerSavingSettable()) return unrecognized();
    c.request |= kReqPowerSaving;
    int minutes = 0;
    if (!ConvertStringToInt(argument, &minutes)) return invalid();
    c.powerSavingMinutes =
        RoundPowerSaving(word.c_str(), minutes, g_QuorraInfo.nPowerSavingMin, g_QuorraInfo.nPowerSavingMax);
    return kExitOk;
  }
  if (value == kOptPowerOff) {
    if (!PowerOffSupported()) return unrecognized();
    c.request |= kReqPowerOff;
    static const char* const kWords[] = {"1-hour", "2-hours", "4-hours", "8-hours", "inactive"};
    for (int i = 0; i < 5; ++i)
      if (strcasecmp(argument, kWords[i]) == 0) return c.powerOffChoice = i, kExitOk;
    return invalid();
  }
  if (value == kOptADFMag || value == kOptFBMag) {
    if (!OffsetOptionSupported(value)) return unrecognized();
    c.request |= value == kOptADFMag ? kReqADFMagnification : kReqFBMagnification;
    int tenths = 0;
    if (!ConvertStringToIntx10(argument, &tenths)) return invalid();
    (value == kOptADFMag ? c.adfMagnification : c.fbMagnification) = ClampMagnification(word.c_str(), tenths);
    return kExitOk;
  }
  const int source = ConvertSource(value);
  if (source < 0 || !OffsetOptionSupported(value)) return unrecognized();
  c.request |= kReqOffset;
  c.sources |= static_cast<uint32_t>(source);
  kelo_offset_group* group = GetOffsetInfo(&c, static_cast<uint32_t>(source));
  const uint32_t member = MemberBit(value);
  group->members |= member;
  int offset = 0;
  if (!ConvertStringToInt(argument, &offset)) return invalid();
  offset = ClampOffset(word.c_str(), offset);
  (member == kMemberMain ? group->main : member == kMemberSub ? group->sub : group->endOfPage) = offset;
  return kExitOk;
}

bool IsInformationOption(int value) { return value == kOptInfo || value == 'L' || value == 'h' || value == 'V'; }

}  // namespace

int ParseCommandLine(int argc, char** argv, bool* finished) {
  *finished = false;
  bool information = false;
  opterr = 0;
  optind = 0;
  for (int v; (v = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1;) {
    if (v == '?' || v == ':') return Fail(kExitUnrecognized, nullptr), *finished = true, g_iErrCode;
    if (IsInformationOption(v)) information = true;
  }
  optind = 0;
  for (int v; (v = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1;) {
    switch (v) {
      case kOptInfo:
        *finished = true;
        if (OpenWithName(g_CommandInfo.device) != kExitOk) return g_iErrCode;
        PrintDeviceInfo();
        return kExitOk;
      case 'L':
        *finished = true;
        PrintDeviceList();
        return kExitOk;
      case 'V':
        *finished = true;
        PrintVersion();
        return kExitOk;
      case 'h':
        *finished = true;
        return PrintHelp();
      case 'd':
        continue;
      default:
        break;
    }
    if (information) continue;
    if (!g_bOpened) {
      if (OpenWithName(g_CommandInfo.device) != kExitOk) return *finished = true, g_iErrCode;
      g_CommandInfo.powerSavingMinutes = g_QuorraInfo.nPowerSavingCur * 5;
      g_CommandInfo.powerOffChoice = g_QuorraInfo.nPowerOffChoice;
    }
    if (TakeSetting(v, optarg) != kExitOk) return *finished = true, g_iErrCode;
  }
  if (optind < argc) {
    *finished = true;
    Fail(kExitStrayWords, nullptr);
    ConsuMessage("argument without option: `%s';try %s --help", argv[argc - 1], kProgram);
    return g_iErrCode;
  }
  return kExitOk;
}

namespace {

bool ChangePowerSaving() {
  const kelo_command_info& c = g_CommandInfo;
  if (c.powerSavingMinutes == g_QuorraInfo.nPowerSavingCur * 5) return true;
  // The library turns the value it is given into the device's code: it gets
  // a copy, and the image keeps the minutes asked for.
  uint16_t code = static_cast<uint16_t>(c.powerSavingMinutes);
  if (!g_Consu.ModeSelect_LongTimer(g_cpActiveScanner, &code)) return false;
  if (!g_Consu.SetPowerSavingEEPROM(static_cast<uint16_t>(c.powerSavingMinutes))) return false;
  if (g_Consu.SetEEPROMData() == -1) return false;
  // A family whose layout keeps the time elsewhere than it is read from
  // takes the write and shows the old time: the change did not reach the
  // scanner, whatever the write answered.
  if (!g_Consu.GetEEPROMData()) return false;
  kelo_quorra_info now = {};
  g_Consu.GetQuorraInfo(&now);
  return now.bPowerSavingSupported && now.nPowerSavingCur * 5 == c.powerSavingMinutes;
}

bool ChangePowerOff() {
  const int choice = g_CommandInfo.powerOffChoice;
  const int current = g_QuorraInfo.nPowerOffChoice;
  const bool active = g_QuorraInfo.bPowerOffActive != 0;
  unsigned char code;
  if (choice == kPowerOffInactive) {
    if (!active) return true;
    code = static_cast<unsigned char>(0x80 | (4 << (current & 3)));
  } else {
    if (choice == current && active) return true;
    code = static_cast<unsigned char>(4 << choice);
  }
  if (!g_Consu.SetPowerOffTime(code)) return false;
  return g_Consu.SetEEPROMData() != -1;
}

bool ClearCounters() {
  const uint32_t mask = g_CommandInfo.clearMask;
  if (mask & kClearAfterCleaning) g_Consu.OnResetAfterCleaning();
  // One counter slot holds whichever of brake roller, roller set or pad the model has.
  if (mask & (kClearBrake | kClearRollerSet | kClearPad)) g_Consu.OnResetBrake();
  if (mask & kClearPick) g_Consu.OnResetPick();
  return g_Consu.SetEEPROMData() != -1;
}

bool ChangeOffsets() {
  const kelo_command_info& c = g_CommandInfo;
  const kelo_offset_data before = g_OffSetData;
  kelo_offset_data& o = g_OffSetData;
  auto copy = [](const kelo_offset_group& g, int32_t* main, int32_t* sub, int32_t* end) {
    if (g.members & kMemberMain) *main = g.main;
    if (g.members & kMemberSub) *sub = g.sub;
    if (end && (g.members & kMemberEnd)) *end = g.endOfPage;
  };
  const bool end = EndOfPageSupported();
  if (c.sources & kSrcADFFront) copy(c.adfFront, &o.nADFFrontMain, &o.nADFFrontSub, end ? &o.nADFFrontEnd : nullptr);
  if (c.sources & kSrcADFBack) copy(c.adfBack, &o.nADFBackMain, &o.nADFBackSub, end ? &o.nADFBackEnd : nullptr);
  if (c.sources & kSrcFlatbed) copy(c.flatbed, &o.nFBMain, &o.nFBSub, nullptr);
  if (c.request & kReqADFMagnification) o.nADFMagnification = c.adfMagnification;
  if (c.request & kReqFBMagnification) o.nFBMagnification = c.fbMagnification;
  if (g_Consu.SetOffSetData(&g_OffSetData)) return true;
  // Put the device back as it was before this run.
  g_Consu.SetOffSetData(&g_OffSetBackupData);
  g_OffSetData = before;
  return false;
}

}  // namespace

int PerformChanges() {
  const uint32_t request = g_CommandInfo.request;
  if (!(request & (kReqPowerSaving | kReqPowerOff | kReqClear | kReqOffset | kReqADFMagnification |
                   kReqFBMagnification))) {
    if (OpenWithName(g_CommandInfo.device) != kExitOk) return g_iErrCode;
    PrintDeviceInfo();
    return kExitOk;
  }
  bool ok = true;
  if (ok && (request & kReqPowerSaving)) ok = ChangePowerSaving();
  if (ok && (request & kReqPowerOff)) ok = ChangePowerOff();
  if (ok && (request & kReqClear)) ok = ClearCounters();
  if (ok && (request & (kReqOffset | kReqADFMagnification | kReqFBMagnification))) ok = ChangeOffsets();
  if (!ok) return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
  ConsuMessage("Set successfully");
  return kExitOk;
}

void Cleanup() {
  const ConsuBindings& b = g_Consu;
  if (b.dvwc_UnlockScanner && g_cpActiveScanner) b.dvwc_UnlockScanner(g_cpActiveScanner);
  if (b.exitlibrary) b.exitlibrary();
  if (b.dvwc_EndExcusive && g_CommandInfo.device) b.dvwc_EndExcusive(g_CommandInfo.device);
  std::free(g_cpActiveScanner);
  std::free(g_cpActiveScannerName);
  g_cpActiveScanner = g_cpActiveScannerName = nullptr;
  g_dvwc_InquiryVPD = nullptr;
  g_dvwc_GetFirmVersion = nullptr;
  CloseLib();
  g_Consu = {};
}

namespace {

// No scanner is attached: the help, the version and the (empty) device list
// need none, whatever the order of the options; every other request is
// refused as for a scanner that is not there.
int WithoutScanner(int argc, char** argv) {
  int first = 0;
  opterr = 0;
  optind = 0;
  for (int v; (v = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1;) {
    if (v == '?' || v == ':') return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
    if (!first && IsInformationOption(v)) first = v;
  }
  switch (first) {
    case 'h':
      PrintUsage();
      PrintDeviceList();
      return kExitOk;
    case 'V':
      PrintVersion();
      return kExitOk;
    case 'L':
      PrintDeviceList();
      return kExitOk;
  }
  return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
}

// Steps 2 to 7 of a run; the clean-up is the caller's.
int Run(int argc, char** argv, const ConsuBindings* preset) {
  if (preset) {
    g_Consu = *preset;
    g_dvwc_InquiryVPD = g_Consu.dvwc_InquiryVPD;
    g_dvwc_GetFirmVersion = g_Consu.dvwc_GetFirmVersion;
  } else if (!OpenLib()) {
    return Fail(kExitNotFound, kNotFound), g_iErrCode;
  }
  const ConsuBindings& b = g_Consu;
  const int count = b.dvwc_GetDeviceTotalNum();
  if (count <= 0) return WithoutScanner(argc, argv);

  // The device first: every other option may need it.
  const char* given = nullptr;
  opterr = 1;
  optind = 0;
  for (int v; (v = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1;) {
    if (v == '?' || v == ':') return Fail(kExitUnrecognized, nullptr), g_iErrCode;
    if (v == 'd' && !given) given = optarg;
  }
  if (given) {
    bool listed = false;
    for (int i = 0; i < count && !listed; ++i) {
      const char* name = b.dvwc_GetDeviceName(i);
      listed = name && std::strcmp(name, given) == 0;
    }
    if (!listed) return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
    g_CommandInfo.device = given;
  } else {
    g_CommandInfo.device = b.dvwc_GetDeviceName(0);
    if (!g_CommandInfo.device) return Fail(kExitNotConnected, kNotConnected), g_iErrCode;
  }
  // The library's name text lives only until its next call.
  static std::string s_device;
  s_device = g_CommandInfo.device;
  g_CommandInfo.device = s_device.c_str();

  if (b.dvwc_InitSystemToolPath() != 1) return Fail(kExitNotFound, kNotFound), g_iErrCode;

  if (argc <= 1) {
    if (OpenWithName(g_CommandInfo.device) != kExitOk) return g_iErrCode;
    PrintDeviceInfo();
    return kExitOk;
  }
  bool finished = false;
  const int parsed = ParseCommandLine(argc, argv, &finished);
  if (finished || parsed != kExitOk) return parsed;
  return PerformChanges();
}

}  // namespace

void ResetConsutool() {
  CloseLib();
  g_Consu = {};
  g_CommandInfo = {};
  g_QuorraInfo = {};
  g_kelo_device_info = {};
  g_OffSetData = {};
  g_OffSetBackupData = {};
  g_bOpened = false;
  g_iErrCode = kExitOk;
  std::free(g_cpActiveScanner);
  std::free(g_cpActiveScannerName);
  g_cpActiveScanner = g_cpActiveScannerName = nullptr;
  std::memset(g_Tavrin3FirmVer, 0, sizeof g_Tavrin3FirmVer);
  std::memset(g_DunmoMe2FirmVer, 0, sizeof g_DunmoMe2FirmVer);
  g_dvwc_InquiryVPD = nullptr;
  g_dvwc_GetFirmVersion = nullptr;
}

int ConsutoolMain(int argc, char** argv, const ConsuBindings* preset) {
  InstallSignalHandlers();
  g_CommandInfo = {};
  g_iErrCode = Run(argc, argv, preset);
  Cleanup();
  return g_iErrCode;
}
