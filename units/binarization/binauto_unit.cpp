// Automatic binarization unit ("iDTC"): one 8-bit grey page to a one-bit
// black-and-white page. It binds libhelper.so and libopencv when loaded; the
// second backend calls it only while gInitialized is 1.
#include <cstdlib>
#include <cstring>

#include "I3ipImageInfo.h"
#include "dravn_export.h"
#include "dravn_paths.h"
#include "driver.h"
#include "helper_binding.h"
#include "i3ip_share.h"
#include "unit_log.h"

extern "C" {
DRAVN_EXPORT unsigned char gInitialized = 0;
}

namespace {

int gBinModeDefault;
int gCorParamDefault[kBinParams];
int gGaussLogFilterDefault[kBinKernel];
bool gDefaultsFilled;

constexpr const char* kProcess = "iDTC::Process";

}  // namespace

__attribute__((constructor)) int InitializeBinarization() {
  if (gInitialized == 1) return 0;
  I3LogInit();
  int rc = LoadI3HelperBinarization();
  if (rc != 0) return rc;
  rc = LoadI3ipShare(DRAVN_LIB_DIR "/libopencv.so");
  if (rc != 0) {
    UnloadI3Helper();
    return rc;
  }
  gInitialized = 1;
  return 0;
}

__attribute__((destructor)) int FinalizeBinarization() {
  if (gInitialized == 0) return 0;
  FreeI3ipShare();
  UnloadI3Helper();
  gInitialized = 0;
  return 0;
}

extern "C" DRAVN_EXPORT int I3ipIpunitProcess_BinAuto(I3ipImageInfo* in, I3ipImageInfo* out, int sensitivity,
                                                      int background, int noise) {
  // The unit owns the input pixels from here on, whatever it answers.
  // Every row the record names must lie within the DataSize bytes it hands over.
  if (!in || !out || in->Bpp != 8 || !in->Data || in->Bpl < in->Width ||
      uint64_t(in->Bpl) * in->Height > in->DataSize) {
    if (in) std::free(in->Data), in->Data = nullptr;
    return I3IP_ERR_ARGUMENT;
  }
  if (!gDefaultsFilled) {
    GetDeviceParam(&gBinModeDefault, gCorParamDefault, gGaussLogFilterDefault);
    gDefaultsFilled = true;
  }
  int params[kBinParams], kernel[kBinKernel], results[kBinResults] = {};
  std::memcpy(params, gCorParamDefault, sizeof params);
  std::memcpy(kernel, gGaussLogFilterDefault, sizeof kernel);
  params[3] = sensitivity;
  params[4] = background - 5;
  params[16] = in->Dpi;
  params[17] = noise != 1 ? 1 : 0;
  params[18] = 0;
  params[31] = 1;
  int mode = (gBinModeDefault & ~0x1D) | 1;
  if (params[5] > 0) mode |= 8;
  if (params[6] != 0) mode |= 0x10;

  const uint32_t width = in->Width, height = in->Height;
  I3ipImageInfo result{};
  result.Size = sizeof(I3ipImageInfo);
  result.Bpp = 1;
  result.Boundary = 1;
  result.Dpi = in->Dpi;
  result.Width = width;
  result.Height = height;
  result.Bpl = (width + 7) / 8;
  result.DataSize = height * result.Bpl;
  result.Data = static_cast<unsigned char*>(std::calloc(result.DataSize ? result.DataSize : 1, 1));
  unsigned char* pixels = in->Data;
  in->Data = nullptr;
  if (!result.Data) {
    std::free(pixels);
    return I3IP_ERR_MEMORY;
  }
  // The engine works on rows of exactly Width bytes, padded by the margin
  // only where the caller's buffer has room for it.
  const size_t padded = (size_t(width) + 6) * (size_t(height) + 6);
  const bool margin3 = in->MarginSize == 3 && in->Bpl == width && in->DataSize >= padded;
  if (in->Bpl != width)
    for (uint32_t y = 1; y < height; ++y) std::memmove(pixels + size_t(y) * width, pixels + size_t(y) * in->Bpl, width);

  I3Log(I3LOG_INFO, "%s GUIparam=[Sens=%3d Bkg=%3d Txt=%2d Connect=%d Noise=%2d][BGAna=%d] CopyMark=%4d[0:On 1:Off]",
        kProcess, sensitivity, background - 5, params[5], params[6], params[7], 0, 1);
  int rc = TBinary2(pixels, result.Data, int(height), int(width), margin3 ? 3 : 0, params, mode, results, kernel);
  std::free(pixels);
  if (rc != 0) {
    I3Log(I3LOG_ERROR, "%s TBinary2 (1st) rc=%d StaticThreshold=%3d", kProcess, rc, results[10]);
    // Nobody would own a failed page: it is released here.
    std::free(result.Data);
    result.Data = nullptr;
    *out = result;
    return I3IP_ERR_ENGINE;
  }
  I3Log(I3LOG_INFO, "%s TBinary2 (1st) rc=%d StaticThreshold=%3d", kProcess, rc, results[10]);
  *out = result;
  return I3IP_OK;
}
