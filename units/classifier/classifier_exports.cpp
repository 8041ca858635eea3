// The engine's exported data. Compiled into each library that carries the
// engine (not taken from its archive, whose symbols stay hidden).
#include "cnn_classifier.h"
#include "dravn_export.h"
#include "vomb_cnn.h"

DRAVN_EXPORT pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;

namespace cnn {
DRAVN_EXPORT pthread_mutex_t* m_hMutex = nullptr;  // kept beside the lock; nothing uses it
}

DRAVN_EXPORT const char* CATEGORY[25] = {"Arabic0",    "Arabic180",    "CJ0",         "CJ90",          "CJ180",
                                         "CJ270",      "Cyril0",       "Cyril180",    "Korean0",       "Korean180",
                                         "Latin0",     "Latin180",     "THAI0",       "THAI180",       "Dotbold0",
                                         "Dotbold180", "Digital0",     "Digital180",  "Upper0",        "Upper180",
                                         "Dotmatrix0", "Dotmatrix180", "DotmatrixW0", "DotmatrixW180", "Background"};
