// Kernels against direct references; the small matrix and its resize kernels.
#include <gtest/gtest.h>

#include <random>

#include "cnn_kernels.h"
#include "vomb_mat.h"

namespace {

std::vector<float> Random(size_t n, unsigned seed, float zeroShare = 0.0f) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f), coin(0.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = coin(gen) < zeroShare ? 0.0f : value(gen);
  return v;
}

void ExpectNear(const std::vector<float>& a, const std::vector<float>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], 1e-4f) << i;
}

TEST(CnnKernels, ImageToColTimesWeightsIsDirectConvolution) {
  struct Case {
    int c, h, w, pl, pr, pt, pb, kh, kw, sh, sw, f;
  } cases[] = {{2, 7, 9, 1, 1, 1, 1, 3, 3, 1, 1, 3}, {3, 8, 5, 0, 2, 1, 0, 2, 3, 2, 1, 2},
               {1, 6, 6, 0, 0, 0, 0, 6, 6, 1, 1, 4}, {2, 7, 10, 2, 1, 0, 1, 3, 4, 1, 3, 2},
               {1, 3, 2, 2, 2, 1, 1, 3, 5, 1, 1, 1}, {1, 4, 9, 3, 3, 0, 0, 1, 2, 1, 4, 1}};
  for (const Case& k : cases) {
    const int oh = (k.h + k.pt + k.pb - k.kh) / k.sh + 1, ow = (k.w + k.pl + k.pr - k.kw) / k.sw + 1;
    const std::vector<float> in = Random(static_cast<size_t>(k.c) * k.h * k.w, 1);
    const std::vector<float> weights = Random(static_cast<size_t>(k.f) * k.c * k.kh * k.kw, 2);
    std::vector<float> columns(static_cast<size_t>(k.c) * k.kh * k.kw * oh * ow, 7.0f);
    cnn::ImageToCol(in.data(), columns.data(), k.c, k.h, k.w, k.pl, k.pr, k.pt, k.pb, k.kh, k.kw, k.sh, k.sw);
    std::vector<float> viaColumns(static_cast<size_t>(k.f) * oh * ow, 0.0f);
    gIPPShare_cblas_sgemm(101, 111, 111, k.f, oh * ow, k.c * k.kh * k.kw, 1.0f, weights.data(), k.c * k.kh * k.kw,
                          columns.data(), oh * ow, 1.0f, viaColumns.data(), oh * ow);
    std::vector<float> direct(viaColumns.size(), 0.0f);
    for (int f = 0; f < k.f; ++f)
      for (int oy = 0; oy < oh; ++oy)
        for (int ox = 0; ox < ow; ++ox) {
          float sum = 0;
          for (int ch = 0; ch < k.c; ++ch)
            for (int ky = 0; ky < k.kh; ++ky)
              for (int kx = 0; kx < k.kw; ++kx) {
                const int y = oy * k.sh + ky - k.pt, x = ox * k.sw + kx - k.pl;
                if (y < 0 || y >= k.h || x < 0 || x >= k.w) continue;
                sum += weights[((f * k.c + ch) * k.kh + ky) * k.kw + kx] * in[(ch * k.h + y) * k.w + x];
              }
          direct[(f * oh + oy) * ow + ox] = sum;
        }
    ExpectNear(viaColumns, direct);
  }
}

TEST(CnnKernels, PoolingClipsToThePlane) {
  // 1 x 5 row, window 2 stride 2 rounding up: the last window holds one column.
  const float row[5] = {1, 4, 2, 8, -3};
  float out[3];
  cnn::MaxPooling(row, out, 1, 5, 1, 3, 0, 0, 1, 2, 1, 2);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{4, 8, -3}));
  cnn::AveragePooling(row, out, 1, 5, 1, 3, 0, 0, 1, 2, 1, 2);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{2.5f, 5, -3}));
  // Window 3 with padding 1: the first window has two pixels in the plane.
  cnn::AveragePooling(row, out, 1, 5, 1, 3, 1, 0, 1, 3, 1, 2);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{2.5f, 14.0f / 3, 2.5f}));
}

