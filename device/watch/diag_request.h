// The diagnostic requests that the Selko, Selko2 and Brenna families answer
// themselves: which text a request (or the request kept for the next
// receive) is, the image a write text carries, and the kept copy.
#ifndef DRAVN_DEVWATCH_DIAG_REQUEST_H
#define DRAVN_DEVWATCH_DIAG_REQUEST_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace devwatch {

inline bool IsText(const unsigned char* request, const char* text) { return memcmp(request, text, 16) == 0; }

// A kept request is compared over its own length, at most the text's 16.
inline bool IsText(const std::vector<unsigned char>& kept, const char* text) {
  return !kept.empty() && memcmp(kept.data(), text, std::min<size_t>(kept.size(), 16)) == 0;
}

inline bool IsWriteText(const unsigned char* request) {
  return IsText(request, "DEBUG,E2T,WRT   ") || IsText(request, "DEBUG,E2T,WRT  W");
}

inline bool IsReadText(const std::vector<unsigned char>& kept) {
  return IsText(kept, "DEBUG,E2T,RED   ") || IsText(kept, "DEBUG,E2T,RED  W");
}

// The image of a write text: *declared bytes from byte 20, the big-endian
// 32-bit length at bytes 16-19. False when the request is shorter than
// that: the length it claims must lie within what came.
bool WriteImageLength(const unsigned char* request, unsigned length, uint32_t* declared);

// False when there is no memory for the copy.
inline bool KeepRequest(std::vector<unsigned char>& kept, const unsigned char* request, unsigned length) {
  try {
    kept.assign(request, request + length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace devwatch

#endif
