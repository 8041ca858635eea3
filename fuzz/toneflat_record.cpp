// libtoneflat's entry: a colour page record whose geometry, mode and
// cleanness come from the input. The buffer is exactly DataSize bytes.
#include <cstdlib>
#include <vector>

#include "image_libs.h"
#include "record_support.h"

namespace {
BGSMOOTHING_FUNCTION g_smoothing;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_smoothing = fuzz::BindUnit<BGSMOOTHING_FUNCTION>("libtoneflat.so", "I3ipIpunitProcess_BGSmoothing");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  I3ipImageInfo page = fuzz::TakeRecord(in, 24, false);
  const int mode = in.Pick(3), cleanness = in.Take<int8_t>();
  std::vector<unsigned char> pixels(page.DataSize ? page.DataSize : 1);
  fuzz::FillPixels(in, pixels.data(), page.DataSize);
  page.Data = pixels.data();
  I3ipImageInfo out{};
  g_smoothing(&page, mode, cleanness, &out);
  std::free(out.Data);
  return 0;
}
