// fsip.conf, libimgforge's switches, reread by its control entry on every
// request: written in the library's configuration folder (a private copy of
// it) and read by a blank-page and a colour decision on a small page.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fsip_records.h"
#include "image_libs.h"
#include "record_support.h"
#include "replay_device.h"

namespace {
FSIPCTL_FUNCTION g_control;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Switches may turn on logs and page dumps: those folders are private too.
  if (!fuzz::PrivateFolders({DRAVN_ETC_DIR, DRAVN_LOG_DIR, DRAVN_DUMP_DIR})) {
    std::fprintf(stderr, "fsip_conf: needs a mount namespace of its own (the staged fsip.conf stays untouched)\n");
    std::exit(0);
  }
  g_control = fuzz::BindUnit<FSIPCTL_FUNCTION>("libimgforge.so", "fsip_control");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteFile("private0/fsip.conf", data, size);
  const int width = 32, height = 24;
  std::vector<unsigned char> page(static_cast<size_t>(width) * height * 3, 235);
  for (int x = 4; x < 20; ++x) page[(12 * width + x) * 3] = 20;
  unsigned char lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(i);
  for (int32_t flags : {0x0040, 0x0020}) {
    fsipctl_request request{};
    request.dwFlags = flags;
    fsipctl_image images[2] = {}, results[2] = {};
    images[0] = {page.data(), 200, width, height, 24, static_cast<int32_t>(page.size()), 0};
    g_control(&request, images, results, lut);
  }
  return 0;
}
