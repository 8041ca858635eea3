// Grey-to-mono conversion for text analysis.
#ifndef IMGFORGE_GRAY2MONO_H
#define IMGFORGE_GRAY2MONO_H

#include <stdint.h>

#include "dravn_export.h"
#include "fsip_records.h"

extern "C" {

/* options[0] method (-1 global threshold only), options[1] sensitivity
   (-5..5). The 1-bit result is described in out; release it with
   P2i_gray2mono_free. 0, -1 memory, -2 threshold, -3 depth not 8. */
DRAVN_EXPORT int P2i_gray2mono(_P2IIMG* in, int* options, _P2IIMG* out, void* reserved);
DRAVN_EXPORT int P2i_gray2mono_free(_P2IIMG* image, int* options, void** pixels, void* reserved);

/* The engine over plain fields: bits 8, or 24 judged on each pixel's second
   byte. The region is inclusive; the result (release with
   img_img2mono_free) covers it. 0, -1, -2 or -3 (other depths). */
DRAVN_EXPORT int img_img2mono(const uint8_t* pixels, int bpl, int width, int height, int size, int bits, int method,
                              int sensitivity, int xdpi, int ydpi, int left, int top, int right, int bottom,
                              uint8_t** out, int* outBpl, int* outWidth, int* outHeight, int* outSize);
DRAVN_EXPORT int img_img2mono_free(void** pixels);
}

namespace layout {

// Whole-image dynamic threshold; nothing in the package calls it.
struct SdtcParams {
  int contrast = 32;  // window range below which the neighbours decide alone
  int floor = 128;    // level that thresholds are drawn toward
  int lift = 4;       // step up for a threshold below the floor
  int drop = 4;       // step down for one at or above it
};
void img_gray2mono_imgall_sdtc(const uint8_t* grey, int gbpl, int W, int H, uint8_t* mono, int mbpl,
                               SdtcParams const& p);

}  // namespace layout

#endif
