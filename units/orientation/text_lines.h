// Connected components to horizontal and vertical text lines.
#ifndef DRAVN_ORIENTATION_TEXT_LINES_H
#define DRAVN_ORIENTATION_TEXT_LINES_H

#include <cstdint>
#include <vector>

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

int cc2textline_horizontal_init_v4(CC* ccs, int count, TEXTLINE** out, int* out_count, int32_t** label_rows, int width,
                                   int height, bool coverage);
int cc2textline_vertical_init_v4(CC* ccs, int count, TEXTLINE** out, int* out_count, int32_t** label_rows, int width,
                                 int height, bool coverage);

// Grow a line on one side (left, right or left again for horizontal lines;
// top, bottom or top again for vertical ones): 0, or 0xfffa when one step
// meets a 30th candidate or attachment. Arguments: components and count, a
// state byte per component, a scratch list (not needed: members are added
// in place), the rejected list, label rows, page width and height, the line
// and its member list, the pass (not read), and the two edge histograms of
// one counter per page row (per column for vertical lines).
using SideSearch = int(CC* ccs, int count, uint8_t* state, std::vector<int32_t>& scratch,
                       std::vector<int32_t>& rejected, int32_t** label_rows, int width, int height, TEXTLINE* line,
                       std::vector<int32_t>& members, int pass, int32_t* lo_hist, int32_t* hi_hist);
SideSearch search_left_v3_1, search_right_v3_1, search_left_v3_2;
SideSearch search_top_v2_1, search_bottom_v2_1, search_top_v2_2;

int hv_overlap_textline_detection(TEXTLINE* horizontal, int horizontal_count, TEXTLINE* vertical, int vertical_count,
                                  MERGE_RECT* groups, int* group_count);
// Collects the group of the first non-zero matrix entry (row-major),
// zeroing its entries: 0, -1 when none is left, 0xfffc past 1000 lines.
int find_merged_rect_v3(const TEXTLINE* horizontal, int horizontal_count, const TEXTLINE* vertical, int vertical_count,
                        int32_t* matrix, MERGE_RECT* group);

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
