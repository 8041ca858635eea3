// Orientation unit: which quarter turn a scanned page side is in. The
// library builds its engine from the model folders beside it and binds
// libhelper.so and libopencv when loaded; the second backend calls the entry
// only while gInitialized is 1, and turns the page itself.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "I3ipImageInfo.h"
#include "cnn_kernels.h"
#include "color_smoothing.h"
#include "dravn_export.h"
#include "fsip_records.h"
#include "helper_binding.h"
#include "i3ip_share.h"
#include "orient_driver.h"
#include "dravn_paths.h"
#include "page_blocks.h"
#include "page_rows.h"
#include "unit_log.h"
#include "unit_profile.h"

extern "C" {
DRAVN_EXPORT unsigned char gInitialized = 0;
DRAVN_EXPORT int gTD1_Card_mode = 1;
DRAVN_EXPORT int gSmoothingFlag = 0;
DRAVN_EXPORT int gccth = 0;
DRAVN_EXPORT int gpastmode = 0;
}

namespace {

enum : int {
  kOk = 0,
  kSkip = 1,
  kNoMemory = 34,
  kInvalid = 36,
  kInitFailed = 53,
  kLoadFailed = 55,
  kInvalidFile = 129,
  kSmoothingRefused = 2049,
};

constexpr const char* kLoadTag = "Turnsense3::LoadOcrEngine";
constexpr const char* kInitTag = "Turnsense3::init_engine";
constexpr const char* kCleanUpTag = "Turnsense3::CleanUp";
constexpr const char* kEntryTag = "Turnsense3::I3ipIpunitProcess_Turnsense";

OcrEngine* gOcrEngine = nullptr;
char gMyPath_Turnsense3[256];

// The primitives this unit needs beyond the binarization engine's twelve.
decltype(&IPPShare_ippiFilterMedian_8u_C3R) g_pfnFilterMedianC3 = nullptr;

void release_engine(OcrEngine* engine) {
  if (!engine) return;
  TDRelease(engine->detector1);
  TDRelease(engine->detector2);
  VOMBCNN_Release(engine->script1);
  VOMBCNN_Release(engine->rotation1);
  VOMBCNN_Release(engine->script2);
  VOMBCNN_Release(engine->rotation2);
  delete engine;
}

STRONGCLASSIFIER* td_init(const char* directory) { return TDInit(const_cast<char*>(directory)); }

// Null when a part is missing or broken. Whatever the classifier or the
// detector throws (55 for a missing model or weight file, bad_alloc,
// a bad array length) is left to the caller, which releases what was built.
OcrEngine* init_engine(const char* first, const char* second) {
  std::unique_ptr<OcrEngine, void (*)(OcrEngine*)> engine(new OcrEngine, release_engine);
  engine->detector1 = td_init(first);
  engine->detector2 = td_init(second);
  if (!engine->detector1 || !engine->detector2) {
    I3Log(I3LOG_ERROR, "%s Initialize Failed ( td_init )", kInitTag);
    return nullptr;
  }
  engine->script1 = VOMBCNN_Init(first, "%s/model/model.txt");
  engine->rotation1 = VOMBCNN_Init(first, "%s/model/rotate_model.txt");
  engine->script2 = VOMBCNN_Init(second, "%s/model/model.txt");
  engine->rotation2 = VOMBCNN_Init(second, "%s/model/rotate_model.txt");
  if (!engine->script1 || !engine->rotation1 || !engine->script2 || !engine->rotation2 ||
      VOMBCNN_CheckRotation(engine->script1, engine->rotation1) != 0 ||
      VOMBCNN_CheckRotation(engine->script2, engine->rotation2) != 0) {
    I3Log(I3LOG_ERROR, "%s Initialize Failed ( VOMBCNN_Init ) ", kInitTag);
    return nullptr;
  }
  return engine.release();
}

// The directory of this library's own file; false when there is none or it
// does not fit the path buffer.
bool ModuleDirectory(char* dir, size_t size) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) || !info.dli_fname) return false;
  const char* slash = std::strrchr(info.dli_fname, '/');
  if (!slash) return false;
  const size_t n = size_t(slash - info.dli_fname);
  if (n >= size) return false;
  std::memcpy(dir, info.dli_fname, n);
  dir[n] = '\0';
  return true;
}

