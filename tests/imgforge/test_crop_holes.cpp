// Punch holes found and painted over, through the staged library: pages
// with discs of known centre and size on a dark backing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "crop_test_util.h"

using namespace crop_test;

namespace {

using PunchFn = int(FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_PHRMV*, void*, void*, void*, int*);

FSIP_CRP_S_PHRMV HoleRecord(const std::vector<unsigned char>& tone, int ovs, uint32_t fill = 0xFFFFFF) {
  alignas(8) FSIP_CRP_S_PHRMV r{};
  r.cbSize = 84;
  r.bOVS = ovs;
  r.dwHoleRemoveType = fill;
  r.bADF = 1;
  r.wFBCropSearchWidth = 0xFFFF;
  r.wFBCropIgnoreLength = 0xFFFF;
  r.wBlackBkThreshold = 64;
  r.byTransferDataType = 0x83;
  r.pbySendData = const_cast<unsigned char*>(tone.data());
  return r;
}

// Two or three 6-mm holes 11 mm inside the left side.
dravn_pages::BackedPageSpec HoledPage(int dpi, int channels, double angle, int count, double pitch) {
  dravn_pages::BackedPageSpec s;
  s.dpi = dpi;
  s.channels = channels;
  s.angleDeg = angle;
  s.text = false;
  s.backing = 3;  // a sheet-fed hole must read below grey 10
  const double mid = 297 / 2.0;
  for (int k = 0; k < count; ++k) s.holes.push_back({11, mid + (k - (count - 1) / 2.0) * pitch, 6});
  return s;
}

struct Case {
  int dpi;
  int channels;  // 0 one bit
  double angle;
  int count;
  double pitch;
};

class HolePages : public ::testing::TestWithParam<Case> {};

// Mean of channel values in a square of half-size r about (x, y).
double MeanAt(const std::vector<uint8_t>& px, int width, int ch, double x, double y, int r) {
  double s = 0;
  int n = 0;
  for (int yy = static_cast<int>(y) - r; yy <= static_cast<int>(y) + r; ++yy)
    for (int xx = static_cast<int>(x) - r; xx <= static_cast<int>(x) + r; ++xx)
      for (int c = 0; c < ch; ++c, ++n) s += px[(static_cast<size_t>(yy) * width + xx) * ch + c];
  return s / n;
}

// How many pixels the removal changed; fails where one lies outside every
// hole's three-fold lid window (three lids of a 6-mm hole plus margin).
size_t ChangedNearHolesOnly(const std::vector<uint8_t>& before, const Input& in, int ch, double px) {
  const auto& img = in.page.image;
  const double reach = 3 * (3 + 0.5) * px;
  size_t changed = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const size_t i = (static_cast<size_t>(y) * img.width + x) * ch;
      if (std::equal(before.begin() + i, before.begin() + i + ch, in.pixels.begin() + i)) continue;
      ++changed;
      bool near = false;
      for (const auto& h : in.page.holeCentres) near = near || std::hypot(x - h[0], y - h[1]) <= reach;
      if (!near) {
        ADD_FAILURE() << "pixel " << x << "," << y << " changed far from any hole";
        return changed;
      }
    }
  return changed;
}

