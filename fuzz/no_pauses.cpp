// What the code under test may not do to a fuzz run. Its pauses end at once:
// a run is about the bytes it reads, and a device or daemon that is waited
// for here never comes (sleep() stays: libFuzzer's own threads rely on it).
// The libraries it loads stay loaded: libFuzzer keeps counting in them.
#include <unistd.h>

extern "C" int usleep(useconds_t) { return 0; }
extern "C" int dlclose(void*) { return 0; }
