// The real scanimage scanning a simulated Brenna scanner through the main
// backend, which forwards it to the second backend: flatbed and feeder
// batches whose pages are compared with the synthetic pages fed, the
// command sequence the scanner sees, faults, and the front end's own
// conformance test. Each run has its own IPC and mount namespaces.
#include <gtest/gtest.h>
#include <sane/sane.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "brenna_scan_func.h"
#include "model_catalog.h"
#include "scan_e2e_support.h"
#include "selko2_pipeline.h"
#include "test_pages.h"
#include "test_support.h"
#include "tone_curve_tenths.h"

using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

using dravn_scan_e2e::PaperSize;

constexpr PaperSize kA4{"A4", 210, 297}, kA5{"A5", 148, 210};

// Command blocks as the transcript shows them: a page's start (e6, data
// type 00) and a read of its scan data (a8, data type 00 00).
const std::string kPageStart = "e64567000000000000000000", kChunkRead = "a845670000";

class BrennaScanE2E : public dravn_scan_e2e::ScanimageE2E {
 protected:
  BrennaScanE2E() : ScanimageE2E({"brenna", &dravn::kBrennaModels[0]}) {}

  // Sheets of synthetic pages in the feeder, rendered at `dpi`.
  void Feed(int sheets, const PaperSize& paper, int dpi, bool colour, const std::string& extra = "") {
    WritePages(sheets, paper, dpi, colour);
    WriteScenario(FeedSettings(sheets, dpi) + extra);
  }

  // BRENNA_TEST_DEBUG, when set, is the backend's debug level.
  std::map<std::string, std::string> Env() override {
    auto env = ScanimageE2E::Env();
    env["DRAVN_DEBUG"] = getenv("BRENNA_TEST_DEBUG") ? getenv("BRENNA_TEST_DEBUG") : "";
    return env;
  }

  // Command blocks sent (by control transfer), as opcode and the unit or
  // data-type bytes that tell them apart.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) {
      if (line.find(" control out ") == std::string::npos || line.find(" len=12 ") == std::string::npos) continue;
      if (line.find("-> 12") == std::string::npos) continue;
      std::string hex = line.substr(line.rfind(' ') + 1);
      if (hex.size() != 24) continue;
      const std::string op = hex.substr(0, 2);
      if (op == "e6" || op == "e7" || op == "E6" || op == "E7")
        out.push_back(op + ":" + hex.substr(22, 2));
      else if (op == "a8" || op == "aa" || op == "A8" || op == "AA")
        out.push_back(op + ":" + hex.substr(6, 4));
      else
        out.push_back(op);
    }
    return out;
  }
  int Count(const std::string& command) {
    int n = 0;
    for (const auto& c : Sent()) n += c == command;
    return n;
  }
  void NoColourShift() { WriteFile(m_dir + "/etc/fsip.conf", "ColorShiftCorrection 0\n"); }
};

// The fed page as the pipeline should deliver it: the optional reference
// fringe filter, the tone curve every Brenna page goes through (with the
// brightness and contrast chosen), the mode.
dravn_pages::Image Expected(const PaperSize& paper, int dpi, int number, const char* mode, bool fringe,
                            int brightness = 0, int contrast = 0) {
  dravn_pages::Image page = dravn_scan_e2e::Rendered(paper, dpi, true, number);
  if (fringe) {
    _P2IIMG p{};
    p.pImageData = page.pixels.data();
    p.nBitsPerPixel = 24;
    p.nWidth = page.width, p.nHeight = page.height, p.nBytesPerLine = page.width * 3;
    p.nImageSize = p.nBytesPerLine * p.nHeight;
    _P2IIMG out{};
    CBrennaScanFunc::Tavrin_EraseClrBdr(&p, &out);
  }
  unsigned char lut[256];
  kelo_steps::ApplyLutContrastBrightness(brightness, contrast, 230, 10, 16, lut, "test");
  for (auto& v : page.pixels) v = lut[v];
  return dravn_scan_e2e::InMode(std::move(page), mode);
}

struct BatchCase {
  const char* name;
  const char* source;
  const char* mode;
  int dpi;
  PaperSize paper;
  int sheets;
  int pageDpi;
  bool fringe;  // the colour-shift correction stays on
  std::vector<std::string> extra;
  std::vector<int> numbers;
  double meanLimit;
  double blockLimit;
  int brightness = 0, contrast = 0;  // as the options set them
};

