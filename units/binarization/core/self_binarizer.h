// The engine's self-contained edge-threshold binarizer on the libopencv
// primitives (g_i3ipShare), with band-threaded forms of its steps. The
// "Ex" forms cut the page into n horizontal bands (the last takes the rest)
// and run each band in its own thread; the 5x5 steps read two rows beyond
// their band and write only their own rows.
#ifndef DRAVN_SELF_BINARIZER_H
#define DRAVN_SELF_BINARIZER_H

#include <cstdint>

// `bands`: threads for every step (1 to 4). `edgeMap` (optional, width x
// height) receives the edge strength: the grey step across each edge / 4.
int Gray2BinImageForNoiseF(const uint8_t* src, uint8_t* dst, uint8_t* edgeMap, int height, int width, int offset,
                           int adjust, int mixWeight, int weight, int* kernel, uint8_t flagA, int bands, int mode,
                           int* results);

int ippiConvert_8u16s_C1REx(const uint8_t* src, int16_t* dst, int height, int width, int n);
int FilterGaussLaplacianIpp(const int16_t* src, int16_t* dst, int height, int width);
int FilterGaussLaplacianIppEx(const int16_t* src, int16_t* dst, int height, int width, int n);
void Set4SideShortMemery(int16_t* image, int height, int width, int n, int16_t value);
void Set4SideByteMemery(uint8_t* image, int height, int width, int n, uint8_t value);
int CreateEdge2Ipp(const uint8_t* grey, const int16_t* log, uint8_t* edge, int height, int width, int l1, int l2);
int CreateEdge2IppForNoiseF(const uint8_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height,
                            int width, int l1, int l2);
int CreateEdge2IppEx(const uint8_t* grey, const int16_t* log, uint8_t* edge, uint8_t* strength, int height, int width,
                     int l1, int l2, int n);
int CreateEdgeIc4Ipp(const uint8_t* grey, const uint8_t* edge, int16_t* level, int* hist1, int* hist2, int height,
                     int width, int mixWeight);
int CreateEdgeIc4IppEx(const uint8_t* grey, const uint8_t* edge, int16_t* level, int* hist1, int* hist2, int height,
                       int width, int mixWeight, int n);
int CreateSumFilter16SIpp(const int16_t* level, int16_t* sum, int height, int width, int threshold);
int CreateSumFilter8UIpp(const uint8_t* edge, uint8_t* count, int height, int width);
int CreateSumFilter16SIppEx(const int16_t* level, int16_t* sum, int height, int width, int threshold, int n);
int CreateSumFilter8UIppEx(const uint8_t* edge, uint8_t* count, int height, int width, int n);
int CreateSumFilterIppEx(const int16_t* level, int16_t* sum, const uint8_t* edge, uint8_t* count, int height,
                         int width, int threshold, int n);
int CreateBinImg3Ipp(const uint8_t* grey, const uint8_t* count, const int16_t* sum, uint8_t* dst, int height,
                     int width);
int CreateBinImg3IppEx(const uint8_t* grey, const uint8_t* count, const int16_t* sum, uint8_t* dst, int height,
                       int width, int n);
int RemoveisolatedNoiseEdge(const uint8_t* src, uint8_t* dst, int height, int width);
int RemoveisolatedNoiseEdgeEx(const uint8_t* src, uint8_t* dst, int height, int width, int n);

#endif