TEST(CnnKernels, SparseEqualsDense) {
  const int M = 5, K = 7, N = 4;
  const std::vector<float> A = Random(M * K, 3, 0.6f), B = Random(K * N, 4, 0.5f), Bt = Random(N * K, 5, 0.5f);
  const std::vector<float> C0 = Random(M * N, 6);
  std::vector<float> dense = C0, skip = C0, sparse = C0;
  cnn::MulMatByMat(A.data(), B.data(), dense.data(), M, K, N);
  cnn::MulMatByMatSkipZero(A.data(), B.data(), skip.data(), M, K, N);
  crs_matrix* a = crs_matrix_create(A.data(), M, K);
  cnn::SparseMulMatByMat(a, B.data(), sparse.data(), M, K, N);
  ExpectNear(skip, dense);
  ExpectNear(sparse, dense);
  std::vector<float> viaColumns = C0;
  ccs_matrix* b = ccs_matrix_create(B.data(), K, N);
  cnn::SparseMulMatByMat(A.data(), b, viaColumns.data(), M, K, N);
  ExpectNear(viaColumns, dense);

  std::vector<float> trans = C0, transSkip = C0, transSparse = C0;
  cnn::MulMatByMatTrans(A.data(), Bt.data(), trans.data(), M, K, N);
  cnn::MulMatByMatTransSkipZero(A.data(), Bt.data(), transSkip.data(), M, K, N);
  crs_matrix* bt = crs_matrix_create(Bt.data(), N, K);
  cnn::SparseMulMatByMat(A.data(), bt, transSparse.data(), M, K, N);
  ExpectNear(transSkip, trans);
  ExpectNear(transSparse, trans);
  EXPECT_EQ(a->row_start[M], static_cast<int>(M * K - std::count(A.begin(), A.end(), 0.0f)));
  crs_matrix_free(a);
  crs_matrix_free(bt);
  ccs_matrix_free(b);
}

TEST(CnnKernels, SparseFlagAndEmptyMatrices) {
  const std::vector<float> zeros(12, 0.0f), full = Random(12, 8), one{0, 0, 0, 5};
  crs_matrix* z = crs_matrix_create(zeros.data(), 3, 4);  // no stored value: flag 0, no division
  ccs_matrix* zc = ccs_matrix_create(zeros.data(), 3, 4);
  crs_matrix* f = crs_matrix_create(full.data(), 3, 4);
  crs_matrix* o = crs_matrix_create(one.data(), 2, 2);
  EXPECT_EQ(z->sparse, 0);
  EXPECT_EQ(zc->sparse, 0);
  EXPECT_EQ(f->sparse, 0);
  EXPECT_EQ(o->sparse, 1);
  crs_matrix_free(z);
  ccs_matrix_free(zc);
  crs_matrix_free(f);
  crs_matrix_free(o);
}

TEST(CnnKernels, TranspositionOfAnyShape) {
  const std::vector<float> m{1, 2, 3, 4, 5, 6};  // 2 x 3
  float* t = cnn::Transposition(m.data(), 2, 3);
  EXPECT_EQ(std::vector<float>(t, t + 6), (std::vector<float>{1, 4, 2, 5, 3, 6}));
  delete[] t;
}

