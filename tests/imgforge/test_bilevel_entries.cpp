// libimgforge's colour drop-out, grey-to-bilevel conversion, area-selective
// binarization and front/back merge, bound by name from the staged library.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "degraded_pages.h"
#include "filter_library.h"
#include "test_pages.h"

using namespace filters_test;

namespace {

class Bilevel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_TRUE(lib.dropoutEx && lib.dropout && lib.fourBit && lib.binarizeEx && lib.binarize && lib.select &&
                lib.merge);
  }

  // Binarizes `grey` into a new bilevel page of the same size.
  Page Binarize(Page& grey, FSIP_S_BINARIZATIONEX& b, int expected = 0) {
    Page bits(grey.info.nWidth, grey.info.nHeight, 1, grey.info.nXResolution);
    std::fill(bits.pixels.begin(), bits.pixels.end(), 0xA5);  // shows which bits are written
    EXPECT_EQ(lib.binarizeEx(&grey.info, &b, &bits.info, nullptr), expected);
    return bits;
  }

  Library lib;
};

FSIP_S_BINARIZATIONEX Method(uint32_t method, uint32_t boundary = 1) {
  FSIP_S_BINARIZATIONEX b{};
  b.cbSize = sizeof b;
  b.dwMethod = method;
  b.dwBoundary = boundary;
  return b;
}

int Ones(const Page& bits) {
  int n = 0;
  for (int y = 0; y < bits.info.nHeight; ++y)
    for (int x = 0; x < bits.info.nWidth; ++x) n += BitAt(bits.pixels.data(), bits.info.nBytesPerLine, x, y);
  return n;
}

// --- fixed threshold, dither -----------------------------------------------

TEST_F(Bilevel, FixedThresholdsAtTheEnds) {
  Page grey(21, 5, 8);
  grey.Random(1);
  auto b = Method(0);
  b.nThreshold = 0;
  EXPECT_EQ(Ones(Binarize(grey, b)), 21 * 5);
  b.nThreshold = 256;
  EXPECT_EQ(Ones(Binarize(grey, b)), 0);
  b.nThreshold = 100;
  const Page bits = Binarize(grey, b);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 21; ++x) ASSERT_EQ(BitAt(bits.pixels.data(), 3, x, y), grey.at(x, y) >= 100);
  EXPECT_EQ(bits.info.nPixelType, 0);
  EXPECT_EQ(bits.info.nDepth, 1);
}

TEST_F(Bilevel, PaddingFillsTheLastByte) {
  Page grey(10, 3, 8);
  grey.Fill(0);
  auto b = Method(0, 0x101);  // padding on
  b.nThreshold = 128;
  Page bits = Binarize(grey, b);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(bits.pixels[y * 2], 0x00);
    EXPECT_EQ(bits.pixels[y * 2 + 1], 0x3F);  // two dark pixels, then six 1 bits
  }
  // Without padding the bits beyond the width stay as they were.
  b.dwBoundary = 1;
  bits = Binarize(grey, b);
  EXPECT_EQ(bits.pixels[1], 0xA5 & 0x3F);
}

TEST_F(Bilevel, DitherComparesWithItsMatrix) {
  unsigned char dither[66];
  for (int i = 0; i < 64; ++i) dither[2 + i] = static_cast<unsigned char>(4 * i + 2);
  Page grey(27, 19, 8);
  grey.Random(2);
  auto b = Method(1);
  b.pDither = dither;
  const Page bits = Binarize(grey, b);
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 27; ++x)
      ASSERT_EQ(BitAt(bits.pixels.data(), 4, x, y), grey.at(x, y) >= dither[2 + (y % 8) * 8 + x % 8]) << x << "," << y;
}

// --- error diffusion -------------------------------------------------------

TEST_F(Bilevel, ErrorDiffusionOfFlatGreyIsHalfOnesAndRepeatable) {
  for (int kernel : {1, 2}) {
    SCOPED_TRACE(kernel);
    FSIP_S_ERROR_DIFFUSION ed{20, kernel, 2, 200, 40};
    Page grey(96, 64, 8);
    grey.Fill(128);
    auto b = Method(2);
    b.pErrorDiffusion = &ed;
    const Page first = Binarize(grey, b), second = Binarize(grey, b);
    EXPECT_EQ(first.pixels, second.pixels);
    const double share = Ones(first) / (96.0 * 64);
    EXPECT_GT(share, 0.4);
    EXPECT_LT(share, 0.6);
  }
}

TEST_F(Bilevel, ErrorDiffusionGivesLessBlackAsGreyLightens) {
  for (int kernel : {0, 1, 2}) {
    SCOPED_TRACE(kernel);
    FSIP_S_ERROR_DIFFUSION ed{20, kernel, 2, 200, 40};
    int previous = -1;
    for (int level : {50, 90, 128, 160, 190}) {
      Page grey(64, 48, 8, 600);
      grey.Fill(static_cast<unsigned char>(level));
      auto b = Method(2);
      b.pErrorDiffusion = &ed;
      const int ones = Ones(Binarize(grey, b));
      EXPECT_GT(ones, previous) << level;
      previous = ones;
    }
  }
}

