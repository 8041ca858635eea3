#include "line_recognition.h"

#include <ctime>

namespace turnsense {

const LineScorers kLineScorers = {BaselineScore_cnn,
                                  BaselineScore_cnn_novalidate,
                                  BaselineScore_cnn_combine_v1,
                                  BaselineScore_cnn_combine_complex,
                                  BaselineScore_cnn_combine_complex_novalidate,
                                  BaselineScore_cnn_combine_complex_reverse,
                                  BaselineScore_cnn_3patch_complex};

int BaselineScore_cnn_3patch_complex(CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE,
                                     int, int, char*, char*, int, LineAnswer*, int&, int) {
  return kLimitExceeded;
}

float checkratio(uint8_t*, int, int) { return 1.0f; }

int orient_identify_cnn_with(const LineScorers&, CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int,
                             TEXTLINE*, TEXT_IMAGE*, int, int, char*, char*, float&, int& direction, long& startTime,
                             int, int& effectiveLines, int&, float*, int&, int*) {
  startTime = long(clock());
  direction = -1, effectiveLines = 0;
  return 0;
}

int orient_identify_cnn(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2,
                        uint8_t* grey, int width, int height, TEXTLINE* lines, TEXT_IMAGE* crops, int lineCount,
                        int factor, char* text1, char* text2, float& confidence, int& direction, long& startTime,
                        int maxLines, int& effectiveLines, int& tie, float slots[5], int& fewLines,
                        int categoryCounters[25]) {
  return orient_identify_cnn_with(kLineScorers, script1, rotation1, script2, rotation2, grey, width, height, lines,
                                  crops, lineCount, factor, text1, text2, confidence, direction, startTime, maxLines,
                                  effectiveLines, tie, slots, fewLines, categoryCounters);
}

}  // namespace turnsense
