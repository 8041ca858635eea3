// For scripts/demo: sheets for the feeder of a simulated scanner, as
// pageN.pnm. Without files: two A4 sheets at 300 dpi, a letter of horizontal
// lines (fronts 1, backs 2) and a page of vertical columns (front 3, back 4).
// With files: each image file (PNG, JPEG, ...) as the front of a sheet of
// its own (page1, page3, ...), for a simplex batch.
//   orientation_pages <folder> [image...]
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "test_pages.h"
#include "text_line_pages.h"

namespace {

bool Write(const std::string& path, const dravn_pages::Image& page) {
  const std::string bytes = dravn_pages::EncodePnm(page);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool Write(const std::string& path, const dravn_text_pages::Grey& grey) {
  dravn_pages::Image page;
  page.width = grey.width, page.height = grey.height, page.channels = 3;
  page.pixels.resize(grey.pixels.size() * 3);
  for (size_t i = 0; i < grey.pixels.size(); ++i)
    page.pixels[3 * i] = page.pixels[3 * i + 1] = grey.pixels[i], page.pixels[3 * i + 2] = uint8_t(grey.pixels[i] * 15 / 16);
  return Write(path, page);
}

bool Convert(const std::string& from, const std::string& to) {
  const cv::Mat bgr = cv::imread(from, cv::IMREAD_COLOR);
  if (bgr.empty()) {
    std::fprintf(stderr, "cannot read %s\n", from.c_str());
    return false;
  }
  cv::Mat rgb;
  cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
  dravn_pages::Image page;
  page.width = rgb.cols, page.height = rgb.rows, page.channels = 3;
  page.pixels.assign(rgb.data, rgb.data + rgb.total() * 3);
  return Write(to, page);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <folder> [image...]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  if (argc > 2) {
    for (int i = 2; i < argc; ++i)
      if (!Convert(argv[i], dir + "/page" + std::to_string(2 * i - 3) + ".pnm")) return 1;
    return 0;
  }
  const auto letter = dravn_text_pages::LetterPage(300, 24).page;
  const auto columns = dravn_text_pages::VerticalCjkPage(300, 10).page;
  const bool ok = Write(dir + "/page1.pnm", letter) && Write(dir + "/page2.pnm", letter) &&
                  Write(dir + "/page3.pnm", columns) && Write(dir + "/page4.pnm", columns);
  return ok ? 0 : 1;
}
