// Per-line scorers: one text line of the grey page in, a script category, a
// direction and a confidence per classified patch out. Also the crop
// operations they share with the driver's texture step.
#ifndef DRAVN_ORIENTATION_LINE_SCORERS_H
#define DRAVN_ORIENTATION_LINE_SCORERS_H

#include <cstdint>

#include "textline_types.h"

struct CnnEngine;

namespace turnsense {

// One classifier answer: category indexes CATEGORY (24 "Background"),
// direction is a quarter turn 0..3 or -1 for none.
struct LineAnswer {
  float confidence;
  int category;
  int direction;
};

// Band of the line's text rows (columns for orientation 1) inside `in`.
// 0, or 65535 when out of memory.
int GetBaseLine(const uint8_t* grey, int width, int height, const tagRECT& in, tagRECT& out, int orientation);
// Copies the rectangle into a new[] crop, turned a quarter turn clockwise for
// orientation 1 so that a vertical line reads left to right. 0, or 65535
// (crop null) when out of memory; 0xfffc (crop null) for a rectangle that is
// empty or leaves the page.
int ImgCrop(uint8_t*& crop, int& cropWidth, int& cropHeight, const uint8_t* grey, int width, int height, tagRECT rect,
            int orientation);
// As ImgCrop, resized bilinearly to targetHeight rows. The scale factor, or
// 65535.0 (crop null) when out of memory or the rectangle is unusable.
float ResizeImgCrop(uint8_t*& crop, int& cropWidth, int& cropHeight, const uint8_t* grey, int width, int height,
                    tagRECT rect, int targetHeight, int orientation);
// Class of the paper (mask non-zero) under a grey crop: 0 plain, 1 textured,
// 2 dark or busy. *backgroundClass must be 0 on entry.
void Iscomplex_background(const uint8_t* grey, const uint8_t* unused, const uint8_t* mask, int width, int height,
                          int* backgroundClass);
// Specks (ink components at most 4 x 4) of a two-level image; whitens its frame.
int BinNoiseNumber(uint8_t* binary, int width, int height);

// Common leading arguments of the scorers: the two engine pairs (the first
// classifies grey crops, the second two-level crops), the grey page (stride =
// width), the line, the decimation factor, and three values not read.
// Each returns 0 when it ran, the code of GetBaseLine or ImgCrop when one
// failed (outputs untouched), or 65535 when out of memory. A line that holds
// no text answers category 24 and direction -1; `answered` becomes 1 only
// when some direction was found.

// One patch. `wide` (the vote's doubling switch) is 1 when the accepted
// characters cover at least a third of the crop.
int BaselineScore_cnn(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2, uint8_t* grey,
                      int width, int height, TEXTLINE line, int factor, char* text1, char* text2, int unused,
                      float& confidence, int& category, int& direction, int& answered, int& wide);
int BaselineScore_cnn_novalidate(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2,
                                 uint8_t* grey, int width, int height, TEXTLINE line, int factor, char* text1,
                                 char* text2, int unused, float& confidence, int& category, int& direction,
                                 int& answered, int& wide);
// answers[0]: the grey crop with the first pair; answers[1]: the engine
// two-level crop with the second pair; three windows each.
int BaselineScore_cnn_combine_v1(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2, CnnEngine* rotation2,
                                 uint8_t* grey, int width, int height, TEXTLINE line, int factor, char* text1,
                                 char* text2, int unused, LineAnswer answers[2], int& answered);
// Six answers: centre, left and right patch, each on the grey crop with the
// first pair (even index) and on a two-level crop with the second (odd index).
int BaselineScore_cnn_combine_complex(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                                      CnnEngine* rotation2, uint8_t* grey, int width, int height, TEXTLINE line,
                                      int factor, char* text1, char* text2, int unused, LineAnswer answers[6],
                                      int& answered);
int BaselineScore_cnn_combine_complex_novalidate(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                                                 CnnEngine* rotation2, uint8_t* grey, int width, int height,
                                                 TEXTLINE line, int factor, char* text1, char* text2, int unused,
                                                 LineAnswer answers[6], int& answered);
// The two-level crop is inverted first, for light text on dark paper.
int BaselineScore_cnn_combine_complex_reverse(CnnEngine* script1, CnnEngine* rotation1, CnnEngine* script2,
                                              CnnEngine* rotation2, uint8_t* grey, int width, int height, TEXTLINE line,
                                              int factor, char* text1, char* text2, int unused, LineAnswer answers[6],
                                              int& answered);

}  // namespace turnsense

#endif
