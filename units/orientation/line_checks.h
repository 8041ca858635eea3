// Noise removal before line building, line verification after it, and the
// checks on boxes and crops that selection and scoring use.
#ifndef DRAVN_ORIENTATION_LINE_CHECKS_H
#define DRAVN_ORIENTATION_LINE_CHECKS_H

#include <cstdint>

#include "textline_types.h"

namespace turnsense {

int noise_cc_removal_v1(uint8_t* image, int width, int height, CC_IMG& cc, int level);
int textline_verification(uint8_t** rows, int width, int height, TEXTLINE* lines, int count, TEXTLINE* out,
                          int* out_count, int orientation);
int is_multi_line_v1(uint8_t** rows, int width, int height, int* several, tagRECT box);
int is_multi_line_v1_strict(uint8_t** rows, int width, int height, int* several, tagRECT box);
bool is_multi_line_v2(uint8_t** rows, int width, int height, tagRECT box);
int likelyhood_size(const uint8_t* crop, int width, int height, int multiplier, float* size);
int barcode_removal(TEXT_IMAGE* crop);

}  // namespace turnsense

#endif
