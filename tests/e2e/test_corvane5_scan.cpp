// The real scanimage scanning simulated Corvane5 scanners of both type
// groups through the test copy of the main backend (whose device table
// names them), with the package's libimgforge (the host does the image work)
// or without it (the scanner does, and detects colour itself): batches
// checked against the rendered pages, mode pages, batch mode and the
// power-off timer as the transcript shows them, faults, the property rules a
// front end meets, punch holes removed on the black background, identity
// and the conformance test. Each run has its own
// IPC namespace (and mount namespace when the library is taken away).
#include <gtest/gtest.h>
#include <sane/sane.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "test_pages.h"
#include "test_support.h"
#include "kelo_devctl_corvane.h"

using dravn_test::ReadFile;
using dravn_test::WriteFile;
using dravnmain::KeloDevCtlCorvane;

namespace {

struct Paper {
  const char* name;
  double widthMm, heightMm;
};
constexpr Paper kA5{"A5", 148, 210}, kA6{"A6", 105, 148};

// Where the host's libimgforge is: the package's (the host does the image
// work), or taken away (the scanner does it, and detects colour itself).
enum class Library { Package, None };

class Corvane5ScanE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("corvane5-scan-e2e");
    for (const char* sub : {"conf", "sane", "pages", "out"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
    WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
  }
  void TearDown() override { dravn_test::Run({"rm", "-rf", m_dir}); }
  void Fresh() {
    TearDown();
    SetUp();
  }

  // Sheets of pages (front 2k-1, back 2k) rendered at `dpi`; page n is in
  // colour when colour(n).
  void Feed(const dravn::CatalogModel& model, int sheets, bool (*colour)(int), const std::string& extra = "",
            const Paper& paper = kA6, int dpi = 150) {
    m_model = &model;
    for (int n = 1; n <= 2 * std::max(1, sheets); ++n)
      WriteFile(m_dir + "/pages/page" + std::to_string(n) + ".pnm",
                dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(Spec(paper, dpi, n, colour(n)))));
    char line[160];
    snprintf(line, sizeof line, "device corvane %04x:%04x bus=1 address=5\n", model.vendorId, model.productId);
    m_scenario = std::string(line) + "set state=" + m_dir + "/state\nset sheets=" + std::to_string(sheets) +
                 "\nset pages=" + m_dir + "/pages/page%d.pnm\nset page_dpi=" + std::to_string(dpi) + "\n" + extra;
    WriteFile(m_dir + "/scenario", m_scenario);
    snprintf(line, sizeof line, "usb 0x%04x 0x%04x\n", model.vendorId, model.productId);
    WriteFile(m_dir + "/conf/dravn.conf", line);
  }
  static dravn_pages::PageSpec Spec(const Paper& paper, int dpi, int number, bool colour) {
    dravn_pages::PageSpec spec;
    spec.widthMm = paper.widthMm, spec.heightMm = paper.heightMm, spec.dpi = dpi, spec.colour = colour;
    spec.number = number;
    return spec;
  }

  // One sheet whose faces are the given images at `dpi`.
  void FeedPages(const dravn::CatalogModel& model, const std::vector<dravn_pages::Image>& faces, int dpi) {
    m_model = &model;
    char line[160];
    snprintf(line, sizeof line, "device corvane %04x:%04x bus=1 address=5\n", model.vendorId, model.productId);
    WriteFile(m_dir + "/scenario", std::string(line) + "set sheets=1\nset pages=" + m_dir +
                                       "/pages/page%d.pnm\nset page_dpi=" + std::to_string(dpi) + "\n");
    snprintf(line, sizeof line, "usb 0x%04x 0x%04x\n", model.vendorId, model.productId);
    WriteFile(m_dir + "/conf/dravn.conf", line);
    for (size_t n = 0; n < faces.size(); ++n)
      WriteFile(m_dir + "/pages/page" + std::to_string(n + 1) + ".pnm", dravn_pages::EncodePnm(faces[n]));
  }
  dravn_test::RunResult Scanimage(const std::vector<std::string>& args, Library library = Library::Package) {
    auto env = dravn_test::SimEnv(m_dir + "/scenario");
    env["LD_LIBRARY_PATH"] = std::string(DRAVN_SIM_LIB_DIR) + ":" CORVANE5_TEST_BACKEND_DIR ":" + DRAVN_SANE_BACKEND_DIR;
    env["SANE_CONFIG_DIR"] = m_dir + "/sane";
    env["DRAVN_CONFIG_DIR"] = m_dir + "/conf";
    env["DRAVN_SIM_TRANSCRIPT"] = m_dir + "/transcript";
    std::vector<std::string> argv{"unshare", "--ipc"};
    if (library == Library::None) {
      // The package's library folder without libimgforge, over the real one.
      const std::string lib = m_dir + "/lib";
      EXPECT_EQ(dravn_test::Run({"sh", "-c",
                                 "mkdir -p '" + lib + "' && cp -a " DRAVN_LIB_DIR "/. '" + lib + "' && rm -f '" + lib +
                                     "'/libimgforge.so*"})
                    .exitCode,
                0);
      argv.insert(argv.end(), {"--mount", "sh", "-c", "mount --bind \"$0\" " DRAVN_LIB_DIR " && exec scanimage \"$@\"",
                               lib});
    } else {
      argv.push_back("scanimage");
    }
    argv.insert(argv.end(), {"-d", std::string("dravn:") + m_model->model + ":001:005"});
    argv.insert(argv.end(), args.begin(), args.end());
    return dravn_test::Run(argv, env, 300);
  }
  std::vector<std::string> Batch(std::vector<std::string> options) {
    options.push_back("--batch=" + m_dir + "/out/page%d.pnm");
    return options;
  }
  std::string Page(int n) { return ReadFile(m_dir + "/out/page" + std::to_string(n) + ".pnm"); }
  int PagesWritten() {
    int n = 0;
    while (access((m_dir + "/out/page" + std::to_string(n + 1) + ".pnm").c_str(), F_OK) == 0) ++n;
    return n;
  }

