// The staged libimgforge bound as the backends bind it, and small pages to
// hand its page filters.
#ifndef DRAVN_TESTS_IMGFORGE_FILTER_LIBRARY_H
#define DRAVN_TESTS_IMGFORGE_FILTER_LIBRARY_H

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"
#include "fsip_records.h"

namespace filters_test {

using ImageFilterFn = int(FSIP_S_IMAGEINFO*, FSIP_S_IMAGEFILTER*, FSIP_S_IMAGEINFO*, const void*);
using DropoutExFn = int(FSIP_S_IMAGEINFO*, FSIP_S_DROPOUTCOLOREX*, FSIP_S_IMAGEINFO*, const void*);
using DropoutFn = int(FSIP_S_IMAGEINFO*, FSIP_S_DROPOUTCOLOR*, FSIP_S_IMAGEINFO*, const void*);
using FourBitFn = int(FSIP_S_IMAGEINFO*, const uint32_t*, FSIP_S_IMAGEINFO*, const void*);
using BinarizationExFn = int(FSIP_S_IMAGEINFO*, FSIP_S_BINARIZATIONEX*, FSIP_S_IMAGEINFO*, void*);
using BinarizationFn = int(FSIP_S_IMAGEINFO*, FSIP_S_BINARIZATION*, FSIP_S_IMAGEINFO*, void*);
using SelectFn = int(FSIP_S_IMAGEINFO*, FSIP_S_SELECTEMPHA*, FSIP_S_IMAGEINFO*);
using GammaCalcFn = int(FSIP_S_GAMMACALC*);
using MakeLutFn = int(const FSIP_S_GAMMACURVE*, unsigned char*);
using CombineFn = int(FSIP_S_IMAGEINFO*, const char*, const unsigned char*, const unsigned char*);
using MergeFn = int(I3ipImageInfo*, I3ipImageInfo*, int, int, int, I3ipImageInfo*);

struct Library {
  void* handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  ~Library() {
    if (handle) dlclose(handle);
  }
  template <class F>
  F* Get(const char* name) const {
    return handle ? reinterpret_cast<F*>(dlsym(handle, name)) : nullptr;
  }
  ImageFilterFn* filter = Get<ImageFilterFn>("fsip_ImageFilter");
  DropoutExFn* dropoutEx = Get<DropoutExFn>("fsip_DropoutColorEx");
  DropoutFn* dropout = Get<DropoutFn>("fsip_DropoutColor");
  FourBitFn* fourBit = Get<FourBitFn>("fsip_4bitGray");
  BinarizationExFn* binarizeEx = Get<BinarizationExFn>("fsip_BinarizationEx");
  BinarizationFn* binarize = Get<BinarizationFn>("fsip_Binarization");
  BinarizationFn* binarizeExport = Get<BinarizationFn>("fsip_BinarizationExport");
  SelectFn* select = Get<SelectFn>("fsip_SelectEmphasize");
  GammaCalcFn* gammaCalc = Get<GammaCalcFn>("fsip_GammaCalculate");
  MakeLutFn* lutFront = Get<MakeLutFn>("Gam_MakeLUTFront");
  MakeLutFn* lutBack = Get<MakeLutFn>("Gam_MakeLUTBack");
  CombineFn* combine = Get<CombineFn>("Gam_CombineLUTProc");
  MergeFn* merge = Get<MergeFn>("MergeImage");
};

// A page and the record that describes it.
struct Page {
  std::vector<unsigned char> pixels;
  FSIP_S_IMAGEINFO info{};

  Page(int width, int height, int depth, int dpi = 300, int colorSeq = -1) {
    const int bpl = depth == 24 ? 3 * width : depth == 8 ? width : (width * depth + 7) / 8;
    pixels.assign(static_cast<size_t>(bpl) * height, 0);
    info.cbSize = sizeof info;
    info.pImageData = pixels.data();
    info.nPixelType = depth == 24 ? 2 : depth == 1 ? 0 : 1;
    info.nDepth = depth;
    info.nColorSeq = colorSeq >= 0 ? colorSeq : depth == 24 ? 1 : 0;
    info.nWidth = width;
    info.nHeight = height;
    info.nBytesPerLine = bpl;
    info.nImageSize = bpl * height;
    info.nXResolution = info.nYResolution = dpi;
  }
  Page(const Page& o) : pixels(o.pixels), info(o.info) { info.pImageData = pixels.data(); }
  Page& operator=(const Page& o) {
    pixels = o.pixels;
    info = o.info;
    info.pImageData = pixels.data();
    return *this;
  }
  unsigned char& at(int x, int y, int c = 0) {
    return pixels[static_cast<size_t>(y) * info.nBytesPerLine + x * (info.nDepth / 8) + c];
  }
  unsigned char at(int x, int y, int c = 0) const {
    return pixels[static_cast<size_t>(y) * info.nBytesPerLine + x * (info.nDepth / 8) + c];
  }
  void Fill(unsigned char v) { std::fill(pixels.begin(), pixels.end(), v); }
  void Random(unsigned seed, int lo = 0, int hi = 255) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    for (auto& p : pixels) p = static_cast<unsigned char>(d(gen));
  }
};

// One bit of a packed line: true where the pixel was judged light.
inline bool BitAt(const unsigned char* data, int bpl, int x, int y) {
  return data[static_cast<size_t>(y) * bpl + x / 8] & (0x80 >> (x % 8));
}

}  // namespace filters_test

#endif
