// For scripts/demo: two A4 sheets at 300 dpi for the feeder of a simulated
// scanner, as pageN.pnm: a letter of horizontal lines (fronts 1, backs 2)
// and a page of vertical columns (front 3, back 4).
//   orientation_pages <folder>
#include <cstdio>
#include <string>

#include "test_pages.h"
#include "text_line_pages.h"

namespace {

bool Write(const std::string& path, const dravn_text_pages::Grey& grey) {
  dravn_pages::Image page;
  page.width = grey.width, page.height = grey.height, page.channels = 3;
  page.pixels.resize(grey.pixels.size() * 3);
  for (size_t i = 0; i < grey.pixels.size(); ++i)
    page.pixels[3 * i] = page.pixels[3 * i + 1] = grey.pixels[i], page.pixels[3 * i + 2] = uint8_t(grey.pixels[i] * 15 / 16);
  const std::string bytes = dravn_pages::EncodePnm(page);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const auto letter = dravn_text_pages::LetterPage(300, 24).page;
  const auto columns = dravn_text_pages::VerticalCjkPage(300, 10).page;
  const bool ok = Write(dir + "/page1.pnm", letter) && Write(dir + "/page2.pnm", letter) &&
                  Write(dir + "/page3.pnm", columns) && Write(dir + "/page4.pnm", columns);
  return ok ? 0 : 1;
}
