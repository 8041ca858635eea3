// The common course of the diagnostic entries: a clear code, checks, open,
// TEST UNIT READY, the exchange, close; and the sub-command texts.
#ifndef DRAVN_DEVWATCH_DVWC_DIAG_H
#define DRAVN_DEVWATCH_DVWC_DIAG_H

#include <algorithm>
#include <cstring>
#include <vector>

#include "diag_request.h"
#include "dvwc_entry.h"
#include "model_groups.h"

namespace devwatch {

using Bytes = std::vector<unsigned char>;

inline Bytes Text(const char* text) { return Bytes(text, text + kDiagTextSize); }

inline Bytes Text(const char* text, unsigned char parameter) {
  Bytes b = Text(text);
  b.push_back(parameter);
  return b;
}

// Every entry starts from a clear code, so that an old failure never turns
// a later success into one.
template <typename F>
int Diagnose(const char* device, int readyChecks, F exchange) {
  return Guard([&] {
    SetError(DVWC_ERR_NONE);
    if (!device) return SetError(DVWC_ERR_ARGUMENT), 0;
    DeviceSession session(Ctrl());
    if (!OpenListed(device, session)) return 0;
    for (int i = 0; i < readyChecks; ++i)
      if (!Ctrl().TestUnitReady()) return 0;
    exchange();
    return Error() == DVWC_ERR_NONE ? 1 : 0;
  });
}

inline void Send(Bytes request) {
  if (request.size() > 0xFFFF) return SetError(DVWC_ERR_ARGUMENT);
  // The families that answer a write text themselves take its image length
  // from bytes 16-19: a length past what came is the caller's fault.
  const MQ_DEVICE_ENTRY* entry = Ctrl().CurrentEntry();
  uint32_t declared = 0;
  if (entry && entry->eRoute != WatchRoute::Generic && request.size() >= kDiagTextSize &&
      IsWriteText(request.data()) &&
      !WriteImageLength(request.data(), static_cast<unsigned>(request.size()), &declared))
    return SetError(DVWC_ERR_ARGUMENT);
  if (!Ctrl().SendDiagnostic(request.data(), static_cast<unsigned short>(request.size())))
    SetError(DVWC_ERR_COMMAND);
}

// The answer lands in a zeroed buffer of at least 16 bytes, reaches the
// caller only when everything before it went well.
inline void Receive(unsigned char* buffer, unsigned short size) {
  if (Error() != DVWC_ERR_NONE) return;
  Bytes work(std::max<size_t>(size, kDiagTextSize), 0);
  if (!Ctrl().ReceiveDiagnosticResult(work.data(), size)) return SetError(DVWC_ERR_COMMAND);
  memcpy(buffer, work.data(), size);
}

}  // namespace devwatch

#endif
