// The shipped orientation models through the real scanimage on a simulated
// Selko2 scanner: rendered pages that the training never saw, fed turned by
// each quarter turn (one white on black), come out upright with
// `--rotation Auto`; a page without text comes out as it was fed.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "model_catalog.h"
#include "scan_e2e_support.h"
#include "selko2_pipeline.h"
#include "test_pages.h"
#include "test_support.h"

namespace {

class OrientationModelsScanE2E : public dravn_scan_e2e::ScanimageE2E {
 protected:
  OrientationModelsScanE2E() : ScanimageE2E({"selko2", &dravn::kSelko2Models[0]}) {}
};

dravn_pages::Image ReadPage(const std::string& path) {
  const cv::Mat bgr = cv::imread(path, cv::IMREAD_COLOR);
  dravn_pages::Image out;
  if (bgr.empty()) return out;
  cv::Mat rgb;
  cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
  out.width = rgb.cols, out.height = rgb.rows, out.channels = 3;
  out.pixels.assign(rgb.data, rgb.data + rgb.total() * 3);
  return out;
}

struct Case {
  const char* file;
  int right;  // clockwise quarter turns that make the page upright
};

TEST_F(OrientationModelsScanE2E, HeldOutPagesComeOutUpright) {
  // 300-dpi A5 sheets, fed as the file holds them (grey as PNG, colour as JPEG).
  const std::vector<Case> cases = {
      {"latin_grey_upright.png", 0},   {"cyrillic_colour_turned90.jpg", 3}, {"cj_grey_turned180.png", 2},
      {"latin_colour_turned270.jpg", 1}, {"white_on_black_turned180.png", 2}, {"photo_no_text.jpg", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TearDown();
    SetUp();
    const dravn_pages::Image fed = ReadPage(std::string(ORIENTATION_PAGES) + "/" + c.file);
    ASSERT_GT(fed.width, 0);
    dravn_test::WriteFile(m_dir + "/pages/page1.pnm", dravn_pages::EncodePnm(fed));
    WriteScenario("set state=" + m_dir + "/state\n" + FeedSettings(1, 300));
    const std::string widthMm = std::to_string(fed.width * 25.4 / 300), heightMm = std::to_string(fed.height * 25.4 / 300);
    auto r = Scanimage(Batch({"--source", "Adf-front", "--mode", "Color", "--resolution", "300", "--paper-size",
                              "Custom", "--page-width", widthMm, "--page-height", heightMm, "--page-auto=no",
                              "--rotation", "Auto", "--tone-adjustment", "Custom", "--shadow", "0", "--highlight",
                              "255", "--gamma", "1.0"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(PagesWritten(), 1);
    dravn_pages::Image expected = fed;
    for (auto& v : expected.pixels) v = DeviceAdjustLUT_Selko2[v];
    expected = dravn_pages::QuarterTurned(expected, c.right);
    const dravn_pages::Image got = Scanned(1);
    ASSERT_NEAR(got.width, expected.width, 1);
    ASSERT_NEAR(got.height, expected.height, 1);
    // JPEG coding costs a few levels on average; the page in another quarter
    // turn is far more than that away.
    const dravn_pages::PageDiff diff = dravn_pages::ComparePages(got, expected, 50);
    EXPECT_LT(diff.meanAbs, 6);
    EXPECT_LT(diff.maxBlock, 16);
  }
}

}  // namespace
