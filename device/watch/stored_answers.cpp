#include "stored_answers.h"

#include <algorithm>
#include <cstring>

namespace devwatch {
namespace {

constexpr size_t kProductAt = 16, kProductChars = 16;

const unsigned char kStandard[STORED_STANDARD_SIZE] = {
    0x06, 0x00, 0x02, 0x02, 0x5B, 0x00, 0x00, 0x00, 'M', 'O', 'R', 'A', 'N', 'T', 'I', ' ', ' ', ' ',
    ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', '0', '1', '0', '0'};
// Header of page 0xF0 and the byte that tells the families apart.
const unsigned char kGenericVpd[STORED_VPD_SIZE] = {0x06, 0xF0, 0x00, 0x8C, 0x10, 0x01};
const unsigned char kSelko2Vpd[STORED_VPD_SIZE] = {0x06, 0xF0, 0x00, 0x8C, 0x13, 0x01};

}  // namespace

void CopyStoredStandard(const char* deviceName, unsigned char* out, unsigned length) {
  unsigned char answer[STORED_STANDARD_SIZE];
  memcpy(answer, kStandard, sizeof answer);
  // The whole model text, as far as the 16-character product field takes
  // it: a shorter cut would name another model, or none.
  if (deviceName) memcpy(answer + kProductAt, deviceName, std::min(strcspn(deviceName, ":"), kProductChars));
  memcpy(out, answer, std::min(length, STORED_STANDARD_SIZE));
}

void CopyStoredVpd(WatchRoute family, unsigned char* out, unsigned length) {
  memcpy(out, family == WatchRoute::Selko2 ? kSelko2Vpd : kGenericVpd, std::min(length, STORED_VPD_SIZE));
}

}  // namespace devwatch
