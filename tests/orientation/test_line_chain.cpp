// The stages chained in the driver's order on rendered pages whose lines
// are known: the lines come out in the right group, at the drawn places.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "line_chain.h"
#include "text_line_pages.h"

using dravn_text_pages::TextPage;

namespace {

// Every selected line lies on one drawn line of the expected direction,
// its edges across the line within two decimated pixels of the drawn ink,
// and at least `covered` drawn lines hold a selected one. A line may come
// out in pieces: the body of a line ends one row or column short of its
// box (the last bin never makes a histogram peak), and letters whose first
// columns reach only that outer row cannot be met beyond a word gap.
void ExpectOnDrawnLines(const TextPage& page, const line_chain::Result& r, bool vertical, size_t covered) {
  const int tol = 2 * r.f + 1;
  EXPECT_LE(r.selected.size(), 25u);
  std::vector<bool> hit(page.lines.size(), false);
  for (const auto& s : r.selected) {
    EXPECT_EQ(s.group, vertical ? 1 : 0);
    bool matched = false;
    for (size_t i = 0; i < page.lines.size(); ++i) {
      const auto& d = page.lines[i];
      if (d.vertical != vertical) continue;
      const auto& b = d.box;
      const bool across = vertical ? std::abs(s.box.left - b.left) <= tol && std::abs(s.box.right - b.right) <= tol
                                   : std::abs(s.box.top - b.top) <= tol && std::abs(s.box.bottom - b.bottom) <= tol;
      const bool along = vertical ? s.box.top >= b.top - tol && s.box.bottom <= b.bottom + tol
                                  : s.box.left >= b.left - tol && s.box.right <= b.right + tol;
      if (across && along) matched = hit[i] = true;
    }
    EXPECT_TRUE(matched) << "selected " << s.box.left << "," << s.box.top << " " << s.box.right << "," << s.box.bottom;
    EXPECT_TRUE(s.extractor == 1 || s.extractor == 2);
  }
  EXPECT_GE(size_t(std::count(hit.begin(), hit.end(), true)), covered);
}

int ValidCrops(const line_chain::Result& r) {
  int n = 0;
  for (const auto& s : r.selected) n += s.validity != 0.0f && s.size > 0;
  return n;
}

line_chain::Result Chain(const TextPage& p, int dpi, bool invert = false) {
  return line_chain::Run(p.page.pixels.data(), p.page.width, p.page.height, dpi, invert);
}

}  // namespace

TEST(LineChain, LatinTextAtEveryQuarterTurn) {
  const TextPage upright = dravn_text_pages::LetterPage(300, 12);
  for (int turn = 0; turn < 4; ++turn) {
    const TextPage page = dravn_text_pages::Turn(upright, turn);
    const auto r = Chain(page, 300);
    EXPECT_EQ(r.f, 3);
    EXPECT_EQ(r.hint, turn % 2) << turn;
    // Upright, every line comes out whole.
    ExpectOnDrawnLines(page, r, turn % 2 == 1, turn == 0 ? 12 : 6);
    if (turn == 0) {
      EXPECT_EQ(r.selected.size(), 12u);
    }
    EXPECT_GE(ValidCrops(r), 10) << turn;
  }
}

TEST(LineChain, TwoColumnsKeepTheirLinesApart) {
  const TextPage page = dravn_text_pages::LetterPage(300, 12, true);
  const auto r = Chain(page, 300);
  ExpectOnDrawnLines(page, r, false, 24);
}

TEST(LineChain, WhiteOnBlackAfterInversion) {
  const TextPage page = dravn_text_pages::Turn(dravn_text_pages::LetterPage(300, 10), 1);
  const TextPage negative = dravn_text_pages::Invert(page);
  EXPECT_TRUE(Chain(negative, 300).selected.empty());
  const auto r = Chain(negative, 300, true);
  ExpectOnDrawnLines(page, r, true, 5);
}

TEST(LineChain, VerticalCjText) {
  const TextPage page = dravn_text_pages::VerticalCjkPage(300, 8);
  const auto r = Chain(page, 300);
  EXPECT_EQ(r.hint, 1);
  ExpectOnDrawnLines(page, r, true, 8);
}

TEST(LineChain, TableAndPhotoYieldNoLine) {
  const auto table = Chain(dravn_text_pages::TablePage(300), 300);
  EXPECT_TRUE(table.selected.empty());
  const auto photo = Chain(dravn_text_pages::PhotoPage(150), 150);
  EXPECT_TRUE(photo.selected.empty());
}