TEST_P(HolePages, HolesReadWhiteAndNothingElseChanges) {
  const Case c = GetParam();
  Library lib;
  ASSERT_TRUE(lib.handle);
  auto* punch = lib.Get<PunchFn>("FsipCrp_PunchHoleRemove");
  ASSERT_TRUE(punch);
  auto tone = ToneBlock();
  Input in = MakeInput(HoledPage(c.dpi, c.channels == 0 ? 1 : c.channels, c.angle, c.count, c.pitch), c.channels == 0);
  const std::vector<uint8_t> before = in.pixels;
  auto rec = HoleRecord(tone, 1);
  int result = -7;
  ASSERT_EQ(0, punch(&in.info, &rec, nullptr, nullptr, nullptr, &result));
  EXPECT_EQ(1, result);
  const double px = c.dpi / 25.4;
  const auto& img = in.page.image;
  if (c.channels == 0) {
    // One bit: every hole centre now reads white (bit set).
    const size_t bpl = (img.width + 7) / 8;
    for (const auto& h : in.page.holeCentres) {
      const int x = static_cast<int>(h[0]), y = static_cast<int>(h[1]);
      EXPECT_TRUE(in.pixels[y * bpl + x / 8] & (0x80 >> (x & 7))) << x << "," << y;
    }
    return;
  }
  const int ch = c.channels;
  for (const auto& h : in.page.holeCentres)
    EXPECT_GT(MeanAt(in.pixels, img.width, ch, h[0], h[1], static_cast<int>(2.5 * px)), 250) << h[0] << "," << h[1];
  EXPECT_GT(ChangedNearHolesOnly(before, in, ch, px), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pages, HolePages,
                         ::testing::Values(Case{200, 3, 0, 2, 80}, Case{300, 3, 0, 2, 80}, Case{300, 1, 3, 2, 80},
                                           Case{300, 3, -3, 3, 108}, Case{200, 1, 0, 3, 108},
                                           Case{300, 0, 0, 2, 80}, Case{600, 1, 0, 2, 80}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                           const Case& c = i.param;
                           const char* kind = c.channels == 0 ? "bw" : c.channels == 1 ? "grey" : "colour";
                           return std::to_string(c.dpi) + "dpi_" + kind + "_" +
                                  (c.angle < 0 ? "minus" : "plus") + std::to_string(static_cast<int>(std::fabs(c.angle))) +
                                  "deg_" + std::to_string(c.count) + "holes";
                         });

TEST(HoleRemoval, PageWithoutHolesAnswersTwoAndStaysAsItWas) {
  Library lib;
  auto* punch = lib.Get<PunchFn>("FsipCrp_PunchHoleRemove");
  ASSERT_TRUE(punch);
  auto tone = ToneBlock();
  Input in = MakeInput(HoledPage(200, 3, 0, 0, 0));
  const std::vector<uint8_t> before = in.pixels;
  auto rec = HoleRecord(tone, 1);
  int result = -7;
  ASSERT_EQ(0, punch(&in.info, &rec, nullptr, nullptr, nullptr, &result));
  EXPECT_EQ(2, result);
  EXPECT_EQ(before, in.pixels);
  // A missing result pointer is never written.
  ASSERT_EQ(0, punch(&in.info, &rec, nullptr, nullptr, nullptr, nullptr));
}

TEST(HoleRemoval, WithoutOverscanTheImageBordersAreTheSides) {
  Library lib;
  auto* punch = lib.Get<PunchFn>("FsipCrp_PunchHoleRemove");
  ASSERT_TRUE(punch);
  auto tone = ToneBlock();
  // A page that fills its image: no backing round it.
  auto spec = HoledPage(200, 1, 0, 2, 80);
  spec.marginMm = 0;
  Input in = MakeInput(spec);
  auto rec = HoleRecord(tone, 0);
  int result = -7;
  ASSERT_EQ(0, punch(&in.info, &rec, nullptr, nullptr, nullptr, &result));
  EXPECT_EQ(1, result);
  for (const auto& h : in.page.holeCentres)
    EXPECT_GT(MeanAt(in.pixels, in.page.image.width, 1, h[0], h[1], 4), 250);
}

// With 0x80000000 the holes take the paper's colour round them, within one
// 16-level bin: grey paper, and tinted stock in colour.
TEST(HoleRemoval, PaperColourFillTakesTheTintAroundTheHole) {
  Library lib;
  auto* punch = lib.Get<PunchFn>("FsipCrp_PunchHoleRemove");
  ASSERT_TRUE(punch);
  auto tone = ToneBlock();
  const struct {
    int channels;
    int paper;
    int tint[3];
  } cases[] = {{1, 200, {0, 0, 0}}, {3, 214, {14, 0, -40}}, {3, 190, {-20, 10, 30}}};
  for (const auto& c : cases) {
    auto spec = HoledPage(300, c.channels, 0, 2, 80);
    spec.paper = static_cast<uint8_t>(c.paper);
    std::copy(c.tint, c.tint + 3, spec.paperTint);
    Input in = MakeInput(spec);
    auto rec = HoleRecord(tone, 1, 0x80000000u);
    int result = -7;
    ASSERT_EQ(0, punch(&in.info, &rec, nullptr, nullptr, nullptr, &result));
    EXPECT_EQ(1, result);
    const int w = in.page.image.width;
    for (const auto& h : in.page.holeCentres)
      for (int ch = 0; ch < c.channels; ++ch) {
        // The hole's middle, one channel at a time.
        double sum = 0;
        int n = 0;
        for (int y = static_cast<int>(h[1]) - 5; y <= static_cast<int>(h[1]) + 5; ++y)
          for (int x = static_cast<int>(h[0]) - 5; x <= static_cast<int>(h[0]) + 5; ++x, ++n)
            sum += in.pixels[(static_cast<size_t>(y) * w + x) * c.channels + ch];
        EXPECT_NEAR(sum / n, c.paper + c.tint[ch], 16) << c.paper << " channel " << ch;
      }
  }
}

// A page stored inverted (0 is white): the holes are found all the same and
// painted with the stored white; nothing far from them changes, and the
// result word stays 0.
TEST(HoleRemoval, AnInvertedPageLosesItsHolesToStoredWhite) {
  Library lib;
  auto* punch = lib.Get<PunchFn>("FsipCrp_PunchHoleRemove");
  ASSERT_TRUE(punch);
  auto tone = ToneBlock();
  for (int channels : {1, 3}) {
    Input in = MakeInput(HoledPage(300, channels, 0, 2, 80));
    for (auto& v : in.pixels) v = static_cast<uint8_t>(255 - v);
    in.info.nPixelFlavor = 1;
    const std::vector<uint8_t> before = in.pixels;
    auto rec = HoleRecord(tone, 1);
    int result = -7;
    ASSERT_EQ(0, punch(&in.info, &rec, nullptr, nullptr, nullptr, &result)) << channels;
    EXPECT_EQ(0, result) << channels;
    const double px = 300 / 25.4;
    const int w = in.page.image.width;
    for (const auto& h : in.page.holeCentres)
      EXPECT_LT(MeanAt(in.pixels, w, channels, h[0], h[1], static_cast<int>(2.5 * px)), 5) << channels;
    EXPECT_GT(ChangedNearHolesOnly(before, in, channels, px), 0u);
  }
}

// The two holes of HoledPage, 11 mm from the cut page's left side, read white.
void ExpectLeftHolesWhite(const Output& out, int dpi) {
  const double px = dpi / 25.4;
  const int x = static_cast<int>(11 * px), r = static_cast<int>(2 * px);
  for (double yMm : {297 / 2.0 - 40, 297 / 2.0 + 40}) {
    const int y = static_cast<int>(yMm * px);
    EXPECT_GT(out.Mean(x - r, y - r, x + r, y + r), 250) << yMm;
  }
}

// The crop with bit 1, then the cut-out of the area that crop found, with
// bit 1 too.
TEST(HoleRemoval, CropAndCutOutWithBitOneCoverTheHolesInTheOutput) {
  Library lib;
  ASSERT_TRUE(lib.Ok());
  auto tone = ToneBlock();
  Input in = MakeInput(HoledPage(300, 3, 1, 2, 80));
  auto rec = CropRecord(tone);
  rec.dwFuncFlag = 2;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
  {
    Notify n;
    Output out;
    ASSERT_EQ(0, lib.cropAll(&in.info, &rec, &out.info, &layout, &n, nullptr));
    ExpectLeftHolesWhite(out, 300);
  }
  // The input stays as it came.
  Input again = MakeInput(HoledPage(300, 3, 1, 2, 80));
  EXPECT_EQ(again.pixels, in.pixels);
  alignas(8) FSIP_CRP_S_SPECIFIEDAREA_CRP area{};
  area.crpAll = CropRecord(tone);
  area.crpAll.wBlackBkThreshold = 0;
  area.crpAll.dwFuncFlag = 2;
  area.layout = layout;
  Notify n;
  Output out;
  ASSERT_EQ(0, lib.specified(&in.info, &area, &out.info, nullptr, &n));
  ExpectLeftHolesWhite(out, 300);
}

TEST(FoldedPages, AFoldedCornerIsReportedAStraightSheetIsNot) {
  Library lib;
  ASSERT_TRUE(lib.Ok());
  auto tone = ToneBlock();
  for (double fold : {0.0, 20.0}) {
    dravn_pages::BackedPageSpec s;
    s.dpi = 200;
    s.angleDeg = 2;
    s.foldMm = fold;
    Input in = MakeInput(s);
    alignas(8) FSIP_CRP_S_AIQC rec{};
    rec.cbSize = sizeof rec;
    rec.wFBCropSearchWidth = 0xFFFF;
    rec.wFBCropIgnoreLength = 0xFFFF;
    rec.wBlackBkThreshold = 64;
    rec.byTransferDataType = 0x83;
    rec.pbySendData = tone.data();
    EXPECT_EQ(fold > 0 ? 32770 : 0, lib.aiqc(&in.info, &rec, nullptr, nullptr)) << fold;
  }
}

}  // namespace

