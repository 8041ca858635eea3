// The front end's small reference-counted matrix and its resize routines.
#ifndef DRAVN_VOMB_MAT_H
#define DRAVN_VOMB_MAT_H

#include <cstring>
#include <new>
#include <vector>

namespace Vomb {

template <class T>
struct CSize {
  T width = 0, height = 0;
  CSize() = default;
  CSize(T w, T h) : width(w), height(h) {}
};

enum ResizeMethod { RESIZE_BILINEAR = 0, RESIZE_NEAREST = 1, RESIZE_BICUBIC = 2 };

template <class T>
class CMat {
 public:
  int rows = 0, cols = 0, channels = 0, step = 0;
  T* data = nullptr;
  T* buffer = nullptr;
  int* refcount = nullptr;

  CMat() = default;
  CMat(int r, int c, int ch) { Init(r, c, ch); }
  // A view over memory the matrix does not own: it frees nothing.
  CMat(int r, int c, int ch, int stepElems, T* foreign)
      : rows(r), cols(c), channels(ch), step(stepElems), data(foreign) {}
  CMat(const CMat& other) { *this = other; }
  // A rectangle of another matrix, sharing its allocation.
  CMat(const CMat& other, int x, int y, int width, int height) {
    *this = other;
    data = other.data + static_cast<long long>(y) * other.step + static_cast<long long>(x) * other.channels;
    rows = height;
    cols = width;
  }
  ~CMat() { Release(); }

  void Init(int r, int c, int ch) {
    Release();
    if (r < 0 || c < 0 || ch < 0) throw std::bad_array_new_length();
    buffer = new T[static_cast<size_t>(r) * c * ch]();
    refcount = new int(1);
    data = buffer;
    rows = r;
    cols = c;
    channels = ch;
    step = c * ch;
  }

  void Release() {
    if (refcount && --*refcount == 0) {
      delete[] buffer;
      delete refcount;
    }
    rows = cols = channels = step = 0;
    data = buffer = nullptr;
    refcount = nullptr;
  }

  CMat& operator=(const CMat& other) {
    if (this == &other) return *this;
    if (other.refcount) ++*other.refcount;
    Release();
    rows = other.rows;
    cols = other.cols;
    channels = other.channels;
    step = other.step;
    data = other.data;
    buffer = other.buffer;
    refcount = other.refcount;
    return *this;
  }

  T* Row(int y) const { return data + static_cast<long long>(y) * step; }

  CMat Clone() const {
    CMat copy(rows, cols, channels);
    for (int y = 0; y < rows; ++y) std::memcpy(copy.Row(y), Row(y), sizeof(T) * cols * channels);
    return copy;
  }

  void CopyToROI(CMat& destination) const {
    for (int y = 0; y < rows; ++y) std::memcpy(destination.Row(y), Row(y), sizeof(T) * cols * channels);
  }

  std::vector<double> Mean() const {
    std::vector<double> mean(channels, 0.0);
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < cols; ++x)
        for (int c = 0; c < channels; ++c) mean[c] += Row(y)[x * channels + c];
    const double count = static_cast<double>(rows) * cols;
    if (count > 0)
      for (double& m : mean) m /= count;
    return mean;
  }

  void ConvertTo(CMat<float>& destination, double scale, double offset) const {
    if (destination.rows != rows || destination.cols != cols || destination.channels != channels)
      destination.Init(rows, cols, channels);
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < cols * channels; ++x) destination.Row(y)[x] = static_cast<float>(Row(y)[x] * scale + offset);
  }
};

void ResizeImageBilinear(const unsigned char* src, int sw, int sh, int sstep, unsigned char* dst, int dw, int dh,
                         int dstep, int channels);
void ResizeImageNearest(const unsigned char* src, int sw, int sh, int sstep, unsigned char* dst, int dw, int dh,
                        int dstep, int channels);
void ResizeImageBicubic(const unsigned char* src, int sw, int sh, int sstep, unsigned char* dst, int dw, int dh,
                        int dstep, int channels);
void ResizeImage(const CMat<unsigned char>& source, CMat<unsigned char>& destination, CSize<int> size, int method);

}  // namespace Vomb

#endif
