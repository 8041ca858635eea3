// The Selko2 exchange steps: command block with status, data out, data in.
#include "selko2_exchange.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr int kGetDataFailures = 1000;

bool ReadAll(Selko2Transport& transport, unsigned char* data, uint32_t length, int failures) {
  const Selko2BulkRead read = [&transport](unsigned char* to, uint32_t size, int* count) {
    const int n = transport.BulkIn(to, size);
    *count = n > 0 ? n : 0;
    return n > 0 ? 0 : n;
  };
  return Selko2ReadFull(read, data, length, Selko2ReadRule{failures}) == Selko2ReadEnd::Full;
}

}  // namespace

Selko2ReadEnd Selko2ReadFull(const Selko2BulkRead& read, unsigned char* data, uint32_t length,
                             const Selko2ReadRule& rule) {
  uint32_t got = 0;
  int failures = 0;
  long long silentMs = 0;
  while (got < length) {
    int count = 0;
    const auto begin = std::chrono::steady_clock::now();
    const int result = read(data + got, length - got, &count);
    if (count > 0) {
      got += std::min(static_cast<uint32_t>(count), length - got);
      silentMs = 0;
    } else if (rule.silenceMs > 0) {
      long long spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
      if (result == LIBUSB_ERROR_TIMEOUT) spent = std::max<long long>(spent, rule.timeoutMs);
      silentMs += spent;
    }
    if (got == length) break;
    if (result == LIBUSB_ERROR_NO_DEVICE) return Selko2ReadEnd::Failed;
    // A cancelled read does not wait out a silent device try after try.
    if (result == LIBUSB_ERROR_TIMEOUT && (rule.silenceMs == 0 || (rule.cancel && rule.cancel->load())))
      return Selko2ReadEnd::Failed;
    if (rule.silenceMs > 0 && silentMs >= rule.silenceMs) return Selko2ReadEnd::Silent;
    if (count <= 0 && ++failures >= rule.tries) return Selko2ReadEnd::Failed;
  }
  return Selko2ReadEnd::Full;
}

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
