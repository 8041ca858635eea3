// The steps every Selko2 exchange is made of (command block and status,
// data out, data in) over any bulk transport, for the components that talk
// to a Selko2 scanner through a USB layer of their own.
#ifndef DRAVN_SECOND_SELKO2_EXCHANGE_H
#define DRAVN_SECOND_SELKO2_EXCHANGE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

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

// One bulk IN transfer as libusb makes it: its result code, and the bytes
// it brought in *count (a short or timed-out transfer may bring some).
using Selko2BulkRead = std::function<int(unsigned char* data, uint32_t length, int* count)>;

// When a data read gives up short of its length.
struct Selko2ReadRule {
  int tries;  // reads that brought nothing
  // Zero: the first time-out ends the read. Otherwise the time without a
  // byte that ends it, a time-out standing for at least timeoutMs.
  long long silenceMs = 0;
  unsigned timeoutMs = 0;
  // Set while a time-out comes: the read ends there.
  const std::atomic<uint32_t>* cancel = nullptr;
};

enum class Selko2ReadEnd { Full, Failed, Silent };

// Reads until `length` bytes came. A short transfer has already taken its
// bytes off the pipe: they are kept and only the rest is asked for, so the
// stream stays aligned. A device that is gone ends the read at once.
Selko2ReadEnd Selko2ReadFull(const Selko2BulkRead& read, unsigned char* data, uint32_t length,
                             const Selko2ReadRule& rule);

// The block out, then its status record (32 bytes, or 108 for the extended
// status) read until all of it came; a failed read ends the exchange.
bool Selko2SendCommand(Selko2Transport& transport, const _FCL_CMD& command, unsigned char* status, size_t statusSize);
bool Selko2SendData(Selko2Transport& transport, const unsigned char* data, uint32_t length);
// Reads `length` bytes; a read that brings nothing is tried again, up to
// 1000 failures, but a device that is gone or stayed silent for a whole
// time-out ends it at once.
bool Selko2GetData(Selko2Transport& transport, unsigned char* data, uint32_t length);

#endif
