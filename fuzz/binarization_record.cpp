// libbinarization's entry: an 8-bit page record whose geometry and
// parameters come from the input, its pixels from the rest of it. The
// buffer is exactly DataSize bytes, as the record says; the unit owns it.
#include <cstdlib>

#include "image_libs.h"
#include "record_support.h"

namespace {
BINAUTO_FUNCTION g_binAuto;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_binAuto = fuzz::BindUnit<BINAUTO_FUNCTION>("libbinarization.so", "I3ipIpunitProcess_BinAuto");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  I3ipImageInfo page = fuzz::TakeRecord(in, 8, true);
  const int sensitivity = in.Take<int8_t>(), background = in.Take<int8_t>(), noise = in.Pick(3);
  page.Data = static_cast<unsigned char*>(std::malloc(page.DataSize ? page.DataSize : 1));
  fuzz::FillPixels(in, page.Data, page.DataSize);
  I3ipImageInfo out{};
  g_binAuto(&page, &out, sensitivity, background, noise);
  std::free(page.Data);  // the unit leaves null where it took the pixels
  std::free(out.Data);
  return 0;
}
