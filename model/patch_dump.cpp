// Patch dump for the model training: runs rendered pages through the
// orientation driver, built from the unit's own code, and writes every
// window that the classifier front end is given (exactly as NormalizeTest
// cuts it, less its own minimum) and every strip that the text detector is
// given. The training then sees what the unit sees.
//
//   patch_dump <dic_DL folder> <page list> <out file>
//
// The page list holds one "<pgm file> <dpi>" per line; pages are 8-bit
// grey, as the unit hands them to the driver. The classifier and the
// detector are reached through the linker's --wrap, so the shipped code
// runs unchanged and answers with the engines of the folder given.
#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cnn_kernels.h"
#include "dravn_paths.h"
#include "helper_binding.h"
#include "i3ip_share.h"
#include "line_scorers.h"
#include "orient_driver.h"

namespace {

FILE* g_out = nullptr;
int32_t g_page = 0;
int g_orientation = 0;  // of the line the scorer cut last
OcrEngine g_engine;

void Put(const void* p, size_t n) { std::fwrite(p, 1, n, g_out); }
template <class T>
void PutValue(T v) {
  Put(&v, sizeof v);
}

// The windows NormalizeTest gives for this call, each written as bytes:
// value - smallest value, which is the window's pixels less their minimum.
void DumpWindows(CnnEngine* engine, unsigned char* page, int width, int height, tagRECT rect, int offset, int windows,
                 const float* squeeze) {
  if (!page || rect.left < 0 || rect.top < 0 || rect.left > rect.right || rect.top > rect.bottom ||
      rect.right >= width || rect.bottom >= height)
    return;
  const int rows = int(rect.bottom - rect.top + 1), cols = int(rect.right - rect.left + 1);
  Vomb::CMat<unsigned char> view(rows, cols, 1, width, page + int(rect.left) + int64_t(width) * rect.top);
  const Vomb::CSize<int> input(engine->width, engine->height);
  const std::vector<Vomb::CMat<float>> cut = squeeze ? NormalizeTest_Squeezeimage(view, input, windows, offset, *squeeze)
                                                     : NormalizeTest(view, input, windows, offset);
  const int8_t pair = engine == g_engine.script1 ? 1 : 2;
  for (const Vomb::CMat<float>& w : cut) {
    float lo = 1e9f;
    for (int y = 0; y < w.rows; ++y)
      for (int x = 0; x < w.cols; ++x) lo = std::min(lo, w.Row(y)[x]);
    PutValue<int32_t>(g_page);
    PutValue<int8_t>(0);
    PutValue<int8_t>(pair);
    PutValue<int8_t>(int8_t(g_orientation));
    PutValue<int8_t>(squeeze ? 1 : 0);
    PutValue<int16_t>(int16_t(w.cols));
    PutValue<int16_t>(int16_t(w.rows));
    for (int y = 0; y < w.rows; ++y)
      for (int x = 0; x < w.cols; ++x) PutValue<uint8_t>(uint8_t(std::lround(std::min(255.0f, w.Row(y)[x] - lo))));
  }
}

bool ReadPgm(const std::string& path, int& w, int& h, std::vector<uint8_t>& pixels) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  f >> magic >> w >> h >> maxval;
  f.get();
  if (magic != "P5" || w <= 0 || h <= 0 || maxval != 255) return false;
  pixels.resize(size_t(w) * h);
  f.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size()));
  return bool(f);
}

}  // namespace

// Wrapped entries: record, then hand on to the shipped code.
int __real__Z26VOMBCNN_script_orientationP9CnnEngineS0_Phii7tagRECTRiS3_Rfii(CnnEngine*, CnnEngine*, unsigned char*,
                                                                               int, int, tagRECT, int&, int&, float&,
                                                                               int, int) asm("__real__Z26VOMBCNN_script_orientationP9CnnEngineS0_Phii7tagRECTRiS3_Rfii");
int __real__Z39VOMBCNN_script_orientation_squeezeimageP9CnnEngineS0_Phii7tagRECTRiS3_Rfiif(
    CnnEngine*, CnnEngine*, unsigned char*, int, int, tagRECT, int&, int&, float&, int, int,
    float) asm("__real__Z39VOMBCNN_script_orientation_squeezeimageP9CnnEngineS0_Phii7tagRECTRiS3_Rfiif");
int __real__ZN9turnsense7ImgCropERPhRiS2_PKhiiNS_7tagRECTEi(uint8_t*&, int&, int&, const uint8_t*, int, int, tagRECT,
                                                             int) asm("__real__ZN9turnsense7ImgCropERPhRiS2_PKhiiNS_7tagRECTEi");
WINDOWRESULT* __real__Z13TextDetectionP16STRONGCLASSIFIERPhiiRiRf(STRONGCLASSIFIER*, unsigned char*, int, int, int&,
                                                                   float&) asm("__real__Z13TextDetectionP16STRONGCLASSIFIERPhiiRiRf");

