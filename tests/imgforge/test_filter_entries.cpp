// libimgforge's page filter entry, tone tables, white-level following and
// emphasis, bound by name from the staged library as the backends bind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "filter_library.h"

using namespace filters_test;

namespace {

FSIP_S_IMAGEEMPHASIS Emphasis(int flags, int step, int level = 7) {
  FSIP_S_IMAGEEMPHASIS e{sizeof(FSIP_S_IMAGEEMPHASIS), flags, level, 0, 0, 1};
  if (flags == 2) e.nEmphasisLevel = step;
  if (flags == 4) e.nDescreenLevel = step;
  return e;
}

FSIP_S_IMAGEFILTER Options(uint32_t option, FSIP_S_IMAGEEMPHASIS* e = nullptr, void* white = nullptr,
                           void* gamma = nullptr) {
  FSIP_S_IMAGEFILTER f{};
  f.cbSize = sizeof f;
  f.dwOption = option;
  f.pEmphasis = e;
  f.pWhiteLevel = white;
  f.pGamma = gamma;
  return f;
}

// A table block: header, then three tables.
struct ToneBlock {
  unsigned char bytes[10 + 3 * 256] = {};
  explicit ToneBlock(int arrangement = 0) {
    bytes[2] = static_cast<unsigned char>(arrangement);
    bytes[4] = 1, bytes[6] = 1;
    for (int t = 0; t < 3; ++t)
      for (int v = 0; v < 256; ++v)
        bytes[10 + 256 * t + v] = static_cast<unsigned char>(t == 0 ? 255 - v : t == 1 ? v / 2 : 10 + v / 4);
  }
  const unsigned char* table(int t) const { return bytes + 10 + 256 * t; }
};

FSIP_S_GAMMA Gamma(ToneBlock& block, int pass, int mode = 0, int transfer = 0x83) {
  FSIP_S_GAMMA g{};
  g.cbSize = sizeof g;
  g.byMode = static_cast<uint8_t>(mode);
  g.byPass = static_cast<uint8_t>(pass);
  g.byTransferDataType = static_cast<uint8_t>(transfer);
  g.pbyTable = block.bytes;
  return g;
}

class Filters : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_TRUE(lib.filter && lib.dropoutEx && lib.dropout && lib.fourBit && lib.binarizeEx && lib.binarize &&
                lib.binarizeExport && lib.select && lib.gammaCalc && lib.lutFront && lib.lutBack && lib.combine &&
                lib.merge);
  }
  Library lib;
};

// --- checks and codes ------------------------------------------------------

struct CodeCase {
  const char* name;
  std::function<int(const Library&)> call;
  int expected;
};

