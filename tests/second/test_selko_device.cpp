// The Selko device class against the simulated scanner: the exchange and its
// reply data, not-ready retries, face buffers that grow within their bound,
// and the pipeline's rotation and edge filler on a page read whole.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "image_libs.h"
#include "second_backend.h"
#include "second_test_util.h"
#include "selko_exchange.h"
#include "selko_scan_func.h"
#include "test_pages.h"
#include "test_support.h"
#include "tone_curve_tenths.h"
#include "usb_manager.h"

using namespace second_test;

namespace {

const dravn::CatalogModel& kModel = dravn::kSelkoModels[1];

double Units(double mm) { return mm * 65536.0 / 1387; }

class SelkoDevice : public ::testing::Test {
 protected:
  void TearDown() override {
    m_object.reset();
    UnLoadImageLibraries();
    if (kelo_usb_manager) {
      kelo_usb_manager->Close();
      kelo_usb_manager->ReleaseLibusbResource();
      delete kelo_usb_manager;
      kelo_usb_manager = nullptr;
    }
    g_iDevCount = 0;
    g_PropInfo = KELO_PROP_INFO{};
    if (!m_dir.empty()) dravn_test::Run({"rm", "-rf", m_dir});
  }

  void Open(const std::string& extra = "") {
    m_dir = dravn_test::MakeTempDir("selko-device");
    char line[128];
    snprintf(line, sizeof line, "device selko %04x:%04x bus=1 address=5\n", kModel.vendorId, kModel.productId);
    dravn_test::WriteFile(m_dir + "/scenario", line + extra);
    dravn_test::WriteFile(m_dir + "/dravn.conf", SecondDravnConf());
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    setenv("DRAVN_SIM_TRANSCRIPT", (m_dir + "/transcript").c_str(), 1);
    setenv("DRAVN_CONFIG_DIR", m_dir.c_str(), 1);
    kelo_usb_manager = new KeloManagerUsb(SecondDeviceRowLookup, KELO_BACKEND_SECOND);
    ASSERT_EQ(kelo_usb_manager->GetDeviceList(&g_iDevCount), 0);
    ASSERT_EQ(g_iDevCount, 1);
    ASSERT_TRUE(kelo_usb_manager->InitShareMemory());
    ASSERT_EQ(kelo_usb_manager->Open(DeviceName(kModel, 1, 5).c_str()), 0);
    // The decoder and the image steps, bound as init binds them.
    ASSERT_EQ(LoadImageLibraries(), SANE_STATUS_GOOD);
    m_object = std::make_unique<CSelkoScanFunc>();
  }

  // One colour page of w x h mm at 300 dpi from the front, one page per
  // start, as the options would set it.
  static void Props(double wMm, double hMm) {
    KELO_PROP_INFO& p = g_PropInfo;
    p = KELO_PROP_INFO{};
    p.SCAN_FACE = 1;
    p.SCAN_RES_X = p.SCAN_RES_Y = 300;
    p.SCAN_MODE = 2;
    p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH = Units(wMm);
    p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH = Units(hMm);
    p.PAPER_SIZE = 0;
    p.THRESHOLD = 128;
    p.BW_MODE = 1;
    const int w = static_cast<int>(static_cast<int64_t>(p.BOTTOM_RIGHT_X) * 300 / 1200);
    const int h = static_cast<int>(static_cast<int64_t>(p.BOTTOM_RIGHT_Y) * 300 / 1200);
    g_ImgDataInfo[0] = g_ImgDataInfo[1] = {1, 1, w, h, 3 * w, 8};
  }

  // Reads the face served now to its end.
  std::vector<unsigned char> ReadPage() {
    std::vector<unsigned char> page;
    SANE_Byte buffer[65536];
    for (;;) {
      SANE_Int n = 0;
      const SANE_Status s = m_object->ReadImgBuf(buffer, sizeof buffer, &n);
      if (s == SANE_STATUS_EOF) break;
      EXPECT_EQ(s, SANE_STATUS_GOOD);
      if (s != SANE_STATUS_GOOD) break;
      page.insert(page.end(), buffer, buffer + n);
    }
    return page;
  }

  std::vector<std::string> Headers() {
    std::vector<std::string> out;
    std::istringstream in(dravn_test::ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) {
      const std::string hex = line.substr(line.rfind(' ') + 1);
      if (line.find(" bulk out ") != std::string::npos && line.find(" len=8 ") != std::string::npos &&
          hex.compare(0, 2, "82") == 0)
        out.push_back(hex.substr(2, 4));
    }
    return out;
  }

