// The image operations library loaded as its units load it, and fenced
// buffers that show what an entry read and wrote.
#ifndef DRAVN_TESTS_IMAGEOPS_UTIL_H
#define DRAVN_TESTS_IMAGEOPS_UTIL_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dravn_paths.h"
#include "opcv.h"

namespace imageops_test {

class Library {
 public:
  Library() : m_handle(dlopen(DRAVN_LIB_DIR "/libopencv.so", RTLD_NOW | DRAVN_RTLD_DEEPBIND)) {}
  ~Library() {
    if (m_handle) dlclose(m_handle);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  void* handle() const { return m_handle; }
  void* Find(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

 private:
  void* m_handle;
};

inline Library& Lib() {
  static Library lib;
  return lib;
}

// Binds an entry by name with the type of its declaration.
#define OPCV(name) (reinterpret_cast<decltype(&::name)>(imageops_test::Bound(#name)))
inline void* Bound(const char* name) {
  void* p = Lib().Find(name);
  if (!p) ADD_FAILURE() << "missing " << name;
  return p;
}

inline std::mt19937& Rng() {
  static std::mt19937 rng(24);
  return rng;
}

// A w x h image of `cell`-byte pixels placed `fence` pixels inside a larger
// buffer whose rows are `extra` bytes wider still. The pixels of the image
// are random; everything around them holds `fill`, so a read outside shows
// in the result and a write outside shows in Fence().
class Fenced {
 public:
  Fenced(int w, int h, int cell, int fence = 6, int extra = 13, int fill = -1)
      : m_w(w),
        m_h(h),
        m_cell(cell),
        m_fence(fence),
        m_step((w + 2 * fence) * cell + extra * (cell % 2 ? 1 : 2)),
        m_bytes(size_t(m_step) * (h + 2 * fence)) {
    for (size_t i = 0; i < m_bytes.size(); ++i)
      m_bytes[i] = fill >= 0 ? uint8_t(fill) : uint8_t((i * 37) & 1 ? 0 : 255);
    std::uniform_int_distribution<int> d(0, 255);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * cell; ++x) Row(y)[x] = uint8_t(d(Rng()));
  }
  int step() const { return m_step; }
  uint8_t* Row(int y) { return m_bytes.data() + size_t(y + m_fence) * m_step + size_t(m_fence) * m_cell; }
  const uint8_t* Row(int y) const { return m_bytes.data() + size_t(y + m_fence) * m_step + size_t(m_fence) * m_cell; }
  // Pixel (x, y) relative to the image, which may lie at an offset inside
  // an area; byte b of the pixel.
  uint8_t* At(int x, int y) { return Row(y) + size_t(x) * m_cell; }
  template <class T>
  T Get(int x, int y, int c = 0) const {
    T v;
    std::memcpy(&v, Row(y) + size_t(x) * m_cell + c * sizeof(T), sizeof(T));
    return v;
  }
  // Everything outside the image, as it stands now.
  std::vector<uint8_t> Fence() const {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < m_bytes.size(); ++i) {
      const long row = long(i / m_step) - m_fence, col = long(i % m_step) - long(m_fence) * m_cell;
      if (row < 0 || row >= m_h || col < 0 || col >= long(m_w) * m_cell) out.push_back(m_bytes[i]);
    }
    return out;
  }
  std::vector<uint8_t>& bytes() { return m_bytes; }

 private:
  int m_w, m_h, m_cell, m_fence, m_step;
  std::vector<uint8_t> m_bytes;
};

// Runs `body` in a child process and returns its exit status (128 + signal
// when it died): for calls that must survive what they provoke.
int InChild(const std::function<int()>& body);

}  // namespace imageops_test

#endif
