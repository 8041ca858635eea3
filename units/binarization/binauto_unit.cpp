// Automatic binarization unit. The engine is not built yet: the unit stays
// "not ready" (gInitialized 0) so that the second backend skips the step, and
// a call answers the bad-argument code.
#include "dravn_export.h"

extern "C" {
DRAVN_EXPORT unsigned char gInitialized = 0;

DRAVN_EXPORT int I3ipIpunitProcess_BinAuto(void*, void*, int, int, int) { return 36; }
}