TEST_F(Bilevel, ErrorDiffusionClipsBeyondItsLevels) {
  FSIP_S_ERROR_DIFFUSION ed{20, 1, 2, 200, 40};
  Page grey(32, 16, 8);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) grey.at(x, y) = x < 16 ? 20 : 230;
  auto b = Method(2);
  b.pErrorDiffusion = &ed;
  const Page bits = Binarize(grey, b);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      if (x < 15 || x > 16) {
        ASSERT_EQ(BitAt(bits.pixels.data(), 4, x, y), x >= 16) << x << "," << y;
      }
}

// --- dynamic threshold -----------------------------------------------------

TEST_F(Bilevel, DynamicThresholdOfFlatPagesAndAStep) {
  for (auto set :
       {FSIP_S_SDTCEX{{36, 20, 4, 152, 16, 16, 1}, nullptr}, FSIP_S_SDTCEX{{36, 8, 2, 152, 4, 4, 1}, nullptr},
        FSIP_S_SDTCEX{{36, 16, 4, 152, 4, 4, 2}, nullptr}}) {
    SCOPED_TRACE(set.values[1]);
    for (int level : {40, 230}) {
      Page grey(33, 20, 8);
      grey.Fill(static_cast<unsigned char>(level));
      auto b = Method(3);
      b.pSdtc = &set;
      EXPECT_EQ(Ones(Binarize(grey, b)), level > 152 ? 33 * 20 : 0);
      const void* slot = set.pInfo;  // packed: read before comparing
      EXPECT_EQ(slot, &grey.info);   // the slot got the page it was given
    }
    Page grey(40, 20, 8);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 40; ++x) grey.at(x, y) = x < 20 ? 30 : 220;
    auto b = Method(3);
    b.pSdtc = &set;
    const Page bits = Binarize(grey, b);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 40; ++x)
        if (x < 18 || x > 21) {
          ASSERT_EQ(BitAt(bits.pixels.data(), 5, x, y), x >= 20) << x << "," << y;
        }
  }
}

// The largest and smallest grey within `reach` of (x, y), clipped at the
// page's edges.
void Extremes(const Page& page, int x, int y, int reach, int* t, int* o) {
  const int w = page.info.nWidth, h = page.info.nHeight;
  *t = 0, *o = 255;
  for (int yy = std::max(0, y - reach); yy <= std::min(h - 1, y + reach); ++yy)
    for (int xx = std::max(0, x - reach); xx <= std::min(w - 1, x + reach); ++xx)
      *t = std::max(*t, static_cast<int>(page.at(xx, yy))), *o = std::min(*o, static_cast<int>(page.at(xx, yy)));
}

// The dynamic threshold of the SANE backends (family 2, new style), pixel
// by pixel as written out.
std::vector<bool> ReferenceDtc(const Page& page, const FSIP_S_SDTCEX& set, bool high) {
  const int w = page.info.nWidth, h = page.info.nHeight, reach = high ? 2 : 1;
  const int limit = set.values[1], weight = set.values[2], base = set.values[3], up = set.values[4],
            down = set.values[5];
  auto at = [&](int y, int x) {
    return static_cast<int>(page.at(std::min(w - 1, std::max(0, x)), std::min(h - 1, std::max(0, y))));
  };
  std::vector<bool> bits(static_cast<size_t>(w) * h);
  std::vector<int> above(w, 0);
  for (int y = 0; y < h; ++y) {
    int left = 0;
    for (int x = 0; x < w; ++x) {
      int t, o;
      Extremes(page, x, y, reach, &t, &o);
      int P[25];
      for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) P[5 * r + c] = at(y + r - 2, x + c - 2);
      const int D = P[1] + P[3] - P[21], E = P[5] + P[15] - P[9], I = P[1] + P[5] - P[19], J = P[3] + P[9] - P[15];
      const bool flat =
          (std::abs(D - P[23]) + std::abs(E - P[19]) + std::abs(I - P[23]) + std::abs(J - P[21])) / 8 < limit;
      const int L = (t + o) / 2;
      const int s = (x == 0 ? base : left) + (y == 0 ? base : above[x]);
      int thr = flat ? s * 8 / 16 : (2 * L * (8 - weight) + s * weight) / 16;
      thr = thr > base ? std::max(thr - down, base) : std::min(thr + up, base);
      above[x] = left = thr;
      bits[static_cast<size_t>(y) * w + x] = page.at(x, y) >= thr;
    }
  }
  return bits;
}

