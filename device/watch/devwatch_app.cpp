#include "devwatch_app.h"

namespace devwatch {

// Built when the library loads, so that the device list exists before the
// first call.
CDevwatchApp theApp;

}  // namespace devwatch