// A formatted path that would be cut names another file: refused.
bool FormatPath(char* out, size_t size, const char* format, const char* dir) {
  const int n = std::snprintf(out, size, format, dir);
  return n >= 0 && size_t(n) < size;
}

int LoadOcrEngine() {
  if (gOcrEngine) return kOk;
  I3Log(I3LOG_TRACE, "%s start", kLoadTag);
  char first[256], second[256];
  if (!ModuleDirectory(gMyPath_Turnsense3, sizeof gMyPath_Turnsense3) ||
      !FormatPath(first, sizeof first, "%s/dic_DL/engine2", gMyPath_Turnsense3) ||
      !FormatPath(second, sizeof second, "%s/dic_DL/engine2_2", gMyPath_Turnsense3)) {
    I3Log(I3LOG_ERROR, "%s Initialize Failed ( path )", kLoadTag);
    return kInitFailed;
  }
  gOcrEngine = init_engine(first, second);
  I3Log(I3LOG_TRACE, "%s end", kLoadTag);
  return gOcrEngine ? kOk : kInitFailed;
}

void ReleaseOcrEngine() {
  release_engine(gOcrEngine);
  gOcrEngine = nullptr;
}

void FreeI3Helper() { UnloadI3Helper(); }

void UnbindI3ipShare() {
  FreeI3ipShare();
  gIPPShare_cblas_sgemm = nullptr;
  g_pfnFilterMedianC3 = nullptr;
  colorsmooth::g_pfnFilterMedianColor = nullptr;
}

// libopencv beside this library: the binarization engine's twelve
// primitives, the two colour medians and the matrix product.
int LoadI3ipShareTurnsense(const char* dir) {
  char path[256];
  if (!FormatPath(path, sizeof path, "%s/libopencv.so", dir)) return kLoadFailed;
  if (LoadI3ipShare(path) != 0) return kLoadFailed;
  void* h = g_i3ipShare.handle;
  g_pfnFilterMedianC3 = reinterpret_cast<decltype(g_pfnFilterMedianC3)>(dlsym(h, "IPPShare_ippiFilterMedian_8u_C3R"));
  colorsmooth::g_pfnFilterMedianColor = reinterpret_cast<decltype(colorsmooth::g_pfnFilterMedianColor)>(
      dlsym(h, "IPPShare_ippiFilterMedianColor_8u_C3R"));
  gIPPShare_cblas_sgemm = reinterpret_cast<SgemmFn>(dlsym(h, "OPCV_cblas_sgemm"));
  if (!g_pfnFilterMedianC3 || !colorsmooth::g_pfnFilterMedianColor || !gIPPShare_cblas_sgemm) {
    UnbindI3ipShare();
    return kLoadFailed;
  }
  return kOk;
}

int InitializeUnguarded() {
  I3LogInitFrom(DRAVN_ETC_DIR "/I3ipTurnsense3.ini", DRAVN_LOG_DIR "/", "I3ipTurnsense3.log");
  char dir[256];
  if (!ModuleDirectory(dir, sizeof dir)) return kInitFailed;
  // The network multiplies through libopencv's product: libopencv is bound
  // before the engine is built.
  int rc = LoadI3ipShareTurnsense(dir);
  if (rc != kOk) return rc;
  rc = LoadOcrEngine();
  if (rc != kOk) {
    UnbindI3ipShare();
    return rc;
  }
  char helper[256];
  if (!FormatPath(helper, sizeof helper, "%s/libhelper.so", dir)) rc = kLoadFailed;
  if (rc == kOk) rc = LoadI3Helper(helper, kI3HelperEntryMissingOrientation);
  if (rc != kOk) {
    // A refused initialisation leaves libhelper.so open, as the
    // binarization unit does; a missing name or file has closed it.
    ReleaseOcrEngine();
    UnbindI3ipShare();
    return rc;
  }
  gInitialized = 1;
  return kOk;
}

}  // namespace

