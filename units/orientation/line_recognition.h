// Per-line recognition and the direction vote of one driver pass.
#ifndef DRAVN_ORIENTATION_LINE_RECOGNITION_H
#define DRAVN_ORIENTATION_LINE_RECOGNITION_H

#include <cstdint>

#include "line_scorers.h"
#include "textline_types.h"

namespace turnsense {

// lines[i] and crops[i] describe one ranked line; a line whose crop validity
// (its score) is 0 is skipped. The grey page is the full-size work copy and
// factor its pixels per unit of the line boxes. Results: direction (a slot
// 0..3, or -1), effective lines, tie and few-lines flags, the five slot
// averages; categoryCounters is added to, never cleared; startTime is set
// from clock(). confidence is only logged. Returns 0, 0xffff when out of
// memory, or the non-zero code of a scorer.
int orient_identify_cnn(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2,
                        uint8_t* grey, int width, int height, TEXTLINE* lines, TEXT_IMAGE* crops, int lineCount,
                        int factor, char* text1, char* text2, float& confidence, int& direction, long& startTime,
                        int maxLines, int& effectiveLines, int& tie, float slots[5], int& fewLines,
                        int categoryCounters[25]);

// The re-recognition scorer: three squeezed patches (centre, left, right) of
// the line's text band with the first pair. With validate 1 a band of at
// most 17 rows answers category 24 and direction -1.
int BaselineScore_cnn_3patch_complex(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* unused1, CnnEngine* unused2,
                                     uint8_t* grey, int width, int height, TEXTLINE line, int orientation, int factor,
                                     char* text1, char* text2, int lineNumber, LineAnswer answers[3], int& effective,
                                     int validate);

// Squeeze factor of a two-level crop (ink 0) whose characters are tall and
// narrow; 1 otherwise. Whitens the crop's frame.
float checkratio(uint8_t* binary, int width, int height);

// The scorers the vote calls, replaceable for tests of the vote's flow.
struct LineScorers {
  decltype(&BaselineScore_cnn) single;
  decltype(&BaselineScore_cnn_novalidate) singleNoValidate;
  decltype(&BaselineScore_cnn_combine_v1) twoEngines;
  decltype(&BaselineScore_cnn_combine_complex) complex;
  decltype(&BaselineScore_cnn_combine_complex_novalidate) complexNoValidate;
  decltype(&BaselineScore_cnn_combine_complex_reverse) complexReverse;
  decltype(&BaselineScore_cnn_3patch_complex) threePatch;
};
extern const LineScorers kLineScorers;

int orient_identify_cnn_with(const LineScorers& scorers, CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                             CnnEngine* rotation2, uint8_t* grey, int width, int height, TEXTLINE* lines,
                             TEXT_IMAGE* crops, int lineCount, int factor, char* text1, char* text2, float& confidence,
                             int& direction, long& startTime, int maxLines, int& effectiveLines, int& tie,
                             float slots[5], int& fewLines, int categoryCounters[25]);

}  // namespace turnsense

#endif
