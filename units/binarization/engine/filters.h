// Small numerical routines of the binarization engine: zero-phase filtering
// of histograms, a dense solver and tone-curve builders.
#ifndef DRAVN_BIN_FILTERS_H
#define DRAVN_BIN_FILTERS_H

#include <cstdint>

int DigfilterF(const double* x, double* y, const double* zi, int len, double* a, double* b, int order);
int DigfiltfilterF(const double* x, double* y, int len, const double* a, const double* b, int order);
int GaussJordan(int n, double* A, int m, const double* B, double* X);
void LinearFunction(const int* xs, const double* ys, int points, int from, int to, uint8_t* outX, uint8_t* outY);
int BezierFunction(const int* xs, const double* ys, uint8_t* outX, uint8_t* outY);
void TrainLoop(int* xs, double* ys, int count, int* outCount);

#endif
