// The Corvane device class: its tables (tone, sense, model, property rules,
// window descriptor) and page steps on their own, then the class driven
// through the entry points against the simulated Corvane scanner, each such
// test again in a child with the stand-in libusb, its own IPC namespace and
// a transcript of every transfer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "devctl_codes.h"
#include "fsip_records.h"
#include "kelo_devctl_corvane.h"
#include "main_globals.h"
#include "main_options.h"
#include "sane_main.h"
#include "test_support.h"

using namespace dravnmain;

namespace {

// --- tables ------------------------------------------------------------------

TEST(CorvaneTone, EdgeCases) {
  unsigned char t[256];
  KeloDevCtlCorvane::ApplyLutContrastBrightness(0, 0, 255, 0, 10, t);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(t[i], i) << "identity at " << i;
  const int settings[][2] = {{-127, 0}, {127, 0}, {0, -127}, {0, 127}, {-127, 127}, {127, -127}, {60, -30}};
  for (const auto& s : settings) {
    KeloDevCtlCorvane::ApplyLutContrastBrightness(s[0], s[1], 230, 10, 16, t);
    EXPECT_EQ(t[0], 0) << s[0] << "," << s[1];
    EXPECT_EQ(t[255], 255) << s[0] << "," << s[1];
  }
  // Brightness 127 lifts every middle value by 0.375 x 255 before rounding.
  KeloDevCtlCorvane::ApplyLutContrastBrightness(127, 0, 255, 0, 10, t);
  for (int i = 1; i < 255; ++i) ASSERT_EQ(t[i], std::min(255, static_cast<int>(0.5 + 255 * (i / 255.0 + 0.375)))) << i;
  // With gamma 16 the exponent 0.625 works over the range [0.375, 1].
  KeloDevCtlCorvane::ApplyLutContrastBrightness(127, 0, 255, 0, 16, t);
  EXPECT_EQ(t[128], 235);
  EXPECT_EQ(t[64], 186);
  // Equal shadow and highlight: a one-step threshold.
  EXPECT_EQ(KeloDevCtlCorvane::GetLUTData(100, 255, 0, 50, 50, 100, 100, 10), 0);
  EXPECT_EQ(KeloDevCtlCorvane::GetLUTData(102, 255, 0, 50, 50, 100, 100, 10), 255);
  // Black above white gives 0 between them.
  EXPECT_EQ(KeloDevCtlCorvane::GetLUTData(100, 50, 200, 50, 50, 0, 255, 10), 0);
}

TEST(CorvaneSense, Table) {
  const struct {
    uint8_t key, asc, ascq;
    uint32_t code;
    bool listed;
  } cases[] = {
      {0x0, 0x11, 0x22, QV_ERR_CTL_NO_SENSE, true},
      {0x2, 0x04, 0x01, QV_ERR_CTL_NOT_READY, true},
      {0x3, 0x99, 0x01, QV_ERR_CTL_PAPER_JAM, true},
      {0x3, 0x00, 0x02, QV_ERR_CTL_COVER_OPEN, true},
      {0x3, 0x00, 0x03, QV_ERR_CTL_NO_PAPER, true},
      {0x3, 0x00, 0x07, QV_ERR_CTL_DOUBLE_FEED, true},
      {0x3, 0x00, 0x13, QV_ERR_CTL_DATA_NOT_ENOUGH, true},
      {0x3, 0x00, 0x20, QV_ERR_CTL_STOP_QUICKLY, true},
      {0x4, 0x44, 0x06, QV_ERR_CTL_BRIGHTNESS_EXCEPTION, true},
      {0x5, 0x00, 0x77, QV_ERR_CTL_PAPER_JAM, true},
      {0x5, 0x26, 0x00, QV_ERR_CTL_PARALIST_INVALIDATION_FIELD, true},
      {0x5, 0x2C, 0x02, QV_ERR_CTL_WINDOW_COMBINATION_WRONG, true},
      {0xB, 0x80, 0x03, QV_ERR_CTL_IMAGE_FLAG_DATA_OVERFLOW, true},
      // Unlisted under keys 3, 4, 5 and 0x0B: a failure, not success.
      {0x3, 0x00, 0x05, QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION, false},
      {0x5, 0x2C, 0x01, QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION, false},
      {0xB, 0x80, 0x02, QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION, false},
      {0x6, 0x00, 0x00, QV_ERR_CTL_NOT_UNDERSTAND_EXCEPTION, true},
  };
  for (const auto& c : cases) {
    QV_SENSE sense{};
    sense.ucSenseKey = c.key, sense.ucASC = c.asc, sense.ucASCQ = c.ascq;
    bool listed = !c.listed;
    EXPECT_EQ(CorvaneSenseCode(sense, &listed, nullptr), c.code)
        << int(c.key) << " " << int(c.asc) << " " << int(c.ascq);
    EXPECT_EQ(listed, c.listed) << int(c.key) << " " << int(c.asc) << " " << int(c.ascq);
  }
}

TEST(CorvaneModels, EveryClassTypeHasARow) {
  EXPECT_STREQ(CorvaneModelText(22), "DocuvaneRK50    ");
  EXPECT_STREQ(CorvaneModelText(24), "DocuvaneRK90    ");
  for (int t = 0; t <= 24; ++t) EXPECT_NE(CorvaneModelText(t), nullptr) << t;
  EXPECT_NE(CorvaneModelText(35), nullptr);
  for (int t : {-1, 25, 31, 34, 36, 45}) EXPECT_EQ(CorvaneModelText(t), nullptr) << t;
  for (int t = 0; t <= 24; ++t) EXPECT_EQ(strlen(CorvaneModelText(t)), 16u);
}

// A device object of `type` whose properties pass every rule.
struct PropFixture {
  explicit PropFixture(int type) {
    g_iDevType = type;
    dev = new KeloDevCtlCorvane;
    g_ImgDataInfo.tFront = g_ImgDataInfo.tBack = {1, 1, 100, 100, 300, 8};
    SCAN_PROP_INFO& p = dev->PropInfo();
    p = SCAN_PROP_INFO{};
    p.SCAN_SOURCE = 1, p.IMAGE_MODE = 3, p.SCAN_RES_X = p.SCAN_RES_Y = 300, p.PAPER_SIZE = 1;
    p.LEFT = p.TOP = 0, p.RIGHT = 9921, p.BOTTOM = 14031;
    p.CUST_PAGE_WIDTH = 9921, p.CUST_PAGE_LENGTH = 14031;
    p.JPEG_TYPE = 0x81, p.JPEG_QUALITY = 4, p.SDTC_VARIANCE = 96;
  }
  ~PropFixture() { delete dev; }
  KeloDevCtlCorvane* dev;
};

constexpr double kMm = 65536.0 / 1387.0;

TEST(CorvaneProps, Rules) {
  const struct {
    const char* name;
    int type;
    void (*set)(SCAN_PROP_INFO&);
    uint32_t code;
  } cases[] = {
      {"defaults pass", 22, [](SCAN_PROP_INFO&) {}, 0},
      {"source 4", 22, [](SCAN_PROP_INFO& p) { p.SCAN_SOURCE = 4; }, 0},  // no source list in this table
      {"mode 4", 22, [](SCAN_PROP_INFO& p) { p.IMAGE_MODE = 4; }, QV_ERR_CTL_SCAN_MODO},
      {"50 dpi", 22, [](SCAN_PROP_INFO& p) { p.SCAN_RES_X = p.SCAN_RES_Y = 50; }, 0},
      {"49 dpi", 22, [](SCAN_PROP_INFO& p) { p.SCAN_RES_X = 49; }, QV_ERR_CTL_RES_X},
      {"601 dpi vertically", 22, [](SCAN_PROP_INFO& p) { p.SCAN_RES_Y = 601; }, QV_ERR_CTL_RES_Y},
      {"600 dpi", 22, [](SCAN_PROP_INFO& p) { p.SCAN_RES_X = p.SCAN_RES_Y = 600; }, 0},
      {"narrower than 26 mm", 22, [](SCAN_PROP_INFO& p) { p.RIGHT = 1228; }, QV_ERR_CTL_PAPER_SIZE},
      {"26 mm on automatic size", 22, [](SCAN_PROP_INFO& p) { p.RIGHT = 1228, p.PAPER_SIZE = 10; }, 0},
      {"custom 216 mm wide", 22, [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_WIDTH = 10206; }, 0},
      {"custom 217 mm wide", 22, [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_WIDTH = 217 * kMm; },
       QV_ERR_CTL_PAPER_SIZE},
      {"custom 863 mm at 300 dpi", 22, [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_LENGTH = 863 * kMm; }, 0},
      {"custom 864 mm at 300 dpi", 22, [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_LENGTH = 864 * kMm; },
       QV_ERR_CTL_PAPER_SIZE},
      {"custom 3175 mm at 200 dpi", 22,
       [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.SCAN_RES_X = 200, p.CUST_PAGE_LENGTH = 3175 * kMm; }, 0},
      {"custom 357 mm on type 35 at 200 dpi", 35,
       [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.SCAN_RES_X = 200, p.CUST_PAGE_LENGTH = 357 * kMm; },
       QV_ERR_CTL_PAPER_SIZE},
      {"custom on the flatbed is not limited", 35,
       [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.SCAN_SOURCE = 0, p.CUST_PAGE_LENGTH = 800 * kMm; }, 0},
      {"brightness 128", 22, [](SCAN_PROP_INFO& p) { p.BRIGHTNESS = 128; }, QV_ERR_CTL_BRIGHTNESS},
      {"contrast -128", 22, [](SCAN_PROP_INFO& p) { p.CONTRAST = -128; }, QV_ERR_CTL_CONTRAST},
      {"JPEG type 0x80", 22, [](SCAN_PROP_INFO& p) { p.JPEG_TYPE = 0x80; }, QV_ERR_CTL_JPEG_TYPE},
      {"JPEG quality 8", 22, [](SCAN_PROP_INFO& p) { p.JPEG_QUALITY = 8; }, QV_ERR_CTL_JPEG_QUALITY},
      {"edge processing 0xA0", 22, [](SCAN_PROP_INFO& p) { p.EDGE_PROCESSING = 0xA0; }, 0},
      {"edge processing 0x80", 22, [](SCAN_PROP_INFO& p) { p.EDGE_PROCESSING = 0x80; }, QV_ERR_CTL_EMPHASIS},
      {"image emphasis high", 22, [](SCAN_PROP_INFO& p) { p.IMAGE_EMPHASIS = 0x60; }, 0},
      {"descreen level 4", 22, [](SCAN_PROP_INFO& p) { p.IMAGE_EMPHASIS = 0xE0; }, 0},
      {"image emphasis 0x21", 22, [](SCAN_PROP_INFO& p) { p.IMAGE_EMPHASIS = 0x21; }, QV_ERR_CTL_EMPHASIS},
      {"sensitivity 3", 22, [](SCAN_PROP_INFO& p) { p.BLANK_PAGE_SENSITIVITY = 3; },
       QV_ERR_CTL_BLANK_PAGE_SKIP_SENSITIVITY},
      {"SDTC variance 2", 22, [](SCAN_PROP_INFO& p) { p.SDTC_VARIANCE = 2; }, QV_ERR_CTL_BW_SDTC_VARIANCE},
      {"type 8, device sizing at 300 dpi", 8, [](SCAN_PROP_INFO& p) { p.HARDWARE_PROC = 1, p.PAPER_SIZE = 10; },
       QV_ERR_CTL_PAPER_SIZE},
      {"type 3, device colour detection at 300 dpi", 3,
       [](SCAN_PROP_INFO& p) { p.HARDWARE_PROC = 1, p.AUTO_COLOR_DETECT = 1; }, 0},
      {"type 3 at 301 dpi", 3,
       [](SCAN_PROP_INFO& p) { p.HARDWARE_PROC = 1, p.AUTO_COLOR_DETECT = 1, p.SCAN_RES_X = 301; },
       QV_ERR_CTL_PAPER_SIZE},
  };
  for (const auto& c : cases) {
    PropFixture f(c.type);
    c.set(f.dev->PropInfo());
    EXPECT_EQ(f.dev->DoCheckPropList(), c.code) << c.name;
  }
  g_iDevType = -1;
}

std::string Hex(const unsigned char* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += std::string{kDigits[p[i] >> 4], kDigits[p[i] & 15]};
  return s;
}

TEST(CorvaneWindow, DescriptorByCase) {
  QV_WINDOW_INFO w{};
  w.usResX = 300, w.usResY = 200, w.ulLeft = 0x0102, w.ulTop = 0x0304, w.ulWidth = 9921, w.ulLength = 14031;
  w.usThreshold = 0x80, w.ucComposition = 5, w.usBitsPerPixel = 8, w.usHalftoneType = 1, w.usHalftonePattern = 3;
  w.ucCompressionType = 0x82, w.ucCompressionArg = 5, w.ucEdgeProcessing = 0x40, w.ucImageEmphasis = 0x20;
  w.ulDocWidth = 9922, w.ulDocLength = 14032, w.ucSdtcMode = 1, w.ucSdtcVariance = 96;
  const struct {
    const char* name;
    bool hardware;
    uint8_t autoColor, mode, composition;
    std::string hex;
  } cases[] = {
      {"software: colour whatever the mode", false, 0, 0, 5,
       "0000012c00c80000010200000304000026c1000036cf000000050800000000008205000000000000c1800105000020"
       "000000000000c0000026c2000036d00000"},
      {"device grey: halftone fields", true, 0, 2, 2,
       "0000012c00c80000010200000304000026c1000036cf000000020801030000008205000000000000008000000000"
       "00000000000000c0000026c2000036d00000"},
      {"device line art: threshold, edge, SDTC", true, 0, 0, 0,
       "0000012c00c80000010200000304000026c1000036cf008000000100000000008205000000000000008000400000"
       "60000000000000c0000026c2000036d08000"},
  };
  for (const auto& c : cases) {
    unsigned char d[64] = {};
    QV_WINDOW_INFO info = w;
    info.ucComposition = c.composition;
    info.usBitsPerPixel = c.composition == 0 ? 1 : 8;
    KeloDevCtlCorvane::MakeWindowDescriptor(info, c.hardware, c.autoColor, c.mode, d);
    EXPECT_EQ(Hex(d, 64), c.hex) << c.name;
  }
}

// --- page steps ----------------------------------------------------------------

TEST(CorvanePage, ShortDataIsFilledWhiteAndZeroWidthRefused) {
  g_iDevType = 22;
  KeloDevCtlCorvane dev;
  SCAN_PROP_INFO& p = dev.PropInfo();
  p = SCAN_PROP_INFO{};
  p.HARDWARE_PROC = 1, p.IMAGE_MODE = 2, p.SCAN_SOURCE = 1;
  g_ImgDataInfo.tFront = {0, 1, 10, 4, 10, 8};
  // The device sent 15 of 40 bytes: the rest comes white, nothing is read
  // past what arrived.
  unsigned char* front = static_cast<unsigned char*>(malloc(15));
  memset(front, 0x10, 15);
  uint32_t frontSize = 15, backSize = 0;
  unsigned char* back = nullptr;
  ASSERT_EQ(dev.ImageProcess(&front, &frontSize, &back, &backSize), VK_OK);
  EXPECT_EQ(frontSize, 40u);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(front[i], i < 15 ? 0xEF : 0xFF) << i;

  // Software processing: a face without width has no bits per pixel.
  p.HARDWARE_PROC = 0;
  g_ImgDataInfo.tFront = {1, 1, 0, 4, 0, 8};
  unsigned char** buffers[2] = {&front, &back};
  EXPECT_EQ(dev.DoSelectFunc(0x40, buffers, 0), -2);
  // The device does the image work: no library step runs.
  p.HARDWARE_PROC = 1;
  EXPECT_EQ(dev.DoSelectFunc(0x40, buffers, 0), 0);
  free(front);
  g_iDevType = -1;
}

// A library's sRGB entry: what it was handed, and its answer.
struct SrgbCall {
  int calls = 0;
  _P2IIMG image{};
  int answer = 0;
};
SrgbCall g_srgb;
int FakeSrgb(void* record, ...) {
  ++g_srgb.calls;
  memcpy(&g_srgb.image, record, sizeof g_srgb.image);
  return g_srgb.answer;
}

TEST(CorvanePage, SrgbStepCallsTheLibraryAndMapsItsAnswers) {
  g_iDevType = 22;
  KeloDevCtlCorvane dev;
  dev.PropInfo() = SCAN_PROP_INFO{};
  dev.PropInfo().SCAN_RES_X = 300;
  g_ImgDataInfo.tFront = {1, 1, 8, 3, 24, 8};  // colour, 8 x 3 pixels
  std::vector<unsigned char> page(72, 0x33);
  unsigned char* front = page.data();
  unsigned char* back = nullptr;
  unsigned char** buffers[2] = {&front, &back};
  const DEVICE_OPTION_CONTROL* const withProfile = &KELO_DEVICE_OPTION_CONTROL[0];
  const DEVICE_OPTION_CONTROL* const withoutProfile = &KELO_DEVICE_OPTION_CONTROL[3];
  ASSERT_NE(withProfile->szColorProfile, nullptr);
  ASSERT_EQ(withoutProfile->szColorProfile, nullptr);

  const struct {
    const char* name;
    P2I_FUNCTION entry;
    const DEVICE_OPTION_CONTROL* row;
    int answer;
    int result;
    bool called;
  } cases[] = {
      {"converted", FakeSrgb, withProfile, 0, 0, true},
      {"out of memory", FakeSrgb, withProfile, -1, -1, true},
      {"parameter", FakeSrgb, withProfile, -2, -2, true},
      {"its own -5", FakeSrgb, withProfile, -5, -5, true},
      {"another failure", FakeSrgb, withProfile, -3, -5, true},
      {"a positive answer", FakeSrgb, withProfile, 4, -5, true},
      {"no entry", nullptr, withProfile, -1, 0, false},
      {"no profile in the row", FakeSrgb, withoutProfile, -1, 0, false},
      {"no row open", FakeSrgb, nullptr, -1, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_srgb = SrgbCall{};
    g_srgb.answer = c.answer;
    g_SRGBFunction = c.entry;
    g_tpDevCtlInfo = c.row;
    EXPECT_EQ(dev.DoSelectFunc(0x80, buffers, 0), c.result);
    EXPECT_EQ(g_srgb.calls, c.called ? 1 : 0);
    EXPECT_EQ(front, page.data());  // converted in place
    if (!c.called) continue;
    EXPECT_EQ(g_srgb.image.pImageData, page.data());
    EXPECT_EQ(g_srgb.image.nBitsPerPixel, 24);
    EXPECT_EQ(g_srgb.image.nColorOrder, 0);
    EXPECT_EQ(g_srgb.image.nWidth, 8);
    EXPECT_EQ(g_srgb.image.nHeight, 3);
    EXPECT_EQ(g_srgb.image.nBytesPerLine, 24);
    EXPECT_EQ(g_srgb.image.nImageSize, 72);
  }
  g_SRGBFunction = nullptr;
  g_tpDevCtlInfo = nullptr;
  g_iDevType = -1;
}

// --- against the simulated scanner -------------------------------------------

const char* const kName = "DocuvaneRK90:001:007";
std::string g_dir;

// The child part runs when DRAVN_MAIN_CHILD is set; the parent starts it with
// a scenario, a state file and a transcript in a folder of its own.
bool InChild(const std::string& extra) {
  if (getenv("DRAVN_MAIN_CHILD")) return true;
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  g_dir = dravn_test::MakeTempDir("corvane");
  dravn_test::WriteFile(g_dir + "/scenario",
                        "device corvane 2d4e:1103 bus=1 address=7\nset state=" + g_dir + "/state\n" + extra);
  auto env = dravn_test::SimEnv(g_dir + "/scenario");
  env["DRAVN_MAIN_CHILD"] = "1";
  env["DRAVN_SIM_TRANSCRIPT"] = g_dir + "/transcript";
  env["DRAVN_TEST_DIR"] = g_dir;
  char self[4096] = {};
  EXPECT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  auto r = dravn_test::Run(
      {"unshare", "--ipc", self, std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()}, env,
      120);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  return false;
}

// Command blocks sent, as CDB hex (10 bytes), with the data out that
// followed each, in order.
struct Sent {
  std::string cdb, data;
};
std::vector<Sent> Transcript() {
  std::vector<Sent> out;
  std::istringstream in(dravn_test::ReadFile(std::string(getenv("DRAVN_TEST_DIR")) + "/transcript"));
  for (std::string line; std::getline(in, line);) {
    if (line.find(" bulk out ") == std::string::npos) continue;
    const std::string hex = line.substr(line.rfind(' ') + 1);
    if (line.find(" len=31 ") != std::string::npos && hex.compare(0, 2, "43") == 0)
      out.push_back({hex.substr(38, 20), ""});
    else if (!out.empty())
      out.back().data += hex;
  }
  return out;
}
std::vector<std::string> Opcodes(const std::vector<Sent>& sent, size_t from = 0) {
  std::vector<std::string> ops;
  for (size_t i = from; i < sent.size(); ++i) {
    std::string op = sent[i].cdb.substr(0, 2);
    if (op == "f1" || op == "28") op += sent[i].cdb.substr(2, 4);  // the sub-command or data type
    if (ops.empty() || ops.back() != op) ops.push_back(op);        // a read loop counts once
  }
  return ops;
}

SANE_Status SetText(SANE_Handle h, int option, const char* text) {
  char value[64] = {};
  snprintf(value, sizeof value, "%s", text);
  return SaneControlOption(h, option, SANE_ACTION_SET_VALUE, value, nullptr);
}
SANE_Status SetWord(SANE_Handle h, int option, SANE_Word word) {
  return SaneControlOption(h, option, SANE_ACTION_SET_VALUE, &word, nullptr);
}
SANE_Word GetWord(SANE_Handle h, int option, SANE_Status* status) {
  SANE_Word word = -99;
  *status = SaneControlOption(h, option, SANE_ACTION_GET_VALUE, &word, nullptr);
  return word;
}

// Pages of a batch until its status, each read in pieces of `piece`.
std::vector<std::string> Batch(SANE_Handle h, SANE_Status* end, int piece = 32768, size_t most = 10) {
  std::vector<std::string> pages;
  std::vector<SANE_Byte> buf(static_cast<size_t>(piece));
  while (pages.size() < most && (*end = SaneStart(h)) == SANE_STATUS_GOOD) {
    std::string page;
    SANE_Int len = 0;
    while (SaneRead(h, buf.data(), piece, &len) == SANE_STATUS_GOOD)
      page.append(reinterpret_cast<char*>(buf.data()), len);
    pages.push_back(page);
  }
  return pages;
}

TEST(CorvaneDevice, OpenSheetsAndFirstReadDate) {
  if (!InChild("set sheets=2\n")) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  // Open: inquiry, ready, the first-read date read and, being unset, written.
  auto sent = Transcript();
  EXPECT_EQ(Opcodes(sent), (std::vector<std::string>{"12", "00", "1d", "1c", "1d", "1c"}));
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[2].data, "47455420464952535420444154452020");                // "GET FIRST DATE  "
  EXPECT_EQ(sent[4].data.substr(0, 32), "46495253542052454144204441544520");  // "FIRST READ DATE "
  SaneClose(h);
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  EXPECT_EQ(Opcodes(Transcript(), sent.size()), (std::vector<std::string>{"12", "00", "1d", "1c"}))
      << "the date is written once";

  const size_t before = Transcript().size();
  ASSERT_EQ(SetText(h, OPTION_SOURCE, "ADF Front"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_PAPER_SIZE, "A6"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(h, OPTION_RESOLUTION, 150), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_MODE, "Color"), SANE_STATUS_GOOD);
  SANE_Status end;
  auto pages = Batch(h, &end);
  EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
  ASSERT_EQ(pages.size(), 2u);
  SANE_Parameters params;
  ASSERT_EQ(SaneGetParameters(h, &params), SANE_STATUS_GOOD);
  EXPECT_EQ(pages[1].size(), static_cast<size_t>(params.bytes_per_line) * params.lines);
  // First sheet: ready, feeder mode, the mode pages, window, feeder check,
  // tone table, lamp, load, scan, the read loop, end of scan, the page's
  // size, jam check. A later sheet repeats from the window on; the third
  // finds the feeder empty.
  const std::vector<std::string> first = {"00", "f10000", "15",     "24", "c2",     "03",     "2a", "f10500", "31",
                                          "1b", "f11000", "280000", "03", "f10900", "280080", "c2", "03"};
  const std::vector<std::string> later = {"24",     "c2", "03",     "31",     "1b", "f11000",
                                          "280000", "03", "f10900", "280080", "c2", "03"};
  std::vector<std::string> expected = first;
  expected.insert(expected.end(), later.begin(), later.end());
  expected.insert(expected.end(), {"24", "c2", "03"});
  EXPECT_EQ(Opcodes(Transcript(), before), expected);
  SaneClose(h);
  SaneExit();
}

TEST(CorvaneDevice, ModePagesAndWindowsAsSent) {
  if (!InChild("set sheets=3\n")) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  const struct {
    const char* name;
    const char* source;
    int dpi;
    const char* paper;
    void (*set)(SANE_Handle);
    std::vector<std::string> pages;  // mode pages in order, with the 4-byte header
    std::string window;              // the SET WINDOW data
  } cases[] = {
      {"feeder front, A6, 150 dpi",
       "ADF Front",
       150,
       "A6",
       [](SANE_Handle) {},
       {"000000003206a00000000000", "000000003c06000000000000", "000000003806c00000000000", "000000003506008100000000",
        "000000003a06800000000000", "000000003306c00000000000", "000000003406000000000000"},
       // Header; window 0: 150 dpi both ways, at 0/0, 105 x 148 mm (4961 x
       // 6993 units), colour, 8 bits, the colour bytes 40-43, 0xC0 at 53.
       "0000000000000040"
       "0000009600960000000000000000000013610000"
       "1b51000000050800000000000000000000000000c1800105"
       "000000000000000000c00000"},
      {"feeder duplex, A5, 300 dpi, JPEG 444, double feed stops on thickness, prepick off, sleep 15",
       "ADF Duplex",
       300,
       "A5",
       [](SANE_Handle h) {
         SetWord(h, OPTION_JPEG, SANE_TRUE);
         SetText(h, OPTION_JPEG_TYPE, "444");
         SetText(h, OPTION_JPEG_QUALITY, "5");
         SetText(h, OPTION_DF_ACTION, "Stop");
         SetWord(h, OPTION_DF_THICKNESS, SANE_TRUE);
         SetText(h, OPTION_PREPICK, "Off");
         SetWord(h, OPTION_SLEEPTIMER, 15);
       },
       {"000000003206a00000000000", "000000003c06000000000000",
        "0000000038069000"
        "00000000",
        "000000003506008100000000", "000000003a06800000000000",
        "0000000033068000"
        "00000000",
        "0000000034060f0000000000"},
       // The front of two windows: 300 dpi, 148 x 210 mm cut to whole JPEG
       // blocks: 1752 pixels (7008 units, rounded up to 8 pixels) by 2480
       // lines (9920 units); JPEG 0x81 at quality 5.
       "0000000000000040"
       "0000012c012c0000000000000000"
       "00001b60"
       "000026c0"
       "000000"
       "05"
       "08"
       "0000000000"
       "81"
       "05"
       "000000000000"
       "c1800105"
       "000000000000000000c00000"},
  };
  for (const auto& c : cases) {
    const size_t before = Transcript().size();
    ASSERT_EQ(SetText(h, OPTION_SOURCE, c.source), SANE_STATUS_GOOD);
    ASSERT_EQ(SetText(h, OPTION_PAPER_SIZE, c.paper), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, OPTION_RESOLUTION, c.dpi), SANE_STATUS_GOOD);
    c.set(h);
    ASSERT_EQ(SaneStart(h), SANE_STATUS_GOOD) << c.name;
    SaneCancel(h);
    std::vector<std::string> pages;
    std::string window;
    auto sent = Transcript();
    for (size_t i = before; i < sent.size(); ++i) {
      if (sent[i].cdb.compare(0, 2, "15") == 0) pages.push_back(sent[i].data);
      if (sent[i].cdb.compare(0, 2, "24") == 0 && window.empty()) window = sent[i].data;
    }
    EXPECT_EQ(pages, c.pages) << c.name;
    EXPECT_EQ(window, c.window) << c.name;  // transcript lines show 64 bytes
  }
  SaneClose(h);
  SaneExit();
}

