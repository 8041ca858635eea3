// The real scanimage scanning simulated Docuvane-line scanners, which the
// main backend drives itself: batches from the feeder and flatbed scans in
// every mode, with the package's libimgforge, with the pipeline stand-in
// (the host converts) and without one (the scanner converts); raw and JPEG
// transfer; faults; an interrupted scan; the front end's conformance test.
// Each run has its own IPC and mount namespaces.
#include <gtest/gtest.h>
#include <sane/sane.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "kelo_devctl_corvane.h"
#include "model_catalog.h"
#include "scan_e2e_support.h"
#include "test_pages.h"
#include "test_support.h"

using dravn_test::ReadFile;
using dravn_test::WriteFile;
using dravnmain::KeloDevCtlCorvane;

namespace {

using dravn_scan_e2e::PaperSize;

constexpr PaperSize kA4{"A4", 210, 297}, kA5{"A5", 148, 210}, kA6{"A6", 105, 148};
// A SCAN command block as the transcript shows it: 'C', zeros to the CDB at
// byte 19, opcode 1B.
const std::string kScanBlock = "43" + std::string(36, '0') + "1b";

// How the host's libimgforge is laid out for a run.
enum class Library { Package, Standin, None };

class CorvaneScanE2E : public dravn_scan_e2e::ScanimageE2E {
 protected:
  CorvaneScanE2E() : ScanimageE2E({"corvane", &dravn::kDocuvaneModels[0]}) {}

  // Sheets of synthetic pages (front 2k-1, back 2k) rendered at `dpi`, in a
  // scanner of catalogue row `row`.
  void Feed(int row, int sheets, const PaperSize& paper, int dpi, const std::string& extra = "") {
    m_scanner.model = &dravn::kDocuvaneModels[row];
    WritePages(std::max(1, sheets), paper, dpi, true);
    WriteScenario("set state=" + m_dir + "/state\n" + FeedSettings(sheets, dpi) + extra);
  }

  // The package's library directory with libimgforge replaced by the
  // pipeline stand-in, or taken away.
  std::string LibDir(Library library) {
    if (library == Library::Package) return "";
    if (library == Library::Standin) return FullImgforge();
    std::string lib = m_dir + "/lib";
    mkdir(lib.c_str(), 0755);
    EXPECT_EQ(
        dravn_test::Run(
            {"sh", "-c", std::string("cp -a ") + DRAVN_LIB_DIR + "/. " + lib + " && rm -f " + lib + "/libimgforge.so*"})
            .exitCode,
        0);
    return lib + ":" DRAVN_LIB_DIR;
  }

