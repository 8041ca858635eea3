// The catalogue is constexpr data in the header; compiling the header on its
// own here keeps it self-contained for every deliverable that includes it.
#include "model_catalog.h"