// The rows are worked on in groups: every remainder of rows, widths around
// the vector width, a base at both ends of the vectors' range and beyond it,
// and pulls large enough to saturate.
TEST_F(Bilevel, DynamicThresholdMatchesThePerPixelReference) {
  const FSIP_S_SDTCEX sets[] = {{{36, 20, 4, 152, 16, 16, 1}, nullptr},    {{36, 16, 4, 152, 4, 4, 1}, nullptr},
                                {{36, 8, 2, 152, 4, 4, 1}, nullptr},       {{36, 16, 4, 152, 4, 4, 2}, nullptr},
                                {{36, 10, 0, 1000, 40000, 70000, 1}, nullptr}, {{36, 12, 8, 1001, 3, 5, 2}, nullptr},
                                {{36, 30, 3, 0, 0, 0, 1}, nullptr}};
  unsigned seed = 20;
  for (int width : {5, 16, 45, 83})
    for (int height = 1; height <= 66; ++height)
      for (auto set : sets) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " limit " + std::to_string(set.values[1]) +
                     " base " + std::to_string(set.values[3]) + " selector " + std::to_string(set.values[6]));
        Page grey(width, height, 8);
        grey.Random(++seed);
        for (int y = 0; y < height; ++y)  // paper, and a soft ramp, beside the noise
          for (int x = 0; x < std::min(20, width / 2); ++x)
            grey.at(x, y) = static_cast<unsigned char>(y < 15 ? 240 : 100 + 4 * x);
        auto b = Method(3);
        b.pSdtc = &set;
        const Page bits = Binarize(grey, b);
        const std::vector<bool> want = ReferenceDtc(grey, set, set.values[6] == 2);
        const int bpl = (width + 7) / 8;
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x)
            ASSERT_EQ(BitAt(bits.pixels.data(), bpl, x, y), want[y * width + x]) << x << "," << y;
      }
}

// The older entry's dynamic threshold (plain flat test, 3 x 3 neighbourhood),
// pixel by pixel as written out: the unpulled threshold is carried.
std::vector<bool> ReferenceOlderDtc(const Page& page, const int32_t (&v)[5]) {
  const int w = page.info.nWidth, h = page.info.nHeight;
  const int limit = v[0], weight = v[1], base = v[2], up = v[3], down = v[4];
  std::vector<bool> bits(static_cast<size_t>(w) * h);
  std::vector<int> above(w, 0);
  for (int y = 0; y < h; ++y) {
    int left = 0;
    for (int x = 0; x < w; ++x) {
      int t, o;
      Extremes(page, x, y, 1, &t, &o);
      const bool flat = t - o < limit;
      const int L = (t + o) / 2;
      int thr;
      if (y == 0 && x == 0)
        thr = 2 * base / 16;
      else if (y == 0)
        thr = (base + 8 * left) / 16;
      else if (x == 0)
        thr = (base + 8 * above[x]) / 16;
      else
        thr = flat ? 8 * (left + above[x]) / 16 : (2 * L * (8 - weight) + weight * (left + above[x])) / 16;
      const int pulled = thr > base ? std::max(thr - down, base) : std::min(thr + up, base);
      above[x] = left = thr;
      bits[static_cast<size_t>(y) * w + x] = page.at(x, y) + base - pulled >= 128;
    }
  }
  return bits;
}

// Both entries' dynamic thresholds on pages as they are scanned: degraded
// text pages and the benches' document page (small and as benched), wider
// than any vector.
TEST_F(Bilevel, DynamicThresholdMatchesThePerPixelReferenceOnRenderedPages) {
  std::vector<std::pair<std::string, Page>> pages;
  auto add = [&](const std::string& name, int w, int h, const uint8_t* grey) {
    Page page(w, h, 8);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) page.at(x, y) = grey[static_cast<size_t>(y) * w + x];
    pages.emplace_back(name, page);
  };
  const double heights[] = {75, 75.4, 75.9, 76.3};
  int i = 0;
  for (dravn_degraded::Kind kind : dravn_degraded::kAllKinds) {
    const dravn_degraded::Page d = dravn_degraded::MakePage(kind, 100, 61, heights[i++ % 4]);
    add(dravn_degraded::KindName(kind), d.width, d.height, d.grey.data());
  }
  dravn_pages::PageSpec spec;
  spec.dpi = 40;
  const dravn_pages::Image document = dravn_pages::ToGrey(dravn_pages::RenderDocumentPage(spec));
  add("document page", document.width, document.height, document.pixels.data());
  spec.dpi = 300;  // the benches' page, its top at full width (the reference is slow)
  const dravn_pages::Image bench = dravn_pages::ToGrey(dravn_pages::RenderDocumentPage(spec));
  add("bench page", bench.width, std::min(bench.height, 620), bench.pixels.data());
  for (auto& [name, grey] : pages) {
    SCOPED_TRACE(name + " " + std::to_string(grey.info.nWidth) + "x" + std::to_string(grey.info.nHeight));
    const int w = grey.info.nWidth, h = grey.info.nHeight, bpl = (w + 7) / 8;
    for (FSIP_S_SDTCEX set :
         {FSIP_S_SDTCEX{{36, 20, 4, 152, 16, 16, 1}, nullptr}, FSIP_S_SDTCEX{{36, 12, 6, 128, 8, 30, 1}, nullptr}}) {
      auto b = Method(3);
      b.pSdtc = &set;
      const Page bits = Binarize(grey, b);
      const std::vector<bool> want = ReferenceDtc(grey, set, false);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(BitAt(bits.pixels.data(), bpl, x, y), want[y * w + x]) << x << "," << y;
    }
    int32_t older[5] = {20, 4, 152, 16, 16};
    FSIP_S_BINARIZATION b{3, 0, nullptr, older, 1};
    Page bits(w, h, 1);
    ASSERT_EQ(lib.binarize(&grey.info, &b, &bits.info, nullptr), 0);
    const std::vector<bool> want = ReferenceOlderDtc(grey, older);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(BitAt(bits.pixels.data(), bpl, x, y), want[y * w + x]) << x << "," << y;
  }
}

