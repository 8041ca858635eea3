// The real scanimage scanning a simulated Selko scanner through the main
// backend, which forwards it to the second backend: batches whose pages are
// compared with the synthetic pages fed, the command transcript, faults, an
// interrupted scan and the front end's own conformance test. Each run has its
// own IPC and mount namespaces.
#include <gtest/gtest.h>
#include <sane/sane.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

constexpr PaperSize kA4{"A4", 210, 297}, kA5{"A5", 148, 210}, kA6{"A6", 105, 148}, kCustom{"Custom", 120, 160};

// As the transcript shows them: the header of a "read image" command, and
// the status of the piece that ends a face with more to come.
const std::string kReadImage = "822806", kPageEnded = "2801";

class SelkoScanE2E : public dravn_scan_e2e::ScanimageE2E {
 protected:
  SelkoScanE2E() : ScanimageE2E({"selko", &dravn::kSelkoModels[0]}) {}

  // Sheets of synthetic pages in the hopper, rendered at `dpi`; the pages
  // listed in `blank` are white.
  void Feed(int sheets, const PaperSize& paper, int dpi, bool colour, const std::string& extra = "",
            const std::vector<int>& blank = {}) {
    WritePages(sheets, paper, dpi, colour, blank);
    WriteScenario(FeedSettings(sheets, dpi) + extra);
  }

  // Interrupted as sheet `sheet`'s first image read goes out (the read
  // after the status that ended the sheet before), and not before page
  // `written` is written (0: no page).
  void Interrupt(const std::vector<std::string>& argv, int sheet, int written, const std::string& pace) {
    auto read = [sheet](const std::string& transcript) {
      int after = 0;
      for (int s = 1; s < sheet && after >= 0; ++s)
        after = dravn_scan_e2e::TransferAfter(transcript, {" bulk in ", kPageEnded}, after);
      return after < 0 ? -1 : dravn_scan_e2e::TransferAfter(transcript, {" bulk out ", kReadImage}, after);
    };
    dravn_test::RunResult r;
    const std::string page = written > 0 ? m_dir + "/out/page" + std::to_string(written) + ".pnm" : "";
    ASSERT_NO_FATAL_FAILURE(Interrupted(argv, {read, page, pace}, &r));
    EXPECT_EQ(r.exitCode, SANE_STATUS_CANCELLED) << r.err;
    EXPECT_NE(r.err.find("Operation was cancel"), std::string::npos) << r.err;
  }

  // What the host sent, in order: "HS" for a handshake, the code and
  // sub-code of each header ("2803"), "P:" and the hex of a parameter record.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) {
      if (line.find(" bulk out ") == std::string::npos) continue;
      const std::string hex = line.substr(line.rfind(' ') + 1);
      if (line.find(" len=2 ") != std::string::npos && hex == "9717") out.push_back("HS");
      if (line.find(" len=8 ") != std::string::npos && hex.size() == 16 && hex.compare(0, 2, "82") == 0)
        out.push_back(hex.substr(2, 4));
      if (line.find(" len=64 ") != std::string::npos) out.push_back("P:" + hex);
    }
    return out;
  }
  int Count(const std::string& what) {
    int n = 0;
    for (const auto& c : Sent()) n += c == what;
    return n;
  }
  std::string Record() {
    for (const auto& c : Sent())
      if (c.compare(0, 2, "P:") == 0) return c.substr(2);
    return "";
  }
};

// The page as the pipeline makes it of a fed page: the device adjustment,
// the fixed tone curve (shadow 10, highlight 230, gamma 1.6) with the
// brightness and contrast chosen, the mode.
dravn_pages::Image Expected(const PaperSize& paper, int dpi, bool colourPage, int number, const std::string& mode,
                            int brightness = 0, int contrast = 0) {
  dravn_pages::Image page = dravn_scan_e2e::Rendered(paper, dpi, colourPage, number);
  unsigned char tone[256];
  kelo_steps::ApplyLutContrastBrightness(brightness, contrast, 230, 10, 16, tone, "test");
  for (auto& v : page.pixels) v = tone[DeviceAdjustLUT_Selko2[v]];
  return dravn_scan_e2e::InMode(std::move(page), mode);
}

