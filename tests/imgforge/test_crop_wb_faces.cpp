// The white-background crop on faces as a Selko2 scanner delivers them with
// automatic size (white sheet on its white backing, JPEG-coded), printed to
// the margins. A sheet wider than the window loses a side past the image's
// border: the crop keeps its paper to that border, not to the strongest
// inner edge (a box, a photo, a table rule, a text column).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "P2iCrppr.h"
#include "crop_test_util.h"

namespace {

using Content = dravn_pages::BackedPageSpec::Content;

struct Paper {
  const char* name;
  double w, h;
};
const Paper kA4{"A4", 210, 297}, kLetter{"Letter", 215.9, 279.4}, kLegal{"Legal", 215.9, 355.6}, kA5{"A5", 148, 210};

// Where the feeder put the sheet: centred, or against one side of the
// window with its over-scan, the other side past the border.
enum class Place { Centred, Left, Right };

struct Face {
  int dpi;
  Paper paper;
  Content content;
  double angle;
  Place place;
  int side;  // 1 front, 2 back: the back is searched upside down
  // The window's end, from the image's top (0: below the sheet): a longer
  // sheet runs on past it, and so do its side shadows.
  double imageMm = 0;
  // The model name the crop is asked for (null: a Selko2's, kind 8).
  const char* scanner = nullptr;
  // Backing that search is known to keep beside the paper, millimetres.
  double surplusMm = 0;
  // The level of the light rim on the edge facing the lamp; 0: no rim.
  int rim = 255;
};

const char* Name(Content c) {
  static const char* const names[] = {"bars", "text", "justified", "box", "photo", "table"};
  return names[static_cast<int>(c)];
}

// The face and, for the test, where the page lies in it.
crop_test::Input Render(const Face& f) {
  auto spec = dravn_pages::Selko2FaceSpec(f.dpi, f.paper.w, f.paper.h, f.content, f.angle, f.side == 2);
  spec.seed = static_cast<uint32_t>(f.dpi + static_cast<int>(f.content) * 7 + f.side);
  if (f.rim == 0) spec.rimPx = 0;
  spec.rimLevel = f.rim;
  const double a = f.angle * M_PI / 180;
  const double bw = f.paper.w * std::cos(a) + f.paper.h * std::fabs(std::sin(a));
  const double toSide = spec.marginMm + bw / 2 - spec.windowWidthMm / 2;
  spec.offsetXMm = f.place == Place::Left ? toSide : f.place == Place::Right ? -toSide : 0;
  crop_test::Input in = crop_test::MakeInput(spec);
  if (f.imageMm > 0) {
    dravn_pages::Image& img = in.page.image;
    img.height = std::min(img.height, static_cast<int>(std::lround(f.imageMm * f.dpi / 25.4)));
    img.pixels.resize(img.BytesPerLine() * img.height);
    in.info.nHeight = img.height;
    in.info.nImageSize = in.info.nBytesPerLine * img.height;
  }
  dravn_pages::Image coded;
  EXPECT_TRUE(dravn_pages::DecodeJpeg(dravn_pages::EncodeJpeg(in.page.image, false, 85), &coded));
  in.pixels = coded.pixels;
  in.info.pImageData = in.pixels.data();
  return in;
}

struct Cut {
  int rc = -1;
  double skew = 0;
  p2iwb::tagPOINT corners[4] = {};  // y-up
  int width = 0, height = 0;          // of the cut-out
};

Cut CropFace(const Face& f, crop_test::Input& in) {
  alignas(8) FSIP_CRPWB_S_CRPALL rec{};
  rec.cbSize = 98;
  rec.bADF = 1;
  std::strcpy(rec.szScanner, f.scanner ? f.scanner : "Selko2S420");
  rec.NotifyOutImgInfo = crop_test::NotifyOutImgInfo;
  rec.bySide = static_cast<uint8_t>(f.side);
  rec.sOVS = -1;
  crop_test::Notify n;
  crop_test::Output out;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
  Cut cut;
  cut.rc = p2iwb::CropAllWB(&in.info, &rec, &out.info, &layout, &n);
  const auto& c = layout.layoutCrop.cornerPts;
  cut.corners[0] = {c.ptLT.x, c.ptLT.y};
  cut.corners[1] = {c.ptLB.x, c.ptLB.y};
  cut.corners[2] = {c.ptRB.x, c.ptRB.y};
  cut.corners[3] = {c.ptRT.x, c.ptRT.y};
  cut.skew = layout.layoutCrop.dSkew;
  cut.width = out.info.nWidth;
  cut.height = out.info.nHeight;
  return cut;
}

// The paper inside the image: the page's corners clipped to the image's
// edges (pixel edges, x right and y down).
std::vector<std::array<double, 2>> VisiblePaper(const crop_test::Input& in) {
  const auto& c = in.page.corners;  // left-top, right-top, left-bottom, right-bottom
  std::vector<std::array<double, 2>> poly = {
      {c[0][0], c[0][1]}, {c[1][0], c[1][1]}, {c[3][0], c[3][1]}, {c[2][0], c[2][1]}};
  const double W = in.info.nWidth, H = in.info.nHeight;
  // One half-plane at a time: a x + b y <= e.
  const double planes[4][3] = {{-1, 0, 0}, {1, 0, W}, {0, -1, 0}, {0, 1, H}};
  for (const auto& pl : planes) {
    std::vector<std::array<double, 2>> out;
    for (size_t i = 0; i < poly.size(); ++i) {
      const auto& p = poly[i];
      const auto& q = poly[(i + 1) % poly.size()];
      const double dp = pl[0] * p[0] + pl[1] * p[1] - pl[2], dq = pl[0] * q[0] + pl[1] * q[1] - pl[2];
      if (dp <= 0) out.push_back(p);
      if ((dp < 0) != (dq < 0) && dp != dq) {
        const double t = dp / (dp - dq);
        out.push_back({p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])});
      }
    }
    poly = out;
  }
  return poly;
}

