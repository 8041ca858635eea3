// The colour-profile step of the Docuvane-line pipeline through the real
// scanimage, with a libimgforge stand-in that offers the sRGB entry laid
// over the package's library directory: the pages come out converted, and
// each failure the entry may answer ends the scan or lets the page go on
// unchanged. The package's own libimgforge has no such entry, so there the
// option is not offered.
#include <gtest/gtest.h>
#include <sane/sane.h>

#include <map>
#include <string>
#include <vector>

#include "kelo_devctl_corvane.h"
#include "model_catalog.h"
#include "scan_e2e_support.h"
#include "test_pages.h"
#include "test_support.h"

using dravn_test::ReadFile;

namespace {

using dravn_scan_e2e::PaperSize;

constexpr PaperSize kA6{"A6", 105, 148};
constexpr int kDpi = 100;

class CorvaneSrgbE2E : public dravn_scan_e2e::ScanimageE2E {
 protected:
  CorvaneSrgbE2E() : ScanimageE2E({"corvane", &dravn::kDocuvaneModels[0]}) {}

  void SetUp() override {
    ScanimageE2E::SetUp();
    WritePages(1, kA6, kDpi, true);
    WriteScenario(FeedSettings(1, kDpi));
  }
  std::map<std::string, std::string> Env() override {
    auto env = ScanimageE2E::Env();
    env["IMGFORGE_STANDIN_RECORD"] = m_dir + "/requests";
    env["IMGFORGE_STANDIN_SRGB"] = m_answer;
    env["DRAVN_DEBUG"] = "20";  // the trace lines on standard error
    return env;
  }
  dravn_test::RunResult Scan(const std::vector<std::string>& extra, const char* library) {
    std::vector<std::string> options = {"--source",           "ADF Duplex",   "--mode", "Color",         "--resolution",
                                        std::to_string(kDpi), "--paper-size", "A6",     "--page-auto=no"};
    options.insert(options.end(), extra.begin(), extra.end());
    return Scanimage(Batch(options), {LaidOver(library, "libimgforge.so")});
  }

  std::string m_answer;
};

// The fed colour page through the tone table of colour mode.
dravn_pages::Image Expected(int number) {
  dravn_pages::Image page = dravn_scan_e2e::Rendered(kA6, kDpi, true, number);
  unsigned char table[256];
  dravnmain::KeloDevCtlCorvane::ApplyLutContrastBrightness(0, 0, 230, 10, 16, table);
  for (auto& v : page.pixels) v = table[v];
  return page;
}

// What the stand-in does to a page.
dravn_pages::Image ChannelsTurned(dravn_pages::Image page) {
  for (size_t i = 0; i + 2 < page.pixels.size(); i += 3) {
    const uint8_t first = page.pixels[i];
    page.pixels[i] = page.pixels[i + 1];
    page.pixels[i + 1] = page.pixels[i + 2];
    page.pixels[i + 2] = first;
  }
  return page;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(CorvaneSrgbE2E, BothFacesAreConvertedInPlace) {
  m_answer = "convert";
  auto r = Scan({"--srgb=yes"}, IMGFORGE_SRGB_STANDIN);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(PagesWritten(), 2);
  for (int n = 1; n <= 2; ++n) {
    dravn_pages::Image expected = ChannelsTurned(Expected(n));
    dravn_pages::Image got = Scanned(n);
    ASSERT_EQ(got.width, expected.width);
    ASSERT_EQ(got.height, expected.height);
    EXPECT_TRUE(got.pixels == expected.pixels) << "page " << n;
  }
  const dravn_pages::Image page = Expected(1);
  const std::string record = "P2iConvToSrgb bits=24 order=0 width=" + std::to_string(page.width) +
                             " height=" + std::to_string(page.height) + " bpl=" + std::to_string(3 * page.width) +
                             " size=" + std::to_string(3 * page.width * page.height) + "\n";
  EXPECT_EQ(ReadFile(m_dir + "/requests"), record + record);
  EXPECT_EQ(Count(r.err, "Do sRGB"), 2u) << r.err;
  EXPECT_EQ(Count(r.err, "unknow error"), 0u);
}

// Only a scan that asks for it converts; grey pages never reach the entry.
TEST_F(CorvaneSrgbE2E, OffOrNotColourLeavesTheEntryAlone) {
  m_answer = "convert";
  auto r = Scan({}, IMGFORGE_SRGB_STANDIN);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(PagesWritten(), 2);
  EXPECT_TRUE(Scanned(1).pixels == Expected(1).pixels);
  r = Scan({"--srgb=yes", "--mode", "Gray"}, IMGFORGE_SRGB_STANDIN);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(m_dir + "/requests").find("P2iConvToSrgb"), std::string::npos);
}

TEST_F(CorvaneSrgbE2E, FailuresEndTheScanOrLetThePageGoOn) {
  const struct {
    const char* answer;
    int exitCode;
    const char* message;
    int pages;
  } cases[] = {
      {"-1", SANE_STATUS_NO_MEM, "Out of memory", 0},
      {"-2", SANE_STATUS_INVAL, "Invalid argument", 0},
      {"-5", 0, "", 2},
      {"3", 0, "", 2},  // any other failure counts as -5
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    TearDown();
    SetUp();
    m_answer = c.answer;
    auto r = Scan({"--srgb=yes"}, IMGFORGE_SRGB_STANDIN);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Do sRGB"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("unknow error"), std::string::npos) << r.err;
    ASSERT_EQ(PagesWritten(), c.pages) << r.err;
    if (c.exitCode == 0) {
      EXPECT_EQ(r.err.find("DoSelectFunc FUNC_SRGB Error"), std::string::npos) << r.err;
      for (int n = 1; n <= c.pages; ++n) EXPECT_TRUE(Scanned(n).pixels == Expected(n).pixels) << "page " << n;
    } else {
      EXPECT_NE(r.err.find("DoSelectFunc FUNC_SRGB Error"), std::string::npos) << r.err;
    }
  }
}

// Without the entry the option cannot be set (the front end does not offer
// it), and the pages pass as they came.
TEST_F(CorvaneSrgbE2E, WithoutTheEntryTheOptionIsNotOffered) {
  auto r = Scanimage({"--help"}, {LaidOver(PIPELINE_IMGFORGE_STANDIN, "libimgforge.so")});
  EXPECT_EQ(r.out.find("--srgb"), std::string::npos) << r.out;
  r = Scanimage({"--help"}, {LaidOver(IMGFORGE_SRGB_STANDIN, "libimgforge.so")});
  EXPECT_NE(r.out.find("--srgb[=(yes|no)] [no]"), std::string::npos) << r.out;
}

}  // namespace