TEST(CorvaneDevice, CountersReadAndReset) {
  if (!InChild("set eeprom_byte=46:2,38:3,294:4,60:1,61:9,124:2,44:1,39:2,295:3\n")) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  SANE_Status s;
  EXPECT_EQ(GetWord(h, OPTION_TOTAL_SCANPAGE_COUNT, &s), 1034);
  EXPECT_EQ(GetWord(h, OPTION_TOTAL_PICKROLLER_COUNT, &s), 500);
  EXPECT_EQ(GetWord(h, OPTION_TOTAL_PADASSY_COUNT, &s), 1000);
  EXPECT_EQ(GetWord(h, OPTION_TOTAL_FLATBED_COUNT, &s), 523);
  EXPECT_EQ(s, SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(h, OPTION_TOTAL_PICKROLLER_COUNT, 0), SANE_STATUS_GOOD);
  EXPECT_EQ(GetWord(h, OPTION_TOTAL_PICKROLLER_COUNT, &s), 0);
  EXPECT_EQ(GetWord(h, OPTION_TOTAL_PADASSY_COUNT, &s), 1000);
  // Write, then commit: the stored EEPROM has the counter cleared.
  std::vector<std::string> diagnostics;
  for (const auto& sent : Transcript())
    if (sent.cdb.compare(0, 2, "1d") == 0) diagnostics.push_back(sent.data);
  ASSERT_GE(diagnostics.size(), 3u);
  const std::string clear =
      "44454255472c4532542c575254202020"
      "3c020000";                                                 // "DEBUG,E2T,WRT   " 3C 02 00 00
  const std::string commit = "44454255472c4532502c575254202020";  // "DEBUG,E2P,WRT   "
  const auto at = std::find(diagnostics.begin(), diagnostics.end(), clear);
  ASSERT_NE(at, diagnostics.end());
  ASSERT_NE(at + 1, diagnostics.end());
  EXPECT_EQ(*(at + 1), commit);
  const std::string state = dravn_test::ReadFile(std::string(getenv("DRAVN_TEST_DIR")) + "/state");
  ASSERT_EQ(state.size(), 512u);
  EXPECT_EQ(state[60], 0);
  EXPECT_EQ(state[124], 2);
  // The raw command option takes a CDB of at most 12 bytes.
  unsigned char raw[256] = {13};
  EXPECT_EQ(SaneControlOption(h, OPTION_USB_COMMAND, SANE_ACTION_SET_VALUE, raw, nullptr), SANE_STATUS_INVAL);
  SaneClose(h);
  SaneExit();
}