extern "C" {
int __wrap__Z26VOMBCNN_script_orientationP9CnnEngineS0_Phii7tagRECTRiS3_Rfii(CnnEngine* e, CnnEngine* r,
                                                                               unsigned char* page, int width,
                                                                               int height, tagRECT rect, int& category,
                                                                               int& direction, float& confidence,
                                                                               int offset, int windows) {
  DumpWindows(e, page, width, height, rect, offset, windows, nullptr);
  return __real__Z26VOMBCNN_script_orientationP9CnnEngineS0_Phii7tagRECTRiS3_Rfii(
      e, r, page, width, height, rect, category, direction, confidence, offset, windows);
}
int __wrap__Z39VOMBCNN_script_orientation_squeezeimageP9CnnEngineS0_Phii7tagRECTRiS3_Rfiif(
    CnnEngine* e, CnnEngine* r, unsigned char* page, int width, int height, tagRECT rect, int& category,
    int& direction, float& confidence, int offset, int windows, float squeeze) {
  DumpWindows(e, page, width, height, rect, offset, windows, &squeeze);
  return __real__Z39VOMBCNN_script_orientation_squeezeimageP9CnnEngineS0_Phii7tagRECTRiS3_Rfiif(
      e, r, page, width, height, rect, category, direction, confidence, offset, windows, squeeze);
}
int __wrap__ZN9turnsense7ImgCropERPhRiS2_PKhiiNS_7tagRECTEi(uint8_t*& crop, int& cw, int& ch, const uint8_t* grey,
                                                             int width, int height, tagRECT rect, int orientation) {
  g_orientation = orientation;
  return __real__ZN9turnsense7ImgCropERPhRiS2_PKhiiNS_7tagRECTEi(crop, cw, ch, grey, width, height, rect,
                                                                  orientation);
}
WINDOWRESULT* __wrap__Z13TextDetectionP16STRONGCLASSIFIERPhiiRiRf(STRONGCLASSIFIER* d, unsigned char* grey, int width,
                                                                   int height, int& count, float& contrast) {
  if (grey && width > 0 && height > 0 && width < 32768) {
    PutValue<int32_t>(g_page);
    PutValue<int8_t>(1);
    PutValue<int8_t>(0);
    PutValue<int8_t>(0);
    PutValue<int8_t>(0);
    PutValue<int16_t>(int16_t(width));
    PutValue<int16_t>(int16_t(height));
    Put(grey, size_t(width) * height);
  }
  return __real__Z13TextDetectionP16STRONGCLASSIFIERPhiiRiRf(d, grey, width, height, count, contrast);
}
}

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: patch_dump <dic_DL folder> <page list> <out file>\n");
    return 2;
  }
  if (LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so") || LoadI3Helper(DRAVN_LIB_DIR "/libhelper.so", 129)) {
    std::fprintf(stderr, "cannot bind the staged libopencv.so and libhelper.so\n");
    return 1;
  }
  gIPPShare_cblas_sgemm = reinterpret_cast<SgemmFn>(dlsym(g_i3ipShare.handle, "OPCV_cblas_sgemm"));
  std::string first = std::string(argv[1]) + "/engine2", second = std::string(argv[1]) + "/engine2_2";
  try {
    g_engine.detector1 = TDInit(first.data());
    g_engine.detector2 = TDInit(second.data());
    g_engine.script1 = VOMBCNN_Init(first.c_str(), "%s/model/model.txt");
    g_engine.rotation1 = VOMBCNN_Init(first.c_str(), "%s/model/rotate_model.txt");
    g_engine.script2 = VOMBCNN_Init(second.c_str(), "%s/model/model.txt");
    g_engine.rotation2 = VOMBCNN_Init(second.c_str(), "%s/model/rotate_model.txt");
  } catch (int code) {
    std::fprintf(stderr, "engines of %s do not load (%d)\n", argv[1], code);
    return 1;
  }
  if (!g_engine.detector1 || !g_engine.detector2) return 1;
  g_out = std::fopen(argv[3], "wb");
  if (!g_out) return 1;
  std::ifstream list(argv[2]);
  std::string line;
  for (g_page = 0; std::getline(list, line); ++g_page) {
    std::istringstream fields(line);
    std::string path;
    int dpi = 0;
    fields >> path >> dpi;
    int w = 0, h = 0;
    std::vector<uint8_t> pixels;
    if (!ReadPgm(path, w, h, pixels)) {
      std::fprintf(stderr, "%s: not an 8-bit PGM\n", path.c_str());
      return 1;
    }
    AD_OUTPUT out{};
    auto_orientation_Pavix_v2(&g_engine, pixels.data(), nullptr, w, h, w, dpi, out, nullptr, nullptr, 0);
  }
  std::fclose(g_out);
  TDRelease(g_engine.detector1);
  TDRelease(g_engine.detector2);
  for (CnnEngine* e : {g_engine.script1, g_engine.rotation1, g_engine.script2, g_engine.rotation2}) VOMBCNN_Release(e);
  UnloadI3Helper();
  FreeI3ipShare();
  return 0;
}
