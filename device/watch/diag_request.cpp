#include "diag_request.h"

namespace devwatch {

bool WriteImageLength(const unsigned char* request, unsigned length, uint32_t* declared) {
  if (length < 20) return false;
  *declared = static_cast<uint32_t>(request[16]) << 24 | static_cast<uint32_t>(request[17]) << 16 |
              static_cast<uint32_t>(request[18]) << 8 | request[19];
  return *declared <= length - 20;
}

}  // namespace devwatch