TEST_F(BrennaScanE2E, BatchesArriveAsFed) {
  const BatchCase cases[] = {
      {"A4 front colour 300 dpi", "Adf-front", "Color", 300, kA4, 2, 300, false, {}, {1, 3}, 4, 20},
      // The scanner reads at 300 dpi; 150 dpi pages are its bicubic reduction.
      {"A5 duplex colour 150 dpi", "Adf-duplex", "Color", 150, kA5, 2, 300, false, {}, {1, 2, 3, 4}, 16, 48},
      {"A5 back colour 600 dpi", "Adf-back", "Color", 600, kA5, 1, 600, false, {}, {2}, 4, 20},
      {"A5 front with the fringe filter", "Adf-front", "Color", 300, kA5, 1, 300, true, {}, {1}, 4, 20},
      {"A5 front, automatic feed off", "Adf-front", "Color", 300, kA5, 2, 300, false, {"--autofeed=no"}, {1, 3}, 4, 20},
      {"A5 front in grey, 200 dpi", "Adf-front", "Gray", 200, kA5, 1, 300, false, {}, {1}, 16, 48},
      {"A5 front in line art",
       "Adf-front",
       "Lineart",
       300,
       kA5,
       1,
       300,
       false,
       {"--bw-mode", "Threshold"},
       {1},
       20,
       60},
      // The family's tone curve takes them without a tone preset.
      {"A5 front, darker and with less contrast",
       "Adf-front",
       "Color",
       300,
       kA5,
       1,
       300,
       false,
       {"--brightness", "-50", "--contrast", "-20"},
       {1},
       4,
       20,
       -50,
       -20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(c.sheets, c.paper, c.pageDpi, true);
    if (!c.fringe) NoColourShift();
    std::vector<std::string> binds;
    std::vector<std::string> options = {
        "--source", c.source, "--mode", c.mode, "--resolution", std::to_string(c.dpi), "--paper-size", c.paper.name};
    options.push_back("--page-auto=no");
    options.insert(options.end(), c.extra.begin(), c.extra.end());
    if (std::string(c.mode) != "Color") binds.push_back(FullImgforge());
    auto r = Scanimage(Batch(options), binds);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), static_cast<int>(c.numbers.size())) << r.err;
    for (size_t i = 0; i < c.numbers.size(); ++i) {
      dravn_pages::Image got = Scanned(static_cast<int>(i) + 1);
      EXPECT_EQ(got.width, dravn_pages::PixelsOf(c.paper.widthMm, c.dpi));
      EXPECT_EQ(got.height, dravn_pages::PixelsOf(c.paper.heightMm, c.dpi));
      dravn_pages::Image expected =
          Expected(c.paper, c.dpi, c.numbers[i], c.mode, c.fringe, c.brightness, c.contrast);
      ASSERT_EQ(got.channels, expected.channels);
      dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, c.dpi / 6);
      EXPECT_LT(diff.meanAbs, c.meanLimit) << "page " << i + 1;
      EXPECT_LT(diff.maxBlock, c.blockLimit) << "page " << i + 1;
    }
    EXPECT_EQ(Sent().back(), "e7:02") << "the paper unit is released at the end";
  }
}

struct FaultCase {
  const char* name;
  int sheets;
  const char* extra;
  std::vector<std::string> options;
  int pages;
  int exitCode;
  const char* message;
};

