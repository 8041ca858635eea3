// Tone pre-processing of the engine: one combined table (gamma, brightness,
// contrast) from the parameter block or from the page's grey histogram.
#ifndef DRAVN_BIN_TONE_H
#define DRAVN_BIN_TONE_H

#include <cstdint>

int PreProImage(const uint8_t* src, int height, int width, const int* params, int selection, uint8_t* dst,
                int* results, int step);
void CreateHist(const uint8_t* src, int height, int width, uint32_t* hist, int step);
int AnalyHist(const uint32_t* hist, int bins, int* results, int flag);
int CreateGammaTableF(int g, uint8_t* table);
int CreateBrightTableF(int b, uint8_t* table);
int CreateContrastLinearTableF(int c, int centre, uint8_t* table);
// Steps 1 to 6 of AnalyHist alone (centre, contrast, gamma; no page class).
int AnalyHist2(const uint32_t* hist, int bins, int* results);

// Analyses and tables the engine itself does not use. Each histogram
// builder answers 0, or -1 for a missing buffer, an empty page or bins
// that the values would pass.
// The fullest bin (the first on a tie) and its count; -1 for no bins.
int CreateHistMax(const uint32_t* hist, int n, uint32_t* count);
// Compares the 64-bin histograms (CreateHist samples, params[0] the sample
// step, 320 when not positive) of a page before and after a step: results
// 0 and 1 their fullest bins, 2 the distance; 0 when it is at most `level`,
// 1 when it is more, -1 for bad arguments (kind 0 is the only kind).
int BinAIQC(const uint8_t* src, const uint8_t* dst, int height, int width, int level, const int* params, int* results,
            int kind);
// 256-bin histograms of the three channels of every step-th pixel.
int CreateHistRGB(const uint8_t* src, int height, int width, int step, uint32_t* r, uint32_t* g, uint32_t* b);
// The same, counting only pixels whose squared distance to `reference`
// (three channel values) is below `limit`.
int CreateHistRGBCdist(const uint8_t* src, int height, int width, int step, const uint8_t* reference, int limit,
                       uint32_t* r, uint32_t* g, uint32_t* b);
// Bins of values shifted right by 256 / (2k - 44) bits, plus 10: of grey
// pixels, or of every channel of interleaved colour pixels.
int CreateHistF0spec(const uint8_t* src, int height, int width, int k, uint32_t* hist, int bins);
int CreateHistUVWplusspec(const uint8_t* src, int height, int width, int k, uint32_t* hist, int bins);
// Flat stretches: runs of at least minLength bins whose neighbours differ by
// at most tolerance, as first and last bins (at most capacity of them);
// their count, or -1.
int CreateStagnationPosition(const uint32_t* hist, int n, int tolerance, int minLength, int* starts, int* ends,
                             int capacity);
int CreateBrightTableLineF(int b, uint8_t* table);
int CreateContrastTableF(int c, int centre, uint8_t* table);

void TabConv(const uint8_t* first, const uint8_t* second, uint8_t* out, int n);
void ImageConv(const uint8_t* src, int height, int width, const uint8_t* table, uint8_t* dst);

#endif
