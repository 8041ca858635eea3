// Makes ninsiki_dic_data.inc, the glyph dictionary of the upside-down test:
// each full-width digit and letter rendered from a Gothic font, trimmed to its
// box of real black pixels and reduced to its 5 x 5 mesh. The library and its
// tests use the committed table only; run this again only to remake it:
//
//   apt-get install fonts-ipafont-gothic libfreetype-dev
//   g++ -std=c++17 -O2 -I. $(pkg-config --cflags freetype2) make_ninsiki_dic.cpp
//       $(pkg-config --libs freetype2) -o /tmp/make_ninsiki_dic   (one line)
//   /tmp/make_ninsiki_dic /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf > ninsiki_dic_data.inc
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ktj_mesh.h"

namespace {

constexpr int kPixelSize = 128;
// Characters that read the same either way up give no vote.
constexpr const char* kNoVote = "01689fijlorstxzHINOSXZ";

// Rows the dictionary takes as given, whatever the font draws.
struct Given {
  char ch;
  int cls, norm;
  uint8_t cells[25];
};
const Given kGiven[] = {
    {'0', 0, 3006, {7, 13, 10, 13, 5, 17, 4, 0, 6, 17, 19, 3, 0, 4, 19, 17, 4, 0, 6, 16, 6, 13, 11, 13, 5}},
    {'2', 1, 2637, {9, 12, 10, 14, 9, 12, 4, 0, 8, 17, 1, 3, 10, 13, 4, 6, 12, 5, 0, 1, 17, 15, 13, 13, 13}},
    {'A', 1, 1871, {0, 4, 17, 2, 0, 0, 10, 9, 9, 0, 2, 12, 3, 15, 1, 7, 11, 9, 14, 7, 14, 2, 0, 5, 14}},
};

std::string Utf8(unsigned cp) {
  std::string s;
  s += static_cast<char>(0xE0 | (cp >> 12));
  s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  s += static_cast<char>(0x80 | (cp & 0x3F));
  return s;
}

void PrintRow(const char* label, int cls, int norm, const uint8_t* cells, const char* comment) {
  std::printf("    {\"%s\", %d, %d, {", label, cls, norm);
  for (int k = 0; k < 25; ++k) std::printf("%s%d", k ? (k % 5 ? ", " : ",  ") : "", cells[k]);
  std::printf("}},  // %s\n", comment);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s font-file\n", argv[0]);
    return 2;
  }
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, argv[1], 0, &face) || FT_Set_Pixel_Sizes(face, 0, kPixelSize)) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::string order;
  for (char c = '0'; c <= '9'; ++c) order += c;
  for (char c = 'a'; c <= 'z'; ++c) order += c;
  for (char c = 'A'; c <= 'Z'; ++c) order += c;

  std::printf("// Made by make_ninsiki_dic from %s at %d pixels; do not edit.\n",
              std::strrchr(argv[1], '/') ? std::strrchr(argv[1], '/') + 1 : argv[1], kPixelSize);
  std::string table, own;
  for (char c : order) {
    const unsigned cp = 0xFEE0 + static_cast<unsigned char>(c);  // the full-width form
    if (FT_Load_Char(face, cp, FT_LOAD_RENDER)) {
      std::fprintf(stderr, "no glyph for %c\n", c);
      return 1;
    }
    FT_Bitmap const& bm = face->glyph->bitmap;
    auto px = [&](int x, int y) {
      return x >= 0 && y >= 0 && x < static_cast<int>(bm.width) && y < static_cast<int>(bm.rows) &&
             bm.buffer[y * bm.pitch + x] >= 128;
    };
    ktj::Box whole{0, 0, static_cast<int>(bm.width) - 1, static_cast<int>(bm.rows) - 1}, box;
    if (!ktj::EffectiveBox(px, whole, box)) {
      std::fprintf(stderr, "empty glyph for %c\n", c);
      return 1;
    }
    uint8_t cells[25];
    const int norm = ktj::Mesh(px, box, cells);
    const int cls = std::strchr(kNoVote, c) ? 0 : 1;
    const std::string label = Utf8(cp);
    const Given* given = nullptr;
    for (auto const& g : kGiven)
      if (g.ch == c) given = &g;
    char comment[32];
    std::snprintf(comment, sizeof comment, "%c", c);
    if (given) {
      std::printf("#ifdef NINSIKI_OWN_ROWS\n");
      PrintRow(label.c_str(), cls, norm, cells, "as the font draws it");
      std::printf("#else\n");
      PrintRow(label.c_str(), given->cls, given->norm, given->cells, comment);
      std::printf("#endif\n");
    } else {
      PrintRow(label.c_str(), cls, norm, cells, comment);
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return 0;
}
