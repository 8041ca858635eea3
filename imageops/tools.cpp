#include "tools.h"

#include <climits>
#include <cstdlib>
#include <new>

namespace Tools {

IppStatus OSErrToIppStatus(OSErr err) {
  if (err == 0) return ippStsNoErr;
  return err == memFullErr ? ippStsMemAllocErr : ippStsBadArgErr;
}

OSErr IppStatusToOSErr(IppStatus status) {
  if (status == ippStsNoErr) return noErr;
  return status == ippStsMemAllocErr ? memFullErr : paramErr;
}

OSErr WrapArea(const void* origin, int step, int type, int x, int y, int64_t w, int64_t h, cv::Mat& out) {
  if (!origin || w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX || step <= 0) return paramErr;
  const int64_t elem = CV_ELEM_SIZE(type);
  if (w * elem > step) return paramErr;
  auto* base =
      static_cast<const uint8_t*>(origin) + static_cast<ptrdiff_t>(y) * step + static_cast<ptrdiff_t>(x) * elem;
  out = cv::Mat(static_cast<int>(h), static_cast<int>(w), type, const_cast<uint8_t*>(base), static_cast<size_t>(step));
  return out.empty() ? memFullErr : noErr;
}

void* MallocRows(int width, int height, int pixelBytes, int* step) {
  if (width <= 0 || height <= 0 || !step) return nullptr;
  const int64_t rowBytes = (int64_t(width) * pixelBytes + 63) / 64 * 64;
  if (rowBytes > INT32_MAX) return nullptr;
  void* p = std::malloc(size_t(rowBytes) * size_t(height));
  if (p) *step = int(rowBytes);
  return p;
}

IppStatus CaughtStatus() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return ippStsMemAllocErr;
  } catch (const cv::Exception& e) {
    return e.code == cv::Error::StsNoMem ? ippStsMemAllocErr : ippStsBadArgErr;
  } catch (...) {
    return ippStsBadArgErr;
  }
}

}  // namespace Tools
