// What the code under test may not do to a fuzz run. Its pauses end at once:
// a run is about the bytes it reads, and a device or daemon that is waited
// for here never comes (scripts/fuzz turns off libFuzzer's memory thread
// and starts its workers itself, without the -jobs parent that waits in
// sleep()). The libraries it loads stay loaded:
// libFuzzer keeps counting in them.
#include <unistd.h>

// Seen by the libraries the program loads as well as by its own code.
#define STUB extern "C" __attribute__((visibility("default")))

STUB int usleep(useconds_t) { return 0; }
STUB unsigned sleep(unsigned) { return 0; }
STUB int dlclose(void*) { return 0; }
