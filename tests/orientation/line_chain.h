// The line stages chained in the orientation driver's order on one grey
// page: decimation, Sauvola, labelling, noise removal, text lines,
// verification, selection and line crops. Used by the chained tests and the
// benchmark; the driver itself comes with the orientation unit.
#ifndef DRAVN_TESTS_ORIENTATION_LINE_CHAIN_H
#define DRAVN_TESTS_ORIENTATION_LINE_CHAIN_H

#include <cstdint>
#include <vector>

#include "textline_types.h"

namespace line_chain {

struct Selected {
  turnsense::tagRECT box;  // page pixels
  int group;               // 0 horizontal, 1 vertical
  int extractor;           // result of the multi-line extractor
  float validity;          // after the multi-line drop
  float size;              // likelyhood_size of the crop
};

struct Result {
  int f = 0;
  int hint = -2;
  int built[2] = {0, 0};     // lines from the builder
  int verified[2] = {0, 0};  // lines that passed verification
  std::vector<Selected> selected;
};

// `invert` runs the second pass's view of the page (light text on dark).
Result Run(const uint8_t* grey, int width, int height, int dpi, bool invert = false);

// Labelling of a two-level page into the component record (the arrays
// live in `store`).
struct Labelled {
  std::vector<int32_t> counts, map, status;
  std::vector<turnsense::rect> boxes;
  turnsense::CC_IMG cc{};
};
void Label(uint8_t* binary, int width, int height, Labelled& out);
std::vector<turnsense::CC> Components(const turnsense::CC_IMG& cc);

}  // namespace line_chain

#endif
