#include "stored_answers.h"

#include <algorithm>
#include <cstring>

namespace devwatch {
namespace {

const unsigned char kStandard[STORED_STANDARD_SIZE] = {
    0x06, 0x00, 0x02, 0x02, 0x5B, 0x00, 0x00, 0x00, 'M', 'O', 'R', 'A', 'N', 'T', 'I', ' ', ' ', ' ',
    ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', '0', '1', '0', '0'};
// Header of page 0xF0 and the byte that tells the families apart.
const unsigned char kGenericVpd[STORED_VPD_SIZE] = {0x06, 0xF0, 0x00, 0x8C, 0x10, 0x01};
const unsigned char kSelko2Vpd[STORED_VPD_SIZE] = {0x06, 0xF0, 0x00, 0x8C, 0x13, 0x01};

}  // namespace

void CopyStoredStandard(const char* name, size_t nameChars, unsigned char* out, unsigned length) {
  unsigned char answer[STORED_STANDARD_SIZE];
  memcpy(answer, kStandard, sizeof answer);
  if (name) memcpy(answer + 16, name, strnlen(name, nameChars));
  memcpy(out, answer, std::min(length, STORED_STANDARD_SIZE));
}

void CopyStoredVpd(WatchRoute family, unsigned char* out, unsigned length) {
  memcpy(out, family == WatchRoute::Selko2 ? kSelko2Vpd : kGenericVpd, std::min(length, STORED_VPD_SIZE));
}

}  // namespace devwatch