// Error diffusion as written out, on pages that avoid the band 112..144
// where the random term comes in.
std::vector<bool> ReferenceDiffusion(const Page& page, bool wide) {
  const int w = page.info.nWidth, h = page.info.nHeight, high = 200, low = 40;
  std::vector<bool> bits(static_cast<size_t>(w) * h);
  std::vector<std::vector<int>> rows(3, std::vector<int>(w + 4, 128));  // index x + 2
  for (int y = 0; y < h; ++y) {
    std::vector<int>&c = rows[0], &a = rows[1], &b = rows[2];
    for (int x = 0; x < w; ++x) {
      const int i = x + 2;
      const int p = page.at(x, y);
      bool bit;
      int carry;
      if (!wide) {
        const int e = c[i - 1] / 2 + a[i - 1] / 8 + a[i] / 4 + a[i + 1] / 8;
        const int v = e + (p > high ? 255 : p < low ? 0 : p);
        bit = v >= 255;
        carry = v < 255 ? v : v >= 510 ? v - 510 : v - 255;
      } else {
        const int e = 5 * c[i - 1] / 32 + 3 * c[i - 2] / 32 + 2 * a[i - 2] / 32 + 4 * a[i - 1] / 32 + 4 * a[i] / 32 +
                      3 * a[i + 1] / 32 + 2 * a[i + 2] / 32 + b[i - 2] / 32 + 2 * b[i - 1] / 32 + 3 * b[i] / 32 +
                      2 * b[i + 1] / 32 + b[i + 2] / 32;
        if (p > high) {
          bit = true;
          carry = e >= 255 ? e - 255 : e;
        } else {
          const int v = p < low ? e : e + p;
          bit = v >= 255;
          carry = v < 255 ? v : v - 255 < 255 ? v - 255 : v - 510;
        }
      }
      c[i] = std::max(0, carry);
      bits[static_cast<size_t>(y) * w + x] = bit;
    }
    std::rotate(rows.rbegin(), rows.rbegin() + 1, rows.rend());  // current becomes previous
    std::fill(rows[0].begin(), rows[0].end(), 128);
  }
  return bits;
}

TEST_F(Bilevel, ErrorDiffusionMatchesThePerPixelReference) {
  for (int kernel : {1, 2}) {
    SCOPED_TRACE(kernel);
    Page grey(53, 29, 8);
    grey.Random(30 + kernel);
    for (auto& v : grey.pixels)
      if (v >= 112 && v <= 144) v = static_cast<unsigned char>(v < 128 ? 100 : 160);
    FSIP_S_ERROR_DIFFUSION ed{20, kernel, 2, 200, 40};
    auto b = Method(2);
    b.pErrorDiffusion = &ed;
    const Page bits = Binarize(grey, b);
    const std::vector<bool> want = ReferenceDiffusion(grey, kernel == 2);
    for (int y = 0; y < 29; ++y)
      for (int x = 0; x < 53; ++x) ASSERT_EQ(BitAt(bits.pixels.data(), 7, x, y), want[y * 53 + x]) << x << "," << y;
  }
}

TEST_F(Bilevel, DynamicThresholdZeroesTheTailBits) {
  FSIP_S_SDTCEX set{{36, 20, 4, 152, 16, 16, 1}, nullptr};
  Page grey(10, 2, 8);
  grey.Fill(250);
  auto b = Method(3);
  b.pSdtc = &set;
  const Page bits = Binarize(grey, b);
  EXPECT_EQ(bits.pixels[1], 0xC0);
}