// Two pixels of the full-size search, the pixel a turned corner loses to
// truncation and the half pixel a boundary leaves.
constexpr double kTol = 4;

void PrintTo(const Face& f, std::ostream* os) {
  *os << f.paper.name << " " << Name(f.content) << " " << f.dpi << " dpi " << f.angle << " deg side " << f.side;
}

class Selko2Faces : public ::testing::TestWithParam<Face> {};

// The paper inside the image is kept whole: every corner of it, the points
// where the page runs past the border included, lies inside the cut-out.
// The cut-out holds no more backing than its angle's error makes it.
TEST_P(Selko2Faces, CropKeepsThePaperToTheBorder) {
  const Face f = GetParam();
  crop_test::Input in = Render(f);
  const Cut cut = CropFace(f, in);
  ASSERT_EQ(0, cut.rc);
  // The cut-out's corners (pixel centres, y down), in order round it.
  std::array<double, 2> q[4];
  double mx = 0, my = 0;
  for (int k = 0; k < 4; ++k) {
    q[k][0] = cut.corners[k].x + 0.5, q[k][1] = -cut.corners[k].y + 0.5;
    mx += q[k][0] / 4, my += q[k][1] / 4;
  }
  std::sort(q, q + 4, [&](const std::array<double, 2>& a, const std::array<double, 2>& b) {
    return std::atan2(a[1] - my, a[0] - mx) < std::atan2(b[1] - my, b[0] - mx);
  });
  const double slack = kTol + std::fabs(cut.skew + f.angle) * M_PI / 180 * (in.page.widthPx + in.page.heightPx) +
                       f.surplusMm * f.dpi / 25.4;
  const auto paper = VisiblePaper(in);
  for (int k = 0; k < 4; ++k) {
    const auto& a = q[k];
    const auto& b = q[(k + 1) % 4];
    // Which side this is, by where its middle lies.
    const double dx = (a[0] + b[0]) / 2 - mx, dy = (a[1] + b[1]) / 2 - my;
    const std::string name = std::fabs(dx) > std::fabs(dy) ? (dx < 0 ? "left" : "right") : (dy < 0 ? "top" : "bottom");
    const double len = std::hypot(b[0] - a[0], b[1] - a[1]);
    double closest = 1e9;
    for (const auto& p : paper) {
      // Positive inside: the corners run clockwise as seen with y down.
      const double inside = ((b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])) / len;
      EXPECT_GE(inside, -kTol) << name << " side cuts off paper at " << p[0] << "," << p[1];
      closest = std::min(closest, inside);
    }
    EXPECT_LE(closest, slack) << name << " side lies off the paper";
  }
}

