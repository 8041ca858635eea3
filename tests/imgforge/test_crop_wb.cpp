// The white-background crop engine, bound from the staged library: pages on
// a white backing whose edges show only as a faint shadow.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>

#include "crop_test_util.h"

namespace {

struct GdpInfo {  // the engine's device description, 48 bytes
  unsigned char reserved[8];
  double dTopSnsX, dTopSnsY;
  int32_t bInvGamma, bNoSideRepair;
  int64_t nDevKind, nDevOpt;
};
struct Point {
  int64_t x, y;
};
struct DocPos {
  double dSkew;
  Point pt[4];
};
struct CrpInfo {
  double dSkew;
  Point pt[4];
  int32_t nMode;
};
static_assert(sizeof(GdpInfo) == 48 && sizeof(DocPos) == 72, "engine records");

using WBCropAllFn = int(const FSIP_S_IMAGEINFO_EX*, FSIP_CRPWB_S_CRPALL*, FSIP_S_IMAGEINFO_EX*,
                        FSIP_CRP_S_DUAL_LAYOUT*, void*, void*);
using WBSpecFn = int(const FSIP_S_IMAGEINFO_EX*, FSIP_CRPWB_S_SPECIFIEDAREA_CRP*, FSIP_S_IMAGEINFO_EX*, void*, void*);
using DocPosFn = int(_P2IIMG*, GdpInfo*, void*, DocPos*);
using CroppingFn = int(_P2IIMG*, CrpInfo*, _P2IIMG*);

struct WB : crop_test::Library {
  WBCropAllFn* cropAll = Get<WBCropAllFn>("FsipCrpWB_CropAll");
  WBSpecFn* specified = Get<WBSpecFn>("FsipCrpWB_SpecifiedAreaCrop");
  DocPosFn* docPos = Get<DocPosFn>("P2iGetDocPos");
  CroppingFn* cropping = Get<CroppingFn>("P2iCropping");
  double* angleCheck = Get<double>("gdblWBCropAngleCheck");
  // The engine's sine/cosine table lives until the control layer frees it,
  // as the backend does at its exit.
  ~WB() {
    if (auto* freeTables = Get<void()>("fsip_FreeSinCos")) freeTables();
  }
};

WB& Lib() {
  static WB lib;
  return lib;
}

FSIP_CRPWB_S_CRPALL Record(const char* scanner, int side, int ovs) {
  alignas(8) FSIP_CRPWB_S_CRPALL r{};
  r.cbSize = 98;
  r.bADF = 1;
  strncpy(r.szScanner, scanner, sizeof r.szScanner - 1);
  r.NotifyOutImgInfo = crop_test::NotifyOutImgInfo;
  r.bySide = static_cast<uint8_t>(side);
  r.sOVS = static_cast<int16_t>(ovs);
  return r;
}

_P2IIMG P2i(crop_test::Input& in) {
  _P2IIMG p{};
  p.pImageData = in.pixels.data();
  p.nBitsPerPixel = in.info.nDepth;
  p.nWidth = in.info.nWidth;
  p.nHeight = in.info.nHeight;
  p.nBytesPerLine = in.info.nBytesPerLine;
  p.nImageSize = in.info.nImageSize;
  p.nXResolution = in.info.nXResolution;
  p.nYResolution = in.info.nYResolution;
  p.nRight = p.nWidth - 1;
  p.nBottom = p.nHeight - 1;
  return p;
}

// How each device kind frames its search: upside down (its lamp-facing
// edge is the top one) and on which working image.
bool SearchesUpsideDown(int kind, int opt) {
  switch (kind) {
    case 2:
    case 3:
    case 5:
      return true;
    case 1:
    case 7:
      return opt == 0;
    case 4:
    case 8:
      return opt == 1;
    default:
      return false;
  }
}

// What the found corners and sizes may be off by, in image pixels: two
// pixels of the image the search works on (the 100-dpi copy, or the page at
// full size up to 300 dpi and at half size above), and the half pixel either
// way that a boundary between pixels leaves.
double Tolerance(int kind, int dpi) {
  const bool ownSize = kind == 3 || kind == 4 || kind == 7 || kind == 8;
  const double searchPx = ownSize ? (dpi <= 300 ? 1.0 : 2.0) : dpi / 100.0;
  return 2 * searchPx + 1;
}

// The page's corner nearest a found one (y-up frame) must lie within the
// tolerance in each direction.
void ExpectCorners(const dravn_pages::BackedPage& page, const Point* found, double tol) {
  for (const auto& corner : page.corners) {
    double dx = 1e9, dy = 1e9;
    for (int k = 0; k < 4; ++k) {
      const double x = found[k].x + 0.5 - corner[0], y = -found[k].y + 0.5 - corner[1];
      if (std::hypot(x, y) < std::hypot(dx, dy)) dx = x, dy = y;
    }
    EXPECT_LE(std::fabs(dx), tol) << "corner at " << corner[0] << "," << corner[1];
    EXPECT_LE(std::fabs(dy), tol) << "corner at " << corner[0] << "," << corner[1];
  }
}

// No paper outside the found sides: every corner of the page lies inside
// the found quadrilateral (corners y-up, on pixel centres), or at most
// `slack` pixels outside it.
void ExpectPaperInside(const dravn_pages::BackedPage& page, const Point* found, double slack) {
  // The corners as rows, in turn round their middle.
  std::array<std::pair<double, double>, 4> q;
  double cx = 0, cy = 0;
  for (int k = 0; k < 4; ++k) {
    q[k] = {found[k].x + 0.5, -found[k].y + 0.5};
    cx += q[k].first / 4, cy += q[k].second / 4;
  }
  std::sort(q.begin(), q.end(), [&](const auto& a, const auto& b) {
    return std::atan2(a.second - cy, a.first - cx) < std::atan2(b.second - cy, b.first - cx);
  });
  for (int k = 0; k < 4; ++k) {
    const auto [ax, ay] = q[k];
    const auto [bx, by] = q[(k + 1) % 4];
    const double len = std::hypot(bx - ax, by - ay);
    ASSERT_GT(len, 0);
    // Signed distance, positive on the side away from the middle.
    auto out = [&](double x, double y) { return ((bx - ax) * (y - ay) - (by - ay) * (x - ax)) / len; };
    const double sign = out(cx, cy) > 0 ? -1 : 1;
    for (const auto& corner : page.corners)
      EXPECT_LE(sign * out(corner[0], corner[1]), slack) << "page corner " << corner[0] << "," << corner[1]
                                                       << " outside the side from " << ax << "," << ay << " to "
                                                       << bx << "," << by;
  }
}

struct Case {
  int kind;
  int opt;  // the device option: the back face
  int dpi;
  int channels;
  double angle;
};

// A stable name in test listings.
void PrintTo(const Case& c, std::ostream* os) {
  *os << "kind " << c.kind << "/" << c.opt << " " << c.dpi << " dpi " << c.channels << " ch " << c.angle << " deg";
}

class WBSearchPages : public ::testing::TestWithParam<Case> {};

// The engine's own entries: the search finds the page's corners and skew,
// and the cutter gives the page's size, for every device kind.
TEST_P(WBSearchPages, DocPosAndCroppingFindThePage) {
  ASSERT_TRUE(Lib().docPos && Lib().cropping);
  const Case c = GetParam();
  const bool upside = SearchesUpsideDown(c.kind, c.opt);
  auto spec = dravn_pages::WhiteBackedSpec(c.dpi, c.angle, c.channels, upside);
  spec.widthMm = 130;
  spec.heightMm = 180;
  spec.seed = static_cast<uint32_t>(c.dpi + c.kind);
  auto in = crop_test::MakeInput(spec);
  const std::vector<uint8_t> before = in.pixels;
  _P2IIMG img = P2i(in);
  GdpInfo info{};
  const double xCorr = c.opt ? -8.0 : 8.0;
  info.dTopSnsX = in.info.nWidth * 25.4 / c.dpi / 2 + xCorr;
  info.dTopSnsY = crop_test::LeadingEdgeOvs(in, xCorr, upside) / 10.0;
  info.nDevKind = c.kind;
  info.nDevOpt = c.opt;
  DocPos pos{};
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &pos));
  EXPECT_EQ(before, in.pixels);
  EXPECT_NEAR(pos.dSkew, -c.angle, 0.15);
  const double tol = Tolerance(c.kind, c.dpi);
  ExpectCorners(in.page, pos.pt, tol);
  // The search on the 100-dpi copy keeps all of the paper, but for a corner
  // of a turned page, where a side's slope off by a little may take up to a
  // pixel of the copy (the paper's pixels reach half a pixel past a found
  // corner's centre).
  if (c.kind <= 2 || c.kind == 5 || c.kind == 6) ExpectPaperInside(in.page, pos.pt, c.dpi / 100.0 + 0.5);
  CrpInfo crop{pos.dSkew, {pos.pt[0], pos.pt[1], pos.pt[2], pos.pt[3]}, 1};
  _P2IIMG out{};
  ASSERT_EQ(0, Lib().cropping(&img, &crop, &out));
  EXPECT_NEAR(out.nWidth, in.page.widthPx, 2 * tol);
  EXPECT_NEAR(out.nHeight, in.page.heightPx, 2 * tol);
  free(out.pImageData);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WBSearchPages,
    ::testing::Values(Case{0, 0, 200, 1, 0}, Case{0, 0, 300, 3, 3}, Case{0, 0, 600, 1, -0.5}, Case{0, 0, 200, 3, 10},
                      Case{1, 0, 200, 3, 0.5}, Case{1, 1, 300, 1, -3}, Case{2, 0, 200, 1, 7}, Case{2, 0, 300, 3, -7},
                      Case{3, 0, 300, 1, 3}, Case{3, 0, 301, 3, -0.5}, Case{4, 0, 150, 3, -3}, Case{4, 1, 200, 1, 7},
                      Case{4, 0, 600, 3, 0}, Case{5, 0, 200, 3, -3}, Case{6, 0, 300, 1, 10}, Case{6, 0, 200, 3, -7},
                      Case{7, 0, 200, 3, -0.5}, Case{7, 1, 300, 1, 3}, Case{8, 0, 200, 3, 7}, Case{8, 1, 150, 1, -7}),
    [](const ::testing::TestParamInfo<Case>& i) {
      std::string a = std::to_string(static_cast<int>(i.param.angle * 10));
      if (a[0] == '-') a[0] = 'm';
      return "kind" + std::to_string(i.param.kind) + "opt" + std::to_string(i.param.opt) + "_" +
             std::to_string(i.param.dpi) + "dpi_" + std::to_string(i.param.channels) + "ch_" + a;
    });

