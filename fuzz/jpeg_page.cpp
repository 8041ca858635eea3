// The JPEG streams inside device pages, through the backends' decoders (the
// package's libjpeg, bound at run time): the first bytes give the face's
// geometry, the rest is the stream. The stream is also patched in place as
// the header fix-up before decoding patches it.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "jpeg_decode.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!LoadLibjpeg8()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t w = in.Take<uint8_t>(), h = in.Take<uint8_t>(), how = in.Take<uint8_t>();
  // The decoder reads the stream from a buffer of exactly its size.
  std::vector<unsigned char> stream(in.Rest(), in.Rest() + in.RestSize());
  const unsigned length = static_cast<unsigned>(stream.size());
  unsigned char* pixels = nullptr;
  KELO_IMAGEDATA_PARAMETERS face{};
  face.iFormat = how & 1;
  face.iLastFrame = 1;
  face.iPixelsPerLine = w;
  face.iLines = h;
  face.iDepth = 8;
  face.iBytesPerLine = w * (face.iFormat ? 3 : 1);
  if (how & 2) UpdateJPEGParam(stream.data(), length, face);
  if (how & 4) {
    pixels = ReadDataFromJpeg(stream.data(), length, face);
  } else {
    JPEGINFO info{length, w, h};
    pixels = ReadDataFromJpeg(stream.data(), info);
  }
  std::free(pixels);
  return 0;
}