TEST_F(Bilevel, PreFilterRunsTheEmphasisFirst) {
  // A soft dark line that the threshold alone does not catch; sharpened,
  // it goes below the threshold.
  Page grey(30, 12, 8);
  grey.Fill(200);
  for (int y = 0; y < 12; ++y) grey.at(15, y) = 140;
  FSIP_S_IMAGEEMPHASIS e{24, 2, 7, 0, 0, 1};
  FSIP_S_IMAGEFILTER f{};
  f.dwOption = 1;
  f.pEmphasis = &e;
  auto b = Method(0x1000);
  b.nThreshold = 128;
  b.pPreFilter = &f;
  const Page original = grey;
  const Page bits = Binarize(grey, b);
  EXPECT_FALSE(BitAt(bits.pixels.data(), 4, 15, 5));
  EXPECT_TRUE(BitAt(bits.pixels.data(), 4, 10, 5));
  EXPECT_EQ(grey.pixels, original.pixels);  // the filter worked on a copy
  // Emphasis flags 1 skips the filter.
  e.nKind = 1;
  EXPECT_TRUE(BitAt(Binarize(grey, b).pixels.data(), 4, 15, 5));
}

TEST_F(Bilevel, OutWithoutPixelsGetsANewBuffer) {
  Page grey(12, 4, 8);
  grey.Fill(90);
  FSIP_S_IMAGEINFO out{};
  out.nWidth = 12, out.nHeight = 4, out.nBytesPerLine = 2;
  auto b = Method(0);
  b.nThreshold = 50;
  ASSERT_EQ(lib.binarizeEx(&grey.info, &b, &out, nullptr), 0);
  const unsigned char* given = out.pImageData;  // packed: read before comparing
  ASSERT_NE(given, nullptr);
  EXPECT_EQ(out.pImageData[0], 0xFF);
  EXPECT_EQ(out.pImageData[1] & 0xF0, 0xF0);
  free(out.pImageData);
}

TEST_F(Bilevel, OlderEntryMethods) {
  Page grey(16, 8, 8);
  grey.Random(7);
  Page bits(16, 8, 1);
  FSIP_S_BINARIZATION b{0, 128, nullptr, nullptr, 1};
  ASSERT_EQ(lib.binarize(&grey.info, &b, &bits.info, nullptr), 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(BitAt(bits.pixels.data(), 2, x, y), grey.at(x, y) >= 128);
  int32_t dtc[5] = {20, 4, 152, 16, 16};
  b.byMethod = 3;
  b.pnSdtc = dtc;
  grey.Fill(240);
  ASSERT_EQ(lib.binarize(&grey.info, &b, &bits.info, nullptr), 0);
  EXPECT_EQ(Ones(bits), 16 * 8);
  b.byMethod = 2;
  grey.Fill(10);
  ASSERT_EQ(lib.binarize(&grey.info, &b, &bits.info, nullptr), 0);
  EXPECT_EQ(Ones(bits), 0);
}

// --- drop-out --------------------------------------------------------------

FSIP_S_DROPOUTCOLOREX Dropout(int type, uint32_t output, int whiteMode = 0) {
  FSIP_S_DROPOUTCOLOREX d{};
  d.cbSize = sizeof d;
  d.wDropoutType = static_cast<uint16_t>(type);
  d.sWhiteMode = static_cast<int16_t>(whiteMode);
  d.dwOutput = output;
  return d;
}

TEST_F(Bilevel, DropOutTypesTakeTheirChannels) {
  for (int order : {1, 6}) {
    Page page(13, 5, 24, 300, order);
    page.Random(8);
    const int r = order == 6 ? 2 : 0, b = order == 6 ? 0 : 2;
    for (int type = 1; type <= 5; ++type)
      for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(std::to_string(order) + "/" + std::to_string(type) + "/" + std::to_string(mode));
        auto d = Dropout(type, 1, mode);
        FSIP_S_IMAGEINFO out{};
        ASSERT_EQ(lib.dropoutEx(&page.info, &d, &out, nullptr), 0);
        EXPECT_EQ(out.nDepth, 8);
        EXPECT_EQ(out.nPixelType, 1);
        EXPECT_EQ(out.nBytesPerLine, 13);
        EXPECT_EQ(out.nImageSize, 65);
        for (int y = 0; y < 5; ++y)
          for (int x = 0; x < 13; ++x) {
            const int R = page.at(x, y, r), G = page.at(x, y, 1), B = page.at(x, y, b);
            int want = 0;
            switch (type) {
              case 1:
                want = mode == 0   ? (306 * R + 601 * G + 117 * B) >> 10
                       : mode == 1 ? (299 * R + 587 * G + 114 * B) / 1000
                                   : static_cast<int>(0.299 * R + 0.587 * G + 0.114 * B);
                break;
              case 2:
                want = R;
                break;
              case 3:
                want = G;
                break;
              case 4:
                want = B;
                break;
              default:
                want = std::min({R, G, B});
            }
            ASSERT_EQ(out.pImageData[y * 13 + x], want) << x << "," << y;
          }
        free(out.pImageData);
      }
  }
}