// A quarter or half turn of a page, as the rotation option asks for it.
dravn_pages::Image Turned(const dravn_pages::Image& in, int degrees) {
  if (degrees == 0) return in;
  dravn_pages::Image out = in;
  const bool swap = degrees != 180;
  out.width = swap ? in.height : in.width;
  out.height = swap ? in.width : in.height;
  const int c = in.channels;
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x) {
      int tx = x, ty = y;
      if (degrees == 90) tx = in.height - 1 - y, ty = x;
      if (degrees == 180) tx = in.width - 1 - x, ty = in.height - 1 - y;
      if (degrees == 270) tx = y, ty = in.width - 1 - x;
      for (int k = 0; k < c; ++k)
        out.pixels[(static_cast<size_t>(ty) * out.width + tx) * c + k] =
            in.pixels[(static_cast<size_t>(y) * in.width + x) * c + k];
    }
  return out;
}

struct BatchCase {
  const char* name;
  std::vector<std::string> options;
  std::string mode;
  int dpi;
  PaperSize paper;
  int sheets;
  int pageDpi;  // the pages' resolution: the scanner reads at 300 or 600
  int rotation;
  std::vector<int> numbers;  // page numbers in delivery order
  double meanLimit;
  double blockLimit;
  int brightness = 0, contrast = 0;  // as the options set them
};

