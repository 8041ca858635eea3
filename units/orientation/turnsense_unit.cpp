// Orientation unit. The engine is not built yet: the unit stays "not ready"
// (gInitialized 0) so that the second backend leaves pages unturned.
#include "dravn_export.h"

extern "C" {
DRAVN_EXPORT unsigned char gInitialized = 0;

DRAVN_EXPORT int I3ipIpunitProcess_Turnsense(void*, int*) { return 36; }
}
