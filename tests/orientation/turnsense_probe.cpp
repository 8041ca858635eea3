// Loads the staged orientation unit as the second backend does and runs its
// entry on one colour page per argument "<width>x<height>@<dpi>" (rows of
// coloured bands, as a printed form), printing each result. With
// "--room=<MB>" first, the address space may grow by that much only once a
// page is made.
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
  long room = -1;
  int first = 1;
  if (argc > 1 && std::strncmp(argv[1], "--room=", 7) == 0) room = std::atol(argv[1] + 7), first = 2;
  for (int i = first; i < argc; ++i) {
    int w = 0, h = 0, dpi = 0;
    if (std::sscanf(argv[i], "%dx%d@%d", &w, &h, &dpi) != 3 || w <= 0 || h <= 0) return 4;
    std::vector<unsigned char> pixels(size_t(w) * h * 3);
    static const unsigned char kBands[3][3] = {{240, 236, 228}, {200, 225, 245}, {250, 215, 205}};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) pixels[(size_t(y) * w + x) * 3 + c] = kBands[(y / 40) % 3][c];
    if (room >= 0) {
      size_t pages = 0;
      std::ifstream("/proc/self/statm") >> pages;
      const rlimit limit{pages * size_t(sysconf(_SC_PAGESIZE)) + (size_t(room) << 20), RLIM_INFINITY};
      setrlimit(RLIMIT_AS, &limit);
    }
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
