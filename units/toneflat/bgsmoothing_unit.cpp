// Background smoothing unit. The smoothing is not built yet: the unit stays
// "not ready" (gInitialized 0) so that the second backend neither offers
// colour cleanup nor calls it, and a call answers the bad-argument code.
#include "dravn_export.h"

extern "C" {
DRAVN_EXPORT unsigned char gInitialized = 0;

DRAVN_EXPORT int I3ipIpunitProcess_BGSmoothing(void*, int, int, void*) { return 36; }
}