TEST_F(Bilevel, SpecifiedColourTables) {
  Page page(16, 16, 24);
  page.Random(9);
  std::vector<unsigned char> table(4096, 0x80);
  FSIP_S_SPECIFIED_DOC doc{sizeof doc, 4096, 256, table.data()};
  auto d = Dropout(6, 1);
  d.pSpecified = &doc;
  FSIP_S_IMAGEINFO out{};
  ASSERT_EQ(lib.dropoutEx(&page.info, &d, &out, nullptr), 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const int Y = std::min(255, (77 * page.at(x, y, 0) + 150 * page.at(x, y, 1) + 29 * page.at(x, y, 2)) >> 8);
      ASSERT_EQ(out.pImageData[y * 16 + x], Y);
    }
  free(out.pImageData);
  std::fill(table.begin(), table.end(), 0);
  out = FSIP_S_IMAGEINFO{};
  ASSERT_EQ(lib.dropoutEx(&page.info, &d, &out, nullptr), 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(out.pImageData[i], 0);
  free(out.pImageData);
}

// A form with red ruling and black text, scanned in grey: with red drop-out
// the ruling is paper, with white drop-out it shows.
TEST_F(Bilevel, RedDropOutRemovesRedRuling) {
  Page form(40, 30, 24);
  form.Fill(250);
  for (int x = 0; x < 40; ++x) form.at(x, 10, 0) = 235, form.at(x, 10, 1) = 50, form.at(x, 10, 2) = 60;
  for (int y = 20; y < 24; ++y)
    for (int x = 5; x < 15; ++x)
      for (int c = 0; c < 3; ++c) form.at(x, y, c) = 20;
  for (int type : {1, 2}) {
    auto d = Dropout(type, 1);
    FSIP_S_IMAGEINFO out{};
    ASSERT_EQ(lib.dropoutEx(&form.info, &d, &out, nullptr), 0);
    const int ruling = out.pImageData[10 * 40 + 20], paper = out.pImageData[5 * 40 + 20];
    const int text = out.pImageData[21 * 40 + 8];
    if (type == 2)
      EXPECT_LE(paper - ruling, 16);
    else
      EXPECT_GT(paper - ruling, 100);
    EXPECT_LE(text, 21);
    free(out.pImageData);
  }
}

TEST_F(Bilevel, DropOutStraightToBilevel) {
  Page page(21, 6, 24);
  page.Random(10);
  auto b = Method(0);
  b.nThreshold = 128;
  auto d = Dropout(5, 0);
  d.pBinarization = &b;
  FSIP_S_IMAGEINFO out{};
  ASSERT_EQ(lib.dropoutEx(&page.info, &d, &out, nullptr), 0);
  EXPECT_EQ(out.nDepth, 1);
  EXPECT_EQ(out.nPixelType, 0);
  EXPECT_EQ(out.nBytesPerLine, 3);
  EXPECT_EQ(out.nImageSize, 18);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 21; ++x)
      ASSERT_EQ(BitAt(out.pImageData, 3, x, y),
                std::min({page.at(x, y, 0), page.at(x, y, 1), page.at(x, y, 2)}) >= 128);
  free(out.pImageData);
}

TEST_F(Bilevel, OlderDropOutEntries) {
  Page page(10, 3, 24);
  page.Random(11);
  Page grey(12, 3, 8);  // lines of 12 bytes: aligned to 4
  FSIP_S_DROPOUTCOLOR d{5, 1, nullptr};
  FSIP_S_IMAGEINFO out{};
  out.pImageData = grey.pixels.data();
  ASSERT_EQ(lib.dropout(&page.info, &d, &out, nullptr), 0);
  EXPECT_EQ(out.nBytesPerLine, 12);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 10; ++x)
      ASSERT_EQ(grey.pixels[y * 12 + x], std::min({page.at(x, y, 0), page.at(x, y, 1), page.at(x, y, 2)}));
  d.dwDropoutType = 2;
  EXPECT_EQ(lib.dropout(&page.info, &d, &out, nullptr), -2);
}

TEST_F(Bilevel, FourBitPacking) {
  Page grey(5, 2, 8);
  const unsigned char row[5] = {0x12, 0x34, 0xF0, 0x0F, 0x99};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) grey.at(x, y) = row[x];
  const uint32_t type = 1;
  FSIP_S_IMAGEINFO out{};
  ASSERT_EQ(lib.fourBit(&grey.info, &type, &out, nullptr), 0);
  EXPECT_EQ(out.nDepth, 4);
  EXPECT_EQ(out.nBytesPerLine, 4);
  EXPECT_EQ(out.pImageData[0], 0x13);
  EXPECT_EQ(out.pImageData[1], 0xF0);
  EXPECT_EQ(out.pImageData[4], 0x13);
  free(out.pImageData);

  Page colour(2, 1, 24);
  colour.at(0, 0, 0) = 255, colour.at(0, 0, 1) = 255, colour.at(0, 0, 2) = 255;
  colour.at(1, 0, 0) = 0x80, colour.at(1, 0, 1) = 0x90, colour.at(1, 0, 2) = 0xA0;
  const uint32_t none = 5;
  out = FSIP_S_IMAGEINFO{};
  ASSERT_EQ(lib.fourBit(&colour.info, &none, &out, nullptr), 0);
  EXPECT_EQ(out.pImageData[0], 0xF8);
  free(out.pImageData);
}

