// Loads the staged orientation unit as the second backend does and runs its
// entry on one colour page per argument "<width>x<height>@<dpi>" (rows of
// coloured bands, as a printed form), printing each result.
#include <dlfcn.h>

#include <cstdio>
#include <vector>

#include "dravn_paths.h"
#include "fsip_records.h"

int main(int argc, char** argv) {
  void* unit = dlopen(DRAVN_LIB_DIR "/libturnsense3.so", RTLD_LAZY | DRAVN_RTLD_DEEPBIND);
  if (!unit) return 2;
  const auto* ready = static_cast<unsigned char*>(dlsym(unit, "gInitialized"));
  using Entry = int (*)(_P2IIMG*, int*);
  const auto entry = reinterpret_cast<Entry>(dlsym(unit, "I3ipIpunitProcess_Turnsense"));
  if (!ready || !*ready || !entry) return 3;
  for (int i = 1; i < argc; ++i) {
    int w = 0, h = 0, dpi = 0;
    if (std::sscanf(argv[i], "%dx%d@%d", &w, &h, &dpi) != 3 || w <= 0 || h <= 0) return 4;
    std::vector<unsigned char> pixels(size_t(w) * h * 3);
    static const unsigned char kBands[3][3] = {{240, 236, 228}, {200, 225, 245}, {250, 215, 205}};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) pixels[(size_t(y) * w + x) * 3 + c] = kBands[(y / 40) % 3][c];
    _P2IIMG page{};
    page.pImageData = pixels.data();
    page.nBitsPerPixel = 24;
    page.nWidth = w, page.nHeight = h;
    page.nBytesPerLine = 3 * w;
    page.nImageSize = 3 * w * h;
    page.nXResolution = page.nYResolution = dpi;
    int out[2] = {77, 77};
    const int rc = entry(&page, out);
    std::printf("%s rc=%d out=%d,%d\n", argv[i], rc, out[0], out[1]);
  }
  dlclose(unit);
  return 0;
}
