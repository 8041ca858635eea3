// Steps of the text-direction code inside the library: the glyph dictionary,
// the votes, character boxes of a line, line slots and 1-bit tiles.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ktj_internal.h"
#include "ktj_mesh.h"
#include "ktj_updown.h"
#include "text_pages.h"

using text_pages::Page;

namespace {

// The dictionary as the generator made it, the three given rows included as
// the font draws them.
const NINSIKI_DIC kGenerated[62] = {
#define NINSIKI_OWN_ROWS
#include "ninsiki_dic_data.inc"
#undef NINSIKI_OWN_ROWS
};

std::string Label(char c) {
  const unsigned cp = 0xFEE0 + static_cast<unsigned char>(c);
  std::string s;
  s += static_cast<char>(0xE0 | (cp >> 12));
  s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  s += static_cast<char>(0x80 | (cp & 0x3F));
  return s;
}

TEST(KtjDictionary, OrderClassesNormsAndCells) {
  const std::string order = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string noVote = "01689fijlorstxzHINOSXZ";
  int classZero = 0;
  for (int i = 0; i < 62; ++i) {
    NINSIKI_DIC const& e = ktj::ninsiki_dic[i];
    EXPECT_EQ(e.label, Label(order[i])) << i;
    EXPECT_EQ(e.cls, noVote.find(order[i]) == std::string::npos ? 1 : 0) << order[i];
    classZero += e.cls == 0;
    int norm = 0;
    for (int k = 0; k < 25; ++k) {
      EXPECT_LE(e.cells[k], 21) << order[i];
      norm += e.cells[k] * e.cells[k];
    }
    EXPECT_EQ(e.norm, norm) << order[i];
  }
  EXPECT_EQ(classZero, 22);
}

TEST(KtjDictionary, GivenRowsStandAndTheFontsOwnRowsMatchThem) {
  struct Given {
    int index, cls, norm;
    uint8_t cells[25];
  } const given[] = {
      {0, 0, 3006, {7, 13, 10, 13, 5, 17, 4, 0, 6, 17, 19, 3, 0, 4, 19, 17, 4, 0, 6, 16, 6, 13, 11, 13, 5}},
      {2, 1, 2637, {9, 12, 10, 14, 9, 12, 4, 0, 8, 17, 1, 3, 10, 13, 4, 6, 12, 5, 0, 1, 17, 15, 13, 13, 13}},
      {36, 1, 1871, {0, 4, 17, 2, 0, 0, 10, 9, 9, 0, 2, 12, 3, 15, 1, 7, 11, 9, 14, 7, 14, 2, 0, 5, 14}},
  };
  for (auto const& g : given) {
    NINSIKI_DIC const& e = ktj::ninsiki_dic[g.index];
    EXPECT_EQ(e.cls, g.cls);
    EXPECT_EQ(e.norm, g.norm);
    EXPECT_EQ(0, memcmp(e.cells, g.cells, 25)) << g.index;
    // The font's own row scores highest against its given row among all 62,
    // but the font's digit 0, trimmed to its box, is the same ring as its
    // letters o and O.
    NINSIKI_DIC const& own = kGenerated[g.index];
    EXPECT_NE(0, memcmp(own.cells, g.cells, 25));
    int best = -1, bestScore = -1;
    for (int i = 0; i < 62; ++i) {
      if (g.index == 0 && (i == 24 || i == 50)) continue;
      const int s = ktj::Similarity(own.cells, own.norm, ktj::ninsiki_dic[i].cells, ktj::ninsiki_dic[i].norm);
      if (s > bestScore) bestScore = s, best = i;
    }
    EXPECT_EQ(best, g.index);
  }
}

TEST(KtjDictionary, MeshValuesFollowTheScale) {
  // One band pair of 4 x 4 = 16 pixels: 0 empty, percentages in fifths
  // rounded up, 21 when nearly full.
  EXPECT_EQ(ktj::MeshValue(0, 16), 0);
  EXPECT_EQ(ktj::MeshValue(1, 16), 2);   // 6.25 % -> 1.25 -> 2
  EXPECT_EQ(ktj::MeshValue(4, 20), 4);   // 20 % exactly
  EXPECT_EQ(ktj::MeshValue(15, 16), 19); // 93.75 % -> 18.75 -> 19
  EXPECT_EQ(ktj::MeshValue(16, 16), 21);
  EXPECT_EQ(ktj::MeshValue(99, 100), 20);
  EXPECT_EQ(ktj::MeshValue(100, 100), 21);
  // Bands of 7 rows: 2, 2, 1, 1, 1.
  int start, len;
  ktj::Band(7, 0, start, len);
  EXPECT_EQ(len, 2);
  ktj::Band(7, 2, start, len);
  EXPECT_EQ(start, 4);
  EXPECT_EQ(len, 1);
}

TEST(KtjVotes, PageVote) {
  struct {
    int up, down, want;
  } const cases[] = {{3, 0, 1}, {2, 0, 0}, {12, 9, 0}, {12, 8, 1}, {0, 3, 2}, {0, 0, 0}, {4, 4, 0}, {1, 5, 2}};
  for (auto const& c : cases) EXPECT_EQ(ktj::jug_direct_jug(c.up, c.down), c.want) << c.up << "-" << c.down;
}

TEST(KtjVotes, CellVoteAndAllZeroMesh) {
  EXPECT_EQ(ktj::CellVote(5, 2), 1);
  EXPECT_EQ(ktj::CellVote(5, 3), 0);  // 3 is not below (int)(0.6 x 5)
  EXPECT_EQ(ktj::CellVote(2, 5), 2);
  EXPECT_EQ(ktj::CellVote(0, 0), 0);
  const uint8_t zero[25] = {};
  EXPECT_EQ(ktj::jug_one_yama(zero, 0), 0);
  EXPECT_EQ(ktj::clu_dis_ruijido(zero, ktj::ninsiki_dic[0].cells), 0);
  EXPECT_EQ(ktj::clu_dis_ruijido(ktj::ninsiki_dic[0].cells, ktj::ninsiki_dic[0].cells), 10000);
  for (auto const& e : ktj::ninsiki_dic) EXPECT_EQ(ktj::Similarity(zero, 0, e.cells, e.norm), 0);
  // A dictionary row against itself votes its class; half-turned, class 1
  // rows vote upside-down.
  NINSIKI_DIC const& a = ktj::ninsiki_dic[36];
  EXPECT_EQ(ktj::jug_one_yama(a.cells, a.norm), 1);
  uint8_t turned[25];
  for (int k = 0; k < 25; ++k) turned[k] = a.cells[24 - k];
  EXPECT_EQ(ktj::jug_one_yama(turned, a.norm), 2);
}

TEST(KtjVotes, MarginMethod) {
  // Top margins all equal, bottoms varying: upside-down.
  EXPECT_EQ(ktj::saikin_bunseki_1({3, 3, 3, 3, 3, 3}, {1, 6, 1, 9, 4, 8}), 2);
  EXPECT_EQ(ktj::saikin_bunseki_1({1, 6, 1, 9, 4, 8}, {3, 3, 3, 3, 3, 3}), 1);
  // One outlier is left out: still steady.
  EXPECT_EQ(ktj::saikin_bunseki_1({1, 6, 1, 9, 4, 8}, {3, 3, 3, 30, 3, 3}), 1);
  EXPECT_EQ(ktj::saikin_bunseki_1({3, 3, 3, 3, 3}, {3, 3, 3, 3, 3}), 0);
}

struct LineFixture {
  Page p{2400, 200, 300};
  int Vote(text_pages::Row const& r, bool variable, int dpi, int* method) {
    return ktj::jug_direct_bunseki(p.bits.data(), p.bpl, r.box.left, r.box.top, r.box.right, r.box.bottom, variable,
                                   dpi, method);
  }
};

TEST(KtjLineVote, MixedHeightsByMarginsCapitalsByPatterns) {
  for (bool turned : {false, true}) {
    LineFixture f, g;
    auto lower = text_pages::DrawLowerRow(f.p, 20, 20, 30, 5, 42);
    auto caps = text_pages::DrawCapitalRow(g.p, 20, 20, 30, 5, 42);
    if (turned) text_pages::HalfTurn(f.p, lower.box), text_pages::HalfTurn(g.p, caps.box);
    for (bool variable : {false, true}) {
      int method = -1;
      EXPECT_EQ(f.Vote(lower, variable, 300, &method), turned ? 2 : 1);
      EXPECT_EQ(method, 1);
      EXPECT_EQ(g.Vote(caps, variable, 300, &method), turned ? 2 : 1);
      EXPECT_EQ(method, 2);
    }
  }
}

TEST(KtjLineVote, DigitsByPatterns) {
  for (bool turned : {false, true}) {
    LineFixture f;
    auto digits = text_pages::DrawDigitRow(f.p, 20, 20, 30, 3, 42);
    if (turned) text_pages::HalfTurn(f.p, digits.box);
    int method = -1;
    EXPECT_EQ(f.Vote(digits, true, 300, &method), turned ? 2 : 1);
    EXPECT_EQ(method, 2);
  }
}

TEST(KtjLineVote, FourCellsAreUndecided) {
  LineFixture f;
  auto four = text_pages::DrawCapitalRow(f.p, 20, 20, 4, 5, 42);
  auto five = text_pages::DrawCapitalRow(f.p, 20, 100, 5, 5, 42);
  int method = -1;
  EXPECT_EQ(f.Vote(four, true, 300, &method), 0);
  EXPECT_EQ(method, 0);
  EXPECT_EQ(f.Vote(five, true, 300, &method), 1);
}

TEST(KtjLineVote, HeightRuleAt240Dpi) {
  // Lines 10 pixels high: enough below 240 dpi (more than 6), not from 240
  // (more than 12 needed); the fixed limits need 13 whatever the resolution.
  LineFixture f;
  // Solid letters 4 wide, 7 high on the base line, every third 10 high.
  text_pages::Row row;
  row.box = {20, 20, 20 + 40 * 6 - 3, 29};
  for (int i = 0; i < 40; ++i) f.p.Fill({20 + 6 * i, i % 3 ? 23 : 20, 20 + 6 * i + 3, 29});
  int method = -1;
  EXPECT_EQ(f.Vote(row, true, 239, &method), 1);
  EXPECT_EQ(f.Vote(row, true, 240, &method), 0);
  EXPECT_EQ(method, 0);
  EXPECT_EQ(f.Vote(row, false, 239, &method), 0);
}

TEST(KtjLineVote, LinesSpanningMoreThan1998PixelsAreNotExamined) {
  for (int span : {1998, 1999}) {
    LineFixture f;
    auto row = text_pages::DrawLowerRow(f.p, 20, 20, 40, 9, 42);
    const int x0 = row.chars.front().left;
    ASSERT_LT(row.box.right, x0 + 1990);
    // A 2 x 2 mark on the base line ends the line at the span asked for.
    f.p.Fill({x0 + span - 1, row.box.bottom - 1, x0 + span, row.box.bottom});
    int method = -1;
    row.box.right = x0 + span;
    EXPECT_EQ(f.Vote(row, true, 300, &method), span == 1998 ? 1 : 0) << span;
  }
}

KtjLine Line(int x0, int y0, int x1, int y1) {
  KtjLine l{};
  l.x0 = static_cast<int16_t>(x0), l.y0 = static_cast<int16_t>(y0), l.x1 = static_cast<int16_t>(x1),
  l.y1 = static_cast<int16_t>(y1);
  return l;
}

KtjChar Char(int x0, int y0, int x1, int y1) {
  return KtjChar{0, static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<int16_t>(x1),
                 static_cast<int16_t>(y1)};
}

struct Lines {
  std::vector<KtjLine> v;
  ~Lines() {
    for (auto& l : v) free(l.chars);
  }
};

TEST(KtjLineChars, StackedMarksDustAndMerging) {
  std::vector<KtjChar> chars = {
      Char(10, 10, 19, 39),  // a letter
      Char(30, 20, 34, 39),  // the stem of an i
      Char(31, 10, 33, 13),  // its dot, above it: one character with the stem
      Char(45, 30, 45, 34),  // dust: 1 x 5
      Char(60, 30, 61, 32),  // 2 x 3: a character
      Char(62, 10, 70, 39),  // touching it: merged only in line mode 1
      Char(10, 60, 19, 90),  // another line's
  };
  struct {
    int keep, mode;
    std::vector<KtjChar> want;
  } const cases[] = {
      {0, 0, {Char(10, 10, 19, 39), Char(30, 10, 34, 39), Char(60, 30, 61, 32), Char(62, 10, 70, 39)}},
      {0, 1, {Char(10, 10, 19, 39), Char(30, 10, 34, 39), Char(45, 30, 45, 34), Char(60, 10, 70, 39)}},
      {1, 0, {Char(10, 10, 19, 39), Char(30, 10, 34, 39), Char(45, 30, 45, 34), Char(60, 10, 70, 39)}},
  };
  for (auto const& c : cases) {
    Lines lines;
    lines.v = {Line(10, 10, 70, 39)};
    ASSERT_EQ(ktj::linechar(lines.v.data(), 1, chars, c.keep, c.mode), 0);
    KtjLine const& l = lines.v[0];
    ASSERT_EQ(l.nchar, c.want.size()) << c.keep << c.mode;
    for (size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(l.chars[i].x0, c.want[i].x0);
      EXPECT_EQ(l.chars[i].y0, c.want[i].y0);
      EXPECT_EQ(l.chars[i].x1, c.want[i].x1);
      EXPECT_EQ(l.chars[i].y1, c.want[i].y1);
    }
  }
}

TEST(KtjLineChars, DustOnlyAndEmptyLinesKeepTheirRectangle) {
  std::vector<KtjChar> chars = {Char(10, 10, 10, 14), Char(20, 12, 21, 13)};
  Lines lines;
  lines.v = {Line(8, 8, 30, 20), Line(100, 8, 130, 20), Line(8, 8, 30, 20)};
  lines.v[2].cont = 1;
  ASSERT_EQ(ktj::linechar(lines.v.data(), 3, chars, 0, 0), 0);
  for (int i = 0; i < 2; ++i) {
    KtjLine const& l = lines.v[i];
    ASSERT_EQ(l.nchar, 1);
    EXPECT_EQ(l.chars[0].x0, l.x0);
    EXPECT_EQ(l.chars[0].y0, l.y0);
    EXPECT_EQ(l.chars[0].x1, l.x1);
    EXPECT_EQ(l.chars[0].y1, l.y1);
  }
  EXPECT_EQ(lines.v[1].capacity, 2);
  EXPECT_EQ(lines.v[2].chars, nullptr);  // continuation copies get none
  // In line mode 1 the dust stays.
  Lines kept;
  kept.v = {Line(8, 8, 30, 20)};
  ASSERT_EQ(ktj::linechar(kept.v.data(), 1, chars, 0, 1), 0);
  EXPECT_EQ(kept.v[0].nchar, 2);
}

TEST(KtjLineSlots, ContinuationCopiesUnless1025SlotsOrMore) {
  SEG_LINE segLines[3] = {{10, 10, 100, 20, 10, 0, 0}, {10, 30, 100, 40, 10, 2, 0}, {10, 50, 100, 60, 10, 1, 0}};
  SEG_BLOCK b{10, 10, 100, 60, segLines, 3, 0, 0, 0};
  int n = 0;
  KtjLine* lines = ktj::BlockLines(b, n);
  ASSERT_NE(lines, nullptr);
  ASSERT_EQ(n, 6);
  const int cont[6] = {0, 0, 1, 1, 0, 1};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(lines[i].cont, cont[i]) << i;
  EXPECT_EQ(lines[3].y0, 30);
  free(lines);
  // 1 + 1023 + 1 slots: 1025, so only the lines.
  segLines[1].blank = 1022;
  segLines[2].blank = 0;
  lines = ktj::BlockLines(b, n);
  EXPECT_EQ(n, 3);
  free(lines);
  segLines[1].blank = 1021;  // 1024 slots: copies
  lines = ktj::BlockLines(b, n);
  EXPECT_EQ(n, 1024);
  free(lines);
}

TEST(KtjTiles, OneBitTilesAreCutBitExactlyWithinTheRow) {
  std::mt19937 rng(3);
  for (int width : {13, 17, 31, 63, 100, 1001}) {
    for (int order : {0, 1}) {
      const int height = 9, bpl = (width + 7) / 8;
      // Exactly the page's bytes: a read past a row end of the last row trips
      // the sanitizer.
      std::vector<uint8_t> bits(static_cast<size_t>(bpl) * height);
      for (auto& b : bits) b = static_cast<uint8_t>(rng());
      _P2IIMG page{};
      page.pImageData = bits.data();
      page.nBitsPerPixel = 1;
      page.nColorOrder = order;
      page.nWidth = width, page.nHeight = height, page.nBytesPerLine = bpl;
      page.nXResolution = page.nYResolution = 300;
      const int tw = width / 2;
      for (int col = 0; col < 2; ++col) {
        _P2IIMG tile{};
        ASSERT_EQ(ktj::ExtractTile1(page, col * tw, 0, tw, height, tile), 0);
        EXPECT_EQ(tile.nBytesPerLine, (tw + 31) / 32 * 4);
        for (int y = 0; y < height; ++y) {
          const int src = order ? height - 1 - y : y;
          for (int x = 0; x < tile.nBytesPerLine * 8; ++x) {
            const bool got = tile.pImageData[y * tile.nBytesPerLine + x / 8] & (0x80 >> (x % 8));
            const int sx = col * tw + x;
            const bool want = x < tw && (bits[src * bpl + sx / 8] & (0x80 >> (sx % 8)));
            ASSERT_EQ(got, want) << width << " " << order << " col " << col << " (" << x << "," << y << ")";
          }
        }
        free(tile.pImageData);
      }
    }
  }
}

}  // namespace