namespace {

using DupCropFn = int(FSIP_S_IMAGEINFO_EX*, _FSIP_CRP_S_DUPCRPALL*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*,
                      void*, int*);
using DupCrop2Fn = int(FSIP_S_IMAGEINFO_EX*, _FSIP_CRP_S_DUPCRPALL2*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*,
                       void*, int*, void*);
using DupPunchFn = int(FSIP_S_IMAGEINFO_EX*, _FSIP_CRP_S_DUPPHRMV*, void*, void*);

// A sheet's two faces: the back is the front mirrored left to right, its
// holes with it.
struct Sheet {
  Input front, back;
  FSIP_S_IMAGEINFO_EX pair[2];
  explicit Sheet(const dravn_pages::BackedPageSpec& spec, bool blank = false)
      : front(MakeInput(spec)), back(MakeInput(spec)) {
    const auto& img = front.page.image;
    const int ch = img.channels;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x)
        for (int c = 0; c < ch; ++c)
          back.pixels[(static_cast<size_t>(y) * img.width + x) * ch + c] =
              front.pixels[(static_cast<size_t>(y) * img.width + (img.width - 1 - x)) * ch + c];
    if (blank) {
      std::fill(front.pixels.begin(), front.pixels.end(), 3);
      std::fill(back.pixels.begin(), back.pixels.end(), 3);
    }
    back.info.pImageData = back.pixels.data();
    pair[0] = front.info;
    pair[1] = back.info;
  }
};