  // The CDBs sent (12 hex digits) with the data out that followed each.
  std::vector<std::pair<std::string, std::string>> Sent() {
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) {
      if (line.find(" bulk out ") == std::string::npos) continue;
      const std::string hex = line.substr(line.rfind(' ') + 1);
      if (line.find(" len=31 ") != std::string::npos && hex.compare(0, 2, "43") == 0)
        out.push_back({hex.substr(38, 12), ""});
      else if (!out.empty())
        out.back().second += hex;
    }
    return out;
  }
  // The number of the nth (from 1) transfer out whose data begins with
  // `prefix`, or with `offset`, of a transfer that many after it.
  int TransferOf(const std::string& prefix, int nth, int offset) {
    std::istringstream in(ReadFile(m_dir + "/transcript"));
    for (std::string line; std::getline(in, line);) {
      const size_t hash = line.find(" #");
      if (hash == std::string::npos || line.find(" bulk out ") == std::string::npos) continue;
      if (line.compare(line.rfind(' ') + 1, prefix.size(), prefix) == 0 && --nth == 0)
        return std::stoi(line.substr(hash + 2)) + offset;
    }
    return -1;
  }

  std::string m_dir;
  std::string m_scenario;
  const dravn::CatalogModel* m_model = nullptr;
};

bool OddInColour(int n) { return n % 2 == 1; }

// The PNM header's magic and size, comments skipped.
std::string Header(const std::string& pnm) {
  std::istringstream in(pnm);
  std::vector<std::string> words;
  for (std::string line; words.size() < 3 && std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    for (std::string w; words.size() < 3 && fields >> w;) words.push_back(w);
  }
  return words.size() == 3 ? words[0] + " " + words[1] + "x" + words[2] : "";
}

TEST_F(Corvane5ScanE2E, ColourDetectionDeliversColourAndOneBitPages) {
  for (const dravn::CatalogModel* model : {&dravn::kTavrin5Models[0], &dravn::kTavrin5EModels[3]}) {
    SCOPED_TRACE(model->model);
    unlink((m_dir + "/transcript").c_str());
    unlink((m_dir + "/state").c_str());
    Feed(*model, 2, [](int n) { return n == 1; });
    auto r = Scanimage(Batch({"--source", "ADF Front", "--mode", "Color", "--resolution", "150", "--page-auto=no",
                              "--paper-size", "A6", "--auto-color-detection=yes", "--power-off", "1 hour"}));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const int w = dravn_pages::PixelsOf(105, 150), h = dravn_pages::PixelsOf(148, 150);
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    EXPECT_EQ(Header(Page(1)), "P6 " + size);
    EXPECT_EQ(Header(Page(2)), "P4 " + size);
    // Batch mode taken once at the first sheet and released at the end; the
    // power-off pair read and written before every sheet; no automatic-colour
    // variant of SET WINDOW or SCAN.
    int taken = 0, released = 0, reads = 0, writes = 0;
    for (const auto& [cdb, data] : Sent()) {
      if (cdb == "151000000c00" && data.compare(8, 4, "2c06") == 0)
        (data == "000000002c06000000000000" ? taken : released) += 1;
      if (cdb == "1d0000001000" && data == "47455420504f574f46462054494d4520") ++reads;
      if (cdb == "1d0000001200") {
        ++writes;
        EXPECT_EQ(data.substr(32), "041e");
      }
      EXPECT_EQ(cdb.compare(0, 2, "24") == 0 ? cdb.substr(2, 2) : "00", "00") << cdb;
    }
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(writes, 3);
  }
}

// What a page should become: the fed page through the tone table the
// scanner or the host applies (brightness and contrast 0), then converted
// as the scanner converts, or reduced as the host reduces a page the
// scanner judged binary.
enum class Out { Colour, Grey, Lineart, Reduced };

