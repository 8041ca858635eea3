#include "second_backend.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "log.h"
#include "model_catalog.h"

namespace dravnmain {

bool g_bSecondBackendSupport = false;
void* g_hLibSecondBackend = nullptr;

SANE_Status (*g_sane_dravn2_init)(SANE_Int*, SANE_Auth_Callback) = nullptr;
SANE_Status (*g_sane_dravn2_get_devices)(const SANE_Device***, SANE_Bool) = nullptr;
SANE_Status (*g_sane_dravn2_open)(SANE_String_Const, SANE_Handle*) = nullptr;
const SANE_Option_Descriptor* (*g_sane_dravn2_get_option_descriptor)(SANE_Handle, SANE_Int) = nullptr;
SANE_Status (*g_sane_dravn2_control_option)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*) = nullptr;
SANE_Status (*g_sane_dravn2_get_parameters)(SANE_Handle, SANE_Parameters*) = nullptr;
SANE_Status (*g_sane_dravn2_start)(SANE_Handle) = nullptr;
SANE_Status (*g_sane_dravn2_read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*) = nullptr;
void (*g_sane_dravn2_cancel)(SANE_Handle) = nullptr;
void (*g_sane_dravn2_exit)() = nullptr;
void (*g_sane_dravn2_close)(SANE_Handle) = nullptr;
SANE_Status (*g_sane_dravn2_set_io_mode)(SANE_Handle, SANE_Bool) = nullptr;
SANE_Status (*g_sane_dravn2_get_select_fd)(SANE_Handle, SANE_Int*) = nullptr;
SANE_String_Const (*g_sane_dravn2_strstatus)(SANE_Status) = nullptr;

const char KELO_SECOND_BACKEND_NAME[] = "libsane-dravn2.so.1";
const char* const KELO_LIBPATH_LIST[8] = {"/usr/lib/",
                                          "/usr/local/lib/",
                                          "/usr/lib64/",
                                          "/usr/local/lib64/",
                                          "/usr/lib32/",
                                          "/usr/local/lib32/",
                                          "/usr/lib/i386-linux-gnu/",
                                          "/usr/lib/x86_64-linux-gnu/"};

namespace {

constexpr size_t kPathSize = 256;
const char* const kLoadTag = "LoadSecondBackendFunc";

template <typename F>
bool Bind(F* slot, const char* name) {
  void* sym = dlsym(g_hLibSecondBackend, name);
  if (!sym) {
    std::string text = std::string("failed to load ") + name;
    WriteLog(LOG_LEVEL_ERROR, kLoadTag, text.c_str());
    return false;
  }
  *slot = reinterpret_cast<F>(sym);
  return true;
}

}  // namespace

bool GetLibraryPath(const void* funcAddress, char* libPath) {
  if (!funcAddress || !libPath) {
    WriteLog(LOG_LEVEL_ERROR, "GetLibraryPath", "pFuncAddrss == NULL || cpLibPath == NULL");
    return false;
  }
  memset(libPath, 0, kPathSize);
  Dl_info info;
  if (dladdr(funcAddress, &info) == 0 || !info.dli_fname) {
    WriteLog(LOG_LEVEL_ERROR, "GetLibraryPath", "failed to get path by dladdr");
    return false;
  }
  const char* slash = strrchr(info.dli_fname, '/');
  // A bare file name gives no directory: the path list is searched instead.
  if (!slash) return false;
  size_t length = static_cast<size_t>(slash - info.dli_fname) + 1;
  // The file name must still fit behind the directory.
  if (length + sizeof KELO_SECOND_BACKEND_NAME > kPathSize) return false;
  memcpy(libPath, info.dli_fname, length);
  return true;
}

