// The real scanimage scanning simulated Corvane5 scanners through the test
// copy of the main backend (whose device table names them): batches with
// colour detection (the package library present: the host detects), batch
// mode and the power-off timer as the
// transcript shows them, punch holes removed on the black background,
// identity checks and the conformance test. Each run has its own IPC
// namespace.
#include <gtest/gtest.h>
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

using dravn_test::ReadFile;
using dravn_test::WriteFile;

namespace {

class Corvane5ScanE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = dravn_test::MakeTempDir("corvane5-scan-e2e");
    for (const char* sub : {"conf", "sane", "pages", "out"}) mkdir((m_dir + "/" + sub).c_str(), 0777);
    WriteFile(m_dir + "/sane/dll.conf", "dravn\n");
  }
  void TearDown() override { dravn_test::Run({"rm", "-rf", m_dir}); }

  // Sheets of A6 pages at 150 dpi; page n is in colour when colour(n).
  void Feed(const dravn::CatalogModel& model, int sheets, bool (*colour)(int), const std::string& extra = "") {
    m_model = &model;
    for (int n = 1; n <= 2 * sheets; ++n) {
      dravn_pages::PageSpec spec;
      spec.widthMm = 105, spec.heightMm = 148, spec.dpi = 150, spec.colour = colour(n), spec.number = n;
      WriteFile(m_dir + "/pages/page" + std::to_string(n) + ".pnm",
                dravn_pages::EncodePnm(dravn_pages::RenderDocumentPage(spec)));
    }
    char line[160];
    snprintf(line, sizeof line, "device corvane %04x:%04x bus=1 address=5\n", model.vendorId, model.productId);
    WriteFile(m_dir + "/scenario", std::string(line) + "set state=" + m_dir + "/state\nset sheets=" +
                                       std::to_string(sheets) + "\nset pages=" + m_dir +
                                       "/pages/page%d.pnm\nset page_dpi=150\n" + extra);
    snprintf(line, sizeof line, "usb 0x%04x 0x%04x\n", model.vendorId, model.productId);
    WriteFile(m_dir + "/conf/dravn.conf", line);
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
  int PagesWritten() {
    int n = 0;
    while (access((m_dir + "/out/page" + std::to_string(n + 1) + ".pnm").c_str(), F_OK) == 0) ++n;
    return n;
  }

  dravn_test::RunResult Scanimage(const std::vector<std::string>& args) {
    auto env = dravn_test::SimEnv(m_dir + "/scenario");
    env["LD_LIBRARY_PATH"] = std::string(DRAVN_SIM_LIB_DIR) + ":" CORVANE5_TEST_BACKEND_DIR ":" + DRAVN_SANE_BACKEND_DIR;
    env["SANE_CONFIG_DIR"] = m_dir + "/sane";
    env["DRAVN_CONFIG_DIR"] = m_dir + "/conf";
    env["DRAVN_SIM_TRANSCRIPT"] = m_dir + "/transcript";
    std::vector<std::string> argv{"unshare", "--ipc", "scanimage", "-d",
                                  std::string("dravn:") + m_model->model + ":001:005"};
    argv.insert(argv.end(), args.begin(), args.end());
    return dravn_test::Run(argv, env, 300);
  }
  std::vector<std::string> Batch(std::vector<std::string> options) {
    options.push_back("--batch=" + m_dir + "/out/page%d.pnm");
    return options;
  }
  std::string Page(int n) { return ReadFile(m_dir + "/out/page" + std::to_string(n) + ".pnm"); }

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

  std::string m_dir;
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

TEST_F(Corvane5ScanE2E, WrongIdentityIsRefused) {
  Feed(dravn::kTavrin5Models[1], 1, OddInColour, "set inquiry_product=Tv5A999\n");
  auto r = Scanimage(Batch({"--source", "ADF Front"}));
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("not supported"), std::string::npos) << r.err;
}

TEST_F(Corvane5ScanE2E, RefusedBatchModeEndsTheStart) {
  Feed(dravn::kTavrin5EModels[0], 1, OddInColour, "set refuse=batch\n");
  auto r = Scanimage(Batch({"--source", "ADF Front", "--page-auto=no", "--paper-size", "A6"}));
  EXPECT_NE(r.exitCode, 0) << r.out << r.err;
}

TEST_F(Corvane5ScanE2E, ScanimageConformanceTest) {
  Feed(dravn::kTavrin5EModels[1], 2, OddInColour);
  auto r = Scanimage({"--source", "ADF Duplex", "--resolution", "150", "--page-auto=no", "--paper-size", "A6", "-T"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("FAIL"), std::string::npos) << r.err;
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
