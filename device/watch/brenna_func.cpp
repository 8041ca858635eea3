#include "brenna_func.h"

namespace devwatch {

int CBrennaScanFunc::CommandExec(const unsigned char* cdb, unsigned char* buffer, unsigned /*length*/) {
  if (cdb == nullptr || (cdb[0] != 0x00 && buffer == nullptr)) return 0;
  // No such command on the device: a scanner that opened is ready. The
  // other requests are the maintenance back-end's.
  return cdb[0] == 0x00 ? 1 : 0;
}

}  // namespace devwatch