void* GetLibHandleFromOtherPath() {
  for (const char* dir : KELO_LIBPATH_LIST) {
    char path[kPathSize] = {};
    snprintf(path, sizeof path, "%s%s", dir, KELO_SECOND_BACKEND_NAME);
    if (void* handle = dlopen(path, RTLD_LAZY)) return handle;
  }
  WriteLog(LOG_LEVEL_ERROR, "GetLibHandleFromOtherPath", "GetLibHandleFromOtherPath failed.");
  return nullptr;
}

bool LoadSecondBackendFunc() {
  WriteLog(LOG_LEVEL_TRACE, kLoadTag, "start");
  char path[kPathSize];
  void* handle = nullptr;
  if (GetLibraryPath(reinterpret_cast<const void*>(&LoadSecondBackendFunc), path)) {
    strcat(path, KELO_SECOND_BACKEND_NAME);
    handle = dlopen(path, RTLD_LAZY);
  }
  if (!handle) handle = GetLibHandleFromOtherPath();
  g_hLibSecondBackend = handle;
  if (!handle) {
    WriteLog(LOG_LEVEL_ERROR, kLoadTag, "dll open failed");
    return false;
  }
  if (!Bind(&g_sane_dravn2_init, "sane_dravn2_init") || !Bind(&g_sane_dravn2_get_devices, "sane_dravn2_get_devices") ||
      !Bind(&g_sane_dravn2_open, "sane_dravn2_open") ||
      !Bind(&g_sane_dravn2_get_option_descriptor, "sane_dravn2_get_option_descriptor") ||
      !Bind(&g_sane_dravn2_control_option, "sane_dravn2_control_option") ||
      !Bind(&g_sane_dravn2_get_parameters, "sane_dravn2_get_parameters") ||
      !Bind(&g_sane_dravn2_start, "sane_dravn2_start") || !Bind(&g_sane_dravn2_read, "sane_dravn2_read") ||
      !Bind(&g_sane_dravn2_cancel, "sane_dravn2_cancel") || !Bind(&g_sane_dravn2_exit, "sane_dravn2_exit") ||
      !Bind(&g_sane_dravn2_close, "sane_dravn2_close") ||
      !Bind(&g_sane_dravn2_set_io_mode, "sane_dravn2_set_io_mode") ||
      !Bind(&g_sane_dravn2_get_select_fd, "sane_dravn2_get_select_fd") ||
      !Bind(&g_sane_dravn2_strstatus, "sane_dravn2_strstatus"))
    return false;
  WriteLog(LOG_LEVEL_TRACE, kLoadTag, "end");
  return true;
}

void UnLoadSecondBackendFunc() {
  if (g_hLibSecondBackend) {
    dlclose(g_hLibSecondBackend);
    g_hLibSecondBackend = nullptr;
  }
  // Nothing may call into the closed library: the pointers go with it.
  g_bSecondBackendSupport = false;
  g_sane_dravn2_init = nullptr;
  g_sane_dravn2_get_devices = nullptr;
  g_sane_dravn2_open = nullptr;
  g_sane_dravn2_get_option_descriptor = nullptr;
  g_sane_dravn2_control_option = nullptr;
  g_sane_dravn2_get_parameters = nullptr;
  g_sane_dravn2_start = nullptr;
  g_sane_dravn2_read = nullptr;
  g_sane_dravn2_cancel = nullptr;
  g_sane_dravn2_exit = nullptr;
  g_sane_dravn2_close = nullptr;
  g_sane_dravn2_set_io_mode = nullptr;
  g_sane_dravn2_get_select_fd = nullptr;
  g_sane_dravn2_strstatus = nullptr;
}

bool IsSecondBackendProduct(unsigned int productId) {
  for (const auto* family : {&dravn::kSelkoModels[0], &dravn::kSelko2Models[0]})
    for (int i = 0; i < 3; ++i)
      if (static_cast<unsigned>(family[i].productId) == productId) return true;
  return static_cast<unsigned>(dravn::kBrennaModels[0].productId) == productId;
}

}  // namespace dravnmain