struct DupOut {
  FSIP_S_IMAGEINFO_EX o[2]{};
  ~DupOut() {
    free(o[0].pImageData);
    free(o[1].pImageData);
  }
};

TEST(DuplexCrop, RequestedFacesComeOutWithTheirHolesCovered) {
  Library lib;
  auto* dup = lib.Get<DupCropFn>("FsipCrp_DupCropAll");
  ASSERT_TRUE(dup);
  auto tone = ToneBlock();
  auto spec = HoledPage(200, 3, 2, 2, 80);
  Sheet sheet(spec);
  for (uint32_t req : {0u, 1u, 2u}) {
    alignas(8) _FSIP_CRP_S_DUPCRPALL rec{};
    rec.crpAll[0] = rec.crpAll[1] = CropRecord(tone);
    rec.crpAll[0].dwFuncFlag = rec.crpAll[1].dwFuncFlag = 2;
    rec.nReqSide = req;
    Notify n;
    DupOut out;
    ASSERT_EQ(0, dup(sheet.pair, &rec, out.o, nullptr, &n, nullptr)) << req;
    EXPECT_EQ(req == 2 ? 2 : 1, n.calls);
    const double px = 200 / 25.4;
    for (int s = 0; s < 2; ++s) {
      const bool wanted = req == 2 || static_cast<int>(req) == s;
      ASSERT_EQ(wanted, out.o[s].pImageData != nullptr) << req << " " << s;
      if (!wanted) continue;
      EXPECT_NEAR(210 * px, out.o[s].nWidth, 6);
      EXPECT_NEAR(297 * px, out.o[s].nHeight, 6);
      // Front holes 11 mm from the left side; on the back, from the right.
      const int x = static_cast<int>(s == 0 ? 11 * px : out.o[s].nWidth - 11 * px);
      const int y = static_cast<int>((297 / 2.0 - 40) * px), r = static_cast<int>(2 * px);
      Output view;
      view.info = out.o[s];
      EXPECT_GT(view.Mean(x - r, y - r, x + r, y + r), 250) << req << " " << s;
      view.info.pImageData = nullptr;
    }
  }
}

