// Gray2BinImage through the staged libhelper.so, with what the unit passes
// for the backend's default settings, against Sauvola on degraded pages.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "degraded_pages.h"
#include "edge_threshold.h"
#include "helper_binding.h"

namespace {

using dravn_degraded::Kind;

class Quality : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(LoadI3HelperBinarization(), 0); }
  static void TearDownTestSuite() { UnloadI3Helper(); }
};

// Sensitivity 0, background 0 (adjust -5), the engine's edge parameter 5 and
// weight 4, mode 3, an uncropped page (bottom trim on), output kind 0.
std::vector<uint8_t> Ours(dravn_degraded::Page& page) {
  std::vector<uint8_t> out(page.grey.size());
  int results[16] = {};
  EXPECT_EQ(Gray2BinImage(page.grey.data(), out.data(), page.height, page.width, 0, -5, 5, 4, nullptr, 0, 1, 3, true,
                          false, results, 0),
            0);
  for (uint8_t& v : out) v = v ? 255 : 0;
  return out;
}

TEST_F(Quality, ReachesSauvolaOnDegradedPages) {
  double ours_sum = 0, sauvola_sum = 0;
  int n = 0;
  for (Kind kind : dravn_degraded::kAllKinds) {
    // A6 at 300 dpi keeps the test short; the benchmark takes whole A4 pages.
    dravn_degraded::Page page = dravn_degraded::MakePage(kind, 300, 105, 148);
    const double sauvola = dravn_degraded::FMeasure(dravn_degraded::Sauvola(page, 31, 0.34, 128), page.truth);
    const double ours = dravn_degraded::FMeasure(Ours(page), page.truth);
    std::printf("%-16s ours %.4f  sauvola %.4f\n", dravn_degraded::KindName(kind).c_str(), ours, sauvola);
    ours_sum += ours;
    sauvola_sum += sauvola;
    ++n;
  }
  std::printf("%-16s ours %.4f  sauvola %.4f\n", "mean", ours_sum / n, sauvola_sum / n);
  EXPECT_GE(ours_sum / n, sauvola_sum / n);
}

}  // namespace
