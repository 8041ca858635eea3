// Choice of the lines worth recognising: contrast, text blocks, clean
// elongated lines, and underlined lines last.
#ifndef DRAVN_ORIENTATION_LINE_SELECTION_H
#define DRAVN_ORIENTATION_LINE_SELECTION_H

#include <cstdint>

#include "textline_types.h"

namespace turnsense {

constexpr int kMaxSelected = 25;

// Sorts both arrays in place (horizontal by top, vertical by right
// descending) and fills the pointer lists in selection order.
int textline_selection_v3(const uint8_t* full, int full_width, int full_height, uint8_t** grey, uint8_t** binary,
                          int width, int height, CC_IMG cc, int f, TEXTLINE* horizontal, int horizontal_count,
                          TEXTLINE* vertical, int vertical_count, int hint, TEXTLINE** out_horizontal,
                          int* out_horizontal_count, TEXTLINE** out_vertical, int* out_vertical_count);
int textline_selection_v2(const uint8_t* full, int full_width, int full_height, uint8_t** grey, uint8_t** binary,
                          int width, int height, int f, TEXTLINE* horizontal, int horizontal_count, TEXTLINE* vertical,
                          int vertical_count, int hint, TEXTLINE** out_horizontal, int* out_horizontal_count,
                          TEXTLINE** out_vertical, int* out_vertical_count);

int search_horizontal_textblocks(TEXTLINE* lines, int count, int f, TEXT_PARA* blocks, int* block_count);
int search_vertical_textblocks(TEXTLINE* lines, int count, int f, TEXT_PARA* blocks, int* block_count);
int detect_horizontal_underline(TEXTLINE* line, int f, CC_IMG cc);
int detect_vertical_underline(TEXTLINE* line, int f, CC_IMG cc);
bool is_underlined_textline(CC_IMG cc, tagRECT box);

int sort_para_by_size(const void* a, const void* b);
int sort_tlindex_size(const void* a, const void* b);

}  // namespace turnsense

#endif