dravn_pages::Image Expected(const dravn_pages::PageSpec& spec, Out out) {
  dravn_pages::Image page = dravn_pages::RenderDocumentPage(spec);
  unsigned char table[256];
  if (out == Out::Lineart)
    KeloDevCtlCorvane::ApplyLutContrastBrightness(0, 0, 255, 0, 10, table);
  else
    KeloDevCtlCorvane::ApplyLutContrastBrightness(0, 0, 230, 10, 16, table);
  for (auto& v : page.pixels) v = table[v];
  if (out == Out::Colour) return page;
  dravn_pages::Image grey{page.width, page.height, 1, {}};
  grey.pixels.resize(static_cast<size_t>(page.width) * page.height);
  for (size_t i = 0; i < grey.pixels.size(); ++i) {
    const uint8_t* p = &page.pixels[3 * i];
    const int scanner = (299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000;
    const int host = (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8;
    if (out == Out::Grey)
      grey.pixels[i] = static_cast<uint8_t>(scanner);
    else if (out == Out::Lineart)
      grey.pixels[i] = scanner < 128 ? 0 : 255;
    else
      grey.pixels[i] = host <= 128 ? 0 : 255;
  }
  return grey;
}

bool AllInColour(int) { return true; }

struct BatchCase {
  const char* name;
  const dravn::CatalogModel& model;
  const char* source;
  const char* mode;
  int dpi;
  Paper paper;
  int sheets;
  Library library;
  std::vector<std::string> extra;  // options
  std::vector<std::pair<int, Out>> pages;  // page numbers fed, in delivery order
  double meanLimit;                        // 0: exact
};

// Both type groups, every source, the modes with the host and with the
// scanner converting, raw and JPEG, resolutions from 75 to 600 dpi, colour
// detection by the scanner, page-auto with margin and tab, and a page longer
// than the Docuvane line takes: each page at the size the parameters
// announced (the file header) and with the fed content.
TEST_F(Corvane5ScanE2E, BatchesArriveAsFed) {
  using dravn::kTavrin5EModels;
  using dravn::kTavrin5Models;
  const Paper kLong{"Custom", 210, 4000};
  const BatchCase cases[] = {
      {"first group, feeder front, colour by the host, 300 dpi", kTavrin5Models[0], "ADF Front", "Color", 300, kA6, 2,
       Library::Package, {}, {{1, Out::Colour}, {3, Out::Colour}}, 0},
      {"second group, feeder back, colour by the scanner, 150 dpi", kTavrin5EModels[2], "ADF Back", "Color", 150, kA5,
       2, Library::None, {}, {{2, Out::Colour}, {4, Out::Colour}}, 0},
      {"duplex grey by the scanner, 200 dpi", kTavrin5EModels[0], "ADF Duplex", "Gray", 200, kA6, 1, Library::None,
       {}, {{1, Out::Grey}, {2, Out::Grey}}, 0},
      {"line art by the scanner, 100 dpi", kTavrin5Models[1], "ADF Front", "Lineart", 100, kA5, 1, Library::None, {},
       {{1, Out::Lineart}}, 0},
      {"flatbed colour by the host, 600 dpi", kTavrin5Models[2], "Flatbed", "Color", 600, kA6, 1, Library::Package,
       {}, {{1, Out::Colour}}, 0},
      {"flatbed grey by the scanner, 75 dpi", kTavrin5Models[3], "Flatbed", "Gray", 75, kA6, 1, Library::None, {},
       {{1, Out::Grey}}, 0},
      {"JPEG 444 duplex, colour by the host", kTavrin5EModels[1], "ADF Duplex", "Color", 300, kA6, 1,
       Library::Package, {"--jpeg=yes", "--jpeg-type", "444", "--jpeg-quality", "7"},
       {{1, Out::Colour}, {2, Out::Colour}}, 4},
      {"JPEG 422, grey by the scanner", kTavrin5EModels[4], "ADF Front", "Gray", 300, kA6, 1, Library::None,
       {"--jpeg=yes", "--jpeg-type", "422", "--jpeg-quality", "7"}, {{1, Out::Grey}}, 4},
      {"colour detection by the scanner, duplex", kTavrin5EModels[5], "ADF Duplex", "Color", 150, kA6, 2,
       Library::None, {"--auto-color-detection=yes"},
       {{1, Out::Colour}, {2, Out::Reduced}, {3, Out::Colour}, {4, Out::Reduced}}, 0},
      {"page-auto by the scanner, margin 2, tab kept", kTavrin5EModels[6], "ADF Front", "Color", 150, kA5, 2,
       Library::None, {"--bgcolor", "Black", "--page-auto=yes", "--cropping-margin", "2", "--image-index-tab", "On"},
       {{1, Out::Colour}, {3, Out::Colour}}, 0},
      {"page-auto by the scanner, margin -3, duplex grey", kTavrin5EModels[7], "ADF Duplex", "Gray", 200, kA6, 1,
       Library::None, {"--bgcolor", "Black", "--page-auto=yes", "--cropping-margin", "-3", "--image-index-tab", "Off"},
       {{1, Out::Grey}, {2, Out::Grey}}, 0},
      {"a 4 m page at 50 dpi", kTavrin5EModels[8], "ADF Front", "Color", 50, kLong, 1, Library::Package,
       {"--paper-size", "Custom", "--page-width", "210", "--page-height", "4000", "-y", "4000"},
       {{1, Out::Colour}}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    // Colour detection sees colour on odd pages only.
    const bool detect = std::find(c.extra.begin(), c.extra.end(), "--auto-color-detection=yes") != c.extra.end();
    Feed(c.model, c.sheets, detect ? OddInColour : AllInColour, "", c.paper, c.dpi);
    std::vector<std::string> options = {"--source", c.source, "--mode", c.mode, "--resolution", std::to_string(c.dpi)};
    const bool pageAuto = std::find(c.extra.begin(), c.extra.end(), "--page-auto=yes") != c.extra.end();
    if (std::string(c.source) == "Flatbed")
      options.insert(options.end(), {"-x", std::to_string(c.paper.widthMm), "-y", std::to_string(c.paper.heightMm),
                                     "--batch-count=1"});
    else if (!pageAuto)
      options.insert(options.end(), {"--paper-size", c.paper.name});
    // Without the library page-auto is withdrawn until a black background.
    if (!pageAuto && c.library == Library::Package) options.push_back("--page-auto=no");
    options.insert(options.end(), c.extra.begin(), c.extra.end());
    auto r = Scanimage(Batch(options), c.library);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), static_cast<int>(c.pages.size())) << r.err;
    for (size_t i = 0; i < c.pages.size(); ++i) {
      dravn_pages::Image got;
      ASSERT_TRUE(dravn_pages::DecodePnm(Page(static_cast<int>(i) + 1), &got)) << "page " << i + 1;
      const auto [number, out] = c.pages[i];
      dravn_pages::Image expected = Expected(Spec(c.paper, c.dpi, number, !detect || number % 2 == 1), out);
      EXPECT_EQ(Header(Page(static_cast<int>(i) + 1)).substr(0, 2), out == Out::Colour ? "P6" : (out == Out::Grey ? "P5" : "P4"));
      ASSERT_EQ(got.channels, expected.channels);
      const bool jpeg = c.meanLimit > 0;
      // JPEG keeps whole blocks.
      EXPECT_LE(std::abs(got.width - expected.width), jpeg ? 32 : 0) << "page " << i + 1;
      EXPECT_LE(std::abs(got.height - expected.height), jpeg ? 8 : 0) << "page " << i + 1;
      const dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, std::max(8, c.dpi / 6));
      if (jpeg) {
        EXPECT_LT(diff.meanAbs, c.meanLimit) << "page " << i + 1;
        EXPECT_LT(diff.maxBlock, 12) << "page " << i + 1;
      } else {
        EXPECT_EQ(diff.meanAbs, 0) << "page " << i + 1;
      }
    }
  }
}

