// Single-precision matrix product with the CBLAS argument list.
#include <algorithm>
#include <opencv2/core.hpp>
#include <vector>

#include "dravn_export.h"
#include "opcv.h"
#include "tools.h"

namespace {

bool Transposed(int code) { return code == CblasTrans || code == CblasConjTrans; }

// Header over a row-major operand of rows x cols stored with `ld` floats per
// row; empty when the leading dimension is short.
cv::Mat RowMajor(const float* p, int rows, int cols, int ld) {
  if (ld < cols) return cv::Mat();
  return cv::Mat(rows, cols, CV_32F, const_cast<float*>(p), size_t(ld) * sizeof(float));
}

#if defined(__clang__)
#define PRODUCT_CLONES
#else
#define PRODUCT_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// sum[j] += a * row[j] in doubles: a float product is exact in a double, so
// the step is the same with or without a fused multiply-add.
PRODUCT_CLONES void AddScaledRow(double* __restrict sum, const float* __restrict row, double a, int n) {
  for (int j = 0; j < n; ++j) sum[j] += a * double(row[j]);
}

PRODUCT_CLONES void AddToFloats(float* __restrict c, const double* __restrict sum, int n) {
  for (int j = 0; j < n; ++j) c[j] = float(sum[j] + double(c[j]));
}

// Below this many rows of C, OpenCV's gemm sums each entry's products in
// doubles in the order of k and adds C once; from it on it may hand the
// product to the system's BLAS, which sums otherwise.
constexpr int kOwnSumRows = 100;

// C += A B (neither transposed, alpha and beta 1: the convolution layers'
// call) summed as OpenCV sums it for few rows, without its per-call set-up,
// which costs more than the work on the nets' small products.
void AddSmallProduct(int M, int N, int K, const float* A, int lda, const float* B, int ldb, float* C, int ldc) {
  // Columns a block at a time, so that the sums stay in the first-level cache.
  constexpr int kBlock = 512;
  std::vector<double> sum(size_t(std::min(N, kBlock)));
  for (int i = 0; i < M; ++i)
    for (int j0 = 0; j0 < N; j0 += kBlock) {
      const int n = std::min(kBlock, N - j0);
      std::fill(sum.begin(), sum.begin() + n, 0.0);
      for (int k = 0; k < K; ++k)
        AddScaledRow(sum.data(), B + ptrdiff_t(k) * ldb + j0, double(A[ptrdiff_t(i) * lda + k]), n);
      AddToFloats(C + ptrdiff_t(i) * ldc + j0, sum.data(), n);
    }
}

void RowMajorGemm(bool transA, bool transB, int M, int N, int K, float alpha, const float* A, int lda, const float* B,
                  int ldb, float beta, float* C, int ldc) {
  // A transposed operand is wrapped in its stored shape; gemm's flags turn it.
  const cv::Mat a = transA ? RowMajor(A, K, M, lda) : RowMajor(A, M, K, lda);
  const cv::Mat b = transB ? RowMajor(B, N, K, ldb) : RowMajor(B, K, N, ldb);
  cv::Mat c = RowMajor(C, M, N, ldc);
  if (a.empty() || b.empty() || c.empty()) return;
  // gemm sums a single column, and products of up to four terms, otherwise.
  if (!transA && !transB && alpha == 1.0f && beta == 1.0f && M < kOwnSumRows && N > 1 && K > 4) {
    AddSmallProduct(M, N, K, A, lda, B, ldb, C, ldc);
    return;
  }
  const int flags = (transA ? cv::GEMM_1_T : 0) | (transB ? cv::GEMM_2_T : 0);
  if (beta == 0.0f)
    cv::gemm(a, b, alpha, cv::noArray(), 0.0, c, flags);
  else
    cv::gemm(a, b, alpha, c, beta, c, flags);
}

}  // namespace

DRAVN_C_EXPORT void OPCV_cblas_sgemm(int order, int transA, int transB, int M, int N, int K, float alpha,
                                     const float* A, int lda, const float* B, int ldb, float beta, float* C, int ldc) {
  if (!A || !B || !C || M <= 0 || N <= 0 || K <= 0) return;
  Tools::Guard([&] {
    if (order == CblasRowMajor)
      RowMajorGemm(Transposed(transA), Transposed(transB), M, N, K, alpha, A, lda, B, ldb, beta, C, ldc);
    else if (order == CblasColMajor)  // C' = op(B)' op(A)' on the row-major views
      RowMajorGemm(Transposed(transB), Transposed(transA), N, M, K, alpha, B, ldb, A, lda, beta, C, ldc);
    return ippStsNoErr;
  });
}
