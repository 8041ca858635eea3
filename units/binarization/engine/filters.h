// Small numerical routines of the binarization engine: zero-phase filtering
// of histograms, a dense solver and tone-curve builders.
#ifndef DRAVN_BIN_FILTERS_H
#define DRAVN_BIN_FILTERS_H

#include <cstdint>

int DigfilterF(const double* x, double* y, const double* zi, int len, double* a, double* b, int order);
int DigfiltfilterF(const double* x, double* y, int len, const double* a, const double* b, int order);
int GaussJordan(int n, double* A, int m, const double* B, double* X);
// The segment of the ascending control points that holds x, by bisection:
// the last point whose x is at most x (0 before the first, points - 2 past
// the last).
int SegmentOf(const int* xs, int points, int x);
void LinearFunction(const int* xs, const double* ys, int points, int from, int to, uint8_t* outX, uint8_t* outY);
int BezierFunction(const int* xs, const double* ys, uint8_t* outX, uint8_t* outY);
void TrainLoop(int* xs, double* ys, int count, int* outCount);

// Routines the engine does not call itself.
// The not-a-knot cubic spline through points whose x rise strictly (two
// points: the line, three: the parabola), one entry per x from `from` to
// `to`; -1 for fewer than two points, x that do not rise, or no memory.
int SplineFunction(const int* xs, const double* ys, int points, int from, int to, uint8_t* outX, uint8_t* outY);
// The sign of the fixed 5 x 5 Laplacian on the inner pixels: 1, 255 or 0;
// the outer two rows and columns 0.
void filter_imLaplacian(const uint8_t* src, uint8_t* dst, int height, int width);
// The sign of a 5 x 5 kernel (25 values, rows in order) as two bits a pixel,
// pixel x at bits 2 (x % pixelsPerWord) of word x / pixelsPerWord, with
// (2 pixelsPerWord + 2 width - 5) / (2 pixelsPerWord) words a row. A word is
// stored only where marks holds 15 for it; the two outer rows are cleared.
// -1 for missing buffers or pixelsPerWord outside 1..16.
int FilterGaussLaplacianbitspc(const uint8_t* src, int* dst, const int* kernel, int height, int width,
                               int pixelsPerWord, const uint8_t* marks);
// The determinant of the n x n row-major matrix; -1 (det 0) when singular.
int detMatDigenValue(int n, const double* M, double* det);
// The triples whose first two values differ.
void RemoveLoopSameness(const int* a, const int* b, const int* c, int count, int* outA, int* outB, int* outC,
                        int* outCount);

#endif