// The mode pages of one start, in the order sent (header cut off), batch
// mode's page aside.
std::vector<std::string> ModePages(const std::vector<std::pair<std::string, std::string>>& sent) {
  std::vector<std::string> pages;
  for (const auto& [cdb, data] : sent)
    if (cdb.compare(0, 4, "1510") == 0 && data.compare(8, 2, "2c") != 0) pages.push_back(data.substr(8));
  return pages;
}

struct ModePageCase {
  const char* name;
  const dravn::CatalogModel& model;
  Library library;
  std::vector<std::string> options;
  std::vector<std::string> pages;
  const char* window;  // of the front, from its width on
};

// Mode pages byte for byte by type group and option set; only the plain
// SET WINDOW and SCAN, whatever detects colour, with the window's size
// (page-auto: the page-length limit, or 355.6 mm with colour detection) and
// its composition (colour whenever the host converts or detects).
TEST_F(Corvane5ScanE2E, ModePagesByTypeGroupAndOptions) {
  using dravn::kTavrin5EModels;
  using dravn::kTavrin5Models;
  // 32 colour detection, 3C page length (page-auto, tab, margin), 38 double
  // feed and paper protection (byte 5 in the first group only), 35, 3A
  // autofeed, 37 background (second group), 39 dropout (the scanner
  // converting), 33 prepick, 34 sleep timer.
  const ModePageCase cases[] = {
      {"first group, line art by the scanner", kTavrin5Models[0], Library::None,
       {"--source", "ADF Front", "--mode", "Lineart"},
       {"3206a00000000000", "3c06000000000000", "3806c08800800000", "3506008100000000", "3a06800000000000",
        "39080000000000000000", "3306c00000000000", "3406000000000000"},
       "0000136100001b510080000001"},
      {"second group, grey by the scanner, dropout red, feeder settings", kTavrin5EModels[0], Library::None,
       {"--source", "ADF Duplex", "--mode", "Gray", "--dropoutcolor", "Red", "--df-action", "Stop", "--df-thickness=yes",
        "--paper-protection", "On", "--prepick", "Off", "--sleeptimer", "15"},
       {"3206a00000000000", "3c06000000000000", "380690c800000000", "3506008100000000", "3a06800000000000",
        "3706800000000000", "39089900000000000000", "3306800000000000", "34060f0000000000"},
       "0000136100001b510000000208"},
      {"second group, colour detection and page-auto by the scanner, margin -3", kTavrin5EModels[3], Library::None,
       {"--source", "ADF Front", "--mode", "Color", "--auto-color-detection=yes", "--bgcolor", "Black",
        "--page-auto=yes", "--cropping-margin", "-3", "--image-index-tab", "Off"},
       {"3206fa0000000000", "3c06878080d81e00", "3806c08800000000", "3506008100000000", "3a06800000000000",
        "3706b00000000000", "39080000000000000000", "3306c00000000000", "3406000000000000"},
       "000027de000041a20000000508"},
      {"second group, page-auto by the scanner, margin 2, tab on", kTavrin5EModels[9], Library::None,
       {"--source", "ADF Back", "--mode", "Gray", "--bgcolor", "Black", "--page-auto=yes", "--cropping-margin", "2",
        "--image-index-tab", "On", "--paper-protection", "Hardware-Setting"},
       {"3206a00000000000", "3c06878080ec1400", "3806c00800000000", "3506008100000000", "3a06800000000000",
        "3706b00000000000", "39080000000000000000", "3306c00000000000", "3406000000000000"},
       "000027de00040d420000000208"},
      {"second group, page-auto by the host, accuracy first", kTavrin5EModels[1], Library::Package,
       {"--source", "ADF Front", "--mode", "Color", "--bgcolor", "Black", "--page-auto=yes", "--page-auto-priority",
        "Accuracy"},
       {"3206a00000000000", "3c06048000cc0000", "3806c08800000000", "3506008100000000", "3a06800000000000",
        "3706b00000000000", "3306c00000000000", "3406000000000000"},
       "000027de00040d420000000508"},
      {"first group, flatbed colour by the host", kTavrin5Models[2], Library::Package,
       {"--source", "Flatbed", "--mode", "Color", "-x", "105", "-y", "148", "--batch-count=1"},
       {"3206a00000000000", "3c06000000000000", "3806c08800800000", "3506008100000000", "3a06800000000000",
        "3306c00000000000", "3406000000000000"},
       "0000136100001b510000000508"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    Feed(c.model, 1, AllInColour);
    std::vector<std::string> options = c.options;
    options.insert(options.end(), {"--resolution", "100"});
    if (std::find(options.begin(), options.end(), "--page-auto=yes") == options.end() &&
        std::find(options.begin(), options.end(), "Flatbed") == options.end())
      options.insert(options.end(), {"--paper-size", "A6"});
    auto r = Scanimage(Batch(options), c.library);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto sent = Sent();
    EXPECT_EQ(ModePages(sent), c.pages);
    for (const auto& [cdb, data] : sent) {
      if (cdb.compare(0, 2, "24") == 0 || cdb.compare(0, 2, "1b") == 0) {
        EXPECT_EQ(cdb.substr(2, 2), "00") << cdb;
      }
      // Width and length in dots, brightness, threshold, contrast,
      // composition, bits per pixel.
      if (cdb.compare(0, 2, "24") == 0) {
        EXPECT_EQ(data.substr(16 + 28, 26), c.window);
      }
    }
  }
}

struct TimerCase {
  const char* name;
  const char* powerOff;  // option value
  const char* stored;    // the scanner's pair before the run
  int sheets;
  int batchCount;  // 0: the whole feeder
  std::string pair;      // each SET POWOFF TIME pair
  int sheetsTried;       // sheets begun, the one that finds no paper included
};

// The power-off pair read and then written before every sheet; batch mode
// taken once, at the first sheet, and released once, at the end of the
// feeder or by the cancel after the last page asked for.
TEST_F(Corvane5ScanE2E, BatchModeAndPowerOffOnTheWire) {
  const TimerCase cases[] = {
      {"one hour", "1 hour", "4:30", 2, 0, "041e", 3},
      {"two hours over a switched-off timer", "2 hours", "136:30", 1, 0, "081e", 2},
      {"off keeps the code and sets bit 7", "None", "8:30", 2, 0, "881e", 3},
      {"off over the special code", "None", "127:6", 1, 0, "ff1e", 2},
      {"eight hours, cancelled after one page of three", "8 hours", "4:30", 3, 1, "201e", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    Feed(dravn::kTavrin5EModels[2], c.sheets, AllInColour, std::string("set powoff=") + c.stored + "\n");
    std::vector<std::string> options = {"--source", "ADF Front", "--mode", "Color", "--resolution", "100",
                                        "--page-auto=no", "--paper-size", "A6", "--power-off", c.powerOff};
    if (c.batchCount) options.push_back("--batch-count=" + std::to_string(c.batchCount));
    auto r = Scanimage(Batch(options));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(PagesWritten(), c.batchCount ? c.batchCount : c.sheets);
    std::string order;  // T take, R release, g read, s write, S scan
    for (const auto& [cdb, data] : Sent()) {
      if (cdb == "151000000c00" && data == "000000002c06000000000000") order += 'T';
      if (cdb == "151000000c00" && data == "000000002c06010000000000") order += 'R';
      if (cdb == "1d0000001000" && data == "47455420504f574f46462054494d4520") order += 'g';
      if (cdb == "1d0000001200") {
        order += 's';
        EXPECT_EQ(data, "53455420504f574f46462054494d4520" + c.pair);
      }
      if (cdb.compare(0, 2, "1b") == 0) order += 'S';
    }
    // Before each sheet the timer; the first sheet then takes batch mode.
    std::string expected = "gsT";
    for (int k = 1; k < c.sheetsTried; ++k) expected += "Sgs";
    expected += c.batchCount ? "SR" : "R";
    EXPECT_EQ(order, expected) << r.err;
  }
}

// A transfer to break, found in a clean run: the nth whose data out begins
// with `prefix`, moved by `offset` transfers.
struct BrokenTransfer {
  const char* prefix;
  int nth;
  int offset;
  const char* how;  // a fault of the simulated wire: "gone", "short 4", ...
};

struct FaultCase {
  const char* name;
  int sheets;
  const char* extra;  // scenario lines
  BrokenTransfer broken;
  int pages;
  int exitCode;
  const char* message;
  bool released;  // batch mode released at the end
};

constexpr const char* kBatchTake = "000000002c0600";
constexpr const char* kSetTimer = "53455420504f574f4646";
constexpr const char* kGetTimer = "47455420504f574f4646";

// Each fault ends the batch with its status after the pages before it; a
// batch-mode or power-off command refused or cut short ends the start, and
// batch mode counts as released when its switch failed.
TEST_F(Corvane5ScanE2E, FaultsEndTheBatch) {
  const FaultCase cases[] = {
      {"no paper at start", 0, "", {}, 0, SANE_STATUS_NO_DOCS, "Document feeder out of documents", false},
      {"jam in sheet 2 of 3", 3, "set jam_at=2\n", {}, 1, SANE_STATUS_JAMMED, "Document feeder jammed", true},
      {"cover opened in sheet 2", 3, "set cover_open_at=2\n", {}, 1, SANE_STATUS_COVER_OPEN, "Scanner cover is open",
       true},
      {"double feed in sheet 1", 2, "set double_feed_at=1\n", {}, 0, SANE_STATUS_JAMMED, "Document feeder jammed", true},
      {"stop at the device in sheet 2", 2, "set stop_at=2\n", {}, 1, SANE_STATUS_CANCELLED, "Operation was cancel",
       true},
      {"busy at open and in each sheet", 2, "set busy=5\n", {}, 2, 0, "Batch terminated, 2 pages", true},
      {"device gone in sheet 2", 3, "set gone_at=2\n", {}, 1, SANE_STATUS_IO_ERROR, "Error during device I/O", false},
      {"batch mode refused", 2, "set refuse=batch\n", {}, 0, SANE_STATUS_IO_ERROR, "Error during device I/O", false},
      {"power-off timer refused", 2, "set refuse=powoff\n", {}, 0, SANE_STATUS_IO_ERROR, "Error during device I/O",
       false},
      {"batch mode cut short", 2, "", {kBatchTake, 1, 0, "short 4"}, 0, SANE_STATUS_IO_ERROR,
       "Error during device I/O", false},
      {"device gone at the batch-mode command", 2, "", {kBatchTake, 1, -1, "gone"}, 0, SANE_STATUS_IO_ERROR,
       "Error during device I/O", false},
      {"power-off write cut short at sheet 2", 2, "", {kSetTimer, 2, 0, "short 4"}, 1, SANE_STATUS_IO_ERROR,
       "Error during device I/O", true},
      {"device gone at the power-off read of sheet 2", 2, "", {kGetTimer, 2, 0, "gone"}, 1, SANE_STATUS_IO_ERROR,
       "Error during device I/O", false},
  };
  const std::vector<std::string> options = {"--source", "ADF Front", "--resolution", "100",     "--mode",
                                            "Color",    "--page-auto=no", "--paper-size", "A6"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    Feed(dravn::kTavrin5EModels[4], c.sheets, AllInColour, c.extra);
    int k = 0;
    if (c.broken.prefix) {
      ASSERT_EQ(Scanimage(Batch(options)).exitCode, 0);
      k = TransferOf(c.broken.prefix, c.broken.nth, c.broken.offset);
      ASSERT_GT(k, 0);
      WriteFile(m_dir + "/scenario", m_scenario + "fault transfer " + std::to_string(k) + " " + c.broken.how + "\n");
      // A new scanner again: the first-read date is written once in its life.
      dravn_test::Run({"sh", "-c", "cd '" + m_dir + "' && rm -f out/* transcript state"});
    }
    auto r = Scanimage(Batch(options));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(PagesWritten(), c.pages) << r.err;
    int released = 0;
    for (const auto& [cdb, data] : Sent()) released += cdb == "151000000c00" && data == "000000002c06010000000000";
    EXPECT_EQ(released, c.released ? 1 : 0);
    if (k > 0) {
      // The fault struck the transfer meant.
      const std::string transcript = ReadFile(m_dir + "/transcript");
      const size_t at = transcript.find(" #" + std::to_string(k) + " ");
      ASSERT_NE(at, std::string::npos);
      const std::string line = transcript.substr(at, transcript.find('\n', at) - at);
      EXPECT_NE(line.find(std::string(c.broken.how) == "gone" ? "NO_DEVICE" : "actual=4 "), std::string::npos) << line;
      EXPECT_NE(line.find(c.broken.offset ? "len=31" : c.broken.prefix), std::string::npos) << line;
    }
  }
}

struct RuleCase {
  const char* name;
  std::vector<std::string> options;
  SANE_Status status;
};

// The property rules as a front end meets them: a custom feeder page as
// long as its resolution band allows passes (the scanner feeds white paper
// that long), a millimetre more is refused at the start; colour detection
// by the scanner stops at 400 dpi.
TEST_F(Corvane5ScanE2E, PropertyRulesThroughTheFrontEnd) {
  auto custom = [](int dpi, int heightMm) {
    const std::string h = std::to_string(heightMm);
    return std::vector<std::string>{"--mode", "Lineart", "--resolution", std::to_string(dpi), "--paper-size",
                                    "Custom", "--page-width", "26", "--page-height", h, "-x", "26", "-y", h};
  };
  const RuleCase cases[] = {
      {"5588 mm at 200 dpi", custom(200, 5588), SANE_STATUS_GOOD},
      {"5461 mm at 300 dpi", custom(300, 5461), SANE_STATUS_GOOD},
      {"5462 mm at 300 dpi", custom(300, 5462), SANE_STATUS_INVAL},
      {"4064 mm at 400 dpi", custom(400, 4064), SANE_STATUS_GOOD},
      {"4065 mm at 400 dpi", custom(400, 4065), SANE_STATUS_INVAL},
      {"2700 mm at 401 dpi", custom(401, 2700), SANE_STATUS_GOOD},
      {"2701 mm at 600 dpi", custom(600, 2701), SANE_STATUS_INVAL},
      {"colour detection at 400 dpi", {"--mode", "Color", "--auto-color-detection=yes", "--resolution", "400",
                                       "--paper-size", "A6"}, SANE_STATUS_GOOD},
      {"colour detection at 401 dpi", {"--mode", "Color", "--auto-color-detection=yes", "--resolution", "401",
                                       "--paper-size", "A6"}, SANE_STATUS_INVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    Feed(dravn::kTavrin5EModels[3], 1, AllInColour);
    if (c.options[1] == "Lineart") unlink((m_dir + "/pages/page1.pnm").c_str());  // white paper, as long as asked
    std::vector<std::string> options = {"--source", "ADF Front"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    auto r = Scanimage(Batch(options), Library::None);
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    EXPECT_EQ(PagesWritten(), c.status == SANE_STATUS_GOOD ? 1 : 0) << r.err;
    if (c.status == SANE_STATUS_GOOD && c.options[1] == "Lineart") {
      const int dpi = std::stoi(c.options[3]), mm = std::stoi(c.options[9]);
      EXPECT_EQ(Header(Page(1)), "P4 " + std::to_string(dravn_pages::PixelsOf(26, dpi)) + "x" +
                                     std::to_string(static_cast<int>(std::floor(mm * 65536.0 / 1387) * dpi / 1200)));
    }
  }
}

TEST_F(Corvane5ScanE2E, WrongIdentityIsRefused) {
  Feed(dravn::kTavrin5Models[1], 1, OddInColour, "set inquiry_product=Tv5A999\n");
  auto r = Scanimage(Batch({"--source", "ADF Front"}));
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("not supported"), std::string::npos) << r.err;
}

// Both type groups, the host and the scanner converting.
TEST_F(Corvane5ScanE2E, ScanimageConformanceTest) {
  const struct {
    const dravn::CatalogModel& model;
    Library library;
    std::vector<std::string> options;
  } cases[] = {
      {dravn::kTavrin5EModels[1], Library::Package, {"--source", "ADF Duplex", "--page-auto=no"}},
      {dravn::kTavrin5Models[3], Library::None, {"--source", "ADF Front", "--auto-color-detection=yes"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model.model);
    Fresh();
    Feed(c.model, 2, OddInColour);
    std::vector<std::string> options = c.options;
    options.insert(options.end(), {"--resolution", "150", "--mode", "Color", "--paper-size", "A6", "-T"});
    auto r = Scanimage(options, c.library);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("FAIL"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PASS"), std::string::npos) << r.err;
  }
}

// ---- punch holes ----------------------------------------------------------

// Mean of each channel over the pixels whose distance from (x, y) lies in
// [r0, r1].
std::array<double, 3> MeanIn(const dravn_pages::Image& img, double x, double y, double r0, double r1) {
  std::array<double, 3> s{};
  long n = 0;
  for (int yy = static_cast<int>(y - r1); yy <= static_cast<int>(y + r1); ++yy)
    for (int xx = static_cast<int>(x - r1); xx <= static_cast<int>(x + r1); ++xx) {
      const double d = std::hypot(xx - x, yy - y);
      if (d < r0 || d > r1 || xx < 0 || yy < 0 || xx >= img.width || yy >= img.height) continue;
      for (int c = 0; c < 3; ++c) s[c] += img.Row(yy)[xx * 3 + c];
      ++n;
    }
  for (double& v : s) v /= std::max(n, 1L);
  return s;
}

// With the automatic paper size on the black background, hole-punch-removal
// has the backend ask libimgforge to remove the holes: alone (priority
// Speed: the page keeps the window's size) or with the crop (Accuracy), on
// one face or both. Each page is scanned with and without the removal: the
// holes take the paper's colour and nothing else on the page changes.
TEST_F(Corvane5ScanE2E, PunchHolesTakeThePaperColourAndNothingElseChanges) {
  const int dpi = 200;
  const double px = dpi / 25.4;
  const auto spec = dravn_pages::PunchedSheetSpec(dpi);
  const auto page = dravn_pages::RenderBackedPage(spec);
  const struct {
    const char* name;
    const char* source;
    const char* priority;
    bool cropped;
  } cases[] = {{"removal alone, one face", "ADF Front", "Speed", false},
               {"removal alone, both faces", "ADF Duplex", "Speed", false},
               {"with the crop, one face", "ADF Front", "Accuracy", true},
               {"with the crop, both faces", "ADF Duplex", "Accuracy", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool duplex = std::string(c.source) == "ADF Duplex";
    std::vector<dravn_pages::Image> runs[2];
    for (const char* removal : {"Background color", "Do not remove"}) {
      TearDown();
      SetUp();
      FeedPages(dravn::kTavrin5EModels[0], {page.image, dravn_pages::Mirrored(page.image)}, dpi);
      auto r = Scanimage(Batch({"--source", c.source, "--mode", "Color", "--resolution", std::to_string(dpi),
                                "--page-auto=yes", "--bgcolor", "Black", "--page-auto-priority", c.priority,
                                "--hole-punch-removal", removal}));
      ASSERT_EQ(r.exitCode, 0) << r.err;
      ASSERT_EQ(PagesWritten(), duplex ? 2 : 1) << r.err;
      for (int n = 1; n <= PagesWritten(); ++n) {
        dravn_pages::Image img;
        ASSERT_TRUE(dravn_pages::DecodePnm(Page(n), &img)) << n;
        runs[removal[0] == 'D'].push_back(img);
      }
    }
    for (size_t f = 0; f < runs[0].size(); ++f) {
      SCOPED_TRACE(f == 0 ? "front" : "back");
      const dravn_pages::Image &got = runs[0][f], &plain = runs[1][f];
      ASSERT_EQ(got.channels, 3);
      ASSERT_EQ(got.width, plain.width);
      ASSERT_EQ(got.height, plain.height);
      if (c.cropped) {
        EXPECT_NEAR(got.width, 210 * px, 6);
        EXPECT_NEAR(got.height, 297 * px, 6);
      } else {
        ASSERT_EQ(got.width, page.image.width);  // the whole sheet with its backing
      }
      // Where the holes are in this output.
      std::vector<std::array<double, 2>> holes;
      for (const auto& h : spec.holes) {
        double x = c.cropped ? h.xMm * px : page.holeCentres[&h - &spec.holes[0]][0];
        const double y = c.cropped ? h.yMm * px : page.holeCentres[&h - &spec.holes[0]][1];
        if (f == 1) x = (c.cropped ? got.width : page.image.width) - 1 - x;
        holes.push_back({x, y});
      }
      for (const auto& h : holes) {
        // The hole read as backing before; now it is the paper round it.
        const auto before = MeanIn(plain, h[0], h[1], 0, 2 * px);
        const auto paper = MeanIn(plain, h[0], h[1], 4.5 * px, 6 * px);
        const auto after = MeanIn(got, h[0], h[1], 0, 3 * px);
        for (int ch = 0; ch < 3; ++ch) {
          EXPECT_LT(before[ch], 40) << h[0] << "," << h[1];
          EXPECT_NEAR(after[ch], paper[ch], 16) << "channel " << ch << " at " << h[0] << "," << h[1];
        }
        EXPECT_GT(paper[0] - paper[2], 30);  // tinted: the fill is no plain white
      }
      // Every changed pixel lies in a hole's three-fold lid window.
      size_t changed = 0;
      const double reach = 3 * (3 + 0.5) * px;
      for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x) {
          if (std::equal(got.Row(y) + x * 3, got.Row(y) + x * 3 + 3, plain.Row(y) + x * 3)) continue;
          ++changed;
          bool near = false;
          for (const auto& h : holes) near = near || std::hypot(x - h[0], y - h[1]) <= reach;
          ASSERT_TRUE(near) << "pixel " << x << "," << y << " changed far from the holes";
        }
      EXPECT_GT(changed, static_cast<size_t>(2 * M_PI * 9 * px * px));  // both holes, about 28 mm² each
    }
  }
}

}  // namespace
