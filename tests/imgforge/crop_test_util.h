// What the crop tests share: the staged library's entries, the control
// layer's records and callback as it fills them, and the test pages.
#ifndef DRAVN_TESTS_IMGFORGE_CROP_TEST_UTIL_H
#define DRAVN_TESTS_IMGFORGE_CROP_TEST_UTIL_H

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dravn_paths.h"
#include "fsip_records.h"
#include "test_pages.h"

namespace crop_test {

using CropAllFn = int(const FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_CRPALL*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*,
                      void*, int*);
using CropAll2Fn = int(const FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_CRPALL2*, FSIP_S_IMAGEINFO_EX*,
                       FSIP_CRP_S_DUAL_LAYOUT*, void*, int*);
using SpecifiedFn = int(const FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_SPECIFIEDAREA_CRP*, FSIP_S_IMAGEINFO_EX*, void*,
                        void*);
using AiqcFn = int(const FSIP_S_IMAGEINFO_EX*, const FSIP_CRP_S_AIQC*, void*, void*);

struct Library {
  void* handle = dlopen(DRAVN_LIB_DIR "/libimgforge.so", RTLD_NOW | RTLD_LOCAL);
  CropAllFn* cropAll = Get<CropAllFn>("FsipCrp_CropAll");
  CropAll2Fn* cropAll2 = Get<CropAll2Fn>("FsipCrp_CropAll2");
  SpecifiedFn* specified = Get<SpecifiedFn>("FsipCrp_SpecifiedAreaCrop");
  AiqcFn* aiqc = Get<AiqcFn>("FsipCrp_AIQC");
  ~Library() {
    if (handle) dlclose(handle);
  }
  template <class F>
  F* Get(const char* name) {
    return handle ? reinterpret_cast<F*>(dlsym(handle, name)) : nullptr;
  }
  bool Ok() const { return cropAll && cropAll2 && specified && aiqc; }
};

// The control layer's 266-byte identity tone block.
inline std::vector<unsigned char> ToneBlock() {
  std::vector<unsigned char> b = {0, 0, 0x10, 0, 1, 0, 1, 0, 0, 0};
  for (int i = 0; i < 256; ++i) b.push_back(static_cast<unsigned char>(i));
  return b;
}

// The control layer's callback with its default row rule; what it was
// asked and gave is kept for the tests.
struct Notify {
  int calls = 0;
  int answer = 0;        // non-zero: refuse
  int widen = 0;         // pixels added to the width
  int shrinkBytes = 0;   // bytes taken off each row (a faulty callback)
  bool dirty = false;    // hand over a buffer that is not zeroed
  alignas(8) FSIP_S_IMAGEINFO_EX asked{};
};

inline int NotifyOutImgInfo(FSIP_S_IMAGEINFO_EX* out, void* user) {
  auto* n = static_cast<Notify*>(user);
  ++n->calls;
  n->asked = *out;
  out->nWidth += n->widen;
  out->nBytesPerLine = (out->nWidth * out->nDepth + 7) / 8 - n->shrinkBytes;
  const int64_t size = static_cast<int64_t>(out->nBytesPerLine) * out->nHeight;
  if (size > out->nImageSize) out->nImageSize = static_cast<int32_t>(size);
  out->pImageData = static_cast<unsigned char*>(calloc(static_cast<size_t>(out->nImageSize) + 1, 1));
  if (out->pImageData && n->dirty) memset(out->pImageData, 0x55, static_cast<size_t>(out->nImageSize));
  if (n->answer) return n->answer;
  return out->pImageData ? 0 : -1;
}

// A page and the records that describe it.
struct Input {
  dravn_pages::BackedPage page;
  std::vector<uint8_t> pixels;
  alignas(8) FSIP_S_IMAGEINFO_EX info{};
};

inline Input MakeInput(const dravn_pages::BackedPageSpec& spec, bool mono = false) {
  Input in;
  in.page = dravn_pages::RenderBackedPage(spec);
  const auto& img = in.page.image;
  int depth = img.channels * 8, bpl = img.width * img.channels;
  if (mono) {
    in.pixels = dravn_pages::PackMono(img);
    depth = 1;
    bpl = (img.width + 7) / 8;
  } else {
    in.pixels = img.pixels;
  }
  FSIP_S_IMAGEINFO_EX& f = in.info;
  f.cbSize = 76;
  f.pImageData = in.pixels.data();
  f.nPixelType = depth == 1 ? 0 : (depth == 8 ? 1 : 2);
  f.nDepth = depth;
  f.nColorSeq = depth == 24 ? 1 : 0;
  f.nWidth = img.width;
  f.nHeight = img.height;
  f.nBytesPerLine = bpl;
  f.nImageSize = bpl * img.height;
  f.nXResolution = f.nYResolution = spec.dpi;
  return in;
}

// Where a white-backing page's leading edge passes a device's top-edge
// sensor (half the width plus the row's correction, in mm), as the over-scan
// value of a white-background crop record: 0.1 mm from the top. A device
// whose image the engine searches upside down leads with the bottom edge,
// measured from the bottom row.
inline int16_t LeadingEdgeOvs(const Input& in, double xCorrMm, bool fromBottom = false) {
  const int dpi = in.info.nXResolution;
  const double sx = in.info.nWidth / 2.0 + xCorrMm * dpi / 25.4;
  const double* a = in.page.corners[fromBottom ? 2 : 0];
  const double* b = in.page.corners[fromBottom ? 3 : 1];
  const double row = a[1] + (b[1] - a[1]) * (sx - a[0]) / (b[0] - a[0]);
  return static_cast<int16_t>((fromBottom ? in.info.nHeight - row : row) * 254 / in.info.nYResolution);
}

inline FSIP_CRP_S_CRPALL CropRecord(const std::vector<unsigned char>& tone, int adf = 1) {
  alignas(8) FSIP_CRP_S_CRPALL r{};
  r.cbSize = 88;
  r.dwHoleRemoveType = 0xFFFFFF;
  r.bADF = adf;
  r.wFBCropSearchWidth = 0xFFFF;
  r.wFBCropIgnoreLength = 0xFFFF;
  r.wBlackBkThreshold = 64;
  r.NotifyOutImgInfo = NotifyOutImgInfo;
  r.byTransferDataType = 0x83;
  r.pbySendData = const_cast<unsigned char*>(tone.data());
  return r;
}

// Frees the output buffer the callback gave.
struct Output {
  alignas(8) FSIP_S_IMAGEINFO_EX info{};
  ~Output() { free(info.pImageData); }
  // Mean of channel values over a rectangle of the output.
  double Mean(int x0, int y0, int x1, int y1) const {
    const int px = info.nDepth / 8;
    double s = 0;
    long n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        for (int c = 0; c < px; ++c, ++n) s += info.pImageData[static_cast<size_t>(y) * info.nBytesPerLine + x * px + c];
    return n ? s / n : 0;
  }
};

}  // namespace crop_test

#endif
