#include "i3ip_share.h"

#include <dlfcn.h>

#include "dravn_paths.h"

I3ipShareBinding g_i3ipShare;

namespace {

template <typename F>
bool Find(void* handle, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(handle, name));
  return fn != nullptr;
}

}  // namespace

int LoadI3ipShare(const char* path) {
  I3ipShareBinding b;
  b.handle = dlopen(path, RTLD_NOW | DRAVN_RTLD_DEEPBIND);
  if (!b.handle) return 55;
  const bool all = Find(b.handle, "IPPShare_ippiConvert_8u16s_C1R", b.Convert_8u16s_C1R) &&
                   Find(b.handle, "IPPShare_ippiDilate_8u_C1R", b.Dilate_8u_C1R) &&
                   Find(b.handle, "IPPShare_ippiErode_8u_C1R", b.Erode_8u_C1R) &&
                   Find(b.handle, "IPPShare_ippiFilter_16s_C1R", b.Filter_16s_C1R) &&
                   Find(b.handle, "IPPShare_ippiFilter_8u_C1R", b.Filter_8u_C1R) &&
                   Find(b.handle, "IPPShare_ippiFilterMedian_8u_C1R", b.FilterMedian_8u_C1R) &&
                   Find(b.handle, "IPPShare_ippiFilterMedianCross_8u_C1R", b.FilterMedianCross_8u_C1R) &&
                   Find(b.handle, "IPPShare_ippiFilterMedianWeightedCenter3x3_8u_C1R",
                        b.FilterMedianWeightedCenter3x3_8u_C1R) &&
                   Find(b.handle, "OPCV_ippiResizeSqrPixel_8u_C1R", b.ResizeSqrPixel_8u_C1R) &&
                   Find(b.handle, "IPPShare_ippiSet_8u_C1R", b.Set_8u_C1R) &&
                   Find(b.handle, "IPPShare_ippiThreshold_LTVal_16s_C1IR", b.Threshold_LTVal_16s_C1IR) &&
                   Find(b.handle, "IPPShare_ippiThreshold_LTVal_8u_C1IR", b.Threshold_LTVal_8u_C1IR);
  if (!all) {
    dlclose(b.handle);
    return 55;
  }
  b.Malloc_8u = dlsym(b.handle, "IPPShare_ippsMalloc_8u");
  b.Free = dlsym(b.handle, "IPPShare_ippiFree");
  g_i3ipShare = b;
  return 0;
}

void FreeI3ipShare() {
  if (g_i3ipShare.handle) dlclose(g_i3ipShare.handle);
  g_i3ipShare = I3ipShareBinding{};
}
