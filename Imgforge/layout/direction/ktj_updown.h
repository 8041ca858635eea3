// Steps of the upside-down test, for the library's own tests.
#ifndef IMGFORGE_KTJ_UPDOWN_H
#define IMGFORGE_KTJ_UPDOWN_H

#include <stdint.h>

#include <vector>

namespace ktj {

// Verdicts: 0 undecided, 1 upright, 2 upside-down.
// One line's vote; method: 0 not examined, 1 margins, 2 patterns.
int jug_direct_bunseki(const uint8_t* pixels, int bpl, int x0, int y0, int x1, int y1, bool variable, int dpi,
                       int* method);
// The page vote over U upright and D upside-down lines.
int jug_direct_jug(int upright, int upsideDown);
// A line's vote from the top and bottom margins of its cells.
int saikin_bunseki_1(std::vector<int> const& tops, std::vector<int> const& bottoms);
// A line's vote from its cells' votes.
int CellVote(int upright, int upsideDown);
// A cell's vote: its upright pattern and norm against the dictionary.
int jug_one_yama(const uint8_t pattern[25], int norm);

}  // namespace ktj

#endif