  std::string m_dir;
  std::unique_ptr<CSelkoScanFunc> m_object;
};

TEST_F(SelkoDevice, ReplyDataWithoutASlotIsReadAndDropped) {
  if (!RunInOwnIpcNamespace()) return;
  Open("set sheets=1\n");
  ASSERT_TRUE(m_object->ConnectScanner());
  _FIT_CMD_HEADER_ header;
  CSelkoScanFunc::SendCmd(0x28, 3, 0, &header);
  FIT_COMMAND_STATUS status{};
  ASSERT_TRUE(m_object->USBRW(header, nullptr, &status, nullptr));
  EXPECT_EQ(status.bytes[4], 16) << "the name was announced";
  // The next exchange finds its own status, not the name left in the pipe.
  unsigned char name[16];
  ASSERT_EQ(m_object->GetScannerName(name), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 7), kModel.deviceName);
  EXPECT_TRUE(selko::IsSupportedName(name));
  EXPECT_TRUE(m_object->TerminateScanner());
  EXPECT_FALSE(m_object->IsConnected());
}

// A status whose reply length no scanner sends (the device's own word) ends
// the exchange before anything is allocated or read; an ordinary one is read.
TEST(SelkoExchange, ReplyLengthsNoScannerSendsAreRefusedUnread) {
  struct Scripted : SelkoTransport {
    uint32_t announced = 0;
    std::vector<SelkoPhase> reads;
    bool BulkOut(const unsigned char*, uint32_t, SelkoPhase) override { return true; }
    bool BulkIn(unsigned char* data, uint32_t length, SelkoPhase phase) override {
      reads.push_back(phase);
      std::memset(data, 0, length);
      if (phase == SelkoPhase::Status) {
        data[0] = 0x28;
        for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<unsigned char>(announced >> (8 * i));
      }
      return true;
    }
  };
  const struct {
    uint32_t announced;
    SelkoResult result;
  } cases[] = {{16, SelkoResult::Ok},
               {65536, SelkoResult::Ok},
               {selko::kMaxReply + 1, SelkoResult::Transfer},
               {0xFFFFFFFFu, SelkoResult::Transfer}};
  for (const auto& c : cases) {
    Scripted t;
    t.announced = c.announced;
    _FIT_CMD_HEADER_ header;
    SelkoHeader(0x28, 3, 0, &header);
    FIT_COMMAND_STATUS status{};
    unsigned char* reply = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(SelkoUSBRW(t, header, nullptr, &status, &reply, &length), c.result) << c.announced;
    const bool read = c.result == SelkoResult::Ok;
    EXPECT_EQ(t.reads.size(), read ? 2u : 1u) << c.announced;
    EXPECT_EQ(reply != nullptr, read) << c.announced;
    EXPECT_EQ(length, read ? c.announced : 0u) << c.announced;
    free(reply);
  }
}

// The command retry sends ten times at most, a second apart, and reports
// the scanner busy.
TEST_F(SelkoDevice, NotReadyEndsAfterTenSends) {
  if (!RunInOwnIpcNamespace()) return;
  Open("set sheets=1\nset not_ready=20\nset not_ready_cmd=0x1407\n");
  ASSERT_TRUE(m_object->ConnectScanner());
  FIT_COMMAND_STATUS status{};
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(m_object->CommandRetry(0x14, 7, nullptr, 0, &status, nullptr, nullptr));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(9));
  EXPECT_EQ(m_object->getDwLastErr(), SELKO_ERR_NOT_READY);
  EXPECT_EQ(m_object->ConvertToSaneErr(m_object->getDwLastErr()), SANE_STATUS_DEVICE_BUSY);
  int starts = 0;
  for (const auto& h : Headers()) starts += h == "1407";
  EXPECT_EQ(starts, 10);
}

// A face longer than its first buffer grows it; one longer than any page the
// window can give ends the page with an I/O error, and nothing leaks.
TEST_F(SelkoDevice, FaceBuffersGrowWithinTheirBound) {
  if (!RunInOwnIpcNamespace()) return;
  struct Case {
    long pad;
    SANE_Status status;
  } cases[] = {{1500000, SANE_STATUS_GOOD}, {3000000, SANE_STATUS_IO_ERROR}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pad);
    TearDown();
    Open("set sheets=1\nset face_pad=" + std::to_string(c.pad) + "\n");
    Props(26, 26);
    EXPECT_EQ(m_object->Start(), c.status);
    if (c.status == SANE_STATUS_GOOD) {
      m_object->SetReadImgBufSize();
      EXPECT_EQ(ReadPage().size(), static_cast<size_t>(g_ImgDataInfo[0].iBytesPerLine) * g_ImgDataInfo[0].iLines);
    }
    m_object->Cancel();
  }
}