TEST(VombMat, ViewsAndCounts) {
  Vomb::CMat<unsigned char> a(4, 6, 1);
  EXPECT_EQ(*a.refcount, 1);
  a = a;
  EXPECT_EQ(*a.refcount, 1);
  {
    Vomb::CMat<unsigned char> b = a;
    Vomb::CMat<unsigned char> roi(a, 2, 1, 3, 2);
    EXPECT_EQ(*a.refcount, 3);
    roi.data[0] = 9;
    EXPECT_EQ(a.Row(1)[2], 9);
    EXPECT_EQ(roi.step, 6);
    b.Release();
    EXPECT_EQ(*a.refcount, 2);
    EXPECT_EQ(b.data, nullptr);
  }
  EXPECT_EQ(*a.refcount, 1);
  Vomb::CMat<unsigned char> clone = Vomb::CMat<unsigned char>(a, 1, 1, 3, 2).Clone();
  EXPECT_NE(clone.buffer, a.buffer);
  EXPECT_EQ(clone.step, 3);
  EXPECT_EQ(clone.Row(0)[1], 9);
  unsigned char foreign[4] = {1, 2, 3, 4};
  {
    Vomb::CMat<unsigned char> view(2, 2, 1, 2, foreign);
    EXPECT_EQ(view.refcount, nullptr);
    EXPECT_DOUBLE_EQ(view.Mean()[0], 2.5);
    Vomb::CMat<float> f;
    view.ConvertTo(f, 2.0, -1.0);
    EXPECT_EQ(f.Row(1)[1], 7.0f);
  }
  EXPECT_EQ(foreign[3], 4);  // a foreign view frees nothing
  Vomb::CMat<unsigned char> bad;
  EXPECT_THROW(bad.Init(-1, 3, 1), std::bad_array_new_length);
}

std::vector<int> Resized(std::vector<unsigned char> row, int width, int method) {
  Vomb::CMat<unsigned char> src(1, static_cast<int>(row.size()), 1, static_cast<int>(row.size()), row.data());
  Vomb::CMat<unsigned char> dst;
  Vomb::ResizeImage(src, dst, Vomb::CSize<int>(width, 1), method);
  return std::vector<int>(dst.data, dst.data + width);
}

TEST(VombResize, HandComputedCases) {
  EXPECT_EQ(Resized({10, 50}, 4, 0), (std::vector<int>{10, 20, 40, 50}));
  EXPECT_EQ(Resized({7, 8, 9, 10}, 2, 1), (std::vector<int>{7, 9}));
  EXPECT_EQ(Resized({0, 200}, 4, 2), (std::vector<int>{0, 45, 155, 200}));
  EXPECT_EQ(Resized({3, 90, 17}, 3, 2), (std::vector<int>{3, 90, 17}));
  EXPECT_EQ(Resized({3, 90, 17}, 3, 0), (std::vector<int>{3, 90, 17}));
  // Bicubic overshoot is clamped to the byte range.
  const std::vector<int> steep = Resized({0, 0, 255, 255}, 8, 2);
  EXPECT_EQ(steep.front(), 0);
  EXPECT_EQ(steep.back(), 255);
  // Another method value leaves the destination as allocated.
  EXPECT_EQ(Resized({5, 6}, 3, 7), (std::vector<int>{0, 0, 0}));
}

TEST(VombResize, TwoDimensionsAndChannels) {
  // 2 x 2 grey to 4 x 4 bilinear: corners keep their values, rows interpolate like the 1-D case.
  unsigned char px[4] = {10, 50, 90, 130};
  Vomb::CMat<unsigned char> src(2, 2, 1, 2, px);
  Vomb::CMat<unsigned char> dst;
  Vomb::ResizeImage(src, dst, Vomb::CSize<int>(4, 4), 0);
  EXPECT_EQ(dst.Row(0)[0], 10);
  EXPECT_EQ(dst.Row(0)[3], 50);
  EXPECT_EQ(dst.Row(3)[0], 90);
  EXPECT_EQ(dst.Row(3)[3], 130);
  EXPECT_EQ(dst.Row(1)[1], 40);  // 0.75/0.25 in both axes: 10 .75.75 + 50 .75.25 + 90 .25.75 + 130 .25.25
  // Channels stay interleaved and separate.
  unsigned char rgb[6] = {0, 100, 200, 40, 140, 240};
  Vomb::CMat<unsigned char> c3(1, 2, 3, 6, rgb);
  Vomb::CMat<unsigned char> out;
  Vomb::ResizeImage(c3, out, Vomb::CSize<int>(4, 1), 0);
  EXPECT_EQ(out.channels, 3);
  EXPECT_EQ((std::vector<int>{out.data[3], out.data[4], out.data[5]}), (std::vector<int>{10, 110, 210}));
}

}  // namespace
