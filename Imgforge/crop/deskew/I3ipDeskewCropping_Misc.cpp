// The deskew-and-crop engine's sine/cosine table, exported as gSinCos so
// that an outside caller can see it released after every call.
#include <cmath>
#include <cstdlib>

#include "I3ipDeskewCropping.h"
#include "dravn_export.h"

DRAVN_EXPORT i3ipdc::_SINCOS_DC* gSinCos = nullptr;

namespace i3ipdc {

_SINCOS_DC*& SinCosTable() { return gSinCos; }

int CreateSinCosTable() {
  if (gSinCos) return kOk;
  auto* t = static_cast<_SINCOS_DC*>(std::calloc(1801, sizeof(_SINCOS_DC)));
  if (!t) return kNoMemory;
  t[0] = {0.0, 1.0};
  for (int j = 1; j <= 1800; ++j) ::sincos(j * M_PI / 1800, &t[j].dSin, &t[j].dCos);
  gSinCos = t;
  return kOk;
}

void FreeSinCosTable() {
  std::free(gSinCos);
  gSinCos = nullptr;
}

}  // namespace i3ipdc
