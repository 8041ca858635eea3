#include "brenna_func.h"

namespace devwatch {

int CBrennaScanFunc::CommandExec(const unsigned char* cdb, unsigned char* buffer, unsigned /*length*/) {
  if (cdb == nullptr) return 0;
  if (cdb[0] == 0x00) return 1;  // the device has no such command: it is ready when it answers at all
  if (buffer == nullptr) return 0;
  return 0;
}

}  // namespace devwatch
