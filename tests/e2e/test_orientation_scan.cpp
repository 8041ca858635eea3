// Automatic orientation through the real scanimage on a simulated Selko2
// scanner: with engines that read every text patch as upside down in place
// of the staged ones, a page of horizontal lines comes out turned 180
// degrees and a page of vertical lines 270 (a vertical line's answer is one
// quarter turn more); with the unit not ready the pages pass unturned and
// the backend's log says why.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dravn_paths.h"
#include "model_catalog.h"
#include "scan_e2e_support.h"
#include "selko2_pipeline.h"
#include "test_pages.h"
#include "test_support.h"
#include "text_line_pages.h"

namespace {

class OrientationScanE2E : public dravn_scan_e2e::ScanimageE2E {
 protected:
  OrientationScanE2E() : ScanimageE2E({"selko2", &dravn::kSelko2Models[0]}) {}

  // Errors of the backends on standard error.
  std::map<std::string, std::string> Env() override {
    auto env = ScanimageE2E::Env();
    env["DRAVN_DEBUG"] = "10";
    return env;
  }

  // `page` as the one sheet in the feeder, read at 300 dpi.
  void FeedOne(const dravn_pages::Image& page) {
    dravn_test::WriteFile(m_dir + "/pages/page1.pnm", dravn_pages::EncodePnm(page));
    WriteScenario("set state=" + m_dir + "/state\n" + FeedSettings(1, 300));
  }
};

dravn_pages::Image Colour(const dravn_text_pages::Grey& grey) {
  dravn_pages::Image out;
  out.width = grey.width, out.height = grey.height, out.channels = 3;
  out.pixels.resize(size_t(grey.width) * grey.height * 3);
  for (size_t i = 0; i < grey.pixels.size(); ++i) {
    const uint8_t v = grey.pixels[i];
    out.pixels[3 * i] = v, out.pixels[3 * i + 1] = v, out.pixels[3 * i + 2] = uint8_t(v * 15 / 16);  // a cream sheet
  }
  return out;
}

// `page` turned by `quarters` clockwise quarter turns.
dravn_pages::Image Turned(const dravn_pages::Image& page, int quarters) {
  dravn_pages::Image out = page;
  const int w = page.width, h = page.height;
  if (quarters % 2) std::swap(out.width, out.height);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int X = x, Y = y;
      if (quarters == 1) X = h - 1 - y, Y = x;
      if (quarters == 2) X = w - 1 - x, Y = h - 1 - y;
      if (quarters == 3) X = y, Y = w - 1 - x;
      const uint8_t* from = page.Row(y) + 3 * x;
      std::copy(from, from + 3, out.Row(Y) + 3 * X);
    }
  return out;
}

struct Case {
  const char* what;
  dravn_text_pages::Grey page;
  bool ready;  // the unit's engine folders are all there
  int quarters;
};

TEST_F(OrientationScanE2E, PagesComeOutTurnedByTheUnitsVerdict) {
  using namespace dravn_text_pages;
  const Grey letter = LetterPage(300, 24).page, columns = VerticalCjkPage(300, 10).page;
  const std::vector<Case> cases = {
      {"horizontal lines", letter, true, 2},
      {"vertical lines", columns, true, 3},
      {"unit not ready", letter, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    const dravn_pages::Image fed = Colour(c.page);
    FeedOne(fed);
    std::vector<std::string> binds = {std::string(VOTE180_MODELS) + ":" DRAVN_LIB_DIR "/dic_DL"};
    if (!c.ready) {
      dravn_test::Run({"mkdir", "-p", m_dir + "/empty"});
      binds.push_back(m_dir + "/empty:" DRAVN_LIB_DIR "/dic_DL/engine2_2");
    }
    auto r = Scanimage(Batch({"--source", "Adf-front", "--mode", "Color", "--resolution", "300", "--paper-size", "A4",
                              "--page-auto=no", "--rotation", "Auto", "--tone-adjustment", "Custom", "--shadow", "0",
                              "--highlight", "255", "--gamma", "1.0"}),
                       binds);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("Turnsense3 Init failed") != std::string::npos, !c.ready) << r.err;
    ASSERT_EQ(PagesWritten(), 1);
    dravn_pages::Image expected = fed;
    for (auto& v : expected.pixels) v = DeviceAdjustLUT_Selko2[v];
    expected = Turned(expected, c.quarters);
    const dravn_pages::Image got = Scanned(1);
    // The sheet and the paper size may differ by a pixel's rounding.
    ASSERT_NEAR(got.width, expected.width, 1);
    ASSERT_NEAR(got.height, expected.height, 1);
    const dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, 50);
    // JPEG coding of the dense text lines costs about 3 levels on average;
    // a page in any other quarter turn is 15 or more away.
    EXPECT_LT(diff.meanAbs, 4);
    EXPECT_LT(diff.maxBlock, 16);
  }
}

}  // namespace