TEST_F(SelkoScanE2E, BatchesArriveAsFed) {
  const BatchCase cases[] = {
      {"A4 front colour 300 dpi", {"--source", "Adf-front"}, "Color", 300, kA4, 2, 300, 0, {1, 3}, 3, 16},
      {"A5 duplex colour 150 dpi", {"--source", "Adf-duplex"}, "Color", 150, kA5, 2, 300, 0, {1, 2, 3, 4}, 6, 24},
      {"A5 back grey 300 dpi", {"--source", "Adf-back"}, "Gray", 300, kA5, 2, 300, 0, {2, 4}, 3, 16},
      {"A5 front line art 300 dpi",
       {"--source", "Adf-front", "--bw-mode", "Threshold"},
       "Lineart",
       300,
       kA5,
       1,
       300,
       0,
       {1},
       20,
       60},
      {"A6 duplex colour 600 dpi", {"--source", "Adf-duplex"}, "Color", 600, kA6, 1, 600, 0, {1, 2}, 3, 16},
      {"A5 duplex without automatic feed, 200 dpi",
       {"--source", "Adf-duplex", "--autofeed=no"},
       "Color",
       200,
       kA5,
       2,
       300,
       0,
       {1, 2, 3, 4},
       6,
       24},
      {"custom 120 x 160 mm front 300 dpi",
       {"--source", "Adf-front", "--page-width", "120", "--page-height", "160"},
       "Color",
       300,
       kCustom,
       2,
       300,
       0,
       {1, 3},
       3,
       16},
      {"A6 front turned 90", {"--source", "Adf-front", "--rotation", "90"}, "Color", 300, kA6, 1, 300, 90, {1}, 3, 16},
      {"A6 back turned 180", {"--source", "Adf-back", "--rotation", "180"}, "Color", 300, kA6, 1, 300, 180, {2}, 3, 16},
      {"A6 grey turned 270 at 150 dpi",
       {"--source", "Adf-front", "--rotation", "270"},
       "Gray",
       150,
       kA6,
       1,
       300,
       270,
       {1},
       6,
       24},
      // The family's tone curve takes them without a tone preset.
      {"A6 colour, brighter and with more contrast",
       {"--source", "Adf-front", "--brightness", "40", "--contrast", "30"},
       "Color",
       300,
       kA6,
       1,
       300,
       0,
       {1},
       3,
       16,
       40,
       30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(c.sheets, c.paper, c.pageDpi, true);
    std::vector<std::string> binds;
    std::vector<std::string> options = {"--mode",       c.mode,       "--resolution",  std::to_string(c.dpi),
                                        "--paper-size", c.paper.name, "--page-auto=no"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    if (c.mode != "Color") binds.push_back(FullImgforge());
    auto r = Scanimage(Batch(options), binds);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Batch terminated, " + std::to_string(c.numbers.size()) + " page"), std::string::npos)
        << r.err;
    ASSERT_EQ(PagesWritten(), static_cast<int>(c.numbers.size()));
    for (size_t i = 0; i < c.numbers.size(); ++i) {
      dravn_pages::Image got = Scanned(static_cast<int>(i) + 1);
      dravn_pages::Image expected =
          Turned(Expected(c.paper, c.dpi, true, c.numbers[i], c.mode, c.brightness, c.contrast), c.rotation);
      EXPECT_EQ(got.width, expected.width);
      EXPECT_EQ(got.height, expected.height);
      ASSERT_EQ(got.channels, expected.channels);
      dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, std::max(8, c.dpi / 6));
      EXPECT_LT(diff.meanAbs, c.meanLimit) << "page " << i + 1;
      EXPECT_LT(diff.maxBlock, c.blockLimit) << "page " << i + 1;
    }
    // Each use of the scanner is opened by a handshake and ended.
    EXPECT_EQ(Count("HS"), Count("141d")) << c.name;
  }
}

TEST_F(SelkoScanE2E, BlankPagesAreSkipped) {
  Feed(2, kA6, 300, true, "", {2, 3});
  auto r = Scanimage(Batch({"--source", "Adf-duplex", "--paper-size", "A6", "--page-auto=no", "--blank-page-skip=yes"}),
                     {FullImgforge()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(PagesWritten(), 2);
  for (int i = 0; i < 2; ++i) {
    dravn_pages::PageDiff diff =
        dravn_pages::ComparePages(Scanned(i + 1), Expected(kA6, 200, true, i == 0 ? 1 : 4, "Color"), 33);
    EXPECT_LT(diff.meanAbs, 6) << i;
  }
}

// Bytes of the parameter record as hex, little-endian words.
std::string Hex32(uint32_t v) {
  char s[9];
  snprintf(s, sizeof s, "%02x%02x%02x%02x", v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF, v >> 24);
  return s;
}

TEST_F(SelkoScanE2E, ParameterRecordFollowsTheOptions) {
  // A4 is 9922 device units wide and 14033 long, A5 6992 by 9922, A6 4961
  // by 6992; the threshold is the option's default, 128.
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string record;
  } cases[] = {
      {"A4 front 300 dpi, centred by 1275 - 1240",
       {"--source", "Adf-front", "--resolution", "300", "--paper-size", "A4", "--page-auto=no"},
       "000000000000004680000000" + Hex32(0x40000) + Hex32(0) + Hex32(300) + Hex32(300) + Hex32(35) + Hex32(0) +
           Hex32(2480) + Hex32(3508)},
      {"A5 duplex 400 dpi read at 600, centred by 2550 - 1748, one page per start",
       {"--source", "Adf-duplex", "--resolution", "400", "--paper-size", "A5", "--page-auto=no", "--autofeed=no"},
       "000101000000004680000000" + Hex32(0x40000) + Hex32(2) + Hex32(600) + Hex32(600) + Hex32(802) + Hex32(0) +
           Hex32(3496) + Hex32(4961)},
      {"automatic size at 200 dpi: the page plus its margin, held to the widest window",
       {"--source", "Adf-back", "--resolution", "200", "--paper-size", "A4", "--page-auto=yes"},
       "000100000100004680000000" + Hex32(0x40000) + Hex32(0) + Hex32(300) + Hex32(300) + Hex32(0) + Hex32(0) +
           Hex32(2592) + Hex32(3508)},
      {"multifeed detection with its threshold",
       {"--source", "Adf-front", "--resolution", "300", "--paper-size", "A6", "--page-auto=no", "--multifeed-detection",
        "Stop", "--mf-overlapping=yes"},
       "000000010000004680000000" + Hex32(0x40000) + Hex32(0) + Hex32(300) + Hex32(300) + Hex32(1275 - 1240 / 2) +
           Hex32(0) + Hex32(1240) + Hex32(1748)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(1, kA6, 300, true);
    auto r = Scanimage(Batch(c.options));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Record(), c.record + std::string(40, '0'));
  }
}

TEST_F(SelkoScanE2E, CommandsAroundEachBatch) {
  // Automatic feed: the name query at open, the state at the first page,
  // parameters and start once, then the pages.
  Feed(2, kA6, 300, true);
  auto r = Scanimage(Batch({"--source", "Adf-front", "--paper-size", "A6", "--page-auto=no"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> opening = {"HS", "2803", "141d", "HS", "2804", "141d", "HS", "2804", "2a0b"};
  std::vector<std::string> sent = Sent();
  ASSERT_GE(sent.size(), opening.size() + 2);
  EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + opening.size()), opening);
  EXPECT_EQ(sent[opening.size() + 1], "1407");
  EXPECT_EQ(Count("1407"), 1);
  EXPECT_EQ(Count("2a0b"), 1);
  EXPECT_EQ(Count("1408"), 0) << "no stop once the scanner said no further page";
  EXPECT_EQ(sent.back(), "141d");

  // Without automatic feed: parameters and start for each page.
  TearDown();
  SetUp();
  Feed(3, kA6, 300, true);
  r = Scanimage(Batch({"--source", "Adf-front", "--paper-size", "A6", "--page-auto=no", "--autofeed=no"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(PagesWritten(), 3);
  EXPECT_EQ(Count("1407"), 3);
  EXPECT_EQ(Count("2a0b"), 3);
  EXPECT_EQ(Count("1408"), 0);
}

struct FaultCase {
  const char* name;
  int sheets;
  const char* extra;
  std::vector<std::string> options;
  int pages;
  int exitCode;  // scanimage ends with the SANE status
  const char* message;
  int stops;  // stop commands sent
};

TEST_F(SelkoScanE2E, FaultsEndTheBatch) {
  const std::vector<std::string> none;
  const FaultCase cases[] = {
      {"empty hopper", 0, "", none, 0, SANE_STATUS_NO_DOCS, "Document feeder out of documents", 0},
      {"empty hopper without automatic feed",
       0,
       "",
       {"--autofeed=no"},
       0,
       SANE_STATUS_NO_DOCS,
       "Document feeder out of documents",
       0},
      {"cover open", 2, "set cover=open\n", none, 0, SANE_STATUS_COVER_OPEN, "Scanner cover is open", 0},
      {"jam at sheet 2 of 3", 3, "set jam_at=2\n", none, 1, SANE_STATUS_JAMMED, "Document feeder jammed", 0},
      {"device code 4 at sheet 3", 3, "set code_at=3\nset code=4\n", none, 2, SANE_STATUS_JAMMED,
       "Document feeder jammed", 0},
      {"double feed detected",
       2,
       "set double_at=2\n",
       {"--multifeed-detection", "Stop", "--mf-overlapping=yes"},
       1,
       SANE_STATUS_JAMMED,
       "Document feeder jammed",
       0},
      {"double feed detected on Stop alone",
       2,
       "set double_at=2\n",
       {"--multifeed-detection", "Stop"},
       1,
       SANE_STATUS_JAMMED,
       "Document feeder jammed",
       0},
      {"device code 5", 2, "set code_at=1\nset code=5\n", none, 0, SANE_STATUS_IO_ERROR, "Error during device I/O", 0},
      {"cover opened at sheet 2", 2, "set cover_open_at=2\n", none, 1, SANE_STATUS_COVER_OPEN, "Scanner cover is open",
       0},
      {"stop asked by the scanner at sheet 2", 3, "set stop_at=2\n", none, 1, SANE_STATUS_CANCELLED,
       "Operation was cancel", 1},
      {"device gone in sheet 2", 3, "set gone_at=2\n", none, 1, SANE_STATUS_IO_ERROR, "Error during device I/O", 0},
      {"device gone in sheet 1 without automatic feed",
       2,
       "set gone_at=1\n",
       {"--autofeed=no"},
       0,
       SANE_STATUS_IO_ERROR,
       "Error during device I/O",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(c.sheets, kA6, 300, true, c.extra);
    std::vector<std::string> options = {"--source", "Adf-front", "--paper-size", "A6", "--page-auto=no"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    auto r = Scanimage(Batch(options));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(PagesWritten(), c.pages);
    EXPECT_EQ(Count("1408"), c.stops);
  }
}

// Tone presets, colour cleanup, split and merge are steps of another
// family's pipeline: they are not offered here.
TEST_F(SelkoScanE2E, OptionsWithoutAStepAreRefused) {
  Feed(1, kA6, 300, true);
  ExpectSelko2OnlyStepsRefused();
}

TEST_F(SelkoScanE2E, OpenRefusals) {
  struct Case {
    const char* name;
    const char* extra;
    int exitCode;
    const char* message;
  } cases[] = {
      {"a name not of the family", "set name=Selko99\n", SANE_STATUS_UNSUPPORTED, "not supported"},
      {"a refused handshake", "set handshake=0x80\n", SANE_STATUS_IO_ERROR, "Error during device I/O"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Feed(1, kA6, 300, true, c.extra);
    auto r = Scanimage(Batch({"--source", "Adf-front"}));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Count("2a0b"), 0);
  }
  // Eleven handshakes, the last with the long time-out; no command.
  EXPECT_EQ(Count("HS"), 11);
  EXPECT_EQ(Sent().size(), 11u);
}

// Not ready is asked again a second later: two such answers cost two
// seconds and the batch goes on.
TEST_F(SelkoScanE2E, NotReadyIsAskedAgain) {
  Feed(1, kA6, 300, true, "set not_ready=2\nset not_ready_cmd=0x2a0b\n");
  const auto started = std::chrono::steady_clock::now();
  auto r = Scanimage(Batch({"--source", "Adf-front", "--paper-size", "A6", "--page-auto=no"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(PagesWritten(), 1);
  EXPECT_EQ(Count("2a0b"), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

// Interrupted at a point of the batch: the pages in hand are kept, the
// scanner is stopped once when pages were still pending, the connection is
// ended.
TEST_F(SelkoScanE2E, InterruptedBetweenAndWithinPages) {
  // Between pages: the first page is written, the second face is on its way.
  Feed(3, kA6, 300, true);
  Interrupt(Argv(Batch({"--source", "Adf-front", "--paper-size", "A6", "--page-auto=no"}), {}), 2, 1,
            "set page_ms=700\n");
  EXPECT_GE(PagesWritten(), 1);
  EXPECT_EQ(Count("1408"), 1) << "one stop";
  EXPECT_EQ(Count("HS"), Count("141d"));

  // Within the first page, without automatic feed: the page's pieces are
  // still pending, so the scanner is stopped once.
  TearDown();
  SetUp();
  Feed(2, kA6, 300, true);
  Interrupt(Argv(Batch({"--source", "Adf-front", "--paper-size", "A6", "--page-auto=no", "--autofeed=no"}), {}), 1, 0,
            "set page_ms=1500\n");
  EXPECT_EQ(PagesWritten(), 0);
  EXPECT_EQ(Count("1408"), 1);
  EXPECT_EQ(Count("HS"), Count("141d"));
}

TEST_F(SelkoScanE2E, ScanimageConformanceTest) {
  Feed(2, kA6, 300, true);
  auto r = Scanimage({"--source", "Adf-duplex", "--paper-size", "A6", "-T"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("FAIL"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("PASS"), std::string::npos) << r.err;
  EXPECT_EQ(Count("HS"), Count("141d"));
}

}  // namespace
