// Edge-threshold binarization of the engine: the grey page to a 0/1 byte
// image through libhelper.so, and the byte image to a packed one-bit page.
#ifndef DRAVN_EDGE_THRESHOLD_H
#define DRAVN_EDGE_THRESHOLD_H

#include <cstdint>

int Gray2BinImage(uint8_t* src, uint8_t* dst, int height, int width, int offset, int adjust, int edgeParam, int weight,
                  int* kernel, uint8_t flagA, int countB, int mode, bool bottomTrim, bool sensFlag, int* results,
                  int kind);
void CreateSTreshold(const int* hist1, const int* hist2, int bins, int adjust, uint8_t* threshold, int weight);
int GetActualHeight(const uint8_t* src, int width, int height);
int GetAverage(const uint8_t* row, int n);
void bin2pac(const uint8_t* bytes, uint8_t* packed, int height, int width);

#endif