struct RowCase {
  const char* scanner;  // names the device kind
  int side;             // 1 front, 2 back
  int dpi;
  int channels;
  double angle;
  double xCorrMm;  // the row's sensor column correction for the face
  bool upside;     // the kind searches this face upside down
};

void PrintTo(const RowCase& c, std::ostream* os) {
  *os << c.scanner << " side " << c.side << " " << c.dpi << " dpi " << c.angle << " deg";
}

class WBPages : public ::testing::TestWithParam<RowCase> {};

// The whole entry: the cut-out is the page's size, the input untouched.
TEST_P(WBPages, CropAllGivesThePageUpright) {
  ASSERT_TRUE(Lib().cropAll);
  const RowCase c = GetParam();
  auto spec = dravn_pages::WhiteBackedSpec(c.dpi, c.angle, c.channels, c.upside);
  spec.widthMm = 150;
  spec.heightMm = 200;
  auto in = crop_test::MakeInput(spec);
  const std::vector<uint8_t> before = in.pixels;
  auto rec = Record(c.scanner, c.side, crop_test::LeadingEdgeOvs(in, c.xCorrMm, c.upside));
  crop_test::Notify n;
  crop_test::Output out;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
  ASSERT_EQ(0, Lib().cropAll(&in.info, &rec, &out.info, &layout, &n, nullptr));
  EXPECT_EQ(before, in.pixels);
  const int kind = std::string(c.scanner) == "SelkoS150" ? 4 : std::string(c.scanner) == "Selko2S420" ? 8
                   : std::string(c.scanner) == "ZemblZ350" ? 7 : 0;
  const double tol = Tolerance(kind, c.dpi);
  EXPECT_NEAR(out.info.nWidth, in.page.widthPx, 2 * tol);
  EXPECT_NEAR(out.info.nHeight, in.page.heightPx, 2 * tol);
  EXPECT_NEAR(layout.layoutCrop.dSkew, -c.angle, 0.15);
  // Paper inside, no backing shadow at the middle of each side.
  const int w = out.info.nWidth, h = out.info.nHeight;
  EXPECT_NEAR(out.Mean(w / 2 - 5, 10, w / 2 + 5, 20), spec.paper, 6);
  EXPECT_NEAR(out.Mean(10, h / 2 - 5, 20, h / 2 + 5), spec.paper, 6);
}

