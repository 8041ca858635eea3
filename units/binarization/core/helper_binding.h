// Run-time binding of the outside filter library libhelper.so, shared by the
// image units.
#ifndef DRAVN_HELPER_BINDING_H
#define DRAVN_HELPER_BINDING_H

#include "i3helper.h"

struct I3HelperBinding {
  void* handle = nullptr;
  I3Helper_Unused_t SumFilter8u = nullptr;
  I3Helper_Unused_t BinarizeTo8u = nullptr;
  I3Helper_BinarizeTo8uCombined_t BinarizeTo8uCombined = nullptr;
  I3Helper_Unused_t GetEdgeThreshold16s8u = nullptr;
  I3Helper_GetEdgeThreshold8u8u_t GetEdgeThreshold8u8u = nullptr;
  I3Helper_Unused_t SumFilter8u16s = nullptr;
  I3Helper_InitIPP_t InitIPP = nullptr;
  I3Helper_FreeIPP_t FreeIPP = nullptr;
};

// The unit's binding (process-wide, like the unit itself).
extern I3HelperBinding g_i3Helper;

// Result codes of the binding.
enum {
  kI3HelperOk = 0,
  kI3HelperInitFailed = 53,
  kI3HelperLoadFailed = 55,
  kI3HelperEntryMissingBinarization = 60,
  kI3HelperEntryMissingOrientation = 129,
};

// Opens `path` (immediate, deep binding), looks up the eight names and
// initialises the library. A missing name closes it and answers
// `missingCode` (each unit has its own); a failed initialisation answers 53
// and leaves the library open.
int LoadI3Helper(const char* path, int missingCode);
// The binarization unit's library: "libhelper.so" of the package's lib directory.
int LoadI3HelperBinarization();
// Frees and closes the library when bound; every pointer is cleared.
void UnloadI3Helper();

#endif
