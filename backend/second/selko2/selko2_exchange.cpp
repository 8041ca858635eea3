// The Selko2 exchange steps: command block with status, data out, data in.
#include "selko2_exchange.h"

#include <libusb.h>

namespace {

constexpr int kGetDataFailures = 1000;

// Reads until `length` bytes came; false at the first failed read, or after
// `failures` reads that brought nothing.
bool ReadAll(Selko2Transport& transport, unsigned char* data, uint32_t length, int failures) {
  uint32_t got = 0;
  int failed = 0;
  while (got < length) {
    int n = transport.BulkIn(data + got, length - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n) < length - got ? static_cast<uint32_t>(n) : length - got;
      continue;
    }
    if (n == LIBUSB_ERROR_NO_DEVICE || n == LIBUSB_ERROR_TIMEOUT || ++failed >= failures) return false;
  }
  return true;
}

}  // namespace

bool Selko2SendCommand(Selko2Transport& transport, const _FCL_CMD& command, unsigned char* status, size_t statusSize) {
  if (!status || !transport.BulkOut(command.bytes, sizeof command.bytes)) return false;
  return ReadAll(transport, status, static_cast<uint32_t>(statusSize), 1);
}

bool Selko2SendData(Selko2Transport& transport, const unsigned char* data, uint32_t length) {
  return data != nullptr && transport.BulkOut(data, length);
}

bool Selko2GetData(Selko2Transport& transport, unsigned char* data, uint32_t length) {
  return data != nullptr && ReadAll(transport, data, length, kGetDataFailures);
}
