// libimgforge's control entry, fsip_control: a request (operation flags,
// hole fill, levels, margin, scanner name) and one or two page records
// whose geometry comes from the input, their pixels from the rest of it.
// Each buffer holds the rows the geometry names (the entry does not read
// nImageSize), and not a byte more.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fsip_records.h"
#include "fuzz_support.h"
#include "image_libs.h"
#include "record_support.h"

namespace {

FSIPCTL_FUNCTION g_control;

// The operations the backends ask for, and a raw word now and then.
constexpr int32_t kFlags[] = {0x0001, 0x0011, 0x0004, 0x0014, 0x0008, 0x0010, 0x0020,
                              0x0040, 0x1000, 0x2000, 0x2010, 0x4000, 0x8000};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_control = fuzz::BindUnit<FSIPCTL_FUNCTION>("libimgforge.so", "fsip_control");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  fsipctl_request request{};
  const uint8_t pick = in.Take<uint8_t>();
  request.dwFlags = pick < 240 ? kFlags[pick % (sizeof kFlags / sizeof kFlags[0])] : in.Take<int32_t>();
  request.nHoleFill = in.Pick(3);
  request.bADF = in.Pick(2);
  request.nSide = in.Pick(3);
  request.nDetectLevel = static_cast<int32_t>(in.Pick(5)) - 2;
  request.nWLevel = in.Take<int8_t>();
  request.nBLevel = in.Take<int8_t>();
  request.nMargin = in.Take<int16_t>();
  std::memcpy(request.szScanner, "Selko2S420", 11);

  static const int32_t kDepths[] = {24, 8, 1, 24};
  fsipctl_image images[2] = {}, results[2] = {};
  std::vector<unsigned char> pixels[2];
  for (int i = 0; i < 2; ++i) {
    fsipctl_image& page = images[i];
    page.nDepth = kDepths[in.Pick(4)];
    page.nResolution = in.Pick(2) ? 100 + 50 * static_cast<int32_t>(in.Pick(11)) : in.Take<uint16_t>();
    page.nWidth = in.Take<uint8_t>() * 2;
    page.nHeight = in.Take<uint8_t>() * 2;
    // The entry takes the size from the geometry; nImageSize is not read.
    const int32_t bytesPerLine = (page.nDepth * page.nWidth + 7) / 8;
    const uint16_t sizeField = in.Take<uint16_t>();
    page.nImageSize = (sizeField & 1) ? sizeField >> 1 : bytesPerLine * page.nHeight;
    pixels[i].resize(std::max<size_t>(static_cast<size_t>(bytesPerLine) * page.nHeight, 1));
    page.pImageData = pixels[i].data();
  }
  unsigned char lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<unsigned char>(i);
  if (in.Pick(4) == 0)
    for (int i = 0; i < 256; ++i) lut[i] = in.Take<uint8_t>();
  for (auto& p : pixels) fuzz::FillPixels(in, p.data(), p.size(), 0xFF);

  if (g_control(&request, images, results, lut) == 0) {
    for (int i = 0; i < 2; ++i)
      if (results[i].pImageData != images[0].pImageData && results[i].pImageData != images[1].pImageData)
        std::free(results[i].pImageData);
  }
  return 0;
}