  // The stand-in records what the page steps ask of it.
  std::map<std::string, std::string> Env() override {
    auto env = ScanimageE2E::Env();
    env["IMGFORGE_STANDIN_RECORD"] = m_dir + "/requests";
    return env;
  }
  dravn_test::RunResult Scanimage(const std::vector<std::string>& args, Library library = Library::Package) {
    const std::string lib = LibDir(library);
    return ScanimageE2E::Scanimage(args, lib.empty() ? std::vector<std::string>{} : std::vector<std::string>{lib});
  }
};

int Grey(const uint8_t* p) { return (299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000; }

// The fed page through the tone table of its mode (brightness and contrast
// 0), converted as the scanner and the stand-in both convert.
dravn_pages::Image Expected(const PaperSize& paper, int dpi, int number, const std::string& mode) {
  dravn_pages::Image page = dravn_scan_e2e::Rendered(paper, dpi, true, number);
  unsigned char table[256];
  if (mode == "Lineart")
    KeloDevCtlCorvane::ApplyLutContrastBrightness(0, 0, 255, 0, 10, table);
  else
    KeloDevCtlCorvane::ApplyLutContrastBrightness(0, 0, 230, 10, 16, table);
  for (auto& v : page.pixels) v = table[v];
  if (mode == "Color") return page;
  dravn_pages::Image grey{page.width, page.height, 1, {}};
  grey.pixels.resize(static_cast<size_t>(page.width) * page.height);
  for (size_t i = 0; i < grey.pixels.size(); ++i) {
    const int g = Grey(&page.pixels[3 * i]);
    grey.pixels[i] = static_cast<uint8_t>(mode == "Gray" ? g : (g < 128 ? 0 : 255));
  }
  return grey;
}

struct BatchCase {
  const char* name;
  int row;
  const char* source;
  const char* mode;
  int dpi;
  PaperSize paper;
  int sheets;
  Library library;
  std::vector<std::string> extra;  // options
  std::vector<int> numbers;        // page numbers in delivery order
  double meanLimit;                // 0: exact
};

TEST_F(CorvaneScanE2E, BatchesArriveAsFed) {
  const BatchCase cases[] = {
      {"feeder front, colour, 300 dpi", 0, "ADF Front", "Color", 300, kA4, 2, Library::Package, {}, {1, 3}, 0},
      {"feeder back, colour, 150 dpi", 1, "ADF Back", "Color", 150, kA5, 2, Library::Package, {}, {2, 4}, 0},
      {"feeder duplex, colour, 200 dpi", 0, "ADF Duplex", "Color", 200, kA5, 2, Library::Package, {}, {1, 2, 3, 4}, 0},
      {"flatbed, colour, 600 dpi", 2, "Flatbed", "Color", 600, kA6, 1, Library::Package, {}, {1}, 0},
      {"duplex grey, the scanner converts", 0, "ADF Duplex", "Gray", 300, kA6, 1, Library::None, {}, {1, 2}, 0},
      {"duplex grey, the host converts", 0, "ADF Duplex", "Gray", 300, kA6, 1, Library::Standin, {}, {1, 2}, 0},
      {"line art, the scanner converts", 1, "ADF Front", "Lineart", 300, kA6, 1, Library::None, {}, {1}, 0},
      {"line art, the host converts", 1, "ADF Front", "Lineart", 300, kA6, 1, Library::Standin, {}, {1}, 0},
      {"colour without libimgforge", 2, "ADF Front", "Color", 200, kA6, 1, Library::None, {}, {1}, 0},
      {"JPEG 444",
       0,
       "ADF Duplex",
       "Color",
       300,
       kA6,
       1,
       Library::Package,
       {"--jpeg=yes", "--jpeg-type", "444", "--jpeg-quality", "7"},
       {1, 2},
       4},
      {"JPEG 422",
       0,
       "ADF Front",
       "Color",
       300,
       kA6,
       1,
       Library::Package,
       {"--jpeg=yes", "--jpeg-type", "422", "--jpeg-quality", "7"},
       {1},
       4},
      {"JPEG 411, grey by the scanner",
       0,
       "ADF Front",
       "Gray",
       300,
       kA6,
       1,
       Library::None,
       {"--jpeg=yes", "--jpeg-type", "411", "--jpeg-quality", "7"},
       {1},
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(c.row, c.sheets, c.paper, c.dpi);
    std::vector<std::string> options = {"--source", c.source, "--mode", c.mode, "--resolution", std::to_string(c.dpi)};
    // The feeder cuts the paper size; the flatbed its area, once.
    if (std::string(c.source) != "Flatbed") {
      options.insert(options.end(), {"--paper-size", c.paper.name});
      if (c.library != Library::None) options.push_back("--page-auto=no");
    } else
      options.insert(options.end(), {"-x", std::to_string(c.paper.widthMm), "-y", std::to_string(c.paper.heightMm),
                                     "--batch-count=1"});
    options.insert(options.end(), c.extra.begin(), c.extra.end());
    auto r = Scanimage(Batch(options), c.library);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), static_cast<int>(c.numbers.size())) << r.err;
    for (size_t i = 0; i < c.numbers.size(); ++i) {
      dravn_pages::Image got = Scanned(static_cast<int>(i) + 1);
      dravn_pages::Image expected = Expected(c.paper, c.dpi, c.numbers[i], c.mode);
      ASSERT_EQ(got.channels, expected.channels);
      const bool jpeg = c.meanLimit > 0;
      // The page as the window cut it: JPEG keeps whole blocks.
      EXPECT_LE(std::abs(got.width - expected.width), jpeg ? 32 : 0) << "page " << i + 1;
      EXPECT_LE(std::abs(got.height - expected.height), jpeg ? 8 : 0) << "page " << i + 1;
      dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, c.dpi / 6);
      if (jpeg) {
        EXPECT_LT(diff.meanAbs, c.meanLimit) << "page " << i + 1;
        EXPECT_LT(diff.maxBlock, 12) << "page " << i + 1;
      } else {
        EXPECT_EQ(diff.meanAbs, 0) << "page " << i + 1;
      }
    }
  }
}

