// Writing direction and the direction entries through the staged
// libimgforge, on drawn pages turned by known quarter turns.
#include "ktj_lib.h"

using text_pages::DocumentPage;
using text_pages::Page;
using text_pages::Turn;

namespace {

class DirectionAtDpi : public KtjTest, public ::testing::WithParamInterface<int> {};

TEST_P(DirectionAtDpi, EachQuarterTurnGivesItsCode) {
  const int dpi = GetParam();
  for (bool capitals : {false, true}) {
    Page upright = DocumentPage(dpi, 7, nullptr, capitals);
    // Clockwise quarter turns 0..3 -> upright 1, clockwise 2, half 3, counter-clockwise 4.
    const int want[4] = {1, 2, 3, 4};
    for (int q = 0; q < 4; ++q) {
      Page p = Turn(upright, q);
      KTJBITMAP b = AsKtj(p);
      KtjDirParam req = Whole(p);
      EXPECT_EQ(K.katuji_chdir_e2(&req, &b, nullptr, &b), want[q]) << dpi << " dpi, turn " << q << " caps " << capitals;
      EXPECT_EQ(K.katuji_chdir_e(&req, &b), want[q]) << dpi << " dpi, turn " << q << " caps " << capitals;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Dpi, DirectionAtDpi, ::testing::Values(200, 300, 400, 600));

}  // namespace
