// Run-time binding of the image libraries that the second backend uses.
// Each pointer is null until bound; callers test it before use.
#ifndef DRAVN_COMMON_IMAGE_LIBS_H
#define DRAVN_COMMON_IMAGE_LIBS_H

#include <sane/sane.h>

#include "I3ipImageInfo.h"
#include "dravn_paths.h"

// Records of libimgforge's interface; only pointers to them cross here.
struct fsipctl_request;
struct fsipctl_image;
struct FSIP_S_IMAGEINFO;
struct FSIP_S_IMAGEFILTER;
struct FSIP_S_DROPOUTCOLOREX;
struct _P2IIMG;

typedef int (*BPD_FUNCTION)(struct _P2IIMG* page, int* level, void* reserved1, void* reserved2);
typedef int (*FSIPCTL_FUNCTION)(struct fsipctl_request* request, struct fsipctl_image* input,
                                struct fsipctl_image* result, unsigned char* lut);
typedef int (*FSIPIMAGEFILTER_FUNCTION)(struct FSIP_S_IMAGEINFO* in, struct FSIP_S_IMAGEFILTER* filter,
                                        struct FSIP_S_IMAGEINFO* out, const void* reserved);
typedef int (*FSIP_DROPOUTCOLOREX_FUNCTION)(struct FSIP_S_IMAGEINFO* in, struct FSIP_S_DROPOUTCOLOREX* params,
                                            struct FSIP_S_IMAGEINFO* out, const void* reserved);
typedef void (*FSIP_FREESINCOS_FUNCTION)(void);
typedef int (*MERGEIMAGE_FUNCTION)(I3ipImageInfo* first, I3ipImageInfo* second, int layout, int flip, int fill,
                                   I3ipImageInfo* out);
typedef int (*BGSMOOTHING_FUNCTION)(I3ipImageInfo* in, int mode, int cleanness, I3ipImageInfo* out);
typedef int (*SPLIT_FUNCTION)(I3ipImageInfo* in, I3ipImageInfo* upper, I3ipImageInfo* lower);
typedef int (*TURNSENSE_FUNCTION)(struct _P2IIMG* page, int* results);
typedef int (*BINAUTO_FUNCTION)(I3ipImageInfo* in, I3ipImageInfo* out, int sensitivity, int background, int cropped);

// libimgforge: every entry optional.
extern void* g_hLibKeloImage;
extern BPD_FUNCTION g_BPDFunction;  // the blank-page judge; bound only to offer its options
extern FSIPCTL_FUNCTION g_FSIPCTLFucntion;
extern FSIPIMAGEFILTER_FUNCTION g_FSIPIMAGEFILTERFunction;
extern FSIP_DROPOUTCOLOREX_FUNCTION g_FSIP_DROPOUTCOLOREXFunction;
extern FSIP_FREESINCOS_FUNCTION g_FSIP_FREESINCOS;
extern MERGEIMAGE_FUNCTION g_MergeImageFunction;

extern void* g_hLibToneflat;
extern BGSMOOTHING_FUNCTION g_BGSmoothingFunction;
// Optional: a libtoneflat that exports the units' ready flag is used only
// once the flag says so; one without the flag is ready when loaded.
extern unsigned char* g_pToneflatInitialized;

extern void* g_hLibRotation;
extern SPLIT_FUNCTION g_SplitFunction;

// The units' one-byte ready flags, read before every call of the unit.
extern void* g_hLibTurnsense3;
extern unsigned char* g_pTurnsense3Initialized;
extern TURNSENSE_FUNCTION g_TurnsenseFunction;

extern void* g_hLibBinarization;
extern unsigned char* g_pBinarizationInitialized;
extern BINAUTO_FUNCTION g_BinAutoFunction;

// Whether the smoothing unit can clean a page now.
bool IsToneflatReady();
// Whether the automatic binarization unit can binarize a page now.
bool IsBinarizationReady();

// libDir is the package's library directory; tests point it elsewhere.
// traceOnly: every message at trace level (the main backend's form).
void LoadLibFunc(const char* libDir = DRAVN_LIB_DIR, bool traceOnly = false);
bool LoadLibToneflat(const char* libDir = DRAVN_LIB_DIR);
bool LoadLibRotation(const char* libDir = DRAVN_LIB_DIR);
bool LoadI3ipOrientation3(const char* libDir = DRAVN_LIB_DIR);
bool LoadI3ipBinarization(const char* libDir = DRAVN_LIB_DIR);

void UnLoadLibFunc();
void UnLoadLibToneflat();
void UnLoadLibRotation();
void UnLoadI3ipOrientation3();
void UnLoadI3ipBinarization();

// The second backend's init: libjpeg (its result in g_bLibjpeg), then the
// loaders above in order; SANE_STATUS_IO_ERROR at the first required
// library that fails, leaving bound what was bound.
SANE_Status LoadImageLibraries(const char* libDir = DRAVN_LIB_DIR);
// Its exit: unbinds in the order libimgforge, libjpeg, libtoneflat,
// librotation, libturnsense3, libbinarization.
void UnLoadImageLibraries();

#endif