// A JPEG page is the window the scanner scanned, coded whole: the 444
// window is widened to whole 8-pixel blocks, every window is cut to whole
// rows of 8 lines, and 422 and 411 keep the width asked for. The page has
// the size the parameters announce, and the fed page to its last column.
TEST_F(CorvaneScanE2E, JpegPagesAreTheScannedWindow) {
  const struct {
    const char* type;
    int dpi;
    int width, height;
  } cases[] = {{"444", 100, 832, 1168}, {"422", 100, 826, 1168}, {"411", 200, 1653, 2336}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    TearDown();
    SetUp();
    Feed(0, 1, kA4, c.dpi);
    auto r = Scanimage(Batch({"--source", "ADF Front", "--mode", "Color", "--resolution", std::to_string(c.dpi),
                              "--paper-size", "A4", "--page-auto=no", "--jpeg=yes", "--jpeg-type", c.type,
                              "--jpeg-quality", "7"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), 1);
    const std::string header =
        "P6\n# SANE data follows\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n255\n";
    const std::string file = ReadFile(m_dir + "/out/page1.pnm");
    ASSERT_EQ(file.compare(0, header.size(), header), 0) << file.substr(0, 40);
    EXPECT_EQ(file.size(), header.size() + 3u * c.width * c.height);
    dravn_pages::PageDiff diff = dravn_pages::ComparePages(Scanned(1), Expected(kA4, c.dpi, 1, "Color"), c.dpi / 6);
    EXPECT_LT(diff.meanAbs, 4);
    // The simulated scanner subsamples colour: a saturated box at 100 dpi
    // costs its blocks more than at 300.
    EXPECT_LT(diff.maxBlock, 20);
  }
}

// The feeder scans as far as the sheet goes: a Legal sheet comes whole with
// Legal chosen, an A4 sheet ends with the sheet.
TEST_F(CorvaneScanE2E, LegalPaperComesAsLongAsTheSheet) {
  const PaperSize kLegal{"Legal", 216, 355.6};
  for (const PaperSize sheet : {kLegal, kA4}) {
    SCOPED_TRACE(sheet.name);
    TearDown();
    SetUp();
    Feed(0, 1, sheet, 100);
    auto r = Scanimage(Batch({"--source", "ADF Front", "--mode", "Color", "--resolution", "100", "--paper-size",
                              "Legal", "--page-auto=no"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), 1);
    dravn_pages::Image got = Scanned(1);
    EXPECT_EQ(got.width, dravn_pages::PixelsOf(kLegal.widthMm, 100));
    EXPECT_EQ(got.height, dravn_pages::PixelsOf(sheet.heightMm, 100));
    if (sheet.heightMm == kLegal.heightMm) {
      EXPECT_EQ(dravn_pages::ComparePages(got, Expected(kLegal, 100, 1, "Color"), 16).meanAbs, 0);
    }
  }
}

// What the page steps ask of libimgforge, as the stand-in records it.
TEST_F(CorvaneScanE2E, LibraryRequestsAsRecorded) {
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::string requests;
  } cases[] = {
      {"line art: dropout red, SDTC low, edge emphasis high",
       {"--mode", "Lineart", "--threshold", "100", "--dropoutcolor", "Red", "--bw-sdtc=yes", "--bw-sdtc-variance",
        "Low", "--edge-processing", "Emphasis high"},
       "fsip_DropoutColorEx type=2 white=1 output=0\n"
       "  binarization method=0x1003 threshold=100 dither=8x8\n"
       "  sdtc 36,7,4,128,28,28,2\n"
       "  device 20,2,2,200,40\n"
       "  emphasis 2,1,2,0,1\n"},
      {"line art: smoothing before the threshold",
       {"--mode", "Lineart", "--edge-processing", "Smoothing"},
       "fsip_DropoutColorEx type=1 white=1 output=0\n"
       "  binarization method=0x1000 threshold=128 dither=8x8\n"
       "  device 20,2,2,200,40\n"
       "  emphasis 4,0,0,0,1\n"},
      {"halftone: diffusion",
       {"--mode", "Halftone", "--ht-type", "Diffution"},
       "fsip_DropoutColorEx type=1 white=1 output=0\n"  // the default dropout, white
       "  binarization method=0x2 threshold=128 dither=8x8\n"
       "  device 20,2,2,200,40\n"
       "  emphasis 0,3,0,0,1\n"},
      {"grey: dropout green",
       {"--mode", "Gray", "--dropoutcolor", "Green"},
       "fsip_DropoutColorEx type=3 white=1 output=1\n"},
      {"colour: emphasis high",
       {"--mode", "Color", "--image-emphasis", "Emphasis high"},
       "fsip_ImageFilter option=1\n"
       "  emphasis 2,7,2,0,1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(0, 1, kA6, 100);
    std::vector<std::string> options = {"--source",     "ADF Front", "--resolution",  "100",
                                        "--paper-size", "A6",        "--page-auto=no"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    auto r = Scanimage(Batch(options), Library::Standin);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(PagesWritten(), 1);
    EXPECT_EQ(ReadFile(m_dir + "/requests"), c.requests);
  }
}

// A long custom page from the feeder comes whole.
TEST_F(CorvaneScanE2E, LongCustomPage) {
  const PaperSize kLong{"Custom", 210, 800};
  Feed(0, 1, kLong, 150);
  auto r = Scanimage(Batch({"--source", "ADF Front", "--mode", "Color", "--resolution", "150", "--page-auto=no",
                            "--paper-size", "Custom", "--page-width", "210", "--page-height", "800", "-y", "800"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(PagesWritten(), 1);
  dravn_pages::Image got = Scanned(1), expected = Expected(kLong, 150, 1, "Color");
  EXPECT_EQ(got.width, expected.width);
  EXPECT_EQ(got.height, expected.height);
  EXPECT_EQ(dravn_pages::ComparePages(got, expected, 25).meanAbs, 0);
}

// A page judged mono on the host comes back from the drop-out step with its
// lines padded to four bytes; it is delivered in the tight rows that the
// parameters announce (padded rows would shear the page in the file).
TEST_F(CorvaneScanE2E, MonoPageJudgedOnTheHostHasTightRows) {
  Feed(0, 1, kA4, 150);
  const int width = dravn_pages::PixelsOf(kA4.widthMm, 150), height = dravn_pages::PixelsOf(kA4.heightMm, 150);
  ASSERT_NE((width + 7) / 8 % 4, 0) << "the library pads these rows";
  dravn_pages::Image page{width, height, 3, {}};
  page.pixels.assign(static_cast<size_t>(width) * height * 3, 255);
  auto ink = [](int y) { return y > 200 && y < 1500 && (y / 40) % 2 == 0 && y % 40 < 12; };
  for (int y = 0; y < height; ++y)
    if (ink(y)) std::fill(page.pixels.begin() + (y * width + 150) * 3, page.pixels.begin() + (y * width + 1000) * 3, 16);
  for (int n : {1, 2}) WriteFile(m_dir + "/pages/page" + std::to_string(n) + ".pnm", dravn_pages::EncodePnm(page));
  auto r = Scanimage(Batch({"--source", "ADF Duplex", "--mode", "Color", "--resolution", "150", "--page-auto=no",
                            "--paper-size", "A4", "--auto-color-detection=yes"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(PagesWritten(), 2);
  const std::string file = ReadFile(m_dir + "/out/page1.pnm");
  const std::string header = "P4\n# SANE data follows\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  ASSERT_EQ(file.compare(0, header.size(), header), 0) << file.substr(0, 40);
  const size_t bpl = (width + 7) / 8;
  ASSERT_EQ(file.size(), header.size() + bpl * height);
  const auto bit = [&](int x, int y) { return (file[header.size() + y * bpl + x / 8] >> (7 - x % 8)) & 1; };
  for (int y : {100, 205, 241, 245, 255, 1600})
    for (int x : {100, 500, 990, 1100}) EXPECT_EQ(bit(x, y), ink(y) && x >= 150 && x < 1000 ? 1 : 0) << x << "," << y;
}

struct FaultCase {
  const char* name;
  int sheets;
  const char* extra;
  int pages;
  int exitCode;
  const char* message;
};

TEST_F(CorvaneScanE2E, FaultsEndTheBatch) {
  const FaultCase cases[] = {
      {"no paper at start", 0, "", 0, SANE_STATUS_NO_DOCS, "Document feeder out of documents"},
      {"cover open at start", 2, "set cover=open\n", 0, SANE_STATUS_COVER_OPEN, "Scanner cover is open"},
      {"no paper after sheet 2", 2, "", 2, 0, "Document feeder out of documents"},
      {"jam in sheet 2 of 3", 3, "set jam_at=2\n", 1, SANE_STATUS_JAMMED, "Document feeder jammed"},
      {"cover opened in sheet 2", 3, "set cover_open_at=2\n", 1, SANE_STATUS_COVER_OPEN, "Scanner cover is open"},
      {"double feed in sheet 1", 2, "set double_feed_at=1\n", 0, SANE_STATUS_JAMMED, "Document feeder jammed"},
      {"stop at the device in sheet 2", 2, "set stop_at=2\n", 1, SANE_STATUS_CANCELLED, "Operation was cancel"},
      {"busy at open and in each sheet", 2, "set busy=5\n", 2, 0, "Batch terminated, 2 pages"},
      {"duplex back not yet there", 2, "set back_lag=3\n", 2, 0, "Batch terminated, 2 pages"},
      {"device gone in sheet 2", 3, "set gone_at=2\n", 1, SANE_STATUS_IO_ERROR, "Error during device I/O"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(0, c.sheets, kA6, 150, c.extra);
    auto r = Scanimage(Batch(
        {"--source", "ADF Front", "--resolution", "150", "--mode", "Color", "--page-auto=no", "--paper-size", "A6"}));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(PagesWritten(), c.pages) << r.err;
  }
}

TEST_F(CorvaneScanE2E, WrongIdentityIsUnsupported) {
  for (const char* extra : {"set vendor=OTHERCO\n", "set inquiry_product=DocuvaneRK70\n"}) {
    SCOPED_TRACE(extra);
    TearDown();
    SetUp();
    Feed(0, 1, kA6, 150, extra);
    auto r = Scanimage(Batch({"--source", "ADF Front"}));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Operation not supported"), std::string::npos) << r.err;
  }
}

TEST_F(CorvaneScanE2E, InterruptedScan) {
  Feed(0, 3, kA6, 150);
  // As the second sheet is asked for (its SCAN command block), once the
  // first page is written.
  auto secondSheet = [](const std::string& transcript) {
    const int first = dravn_scan_e2e::TransferAfter(transcript, {" bulk out ", kScanBlock});
    return first < 0 ? -1 : dravn_scan_e2e::TransferAfter(transcript, {" bulk out ", kScanBlock}, first);
  };
  dravn_test::RunResult r;
  ASSERT_NO_FATAL_FAILURE(Interrupted(
      Argv(Batch({"--source", "ADF Front", "--resolution", "150", "--page-auto=no", "--paper-size", "A6"}), {}),
      {secondSheet, m_dir + "/out/page1.pnm", "set page_ms=700\n"}, &r));
  EXPECT_EQ(r.exitCode, SANE_STATUS_CANCELLED) << r.err;
  EXPECT_GE(PagesWritten(), 1);
  EXPECT_LE(PagesWritten(), 2);
}

TEST_F(CorvaneScanE2E, ScanimageConformanceTest) {
  Feed(2, 2, kA6, 150);
  auto r = Scanimage({"--source", "ADF Duplex", "--resolution", "150", "--page-auto=no", "--paper-size", "A6", "-T"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("FAIL"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("PASS"), std::string::npos) << r.err;
}

}  // namespace