// Nothing may leave a load-time constructor: the host would end inside
// dlopen. A failure undoes what was bound and leaves the unit not ready.
__attribute__((constructor)) int InitializeTurnsense() {
  turnsense::g_ccth = &gccth;
  if (gInitialized) return kOk;
  int rc;
  try {
    rc = InitializeUnguarded();
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "%s bad memory allocation", kLoadTag);
    rc = kNoMemory;
  } catch (...) {
    I3Log(I3LOG_ERROR, "%s Initialize Failed ( exception )", kLoadTag);
    rc = kInitFailed;
  }
  if (rc != kOk) {
    ReleaseOcrEngine();
    UnbindI3ipShare();
    if (rc != kInitFailed) FreeI3Helper();  // after a refused InitIPP the helper stays open
    gInitialized = 0;
  }
  return rc;
}

__attribute__((destructor)) int FinalizeTurnsense() {
  if (!gInitialized) return 0;
  ReleaseOcrEngine();
  UnbindI3ipShare();
  FreeI3Helper();
  turnsense::ReleasePageBlocks();
  gInitialized = 0;
  return 0;
}

namespace {

// A page record of the unit's own: its buffer lives and dies with it.
struct Image {
  I3ipImageInfo info{};
  ~Image() { std::free(info.Data); }
  void Reset(unsigned char* data) {
    std::free(info.Data);
    info.Data = data;
  }
};

// Whether the caller's rows can be read: a depth of 8 or 24 bits, rows of
// at least a row of pixels, and an image size, when given, that holds every
// row; and a copy whose size a record can hold.
bool Readable(const _P2IIMG& page) {
  const int depth = page.nBitsPerPixel;
  if ((depth != 8 && depth != 24) || !page.pImageData || page.nWidth <= 0 || page.nHeight <= 0) return false;
  const size_t w = size_t(page.nWidth), h = size_t(page.nHeight), row = depth == 8 ? w : 3 * w;
  if (size_t(page.nBytesPerLine) < row || page.nBytesPerLine <= 0) return false;
  if (page.nImageSize > 0 && size_t(page.nImageSize) < size_t(page.nBytesPerLine) * (h - 1) + row) return false;
  return (depth == 8 ? (w + 6) * (h + 6) : 3 * w * h) <= UINT32_MAX;
}

// The record of the caller's page, without its pixels.
void DescribeP2IIMG(const _P2IIMG& page, I3ipImageInfo& info) {
  info.Size = 40;
  info.Bpp = uint8_t(page.nBitsPerPixel);
  info.Boundary = 1;
  info.Dpi = uint16_t(page.nXResolution);
  info.Width = uint32_t(page.nWidth);
  info.Height = uint32_t(page.nHeight);
}

// The copy of the caller's page; Data stays null for another depth, a record
// whose rows do not fit its own sizes, or no memory.
void CreateP2IIMGToI3ipImageInfo(const _P2IIMG& page, Image& copy) {
  I3ipImageInfo& info = copy.info;
  DescribeP2IIMG(page, info);
  if (!Readable(page)) return;
  const int depth = page.nBitsPerPixel;
  const size_t w = size_t(page.nWidth), h = size_t(page.nHeight), row = depth == 8 ? w : 3 * w;
  const size_t bytes = depth == 8 ? (w + 6) * (h + 6) : 3 * w * h;
  info.Bpl = uint32_t(row);
  info.DataSize = uint32_t(bytes);
  auto* data = static_cast<unsigned char*>(std::calloc(bytes, 1));
  if (!data) return;
  for (size_t y = 0; y < h; ++y) std::memcpy(data + y * row, page.pImageData + y * size_t(page.nBytesPerLine), row);
  info.Data = data;
}

// A new grey image of the same size, for the caller to fill; Data null when
// memory is short.
void NewGrey(const I3ipImageInfo& like, Image& grey) {
  grey.info = I3ipImageInfo{};
  grey.info.Size = 40;
  grey.info.Bpp = 8;
  grey.info.Boundary = 1;
  grey.info.Dpi = like.Dpi;
  grey.info.Width = like.Width;
  grey.info.Height = like.Height;
  grey.info.Bpl = like.Width;
  grey.info.DataSize = like.Width * like.Height;
  const size_t n = size_t(like.Width) * like.Height;
  grey.info.Data = static_cast<unsigned char*>(std::malloc(n + 1));
  if (grey.info.Data) grey.info.Data[n] = 0;
}

template <int R, int G, int B, int Shift>
void ToGrey(const I3ipImageInfo& colour, const unsigned char* pixels, I3ipImageInfo& grey) {
  const size_t n = size_t(colour.Width) * colour.Height;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char* p = pixels + 3 * i;
    grey.Data[i] = uint8_t((R * p[0] + G * p[1] + B * p[2]) >> Shift);
  }
}

