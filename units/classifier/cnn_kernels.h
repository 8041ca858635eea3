// Numeric kernels of the layers: column unfolding, pooling, dense and
// compressed matrix products. Matrices are row-major floats; products add to C.
#ifndef DRAVN_CNN_KERNELS_H
#define DRAVN_CNN_KERNELS_H

struct crs_matrix {
  int sparse;
  int columns;
  int rows;
  int* column_index;
  int* row_start;
  float* values;
};

struct ccs_matrix {
  int sparse;
  int columns;
  int rows;
  int* column_start;
  int* row_index;
  float* values;
};

crs_matrix* crs_matrix_create(const float* dense, int rows, int columns);
ccs_matrix* ccs_matrix_create(const float* dense, int rows, int columns);
void crs_matrix_free(crs_matrix* m);
void ccs_matrix_free(ccs_matrix* m);

// The single-precision product (CBLAS argument list) that the unit binds
// from libopencv at load; the network refuses to build while it is unbound.
using SgemmFn = void (*)(int order, int transA, int transB, int M, int N, int K, float alpha, const float* A, int lda,
                         const float* B, int ldb, float beta, float* C, int ldc);
extern SgemmFn gIPPShare_cblas_sgemm;

namespace cnn {

void ImageToCol(const float* source, float* destination, int channels, int height, int width, int padLeft, int padRight,
                int padTop, int padBottom, int windowHeight, int windowWidth, int strideHeight, int strideWidth);
void MaxPooling(const float* source, float* destination, int height, int width, int outHeight, int outWidth,
                int padLeft, int padTop, int windowHeight, int windowWidth, int strideHeight, int strideWidth);
void AveragePooling(const float* source, float* destination, int height, int width, int outHeight, int outWidth,
                    int padLeft, int padTop, int windowHeight, int windowWidth, int strideHeight, int strideWidth);

void MulMatByMat(const float* A, const float* B, float* C, int M, int K, int N);
void MulMatByMatSkipZero(const float* A, const float* B, float* C, int M, int K, int N);
void MulMatByMatTrans(const float* A, const float* B, float* C, int M, int K, int N);
void MulMatByMatTransSkipZero(const float* A, const float* B, float* C, int M, int K, int N);
float* Transposition(const float* values, int rows, int columns);

void SparseMulMatByMat(const crs_matrix* A, const float* B, float* C, int M, int K, int N);
void SparseMulMatByMat(const float* A, const crs_matrix* B, float* C, int M, int K, int N);
void SparseMulMatByMat(const float* A, const ccs_matrix* B, float* C, int M, int K, int N);

}  // namespace cnn

#endif