INSTANTIATE_TEST_SUITE_P(Rows, WBPages,
                         ::testing::Values(RowCase{"Unknown", 1, 200, 3, 0, 8.0, false},
                                           RowCase{"Unknown", 1, 300, 1, 3, 8.0, false},
                                           RowCase{"Tavrin4T1000", 1, 200, 3, 0.5, -8.5, true},
                                           RowCase{"SelkoS150", 1, 300, 1, -3, -9.9, false},
                                           RowCase{"SelkoS150", 2, 200, 3, 3, 9.9, true},
                                           RowCase{"Selko2S420", 1, 200, 3, 7, -9.9, false},
                                           RowCase{"BrennaB700", 1, 200, 1, 10, -9.0, false},
                                           RowCase{"ZemblZ350", 1, 200, 3, -0.5, -30, true}),
                         [](const ::testing::TestParamInfo<RowCase>& i) {
                           std::string n = i.param.scanner;
                           return n + "_side" + std::to_string(i.param.side) + "_" + std::to_string(i.param.dpi) + "dpi";
                         });

// The specified-area record that asks for what the whole-page record does.
FSIP_CRPWB_S_SPECIFIEDAREA_CRP SpecifiedArea(const FSIP_CRPWB_S_CRPALL& rec) {
  FSIP_CRPWB_S_SPECIFIEDAREA_CRP sp{};
  std::memcpy(&sp, &rec, 74);
  sp.cbSize = 248;
  sp.pbySendData = nullptr;
  return sp;
}