// --- area-selective binarization -------------------------------------------

TEST_F(Bilevel, SelectiveBinarizationDithersPicturesAndThresholdsText) {
  Page grey(64, 32, 8);
  grey.Fill(200);
  for (int y = 4; y < 28; ++y)
    for (int x = 36; x < 60; ++x) grey.at(x, y) = 120;  // flat picture area
  for (int y = 10; y < 20; ++y) grey.at(10, y) = 0;     // a text stroke
  unsigned char dither[64];
  for (int i = 0; i < 64; ++i) dither[i] = static_cast<unsigned char>(4 * i + 2);
  unsigned char block[10 + 256] = {};
  block[4] = 1, block[6] = 1;
  for (int v = 0; v < 256; ++v) block[10 + v] = static_cast<unsigned char>(v);
  FSIP_S_GAMMA gamma{20, 0, 1, {}, 0, {}, block};
  FSIP_S_IMAGEEMPHASIS e{24, 1, 7, 0, 0, 1};
  FSIP_S_IMAGEFILTER f{};
  f.dwOption = 4 | 1;
  f.pEmphasis = &e;
  f.pGamma = &gamma;
  const FSIP_S_IMAGEFILTER given = f;
  FSIP_S_SELECTEMPHA s{};
  s.cbSize = sizeof s;
  s.nMethod = 1;
  s.nThreshold = 128;
  s.pbyDither = dither;
  s.pFilter = &f;
  Page bits(64, 32, 1);
  ASSERT_EQ(lib.select(&grey.info, &s, &bits.info), 0);
  EXPECT_EQ(memcmp(&f, &given, sizeof f), 0);  // the caller's options as given
  EXPECT_EQ(bits.info.nBytesPerLine, 64 / 32 * 4);
  const int bpl = bits.info.nBytesPerLine;
  EXPECT_FALSE(BitAt(bits.pixels.data(), bpl, 10, 15));  // text: below the threshold
  EXPECT_TRUE(BitAt(bits.pixels.data(), bpl, 3, 3));     // paper
  // Inside the flat picture area the dither decides, not the threshold.
  int ones = 0;
  for (int y = 12; y < 20; ++y)
    for (int x = 44; x < 52; ++x) {
      ASSERT_EQ(BitAt(bits.pixels.data(), bpl, x, y), 120 >= dither[(y % 8) * 8 + x % 8]);
      ones += BitAt(bits.pixels.data(), bpl, x, y);
    }
  EXPECT_GT(ones, 0);
}

// --- front/back merge ------------------------------------------------------

struct Face {
  std::vector<unsigned char> data;
  I3ipImageInfo info{};
  Face(int width, int height, int bpp, int padding, unsigned seed) {
    const int bpl = (width * bpp + 7) / 8 + padding;
    data.resize(static_cast<size_t>(bpl) * height);
    std::mt19937 gen(seed);
    for (auto& v : data) v = static_cast<unsigned char>(gen());
    info = I3ipImageInfo{40,
                         3,
                         static_cast<uint8_t>(bpp),
                         1,
                         0,
                         300,
                         7,
                         static_cast<uint32_t>(width),
                         static_cast<uint32_t>(height),
                         static_cast<uint32_t>(bpl),
                         static_cast<uint32_t>(data.size()),
                         data.data()};
  }
};

// Pixel (x, y) of an image as a number (a bit, a byte, or three bytes).
uint32_t PixelOf(const I3ipImageInfo& image, const unsigned char* data, int x, int y) {
  const unsigned char* row = data + static_cast<size_t>(y) * image.Bpl;
  if (image.Bpp == 1) return (row[x / 8] >> (7 - x % 8)) & 1;
  if (image.Bpp == 8) return row[x];
  return row[3 * x] << 16 | row[3 * x + 1] << 8 | row[3 * x + 2];
}

// What the merge must give, pixel by pixel.
uint32_t Expected(const Face& first, const Face& second, const std::vector<unsigned char>& secondPixels,
                  const I3ipImageInfo& secondInfo, int layout, bool fill, int x, int y) {
  const bool vertical = layout < 2, swap = layout == 1 || layout == 3;
  const I3ipImageInfo& a = swap ? secondInfo : first.info;
  const unsigned char* aData = swap ? secondPixels.data() : first.data.data();
  const I3ipImageInfo& b = swap ? first.info : secondInfo;
  const unsigned char* bData = swap ? first.data.data() : secondPixels.data();
  (void)second;
  const uint32_t filled = fill ? (a.Bpp == 1 ? 1 : a.Bpp == 8 ? 0xFF : 0xFFFFFF) : 0;
  if (vertical) {
    if (y < static_cast<int>(a.Height)) return x < static_cast<int>(a.Width) ? PixelOf(a, aData, x, y) : filled;
    y -= a.Height;
    return x < static_cast<int>(b.Width) ? PixelOf(b, bData, x, y) : filled;
  }
  if (x < static_cast<int>(a.Width)) return y < static_cast<int>(a.Height) ? PixelOf(a, aData, x, y) : filled;
  x -= a.Width;
  return y < static_cast<int>(b.Height) ? PixelOf(b, bData, x, y) : filled;
}

