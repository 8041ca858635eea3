// The library's Brenna device object: the 12-byte CDB protocol by control
// transfer. Only TEST UNIT READY is answered here; the maintenance requests
// of the family come with the maintenance back-ends.
#ifndef DRAVN_DEVWATCH_BRENNA_FUNC_H
#define DRAVN_DEVWATCH_BRENNA_FUNC_H

namespace devwatch {

class CBrennaScanFunc {
 public:
  int CommandExec(const unsigned char* cdb, unsigned char* buffer, unsigned length);
};

}  // namespace devwatch

#endif
