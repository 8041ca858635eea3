// Renders a page turned on a dark backing, straightens and cuts it out with
// DeskewAndCropping bound from the staged libimgforge, as an outside caller
// would, and writes both as PNM files.
//   deskew_page OUTDIR [ANGLE] [DPI]
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "test_pages.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s OUTDIR [ANGLE] [DPI]\n", argv[0]);
    return 2;
  }
  dravn_pages::BackedPageSpec spec;
  spec.angleDeg = argc > 2 ? atof(argv[2]) : -6.0;
  spec.dpi = argc > 3 ? atoi(argv[3]) : 200;
  spec.offsetXMm = -4;
  spec.tabs = {{2, 60, 40, 6}};
  void* lib = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  using DeskewFn = int(const I3ipImageInfo*, I3ipImageInfo*);
  auto* deskew = lib ? reinterpret_cast<DeskewFn*>(dlsym(lib, "DeskewAndCropping")) : nullptr;
  if (!deskew) {
    fprintf(stderr, "%s: libimgforge: %s\n", argv[0], dlerror());
    return 1;
  }
  dravn_pages::BackedPage page = dravn_pages::RenderBackedPage(spec);
  const std::string dir = argv[1];
  std::ofstream(dir + "/deskew-input.pnm", std::ios::binary) << dravn_pages::EncodePnm(page.image);
  I3ipImageInfo in{};
  in.Size = 40;
  in.Bpp = 24;
  in.Dpi = static_cast<uint16_t>(spec.dpi);
  in.Width = static_cast<uint32_t>(page.image.width);
  in.Height = static_cast<uint32_t>(page.image.height);
  in.Bpl = in.Width * 3;
  in.DataSize = in.Bpl * in.Height;
  in.Data = page.image.pixels.data();
  I3ipImageInfo out{};
  const int rc = deskew(&in, &out);
  if (rc != 0) {
    fprintf(stderr, "DeskewAndCropping: %d\n", rc);
    return 1;
  }
  dravn_pages::Image img;
  img.width = static_cast<int>(out.Width);
  img.height = static_cast<int>(out.Height);
  img.channels = 3;
  img.pixels.resize(img.BytesPerLine() * img.height);
  for (int y = 0; y < img.height; ++y) memcpy(img.Row(y), out.Data + static_cast<size_t>(y) * out.Bpl, img.BytesPerLine());
  free(out.Data);
  std::ofstream(dir + "/deskew-output.pnm", std::ios::binary) << dravn_pages::EncodePnm(img);
  printf("page %.0f x %.0f px turned %.1f degrees -> %u x %u\n", page.widthPx, page.heightPx, spec.angleDeg,
         out.Width, out.Height);
  dlclose(lib);
  return 0;
}
