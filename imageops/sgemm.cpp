// Single-precision matrix product with the CBLAS argument list.
#include <opencv2/core.hpp>

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

void RowMajorGemm(bool transA, bool transB, int M, int N, int K, float alpha, const float* A, int lda, const float* B,
                  int ldb, float beta, float* C, int ldc) {
  // A transposed operand is wrapped in its stored shape; gemm's flags turn it.
  const cv::Mat a = transA ? RowMajor(A, K, M, lda) : RowMajor(A, M, K, lda);
  const cv::Mat b = transB ? RowMajor(B, N, K, ldb) : RowMajor(B, K, N, ldb);
  cv::Mat c = RowMajor(C, M, N, ldc);
  if (a.empty() || b.empty() || c.empty()) return;
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