INSTANTIATE_TEST_SUITE_P(PastTheBorder, Selko2Faces,
                         ::testing::Values(Face{200, kA4, Content::Box, 0, Place::Left, 1},
                                           Face{200, kA4, Content::Photo, 2.5, Place::Left, 2},
                                           Face{200, kLetter, Content::Table, -2.5, Place::Left, 1},
                                           Face{200, kLegal, Content::Justified, 0, Place::Right, 2},
                                           Face{300, kA4, Content::Table, 0, Place::Left, 2},
                                           Face{300, kLetter, Content::Box, 2.5, Place::Right, 1},
                                           Face{300, kLegal, Content::Photo, -2.5, Place::Left, 1},
                                           Face{300, kLetter, Content::Justified, -2.5, Place::Left, 2},
                                           Face{300, kA4, Content::MarginText, 2.5, Place::Right, 2},
                                           // No straight side past the border: the rectangle round
                                           // an odd-shaped sheet's edge points (the last unturned,
                                           // no side found at all).
                                           Face{200, kLegal, Content::Photo, -2.5, Place::Left, 2},
                                           Face{200, kLetter, Content::MarginText, -2.5, Place::Left, 2},
                                           Face{200, kLegal, Content::MarginText, 2.5, Place::Left, 2}),
                         [](const ::testing::TestParamInfo<Face>& i) {
                           const Face& f = i.param;
                           std::string a = std::to_string(static_cast<int>(f.angle * 10));
                           if (a[0] == '-') a[0] = 'm';
                           return std::string(f.paper.name) + "_" + Name(f.content) + "_" + std::to_string(f.dpi) +
                                  "dpi_" + a +
                                  (f.place == Place::Left    ? "_left"
                                   : f.place == Place::Right ? "_right"
                                                             : "_centred") +
                                  "_side" + std::to_string(f.side);
                         });

// A sheet that fits the window with its shadow, centred as the feeder's
// guides centre it: the check finds every shadow ending at its corner and
// the corners are those the search found before it (to the pixel).
// Sheets longer than the window (Legal in one that ends 316.8 mm down, as
// a Selko2 window does with the default A4 paper size), inner edges across
// them: the paper is kept to the window's end.
constexpr double kWindowEnd = 297 + 936 / 1200.0 * 25.4;
INSTANTIATE_TEST_SUITE_P(PastTheWindowsEnd, Selko2Faces,
                         ::testing::Values(Face{200, kLegal, Content::Box, 0, Place::Centred, 1, kWindowEnd},
                                           Face{300, kLegal, Content::Box, 0, Place::Centred, 2, kWindowEnd},
                                           Face{300, kLegal, Content::Table, 0, Place::Centred, 1, kWindowEnd}),
                         [](const ::testing::TestParamInfo<Face>& i) {
                           return std::string(Name(i.param.content)) + "_" + std::to_string(i.param.dpi) + "dpi_side" +
                                  std::to_string(i.param.side);
                         });

// The edge facing the lamp, whatever its rim: saturated, a few levels or
// none at all above the paper (230), so that the step up to it is too faint
// for the backward peak pick, or the paper meets its shadow directly. Inked
// to the margins, the side is not taken on the ink either.
INSTANTIATE_TEST_SUITE_P(
    LampRims, Selko2Faces,
    ::testing::Values(Face{200, kA4, Content::MarginText, 0, Place::Centred, 1, 0, nullptr, 0, 255},
                      Face{200, kA5, Content::Table, 0, Place::Centred, 2, 0, nullptr, 0, 242},
                      Face{300, kA4, Content::MarginText, 2.5, Place::Centred, 2, 0, nullptr, 0, 248},
                      Face{300, kLetter, Content::Box, -1, Place::Centred, 1, 0, nullptr, 0, 0},
                      Face{200, kA5, Content::Photo, -2.5, Place::Centred, 1, 0, nullptr, 0, 236},
                      Face{300, kA5, Content::Justified, 0, Place::Centred, 1, 0, "SelkoS150", 0, 0},
                      Face{200, kA4, Content::Table, 1, Place::Centred, 2, 0, "SelkoS150", 0, 255}),
    [](const ::testing::TestParamInfo<Face>& i) {
      const Face& f = i.param;
      return std::string(f.scanner ? f.scanner : "Selko2S420") + "_" + f.paper.name + "_" + Name(f.content) + "_" +
             std::to_string(f.dpi) + "dpi_side" + std::to_string(f.side) + "_rim" + std::to_string(f.rim);
    });

// The 100-dpi search (the Brenna's kind 6, and kind 0 for a name in no row
// of the scanner table) on sheets whose side runs past the border: no side
// found there, the paper is kept to the border. That search keeps about
// 0.75 mm of shadow and backing on the other sides.
INSTANTIATE_TEST_SUITE_P(
    FirstSearch, Selko2Faces,
    ::testing::Values(Face{300, kA4, Content::Table, 0, Place::Left, 1, 0, "BrennaB", 1.0},
                      Face{200, kA4, Content::Photo, 0, Place::Right, 1, 0, "BrennaB", 1.0},
                      Face{300, kLetter, Content::Box, 0, Place::Left, 1, 0, "Unlisted", 1.0}),
    [](const ::testing::TestParamInfo<Face>& i) {
      return std::string(i.param.scanner) + "_" + Name(i.param.content) + "_" + std::to_string(i.param.dpi) + "dpi";
    });

