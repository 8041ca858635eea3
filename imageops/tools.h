// Shared plumbing of the entries: status numbers, headers over caller
// buffers, and the boundary that keeps exceptions inside the library.
#ifndef DRAVN_IMAGEOPS_TOOLS_H
#define DRAVN_IMAGEOPS_TOOLS_H

#include <opencv2/core.hpp>

#include "opcv.h"

namespace Tools {

typedef int16_t OSErr;
constexpr OSErr noErr = 0, paramErr = -50, memFullErr = -108;

IppStatus OSErrToIppStatus(OSErr err);
OSErr IppStatusToOSErr(IppStatus status);

// A header (no copy) over w x h pixels of `type` whose top-left pixel lies
// x, y pixels from `origin` (negative values reach left and up). paramErr
// for a null pointer, a non-positive or oversized area, or rows that do not
// fit the step; memFullErr when the header stays empty.
OSErr WrapArea(const void* origin, int step, int type, int x, int y, int64_t w, int64_t h, cv::Mat& out);

// malloc of height rows of width pixels of `pixelBytes` each, rows rounded
// up to 64 bytes and their length put in *step; null for a non-positive
// size or a null step pointer.
void* MallocRows(int width, int height, int pixelBytes, int* step);

// The status that the exception in flight stands for: memory faults -4,
// anything else -5. Call only inside a catch block.
IppStatus CaughtStatus() noexcept;

// Runs an entry's body; an exception becomes its status.
template <class Body>
IppStatus Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return CaughtStatus();
  }
}

// The same for entries that answer classic error numbers.
template <class Body>
OSErr GuardOSErr(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return IppStatusToOSErr(CaughtStatus());
  }
}

}  // namespace Tools

#endif
