// Runs the orientation unit's line stages on rendered pages (Latin text at
// each quarter turn, white on black, vertical CJ text, a table) and writes
// each page with its selected lines framed as a PGM into the given folder.
//   show_text_lines OUT_DIR
#include <cstdio>
#include <fstream>
#include <string>

#include "line_chain.h"
#include "text_line_pages.h"

namespace {

void Frame(dravn_text_pages::Grey& g, const turnsense::tagRECT& b, uint8_t v) {
  for (int64_t t = 0; t < 3; ++t) {
    for (int64_t x = b.left - t; x <= b.right + t; ++x)
      for (int64_t y : {b.top - 3 - t, b.bottom + 3 + t})
        if (x >= 0 && y >= 0 && x < g.width && y < g.height) g.At(int(x), int(y)) = v;
    for (int64_t y = b.top - t; y <= b.bottom + t; ++y)
      for (int64_t x : {b.left - 3 - t, b.right + 3 + t})
        if (x >= 0 && y >= 0 && x < g.width && y < g.height) g.At(int(x), int(y)) = v;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  using namespace dravn_text_pages;
  const TextPage letter = LetterPage(300, 14, true);
  struct Case {
    std::string name;
    TextPage page;
    bool invert;
  };
  const Case cases[] = {{"latin-0", letter, false},
                        {"latin-90", Turn(letter, 1), false},
                        {"latin-180", Turn(letter, 2), false},
                        {"latin-270", Turn(letter, 3), false},
                        {"negative-90", Invert(Turn(letter, 1)), true},
                        {"cj-vertical", VerticalCjkPage(300, 10), false},
                        {"table", TablePage(300), false}};
  for (const Case& c : cases) {
    const auto r = line_chain::Run(c.page.page.pixels.data(), c.page.page.width, c.page.page.height, 300, c.invert);
    int groups[2] = {0, 0};
    for (const auto& s : r.selected) ++groups[s.group];
    std::printf("%-12s factor %d, hint %2d: lines built %3d across %3d down, verified %3d / %3d, selected %2d / %2d\n",
                c.name.c_str(), r.f, r.hint, r.built[0], r.built[1], r.verified[0], r.verified[1], groups[0],
                groups[1]);
    Grey shown = c.page.page;
    for (const auto& s : r.selected) Frame(shown, s.box, c.invert ? 255 : 128);
    std::ofstream f(std::string(argv[1]) + "/" + c.name + ".pgm", std::ios::binary);
    f << "P5\n" << shown.width << " " << shown.height << "\n255\n";
    f.write(reinterpret_cast<const char*>(shown.pixels.data()), std::streamsize(shown.pixels.size()));
    if (!f) {
      std::fprintf(stderr, "cannot write %s\n", c.name.c_str());
      return 1;
    }
  }
  return 0;
}
