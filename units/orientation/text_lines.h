// Connected components to horizontal and vertical text lines.
#ifndef DRAVN_ORIENTATION_TEXT_LINES_H
#define DRAVN_ORIENTATION_TEXT_LINES_H

#include <cstdint>

#include "textline_types.h"

namespace turnsense {

void init_textline(TEXTLINE* line);
void release_textline(TEXTLINE* line);
void release_textlines(TEXTLINE** lines, int count);

// Groups components into lines of both orientations; `hint` becomes 0 when
// the horizontal lines hold more core components, 1 when the vertical ones
// do, -1 on a tie. Returned arrays are new[]'d and carry no member lists.
int cc2textline(CC* ccs, int count, TEXTLINE** horizontal, int* horizontal_count, TEXTLINE** vertical,
                int* vertical_count, int32_t** label_rows, const uint8_t* page, int width, int height, int unused,
                int* hint, const char* text1, const char* text2, bool coverage);

int cc2textline_horizontal_init_v4(CC* ccs, int count, TEXTLINE** out, int* out_count, int32_t** label_rows,
                                   int width, int height, bool coverage);
int cc2textline_vertical_init_v4(CC* ccs, int count, TEXTLINE** out, int* out_count, int32_t** label_rows,
                                 int width, int height, bool coverage);

int hv_overlap_textline_detection(TEXTLINE* horizontal, int horizontal_count, TEXTLINE* vertical,
                                  int vertical_count, MERGE_RECT* groups, int* group_count);

int hist_peak(const int32_t* hist, int start, int end, int previous);
float hist_overlap(TEXTLINE* a, TEXTLINE* b, const CC* ccs, int count, int orientation, float x_rate, float y_rate);
bool is_inside(tagRECT a, tagRECT b);
tagRECT rect_merge(tagRECT a, tagRECT b);
rect rect_union_v3(tagRECT a, tagRECT b);
rect rect_union(rect a, rect b);

int sort_textline_topdown(const void* a, const void* b);
int sort_textline_rightleft(const void* a, const void* b);

}  // namespace turnsense

#endif