std::vector<CodeCase> CodeCases() {
  std::vector<CodeCase> cases;
  auto add = [&](const char* name, std::function<int(const Library&)> call, int code) {
    cases.push_back({name, std::move(call), code});
  };
  // fsip_ImageFilter
  add(
      "filter: null page",
      [](const Library& l) {
        auto o = Options(0);
        return l.filter(nullptr, &o, nullptr, nullptr);
      },
      -2);
  add(
      "filter: bilevel page",
      [](const Library& l) {
        Page p(16, 4, 1);
        auto o = Options(0);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -3);
  add(
      "filter: colour order 2",
      [](const Library& l) {
        Page p(16, 4, 24, 300, 2);
        auto o = Options(0);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -4);
  add(
      "filter: null options",
      [](const Library& l) {
        Page p(16, 4, 8);
        return l.filter(&p.info, nullptr, nullptr, nullptr);
      },
      -2);
  add(
      "filter: tone pass without its record",
      [](const Library& l) {
        Page p(16, 4, 8);
        auto o = Options(4);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "filter: grey page of depth 4",
      [](const Library& l) {
        Page p(16, 4, 4);
        p.info.nPixelType = 1;
        auto o = Options(0);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "filter: lines shorter than the width",
      [](const Library& l) {
        Page p(16, 4, 8);
        p.info.nBytesPerLine = 8;
        auto o = Options(0);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "emphasis: sharpness step 3",
      [](const Library& l) {
        Page p(16, 4, 8);
        auto e = Emphasis(2, 3);
        auto o = Options(1, &e);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "emphasis: smoothing step 4",
      [](const Library& l) {
        Page p(16, 4, 8);
        auto e = Emphasis(4, 4);
        auto o = Options(1, &e);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "emphasis: level 8",
      [](const Library& l) {
        Page p(16, 4, 8);
        auto e = Emphasis(2, 0, 8);
        auto o = Options(1, &e);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "emphasis: no flag",
      [](const Library& l) {
        Page p(16, 4, 8);
        auto e = Emphasis(0, 0);
        auto o = Options(1, &e);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "emphasis: null record",
      [](const Library& l) {
        Page p(16, 4, 24);
        auto o = Options(1);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  add(
      "white level: words 1, 0",
      [](const Library& l) {
        Page p(16, 4, 8);
        FSIP_S_WHITELVFOLLOW w{12, 1, 0};
        auto o = Options(2, nullptr, &w);
        return l.filter(&p.info, &o, nullptr, nullptr);
      },
      -2);
  // fsip_DropoutColorEx
  auto dropout = [](int type, uint32_t output, bool binarization, std::function<void(Page&)> change = {}) {
    return [=](const Library& l) {
      Page p(16, 4, 24);
      if (change) change(p);
      FSIP_S_BINARIZATIONEX b{};
      b.dwBoundary = 1;
      FSIP_S_DROPOUTCOLOREX d{};
      d.cbSize = sizeof d;
      d.wDropoutType = static_cast<uint16_t>(type);
      d.dwOutput = output;
      d.pBinarization = binarization ? &b : nullptr;
      FSIP_S_IMAGEINFO out{};
      const int rc = l.dropoutEx(&p.info, &d, &out, nullptr);
      free(out.pImageData);
      return rc;
    };
  };
  add("drop-out: type 7", dropout(7, 1, false), -2);
  add("drop-out: type 0", dropout(0, 1, false), -2);
  add("drop-out: output switch 2", dropout(1, 2, true), -2);
  add("drop-out: reserved word set", dropout(1, 1, false, [](Page& p) { p.info.reserved[3] = 1; }), -2);
  add("drop-out: grey page", dropout(1, 1, false, [](Page& p) { p.info.nDepth = 8; }), -2);
  add("drop-out: type 6 without its record", dropout(6, 1, false), -2);
  add("drop-out: bilevel without its record", dropout(1, 0, false), -2);
  add(
      "drop-out: fourth argument set",
      [](const Library& l) {
        Page p(16, 4, 24);
        FSIP_S_DROPOUTCOLOREX d{};
        d.wDropoutType = 1;
        d.dwOutput = 1;
        FSIP_S_IMAGEINFO out{};
        int reserved = 0;
        return l.dropoutEx(&p.info, &d, &out, &reserved);
      },
      -2);
  add(
      "drop-out: null out",
      [](const Library& l) {
        Page p(16, 4, 24);
        FSIP_S_DROPOUTCOLOREX d{};
        d.wDropoutType = 1;
        d.dwOutput = 1;
        return l.dropoutEx(&p.info, &d, nullptr, nullptr);
      },
      -2);
  add(
      "drop-out: specified table of the wrong size",
      [](const Library& l) {
        Page p(16, 4, 24);
        std::vector<unsigned char> table(4096, 0x80);
        FSIP_S_SPECIFIED_DOC doc{sizeof doc, 4095, 256, table.data()};
        FSIP_S_DROPOUTCOLOREX d{};
        d.wDropoutType = 6;
        d.dwOutput = 1;
        d.pSpecified = &doc;
        FSIP_S_IMAGEINFO out{};
        return l.dropoutEx(&p.info, &d, &out, nullptr);
      },
      -2);
  add(
      "4-bit: 24-bit page, type 2",
      [](const Library& l) {
        Page p(16, 4, 24);
        const uint32_t type = 2;
        FSIP_S_IMAGEINFO out{};
        return l.fourBit(&p.info, &type, &out, nullptr);
      },
      -2);
  add(
      "4-bit: reserved word set",
      [](const Library& l) {
        Page p(16, 4, 8);
        p.info.reserved[0] = 1;
        const uint32_t type = 1;
        FSIP_S_IMAGEINFO out{};
        return l.fourBit(&p.info, &type, &out, nullptr);
      },
      -2);
  // fsip_BinarizationEx
  auto binarize = [](uint32_t method, std::function<void(Page&, FSIP_S_BINARIZATIONEX&, FSIP_S_IMAGEINFO*&)> change) {
    return [=](const Library& l) {
      Page p(16, 4, 8);
      Page bits(16, 4, 1);
      static unsigned char dither[66];
      static FSIP_S_ERROR_DIFFUSION ed{20, 1, 2, 200, 40};
      static FSIP_S_SDTCEX dtc{{36, 20, 4, 152, 16, 16, 1}, nullptr};
      FSIP_S_BINARIZATIONEX b{};
      b.cbSize = sizeof b;
      b.dwMethod = method;
      b.pDither = dither;
      b.pErrorDiffusion = &ed;
      b.pSdtc = &dtc;
      b.dwBoundary = 1;
      FSIP_S_IMAGEINFO* out = &bits.info;
      change(p, b, out);
      return l.binarizeEx(&p.info, &b, out, nullptr);
    };
  };
  add("binarization: colour page", binarize(0, [](Page& p, auto&, auto&) { p.info.nPixelType = 2; }), -3);
  add("binarization: colour order 1", binarize(0, [](Page& p, auto&, auto&) { p.info.nColorSeq = 1; }), -4);
  add("binarization: null out", binarize(0, [](Page&, auto&, FSIP_S_IMAGEINFO*& o) { o = nullptr; }), -2);
  add("binarization: method 4", binarize(4, [](Page&, auto&, auto&) {}), -2);
  add("binarization: dither without its matrix", binarize(1, [](Page&, auto& b, auto&) { b.pDither = nullptr; }), -2);
  add("binarization: error diffusion without its record",
      binarize(2, [](Page&, auto& b, auto&) { b.pErrorDiffusion = nullptr; }), -2);
  add("binarization: dynamic threshold without its record",
      binarize(3, [](Page&, auto& b, auto&) { b.pSdtc = nullptr; }), -2);
  add("binarization: pre-filter without its record",
      binarize(0x1000, [](Page&, auto& b, auto&) { b.pPreFilter = nullptr; }), -2);
  add("binarization: out wider than the page", binarize(0, [](Page&, auto&, FSIP_S_IMAGEINFO*& o) { o->nWidth = 17; }),
      -2);
  add(
      "binarization: null record",
      [](const Library& l) {
        Page p(16, 4, 8), bits(16, 4, 1);
        return l.binarizeEx(&p.info, nullptr, &bits.info, nullptr);
      },
      -2);
  add(
      "older binarization: dither without its matrix",
      [](const Library& l) {
        Page p(16, 4, 8), bits(16, 4, 1);
        FSIP_S_BINARIZATION b{1, 128, nullptr, nullptr, 1};
        return l.binarize(&p.info, &b, &bits.info, nullptr);
      },
      -2);
  add(
      "older binarization: out without pixels",
      [](const Library& l) {
        Page p(16, 4, 8), bits(16, 4, 1);
        bits.info.pImageData = nullptr;
        FSIP_S_BINARIZATION b{0, 128, nullptr, nullptr, 1};
        return l.binarizeExport(&p.info, &b, &bits.info, nullptr);
      },
      -2);
  // fsip_SelectEmphasize
  auto select = [](int method, std::function<void(Page&, FSIP_S_SELECTEMPHA&, FSIP_S_IMAGEINFO*&)> change) {
    return [=](const Library& l) {
      Page p(16, 4, 8), bits(16, 4, 1);
      static unsigned char dither[64];
      static FSIP_S_ERROR_DIFFUSION ed{20, 1, 2, 200, 40};
      static FSIP_S_IMAGEEMPHASIS e{24, 2, 7, 0, 0, 1};
      static FSIP_S_IMAGEFILTER f = Options(1, &e);
      FSIP_S_SELECTEMPHA s{};
      s.cbSize = sizeof s;
      s.nMethod = method;
      s.nThreshold = 128;
      s.pbyDither = dither;
      s.pErrorDiffusion = &ed;
      s.pFilter = &f;
      FSIP_S_IMAGEINFO* out = &bits.info;
      change(p, s, out);
      return l.select(&p.info, &s, out);
    };
  };
  add("selective: colour page", select(1, [](Page& p, auto&, auto&) { p.info.nPixelType = 2; }), -2);
  add("selective: colour order 2", select(1, [](Page& p, auto&, auto&) { p.info.nColorSeq = 2; }), -4);
  add("selective: dither without its matrix", select(1, [](Page&, auto& s, auto&) { s.pbyDither = nullptr; }), -2);
  add("selective: method 3", select(3, [](Page&, auto&, auto&) {}), -2);
  add("selective: out without pixels", select(2, [](Page&, auto&, FSIP_S_IMAGEINFO*& o) { o->pImageData = nullptr; }),
      -2);
  add("selective: null out", select(2, [](Page&, auto&, FSIP_S_IMAGEINFO*& o) { o = nullptr; }), -2);
  // Tone table builders.
  add(
      "gamma calculation: cbSize 75",
      [](const Library& l) {
        ToneBlock block;
        FSIP_S_GAMMACALC g{};
        g.cbSize = 75;
        g.pbyTable = block.bytes;
        return l.gammaCalc(&g);
      },
      -2);
  add(
      "gamma calculation: bad header",
      [](const Library& l) {
        ToneBlock block;
        block.bytes[6] = 0;
        FSIP_S_GAMMACALC g{};
        g.cbSize = sizeof g;
        g.pbyTable = block.bytes;
        return l.gammaCalc(&g);
      },
      -2);
  add(
      "combined tables: kind 3",
      [](const Library& l) {
        Page p(16, 4, 24);
        ToneBlock block;
        return l.combine(&p.info, "3,8,8", block.table(0), block.table(1));
      },
      -2);
  add(
      "combined tables: wider than the page",
      [](const Library& l) {
        Page p(16, 4, 24);
        ToneBlock block;
        return l.combine(&p.info, "1,8,9", block.table(0), block.table(1));
      },
      -2);
  add(
      "combined tables: negative part",
      [](const Library& l) {
        Page p(16, 4, 24);
        ToneBlock block;
        return l.combine(&p.info, "1,-4,8", block.table(0), block.table(1));
      },
      -2);
  // MergeImage
  auto merge = [](int layout, std::function<void(I3ipImageInfo&, I3ipImageInfo&)> change) {
    return [=](const Library& l) {
      std::vector<unsigned char> a(64, 1), b(64, 2);
      I3ipImageInfo first{40, 0, 8, 0, 0, 300, 0, 8, 8, 8, 64, a.data()};
      I3ipImageInfo second = first;
      second.Data = b.data();
      change(first, second);
      I3ipImageInfo out{};
      const int rc = l.merge(&first, &second, layout, 0, 1, &out);
      free(out.Data);
      return rc;
    };
  };
  add("merge: depths differ", merge(0, [](I3ipImageInfo&, I3ipImageInfo& s) { s.Bpp = 1, s.Bpl = 1; }), 36);
  add("merge: layout -1", merge(-1, [](I3ipImageInfo&, I3ipImageInfo&) {}), 36);
  add("merge: no pixels", merge(0, [](I3ipImageInfo& f, I3ipImageInfo&) { f.Data = nullptr; }), 36);
  add("merge: lines shorter than the width", merge(2, [](I3ipImageInfo& f, I3ipImageInfo&) { f.Bpl = 4; }), 36);
  add("merge: size below its lines", merge(2, [](I3ipImageInfo&, I3ipImageInfo& s) { s.DataSize = 63; }), 36);
  add("merge: depth 16", merge(0, [](I3ipImageInfo& f, I3ipImageInfo& s) { f.Bpp = s.Bpp = 16; }), 36);
  add("merge: layout 7 goes side by side", merge(7, [](I3ipImageInfo&, I3ipImageInfo&) {}), 0);
  return cases;
}

TEST_F(Filters, EntriesAnswerTheirChecks) {
  for (const auto& c : CodeCases()) EXPECT_EQ(c.call(lib), c.expected) << c.name;
}

TEST_F(Filters, MergeWithoutAnOutRecordIsRefused) {
  std::vector<unsigned char> a(64, 1);
  I3ipImageInfo face{40, 0, 8, 0, 0, 300, 0, 8, 8, 8, 64, a.data()};
  I3ipImageInfo other = face;
  EXPECT_EQ(lib.merge(&face, &other, 0, 0, 1, nullptr), 36);
}

// --- the filter entry ------------------------------------------------------

TEST_F(Filters, OptionsZeroChangeNothing) {
  Page page(37, 11, 24);
  page.Random(1);
  const Page original = page;
  auto o = Options(0);
  ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
  EXPECT_EQ(page.pixels, original.pixels);

  Page copy(37, 11, 24);
  copy.Fill(9);
  copy.info = FSIP_S_IMAGEINFO{};
  copy.info.pImageData = copy.pixels.data();
  ASSERT_EQ(lib.filter(&page.info, &o, &copy.info, nullptr), 0);
  EXPECT_EQ(copy.pixels, original.pixels);
  EXPECT_EQ(copy.info.cbSize, 56u);
  EXPECT_EQ(copy.info.nWidth, 37);
  EXPECT_EQ(copy.info.nBytesPerLine, 111);
  EXPECT_EQ(copy.info.nImageSize, 111 * 11);
  EXPECT_EQ(page.pixels, original.pixels);
}

// Emphasis flags 1 is the identity step: what comes back is the luminance
// split and merge alone, in either colour order. Its integer arithmetic
// floors six times: greys come back exactly, colours within 3 levels.
TEST_F(Filters, LuminanceSplitAndMergeKeepTheColours) {
  for (int order : {1, 6}) {
    SCOPED_TRACE(order);
    Page page(64, 16, 24, 300, order);
    page.Random(2, 30, 225);  // away from the clipping of the merge
    for (int x = 0; x < 8; ++x) page.at(x, 0, 0) = 220, page.at(x, 0, 1) = 40, page.at(x, 0, 2) = 40;
    for (int x = 8; x < 12; ++x)
      for (int c = 1; c < 3; ++c) page.at(x, 1, c) = page.at(x, 1, 0);
    const Page original = page;
    auto e = Emphasis(1, 0);
    auto o = Options(1, &e);
    ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
    for (size_t i = 0; i < page.pixels.size(); ++i) ASSERT_NEAR(page.pixels[i], original.pixels[i], 3) << "byte " << i;
    for (int x = 8; x < 12; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(page.at(x, 1, c), original.at(x, 1, 0));
    // The first byte of a B, G, R pixel is still the blue one.
    EXPECT_NEAR(page.at(0, 0, 0), 220, 3);
  }
}

TEST_F(Filters, FailedFilterGivesAColourPageItsColoursBack) {
  Page page(32, 8, 24);
  page.Random(3, 30, 225);
  const Page original = page;
  FSIP_S_WHITELVFOLLOW bad{12, 1, 0};
  auto o = Options(2, nullptr, &bad);
  ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), -2);
  for (size_t i = 0; i < page.pixels.size(); ++i) ASSERT_NEAR(page.pixels[i], original.pixels[i], 3);
}

// Lines longer than the pixels: the filter steps by the record's line
// length both ways and leaves the padding alone.
TEST_F(Filters, PaddedColourLinesAreFollowed) {
  Page tight(19, 9, 24, 300, 6);
  tight.Random(6);
  Page padded(19, 9, 24, 300, 6);
  padded.info.nBytesPerLine = 3 * 19 + 5;
  padded.info.nImageSize = padded.info.nBytesPerLine * 9;
  padded.pixels.assign(static_cast<size_t>(padded.info.nImageSize), 0xEE);
  padded.info.pImageData = padded.pixels.data();
  for (int y = 0; y < 9; ++y) memcpy(&padded.pixels[y * padded.info.nBytesPerLine], &tight.pixels[y * 57], 57);
  auto e = Emphasis(2, 0);
  auto o = Options(1, &e);
  ASSERT_EQ(lib.filter(&tight.info, &o, nullptr, nullptr), 0);
  ASSERT_EQ(lib.filter(&padded.info, &o, nullptr, nullptr), 0);
  for (int y = 0; y < 9; ++y) {
    ASSERT_EQ(memcmp(&padded.pixels[y * padded.info.nBytesPerLine], &tight.pixels[y * 57], 57), 0) << y;
    for (int k = 57; k < 62; ++k) ASSERT_EQ(padded.pixels[y * padded.info.nBytesPerLine + k], 0xEE);
  }
}

// --- tone tables -----------------------------------------------------------

TEST_F(Filters, ToneTablesFollowTheArrangementCode) {
  static const int kUse[8][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {2, 0, 1},
                                 {1, 2, 0}, {2, 1, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int code = 0; code < 8; ++code) {
    for (int order : {1, 6}) {
      SCOPED_TRACE(std::to_string(code) + " order " + std::to_string(order));
      Page page(20, 3, 24, 300, order);
      page.Random(code);
      const Page original = page;
      ToneBlock block(code);
      auto g = Gamma(block, 1);
      auto o = Options(4, nullptr, nullptr, &g);
      ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
      const int red = order == 6 ? 2 : 0, blue = order == 6 ? 0 : 2;
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 20; ++x) {
          ASSERT_EQ(page.at(x, y, red), block.table(kUse[code][0])[original.at(x, y, red)]);
          ASSERT_EQ(page.at(x, y, 1), block.table(kUse[code][1])[original.at(x, y, 1)]);
          ASSERT_EQ(page.at(x, y, blue), block.table(kUse[code][2])[original.at(x, y, blue)]);
        }
    }
  }
}

TEST_F(Filters, TonePassRunsWhereItsFlagsSay) {
  Page grey(10, 2, 8);
  grey.Random(4);
  const Page original = grey;
  ToneBlock block;
  for (int pass : {0, 1, 2, 3}) {
    Page page = original;
    auto g = Gamma(block, pass, 0, 0);
    auto o = Options(4, nullptr, nullptr, &g);
    ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
    for (size_t i = 0; i < page.pixels.size(); ++i) {
      int v = original.pixels[i];
      for (int k = 0; k < (pass == 3 ? 2 : pass ? 1 : 0); ++k) v = block.table(0)[v];
      ASSERT_EQ(page.pixels[i], v) << "pass flags " << pass;
    }
  }
  // A record of the wrong size is refused by the pass, which the entry
  // does not report: the page stays as it was.
  Page page = original;
  auto g = Gamma(block, 3);
  g.cbSize = 24;
  auto o = Options(4, nullptr, nullptr, &g);
  EXPECT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
  EXPECT_EQ(page.pixels, original.pixels);
}

TEST_F(Filters, NeutralToneSettingsGiveTheIdentity) {
  ToneBlock block;
  for (int v = 0; v < 256; ++v) block.bytes[10 + v] = static_cast<unsigned char>(v);
  FSIP_S_GAMMACALC g{};
  g.cbSize = sizeof g;
  g.nHighlight = 255;
  g.dGamma = 1.0;
  g.pbyTable = block.bytes;
  ASSERT_EQ(lib.gammaCalc(&g), 0);
  for (int v = 0; v < 256; ++v) ASSERT_EQ(block.table(0)[v], v);
  // The table arithmetic at neutral settings keeps every level too.
  g.nMethod = 2;
  ASSERT_EQ(lib.gammaCalc(&g), 0);
  for (int v = 0; v < 256; ++v) ASSERT_NEAR(block.table(0)[v], v, 1);
}

TEST_F(Filters, ToneCurvesRiseMonotonically) {
  const FSIP_S_GAMMACURVE settings[] = {
      {0, 0, 0, 255, 10},  {64, 0, 0, 255, 10}, {200, 0, 0, 255, 10},  {0, 40, 0, 255, 10},  {0, 220, 0, 255, 10},
      {0, 0, 30, 200, 10}, {0, 0, 0, 255, 22},  {90, 180, 10, 240, 5}, {0, 0, 128, 128, 10},
  };
  for (const auto& s : settings) {
    for (auto* make : {lib.lutFront, lib.lutBack}) {
      unsigned char table[256];
      ASSERT_EQ(make(&s, table), 0);
      for (int v = 1; v < 256; ++v) ASSERT_GE(table[v], table[v - 1]) << s.nBrightness << "/" << s.nContrast;
      EXPECT_LT(table[0], table[255]);
    }
  }
  // A brighter setting lifts the middle of the curve.
  unsigned char dark[256], bright[256];
  FSIP_S_GAMMACURVE c{200, 0, 0, 255, 10};
  lib.lutBack(&c, dark);
  c.nBrightness = 60;
  lib.lutBack(&c, bright);
  EXPECT_GT(bright[128], dark[128]);
}

TEST_F(Filters, CombinedTablesWorkOnTheirHalves) {
  Page page(10, 2, 24);
  page.Random(5);
  const Page original = page;
  ToneBlock block;
  ASSERT_EQ(lib.combine(&page.info, "2,4,3", block.table(0), block.table(1)), 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 10; ++x)
      for (int c = 0; c < 3; ++c) {
        const int v = original.at(x, y, c);
        const int want = x < 4 ? block.table(1)[v] : x >= 7 ? block.table(0)[v] : v;
        ASSERT_EQ(page.at(x, y, c), want);
      }
}

// --- white-level following -------------------------------------------------

TEST_F(Filters, WhiteLevelFollowingWhitensAUniformPage) {
  Page page(40, 300, 8);
  page.Fill(200);
  FSIP_S_WHITELVFOLLOW w{12, 1, 1};
  auto o = Options(2, nullptr, &w);
  ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
  for (int y = 0; y <= 16; ++y) ASSERT_EQ(page.at(7, y), 200) << y;
  // From line 17 the background has moved 16/128 of the way to 200.
  EXPECT_EQ(page.at(7, 17), 200 * 255 / ((200 * 16 + 255 * 112) / 128));
  for (int y = 18; y < 300; ++y) ASSERT_GE(page.at(7, y), page.at(7, y - 1)) << y;
  EXPECT_GE(page.at(7, 299), 250);
  EXPECT_EQ(page.at(0, 299), page.at(39, 299));
}

TEST_F(Filters, WhiteLevelFollowingFlattensAGradient) {
  Page page(64, 400, 24);
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) page.at(x, y, c) = static_cast<unsigned char>(150 + x * 80 / 63);
  FSIP_S_WHITELVFOLLOW w{12, 1, 1};
  auto o = Options(2, nullptr, &w);
  ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
  EXPECT_EQ(page.at(63, 0) - page.at(0, 0), 80);  // untouched before the learning starts
  int lo = 255, hi = 0;
  for (int x = 0; x < 64; ++x)
    lo = std::min(lo, static_cast<int>(page.at(x, 399, 1))), hi = std::max(hi, static_cast<int>(page.at(x, 399, 1)));
  EXPECT_GE(lo, 245);
  EXPECT_LE(hi - lo, 8);
}

TEST_F(Filters, WhiteLevelFollowingOfANarrowPage) {
  Page page(2, 120, 8);
  page.Fill(180);
  FSIP_S_WHITELVFOLLOW w{12, 1, 1};
  auto o = Options(2, nullptr, &w);
  ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
  EXPECT_EQ(page.at(0, 119), page.at(1, 119));
  EXPECT_GT(page.at(0, 119), 240);
}

// --- emphasis --------------------------------------------------------------

// The emphasis as written out pixel by pixel for the device family that the
// filter entry selects.
struct Row {
  int s[4], d[4], t[3];
};
const Row kNormal[8] = {
    {{4, 4, 4, 4}, {1, 1, 1, 1}, {0, 0, 0}},        {{2, 2, 2, 2}, {1, 1, 1, 1}, {0, 0, 0}},
    {{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0}},        {{0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0}},
    {{-1, -1, -1, -1}, {8, 8, 4, 4}, {45, 35, 20}}, {{-1, -1, -1, -1}, {4, 4, 4, 4}, {0, 0, 0}},
    {{-1, -1, -1, -1}, {4, 4, 2, 2}, {45, 35, 20}}, {{-1, -1, -1, -1}, {2, 2, 2, 2}, {0, 0, 0}},
};
const Row kSdtcHead[4] = {{{7, 7, 7, 7}, {1, 1, 1, 1}, {0, 0, 0}},
                          {{6, 6, 6, 6}, {1, 1, 1, 1}, {0, 0, 0}},
                          {{5, 5, 5, 5}, {1, 1, 1, 1}, {0, 0, 0}},
                          {{4, 4, 4, 4}, {1, 1, 1, 1}, {0, 0, 0}}};

std::vector<unsigned char> ReferenceEmphasis(const Page& page, int flags, int step, int level) {
  const int w = page.info.nWidth, h = page.info.nHeight;
  const bool wide = page.info.nXResolution > 300;
  auto W = [&](int y, int x, int r, int c) {
    const int yy = std::min(h - 1, std::max(0, y + r - 2)), xx = std::min(w - 1, std::max(0, x + c - 2));
    return static_cast<int>(page.at(xx, yy));
  };
  const int index = flags == 2 ? 2 - step : flags == 1 ? 3 : 4 + step;
  const Row& row = level == 1 && index < 4 ? kSdtcHead[index] : kNormal[index];
  std::vector<unsigned char> out(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      auto at = [&](int r, int c) { return W(y, x, r, c); };
      const int C = at(2, 2);
      int ring3 = 0;
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c)
          if (r != 2 || c != 2) ring3 += at(r, c);
      const int ring5 = at(0, 0) + at(0, 2) + at(0, 4) + at(2, 0) + at(2, 4) + at(4, 0) + at(4, 2) + at(4, 4);
      const int m0 = std::abs(ring3 - 8 * C), m1 = std::abs(ring5 - 8 * C);
      const int m2 =
          std::abs(at(2, 3) + at(3, 2) - at(2, 1) - at(1, 2)) + std::abs(at(3, 1) + at(3, 3) - at(1, 1) - at(1, 3)) +
          std::abs(at(1, 1) + at(3, 1) - at(1, 3) - at(3, 3)) + std::abs(at(2, 3) + at(1, 2) - at(2, 1) - at(3, 2));
      const int m3 =
          std::abs(at(0, 1) + at(0, 3) - at(4, 1) - at(4, 3)) + std::abs(at(1, 0) + at(0, 1) - at(3, 4) - at(4, 3)) +
          std::abs(at(1, 0) + at(3, 0) - at(1, 4) - at(3, 4)) + std::abs(at(0, 3) + at(1, 4) - at(3, 0) - at(4, 1));
      const int measures[3] = {m0, wide ? m1 : m0, wide ? m3 : m2};
      int cls = 3;
      for (int k = 0; k < 3; ++k) {
        if (row.t[k] == 0) {
          cls = k;
          break;
        }
        if (row.t[k] != 255 && measures[k] >= 8 * row.t[k]) {
          cls = k;
          break;
        }
      }
      const int F = wide ? ring5 - 8 * C : ring3 - 8 * C;
      const int v = row.s[cls] == 0 ? C : C + (row.s[cls] * -F) / row.d[cls] / 8;
      out[static_cast<size_t>(y) * w + x] = static_cast<unsigned char>(std::min(255, std::max(0, v)));
    }
  return out;
}

TEST_F(Filters, EmphasisMatchesThePerPixelReference) {
  struct Case {
    int flags, step, level, dpi;
  };
  const Case cases[] = {{2, 0, 7, 300}, {2, 1, 7, 300}, {2, 2, 7, 600}, {4, 0, 7, 300}, {4, 1, 7, 600},
                        {4, 2, 7, 300}, {4, 3, 7, 600}, {2, 0, 1, 300}, {2, 2, 1, 200}, {1, 0, 7, 600}};
  int seed = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE("flags " + std::to_string(c.flags) + " step " + std::to_string(c.step) + " level " +
                 std::to_string(c.level) + " dpi " + std::to_string(c.dpi));
    Page page(41, 23, 8, c.dpi);
    page.Random(++seed);
    // Smooth areas and edges too, so that every class is met.
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 20; ++x) page.at(x, y) = static_cast<unsigned char>(x < 10 ? 200 : 60 + y);
    const std::vector<unsigned char> want = ReferenceEmphasis(page, c.flags, c.step, c.level);
    auto e = Emphasis(c.flags, c.step, c.level);
    auto o = Options(1, &e);
    Page out(41, 23, 8, c.dpi);
    ASSERT_EQ(lib.filter(&page.info, &o, &out.info, nullptr), 0);
    ASSERT_EQ(out.pixels, want);
    ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);  // in place alike
    ASSERT_EQ(page.pixels, want);
  }
}

TEST_F(Filters, EmphasisLeavesAFlatPage) {
  for (int flags : {2, 4})
    for (int step = 0; step < 3; ++step)
      for (int dpi : {300, 600}) {
        Page page(30, 12, 8, dpi);
        page.Fill(128);
        auto e = Emphasis(flags, step);
        auto o = Options(1, &e);
        ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
        for (auto v : page.pixels) ASSERT_EQ(v, 128);
      }
}

// At 600 dpi the kernel is the ring two steps away: a dark dot is darkened by
// (8 C - ring) / 8 and the ring lightened, its direct neighbours untouched.
TEST_F(Filters, EmphasisOfADarkDotAt600Dpi) {
  Page page(15, 15, 8, 600);
  page.Fill(240);
  page.at(7, 7) = 200;
  auto e = Emphasis(2, 0);
  auto o = Options(1, &e);
  ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
  EXPECT_EQ(page.at(7, 7), 200 - (8 * 240 - 8 * 200) / 8);
  EXPECT_EQ(page.at(5, 7), 240 + 40 / 8);
  EXPECT_EQ(page.at(9, 9), 240 + 40 / 8);
  EXPECT_EQ(page.at(8, 7), 240);
  EXPECT_EQ(page.at(6, 6), 240);
}

TEST_F(Filters, EmphasisOnAColourPageWorksOnItsLuminance) {
  Page page(21, 9, 24, 300);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 21; ++x) page.at(x, y, 0) = 200, page.at(x, y, 1) = 180, page.at(x, y, 2) = 60;
  page.at(10, 4, 0) = 100, page.at(10, 4, 1) = 90, page.at(10, 4, 2) = 30;
  auto e = Emphasis(2, 0);
  auto o = Options(1, &e);
  const Page before = page;
  ASSERT_EQ(lib.filter(&page.info, &o, nullptr, nullptr), 0);
  // The flat area keeps its colour; the dark dot gets darker, its hue kept.
  EXPECT_NEAR(page.at(2, 2, 0), 200, 2);
  EXPECT_NEAR(page.at(2, 2, 2), 60, 2);
  EXPECT_LT(page.at(10, 4, 0), before.at(10, 4, 0) - 20);
  EXPECT_GT(page.at(10, 4, 0), page.at(10, 4, 2));
}

}  // namespace
