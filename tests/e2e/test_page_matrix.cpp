// Whole sheets through the real scanimage with page-auto: pages whose
// content runs to the margins (text, justified text, a large box, a
// half-page photo, a ruled table), on A4, Letter, Legal, A5 and a card, fed
// upright and turned, through a simulated scanner of each family that
// over-scans its sheets on a white backing. Every face must keep all of its
// paper: the paper's size within 2 px, and no ink of the fed page lost,
// beside what backing its family's crop is known to keep. And
// the faces as the feeders deliver them, before any crop: the whole sheet
// centred on the backing, its shadow round it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "margin_pages.h"
#include "model_catalog.h"
#include "scan_e2e_support.h"
#include "test_pages.h"
#include "test_support.h"

namespace {

using dravn_pages::MarginContent;
using dravn_scan_e2e::PaperSize;

constexpr PaperSize kA4{"A4", 210, 297}, kLetter{"Letter", 215.9, 279.4}, kLegal{"Legal", 215.9, 355.6},
    kA5{"A5", 148, 210}, kCard{"card", 85.6, 54};

struct Sheet {
  PaperSize paper;
  MarginContent front, back;
};

// A family's feeder with page-auto and the default paper (A4). Its window
// may be narrower than a Letter sheet, and it ends below the sheet's leading
// edge by A4's length and part of the over-scan, so a Legal sheet is cut at
// the window's border there; the guides centre the sheet across it.
struct Feeder {
  dravn_scan_e2e::Scanner scanner;
  double windowWidthMm;
  double windowLengthMm;  // of the sheet, from its leading edge
  // Shadow and backing the family's crop keeps beyond the paper, millimetres
  // (left, top, right, bottom); none where it cuts at the paper's edge.
  std::array<double, 4> keptMm{};
};

struct MatrixCase {
  const char* name;
  Feeder feeder;
  int dpi;
  double skewDeg;  // how the sheets go in
  bool duplex;
  std::vector<Sheet> sheets;
};

using M = MarginContent;

constexpr double kInch = 25.4;
// Selko2: 10368/1200 inch wide; A4 and 936/1200 inch long, the sheet
// entering after half of that. Selko: 10369/1200 inch wide; A4 and the
// 468/1200 inch it reads past its window. Brenna: A4's width and 0.14 inch
// in whole 16 pixels (2528 at 300 dpi); A4 and 0.4 inch in whole 8 lines
// (3632 at 300 dpi) long, the sheet entering after 6.5 mm. The Docuvane
// line: 10624/1200 inch wide, and longer than any of these sheets.
const Feeder kSelko2{{"selko2", &dravn::kSelko2Models[0]}, 10368 * kInch / 1200, 297 + 468 * kInch / 1200};
const Feeder kSelko{{"selko", &dravn::kSelkoModels[0]}, 10369 * kInch / 1200, 297 + 468 * kInch / 1200};
// Brenna: where the search on the 100-dpi copy loses a side's points and
// takes the box round the coarse edge points instead, that box holds the
// shadow and up to a 100-dpi pixel of backing on every side. The Docuvane
// line: its trailing edge casts the shadow, and the search places that side
// on the shadow's outer end, a 100-dpi pixel either way.
const Feeder kBrenna{{"brenna", &dravn::kBrennaModels[0]}, 2528 * kInch / 300, 3632 * kInch / 300 - 6.5, {1, 1, 1, 1}};
const Feeder kDocuvane{{"corvane", &dravn::kDocuvaneModels[0]}, 10624 * kInch / 1200, 1000, {0, 0, 0, 0.75}};

// Every size, content, resolution and family at least once; all sizes at
// 200 dpi, fewer and smaller sheets at 600, where a face costs most. The
// guides hold a sheet as wide as the window straight, so only the narrower
// ones go in turned by more than a degree.
std::vector<MatrixCase> Cases() {
  const std::vector<Sheet> all = {{kA4, M::Text, M::Table},
                                  {kLetter, M::Justified, M::Photo},
                                  {kLegal, M::Box, M::Text},
                                  {kA5, M::Photo, M::Justified},
                                  {kCard, M::Table, M::Box}};
  const std::vector<Sheet> narrow = {{kA5, M::Text, M::Box}, {kCard, M::Justified, M::Photo}};
  return {
      {"Selko2 200 dpi upright", kSelko2, 200, 0, true, all},
      {"Selko2 200 dpi turned", kSelko2, 200, 2.5, true, narrow},
      {"Selko2 150 dpi turned", kSelko2, 150, -1, false, {{kA4, M::Justified, M::Text}, {kCard, M::Text, M::Text}}},
      {"Selko2 300 dpi", kSelko2, 300, 0, false, {{kLetter, M::Box, M::Box}, {kA5, M::Table, M::Table}}},
      {"Selko2 600 dpi turned", kSelko2, 600, 1, false, {{kA4, M::Table, M::Table}, {kCard, M::Photo, M::Photo}}},
      {"Selko 200 dpi", kSelko, 200, 0, false, all},
      {"Brenna 200 dpi", kBrenna, 200, 0, false, all},
      {"Docuvane 200 dpi", kDocuvane, 200, 0, false, all},
      {"Selko 300 dpi turned", kSelko, 300, -2, false, {{kA5, M::Photo, M::Photo}}},
      {"Brenna 300 dpi turned", kBrenna, 300, 2, false, {{kA5, M::Text, M::Text}}},
      {"Docuvane 300 dpi turned", kDocuvane, 300, -1.5, false, {{kA4, M::Table, M::Table}}},
  };
}

class PageMatrixE2E : public dravn_scan_e2e::ScanimageE2E, public ::testing::WithParamInterface<MatrixCase> {
 protected:
  PageMatrixE2E() : ScanimageE2E(GetParam().feeder.scanner) {}
};

// The page fed as face n (front 2k-1, back 2k of sheet k).
struct Fed {
  PaperSize paper;
  MarginContent content;
  int number;
};

// What the window holds of a sheet: all of its length up to the window's
// end, and its width centred, cut equally on both sides where the window is
// narrower.
dravn_pages::Image InWindow(const dravn_pages::Image& page, const Feeder& feeder, int dpi) {
  const int width = std::min(page.width, dravn_pages::PixelsOf(feeder.windowWidthMm, dpi));
  const int height = std::min(page.height, dravn_pages::PixelsOf(feeder.windowLengthMm, dpi));
  const int left = (page.width - width) / 2;
  dravn_pages::Image out{width, height, page.channels, {}};
  out.pixels.resize(out.BytesPerLine() * height);
  for (int y = 0; y < height; ++y) std::copy_n(page.Row(y) + left * page.channels, out.BytesPerLine(), out.Row(y));
  return out;
}

TEST_P(PageMatrixE2E, EveryFaceKeepsAllOfItsPaper) {
  const MatrixCase& c = GetParam();
  // The pages are rendered at the scanner's reading resolution.
  const int pageDpi = c.dpi > 300 ? 600 : 300;
  std::vector<Fed> fed;
  for (size_t k = 0; k < c.sheets.size(); ++k) {
    const Sheet& s = c.sheets[k];
    for (int side = 0; side < 2; ++side) {
      const int n = static_cast<int>(2 * k) + side + 1;
      const MarginContent content = side == 0 ? s.front : s.back;
      fed.push_back({s.paper, content, n});
      if (side == 1 && !c.duplex) continue;
      dravn_test::WriteFile(m_dir + "/pages/page" + std::to_string(n) + ".pnm",
                            dravn_pages::EncodePnm(
                                dravn_pages::RenderMarginPage(s.paper.widthMm, s.paper.heightMm, pageDpi, content, n)));
    }
  }
  std::string settings = FeedSettings(static_cast<int>(c.sheets.size()), pageDpi);
  char skew[64];
  snprintf(skew, sizeof skew, "set skew=%.2f\n", c.skewDeg);
  settings += skew;
  const std::string family = c.feeder.scanner.family;
  std::vector<std::string> options = {"--resolution", std::to_string(c.dpi)};
  if (family == "selko2") {
    settings += "set state=" + m_dir + "/state\nset nvram_month=1\nset nvram_day=1\n";
    options.insert(options.end(), {"--source", c.duplex ? "Adf-duplex" : "Adf-front"});
  } else if (family == "corvane") {
    settings += "set state=" + m_dir + "/state\n";
    options.insert(options.end(), {"--source", c.duplex ? "ADF Duplex" : "ADF Front", "--page-auto=yes"});
  } else {
    if (family == "brenna") settings += "set autosize=1\n";
    options.insert(options.end(), {"--source", c.duplex ? "Adf-duplex" : "Adf-front", "--page-auto=yes"});
  }
  WriteScenario(settings);
  auto r = Scanimage(Batch(options));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const int faces = static_cast<int>(c.sheets.size()) * (c.duplex ? 2 : 1);
  ASSERT_EQ(PagesWritten(), faces) << r.err;

  // A turned sheet comes back upright within a little more of its size.
  const int sizeTolerance = 2;
  // Half a millimetre and 2 px for the ink's place; a lost word or rule is
  // several millimetres.
  const int inkTolerance = c.dpi / 50 + 2 + (c.skewDeg != 0 ? c.dpi / 50 : 0);
  for (int i = 0; i < faces; ++i) {
    const Fed& f = fed[c.duplex ? i : 2 * i];
    const dravn_pages::Image got = Scanned(i + 1);
    dravn_pages::Image want =
        dravn_pages::RenderMarginPage(f.paper.widthMm, f.paper.heightMm, c.dpi, f.content, f.number);
    want = InWindow(want, c.feeder, c.dpi);
    const dravn_pages::InkBox g = dravn_pages::FindInk(got), w = dravn_pages::FindInk(want);
    // The ink's distance from each side of the paper, found less what it
    // should be: a side cut into the paper shows negative. The far sides are
    // measured from the far edges, so that a face cut short is caught even
    // where its size is right.
    const int ink[4] = {g.left - w.left, g.top - w.top, (got.width - g.right) - (want.width - w.right),
                        (got.height - g.bottom) - (want.height - w.bottom)};
    // What the family keeps beyond the paper may add to a side, never cut.
    int kept[4];
    for (int k = 0; k < 4; ++k) kept[k] = static_cast<int>(std::ceil(c.feeder.keptMm[k] * c.dpi / kInch));
    auto within = [](int d, int tolerance, int extra) { return d >= -tolerance && d <= tolerance + extra; };
    bool whole = within(got.width - want.width, sizeTolerance, kept[0] + kept[2]) &&
                 within(got.height - want.height, sizeTolerance, kept[1] + kept[3]);
    for (int k = 0; k < 4; ++k) whole = whole && within(ink[k], inkTolerance, kept[k]);
    char line[256];
    snprintf(line, sizeof line,
             "%s %s, face %d: %dx%d for %dx%d (within %d px); ink off left %+d top %+d right %+d "
             "bottom %+d (within %d px; backing kept up to %d %d %d %d px)",
             f.paper.name, dravn_pages::MarginContentName(f.content), i + 1, got.width, got.height, want.width,
             want.height, sizeTolerance, ink[0], ink[1], ink[2], ink[3], inkTolerance, kept[0], kept[1], kept[2],
             kept[3]);
    EXPECT_TRUE(whole) << line;
  }
}

// The faces themselves, uncropped (the pipeline stand-in offers no crop):
// each family's feeder shows the whole sheet centred across its window on
// the white backing, the shadow round the paper on every side, the sheet
// entering as far below the face's top as the family over-scans.
struct RawCase {
  Feeder feeder;
  PaperSize paper;
  double topMm;  // backing above the sheet
};

class RawFaceE2E : public dravn_scan_e2e::ScanimageE2E, public ::testing::WithParamInterface<RawCase> {
 protected:
  RawFaceE2E() : ScanimageE2E(GetParam().feeder.scanner) {}
};

// The shadow round the paper along one line of grey samples: the first and
// last samples more than 15 levels below the backing's level, which the
// first sample shows; -1 when there are none.
std::pair<int, int> Shadows(const std::vector<int>& line) {
  int first = -1, last = -1;
  for (int i = 0; i < static_cast<int>(line.size()); ++i) {
    if (line[static_cast<size_t>(i)] >= line.front() - 15) continue;
    if (first < 0) first = i;
    last = i;
  }
  return {first, last};
}

int Grey(const dravn_pages::Image& image, int x, int y) {
  const uint8_t* p = image.Row(y) + x * image.channels;
  return image.channels == 3 ? (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000 : p[0];
}

TEST_P(RawFaceE2E, TheWholeSheetLiesCentredOnTheBacking) {
  const RawCase& c = GetParam();
  const int dpi = 300;
  // A page with margins of 15 mm and more: nothing but the shadow is dark
  // near its edges.
  dravn_test::WriteFile(m_dir + "/pages/page1.pnm",
                        dravn_pages::EncodePnm(dravn_scan_e2e::Rendered(c.paper, dpi, true, 1)));
  std::string settings = FeedSettings(1, dpi);
  const std::string family = c.feeder.scanner.family;
  std::vector<std::string> options = {"--resolution", "300"};
  if (family == "selko2") {
    settings += "set state=" + m_dir + "/state\nset nvram_month=1\nset nvram_day=1\n";
    options.insert(options.end(), {"--source", "Adf-front"});
  } else if (family == "corvane") {
    settings += "set state=" + m_dir + "/state\n";
    options.insert(options.end(), {"--source", "ADF Front", "--page-auto=yes", "--mode", "Color"});
  } else {
    if (family == "brenna") settings += "set autosize=1\n";
    options.insert(options.end(), {"--source", "Adf-front", "--page-auto=yes"});
  }
  WriteScenario(settings);
  auto r = Scanimage(Batch(options), {FullImgforge()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(PagesWritten(), 1) << r.err;
  const dravn_pages::Image face = Scanned(1);
  const int sheetW = dravn_pages::PixelsOf(c.paper.widthMm, dpi), sheetL = dravn_pages::PixelsOf(c.paper.heightMm, dpi);
  EXPECT_EQ(face.width, std::min(dravn_pages::PixelsOf(c.feeder.windowWidthMm, dpi), face.width));

  // Across the middle of the sheet: a shadow on either side, as far from
  // either border, the paper between them whole.
  std::vector<int> row(static_cast<size_t>(face.width));
  const int top = static_cast<int>(c.topMm * dpi / 25.4);
  for (int x = 0; x < face.width; ++x) row[static_cast<size_t>(x)] = Grey(face, x, top + sheetL / 2);
  // The backing a centred sheet leaves and 8 mm more on either side: the
  // page's own ink lies further in.
  const int ink = dpi * 8 / 25;
  const int zone = std::max(0, (face.width - sheetW) / 2) + ink;
  const auto left = Shadows({row.begin(), row.begin() + zone});
  const auto right = Shadows({row.end() - zone, row.end()});
  ASSERT_GE(left.first, 0) << "no shadow on the left";
  ASSERT_GE(right.first, 0) << "no shadow on the right";
  const int leftGap = left.first, rightGap = zone - 1 - right.second;
  EXPECT_NEAR(leftGap, rightGap, 2) << "the sheet is not centred";
  const int paperW = (face.width - zone + right.first) - left.second - 1;
  EXPECT_NEAR(paperW, sheetW, 2);

  // Down the middle: the top shadow where the family's over-scan puts it,
  // and the paper between the two shadows as long as the sheet.
  std::vector<int> column(static_cast<size_t>(face.height));
  for (int y = 0; y < face.height; ++y) column[static_cast<size_t>(y)] = Grey(face, face.width / 2, y);
  const int tallZone = top + ink;
  const auto above = Shadows({column.begin(), column.begin() + tallZone});
  const auto below = Shadows({column.end() - tallZone, column.end()});
  ASSERT_GE(above.first, 0) << "no shadow above the sheet";
  ASSERT_GE(below.first, 0) << "no shadow below the sheet";
  EXPECT_NEAR(above.second + 1, top, 2);
  EXPECT_NEAR((face.height - tallZone + below.first) - above.second - 1, sheetL, 2);
}

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.feeder.scanner.family << " " << c.paper.name; }

INSTANTIATE_TEST_SUITE_P(Families, RawFaceE2E,
                         ::testing::Values(RawCase{kSelko2, kLetter, 468 * kInch / 1200},
                                           RawCase{kSelko2, kA5, 468 * kInch / 1200},
                                           RawCase{kSelko, kA4, 468 * kInch / 1200}, RawCase{kBrenna, kA4, 6.5},
                                           RawCase{kDocuvane, kLetter, 16}),
                         [](const ::testing::TestParamInfo<RawCase>& i) {
                           return std::string(i.param.feeder.scanner.family) + "_" + i.param.paper.name;
                         });

void PrintTo(const MatrixCase& c, std::ostream* os) { *os << c.name; }

std::string CaseName(const ::testing::TestParamInfo<MatrixCase>& info) {
  std::string name;
  for (char ch : std::string(info.param.name)) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Families, PageMatrixE2E, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
