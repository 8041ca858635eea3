// The Brenna device class: its JFIF header, its colour-fringe filter against
// a slow reference, and its command layer against the simulated scanner
// (inquiry, window, sense and error record, transport failures).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "brenna_jfif.h"
#include "brenna_scan_func.h"
#include "image_libs.h"
#include "second_backend.h"
#include "second_test_util.h"
#include "test_pages.h"
#include "test_support.h"
#include "tinted_pages.h"
#include "usb_manager.h"

using namespace second_test;

namespace {

// --- JFIF header -------------------------------------------------------------

TEST(BrennaJfif, HeaderLengthsAndLayout) {
  EXPECT_EQ(SetJFIFHeader(0, 1, 1, 300, 300, 0x11, byDefSendJPEG5 + 4, nullptr), 607);
  EXPECT_EQ(SetJFIFHeader(1, 1, 1, 300, 300, 0x11, byDefSendJPEG5 + 4, nullptr), 597);
  for (int table = 1; table <= 7; ++table) {
    SCOPED_TRACE(table);
    std::vector<unsigned char> h(607);
    ASSERT_EQ(SetJFIFHeader(0, 2480, 70000, 300, 600, 0x11, BrennaJpegTable(table) + 4, h.data()), 607);
    const unsigned char head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F',  'I',  'F',  0,    1,   0,
                                  1,    0x01, 0x2C, 0x02, 0x58, 0,    0,   0xFF, 0xC0, 0x00, 0x11, 0x08};
    EXPECT_EQ(0, memcmp(h.data(), head, sizeof head));
    // Lines above 65535 keep their low 16 bits.
    EXPECT_EQ(h[25] << 8 | h[26], 70000 & 0xFFFF);
    EXPECT_EQ(h[27] << 8 | h[28], 2480);
    const unsigned char comps[] = {3, 0, 0x11, 0, 1, 0x11, 1, 2, 0x11, 1, 0xFF, 0xDB, 0x00, 0x84, 0x00};
    EXPECT_EQ(0, memcmp(h.data() + 29, comps, sizeof comps));
    EXPECT_EQ(h[108], 1);
    EXPECT_EQ(0, memcmp(h.data() + 173, "\xFF\xC4\x01\xA2", 4));
    const unsigned char sos[] = {0xFF, 0xDA, 0x00, 0x0C, 3, 0, 0, 1, 0x11, 2, 0x11, 0, 0x3F, 0};
    EXPECT_EQ(0, memcmp(h.data() + 593, sos, sizeof sos));
    // Each table in zig-zag order.
    for (int k = 0; k < 64; ++k) {
      EXPECT_EQ(h[44 + g_byZigZag[k]], BrennaJpegTable(table)[4 + k]);
      EXPECT_EQ(h[109 + g_byZigZag[k]], BrennaJpegTable(table)[68 + k]);
    }
  }
  std::vector<unsigned char> h(607);
  SetJFIFHeader(0, 16, 16, 300, 300, 0x11, byDefSendJPEG5 + 4, h.data());
  const unsigned char zigzag5[] = {4, 3, 3, 4, 3, 3, 4, 4};
  EXPECT_EQ(0, memcmp(h.data() + 44, zigzag5, sizeof zigzag5));
  // Table 3 is the standard's own; out-of-range numbers choose table 5.
  EXPECT_EQ(byDefSendJPEG3[4], 16);
  EXPECT_EQ(byDefSendJPEG3[68], 17);
  EXPECT_EQ(BrennaJpegTable(0), byDefSendJPEG5);
  EXPECT_EQ(BrennaJpegTable(100), byDefSendJPEG5);

  std::vector<unsigned char> g(597);
  ASSERT_EQ(SetJFIFHeader(1, 100, 200, 300, 300, 0x22, byDefSendJPEG5 + 4, g.data()), 597);
  const unsigned char grey[] = {0xFF, 0xC0, 0x00, 0x0B, 8, 0, 200, 0, 100, 1, 0, 0x22, 0, 0xFF, 0xDB, 0x00, 0x84};
  EXPECT_EQ(0, memcmp(g.data() + 20, grey, sizeof grey));
  EXPECT_EQ(0, memcmp(g.data() + 167, "\xFF\xC4\x01\xA2", 4));
  const unsigned char gsos[] = {0xFF, 0xDA, 0x00, 0x08, 1, 0, 0, 0, 0x3F, 0};
  EXPECT_EQ(0, memcmp(g.data() + 587, gsos, sizeof gsos));
}