// A blank back whose paper edge barely shows against the backing: its own
// search finds no side, and it is cut with the front's outline mirrored,
// to within 2 pixels, turned page and all.
TEST(DuplexCrop, AFaintBackTakesTheFrontsOutline) {
  Library lib;
  auto* dup = lib.Get<DupCropFn>("FsipCrp_DupCropAll");
  ASSERT_TRUE(dup);
  auto tone = ToneBlock();
  for (double angle : {0.0, 2.0}) {
    auto spec = HoledPage(200, 3, angle, 0, 0);
    spec.text = true;
    spec.offsetXMm = 4;
    Sheet sheet(spec);
    // The back: the same sheet mirrored, no text, on a backing 5 levels
    // below the paper.
    auto faint = spec;
    faint.text = false;
    faint.backing = static_cast<uint8_t>(spec.paper - 5);
    faint.backingNoise = 2;
    const auto back = dravn_pages::RenderBackedPage(faint).image;
    for (int y = 0; y < back.height; ++y)
      for (int x = 0; x < back.width; ++x)
        std::copy_n(back.Row(y) + (back.width - 1 - x) * 3, 3,
                    sheet.back.pixels.data() + (static_cast<size_t>(y) * back.width + x) * 3);
    alignas(8) _FSIP_CRP_S_DUPCRPALL rec{};
    rec.crpAll[0] = rec.crpAll[1] = CropRecord(tone);
    rec.nReqSide = 2;
    Notify n;
    DupOut out;
    ASSERT_EQ(0, dup(sheet.pair, &rec, out.o, nullptr, &n, nullptr)) << angle;
    const double px = 200 / 25.4;
    EXPECT_NEAR(210 * px, out.o[0].nWidth, 6) << angle;
    EXPECT_NEAR(297 * px, out.o[0].nHeight, 6) << angle;
    EXPECT_NEAR(out.o[0].nWidth, out.o[1].nWidth, 2) << angle;
    EXPECT_NEAR(out.o[0].nHeight, out.o[1].nHeight, 2) << angle;
    // Cut where the page is: the back's output is its faint paper all over,
    // no backing-dark border.
    Output view;
    view.info = out.o[1];
    const int w = view.info.nWidth, h = view.info.nHeight;
    EXPECT_GT(view.Mean(0, 0, 3, h), spec.paper - 12) << angle;
    EXPECT_GT(view.Mean(w - 3, 0, w, h), spec.paper - 12) << angle;
    view.info.pImageData = nullptr;
  }
}

TEST(DuplexCrop, BothFacesBlankAnswerMinusFiveWithoutCallback) {
  Library lib;
  auto* dup = lib.Get<DupCropFn>("FsipCrp_DupCropAll");
  ASSERT_TRUE(dup);
  auto tone = ToneBlock();
  Sheet sheet(HoledPage(200, 1, 0, 0, 0), true);
  alignas(8) _FSIP_CRP_S_DUPCRPALL rec{};
  rec.crpAll[0] = rec.crpAll[1] = CropRecord(tone);
  rec.nReqSide = 2;
  Notify n;
  DupOut out;
  EXPECT_EQ(-5, dup(sheet.pair, &rec, out.o, nullptr, &n, nullptr));
  EXPECT_EQ(0, n.calls);
}

