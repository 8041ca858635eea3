// Orientation unit. The engine is not built yet: the unit stays "not ready"
// (gInitialized 0) so that the second backend leaves pages unturned. It
// already carries and exports the colour smoothing, which logs through the
// unit log.
#include "color_smoothing.h"
#include "dravn_export.h"
#include "unit_log.h"

namespace {
const bool kSmoothingLogs = (colorsmooth::g_pfnLog = &I3Log, true);
}

extern "C" {
DRAVN_EXPORT unsigned char gInitialized = 0;

DRAVN_EXPORT int I3ipIpunitProcess_Turnsense(void*, int*) { return 36; }

DRAVN_EXPORT int i3ColorSmoothing(I3ipImageInfo* src, int smoother, bool whiteBackground, bool removeBackground,
                                  int binsens, I3ipImageInfo* dst) {
  return colorsmooth::i3ColorSmoothing(src, smoother, whiteBackground, removeBackground, binsens, dst);
}
}