// --- colour-fringe filter --------------------------------------------------------

// The filter as written out plainly: every window read through clamped
// coordinates from the buffer being written, its weights (127, 22 at the
// corners) normalised by their sum.
// `inPlace` false: every window reads the unsmoothed page, as when the
// filter writes into a buffer of its own.
void ReferenceFilter(std::vector<unsigned char>& px, int w, int h, bool inPlace = true) {
  auto at = [&](int x, int y) -> unsigned char* { return &px[(static_cast<size_t>(y) * w + x) * 3]; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char* p = at(x, y);
      const int r = p[0], g = p[1], b = p[2];
      p[0] = static_cast<unsigned char>((77 * r + 150 * g + 29 * b) >> 8);
      p[1] = static_cast<unsigned char>(128 + ((128 * b - 43 * r - 85 * g) >> 8));
      p[2] = static_cast<unsigned char>(128 + ((128 * r - 107 * g - 21 * b) >> 8));
    }
  const std::vector<unsigned char> yuv = px;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 1; c <= 2; ++c) {
        int sum = 0;
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx) {
            const int xx = std::clamp(x + dx, 0, w - 1), yy = std::clamp(y + dy, 0, h - 1);
            const int v = inPlace ? at(xx, yy)[c] : yuv[(static_cast<size_t>(yy) * w + xx) * 3 + c];
            sum += (std::abs(dx) == 2 && std::abs(dy) == 2) ? 22 * v : 127 * v;
          }
        at(x, y)[c] = static_cast<unsigned char>((sum + 1377) / 2755);
      }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char* p = at(x, y);
      const int Y = p[0], u = p[1] - 128, v = p[2] - 128;
      p[0] = static_cast<unsigned char>(std::clamp((256 * Y + 360 * v) >> 8, 0, 255));
      p[1] = static_cast<unsigned char>(std::clamp((256 * Y - 88 * u - 184 * v) >> 8, 0, 255));
      p[2] = static_cast<unsigned char>(std::clamp((256 * Y + 455 * u) >> 8, 0, 255));
    }
}

_P2IIMG Record(std::vector<unsigned char>& px, int w, int h) {
  _P2IIMG p{};
  p.pImageData = px.data();
  p.nBitsPerPixel = 24;
  p.nWidth = w, p.nHeight = h, p.nBytesPerLine = 3 * w, p.nImageSize = 3 * w * h;
  p.nXResolution = p.nYResolution = 300;
  p.nRight = w - 1, p.nBottom = h - 1;
  return p;
}

// The page entry's answer: every row but the last filtered.
std::vector<unsigned char> Filtered(const std::vector<unsigned char>& page, int w, int h) {
  std::vector<unsigned char> expected = page;
  std::vector<unsigned char> top(expected.begin(), expected.end() - 3 * w);
  ReferenceFilter(top, w, h - 1);
  std::copy(top.begin(), top.end(), expected.begin());
  return expected;
}

