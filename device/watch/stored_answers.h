// Inquiry answers kept in the library for the scanners that have no SCSI
// inquiry: the standard answer, whose product field carries the front of
// the device string, and the vendor page 0xF0, one per family object.
#ifndef DRAVN_DEVWATCH_STORED_ANSWERS_H
#define DRAVN_DEVWATCH_STORED_ANSWERS_H

#include <cstddef>

#include "watch_table.h"

namespace devwatch {

constexpr unsigned STORED_STANDARD_SIZE = 96;
constexpr unsigned STORED_VPD_SIZE = 144;

// Copies at most `length` bytes of the standard answer, whose product field
// (bytes 16-31) carries the model text of `deviceName` (when not null).
void CopyStoredStandard(const char* deviceName, unsigned char* out, unsigned length);
// Copies at most `length` bytes of the family object's page 0xF0.
void CopyStoredVpd(WatchRoute family, unsigned char* out, unsigned length);

}  // namespace devwatch

#endif