TEST(WBEntries, SteepSkewAndSmallCutsAreRefused) {
  ASSERT_TRUE(Lib().cropAll && Lib().angleCheck);
  auto spec = dravn_pages::WhiteBackedSpec(200, 3, 1);
  spec.widthMm = 150;
  spec.heightMm = 200;
  auto in = crop_test::MakeInput(spec);
  auto rec = Record("Unknown", 1, -1);
  {
    // With the angle check above 45 - 3 degrees the found skew is refused.
    const double saved = *Lib().angleCheck;
    *Lib().angleCheck = 42.5;
    crop_test::Notify n;
    crop_test::Output out;
    EXPECT_EQ(-5, Lib().cropAll(&in.info, &rec, &out.info, nullptr, &n, nullptr));
    EXPECT_EQ(0, n.calls);
    *Lib().angleCheck = saved;
  }
  // A page lower than half the input: -5, no callback.
  auto low = dravn_pages::WhiteBackedSpec(200, 0, 1);
  low.widthMm = 150;
  low.heightMm = 60;
  low.marginMm = 40;
  auto in2 = crop_test::MakeInput(low);
  rec.sOVS = crop_test::LeadingEdgeOvs(in2, 8.0);
  crop_test::Notify n;
  crop_test::Output out;
  EXPECT_EQ(-5, Lib().cropAll(&in2.info, &rec, &out.info, nullptr, &n, nullptr));
  EXPECT_EQ(0, n.calls);
}

TEST(WBEntries, OneBitPageComesBackInOneBit) {
  ASSERT_TRUE(Lib().cropAll);
  auto spec = dravn_pages::WhiteBackedSpec(200, 2, 1);
  spec.widthMm = 150;
  spec.heightMm = 200;
  spec.paper = 200;  // the 1-bit page keeps the paper dark enough to show
  spec.shadowDepth = 160;
  auto in = crop_test::MakeInput(spec, true);
  auto rec = Record("Unknown", 1, -1);
  crop_test::Notify n;
  crop_test::Output out;
  const int rc = Lib().cropAll(&in.info, &rec, &out.info, nullptr, &n, nullptr);
  if (rc != 0) GTEST_SKIP() << "no page found on the 1-bit input: " << rc;
  EXPECT_EQ(1, out.info.nDepth);
  EXPECT_EQ(0, out.info.nPixelType);
  EXPECT_EQ(0, out.info.nColorSeq);
  EXPECT_EQ((out.info.nWidth + 7) / 8, out.info.nBytesPerLine);
  EXPECT_EQ(out.info.nBytesPerLine * out.info.nHeight, out.info.nImageSize);
}

// The cut is drawn into the caller's buffer without whitening it first:
// every byte still comes out the same whatever the buffer held, with rows
// as wide as the cut or wider, on straight and turned pages, grey and colour.
TEST(WBEntries, CutFillsTheCallersBufferWhateverItHeld) {
  ASSERT_TRUE(Lib().cropAll);
  for (int channels : {1, 3})
    for (double angle : {0.0, -3.0, 2.0}) {
      SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(angle) + " degrees");
      auto spec = dravn_pages::WhiteBackedSpec(200, angle, channels);
      spec.widthMm = 150;
      spec.heightMm = 200;
      auto in = crop_test::MakeInput(spec);
      crop_test::Output plain;
      {
        auto rec = Record("SelkoS150", 1, -1);
        crop_test::Notify n;
        ASSERT_EQ(0, Lib().cropAll(&in.info, &rec, &plain.info, nullptr, &n, nullptr));
      }
      for (int widen : {0, 5}) {
        crop_test::Output clean, dirty;
        auto rec = Record("SelkoS150", 1, -1);
        crop_test::Notify nc, nd;
        nc.widen = nd.widen = widen;
        nd.dirty = true;
        ASSERT_EQ(0, Lib().cropAll(&in.info, &rec, &clean.info, nullptr, &nc, nullptr));
        ASSERT_EQ(0, Lib().cropAll(&in.info, &rec, &dirty.info, nullptr, &nd, nullptr));
        ASSERT_EQ(clean.info.nImageSize, dirty.info.nImageSize);
        EXPECT_EQ(0, std::memcmp(clean.info.pImageData, dirty.info.pImageData,
                                 static_cast<size_t>(clean.info.nImageSize)));
        const size_t row = static_cast<size_t>(plain.info.nBytesPerLine);
        for (int y = 0; y < plain.info.nHeight; ++y)
          ASSERT_EQ(0, std::memcmp(plain.info.pImageData + y * row,
                                   dirty.info.pImageData + static_cast<size_t>(y) * dirty.info.nBytesPerLine, row))
              << widen << " row " << y;
      }
    }
}