TEST(BrennaFilter, MatchesTheReferenceAndKeepsTheLastRow) {
  std::mt19937 random(7);
  for (auto [w, h] : {std::pair{5, 6}, {6, 7}, {37, 23}, {64, 9}, {5, 40}, {133, 17}, {70, 12}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    std::vector<unsigned char> page(static_cast<size_t>(w) * h * 3);
    for (auto& v : page) v = static_cast<unsigned char>(random());
    const std::vector<unsigned char> expected = Filtered(page, w, h);
    _P2IIMG in = Record(page, w, h), out{};
    ASSERT_EQ(CBrennaScanFunc::Tavrin_EraseClrBdr(&in, &out), 0);
    EXPECT_EQ(out.pImageData, page.data());
    EXPECT_EQ(page, expected);
  }
}

// Pages as a scanner delivers them, wide enough for every vector width and
// odd in size: the document page the benches scan, a photograph, a tinted
// page with noise and a page on its backing.
TEST(BrennaFilter, MatchesTheReferenceOnRenderedPages) {
  dravn_pages::PageSpec spec;
  spec.dpi = 75;
  dravn_pages::PageSpec letter = spec;
  letter.widthMm = 215.9, letter.heightMm = 279.4, letter.number = 3;
  dravn_pages::Image noisy = dravn_pages::RenderTintedPage(letter);
  dravn_pages::AddNoise(&noisy, 12, 5);
  dravn_pages::PageSpec photo = spec;
  photo.widthMm = 105, photo.heightMm = 148;
  const std::pair<const char*, dravn_pages::Image> pages[] = {
      {"document page", dravn_pages::RenderDocumentPage(spec)},
      {"photo page", dravn_pages::RenderPhotoPage(photo)},
      {"tinted page with noise", noisy},
      {"page on its backing", dravn_pages::RenderBackedPage(dravn_pages::WhiteBackedSpec(75, 2.0, 3)).image},
  };
  for (const auto& [name, image] : pages) {
    SCOPED_TRACE(name);
    ASSERT_EQ(image.channels, 3);
    const int w = image.width, h = image.height;
    std::vector<unsigned char> page = image.pixels;
    const std::vector<unsigned char> expected = Filtered(page, w, h);
    _P2IIMG in = Record(page, w, h), out{};
    ASSERT_EQ(CBrennaScanFunc::Tavrin_EraseClrBdr(&in, &out), 0);
    EXPECT_TRUE(page == expected);
  }
}

// With a buffer of its own the filter reads the page as it came: the
// guarded sequence over two buffers leaves the result in the second and
// the filtered YUV page in the first.
TEST(BrennaFilter, OverTwoBuffersEveryWindowReadsThePageAsItCame) {
  dravn_pages::PageSpec spec;
  spec.dpi = 40;
  const dravn_pages::Image image = dravn_pages::RenderPhotoPage(spec);
  const int w = image.width, h = image.height;
  std::vector<unsigned char> page = image.pixels, second(page.size(), 0);
  std::vector<unsigned char> expected = page;
  ReferenceFilter(expected, w, h, false);
  _P2IIMG in = Record(page, w, h), out = Record(second, w, h);
  ASSERT_EQ(CBrennaScanFunc::P2iEraseClrBdr(&in, &out, 0), 0);
  EXPECT_TRUE(second == expected);
}

TEST(BrennaFilter, GreyAndWhiteStayAndSmallPagesAreRefused) {
  std::vector<unsigned char> grey(20 * 12 * 3);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<unsigned char>((i / 3) * 13 % 256);
  for (auto* page : {&grey}) {
    std::vector<unsigned char> before = *page;
    _P2IIMG in = Record(*page, 20, 12), out{};
    ASSERT_EQ(CBrennaScanFunc::Tavrin_EraseClrBdr(&in, &out), 0);
    EXPECT_EQ(*page, before);
  }
  std::vector<unsigned char> white(9 * 9 * 3, 0xFF);
  _P2IIMG in = Record(white, 9, 9), out{};
  ASSERT_EQ(CBrennaScanFunc::Tavrin_EraseClrBdr(&in, &out), 0);
  EXPECT_EQ(white, std::vector<unsigned char>(9 * 9 * 3, 0xFF));

  for (auto [w, h] : {std::pair{4, 10}, {10, 5}, {3, 3}}) {
    std::vector<unsigned char> page(static_cast<size_t>(w) * h * 3, 0);
    page[0] = 200;
    std::vector<unsigned char> before = page;
    _P2IIMG small = Record(page, w, h), o{};
    EXPECT_EQ(CBrennaScanFunc::Tavrin_EraseClrBdr(&small, &o), -2) << w << "x" << h;
    EXPECT_EQ(page, before);
  }
  EXPECT_EQ(CBrennaScanFunc::Tavrin_EraseClrBdr(nullptr, &out), -2);
}

// --- the command layer against the simulated scanner ---------------------------------

class BrennaDevice : public ::testing::Test {
 protected:
  void TearDown() override {
    m_object.reset();
    if (kelo_usb_manager) {
      kelo_usb_manager->Close();
      kelo_usb_manager->ReleaseLibusbResource();
      delete kelo_usb_manager;
      kelo_usb_manager = nullptr;
    }
    g_iDevCount = 0;
    if (!m_dir.empty()) dravn_test::Run({"rm", "-rf", m_dir});
  }

  void Open(const std::string& extra = "") {
    m_dir = dravn_test::MakeTempDir("brenna-device");
    const auto& model = dravn::kBrennaModels[0];
    char line[160];
    snprintf(line, sizeof line, "device brenna %04x:%04x bus=1 address=5\n", model.vendorId, model.productId);
    dravn_test::WriteFile(m_dir + "/scenario", std::string(line) + extra);
    dravn_test::WriteFile(m_dir + "/dravn.conf", SecondDravnConf());
    setenv("DRAVN_SIM", (m_dir + "/scenario").c_str(), 1);
    setenv("DRAVN_SIM_TRANSCRIPT", (m_dir + "/transcript").c_str(), 1);
    setenv("DRAVN_CONFIG_DIR", m_dir.c_str(), 1);
    kelo_usb_manager = new KeloManagerUsb(SecondDeviceRowLookup, KELO_BACKEND_SECOND);
    ASSERT_EQ(kelo_usb_manager->GetDeviceList(&g_iDevCount), 0);
    ASSERT_EQ(g_iDevCount, 1);
    ASSERT_TRUE(kelo_usb_manager->InitShareMemory());
    ASSERT_EQ(kelo_usb_manager->Open(DeviceName(model, 1, 5).c_str()), 0);
    m_object = std::make_unique<CBrennaScanFunc>();
  }

  // Command blocks that went out: opcode, then the data type of reads and
  // sends or the unit of reserve and release.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    std::istringstream in(dravn_test::ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) {
      if (line.find(" control out ") == std::string::npos || line.find("-> 12 ") == std::string::npos) continue;
      const std::string hex = line.substr(line.rfind(' ') + 1);
      if (hex.size() != 24) continue;
      const std::string op = hex.substr(0, 2);
      if (op == "e6" || op == "e7")
        out.push_back(op + ":" + hex.substr(22, 2));
      else if (op == "a8" || op == "aa")
        out.push_back(op + ":" + hex.substr(6, 4));
      else
        out.push_back(op);
    }
    return out;
  }

  std::string m_dir;
  std::unique_ptr<CBrennaScanFunc> m_object;
};

