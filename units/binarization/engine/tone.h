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
void TabConv(const uint8_t* first, const uint8_t* second, uint8_t* out, int n);
void ImageConv(const uint8_t* src, int height, int width, const uint8_t* table, uint8_t* dst);

#endif