namespace {

TEST(KtjLineChars, BoxMergingWithALimit) {
  struct {
    bool yOnly;
    int limit;
    std::vector<KtjChar> in, want;
  } const cases[] = {
      // Overlapping both ways: merged while the longer side stays within 20 pixels.
      {false, 2000, {Char(0, 0, 9, 9), Char(5, 5, 14, 14), Char(30, 0, 39, 9)}, {Char(0, 0, 14, 14), Char(30, 0, 39, 9)}},
      {false, 1400, {Char(0, 0, 9, 9), Char(5, 5, 14, 14)}, {Char(0, 0, 9, 9), Char(5, 5, 14, 14)}},
      // Overlapping in x only: kept apart, unless in y alone is enough.
      {false, 5000, {Char(0, 0, 9, 9), Char(5, 20, 14, 29)}, {Char(0, 0, 9, 9), Char(5, 20, 14, 29)}},
      {true, 5000, {Char(30, 2, 39, 7), Char(0, 0, 9, 9)}, {Char(0, 0, 39, 9)}},
      // Chains: the grown box takes the next one too.
      {false, 5000, {Char(10, 0, 19, 9), Char(0, 0, 11, 9), Char(18, 5, 25, 12)}, {Char(0, 0, 25, 12)}},
  };
  for (auto const& c : cases) {
    std::vector<KtjChar> v = c.in;
    const int n = c.yOnly ? ktj::reduce_box_y_with_max(v.data(), static_cast<int>(v.size()), c.limit)
                          : ktj::reduce_box_with_max(v.data(), static_cast<int>(v.size()), c.limit);
    ASSERT_EQ(n, static_cast<int>(c.want.size()));
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(v[i].x0, c.want[i].x0);
      EXPECT_EQ(v[i].y0, c.want[i].y0);
      EXPECT_EQ(v[i].x1, c.want[i].x1);
      EXPECT_EQ(v[i].y1, c.want[i].y1);
    }
  }
}

}  // namespace