// Through the control entry a caller may offer a block for the cut in its
// result record (pointer and capacity): the cut goes into it when it fits,
// the same bytes as into a block of the library's; a block too small, the
// input page itself, a 1-bit page and a failed crop leave the offered
// block the caller's and untouched.
TEST(WBEntries, ControlCutsIntoTheBlockTheCallerOffers) {
  using ControlFn = int(fsipctl_request*, fsipctl_image*, fsipctl_image*, unsigned char*);
  auto* control = Lib().Get<ControlFn>("fsip_control");
  ASSERT_TRUE(control);
  unsigned char lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(i);
  struct Case {
    const char* name;
    int channels;
    double angle;
    bool mono;
    int64_t slack;  // offered capacity less the cut's size (negative: too small)
    bool offerInput;
    bool blank;  // a page without paper on it: the crop fails
    bool used;
  } cases[] = {
      {"colour, turned, room to spare", 3, 2.0, false, 4096, false, false, true},
      {"colour, straight, exact size", 3, 0.0, false, 0, false, false, true},
      {"grey, turned, one byte short", 1, -3.0, false, -1, false, false, false},
      {"colour, the input page offered", 3, 2.0, false, 4096, true, false, false},
      {"1 bit", 1, 2.0, true, 4096, false, false, false},
      {"colour, blank page", 3, 0.0, false, 4096, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto spec = dravn_pages::WhiteBackedSpec(200, c.angle, c.channels);
    spec.widthMm = 150;
    spec.heightMm = 200;
    if (c.mono) spec.paper = 200, spec.shadowDepth = 160;
    if (c.blank) spec.widthMm = spec.heightMm = 5;
    auto in = crop_test::MakeInput(spec, c.mono);
    fsipctl_request req{};
    req.dwFlags = FSIPCTL_FUNC_WHITE_BG_CROP;
    req.nSide = 1;
    std::strncpy(req.szScanner, "Selko2S420", sizeof req.szScanner - 1);
    fsipctl_image img[2]{}, plain[2]{};
    img[0] = {in.pixels.data(), 200, in.info.nWidth, in.info.nHeight, in.info.nDepth, in.info.nImageSize, 0};
    const int rc = control(&req, img, plain, lut);
    const size_t size = rc == 0 ? static_cast<size_t>(plain[0].nImageSize) : 1 << 20;
    std::vector<uint8_t> block(static_cast<size_t>(std::max<int64_t>(1, static_cast<int64_t>(size) + c.slack)), 0x5A);
    const std::vector<uint8_t> before = block, page = in.pixels;
    fsipctl_image offered[2]{};
    offered[0].pImageData = c.offerInput ? in.pixels.data() : block.data();
    offered[0].nImageSize = static_cast<int32_t>(c.offerInput ? in.pixels.size() : block.size());
    ASSERT_EQ(rc, control(&req, img, offered, lut));
    EXPECT_EQ(page, in.pixels);
    if (rc != 0) {
      EXPECT_TRUE(c.blank);
      EXPECT_EQ(before, block);
      continue;
    }
    ASSERT_FALSE(c.blank);
    EXPECT_EQ(c.used, offered[0].pImageData == block.data());
    EXPECT_EQ(plain[0].nWidth, offered[0].nWidth);
    EXPECT_EQ(plain[0].nHeight, offered[0].nHeight);
    ASSERT_EQ(plain[0].nImageSize, offered[0].nImageSize);
    EXPECT_EQ(0, std::memcmp(plain[0].pImageData, offered[0].pImageData, size));
    if (!c.used) {
      EXPECT_EQ(before, block);
      EXPECT_NE(in.pixels.data(), offered[0].pImageData);
      free(offered[0].pImageData);
    }
    free(plain[0].pImageData);
  }
}

TEST(WBEntries, SpecifiedAreaCropsLikeTheWholePage) {
  ASSERT_TRUE(Lib().cropAll && Lib().specified);
  auto spec = dravn_pages::WhiteBackedSpec(200, -3, 3);
  spec.widthMm = 150;
  spec.heightMm = 200;
  auto in = crop_test::MakeInput(spec);
  auto rec = Record("SelkoS150", 1, -1);
  alignas(8) FSIP_CRPWB_S_SPECIFIEDAREA_CRP sp = SpecifiedArea(rec);
  crop_test::Notify n1, n2;
  crop_test::Output a, b;
  ASSERT_EQ(0, Lib().cropAll(&in.info, &rec, &a.info, nullptr, &n1, nullptr));
  ASSERT_EQ(0, Lib().specified(&in.info, &sp, &b.info, nullptr, &n2));
  ASSERT_EQ(a.info.nImageSize, b.info.nImageSize);
  EXPECT_EQ(0, std::memcmp(a.info.pImageData, b.info.pImageData, static_cast<size_t>(a.info.nImageSize)));
}

// The search steps by millimetres: a page record without a resolution once
// kept it on the first row for good. Both entries refuse it at once.
TEST(WBEntries, PagesWithoutAResolutionAreRefused) {
  ASSERT_TRUE(Lib().cropAll && Lib().specified);
  auto spec = dravn_pages::WhiteBackedSpec(200, 2, 1);
  spec.widthMm = 60;
  spec.heightMm = 80;
  auto in = crop_test::MakeInput(spec);
  auto rec = Record("SelkoS150", 1, -1);
  alignas(8) FSIP_CRPWB_S_SPECIFIEDAREA_CRP sp = SpecifiedArea(rec);
  const int32_t x = in.info.nXResolution, y = in.info.nYResolution;
  for (const auto& [xres, yres] : {std::pair<int32_t, int32_t>{0, y}, {x, 0}, {-200, y}, {x, -1}}) {
    in.info.nXResolution = xres, in.info.nYResolution = yres;
    crop_test::Notify n1, n2;
    crop_test::Output a, b;
    EXPECT_EQ(-2, Lib().cropAll(&in.info, &rec, &a.info, nullptr, &n1, nullptr)) << xres << " " << yres;
    EXPECT_EQ(-2, Lib().specified(&in.info, &sp, &b.info, nullptr, &n2)) << xres << " " << yres;
    EXPECT_EQ(0, n1.calls + n2.calls);
  }
}

// Kind 2 searches upside down: its corners are the unturned image's.
TEST(WBSearch, UpsideDownKindAnswersInTheCallersFrame) {
  ASSERT_TRUE(Lib().docPos);
  auto spec = dravn_pages::WhiteBackedSpec(200, 3, 1);
  spec.widthMm = 150;
  spec.heightMm = 200;
  auto in = crop_test::MakeInput(spec);
  const std::vector<uint8_t> before = in.pixels;
  _P2IIMG img = P2i(in);
  GdpInfo info{};
  info.dTopSnsX = 100;
  info.dTopSnsY = 16;
  info.nDevKind = 2;
  DocPos pos{};
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &pos));
  EXPECT_EQ(before, in.pixels);
  EXPECT_NEAR(pos.dSkew, -3, 0.15);
  // Every page corner is near one found corner (y-up frame).
  for (const auto& corner : in.page.corners) {
    double best = 1e9;
    for (const Point& p : pos.pt)
      best = std::min(best, std::hypot(p.x - corner[0], -p.y - corner[1]));
    EXPECT_LT(best, 2 + 0.5 * 200 / 25.4);  // half a millimetre of the 100-dpi search
  }
  // An image only 10 mm wide (79 px at 200 dpi) is refused.
  _P2IIMG narrow = img;
  narrow.nWidth = 79;
  EXPECT_EQ(-8, Lib().docPos(&narrow, &info, nullptr, &pos));
}

