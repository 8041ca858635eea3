#include "cnn_kernels.h"

#include <algorithm>
#include <cfloat>

SgemmFn gIPPShare_cblas_sgemm = nullptr;

namespace {

// Matrices with no stored value have no density to speak of: flag 0.
int SparseFlag(long long rows, long long columns, long long stored) {
  return stored > 0 && rows * columns / stored > 1 ? 1 : 0;
}

}  // namespace

crs_matrix* crs_matrix_create(const float* dense, int rows, int columns) {
  crs_matrix* m = new crs_matrix{0, columns, rows, nullptr, nullptr, nullptr};
  long long stored = 0;
  for (long long i = 0; i < static_cast<long long>(rows) * columns; ++i)
    if (!(dense[i] == 0.0f)) ++stored;
  m->column_index = new int[stored];
  m->values = new float[stored];
  m->row_start = new int[rows + 1];
  int k = 0;
  m->row_start[0] = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const float v = dense[static_cast<long long>(r) * columns + c];
      if (v == 0.0f) continue;
      m->column_index[k] = c;
      m->values[k++] = v;
    }
    m->row_start[r + 1] = k;
  }
  m->sparse = SparseFlag(rows, columns, stored);
  return m;
}

ccs_matrix* ccs_matrix_create(const float* dense, int rows, int columns) {
  ccs_matrix* m = new ccs_matrix{0, columns, rows, nullptr, nullptr, nullptr};
  long long stored = 0;
  for (long long i = 0; i < static_cast<long long>(rows) * columns; ++i)
    if (!(dense[i] == 0.0f)) ++stored;
  m->row_index = new int[stored];
  m->values = new float[stored];
  m->column_start = new int[columns + 1];
  int k = 0;
  m->column_start[0] = 0;
  for (int c = 0; c < columns; ++c) {
    for (int r = 0; r < rows; ++r) {
      const float v = dense[static_cast<long long>(r) * columns + c];
      if (v == 0.0f) continue;
      m->row_index[k] = r;
      m->values[k++] = v;
    }
    m->column_start[c + 1] = k;
  }
  // No ratio line on standard output: inside a scan it would land in the image data.
  m->sparse = SparseFlag(rows, columns, stored);
  return m;
}

void crs_matrix_free(crs_matrix* m) {
  if (!m) return;
  delete[] m->column_index;
  delete[] m->row_start;
  delete[] m->values;
  delete m;
}

void ccs_matrix_free(ccs_matrix* m) {
  if (!m) return;
  delete[] m->column_start;
  delete[] m->row_index;
  delete[] m->values;
  delete m;
}