TEST(CorvaneDevice, CancelBetweenPagesThenANewBatch) {
  if (!InChild("set sheets=4\n")) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_SOURCE, "ADF Duplex"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_PAPER_SIZE, "A6"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(h, OPTION_RESOLUTION, 100), SANE_STATUS_GOOD);
  SetWord(h, OPTION_AUTOFEED, SANE_TRUE);
  SANE_Status end;
  auto pages = Batch(h, &end, 4096, 3);
  ASSERT_EQ(pages.size(), 3u);
  SaneCancel(h);
  // The new batch goes on with the sheets still in the feeder.
  auto more = Batch(h, &end);
  EXPECT_EQ(end, SANE_STATUS_NO_DOCS);
  EXPECT_GE(more.size(), 2u);
  EXPECT_EQ(more.size() % 2, 0u);
  SaneCancel(h);
  SaneClose(h);
  SaneExit();
}

// A scanner that answers with another product is refused, and the refused
// open gives back its USB device, exclusive record and shared table.
TEST(CorvaneDevice, RefusedOpenGivesEverythingBack) {
  if (!InChild("set inquiry_product=DocuvaneRK50\n")) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  EXPECT_EQ(SaneOpen(kName, &h), SANE_STATUS_UNSUPPORTED);
  EXPECT_EQ(dravn_test::SysVObjects(), 0);
  EXPECT_EQ(SaneOpen(kName, &h), SANE_STATUS_UNSUPPORTED) << "refused again, not busy";
  SaneExit();
  EXPECT_EQ(dravn_test::SysVObjects(), 0);
}