TEST_F(BrennaDevice, InquiryFillsTheRecordsWithinWhatCame) {
  if (!RunInOwnIpcNamespace()) return;
  struct Case {
    const char* extra;
    const char* product;
    const char* revision;
    bool autosize;
  } cases[] = {
      {"", "BrennaB700      ", "1.02", false},
      {"set autosize=1\n", "BrennaB700      ", "1.02", true},
      // Offsets past the reply keep the template's texts.
      {"set inquiry_offsets=bad\n", nullptr, "0000", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    const unsigned char vpdBefore104 = g_InquiryVPD[104] & ~0x02;
    g_InquiryVPD[104] = vpdBefore104;
    memcpy(g_Inquiry + 32, "0000", 4);
    const std::string productBefore(reinterpret_cast<char*>(g_Inquiry + 16), 16);
    Open(c.extra);
    unsigned char std[96], vpd[144];
    ASSERT_EQ(m_object->InitDevice(), SANE_STATUS_GOOD);
    ASSERT_EQ(m_object->Inquiry(1, std, sizeof std), 0);
    ASSERT_EQ(m_object->Inquiry(0, vpd, sizeof vpd), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(std + 16), 16), c.product ? c.product : productBefore);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(std + 32), 4), c.revision);
    EXPECT_EQ(0, memcmp(std + 8, "MORANTI ", 8));
    EXPECT_EQ(vpd[21] << 16 | vpd[22] << 8 | vpd[23], 0x1440);
    EXPECT_EQ(vpd[25] << 16 | vpd[26] << 8 | vpd[27], 0x22A4);
    EXPECT_EQ((vpd[104] & 0x02) != 0, c.autosize);
    EXPECT_EQ(g_PropInfo.FLATBED_PAGE_DETECTION != 0, c.autosize);
    // Cached: the second and third reads sent nothing.
    EXPECT_EQ(Sent(), (std::vector<std::string>{"e2", "e2"}));
    TearDown();
  }
}

