// Resize kernels with 11-bit fixed-point weights: exact integer results.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "vomb_mat.h"

namespace Vomb {

namespace {

constexpr int kOne = 2048;

int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }  // default mode: halves to even

int Clamp(int v, int size) { return std::min(std::max(v, 0), size - 1); }

struct Tap2 {
  int index[2];
  int weight[2];
};

std::vector<Tap2> BilinearTaps(int dsize, int ssize) {
  std::vector<Tap2> taps(dsize);
  const double scale = static_cast<double>(ssize) / dsize;
  for (int d = 0; d < dsize; ++d) {
    const float f = static_cast<float>((d + 0.5) * scale - 0.5);
    const int i = static_cast<int>(std::floor(f));
    const float t = f - i;
    taps[d] = {{Clamp(i, ssize), Clamp(i + 1, ssize)}, {RoundEven((1.0f - t) * kOne), RoundEven(t * kOne)}};
  }
  return taps;
}

struct Tap4 {
  int index[4];
  int weight[4];
};

std::vector<Tap4> BicubicTaps(int dsize, int ssize) {
  std::vector<Tap4> taps(dsize);
  const double scale = static_cast<double>(ssize) / dsize;
  for (int d = 0; d < dsize; ++d) {
    const float f = static_cast<float>((d + 0.5) * scale - 0.5);
    int i = static_cast<int>(std::floor(f));
    float t = f - i;
    if (i < 0) {
      i = 0;
      t = 0;
    }
    Tap4& tap = taps[d];
    if (i < ssize - 1) {
      const double u = t;
      const double wm1 = ((-0.75 * (1 + u) + 3.75) * (1 + u) - 6) * (1 + u) + 3;
      const double w0 = (1.25 * u - 2.25) * u * u + 1;
      const double w1 = (1.25 * (1 - u) - 2.25) * (1 - u) * (1 - u) + 1;
      const double w2 = 1 - wm1 - w0 - w1;
      const double w[4] = {wm1, w0, w1, w2};
      for (int k = 0; k < 4; ++k) {
        tap.index[k] = Clamp(i - 1 + k, ssize);
        tap.weight[k] = RoundEven(w[k] * kOne);
      }
    } else {
      tap = {{Clamp(ssize - 2, ssize), ssize - 1, ssize - 1, ssize - 1}, {0, kOne, 0, 0}};
    }
  }
  return taps;
}

}  // namespace

void ResizeImageBilinear(const unsigned char* src, int sw, int sh, int sstep, unsigned char* dst, int dw, int dh,
                         int dstep, int channels) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const std::vector<Tap2> xs = BilinearTaps(dw, sw), ys = BilinearTaps(dh, sh);
  for (int y = 0; y < dh; ++y) {
    const unsigned char* r0 = src + static_cast<long long>(ys[y].index[0]) * sstep;
    const unsigned char* r1 = src + static_cast<long long>(ys[y].index[1]) * sstep;
    const int b0 = ys[y].weight[0], b1 = ys[y].weight[1];
    unsigned char* out = dst + static_cast<long long>(y) * dstep;
    for (int x = 0; x < dw; ++x) {
      const int x0 = xs[x].index[0] * channels, x1 = xs[x].index[1] * channels;
      const int a0 = xs[x].weight[0], a1 = xs[x].weight[1];
      for (int c = 0; c < channels; ++c) {
        const int top = (a0 * r0[x0 + c] + a1 * r0[x1 + c]) >> 4;
        const int bottom = (a0 * r1[x0 + c] + a1 * r1[x1 + c]) >> 4;
        out[x * channels + c] = static_cast<unsigned char>((((b0 * top) >> 16) + ((b1 * bottom) >> 16) + 2) >> 2);
      }
    }
  }
}

void ResizeImageNearest(const unsigned char* src, int sw, int sh, int sstep, unsigned char* dst, int dw, int dh,
                        int dstep, int channels) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const double fx = 1.0 / (static_cast<double>(dw) / sw), fy = 1.0 / (static_cast<double>(dh) / sh);
  for (int y = 0; y < dh; ++y) {
    const unsigned char* row = src + static_cast<long long>(Clamp(static_cast<int>(std::floor(y * fy)), sh)) * sstep;
    unsigned char* out = dst + static_cast<long long>(y) * dstep;
    for (int x = 0; x < dw; ++x) {
      const int sx = Clamp(static_cast<int>(std::floor(x * fx)), sw);
      for (int c = 0; c < channels; ++c) out[x * channels + c] = row[sx * channels + c];
    }
  }
}

void ResizeImageBicubic(const unsigned char* src, int sw, int sh, int sstep, unsigned char* dst, int dw, int dh,
                        int dstep, int channels) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const std::vector<Tap4> xs = BicubicTaps(dw, sw), ys = BicubicTaps(dh, sh);
  for (int y = 0; y < dh; ++y) {
    unsigned char* out = dst + static_cast<long long>(y) * dstep;
    for (int x = 0; x < dw; ++x)
      for (int c = 0; c < channels; ++c) {
        int64_t sum = 0;
        for (int j = 0; j < 4; ++j) {
          const unsigned char* row = src + static_cast<long long>(ys[y].index[j]) * sstep;
          for (int i = 0; i < 4; ++i)
            sum += static_cast<int64_t>(ys[y].weight[j]) * xs[x].weight[i] * row[xs[x].index[i] * channels + c];
        }
        const int64_t v = (sum + (1 << 21)) >> 22;
        out[x * channels + c] = static_cast<unsigned char>(std::min<int64_t>(std::max<int64_t>(v, 0), 255));
      }
  }
}

void ResizeImage(const CMat<unsigned char>& source, CMat<unsigned char>& destination, CSize<int> size, int method) {
  if (destination.rows != size.height || destination.cols != size.width || destination.channels != source.channels)
    destination.Init(size.height, size.width, source.channels);
  auto kernel = method == RESIZE_BILINEAR  ? ResizeImageBilinear
                : method == RESIZE_NEAREST ? ResizeImageNearest
                : method == RESIZE_BICUBIC ? ResizeImageBicubic
                                           : nullptr;
  if (kernel)
    kernel(source.data, source.cols, source.rows, source.step, destination.data, size.width, size.height,
           destination.step, source.channels);
}

}  // namespace Vomb