namespace cnn {

void ImageToCol(const float* source, float* destination, int channels, int height, int width, int padLeft, int padRight,
                int padTop, int padBottom, int windowHeight, int windowWidth, int strideHeight, int strideWidth) {
  const int oh = (height + padTop + padBottom - windowHeight) / strideHeight + 1;
  const int ow = (width + padLeft + padRight - windowWidth) / strideWidth + 1;
  const long long columns = static_cast<long long>(oh) * ow;
  for (int ch = 0; ch < channels; ++ch) {
    const float* plane = source + static_cast<long long>(ch) * height * width;
    for (int ky = 0; ky < windowHeight; ++ky) {
      for (int kx = 0; kx < windowWidth; ++kx) {
        float* row = destination + ((static_cast<long long>(ch) * windowHeight + ky) * windowWidth + kx) * columns;
        // Output columns whose source column lies inside the image: [lo, hi).
        const int first = padLeft - kx;  // ox * strideWidth >= first
        const int lo = std::min(ow, std::max(0, first > 0 ? (first + strideWidth - 1) / strideWidth : 0));
        const int last = width - 1 + padLeft - kx;  // ox * strideWidth <= last
        const int hi = std::max(lo, std::min(ow, last >= 0 ? last / strideWidth + 1 : 0));
        for (int oy = 0; oy < oh; ++oy) {
          const int y = oy * strideHeight + ky - padTop;
          float* out = row + static_cast<long long>(oy) * ow;
          if (y < 0 || y >= height) {
            std::fill(out, out + ow, 0.0f);
            continue;
          }
          const float* in = plane + static_cast<long long>(y) * width + kx - padLeft;
          std::fill(out, out + lo, 0.0f);
          if (strideWidth == 1) {
            std::copy(in + lo, in + hi, out + lo);
          } else {
            for (int ox = lo; ox < hi; ++ox) out[ox] = in[static_cast<long long>(ox) * strideWidth];
          }
          std::fill(out + hi, out + ow, 0.0f);
        }
      }
    }
  }
}

namespace {

template <class Reduce>
void Pool(const float* source, float* destination, int height, int width, int outHeight, int outWidth, int padLeft,
          int padTop, int windowHeight, int windowWidth, int strideHeight, int strideWidth, Reduce reduce) {
  for (int oy = 0; oy < outHeight; ++oy) {
    const int y0 = std::max(oy * strideHeight - padTop, 0);
    const int y1 = std::min(oy * strideHeight - padTop + windowHeight, height);
    for (int ox = 0; ox < outWidth; ++ox) {
      const int x0 = std::max(ox * strideWidth - padLeft, 0);
      const int x1 = std::min(ox * strideWidth - padLeft + windowWidth, width);
      destination[static_cast<long long>(oy) * outWidth + ox] = reduce(source, width, y0, y1, x0, x1);
    }
  }
}

}  // namespace

void MaxPooling(const float* source, float* destination, int height, int width, int outHeight, int outWidth,
                int padLeft, int padTop, int windowHeight, int windowWidth, int strideHeight, int strideWidth) {
  Pool(source, destination, height, width, outHeight, outWidth, padLeft, padTop, windowHeight, windowWidth,
       strideHeight, strideWidth, [](const float* s, int w, int y0, int y1, int x0, int x1) {
         float m = -FLT_MAX;
         for (int y = y0; y < y1; ++y)
           for (int x = x0; x < x1; ++x) m = std::max(m, s[static_cast<long long>(y) * w + x]);
         return m;
       });
}

void AveragePooling(const float* source, float* destination, int height, int width, int outHeight, int outWidth,
                    int padLeft, int padTop, int windowHeight, int windowWidth, int strideHeight, int strideWidth) {
  Pool(source, destination, height, width, outHeight, outWidth, padLeft, padTop, windowHeight, windowWidth,
       strideHeight, strideWidth, [](const float* s, int w, int y0, int y1, int x0, int x1) {
         float sum = 0.0f;
         for (int y = y0; y < y1; ++y)
           for (int x = x0; x < x1; ++x) sum += s[static_cast<long long>(y) * w + x];
         const int count = (y1 - y0) * (x1 - x0);  // the network refuses windows without a pixel
         return count > 0 ? sum / count : 0.0f;
       });
}

void MulMatByMat(const float* A, const float* B, float* C, int M, int K, int N) {
  for (int i = 0; i < M; ++i)
    for (int k = 0; k < K; ++k) {
      const float a = A[static_cast<long long>(i) * K + k];
      for (int j = 0; j < N; ++j) C[static_cast<long long>(i) * N + j] += a * B[static_cast<long long>(k) * N + j];
    }
}

void MulMatByMatSkipZero(const float* A, const float* B, float* C, int M, int K, int N) {
  for (int i = 0; i < M; ++i)
    for (int k = 0; k < K; ++k) {
      const float a = A[static_cast<long long>(i) * K + k];
      if (a == 0.0f) continue;
      for (int j = 0; j < N; ++j) C[static_cast<long long>(i) * N + j] += a * B[static_cast<long long>(k) * N + j];
    }
}

void MulMatByMatTrans(const float* A, const float* B, float* C, int M, int K, int N) {
  for (int i = 0; i < M; ++i)
    for (int j = 0; j < N; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < K; ++k) sum += A[static_cast<long long>(i) * K + k] * B[static_cast<long long>(j) * K + k];
      C[static_cast<long long>(i) * N + j] += sum;
    }
}

void MulMatByMatTransSkipZero(const float* A, const float* B, float* C, int M, int K, int N) {
  for (int j = 0; j < N; ++j)
    for (int k = 0; k < K; ++k) {
      const float b = B[static_cast<long long>(j) * K + k];
      if (b == 0.0f) continue;
      for (int i = 0; i < M; ++i) C[static_cast<long long>(i) * N + j] += A[static_cast<long long>(i) * K + k] * b;
    }
}

// The true transpose for every shape (square matrices come out as before;
// other shapes no longer read past the values).
float* Transposition(const float* values, int rows, int columns) {
  float* out = new float[static_cast<long long>(rows) * columns];
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j)
      out[static_cast<long long>(j) * rows + i] = values[static_cast<long long>(i) * columns + j];
  return out;
}

void SparseMulMatByMat(const crs_matrix* A, const float* B, float* C, int M, int, int N) {
  for (int i = 0; i < M && i < A->rows; ++i)
    for (int p = A->row_start[i]; p < A->row_start[i + 1]; ++p) {
      const float a = A->values[p];
      const float* b = B + static_cast<long long>(A->column_index[p]) * N;
      for (int j = 0; j < N; ++j) C[static_cast<long long>(i) * N + j] += a * b[j];
    }
}

void SparseMulMatByMat(const float* A, const crs_matrix* B, float* C, int M, int K, int N) {
  for (int i = 0; i < M; ++i)
    for (int j = 0; j < N && j < B->rows; ++j) {
      float sum = 0.0f;
      for (int p = B->row_start[j]; p < B->row_start[j + 1]; ++p)
        sum += A[static_cast<long long>(i) * K + B->column_index[p]] * B->values[p];
      C[static_cast<long long>(i) * N + j] += sum;
    }
}

void SparseMulMatByMat(const float* A, const ccs_matrix* B, float* C, int M, int K, int N) {
  for (int i = 0; i < M; ++i)
    for (int j = 0; j < N && j < B->columns; ++j) {
      float sum = 0.0f;
      for (int p = B->column_start[j]; p < B->column_start[j + 1]; ++p)
        sum += A[static_cast<long long>(i) * K + B->row_index[p]] * B->values[p];
      C[static_cast<long long>(i) * N + j] += sum;
    }
}

}  // namespace cnn