// The second face turned by 180 degrees, as a tight copy.
std::vector<unsigned char> Turned(const Face& face, I3ipImageInfo* info) {
  *info = face.info;
  info->Bpl = (face.info.Width * face.info.Bpp + 7) / 8;
  std::vector<unsigned char> out(static_cast<size_t>(info->Bpl) * face.info.Height, 0);
  const int w = face.info.Width, h = face.info.Height;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = PixelOf(face.info, face.data.data(), w - 1 - x, h - 1 - y);
      unsigned char* row = out.data() + static_cast<size_t>(y) * info->Bpl;
      if (face.info.Bpp == 1)
        row[x / 8] = static_cast<unsigned char>(row[x / 8] | (v << (7 - x % 8)));
      else if (face.info.Bpp == 8)
        row[x] = static_cast<unsigned char>(v);
      else
        row[3 * x] = v >> 16, row[3 * x + 1] = (v >> 8) & 0xFF, row[3 * x + 2] = v & 0xFF;
    }
  return out;
}

TEST_F(Bilevel, MergeAgainstAPerPixelReference) {
  struct Case {
    int w1, h1, w2, h2, bpp, layout;
    bool flip, fill;
    int padding;
  };
  const Case cases[] = {
      {13, 6, 11, 6, 1, 2, false, true, 0},     // 1-bit side by side: 24 pixels, 3 bytes a row
      {13, 6, 11, 6, 1, 3, true, true, 2},      // the same, turned, second on the left
      {100, 50, 80, 50, 8, 0, false, true, 0},  // lower right 20 x 50 filled
      {100, 50, 80, 50, 8, 1, false, false, 3},
      {30, 9, 30, 7, 24, 0, true, true, 1},  // odd height 24-bit turned
      {30, 9, 30, 7, 24, 3, true, true, 0},  // side by side, the shorter lengthened
      {17, 5, 9, 8, 1, 2, true, true, 1},
      {17, 5, 9, 8, 1, 0, false, true, 0},  // 1-bit widened: the fill right after the last pixel
      {16, 4, 16, 4, 8, 1, false, true, 0},
  };
  unsigned seed = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w1) + "x" + std::to_string(c.h1) + " + " + std::to_string(c.w2) + "x" +
                 std::to_string(c.h2) + " bpp " + std::to_string(c.bpp) + " layout " + std::to_string(c.layout));
    Face first(c.w1, c.h1, c.bpp, c.padding, ++seed), second(c.w2, c.h2, c.bpp, c.padding, ++seed);
    const Face firstBefore = first;
    I3ipImageInfo secondInfo;
    std::vector<unsigned char> secondPixels;
    if (c.flip) {
      secondPixels = Turned(second, &secondInfo);
    } else {
      secondInfo = second.info;
      secondPixels = second.data;
    }
    unsigned char* const secondData = second.info.Data;
    I3ipImageInfo out{};
    ASSERT_EQ(lib.merge(&first.info, &second.info, c.layout, c.flip ? 0x101 : 0x100, c.fill ? 1 : 0, &out), 0);
    EXPECT_EQ(second.info.Data, secondData);  // turned in place, never replaced
    EXPECT_EQ(first.data, firstBefore.data);  // the first face is only read
    const bool vertical = c.layout < 2;
    const int width = vertical ? std::max(c.w1, c.w2) : c.w1 + c.w2;
    const int height = vertical ? c.h1 + c.h2 : std::max(c.h1, c.h2);
    ASSERT_EQ(out.Width, static_cast<uint32_t>(width));
    ASSERT_EQ(out.Height, static_cast<uint32_t>(height));
    ASSERT_EQ(out.Bpl, static_cast<uint32_t>((width * c.bpp + 7) / 8));
    ASSERT_EQ(out.DataSize, out.Bpl * out.Height);
    EXPECT_EQ(out.Dpi, 300);
    EXPECT_EQ(out.EndorserCount, 7);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        ASSERT_EQ(PixelOf(out, out.Data, x, y),
                  Expected(first, second, secondPixels, secondInfo, c.layout, c.fill, x, y))
            << x << "," << y;
    free(out.Data);
  }
}

TEST_F(Bilevel, MergeLayoutOnePutsTheSecondFaceFirst) {
  Face first(8, 2, 8, 0, 1), second(8, 2, 8, 0, 2);
  I3ipImageInfo out{};
  ASSERT_EQ(lib.merge(&first.info, &second.info, 1, 0, 1, &out), 0);
  EXPECT_EQ(memcmp(out.Data, second.data.data(), 8), 0);
  EXPECT_EQ(memcmp(out.Data + 16, first.data.data(), 8), 0);
  free(out.Data);
}

}  // namespace
