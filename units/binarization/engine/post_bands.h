// Band-threaded forms of the post-processing operations: the page is cut
// into n horizontal bands, each processed on its own thread over its rows
// and the rows its operation reads beyond them, and each band writes only
// its own rows of dst. n <= 0: nothing is done, and that counts as success.
#ifndef DRAVN_BIN_POST_BANDS_H
#define DRAVN_BIN_POST_BANDS_H

#include <cstdint>

#include "morphology.h"

int RemoveStainNewEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins,
                     int n);
int CouplayFilterIppEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n);
int LineFilterIppEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n);
// The older operations in bands, and the band bodies they run: one job
// record each, calling the plain operation.
struct PostBandJob {
  const uint8_t* src;
  uint8_t* dst;
  int height, width, size;
  _MARGINPTXYSIZE margins;
};
int RemoveStainEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, _MARGINPTXYSIZE margins, int n);
int CouplayFilterEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n);
int LineFilterEx(const uint8_t* src, uint8_t* dst, int height, int width, int size, int n);
int RemoveStainThr(const PostBandJob* job);
int CouplayFilterThr(const PostBandJob* job);
int LineFilterThr(const PostBandJob* job);

// Paints a frame of n pixels along the four edges with value.
void Set4SideByteMemery2(uint8_t* data, int height, int width, int n, int value);

#endif
