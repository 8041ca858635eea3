// Background smoothing unit. The smoothing is not built yet: every call
// answers the bad-argument code and the caller keeps its page.
#include "dravn_export.h"

extern "C" DRAVN_EXPORT int I3ipIpunitProcess_BGSmoothing(void*, int, int, void*) { return 36; }