// After a failed batch the close gives everything back as well.
TEST(CorvaneDevice, FailedBatchGivesEverythingBack) {
  if (!InChild("set sheets=2\nset jam_at=1\n")) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_SOURCE, "ADF Front"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_PAPER_SIZE, "A6"), SANE_STATUS_GOOD);
  SANE_Status end;
  EXPECT_TRUE(Batch(h, &end).empty());
  EXPECT_EQ(end, SANE_STATUS_JAMMED);
  SaneClose(h);
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD) << "not held by the failed batch";
  SaneClose(h);
  SaneExit();
  EXPECT_EQ(dravn_test::SysVObjects(), 0);
}

// A face beyond the window sent ends the batch with an I/O error before it
// is allocated or worked through: a face size answered as 65535 pixels by
// 10000 lines (2 GB of colour for an A6 window), or a face whose data never
// ends (its buffer would grow to 4 GB). The sheet before it comes whole, at
// the size its window asked for, and nothing stays held.
class CorvaneFaceBeyondWindow : public ::testing::TestWithParam<const char*> {};

TEST_P(CorvaneFaceBeyondWindow, EndsTheBatch) {
  if (!InChild(std::string("set sheets=3\n") + GetParam())) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_SOURCE, "ADF Front"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_PAPER_SIZE, "A6"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetWord(h, OPTION_RESOLUTION, 100), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_MODE, "Color"), SANE_STATUS_GOOD);
  SetWord(h, OPTION_AUTOFEED, SANE_TRUE);
  SANE_Status end;
  auto pages = Batch(h, &end, 65536, 3);
  EXPECT_EQ(end, SANE_STATUS_IO_ERROR);
  ASSERT_EQ(pages.size(), 1u);
  // A6 at 100 dpi: 105 x 148 mm.
  EXPECT_EQ(pages[0].size(), 413u * 3 * 582);
  SaneCancel(h);
  SaneClose(h);
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD) << "not held by the failed batch";
  SaneClose(h);
  SaneExit();
  EXPECT_EQ(dravn_test::SysVObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(SizeAndData, CorvaneFaceBeyondWindow,
                         ::testing::Values("set oversize_at=2\n", "set endless_at=2\n"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           return std::string(p.param[4] == 'o' ? "SizeReply" : "EndlessData");
                         });

// Every fault of the simulated scanner ends the batch with its status after
// the pages that came before it, with nothing left held (the sanitizer build
// runs these too).
struct FaultCase {
  const char* name;
  const char* scenario;
  const char* source;
  bool autofeed;
  size_t pages;
  SANE_Status end;
};

class CorvaneFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CorvaneFaults, EndTheBatch) {
  const FaultCase& c = GetParam();
  if (!InChild(c.scenario)) return;
  ASSERT_EQ(SaneInit(nullptr, nullptr), SANE_STATUS_GOOD);
  SANE_Handle h = nullptr;
  ASSERT_EQ(SaneOpen(kName, &h), SANE_STATUS_GOOD);
  ASSERT_EQ(SetText(h, OPTION_SOURCE, c.source), SANE_STATUS_GOOD);
  if (std::string(c.source) != "Flatbed") {
    ASSERT_EQ(SetText(h, OPTION_PAPER_SIZE, "A6"), SANE_STATUS_GOOD);
  }
  ASSERT_EQ(SetWord(h, OPTION_RESOLUTION, 100), SANE_STATUS_GOOD);
  if (c.autofeed) SetWord(h, OPTION_AUTOFEED, SANE_TRUE);
  SANE_Status end;
  auto pages = Batch(h, &end, 65536, std::string(c.source) == "Flatbed" ? 1 : 10);
  EXPECT_EQ(pages.size(), c.pages) << c.name;
  if (std::string(c.source) != "Flatbed") {
    EXPECT_EQ(end, c.end) << c.name;
  }
  SaneCancel(h);
  SaneClose(h);
  SaneExit();
}