// A page of a few dpi is "10 mm" long at four rows or columns, fewer than the
// search's 5 x 5 windows span: it is refused as too small, not read past its
// last row (a heap overflow the fuzz target found).
TEST(WBSearch, APageFewerThanFiveRowsOrColumnsIsTooSmall) {
  ASSERT_TRUE(Lib().docPos);
  struct {
    int depth, w, h, dpi;
  } rows[] = {{24, 40, 4, 6}, {8, 40, 4, 6}, {24, 4, 40, 6}, {8, 4, 40, 6}, {24, 40, 4, 0}};
  for (const auto& r : rows)
    for (int kind : {0, 1, 3, 4}) {
      SCOPED_TRACE(testing::Message() << r.depth << " bit " << r.w << "x" << r.h << " at " << r.dpi << " dpi, kind " << kind);
      const int bpl = r.w * r.depth / 8;
      std::vector<uint8_t> px(static_cast<size_t>(bpl) * r.h, 200);
      _P2IIMG img{px.data(), r.depth, 0, r.w, r.h, bpl, bpl * r.h, r.dpi, r.dpi, 0, 0, r.w - 1, r.h - 1};
      GdpInfo info{};
      info.nDevKind = kind;
      DocPos pos{};
      EXPECT_EQ(-8, Lib().docPos(&img, &info, nullptr, &pos));
    }
}

