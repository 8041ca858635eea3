// The engine's two analyses of the grey page before binarization: how noisy
// it is (and which median prefilter suits it), and how much its background
// texture should move the threshold.
#ifndef DRAVN_BIN_ANALYSIS_H
#define DRAVN_BIN_ANALYSIS_H

#include <cstdint>

// out (16 integers, zeroed by the caller): [0] flat-histogram flag,
// [1] adjustment, [2] prefilter type 0..4, [4], [5] column and row of the
// cleanest block in page pixels. 0, or -1 when memory is short.
int ImageNoiseFilterAnalyzeFunction(const uint8_t* page, int height, int width, int* out);
void ippiResizeFunction(const uint8_t* src, int height, int width, uint8_t* dst, int dstHeight, int dstWidth,
                        double factor);

// Peaks and valleys of a smoothed histogram from bin 27 on: a rise of more
// than 2% of max (or a step of that size before it) followed by no rise; a
// valley, a fall of more than 1% followed by no fall; pos joins the peaks (in order)
// when none lies within 2 bins of it and max is positive. Both lists hold
// at most count entries.
void GetHistPeackFunction(const double* hist, int count, double max, int pos, int* peaks, int* peakCount, int* valleys,
                          int* valleyCount);
// The page (reduced as the noise analysis reduces it) binarized by the
// self-contained binarizer at level 26 - sensitivity (params: mixing weight
// and weight, or 5 and 4 when null): *stain the commonest size of its black
// pieces, *noise of its edge strengths (the last and the first peak of each
// smoothed histogram). 0, or -1 when memory is short or the binarizer fails.
int intelligenceStainNoiseAnalyzeFunction(const uint8_t* page, int height, int width, int sensitivity,
                                          const int* params, int* stain, int* noise);

// Background analysis: results[2] := the background adjustment 0..25.
// 0, or -1 when memory is short or the page has too few edges.
int advancedprocess(const uint8_t* page, int height, int width, int target, const int* params, int* results,
                    int level);

// The steps of the background analysis, open to tests.
constexpr int kAdvBins = 64;
struct AdvancedVerdict {
  int adjust = 0;     // the background adjustment, 0..25
  int judge = 0;      // which judgement rows fired (bits 1..256)
  int lastJudge = 0;  // CreateAdvancedCorValue's own code of the first call
};
// Edge strengths of the sub-image (16-bit grey, its Laplacian) into the
// text and isolated-point histograms.
void GetHistAdvanced(const uint8_t* edge, const uint8_t* strength, int height, int width, int* textHist,
                     int* isoHist);
int CreateEdge2IppAdvanced(const int16_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height,
                           int width, int threshold);
void HistDeNoiseFilter(const int* in, int* out);
// Returns the largest input value from bin 7 on; *at its bin.
int histFilter(const int* in, int* out, int* at);
int GethistpeackNu(const int* hist, int ref, int* peaks, int* count, int* flag);
// From the two raw 64-bin histograms of a sub-image of `subPixels` pixels:
// 0 with the verdict, or -1 when there are too few edges.
int AdvancedJudge(const int* textHist, const int* isoHist, long subPixels, const int* params, int* results, int level,
                  AdvancedVerdict* verdict);

#endif