TEST_F(BrennaDevice, InquiryFailingThriceFailsTheOpen) {
  if (!RunInOwnIpcNamespace()) return;
  Open("set inquiry_fail=3\n");
  EXPECT_EQ(m_object->InitDevice(), SANE_STATUS_IO_ERROR);
  // The refused control transfer fails the command: no status is awaited.
  EXPECT_EQ(m_object->LastError(), BRENNA_ERR_IO);
  TearDown();
  Open("set inquiry_fail=2\n");
  EXPECT_EQ(m_object->InitDevice(), SANE_STATUS_GOOD);
}

struct WindowCase {
  const char* name;
  int source, xres, mode, autofeed, dfAction, mfOverlap;
  double widthMm, heightMm;
  // Expected window bytes.
  int side, res, width, pageCount, multifeed, feedMode;
};

TEST_F(BrennaDevice, WindowFollowsTheOptions) {
  if (!RunInOwnIpcNamespace()) return;
  Open();
  const double unit = 1200 / 25.4;
  const WindowCase cases[] = {
      {"front 300 dpi A4, autofeed", 1, 300, 2, 1, 0, 0, 210, 297, 1, 300, 2480, 0, 0, 0x01},
      {"duplex 600 dpi, single page, multifeed", 3, 600, 2, 0, 1, 1, 210, 297, 4, 600, 4960, 2, 0x18, 0x00},
      {"back 150 dpi reads at 300", 2, 150, 1, 1, 0, 0, 148, 210, 5, 300, 1760, 0, 0, 0x01},
      {"flatbed", 0, 300, 2, 0, 0, 0, 210, 297, 0, 300, 2480, 1, 0, 0x00},
      {"long page feeds in mode 0x11", 1, 300, 2, 1, 0, 0, 210, 1500, 1, 300, 2480, 0, 0, 0x11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_object->InitScanParameter();
    KELO_PROP_INFO& p = g_PropInfo;
    p = KELO_PROP_INFO{};
    p.SCAN_FACE = static_cast<unsigned char>(c.source);
    p.SCAN_RES_X = p.SCAN_RES_Y = static_cast<unsigned short>(c.xres);
    p.SCAN_MODE = static_cast<unsigned char>(c.mode);
    p.AUTOFEED = static_cast<unsigned char>(c.autofeed);
    p.DF_ACTION = static_cast<unsigned char>(c.dfAction);
    p.MF_OVERLAPPING = static_cast<unsigned char>(c.mfOverlap);
    p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH = c.widthMm * unit;
    p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH = c.heightMm * unit;
    p.PAPER_SIZE = 1;
    ASSERT_EQ(m_object->ModeSelect(), 1);
    ASSERT_EQ(m_object->SetWindow(), 1);
    m_object->UpdateScanParameter();
    const unsigned char* w = m_object->Window();
    auto be = [&](int at, int n) {
      int v = 0;
      for (int i = 0; i < n; ++i) v = v << 8 | w[at + i];
      return v;
    };
    EXPECT_EQ(w[44], c.side);
    EXPECT_EQ(be(5, 2), c.res);
    EXPECT_EQ(be(23, 2), c.res);
    EXPECT_EQ(be(25, 2), c.res);
    EXPECT_EQ(be(15, 4), c.width);
    EXPECT_EQ(be(27, 4), c.width);
    EXPECT_EQ(be(35, 4), 3 * c.width);
    EXPECT_EQ(be(31, 4) % 8, 0);
    EXPECT_EQ(be(57, 2), c.pageCount);
    EXPECT_EQ(w[62], c.multifeed);
    EXPECT_EQ(w[63], c.feedMode);
    // The feeder centres the page in its widest window.
    if (c.source != 0) {
      const int widest = c.res == 300 ? 2560 : 5104;
      EXPECT_EQ(be(7, 4), widest / 2 - c.width / 2);
    }
  }
}

// A hardware code reported twice in a row writes the error record back once;
// each is an I/O error for the page.
TEST_F(BrennaDevice, HardwareCodeWritesTheErrorRecordOnce) {
  if (!RunInOwnIpcNamespace()) return;
  Open("set sheets=3\nset sense_at=1\nset sense_code=0x4403\n");
  KELO_PROP_INFO& p = g_PropInfo;
  p = KELO_PROP_INFO{};
  p.SCAN_FACE = 1;
  p.SCAN_RES_X = p.SCAN_RES_Y = 300;
  p.SCAN_MODE = 2;
  p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH = 2480 * 4;
  p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH = 3508 * 4;
  EXPECT_EQ(m_object->ScanSync(), 0);
  EXPECT_EQ(m_object->LastError(), static_cast<uint32_t>(BRENNA_ERR_4403));
  EXPECT_EQ(m_object->ConvertToSaneErr(m_object->LastError()), SANE_STATUS_IO_ERROR);
  EXPECT_EQ(0, memcmp(m_object->ErrorRecord(), "E7", 2));
  // The same code again: its sense sets the code, nothing is written back.
  m_object->RequestSense(0);
  std::vector<std::string> sent = Sent();
  EXPECT_EQ(Count(sent, "a8:ffe0"), 1);
  EXPECT_EQ(Count(sent, "aa:ffe0"), 1);
}

// A read after a face's end answers end of file again, with or without the
// scan thread: it never reaches into the other face of the sheet, which the
// next start serves whole.
TEST_F(BrennaDevice, ReadPastTheEndOfAFaceStaysAtTheEnd) {
  if (!RunInOwnIpcNamespace()) return;
  ASSERT_EQ(LoadImageLibraries(), SANE_STATUS_GOOD);
  for (const int autofeed : {1, 0}) {
    SCOPED_TRACE(autofeed);
    TearDown();
    Open("set sheets=1\n");
    KELO_PROP_INFO& p = g_PropInfo;
    p = KELO_PROP_INFO{};
    p.SCAN_FACE = 3;
    p.AUTOFEED = static_cast<unsigned char>(autofeed);
    p.SCAN_RES_X = p.SCAN_RES_Y = 300;
    p.SCAN_MODE = 2;
    p.BW_MODE = 1;
    p.THRESHOLD = 128;
    p.PAPER_SIZE = 1;
    p.BOTTOM_RIGHT_X = p.CUST_PAGE_WIDTH = 148 * 1200 / 25.4;
    p.BOTTOM_RIGHT_Y = p.CUST_PAGE_LENGTH = 210 * 1200 / 25.4;
    const int w = static_cast<int>(p.BOTTOM_RIGHT_X * 300 / 1200), h = static_cast<int>(p.BOTTOM_RIGHT_Y * 300 / 1200);
    g_ImgDataInfo[0] = g_ImgDataInfo[1] = {1, 1, w, h, 3 * w, 8};
    const size_t face = static_cast<size_t>(3 * w) * h;
    for (int side = 0; side < 2; ++side) {
      SCOPED_TRACE(side);
      ASSERT_EQ(m_object->Start(), SANE_STATUS_GOOD);
      m_object->SetReadImgBufSize();
      SANE_Byte buffer[65536];
      size_t read = 0;
      SANE_Int n = 0;
      SANE_Status status;
      while ((status = m_object->ReadImgBuf(buffer, sizeof buffer, &n)) == SANE_STATUS_GOOD) read += n;
      EXPECT_EQ(status, SANE_STATUS_EOF);
      EXPECT_EQ(read, face);
      for (int again = 0; again < 2; ++again) {
        n = -1;
        EXPECT_EQ(m_object->ReadImgBuf(buffer, sizeof buffer, &n), SANE_STATUS_EOF);
        EXPECT_EQ(n, 0);
      }
    }
    m_object->Cancel();
  }
  UnLoadImageLibraries();
}

// A face whose geometry says it has no pixels is refused before its bits
// per pixel are worked out from it.
TEST(BrennaPipeline, SelectFuncRefusesAFaceWithoutWidth) {
  CBrennaScanFunc object;
  unsigned char pixel[3] = {};
  unsigned char* slots[2] = {pixel, nullptr};
  KELO_IMAGEDATA_PARAMETERS geometry[2] = {};
  geometry[0].iLines = 10;
  geometry[0].iBytesPerLine = 30;
  for (int function : {0x1000, 0x0001, 0x0040})
    EXPECT_EQ(object.DoSelectFunc(function, slots, 0, geometry), -2) << function;
  EXPECT_EQ(slots[0], pixel);
  geometry[0].iPixelsPerLine = 10;
  EXPECT_EQ(object.DoSelectFunc(0x0002, slots, 0, geometry), -2) << "an unknown function bit";
}

}  // namespace
