// The record targets' side of a unit library: loaded from the staged
// library folder as the backends load it, its entries bound by name.
#ifndef DRAVN_FUZZ_RECORD_SUPPORT_H
#define DRAVN_FUZZ_RECORD_SUPPORT_H

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "fuzz_support.h"

namespace fuzz {

inline void* LoadUnit(const char* file) {
  const std::string path = std::string(DRAVN_LIB_DIR) + "/" + file;
  void* h = dlopen(path.c_str(), RTLD_NOW);
  if (!h) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    std::abort();
  }
  return h;
}

template <class F>
F Bind(void* handle, const char* name) {
  void* p = dlsym(handle, name);
  if (!p) {
    std::fprintf(stderr, "no entry %s\n", name);
    std::abort();
  }
  return reinterpret_cast<F>(p);
}

// Binds `name` of the staged library `file`.
template <class F>
F BindUnit(const char* file, const char* name) {
  return Bind<F>(LoadUnit(file), name);
}

// A unit's page record taken from the input: mostly of depth `bpp`,
// geometry and dpi from the input, DataSize mostly what the geometry asks
// for. Data is left to the caller.
inline I3ipImageInfo TakeRecord(Input& in, uint8_t bpp, bool withMargin) {
  I3ipImageInfo page{};
  page.Size = sizeof page;
  page.Bpp = in.Pick(2) ? bpp : in.Take<uint8_t>();
  if (withMargin) page.MarginSize = in.Take<uint8_t>() & 3;
  page.Dpi = in.Take<uint16_t>();
  page.Width = in.Take<uint8_t>();
  page.Height = in.Take<uint8_t>();
  page.Bpl = page.Width * (bpp / 8) + (in.Take<uint8_t>() & 7);
  const uint16_t sizeField = in.Take<uint16_t>();
  page.DataSize = (sizeField & 1) ? sizeField >> 1 : page.Height * page.Bpl;
  return page;
}

// Fills `size` bytes with the rest of the input, repeated (`blank` when none is left).
inline void FillPixels(const Input& in, unsigned char* data, size_t size, unsigned char blank = 0) {
  for (size_t i = 0; i < size; ++i) data[i] = in.RestSize() ? in.Rest()[i % in.RestSize()] : blank;
}

}  // namespace fuzz

#endif
