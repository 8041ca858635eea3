// Helpers shared by the text-direction sources; not part of the interface.
#ifndef IMGFORGE_KTJ_INTERNAL_H
#define IMGFORGE_KTJ_INTERNAL_H

#include "ktj.h"

namespace ktj {

// Below this, in either direction, every entry answers -2.
constexpr int kMinDpi = 141;

inline bool ResolutionOk(KTJBITMAP const* b) { return b && b->xres >= kMinDpi && b->yres >= kMinDpi; }

// A page whose pixels can be read as a 1-bit image with 16-bit coordinates.
inline bool PageOk(KTJBITMAP const* b) {
  return b && b->data && b->width > 0 && b->height > 0 && b->width <= 32767 && b->height <= 32767 &&
         b->bpl >= (b->width + 7) / 8;
}

extern const NINSIKI_DIC ninsiki_dic[62];

}  // namespace ktj

#endif