// A bottom shadow that runs on 3 mm past the bottom-right corner: the
// paper reaches that far, and the right side moves out to the shadow's end.
TEST(WBSearch, BottomShadowPastACornerMovesThatSideOut) {
  ASSERT_TRUE(Lib().docPos);
  for (double runMm : {0.0, 3.0}) {
    SCOPED_TRACE(runMm);
    auto spec = dravn_pages::WhiteBackedSpec(300, 0, 1);
    spec.widthMm = 150;
    spec.heightMm = 200;
    spec.bottomShadowRunMm = runMm;
    auto in = crop_test::MakeInput(spec);
    _P2IIMG img = P2i(in);
    GdpInfo info{};
    info.dTopSnsX = in.info.nWidth * 25.4 / 300 / 2 + 8.0;
    info.dTopSnsY = crop_test::LeadingEdgeOvs(in, 8.0) / 10.0;
    info.nDevKind = 0;
    DocPos pos{};
    ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &pos));
    int64_t right = 0, left = INT64_MAX;
    for (const Point& p : pos.pt) right = std::max(right, p.x), left = std::min(left, p.x);
    const double mm = 300 / 25.4;
    EXPECT_NEAR(right, in.page.corners[1][0] + runMm * mm, 1.0 * mm);
    EXPECT_NEAR(left, in.page.corners[0][0], 1.0 * mm);
  }
}

// A 150 x 200 mm grey page at 200 dpi, and a kind-0 device whose sensor
// stands at the image's middle column.
crop_test::Input SearchPage(double angle, double marginMm, double widthMm = 150, double heightMm = 200) {
  auto spec = dravn_pages::WhiteBackedSpec(200, angle, 1);
  spec.widthMm = widthMm;
  spec.heightMm = heightMm;
  spec.marginMm = marginMm;
  return crop_test::MakeInput(spec);
}

GdpInfo KindZeroInfo(const crop_test::Input& in) {
  GdpInfo info{};
  info.dTopSnsX = in.info.nWidth * 25.4 / 200 / 2 + 8.0;
  info.dTopSnsY = crop_test::LeadingEdgeOvs(in, 8.0) / 10.0;
  return info;
}

// A cheque-sized page (a side under 3 inches) is found with the finer pass.
TEST(WBSearch, ShortSidedPageIsFound) {
  ASSERT_TRUE(Lib().docPos);
  auto in = SearchPage(3, 15, 150, 60);
  _P2IIMG img = P2i(in);
  GdpInfo info = KindZeroInfo(in);
  DocPos pos{};
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &pos));
  EXPECT_NEAR(pos.dSkew, -3, 0.15);
  for (const auto& corner : in.page.corners) {
    double best = 1e9;
    for (const Point& p : pos.pt) best = std::min(best, std::hypot(p.x - corner[0], -p.y - corner[1]));
    EXPECT_LT(best, 2 + 2 * 200 / 25.4);  // the bottom side's allowance, as in the page table
  }
}

// A page whose left side lies off the image: the three sides found build
// the fourth, at the leftmost points of the top and bottom (the image's
// first columns), square to the bottom.
TEST(WBSearch, ThreeSidesBuildTheFourth) {
  ASSERT_TRUE(Lib().docPos);
  auto in = SearchPage(3, 15);
  // Cut the image 20 mm in from the left: the page's left side, 15 mm in,
  // goes with it.
  const int cut = static_cast<int>(20 * 200 / 25.4), w = in.info.nWidth - cut;
  std::vector<uint8_t> px;
  for (int y = 0; y < in.info.nHeight; ++y)
    px.insert(px.end(), in.pixels.begin() + static_cast<long>(y) * in.info.nWidth + cut,
              in.pixels.begin() + static_cast<long>(y + 1) * in.info.nWidth);
  in.pixels = px;
  in.info.pImageData = in.pixels.data();
  in.info.nWidth = in.info.nBytesPerLine = w;
  in.info.nImageSize = w * in.info.nHeight;
  for (auto& c : in.page.corners) c[0] -= cut;
  _P2IIMG img = P2i(in);
  GdpInfo info = KindZeroInfo(in);
  DocPos pos{};
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &pos));
  EXPECT_NEAR(pos.dSkew, -3, 0.15);
  const double tol = Tolerance(0, 200);
  // The right corners stand.
  for (int k : {1, 3}) {
    double dx = 1e9, dy = 1e9;
    for (const Point& p : pos.pt) {
      const double x = p.x + 0.5 - in.page.corners[k][0], y = -p.y + 0.5 - in.page.corners[k][1];
      if (std::hypot(x, y) < std::hypot(dx, dy)) dx = x, dy = y;
    }
    EXPECT_LE(std::fabs(dx), tol);
    EXPECT_LE(std::fabs(dy), tol);
  }
  // The built side runs square to the bottom and crosses the image's first
  // column step.
  std::vector<Point> left, right;
  for (const Point& p : pos.pt) (p.x < w / 2 ? left : right).push_back(p);
  ASSERT_EQ(2u, left.size());
  ASSERT_EQ(2u, right.size());
  const Point& bl = left[0].y < left[1].y ? left[0] : left[1];
  const Point& tl = left[0].y < left[1].y ? left[1] : left[0];
  const Point& br = right[0].y < right[1].y ? right[0] : right[1];
  const double side[2] = {static_cast<double>(tl.x - bl.x), static_cast<double>(tl.y - bl.y)};
  const double bottom[2] = {static_cast<double>(br.x - bl.x), static_cast<double>(br.y - bl.y)};
  const double cosine = (side[0] * bottom[0] + side[1] * bottom[1]) / std::hypot(side[0], side[1]) /
                        std::hypot(bottom[0], bottom[1]);
  EXPECT_LT(std::fabs(cosine), std::sin(0.2 * M_PI / 180));
  EXPECT_LE(std::min(tl.x, bl.x), 2 * 200 / 25.4 + tol);
  EXPECT_GE(std::max(tl.x, bl.x), -tol);
}

