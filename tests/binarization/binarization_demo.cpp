// scripts/demo: degraded pages turned black and white through the staged
// libhelper.so as the binarization unit calls it, beside Sauvola; the grey
// page and both results as PGM files, and the F-measure of each. Then the
// whole engine with its noise and background analyses and the removal of
// specks up to 3 pixels, which the unit's defaults leave off ("-cleaned").
//   binarization_demo OUT_DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "degraded_pages.h"
#include "dravn_paths.h"
#include "driver.h"
#include "edge_threshold.h"
#include "helper_binding.h"
#include "i3ip_share.h"

namespace {

void WritePgm(const std::string& path, int w, int h, const std::vector<uint8_t>& pixels) {
  std::ofstream f(path, std::ios::binary);
  f << "P5\n" << w << " " << h << "\n255\n";
  f.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  if (LoadI3HelperBinarization() != 0 || LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so") != 0) {
    std::fprintf(stderr, "libhelper.so or libopencv.so cannot be bound\n");
    return 1;
  }
  for (auto kind : dravn_degraded::kAllKinds) {
    dravn_degraded::Page page = dravn_degraded::MakePage(kind, 300, 148, 105);
    std::vector<uint8_t> bw(page.grey.size());
    int results[16] = {};
    if (Gray2BinImage(page.grey.data(), bw.data(), page.height, page.width, 0, -5, 5, 4, nullptr, 0, 1, 3, true, false,
                      results, 0) != 0)
      return 1;
    for (uint8_t& v : bw) v = v ? 255 : 0;
    const std::vector<uint8_t> sauvola = dravn_degraded::Sauvola(page, 31, 0.34, 128);
    std::string name = dravn_degraded::KindName(kind);
    for (char& c : name)
      if (c == ' ') c = '-';
    WritePgm(out + "/" + name + "-grey.pgm", page.width, page.height, page.grey);
    WritePgm(out + "/" + name + "-bw.pgm", page.width, page.height, bw);
    WritePgm(out + "/" + name + "-sauvola.pgm", page.width, page.height, sauvola);
    std::printf("  %-16s threshold %3d  F %.4f  (Sauvola %.4f)\n", dravn_degraded::KindName(kind).c_str(), results[10],
                dravn_degraded::FMeasure(bw, page.truth), dravn_degraded::FMeasure(sauvola, page.truth));

    int mode, params[32], kernel[25], engine[16] = {};
    GetDeviceParam(&mode, params, kernel);
    params[7] = 3, params[17] = 1, params[18] = 1;  // specks up to 3 pixels; the 0/255 byte image
    std::vector<uint8_t> grey = page.grey, cleaned(grey.size());
    if (TBinary2(grey.data(), cleaned.data(), page.height, page.width, 0, params, 0x2004 | 7, engine, kernel) != 0)
      return 1;
    WritePgm(out + "/" + name + "-cleaned.pgm", page.width, page.height, cleaned);
    std::printf("  %-16s analysed: prefilter %d, background adjustment %2d  F %.4f\n", "", engine[9], engine[2],
                dravn_degraded::FMeasure(cleaned, page.truth));
  }
  FreeI3ipShare();
  UnloadI3Helper();
  return 0;
}
