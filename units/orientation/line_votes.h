// Bookkeeping of the orientation vote: direction tally, script counters,
// and whether any line is thick enough for the thick-line passes.
#ifndef DRAVN_ORIENTATION_LINE_VOTES_H
#define DRAVN_ORIENTATION_LINE_VOTES_H

#include <cstdint>

#include "textline_types.h"

namespace turnsense {

void voteByConfidence(int32_t* counts, double* sums, int& best, double& best_sum, int& second, double& second_sum,
                      int slot, float& confidence, int doubling);
void add_language_score(int32_t* counters, const int* categories, int page_width, TEXTLINE line, int factor,
                        int last_index);
int checkHeight(const TEXTLINE* lines, int count, int factor);

}  // namespace turnsense

#endif