// The colour smoothing of a small colour page, then its grey version.
// `working` turns 8-bit on success; it stays 24-bit when the smoothing found
// no colour cluster.
int CleanUp(const I3ipImageInfo& image, Image& working, bool median) {
  I3Log(I3LOG_INFO, "%s mode=%d level=%d Binsens=%d bTD1=%d", kCleanUpTag, 0, 5, 0, median ? 1 : 0);
  const size_t w = image.Width, h = image.Height, bytes = 3 * w * h;
  I3ipImageInfo source = image;
  Image filtered;
  if (median) {
    filtered.info.Data = static_cast<unsigned char*>(std::malloc(bytes));
    if (!filtered.info.Data) return kNoMemory;
    // The frame the 3 x 3 window cannot reach keeps the source pixels.
    std::memcpy(filtered.info.Data, image.Data, bytes);
    if (w > 2 && h > 2)
      g_pfnFilterMedianC3(image.Data + 3 * w + 3, int(3 * w), filtered.info.Data + 3 * w + 3, int(3 * w),
                          IppiSize{int(w) - 2, int(h) - 2}, IppiSize{3, 3}, IppiPoint{1, 1});
    source.Data = filtered.info.Data;
  }
  Image smoothed;
  smoothed.info = source;
  smoothed.info.Data = static_cast<unsigned char*>(std::calloc(bytes, 1));
  smoothed.info.Bpl = uint32_t(3 * w);
  if (!smoothed.info.Data) return kNoMemory;
  const int rc = colorsmooth::i3ColorSmoothing(&source, 5, false, false, 0, &smoothed.info);
  filtered.Reset(nullptr);
  if (rc != colorsmooth::I3IP_BCSMTH_SUCCESS) {
    I3Log(I3LOG_ERROR, "%s i3ColorSmoothing=%d", kCleanUpTag, rc);
    if (rc == colorsmooth::I3IP_BCSMTH_INVALID_PARAM) return kSmoothingRefused;
    if (rc == colorsmooth::I3IP_BCSMTH_NO_MEMORY) return kNoMemory;
    return kOk;
  }
  Image grey;
  NewGrey(image, grey);
  if (!grey.info.Data) return kNoMemory;
  ToGrey<306, 601, 117, 10>(image, smoothed.info.Data, grey.info);
  working.Reset(grey.info.Data);
  working.info = grey.info;
  grey.info.Data = nullptr;
  return kOk;
}