INSTANTIATE_TEST_SUITE_P(
    Sim, CorvaneFaults,
    ::testing::Values(
        FaultCase{"no paper at start", "set sheets=0\n", "ADF Front", false, 0, SANE_STATUS_NO_DOCS},
        FaultCase{"jam in sheet 2", "set sheets=3\nset jam_at=2\n", "ADF Front", true, 1, SANE_STATUS_JAMMED},
        FaultCase{"cover opened in sheet 1", "set sheets=2\nset cover_open_at=1\n", "ADF Duplex", false, 0,
                  SANE_STATUS_COVER_OPEN},
        FaultCase{"double feed in sheet 2", "set sheets=2\nset double_feed_at=2\n", "ADF Back", true, 1,
                  SANE_STATUS_JAMMED},
        FaultCase{"stop at the device", "set sheets=2\nset stop_at=1\n", "ADF Front", false, 0, SANE_STATUS_CANCELLED},
        FaultCase{"gone in sheet 2", "set sheets=3\nset gone_at=2\n", "ADF Duplex", true, 2, SANE_STATUS_IO_ERROR},
        FaultCase{"busy, back late", "set sheets=2\nset busy=4\nset back_lag=2\n", "ADF Duplex", true, 4,
                  SANE_STATUS_NO_DOCS},
        FaultCase{"flatbed", "set busy=2\n", "Flatbed", false, 1, SANE_STATUS_GOOD}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::to_string(info.index); });

}  // namespace
