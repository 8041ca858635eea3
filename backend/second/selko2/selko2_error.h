// The Selko2 class's last-error codes and what each turns into: the SANE
// status, the error-code byte and the sense triple of the status file.
#ifndef DRAVN_SECOND_SELKO2_ERROR_H
#define DRAVN_SECOND_SELKO2_ERROR_H

#include <sane/sane.h>

#include <cstdint>

enum : uint32_t {
  SELKO2_ERR_NONE = 0,
  SELKO2_ERR_BUSY = 11,
  SELKO2_ERR_UNSUPPORTED = 15,
  SELKO2_ERR_SEND = 23,
  SELKO2_ERR_RECEIVE = 24,
  SELKO2_ERR_PARAM = 32,
  SELKO2_ERR_NO_MEMORY = 33,
  SELKO2_ERR_STATUS_FILE = 34,
  SELKO2_ERR_LOCKED_BY_OTHER = 35,
  SELKO2_ERR_COMMAND = 4096,
  SELKO2_ERR_END_OF_SIDE = 4101,
  SELKO2_ERR_END_OF_SIDE_NO_PAPER = 4102,
  SELKO2_ERR_COVER_OPEN = 8201,
  SELKO2_ERR_NO_PAPER = 8206,
  SELKO2_ERR_CANCELLED = 16385,
};

// One row of the translation table. hasSense false leaves the sense record
// zero; errorLog also writes the code to the error log file.
struct Selko2ErrorRow {
  uint32_t code;
  SANE_Status status;
  uint8_t errorCode;
  bool hasSense;
  uint8_t key, asc, ascq;
  bool errorLog;
};

// The row of a code; codes not listed share the row of "any other".
const Selko2ErrorRow& FindSelko2ErrorRow(uint32_t code);

// The 26-byte sense record: a first 32-bit of 4, then SCSI fixed-format
// sense data from byte 8.
struct Selko2SenseRecord {
  unsigned char bytes[26];
};

#endif
