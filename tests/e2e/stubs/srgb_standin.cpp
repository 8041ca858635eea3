// The sRGB entry that no library of the package offers, added to the
// pipeline's libimgforge stand-in for the Docuvane runs. IMGFORGE_STANDIN_SRGB
// picks its answer: unset or "convert" turns every pixel's channels round
// (each takes the next one's value, the third the first's) in place and
// answers 0; a number is answered as it is, the page left alone. With
// IMGFORGE_STANDIN_RECORD naming a file, each call appends the record it got.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fsip_records.h"

extern "C" int P2iConvToSrgb(_P2IIMG* image, ...) {
  if (const char* path = getenv("IMGFORGE_STANDIN_RECORD")) {
    if (FILE* f = fopen(path, "a")) {
      fprintf(f, "P2iConvToSrgb bits=%d order=%d width=%d height=%d bpl=%d size=%d\n", image->nBitsPerPixel,
              image->nColorOrder, image->nWidth, image->nHeight, image->nBytesPerLine, image->nImageSize);
      fclose(f);
    }
  }
  const char* answer = getenv("IMGFORGE_STANDIN_SRGB");
  if (answer && *answer && strcmp(answer, "convert") != 0) return atoi(answer);
  if (image->nBitsPerPixel != 24) return FSIP_C_ERR_PARAMETER;
  for (int y = 0; y < image->nHeight; ++y) {
    unsigned char* p = image->pImageData + static_cast<size_t>(y) * image->nBytesPerLine;
    for (int x = 0; x < image->nWidth; ++x, p += 3) {
      const unsigned char first = p[0];
      p[0] = p[1];
      p[1] = p[2];
      p[2] = first;
    }
  }
  return 0;
}
