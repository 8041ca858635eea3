// Whole-page row loops of the unit and its driver, vectorised: the grey
// version of a colour page and the inversion of the inverted pass.
#ifndef DRAVN_ORIENTATION_PAGE_ROWS_H
#define DRAVN_ORIENTATION_PAGE_ROWS_H

#include <cstddef>
#include <cstdint>

namespace turnsense {

// grey[x] = (77 R + 150 G + 29 B) >> 8 of each of the `width` R, G, B pixels
// of each row; `rgb` rows are `stride` bytes apart, `grey` rows `width`.
void GreyRows(const uint8_t* rgb, size_t stride, uint8_t* grey, size_t width, size_t height);

// bytes[i] = 255 - bytes[i].
void InvertBytes(uint8_t* bytes, size_t n);

}  // namespace turnsense

#endif
