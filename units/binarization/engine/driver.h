// The binarization engine's driver: one 8-bit grey page and a block of 32
// parameters to a packed one-bit page (or the 0/1 byte image).
#ifndef DRAVN_BIN_DRIVER_H
#define DRAVN_BIN_DRIVER_H

#include <cstdint>

enum { kBinParams = 32, kBinResults = 16, kBinKernel = 25 };

int TBinary2(uint8_t* src, uint8_t* dst, int height, int width, int margin, int* params, int mode, int* results,
             int* kernel);
// The orientation pipeline's variant: the 0/1 byte image of width x height
// into dst; src is left unchanged.
int TBinaryOrientation(uint8_t* src, uint8_t* dst, int height, int width, int margin, int* params, int mode,
                       int* results, int* kernel);
void GetDeviceParam(int* mode, int* params, int* kernel);
void CreateLogFilter(double sigma, int n, int* kernel);
void GetFilterModulus(int s, int* kernel);
int FilterMedianIpp(const uint8_t* src, uint8_t* dst, int height, int width, int maskSize, int type);
// Post-processing of the 0/1 byte image: -1 when nothing is selected.
int PostProImage(const uint8_t* src, uint8_t* dst, int height, int width, const int* params, int mode, int* results,
                 uint8_t allProcessors, int threads);

#endif
