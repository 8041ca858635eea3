// The steps every Selko2 exchange is made of (command block and status,
// data out, data in) over any bulk transport, for the components that talk
// to a Selko2 scanner through a USB layer of their own.
#ifndef DRAVN_SECOND_SELKO2_EXCHANGE_H
#define DRAVN_SECOND_SELKO2_EXCHANGE_H

#include <cstddef>
#include <cstdint>

#include "selko2_command.h"

class Selko2Transport {
 public:
  virtual ~Selko2Transport() = default;
  // One bulk OUT transfer; true when every byte went.
  virtual bool BulkOut(const unsigned char* data, uint32_t length) = 0;
  // One bulk IN transfer of at most `length` bytes: the count, or a
  // negative LIBUSB_ERROR_* code.
  virtual int BulkIn(unsigned char* data, uint32_t length) = 0;
  // Ends whatever exchange the device was in (a port reset), so that the
  // next command is taken as one; false when that cannot be done.
  virtual bool ResetPipe() { return false; }
};

// The block out, then its status record (32 bytes, or 108 for the extended
// status) read until all of it came; a failed read ends the exchange.
bool Selko2SendCommand(Selko2Transport& transport, const _FCL_CMD& command, unsigned char* status, size_t statusSize);
bool Selko2SendData(Selko2Transport& transport, const unsigned char* data, uint32_t length);
// Reads `length` bytes; a read that brings nothing is tried again, up to
// 1000 failures, but a device that is gone or stayed silent for a whole
// time-out ends it at once.
bool Selko2GetData(Selko2Transport& transport, unsigned char* data, uint32_t length);

#endif