TEST_F(BrennaScanE2E, FaultsEndTheBatch) {
  const std::vector<std::string> noAutofeed = {"--autofeed=no"};
  const FaultCase cases[] = {
      {"no paper at start", 0, "", {}, 0, SANE_STATUS_NO_DOCS, "Document feeder out of documents"},
      {"no paper after 2 sheets, autofeed off", 2, "", noAutofeed, 2, SANE_STATUS_GOOD, "Batch terminated, 2 pages"},
      {"cover open at start", 2, "set cover=open\n", {}, 0, SANE_STATUS_COVER_OPEN, "Scanner cover is open"},
      {"cover opened before sheet 2",
       3,
       "set cover_open_at=2\n",
       {},
       1,
       SANE_STATUS_COVER_OPEN,
       "Scanner cover is open"},
      {"jam in sheet 2", 3, "set jam_at=2\n", {}, 1, SANE_STATUS_JAMMED, "Document feeder jammed"},
      {"double feed in sheet 2",
       3,
       "set jam_at=2\nset jam_code=0x8005\n",
       {},
       1,
       SANE_STATUS_JAMMED,
       "Document feeder jammed"},
      {"all-zero first chunk of sheet 1", 2, "set zero_at=1\n", {}, 0, SANE_STATUS_JAMMED, "Document feeder jammed"},
      {"hardware fault in sheet 2",
       3,
       "set sense_at=2\nset sense_code=0x4404\n",
       {},
       1,
       SANE_STATUS_IO_ERROR,
       "Error during device I/O"},
      {"stop pressed on the device at sheet 2",
       3,
       "set cancel_at=2\n",
       {},
       1,
       SANE_STATUS_CANCELLED,
       "Operation was cancel"},
      // A page end whose sense cannot be read is no page.
      {"sense unreadable", 2, "set sense_broken=1\n", {}, 0, SANE_STATUS_IO_ERROR, "Error during device I/O"},
      {"device gone in sheet 2", 3, "set gone_at=2\n", {}, 1, SANE_STATUS_IO_ERROR, "Error during device I/O"},
      // scanimage ends with its own code when the open fails.
      {"inquiry failing thrice at open", 1, "set inquiry_fail=3\n", {}, 0, 1, "failed: Error during device I/O"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(c.sheets, kA5, 300, true, c.extra);
    NoColourShift();
    std::vector<std::string> options = {"--source", "Adf-front", "--paper-size", "A5", "--page-auto=no"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    auto r = Scanimage(Batch(options));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(PagesWritten(), c.pages) << r.err;
  }
}

// Tone presets, colour cleanup, split and merge are steps of another
// family's pipeline: they are not offered here.
TEST_F(BrennaScanE2E, OptionsWithoutAStepAreRefused) {
  Feed(1, kA5, 300, true);
  ExpectSelko2OnlyStepsRefused();
}

// The sequence the scanner sees: a batch's first page checks the paper,
// reserves the paper unit, sends window, tables and reads calibration; the
// later pages only resend the window; the paper unit goes back at the end.
TEST_F(BrennaScanE2E, CommandSequence) {
  Feed(2, kA5, 300, true);
  NoColourShift();
  auto r = Scanimage(Batch({"--source", "Adf-front", "--paper-size", "A5", "--page-auto=no"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> sent = Sent();
  // Commands up to the first page read, after the inquiry of the open.
  const std::vector<std::string> first = {"e8",      "e3",      "e6:02",   "e4", "aa:0095", "aa:0096", "aa:008b",
                                          "aa:0081", "aa:0081", "aa:0081", "e8", "a8:0060", "e6:00",   "a8:0000"};
  auto at = std::find(sent.begin(), sent.end(), "e8");
  ASSERT_NE(at, sent.end());
  EXPECT_EQ(std::vector<std::string>(at, at + static_cast<long>(first.size())), first);
  // The second page: the paper check of the thread, the window, the page.
  auto second = std::find(at, sent.end(), "e7:00");
  ASSERT_NE(second, sent.end());
  const std::vector<std::string> later = {"e7:00", "e8", "e4", "e6:00", "a8:0000"};
  EXPECT_EQ(std::vector<std::string>(second, second + static_cast<long>(later.size())), later);
  EXPECT_EQ(Count("e6:02"), 1);
  EXPECT_EQ(sent.back(), "e7:02");
  EXPECT_EQ(Count("e7:01"), 0);
}

// A stop pressed on the scanner releases unit 1 once, and the paper unit.
TEST_F(BrennaScanE2E, DeviceStopReleasesUnitOne) {
  Feed(3, kA5, 300, true, "set cancel_at=2\n");
  NoColourShift();
  auto r = Scanimage(Batch({"--source", "Adf-front", "--paper-size", "A5", "--page-auto=no"}));
  EXPECT_EQ(r.exitCode, SANE_STATUS_CANCELLED) << r.err;
  EXPECT_EQ(Count("e7:01"), 1);
  EXPECT_EQ(Sent().back(), "e7:02");
}

// The flatbed: one page per start, the paper unit reserved and released
// around each; with automatic size on a scanner that supports it the page
// goes to the black-background crop (the package's libimgforge crops it).
TEST_F(BrennaScanE2E, FlatbedPages) {
  Feed(1, kA5, 300, true, "set flatbed=" + m_dir + "/pages/page1.pnm\n");
  auto r = Scanimage({"--source", "Flatbed", "--mode", "Color", "--resolution", "300", "-x", "148", "-y", "210",
                      "--format=pnm", "-o", m_dir + "/out/page1.pnm"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  dravn_pages::Image got = Scanned(1);
  EXPECT_EQ(got.width, dravn_pages::PixelsOf(148, 300));
  EXPECT_EQ(got.height, dravn_pages::PixelsOf(210, 300));
  dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, Expected(kA5, 300, 1, "Color", false), 50);
  EXPECT_LT(diff.meanAbs, 4);
  EXPECT_EQ(Count("e6:02"), 1);
  EXPECT_EQ(Count("e7:02"), 1);
  EXPECT_EQ(Count("aa:0095"), 0) << "no feeder settings for the glass";
}

TEST_F(BrennaScanE2E, ScanimageConformanceTest) {
  Feed(4, kA5, 300, true);
  NoColourShift();
  auto r = Scanimage({"-T", "--source", "Adf-front", "--paper-size", "A5", "--page-auto=no"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

// A page turned clockwise by quarter turns.
dravn_pages::Image Turned(const dravn_pages::Image& in, int degrees) {
  dravn_pages::Image out = in;
  for (int turn = 0; turn < degrees / 90; ++turn) {
    dravn_pages::Image t{out.height, out.width, out.channels, std::vector<uint8_t>(out.pixels.size())};
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x)
        for (int c = 0; c < out.channels; ++c)
          t.Row(x)[(out.height - 1 - y) * out.channels + c] = out.Row(y)[x * out.channels + c];
    out = t;
  }
  return out;
}

struct MatrixCase {
  const char* name;
  std::vector<std::string> options;
  int sheets;
  std::vector<int> blankPages;  // fed as white pages
  std::vector<int> numbers;     // delivered, in order
  int rotation;
  bool standin;  // the grey/line-art and blank-page stand-in of libimgforge
};

TEST_F(BrennaScanE2E, PipelineMatrix) {
  const MatrixCase cases[] = {
      {"rotation 90", {"--rotation", "90"}, 1, {}, {1}, 90, false},
      {"rotation 180", {"--rotation", "180"}, 1, {}, {1}, 180, false},
      {"rotation 270 in grey", {"--rotation", "270", "--mode", "Gray"}, 1, {}, {1}, 270, true},
      {"blank sheet 2 skipped", {"--blank-page-skip=yes"}, 3, {3}, {1, 5}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(c.sheets, kA5, 300, true);
    for (int n : c.blankPages) unlink((m_dir + "/pages/page" + std::to_string(n) + ".pnm").c_str());
    NoColourShift();
    std::vector<std::string> options = {"--source",     "Adf-front", "--resolution",  "300",
                                        "--paper-size", "A5",        "--page-auto=no"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    std::vector<std::string> binds;
    if (c.standin) binds.push_back(FullImgforge());
    auto r = Scanimage(Batch(options), binds);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), static_cast<int>(c.numbers.size())) << r.err;
    const bool grey = std::find(c.options.begin(), c.options.end(), "Gray") != c.options.end();
    for (size_t i = 0; i < c.numbers.size(); ++i) {
      dravn_pages::Image got = Scanned(static_cast<int>(i) + 1);
      dravn_pages::Image expected = Turned(Expected(kA5, 300, c.numbers[i], "Color", false), c.rotation);
      if (grey) expected = dravn_pages::ToGrey(expected);
      EXPECT_EQ(got.width, expected.width);
      EXPECT_EQ(got.height, expected.height);
      ASSERT_EQ(got.channels, expected.channels);
      dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, 50);
      EXPECT_LT(diff.meanAbs, 5) << "page " << i + 1;
      EXPECT_LT(diff.maxBlock, 24) << "page " << i + 1;
    }
  }
}

// With SaveDevImg on, each page as the scanner sent it is kept as a JFIF
// file that decodes to the page's frame.
TEST_F(BrennaScanE2E, DevicePagesAreDumped) {
  Feed(2, kA5, 300, true);
  WriteFile(m_dir + "/etc/fsip.conf", "SaveDevImg 1\nColorShiftCorrection 0\n");
  auto r = Scanimage(Batch({"--source", "Adf-front", "--paper-size", "A5", "--page-auto=no"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int dumps = 0;
  for (const auto& name : dravn_test::ListDir(m_dir + "/log")) {
    if (name.rfind("DevImg_", 0) != 0) continue;
    ++dumps;
    const std::string jpeg = ReadFile(m_dir + "/log/" + name);
    ASSERT_GT(jpeg.size(), 607u);
    EXPECT_EQ(jpeg.compare(0, 4, "\xFF\xD8\xFF\xE0"), 0);
    struct stat st;
    ASSERT_EQ(stat((m_dir + "/log/" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0022, 0u) << "not writable by others";
  }
  EXPECT_EQ(dumps, 2);
}

// Interrupted while a page is on its way, or between pages: the batch ends
// cancelled, the scan thread is joined, the scanner is told to stop.
TEST_F(BrennaScanE2E, InterruptedScan) {
  for (const char* when : {"mid-page", "between pages"}) {
    SCOPED_TRACE(when);
    TearDown();
    SetUp();
    const bool midPage = std::string(when) == "mid-page";
    Feed(3, kA5, 300, true);
    NoColourShift();
    // Mid-page: as the first page's first chunk is asked for. Between pages:
    // as the second page's is, once the first page is written.
    auto chunk = [midPage](const std::string& transcript) {
      const int page = dravn_scan_e2e::TransferAfter(transcript, {" control out ", kPageStart});
      const int at = midPage ? page : dravn_scan_e2e::TransferAfter(transcript, {" control out ", kPageStart}, page);
      return at < 0 ? -1 : dravn_scan_e2e::TransferAfter(transcript, {" control out ", kChunkRead}, at);
    };
    dravn_test::RunResult r;
    ASSERT_NO_FATAL_FAILURE(Interrupted(
        Argv(Batch({"--source", "Adf-front", "--paper-size", "A5", "--page-auto=no"}), {}),
        {chunk, midPage ? "" : m_dir + "/out/page1.pnm", midPage ? "set chunk_ms=150\n" : "set chunk_ms=40\n"}, &r));
    EXPECT_EQ(r.exitCode, SANE_STATUS_CANCELLED) << r.err;
    if (!midPage) {
      EXPECT_GE(PagesWritten(), 1);
    }
    EXPECT_LE(PagesWritten(), 3);
    EXPECT_EQ(Count("e6:02"), 1) << "one batch";
  }
}

// Automatic page size: the crop each source asks of libimgforge (the
// stand-in's log), and the page it hands back. On the glass of a scanner
// that supports it, the black-background crop cuts the page from the black
// lid; from the feeder the white-background crop of each face.
TEST_F(BrennaScanE2E, AutomaticPageSize) {
  struct Case {
    const char* name;
    const char* source;
    const char* extra;
    const char* asked;
    int pages;
  } cases[] = {
      {"flatbed, black lid", "Flatbed", "set autosize=1\nset backing=black\n", "0x2000 0\n", 1},
      {"feeder front", "Adf-front", "", "0x4000 1\n", 1},
      {"feeder back", "Adf-back", "", "0x4000 2\n", 1},
      {"feeder duplex", "Adf-duplex", "", "0x4000 1\n0x4000 2\n", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(1, kA5, 300, true, std::string(c.extra) + "set flatbed=" + m_dir + "/pages/page1.pnm\n");
    NoColourShift();
    auto env = Env();
    std::vector<std::string> options = {"--source", c.source, "--resolution", "300", "--page-auto=yes"};
    if (std::string(c.source) == "Flatbed") options.push_back("--batch-count=1");  // the glass never runs out
    const std::string lib = FullImgforge();
    std::vector<std::string> argv = Argv(Batch(options), {lib});
    argv.insert(argv.begin(), {"env", "PIPELINE_STANDIN_CROP_LOG=" + m_dir + "/crops"});
    auto r = dravn_test::Run(argv, env, 300);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), c.pages) << r.err;
    EXPECT_EQ(ReadFile(m_dir + "/crops"), c.asked);
    dravn_pages::Image got = Scanned(1);
    if (std::string(c.source) == "Flatbed") {
      EXPECT_NEAR(got.width, dravn_pages::PixelsOf(148, 300), 2);
      EXPECT_NEAR(got.height, dravn_pages::PixelsOf(210, 300), 2);
      dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, Expected(kA5, 300, 1, "Color", false), 50);
      EXPECT_LT(diff.meanAbs, 5);
    } else {
      // The window grew by its margins (0.14 and 0.4 inch at 300 dpi).
      EXPECT_GE(got.width, dravn_pages::PixelsOf(148, 300) + 42);
      EXPECT_GE(got.height, dravn_pages::PixelsOf(210, 300));
    }
  }
}

}  // namespace
