#include "line_votes.h"

#include <algorithm>

namespace turnsense {

void voteByConfidence(int32_t* counts, double* sums, int& best, double& best_sum, int& second, double& second_sum,
                      int slot, float& confidence, int doubling) {
  if (confidence > 1.0f && doubling == 1) confidence *= 2.0f;
  counts[slot] += 1;
  sums[slot] += confidence;
  if (sums[slot] > best_sum) {
    if (slot != best) {
      second = best;
      second_sum = best_sum;
    }
    best = slot;
    best_sum = sums[slot];
  } else if (sums[slot] > second_sum) {
    second = slot;
    second_sum = sums[slot];
  }
}

void add_language_score(int32_t* counters, const int* categories, int page_width, TEXTLINE line, int factor,
                        int last_index) {
  for (int i = 0; i <= last_index; ++i) {
    const int c = categories[i];
    if (c < 0 || c >= 25) continue;
    const bool east_asian = (c >= 2 && c <= 5) || c == 8 || c == 9;
    if (!east_asian) {
      counters[c] += 1;
      continue;
    }
    counters[c] += 3;
    if (line.box.left * int64_t(factor) < page_width / 3) counters[c] += 1;
  }
}

int checkHeight(const TEXTLINE* lines, int count, int factor) {
  if (!lines) return 0;
  const int64_t s = factor;
  for (int i = 0; i < count; ++i) {
    const TEXTLINE& l = lines[i];
    int64_t span;
    if (l.orientation == 0)
      span = (l.box.bottom + 1) * s + 1 - std::max<int64_t>(0, (l.box.top - 1) * s);
    else if (l.orientation == 1)
      span = (l.box.right + 1) * s + 1 - std::max<int64_t>(0, (l.box.left - 1) * s);
    else
      continue;
    if (span >= 21) return 1;
  }
  return 0;
}

}  // namespace turnsense
