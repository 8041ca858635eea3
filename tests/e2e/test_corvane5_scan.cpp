// The real scanimage scanning simulated Corvane5 scanners through the test
// copy of the main backend (whose device table names them): batches with
// colour detection (the package library present: the host detects), batch
// mode and the power-off timer as the
// transcript shows them, identity checks and the conformance test. Each run
// has its own IPC namespace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace
