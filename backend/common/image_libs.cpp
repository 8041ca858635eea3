#include "image_libs.h"

#include <dlfcn.h>

#include <string>

#include "jpeg_decode.h"
#include "log.h"

void* g_hLibKeloImage = nullptr;
BPD_FUNCTION g_BPDFunction = nullptr;
FSIPCTL_FUNCTION g_FSIPCTLFucntion = nullptr;
FSIPIMAGEFILTER_FUNCTION g_FSIPIMAGEFILTERFunction = nullptr;
FSIP_DROPOUTCOLOREX_FUNCTION g_FSIP_DROPOUTCOLOREXFunction = nullptr;
FSIP_FREESINCOS_FUNCTION g_FSIP_FREESINCOS = nullptr;
MERGEIMAGE_FUNCTION g_MergeImageFunction = nullptr;

void* g_hLibToneflat = nullptr;
BGSMOOTHING_FUNCTION g_BGSmoothingFunction = nullptr;
unsigned char* g_pToneflatInitialized = nullptr;

void* g_hLibRotation = nullptr;
SPLIT_FUNCTION g_SplitFunction = nullptr;

void* g_hLibTurnsense3 = nullptr;
unsigned char* g_pTurnsense3Initialized = nullptr;
TURNSENSE_FUNCTION g_TurnsenseFunction = nullptr;

void* g_hLibBinarization = nullptr;
unsigned char* g_pBinarizationInitialized = nullptr;
BINAUTO_FUNCTION g_BinAutoFunction = nullptr;

namespace {

std::string LibPath(const char* libDir, const char* file) {
  return std::string(libDir ? libDir : DRAVN_LIB_DIR) + "/" + file;
}

// Looks one entry up; a miss leaves the slot null and logs the message.
template <typename T>
bool Bind(void* handle, const char* name, T& slot, const char* function, int level, const char* missing) {
  slot = reinterpret_cast<T>(dlsym(handle, name));
  if (slot) return true;
  WriteLog(level, function, missing);
  return false;
}

// Opens a unit library; the loader's own failure line is dlerror's text.
void* OpenUnit(const char* libDir, const char* file, const char* function) {
  void* handle = dlopen(LibPath(libDir, file).c_str(), RTLD_LAZY | DRAVN_RTLD_DEEPBIND);
  if (!handle) {
    const char* why = dlerror();
    WriteLog(LOG_LEVEL_ERROR, function, why ? why : "dlopen failed");
  }
  return handle;
}

void Close(void*& handle) {
  if (handle) dlclose(handle);
  handle = nullptr;
}

}  // namespace

void LoadLibFunc(const char* libDir, bool traceOnly) {
  CLogScope scope("LoadLibFunc");
  // The main backend reports every miss as a trace line; the second backend
  // reports most of them as errors.
  auto level = [traceOnly](int usual) { return traceOnly ? LOG_LEVEL_TRACE : usual; };
  UnLoadLibFunc();
  g_hLibKeloImage = dlopen(LibPath(libDir, "libimgforge.so").c_str(), RTLD_LAZY);
  if (!g_hLibKeloImage) {
    WriteLog(level(LOG_LEVEL_ERROR), "LoadLibFunc", "dll open failed");
    return;
  }
  void* h = g_hLibKeloImage;
  Bind(h, "P2iJugWhitePaper", g_BPDFunction, "LoadLibFunc", level(LOG_LEVEL_ERROR), "BPD load failed");
  Bind(h, "fsip_control", g_FSIPCTLFucntion, "LoadLibFunc", level(LOG_LEVEL_ERROR), "fsipctl load failed");
  Bind(h, "fsip_ImageFilter", g_FSIPIMAGEFILTERFunction, "LoadLibFunc", LOG_LEVEL_TRACE, "fsipimagefilter load failed");
  Bind(h, "fsip_DropoutColorEx", g_FSIP_DROPOUTCOLOREXFunction, "LoadLibFunc", level(LOG_LEVEL_ERROR),
       "fsip_DropoutColorEx load failed");
  Bind(h, "fsip_FreeSinCos", g_FSIP_FREESINCOS, "LoadLibFunc", level(LOG_LEVEL_ERROR), "fsip_FreeSinCos load failed");
  Bind(h, "MergeImage", g_MergeImageFunction, "LoadLibFunc", level(LOG_LEVEL_ERROR), "MergeImage load failed");
}

bool LoadLibToneflat(const char* libDir) {
  CLogScope scope("LoadLibToneflat");
  UnLoadLibToneflat();
  g_hLibToneflat = OpenUnit(libDir, "libtoneflat.so", "LoadLibToneflat");
  if (g_hLibToneflat) g_pToneflatInitialized = static_cast<unsigned char*>(dlsym(g_hLibToneflat, "gInitialized"));
  return g_hLibToneflat && Bind(g_hLibToneflat, "I3ipIpunitProcess_BGSmoothing", g_BGSmoothingFunction,
                                "LoadLibToneflat", LOG_LEVEL_ERROR, "I3ipIpunitProcess_BGSmoothing load failed");
}

bool LoadLibRotation(const char* libDir) {
  CLogScope scope("LoadLibRotation");
  UnLoadLibRotation();
  g_hLibRotation = OpenUnit(libDir, "librotation.so", "LoadLibRotation");
  return g_hLibRotation && Bind(g_hLibRotation, "I3ipIpunitProcess_Split", g_SplitFunction, "LoadLibRotation",
                                LOG_LEVEL_ERROR, "I3ipIpunitProcess_Split load failed");
}

bool LoadI3ipOrientation3(const char* libDir) {
  CLogScope scope("LoadI3ipOrientation3");
  UnLoadI3ipOrientation3();
  g_hLibTurnsense3 = OpenUnit(libDir, "libturnsense3.so", "LoadI3ipOrientation3");
  return g_hLibTurnsense3 &&
         Bind(g_hLibTurnsense3, "gInitialized", g_pTurnsense3Initialized, "LoadI3ipOrientation3", LOG_LEVEL_ERROR,
              "failed to load gInitialized") &&
         Bind(g_hLibTurnsense3, "I3ipIpunitProcess_Turnsense", g_TurnsenseFunction, "LoadI3ipOrientation3",
              LOG_LEVEL_ERROR, "failed to load I3ipIpunitProcess_Turnsense");
}

bool LoadI3ipBinarization(const char* libDir) {
  CLogScope scope("LoadI3ipBinarization");
  UnLoadI3ipBinarization();
  g_hLibBinarization = OpenUnit(libDir, "libbinarization.so", "LoadI3ipBinarization");
  return g_hLibBinarization &&
         Bind(g_hLibBinarization, "gInitialized", g_pBinarizationInitialized, "LoadI3ipBinarization", LOG_LEVEL_ERROR,
              "failed to load gInitialized") &&
         Bind(g_hLibBinarization, "I3ipIpunitProcess_BinAuto", g_BinAutoFunction, "LoadI3ipBinarization",
              LOG_LEVEL_ERROR, "I3ipIpunitProcess_BinAuto load failed");
}

// Every unload forgets the entries too, so that nothing tests or calls a
// pointer into a library that is gone.
void UnLoadLibFunc() {
  Close(g_hLibKeloImage);
  g_BPDFunction = nullptr;
  g_FSIPCTLFucntion = nullptr;
  g_FSIPIMAGEFILTERFunction = nullptr;
  g_FSIP_DROPOUTCOLOREXFunction = nullptr;
  g_FSIP_FREESINCOS = nullptr;
  g_MergeImageFunction = nullptr;
}

void UnLoadLibToneflat() {
  Close(g_hLibToneflat);
  g_BGSmoothingFunction = nullptr;
  g_pToneflatInitialized = nullptr;
}

bool IsBinarizationReady() {
  return g_BinAutoFunction && g_pBinarizationInitialized && *g_pBinarizationInitialized == 1;
}

bool IsToneflatReady() { return g_BGSmoothingFunction && (!g_pToneflatInitialized || *g_pToneflatInitialized == 1); }

void UnLoadLibRotation() {
  Close(g_hLibRotation);
  g_SplitFunction = nullptr;
}

void UnLoadI3ipOrientation3() {
  Close(g_hLibTurnsense3);
  g_pTurnsense3Initialized = nullptr;
  g_TurnsenseFunction = nullptr;
}

void UnLoadI3ipBinarization() {
  Close(g_hLibBinarization);
  g_pBinarizationInitialized = nullptr;
  g_BinAutoFunction = nullptr;
}

SANE_Status LoadImageLibraries(const char* libDir) {
  g_bLibjpeg = LoadLibjpeg8(libDir);
  if (!g_bLibjpeg) return SANE_STATUS_IO_ERROR;
  LoadLibFunc(libDir);  // libimgforge only offers features
  if (!LoadLibToneflat(libDir)) return SANE_STATUS_IO_ERROR;
  if (!LoadLibRotation(libDir)) return SANE_STATUS_IO_ERROR;
  if (!LoadI3ipOrientation3(libDir)) return SANE_STATUS_IO_ERROR;
  if (!LoadI3ipBinarization(libDir)) return SANE_STATUS_IO_ERROR;
  return SANE_STATUS_GOOD;
}

void UnLoadImageLibraries() {
  UnLoadLibFunc();
  UnLoadLibjpeg8();
  g_bLibjpeg = false;
  UnLoadLibToneflat();
  UnLoadLibRotation();
  UnLoadI3ipOrientation3();
  UnLoadI3ipBinarization();
}
