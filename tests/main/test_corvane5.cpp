// The Corvane5 device class: its property rules, product texts and the
// host-side reduction on their own; then the class against the simulated
// Corvane5 scanner (batch mode, power-off timer, identity), each such test
// again in a child with the stand-in libusb, its own IPC namespace and a
// transcript of every transfer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "devctl_codes.h"
#include "fsip_records.h"
#include "image_libs.h"
#include "kelo_devctl_corvane.h"
#include "main_globals.h"
#include "main_options.h"
#include "model_catalog.h"
#include "test_support.h"
#include "usb_manager.h"

using namespace dravnmain;

namespace {

constexpr double kMm = 65536.0 / 1387.0;

TEST(Corvane5Models, FourteenSevenCharacterTexts) {
  int rows = 0;
  for (int t = 25; t <= 46; ++t) {
    const char* text = Corvane5ModelText(t);
    const bool inClass = (t >= 31 && t <= 34) || (t >= 36 && t <= 45);
    ASSERT_EQ(text != nullptr, inClass) << t;
    if (!text) continue;
    ++rows;
    EXPECT_EQ(strlen(text), 16u);
    EXPECT_EQ(std::string(text).find_first_of(' '), 7u) << text;
  }
  EXPECT_EQ(rows, 14);
  EXPECT_STREQ(Corvane5ModelText(31), "Tv5A100         ");
  EXPECT_STREQ(Corvane5ModelText(45), "Tv5E550         ");
}

struct PropFixture {
  explicit PropFixture(int type) {
    g_iDevType = type;
    dev = new KeloDevCtlCorvane5;
    g_ImgDataInfo.tFront = g_ImgDataInfo.tBack = {1, 1, 100, 100, 300, 8};
    SCAN_PROP_INFO& p = dev->PropInfo();
    p = SCAN_PROP_INFO{};
    p.SCAN_SOURCE = 1, p.IMAGE_MODE = 3, p.SCAN_RES_X = p.SCAN_RES_Y = 300, p.PAPER_SIZE = 1;
    p.LEFT = p.TOP = 0, p.RIGHT = 9921, p.BOTTOM = 14031;
    p.CUST_PAGE_WIDTH = 9921, p.CUST_PAGE_LENGTH = 14031;
    p.JPEG_TYPE = 0x81, p.JPEG_QUALITY = 4, p.SDTC_VARIANCE = 0x60;
  }
  ~PropFixture() {
    delete dev;
    g_iDevType = -1;
  }
  KeloDevCtlCorvane5* dev;
};

void Custom(SCAN_PROP_INFO& p, int dpi, double mm) {
  p.PAPER_SIZE = 0, p.SCAN_RES_X = static_cast<uint16_t>(dpi), p.CUST_PAGE_LENGTH = mm * kMm;
}

TEST(Corvane5Props, RulesOnBothSidesOfEachLimit) {
  const struct {
    const char* name;
    void (*set)(SCAN_PROP_INFO&);
    uint32_t code;
  } cases[] = {
      {"defaults pass", [](SCAN_PROP_INFO&) {}, 0},
      {"mode 4", [](SCAN_PROP_INFO& p) { p.IMAGE_MODE = 4; }, QV_ERR_CTL_SCAN_MODO},
      {"600 dpi", [](SCAN_PROP_INFO& p) { p.SCAN_RES_X = p.SCAN_RES_Y = 600; }, 0},
      {"601 dpi", [](SCAN_PROP_INFO& p) { p.SCAN_RES_X = 601; }, QV_ERR_CTL_RES_X},
      {"49 dpi vertically", [](SCAN_PROP_INFO& p) { p.SCAN_RES_Y = 49; }, QV_ERR_CTL_RES_Y},
      {"26 mm wide", [](SCAN_PROP_INFO& p) { p.RIGHT = 26 * kMm; }, 0},
      {"25.9 mm high", [](SCAN_PROP_INFO& p) { p.BOTTOM = 25.9 * kMm; }, QV_ERR_CTL_PAPER_SIZE},
      {"custom 216 mm wide", [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_WIDTH = 216 * kMm; }, 0},
      {"custom 216.01 mm wide", [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 0, p.CUST_PAGE_WIDTH = 216.01 * kMm; },
       QV_ERR_CTL_PAPER_SIZE},
      {"5588 mm at 200 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 200, 5588); }, 0},
      {"5589 mm at 200 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 200, 5589); }, QV_ERR_CTL_PAPER_SIZE},
      {"5461 mm at 201 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 201, 5461); }, 0},
      {"5462 mm at 300 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 300, 5462); }, QV_ERR_CTL_PAPER_SIZE},
      {"4064 mm at 400 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 400, 4064); }, 0},
      {"4065 mm at 400 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 400, 4065); }, QV_ERR_CTL_PAPER_SIZE},
      {"2700 mm at 401 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 401, 2700); }, 0},
      {"2701 mm at 600 dpi", [](SCAN_PROP_INFO& p) { Custom(p, 600, 2701); }, QV_ERR_CTL_PAPER_SIZE},
      {"long custom on the flatbed", [](SCAN_PROP_INFO& p) { Custom(p, 600, 6000), p.SCAN_SOURCE = 0; }, 0},
      {"brightness 127", [](SCAN_PROP_INFO& p) { p.BRIGHTNESS = 127; }, 0},
      {"brightness 128", [](SCAN_PROP_INFO& p) { p.BRIGHTNESS = 128; }, QV_ERR_CTL_BRIGHTNESS},
      {"JPEG type 0x80", [](SCAN_PROP_INFO& p) { p.JPEG_TYPE = 0x80; }, QV_ERR_CTL_JPEG_TYPE},
      {"JPEG quality 7", [](SCAN_PROP_INFO& p) { p.JPEG_QUALITY = 7; }, 0},
      {"edge processing 0xA0", [](SCAN_PROP_INFO& p) { p.EDGE_PROCESSING = 0xA0; }, 0},
      {"edge processing 0x80", [](SCAN_PROP_INFO& p) { p.EDGE_PROCESSING = 0x80; }, QV_ERR_CTL_EMPHASIS},
      {"image emphasis 0xE0", [](SCAN_PROP_INFO& p) { p.IMAGE_EMPHASIS = 0xE0; }, 0},
      {"image emphasis 0x10", [](SCAN_PROP_INFO& p) { p.IMAGE_EMPHASIS = 0x10; }, QV_ERR_CTL_EMPHASIS},
      {"hole punch 2", [](SCAN_PROP_INFO& p) { p.HOLE_PUNCH_REMOVE = 2; }, 0},
      {"hole punch 3", [](SCAN_PROP_INFO& p) { p.HOLE_PUNCH_REMOVE = 3; }, QV_ERR_CTL_HOLE_PUNCH_REMOVE_MODE},
      {"black dots 4", [](SCAN_PROP_INFO& p) { p.BLANK_PAGE_BLACK_RATIO = 4; },
       QV_ERR_CTL_BLANK_PAGE_SKIP_BLACK_DOTS_RATIO},
      {"white dots 4", [](SCAN_PROP_INFO& p) { p.BLANK_PAGE_WHITE_RATIO = 4; },
       QV_ERR_CTL_BLANK_PAGE_SKIP_WHITE_DOTS_RATIO},
      {"SDTC variance 0xC0", [](SCAN_PROP_INFO& p) { p.SDTC_VARIANCE = 0xC0; }, 0},
      {"SDTC variance 0x61", [](SCAN_PROP_INFO& p) { p.SDTC_VARIANCE = 0x61; }, QV_ERR_CTL_BW_SDTC_VARIANCE},
      {"margin -5 on page-auto", [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 10, p.CROPPING_MARGIN = -5; }, 0},
      {"margin 6 on page-auto", [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 10, p.CROPPING_MARGIN = 6; },
       QV_ERR_CTL_CROPPING_MARGIN},
      {"margin 6 on a fixed size", [](SCAN_PROP_INFO& p) { p.CROPPING_MARGIN = 6; }, 0},
      {"tab 2 on page-auto", [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 10, p.IMAGE_INDEX_TAB = 2; },
       QV_ERR_CTL_IMAGE_INDEX_TAB},
      {"priority 2 on page-auto", [](SCAN_PROP_INFO& p) { p.PAPER_SIZE = 10, p.PAGE_AUTO_PRIORITY = 2; },
       QV_ERR_CTL_PAGE_AUTO_PRIORITY},
      {"paper protection 3", [](SCAN_PROP_INFO& p) { p.PAPER_PROTECTION = 3; }, QV_ERR_CTL_PAPER_PROTECTION_MODE},
      {"device colour detection at 400 dpi",
       [](SCAN_PROP_INFO& p) { p.HARDWARE_PROC = 1, p.AUTO_COLOR_DETECT = 1, p.SCAN_RES_X = 400; }, 0},
      {"device colour detection at 401 dpi",
       [](SCAN_PROP_INFO& p) { p.HARDWARE_PROC = 1, p.AUTO_COLOR_DETECT = 1, p.SCAN_RES_X = 401; },
       QV_ERR_CTL_PAPER_SIZE},
      {"host colour detection at 600 dpi", [](SCAN_PROP_INFO& p) { p.AUTO_COLOR_DETECT = 1, p.SCAN_RES_X = 600; }, 0},
  };
  for (const auto& c : cases) {
    PropFixture f(31);
    c.set(f.dev->PropInfo());
    EXPECT_EQ(f.dev->DoCheckPropList(), c.code) << c.name;
  }
}

// --- the host-side reduction ---------------------------------------------------

TEST(Corvane5Reduction, GreyAndBitsEdgeCases) {
  const unsigned char colour[] = {255, 255, 255, 255, 0, 0, 0, 0, 0, 10, 200, 30};
  unsigned char grey[4] = {};
  KeloDevCtlCorvane5::ConvRGB2GrayN_Ex(grey, 4, 4, 1, 0, colour);
  EXPECT_EQ(grey[0], 255);
  EXPECT_EQ(grey[1], 76);
  EXPECT_EQ(grey[2], 0);
  EXPECT_EQ(grey[3], (77 * 10 + 150 * 200 + 29 * 30) >> 8);
  const uint8_t kinds[][2] = {{2, 10}, {3, 200}, {4, 30}};
  for (const auto& k : kinds) {
    KeloDevCtlCorvane5::ConvRGB2GrayN_Ex(grey, 4, 4, 1, k[0], colour);
    EXPECT_EQ(grey[3], k[1]) << int(k[0]);
  }
  // Width 10: two bytes a line; 128 is black, 129 white; rows advance by
  // the width on the grey side and by the line on the bit side.
  const unsigned char g[20] = {128, 129, 0, 255, 128, 129, 0, 255, 0, 129,  // line 0
                               255, 255, 255, 255, 255, 255, 255, 255, 255, 0};
  unsigned char bits[6] = {};
  KeloDevCtlCorvane5::GrayToBin(bits, 3, 10, 2, 128, g);
  EXPECT_EQ(bits[0], 0xAA);
  EXPECT_EQ(bits[1], 0x80);
  EXPECT_EQ(bits[2], 0x00);
  EXPECT_EQ(bits[3], 0x00);
  EXPECT_EQ(bits[4], 0x40);
  EXPECT_EQ(bits[5], 0x00);
}

// Every kind and a few thresholds, on lines long enough for the wide
// loops and odd enough for their tails, in one run and line by line.
TEST(Corvane5Reduction, AgreesWithAPlainReferenceOnATestPage) {
  const unsigned w = 613, h = 37, bpl = (w + 7) / 8;
  std::vector<unsigned char> rgb(3 * w * h);
  uint32_t seed = 7;
  for (unsigned i = 0; i < rgb.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    rgb[i] = static_cast<unsigned char>(i % 5 == 0 ? (seed >> 16) : (i / 3 % w) * (i % 3 + 3) + i / (3 * w) * 7);
  }
  for (uint8_t kind : {1, 2, 3, 4, 9})
    for (unsigned outLine : {w, w - 3})
      for (uint8_t threshold : {0, 100, 254, 255}) {
        SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " line " << outLine << " threshold " << int(threshold));
        std::vector<unsigned char> grey(outLine * h, 0xA5), bits(bpl * h);
        KeloDevCtlCorvane5::ConvRGB2GrayN_Ex(grey.data(), w, outLine, h, kind, rgb.data());
        KeloDevCtlCorvane5::GrayToBin(bits.data(), bpl, outLine, h, threshold, grey.data());
        for (unsigned y = 0; y < h; ++y)
          for (unsigned x = 0; x < outLine; ++x) {
            const unsigned char* p = &rgb[3 * (y * w + x)];
            const int value = kind >= 2 && kind <= 4 ? p[kind - 2] : (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8;
            ASSERT_EQ(grey[y * outLine + x], value) << x << "," << y;
            ASSERT_EQ((bits[y * bpl + x / 8] >> (7 - x % 8)) & 1, value <= threshold ? 1 : 0) << x << "," << y;
          }
      }
}

// A colour face that the scanner marked binary arrives as 1-bit; a short
// raw face is filled white first, never read past.
TEST(Corvane5Reduction, MarkedFaceBecomesOneBit) {
  g_iDevType = 36;
  KeloDevCtlCorvane5 dev;
  SCAN_PROP_INFO& p = dev.PropInfo();
  p = SCAN_PROP_INFO{};
  p.HARDWARE_PROC = 1, p.IMAGE_MODE = 3, p.SCAN_SOURCE = 3, p.AUTO_COLOR_DETECT = 1, p.THRESHOLD = 128;
  AUTO_COLOR_DETECT_INFO& a = dev.AutoColorInfo();
  a.ucFMode = a.ucBMode = 3;
  const unsigned char markers[2] = {1, 0};  // front binary, back colour
  memcpy(&a.usValue, markers, 2);
  g_ImgDataInfo.tFront = g_ImgDataInfo.tBack = {1, 1, 10, 2, 30, 8};
  // Device data is inverted B, G, R: 0 is white. The front's first pixel is
  // black, and only its first line arrived.
  unsigned char* front = static_cast<unsigned char*>(malloc(30));
  memset(front, 0, 30);
  front[0] = front[1] = front[2] = 0xFF;
  unsigned char* back = static_cast<unsigned char*>(calloc(60, 1));
  back[0] = 0xE1, back[1] = 0xEB, back[2] = 0xF5;  // (10, 20, 30) inverted, B first
  uint32_t frontSize = 30, backSize = 60;
  ASSERT_EQ(dev.ImageProcess(&front, &frontSize, &back, &backSize), VK_OK);
  EXPECT_EQ(g_ImgDataInfo.tFront.iFormat, 0);
  EXPECT_EQ(g_ImgDataInfo.tFront.iDepth, 1);
  EXPECT_EQ(g_ImgDataInfo.tFront.iBytesPerLine, 2);
  EXPECT_EQ(frontSize, 4u);
  EXPECT_EQ(front[0], 0x80);
  EXPECT_EQ(front[1] | front[2] | front[3], 0);
  EXPECT_EQ(g_ImgDataInfo.tBack.iDepth, 8);
  EXPECT_EQ(backSize, 60u);
  EXPECT_EQ(back[0], 10);
  EXPECT_EQ(back[1], 20);
  EXPECT_EQ(back[2], 30);
  free(front);
  free(back);
  g_iDevType = -1;
}

// --- requests to libimgforge's control entry ------------------------------------

// A recording fsip_control: keeps each request and answers with `g_verdict`
// in the result word (blank-page test: 1 blank).
std::vector<fsipctl_request> g_requests;
std::vector<int> g_inputsSeen;
int32_t g_verdict = 0;
int RecordingControl(fsipctl_request* request, fsipctl_image* input, fsipctl_image* output, unsigned char*) {
  g_requests.push_back(*request);
  g_inputsSeen.push_back((input[0].pImageData ? 1 : 0) + ((request->dwFlags & 0x400C) && input[1].pImageData ? 1 : 0));
  output[0].nResult = g_verdict;
  return 0;
}

struct LibraryFixture {
  explicit LibraryFixture(int type) {
    g_iDevType = type;
    saved = g_FSIPCTLFucntion;
    g_FSIPCTLFucntion = RecordingControl;
    g_requests.clear(), g_inputsSeen.clear(), g_verdict = 0;
    dev = new KeloDevCtlCorvane5;
    SCAN_PROP_INFO& p = dev->PropInfo();
    p = SCAN_PROP_INFO{};
    p.SCAN_SOURCE = 3, p.IMAGE_MODE = 3, p.SCAN_RES_X = p.SCAN_RES_Y = 300, p.HOLE_PUNCH_REMOVE = 1;
    p.CROPPING_MARGIN = -3;
    g_ImgDataInfo.tFront = g_ImgDataInfo.tBack = {1, 1, 8, 4, 24, 8};
    front = static_cast<unsigned char*>(calloc(96, 1));
    back = static_cast<unsigned char*>(calloc(96, 1));
  }
  ~LibraryFixture() {
    free(front);
    free(back);
    delete dev;
    g_FSIPCTLFucntion = saved;
    g_iDevType = -1;
  }
  FSIPCTL_FUNCTION saved;
  KeloDevCtlCorvane5* dev;
  unsigned char *front, *back;
};

TEST(Corvane5Library, SelectFuncFlagsAndRequests) {
  LibraryFixture f(38);
  unsigned char** buffers[2] = {&f.front, &f.back};
  const struct {
    uint32_t flags;
    int face;
    int32_t result;
    int32_t request;  // -1: no call
    int32_t side, adf, margin, inputs;
  } cases[] = {
      {0x0001, 0, 0, 0x01, 0, 1, -3, 1},     {0x0003, 1, 0, 0x03, 0, 1, -3, 1},
      {0x0013, 0, 0, 0x13, 0, 1, -3, 1},     {0x0006, 0, 0, 0x06, 0, 0, 0, 2},
      {0x2000, 1, 0, 0x2000, 0, 1, -3, 1},   {0x2012, 0, 0, 0x2012, 0, 1, -3, 1},
      {0x4000, 0, 0, 0x4000, 1, 0, 0, 2},    {0x1000, 1, 0, 0x1000, 2, 0, -3, 1},
      {0x0008, 0, 0, 0x08, 0, 0, 0, 2},      {0x0040, 1, 0, 0x40, 0, 0, -3, 1},
      {0x0080, 0, 0, -1, 0, 0, 0, 0},        {0x8000, 0, -2, -1, 0, 0, 0, 0},
      {0x0002, 0, -2, -1, 0, 0, 0, 0},       {0x0001, 2, -2, -1, 0, 0, 0, 0},
      {0x0021, 0, -4, -1, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    g_requests.clear(), g_inputsSeen.clear();
    EXPECT_EQ(f.dev->DoSelectFunc(c.flags, buffers, c.face), c.result) << std::hex << c.flags;
    if (c.request < 0) {
      EXPECT_TRUE(g_requests.empty()) << std::hex << c.flags;
      continue;
    }
    ASSERT_EQ(g_requests.size(), 1u) << std::hex << c.flags;
    const fsipctl_request& r = g_requests[0];
    EXPECT_EQ(r.dwFlags, c.request) << std::hex << c.flags;
    EXPECT_EQ(r.nSide, c.side) << std::hex << c.flags;
    EXPECT_EQ(r.bADF, c.adf) << std::hex << c.flags;
    EXPECT_EQ(r.nMargin, c.margin) << std::hex << c.flags;
    EXPECT_STREQ(r.szScanner, "Tv5E200") << std::hex << c.flags;
    EXPECT_EQ(g_inputsSeen[0], c.inputs) << std::hex << c.flags;
  }
  // The Corvane class knows neither further crop.
  g_iDevType = 22;
  KeloDevCtlCorvane corvane;
  corvane.PropInfo() = f.dev->PropInfo();
  EXPECT_EQ(corvane.DoSelectFunc(0x2000, buffers, 0), -2);
  EXPECT_EQ(corvane.DoSelectFunc(0x4000, buffers, 0), -2);
}

TEST(Corvane5Library, BlankFlatbedPageIsNoPaperAndBlankBackIsDropped) {
  LibraryFixture f(31);
  SCAN_PROP_INFO& p = f.dev->PropInfo();
  p.HOLE_PUNCH_REMOVE = 0, p.BLANK_PAGE_SKIP = 1, p.SCAN_SOURCE = 0;
  g_verdict = 1;
  unsigned char* none = nullptr;
  uint32_t frontSize = 96, noSize = 0;
  EXPECT_EQ(f.dev->ImageProcess(&f.front, &frontSize, &none, &noSize), QV_ERR_CTL_NO_PAPER);
  EXPECT_EQ(f.front, nullptr);

  // Duplex: the back judged blank is dropped, the front kept.
  p.SCAN_SOURCE = 3;
  f.front = static_cast<unsigned char*>(calloc(96, 1));
  g_ImgDataInfo.tFront = g_ImgDataInfo.tBack = {1, 1, 8, 4, 24, 8};
  uint32_t backSize = 96;
  frontSize = 96;
  g_requests.clear();
  // The front is not blank, the back is.
  static int calls;
  calls = 0;
  g_FSIPCTLFucntion = [](fsipctl_request* r, fsipctl_image*, fsipctl_image* out, unsigned char*) {
    out[0].nResult = r->dwFlags == 0x40 && calls++ == 1 ? 1 : 0;
    return 0;
  };
  EXPECT_EQ(f.dev->ImageProcess(&f.front, &frontSize, &f.back, &backSize), VK_OK);
  EXPECT_NE(f.front, nullptr);
  EXPECT_EQ(frontSize, 96u);
  EXPECT_EQ(f.back, nullptr);
  EXPECT_EQ(backSize, 0u);
}

// --- against the simulated Corvane5 scanner --------------------------------------

std::string g_dir;

// The child part runs when DRAVN_MAIN_CHILD is set; the parent starts it with
// a scenario of one scanner of `id`, a state file and a transcript.
bool InChild(const std::string& id, const std::string& extra) {
  if (getenv("DRAVN_MAIN_CHILD")) return true;
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  g_dir = dravn_test::MakeTempDir("corvane5");
  dravn_test::WriteFile(g_dir + "/scenario",
                        "device corvane 2d4e:" + id + " bus=1 address=7\nset state=" + g_dir + "/state\n" + extra);
  // The shipped configuration lists no Corvane5 scanner.
  dravn_test::WriteFile(g_dir + "/dravn.conf", "usb 0x2d4e 0x" + id + "\n");
  auto env = dravn_test::SimEnv(g_dir + "/scenario");
  env["DRAVN_CONFIG_DIR"] = g_dir;
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

// Command blocks sent, as CDB hex, each with the data out that followed it.
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
      out.push_back({hex.substr(38, 12), ""});
    else if (!out.empty())
      out.back().data += hex;
  }
  return out;
}

bool Corvane5Row(int vendorId, int productId, KELO_DEVICE_ROW_TEXTS* row) {
  for (const dravn::CatalogModel& m : dravn::kAllModels)
    if (m.vendorId == vendorId && m.productId == productId && (m.tables & dravn::kCorvane5Table)) {
      if (row) row->pszModel = m.model, row->pszType = "sheetfed scanner", row->pszVendor = dravn::kVendorText;
      return true;
    }
  return false;
}

// The class on an opened scanner, as the backend's open leaves it.
struct Opened {
  Opened(int type, const char* name) {
    g_iDevType = type;
    kelo_usb_manager = new KeloManagerUsb(Corvane5Row, KELO_BACKEND_MAIN);
    int count = 0;
    EXPECT_TRUE(kelo_usb_manager->InitShareMemory());
    EXPECT_EQ(kelo_usb_manager->GetDeviceList(&count), 0);
    EXPECT_EQ(kelo_usb_manager->Open(name), 0) << name;
    dev = new KeloDevCtlCorvane5;
  }
  ~Opened() {
    delete dev;
    kelo_usb_manager->Close();
    delete kelo_usb_manager;
    kelo_usb_manager = nullptr;
    g_iDevType = -1;
  }
  KeloDevCtlCorvane5* dev;
};

TEST(Corvane5Device, IdentityByTypeGroup) {
  if (!InChild("1711", "")) return;
  {
    Opened o(36, "Tv5E100:001:007");
    EXPECT_EQ(o.dev->DoCheckDeviceCondition(), VK_OK);
  }
  for (int type : {35, 37, 31}) {
    Opened o(type, "Tv5E100:001:007");
    EXPECT_EQ(o.dev->DoCheckDeviceCondition(), QV_ERR_CTL_NOT_SUPPORT) << type;
  }
}

TEST(Corvane5Device, ForeignVendorIsRefused) {
  if (!InChild("1701", "set vendor=MORANTIX\n")) return;
  Opened o(31, "Tv5A100:001:007");
  EXPECT_EQ(o.dev->DoCheckDeviceCondition(), QV_ERR_CTL_NOT_SUPPORT);
}

TEST(Corvane5Device, BatchModeTakenOnceAndReleased) {
  if (!InChild("1701", "")) return;
  Opened o(31, "Tv5A100:001:007");
  const size_t before = Transcript().size();
  EXPECT_EQ(o.dev->DoBatch(true), VK_OK);
  EXPECT_TRUE(o.dev->LocalOccupy());
  EXPECT_EQ(o.dev->DoBatch(true), VK_OK);
  EXPECT_EQ(o.dev->DoTryLampOn(), VK_OK);
  EXPECT_EQ(o.dev->DoBatch(false), VK_OK);
  EXPECT_FALSE(o.dev->LocalOccupy());
  auto sent = Transcript();
  ASSERT_EQ(sent.size(), before + 2);
  EXPECT_EQ(sent[before].cdb, "151000000c00");
  EXPECT_EQ(sent[before].data, "000000002c06000000000000");
  EXPECT_EQ(sent[before + 1].data, "000000002c06010000000000");
}

TEST(Corvane5Device, RefusedBatchCountsAsReleased) {
  if (!InChild("1701", "set refuse=batch\n")) return;
  Opened o(31, "Tv5A100:001:007");
  EXPECT_EQ(o.dev->DoBatch(true), QV_ERR_CTL_STATUS_NOT_GOOD);
  EXPECT_FALSE(o.dev->LocalOccupy());
  EXPECT_EQ(o.dev->DoTryLampOn(), QV_ERR_CTL_STATUS_NOT_GOOD);
  EXPECT_EQ(o.dev->SetPowerOffTime(60), VK_OK);
}

TEST(Corvane5Device, PowerOffPairs) {
  if (!InChild("1701", "set powoff=8:30\n")) return;
  Opened o(31, "Tv5A100:001:007");
  // Minutes, then the pair read before and the pair written.
  const struct {
    uint16_t minutes;
    const char* read;
    const char* written;
  } cases[] = {
      {60, "081e", "041e"},     {0xFFFF, "041e", "841e"}, {0, "841e", "041e"},    {20, "041e", "041e"},
      {1890, "041e", "7e1e"},   {1905, "7e1e", "7e1e"},   {3, "7e1e", "7f06"},     {7, "7f06", "7f06"},
      {0xFFFF, "7f06", "ff1e"}, {45, "ff1e", "031e"},
  };
  for (const auto& c : cases) {
    uint8_t code = 0, second = 0;
    ASSERT_EQ(o.dev->DoGetDevicePowerOffTime(&code, &second), VK_OK);
    char pair[8];
    snprintf(pair, sizeof pair, "%02x%02x", code, second);
    EXPECT_EQ(pair, std::string(c.read)) << c.minutes;
    const size_t before = Transcript().size();
    ASSERT_EQ(o.dev->SetPowerOffTime(c.minutes), VK_OK) << c.minutes;
    auto sent = Transcript();
    ASSERT_EQ(sent.size(), before + 3) << c.minutes;
    EXPECT_EQ(sent[before].cdb, "1d0000001000");
    EXPECT_EQ(sent[before].data, "47455420504f574f46462054494d4520");  // "GET POWOFF TIME "
    EXPECT_EQ(sent[before + 1].cdb, "1c0000000200");
    EXPECT_EQ(sent[before + 2].cdb, "1d0000001200");
    EXPECT_EQ(sent[before + 2].data, "53455420504f574f46462054494d4520" + std::string(c.written)) << c.minutes;
  }
  uint8_t code = 0, second = 0;
  EXPECT_EQ(o.dev->DoGetDevicePowerOffTime(nullptr, &second), QV_ERR_CTL_ILLEGAL_PARAM);
  EXPECT_EQ(o.dev->DoGetDevicePowerOffTime(&code, nullptr), QV_ERR_CTL_ILLEGAL_PARAM);
}

TEST(Corvane5Device, RefusedPowerOffEndsWithItsStatus) {
  if (!InChild("1701", "set refuse=powoff\n")) return;
  Opened o(31, "Tv5A100:001:007");
  EXPECT_EQ(o.dev->SetPowerOffTime(60), QV_ERR_CTL_STATUS_NOT_GOOD);
  EXPECT_EQ(o.dev->DoBatch(true), VK_OK);
}

TEST(Corvane5Device, StartSendsPlainScanOnly) {
  if (!InChild("1701", "")) return;
  Opened o(31, "Tv5A100:001:007");
  SCAN_PROP_INFO& p = o.dev->PropInfo();
  p = SCAN_PROP_INFO{};
  p.SCAN_SOURCE = 5;
  const size_t before = Transcript().size();
  EXPECT_EQ(o.dev->DoStartScan(), VK_OK);
  EXPECT_EQ(Transcript().size(), before);
}

}  // namespace
