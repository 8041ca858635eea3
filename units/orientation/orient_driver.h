// The orientation driver: one 8-bit grey page to a quarter-turn verdict,
// through decimation, the background test, text lines of both
// orientations, their crops and the per-line recognition and vote; run on
// the page and, when that is not enough, on the inverted page.
#ifndef DRAVN_ORIENTATION_ORIENT_DRIVER_H
#define DRAVN_ORIENTATION_ORIENT_DRIVER_H

#include <cstdint>

#include "text_detector.h"
#include "textline_types.h"
#include "vomb_cnn.h"


// The unit's process-wide engine: two text detectors, then the script and
// rotation classifiers of each engine directory.
struct OcrEngine {
  STRONGCLASSIFIER* detector1 = nullptr;
  STRONGCLASSIFIER* detector2 = nullptr;
  CnnEngine* script1 = nullptr;
  CnnEngine* rotation1 = nullptr;
  CnnEngine* script2 = nullptr;
  CnnEngine* rotation2 = nullptr;
};

struct AD_OUTPUT {
  int32_t hint;  // 0 horizontal, 1 vertical, -1 tie (the line builder's)
  int32_t unused1;
  int32_t confidence;  // x 1000
  int32_t unused3;
  int32_t direction;  // slot 0..4, -1 no verdict
  int32_t pass_direction[2];
  int32_t pass_lines[2];
  int32_t extracted[3];  // multi-line extractor answers 1, 2 and 3
  int32_t unused12;
  int32_t unused13;
  int32_t language;
};

// The text area the driver's text-area mode finds, in page pixels.
struct I3ipRect {
  int32_t top, bottom, left, right;
};

namespace turnsense {

// What one pass of the recognition leaves.
struct PassResult {
  int direction = -1;
  int effective = 0;
  int tie = 0;
  int few = 0;
  float slots[5] = {0, 0, 0, 0, 0};
};

// Processor seconds spent in each stage of the driver since they were last zeroed:
// what the benchmark reports per page.
struct DriverStages {
  double background = 0;  // decimation, Sauvola, the texture test
  double lines = 0;       // labelling, noise, text lines, verification, selection
  double texture = 0;     // the text detector on each selected line
  double crops = 0;       // line crops, multi-line checks, scores and ranking
  double recognition = 0; // scorers and the vote
};
extern DriverStages g_driverStages;
// The noise removal's size threshold the driver reads (the unit points it at
// its exported `gccth`, which it zeroes before each page); none reads 0.
extern const int* g_ccth;

int get_decimate_rate_size(int dpi, int width, int height);
void img_decimate_integer_fast_padding(const uint8_t* src, uint8_t* copy, int width, int height, int stride,
                                       uint8_t* dst, int dw, int dh);
float texture_background_detection_density(const uint8_t* binary, int width, int height);
int cal_variance(const uint8_t* grey, const uint8_t* binary, int width, int height);
void smoothing(uint8_t* page, const uint8_t* copy, int width, int height);
void smoothing_5(uint8_t* page, const uint8_t* copy, int width, int height);
// `page` is smoothed in place when textured; `decimated` and `binary` are
// new[]'d here (width / f by height / f). 0, or 0xfffc for a page smaller
// than its factor.
int texture_background_detection(uint8_t* page, uint8_t* copy, int width, int height, int dpi, int stride,
                                 bool& textured, int& f, uint8_t*& decimated, uint8_t*& binary);

int GetCentLine(const uint8_t* grey, int width, int height, tagRECT box, tagRECT& out, int orientation);
int TextureAnalysis(STRONGCLASSIFIER* detector, const uint8_t* grey, int width, int height, TEXTLINE* lines, int count,
                    int f, const char* text1, const char* text2, int orientation);

// Ranks the gathered lines in place: each group by descending score (equal
// scores keep their order), then the second group's best may be brought
// forward into the first group's first eight.
void RankLines(float* scores, int* order, int first_count, int total);
// How many of `count` ranked lines pass 0 hands on (the four-line cut-off).
int LinesHandedOn(int pass, const float* scores, int count);
// Whether pass 0's verdict is enough to skip the inverted pass.
bool PassSettles(const PassResult& pass);
// Fills direction slot and confidence from both passes.
void MergePasses(const PassResult* passes, int& direction, int& confidence);
int calc_mode_language(int* counts, bool merge);
// The unit's answer: the verdict when it is a quarter turn the driver is
// sure enough of, else 0.
int UnitQuarterTurn(int direction, int confidence);
// Text-area mode: a gathered line's score after its texture product, raised
// for lines of a sound shape near the top of the page.
float TextAreaScore(float score, int crop_width, int crop_height, int crop_factor, int f, int box_top,
                    int page_height);
// Text-area mode: the first ranked line's decimated box as a page area of a
// workable size inside the page; all zeros when it cannot be had.
I3ipRect TextArea(const tagRECT& box, int f, int width, int height);
// The noise levels that a non-zero `gccth` asks for: how many components a
// level may still drop before the next level is tried.
double NoiseDropLimit(int dw, int dh, int dpi, int ccth, int f);

}  // namespace turnsense

// With `text_area` the first pass ends at the ranking and writes the best
// line's area into `area` instead of recognising the lines. With
// `grey_is_work` (a packed page the caller throws away afterwards) the page
// itself is the work copy and is left smoothed or inverted.
int auto_orientation_Pavix_v2(OcrEngine* engine, uint8_t* grey, uint8_t* aux, int width, int height, int stride,
                              int dpi, AD_OUTPUT& out, const char* text1, const char* text2, int extra,
                              bool text_area = false, I3ipRect* area = nullptr, bool grey_is_work = false);
int auto_page_direction_detection_Pavix3(OcrEngine* engine, OcrEngine* second, uint8_t* grey, uint8_t* aux, int width,
                                         int height, int stride, int dpi, float threshold, int* first, int* direction,
                                         int* confidence, float* fourth, long& start, char* text1, char* text2,
                                         int extra, int* language, bool grey_is_work = false);

#endif