// A read after a face's end answers end of file again, with or without the
// scan thread: it never reaches into the other face of the sheet, which the
// next start serves whole.
TEST_F(SelkoDevice, ReadPastTheEndOfAFaceStaysAtTheEnd) {
  if (!RunInOwnIpcNamespace()) return;
  for (const int autofeed : {1, 0}) {
    SCOPED_TRACE(autofeed);
    TearDown();
    Open("set sheets=1\n");
    Props(52.5, 74);
    g_PropInfo.SCAN_FACE = 3;
    g_PropInfo.AUTOFEED = static_cast<unsigned char>(autofeed);
    const size_t face = static_cast<size_t>(g_ImgDataInfo[0].iBytesPerLine) * g_ImgDataInfo[0].iLines;
    for (int side = 0; side < 2; ++side) {
      SCOPED_TRACE(side);
      ASSERT_EQ(m_object->Start(), SANE_STATUS_GOOD);
      m_object->SetReadImgBufSize();
      EXPECT_EQ(ReadPage().size(), face);
      SANE_Byte buffer[4096];
      for (int again = 0; again < 2; ++again) {
        SANE_Int n = -1;
        EXPECT_EQ(m_object->ReadImgBuf(buffer, sizeof buffer, &n), SANE_STATUS_EOF);
        EXPECT_EQ(n, 0);
      }
    }
    m_object->Cancel();
  }
}

// A black page turned a quarter and then given white margins: the margins
// are exactly white, on the turned page's own edges.
TEST_F(SelkoDevice, EdgeFillerPaintsTheTurnedPage) {
  if (!RunInOwnIpcNamespace()) return;
  m_dir = dravn_test::MakeTempDir("selko-device-pages");
  const std::string pages = m_dir;
  dravn_pages::Image black{620, 874, 3, std::vector<uint8_t>(620 * 874 * 3, 0)};  // 52.5 x 74 mm at 300 dpi
  dravn_test::WriteFile(pages + "/page1.pnm", dravn_pages::EncodePnm(black));
  const std::string dir = m_dir;
  m_dir.clear();
  Open("set sheets=1\nset pages=" + pages + "/page%d.pnm\n");
  Props(52.5, 74);
  g_PropInfo.ROTATION = 90;
  g_PropInfo.EDGE_FILLER_TOP = Units(2);    // 23 lines at 300 dpi
  g_PropInfo.EDGE_FILLER_LEFT = Units(1);   // 11 pixels
  g_PropInfo.EDGE_FILLER_RIGHT = Units(3);  // 35 pixels
  g_PropInfo.EDGE_FILLER_BOTTOM = 0;
  ASSERT_EQ(m_object->Start(), SANE_STATUS_GOOD);
  const KELO_IMAGEDATA_PARAMETERS g = g_ImgDataInfo[0];
  EXPECT_EQ(g.iPixelsPerLine, 874);
  EXPECT_EQ(g.iLines, 620);
  m_object->SetReadImgBufSize();
  const std::vector<unsigned char> page = ReadPage();
  ASSERT_EQ(page.size(), static_cast<size_t>(g.iBytesPerLine) * g.iLines);
  unsigned char tone[256];
  kelo_steps::ApplyLutContrastBrightness(0, 0, 230, 10, 16, tone, "test");
  const int ink = tone[DeviceAdjustLUT_Selko2[0]];
  const int top = static_cast<int>(Units(2) * 300 / 1200), left = static_cast<int>(Units(1) * 300 / 1200),
            right = static_cast<int>(Units(3) * 300 / 1200);
  for (int y = 0; y < g.iLines; ++y)
    for (int x = 0; x < g.iPixelsPerLine; ++x) {
      const int v = page[static_cast<size_t>(y) * g.iBytesPerLine + 3 * x];
      if (y < top || x < left || x >= g.iPixelsPerLine - right) {
        ASSERT_EQ(v, 255) << x << "," << y;
      } else if (y > top + 8 && x > left + 8 && x < g.iPixelsPerLine - right - 8 && y < g.iLines - 8) {
        ASSERT_NEAR(v, ink, 6) << x << "," << y;
      }
    }
  m_object->Cancel();
  dravn_test::Run({"rm", "-rf", dir});
}

