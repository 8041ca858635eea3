// Eight-connected labelling: of a whole decimated page (CLbl) and of the
// listed foreground pixels of a small crop. Labels run 1..n in the raster
// order of each component's first pixel.
#ifndef DRAVN_ORIENTATION_LABELLING_H
#define DRAVN_ORIENTATION_LABELLING_H

#include <cstdint>

#include "textline_types.h"

namespace turnsense {

class CLbl {
 public:
  // Ink is 0. Whitens the image's frame first. 0 labels when out of memory.
  int LabelingScan8(int w, int h, uint8_t* image, int32_t* labels, int32_t* counts);
  void RemoveEdgePixels(int w, int h, uint8_t* image);
  void GetBound(int w, int h, const int32_t* labels, int n, rect* boxes);
};

// Sets the frame to ~fg and lists the pixels equal to fg (room for w x h).
int CachePixels2(int w, int h, uint8_t* image, uint8_t fg, int32_t* positions);
// Throws std::bad_alloc when its table cannot be had.
int LabelObjects2(int count, const int32_t* positions, int w, const uint8_t* image, int32_t* labels, int32_t* counts);
void BoundObjects2(int count, const int32_t* positions, int w, const int32_t* labels, int n, rect* boxes);

}  // namespace turnsense

#endif