// A kind-0 page is found alike before and after a kind that lowers the
// backward edge level has searched in the same process: its rim brightens
// between the two levels.
TEST(WBSearch, ResultDoesNotDependOnEarlierKinds) {
  ASSERT_TRUE(Lib().docPos);
  auto spec = dravn_pages::WhiteBackedSpec(200, 3, 1);
  spec.widthMm = 150;
  spec.heightMm = 200;
  spec.rimLevel = 236;
  auto in = crop_test::MakeInput(spec);
  _P2IIMG img = P2i(in);
  GdpInfo info = KindZeroInfo(in);
  DocPos first{}, other{}, again{};
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &first));
  for (int64_t kind : {2, 4}) {
    info.nDevKind = kind;
    Lib().docPos(&img, &info, nullptr, &other);
  }
  info.nDevKind = 0;
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &again));
  EXPECT_EQ(0, std::memcmp(&first, &again, sizeof first));
}

// Kinds the engine does not know search as kind 0 does.
TEST(WBSearch, UnknownKindsSearchAsKindZero) {
  ASSERT_TRUE(Lib().docPos);
  auto in = SearchPage(-3, 15);
  _P2IIMG img = P2i(in);
  GdpInfo info = KindZeroInfo(in);
  DocPos zero{};
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &zero));
  for (int64_t kind : {9, 12, 1000}) {
    SCOPED_TRACE(kind);
    info.nDevKind = kind;
    DocPos pos{};
    ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &pos));
    EXPECT_EQ(0, std::memcmp(&zero, &pos, sizeof pos));
  }
}

// A page whose corners run off the image: strict mode refuses it but hands
// back what it found; otherwise the corners stand as found.
TEST(WBSearch, StrictModeRefusesCornersOutsideTheImage) {
  ASSERT_TRUE(Lib().docPos);
  auto in = SearchPage(3, -0.5);
  _P2IIMG img = P2i(in);
  GdpInfo info = KindZeroInfo(in);
  DocPos pos{};
  ASSERT_EQ(0, Lib().docPos(&img, &info, nullptr, &pos));
  bool outside = false;
  for (const Point& p : pos.pt)
    outside |= p.x < 0 || p.x >= in.info.nWidth || -p.y < 0 || -p.y >= in.info.nHeight;
  ASSERT_TRUE(outside);
  info.bNoSideRepair = 1;
  DocPos strict{};
  EXPECT_EQ(-9, Lib().docPos(&img, &info, nullptr, &strict));
  EXPECT_NEAR(strict.dSkew, -3, 0.15);
  for (const Point& p : strict.pt) EXPECT_TRUE(p.x != 0 || p.y != 0);
}

TEST(WBCutting, BoxesOfTheCutter) {
  ASSERT_TRUE(Lib().cropping);
  std::vector<uint8_t> px(300 * 200, 128);
  _P2IIMG in{px.data(), 8, 0, 300, 200, 300, 300 * 200, 100, 100, 0, 0, 299, 199};
  struct {
    int mode;
    int w, h;
  } rows[] = {{0 | 16, 187, 98}, {1 | 16, 191, 100}};
  for (const auto& r : rows) {
    CrpInfo c{0, {{10, 0}, {12, -99}, {200, -98}, {198, -1}}, r.mode};
    _P2IIMG out{};
    ASSERT_EQ(0, Lib().cropping(&in, &c, &out));
    EXPECT_EQ(r.w, out.nWidth);
    EXPECT_EQ(r.h, out.nHeight);
    EXPECT_EQ(px.data(), out.pImageData);  // geometry only: nothing allocated
  }
  // minW (39 px at 100 dpi) is accepted, one less refused.
  CrpInfo ok{0, {{0, 0}, {0, -99}, {38, -99}, {38, 0}}, 16};
  CrpInfo small{0, {{0, 0}, {0, -99}, {37, -99}, {37, 0}}, 16};
  _P2IIMG out{};
  EXPECT_EQ(0, Lib().cropping(&in, &ok, &out));
  EXPECT_EQ(-4, Lib().cropping(&in, &small, &out));
}

}  // namespace
