// Pixel-format converters of the engine (grey, 24-bit, 0/1 byte image).
#ifndef DRAVN_BIN_CONVERTERS_H
#define DRAVN_BIN_CONVERTERS_H

#include <cstdint>

// y = (p0 w0 + p1 w1 + p2 w2) / 102400; kind 2: 30608, 60068, 11722;
// kind 0: the middle channel; other kinds: the caller's three weights.
void rgb2y(const uint8_t* src, uint8_t* dst, int height, int width, int kind, int* weights);
void y2rgb(const uint8_t* src, uint8_t* dst, int height, int width);
void bin2rgb(const uint8_t* bits, uint8_t* dst, int height, int width);
void bin2byte(const uint8_t* bits, uint8_t* dst, int height, int width);
void plane2rgb(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* dst, int height, int width);

#endif
