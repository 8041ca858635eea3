#include "helper_binding.h"

#include <dlfcn.h>

#include "dravn_paths.h"
#include "unit_log.h"

I3HelperBinding g_i3Helper;

namespace {

template <typename F>
bool Find(void* handle, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(handle, name));
  if (!fn) I3Log(I3LOG_ERROR, "LoadI3Helper %s not found", name);
  return fn != nullptr;
}

}  // namespace

int LoadI3Helper(const char* path, int missingCode) {
  I3HelperBinding b;
  b.handle = dlopen(path, RTLD_NOW | DRAVN_RTLD_DEEPBIND);
  if (!b.handle) {
    const char* why = dlerror();
    I3Log(I3LOG_ERROR, "LoadI3Helper %s", why ? why : path);
    return kI3HelperLoadFailed;
  }
  // In the order the units have always looked them up.
  if (!Find(b.handle, "i3Helper_SumFilter8u", b.SumFilter8u) || !Find(b.handle, "i3Helper_BinarizeTo8u", b.BinarizeTo8u) ||
      !Find(b.handle, "i3Helper_BinarizeTo8uCombined", b.BinarizeTo8uCombined) ||
      !Find(b.handle, "i3Helper_GetEdgeThreshold16s8u", b.GetEdgeThreshold16s8u) ||
      !Find(b.handle, "i3Helper_GetEdgeThreshold8u8u", b.GetEdgeThreshold8u8u) ||
      !Find(b.handle, "i3Helper_SumFilter8u16s", b.SumFilter8u16s) || !Find(b.handle, "i3Helper_InitIPP", b.InitIPP) ||
      !Find(b.handle, "i3Helper_FreeIPP", b.FreeIPP)) {
    dlclose(b.handle);
    return missingCode;
  }
  g_i3Helper = b;
  if (b.InitIPP() == 0) {
    I3Log(I3LOG_ERROR, "LoadI3Helper i3Helper_InitIPP failed");
    return kI3HelperInitFailed;
  }
  return kI3HelperOk;
}

int LoadI3HelperBinarization() {
  return LoadI3Helper(DRAVN_LIB_DIR "/libhelper.so", kI3HelperEntryMissingBinarization);
}

void UnloadI3Helper() {
  if (!g_i3Helper.handle) return;
  if (g_i3Helper.FreeIPP) g_i3Helper.FreeIPP();
  dlclose(g_i3Helper.handle);
  g_i3Helper = I3HelperBinding{};
}
