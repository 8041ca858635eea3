// libturnsense3's entry: a colour page as the second backend hands it over
// (the unit is called only once it says it is ready), geometry from the
// input, the buffer exactly nImageSize bytes.
#include <cstring>
#include <vector>

#include "fsip_records.h"
#include "fuzz_support.h"
#include "image_libs.h"
#include "record_support.h"

namespace {
TURNSENSE_FUNCTION g_turnsense;
unsigned char* g_ready;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  void* unit = fuzz::LoadUnit("libturnsense3.so");
  g_turnsense = fuzz::Bind<TURNSENSE_FUNCTION>(unit, "I3ipIpunitProcess_Turnsense");
  g_ready = fuzz::Bind<unsigned char*>(unit, "gInitialized");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (*g_ready != 1) return 0;
  fuzz::Input in(data, size);
  _P2IIMG page{};
  page.nBitsPerPixel = in.Pick(2) ? 24 : in.Take<uint8_t>();
  page.nWidth = in.Take<uint8_t>() * 4;
  page.nHeight = in.Take<uint8_t>() * 4;
  page.nBytesPerLine = (page.nBitsPerPixel * page.nWidth + 7) / 8;
  page.nImageSize = page.nBytesPerLine * page.nHeight;
  page.nXResolution = page.nYResolution = in.Take<uint16_t>();
  std::vector<unsigned char> pixels(page.nImageSize > 0 ? page.nImageSize : 1);
  fuzz::FillPixels(in, pixels.data(), pixels.size());
  page.pImageData = pixels.data();
  int out[2] = {0, 0};
  g_turnsense(&page, out);
  return 0;
}