// Sheets turned between two angles of the line fitter's 0.2-degree grid,
// long sides upright: the left and right sides lie along the paper's edges
// to their ends (each corner within 2 px across them, truncation included),
// and the cut-out, turned upright, is as wide as the paper within 2 px.
TEST(Selko2FacesInWindow, TurnedSidesRunAlongThePaper) {
  const Face faces[] = {
      {300, kA5, Content::MarginText, 2.5, Place::Centred, 2},
      {300, kA5, Content::Box, 2.5, Place::Centred, 2},
      {300, kA5, Content::Box, -2.5, Place::Centred, 1},
      {300, kA4, Content::Table, 1.3, Place::Centred, 1},
      {300, kA4, Content::Justified, 0.5, Place::Centred, 2, 0, "SelkoS150"},
      {300, kA5, Content::Justified, 0, Place::Centred, 1, 0, "SelkoS150", 0, 0},
  };
  for (const Face& f : faces) {
    SCOPED_TRACE(::testing::PrintToString(f));
    crop_test::Input in = Render(f);
    const Cut cut = CropFace(f, in);
    ASSERT_EQ(0, cut.rc);
    EXPECT_NEAR(in.page.widthPx, cut.width, 2);
    // Each corner found (pixel centres) against the paper's nearest corner
    // (pixel edges).
    for (int k = 0; k < 4; ++k) {
      const double x = cut.corners[k].x + 0.5, y = -cut.corners[k].y + 0.5;
      double best = 1e9, dx = 0;
      for (const auto& t : in.page.corners)
        if (std::hypot(t[0] - x, t[1] - y) < best) best = std::hypot(t[0] - x, t[1] - y), dx = x - t[0];
      EXPECT_LE(std::fabs(dx), 2) << "corner " << k;
    }
  }
}

TEST(Selko2FacesInWindow, SheetsKeepTheirCorners) {
  const Paper kCard{"card", 85.6, 54};
  struct {
    Face face;
    double skew;
    int64_t corners[4][2];  // y-up, in the order the crop layer gives
  } rows[] = {
      {{200, kA4, Content::Box, 0, Place::Centred, 1}, 0, {{37, -2416}, {37, -78}, {1690, -78}, {1690, -2416}}},
      {{300, kA4, Content::Photo, 1, Place::Centred, 2},
       -1.0000000117515608,
       {{85, -3668}, {24, -160}, {2504, -116}, {2565, -3625}}},
      {{200, kLetter, Content::Justified, 0, Place::Centred, 2},
       0,
       {{14, -2277}, {14, -77}, {1713, -77}, {1713, -2277}}},
      {{300, kLegal, Content::Table, 0, Place::Centred, 1}, 0, {{21, -4317}, {21, -117}, {2570, -117}, {2570, -4317}}},
      {{200, kA5, Content::MarginText, -2.5, Place::Centred, 1},
       2.5000000117515651,
       {{245, -1729}, {317, -77}, {1481, -128}, {1409, -1780}}},
      {{300, kCard, Content::MarginText, 0, Place::Centred, 1},
       1.1751560816057219e-08,
       {{790, -754}, {790, -117}, {1801, -117}, {1801, -754}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::PrintToString(r.face));
    crop_test::Input in = Render(r.face);
    const Cut cut = CropFace(r.face, in);
    ASSERT_EQ(0, cut.rc);
    EXPECT_DOUBLE_EQ(r.skew, cut.skew);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(r.corners[k][0], cut.corners[k].x) << k;
      EXPECT_EQ(r.corners[k][1], cut.corners[k].y) << k;
    }
  }
}

