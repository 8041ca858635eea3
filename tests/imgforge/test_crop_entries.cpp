// The crop entries' cases as the control layer meets them: checks, the
// flatbed retry, the callback contract, margins, tabs, the specified area
// and the paper-position analysis, through the staged libimgforge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "crop_test_util.h"

using namespace crop_test;
using dravn_pages::BackedPageSpec;

namespace {

BackedPageSpec SmallPage(double angle = 0, int dpi = 150) {
  BackedPageSpec s;
  s.widthMm = 120;
  s.heightMm = 160;
  s.dpi = dpi;
  s.angleDeg = angle;
  return s;
}

class CropEntries : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lib.Ok()) << dlerror(); }
  Library lib;
  std::vector<unsigned char> tone = ToneBlock();
};

double Px(double mm, int dpi) { return mm * dpi / 25.4; }

}  // namespace

TEST_F(CropEntries, CasesOfTheEntries) {
  struct Row {
    const char* name;
    BackedPageSpec page;
    int adf;
    int expect;
    int calls;
  };
  BackedPageSpec lowRes = SmallPage(0, 40);
  // A dark sheet on the backing: too faint for the first search, not for
  // the weaker one that a flatbed scan gets.
  BackedPageSpec faint = SmallPage(2);
  faint.paper = 22;
  faint.backing = 6;
  faint.text = false;
  const Row rows[] = {
      {"40 dpi", lowRes, 1, FSIP_C_ERR_UNEXPECTED_ERROR, 0},
      {"faint sheet-fed", faint, 1, FSIP_C_ERR_UNEXPECTED_ERROR, 0},
      {"faint flatbed", faint, 0, 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Input in = MakeInput(r.page);
    alignas(8) auto rec = CropRecord(tone, r.adf);
    Notify notify;
    Output out;
    EXPECT_EQ(lib.cropAll(&in.info, &rec, &out.info, nullptr, &notify, nullptr), r.expect);
    EXPECT_EQ(notify.calls, r.calls);
    if (r.adf == 0) {
      EXPECT_EQ(rec.wFBCropSearchWidth, 22);
      EXPECT_EQ(rec.wFBCropIgnoreLength, 0);
    }
    if (r.expect == 0) {
      EXPECT_NEAR(out.info.nWidth, Px(r.page.widthMm, r.page.dpi), 3);
      EXPECT_NEAR(out.info.nHeight, Px(r.page.heightMm, r.page.dpi), 3);
    }
  }
}

TEST_F(CropEntries, InvertedPage) {
  // Stored inverted: the backing shows bright, the paper dark.
  BackedPageSpec spec = SmallPage(-4);
  spec.paper = 255 - 232;
  spec.backing = 255 - 18;
  spec.text = false;
  Input in = MakeInput(spec);
  in.info.nPixelFlavor = 1;
  alignas(8) auto rec = CropRecord(tone);
  Notify notify;
  Output out;
  alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
  ASSERT_EQ(lib.cropAll(&in.info, &rec, &out.info, &layout, &notify, nullptr), 0);
  EXPECT_EQ(+notify.asked.nPixelFlavor, 1);
  EXPECT_NEAR(layout.layoutCrop.dSkew, 4, 0.15);
  EXPECT_NEAR(out.info.nWidth, Px(spec.widthMm, spec.dpi), 3);
  EXPECT_NEAR(out.info.nHeight, Px(spec.heightMm, spec.dpi), 3);
  // No strip of bright backing (nor of the resampler's white outside) along
  // the sides: at most the edge pixel's share of it in the second line.
  EXPECT_LT(out.Mean(1, 0, 2, out.info.nHeight), 100);
  EXPECT_LT(out.Mean(2, 0, 3, out.info.nHeight), 40);
  EXPECT_LT(out.Mean(0, out.info.nHeight - 3, out.info.nWidth, out.info.nHeight - 2), 40);
}

TEST_F(CropEntries, PageRunningOffTheImage) {
  // Only the left and top sides are in the image; the crop reaches its last
  // row and column, which it reads in place.
  for (int channels : {3, 1}) {
    SCOPED_TRACE(channels);
    BackedPageSpec spec = SmallPage(0);
    spec.channels = channels;
    Input in = MakeInput(spec);
    const int w = static_cast<int>(in.page.corners[1][0]) - 40, h = static_cast<int>(in.page.corners[2][1]) - 60;
    const int px = channels;
    std::vector<uint8_t> cut(static_cast<size_t>(w) * h * px);
    for (int y = 0; y < h; ++y)
      std::memcpy(&cut[static_cast<size_t>(y) * w * px], &in.pixels[static_cast<size_t>(y) * in.info.nBytesPerLine],
                  static_cast<size_t>(w) * px);
    alignas(8) FSIP_S_IMAGEINFO_EX info = in.info;
    info.pImageData = cut.data();
    info.nWidth = w;
    info.nHeight = h;
    info.nBytesPerLine = w * px;
    info.nImageSize = w * px * h;
    alignas(8) auto rec = CropRecord(tone);
    Notify notify;
    Output out;
    ASSERT_EQ(lib.cropAll(&info, &rec, &out.info, nullptr, &notify, nullptr), 0);
    EXPECT_NEAR(out.info.nWidth, w - in.page.corners[0][0], 3);
    EXPECT_NEAR(out.info.nHeight, h - in.page.corners[0][1], 3);
    EXPECT_GT(out.Mean(2, 2, out.info.nWidth - 2, out.info.nHeight - 2), 150);
  }
}

TEST_F(CropEntries, RecordsAndCallbackFaults) {
  Input in = MakeInput(SmallPage(3));
  struct Row {
    const char* name;
    int expect;
    int calls;
    void (*setup)(FSIP_S_IMAGEINFO_EX& in, FSIP_S_IMAGEINFO_EX& out, Notify& n);
  };
  const Row rows[] = {
      {"stale output pointer", FSIP_C_ERR_PARAMETER, 0,
       [](FSIP_S_IMAGEINFO_EX&, FSIP_S_IMAGEINFO_EX& o, Notify&) {
         o.pImageData = reinterpret_cast<unsigned char*>(8);
       }},
      {"one byte set in the output", FSIP_C_ERR_PARAMETER, 0,
       [](FSIP_S_IMAGEINFO_EX&, FSIP_S_IMAGEINFO_EX& o, Notify&) { o.reserved[7] = 1; }},
      {"rows shorter than their pixels", FSIP_C_ERR_PARAMETER, 0,
       [](FSIP_S_IMAGEINFO_EX& i, FSIP_S_IMAGEINFO_EX&, Notify&) { i.nBytesPerLine -= 1; }},
      {"callback refuses", FSIP_C_ERR_UNEXPECTED_ERROR, 1,
       [](FSIP_S_IMAGEINFO_EX&, FSIP_S_IMAGEINFO_EX&, Notify& n) { n.answer = -1; }},
      {"callback shrinks the rows", FSIP_C_ERR_UNEXPECTED_ERROR, 1,
       [](FSIP_S_IMAGEINFO_EX&, FSIP_S_IMAGEINFO_EX&, Notify& n) { n.shrinkBytes = 4; }},
      {"callback widens the rows", 0, 1,
       [](FSIP_S_IMAGEINFO_EX&, FSIP_S_IMAGEINFO_EX&, Notify& n) {
         n.widen = 16;
         n.dirty = true;
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    alignas(8) FSIP_S_IMAGEINFO_EX info = in.info;
    alignas(8) auto rec = CropRecord(tone);
    Notify notify;
    Output out;
    r.setup(info, out.info, notify);
    const unsigned char* stale = out.info.pImageData;
    EXPECT_EQ(lib.cropAll(&info, &rec, &out.info, nullptr, &notify, nullptr), r.expect);
    EXPECT_EQ(notify.calls, r.calls);
    if (out.info.pImageData == stale) out.info.pImageData = nullptr;  // not ours to free
    if (r.expect == 0) {
      // The widened part carries the background, the page the paper.
      const int asked = notify.asked.nWidth;
      EXPECT_EQ(out.info.nWidth, asked + 16);
      EXPECT_EQ(out.Mean(asked, 0, asked + 16, out.info.nHeight), 0.0);
      EXPECT_GT(out.Mean(asked / 4, out.info.nHeight / 4, asked / 2, out.info.nHeight / 2), 150);
    }
  }
}

TEST_F(CropEntries, MarginsMoveEverySideByTheirLength) {
  const BackedPageSpec spec = SmallPage(3, 254);
  Input in = MakeInput(spec);
  for (int margin : {0, 100, -100}) {
    SCOPED_TRACE(margin);
    alignas(8) FSIP_CRP_S_CRPALL2 rec{};
    rec.crpAll = CropRecord(tone);
    rec.offset = {static_cast<int16_t>(margin), static_cast<int16_t>(margin), static_cast<int16_t>(margin),
                       static_cast<int16_t>(margin)};
    Notify notify;
    Output out;
    alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
    ASSERT_EQ(lib.cropAll2(&in.info, &rec, &out.info, &layout, &notify, nullptr), 0);
    // 100 tenths of a millimetre at 254 dpi are 100 pixels on each side.
    EXPECT_NEAR(out.info.nWidth, Px(spec.widthMm, 254) - 2 * margin, 3);
    EXPECT_NEAR(out.info.nHeight, Px(spec.heightMm, 254) - 2 * margin, 3);
    EXPECT_NEAR(layout.layoutCrop.dSkew, -3, 0.15);
  }
  alignas(8) FSIP_CRP_S_CRPALL2 bad{};
  bad.crpAll = CropRecord(tone);
  bad.offset.offsetTop = 101;
  Notify notify;
  Output out;
  EXPECT_EQ(lib.cropAll2(&in.info, &bad, &out.info, nullptr, &notify, nullptr), FSIP_C_ERR_PARAMETER);
}

TEST_F(CropEntries, TabsAreKeptWhenAskedFor) {
  struct Row {
    double depthMm;
    unsigned flags;
    int report;
    double extraMm;
  };
  const Row rows[] = {{5, 1, 1, 5}, {1.5, 1, 0, 0}, {5, 0, 0, 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.depthMm);
    SCOPED_TRACE(r.flags);
    BackedPageSpec spec = SmallPage(2);
    spec.tabs = {{2, 40, 30, r.depthMm}};
    Input in = MakeInput(spec);
    alignas(8) auto rec = CropRecord(tone);
    rec.dwFuncFlag = r.flags;
    Notify notify;
    Output out;
    int tab = -1;
    alignas(8) FSIP_CRP_S_DUAL_LAYOUT layout{};
    ASSERT_EQ(lib.cropAll(&in.info, &rec, &out.info, &layout, &notify, &tab), 0);
    EXPECT_EQ(tab, r.report);
    EXPECT_NEAR(out.info.nWidth, Px(spec.widthMm + r.extraMm, spec.dpi), 3);
    // The hole-search half keeps the paper body.
    EXPECT_NEAR(layout.layoutHoleRemove.sizeRectangle.x, Px(spec.widthMm, spec.dpi), 3);
  }
}

TEST_F(CropEntries, OneBitInOneBitOut) {
  BackedPageSpec spec = SmallPage(-3, 200);
  spec.channels = 1;
  Input in = MakeInput(spec, true);
  alignas(8) auto rec = CropRecord(tone);
  Notify notify;
  Output out;
  ASSERT_EQ(lib.cropAll(&in.info, &rec, &out.info, nullptr, &notify, nullptr), 0);
  EXPECT_EQ(notify.asked.nDepth, 1);
  EXPECT_EQ(notify.asked.nPixelType, 0);
  EXPECT_EQ(notify.asked.nBytesPerLine, (notify.asked.nWidth + 7) / 8);
  // Without a layout the size follows the sides.
  EXPECT_NEAR(out.info.nWidth, Px(spec.widthMm, spec.dpi), 3);
  EXPECT_NEAR(out.info.nHeight, Px(spec.heightMm, spec.dpi), 3);
}

TEST_F(CropEntries, SpecifiedAreaIsCutAndTurned) {
  const BackedPageSpec spec = SmallPage(3);
  Input in = MakeInput(spec);
  auto layoutOf = [&](double inset) {
    alignas(8) FSIP_CRP_S_PAPER_LAYOUT l{};
    const double(*c)[2] = in.page.corners;
    const double a = spec.angleDeg * M_PI / 180, d = Px(inset, spec.dpi);
    // Corners moved inwards along the page's own axes.
    auto at = [&](int k, double sx, double sy) {
      return FSIP_S_POINT{std::lround(c[k][0] - 0.5 + sx * d * std::cos(a) + sy * d * std::sin(a)),
                          std::lround(c[k][1] - 0.5 - sx * d * std::sin(a) + sy * d * std::cos(a))};
    };
    l.cornerPts.ptLT = at(0, 1, 1);
    l.cornerPts.ptRT = at(1, -1, 1);
    l.cornerPts.ptLB = at(2, 1, -1);
    l.cornerPts.ptRB = at(3, -1, -1);
    l.dSkew = -spec.angleDeg;
    l.sizeRectangle = {static_cast<int32_t>(Px(spec.widthMm - 2 * inset, spec.dpi)),
                       static_cast<int32_t>(Px(spec.heightMm - 2 * inset, spec.dpi))};
    return l;
  };
  for (unsigned flags : {0u, 1u}) {
    SCOPED_TRACE(flags);
    alignas(8) FSIP_CRP_S_SPECIFIEDAREA_CRP rec{};
    rec.crpAll = CropRecord(tone);
    rec.crpAll.wBlackBkThreshold = 0;  // 0..64 here
    rec.crpAll.dwFuncFlag = flags;
    rec.layout.layoutHoleRemove = layoutOf(0);
    rec.layout.layoutCrop = layoutOf(20);
    Notify notify;
    Output out;
    ASSERT_EQ(lib.specified(&in.info, &rec, &out.info, nullptr, &notify), 0);
    const double inset = flags ? 20 : 0;
    EXPECT_NEAR(out.info.nWidth, Px(spec.widthMm - 2 * inset, spec.dpi), 3);
    EXPECT_NEAR(out.info.nHeight, Px(spec.heightMm - 2 * inset, spec.dpi), 3);
    // Upright: the second column and row from the sides are paper.
    EXPECT_GT(out.Mean(1, 0, 2, out.info.nHeight), 150);
    EXPECT_GT(out.Mean(0, 1, out.info.nWidth, 2), 150);
  }
  alignas(8) FSIP_CRP_S_SPECIFIEDAREA_CRP bad{};
  bad.crpAll = CropRecord(tone);
  bad.layout.layoutHoleRemove = layoutOf(0);
  bad.layout.layoutCrop = layoutOf(0);
  bad.layout.layoutCrop.sizeRectangle.y = 0;
  Notify notify;
  Output out;
  EXPECT_EQ(lib.specified(&in.info, &bad, &out.info, nullptr, &notify), FSIP_C_ERR_PARAMETER);
}

TEST_F(CropEntries, PaperPositionAnalysis) {
  BackedPageSpec torn = SmallPage(1);
  torn.raggedRight = true;
  BackedPageSpec blank = SmallPage();
  blank.widthMm = blank.heightMm = 0;
  struct Row {
    const char* name;
    BackedPageSpec page;
    int expect;
  };
  const Row rows[] = {{"plain sheet", SmallPage(4), 0},
                      {"three real sides", torn, FSIP_CRP_C_FOLDED_OR_PARTIAL},
                      {"no paper", blank, FSIP_CRP_C_FOLDED_OR_PARTIAL}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Input in = MakeInput(r.page);
    alignas(8) FSIP_CRP_S_AIQC rec{};
    rec.cbSize = 64;
    rec.wFBCropSearchWidth = 0xFFFF;
    rec.wFBCropIgnoreLength = 0xFFFF;
    rec.wBlackBkThreshold = 64;
    rec.byTransferDataType = 0x83;
    rec.pbySendData = tone.data();
    EXPECT_EQ(lib.aiqc(&in.info, &rec, nullptr, nullptr), r.expect);
  }
}

// The engine keeps its scratch rows and work buffers from page to page:
// nothing an earlier page left in them may reach a later page. The same
// page gives the same bytes and layout before and after a larger page of
// the other depth, and the same verdict of the paper-position analysis.
TEST_F(CropEntries, EarlierPagesLeaveNoTraceInLaterOnes) {
  BackedPageSpec small = SmallPage(1.5);
  small.channels = 1;
  BackedPageSpec large;
  large.dpi = 150;
  large.angleDeg = -2.5;
  const Input a = MakeInput(small), b = MakeInput(large);
  struct Result {
    std::vector<unsigned char> pixels;
    FSIP_CRP_S_DUAL_LAYOUT layout;
    int verdict;
  };
  auto run = [&](const Input& in) {
    Result r{};
    alignas(8) auto rec = CropRecord(tone);
    Notify notify;
    Output out;
    EXPECT_EQ(lib.cropAll(&in.info, &rec, &out.info, &r.layout, &notify, nullptr), 0);
    if (out.info.pImageData) r.pixels.assign(out.info.pImageData, out.info.pImageData + out.info.nImageSize);
    alignas(8) FSIP_CRP_S_AIQC check{};
    check.cbSize = 64;
    check.wFBCropSearchWidth = check.wFBCropIgnoreLength = 0xFFFF;
    check.wBlackBkThreshold = 64;
    check.byTransferDataType = 0x83;
    check.pbySendData = tone.data();
    r.verdict = lib.aiqc(&in.info, &check, nullptr, nullptr);
    return r;
  };
  const Result first = run(a);
  const Result other = run(b);
  const Result afterOther = run(a);
  const Result again = run(a);
  ASSERT_FALSE(first.pixels.empty());
  ASSERT_FALSE(other.pixels.empty());
  for (const Result* r : {&afterOther, &again}) {
    EXPECT_TRUE(r->pixels == first.pixels);
    EXPECT_EQ(memcmp(&r->layout, &first.layout, sizeof first.layout), 0);
    EXPECT_EQ(r->verdict, first.verdict);
  }
}