int Process(_P2IIMG* page, int* out) {
  I3Log(I3LOG_TRACE, "%s start", kEntryTag);
  if (!page || !out) return kInvalid;
  Image copy;
  DescribeP2IIMG(*page, copy.info);
  if (!Readable(*page)) return kInvalid;
  // Sizes in hundredths of a millimetre; a record without a resolution is
  // no card (and its sizes are never divided out). Below 10101 is what the
  // whole hundredths up to 10100 are.
  bool card = false;
  if (copy.info.Bpp == 24 && copy.info.Dpi > 0) {
    const float wide = float(copy.info.Width) / copy.info.Dpi, tall = float(copy.info.Height) / copy.info.Dpi;
    card = double(wide) * 25.4 * 100 < 10101.0 && double(tall) * 25.4 * 100 < 10101.0;
  }
  // A larger colour page goes grey straight from the caller's rows: a copy
  // of it would be read once, by that conversion, and never again.
  const bool direct = copy.info.Bpp == 24 && !card;
  if (!direct) {
    CreateP2IIMGToI3ipImageInfo(*page, copy);
    if (!copy.info.Data) return kInvalid;
  }
  gSmoothingFlag = 0;
  gccth = 0;
  // `working` owns only a grey image made here; the copy keeps its own.
  Image made;
  std::unique_ptr<turnsense::PageBlock> greyBlock;
  I3ipImageInfo greyInfo{};
  I3ipImageInfo* working = &copy.info;
  if (copy.info.Bpp == 24) {
    if (card) {
      const int rc = CleanUp(copy.info, made, gTD1_Card_mode == 2);
      if (rc != kOk) {
        I3Log(I3LOG_ERROR, "%s CleanUp ErrorCode = %d", kEntryTag, rc);
        return rc;
      }
      if (made.info.Data) working = &made.info;
    } else {
      // The grey page is a kept block: the next page of this size finds it
      // mapped. One byte past the page, as NewGrey's, stays 0.
      const size_t n = size_t(copy.info.Width) * copy.info.Height;
      try {
        greyBlock.reset(new turnsense::PageBlock(n + 1));
      } catch (const std::bad_alloc&) {
        out[0] = 0;
        out[1] = -1;
        return kNoMemory;
      }
      greyInfo = copy.info;
      greyInfo.Bpp = 8;
      greyInfo.Bpl = copy.info.Width;
      greyInfo.DataSize = copy.info.Width * copy.info.Height;
      greyInfo.Data = greyBlock->get();
      greyInfo.Data[n] = 0;
      turnsense::GreyRows(page->pImageData, size_t(page->nBytesPerLine), greyInfo.Data, copy.info.Width,
                          copy.info.Height);
      working = &greyInfo;
    }
    if (working->Bpp != 8) {
      I3Log(I3LOG_ERROR, "%s not-gray-image %d", kEntryTag, int(working->Bpp));
      return kSkip;
    }
  }
  // The grey page handed on is the unit's own, released unread after the
  // driver: the driver may spend it as its work copy.
  int direction = -1, confidence = 0, language = -1;
  long start = long(std::clock());
  const int rc = auto_page_direction_detection_Pavix3(gOcrEngine, nullptr, working->Data, nullptr, int(working->Width),
                                                      int(working->Height), int(working->Bpl), working->Dpi, 0.5f,
                                                      nullptr, &direction, &confidence, nullptr, start, nullptr,
                                                      nullptr, 0, &language, working->Bpl == working->Width);
  if (rc == 0xffff) return kNoMemory;
  out[0] = turnsense::UnitQuarterTurn(direction, confidence);
  out[1] = language;
  return kOk;
}

}  // namespace

extern "C" DRAVN_EXPORT int I3ipIpunitProcess_Turnsense(_P2IIMG* page, int* out) {
  try {
    return Process(page, out);
  } catch (const std::bad_alloc&) {
    I3Log(I3LOG_ERROR, "%s bad memory allocation", kEntryTag);
    return kNoMemory;
  } catch (...) {
    return kNoMemory;
  }
}

extern "C" DRAVN_EXPORT int i3ColorSmoothing(I3ipImageInfo* src, int smoother, bool whiteBackground,
                                             bool removeBackground, int binsens, I3ipImageInfo* dst) {
  return colorsmooth::i3ColorSmoothing(src, smoother, whiteBackground, removeBackground, binsens, dst);
}

namespace {
const bool kSmoothingLogs = (colorsmooth::g_pfnLog = &I3Log, true);
}