// Whole batches with automatic feeding through Start, ReadImgBuf and
// Cancel: the pages queued before a fault are delivered, then the fault;
// a cancel in the middle of a batch stops the scanner once. Run in the
// sanitizer build, they show nothing leaks on any of these roads.
TEST_F(SelkoDevice, BatchesEndWithTheirStatus) {
  if (!RunInOwnIpcNamespace()) return;
  struct Case {
    const char* name;
    const char* extra;
    int source;       // -1: front without automatic feed
    int cancelAfter;  // pages read before Cancel; -1 none
    int pages;
    SANE_Status end;
    int stops;
  } cases[] = {
      {"three sheets", "set sheets=3\n", 1, -1, 3, SANE_STATUS_NO_DOCS, 0},
      {"duplex, two sheets", "set sheets=2\n", 3, -1, 4, SANE_STATUS_NO_DOCS, 0},
      {"back only", "set sheets=2\n", 2, -1, 2, SANE_STATUS_NO_DOCS, 0},
      {"jam at sheet 3", "set sheets=4\nset jam_at=3\n", 1, -1, 2, SANE_STATUS_JAMMED, 0},
      {"device code 5 at sheet 2", "set sheets=3\nset code_at=2\nset code=5\n", 3, -1, 2, SANE_STATUS_IO_ERROR, 0},
      // Sheet 2 comes in one piece: the page is whole when the stop is asked.
      {"stop asked at sheet 2", "set sheets=3\nset stop_at=2\n", 1, -1, 2, SANE_STATUS_CANCELLED, 1},
      {"stop asked at sheet 2, without automatic feed", "set sheets=3\nset stop_at=2\n", -1, -1, 2,
       SANE_STATUS_CANCELLED, 1},
      {"gone in sheet 2", "set sheets=3\nset gone_at=2\n", 1, -1, 1, SANE_STATUS_IO_ERROR, 0},
      {"cancel after the first page", "set sheets=4\nset page_ms=300\n", 1, 1, 1, SANE_STATUS_CANCELLED, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    Open(c.extra);
    Props(52.5, 74);
    g_PropInfo.SCAN_FACE = static_cast<unsigned char>(c.source < 0 ? 1 : c.source);
    g_PropInfo.AUTOFEED = c.source < 0 ? 0 : 1;
    int pages = 0;
    SANE_Status status;
    while ((status = m_object->Start()) == SANE_STATUS_GOOD) {
      m_object->SetReadImgBufSize();
      EXPECT_EQ(ReadPage().size(), static_cast<size_t>(g_ImgDataInfo[0].iBytesPerLine) * g_ImgDataInfo[0].iLines);
      if (++pages == c.cancelAfter) {
        m_object->Cancel();
        SANE_Byte byte;
        SANE_Int n = 0;
        status = m_object->ReadImgBuf(&byte, 1, &n);
        EXPECT_EQ(status, SANE_STATUS_CANCELLED);
        break;
      }
    }
    EXPECT_EQ(status, c.end);
    EXPECT_EQ(pages, c.pages);
    m_object->Cancel();
    int stops = 0, hello = 0, bye = 0;
    for (const auto& h : Headers()) stops += h == "1408", bye += h == "141d";
    std::istringstream in(dravn_test::ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) hello += line.find(" len=2 ") != std::string::npos;
    EXPECT_EQ(stops, c.stops);
    if (std::string(c.name).find("gone") == std::string::npos) {
      EXPECT_EQ(hello, bye) << "every use ended";
    }
  }
}

// A page record without width is refused before the control layer is asked
// (its bits per pixel would divide by zero), whatever the function.
TEST(SelkoSteps, SelectFunctionRefusesAPageWithoutWidth) {
  CSelkoScanFunc object;
  unsigned char* page = static_cast<unsigned char*>(malloc(16));
  unsigned char** slots[2] = {&page, nullptr};
  KELO_IMAGEDATA_PARAMETERS info[2] = {{1, 1, 0, 4, 0, 8}, {1, 1, 0, 4, 0, 8}};
  for (int function : {0x1000, 0x40}) EXPECT_EQ(object.DoSelectFunc(function, slots, 0, info), -2) << function;
  EXPECT_EQ(object.DoSelectFunc(0x2, slots, 0, info), -2) << "an unknown function";
  EXPECT_NE(page, nullptr);
  free(page);
}

}  // namespace