// The left/right gathering with the streak test of the faces' search asks
// each side column once and keeps its answer: the points are those of the
// plain loop that tests the columns at every point, on faces of every
// content with streaks down their backing, turned both ways, front and
// back, in both passes.
p2iwb::PointList PlainLeftRight(const _P2IIMG* img, const uint8_t* ref1, const uint8_t* ref2, int pass, bool flag) {
  const int w = img->nWidth, h = img->nHeight;
  const double step = pass ? (flag ? 2.0 : 4.0) : (flag ? 1.0 : 2.0);
  std::vector<uint8_t> buf(static_cast<size_t>(4) * w);
  std::vector<int> found, streakL, streakR;
  p2iwb::PointList out;
  for (int k = 1;; ++k) {
    const int y = static_cast<int>(k * step * img->nYResolution / 25.4);
    if (y >= h - 2) break;
    if (y <= 1) continue;
    found.clear();
    p2iwb::StDevRowRGB(img, y, buf.data() + w);
    for (int c = 0; c < 3; ++c) {
      const uint8_t* p = buf.data() + w + static_cast<size_t>(c) * w;
      const uint8_t* lv = ref2 + static_cast<size_t>(c) * w;
      // The streak test, point by point: every third row a point stands
      // when the columns 4 and 8 further in show an edge of their own.
      auto streakTest = [&](int x, int dir) {
        std::vector<int>& streaks = dir == 0 ? streakL : streakR;
        if (std::find(streaks.begin(), streaks.end(), x) != streaks.end()) return 2;
        if (k % 3 != 1) return 1;
        std::vector<uint8_t> dev(h), mean(h);
        for (int off : {4, 8}) {
          const int col = dir == 0 ? x + off : x - off;
          if (col < 2 || col > w - 3) return 2;
          p2iwb::GetStDevV(img, col, c, dev.data(), mean.data());
          std::vector<int> e;
          p2iwb::GetEdge(mean.data(), ref2[static_cast<size_t>(c) * w + col], h, e);
          if (e.empty()) {
            streaks.push_back(x);
            return 2;
          }
        }
        return 1;
      };
      auto accept = [&](int j, int dir) {
        const int v = p[j], d = p[j + 1] - p[j - 1];
        if (!((v < lv[j] - 6 || v > lv[j] + 6) && (d < -4 || d > 4))) return 0;
        return streakTest(j, dir);
      };
      int a = -1;
      for (int j = 1; j <= w - 2; ++j)
        if (accept(j, 0) == 1) {
          a = j;
          break;
        }
      if (a >= 0) found.push_back(a);
      for (int j = w - 2; j >= 1; --j)
        if (accept(j, 1) == 1) {
          if (j != a && (a >= 0 || j != 0)) found.push_back(j);
          break;
        }
    }
    if (found.empty()) continue;
    const auto mm = std::minmax_element(found.begin(), found.end());
    out.push_back({*mm.first, y});
    if (*mm.second != *mm.first) out.push_back({*mm.second, y});
  }
  return out;
}

TEST(Selko2FacesInWindow, StreakTestAsksEachColumnOnce) {
  const Face faces[] = {
      {300, kA4, Content::MarginText, 1.5, Place::Centred, 1}, {300, kA4, Content::Photo, -2, Place::Centred, 2},
      {200, kA5, Content::Table, 0.5, Place::Left, 1},        {150, kLetter, Content::Box, -1, Place::Right, 2},
  };
  const int saved = p2iwb::gbTatesujiJudge;
  p2iwb::gbTatesujiJudge = 1;
  for (const Face& f : faces) {
    SCOPED_TRACE(::testing::PrintToString(f));
    crop_test::Input in = Render(f);
    // Streaks down the middle of the backing, as dust on the glass draws
    // them for a while: one in every channel left of the sheet, one in red
    // alone right of it.
    const int bpl = in.info.nBytesPerLine;
    for (int y = in.info.nHeight / 4; y < in.info.nHeight * 3 / 4; ++y)
      for (int x : {12, 13, in.info.nWidth - 15, in.info.nWidth - 14})
        for (int c = 0; c < 3; ++c)
          if (x < in.info.nWidth / 2 || c == 0) in.pixels[static_cast<size_t>(y) * bpl + 3 * x + c] -= 60;
    _P2IIMG img{in.pixels.data(), 24, 0, in.info.nWidth, in.info.nHeight, in.info.nBytesPerLine,
                in.info.nImageSize, f.dpi, f.dpi, 0, 0, in.info.nWidth - 1, in.info.nHeight - 1};
    const size_t n = static_cast<size_t>(img.nWidth) * 3;
    std::vector<uint8_t> refs(2 * n);
    p2iwb::MakeStdData(&img, f.side == 2, refs.data(), refs.data() + n);
    for (int pass : {1, 0})
      for (bool flag : {true, false}) {
        p2iwb::PointList got;
        ASSERT_EQ(0, p2iwb::GetEdgeH(&img, refs.data(), refs.data() + n, pass, got, flag));
        const p2iwb::PointList want = PlainLeftRight(&img, refs.data(), refs.data() + n, pass, flag);
        ASSERT_FALSE(want.empty());
        ASSERT_EQ(want.size(), got.size()) << "pass " << pass << " flag " << flag;
        for (size_t i = 0; i < want.size(); ++i)
          ASSERT_TRUE(want[i].x == got[i].x && want[i].y == got[i].y) << "point " << i;
      }
  }
  p2iwb::gbTatesujiJudge = saved;
}

}  // namespace