TEST(DuplexCrop, AFailingCallbackForARequestedFaceAnswersMinusOne) {
  Library lib;
  auto* dup = lib.Get<DupCropFn>("FsipCrp_DupCropAll");
  ASSERT_TRUE(dup);
  auto tone = ToneBlock();
  Sheet sheet(HoledPage(200, 1, 0, 0, 0));
  alignas(8) _FSIP_CRP_S_DUPCRPALL rec{};
  rec.crpAll[0] = rec.crpAll[1] = CropRecord(tone);
  rec.nReqSide = 2;
  Notify n;
  n.answer = -1;
  DupOut out;
  EXPECT_EQ(-1, dup(sheet.pair, &rec, out.o, nullptr, &n, nullptr));
}

TEST(DuplexCrop, MarginsVariantCutsBothFaces) {
  Library lib;
  auto* dup2 = lib.Get<DupCrop2Fn>("FsipCrp_DupCropAll2");
  ASSERT_TRUE(dup2);
  auto tone = ToneBlock();
  Sheet sheet(HoledPage(200, 3, 0, 2, 80));
  alignas(8) _FSIP_CRP_S_DUPCRPALL2 rec{};
  rec.crpAll2[0].crpAll = rec.crpAll2[1].crpAll = CropRecord(tone);
  rec.crpAll2[0].crpAll.cbSize = rec.crpAll2[1].crpAll.cbSize = 100;
  rec.nReqSide = 2;
  Notify n;
  DupOut out;
  int tabs = -3;
  ASSERT_EQ(0, dup2(sheet.pair, &rec, out.o, nullptr, &n, &tabs, nullptr));
  EXPECT_EQ(2, n.calls);
  EXPECT_EQ(0, tabs);
  const double px = 200 / 25.4;
  for (int s = 0; s < 2; ++s) {
    EXPECT_NEAR(210 * px, out.o[s].nWidth, 6);
    EXPECT_NEAR(297 * px, out.o[s].nHeight, 6);
  }
}

TEST(DuplexHoleRemoval, BothFacesLoseTheirHoles) {
  Library lib;
  auto* dup = lib.Get<DupPunchFn>("FsipCrp_DupPunchHoleRemove");
  ASSERT_TRUE(dup);
  auto tone = ToneBlock();
  Sheet sheet(HoledPage(200, 1, 0, 2, 80));
  alignas(8) _FSIP_CRP_S_DUPPHRMV rec{};
  rec.phRmv[0] = rec.phRmv[1] = HoleRecord(tone, 1);
  rec.nReqSide = 2;
  ASSERT_EQ(0, dup(sheet.pair, &rec, nullptr, nullptr));
  const auto& img = sheet.front.page.image;
  for (const auto& h : sheet.front.page.holeCentres) {
    EXPECT_GT(MeanAt(sheet.front.pixels, img.width, 1, h[0], h[1], 4), 250);
    EXPECT_GT(MeanAt(sheet.back.pixels, img.width, 1, img.width - 1 - h[0], h[1], 4), 250);
  }
}

}  // namespace

namespace {

using ControlFn = int(fsipctl_request*, fsipctl_image*, fsipctl_image*, unsigned char*);

// The backends' road: fsip_control with punch-hole removal alone (0x10)
// and with the crop (0x11), on a page with two holes.
TEST(HoleRemovalByControl, TheControlEntryRemovesHolesAloneAndWithTheCrop) {
  Library lib;
  auto* control = lib.Get<ControlFn>("fsip_control");
  ASSERT_TRUE(control);
  unsigned char lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(i);
  for (int32_t flags : {0x10, 0x11}) {
    Input in = MakeInput(HoledPage(200, 1, 0, 2, 80));
    fsipctl_request req{};
    req.dwFlags = flags;
    req.nHoleFill = 1;
    req.bADF = 1;
    fsipctl_image img[2]{}, res[2]{};
    img[0] = {in.pixels.data(), 200, in.info.nWidth, in.info.nHeight, 8, in.info.nImageSize, 0};
    ASSERT_EQ(0, control(&req, img, res, lut)) << flags;
    const double px = 200 / 25.4;
    if (flags == 0x10) {
      for (const auto& h : in.page.holeCentres)
        EXPECT_GT(MeanAt(in.pixels, in.info.nWidth, 1, h[0], h[1], 4), 250);
      continue;
    }
    ASSERT_TRUE(res[0].pImageData);
    std::vector<uint8_t> out(res[0].pImageData, res[0].pImageData + res[0].nImageSize);
    free(res[0].pImageData);
    EXPECT_NEAR(210 * px, res[0].nWidth, 6);
    for (double yMm : {297 / 2.0 - 40, 297 / 2.0 + 40})
      EXPECT_GT(MeanAt(out, res[0].nImageSize / res[0].nHeight, 1, 11 * px, yMm * px, 4), 250) << yMm;
  }
}


}  // namespace

// The exact bytes of both faces, with and without holes, at 0 and 2
// degrees, in colour and grey: the speed work on the shared stages must
// change no pixel. The caller's faces stay as they came.
TEST(DuplexCrop, OutputsPinnedAndInputsUntouched) {
  Library lib;
  auto* dup = lib.Get<DupCropFn>("FsipCrp_DupCropAll");
  auto* dup2 = lib.Get<DupCrop2Fn>("FsipCrp_DupCropAll2");
  ASSERT_TRUE(dup && dup2);
  auto tone = ToneBlock();
  auto fnv = [](const FSIP_S_IMAGEINFO_EX& o) {
    uint64_t h = 1469598103934665603ull;
    const size_t row = static_cast<size_t>(o.nWidth) * (o.nDepth / 8);
    for (int y = 0; y < o.nHeight; ++y)
      for (size_t i = 0; i < row; ++i) h = (h ^ o.pImageData[static_cast<size_t>(y) * o.nBytesPerLine + i]) * 1099511628211ull;
    return h;
  };
  struct Row {
    int channels;
    double angle;
    uint32_t flags;
    bool margins;
    uint64_t front, back;
  };
  const Row rows[] = {
      {3, 2, 2, false, 0x3b6482377e626910ull, 0x3934abb81d370625ull},
      {3, 0, 0, false, 0xb464ed72e9d5f98ull, 0x7425b742a08a957full},
      {1, -1.5, 2, false, 0xe698bb1aa99f223ull, 0xcd841ebec83ef70ull},
      {3, 2, 2, true, 0x3b6482377e626910ull, 0x3934abb81d370625ull},
      {1, 0, 0, true, 0xb3a39cae03d0a2e2ull, 0xb356716c97b1ecefull},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.channels << " " << r.angle << " " << r.flags << " " << r.margins);
    auto spec = HoledPage(200, r.channels, r.angle, 2, 80);
    spec.text = true;
    Sheet sheet(spec);
    const auto front = sheet.front.pixels, back = sheet.back.pixels;
    Notify n;
    DupOut out;
    if (r.margins) {
      alignas(8) _FSIP_CRP_S_DUPCRPALL2 rec{};
      rec.crpAll2[0].crpAll = rec.crpAll2[1].crpAll = CropRecord(tone);
      rec.crpAll2[0].crpAll.cbSize = rec.crpAll2[1].crpAll.cbSize = 100;
      rec.crpAll2[0].crpAll.dwFuncFlag = rec.crpAll2[1].crpAll.dwFuncFlag = r.flags;
      rec.nReqSide = 2;
      ASSERT_EQ(0, dup2(sheet.pair, &rec, out.o, nullptr, &n, nullptr, nullptr));
    } else {
      alignas(8) _FSIP_CRP_S_DUPCRPALL rec{};
      rec.crpAll[0] = rec.crpAll[1] = CropRecord(tone);
      rec.crpAll[0].dwFuncFlag = rec.crpAll[1].dwFuncFlag = r.flags;
      rec.nReqSide = 2;
      ASSERT_EQ(0, dup(sheet.pair, &rec, out.o, nullptr, &n, nullptr));
    }
    EXPECT_EQ(r.front, fnv(out.o[0]));
    EXPECT_EQ(r.back, fnv(out.o[1]));
    EXPECT_TRUE(front == sheet.front.pixels);
    EXPECT_TRUE(back == sheet.back.pixels);
  }
}
